// Scratch streams: the temporary stream staying in memory up to exactly 1 MiB, moving to an
// unnamed file past it with bytes and position kept, memory-only streams, and file streams.
#include "pages_test_support.h"

#include "engine/storage/ABSTempStream.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;
using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(length);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

Bytes ReadAll(TABSStream& stream) {
    EXPECT_TRUE(stream.Seek(0));
    Bytes bytes(static_cast<std::size_t>(stream.Size()));
    EXPECT_EQ(stream.Read(bytes.data(), bytes.size()), bytes.size());
    return bytes;
}

// The names in a directory that start with "ABS".
std::set<std::string> AbsFilesIn(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* entry = ::readdir(d))
            if (std::string(entry->d_name).rfind("ABS", 0) == 0)
                names.insert(entry->d_name);
        ::closedir(d);
    }
    return names;
}

TEST(TemporaryStreamTest, StaysInMemoryUpToExactlyOneMebibyte) {
    struct Case {
        const char* what;
        std::vector<std::size_t> writes;
        bool inFile;
    };
    const Case cases[] = {
        {"one write of exactly 1 MiB", {1048576}, false},
        {"pieces summing to 1 MiB", {1000000, 48576}, false},
        {"one byte more", {1048577}, true},
        {"pieces passing 1 MiB", {1048576, 1}, true},
    };
    for (const Case& c : cases) {
        TABSTemporaryStream stream;
        Bytes expected;
        unsigned seed = 1;
        for (std::size_t size : c.writes) {
            const Bytes piece = Pattern(size, seed++);
            ASSERT_EQ(stream.Write(piece.data(), piece.size()), piece.size()) << c.what;
            expected.insert(expected.end(), piece.begin(), piece.end());
        }
        EXPECT_EQ(stream.InFile(), c.inFile) << c.what;
        EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(expected.size())) << c.what;
        EXPECT_EQ(ReadAll(stream), expected) << c.what;
    }
}

TEST(TemporaryStreamTest, CrossingIntoAFileKeepsBytesAndPositionAndGoesOnThere) {
    TABSTemporaryStream stream;
    const Bytes first = Pattern(800000, 1);
    ASSERT_EQ(stream.Write(first.data(), first.size()), first.size());
    // Overwrite from the middle so that the write that crosses the limit does not start at the end.
    ASSERT_TRUE(stream.Seek(500000));
    const Bytes second = Pattern(700000, 2);
    ASSERT_EQ(stream.Write(second.data(), second.size()), second.size());
    EXPECT_TRUE(stream.InFile());
    EXPECT_EQ(stream.Position(), 1200000);
    const Bytes third = Pattern(300000, 3);
    ASSERT_EQ(stream.Write(third.data(), third.size()), third.size());

    Bytes expected(first.begin(), first.begin() + 500000);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(stream.Size(), 1500000);
    EXPECT_EQ(ReadAll(stream), expected);

    // Random reads after the move.
    ASSERT_TRUE(stream.Seek(1048570));
    std::uint8_t window[16];
    ASSERT_EQ(stream.Read(window, sizeof window), sizeof window);
    EXPECT_TRUE(std::equal(window, window + 16, expected.begin() + 1048570));
}

TEST(TemporaryStreamTest, GrowingPastTheLimitBySetSizeAlsoMovesToAFile) {
    TABSTemporaryStream stream;
    const Bytes head = Pattern(1000, 4);
    ASSERT_EQ(stream.Write(head.data(), head.size()), head.size());
    stream.SetSize(2 * 1048576);
    EXPECT_TRUE(stream.InFile());
    EXPECT_EQ(stream.Size(), 2 * 1048576);
    EXPECT_EQ(stream.Position(), 1000);
    Bytes all = ReadAll(stream);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin()));
    EXPECT_TRUE(std::all_of(all.begin() + 1000, all.end(), [](std::uint8_t b) { return b == 0; }));
    stream.SetSize(10);
    EXPECT_TRUE(stream.InFile()) << "once on a file the stream stays there";
    EXPECT_EQ(stream.Size(), 10);
    EXPECT_EQ(stream.Position(), 10);
}

TEST(TemporaryStreamTest, AMemoryOnlyStreamNeverMoves) {
    TABSTemporaryStream stream(true);
    const Bytes big = Pattern(3 * 1048576, 5);
    ASSERT_EQ(stream.Write(big.data(), big.size()), big.size());
    EXPECT_FALSE(stream.InFile());
    EXPECT_EQ(ReadAll(stream), big);
}

TEST(TemporaryStreamTest, TheTemporaryFileLeavesNoNameBehind) {
    testing::ScratchDirectory dir;
    const std::string tmp = dir.File("");
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", tmp.c_str(), 1);
    {
        TABSTemporaryStream stream;
        const Bytes big = Pattern(1048577, 6);
        ASSERT_EQ(stream.Write(big.data(), big.size()), big.size());
        ASSERT_TRUE(stream.InFile());
        EXPECT_TRUE(AbsFilesIn(tmp).empty()) << "the file is unnamed or unlinked at once";
        EXPECT_EQ(ReadAll(stream), big);
    }
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_TRUE(AbsFilesIn(tmp).empty());
}

TEST(TemporaryStreamTest, NoTemporaryDirectoryMeansCannotCreateFile) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/nonexistent-kova-dir", 1);
    TABSTemporaryStream stream;
    const Bytes big = Pattern(1048577, 7);
    std::string message;
    const int code = NativeErrorOf([&] { (void)stream.Write(big.data(), big.size()); }, &message);
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_EQ(code, kCannotCreateFileError);
    EXPECT_EQ(message, "Cannot create file. FileName = /nonexistent-kova-dir/ABSXXXXXX");
    EXPECT_FALSE(stream.InFile());
    EXPECT_EQ(stream.Size(), 0) << "nothing was written";
}

TEST(FileStreamTest, NamedFilesOpenByModeAndReportFailures) {
    testing::ScratchDirectory dir;
    const std::string path = dir.File("values.bin");
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)TABSFileStream::Open(path, 1); }, &message), kCannotOpenFileError);
    EXPECT_EQ(message, "Cannot open file. FileName = " + path + ", Mode = 1");
    {
        auto created = TABSFileStream::Open(path, 2);
        const Bytes bytes = Pattern(5000, 8);
        ASSERT_TRUE(created->Seek(100));
        ASSERT_EQ(created->Write(bytes.data(), bytes.size()), bytes.size());
        EXPECT_EQ(created->Size(), 5100) << "writing beyond the end fills the gap";
    }
    auto readOnly = TABSFileStream::Open(path, 0);
    EXPECT_EQ(readOnly->Size(), 5100);
    std::uint8_t one = 1;
    EXPECT_EQ(readOnly->Write(&one, 1), 0U) << "a read-only file takes no bytes";
    Bytes all = ReadAll(*readOnly);
    EXPECT_TRUE(std::all_of(all.begin(), all.begin() + 100, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(NativeErrorOf([&] { (void)TABSFileStream::Open(path, 7); }), kCannotOpenFileError);
    EXPECT_FALSE(readOnly->Seek(-1));
}

} // namespace
} // namespace kova
