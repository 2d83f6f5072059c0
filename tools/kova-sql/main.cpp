// kova-sql: command-line shell over the engine.
//
//   kova-sql [--password TEXT] [--create] [--null TEXT] [--no-header] [--echo] [--keep-going]
//            DBFILE [-c SQL]...                runs SQL statements, printing their rows
//   kova-sql --create [--password TEXT] [--cipher N] [--page-size N] [--extent N]
//            [--max-connections N] DBFILE      creates an empty database (replacing the file);
//                                              with SQL to run, --create only makes a missing file
//   kova-sql --info [--password TEXT] DBFILE    prints the file's settings, one "key: value" a line
//   kova-sql --repair [--password TEXT] DBFILE [-c SQL]...
//                                              rebuilds a file that needs repair (it was not closed
//                                              correctly, or has an old format) before running SQL;
//                                              without SQL it prints "repaired: DBFILE" and the
//                                              rebuild's report, or "no repair needed: DBFILE"
//
// Without --repair a file that needs repair is refused: "error: database file 'DBFILE' needs
// repair (...); run again with --repair" and exit status 1, the file left as it is. With SQL to
// run, the lines about a repair go to stderr so that stdout holds only the statements' output.
//
// The SQL comes from the -c arguments in order, else from standard input when that is not a
// terminal. Rows print as a TAB-separated header and one TAB-separated line per row.
// Arguments are UTF-8; the password is handed to the engine in Windows-1252. A failure prints
// "error: " and the exception's text on stderr and exits with 1 (with --keep-going a failing
// statement's error goes to stdout instead, the run goes on and the exit status is 1 at the end).
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "ShellOptions.h"
#include "SqlRunner.h"
#include "engine/core/TextCodec.h"
#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"

namespace {

using kova::shell::ArgumentError;
using kova::shell::OptionSpec;
using kova::shell::ShellArguments;

constexpr OptionSpec kOptions[] = {
    {"--create", false},         {"--info", false},  {"--password", true},
    {"--cipher", true},          {"--page-size", true}, {"--extent", true},
    {"--max-connections", true}, {"--null", true},     {"--no-header", false},
    {"--echo", false},           {"--keep-going", false}, {"-c", true},
    {"--repair", false},
};

// The only file argument of a command.
std::string DatabaseFile(const ShellArguments& args) {
    if (args.Positionals().size() != 1) throw ArgumentError("exactly one database file expected");
    return args.Positionals().front();
}

kova::TABSPassword Password(const ShellArguments& args, std::uint8_t cipher) {
    kova::TABSPassword password;
    password.Password = kova::Utf8ToCp1252(args.Value("--password").value_or(""));
    password.Cipher = cipher;
    return password;
}

// The creation options, checked even when the file exists so that a mistake never goes unseen.
kova::TABSCreateDatabaseOptions CreationOptions(const ShellArguments& args) {
    kova::TABSCreateDatabaseOptions options;
    options.Password = Password(args, static_cast<std::uint8_t>(args.Integer("--cipher", 0, 0, kova::kCipherIdCount - 1)));
    options.PageSize = static_cast<std::uint16_t>(args.Integer("--page-size", kova::FileHeader::kDefaultPageSize, 64, 65535));
    options.PageCountInExtent =
        static_cast<std::uint16_t>(args.Integer("--extent", kova::FileHeader::kDefaultPageCountInExtent, 1, 65535));
    options.MaxConnections =
        static_cast<std::int32_t>(args.Integer("--max-connections", kova::kDefaultMaxConnections, 1, 1000000));
    return options;
}

// Creates the database file; an existing file is replaced only when `replace` is set.
void CreateDatabase(const ShellArguments& args, bool replace) {
    const kova::TABSCreateDatabaseOptions options = CreationOptions(args);
    const std::string file = DatabaseFile(args);
    if (!replace && std::filesystem::exists(file)) return;
    kova::TABSDiskDatabaseData database(file);
    database.CreateDatabase(options);
}

std::string FormatVersion(double version) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, version);
    return std::string(buffer, result.ptr);
}

