// The Generate family at 1024x1024 with the output read back: each GPU generator's processing
// against a bare full-screen pass of its program into a ready target (the kernel's with its mip
// chain), and the CPU noise and two
// gradients against ImageMagick's convert making the like image as raw RGBA.
#include "BenchGL.h"
#include "BenchPair.h"

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "GameImage.h"
#include "GameShader.h"
#include "GameVertex.h"
#include "TestNodes.h"
#include "TexOps_Generate.h"

namespace
{
const int SIZE = 1024;

STexProcNode* MakeNode(STexProcessor& p, const char* cls)
{
    return AddClassNode(p, cls, [](TArray<SPropDesc>& list) {
        FindPropDesc(list, "Width")->AsInt() = SIZE;
        FindPropDesc(list, "Height")->AsInt() = SIZE;
    });
}

void ReadBack(const TextureRef& t, SImage2D& img)
{
    TEX_ReadPixels(t.Get(), img);
}

const char* const GPU_CLASSES[] = {"STexNode_GPUNoise",       "STexNode_GPUClouds",      "STexNode_LinearGradient",
                                   "STexNode_RadialGradient", "STexNode_BoxGradient",    "STexNode_Grid",
                                   "STexNode_BlurKernel"};

void BM_GeneratorAgainstBarePass(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    const char* cls = GPU_CLASSES[state.range(0)];
    state.SetLabel(cls);
    STexProcessor p;
    STexProcNode* n = MakeNode(p, cls);
    if (!n->Process())
    {
        state.SkipWithError(n->Status.Str());
        return;
    }
    // The bare side: the same program and uniforms into a target made once, substitutes bound.
    TGenUniforms uniforms;
    const char* program = BLUR_KERNEL_PROGRAMS[0];
    if (auto* two = dynamic_cast<STexNode_GenTwoInputs*>(n))
        two->Uniforms(uniforms), program = two->Program();
    else if (auto* noise = dynamic_cast<STexNode_GPUNoise*>(n))
        noise->Uniforms(uniforms), program = GEN_PROGRAMS[0];
    // The kernel's output is its image with the mip chain: the bare side builds the chain too.
    const bool mips = dynamic_cast<STexNode_BlurKernel*>(n) != nullptr;
    SShader* sp = GetShader(program);
    TextureRef target, black, white;
    const u8 texels[2][4] = {{0, 0, 0, 0}, {255, 255, 255, 255}};
    TEX_Create(target, SIZE, SIZE, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput);
    TEX_Create(black, 1, 1, 1, 1, TEXFMT_RGBA8, texels[0], TEXF_NodeOutput);
    TEX_Create(white, 1, 1, 1, 1, TEXFMT_RGBA8, texels[1], TEXF_NodeOutput);
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, target, FBA_Color);
    CheckFrameBuffer(*fb);
    const int units[2] = {0, 1};
    SImage2D a, b;

    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] {
                n->Process();
                ReadBack(n->Output, a);
            },
            [&] {
                PushFrameBuffer(fb);
                UseShader(0, sp);
                SetUniformIntArray(sp, "InputTexture", units, 2);
                TEX_Bind(0, black);
                TEX_Bind(1, white);
                for (u32 i = 0; i < uniforms.Count(); ++i)
                {
                    const SGenUniform& u = uniforms[i];
                    if (u.Kind == GU_Int)
                        SetUniformInt(sp, u.Name, u.I);
                    else if (u.Kind == GU_Float)
                        SetUniformFloat(sp, u.Name, u.V[0]);
                    else
                        SetUniformVec2(sp, u.Name, u.V);
                }
                DrawFullscreenQuad(-1, 1, 1, -1, 0);
                PopFrameBuffer(fb);
                if (mips)
                    TEX_GenerateMipmaps(target.Get());
                ReadBack(target, b);
            });
    }
    t.Report(state, "node_ms", "bare_pass_ms", 1e3);
}
BENCHMARK(BM_GeneratorAgainstBarePass)->DenseRange(0, 6)->Unit(benchmark::kMillisecond)->UseRealTime();

// The like image from convert as raw RGBA bytes, read whole from its output.
bool RunConvert(const char* image, std::vector<unsigned char>& out)
{
    char cmd[512];
    snprintf(cmd, sizeof(cmd), "%s -size %dx%d %s -depth 8 rgba:- 2>/dev/null", BENCH_CONVERT, SIZE, SIZE, image);
    FILE* f = popen(cmd, "r");
    if (!f)
        return false;
    out.resize((size_t)SIZE * SIZE * 4);
    const size_t got = fread(out.data(), 1, out.size(), f);
    return pclose(f) == 0 && got == out.size();
}

const struct
{
    const char* cls;
    const char* image;
} CONVERT_CASES[] = {
    {"STexNode_CPUNoise", "xc: +noise Random"},
    {"STexNode_LinearGradient", "gradient:"},
    {"STexNode_RadialGradient", "radial-gradient:"},
};

void BM_GeneratorAgainstConvert(benchmark::State& state)
{
    if (access(BENCH_CONVERT, X_OK) != 0)
    {
        state.SkipWithError("no /usr/bin/convert (Debian package imagemagick)");
        return;
    }
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    const auto& c = CONVERT_CASES[state.range(0)];
    state.SetLabel(c.cls);
    STexProcessor p;
    STexProcNode* n = MakeNode(p, c.cls);
    std::vector<unsigned char> bytes;
    if (!n->Process() || !RunConvert(c.image, bytes))
    {
        state.SkipWithError("the node or convert failed");
        return;
    }
    SImage2D img;
    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] {
                n->Process();
                ReadBack(n->Output, img);
            },
            [&] { RunConvert(c.image, bytes); });
    }
    t.Report(state, "node_ms", "convert_ms", 1e3);
}
BENCHMARK(BM_GeneratorAgainstConvert)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
} // namespace
