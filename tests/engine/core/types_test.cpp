// The type name table, its three lookups and the per-base-type facts.
#include "engine/core/ABSTypes.h"

#include "ValueTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kova {
namespace {

using test::NativeErrorOf;
using B = TABSBaseType;
using C = TABSColumnType;
using F = TFieldType;

TEST(TypeNameTable, HasEveryRowAndOnlyKnownCodes) {
    const auto table = TypeNameTable();
    ASSERT_EQ(table.size(), 62u);
    std::set<C> columnTypes;
    for (const TABSTypeInfo& row : table) {
        columnTypes.insert(row.columnType);
        EXPECT_GE(static_cast<int>(row.baseType), 1) << row.sqlName;
        EXPECT_LE(static_cast<int>(row.baseType), kBaseTypeCount) << row.sqlName;
    }
    // Every column type 1..36 has at least one row.
    EXPECT_EQ(columnTypes.size(), 36u);
    EXPECT_EQ(*columnTypes.begin(), C::actChar);
    EXPECT_EQ(*columnTypes.rbegin(), C::actGuid);
}

struct SqlNameCase {
    const char* name;
    C columnType;
    B baseType;
    F fieldType;
};

TEST(TypeNameTable, LooksUpSqlNamesIgnoringCase) {
    const SqlNameCase cases[] = {
        {"CHAR", C::actChar, B::bftChar, F::ftFixedChar},
        {"char", C::actChar, B::bftChar, F::ftFixedChar},
        {"Char", C::actChar, B::bftChar, F::ftFixedChar},
        {"String", C::actString, B::bftString, F::ftString},
        {"varchar2", C::actString, B::bftString, F::ftString},
        {"FLOAT", C::actDouble, B::bftDouble, F::ftFloat},  // the first FLOAT row wins
        {"Extended", C::actExtended, B::bftExtended, F::ftFloat},
        {"shortint", C::actShortInt, B::bftShortInt, F::ftSmallint},
        {"Cardinal", C::actCardinal, B::bftCardinal, F::ftLargeint},
        {"AUTOINC", C::actAutoInc, B::bftInteger, F::ftAutoInc},
        {"autoinclargeint", C::actAutoIncLargeInt, B::bftLargeInt, F::ftLargeint},
        {"bit", C::actBoolean, B::bftLogical, F::ftBoolean},
        {"Money", C::actCurrency, B::bftCurrency, F::ftCurrency},
        {"TIMESTAMP", C::actTimeStamp, B::bftDateTime, F::ftTimeStamp},
        {"blob", C::actBlob, B::bftBlob, F::ftBlob},
        {"Graphic", C::actGraphic, B::bftBlob, F::ftGraphic},
        {"clob", C::actMemo, B::bftMemo, F::ftMemo},
        {"WideMemo", C::actWideMemo, B::bftWideMemo, F::ftBlob},
        {"guid", C::actGuid, B::bftChar, F::ftGuid},
    };
    for (const SqlNameCase& c : cases) {
        const TABSTypeInfo* info = FindTypeBySQLName(c.name);
        ASSERT_NE(info, nullptr) << c.name;
        EXPECT_EQ(info->columnType, c.columnType) << c.name;
        EXPECT_EQ(info->baseType, c.baseType) << c.name;
        EXPECT_EQ(info->fieldType, c.fieldType) << c.name;
    }
}

TEST(TypeNameTable, UnknownSqlNamesAreNotFound) {
    for (const char* name : {"TEXT", "INT", "NUMERIC", "", "CHAR ", "CHARS", "VARCHAR(10)"}) {
        EXPECT_EQ(FindTypeBySQLName(name), nullptr) << '"' << name << '"';
    }
}

TEST(TypeNameTable, ColumnTypeGivesFirstRowsFacts) {
    struct Case {
        C columnType;
        const char* name;
        B baseType;
        F fieldType;
    };
    const Case cases[] = {
        {C::actChar, "CHAR", B::bftChar, F::ftFixedChar},
        {C::actDouble, "FLOAT", B::bftDouble, F::ftFloat},
        {C::actBlob, "BLOB", B::bftBlob, F::ftBlob},
        {C::actWideMemo, "WIDEMEMO", B::bftWideMemo, F::ftBlob},
        {C::actAutoIncByte, "AUTOINCBYTE", B::bftByte, F::ftAutoInc},
        {C::actGuid, "GUID", B::bftChar, F::ftGuid},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ColumnTypeName(c.columnType), c.name);
        EXPECT_EQ(BaseTypeOfColumnType(c.columnType), c.baseType) << c.name;
        EXPECT_EQ(FieldTypeOfColumnType(c.columnType), c.fieldType) << c.name;
    }
}

TEST(TypeNameTable, ColumnTypeWithoutRowIsUnsupported) {
    for (int code : {0, 37, 200}) {
        const auto type = static_cast<C>(code);
        EXPECT_EQ(ColumnTypeName(type), "Unknown");
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)BaseTypeOfColumnType(type); }, &message), kUnsupportedColumnTypeError);
        EXPECT_EQ(message, "Unsupported data type 'Unknown'");
    }
}

