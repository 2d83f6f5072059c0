// INSERT, UPDATE and DELETE against a database file and the MEMORY database.
#include "dml_test_support.h"

#include "engine/core/FormatSettings.h"
#include "engine/sql/ABSRelationalAlgebra.h"
#include "engine/storage/ABSTableLocks.h"

#include <gmock/gmock.h>

namespace kova::dmltest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ModifyTest : public DmlTest {
protected:
    void SetUp() override {
        DmlTest::SetUp();
        Run("CREATE TABLE Settings (VarName Char(45), VarValue Extended, VarStr Char(255));"
            "CREATE TABLE Namen (ID Char(9), Name Char(20), AK Char(10), Jahr Integer)");
    }

    void AddNamen() {
        Run(R"(INSERT INTO Namen VALUES ("N1", "Adler", "WK1", 2010), ("N2", "Bauer", "WK2", 2011),)"
            R"( ("N3", "Claus", "WK2", 2012))");
    }
};

TEST_F(ModifyTest, InsertFillsListedColumnsAndLeavesTheRestNull) {
    EXPECT_EQ(Run(R"(INSERT INTO Settings (VarName, VarStr) VALUES ("MaxStaffelPerName", "x"))"), 1);
    EXPECT_THAT(Rows("Settings"), ElementsAre(Row{"MaxStaffelPerName", kNull, "x"}));
}

TEST_F(ModifyTest, InsertWithoutColumnListFillsByPositionAndCountsEveryRow) {
    EXPECT_EQ(Run(R"(INSERT INTO Namen VALUES ("N1", "Adler", "WK1", 2010), ("N2", "Bauer", NULL, 2011))"), 2);
    EXPECT_THAT(Rows("Namen"), ElementsAre(Row{"N1", "Adler", "WK1", "2010"}, Row{"N2", "Bauer", kNull, "2011"}));
}

TEST_F(ModifyTest, ValuesTakeTheColumnsKind) {
    // Text into Extended and Integer, a number into Char, the empty text as null.
    Run(R"(INSERT INTO Settings (VarName, VarValue, VarStr) VALUES (12, "3", ""))");
    Run(R"(INSERT INTO Namen (ID, Jahr) VALUES ("N1", "2010"))");
    const TABSVariant value = FirstValue("Settings", "VarValue");
    EXPECT_EQ(value.BaseType(), TABSBaseType::bftExtended);
    EXPECT_EQ(value.GetAsExtended(), 3.0L);
    EXPECT_THAT(Rows("Settings"), ElementsAre(Row{"12", "3", kNull}));
    EXPECT_EQ(FirstValue("Namen", "Jahr").GetAsInteger(), 2010);
}

TEST_F(ModifyTest, EachColumnKindTakesValuesItsOwnWay) {
    Run("CREATE TABLE Kinds (I Integer, L LargeInt, D Date, E Extended, S Char(3), W SmallInt)");
    struct Case {
        const char* column;
        const char* literal;
        const char* stored;  // nullptr: fails with `code`
        int code;
    };
    const Case cases[] = {
        {"I", "7.9", "7", 0},            // floats are cut toward zero
        {"I", "-7.9", "-7", 0},
        {"I", "'42'", "42", 0},
        {"I", "'4x'", nullptr, 30051},
        {"L", "'9000000000'", "9000000000", 0},
        {"E", "2", "2", 0},
        {"S", "'abcdef'", "abc", 0},
        {"S", "12345", "123", 0},
        {"W", "'17'", "17", 0},
        {"W", "'x'", nullptr, 30051},
    };
    for (const Case& c : cases) {
        Run("DELETE FROM Kinds");
        const std::string text = std::string("INSERT INTO Kinds (") + c.column + ") VALUES (" + c.literal + ")";
        if (c.stored == nullptr) {
            EXPECT_EQ(RunFailing(text).code, c.code) << text;
            EXPECT_TRUE(Rows("Kinds").empty()) << text;
            continue;
        }
        Run(text);
        EXPECT_EQ(FirstValue("Kinds", c.column).GetAsString(), c.stored) << text;
    }
    // A date column takes the value as a date-time and keeps its day.
    Run("DELETE FROM Kinds");
    Run("INSERT INTO Kinds (D) VALUES ('2011-05-03 10:30:00')");
    EXPECT_EQ(FirstValue("Kinds", "D").GetAsDate(), *TryParseIsoDate("2011-05-03"));
}

