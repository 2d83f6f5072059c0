#include "engine/storage/ABSRecordPage.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

#include <bit>
#include <cstring>
#include <limits>

namespace kova {

namespace {

// Records per page: trunc((D - 1) / (S + 1/8)) computed exactly as 8(D - 1) div (8S + 1).
std::size_t RecordsFitting(std::size_t recordSize, std::size_t dataSize) noexcept {
    if (dataSize < 1) return 0;
    return (8 * (dataSize - 1)) / (8 * recordSize + 1);
}

} // namespace

TABSRecordPageGeometry::TABSRecordPageGeometry(std::size_t recordSize, std::size_t pageDataSize)
    : recordSize_(recordSize), recordsPerPage_(0) {
    const std::size_t r = recordSize == 0 ? 0 : RecordsFitting(recordSize, pageDataSize);
    if (r == 0) {
        RaiseError(kRecordTooLargeError,
                   "Cannot create table. Record is too large to fit in current database page. Please increase page "
                   "size of database file or decrease record size");
    }
    // Slots are numbered by a uint16 and page counts are uint16 in the page index.
    if (r > std::numeric_limits<std::uint16_t>::max() || (r + 7) / 8 + r * recordSize > pageDataSize) {
        RaiseError(kInvalidRecordsOnPageError, "Invalid number of records on page");
    }
    recordsPerPage_ = static_cast<std::uint16_t>(r);
}

void TABSSmallRecordPage::Initialize(std::int32_t tableId) {
    auto bytes = page_.MutableBytes();
    WriteI32(bytes.data() + kRecordPageTableIdOffset, tableId);
    std::memset(bytes.data() + PageHeader::kSize, 0, geometry_->UsedBytes());
}

std::int32_t TABSSmallRecordPage::TableId() const noexcept {
    return ReadI32(page_.Bytes().data() + kRecordPageTableIdOffset);
}

bool TABSSmallRecordPage::BelongsTo(std::int32_t tableId) const noexcept {
    return page_.PageType() == static_cast<std::uint16_t>(TABSPageType::TableRecord) && TableId() == tableId &&
           page_.ModificationCounter() < 0x7FFFFFFE;
}

bool TABSSmallRecordPage::IsSlotUsed(std::uint16_t slot) const noexcept {
    if (slot >= geometry_->RecordsPerPage()) return false;
    return (page_.Data()[slot / 8] >> (slot % 8)) & 1U;
}

void TABSSmallRecordPage::SetSlotUsed(std::span<std::uint8_t> data, std::uint16_t slot, bool used) const noexcept {
    const auto mask = static_cast<std::uint8_t>(1U << (slot % 8));
    if (used) {
        data[slot / 8] |= mask;
    } else {
        data[slot / 8] &= static_cast<std::uint8_t>(~mask);
    }
}

std::uint16_t TABSSmallRecordPage::UsedSlotCount() const noexcept {
    return UsedSlotsBefore(geometry_->RecordsPerPage());
}

std::uint16_t TABSSmallRecordPage::UsedSlotsBefore(std::uint16_t slot) const noexcept {
    const auto data = page_.Data();
    const std::uint16_t limit = std::min(slot, geometry_->RecordsPerPage());
    unsigned count = 0;
    unsigned s = 0;
    for (; s + 8 <= limit; s += 8) count += static_cast<unsigned>(std::popcount(data[s / 8]));
    for (; s < limit; ++s) count += (data[s / 8] >> (s % 8)) & 1U;
    return static_cast<std::uint16_t>(count);
}

std::optional<std::uint16_t> TABSSmallRecordPage::FirstFreeSlot() const noexcept {
    const auto data = page_.Data();
    const std::uint16_t r = geometry_->RecordsPerPage();
    for (unsigned s = 0; s < r; ++s) {
        if (data[s / 8] == 0xFF) {
            s += 7;
            continue;
        }
        if (((data[s / 8] >> (s % 8)) & 1U) == 0) return static_cast<std::uint16_t>(s);
    }
    return std::nullopt;
}

std::optional<std::uint16_t> TABSSmallRecordPage::NextUsedSlot(int from) const noexcept {
    const int r = geometry_->RecordsPerPage();
    for (int s = std::max(from, 0); s < r; ++s) {
        if (IsSlotUsed(static_cast<std::uint16_t>(s))) return static_cast<std::uint16_t>(s);
    }
    return std::nullopt;
}

std::optional<std::uint16_t> TABSSmallRecordPage::PriorUsedSlot(int from) const noexcept {
    const int r = geometry_->RecordsPerPage();
    for (int s = std::min(from, r - 1); s >= 0; --s) {
        if (IsSlotUsed(static_cast<std::uint16_t>(s))) return static_cast<std::uint16_t>(s);
    }
    return std::nullopt;
}

std::optional<std::uint16_t> TABSSmallRecordPage::NthUsedSlot(std::uint16_t k) const noexcept {
    const auto data = page_.Data();
    const unsigned r = geometry_->RecordsPerPage();
    unsigned seen = 0;
    for (unsigned s = 0; s < r; ++s) {
        if (s % 8 == 0 && s + 8 <= r) {
            const unsigned inByte = static_cast<unsigned>(std::popcount(data[s / 8]));
            if (seen + inByte <= k) {
                seen += inByte;
                s += 7;
                continue;
            }
        }
        if ((data[s / 8] >> (s % 8)) & 1U) {
            if (seen == k) return static_cast<std::uint16_t>(s);
            ++seen;
        }
    }
    return std::nullopt;
}

std::span<const std::uint8_t> TABSSmallRecordPage::Slot(std::uint16_t slot) const noexcept {
    return page_.Data().subspan(geometry_->SlotOffset(slot), geometry_->RecordSize());
}

std::uint16_t TABSSmallRecordPage::AddRecord(std::span<const std::uint8_t> diskRecord) {
    const auto slot = FirstFreeSlot();
    if (!slot) RaiseError(kPageFullError, "Cannot add record to page. Page is full");
    auto data = page_.MutableData();
    std::memcpy(data.data() + geometry_->SlotOffset(*slot), diskRecord.data(), geometry_->RecordSize());
    SetSlotUsed(data, *slot, true);
    return *slot;
}

void TABSSmallRecordPage::UpdateRecord(std::uint16_t slot, std::span<const std::uint8_t> diskRecord) {
    if (!IsSlotUsed(slot)) RaiseError(kRecordNotFoundError + 1, "Record not found");
    auto data = page_.MutableData();
    std::memcpy(data.data() + geometry_->SlotOffset(slot), diskRecord.data(), geometry_->RecordSize());
}

void TABSSmallRecordPage::DeleteRecord(std::uint16_t slot) {
    if (!IsSlotUsed(slot)) RaiseError(kRecordNotFoundError + 2, "Record not found");
    auto data = page_.MutableData();
    std::memset(data.data() + geometry_->SlotOffset(slot), 0, geometry_->RecordSize());
    SetSlotUsed(data, slot, false);
}

} // namespace kova
