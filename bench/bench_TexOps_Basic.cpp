// The Basic family's image operations on a 1024 x 1024 RGBA8 image against ImageMagick's convert
// doing the same on raw RGBA files (multiply blend, rotate and zoom, resize to 512 x 512, canvas
// extent), and each node against one bare full-screen pass of its program with the same reads.
#include "BenchGL.h"
#include "BenchPair.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "GameShader.h"
#include "TestNodes.h"

namespace
{
const u32 IMAGE_SIZE = 1024;
const u32 HALF_SIZE = 512;
const u32 EXTENT_SIZE = 1280;
const float ROTATION = 30.0f;
const float ZOOM = 1.5f;
const int CONVERT_ITERATIONS = 5;
const char* const RAW_IN = "/tmp/pw_bench_basic_in.rgba";
const char* const RAW_IN2 = "/tmp/pw_bench_basic_in2.rgba";
const char* const RAW_OUT = "/tmp/pw_bench_basic_out.rgba";

typedef std::function<void(TArray<SPropDesc>&)> TSetter;
typedef std::function<void(SShader*)> TUniforms;

bool WriteRaw(const char* name, bool second)
{
    const std::vector<u8> px = BenchPicture(IMAGE_SIZE, second);
    return BenchWriteFile(name, px.data(), px.size());
}

STexProcNode* Source(STexProcessor& p, bool second)
{
    STexProcNode* n = AddPinsNode(p, 0, 1, 0);
    const std::vector<u8> px = BenchPicture(IMAGE_SIZE, second);
    TEX_Create(n->Output, IMAGE_SIZE, IMAGE_SIZE, 1, 1, TEXFMT_RGBA8, px.data(), NODE_OUTPUT_TEX_FLAGS);
    return n;
}

struct SBasicCase
{
    const char* cls;
    TSetter set;
    bool twoInputs;
    const char* convertArgs; // after the input files
    const char* program;
    TArray<TString> defines;
    TUniforms uniforms;
};

// The node of a case with its inputs linked and processed once; null when it fails.
STexProcNode* Prepare(benchmark::State& state, STexProcessor& p, const SBasicCase& c, STexProcNode*& src)
{
    src = Source(p, false);
    STexProcNode* n = AddClassNode(p, c.cls, c.set);
    TestLink(p, src, 0, n, 0);
    if (c.twoInputs)
        TestLink(p, Source(p, true), 0, n, 1);
    if (!n->Process())
    {
        state.SkipWithError(n->Status.Str());
        return nullptr;
    }
    return n;
}

void AgainstConvert(benchmark::State& state, const SBasicCase& c)
{
    if (!BenchContext() || access(BENCH_CONVERT, X_OK) != 0 || !WriteRaw(RAW_IN, false) || !WriteRaw(RAW_IN2, true))
    {
        state.SkipWithError("needs a GL context and ImageMagick's convert");
        return;
    }
    STexProcessor p;
    STexProcNode* src = nullptr;
    STexProcNode* n = Prepare(state, p, c, src);
    if (!n)
        return;
    std::vector<std::string> inputs = {RAW_IN};
    if (c.twoInputs)
        inputs.push_back(RAW_IN2);
    const std::string command = BenchConvertCommand(IMAGE_SIZE, inputs, c.convertArgs, RAW_OUT);
    SPairTimer t;
    for (auto _ : state)
        t.Run([&] { BenchProcess(n); },
              [&] {
                  if (system(command.c_str()) != 0)
                      state.SkipWithError("convert failed");
              });
    t.Report(state, "node_ms", "convert_ms", 1e3);
}

void AgainstBarePass(benchmark::State& state, const SBasicCase& c)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor p;
    STexProcNode* src = nullptr;
    STexProcNode* n = Prepare(state, p, c, src);
    if (!n)
        return;
    SShader* sp = GetShader(c.program, c.defines);
    const TextureRef inputs[] = {src->Output, c.twoInputs ? n->InputTexture(1) : src->Output};
    SPairTimer t;
    for (auto _ : state)
        t.Run([&] { BenchProcess(n); },
              [&] {
                  BenchBarePass(n->Output, sp, inputs, 2, NODE_INPUT_UNITS, c.uniforms);
                  BenchFinish();
              });
    t.Report(state, "node_ms", "pass_ms", 1e3);
}

