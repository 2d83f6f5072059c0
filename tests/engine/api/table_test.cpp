// The table dataset on a real database file: creating a table, editing through field objects,
// orders, filters, the edit-state rules and their errors, and importing another dataset's rows.
#include "api_test_support.h"

#include "engine/api/ABSMain.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

namespace kova {
namespace {

using apitest::HookScope;
using apitest::MessageOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kPassword[] = "quorbel";

class TableDataSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        apitest::MakeDatabaseFile(file_, kPassword);
        db_.SetName("ABSDB");
        db_.SetDatabaseName("MyDB");
        db_.SetPassword(kPassword);
        db_.SetDatabaseFileName(file_);
    }
    void TearDown() override {
        db_.Close();
        TABSSessionList::Instance().DefaultSession().SetActive(false);
    }

    void Configure(TABSTable& table, const std::string& name) {
        table.SetDatabaseName("MyDB");
        table.SetTableName(name);
    }

    // People(ID, Name, Score default 1.5) with an index on Name, rows given as (id, name, score).
    void MakePeople(const std::vector<std::tuple<int, std::string, double>>& rows) {
        TABSTable table;
        Configure(table, "People");
        table.FieldDefs().Add(TABSFieldDef("ID", TABSColumnType::actInteger));
        table.FieldDefs().Add(TABSFieldDef("Name", TABSColumnType::actString, 20));
        TABSFieldDef score("Score", TABSColumnType::actDouble);
        score.DefaultValue.SetAsDouble(1.5);
        table.FieldDefs().Add(std::move(score));
        table.IndexDefs().Add(TABSIndexDef("byName", 0, {TABSIndexColumn{"Name"}}));
        table.CreateTable();
        table.Open();
        for (const auto& [id, name, value] : rows) {
            table.Append();
            table.FieldByName("id").SetAsInteger(id);
            table.FieldByName("NAME").SetAsString(name);
            table.FieldByName("Score").SetAsFloat(value);
            table.Post();
        }
        table.Close();
    }

    static std::vector<std::string> Column(TABSDataSet& data, const std::string& field) {
        std::vector<std::string> values;
        for (data.First(); !data.Eof(); data.Next()) values.push_back(data.FieldByName(field).AsString());
        return values;
    }

    apitest::ScratchDirectory dir_;
    std::string file_ = dir_.File("tables.abs");
    TABSDatabase db_;
};

TEST_F(TableDataSetTest, CreateFillAndReopenTheTable) {
    TABSTable table;
    Configure(table, "People");
    EXPECT_FALSE(table.Exists());
    MakePeople({{1, "Carl", 3}, {2, "Anna", 1}, {3, "Bert", 2}});
    EXPECT_TRUE(table.Exists());

    table.Open();
    EXPECT_EQ(table.RecordCount(), 3);
    EXPECT_THAT(Column(table, "Name"), ElementsAre("Carl", "Anna", "Bert"));
    ASSERT_EQ(table.FieldDefs().Count(), 3u);
    EXPECT_EQ(table.FieldDefs()[1].Size, 20);
    ASSERT_NE(table.IndexDefs().Find("byName"), nullptr);

    // A new row carries the field defaults until they are set.
    table.Append();
    EXPECT_EQ(table.State(), TDataSetState::dsInsert);
    EXPECT_EQ(table.FieldByName("Score").AsFloat(), 1.5);
    table.FieldByName("ID").SetAsInteger(4);
    table.FieldByName("Name").SetAsString("Dora");
    table.Post();
    EXPECT_EQ(table.FieldByName("Name").AsString(), "Dora");
    table.Close();

    table.Open();
    EXPECT_THAT(Column(table, "Score"), ElementsAre("3", "1", "2", "1.5"));
    EXPECT_EQ(MessageOf([&] { table.DeleteTable(); }), "Cannot perform this operation on an open dataset");
    table.Close();
    table.DeleteTable();
    EXPECT_FALSE(table.Exists());
}

