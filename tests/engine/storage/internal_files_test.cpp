// Internal files: where a byte lies in the chain, direct files (byte access, locks, bounds) and
// transacted files (growing and cutting chains, compression, errors).
#include "engine/storage/ABSInternalFiles.h"

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSCompression.h"
#include "engine/storage/ABSDiskPageManager.h"
#include "pages_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;
using testing::ScratchDirectory;

constexpr std::int64_t kDataSize = 4096 - 40;
constexpr TABSSessionID kSession = 1;

TEST(InternalFilePosition, ByteAfterAFullFirstPageStartsTheSecondPage) {
    struct Case {
        std::int64_t Offset;
        TABSInternalFilePosition Expected;
    };
    // With D = 4056 the header fills chain bytes 0-9, so file byte 4046 is chain byte 4056: the
    // first byte of the second page (a ceil-based formula puts it over the header of page 0).
    const Case cases[] = {
        {0, {0, 10}},    {1, {0, 11}},    {4045, {0, 4055}}, {4046, {1, 0}},
        {4047, {1, 1}},  {8101, {1, 4055}}, {8102, {2, 0}},  {8103, {2, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InternalFilePosition(c.Offset, kDataSize), c.Expected) << "offset " << c.Offset;
    }
}

TEST(InternalFilePosition, ChainLengthCountsTheHeader) {
    struct Case {
        std::int64_t StoredSize;
        std::int64_t Pages;
    };
    const Case cases[] = {{0, 1}, {1, 1}, {4046, 1}, {4047, 2}, {8102, 2}, {8103, 3}, {500, 1}, {6000, 2}};
    for (const Case& c : cases) {
        EXPECT_EQ(InternalFileChainLength(c.StoredSize, kDataSize), c.Pages) << "size " << c.StoredSize;
    }
}

// A fresh, unenciphered (or enciphered) database file open in a page manager.
class InternalFileTest : public ::testing::Test {
protected:
    void Create(const std::string& password = {}) {
        TABSPassword record;
        record.Password = password;
        pages_.CreateDatabaseFile(path_, record);
    }
    void Reopen(const std::string& password = {}) {
        pages_.CloseDatabaseFile();
        TABSPassword record;
        record.Password = password;
        (void)pages_.OpenDatabaseFile(path_, record, TABSOpenOptions{});
    }
    // The page numbers of a transacted file's chain as `session` sees it.
    std::vector<TABSPageNo> Chain(TABSPageNo first, TABSSessionID session = kSession) {
        std::vector<TABSPageNo> chain;
        for (TABSPageNo page = first; page != kNoPage && chain.size() < 100;) {
            chain.push_back(page);
            page = pages_.GetPage(session, page).NextPageNo();
        }
        return chain;
    }
    static std::vector<std::uint8_t> Pattern(std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
        return bytes;
    }

    ScratchDirectory dir_;
    std::string path_ = dir_.File("internal.abs");
    TABSDiskPageManager pages_;
};

// ---------------------------------------------------------------------------------------------
// Transacted files

TEST_F(InternalFileTest, TransactedFileLaysBytesAcrossThePageBoundary) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableMostUpdated);
    file.CreateFile(kSession);
    const std::vector<std::uint8_t> content = Pattern(8200);
    file.WriteFile(kSession, content);
    pages_.CommitSession(kSession);

    const std::vector<TABSPageNo> chain = Chain(file.FirstPageNo());
    ASSERT_EQ(chain.size(), 3u);  // ceil((8200 + 10) / 4056)
    for (const std::int64_t offset : {0, 4045, 4046, 4047, 8101, 8102, 8199}) {
        const TABSInternalFilePosition at = InternalFilePosition(offset, kDataSize);
        std::uint8_t raw = 0;
        pages_.DirectReadPage(chain[static_cast<std::size_t>(at.PageIndex)],
                              static_cast<std::int32_t>(40 + at.DataOffset), std::span(&raw, 1));
        EXPECT_EQ(raw, content[static_cast<std::size_t>(offset)]) << "offset " << offset;
        std::uint8_t read = 0;
        file.ReadFile(kSession, static_cast<std::int32_t>(offset), std::span(&read, 1));
        EXPECT_EQ(read, content[static_cast<std::size_t>(offset)]) << "offset " << offset;
    }
    // The header stays intact at the start of the first page.
    std::uint8_t header[10];
    pages_.DirectReadPage(chain[0], 40, header);
    EXPECT_EQ(header[0], 10);
    EXPECT_EQ(ReadI32(header + 1), 8200);
    EXPECT_EQ(ReadI32(header + 5), 8200);
    EXPECT_EQ(header[9], 0);
}

