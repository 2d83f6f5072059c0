// BLOB values of one table of a database file: shared pages for small values, page runs with a
// page list for large ones, the BLOB page index that finds room in shared pages, and the cache of
// values that cursors work on.
//
// D is the page data size (PageSize - 40; 4056 for 4096-byte pages). A value of stored size s is
// small when s + 24 < D (up to 4031 bytes for D = 4056) and shares a page; otherwise it is large.
// Page formats: ABSBlobPages.h.
//
// Cache entries: a cursor that reads or sets a value gets an entry {block count, uncompressed
// size, dirty flag, stored bytes} owned here; the record buffer carries the entry's handle in the
// 4 bytes behind the reference. A handle that is not in the live list (a stale copy of a buffer)
// reads as none. Dirty entries (set, not yet posted) survive a non-forced release.
//
// Nothing is committed here: pages change in the session's page set and commit or roll back with
// the record changes.
#pragma once

#include "engine/storage/ABSBTreePageIndex.h"
#include "engine/storage/ABSBlob.h"
#include "engine/storage/ABSPage.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kova {

class TABSDiskBlobManager final : public TABSBaseBlobManager {
public:
    // `pages` must outlive the manager. `indexRoot` is the BLOB page index root loaded from the
    // table definition (-1: none yet; CreateIndexRoot makes it).
    TABSDiskBlobManager(TABSPageManager& pages, std::vector<TABSBlobFieldInfo> fields,
                        TABSPageNo indexRoot = kNoPage);
    // Frees what is left in the cache; call Close first to learn about leaks.
    ~TABSDiskBlobManager() override;

    // Raises 20150 "Blob cache not released" while cache entries remain (the entries stay).
    void Close() const;

    // The BLOB page index root as the table definition stores it (4 bytes, -1 when none).
    [[nodiscard]] TABSPageNo IndexRoot() const noexcept { return index_.RootPageNo(); }
    void SetIndexRoot(TABSPageNo root) noexcept { index_.SetRootPageNo(root); }
    TABSPageNo CreateIndexRoot(TABSSessionID session) { return index_.CreateRoot(session); }
    [[nodiscard]] TABSBTreeBlobPageIndex& PageIndex() noexcept { return index_; }
    // Walks the BLOB page index: its tree, and every page it lists, which must be a shared page
    // whose entries use exactly the listed bytes. Raises 20028 for a damaged tree, 20153 / 20293
    // for a listed page that is no shared page, and 20296 "BLOB page index disagrees with page
    // %d: %d bytes listed, %d bytes used". Nothing to check without a root.
    void CheckPageIndex(TABSSessionID session);

    [[nodiscard]] std::size_t PageDataSize() const noexcept { return dataSize_; }
    [[nodiscard]] std::size_t CacheEntryCount() const noexcept { return cache_.size(); }

    // When the field has no live cache entry and its reference names a page, reads the value into
    // a new clean entry.
    void EnsureLoaded(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo);

    void StoreBlobStream(TABSSessionID session, std::span<std::uint8_t> record, TABSBlobStream& stream) override;
    [[nodiscard]] TABSRawBlob GetRaw(TABSSessionID session, std::span<std::uint8_t> record,
                                     std::int32_t fieldNo) override;
    void SetRaw(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo,
                const TABSRawBlob& raw) override;

    // Posts every BLOB field. A field with a new value gets it written and, on an update, the
    // value of `oldRecord` deleted. Untouched fields keep the stored record's value on an update
    // (a NULL field deletes it), and on an insert a value the buffer still names (a copied record)
    // is written again as the new record's own.
    void PostRecord(TABSSessionID session, std::span<std::uint8_t> record,
                    std::span<const std::uint8_t> oldRecord) override;
    // Posts one field with a new value, deleting the value its reference names.
    void PostField(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo);
    // The dirty entries the last PostRecord / PostField released come back, dirty, under their
    // handles.
    void AbortPost() override;
    void DeleteRecord(TABSSessionID session, std::span<std::uint8_t> record) override;
    void DeleteField(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo);
    void ReleaseRecordCache(std::span<std::uint8_t> record, bool force) override;

    // Deletes the values of every record, then clears the page index to an empty root.
    void Empty(TABSSessionID session, const TABSForEachRecord& records) override;
    // Empties, then gives the page index's pages back.
    void Drop(TABSSessionID session, const TABSForEachRecord& records) override;

    // Low-level operations on a reference (repair, tests). Store returns the new reference.
    [[nodiscard]] TABSBlobReference StoreValue(TABSSessionID session, const TABSRawBlob& value);
    [[nodiscard]] TABSRawBlob ReadValue(TABSSessionID session, const TABSBlobReference& reference);
    void DeleteValue(TABSSessionID session, const TABSBlobReference& reference);

protected:
    [[nodiscard]] ValueInfo ReadValue(TABSSessionID session, std::span<std::uint8_t> record,
                                      const TABSBlobFieldInfo& field, TABSStream& out) override;
    void ReleaseFieldCache(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field, bool force) override;

private:
    struct CacheEntry {
        std::int32_t BlockCount = 0;
        std::int64_t UncompressedSize = 0;
        bool Dirty = false;
        std::vector<std::uint8_t> StoredBytes;
    };

    [[nodiscard]] CacheEntry* LiveEntry(std::span<const std::uint8_t> record, const TABSBlobFieldInfo& field);
    [[nodiscard]] bool NamesNoValue(std::span<const std::uint8_t> record, const TABSBlobFieldInfo& field);
    std::uint32_t AddEntry(CacheEntry entry);
    void FreeEntry(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field);
    void SetDirtyValue(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field, TABSRawBlob value);
    // Writes a dirty entry's value (deleting `replaced` first) and releases the entry.
    void PostDirty(TABSSessionID session, std::span<std::uint8_t> record, const TABSBlobFieldInfo& field,
                   CacheEntry& entry, std::optional<TABSBlobReference> replaced);
    // Writes the value the field names (or its clean cache entry holds) anew for this record.
    void StoreCopy(TABSSessionID session, std::span<std::uint8_t> record, const TABSBlobFieldInfo& field);
    void Load(TABSSessionID session, std::span<std::uint8_t> record, const TABSBlobFieldInfo& field);
    void DeleteFieldValue(TABSSessionID session, std::span<std::uint8_t> record, const TABSBlobFieldInfo& field);

    TABSPageManager& pages_;
    std::size_t dataSize_;
    TABSBTreeBlobPageIndex index_;
    std::map<std::uint32_t, CacheEntry> cache_;
    std::map<std::uint32_t, CacheEntry> posted_;  // released by the last post, for AbortPost
    std::uint32_t nextHandle_ = 1;
};

} // namespace kova