TEST_F(TableDataSetTest, IndexNameAndIndexFieldNamesOrderTheRows) {
    MakePeople({{1, "Carl", 3}, {2, "Anna", 1}, {3, "Bert", 2}, {4, "Anna", 5}});
    TABSTable table;
    Configure(table, "People");
    table.SetIndexName("byName");
    table.Open();
    EXPECT_THAT(Column(table, "ID"), ElementsAre("2", "4", "3", "1"));
    table.SetIndexFieldNames("Score");
    EXPECT_TRUE(table.IndexName().empty());
    EXPECT_THAT(Column(table, "ID"), ElementsAre("2", "3", "1", "4"));
    table.SetIndexFieldNames("Name; Score");
    EXPECT_THAT(Column(table, "ID"), ElementsAre("2", "4", "3", "1"));
    table.SetIndexFieldNames("");
    EXPECT_THAT(Column(table, "ID"), ElementsAre("1", "2", "3", "4"));
    EXPECT_THROW(table.SetIndexName("missing"), EABSException);
}

TEST_F(TableDataSetTest, EditPostCancelAndDeleteWithTheirEvents) {
    MakePeople({{1, "Carl", 3}, {2, "Anna", 1}, {3, "Bert", 2}});
    TABSTable table;
    Configure(table, "People");
    std::vector<std::string> events;
    auto record = [&](const char* name) { return [&events, name](TABSDataSet&) { events.push_back(name); }; };
    table.Events().BeforeEdit = record("BeforeEdit");
    table.Events().AfterEdit = record("AfterEdit");
    table.Events().BeforePost = record("BeforePost");
    table.Events().AfterPost = record("AfterPost");
    table.Events().BeforeCancel = record("BeforeCancel");
    table.Events().AfterCancel = record("AfterCancel");
    table.Events().BeforeInsert = record("BeforeInsert");
    table.Events().OnNewRecord = [&](TABSDataSet& data) {
        events.push_back("OnNewRecord");
        data.FieldByName("Name").SetAsString("fresh");
    };
    table.Events().AfterInsert = record("AfterInsert");
    table.Events().BeforeDelete = record("BeforeDelete");
    table.Events().AfterDelete = record("AfterDelete");
    table.Open();

    table.Edit();
    table.FieldByName("Name").SetAsString("Carla");
    table.Post();
    table.Next();
    table.Edit();
    table.FieldByName("Name").SetAsString("ignored");
    table.Cancel();
    EXPECT_EQ(table.FieldByName("Name").AsString(), "Anna");
    table.Delete();
    EXPECT_EQ(table.FieldByName("Name").AsString(), "Bert") << "the following row becomes current";
    table.Append();
    EXPECT_EQ(table.FieldByName("Name").AsString(), "fresh");
    table.Cancel();
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost", "BeforeEdit",
                                                "AfterEdit", "BeforeCancel", "AfterCancel", "BeforeDelete",
                                                "AfterDelete", "BeforeInsert", "OnNewRecord", "AfterInsert",
                                                "BeforeCancel", "AfterCancel"}));

    // A move posts a pending change; Close drops one.
    table.First();
    table.Edit();
    table.FieldByName("Score").SetAsFloat(9);
    table.Next();
    table.Append();
    table.FieldByName("ID").SetAsInteger(99);
    table.Close();
    table.Open();
    EXPECT_THAT(Column(table, "Name"), ElementsAre("Carla", "Bert"));
    EXPECT_THAT(Column(table, "Score"), ElementsAre("9", "2"));
}

TEST_F(TableDataSetTest, EditStateErrors) {
    MakePeople({});
    TABSTable table;
    table.SetName("tblPeople");
    Configure(table, "People");
    table.Open();
    EXPECT_EQ(MessageOf([&] { table.Edit(); }), "tblPeople: Cannot perform this operation on an empty dataset");
    EXPECT_EQ(MessageOf([&] { table.Post(); }), "tblPeople: Dataset not in edit or insert mode");
    EXPECT_EQ(MessageOf([&] { table.FieldByName("ID").SetAsInteger(1); }),
              "tblPeople: Dataset not in edit or insert mode");
    EXPECT_EQ(MessageOf([&] { table.Delete(); }), "tblPeople: Cannot perform this operation on an empty dataset");

    // A value that does not convert fails at once and leaves the row in its edit state.
    table.Append();
    EXPECT_GT(apitest::NativeErrorOf([&] { table.FieldByName("ID").SetAsString("not a number"); }), 0);
    EXPECT_EQ(table.State(), TDataSetState::dsInsert);
    table.Cancel();
    table.Close();

    table.SetReadOnly(true);
    table.Open();
    EXPECT_EQ(MessageOf([&] { table.Append(); }), "tblPeople: Cannot modify a read-only dataset");
    EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
}

