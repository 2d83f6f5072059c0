// Field definitions of a table and the record layout they imply.
//
// A record is a null bitmap of ceil(field count / 8) bytes (bit i, least significant bit first in
// byte i div 8, is 1 when field i is null) followed by the fields in definition order, each at a
// fixed offset with the size of its storage type. Memory records (what cursors, indexes and the
// SQL layer hold) and disk records (what record pages hold) share that layout except for the BLOB
// types, which take 10 bytes in memory (6-byte reference + 4-byte cache handle) and 6 on disk:
//
//   storage type             bytes (N = declared size)   encoding
//   1 fixed char, 3 string   N + 1                       Windows-1252, zero-terminated
//   2 / 4 wide (fixed) char  2 × (N + 1)                 UTF-16LE, zero-terminated
//   5 / 9  int8 / uint8      1                           6 / 10 int16 / uint16   2
//   7 / 11 int32 / uint32    4                           8 int64                 8
//   12 single 4, 13 double 8, 14 extended 10 (x87), 22 currency 8 (double amount)
//   15 date 4 (day number), 16 time 4 (ms), 17 date-time 8 (day number, ms)
//   18 / 19 / 20 BLOB types  10 in memory, 6 on disk     BLOB reference
//   21 boolean               2                           int16, 0 = false
//   23 bytes, 24 varbytes    N + 1                       raw bytes
//
// Values cross this layer as TABSVariant: 8-bit text is UTF-8 there and Windows-1252 in record
// buffers (TextCodec.h converts; text 1252 cannot hold raises 30053 and nothing is stored). An
// empty text is stored as null.
#pragma once

#include "engine/core/ABSTypes.h"
#include "engine/core/ABSVariant.h"
#include "engine/storage/ABSBlob.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kova {

// Native errors of field definitions and record buffers.
inline constexpr int kFieldNoNotFoundError = 30402;        // "Field #%d not found"
inline constexpr int kFieldNoNotFoundOnWriteError = 30403;
inline constexpr int kFieldNameNotFoundError = 30404;      // "Field '%s' not found"
inline constexpr int kDuplicateFieldNameError = 30406;     // "Cannot rename field '%s'. Field '%s' already exists"

[[nodiscard]] constexpr bool IsBlobStorageType(TABSBaseType t) noexcept {
    return t == TABSBaseType::bftBlob || t == TABSBaseType::bftMemo || t == TABSBaseType::bftWideMemo;
}

// Name and object id, shared by every definition a table stores.
class TABSMetaObjectDef {
public:
    TABSMetaObjectDef() = default;
    TABSMetaObjectDef(std::string name, std::int32_t objectId) : Name(std::move(name)), ObjectID(objectId) {}
    virtual ~TABSMetaObjectDef() = default;
    TABSMetaObjectDef(const TABSMetaObjectDef&) = default;
    TABSMetaObjectDef& operator=(const TABSMetaObjectDef&) = default;

    std::string Name;  // UTF-8; stored as Windows-1252
    std::int32_t ObjectID = 0;
};

// One field. The persistent part is what the definition file stores; FieldNo and the four
// offset/size members are derived by TABSFieldDefs::ComputeLayout.
class TABSFieldDef : public TABSMetaObjectDef {
public:
    TABSFieldDef() = default;
    // A field of a column type; the storage type follows from the type table (30007 for a code
    // without a row). `size` is the declared size of sized types and ignored otherwise.
    TABSFieldDef(std::string name, TABSColumnType columnType, std::int32_t size = 0);

    TABSBaseType StorageType = TABSBaseType::bftUnknown;
    TABSColumnType ColumnType = TABSColumnType::actUnknown;
    std::int32_t Size = 0;  // characters or bytes of sized types, else 0

    // BLOB types only.
    std::uint8_t BlobCompressionAlgorithm = 0;
    std::uint8_t BlobCompressionMode = 0;
    std::int32_t BlobBlockSize = kDefaultBlobBlockSize;

    // Auto-increment types only. A maximum of 0 means "no limit".
    std::int64_t AutoincIncrement = 1;
    std::int64_t AutoincInitialValue = 0;
    std::int64_t AutoincMinValue = 0;
    std::int64_t AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
    bool AutoincCycled = false;

    // Default: a constant of any storage type, or a text naming an expression (NOW). Null (any
    // type) means "no default".
    TABSVariant DefaultValue;

    // Layout, set by TABSFieldDefs.
    int FieldNo = -1;
    std::size_t MemoryOffset = 0;
    std::size_t MemorySize = 0;
    std::size_t DiskOffset = 0;
    std::size_t DiskSize = 0;

    [[nodiscard]] bool IsBlob() const noexcept { return IsBlobStorageType(StorageType); }
    [[nodiscard]] bool IsAutoInc() const noexcept { return IsAutoIncColumnType(ColumnType); }
    [[nodiscard]] bool HasDefault() const noexcept { return !DefaultValue.IsNull(); }
    // Bytes of the field in a memory / disk record (30050 for an unknown storage type).
    [[nodiscard]] std::size_t ComputeMemorySize() const;
    [[nodiscard]] std::size_t ComputeDiskSize() const;
    // The values the field's storage type can hold, for auto-increment limits (integers only).
    [[nodiscard]] std::int64_t StorageMinValue() const noexcept;
    [[nodiscard]] std::int64_t StorageMaxValue() const noexcept;
};

