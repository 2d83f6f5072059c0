#include "engine/core/Crc32.h"

#include <zlib.h>

namespace kova {

// zlib's crc32 inverts the register on entry and exit; inverting around it gives the
// non-inverted register the file format uses, at zlib's (vectorised) speed.
std::uint32_t EngineCrc32(const void* data, std::size_t length, std::uint32_t crc) noexcept {
    const auto* bytes = static_cast<const Bytef*>(data);
    uLong register_ = ~crc & 0xFFFFFFFFu;
    while (length > 0) {
        const auto chunk = static_cast<uInt>(length > 0x40000000u ? 0x40000000u : length);
        register_ = crc32(register_, bytes, chunk);
        bytes += chunk;
        length -= chunk;
    }
    return static_cast<std::uint32_t>(~register_ & 0xFFFFFFFFu);
}

} // namespace kova
