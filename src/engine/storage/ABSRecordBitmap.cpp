#include "engine/storage/ABSRecordBitmap.h"

#include "engine/core/ABSExcept.h"

#include <limits>

namespace kova {

namespace {
constexpr std::uint64_t kMaxPositions = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
} // namespace

std::int32_t TABSRecordBitmap::BitNo(std::uint64_t position) {
    if (position >= kMaxPositions)
        RaiseError(kInvalidBitNoError, "Invalid bit no = %d, number of bits = %d",
                   {static_cast<long long>(position), static_cast<long long>(kMaxPositions)});
    return static_cast<std::int32_t>(position);
}

TABSRecordBitmap::TABSRecordBitmap(std::uint64_t positionCount, std::int32_t changeCounter)
    : changeCounter_(changeCounter) {
    Cover(positionCount);
}

void TABSRecordBitmap::Cover(std::uint64_t positionCount) {
    if (positionCount > kMaxPositions)
        (void)BitNo(positionCount);
    if (positionCount > PositionCount())
        bits_.Resize(static_cast<std::int32_t>(positionCount));
}

void TABSRecordBitmap::Mark(std::uint64_t position, bool passed) { bits_.Set(BitNo(position), passed); }

bool TABSRecordBitmap::IsMarked(std::uint64_t position) const { return bits_.Get(BitNo(position)); }

std::optional<std::uint64_t> TABSRecordBitmap::NextMarked(std::uint64_t from) const noexcept {
    if (from >= PositionCount())
        return std::nullopt;
    const std::int32_t bit = bits_.FindNext(true, static_cast<std::int32_t>(from));
    if (bit < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(bit);
}

std::optional<std::uint64_t> TABSRecordBitmap::PriorMarked(std::uint64_t from) const noexcept {
    if (PositionCount() == 0)
        return std::nullopt;
    const std::uint64_t start = from >= PositionCount() ? PositionCount() - 1 : from;
    const std::int32_t bit = bits_.FindPrior(true, static_cast<std::int32_t>(start));
    if (bit < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(bit);
}

std::uint64_t TABSRecordBitmap::MarkedBefore(std::uint64_t position) const noexcept {
    const std::uint64_t clamped = position > PositionCount() ? PositionCount() : position;
    return static_cast<std::uint64_t>(bits_.CountBefore(true, static_cast<std::int32_t>(clamped)));
}

} // namespace kova