TEST(TypeNameTable, FieldTypeMapsBackToColumnType) {
    const std::pair<F, C> cases[] = {
        {F::ftFixedChar, C::actChar},   {F::ftString, C::actString},      {F::ftWideString, C::actWideChar},
        {F::ftSmallint, C::actSmallInt}, {F::ftWord, C::actWord},         {F::ftLargeint, C::actLargeInt},
        {F::ftAutoInc, C::actAutoInc},   {F::ftFloat, C::actDouble},      {F::ftBCD, C::actDouble},
        {F::ftBoolean, C::actBoolean},   {F::ftDateTime, C::actDateTime}, {F::ftTimeStamp, C::actTimeStamp},
        {F::ftParadoxOle, C::actBlob},   {F::ftOraClob, C::actBlob},      {F::ftGraphic, C::actGraphic},
        {F::ftMemo, C::actMemo},         {F::ftFmtMemo, C::actFormattedMemo}, {F::ftGuid, C::actGuid},
    };
    for (const auto& [fieldType, columnType] : cases) {
        EXPECT_EQ(ColumnTypeOfFieldType(fieldType), columnType) << static_cast<int>(fieldType);
    }
}

TEST(TypeNameTable, FieldTypeWithoutRowNamesItsNumber) {
    const std::pair<F, const char*> cases[] = {
        {F::ftUnknown, "Unknown DataType: '0'"},
        {F::ftCursor, "Unknown DataType: '22'"},
        {F::ftVariant, "Unknown DataType: '32'"},
        {F::ftFMTBcd, "Unknown DataType: '37'"},
    };
    for (const auto& [fieldType, expected] : cases) {
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)ColumnTypeOfFieldType(fieldType); }, &message), kUnknownFieldTypeError);
        EXPECT_EQ(message, expected);
    }
}

TEST(BaseTypes, NamesFollowTheFirstRowOfEachBaseType) {
    const char* expected[] = {"CHAR", "WIDECHAR", "STRING",   "WIDESTRING", "SHORTINT", "SMALLINT",
                              "INTEGER", "LARGEINT", "BYTE",  "WORD",       "CARDINAL", "SINGLE",
                              "FLOAT", "EXTENDED", "DATE",    "TIME",       "DATETIME", "BLOB",
                              "MEMO",  "WIDEMEMO", "LOGICAL", "CURRENCY",   "BYTES",    "VARBYTES"};
    for (int code = 1; code <= kBaseTypeCount; ++code) {
        EXPECT_EQ(BaseTypeName(static_cast<B>(code)), expected[code - 1]) << code;
    }
    // The names are those of the first table row with each base type.
    for (int code = 1; code <= kBaseTypeCount; ++code) {
        for (const TABSTypeInfo& row : TypeNameTable()) {
            if (static_cast<int>(row.baseType) == code) {
                EXPECT_EQ(row.sqlName, expected[code - 1]) << code;
                break;
            }
        }
    }
}

TEST(BaseTypes, ValueSizes) {
    struct Case {
        B type;
        std::size_t declared;
        std::size_t size;
    };
    const Case cases[] = {
        {B::bftChar, 45, 46},    {B::bftString, 255, 256}, {B::bftWideChar, 10, 22}, {B::bftWideString, 1, 4},
        {B::bftShortInt, 0, 1},  {B::bftByte, 0, 1},       {B::bftSmallInt, 0, 2},   {B::bftWord, 0, 2},
        {B::bftInteger, 0, 4},   {B::bftCardinal, 0, 4},   {B::bftLargeInt, 0, 8},   {B::bftSingle, 0, 4},
        {B::bftDouble, 0, 8},    {B::bftExtended, 0, 10},  {B::bftDate, 0, 4},       {B::bftTime, 0, 4},
        {B::bftDateTime, 0, 8},  {B::bftBlob, 0, 10},      {B::bftMemo, 0, 10},      {B::bftWideMemo, 0, 10},
        {B::bftLogical, 0, 2},   {B::bftCurrency, 0, 8},   {B::bftBytes, 16, 17},    {B::bftVarBytes, 16, 17},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BaseTypeValueSize(c.type, c.declared), c.size) << BaseTypeName(c.type);
    }
}

TEST(BaseTypes, UnknownBaseTypeHasNoSize) {
    for (int code : {0, 25, 255}) {
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)BaseTypeValueSize(static_cast<B>(code)); }, &message),
                  kUnknownBaseTypeSizeError);
        EXPECT_EQ(message, "Unknown DataType: '" + std::to_string(code) + "'");
    }
}

TEST(BaseTypes, DeclaredSizesAndGuidFieldSize) {
    for (C sized : {C::actChar, C::actString, C::actWideChar, C::actWideString, C::actBytes, C::actVarBytes}) {
        EXPECT_TRUE(ColumnTypeTakesSize(sized)) << ColumnTypeName(sized);
    }
    for (C unsized : {C::actInteger, C::actExtended, C::actGuid, C::actMemo, C::actDate}) {
        EXPECT_FALSE(ColumnTypeTakesSize(unsized)) << ColumnTypeName(unsized);
    }
    EXPECT_EQ(DatasetFieldSize(C::actGuid, 0), 38);
    EXPECT_EQ(DatasetFieldSize(C::actChar, 45), 45);
    EXPECT_TRUE(IsAutoIncColumnType(C::actAutoIncCardinal));
    EXPECT_FALSE(IsAutoIncColumnType(C::actCardinal));
}

} // namespace
} // namespace kova
