// Storage of temporary tables (the TEMP pseudo database: result sets that query execution makes
// and drops): index pages, records and BLOB values that stay in memory up to a budget and go to
// anonymous temporary files beyond it.
//
// The budget per table is a tenth of the available memory (ABSMemory.h), separately for records
// and for index pages. A memory-only table (a query run with its in-memory flag) has no budget and
// never touches a file. The files are removed by the operating system when they are closed.
#pragma once

#include "engine/storage/ABSBaseEngine.h"
#include "engine/storage/ABSBitsArray.h"
#include "engine/storage/ABSBlob.h"
#include "engine/storage/ABSMemEngine.h"
#include "engine/storage/ABSMemory.h"
#include "engine/storage/ABSPage.h"
#include "engine/storage/ABSTempStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kova {

inline constexpr int kTempPageReadError = 10396;          // reading a page that is not in use
inline constexpr int kTempPageWriteError = 10397;         // writing a page that is not in use
inline constexpr int kTempRecordNotFoundError = 10127;    // "Error retreiving record"
inline constexpr int kInvalidRecordSizeError = 10124;     // "Invalid record size = 0"
inline constexpr int kTempWriteError = 10125;             // "Error writing to stream"
inline constexpr int kInvalidRecordCountError = 10126;    // "Invalid record count = %d. Limit is %d"
inline constexpr int kTempSeekError = 10129;              // "Cannot set stream position to %d. …"
inline constexpr int kTempReadError = 10130;              // "Cannot read from stream. …"

// The number of items of `itemSize` bytes that a tenth of `availableMemory` holds.
[[nodiscard]] constexpr std::uint64_t TemporaryBudget(std::uint64_t availableMemory, std::uint64_t itemSize) noexcept {
    return itemSize == 0 ? 0 : (availableMemory / 10) / itemSize;
}

// Index pages of a temporary table: pages below L = (available memory / 10) / 4096 live in an
// inner memory page manager, the others at offset page × 4096 of a temporary file. Like the
// in-memory pages they carry the page cache's 40-byte header and are never enciphered.
class TABSTemporaryPageManager final : public TABSPageManager {
public:
    // `availableMemory` defaults to the memory manager's available memory.
    explicit TABSTemporaryPageManager(bool memoryOnly, std::optional<std::uint64_t> availableMemory = std::nullopt);
    ~TABSTemporaryPageManager() override;

    [[nodiscard]] std::size_t PageSize() const override { return kMemoryPageSize; }

    [[nodiscard]] bool MemoryOnly() const noexcept { return memoryOnly_; }
    // L, the number of pages kept in memory.
    [[nodiscard]] std::int64_t MemoryPageLimit() const noexcept { return memoryLimit_; }
    [[nodiscard]] std::int32_t UsedCount() const noexcept { return usedCount_; }
    [[nodiscard]] std::int32_t NextPageNo() const noexcept { return nextPageNo_; }
    [[nodiscard]] bool HasFile() const noexcept { return file_ != nullptr; }
    [[nodiscard]] std::int64_t FileSize() const { return file_ ? file_->Size() : 0; }

    // Storage level: allocate, release, read, write one page (10396 / 10397 for a page not in use).
    [[nodiscard]] TABSPageNo AllocateStoragePage();
    void ReleaseStoragePage(TABSPageNo pageNo);
    void ReadStoragePage(TABSPageNo pageNo, std::span<std::uint8_t> out);
    void WriteStoragePage(TABSPageNo pageNo, std::span<const std::uint8_t> in);

protected:
    [[nodiscard]] TABSPageNo AllocatePageNo() override { return AllocateStoragePage(); }
    void ReadPageFromStorage(TABSPage& page, bool) override { ReadStoragePage(page.PageNo(), page.Bytes()); }
    [[nodiscard]] bool IsCachedPageCurrent(const TABSPage&) override { return true; }
    void BeginCommit() override {}
    void FreePageNo(TABSPageNo pageNo) override { ReleaseStoragePage(pageNo); }
    void WritePageToStorage(TABSPage& page) override { WriteStoragePage(page.PageNo(), page.Bytes()); }
    void EndCommit(bool) override {}
    void AbortCommit() noexcept override {}
    void FreePageNos(const std::vector<TABSPageNo>& pageNos) override;

private:
    [[nodiscard]] bool InMemory(TABSPageNo pageNo) const noexcept { return memoryOnly_ || pageNo < memoryLimit_; }
    [[nodiscard]] bool IsUsed(TABSPageNo pageNo) const noexcept;

