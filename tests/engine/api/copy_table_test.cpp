// The table dataset's whole-table operations on real database files: CopyTable into the same
// file, into MEMORY and into another file, with its failures raised or logged; progress through
// the events or the wait window, and a stop; RestructureTable keeping values by field id and
// putting the old table back when the rebuild fails.
#include "api_test_support.h"

#include "engine/api/ABSMain.h"
#include "engine/sql/ABSTableAccess.h"
#include "engine/storage/ABSPseudoDatabases.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>

namespace kova {
namespace {

using apitest::HookScope;
using apitest::MessageOf;
using apitest::NativeErrorOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kPassword[] = "quorbel";

// Fixes the random numbers of generated names for one test.
class RandomScope {
public:
    explicit RandomScope(std::uint32_t value) {
        TABSTableAccess::SetRandomSource([value] { return value; });
    }
    ~RandomScope() { TABSTableAccess::SetRandomSource({}); }
    RandomScope(const RandomScope&) = delete;
    RandomScope& operator=(const RandomScope&) = delete;
};

class CopyTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        apitest::MakeDatabaseFile(file_, kPassword);
        db_.SetDatabaseName("MyDB");
        db_.SetPassword(kPassword);
        db_.SetDatabaseFileName(file_);
    }
    void TearDown() override {
        db_.Close();
        for (const std::string& name : MemoryDatabase().TableNames()) {
            try {
                MemoryDatabase().DropTable(name, true);
            } catch (...) {
            }
        }
        TABSSessionList::Instance().DefaultSession().SetActive(false);
    }

    void Configure(TABSTable& table, const std::string& name, const std::string& database = "MyDB") {
        table.SetDatabaseName(database);
        table.SetTableName(name);
    }

    void Exec(const std::string& sql) {
        TABSQuery query;
        query.SetDatabaseName("MyDB");
        query.SetSQLText(sql);
        query.ExecSQL();
    }

    // People(ID Integer, Name String(20), Born String(10)) with rows (i, "P<i>", "<1980+i>") and an
    // index on Name.
    void MakePeople(int rows, const std::string& database = "MyDB") {
        TABSTable table;
        Configure(table, "People", database);
        table.FieldDefs().Add(TABSFieldDef("ID", TABSColumnType::actInteger));
        table.FieldDefs().Add(TABSFieldDef("Name", TABSColumnType::actString, 20));
        table.FieldDefs().Add(TABSFieldDef("Born", TABSColumnType::actString, 10));
        table.IndexDefs().Add(TABSIndexDef("byName", 0, {TABSIndexColumn{"Name"}}));
        table.CreateTable();
        table.Open();
        for (int i = 1; i <= rows; ++i) {
            table.Append();
            table.FieldByName("ID").SetAsInteger(i);
            table.FieldByName("Name").SetAsString("P" + std::to_string(i));
            table.FieldByName("Born").SetAsString(std::to_string(1980 + i));
            table.Post();
        }
        table.Close();
    }

    static std::vector<std::string> Column(TABSDataSet& data, const std::string& field) {
        std::vector<std::string> values;
        for (data.First(); !data.Eof(); data.Next()) values.push_back(data.FieldByName(field).AsString());
        return values;
    }
    std::vector<std::string> ColumnOf(const std::string& table, const std::string& field,
                                      const std::string& database = "MyDB") {
        TABSTable reader;
        Configure(reader, table, database);
        reader.Open();
        return Column(reader, field);
    }
    bool Exists(const std::string& table, const std::string& database = "MyDB") {
        TABSTable probe;
        Configure(probe, table, database);
        return probe.Exists();
    }

    apitest::ScratchDirectory dir_;
    std::string file_ = dir_.File("copy.abs");
    TABSDatabase db_;
};

// ---------------------------------------------------------------------------------------------
// CopyTable

TEST_F(CopyTableTest, CopyWithinTheFileTakesRowsAndIndexesWhenAsked) {
    MakePeople(3);
    struct Case {
        std::string name;
        bool copyIndexes;
        bool hasIndex;
    };
    for (const Case& c : {Case{"WithIndexes", true, true}, Case{"Plain", false, false}}) {
        SCOPED_TRACE(c.name);
        TABSTable people;
        Configure(people, "People");
        std::string log;
        bool continueCopy = true;
        EXPECT_TRUE(people.CopyTable(c.name, log, 100, 0, c.copyIndexes, false, false, "", "", continueCopy));
        EXPECT_EQ(log, "");
        EXPECT_FALSE(people.Active()) << "a closed table stays closed";

        TABSTable copy;
        Configure(copy, c.name);
        copy.Open();
        EXPECT_THAT(Column(copy, "Name"), ElementsAre("P1", "P2", "P3"));
        EXPECT_THAT(Column(copy, "Born"), ElementsAre("1981", "1982", "1983"));
        EXPECT_EQ(copy.IndexDefs().Find("byName") != nullptr, c.hasIndex);
    }
}

