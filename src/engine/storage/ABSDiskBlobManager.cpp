// BLOB values of a table of a database file.
#include "engine/storage/ABSDiskBlobManager.h"

#include <optional>
#include <set>

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSBlobPages.h"

namespace kova {

namespace {

// References written with a one-byte id keep 255 where a large value's -1 was meant; such a
// reference may also name a small value whose id really is 255.
constexpr std::int16_t kAmbiguousID = 255;

} // namespace

TABSDiskBlobManager::TABSDiskBlobManager(TABSPageManager& pages, std::vector<TABSBlobFieldInfo> fields,
                                         TABSPageNo indexRoot)
    : TABSBaseBlobManager(std::move(fields)), pages_(pages), dataSize_(pages.PageSize() - PageHeader::kSize),
      index_(pages, indexRoot) {}

TABSDiskBlobManager::~TABSDiskBlobManager() = default;

void TABSDiskBlobManager::Close() const {
    if (!cache_.empty())
        RaiseError(kBlobCacheNotReleasedError, "Blob cache not released");
}

// ---------------------------------------------------------------------------------------------
// Cache entries

TABSDiskBlobManager::CacheEntry* TABSDiskBlobManager::LiveEntry(std::span<const std::uint8_t> record,
                                                                const TABSBlobFieldInfo& field) {
    const std::uint32_t handle = field.CacheHandle(record);
    if (handle == 0)
        return nullptr;
    auto it = cache_.find(handle);
    return it == cache_.end() ? nullptr : &it->second;
}

std::uint32_t TABSDiskBlobManager::AddEntry(CacheEntry entry) {
    // Handles are not reused soon, so that a stale copy of a record buffer rarely meets a handle
    // that was given to another value meanwhile.
    while (nextHandle_ == 0 || cache_.contains(nextHandle_))
        ++nextHandle_;
    const std::uint32_t handle = nextHandle_++;
    cache_.emplace(handle, std::move(entry));
    return handle;
}

bool TABSDiskBlobManager::NamesNoValue(std::span<const std::uint8_t> record, const TABSBlobFieldInfo& field) {
    // A reference to page 0 or -1 reads as no value unless an unposted value waits in the cache.
    return !field.Reference(record).NamesValue() && LiveEntry(record, field) == nullptr;
}

void TABSDiskBlobManager::FreeEntry(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field) {
    cache_.erase(field.CacheHandle(record));
    field.SetCacheHandle(record, 0);
}

void TABSDiskBlobManager::SetDirtyValue(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field,
                                        TABSRawBlob value) {
    FreeEntry(record, field);
    CacheEntry entry;
    entry.BlockCount = value.BlockCount;
    entry.UncompressedSize = value.UncompressedSize;
    entry.Dirty = true;
    entry.StoredBytes = std::move(value.StoredBytes);
    field.SetCacheHandle(record, AddEntry(std::move(entry)));
}

void TABSDiskBlobManager::Load(TABSSessionID session, std::span<std::uint8_t> record, const TABSBlobFieldInfo& field) {
    if (LiveEntry(record, field) != nullptr)
        return;
    const TABSBlobReference reference = field.Reference(record);
    if (!reference.NamesValue()) {
        field.SetCacheHandle(record, 0);
        return;
    }
    TABSRawBlob value = ReadValue(session, reference);
    CacheEntry entry;
    entry.BlockCount = value.BlockCount;
    entry.UncompressedSize = value.UncompressedSize;
    entry.StoredBytes = std::move(value.StoredBytes);
    field.SetCacheHandle(record, AddEntry(std::move(entry)));
}

void TABSDiskBlobManager::EnsureLoaded(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo) {
    Load(session, record, Field(fieldNo));
}

void TABSDiskBlobManager::ReleaseFieldCache(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field,
                                            bool force) {
    CacheEntry* entry = LiveEntry(record, field);
    if (entry == nullptr)
        field.SetCacheHandle(record, 0);  // a stale handle reads as none from now on
    else if (!entry->Dirty || force)
        FreeEntry(record, field);
}

void TABSDiskBlobManager::ReleaseRecordCache(std::span<std::uint8_t> record, bool force) {
    for (const TABSBlobFieldInfo& field : Fields())
        ReleaseFieldCache(record, field, force);
}

// ---------------------------------------------------------------------------------------------
// Cursor operations

TABSBaseBlobManager::ValueInfo TABSDiskBlobManager::ReadValue(TABSSessionID session, std::span<std::uint8_t> record,
                                                              const TABSBlobFieldInfo& field, TABSStream& out) {
    if (field.IsNull(record) || NamesNoValue(record, field))
        return {};
    Load(session, record, field);
    const CacheEntry* entry = LiveEntry(record, field);
    if (entry == nullptr)
        RaiseError(kBlobCannotReadError, "Cannot read BLOB field value");
    const std::size_t size = entry->StoredBytes.size();
    if (size > 0 && out.Write(entry->StoredBytes.data(), size) != size)
        RaiseError(10145, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
                   {out.Position(), out.Size(), size, out.Position()});
    return {entry->BlockCount, entry->UncompressedSize};
}

void TABSDiskBlobManager::StoreBlobStream(TABSSessionID, std::span<std::uint8_t> record, TABSBlobStream& stream) {
    if (!stream.Modified())
        return;
    const TABSBlobFieldInfo& field = Field(stream.FieldNo());
    SetDirtyValue(record, field, stream.ToRaw());
    field.SetNull(record, stream.Size() == 0);
    stream.SetModified(false);
}

TABSRawBlob TABSDiskBlobManager::GetRaw(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    if (field.IsNull(record) || NamesNoValue(record, field))
        return {};
    Load(session, record, field);
    const CacheEntry* entry = LiveEntry(record, field);
    if (entry == nullptr)
        RaiseError(kBlobCannotReadRawError, "Cannot read BLOB field value");
    return {entry->BlockCount, entry->UncompressedSize, entry->StoredBytes};
}

void TABSDiskBlobManager::SetRaw(TABSSessionID, std::span<std::uint8_t> record, std::int32_t fieldNo,
                                 const TABSRawBlob& raw) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    SetDirtyValue(record, field, raw);
    field.SetNull(record, raw.StoredSize() == 0);
}

