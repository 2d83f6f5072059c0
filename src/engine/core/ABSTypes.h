// The engine's type vocabulary: the codes a column is declared with, the base types values are
// stored and computed in, the dataset framework's field types, and the table that maps SQL type
// names onto all three.
//
// A column type (1..36) is what the table's field definitions remember; several column types
// share one base type (1..24) (all auto-increment flavours are plain integers underneath, a GUID
// is fixed text). The dataset field type decides which field object a result column gets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kova {

// Storage and computation type of a value. 0 means "no type yet".
enum class TABSBaseType : std::uint8_t {
    bftUnknown = 0,
    bftChar = 1,        // fixed 8-bit text
    bftWideChar = 2,    // fixed UTF-16 text
    bftString = 3,      // 8-bit text
    bftWideString = 4,  // UTF-16 text
    bftShortInt = 5,    // signed 8 bit
    bftSmallInt = 6,    // signed 16 bit
    bftInteger = 7,     // signed 32 bit
    bftLargeInt = 8,    // signed 64 bit
    bftByte = 9,        // unsigned 8 bit
    bftWord = 10,       // unsigned 16 bit
    bftCardinal = 11,   // unsigned 32 bit
    bftSingle = 12,
    bftDouble = 13,
    bftExtended = 14,   // x87 80-bit
    bftDate = 15,       // day number, 1 Jan 0001 = 1
    bftTime = 16,       // milliseconds since midnight
    bftDateTime = 17,   // day number + milliseconds
    bftBlob = 18,
    bftMemo = 19,
    bftWideMemo = 20,
    bftLogical = 21,    // 0 false, -1 true
    bftCurrency = 22,   // amount held in a double
    bftBytes = 23,
    bftVarBytes = 24,
};

inline constexpr int kBaseTypeCount = 24;

// What a column was declared as.
enum class TABSColumnType : std::uint8_t {
    actUnknown = 0,
    actChar = 1,
    actString = 2,
    actWideChar = 3,
    actWideString = 4,
    actShortInt = 5,
    actSmallInt = 6,
    actInteger = 7,
    actLargeInt = 8,
    actByte = 9,
    actWord = 10,
    actCardinal = 11,
    actAutoInc = 12,
    actAutoIncShortInt = 13,
    actAutoIncSmallInt = 14,
    actAutoIncInteger = 15,
    actAutoIncLargeInt = 16,
    actAutoIncByte = 17,
    actAutoIncWord = 18,
    actAutoIncCardinal = 19,
    actSingle = 20,
    actDouble = 21,
    actExtended = 22,
    actBoolean = 23,
    actCurrency = 24,
    actDate = 25,
    actTime = 26,
    actDateTime = 27,
    actTimeStamp = 28,
    actBytes = 29,
    actVarBytes = 30,
    actBlob = 31,
    actGraphic = 32,
    actMemo = 33,
    actFormattedMemo = 34,
    actWideMemo = 35,
    actGuid = 36,
};

inline constexpr int kColumnTypeCount = 36;

// The dataset framework's field type enumeration. The numbers are the framework's own: they
// appear in error messages and in stored parameter descriptions, so the order must not change.
enum class TFieldType : std::uint8_t {
    ftUnknown = 0,
    ftString = 1,
    ftSmallint = 2,
    ftInteger = 3,
    ftWord = 4,
    ftBoolean = 5,
    ftFloat = 6,
    ftCurrency = 7,
    ftBCD = 8,
    ftDate = 9,
    ftTime = 10,
    ftDateTime = 11,
    ftBytes = 12,
    ftVarBytes = 13,
    ftAutoInc = 14,
    ftBlob = 15,
    ftMemo = 16,
    ftGraphic = 17,
    ftFmtMemo = 18,
    ftParadoxOle = 19,
    ftDBaseOle = 20,
    ftTypedBinary = 21,
    ftCursor = 22,
    ftFixedChar = 23,
    ftWideString = 24,
    ftLargeint = 25,
    ftADT = 26,
    ftArray = 27,
    ftReference = 28,
    ftDataSet = 29,
    ftOraBlob = 30,
    ftOraClob = 31,
    ftVariant = 32,
    ftInterface = 33,
    ftIDispatch = 34,
    ftGuid = 35,
    ftTimeStamp = 36,
    ftFMTBcd = 37,
};

// One row of the type name table.
struct TABSTypeInfo {
    std::string_view sqlName;
    TABSColumnType columnType;
    TABSBaseType baseType;
    TFieldType fieldType;
};

