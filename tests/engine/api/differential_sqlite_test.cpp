// Differential test: random tables and random queries run both through a query on a database
// file of this engine and through SQLite, and the rows must agree (as multisets, or in order when
// the query sorts by every output column).
//
// Only the part of SQL whose meaning both dialects share is generated:
// - texts compared or sorted are lower-case ASCII words, where the locale collation and SQLite's
//   byte order agree; words with umlauts appear only in equality, IN, DISTINCT and GROUP BY;
// - no empty texts (this engine stores them as null), no division, no null constants;
// - a comparison of a column with a text constant has no null semantics here (a null is less
//   than any text and "=" is false for it); the SQLite side spells that out with IS NULL, so
//   both sides give a definite true or false.
// Seeded; KOVA_DIFF_QUERIES=N runs N queries instead of the short default, KOVA_DIFF_SEED=S
// starts from another seed.
#if KOVA_HAVE_SQLITE3

#include "api_test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kova {
namespace {

using Row = std::vector<std::string>;
using Rows = std::vector<Row>;
constexpr const char* kNull = "<null>";

// Words that sort the same byte-wise and by collation.
const std::vector<std::string> kWords = {"alpha", "beta", "betamax", "delta", "gamma", "omega", "zeta"};
// Words with umlauts, for equality only.
const std::vector<std::string> kUmlautWords = {"Grüße", "Müller", "Äpfel", "Öl", "Mueller"};

std::size_t EnvironmentNumber(const char* name, std::size_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    return static_cast<std::size_t>(std::strtoull(text, nullptr, 10));
}

// ---------------------------------------------------------------------------------------------
// The two engines

class SqliteDatabase {
public:
    SqliteDatabase() {
        if (sqlite3_open(":memory:", &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
    }
    ~SqliteDatabase() { sqlite3_close(db_); }
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    void Execute(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error("sqlite: " + text + " in " + sql);
        }
    }

    Rows Select(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_) + " in " + sql);
        }
        const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owner(statement, sqlite3_finalize);
        Rows rows;
        int step = 0;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            Row row;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                switch (sqlite3_column_type(statement, c)) {
                case SQLITE_NULL: row.emplace_back(kNull); break;
                case SQLITE_INTEGER: row.push_back(std::to_string(sqlite3_column_int64(statement, c))); break;
                default: row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, c))); break;
                }
            }
            rows.push_back(std::move(row));
        }
        if (step != SQLITE_DONE) throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_) + " in " + sql);
        return rows;
    }

private:
    sqlite3* db_ = nullptr;
};

class KovaDatabase {
public:
    explicit KovaDatabase(const std::string& fileName) {
        apitest::MakeDatabaseFile(fileName, "");
        database_.SetDatabaseName("DiffDB");
        database_.SetDatabaseFileName(fileName);
        query_.SetDatabaseName("DiffDB");
    }
    ~KovaDatabase() {
        query_.Close();
        database_.Close();
    }
    KovaDatabase(const KovaDatabase&) = delete;
    KovaDatabase& operator=(const KovaDatabase&) = delete;

    void Execute(const std::string& sql) {
        query_.Close();
        query_.SetSQLText(sql);
        query_.ExecSQL();
    }

    Rows Select(const std::string& sql) {
        query_.Close();
        query_.SetSQLText(sql);
        query_.Open();
        Rows rows;
        for (query_.First(); !query_.Eof(); query_.Next()) {
            Row row;
            for (std::size_t c = 0; c < query_.FieldCount(); ++c) {
                const TABSField& field = query_.Field(c);
                row.push_back(field.IsNull() ? kNull : field.AsString());
            }
            rows.push_back(std::move(row));
        }
        query_.Close();
        return rows;
    }

private:
    TABSDatabase database_;
    TABSQuery query_;
};

// ---------------------------------------------------------------------------------------------
// Generator

// A condition in both spellings.
struct Condition {
    std::string Kova;
    std::string Sqlite;
};

struct Query {
    Condition Text;
    bool Ordered = false;
};