TEST_F(CopyTableTest, CopyIntoItselfIsRefused) {
    MakePeople(2);
    struct Case {
        std::string newName;
        std::string destination;
    };
    const std::vector<Case> cases = {{"People", ""}, {"PEOPLE", ""}, {"people", file_}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newName + " " + c.destination);
        TABSTable people;
        Configure(people, "People");
        std::string log;
        bool continueCopy = true;
        const std::string message = MessageOf([&] {
            (void)people.CopyTable(c.newName, log, 100, 0, true, true, false, c.destination, kPassword, continueCopy);
        });
        EXPECT_EQ(message, "Cannot copy table '" + file_ + ".People' into it self - Native error: 30447");

        // With errors ignored the same message is the log's one line.
        EXPECT_FALSE(people.CopyTable(c.newName, log, 100, 0, true, true, true, c.destination, kPassword, continueCopy));
        EXPECT_EQ(log, "Cannot copy table '" + file_ + ".People' into it self\r\n");
        EXPECT_THAT(ColumnOf("People", "ID"), ElementsAre("1", "2")) << "the table is untouched";
    }
}

TEST_F(CopyTableTest, ExistingTargetFailsUnlessOverwritten) {
    MakePeople(2);
    TABSTable people;
    Configure(people, "People");
    std::string log;
    bool continueCopy = true;
    ASSERT_TRUE(people.CopyTable("Copy", log, 100, 0, true, false, false, "", "", continueCopy));
    Exec("DELETE FROM Copy WHERE ID = 1");

    struct Case {
        std::string destination;
        int code;
        std::string where;
    };
    // The copy into MEMORY needs a table there first.
    ASSERT_TRUE(people.CopyTable("Copy", log, 100, 0, true, false, false, "MEMORY", "", continueCopy));
    const std::vector<Case> cases = {{"", 30448, file_}, {"MEMORY", 10515, "MEMORY"}, {"memory", 10515, "MEMORY"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination);
        EXPECT_EQ(NativeErrorOf([&] {
                      (void)people.CopyTable("Copy", log, 100, 0, true, false, false, c.destination, "", continueCopy);
                  }),
                  c.code);
        std::string ignored;
        EXPECT_FALSE(people.CopyTable("copy", ignored, 100, 0, true, false, true, c.destination, "", continueCopy));
        EXPECT_EQ(ignored, "Table '" + c.where + ".copy' already exists\r\n");
    }
    EXPECT_THAT(ColumnOf("Copy", "ID"), ElementsAre("2"));

    // Overwrite replaces the table, rows and all.
    EXPECT_TRUE(people.CopyTable("Copy", log, 100, 0, true, true, false, "", "", continueCopy));
    EXPECT_THAT(ColumnOf("Copy", "ID"), ElementsAre("1", "2"));
}

TEST_F(CopyTableTest, CopyIntoAnotherFileWithItsPassword) {
    MakePeople(3);
    const std::string other = dir_.File("other.abs");
    apitest::MakeDatabaseFile(other, "secret");
    TABSTable people;
    Configure(people, "People");
    std::string log;
    bool continueCopy = true;
    EXPECT_TRUE(people.CopyTable("People", log, 100, 0, true, false, false, other, "secret", continueCopy));
    EXPECT_EQ(log, "");

    TABSDatabase otherDb;
    otherDb.SetDatabaseName("Other");
    otherDb.SetDatabaseFileName(other);
    otherDb.SetPassword("secret");
    EXPECT_THAT(ColumnOf("People", "Name", "Other"), ElementsAre("P1", "P2", "P3"));
    TABSTable copied;
    Configure(copied, "People", "Other");
    copied.Open();
    EXPECT_NE(copied.IndexDefs().Find("byName"), nullptr);
    copied.Close();
    otherDb.Close();

    // The temporary connection is gone again: no database of the session names the other file.
    for (const TABSDatabase* database : TABSSessionList::Instance().DefaultSession().Databases()) {
        EXPECT_THAT(database->DatabaseName(), ::testing::Not(StartsWith("TempDb")));
    }
}

