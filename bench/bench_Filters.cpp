// The filter nodes on a 1024 x 1024 RGBA8 image against ImageMagick's convert on the same image as
// a raw RGBA file (blur, unsharp mask, barrel distortion, Sobel convolution), and the single-pass
// nodes against one bare full-screen pass of their own program into the same target. The scatter
// blur, one draw per pixel, is timed at 128 x 128 against convert's blur of that size.
#include "BenchGL.h"
#include "BenchPair.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "GameShader.h"
#include "TestNodes.h"

namespace
{
const u32 IMAGE_SIZE = 1024;
const u32 SCATTER_SIZE = 128;
const float BLUR_RADIUS = 8.0f;
const int CONVERT_ITERATIONS = 5;
const char* const RAW_IN = "/tmp/pw_bench_filters_in.rgba";
const char* const RAW_OUT = "/tmp/pw_bench_filters_out.rgba";

STexProcNode* Source(STexProcessor& p, u32 size, u32 format, const void* pixels)
{
    STexProcNode* n = AddPinsNode(p, 0, 1, 0);
    TEX_Create(n->Output, size, size, 1, 1, format, pixels, NODE_OUTPUT_TEX_FLAGS);
    return n;
}

// A kernel image: a bump that falls from the middle to the edges, as FP32.
STexProcNode* Kernel(STexProcessor& p)
{
    const u32 k = 16;
    std::vector<float> px(k * k * 4);
    for (u32 y = 0; y < k; ++y)
        for (u32 x = 0; x < k; ++x)
        {
            const float dx = (x + 0.5f) / k - 0.5f, dy = (y + 0.5f) / k - 0.5f;
            const float w = 1.0f - 2.0f * (dx * dx + dy * dy);
            for (u32 c = 0; c < 4; ++c)
                px[(y * k + x) * 4 + c] = w;
        }
    return Source(p, k, TEXFMT_RGBA32F, px.data());
}

bool WriteRaw(u32 size)
{
    const std::vector<u8> px = BenchPicture(size);
    return BenchWriteFile(RAW_IN, px.data(), px.size());
}

// Node processing against convert on the same picture.
void NodeAgainstConvert(benchmark::State& state, u32 size, const char* cls, const char* operation,
                        const std::function<void(TArray<SPropDesc>&)>& set, bool kernel, bool blurred)
{
    if (!BenchContext() || access(BENCH_CONVERT, X_OK) != 0 || !WriteRaw(size))
    {
        state.SkipWithError("needs a GL context and ImageMagick's convert");
        return;
    }
    STexProcessor p;
    const std::vector<u8> px = BenchPicture(size);
    STexProcNode* src = Source(p, size, TEXFMT_RGBA8, px.data());
    STexProcNode* f = AddClassNode(p, cls, set);
    TestLink(p, src, 0, f, 0);
    if (kernel)
        TestLink(p, Kernel(p), 0, f, 1);
    if (blurred)
    {
        STexProcNode* blur = AddClassNode(p, "STexNode_Blur");
        TestLink(p, src, 0, blur, 0);
        TestLink(p, Kernel(p), 0, blur, 1);
        blur->Process();
        TestLink(p, blur, 0, f, 1);
    }
    if (!f->Process())
    {
        state.SkipWithError(f->Status.Str());
        return;
    }
    const std::string command = BenchConvertCommand(size, {RAW_IN}, operation, RAW_OUT);
    SPairTimer t;
    for (auto _ : state)
        t.Run([&] { BenchProcess(f); },
              [&] {
                  if (system(command.c_str()) != 0)
                      state.SkipWithError("convert failed");
              });
    t.Report(state, "node_ms", "convert_ms", 1e3);
    remove(RAW_IN);
    remove(RAW_OUT);
}

// A single-pass node against one bare pass of its program into its own output.
void NodeAgainstBarePass(benchmark::State& state, const char* cls, const char* program, bool second)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor p;
    const std::vector<u8> px = BenchPicture(IMAGE_SIZE);
    STexProcNode* src = Source(p, IMAGE_SIZE, TEXFMT_RGBA8, px.data());
    STexProcNode* f = AddClassNode(p, cls);
    TestLink(p, src, 0, f, 0);
    if (second)
        TestLink(p, src, 0, f, 1);
    if (!f->Process())
    {
        state.SkipWithError(f->Status.Str());
        return;
    }
    SShader* sp = GetShader(program, TArray<TString>());
    const TextureRef inputs[] = {src->Output, src->Output};
    SPairTimer t;
    for (auto _ : state)
        t.Run([&] { BenchProcess(f); },
              [&] {
                  BenchBarePass(f->Output, sp, inputs, 2, NODE_INPUT_UNITS);
                  BenchFinish();
              });
    t.Report(state, "node_ms", "pass_ms", 1e3);
}

void BM_BlurSeparable(benchmark::State& state)
{
    NodeAgainstConvert(state, IMAGE_SIZE, "STexNode_Blur", "-blur 8x3", nullptr, true, false);
}
void BM_BlurScatter128(benchmark::State& state)
{
    NodeAgainstConvert(state, SCATTER_SIZE, "STexNode_Blur", "-blur 8x3",
                       [](TArray<SPropDesc>& l) {
                           FindPropDesc(l, "Separable")->AsInt() = 0;
                           FindPropDesc(l, "Radius")->AsVec2() = mVec2(BLUR_RADIUS, BLUR_RADIUS);
                       },
                       true, false);
}
void BM_UnsharpMask(benchmark::State& state)
{
    NodeAgainstConvert(state, IMAGE_SIZE, "STexNode_UnsharpMask", "-unsharp 0x3", nullptr, false, true);
}
void BM_LensDistort(benchmark::State& state)
{
    NodeAgainstConvert(state, IMAGE_SIZE, "STexNode_LensDistort", "-distort Barrel '0.1 0 0 0.9'", nullptr, false, false);
}
void BM_Sobel3x3(benchmark::State& state)
{
    NodeAgainstConvert(state, IMAGE_SIZE, "STexNode_Sobel3x3", "-morphology Convolve Sobel", nullptr, false, false);
}
void BM_UnsharpMaskPass(benchmark::State& state)
{
    NodeAgainstBarePass(state, "STexNode_UnsharpMask", "Nodes/Filters/UnsharpMask", true);
}
void BM_LensDistortPass(benchmark::State& state)
{
    NodeAgainstBarePass(state, "STexNode_LensDistort", "Nodes/Filters/LensDistort", false);
}
void BM_Sobel3x3Pass(benchmark::State& state)
{
    NodeAgainstBarePass(state, "STexNode_Sobel3x3", "Nodes/Filters/Sobel3x3", false);
}
} // namespace

BENCHMARK(BM_BlurSeparable)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurScatter128)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnsharpMask)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LensDistort)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sobel3x3)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnsharpMaskPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LensDistortPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sobel3x3Pass)->Unit(benchmark::kMillisecond);
