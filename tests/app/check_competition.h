// A small competition for the registration check: year 2026, two classes, four disciplines and a
// relay, and the athletes a test adds.
#pragma once

#include "registration_db.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kova::app::test {

struct TAthlete {
    const char* name;
    const char* vorname;
    const char* jahrgang;  // unquoted in the statement; "NULL" for none
    const char* ak;
    const char* d1;
    const char* d2;
    const char* d3;
    const char* staffel;
};

// Competition year 2026; W41 admits ages 10 and 11 (born 2015, 2016), M31 ages 12 and 13.
inline std::vector<std::string> CompetitionStatements() {
    std::vector<std::string> statements = apitest::RegistrationSchemaStatements();
    const std::vector<std::string> rows = {
        "INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(2026, \"18.03.2027\", \"Kreisfinale\", \"Talheim\", \"09:00-13:00\")",
        "INSERT INTO Verein (ID, Schule) VALUES(\"V00000001\", \"Grundschule Talheim\")",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W41\", \"Mädchen 10/11\", \"W\", 10, 11)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"M31\", \"Jungen 12/13\", \"M\", 12, 13)",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"SPR\", 1, \"Sprint 50 m\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"BAL\", 2, \"Ballwurf\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"WEI\", 3, \"Weitsprung\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"STA\", 4, \"Staffel 4x50 m\", \"S\")",
        // "-" is the entry for no discipline; every class allows it.
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"-\", 0, \"-\", \"-\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"M31\", \"-\")",
    };
    statements.insert(statements.end(), rows.begin(), rows.end());
    for (const char* code : {"SPR", "BAL", "WEI", "STA", "-"}) {
        statements.push_back(std::string("INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W41\", \"") + code + "\")");
    }
    statements.push_back("INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"M31\", \"WEI\")");
    return statements;
}

inline std::string InsertAthlete(int number, const TAthlete& a) {
    char id[16];
    std::snprintf(id, sizeof id, "N%08d", number);
    return std::string("INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) VALUES(\"") +
           id + "\", \"" + a.name + "\", \"" + a.vorname + "\", " + a.jahrgang + ", \"" + a.ak + "\", \"" + a.d1 + "\", \"" +
           a.d2 + "\", \"" + a.d3 + "\", \"" + a.staffel + "\", \"V00000001\")";
}

} // namespace kova::app::test
