// The cursor over a stored table: orders, filter, positions, editing and BLOB values.
#include "table_test_support.h"

#include "engine/sql/ABSExpressions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kova {
namespace {

using tabletest::AppendRow;
using tabletest::ColumnTexts;
using tabletest::CurrentText;
using tabletest::Int;
using tabletest::Real;
using tabletest::Text;
using ::testing::ElementsAre;

constexpr std::size_t kId = 0, kName = 1, kScore = 2, kNotes = 3;

TABSTableDefinition PeopleDefinition() {
    TABSTableDefinition definition;
    definition.Fields.Add(TABSFieldDef("ID", TABSColumnType::actInteger));
    definition.Fields.Add(TABSFieldDef("Name", TABSColumnType::actString, 20));
    TABSFieldDef score("Score", TABSColumnType::actDouble);
    score.DefaultValue.SetAsDouble(7.5);
    definition.Fields.Add(std::move(score));
    definition.Fields.Add(TABSFieldDef("Notes", TABSColumnType::actMemo));
    definition.Indexes.Add(TABSIndexDef("idxName", 0, {TABSIndexColumn{"Name"}}));
    return definition;
}

class TableCursorTest : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = tables_.Create("People", PeopleDefinition());
        cursor_ = tables_.Open(name_);
        // Insertion order differs from every order the tests ask for.
        AppendRow(*cursor_, {Int(1), Text("B"), Real(30), {}});
        AppendRow(*cursor_, {Int(2), Text("A"), Real(10), {}});
        AppendRow(*cursor_, {Int(3), Text("b"), Real(20), {}});
        AppendRow(*cursor_, {Int(4), Text("a"), Real(40), {}});
    }

    std::vector<std::string> Ids() { return ColumnTexts(*cursor_, kId); }

    tabletest::CollationScope collation_{"en_US"};
    tabletest::MemoryTables tables_;
    TABSTableName name_;
    std::unique_ptr<TABSTableCursor> cursor_;
};

TEST_F(TableCursorTest, ColumnsComeFromTheFieldDefinitions) {
    ASSERT_EQ(cursor_->ColumnCount(), 4u);
    EXPECT_EQ(cursor_->Column(kName).Name, "Name");
    EXPECT_EQ(cursor_->Column(kName).BaseType, TABSBaseType::bftString);
    EXPECT_EQ(cursor_->Column(kName).FieldType, TFieldType::ftString);
    EXPECT_EQ(cursor_->Column(kName).Size, 20);
    EXPECT_EQ(cursor_->Column(kScore).FieldType, TFieldType::ftFloat);
    EXPECT_EQ(cursor_->Column(kScore).Size, 0);
    EXPECT_EQ(cursor_->Column(kNotes).FieldType, TFieldType::ftMemo);
    EXPECT_EQ(cursor_->FindColumn("score"), kScore);
    EXPECT_FALSE(cursor_->FindColumn("nope").has_value());
}

TEST_F(TableCursorTest, PhysicalOrderWalksBothWaysAndStopsOnTheCracks) {
    auto fresh = tables_.Open(name_);
    EXPECT_TRUE(fresh->Bof());
    EXPECT_EQ(fresh->RecNo(), 0);
    EXPECT_THAT(ColumnTexts(*fresh, kId), ElementsAre("1", "2", "3", "4"));
    EXPECT_TRUE(fresh->Eof());
    EXPECT_FALSE(fresh->Next());  // stays on the crack
    EXPECT_TRUE(fresh->Prior());  // steps back onto the last row
    EXPECT_EQ(CurrentText(*fresh, kId), "4");
    EXPECT_EQ(fresh->RecNo(), 4);
    ASSERT_TRUE(fresh->Last());
    ASSERT_TRUE(fresh->Prior());
    ASSERT_TRUE(fresh->Prior());
    EXPECT_EQ(CurrentText(*fresh, kId), "2");
    EXPECT_EQ(fresh->RecNo(), 2);
    ASSERT_TRUE(fresh->Prior());
    EXPECT_FALSE(fresh->Prior());
    EXPECT_TRUE(fresh->Bof());
    EXPECT_EQ(fresh->RecordCount(), 4);
}

