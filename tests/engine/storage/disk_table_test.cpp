// Tables of a database file: create, open, records on pages, physical order, record numbers,
// auto-increment, constraints, persistence, DDL and transactions.
#include "table_test_support.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSDiskBlobManager.h"
#include "engine/storage/ABSDiskEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace kova::testing {
namespace {

using C = TABSColumnType;

class DiskTableTest : public ::testing::Test {
protected:
    ScratchDirectory dir_;
    std::string path_ = dir_.File("tables.abs");
};

TABSTableDefinition PeopleDefinition() {
    return Definition({Field("ID", C::actInteger), Field("Name", C::actString, 45), Field("Score", C::actDouble)});
}

TEST_F(DiskTableTest, IntegerStringDoubleTableHas68RecordsPerPage) {
    TableDatabase db(path_);
    db.Tables().CreateTable("People", PeopleDefinition());
    auto table = db.Open("People");
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    EXPECT_EQ(disk.FieldDefs().DiskRecordSize(), 59u);
    EXPECT_EQ(disk.Geometry().RecordsPerPage(), 68u);
    EXPECT_EQ(disk.Geometry().BitmapSize(), 9u);
    EXPECT_EQ(disk.Geometry().UsedBytes(), 4021u);
}

TEST_F(DiskTableTest, FirstPageFillsBeforeASecondStartsAndEmptyPageIsGivenBack) {
    TableDatabase db(path_);
    db.Tables().CreateTable("People", PeopleDefinition());
    auto table = db.Open("People");
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    const TABSSessionID s = db.Session();
    std::vector<TABSRecordID> ids;
    for (int i = 0; i < 69; ++i) {
        RecordBuilder r(*table);
        r.Int("ID", i).Text("Name", "n" + std::to_string(i)).Double("Score", i * 0.5);
        ids.push_back(table->InsertRecord(s, r.Bytes()));
    }
    // 68 records share the first page, slots 0 … 67; the 69th starts a second page.
    for (int i = 0; i < 68; ++i) {
        EXPECT_EQ(ids[i].PageNo, ids[0].PageNo);
        EXPECT_EQ(ids[i].Slot, i);
    }
    EXPECT_NE(ids[68].PageNo, ids[0].PageNo);
    EXPECT_EQ(ids[68].Slot, 0);
    auto entries = disk.RecordPageIndex().Entries(s);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Count, 68);
    EXPECT_EQ(entries[1].Count, 1);

    // Deleting every record of the first page gives the page back; the table's first record is
    // then on the second page, and the next insert fills the second page's free slot.
    for (int i = 0; i < 68; ++i) table->DeleteRecord(s, ids[i]);
    std::uint8_t header[PageHeader::kSize];
    db.Database().PageManager().DirectReadPage(ids[0].PageNo, 0, header);
    EXPECT_EQ(DecodePageHeader(header).ModificationCounter, kGivenBackModificationCounter)
        << "the emptied page is marked given back in the file";
    entries = disk.RecordPageIndex().Entries(s);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].PageNo, ids[68].PageNo);
    EXPECT_EQ(table->FirstRecord(s), ids[68]);
    EXPECT_EQ(table->RecordCount(s), 1u);
    RecordBuilder r(*table);
    r.Int("ID", 100);
    const TABSRecordID next = table->InsertRecord(s, r.Bytes());
    EXPECT_EQ(next.PageNo, ids[68].PageNo);
    EXPECT_EQ(next.Slot, 1);
    disk.CheckIntegrity(s);
}

