// One page of a B+ tree (page type 12) and the two controllers that know its entry layout.
//
// The page's data area (after the 40-byte page header) starts with an 18-byte tree header:
//
//   offset size  field
//   0      1     root flag: 1 in the root page, 0 elsewhere
//   1      1     leaf flag: 1 in a leaf, 0 in an inner node
//   2      4     previous page of the same level, -1 for none
//   6      4     next page of the same level, -1 for none
//   10     1     1 in a root page set up by tree creation or clearing, 0 in pages made by splits
//   11     1     0
//   12     2     key size K
//   14     2     entry count n
//   16     2     extra header length X (written as 0; honoured when read)
//   18+X         n entries
//
// A leaf entry is K key bytes and V value bytes (V is given by the tree's owner: 6 for a record
// identifier, 2 for a page index count); an inner-node entry is K key bytes and an int32 child
// page number. With E the entry size and D the data area:
//   room for one more entry  (n + 1) × E + 18 + X ≤ D
//   overfull                 n × E + 18 + X > D
//   underfull                n × E < (D - 18 - X) ÷ 2
//   mergeable with another   (n1 + n2) × E + 18 + X < D
//
// Page bytes are untrusted: opening a page checks that its header describes entries that fit in
// the data area and that its key size is the tree's.
#pragma once

#include "engine/storage/ABSPage.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kova {

// Native errors of tree pages.
inline constexpr int kIndexPageEmptyError = 20025;             // "Index error: page is empty"
inline constexpr int kIndexIntegrityError = 20028;             // "Index integrity violated. …"
inline constexpr int kIndexInvalidPositionError = 20099;       // "Index error: invalid position"
inline constexpr int kIndexInvalidPageNumberError = 20100;     // "Index error: invalid page number"
inline constexpr int kIndexPageFullError = 20106;              // "Cannot add data item to page. Page is full"
inline constexpr int kInternalIndexNodeError = 20020;          // "Internal index error" (node op on a leaf)
inline constexpr int kInternalIndexNodeSetError = 20024;

namespace BTreePageHeader {
inline constexpr std::size_t kRootFlagOffset = 0;
inline constexpr std::size_t kLeafFlagOffset = 1;
inline constexpr std::size_t kPrevPageOffset = 2;
inline constexpr std::size_t kNextPageOffset = 6;
inline constexpr std::size_t kMadeAsRootOffset = 10;
inline constexpr std::size_t kReservedOffset = 11;
inline constexpr std::size_t kKeySizeOffset = 12;
inline constexpr std::size_t kEntryCountOffset = 14;
inline constexpr std::size_t kExtraLengthOffset = 16;
inline constexpr std::size_t kSize = 18;

static_assert(kPrevPageOffset == kLeafFlagOffset + 1);
static_assert(kNextPageOffset == kPrevPageOffset + 4);
static_assert(kMadeAsRootOffset == kNextPageOffset + 4);
static_assert(kKeySizeOffset == kReservedOffset + 1);
static_assert(kEntryCountOffset == kKeySizeOffset + 2);
static_assert(kExtraLengthOffset == kEntryCountOffset + 2);
static_assert(kSize == kExtraLengthOffset + 2);
} // namespace BTreePageHeader

// Bytes of the child page number in an inner-node entry.
inline constexpr std::size_t kNodeValueSize = 4;

// The tree header, decoded.
struct TABSBTreePageHeader {
    bool IsRoot = false;
    bool IsLeaf = true;
    TABSPageNo PrevPageNo = kNoPage;
    TABSPageNo NextPageNo = kNoPage;
    bool MadeAsRoot = false;
    std::uint16_t KeySize = 0;
    std::uint16_t EntryCount = 0;
    std::uint16_t ExtraLength = 0;

    // REQUIRES: `data` holds at least 18 bytes.
    [[nodiscard]] static TABSBTreePageHeader Decode(std::span<const std::uint8_t> data) noexcept;
    void Encode(std::span<std::uint8_t> data) const noexcept;
};

// Size rules of a page with data area `dataSize`, entries of `entrySize` bytes and an extra header
// of `extraLength` bytes.
struct TABSBTreePageGeometry {
    std::size_t DataSize = 0;
    std::size_t EntrySize = 0;
    std::size_t ExtraLength = 0;

    // The most entries a page holds: the largest n with n × E + 18 + X ≤ D.
    [[nodiscard]] std::size_t Capacity() const noexcept;
    [[nodiscard]] bool HasRoomForAnother(std::size_t count) const noexcept;
    [[nodiscard]] bool IsOverfull(std::size_t count) const noexcept;
    [[nodiscard]] bool IsUnderfull(std::size_t count) const noexcept;
    [[nodiscard]] bool CanMerge(std::size_t count1, std::size_t count2) const noexcept;
};

class TABSBTreePage;

// What differs between leaves and inner nodes: the value part of an entry. Both controllers are
// stateless apart from the value size; a page picks its controller by its leaf flag.
class TABSBTreePageController {
public:
    virtual ~TABSBTreePageController() = default;

    [[nodiscard]] virtual bool IsLeaf() const noexcept = 0;
    [[nodiscard]] virtual std::size_t ValueSize() const noexcept = 0;
    [[nodiscard]] std::size_t EntrySize(std::size_t keySize) const noexcept { return keySize + ValueSize(); }

    // The child page of inner-node entry `index`. A leaf raises 20020 "Internal index error".
    [[nodiscard]] virtual TABSPageNo ChildPageNo(const TABSBTreePage& page, std::size_t index) const = 0;
    // A leaf raises 20024 "Internal index error".
    virtual void SetChildPageNo(TABSBTreePage& page, std::size_t index, TABSPageNo child) const = 0;
};

