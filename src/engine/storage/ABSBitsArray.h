// A growable array of bits with a running count of the set ones.
//
// Used for the used-page maps of the in-memory page managers and, through TABSRecordBitmap, for
// filter bitmaps (one bit per record position).
//
// Layout of the bytes (also the stream form after the two counts): bit i is bit (i mod 8), least
// significant first, of byte i div 8; ceil(bit count / 8) bytes. Bits beyond the bit count in the
// last byte are always 0.
//
// Stream form:
//   offset 0  int32  bit count
//   offset 4  int32  number of set bits
//   offset 8  ceil(bit count / 8) bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kova {

class TABSStream;

// 10395 "Invalid bit no = %d, number of bits = %d": a bit at or beyond the bit count.
inline constexpr int kInvalidBitNoError = 10395;

class TABSBitsArray {
public:
    TABSBitsArray() = default;
    // `bitCount` cleared bits. REQUIRES: bitCount >= 0.
    explicit TABSBitsArray(std::int32_t bitCount);

    [[nodiscard]] std::int32_t BitCount() const noexcept { return bitCount_; }
    [[nodiscard]] std::int32_t SetBitCount() const noexcept { return setCount_; }
    [[nodiscard]] std::int32_t ClearBitCount() const noexcept { return bitCount_ - setCount_; }

    // Grows (new bits cleared, old bits kept) or shrinks (bits beyond the new count dropped).
    // REQUIRES: bitCount >= 0.
    void Resize(std::int32_t bitCount);

    // Raise 10395 for bitNo < 0 or bitNo >= BitCount().
    [[nodiscard]] bool Get(std::int32_t bitNo) const;
    void Set(std::int32_t bitNo, bool value = true);
    void Clear(std::int32_t bitNo) { Set(bitNo, false); }
    // Sets or clears every bit.
    void Fill(bool value) noexcept;

    // Searches for a bit with `value` from `from` upwards (FindNext) or downwards (FindPrior),
    // `from` included; -1 when there is none. `from` outside 0 … BitCount()-1 is clamped into the
    // range for the direction of the search (nothing found when it lies beyond it).
    [[nodiscard]] std::int32_t FindNext(bool value, std::int32_t from) const noexcept;
    [[nodiscard]] std::int32_t FindPrior(bool value, std::int32_t from) const noexcept;
    [[nodiscard]] std::int32_t FindFirst(bool value) const noexcept { return FindNext(value, 0); }
    [[nodiscard]] std::int32_t FindLast(bool value) const noexcept { return FindPrior(value, bitCount_ - 1); }

    // Number of bits with `value` among bits 0 … bitNo - 1 (bitNo is clamped to 0 … BitCount()).
    [[nodiscard]] std::int32_t CountBefore(bool value, std::int32_t bitNo) const noexcept;

    [[nodiscard]] std::span<const std::uint8_t> Bytes() const noexcept { return bytes_; }

    // Appends the stream form at the stream's position; raises 10145 on a short write.
    void SaveToStream(TABSStream& stream) const;
    // Reads the stream form at the stream's position. Raises 10142 on a short read and 10398
    // "Invalid bits array" when the counts do not fit each other or the bytes.
    void LoadFromStream(TABSStream& stream);

    friend bool operator==(const TABSBitsArray&, const TABSBitsArray&) = default;

private:
    void CheckBitNo(std::int32_t bitNo) const;
    void ClearTail() noexcept;
    [[nodiscard]] std::int32_t Recount() const noexcept;

    std::int32_t bitCount_ = 0;
    std::int32_t setCount_ = 0;
    std::vector<std::uint8_t> bytes_;
};

} // namespace kova
