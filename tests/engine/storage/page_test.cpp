// Page header layout, page type names, the modification counter, the sorted page list and the
// cache size rule.
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSPage.h"
#include "pages_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;

TEST(PageTypeName, NamesEveryTypeAndRefusesUnknownOnes) {
    const struct {
        std::uint16_t type;
        const char* name;
    } cases[] = {
        {0, "Unknown Page"},          {1, "Empty Page"},          {2, "EAM Page"},
        {3, "PFS Page"},              {4, "FileSystemDirectory Page"}, {5, "ActiveSessionList Page"},
        {6, "TableList Page"},        {7, "TableLocks Page"},     {8, "TableMetaData Page"},
        {9, "TableMostUpdated Page"}, {10, "TableRecord Page"},   {11, "TableBlob Page"},
        {12, "TableIndex Page"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(PageTypeName(c.type), c.name) << c.type;

    std::string message;
    EXPECT_EQ(NativeErrorOf([] { (void)PageTypeName(13); }, &message), 30382);
    EXPECT_EQ(message, "Unknown Page Type: (13)");
    EXPECT_EQ(NativeErrorOf([] { (void)PageTypeName(255); }), 30382);
}

TEST(ModificationCounter, IncreasesAndWrapsAfterTheLastWrittenValue) {
    const struct {
        std::int32_t before;
        std::int32_t after;
    } cases[] = {
        {0, 1},
        {41, 42},
        {0x3FFFFFFE, 0x3FFFFFFF},
        {0x7FFFFFFB, 0x7FFFFFFC},
        {0x7FFFFFFC, 0},  // the last value a written page carries
        {0x7FFFFFFD, 0},
        {0x7FFFFFFF, 0},  // given back / failed read: the next write starts again at 0
        {-5, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NextModificationCounter(c.before), c.after) << std::hex << c.before;
}

TEST(ModificationCounter, RandomStartStaysInItsRange) {
    for (int i = 0; i < 1000; ++i) {
        std::int32_t counter = RandomModificationCounter();
        ASSERT_GE(counter, 0);
        ASSERT_LE(counter, kMaxInitialModificationCounter);
    }
}

TEST(PageHeader, NewPageBytesCarryTheInitialHeader) {
    std::vector<std::uint8_t> page(4096, 0xAB);  // garbage must be cleared
    InitializePageBytes(page, static_cast<std::uint16_t>(TABSPageType::TableRecord), 0x01020304);

    std::vector<std::uint8_t> expected(4096, 0);
    const std::uint8_t header[40] = {
        'A', 'B', 'S', 'P',               // signature
        0x04, 0x03, 0x02, 0x01,           // modification counter
        10, 0,                            // page type
        0xFF, 0xFF, 0xFF, 0xFF,           // next page -1
        0, 0, 0, 0,                       // data CRC
        0, 0, 0, 0,                       // bytes 18 … 21
        0xFF, 0xFF, 0xFF, 0xFF,           // int32 at 22 = -1
        0xFF, 0xFF, 0xFF, 0xFF,           // int32 at 26 = -1
        0, 0,                             // int16 at 30
        0, 0, 0, 0, 0, 0, 0, 0,           // bytes 32 … 39
    };
    std::copy(std::begin(header), std::end(header), expected.begin());
    EXPECT_EQ(page, expected);

    TABSPageHeaderFields fields = DecodePageHeader(page);
    EXPECT_TRUE(fields.SignatureValid);
    EXPECT_EQ(fields.ModificationCounter, 0x01020304);
    EXPECT_EQ(fields.PageType, 10);
    EXPECT_EQ(fields.NextPageNo, kNoPage);
    EXPECT_EQ(fields.DataCrc, 0u);
    EXPECT_EQ(fields.CipherId, 0);

    page[0] = 'X';
    EXPECT_FALSE(DecodePageHeader(page).SignatureValid);
}

TEST(TABSPage, HeaderAccessorsWriteLittleEndianFields) {
    TABSPage page(7, 512);
    page.SetModificationCounter(0x11223344);
    page.SetPageType(12);
    page.SetNextPageNo(0x0A0B0C0D);
    const std::uint8_t* b = page.Buffer();
    EXPECT_EQ(std::vector<std::uint8_t>(b + 4, b + 14),
              (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 12, 0, 0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(page.ModificationCounter(), 0x11223344);
    EXPECT_EQ(page.PageType(), 12);
    EXPECT_EQ(page.NextPageNo(), 0x0A0B0C0D);
    EXPECT_EQ(page.PageNo(), 7);
    EXPECT_EQ(page.Bytes().size(), 512u);
}

TEST(TABSSortedPageList, KeepsPagesSortedAndFindsThemByNumber) {
    std::vector<TABSPageNo> numbers(200);
    std::iota(numbers.begin(), numbers.end(), 0);
    for (auto& n : numbers)
        n = n * 3 + 1;  // 1, 4, 7, … : gaps to look for absent numbers
    std::vector<TABSPageNo> shuffled = numbers;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));

    TABSSortedPageList list;
    for (TABSPageNo n : shuffled)
        list.Insert(std::make_unique<TABSPage>(n, 64));
    ASSERT_EQ(list.Size(), numbers.size());
    for (std::size_t i = 0; i < list.Size(); ++i)
        EXPECT_EQ(list.At(i)->PageNo(), numbers[i]);

    for (TABSPageNo n : {1, 4, 301, 598})
        ASSERT_NE(list.Find(n), nullptr) << n;
    for (TABSPageNo n : {-1, 0, 2, 3, 300, 599, 10000})
        EXPECT_EQ(list.Find(n), nullptr) << n;

    std::unique_ptr<TABSPage> taken = list.Extract(301);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->PageNo(), 301);
    EXPECT_EQ(list.Find(301), nullptr);
    EXPECT_EQ(list.Extract(301), nullptr);
    EXPECT_EQ(list.Size(), numbers.size() - 1);
    EXPECT_NE(list.Find(304), nullptr);
}

TEST(TABSSortedPageList, DropsUnusedPagesFromTheFront) {
    TABSSortedPageList list;
    for (TABSPageNo n = 0; n < 8; ++n)
        list.Insert(std::make_unique<TABSPage>(n, 64))->UseCount = (n == 0 || n == 2 || n == 5) ? 1 : 0;
    EXPECT_EQ(list.DropUnused(3), 3u);  // 1, 3 and 4 go; the pinned 0 and 2 stay
    std::vector<TABSPageNo> left;
    for (std::size_t i = 0; i < list.Size(); ++i)
        left.push_back(list.At(i)->PageNo());
    EXPECT_EQ(left, (std::vector<TABSPageNo>{0, 2, 5, 6, 7}));
    EXPECT_EQ(list.DropUnused(10), 2u);  // only 6 and 7 are unused now
    EXPECT_EQ(list.Size(), 3u);
    EXPECT_NE(list.Find(5), nullptr);
}

TEST(PageCache, CapacityFollowsMemoryAndLimit) {
    const struct {
        std::uint64_t available;
        std::uint64_t limit;
        std::size_t pages;
    } cases[] = {
        {64ull << 20, 0, 1024},                // 64 MB available → 1024 pages
        {16ull << 30, 0, 65536},               // capped at 65536 pages
        {8ull << 30, 32ull << 20, 512},        // a smaller limit counts
        {32ull << 20, 8ull << 30, 512},        // a larger limit does not
        {0, 0, 1},                             // nothing known: at least one page
        {1000, 0, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TABSPageManager::DefaultCacheCapacity(c.available, c.limit), c.pages) << c.available << " " << c.limit;
}

} // namespace
} // namespace kova
