// The export list of a database with 1000 registrations: reading the rows with their two lookups
// each, formatting the lines and writing the file (target: well under half a second).
#include "engine/api/ABSMain.h"
#include "model/TalmirMySQLTools.h"
#include "output/QUVWriter.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace kova;
using namespace kova::app;

constexpr int kRegistrations = 1000;

void Execute(TABSQuery& query, const std::string& statement) {
    query.Close();
    query.SetSQLText(statement);
    query.ExecSQL();
}

// A registration database with the export's three tables.
void MakeRegistrations(const std::string& fileName) {
    TABSDatabaseDataList::Instance().CreateDatabase(fileName, "quorbel", TABSCreateDatabaseOptions{});
    TABSDatabase db;
    db.SetDatabaseName("QUVBenchSetup");
    db.SetDatabaseFileName(fileName);
    db.SetPassword("quorbel");
    TABSQuery query;
    query.SetDatabaseName("QUVBenchSetup");
    Execute(query, "CREATE TABLE Verein (ID String(9), Schule String(55), Anschrift String(80), Telefon String(20), "
                   "FAX String(20), EMail String(50))");
    Execute(query, "CREATE TABLE Namen (ID String(9), Name String(20), Vorname String(20), Jahrgang Integer, "
                   "AK String(4), Disziplin1 String(3), Disziplin2 String(3), Disziplin3 String(3), Staffel String(3), "
                   "VereinID String(9))");
    Execute(query, "CREATE TABLE Klassen (Kuerzel String(4), Klasse String(30), SEX String(1), AlterVon Integer, "
                   "AlterBis Integer)");
    Execute(query, "INSERT INTO Verein (ID, Schule) VALUES(\"V00000001\", \"Gymnasium Nord\")");
    const char* classes[] = {"W41", "M41", "W31", "M31", "W21", "M21"};
    for (const char* code : classes) {
        Execute(query, std::string("INSERT INTO Klassen (Kuerzel, Klasse, SEX) VALUES(\"") + code + "\", \"Klasse " +
                           code + "\", \"" + code[0] + "\")");
    }
    for (int i = 0; i < kRegistrations; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "N%08X", i + 1);
        Execute(query, std::string("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, "
                                   "Disziplin3, Staffel, VereinID) VALUES(\"") +
                           id + "\", \"Müller" + std::to_string(i % 97) + "\", \"Jörg" + std::to_string(i) + "\", " +
                           std::to_string(1995 + i % 8) + ", \"" + classes[i % 6] +
                           "\", \"SPR\", \"WEI\", \"-\", \"STA\", \"V00000001\")");
    }
    query.Close();
    db.Close();
}

void BM_QUVExport1000(benchmark::State& state) {
    QTemporaryDir folder;
    const std::string database = folder.filePath("meldung.abs").toStdString();
    const std::string list = folder.filePath("liste.QUV").toStdString();
    MakeRegistrations(database);

    TABSComponentOwner owner;
    TABSDatabase db(&owner);
    db.SetDatabaseName("QUVBench");
    db.SetDatabaseFileName(database);
    db.SetPassword("quorbel");
    TABSQuery source(&owner);
    TABSQuery lookup(&owner);
    source.SetDatabaseName("QUVBench");
    lookup.SetDatabaseName("QUVBench");
    const TTalmirMySQLTools tools;
    TQUVWriter writer(source, lookup, [&tools](TABSQuery& query, const std::string& statement) {
        return tools.RunSQL(query, TTalmirMySQLTools::kOpen, statement);
    });
    for (auto _ : state) {
        const std::vector<std::string> lines = writer.BuildLines();
        if (lines.size() != kRegistrations) state.SkipWithError("wrong number of lines");
        WriteQUVFile(list, lines);
    }
    state.SetItemsProcessed(state.iterations() * kRegistrations);
    db.Close();
}
BENCHMARK(BM_QUVExport1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