TEST_F(DiskTableTest, PhysicalOrderAndRecordNumbersFollowPagesAndSlots) {
    TableDatabase db(path_);
    db.Tables().CreateTable("People", PeopleDefinition());
    auto table = db.Open("People");
    const TABSSessionID s = db.Session();
    std::vector<TABSRecordID> ids;
    for (int i = 0; i < 150; ++i) {
        RecordBuilder r(*table);
        r.Int("ID", i);
        ids.push_back(table->InsertRecord(s, r.Bytes()));
    }
    // Punch holes: every third record goes.
    std::vector<TABSRecordID> left;
    for (int i = 0; i < 150; ++i) {
        if (i % 3 == 0) {
            table->DeleteRecord(s, ids[i]);
        } else {
            left.push_back(ids[i]);
        }
    }
    EXPECT_EQ(PhysicalOrder(table), left);
    std::vector<TABSRecordID> backwards;
    for (auto id = table->LastRecord(s); id; id = table->PriorRecord(s, *id)) backwards.push_back(*id);
    std::reverse(backwards.begin(), backwards.end());
    EXPECT_EQ(backwards, left);
    ASSERT_EQ(table->RecordCount(s), left.size());
    for (std::size_t k = 0; k < left.size(); ++k) {
        EXPECT_EQ(table->RecordAtNumber(s, k + 1), left[k]) << k;
        EXPECT_EQ(table->RecordNumberOf(s, left[k]), k + 1) << k;
    }
    EXPECT_EQ(NativeErrorOf([&] { (void)table->RecordAtNumber(s, left.size() + 1); }), kRecNoBeyondCountError);
    // Stepping from a deleted record continues with its successor.
    EXPECT_EQ(table->NextRecord(s, ids[3]), ids[4]);
    EXPECT_EQ(table->PriorRecord(s, ids[3]), ids[2]);
}

TEST_F(DiskTableTest, ReadOfAFreeSlotReportsRecordNotFound) {
    TableDatabase db(path_);
    db.Tables().CreateTable("People", PeopleDefinition());
    auto table = db.Open("People");
    RecordBuilder r(*table);
    const TABSRecordID id = table->InsertRecord(db.Session(), r.Int("ID", 1).Bytes());
    std::vector<std::uint8_t> buffer(table->RecordBufferSize());
    EXPECT_EQ(NativeErrorOf([&] { table->ReadRecord(db.Session(), {id.PageNo, 5}, buffer); }), kRecordNotFoundError);
    table->DeleteRecord(db.Session(), id);
    EXPECT_EQ(NativeErrorOf([&] { table->ReadRecord(db.Session(), id, buffer); }), kRecordNotFoundError);
    EXPECT_EQ(NativeErrorOf([&] { table->DeleteRecord(db.Session(), id); }), kRecordNotFoundError);
}

TEST_F(DiskTableTest, RecordsPersistAcrossReopen) {
    std::vector<TABSRecordID> ids;
    {
        TableDatabase db(path_);
        db.Tables().CreateTable("People", PeopleDefinition());
        auto table = db.Open("People");
        for (int i = 0; i < 100; ++i) {
            RecordBuilder r(*table);
            r.Int("ID", i).Text("Name", "Müller " + std::to_string(i)).Double("Score", i / 4.0);
            ids.push_back(table->InsertRecord(db.Session(), r.Bytes()));
        }
        table->DeleteRecord(db.Session(), ids[10]);
    }
    TableDatabase db(path_, false);
    auto table = db.Open("people");  // names ignore case
    EXPECT_EQ(table->RecordCount(db.Session()), 99u);
    const auto record = ReadBack(table, ids[42]);
    EXPECT_EQ(ValueOf(*table, record, "ID").GetAsInteger(), 42);
    EXPECT_EQ(ValueOf(*table, record, "Name").GetAsString(), "Müller 42");
    EXPECT_DOUBLE_EQ(ValueOf(*table, record, "Score").GetAsDouble(), 10.5);
    EXPECT_EQ(table->ChangeCounter(db.Session()), 101);
}

TEST_F(DiskTableTest, EmptyStringIsStoredAsNull) {
    TableDatabase db(path_);
    db.Tables().CreateTable("People", PeopleDefinition());
    auto table = db.Open("People");
    RecordBuilder r(*table);
    r.Int("ID", 1).Text("Name", "");
    const TABSRecordID id = table->InsertRecord(db.Session(), r.Bytes());
    const auto record = ReadBack(table, id);
    EXPECT_TRUE(ValueOf(*table, record, "Name").IsNull());
    EXPECT_TRUE(table->FieldDefs().IsNull(record, 1));
}

// ---- Auto-increment ----

struct AutoincCase {
    const char* Name;
    std::int64_t Step;
    std::int64_t Initial;
    std::int64_t Min;
    std::int64_t Max;
    bool Cycled;
    C Type;
    std::vector<std::int64_t> Expected;  // values of consecutive inserts; -1 = fails with 20160
};

class AutoincTest : public DiskTableTest, public ::testing::WithParamInterface<AutoincCase> {};

