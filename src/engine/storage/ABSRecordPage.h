// Record pages (page type 10): fixed-size slots for a table's disk records.
//
// With S the disk record size and D the page data area (PageSize - 40), a page holds
// R = trunc((D - 1) / (S + 1/8)) records: each record costs S bytes plus one bit of the slot
// bitmap, and the bitmap is rounded up to whole bytes. Page layout:
//
//   header offset 22   int32       id of the table the page belongs to
//   data offset 0      ceil(R/8)   slot bitmap: bit s (least significant first) = slot s in use
//   data offset ceil(R/8) + s × S  slot s (S bytes)
//
// A record is addressed by (page number, slot); its position p × R + s numbers the table's
// potential records for filter bitmaps.
#pragma once

#include "engine/storage/ABSPage.h"
#include "engine/storage/ABSRecordID.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kova {

inline constexpr int kRecordTooLargeError = 20174;
inline constexpr int kInvalidRecordsOnPageError = 20140;  // "Invalid number of records on page"
inline constexpr int kPageFullError = 20141;              // "Cannot add record to page. Page is full"
inline constexpr int kRecordNotFoundInPageError = 20143;  // "Record not found. PageNo=%d, PageRecordCount=%d"
inline constexpr int kRecordNotFoundError = 20144;        // "Record not found" (20144 … 20148)

inline constexpr std::size_t kRecordPageTableIdOffset = PageHeader::kOwnerInt22Offset;

// R, S and the slot layout of a table's record pages.
class TABSRecordPageGeometry {
public:
    // Raises 20174 "Cannot create table. Record is too large …" when no record fits (R = 0) and
    // 20140 when bitmap and slots would not fit the data area.
    TABSRecordPageGeometry(std::size_t recordSize, std::size_t pageDataSize);

    [[nodiscard]] std::size_t RecordSize() const noexcept { return recordSize_; }          // S
    [[nodiscard]] std::uint16_t RecordsPerPage() const noexcept { return recordsPerPage_; }  // R
    [[nodiscard]] std::size_t BitmapSize() const noexcept { return (recordsPerPage_ + 7u) / 8u; }
    [[nodiscard]] std::size_t SlotOffset(std::uint16_t slot) const noexcept { return BitmapSize() + slot * recordSize_; }
    // Bytes of the data area the page uses: bitmap plus all slots.
    [[nodiscard]] std::size_t UsedBytes() const noexcept { return SlotOffset(recordsPerPage_); }

    [[nodiscard]] std::uint64_t Position(const TABSRecordID& id) const noexcept {
        return static_cast<std::uint64_t>(static_cast<std::uint32_t>(id.PageNo)) * recordsPerPage_ + id.Slot;
    }
    [[nodiscard]] TABSRecordID IDAtPosition(std::uint64_t position) const noexcept {
        return {static_cast<TABSPageNo>(position / recordsPerPage_), static_cast<std::uint16_t>(position % recordsPerPage_)};
    }

private:
    std::size_t recordSize_;
    std::uint16_t recordsPerPage_;
};

// One record page, pinned through a page handle. Reading works on the session's view; writing
// makes the page dirty in the handle's session.
class TABSSmallRecordPage {
public:
    TABSSmallRecordPage(TABSPageHandle page, const TABSRecordPageGeometry& geometry) noexcept
        : page_(std::move(page)), geometry_(&geometry) {}

    // Marks a freshly added page as the table's: table id at header offset 22, empty bitmap.
    void Initialize(std::int32_t tableId);

    [[nodiscard]] TABSPageNo PageNo() const noexcept { return page_.PageNo(); }
    [[nodiscard]] std::int32_t TableId() const noexcept;
    // Whether the page is one of the table's record pages: type 10, the table's id, and a
    // modification counter below 0x7FFFFFFE (0x7FFFFFFF marks a page given back or unreadable).
    [[nodiscard]] bool BelongsTo(std::int32_t tableId) const noexcept;

    [[nodiscard]] bool IsSlotUsed(std::uint16_t slot) const noexcept;
    [[nodiscard]] std::uint16_t UsedSlotCount() const noexcept;
    // The lowest free slot; nothing when the page is full.
    [[nodiscard]] std::optional<std::uint16_t> FirstFreeSlot() const noexcept;
    // Used slots: the first at or above / at or below `slot`; nothing when there is none.
    [[nodiscard]] std::optional<std::uint16_t> NextUsedSlot(int from) const noexcept;
    [[nodiscard]] std::optional<std::uint16_t> PriorUsedSlot(int from) const noexcept;
    // The k-th used slot (0-based); nothing when the page has fewer.
    [[nodiscard]] std::optional<std::uint16_t> NthUsedSlot(std::uint16_t k) const noexcept;
    // Number of used slots below `slot`.
    [[nodiscard]] std::uint16_t UsedSlotsBefore(std::uint16_t slot) const noexcept;

    // REQUIRES: slot < R.
    [[nodiscard]] std::span<const std::uint8_t> Slot(std::uint16_t slot) const noexcept;
    // Stores a disk record in the lowest free slot and marks it used; 20141 when the page is full.
    [[nodiscard]] std::uint16_t AddRecord(std::span<const std::uint8_t> diskRecord);
    // Overwrites a used slot; 20145 "Record not found" when the slot is free.
    void UpdateRecord(std::uint16_t slot, std::span<const std::uint8_t> diskRecord);
    // Frees a used slot (its bytes are zeroed); 20146 "Record not found" when it is free already.
    void DeleteRecord(std::uint16_t slot);

private:
    void SetSlotUsed(std::span<std::uint8_t> data, std::uint16_t slot, bool used) const noexcept;

    TABSPageHandle page_;
    const TABSRecordPageGeometry* geometry_;
};

} // namespace kova
