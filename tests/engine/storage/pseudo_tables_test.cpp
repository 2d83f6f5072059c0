// Tables of the MEMORY and TEMP pseudo databases: creating, opening and dropping, records with
// their indexes, constraints and BLOB values, temporary tables spilling past their memory budget
// and reading back intact, insert-only temporary tables, and the memory limit on in-memory
// tables.
#include "pages_test_support.h"

#include "engine/core/ABSExcept.h"
#include "engine/storage/ABSPseudoDatabases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;
using Bytes = std::vector<std::uint8_t>;

constexpr TABSSessionID kSession = 0;
constexpr std::size_t kId = 0, kName = 1, kNotes = 2;

// ID AutoInc primary key, Name String(30) unique, Notes Memo (ZLIB).
TABSTableDefinition People(bool withIndexes = true) {
    TABSTableDefinition definition;
    definition.Fields.Add(TABSFieldDef("ID", TABSColumnType::actAutoInc));
    definition.Fields.Add(TABSFieldDef("Name", TABSColumnType::actString, 30));
    TABSFieldDef notes("Notes", TABSColumnType::actMemo);
    notes.BlobCompressionAlgorithm = 1;
    notes.BlobCompressionMode = 1;
    definition.Fields.Add(notes);
    if (withIndexes) {
        definition.Indexes.Add(TABSIndexDef("PK_People", 0, {{"ID"}}, true, true));
        definition.Indexes.Add(TABSIndexDef("IX_Name", 0, {{"Name"}}, true, false));
    }
    return definition;
}

std::string Text(std::size_t length, unsigned seed) {
    std::string text(length, ' ');
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>('a' + (i * seed + i / 40) % 26);
    return text;
}

// Fills a new record buffer (through a cursor's BLOB stream for the memo) and inserts it.
TABSRecordID Insert(TABSTableData& table, const std::string& name, const std::string& notes, Bytes* out = nullptr) {
    Bytes record = table.NewRecordBuffer();
    TABSVariant value;
    value.SetAsString(name);
    table.FieldDefs().SetValue(record, kName, value);
    if (!notes.empty()) {
        auto stream = table.BlobManager()->OpenBlobStream(kSession, record, kNotes, TABSBlobOpenMode::Write);
        EXPECT_EQ(stream->Write(notes.data(), notes.size()), notes.size());
        table.BlobManager()->StoreBlobStream(kSession, record, *stream);
    }
    const TABSRecordID id = table.InsertRecord(kSession, record);
    table.ReleaseRecordBuffer(record, false);
    if (out != nullptr)
        *out = record;
    return id;
}

struct Row {
    std::int64_t id;
    std::string name;
    std::string notes;
    friend bool operator==(const Row&, const Row&) = default;
};

Row ReadRow(TABSTableData& table, const TABSRecordID& id) {
    Bytes record = table.NewRecordBuffer();
    table.ReadRecord(kSession, id, record);
    Row row;
    row.id = table.FieldDefs().GetValue(record, kId).GetAsLargeInt();
    row.name = table.FieldDefs().GetValue(record, kName).GetAsString();
    auto stream = table.BlobManager()->OpenBlobStream(kSession, record, kNotes, TABSBlobOpenMode::Read);
    row.notes.resize(static_cast<std::size_t>(stream->Size()));
    if (!row.notes.empty()) {
        EXPECT_EQ(stream->Read(row.notes.data(), row.notes.size()), row.notes.size());
    }
    table.ReleaseRecordBuffer(record, false);
    return row;
}

std::vector<Row> AllRows(TABSTableData& table) {
    std::vector<Row> rows;
    for (auto id = table.FirstRecord(kSession); id; id = table.NextRecord(kSession, *id))
        rows.push_back(ReadRow(table, *id));
    return rows;
}

// Names in the order of the index IX_Name.
std::vector<std::string> NamesInIndexOrder(TABSPseudoTableData& table) {
    std::vector<std::string> names;
    TABSBTreeRecordIndex& index = table.IndexManager().IndexByName("IX_Name");
    TABSKeyPath path;
    for (bool ok = index.First(kSession, path); ok; ok = index.Next(kSession, path))
        names.push_back(ReadRow(table, index.RecordAt(kSession, path)).name);
    return names;
}

// ---------------------------------------------------------------------------------------------
// In-memory tables

class MemoryTableTest : public ::testing::Test {
protected:
    TABSMemoryManager memory;
    TABSMemoryDatabaseData database{memory};
    std::shared_ptr<TABSMemoryTableData> table = database.CreateTable("People", People());
};

