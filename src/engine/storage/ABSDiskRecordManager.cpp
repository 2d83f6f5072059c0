#include "engine/storage/ABSDiskRecordManager.h"

#include "engine/core/ABSExcept.h"

namespace kova {

TABSDiskRecordManager::TABSDiskRecordManager(TABSPageManager& pages, const TABSFieldDefs& fields, std::int32_t tableId,
                                             const TABSRecordPageGeometry& geometry,
                                             TABSBTreeRecordPageIndex& pageIndex, TABSTableState& state,
                                             bool checkOwnership)
    : pages_(pages), fields_(fields), tableId_(tableId), geometry_(geometry), pageIndex_(pageIndex), state_(state),
      checkOwnership_(checkOwnership), diskBuffer_(geometry.RecordSize()) {}

std::uint64_t TABSDiskRecordManager::RecordCount(TABSSessionID) {
    return static_cast<std::uint64_t>(std::max(state_.RecordCount, 0));
}

std::int32_t TABSDiskRecordManager::ChangeCounter(TABSSessionID) { return state_.ChangeCounter; }

std::optional<TABSSmallRecordPage> TABSDiskRecordManager::OpenRecordPage(TABSSessionID session, TABSPageNo pageNo) {
    if (pageNo < 0) return std::nullopt;
    TABSSmallRecordPage page(pages_.GetPage(session, pageNo, kAnyPageType), geometry_);
    if (checkOwnership_ && !page.BelongsTo(tableId_)) return std::nullopt;
    return page;
}

TABSRecordID TABSDiskRecordManager::InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record) {
    const std::uint16_t r = geometry_.RecordsPerPage();
    std::optional<TABSSmallRecordPage> page;
    if (const auto free = pageIndex_.FindPageWithFreeSlot(session, r)) page = OpenRecordPage(session, *free);
    if (!page) {
        // No listed page has room (or the one found is not ours any more): start a new page.
        page.emplace(pages_.AddPage(session, TABSPageType::TableRecord), geometry_);
        page->Initialize(tableId_);
    }
    fields_.MemoryToDisk(record, diskBuffer_);
    const std::uint16_t slot = page->AddRecord(diskBuffer_);
    pageIndex_.AddRecord(session, page->PageNo(), r);
    ++state_.RecordCount;
    ++state_.ChangeCounter;
    return {page->PageNo(), slot};
}

bool TABSDiskRecordManager::UpdateRecord(TABSSessionID session, const TABSRecordID& id,
                                         std::span<const std::uint8_t> record) {
    auto page = OpenRecordPage(session, id.PageNo);
    if (!page || !page->IsSlotUsed(id.Slot)) RaiseError(kRecordNotFoundError + 1, "Record not found");
    fields_.MemoryToDisk(record, diskBuffer_);
    page->UpdateRecord(id.Slot, diskBuffer_);
    ++state_.ChangeCounter;
    return true;
}

bool TABSDiskRecordManager::DeleteRecord(TABSSessionID session, const TABSRecordID& id) {
    std::uint16_t left = 0;
    {
        auto page = OpenRecordPage(session, id.PageNo);
        if (!page || !page->IsSlotUsed(id.Slot)) RaiseError(kRecordNotFoundError + 2, "Record not found");
        page->DeleteRecord(id.Slot);
        left = page->UsedSlotCount();
    }  // unpinned: an empty page is given back below
    pageIndex_.SetPageCount(session, id.PageNo, left);
    if (left == 0) pages_.RemovePage(session, id.PageNo);
    --state_.RecordCount;
    ++state_.ChangeCounter;
    return true;
}

bool TABSDiskRecordManager::ReadDiskRecord(TABSSessionID session, const TABSRecordID& id,
                                           std::span<std::uint8_t> disk) {
    auto page = OpenRecordPage(session, id.PageNo);
    if (!page || !page->IsSlotUsed(id.Slot)) return false;
    const auto slot = page->Slot(id.Slot);
    std::copy(slot.begin(), slot.end(), disk.begin());
    return true;
}

bool TABSDiskRecordManager::ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) {
    if (!ReadDiskRecord(session, id, diskBuffer_)) return false;
    fields_.DiskToMemory(diskBuffer_, record);
    return true;
}

