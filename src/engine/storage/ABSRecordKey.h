// Keys of record indexes: their layout, how they are built from memory records or from values, and
// how they compare.
//
// A stored key has one part per index column, in column order. With M the field's memory size and
// P the column's parameter (20 for indexes made by SQL):
//   M ≤ P   M + 1 bytes: null byte (1 = null, 0 = value), then the whole memory value
//   M > P   P + 3 bytes: null byte, the first P bytes of the value, two zero bytes (truncated part)
// A full key uses M + 1 bytes for every column. Search keys are always full keys (built from a
// record or from constants), so only the stored side of a comparison can be truncated.
//
// Parts compare by null flag (null first) and then by the value order of the field's storage type:
// text through the locale collation (case-insensitive columns ignore case), numbers numerically,
// dates by day and millisecond, false before true, byte strings bytewise. A descending column
// negates its part's result. Entries with equal keys are ordered by record identifier.
//
// Truncated parts. A prefix settles the order of two values only when their difference lies inside
// the prefix; for text that means a primary-level (letter) difference, since a later letter outranks
// an earlier accent or case difference in collation order. When the prefixes do not settle it, the
// records are read through the record fetcher and their full values compared ("Cannot retreive
// record for index", 20170, when a record cannot be read).
#pragma once

#include "engine/core/ABSTypes.h"
#include "engine/core/ABSVariant.h"
#include "engine/storage/ABSBTreeKey.h"
#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSIndexDefs.h"
#include "engine/storage/ABSRecordID.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kova {

inline constexpr int kCannotIndexBlobError = 20295;
inline constexpr int kIndexFieldNotFoundError = 20043;
inline constexpr int kCannotRetrieveRecordError = 20170;

// One key column as the comparison needs it.
struct TABSKeyColumnLayout {
    std::string FieldName;
    std::size_t FieldNo = 0;  // bit of the record's null bitmap
    TABSBaseType StorageType = TABSBaseType::bftUnknown;
    std::size_t MemoryOffset = 0;
    std::size_t MemorySize = 0;   // M
    std::int32_t Parameter = kDefaultIndexColumnParameter;  // P
    bool Descending = false;
    bool CaseInsensitive = false;
    bool AutoInc = false;

    [[nodiscard]] bool IsTruncated() const noexcept {
        return Parameter >= 0 && MemorySize > static_cast<std::size_t>(Parameter);
    }
    [[nodiscard]] std::size_t StoredPartSize() const noexcept {
        return IsTruncated() ? static_cast<std::size_t>(Parameter) + 3 : MemorySize + 1;
    }
    [[nodiscard]] std::size_t FullPartSize() const noexcept { return MemorySize + 1; }
};

// The layout of an index's key from its definition and the table's fields. Raises 20043 "Cannot
// find index field '%s'" for a column that names no field and 20295 "Cannot index BLOB field …"
// for a BLOB field.
[[nodiscard]] std::vector<TABSKeyColumnLayout> BuildKeyLayout(const TABSIndexDef& index, const TABSFieldDefs& fields);

// Reads the memory record of an identifier; false when there is no such record.
using TABSRecordFetcher = std::function<bool(const TABSRecordID& id, std::vector<std::uint8_t>& memoryRecord)>;

class TABSRecordKeyRef final : public TABSBTreeKeyRef {
public:
    explicit TABSRecordKeyRef(std::vector<TABSKeyColumnLayout> columns);

    [[nodiscard]] const std::vector<TABSKeyColumnLayout>& Columns() const noexcept { return columns_; }
    [[nodiscard]] std::size_t KeySize() const noexcept override { return keySize_; }
    [[nodiscard]] std::size_t LeafValueSize() const noexcept override { return TABSRecordID::kEncodedSize; }
    [[nodiscard]] std::size_t FullKeySize() const noexcept { return fullKeySize_; }
    // Whether any column is stored truncated (comparisons may then read records).
    [[nodiscard]] bool HasTruncatedColumns() const noexcept;

    // The fetcher used to settle truncated parts; without one such comparisons raise 20170.
    void SetRecordFetcher(TABSRecordFetcher fetcher) { fetcher_ = std::move(fetcher); }

    // Keys of a memory record. REQUIRES: the record is a memory record of the table.
    [[nodiscard]] std::vector<std::uint8_t> StoredKey(std::span<const std::uint8_t> record) const;
    [[nodiscard]] std::vector<std::uint8_t> FullKey(std::span<const std::uint8_t> record) const;
    // The search key of one record's entry: its full key and, when given, its identifier.
    [[nodiscard]] TABSBTreeSearchKey RecordSearchKey(std::span<const std::uint8_t> record,
                                                     const TABSRecordID* id = nullptr) const;
    // A search key over the first values.size() columns (1 … column count). Each value is
    // converted to its field's storage type (30051/30052 when it cannot be); a text longer than
    // the field keeps what fits. `partial`: text parts match as prefixes.
    [[nodiscard]] TABSBTreeSearchKey ValueSearchKey(const std::vector<TABSVariant>& values, bool partial = false) const;

    // Orders two full keys in index order over their first `columnCount` columns (0 = all), without
    // identifiers; 0 when those parts are equal.
    [[nodiscard]] int CompareFullKeys(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                                      std::size_t columnCount = 0) const;

    [[nodiscard]] int CompareSearch(const TABSBTreeSearchKey& search, std::span<const std::uint8_t> entryKey,
                                    TABSEntryValueSource& entryValue) const override;
    [[nodiscard]] int CompareEntries(std::span<const std::uint8_t> key1, TABSEntryValueSource& value1,
                                     std::span<const std::uint8_t> key2,
                                     TABSEntryValueSource& value2) const override;

private:
    [[nodiscard]] std::vector<std::uint8_t> FetchFullKey(TABSEntryValueSource& value) const;

    std::vector<TABSKeyColumnLayout> columns_;
    std::vector<std::size_t> storedOffsets_;
    std::vector<std::size_t> fullOffsets_;
    std::size_t keySize_ = 0;
    std::size_t fullKeySize_ = 0;
    TABSRecordFetcher fetcher_;
};

// Orders two memory values of one storage type (both `size` bytes): < 0, 0, > 0. Text compares
// through the locale collation, ignoring case when asked; `partial` compares only as many
// characters of `a` as `b` has.
[[nodiscard]] int CompareStoredValues(TABSBaseType type, const std::uint8_t* a, const std::uint8_t* b,
                                      std::size_t size, bool ignoreCase = false, bool partial = false);

} // namespace kova
