// kova-sql and files that need repair, run as a real process: a file whose last commit was cut
// off (or that has an old format) is refused without --repair and left as it is; with --repair it
// is rebuilt, the report printed, and the registrations committed before the cut are all there.
#include "repair_test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

namespace kova {
namespace {

using apitest::ReadWholeFile;
using apitest::Registration;

struct ShellRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

std::string Quoted(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ShellRun RunShell(const apitest::ScratchDirectory& dir, const std::vector<std::string>& arguments) {
    const std::string out = dir.File("stdout.txt");
    const std::string err = dir.File("stderr.txt");
    std::string command = Quoted(KOVA_SQL_BINARY);
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    command += " </dev/null >" + Quoted(out) + " 2>" + Quoted(err);
    const int status = std::system(command.c_str());
    ShellRun run;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadWholeFile(out);
    run.Err = ReadWholeFile(err);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The registrations as kova-sql prints them: header "ID\tName\tJahr", then one line per row.
std::map<std::string, Registration> ParseRows(const std::string& out) {
    std::map<std::string, Registration> rows;
    const std::vector<std::string> lines = Lines(out);
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return rows;
    EXPECT_EQ(lines[0], "ID\tName\tJahr");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream fields(lines[i]);
        std::string id, name, year;
        std::getline(fields, id, '\t');
        std::getline(fields, name, '\t');
        std::getline(fields, year, '\t');
        rows[id] = {name, std::stoi(year), {}};
    }
    return rows;
}

// What kova-sql shows of a registration (no note).
std::map<std::string, Registration> WithoutNotes(std::map<std::string, Registration> rows) {
    for (auto& [id, row] : rows) row.Note.clear();
    return rows;
}

constexpr int kCommitted = 80;
constexpr int kCutUpTo = 300;
constexpr char kSelect[] = "SELECT ID, Name, Jahr FROM Namen ORDER BY ID";

class KovaSqlRepair : public ::testing::Test {
protected:
    void SetUp() override {
        apitest::MakeRegistrationsFile(file_, kCommitted, "Namen", apitest::kAppPassword);
        sound_ = ReadWholeFile(file_);
    }

    // The file as a power loss in the middle of a commit leaves it: rows kCommitted..kCutUpTo
    // were being inserted and every seventh committed row deleted.
    void CutTheCommit() {
        const int writes = apitest::CutCommit(file_, kCommitted, kCutUpTo, 50, "Namen", apitest::kAppPassword);
        ASSERT_GT(writes, 10);
        ASSERT_EQ(apitest::HeaderState(file_), FileHeader::kStateCommitting);
    }

    [[nodiscard]] std::vector<std::string> With(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"--password", apitest::kAppPassword});
        return arguments;
    }

    apitest::ScratchDirectory dir_;
    std::string file_ = dir_.File("meldung.abs");
    std::string sound_;
};

TEST_F(KovaSqlRepair, AFileThatNeedsRepairIsRefusedWithoutTheOption) {
    struct Case {
        const char* name;
        bool oldFormat;
        std::string reason;
    };
    for (const Case& c : {Case{"interrupted commit", false, "it was not closed correctly"},
                          Case{"old format", true, "it has an old format"}}) {
        SCOPED_TRACE(c.name);
        apitest::WriteWholeFile(file_, sound_);
        if (c.oldFormat) {
            apitest::SetFormatVersion(file_, 2.5);
        } else {
            CutTheCommit();
        }
        const std::string before = ReadWholeFile(file_);
        const ShellRun run = RunShell(dir_, With({file_, "-c", kSelect}));
        EXPECT_EQ(run.ExitCode, 1);
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, "error: database file '" + file_ + "' needs repair (" + c.reason + "); run again with --repair\n");
        EXPECT_EQ(ReadWholeFile(file_), before);
        EXPECT_TRUE(apitest::LeftoversOf(file_).empty());
    }
}

