// The page manager on real files: layout of a new file, locating the header, opening flags,
// enciphered pages, sessions with commit and rollback, injected failures, locks between managers
// and processes.
#include "engine/core/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/storage/ABSDiskPageManager.h"
#include "table_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::FaultyFileSystem;
using testing::NativeErrorOf;
using testing::ReadWholeFile;
using testing::ScratchDirectory;
using testing::WriteWholeFile;

constexpr std::int64_t kFirstPage = 380;
constexpr std::int64_t kPageSize = 4096;
constexpr TABSSessionID kSession1 = 1;
constexpr TABSSessionID kSession2 = 2;

std::int64_t PageAt(TABSPageNo pageNo, std::int64_t base = 0) { return base + kFirstPage + pageNo * kPageSize; }

void FillData(TABSPageHandle& page, std::uint8_t seed) {
    std::span<std::uint8_t> data = page.MutableData();
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(seed + i * 7);
}

bool DataIs(const TABSPageHandle& page, std::uint8_t seed) {
    std::span<const std::uint8_t> data = page.Data();
    for (std::size_t i = 0; i < data.size(); ++i)
        if (data[i] != static_cast<std::uint8_t>(seed + i * 7))
            return false;
    return true;
}

class DiskPageManagerTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    FaultyFileSystem fs;
    std::string path = dir.File("test.abs");

    // Makes a database the way the open-database layer does: pages 2, 3 and 4 in session -2.
    void CreateDatabase(const TABSPassword& password = {}, const std::string& file = {}) {
        TABSDiskPageManager manager(fs);
        manager.CreateDatabaseFile(file.empty() ? path : file, password);
        {
            TABSPageHandle directory = manager.AddPage(kSystemSessionID, TABSPageType::FileSystemDirectory);
            TABSPageHandle sessions = manager.AddPage(kSystemSessionID, TABSPageType::ActiveSessionList, false);
            TABSPageHandle tables = manager.AddPage(kSystemSessionID, TABSPageType::TableList);
            EXPECT_EQ(directory.PageNo(), 2);
            EXPECT_EQ(sessions.PageNo(), 3);
            EXPECT_EQ(tables.PageNo(), 4);
        }
        manager.CommitSession(kSystemSessionID);
    }

    // Adds one record page with recognisable data in its own committed session; returns its number.
    TABSPageNo AddCommittedPage(TABSDiskPageManager& manager, std::uint8_t seed, TABSSessionID session = kSession1) {
        TABSPageNo pageNo;
        {
            TABSPageHandle page = manager.AddPage(session, TABSPageType::TableRecord);
            FillData(page, seed);
            pageNo = page.PageNo();
        }
        manager.CommitSession(session);
        return pageNo;
    }

    void Open(TABSDiskPageManager& manager, bool multiUser = false, const TABSPassword& password = {}) {
        TABSOpenOptions options;
        options.MultiUser = multiUser;
        (void)manager.OpenDatabaseFile(path, password, options);
    }

    void PatchFile(std::int64_t offset, const std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> file = ReadWholeFile(path);
        std::copy(bytes.begin(), bytes.end(), file.begin() + offset);
        WriteWholeFile(path, file);
    }
};

