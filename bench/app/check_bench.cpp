// The registration check of a database with 1000 registrations, as the organiser's console
// program runs it: the list, every rule test per registration and the class limits
// (target: under two seconds).
#include "app/check_competition.h"

#include "check/CheckCommand.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <string>
#include <vector>

namespace {

using namespace kova::app;
using namespace kova::app::test;

constexpr int kRegistrations = 1000;

void BM_Check1000(benchmark::State& state) {
    QTemporaryDir folder;
    const std::string database = folder.filePath("meldung.abs").toStdString();
    std::vector<std::string> statements = CompetitionStatements();
    // A mix of clean and faulty registrations, so every test writes fault rows too.
    const TAthlete athletes[] = {
        {"Berg", "Lena", "2015", "W41", "SPR", "BAL", "-", "STA"},
        {"Ost", "Mia", "2010", "W41", "SPR", "-", "-", "-"},
        {"Kurz", "Jan", "2013", "M31", "WEI", "SPR", "-", "-"},
        {"Lang", "Ida", "2016", "W41", "WEI", "-", "-", "STA"},
    };
    for (int i = 0; i < kRegistrations; ++i) statements.push_back(InsertAthlete(i + 1, athletes[i % 4]));
    MakeDatabase(database, statements);

    int faults = 0;
    for (auto _ : state) {
        TCheckRows protocol;
        const TCheckResult result = CheckFile(database, protocol);
        faults = result.faults;
        benchmark::DoNotOptimize(protocol.Rows().data());
    }
    state.counters["faults"] = faults;
}
BENCHMARK(BM_Check1000)->Unit(benchmark::kMillisecond);

} // namespace
