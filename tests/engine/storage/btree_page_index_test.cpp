// Page indexes: counts per page, the two-leaf search for room, position walks, the page layout of
// 673 entries per leaf, and clearing to an empty root that keeps its number.
#include "btree_test_support.h"

#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSBTreePage.h"
#include "engine/storage/ABSBTreePageIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace kova {
namespace {

using testing::ErrorCodeOf;
using testing::MemoryPageManager;

constexpr TABSSessionID kSession = 0;

class PageIndexTest : public ::testing::Test {
protected:
    MemoryPageManager pages;
    TABSBTreeRecordPageIndex index{pages};

    void SetUp() override { index.CreateRoot(kSession); }

    TABSBTreePageHeader RootHeader() {
        TABSPageHandle h = pages.GetPage(kSession, index.RootPageNo());
        return TABSBTreePageHeader::Decode(h.Data());
    }
};

TEST_F(PageIndexTest, NewRootIsAnEmptyLeafMarkedAsMadeByCreation) {
    TABSPageHandle h = pages.GetPage(kSession, index.RootPageNo());
    EXPECT_EQ(h.PageType(), static_cast<std::uint16_t>(TABSPageType::TableIndex));
    auto data = h.Data();
    EXPECT_EQ(data[0], 1);  // root
    EXPECT_EQ(data[1], 1);  // leaf
    EXPECT_EQ(ReadI32(data.data() + 2), -1);
    EXPECT_EQ(ReadI32(data.data() + 6), -1);
    EXPECT_EQ(data[10], 1);
    EXPECT_EQ(ReadU16(data.data() + 12), 4);  // K
    EXPECT_EQ(ReadU16(data.data() + 14), 0);  // n
    EXPECT_EQ(ReadU16(data.data() + 16), 0);  // X
}

TEST_F(PageIndexTest, CountsAddSetAndSubtractWithEntriesAppearingAndGoing) {
    index.AddRecord(kSession, 10, 68);
    index.AddRecord(kSession, 10, 68);
    index.AddRecord(kSession, 7, 68);
    EXPECT_EQ(index.Find(kSession, 10), std::optional<std::uint16_t>(2));
    EXPECT_EQ(index.Find(kSession, 7), std::optional<std::uint16_t>(1));
    EXPECT_FALSE(index.Find(kSession, 8).has_value());

    index.SetPageCount(kSession, 10, 5);
    EXPECT_EQ(index.Find(kSession, 10), std::optional<std::uint16_t>(5));
    index.SubtractFromPage(kSession, 10, 4);
    EXPECT_EQ(index.Find(kSession, 10), std::optional<std::uint16_t>(1));
    index.SubtractFromPage(kSession, 10, 1);
    EXPECT_FALSE(index.Find(kSession, 10).has_value()) << "a page whose count reaches 0 leaves the index";
    index.SetPageCount(kSession, 7, 0);
    EXPECT_TRUE(index.Entries(kSession).empty());
    // Setting 0 for an unlisted page changes nothing; setting a count lists it.
    index.SetPageCount(kSession, 3, 0);
    EXPECT_TRUE(index.Entries(kSession).empty());
    index.SetPageCount(kSession, 3, 9);
    EXPECT_EQ(index.Entries(kSession), (std::vector<TABSBTreePageIndex::Entry>{{3, 9}}));
}

TEST_F(PageIndexTest, FailuresLeaveTheCountsAlone) {
    index.AddToPage(kSession, 4, 68, 68);
    struct Case {
        const char* what;
        std::function<void()> action;
        int code;
    };
    const std::vector<Case> cases = {
        {"adding to a full page", [&] { index.AddRecord(kSession, 4, 68); }, 20106},
        {"adding more than fits to a new page", [&] { index.AddToPage(kSession, 5, 69, 68); }, 20106},
        {"subtracting from an unlisted page", [&] { index.SubtractFromPage(kSession, 6, 1); }, 20111},
        {"subtracting more than the count", [&] { index.SubtractFromPage(kSession, 4, 69); }, 20112},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ErrorCodeOf(c.action), c.code) << c.what;
    EXPECT_EQ(index.Entries(kSession), (std::vector<TABSBTreePageIndex::Entry>{{4, 68}}));

    TABSBTreeRecordPageIndex noRoot(pages);
    EXPECT_EQ(ErrorCodeOf([&] { noRoot.AddRecord(kSession, 1, 10); }), 20110);
}

TEST_F(PageIndexTest, StepsThroughPagesInSignedPageNumberOrder) {
    for (TABSPageNo p : {30, 5, 17, 2, 100})
        index.AddRecord(kSession, p, 10);
    EXPECT_EQ(index.First(kSession)->PageNo, 2);
    EXPECT_EQ(index.Last(kSession)->PageNo, 100);
    EXPECT_EQ(index.Next(kSession, 5)->PageNo, 17);
    EXPECT_EQ(index.Next(kSession, 6)->PageNo, 17) << "Next works from an unlisted page too";
    EXPECT_EQ(index.Prior(kSession, 17)->PageNo, 5);
    EXPECT_FALSE(index.Next(kSession, 100).has_value());
    EXPECT_FALSE(index.Prior(kSession, 2).has_value());
}

TEST_F(PageIndexTest, LeafHolds673EntriesAndThe674thSplitsTheRoot) {
    const TABSPageNo root = index.RootPageNo();
    for (TABSPageNo p = 0; p < 673; ++p)
        index.AddRecord(kSession, p + 1000, 1);
    EXPECT_TRUE(RootHeader().IsLeaf);
    EXPECT_EQ(RootHeader().EntryCount, 673);
    index.AddRecord(kSession, 5000, 1);
    EXPECT_FALSE(RootHeader().IsLeaf);
    EXPECT_EQ(RootHeader().EntryCount, 2);
    EXPECT_EQ(index.RootPageNo(), root);
    EXPECT_EQ(index.PageCount(kSession), 674u);
    index.CheckIntegrity(kSession);
}

TEST_F(PageIndexTest, ClearingKeepsTheRootNumberAndGivesTheOtherPagesBack) {
    const TABSPageNo root = index.RootPageNo();
    for (TABSPageNo p = 0; p < 3000; ++p)
        index.AddRecord(kSession, p, 1);
    EXPECT_GT(pages.UsedPageCount(), 4u);
    index.Clear(kSession);
    EXPECT_EQ(index.RootPageNo(), root);
    EXPECT_TRUE(index.Entries(kSession).empty());
    EXPECT_TRUE(RootHeader().IsLeaf);
    EXPECT_TRUE(RootHeader().MadeAsRoot);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedPageCount(), 1u);
    index.Drop(kSession);
    pages.CommitSession(kSession);
    EXPECT_EQ(pages.UsedPageCount(), 0u);
}