TEST_F(DiskPageManagerTest, NewDatabaseHasItsLayoutByteForByte) {
    CreateDatabase();
    std::vector<std::uint8_t> file = ReadWholeFile(path);
    ASSERT_EQ(file.size(), static_cast<std::size_t>(380 + 6 * 4096));
    const std::uint8_t* p = file.data();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 16), "EMBEDDEDDATABASE");
    EXPECT_EQ(ReadI16(p + 16), 76);
    EXPECT_EQ(ReadI64(p + 18), 0x40148F5C28F5C28FLL);  // 5.14
    EXPECT_EQ(ReadU16(p + 26), 4096);
    EXPECT_EQ(ReadU16(p + 28), 8);
    EXPECT_EQ(ReadI32(p + 30), 6);   // TotalPageCount
    EXPECT_EQ(ReadI32(p + 34), 4);   // LastUsedPageNo
    EXPECT_EQ(ReadI32(p + 38), 1);   // one commit wrote pages
    EXPECT_EQ(p[42], 2);
    EXPECT_EQ(p[43], 0);
    EXPECT_TRUE(std::all_of(p + 44, p + 76, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(ReadI16(p + 76), 280);
    EXPECT_TRUE(std::all_of(p + 78, p + 356, [](std::uint8_t b) { return b == 0; })) << "no password: empty block";
    EXPECT_EQ(ReadI16(p + 356), 20);
    EXPECT_TRUE(std::all_of(p + 358, p + 376, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(ReadI32(p + 376), 0);

    const TABSPageType types[] = {TABSPageType::PFS, TABSPageType::EAM, TABSPageType::FileSystemDirectory,
                                  TABSPageType::ActiveSessionList, TABSPageType::TableList};
    for (TABSPageNo n = 0; n < 5; ++n) {
        TABSPageHeaderFields header = DecodePageHeader(std::span(file).subspan(static_cast<std::size_t>(PageAt(n)), 40));
        EXPECT_TRUE(header.SignatureValid) << n;
        EXPECT_EQ(header.PageType, static_cast<std::uint16_t>(types[n])) << n;
        EXPECT_EQ(header.NextPageNo, kNoPage) << n;
    }
    EXPECT_EQ(file[PageAt(0) + 40], 0b00011111) << "PFS: pages 0 … 4 in use";
    EXPECT_EQ(file[PageAt(1) + 40], 1) << "EAM: extent 0 has free pages";
}

TEST_F(DiskPageManagerTest, OpenReportsTheHeaderFields) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    TABSOpenResult result = manager.OpenDatabaseFile(path, {}, {});
    EXPECT_FALSE(result.NeedsRepair);
    EXPECT_FALSE(result.ReadOnly);
    TABSDatabaseFileInfo info = manager.FileInfo();
    EXPECT_EQ(info.Signature, "EMBEDDEDDATABASE");
    EXPECT_DOUBLE_EQ(info.FormatVersion, 5.14);
    EXPECT_EQ(info.PageSize, 4096);
    EXPECT_EQ(info.PageCountInExtent, 8);
    EXPECT_EQ(info.TotalPageCount, 6);
    EXPECT_EQ(info.LastUsedPageNo, 4);
    EXPECT_EQ(info.CommitCounter, 1);
    EXPECT_EQ(info.State, 2);
    EXPECT_FALSE(info.Encrypted);
    EXPECT_EQ(info.BaseOffset, 0);
    EXPECT_EQ(manager.GetPage(kSession1, 4, static_cast<std::uint16_t>(TABSPageType::TableList)).PageNo(), 4);

    std::string message;
    TABSDiskPageManager closed(fs);
    EXPECT_EQ(NativeErrorOf([&] { (void)closed.FileInfo(); }, &message), 10459);
    EXPECT_EQ(message, "Error - database file is not opened.");
    EXPECT_EQ(NativeErrorOf([&] { (void)manager.OpenDatabaseFile(path, {}, {}); }, &message), 10461);
    EXPECT_EQ(message, "Error - database file " + path + " is in use.");
}

TEST_F(DiskPageManagerTest, HeaderIsFoundBehindOtherData) {
    std::string source = dir.File("source.abs");
    CreateDatabase({}, source);
    {
        TABSDiskPageManager manager(fs);
        (void)manager.OpenDatabaseFile(source, {}, {});
        EXPECT_EQ(AddCommittedPage(manager, 42), 5);
    }
    const std::vector<std::uint8_t> database = ReadWholeFile(source);
    // Decoy: the signature with a wrong header size before the real header.
    std::vector<std::uint8_t> decoy(database.begin(), database.begin() + 18);
    WriteI16(decoy.data() + 16, 77);

    const struct {
        std::int64_t base;
        bool withDecoy;
    } cases[] = {
        {1000, false},
        {1000, true},
        {9983, false},   // the header size field straddles the end of the first scan window
        {9984, false},   // exactly where the second window starts
        {25000, true},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> prefix(static_cast<std::size_t>(c.base), 'x');
        if (c.withDecoy)
            std::copy(decoy.begin(), decoy.end(), prefix.begin() + 100);
        std::vector<std::uint8_t> file = prefix;
        file.insert(file.end(), database.begin(), database.end());
        WriteWholeFile(path, file);

        TABSDiskPageManager manager(fs);
        TABSOpenResult result = manager.OpenDatabaseFile(path, {}, {});
        EXPECT_FALSE(result.NeedsRepair);
        EXPECT_EQ(manager.BaseOffset(), c.base);
        TABSPageHandle page = manager.GetPage(kSession1, 5, static_cast<std::uint16_t>(TABSPageType::TableRecord));
        EXPECT_TRUE(DataIs(page, 42)) << c.base;
        page.Release();
        // Pages are written relative to the base too.
        EXPECT_EQ(AddCommittedPage(manager, 43), 6) << c.base;
        manager.CloseDatabaseFile();
        EXPECT_EQ(ReadWholeFile(path).size(), static_cast<std::size_t>(c.base + 380 + 14 * 4096)) << c.base;
    }
}

TEST_F(DiskPageManagerTest, InterruptedCommitOrOldVersionNeedsRepair) {
    CreateDatabase();
    const std::vector<std::uint8_t> original = ReadWholeFile(path);
    const struct {
        std::uint8_t state;
        double version;
        bool needsRepair;
    } cases[] = {
        {2, 5.14, false},
        {1, 5.14, true},
        {2, 2.5, true},
        {2, 2.99, false},
        {2, 2.98, true},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> file = original;
        file[42] = c.state;
        WriteF64(file.data() + 18, c.version);
        WriteWholeFile(path, file);
        TABSDiskPageManager manager(fs);
        TABSOpenResult result = manager.OpenDatabaseFile(path, {}, {});
        EXPECT_EQ(result.NeedsRepair, c.needsRepair) << int(c.state) << " " << c.version;
        EXPECT_EQ(manager.NeedsRepair(), c.needsRepair);
    }
}

TEST_F(DiskPageManagerTest, DamagedHeadersAreRefused) {
    CreateDatabase();
    const std::vector<std::uint8_t> original = ReadWholeFile(path);
    const struct {
        const char* what;
        std::int64_t offset;
        std::vector<std::uint8_t> bytes;
        int code;
        const char* text;
    } cases[] = {
        {"signature", 0, {'X', 'M', 'B'}, 10470,
         "Invalid file format. Found signature: 'XMBEDDEDDATABASE', expected: 'EMBEDDEDDATABASE'"},
        {"encryption block size", 76, {0x17, 0x01}, 20237, "Invalid database format"},
        {"page size", 26, {40, 0}, 20237, "Invalid database format"},
        {"lock area size", 356, {2, 0}, 20237, "Invalid database format"},
    };
    for (const auto& c : cases) {
        WriteWholeFile(path, original);
        PatchFile(c.offset, c.bytes);
        TABSDiskPageManager manager(fs);
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)manager.OpenDatabaseFile(path, {}, {}); }, &message), c.code) << c.what;
        EXPECT_EQ(message, c.text) << c.what;
        EXPECT_FALSE(manager.IsOpen()) << c.what;
    }
}

