// The engine's file: modes and their errors, closed/opened misuse, read and write failures,
// lost-handle recovery, byte-range locks between file objects and the share-mode protocol.
#include "engine/storage/ABSDatabaseFile.h"
#include "pages_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::FaultyFileSystem;
using testing::NativeErrorOf;
using testing::ScratchDirectory;

class DatabaseFileTest : public ::testing::Test {
protected:
    ScratchDirectory dir;
    FaultyFileSystem fs;
    std::string path = dir.File("file.bin");

    void MakeFile(const std::vector<std::uint8_t>& bytes) { testing::WriteWholeFile(path, bytes); }
};

TEST_F(DatabaseFileTest, UnknownModesAreRefused) {
    MakeFile({1, 2, 3});
    const struct {
        int access;
        int share;
        int code;
        const char* text;
    } cases[] = {
        {2, 1, 30366, "Unknown Access mode: '2'"},
        {-1, 1, 30366, "Unknown Access mode: '-1'"},
        {1, 3, 30367, "Unknown Share mode: '3'"},
        {0, -1, 30367, "Unknown Share mode: '-1'"},
    };
    for (const auto& c : cases) {
        TABSDatabaseFile file(fs);
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { file.OpenFile(path, c.access, c.share); }, &message), c.code);
        EXPECT_EQ(message, c.text);
        EXPECT_FALSE(file.IsOpen());
    }
}

TEST_F(DatabaseFileTest, OperationsOnAClosedFileNameTheOperation) {
    TABSDatabaseFile file(fs);
    std::uint8_t byte = 0;
    const struct {
        const char* operation;
        std::function<void()> action;
    } cases[] = {
        {"Seek", [&] { (void)file.Seek(0, TABSDatabaseFile::SeekOrigin::Begin); }},
        {"SetPosition", [&] { file.SetPosition(0); }},
        {"GetPosition", [&] { (void)file.GetPosition(); }},
        {"SetSize", [&] { file.SetSize(0); }},
        {"GetSize", [&] { (void)file.GetSize(); }},
        {"ReadBuffer", [&] { file.ReadBuffer(&byte, 1, 10474); }},
        {"WriteBuffer", [&] { file.WriteBuffer(&byte, 1, 10475); }},
        {"FlushFileBuffers", [&] { file.FlushFileBuffers(); }},
        {"LockByte", [&] { (void)file.LockByte(0); }},
        {"UnlockByte", [&] { (void)file.UnlockByte(0); }},
        {"IsByteLocked", [&] { (void)file.IsByteLocked(0); }},
        {"IsRegionLocked", [&] { (void)file.IsRegionLocked(0, 4); }},
        {"CloseFile", [&] { file.CloseFile(); }},
    };
    for (const auto& c : cases) {
        std::string message;
        EXPECT_EQ(NativeErrorOf(c.action, &message), 30376) << c.operation;
        EXPECT_EQ(message, std::string("Cannot perform this operation (") + c.operation + ") on a closed file");
    }
}

TEST_F(DatabaseFileTest, CreateAndOpenOnAnOpenFileAreRefused) {
    TABSDatabaseFile file(fs);
    file.CreateFile(path);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { file.CreateFile(path); }, &message), 30377);
    EXPECT_EQ(message, "Cannot perform this operation (CreateFile) on a opened file");
    EXPECT_EQ(NativeErrorOf([&] { file.OpenFile(path, 1, 1); }, &message), 30377);
    EXPECT_EQ(message, "Cannot perform this operation (OpenFile) on a opened file");
}

TEST_F(DatabaseFileTest, CreateNeedsANameAndReplacesAnExistingFile) {
    TABSDatabaseFile file(fs);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { file.CreateFile("  "); }, &message), 30374);
    EXPECT_EQ(message, "Cannot create file with blank FileName");

    MakeFile(std::vector<std::uint8_t>(100, 7));
    file.CreateFile(path);
    EXPECT_EQ(file.GetSize(), 0);
    const std::uint8_t bytes[] = {1, 2, 3};
    file.WriteAt(10, bytes, 3, 10475);
    EXPECT_EQ(file.GetSize(), 13);
    EXPECT_EQ(file.GetPosition(), 13);
    file.CloseFile();
    EXPECT_EQ(testing::ReadWholeFile(path).size(), 13u);
}

TEST_F(DatabaseFileTest, MissingFileFailsToOpenWithTheSystemMessage) {
    TABSDatabaseFile file(fs);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { file.OpenFile(dir.File("absent.abs"), 0, 1); }, &message), 30364);
    EXPECT_EQ(message, "Cannot open file:'" + dir.File("absent.abs") + "' Error code: 2. ErrorMessage: No such file or directory");
}

