// A registration database for tests: the seven tables a competition template carries, made with
// CREATE TABLE statements through a query, and a small set of sample rows; plus the statement
// texts the application issues against them.
//
// Column types are what a template would choose: fixed and variable texts sized after the
// input fields, whole numbers as Integer, the competition date as Date, the settings value as
// Extended.
#pragma once

#include "engine/api/ABSQuery.h"
#include "../application_statements.h"

#include <string>
#include <vector>

namespace kova::apitest {

// The CREATE TABLE statements of the seven tables (Settings in its "Char" form).
inline std::vector<std::string> RegistrationSchemaStatements() {
    return {
        "CREATE TABLE Wettkampf (WkJahr Integer, Datum Date, Bezeichnung String(59), Ort String(59), "
        "Zeitraum String(11))",
        "CREATE TABLE Verein (ID String(9), Schule String(55), Anschrift String(80), Telefon String(20), "
        "FAX String(20), EMail String(50))",
        "CREATE TABLE Namen (ID String(9), Name String(20), Vorname String(20), Jahrgang Integer, AK String(4), "
        "Disziplin1 String(3), Disziplin2 String(3), Disziplin3 String(3), Staffel String(3), VereinID String(9))",
        "CREATE TABLE Klassen (Kuerzel String(4), Klasse String(30), SEX String(1), AlterVon Integer, "
        "AlterBis Integer)",
        "CREATE TABLE Disziplinen (Kuerzel String(3), Sort Integer, Disziplin String(30), EMS String(1))",
        "CREATE TABLE KlasseDiszplin (KlKuerzel String(4), DzKuerzel String(3))",
        "CREATE TABLE IF NOT EXISTS Settings (VarName Char(45), VarValue Extended, VarStr Char(255));",
    };
}

// Rows of a template after the school entered its data and five athletes. The athletes are
// chosen so that every sort clause of the list window gives a different order of the four
// listed ones (empty texts are null and sort first); a fifth belongs to another school and is
// not listed; one has no class yet.
inline std::vector<std::string> RegistrationSampleRows() {
    return {
        "INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(\"2011\", \"24.03.2011\", "
        "\"Kreisfinale\", \"Talheim\", \"09:00-13:00\");",
        "INSERT INTO Verein (ID, Schule, Anschrift, Telefon, FAX, EMail) VALUES(\"V00000001\", \"Grundschule Talheim\", "
        "\"Weg 1\", \"0711\", \"0712\", \"a@b.de\")",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W41\", \"Mädchen 10/11\", \"W\", 10, 11)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"M41\", \"Jungen 10/11\", \"M\", 10, 11)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W31\", \"Mädchen 12/13\", \"W\", 12, 13)",
        "INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"M31\", \"Jungen 12/13\", \"M\", 12, 13)",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"BAL\", 70010, \"Ballwurf\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"SPR\", 10010, \"Sprint 50 m\", \"E\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"STA\", 90010, \"Staffel 4x50 m\", \"S\")",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"WEI\", 30010, \"Weitsprung\", \"-\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W41\", \"BAL\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"W41\", \"SPR\")",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"M31\", \"WEI\")",
        "INSERT INTO Settings (VarName, VarValue) VALUES(\"MaxEinzelDiszPerName\", \"3\")",
        "INSERT INTO Settings (VarName, VarValue) VALUES(\"MaxStaffelPerName\", \"1\")",
        "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
        "VALUES(\"N11678868\", \"Maier\", \"Eva\", 2001, \"W41\", \"SPR\", \"WEI\", \"\", \"\", \"V00000001\")",
        "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
        "VALUES(\"N11678801\", \"Albers\", \"Tom\", 1999, \"M31\", \"WEI\", \"BAL\", \"SPR\", \"\", \"V00000001\")",
        "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
        "VALUES(\"N11678902\", \"Maier\", \"Anna\", 2000, \"W41\", \"BAL\", \"\", \"WEI\", \"STA\", \"V00000001\")",
        "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
        "VALUES(\"N11678950\", \"Zeller\", \"Bea\", 2000, \"\", \"\", \"\", \"\", \"\", \"V00000001\")",
        "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
        "VALUES(\"N11678999\", \"Fremd\", \"Ole\", 2001, \"M41\", \"\", \"\", \"\", \"\", \"V00000002\")",
    };
}

// Runs each statement on `query` (which names the database) for its effect.
inline void ExecuteAll(TABSQuery& query, const std::vector<std::string>& statements) {
    for (const std::string& statement : statements) {
        query.Close();
        query.SetSQLText(statement);
        query.ExecSQL();
    }
}

using testdata::ApplicationStatementTexts;
using testdata::ListSortClauses;
using testdata::ListStatement;

} // namespace kova::apitest