TEST_F(DiskPageManagerTest, OpeningFlagsFollowTheFileAndTheRequest) {
    CreateDatabase();
    const struct {
        const char* what;
        bool readOnlyAttribute;
        TABSOpenOptions options;
        bool readOnly;
        bool multiUser;
    } cases[] = {
        {"plain multi-user", false, {true, false, false}, false, true},
        {"read-only attribute", true, {true, false, false}, true, false},
        {"read-only asked", false, {true, false, true}, true, true},
        {"exclusive", false, {true, true, false}, false, false},
        {"single-user", false, {false, false, false}, false, false},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::chmod(path.c_str(), c.readOnlyAttribute ? 0444 : 0644), 0);
        TABSDiskPageManager manager(fs);
        TABSOpenResult result = manager.OpenDatabaseFile(path, {}, c.options);
        EXPECT_EQ(result.ReadOnly, c.readOnly) << c.what;
        EXPECT_EQ(result.MultiUser, c.multiUser) << c.what;
        EXPECT_EQ(manager.IsReadOnly(), c.readOnly) << c.what;
        EXPECT_EQ(manager.IsMultiUser(), c.multiUser) << c.what;
        if (c.readOnly) {
            EXPECT_NE(NativeErrorOf([&] { (void)manager.AddPage(kSession1, TABSPageType::TableRecord); }), 0) << c.what;
            EXPECT_EQ(manager.GetPage(kSession1, 2).PageType(), 4) << "reading still works: " << c.what;
        }
    }
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
}

TEST_F(DiskPageManagerTest, SecondOpenerSeesTheFirstOnesMode) {
    CreateDatabase();
    const struct {
        const char* what;
        TABSOpenOptions first;
        TABSOpenOptions second;
        int secondError;
        bool secondReadOnly;
    } cases[] = {
        {"single-user writer makes the next single-user opener read-only", {false, false, false}, {false, false, false}, 0, true},
        {"multi-user openers share", {true, false, false}, {true, false, false}, 0, false},
        {"exclusive keeps everybody out", {false, true, false}, {true, false, false}, 30364, false},
    };
    for (const auto& c : cases) {
        TABSDiskPageManager first(fs);
        TABSDiskPageManager second(fs);
        (void)first.OpenDatabaseFile(path, {}, c.first);
        int error = NativeErrorOf([&] {
            TABSOpenResult result = second.OpenDatabaseFile(path, {}, c.second);
            EXPECT_EQ(result.ReadOnly, c.secondReadOnly) << c.what;
        });
        EXPECT_EQ(error, c.secondError) << c.what;
    }
}

TEST_F(DiskPageManagerTest, PageOfAnotherTypeIsRefused) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)manager.GetPage(kSession1, 2, static_cast<std::uint16_t>(TABSPageType::TableList)); },
                            &message),
              20153);
    EXPECT_EQ(message, "Invalid page type. Possibly data is corrupted. Expected type 6, but found 4");
    // Cached pages are checked as well.
    (void)manager.GetPage(kSession1, 2);
    EXPECT_EQ(NativeErrorOf([&] { (void)manager.GetPage(kSession1, 2, 10); }), 20153);
    EXPECT_EQ(manager.GetPage(kSession1, 2, kAnyPageType).PageType(), 4);
}

class EncryptedPageTest : public DiskPageManagerTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(EncryptedPageTest, PagesAreEncipheredOnDiskAndCheckedWhenRead) {
    const std::uint8_t cipher = GetParam();
    CreateDatabase({"quorbel", cipher});
    TABSPageNo pageNo;
    {
        TABSDiskPageManager manager(fs);
        Open(manager, false, {"quorbel", 0});
        EXPECT_EQ(manager.Password().Cipher, cipher) << "the file's cipher replaces the caller's";
        EXPECT_TRUE(manager.IsEncrypted());
        pageNo = AddCommittedPage(manager, 9);
        // The cached copy stays plain.
        EXPECT_TRUE(DataIs(manager.GetPage(kSession1, pageNo), 9));
    }
    std::vector<std::uint8_t> file = ReadWholeFile(path);
    EXPECT_EQ(file[43], 0xFF);
    EXPECT_EQ(file[78], cipher);
    const std::uint8_t* page = file.data() + PageAt(pageNo);
    EXPECT_EQ(page[20], cipher);
    std::vector<std::uint8_t> plain(4056);
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<std::uint8_t>(9 + i * 7);
    EXPECT_EQ(ReadU32(page + 14), EngineCrc32(plain.data(), plain.size()));
    EXPECT_FALSE(std::equal(plain.begin(), plain.end(), page + 40)) << "data area must be enciphered";
    // Map pages and the direct sessions-file page stay plain.
    EXPECT_EQ(file[PageAt(0) + 40], 0b00111111);
    EXPECT_TRUE(std::all_of(file.begin() + PageAt(3) + 40, file.begin() + PageAt(4), [](std::uint8_t b) { return b == 0; }));