TEST_F(TableCursorTest, OrdersByColumnsWithDirectionAndCase) {
    struct Case {
        const char* what;
        std::vector<TABSIndexColumn> columns;
        std::vector<std::string> ids;
    };
    const std::vector<Case> cases = {
        // Case-sensitive collation puts lower case first within a letter.
        {"name", {{"Name", false, false}}, {"4", "2", "3", "1"}},
        // Ignoring case, equal names keep the order the rows were stored in.
        {"name ignoring case", {{"Name", false, true}}, {"2", "4", "1", "3"}},
        {"score descending", {{"Score", true, false}}, {"4", "1", "3", "2"}},
        {"name ignoring case, then score descending", {{"Name", false, true}, {"Score", true, false}},
         {"4", "2", "1", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cursor_->SetColumnOrder(c.columns);
        EXPECT_FALSE(cursor_->IsPhysicalOrder());
        EXPECT_EQ(Ids(), c.ids);
        // Row numbers follow the order, not the storage.
        ASSERT_TRUE(cursor_->SetRecNo(3));
        EXPECT_EQ(CurrentText(*cursor_, kId), c.ids[2]);
        EXPECT_EQ(cursor_->RecNo(), 3);
        ASSERT_TRUE(cursor_->Last());
        EXPECT_EQ(cursor_->RecNo(), 4);
        ASSERT_TRUE(cursor_->Prior());
        EXPECT_EQ(CurrentText(*cursor_, kId), c.ids[2]);
    }
    cursor_->SetColumnOrder({});
    EXPECT_TRUE(cursor_->IsPhysicalOrder());
    EXPECT_THAT(Ids(), ElementsAre("1", "2", "3", "4"));
}

TEST_F(TableCursorTest, OrdersByANamedIndexAndRejectsUnknownOnes) {
    cursor_->SetIndexOrder("IDXNAME");
    EXPECT_THAT(Ids(), ElementsAre("4", "2", "3", "1"));
    try {
        cursor_->SetIndexOrder("noSuchIndex");
        FAIL() << "expected an error";
    } catch (const EABSException& e) {
        EXPECT_EQ(e.NativeError(), kIndexByNameNotFoundError);
    }
    EXPECT_THROW(cursor_->SetColumnOrder({{"Missing"}}), EABSException);
}

TEST_F(TableCursorTest, FilterHidesRowsFromCountsAndNumbers) {
    cursor_->SetFilter(TABSExpression::ParseFilter("Score >= 20", {}, {}));
    EXPECT_EQ(cursor_->RecordCount(), 3);
    EXPECT_THAT(Ids(), ElementsAre("1", "3", "4"));
    ASSERT_TRUE(cursor_->SetRecNo(2));
    EXPECT_EQ(CurrentText(*cursor_, kId), "3");
    EXPECT_EQ(cursor_->RecNo(), 2);
    EXPECT_FALSE(cursor_->SetRecNo(4));
    EXPECT_EQ(CurrentText(*cursor_, kId), "3") << "a failed SetRecNo does not move";

    // Filter and order together; the count follows changes of the table.
    cursor_->SetColumnOrder({{"Score", true, false}});
    EXPECT_THAT(Ids(), ElementsAre("4", "1", "3"));
    ASSERT_TRUE(cursor_->First());
    cursor_->Edit();
    cursor_->SetValue(kScore, Real(5));
    cursor_->Post();
    EXPECT_EQ(cursor_->RecordCount(), 2);
    EXPECT_THAT(Ids(), ElementsAre("1", "3"));

    cursor_->SetFilter(nullptr);
    EXPECT_EQ(cursor_->RecordCount(), 4);
}

TEST_F(TableCursorTest, FilterThatHidesEverythingLeavesAnEmptyResult) {
    cursor_->SetFilter(TABSExpression::ParseFilter("Name = 'zzz'", {}, {}));
    EXPECT_FALSE(cursor_->First());
    EXPECT_TRUE(cursor_->Bof());
    EXPECT_FALSE(cursor_->Last());
    EXPECT_TRUE(cursor_->Eof());
    EXPECT_EQ(cursor_->RecordCount(), 0);
    EXPECT_EQ(cursor_->RecNo(), 0);
}

TEST_F(TableCursorTest, AppendAppliesDefaultsAndLeavesTheCursorOnTheNewRow) {
    cursor_->SetColumnOrder({{"Name"}});
    cursor_->Append();
    EXPECT_EQ(cursor_->State(), TABSTableCursorState::Insert);
    EXPECT_EQ(CurrentText(*cursor_, kScore), "7.5") << "the edit buffer carries the default";
    cursor_->SetValue(kId, Int(5));
    cursor_->SetValue(kName, Text("aa"));
    cursor_->Post();
    EXPECT_EQ(cursor_->State(), TABSTableCursorState::Browse);
    EXPECT_EQ(CurrentText(*cursor_, kId), "5");
    EXPECT_EQ(cursor_->RecNo(), 3) << "a, A, aa, b, B";
    ASSERT_TRUE(cursor_->Next());
    EXPECT_EQ(CurrentText(*cursor_, kId), "3");
    EXPECT_EQ(cursor_->RecordCount(), 5);
}

TEST_F(TableCursorTest, EditMovesTheRowInTheOrderAndTheCursorFollows) {
    cursor_->SetColumnOrder({{"Score"}});
    ASSERT_TRUE(cursor_->First());
    ASSERT_EQ(CurrentText(*cursor_, kId), "2");  // lowest score
    cursor_->Edit();
    cursor_->SetValue(kScore, Real(35));
    EXPECT_EQ(CurrentText(*cursor_, kScore), "35") << "reads come from the edit buffer";
    cursor_->Post();
    EXPECT_EQ(CurrentText(*cursor_, kId), "2");
    EXPECT_EQ(cursor_->RecNo(), 3);
    ASSERT_TRUE(cursor_->Next());
    EXPECT_EQ(CurrentText(*cursor_, kId), "4");
    ASSERT_TRUE(cursor_->Prior());
    ASSERT_TRUE(cursor_->Prior());
    EXPECT_EQ(CurrentText(*cursor_, kId), "1");
}

TEST_F(TableCursorTest, CancelDropsTheEditAndMovesCancelToo) {
    ASSERT_TRUE(cursor_->First());
    cursor_->Edit();
    cursor_->SetValue(kName, Text("changed"));
    cursor_->Cancel();
    EXPECT_EQ(CurrentText(*cursor_, kName), "B");
    cursor_->Append();
    cursor_->SetValue(kId, Int(9));
    EXPECT_TRUE(cursor_->Next());  // a move drops the pending insert
    EXPECT_EQ(cursor_->RecordCount(), 4);
    EXPECT_THAT(Ids(), ElementsAre("1", "2", "3", "4"));
}

TEST_F(TableCursorTest, DeleteMovesToTheFollowingRowOrBackAtTheEnd) {
    cursor_->SetColumnOrder({{"Score"}});  // 2, 3, 1, 4
    ASSERT_TRUE(cursor_->SetRecNo(2));
    cursor_->Delete();
    EXPECT_EQ(CurrentText(*cursor_, kId), "1");
    EXPECT_EQ(cursor_->RecNo(), 2);
    ASSERT_TRUE(cursor_->Last());
    cursor_->Delete();
    EXPECT_EQ(CurrentText(*cursor_, kId), "1") << "after the last row the cursor steps back";
    EXPECT_THAT(Ids(), ElementsAre("2", "1"));
    ASSERT_TRUE(cursor_->First());
    cursor_->Delete();
    cursor_->Delete();
    EXPECT_EQ(cursor_->RecordCount(), 0);
    EXPECT_FALSE(cursor_->First());
    try {
        cursor_->Delete();
        FAIL() << "expected an error";
    } catch (const EABSException& e) {
        EXPECT_EQ(e.NativeError(), kCursorNotOnRowError);
    }
}

TEST_F(TableCursorTest, ReadOnlyCursorRefusesChanges) {
    auto readOnly = tables_.Open(name_, false);
    EXPECT_FALSE(readOnly->IsLive());
    ASSERT_TRUE(readOnly->First());
    for (auto change : {+[](TABSTableCursor& c) { c.Append(); }, +[](TABSTableCursor& c) { c.Edit(); },
                        +[](TABSTableCursor& c) { c.Delete(); }}) {
        try {
            change(*readOnly);
            ADD_FAILURE() << "expected an error";
        } catch (const EABSException& e) {
            EXPECT_EQ(e.NativeError(), kCursorNotLiveError);
        }
    }
    EXPECT_EQ(readOnly->RecordCount(), 4);
    try {
        readOnly->SetValue(kId, Int(1));
        ADD_FAILURE() << "expected an error";
    } catch (const EABSException& e) {
        EXPECT_EQ(e.NativeError(), kCursorNotEditingError);
    }
}

TEST_F(TableCursorTest, ChangesByAnotherCursorAreSeenWithoutLosingThePlace) {
    cursor_->SetColumnOrder({{"Score"}});  // 2 (10), 3 (20), 1 (30), 4 (40)
    ASSERT_TRUE(cursor_->SetRecNo(2));
    auto other = tables_.Open(name_);
    AppendRow(*other, {Int(5), Text("x"), Real(25), {}});
    // The temporary order index was dropped by the change; the cursor makes it again and steps on
    // from where it stood.
    ASSERT_TRUE(cursor_->Next());
    EXPECT_EQ(CurrentText(*cursor_, kId), "5");
    EXPECT_EQ(cursor_->RecNo(), 3);

    // The row the cursor stands on is deleted elsewhere: the next step lands on its successor.
    ASSERT_TRUE(other->First());
    ASSERT_TRUE(other->Locate(std::vector<std::size_t>{kId}, std::vector<TABSVariant>{Int(5)}, false, false));
    other->Delete();
    ASSERT_TRUE(cursor_->Next());
    EXPECT_EQ(CurrentText(*cursor_, kId), "1");
    EXPECT_EQ(cursor_->RecordCount(), 4);
}

TEST_F(TableCursorTest, LocateFindsTheFirstMatchInOrderOrKeepsThePlace) {
    cursor_->SetColumnOrder({{"Score", true, false}});
    ASSERT_TRUE(cursor_->Last());
    const std::vector<std::size_t> nameColumn{kName};
    EXPECT_TRUE(cursor_->Locate(nameColumn, std::vector<TABSVariant>{Text("b")}, true, false));
    EXPECT_EQ(CurrentText(*cursor_, kId), "1") << "B (30) comes before b (20) by score descending";
    EXPECT_FALSE(cursor_->Locate(nameColumn, std::vector<TABSVariant>{Text("q")}, true, false));
    EXPECT_EQ(CurrentText(*cursor_, kId), "1");
    EXPECT_TRUE(cursor_->Locate(std::vector<std::size_t>{kName, kScore},
                                std::vector<TABSVariant>{Text("a"), Real(40)}, false, false));
    EXPECT_EQ(CurrentText(*cursor_, kId), "4");
}

TEST_F(TableCursorTest, MemoValuesSurviveStepsEditsAndReordering) {
    const std::string longText(5000, 'x');
    ASSERT_TRUE(cursor_->SetRecNo(3));
    cursor_->Edit();
    cursor_->SetValue(kNotes, Text("short note"));
    cursor_->Post();
    ASSERT_TRUE(cursor_->SetRecNo(1));
    cursor_->Edit();
    cursor_->SetValue(kNotes, Text(longText));
    cursor_->Post();

    cursor_->SetColumnOrder({{"Score"}});
    std::vector<std::string> notes = ColumnTexts(*cursor_, kNotes);
    EXPECT_THAT(notes, ElementsAre("<null>", "short note", longText, "<null>"));

    // Changing another field keeps the memo.
    ASSERT_TRUE(cursor_->SetRecNo(3));
    cursor_->Edit();
    cursor_->SetValue(kName, Text("renamed"));
    cursor_->Post();
    EXPECT_EQ(CurrentText(*cursor_, kNotes), longText);
    // Clearing it makes it null.
    cursor_->Edit();
    cursor_->SetValue(kNotes, TABSVariant());
    cursor_->Post();
    EXPECT_EQ(CurrentText(*cursor_, kNotes), "<null>");
}

} // namespace
} // namespace kova

