// Storage of in-memory tables (the MEMORY pseudo database): pages of their indexes, their
// records and their BLOB values, all in process memory.
//
//   TABSMemoryPageManager    index pages in an array of 4096-byte buffers with a used-page bit
//                            map; pages are never enciphered. Also the inner store of temporary
//                            tables' page managers (ABSTempEngine.h).
//   TABSMemoryRecordManager  records in one array indexed by slot, with a deleted-slot bit map.
//   TABSMemoryBlobManager    one memory block per BLOB value.
//
// Buffers come from the engine's memory manager (ABSMemory.h), so its limit bounds them.
#pragma once

#include "engine/storage/ABSBaseEngine.h"
#include "engine/storage/ABSBitsArray.h"
#include "engine/storage/ABSBlob.h"
#include "engine/storage/ABSMemory.h"
#include "engine/storage/ABSPage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace kova {

class TABSStream;

inline constexpr int kNotReleasedPageAllocatedError = 20037;  // "Not released page is allocated"
inline constexpr int kMemoryPageReadError = 10392;            // reading a page that is not in use
inline constexpr int kMemoryPageWriteError = 10393;           // writing a page that is not in use
inline constexpr int kMemoryPageStreamError = 10394;          // "Invalid page manager stream"
inline constexpr int kMemoryRecordNotFoundError = 10019;      // "Error retreiving record"
inline constexpr int kNilPointerError = 10112;                // "Nil pointer occured"
inline constexpr int kMemoryBlobBlockSizeZeroError = 10420;   // "Stream block size = 0 is not allowed"

inline constexpr std::size_t kMemoryPageSize = 4096;

// Index pages of an in-memory table. Page numbers are handed out lowest free first.
//
// Pages pass through the page cache of TABSPageManager like those of a file, so they carry the
// cache's 40-byte page header; index pages therefore have D = 4056 here as in a file.
//
// Stream form (SaveToStream / LoadFromStream):
//   int32 capacity, int32 highest page number, int32 growth step, uint16 page size,
//   uint16 page header size, int32 used count, the used-page bits array, capacity × page size bytes.
class TABSMemoryPageManager final : public TABSPageManager {
public:
    static constexpr std::int32_t kGrowthStep = 50;

    explicit TABSMemoryPageManager(TABSMemoryManager& memory = MemoryManager());
    ~TABSMemoryPageManager() override;

    [[nodiscard]] std::size_t PageSize() const override { return kMemoryPageSize; }

    // ---- Storage level (no cache, no sessions) ----
    // The lowest page number not in use, marked used; its buffer is zero the first time.
    [[nodiscard]] TABSPageNo AllocateStoragePage();
    void ReleaseStoragePage(TABSPageNo pageNo);
    // Copy a whole page from / into the stored buffer. 10392 / 10393 "Not released page is
    // allocated" for a page that is not in use.
    void ReadStoragePage(TABSPageNo pageNo, std::span<std::uint8_t> out) const;
    void WriteStoragePage(TABSPageNo pageNo, std::span<const std::uint8_t> in);

    [[nodiscard]] std::int32_t Capacity() const noexcept { return capacity_; }
    [[nodiscard]] std::int32_t HighestPageNo() const noexcept { return highest_; }
    [[nodiscard]] std::int32_t UsedCount() const noexcept { return usedCount_; }
    [[nodiscard]] bool IsUsed(TABSPageNo pageNo) const noexcept;

    // Saves / loads the stored pages (committed state; sessions' uncommitted pages are not part of
    // it). Loading drops every cached page and session set first. 10394 for a stream that does not
    // hold a page manager of this page size.
    void SaveToStream(TABSStream& stream) const;
    void LoadFromStream(TABSStream& stream);

protected:
    [[nodiscard]] TABSPageNo AllocatePageNo() override { return AllocateStoragePage(); }
    void ReadPageFromStorage(TABSPage& page, bool enciphered) override;
    [[nodiscard]] bool IsCachedPageCurrent(const TABSPage&) override { return true; }
    void BeginCommit() override {}
    void FreePageNo(TABSPageNo pageNo) override { ReleaseStoragePage(pageNo); }
    void WritePageToStorage(TABSPage& page) override;
    void EndCommit(bool) override {}
    void AbortCommit() noexcept override {}
    void FreePageNos(const std::vector<TABSPageNo>& pageNos) override;

private:
    void EnsureBuffers(TABSPageNo pageNo);

    TABSMemoryManager& memory_;
    std::int32_t capacity_ = 0;
    std::int32_t highest_ = -1;
    std::int32_t usedCount_ = 0;
    TABSBitsArray used_;
    std::vector<TABSMemoryBlock> buffers_;
};

// Records of an in-memory table: one array of memory records indexed by slot.
//
// A record's identifier is {slot, 0}. Slots are handed out upwards (highest + 1); a deleted slot
// is not reused while a record remains above it, and numbering starts again at 0 once the table
// is empty. Record numbers come from counting clear bits of the deleted-slot map byte by byte, and
// are the slot + 1 directly while nothing was ever deleted.
class TABSMemoryRecordManager final : public TABSBaseRecordManager {
public:
    static constexpr std::int64_t kGrowthStep = 1000;

    // `recordSize` is the memory record size S. REQUIRES: recordSize > 0.
    explicit TABSMemoryRecordManager(std::size_t recordSize, TABSMemoryManager& memory = MemoryManager());

    [[nodiscard]] std::size_t RecordSize() const noexcept { return recordSize_; }
    [[nodiscard]] std::int64_t Capacity() const noexcept { return capacity_; }
    [[nodiscard]] std::int64_t LowestSlot() const noexcept { return lowest_; }
    [[nodiscard]] std::int64_t HighestSlot() const noexcept { return highest_; }
    [[nodiscard]] bool NeverDeleted() const noexcept { return neverDeleted_; }