    {
        TABSDiskPageManager manager(fs);
        Open(manager, false, {"quorbel", 0});
        EXPECT_TRUE(DataIs(manager.GetPage(kSession1, pageNo), 9));
    }
    {
        TABSDiskPageManager manager(fs);
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { Open(manager, false, {"Quorbel", 0}); }, &message), 30445);
        EXPECT_EQ(message, "Cannot open database because incorrect password");
        EXPECT_FALSE(manager.IsOpen());
    }
    file[PageAt(pageNo) + 40 + 1000] ^= 0x10;
    WriteWholeFile(path, file);
    {
        TABSDiskPageManager manager(fs);
        Open(manager, false, {"quorbel", 0});
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { (void)manager.GetPage(kSession1, pageNo); }, &message), 30446);
        EXPECT_EQ(message, "Decrypt page error. Check CRC failed. PageNo: " + std::to_string(pageNo));
        EXPECT_EQ(manager.CachedPageCount(), 0u) << "a page that failed its check is not cached";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCipher, EncryptedPageTest, ::testing::Range<std::uint8_t>(0, 8),
                         [](const auto& info) { return "Cipher" + std::to_string(info.param); });

TEST_F(DiskPageManagerTest, DatabaseWithoutPasswordOpensWithAnyPassword) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager, false, {"whatever", 3});
    EXPECT_FALSE(manager.IsEncrypted());
    EXPECT_EQ(AddCommittedPage(manager, 1), 5);
    std::vector<std::uint8_t> file = ReadWholeFile(path);
    EXPECT_EQ(file[PageAt(5) + 40], 1) << "written plain";
}

TEST_F(DiskPageManagerTest, ChangesAreVisibleToOtherSessionsOnlyAfterCommit) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    const TABSPageNo pageNo = AddCommittedPage(manager, 1);

    auto seenBy = [&](TABSSessionID session) { return manager.GetPage(session, pageNo).Data()[0]; };
    auto onDisk = [&] { return ReadWholeFile(path)[PageAt(pageNo) + 40]; };

    {
        TABSPageHandle page = manager.GetPage(kSession2, pageNo);
        page.MutableData()[0] = 0xB0;
    }
    EXPECT_EQ(seenBy(kSession2), 0xB0);
    EXPECT_EQ(seenBy(kSession1), 1);
    EXPECT_EQ(onDisk(), 1);
    EXPECT_TRUE(manager.SessionHasChanges(kSession2));
    EXPECT_FALSE(manager.SessionHasChanges(kSession1));

    manager.CommitSession(kSession2);
    EXPECT_EQ(seenBy(kSession1), 0xB0);
    EXPECT_EQ(onDisk(), 0xB0);

    {
        TABSPageHandle page = manager.GetPage(kSession1, pageNo);
        page.MutableData()[0] = 0xC0;
    }
    EXPECT_EQ(seenBy(kSession1), 0xC0);
    manager.RollbackSession(kSession1);
    EXPECT_EQ(seenBy(kSession1), 0xB0);
    EXPECT_EQ(seenBy(kSession2), 0xB0);
    EXPECT_EQ(onDisk(), 0xB0);
}

TEST_F(DiskPageManagerTest, ReaderKeepsTheCommittedBytesWhileAnotherSessionWrites) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    const TABSPageNo pageNo = AddCommittedPage(manager, 1);
    TABSPageHandle reader = manager.GetPage(kSession1, pageNo);
    TABSPageHandle writer = manager.GetPage(kSession2, pageNo);
    std::span<std::uint8_t> bytes = writer.MutableData();  // shared page: the writer gets a copy
    bytes[0] = 0x77;
    EXPECT_EQ(reader.Data()[0], 1);
    EXPECT_EQ(writer.Data()[0], 0x77);
    EXPECT_TRUE(writer.IsDirty());
    EXPECT_FALSE(reader.IsDirty());
}

TEST_F(DiskPageManagerTest, RollbackGivesAddedPagesBack) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    TABSPageNo added;
    {
        TABSPageHandle page = manager.AddPage(kSession1, TABSPageType::TableRecord);
        added = page.PageNo();
    }
    EXPECT_EQ(manager.LastUsedPageNo(), added);
    manager.RollbackSession(kSession1);
    EXPECT_EQ(manager.LastUsedPageNo(), 4);
    EXPECT_EQ(ReadI32(ReadWholeFile(path).data() + 34), 4);
    EXPECT_EQ(manager.AddPage(kSession1, TABSPageType::TableRecord).PageNo(), added) << "the number is free again";
}