TEST_P(AutoincTest, ValuesFollowStepLimitsAndCycling) {
    const AutoincCase& c = GetParam();
    TableDatabase db(path_);
    TABSFieldDef id = Field("ID", c.Type);
    id.AutoincIncrement = c.Step;
    id.AutoincInitialValue = c.Initial;
    id.AutoincMinValue = c.Min;
    id.AutoincMaxValue = c.Max;
    id.AutoincCycled = c.Cycled;
    db.Tables().CreateTable("T", Definition({id, Field("X", C::actInteger)}));
    auto table = db.Open("T");
    for (std::size_t i = 0; i < c.Expected.size(); ++i) {
        auto record = table->NewRecordBuffer();
        if (c.Expected[i] < 0) {
            EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(db.Session(), record); }), kAutoincMaxExceededError);
            EXPECT_TRUE(table->FieldDefs().IsNull(record, 0)) << "a failed insert leaves the buffer as it was";
            continue;
        }
        EXPECT_EQ(table->NextAutoincValue(db.Session(), 0), c.Expected[i]);
        const TABSRecordID rid = table->InsertRecord(db.Session(), record);
        EXPECT_EQ(ValueOf(*table, record, "ID").GetAsLargeInt(), c.Expected[i]) << i;
        EXPECT_EQ(ValueOf(*table, ReadBack(table, rid), "ID").GetAsLargeInt(), c.Expected[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutoincTest,
    ::testing::Values(
        AutoincCase{"Defaults", 1, 0, 0, INT64_MAX, false, C::actAutoInc, {1, 2, 3}},
        AutoincCase{"StepZeroCountsOne", 0, 0, 0, INT64_MAX, false, C::actAutoInc, {1, 2}},
        AutoincCase{"StepAndInitial", 5, 100, 0, INT64_MAX, false, C::actAutoIncLargeInt, {105, 110}},
        AutoincCase{"MaxThreeFails", 1, 0, 0, 3, false, C::actAutoInc, {1, 2, 3, -1, -1}},
        AutoincCase{"MaxThreeCycles", 1, 0, 1, 3, true, C::actAutoInc, {1, 2, 3, 1, 2}},
        AutoincCase{"ByteRangeLimits", 100, 0, 0, INT64_MAX, false, C::actAutoIncByte, {100, 200, -1}},
        AutoincCase{"ByteRangeCycles", 100, 0, 7, INT64_MAX, true, C::actAutoIncByte, {100, 200, 7, 107}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(DiskTableTest, AutoincCounterSurvivesReopenAndExplicitValuesAreKept) {
    {
        TableDatabase db(path_);
        db.Tables().CreateTable("T", Definition({Field("ID", C::actAutoInc), Field("X", C::actInteger)}));
        auto table = db.Open("T");
        for (int i = 0; i < 3; ++i) {
            auto record = table->NewRecordBuffer();
            (void)table->InsertRecord(db.Session(), record);
        }
        RecordBuilder explicitId(*table);
        explicitId.Int("ID", 77);
        const TABSRecordID id = table->InsertRecord(db.Session(), explicitId.Bytes());
        EXPECT_EQ(ValueOf(*table, ReadBack(table, id), "ID").GetAsInteger(), 77);
    }
    TableDatabase db(path_, false);
    auto table = db.Open("T");
    auto record = table->NewRecordBuffer();
    (void)table->InsertRecord(db.Session(), record);
    EXPECT_EQ(ValueOf(*table, record, "ID").GetAsInteger(), 4);
}

// ---- Constraints ----

TEST_F(DiskTableTest, DuplicatePrimaryKeyFailsAndLeavesTableAndIndexUnchanged) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", Definition({Field("ID", C::actInteger), Field("Name", C::actString, 20)},
                                            {Index("PK", {"ID"}, true, true), Index("ByName", {"Name"})}));
    auto table = db.Open("T");
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    const TABSSessionID s = db.Session();
    for (int i = 0; i < 5; ++i) {
        RecordBuilder r(*table);
        (void)table->InsertRecord(s, r.Int("ID", i).Text("Name", "x" + std::to_string(i)).Bytes());
    }
    const std::int32_t changes = table->ChangeCounter(s);
    RecordBuilder dup(*table);
    dup.Int("ID", 3).Text("Name", "other");
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(s, dup.Bytes()); }, &message), kPrimaryKeyViolationError);
    EXPECT_EQ(message, "Primary Key constraint 'PK' violated. Duplicate found.");
    EXPECT_EQ(table->RecordCount(s), 5u);
    EXPECT_EQ(table->ChangeCounter(s), changes);
    const auto counts = IndexEntryCounts(table);
    ASSERT_EQ(counts.size(), 2u);
    for (const auto& [name, count] : counts) EXPECT_EQ(count, 5u) << name;
    disk.CheckIntegrity(s);
    // An update onto another record's key fails the same way; the record keeps its key.
    const auto ids = PhysicalOrder(table);
    auto record = ReadBack(table, ids[0]);
    table->FieldDefs().SetValue(record, 0, [] { TABSVariant v; v.SetAsInteger(4); return v; }());
    EXPECT_EQ(NativeErrorOf([&] { table->UpdateRecord(s, ids[0], record); }), kPrimaryKeyViolationError);
    EXPECT_EQ(ValueOf(*table, ReadBack(table, ids[0]), "ID").GetAsInteger(), 0);
    // Updating a record onto its own key is no duplicate.
    auto same = ReadBack(table, ids[1]);
    table->FieldDefs().SetValue(same, 1, [] { TABSVariant v; v.SetAsString("renamed"); return v; }());
    table->UpdateRecord(s, ids[1], same);
    EXPECT_EQ(ValueOf(*table, ReadBack(table, ids[1]), "Name").GetAsString(), "renamed");
}

