// BLOB values of database-file tables: the shared/large boundary with its exact page layout, the
// page list of large values, compressed values, the cache of a cursor's values, posting,
// deleting and emptying with pages given back, id choice, ambiguous references and damaged pages.
#include "pages_test_support.h"

#include "engine/core/ABSExcept.h"
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSBlob.h"
#include "engine/storage/ABSBlobPages.h"
#include "engine/storage/ABSCompression.h"
#include "engine/storage/ABSDiskBlobManager.h"
#include "engine/storage/ABSDiskPageManager.h"
#include "engine/storage/ABSMemEngine.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;
using Bytes = std::vector<std::uint8_t>;

constexpr TABSSessionID kSession = 0;
constexpr std::size_t kD = 4056;  // data area of a 4096-byte page

Bytes Pattern(std::size_t length, unsigned seed = 7) {
    std::mt19937 generator(seed);
    Bytes bytes(length);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(generator());
    return bytes;
}

// Text-like bytes that compress.
Bytes Compressible(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>("Korvalla Staffel 4x100m "[i % 24] + (i / 4096) % 3);
    return bytes;
}

TABSBlobFieldInfo BlobField(std::int32_t fieldNo, std::size_t offset, std::uint8_t algorithm = 0,
                            std::uint8_t mode = 0, std::int32_t blockSize = kDefaultBlobBlockSize) {
    TABSBlobFieldInfo field;
    field.FieldNo = fieldNo;
    field.MemoryOffset = offset;
    field.CompressionAlgorithm = algorithm;
    field.CompressionMode = mode;
    field.BlockSize = blockSize;
    field.Name = "F" + std::to_string(fieldNo);
    return field;
}

// A table with two BLOB fields: field 0 without compression, field 1 with ZLIB mode 1. A record
// buffer is the 1-byte null bitmap and two 10-byte fields.
class BlobManagerTest : public ::testing::Test {
protected:
    static constexpr std::size_t kRecordSize = 1 + 2 * kBlobMemoryFieldSize;

    TABSMemoryPageManager pages;
    TABSDiskBlobManager blobs{pages, {BlobField(0, 1), BlobField(1, 11, 1, 1)}};

    void SetUp() override {
        blobs.CreateIndexRoot(kSession);
        pages.CommitSession(kSession);
    }
    void TearDown() override { EXPECT_EQ(blobs.CacheEntryCount(), 0U) << "cache entries leaked by the test"; }

    static Bytes NewRecord() {
        Bytes record(kRecordSize, 0);
        record[0] = 0x03;  // both fields NULL
        return record;
    }

    // Sets a field through a cursor stream, the way a cursor does.
    void SetValue(Bytes& record, std::int32_t fieldNo, const Bytes& value) {
        auto stream = blobs.OpenBlobStream(kSession, record, fieldNo, TABSBlobOpenMode::Write);
        if (!value.empty()) {
            ASSERT_EQ(stream->Write(value.data(), value.size()), value.size());
        }
        blobs.StoreBlobStream(kSession, record, *stream);
    }

    Bytes GetValue(Bytes& record, std::int32_t fieldNo) {
        auto stream = blobs.OpenBlobStream(kSession, record, fieldNo, TABSBlobOpenMode::Read);
        Bytes value(static_cast<std::size_t>(stream->Size()));
        if (!value.empty()) {
            EXPECT_EQ(stream->Read(value.data(), value.size()), value.size());
        }
        blobs.ReleaseRecordCache(record, false);
        return value;
    }

    // Inserts a record holding `value` in field 0 and commits.
    Bytes Insert(const Bytes& value, std::int32_t fieldNo = 0) {
        Bytes record = NewRecord();
        SetValue(record, fieldNo, value);
        blobs.PostRecord(kSession, record, {});
        pages.CommitSession(kSession);
        return record;
    }

    TABSBlobReference Ref(const Bytes& record, std::int32_t fieldNo = 0) {
        return blobs.Field(fieldNo).Reference(record);
    }

    Bytes PageData(TABSPageNo pageNo) {
        TABSPageHandle page = pages.GetPage(kSession, pageNo);
        return {page.Data().begin(), page.Data().end()};
    }
};

// --- The boundary between shared and large values ----------------------------------------------

TEST_F(BlobManagerTest, ValueOf4031BytesIsSharedAndFillsAFreshPageTo4055Bytes) {
    const Bytes value = Pattern(4031);
    Bytes record = Insert(value);
    const TABSBlobReference ref = Ref(record);
    ASSERT_NE(ref.BlobID, -1) << "4031 stored bytes must be a small value";
    EXPECT_EQ(ref.BlobID, 0);

    const Bytes data = PageData(ref.PageNo);
    EXPECT_EQ(ReadU16(data.data()), 1);  // entry count
    const TABSBlobHeader header = TABSBlobHeader::Decode(std::span(data).subspan(2));
    EXPECT_EQ(header, (TABSBlobHeader{0, 0, 4031, 4031}));
    EXPECT_TRUE(std::equal(value.begin(), value.end(), data.begin() + 24));
    EXPECT_EQ(TABSSmallBlobPage::Open(pages, kSession, ref.PageNo).EndOffset(), 4055U);
    EXPECT_EQ(data[4055], 0) << "the last byte of the page stays unused";
    // The page index counts the entry's bytes without the 2-byte count.
    EXPECT_EQ(blobs.PageIndex().Find(kSession, ref.PageNo), std::optional<std::uint16_t>(22 + 4031));
    EXPECT_EQ(GetValue(record, 0), value);
}