TEST_F(DiskPageManagerTest, GivenBackPageIsFreedAtCommitAndMarkedOnDisk) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    const TABSPageNo first = AddCommittedPage(manager, 1);
    const TABSPageNo second = AddCommittedPage(manager, 2);
    manager.RemovePage(kSession1, first);
    EXPECT_NE(ReadI32(ReadWholeFile(path).data() + PageAt(first) + 4), kGivenBackModificationCounter);
    EXPECT_EQ(manager.AddPage(kSession2, TABSPageType::TableRecord).PageNo(), second + 1) << "not free before the commit";
    manager.RollbackSession(kSession2);
    manager.CommitSession(kSession1);
    EXPECT_EQ(ReadI32(ReadWholeFile(path).data() + PageAt(first) + 4), kGivenBackModificationCounter);
    EXPECT_EQ(manager.AddPage(kSession2, TABSPageType::TableRecord).PageNo(), first);
}

TEST_F(DiskPageManagerTest, EveryWriteAdvancesTheCounterAndItWraps) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    const TABSPageNo pageNo = AddCommittedPage(manager, 1);
    auto counterOnDisk = [&] { return ReadI32(ReadWholeFile(path).data() + PageAt(pageNo) + 4); };
    const std::int32_t afterCreate = counterOnDisk();
    EXPECT_EQ(manager.GetPage(kSession1, pageNo).ModificationCounter(), afterCreate);

    const struct {
        std::int32_t before;
        std::int32_t after;
    } cases[] = {{100, 101}, {0x7FFFFFFB, 0x7FFFFFFC}, {0x7FFFFFFC, 0}};
    for (const auto& c : cases) {
        {
            TABSPageHandle page = manager.GetPage(kSession1, pageNo);
            WriteI32(page.MutableBytes().data() + 4, c.before);
        }
        manager.CommitSession(kSession1);
        EXPECT_EQ(counterOnDisk(), c.after) << std::hex << c.before;
        EXPECT_EQ(manager.GetPage(kSession1, pageNo).ModificationCounter(), c.after);
    }
}

TEST_F(DiskPageManagerTest, SessionMisuseIsRefused) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    const TABSPageNo committed = AddCommittedPage(manager, 1);
    TABSPageHandle added = manager.AddPage(kSession1, TABSPageType::TableRecord);
    const TABSPageNo addedNo = added.PageNo();

    std::string message;
    const struct {
        const char* what;
        std::function<void()> action;
        int code;
        const char* text;
    } cases[] = {
        {"session -1 reads", [&] { (void)manager.GetPage(kInvalidSessionID, committed); }, 20186, "Invalid Session ID"},
        {"session -1 adds", [&] { (void)manager.AddPage(kInvalidSessionID, TABSPageType::TableRecord); }, 20186,
         "Invalid Session ID"},
        {"another session reads an uncommitted new page", [&] { (void)manager.GetPage(kSession2, addedNo); }, 20090,
         "Page is used by other session"},
        {"another session gives it back", [&] { manager.RemovePage(kSession2, addedNo); }, 20090,
         "Page is used by other session"},
        {"commit with a pinned page", [&] { manager.CommitSession(kSession1); }, 20086, "Cannot write used page"},
        {"rollback with a pinned page", [&] { manager.RollbackSession(kSession1); }, 20088, "Cannot remove used page"},
        {"give back a pinned page", [&] { manager.RemovePage(kSession1, addedNo); }, 20088, "Cannot remove used page"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NativeErrorOf(c.action, &message), c.code) << c.what;
        EXPECT_EQ(message, c.text) << c.what;
    }
    // The refused commit left everything as it was: after unpinning it goes through.
    added.Release();
    manager.CommitSession(kSession1);
    EXPECT_EQ(manager.GetPage(kSession2, addedNo).PageType(), 10);
}

TEST_F(DiskPageManagerTest, FailedPageWriteRollsTheCommitBack) {
    CreateDatabase();
    std::vector<std::uint8_t> before;
    TABSPageNo pageNo = kNoPage;
    {
        TABSDiskPageManager manager(fs);
        Open(manager);
        pageNo = AddCommittedPage(manager, 1);
        const TABSPageNo second = AddCommittedPage(manager, 3);
        before = ReadWholeFile(path);
        for (const TABSPageNo changed : {pageNo, second}) {
            TABSPageHandle page = manager.GetPage(kSession1, changed);
            page.MutableData()[0] = 2;
        }
        // Commit writes: the journal's start, the header saved and marked (state 1), then per page
        // the page saved and written, then the header (state 2). The second page write fails.
        fs.FailWriteNumber = fs.Writes + 7;
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { manager.CommitSession(kSession1); }, &message), 10475);
        EXPECT_NE(message.find("Cannot Write to file: '" + path + "' Position = "), std::string::npos) << message;
        EXPECT_EQ(ReadWholeFile(path), before) << "the first page and the header went back to what they were";
        EXPECT_FALSE(std::filesystem::exists(TABSCommitJournal::NameFor(path)));
        EXPECT_EQ(manager.DatabaseLockCount(), 0) << "the database lock is released";
        EXPECT_TRUE(manager.SessionHasChanges(kSession1)) << "the session can still roll back";
        manager.RollbackSession(kSession1);
        EXPECT_EQ(manager.GetPage(kSession2, pageNo).Data()[0], 1);
    }
    TABSDiskPageManager reopened(fs);
    EXPECT_FALSE(reopened.OpenDatabaseFile(path, {}, {}).NeedsRepair);
    EXPECT_FALSE(reopened.RolledBackCutCommit());
}

