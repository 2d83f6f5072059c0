// The application's statements on a registration database of 2000 athletes, through a query on an
// enciphered database file as the application runs them (close, set the text, open or execute,
// read), and the same statements on the same rows through SQLite (prepared from text each time,
// as the application builds each statement anew).
//
//   Query/<statement>/kova     one statement per iteration on the open database
//   Query/<statement>/sqlite
//
// The entry form's validation issues the small SELECTs five times a second; the list query with
// its join and ORDER BY runs at every reload of the list window; the UPDATE by ID at every
// confirmed entry form.
#include "../tests/engine/api/registration_schema.h"

#include "engine/api/ABSDatabase.h"
#include "engine/api/ABSDatabaseDataList.h"
#include "engine/api/ABSQuery.h"
#include "engine/core/FormatSettings.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace kova {
namespace {

constexpr int kRegistrations = 2000;

std::string RegistrationId(int n) {
    char id[16];
    std::snprintf(id, sizeof id, "N%08X", 0x11670000 + n);
    return id;
}

// The registrations: names from small pools so that sorting has ties to break.
std::vector<std::string> RegistrationRows() {
    static const char* const names[] = {"Maier", "Albers", "Zeller", "Huber", "Schmidt", "Wagner", "Becker", "Klein"};
    static const char* const firstNames[] = {"Eva", "Tom", "Anna", "Bea", "Paul", "Lena", "Max", "Mia", "Ole"};
    static const char* const classes[] = {"W41", "M41", "W31", "M31"};
    static const char* const disciplines[] = {"BAL", "SPR", "WEI", ""};
    std::mt19937 rng(2011);
    auto pick = [&rng](auto& pool) { return pool[std::uniform_int_distribution<std::size_t>(0, std::size(pool) - 1)(rng)]; };
    std::vector<std::string> rows;
    for (int n = 0; n < kRegistrations; ++n) {
        rows.push_back("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, "
                       "VereinID) VALUES(\"" + RegistrationId(n) + "\", \"" + pick(names) + "\", \"" + pick(firstNames) +
                       "\", " + std::to_string(1998 + n % 5) + ", \"" + pick(classes) + "\", \"" + pick(disciplines) +
                       "\", \"" + pick(disciplines) + "\", \"\", \"\", \"V00000001\")");
    }
    return rows;
}

// SQLite reads double quotes as names; the application's literals become single-quoted.
std::string ForSqlite(std::string sql) {
    for (char& c : sql) {
        if (c == '"') c = '\'';
    }
    return sql;
}

class SqliteFile {
public:
    explicit SqliteFile(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("sqlite3_open failed");
    }
    ~SqliteFile() { sqlite3_close(db_); }
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    void Execute(const std::string& sql) {
        if (sqlite3_exec(db_, ForSqlite(sql).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_));
        }
    }

    // Runs a statement from its text and reads the first column of every row; returns the rows.
    std::int64_t Run(const std::string& sqliteText) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sqliteText.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_));
        }
        std::int64_t rows = 0;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(statement, 0));
            ++rows;
        }
        sqlite3_finalize(statement);
        return rows;
    }

private:
    sqlite3* db_ = nullptr;
};

// Both databases with the schema, the sample rows and the registrations; made once.
class Registrations {
public:
    static Registrations& Instance() {
        static Registrations instance;
        return instance;
    }

    TABSQuery& Query() { return query_; }
    SqliteFile& Sqlite() { return *sqlite_; }

    ~Registrations() {
        query_.Close();
        database_.Close();
        sqlite_.reset();
        ::unlink(kovaPath_.c_str());
        ::unlink(sqlitePath_.c_str());
    }

private:
    Registrations() {
        // The application's date format: the competition date is written as "dd.mm.yyyy".
        TFormatSettings formats;
        formats.ShortDateFormat = "dd.mm.yyyy";
        formats.DateSeparator = '.';
        SetFormatSettings(formats);
        const std::string stem = "/tmp/kova_query_bench_" + std::to_string(::getpid());
        kovaPath_ = stem + ".abs";
        sqlitePath_ = stem + ".sqlite";
        ::unlink(sqlitePath_.c_str());
        TABSDatabaseDataList::Instance().CreateDatabase(kovaPath_, "quorbel", TABSCreateDatabaseOptions{});
        database_.SetDatabaseName("BenchDB");
        database_.SetDatabaseFileName(kovaPath_);
        database_.SetPassword("quorbel");
        query_.SetDatabaseName("BenchDB");
        sqlite_ = std::make_unique<SqliteFile>(sqlitePath_);

        std::vector<std::string> statements = apitest::RegistrationSchemaStatements();
        for (std::string& row : apitest::RegistrationSampleRows()) statements.push_back(std::move(row));
        for (std::string& row : RegistrationRows()) statements.push_back(std::move(row));
        sqlite_->Execute("BEGIN");
        for (const std::string& sql : statements) {
            query_.Close();
            query_.SetSQLText(sql);
            query_.ExecSQL();
            sqlite_->Execute(sql);
        }
        sqlite_->Execute("COMMIT");
        database_.FlushBuffers();
    }

