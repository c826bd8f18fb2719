// Case-insensitive key comparison, the inner loop of every string index: the soANSI order
// against SQLite's NOCASE comparison over the same keys.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <random>
#include <string>
#include <vector>

#include "engine/storage/orqCommon.h"

namespace {

std::vector<std::string> Keys() {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> len(4, 40), ch('A', 'z');
    std::vector<std::string> keys(4096);
    for (auto& k : keys) {
        k.resize(size_t(len(rng)));
        for (char& c : k) c = char(ch(rng));
    }
    return keys;
}

void BM_OstraANSINoCase(benchmark::State& state) {
    auto keys = Keys();
    size_t i = 0;
    for (auto _ : state) {
        const std::string& a = keys[i & 4095];
        const std::string& b = keys[(i * 7 + 1) & 4095];
        benchmark::DoNotOptimize(ostra::DBANSICompareStrings(a.data(), b.data(), int(a.size()), int(b.size()), true, false));
        ++i;
    }
}

void BM_SQLiteNoCase(benchmark::State& state) {
    auto keys = Keys();
    size_t i = 0;
    for (auto _ : state) {
        const std::string& a = keys[i & 4095];
        const std::string& b = keys[(i * 7 + 1) & 4095];
        int n = int(std::min(a.size(), b.size()));
        int c = sqlite3_strnicmp(a.data(), b.data(), n);
        if (c == 0) c = int(a.size()) - int(b.size());
        benchmark::DoNotOptimize(c);
        ++i;
    }
}

BENCHMARK(BM_OstraANSINoCase);
BENCHMARK(BM_SQLiteNoCase);

}  // namespace