TEST_F(DiskTableTest, UniqueIndexReportsUniqueConstraint) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", Definition({Field("Code", C::actString, 10)}, {Index("UQ", {"Code"}, true)}));
    auto table = db.Open("T");
    RecordBuilder a(*table);
    (void)table->InsertRecord(db.Session(), a.Text("Code", "A").Bytes());
    RecordBuilder b(*table);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(db.Session(), b.Text("Code", "A").Bytes()); }, &message),
              kUniqueViolationError);
    EXPECT_EQ(message, "Constraint unique 'UQ' violated. Duplicate found.");
}

TEST_F(DiskTableTest, NotNullAndCheckConstraints) {
    TableDatabase db(path_);
    TABSTableDefinition def = Definition({Field("Name", C::actString, 20), Field("Age", C::actInteger)});
    auto notNull = std::make_unique<TABSConstraintDefNotNull>();
    notNull->SetFieldName("Name");
    def.Constraints.Add(std::move(notNull), "T");
    auto check = std::make_unique<TABSConstraintDefCheck>();
    check->Name = "AgeRange";
    check->SetFieldName("Age");
    check->MinValue.SetAsInteger(6);
    check->MaxValue.SetAsInteger(99);
    def.Constraints.Add(std::move(check), "T");
    db.Tables().CreateTable("T", std::move(def));
    auto table = db.Open("T");
    const TABSSessionID s = db.Session();

    struct Case {
        const char* Name;
        int Age;
        int Code;
        const char* Message;
    };
    const Case cases[] = {
        {nullptr, 10, kNotNullOnInsertViolationError, "Constraint '$C_NotNull$T$Name' violated. Value in field 'Name' cannot be null"},
        {"Ann", 5, kCheckViolationError, "Constraint 'AgeRange' violated. Value in field 'Age' cannot be lower than '6'"},
        {"Ann", 100, kCheckViolationError, "Constraint 'AgeRange' violated. Value in field 'Age' cannot be greater than '99'"},
        {"Ann", 6, 0, ""},
        {"Bob", 99, 0, ""},
    };
    for (const Case& c : cases) {
        RecordBuilder r(*table);
        if (c.Name != nullptr) r.Text("Name", c.Name);
        r.Int("Age", c.Age);
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(s, r.Bytes()); }, &message), c.Code) << c.Age;
        EXPECT_EQ(message, c.Message);
    }
    EXPECT_EQ(table->RecordCount(s), 2u);
    // Clearing the name of a stored record is refused with the update code.
    const auto first = *table->FirstRecord(s);
    auto record = ReadBack(table, first);
    table->FieldDefs().SetValue(record, 0, TABSVariant(TABSBaseType::bftString));
    EXPECT_EQ(NativeErrorOf([&] { table->UpdateRecord(s, first, record); }), kNotNullOnUpdateViolationError);
}