TEST_F(MemoryTableTest, RecordsWithIndexesAndValuesRoundTrip) {
    Insert(*table, "Berta", Text(5000, 1));
    const TABSRecordID anna = Insert(*table, "Anna", "");
    Insert(*table, "Carl", Text(120000, 3));
    EXPECT_EQ(table->RecordCount(kSession), 3U);
    EXPECT_EQ(AllRows(*table), (std::vector<Row>{{1, "Berta", Text(5000, 1)}, {2, "Anna", ""}, {3, "Carl", Text(120000, 3)}}));
    EXPECT_EQ(NamesInIndexOrder(*table), (std::vector<std::string>{"Anna", "Berta", "Carl"}));
    EXPECT_EQ(table->RecordNumberOf(kSession, anna), 2U);
    EXPECT_EQ(table->RecordAtNumber(kSession, 3), (TABSRecordID{2, 0}));
    EXPECT_EQ(NativeErrorOf([&] { (void)table->RecordAtNumber(kSession, 4); }), kRecNoBeyondCountError);
    table->IndexManager().CheckIntegrity(kSession);
}

TEST_F(MemoryTableTest, UpdatesMoveIndexEntriesAndReplaceValues) {
    Insert(*table, "Anna", Text(3000, 1));
    const TABSRecordID id = Insert(*table, "Berta", Text(4000, 2));
    Bytes record = table->NewRecordBuffer();
    table->ReadRecord(kSession, id, record);
    TABSVariant value;
    value.SetAsString("Aaron");
    table->FieldDefs().SetValue(record, kName, value);
    auto stream = table->BlobManager()->OpenBlobStream(kSession, record, kNotes, TABSBlobOpenMode::Write);
    const std::string notes = Text(7000, 5);
    ASSERT_EQ(stream->Write(notes.data(), notes.size()), notes.size());
    table->BlobManager()->StoreBlobStream(kSession, record, *stream);
    table->UpdateRecord(kSession, id, record);
    table->ReleaseRecordBuffer(record, false);

    EXPECT_EQ(ReadRow(*table, id), (Row{2, "Aaron", notes}));
    EXPECT_EQ(NamesInIndexOrder(*table), (std::vector<std::string>{"Aaron", "Anna"}));
    EXPECT_EQ(static_cast<TABSMemoryBlobManager*>(table->BlobManager())->BlockCount(), 2U)
        << "the replaced value is gone, one value per record";
    table->IndexManager().CheckIntegrity(kSession);
}

TEST_F(MemoryTableTest, DuplicateKeysAreRefusedAndLeaveTableIndexesAndValuesUnchanged) {
    Insert(*table, "Anna", Text(100, 1));
    const std::int32_t changes = table->ChangeCounter(kSession);
    Bytes record = table->NewRecordBuffer();
    TABSVariant value;
    value.SetAsString("Anna");
    table->FieldDefs().SetValue(record, kName, value);
    auto stream = table->BlobManager()->OpenBlobStream(kSession, record, kNotes, TABSBlobOpenMode::Write);
    const std::string notes = Text(900, 2);
    ASSERT_EQ(stream->Write(notes.data(), notes.size()), notes.size());
    table->BlobManager()->StoreBlobStream(kSession, record, *stream);
    const Bytes before = record;
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(kSession, record); }, &message), 30320);
    EXPECT_EQ(message, "Constraint unique 'IX_Name' violated. Duplicate found.");
    EXPECT_EQ(record, before) << "the buffer is as the caller gave it";
    EXPECT_EQ(table->RecordCount(kSession), 1U);
    EXPECT_EQ(table->ChangeCounter(kSession), changes);
    EXPECT_EQ(table->NextAutoincValue(kSession, kId), 2) << "no counter was used up";

    // The unposted value is still there for a second try.
    value.SetAsString("Anne");
    table->FieldDefs().SetValue(record, kName, value);
    const TABSRecordID id = table->InsertRecord(kSession, record);
    table->ReleaseRecordBuffer(record, false);
    EXPECT_EQ(ReadRow(*table, id), (Row{2, "Anne", notes}));

    Bytes duplicateId = table->NewRecordBuffer();
    TABSVariant one;
    one.SetAsInteger(1);
    table->FieldDefs().SetValue(duplicateId, kId, one);
    value.SetAsString("Zoe");
    table->FieldDefs().SetValue(duplicateId, kName, value);
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(kSession, duplicateId); }, &message), 30319);
    EXPECT_EQ(message, "Primary Key constraint 'PK_People' violated. Duplicate found.");
    table->IndexManager().CheckIntegrity(kSession);
    EXPECT_EQ(NamesInIndexOrder(*table), (std::vector<std::string>{"Anna", "Anne"}));
}

