// Storage of temporary tables: the memory budget of records and pages, spilling to temporary
// files and reading back intact, memory-only tables, insert-only records, and BLOB values
// appended to one stream.
#include "pages_test_support.h"

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSBTreePageIndex.h"
#include "engine/storage/ABSTempEngine.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;
using Bytes = std::vector<std::uint8_t>;

constexpr TABSSessionID kSession = 0;

Bytes Record(std::size_t size, std::uint64_t tag) {
    Bytes record(size);
    for (std::size_t i = 0; i < size; ++i)
        record[i] = static_cast<std::uint8_t>((tag * 131 + i * 7) & 0xFF);
    WriteI64(record.data(), static_cast<std::int64_t>(tag));
    return record;
}

Bytes Read(TABSBaseRecordManager& records, std::uint64_t number, std::size_t size) {
    Bytes out(size);
    EXPECT_TRUE(records.ReadRecord(kSession, TABSTemporaryRecordManager::IDOf(number), out)) << number;
    return out;
}

// ---------------------------------------------------------------------------------------------
// Records

TEST(TemporaryRecordManagerTest, ATenthOfTheAvailableMemoryDecidesWhereTheFirstSpilledRecordIs) {
    // 100 000 000 bytes available, 400-byte records: 25 000 records in memory.
    TABSTemporaryRecordManager records(400, false, 100000000);
    EXPECT_EQ(records.MemoryRecordLimit(), 25000);
    for (std::uint64_t i = 0; i < 25003; ++i)
        (void)records.InsertRecord(kSession, Record(400, i));
    EXPECT_EQ(records.ArrayCapacity(), 25000) << "the array stops growing at the budget";
    EXPECT_FALSE(records.HasFile()) << "three records wait in the write buffer";
    EXPECT_EQ(Read(records, 25000, 400), Record(400, 25000));
    EXPECT_TRUE(records.HasFile());
    EXPECT_EQ(records.FileSize(), 3 * 400) << "record 25 000 is the first one in the file, at offset 0";
    EXPECT_EQ(Read(records, 24999, 400), Record(400, 24999));
    EXPECT_EQ(Read(records, 25002, 400), Record(400, 25002));
}

TEST(TemporaryRecordManagerTest, SpilledRecordsReadBackIntactInAnyOrder) {
    constexpr std::size_t kSize = 37;
    // Budget of 100 records: most of them go through the write buffer to the file.
    TABSTemporaryRecordManager records(kSize, false, 100 * kSize * 10);
    ASSERT_EQ(records.MemoryRecordLimit(), 100);
    constexpr std::uint64_t kCount = 5003;
    for (std::uint64_t i = 0; i < kCount; ++i) {
        const TABSRecordID id = records.InsertRecord(kSession, Record(kSize, i));
        ASSERT_EQ(TABSTemporaryRecordManager::Number(id), i);
        if (i % 777 == 0) {  // reading in between flushes a partly filled buffer
            ASSERT_EQ(Read(records, i, kSize), Record(kSize, i));
        }
    }
    EXPECT_EQ(records.RecordCount(kSession), kCount);
    std::vector<std::uint64_t> order(kCount);
    for (std::uint64_t i = 0; i < kCount; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(2));
    for (std::uint64_t n : order)
        ASSERT_EQ(Read(records, n, kSize), Record(kSize, n)) << n;
    EXPECT_EQ(records.FileSize(), static_cast<std::int64_t>((kCount - 100) * kSize));
    Bytes out(kSize);
    EXPECT_FALSE(records.ReadRecord(kSession, TABSTemporaryRecordManager::IDOf(kCount), out));
}

TEST(TemporaryRecordManagerTest, AMemoryOnlyTableKeepsEveryRecordInMemory) {
    TABSTemporaryRecordManager records(16, true, 16 * 10 * 5);  // a budget of 5 that does not apply
    for (std::uint64_t i = 0; i < 2500; ++i)
        (void)records.InsertRecord(kSession, Record(16, i));
    EXPECT_FALSE(records.HasFile());
    EXPECT_EQ(records.ArrayCapacity(), 3000);
    EXPECT_EQ(Read(records, 2499, 16), Record(16, 2499));
}

