// The definition and state files of a table, constraint naming and the record page geometry.
#include "table_test_support.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSCompression.h"
#include "engine/storage/ABSRecordPage.h"
#include "engine/storage/ABSTableDefinition.h"

#include <gtest/gtest.h>

namespace kova::testing {
namespace {

using C = TABSColumnType;
using B = TABSBaseType;

TABSTableDefinition RichDefinition() {
    TABSTableDefinition def;
    TABSFieldDef id("ID", C::actAutoIncLargeInt);
    id.ObjectID = 1;
    id.AutoincIncrement = 3;
    id.AutoincInitialValue = 10;
    id.AutoincMinValue = 5;
    id.AutoincMaxValue = 1000;
    id.AutoincCycled = true;
    def.Fields.Add(id);
    TABSFieldDef name("Näme", C::actString, 45);
    name.ObjectID = 2;
    name.DefaultValue.SetAsString("Straße");
    def.Fields.Add(name);
    TABSFieldDef memo("Notes", C::actMemo);
    memo.ObjectID = 3;
    memo.BlobCompressionAlgorithm = kCompressionZlib;
    memo.BlobCompressionMode = 6;
    memo.BlobBlockSize = 4096;
    def.Fields.Add(memo);
    TABSFieldDef price("Price", C::actCurrency);
    price.ObjectID = 4;
    price.DefaultValue.SetAsDouble(9.95);
    def.Fields.Add(price);
    TABSFieldDef stamp("Stamp", C::actTimeStamp);
    stamp.ObjectID = 5;
    stamp.DefaultValue.SetAsString("NOW");
    def.Fields.Add(stamp);

    TABSIndexDef pk("PK", 11, {TABSIndexColumn{"ID"}}, true, true);
    pk.RootPageNo = 17;
    def.Indexes.Add(pk);
    TABSIndexDef byName("ByName", 12, {TABSIndexColumn{"Näme", true, true, 20}, TABSIndexColumn{"Price", false, false, 8}});
    byName.RootPageNo = 18;
    def.Indexes.Add(byName);
    TABSIndexDef temporary("TEMPORARY_INDEX_1", 13, {TABSIndexColumn{"ID"}});
    temporary.Temporary = true;
    def.Indexes.Add(temporary);

    auto primary = std::make_unique<TABSConstraintDefPrimary>();
    primary->Name = "PK";
    primary->ObjectID = 21;
    primary->SetIndexName("PK");
    primary->Columns.push_back({1, "ID"});
    def.Constraints.Add(std::move(primary), "Tab");
    auto unique = std::make_unique<TABSConstraintDefUnique>();
    unique->Name = "UQ";
    unique->ObjectID = 22;
    unique->SetIndexName("ByName");
    unique->Columns.push_back({2, "Näme"});
    unique->Columns.push_back({4, "Price"});
    def.Constraints.Add(std::move(unique), "Tab");
    auto notNull = std::make_unique<TABSConstraintDefNotNull>();
    notNull->SetFieldName("Näme");
    def.Constraints.Add(std::move(notNull), "Tab");
    auto check = std::make_unique<TABSConstraintDefCheck>();
    check->Name = "PriceRange";
    check->SetFieldName("Price");
    check->MinValue.SetAsDouble(0.5);
    def.Constraints.Add(std::move(check), "Tab");
    def.RecordPageIndexRoot = 15;
    def.BlobPageIndexRoot = 16;
    return def;
}

TEST(TableDefinition, RoundTripKeepsEveryStoredMember) {
    const TABSTableDefinition def = RichDefinition();
    const TABSTableDefinition back = TABSTableDefinition::Decode(def.Encode());
    ASSERT_EQ(back.Fields.Count(), def.Fields.Count());
    for (std::size_t i = 0; i < def.Fields.Count(); ++i) {
        const TABSFieldDef& a = def.Fields[i];
        const TABSFieldDef& b = back.Fields[i];
        SCOPED_TRACE(a.Name);
        EXPECT_EQ(b.Name, a.Name);
        EXPECT_EQ(b.ObjectID, a.ObjectID);
        EXPECT_EQ(b.StorageType, a.StorageType);
        EXPECT_EQ(b.ColumnType, a.ColumnType);
        EXPECT_EQ(b.Size, a.Size);
        EXPECT_EQ(b.BlobCompressionAlgorithm, a.BlobCompressionAlgorithm);
        EXPECT_EQ(b.BlobCompressionMode, a.BlobCompressionMode);
        EXPECT_EQ(b.BlobBlockSize, a.BlobBlockSize);
        EXPECT_EQ(b.AutoincIncrement, a.AutoincIncrement);
        EXPECT_EQ(b.AutoincInitialValue, a.AutoincInitialValue);
        EXPECT_EQ(b.AutoincMinValue, a.AutoincMinValue);
        EXPECT_EQ(b.AutoincMaxValue, a.AutoincMaxValue);
        EXPECT_EQ(b.AutoincCycled, a.AutoincCycled);
        EXPECT_EQ(b.DefaultValue.IsNull(), a.DefaultValue.IsNull());
        EXPECT_EQ(b.DefaultValue.BaseType(), a.DefaultValue.BaseType());
        if (!a.DefaultValue.IsNull()) {
            EXPECT_EQ(b.DefaultValue.Compare(a.DefaultValue), TABSCompareResult::Equal);
        }
        EXPECT_EQ(b.MemoryOffset, a.MemoryOffset);
        EXPECT_EQ(b.DiskOffset, a.DiskOffset);
    }
    ASSERT_EQ(back.Indexes.Count(), 2u) << "temporary indexes are not stored";
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back.Indexes[i].Name, def.Indexes[i].Name);
        EXPECT_EQ(back.Indexes[i].ObjectID, def.Indexes[i].ObjectID);
        EXPECT_EQ(back.Indexes[i].Unique, def.Indexes[i].Unique);
        EXPECT_EQ(back.Indexes[i].Primary, def.Indexes[i].Primary);
        EXPECT_EQ(back.Indexes[i].RootPageNo, def.Indexes[i].RootPageNo);
        EXPECT_EQ(back.Indexes[i].Columns, def.Indexes[i].Columns);
    }
    ASSERT_EQ(back.Constraints.Count(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(back.Constraints[i].Kind(), def.Constraints[i].Kind());
        EXPECT_EQ(back.Constraints[i].Name, def.Constraints[i].Name);
        EXPECT_EQ(back.Constraints[i].ObjectID, def.Constraints[i].ObjectID);
        EXPECT_EQ(back.Constraints[i].Refs, def.Constraints[i].Refs);
    }
    EXPECT_EQ(static_cast<const TABSConstraintDefUnique&>(back.Constraints[1]).Columns,
              static_cast<const TABSConstraintDefUnique&>(def.Constraints[1]).Columns);
    const auto& check = static_cast<const TABSConstraintDefCheck&>(back.Constraints[3]);
    EXPECT_DOUBLE_EQ(check.MinValue.GetAsDouble(), 0.5);
    EXPECT_TRUE(check.MaxValue.IsNull());
    EXPECT_EQ(back.RecordPageIndexRoot, 15);
    EXPECT_EQ(back.BlobPageIndexRoot, 16);
}

TEST(TableDefinition, ByteLayoutOfASmallDefinition) {
    TABSTableDefinition def;
    TABSFieldDef f("A", C::actInteger);
    f.ObjectID = 7;
    f.DefaultValue.SetAsInteger(5);
    def.Fields.Add(f);
    auto notNull = std::make_unique<TABSConstraintDefNotNull>();
    notNull->Name = "N";
    notNull->ObjectID = 9;
    notNull->SetFieldName("A");
    def.Constraints.Add(std::move(notNull), "T");
    def.RecordPageIndexRoot = 12;
    std::vector<std::uint8_t> expected = {
        1, 0, 0, 0,                      // field count
        1, 'A', 7, 0, 0, 0,              // name, object id
        7, 7,                            // storage type, column type
        0, 0, 0, 0,                      // declared size
        0, 0, 0x00, 0x90, 0x01, 0x00,    // BLOB algorithm, mode, block size 102 400
        1, 0, 0, 0, 0, 0, 0, 0,          // step
        0, 0, 0, 0, 0, 0, 0, 0,          // initial
        0, 0, 0, 0, 0, 0, 0, 0,          // minimum
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,  // maximum
        0,                               // cycles
        7, 0, 4, 0, 0, 0, 5, 0, 0, 0,    // default: Integer, not null, 4 bytes, 5
        0, 0, 0, 0,                      // index count
        1, 0, 0, 0,                      // constraint count
        3, 1, 'N', 9, 0, 0, 0,           // not null, name, object id
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // three ids
        1, 0,                            // unused pair: count 1, length 0
        2, 1, 'T',                       // table name
        2, 1, 'A',                       // field name
        12, 0, 0, 0,                     // record page index root
        0xFF, 0xFF, 0xFF, 0xFF,          // no BLOB page index
    };
    EXPECT_EQ(def.Encode(), expected);
}

TEST(TableDefinition, EveryTruncationIsReportedNotReadPastTheEnd) {
    const std::vector<std::uint8_t> bytes = RichDefinition().Encode();
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        const int code = NativeErrorOf([&] { (void)TABSTableDefinition::Decode(cut); });
        EXPECT_TRUE(code == kInvalidTableHeaderError || code == kUnknownConstraintTypeError) << length << ": " << code;
    }
}

