// Competition templates for the file commands' tests: small database files with the
// application's password, one Wettkampf row (or none), in the current form or in the older form
// of earlier seasons (class codes "WK…", no Settings, no javelin).
#pragma once

#include "registration_db.h"

#include <QDir>
#include <QString>

#include <string>
#include <vector>

namespace kova::app::test {

struct TemplateShape {
    const char* datum = "24.03.2011";       // written as the process date format reads it
    const char* bezeichnung = "Kreisfinale";
    const char* ort = "Talheim";
    const char* zeitraum = "09:00-13:00";
    bool competitionRow = true;               // false: the Wettkampf table stays empty
    bool oldForm = false;                     // classes and pairs of earlier seasons, no Settings
};

inline std::string WettkampfRow(const TemplateShape& shape) {
    return std::string("INSERT INTO Wettkampf (WkJahr, Datum, Bezeichnung, Ort, Zeitraum) VALUES(2011, \"") + shape.datum +
           "\", \"" + shape.bezeichnung + "\", \"" + shape.ort + "\", \"" + shape.zeitraum + "\")";
}

// The tables of a template; the current form carries Settings and the sample classes.
inline std::vector<std::string> TemplateStatements(const TemplateShape& shape) {
    std::vector<std::string> statements;
    for (const std::string& s : apitest::RegistrationSchemaStatements()) {
        if (shape.oldForm && s.find("Settings") != std::string::npos) continue;
        statements.push_back(s);
    }
    if (shape.competitionRow) statements.push_back(WettkampfRow(shape));
    if (shape.oldForm) {
        for (const char* code : {"WK4w", "WK4m", "WK3w", "WK3m", "WK2w", "WK2m", "WK1w", "WK1m"}) {
            statements.push_back(std::string("INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"") +
                                 code + "\", \"" + code + "\", \"" + (code[3] == 'w' ? "w" : "m") + "\", 10, 19)");
        }
        statements.push_back("INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"BAL\", 70010, \"Ballwurf\", \"E\")");
        statements.push_back("INSERT INTO KlasseDiszplin (KlKuerzel, DzKuerzel) VALUES(\"WK4w\", \"BAL\")");
    } else {
        statements.push_back("INSERT INTO Klassen (Kuerzel, Klasse, SEX, AlterVon, AlterBis) VALUES(\"W41\", \"Mädchen 10/11\", \"W\", 10, 11)");
        statements.push_back("INSERT INTO Disziplinen (Kuerzel, Sort, Disziplin, EMS) VALUES(\"SPR\", 10010, \"Sprint 50 m\", \"E\")");
        for (const char* name : {"MaxEinzelDiszPerName", "MaxStaffelPerName", "MaxEinzelPlusStaffelPerName",
                                 "MaxNamenPerAKMitDisz", "MaxNamenPerAKMitStaffel"}) {
            statements.push_back(std::string("INSERT INTO Settings (VarName, VarValue) VALUES(\"") + name + "\", 2)");
        }
    }
    return statements;
}

// Writes a template file `name` into `folder` and returns its path.
inline QString MakeTemplate(const QDir& folder, const QString& name, const TemplateShape& shape = {}) {
    const QString path = folder.filePath(name);
    MakeDatabase(path.toStdString(), TemplateStatements(shape));
    return path;
}

} // namespace kova::app::test