TEST_F(PageIndexTest, FreeSlotSearchLooksAtTheLastLeafBackwardsThenTheFirstLeaf) {
    // Three leaves' worth of full pages.
    for (TABSPageNo p = 0; p < 1500; ++p)
        index.AddToPage(kSession, p, 10, 10);
    EXPECT_FALSE(index.FindPageWithFreeSlot(kSession, 10).has_value());

    struct Case {
        const char* what;
        std::vector<TABSPageNo> notFull;
        std::optional<TABSPageNo> expected;
    };
    // Sequential inserts leave 0 … 336 in the first leaf and 1348 … 1499 in the last.
    const std::vector<Case> cases = {
        {"last leaf wins, nearest to its end", {1400, 1490, 5}, 1490},
        {"first leaf from its start", {5, 3}, 3},
        {"middle leaves are not searched", {800}, std::nullopt},
        {"first leaf when nothing else", {300}, 300},
    };
    for (const Case& c : cases) {
        for (TABSPageNo p : c.notFull)
            index.SetPageCount(kSession, p, 9);
        EXPECT_EQ(index.FindPageWithFreeSlot(kSession, 10), c.expected) << c.what;
        for (TABSPageNo p : c.notFull)
            index.SetPageCount(kSession, p, 10);
    }
}

TEST_F(PageIndexTest, LocateWalksCountsForRecordNumbers) {
    index.AddToPage(kSession, 3, 5, 68);
    index.AddToPage(kSession, 9, 2, 68);
    index.AddToPage(kSession, 4, 1, 68);
    struct Case {
        std::uint64_t ordinal;
        TABSPageNo page;
        std::uint64_t before;
    };
    for (const Case& c : std::vector<Case>{{0, 3, 0}, {4, 3, 0}, {5, 4, 5}, {6, 9, 6}, {7, 9, 6}}) {
        auto located = index.Locate(kSession, c.ordinal);
        ASSERT_TRUE(located.has_value()) << c.ordinal;
        EXPECT_EQ(located->PageEntry.PageNo, c.page) << c.ordinal;
        EXPECT_EQ(located->CountBefore, c.before) << c.ordinal;
    }
    EXPECT_FALSE(index.Locate(kSession, 8).has_value());
    EXPECT_EQ(index.CountBefore(kSession, 9), 6u);
    EXPECT_EQ(index.TotalCount(kSession), 8u);
}