TEST(TableDefinition, UnknownConstraintKindIsRefused) {
    TABSTableDefinition def;
    def.Fields.Add(TABSFieldDef("A", C::actInteger));
    auto notNull = std::make_unique<TABSConstraintDefNotNull>();
    notNull->SetFieldName("A");
    def.Constraints.Add(std::move(notNull), "T");
    std::vector<std::uint8_t> bytes = def.Encode();
    // The kind byte follows the field count, the field (53 bytes) and the two counts.
    const std::size_t kindOffset = 4 + 53 + 4 + 4;
    ASSERT_EQ(bytes[kindOffset], 3);
    for (const int kind : {1, 5, 200}) {
        bytes[kindOffset] = static_cast<std::uint8_t>(kind);
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)TABSTableDefinition::Decode(bytes); }, &message), kUnknownConstraintTypeError);
        EXPECT_EQ(message, "Unknown Constraint Type: '" + std::to_string(kind) + "'");
    }
}

TEST(TableState, LayoutAndSizeChecks) {
    TABSTableState state;
    state.AutoincValues = {0, 42};
    state.ChangeCounter = 7;
    state.RecordCount = 3;
    const std::vector<std::uint8_t> expected = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 42, 0, 0, 0,
                                                0, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(state.Encode(), expected);
    EXPECT_EQ(TABSTableState::Decode(expected, 2), state);
    std::vector<std::uint8_t> longer = expected;
    longer.push_back(0);
    for (const auto& bytes : {longer, std::vector<std::uint8_t>(expected.begin(), expected.end() - 1)}) {
        EXPECT_EQ(NativeErrorOf([&] { (void)TABSTableState::Decode(bytes, 2); }), kInvalidTableHeaderError);
    }
    EXPECT_EQ(NativeErrorOf([&] { (void)TABSTableState::Decode(expected, 3); }), kInvalidTableHeaderError);
}

