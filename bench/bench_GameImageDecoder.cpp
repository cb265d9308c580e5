// The protected decode of a 1024 x 1024 JPG (the decoder program started for the picture, the
// pixels handed back through a memory file) against the image library decoding the same bytes
// in this process, measured in the same run. The counter "ratio" is protected time / in-process
// time. Goal: under 1.2.
#include <benchmark/benchmark.h>

#include <chrono>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "GameFileIO.h"
#include "GameImageDecoder.h"
#include "GameImageFile.h"
#include "GameImageProbe.h"

namespace
{
using Clock = std::chrono::steady_clock;

const u32 SIDE = 1024;
const int JPG_QUALITY = 90;

// Smooth gradients with a little noise, as a texture would be, coded as a JPG.
const TPodArray<u8>& JpgBytes()
{
    static TPodArray<u8> bytes;
    if (bytes.count == 0)
    {
        SImage2D img(SIDE, SIDE);
        u32 s = 12345;
        for (u32 y = 0; y < SIDE; ++y)
            for (u32 x = 0; x < SIDE; ++x)
            {
                s = s * 1664525u + 1013904223u;
                const u32 n = (s >> 28) & 7;
                const u32 r = (x * 255 / SIDE + n) & 0xFF, g = (y * 255 / SIDE + n) & 0xFF, b = ((x ^ y) >> 3) & 0xFF;
                img.Pixels[y * SIDE + x] = r | (g << 8) | (b << 16) | (0xFFu << 24);
            }
        SImageSaveOptions options;
        options.JpgQuality = JPG_QUALITY;
        char name[] = "/tmp/pwbench_jpgXXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0)
        {
            close(fd);
            TString jpg = TString(name) + ".jpg";
            if (EncodeImageFile(jpg.Str(), img, options, false))
                ReadArrayFromBinaryFile(jpg.Str(), bytes);
            remove(jpg.Str());
            remove(name);
        }
    }
    return bytes;
}

void BM_ProtectedJpgDecode(benchmark::State& state)
{
    InitImageLibrary();
    const TPodArray<u8>& bytes = JpgBytes();
    SImageProbe probe;
    TString reason;
    if (!ProbeImageFile(bytes.data, bytes.count, "bench.jpg", probe, reason))
    {
        state.SkipWithError("the benchmark picture is not a JPG");
        return;
    }
    Clock::duration guarded{}, direct{};
    for (auto _ : state)
    {
        SImage2D a, b;
        SetImageDecodeInProcess(false);
        const Clock::time_point t0 = Clock::now();
        const int okA = DecodeImageProtected(bytes.data, bytes.count, probe, "bench.jpg", a);
        const Clock::time_point t1 = Clock::now();
        SetImageDecodeInProcess(true);
        const int okB = DecodeImageProtected(bytes.data, bytes.count, probe, "bench.jpg", b);
        const Clock::time_point t2 = Clock::now();
        SetImageDecodeInProcess(false);
        if (okA != 1 || okB != 1)
        {
            state.SkipWithError("decode failed");
            return;
        }
        guarded += t1 - t0;
        direct += t2 - t1;
    }
    const double g = std::chrono::duration<double>(guarded).count();
    const double d = std::chrono::duration<double>(direct).count();
    state.counters["ratio"] = d > 0 ? g / d : 0.0;
    state.counters["protected_ms"] = benchmark::Counter(g * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["in_process_ms"] = benchmark::Counter(d * 1e3, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ProtectedJpgDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0);
} // namespace
