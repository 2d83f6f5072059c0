// Shared BLOB pages and the page runs of large values.
#include "engine/storage/ABSBlobPages.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

namespace kova {

namespace {

constexpr auto kBlobPageType = static_cast<std::uint16_t>(TABSPageType::TableBlob);

[[noreturn]] void RaiseDamagedPage(TABSPageNo pageNo) {
    RaiseError(kBlobDamagedError, "BLOB value is damaged. PageNo=%d", {pageNo});
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TABSSmallBlobPage

TABSSmallBlobPage TABSSmallBlobPage::Create(TABSPageManager& pages, TABSSessionID session) {
    // A new page's data area is zero, so its entry count is 0.
    return TABSSmallBlobPage(pages.AddPage(session, TABSPageType::TableBlob));
}

TABSSmallBlobPage TABSSmallBlobPage::Open(TABSPageManager& pages, TABSSessionID session, TABSPageNo pageNo) {
    return TABSSmallBlobPage(pages.GetPage(session, pageNo, kBlobPageType));
}

void TABSSmallBlobPage::RaiseDamaged() const { RaiseDamagedPage(PageNo()); }

std::uint16_t TABSSmallBlobPage::EntryCount() const noexcept {
    return ReadU16(handle_.Data().data() + SmallBlobLayout::kCountOffset);
}

std::vector<TABSSmallBlobPage::Entry> TABSSmallBlobPage::EntriesOf(std::span<const std::uint8_t> data,
                                                                    TABSPageNo pageNo) {
    if (data.size() < SmallBlobLayout::kFirstEntryOffset)
        RaiseDamagedPage(pageNo);
    const std::uint16_t count = ReadU16(data.data() + SmallBlobLayout::kCountOffset);
    std::vector<Entry> entries;
    entries.reserve(count);
    std::size_t offset = SmallBlobLayout::kFirstEntryOffset;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (offset + TABSBlobHeader::kSize > data.size())
            RaiseDamagedPage(pageNo);
        Entry entry{offset, TABSBlobHeader::Decode(data.subspan(offset))};
        if (entry.Header.StoredSize < 0 ||
            entry.Header.StoredSize > static_cast<std::int64_t>(data.size() - offset - TABSBlobHeader::kSize))
            RaiseDamagedPage(pageNo);
        offset += entry.Needed();
        entries.push_back(entry);
    }
    return entries;
}

std::vector<TABSSmallBlobPage::Entry> TABSSmallBlobPage::Entries() const { return EntriesOf(handle_.Data(), PageNo()); }

std::set<std::int16_t> TABSSmallBlobPage::CommittedIDs(TABSPageManager& pages, TABSPageNo pageNo) {
    const std::vector<std::uint8_t> data = pages.ReadCommittedData(pageNo);
    std::set<std::int16_t> ids;
    if (data.empty())
        return ids;
    for (const Entry& entry : EntriesOf(data, pageNo))
        ids.insert(entry.Header.BlobID);
    return ids;
}

std::size_t TABSSmallBlobPage::EndOffset() const {
    const std::vector<Entry> entries = Entries();
    return entries.empty() ? SmallBlobLayout::kFirstEntryOffset : entries.back().Offset + entries.back().Needed();
}

std::optional<TABSSmallBlobPage::Entry> TABSSmallBlobPage::Find(std::int16_t id) const {
    for (const Entry& entry : Entries())
        if (entry.Header.BlobID == id)
            return entry;
    return std::nullopt;
}

std::int16_t TABSSmallBlobPage::ChooseID(const std::set<std::int16_t>& reserved) const {
    std::set<std::int16_t> used = reserved;
    for (const Entry& entry : Entries())
        used.insert(entry.Header.BlobID);
    // Counting upwards as a signed 16-bit value; the wrap from 32767 goes through the negative
    // ids and -2 is followed by 0. Reaching -1 means every id is taken.
    auto id = static_cast<std::int16_t>(EntryCount());
    while (used.contains(id)) {
        id = (id == -2) ? std::int16_t{0} : static_cast<std::int16_t>(static_cast<std::uint16_t>(id) + 1U);
        if (id == TABSBlobReference::kLargeValueID)
            RaiseError(kBlobInvalidIDError, "Invalid blob field ID");
    }
    if (id == TABSBlobReference::kLargeValueID)
        RaiseError(kBlobInvalidIDError, "Invalid blob field ID");
    return id;
}

std::int16_t TABSSmallBlobPage::Append(const TABSRawBlob& value, std::uint32_t usedInIndex,
                                       const std::set<std::int16_t>& reserved) {
    const std::size_t dataSize = handle_.Data().size();
    const std::size_t end = EndOffset();
    const std::size_t needed = TABSBlobHeader::kSize + value.StoredBytes.size();
    if (end + needed > dataSize)
        RaiseError(kBlobCannotAddError,
                   "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, PageDataSize=%d, "
                   "SizeInBlobPageIndex=%d",
                   {static_cast<int>(EntryCount()), end, needed, dataSize, usedInIndex});
    const std::int16_t id = ChooseID(reserved);
    const TABSBlobHeader header{id, value.BlockCount, value.StoredSize(), value.UncompressedSize};
    std::span<std::uint8_t> data = handle_.MutableData();
    header.Encode(data.subspan(end));
    if (!value.StoredBytes.empty())
        std::memcpy(data.data() + end + TABSBlobHeader::kSize, value.StoredBytes.data(), value.StoredBytes.size());
    WriteU16(data.data() + SmallBlobLayout::kCountOffset, static_cast<std::uint16_t>(EntryCount() + 1));
    return id;
}

TABSRawBlob TABSSmallBlobPage::Read(std::int16_t id) const {
    const std::optional<Entry> entry = Find(id);
    if (!entry)
        RaiseError(kBlobNotFoundError, "Cannot find blob field");
    const std::uint8_t* bytes = handle_.Data().data() + entry->Offset + TABSBlobHeader::kSize;
    TABSRawBlob value;
    value.BlockCount = entry->Header.BlockCount;
    value.UncompressedSize = entry->Header.UncompressedSize;
    value.StoredBytes.assign(bytes, bytes + entry->Header.StoredSize);
    return value;
}

std::size_t TABSSmallBlobPage::Remove(std::int16_t id) {
    const std::optional<Entry> entry = Find(id);
    if (!entry)
        RaiseError(kBlobNotFoundError, "Cannot find blob field");
    const std::size_t end = EndOffset();
    const std::size_t needed = entry->Needed();
    std::span<std::uint8_t> data = handle_.MutableData();
    std::memmove(data.data() + entry->Offset, data.data() + entry->Offset + needed, end - entry->Offset - needed);
    // The vacated tail is zeroed so that a page never carries bytes of a deleted value.
    std::memset(data.data() + end - needed, 0, needed);
    WriteU16(data.data() + SmallBlobLayout::kCountOffset, static_cast<std::uint16_t>(EntryCount() - 1));
    return needed;
}

// ---------------------------------------------------------------------------------------------
// TABSLargeBlob

TABSPageNo TABSLargeBlob::Store(TABSPageManager& pages, TABSSessionID session, const TABSRawBlob& value) {
    const std::size_t dataSize = pages.PageSize() - PageHeader::kSize;
    const std::uint8_t* source = value.StoredBytes.data();
    std::size_t remaining = value.StoredBytes.size();

    std::vector<TABSPageNo> dataPages;
    TABSPageHandle first = pages.AddPage(session, TABSPageType::TableBlob);
    dataPages.push_back(first.PageNo());
    // The id of a large value's header is never read; -1 marks it for a reader of the raw page.
    const TABSBlobHeader header{TABSBlobReference::kLargeValueID, value.BlockCount, value.StoredSize(),
                                value.UncompressedSize};
    header.Encode(first.MutableData());

    std::size_t chunk = std::min(remaining, dataSize - LargeBlobLayout::kFirstDataOffset);
    if (chunk > 0)
        std::memcpy(first.MutableData().data() + LargeBlobLayout::kFirstDataOffset, source, chunk);
    source += chunk;
    remaining -= chunk;
    std::size_t endOffset = LargeBlobLayout::kFirstDataOffset + chunk;

    // `last` pins the last data page while the data goes on; the first page stays pinned for the
    // locator written at the end.
    TABSPageHandle last;
    while (remaining > 0) {
        last = pages.AddPage(session, TABSPageType::TableBlob);
        dataPages.push_back(last.PageNo());
        chunk = std::min(remaining, dataSize);
        std::memcpy(last.MutableData().data(), source, chunk);
        source += chunk;
        remaining -= chunk;
        endOffset = chunk;
    }

    // The page list: in the last data page behind the data, or from a new page when it is full.
    // `list` is empty while the list is written into the first page (a one-page value).
    TABSPageHandle list;
    std::size_t offset = endOffset;
    if (endOffset == dataSize) {
        list = pages.AddPage(session, TABSPageType::TableBlob);
        offset = 0;
    } else if (last) {
        list = std::move(last);
    }
    const TABSPageNo listStartPage = list ? list.PageNo() : first.PageNo();
    const std::size_t listStartOffset = offset;

    std::size_t written = 0;
    for (;;) {
        TABSPageHandle& current = list ? list : first;
        const std::size_t take = std::min((dataSize - offset) / 4, dataPages.size() - written);
        std::uint8_t* data = current.MutableData().data();
        for (std::size_t i = 0; i < take; ++i)
            WriteI32(data + offset + i * 4, dataPages[written + i]);
        written += take;
        if (written == dataPages.size())
            break;
        TABSPageHandle next = pages.AddPage(session, TABSPageType::TableBlob);
        current.SetNextPageNo(next.PageNo());
        list = std::move(next);
        offset = 0;
    }

    std::uint8_t* locator = first.MutableData().data();
    WriteI32(locator + LargeBlobLayout::kListPageOffset, listStartPage);
    WriteU16(locator + LargeBlobLayout::kListOffsetOffset, static_cast<std::uint16_t>(listStartOffset));
    WriteI32(locator + LargeBlobLayout::kDataPageCountOffset, static_cast<std::int32_t>(dataPages.size()));
    return dataPages.front();
}

TABSLargeBlob::Layout TABSLargeBlob::ReadLayout(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage) {
    const std::size_t dataSize = pages.PageSize() - PageHeader::kSize;
    Layout layout;
    TABSPageNo listPageNo = kNoPage;
    std::size_t listOffset = 0;
    std::int32_t count = 0;
    {
        TABSPageHandle first = pages.GetPage(session, firstPage, kBlobPageType);
        const std::uint8_t* data = first.Data().data();
        layout.Header = TABSBlobHeader::Decode(first.Data());
        listPageNo = ReadI32(data + LargeBlobLayout::kListPageOffset);
        listOffset = ReadU16(data + LargeBlobLayout::kListOffsetOffset);
        count = ReadI32(data + LargeBlobLayout::kDataPageCountOffset);
    }
    // The data pages must be able to hold the stored size: a damaged header must not make the
    // reader allocate or copy beyond what the pages hold.
    const std::int64_t stored = layout.Header.StoredSize;
    const auto firstRoom = static_cast<std::int64_t>(dataSize - LargeBlobLayout::kFirstDataOffset);
    const auto page = static_cast<std::int64_t>(dataSize);
    if (count < 1 || stored < 0 || listOffset > dataSize || listPageNo < 0 ||
        stored > firstRoom + (static_cast<std::int64_t>(count) - 1) * page || count > stored / page + 2)
        RaiseDamagedPage(firstPage);

    layout.DataPages.reserve(static_cast<std::size_t>(count));
    std::set<TABSPageNo> visited;
    TABSPageNo current = listPageNo;
    std::size_t offset = listOffset;
    while (layout.DataPages.size() < static_cast<std::size_t>(count)) {
        if (current < 0 || !visited.insert(current).second)
            RaiseDamagedPage(firstPage);
        layout.ListPages.push_back(current);
        TABSPageHandle list = pages.GetPage(session, current, kBlobPageType);
        const std::uint8_t* data = list.Data().data();
        const std::size_t room = (dataSize - offset) / 4;
        const std::size_t take = std::min(room, static_cast<std::size_t>(count) - layout.DataPages.size());
        for (std::size_t i = 0; i < take; ++i)
            layout.DataPages.push_back(ReadI32(data + offset + i * 4));
        current = list.NextPageNo();
        offset = 0;
    }
    if (layout.DataPages.front() != firstPage)
        RaiseDamagedPage(firstPage);
    return layout;
}

TABSRawBlob TABSLargeBlob::Read(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage) {
    const std::size_t dataSize = pages.PageSize() - PageHeader::kSize;
    const Layout layout = ReadLayout(pages, session, firstPage);
    TABSRawBlob value;
    value.BlockCount = layout.Header.BlockCount;
    value.UncompressedSize = layout.Header.UncompressedSize;
    value.StoredBytes.resize(static_cast<std::size_t>(layout.Header.StoredSize));
    std::size_t done = 0;
    for (std::size_t i = 0; i < layout.DataPages.size() && done < value.StoredBytes.size(); ++i) {
        TABSPageHandle data = pages.GetPage(session, layout.DataPages[i], kBlobPageType);
        const std::size_t from = i == 0 ? LargeBlobLayout::kFirstDataOffset : 0;
        const std::size_t take = std::min(value.StoredBytes.size() - done, dataSize - from);
        std::memcpy(value.StoredBytes.data() + done, data.Data().data() + from, take);
        done += take;
    }
    return value;
}

void TABSLargeBlob::Delete(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage) {
    const Layout layout = ReadLayout(pages, session, firstPage);
    std::set<TABSPageNo> given;
    for (TABSPageNo pageNo : layout.DataPages)
        if (given.insert(pageNo).second)
            pages.RemovePage(session, pageNo);
    // The first list page is the last data page unless the data filled that page; a damaged list
    // naming a page twice must not give it back twice either.
    for (TABSPageNo pageNo : layout.ListPages)
        if (given.insert(pageNo).second)
            pages.RemovePage(session, pageNo);
}

bool TABSLargeBlob::LooksLarge(TABSPageManager& pages, TABSSessionID session, TABSPageNo firstPage) noexcept {
    try {
        const auto dataSize = static_cast<std::int64_t>(pages.PageSize() - PageHeader::kSize);
        TABSPageHandle first = pages.GetPage(session, firstPage, kBlobPageType);
        const TABSBlobHeader header = TABSBlobHeader::Decode(first.Data());
        const std::int64_t n = ReadI32(first.Data().data() + LargeBlobLayout::kDataPageCountOffset);
        const std::int64_t s = header.StoredSize;
        return n * dataSize > s && (n - 2) * dataSize < s;
    } catch (...) {
        return false;
    }
}

} // namespace kova
