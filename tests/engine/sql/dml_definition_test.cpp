// CREATE / DROP / TRUNCATE / RENAME TABLE, ALTER TABLE renames, indexes and the transaction
// statements against a database file.
#include "dml_test_support.h"

#include "engine/storage/ABSConstraintDefs.h"

#include <gmock/gmock.h>

namespace kova::dmltest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

class DefinitionTest : public DmlTest {
protected:
    std::vector<std::string> FieldNames(const std::string& table) {
        TABSTableHandle handle = Open(table);
        std::vector<std::string> names;
        for (const TABSFieldDef& field : handle->FieldDefs()) names.push_back(field.Name);
        return names;
    }
    std::vector<std::string> IndexNames(const std::string& table) {
        TABSTableHandle handle = Open(table);
        std::vector<std::string> names;
        for (const TABSIndexDef& index : handle->IndexDefs()) names.push_back(index.Name);
        return names;
    }
    bool Exists(const std::string& table) {
        TABSTableName name;
        name.name = table;
        return TABSTableAccess(context_).TableExists(name);
    }
};

constexpr const char* kSettings =
    "CREATE TABLE IF NOT EXISTS Settings (VarName Char(45), VarValue Extended, VarStr Char(255));";

TEST_F(DefinitionTest, CreateIfNotExistsLeavesAnExistingTableAlone) {
    EXPECT_EQ(Run(kSettings), 0);
    EXPECT_THAT(FieldNames("Settings"), ElementsAre("VarName", "VarValue", "VarStr"));
    Run("INSERT INTO Settings (VarName) VALUES ('MaxStaffelPerName')");
    EXPECT_EQ(Run(kSettings), 0);
    EXPECT_EQ(Run("CREATE TABLE IF NOT EXISTS settings (VarName Char(45), VarString String(255))"), 0);
    EXPECT_THAT(FieldNames("Settings"), ElementsAre("VarName", "VarValue", "VarStr"));
    EXPECT_EQ(Rows("Settings").size(), 1u);
}

TEST_F(DefinitionTest, CreateOfAnExistingTableFailsNamingIt) {
    Run(kSettings);
    const Failure failure = RunFailing("CREATE TABLE Settings (VarName Char(45), VarValue Extended, VarStr Char(255))");
    EXPECT_EQ(failure.code, 30247);
    EXPECT_EQ(failure.message, "Cannot create table. Table 'Settings' already exists - Native error: 30247");
}

TEST_F(DefinitionTest, ColumnTypesThatCannotBeCreated) {
    struct Case {
        const char* text;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"CREATE TABLE T (A TEXT)", 30232, "Unknown field type 'TEXT' at line 1, column 19"},
        {"CREATE TABLE T (A String)", 30074, "'(' symbol expected, but ')' found at line 1, column 25"},
        {"CREATE TABLE T (A String, B Char)", 30074, "'(' symbol expected, but ',' found at line 1, column 25"},
    };
    for (const Case& c : cases) {
        const Failure failure = RunFailing(c.text);
        EXPECT_EQ(failure.code, c.code) << c.text;
        EXPECT_THAT(failure.message, HasSubstr(c.message)) << c.text;
        EXPECT_FALSE(Exists("T")) << c.text;
    }
}

TEST_F(DefinitionTest, DefaultAndNotNullOfACharColumn) {
    Run("CREATE TABLE T (ID Integer, Kind Char(45) DEFAULT 'Einzel' NOT NULL, Amount Integer DEFAULT 7)");
    {
        TABSTableHandle handle = Open("T");
        const TABSFieldDef& kind = handle->FieldDefs().FieldByName("Kind");
        EXPECT_EQ(kind.Size, 45);
        EXPECT_EQ(kind.DefaultValue.GetAsString(), "Einzel");
        const TABSFieldDef& amount = handle->FieldDefs().FieldByName("Amount");
        EXPECT_EQ(amount.DefaultValue.BaseType(), TABSBaseType::bftLargeInt);
        bool required = false;
        for (std::size_t i = 0; i < handle->ConstraintDefs().Count(); ++i) {
            const TABSConstraintDef& constraint = handle->ConstraintDefs()[i];
            required |= constraint.Kind() == TABSConstraintKind::NotNull &&
                        SameObjectName(static_cast<const TABSConstraintDefNotNull&>(constraint).FieldName(), "Kind");
        }
        EXPECT_TRUE(required);
    }
    Run("INSERT INTO T (ID) VALUES (1)");
    EXPECT_THAT(Rows("T"), ElementsAre(Row{"1", "Einzel", "7"}));
    EXPECT_EQ(RunFailing("INSERT INTO T (ID, Kind) VALUES (2, NULL)").code, 30330);
    EXPECT_EQ(RunFailing("UPDATE T SET Kind = ''").code, 30026);
    EXPECT_THAT(Rows("T"), ElementsAre(Row{"1", "Einzel", "7"}));
}

TEST_F(DefinitionTest, MinAndMaxValueBoundTheColumn) {
    Run("CREATE TABLE T (N Integer MINVALUE 1 MAXVALUE 10)");
    EXPECT_EQ(Run("INSERT INTO T VALUES (1), (10)"), 2);
    EXPECT_EQ(RunFailing("INSERT INTO T VALUES (11)").code, 30029);
    EXPECT_EQ(RunFailing("INSERT INTO T VALUES (0)").code, 30029);
    EXPECT_EQ(Rows("T").size(), 2u);
}

