// The two internal files that describe a table: its definition (fields, indexes, constraints and
// the roots of its page indexes) and its state (auto-increment counters, change counter, record
// count). This header owns their byte formats; all integers are little-endian, strings are
// Windows-1252 and a *name* is a uint8 length L followed by L characters.
//
// Definition file (stored ZLIB-compressed at level 1 in TableMetaData pages):
//   1. int32 field count, then per field:
//        name, int32 object id, uint8 storage type, uint8 column type, int32 declared size,
//        uint8 BLOB compression algorithm, uint8 BLOB compression mode, int32 BLOB block size,
//        int64 autoinc step, int64 autoinc initial value, int64 autoinc minimum,
//        int64 autoinc maximum, uint8 autoinc cycles, value default
//   2. int32 persistent index count, then per index:
//        name, int32 object id, uint8 kind, uint8 unique (0/0xFF), uint8 primary (0/0xFF),
//        int32 column count, int32 root page, per column: name, uint8 descending,
//        uint8 case-insensitive, int32 column parameter
//   3. int32 constraint count, then per constraint uint8 kind and its body (ABSConstraintDefs.h)
//   4. int32 root page of the record page index
//   5. int32 root page of the BLOB page index (-1: none)
//   A value is uint8 storage type, uint8 null flag (non-zero: nothing follows), int32 length and
//   that many bytes in the record encoding of the storage type.
//
// State file (TableMostUpdated pages, not compressed):
//   int32 n, n × int64 current autoinc value per field (0 for other fields), int32 change
//   counter, int32 record count.
#pragma once

#include "engine/storage/ABSConstraintDefs.h"
#include "engine/storage/ABSFieldDefs.h"
#include "engine/storage/ABSIndexDefs.h"
#include "engine/storage/ABSPage.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kova {

// A definition or state file whose bytes do not decode.
inline constexpr int kInvalidTableHeaderError = 20164;  // "Invalid table header data"
inline constexpr int kObjectNameTooLongError = 30399;   // "Name '%s' is too long. Maximum length is %d characters"

struct TABSTableDefinition {
    TABSFieldDefs Fields;
    TABSIndexDefs Indexes;  // temporary indexes are skipped when encoding
    TABSConstraintDefs Constraints;
    TABSPageNo RecordPageIndexRoot = kNoPage;
    TABSPageNo BlobPageIndexRoot = kNoPage;

    // The uncompressed content of the definition file. Raises 30053 for names Windows-1252 cannot
    // hold and 30399 for names longer than 255 bytes.
    [[nodiscard]] std::vector<std::uint8_t> Encode() const;
    // Reads the content back (layout of the fields computed). Raises 20164 when the bytes end
    // early or hold impossible values, 30316 "Unknown Constraint Type: '%d'" for a constraint
    // kind other than 0, 2, 3, 4.
    [[nodiscard]] static TABSTableDefinition Decode(std::span<const std::uint8_t> bytes);
};

struct TABSTableState {
    std::vector<std::int64_t> AutoincValues;  // one per field
    std::int32_t ChangeCounter = 0;
    std::int32_t RecordCount = 0;

    // The state of a new table: every auto-increment field at its initial value.
    [[nodiscard]] static TABSTableState Initial(const TABSFieldDefs& fields);

    [[nodiscard]] std::vector<std::uint8_t> Encode() const;
    // Raises 20164 "Invalid table header data" when the bytes are more than or fewer than the
    // layout for `fieldCount` fields.
    [[nodiscard]] static TABSTableState Decode(std::span<const std::uint8_t> bytes, std::size_t fieldCount);
    [[nodiscard]] static std::size_t EncodedSize(std::size_t fieldCount) noexcept { return 12 + 8 * fieldCount; }

    friend bool operator==(const TABSTableState&, const TABSTableState&) = default;
};

} // namespace kova
