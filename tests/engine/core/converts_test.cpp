// Conversion, common types, comparison and arithmetic of values.
#include "engine/core/ABSConverts.h"

#include "ValueTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace kova {
namespace {

using namespace test;
using B = TABSBaseType;

std::int32_t Day(int y, int m, int d) { return *TryEncodeDate(y, m, d); }
std::int32_t Ms(int h, int n, int s) { return *TryEncodeTime(h, n, s, 0); }

// ---- Common types ----

TEST(CommonTypes, CellsIncludingTheAsymmetricOnes) {
    struct Case {
        B left, right, comparison, arithmetic;
    };
    const Case cases[] = {
        {B::bftShortInt, B::bftWord, B::bftWord, B::bftWord},
        {B::bftWord, B::bftShortInt, B::bftInteger, B::bftInteger},
        {B::bftByte, B::bftShortInt, B::bftSmallInt, B::bftSmallInt},
        {B::bftCardinal, B::bftInteger, B::bftLargeInt, B::bftLargeInt},
        {B::bftInteger, B::bftString, B::bftString, B::bftString},
        {B::bftString, B::bftWideChar, B::bftWideChar, B::bftWideChar},
        {B::bftChar, B::bftString, B::bftString, B::bftString},
        {B::bftString, B::bftDate, B::bftDate, B::bftString},
        {B::bftDate, B::bftChar, B::bftDate, B::bftChar},
        {B::bftTime, B::bftWideString, B::bftTime, B::bftWideString},
        {B::bftDateTime, B::bftString, B::bftDateTime, B::bftString},
        {B::bftDate, B::bftTime, B::bftDateTime, B::bftDateTime},
        {B::bftTime, B::bftTime, B::bftTime, B::bftTime},
        {B::bftInteger, B::bftDate, B::bftDate, B::bftDate},
        {B::bftSingle, B::bftDouble, B::bftDouble, B::bftDouble},
        {B::bftDouble, B::bftSingle, B::bftDouble, B::bftDouble},
        {B::bftCurrency, B::bftSingle, B::bftSingle, B::bftSingle},
        {B::bftInteger, B::bftCurrency, B::bftCurrency, B::bftCurrency},
        {B::bftLogical, B::bftInteger, B::bftInteger, B::bftInteger},
        {B::bftShortInt, B::bftLogical, B::bftShortInt, B::bftShortInt},
        {B::bftMemo, B::bftMemo, B::bftChar, B::bftChar},
        {B::bftMemo, B::bftWideMemo, B::bftWideChar, B::bftWideChar},
        {B::bftWideMemo, B::bftString, B::bftWideString, B::bftWideString},
        // Incompatible pairs.
        {B::bftInteger, B::bftMemo, B::bftUnknown, B::bftUnknown},
        {B::bftLogical, B::bftCurrency, B::bftUnknown, B::bftUnknown},
        {B::bftCurrency, B::bftLogical, B::bftUnknown, B::bftUnknown},
        {B::bftDate, B::bftLogical, B::bftUnknown, B::bftUnknown},
        {B::bftBlob, B::bftBlob, B::bftUnknown, B::bftUnknown},
        {B::bftString, B::bftBlob, B::bftUnknown, B::bftUnknown},
        {B::bftBytes, B::bftBytes, B::bftUnknown, B::bftUnknown},
        {B::bftVarBytes, B::bftInteger, B::bftUnknown, B::bftUnknown},
        {B::bftUnknown, B::bftInteger, B::bftUnknown, B::bftUnknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CommonType(c.left, c.right, TCommonTypeUse::Comparison), c.comparison)
            << BaseTypeName(c.left) << " x " << BaseTypeName(c.right);
        EXPECT_EQ(CommonType(c.left, c.right, TCommonTypeUse::Arithmetic), c.arithmetic)
            << BaseTypeName(c.left) << " x " << BaseTypeName(c.right);
    }
}

TEST(CommonTypes, ComparisonAndArithmeticDifferOnlyForTextAgainstDates) {
    for (int l = 1; l <= kBaseTypeCount; ++l) {
        for (int r = 1; r <= kBaseTypeCount; ++r) {
            const auto left = static_cast<B>(l);
            const auto right = static_cast<B>(r);
            const B cmp = CommonType(left, right, TCommonTypeUse::Comparison);
            const B arith = CommonType(left, right, TCommonTypeUse::Arithmetic);
            const bool textVersusDate = (IsAnsiTextType(left) || IsWideTextType(left)) && IsDateTimeKind(right);
            const bool dateVersusText = IsDateTimeKind(left) && (IsAnsiTextType(right) || IsWideTextType(right));
            if (textVersusDate || dateVersusText) {
                EXPECT_TRUE(IsDateTimeKind(cmp)) << l << "," << r;
                EXPECT_TRUE(IsAnsiTextType(arith) || IsWideTextType(arith)) << l << "," << r;
            } else {
                EXPECT_EQ(cmp, arith) << l << "," << r;
            }
        }
    }
}

// ---- Conversion ----

struct ConvertCase {
    const char* name;
    TABSVariant source;
    B target;
    std::optional<TABSVariant> expected;  // nothing: an error is expected
    int error = 0;
    const char* message = nullptr;
};

using ConvertTest = GermanSettingsTest;

void RunConvertCases(const std::vector<ConvertCase>& cases) {
    for (const ConvertCase& c : cases) {
        TABSVariant v = c.source;
        std::string message;
        const int error = NativeErrorOf([&] { v.ConvertTo(c.target); }, &message);
        if (!c.expected) {
            EXPECT_EQ(error, c.error) << c.name;
            if (c.message != nullptr) {
                EXPECT_EQ(message, c.message) << c.name;
            }
            continue;
        }
        ASSERT_EQ(error, 0) << c.name << ": " << message;
        EXPECT_EQ(v.BaseType(), c.target) << c.name;
        EXPECT_EQ(v.IsNull(), c.expected->IsNull()) << c.name;
        if (v.IsNull()) continue;
        if (IsBinaryType(c.target)) {
            // Binary values do not compare; their bytes must match.
            EXPECT_EQ(v.TextData(), c.expected->TextData()) << c.name;
        } else {
            // Same text form and equal under comparison in the target type.
            EXPECT_EQ(v.GetAsString(), c.expected->GetAsString()) << c.name;
            EXPECT_EQ(v.Compare(*c.expected), TABSCompareResult::Equal) << c.name;
        }
    }
}

TEST_F(ConvertTest, TextToNumbers) {
    RunConvertCases({
        {"decimal", Str("42"), B::bftInteger, Int(42)},
        {"negative", Str("-12"), B::bftSmallInt, Int(-12, B::bftSmallInt)},
        {"dollar hex", Str("$FF"), B::bftInteger, Int(255)},
        {"leading blanks", Str("  7"), B::bftLargeInt, Int(7, B::bftLargeInt)},
        {"large", Str("9000000000"), B::bftLargeInt, Int(9000000000LL, B::bftLargeInt)},
        {"cardinal", Str("4000000000"), B::bftCardinal, Int(4000000000LL, B::bftCardinal)},
        {"narrow keeps low bits", Str("300"), B::bftByte, Int(44, B::bftByte)},
        {"integer overflow", Str("2147483648"), B::bftInteger, std::nullopt, kCastFailedError,
         "Cannot cast from 'STRING' to 'INTEGER'"},
        {"not a number", Str("abc"), B::bftInteger, std::nullopt, kCastFailedError},
        {"fraction to integer", Str("1.5"), B::bftInteger, std::nullopt, kCastFailedError},
        {"point in any locale", Str("2.5"), B::bftExtended, Dbl(2.5L, B::bftExtended)},
        {"comma refused", Str("2,5"), B::bftExtended, std::nullopt, kCastFailedError,
         "Cannot cast from 'STRING' to 'EXTENDED'"},
        {"whole number", Str("3"), B::bftExtended, Dbl(3, B::bftExtended)},
        {"exponent", Str("1e3"), B::bftDouble, Dbl(1000)},
        {"double read in its precision", Str("0.1"), B::bftDouble, Dbl(0.1)},
        {"single read in its precision", Str("0.1"), B::bftSingle, Dbl(0.1f, B::bftSingle)},
        {"extended read in its precision", Str("0.1"), B::bftExtended, Dbl(0.1L, B::bftExtended)},
        {"single overflow", Str("1e300"), B::bftSingle, std::nullopt, kCastFailedError,
         "Cannot cast from 'STRING' to 'SINGLE'"},
        {"char source", Chr("12"), B::bftInteger, Int(12)},
        {"wide source", WStr(u"12"), B::bftInteger, Int(12)},
        {"currency uses the locale's comma", Str("2,5"), B::bftCurrency, Dbl(2.5, B::bftCurrency)},
        {"currency refuses the point here", Str("2.5"), B::bftCurrency, std::nullopt, kCastFailedError},
        {"true", Str("true"), B::bftLogical, Bool(true)},
        {"one", Str("1"), B::bftLogical, Bool(true)},
        {"other text is false", Str("ja"), B::bftLogical, Bool(false)},
        {"minus one is false", Str("-1"), B::bftLogical, Bool(false)},
    });
}

TEST_F(ConvertTest, TextToDatesAndTimes) {
    RunConvertCases({
        {"full form to date", Str("2011-03-24 14:05:00"), B::bftDate, Date(2011, 3, 24)},
        {"date form", Str("2011-03-24"), B::bftDate, Date(2011, 3, 24)},
        {"process format", Str("24.03.2011"), B::bftDate, Date(2011, 3, 24)},
        {"short groups are not the fixed form", Str("2011-3-24"), B::bftDate, std::nullopt, kCastFailedError,
         "Cannot cast from 'STRING' to 'DATE'"},
        {"no date", Str("gestern"), B::bftDate, std::nullopt, kCastFailedError},
        {"fixed time", Str("14:05:09"), B::bftTime, Time(14, 5, 9)},
        {"process time", Str("14:05"), B::bftTime, Time(14, 5, 0)},
        {"bad time", Str("14.05"), B::bftTime, std::nullopt, kCastFailedError},
        {"full form", Str("2011-03-24 14:05:09"), B::bftDateTime, DT(Day(2011, 3, 24), Ms(14, 5, 9))},
        {"date form to date-time", Str("2011-03-24"), B::bftDateTime, DT(Day(2011, 3, 24), 0)},
        {"process date-time", Str("24.03.2011 14:05"), B::bftDateTime, DT(Day(2011, 3, 24), Ms(14, 5, 0))},
        // Wide text goes through the process formats only.
        {"wide process date", WStr(u"24.03.2011"), B::bftDate, Date(2011, 3, 24)},
        {"wide fixed form refused", WStr(u"2011-03-24"), B::bftDate, std::nullopt, kCastFailedError,
         "Cannot cast from 'WIDESTRING' to 'DATE'"},
        {"wide fixed time refused", WStr(u"14:05:09"), B::bftTime, Time(14, 5, 9)},
    });
}

TEST_F(ConvertTest, NumbersAndDatesToText) {
    RunConvertCases({
        {"integer", Int(-42), B::bftString, Str("-42")},
        {"cardinal", Int(4294967295LL, B::bftCardinal), B::bftString, Str("4294967295")},
        {"extended with comma", Dbl(2.5L, B::bftExtended), B::bftString, Str("2,5")},
        {"big double", Dbl(1e20L), B::bftChar, Chr("1E20")},
        {"currency", Dbl(12.5, B::bftCurrency), B::bftString, Str("12,5")},
        {"date", Date(2011, 3, 24), B::bftString, Str("24.03.2011")},
        {"time", Time(14, 5, 0), B::bftString, Str("14:05:00")},
        {"date-time", DT(Day(2011, 3, 24), Ms(14, 5, 9)), B::bftString, Str("24.03.2011 14:05:09")},
        {"midnight", DT(Day(2011, 3, 24), 0), B::bftString, Str("24.03.2011")},
        {"boolean", Bool(true), B::bftString, Str("True")},
        {"wide target", Int(7), B::bftWideString, WStr(u"7")},
        {"text width", WStr(u"Jörg"), B::bftChar, Chr("Jörg")},
        {"to memo", Str("Notiz"), B::bftMemo, Str("Notiz", B::bftMemo)},
        {"memo to text", Str("Notiz", B::bftMemo), B::bftString, Str("Notiz")},
        {"text to blob", Str("abc"), B::bftBlob, Blob("abc")},
        {"wide to blob", WStr(u"ab"), B::bftBlob, Blob(std::string("a\0b\0", 4))},
    });
}

TEST_F(ConvertTest, BetweenNumbers) {
    RunConvertCases({
        {"truncates toward zero", Dbl(7.9L), B::bftInteger, Int(7)},
        {"negative truncates toward zero", Dbl(-7.9L), B::bftInteger, Int(-7)},
        {"currency truncates", Dbl(12.99, B::bftCurrency), B::bftSmallInt, Int(12, B::bftSmallInt)},
        {"huge float", Dbl(1e30L), B::bftInteger, std::nullopt, kCastFailedError,
         "Cannot cast from 'FLOAT' to 'INTEGER'"},
        {"not a number", Dbl(std::nanl("")), B::bftLargeInt, std::nullopt, kCastFailedError},
        {"double to single overflow", Dbl(1e300L), B::bftSingle, std::nullopt, kCastFailedError},
        {"narrow keeps low bits", Int(0x100000005LL, B::bftLargeInt), B::bftInteger, Int(5)},
        {"negative to word", Int(-1), B::bftWord, Int(65535, B::bftWord)},
        {"integer to extended", Int(-3), B::bftExtended, Dbl(-3, B::bftExtended)},
        {"boolean to integer", Bool(true), B::bftInteger, Int(1)},
        {"integer to boolean", Int(5), B::bftLogical, Bool(true)},
        {"zero to boolean", Int(0), B::bftLogical, Bool(false)},
        {"integer is a day number", Int(693594), B::bftDate, Date(1899, 12, 30)},
        {"integer is milliseconds", Int(1000), B::bftTime, Time(0, 0, 1)},
        {"integer to date-time", Int(693594), B::bftDateTime, DT(693594, 0)},
        {"date to number", Date(1899, 12, 30), B::bftLargeInt, Int(693594, B::bftLargeInt)},
        {"date-time to date", DT(700000, 5000), B::bftDate, DT(700000, 0)},
        {"date-time to time", DT(700000, 5000), B::bftTime, Time(0, 0, 5)},
        {"date to date-time", Date(2011, 3, 24), B::bftDateTime, DT(Day(2011, 3, 24), 0)},
        {"time to date-time has day 0", Time(1, 0, 0), B::bftDateTime, DT(0, Ms(1, 0, 0))},
    });
}

TEST_F(ConvertTest, PairsWithoutARule) {
    RunConvertCases({
        {"integer to blob", Int(5), B::bftBlob, std::nullopt, kNoCastRuleError, "Cannot cast from 'INTEGER' to 'BLOB'"},
        {"text to bytes", Str("ab"), B::bftBytes, std::nullopt, kNoCastRuleError, "Cannot cast from 'STRING' to 'BYTES'"},
        {"bytes to text", Blob("ab"), B::bftString, std::nullopt, kNoCastRuleError, "Cannot cast from 'BLOB' to 'STRING'"},
        {"integer to memo", Int(5), B::bftMemo, std::nullopt, kNoCastRuleError},
        {"boolean to date", Bool(true), B::bftDate, std::nullopt, kNoCastRuleError,
         "Cannot cast from 'LOGICAL' to 'DATE'"},
        {"date to boolean", Date(2011, 3, 24), B::bftLogical, std::nullopt, kNoCastRuleError},
        {"to no type", Int(1), B::bftUnknown, std::nullopt, kNoCastRuleError},
    });
    TABSVariant bytes;
    bytes.SetAsBytes("ab");
    EXPECT_EQ(NativeErrorOf([&] { bytes.ConvertTo(B::bftVarBytes); }), kNoCastRuleError);
}

TEST_F(ConvertTest, NullStaysNullOfTheNewType) {
    for (B target : {B::bftInteger, B::bftString, B::bftBlob, B::bftBytes, B::bftDate}) {
        TABSVariant v(B::bftString);
        v.ConvertTo(target);
        EXPECT_TRUE(v.IsNull());
        EXPECT_EQ(v.BaseType(), target);
    }
}

// ---- Comparison ----

struct CompareCase {
    const char* name;
    TABSVariant left;
    TABSVariant right;
    TABSCompareResult expected;
    bool ignoreCase = false;
    bool partial = false;
};

using CompareTest = GermanSettingsTest;

TEST_F(CompareTest, Table) {
    using R = TABSCompareResult;
    const CompareCase cases[] = {
        {"both null", Null(B::bftInteger), Null(B::bftString), R::BothNull},
        {"left null", Null(B::bftInteger), Int(1), R::LeftNull},
        {"right null", Int(1), Null(B::bftInteger), R::RightNull},
        {"empty text is null", Str(""), Str("a"), R::LeftNull},
        {"integer against its digits", Int(2000), Str("2000"), R::Equal},
        {"integer compares as text", Int(10), Str("9"), R::Less},
        {"text against integer", Str("9"), Int(10), R::Greater},
        {"case counts", Str("a"), Str("A"), R::Less},
        {"unless ignored", Str("a"), Str("A"), R::Equal, true},
        {"char against string", Chr("MaxStaffelPerName"), Str("MaxStaffelPerName"), R::Equal},
        {"partial prefix", Str("Schmidt"), Str("Schm"), R::Equal, false, true},
        {"whole text", Str("Schmidt"), Str("Schm"), R::Greater},
        {"partial shorter left", Str("Sch"), Str("Schm"), R::Less, false, true},
        {"wide against 8-bit", WStr(u"Müller"), Str("Müller"), R::Equal},
        {"wide case", WStr(u"a"), WStr(u"A"), R::Equal, true},
        {"memo against text", Str("Notiz", B::bftMemo), Str("Notiz"), R::Equal},
        {"signed integers", Int(-5), Int(3, B::bftShortInt), R::Less},
        {"unsigned large", Int(4000000000LL, B::bftCardinal), Int(1), R::Greater},
        // Int8 against Word converts the Int8 to Word: -1 becomes 65535.
        {"asymmetric cell I8 x U16", Int(-1, B::bftShortInt), Int(65535, B::bftWord), R::Equal},
        {"asymmetric cell U16 x I8", Int(65535, B::bftWord), Int(-1, B::bftShortInt), R::Greater},
        {"float against integer", Dbl(2.5), Int(2), R::Greater},
        {"single against double", Dbl(0.1f, B::bftSingle), Dbl(0.1), R::Greater},
        {"currency", Dbl(1.5, B::bftCurrency), Dbl(1.25, B::bftCurrency), R::Greater},
        {"dates", Date(2011, 3, 24), Date(2011, 3, 25), R::Less},
        {"date against fixed text", Date(2011, 3, 24), Str("2011-03-24"), R::Equal},
        {"text against date", Str("24.03.2011"), Date(2011, 3, 24), R::Equal},
        {"date-time by day first", DT(100, 5), DT(101, 0), R::Less},
        {"date-time then time", DT(100, 5), DT(100, 4), R::Greater},
        {"date against date-time", Date(2011, 3, 24), DT(Day(2011, 3, 24), 1), R::Less},
        {"times", Time(10, 0, 0), Time(9, 59, 59), R::Greater},
        {"false before true", Bool(false), Bool(true), R::Less},
        {"true equals true", Bool(true), Bool(true), R::Equal},
        {"boolean against integer", Bool(true), Int(1), R::Equal},
    };
    for (const CompareCase& c : cases) {
        EXPECT_EQ(c.left.Compare(c.right, c.ignoreCase, c.partial), c.expected) << c.name;
    }
}

TEST_F(CompareTest, IncompatibleTypesAndFailedConversions) {
    struct Case {
        const char* name;
        TABSVariant left;
        TABSVariant right;
        int error;
        const char* message;
    };
    const Case cases[] = {
        {"integer against memo", Int(1), Str("x", B::bftMemo), kIncompatibleCompareError,
         "Cannot compare Incompatible DataTypes: 'INTEGER' and 'MEMO'"},
        {"blobs", Blob("a"), Blob("a"), kIncompatibleCompareError,
         "Cannot compare Incompatible DataTypes: 'BLOB' and 'BLOB'"},
        {"currency against date", Dbl(1, B::bftCurrency), Date(2011, 3, 24), kIncompatibleCompareError,
         "Cannot compare Incompatible DataTypes: 'CURRENCY' and 'DATE'"},
        {"text that is no date", Date(2011, 3, 24), Str("bald"), kCastFailedError,
         "Cannot cast from 'STRING' to 'DATE'"},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)c.left.Compare(c.right); }, &message), c.error) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
    }
}