TEST_F(DiskTableTest, DefaultsFillNullFields) {
    TableDatabase db(path_);
    TABSFieldDef name = Field("Name", C::actString, 20);
    name.DefaultValue.SetAsString("unbekannt");
    TABSFieldDef count = Field("Count", C::actInteger);
    count.DefaultValue.SetAsLargeInt(7);
    TABSFieldDef stamp = Field("Stamp", C::actDateTime);
    stamp.DefaultValue.SetAsString("NOW");
    db.Tables().CreateTable("T", Definition({name, count, stamp, Field("Other", C::actInteger)}));
    auto table = db.Open("T");  // defaults come back from the definition file
    RecordBuilder r(*table);
    r.Int("Count", 3);
    table->ApplyDefaults(r.Bytes());
    EXPECT_EQ(ValueOf(*table, r.Bytes(), "Name").GetAsString(), "unbekannt");
    EXPECT_EQ(ValueOf(*table, r.Bytes(), "Count").GetAsInteger(), 3);
    EXPECT_GT(ValueOf(*table, r.Bytes(), "Stamp").GetAsDateTime().date, kDayFractionEpoch + 40000);
    EXPECT_TRUE(ValueOf(*table, r.Bytes(), "Other").IsNull());
}

// ---- Table life cycle ----

TEST_F(DiskTableTest, CreateFailures) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", PeopleDefinition());
    TABSFieldDef blob = Field("B", C::actBlob);
    blob.BlobBlockSize = 0;
    struct Case {
        const char* Label;
        std::string Name;
        TABSTableDefinition Def;
        int Code;
    };
    std::vector<Case> cases;
    cases.push_back({"no fields", "U", TABSTableDefinition{}, kNoFieldsError});
    cases.push_back({"name taken", "t", PeopleDefinition(), kTableExistsError});
    cases.push_back({"record too large", "U", Definition({Field("S", C::actString, 5000)}), kRecordTooLargeError});
    cases.push_back({"blob block size", "U", Definition({blob}), kBlobBlockSizeError});
    cases.push_back({"index on missing field", "U", Definition({Field("A", C::actInteger)}, {Index("I", {"Nope"})}),
                     kIndexFieldNotFoundError});
    cases.push_back({"index on blob", "U", Definition({Field("M", C::actMemo)}, {Index("I", {"M"})}), kCannotIndexBlobError});
    const auto before = db.Database().PageManager().ReadFileInfo();
    for (auto& c : cases) {
        EXPECT_EQ(NativeErrorOf([&] { db.Tables().CreateTable(c.Name, std::move(c.Def)); }), c.Code) << c.Label;
    }
    EXPECT_EQ(db.Tables().TableNames(), std::vector<std::string>{"T"});
    EXPECT_EQ(db.Database().PageManager().ReadFileInfo().LastUsedPageNo, before.LastUsedPageNo)
        << "a failed creation leaves no pages behind";
    EXPECT_EQ(NativeErrorOf([&] { (void)db.Open("Missing"); }), kTableNotFoundError);
}

TEST_F(DiskTableTest, DropGivesEveryPageBack) {
    TableDatabase db(path_);
    const auto empty = db.Database().PageManager().ReadFileInfo();
    TABSTableDefinition def = Definition({Field("ID", C::actInteger), Field("Memo", C::actMemo)}, {Index("I", {"ID"})});
    db.Tables().CreateTable("T", std::move(def));
    {
        auto table = db.Open("T");
        for (int i = 0; i < 500; ++i) {
            RecordBuilder r(*table);
            (void)table->InsertRecord(db.Session(), r.Int("ID", i).Bytes());
        }
        EXPECT_EQ(NativeErrorOf([&] { db.Tables().DropTable(db.Session(), "T"); }), kTableOpenOnDropError);
    }
    db.Tables().DropTable(db.Session(), "T");
    EXPECT_TRUE(db.Tables().TableNames().empty());
    EXPECT_EQ(db.Database().PageManager().ReadFileInfo().LastUsedPageNo, empty.LastUsedPageNo);
    db.Tables().CreateTable("T", PeopleDefinition());  // the name is free again
}

