// Page indexes: B+ trees keyed by page number whose leaf entries carry a uint16 count per page.
//
// A table keeps two of them:
//   TABSBTreeRecordPageIndex  one entry per record page that holds at least one record; the count
//                             is the page's number of records. Physical record order and record
//                             numbers are walks over this index.
//   TABSBTreeBlobPageIndex    one entry per shared BLOB page that holds at least one value; the
//                             count is the bytes used by the page's values.
// A page is in an index exactly while its count is above 0. The root page number is stored in the
// table's definition and never changes; an empty index is an empty root leaf.
//
// Every operation takes the session whose page set receives the changes.
#pragma once

#include "engine/storage/ABSBTree.h"
#include "engine/storage/ABSBTreeKey.h"
#include "engine/storage/ABSPage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kova {

inline constexpr int kPageIndexNoRootError = 20110;       // "Invalid page number": no root
inline constexpr int kPageIndexMissingPageError = 20111;  // "Invalid page number": page not listed
inline constexpr int kPageIndexEmptyPageError = 20112;    // "Index error: page is empty"

class TABSBTreePageIndex {
public:
    struct Entry {
        TABSPageNo PageNo = kNoPage;
        std::uint16_t Count = 0;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // REQUIRES: `pages` outlives the index.
    explicit TABSBTreePageIndex(TABSPageManager& pages, TABSPageNo rootPageNo = kNoPage) noexcept;
    virtual ~TABSBTreePageIndex() = default;
    TABSBTreePageIndex(const TABSBTreePageIndex&) = delete;
    TABSBTreePageIndex& operator=(const TABSBTreePageIndex&) = delete;

    [[nodiscard]] TABSPageNo RootPageNo() const noexcept { return tree_.RootPageNo(); }
    // Sets the root loaded from a table definition (-1: none).
    void SetRootPageNo(TABSPageNo pageNo) noexcept { tree_.SetRootPageNo(pageNo); }

    // Makes the empty root and returns its page number.
    TABSPageNo CreateRoot(TABSSessionID session);
    // Gives all pages back; the index has no root afterwards.
    void Drop(TABSSessionID session);
    // Removes every entry; the root stays with its page number.
    void Clear(TABSSessionID session);

    // Entries in page-number order. First/Last give nothing on an empty index; Next/Prior give the
    // entry after/before page `pageNo` (which need not be listed).
    [[nodiscard]] std::optional<Entry> First(TABSSessionID session);
    [[nodiscard]] std::optional<Entry> Last(TABSSessionID session);
    [[nodiscard]] std::optional<Entry> Next(TABSSessionID session, TABSPageNo pageNo);
    [[nodiscard]] std::optional<Entry> Prior(TABSSessionID session, TABSPageNo pageNo);
    // The count of a listed page; nothing when the page is not listed.
    [[nodiscard]] std::optional<std::uint16_t> Find(TABSSessionID session, TABSPageNo pageNo);
    // All entries in order (diagnostics, repair, tests).
    [[nodiscard]] std::vector<Entry> Entries(TABSSessionID session);
    // Number of listed pages and the sum of their counts.
    [[nodiscard]] std::uint64_t PageCount(TABSSessionID session);
    [[nodiscard]] std::uint64_t TotalCount(TABSSessionID session);

    // Adds `amount` to a page's count, inserting the entry when the page is not listed. Raises
    // 20106 "Cannot add data item to page. Page is full" when the new count would exceed
    // `maxCount` (nothing changes then), 20110 without a root.
    void AddToPage(TABSSessionID session, TABSPageNo pageNo, std::uint16_t amount, std::uint16_t maxCount);
    // Sets a page's count: 0 removes the entry (nothing happens for an unlisted page), another
    // value inserts or updates it.
    void SetPageCount(TABSSessionID session, TABSPageNo pageNo, std::uint16_t count);
    // Subtracts from a page's count and removes the entry when it reaches 0. Raises 20111 "Invalid
    // page number" for an unlisted page and 20112 "Index error: page is empty" when the count is 0
    // or smaller than `amount`.
    void SubtractFromPage(TABSSessionID session, TABSPageNo pageNo, std::uint16_t amount);

    // Position walks (record numbers). `ordinal` is 0-based over the sum of counts in page order:
    // gives the entry whose count range holds it and the sum of the counts before that entry;
    // nothing when ordinal ≥ TotalCount.
    struct Located {
        Entry PageEntry;
        std::uint64_t CountBefore = 0;
    };
    [[nodiscard]] std::optional<Located> Locate(TABSSessionID session, std::uint64_t ordinal);
    // Sum of the counts of all pages listed before `pageNo`.
    [[nodiscard]] std::uint64_t CountBefore(TABSSessionID session, TABSPageNo pageNo);

    // The tree for integrity checks and tests.
    [[nodiscard]] TABSBTree& Tree() noexcept { return tree_; }
    void CheckIntegrity(TABSSessionID session) { tree_.CheckIntegrity(session); }

protected:
    // The first page, looking at the last leaf from its last entry backwards and then at the first
    // leaf from its first entry forwards, whose count satisfies `fits`; nothing otherwise.
    [[nodiscard]] std::optional<Entry> FindInEdgeLeaves(TABSSessionID session,
                                                        const std::function<bool(std::uint16_t)>& fits);

private:
    void RequireRoot(int code) const;
    [[nodiscard]] std::optional<Entry> EntryAt(TABSSessionID session, const TABSKeyPath& path);
    [[nodiscard]] bool FindPath(TABSSessionID session, TABSPageNo pageNo, TABSKeyPath& path);

    TABSPageKeyRef keyRef_;
    TABSBTree tree_;
};

// The page index of a table's record pages; counts are record counts.
class TABSBTreeRecordPageIndex final : public TABSBTreePageIndex {
public:
    using TABSBTreePageIndex::TABSBTreePageIndex;

    // A page with a free slot: the first listed page whose count is below `recordsPerPage`, looking
    // at no more than the last and the first leaf (see FindInEdgeLeaves). Nothing: make a new page.
    [[nodiscard]] std::optional<TABSPageNo> FindPageWithFreeSlot(TABSSessionID session, std::uint16_t recordsPerPage);
    // One more record on a page (inserting its entry with count 1 for a new page); 20106 when the
    // page holds `recordsPerPage` already.
    void AddRecord(TABSSessionID session, TABSPageNo pageNo, std::uint16_t recordsPerPage) {
        AddToPage(session, pageNo, 1, recordsPerPage);
    }
};

// The page index of a table's shared BLOB pages; counts are used bytes (Σ 22 + stored size).
class TABSBTreeBlobPageIndex final : public TABSBTreePageIndex {
public:
    using TABSBTreePageIndex::TABSBTreePageIndex;

    // A listed page with room for `needed` more bytes: used + needed < pageDataSize - 2, looking at
    // no more than the last and the first leaf. Nothing: make a new page.
    [[nodiscard]] std::optional<TABSPageNo> FindPageWithRoom(TABSSessionID session, std::uint32_t needed,
                                                             std::uint32_t pageDataSize);
    // Adds `needed` bytes to a page (inserting its entry for a new page); 20106 when the page's
    // used bytes and `needed` would not pass the room test above.
    void AddUsedBytes(TABSSessionID session, TABSPageNo pageNo, std::uint16_t needed, std::uint32_t pageDataSize);
    // Subtracts bytes; the entry goes when the result is 0. 20111 / 20112 as SubtractFromPage.
    void SubtractUsedBytes(TABSSessionID session, TABSPageNo pageNo, std::uint16_t bytes) {
        SubtractFromPage(session, pageNo, bytes);
    }
};

} // namespace kova
