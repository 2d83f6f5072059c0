// A registration database for tests: the seven tables a competition template carries, made with
// CREATE TABLE statements through a query, and a small set of sample rows; plus the statement
// texts the application issues against them.
//
// Column types are what a template would choose: fixed and variable texts sized after the
// input fields, whole numbers as Integer, the competition date as Date, the settings value as
// Extended.
#pragma once

#include "engine/api/ABSQuery.h"

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

// The list window's statement for one sort clause.
inline std::string ListStatement(const std::string& sortClause) {
    return "SELECT Name, Vorname, AK, Jahrgang, Disziplin1, Disziplin2, Disziplin3, Staffel, v.Schule, n.ID  FROM "
           "Namen n, Verein v WHERE v.ID = n.VereinId ORDER BY " +
           sortClause;
}

// The sort clauses of the list window, one per column title.
inline std::vector<std::string> ListSortClauses() {
    return {"ID",
            "Name, Vorname",
            "Vorname, Name",
            "Jahrgang, Name, Vorname",
            "AK, Name, Vorname",
            "Disziplin1, AK, Name, Vorname",
            "Disziplin2, AK, Name, Vorname",
            "Disziplin3, AK, Name, Vorname",
            "Staffel, AK, Name, Vorname"};
}

// Every statement text the application issues (the list statement once per sort clause).
inline std::vector<std::string> ApplicationStatementTexts() {
    std::vector<std::string> statements = {
        "CREATE TABLE IF NOT EXISTS Settings (VarName Char(45), VarValue Extended, VarStr Char(255));",
        "CREATE TABLE IF NOT EXISTS Settings (VarName String(45), VarValue Extended, VarString String(255));",
        "SELECT VarValue FROM Settings WHERE UPPER(VarName) = \"MAXSTAFFELPERNAME\"",
        "UPDATE Settings SET VarValue=\"3\" WHERE UPPER(VarName) = \"MAXSTAFFELPERNAME\";",
        "INSERT INTO Settings (VarName, VarValue)  VALUES(\"MaxStaffelPerName\", \"1\");",
        "SELECT * FROM Settings WHERE VarName=\"MaxEinzelDiszPerName\"",
        "UPDATE Settings SET VarValue=\"3\" WHERE VarName=\"MaxEinzelDiszPerName\";",
        "INSERT INTO Settings (VarValue, VarName) VALUES(\"3\",\"MaxEinzelDiszPerName\");",
        "SELECT * FROM Disziplinen WHERE Kuerzel=\"SPE\"",
        "INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS)  VALUES(\"SPE\", 70020, \"Speerwurf\", \"E\");",
        "SELECT * FROM KlasseDiszplin WHERE KlKuerzel=\"WK3m\" AND DzKuerzel=\"BAL\"",
        "INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel)  VALUES(\"WK3m\", \"BAL\");",
        "SELECT ID from Namen where ID=\"N11678868\"",
        "INSERT INTO Namen (ID) VALUES(\"N11678868\")",
        "INSERT INTO Namen (ID, LockedBy) VALUES(\"N11678868\", \"Lock\")",
        "SELECT ID, LockedBy FROM Namen WHERE ID=\"N11678868\" AND LockedBy=\"Lock\"",
        "SELECT * FROM Wettkampf",
        "SELECT * FROM Wettkampf;",
        "SELECT WkJahr FROM Wettkampf;",
        "UPDATE Wettkampf SET WkJahr=\"2011\", Datum=\"24.03.2011\", Bezeichnung=\"Kreisfinale\", Ort=\"Talheim\", "
        "Zeitraum=\"09:00-13:00\";",
        "INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(\"2011\", \"24.03.2011\", "
        "\"Kreisfinale\", \"Talheim\", \"09:00-13:00\");",
        "SELECT * FROM Klassen WHERE Kuerzel=\"W41\"",
        "SELECT * FROM Klassen WHERE Kuerzel=\"W41\";",
        "SELECT * FROM Klassen WHERE Klasse=\"Mädchen 10/11\";",
        "UPDATE Klassen SET AlterVon=\"10\", AlterBis=\"11\" WHERE Kuerzel=\"W41\";",
        "DELETE FROM Klassen WHERE Kuerzel=\"W41\";",
        "SELECT * FROM Klassen ORDER BY SEX, AlterBis;",
        "SELECT * FROM Klassen;",
        "SELECT * FROM Klassen WHERE (Kuerzel=\"W41\" AND AlterVon<=12 AND AlterBis>=12);",
        "SELECT * FROM Disziplinen WHERE Kuerzel=\"SPE\";",
        "SELECT * FROM Disziplinen WHERE Disziplin=\"Speerwurf\";",
        "SELECT * FROM Disziplinen ORDER BY Sort;",
        "SELECT * FROM KlasseDiszplin WHERE (KlKuerzel=\"W41\" AND DzKuerzel=\"SPE\");",
        "SELECT * FROM Namen WHERE ID=\"N11678868\";",
        "SELECT * FROM Namen ORDER BY AK, Name, Vorname, Jahrgang",
        "SELECT * FROM Verein",
        "SELECT * FROM Verein WHERE ID=\"V00000001\"",
        "UPDATE Verein SET \rSchule=\"Grundschule\",Anschrift=\"Weg 1\",Telefon=\"0711\",FAX=\"0712\",EMail=\"a@b.de\" "
        "WHERE ID=\"V00000001\";",
        "DELETE FROM Namen WHERE ID=\"N11678868\";",
        "UPDATE Namen SET Name=\"Maier\",Vorname=\"Eva\",Jahrgang=2001,AK=\"W41\",Disziplin1=\"SPE\",Disziplin2=\"-\","
        "Disziplin3=\"-\",Staffel=\"-\",VereinID=\"V00000001\" WHERE ID=\"N11678868\";",
        "UPDATE Namen SET Name=\"Maier\",Vorname=\"Eva\",Jahrgang=2001,AK=\"W41\",Disziplin1=\"\",Disziplin2=\"\","
        "Disziplin3=\"\",Staffel=\"\",VereinID=\"V00000001\" WHERE ID=\"N11678868\";",
        "UPDATE Namen SET AK=\"\"WHERE ID=\"N11678868\";",
        "SELECT Jahrgang, Name, Vorname, AK, ID FROM Namen WHERE Length(Name) > 1 ORDER BY Jahrgang, Name, Vorname",
    };
    for (const std::string& sort : ListSortClauses()) statements.push_back(ListStatement(sort));
    return statements;
}

} // namespace kova::apitest