TEST_F(InternalFileTest, WriteAtTheBoundaryOffsetChangesOnlyThatByte) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableMostUpdated);
    file.CreateFile(kSession);
    std::vector<std::uint8_t> content = Pattern(4100);
    file.WriteFile(kSession, content);
    const std::uint8_t marker[] = {0xEE};
    file.WriteFile(kSession, 4046, marker);
    content[4046] = 0xEE;
    EXPECT_EQ(file.ReadFile(kSession), content);
    EXPECT_EQ(file.GetSize(kSession), 4100);
}

TEST_F(InternalFileTest, ContentOfExactlyOnePageNeedsNoSecondPage) {
    Create();
    struct Case {
        std::size_t Size;
        std::size_t Pages;
    };
    const Case cases[] = {{4046, 1}, {4047, 2}, {0, 1}, {8102, 2}, {8103, 3}};
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableMostUpdated);
    file.CreateFile(kSession);
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> content = Pattern(c.Size);
        file.WriteFile(kSession, content);
        EXPECT_EQ(Chain(file.FirstPageNo()).size(), c.Pages) << "size " << c.Size;
        EXPECT_EQ(file.ReadFile(kSession), content) << "size " << c.Size;
    }
}

TEST_F(InternalFileTest, CuttingTheContentGivesTheTailPagesBack) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableMostUpdated);
    file.CreateFile(kSession);
    file.WriteFile(kSession, Pattern(12000));
    pages_.CommitSession(kSession);
    const std::vector<TABSPageNo> longChain = Chain(file.FirstPageNo());
    ASSERT_EQ(longChain.size(), 3u);

    file.SetSize(kSession, 100);
    pages_.CommitSession(kSession);
    EXPECT_EQ(Chain(file.FirstPageNo()), std::vector<TABSPageNo>{longChain[0]});
    EXPECT_EQ(file.ReadFile(kSession), Pattern(100));
    // The freed pages are handed out again.
    TABSPageHandle reused = pages_.AddPage(kSession, TABSPageType::TableRecord);
    EXPECT_TRUE(reused.PageNo() == longChain[1] || reused.PageNo() == longChain[2]) << reused.PageNo();
}

TEST_F(InternalFileTest, GrowingPastTheEndFillsTheGapWithZeros) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableMostUpdated);
    file.CreateFile(kSession);
    file.WriteFile(kSession, Pattern(5000));
    file.SetSize(kSession, 20);  // bytes 20 … 4999 stay in the pages but no longer belong to the file
    const std::uint8_t tail[] = {1, 2, 3};
    file.WriteFile(kSession, 4500, tail);

    std::vector<std::uint8_t> expected = Pattern(20);
    expected.resize(4500, 0);
    expected.insert(expected.end(), std::begin(tail), std::end(tail));
    EXPECT_EQ(file.ReadFile(kSession), expected);
}