TEST_F(ModifyTest, TextIntoFloatColumnUsesTheProcessDecimalSeparator) {
    TFormatSettings german = *GetFormatSettings();
    german.DecimalSeparator = ',';
    SetFormatSettings(german);
    const Failure pointInGermany = RunFailing(R"(INSERT INTO Settings (VarValue) VALUES ("2.5"))");
    Run(R"(INSERT INTO Settings (VarValue) VALUES ("2,5"))");
    ResetFormatSettings();
    EXPECT_EQ(pointInGermany.code, 30092);
    EXPECT_THAT(pointInGermany.message, HasSubstr("'2.5' is not a valid floating point value"));
    EXPECT_EQ(FirstValue("Settings", "VarValue").GetAsExtended(), 2.5L);
}

TEST_F(ModifyTest, LongTextIsCutToTheColumnSize) {
    const std::string text46(46, 'a');
    Run("INSERT INTO Settings (VarName) VALUES ('" + text46 + "')");
    // Multi-byte characters count as one each.
    Run("INSERT INTO Namen (Name) VALUES ('" + std::string(19, 'x') + "\xC3\xA4\xC3\xB6')");
    EXPECT_EQ(Rows("Settings")[0][0], std::string(45, 'a'));
    EXPECT_EQ(Rows("Namen")[0][1], std::string(19, 'x') + "\xC3\xA4");
}

TEST_F(ModifyTest, UnsetParameterIsReportedWithColumnAndType) {
    const Failure failure = RunFailing("INSERT INTO Namen (ID, Jahr) VALUES ('N1', :p)", {TABSSQLParam("p")});
    EXPECT_EQ(failure.code, 30356);
    EXPECT_THAT(failure.message, HasSubstr("Parameter Value undefined (FieldName='Jahr', Type='INTEGER')"));
    EXPECT_TRUE(Rows("Namen").empty());
}

TEST_F(ModifyTest, FailingInsertKeepsTheRowsPostedBeforeIt) {
    Run("CREATE TABLE Keyed (ID Integer PRIMARY KEY, Name Char(10))");
    const Failure failure = RunFailing("INSERT INTO Keyed VALUES (1, 'a'), (2, 'b'), (1, 'c')");
    EXPECT_EQ(failure.code, 30319);
    EXPECT_THAT(Rows("Keyed"), ElementsAre(Row{"1", "a"}, Row{"2", "b"}));
}

TEST_F(ModifyTest, UnknownColumnOrMissingTableFail) {
    EXPECT_EQ(RunFailing("INSERT INTO Namen (Nope) VALUES (1)").code, 30404);
    EXPECT_EQ(RunFailing("INSERT INTO Missing VALUES (1)").code, 30396);
}

TEST_F(ModifyTest, UpdateSetsTextAsNumberAndEmptyTextAsNull) {
    AddNamen();
    Run(R"(INSERT INTO Settings (VarName, VarValue) VALUES ("MaxNamenPerAKMitDisz", 12))");
    EXPECT_EQ(Run(R"(UPDATE Settings SET VarValue="5" WHERE VarName="MaxNamenPerAKMitDisz")"), 1);
    EXPECT_EQ(FirstValue("Settings", "VarValue").GetAsExtended(), 5.0L);

    // The application's statement: an empty literal directly followed by WHERE.
    EXPECT_EQ(Run(R"(UPDATE Namen SET AK=""WHERE ID="N2")"), 1);
    EXPECT_THAT(Rows("Namen"), ElementsAre(Row{"N1", "Adler", "WK1", "2010"}, Row{"N2", "Bauer", kNull, "2011"},
                                           Row{"N3", "Claus", "WK2", "2012"}));
}

TEST_F(ModifyTest, UpdateAndDeleteWithoutMatchAffectNothing) {
    AddNamen();
    EXPECT_EQ(Run("UPDATE Namen SET AK = 'X' WHERE ID = 'none'"), 0);
    EXPECT_EQ(Run("DELETE FROM Namen WHERE ID = 'none'"), 0);
    EXPECT_EQ(Rows("Namen").size(), 3u);
}

