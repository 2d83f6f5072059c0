// Free-space maps: map page numbers, growth, release, shrinking and the consistency of PFS and
// EAM bits over many allocations, on an in-memory file.
#include "engine/core/ByteOrder.h"
#include "engine/storage/ABSFreeSpace.h"
#include "pages_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

namespace kova {
namespace {

using testing::NativeErrorOf;

// Map pages of a file kept in memory. Pages beyond the size are gone, as after a truncation; pages
// inside it that were never written read as zeros, as in a file.
class MemoryMapStorage final : public TABSFreeSpaceStorage {
public:
    explicit MemoryMapStorage(std::uint16_t pageSize) : pageSize_(pageSize) {}

    void ReadMapPage(TABSPageNo pageNo, std::span<std::uint8_t> page) override {
        if (pageNo < 0 || pageNo >= total_)
            throw std::logic_error("map page read beyond the file: " + std::to_string(pageNo));
        auto it = pages_.find(pageNo);
        if (it == pages_.end())
            std::fill(page.begin(), page.end(), 0);
        else
            std::copy(it->second.begin(), it->second.end(), page.begin());
        ++reads;
    }
    void WriteMapPage(TABSPageNo pageNo, std::span<std::uint8_t> page) override {
        if (pageNo < 0 || pageNo >= total_)
            throw std::logic_error("map page written beyond the file: " + std::to_string(pageNo));
        pages_[pageNo].assign(page.begin(), page.end());
        ++writes;
    }
    void ResizeToPages(std::int32_t totalPageCount) override {
        total_ = totalPageCount;
        pages_.erase(pages_.lower_bound(totalPageCount), pages_.end());
        sizes.push_back(totalPageCount);
    }

    [[nodiscard]] std::vector<std::uint8_t> Page(TABSPageNo pageNo) const {
        auto it = pages_.find(pageNo);
        return it == pages_.end() ? std::vector<std::uint8_t>(pageSize_, 0) : it->second;
    }
    // Lays out a file of `total` pages as a sequence of allocations would have left it, with every
    // page in `used` marked in use (map pages are added).
    void Build(const TABSFreeSpaceGeometry& geometry, std::int32_t total, const std::set<std::int64_t>& used) {
        total_ = total;
        pages_.clear();
        for (std::int64_t n = 0; n < total; ++n) {
            if (!geometry.IsMapPage(n))
                continue;
            std::vector<std::uint8_t> page(pageSize_, 0);
            InitializePageBytes(page, static_cast<std::uint16_t>(geometry.IsPfsPage(n) ? TABSPageType::PFS : TABSPageType::EAM), 0);
            pages_[static_cast<TABSPageNo>(n)] = page;
        }
        auto setBit = [&](std::int64_t n) {
            std::int64_t offset = n % geometry.PfsSpan();
            pages_[static_cast<TABSPageNo>(geometry.PfsPageOf(n))][40 + offset / 8] |= static_cast<std::uint8_t>(1 << (offset % 8));
        };
        for (std::int64_t n = 0; n < total; ++n)
            if (geometry.IsMapPage(n) || used.contains(n))
                setBit(n);
        for (std::int64_t extent = 0; extent * geometry.ExtentSize() < total; ++extent) {
            bool full = true;
            for (std::int64_t n = extent * geometry.ExtentSize(); n < (extent + 1) * geometry.ExtentSize(); ++n)
                full = full && n < total && (geometry.IsMapPage(n) || used.contains(n));
            std::int64_t perEam = geometry.DataSize() * 4;
            auto& eam = pages_[static_cast<TABSPageNo>(geometry.EamPageOfGroup(extent / perEam))];
            std::int64_t slot = extent % perEam;
            eam[40 + slot / 4] |= static_cast<std::uint8_t>((full ? 3 : 1) << (2 * (slot % 4)));
        }
    }