TEST_F(DatabaseFileTest, ShortReadRaisesTheCallersCode) {
    MakeFile({1, 2, 3, 4});
    TABSDatabaseFile file(fs);
    file.OpenFile(path, 0, 1);
    std::uint8_t buffer[10];
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { file.ReadAt(0, buffer, sizeof buffer, 10464); }, &message), 10464);
    EXPECT_EQ(message, "Cannot Read from file: '" + path +
                           "' Position = 0, Count = 10, FilePosition = 0, FileSize = 4, ErrorCode:0. ErrorMessage: "
                           "Unexpected end of file");
    file.ReadAt(1, buffer, 3, 10464);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 3), (std::vector<std::uint8_t>{2, 3, 4}));
    EXPECT_EQ(file.GetPosition(), 4);
}

TEST_F(DatabaseFileTest, ReadOnlyAccessCannotWrite) {
    MakeFile({1, 2, 3, 4});
    TABSDatabaseFile file(fs);
    file.OpenFile(path, 0, 1);
    const std::uint8_t byte = 9;
    EXPECT_EQ(NativeErrorOf([&] { file.WriteAt(0, &byte, 1, 10475); }), 10475);
    EXPECT_EQ(testing::ReadWholeFile(path), (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST_F(DatabaseFileTest, InjectedWriteAndFlushFailuresAreReported) {
    TABSDatabaseFile file(fs);
    file.CreateFile(path);
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    file.WriteAt(0, bytes, 4, 10475);
    fs.FailWriteNumber = fs.Writes + 1;
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { file.WriteAt(4, bytes, 4, 10462); }, &message), 10462);
    EXPECT_EQ(message, "Cannot Write to file: '" + path +
                           "' Position = 4, Count = 4, FilePosition = 4, FileSize = 4, ErrorCode:5. ErrorMessage: "
                           "Input/output error");
    file.WriteAt(4, bytes, 4, 10462);  // the next write goes through again
    EXPECT_EQ(file.GetSize(), 8);

    fs.FailFlushNumber = fs.Flushes + 1;
    EXPECT_EQ(NativeErrorOf([&] { file.FlushFileBuffers(); }, &message), 30379);
    EXPECT_EQ(message, "Cannot flush file buffers for file: '" + path + "'. ErrorCode:5. ErrorMessage: Input/output error");
    file.FlushFileBuffers();
}

TEST_F(DatabaseFileTest, LostHandleIsReopenedAndTheOperationRepeated) {
    TABSDatabaseFile file(fs);
    file.CreateFile(path);
    const int opensBefore = fs.Opens;
    fs.FailWriteNumber = fs.Writes + 1;
    fs.SizeFailuresLeft = 1;  // the handle does not answer: it is reopened
    const std::uint8_t bytes[3] = {5, 6, 7};
    file.WriteAt(0, bytes, 3, 10475);
    EXPECT_EQ(fs.Opens, opensBefore + 1);
    EXPECT_TRUE(fs.Pauses.empty());
    EXPECT_EQ(testing::ReadWholeFile(path), (std::vector<std::uint8_t>{5, 6, 7}));
}

TEST_F(DatabaseFileTest, FailedReopenGivesUpAfterThreeAttempts) {
    TABSDatabaseFile file(fs);
    file.CreateFile(path);
    const int opensBefore = fs.Opens;
    fs.FailWriteNumber = fs.Writes + 1;
    fs.SizeFailuresLeft = 10;
    fs.FailOpensLeft = 3;
    const std::uint8_t byte = 1;
    EXPECT_EQ(NativeErrorOf([&] { file.WriteAt(0, &byte, 1, 10475); }), 10475);
    EXPECT_EQ(fs.Opens, opensBefore + 3);
    EXPECT_EQ(fs.Pauses, (std::vector<int>{1000, 1000}));
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(DatabaseFileTest, LocksOfTwoFileObjectsConflictLikeTwoProcesses) {
    MakeFile(std::vector<std::uint8_t>(64, 0));
    TABSDatabaseFile a(fs);
    TABSDatabaseFile b(fs);
    a.OpenFile(path, 1, 1);
    b.OpenFile(path, 1, 1);

    ASSERT_TRUE(a.LockByte(10));
    const struct {
        const char* what;
        std::function<bool()> query;
        bool expected;
    } cases[] = {
        {"b locks the held byte", [&] { return b.LockByte(10); }, false},
        {"b locks an overlapping region", [&] { return b.LockRegion(5, 10); }, false},
        {"b sees the byte locked", [&] { return b.IsByteLocked(10); }, true},
        {"b sees the region locked", [&] { return b.IsRegionLocked(8, 4); }, true},
        {"b sees a free byte", [&] { return b.IsByteLocked(11); }, false},
        {"a locks its own byte again", [&] { return a.LockByte(10); }, false},
        {"a sees its own lock", [&] { return a.IsByteLocked(10); }, true},
        {"b locks a free byte", [&] { return b.LockByte(11); }, true},
        {"a sees b's lock", [&] { return a.IsByteLocked(11); }, true},
        {"a unlocks", [&] { return a.UnlockByte(10); }, true},
        {"a unlocks what it does not hold", [&] { return a.UnlockByte(10); }, false},
        {"b takes the released byte", [&] { return b.LockByte(10); }, true},
        {"a cannot take it now", [&] { return a.LockByte(10); }, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.query(), c.expected) << c.what;

    b.CloseFile();  // closing releases every lock of the file object
    EXPECT_TRUE(a.LockByte(10));
    EXPECT_TRUE(a.LockByte(11));
}

// A file this process may not write is opened for reading only, and such a descriptor cannot take
// write locks: its locks must still keep other holders out. Root may write any file, so the
// checks run in a child that gives up root first.
TEST_F(DatabaseFileTest, ReadOnlyDescriptorsStillExcludeEachOther) {
    MakeFile(std::vector<std::uint8_t>(16, 0));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(std::filesystem::path(path).parent_path().c_str(), 0755), 0);
    auto checks = [&]() -> int {
        int failures = 0;
        try {
            TABSDatabaseFile a;
            TABSDatabaseFile b;
            a.OpenFile(path, 0, 1);
            b.OpenFile(path, 0, 1);
            const bool results[] = {a.LockByte(4), b.IsByteLocked(4), !b.LockByte(4), a.UnlockByte(4), b.LockByte(4),
                                    !a.LockByte(4)};
            for (std::size_t i = 0; i < std::size(results); ++i)
                if (!results[i])
                    failures |= 1 << i;
        } catch (...) {
            failures |= 1 << 10;
        }
        return failures;
    };
    if (::geteuid() != 0) {
        EXPECT_EQ(checks(), 0);
        return;
    }
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        if (::open(path.c_str(), O_RDWR) >= 0)
            ::_exit(101);  // still allowed to write: the descriptor would be writable
        ::_exit(checks());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "bit mask of the failed checks (100/101: could not drop root)";
}

TEST_F(DatabaseFileTest, UnavailableLockingGrantsEveryLockUntilReopened) {
    MakeFile(std::vector<std::uint8_t>(16, 0));
    TABSDatabaseFile other(fs);
    other.OpenFile(path, 1, 1);
    ASSERT_TRUE(other.LockByte(3));

    TABSDatabaseFile file(fs);
    file.OpenFile(path, 1, 1);
    fs.LockError = ENOLCK;
    EXPECT_TRUE(file.LockByte(1));
    EXPECT_TRUE(file.LocksUnavailable());
    fs.LockError = 0;
    EXPECT_TRUE(file.LockByte(3)) << "held by another file object, but locking counts as unavailable";
    EXPECT_FALSE(file.IsByteLocked(2));

    file.CloseFile();
    file.OpenFile(path, 1, 1);
    EXPECT_FALSE(file.LocksUnavailable());
    EXPECT_FALSE(file.LockByte(3));
}

TEST_F(DatabaseFileTest, ShareModesDecideWhetherASecondOpenSucceeds) {
    MakeFile({0});
    const struct {
        int firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
    } cases[] = {
        {1, 0, 0, 1, false},  // share none keeps everybody out
        {0, 0, 0, 1, false},
        {1, 1, 1, 1, true},   // both let the other read and write
        {1, 1, 1, 2, false},  // the second denies writing, the first writes
        {0, 1, 1, 2, true},   // … but a reader is fine
        {1, 2, 0, 1, true},   // the first lets others read
        {1, 2, 1, 1, false},  // … but not write
        {0, 2, 0, 2, true},
        {1, 1, 1, 0, false},  // exclusive while another has it open
    };
    for (const auto& c : cases) {
        TABSDatabaseFile first(fs);
        TABSDatabaseFile second(fs);
        first.OpenFile(path, c.firstAccess, c.firstShare);
        int code = NativeErrorOf([&] { second.OpenFile(path, c.secondAccess, c.secondShare); });
        EXPECT_EQ(code == 0, c.secondOpens) << c.firstAccess << c.firstShare << " then " << c.secondAccess << c.secondShare;
        if (!c.secondOpens) {
            EXPECT_EQ(code, 30364);
        }
        first.CloseFile();
        if (second.IsOpen())
            second.CloseFile();
        second.OpenFile(path, c.secondAccess, c.secondShare);  // alone it always opens
    }
}

} // namespace
} // namespace kova