TEST_F(MemoryTableTest, DeletesRemoveIndexEntriesAndFreeValues) {
    std::vector<TABSRecordID> ids;
    for (unsigned i = 0; i < 10; ++i)
        ids.push_back(Insert(*table, "N" + std::to_string(i), Text(500 + i, i + 1)));
    table->DeleteRecord(kSession, ids[3]);
    EXPECT_EQ(table->RecordNumberOf(kSession, ids[9]), 9U);
    EXPECT_EQ(table->RecordAtNumber(kSession, 4), ids[4]);
    EXPECT_EQ(static_cast<TABSMemoryBlobManager*>(table->BlobManager())->BlockCount(), 9U);
    EXPECT_EQ(table->IndexManager().IndexByName("IX_Name").EntryCount(kSession), 9U);
    EXPECT_EQ(NativeErrorOf([&] { table->DeleteRecord(kSession, ids[3]); }), kMemoryTableRecordError);
    Bytes record = table->NewRecordBuffer();
    EXPECT_EQ(NativeErrorOf([&] { table->ReadRecord(kSession, ids[3], record); }), kMemoryTableRecordError);

    table->EmptyTable(kSession);
    EXPECT_EQ(table->RecordCount(kSession), 0U);
    EXPECT_EQ(table->IndexManager().IndexByName("IX_Name").EntryCount(kSession), 0U);
    EXPECT_EQ(Insert(*table, "Neu", ""), (TABSRecordID{0, 0})) << "numbering starts again at 0";
    EXPECT_EQ(ReadRow(*table, {0, 0}).id, 11) << "auto-increment goes on";
}

TEST_F(MemoryTableTest, AnInsertRefusedByTheMemoryLimitLeavesNothingBehindAndCanBeRepeated) {
    for (unsigned i = 0; i < 1000; ++i)
        Insert(*table, "N" + std::to_string(i), "");
    Bytes record = table->NewRecordBuffer();
    TABSVariant value;
    value.SetAsString("Big");
    table->FieldDefs().SetValue(record, kName, value);
    auto stream = table->BlobManager()->OpenBlobStream(kSession, record, kNotes, TABSBlobOpenMode::Write);
    const std::string notes = Text(5000, 7);
    ASSERT_EQ(stream->Write(notes.data(), notes.size()), notes.size());
    table->BlobManager()->StoreBlobStream(kSession, record, *stream);
    const Bytes before = record;

    // The 1001st record needs a larger record array, which the limit does not allow.
    memory.SetMemoryLimit(memory.AllocatedTotal() + 1000);
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(kSession, record); }), kMemoryLimitExceededError);
    memory.SetMemoryLimit(0);
    EXPECT_EQ(record, before);
    EXPECT_EQ(table->RecordCount(kSession), 1000U);
    EXPECT_EQ(table->IndexManager().IndexByName("IX_Name").EntryCount(kSession), 1000U);
    table->IndexManager().CheckIntegrity(kSession);

    const TABSRecordID id = table->InsertRecord(kSession, record);
    table->ReleaseRecordBuffer(record, false);
    EXPECT_EQ(ReadRow(*table, id), (Row{1001, "Big", notes})) << "the value set before the failure was kept";
}

TEST_F(MemoryTableTest, OpeningDroppingAndRenaming) {
    EXPECT_EQ(NativeErrorOf([&] { (void)database.CreateTable("PEOPLE", People()); }), kPseudoTableExistsError);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)database.OpenTable(kSession, "Nobody"); }, &message), kPseudoTableMissingError);
    EXPECT_EQ(message, "Table 'Nobody' not exists.");
    {
        TABSTableHandle cursor = database.OpenTable(kSession, "people");
        EXPECT_EQ(&cursor.Table(), table.get());
        EXPECT_EQ(NativeErrorOf([&] { (void)database.OpenTable(kSession, "People", true); }), kPseudoTableExclusiveError);
        EXPECT_EQ(NativeErrorOf([&] { database.DropTable("People"); }, &message), kPseudoTableOpenOnDropError);
        EXPECT_EQ(message, "Cannot delete table 'People'. Table is open by another dataset");
        EXPECT_EQ(NativeErrorOf([&] { database.RenameTable("People", "Persons"); }), kPseudoTableOpenOnRenameError);
    }
    Insert(*table, "Anna", Text(100, 1));
    database.RenameTable("People", "Persons");
    EXPECT_FALSE(database.TableExists("People"));
    EXPECT_EQ(database.FindTable("PERSONS")->TableName(), "Persons");
    EXPECT_EQ(AllRows(*database.FindTable("Persons")).size(), 1U) << "the records go with the name";
    database.DropTable("Persons");
    EXPECT_TRUE(database.TableNames().empty());
    table.reset();
    EXPECT_EQ(memory.AllocatedTotal(), 0) << "records, pages and values are freed";
}

