// The statement texts the application issues, for the tests of every layer that runs them
// (parsing in the SQL layer, execution through the dataset API).
#pragma once

#include <string>
#include <vector>

namespace kova::testdata {

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

} // namespace kova::testdata