TEST(TemporaryRecordManagerTest, UpdatesAndDeletesReportFailureAndChangeNothing) {
    TABSTemporaryRecordManager records(8, true);
    const TABSRecordID id = records.InsertRecord(kSession, Record(8, 1));
    const std::int32_t changes = records.ChangeCounter(kSession);
    EXPECT_FALSE(records.UpdateRecord(kSession, id, Record(8, 2)));
    EXPECT_FALSE(records.DeleteRecord(kSession, id));
    EXPECT_EQ(records.RecordCount(kSession), 1U);
    EXPECT_EQ(records.ChangeCounter(kSession), changes);
    EXPECT_EQ(Read(records, 0, 8), Record(8, 1));
}

TEST(TemporaryRecordManagerTest, StepsAndRecordNumbersFollowInsertionOrder) {
    TABSTemporaryRecordManager records(8, true);
    EXPECT_EQ(records.FirstRecord(kSession), std::nullopt);
    EXPECT_EQ(records.RecordAtNumber(kSession, 1), std::nullopt);
    for (std::uint64_t i = 0; i < 5; ++i)
        (void)records.InsertRecord(kSession, Record(8, i));
    using R = TABSTemporaryRecordManager;
    EXPECT_EQ(records.FirstRecord(kSession), R::IDOf(0));
    EXPECT_EQ(records.LastRecord(kSession), R::IDOf(4));
    EXPECT_EQ(records.NextRecord(kSession, R::IDOf(3)), R::IDOf(4));
    EXPECT_EQ(records.NextRecord(kSession, R::IDOf(4)), std::nullopt);
    EXPECT_EQ(records.PriorRecord(kSession, R::IDOf(0)), std::nullopt);
    EXPECT_EQ(records.PriorRecord(kSession, R::IDOf(2)), R::IDOf(1));
    struct Case {
        std::uint64_t recNo;
        std::optional<std::uint64_t> number;
    };
    const Case cases[] = {{0, 0}, {1, 0}, {2, 1}, {5, 4}, {6, std::nullopt}};
    for (const Case& c : cases) {
        const auto id = records.RecordAtNumber(kSession, c.recNo);
        EXPECT_EQ(id.has_value(), c.number.has_value()) << c.recNo;
        if (id && c.number) {
            EXPECT_EQ(R::Number(*id), *c.number) << c.recNo;
        }
    }
    EXPECT_EQ(records.RecordNumberOf(kSession, R::IDOf(3)), 4U);
}

TEST(TemporaryRecordManagerTest, IdentifiersHoldTheNumberAsA48BitInteger) {
    const std::uint64_t numbers[] = {0, 1, 0xFFFFFFFFULL, 0x100000000ULL, 0xFFFFFFFFFFFFULL};
    for (std::uint64_t n : numbers) {
        const TABSRecordID id = TABSTemporaryRecordManager::IDOf(n);
        std::uint8_t bytes[6];
        id.Encode(bytes);
        std::uint64_t decoded = 0;
        for (int i = 5; i >= 0; --i)
            decoded = (decoded << 8) | bytes[i];
        EXPECT_EQ(decoded, n);
        EXPECT_EQ(TABSTemporaryRecordManager::Number(id), n);
    }
}

TEST(TemporaryRecordManagerTest, ARecordSizeOfZeroIsRefused) {
    std::string message;
    EXPECT_EQ(NativeErrorOf([] { TABSTemporaryRecordManager records(0, false); }, &message), kInvalidRecordSizeError);
    EXPECT_EQ(message, "Invalid record size = 0");
}

// ---------------------------------------------------------------------------------------------
// Pages

