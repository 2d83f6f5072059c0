// Registration database files for the application's tests: the tables a template carries and
// the sample rows, written through the engine with the application's password.
#pragma once

#include "engine/api/ABSMain.h"
#include "engine/api/registration_schema.h"

#include <string>
#include <vector>

namespace kova::app::test {

// Creates `fileName` with the password "quorbel" and runs `statements` on it.
inline void MakeDatabase(const std::string& fileName, const std::vector<std::string>& statements) {
    TABSDatabaseDataList::Instance().CreateDatabase(fileName, "quorbel", TABSCreateDatabaseOptions{});
    TABSDatabase db;
    db.SetDatabaseName("TestSetup");
    db.SetDatabaseFileName(fileName);
    db.SetPassword("quorbel");
    TABSQuery query;
    query.SetDatabaseName("TestSetup");
    apitest::ExecuteAll(query, statements);
    query.Close();
    db.Close();
}

// The seven tables without Settings, and the sample rows that do not touch Settings.
inline std::vector<std::string> SchemaWithoutSettings() {
    std::vector<std::string> statements;
    for (const std::string& s : apitest::RegistrationSchemaStatements()) {
        if (s.find("Settings") == std::string::npos) statements.push_back(s);
    }
    for (const std::string& s : apitest::RegistrationSampleRows()) {
        if (s.find("Settings") == std::string::npos) statements.push_back(s);
    }
    return statements;
}

// The full schema with the sample rows.
inline std::vector<std::string> FullSchema() {
    std::vector<std::string> statements = apitest::RegistrationSchemaStatements();
    for (const std::string& s : apitest::RegistrationSampleRows()) statements.push_back(s);
    return statements;
}

} // namespace kova::app::test