class Generator {
public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    // CREATE TABLE and INSERT statements of t1 (id, a, b, s, u) and t2 (id, x, s, u), valid in both.
    std::vector<std::string> Tables() {
        std::vector<std::string> statements = {
            "CREATE TABLE t1 (id Integer, a Integer, b Integer, s VARCHAR(20), u VARCHAR(20))",
            "CREATE TABLE t2 (id Integer, x Integer, s VARCHAR(20), u VARCHAR(20))",
        };
        const int rows1 = Between(5, 30);
        for (int id = 1; id <= rows1; ++id) {
            statements.push_back("INSERT INTO t1 (id, a, b, s, u) VALUES (" + std::to_string(id) + ", " + IntOrNull() +
                                 ", " + IntOrNull() + ", " + WordOrNull(kWords) + ", " + WordOrNull(kUmlautWords) + ")");
        }
        const int rows2 = Between(0, 20);
        for (int id = 1; id <= rows2; ++id) {
            statements.push_back("INSERT INTO t2 (id, x, s, u) VALUES (" + std::to_string(id) + ", " + IntOrNull() + ", " +
                                 WordOrNull(kWords) + ", " + WordOrNull(kUmlautWords) + ")");
        }
        return statements;
    }

    Query Next() {
        switch (Between(0, 6)) {
        case 0: return Filter();
        case 1: return Join();
        case 2: return Grouped();
        case 3: return Distinct();
        case 4: return SetOperation();
        case 5: return Subquery();
        default: return Expressions();
        }
    }

private:
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool Chance(int percent) { return Between(1, 100) <= percent; }
    template <class T>
    const T& Pick(const std::vector<T>& items) {
        return items.at(static_cast<std::size_t>(Between(0, static_cast<int>(items.size()) - 1)));
    }

    std::string IntOrNull() { return Chance(15) ? "NULL" : std::to_string(Between(-3, 8)); }
    std::string WordOrNull(const std::vector<std::string>& words) { return Chance(15) ? "NULL" : Quote(Pick(words)); }
    static std::string Quote(const std::string& word) { return "'" + word + "'"; }
    static Condition Same(const std::string& text) { return {text, text}; }

    // An integer comparison: both dialects use SQL null semantics.
    Condition IntAtom(const std::string& table, const std::vector<std::string>& columns) {
        static const std::vector<std::string> ops = {"=", "<>", "<", "<=", ">", ">="};
        const std::string column = table + "." + Pick(columns);
        switch (Between(0, 5)) {
        case 0: return Same(column + " " + Pick(ops) + " " + table + "." + Pick(columns));
        case 1: return Same(column + " BETWEEN " + std::to_string(Between(-3, 3)) + " AND " + std::to_string(Between(2, 8)));
        case 2: return Same(column + (Chance(50) ? " IS NULL" : " IS NOT NULL"));
        case 3: return Same("(" + column + " + " + table + "." + Pick(columns) + ") " + Pick(ops) + " " +
                            std::to_string(Between(-2, 10)));
        default: return Same(column + " " + Pick(ops) + " " + std::to_string(Between(-3, 8)));
        }
    }

    // A column compared with a text constant: definite true/false in both spellings.
    static Condition TextAtom(const std::string& column, const std::string& op, const std::string& word) {
        const std::string compare = column + " " + op + " " + Quote(word);
        const bool nullIsTrue = op == "<>" || op == "<" || op == "<=";
        return {compare, nullIsTrue ? "(" + column + " IS NULL OR " + compare + ")"
                                    : "(" + column + " IS NOT NULL AND " + compare + ")"};
    }

    Condition Atom(const std::string& table, bool withUmlauts = true) {
        static const std::vector<std::string> ops = {"=", "<>", "<", "<=", ">", ">="};
        const std::vector<std::string> ints = table == "t1" ? std::vector<std::string>{"a", "b", "id"}
                                                            : std::vector<std::string>{"x", "id"};
        switch (Between(0, withUmlauts ? 5 : 3)) {
        case 0: return TextAtom(table + ".s", Pick(ops), Pick(kWords));
        case 1: {
            // Guarded: a null column gives false (not null) in both, also under NOT.
            const std::string word = Pick(kWords).substr(0, static_cast<std::size_t>(Between(1, 3)));
            return Same("(" + table + ".s IS NOT NULL AND " + table + ".s LIKE '" + word + "%')");
        }
        case 4: return TextAtom(table + ".u", "=", Pick(kUmlautWords));
        case 5: {
            return Same("(" + table + ".u IS NOT NULL AND " + table + ".u IN (" + Quote(Pick(kUmlautWords)) + ", " +
                        Quote(Pick(kUmlautWords)) + "))");
        }
        default: return IntAtom(table, ints);
        }
    }