TEST_F(DiskTableTest, RenameTableAndField) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", Definition({Field("A", C::actInteger), Field("B", C::actInteger)}, {Index("IA", {"A"})}));
    {
        auto table = db.Open("T");
        RecordBuilder r(*table);
        (void)table->InsertRecord(db.Session(), r.Int("A", 1).Int("B", 2).Bytes());
        EXPECT_EQ(NativeErrorOf([&] { db.Tables().RenameTable(db.Session(), "T", "U"); }), kTableOpenOnRenameError);
    }
    db.Tables().RenameTable(db.Session(), "T", "U");
    EXPECT_EQ(NativeErrorOf([&] { (void)db.Open("T"); }), kTableNotFoundError);
    EXPECT_EQ(NativeErrorOf([&] { db.Tables().RenameField(db.Session(), "U", "Nope", "C"); }), kFieldNameNotFoundError);
    EXPECT_EQ(NativeErrorOf([&] { db.Tables().RenameField(db.Session(), "U", "A", "b"); }), kDuplicateFieldNameError);
    db.Tables().RenameField(db.Session(), "U", "a", "Alpha");
    auto table = db.Open("U");
    EXPECT_EQ(table->FieldDefs()[0].Name, "Alpha");
    EXPECT_EQ(table->IndexDefs()[0].Columns[0].FieldName, "Alpha");
    EXPECT_EQ(ValueOf(*table, ReadBack(table, *table->FirstRecord(db.Session())), "Alpha").GetAsInteger(), 1);
    static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(db.Session());
}

TEST_F(DiskTableTest, AddAndDropIndexes) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", Definition({Field("ID", C::actInteger), Field("Code", C::actString, 10)}));
    auto table = db.Open("T");
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    const TABSSessionID s = db.Session();
    for (int i = 0; i < 50; ++i) {
        RecordBuilder r(*table);
        (void)table->InsertRecord(s, r.Int("ID", i).Text("Code", "c" + std::to_string(i % 10)).Bytes());
    }
    const auto pagesBefore = db.Database().PageManager().ReadFileInfo().LastUsedPageNo;
    EXPECT_EQ(NativeErrorOf([&] { db.Tables().AddIndex(s, "T", Index("UQ", {"Code"}, true)); }), kUniqueViolationError);
    EXPECT_EQ(disk.IndexManager().Count(), 0u) << "a failed index leaves nothing behind";
    EXPECT_TRUE(table->IndexDefs().Empty());
    EXPECT_EQ(db.Database().PageManager().ReadFileInfo().LastUsedPageNo, pagesBefore);

    db.Tables().AddIndex(s, "T", Index("ByCode", {"Code"}));
    db.Tables().AddIndex(s, "T", Index("PK", {"ID"}, true, true));
    EXPECT_EQ(NativeErrorOf([&] { db.Tables().AddIndex(s, "T", Index("bycode", {"ID"})); }), kIndexNameTakenError);
    const auto counts = IndexEntryCounts(table);
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_EQ(counts[0], (std::pair<std::string, std::uint64_t>{"ByCode", 50}));
    EXPECT_EQ(counts[1], (std::pair<std::string, std::uint64_t>{"PK", 50}));
    RecordBuilder dup(*table);
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(s, dup.Int("ID", 7).Bytes()); }), kPrimaryKeyViolationError);

    db.Tables().DropIndex(s, "T", "bycode");
    EXPECT_EQ(NativeErrorOf([&] { db.Tables().DropIndex(s, "T", "ByCode"); }), kIndexByNameNotFoundError);
    table.Close();
    auto reopened = db.Open("T");
    ASSERT_EQ(reopened->IndexDefs().Count(), 1u);
    EXPECT_EQ(reopened->IndexDefs()[0].Name, "PK");
    ASSERT_EQ(reopened->ConstraintDefs().Count(), 1u);
    EXPECT_EQ(reopened->ConstraintDefs()[0].Kind(), TABSConstraintKind::PrimaryKey);
    static_cast<TABSDiskTableData&>(reopened.Table()).CheckIntegrity(s);
}