TEST_F(ModifyTest, UpdateReadsTheRowAsItWasForEveryAssignment) {
    AddNamen();
    // Swapping two columns needs both new values computed from the old row.
    EXPECT_EQ(Run("UPDATE Namen n SET Name = n.AK, AK = Name, Jahr = Jahr + 1 WHERE n.ID = 'N1'"), 1);
    EXPECT_EQ(Rows("Namen")[0], (Row{"N1", "WK1", "Adler", "2011"}));
}

TEST_F(ModifyTest, UpdateOfItsOwnWhereColumnChangesEachRowOnce) {
    AddNamen();
    EXPECT_EQ(Run("UPDATE Namen SET Jahr = Jahr + 1 WHERE Jahr >= 2011"), 2);
    // Growing a text may move a record further on in the scan; it is still changed once.
    EXPECT_EQ(Run("UPDATE Namen SET AK = AK + 'x' WHERE AK LIKE 'WK2%'"), 2);
    EXPECT_THAT(Rows("Namen"), ElementsAre(Row{"N1", "Adler", "WK1", "2010"}, Row{"N2", "Bauer", "WK2x", "2012"},
                                           Row{"N3", "Claus", "WK2x", "2013"}));
}

TEST_F(ModifyTest, UpdateFailingOnItsThirdRowChangesNothingAfterFifteenAttempts) {
    Run("CREATE TABLE Numbers (N Integer, S Char(5))");
    Run("INSERT INTO Numbers VALUES (1, '10'), (2, '20'), (3, 'x'), (4, '40')");
    const Failure failure = RunFailing("UPDATE Numbers SET N = S");
    EXPECT_EQ(failure.code, 30051);
    EXPECT_THAT(Rows("Numbers"), ElementsAre(Row{"1", "10"}, Row{"2", "20"}, Row{"3", "x"}, Row{"4", "40"}));
    // 15 attempts: a pause of 100 ms between each two.
    EXPECT_EQ(sleeps_, std::vector<int>(14, 100));
}

TEST_F(ModifyTest, UpdateOfMemoryTableIsUndoneLikeOneOfTheFile) {
    Run("CREATE TABLE MEMORY Numbers (N Integer, S Char(5), M Memo)");
    Run("INSERT INTO MEMORY Numbers VALUES (1, '10', 'one'), (2, '20', 'two'), (3, 'x', 'three')");
    EXPECT_EQ(RunFailing("UPDATE MEMORY Numbers SET N = S, M = 'changed'").code, 30051);
    EXPECT_THAT(Rows("Numbers", true), ElementsAre(Row{"1", "10", "one"}, Row{"2", "20", "two"},
                                                   Row{"3", "x", "three"}));
    EXPECT_EQ(sleeps_.size(), 14u);
    EXPECT_EQ(Run("UPDATE MEMORY Numbers SET M = 'new' WHERE N < 3"), 2);
    EXPECT_EQ(Rows("Numbers", true)[1], (Row{"2", "20", "new"}));
}

TEST_F(ModifyTest, UpdateViolatingAKeyLeavesEveryRowAsItWas) {
    Run("CREATE TABLE Keyed (ID Integer PRIMARY KEY, Name Char(10))");
    Run("INSERT INTO Keyed VALUES (1, 'a'), (2, 'b'), (3, 'c')");
    EXPECT_EQ(RunFailing("UPDATE Keyed SET ID = 2, Name = 'z' WHERE ID <> 2").code, 30319);
    EXPECT_THAT(Rows("Keyed"), ElementsAre(Row{"1", "a"}, Row{"2", "b"}, Row{"3", "c"}));
}

TEST_F(ModifyTest, DeleteCountsTheRowsItRemoves) {
    AddNamen();
    EXPECT_EQ(Run("DELETE FROM Namen WHERE AK = 'WK2'"), 2);
    EXPECT_THAT(Rows("Namen"), ElementsAre(Row{"N1", "Adler", "WK1", "2010"}));
    EXPECT_EQ(Run("DELETE FROM Namen n WHERE n.ID = 'N1'"), 1);
    AddNamen();
    EXPECT_EQ(Run("DELETE FROM Namen"), 3);
    EXPECT_TRUE(Rows("Namen").empty());
}