namespace kova {
namespace {

// Query results live in temporary tables that take inserts only; their cursors are ordered by
// temporary indexes like any other.
TEST(TemporaryTableCursor, OrdersAResultTableAfterFillingIt) {
    const TABSExecutionContext context = tabletest::MemoryContext();
    const TABSTableAccess access(context);
    TABSTableDefinition definition;
    definition.Fields.Add(TABSFieldDef("Name", TABSColumnType::actString, 30));
    const std::string name = access.CreateTemporaryTable(std::move(definition));
    {
        TABSTableCursor cursor(access.OpenTemporaryTable(name), true);
        for (const char* text : {"Maier", "Albers", "Zeller"}) tabletest::AppendRow(cursor, {tabletest::Text(text)});
        cursor.SetLive(false);
        cursor.SetColumnOrder({{"Name"}});
        EXPECT_EQ(cursor.RecordCount(), 3);
        EXPECT_THAT(tabletest::ColumnTexts(cursor, 0), ElementsAre("Albers", "Maier", "Zeller"));
        try {
            cursor.Edit();
            ADD_FAILURE() << "a read-only cursor took an edit";
        } catch (const EABSException& e) {
            EXPECT_EQ(e.NativeError(), kCursorNotLiveError);
        }
    }
    access.DropTemporaryTable(name);
}

} // namespace
} // namespace kova