    Condition Where(const std::string& table, int depth = 0, bool withUmlauts = true) {
        if (depth >= 2 || Chance(45)) return Atom(table, withUmlauts);
        const Condition left = Where(table, depth + 1, withUmlauts);
        const Condition right = Where(table, depth + 1, withUmlauts);
        switch (Between(0, 2)) {
        case 0: return {"(" + left.Kova + " AND " + right.Kova + ")", "(" + left.Sqlite + " AND " + right.Sqlite + ")"};
        case 1: return {"(" + left.Kova + " OR " + right.Kova + ")", "(" + left.Sqlite + " OR " + right.Sqlite + ")"};
        default: return {"NOT (" + left.Kova + ")", "NOT (" + left.Sqlite + ")"};
        }
    }

    // ORDER BY every output column (ascending or descending each), a total order of the rows.
    std::string OrderAll(std::size_t columns) {
        std::string order = " ORDER BY ";
        for (std::size_t i = 1; i <= columns; ++i) {
            if (i > 1) order += ", ";
            order += std::to_string(i) + (Chance(30) ? " DESC" : "");
        }
        return order;
    }

    static Query Make(const std::string& head, const Condition& where, const std::string& tail, bool ordered) {
        return {{head + where.Kova + tail, head + where.Sqlite + tail}, ordered};
    }

    Query Filter() {
        std::vector<std::string> columns = {"t1.id", "t1.a", "t1.b", "t1.s"};
        std::shuffle(columns.begin(), columns.end(), rng_);
        columns.resize(static_cast<std::size_t>(Between(1, 4)));
        const bool ordered = Chance(50);
        if (!ordered && Chance(50)) columns.push_back("t1.u");
        std::string list;
        for (const std::string& c : columns) list += (list.empty() ? "" : ", ") + c;
        return Make("SELECT " + list + " FROM t1 WHERE ", Where("t1"), ordered ? OrderAll(columns.size()) : "", ordered);
    }

    Query Join() {
        const std::string columns = "SELECT t1.id, t1.a, t1.s, t2.id, t2.x ";
        const std::string key = Pick(std::vector<std::string>{"t1.a = t2.x", "t1.b = t2.x", "t1.s = t2.s"});
        const bool ordered = Chance(50);
        const std::string order = ordered ? OrderAll(5) : "";
        switch (Between(0, 2)) {
        case 0: return Make(columns + "FROM t1, t2 WHERE " + key + " AND ", Where("t1"), order, ordered);
        case 1: return Make(columns + "FROM t1 INNER JOIN t2 ON " + key + " WHERE ", Where("t1"), order, ordered);
        default:
            return Make(columns + "FROM t1 LEFT OUTER JOIN t2 ON " + key + " WHERE ", Where("t1"), order, ordered);
        }
    }

    Query Grouped() {
        if (Chance(30)) {
            return Make("SELECT t1.u, COUNT(*), MAX(t1.a) FROM t1 WHERE ", Where("t1"), " GROUP BY t1.u", false);
        }
        const std::string key = Pick(std::vector<std::string>{"a", "b", "s"});
        const std::string having = Chance(40) ? " HAVING COUNT(*) > " + std::to_string(Between(0, 2)) : "";
        const bool ordered = Chance(50);
        return Make("SELECT t1." + key + ", COUNT(*), COUNT(t1.b), SUM(t1.a), MIN(t1.b), MAX(t1.s) FROM t1 WHERE ",
                    Where("t1"), " GROUP BY t1." + key + having + (ordered ? OrderAll(6) : ""), ordered);
    }

    Query Distinct() {
        const std::string columns = Pick(std::vector<std::string>{"t1.a", "t1.s", "t1.a, t1.s", "t1.u", "t1.b, t1.u"});
        const bool ordered = columns.find(".u") == std::string::npos && Chance(50);
        const std::size_t count = columns.find(',') == std::string::npos ? 1 : 2;
        return Make("SELECT DISTINCT " + columns + " FROM t1 WHERE ", Where("t1"), ordered ? OrderAll(count) : "",
                    ordered);
    }

