// The kova-sql binary's SQL mode run as a real process: where the statements come from, how rows,
// nulls, echoes and errors are printed, the exit status, creating a database on the way and
// opening one with a password.
#include "api_test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kova {
namespace {

using apitest::ScratchDirectory;

struct ShellRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// One argument for /bin/sh, in single quotes.
std::string Quoted(const std::string& argument) {
    std::string quoted = "'";
    for (const char c : argument) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// Runs the shell with `arguments`; standard input is `input`, or empty when none is given.
ShellRun RunShell(const ScratchDirectory& dir, const std::vector<std::string>& arguments,
                  const std::optional<std::string>& input = std::nullopt) {
    const std::string in = dir.File("stdin.txt");
    const std::string out = dir.File("stdout.txt");
    const std::string err = dir.File("stderr.txt");
    WriteFile(in, input.value_or(""));
    std::string command = Quoted(KOVA_SQL_BINARY);
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    command += " <" + Quoted(in) + " >" + Quoted(out) + " 2>" + Quoted(err);
    const int status = std::system(command.c_str());
    ShellRun run;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Out = ReadFile(out);
    run.Err = ReadFile(err);
    return run;
}

// A database with the password "geheim" and the table t (a, b): 1 "eins", 2 null, 3 "drei";
// every case runs on its own copy.
class KovaSqlShell : public ::testing::Test {
protected:
    void SetUp() override {
        const ShellRun created = RunShell(
            dir_, {"--create", "--password", "geheim", seed_, "-c", "CREATE TABLE t (a Integer, b String(20))", "-c",
                   "INSERT INTO t (a, b) VALUES (1, 'eins')", "-c", "INSERT INTO t (a) VALUES (2)", "-c",
                   "INSERT INTO t (a, b) VALUES (3, 'drei')"});
        ASSERT_EQ(created.ExitCode, 0) << created.Out << created.Err;
        ASSERT_EQ(created.Out, "");
        ASSERT_EQ(created.Err, "");
    }

    // A fresh copy of the seed database.
    std::string FreshCopy() {
        const std::string copy = dir_.File("case.abs");
        std::filesystem::copy_file(seed_, copy, std::filesystem::copy_options::overwrite_existing);
        return copy;
    }

    ScratchDirectory dir_;
    std::string seed_ = dir_.File("seed.abs");
};

struct Case {
    std::string Name;
    std::vector<std::string> Options;  // before the database file
    std::vector<std::string> After;    // after it (-c arguments)
    std::optional<std::string> Input;
    int ExitCode;
    std::string Out;
    std::string Err;
};

const std::string kUnknownStatement =
    "SQL token expected, but 'FROBNICATE' found at line 1, column 1 - Native error: 30154";

TEST_F(KovaSqlShell, StatementsOutputAndErrors) {
    const Case cases[] = {
        {"-c arguments run in order on one connection",
         {},
         {"-c", "SELECT COUNT(*) AS n FROM t", "-c", "INSERT INTO t (a, b) VALUES (4, 'vier')", "-c",
          "SELECT a, b FROM t WHERE a >= 3 ORDER BY a"},
         std::nullopt,
         0,
         "n\n3\na\tb\n3\tdrei\n4\tvier\n",
         ""},
        {"standard input split into statements",
         {},
         {},
         "SELECT a FROM t WHERE a = 1;\nSELECT b\nFROM t WHERE a = 3;\n\n",
         0,
         "a\n1\nb\ndrei\n",
         ""},
        {"standard input is not read when -c is given",
         {},
         {"-c", "SELECT a FROM t WHERE a = 1"},
         "SELECT b FROM t WHERE a = 3;",
         0,
         "a\n1\n",
         ""},
        {"nulls print as NULL", {}, {"-c", "SELECT a, b FROM t ORDER BY a"}, std::nullopt, 0,
         "a\tb\n1\teins\n2\tNULL\n3\tdrei\n", ""},
        {"--no-header", {"--no-header"}, {"-c", "SELECT a, b FROM t ORDER BY a"}, std::nullopt, 0,
         "1\teins\n2\tNULL\n3\tdrei\n", ""},
        {"--null text", {"--null", "-"}, {"-c", "SELECT b, a FROM t ORDER BY a DESC"}, std::nullopt, 0,
         "b\ta\ndrei\t3\n-\t2\neins\t1\n", ""},
        {"--null empty", {"--null="}, {"-c", "SELECT a, b FROM t WHERE a = 2"}, std::nullopt, 0, "a\tb\n2\t\n", ""},
        {"an empty result prints the header only", {}, {"-c", "SELECT a FROM t WHERE a > 10"}, std::nullopt, 0, "a\n",
         ""},
        {"statements without rows print nothing", {},
         {"-c", "UPDATE t SET b = 'zwei' WHERE a = 2", "-c", "SELECT b FROM t WHERE a = 2"}, std::nullopt, 0,
         "b\nzwei\n", ""},
        {"umlauts pass through", {},
         {"-c", "INSERT INTO t (a, b) VALUES (5, 'Grüße')", "-c", "SELECT b FROM t WHERE a = 5"}, std::nullopt, 0,
         "b\nGrüße\n", ""},
        {"--echo puts multi-line statements on one line",
         {"--echo"},
         {},
         "SELECT a\nFROM t\r\nWHERE a = 2;\n  UPDATE t SET a = 5 WHERE a = 5 ;",
         0,
         "> SELECT a FROM t WHERE a = 2\na\n2\n> UPDATE t SET a = 5 WHERE a = 5\n",
         ""},
        {"semicolons inside literals and comments do not split",
         {"--echo"},
         {"-c", "SELECT a FROM t WHERE b = 'a;b'; -- nothing; here\nSELECT a FROM t WHERE b = \"drei\" /* ; */"},
         std::nullopt,
         0,
         "> SELECT a FROM t WHERE b = 'a;b'\na\n> SELECT a FROM t WHERE b = \"drei\" /* ; */\na\n3\n",
         ""},
        {"an error stops the run",
         {},
         {"-c", "SELECT a FROM t WHERE a = 1", "-c", "FROBNICATE x", "-c", "SELECT a FROM t WHERE a = 2"},
         std::nullopt,
         1,
         "a\n1\n",
         "error: " + kUnknownStatement + "\n"},
        {"an error inside one text stops it too",
         {"--echo"},
         {},
         "INSERT INTO t (a) VALUES (9);\nFROBNICATE x;\nSELECT a FROM t WHERE a = 9;",
         1,
         "> INSERT INTO t (a) VALUES (9)\n> FROBNICATE x\n",
         "error: " + kUnknownStatement + "\n"},
        {"--keep-going prints the error in place and goes on",
         {"--keep-going", "--echo"},
         {"-c", "SELECT a FROM t WHERE a = 1", "-c", "FROBNICATE x", "-c", "SELECT a FROM t WHERE a = 2"},
         std::nullopt,
         1,
         "> SELECT a FROM t WHERE a = 1\na\n1\n> FROBNICATE x\nerror: " + kUnknownStatement +
             "\n> SELECT a FROM t WHERE a = 2\na\n2\n",
         ""},
        {"--keep-going past a text that does not tokenize",
         {"--keep-going"},
         {"-c", "SELECT a FROM t WHERE b = 'open", "-c", "SELECT a FROM t WHERE a = 3"},
         std::nullopt,
         1,
         "error: Unterminated string at line 1, column 27 - Native error: 30061\na\n3\n",
         ""},
        {"--keep-going without failures exits with 0", {"--keep-going"}, {"-c", "SELECT a FROM t WHERE a = 3"},
         std::nullopt, 0, "a\n3\n", ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"--password", "geheim"};
        arguments.insert(arguments.end(), c.Options.begin(), c.Options.end());
        arguments.push_back(FreshCopy());
        arguments.insert(arguments.end(), c.After.begin(), c.After.end());
        const ShellRun run = RunShell(dir_, arguments, c.Input);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Name;
        EXPECT_EQ(run.Out, c.Out) << c.Name;
        EXPECT_EQ(run.Err, c.Err) << c.Name;
    }
}

TEST_F(KovaSqlShell, ChangesOfAnEarlierRunAreStored) {
    const std::string db = FreshCopy();
    ASSERT_EQ(RunShell(dir_, {"--password", "geheim", db, "-c", "DELETE FROM t WHERE a < 3"}).ExitCode, 0);
    const ShellRun run = RunShell(dir_, {"--password", "geheim", "--no-header", db}, "SELECT a FROM t");
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "3\n");
}

TEST_F(KovaSqlShell, CreateMakesAMissingFileAndKeepsAnExistingOne) {
    const std::string db = dir_.File("neu.abs");
    ShellRun run = RunShell(dir_, {"--create", "--password", "kennwort", "--page-size", "1024", db, "-c",
                                   "CREATE TABLE x (a Integer)", "-c", "INSERT INTO x (a) VALUES (7)", "-c",
                                   "SELECT a FROM x"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "a\n7\n");
    // A second --create finds the file and runs on it instead of replacing it.
    run = RunShell(dir_, {"--create", "--password", "kennwort", db, "-c", "SELECT a FROM x"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "a\n7\n");
    run = RunShell(dir_, {"--info", "--password", "kennwort", db});
    EXPECT_NE(run.Out.find("page_size: 1024\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("table: x records=1\n"), std::string::npos) << run.Out;
}

TEST_F(KovaSqlShell, PasswordMustMatch) {
    const std::string wrong = "error: Cannot open database because incorrect password - Native error: 30445\n";
    struct PasswordCase {
        std::vector<std::string> Password;
        int ExitCode;
        std::string Out;
        std::string Err;
    };
    const PasswordCase cases[] = {
        {{"--password", "geheim"}, 0, "a\n1\n", ""},
        {{"--password", "Geheim"}, 1, "", wrong},
        {{}, 1, "", wrong},
        {{"--password", "geheim", "--keep-going"}, 0, "a\n1\n", ""},
        {{"--password", "falsch", "--keep-going"}, 1, "", wrong},
    };
    for (const PasswordCase& c : cases) {
        std::vector<std::string> arguments = c.Password;
        arguments.push_back(FreshCopy());
        arguments.insert(arguments.end(), {"-c", "SELECT a FROM t WHERE a = 1"});
        const ShellRun run = RunShell(dir_, arguments);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << ::testing::PrintToString(c.Password);
        EXPECT_EQ(run.Out, c.Out) << ::testing::PrintToString(c.Password);
        EXPECT_EQ(run.Err, c.Err) << ::testing::PrintToString(c.Password);
    }
}

TEST_F(KovaSqlShell, ArgumentMistakes) {
    const std::string db = FreshCopy();
    struct ArgumentCase {
        std::vector<std::string> Arguments;
        std::string Err;
    };
    const ArgumentCase cases[] = {
        {{"--password", "geheim", db}, "error: no mode given\n"},
        {{"--info", "--password", "geheim", db, "-c", "SELECT a FROM t"}, "error: --info runs no SQL\n"},
        {{"--password", "geheim", db, "-c"}, "error: option -c needs a value\n"},
        {{"--password", "geheim", "-c", "SELECT a FROM t"}, "error: exactly one database file expected\n"},
        {{"--password", "geheim", "--echo=1", db, "-c", "SELECT a FROM t"}, "error: option --echo takes no value\n"},
    };
    for (const ArgumentCase& c : cases) {
        const ShellRun run = RunShell(dir_, c.Arguments);
        EXPECT_EQ(run.ExitCode, 1) << ::testing::PrintToString(c.Arguments);
        EXPECT_EQ(run.Out, "") << ::testing::PrintToString(c.Arguments);
        EXPECT_EQ(run.Err, c.Err) << ::testing::PrintToString(c.Arguments);
    }
}

} // namespace
} // namespace kova