TEST_F(ModifyTest, DeleteFromMemoryTableDropsItsBlobValuesToo) {
    Run("CREATE TABLE MEMORY M (N Integer, T Memo)");
    Run("INSERT INTO MEMORY M VALUES (1, 'eins'), (2, 'zwei'), (0, 'null')");
    // A WHERE that fails while rows are being selected deletes nothing.
    EXPECT_EQ(RunFailing("DELETE FROM MEMORY M WHERE 10 / N > 1").code, 30128);
    EXPECT_EQ(Rows("M", true).size(), 3u);
    EXPECT_EQ(Run("DELETE FROM MEMORY M WHERE N > 0"), 2);
    EXPECT_THAT(Rows("M", true), ElementsAre(Row{"0", "null"}));
}

TEST_F(ModifyTest, InsertSelectCopiesTheQueryRowsByListOrPosition) {
    AddNamen();
    EXPECT_EQ(Run("INSERT INTO Settings (VarStr, VarName) SELECT Name, ID FROM Namen WHERE AK = 'WK2'"), 2);
    EXPECT_THAT(Rows("Settings"), ElementsAre(Row{"N2", kNull, "Bauer"}, Row{"N3", kNull, "Claus"}));
    // A table filled from itself sees only the rows it had when the statement began.
    EXPECT_EQ(Run("INSERT INTO Namen SELECT ID, Name, AK, Jahr + 100 FROM Namen"), 3);
    EXPECT_EQ(Rows("Namen").size(), 6u);
    EXPECT_EQ(Rows("Namen")[5], (Row{"N3", "Claus", "WK2", "2112"}));
    EXPECT_TRUE(TemporaryDatabase().TableNames().empty());
}

TEST_F(ModifyTest, InsertSelectThatFailsInsertsNoRowAndDropsItsCopy) {
    AddNamen();
    Run("CREATE TABLE Keyed (ID Char(9) PRIMARY KEY, AK Char(10))");
    Run("INSERT INTO Keyed VALUES ('WK2', 'x')");
    const Failure failure = RunFailing("INSERT INTO Keyed SELECT AK, ID FROM Namen");
    EXPECT_EQ(failure.code, 30319);
    EXPECT_THAT(Rows("Keyed"), ElementsAre(Row{"WK2", "x"}));
    EXPECT_TRUE(TemporaryDatabase().TableNames().empty());
}

TEST_F(ModifyTest, UpdateFromASubquery) {
    AddNamen();
    Run("INSERT INTO Settings (VarName, VarValue, VarStr) VALUES ('Limit', 2011, 'Zed')");
    EXPECT_EQ(Run("UPDATE Namen SET (Name, Jahr) = (SELECT VarStr, VarValue FROM Settings WHERE VarName = 'Limit') "
                  "WHERE ID = 'N1'"),
              1);
    EXPECT_EQ(Run("UPDATE Namen SET AK = 'OLD' WHERE Jahr < (SELECT MAX(VarValue) FROM Settings)"), 0);
    EXPECT_EQ(Run("UPDATE Namen SET AK = 'OLD' WHERE ID IN (SELECT ID FROM Namen WHERE Jahr = 2011)"), 2);
    EXPECT_THAT(Rows("Namen"), ElementsAre(Row{"N1", "Zed", "OLD", "2011"}, Row{"N2", "Bauer", "OLD", "2011"},
                                           Row{"N3", "Claus", "WK2", "2012"}));
}

