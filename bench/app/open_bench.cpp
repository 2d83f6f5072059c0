// Opening a registration database of 1000 registrations through the main window's whole open
// path: validity test, schema upgrade, presentation (school data, caption, export controls,
// status bars) and the registration list window with its grid, shown and closed again.
#include "app/Application.h"
#include "app/Main.h"
#include "app/MessageDlg.h"
#include "engine/api/ABSMain.h"
#include "registrations/DBView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace kova::app {
namespace {

std::vector<std::string> Statements(int registrations) {
    std::vector<std::string> statements = {
        "CREATE TABLE Wettkampf (WkJahr Integer, Datum Date, Bezeichnung String(59), Ort String(59), Zeitraum String(11))",
        "CREATE TABLE Verein (ID String(9), Schule String(55), Anschrift String(80), Telefon String(20), FAX String(20), "
        "EMail String(50))",
        "CREATE TABLE Namen (ID String(9), Name String(20), Vorname String(20), Jahrgang Integer, AK String(4), "
        "Disziplin1 String(3), Disziplin2 String(3), Disziplin3 String(3), Staffel String(3), VereinID String(9))",
        "CREATE TABLE Klassen (Kuerzel String(4), Klasse String(30), SEX String(1), AlterVon Integer, AlterBis Integer)",
        "CREATE TABLE Disziplinen (Kuerzel String(3), Sort Integer, Disziplin String(30), EMS String(1))",
        "CREATE TABLE KlasseDiszplin (KlKuerzel String(4), DzKuerzel String(3))",
        "INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(2011, \"24.03.2011\", \"Kreisfinale\", "
        "\"Talheim\", \"09:00-13:00\")",
        "INSERT INTO Verein (ID, Schule) VALUES(\"V00000001\", \"Grundschule Talheim\")",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W41\", \"Mädchen 10/11\", \"W\", 10, 11)",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"SPR\", 10010, \"Sprint 50 m\", \"E\")",
    };
    for (int i = 0; i < registrations; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "N%08X", 0x11670000 + i);
        statements.push_back(std::string("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Staffel, VereinID) "
                                         "VALUES(\"") +
                             id + "\", \"Name" + std::to_string(i % 97) + "\", \"Vorname" + std::to_string(i) +
                             "\", 2001, \"W41\", \"SPR\", \"\", \"V00000001\")");
    }
    return statements;
}

void MakeDatabase(const std::string& fileName, int registrations) {
    TABSDatabaseDataList::Instance().CreateDatabase(fileName, "quorbel", TABSCreateDatabaseOptions{});
    TABSDatabase db;
    db.SetDatabaseName("BenchSetup");
    db.SetDatabaseFileName(fileName);
    db.SetPassword("quorbel");
    TABSQuery query;
    query.SetDatabaseName("BenchSetup");
    for (const std::string& statement : Statements(registrations)) {
        query.Close();
        query.SetSQLText(statement);
        query.ExecSQL();
    }
    query.Close();
    db.Close();
}

// Closes the registration list window as soon as it has been shown.
class TCloseWhenShown final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched == FormDatabase) {
            QMetaObject::invokeMethod(FormDatabase, [] { FormDatabase->close(); }, Qt::QueuedConnection);
        }
        return false;
    }
};

void BM_OpenDatabase(benchmark::State& state) {
    const int registrations = static_cast<int>(state.range(0));
    QTemporaryDir folder;
    const QString path = folder.filePath("schule.abs");
    MakeDatabase(path.toStdString(), registrations);

    int messages = 0;
    (void)SetMessageHandler([&messages](const TMessageRequest&) {
        ++messages;
        return mbOK;
    });
    {
        TApplicationObjects objects{QStringList{}};
        // The start-up tick now, with no file named: left to its timer it would open the
        // presented file again inside a measured open.
        FormMain->StartTimerTimer();
        TCloseWhenShown closer;
        FormDatabase->installEventFilter(&closer);
        for (auto _ : state) {
            FormMain->OpenDatabaseFile(path);
        }
        FormDatabase->removeEventFilter(&closer);
        if (messages != 0 || !FormMain->DatabasePresented()) state.SkipWithError("the database was not presented");
    }
    (void)SetMessageHandler(nullptr);
    state.counters["registrations"] = registrations;
}

BENCHMARK(BM_OpenDatabase)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kova::app