TEST_F(BlobManagerTest, ValueOf4032BytesIsLargeWithItsListBehindTheDataOfTheSecondPage) {
    const Bytes value = Pattern(4032);
    Bytes record = Insert(value);
    const TABSBlobReference ref = Ref(record);
    ASSERT_EQ(ref.BlobID, -1) << "4032 stored bytes must be a large value";

    const Bytes first = PageData(ref.PageNo);
    EXPECT_EQ(TABSBlobHeader::Decode(first).StoredSize, 4032);
    EXPECT_EQ(TABSBlobHeader::Decode(first).UncompressedSize, 4032);
    EXPECT_EQ(TABSBlobHeader::Decode(first).BlockCount, 0);
    const TABSPageNo listPage = ReadI32(first.data() + 22);
    EXPECT_EQ(ReadU16(first.data() + 26), 8) << "list offset";
    EXPECT_EQ(ReadI32(first.data() + 28), 2) << "data page count";
    EXPECT_TRUE(std::equal(value.begin(), value.begin() + 4024, first.begin() + 32));

    const Bytes second = PageData(listPage);
    EXPECT_TRUE(std::equal(value.begin() + 4024, value.end(), second.begin()));
    EXPECT_EQ(ReadI32(second.data() + 8), ref.PageNo);
    EXPECT_EQ(ReadI32(second.data() + 12), listPage);
    EXPECT_TRUE(blobs.PageIndex().Entries(kSession).empty()) << "large values stay out of the page index";
    EXPECT_EQ(GetValue(record, 0), value);
}

TEST_F(BlobManagerTest, DataEndingExactlyAtAPageEndPutsTheListIntoANewPage) {
    const Bytes value = Pattern((kD - 32) + kD);  // the first page and one full continuation page
    Bytes record = Insert(value);
    const TABSBlobReference ref = Ref(record);
    ASSERT_EQ(ref.BlobID, -1);
    const Bytes first = PageData(ref.PageNo);
    const TABSPageNo listPage = ReadI32(first.data() + 22);
    EXPECT_EQ(ReadU16(first.data() + 26), 0);
    EXPECT_EQ(ReadI32(first.data() + 28), 2);
    EXPECT_NE(listPage, ref.PageNo);
    EXPECT_NE(listPage, ref.PageNo + 1) << "the full second data page cannot hold the list";
    const Bytes list = PageData(listPage);
    EXPECT_EQ(ReadI32(list.data()), ref.PageNo);
    EXPECT_EQ(ReadI32(list.data() + 4), ref.PageNo + 1);
    EXPECT_EQ(GetValue(record, 0), value);
    EXPECT_EQ(pages.UsedCount(), 1 + 3) << "index root, two data pages, one list page";
}

TEST_F(BlobManagerTest, LongPageListsAreChainedThroughTheNextPageField) {
    // 1100 data pages; the data ends 100 bytes before the end of the last one, so the list takes
    // 25 entries there, 1014 in the next list page and the remaining 61 in a third.
    const std::size_t size = (kD - 32) + 1098 * kD + (kD - 100);
    const Bytes value = Pattern(size, 3);
    Bytes record = Insert(value);
    const TABSBlobReference ref = Ref(record);
    ASSERT_EQ(ref.BlobID, -1);

    const Bytes first = PageData(ref.PageNo);
    ASSERT_EQ(ReadI32(first.data() + 28), 1100);
    const TABSPageNo lastData = ref.PageNo + 1099;
    EXPECT_EQ(ReadI32(first.data() + 22), lastData);
    EXPECT_EQ(ReadU16(first.data() + 26), kD - 100);

    std::vector<TABSPageNo> listed;
    std::vector<std::size_t> perPage;
    TABSPageNo current = lastData;
    std::size_t offset = kD - 100;
    while (current != kNoPage && listed.size() < 1100) {
        TABSPageHandle page = pages.GetPage(kSession, current);
        const std::size_t take = std::min<std::size_t>((kD - offset) / 4, 1100 - listed.size());
        for (std::size_t i = 0; i < take; ++i)
            listed.push_back(ReadI32(page.Data().data() + offset + 4 * i));
        perPage.push_back(take);
        current = page.NextPageNo();
        offset = 0;
    }
    EXPECT_EQ(perPage, (std::vector<std::size_t>{25, 1014, 61}));
    EXPECT_EQ(current, kNoPage) << "the last list page ends the chain";
    std::vector<TABSPageNo> expected(1100);
    std::iota(expected.begin(), expected.end(), ref.PageNo);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(GetValue(record, 0), value);

    blobs.DeleteRecord(kSession, record);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 1) << "data pages and both extra list pages are given back";
}

