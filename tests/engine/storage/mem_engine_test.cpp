// Storage of in-memory tables: the page manager (lowest free page, growth, sessions, saving and
// loading, index trees on it), the record manager (slots, deleted map, record numbers, stepping)
// and BLOB values in memory blocks.
#include "pages_test_support.h"

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSBTreePageIndex.h"
#include "engine/storage/ABSMemEngine.h"
#include "engine/storage/ABSStream.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;
using Bytes = std::vector<std::uint8_t>;

constexpr TABSSessionID kSession = 0;

// ---------------------------------------------------------------------------------------------
// Page manager

TEST(MemoryPageManagerTest, HandsOutTheLowestFreePageAndGrowsInStepsOf50) {
    TABSMemoryPageManager pages;
    std::vector<TABSPageNo> got;
    for (int i = 0; i < 51; ++i)
        got.push_back(pages.AllocateStoragePage());
    EXPECT_EQ(got.front(), 0);
    EXPECT_EQ(got.back(), 50);
    EXPECT_EQ(pages.Capacity(), 100);
    EXPECT_EQ(pages.HighestPageNo(), 50);
    EXPECT_EQ(pages.UsedCount(), 51);

    pages.ReleaseStoragePage(7);
    pages.ReleaseStoragePage(3);
    EXPECT_EQ(pages.UsedCount(), 49);
    EXPECT_EQ(pages.AllocateStoragePage(), 3);
    EXPECT_EQ(pages.AllocateStoragePage(), 7);
    EXPECT_EQ(pages.AllocateStoragePage(), 51);
}

TEST(MemoryPageManagerTest, PagesNotInUseCannotBeReadOrWritten) {
    TABSMemoryPageManager pages;
    const TABSPageNo page = pages.AllocateStoragePage();
    Bytes buffer(kMemoryPageSize, 0x5A);
    pages.WriteStoragePage(page, buffer);
    Bytes back(kMemoryPageSize);
    pages.ReadStoragePage(page, back);
    EXPECT_EQ(back, buffer);
    pages.ReleaseStoragePage(page);
    for (TABSPageNo pageNo : {page, 99, -1}) {
        std::string message;
        EXPECT_EQ(NativeErrorOf([&] { pages.ReadStoragePage(pageNo, back); }, &message), kMemoryPageReadError);
        EXPECT_EQ(message, "Not released page is allocated");
        EXPECT_EQ(NativeErrorOf([&] { pages.WriteStoragePage(pageNo, buffer); }), kMemoryPageWriteError);
    }
}

TEST(MemoryPageManagerTest, SessionsCommitAndRollBackLikeAFile) {
    TABSMemoryPageManager pages;
    TABSPageNo kept = kNoPage;
    TABSPageNo dropped = kNoPage;
    {
        TABSPageHandle a = pages.AddPage(kSession, TABSPageType::TableIndex);
        kept = a.PageNo();
        a.MutableData()[0] = 0x11;
    }
    pages.CommitSession(kSession);
    {
        TABSPageHandle b = pages.AddPage(kSession, TABSPageType::TableIndex);
        dropped = b.PageNo();
        TABSPageHandle a = pages.GetPage(kSession, kept);
        a.MutableData()[0] = 0x22;
    }
    pages.RollbackSession(kSession);
    EXPECT_FALSE(pages.IsUsed(dropped)) << "a rolled-back page goes back";
    EXPECT_EQ(pages.GetPage(kSession, kept).Data()[0], 0x11) << "the committed bytes stay";
    pages.RemovePage(kSession, kept);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 0);
}