    int reads = 0;
    int writes = 0;
    std::vector<std::int32_t> sizes;

private:
    std::uint16_t pageSize_;
    std::int32_t total_ = 0;
    std::map<TABSPageNo, std::vector<std::uint8_t>> pages_;
};

bool PfsBit(const MemoryMapStorage& storage, const TABSFreeSpaceGeometry& g, std::int64_t n) {
    std::int64_t offset = n % g.PfsSpan();
    return (storage.Page(static_cast<TABSPageNo>(g.PfsPageOf(n)))[40 + offset / 8] >> (offset % 8)) & 1;
}

int EamValue(const MemoryMapStorage& storage, const TABSFreeSpaceGeometry& g, std::int64_t extent) {
    std::int64_t perEam = g.DataSize() * 4;
    std::int64_t slot = extent % perEam;
    return (storage.Page(static_cast<TABSPageNo>(g.EamPageOfGroup(extent / perEam)))[40 + slot / 4] >> (2 * (slot % 4))) & 3;
}

TEST(FreeSpaceGeometry, MapPagesOf4096BytePagesAndExtentsOf8) {
    TABSFreeSpaceGeometry g(4096, 8);
    EXPECT_EQ(g.DataSize(), 4056);
    EXPECT_EQ(g.PfsSpan(), 32448);
    EXPECT_EQ(g.EamSpan(), 129792);
    const struct {
        std::int64_t page;
        bool pfs;
        bool eam;
    } cases[] = {
        {0, true, false},      {1, false, true},       {2, false, false},       {32447, false, false},
        {32448, true, false},  {32449, false, false},  {64896, true, false},    {97344, true, false},
        {129792, true, false}, {129793, false, true},  {129794, false, false},  {162240, true, false},
        {259584, true, false}, {259585, false, true},  {259586, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(g.IsPfsPage(c.page), c.pfs) << c.page;
        EXPECT_EQ(g.IsEamPage(c.page), c.eam) << c.page;
        EXPECT_EQ(g.IsMapPage(c.page), c.pfs || c.eam) << c.page;
    }
    EXPECT_EQ(g.EamPageOfGroup(0), 1);
    EXPECT_EQ(g.EamPageOfGroup(1), 129793);
    EXPECT_EQ(g.PfsPageOf(64895), 32448);
    EXPECT_EQ(g.EamPageOf(129791), 1);
    EXPECT_EQ(g.EamPageOf(129794), 129793);
}

TEST(FreeSpaceGeometry, EamPagesMoveOnlyWhereAPfsPageTakesTheirPlace) {
    // PageSize 48: D = 8, P = 64. With one page per extent G = 32, so only every second EAM
    // page meets a PFS page.
    TABSFreeSpaceGeometry g(48, 1);
    std::vector<std::int64_t> maps;
    for (std::int64_t n = 0; n < 200; ++n)
        if (g.IsMapPage(n))
            maps.push_back(n);
    EXPECT_EQ(maps, (std::vector<std::int64_t>{0, 1, 32, 64, 65, 96, 128, 129, 160, 192, 193}));
    EXPECT_EQ(g.EamPageOfGroup(1), 32);
    EXPECT_EQ(g.EamPageOfGroup(2), 65);
}

TEST(FreeSpaceGeometry, GrowthStep) {
    const struct {
        std::uint16_t extent;
        std::int32_t total;
        std::int32_t step;
    } cases[] = {
        {8, 0, 6}, {8, 6, 8}, {8, 79, 8}, {8, 100, 10}, {16, 100, 16}, {8, 1000, 100}, {1, 5, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TABSFreeSpaceGeometry(4096, c.extent).GrowthStep(c.total), c.step) << c.extent << "/" << c.total;
}

class FreeSpaceTest : public ::testing::Test {
protected:
    MemoryMapStorage storage{4096};
    TABSFreeSpaceGeometry geometry{4096, 8};
    TABSDatabaseFreeSpaceManager manager{storage, 4096, 8};

    // A file of `total` pages with pages 0 … lastUsed in use.
    void LoadFullFile(std::int32_t total, std::int32_t lastUsed) {
        std::set<std::int64_t> used;
        for (std::int64_t n = 0; n <= lastUsed; ++n)
            used.insert(n);
        storage.Build(geometry, total, used);
        manager.Load(total, lastUsed, false);
    }
};

TEST_F(FreeSpaceTest, EmptyFileGetsMapPagesAndHandsOutPage2First) {
    manager.Load(0, kNoPage, false);
    EXPECT_EQ(manager.AllocatePage(), 2);
    EXPECT_EQ(manager.TotalPageCount(), 6);
    EXPECT_EQ(manager.AllocatePage(), 3);
    EXPECT_EQ(manager.AllocatePage(), 4);
    EXPECT_EQ(manager.TotalPageCount(), 6);
    EXPECT_EQ(manager.LastUsedPageNo(), 4);
    EXPECT_EQ(storage.sizes, (std::vector<std::int32_t>{6}));

    std::vector<std::uint8_t> pfs = storage.Page(0);
    std::vector<std::uint8_t> eam = storage.Page(1);
    EXPECT_EQ(DecodePageHeader(pfs).PageType, static_cast<std::uint16_t>(TABSPageType::PFS));
    EXPECT_EQ(DecodePageHeader(eam).PageType, static_cast<std::uint16_t>(TABSPageType::EAM));
    EXPECT_EQ(pfs[40], 0b00011111);  // pages 0 … 4 in use
    EXPECT_TRUE(std::all_of(pfs.begin() + 41, pfs.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(eam[40], 1);  // extent 0 has free pages
    EXPECT_EQ(DecodePageHeader(pfs).NextPageNo, kNoPage);
}

TEST_F(FreeSpaceTest, FullFileGrowsByTheStep) {
    const struct {
        std::uint16_t extent;
        std::int32_t total;
        std::int32_t grownTotal;
    } cases[] = {
        {8, 100, 110},   // max(100 div 10, 8)
        {16, 100, 116},  // max(10, 16)
        {8, 50, 58},     // max(5, 8)
    };
    for (const auto& c : cases) {
        MemoryMapStorage memory(4096);
        TABSFreeSpaceGeometry g(4096, c.extent);
        std::set<std::int64_t> used;
        for (std::int64_t n = 0; n < c.total; ++n)
            used.insert(n);
        memory.Build(g, c.total, used);
        TABSDatabaseFreeSpaceManager fsm(memory, 4096, c.extent);
        fsm.Load(c.total, c.total - 1, false);
        EXPECT_EQ(fsm.AllocatePage(), c.total);
        EXPECT_EQ(fsm.TotalPageCount(), c.grownTotal) << c.extent << "/" << c.total;
        EXPECT_EQ(fsm.LastUsedPageNo(), c.total);
        EXPECT_EQ(memory.sizes, (std::vector<std::int32_t>{c.grownTotal}));
    }
}

TEST_F(FreeSpaceTest, FreedPageIsHandedOutAgainBeforeTheFileGrows) {
    LoadFullFile(100, 99);
    manager.ReleasePage(50);
    EXPECT_FALSE(manager.IsPageUsed(50));
    EXPECT_EQ(EamValue(storage, geometry, 50 / 8), 1);
    EXPECT_EQ(manager.AllocatePage(), 50);
    EXPECT_EQ(EamValue(storage, geometry, 50 / 8), 3);
    EXPECT_EQ(manager.TotalPageCount(), 100);
    EXPECT_TRUE(storage.sizes.empty());
}

TEST_F(FreeSpaceTest, TwentyFiveFreeTailPagesShrinkTheFileByTwenty) {
    LoadFullFile(100, 99);
    for (TABSPageNo n = 75; n <= 98; ++n)
        manager.ReleasePage(n);
    EXPECT_EQ(manager.TotalPageCount(), 100);  // page 99 still holds the tail
    EXPECT_EQ(manager.LastUsedPageNo(), 99);
    manager.ReleasePage(99);
    EXPECT_EQ(manager.LastUsedPageNo(), 74);
    EXPECT_EQ(manager.TotalPageCount(), 80);
    EXPECT_EQ(storage.sizes, (std::vector<std::int32_t>{80}));
    // The next page comes from the kept free pages, not from new growth.
    EXPECT_EQ(manager.AllocatePage(), 75);
    EXPECT_EQ(manager.TotalPageCount(), 80);
}

TEST_F(FreeSpaceTest, ShortFreeTailStays) {
    LoadFullFile(100, 99);
    for (TABSPageNo n = 99; n >= 91; --n)
        manager.ReleasePage(n);  // 9 free pages: less than one step of 10
    EXPECT_EQ(manager.TotalPageCount(), 100);
    EXPECT_EQ(manager.LastUsedPageNo(), 90);
}

TEST_F(FreeSpaceTest, MisuseIsRefusedWithItsCode) {
    LoadFullFile(100, 99);
    manager.ReleasePage(40);
    std::string message;
    const struct {
        const char* what;
        std::function<void()> action;
        int code;
        const char* text;
    } cases[] = {
        {"map page 0", [&] { manager.ReleasePage(0); }, 30434, "Cannot delete PFS or EAM page. PageNo=0"},
        {"map page 1", [&] { manager.ReleasePage(1); }, 30434, "Cannot delete PFS or EAM page. PageNo=1"},
        {"free page", [&] { manager.ReleasePage(40); }, 30427, "Page: 40 already free"},
        {"beyond the file", [&] { manager.ReleasePage(100); }, 30431, "Page: 100 cannot be addressed. TotalPageCount=100"},
        {"negative", [&] { manager.ReleasePage(-1); }, 30431, "Page: -1 cannot be addressed. TotalPageCount=100"},
        {"test beyond", [&] { (void)manager.IsPageUsed(100); }, 30430, "Page: 100 cannot be addressed. TotalPageCount=100"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NativeErrorOf(c.action, &message), c.code) << c.what;
        EXPECT_EQ(message, c.text) << c.what;
    }
}

TEST_F(FreeSpaceTest, HeaderBehindTheMapsNeverHandsOutAUsedPage) {
    // The maps say pages 0 … 99 are used, the header claims 49 is the last (a writer killed while
    // growing the file leaves this): growth must skip what the maps mark as used.
    LoadFullFile(100, 99);
    manager.Load(100, 49, false);
    const auto first = manager.AllocatePage();
    const auto second = manager.AllocatePage();
    EXPECT_GE(first, 100);
    EXPECT_GE(second, 100);
    EXPECT_NE(first, second);
}

TEST_F(FreeSpaceTest, MapPageOfAnotherTypeIsReported) {
    LoadFullFile(100, 99);
    std::vector<std::uint8_t> page = storage.Page(0);
    WriteU16(page.data() + 8, static_cast<std::uint16_t>(TABSPageType::TableRecord));
    storage.WriteMapPage(0, page);
    manager.Load(100, 99, false);
    std::string message;
    EXPECT_EQ(NativeErrorOf([&] { manager.ReleasePage(10); }, &message), 30428);
    EXPECT_EQ(message, "Wrong page type. Found 'TableRecord Page', but wanted: 'PFS Page'");
}

// Allocates and releases at random across several map groups and checks after every step that
// the maps say exactly what happened.
struct GeometryCase {
    std::uint16_t pageSize;
    std::uint16_t extent;
};

class FreeSpaceConsistency : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(FreeSpaceConsistency, MapsAgreeWithTheLivePagesThroughoutRandomUse) {
    const GeometryCase c = GetParam();
    MemoryMapStorage memory(c.pageSize);
    TABSFreeSpaceGeometry g(c.pageSize, c.extent);
    TABSDatabaseFreeSpaceManager fsm(memory, c.pageSize, c.extent);
    fsm.Load(0, kNoPage, false);
    std::mt19937 random(1234);
    std::set<TABSPageNo> live;

    auto verify = [&](int step) {
        const std::int32_t total = fsm.TotalPageCount();
        ASSERT_EQ(fsm.LastUsedPageNo(), live.empty() ? kNoPage : *live.rbegin()) << step;
        ASSERT_GT(total, fsm.LastUsedPageNo()) << step;
        for (std::int64_t n = 0; n < total; ++n) {
            if (g.IsMapPage(n)) {
                ASSERT_TRUE(PfsBit(memory, g, n)) << "map page " << n << " step " << step;
                auto type = DecodePageHeader(memory.Page(static_cast<TABSPageNo>(n))).PageType;
                ASSERT_EQ(type, static_cast<std::uint16_t>(g.IsPfsPage(n) ? TABSPageType::PFS : TABSPageType::EAM)) << n;
            } else {
                ASSERT_EQ(PfsBit(memory, g, n), live.contains(static_cast<TABSPageNo>(n))) << "page " << n << " step " << step;
            }
        }
        for (std::int64_t extent = 0; (extent + 1) * g.ExtentSize() <= total; ++extent) {
            bool full = true;
            for (std::int64_t n = extent * g.ExtentSize(); n < (extent + 1) * g.ExtentSize(); ++n)
                full = full && PfsBit(memory, g, n);
            ASSERT_EQ(EamValue(memory, g, extent) == 3, full) << "extent " << extent << " step " << step;
        }
    };

    for (int step = 0; step < 1500; ++step) {
        bool release = !live.empty() && (random() % 100) < (step < 800 ? 25 : 60);
        if (release) {
            auto it = live.begin();
            std::advance(it, static_cast<long>(random() % live.size()));
            TABSPageNo n = *it;
            live.erase(it);
            fsm.ReleasePage(n);
        } else {
            TABSPageNo n = fsm.AllocatePage();
            ASSERT_FALSE(g.IsMapPage(n)) << n;
            ASSERT_TRUE(live.insert(n).second) << "page " << n << " handed out twice";
            ASSERT_LT(n, fsm.TotalPageCount());
        }
        if (step % 50 == 0 || step > 1450)
            verify(step);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    // The same state read back by a second manager from storage alone.
    TABSDatabaseFreeSpaceManager again(memory, c.pageSize, c.extent);
    again.Load(fsm.TotalPageCount(), fsm.LastUsedPageNo(), false);
    for (TABSPageNo n = 0; n < fsm.TotalPageCount(); ++n)
        if (!g.IsMapPage(n)) {
            ASSERT_EQ(again.IsPageUsed(n), live.contains(n)) << n;
        }
}

// PageSize 48 gives 64 pages per PFS page so that a few hundred pages cross many groups:
// G < P (E = 1), G = P (E = 2), G = 2P (E = 4) and G = 4P (E = 8).
INSTANTIATE_TEST_SUITE_P(SmallPages, FreeSpaceConsistency,
                         ::testing::Values(GeometryCase{48, 1}, GeometryCase{48, 2}, GeometryCase{48, 4},
                                           GeometryCase{48, 8}, GeometryCase{4096, 8}),
                         [](const auto& info) {
                             return "Page" + std::to_string(info.param.pageSize) + "Extent" +
                                    std::to_string(info.param.extent);
                         });

} // namespace
} // namespace kova