TEST_F(MemoryTableTest, ForcedDropAndShutDownFreeEverything) {
    Insert(*table, "Anna", Text(100, 1));
    TABSTableHandle cursor = database.OpenTable(kSession, "People");
    database.DropTable("People", true);
    EXPECT_FALSE(database.TableExists("People"));
    EXPECT_EQ(cursor->RecordCount(kSession), 0U) << "a cursor still holding the table sees it empty";
    cursor.Close();

    (void)database.CreateTable("A", People());
    (void)database.CreateTable("B", People(false));
    Insert(*database.FindTable("A"), "x", Text(10, 1));
    database.DropAllTables();
    EXPECT_TRUE(database.TableNames().empty());
    table.reset();
    EXPECT_EQ(memory.AllocatedTotal(), 0);
}

TEST(MemoryDatabaseTest, DefinitionsTheTablesCannotTakeAreRefused) {
    TABSMemoryDatabaseData database;
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)database.CreateTable("Empty", {}); }, &message), kMemoryTableNoFieldsError);
    EXPECT_EQ(message, "Error creating table - no fields were specified");

    TABSTableDefinition badBlob = People(false);
    badBlob.Fields[kNotes].BlobBlockSize = 0;
    EXPECT_EQ(NativeErrorOf([&] { (void)database.CreateTable("B", badBlob); }), kBlobBlockSizeError);

    // A constraint kind that in-memory tables do not take.
    struct OtherKind final : TABSConstraintDefNotNull {
        TABSConstraintKind Kind() const noexcept override { return static_cast<TABSConstraintKind>(1); }
        std::unique_ptr<TABSConstraintDef> Clone() const override { return std::make_unique<OtherKind>(*this); }
    };
    TABSTableDefinition other = People(false);
    auto constraint = std::make_unique<OtherKind>();
    constraint->Name = "FK";
    other.Constraints.AddLoaded(std::move(constraint));
    EXPECT_EQ(NativeErrorOf([&] { (void)database.CreateTable("C", other); }, &message), kUnsupportedConstraintError);
    EXPECT_EQ(message, "Not implemented yet");
    EXPECT_TRUE(database.TableNames().empty());
}

TEST(MemoryDatabaseTest, NotNullAndCheckConstraintsAreKept) {
    TABSMemoryDatabaseData database;
    TABSTableDefinition definition = People(false);
    auto notNull = std::make_unique<TABSConstraintDefNotNull>();
    notNull->SetFieldName("Name");
    definition.Constraints.AddLoaded(std::move(notNull));
    auto table = database.CreateTable("T", std::move(definition));
    ASSERT_EQ(table->ConstraintDefs().Count(), 1U);
    EXPECT_EQ(table->ConstraintDefs()[0].Name, "$C_NotNull$T$Name");
    Bytes record = table->NewRecordBuffer();
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(kSession, record); }, &message), 30330);
    EXPECT_EQ(table->RecordCount(kSession), 0U);
}

// ---------------------------------------------------------------------------------------------
// Temporary tables

TEST(TemporaryTableTest, ATableSpillingPastItsMemoryBudgetReadsBackIntact) {
    TABSTemporaryDatabaseData database;
    // 2 MB available: records beyond 200 KB and index pages beyond 48 pages go to files.
    auto table = database.CreateTable("", People(), false, 2000000);
    EXPECT_EQ(table->TableName().rfind("TEMP_TABLE_", 0), 0U);
    const std::int64_t budget = table->TemporaryRecords().MemoryRecordLimit();
    EXPECT_EQ(budget, static_cast<std::int64_t>(200000 / table->RecordBufferSize()));

    std::vector<Row> expected;
    std::mt19937 generator(4);
    for (int i = 0; i < 6000; ++i) {
        // Digits of one width sort the same by collation and by bytes.
        char name[24];
        std::snprintf(name, sizeof name, "P%010u%05d", static_cast<unsigned>(generator()), i);
        const std::string notes = i % 10 == 0 ? Text(3000 + static_cast<std::size_t>(i), static_cast<unsigned>(i % 7 + 1)) : "";
        Insert(*table, name, notes);
        expected.push_back({i + 1, name, notes});
    }
    EXPECT_TRUE(table->TemporaryRecords().HasFile());
    EXPECT_TRUE(static_cast<TABSTemporaryPageManager&>(table->PageManager()).HasFile());
    EXPECT_EQ(AllRows(*table), expected);

    table->IndexManager().CheckIntegrity(kSession);
    std::vector<std::string> sorted;
    for (const Row& row : expected)
        sorted.push_back(row.name);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(NamesInIndexOrder(*table), sorted);
    database.DropTable(table->TableName());
}