TEST_F(BlobManagerTest, ValuesOfManySizesRoundTripThroughBothFields) {
    const std::size_t sizes[] = {1, 2, 100, 4030, 4031, 4032, 4033, 4056, 8080, 8081, 50000, 250000};
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const Bytes plain = Pattern(size, static_cast<unsigned>(size));
        const Bytes text = Compressible(size);
        Bytes record = NewRecord();
        SetValue(record, 0, plain);
        SetValue(record, 1, text);
        blobs.PostRecord(kSession, record, {});
        pages.CommitSession(kSession);
        EXPECT_EQ(record[0], 0) << "both fields hold values";
        EXPECT_EQ(GetValue(record, 0), plain);
        EXPECT_EQ(GetValue(record, 1), text);
        blobs.DeleteRecord(kSession, record);
        pages.CommitSession(kSession);
        EXPECT_EQ(pages.UsedCount(), 1) << "everything but the index root is given back";
        EXPECT_TRUE(blobs.PageIndex().Entries(kSession).empty());
    }
}

// --- Compressed values --------------------------------------------------------------------------

TEST_F(BlobManagerTest, CompressedValueOf250000BytesKeepsItsBlocksAndSizes) {
    const Bytes value = Compressible(250000);
    Bytes record = Insert(value, 1);
    const TABSRawBlob raw = blobs.GetRaw(kSession, record, 1);
    blobs.ReleaseRecordCache(record, false);
    EXPECT_EQ(raw.BlockCount, 3);
    EXPECT_EQ(raw.UncompressedSize, 250000);
    EXPECT_LT(raw.StoredSize(), 250000) << "the text compresses";

    // Walk the block headers in the stored bytes: 102 400, 102 400 and 45 200 plain bytes.
    std::vector<std::int32_t> plainSizes;
    std::size_t at = 0;
    while (at + kCompressedBlockHeaderSize <= raw.StoredBytes.size()) {
        plainSizes.push_back(ReadI32(raw.StoredBytes.data() + at + 4));
        at += static_cast<std::size_t>(ReadI64(raw.StoredBytes.data() + at + 12));
    }
    EXPECT_EQ(at, raw.StoredBytes.size());
    EXPECT_EQ(plainSizes, (std::vector<std::int32_t>{102400, 102400, 45200}));

    // The header in the page carries the stored size and the plain length a cursor reads.
    const TABSBlobReference ref = Ref(record, 1);
    const Bytes data = PageData(ref.PageNo);
    const std::size_t headerAt = ref.IsLarge() ? 0 : 2;
    EXPECT_EQ(TABSBlobHeader::Decode(std::span(data).subspan(headerAt)),
              (TABSBlobHeader{ref.IsLarge() ? std::int16_t{-1} : ref.BlobID, 3, raw.StoredSize(), 250000}));
    EXPECT_EQ(GetValue(record, 1), value);

    blobs.DeleteRecord(kSession, record);
    pages.CommitSession(kSession);
}

TEST_F(BlobManagerTest, AppendingToACompressedValueThroughAReadWriteStreamKeepsEveryByte) {
    Bytes value = Compressible(150000);
    Bytes record = Insert(value, 1);
    const Bytes stored = record;
    const Bytes tail = Pattern(70000, 11);
    {
        auto stream = blobs.OpenBlobStream(kSession, record, 1, TABSBlobOpenMode::ReadWrite);
        ASSERT_TRUE(stream->Seek(stream->Size()));
        ASSERT_EQ(stream->Write(tail.data(), tail.size()), tail.size());
        blobs.StoreBlobStream(kSession, record, *stream);
    }
    const TABSBlobReference before = Ref(record, 1);
    blobs.PostRecord(kSession, record, stored);
    pages.CommitSession(kSession);
    EXPECT_NE(Ref(record, 1), before) << "a changed value is written anew";
    value.insert(value.end(), tail.begin(), tail.end());
    EXPECT_EQ(GetValue(record, 1), value);
    blobs.DeleteRecord(kSession, record);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 1);
}

// --- Posting, updating, deleting ---------------------------------------------------------------

TEST_F(BlobManagerTest, UpdatingAValueWritesItAnewAndGivesTheOldPagesBack) {
    Bytes record = Insert(Pattern(20000));
    ASSERT_EQ(Ref(record).BlobID, -1);
    EXPECT_EQ(pages.UsedCount(), 1 + 5 + 0) << "4024 + 4 × 4056 ≥ 20000: five data pages, list inside";

    const Bytes stored = record;
    const Bytes small = Pattern(300, 5);
    SetValue(record, 0, small);
    blobs.PostRecord(kSession, record, stored);
    pages.CommitSession(kSession);
    EXPECT_NE(Ref(record).BlobID, -1);
    EXPECT_EQ(pages.UsedCount(), 1 + 1) << "the large value's pages went back; one shared page";
    EXPECT_EQ(GetValue(record, 0), small);
}

