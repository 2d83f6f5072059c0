// kova-sql: command-line shell over the engine.
//
//   kova-sql --create [--password TEXT] [--cipher N] [--page-size N] [--extent N]
//            [--max-connections N] DBFILE      creates an empty database
//   kova-sql --info [--password TEXT] DBFILE    prints the file's settings, one "key: value" a line
//
// Arguments are UTF-8; the password is handed to the engine in Windows-1252. Any failure prints
// "error: " and the exception's text on stderr and exits with 1.
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>

#include "ShellOptions.h"
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
    {"--max-connections", true},
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

int CreateDatabase(const ShellArguments& args) {
    kova::TABSCreateDatabaseOptions options;
    options.Password = Password(args, static_cast<std::uint8_t>(args.Integer("--cipher", 0, 0, kova::kCipherIdCount - 1)));
    options.PageSize = static_cast<std::uint16_t>(args.Integer("--page-size", kova::FileHeader::kDefaultPageSize, 64, 65535));
    options.PageCountInExtent =
        static_cast<std::uint16_t>(args.Integer("--extent", kova::FileHeader::kDefaultPageCountInExtent, 1, 65535));
    options.MaxConnections =
        static_cast<std::int32_t>(args.Integer("--max-connections", kova::kDefaultMaxConnections, 1, 1000000));
    kova::TABSDiskDatabaseData database(DatabaseFile(args));
    database.CreateDatabase(options);
    return 0;
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

int Run(const ShellArguments& args) {
    const bool create = args.Has("--create");
    const bool info = args.Has("--info");
    if (create == info) throw ArgumentError(create ? "--create and --info exclude each other" : "no mode given");
    return create ? CreateDatabase(args) : PrintInfo(args);
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