TEST(MemoryPageManagerTest, IndexTreesLiveOnItAndSurviveSavingAndLoading) {
    TABSMemoryPageManager pages;
    pages.SetCacheCapacity(1);  // reads come from the stored buffers
    TABSBTreeRecordPageIndex index(pages);
    index.CreateRoot(kSession);
    std::map<TABSPageNo, std::uint16_t> model;
    std::mt19937 generator(3);
    for (int i = 0; i < 3000; ++i) {
        const auto pageNo = static_cast<TABSPageNo>(generator() % 100000);
        const auto count = static_cast<std::uint16_t>(1 + generator() % 60);
        index.SetPageCount(kSession, pageNo, count);
        model[pageNo] = count;
    }
    pages.CommitSession(kSession);
    index.CheckIntegrity(kSession);

    TABSMemoryStream stream;
    pages.SaveToStream(stream);
    const std::int64_t expectedSize = 20 + 8 + (pages.Capacity() + 7) / 8 + pages.Capacity() * 4096LL;
    EXPECT_EQ(stream.Size(), expectedSize);
    EXPECT_EQ(ReadI32(stream.Bytes().data()), pages.Capacity());
    EXPECT_EQ(ReadU16(stream.Bytes().data() + 12), 4096);

    TABSMemoryPageManager loaded;
    ASSERT_TRUE(stream.Seek(0));
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.UsedCount(), pages.UsedCount());
    EXPECT_EQ(loaded.HighestPageNo(), pages.HighestPageNo());
    TABSBTreeRecordPageIndex reloaded(loaded, index.RootPageNo());
    reloaded.CheckIntegrity(kSession);
    std::vector<TABSBTreePageIndex::Entry> expected;
    for (auto [pageNo, count] : model)
        expected.push_back({pageNo, count});
    EXPECT_EQ(reloaded.Entries(kSession), expected);
    EXPECT_EQ(loaded.AllocateStoragePage(), pages.AllocateStoragePage()) << "the free pages are the same";
}

TEST(MemoryPageManagerTest, StreamsOfAnotherLayoutAreRefused) {
    TABSMemoryPageManager source;
    (void)source.AllocateStoragePage();
    TABSMemoryStream good;
    source.SaveToStream(good);
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
    };
    const Case cases[] = {{"page size", 13, 0x20}, {"page header size", 14, 0}, {"used count", 16, 9}, {"capacity", 0, 49}};
    for (const Case& c : cases) {
        Bytes bytes = good.Bytes();
        bytes[c.offset] = c.value;
        TABSMemoryStream damaged(bytes);
        TABSMemoryPageManager target;
        EXPECT_NE(NativeErrorOf([&] { target.LoadFromStream(damaged); }), 0) << c.what;
        EXPECT_EQ(target.UsedCount(), 0) << c.what;
    }
}

// ---------------------------------------------------------------------------------------------
// Record manager

Bytes Record(std::size_t size, std::uint32_t tag) {
    Bytes record(size, 0);
    WriteU32(record.data(), tag);
    record.back() = static_cast<std::uint8_t>(tag * 7);
    return record;
}

std::uint32_t TagOf(TABSBaseRecordManager& records, const TABSRecordID& id, std::size_t size) {
    Bytes out(size);
    EXPECT_TRUE(records.ReadRecord(kSession, id, out));
    return ReadU32(out.data());
}

class MemoryRecordManagerTest : public ::testing::Test {
protected:
    static constexpr std::size_t kSize = 24;
    TABSMemoryRecordManager records{kSize};

    TABSRecordID Insert(std::uint32_t tag) { return records.InsertRecord(kSession, Record(kSize, tag)); }
};

TEST_F(MemoryRecordManagerTest, SlotNineIsRecordNineAndRecordFourIsSlotFourWhenSlotThreeIsGone) {
    for (std::uint32_t i = 0; i < 10; ++i)
        EXPECT_EQ(Insert(i), (TABSRecordID{static_cast<TABSPageNo>(i), 0}));
    EXPECT_EQ(records.RecordNumberOf(kSession, {9, 0}), 10U) << "while nothing was deleted: slot + 1";
    ASSERT_TRUE(records.DeleteRecord(kSession, {3, 0}));
    EXPECT_FALSE(records.NeverDeleted());
    EXPECT_EQ(records.RecordNumberOf(kSession, {9, 0}), 9U);
    EXPECT_EQ(records.RecordAtNumber(kSession, 4), std::optional<TABSRecordID>({4, 0}));
    EXPECT_EQ(records.RecordAtNumber(kSession, 3), std::optional<TABSRecordID>({2, 0}));
    EXPECT_EQ(records.RecordNumberOf(kSession, {3, 0}), 0U) << "a deleted slot has no number";
    EXPECT_EQ(records.RecordAtNumber(kSession, 10), std::nullopt);
    EXPECT_EQ(records.RecordAtNumber(kSession, 0), std::nullopt);
    EXPECT_EQ(records.NextRecord(kSession, {2, 0}), std::optional<TABSRecordID>({4, 0}));
    EXPECT_EQ(records.PriorRecord(kSession, {4, 0}), std::optional<TABSRecordID>({2, 0}));
    Bytes out(kSize);
    EXPECT_FALSE(records.ReadRecord(kSession, {3, 0}, out));
}