TEST_F(BlobManagerTest, SettingAnEmptyValueMakesTheFieldNullAndPostingDeletesTheOldValue) {
    Bytes record = Insert(Pattern(1000));
    const Bytes stored = record;
    SetValue(record, 0, {});
    EXPECT_TRUE(blobs.Field(0).IsNull(record));
    blobs.PostRecord(kSession, record, stored);
    pages.CommitSession(kSession);
    EXPECT_EQ(Ref(record), (TABSBlobReference{-1, -1}));
    EXPECT_TRUE(blobs.Field(0).IsNull(record));
    EXPECT_EQ(pages.UsedCount(), 1);
    EXPECT_TRUE(GetValue(record, 0).empty());
}

TEST_F(BlobManagerTest, PostingUntouchedFieldsLeavesReferencesAndPagesAsTheyWere) {
    Bytes record = NewRecord();
    SetValue(record, 0, Pattern(700));
    SetValue(record, 1, Compressible(30000));
    blobs.PostRecord(kSession, record, {});
    pages.CommitSession(kSession);
    const Bytes before = record;
    const auto used = pages.UsedCount();

    (void)GetValue(record, 0);  // reading loads a clean entry; it is not dirty
    blobs.EnsureLoaded(kSession, record, 1);
    blobs.PostRecord(kSession, record, before);
    pages.CommitSession(kSession);
    blobs.ReleaseRecordCache(record, false);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 7, record.begin()));
    EXPECT_TRUE(std::equal(before.begin() + 11, before.begin() + 17, record.begin() + 11));
    EXPECT_EQ(pages.UsedCount(), used);
    blobs.DeleteRecord(kSession, record);
    pages.CommitSession(kSession);
}

TEST_F(BlobManagerTest, UntouchedFieldsOfAnUpdateFollowTheStoredRecordNotTheBuffer) {
    struct Case {
        const char* what;
        std::function<void(Bytes& buffer, const Bytes& other)> prepare;
        bool keepsValue;  // the stored record keeps its value
    };
    const Case cases[] = {
        {"a stale reference in the buffer",
         [](Bytes& buffer, const Bytes& other) { std::copy(other.begin() + 1, other.begin() + 7, buffer.begin() + 1); },
         true},
        {"the null bit set without a new value", [](Bytes& buffer, const Bytes&) { buffer[0] |= 0x01; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes stored = Insert(Pattern(700, 1));
        Bytes other = Insert(Pattern(800, 2));
        Bytes buffer = stored;
        c.prepare(buffer, other);
        blobs.PostRecord(kSession, buffer, stored);
        pages.CommitSession(kSession);
        if (c.keepsValue) {
            EXPECT_EQ(Ref(buffer), Ref(stored));
            EXPECT_EQ(GetValue(buffer, 0), Pattern(700, 1));
        } else {
            EXPECT_EQ(Ref(buffer), (TABSBlobReference{-1, -1}));
            EXPECT_TRUE(blobs.Field(0).IsNull(buffer));
        }
        EXPECT_EQ(GetValue(other, 0), Pattern(800, 2)) << "the other record's value is untouched";
        blobs.DeleteRecord(kSession, buffer);
        blobs.DeleteRecord(kSession, other);
        pages.CommitSession(kSession);
        EXPECT_EQ(pages.UsedCount(), 1) << "nothing is left behind";
    }
}

TEST_F(BlobManagerTest, InsertingACopiedRecordGivesItValuesOfItsOwn) {
    Bytes original = NewRecord();
    SetValue(original, 0, Pattern(9000, 1));  // large
    SetValue(original, 1, Compressible(3000));  // small after compression
    blobs.PostRecord(kSession, original, {});
    pages.CommitSession(kSession);

    Bytes copy = original;                 // both fields still name the original's values
    SetValue(copy, 1, Compressible(5000));  // one of them changed before the insert
    blobs.PostRecord(kSession, copy, {});
    pages.CommitSession(kSession);
    EXPECT_NE(Ref(copy, 0), Ref(original, 0));
    EXPECT_NE(Ref(copy, 1), Ref(original, 1));
    EXPECT_EQ(GetValue(original, 1), Compressible(3000)) << "inserting the copy deleted nothing";

    blobs.DeleteRecord(kSession, original);
    pages.CommitSession(kSession);
    EXPECT_EQ(GetValue(copy, 0), Pattern(9000, 1));
    EXPECT_EQ(GetValue(copy, 1), Compressible(5000));
    blobs.DeleteRecord(kSession, copy);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 1);
}

TEST_F(BlobManagerTest, AbortingAPostKeepsTheUnpostedValuesForASecondTry) {
    Bytes record = NewRecord();
    SetValue(record, 0, Pattern(5000));
    SetValue(record, 1, Compressible(20000));
    const Bytes before = record;
    blobs.PostRecord(kSession, record, {});
    EXPECT_EQ(blobs.CacheEntryCount(), 0U);
    // The change fails after the post: the session rolls back and the caller restores its buffer.
    pages.RollbackSession(kSession);
    blobs.AbortPost();
    record = before;
    EXPECT_EQ(pages.UsedCount(), 1) << "the written pages went with the rollback";
    EXPECT_EQ(blobs.CacheEntryCount(), 2U);
    blobs.PostRecord(kSession, record, {});
    pages.CommitSession(kSession);
    EXPECT_EQ(GetValue(record, 0), Pattern(5000));
    EXPECT_EQ(GetValue(record, 1), Compressible(20000));
    blobs.DeleteRecord(kSession, record);
    pages.CommitSession(kSession);
}

TEST_F(BlobManagerTest, DeletingARecordDeletesTheValuesOfAllItsNonNullFields) {
    Bytes a = NewRecord();
    SetValue(a, 0, Pattern(50));
    SetValue(a, 1, Compressible(9000));
    blobs.PostRecord(kSession, a, {});
    Bytes b = Insert(Pattern(60, 2));  // shares the page of a's first value
    EXPECT_EQ(Ref(b).PageNo, Ref(a).PageNo);
    blobs.DeleteRecord(kSession, a);
    pages.CommitSession(kSession);
    EXPECT_EQ(Ref(a), (TABSBlobReference{-1, -1}));
    EXPECT_EQ(Ref(a, 1), (TABSBlobReference{-1, -1}));
    EXPECT_EQ(blobs.PageIndex().Entries(kSession),
              (std::vector<TABSBTreePageIndex::Entry>{{Ref(b).PageNo, static_cast<std::uint16_t>(22 + 60)}}));
    EXPECT_EQ(GetValue(b, 0), Pattern(60, 2));
    blobs.DeleteRecord(kSession, b);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 1) << "the last value of the shared page gives the page back";
    EXPECT_TRUE(blobs.PageIndex().Entries(kSession).empty());
}

