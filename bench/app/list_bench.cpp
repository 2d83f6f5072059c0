// Reloading the registration list window on a database of 1000 registrations: the list
// statement, the grid's snapshot, the move to a registration and the card that follows it.
#include "app/Application.h"
#include "app/MessageDlg.h"
#include "engine/api/ABSMain.h"
#include "model/DModule.h"
#include "registrations/DBView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kova::app {
namespace {

constexpr int kRegistrations = 1000;

std::vector<std::string> Schema() {
    return {
        "CREATE TABLE Wettkampf (WkJahr Integer, Datum Date, Bezeichnung String(59), Ort String(59), "
        "Zeitraum String(11))",
        "CREATE TABLE Verein (ID String(9), Schule String(55), Anschrift String(80), Telefon String(20), "
        "FAX String(20), EMail String(50))",
        "CREATE TABLE Namen (ID String(9), Name String(20), Vorname String(20), Jahrgang Integer, AK String(4), "
        "Disziplin1 String(4), Disziplin2 String(4), Disziplin3 String(4), Staffel String(4), VereinID String(9))",
        "CREATE TABLE Klassen (Kuerzel String(4), Klasse String(30), SEX String(1), AlterVon Integer, "
        "AlterBis Integer)",
        "CREATE TABLE Disziplinen (Kuerzel String(4), Sort Integer, Disziplin String(30), EMS String(1))",
        "INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(2027, \"24.03.2027\", "
        "\"Kreisfinale\", \"Talheim\", \"09:00-13:00\")",
        "INSERT INTO Verein (ID, Schule) VALUES(\"V00000001\", \"Grundschule Talheim\")",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W41\", \"Mädchen 10/11\", \"W\", 10, 11)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"M41\", \"Jungen 10/11\", \"M\", 10, 11)",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"S50\", 10010, \"50 m\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"WEIT\", 30010, \"Weitsprung\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"R50\", 90010, \"4 x 50 m Staffel\", \"S\")",
    };
}

std::string Id(int i) {
    char id[16];
    std::snprintf(id, sizeof id, "N1234%04X", i);
    return id;
}

// A registration database of `count` athletes of one school.
void MakeDatabase(const std::string& fileName, int count) {
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
    for (const std::string& statement : Schema()) run(statement);
    for (int i = 0; i < count; ++i) {
        const bool girl = i % 2 == 0;
        run("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, "
            "VereinID) VALUES(\"" + Id(i) + "\", \"Name" + std::to_string((i * 7919) % count) + "\", \"Vorname" +
            std::to_string(i) + "\", " + std::to_string(2014 + i % 3) + ", \"" + (girl ? "W41" : "M41") +
            "\", \"S50\", \"WEIT\", \"\", \"R50\", \"V00000001\")");
    }
    query.Close();
    db.Close();
}

// The program's objects on the benchmark database, with the list window shown.
class TListFixture {
public:
    explicit TListFixture(int count) {
        (void)SetMessageHandler([](const TMessageRequest&) { return mbOK; });
        file_ = folder_.filePath(QStringLiteral("bench.abs")).toStdString();
        MakeDatabase(file_, count);
        objects_ = std::make_unique<TApplicationObjects>(QStringList{});
        DM->ABSDB().SetDatabaseFileName(file_);
        FormDatabase->FillSchoolDataToForm();
        FormDatabase->show();
        QApplication::processEvents();
    }
    ~TListFixture() {
        FormDatabase->hide();
        objects_.reset();
        (void)SetMessageHandler(nullptr);
    }
    TListFixture(const TListFixture&) = delete;
    TListFixture& operator=(const TListFixture&) = delete;

private:
    QTemporaryDir folder_;
    std::string file_;
    std::unique_ptr<TApplicationObjects> objects_;
};

// One reload as after an edit: the list in the current order, moved to a registration in the
// middle, the card filled and the commands enabled.
void BM_ListReloadAndLocate(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TListFixture fixture(count);
    const std::string target = Id(count / 2);
    for (auto _ : state) {
        FormDatabase->EmptyCardForm();
        FormDatabase->ShowAndLocateDatabase(target);
        benchmark::DoNotOptimize(FormDatabase->LbId().text());
    }
    if (FormDatabase->LbId().text().toStdString() != target) state.SkipWithError("the registration was not located");
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ListReloadAndLocate)->Arg(kRegistrations)->Unit(benchmark::kMillisecond);

// A title click: the same reload in another order, keeping the current registration.
void BM_ListSortByTitle(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TListFixture fixture(count);
    FormDatabase->ShowAndLocateDatabase(Id(count / 3));
    const QString titles[] = {QStringLiteral("Jahrgang"), QStringLiteral("Name")};
    int next = 0;
    for (auto _ : state) {
        FormDatabase->DBGMainTitleClick(titles[next]);
        next ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ListSortByTitle)->Arg(kRegistrations)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kova::app
