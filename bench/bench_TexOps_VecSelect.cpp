// The VecTools and Select nodes on 1024x1024 RGBA8 images: Add, Mul, Min and Max of two images,
// read back, against ImageMagick's convert compositing the same raw RGBA files (read both, combine,
// write), and each Select node against a bare full-screen pass of its program into the same
// target with the same textures bound (the node's overhead: input checks, target, frame buffer).
#include "BenchGL.h"
#include "BenchPair.h"

#include <GL/glew.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "GameCore.h"
#include "GameImage.h"
#include "GameShader.h"
#include "GameVertex.h"
#include "GameWindow.h"
#include "TestNodes.h"

namespace
{
const u32 IMAGE_SIDE = 1024;
const u32 BYTES_PER_PIXEL = 4;
const unsigned IMAGE_SEED = 2424;

struct SVecBench
{
    const char* cls;
    const char* compose; // convert's -compose operator
};
const SVecBench VEC_NODES[] = {
    {"STexNode_Add", "plus"},
    {"STexNode_Mul", "multiply"},
    {"STexNode_Min", "darken"},
    {"STexNode_Max", "lighten"},
};

struct SSelectBench
{
    const char* cls;
    const char* program;
    const char* define; // null: none
};
const SSelectBench SELECT_NODES[] = {
    {"STexNode_SelRect", "Nodes/Select/Rect", nullptr},
    {"STexNode_SelCompare", "Nodes/Select/Compare", "SIGN >"},
    {"STexNode_SelRange", "Nodes/Select/Range", nullptr},
};

// Both sides read the two raw input files, combine them and write a raw RGBA8 output file.
void BM_VecToolsNodeVsConvert(benchmark::State& state)
{
    const SVecBench& b = VEC_NODES[state.range(0)];
    state.SetLabel(b.cls);
    if (access(BENCH_CONVERT, X_OK) != 0)
    {
        state.SkipWithError("imagemagick's convert is not installed");
        return;
    }
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    char folder[] = "/tmp/pwbenchvecXXXXXX";
    if (!mkdtemp(folder))
    {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::string dir = folder, in[2] = {dir + "/a.rgba", dir + "/b.rgba"};
    const std::string outNode = dir + "/node.rgba", outConvert = dir + "/im.rgba";
    bool failed = false;
    for (u32 i = 0; i < 2; ++i)
    {
        const std::vector<u8> image = BenchSeededBytes(IMAGE_SIDE, IMAGE_SEED + i);
        failed |= !BenchWriteFile(in[i], image.data(), image.size());
    }
    const std::string operation = std::string("-compose ") + b.compose + " -composite";
    const std::string command = BenchConvertCommand(IMAGE_SIDE, {in[0], in[1]}, operation.c_str(), outConvert);
    STexProcessor p;
    STexProcNode* node = AddClassNode(p, b.cls);
    STestNode_Pins* src[2] = {AddPinsNode(p, 0, 1, 0), AddPinsNode(p, 0, 1, 0)};
    failed |= !node || !TestLink(p, src[0], 0, node, 0) || !TestLink(p, src[1], 0, node, 1);
    std::vector<u8> bytes(IMAGE_SIDE * IMAGE_SIDE * BYTES_PER_PIXEL);

    SPairTimer t;
    for (auto _ : state)
    {
        if (failed)
            break;
        t.Run(
            [&] {
                for (u32 i = 0; i < 2; ++i)
                    failed |= !BenchReadFile(in[i], bytes) || !TEX_Create(src[i]->Output, IMAGE_SIDE, IMAGE_SIDE, 1, 1,
                                                                    TEXFMT_RGBA8, bytes.data(), TEXF_NodeOutput);
                SImage2D result;
                failed |= !node->Process() || !TEX_ReadPixels(node->Output.Get(), result) ||
                          !BenchWriteFile(outNode, result.Pixels.data, (size_t)result.Width * result.Height * 4);
            },
            [&] { failed |= system(command.c_str()) != 0; });
    }
    for (const std::string& f : {in[0], in[1], outNode, outConvert})
        unlink(f.c_str());
    rmdir(folder);
    if (failed)
        state.SkipWithError("a side failed");
    t.Report(state, "node_ms", "convert_ms", 1e3);
}
BENCHMARK(BM_VecToolsNodeVsConvert)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_SelectNodeVsBarePass(benchmark::State& state)
{
    const SSelectBench& b = SELECT_NODES[state.range(0)];
    state.SetLabel(b.cls);
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor p;
    STexProcNode* node = AddClassNode(p, b.cls);
    std::vector<TextureRef> bound;
    for (u32 i = 0; node && i < node->InParams.Count(); ++i)
    {
        STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
        const std::vector<u8> image = BenchSeededBytes(IMAGE_SIDE, IMAGE_SEED + i);
        TEX_Create(src->Output, IMAGE_SIDE, IMAGE_SIDE, 1, 1, TEXFMT_RGBA8, image.data(), TEXF_NodeOutput);
        TestLink(p, src, 0, node, i);
        bound.push_back(src->Output);
    }
    if (!node || !node->Process())
    {
        state.SkipWithError(node ? node->Status.Str() : "class not registered");
        return;
    }
    // The program keeps the uniforms the node's pass set.
    TArray<TString> defines;
    if (b.define)
        defines.Add(TString(b.define));
    SShader* sp = GetShader(b.program, defines);

    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] { BenchProcess(node); },
            [&] {
                BenchBarePass(node->Output, sp, bound.data(), (u32)bound.size(), 0);
                BenchFinish();
            });
    }
    t.Report(state, "node_ms", "bare_ms", 1e3);
}
BENCHMARK(BM_SelectNodeVsBarePass)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
} // namespace