TEST_F(DefinitionTest, KeysGetEngineNamesAndRejectDuplicates) {
    Run("CREATE TABLE T (ID Char(10) PRIMARY KEY, Code Integer UNIQUE, Name Char(20), "
        "INDEX byName (Name DESC), UNIQUE INDEX byBoth (Name, Code))");
    EXPECT_THAT(IndexNames("T"), UnorderedElementsAre("C_PK$$ID", "C_Unique$$Code", "byName", "byBoth"));
    Run("INSERT INTO T VALUES ('a', 1, 'x')");
    EXPECT_EQ(RunFailing("INSERT INTO T VALUES ('a', 2, 'y')").code, 30319);
    EXPECT_EQ(RunFailing("INSERT INTO T VALUES ('b', 1, 'y')").code, 30320);
    EXPECT_EQ(Rows("T").size(), 1u);

    Run("CREATE TABLE U (A Integer, B Integer, PRIMARY KEY (A, B))");
    EXPECT_THAT(IndexNames("U"), ElementsAre("C_PK$$A$B"));
}

TEST_F(DefinitionTest, AutoincOptionsReachTheField) {
    Run("CREATE TABLE T (ID AutoInc(INCREMENT 5, INITIALVALUE 100), Name Char(5))");
    Run("INSERT INTO T (Name) VALUES ('a'), ('b')");
    EXPECT_THAT(Rows("T"), ElementsAre(Row{"105", "a"}, Row{"110", "b"}));
}

TEST_F(DefinitionTest, DropTable) {
    Run("CREATE TABLE T (N Integer)");
    EXPECT_EQ(Run("DROP TABLE T"), 0);
    EXPECT_FALSE(Exists("T"));
    EXPECT_EQ(Run("DROP TABLE IF EXISTS T"), 0);
    const Failure failure = RunFailing("DROP TABLE T");
    EXPECT_EQ(failure.code, 30249);
    EXPECT_THAT(failure.message, HasSubstr("Error dropping table: 'Table 'T' not exists."));
}

TEST_F(DefinitionTest, TruncateRemovesEveryRow) {
    Run("CREATE TABLE T (N Integer)");
    Run("INSERT INTO T VALUES (1), (2)");
    EXPECT_EQ(Run("TRUNCATE TABLE T"), 0);
    EXPECT_TRUE(Rows("T").empty());
    EXPECT_EQ(RunFailing("TRUNCATE Missing").code, 30250);
}

TEST_F(DefinitionTest, IndexesComeAndGo) {
    Run("CREATE TABLE T (N Integer, S Char(5))");
    Run("INSERT INTO T VALUES (1, 'a'), (1, 'b')");
    Run("CREATE INDEX byS ON T (S DESC)");
    EXPECT_THAT(IndexNames("T"), ElementsAre("byS"));
    // A unique index over repeated values cannot be made; nothing of it stays.
    EXPECT_EQ(RunFailing("CREATE UNIQUE INDEX byN ON T (N)").code, 30320);
    EXPECT_THAT(IndexNames("T"), ElementsAre("byS"));
    Run("DROP INDEX T.byS");
    EXPECT_TRUE(IndexNames("T").empty());
}

TEST_F(DefinitionTest, RenamesOfTablesAndColumns) {
    Run("CREATE TABLE T (N Integer, S Char(5))");
    Run("INSERT INTO T VALUES (1, 'a')");
    Run("RENAME TABLE T TO U");
    EXPECT_FALSE(Exists("T"));
    Run("ALTER TABLE U RENAME COLUMN S TO Text");
    Run("ALTER TABLE U RENAME TO V");
    EXPECT_THAT(FieldNames("V"), ElementsAre("N", "Text"));
    EXPECT_THAT(Rows("V"), ElementsAre(Row{"1", "a"}));

    const Failure missing = RunFailing("ALTER TABLE V RENAME COLUMN Nope TO X");
    EXPECT_EQ(missing.code, 30265);
    EXPECT_THAT(missing.message, HasSubstr("Error altering table: 'Field 'Nope' not found"));
    Run("ALTER TABLE V ADD (X Integer)");
    EXPECT_THAT(FieldNames("V"), ElementsAre("N", "Text", "X"));
}

TEST_F(DefinitionTest, TransactionStatementsNeedTheRightState) {
    EXPECT_EQ(RunFailing("COMMIT").code, 20229);
    EXPECT_EQ(RunFailing("ROLLBACK").code, 20229);
    Run("START TRANSACTION");
    const Failure twice = RunFailing("START TRANSACTION");
    EXPECT_EQ(twice.code, 20228);
    EXPECT_THAT(twice.message, HasSubstr("Database already in transaction"));

    const Failure create = RunFailing("CREATE TABLE T (N Integer)");
    EXPECT_EQ(create.code, 30248);
    EXPECT_THAT(create.message, HasSubstr("Error creating table: 'Cannot perform 'CreateTable' operation on a "
                                          "database in transaction - Native error: 20182"));
    Run("COMMIT FLUSH");
    EXPECT_FALSE(Exists("T"));
    EXPECT_EQ(Run("CREATE TABLE T (N Integer)"), 0);
    EXPECT_TRUE(Exists("T"));
}

} // namespace
} // namespace kova::dmltest