TEST_F(CopyTableTest, DestinationThatCannotBeConnected) {
    MakePeople(1);
    const std::string other = dir_.File("locked.abs");
    apitest::MakeDatabaseFile(other, "secret");
    TABSTable people;
    Configure(people, "People");
    bool continueCopy = true;
    std::string log;
    EXPECT_EQ(NativeErrorOf([&] {
                  (void)people.CopyTable("X", log, 100, 0, true, false, false, other, "wrong", continueCopy);
              }),
              30445);
    EXPECT_EQ(log, "");

    // Ignoring errors, the creation of the table reports the reason.
    EXPECT_FALSE(people.CopyTable("X", log, 100, 0, true, false, true, other, "wrong", continueCopy));
    EXPECT_THAT(log, StartsWith("Create table '" + other + ".X' error: 'Cannot open database because incorrect "
                                "password"));
    EXPECT_EQ(log.substr(log.size() - 3), "'\r\n");
}

TEST_F(CopyTableTest, CopyIntoMemoryKeepsTheValues) {
    MakePeople(4);
    TABSTable people;
    Configure(people, "People");
    std::string log;
    bool continueCopy = true;
    ASSERT_TRUE(people.CopyTable("MemPeople", log, 100, 0, false, false, false, "MEMORY", "", continueCopy));
    EXPECT_THAT(ColumnOf("MemPeople", "Born", "MEMORY"), ElementsAre("1981", "1982", "1983", "1984"));
    EXPECT_FALSE(Exists("MemPeople")) << "nothing was made in the file";

    // A MEMORY table copied to MEMORY under its own name is the table itself.
    TABSTable memory;
    Configure(memory, "MemPeople", "MEMORY");
    EXPECT_EQ(NativeErrorOf([&] {
                  (void)memory.CopyTable("MEMPEOPLE", log, 100, 0, true, true, false, "MEMORY", "", continueCopy);
              }),
              30447);
}

TEST_F(CopyTableTest, OpenTableIsBackOnItsRowAfterTheCopy) {
    MakePeople(5);
    TABSTable people;
    Configure(people, "People");
    people.Open();
    people.Next();
    people.Next();
    ASSERT_EQ(people.FieldByName("ID").AsInteger(), 3);
    std::string log;
    bool continueCopy = true;
    ASSERT_TRUE(people.CopyTable("Copy", log, 100, 0, true, false, false, "", "", continueCopy));
    EXPECT_TRUE(people.Active());
    EXPECT_EQ(people.FieldByName("ID").AsInteger(), 3);
    EXPECT_EQ(ColumnOf("Copy", "ID").size(), 5u);
}

TEST_F(CopyTableTest, ProgressOverAThousandRowsAndTheEvents) {
    MakePeople(1000);
    TABSTable people;
    Configure(people, "People");
    std::vector<std::string> calls;
    std::vector<int> positions;
    people.TableEvents().BeforeCopy = [&](TABSTable&) { calls.push_back("before"); };
    people.TableEvents().OnCopyProgress = [&](TABSTable&, int position, bool&) { positions.push_back(position); };
    people.TableEvents().AfterCopy = [&](TABSTable&) { calls.push_back("after"); };
    bool waitShown = false;
    TABSHostHooks hooks;
    hooks.BeginWait = [&](const std::string&) { waitShown = true; };
    HookScope scope(std::move(hooks));

    std::string log;
    bool continueCopy = true;
    ASSERT_TRUE(people.CopyTable("Copy", log, 100, 0, true, false, false, "", "", continueCopy));
    EXPECT_THAT(calls, ElementsAre("before", "after"));
    EXPECT_FALSE(waitShown) << "a BeforeCopy handler replaces the wait window";
    // A report after rows 1, 12, 23, ... (every 1000 / 100 + 1 = 11th row) at rows × 100 / 1000.
    ASSERT_EQ(positions.size(), 91u);
    EXPECT_EQ(positions[0], 0);
    EXPECT_EQ(positions[1], 1);
    EXPECT_EQ(positions[2], 2);
    EXPECT_EQ(positions[5], 6);
    EXPECT_EQ(positions[90], 99);
}

TEST_F(CopyTableTest, StopThroughTheProgressEvent) {
    MakePeople(100);
    TABSTable people;
    Configure(people, "People");
    int reports = 0;
    people.TableEvents().BeforeCopy = [](TABSTable&) {};
    people.TableEvents().OnCopyProgress = [&](TABSTable&, int, bool& continueFlag) {
        if (++reports == 3) continueFlag = false;
    };
    std::string log;
    bool continueCopy = true;
    EXPECT_FALSE(people.CopyTable("Copy", log, 10, 0, true, false, true, "", "", continueCopy));
    EXPECT_FALSE(continueCopy);
    EXPECT_EQ(log, "Terminated by User.\r\n");
    EXPECT_EQ(ColumnOf("Copy", "ID").size(), 23u) << "rows 1, 12 and 23 reported; the copy stopped after the third";
}