TEST(TemporaryPageManagerTest, PagesBeyondTheBudgetGoToAFileThatGrowsByHalf) {
    TABSTemporaryPageManager pages(false, 3 * 4096 * 10);  // L = 3
    ASSERT_EQ(pages.MemoryPageLimit(), 3);
    struct Step {
        TABSPageNo page;
        bool file;
        std::int64_t fileSize;
    };
    const Step steps[] = {
        {0, false, 0}, {1, false, 0}, {2, false, 0},
        {3, true, 6 * 4096},  // 4 pages needed: 1.5 × 16 384
        {4, true, 6 * 4096}, {5, true, 6 * 4096},
        {6, true, 10 * 4096 + 2048},  // 7 pages needed: 1.5 × 28 672
    };
    for (const Step& s : steps) {
        EXPECT_EQ(pages.AllocateStoragePage(), s.page);
        EXPECT_EQ(pages.HasFile(), s.file) << s.page;
        EXPECT_EQ(pages.FileSize(), s.fileSize) << s.page;
    }
    EXPECT_EQ(pages.UsedCount(), 7);
    for (TABSPageNo page = 0; page < 7; ++page) {
        Bytes bytes(4096, static_cast<std::uint8_t>(0x30 + page));
        pages.WriteStoragePage(page, bytes);
    }
    for (TABSPageNo page = 6; page >= 0; --page) {
        Bytes bytes(4096);
        pages.ReadStoragePage(page, bytes);
        EXPECT_EQ(bytes, Bytes(4096, static_cast<std::uint8_t>(0x30 + page))) << page;
    }
    pages.ReleaseStoragePage(1);
    pages.ReleaseStoragePage(5);
    Bytes buffer(4096);
    EXPECT_EQ(NativeErrorOf([&] { pages.ReadStoragePage(5, buffer); }), kTempPageReadError);
    EXPECT_EQ(NativeErrorOf([&] { pages.WriteStoragePage(1, buffer); }), kTempPageWriteError);
    EXPECT_EQ(pages.AllocateStoragePage(), 7) << "past the budget numbers keep going up";
}

TEST(TemporaryPageManagerTest, AMemoryOnlyManagerNeverMakesAFile) {
    TABSTemporaryPageManager pages(true, 4096 * 10);  // L = 1, which does not apply
    for (int i = 0; i < 20; ++i)
        (void)pages.AllocateStoragePage();
    EXPECT_FALSE(pages.HasFile());
    pages.ReleaseStoragePage(4);
    EXPECT_EQ(pages.AllocateStoragePage(), 4) << "the inner manager hands the free page out again";
}

TEST(TemporaryPageManagerTest, AnIndexTreeSpillingToTheFileReadsBackIntact) {
    TABSTemporaryPageManager pages(false, 2 * 4096 * 10);  // two pages in memory
    pages.SetCacheCapacity(1);
    TABSBTreeRecordPageIndex index(pages);
    index.CreateRoot(kSession);
    std::map<TABSPageNo, std::uint16_t> model;
    std::mt19937 generator(9);
    for (int i = 0; i < 8000; ++i) {
        const auto pageNo = static_cast<TABSPageNo>(generator() % 1000000);
        const auto count = static_cast<std::uint16_t>(1 + generator() % 100);
        index.SetPageCount(kSession, pageNo, count);
        model[pageNo] = count;
        if (i % 500 == 0)
            pages.CommitSession(kSession);
    }
    pages.CommitSession(kSession);
    EXPECT_TRUE(pages.HasFile());
    EXPECT_GT(pages.UsedCount(), 10);
    index.CheckIntegrity(kSession);
    std::vector<TABSBTreePageIndex::Entry> expected;
    for (auto [pageNo, count] : model)
        expected.push_back({pageNo, count});
    EXPECT_EQ(index.Entries(kSession), expected);
    index.Drop(kSession);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// BLOB values

TABSBlobFieldInfo Field(std::int32_t fieldNo, std::size_t offset, std::uint8_t algorithm = 0) {
    TABSBlobFieldInfo field;
    field.FieldNo = fieldNo;
    field.MemoryOffset = offset;
    field.CompressionAlgorithm = algorithm;
    field.CompressionMode = algorithm == 0 ? 0 : 1;
    return field;
}

Bytes Text(std::size_t length, unsigned seed = 1) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>('A' + (i * seed + i / 70) % 26);
    return bytes;
}

void SetValue(TABSBaseBlobManager& blobs, Bytes& record, std::int32_t fieldNo, const Bytes& value) {
    auto stream = blobs.OpenBlobStream(kSession, record, fieldNo, TABSBlobOpenMode::Write);
    if (!value.empty()) {
        ASSERT_EQ(stream->Write(value.data(), value.size()), value.size());
    }
    blobs.StoreBlobStream(kSession, record, *stream);
}

Bytes GetValue(TABSBaseBlobManager& blobs, Bytes& record, std::int32_t fieldNo) {
    auto stream = blobs.OpenBlobStream(kSession, record, fieldNo, TABSBlobOpenMode::Read);
    Bytes value(static_cast<std::size_t>(stream->Size()));
    if (!value.empty()) {
        EXPECT_EQ(stream->Read(value.data(), value.size()), value.size());
    }
    return value;
}

