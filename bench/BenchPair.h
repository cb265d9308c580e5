// Timing of the engine side against a reference side in the same run. The sides take turns at
// going first, so that neither always meets the caches (or the allocator state) the other left.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>

struct SPairTimer
{
    using Clock = std::chrono::steady_clock;

    Clock::duration engine{}, reference{};
    unsigned long round = 0;

    template <class TEngine, class TReference>
    void Run(TEngine&& engineSide, TReference&& referenceSide)
    {
        if ((round++ & 1) == 0)
        {
            engine += Time(engineSide);
            reference += Time(referenceSide);
        }
        else
        {
            reference += Time(referenceSide);
            engine += Time(engineSide);
        }
    }

    // "ratio" = engine time / reference time, and each side's time per iteration in the unit
    // that scale gives (1e3 milliseconds, 1e6 microseconds).
    void Report(benchmark::State& state, const char* engineName, const char* referenceName, double scale) const
    {
        const double e = std::chrono::duration<double>(engine).count();
        const double r = std::chrono::duration<double>(reference).count();
        state.counters["ratio"] = r > 0 ? e / r : 0.0;
        state.counters[engineName] = benchmark::Counter(e * scale, benchmark::Counter::kAvgIterations);
        state.counters[referenceName] = benchmark::Counter(r * scale, benchmark::Counter::kAvgIterations);
    }

private:
    template <class TSide>
    static Clock::duration Time(TSide& side)
    {
        const Clock::time_point start = Clock::now();
        side();
        return Clock::now() - start;
    }
};