TEST(ConstraintDefs, NamingOfUnnamedConstraints) {
    TABSConstraintDefs defs;
    auto first = std::make_unique<TABSConstraintDefNotNull>();
    first->SetFieldName("F");
    EXPECT_EQ(defs.Add(std::move(first), "Tab").Name, "$C_NotNull$Tab$F");
    auto again = std::make_unique<TABSConstraintDefNotNull>();
    again->SetFieldName("F");
    const std::string second = defs.Add(std::move(again), "Tab").Name;
    ASSERT_GT(second.size(), std::string("$C_NotNull$Tab$F").size());
    EXPECT_EQ(second.substr(0, 16), "$C_NotNull$Tab$F");
    const int suffix = std::stoi(second.substr(16));
    EXPECT_GE(suffix, 0);
    EXPECT_LE(suffix, 65534);
    auto check = std::make_unique<TABSConstraintDefCheck>();
    check->SetFieldName("G");
    EXPECT_EQ(defs.Add(std::move(check), "Tab").Name, "$C_Check$Tab$G");
    EXPECT_EQ(defs[0].TableName(), "Tab");

    auto unnamedUnique = std::make_unique<TABSConstraintDefUnique>();
    EXPECT_EQ(NativeErrorOf([&] { defs.Add(std::move(unnamedUnique), "Tab"); }), kUnnamedConstraintError);
    for (const int kind : {1, 5, -1}) {
        EXPECT_EQ(NativeErrorOf([&] { RequireSupportedConstraintKind(kind); }), kUnsupportedConstraintKindError) << kind;
    }
    for (const int kind : {0, 2, 3, 4}) EXPECT_EQ(NativeErrorOf([&] { RequireSupportedConstraintKind(kind); }), 0);
}