TEST(TemporaryBlobTest, ValuesAreAppendedWithATwentyByteHeaderAndFoundByPosition) {
    TABSTemporaryBlobManager blobs({Field(0, 1), Field(1, 11, 1)}, true);
    Bytes record(21, 0x03);
    std::fill(record.begin() + 1, record.end(), 0);
    SetValue(blobs, record, 0, Text(1000));
    SetValue(blobs, record, 1, Text(200000, 2));
    EXPECT_EQ(blobs.ValuePosition(record, 0), 0);
    EXPECT_EQ(blobs.ValuePosition(record, 1), 20 + 1000);
    EXPECT_EQ(record[0], 0) << "both fields hold values";

    const auto& bytes = static_cast<const TABSMemoryStream&>(blobs.Stream()).Bytes();
    EXPECT_EQ(ReadI32(bytes.data()), 0);
    EXPECT_EQ(ReadI64(bytes.data() + 4), 1000);
    EXPECT_EQ(ReadI64(bytes.data() + 12), 1000);
    EXPECT_TRUE(std::equal(bytes.begin() + 20, bytes.begin() + 1020, Text(1000).begin()));
    EXPECT_EQ(ReadI32(bytes.data() + 1020), 2) << "two compressed blocks";
    EXPECT_EQ(ReadI64(bytes.data() + 1024), 200000);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), 1020 + 20 + ReadI64(bytes.data() + 1032));

    EXPECT_EQ(GetValue(blobs, record, 0), Text(1000));
    EXPECT_EQ(GetValue(blobs, record, 1), Text(200000, 2));

    // A new value is appended; the old one stays in the stream.
    SetValue(blobs, record, 0, Text(10, 3));
    EXPECT_GT(blobs.ValuePosition(record, 0), 1020);
    EXPECT_EQ(GetValue(blobs, record, 0), Text(10, 3));
    SetValue(blobs, record, 0, {});
    EXPECT_TRUE(blobs.Field(0).IsNull(record));
    EXPECT_TRUE(GetValue(blobs, record, 0).empty());
}

TEST(TemporaryBlobTest, AStreamThatIsNotMemoryOnlyMovesToAFileAndReadsBack) {
    TABSTemporaryBlobManager blobs({Field(0, 1)}, false);
    std::vector<Bytes> records;
    for (unsigned i = 0; i < 6; ++i) {
        Bytes record(11, 0);
        record[0] = 1;
        SetValue(blobs, record, 0, Text(300000, i + 1));
        records.push_back(record);
    }
    EXPECT_TRUE(static_cast<const TABSTemporaryStream&>(blobs.Stream()).InFile());
    for (unsigned i = 0; i < 6; ++i)
        EXPECT_EQ(GetValue(blobs, records[i], 0), Text(300000, i + 1)) << i;
}

TEST(TemporaryBlobTest, RawValuesAndDamagedPositions) {
    TABSTemporaryBlobManager blobs({Field(0, 1)}, true);
    Bytes record(11, 0x01);
    std::fill(record.begin() + 1, record.end(), 0);
    blobs.SetRaw(kSession, record, 0, {4, 777, {9, 8, 7}});
    EXPECT_EQ(blobs.GetRaw(kSession, record, 0), (TABSRawBlob{4, 777, {9, 8, 7}}));
    blobs.SetRaw(kSession, record, 0, {});
    EXPECT_TRUE(blobs.Field(0).IsNull(record));

    Bytes broken(11, 0);
    WriteI64(broken.data() + 1, 5000);  // beyond the stream
    EXPECT_EQ(NativeErrorOf([&] { (void)blobs.GetRaw(kSession, broken, 0); }), 10508);
    EXPECT_EQ(NativeErrorOf([&] { (void)blobs.OpenBlobStream(kSession, broken, 0, TABSBlobOpenMode::Read); }), 10142);
    WriteI64(broken.data() + 1, -3);
    EXPECT_EQ(NativeErrorOf([&] { (void)blobs.GetRaw(kSession, broken, 0); }), 10507);
    blobs.Empty(kSession, {});
    EXPECT_EQ(blobs.Stream().Size(), 0);
}

} // namespace
} // namespace kova