TEST_F(MemoryRecordManagerTest, DeletingTheOnlyRecordResetsTheRangeAndTheNextInsertUsesSlotZero) {
    Insert(1);
    Insert(2);
    ASSERT_TRUE(records.DeleteRecord(kSession, {0, 0}));
    EXPECT_EQ(records.LowestSlot(), 1);
    ASSERT_TRUE(records.DeleteRecord(kSession, {1, 0}));
    EXPECT_EQ(records.LowestSlot(), 0);
    EXPECT_EQ(records.HighestSlot(), 0);
    EXPECT_EQ(records.FirstRecord(kSession), std::nullopt);
    EXPECT_EQ(Insert(3), (TABSRecordID{0, 0}));
    EXPECT_EQ(Insert(4), (TABSRecordID{1, 0}));
    EXPECT_EQ(records.RecordNumberOf(kSession, {1, 0}), 2U);
    EXPECT_EQ(TagOf(records, {1, 0}, kSize), 4U);
}

TEST_F(MemoryRecordManagerTest, SlotsAreNotReusedWhileARecordRemainsAbove) {
    Insert(1);
    Insert(2);
    Insert(3);
    ASSERT_TRUE(records.DeleteRecord(kSession, {1, 0}));
    EXPECT_EQ(Insert(4), (TABSRecordID{3, 0}));
    ASSERT_TRUE(records.DeleteRecord(kSession, {3, 0}));
    EXPECT_EQ(records.HighestSlot(), 2) << "the highest moves down to the previous stored slot";
    EXPECT_EQ(Insert(5), (TABSRecordID{3, 0}));
}

TEST_F(MemoryRecordManagerTest, ChangesToMissingRecordsAreRefused) {
    Insert(1);
    const TABSRecordID missing[] = {{1, 0}, {-1, 0}, {500, 0}};
    for (const TABSRecordID& id : missing) {
        EXPECT_EQ(NativeErrorOf([&] { (void)records.UpdateRecord(kSession, id, Record(kSize, 9)); }),
                  kMemoryRecordNotFoundError);
        EXPECT_EQ(NativeErrorOf([&] { (void)records.DeleteRecord(kSession, id); }), kMemoryRecordNotFoundError);
    }
    ASSERT_TRUE(records.DeleteRecord(kSession, {0, 0}));
    EXPECT_EQ(NativeErrorOf([&] { (void)records.DeleteRecord(kSession, {0, 0}); }), kMemoryRecordNotFoundError)
        << "an empty table";
    EXPECT_EQ(records.ChangeCounter(kSession), 2);
}

