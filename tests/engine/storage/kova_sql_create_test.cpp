// The kova-sql binary's --create and --info: the bytes of a fresh enciphered database file and
// what --info prints, run as a real process.
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/storage/ABSSecurity.h"
#include "pages_test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::ReadWholeFile;
using testing::ScratchDirectory;

struct CommandResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

std::string ReadText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    return {bytes.begin(), bytes.end()};
}

// Runs the shell with `arguments` (already quoted for the shell where needed).
CommandResult RunShell(const ScratchDirectory& dir, const std::string& arguments) {
    const std::string out = dir.File("stdout.txt");
    const std::string err = dir.File("stderr.txt");
    const std::string command = std::string("'") + KOVA_SQL_BINARY + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    CommandResult result;
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.Out = ReadText(out);
    result.Err = ReadText(err);
    return result;
}

std::map<std::string, std::string> ParseInfo(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos) values[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return values;
}

class KovaSqlTest : public ::testing::Test {
protected:
    ScratchDirectory dir_;
    std::string db_ = dir_.File("x.abs");
};

TEST_F(KovaSqlTest, FreshEncipheredDatabaseByteForByte) {
    const CommandResult created = RunShell(dir_, "--create --password quorbel '" + db_ + "'");
    ASSERT_EQ(created.ExitCode, 0) << created.Err;
    EXPECT_EQ(created.Err, "");
    const std::vector<std::uint8_t> file = ReadWholeFile(db_);
    constexpr std::size_t kPage = 4096;
    ASSERT_EQ(file.size(), 380 + 6 * kPage);
    const std::uint8_t* p = file.data();

    // Main header.
    EXPECT_EQ(std::string(p, p + 16), "EMBEDDEDDATABASE");
    EXPECT_EQ(ReadI16(p + 16), 76);
    std::uint64_t versionBits = 0;
    std::memcpy(&versionBits, p + 18, 8);
    EXPECT_EQ(versionBits, 0x40148F5C28F5C28FULL);
    EXPECT_EQ(ReadU16(p + 26), 4096);
    EXPECT_EQ(ReadU16(p + 28), 8);
    EXPECT_EQ(ReadI32(p + 30), 6);  // TotalPageCount
    EXPECT_EQ(ReadI32(p + 34), 4);  // LastUsedPageNo
    EXPECT_EQ(ReadI32(p + 38), 1);  // one commit wrote the database's own files
    EXPECT_EQ(p[42], 2);
    EXPECT_EQ(p[43], 0xFF);
    EXPECT_EQ(std::vector<std::uint8_t>(p + 44, p + 76), std::vector<std::uint8_t>(32, 0));

    // Encryption block: size, cipher 0, check block whose plain CRC is stored after it.
    const std::uint8_t* block = p + 76;
    EXPECT_EQ(ReadI16(block), 280);
    EXPECT_EQ(block[2], 0);
    EXPECT_EQ(block[3], 0);
    std::vector<std::uint8_t> check(block + 4, block + 260);
    ASSERT_TRUE(DecipherBuffer(0, check.data(), check.size(), "quorbel"));
    EXPECT_EQ(EngineCrc32(check.data(), check.size()), ReadU32(block + 260));
    EXPECT_TRUE(CheckPassword(block, "quorbel"));
    EXPECT_FALSE(CheckPassword(block, "Quorbel"));
    EXPECT_EQ(std::vector<std::uint8_t>(block + 264, block + 280), std::vector<std::uint8_t>(16, 0));

    // Lock area and object counter.
    EXPECT_EQ(ReadI16(p + 356), 20);
    EXPECT_EQ(std::vector<std::uint8_t>(p + 358, p + 376), std::vector<std::uint8_t>(18, 0));
    EXPECT_EQ(ReadI32(p + 376), 0);

    // Pages 0-4: signature, type and chain end.
    const auto page = [&](int n) { return p + 380 + n * kPage; };
    const std::uint16_t types[] = {3, 2, 4, 5, 6};
    for (int n = 0; n < 5; ++n) {
        EXPECT_EQ(std::string(page(n), page(n) + 4), "ABSP") << "page " << n;
        EXPECT_EQ(ReadU16(page(n) + 8), types[n]) << "page " << n;
    }
    for (int n = 2; n < 5; ++n) EXPECT_EQ(ReadI32(page(n) + 10), -1) << "page " << n;
    EXPECT_EQ(page(0)[40], 0x1F);  // PFS: pages 0-4 in use
    EXPECT_EQ(page(1)[40], 1);     // EAM: extent 0 has free pages

    // Page 3, the sessions file, is never enciphered: its header reads plain.
    EXPECT_EQ(page(3)[40], 10);
    EXPECT_EQ(ReadI32(page(3) + 41), 500);

    // Pages 2 and 4 are enciphered; deciphered, their CRC matches and their content shows.
    struct Enciphered {
        int PageNo;
        std::vector<std::uint8_t> Content;  // header and stored bytes
    };
    const Enciphered enciphered[] = {
        {2, {10, 10, 0, 0, 0, 10, 0, 0, 0, 0, 1, 4, 0, 0, 0, 2, 3, 0, 0, 0}},  // directory: 1→4, 2→3
        {4, {10, 0, 0, 0, 0, 0, 0, 0, 0, 0}},                                   // empty table list
    };
    for (const Enciphered& e : enciphered) {
        std::vector<std::uint8_t> data(page(e.PageNo) + 40, page(e.PageNo) + kPage);
        EXPECT_NE(std::vector<std::uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(e.Content.size())),
                  e.Content)
            << "page " << e.PageNo << " is stored plain";
        ASSERT_TRUE(DecipherBuffer(page(e.PageNo)[20], data.data(), data.size(), "quorbel"));
        EXPECT_EQ(EngineCrc32(data.data(), data.size()), ReadU32(page(e.PageNo) + 14)) << "page " << e.PageNo;
        EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(e.Content.size())),
                  e.Content)
            << "page " << e.PageNo;
    }
}