// A writer of a multi-user file dies in a commit (its page landed, its closing header did not):
// the other process rolls the commit back as soon as it takes the database lock.
TEST_F(DiskPageManagerTest, AnotherWritersCutCommitIsRolledBackAtTheNextDatabaseLock) {
    CreateDatabase();
    TABSDiskPageManager survivor(fs);
    Open(survivor, true);
    const TABSPageNo pageNo = AddCommittedPage(survivor, 1);
    const std::vector<std::uint8_t> before = ReadWholeFile(path);
    {
        kova::testing::PowerLossFileSystem dying;
        TABSDiskPageManager writer(dying);
        TABSOpenOptions options;
        options.MultiUser = true;
        (void)writer.OpenDatabaseFile(path, {}, options);
        {
            TABSPageHandle page = writer.GetPage(kSession2, pageNo);
            FillData(page, 9);
        }
        // The journal's start, the header saved and marked, the page saved and written land.
        dying.LoseWritesFrom = dying.Writes + 6;
        writer.CommitSession(kSession2);
    }
    ASSERT_TRUE(std::filesystem::exists(TABSCommitJournal::NameFor(path)));
    ASSERT_NE(ReadWholeFile(path), before);
    EXPECT_EQ(ReadWholeFile(path)[42], 1) << "the header still says a commit is being written";

    survivor.LockDatabase();
    survivor.UnlockDatabase();
    EXPECT_TRUE(survivor.RolledBackCutCommit());
    EXPECT_EQ(ReadWholeFile(path), before);
    EXPECT_FALSE(std::filesystem::exists(TABSCommitJournal::NameFor(path)));
    EXPECT_TRUE(DataIs(survivor.GetPage(kSession1, pageNo), 1));
}

TEST_F(DiskPageManagerTest, CommitGoesOnWithoutAJournalWhenNoneCanBeMade) {
    CreateDatabase();
    TABSPageNo pageNo = kNoPage;
    {
        TABSDiskPageManager manager(fs);
        Open(manager);
        pageNo = AddCommittedPage(manager, 1);
        {
            TABSPageHandle page = manager.GetPage(kSession1, pageNo);
            FillData(page, 5);
        }
        fs.FailOpensLeft = 1;  // the journal's file cannot be created
        manager.CommitSession(kSession1);
        EXPECT_EQ(fs.FailOpensLeft, 0) << "the commit tried to make its journal";
        EXPECT_FALSE(std::filesystem::exists(TABSCommitJournal::NameFor(path)));
    }
    TABSDiskPageManager reopened(fs);
    EXPECT_FALSE(reopened.OpenDatabaseFile(path, {}, {}).NeedsRepair);
    EXPECT_TRUE(DataIs(reopened.GetPage(kSession1, pageNo), 5));
}

TEST_F(DiskPageManagerTest, FailedFlushAtCommitIsReported) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    {
        TABSPageHandle page = manager.AddPage(kSession1, TABSPageType::TableRecord);
    }
    const int flushes = fs.Flushes;
    fs.FailFlushNumber = fs.Flushes + 1;
    EXPECT_EQ(NativeErrorOf([&] { manager.CommitSession(kSession1, true); }), 30379);
    EXPECT_EQ(fs.Flushes, flushes + 1);
    EXPECT_EQ(manager.DatabaseLockCount(), 0);
    (void)manager.AddPage(kSession2, TABSPageType::TableRecord);
    manager.CommitSession(kSession2, false);
    EXPECT_EQ(fs.Flushes, flushes + 1) << "no flush unless asked";
    manager.FlushFileBuffers();
    EXPECT_EQ(fs.Flushes, flushes + 2);
}

TEST_F(DiskPageManagerTest, DirectAccessStaysInsideThePage) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    std::vector<std::uint8_t> bytes(8, 0x5A);
    const struct {
        std::int32_t offset;
        std::size_t count;
        int readCode;
        int writeCode;
    } cases[] = {
        {40, 8, 0, 0},
        {4088, 8, 0, 0},
        {4089, 8, 10476, 10477},
        {-1, 1, 10476, 10477},
        {4096, 0, 0, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> out(c.count);
        std::span<const std::uint8_t> in(bytes.data(), c.count);
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { manager.DirectWritePage(3, c.offset, in); }, &message), c.writeCode) << c.offset;
        if (c.writeCode != 0) {
            EXPECT_EQ(message, "Error - invalid page offset = " + std::to_string(c.offset) + ", page size = 4096");
        }
        EXPECT_EQ(NativeErrorOf([&] { manager.DirectReadPage(3, c.offset, out); }), c.readCode) << c.offset;
        if (c.readCode == 0) {
            EXPECT_EQ(out, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(c.count)));
        }
    }
    EXPECT_EQ(ReadWholeFile(path)[PageAt(3) + 40], 0x5A);
    std::vector<std::uint8_t> out(1);
    EXPECT_EQ(NativeErrorOf([&] { manager.DirectReadPage(-1, 0, out); }), 10471);
}

TEST_F(DiskPageManagerTest, DirectWriteDropsTheCachedCopy) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    EXPECT_EQ(manager.GetPage(kSession1, 3, 5, false).Data()[0], 0);
    const std::uint8_t byte = 0x33;
    manager.DirectWritePage(3, 40, std::span(&byte, 1));
    EXPECT_EQ(manager.GetPage(kSession1, 3, 5, false).Data()[0], 0x33);
}

