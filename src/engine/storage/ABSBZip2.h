// The bzip2 side of buffer compression: block size in units of 100 000 bytes, verbosity 0,
// the default work factor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kova {

// nullopt when bzip2 produces nothing; raises 10092 "error %d" when the library fails.
// REQUIRES: 1 <= blockSize100k <= 9, length > 0.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> BZip2Compress(int blockSize100k, const std::uint8_t* input,
                                                                     std::size_t length);

// nullopt when the data is corrupt, incomplete or longer than `expectedLength`; raises 10092
// when the library itself fails.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> BZip2Decompress(const std::uint8_t* input,
                                                                       std::size_t length,
                                                                       std::size_t expectedLength);

} // namespace kova