TEST_F(KovaSqlRepair, RepairRebuildsAnInterruptedFileAndPrintsTheReport) {
    CutTheCommit();
    const ShellRun run = RunShell(dir_, With({"--repair", file_}));
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "repaired: " + file_);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_FALSE(lines[i].empty());
        EXPECT_EQ(lines[i].find('\r'), std::string::npos);
    }
    EXPECT_EQ(apitest::HeaderState(file_), FileHeader::kStateConsistent);
    EXPECT_TRUE(apitest::LeftoversOf(file_).empty());

    // Every registration committed before the cut is there; of the cut-off ones, those that made
    // it are whole.
    const ShellRun select = RunShell(dir_, With({file_, "-c", kSelect}));
    ASSERT_EQ(select.ExitCode, 0) << select.Err;
    const std::map<std::string, Registration> rows = ParseRows(select.Out);
    EXPECT_TRUE(apitest::Contains(rows, WithoutNotes(apitest::RegistrationsBetween(0, kCommitted))));
    EXPECT_TRUE(apitest::Contains(WithoutNotes(apitest::RegistrationsBetween(0, kCutUpTo)), rows));
    {
        apitest::StoredFile stored(file_, apitest::kAppPassword);
        EXPECT_NO_THROW(stored.CheckIntegrity("Namen"));
    }

    const ShellRun again = RunShell(dir_, With({"--repair", file_}));
    EXPECT_EQ(again.ExitCode, 0);
    EXPECT_EQ(again.Out, "no repair needed: " + file_ + "\n");
}

TEST_F(KovaSqlRepair, TheReportNamesTheRecordsThatCouldNotBeRead) {
    // Without a password single records can be spoiled: three slots of the first record page.
    std::filesystem::remove(file_);
    apitest::MakeRegistrationsFile(file_, kCommitted);
    TABSPageNo page = kNoPage;
    std::size_t from = 0;
    std::size_t to = 0;
    {
        apitest::StoredFile stored(file_);
        page = stored.FirstRecordPage("Namen");
        TABSTableHandle table = stored.Tables().OpenTable(stored.Session(), "Namen");
        const auto& geometry = static_cast<TABSDiskTableData&>(table.Table()).Geometry();
        from = geometry.SlotOffset(4);
        to = geometry.SlotOffset(6);
    }
    apitest::SpoilRecordPage(file_, page, from, to - from);
    apitest::SetHeaderState(file_, 1);

    const ShellRun run = RunShell(dir_, {"--repair", file_});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const std::vector<std::string> lines = Lines(run.Out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "repaired: " + file_);
    for (const int slot : {4, 5}) {
        EXPECT_THAT(lines, ::testing::Contains("Table 'Namen': record on page " + std::to_string(page) + ", slot " +
                                               std::to_string(slot) + " cannot be read; dropped"));
    }
    const ShellRun count = RunShell(dir_, {file_, "-c", "SELECT COUNT(*) AS n FROM Namen"});
    EXPECT_EQ(count.Out, "n\n" + std::to_string(kCommitted - 2) + "\n") << count.Err;
}

TEST_F(KovaSqlRepair, RepairBeforeStatementsKeepsTheirOutputClean) {
    struct Case {
        const char* name;
        bool oldFormat;
        std::vector<std::string> notes;  // the lines after "repaired: FILE" on stderr
    };
    const Case cases[] = {
        {"interrupted commit", false, {}},
        {"old format",
         true,
         {"Database file you are opening is of old format. It will be converted to the current database format now. "
          "It is recommended to make a backup of the database before continuing."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        apitest::WriteWholeFile(file_, sound_);
        if (c.oldFormat) {
            apitest::SetFormatVersion(file_, 2.5);
        } else {
            apitest::SetHeaderState(file_, 1);
        }
        const ShellRun run = RunShell(dir_, With({"--repair", file_, "-c", "SELECT COUNT(*) AS n FROM Namen"}));
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_EQ(run.Out, "n\n" + std::to_string(kCommitted) + "\n");
        std::vector<std::string> expected{"repaired: " + file_};
        expected.insert(expected.end(), c.notes.begin(), c.notes.end());
        EXPECT_EQ(Lines(run.Err), expected);
        EXPECT_EQ(apitest::HeaderState(file_), FileHeader::kStateConsistent);
        EXPECT_DOUBLE_EQ(apitest::FormatVersion(file_), FileHeader::kFormatVersion);
    }
}

TEST_F(KovaSqlRepair, RepairAndInfoExcludeEachOther) {
    const ShellRun run = RunShell(dir_, With({"--repair", "--info", file_}));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, "error: --repair and --info exclude each other\n");
}

} // namespace
} // namespace kova
