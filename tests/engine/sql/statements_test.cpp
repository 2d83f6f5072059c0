// Statement parsing: every statement text the application issues parses (also split into
// lines the way the application's SQL helper splits them), the parsed structures hold what
// execution needs, and malformed statements fail with the dialect's codes and messages.
#include "engine/sql/ABSSQLDDL.h"
#include "engine/sql/ABSSQLErrors.h"
#include "engine/sql/ABSSQLModify.h"
#include "engine/sql/ABSSQLProcessor.h"
#include "engine/sql/ABSSQLSelect.h"
#include "sql_test_util.h"
#include "engine/application_statements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace kova {
namespace {

using sqltest::ErrorOf;
using sqltest::Render;

// The application's line splitting: a line break before the first " FROM ", the first
// " WHERE ", every " AND " and the first " ORDER BY " (found ignoring case).
std::string SplitLikeTheApplication(std::string text, std::string_view lineBreak) {
    auto findUpper = [](const std::string& s, std::string_view word, std::size_t from) {
        std::string upper(s);
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        return upper.find(word, from);
    };
    std::string out;
    auto splitOnce = [&](std::string_view word) {
        const std::size_t at = findUpper(text, word, 0);
        if (at == std::string::npos) return false;
        out += text.substr(0, at);
        out += lineBreak;
        text.erase(0, at + 1);
        return true;
    };
    splitOnce(" FROM ");
    splitOnce(" WHERE ");
    while (splitOnce(" AND ")) {
    }
    splitOnce(" ORDER BY ");
    return out + text;
}

using testdata::ApplicationStatementTexts;

class ApplicationStatements : public ::testing::TestWithParam<std::string> {};

TEST_P(ApplicationStatements, ParseAsOneStatementOnOneLineAndSplit) {
    for (const std::string& text : {GetParam(), SplitLikeTheApplication(GetParam(), "\r\n"),
                                    SplitLikeTheApplication(GetParam(), "\n")}) {
        TABSSQLProcessor processor(text);
        EXPECT_EQ(ErrorOf([&] { processor.ParseAll(); }), "no error") << text;
        EXPECT_EQ(processor.Statements().size(), 1u) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(All, ApplicationStatements, ::testing::ValuesIn(ApplicationStatementTexts()));

TEST(StatementSplitting, SplitFormHasOneLinePerClause) {
    EXPECT_EQ(SplitLikeTheApplication("SELECT * FROM Namen WHERE ID=\"N1\" AND AK=\"W41\" ORDER BY Name", "\n"),
              "SELECT *\nFROM Namen\nWHERE ID=\"N1\"\nAND AK=\"W41\"\nORDER BY Name");
}

// Fixture: parse one statement of a given kind.
template <class Statement>
const Statement& ParseOne(TABSSQLProcessor& processor) {
    processor.ParseAll();
    EXPECT_EQ(processor.Statements().size(), 1u);
    auto* statement = dynamic_cast<const Statement*>(processor.Statements().front().get());
    if (!statement) throw std::runtime_error("wrong statement kind");
    return *statement;
}

TEST(SelectStatement, ListQueryHoldsJoinAliasesWhereAndSort) {
    TABSSQLProcessor processor(
        "SELECT Name, Vorname, AK, Jahrgang, Disziplin1, Disziplin2, Disziplin3, Staffel, v.Schule, n.ID  FROM Namen n, "
        "Verein v WHERE v.ID = n.VereinId ORDER BY Jahrgang, Name DESC, 2");
    const auto& query = ParseOne<TABSSQLUnion>(processor).Query();
    ASSERT_TRUE(query.IsSelect());
    const auto& select = *query.select;
    ASSERT_EQ(select.items.size(), 10u);
    EXPECT_EQ(select.items[8].tableName, "v");
    EXPECT_EQ(select.items[8].columnName, "Schule");
    EXPECT_EQ(select.items[9].tableName, "n");
    EXPECT_EQ(select.items[9].columnName, "ID");
    ASSERT_EQ(select.from.size(), 2u);
    EXPECT_EQ(select.from[0].first.table.name, "Namen");
    EXPECT_EQ(select.from[0].first.alias, "n");
    EXPECT_EQ(select.from[1].first.QualifierName(), "v");
    // Two columns: SQL null semantics, so a registration without VereinId joins no school.
    EXPECT_EQ(Render(*select.where), "(= v.ID n.VereinId)");
    ASSERT_EQ(select.orderBy.size(), 3u);
    EXPECT_EQ(select.orderBy[0].name, "Jahrgang");
    EXPECT_TRUE(select.orderBy[1].descending);
    EXPECT_EQ(select.orderBy[2].position, 2);
}

TEST(SelectStatement, ClausesTopDistinctGroupHavingInto) {
    TABSSQLProcessor processor(
        "SELECT DISTINCT TOP 5, 3 AK, COUNT(*) AS Anzahl, MAX(Jahrgang) Juengster INTO MEMORY IMMEDIATE Tmp FROM Namen "
        "GROUP BY AK HAVING COUNT(*) > 1 ORDER BY t.AK ASC");
    const auto& select = *ParseOne<TABSSQLUnion>(processor).Query().select;
    EXPECT_TRUE(select.distinct);
    EXPECT_TRUE(select.top.given);
    EXPECT_EQ(select.top.count, 5);
    EXPECT_EQ(select.top.first, 3);
    EXPECT_EQ(select.items[1].alias, "Anzahl");
    EXPECT_TRUE(select.items[1].aggregate);
    EXPECT_EQ(select.items[2].alias, "Juengster");
    EXPECT_FALSE(select.items[0].aggregate);
    EXPECT_TRUE(select.into.given);
    EXPECT_TRUE(select.into.memory);
    EXPECT_TRUE(select.into.immediate);
    EXPECT_EQ(select.into.name, "Tmp");
    ASSERT_EQ(select.groupBy.size(), 1u);
    EXPECT_EQ(select.groupBy[0].name, "AK");
    EXPECT_EQ(Render(*select.having), "(> (op39) 1)");
    EXPECT_EQ(select.orderBy[0].qualifier, "t");
}

TEST(SelectStatement, JoinsSubqueriesAndStars) {
    TABSSQLProcessor processor(
        "SELECT n.*, x.c FROM Namen n LEFT OUTER JOIN Verein v ON v.ID = n.VereinId "
        "NATURAL INNER JOIN Klassen CROSS JOIN (SELECT 1 AS c FROM Wettkampf) AS x "
        "JOIN [Disziplinen] d USING (Kuerzel, Sort), MEMORY Temp PASSWORD 'pw'");
    const auto& select = *ParseOne<TABSSQLUnion>(processor).Query().select;
    EXPECT_TRUE(select.items[0].allColumns);
    EXPECT_EQ(select.items[0].tableName, "n");
    ASSERT_EQ(select.from.size(), 2u);
    const auto& joins = select.from[0].joins;
    ASSERT_EQ(joins.size(), 4u);
    EXPECT_EQ(joins[0].kind, TABSJoinKind::Left);
    ASSERT_TRUE(joins[0].on);
    EXPECT_EQ(joins[1].kind, TABSJoinKind::Inner);
    EXPECT_TRUE(joins[1].natural);
    EXPECT_EQ(joins[2].kind, TABSJoinKind::Cross);
    EXPECT_EQ(joins[2].right.kind, TABSTableRef::Kind::Subquery);
    EXPECT_EQ(joins[2].right.alias, "x");
    EXPECT_EQ(joins[3].right.table.name, "Disziplinen");
    EXPECT_EQ(joins[3].usingColumns, (std::vector<std::string>{"Kuerzel", "Sort"}));
    EXPECT_TRUE(select.from[1].first.table.memory);
    EXPECT_TRUE(select.from[1].first.table.password.given);
    EXPECT_EQ(select.from[1].first.table.password.text, "pw");
}

TEST(SelectStatement, SetOperationsGroupIntersectFirstAndTakeTheFinalOrder) {
    TABSSQLProcessor processor(
        "SELECT a FROM t UNION ALL SELECT a FROM u INTERSECT SELECT a FROM v EXCEPT SELECT a FROM w ORDER BY 1 DESC");
    const auto& query = ParseOne<TABSSQLUnion>(processor).Query();
    // ((t UNION ALL (u INTERSECT v)) EXCEPT w) ORDER BY 1 DESC
    ASSERT_FALSE(query.IsSelect());
    EXPECT_EQ(query.op, TABSSetOp::Except);
    ASSERT_EQ(query.orderBy.size(), 1u);
    EXPECT_TRUE(query.orderBy[0].descending);
    EXPECT_TRUE(query.right->select->orderBy.empty());
    const auto& unionPart = *query.left;
    EXPECT_EQ(unionPart.op, TABSSetOp::Union);
    EXPECT_TRUE(unionPart.all);
    EXPECT_EQ(unionPart.right->op, TABSSetOp::Intersect);
    std::vector<const TABSSelectClauses*> selects;
    query.CollectSelects(selects);
    ASSERT_EQ(selects.size(), 4u);
    EXPECT_EQ(selects[3]->from[0].first.table.name, "w");
}

TEST(InsertStatement, ColumnsRowsAndQueryForm) {
    TABSSQLProcessor processor("INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS)  VALUES(\"SPE\", 70020, "
                               "\"Speerwurf\", \"E\"), ('BAL', 1, 'Ball', NULL)");
    const auto& insert = ParseOne<TABSSQLInsert>(processor);
    EXPECT_EQ(insert.Table().name, "Disziplinen");
    EXPECT_EQ(insert.Columns(), (std::vector<std::string>{"Kuerzel", "Sort", "Disziplin", "EMS"}));
    ASSERT_EQ(insert.Rows().size(), 2u);
    EXPECT_EQ(Render(*insert.Rows()[0][1]), "70020");
    EXPECT_EQ(Render(*insert.Rows()[1][3]), "null");
    EXPECT_EQ(insert.Query(), nullptr);

    TABSSQLProcessor fromQuery("INSERT INTO Archiv (SELECT * FROM Namen WHERE AK = 'W41')");
    const auto& insertSelect = ParseOne<TABSSQLInsert>(fromQuery);
    EXPECT_TRUE(insertSelect.Columns().empty());
    ASSERT_NE(insertSelect.Query(), nullptr);
}

TEST(UpdateStatement, AssignmentsAndTheRowQueryBuiltFromItsTokens) {
    TABSSQLProcessor processor("UPDATE Namen n SET AK=\"\"WHERE ID=\"N1\" AND n.Jahrgang > 2000;");
    const auto& update = ParseOne<TABSSQLUpdate>(processor);
    EXPECT_EQ(update.Alias(), "n");
    ASSERT_EQ(update.Assignments().size(), 1u);
    EXPECT_EQ(update.Assignments()[0].column, "AK");
    EXPECT_EQ(Render(*update.Assignments()[0].value), "null");
    std::string tokens;
    for (const auto& t : update.RowQueryTokens().Tokens()) tokens += std::string(t.text) + " ";
    EXPECT_EQ(tokens, "select * from Namen n WHERE ID = N1 AND n . Jahrgang > 2000 ");
    const auto& select = *update.RowQuery().select;
    EXPECT_EQ(select.from[0].first.alias, "n");
    EXPECT_EQ(Render(*select.where), "(AND (=/n ID 'N1') (> n.Jahrgang 2000))");
}

TEST(UpdateStatement, WithoutWhereSelectsEveryRow) {
    TABSSQLProcessor processor("UPDATE Wettkampf SET WkJahr=\"2011\", Ort=\"Talheim\";");
    const auto& update = ParseOne<TABSSQLUpdate>(processor);
    EXPECT_EQ(update.Assignments().size(), 2u);
    EXPECT_EQ(update.Where(), nullptr);
    EXPECT_EQ(update.RowQuery().select->where, nullptr);
}

TEST(DeleteStatement, IsReadAsASelectOfTheSameRows) {
    TABSSQLProcessor processor("DELETE FROM Namen WHERE ID=\"N1\";");
    const auto& deletion = ParseOne<TABSSQLDelete>(processor);
    EXPECT_EQ(deletion.Target().table.name, "Namen");
    EXPECT_TRUE(deletion.RowQuery().select->items[0].allColumns);
    EXPECT_EQ(Render(*deletion.RowQuery().select->where), "(=/n ID 'N1')");
}

TEST(CreateTableStatement, SettingsTableColumns) {
    TABSSQLProcessor processor(
        "CREATE TABLE IF NOT EXISTS Settings (VarName Char(45), VarValue Extended, VarStr Char(255));");
    const auto& create = ParseOne<TABSDDLCreateTable>(processor);
    EXPECT_TRUE(create.IfNotExists());
    EXPECT_EQ(create.Table().name, "Settings");
    ASSERT_EQ(create.Fields().size(), 3u);
    EXPECT_EQ(create.Fields()[0].type, TABSColumnType::actChar);
    EXPECT_EQ(create.Fields()[0].size, 45);
    EXPECT_EQ(create.Fields()[1].type, TABSColumnType::actExtended);
    EXPECT_EQ(create.Fields()[1].size, 0);
    EXPECT_EQ(create.Fields()[2].size, 255);
}

TEST(CreateTableStatement, ColumnOptionsAndIndexElements) {
    TABSSQLProcessor processor(
        "CREATE TABLE MEMORY Test PASSWORD \"x\" ("
        " ID AutoInc(LargeInt, INCREMENT 2, STARTVALUE 10, MAXVALUE 100, CYCLED) PRIMARY KEY,"
        " Name Char(45) DEFAULT 'Anna' NOT NULL UNIQUE,"
        " Stamp DateTime DEFAULT 'now',"
        " Menge Integer DEFAULT -3 MINVALUE 0 MAXVALUE 99,"
        " Preis Float DEFAULT 2.5,"
        " Bild Blob BLOBBLOCKSIZE 4096 BLOBCOMPRESSIONMODE 9 BLOBCOMPRESSIONALGORITHM ZLIB,"
        " PRIMARY KEY pk (ID DESC, Name NOCASE),"
        " UNIQUE INDEX ByName (Name),"
        " INDEX ByStamp (Stamp ASC))");
    const auto& create = ParseOne<TABSDDLCreateTable>(processor);
    EXPECT_TRUE(create.Table().memory);
    EXPECT_EQ(create.Table().password.text, "x");
    const auto& f = create.Fields();
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[0].type, TABSColumnType::actAutoIncLargeInt);
    EXPECT_EQ(f[0].increment, 2);
    EXPECT_EQ(f[0].initialValue, 10);
    EXPECT_TRUE(f[0].hasAutoIncMax);
    EXPECT_TRUE(f[0].cycled);
    EXPECT_TRUE(f[1].required);
    EXPECT_TRUE(f[1].hasDefault);
    EXPECT_EQ(f[1].defaultValue.GetAsString(), "Anna");
    EXPECT_TRUE(f[2].defaultIsNow);
    EXPECT_EQ(f[3].defaultValue.BaseType(), TABSBaseType::bftLargeInt);
    EXPECT_EQ(f[3].defaultValue.GetAsLargeInt(), -3);
    EXPECT_EQ(f[3].minValue.GetAsLargeInt(), 0);
    EXPECT_EQ(f[3].maxValue.GetAsLargeInt(), 99);
    EXPECT_EQ(f[4].type, TABSColumnType::actDouble);
    EXPECT_EQ(f[4].defaultValue.BaseType(), TABSBaseType::bftDouble);
    EXPECT_EQ(f[5].blobBlockSize, 4096);
    EXPECT_EQ(f[5].blobCompressionMode, 9);
    EXPECT_EQ(f[5].blobCompressionAlgorithmId, 1);

    const auto& ix = create.Indexes();
    ASSERT_EQ(ix.size(), 5u);
    EXPECT_TRUE(ix[0].primary);  // column-level PRIMARY KEY of ID
    EXPECT_EQ(EngineIndexName(ix[0]), "C_PK$$ID");
    EXPECT_TRUE(ix[1].unique);  // column-level UNIQUE of Name
    EXPECT_EQ(EngineIndexName(ix[1]), "C_Unique$$Name");
    EXPECT_EQ(ix[2].name, "pk");
    EXPECT_TRUE(ix[2].columns[0].descending);
    EXPECT_TRUE(ix[2].columns[1].caseInsensitive);
    EXPECT_TRUE(ix[3].unique);
    EXPECT_EQ(ix[3].name, "ByName");
    EXPECT_FALSE(ix[4].unique);
    EXPECT_EQ(ix[4].name, "ByStamp");
}

TEST(OtherStatements, ParseTheirForms) {
    struct Case {
        const char* sql;
        TABSStatementKind kind;
    };
    for (const Case c : {Case{"CREATE UNIQUE INDEX ix ON Namen (Name DESC, Vorname NOCASE)", TABSStatementKind::CreateIndex},
                         Case{"CREATE INDEX ix ON Namen (Name)", TABSStatementKind::CreateIndex},
                         Case{"DROP TABLE IF EXISTS Settings", TABSStatementKind::DropTable},
                         Case{"DROP INDEX Namen.ix PASSWORD 'p'", TABSStatementKind::DropIndex},
                         Case{"ALTER TABLE Namen ADD (Email IF NOT EXISTS String(80), Alter Integer)",
                              TABSStatementKind::AlterTable},
                         Case{"ALTER TABLE Namen DROP (Email, Alter)", TABSStatementKind::AlterTable},
                         Case{"ALTER TABLE Namen MODIFY (Name String(60) NOT NULL)", TABSStatementKind::AlterTable},
                         Case{"ALTER TABLE Namen RENAME COLUMN Name TO Nachname", TABSStatementKind::AlterTable},
                         Case{"ALTER TABLE Namen RENAME TO Athleten", TABSStatementKind::AlterTable},
                         Case{"RENAME TABLE Namen TO Athleten", TABSStatementKind::RenameTable},
                         Case{"RENAME Namen TO Athleten", TABSStatementKind::RenameTable},
                         Case{"TRUNCATE TABLE Namen", TABSStatementKind::TruncateTable},
                         Case{"TRUNCATE Namen", TABSStatementKind::TruncateTable},
                         Case{"START TRANSACTION", TABSStatementKind::StartTransaction},
                         Case{"COMMIT FLUSH", TABSStatementKind::Commit},
                         Case{"ROLLBACK", TABSStatementKind::Rollback},
                         Case{"(SELECT 1 FROM t)", TABSStatementKind::Query}}) {
        TABSSQLProcessor processor(c.sql);
        EXPECT_EQ(ErrorOf([&] { processor.ParseAll(); }), "no error") << c.sql;
        ASSERT_EQ(processor.Statements().size(), 1u) << c.sql;
        EXPECT_EQ(processor.Statements()[0]->Kind(), c.kind) << c.sql;
    }
    TABSSQLProcessor alter("ALTER TABLE Namen RENAME COLUMN Name TO Nachname");
    const auto& rename = ParseOne<TABSDDLAlterTable>(alter);
    EXPECT_EQ(rename.GetAction(), TABSDDLAlterTable::Action::RenameColumn);
    EXPECT_EQ(rename.OldName(), "Name");
    EXPECT_EQ(rename.NewName(), "Nachname");
    TABSSQLProcessor add("ALTER TABLE Namen ADD (Email IF NOT EXISTS String(80), Alter Integer)");
    const auto& added = ParseOne<TABSDDLAlterTable>(add);
    ASSERT_EQ(added.Fields().size(), 2u);
    EXPECT_TRUE(added.Fields()[0].ifNotExists);
}

struct ErrorCase {
    const char* sql;
    const char* expected;  // "code: message"
};

class StatementErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(StatementErrors, FailWithCodeMessageAndPosition) {
    TABSSQLProcessor processor(GetParam().sql);
    EXPECT_EQ(ErrorOf([&] { processor.ParseAll(); }), GetParam().expected) << GetParam().sql;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StatementErrors,
    ::testing::Values(
        ErrorCase{";", "30145: Blank SQL command"},
        ErrorCase{"-- nothing", "30145: Blank SQL command"},
        ErrorCase{"SELEC * FROM t", "30154: SQL token expected, but 'SELEC' found at line 1, column 1"},
        ErrorCase{"WHERE a = 1", "30153: SQL token expected, but 'WHERE' found at line 1, column 1"},
        ErrorCase{"CREATE VIEW v", "30147: Object type keyword expected, but 'VIEW' found at line 1, column 8"},
        ErrorCase{"CREATE", "30148: Unexpected end of SQL command found at line 1, column 1"},
        ErrorCase{"DROP Namen", "30149: Object type keyword expected, but 'Namen' found at line 1, column 6"},
        ErrorCase{"DROP", "30150: Unexpected end of SQL command found at line 1, column 1"},
        ErrorCase{"ALTER INDEX x", "30151: Object type keyword expected, but 'INDEX' found at line 1, column 7"},
        ErrorCase{"ALTER", "30152: Unexpected end of SQL command found at line 1, column 1"},
        ErrorCase{"SELECT FROM t", "30069: Field list expected, but 'FROM' found at line 1, column 8"},
        ErrorCase{"SELECT a, FROM t", "30070: Field name expected, but 'FROM' found at line 1, column 11"},
        ErrorCase{"SELECT ) FROM t", "30060: Unexpected symbol ')' found at line 1, column 8"},
        ErrorCase{"SELECT = FROM t", "30067: Expression expected, but '=' found at line 1, column 8"},
        ErrorCase{"SELECT a AS FROM t", "30068: Field pseudonym expected, but 'FROM' found at line 1, column 13"},
        ErrorCase{"SELECT a b c", "30063: Token 'FROM' expected, but 'c' found at line 1, column 12"},
        ErrorCase{"SELECT a", "30080: Unexpected end of SQL command found at line 1, column 8"},
        ErrorCase{"SELECT a FROM", "30080: Unexpected end of SQL command found at line 1, column 10"},
        ErrorCase{"SELECT a FROM ,", "30071: Table name expected, but ',' found at line 1, column 15"},
        ErrorCase{"SELECT TOP x a FROM t", "30065: Integer expected, but 'x' found at line 1, column 12"},
        ErrorCase{"SELECT a FROM t GROUP a", "30063: Token 'BY' expected, but 'a' found at line 1, column 23"},
        ErrorCase{"SELECT a FROM t ORDER a", "30063: Token 'BY' expected, but 'a' found at line 1, column 23"},
        ErrorCase{"SELECT a FROM t ORDER BY ,", "30072: Sort specification expected, but ',' found at line 1, column 26"},
        ErrorCase{"SELECT a FROM t x y", "20260: End of SQL command expected, but 'y' found at line 1, column 19"},
        ErrorCase{"SELECT a FROM t\nWHERE a = 1 b", "20260: End of SQL command expected, but 'b' found at line 2, column 13"},
        ErrorCase{"SELECT a FROM t WHERE 'a'", "30066: Boolean expression expected, but 'a' found at line 1, column 23"},
        ErrorCase{"SELECT a FROM t WHERE a + 1", "30066: Boolean expression expected, but 'a' found at line 1, column 23"},
        ErrorCase{"SELECT a FROM t WHERE a = 1 AND", "30080: Unexpected end of SQL command found at line 1, column 29"},
        ErrorCase{"SELECT a FROM t LEFT t2", "30063: Token 'JOIN' expected, but 't2' found at line 1, column 22"},
        ErrorCase{"SELECT a FROM t OUTER JOIN u", "30246: Unexpected token 'OUTER' found at line 1, column 17"},
        ErrorCase{"SELECT a FROM t NATURAL CROSS JOIN u", "30246: Unexpected token 'CROSS' found at line 1, column 25"},
        ErrorCase{"SELECT a FROM t CROSS LEFT JOIN u", "30246: Unexpected token 'LEFT' found at line 1, column 23"},
        ErrorCase{"SELECT a FROM t PASSWORD x", "30064: Quoted password expected (for PASSWORD \"passwordData\"), but 'x' "
                                                "found at line 1, column 26"},
        ErrorCase{"SELECT a INTO x FROM t UNION SELECT a FROM u",
                  "20272: UNION subselect cannot contain INTO caluse. Use SELECT * INTO table FROM (select ... union "
                  "select ...) instead"},
        ErrorCase{"SELECT a FROM t UNION a", "30063: Token 'SELECT' expected, but 'a' found at line 1, column 23"},
        ErrorCase{"INSERT Namen VALUES (1)", "30063: Token 'INTO' expected, but 'Namen' found at line 1, column 8"},
        ErrorCase{"INSERT INTO Namen (ID, Name) VALUES(\"N1\")",
                  "20259: Number of field names doesn't equal to the number of field values: 2 <> 1. Found at line 1, "
                  "column 36"},
        ErrorCase{"INSERT INTO Namen (ID Name) VALUES(1)",
                  "30073: ')' or ',' symbol expected, but 'Name' found at line 1, column 23"},
        ErrorCase{"INSERT INTO Namen (ID,) VALUES(1)", "30070: Field name expected, but ')' found at line 1, column 23"},
        ErrorCase{"INSERT INTO Namen (ID) VALUES 1", "30074: '(' symbol expected, but '1' found at line 1, column 31"},
        ErrorCase{"INSERT INTO Namen (ID) VALUES(,)", "30357: Error parsing parameter ',' at line 1, column 31"},
        // The import's UPDATE with an empty year of birth.
        ErrorCase{"UPDATE Namen SET Name=\"A\",Jahrgang=,AK=\"K\" WHERE ID=\"N1\";",
                  "30067: Expression expected, but ',' found at line 1, column 36"},
        ErrorCase{"UPDATE Namen AK=\"\"", "30063: Token 'SET' expected, but '=' found at line 1, column 16"},
        ErrorCase{"UPDATE Namen SET AK \"\"", "30063: Token '=' expected, but '' found at line 1, column 21"},
        ErrorCase{"DELETE Namen WHERE ID=1", "30063: Token 'FROM' expected, but 'Namen' found at line 1, column 8"},
        ErrorCase{"CREATE TABLE t (a TEXT)", "30232: Unknown field type 'TEXT' at line 1, column 19"},
        ErrorCase{"CREATE TABLE t (a String)", "30074: '(' symbol expected, but ')' found at line 1, column 25"},
        ErrorCase{"CREATE TABLE t (a Char(x))", "30081: Decimal constant expected, but 'x' found at line 1, column 24"},
        ErrorCase{"CREATE TABLE t (a)", "30077: Field type expected, but ')' found at line 1, column 18"},
        ErrorCase{"CREATE TABLE t (a Integer b)", "30073: ')' or ',' symbol expected, but 'b' found at line 1, column 27"},
        ErrorCase{"CREATE TABLE t (a Integer) x", "30246: Unexpected token 'x' found at line 1, column 28"},
        ErrorCase{"CREATE TABLE t a Integer", "30063: Token '(' expected, but 'a' found at line 1, column 16"},
        ErrorCase{"CREATE TABLE IF EXISTS t (a Integer)", "30063: Token 'NOT' expected, but 'EXISTS' found at line 1, column 17"},
        ErrorCase{"CREATE TABLE t (a Integer, UNIQUE x (a))",
                  "30075: 'INDEX' keyword expected, but 'x' found at line 1, column 35"},
        ErrorCase{"CREATE TABLE t (a Integer, INDEX (a))", "30076: index name expected, but '(' found at line 1, column 34"},
        ErrorCase{"CREATE TABLE t (a AutoInc(Real))", "30082: Unsupported Autoinc DataType (Real) found at line 1, column 27"},
        ErrorCase{"CREATE INDEX ix Namen (a)", "30079: 'ON' keyword expected, but 'Namen' found at line 1, column 17"},
        ErrorCase{"ALTER TABLE t CHANGE a", "30078: ADD, DROP or MODIFY keyword expected, but 'CHANGE' found at line 1, column 15"},
        ErrorCase{"ALTER TABLE t RENAME a b", "30063: Token 'TO' expected, but 'b' found at line 1, column 24"},
        ErrorCase{"START WORK", "30063: Token 'TRANSACTION' expected, but 'WORK' found at line 1, column 7"},
        ErrorCase{"COMMIT WORK", "20260: End of SQL command expected, but 'WORK' found at line 1, column 8"}));

TEST(Processor, ParsesAndExecutesStatementsInOrder) {
    // Records each statement it is given; fails on the second.
    class Recorder final : public TABSSQLExecutor {
    public:
        std::int64_t Execute(TABSSQLStatement& statement) override {
            kinds.push_back(statement.Kind());
            return 2;
        }
        std::vector<TABSStatementKind> kinds;
    };
    Recorder recorder;
    TABSSQLProcessor processor("DELETE FROM Namen WHERE ID=\"N1\"; UPDATE Namen SET AK=\"\";; SELECT * FROM Namen;");
    EXPECT_EQ(processor.Run(recorder), 6);
    EXPECT_EQ(recorder.kinds, (std::vector<TABSStatementKind>{TABSStatementKind::Delete, TABSStatementKind::Update,
                                                              TABSStatementKind::Query}));
    ASSERT_NE(processor.LastStatement(), nullptr);
    EXPECT_EQ(processor.LastStatement()->Kind(), TABSStatementKind::Query);

    // A parse error in the second statement comes after the first one ran.
    Recorder partial;
    TABSSQLProcessor broken("DELETE FROM Namen; SELECT FROM Namen");
    EXPECT_EQ(ErrorOf([&] { (void)broken.Run(partial); }),
              "30069: Field list expected, but 'FROM' found at line 1, column 27");
    EXPECT_EQ(partial.kinds.size(), 1u);

    TABSUnavailableExecutor unavailable;
    TABSSQLProcessor any("SELECT * FROM Namen");
    EXPECT_EQ(ErrorOf([&] { (void)any.Run(unavailable); }), "30093: Execution of 'SELECT' statements is not available");
}

TEST(Processor, ParameterValuesServeAsNamesPasswordsAndConstants) {
    TABSSQLProcessor processor("SELECT * FROM :tab PASSWORD :pw WHERE ID = :id AND Jahr > :p4");
    std::vector<TABSSQLParam> params(4);
    params[0].SetName("tab");
    params[0].SetAsString("Namen");
    params[1].SetName("pw");
    params[1].SetAsString("geheim");
    params[2].SetName("id");
    params[2].SetAsString("N1");
    params[3].SetName("p4");
    params[3].SetAsInteger(1999);
    processor.SetParams(params);
    const auto& select = *ParseOne<TABSSQLUnion>(processor).Query().select;
    EXPECT_EQ(select.from[0].first.table.name, "Namen");
    EXPECT_EQ(select.from[0].first.table.password.text, "geheim");
    EXPECT_EQ(Render(*select.where), "(AND (=/n ID 'N1') (> Jahr 1999))");
}

} // namespace
} // namespace kova