TEST_F(InternalFileTest, CompressedContentRoundTripsAndStaysCompressedOnDisk) {
    for (const std::string password : {"", "quorbel"}) {
        SCOPED_TRACE("password '" + password + "'");
        pages_.CloseDatabaseFile();
        Create(password);
        std::string text;
        for (int i = 0; text.size() < 60000; ++i) text += "Field" + std::to_string(i % 50) + " Integer NOT NULL;";
        const std::vector<std::uint8_t> content(text.begin(), text.end());

        TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableMetaData);
        file.CreateFile(kSession);
        file.WriteFile(kSession, content, kCompressionZlib, 1);
        pages_.CommitSession(kSession);
        const TABSPageNo first = file.FirstPageNo();

        Reopen(password);
        TABSInternalDBTransactedAccessFile reopened(pages_, TABSPageType::TableMetaData);
        reopened.OpenFile(first);
        const TABSInternalFileHeaderFields header = reopened.ReadHeader(kSession);
        EXPECT_EQ(header.Algorithm, kCompressionZlib);
        EXPECT_EQ(header.UnpackedSize, static_cast<std::int32_t>(content.size()));
        EXPECT_LT(header.StoredSize, header.UnpackedSize / 4);
        EXPECT_EQ(static_cast<std::int64_t>(Chain(first).size()), InternalFileChainLength(header.StoredSize, kDataSize));
        EXPECT_EQ(reopened.GetSize(kSession), static_cast<std::int32_t>(content.size()));
        EXPECT_EQ(reopened.ReadFile(kSession), content);

        std::vector<std::uint8_t> middle(300);
        reopened.ReadFile(kSession, 30000, middle);
        EXPECT_TRUE(std::equal(middle.begin(), middle.end(), content.begin() + 30000));

        // A partial write of a compressed file repacks it.
        const std::uint8_t patch[] = {'X', 'Y'};
        reopened.WriteFile(kSession, 10, patch);
        std::vector<std::uint8_t> patched = content;
        patched[10] = 'X';
        patched[11] = 'Y';
        EXPECT_EQ(reopened.ReadFile(kSession), patched);
        EXPECT_EQ(reopened.ReadHeader(kSession).Algorithm, kCompressionZlib);
    }
}

TEST_F(InternalFileTest, DamagedCompressedContentRaisesDecompressionError) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableMetaData);
    file.CreateFile(kSession);
    const std::vector<std::uint8_t> content(3000, 'a');
    file.WriteFile(kSession, content, kCompressionZlib, 1);
    {
        TABSPageHandle page = pages_.GetPage(kSession, file.FirstPageNo());
        auto data = page.MutableData();
        for (std::size_t i = 10; i < 20; ++i) data[i] ^= 0x5A;  // inside the deflate stream
    }
    EXPECT_EQ(NativeErrorOf([&] { (void)file.ReadFile(kSession); }), 20189);
}

TEST_F(InternalFileTest, ChangesStayInTheWritingSessionUntilCommit) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableList);
    file.CreateFile(kSession);
    file.WriteFile(kSession, Pattern(10));
    pages_.CommitSession(kSession);

    file.WriteFile(kSession, Pattern(5000));
    EXPECT_EQ(file.GetSize(kSession), 5000);
    EXPECT_EQ(file.GetSize(2), 10);  // another session sees the committed content
    pages_.RollbackSession(kSession);
    EXPECT_EQ(file.ReadFile(kSession), Pattern(10));
    EXPECT_EQ(Chain(file.FirstPageNo()).size(), 1u);
}

TEST_F(InternalFileTest, TransactedFileErrors) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableList);
    std::vector<std::uint8_t> buffer(4);
    struct ClosedCase {
        const char* Operation;
        std::function<void()> Call;
    };
    const ClosedCase closed[] = {
        {"ReadFile", [&] { (void)file.ReadFile(kSession); }},
        {"WriteFile", [&] { file.WriteFile(kSession, buffer); }},
        {"SetSize", [&] { file.SetSize(kSession, 3); }},
        {"GetSize", [&] { (void)file.GetSize(kSession); }},
    };
    for (const ClosedCase& c : closed) {
        std::string message;
        EXPECT_EQ(NativeErrorOf(c.Call, &message), 30389) << c.Operation;
        EXPECT_EQ(message, std::string("Cannot perform this operation (") + c.Operation + ") on closed internal file");
    }

    file.CreateFile(kSession);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { file.CreateFile(kSession); }, &message), 30383);
    EXPECT_EQ(message, "Cannot create Internal file. File already exists. StartPageNo=" + std::to_string(file.FirstPageNo()));

    file.WriteFile(kSession, Pattern(100));
    EXPECT_EQ(NativeErrorOf([&] { file.ReadFile(kSession, 98, buffer); }, &message), 30387);
    EXPECT_EQ(message, "Cannot Read internal file. FileSize=100. ReadSize=102");

    // A file of another page type at this page.
    TABSInternalDBTransactedAccessFile wrongType(pages_, TABSPageType::TableMetaData);
    wrongType.OpenFile(file.FirstPageNo());
    EXPECT_EQ(NativeErrorOf([&] { (void)wrongType.ReadFile(kSession); }, &message), 20155);
    EXPECT_EQ(message, "Invalid PageType found: 6 but wanted: 8");
}

