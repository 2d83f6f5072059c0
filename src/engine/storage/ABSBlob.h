// BLOB values (storage types 18 blob, 19 memo, 20 wide memo): what a record holds of them, the
// stream a cursor reads and writes them through, and the interface every kind of table (database
// file, in-memory, temporary) offers for them.
//
// A record holds a reference, the value's bytes live elsewhere (BLOB pages of the database file,
// memory blocks, a temporary table's BLOB stream). The bytes kept for a value are its *stored
// bytes*: the value itself for a field without compression, else the blocks of its compressed
// stream (ABSCompressedStream.h), block headers included.
//
// Field bytes in a record:
//
//   on disk (6 bytes)                      in a memory record buffer (10 bytes)
//   0  int32  page number                  0  6 bytes  as on disk (or the kind's own reference)
//   4  int16  BLOB id (-1: large value)    6  uint32   cache handle (0: none)
//
// Page 0 or -1 names no value; a deleted value leaves (-1, -1). The field's null bit is set
// exactly when the value is empty: an empty value is never stored.
//
// Every stored value starts with a 22-byte BLOB header:
//   0   int16  BLOB id (small values; not read for a large value)
//   2   int32  block count of the compressed stream (0 without compression)
//   6   int64  stored size
//   14  int64  uncompressed size (the value's length as a cursor reads it)
#pragma once

#include "engine/storage/ABSCompressedStream.h"
#include "engine/storage/ABSPage.h"
#include "engine/storage/ABSStream.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kova {

// Errors of BLOB storage.
inline constexpr int kBlobPageFullError = 20106;           // "Cannot add data item to page. Page is full"
inline constexpr int kBlobBlockSizeZeroError = 20149;      // "Stream block size = 0 is not allowed"
inline constexpr int kBlobCacheNotReleasedError = 20150;   // "Blob cache not released"
inline constexpr int kBlobPointerNilError = 20161;         // "Pointer is nil"
inline constexpr int kBlobCannotReadError = 20162;         // "Cannot read BLOB field value"
inline constexpr int kBlobCannotReadRawError = 20291;      // "Cannot read BLOB field value"
inline constexpr int kBlobNotFoundError = 20171;           // "Cannot find blob field"
inline constexpr int kBlobInvalidIDError = 20172;          // "Invalid blob field ID"
inline constexpr int kBlobInvalidSizeError = 20248;        // "Invalid blob field size"
inline constexpr int kBlobCannotAddError = 20290;          // "Cannot add blob. Page is full: …"
inline constexpr int kBlobNotABlobFieldError = 20292;      // "Field %d is not a BLOB field"
inline constexpr int kBlobDamagedError = 20293;            // "BLOB value is damaged. PageNo=%d"
inline constexpr int kBlobPageIndexMismatchError = 20296;  // "BLOB page index disagrees with page %d: …"

inline constexpr std::size_t kBlobDiskFieldSize = 6;
inline constexpr std::size_t kBlobMemoryFieldSize = 10;
inline constexpr std::int32_t kDefaultBlobBlockSize = 102400;

// The 6-byte reference of a value in a database file.
struct TABSBlobReference {
    TABSPageNo PageNo = kNoPage;
    std::int16_t BlobID = -1;

    static constexpr std::size_t kSize = kBlobDiskFieldSize;
    static constexpr std::int16_t kLargeValueID = -1;

    // Whether the reference names a stored value (page neither 0 nor -1).
    [[nodiscard]] bool NamesValue() const noexcept { return PageNo != 0 && PageNo != kNoPage; }
    [[nodiscard]] bool IsLarge() const noexcept { return BlobID == kLargeValueID; }

    // REQUIRES: at least 6 bytes.
    [[nodiscard]] static TABSBlobReference Decode(std::span<const std::uint8_t> bytes) noexcept;
    void Encode(std::span<std::uint8_t> bytes) const noexcept;

    friend bool operator==(const TABSBlobReference&, const TABSBlobReference&) = default;
};

// The header in front of every stored value.
struct TABSBlobHeader {
    std::int16_t BlobID = 0;
    std::int32_t BlockCount = 0;
    std::int64_t StoredSize = 0;
    std::int64_t UncompressedSize = 0;

    static constexpr std::size_t kSize = 22;

    // REQUIRES: at least 22 bytes.
    [[nodiscard]] static TABSBlobHeader Decode(std::span<const std::uint8_t> bytes) noexcept;
    void Encode(std::span<std::uint8_t> bytes) const noexcept;

    friend bool operator==(const TABSBlobHeader&, const TABSBlobHeader&) = default;
};

// A value as its stored bytes, for copying between tables without recompressing.
struct TABSRawBlob {
    std::int32_t BlockCount = 0;
    std::int64_t UncompressedSize = 0;
    std::vector<std::uint8_t> StoredBytes;

