// A small competition for the entry form's tests: a data module on a database whose classes,
// disciplines and allowed pairs are chosen so that every rule of the form can pass and fail.
//
// Competition year 2010. Classes (ordered by SEX, AlterBis as the form lists them):
//   M "Jungen 10/11" (10-11), M "Jungen 14/15" (14-15), M "Lehrer" (30-100),
//   W "Mädchen 10/11" (10-11), W "Mädchen 14/15" (14-15).
// Disciplines by Sort: "- keine -" (all lists), "Sprint 50 m" (E), "Ballwurf" (E), "BALLWURF" (E),
//   "Weitsprung" (all lists), "Hoch "Sprung"" (E, a double quote in its name),
//   "Staffel 4x50 m" (S), "Geheim" (no EMS: in no list).
// Pairs: "Mädchen 14/15" has every discipline; "Mädchen 10/11" only Sprint and "- keine -";
//   "Lehrer" only "- keine -"; the boys' classes none.
#pragma once

#include "registration_db.h"

#include "model/DModule.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace kova::app::test {

inline std::vector<std::string> MeldungCompetitionRows() {
    return {
        "INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(2010, \"24.03.2010\", "
        "\"Kreisfinale\", \"Talheim\", \"09:00-13:00\")",
        "INSERT INTO Verein (ID, Schule) VALUES(\"V00000001\", \"Grundschule Talheim\")",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W31\", \"Mädchen 14/15\", \"W\", 14, 15)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"M41\", \"Jungen 10/11\", \"M\", 10, 11)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W41\", \"Mädchen 10/11\", \"W\", 10, 11)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"LEH\", \"Lehrer\", \"M\", 30, 100)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"M31\", \"Jungen 14/15\", \"M\", 14, 15)",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"STA\", 90, \"Staffel 4x50 m\", \"S\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"SPR\", 10, \"Sprint 50 m\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"BAL\", 20, \"Ballwurf\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"BAU\", 25, \"BALLWURF\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"WEI\", 30, \"Weitsprung\", \"-\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"HOC\", 40, \"Hoch \"\"Sprung\"\"\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"NIX\", 5, \"- keine -\", \"-\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"GEH\", 95, \"Geheim\", \"\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"SPR\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"BAL\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"BAU\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"WEI\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"HOC\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"NIX\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"STA\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W31\", \"GEH\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W41\", \"SPR\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W41\", \"NIX\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"LEH\", \"NIX\")",
        "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
        "VALUES(\"N11678868\", \"Maier\", \"Eva\", 1995, \"W31\", \"BAL\", \"SPR\", \"NIX\", \"STA\", \"V00000001\")",
    };
}

// The schema (without Settings, which the form never reads) and the competition above.
inline std::vector<std::string> MeldungCompetition() {
    std::vector<std::string> statements;
    for (const std::string& s : apitest::RegistrationSchemaStatements()) {
        if (s.find("Settings") == std::string::npos) statements.push_back(s);
    }
    for (std::string& s : MeldungCompetitionRows()) statements.push_back(std::move(s));
    return statements;
}

// A data module on a fresh copy of the competition, installed as the program's DM.
class MeldungDatabase : public ::testing::Test {
protected:
    void SetUp() override { Use(MeldungCompetition()); }
    void TearDown() override {
        DM = nullptr;
        dm_.reset();
    }

    void Use(const std::vector<std::string>& statements) {
        DM = nullptr;
        dm_.reset();
        file_ = folder_.filePath(QStringLiteral("meldung%1.abs").arg(++files_)).toStdString();
        MakeDatabase(file_, statements);
        dm_ = std::make_unique<TDM>();
        dm_->ABSDB().SetDatabaseFileName(file_);
        DM = dm_.get();
    }

    // Runs a statement on the working database for its effect.
    void Execute(const std::string& statement) {
        (void)dm_->TalmirMySQLTools().RunSQL(dm_->ABSQH1(), TTalmirMySQLTools::kExecute, statement);
    }

    QTemporaryDir folder_;
    std::string file_;
    int files_ = 0;
    std::unique_ptr<TDM> dm_;
};

} // namespace kova::app::test
