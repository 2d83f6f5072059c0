// ALTER TABLE against a database file and MEMORY: adding, dropping and changing columns rebuild
// the table and keep its rows; a rebuild that fails leaves the table as it was; renames keep rows.
#include "dml_test_support.h"

#include "engine/sql/ABSSQLAlterExec.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace kova::dmltest {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class AlterTableTest : public DmlTest {
protected:
    struct Column {
        std::string name;
        TABSColumnType type;
        std::int32_t size;
        std::int32_t id;
    };
    std::vector<Column> Columns(const std::string& table, bool memory = false) {
        TABSTableName name;
        name.name = table;
        name.memory = memory;
        TABSTableHandle handle = TABSTableAccess(context_).OpenTable(name);
        std::vector<Column> columns;
        for (const TABSFieldDef& field : handle->FieldDefs()) {
            columns.push_back({field.Name, field.ColumnType, field.Size, field.ObjectID});
        }
        return columns;
    }
    std::vector<std::string> FieldNames(const std::string& table, bool memory = false) {
        std::vector<std::string> names;
        for (const Column& column : Columns(table, memory)) names.push_back(column.name);
        return names;
    }
    std::vector<std::string> IndexNames(const std::string& table) {
        TABSTableHandle handle = Open(table);
        std::vector<std::string> names;
        for (const TABSIndexDef& index : handle->IndexDefs()) names.push_back(index.Name);
        return names;
    }
    // The tables of the file: a rebuild must not leave its "OLD_" table behind.
    std::vector<std::string> TableNames() {
        std::vector<std::string> names = database_->Tables().TableNames();
        std::sort(names.begin(), names.end());
        return names;
    }

    // People(ID, Name, Born) with three rows and an index on Name.
    void MakePeople() {
        Run("CREATE TABLE People (ID Integer, Name String(20), Born String(10), INDEX byName (Name))");
        Run("INSERT INTO People VALUES (1, 'Anna', '1990')");
        Run("INSERT INTO People VALUES (2, 'Bert', '1985')");
        Run("INSERT INTO People VALUES (3, 'Carl', '2001')");
    }
};

TEST_F(AlterTableTest, AddLeavesTheNewColumnNullInEveryRow) {
    MakePeople();
    EXPECT_EQ(Run("ALTER TABLE People ADD (Club String(30), Points Integer)"), 0);
    EXPECT_THAT(FieldNames("People"), ElementsAre("ID", "Name", "Born", "Club", "Points"));
    EXPECT_THAT(Rows("People"), ElementsAre(Row{"1", "Anna", "1990", kNull, kNull}, Row{"2", "Bert", "1985", kNull, kNull},
                                            Row{"3", "Carl", "2001", kNull, kNull}));
    EXPECT_THAT(IndexNames("People"), ElementsAre("byName"));
    EXPECT_THAT(TableNames(), ElementsAre("People"));

    // The new columns take values afterwards like any other.
    Run("UPDATE People SET Points = 7 WHERE ID = 2");
    EXPECT_EQ(Rows("People")[1][4], "7");
}

TEST_F(AlterTableTest, AddWithDefaultAndIfNotExists) {
    MakePeople();
    Run("ALTER TABLE People ADD Score Integer DEFAULT 5");
    EXPECT_THAT(Rows("People"), ElementsAre(Row{"1", "Anna", "1990", "5"}, Row{"2", "Bert", "1985", "5"},
                                            Row{"3", "Carl", "2001", "5"}));
    // An existing name written with IF NOT EXISTS is skipped, the other column still comes.
    Run("ALTER TABLE People ADD (name IF NOT EXISTS Integer, Extra Char(3))");
    EXPECT_THAT(FieldNames("People"), ElementsAre("ID", "Name", "Born", "Score", "Extra"));
    EXPECT_EQ(Columns("People")[1].type, TABSColumnType::actString);
}