// Subqueries that read the row being changed, and DELETE through a join: each case starts from
// the same four registrations (N4's class is unknown) and two classes.
TEST_F(ModifyTest, StatementsSeeTheRowTheyChange) {
    Run("CREATE TABLE Klassen (Kuerzel Char(10), Titel Char(10), Bis Integer)");
    struct Case {
        const char* statement;
        std::int64_t affected;
        const char* table;  // whose rows are expected afterwards
        std::vector<Row> rows;
    };
    const Row n1{"N1", "Adler", "WK1", "2010"};
    const Row n2{"N2", "Bauer", "WK2", "2011"};
    const Row n3{"N3", "Claus", "WK2", "2012"};
    const Row n4{"N4", "Dorn", "WK9", "2013"};
    const Case cases[] = {
        // Without alias the table name qualifies the outer column; no class row gives null.
        {"UPDATE Namen SET Name = (SELECT k.Titel FROM Klassen k WHERE k.Kuerzel = Namen.AK)", 4, "Namen",
         {{"N1", "Eins", "WK1", "2010"}, {"N2", "Zwei", "WK2", "2011"}, {"N3", "Zwei", "WK2", "2012"},
          {"N4", kNull, "WK9", "2013"}}},
        {"UPDATE Namen n SET Jahr = (SELECT MAX(k.Bis) FROM Klassen k WHERE k.Kuerzel = n.AK) "
         "WHERE EXISTS (SELECT * FROM Klassen k WHERE k.Kuerzel = n.AK AND k.Bis > n.Jahr)",
         1, "Namen", {{"N1", "Adler", "WK1", "2011"}, n2, n3, n4}},
        {"UPDATE Namen n SET (Name, Jahr) = (SELECT k.Titel, k.Bis FROM Klassen k WHERE k.Kuerzel = n.AK) "
         "WHERE n.ID = 'N3' OR n.ID = 'N1'",
         2, "Namen", {{"N1", "Eins", "WK1", "2011"}, n2, {"N3", "Zwei", "WK2", "2011"}, n4}},
        {"UPDATE Namen n SET Jahr = Jahr + (SELECT COUNT(*) FROM Namen m WHERE m.AK = n.AK)", 4, "Namen",
         {{"N1", "Adler", "WK1", "2011"}, {"N2", "Bauer", "WK2", "2013"}, {"N3", "Claus", "WK2", "2014"},
          {"N4", "Dorn", "WK9", "2014"}}},
        {"DELETE FROM Namen n WHERE NOT EXISTS (SELECT * FROM Klassen k WHERE k.Kuerzel = n.AK)", 1, "Namen",
         {n1, n2, n3}},
        // A subquery without a row gives null, and null > anything holds for no row.
        {"DELETE FROM Namen n WHERE n.Jahr > (SELECT MIN(k.Bis) FROM Klassen k WHERE k.Kuerzel = n.AK)", 1, "Namen",
         {n1, n2, n4}},
        {"DELETE FROM Namen n WHERE Jahr < (SELECT MAX(m.Jahr) FROM Namen m WHERE m.AK = n.AK)", 1, "Namen",
         {n1, n3, n4}},
        {"DELETE FROM Namen n, Klassen k WHERE k.Kuerzel = n.AK AND n.Jahr >= k.Bis", 2, "Namen", {n1, n4}},
        {"DELETE FROM Namen n INNER JOIN Klassen k ON k.Kuerzel = n.AK WHERE k.Titel = 'Eins'", 1, "Namen",
         {n2, n3, n4}},
        {"DELETE FROM Namen n LEFT JOIN Klassen k ON k.Kuerzel = n.AK WHERE k.Kuerzel IS NULL", 1, "Namen",
         {n1, n2, n3}},
        {"DELETE FROM Namen n, Klassen k WHERE k.Kuerzel = n.AK AND k.Titel = 'Keine'", 0, "Namen",
         {n1, n2, n3, n4}},
        // The joined table itself keeps its rows.
        {"DELETE FROM Klassen k, Namen n WHERE k.Kuerzel = n.AK AND n.Name = 'Claus'", 1, "Klassen",
         {{"WK1", "Eins", "2011"}}},
        {"INSERT INTO Settings (VarName, VarValue) "
         "SELECT n.ID, (SELECT COUNT(*) FROM Namen m WHERE m.AK = n.AK) FROM Namen n",
         4, "Settings", {{"N1", "1", kNull}, {"N2", "2", kNull}, {"N3", "2", kNull}, {"N4", "1", kNull}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        Run("DELETE FROM Namen; DELETE FROM Klassen; DELETE FROM Settings");
        AddNamen();
        Run(R"(INSERT INTO Namen VALUES ("N4", "Dorn", "WK9", 2013))");
        Run(R"(INSERT INTO Klassen VALUES ("WK1", "Eins", 2011), ("WK2", "Zwei", 2011))");
        EXPECT_EQ(Run(c.statement), c.affected);
        EXPECT_EQ(Rows(c.table), c.rows);
    }
}

TEST_F(ModifyTest, JoinedDeleteRemovesEveryCopyOfAMatchingRowAndIsUndoneOnFailure) {
    Run("CREATE TABLE Pairs (A Integer, B Char(3))");
    Run("INSERT INTO Pairs VALUES (1, 'x'), (1, 'x'), (2, NULL), (3, 'y')");
    Run("INSERT INTO Namen VALUES ('N1', 'x', NULL, 1), ('N2', NULL, NULL, 2)");
    // Rows with equal values are one row to the join; a null matches through IS NULL only.
    EXPECT_EQ(Run("DELETE FROM Pairs p, Namen n WHERE p.A = n.Jahr AND (p.B = n.Name OR p.B IS NULL)"), 3);
    EXPECT_THAT(Rows("Pairs"), ElementsAre(Row{"3", "y"}));
    // A join whose query fails deletes nothing.
    Run("INSERT INTO Pairs VALUES (0, 'z')");
    EXPECT_EQ(RunFailing("DELETE FROM Pairs p, Namen n WHERE p.A = n.Jahr AND 10 / p.A > 1").code, 30128);
    EXPECT_EQ(Rows("Pairs").size(), 2u);
}

TEST_F(ModifyTest, RollbackTakesBackInsertUpdateAndDelete) {
    AddNamen();
    Run("START TRANSACTION");
    Run("INSERT INTO Namen (ID) VALUES ('N4')");
    Run("UPDATE Namen SET AK = 'NEU' WHERE ID = 'N1'");
    Run("DELETE FROM Namen WHERE ID = 'N2'");
    EXPECT_EQ(Rows("Namen").size(), 3u);
    Run("ROLLBACK");
    EXPECT_THAT(Rows("Namen"), ElementsAre(Row{"N1", "Adler", "WK1", "2010"}, Row{"N2", "Bauer", "WK2", "2011"},
                                           Row{"N3", "Claus", "WK2", "2012"}));
}

TEST_F(ModifyTest, CommitKeepsTheTransactionsChanges) {
    AddNamen();
    Run("START TRANSACTION; UPDATE Namen SET AK = 'NEU' WHERE ID = 'N1'; DELETE FROM Namen WHERE ID = 'N3'; COMMIT");
    EXPECT_THAT(Rows("Namen"), ElementsAre(Row{"N1", "Adler", "NEU", "2010"}, Row{"N2", "Bauer", "WK2", "2011"}));
    EXPECT_FALSE(TABSTableAccess(context_).InTransaction());
}

TEST_F(ModifyTest, UpdateInsideATransactionIsNotRetried) {
    Run("CREATE TABLE Numbers (N Integer, S Char(5))");
    Run("INSERT INTO Numbers VALUES (1, '10'), (2, 'x')");
    Run("START TRANSACTION");
    EXPECT_EQ(RunFailing("UPDATE Numbers SET N = S").code, 30051);
    EXPECT_TRUE(sleeps_.empty());
    // The transaction decides about the row changed before the failure.
    Run("ROLLBACK");
    EXPECT_THAT(Rows("Numbers"), ElementsAre(Row{"1", "10"}, Row{"2", "x"}));
}

} // namespace
} // namespace kova::dmltest

