#include "engine/core/ABSTypes.h"

#include "engine/core/ABSExcept.h"

#include <array>
#include <cctype>

namespace kova {

namespace {

using B = TABSBaseType;
using C = TABSColumnType;
using F = TFieldType;

// The order matters: each lookup takes the first matching row. The duplicate FLOAT and BLOB rows
// exist only so that the dataset field types ftBCD, ftParadoxOle … map back to a column type.
constexpr std::array<TABSTypeInfo, 62> kTypeTable{{
    {"CHAR", C::actChar, B::bftChar, F::ftFixedChar},
    {"FIXEDCHAR", C::actChar, B::bftChar, F::ftFixedChar},
    {"STRING", C::actString, B::bftString, F::ftString},
    {"VARCHAR", C::actString, B::bftString, F::ftString},
    {"VARCHAR2", C::actString, B::bftString, F::ftString},
    {"WIDECHAR", C::actWideChar, B::bftWideChar, F::ftWideString},
    {"FIXEDWIDECHAR", C::actWideChar, B::bftWideChar, F::ftWideString},
    {"WIDESTRING", C::actWideString, B::bftWideString, F::ftWideString},
    {"WIDEVARCHAR", C::actWideString, B::bftWideString, F::ftWideString},
    {"SMALLINT", C::actSmallInt, B::bftSmallInt, F::ftSmallint},
    {"SIGNEDINT16", C::actSmallInt, B::bftSmallInt, F::ftSmallint},
    {"SHORTINT", C::actShortInt, B::bftShortInt, F::ftSmallint},
    {"SIGNEDINT8", C::actShortInt, B::bftShortInt, F::ftSmallint},
    {"INTEGER", C::actInteger, B::bftInteger, F::ftInteger},
    {"SIGNEDINT32", C::actInteger, B::bftInteger, F::ftInteger},
    {"LARGEINT", C::actLargeInt, B::bftLargeInt, F::ftLargeint},
    {"INT64", C::actLargeInt, B::bftLargeInt, F::ftLargeint},
    {"SIGNEDINT64", C::actLargeInt, B::bftLargeInt, F::ftLargeint},
    {"WORD", C::actWord, B::bftWord, F::ftWord},
    {"UNSIGNEDINT16", C::actWord, B::bftWord, F::ftWord},
    {"BYTE", C::actByte, B::bftByte, F::ftWord},
    {"UNSIGNEDINT8", C::actByte, B::bftByte, F::ftWord},
    {"CARDINAL", C::actCardinal, B::bftCardinal, F::ftLargeint},
    {"UNSIGNEDINT32", C::actCardinal, B::bftCardinal, F::ftLargeint},
    {"AUTOINC", C::actAutoInc, B::bftInteger, F::ftAutoInc},
    {"AUTOINCSHORTINT", C::actAutoIncShortInt, B::bftShortInt, F::ftAutoInc},
    {"AUTOINCSMALLINT", C::actAutoIncSmallInt, B::bftSmallInt, F::ftAutoInc},
    {"AUTOINCINTEGER", C::actAutoIncInteger, B::bftInteger, F::ftAutoInc},
    {"AUTOINCLARGEINT", C::actAutoIncLargeInt, B::bftLargeInt, F::ftLargeint},
    {"AUTOINCBYTE", C::actAutoIncByte, B::bftByte, F::ftAutoInc},
    {"AUTOINCWORD", C::actAutoIncWord, B::bftWord, F::ftAutoInc},
    {"AUTOINCCARDINAL", C::actAutoIncCardinal, B::bftCardinal, F::ftAutoInc},
    {"FLOAT", C::actDouble, B::bftDouble, F::ftFloat},
    {"FLOAT", C::actDouble, B::bftDouble, F::ftBCD},
    {"SINGLE", C::actSingle, B::bftSingle, F::ftFloat},
    {"DOUBLE", C::actDouble, B::bftDouble, F::ftFloat},
    {"EXTENDED", C::actExtended, B::bftExtended, F::ftFloat},
    {"LOGICAL", C::actBoolean, B::bftLogical, F::ftBoolean},
    {"BOOLEAN", C::actBoolean, B::bftLogical, F::ftBoolean},
    {"BOOL", C::actBoolean, B::bftLogical, F::ftBoolean},
    {"BIT", C::actBoolean, B::bftLogical, F::ftBoolean},
    {"CURRENCY", C::actCurrency, B::bftCurrency, F::ftCurrency},
    {"MONEY", C::actCurrency, B::bftCurrency, F::ftCurrency},
    {"DATE", C::actDate, B::bftDate, F::ftDate},
    {"TIME", C::actTime, B::bftTime, F::ftTime},
    {"DATETIME", C::actDateTime, B::bftDateTime, F::ftDateTime},
    {"TIMESTAMP", C::actTimeStamp, B::bftDateTime, F::ftTimeStamp},
    {"BYTES", C::actBytes, B::bftBytes, F::ftBytes},
    {"VARBYTES", C::actVarBytes, B::bftVarBytes, F::ftVarBytes},
    {"BLOB", C::actBlob, B::bftBlob, F::ftBlob},
    {"BLOB", C::actBlob, B::bftBlob, F::ftParadoxOle},
    {"BLOB", C::actBlob, B::bftBlob, F::ftTypedBinary},
    {"BLOB", C::actBlob, B::bftBlob, F::ftDBaseOle},
    {"BLOB", C::actBlob, B::bftBlob, F::ftOraBlob},
    {"BLOB", C::actBlob, B::bftBlob, F::ftOraClob},
    {"GRAPHIC", C::actGraphic, B::bftBlob, F::ftGraphic},
    {"MEMO", C::actMemo, B::bftMemo, F::ftMemo},
    {"CLOB", C::actMemo, B::bftMemo, F::ftMemo},
    {"FORMATTEDMEMO", C::actFormattedMemo, B::bftMemo, F::ftFmtMemo},
    {"WIDEMEMO", C::actWideMemo, B::bftWideMemo, F::ftBlob},
    {"WIDECLOB", C::actWideMemo, B::bftWideMemo, F::ftMemo},
    {"GUID", C::actGuid, B::bftChar, F::ftGuid},
}};

// Names of base types 1..24: the SQL name of the first row with that base type.
constexpr std::array<std::string_view, kBaseTypeCount> kBaseTypeNames{
    "CHAR",     "WIDECHAR", "STRING", "WIDESTRING", "SHORTINT", "SMALLINT", "INTEGER", "LARGEINT",
    "BYTE",     "WORD",     "CARDINAL", "SINGLE",   "FLOAT",    "EXTENDED", "DATE",    "TIME",
    "DATETIME", "BLOB",     "MEMO",   "WIDEMEMO",   "LOGICAL",  "CURRENCY", "BYTES",   "VARBYTES"};

bool EqualsUpper(std::string_view upperName, std::string_view candidate) noexcept {
    if (upperName.size() != candidate.size()) return false;
    for (std::size_t i = 0; i < upperName.size(); ++i) {
        if (upperName[i] != static_cast<char>(std::toupper(static_cast<unsigned char>(candidate[i])))) return false;
    }
    return true;
}

const TABSTypeInfo& RequireColumnType(TABSColumnType columnType) {
    const TABSTypeInfo* info = FindTypeByColumnType(columnType);
    if (info == nullptr) {
        RaiseError(kUnsupportedColumnTypeError, "Unsupported data type '%s'", {ColumnTypeName(columnType)});
    }
    return *info;
}

} // namespace

std::span<const TABSTypeInfo> TypeNameTable() noexcept { return kTypeTable; }

const TABSTypeInfo* FindTypeBySQLName(std::string_view name) noexcept {
    for (const TABSTypeInfo& row : kTypeTable) {
        if (EqualsUpper(row.sqlName, name)) return &row;
    }
    return nullptr;
}

const TABSTypeInfo* FindTypeByColumnType(TABSColumnType columnType) noexcept {
    for (const TABSTypeInfo& row : kTypeTable) {
        if (row.columnType == columnType) return &row;
    }
    return nullptr;
}

std::string_view ColumnTypeName(TABSColumnType columnType) noexcept {
    const TABSTypeInfo* info = FindTypeByColumnType(columnType);
    return info != nullptr ? info->sqlName : std::string_view("Unknown");
}

TABSBaseType BaseTypeOfColumnType(TABSColumnType columnType) { return RequireColumnType(columnType).baseType; }

TFieldType FieldTypeOfColumnType(TABSColumnType columnType) { return RequireColumnType(columnType).fieldType; }

TABSColumnType ColumnTypeOfFieldType(TFieldType fieldType) {
    for (const TABSTypeInfo& row : kTypeTable) {
        if (row.fieldType == fieldType) return row.columnType;
    }
    RaiseError(kUnknownFieldTypeError, "Unknown DataType: '%s'", {static_cast<int>(fieldType)});
}

bool ColumnTypeTakesSize(TABSColumnType columnType) noexcept {
    switch (columnType) {
    case C::actChar:
    case C::actString:
    case C::actWideChar:
    case C::actWideString:
    case C::actBytes:
    case C::actVarBytes:
        return true;
    default:
        return false;
    }
}

int DatasetFieldSize(TABSColumnType columnType, int declaredSize) noexcept {
    return columnType == C::actGuid ? kGuidFieldSize : declaredSize;
}

bool IsAutoIncColumnType(TABSColumnType columnType) noexcept {
    return columnType >= C::actAutoInc && columnType <= C::actAutoIncCardinal;
}

std::string BaseTypeName(TABSBaseType baseType) {
    const int code = static_cast<int>(baseType);
    if (code < 1 || code > kBaseTypeCount) return std::to_string(code);
    return std::string(kBaseTypeNames[static_cast<std::size_t>(code - 1)]);
}

std::size_t BaseTypeValueSize(TABSBaseType baseType, std::size_t declaredSize) {
    switch (baseType) {
    case B::bftChar:
    case B::bftString:
    case B::bftBytes:
    case B::bftVarBytes:
        return declaredSize + 1;
    case B::bftWideChar:
    case B::bftWideString:
        return 2 * (declaredSize + 1);
    case B::bftShortInt:
    case B::bftByte:
        return 1;
    case B::bftSmallInt:
    case B::bftWord:
    case B::bftLogical:
        return 2;
    case B::bftInteger:
    case B::bftCardinal:
    case B::bftSingle:
    case B::bftDate:
    case B::bftTime:
        return 4;
    case B::bftLargeInt:
    case B::bftDouble:
    case B::bftDateTime:
    case B::bftCurrency:
        return 8;
    case B::bftExtended:
    case B::bftBlob:
    case B::bftMemo:
    case B::bftWideMemo:
        return 10;
    case B::bftUnknown:
        break;
    }
    RaiseError(kUnknownBaseTypeSizeError, "Unknown DataType: '%s'", {BaseTypeName(baseType)});
}

} // namespace kova