    [[nodiscard]] std::int64_t StoredSize() const noexcept { return static_cast<std::int64_t>(StoredBytes.size()); }
    friend bool operator==(const TABSRawBlob&, const TABSRawBlob&) = default;
};

// What BLOB storage needs to know of one BLOB field of a table: built by the table data from its
// field definitions.
struct TABSBlobFieldInfo {
    std::int32_t FieldNo = 0;          // position in the field list: the field's null bit
    std::size_t MemoryOffset = 0;      // offset of the 10 bytes in a memory record buffer
    std::uint8_t CompressionAlgorithm = 0;
    std::uint8_t CompressionMode = 0;
    std::int32_t BlockSize = kDefaultBlobBlockSize;
    std::string Name;

    // Accessors of the field in a memory record buffer (null bitmap at the buffer's start).
    // REQUIRES: the buffer holds the field.
    [[nodiscard]] bool IsNull(std::span<const std::uint8_t> record) const noexcept;
    void SetNull(std::span<std::uint8_t> record, bool null) const noexcept;
    [[nodiscard]] std::span<std::uint8_t> Bytes(std::span<std::uint8_t> record) const noexcept;
    [[nodiscard]] std::span<const std::uint8_t> Bytes(std::span<const std::uint8_t> record) const noexcept;
    [[nodiscard]] TABSBlobReference Reference(std::span<const std::uint8_t> record) const noexcept;
    void SetReference(std::span<std::uint8_t> record, const TABSBlobReference& reference) const noexcept;
    [[nodiscard]] std::uint32_t CacheHandle(std::span<const std::uint8_t> record) const noexcept;
    void SetCacheHandle(std::span<std::uint8_t> record, std::uint32_t handle) const noexcept;
};

// How a cursor opens a BLOB field's stream.
enum class TABSBlobOpenMode : std::uint8_t {
    Read,       // the value as stored; writes are still taken (appending, see the compressed stream)
    ReadWrite,  // the same; the stream is prepared for appending to a partial last block
    Write,      // rewritten from scratch: the stream starts empty
};

// The stream of one BLOB field that a cursor reads and writes: the value's plain bytes through a
// compressed stream (with the field's algorithm, mode and block size) over a scratch stream of
// stored bytes. Write and SetSize mark it modified; a modified stream is handed back to the table
// (StoreBlobStream) to become the field's new value.
class TABSBlobStream final : public TABSStream {
public:
    // Takes over `storage` (the stored bytes, e.g. a TABSTemporaryStream) and opens the compressed
    // stream over it with `descriptor`. Raises the compressed stream's errors.
    TABSBlobStream(std::int32_t fieldNo, std::unique_ptr<TABSStream> storage, const TABSStreamDescriptor& descriptor,
                   bool forWriting);
    ~TABSBlobStream() override;

    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count) override;
    [[nodiscard]] std::size_t Write(const void* buffer, std::size_t count) override;
    [[nodiscard]] std::int64_t Position() const override;
    [[nodiscard]] bool Seek(std::int64_t position) override;
    [[nodiscard]] std::int64_t Size() const override;
    void SetSize(std::int64_t newSize) override;

    [[nodiscard]] std::int32_t FieldNo() const noexcept { return fieldNo_; }
    [[nodiscard]] bool Modified() const noexcept { return modified_; }
    void SetModified(bool modified) noexcept { modified_ = modified; }

    // The value as stored: block count (0 without compression), plain size, stored bytes.
    [[nodiscard]] std::int32_t BlockCount() const;
    [[nodiscard]] std::int64_t UncompressedSize() const { return Size(); }
    [[nodiscard]] std::int64_t StoredSize() const;
    // Copies the stored bytes out. Raises 10117 on a short read of the scratch stream.
    [[nodiscard]] std::vector<std::uint8_t> StoredBytes() const;
    [[nodiscard]] TABSRawBlob ToRaw() const;

private:
    std::int32_t fieldNo_;
    std::unique_ptr<TABSStream> storage_;
    std::unique_ptr<TABSCompressedBLOBStream> compressed_;
    bool modified_ = false;
};

// Visits every record of a table as a memory record buffer (the visitor may change the buffer's
// BLOB fields; the changes are not written back).
using TABSRecordVisitor = std::function<void(std::span<std::uint8_t> memoryRecord)>;
using TABSForEachRecord = std::function<void(const TABSRecordVisitor& visit)>;

