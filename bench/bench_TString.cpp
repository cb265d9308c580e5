// TString against std::string doing the same work, measured side by side in the same run.
// Each benchmark reports the counter "ratio" (TString time / std::string time; the goal is
// 1.5 or less) and both times per batch in microseconds.
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <chrono>
#include <string>

#include "GString.h"

namespace
{
    typedef std::chrono::steady_clock Clock;

    double Seconds(Clock::time_point a, Clock::time_point b)
    {
        return std::chrono::duration<double>(b - a).count();
    }

    // Runs both batches once per iteration, alternating which goes first, and reports the ratio.
    template <class Ours, class Reference>
    void Compare(benchmark::State& state, Ours ours, Reference reference)
    {
        double oursTime = 0.0;
        double refTime = 0.0;
        bool oursFirst = true;
        for (auto _ : state)
        {
            if (oursFirst)
            {
                Clock::time_point t0 = Clock::now();
                ours();
                Clock::time_point t1 = Clock::now();
                reference();
                Clock::time_point t2 = Clock::now();
                oursTime += Seconds(t0, t1);
                refTime += Seconds(t1, t2);
            }
            else
            {
                Clock::time_point t0 = Clock::now();
                reference();
                Clock::time_point t1 = Clock::now();
                ours();
                Clock::time_point t2 = Clock::now();
                refTime += Seconds(t0, t1);
                oursTime += Seconds(t1, t2);
            }
            oursFirst = !oursFirst;
        }
        state.counters["ratio"] = refTime > 0 ? oursTime / refTime : 0.0;
        state.counters["tstring_us"] = benchmark::Counter(oursTime * 1e6, benchmark::Counter::kAvgIterations);
        state.counters["std_us"] = benchmark::Counter(refTime * 1e6, benchmark::Counter::kAvgIterations);
    }

    const int BATCH = 1000;
    const char* const PIECES[4] = {"node", "_Output", "/", "Shaders/Nodes/Color"};

    // Builds a text of `pieces` appended pieces from empty, BATCH times.
    void BM_TString_AppendPieces(benchmark::State& state)
    {
        const int pieces = (int)state.range(0);
        Compare(
            state,
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    TString s;
                    for (int i = 0; i < pieces; ++i)
                        s += PIECES[i & 3];
                    benchmark::DoNotOptimize(s.text);
                }
            },
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    std::string s;
                    for (int i = 0; i < pieces; ++i)
                        s += PIECES[i & 3];
                    benchmark::DoNotOptimize(s.data());
                }
            });
    }
    BENCHMARK(BM_TString_AppendPieces)->Arg(4)->Arg(64)->Arg(1024);

    void BM_TString_AppendChars(benchmark::State& state)
    {
        const int chars = (int)state.range(0);
        Compare(
            state,
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    TString s;
                    for (int i = 0; i < chars; ++i)
                        s += (char)('a' + (i & 15));
                    benchmark::DoNotOptimize(s.text);
                }
            },
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    std::string s;
                    for (int i = 0; i < chars; ++i)
                        s += (char)('a' + (i & 15));
                    benchmark::DoNotOptimize(s.data());
                }
            });
    }
    BENCHMARK(BM_TString_AppendChars)->Arg(16)->Arg(256);

    // Copy construction of a text of the given length (short ones stay in the inline buffer).
    void BM_TString_Copy(benchmark::State& state)
    {
        const std::string source((size_t)state.range(0), 'c');
        const TString ours(source.c_str());
        Compare(
            state,
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    TString copy(ours);
                    benchmark::DoNotOptimize(copy.text);
                }
            },
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    std::string copy(source);
                    benchmark::DoNotOptimize(copy.data());
                }
            });
    }
    BENCHMARK(BM_TString_Copy)->Arg(12)->Arg(200)->Arg(4000);

    // Copy assignment into a string that already holds a text.
    void BM_TString_Assign(benchmark::State& state)
    {
        const std::string source((size_t)state.range(0), 'a');
        const TString ours(source.c_str());
        TString ourTarget(std::string(8, 'x').c_str());
        std::string refTarget(8, 'x');
        Compare(
            state,
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    ourTarget = ours;
                    benchmark::DoNotOptimize(ourTarget.text);
                }
            },
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    refTarget = source;
                    benchmark::DoNotOptimize(refTarget.data());
                }
            });
    }
    BENCHMARK(BM_TString_Assign)->Arg(12)->Arg(200);

    // Bounded formatting: TString::Format against snprintf into a std::string of the same bound.
    void BM_TString_Format(benchmark::State& state)
    {
        const unsigned maxLen = (unsigned)state.range(0);
        TString ours;
        std::string ref;
        Compare(
            state,
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    ours.Format(maxLen, "%s_%d: %.3f", "Blend", b, b * 0.25);
                    benchmark::DoNotOptimize(ours.text);
                }
            },
            [&]() {
                for (int b = 0; b < BATCH; ++b)
                {
                    ref.resize(maxLen);
                    int n = snprintf(&ref[0], (size_t)maxLen + 1, "%s_%d: %.3f", "Blend", b, b * 0.25);
                    ref.resize(n < 0 ? 0 : ((unsigned)n > maxLen ? maxLen : (unsigned)n));
                    benchmark::DoNotOptimize(ref.data());
                }
            });
    }
    BENCHMARK(BM_TString_Format)->Arg(24)->Arg(256);
}