TEST_F(TableDataSetTest, ErrorHandlersRetryOrAbortAFailedPost) {
    {
        TABSTable keyed;
        Configure(keyed, "Keyed");
        keyed.FieldDefs().Add(TABSFieldDef("ID", TABSColumnType::actInteger));
        keyed.IndexDefs().Add(TABSIndexDef("pk", 0, {TABSIndexColumn{"ID"}}, true, true));
        keyed.CreateTable();
    }
    TABSTable table;
    Configure(table, "Keyed");
    table.Open();
    table.Append();
    table.FieldByName("ID").SetAsInteger(1);
    table.Post();

    // Without a handler the engine error passes and the row stays in insert state.
    table.Append();
    table.FieldByName("ID").SetAsInteger(1);
    EXPECT_GT(apitest::NativeErrorOf([&] { table.Post(); }), 0);
    EXPECT_EQ(table.State(), TDataSetState::dsInsert);

    int calls = 0;
    table.Events().OnPostError = [&](TABSDataSet& data, const EABSError&, TDataAction& action) {
        ++calls;
        data.FieldByName("ID").SetAsInteger(2);
        action = TDataAction::daRetry;
    };
    table.Post();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(table.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(table.FieldByName("ID").AsInteger(), 2);

    table.Events().OnPostError = [&](TABSDataSet&, const EABSError&, TDataAction& action) {
        ++calls;
        action = TDataAction::daAbort;
    };
    table.Append();
    table.FieldByName("ID").SetAsInteger(2);
    table.Post();  // quietly ends
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(table.State(), TDataSetState::dsInsert);
    table.Cancel();
    EXPECT_EQ(table.RecordCount(), 2);
}

TEST_F(TableDataSetTest, RefreshShowsChangesMadeElsewhereAndKeepsTheRow) {
    MakePeople({{1, "Carl", 3}, {2, "Anna", 1}});
    TABSTable reader;
    Configure(reader, "People");
    reader.SetIndexFieldNames("Name");
    reader.Open();
    reader.Next();
    ASSERT_EQ(reader.FieldByName("Name").AsString(), "Carl");

    TABSTable writer;
    Configure(writer, "People");
    writer.Open();
    writer.Edit();
    writer.FieldByName("Score").SetAsFloat(8);
    writer.Post();
    writer.Append();
    writer.FieldByName("ID").SetAsInteger(3);
    writer.FieldByName("Name").SetAsString("Bert");
    writer.Post();

    int refreshed = 0;
    reader.Events().AfterRefresh = [&](TABSDataSet&) { ++refreshed; };
    reader.Refresh();
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(reader.FieldByName("Name").AsString(), "Carl");
    EXPECT_EQ(reader.FieldByName("Score").AsFloat(), 8.0);
    EXPECT_EQ(reader.RecNo(), 3);
    EXPECT_THAT(Column(reader, "Name"), ElementsAre("Anna", "Bert", "Carl"));
}

TEST_F(TableDataSetTest, FilterHidesRowsAndFollowsItsOptions) {
    MakePeople({{1, "Carl", 3}, {2, "Anna", 1}, {3, "Bert", 2}});
    TABSTable table;
    Configure(table, "People");
    table.SetFilter("Score >= 2");
    table.Open();
    EXPECT_EQ(table.RecordCount(), 3) << "a filter counts only while Filtered is on";
    table.SetFiltered(true);
    EXPECT_EQ(table.RecordCount(), 2);
    EXPECT_THAT(Column(table, "ID"), ElementsAre("1", "3"));

    table.SetFilter("Name = 'anna'");
    EXPECT_EQ(table.RecordCount(), 0);
    EXPECT_TRUE(table.IsEmpty());
    table.SetFilterOptions({true, false});
    EXPECT_THAT(Column(table, "ID"), ElementsAre("2"));
    table.SetFilter("Name = 'b*'");
    EXPECT_THAT(Column(table, "ID"), ElementsAre("3")) << "partial compare of a trailing *";
    table.SetFilterOptions({true, true});
    EXPECT_TRUE(table.IsEmpty());
}

class ImportTableTest : public TableDataSetTest {
protected:
    void SetUp() override {
        TableDataSetTest::SetUp();
        MakePeople({{1, "Carl", 3}, {2, "Anna", 1}, {3, "Bert", 2}});
        Configure(source_, "People");
        source_.Open();
        source_.Next();  // the import must bring it back here
        Configure(target_, "PeopleCopy");
    }

    TABSTable source_;
    TABSTable target_;
};

TEST_F(ImportTableTest, CopiesStructureAndRowsAndKeepsTheSourcePosition) {
    std::string log;
    ASSERT_TRUE(target_.ImportTable(source_, log)) << log;
    EXPECT_EQ(log, "");
    EXPECT_EQ(source_.RecNo(), 2);
    EXPECT_EQ(source_.FieldByName("Name").AsString(), "Anna");
    ASSERT_EQ(target_.FieldDefs().Count(), 3u);
    EXPECT_EQ(target_.FieldDefs()[1].ColumnType, TABSColumnType::actString);
    EXPECT_NE(target_.IndexDefs().Find("byName"), nullptr) << "a table dataset hands over its indexes";

    target_.SetIndexName("byName");
    target_.Open();
    EXPECT_THAT(Column(target_, "ID"), ElementsAre("2", "3", "1"));
    EXPECT_EQ(MessageOf([&] { (void)target_.ImportTable(source_, log); }),
              "Cannot perform this operation on an open dataset");
    target_.Close();

    // The table exists now: a second import fails to create it.
    EXPECT_FALSE(target_.ImportTable(source_, log));
    EXPECT_THAT(log, HasSubstr("Error importing table. Cannot create table due to error: "));
}

TEST_F(ImportTableTest, ProgressGoesToTheEventsOrElseTheWaitWindow) {
    std::vector<std::string> calls;
    TABSHostHooks hooks;
    hooks.BeginWait = [&](const std::string& message) { calls.push_back("begin " + message); };
    hooks.WaitProgress = [&](int percent) {
        calls.push_back("progress " + std::to_string(percent));
        return true;
    };
    hooks.EndWait = [&] { calls.push_back("end"); };
    HookScope scope(hooks);

    std::string log;
    ASSERT_TRUE(target_.ImportTable(source_, log));
    // 3 rows over 0..100: N = 1, positions 33, 67, 100.
    EXPECT_EQ(calls, (std::vector<std::string>{"begin Import Table...", "progress 0", "progress 33", "progress 67",
                                               "progress 100", "end"}));

    calls.clear();
    std::vector<std::string> events;
    target_.TableEvents().BeforeImport = [&](TABSTable&) { events.push_back("before"); };
    target_.TableEvents().OnImportProgress = [&](TABSTable&, int position, bool& continueFlag) {
        events.push_back(std::to_string(position));
        continueFlag = position < 50;
    };
    target_.TableEvents().AfterImport = [&](TABSTable&) { events.push_back("after"); };
    target_.SetTableName("SecondCopy");
    EXPECT_FALSE(target_.ImportTable(source_, log));
    EXPECT_EQ(events, (std::vector<std::string>{"before", "33", "67", "after"}));
    EXPECT_EQ(log, "Terminated by User.\r\n");
    EXPECT_TRUE(calls.empty()) << "handlers replace the wait window";

    // A silent database shows no wait window either.
    target_.TableEvents() = {};
    db_.SetSilentMode(true);
    target_.SetTableName("ThirdCopy");
    log.clear();
    EXPECT_TRUE(target_.ImportTable(source_, log));
    EXPECT_TRUE(calls.empty());
}

} // namespace
} // namespace kova