TEST_F(AlterTableTest, ColumnsThatKeepTheirFieldKeepTheirIdentity) {
    MakePeople();
    const std::vector<Column> before = Columns("People");
    Run("ALTER TABLE People DROP Born");
    Run("ALTER TABLE People ADD Born Integer");
    const std::vector<Column> after = Columns("People");
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0].id, before[0].id);
    EXPECT_EQ(after[1].id, before[1].id);
    // A column added under a dropped column's name is a new column, not the old one back.
    EXPECT_THAT(Rows("People"), ElementsAre(Row{"1", "Anna", kNull}, Row{"2", "Bert", kNull}, Row{"3", "Carl", kNull}));
}

TEST_F(AlterTableTest, ModifyConvertsTheValuesToTheNewType) {
    struct Case {
        std::string column;  // V as the table is made
        std::vector<std::string> inserts;
        std::string modify;
        TABSColumnType type;
        std::vector<Row> rows;
    };
    const std::vector<Case> cases = {
        {"V String(10)", {"(1, '42')", "(2, '-7')", "(3, NULL)"}, "V Integer", TABSColumnType::actInteger,
         {{"1", "42"}, {"2", "-7"}, {"3", kNull}}},
        {"V Integer", {"(1, 12)", "(2, 3)"}, "V String(5)", TABSColumnType::actString, {{"1", "12"}, {"2", "3"}}},
        {"V String(8)", {"(1, '2.5')"}, "V Double", TABSColumnType::actDouble, {{"1", "2.5"}}},
        {"V Integer", {"(1, 4)"}, "V LargeInt", TABSColumnType::actLargeInt, {{"1", "4"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.modify);
        Run("CREATE TABLE T (N Integer, " + c.column + ")");
        for (const std::string& values : c.inserts) Run("INSERT INTO T VALUES " + values);
        const std::int32_t id = Columns("T")[1].id;
        Run("ALTER TABLE T MODIFY (" + c.modify + ")");
        EXPECT_EQ(Columns("T")[1].type, c.type);
        EXPECT_EQ(Columns("T")[1].id, id);
        EXPECT_EQ(Rows("T"), c.rows);
        EXPECT_THAT(TableNames(), ElementsAre("T"));
        Run("DROP TABLE T");
    }
}

TEST_F(AlterTableTest, UnconvertibleValueFailsTheStatementAndLeavesTheTableUnchanged) {
    MakePeople();
    Run("UPDATE People SET Born = 'unknown' WHERE ID = 2");
    const std::vector<Column> before = Columns("People");
    const std::vector<Row> rowsBefore = Rows("People");

    const Failure failure = RunFailing("ALTER TABLE People MODIFY Born Integer");
    EXPECT_EQ(failure.code, 30265);
    EXPECT_THAT(failure.message,
                AllOf(HasSubstr("Error altering table: 'Restructure table error: 'Error restructuring table. Cannot "
                                "copy data due to error: "),
                      HasSubstr("Native error: 30347"), HasSubstr("Native error: 30265")));

    const std::vector<Column> after = Columns("People");
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[2].type, TABSColumnType::actString);
    EXPECT_EQ(after[2].id, before[2].id);
    EXPECT_EQ(Rows("People"), rowsBefore);
    EXPECT_THAT(IndexNames("People"), ElementsAre("byName"));
    EXPECT_THAT(TableNames(), ElementsAre("People")) << "neither the new table nor the moved old one stays";
    // The table still works as before.
    Run("INSERT INTO People VALUES (4, 'Dora', 'x')");
    EXPECT_EQ(Rows("People").size(), 4u);
}

TEST_F(AlterTableTest, DropRemovesColumnsAndTheirIndexesAndIgnoresUnknownNames) {
    MakePeople();
    Run("ALTER TABLE People DROP Nickname");
    EXPECT_THAT(FieldNames("People"), ElementsAre("ID", "Name", "Born"));
    EXPECT_EQ(Rows("People").size(), 3u);

    Run("ALTER TABLE People DROP (name, Missing)");
    EXPECT_THAT(FieldNames("People"), ElementsAre("ID", "Born"));
    EXPECT_THAT(IndexNames("People"), IsEmpty());
    EXPECT_THAT(Rows("People"), ElementsAre(Row{"1", "1990"}, Row{"2", "1985"}, Row{"3", "2001"}));
}

TEST_F(AlterTableTest, FailuresCarryTheirInnerMessage) {
    MakePeople();
    struct Case {
        std::string statement;
        std::string inner;
    };
    const std::vector<Case> cases = {
        {"ALTER TABLE People ADD Name Integer", "Error altering table: 'Field by name 'Name' already exists - Native error: 30351"},
        {"ALTER TABLE People ADD (X Integer, x Char(2))", "Field by name 'x' already exists - Native error: 30351"},
        {"ALTER TABLE People MODIFY Nope Integer", "Error altering table: 'Field 'Nope' not found - Native error: 30259"},
        {"ALTER TABLE Nobody ADD X Integer", "Error altering table: 'Table 'Nobody' not exists."},
        {"ALTER TABLE People RENAME COLUMN Nope TO X", "Error altering table: 'Field 'Nope' not found"},
        {"ALTER TABLE People DROP (ID, Name, Born)", "Cannot create table due to error: "},
        {"ALTER TABLE People ADD Club String(10) NOT NULL", "Error restructuring table. Cannot copy data due to error: "},
    };
    const std::vector<Row> rows = Rows("People");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        const Failure failure = RunFailing(c.statement);
        EXPECT_EQ(failure.code, 30265);
        EXPECT_THAT(failure.message, HasSubstr(c.inner));
        EXPECT_THAT(FieldNames("People"), ElementsAre("ID", "Name", "Born"));
        EXPECT_EQ(Rows("People"), rows);
        EXPECT_THAT(TableNames(), ElementsAre("People"));
    }
}