TEST_F(InternalFileTest, ChainEndingBeforeTheStoredSizeIsReported) {
    Create();
    TABSInternalDBTransactedAccessFile file(pages_, TABSPageType::TableList);
    file.CreateFile(kSession);
    file.WriteFile(kSession, Pattern(6000));
    pages_.GetPage(kSession, file.FirstPageNo()).SetNextPageNo(kNoPage);  // cut the link behind its back
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)file.ReadFile(kSession); }, &message), 30388);
    EXPECT_NE(message.find("FileSize=6000"), std::string::npos) << message;
    EXPECT_NE(message.find("ReadBytes=4046"), std::string::npos) << message;
    EXPECT_NE(message.find("Count=6000"), std::string::npos) << message;
}

// ---------------------------------------------------------------------------------------------
// Direct files

class DirectFileTest : public InternalFileTest {
protected:
    void SetUp() override {
        Create("quorbel");
        file_.CreateFile(kSession, 5000);  // two pages: 4046 + 954 bytes
        pages_.CommitSession(kSession);
    }
    TABSInternalDBDirectAccessFile file_{pages_, TABSPageType::TableLocks};
};

TEST_F(DirectFileTest, MadeAtOnceWithPlainHeader) {
    ASSERT_EQ(file_.ChainPages().size(), 2u);
    EXPECT_EQ(file_.GetSize(), 5000);
    // Never enciphered, even in an enciphered database: the header reads plain from the file.
    std::uint8_t header[10];
    pages_.DirectReadPage(file_.FirstPageNo(), 40, header);
    EXPECT_EQ(header[0], 10);
    EXPECT_EQ(ReadI32(header + 1), 5000);
    std::uint8_t pageHeader[40];
    pages_.DirectReadPage(file_.ChainPages()[0], 0, pageHeader);
    EXPECT_EQ(DecodePageHeader(pageHeader).NextPageNo, file_.ChainPages()[1]);
    EXPECT_EQ(DecodePageHeader(pageHeader).PageType, static_cast<std::uint16_t>(TABSPageType::TableLocks));
}

TEST_F(DirectFileTest, BytesAcrossThePageBoundaryGoStraightToTheFile) {
    std::vector<std::uint8_t> bytes(100);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    file_.DirectWriteBuffer(4000, bytes);  // 46 bytes in page 0, 54 in page 1

    std::vector<std::uint8_t> back(100);
    file_.DirectReadBuffer(4000, back);
    EXPECT_EQ(back, bytes);
    std::uint8_t firstOfSecondPage = 0;
    pages_.DirectReadPage(file_.ChainPages()[1], 40, std::span(&firstOfSecondPage, 1));
    EXPECT_EQ(firstOfSecondPage, bytes[46]);

    // A second opening reads the chain from the file and sees the same bytes.
    TABSInternalDBDirectAccessFile again(pages_, TABSPageType::TableLocks);
    again.OpenFile(file_.FirstPageNo());
    EXPECT_EQ(again.ChainPages(), file_.ChainPages());
    std::vector<std::uint8_t> viaOther(100);
    again.DirectReadBuffer(4000, viaOther);
    EXPECT_EQ(viaOther, bytes);
}

TEST_F(DirectFileTest, AccessBeyondTheEndFails) {
    std::vector<std::uint8_t> two(2);
    struct Case {
        const char* Name;
        std::function<void()> Call;
        int Code;
        const char* Message;
    };
    const Case cases[] = {
        {"write past end", [&] { file_.DirectWriteBuffer(4999, two); }, 20158,
         "Cannot write after end of file. FileSize=5000. Position=4999, Count=2"},
        {"read position past end", [&] { file_.DirectReadBuffer(5001, two); }, 20159,
         "Seek position bigger then file size. FileSize=5000. Position=5001"},
        {"write position past end", [&] { file_.DirectWriteBuffer(6000, two); }, 20159,
         "Seek position bigger then file size. FileSize=5000. Position=6000"},
        {"lock past end", [&] { (void)file_.LockByte(5000); }, 20159,
         "Seek position bigger then file size. FileSize=5000. Position=5001"},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(NativeErrorOf(c.Call, &message), c.Code) << c.Name;
        EXPECT_EQ(message, c.Message) << c.Name;
    }
    std::vector<std::uint8_t> last(1);
    file_.DirectReadBuffer(4999, last);  // the last byte itself is fine
}