TEST_F(BlobManagerTest, SmallValuesSharePagesAndDeletingMovesTheFollowingEntriesDown) {
    std::vector<Bytes> records;
    for (int i = 0; i < 3; ++i)
        records.push_back(Insert(Pattern(100 + static_cast<std::size_t>(i), static_cast<unsigned>(i))));
    const TABSPageNo page = Ref(records[0]).PageNo;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Ref(records[static_cast<std::size_t>(i)]), (TABSBlobReference{page, static_cast<std::int16_t>(i)}));
    }
    EXPECT_EQ(blobs.PageIndex().Find(kSession, page), std::optional<std::uint16_t>(22 * 3 + 100 + 101 + 102));

    blobs.DeleteRecord(kSession, records[1]);
    pages.CommitSession(kSession);
    const Bytes data = PageData(page);
    EXPECT_EQ(ReadU16(data.data()), 2);
    EXPECT_EQ(ReadI16(data.data() + 2), 0);
    EXPECT_EQ(ReadI16(data.data() + 2 + 22 + 100), 2) << "entry 2 moved down behind entry 0";
    EXPECT_TRUE(std::all_of(data.begin() + 2 + 22 * 2 + 100 + 102, data.end(), [](std::uint8_t b) { return b == 0; }))
        << "no bytes of the deleted value stay behind";
    EXPECT_EQ(GetValue(records[2], 0), Pattern(102, 2));
    EXPECT_EQ(blobs.PageIndex().Find(kSession, page), std::optional<std::uint16_t>(22 * 2 + 100 + 102));

    // The next value takes the first id from the entry count upwards that is free: 2 is taken.
    Bytes next = Insert(Pattern(10));
    EXPECT_EQ(Ref(next), (TABSBlobReference{page, 3}));
    for (Bytes* r : {&records[0], &records[2], &next})
        blobs.DeleteRecord(kSession, *r);
    pages.CommitSession(kSession);
}

TEST_F(BlobManagerTest, AValueThatDoesNotFitTheFoundPageGoesToANewPage) {
    Bytes a = Insert(Pattern(3000));
    Bytes b = Insert(Pattern(3500, 2));  // 3022 + 3522 leaves no room on a's page
    EXPECT_NE(Ref(a).PageNo, Ref(b).PageNo);
    Bytes c = Insert(Pattern(900, 3));  // not on b's page (3522 + 922), but on a's (3022 + 922 < 4054)
    EXPECT_EQ(Ref(c).PageNo, Ref(a).PageNo) << "the search goes on backwards through the leaf";
    Bytes d = Insert(Pattern(200, 4));  // the last page with room is b's: 3522 + 222 < 4054
    EXPECT_EQ(Ref(d).PageNo, Ref(b).PageNo);
    Bytes e = Insert(Pattern(400, 5));  // neither page has room: a new one
    EXPECT_NE(Ref(e).PageNo, Ref(a).PageNo);
    EXPECT_NE(Ref(e).PageNo, Ref(b).PageNo);
    for (Bytes* r : {&a, &b, &c, &d, &e})
        blobs.DeleteRecord(kSession, *r);
    pages.CommitSession(kSession);
}