struct GeometryCase {
    std::size_t RecordSize;
    std::size_t DataSize;
    int RecordsPerPage;  // 0: the table cannot be made
    std::size_t Bitmap;
};

class RecordPageGeometryTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(RecordPageGeometryTest, RecordsPerPage) {
    const GeometryCase& c = GetParam();
    if (c.RecordsPerPage == 0) {
        EXPECT_EQ(NativeErrorOf([&] { TABSRecordPageGeometry g(c.RecordSize, c.DataSize); }), kRecordTooLargeError);
        return;
    }
    const TABSRecordPageGeometry g(c.RecordSize, c.DataSize);
    EXPECT_EQ(g.RecordsPerPage(), c.RecordsPerPage);
    EXPECT_EQ(g.BitmapSize(), c.Bitmap);
    EXPECT_LE(g.UsedBytes(), c.DataSize);
    // One more record would not fit with its bitmap bit.
    EXPECT_GT((c.RecordsPerPage + 1 + 7) / 8 + (c.RecordsPerPage + 1) * c.RecordSize, c.DataSize);
    const TABSRecordID id{7, static_cast<std::uint16_t>(c.RecordsPerPage - 1)};
    EXPECT_EQ(g.Position(id), 7u * c.RecordsPerPage + c.RecordsPerPage - 1);
    EXPECT_EQ(g.IDAtPosition(g.Position(id)), id);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordPageGeometryTest,
                         ::testing::Values(GeometryCase{59, 4056, 68, 9}, GeometryCase{2, 4056, 1908, 239},
                                           GeometryCase{4054, 4056, 1, 1}, GeometryCase{4055, 4056, 0, 0},
                                           GeometryCase{5002, 4056, 0, 0}, GeometryCase{100, 65495, 654, 82}));

TEST(TableFiles, DefinitionIsStoredZlibCompressedAtLevelOne) {
    ScratchDirectory dir;
    TableDatabase db(dir.File("def.abs"));
    db.Tables().CreateTable("T", RichDefinition());
    const TABSTableEntry entry = db.Database().GetTable("T");
    TABSInternalDBTransactedAccessFile file(db.Database().PageManager(), TABSPageType::TableMetaData);
    file.OpenFile(entry.MetaDataPageNo);
    const auto header = file.ReadHeader(db.Session());
    EXPECT_EQ(header.Algorithm, kCompressionZlib);
    EXPECT_LT(header.StoredSize, header.UnpackedSize);
    const auto content = file.ReadFile(db.Session());
    const TABSTableDefinition back = TABSTableDefinition::Decode(content);
    EXPECT_EQ(back.Fields.Count(), 5u);
    EXPECT_NE(back.BlobPageIndexRoot, kNoPage) << "a BLOB root was made: the table has a memo field";
    EXPECT_NE(back.BlobPageIndexRoot, 16) << "roots come from the creation, not from the caller";
}

} // namespace
} // namespace kova::testing