TEST_F(DirectFileTest, OperationsOnAClosedFileNameTheOperation) {
    TABSInternalDBDirectAccessFile closed(pages_, TABSPageType::TableLocks);
    std::vector<std::uint8_t> one(1);
    struct Case {
        const char* Operation;
        std::function<void()> Call;
    };
    const Case cases[] = {
        {"DirectReadBuffer", [&] { closed.DirectReadBuffer(0, one); }},
        {"DirectWriteBuffer", [&] { closed.DirectWriteBuffer(0, one); }},
        {"LockFile", [&] { (void)closed.LockFile(); }},
        {"UnlockFile", [&] { (void)closed.UnlockFile(); }},
        {"LockByte", [&] { (void)closed.LockByte(0); }},
        {"UnlockByte", [&] { (void)closed.UnlockByte(0); }},
        {"IsByteLocked", [&] { (void)closed.IsByteLocked(0); }},
        {"IsRegionLocked", [&] { (void)closed.IsRegionLocked(0, 2); }},
        {"GetSize", [&] { (void)closed.GetSize(); }},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(NativeErrorOf(c.Call, &message), 20156) << c.Operation;
        EXPECT_EQ(message, std::string("Cannot perform this operation (") + c.Operation + ") on closed internal file");
    }
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { file_.CreateFile(kSession, 10); }, &message), 20157);
    EXPECT_EQ(message, "Cannot create Internal file. File already exists. StartPageNo=" + std::to_string(file_.FirstPageNo()));
}

TEST_F(DirectFileTest, OpeningAChainOfAnotherTypeFails) {
    TABSInternalDBDirectAccessFile sessions(pages_, TABSPageType::ActiveSessionList);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { sessions.OpenFile(file_.FirstPageNo()); }, &message), 20155);
    EXPECT_EQ(message, "Invalid PageType found: 7 but wanted: 5");
    EXPECT_FALSE(sessions.IsOpen());
}

TEST_F(DirectFileTest, LocksAreSeenByAnotherOpeningOfTheFile) {
    TABSDiskPageManager other;
    TABSPassword password;
    password.Password = "quorbel";
    TABSOpenOptions multi;
    multi.MultiUser = true;
    (void)other.OpenDatabaseFile(path_, password, multi);
    TABSInternalDBDirectAccessFile otherFile(other, TABSPageType::TableLocks);
    otherFile.OpenFile(file_.FirstPageNo());

    ASSERT_TRUE(file_.LockRegion(4040, 20));  // spans both pages
    EXPECT_TRUE(otherFile.IsByteLocked(4040));
    EXPECT_TRUE(otherFile.IsByteLocked(4059));
    EXPECT_FALSE(otherFile.IsByteLocked(4060));
    EXPECT_TRUE(otherFile.IsRegionLocked(4050, 100));
    EXPECT_FALSE(otherFile.LockByte(4050));
    // All or nothing: a region that overlaps the held one takes none of its free bytes.
    EXPECT_FALSE(otherFile.LockRegion(4000, 50));
    EXPECT_TRUE(file_.LockByte(4000));  // still free after the failed region lock

    ASSERT_TRUE(file_.UnlockRegion(4040, 20));
    EXPECT_FALSE(otherFile.IsRegionLocked(4040, 20));
    EXPECT_TRUE(otherFile.LockByte(4045));

    // The file lock sits on the first page's first byte, apart from every file byte.
    ASSERT_TRUE(file_.LockFile());
    EXPECT_FALSE(otherFile.LockFile());
    EXPECT_TRUE(otherFile.LockByte(0));
    ASSERT_TRUE(file_.UnlockFile());
    EXPECT_TRUE(otherFile.LockFile());
    other.CloseDatabaseFile();
}

} // namespace
} // namespace kova
