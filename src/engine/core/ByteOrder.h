// Little-endian reads and writes of the integer and float fields of the file format.
// The file is little-endian and packed; fields are decoded with explicit byte reads,
// never by casting structs over page bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace kova {

template <typename T>
[[nodiscard]] inline T ReadLE(const std::uint8_t* p) noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(std::endian::native == std::endian::little, "big-endian hosts are not supported");
    T value;
    std::memcpy(&value, p, sizeof(T));
    return value;
}

template <typename T>
inline void WriteLE(std::uint8_t* p, T value) noexcept {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(std::endian::native == std::endian::little, "big-endian hosts are not supported");
    std::memcpy(p, &value, sizeof(T));
}

[[nodiscard]] inline std::int16_t ReadI16(const std::uint8_t* p) noexcept { return ReadLE<std::int16_t>(p); }
[[nodiscard]] inline std::uint16_t ReadU16(const std::uint8_t* p) noexcept { return ReadLE<std::uint16_t>(p); }
[[nodiscard]] inline std::int32_t ReadI32(const std::uint8_t* p) noexcept { return ReadLE<std::int32_t>(p); }
[[nodiscard]] inline std::uint32_t ReadU32(const std::uint8_t* p) noexcept { return ReadLE<std::uint32_t>(p); }
[[nodiscard]] inline std::int64_t ReadI64(const std::uint8_t* p) noexcept { return ReadLE<std::int64_t>(p); }
[[nodiscard]] inline double ReadF64(const std::uint8_t* p) noexcept { return ReadLE<double>(p); }

inline void WriteI16(std::uint8_t* p, std::int16_t v) noexcept { WriteLE(p, v); }
inline void WriteU16(std::uint8_t* p, std::uint16_t v) noexcept { WriteLE(p, v); }
inline void WriteI32(std::uint8_t* p, std::int32_t v) noexcept { WriteLE(p, v); }
inline void WriteU32(std::uint8_t* p, std::uint32_t v) noexcept { WriteLE(p, v); }
inline void WriteI64(std::uint8_t* p, std::int64_t v) noexcept { WriteLE(p, v); }
inline void WriteF64(std::uint8_t* p, double v) noexcept { WriteLE(p, v); }

} // namespace kova