TEST_F(AlterTableTest, ModifyReplacesTheRequiredMark) {
    MakePeople();
    Run("ALTER TABLE People MODIFY Name String(20) NOT NULL");
    EXPECT_EQ(RunFailing("INSERT INTO People (ID) VALUES (9)").code, 30330);
    Run("ALTER TABLE People MODIFY Name String(20)");
    Run("INSERT INTO People (ID) VALUES (9)");
    EXPECT_EQ(Rows("People").back(), (Row{"9", kNull, kNull}));
}

TEST_F(AlterTableTest, RenamesKeepTheRows) {
    struct Case {
        bool memory;
        std::string prefix;  // how statements name the database of the table
    };
    for (const Case& c : {Case{false, ""}, Case{true, "MEMORY "}}) {
        SCOPED_TRACE(c.memory ? "MEMORY" : "file");
        Run("CREATE TABLE " + c.prefix + "R (N Integer, S Char(5), UNIQUE INDEX byS (S))");
        Run("INSERT INTO " + c.prefix + "R VALUES (1, 'a')");
        Run("INSERT INTO " + c.prefix + "R VALUES (2, 'b')");
        Run("ALTER TABLE " + c.prefix + "R RENAME COLUMN S TO Code");
        Run("ALTER TABLE " + c.prefix + "R RENAME TO Q");
        EXPECT_THAT(FieldNames("Q", c.memory), ElementsAre("N", "Code"));
        EXPECT_THAT(Rows("Q", c.memory), ElementsAre(Row{"1", "a"}, Row{"2", "b"}));
        // The unique index followed the column.
        EXPECT_NE(RunFailing("INSERT INTO " + c.prefix + "Q VALUES (3, 'a')").code, 0);
        Run("DROP TABLE " + c.prefix + "Q");
    }
}