TEST(CompareOrder, NullsSortFirstAndEqualEachOther) {
    EXPECT_EQ(NullsFirstOrder(TABSCompareResult::BothNull), 0);
    EXPECT_EQ(NullsFirstOrder(TABSCompareResult::LeftNull), -1);
    EXPECT_EQ(NullsFirstOrder(TABSCompareResult::RightNull), 1);
    EXPECT_EQ(NullsFirstOrder(TABSCompareResult::Less), -1);
    EXPECT_TRUE(IsNullResult(TABSCompareResult::BothNull));
    EXPECT_FALSE(IsNullResult(TABSCompareResult::Equal));
}

// ---- Arithmetic ----

enum class Op { Add, Sub, Mul, Div };

struct ArithCase {
    const char* name;
    TABSVariant left;
    Op op;
    TABSVariant right;
    std::optional<TABSVariant> expected;
    int error = 0;
    const char* message = nullptr;
};

void Apply(TABSVariant& left, Op op, const TABSVariant& right) {
    switch (op) {
    case Op::Add: left.Add(right); break;
    case Op::Sub: left.Subtract(right); break;
    case Op::Mul: left.Multiply(right); break;
    case Op::Div: left.Divide(right); break;
    }
}

using ArithmeticTest = GermanSettingsTest;