    Query SetOperation() {
        const std::string op = Pick(std::vector<std::string>{"UNION", "UNION ALL", "EXCEPT", "INTERSECT"});
        const Condition left = Where("t1", 1);
        const Condition right = Where("t2", 1);
        const bool texts = Chance(40);
        const std::string leftColumn = texts ? "t1.s" : "t1.a";
        const std::string rightColumn = texts ? "t2.s" : "t2.x";
        const bool ordered = Chance(50);
        const std::string order = ordered ? " ORDER BY 1" : "";
        return {{"SELECT " + leftColumn + " FROM t1 WHERE " + left.Kova + " " + op + " SELECT " + rightColumn +
                     " FROM t2 WHERE " + right.Kova + order,
                 "SELECT " + leftColumn + " FROM t1 WHERE " + left.Sqlite + " " + op + " SELECT " + rightColumn +
                     " FROM t2 WHERE " + right.Sqlite + order},
                ordered};
    }

    Query Subquery() {
        const Condition inner = Where("t2", 1, false);
        std::string head;
        switch (Between(0, 2)) {
        case 0: head = "SELECT t1.id, t1.a FROM t1 WHERE t1.a IN (SELECT t2.x FROM t2 WHERE "; break;
        case 1: head = "SELECT t1.id, t1.a FROM t1 WHERE EXISTS (SELECT t2.id FROM t2 WHERE t2.x = t1.a AND "; break;
        default: head = "SELECT t1.id, t1.b FROM t1 WHERE t1.b > (SELECT MIN(t2.x) FROM t2 WHERE "; break;
        }
        return Make(head, inner, ")", false);
    }

    Query Expressions() {
        const bool ordered = Chance(50);
        return Make("SELECT t1.id, t1.a + t1.b, t1.a * 3 - t1.b FROM t1 WHERE ", Where("t1"), ordered ? OrderAll(3) : "",
                    ordered);
    }

    std::mt19937 rng_;
};

std::string Show(const Rows& rows) {
    std::ostringstream out;
    std::size_t shown = 0;
    for (const Row& row : rows) {
        if (++shown > 12) {
            out << "  ... " << rows.size() << " rows\n";
            break;
        }
        out << " ";
        for (const std::string& value : row) out << " [" << value << "]";
        out << "\n";
    }
    return out.str();
}

TEST(DifferentialSqlite, RandomQueriesGiveTheSameRows) {
    const std::size_t queries = EnvironmentNumber("KOVA_DIFF_QUERIES", 150);
    const auto seed = static_cast<std::uint32_t>(EnvironmentNumber("KOVA_DIFF_SEED", 20261210));
    constexpr std::size_t kQueriesPerDatabase = 25;
    apitest::ScratchDirectory dir;
    Generator generator(seed);
    std::size_t failures = 0;
    for (std::size_t done = 0; done < queries && failures < 5;) {
        // New random tables every few queries.
        SqliteDatabase sqlite;
        KovaDatabase kova(dir.File("diff" + std::to_string(done) + ".abs"));
        for (const std::string& statement : generator.Tables()) {
            sqlite.Execute(statement);
            ASSERT_EQ(apitest::MessageOf([&] { kova.Execute(statement); }), "") << statement;
        }
        for (std::size_t i = 0; i < kQueriesPerDatabase && done < queries && failures < 5; ++i, ++done) {
            const Query query = generator.Next();
            Rows expected = sqlite.Select(query.Text.Sqlite);
            Rows actual;
            const std::string error = apitest::MessageOf([&] { actual = kova.Select(query.Text.Kova); });
            if (!query.Ordered) {
                std::sort(expected.begin(), expected.end());
                std::sort(actual.begin(), actual.end());
            }
            if (error.empty() && actual == expected) continue;
            ++failures;
            ADD_FAILURE() << "seed " << seed << ", query " << done << (query.Ordered ? " (ordered)" : "") << "\n  "
                          << query.Text.Kova << "\n  sqlite: " << query.Text.Sqlite << "\n"
                          << (error.empty() ? "" : "  error: " + error + "\n") << "expected:\n"
                          << Show(expected) << "actual:\n"
                          << Show(actual);
        }
    }
}

} // namespace
} // namespace kova

#endif // KOVA_HAVE_SQLITE3