TEST_F(MemoryRecordManagerTest, RandomChangesAgreeWithAModel) {
    std::mt19937 generator(11);
    std::map<std::int64_t, std::uint32_t> model;  // slot → tag
    std::uint32_t tag = 0;
    for (int step = 0; step < 6000; ++step) {
        const unsigned action = generator() % 10;
        if (action < 6 || model.empty()) {
            const TABSRecordID id = Insert(++tag);
            ASSERT_EQ(model.count(id.PageNo), 0U);
            ASSERT_TRUE(model.empty() || id.PageNo > model.rbegin()->first) << "slots go upwards";
            model[id.PageNo] = tag;
        } else {
            auto it = model.begin();
            std::advance(it, static_cast<long>(generator() % model.size()));
            if (action < 9) {
                ASSERT_TRUE(records.DeleteRecord(kSession, {static_cast<TABSPageNo>(it->first), 0}));
                model.erase(it);
            } else {
                it->second = ++tag;
                ASSERT_TRUE(records.UpdateRecord(kSession, {static_cast<TABSPageNo>(it->first), 0}, Record(kSize, tag)));
            }
        }
        if (step % 97 != 0)
            continue;
        ASSERT_EQ(records.RecordCount(kSession), model.size());
        std::uint64_t number = 0;
        std::optional<TABSRecordID> id = records.FirstRecord(kSession);
        for (auto [slot, expected] : model) {
            ++number;
            ASSERT_TRUE(id.has_value());
            ASSERT_EQ(id->PageNo, slot);
            ASSERT_EQ(TagOf(records, *id, kSize), expected);
            ASSERT_EQ(records.RecordNumberOf(kSession, *id), number);
            ASSERT_EQ(records.RecordAtNumber(kSession, number), id);
            id = records.NextRecord(kSession, *id);
        }
        ASSERT_FALSE(id.has_value());
        if (!model.empty()) {
            ASSERT_EQ(records.LastRecord(kSession)->PageNo, model.rbegin()->first);
            ASSERT_EQ(records.PriorRecord(kSession, {static_cast<TABSPageNo>(model.rbegin()->first), 0}),
                      model.size() > 1 ? std::optional<TABSRecordID>({static_cast<TABSPageNo>(std::next(model.rbegin())->first), 0})
                                       : std::nullopt);
        }
    }
    EXPECT_GT(records.Capacity(), 1000) << "the array grew past one step";
    records.Empty(kSession);
    EXPECT_EQ(records.RecordCount(kSession), 0U);
    EXPECT_TRUE(records.NeverDeleted());
    EXPECT_EQ(Insert(1), (TABSRecordID{0, 0}));
}

TEST(MemoryRecordManagerLimitTest, TheMemoryLimitStopsGrowthAndKeepsTheRecords) {
    TABSMemoryManager memory;
    memory.SetMemoryLimit(100 * 1000 + 50000);  // room for one growth step of 100-byte records
    TABSMemoryRecordManager records(100, memory);
    for (std::uint32_t i = 0; i < 1000; ++i)
        (void)records.InsertRecord(kSession, Record(100, i));
    EXPECT_EQ(NativeErrorOf([&] { (void)records.InsertRecord(kSession, Record(100, 1000)); }),
              kMemoryLimitExceededError);
    EXPECT_EQ(records.RecordCount(kSession), 1000U);
    EXPECT_EQ(TagOf(records, {999, 0}, 100), 999U);
    records.Empty(kSession);
    EXPECT_EQ(memory.AllocatedTotal(), 0);
}

// ---------------------------------------------------------------------------------------------
// BLOB values in memory blocks

TABSBlobFieldInfo Field(std::int32_t fieldNo, std::size_t offset, std::uint8_t algorithm = 0,
                        std::int32_t blockSize = kDefaultBlobBlockSize) {
    TABSBlobFieldInfo field;
    field.FieldNo = fieldNo;
    field.MemoryOffset = offset;
    field.CompressionAlgorithm = algorithm;
    field.CompressionMode = algorithm == 0 ? 0 : 1;
    field.BlockSize = blockSize;
    return field;
}

Bytes Text(std::size_t length, unsigned seed = 1) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>('a' + (i * seed + i / 50) % 26);
    return bytes;
}

class MemoryBlobTest : public ::testing::Test {
protected:
    TABSMemoryManager memory;
    TABSMemoryBlobManager blobs{{Field(0, 1), Field(1, 11, 1)}, memory};

    static Bytes NewRecord() {
        Bytes record(21, 0);
        record[0] = 0x03;
        return record;
    }
    void Set(Bytes& record, std::int32_t fieldNo, const Bytes& value) {
        auto stream = blobs.OpenBlobStream(kSession, record, fieldNo, TABSBlobOpenMode::Write);
        if (!value.empty()) {
            ASSERT_EQ(stream->Write(value.data(), value.size()), value.size());
        }
        blobs.StoreBlobStream(kSession, record, *stream);
    }
    Bytes Get(Bytes& record, std::int32_t fieldNo) {
        auto stream = blobs.OpenBlobStream(kSession, record, fieldNo, TABSBlobOpenMode::Read);
        Bytes value(static_cast<std::size_t>(stream->Size()));
        if (!value.empty()) {
            EXPECT_EQ(stream->Read(value.data(), value.size()), value.size());
        }
        return value;
    }
};