namespace kova::dmltest {
namespace {

// Another connection holds the table for a change of its own: a DELETE waits 1125 × 80 ms for
// it and then gives up with "Table is locked". The holder lives in this process, the deleting
// connection in a child, as two programs on one shared file would.
TEST(ModifyLockTest, DeleteGivesUpWhenAnotherConnectionKeepsTheTableLocked) {
    testing::ScratchDirectory scratch;
    const std::string path = scratch.File("shared.abs");
    testing::TableDatabase holder(path, true, true);
    holder.Tables().CreateTable("T", testing::Definition({testing::Field("N", TABSColumnType::actInteger)}));
    {
        TABSTableHandle table = holder.Open("T");
        (void)table->InsertRecord(holder.Session(), testing::RecordBuilder(table.Table()).Int("N", 1).Bytes());
        ASSERT_TRUE(holder.Database().LockTable(holder.Session(), table->TableID(), kTableLockWriteIntent, 1));
    }
    const int childResult = testing::RunInChildProcess([&] {
        testing::TableDatabase other(path, false, true);
        TABSExecutionContext context;
        context.Data = &other.Database();
        context.Tables = &other.Tables();
        context.SessionID = other.Session();
        context.DatabaseName = "db";
        int pauses = 0;
        (void)SetModifySleeper([&](int milliseconds) { pauses += milliseconds == kWriteLockPauseMilliseconds ? 1 : 1000; });
        int code = 0;
        try {
            TABSSQLProcessor processor("DELETE FROM T");
            ModifyExecutor executor(context);
            (void)RunStatements(processor, executor);
        } catch (const EABSException& e) {
            code = e.NativeError();
        }
        if (code != kTableLockedForChangeError) return 1;
        if (pauses != kWriteLockAttempts) return 2;
        TABSTableHandle table = other.Open("T");
        return table->RecordCount(other.Session()) == 1 ? 0 : 3;
    });
    EXPECT_EQ(childResult, 0);
}

} // namespace
} // namespace kova::dmltest

