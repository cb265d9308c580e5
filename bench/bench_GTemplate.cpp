// The engine's containers against the standard library, measured in the same run on the same
// data. Each benchmark times both sides in every iteration and reports the counter "ratio"
// (engine time / standard time; the goal is 1.3 or less).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <vector>

#include "GTemplate.h"

namespace
{
    using Clock = std::chrono::steady_clock;

    struct SPairTimer
    {
        Clock::duration engine{}, reference{};

        void Report(benchmark::State& state)
        {
            const double e = std::chrono::duration<double>(engine).count();
            const double r = std::chrono::duration<double>(reference).count();
            state.counters["ratio"] = r > 0 ? e / r : 0.0;
            state.counters["engine_us"] = benchmark::Counter(e * 1e6, benchmark::Counter::kAvgIterations);
            state.counters["std_us"] = benchmark::Counter(r * 1e6, benchmark::Counter::kAvgIterations);
        }
    };

    std::vector<TString> MakeKeys(u32 n, u32 seed, bool longKeys)
    {
        std::vector<TString> keys;
        keys.reserve(n);
        char buf[96];
        for (u32 i = 0; i < n; ++i)
        {
            if (longKeys)
                snprintf(buf, sizeof(buf), "Data/Textures/generated/texture_%07u_with_a_long_name.png", i);
            else
                snprintf(buf, sizeof(buf), "key_%07u", i);
            keys.emplace_back(buf);
        }
        std::mt19937 rng(seed);
        std::shuffle(keys.begin(), keys.end(), rng);
        return keys;
    }
} // namespace

static void BM_ArrayAppendInt(benchmark::State& state)
{
    const int n = (int)state.range(0);
    SPairTimer timer;
    for (auto _ : state)
    {
        auto t0 = Clock::now();
        {
            TArray<int> a;
            for (int i = 0; i < n; ++i)
                a.Add(i);
            benchmark::DoNotOptimize(a.data);
        }
        auto t1 = Clock::now();
        {
            std::vector<int> v;
            for (int i = 0; i < n; ++i)
                v.push_back(i);
            benchmark::DoNotOptimize(v.data());
        }
        auto t2 = Clock::now();
        timer.engine += t1 - t0;
        timer.reference += t2 - t1;
    }
    timer.Report(state);
}
BENCHMARK(BM_ArrayAppendInt)->Arg(100000);

static void BM_ArrayAppendString(benchmark::State& state)
{
    const std::vector<TString> keys = MakeKeys((u32)state.range(0), 1, state.range(1) != 0);
    SPairTimer timer;
    for (auto _ : state)
    {
        auto t0 = Clock::now();
        {
            TArray<TString> a;
            for (const TString& k : keys)
                a.Add(k);
            benchmark::DoNotOptimize(a.data);
        }
        auto t1 = Clock::now();
        {
            std::vector<TString> v;
            for (const TString& k : keys)
                v.push_back(k);
            benchmark::DoNotOptimize(v.data());
        }
        auto t2 = Clock::now();
        timer.engine += t1 - t0;
        timer.reference += t2 - t1;
    }
    timer.Report(state);
}
BENCHMARK(BM_ArrayAppendString)->Args({100000, 0})->Args({100000, 1});

static void BM_ArrayCopyString(benchmark::State& state)
{
    const std::vector<TString> keys = MakeKeys((u32)state.range(0), 2, state.range(1) != 0);
    TArray<TString> source;
    for (const TString& k : keys)
        source.Add(k);
    SPairTimer timer;
    for (auto _ : state)
    {
        auto t0 = Clock::now();
        {
            TArray<TString> copy(source);
            benchmark::DoNotOptimize(copy.data);
        }
        auto t1 = Clock::now();
        {
            std::vector<TString> copy(keys);
            benchmark::DoNotOptimize(copy.data());
        }
        auto t2 = Clock::now();
        timer.engine += t1 - t0;
        timer.reference += t2 - t1;
    }
    timer.Report(state);
}
BENCHMARK(BM_ArrayCopyString)->Args({100000, 0})->Args({100000, 1});

static void BM_MapInsertString(benchmark::State& state)
{
    const std::vector<TString> keys = MakeKeys((u32)state.range(0), 3, false);
    SPairTimer timer;
    for (auto _ : state)
    {
        auto t0 = Clock::now();
        {
            TMap<TString, int> m;
            int i = 0;
            for (const TString& k : keys)
                m.Insert(k, i++);
            benchmark::DoNotOptimize(m.root);
        }
        auto t1 = Clock::now();
        {
            std::map<TString, int> m;
            int i = 0;
            for (const TString& k : keys)
                m.emplace(k, i++);
            benchmark::DoNotOptimize(m.size());
        }
        auto t2 = Clock::now();
        timer.engine += t1 - t0;
        timer.reference += t2 - t1;
    }
    timer.Report(state);
}
BENCHMARK(BM_MapInsertString)->Arg(100000)->Unit(benchmark::kMillisecond);

static void BM_MapFindString(benchmark::State& state)
{
    const std::vector<TString> keys = MakeKeys((u32)state.range(0), 4, false);
    // Look-ups in another order than the insertions, half of them for absent keys.
    std::vector<TString> probes = MakeKeys((u32)state.range(0) * 2, 5, false);
    TMap<TString, int> engineMap;
    std::map<TString, int> stdMap;
    int i = 0;
    for (const TString& k : keys)
    {
        engineMap.Insert(k, i);
        stdMap.emplace(k, i);
        ++i;
    }
    SPairTimer timer;
    for (auto _ : state)
    {
        long found = 0;
        auto t0 = Clock::now();
        for (const TString& k : probes)
            found += engineMap.Find(k) != nullptr;
        auto t1 = Clock::now();
        for (const TString& k : probes)
            found -= stdMap.find(k) != stdMap.end();
        auto t2 = Clock::now();
        if (found != 0)
            state.SkipWithError("the maps disagree");
        timer.engine += t1 - t0;
        timer.reference += t2 - t1;
    }
    timer.Report(state);
}
BENCHMARK(BM_MapFindString)->Arg(100000)->Unit(benchmark::kMillisecond);

static void BM_MapIterateString(benchmark::State& state)
{
    const std::vector<TString> keys = MakeKeys((u32)state.range(0), 6, false);
    TMap<TString, int> engineMap;
    std::map<TString, int> stdMap;
    int i = 0;
    for (const TString& k : keys)
    {
        engineMap.Insert(k, i);
        stdMap.emplace(k, i);
        ++i;
    }
    SPairTimer timer;
    for (auto _ : state)
    {
        long sum = 0;
        auto t0 = Clock::now();
        for (TMap<TString, int>::Iterator it(engineMap); it.IsValid(); it.Next())
            sum += it.current->value;
        auto t1 = Clock::now();
        for (const auto& kv : stdMap)
            sum -= kv.second;
        auto t2 = Clock::now();
        if (sum != 0)
            state.SkipWithError("the maps disagree");
        timer.engine += t1 - t0;
        timer.reference += t2 - t1;
    }
    timer.Report(state);
}
BENCHMARK(BM_MapIterateString)->Arg(100000)->Unit(benchmark::kMillisecond);