// ---------------------------------------------------------------------------------------------
// Posting and deleting

void TABSDiskBlobManager::PostDirty(TABSSessionID session, std::span<std::uint8_t> record,
                                    const TABSBlobFieldInfo& field, CacheEntry& entry,
                                    std::optional<TABSBlobReference> replaced) {
    if (replaced && replaced->NamesValue())
        DeleteValue(session, *replaced);
    TABSBlobReference reference;
    if (entry.UncompressedSize > 0) {
        TABSRawBlob value{entry.BlockCount, entry.UncompressedSize, entry.StoredBytes};
        reference = StoreValue(session, value);
    }
    // Only now does the buffer change: a failure above leaves the entry dirty and the reference as
    // it was, and the session's rollback restores the pages.
    field.SetReference(record, reference);
    field.SetNull(record, !reference.NamesValue());
    // The entry is released, but kept aside until the next post in case the change fails later.
    const std::uint32_t handle = field.CacheHandle(record);
    posted_[handle] = std::move(entry);
    FreeEntry(record, field);
}

void TABSDiskBlobManager::StoreCopy(TABSSessionID session, std::span<std::uint8_t> record,
                                    const TABSBlobFieldInfo& field) {
    const TABSBlobReference source = field.Reference(record);
    const CacheEntry* entry = LiveEntry(record, field);
    const TABSRawBlob value = entry != nullptr
                                  ? TABSRawBlob{entry->BlockCount, entry->UncompressedSize, entry->StoredBytes}
                                  : ReadValue(session, source);
    field.SetReference(record, value.UncompressedSize > 0 ? StoreValue(session, value) : TABSBlobReference{});
    field.SetNull(record, !field.Reference(record).NamesValue());
}

void TABSDiskBlobManager::PostField(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo) {
    const TABSBlobFieldInfo& field = Field(fieldNo);
    CacheEntry* entry = LiveEntry(record, field);
    if (entry != nullptr && entry->Dirty)
        PostDirty(session, record, field, *entry, field.Reference(record));
}