TEST_F(BlobManagerTest, EmptyGivesEveryPageBackAndKeepsTheIndexRoot) {
    std::vector<Bytes> records;
    for (std::size_t size : {10U, 5000U, 200U, 12000U, 4031U})
        records.push_back(Insert(Pattern(size)));
    const TABSPageNo root = blobs.IndexRoot();
    blobs.Empty(kSession, [&](const TABSRecordVisitor& visit) {
        for (Bytes& r : records)
            visit(r);
    });
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 1);
    EXPECT_EQ(blobs.IndexRoot(), root);
    EXPECT_TRUE(blobs.PageIndex().Entries(kSession).empty());

    blobs.Drop(kSession, [](const TABSRecordVisitor&) {});
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 0);
    EXPECT_EQ(blobs.IndexRoot(), kNoPage);
}

// --- References ---------------------------------------------------------------------------------

TEST_F(BlobManagerTest, ReferencesToPageZeroOrMinusOneReadAsNoValue) {
    for (TABSPageNo pageNo : {0, -1}) {
        Bytes record = NewRecord();
        record[0] = 0;  // not NULL, but no page
        blobs.Field(0).SetReference(record, {pageNo, 3});
        auto stream = blobs.OpenBlobStream(kSession, record, 0, TABSBlobOpenMode::Read);
        EXPECT_EQ(stream->Size(), 0) << pageNo;
        EXPECT_EQ(blobs.GetRaw(kSession, record, 0), TABSRawBlob{}) << pageNo;
        blobs.DeleteRecord(kSession, record);
        EXPECT_EQ(blobs.CacheEntryCount(), 0U);
        EXPECT_EQ(pages.UsedCount(), 1);
    }
}

TEST_F(BlobManagerTest, NullFieldsReadAsEmptyWithoutTouchingPages) {
    Bytes record = NewRecord();
    blobs.Field(0).SetReference(record, {12345, 1});  // garbage, but the null bit wins
    EXPECT_EQ(blobs.GetRaw(kSession, record, 0), TABSRawBlob{});
    auto stream = blobs.OpenBlobStream(kSession, record, 0, TABSBlobOpenMode::Read);
    EXPECT_EQ(stream->Size(), 0);
    blobs.DeleteRecord(kSession, record);  // skipped: nothing to delete
    EXPECT_EQ(pages.UsedCount(), 1);
}

TEST_F(BlobManagerTest, ReferenceID255IsDecidedByTheFirstPage) {
    // A large value whose reference was written with 255 in place of -1.
    Bytes large = Insert(Pattern(9000));
    blobs.Field(0).SetReference(large, {Ref(large).PageNo, 255});
    EXPECT_EQ(GetValue(large, 0), Pattern(9000));

    // A small value that really has id 255: its page is patched to carry that id.
    Bytes small = Insert(Pattern(40, 4));
    const TABSPageNo page = Ref(small).PageNo;
    {
        TABSPageHandle handle = pages.GetPage(kSession, page);
        WriteI16(handle.MutableData().data() + 2, 255);
    }
    pages.CommitSession(kSession);
    blobs.Field(0).SetReference(small, {page, 255});
    EXPECT_EQ(GetValue(small, 0), Pattern(40, 4));

    blobs.DeleteRecord(kSession, large);
    blobs.DeleteRecord(kSession, small);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedCount(), 1) << "both were deleted the way their first page showed";
}

TEST_F(BlobManagerTest, DeletingAnIDThatIsNotOnItsPageFails) {
    Bytes record = Insert(Pattern(30));
    Bytes wrong = record;
    blobs.Field(0).SetReference(wrong, {Ref(record).PageNo, 7});
    EXPECT_EQ(NativeErrorOf([&] { blobs.DeleteRecord(kSession, wrong); }), kBlobNotFoundError);
    EXPECT_EQ(NativeErrorOf([&] { (void)blobs.ReadValue(kSession, TABSBlobReference{Ref(record).PageNo, 7}); }),
              kBlobNotFoundError);
    pages.RollbackSession(kSession);
    blobs.DeleteRecord(kSession, record);
    pages.CommitSession(kSession);
}

// --- The cache of a cursor's values ----------------------------------------------------------------

TEST_F(BlobManagerTest, DirtyValuesSurviveANonForcedReleaseAndGoWithAForcedOne) {
    Bytes record = NewRecord();
    SetValue(record, 0, Pattern(10));
    blobs.ReleaseRecordCache(record, false);
    EXPECT_EQ(blobs.CacheEntryCount(), 1U);
    EXPECT_EQ(NativeErrorOf([&] { blobs.Close(); }), kBlobCacheNotReleasedError);
    EXPECT_EQ(blobs.GetRaw(kSession, record, 0).StoredBytes, Pattern(10));
    blobs.ReleaseRecordCache(record, true);
    EXPECT_EQ(blobs.CacheEntryCount(), 0U);
    EXPECT_EQ(blobs.Field(0).CacheHandle(record), 0U);
    EXPECT_EQ(NativeErrorOf([&] { blobs.Close(); }), 0);
}