// BLOB values of one table. The table data calls these under the table's lock; `record` is always
// a memory record buffer of the table and `fieldNo` the field's position in the field list (it
// must be one of the BLOB fields given at construction, else 20292).
//
// Life of a value set through a cursor: OpenBlobStream → writes → StoreBlobStream (the buffer now
// refers to the new, not yet posted value) → PostRecord when the record is inserted or updated
// (before the record is written) → ReleaseRecordCache when the cursor drops its buffer. A cancelled
// edit releases with force, which drops the unposted value.
class TABSBaseBlobManager {
public:
    explicit TABSBaseBlobManager(std::vector<TABSBlobFieldInfo> fields);
    virtual ~TABSBaseBlobManager();
    TABSBaseBlobManager(const TABSBaseBlobManager&) = delete;
    TABSBaseBlobManager& operator=(const TABSBaseBlobManager&) = delete;

    [[nodiscard]] const std::vector<TABSBlobFieldInfo>& Fields() const noexcept { return fields_; }
    [[nodiscard]] bool HasBlobFields() const noexcept { return !fields_.empty(); }
    // Raises 20292 when `fieldNo` is not a BLOB field of the table.
    [[nodiscard]] const TABSBlobFieldInfo& Field(std::int32_t fieldNo) const;

    // Opens the field's stream. An empty `record` (no buffer), a NULL field or mode Write give an
    // empty stream. Raises 20149 (disk tables) / 10420 (in-memory and temporary tables) for a
    // field whose block size is 0, 20248 for a stored value with a negative size. On failure the
    // field's unposted cache is released (forced) before the error passes on.
    [[nodiscard]] std::unique_ptr<TABSBlobStream> OpenBlobStream(TABSSessionID session, std::span<std::uint8_t> record,
                                                                 std::int32_t fieldNo, TABSBlobOpenMode mode);

    // Makes the stream's value the field's value in `record` (nothing happens when the stream is
    // not modified). An empty stream makes the field NULL.
    virtual void StoreBlobStream(TABSSessionID session, std::span<std::uint8_t> record, TABSBlobStream& stream) = 0;

    // The field's value as stored bytes (all zero and no bytes for NULL).
    [[nodiscard]] virtual TABSRawBlob GetRaw(TABSSessionID session, std::span<std::uint8_t> record,
                                             std::int32_t fieldNo) = 0;
    // Sets the field's value from stored bytes; a stored size of 0 makes it NULL.
    virtual void SetRaw(TABSSessionID session, std::span<std::uint8_t> record, std::int32_t fieldNo,
                        const TABSRawBlob& raw) = 0;

    // Called when `record` is inserted (`oldRecord` empty) or updated (`oldRecord`: the record as
    // stored until now), before it is written: writes every changed value, gives back the values
    // it replaces, and leaves the final references in `record`.
    virtual void PostRecord(TABSSessionID session, std::span<std::uint8_t> record,
                            std::span<const std::uint8_t> oldRecord) = 0;
    // Undoes what the last PostRecord did to the cached values (pages are the session's rollback's
    // business): values it wrote are unposted again and values it gave back are restored, so that
    // the caller can put its buffer back as it was and post it again later. Call it when a change
    // fails after PostRecord succeeded; a later PostRecord forgets what could be undone.
    virtual void AbortPost() {}
    // Called when the stored record `record` is deleted: deletes all its values.
    virtual void DeleteRecord(TABSSessionID session, std::span<std::uint8_t> record) = 0;
    // The cursor drops its buffer: frees the cached values of its BLOB fields, except unposted
    // ones unless `force`. The buffer's cache handles become 0.
    virtual void ReleaseRecordCache(std::span<std::uint8_t> record, bool force) = 0;

    // Deletes every value of the table (`records` visits the stored records where a kind needs
    // them), and drops all storage of the table's values.
    virtual void Empty(TABSSessionID session, const TABSForEachRecord& records) = 0;
    virtual void Drop(TABSSessionID session, const TABSForEachRecord& records) = 0;

protected:
    // Error code for a block size of 0 (20149 for database files).
    [[nodiscard]] virtual int BlockSizeZeroError() const noexcept { return kBlobBlockSizeZeroError; }
    // Writes the stored bytes of the field's (non-NULL) value to `out` and returns block count and
    // uncompressed size. Raises when the value cannot be read.
    struct ValueInfo {
        std::int32_t BlockCount = 0;
        std::int64_t UncompressedSize = 0;
    };
    [[nodiscard]] virtual ValueInfo ReadValue(TABSSessionID session, std::span<std::uint8_t> record,
                                              const TABSBlobFieldInfo& field, TABSStream& out) = 0;
    // Drops an unposted cached value of the field after a failed open (default: nothing).
    virtual void ReleaseFieldCache(std::span<std::uint8_t> record, const TABSBlobFieldInfo& field, bool force);

    // The scratch stream of a new cursor stream (a TABSTemporaryStream).
    [[nodiscard]] virtual std::unique_ptr<TABSStream> MakeScratchStream() const;

private:
    std::vector<TABSBlobFieldInfo> fields_;
};

} // namespace kova
