#include "engine/storage/ABSBTreePageIndex.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

namespace kova {

namespace {

std::vector<std::uint8_t> CountBytes(std::uint16_t count) {
    std::vector<std::uint8_t> bytes(TABSPageKeyRef::kValueSize);
    WriteU16(bytes.data(), count);
    return bytes;
}

TABSBTreePageIndex::Entry DecodeEntry(std::span<const std::uint8_t> key, std::span<const std::uint8_t> value) {
    return {TABSPageKeyRef::DecodeKey(key), ReadU16(value.data())};
}

} // namespace

TABSBTreePageIndex::TABSBTreePageIndex(TABSPageManager& pages, TABSPageNo rootPageNo) noexcept
    : tree_(pages, keyRef_, rootPageNo) {}

void TABSBTreePageIndex::RequireRoot(int code) const {
    if (tree_.RootPageNo() < 0)
        RaiseError(code, "Invalid page number");
}

TABSPageNo TABSBTreePageIndex::CreateRoot(TABSSessionID session) { return tree_.CreateRoot(session); }

void TABSBTreePageIndex::Drop(TABSSessionID session) { tree_.Drop(session); }

void TABSBTreePageIndex::Clear(TABSSessionID session) {
    RequireRoot(kPageIndexNoRootError);
    tree_.Clear(session);
}

std::optional<TABSBTreePageIndex::Entry> TABSBTreePageIndex::EntryAt(TABSSessionID session, const TABSKeyPath& path) {
    std::vector<std::uint8_t> key = tree_.KeyAt(session, path);
    std::vector<std::uint8_t> value = tree_.ValueAt(session, path);
    return DecodeEntry(key, value);
}

bool TABSBTreePageIndex::FindPath(TABSSessionID session, TABSPageNo pageNo, TABSKeyPath& path) {
    return tree_.Find(session, TABSPageKeyRef::SearchKey(pageNo), TABSFindMode::FirstEqual, path);
}

std::optional<TABSBTreePageIndex::Entry> TABSBTreePageIndex::First(TABSSessionID session) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (!tree_.First(session, path))
        return std::nullopt;
    return EntryAt(session, path);
}

std::optional<TABSBTreePageIndex::Entry> TABSBTreePageIndex::Last(TABSSessionID session) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (!tree_.Last(session, path))
        return std::nullopt;
    return EntryAt(session, path);
}

std::optional<TABSBTreePageIndex::Entry> TABSBTreePageIndex::Next(TABSSessionID session, TABSPageNo pageNo) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (!tree_.Find(session, TABSPageKeyRef::SearchKey(pageNo), TABSFindMode::FirstAbove, path))
        return std::nullopt;
    return EntryAt(session, path);
}

std::optional<TABSBTreePageIndex::Entry> TABSBTreePageIndex::Prior(TABSSessionID session, TABSPageNo pageNo) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (!tree_.Find(session, TABSPageKeyRef::SearchKey(pageNo), TABSFindMode::LastBelow, path))
        return std::nullopt;
    return EntryAt(session, path);
}

std::optional<std::uint16_t> TABSBTreePageIndex::Find(TABSSessionID session, TABSPageNo pageNo) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (!FindPath(session, pageNo, path))
        return std::nullopt;
    return EntryAt(session, path)->Count;
}

std::vector<TABSBTreePageIndex::Entry> TABSBTreePageIndex::Entries(TABSSessionID session) {
    RequireRoot(kPageIndexNoRootError);
    std::vector<Entry> entries;
    tree_.VisitAll(session, [&](auto key, auto value) {
        entries.push_back(DecodeEntry(key, value));
        return true;
    });
    return entries;
}

std::uint64_t TABSBTreePageIndex::PageCount(TABSSessionID session) {
    RequireRoot(kPageIndexNoRootError);
    return tree_.EntryCount(session);
}

std::uint64_t TABSBTreePageIndex::TotalCount(TABSSessionID session) {
    RequireRoot(kPageIndexNoRootError);
    std::uint64_t total = 0;
    tree_.VisitAll(session, [&](auto key, auto value) {
        total += DecodeEntry(key, value).Count;
        return true;
    });
    return total;
}

void TABSBTreePageIndex::AddToPage(TABSSessionID session, TABSPageNo pageNo, std::uint16_t amount,
                                   std::uint16_t maxCount) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (FindPath(session, pageNo, path)) {
        const std::uint32_t count = EntryAt(session, path)->Count + std::uint32_t{amount};
        if (count > maxCount)
            RaiseError(kIndexPageFullError, "Cannot add data item to page. Page is full");
        tree_.SetValueAt(session, path, CountBytes(static_cast<std::uint16_t>(count)));
        return;
    }
    if (amount > maxCount)
        RaiseError(kIndexPageFullError, "Cannot add data item to page. Page is full");
    tree_.Insert(session, TABSPageKeyRef::EncodeKey(pageNo), CountBytes(amount));
}

