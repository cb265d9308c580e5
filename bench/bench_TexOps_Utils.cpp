// The Utils nodes at 1024x1024: Expand (10 passes) and RGB to HSV against ImageMagick's convert
// doing the same job on raw RGBA files (read, change, write back), the alpha pair against a bare
// pass of its program, and 4096 particles of Size 32 against the same quads in one draw call.
#include "BenchGL.h"
#include "BenchPair.h"

#include <GL/glew.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "GameImage.h"
#include "GameShader.h"
#include "GameVertex.h"
#include "TestNodes.h"
#include "TexOps_Utils.h"

namespace
{
const u32 IMAGE_SIDE = 1024;
const u32 BYTES_PER_PIXEL = 4;
const unsigned IMAGE_SEED = 2525;
const s32 EXPAND_PASSES = 10;
const s32 PARTICLES = 4096;
const float PARTICLE_SIZE = 32.0f;
const u32 SPRITE_SIDE = 32;
const u32 QUAD_TRIANGLE_VERTICES = 6;

STestNode_Pins* ByteSource(STexProcessor& p, const std::vector<u8>& px, u32 side)
{
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    TEX_Create(src->Output, side, side, 1, 1, TEXFMT_RGBA8, px.data(), TEXF_NodeOutput);
    return src;
}

struct SConvertBench
{
    const char* cls;
    const char* convertOp;
    std::function<void(TArray<SPropDesc>&)> set;
};

const SConvertBench CONVERT_NODES[] = {
    {"STexNode_Expand", "-morphology Dilate:10 Square",
     [](TArray<SPropDesc>& l) {
         FindPropDesc(l, "Iterations")->AsInt() = EXPAND_PASSES;
         FindPropDesc(l, "Alpha")->AsInt() = 1;
     }},
    {"STexNode_RGBtoALT", "-colorspace HSV", [](TArray<SPropDesc>& l) { FindPropDesc(l, "Mode")->AsInt() = ALT_HSV; }},
};
const int CONVERT_COUNT = (int)(sizeof(CONVERT_NODES) / sizeof(CONVERT_NODES[0]));

void BM_UtilsNodeVsConvert(benchmark::State& state)
{
    const SConvertBench& b = CONVERT_NODES[state.range(0)];
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
    char folder[] = "/tmp/pwbenchutilsXXXXXX";
    if (!mkdtemp(folder))
    {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::string dir = folder, in = dir + "/in.rgba", outNode = dir + "/node.rgba", outConvert = dir + "/im.rgba";
    const std::vector<u8> image = BenchSeededBytes(IMAGE_SIDE, IMAGE_SEED);
    const std::string command = BenchConvertCommand(IMAGE_SIDE, {in}, b.convertOp, outConvert);
    STexProcessor p;
    STexProcNode* node = AddClassNode(p, b.cls, b.set);
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    bool failed = !BenchWriteFile(in, image.data(), image.size()) || !node || !TestLink(p, src, 0, node, 0);
    std::vector<u8> bytes(image.size());

    SPairTimer t;
    for (auto _ : state)
    {
        if (failed)
            break;
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
BENCHMARK(BM_UtilsNodeVsConvert)->DenseRange(0, CONVERT_COUNT - 1)->Unit(benchmark::kMillisecond);

const char* const ALPHA_NODES[][2] = {
    {"STexNode_AlphaPremul", "Nodes/Utils/APremul"},
    {"STexNode_AlphaDePremul", "Nodes/Utils/ADePremul"},
};

// The node's processing against the same program drawn into its output with the input bound.
void BM_AlphaNodeVsBarePass(benchmark::State& state)
{
    const char* cls = ALPHA_NODES[state.range(0)][0];
    const char* program = ALPHA_NODES[state.range(0)][1];
    state.SetLabel(cls);
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor p;
    STexProcNode* node = AddClassNode(p, cls);
    STestNode_Pins* src = ByteSource(p, BenchSeededBytes(IMAGE_SIDE, IMAGE_SEED), IMAGE_SIDE);
    if (!node || !TestLink(p, src, 0, node, 0) || !node->Process())
    {
        state.SkipWithError(node ? node->Status.Str() : "class not registered");
        return;
    }
    SShader* sp = GetShader(program, TArray<TString>());
    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] { BenchProcess(node); },
            [&] {
                BenchBarePass(node->Output, sp, &src->Output, 1, NODE_INPUT_UNITS);
                BenchFinish();
            });
    }
    t.Report(state, "node_ms", "bare_ms", 1e3);
}
BENCHMARK(BM_AlphaNodeVsBarePass)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

// The particle node (positions read back, one fan per quad) against its quads as triangles in one
// draw call with the same program, blend and sprite.
void BM_ParticlesVsOneDrawCall(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor p;
    STexProcNode* pos = AddClassNode(p, "STexNode_PartPos", [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Count")->AsInt() = PARTICLES;
    });
    STexProcNode* render = AddClassNode(p, "STexNode_PartRender", [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Width")->AsInt() = IMAGE_SIDE;
        FindPropDesc(l, "Height")->AsInt() = IMAGE_SIDE;
        FindPropDesc(l, "Size")->AsFloat() = PARTICLE_SIZE;
    });
    STestNode_Pins* sprite = ByteSource(p, BenchSeededBytes(SPRITE_SIDE, IMAGE_SEED), SPRITE_SIDE);
    if (!pos || !render || !TestLink(p, sprite, 0, render, 0) || !TestLink(p, pos, 0, render, 1) || !pos->Process() ||
        !render->Process())
    {
        state.SkipWithError(render ? render->Status.Str() : "class not registered");
        return;
    }
    TPodArray<mVec2> points;
    PartPositions(PARTICLES, 0, PPM_Rectangle, mVec2(0, 0), mVec2(1, 1), points);
    std::vector<STfCVtx> tris;
    for (u32 i = 0; i < points.Count(); ++i)
    {
        TPodArray<SParticleQuad> q;
        ParticleQuads(points[i].x, points[i].y, PARTICLE_SIZE, IMAGE_SIDE, IMAGE_SIDE, false, PARTICLE_QUADS_MAX, q);
        for (u32 k = 0; k < q.Count(); ++k)
        {
            const STfCVtx a = {q[k].L, q[k].T, 0, 0, 1, 0, 1, 1, 1, 1}, b = {q[k].R, q[k].T, 0, 1, 1, 0, 1, 1, 1, 1},
                          c = {q[k].R, q[k].B, 0, 1, 0, 0, 1, 1, 1, 1}, d = {q[k].L, q[k].B, 0, 0, 0, 0, 1, 1, 1, 1};
            const STfCVtx two[QUAD_TRIANGLE_VERTICES] = {a, b, c, a, c, d};
            tris.insert(tris.end(), two, two + QUAD_TRIANGLE_VERTICES);
        }
    }
    SShader* sp = GetShader("Nodes/Utils/Particle", TArray<TString>());
    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] { BenchProcess(render); },
            [&] {
                FrameBufferRef fb(new SFrameBuffer);
                fb->AttachTexture(0, render->Output, FBA_Color);
                CheckFrameBuffer(*fb);
                PushFrameBuffer(fb);
                glClear(GL_COLOR_BUFFER_BIT);
                UseShader(ParticleBlendWord(PB_Normal), sp);
                TEX_Bind(0, sprite->Output);
                DrawTexColoredPrimitives(tris.data(), (u32)tris.size(), GL_TRIANGLES);
                UseShader(0, sp);
                PopFrameBuffer(fb);
                BenchFinish();
            });
    }
    t.Report(state, "node_ms", "one_call_ms", 1e3);
}
BENCHMARK(BM_ParticlesVsOneDrawCall)->Unit(benchmark::kMillisecond);
} // namespace