// The fields of a table in definition order, with the record layout.
class TABSFieldDefs {
public:
    TABSFieldDefs() = default;

    // Appends a field and recomputes the layout.
    TABSFieldDef& Add(TABSFieldDef def);
    void Clear() noexcept;

    [[nodiscard]] std::size_t Count() const noexcept { return fields_.size(); }
    [[nodiscard]] bool Empty() const noexcept { return fields_.empty(); }
    // REQUIRES: fieldNo < Count().
    [[nodiscard]] const TABSFieldDef& operator[](std::size_t fieldNo) const noexcept { return fields_[fieldNo]; }
    [[nodiscard]] TABSFieldDef& operator[](std::size_t fieldNo) noexcept { return fields_[fieldNo]; }
    // Raises 30402 "Field #%d not found" when out of range.
    [[nodiscard]] const TABSFieldDef& FieldByNo(int fieldNo) const;
    // Lookup by name without regard to case; nullptr / -1 when missing.
    [[nodiscard]] const TABSFieldDef* Find(std::string_view name) const noexcept;
    [[nodiscard]] int IndexOf(std::string_view name) const noexcept;
    [[nodiscard]] const TABSFieldDef* FindByID(std::int32_t objectId) const noexcept;
    // Raises 30404 "Field '%s' not found".
    [[nodiscard]] const TABSFieldDef& FieldByName(std::string_view name) const;

    [[nodiscard]] auto begin() const noexcept { return fields_.begin(); }
    [[nodiscard]] auto end() const noexcept { return fields_.end(); }
    [[nodiscard]] auto begin() noexcept { return fields_.begin(); }
    [[nodiscard]] auto end() noexcept { return fields_.end(); }

    // Renames a field (30404 missing, 30406 the new name belongs to another field).
    void RenameField(std::string_view oldName, std::string newName);

    // Recomputes FieldNo and offsets (after members were changed in place).
    void ComputeLayout();

    [[nodiscard]] std::size_t NullBitmapSize() const noexcept { return (fields_.size() + 7) / 8; }
    [[nodiscard]] std::size_t MemoryRecordSize() const noexcept { return memoryRecordSize_; }
    // S: bitmap plus the disk sizes of all fields.
    [[nodiscard]] std::size_t DiskRecordSize() const noexcept { return diskRecordSize_; }
    [[nodiscard]] bool HasBlobFields() const noexcept;
    [[nodiscard]] bool HasAutoIncFields() const noexcept;

    // ---- Record buffers (memory layout unless named otherwise) ----
    // REQUIRES: the buffer holds MemoryRecordSize() bytes and fieldNo < Count().
    [[nodiscard]] bool IsNull(std::span<const std::uint8_t> record, std::size_t fieldNo) const noexcept;
    void SetNullFlag(std::span<std::uint8_t> record, std::size_t fieldNo, bool isNull) const noexcept;

    // The field's value (null when its bit is set). BLOB fields raise 30047: their values belong
    // to the BLOB store.
    [[nodiscard]] TABSVariant GetValue(std::span<const std::uint8_t> record, std::size_t fieldNo) const;
    // Converts `value` to the field's storage type and stores it; a null value (or an empty text)
    // sets the null bit and zeroes the bytes. Conversion errors (30051/30052), 30053 for text
    // Windows-1252 cannot hold and 20056 for a value too large for the field leave the record
    // unchanged. BLOB fields raise 30047.
    void SetValue(std::span<std::uint8_t> record, std::size_t fieldNo, const TABSVariant& value) const;
    // A memory record in which every field is null (bits set, bytes zero).
    [[nodiscard]] std::vector<std::uint8_t> NewRecord() const;

    // Memory ↔ disk: copy the bitmap, then every field from one offset to the other; a BLOB field
    // keeps its 6-byte reference (the cache handle exists only in memory and reads as 0).
    // REQUIRES: buffers of MemoryRecordSize() / DiskRecordSize() bytes.
    void MemoryToDisk(std::span<const std::uint8_t> memory, std::span<std::uint8_t> disk) const noexcept;
    void DiskToMemory(std::span<const std::uint8_t> disk, std::span<std::uint8_t> memory) const noexcept;

    // Bytes of a field inside a memory record.
    [[nodiscard]] std::span<const std::uint8_t> FieldBytes(std::span<const std::uint8_t> record,
                                                           std::size_t fieldNo) const noexcept;
    [[nodiscard]] std::span<std::uint8_t> FieldBytes(std::span<std::uint8_t> record, std::size_t fieldNo) const noexcept;

private:
    std::vector<TABSFieldDef> fields_;
    std::size_t memoryRecordSize_ = 0;
    std::size_t diskRecordSize_ = 0;
};

// Name comparison of engine objects (tables, fields, indexes, constraints): without regard to case.
[[nodiscard]] bool SameObjectName(std::string_view a, std::string_view b);
// A key under which equal names (in the sense of SameObjectName) are equal.
[[nodiscard]] std::string ObjectNameKey(std::string_view name);

} // namespace kova