TArray<TString> BlendDefines()
{
    TArray<TString> d;
    d.Add(TString("BSAT3( x ) SAT3( x )"));
    d.Add(TString("OSAT4( x ) SAT4( x )"));
    return d;
}

const SBasicCase& Multiply()
{
    static const SBasicCase c{"STexNode_Blend",
                              [](TArray<SPropDesc>& l) {
                                  FindPropDesc(l, "BlendMode")->AsInt() = 3;
                                  FindPropDesc(l, "OClamp")->AsInt() = 1;
                              },
                              true,
                              "-compose Multiply -composite",
                              "Nodes/Blend/Multiply",
                              BlendDefines(),
                              [](SShader* sp) { SetUniformFloat(sp, "Opacity", 1.0f); }};
    return c;
}

const SBasicCase& Transform()
{
    static const SBasicCase c{"STexNode_Transform",
                              [](TArray<SPropDesc>& l) {
                                  FindPropDesc(l, "Rot")->AsFloat() = ROTATION;
                                  FindPropDesc(l, "Zoom")->AsVec2() = mVec2(ZOOM, ZOOM);
                              },
                              false,
                              "-virtual-pixel tile -distort SRT '1.5 30'",
                              "Nodes/Basic/Transform",
                              TArray<TString>(),
                              [](SShader* sp) {
                                  const float off[2] = {0, 0}, zoom[2] = {ZOOM, ZOOM};
                                  SetUniformVec2(sp, "Off", off);
                                  SetUniformFloat(sp, "Rot", ROTATION * 3.1415927f / 180.0f);
                                  SetUniformVec2(sp, "Zoom", zoom);
                                  SetUniformInt(sp, "FlipX", 0);
                                  SetUniformInt(sp, "FlipY", 0);
                              }};
    return c;
}

const SBasicCase& Resize()
{
    static const SBasicCase c{"STexNode_Resize",
                              [](TArray<SPropDesc>& l) {
                                  FindPropDesc(l, "Width")->AsInt() = (s32)HALF_SIZE;
                                  FindPropDesc(l, "Height")->AsInt() = (s32)HALF_SIZE;
                              },
                              false,
                              "-resize 512x512!",
                              "Nodes/Basic/Full",
                              TArray<TString>(),
                              nullptr};
    return c;
}

const SBasicCase& Reshape()
{
    static const SBasicCase c{"STexNode_Reshape",
                              [](TArray<SPropDesc>& l) {
                                  FindPropDesc(l, "Width")->AsInt() = (s32)EXTENT_SIZE;
                                  FindPropDesc(l, "Height")->AsInt() = (s32)EXTENT_SIZE;
                              },
                              false,
                              "-background none -extent 1280x1280",
                              "Nodes/Basic/Reshape",
                              TArray<TString>(),
                              [](SShader* sp) {
                                  const int data[5] = {(int)EXTENT_SIZE, (int)EXTENT_SIZE, 0, 0, 0};
                                  const float in[2] = {(float)IMAGE_SIZE, (float)IMAGE_SIZE};
                                  SetUniformIntArray(sp, "Data", data, 5);
                                  SetUniformVec2(sp, "InputSize", in);
                              }};
    return c;
}

void BM_BlendMultiply(benchmark::State& state)
{
    AgainstConvert(state, Multiply());
}
void BM_TransformRotateZoom(benchmark::State& state)
{
    AgainstConvert(state, Transform());
}
void BM_Resize512(benchmark::State& state)
{
    AgainstConvert(state, Resize());
}
void BM_ReshapeExtent(benchmark::State& state)
{
    AgainstConvert(state, Reshape());
}
void BM_BlendMultiplyPass(benchmark::State& state)
{
    AgainstBarePass(state, Multiply());
}
void BM_TransformPass(benchmark::State& state)
{
    AgainstBarePass(state, Transform());
}
void BM_ResizePass(benchmark::State& state)
{
    AgainstBarePass(state, Resize());
}
void BM_ReshapePass(benchmark::State& state)
{
    AgainstBarePass(state, Reshape());
}
} // namespace

BENCHMARK(BM_BlendMultiply)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransformRotateZoom)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Resize512)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReshapeExtent)->Iterations(CONVERT_ITERATIONS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendMultiplyPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransformPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizePass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReshapePass)->Unit(benchmark::kMillisecond);
