// TABSVariant: null handling, typed access, dataset values and record buffers.
#include "engine/core/ABSVariant.h"

#include "engine/core/ABSConverts.h"
#include "engine/core/TextCodec.h"
#include "ValueTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace kova {
namespace {

using namespace test;
using B = TABSBaseType;

TEST(VariantNull, EmptyValueHasNoTypeAndIsNull) {
    TABSVariant v;
    EXPECT_EQ(v.BaseType(), B::bftUnknown);
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(v.DataSize(), 0u);
    v.SetType(B::bftInteger);
    EXPECT_EQ(v.BaseType(), B::bftInteger);
    EXPECT_TRUE(v.IsNull());
}

TEST(VariantNull, SetNullKeepsTheTypeAndDropsTheValue) {
    TABSVariant v = Str("abc");
    v.SetNull();
    EXPECT_EQ(v.BaseType(), B::bftString);
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(v.GetAsString(), "");
    v.SetAsInteger(5);
    v.SetType(B::bftDouble);
    EXPECT_TRUE(v.IsNull());
    EXPECT_EQ(v.BaseType(), B::bftDouble);
}

TEST(VariantNull, EmptyTextIsNull) {
    struct Case {
        std::function<void(TABSVariant&)> set;
        B type;
    };
    const Case cases[] = {
        {[](TABSVariant& v) { v.SetAsString(""); }, B::bftString},
        {[](TABSVariant& v) { v.SetAsString("", B::bftChar); }, B::bftChar},
        {[](TABSVariant& v) { v.SetAsString("", B::bftMemo); }, B::bftMemo},
        {[](TABSVariant& v) { v.SetAsWideString(u""); }, B::bftWideString},
        {[](TABSVariant& v) { v.SetAsBlob(""); }, B::bftBlob},
    };
    for (const Case& c : cases) {
        TABSVariant v;
        v.SetAsInteger(1);
        c.set(v);
        EXPECT_TRUE(v.IsNull()) << BaseTypeName(c.type);
        EXPECT_EQ(v.BaseType(), c.type);
        // A null text reads as "" and compares as null.
        EXPECT_EQ(v.GetAsString(), "");
        EXPECT_EQ(v.Compare(Str("x")), TABSCompareResult::LeftNull);
    }
}

TEST(VariantNull, TypedReadsOfNullRaiseValueIsNull) {
    const TABSVariant v(B::bftInteger);
    const std::function<void()> reads[] = {
        [&] { (void)v.GetAsInteger(); },  [&] { (void)v.GetAsLargeInt(); }, [&] { (void)v.GetAsDouble(); },
        [&] { (void)v.GetAsExtended(); }, [&] { (void)v.GetAsDate(); },     [&] { (void)v.GetAsDateTime(); },
        [&] { (void)v.GetAsBoolean(); },  [&] { (void)v.GetAsCardinal(); }, [&] { (void)v.GetAsCurrency(); },
    };
    for (const auto& read : reads) {
        std::string message;
        EXPECT_EQ(NativeErrorOf(read, &message), kValueIsNullError);
        EXPECT_EQ(message, "Value is Null");
    }
    EXPECT_EQ(v.GetAsString(), "");
    EXPECT_EQ(v.GetAsWideString(), u"");
}

TEST(VariantAccess, EachSetterSetsItsTypeAndItsGetterReturnsTheValue) {
    struct Case {
        std::function<void(TABSVariant&)> set;
        B type;
        std::function<bool(const TABSVariant&)> check;
    };
    const Case cases[] = {
        {[](TABSVariant& v) { v.SetAsShortInt(-100); }, B::bftShortInt, [](const TABSVariant& v) { return v.GetAsShortInt() == -100; }},
        {[](TABSVariant& v) { v.SetAsSmallInt(-30000); }, B::bftSmallInt, [](const TABSVariant& v) { return v.GetAsSmallInt() == -30000; }},
        {[](TABSVariant& v) { v.SetAsInteger(INT32_MIN); }, B::bftInteger, [](const TABSVariant& v) { return v.GetAsInteger() == INT32_MIN; }},
        {[](TABSVariant& v) { v.SetAsLargeInt(INT64_MAX); }, B::bftLargeInt, [](const TABSVariant& v) { return v.GetAsLargeInt() == INT64_MAX; }},
        {[](TABSVariant& v) { v.SetAsByte(250); }, B::bftByte, [](const TABSVariant& v) { return v.GetAsByte() == 250; }},
        {[](TABSVariant& v) { v.SetAsWord(65000); }, B::bftWord, [](const TABSVariant& v) { return v.GetAsWord() == 65000; }},
        {[](TABSVariant& v) { v.SetAsCardinal(4000000000U); }, B::bftCardinal, [](const TABSVariant& v) { return v.GetAsCardinal() == 4000000000U; }},
        {[](TABSVariant& v) { v.SetAsString("Jörg"); }, B::bftString, [](const TABSVariant& v) { return v.GetAsString() == "Jörg"; }},
        {[](TABSVariant& v) { v.SetAsString("WK3m", B::bftChar); }, B::bftChar, [](const TABSVariant& v) { return v.GetAsString() == "WK3m"; }},
        {[](TABSVariant& v) { v.SetAsWideString(u"Jörg"); }, B::bftWideString, [](const TABSVariant& v) { return v.GetAsWideString() == u"Jörg"; }},
        {[](TABSVariant& v) { v.SetAsSingle(0.5f); }, B::bftSingle, [](const TABSVariant& v) { return v.GetAsSingle() == 0.5f; }},
        {[](TABSVariant& v) { v.SetAsDouble(0.1); }, B::bftDouble, [](const TABSVariant& v) { return v.GetAsDouble() == 0.1; }},
        {[](TABSVariant& v) { v.SetAsExtended(0.1L); }, B::bftExtended, [](const TABSVariant& v) { return v.GetAsExtended() == 0.1L; }},
        {[](TABSVariant& v) { v.SetAsDate(734220); }, B::bftDate, [](const TABSVariant& v) { return v.GetAsDate() == 734220; }},
        {[](TABSVariant& v) { v.SetAsTime(50700000); }, B::bftTime, [](const TABSVariant& v) { return v.GetAsTime() == 50700000; }},
        {[](TABSVariant& v) { v.SetAsDateTime({734220, 1}); }, B::bftDateTime, [](const TABSVariant& v) { return v.GetAsDateTime() == TABSDateTime{734220, 1}; }},
        {[](TABSVariant& v) { v.SetAsBoolean(true); }, B::bftLogical, [](const TABSVariant& v) { return v.GetAsBoolean() && v.RawInteger() == -1; }},
        {[](TABSVariant& v) { v.SetAsBoolean(false); }, B::bftLogical, [](const TABSVariant& v) { return !v.GetAsBoolean(); }},
        {[](TABSVariant& v) { v.SetAsCurrency(12.34); }, B::bftCurrency, [](const TABSVariant& v) { return v.GetAsCurrency() == 12.34; }},
        {[](TABSVariant& v) { v.SetAsBlob(std::string("\0\1\2", 3)); }, B::bftBlob, [](const TABSVariant& v) { return v.GetAsBlob() == std::string("\0\1\2", 3); }},
        {[](TABSVariant& v) { v.SetAsBytes("ab", B::bftVarBytes); }, B::bftVarBytes, [](const TABSVariant& v) { return v.GetAsBytes() == "ab"; }},
    };
    for (const Case& c : cases) {
        TABSVariant v;
        v.SetAsString("previous value");
        c.set(v);
        EXPECT_EQ(v.BaseType(), c.type) << BaseTypeName(c.type);
        EXPECT_FALSE(v.IsNull()) << BaseTypeName(c.type);
        EXPECT_TRUE(c.check(v)) << BaseTypeName(c.type);
        // A copy is independent of the original.
        TABSVariant copy;
        copy.Assign(v);
        v.SetNull();
        EXPECT_TRUE(c.check(copy)) << BaseTypeName(c.type);
    }
}

TEST(VariantAccess, IntegerSettersKeepTheLowBitsOfTheirWidth) {
    EXPECT_EQ(Int(300, B::bftByte).GetAsByte(), 44);
    EXPECT_EQ(Int(-1, B::bftWord).RawInteger(), 65535);
    EXPECT_EQ(Int(0x100000005LL, B::bftInteger).GetAsInteger(), 5);
    EXPECT_EQ(Int(128, B::bftShortInt).GetAsShortInt(), -128);
    EXPECT_EQ(Int(-1, B::bftCardinal).RawInteger(), 4294967295LL);
}

using VariantGermanTest = GermanSettingsTest;

TEST_F(VariantGermanTest, GettersOfAnotherTypeConvertACopy) {
    const TABSVariant text = Str("42");
    EXPECT_EQ(text.GetAsInteger(), 42);
    EXPECT_EQ(text.BaseType(), B::bftString);
    EXPECT_EQ(text.GetAsString(), "42");
    EXPECT_EQ(Int(-42).GetAsString(), "-42");
    EXPECT_EQ(Dbl(2.5L, B::bftExtended).GetAsString(), "2,5");
    EXPECT_EQ(Dbl(7.9L).GetAsInteger(), 7);
    EXPECT_EQ(Dbl(-7.9L).GetAsInteger(), -7);
    EXPECT_EQ(Date(2011, 3, 24).GetAsString(), "24.03.2011");
    EXPECT_EQ(Str("2011-03-24").GetAsDate(), *TryEncodeDate(2011, 3, 24));
    EXPECT_EQ(Int(1).GetAsBoolean(), true);
    EXPECT_EQ(Str("Jörg").GetAsWideString(), u"Jörg");
    EXPECT_EQ(WStr(u"Jörg").GetAsString(), "Jörg");
    std::string message;
    EXPECT_EQ(NativeErrorOf([] { (void)Str("zwölf").GetAsInteger(); }, &message), kCastFailedError);
    EXPECT_EQ(message, "Cannot cast from 'STRING' to 'INTEGER'");
}

TEST(VariantAccess, TextLengthCountsCharacters) {
    struct Case {
        TABSVariant value;
        int length;
    };
    const Case cases[] = {
        {Str("Müller"), 6},
        {Chr("MaxStaffelPerName"), 17},
        {Str("Straße", B::bftMemo), 6},
        {WStr(u"Jörg"), 4},
        {WStr(u"a\U0001F600"), 2},
        {Str(""), -1},
        {Null(B::bftString), -1},
        {Int(12345), -1},
        {Blob("abc"), -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.TextLength(), c.length) << c.value.GetAsString();
    }
}

TEST(VariantAccess, TruncateTextKeepsWholeCharacters) {
    struct Case {
        TABSVariant value;
        std::size_t keep;
        TABSVariant expected;
    };
    const Case cases[] = {
        {Chr(std::string(46, 'x')), 45, Chr(std::string(45, 'x'))},
        {Str("Jörg"), 2, Str("Jö")},
        {Str("Jörg"), 10, Str("Jörg")},
        {WStr(u"a\U0001F600b"), 2, WStr(u"a\U0001F600")},
        {Str("abc"), 0, Null(B::bftString)},
        {Int(12345), 2, Int(12345)},
    };
    for (const Case& c : cases) {
        TABSVariant v = c.value;
        v.TruncateText(c.keep);
        EXPECT_EQ(v.BaseType(), c.expected.BaseType());
        EXPECT_EQ(v.IsNull(), c.expected.IsNull()) << c.value.GetAsString();
        if (!v.IsNull()) {
            EXPECT_EQ(v.Compare(c.expected), TABSCompareResult::Equal) << c.value.GetAsString();
            EXPECT_EQ(v.TextLength(), c.expected.TextLength());
        }
    }
}

TEST(VariantBuffer, OverlongTextFitsItsColumnOnceTruncated) {
    // What a Char(45) field does with a 46-character text: keep 45, then it fits 46 bytes.
    TABSVariant v = Chr(std::string(45, 'a') + "b");
    std::vector<std::uint8_t> buffer(46);
    EXPECT_EQ(NativeErrorOf([&] { v.WriteToBuffer(buffer); }), kBufferSizeExceededError);
    v.TruncateText(45);
    v.WriteToBuffer(buffer);
    TABSVariant read;
    read.ReadFromBuffer(B::bftChar, buffer);
    EXPECT_EQ(read.GetAsString(), std::string(45, 'a'));
}

TEST(VariantAccess, DataSizeOfEachKind) {
    EXPECT_EQ(Int(1, B::bftShortInt).DataSize(), 1u);
    EXPECT_EQ(Int(1).DataSize(), 4u);
    EXPECT_EQ(Dbl(1, B::bftExtended).DataSize(), 10u);
    EXPECT_EQ(DT(1, 1).DataSize(), 8u);
    EXPECT_EQ(Bool(true).DataSize(), 2u);
    EXPECT_EQ(Str("abc").DataSize(), 4u);
    EXPECT_EQ(WStr(u"abc").DataSize(), 8u);
    EXPECT_EQ(Blob("abc").DataSize(), 3u);
}

TEST(VariantDataset, ValuesTravelBothWays) {
    struct Case {
        TDatasetVariant in;
        B type;
        TDatasetVariant out;
    };
    const Case cases[] = {
        {std::int32_t{42}, B::bftInteger, std::int32_t{42}},
        {std::int64_t{1} << 40, B::bftLargeInt, std::int64_t{1} << 40},
        {2.5, B::bftDouble, 2.5},
        {true, B::bftLogical, true},
        {std::string("Jörg"), B::bftString, std::string("Jörg")},
        {std::u16string(u"Jörg"), B::bftWideString, std::u16string(u"Jörg")},
        {TDatasetDateTime{40626.5}, B::bftDateTime, TDatasetDateTime{40626.5}},
        {TDatasetBytes{"\x01\x02"}, B::bftBlob, TDatasetBytes{"\x01\x02"}},
        {std::string(""), B::bftString, std::monostate{}},
    };
    for (const Case& c : cases) {
        TABSVariant v;
        v.SetFromDatasetVariant(c.in);
        EXPECT_EQ(v.BaseType(), c.type) << c.in.index();
        EXPECT_EQ(v.GetAsDatasetVariant(), c.out) << c.in.index();
    }
    TABSVariant v;
    v.SetFromDatasetVariant(TDatasetDateTime{40626.5});
    EXPECT_EQ(v.GetAsDateTime(), (TABSDateTime{*TryEncodeDate(2011, 3, 24), 43200000}));
    // Dates and times leave in the day-fraction form; small integers as int32, Cardinal as int64.
    EXPECT_EQ(Date(2011, 3, 24).GetAsDatasetVariant(), TDatasetVariant(TDatasetDateTime{40626.0}));
    EXPECT_EQ(Int(7, B::bftWord).GetAsDatasetVariant(), TDatasetVariant(std::int32_t{7}));
    EXPECT_EQ(Int(4000000000LL, B::bftCardinal).GetAsDatasetVariant(), TDatasetVariant(std::int64_t{4000000000LL}));
    // Null keeps the type the value had.
    TABSVariant typed = Int(5);
    typed.SetFromDatasetVariant(std::monostate{});
    EXPECT_TRUE(typed.IsNull());
    EXPECT_EQ(typed.BaseType(), B::bftInteger);
}

TEST(VariantBuffer, CharColumnHoldsTextWithoutPadding) {
    // A Char(45) value: 46 bytes, text, terminator, zeros.
    std::vector<std::uint8_t> buffer(46, 0xCC);
    Chr("MaxStaffelPerName").WriteToBuffer(buffer);
    EXPECT_EQ(std::memcmp(buffer.data(), "MaxStaffelPerName", 17), 0);
    for (std::size_t i = 17; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0) << i;
    TABSVariant read;
    read.ReadFromBuffer(B::bftChar, buffer);
    EXPECT_EQ(read.GetAsString(), "MaxStaffelPerName");
    EXPECT_EQ(read.TextLength(), 17);
    EXPECT_EQ(read.Compare(Str("MaxStaffelPerName")), TABSCompareResult::Equal);
}

TEST(VariantBuffer, TextIsWindows1252InTheRecord) {
    std::vector<std::uint8_t> buffer(8, 0xCC);
    Str("Jörg€").WriteToBuffer(buffer);
    const std::uint8_t expected[8] = {'J', 0xF6, 'r', 'g', 0x80, 0, 0, 0};
    EXPECT_EQ(std::memcmp(buffer.data(), expected, 8), 0);
    TABSVariant read;
    read.ReadFromBuffer(B::bftString, buffer);
    EXPECT_EQ(read.GetAsString(), "Jörg€");
    std::vector<std::uint8_t> zeros(8, 0);
    read.ReadFromBuffer(B::bftString, zeros);
    EXPECT_TRUE(read.IsNull());
    EXPECT_EQ(read.BaseType(), B::bftString);
}

TEST(VariantBuffer, ValueLargerThanTheBufferIsRefused) {
    struct Case {
        TABSVariant value;
        std::size_t bufferSize;
    };
    const Case cases[] = {
        {Chr(std::string(46, 'x')), 46},  // Char(45) needs room for the terminator
        {Str("Jörg"), 4},
        {WStr(u"abc"), 7},
        {Int(1), 3},
        {Dbl(1, B::bftExtended), 9},
        {DT(1, 1), 4},
        {TABSVariant(B::bftLargeInt), 7},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> buffer(c.bufferSize);
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { c.value.WriteToBuffer(buffer); }, &message), kBufferSizeExceededError)
            << BaseTypeName(c.value.BaseType());
        EXPECT_EQ(message, "Buffer size exceeded");
    }
    std::vector<std::uint8_t> fits(46);
    EXPECT_EQ(NativeErrorOf([&] { Chr(std::string(45, 'x')).WriteToBuffer(fits); }), 0);
    std::vector<std::uint8_t> blobBuffer(10);
    EXPECT_EQ(NativeErrorOf([&] { Blob("x").WriteToBuffer(blobBuffer); }), kUnknownCompareTypeError);
    std::vector<std::uint8_t> narrow(4);
    EXPECT_EQ(NativeErrorOf([&] { Str("Novák č").WriteToBuffer(narrow); }), kUnrepresentableTextError);
}

