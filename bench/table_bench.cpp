// Throughput of table operations on a database file in /tmp, without and with encipherment
// (cipher 0, AES with 128-bit blocks). Each record has an Integer key with a primary index, a
// String(45) and a Double. Argument 0: plain file, 1: enciphered file; items/s counts records.
//
//   TableInsert             one record per insert, each committed on its own
//   TableInsertTransaction  1000 records per transaction
//   TableLookup             point lookups of random keys through the unique primary index, each
//                           reading the record it finds
//   TableScan               a full scan in physical order, reading every record
#include "engine/storage/ABSDiskEngine.h"
#include "engine/storage/ABSDiskTableData.h"
#include "engine/storage/ABSSecurity.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kova {
namespace {

constexpr int kTableRows = 20000;
constexpr std::uint8_t kBenchCipher = 0;  // Rijndael_128

class BenchTable {
public:
    BenchTable(bool encrypted, int rows) {
        path_ = "/tmp/kova_table_bench_" + std::to_string(::getpid()) + (encrypted ? "_enc" : "_plain") + ".abs";
        database_ = std::make_unique<TABSDiskDatabaseData>(path_);
        TABSCreateDatabaseOptions create;
        create.Password.Password = encrypted ? "bench-password" : "";
        create.Password.Cipher = kBenchCipher;
        database_->CreateDatabase(create);
        TABSConnectOptions connect;
        connect.Password = create.Password;
        session_ = database_->ConnectSession(connect).SessionID;
        tables_ = std::make_unique<TABSDiskDatabaseTables>(*database_);
        TABSTableDefinition definition;
        definition.Fields.Add(TABSFieldDef("ID", TABSColumnType::actInteger));
        definition.Fields.Add(TABSFieldDef("Name", TABSColumnType::actString, 45));
        definition.Fields.Add(TABSFieldDef("Score", TABSColumnType::actDouble));
        definition.Indexes.Add(TABSIndexDef("PK", 0, {TABSIndexColumn{"ID"}}, true, true));
        tables_->CreateTable("T", std::move(definition));
        table_ = tables_->OpenTable(session_, "T");
        tables_->StartTransaction(session_);
        for (int i = 0; i < rows; ++i) Insert();
        tables_->Commit(session_);
    }
    ~BenchTable() {
        table_.Close();
        tables_.reset();
        database_->DisconnectSession(session_);
        database_.reset();
        ::unlink(path_.c_str());
    }

    void Insert() {
        std::vector<std::uint8_t> record = table_->NewRecordBuffer();
        const auto& fields = table_->FieldDefs();
        TABSVariant v;
        v.SetAsInteger(next_);
        fields.SetValue(record, 0, v);
        v.SetAsString("Teilnehmer Nummer " + std::to_string(next_));
        fields.SetValue(record, 1, v);
        v.SetAsDouble(next_ * 0.25);
        fields.SetValue(record, 2, v);
        (void)table_->InsertRecord(session_, record);
        ++next_;
    }

    [[nodiscard]] TABSDiskDatabaseTables& Tables() { return *tables_; }
    [[nodiscard]] TABSTableHandle& Table() { return table_; }
    [[nodiscard]] TABSSessionID Session() const { return session_; }
    [[nodiscard]] TABSDiskTableData& Disk() { return static_cast<TABSDiskTableData&>(table_.Table()); }

private:
    std::string path_;
    std::unique_ptr<TABSDiskDatabaseData> database_;
    std::unique_ptr<TABSDiskDatabaseTables> tables_;
    TABSTableHandle table_;
    TABSSessionID session_ = kInvalidSessionID;
    int next_ = 0;
};

void Label(benchmark::State& state, std::int64_t items) {
    state.SetItemsProcessed(items);
    state.SetLabel(state.range(0) != 0 ? CipherName(kBenchCipher) : "plain");
}

void TableInsert(benchmark::State& state) {
    BenchTable bench(state.range(0) != 0, 0);
    for (auto _ : state) bench.Insert();
    Label(state, static_cast<std::int64_t>(state.iterations()));
}

void TableInsertTransaction(benchmark::State& state) {
    BenchTable bench(state.range(0) != 0, 0);
    for (auto _ : state) {
        bench.Tables().StartTransaction(bench.Session());
        for (int i = 0; i < 1000; ++i) bench.Insert();
        bench.Tables().Commit(bench.Session());
    }
    Label(state, static_cast<std::int64_t>(state.iterations()) * 1000);
}

void TableLookup(benchmark::State& state) {
    BenchTable bench(state.range(0) != 0, kTableRows);
    TABSTableData& table = bench.Table().Table();
    TABSBTreeRecordIndex& index = bench.Disk().IndexManager().IndexByName("PK");
    std::mt19937 random(42);
    std::uniform_int_distribution<int> key(0, kTableRows - 1);
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    for (auto _ : state) {
        TABSVariant value;
        value.SetAsInteger(key(random));
        std::lock_guard lock(table.Mutex());
        TABSKeyPath path;
        if (!index.FindKey(bench.Session(), index.KeyRef().ValueSearchKey({value}), TABSFindMode::FirstEqual, path)) {
            state.SkipWithError("key not found");
            break;
        }
        table.ReadRecord(bench.Session(), index.RecordAt(bench.Session(), path), record);
        benchmark::DoNotOptimize(record.data());
    }
    Label(state, static_cast<std::int64_t>(state.iterations()));
}

void TableScan(benchmark::State& state) {
    BenchTable bench(state.range(0) != 0, kTableRows);
    TABSTableData& table = bench.Table().Table();
    std::vector<std::uint8_t> record(table.RecordBufferSize());
    std::int64_t records = 0;
    for (auto _ : state) {
        for (auto id = table.FirstRecord(bench.Session()); id; id = table.NextRecord(bench.Session(), *id)) {
            table.ReadRecord(bench.Session(), *id, record);
            benchmark::DoNotOptimize(record.data());
            ++records;
        }
    }
    Label(state, records);
}

BENCHMARK(TableInsert)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(TableInsertTransaction)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TableLookup)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(TableScan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kova