    bool memoryOnly_;
    std::int64_t memoryLimit_;
    TABSMemoryPageManager inner_;
    TABSBitsArray used_;
    std::int32_t nextPageNo_ = 0;
    std::int32_t usedCount_ = 0;
    std::unique_ptr<TABSFileStream> file_;
};

// Records of a temporary table, in insertion order. The first M = (available memory / 10) / S
// records stay in an array; later ones go through a write buffer of 10 records to a temporary
// file, record n at offset (n - M) × S. A memory-only table keeps all of them in the array.
//
// A record's identifier is its 0-based insertion number n as a little-endian 48-bit integer:
// TABSRecordID{PageNo = low 32 bits, Slot = high 16 bits}. Temporary tables take inserts only:
// updates and deletes report false and change nothing.
class TABSTemporaryRecordManager final : public TABSBaseRecordManager {
public:
    static constexpr std::int64_t kGrowthStep = 1000;
    static constexpr std::int64_t kWriteBufferRecords = 10;

    // `recordSize` is the memory record size S (0 fails with 10124 "Invalid record size = 0").
    // `availableMemory` defaults to the memory manager's available memory.
    TABSTemporaryRecordManager(std::size_t recordSize, bool memoryOnly,
                               std::optional<std::uint64_t> availableMemory = std::nullopt,
                               TABSMemoryManager& memory = MemoryManager());

    [[nodiscard]] static std::uint64_t Number(const TABSRecordID& id) noexcept;
    [[nodiscard]] static TABSRecordID IDOf(std::uint64_t number) noexcept;

    [[nodiscard]] std::size_t RecordSize() const noexcept { return recordSize_; }
    [[nodiscard]] bool MemoryOnly() const noexcept { return memoryOnly_; }
    // M, the number of records kept in memory.
    [[nodiscard]] std::int64_t MemoryRecordLimit() const noexcept { return memoryLimit_; }
    [[nodiscard]] std::int64_t ArrayCapacity() const noexcept { return capacity_; }
    [[nodiscard]] bool HasFile() const noexcept { return file_ != nullptr; }
    [[nodiscard]] std::int64_t FileSize() const { return file_ ? file_->Size() : 0; }

    [[nodiscard]] std::uint64_t RecordCount(TABSSessionID) override { return static_cast<std::uint64_t>(count_); }
    [[nodiscard]] std::int32_t ChangeCounter(TABSSessionID) override { return changeCounter_; }

    [[nodiscard]] TABSRecordID InsertRecord(TABSSessionID session, std::span<const std::uint8_t> record) override;
    [[nodiscard]] bool UpdateRecord(TABSSessionID, const TABSRecordID&, std::span<const std::uint8_t>) override {
        return false;
    }
    [[nodiscard]] bool DeleteRecord(TABSSessionID, const TABSRecordID&) override { return false; }
    // 10129 / 10130 / 10127 when a spilled record cannot be read back.
    [[nodiscard]] bool ReadRecord(TABSSessionID session, const TABSRecordID& id, std::span<std::uint8_t> record) override;

    [[nodiscard]] std::optional<TABSRecordID> FirstRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> LastRecord(TABSSessionID session) override;
    [[nodiscard]] std::optional<TABSRecordID> NextRecord(TABSSessionID session, const TABSRecordID& id) override;
    [[nodiscard]] std::optional<TABSRecordID> PriorRecord(TABSSessionID session, const TABSRecordID& id) override;

