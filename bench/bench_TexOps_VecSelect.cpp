// The VecTools and Select nodes on 1024x1024 RGBA8 images: Add, Mul, Min and Max of two images,
// read back, against ImageMagick's convert compositing the same raw RGBA files (read both, combine,
// write), and each Select node against a bare full-screen pass of its program into the same
// target with the same textures bound (the node's overhead: input checks, target, frame buffer).
#include "BenchPair.h"

#include <GL/glew.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
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
// The debian package's program, by its full path so that nothing else on the path stands in.
const char* const CONVERT = "/usr/bin/convert";

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

bool BenchGL()
{
    static SWindowSystem* system = nullptr;
    static SWindow* window = nullptr;
    if (!system)
    {
        system = new SWindowSystem();
        window = new SWindow(system);
        GWindowSystem = system;
        GWindow = window;
        R_SetMode(GScreenWidth, GScreenHeight, 0, GRefreshRate, 0, 1);
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
        exe[n > 0 ? n : 0] = 0;
        BuildBaseFolder(exe, "RERudu", GBaseFolder);
    }
    if (!window->MakeCurrent())
        return false;
    R_SetGLDefaults();
    if (!GSM)
        CreateShaderStorage();
    return true;
}

std::vector<u8> SeededBytes(unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<u8> px(IMAGE_SIDE * IMAGE_SIDE * BYTES_PER_PIXEL);
    for (u8& b : px)
        b = (u8)(rng() & 0xFF);
    return px;
}

STexProcNode* AddNode(STexProcessor& p, const char* cls)
{
    SClassInfo* info = FindClassInfo(cls);
    if (!info)
        return nullptr;
    TArray<SPropDesc> list;
    InstantiatePropTable(list, info->Props);
    STexProcNode* node = dynamic_cast<STexProcNode*>(info->Create(list));
    p.AddNode(node, 0);
    return node;
}

bool WriteRaw(const std::string& path, const void* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

bool ReadRaw(const std::string& path, std::vector<u8>& out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    const bool ok = fread(out.data(), 1, out.size(), f) == out.size();
    fclose(f);
    return ok;
}

// Both sides read the two raw input files, combine them and write a raw RGBA8 output file.
void BM_VecToolsNodeVsConvert(benchmark::State& state)
{
    const SVecBench& b = VEC_NODES[state.range(0)];
    state.SetLabel(b.cls);
    if (access(CONVERT, X_OK) != 0)
    {
        state.SkipWithError("imagemagick's convert is not installed");
        return;
    }
    if (!BenchGL())
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
        const std::vector<u8> image = SeededBytes(IMAGE_SEED + i);
        failed |= !WriteRaw(in[i], image.data(), image.size());
    }
    const std::string size = std::to_string(IMAGE_SIDE) + "x" + std::to_string(IMAGE_SIDE);
    const std::string command = std::string(CONVERT) + " -size " + size + " -depth 8 rgba:" + in[0] + " rgba:" +
                                in[1] + " -compose " + b.compose + " -composite rgba:" + outConvert;
    STexProcessor p;
    STexProcNode* node = AddNode(p, b.cls);
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
                    failed |= !ReadRaw(in[i], bytes) || !TEX_Create(src[i]->Output, IMAGE_SIDE, IMAGE_SIDE, 1, 1,
                                                                    TEXFMT_RGBA8, bytes.data(), TEXF_NodeOutput);
                SImage2D result;
                failed |= !node->Process() || !TEX_ReadPixels(node->Output.Get(), result) ||
                          !WriteRaw(outNode, result.Pixels.data, (size_t)result.Width * result.Height * 4);
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
    if (!BenchGL())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor p;
    STexProcNode* node = AddNode(p, b.cls);
    std::vector<TextureRef> bound;
    for (u32 i = 0; node && i < node->InParams.Count(); ++i)
    {
        STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
        const std::vector<u8> image = SeededBytes(IMAGE_SEED + i);
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
            [&] {
                node->Process();
                glFinish();
            },
            [&] {
                FrameBufferRef fb(new SFrameBuffer);
                fb->AttachTexture(0, node->Output, FBA_Color);
                CheckFrameBuffer(*fb);
                PushFrameBuffer(fb);
                glClear(GL_COLOR_BUFFER_BIT);
                UseShader(0, sp);
                for (u32 i = 0; i < bound.size(); ++i)
                    TEX_Bind(i, bound[i]);
                DrawFullscreenQuad(-1, 1, 1, -1, 0);
                PopFrameBuffer(fb);
                glFinish();
            });
    }
    t.Report(state, "node_ms", "bare_ms", 1e3);
}
BENCHMARK(BM_SelectNodeVsBarePass)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
} // namespace