TEST_F(MemoryBlobTest, AValueIsOneBlockOfCountSizeAndStoredBytes) {
    Bytes record = NewRecord();
    Set(record, 0, Text(5000));
    EXPECT_FALSE(blobs.Field(0).IsNull(record));
    EXPECT_NE(blobs.BlockHandle(record, 0), 0U);
    EXPECT_EQ(memory.AllocatedTotal(), 12 + 5000) << "block count, uncompressed size, stored bytes";
    blobs.PostRecord(kSession, record, {});
    EXPECT_EQ(Get(record, 0), Text(5000));

    Set(record, 1, Text(300000, 3));
    const TABSRawBlob raw = blobs.GetRaw(kSession, record, 1);
    EXPECT_EQ(raw.BlockCount, 3);
    EXPECT_EQ(raw.UncompressedSize, 300000);
    EXPECT_EQ(Get(record, 1), Text(300000, 3));
    blobs.DeleteRecord(kSession, record);
    EXPECT_EQ(memory.AllocatedTotal(), 0);
    EXPECT_EQ(blobs.BlockCount(), 0U);
}

TEST_F(MemoryBlobTest, AnEmptyStreamLeavesNoBlockAndSetsTheNullBit) {
    Bytes record = NewRecord();
    Set(record, 0, Text(10));
    blobs.PostRecord(kSession, record, {});
    const Bytes stored = record;
    Set(record, 0, {});
    EXPECT_TRUE(blobs.Field(0).IsNull(record));
    EXPECT_EQ(blobs.BlockHandle(record, 0), 0U);
    blobs.PostRecord(kSession, record, stored);
    EXPECT_EQ(blobs.BlockCount(), 0U) << "the old value went with the update";
    blobs.DeleteRecord(kSession, record);
    EXPECT_EQ(memory.AllocatedTotal(), 0) << "and its memory with the next change";
}

TEST_F(MemoryBlobTest, UpdatesFreeTheReplacedBlockAndCancelledEditsFreeTheirOwn) {
    Bytes stored = NewRecord();
    Set(stored, 0, Text(100));
    blobs.PostRecord(kSession, stored, {});

    Bytes edit = stored;  // a cursor's copy
    Set(edit, 0, Text(200, 2));
    EXPECT_EQ(blobs.BlockCount(), 2U) << "the stored value stays until the edit is posted";
    EXPECT_EQ(Get(stored, 0), Text(100));
    blobs.ReleaseRecordCache(edit, false);
    EXPECT_EQ(blobs.BlockCount(), 2U) << "an unposted value survives a plain release";
    blobs.ReleaseRecordCache(edit, true);
    EXPECT_EQ(blobs.BlockCount(), 1U) << "a cancelled edit frees its value";
    EXPECT_EQ(Get(stored, 0), Text(100));

    edit = stored;
    Set(edit, 0, Text(300, 3));
    Set(edit, 0, Text(400, 4));
    EXPECT_EQ(blobs.BlockCount(), 2U) << "setting twice frees the first unposted value";
    blobs.PostRecord(kSession, edit, stored);
    EXPECT_EQ(blobs.BlockCount(), 1U);
    EXPECT_EQ(Get(edit, 0), Text(400, 4));
    blobs.ReleaseRecordCache(edit, true);
    EXPECT_EQ(blobs.BlockCount(), 1U) << "a posted value is not the cursor's to free";
    blobs.DeleteRecord(kSession, edit);
    EXPECT_EQ(memory.AllocatedTotal(), 0);
}

