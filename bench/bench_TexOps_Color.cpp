// The colour nodes on a 1024x1024 RGBA8 image: each node's processing against a bare full-screen
// pass of the same program into the same target with the same textures bound (the node's overhead:
// input checks, target, frame buffer, unit rows), and four of them
// against ImageMagick's convert doing the same job on raw RGBA files (read, change, write).
#include "BenchGL.h"
#include "BenchPair.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "GameImage.h"
#include "GameShader.h"
#include "TestNodes.h"

namespace
{
const u32 IMAGE_SIDE = 1024;
const u32 LUT_SIDE = 256;
const u32 BYTES_PER_PIXEL = 4;
const unsigned IMAGE_SEED = 4242;

struct SColorBench
{
    const char* cls;
    const char* program;
    const char* define; // null: none
    const char* convertOp; // null: no convert counterpart
    void (*set)(TArray<SPropDesc>&);
};

const SColorBench NODES[] = {
    {"STexNode_Invert", "Nodes/Color/Invert", nullptr, "-negate", nullptr},
    {"STexNode_Desaturate", "Nodes/Color/DesatAvg", nullptr, "-grayscale Average", nullptr},
    {"STexNode_BrCon", "Nodes/Color/BrCon", nullptr, "-brightness-contrast 10x20",
     [](TArray<SPropDesc>& l) {
         FindPropDesc(l, "BrOff")->AsFloat() = 0.1f;
         FindPropDesc(l, "ConQ")->AsFloat() = 1.25f;
     }},
    {"STexNode_Posterize", "Nodes/Color/Posterize", nullptr, "+dither -posterize 8", [](TArray<SPropDesc>& l) { FindPropDesc(l, "RoundDiv")->AsFloat() = 1.0f / 7.0f; }},
    {"STexNode_SoftContrast", "Nodes/Color/SoftContrast", nullptr, nullptr, nullptr},
    {"STexNode_QuickConvert", "Nodes/Color/QuickConvert", "CONVERSION A,A,A,1", nullptr, nullptr},
    {"STexNode_ChanBlend", "Nodes/Color/ChanBlend", nullptr, nullptr,
     [](TArray<SPropDesc>& l) { FindPropDesc(l, "BlendAmt")->AsVec4() = mVec4(0.25f, 0.5f, 0.75f, 1.0f); }},
    {"STexNode_ColorMatrix", "Nodes/Color/ColorMatrix", nullptr, nullptr, nullptr},
    {"STexNode_ColorLUT2D", "Nodes/Color/LUT2D", nullptr, nullptr, nullptr},
};
const int NODE_COUNT = (int)(sizeof(NODES) / sizeof(NODES[0]));
const int CONVERT_COUNT = 4;

// Links a source holding an RGBA8 image to every input of the node; the colour matrix's rows stay
// unlinked, so that it makes its unit rows as a new node does.
bool FeedInputs(STexProcessor& p, STexProcNode* node, const std::vector<u8>& image, const std::vector<u8>& lut)
{
    const u32 matrixInputs = 5;
    const u32 linked = node->InParams.Count() == matrixInputs ? 1 : node->InParams.Count();
    for (u32 i = 0; i < linked; ++i)
    {
        const bool isLut = gStrCmp(node->InParams[i]->Name.Str(), "LUT") == 0;
        STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
        const u32 side = isLut ? LUT_SIDE : IMAGE_SIDE;
        if (!TEX_Create(src->Output, side, side, 1, 1, TEXFMT_RGBA8, (isLut ? lut : image).data(), TEXF_NodeOutput))
            return false;
        if (!TestLink(p, src, 0, node, i))
            return false;
    }
    return true;
}

void BM_ColorNodeVsBarePass(benchmark::State& state)
{
    const SColorBench& b = NODES[state.range(0)];
    state.SetLabel(b.cls);
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    const std::vector<u8> image = BenchSeededBytes(IMAGE_SIDE, IMAGE_SEED), lut = BenchSeededBytes(LUT_SIDE, IMAGE_SEED);
    STexProcessor p;
    STexProcNode* node = AddClassNode(p, b.cls, b.set);
    if (!node || !FeedInputs(p, node, image, lut) || !node->Process())
    {
        state.SkipWithError(node ? node->Status.Str() : "class not registered");
        return;
    }
    // The program keeps the uniforms the node's pass set; the bare side binds what the node binds:
    // its inputs, and for unlinked matrix rows unit rows made once.
    TArray<TString> defines;
    if (b.define)
        defines.Add(TString(b.define));
    SShader* sp = GetShader(b.program, defines);
    std::vector<TextureRef> bound;
    for (u32 i = 0; i < node->InParams.Count(); ++i)
    {
        TextureRef tex = node->InputTexture(i);
        if (tex.IsNull())
        {
            u8 unit[BYTES_PER_PIXEL] = {0, 0, 0, 0};
            unit[(i - 1) % BYTES_PER_PIXEL] = 255;
            TEX_Create(tex, 1, 1, 1, 1, TEXFMT_RGBA8, unit, TEXF_NodeOutput);
        }
        bound.push_back(tex);
    }

    SPairTimer t;
    for (auto _ : state)
    {
        t.Run([&] { BenchProcess(node); },
              [&] {
                  BenchBarePass(node->Output, sp, bound.data(), (u32)bound.size(), 0);
                  BenchFinish();
              });
    }
    t.Report(state, "node_ms", "bare_ms", 1e3);
}
BENCHMARK(BM_ColorNodeVsBarePass)->DenseRange(0, NODE_COUNT - 1)->Unit(benchmark::kMillisecond);

// Both sides read the raw input file, change the image and write a raw output file.
void BM_ColorNodeVsConvert(benchmark::State& state)
{
    const SColorBench& b = NODES[state.range(0)];
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
    char folder[] = "/tmp/pwbenchcolorXXXXXX";
    if (!mkdtemp(folder))
    {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::string dir = folder, in = dir + "/in.rgba", outNode = dir + "/node.rgba", outConvert = dir + "/im.rgba";
    const std::vector<u8> image = BenchSeededBytes(IMAGE_SIDE, IMAGE_SEED);
    if (!BenchWriteFile(in, image.data(), image.size()))
    {
        state.SkipWithError("cannot write the input file");
        return;
    }
    const std::string command = BenchConvertCommand(IMAGE_SIDE, {in}, b.convertOp, outConvert);
    STexProcessor p;
    STexProcNode* node = AddClassNode(p, b.cls, b.set);
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    TestLink(p, src, 0, node, 0);
    std::vector<u8> bytes(image.size());
    bool failed = false;

    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] {
                SImage2D result;
                failed |= !BenchReadFile(in, bytes) ||
                          !TEX_Create(src->Output, IMAGE_SIDE, IMAGE_SIDE, 1, 1, TEXFMT_RGBA8, bytes.data(),
                                      TEXF_NodeOutput) ||
                          !node->Process() || !TEX_ReadPixels(node->Output.Get(), result) ||
                          !BenchWriteFile(outNode, result.Pixels.data, (size_t)result.Width * result.Height * 4);
            },
            [&] { failed |= system(command.c_str()) != 0; });
    }
    unlink(in.c_str());
    unlink(outNode.c_str());
    unlink(outConvert.c_str());
    rmdir(folder);
    if (failed)
        state.SkipWithError("a side failed");
    t.Report(state, "node_ms", "convert_ms", 1e3);
}
BENCHMARK(BM_ColorNodeVsConvert)->DenseRange(0, CONVERT_COUNT - 1)->Unit(benchmark::kMillisecond);
} // namespace
