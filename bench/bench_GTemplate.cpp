// The engine's containers against what a user of the standard library would pick for the same
// job (std::vector<std::string>, std::map<std::string, int>), measured in the same run on the
// same texts. Each benchmark times both sides in every iteration and reports the counter
// "ratio" (engine time / standard time; the goal is 1.3 or less). Both sides' strings are made
// in the same order, so that their memory layouts match.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchPair.h"
#include "GTemplate.h"

namespace
{
// The same keys for both sides, in a shuffled order, each side's strings made in that order.
struct SKeys
{
    std::vector<TString> Engine;
    std::vector<std::string> Reference;
};

SKeys MakeKeys(u32 n, u32 seed, bool longKeys)
{
    std::vector<std::string> texts;
    texts.reserve(n);
    char buf[96];
    for (u32 i = 0; i < n; ++i)
    {
        if (longKeys)
            snprintf(buf, sizeof(buf), "Data/Textures/generated/texture_%07u_with_a_long_name.png", i);
        else
            snprintf(buf, sizeof(buf), "key_%07u", i);
        texts.emplace_back(buf);
    }
    std::mt19937 rng(seed);
    std::shuffle(texts.begin(), texts.end(), rng);
    SKeys keys;
    keys.Engine.reserve(n);
    keys.Reference.reserve(n);
    for (const std::string& t : texts)
        keys.Engine.emplace_back(t.c_str(), (u32)t.size());
    for (const std::string& t : texts)
        keys.Reference.push_back(t);
    return keys;
}

void BM_ArrayAppendInt(benchmark::State& state)
{
    const int n = (int)state.range(0);
    SPairTimer timer;
    for (auto _ : state)
        timer.Run(
            [&] {
                TArray<int> a;
                for (int i = 0; i < n; ++i)
                    a.Add(i);
                benchmark::DoNotOptimize(a.data);
            },
            [&] {
                std::vector<int> v;
                for (int i = 0; i < n; ++i)
                    v.push_back(i);
                benchmark::DoNotOptimize(v.data());
            });
    timer.Report(state, "engine_us", "std_us", 1e6);
}

void BM_ArrayAppendString(benchmark::State& state)
{
    const SKeys keys = MakeKeys((u32)state.range(0), 1, state.range(1) != 0);
    SPairTimer timer;
    for (auto _ : state)
        timer.Run(
            [&] {
                TArray<TString> a;
                for (const TString& k : keys.Engine)
                    a.Add(k);
                benchmark::DoNotOptimize(a.data);
            },
            [&] {
                std::vector<std::string> v;
                for (const std::string& k : keys.Reference)
                    v.push_back(k);
                benchmark::DoNotOptimize(v.data());
            });
    timer.Report(state, "engine_us", "std_us", 1e6);
}

void BM_ArrayCopyString(benchmark::State& state)
{
    const SKeys keys = MakeKeys((u32)state.range(0), 2, state.range(1) != 0);
    TArray<TString> engineSource;
    for (const TString& k : keys.Engine)
        engineSource.Add(k);
    std::vector<std::string> referenceSource;
    for (const std::string& k : keys.Reference)
        referenceSource.push_back(k);
    SPairTimer timer;
    for (auto _ : state)
        timer.Run(
            [&] {
                TArray<TString> copy(engineSource);
                benchmark::DoNotOptimize(copy.data);
            },
            [&] {
                std::vector<std::string> copy(referenceSource);
                benchmark::DoNotOptimize(copy.data());
            });
    timer.Report(state, "engine_us", "std_us", 1e6);
}

void BM_MapInsertString(benchmark::State& state)
{
    const SKeys keys = MakeKeys((u32)state.range(0), 3, false);
    SPairTimer timer;
    for (auto _ : state)
        timer.Run(
            [&] {
                TMap<TString, int> m;
                int i = 0;
                for (const TString& k : keys.Engine)
                    m.Insert(k, i++);
                benchmark::DoNotOptimize(m.root);
            },
            [&] {
                std::map<std::string, int> m;
                int i = 0;
                for (const std::string& k : keys.Reference)
                    m.emplace(k, i++);
                benchmark::DoNotOptimize(m.size());
            });
    timer.Report(state, "engine_us", "std_us", 1e6);
}

void BM_MapFindString(benchmark::State& state)
{
    const SKeys keys = MakeKeys((u32)state.range(0), 4, false);
    // Look-ups in another order than the insertions, half of them for absent keys.
    const SKeys probes = MakeKeys((u32)state.range(0) * 2, 5, false);
    TMap<TString, int> engineMap;
    std::map<std::string, int> stdMap;
    int i = 0;
    for (const TString& k : keys.Engine)
        engineMap.Insert(k, i++);
    i = 0;
    for (const std::string& k : keys.Reference)
        stdMap.emplace(k, i++);
    SPairTimer timer;
    for (auto _ : state)
    {
        long found = 0;
        timer.Run(
            [&] {
                for (const TString& k : probes.Engine)
                    found += engineMap.Find(k) != nullptr;
            },
            [&] {
                for (const std::string& k : probes.Reference)
                    found -= stdMap.find(k) != stdMap.end();
            });
        if (found != 0)
            state.SkipWithError("the maps disagree");
    }
    timer.Report(state, "engine_us", "std_us", 1e6);
}

void BM_MapIterateString(benchmark::State& state)
{
    const SKeys keys = MakeKeys((u32)state.range(0), 6, false);
    TMap<TString, int> engineMap;
    std::map<std::string, int> stdMap;
    int i = 0;
    for (const TString& k : keys.Engine)
        engineMap.Insert(k, i++);
    i = 0;
    for (const std::string& k : keys.Reference)
        stdMap.emplace(k, i++);
    SPairTimer timer;
    for (auto _ : state)
    {
        long sum = 0;
        timer.Run(
            [&] {
                for (TMap<TString, int>::Iterator it(engineMap); it.IsValid(); it.Next())
                    sum += it.current->value;
            },
            [&] {
                for (const auto& kv : stdMap)
                    sum -= kv.second;
            });
        if (sum != 0)
            state.SkipWithError("the maps disagree");
    }
    timer.Report(state, "engine_us", "std_us", 1e6);
}
} // namespace

BENCHMARK(BM_ArrayAppendInt)->Arg(100000);
BENCHMARK(BM_ArrayAppendString)->Args({100000, 0})->Args({100000, 1});
BENCHMARK(BM_ArrayCopyString)->Args({100000, 0})->Args({100000, 1});
BENCHMARK(BM_MapInsertString)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapFindString)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapIterateString)->Arg(100000)->Unit(benchmark::kMillisecond);