TEST_F(MemoryBlobTest, ANullBitSetWithoutANewValueGivesTheValueBackOnUpdate) {
    Bytes stored = NewRecord();
    Set(stored, 0, Text(100));
    blobs.PostRecord(kSession, stored, {});
    Bytes buffer = stored;
    Set(buffer, 1, Text(50, 2));  // an unposted value in the other field, then NULL by its bit
    buffer[0] = 0x03;
    const Bytes before = buffer;
    blobs.PostRecord(kSession, buffer, stored);
    EXPECT_EQ(blobs.BlockHandle(buffer, 0), 0U);
    EXPECT_EQ(blobs.BlockHandle(buffer, 1), 0U);
    EXPECT_EQ(blobs.BlockCount(), 0U);
    blobs.AbortPost();
    EXPECT_EQ(blobs.BlockCount(), 2U) << "both come back when the update fails";
    buffer = before;
    blobs.PostRecord(kSession, buffer, stored);
    blobs.DeleteRecord(kSession, buffer);
    EXPECT_EQ(memory.AllocatedTotal(), 0);
}

TEST_F(MemoryBlobTest, AbortingAPostBringsBackWhatItChanged) {
    Bytes stored = NewRecord();
    Set(stored, 0, Text(100));
    blobs.PostRecord(kSession, stored, {});

    // An update that fails after its values were posted.
    Bytes edit = stored;
    Set(edit, 0, Text(200, 2));
    const Bytes beforePost = edit;
    blobs.PostRecord(kSession, edit, stored);
    EXPECT_EQ(blobs.BlockCount(), 1U);
    blobs.AbortPost();
    EXPECT_EQ(blobs.BlockCount(), 2U);
    EXPECT_EQ(Get(stored, 0), Text(100)) << "the replaced value is back";
    edit = beforePost;
    blobs.ReleaseRecordCache(edit, true);
    EXPECT_EQ(blobs.BlockCount(), 1U) << "the new value is unposted again, so a cancel frees it";

    // An insert of a copied record that fails: the copy goes again.
    Bytes copy = stored;
    blobs.PostRecord(kSession, copy, {});
    EXPECT_EQ(blobs.BlockCount(), 2U);
    blobs.AbortPost();
    EXPECT_EQ(blobs.BlockCount(), 1U);
    EXPECT_EQ(Get(stored, 0), Text(100));
}

TEST_F(MemoryBlobTest, ARecordPostedWithAnotherRecordsBlockGetsItsOwnCopy) {
    Bytes first = NewRecord();
    Set(first, 0, Text(50));
    blobs.PostRecord(kSession, first, {});
    Bytes second = first;  // e.g. a record copied as a whole
    blobs.PostRecord(kSession, second, {});
    EXPECT_NE(blobs.BlockHandle(first, 0), blobs.BlockHandle(second, 0));
    blobs.DeleteRecord(kSession, first);
    EXPECT_EQ(Get(second, 0), Text(50));
    blobs.Empty(kSession, {});
    EXPECT_EQ(memory.AllocatedTotal(), 0);
}

TEST_F(MemoryBlobTest, RawValuesAndMissingBlocks) {
    Bytes record = NewRecord();
    blobs.SetRaw(kSession, record, 1, {2, 999, {1, 2, 3}});
    EXPECT_EQ(blobs.GetRaw(kSession, record, 1), (TABSRawBlob{2, 999, {1, 2, 3}}));
    blobs.SetRaw(kSession, record, 1, {});
    EXPECT_TRUE(blobs.Field(1).IsNull(record));
    EXPECT_EQ(blobs.GetRaw(kSession, record, 1), TABSRawBlob{});

    Bytes broken = NewRecord();
    broken[0] = 0;  // not NULL, but no block
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { (void)blobs.OpenBlobStream(kSession, broken, 0, TABSBlobOpenMode::Read); }, &message),
              kNilPointerError);
    EXPECT_EQ(message, "Nil pointer occured");
    EXPECT_EQ(NativeErrorOf([&] { (void)blobs.GetRaw(kSession, broken, 0); }), kNilPointerError);

    TABSMemoryBlobManager zero({Field(0, 1, 1, 0)}, memory);
    EXPECT_EQ(NativeErrorOf([&] { (void)zero.OpenBlobStream(kSession, record, 0, TABSBlobOpenMode::Write); }),
              kMemoryBlobBlockSizeZeroError);
}

} // namespace
} // namespace kova
