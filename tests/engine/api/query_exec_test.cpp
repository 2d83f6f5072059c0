// Query execution through a query on a database file: joins with nulls, grouping and every
// aggregate, DISTINCT, TOP, set operations, subqueries, ORDER BY, result column names, live and
// read-only results, and the errors of each.
#include "api_test_support.h"
#include "registration_schema.h"

#include "engine/core/FormatSettings.h"
#include "engine/sql/ABSTableAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace kova {
namespace {

using apitest::NativeErrorOf;
using apitest::ScratchDirectory;

using Rows = std::vector<std::vector<std::string>>;
constexpr const char* N = "<null>";

class QueryExec : public ::testing::Test {
protected:
    void SetUp() override {
        TFormatSettings formats;
        formats.DecimalSeparator = '.';
        SetFormatSettings(formats);
        apitest::MakeDatabaseFile(dir_.File("exec.abs"), "pw");
        database_.SetDatabaseName("ExecDB");
        database_.SetDatabaseFileName(dir_.File("exec.abs"));
        database_.SetPassword("pw");
        query_.SetDatabaseName("ExecDB");
        // A: athletes with a group; B: results pointing at A by aid (one null, one dangling).
        Execute({"CREATE TABLE A (id Integer, name String(10), grp String(5))",
                 "INSERT INTO A (id, name, grp) VALUES (1, 'x', 'g1')",
                 "INSERT INTO A (id, name, grp) VALUES (2, 'y', 'g1')",
                 "INSERT INTO A (id, name, grp) VALUES (3, NULL, 'g2')",
                 "INSERT INTO A (id, name, grp) VALUES (4, 'x', NULL)",
                 "CREATE TABLE B (id Integer, aid Integer, val Integer)",
                 "INSERT INTO B (id, aid, val) VALUES (10, 1, 100)",
                 "INSERT INTO B (id, aid, val) VALUES (11, 1, 200)",
                 "INSERT INTO B (id, aid, val) VALUES (12, 2, 50)",
                 "INSERT INTO B (id, aid, val) VALUES (13, NULL, 7)",
                 "INSERT INTO B (id, aid, val) VALUES (14, 9, 1)"});
    }

    void TearDown() override {
        query_.Close();
        database_.Close();
        ResetFormatSettings();
    }

    void Execute(const std::vector<std::string>& statements) { apitest::ExecuteAll(query_, statements); }