// Native error codes of this module.
inline constexpr int kUnsupportedColumnTypeError = 30007;
inline constexpr int kUnknownFieldTypeError = 30289;
inline constexpr int kUnknownBaseTypeSizeError = 30050;

// Dataset field size of a GUID column ("{" + 36 characters + "}").
inline constexpr int kGuidFieldSize = 38;

// The whole table in lookup order (62 rows).
[[nodiscard]] std::span<const TABSTypeInfo> TypeNameTable() noexcept;

// First row whose SQL name equals the upper-cased `name`; nullptr when no row has it (the caller,
// CREATE or ALTER TABLE, raises its own error).
[[nodiscard]] const TABSTypeInfo* FindTypeBySQLName(std::string_view name) noexcept;

// First row with this column type; nullptr for a code without a row.
[[nodiscard]] const TABSTypeInfo* FindTypeByColumnType(TABSColumnType columnType) noexcept;

// Display name of a column type: the SQL name of its first row, "Unknown" when it has none.
[[nodiscard]] std::string_view ColumnTypeName(TABSColumnType columnType) noexcept;

// Base type and dataset field type of a column type. Raise 30007 "Unsupported data type '%s'"
// for a code without a row (a field being defined with it).
[[nodiscard]] TABSBaseType BaseTypeOfColumnType(TABSColumnType columnType);
[[nodiscard]] TFieldType FieldTypeOfColumnType(TABSColumnType columnType);

// Column type of a dataset field type (used for query parameters). Raises 30289
// "Unknown DataType: '%s'" with the field type's number when no row has it.
[[nodiscard]] TABSColumnType ColumnTypeOfFieldType(TFieldType fieldType);

// Whether a column type takes a declared size "(n)".
[[nodiscard]] bool ColumnTypeTakesSize(TABSColumnType columnType) noexcept;

// Field size a dataset field of this column gets: 38 for GUID, the declared size otherwise.
[[nodiscard]] int DatasetFieldSize(TABSColumnType columnType, int declaredSize) noexcept;

// Whether an auto-increment column type.
[[nodiscard]] bool IsAutoIncColumnType(TABSColumnType columnType) noexcept;

// Base type names ("CHAR" … "VARBYTES"); an out-of-range code gives its number as text.
[[nodiscard]] std::string BaseTypeName(TABSBaseType baseType);

// Value size in bytes of a base type in a record buffer; `declaredSize` is n of the sized types.
// Raises 30050 "Unknown DataType: '%s'" for a code outside 1..24.
[[nodiscard]] std::size_t BaseTypeValueSize(TABSBaseType baseType, std::size_t declaredSize = 0);

// Type classes used by conversion, comparison and arithmetic.
[[nodiscard]] constexpr bool IsAnsiTextType(TABSBaseType t) noexcept {
    return t == TABSBaseType::bftChar || t == TABSBaseType::bftString;
}
[[nodiscard]] constexpr bool IsWideTextType(TABSBaseType t) noexcept {
    return t == TABSBaseType::bftWideChar || t == TABSBaseType::bftWideString;
}
// Text in the wider sense: plain and wide text and the memo types, whose values are text too.
[[nodiscard]] constexpr bool IsTextType(TABSBaseType t) noexcept {
    return IsAnsiTextType(t) || IsWideTextType(t) || t == TABSBaseType::bftMemo ||
           t == TABSBaseType::bftWideMemo;
}
[[nodiscard]] constexpr bool IsSignedIntegerType(TABSBaseType t) noexcept {
    return t >= TABSBaseType::bftShortInt && t <= TABSBaseType::bftLargeInt;
}
[[nodiscard]] constexpr bool IsUnsignedIntegerType(TABSBaseType t) noexcept {
    return t >= TABSBaseType::bftByte && t <= TABSBaseType::bftCardinal;
}
[[nodiscard]] constexpr bool IsIntegerType(TABSBaseType t) noexcept {
    return IsSignedIntegerType(t) || IsUnsignedIntegerType(t);
}
[[nodiscard]] constexpr bool IsFloatType(TABSBaseType t) noexcept {
    return t >= TABSBaseType::bftSingle && t <= TABSBaseType::bftExtended;
}
[[nodiscard]] constexpr bool IsDateTimeKind(TABSBaseType t) noexcept {
    return t >= TABSBaseType::bftDate && t <= TABSBaseType::bftDateTime;
}
[[nodiscard]] constexpr bool IsBinaryType(TABSBaseType t) noexcept {
    return t == TABSBaseType::bftBlob || t == TABSBaseType::bftBytes || t == TABSBaseType::bftVarBytes;
}

} // namespace kova
