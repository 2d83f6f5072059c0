// Field definitions and the record codec: layout, every storage type's encoding, text rules.
#include "table_test_support.h"

#include "engine/core/ABSConverts.h"
#include "engine/core/TextCodec.h"
#include "engine/storage/ABSFieldDefs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

namespace kova::testing {
namespace {

using C = TABSColumnType;
using B = TABSBaseType;

TABSVariant Make(const std::function<void(TABSVariant&)>& set) {
    TABSVariant v;
    set(v);
    return v;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

struct CodecCase {
    const char* Label;
    C Column;
    std::int32_t Size;
    B Storage;
    std::size_t MemorySize;
    TABSVariant Value;
    std::vector<std::uint8_t> Encoded;  // the field's bytes; empty: not pinned
};

std::vector<CodecCase> CodecCases() {
    return {
        {"FixedChar", C::actChar, 6, B::bftChar, 7, Make([](auto& v) { v.SetAsString("Grüße", B::bftChar); }),
         Bytes({'G', 'r', 0xFC, 0xDF, 'e', 0, 0})},
        {"FixedWideChar", C::actWideChar, 3, B::bftWideChar, 8, Make([](auto& v) { v.SetAsWideString(u"Ωz", B::bftWideChar); }),
         Bytes({0xA9, 0x03, 'z', 0, 0, 0, 0, 0})},
        {"String", C::actString, 8, B::bftString, 9, Make([](auto& v) { v.SetAsString("Euro €"); }),
         Bytes({'E', 'u', 'r', 'o', ' ', 0x80, 0, 0, 0})},
        {"WideString", C::actWideString, 4, B::bftWideString, 10, Make([](auto& v) { v.SetAsWideString(u"日本"); }),
         Bytes({0xE5, 0x65, 0x2C, 0x67, 0, 0, 0, 0, 0, 0})},
        {"ShortInt", C::actShortInt, 0, B::bftShortInt, 1, Make([](auto& v) { v.SetAsShortInt(-100); }), Bytes({0x9C})},
        {"SmallInt", C::actSmallInt, 0, B::bftSmallInt, 2, Make([](auto& v) { v.SetAsSmallInt(-2); }), Bytes({0xFE, 0xFF})},
        {"Integer", C::actInteger, 0, B::bftInteger, 4, Make([](auto& v) { v.SetAsInteger(-2000000000); }),
         Bytes({0x00, 0x6C, 0xCA, 0x88})},
        {"LargeInt", C::actLargeInt, 0, B::bftLargeInt, 8, Make([](auto& v) { v.SetAsLargeInt(9000000000000000001LL); }), {}},
        {"Byte", C::actByte, 0, B::bftByte, 1, Make([](auto& v) { v.SetAsByte(250); }), Bytes({250})},
        {"Word", C::actWord, 0, B::bftWord, 2, Make([](auto& v) { v.SetAsWord(65000); }), Bytes({0xE8, 0xFD})},
        {"Cardinal", C::actCardinal, 0, B::bftCardinal, 4, Make([](auto& v) { v.SetAsCardinal(4000000000U); }),
         Bytes({0x00, 0x28, 0x6B, 0xEE})},
        {"Single", C::actSingle, 0, B::bftSingle, 4, Make([](auto& v) { v.SetAsSingle(1.5F); }), Bytes({0, 0, 0xC0, 0x3F})},
        {"Double", C::actDouble, 0, B::bftDouble, 8, Make([](auto& v) { v.SetAsDouble(1.0 / 3.0); }), {}},
        // x87: 1.0 = sign/exponent 0x3FFF, explicit integer bit set in the mantissa.
        {"ExtendedOne", C::actExtended, 0, B::bftExtended, 10, Make([](auto& v) { v.SetAsExtended(1.0L); }),
         Bytes({0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F})},
        {"ExtendedThird", C::actExtended, 0, B::bftExtended, 10, Make([](auto& v) { v.SetAsExtended(1.0L / 3.0L); }), {}},
        {"Date", C::actDate, 0, B::bftDate, 4, Make([](auto& v) { v.SetAsDate(738000); }), Bytes({0xD0, 0x42, 0x0B, 0x00})},
        {"Time", C::actTime, 0, B::bftTime, 4, Make([](auto& v) { v.SetAsTime(43200123); }), Bytes({0x7B, 0x2E, 0x93, 0x02})},
        // 30 December 1899 12:00: day 693 594, 43 200 000 ms.
        {"DateTime", C::actDateTime, 0, B::bftDateTime, 8,
         Make([](auto& v) { v.SetAsDateTime(DayFractionToDateTime(0.5)); }),
         Bytes({0x5A, 0x95, 0x0A, 0x00, 0x00, 0x2E, 0x93, 0x02})},
        {"Boolean", C::actBoolean, 0, B::bftLogical, 2, Make([](auto& v) { v.SetAsBoolean(true); }), Bytes({0xFF, 0xFF})},
        {"Currency", C::actCurrency, 0, B::bftCurrency, 8, Make([](auto& v) { v.SetAsCurrency(12.5); }),
         Bytes({0, 0, 0, 0, 0, 0, 0x29, 0x40})},
        {"Bytes", C::actBytes, 4, B::bftBytes, 5, Make([](auto& v) { v.SetAsBytes(std::string("\x01\x00\x02\x00", 4)); }),
         Bytes({1, 0, 2, 0, 0})},
        // Variable bytes keep their length, trailing zero bytes included.
        {"VarBytes", C::actVarBytes, 5, B::bftVarBytes, 6,
         Make([](auto& v) { v.SetAsBytes(std::string("\x07\x00", 2), B::bftVarBytes); }), Bytes({7, 0, 0x80, 0, 0, 0})},
        {"Guid", C::actGuid, 0, B::bftChar, 39,
         Make([](auto& v) { v.SetAsString("{0A1B2C3D-0000-0000-0000-000000000000}", B::bftChar); }), {}},
    };
}

class RecordCodecTest : public ::testing::TestWithParam<CodecCase> {};

TEST_P(RecordCodecTest, ValueRoundTripsThroughMemoryAndDiskRecords) {
    const CodecCase& c = GetParam();
    TABSFieldDefs fields;
    fields.Add(TABSFieldDef("Before", C::actByte));
    fields.Add(TABSFieldDef("F", c.Column, c.Size));
    const TABSFieldDef& f = fields[1];
    EXPECT_EQ(f.StorageType, c.Storage);
    EXPECT_EQ(f.MemorySize, c.MemorySize);
    EXPECT_EQ(f.DiskSize, c.MemorySize);
    EXPECT_EQ(f.MemoryOffset, 2u);  // bitmap 1 byte, then the byte field

    auto record = fields.NewRecord();
    EXPECT_TRUE(fields.IsNull(record, 1));
    fields.SetValue(record, 1, c.Value);
    EXPECT_FALSE(fields.IsNull(record, 1));
    EXPECT_TRUE(fields.IsNull(record, 0)) << "other fields keep their null bits";
    if (!c.Encoded.empty()) {
        const auto bytes = fields.FieldBytes(std::span<const std::uint8_t>(record), 1);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), c.Encoded);
    }
    std::vector<std::uint8_t> disk(fields.DiskRecordSize());
    fields.MemoryToDisk(record, disk);
    std::vector<std::uint8_t> back(fields.MemoryRecordSize(), 0xEE);
    fields.DiskToMemory(disk, back);
    EXPECT_EQ(back, record);
    const TABSVariant read = fields.GetValue(back, 1);
    ASSERT_FALSE(read.IsNull());
    EXPECT_EQ(read.BaseType(), c.Storage);
    if (IsBinaryType(c.Storage)) {
        EXPECT_EQ(read.TextData(), c.Value.TextData());
    } else if (c.Storage == B::bftExtended) {
        EXPECT_EQ(read.GetAsExtended(), c.Value.GetAsExtended()) << "x87 values come back bit for bit";
    } else {
        EXPECT_EQ(read.Compare(c.Value), TABSCompareResult::Equal);
    }
}

INSTANTIATE_TEST_SUITE_P(StorageTypes, RecordCodecTest, ::testing::ValuesIn(CodecCases()),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST(RecordCodec, LayoutOffsetsDifferAfterTheFirstBlobField) {
    TABSFieldDefs fields;
    for (int i = 0; i < 9; ++i) fields.Add(TABSFieldDef("I" + std::to_string(i), C::actInteger));
    fields.Add(TABSFieldDef("M", C::actMemo));
    fields.Add(TABSFieldDef("W", C::actWideMemo));
    fields.Add(TABSFieldDef("D", C::actDouble));
    EXPECT_EQ(fields.NullBitmapSize(), 2u);
    EXPECT_EQ(fields[9].MemoryOffset, 2u + 36u);
    EXPECT_EQ(fields[9].DiskOffset, 2u + 36u);
    EXPECT_EQ(fields[10].MemoryOffset, 48u);
    EXPECT_EQ(fields[10].DiskOffset, 44u);
    EXPECT_EQ(fields[11].MemoryOffset, 58u);
    EXPECT_EQ(fields[11].DiskOffset, 50u);
    EXPECT_EQ(fields.MemoryRecordSize(), 66u);
    EXPECT_EQ(fields.DiskRecordSize(), 58u);

    // The BLOB reference travels, the memory-only cache handle does not.
    auto record = fields.NewRecord();
    auto memo = fields.FieldBytes(std::span<std::uint8_t>(record), 9);
    for (std::size_t i = 0; i < memo.size(); ++i) memo[i] = static_cast<std::uint8_t>(i + 1);
    std::vector<std::uint8_t> disk(fields.DiskRecordSize());
    fields.MemoryToDisk(record, disk);
    EXPECT_EQ(std::vector<std::uint8_t>(disk.begin() + 38, disk.begin() + 44), Bytes({1, 2, 3, 4, 5, 6}));
    std::vector<std::uint8_t> back(fields.MemoryRecordSize(), 0xEE);
    fields.DiskToMemory(disk, back);
    EXPECT_EQ(std::vector<std::uint8_t>(back.begin() + 38, back.begin() + 48), Bytes({1, 2, 3, 4, 5, 6, 0, 0, 0, 0}));
    EXPECT_EQ(NativeErrorOf([&] { (void)fields.GetValue(record, 9); }), kUnknownCompareTypeError);
}

struct RefusedCase {
    const char* Label;
    C Column;
    std::int32_t Size;
    TABSVariant Value;
    int Code;
    TABSVariant Previous = Make([](auto& v) { v.SetAsString("1"); });
};

class RefusedValueTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedValueTest, NothingIsStored) {
    const RefusedCase& c = GetParam();
    TABSFieldDefs fields;
    fields.Add(TABSFieldDef("F", c.Column, c.Size));
    auto record = fields.NewRecord();
    fields.SetValue(record, 0, c.Previous);
    const auto before = record;
    EXPECT_EQ(NativeErrorOf([&] { fields.SetValue(record, 0, c.Value); }), c.Code);
    EXPECT_EQ(record, before);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusedValueTest,
    ::testing::Values(
        RefusedCase{"TextOutside1252", C::actString, 10, Make([](auto& v) { v.SetAsString("漢字"); }), kUnrepresentableTextError},
        RefusedCase{"TextTooLong", C::actString, 3, Make([](auto& v) { v.SetAsString("four"); }), kBufferSizeExceededError},
        RefusedCase{"WideTooLong", C::actWideString, 1, Make([](auto& v) { v.SetAsWideString(u"ab"); }), kBufferSizeExceededError},
        RefusedCase{"NotANumber", C::actInteger, 0, Make([](auto& v) { v.SetAsString("x1"); }), kCastFailedError},
        RefusedCase{"BytesTooLong", C::actVarBytes, 2, Make([](auto& v) { v.SetAsBytes("abc", B::bftVarBytes); }),
                    kBufferSizeExceededError, Make([](auto& v) { v.SetAsBytes("z", B::bftVarBytes); })}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(RecordCodec, EmptyTextsAndNullsSetTheNullBit) {
    TABSFieldDefs fields;
    fields.Add(TABSFieldDef("S", C::actString, 5));
    fields.Add(TABSFieldDef("W", C::actWideString, 5));
    fields.Add(TABSFieldDef("I", C::actInteger));
    auto record = fields.NewRecord();
    std::fill(record.begin() + 1, record.end(), 0x41);
    fields.SetNullFlag(record, 0, false);
    struct Case {
        std::size_t Field;
        TABSVariant Value;
    };
    const Case cases[] = {
        {0, Make([](auto& v) { v.SetAsString(""); })},
        {1, Make([](auto& v) { v.SetAsWideString(u""); })},
        {2, TABSVariant(B::bftInteger)},
    };
    for (const Case& c : cases) {
        fields.SetValue(record, c.Field, c.Value);
        EXPECT_TRUE(fields.IsNull(record, c.Field)) << c.Field;
        EXPECT_TRUE(fields.GetValue(record, c.Field).IsNull()) << c.Field;
        const auto bytes = fields.FieldBytes(std::span<const std::uint8_t>(record), c.Field);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) << c.Field;
    }
}

TEST(RecordCodec, ExtendedHoldsDoublesExactly) {
    TABSFieldDefs fields;
    fields.Add(TABSFieldDef("E", C::actExtended));
    auto record = fields.NewRecord();
    for (const double d : {0.1, -2.5e-300, 1.7976931348623157e308, 123456789.125}) {
        TABSVariant v;
        v.SetAsDouble(d);
        fields.SetValue(record, 0, v);
        EXPECT_EQ(fields.GetValue(record, 0).GetAsDouble(), d);
    }
}

TEST(RecordCodec, FieldLookupIgnoresCase) {
    TABSFieldDefs fields;
    fields.Add(TABSFieldDef("Größe", C::actInteger));
    EXPECT_EQ(fields.IndexOf("GRÖSSE"), -1) << "ß has no single upper-case letter in the 8-bit set";
    EXPECT_EQ(fields.IndexOf("GRÖßE"), 0);
    EXPECT_EQ(NativeErrorOf([&] { (void)fields.FieldByNo(1); }), kFieldNoNotFoundError);
    EXPECT_EQ(NativeErrorOf([&] { (void)fields.FieldByName("x"); }), kFieldNameNotFoundError);
}

} // namespace
} // namespace kova::testing
