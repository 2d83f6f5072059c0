// Throughput of page encryption next to the raw block cipher it is built on: what the chaining
// mode, the per-call keyed-cipher lookup and (for comparison) keying per page cost.
#include "engine/storage/ABSCipher.h"
#include "engine/storage/ABSSecurity.h"

#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/modes.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t kPageDataSize = 4056;
// ECB and CBC take whole blocks only: the 253 full blocks of a page's data area.
constexpr std::size_t kWholeBlocks = kPageDataSize / 16 * 16;
constexpr const char* kPassword = "Korvalla";

std::vector<std::uint8_t> PageData() {
    std::vector<std::uint8_t> data(kPageDataSize);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + 7);
    return data;
}

void BM_RawAes128Ecb(benchmark::State& state) {
    const std::array<std::uint8_t, 16> key{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    CryptoPP::ECB_Mode<CryptoPP::AES>::Encryption aes(key.data(), key.size());
    auto data = PageData();
    for (auto _ : state) {
        aes.ProcessData(data.data(), data.data(), kWholeBlocks);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kWholeBlocks));
}
BENCHMARK(BM_RawAes128Ecb);

void BM_RawAes128Cbc(benchmark::State& state) {
    const std::array<std::uint8_t, 16> key{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::array<std::uint8_t, 16> iv;
    iv.fill(0xFF);
    CryptoPP::CBC_Mode<CryptoPP::AES>::Encryption aes(key.data(), key.size(), iv.data());
    auto data = PageData();
    for (auto _ : state) {
        aes.Resynchronize(iv.data());
        aes.ProcessData(data.data(), data.data(), kWholeBlocks);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kWholeBlocks));
}
BENCHMARK(BM_RawAes128Cbc);

void BM_EncipherPage(benchmark::State& state) {
    auto data = PageData();
    for (auto _ : state) {
        if (!kova::EncipherBuffer(0, data.data(), data.size(), kPassword)) state.SkipWithError("encipher failed");
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageDataSize));
}
BENCHMARK(BM_EncipherPage);

void BM_DecipherPage(benchmark::State& state) {
    auto data = PageData();
    for (auto _ : state) {
        if (!kova::DecipherBuffer(0, data.data(), data.size(), kPassword)) state.SkipWithError("decipher failed");
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageDataSize));
}
BENCHMARK(BM_DecipherPage);

// Keying a fresh cipher for every page, as the file format describes it: what the per-thread
// cache of keyed ciphers saves.
void BM_EncipherPageKeyedPerCall(benchmark::State& state) {
    auto data = PageData();
    for (auto _ : state) {
        auto cipher = kova::TABSBlockCipher::Create(0, kPassword);
        cipher->Encipher(data.data(), data.size());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageDataSize));
}
BENCHMARK(BM_EncipherPageKeyedPerCall);

} // namespace