TEST_F(ArithmeticTest, Table) {
    const std::int32_t d = Day(2011, 3, 24);
    const ArithCase cases[] = {
        // Nulls.
        {"null plus text", Null(B::bftInteger), Op::Add, Str("abc"), Str("abc")},
        {"null plus number", Null(B::bftInteger), Op::Add, Int(5), Null(B::bftInteger)},
        {"text plus null", Str("abc"), Op::Add, Null(B::bftInteger), Str("abc")},
        {"number plus null", Int(5), Op::Add, Null(B::bftString), Null(B::bftInteger)},
        {"null text plus number", Null(B::bftString), Op::Add, Int(5), Int(5)},
        {"number minus null", Dbl(2.5), Op::Sub, Null(B::bftInteger), Null(B::bftDouble)},
        // Integers wrap in their type.
        {"add", Int(1), Op::Add, Int(2), Int(3)},
        {"int32 overflow wraps", Int(INT32_MAX), Op::Add, Int(1), Int(INT32_MIN)},
        {"int8 overflow wraps", Int(127, B::bftShortInt), Op::Add, Int(1, B::bftShortInt), Int(-128, B::bftShortInt)},
        {"int64 overflow wraps", Int(INT64_MAX, B::bftLargeInt), Op::Add, Int(1, B::bftLargeInt),
         Int(INT64_MIN, B::bftLargeInt)},
        {"multiply wraps", Int(65536), Op::Mul, Int(65536), Int(0)},
        {"divide truncates", Int(7), Op::Div, Int(2), Int(3)},
        {"negative divide truncates", Int(-7), Op::Div, Int(2), Int(-3)},
        {"int64 min over minus one", Int(INT64_MIN, B::bftLargeInt), Op::Div, Int(-1, B::bftLargeInt),
         Int(INT64_MIN, B::bftLargeInt)},
        {"subtract", Int(10), Op::Sub, Int(3), Int(7)},
        {"unsigned minus unsigned", Int(10, B::bftByte), Op::Sub, Int(3, B::bftByte), Int(7, B::bftSmallInt)},
        {"signed minus unsigned", Int(10), Op::Sub, Int(3, B::bftByte), Int(7)},
        {"mixed widths", Int(1, B::bftShortInt), Op::Add, Int(1000, B::bftWord), Int(1001, B::bftWord)},
        // Floats in their own precision.
        {"float divide", Dbl(7), Op::Div, Int(2), Dbl(3.5)},
        {"single add", Dbl(0.5, B::bftSingle), Op::Add, Dbl(0.25, B::bftSingle), Dbl(0.75, B::bftSingle)},
        {"extended", Dbl(1, B::bftExtended), Op::Div, Int(3), Dbl(1.0L / 3, B::bftExtended)},
        {"currency", Dbl(1.5, B::bftCurrency), Op::Mul, Int(2), Dbl(3, B::bftCurrency)},
        // Text.
        {"concatenate", Str("ab"), Op::Add, Str("cd"), Str("abcd")},
        {"text plus number", Str("ab"), Op::Add, Int(5), Str("ab5")},
        {"number plus text", Int(5), Op::Add, Str("ab"), Str("5ab")},
        {"wide plus 8-bit", WStr(u"ab"), Op::Add, Str("cd"), WStr(u"abcd")},
        {"text plus date stays text", Str("am "), Op::Add, Date(2011, 3, 24), Str("am 24.03.2011")},
        {"memo plus memo", Str("a", B::bftMemo), Op::Add, Str("b", B::bftMemo), Chr("ab")},
        // Dates.
        {"date plus days", Date(2011, 3, 24), Op::Add, Int(7), Date(2011, 3, 31)},
        {"date minus days", Date(2011, 3, 24), Op::Sub, Int(24), Date(2011, 2, 28)},
        {"time plus time", Time(1, 0, 0), Op::Add, Time(0, 30, 0), Time(1, 30, 0)},
        {"date plus time", Date(2011, 3, 24), Op::Add, Time(14, 5, 0), DT(d, Ms(14, 5, 0))},
        {"carry one millisecond", DT(d, kMillisecondsPerDay - 1), Op::Add, DT(0, 1), DT(d + 1, 0)},
        {"carry whole days", DT(d, Ms(22, 0, 0)), Op::Add, DT(1, Ms(3, 0, 0)), DT(d + 2, Ms(1, 0, 0))},
        {"date-time divides parts", DT(10, 3000), Op::Div, DT(2, 1000), DT(5, 3)},
        // Booleans.
        {"or", Bool(true), Op::Add, Bool(false), Bool(true)},
        {"and", Bool(true), Op::Mul, Bool(false), Bool(false)},
        {"divide is or", Bool(false), Op::Div, Bool(true), Bool(true)},
        {"divide both false", Bool(false), Op::Div, Bool(false), Bool(false)},
        // Failures.
        {"integer by zero", Int(7), Op::Div, Int(0), std::nullopt, kDivisionError, "Division error: Division by zero"},
        {"float by zero", Dbl(7), Op::Div, Dbl(0), std::nullopt, kDivisionError, "Division error: Division by zero"},
        {"currency by zero", Dbl(7, B::bftCurrency), Op::Div, Int(0), std::nullopt, kDivisionError},
        {"date-time by zero days", DT(10, 10), Op::Div, DT(0, 1), std::nullopt, kDivisionError},
        {"text times number", Str("ab"), Op::Mul, Int(2), std::nullopt, kNotNumericMultiplyError,
         "Not numeric argument in numeric operator '*'"},
        {"text divided", Str("ab"), Op::Div, Str("a"), std::nullopt, kNotNumericDivideError,
         "Not numeric argument in numeric operator '/'"},
        {"text minus text", Str("ab"), Op::Sub, Str("a"), std::nullopt, kCannotInvertError,
         "Cannot invert value with not numeric type 'STRING'"},
        {"text minus number", Str("ab"), Op::Sub, Int(5), std::nullopt, kNotNumericMinusError,
         "Not numeric argument in numeric operator '-'"},
        {"blob plus blob", Blob("a"), Op::Add, Blob("b"), std::nullopt, kNotNumericPlusError,
         "Not numeric argument in numeric operator '+'"},
        {"integer plus memo", Int(1), Op::Add, Str("m", B::bftMemo), std::nullopt, kNotNumericPlusError},
        {"date times date", Date(2011, 3, 24), Op::Mul, Date(2011, 3, 24), std::nullopt, kNotNumericMultiplyError},
        {"date minus date", Date(2011, 3, 24), Op::Sub, Date(2011, 3, 1), std::nullopt, kCannotInvertError,
         "Cannot invert value with not numeric type 'DATE'"},
        {"date plus text is text", Date(2011, 3, 24), Op::Add, Str("x"), Str("24.03.2011x")},
    };
    for (const ArithCase& c : cases) {
        TABSVariant left = c.left;
        std::string message;
        const int error = NativeErrorOf([&] { Apply(left, c.op, c.right); }, &message);
        if (!c.expected) {
            EXPECT_EQ(error, c.error) << c.name << ": " << message;
            if (c.message != nullptr) {
                EXPECT_EQ(message, c.message) << c.name;
            }
            continue;
        }
        ASSERT_EQ(error, 0) << c.name << ": " << message;
        EXPECT_EQ(left.BaseType(), c.expected->BaseType()) << c.name;
        EXPECT_EQ(left.IsNull(), c.expected->IsNull()) << c.name;
        if (!left.IsNull()) {
            EXPECT_EQ(left.Compare(*c.expected), TABSCompareResult::Equal) << c.name << ": " << left.GetAsString();
        }
    }
}