    Rows Select(const std::string& sql) {
        query_.Close();
        query_.SetSQLText(sql);
        query_.Open();
        Rows rows;
        for (query_.First(); !query_.Eof(); query_.Next()) {
            std::vector<std::string> row;
            for (std::size_t c = 0; c < query_.FieldCount(); ++c) {
                const TABSField& field = query_.Field(c);
                row.push_back(field.IsNull() ? N : field.AsString());
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }

    std::vector<std::string> FieldNames() const {
        std::vector<std::string> names;
        for (std::size_t c = 0; c < query_.FieldCount(); ++c) names.push_back(query_.Field(c).FieldName());
        return names;
    }

    int ErrorOf(const std::string& sql) {
        return NativeErrorOf([&] { (void)Select(sql); });
    }

    ScratchDirectory dir_;
    TABSDatabase database_;
    TABSQuery query_;
};

struct Case {
    const char* sql;
    Rows expected;
};

void ExpectCases(QueryExec& fixture, const std::vector<Case>& cases,
                 const std::function<Rows(const std::string&)>& select) {
    (void)fixture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(select(c.sql), c.expected);
    }
}

TEST_F(QueryExec, JoinsKeepOrDropUnmatchedRowsByKind) {
    const std::vector<Case> cases = {
        {"SELECT a.id, b.id FROM A a, B b WHERE a.id = b.aid ORDER BY b.id",
         {{"1", "10"}, {"1", "11"}, {"2", "12"}}},
        {"SELECT a.id, b.id FROM A a INNER JOIN B b ON a.id = b.aid ORDER BY b.id",
         {{"1", "10"}, {"1", "11"}, {"2", "12"}}},
        {"SELECT a.id, b.id FROM A a LEFT JOIN B b ON a.id = b.aid ORDER BY a.id, b.id",
         {{"1", "10"}, {"1", "11"}, {"2", "12"}, {"3", N}, {"4", N}}},
        {"SELECT a.id, b.id FROM A a RIGHT JOIN B b ON a.id = b.aid ORDER BY b.id",
         {{"1", "10"}, {"1", "11"}, {"2", "12"}, {N, "13"}, {N, "14"}}},
        {"SELECT a.id, b.id FROM A a FULL JOIN B b ON a.id = b.aid ORDER BY a.id, b.id",
         {{N, "13"}, {N, "14"}, {"1", "10"}, {"1", "11"}, {"2", "12"}, {"3", N}, {"4", N}}},
        // The rest of an outer join's ON condition decides the match; WHERE filters afterwards.
        {"SELECT a.id, b.id FROM A a LEFT JOIN B b ON a.id = b.aid AND b.val > 150 ORDER BY a.id",
         {{"1", "11"}, {"2", N}, {"3", N}, {"4", N}}},
        {"SELECT a.id, b.id FROM A a LEFT JOIN B b ON a.id = b.aid WHERE b.id IS NULL ORDER BY a.id",
         {{"3", N}, {"4", N}}},
        {"SELECT COUNT(*) FROM A, B", {{"20"}}},
        {"SELECT a.id, b.val FROM A a, B b WHERE a.id = b.aid AND b.val < 150 AND a.name = 'x' ORDER BY 2",
         {{"1", "100"}}},
    };
    ExpectCases(*this, cases, [&](const std::string& sql) { return Select(sql); });
}

TEST_F(QueryExec, GroupingComputesEveryAggregatePerGroupWithNullsAsOneGroup) {
    EXPECT_EQ(Select("SELECT grp, COUNT(*), COUNT(name), SUM(id), MIN(name), MAX(id), AVG(id) FROM A "
                     "GROUP BY grp ORDER BY grp"),
              (Rows{{N, "1", "1", "4", "x", "4", "4"},
                    {"g1", "2", "2", "3", "x", "2", "1.5"},
                    {"g2", "1", "0", "3", N, "3", "3"}}));
    EXPECT_EQ(Select("SELECT grp, COUNT(*) AS c FROM A GROUP BY grp HAVING COUNT(*) > 1"), (Rows{{"g1", "2"}}));
    EXPECT_EQ(Select("SELECT COUNT(*) FROM A"), (Rows{{"4"}}));
    EXPECT_EQ(Select("SELECT COUNT(*) FROM A WHERE id > 100"), (Rows{{"0"}}));
    EXPECT_EQ(Select("SELECT SUM(id) FROM A WHERE id > 100"), (Rows{{N}}));
}

TEST_F(QueryExec, GroupingErrors) {
    EXPECT_EQ(ErrorOf("SELECT name FROM A GROUP BY grp"), 30285);
    EXPECT_EQ(ErrorOf("SELECT grp FROM A GROUP BY nothere"), 30284);
    EXPECT_EQ(ErrorOf("SELECT UPPER(name) FROM A GROUP BY grp"), 30288);
    EXPECT_EQ(ErrorOf("SELECT grp FROM A GROUP BY grp HAVING nothere > 1"), 20244);
    // A group column inside an expression is fine.
    EXPECT_EQ(Select("SELECT UPPER(grp) FROM A WHERE grp IS NOT NULL GROUP BY grp ORDER BY 1"),
              (Rows{{"G1"}, {"G2"}}));
}

TEST_F(QueryExec, DistinctAndTop) {
    EXPECT_EQ(Select("SELECT DISTINCT name FROM A ORDER BY name"), (Rows{{N}, {"x"}, {"y"}}));
    EXPECT_EQ(Select("SELECT DISTINCT name, grp FROM A WHERE name = 'x' ORDER BY grp"), (Rows{{"x", N}, {"x", "g1"}}));
    EXPECT_EQ(Select("SELECT TOP 2 id FROM A ORDER BY id DESC"), (Rows{{"4"}, {"3"}}));
    EXPECT_EQ(Select("SELECT TOP 2, 2 id FROM A ORDER BY id DESC"), (Rows{{"3"}, {"2"}}));
    EXPECT_EQ(Select("SELECT TOP 10, 4 id FROM A ORDER BY id"), (Rows{{"4"}}));
    EXPECT_EQ(query_.RecordCount(), 1);
}

TEST_F(QueryExec, SetOperations) {
    Execute({"CREATE TABLE C (name String(10), id Integer)", "INSERT INTO C (name, id) VALUES ('x', 1)",
             "INSERT INTO C (name, id) VALUES ('z', 7)", "INSERT INTO C (name, id) VALUES ('z', 7)"});
    const std::vector<Case> cases = {
        {"SELECT id FROM A UNION SELECT id FROM C ORDER BY 1", {{"1"}, {"2"}, {"3"}, {"4"}, {"7"}}},
        {"SELECT id FROM A UNION ALL SELECT id FROM C ORDER BY 1", {{"1"}, {"1"}, {"2"}, {"3"}, {"4"}, {"7"}, {"7"}}},
        {"SELECT id FROM A EXCEPT SELECT id FROM C ORDER BY id", {{"2"}, {"3"}, {"4"}}},
        {"SELECT id FROM C MINUS SELECT id FROM A", {{"7"}}},
        {"SELECT id FROM C EXCEPT ALL SELECT id FROM A", {{"7"}, {"7"}}},
        {"SELECT id FROM A INTERSECT SELECT id FROM C", {{"1"}}},
        {"SELECT id, name FROM A UNION CORRESPONDING SELECT name, id FROM C ORDER BY id",
         {{"1", "x"}, {"2", "y"}, {"3", N}, {"4", "x"}, {"7", "z"}}},
        {"SELECT id, name FROM A UNION CORRESPONDING BY (name) SELECT name, id FROM C ORDER BY name",
         {{N}, {"x"}, {"y"}, {"z"}}},
    };
    ExpectCases(*this, cases, [&](const std::string& sql) { return Select(sql); });
}

TEST_F(QueryExec, Subqueries) {
    const std::vector<Case> cases = {
        {"SELECT id, (SELECT MAX(val) FROM B) FROM A WHERE id = 1", {{"1", "200"}}},
        {"SELECT id FROM A WHERE id IN (SELECT aid FROM B) ORDER BY id", {{"1"}, {"2"}}},
        {"SELECT id FROM A WHERE id NOT IN (SELECT id FROM B) ORDER BY id", {{"1"}, {"2"}, {"3"}, {"4"}}},
        {"SELECT id FROM A a WHERE EXISTS (SELECT * FROM B WHERE B.aid = a.id AND B.val > 150)", {{"1"}}},
        {"SELECT id FROM A a WHERE NOT EXISTS (SELECT * FROM B WHERE B.aid = a.id) ORDER BY id", {{"3"}, {"4"}}},
        {"SELECT a.id, (SELECT SUM(val) FROM B WHERE B.aid = a.id) FROM A a ORDER BY a.id",
         {{"1", "300"}, {"2", "50"}, {"3", N}, {"4", N}}},
        {"SELECT id FROM B WHERE val > ALL (SELECT id FROM A) AND val < 150 ORDER BY id", {{"10"}, {"12"}, {"13"}}},
        {"SELECT id FROM A WHERE id = ANY (SELECT aid FROM B) ORDER BY id", {{"1"}, {"2"}}},
        {"SELECT x.id FROM (SELECT id, grp FROM A WHERE grp = 'g1') x ORDER BY x.id DESC", {{"2"}, {"1"}}},
    };
    ExpectCases(*this, cases, [&](const std::string& sql) { return Select(sql); });
}

TEST_F(QueryExec, OrderByPositionsHiddenColumnsAndNullsFirst) {
    EXPECT_EQ(Select("SELECT name, id FROM A ORDER BY 1, 2 DESC"), (Rows{{N, "3"}, {"x", "4"}, {"x", "1"}, {"y", "2"}}));
    EXPECT_EQ(Select("SELECT name FROM A ORDER BY id DESC"), (Rows{{"x"}, {N}, {"y"}, {"x"}}));
    EXPECT_EQ(FieldNames(), (std::vector<std::string>{"name"}));
    EXPECT_EQ(Select("SELECT id AS n FROM A ORDER BY n DESC"), (Rows{{"4"}, {"3"}, {"2"}, {"1"}}));
    EXPECT_EQ(ErrorOf("SELECT id FROM A ORDER BY 2"), 20243);
    EXPECT_EQ(ErrorOf("SELECT id FROM A ORDER BY 0"), 20243);
    EXPECT_EQ(ErrorOf("SELECT id FROM A ORDER BY nothere"), 30195);
}

TEST_F(QueryExec, ResultColumnNames) {
    TABSTableAccess::SetRandomSource([] { return 4711u; });
    (void)Select("SELECT id, id, id + 1, name AS id2, A.name FROM A");
    TABSTableAccess::SetRandomSource({});
    EXPECT_EQ(FieldNames(), (std::vector<std::string>{"id", "id_1", "Expr4711", "id2", "name"}));
    (void)Select("SELECT * FROM A a, B b WHERE a.id = b.aid");
    EXPECT_EQ(FieldNames(), (std::vector<std::string>{"id", "name", "grp", "id_1", "aid", "val"}));
}

TEST_F(QueryExec, ApplicationJoinNamesSchoolAndIdAndSortsByTheRegistrationId) {
    Execute(apitest::RegistrationSchemaStatements());
    Execute({"INSERT INTO Verein (ID, Schule) VALUES ('V00000001', 'Schule A')",
             "INSERT INTO Namen (ID, Name, Vorname, VereinID) VALUES ('N3', 'Berg', 'Udo', 'V00000001')",
             "INSERT INTO Namen (ID, Name, Vorname, VereinID) VALUES ('N1', 'Abt', 'Eva', 'V00000001')",
             "INSERT INTO Namen (ID, Name, Vorname, VereinID) VALUES ('N2', 'Cem', 'Ali', NULL)",
             "INSERT INTO Namen (ID, Name, Vorname, VereinID) VALUES ('N0', 'Dorn', 'Ida', 'V00000002')"});
    const std::string select = "SELECT Name, Vorname, AK, Jahrgang, Disziplin1, Disziplin2, Disziplin3, Staffel, "
                               "v.Schule, n.ID FROM Namen n, Verein v WHERE v.ID = n.VereinId ";
    const Rows byName = Select(select + "ORDER BY Name, Vorname");
    EXPECT_EQ(FieldNames(), (std::vector<std::string>{"Name", "Vorname", "AK", "Jahrgang", "Disziplin1", "Disziplin2",
                                                      "Disziplin3", "Staffel", "Schule", "ID"}));
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(byName[0][0], "Abt");
    EXPECT_EQ(byName[1][0], "Berg");
    EXPECT_EQ(byName[0][8], "Schule A");
    const Rows byId = Select(select + "ORDER BY ID DESC");
    ASSERT_EQ(byId.size(), 2u);
    EXPECT_EQ(byId[0][9], "N3");
    EXPECT_EQ(byId[1][9], "N1");
}

TEST_F(QueryExec, ConditionThatNoOperatorCanDecideFails) {
    EXPECT_EQ(ErrorOf("SELECT id FROM A WHERE nothere = 1"), 30144);
    EXPECT_EQ(ErrorOf("SELECT a.id FROM A a JOIN B b ON a.id = c.id"), 20270);
}

TEST_F(QueryExec, OnlyARequestedLiveSingleTableResultCanBeEdited) {
    (void)Select("SELECT * FROM A WHERE id > 1");
    EXPECT_TRUE(query_.ReadOnly());
    query_.Close();
    query_.SetRequestLive(true);
    EXPECT_EQ(Select("SELECT * FROM A WHERE id > 2").size(), 2u);
    EXPECT_FALSE(query_.ReadOnly());
    EXPECT_EQ(query_.RecordCount(), 2);
    const Rows live = Select("SELECT * FROM A WHERE id > 1 ORDER BY id DESC");
    EXPECT_FALSE(query_.ReadOnly());
    EXPECT_EQ(live, (Rows{{"4", "x", N}, {"3", N, "g2"}, {"2", "y", "g1"}}));
    EXPECT_EQ(query_.RecordCount(), 3);
    (void)Select("SELECT id FROM A a, B b WHERE a.id = b.aid");
    EXPECT_TRUE(query_.ReadOnly());
}

// Join keys narrow the pairs through sorted keys; the same condition written so that it cannot
// serve as a key is evaluated pair by pair. Both must give the same rows. The texts are long
// enough to live outside the value itself, so a pair that lost its left row's text to an earlier
// pair of the same row shows.
TEST_F(QueryExec, KeyedJoinEqualsPairwiseEvaluationOnRandomData) {
    std::mt19937 random(12345);
    std::vector<std::string> statements = {"CREATE TABLE R (k Integer, v Integer, t String(40))",
                                           "CREATE TABLE S (k Integer, w Integer, u String(40))"};
    const auto value = [&](int range) {
        const int v = static_cast<int>(random() % static_cast<unsigned>(range + 1));
        return v == range ? std::string("NULL") : std::to_string(v);
    };
    for (int i = 0; i < 40; ++i) {
        const std::string n = std::to_string(i);
        statements.push_back("INSERT INTO R (k, v, t) VALUES (" + value(8) + ", " + n + ", 'left row number " + n +
                             " with a long text')");
        statements.push_back("INSERT INTO S (k, w, u) VALUES (" + value(8) + ", " + n + ", 'right row number " + n +
                             " with a long text')");
    }
    Execute(statements);
    const auto expectTextsOfTheirRows = [](const Rows& rows) {
        for (const auto& row : rows) {
            if (row[0] != N) {
                EXPECT_EQ(row[1], "left row number " + row[0] + " with a long text");
            }
            if (row[2] != N) {
                EXPECT_EQ(row[3], "right row number " + row[2] + " with a long text");
            }
        }
    };
    for (const char* kind : {"INNER", "LEFT", "RIGHT", "FULL"}) {
        for (const char* rest : {"", " AND S.w > 12"}) {
            SCOPED_TRACE(std::string(kind) + rest);
            const std::string keyed = std::string("SELECT R.v, R.t, S.w, S.u FROM R ") + kind + " JOIN S ON R.k = S.k" +
                                      rest + " ORDER BY 1, 3";
            const std::string pairwise = std::string("SELECT R.v, R.t, S.w, S.u FROM R ") + kind +
                                         " JOIN S ON R.k + 0 = S.k" + rest + " ORDER BY 1, 3";
            const Rows a = Select(keyed);
            const Rows b = Select(pairwise);
            EXPECT_FALSE(a.empty());
            EXPECT_EQ(a, b);
            expectTextsOfTheirRows(a);
        }
    }
    // The comma join with WHERE keys against a filter over the cross product.
    const Rows comma = Select("SELECT R.v, R.t, S.w, S.u FROM R, S WHERE R.k = S.k AND R.v < 20 ORDER BY 1, 3");
    EXPECT_EQ(comma, Select("SELECT R.v, R.t, S.w, S.u FROM R CROSS JOIN S WHERE R.k - S.k = 0 AND R.v < 20 "
                            "ORDER BY 1, 3"));
    EXPECT_FALSE(comma.empty());
    expectTextsOfTheirRows(comma);
}

// Conditions an index can serve give the same rows as the same conditions written so that no
// index serves them (the whole table is scanned and each row tested).
TEST_F(QueryExec, IndexedConditionsEqualAFullScanOnRandomData) {
    std::mt19937 random(777);
    std::vector<std::string> statements = {"CREATE TABLE T (k Integer, s String(6), n Integer)",
                                           "CREATE INDEX TK ON T (k)", "CREATE INDEX TS ON T (s DESC)"};
    const char* texts[] = {"'a'", "'b'", "'B'", "'ab'", "'c'", "NULL"};
    for (int i = 0; i < 120; ++i) {
        const int k = static_cast<int>(random() % 12);
        statements.push_back("INSERT INTO T (k, s, n) VALUES (" + (k == 11 ? std::string("NULL") : std::to_string(k)) +
                             ", " + texts[random() % 6] + ", " + std::to_string(i) + ")");
    }
    Execute(statements);
    const std::vector<std::pair<std::string, std::string>> conditions = {
        {"k = 5", "k + 0 = 5"},
        {"k > 7", "k + 0 > 7"},
        {"k >= 3 AND k < 6", "k + 0 >= 3 AND k + 0 < 6"},
        {"4 < k AND k <= 9", "4 < k + 0 AND k + 0 <= 9"},
        {"k IS NULL", "k + 0 IS NULL"},
        {"k IS NOT NULL AND k < 2", "NOT (k + 0 IS NULL) AND k + 0 < 2"},
        {"k = 3 AND k = 4", "k + 0 = 3 AND k + 0 = 4"},
        {"s = 'b'", "s || '' = 'b'"},
        {"s > 'a' AND s <= 'b'", "s || '' > 'a' AND s || '' <= 'b'"},
        {"s IS NULL", "s || '' IS NULL"},
        {"k = 5 AND s = 'a'", "k + 0 = 5 AND s || '' = 'a'"},
        {"k > 100", "k + 0 > 100"},
        // A column against a text constant: nulls are less than any text, and the index still
        // serves =, > and >= written either way round.
        {"s >= 'b'", "s || '' >= 'b'"},
        {"'b' < s", "'b' < s || ''"},
        {"'b' <= s AND s <= 'c'", "'b' <= s || '' AND s || '' <= 'c'"},
        {"s = 'B' AND k > 3", "s || '' = 'B' AND k + 0 > 3"},
        {"s < 'b'", "s || '' < 'b' OR s IS NULL"},
        {"'ab' >= s", "'ab' >= s || '' OR s IS NULL"},
    };
    int nonEmpty = 0;
    for (const auto& [indexed, scanned] : conditions) {
        SCOPED_TRACE(indexed);
        const Rows a = Select("SELECT n FROM T WHERE " + indexed + " ORDER BY n");
        const Rows b = Select("SELECT n FROM T WHERE " + scanned + " ORDER BY n");
        EXPECT_EQ(a, b);
        nonEmpty += a.empty() ? 0 : 1;
    }
    EXPECT_GE(nonEmpty, 15);
}

// A projection builds each row from its source row: items that take a column as it is, the same
// column several times, expressions over columns that are also taken as they are, and more or
// fewer items than the source has columns.
TEST_F(QueryExec, ProjectionGivesEveryItemOfEveryRow) {
    Execute({"CREATE TABLE L (id Integer, t String(40))",
             "INSERT INTO L (id, t) VALUES (1, 'a text longer than a value holds inline')",
             "INSERT INTO L (id, t) VALUES (2, 'short')", "INSERT INTO L (id, t) VALUES (3, NULL)"});
    const std::string longText = "a text longer than a value holds inline";
    const std::vector<Case> cases = {
        {"SELECT t, id FROM L ORDER BY id", {{longText, "1"}, {"short", "2"}, {N, "3"}}},
        {"SELECT t, UPPER(t), t FROM L ORDER BY id",
         {{longText, "A TEXT LONGER THAN A VALUE HOLDS INLINE", longText}, {"short", "SHORT", "short"}, {N, N, N}}},
        {"SELECT id, id + 1, t, id, t || '!', t, id * 2 FROM L WHERE id < 3 ORDER BY 1",
         {{"1", "2", longText, "1", longText + "!", longText, "2"}, {"2", "3", "short", "2", "short!", "short", "4"}}},
        {"SELECT id FROM L ORDER BY t DESC", {{"2"}, {"1"}, {"3"}}},
    };
    ExpectCases(*this, cases, [&](const std::string& sql) { return Select(sql); });
}

// ORDER BY over many distinct texts follows the collation of text values (not byte order):
// umlauts, sharp s, case, blanks and punctuation, compared against the comparison itself.
TEST_F(QueryExec, SortingManyDistinctTextsFollowsTheCollation) {
    struct LocaleGuard {
        std::string saved = CollationLocale();
        ~LocaleGuard() { SetCollationLocale(saved); }
    } guard;
    SetCollationLocale("de_DE");
    const char* parts[] = {"Mü", "mu", "MU", "Ä", "ä", "a", "ß", "ss", " ", "-", "Ö", "oe", "z", "Z", "é", "1", "9"};
    std::mt19937 random(99);
    std::vector<std::pair<std::string, int>> rows;
    std::vector<std::string> statements = {"CREATE TABLE W (s String(20), n Integer)"};
    for (int i = 0; i < 300; ++i) {
        std::string text;
        for (unsigned count = 1 + random() % 3; count > 0; --count) text += parts[random() % std::size(parts)];
        // Blanks inside the text only, where every form of storing text keeps them.
        if (text.front() == ' ') text.insert(0, "b");
        if (text.back() == ' ') text += "b";
        rows.emplace_back(text, i);
        statements.push_back("INSERT INTO W (s, n) VALUES ('" + text + "', " + std::to_string(i) + ")");
    }
    Execute(statements);
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        const int order = CompareText(a.first, b.first);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    Rows expected;
    for (const auto& [text, n] : rows) expected.push_back({text, std::to_string(n)});
    EXPECT_EQ(Select("SELECT s, n FROM W ORDER BY s, n"), expected);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(Select("SELECT s, n FROM W ORDER BY s DESC, n DESC"), expected);
}

// An equality of a text column with a constant may be settled on the stored bytes before the
// collation runs; the rows must equal those of the same test written so that it cannot be,
// for 8-bit texts outside ASCII, texts that differ only in case or trailing blanks, nulls and
// fixed-length columns, in queries and in UPDATE and DELETE.
TEST_F(QueryExec, TextEqualityOnStoredBytesEqualsTheCollation) {
    Execute({"CREATE TABLE E (s String(12), c Char(6), n Integer)",
             "INSERT INTO E (s, c, n) VALUES ('Muller', 'ab', 1)", "INSERT INTO E (s, c, n) VALUES ('Müller', 'AB', 2)",
             "INSERT INTO E (s, c, n) VALUES ('muller', 'ab ', 3)", "INSERT INTO E (s, c, n) VALUES (NULL, NULL, 4)",
             "INSERT INTO E (s, c, n) VALUES ('Muller ', 'abc', 5)", "INSERT INTO E (s, c, n) VALUES ('Muller', 'ab', 6)",
             "INSERT INTO E (s, c, n) VALUES ('Straße', 'äb', 7)", "INSERT INTO E (s, c, n) VALUES ('', '', 8)",
             // A soft hyphen weighs nothing in the collation: equal to the text without it.
             "INSERT INTO E (s, c, n) VALUES ('Mul\xC2\xAD" "ler', 'a\xC2\xAD" "b', 9)"});
    const std::vector<std::pair<std::string, std::string>> conditions = {
        {"s = 'Muller'", "s || '' = 'Muller'"},     {"'Muller' = s", "'Muller' = s || ''"},
        {"s = 'Müller'", "s || '' = 'Müller'"},     {"s = 'Straße'", "s || '' = 'Straße'"},
        {"s = 'Strasse'", "s || '' = 'Strasse'"},   {"c = 'ab'", "c || '' = 'ab'"},
        {"c = 'ab '", "c || '' = 'ab '"},           {"c = 'äb'", "c || '' = 'äb'"},
        {"s = 'Muller' AND c = 'ab'", "s || '' = 'Muller' AND c || '' = 'ab'"},
        {"s = 'Muller ' OR c = 'AB'", "s || '' = 'Muller ' OR c || '' = 'AB'"},
    };
    int nonEmpty = 0;
    for (const auto& [direct, computed] : conditions) {
        SCOPED_TRACE(direct);
        const Rows rows = Select("SELECT n FROM E WHERE " + direct + " ORDER BY n");
        EXPECT_EQ(rows, Select("SELECT n FROM E WHERE " + computed + " ORDER BY n"));
        nonEmpty += rows.empty() ? 0 : 1;
    }
    EXPECT_GE(nonEmpty, 8);
    EXPECT_EQ(Select("SELECT n FROM E WHERE s = 'Muller' ORDER BY n"), (Rows{{"1"}, {"6"}, {"9"}}));

    // UPDATE and DELETE pick their rows the same way.
    Execute({"UPDATE E SET n = n + 100 WHERE s = 'Muller'", "DELETE FROM E WHERE c = 'äb' OR c = 'ab'"});
    EXPECT_EQ(Select("SELECT n FROM E ORDER BY n"), (Rows{{"2"}, {"3"}, {"4"}, {"5"}, {"8"}}));
}

// A scan steps from record to record within a page and from page to page; after deletes that
// empty whole pages (which the table gives back) and thin out others, it reads exactly the rows
// that are left, also when new rows fill the freed room again.
TEST_F(QueryExec, ScanReadsEveryRemainingRowAfterDeletesEmptiedPages) {
    std::vector<std::string> statements = {"CREATE TABLE P (n Integer, m Integer, t String(60))"};
    for (int i = 0; i < 400; ++i) {
        statements.push_back("INSERT INTO P (n, m, t) VALUES (" + std::to_string(i) + ", " + std::to_string(i % 3) +
                             ", 'row " + std::to_string(i) + " padded to take room in its page')");
    }
    statements.push_back("DELETE FROM P WHERE n >= 50 AND n < 250");
    statements.push_back("DELETE FROM P WHERE n >= 250 AND m = 0");
    Execute(statements);
    Rows expected;
    for (int i = 0; i < 400; ++i) {
        if ((i >= 50 && i < 250) || (i >= 250 && i % 3 == 0)) continue;
        expected.push_back({std::to_string(i)});
    }
    EXPECT_EQ(Select("SELECT n FROM P ORDER BY n"), expected);
    EXPECT_EQ(Select("SELECT COUNT(*) FROM P WHERE t > 'row'"), (Rows{{std::to_string(expected.size())}}));

    Execute({"INSERT INTO P (n, m, t) VALUES (1000, 1, 'refilled')", "INSERT INTO P (n, m, t) VALUES (1001, 2, 'refilled')"});
    expected.push_back({"1000"});
    expected.push_back({"1001"});
    EXPECT_EQ(Select("SELECT n FROM P ORDER BY n"), expected);
}

TEST_F(QueryExec, ResultCursorLocatesAndNumbersRows) {
    (void)Select("SELECT id, name FROM A ORDER BY id DESC");
    EXPECT_EQ(query_.RecordCount(), 4);
    EXPECT_TRUE(query_.Locate("name", TDatasetVariant(std::string("y"))));
    EXPECT_EQ(query_.RecNo(), 3);
    EXPECT_EQ(query_.FieldByName("id").AsString(), "2");
    EXPECT_FALSE(query_.Locate("name", TDatasetVariant(std::string("q"))));
}

TEST_F(QueryExec, ResultIsBrowsedBothWaysAndNumbered) {
    (void)Select("SELECT id FROM A ORDER BY id DESC");
    const auto at = [this] { return std::make_pair(query_.RecNo(), query_.FieldByName("id").AsString()); };
    query_.Last();
    EXPECT_EQ(at(), std::make_pair(std::int64_t{4}, std::string("1")));
    query_.Prior();
    EXPECT_EQ(at(), std::make_pair(std::int64_t{3}, std::string("2")));
    query_.Next();
    query_.Next();
    EXPECT_TRUE(query_.Eof());
    query_.First();
    EXPECT_EQ(at(), std::make_pair(std::int64_t{1}, std::string("4")));
    query_.Prior();
    EXPECT_TRUE(query_.Bof());
    EXPECT_EQ(at(), std::make_pair(std::int64_t{1}, std::string("4")));

    (void)Select("SELECT id FROM A WHERE id > 10");
    EXPECT_EQ(query_.RecordCount(), 0);
    EXPECT_TRUE(query_.IsEmpty());
    EXPECT_TRUE(query_.Eof());
    EXPECT_TRUE(query_.Bof());
}

// Result values take the form their column stores: typed nulls, the empty text as null, text in
// the file's code page (so text it cannot hold fails as it would in a stored table).
TEST_F(QueryExec, ResultValuesTakeTheFormOfTheirColumn) {
    struct Case {
        const char* sql;
        const char* value;  // nullptr: the statement fails with `code`
        TFieldType type;
        int code;
    };
    const Case cases[] = {
        {"SELECT name FROM A WHERE id = 3", N, TFieldType::ftString, 0},
        {"SELECT '' AS e FROM A WHERE id = 1", N, TFieldType::ftString, 0},
        {"SELECT 'Straße' AS t FROM A WHERE id = 1", "Straße", TFieldType::ftString, 0},
        {"SELECT id FROM A WHERE id = 2", "2", TFieldType::ftInteger, 0},
        {"SELECT id * 10 + 0.5 AS v FROM A WHERE id = 2", "20.5", TFieldType::ftUnknown, 0},
        {"SELECT name || grp AS t FROM A WHERE id = 4", "x", TFieldType::ftString, 0},
        {"SELECT name || grp AS t FROM A WHERE id = 1", "xg1", TFieldType::ftString, 0},
        {"SELECT '\u03A9' AS t FROM A WHERE id = 1", nullptr, TFieldType::ftUnknown, 30053},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        if (c.value == nullptr) {
            EXPECT_EQ(NativeErrorOf([&] { (void)Select(c.sql); }), c.code);
            continue;
        }
        EXPECT_EQ(Select(c.sql), (Rows{{c.value}}));
        if (c.type != TFieldType::ftUnknown) {
            EXPECT_EQ(query_.Field(0).DataType(), c.type);
        }
    }
}

// An equality on a column with an index reads through the index; the rows equal a scan, also
// for keys that repeat, miss, or sit at either end of the index.
TEST_F(QueryExec, EqualityOnAKeyColumnFindsItsRows) {
    std::vector<std::string> statements = {"CREATE TABLE K (ID String(9) PRIMARY KEY, Name String(10), n Integer)",
                                           "CREATE INDEX KN ON K (Name)"};
    for (int i = 0; i < 300; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "N%08X", 0x1000 + i * 7);
        statements.push_back(std::string("INSERT INTO K VALUES ('") + id + "', 'n" + std::to_string(i % 9) + "', " +
                             std::to_string(i) + ")");
    }
    Execute(statements);
    const std::vector<std::pair<std::string, Rows>> cases = {
        {"ID = 'N00001000'", {{"0"}}},
        {"ID = 'N0000182D'", {{"299"}}},
        {"ID = 'N00001007'", {{"1"}}},
        {"ID = 'N00001001'", {}},
        {"ID = 'n00001007'", {}},
        {"'N0000100E' = ID", {{"2"}}},
        {"ID = 'N00001007' AND n = 2", {}},
        {"Name = 'n8' AND n < 20", {{"8"}, {"17"}}},
    };
    for (const auto& [condition, rows] : cases) {
        SCOPED_TRACE(condition);
        EXPECT_EQ(Select("SELECT n FROM K WHERE " + condition + " ORDER BY n"), rows);
    }
}

TEST_F(QueryExec, SelectIntoCopiesTheResultIntoANewTable) {
    (void)Select("SELECT id, name AS label INTO Copied FROM A WHERE grp = 'g1'");
    EXPECT_EQ(query_.RecordCount(), 2);
    EXPECT_EQ(Select("SELECT label, id FROM Copied ORDER BY id"), (Rows{{"x", "1"}, {"y", "2"}}));
}

} // namespace
} // namespace kova