TEST(TemporaryTableTest, AMemoryOnlyTableUsesNoFiles) {
    TABSTemporaryDatabaseData database;
    auto table = database.CreateTable("R", People(), true, 200000);
    for (int i = 0; i < 3000; ++i)
        Insert(*table, "N" + std::to_string(i), i % 100 == 0 ? Text(2000, 3) : "");
    EXPECT_FALSE(table->TemporaryRecords().HasFile());
    EXPECT_FALSE(static_cast<TABSTemporaryPageManager&>(table->PageManager()).HasFile());
    EXPECT_EQ(ReadRow(*table, TABSTemporaryRecordManager::IDOf(2900)), (Row{2901, "N2900", Text(2000, 3)}));
}

TEST(TemporaryTableTest, UpdatesAndDeletesFailAndLeaveTheTableUnchanged) {
    TABSTemporaryDatabaseData database;
    auto table = database.CreateTable("R", People(), true);
    const TABSRecordID id = Insert(*table, "Anna", Text(10, 1));
    Bytes record = table->NewRecordBuffer();
    table->ReadRecord(kSession, id, record);
    TABSVariant value;
    value.SetAsString("Berta");
    table->FieldDefs().SetValue(record, kName, value);
    try {
        table->UpdateRecord(kSession, id, record);
        ADD_FAILURE() << "an update of a temporary table must fail";
    } catch (const EABSEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), -9);
        EXPECT_STREQ(e.what(), "Database Engine Error # -9 Cannot update record in temporary mode");
    }
    try {
        table->DeleteRecord(kSession, id);
        ADD_FAILURE() << "a delete of a temporary table must fail";
    } catch (const EABSEngineError& e) {
        EXPECT_EQ(e.ErrorCode(), -10);
    }
    EXPECT_EQ(AllRows(*table), (std::vector<Row>{{1, "Anna", Text(10, 1)}}));
    EXPECT_EQ(table->ChangeCounter(kSession), 1);
}

TEST(TemporaryTableTest, ADuplicateKeyTakesTheRecordBack) {
    TABSTemporaryDatabaseData database;
    auto table = database.CreateTable("R", People(), false, 10 * 1000 * 100);
    Insert(*table, "Anna", "");
    Bytes record = table->NewRecordBuffer();
    TABSVariant value;
    value.SetAsString("Anna");
    table->FieldDefs().SetValue(record, kName, value);
    EXPECT_EQ(NativeErrorOf([&] { (void)table->InsertRecord(kSession, record); }), 30320);
    EXPECT_EQ(table->RecordCount(kSession), 1U);
    EXPECT_EQ(Insert(*table, "Berta", ""), TABSTemporaryRecordManager::IDOf(1));
}

TEST(TemporaryDatabaseTest, NoFieldsIsItsOwnError) {
    TABSTemporaryDatabaseData database;
    EXPECT_EQ(NativeErrorOf([&] { (void)database.CreateTable("X", {}, true); }), kTemporaryTableNoFieldsError);
}

TEST(PseudoDatabaseTest, BothExistWithTheirNamesAndSessionZero) {
    EXPECT_EQ(MemoryDatabase().FileName(), "MEMORY");
    EXPECT_EQ(TemporaryDatabase().FileName(), "TEMP");
    EXPECT_EQ(MemoryDatabase().ConnectSession().SessionID, 0);
    EXPECT_EQ(TemporaryDatabase().ConnectSession().SessionID, 0);
    const std::int32_t first = MemoryDatabase().NextObjectID();
    EXPECT_EQ(MemoryDatabase().NextObjectID(), first + 1);
    (void)MemoryDatabase().CreateTable("ShutdownProbe", People());
    ShutdownPseudoDatabases();
    EXPECT_FALSE(MemoryDatabase().TableExists("ShutdownProbe"));
}

} // namespace
} // namespace kova