TEST(VariantBuffer, NumbersRoundTripInLittleEndian) {
    struct Case {
        TABSVariant value;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {Int(-2), {0xFE, 0xFF, 0xFF, 0xFF}},
        {Int(0x1234, B::bftWord), {0x34, 0x12}},
        {Int(-1, B::bftShortInt), {0xFF}},
        {Int(200, B::bftByte), {0xC8}},
        {Int(0x0102030405060708LL, B::bftLargeInt), {8, 7, 6, 5, 4, 3, 2, 1}},
        {Int(4000000000LL, B::bftCardinal), {0x00, 0x28, 0x6B, 0xEE}},
        {Bool(true), {0xFF, 0xFF}},
        {Bool(false), {0x00, 0x00}},
        {Dbl(1, B::bftExtended), {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
        {Dbl(-2.5, B::bftExtended), {0, 0, 0, 0, 0, 0, 0, 0xA0, 0x00, 0xC0}},
        {Dbl(1.0), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {Dbl(1.0, B::bftSingle), {0, 0, 0x80, 0x3F}},
        {Dbl(1.0, B::bftCurrency), {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {DT(693594, 1000), {0x5A, 0x95, 0x0A, 0x00, 0xE8, 0x03, 0, 0}},
        {WStr(u"aö"), {'a', 0, 0xF6, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const B type = c.value.BaseType();
        std::vector<std::uint8_t> buffer(c.bytes.size(), 0xCC);
        c.value.WriteToBuffer(buffer);
        EXPECT_EQ(buffer, c.bytes) << BaseTypeName(type);
        TABSVariant read;
        read.ReadFromBuffer(type, buffer);
        EXPECT_EQ(read.BaseType(), type);
        EXPECT_EQ(read.Compare(c.value), TABSCompareResult::Equal) << BaseTypeName(type);
    }
}

TEST(VariantBuffer, AnyNonZeroLogicalReadsAsTrue) {
    const std::vector<std::uint8_t> one = {0x01, 0x00};
    TABSVariant v;
    v.ReadFromBuffer(B::bftLogical, one);
    EXPECT_TRUE(v.GetAsBoolean());
    EXPECT_EQ(v.Compare(Bool(true)), TABSCompareResult::Equal);
}

TEST(SQLParam, IsAVariantWithAName) {
    TABSSQLParam p("Jahr");
    EXPECT_EQ(p.Name(), "Jahr");
    EXPECT_TRUE(p.IsNull());
    p.SetAsInteger(2011);
    p.SetName("WkJahr");
    EXPECT_EQ(p.Name(), "WkJahr");
    const TABSVariant& asValue = p;
    EXPECT_EQ(asValue.GetAsInteger(), 2011);
}

} // namespace
} // namespace kova
