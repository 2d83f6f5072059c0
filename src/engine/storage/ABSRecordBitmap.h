// A filter bitmap: one bit per record position of a table (page number × records per page + slot),
// set when the record passed the filter, together with the table's change counter at the time it
// was computed. A bitmap whose counter differs from the table's is stale and must be recomputed.
#pragma once

#include "engine/storage/ABSBitsArray.h"

#include <cstdint>
#include <optional>

namespace kova {

// 10395 "Invalid bit no = %d, number of bits = %d" (from the bits array) for a position beyond the
// bitmap; positions that do not fit a bits array at all raise the same.
class TABSRecordBitmap {
public:
    TABSRecordBitmap() = default;
    // `positionCount` cleared bits (the table's positions 0 … positionCount - 1).
    TABSRecordBitmap(std::uint64_t positionCount, std::int32_t changeCounter);

    [[nodiscard]] std::uint64_t PositionCount() const noexcept { return static_cast<std::uint64_t>(bits_.BitCount()); }
    [[nodiscard]] std::int32_t ChangeCounter() const noexcept { return changeCounter_; }
    [[nodiscard]] bool IsCurrent(std::int32_t tableChangeCounter) const noexcept {
        return changeCounter_ == tableChangeCounter;
    }
    // Grows to cover at least `positionCount` positions (new ones cleared).
    void Cover(std::uint64_t positionCount);

    void Mark(std::uint64_t position, bool passed = true);
    [[nodiscard]] bool IsMarked(std::uint64_t position) const;
    // Number of records that passed.
    [[nodiscard]] std::uint64_t MarkedCount() const noexcept { return static_cast<std::uint64_t>(bits_.SetBitCount()); }
    // The next / prior passed position from `from` (inclusive); nothing when none.
    [[nodiscard]] std::optional<std::uint64_t> NextMarked(std::uint64_t from) const noexcept;
    [[nodiscard]] std::optional<std::uint64_t> PriorMarked(std::uint64_t from) const noexcept;
    // Passed positions before `position` (record numbers in a filtered physical order).
    [[nodiscard]] std::uint64_t MarkedBefore(std::uint64_t position) const noexcept;

    [[nodiscard]] const TABSBitsArray& Bits() const noexcept { return bits_; }

private:
    [[nodiscard]] static std::int32_t BitNo(std::uint64_t position);

    TABSBitsArray bits_;
    std::int32_t changeCounter_ = 0;
};

} // namespace kova
