// The records of a table in a database file: record pages (ABSRecordPage.h) listed in the record
// page index, and the record count and change counter of the table's state.
//
// Free-slot search looks at the last and the first leaf of the record page index only; a page
// enters the index with its first record and leaves it (and is given back) with its last.
// Physical order is page-index order, then slot order. Record numbers are found from the page
// counts of the index, without reading record pages.
#pragma once

#include "engine/storage/ABSBTreePageIndex.h"
#include "engine/storage/ABSBaseEngine.h"
#include "engine/storage/ABSRecordPage.h"
#include "engine/storage/ABSTableDefinition.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kova {

class TABSDiskRecordManager final : public TABSBaseRecordManager {
public:
    // `state` is the table's state as the current session sees it; the table data keeps it
    // current before every call and stores it afterwards. All references must outlive the manager.
    // `checkOwnership` false skips the page-ownership test (files of format version below 2.99).
    TABSDiskRecordManager(TABSPageManager& pages, const TABSFieldDefs& fields, std::int32_t tableId,
                          const TABSRecordPageGeometry& geometry, TABSBTreeRecordPageIndex& pageIndex,
                          TABSTableState& state, bool checkOwnership = true);

    [[nodiscard]] const TABSRecordPageGeometry& Geometry() const noexcept { return geometry_; }
    [[nodiscard]] TABSBTreeRecordPageIndex& PageIndex() noexcept { return pageIndex_; }

    [[nodiscard]] std::uint64_t RecordCount(TABSSessionID session) override;
    [[nodiscard]] std::int32_t ChangeCounter(TABSSessionID session) override;

    [[nodiscard]] TABSRecordID InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record) override;
    [[nodiscard]] bool UpdateRecord(TABSSessionID session, const TABSRecordID& id,
                                    std::span<const std::uint8_t> record) override;
    [[nodiscard]] bool DeleteRecord(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] bool ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) override;

    [[nodiscard]] std::optional<TABSRecordID> FirstRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> LastRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> NextRecord(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::optional<TABSRecordID> PriorRecord(TABSSessionID session, const TABSRecordID& id) override;

    [[nodiscard]] std::optional<TABSRecordID> RecordAtNumber(TABSSessionID session, std::uint64_t recNo) override;
    [[nodiscard]] std::uint64_t RecordNumberOf(TABSSessionID session, const TABSRecordID& id) override;

    [[nodiscard]] std::uint64_t RecordPosition(const TABSRecordID& id) const override { return geometry_.Position(id); }
    [[nodiscard]] TABSRecordID RecordIDAtPosition(std::uint64_t position) const override {
        return geometry_.IDAtPosition(position);
    }
    [[nodiscard]] std::uint64_t PositionCount(TABSSessionID session) override;

    // Gives every record page back and clears the page index; record count and change counter 0.
    void Empty(TABSSessionID session) override;
    // Gives every record page back and drops the page index's pages (the table is dropped).
    void Drop(TABSSessionID session);

    // Reads the disk record stored at `id` (no conversion); false when none is there.
    [[nodiscard]] bool ReadDiskRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> disk);

private:
    // The page as a record page of this table; nothing when it does not belong to the table.
    [[nodiscard]] std::optional<TABSSmallRecordPage> OpenRecordPage(TABSSessionID session, TABSPageNo pageNo);
    // The used slot nearest `from` on the page in the given direction, then on the following
    // pages of the index; a page that is not the table's ends the step.
    [[nodiscard]] std::optional<TABSRecordID> ScanForward(TABSSessionID session, TABSPageNo pageNo, int from);
    [[nodiscard]] std::optional<TABSRecordID> ScanBackward(TABSSessionID session, TABSPageNo pageNo, int from);

    TABSPageManager& pages_;
    const TABSFieldDefs& fields_;
    std::int32_t tableId_;
    const TABSRecordPageGeometry& geometry_;
    TABSBTreeRecordPageIndex& pageIndex_;
    TABSTableState& state_;
    bool checkOwnership_;
    std::vector<std::uint8_t> diskBuffer_;  // one disk record
};

} // namespace kova
