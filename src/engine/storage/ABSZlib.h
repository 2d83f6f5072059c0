// The zlib side of buffer compression: deflate in the zlib format with window 15, memory
// level 8 and the default strategy, the whole input in one call with finish.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kova {

// nullopt when deflate produces nothing; raises 10091 "Compression Error %d" when zlib fails.
// REQUIRES: 0 <= level <= 9, length > 0.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ZlibCompress(int level, const std::uint8_t* input,
                                                                    std::size_t length);

// nullopt when the data is corrupt, incomplete or longer than `expectedLength`; raises 10091
// when zlib itself fails.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ZlibDecompress(const std::uint8_t* input, std::size_t length,
                                                                      std::size_t expectedLength);

} // namespace kova