TEST_F(CopyTableTest, WaitWindowUnlessSilent) {
    MakePeople(3);
    struct Case {
        bool silent;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {false, {"begin Copy Table...", "0", "33", "67", "100", "end"}},
        {true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.silent);
        db_.SetSilentMode(c.silent);
        std::vector<std::string> calls;
        TABSHostHooks hooks;
        hooks.BeginWait = [&](const std::string& message) { calls.push_back("begin " + message); };
        hooks.WaitProgress = [&](int percent) {
            calls.push_back(std::to_string(percent));
            return true;
        };
        hooks.EndWait = [&] { calls.push_back("end"); };
        HookScope scope(std::move(hooks));
        TABSTable people;
        Configure(people, "People");
        std::string log;
        bool continueCopy = true;
        EXPECT_TRUE(people.CopyTable("Copy", log, 100, 0, true, true, false, "", "", continueCopy));
        EXPECT_EQ(calls, c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// RestructureTable

TEST_F(CopyTableTest, RestructureMatchesFieldsByTheirId) {
    MakePeople(3);
    TABSTable people;
    Configure(people, "People");
    people.Open();
    people.Close();
    const std::int32_t nameId = people.FieldDefs()[1].ObjectID;
    const std::int32_t bornId = people.FieldDefs()[2].ObjectID;

    // Name renamed, Born turned into an Integer, ID dropped, a new field at the end.
    TABSFieldDefs fields;
    TABSFieldDef fullName("FullName", TABSColumnType::actString, 30);
    fullName.ObjectID = nameId;
    fields.Add(std::move(fullName));
    TABSFieldDef born("Born", TABSColumnType::actInteger);
    born.ObjectID = bornId;
    fields.Add(std::move(born));
    fields.Add(TABSFieldDef("Club", TABSColumnType::actString, 10));
    people.FieldDefs() = fields;
    people.IndexDefs().Clear();
    people.IndexDefs().Add(TABSIndexDef("byFullName", 0, {TABSIndexColumn{"FullName"}}));

    std::string log;
    ASSERT_TRUE(people.RestructureTable(log)) << log;
    EXPECT_EQ(log, "");
    ASSERT_EQ(people.FieldDefs().Count(), 3u);
    EXPECT_EQ(people.FieldDefs()[1].ColumnType, TABSColumnType::actInteger);
    EXPECT_NE(people.IndexDefs().Find("byFullName"), nullptr);

    people.Open();
    EXPECT_THAT(Column(people, "FullName"), ElementsAre("P1", "P2", "P3"));
    EXPECT_THAT(Column(people, "Born"), ElementsAre("1981", "1982", "1983"));
    EXPECT_THAT(Column(people, "Club"), ElementsAre("", "", ""));
    EXPECT_EQ(people.FindField("ID"), nullptr);
}

TEST_F(CopyTableTest, NewFieldNeverTakesTheValuesOfADroppedOne) {
    MakePeople(2);
    TABSTable people;
    Configure(people, "People");
    people.Open();
    people.Close();
    // Born (the field with the highest id) goes; a new field comes in the same rebuild.
    TABSFieldDefs fields;
    fields.Add(people.FieldDefs()[0]);
    fields.Add(people.FieldDefs()[1]);
    fields.Add(TABSFieldDef("Born2", TABSColumnType::actString, 10));
    people.FieldDefs() = fields;
    std::string log;
    ASSERT_TRUE(people.RestructureTable(log)) << log;
    EXPECT_THAT(ColumnOf("People", "Born2"), ElementsAre("", ""));
    EXPECT_THAT(ColumnOf("People", "Name"), ElementsAre("P1", "P2"));
}

TEST_F(CopyTableTest, FailedRestructurePutsTheOldTableBack) {
    MakePeople(3);
    Exec("UPDATE People SET Born='later' WHERE ID=2");
    RandomScope random(42);
    TABSTable people;
    Configure(people, "People");
    people.Open();
    people.Close();
    people.FieldDefs()[2] = [&] {
        TABSFieldDef born("Born", TABSColumnType::actInteger);
        born.ObjectID = people.FieldDefs()[2].ObjectID;
        return born;
    }();
    people.FieldDefs().ComputeLayout();
    bool asideDuringCopy = false;
    people.TableEvents().BeforeRestructure = [&](TABSTable&) { asideDuringCopy = Exists("OLD_People_42"); };

    std::string log;
    EXPECT_FALSE(people.RestructureTable(log));
    EXPECT_TRUE(asideDuringCopy) << "the old table waits under its temporary name during the copy";
    EXPECT_THAT(log, StartsWith("Error restructuring table. Cannot copy data due to error: "));
    EXPECT_FALSE(Exists("OLD_People_42"));
    ASSERT_EQ(people.FieldDefs().Count(), 3u);
    EXPECT_EQ(people.FieldDefs()[2].ColumnType, TABSColumnType::actString) << "the definitions read back";
    EXPECT_THAT(ColumnOf("People", "Born"), ElementsAre("1981", "later", "1983"));
    EXPECT_THAT(ColumnOf("People", "Name"), ElementsAre("P1", "P2", "P3"));
}

TEST_F(CopyTableTest, RestructureThatCannotCreateTheTable) {
    MakePeople(2);
    TABSTable people;
    Configure(people, "People");
    people.Open();
    people.Close();
    people.FieldDefs().Clear();
    std::string log;
    EXPECT_FALSE(people.RestructureTable(log));
    EXPECT_THAT(log, StartsWith("Error restructuring table. Cannot create table due to error: Error creating table - "
                                "no fields were specified"));
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_THAT(ColumnOf("People", "ID"), ElementsAre("1", "2"));
    EXPECT_EQ(people.FieldDefs().Count(), 3u);
}

TEST_F(CopyTableTest, RestructureRefusedInATransactionAndOnAnOpenTable) {
    MakePeople(1);
    TABSTable people;
    Configure(people, "People");
    people.Open();
    std::string log;
    EXPECT_EQ(MessageOf([&] { (void)people.RestructureTable(log); }), "Cannot perform this operation on an open dataset");
    people.Close();

    db_.SetKeepConnection(true);
    db_.Open();
    Exec("START TRANSACTION");
    EXPECT_EQ(MessageOf([&] { (void)people.RestructureTable(log); }),
              "Cannot perform 'RestructureTable' operation on a database in transaction - Native error: 20180");
    Exec("ROLLBACK");
    EXPECT_EQ(log, "");
    EXPECT_THAT(ColumnOf("People", "ID"), ElementsAre("1"));
}

TEST_F(CopyTableTest, AbortInTheWaitWindowEndsARebuildAndKeepsTheTable) {
    MakePeople(50);
    int reports = 0;
    TABSHostHooks hooks;
    hooks.BeginWait = [](const std::string&) {};
    hooks.WaitProgress = [&](int) { return ++reports < 4; };  // Abort pressed at the fourth report
    hooks.EndWait = [] {};
    HookScope scope(std::move(hooks));

    TABSTable people;
    Configure(people, "People");
    people.Open();
    people.Close();
    people.FieldDefs().Add(TABSFieldDef("Club", TABSColumnType::actString, 10));
    std::string log;
    EXPECT_FALSE(people.RestructureTable(log));
    EXPECT_EQ(log, "Terminated by User.\r\n");
    EXPECT_EQ(people.FieldDefs().Count(), 3u);
    EXPECT_EQ(ColumnOf("People", "ID").size(), 50u);
}

TEST_F(CopyTableTest, ConstraintsFollowTheirFields) {
    Exec("CREATE TABLE Strict (ID Integer, Name String(10) NOT NULL)");
    Exec("INSERT INTO Strict VALUES (1, 'a')");
    TABSTable strict;
    Configure(strict, "Strict");
    strict.Open();
    strict.Close();
    strict.FieldDefs()[1].Name = "Label";  // same id: the not-null mark goes with it
    strict.FieldDefs().Add(TABSFieldDef("Extra", TABSColumnType::actInteger));
    std::string log;
    ASSERT_TRUE(strict.RestructureTable(log)) << log;
    EXPECT_EQ(NativeErrorOf([&] { Exec("INSERT INTO Strict (ID) VALUES (2)"); }), 30330);

    bool continueCopy = true;
    ASSERT_TRUE(strict.CopyTable("StrictCopy", log, 100, 0, true, false, false, "", "", continueCopy));
    EXPECT_EQ(NativeErrorOf([&] { Exec("INSERT INTO StrictCopy (ID) VALUES (2)"); }), 30330);
    EXPECT_THAT(ColumnOf("StrictCopy", "Label"), ElementsAre("a"));
}

} // namespace
} // namespace kova