std::optional<TABSRecordID> TABSDiskRecordManager::ScanForward(TABSSessionID session, TABSPageNo pageNo, int from) {
    // Stepping on from a record that is still there: a page of this table that holds a record is
    // listed in the page index, so the next record of the same page is found without asking the
    // index (a full scan would otherwise search the index once per record). Pages given back do
    // not belong to the table any more; without the ownership test the index must decide.
    if (pageNo != kNoPage && from > 0 && checkOwnership_) {
        if (const auto page = OpenRecordPage(session, pageNo); page && page->IsSlotUsed(static_cast<std::uint16_t>(from - 1))) {
            if (const auto slot = page->NextUsedSlot(from)) return TABSRecordID{pageNo, *slot};
        }
    }
    std::optional<TABSBTreePageIndex::Entry> entry;
    if (pageNo == kNoPage) {
        entry = pageIndex_.First(session);
    } else if (pageIndex_.Find(session, pageNo)) {
        entry = TABSBTreePageIndex::Entry{pageNo, 0};
    } else {
        entry = pageIndex_.Next(session, pageNo);
        from = 0;
    }
    while (entry) {
        auto page = OpenRecordPage(session, entry->PageNo);
        if (!page) return std::nullopt;
        if (const auto slot = page->NextUsedSlot(from)) return TABSRecordID{entry->PageNo, *slot};
        entry = pageIndex_.Next(session, entry->PageNo);
        from = 0;
    }
    return std::nullopt;
}

std::optional<TABSRecordID> TABSDiskRecordManager::ScanBackward(TABSSessionID session, TABSPageNo pageNo, int from) {
    const int last = static_cast<int>(geometry_.RecordsPerPage()) - 1;
    std::optional<TABSBTreePageIndex::Entry> entry;
    if (pageNo == kNoPage) {
        entry = pageIndex_.Last(session);
        from = last;
    } else if (pageIndex_.Find(session, pageNo)) {
        entry = TABSBTreePageIndex::Entry{pageNo, 0};
    } else {
        entry = pageIndex_.Prior(session, pageNo);
        from = last;
    }
    while (entry) {
        auto page = OpenRecordPage(session, entry->PageNo);
        if (!page) return std::nullopt;
        if (const auto slot = page->PriorUsedSlot(from)) return TABSRecordID{entry->PageNo, *slot};
        entry = pageIndex_.Prior(session, entry->PageNo);
        from = last;
    }
    return std::nullopt;
}

std::optional<TABSRecordID> TABSDiskRecordManager::FirstRecord(TABSSessionID session) {
    return ScanForward(session, kNoPage, 0);
}

std::optional<TABSRecordID> TABSDiskRecordManager::LastRecord(TABSSessionID session) {
    return ScanBackward(session, kNoPage, 0);
}

std::optional<TABSRecordID> TABSDiskRecordManager::NextRecord(TABSSessionID session, const TABSRecordID& id) {
    if (!id.IsValid()) return FirstRecord(session);
    return ScanForward(session, id.PageNo, static_cast<int>(id.Slot) + 1);
}

std::optional<TABSRecordID> TABSDiskRecordManager::PriorRecord(TABSSessionID session, const TABSRecordID& id) {
    if (!id.IsValid()) return LastRecord(session);
    return ScanBackward(session, id.PageNo, static_cast<int>(id.Slot) - 1);
}

std::optional<TABSRecordID> TABSDiskRecordManager::RecordAtNumber(TABSSessionID session, std::uint64_t recNo) {
    if (recNo == 0) return std::nullopt;
    const auto located = pageIndex_.Locate(session, recNo - 1);
    if (!located) return std::nullopt;
    auto page = OpenRecordPage(session, located->PageEntry.PageNo);
    if (!page) return std::nullopt;
    const auto k = static_cast<std::uint16_t>(recNo - 1 - located->CountBefore);
    const auto slot = page->NthUsedSlot(k);
    if (!slot) {
        RaiseError(kRecordNotFoundInPageError, "Record not found. PageNo=%d, PageRecordCount=%d",
                   {located->PageEntry.PageNo, static_cast<int>(located->PageEntry.Count)});
    }
    return TABSRecordID{located->PageEntry.PageNo, *slot};
}

std::uint64_t TABSDiskRecordManager::RecordNumberOf(TABSSessionID session, const TABSRecordID& id) {
    if (!pageIndex_.Find(session, id.PageNo)) return 0;
    auto page = OpenRecordPage(session, id.PageNo);
    if (!page || !page->IsSlotUsed(id.Slot)) return 0;
    return pageIndex_.CountBefore(session, id.PageNo) + page->UsedSlotsBefore(id.Slot) + 1;
}

std::uint64_t TABSDiskRecordManager::PositionCount(TABSSessionID session) {
    const auto last = pageIndex_.Last(session);
    if (!last) return 0;
    return (static_cast<std::uint64_t>(last->PageNo) + 1) * geometry_.RecordsPerPage();
}

void TABSDiskRecordManager::Empty(TABSSessionID session) {
    for (const auto& entry : pageIndex_.Entries(session)) pages_.RemovePage(session, entry.PageNo);
    pageIndex_.Clear(session);
    state_.RecordCount = 0;
    state_.ChangeCounter = 0;
}

void TABSDiskRecordManager::Drop(TABSSessionID session) {
    for (const auto& entry : pageIndex_.Entries(session)) pages_.RemovePage(session, entry.PageNo);
    pageIndex_.Drop(session);
    state_.RecordCount = 0;
}

} // namespace kova
