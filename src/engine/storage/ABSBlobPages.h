// The two page formats of BLOB values (page type 11, "TableBlob Page"). D is the page data size.
//
// Shared page: small values packed one after the other.
//   data offset 0   uint16  entry count n
//   data offset 2   n entries: a 22-byte BLOB header (ABSBlob.h), then stored-size bytes
// Entry i starts at 2 + Σ (22 + stored size of entry j) over j < i. Ids within a page are unique
// and never -1. The header's next-page field stays -1.
//
// Large value: a first page, continuation pages and a page list.
//   first page, data offset 0   BLOB header (22 bytes)
//   first page, data offset 22  locator: int32 list page, uint16 list offset, int32 data page count
//   first page, data offset 32  the first D - 32 stored bytes
//   continuation page, offset 0 the next D stored bytes (the last one: the rest)
//   page list                   int32 page numbers of all data pages in order, the first included
// The list starts in the last data page right after its last stored byte, or at offset 0 of a new
// page when the data ends exactly at the page's end. A list page holds floor((D - start) / 4)
// entries; further list pages are chained through the header's next-page field and start at 0.
// Data pages are not chained; only the list gives their order.
//
// Page bytes are untrusted: every walk is bounded, and damage raises 20293 "BLOB value is
// damaged. PageNo=%d" instead of reading past a page.
#pragma once

#include "engine/storage/ABSBlob.h"
#include "engine/storage/ABSPage.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace kova {

// Offsets inside a large value's first page (data area).
namespace LargeBlobLayout {
inline constexpr std::size_t kHeaderOffset = 0;
inline constexpr std::size_t kListPageOffset = 22;
inline constexpr std::size_t kListOffsetOffset = 26;
inline constexpr std::size_t kDataPageCountOffset = 28;
inline constexpr std::size_t kFirstDataOffset = 32;
static_assert(kListPageOffset == TABSBlobHeader::kSize);
static_assert(kFirstDataOffset == kDataPageCountOffset + 4);
} // namespace LargeBlobLayout

// Offsets inside a shared page (data area).
namespace SmallBlobLayout {
inline constexpr std::size_t kCountOffset = 0;
inline constexpr std::size_t kFirstEntryOffset = 2;
} // namespace SmallBlobLayout

// Whether a value of `storedSize` bytes shares a page with others (stored size + 24 < D).
[[nodiscard]] constexpr bool IsSmallBlob(std::int64_t storedSize, std::size_t pageDataSize) noexcept {
    return storedSize + 24 < static_cast<std::int64_t>(pageDataSize);
}

// One shared BLOB page, pinned through its handle.
class TABSSmallBlobPage {
public:
    struct Entry {
        std::size_t Offset = 0;  // of the header in the data area
        TABSBlobHeader Header;
        [[nodiscard]] std::size_t Needed() const noexcept {
            return TABSBlobHeader::kSize + static_cast<std::size_t>(Header.StoredSize);
        }
    };

    // A new, empty shared page for `session`.
    [[nodiscard]] static TABSSmallBlobPage Create(TABSPageManager& pages, TABSSessionID session);
    // An existing page; 20153 when it is not of type 11.
    [[nodiscard]] static TABSSmallBlobPage Open(TABSPageManager& pages, TABSSessionID session, TABSPageNo pageNo);

    [[nodiscard]] TABSPageNo PageNo() const noexcept { return handle_.PageNo(); }
    [[nodiscard]] std::uint16_t EntryCount() const noexcept;
    // All entries in order; 20293 when they do not fit the page.
    [[nodiscard]] std::vector<Entry> Entries() const;
    // Offset behind the last entry.
    [[nodiscard]] std::size_t EndOffset() const;
    [[nodiscard]] std::optional<Entry> Find(std::int16_t id) const;

    // The entries of a data area; 20293 when they do not fit it.
    [[nodiscard]] static std::vector<Entry> EntriesOf(std::span<const std::uint8_t> data, TABSPageNo pageNo);
    // The ids on the page as the last commit left it (none for a page not committed yet). A new
    // value must not take one of them: until the commit is written whole, a record on disk may
    // still name the value that had it, and would read the new one in its place.
    [[nodiscard]] static std::set<std::int16_t> CommittedIDs(TABSPageManager& pages, TABSPageNo pageNo);

    // The id for a new entry: from the entry count upwards past ids in use and `reserved` ids (-2
    // is followed by 0); 20172 "Invalid blob field ID" when that reaches -1.
    [[nodiscard]] std::int16_t ChooseID(const std::set<std::int16_t>& reserved = {}) const;
    // Appends an entry and returns its id (chosen past `reserved`). Raises 20290 when it does not
    // fit; `usedInIndex` is the page's used bytes in the BLOB page index, for the message.
    std::int16_t Append(const TABSRawBlob& value, std::uint32_t usedInIndex, const std::set<std::int16_t>& reserved = {});
    // The entry's value; 20171 when the id is not on the page.
    [[nodiscard]] TABSRawBlob Read(std::int16_t id) const;
    // Removes the entry, moving the following ones down; returns its bytes (22 + stored size).
    // 20171 when the id is not on the page.
    std::size_t Remove(std::int16_t id);

    // Unpins the page (before it is given back).
    void Release() noexcept { handle_.Release(); }

private:
    explicit TABSSmallBlobPage(TABSPageHandle handle) noexcept : handle_(std::move(handle)) {}
    [[noreturn]] void RaiseDamaged() const;

    TABSPageHandle handle_;
};

// Large values: a run of pages with a page list (see above). All functions take the session whose
// page set receives the changes.
class TABSLargeBlob {
public:
    // Writes the value into new pages and returns the first page's number.
    [[nodiscard]] static TABSPageNo Store(TABSPageManager& pages, TABSSessionID session, const TABSRawBlob& value);
    [[nodiscard]] static TABSRawBlob Read(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage);
    // Gives back the data pages in list order, then the list pages (the first list page only when
    // it is not the last data page).
    static void Delete(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage);

    // For a reference with id 255: whether the first page looks like the start of a large value.
    // With n the locator's data page count and s the header's stored size: n × D > s and
    // (n - 2) × D < s. A page that cannot be read counts as small.
    [[nodiscard]] static bool LooksLarge(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage) noexcept;

    struct Layout {
        TABSBlobHeader Header;
        std::vector<TABSPageNo> DataPages;  // in order, the first included
        std::vector<TABSPageNo> ListPages;  // every list page visited, in order
    };
    // Reads header, locator and page list (no data). 20293 on damage.
    [[nodiscard]] static Layout ReadLayout(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage);
};

} // namespace kova