class TABSBTreeLeafController final : public TABSBTreePageController {
public:
    explicit TABSBTreeLeafController(std::size_t valueSize) noexcept : valueSize_(valueSize) {}
    [[nodiscard]] bool IsLeaf() const noexcept override { return true; }
    [[nodiscard]] std::size_t ValueSize() const noexcept override { return valueSize_; }
    [[nodiscard]] TABSPageNo ChildPageNo(const TABSBTreePage& page, std::size_t index) const override;
    void SetChildPageNo(TABSBTreePage& page, std::size_t index, TABSPageNo child) const override;

private:
    std::size_t valueSize_;
};

class TABSBTreeNodeController final : public TABSBTreePageController {
public:
    [[nodiscard]] bool IsLeaf() const noexcept override { return false; }
    [[nodiscard]] std::size_t ValueSize() const noexcept override { return kNodeValueSize; }
    [[nodiscard]] TABSPageNo ChildPageNo(const TABSBTreePage& page, std::size_t index) const override;
    void SetChildPageNo(TABSBTreePage& page, std::size_t index, TABSPageNo child) const override;
};

// One pinned tree page. Reads go to the page as the handle's session sees it; every change makes
// the page dirty in that session (copy-on-write in the page cache). Move-only like its handle.
class TABSBTreePage {
public:
    // Makes a new tree page for `session` with an empty entry list.
    [[nodiscard]] static TABSBTreePage Create(TABSPageManager& pages, TABSSessionID session, std::size_t keySize,
                                              std::size_t leafValueSize, bool leaf, bool root, bool madeAsRoot);
    // Pins an existing tree page. Raises 20153 for a page of another type, 20100 "Index error:
    // invalid page number" for page -1, and 20028 when the header's key size is not `keySize` or
    // its entries do not fit in the data area.
    [[nodiscard]] static TABSBTreePage Open(TABSPageManager& pages, TABSSessionID session, TABSPageNo pageNo,
                                            std::size_t keySize, std::size_t leafValueSize);

    TABSBTreePage(TABSBTreePage&&) noexcept = default;
    TABSBTreePage& operator=(TABSBTreePage&&) noexcept = default;

    [[nodiscard]] TABSPageNo PageNo() const noexcept { return handle_.PageNo(); }
    [[nodiscard]] const TABSBTreePageHeader& Header() const noexcept { return header_; }
    [[nodiscard]] bool IsRoot() const noexcept { return header_.IsRoot; }
    [[nodiscard]] bool IsLeaf() const noexcept { return header_.IsLeaf; }
    [[nodiscard]] std::size_t Count() const noexcept { return header_.EntryCount; }
    [[nodiscard]] std::size_t KeySize() const noexcept { return header_.KeySize; }
    [[nodiscard]] std::size_t LeafValueSize() const noexcept { return leafValueSize_; }
    [[nodiscard]] const TABSBTreePageController& Controller() const noexcept;
    [[nodiscard]] std::size_t EntrySize() const noexcept { return Controller().EntrySize(header_.KeySize); }
    [[nodiscard]] TABSBTreePageGeometry Geometry() const noexcept;
    [[nodiscard]] std::size_t Capacity() const noexcept { return Geometry().Capacity(); }

    // Entry parts. REQUIRES: index < Count().
    [[nodiscard]] std::span<const std::uint8_t> Entry(std::size_t index) const noexcept;
    [[nodiscard]] std::span<const std::uint8_t> Key(std::size_t index) const noexcept;
    [[nodiscard]] std::span<const std::uint8_t> Value(std::size_t index) const noexcept;
    [[nodiscard]] TABSPageNo ChildPageNo(std::size_t index) const { return Controller().ChildPageNo(*this, index); }
    // The bytes of entries [first, first + count), contiguous.
    [[nodiscard]] std::vector<std::uint8_t> CopyEntries(std::size_t first, std::size_t count) const;

    // Changes. Each writes the tree header as well where it changes.
    void SetRoot(bool root, bool madeAsRoot);
    void SetLeaf(bool leaf);
    void SetPrevPageNo(TABSPageNo pageNo);
    void SetNextPageNo(TABSPageNo pageNo);
    void SetKey(std::size_t index, std::span<const std::uint8_t> key);
    void SetValue(std::size_t index, std::span<const std::uint8_t> value);
    void SetChildPageNo(std::size_t index, TABSPageNo child) { Controller().SetChildPageNo(*this, index, child); }
    // Inserts an entry at `index` (≤ Count()). Raises 20106 when the page has no room and 20099
    // for an index beyond the end.
    void InsertEntry(std::size_t index, std::span<const std::uint8_t> key, std::span<const std::uint8_t> value);
    // Raises 20025 on an empty page and 20099 for an index beyond the end.
    void RemoveEntry(std::size_t index);
    // Replaces all entries with `count` entries from `entries` (count × EntrySize bytes). Raises
    // 20106 when they do not fit.
    void ReplaceEntries(std::span<const std::uint8_t> entries, std::size_t count);

    // Lets go of the pin (before the page is given back).
    void Release() noexcept { handle_.Release(); }

private:
    TABSBTreePage(TABSPageHandle handle, std::size_t leafValueSize);
    [[nodiscard]] std::size_t EntriesOffset() const noexcept { return BTreePageHeader::kSize + header_.ExtraLength; }
    [[nodiscard]] std::span<std::uint8_t> MutableEntry(std::size_t index);
    void WriteHeader();

    TABSPageHandle handle_;
    std::size_t leafValueSize_ = 0;
    TABSBTreePageHeader header_;
    TABSBTreeLeafController leafController_{0};
    TABSBTreeNodeController nodeController_;
};

} // namespace kova