TEST(Negate, NumbersChangeSignAndBooleansFlip) {
    struct Case {
        const char* name;
        TABSVariant value;
        std::optional<TABSVariant> expected;
    };
    const Case cases[] = {
        {"integer", Int(5), Int(-5)},
        {"int8 minimum wraps", Int(-128, B::bftShortInt), Int(-128, B::bftShortInt)},
        {"byte widens to signed", Int(3, B::bftByte), Int(-3, B::bftSmallInt)},
        {"word widens", Int(65535, B::bftWord), Int(-65535, B::bftInteger)},
        {"cardinal widens", Int(4000000000LL, B::bftCardinal), Int(-4000000000LL, B::bftLargeInt)},
        {"double", Dbl(2.5), Dbl(-2.5)},
        {"currency", Dbl(2.5, B::bftCurrency), Dbl(-2.5, B::bftCurrency)},
        {"true", Bool(true), Bool(false)},
        {"false", Bool(false), Bool(true)},
        {"null stays null", Null(B::bftInteger), Null(B::bftInteger)},
    };
    for (const Case& c : cases) {
        TABSVariant v = c.value;
        v.Negate();
        EXPECT_EQ(v.BaseType(), c.expected->BaseType()) << c.name;
        EXPECT_EQ(v.IsNull(), c.expected->IsNull()) << c.name;
        if (!v.IsNull()) {
            EXPECT_EQ(v.Compare(*c.expected), TABSCompareResult::Equal) << c.name;
        }
    }
    for (const TABSVariant& v : {Str("abc"), Date(2011, 3, 24), Blob("x"), WStr(u"x")}) {
        TABSVariant copy = v;
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { copy.Negate(); }, &message), kCannotInvertError);
        EXPECT_EQ(message, "Cannot invert value with not numeric type '" + BaseTypeName(v.BaseType()) + "'");
    }
}

} // namespace
} // namespace kova