TEST_F(KovaSqlTest, InfoPrintsTheSettings) {
    ASSERT_EQ(RunShell(dir_, "--create --password quorbel '" + db_ + "'").ExitCode, 0);
    const CommandResult info = RunShell(dir_, "--info --password quorbel '" + db_ + "'");
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    const std::map<std::string, std::string> expected = {
        {"signature", "EMBEDDEDDATABASE"}, {"format_version", "5.14"}, {"page_size", "4096"},
        {"pages_per_extent", "8"},         {"total_pages", "6"},       {"last_used_page", "4"},
        {"commit_counter", "1"},           {"state", "2"},             {"encrypted", "yes"},
        {"cipher", "0"},                   {"max_connections", "500"}, {"tables", "0"},
    };
    EXPECT_EQ(ParseInfo(info.Out), expected);
}

TEST_F(KovaSqlTest, CreateHonoursTheChosenSettings) {
    const CommandResult created = RunShell(
        dir_, "--create --cipher 4 --page-size 8192 --extent 16 --max-connections 20 --password=geheim '" + db_ + "'");
    ASSERT_EQ(created.ExitCode, 0) << created.Err;
    const auto info = ParseInfo(RunShell(dir_, "--info --password geheim '" + db_ + "'").Out);
    EXPECT_EQ(info.at("page_size"), "8192");
    EXPECT_EQ(info.at("pages_per_extent"), "16");
    EXPECT_EQ(info.at("cipher"), "4");
    EXPECT_EQ(info.at("max_connections"), "20");
    EXPECT_EQ(info.at("encrypted"), "yes");
    EXPECT_EQ(info.at("total_pages"), "6");
    EXPECT_EQ(ReadWholeFile(db_).size(), 380u + 6u * 8192u);

    ASSERT_EQ(RunShell(dir_, "--create '" + db_ + "'").ExitCode, 0);
    const auto plain = ParseInfo(RunShell(dir_, "--info '" + db_ + "'").Out);
    EXPECT_EQ(plain.at("encrypted"), "no");
    EXPECT_EQ(plain.at("cipher"), "0");
}

TEST_F(KovaSqlTest, FailuresPrintTheErrorAndExitWithOne) {
    ASSERT_EQ(RunShell(dir_, "--create --password quorbel '" + db_ + "'").ExitCode, 0);
    struct Case {
        std::string Arguments;
        std::string ErrorText;
    };
    const Case cases[] = {
        {"--info --password wrong '" + db_ + "'",
         "error: Cannot open database because incorrect password - Native error: 30445\n"},
        {"--info '" + db_ + "'", "error: Cannot open database because incorrect password - Native error: 30445\n"},
        {"--info --password quorbel '" + dir_.File("missing.abs") + "'", ""},
        {"--info", "error: exactly one database file expected\n"},
        {"'" + db_ + "'", "error: no mode given\n"},
        {"--create --info '" + db_ + "'", "error: --create and --info exclude each other\n"},
        {"--create --page-size 12 '" + db_ + "'",
         "error: option --page-size needs a whole number from 64 to 65535, not '12'\n"},
        {"--create --cipher 8 '" + db_ + "'", "error: option --cipher needs a whole number from 0 to 7, not '8'\n"},
        {"--create --password", "error: option --password needs a value\n"},
        {"--frobnicate '" + db_ + "'", "error: unknown option --frobnicate\n"},
        {"--info --password 'Ω' '" + db_ + "'", ""},
    };
    for (const Case& c : cases) {
        const CommandResult result = RunShell(dir_, c.Arguments);
        EXPECT_EQ(result.ExitCode, 1) << c.Arguments;
        EXPECT_EQ(result.Out, "") << c.Arguments;
        if (c.ErrorText.empty()) {
            EXPECT_EQ(result.Err.rfind("error: ", 0), 0u) << c.Arguments << ": " << result.Err;
        } else {
            EXPECT_EQ(result.Err, c.ErrorText) << c.Arguments;
        }
    }
    // The failed --create attempts left the database alone.
    EXPECT_EQ(ParseInfo(RunShell(dir_, "--info --password quorbel '" + db_ + "'").Out).at("total_pages"), "6");
}

TEST_F(KovaSqlTest, PasswordArgumentIsUtf8AndStoredAsWindows1252) {
    ASSERT_EQ(RunShell(dir_, "--create --password 'Kennwort-äß' '" + db_ + "'").ExitCode, 0);
    const std::vector<std::uint8_t> file = ReadWholeFile(db_);
    EXPECT_TRUE(CheckPassword(file.data() + 76, "Kennwort-\xE4\xDF"));
    EXPECT_FALSE(CheckPassword(file.data() + 76, "Kennwort-äß"));
    EXPECT_EQ(RunShell(dir_, "--info --password 'Kennwort-äß' '" + db_ + "'").ExitCode, 0);
}

} // namespace
} // namespace kova