void TABSBTreePageIndex::SetPageCount(TABSSessionID session, TABSPageNo pageNo, std::uint16_t count) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (FindPath(session, pageNo, path)) {
        if (count == 0)
            tree_.DeleteAt(session, path);
        else
            tree_.SetValueAt(session, path, CountBytes(count));
        return;
    }
    if (count > 0)
        tree_.Insert(session, TABSPageKeyRef::EncodeKey(pageNo), CountBytes(count));
}

void TABSBTreePageIndex::SubtractFromPage(TABSSessionID session, TABSPageNo pageNo, std::uint16_t amount) {
    RequireRoot(kPageIndexNoRootError);
    TABSKeyPath path;
    if (!FindPath(session, pageNo, path))
        RaiseError(kPageIndexMissingPageError, "Invalid page number");
    const std::uint16_t count = EntryAt(session, path)->Count;
    if (count == 0 || count < amount)
        RaiseError(kPageIndexEmptyPageError, "Index error: page is empty");
    const auto rest = static_cast<std::uint16_t>(count - amount);
    if (rest == 0)
        tree_.DeleteAt(session, path);
    else
        tree_.SetValueAt(session, path, CountBytes(rest));
}

std::optional<TABSBTreePageIndex::Located> TABSBTreePageIndex::Locate(TABSSessionID session, std::uint64_t ordinal) {
    RequireRoot(kPageIndexNoRootError);
    std::optional<Located> found;
    std::uint64_t before = 0;
    tree_.VisitAll(session, [&](auto key, auto value) {
        const Entry entry = DecodeEntry(key, value);
        if (ordinal < before + entry.Count) {
            found = Located{entry, before};
            return false;
        }
        before += entry.Count;
        return true;
    });
    return found;
}

std::uint64_t TABSBTreePageIndex::CountBefore(TABSSessionID session, TABSPageNo pageNo) {
    RequireRoot(kPageIndexNoRootError);
    std::uint64_t before = 0;
    tree_.VisitAll(session, [&](auto key, auto value) {
        const Entry entry = DecodeEntry(key, value);
        if (entry.PageNo >= pageNo)
            return false;
        before += entry.Count;
        return true;
    });
    return before;
}

std::optional<TABSBTreePageIndex::Entry> TABSBTreePageIndex::FindInEdgeLeaves(
    TABSSessionID session, const std::function<bool(std::uint16_t)>& fits) {
    RequireRoot(kPageIndexNoRootError);
    std::optional<Entry> found;
    auto look = [&](auto key, auto value) {
        const Entry entry = DecodeEntry(key, value);
        if (fits(entry.Count)) {
            found = entry;
            return false;
        }
        return true;
    };
    // The last leaf first: pages made last are the likeliest to have room.
    const TABSPageNo lastLeaf = tree_.LastLeafPageNo(session);
    tree_.VisitLeafEntries(session, lastLeaf, /*backwards*/ true, look);
    if (found)
        return found;
    const TABSPageNo firstLeaf = tree_.FirstLeafPageNo(session);
    if (firstLeaf != lastLeaf)
        tree_.VisitLeafEntries(session, firstLeaf, /*backwards*/ false, look);
    return found;
}

std::optional<TABSPageNo> TABSBTreeRecordPageIndex::FindPageWithFreeSlot(TABSSessionID session,
                                                                         std::uint16_t recordsPerPage) {
    auto found = FindInEdgeLeaves(session, [&](std::uint16_t count) { return count < recordsPerPage; });
    if (!found)
        return std::nullopt;
    return found->PageNo;
}

std::optional<TABSPageNo> TABSBTreeBlobPageIndex::FindPageWithRoom(TABSSessionID session, std::uint32_t needed,
                                                                   std::uint32_t pageDataSize) {
    auto found = FindInEdgeLeaves(session, [&](std::uint16_t used) {
        return std::uint64_t{used} + needed + 2 < pageDataSize;
    });
    if (!found)
        return std::nullopt;
    return found->PageNo;
}

void TABSBTreeBlobPageIndex::AddUsedBytes(TABSSessionID session, TABSPageNo pageNo, std::uint16_t needed,
                                          std::uint32_t pageDataSize) {
    // used + needed < D - 2, i.e. the new sum may be at most D - 3.
    const std::uint32_t limit = pageDataSize >= 3 ? std::min<std::uint32_t>(pageDataSize - 3, 0xFFFF) : 0;
    AddToPage(session, pageNo, needed, static_cast<std::uint16_t>(limit));
}

} // namespace kova