TEST_F(DiskPageManagerTest, ObjectIdsCountUpInTheFile) {
    CreateDatabase();
    {
        TABSDiskPageManager manager(fs);
        Open(manager);
        EXPECT_EQ(manager.NextObjectID(), 1);
        EXPECT_EQ(manager.NextObjectID(), 2);
        EXPECT_EQ(manager.NextObjectID(), 3);
    }
    EXPECT_EQ(ReadI32(ReadWholeFile(path).data() + 376), 3);
    TABSDiskPageManager reader(fs);
    TABSOpenOptions options;
    options.ReadOnly = true;
    (void)reader.OpenDatabaseFile(path, {}, options);
    for (int i = 0; i < 20; ++i) {
        std::int32_t id = reader.NextObjectID();
        EXPECT_GE(id, 4);
        EXPECT_LE(id, 4 + 9999);
    }
    EXPECT_EQ(ReadI32(ReadWholeFile(path).data() + 376), 3) << "a reader writes nothing";
}

TEST_F(DiskPageManagerTest, LocksOfOneManagerHoldOffAnother) {
    CreateDatabase();
    TABSDiskPageManager first(fs);
    TABSDiskPageManager second(fs);
    Open(first, true);
    Open(second, true);
    second.SetLockRetryPolicy({3, 20});
    const TABSPageNo pageNo = AddCommittedPage(first, 1);

    first.LockDatabase();
    first.LockDatabase();  // re-entrant
    EXPECT_EQ(first.DatabaseLockCount(), 2);
    std::string message;
    fs.Pauses.clear();
    EXPECT_EQ(NativeErrorOf([&] { (void)second.AddPage(kSession1, TABSPageType::TableRecord); }, &message), 20231);
    EXPECT_EQ(message, "Database is locked");
    EXPECT_EQ(fs.Pauses, (std::vector<int>{20, 20})) << "three attempts, two pauses";
    {
        TABSPageHandle page = second.GetPage(kSession1, pageNo);
        page.MutableData()[0] = 9;
    }
    EXPECT_EQ(NativeErrorOf([&] { second.CommitSession(kSession1); }), 20213);
    EXPECT_EQ(NativeErrorOf([&] { second.LockDatabase(); }), 20230);
    first.UnlockDatabase();
    EXPECT_EQ(NativeErrorOf([&] { second.LockDatabase(); }), 20230) << "still held once";
    first.UnlockDatabase();
    second.CommitSession(kSession1);
    EXPECT_EQ(ReadWholeFile(path)[PageAt(pageNo) + 40], 9);

    ASSERT_TRUE(first.LockTables());
    ASSERT_TRUE(first.LockTables());
    EXPECT_FALSE(second.LockTables());
    EXPECT_TRUE(first.UnlockTables());
    EXPECT_FALSE(second.LockTables());
    EXPECT_TRUE(first.UnlockTables());
    EXPECT_TRUE(second.LockTables());

    ASSERT_TRUE(first.LockPageByte(3, 40 + 7));
    EXPECT_TRUE(second.IsPageByteLocked(3, 47));
    EXPECT_FALSE(second.LockPageByte(3, 47));
    EXPECT_TRUE(second.LockPageRegion(3, 48, 10));
    EXPECT_TRUE(first.IsPageRegionLocked(3, 40, 10));
    EXPECT_EQ(NativeErrorOf([&] { (void)first.LockPageRegion(3, 4090, 10); }), 10476);

    first.LockDatabase();
    EXPECT_EQ(NativeErrorOf([&] { (void)second.NextObjectID(); }), 0) << "the object counter has its own byte";
    first.UnlockDatabase();
}

TEST_F(DiskPageManagerTest, MultiUserCacheNoticesPagesChangedByAnotherManager) {
    CreateDatabase();
    TABSDiskPageManager first(fs);
    TABSDiskPageManager second(fs);
    Open(first, true);
    Open(second, true);
    const TABSPageNo pageNo = AddCommittedPage(first, 1);
    EXPECT_EQ(second.GetPage(kSession1, pageNo).Data()[0], 1);
    EXPECT_EQ(first.GetPage(kSession1, pageNo).Data()[0], 1);
    {
        TABSPageHandle page = second.GetPage(kSession1, pageNo);
        page.MutableData()[0] = 0xEE;
    }
    second.CommitSession(kSession1);
    EXPECT_EQ(first.GetPage(kSession1, pageNo).Data()[0], 0xEE);
    // Pages allocated by the other manager are not handed out twice.
    const TABSPageNo next = AddCommittedPage(second, 3);
    EXPECT_EQ(AddCommittedPage(first, 4), next + 1);
}

TEST_F(DiskPageManagerTest, CacheKeepsItsSizeButNeverDropsPinnedPages) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    std::vector<TABSPageNo> pages;
    for (int i = 0; i < 12; ++i)
        pages.push_back(AddCommittedPage(manager, static_cast<std::uint8_t>(i)));
    manager.SetCacheCapacity(4);
    EXPECT_LE(manager.CachedPageCount(), 4u);
    std::vector<TABSPageHandle> pinned;
    for (int i = 0; i < 6; ++i)
        pinned.push_back(manager.GetPage(kSession1, pages[static_cast<std::size_t>(i)]));
    EXPECT_EQ(manager.CachedPageCount(), 6u) << "pinned pages stay beyond the capacity";
    for (std::size_t i = 0; i < pinned.size(); ++i)
        EXPECT_TRUE(DataIs(pinned[i], static_cast<std::uint8_t>(i)));
    pinned.clear();
    EXPECT_LE(manager.CachedPageCount(), 4u);
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_TRUE(DataIs(manager.GetPage(kSession1, pages[i]), static_cast<std::uint8_t>(i)));
}