    [[nodiscard]] std::optional<TABSRecordID> RecordAtNumber(TABSSessionID session, std::uint64_t recNo) override;
    [[nodiscard]] std::uint64_t RecordNumberOf(TABSSessionID session, const TABSRecordID& id) override;

    [[nodiscard]] std::uint64_t RecordPosition(const TABSRecordID& id) const override { return Number(id); }
    [[nodiscard]] TABSRecordID RecordIDAtPosition(std::uint64_t position) const override { return IDOf(position); }
    [[nodiscard]] std::uint64_t PositionCount(TABSSessionID) override { return static_cast<std::uint64_t>(count_); }

    void Empty(TABSSessionID session) override;

    // Takes the last inserted record back (an insert whose index entries failed). Nothing happens
    // when the table is empty.
    void UndoLastInsert();

private:
    void FlushWriteBuffer();

    std::size_t recordSize_;
    bool memoryOnly_;
    std::int64_t memoryLimit_;
    TABSMemoryManager& memory_;
    std::int64_t count_ = 0;
    std::int32_t changeCounter_ = 0;
    TABSMemoryBlock array_;
    std::int64_t capacity_ = 0;
    std::vector<std::uint8_t> writeBuffer_;
    std::int64_t buffered_ = 0;
    std::unique_ptr<TABSFileStream> file_;
};

// BLOB values of a temporary table: appended to one stream (a memory stream for a memory-only
// table, else a temporary stream) as a 20-byte header {int32 block count, int64 uncompressed size,
// int64 stored size} followed by the stored bytes; the first 8 bytes of the field hold the int64
// stream position of the header. Values are never removed from the stream.
class TABSTemporaryBlobManager final : public TABSBaseBlobManager {
public:
    static constexpr std::size_t kValueHeaderSize = 20;

    TABSTemporaryBlobManager(std::vector<TABSBlobFieldInfo> fields, bool memoryOnly);
    ~TABSTemporaryBlobManager() override;

    [[nodiscard]] const TABSStream& Stream() const noexcept { return *stream_; }
    // The stream position a field refers to.
    [[nodiscard]] std::int64_t ValuePosition(std::span<const std::uint8_t> record, std::int32_t fieldNo) const;

    void StoreBlobStream(TABSSessionID session, std::span<std::uint8_t> record, TABSBlobStream& stream) override;
    [[nodiscard]] TABSRawBlob GetRaw(TABSSessionID session, std::span<std::uint8_t> record,
                                     std::int32_t fieldNo) override;
    void SetRaw(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo,
                const TABSRawBlob& raw) override;

    // Values are written at once and never removed: posting, deleting and releasing change nothing.
    void PostRecord(TABSSessionID, std::span<std::uint8_t>, std::span<const std::uint8_t>) override {}
    void DeleteRecord(TABSSessionID, std::span<std::uint8_t>) override {}
    void ReleaseRecordCache(std::span<std::uint8_t>, bool) override {}
    // Cut the stream to nothing.
    void Empty(TABSSessionID session, const TABSForEachRecord& records) override;
    void Drop(TABSSessionID session, const TABSForEachRecord& records) override;

protected:
    [[nodiscard]] int BlockSizeZeroError() const noexcept override { return kMemoryBlobBlockSizeZeroError; }
    [[nodiscard]] ValueInfo ReadValue(TABSSessionID session, std::span<std::uint8_t> record,
                                      const TABSBlobFieldInfo& field, TABSStream& out) override;

private:
    struct Codes {
        int Seek;
        int Read;
    };
    // Appends a value and stores its position in the field (`seekError` when the end cannot be
    // reached, `writeError` on a short write).
    void Append(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field, const TABSRawBlob& value,
                int seekError, int writeError);
    [[nodiscard]] TABSRawBlob ReadAt(std::int64_t position, Codes codes);

    std::unique_ptr<TABSStream> stream_;
};

} // namespace kova
