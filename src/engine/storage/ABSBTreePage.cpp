#include "engine/storage/ABSBTreePage.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"

#include <cstring>

namespace kova {

namespace H = BTreePageHeader;

// ---------------------------------------------------------------------------------------------
// Header

TABSBTreePageHeader TABSBTreePageHeader::Decode(std::span<const std::uint8_t> data) noexcept {
    TABSBTreePageHeader h;
    h.IsRoot = data[H::kRootFlagOffset] != 0;
    h.IsLeaf = data[H::kLeafFlagOffset] != 0;
    h.PrevPageNo = ReadI32(data.data() + H::kPrevPageOffset);
    h.NextPageNo = ReadI32(data.data() + H::kNextPageOffset);
    h.MadeAsRoot = data[H::kMadeAsRootOffset] != 0;
    h.KeySize = ReadU16(data.data() + H::kKeySizeOffset);
    h.EntryCount = ReadU16(data.data() + H::kEntryCountOffset);
    h.ExtraLength = ReadU16(data.data() + H::kExtraLengthOffset);
    return h;
}

void TABSBTreePageHeader::Encode(std::span<std::uint8_t> data) const noexcept {
    data[H::kRootFlagOffset] = IsRoot ? 1 : 0;
    data[H::kLeafFlagOffset] = IsLeaf ? 1 : 0;
    WriteI32(data.data() + H::kPrevPageOffset, PrevPageNo);
    WriteI32(data.data() + H::kNextPageOffset, NextPageNo);
    data[H::kMadeAsRootOffset] = MadeAsRoot ? 1 : 0;
    data[H::kReservedOffset] = 0;
    WriteU16(data.data() + H::kKeySizeOffset, KeySize);
    WriteU16(data.data() + H::kEntryCountOffset, EntryCount);
    WriteU16(data.data() + H::kExtraLengthOffset, ExtraLength);
}

// ---------------------------------------------------------------------------------------------
// Geometry

std::size_t TABSBTreePageGeometry::Capacity() const noexcept {
    const std::size_t fixed = H::kSize + ExtraLength;
    if (EntrySize == 0 || DataSize < fixed)
        return 0;
    return (DataSize - fixed) / EntrySize;
}

bool TABSBTreePageGeometry::HasRoomForAnother(std::size_t count) const noexcept {
    return (count + 1) * EntrySize + H::kSize + ExtraLength <= DataSize;
}

bool TABSBTreePageGeometry::IsOverfull(std::size_t count) const noexcept {
    return count * EntrySize + H::kSize + ExtraLength > DataSize;
}

bool TABSBTreePageGeometry::IsUnderfull(std::size_t count) const noexcept {
    const std::size_t fixed = H::kSize + ExtraLength;
    if (DataSize < fixed)
        return false;
    // n × E < (D - 18 - X) ÷ 2, kept in integers.
    return 2 * count * EntrySize < DataSize - fixed;
}

bool TABSBTreePageGeometry::CanMerge(std::size_t count1, std::size_t count2) const noexcept {
    return (count1 + count2) * EntrySize + H::kSize + ExtraLength < DataSize;
}

// ---------------------------------------------------------------------------------------------
// Controllers

TABSPageNo TABSBTreeLeafController::ChildPageNo(const TABSBTreePage&, std::size_t) const {
    RaiseError(kInternalIndexNodeError, "Internal index error");
}

void TABSBTreeLeafController::SetChildPageNo(TABSBTreePage&, std::size_t, TABSPageNo) const {
    RaiseError(kInternalIndexNodeSetError, "Internal index error");
}

TABSPageNo TABSBTreeNodeController::ChildPageNo(const TABSBTreePage& page, std::size_t index) const {
    if (index >= page.Count())
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    return ReadI32(page.Value(index).data());
}

void TABSBTreeNodeController::SetChildPageNo(TABSBTreePage& page, std::size_t index, TABSPageNo child) const {
    std::uint8_t bytes[kNodeValueSize];
    WriteI32(bytes, child);
    page.SetValue(index, bytes);
}

// ---------------------------------------------------------------------------------------------
// Page

TABSBTreePage::TABSBTreePage(TABSPageHandle handle, std::size_t leafValueSize)
    : handle_(std::move(handle)), leafValueSize_(leafValueSize), leafController_(leafValueSize) {
    header_ = TABSBTreePageHeader::Decode(handle_.Data());
}

TABSBTreePage TABSBTreePage::Create(TABSPageManager& pages, TABSSessionID session, std::size_t keySize,
                                    std::size_t leafValueSize, bool leaf, bool root, bool madeAsRoot) {
    TABSBTreePage page(pages.AddPage(session, TABSPageType::TableIndex), leafValueSize);
    page.header_ = {};
    page.header_.IsRoot = root;
    page.header_.IsLeaf = leaf;
    page.header_.MadeAsRoot = madeAsRoot;
    page.header_.KeySize = static_cast<std::uint16_t>(keySize);
    page.WriteHeader();
    return page;
}

TABSBTreePage TABSBTreePage::Open(TABSPageManager& pages, TABSSessionID session, TABSPageNo pageNo,
                                  std::size_t keySize, std::size_t leafValueSize) {
    if (pageNo < 0)
        RaiseError(kIndexInvalidPageNumberError, "Index error: invalid page number");
    TABSBTreePage page(pages.GetPage(session, pageNo, static_cast<std::uint16_t>(TABSPageType::TableIndex)),
                       leafValueSize);
    const std::size_t dataSize = page.handle_.Data().size();
    const bool fits = dataSize >= H::kSize + page.header_.ExtraLength &&
                      page.header_.EntryCount <= page.Capacity();
    if (page.header_.KeySize != keySize || !fits)
        RaiseError(kIndexIntegrityError, "Index integrity violated. PageNo=%d EntryNo=%d",
                   {pageNo, static_cast<int>(page.header_.EntryCount)});
    return page;
}

const TABSBTreePageController& TABSBTreePage::Controller() const noexcept {
    if (header_.IsLeaf)
        return leafController_;
    return nodeController_;
}

TABSBTreePageGeometry TABSBTreePage::Geometry() const noexcept {
    return {handle_.Data().size(), EntrySize(), header_.ExtraLength};
}

std::span<const std::uint8_t> TABSBTreePage::Entry(std::size_t index) const noexcept {
    const std::size_t size = EntrySize();
    return handle_.Data().subspan(EntriesOffset() + index * size, size);
}

std::span<const std::uint8_t> TABSBTreePage::Key(std::size_t index) const noexcept {
    return Entry(index).first(header_.KeySize);
}

std::span<const std::uint8_t> TABSBTreePage::Value(std::size_t index) const noexcept {
    return Entry(index).subspan(header_.KeySize);
}

std::vector<std::uint8_t> TABSBTreePage::CopyEntries(std::size_t first, std::size_t count) const {
    if (first + count > Count())
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    const std::size_t size = EntrySize();
    auto bytes = handle_.Data().subspan(EntriesOffset() + first * size, count * size);
    return {bytes.begin(), bytes.end()};
}

std::span<std::uint8_t> TABSBTreePage::MutableEntry(std::size_t index) {
    const std::size_t size = EntrySize();
    return handle_.MutableData().subspan(EntriesOffset() + index * size, size);
}

void TABSBTreePage::WriteHeader() { header_.Encode(handle_.MutableData()); }

void TABSBTreePage::SetRoot(bool root, bool madeAsRoot) {
    header_.IsRoot = root;
    header_.MadeAsRoot = madeAsRoot;
    WriteHeader();
}

void TABSBTreePage::SetLeaf(bool leaf) {
    header_.IsLeaf = leaf;
    WriteHeader();
}

void TABSBTreePage::SetPrevPageNo(TABSPageNo pageNo) {
    header_.PrevPageNo = pageNo;
    WriteHeader();
}

void TABSBTreePage::SetNextPageNo(TABSPageNo pageNo) {
    header_.NextPageNo = pageNo;
    WriteHeader();
}

void TABSBTreePage::SetKey(std::size_t index, std::span<const std::uint8_t> key) {
    if (index >= Count())
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    auto entry = MutableEntry(index);
    std::memcpy(entry.data(), key.data(), std::min(key.size(), std::size_t{header_.KeySize}));
}

void TABSBTreePage::SetValue(std::size_t index, std::span<const std::uint8_t> value) {
    if (index >= Count())
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    auto entry = MutableEntry(index);
    const std::size_t valueSize = Controller().ValueSize();
    std::memcpy(entry.data() + header_.KeySize, value.data(), std::min(value.size(), valueSize));
}

void TABSBTreePage::InsertEntry(std::size_t index, std::span<const std::uint8_t> key,
                                std::span<const std::uint8_t> value) {
    const std::size_t count = Count();
    if (index > count)
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    if (!Geometry().HasRoomForAnother(count))
        RaiseError(kIndexPageFullError, "Cannot add data item to page. Page is full");
    const std::size_t size = EntrySize();
    auto data = handle_.MutableData();
    std::uint8_t* base = data.data() + EntriesOffset();
    std::memmove(base + (index + 1) * size, base + index * size, (count - index) * size);
    std::uint8_t* entry = base + index * size;
    std::memset(entry, 0, size);
    std::memcpy(entry, key.data(), std::min(key.size(), std::size_t{header_.KeySize}));
    std::memcpy(entry + header_.KeySize, value.data(), std::min(value.size(), size - header_.KeySize));
    header_.EntryCount = static_cast<std::uint16_t>(count + 1);
    WriteHeader();
}

void TABSBTreePage::RemoveEntry(std::size_t index) {
    const std::size_t count = Count();
    if (count == 0)
        RaiseError(kIndexPageEmptyError, "Index error: page is empty");
    if (index >= count)
        RaiseError(kIndexInvalidPositionError, "Index error: invalid position");
    const std::size_t size = EntrySize();
    auto data = handle_.MutableData();
    std::uint8_t* base = data.data() + EntriesOffset();
    std::memmove(base + index * size, base + (index + 1) * size, (count - index - 1) * size);
    std::memset(base + (count - 1) * size, 0, size);
    header_.EntryCount = static_cast<std::uint16_t>(count - 1);
    WriteHeader();
}

void TABSBTreePage::ReplaceEntries(std::span<const std::uint8_t> entries, std::size_t count) {
    const std::size_t size = EntrySize();
    if (count > Capacity() || entries.size() < count * size)
        RaiseError(kIndexPageFullError, "Cannot add data item to page. Page is full");
    auto data = handle_.MutableData();
    std::uint8_t* base = data.data() + EntriesOffset();
    const std::size_t area = data.size() - EntriesOffset();
    std::memset(base, 0, area);
    if (count > 0)
        std::memcpy(base, entries.data(), count * size);
    header_.EntryCount = static_cast<std::uint16_t>(count);
    WriteHeader();
}

} // namespace kova