    std::string kovaPath_;
    std::string sqlitePath_;
    TABSDatabase database_;
    TABSQuery query_;
    std::unique_ptr<SqliteFile> sqlite_;
};

struct Statement {
    const char* Name;
    std::string Sql;
    std::string SqliteSql{};  // when SQLite needs other words for the same query
};

std::vector<Statement> Statements() {
    return {
        {"ClassByName", "SELECT * FROM Klassen WHERE Klasse=\"Mädchen 10/11\";"},
        {"CompetitionYear", "SELECT WkJahr FROM Wettkampf;"},
        {"ClassRangeTest", "SELECT * FROM Klassen WHERE (Kuerzel=\"W41\" AND AlterVon<=11 AND AlterBis>=11);"},
        {"ClassDisciplinePair", "SELECT * FROM KlasseDiszplin WHERE (KlKuerzel=\"W41\" AND DzKuerzel=\"SPR\");"},
        {"SettingsLookup", "SELECT VarValue FROM Settings WHERE UPPER(VarName) = \"MAXSTAFFELPERNAME\""},
        {"RegistrationById", "SELECT * FROM Namen WHERE ID=\"" + RegistrationId(kRegistrations / 2) + "\";"},
        {"ListWithJoinAndOrder", apitest::ListStatement("Name, Vorname")},
        // SQLite finds the unqualified ID of both tables ambiguous.
        {"ListOrderedById", apitest::ListStatement("ID"), apitest::ListStatement("n.ID")},
    };
}

void KovaStatement(benchmark::State& state, const Statement& statement) {
    TABSQuery& query = Registrations::Instance().Query();
    std::int64_t rows = 0;
    for (auto _ : state) {
        query.Close();
        query.SetSQLText(statement.Sql);
        query.Open();
        // The application tests for a row, then reads by field name; the list walks every row.
        for (query.First(); !query.Eof(); query.Next()) {
            benchmark::DoNotOptimize(query.Field(0).AsString());
            ++rows;
        }
    }
    query.Close();
    state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void SqliteStatement(benchmark::State& state, const Statement& statement) {
    SqliteFile& sqlite = Registrations::Instance().Sqlite();
    const std::string text = ForSqlite(statement.SqliteSql.empty() ? statement.Sql : statement.SqliteSql);
    std::int64_t rows = 0;
    for (auto _ : state) rows += sqlite.Run(text);
    state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

// The write-back of the entry form for a different registration each time.
std::string UpdateById(int n) {
    return "UPDATE Namen SET Name=\"Maier\",Vorname=\"Eva\",Jahrgang=2001,AK=\"W41\",Disziplin1=\"SPR\","
           "Disziplin2=\"\",Disziplin3=\"\",Staffel=\"\",VereinID=\"V00000001\" WHERE ID=\"" +
           RegistrationId(n % kRegistrations) + "\";";
}

void BM_KovaUpdateById(benchmark::State& state) {
    TABSQuery& query = Registrations::Instance().Query();
    int n = 0;
    for (auto _ : state) {
        query.Close();
        query.SetSQLText(UpdateById(n++ * 7));
        query.ExecSQL();
    }
}

void BM_SqliteUpdateById(benchmark::State& state) {
    SqliteFile& sqlite = Registrations::Instance().Sqlite();
    int n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(sqlite.Run(ForSqlite(UpdateById(n++ * 7))));
}

BENCHMARK(BM_KovaUpdateById)->Name("Query/UpdateById/kova");
BENCHMARK(BM_SqliteUpdateById)->Name("Query/UpdateById/sqlite");

[[maybe_unused]] const bool kRegistered = [] {
    for (const Statement& statement : Statements()) {
        benchmark::RegisterBenchmark((std::string("Query/") + statement.Name + "/kova").c_str(), KovaStatement, statement);
        benchmark::RegisterBenchmark((std::string("Query/") + statement.Name + "/sqlite").c_str(), SqliteStatement,
                                     statement);
    }
    return true;
}();

} // namespace
} // namespace kova