void TABSDiskBlobManager::PostRecord(TABSSessionID session, std::span<std::uint8_t> record,
                                     std::span<const std::uint8_t> oldRecord) {
    posted_.clear();
    const bool inserting = oldRecord.empty();
    for (const TABSBlobFieldInfo& field : Fields()) {
        CacheEntry* entry = LiveEntry(record, field);
        const TABSBlobReference reference = field.Reference(record);
        // The value the stored record owns until now (none for an insert).
        std::optional<TABSBlobReference> owned;
        if (!inserting && !field.IsNull(oldRecord) && field.Reference(oldRecord).NamesValue())
            owned = field.Reference(oldRecord);

        if (entry != nullptr && entry->Dirty) {
            PostDirty(session, record, field, *entry, owned);
        } else if (inserting) {
            // A new record whose buffer still names a stored value was copied from another
            // record: sharing the value would let one record's delete take the other's value.
            if (!field.IsNull(record) && reference.NamesValue())
                StoreCopy(session, record, field);
        } else if (field.IsNull(record)) {
            // Made NULL without a new value: the old value goes.
            if (owned)
                DeleteValue(session, *owned);
            field.SetReference(record, {});
        } else if (owned) {
            // Untouched: the stored record keeps its value, whatever the buffer says (it may be a
            // stale copy).
            field.SetReference(record, *owned);
        } else if (reference.NamesValue()) {
            // The stored record had none; the buffer names another record's value.
            StoreCopy(session, record, field);
        }
    }
}

void TABSDiskBlobManager::AbortPost() {
    for (auto& [handle, entry] : posted_)
        cache_.insert_or_assign(handle, std::move(entry));
    posted_.clear();
}

void TABSDiskBlobManager::DeleteFieldValue(TABSSessionID session, std::span<std::uint8_t> record,
                                           const TABSBlobFieldInfo& field) {
    if (field.IsNull(record))
        return;
    const TABSBlobReference reference = field.Reference(record);
    if (reference.NamesValue()) {
        DeleteValue(session, reference);
        field.SetReference(record, {});
    }
    if (CacheEntry* entry = LiveEntry(record, field))
        entry->Dirty = false;
}

void TABSDiskBlobManager::DeleteField(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo) {
    DeleteFieldValue(session, record, Field(fieldNo));
}

void TABSDiskBlobManager::DeleteRecord(TABSSessionID session, std::span<std::uint8_t> record) {
    for (const TABSBlobFieldInfo& field : Fields())
        DeleteFieldValue(session, record, field);
}

void TABSDiskBlobManager::Empty(TABSSessionID session, const TABSForEachRecord& records) {
    if (!HasBlobFields())
        return;
    // Large values go one by one; shared pages are collected and given back once each, since
    // the page index is cleared as a whole afterwards.
    std::set<TABSPageNo> sharedPages;
    records([&](std::span<std::uint8_t> record) {
        for (const TABSBlobFieldInfo& field : Fields()) {
            if (field.IsNull(record))
                continue;
            const TABSBlobReference reference = field.Reference(record);
            if (!reference.NamesValue())
                continue;
            bool large = reference.IsLarge();
            if (reference.BlobID == kAmbiguousID)
                large = TABSLargeBlob::LooksLarge(pages_, session, reference.PageNo);
            if (large)
                TABSLargeBlob::Delete(pages_, session, reference.PageNo);
            else
                sharedPages.insert(reference.PageNo);
        }
    });
    for (TABSPageNo pageNo : sharedPages)
        pages_.RemovePage(session, pageNo);
    index_.Clear(session);
}

void TABSDiskBlobManager::Drop(TABSSessionID session, const TABSForEachRecord& records) {
    Empty(session, records);
    if (index_.RootPageNo() != kNoPage)
        index_.Drop(session);
}