namespace kova::dmltest {
namespace {

// A query reads its tables under a read lock: another connection that is changing a table keeps
// the query out ("Table is locked" after every try), other readers do not, and a change waits
// for readers. The holder lives in this process, the connection that runs the statement in a
// child, as two programs on one shared file would.
TEST(QueryReadLockTest, ReadersAndWritersOfOneTableExcludeEachOther) {
    struct Case {
        const char* name;
        int heldKind;           // the lock the other connection holds on T
        const char* statement;  // run in the child
        int code;               // expected native error (0: runs)
        int pauses;             // expected waits before the outcome
    };
    const Case cases[] = {
        {"query waits for a change", kTableLockWriteIntent, "SELECT N FROM T", kReadLockError, kReadLockAttempts - 1},
        {"subquery waits for a change", kTableLockWriteIntent, "SELECT N FROM U WHERE N IN (SELECT N FROM T)",
         kReadLockError, kReadLockAttempts - 1},
        {"a table nobody changes is read", kTableLockWriteIntent, "SELECT N FROM U", 0, 0},
        {"readers share the table", kTableLockWrite, "SELECT N FROM T", 0, 0},
        {"a change waits for a reader", kTableLockWrite, "DELETE FROM T", kTableLockedForChangeError,
         kWriteLockAttempts},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScratchDirectory scratch;
        const std::string path = scratch.File("shared.abs");
        testing::TableDatabase holder(path, true, true);
        for (const char* name : {"T", "U"}) {
            holder.Tables().CreateTable(name, testing::Definition({testing::Field("N", TABSColumnType::actInteger)}));
            TABSTableHandle table = holder.Open(name);
            (void)table->InsertRecord(holder.Session(), testing::RecordBuilder(table.Table()).Int("N", 1).Bytes());
        }
        std::int32_t tableId = 0;
        {
            TABSTableHandle table = holder.Open("T");
            tableId = table->TableID();
            ASSERT_TRUE(holder.Database().LockTable(holder.Session(), tableId, c.heldKind, 1));
        }
        const int childResult = testing::RunInChildProcess([&] {
            testing::TableDatabase other(path, false, true);
            TABSExecutionContext context;
            context.Data = &other.Database();
            context.Tables = &other.Tables();
            context.SessionID = other.Session();
            context.DatabaseName = "db";
            int pauses = 0;
            (void)SetModifySleeper([&](int) { ++pauses; });
            int code = 0;
            std::int64_t rows = -1;
            try {
                TABSSQLProcessor processor(c.statement);
                std::unique_ptr<TABSResultExecutor> executor = MakeStatementExecutor(context);
                TABSRunResult result = RunStatements(processor, *executor);
                if (result.Cursor) rows = result.Cursor->RecordCount();
            } catch (const EABSException& e) {
                code = e.NativeError();
            }
            if (code != c.code) return 10 + (code % 1000);
            if (pauses != c.pauses) return 2;
            if (code == 0 && rows != 1) return 3;
            // Whatever the outcome, the statement holds no read lock afterwards.
            if (other.Database().TableLockManager().HeldCount(tableId, other.Session(), kTableLockWrite) != 0) return 4;
            return 0;
        });
        EXPECT_EQ(childResult, 0);
        EXPECT_TRUE(holder.Database().UnlockTable(holder.Session(), tableId, c.heldKind));
    }
}

} // namespace
} // namespace kova::dmltest