TEST_F(BlobManagerTest, AStaleCopyOfABufferReadsTheStoredValueNotAnotherEntry) {
    Bytes record = Insert(Pattern(10));
    SetValue(record, 0, Pattern(20, 9));  // an edit: dirty entry
    const Bytes stale = record;           // a copy that carries the entry's handle
    blobs.ReleaseRecordCache(record, true);  // the edit is cancelled
    EXPECT_EQ(blobs.Field(0).CacheHandle(record), 0U);
    Bytes other = NewRecord();
    SetValue(other, 0, Pattern(30, 8));
    EXPECT_NE(blobs.Field(0).CacheHandle(stale), blobs.Field(0).CacheHandle(other)) << "handles are not reused at once";
    Bytes copy = stale;
    EXPECT_EQ(blobs.GetRaw(kSession, copy, 0).StoredBytes, Pattern(10)) << "the handle reads as none";
    blobs.ReleaseRecordCache(copy, false);
    EXPECT_EQ(blobs.Field(0).CacheHandle(copy), 0U);
    blobs.ReleaseRecordCache(other, true);
    blobs.DeleteRecord(kSession, record);
    pages.CommitSession(kSession);
}

TEST_F(BlobManagerTest, RawValuesCopyWithoutRecompressing) {
    Bytes source = Insert(Compressible(120000), 1);
    const TABSRawBlob raw = blobs.GetRaw(kSession, source, 1);
    blobs.ReleaseRecordCache(source, false);
    Bytes target = NewRecord();
    blobs.SetRaw(kSession, target, 1, raw);
    EXPECT_FALSE(blobs.Field(1).IsNull(target));
    blobs.PostRecord(kSession, target, {});
    pages.CommitSession(kSession);
    EXPECT_EQ(blobs.GetRaw(kSession, target, 1), raw);
    blobs.ReleaseRecordCache(target, false);
    EXPECT_EQ(GetValue(target, 1), Compressible(120000));

    Bytes none = NewRecord();
    blobs.SetRaw(kSession, none, 1, {});
    EXPECT_TRUE(blobs.Field(1).IsNull(none));
    blobs.ReleaseRecordCache(none, true);
    blobs.DeleteRecord(kSession, source);
    blobs.DeleteRecord(kSession, target);
    pages.CommitSession(kSession);
}

TEST_F(BlobManagerTest, ABlockSizeOfZeroIsRefusedWhenAStreamIsOpened) {
    TABSDiskBlobManager zero(pages, {BlobField(0, 1, 1, 1, 0)});
    Bytes record = NewRecord();
    EXPECT_EQ(NativeErrorOf([&] { (void)zero.OpenBlobStream(kSession, record, 0, TABSBlobOpenMode::Write); }),
              kBlobBlockSizeZeroError);
    EXPECT_EQ(NativeErrorOf([&] { (void)blobs.OpenBlobStream(kSession, record, 5, TABSBlobOpenMode::Read); }),
              kBlobNotABlobFieldError);
}

TEST_F(BlobManagerTest, AFailedOpenReleasesTheFieldsCache) {
    Bytes record = NewRecord();
    record[0] = 0;
    blobs.Field(0).SetReference(record, {999, 0});  // a page that does not exist
    EXPECT_NE(NativeErrorOf([&] { (void)blobs.OpenBlobStream(kSession, record, 0, TABSBlobOpenMode::Read); }), 0);
    EXPECT_EQ(blobs.CacheEntryCount(), 0U);
}

// --- Damaged pages ------------------------------------------------------------------------------