    [[nodiscard]] std::uint64_t RecordCount(TABSSessionID) override { return static_cast<std::uint64_t>(count_); }
    [[nodiscard]] std::int32_t ChangeCounter(TABSSessionID) override { return changeCounter_; }

    [[nodiscard]] TABSRecordID InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record) override;
    // Raise 10019 "Error retreiving record" when the slot holds no record.
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

    [[nodiscard]] std::uint64_t RecordPosition(const TABSRecordID& id) const override;
    [[nodiscard]] TABSRecordID RecordIDAtPosition(std::uint64_t position) const override;
    [[nodiscard]] std::uint64_t PositionCount(TABSSessionID session) override;

    void Empty(TABSSessionID session) override;

    // Visits every stored record in slot order (the visitor may not insert or delete).
    void ForEachRecord(const std::function<void(std::span<std::uint8_t> record)>& visit);

private:
    [[nodiscard]] bool IsStored(std::int64_t slot) const noexcept;
    [[nodiscard]] static std::int64_t SlotOf(const TABSRecordID& id) noexcept { return id.PageNo; }
    [[nodiscard]] static TABSRecordID IDOf(std::int64_t slot) noexcept {
        return {static_cast<TABSPageNo>(slot), 0};
    }
    [[nodiscard]] std::uint8_t* SlotBytes(std::int64_t slot) noexcept;
    void Grow();

    std::size_t recordSize_;
    TABSMemoryManager& memory_;
    std::int64_t capacity_ = 0;
    TABSMemoryBlock records_;
    TABSMemoryBlock deleted_;  // ceil(capacity / 8) bytes; bit s = 1: slot s holds no record
    std::int64_t count_ = 0;
    std::int64_t lowest_ = 0;
    std::int64_t highest_ = 0;
    std::int32_t changeCounter_ = 0;
    bool neverDeleted_ = true;
};

// BLOB values of an in-memory table. The first 4 of the field's 10 record bytes hold the handle of
// the value's memory block (0: none; then the null bit is set):
//   int32 block count, int64 uncompressed size, then the stored bytes.
// A block made for a cursor's buffer is unposted until the record is posted; a forced release
// (a cancelled edit) frees it. A posted block belongs to one stored record: it is freed when the
// record is deleted or updated with another value, and copied when another record is posted
// with its handle, so that no two records share a block. The values an update replaces are kept
// aside until the next post or delete, so that AbortPost can bring them back.
class TABSMemoryBlobManager final : public TABSBaseBlobManager {
public:
    static constexpr std::size_t kBlockHeaderSize = 12;

    explicit TABSMemoryBlobManager(std::vector<TABSBlobFieldInfo> fields, TABSMemoryManager& memory = MemoryManager());
    ~TABSMemoryBlobManager() override;

    [[nodiscard]] std::size_t BlockCount() const noexcept { return blocks_.size(); }
    [[nodiscard]] std::uint32_t BlockHandle(std::span<const std::uint8_t> record, std::int32_t fieldNo) const;

    void StoreBlobStream(TABSSessionID session, std::span<std::uint8_t> record, TABSBlobStream& stream) override;
    // 10112 "Nil pointer occured" for a non-NULL field without a block.
    [[nodiscard]] TABSRawBlob GetRaw(TABSSessionID session, std::span<std::uint8_t> record,
                                     std::int32_t fieldNo) override;
    void SetRaw(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo,
                const TABSRawBlob& raw) override;

    void PostRecord(TABSSessionID session, std::span<std::uint8_t> record,
                    std::span<const std::uint8_t> oldRecord) override;
    void AbortPost() override;
    void DeleteRecord(TABSSessionID session, std::span<std::uint8_t> record) override;
    void ReleaseRecordCache(std::span<std::uint8_t> record, bool force) override;
    // Frees every block; `records` is not needed.
    void Empty(TABSSessionID session, const TABSForEachRecord& records) override;
    void Drop(TABSSessionID session, const TABSForEachRecord& records) override;

protected:
    [[nodiscard]] int BlockSizeZeroError() const noexcept override { return kMemoryBlobBlockSizeZeroError; }
    [[nodiscard]] ValueInfo ReadValue(TABSSessionID session, std::span<std::uint8_t> record,
                                      const TABSBlobFieldInfo& field, TABSStream& out) override;
    void ReleaseFieldCache(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field, bool force) override;

private:
    struct Block {
        TABSMemoryBlock Bytes;  // header and stored bytes
        bool Posted = false;
    };

    [[nodiscard]] static std::uint32_t HandleOf(std::span<const std::uint8_t> record, const TABSBlobFieldInfo& field);
    static void SetHandle(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field, std::uint32_t handle);
    [[nodiscard]] const Block& BlockOf(std::span<const std::uint8_t> record, const TABSBlobFieldInfo& field) const;
    std::uint32_t AddBlock(const TABSRawBlob& value);
    std::uint32_t CopyBlock(std::uint32_t handle);
    // Replaces the field's value in a cursor's buffer; an unposted block it replaces goes at once.
    void SetValue(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field, const TABSRawBlob& value);

    // What the last PostRecord did, for AbortPost.
    struct Journal {
        std::vector<std::uint32_t> Posted;     // blocks it marked posted
        std::vector<std::uint32_t> Copies;     // blocks it made
        std::map<std::uint32_t, Block> Freed;  // blocks it gave back
    };

    TABSMemoryManager& memory_;
    std::map<std::uint32_t, Block> blocks_;
    std::uint32_t nextHandle_ = 1;
    Journal journal_;
};

} // namespace kova