TEST_F(DiskTableTest, EmptyTableKeepsRootsAndResetsCounters) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", Definition({Field("ID", C::actInteger), Field("M", C::actMemo)}, {Index("I", {"ID"})}));
    auto table = db.Open("T");
    auto& disk = static_cast<TABSDiskTableData&>(table.Table());
    const TABSPageNo pageIndexRoot = disk.RecordPageIndex().RootPageNo();
    const TABSPageNo indexRoot = disk.IndexManager().At(0).RootPageNo();
    const TABSPageNo blobIndexRoot = disk.DiskBlobManager()->IndexRoot();
    const auto fill = [&] {
        for (int i = 0; i < 300; ++i) {
            RecordBuilder r(*table);
            r.Int("ID", i);
            // Every tenth memo is large, the others share pages.
            const std::vector<std::uint8_t> memo(i % 10 == 0 ? 5000 : 200, static_cast<std::uint8_t>('a' + i % 26));
            table->SetBlobRaw(db.Session(), r.Bytes(), 1, TABSRawBlob{0, static_cast<std::int64_t>(memo.size()), memo});
            (void)table->InsertRecord(db.Session(), r.Bytes());
        }
    };
    fill();
    const TABSPageNo lastUsed = db.Database().PageManager().ReadFileInfo().LastUsedPageNo;
    table->EmptyTable(db.Session());
    EXPECT_EQ(table->RecordCount(db.Session()), 0u);
    EXPECT_EQ(table->ChangeCounter(db.Session()), 0);
    EXPECT_FALSE(table->FirstRecord(db.Session()));
    EXPECT_EQ(disk.RecordPageIndex().RootPageNo(), pageIndexRoot);
    EXPECT_TRUE(disk.RecordPageIndex().Entries(db.Session()).empty());
    EXPECT_EQ(disk.IndexManager().At(0).RootPageNo(), indexRoot);
    EXPECT_EQ(disk.IndexManager().At(0).EntryCount(db.Session()), 0u);
    EXPECT_EQ(disk.DiskBlobManager()->IndexRoot(), blobIndexRoot);
    EXPECT_TRUE(disk.DiskBlobManager()->PageIndex().Entries(db.Session()).empty());
    disk.CheckIntegrity(db.Session());
    // Every page but the roots went back: the same records fit again without growing the file.
    fill();
    EXPECT_LE(db.Database().PageManager().ReadFileInfo().LastUsedPageNo, lastUsed);
    EXPECT_EQ(table->RecordCount(db.Session()), 300u);
    disk.CheckIntegrity(db.Session());
}

TEST_F(DiskTableTest, ExclusiveOpenConflictsWithOtherCursors) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", PeopleDefinition());
    {
        auto first = db.Open("T");
        EXPECT_EQ(NativeErrorOf([&] { (void)db.Open("T", true); }), kTableExclusiveInProcessError);
        auto second = db.Open("T");
        EXPECT_EQ(&first.Table(), &second.Table()) << "cursors share one table object";
        EXPECT_EQ(first->CursorCount(), 2u);
    }
    EXPECT_FALSE(db.Tables().IsTableOpen("T"));
    auto exclusive = db.Open("T", true);
    EXPECT_EQ(NativeErrorOf([&] { (void)db.Open("T"); }), kTableExclusiveInProcessError);
}

// ---- Transactions ----

TEST_F(DiskTableTest, RollbackOfATransactionDropsItsChanges) {
    TableDatabase db(path_);
    db.Tables().CreateTable("T", Definition({Field("ID", C::actAutoInc)}, {Index("PK", {"ID"}, true, true)}));
    auto table = db.Open("T");
    const TABSSessionID s = db.Session();
    auto record = table->NewRecordBuffer();
    (void)table->InsertRecord(s, record);
    db.Tables().StartTransaction(s);
    for (int i = 0; i < 3; ++i) {
        auto r = table->NewRecordBuffer();
        (void)table->InsertRecord(s, r);
    }
    EXPECT_EQ(table->RecordCount(s), 4u);
    db.Tables().Rollback(s);
    EXPECT_EQ(table->RecordCount(s), 1u);
    auto r = table->NewRecordBuffer();
    (void)table->InsertRecord(s, r);
    EXPECT_EQ(ValueOf(*table, r, "ID").GetAsInteger(), 2) << "the counter went back with the rollback";
    db.Tables().StartTransaction(s);
    auto r2 = table->NewRecordBuffer();
    (void)table->InsertRecord(s, r2);
    db.Tables().Commit(s);
    EXPECT_EQ(table->RecordCount(s), 3u);
    static_cast<TABSDiskTableData&>(table.Table()).CheckIntegrity(s);
}

} // namespace
} // namespace kova::testing