TEST(DamagedBlobPageTest, DamagedPagesRaiseInsteadOfReadingPastThem) {
    struct Case {
        const char* what;
        std::size_t valueSize;
        std::size_t offset;  // in the data area of the value's first page
        std::int64_t patch;
        int width;
    };
    const Case cases[] = {
        {"shared entry larger than its page", 100, 2 + 6, 5000, 8},
        {"shared entry with a negative size", 100, 2 + 6, -1, 8},
        {"entry count beyond the page", 100, 0, 200, 2},
        {"large value with a huge page count", 9000, 28, 0x7FFFFFF0, 4},
        {"large value larger than its pages", 9000, 6, 9000 + 3 * 4056, 8},
        {"large value whose list page is -1", 9000, 22, -1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TABSMemoryPageManager pages;
        TABSDiskBlobManager blobs(pages, {BlobField(0, 1)});
        blobs.CreateIndexRoot(kSession);
        Bytes record(11, 0);
        blobs.SetRaw(kSession, record, 0, {0, static_cast<std::int64_t>(c.valueSize), Pattern(c.valueSize)});
        blobs.PostRecord(kSession, record, {});
        pages.CommitSession(kSession);
        const TABSPageNo first = blobs.Field(0).Reference(record).PageNo;
        {
            TABSPageHandle page = pages.GetPage(kSession, first);
            std::uint8_t* at = page.MutableData().data() + c.offset;
            if (c.width == 8)
                WriteI64(at, c.patch);
            else if (c.width == 4)
                WriteI32(at, static_cast<std::int32_t>(c.patch));
            else
                WriteU16(at, static_cast<std::uint16_t>(c.patch));
        }
        pages.CommitSession(kSession);
        EXPECT_EQ(NativeErrorOf([&] { (void)blobs.GetRaw(kSession, record, 0); }), kBlobDamagedError);
        EXPECT_EQ(NativeErrorOf([&] { blobs.DeleteRecord(kSession, record); }), kBlobDamagedError);
        pages.RollbackSession(kSession);
        EXPECT_EQ(blobs.CacheEntryCount(), 0U);
    }
}

// --- Shared page operations ----------------------------------------------------------------------

TEST(SmallBlobPageTest, IdsStartAtTheEntryCountAndSkipIdsInUse) {
    TABSMemoryPageManager pages;
    TABSSmallBlobPage page = TABSSmallBlobPage::Create(pages, kSession);
    const TABSRawBlob value{0, 1, {42}};
    std::vector<std::int16_t> ids;
    for (int i = 0; i < 4; ++i)
        ids.push_back(page.Append(value, 0));
    EXPECT_EQ(ids, (std::vector<std::int16_t>{0, 1, 2, 3}));
    page.Remove(0);
    page.Remove(2);
    EXPECT_EQ(page.EntryCount(), 2);
    EXPECT_EQ(page.ChooseID(), 2) << "count 2, and 2 is free again";
    page.Append(value, 0);
    EXPECT_EQ(page.ChooseID(), 4) << "count 3 is taken, 4 is the next free id";
    EXPECT_EQ(NativeErrorOf([&] { page.Remove(17); }), kBlobNotFoundError);
    EXPECT_EQ(NativeErrorOf([&] { (void)page.Read(17); }), kBlobNotFoundError);
}

TEST(SmallBlobPageTest, AnEntryThatDoesNotFitTheChosenPageFailsWithTheFullMessage) {
    TABSMemoryPageManager pages;
    TABSSmallBlobPage page = TABSSmallBlobPage::Create(pages, kSession);
    page.Append(TABSRawBlob{0, 4000, Pattern(4000)}, 0);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { page.Append(TABSRawBlob{0, 100, Pattern(100)}, 4022); }, &message),
              kBlobCannotAddError);
    EXPECT_EQ(message,
              "Cannot add blob. Page is full: BlobCount=1, BlobOffset=4024, BlobSize=122, PageDataSize=4056, "
              "SizeInBlobPageIndex=4022");
}

// --- A database file ---------------------------------------------------------------------------------

TEST(DiskBlobFileTest, ValuesSurviveClosingAndReopeningAnEncipheredFile) {
    testing::ScratchDirectory dir;
    const std::string path = dir.File("blobs.abs");
    const TABSPassword password{"geheim", 0};
    const Bytes small = Pattern(4031, 1);
    const Bytes large = Pattern(4032, 2);
    const Bytes text = Compressible(250000);
    Bytes record(1 + 3 * kBlobMemoryFieldSize, 0);
    record[0] = 0x07;
    std::vector<TABSBlobFieldInfo> fields{BlobField(0, 1), BlobField(1, 11), BlobField(2, 21, 1, 1)};
    TABSPageNo root = kNoPage;
    {
        TABSDiskPageManager file;
        file.CreateDatabaseFile(path, password);
        TABSDiskBlobManager blobs(file, fields);
        root = blobs.CreateIndexRoot(kSession);
        blobs.SetRaw(kSession, record, 0, {0, 4031, small});
        blobs.SetRaw(kSession, record, 1, {0, 4032, large});
        auto stream = blobs.OpenBlobStream(kSession, record, 2, TABSBlobOpenMode::Write);
        ASSERT_EQ(stream->Write(text.data(), text.size()), text.size());
        blobs.StoreBlobStream(kSession, record, *stream);
        blobs.PostRecord(kSession, record, {});
        file.CommitSession(kSession, true);
        blobs.Close();
        file.CloseDatabaseFile();
    }
    for (std::size_t i = 0; i < 3; ++i)
        std::fill_n(record.begin() + 7 + static_cast<std::ptrdiff_t>(i * 10), 4, 0xEE);  // stale handles
    TABSDiskPageManager file;
    (void)file.OpenDatabaseFile(path, password, {});
    TABSDiskBlobManager blobs(file, fields, root);
    EXPECT_EQ(blobs.GetRaw(kSession, record, 0).StoredBytes, small);
    EXPECT_EQ(blobs.GetRaw(kSession, record, 1).StoredBytes, large);
    auto stream = blobs.OpenBlobStream(kSession, record, 2, TABSBlobOpenMode::Read);
    Bytes read(static_cast<std::size_t>(stream->Size()));
    ASSERT_EQ(stream->Read(read.data(), read.size()), read.size());
    EXPECT_EQ(read, text);
    blobs.ReleaseRecordCache(record, false);
    blobs.Close();
}

} // namespace
} // namespace kova