TEST_F(DiskPageManagerTest, HandlesOutliveClosingTheFile) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    const TABSPageNo pageNo = AddCommittedPage(manager, 5);
    TABSPageHandle page = manager.GetPage(kSession1, pageNo);
    TABSPageHandle dirty = manager.AddPage(kSession2, TABSPageType::TableRecord);
    manager.CloseDatabaseFile();
    EXPECT_TRUE(DataIs(page, 5));
    page.Release();
    dirty.Release();
    EXPECT_FALSE(manager.IsOpen());
}

TEST_F(DiskPageManagerTest, GivingBackTheTailShrinksTheFile) {
    CreateDatabase();
    TABSDiskPageManager manager(fs);
    Open(manager);
    std::vector<TABSPageNo> pages;
    for (int i = 0; i < 95; ++i) {
        TABSPageHandle page = manager.AddPage(kSession1, TABSPageType::TableRecord);
        pages.push_back(page.PageNo());
    }
    manager.CommitSession(kSession1);
    const std::int32_t total = manager.TotalPageCount();
    EXPECT_EQ(static_cast<std::int64_t>(ReadWholeFile(path).size()), 380 + total * 4096LL);
    for (std::size_t i = 10; i < pages.size(); ++i)
        manager.RemovePage(kSession1, pages[i]);
    manager.CommitSession(kSession1);
    EXPECT_EQ(manager.LastUsedPageNo(), pages[9]);
    EXPECT_LT(manager.TotalPageCount(), total);
    EXPECT_EQ(static_cast<std::int64_t>(ReadWholeFile(path).size()), 380 + manager.TotalPageCount() * 4096LL);
    EXPECT_EQ(ReadI32(ReadWholeFile(path).data() + 30), manager.TotalPageCount());
    manager.GiveBackFreeTail();
    EXPECT_EQ(ReadI32(ReadWholeFile(path).data() + 34), pages[9]);
}

// Two processes allocate pages in one file in multi-user mode; each writes its mark into its
// pages. A page handed to both would carry only one mark afterwards.
TEST_F(DiskPageManagerTest, TwoProcessesNeverGetTheSamePage) {
    CreateDatabase();
    constexpr int kPagesPerProcess = 300;
    auto worker = [&](std::uint8_t mark, int writeFd) -> int {
        try {
            TABSDiskPageManager manager;
            Open(manager, true);
            for (int i = 0; i < kPagesPerProcess; ++i) {
                TABSPageNo pageNo;
                {
                    TABSPageHandle page = manager.AddPage(mark, TABSPageType::TableRecord);
                    pageNo = page.PageNo();
                    std::span<std::uint8_t> data = page.MutableData();
                    data[0] = mark;
                    WriteI32(data.data() + 1, pageNo);
                }
                if (i % 10 == 9)
                    manager.CommitSession(mark);
                if (::write(writeFd, &pageNo, sizeof pageNo) != sizeof pageNo)
                    return 2;
            }
            manager.CommitSession(mark);
        } catch (const std::exception& e) {
            (void)!::write(2, e.what(), std::strlen(e.what()));
            return 1;
        }
        return 0;
    };

    std::map<std::uint8_t, std::vector<TABSPageNo>> received;
    std::vector<std::pair<pid_t, int>> children;
    for (std::uint8_t mark : {std::uint8_t{1}, std::uint8_t{2}}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            ::_exit(worker(mark, fds[1]));
        }
        ::close(fds[1]);
        children.emplace_back(child, fds[0]);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        auto [child, fd] = children[i];
        TABSPageNo pageNo;
        while (::read(fd, &pageNo, sizeof pageNo) == sizeof pageNo)
            received[static_cast<std::uint8_t>(i + 1)].push_back(pageNo);
        ::close(fd);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ASSERT_EQ(received[1].size(), static_cast<std::size_t>(kPagesPerProcess));
    ASSERT_EQ(received[2].size(), static_cast<std::size_t>(kPagesPerProcess));

    std::set<TABSPageNo> all;
    for (auto& [mark, pages] : received)
        for (TABSPageNo n : pages)
            EXPECT_TRUE(all.insert(n).second) << "page " << n << " handed out twice";
    TABSDiskPageManager manager(fs);
    Open(manager);
    EXPECT_FALSE(manager.NeedsRepair());
    EXPECT_EQ(manager.LastUsedPageNo(), *all.rbegin());
    for (auto& [mark, pages] : received) {
        for (TABSPageNo n : pages) {
            TABSPageHandle page = manager.GetPage(kSession1, n, static_cast<std::uint16_t>(TABSPageType::TableRecord));
            EXPECT_EQ(page.Data()[0], mark) << n;
            EXPECT_EQ(ReadI32(page.Data().data() + 1), n);
        }
    }
}

} // namespace
} // namespace kova