TEST(BlobPageIndexTest, RoomTestKeepsTwoBytesForTheEntryCount) {
    MemoryPageManager pages;
    TABSBTreeBlobPageIndex index(pages);
    index.CreateRoot(kSession);
    constexpr std::uint32_t D = 4056;
    // A fresh page takes 22 + 4031 bytes: 4053 < 4054.
    index.AddUsedBytes(kSession, 20, 4053, D);
    EXPECT_EQ(index.Find(kSession, 20), std::optional<std::uint16_t>(4053));
    EXPECT_EQ(ErrorCodeOf([&] { index.AddUsedBytes(kSession, 21, 4054, D); }), 20106);
    index.SubtractUsedBytes(kSession, 20, 4053);
    EXPECT_FALSE(index.Find(kSession, 20).has_value());

    index.AddUsedBytes(kSession, 30, 1000, D);
    index.AddUsedBytes(kSession, 31, 3000, D);
    EXPECT_EQ(index.FindPageWithRoom(kSession, 1053, D), std::optional<TABSPageNo>(31))
        << "3000 + 1053 < 4054";
    EXPECT_EQ(index.FindPageWithRoom(kSession, 1054, D), std::optional<TABSPageNo>(30));
    EXPECT_FALSE(index.FindPageWithRoom(kSession, 3054, D).has_value());
}

TEST(PageIndexRandomTest, MatchesAMapThroughAddsAndSubtracts) {
    MemoryPageManager pages;
    TABSBTreeRecordPageIndex index(pages);
    index.CreateRoot(kSession);
    std::map<TABSPageNo, std::uint16_t> model;
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 400; ++i) {
            const TABSPageNo p = static_cast<TABSPageNo>(random() % 3000);
            if (random() % 3 != 0) {
                if (model[p] < 60) {
                    index.AddRecord(kSession, p, 60);
                    ++model[p];
                }
                if (model[p] == 0) model.erase(p);
            } else if (auto it = model.find(p); it != model.end()) {
                index.SubtractFromPage(kSession, p, 1);
                if (--it->second == 0) model.erase(it);
            }
        }
        index.CheckIntegrity(kSession);
        std::vector<TABSBTreePageIndex::Entry> expected;
        for (auto [p, c] : model) expected.push_back({p, c});
        ASSERT_EQ(index.Entries(kSession), expected) << "round " << round;
        if (round % 5 == 4)
            pages.CommitSession(kSession);
    }
}

} // namespace
} // namespace kova
