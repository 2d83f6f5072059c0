// One validation run of the entry form (the class rule and the four discipline rules, fifteen
// small statements) on a database of 1000 registrations, as the form's timer runs it five
// times a second. Target: well under 5 ms per run.
#include "engine/api/ABSMain.h"
#include "model/DModule.h"
#include "registrations/Meldung.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kova::app {
namespace {

constexpr int kRegistrations = 1000;

struct TClass {
    const char* code;
    const char* name;
    const char* sex;
    int from;
    int to;
};
constexpr TClass kClasses[] = {
    {"W41", "Mädchen 10/11", "W", 10, 11}, {"M41", "Jungen 10/11", "M", 10, 11}, {"W31", "Mädchen 12/13", "W", 12, 13},
    {"M31", "Jungen 12/13", "M", 12, 13},  {"W21", "Mädchen 14/15", "W", 14, 15}, {"M21", "Jungen 14/15", "M", 14, 15},
    {"W11", "Mädchen 16/17", "W", 16, 17}, {"M11", "Jungen 16/17", "M", 16, 17},
};

struct TDiscipline {
    const char* code;
    int sort;
    const char* name;
    const char* ems;
};
constexpr TDiscipline kDisciplines[] = {
    {"---", 5, "- keine -", "-"},     {"S50", 10010, "50 m", "E"},        {"S75", 10020, "75 m", "E"},
    {"800", 20010, "800 m", "E"},     {"WEI", 30010, "Weitsprung", "E"},  {"HOC", 40010, "Hochsprung", "E"},
    {"KUG", 50010, "Kugelstoß", "E"}, {"BAL", 70010, "Ballwurf", "E"},    {"SPE", 70020, "Speerwurf", "E"},
    {"R50", 90010, "4 x 50 m Staffel", "S"}, {"R75", 90020, "4 x 75 m Staffel", "S"},
};

void MakeDatabase(const std::string& fileName) {
    TABSDatabaseDataList::Instance().CreateDatabase(fileName, "quorbel", TABSCreateDatabaseOptions{});
    TABSDatabase db;
    db.SetDatabaseName("BenchSetup");
    db.SetDatabaseFileName(fileName);
    db.SetPassword("quorbel");
    TABSQuery query;
    query.SetDatabaseName("BenchSetup");
    const auto run = [&query](const std::string& statement) {
        query.Close();
        query.SetSQLText(statement);
        query.ExecSQL();
    };
    run("CREATE TABLE Wettkampf (WkJahr Integer, Datum Date, Bezeichnung String(59), Ort String(59), "
        "Zeitraum String(11))");
    run("CREATE TABLE Verein (ID String(9), Schule String(55), Anschrift String(80), Telefon String(20), "
        "FAX String(20), EMail String(50))");
    run("CREATE TABLE Namen (ID String(9), Name String(20), Vorname String(20), Jahrgang Integer, AK String(4), "
        "Disziplin1 String(3), Disziplin2 String(3), Disziplin3 String(3), Staffel String(3), VereinID String(9))");
    run("CREATE TABLE Klassen (Kuerzel String(4), Klasse String(30), SEX String(1), AlterVon Integer, "
        "AlterBis Integer)");
    run("CREATE TABLE Disziplinen (Kuerzel String(3), Sort Integer, Disziplin String(30), EMS String(1))");
    run("CREATE TABLE KlasseDiszplin (KlKuerzel String(4), DzKuerzel String(3))");
    run("INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(2027, \"24.03.2027\", "
        "\"Kreisfinale\", \"Talheim\", \"09:00-13:00\")");
    run("INSERT INTO Verein (ID, Schule) VALUES(\"V00000001\", \"Grundschule Talheim\")");
    for (const TClass& c : kClasses) {
        run(std::string("INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"") + c.code + "\", \"" +
            c.name + "\", \"" + c.sex + "\", " + std::to_string(c.from) + ", " + std::to_string(c.to) + ")");
        for (const TDiscipline& d : kDisciplines) {
            run(std::string("INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"") + c.code + "\", \"" + d.code +
                "\")");
        }
    }
    for (const TDiscipline& d : kDisciplines) {
        run(std::string("INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"") + d.code + "\", " +
            std::to_string(d.sort) + ", \"" + d.name + "\", \"" + d.ems + "\")");
    }
    for (int i = 0; i < kRegistrations; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "N1234%04X", i);
        const TClass& c = kClasses[i % 8];
        run(std::string("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, "
                        "Staffel, VereinID) VALUES(\"") +
            id + "\", \"Name" + std::to_string(i) + "\", \"Vorname" + std::to_string(i) + "\", " +
            std::to_string(2027 - c.from) + ", \"" + c.code + "\", \"S50\", \"WEI\", \"BAL\", \"R50\", \"V00000001\")");
    }
    query.Close();
    db.Close();
}

void BM_EntryFormValidation(benchmark::State& state) {
    QTemporaryDir folder;
    const std::string file = folder.filePath(QStringLiteral("bench.abs")).toStdString();
    MakeDatabase(file);
    auto dm = std::make_unique<TDM>();
    dm->ABSDB().SetDatabaseFileName(file);
    DM = dm.get();
    {
        TFormMeldung form;
        form.FillFromCard({"N12340000", "Name0", "Vorname0", "2015", "Jungen 12/13", "50 m", "Weitsprung",
                           "Ballwurf", "4 x 50 m Staffel"});
        if (!form.Validate()) state.SkipWithError("the benchmark's registration does not pass");
        for (auto _ : state) benchmark::DoNotOptimize(form.Validate());
    }
    DM = nullptr;
}
BENCHMARK(BM_EntryFormValidation)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kova::app