TEST_F(AlterTableTest, MemoryTablesAreRebuiltToo) {
    Run("CREATE TABLE MEMORY M (N Integer, V String(4))");
    Run("INSERT INTO MEMORY M VALUES (1, '10')");
    Run("ALTER TABLE MEMORY M MODIFY V Integer");
    Run("ALTER TABLE MEMORY M ADD W Integer");
    EXPECT_THAT(Rows("M", true), ElementsAre(Row{"1", "10", kNull}));
    EXPECT_EQ(Columns("M", true)[1].type, TABSColumnType::actInteger);
}

TEST_F(AlterTableTest, AutoincCounterGoesOnAfterARebuild) {
    Run("CREATE TABLE A (ID AutoInc, Name String(10))");
    for (const char* name : {"'a'", "'b'", "'c'"}) Run(std::string("INSERT INTO A (Name) VALUES (") + name + ")");
    Run("ALTER TABLE A ADD Extra Integer");
    Run("INSERT INTO A (Name) VALUES ('d')");
    EXPECT_THAT(Rows("A"), ElementsAre(Row{"1", "a", kNull}, Row{"2", "b", kNull}, Row{"3", "c", kNull},
                                       Row{"4", "d", kNull}));
}

TEST_F(AlterTableTest, RebuildIsRefusedInsideATransaction) {
    MakePeople();
    Run("START TRANSACTION");
    const Failure failure = RunFailing("ALTER TABLE People ADD X Integer");
    EXPECT_EQ(failure.code, 30265);
    EXPECT_THAT(failure.message, HasSubstr("Cannot perform 'RestructureTable' operation on a database in transaction - "
                                           "Native error: 20180"));
    Run("ROLLBACK");
    EXPECT_THAT(FieldNames("People"), ElementsAre("ID", "Name", "Born"));
    EXPECT_THAT(TableNames(), ElementsAre("People"));
}

TEST(AlteredDefinition, AddDropAndModifyOnADefinition) {
    TABSTableDefinition current;
    current.Fields.Add(TABSFieldDef("A", TABSColumnType::actInteger)).ObjectID = 1;
    current.Fields.Add(TABSFieldDef("B", TABSColumnType::actString, 5)).ObjectID = 2;
    current.Indexes.Add(TABSIndexDef("byB", 0, {TABSIndexColumn{"B"}}));
    current.Indexes.Add(TABSIndexDef("byA", 0, {TABSIndexColumn{"A"}}));

    TABSSQLProcessor processor("ALTER TABLE T MODIFY (b Integer NOT NULL)");
    processor.ParseAll();
    ASSERT_EQ(processor.Statements().size(), 1u);
    const auto& statement = static_cast<const TABSDDLAlterTable&>(*processor.Statements()[0]);
    const TABSTableDefinition altered = AlteredDefinition(current, "T", statement);
    ASSERT_EQ(altered.Fields.Count(), 2u);
    EXPECT_EQ(altered.Fields[1].ColumnType, TABSColumnType::actInteger);
    EXPECT_EQ(altered.Fields[1].ObjectID, 2);
    EXPECT_EQ(altered.Indexes.Count(), 2u);
    ASSERT_EQ(altered.Constraints.Count(), 1u);
    EXPECT_EQ(altered.Constraints[0].Kind(), TABSConstraintKind::NotNull);
    EXPECT_EQ(altered.Constraints[0].TargetName(), "b");

    TABSSQLProcessor drop("ALTER TABLE T DROP (A, Zed)");
    drop.ParseAll();
    const TABSTableDefinition dropped =
        AlteredDefinition(current, "T", static_cast<const TABSDDLAlterTable&>(*drop.Statements()[0]));
    ASSERT_EQ(dropped.Fields.Count(), 1u);
    EXPECT_EQ(dropped.Fields[0].Name, "B");
    EXPECT_EQ(dropped.Fields[0].ObjectID, 2);
    ASSERT_EQ(dropped.Indexes.Count(), 1u);
    EXPECT_EQ(dropped.Indexes[0].Name, "byB");
}

} // namespace
} // namespace kova::dmltest
