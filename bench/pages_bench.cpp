// Throughput of page writes and reads through the page manager, on a file in /tmp, without and
// with encipherment (cipher 0). Reported as pages/s and bytes/s.
//
//   PageWrite       change every page of a 1024-page table and commit (pure page writes)
//   PageReadDisk    read every page with a one-page cache: each read goes to the file (and deciphers)
//   PageReadCached  read every page from a warm cache
//   PageAllocate    make 256 new pages and commit, then give them back
#include "engine/storage/ABSDiskPageManager.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace kova {
namespace {

constexpr int kPages = 1024;
constexpr TABSSessionID kSession = 1;

struct BenchDatabase {
    std::string path;
    TABSDiskPageManager manager;
    std::vector<TABSPageNo> pages;

    explicit BenchDatabase(bool encrypted) {
        path = "/tmp/kova_pages_bench_" + std::to_string(::getpid()) + (encrypted ? "_enc" : "_plain") + ".abs";
        TABSPassword password{encrypted ? "bench-password" : "", 0};
        manager.CreateDatabaseFile(path, password);
        for (int i = 0; i < kPages; ++i) {
            TABSPageHandle page = manager.AddPage(kSession, TABSPageType::TableRecord);
            page.MutableData()[0] = static_cast<std::uint8_t>(i);
            pages.push_back(page.PageNo());
        }
        manager.CommitSession(kSession);
    }
    ~BenchDatabase() {
        manager.CloseDatabaseFile();
        ::unlink(path.c_str());
    }
};

void Report(benchmark::State& state, std::int64_t pagesPerIteration, std::size_t pageSize) {
    const std::int64_t pages = static_cast<std::int64_t>(state.iterations()) * pagesPerIteration;
    state.SetItemsProcessed(pages);
    state.SetBytesProcessed(pages * static_cast<std::int64_t>(pageSize));
    state.counters["pages/s"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
    state.SetLabel(state.range(0) != 0 ? "cipher 0" : "plain");
}

void PageWrite(benchmark::State& state) {
    BenchDatabase db(state.range(0) != 0);
    std::uint8_t round = 0;
    for (auto _ : state) {
        ++round;
        for (TABSPageNo pageNo : db.pages) {
            TABSPageHandle page = db.manager.GetPage(kSession, pageNo);
            page.MutableData()[1] = round;
        }
        db.manager.CommitSession(kSession);
    }
    Report(state, kPages, db.manager.PageSize());
}

void PageReadDisk(benchmark::State& state) {
    BenchDatabase db(state.range(0) != 0);
    db.manager.SetCacheCapacity(1);
    std::uint64_t sum = 0;
    for (auto _ : state) {
        for (TABSPageNo pageNo : db.pages)
            sum += db.manager.GetPage(kSession, pageNo).Data()[0];
    }
    benchmark::DoNotOptimize(sum);
    Report(state, kPages, db.manager.PageSize());
}

void PageReadCached(benchmark::State& state) {
    BenchDatabase db(state.range(0) != 0);
    db.manager.SetCacheCapacity(kPages * 2);
    std::uint64_t sum = 0;
    for (auto _ : state) {
        for (TABSPageNo pageNo : db.pages)
            sum += db.manager.GetPage(kSession, pageNo).Data()[0];
    }
    benchmark::DoNotOptimize(sum);
    Report(state, kPages, db.manager.PageSize());
}

void PageAllocate(benchmark::State& state) {
    BenchDatabase db(state.range(0) != 0);
    constexpr int kBatch = 256;
    std::vector<TABSPageNo> added;
    for (auto _ : state) {
        added.clear();
        for (int i = 0; i < kBatch; ++i) {
            TABSPageHandle page = db.manager.AddPage(kSession, TABSPageType::TableRecord);
            added.push_back(page.PageNo());
        }
        db.manager.CommitSession(kSession);
        state.PauseTiming();
        for (TABSPageNo pageNo : added)
            db.manager.RemovePage(kSession, pageNo);
        db.manager.CommitSession(kSession);
        state.ResumeTiming();
    }
    Report(state, kBatch, db.manager.PageSize());
}

BENCHMARK(PageWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(PageReadDisk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(PageReadCached)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(PageAllocate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kova
