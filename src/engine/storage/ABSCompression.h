// Buffer compression for table definitions and large values: the algorithm ids, their names,
// and one-shot compress / decompress of a whole buffer.
//
//   id 0  NONE  no compression (the compress and decompress calls refuse it)
//   id 1  ZLIB  deflate in the zlib format, level = mode
//   id 2  BZIP  bzip2, block size = mode × 100 000 bytes
//   id 3  PPM   known by name and id, but not supported: both calls raise 10090
//
// Failures of the data (corrupt input, output that does not fit, nothing produced) return
// nullopt so that each caller can raise the error that fits its context. Failures of the
// libraries themselves (out of memory, bad parameters) raise EABSException: 10091
// "Compression Error %d" for zlib, 10092 "error %d" for bzip2.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kova {

enum class CompressionAlgorithm : std::uint8_t { NONE = 0, ZLIB = 1, BZIP = 2, PPM = 3 };

inline constexpr std::uint8_t kCompressionNone = 0;
inline constexpr std::uint8_t kCompressionZlib = 1;
inline constexpr std::uint8_t kCompressionBZip = 2;
inline constexpr std::uint8_t kCompressionPPM = 3;

inline constexpr int kErrorPPMNotSupported = 10090;
inline constexpr int kErrorZlibLibrary = 10091;
inline constexpr int kErrorBZip2Library = 10092;

// The id of an algorithm name, compared after upper-casing ("zlib" → 1); 0 for unknown names.
[[nodiscard]] std::uint8_t CompressionAlgorithmByName(std::string_view name) noexcept;

// The engine's own name of an id ("NONE", "ZLIB", "BZIP", "PPM"); "NONE" for unknown ids.
[[nodiscard]] const char* CompressionAlgorithmName(std::uint8_t algorithm) noexcept;

// Compresses `length` bytes with `algorithm` at `mode` (1 … 9; 0 and larger values are brought
// into the algorithm's range). nullopt when the algorithm is 0 or unknown, the input is empty,
// or the compressor fails or produces nothing. Raises for PPM and for library failures.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> CompressBuffer(std::uint8_t algorithm, std::uint8_t mode,
                                                                      const std::uint8_t* input,
                                                                      std::size_t length);

// Decompresses `length` bytes into at most `expectedLength` bytes; the result has the real
// length, which may be shorter. nullopt on the same conditions as CompressBuffer, when the
// data is corrupt, or when it decompresses to more than `expectedLength` bytes.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> DecompressBuffer(std::uint8_t algorithm,
                                                                        const std::uint8_t* input,
                                                                        std::size_t length,
                                                                        std::size_t expectedLength);

} // namespace kova
