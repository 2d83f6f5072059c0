// kova-sql --info lists every table with its record count after the file's settings.
#include "table_test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace kova::testing {
namespace {

using C = TABSColumnType;

std::vector<std::string> InfoLines(const ScratchDirectory& dir, const std::string& database, int& exitCode) {
    const std::string out = dir.File("info.txt");
    const std::string command = std::string("'") + KOVA_SQL_BINARY + "' --info '" + database + "' >'" + out + "' 2>&1";
    const int status = std::system(command.c_str());
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<std::uint8_t> bytes = ReadWholeFile(out);
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

TEST(KovaSqlTables, InfoPrintsOneLinePerTableAfterTheSettings) {
    ScratchDirectory dir;
    const std::string path = dir.File("info.abs");
    {
        TableDatabase db(path);
        db.Tables().CreateTable("Namen", Definition({Field("ID", C::actInteger)}));
        db.Tables().CreateTable("Leer", Definition({Field("ID", C::actInteger)}));
        auto table = db.Open("Namen");
        for (int i = 0; i < 7; ++i) {
            RecordBuilder r(*table);
            (void)table->InsertRecord(db.Session(), r.Int("ID", i).Bytes());
        }
        table->DeleteRecord(db.Session(), *table->FirstRecord(db.Session()));
    }
    int exitCode = -1;
    const auto lines = InfoLines(dir, path, exitCode);
    ASSERT_EQ(exitCode, 0);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "tables: 2");
    EXPECT_EQ(lines[lines.size() - 2], "table: Namen records=6");
    EXPECT_EQ(lines[lines.size() - 1], "table: Leer records=0");
}

} // namespace
} // namespace kova::testing
