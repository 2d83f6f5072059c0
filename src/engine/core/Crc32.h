// The engine's checksum: reflected CRC-32 of polynomial 0xEDB88320, started from 0 and not
// inverted at the end. It guards page data, password check blocks and compressed blocks.
// (The usual CRC-32 starts from 0xFFFFFFFF and inverts its result; the two differ.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace kova {

// Continues the checksum `crc` over `length` bytes; start with 0.
[[nodiscard]] std::uint32_t EngineCrc32(const void* data, std::size_t length, std::uint32_t crc = 0) noexcept;

} // namespace kova