void TABSDiskBlobManager::CheckPageIndex(TABSSessionID session) {
    if (index_.RootPageNo() == kNoPage)
        return;
    index_.CheckIntegrity(session);
    // A wrong count is no tree fault but does harm all the same: too low, and a value is appended
    // past the page's end; too high, and the page's room is never used again.
    for (const TABSBTreePageIndex::Entry& entry : index_.Entries(session)) {
        const TABSSmallBlobPage page = TABSSmallBlobPage::Open(pages_, session, entry.PageNo);
        std::size_t used = 0;
        for (const TABSSmallBlobPage::Entry& value : page.Entries())
            used += value.Needed();
        if (used != entry.Count)
            RaiseError(kBlobPageIndexMismatchError, "BLOB page index disagrees with page %d: %d bytes listed, %d bytes used",
                       {entry.PageNo, static_cast<int>(entry.Count), static_cast<long long>(used)});
    }
}

// ---------------------------------------------------------------------------------------------
// Values by reference

TABSBlobReference TABSDiskBlobManager::StoreValue(TABSSessionID session, const TABSRawBlob& value) {
    if (!IsSmallBlob(value.StoredSize(), dataSize_))
        return {TABSLargeBlob::Store(pages_, session, value), TABSBlobReference::kLargeValueID};

    const auto needed = static_cast<std::uint32_t>(TABSBlobHeader::kSize + value.StoredBytes.size());
    const std::optional<TABSPageNo> withRoom =
        index_.FindPageWithRoom(session, needed, static_cast<std::uint32_t>(dataSize_));
    std::uint32_t used = 0;
    TABSSmallBlobPage page = withRoom ? TABSSmallBlobPage::Open(pages_, session, *withRoom)
                                      : TABSSmallBlobPage::Create(pages_, session);
    std::set<std::int16_t> reserved;
    if (withRoom) {
        used = index_.Find(session, *withRoom).value_or(0);
        reserved = TABSSmallBlobPage::CommittedIDs(pages_, *withRoom);
    }
    const std::int16_t id = page.Append(value, used, reserved);
    const TABSPageNo pageNo = page.PageNo();
    page.Release();
    index_.AddUsedBytes(session, pageNo, static_cast<std::uint16_t>(needed), static_cast<std::uint32_t>(dataSize_));
    return {pageNo, id};
}

TABSRawBlob TABSDiskBlobManager::ReadValue(TABSSessionID session, const TABSBlobReference& reference) {
    auto asLarge = [&] { return TABSLargeBlob::Read(pages_, session, reference.PageNo); };
    auto asSmall = [&] { return TABSSmallBlobPage::Open(pages_, session, reference.PageNo).Read(reference.BlobID); };
    if (reference.BlobID != kAmbiguousID)
        return reference.IsLarge() ? asLarge() : asSmall();
    const bool large = TABSLargeBlob::LooksLarge(pages_, session, reference.PageNo);
    try {
        return large ? asLarge() : asSmall();
    } catch (const EABSException&) {
        return large ? asSmall() : asLarge();
    }
}

void TABSDiskBlobManager::DeleteValue(TABSSessionID session, const TABSBlobReference& reference) {
    if (!reference.NamesValue())
        return;
    auto asLarge = [&] { TABSLargeBlob::Delete(pages_, session, reference.PageNo); };
    auto asSmall = [&] {
        TABSSmallBlobPage page = TABSSmallBlobPage::Open(pages_, session, reference.PageNo);
        const std::size_t needed = page.Remove(reference.BlobID);
        const bool emptied = page.EntryCount() == 0;
        page.Release();
        if (emptied)
            pages_.RemovePage(session, reference.PageNo);
        index_.SubtractUsedBytes(session, reference.PageNo, static_cast<std::uint16_t>(needed));
    };
    if (reference.BlobID != kAmbiguousID) {
        if (reference.IsLarge())
            asLarge();
        else
            asSmall();
        return;
    }
    const bool large = TABSLargeBlob::LooksLarge(pages_, session, reference.PageNo);
    try {
        if (large)
            asLarge();
        else
            asSmall();
    } catch (const EABSException&) {
        if (large)
            asSmall();
        else
            asLarge();
    }
}

} // namespace kova
