// Helpers of the export-list tests: registration databases made from the sample schema plus a
// few statements, read through the export writer, and files read back as bytes.
#pragma once

#include "registration_db.h"

#include "engine/api/ABSMain.h"
#include "model/TalmirMySQLTools.h"
#include "output/QUVWriter.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kova::app::test {

// A Namen row of the school "V00000001" (Jahrgang unquoted, as the list window writes it).
inline std::string NamenRow(const std::string& id, const std::string& name, const std::string& vorname,
                            const std::string& jahrgang, const std::string& ak, const std::string& d1 = "",
                            const std::string& d2 = "", const std::string& d3 = "", const std::string& staffel = "",
                            const std::string& verein = "V00000001") {
    return "INSERT INTO Namen (ID, Name, Vorname, Jahrgang, AK, Disziplin1, Disziplin2, Disziplin3, Staffel, VereinID) "
           "VALUES(\"" + id + "\", \"" + TTalmirMySQLTools::SanitizeQuotes(name) + "\", \"" +
           TTalmirMySQLTools::SanitizeQuotes(vorname) + "\", " + (jahrgang.empty() ? "NULL" : jahrgang) + ", \"" + ak +
           "\", \"" + d1 + "\", \"" + d2 + "\", \"" + d3 + "\", \"" + staffel + "\", \"" + verein + "\")";
}

// The sample database with its Namen rows replaced by `namen`.
inline std::vector<std::string> SchemaWithNamen(const std::vector<std::string>& namen) {
    std::vector<std::string> statements = apitest::RegistrationSchemaStatements();
    for (const std::string& s : apitest::RegistrationSampleRows()) {
        if (s.find("INSERT INTO Namen") == std::string::npos) statements.push_back(s);
    }
    statements.insert(statements.end(), namen.begin(), namen.end());
    return statements;
}

// The whole file as bytes.
inline std::string FileBytes(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Columns `from` to `to` of a line, counted from 1 as the export's column table does.
inline std::string Columns(const std::string& line, std::size_t from, std::size_t to) {
    return line.substr(from - 1, to - from + 1);
}

// The lines of a file as the export writer reads them through its own connection.
inline std::vector<std::string> WriterLines(const std::string& fileName) {
    TABSComponentOwner owner;
    TABSDatabase db(&owner);
    db.SetDatabaseName("QUVTest");
    db.SetDatabaseFileName(fileName);
    db.SetPassword("quorbel");
    TABSQuery source(&owner);
    TABSQuery lookup(&owner);
    source.SetDatabaseName("QUVTest");
    lookup.SetDatabaseName("QUVTest");
    const TTalmirMySQLTools tools;
    TQUVWriter writer(source, lookup, [&tools](TABSQuery& query, const std::string& statement) {
        return tools.RunSQL(query, TTalmirMySQLTools::kOpen, statement);
    });
    std::vector<std::string> lines = writer.BuildLines();
    db.Close();
    return lines;
}

} // namespace kova::app::test