int PrintInfo(const ShellArguments& args) {
    kova::TABSDiskDatabaseData database(DatabaseFile(args));
    kova::TABSConnectOptions options;
    options.Password = Password(args, 0);
    options.ReadOnly = true;
    const kova::TABSConnection connection = database.ConnectSession(options);
    const kova::TABSDatabaseFileInfo info = database.FileInfo();
    std::printf("signature: %s\n", info.Signature.c_str());
    std::printf("format_version: %s\n", FormatVersion(info.FormatVersion).c_str());
    std::printf("page_size: %u\n", static_cast<unsigned>(info.PageSize));
    std::printf("pages_per_extent: %u\n", static_cast<unsigned>(info.PageCountInExtent));
    std::printf("total_pages: %d\n", static_cast<int>(info.TotalPageCount));
    std::printf("last_used_page: %d\n", static_cast<int>(info.LastUsedPageNo));
    std::printf("commit_counter: %d\n", static_cast<int>(info.CommitCounter));
    std::printf("state: %u\n", static_cast<unsigned>(info.State));
    std::printf("encrypted: %s\n", info.Encrypted ? "yes" : "no");
    std::printf("cipher: %u\n", static_cast<unsigned>(info.Encrypted ? info.Cipher : 0));
    std::printf("max_connections: %d\n", static_cast<int>(database.MaxConnections()));
    std::printf("tables: %zu\n", database.TableCount());
    {
        kova::TABSDiskDatabaseTables tables(database);
        for (const std::string& name : tables.TableNames()) {
            const kova::TABSTableHandle table = tables.OpenTable(connection.SessionID, name);
            std::printf("table: %s records=%llu\n", name.c_str(),
                        static_cast<unsigned long long>(table->RecordCount(connection.SessionID)));
        }
    }
    database.DisconnectSession(connection.SessionID);
    return 0;
}

// Why a file needs repair, read from its header without changing the file; nothing when it does
// not. Opening errors (a wrong password, no database file) pass on as they would when running SQL.
std::optional<std::string> RepairReason(const ShellArguments& args, const std::string& file) {
    // A missing file is the engine's to report, in the words it uses for it.
    if (!std::filesystem::exists(file)) return std::nullopt;
    kova::TABSDiskDatabaseData database(file);
    kova::TABSConnectOptions options;
    options.Password = Password(args, 0);
    options.ReadOnly = true;
    const kova::TABSConnection connection = database.ConnectSession(options);
    std::optional<std::string> reason;
    if (database.NeedsRepair()) {
        reason = database.FileInfo().FormatVersion < kova::FileHeader::kMinimumFormatVersion
                     ? "it has an old format"
                     : "it was not closed correctly";
    }
    database.DisconnectSession(connection.SessionID);
    return reason;
}

// The SQL texts to run: each -c argument, else standard input. A terminal is not read: the
// shell is no interactive prompt, and waiting on one would only hang.
std::vector<std::string> SqlTexts(const ShellArguments& args) {
    std::vector<std::string> texts = args.Values("-c");
    if (!texts.empty() || ::isatty(STDIN_FILENO)) return texts;
    std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    if (input.find_first_not_of(" \t\r\n") != std::string::npos) texts.push_back(std::move(input));
    return texts;
}

int RunSql(const ShellArguments& args) {
    const std::string file = DatabaseFile(args);
    kova::shell::RunOptions options;
    options.Format.NullText = args.Value("--null").value_or("NULL");
    options.Format.Header = !args.Has("--no-header");
    options.Echo = args.Has("--echo");
    options.KeepGoing = args.Has("--keep-going");
    options.Repair = args.Has("--repair");
    const bool create = args.Has("--create");
    const std::vector<std::string> texts = SqlTexts(args);
    if (texts.empty() && !create && !options.Repair) throw ArgumentError("no mode given");
    // --create alone makes a fresh file (replacing one that exists); with statements to run it
    // creates the file only when it is missing, so that a script can be run again.
    if (create) CreateDatabase(args, texts.empty());
    if (texts.empty() && !options.Repair) return 0;

    if (!options.Repair) {
        if (const std::optional<std::string> reason = RepairReason(args, file)) {
            std::fprintf(stderr, "error: database file '%s' needs repair (%s); run again with --repair\n", file.c_str(),
                         reason->c_str());
            return 1;
        }
    }
    kova::shell::SqlRunner runner(file, args.Value("--password").value_or(""), options, stdout, stderr);
    // A repair is the whole result of a run without SQL; beside SQL it is a note.
    std::FILE* notes = texts.empty() ? stdout : stderr;
    if (runner.Repaired()) {
        std::fprintf(notes, "repaired: %s\n", file.c_str());
    } else if (texts.empty()) {
        std::fprintf(notes, "no repair needed: %s\n", file.c_str());
    }
    for (const std::string& line : runner.RepairNotes()) std::fprintf(notes, "%s\n", line.c_str());
    std::fflush(notes);
    for (const std::string& text : texts) {
        if (!runner.RunText(text)) return 1;
    }
    return runner.Failed() ? 1 : 0;
}

int Run(const ShellArguments& args) {
    const bool create = args.Has("--create");
    const bool info = args.Has("--info");
    if (create && info) throw ArgumentError("--create and --info exclude each other");
    if (info && args.Has("--repair")) throw ArgumentError("--repair and --info exclude each other");
    if (info) {
        if (args.Has("-c")) throw ArgumentError("--info runs no SQL");
        return PrintInfo(args);
    }
    return RunSql(args);
}

} // namespace

int main(int argc, char** argv) {
    try {
        const auto args = ShellArguments::Parse(std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)),
                                                kOptions);
        return Run(args);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "error: %s\n", error.what());
        return 1;
    }
}
