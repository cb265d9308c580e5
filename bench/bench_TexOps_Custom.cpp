// A graph wrapped as a Processor node against the same graph processed directly: a 1024 x 1024
// image file, a transform of it, a blend of both and an output, with the transform's rotation
// exposed and changed on every run (so the wrapped side re-creates the transform node each time).
#include "BenchPair.h"

#include <GL/glew.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "GameCore.h"
#include "GameFileIO.h"
#include "GameShader.h"
#include "GameWindow.h"
#include "TexDocPath.h"
#include "TexOps_BasicImage.h"
#include "TexOps_Custom.h"

namespace
{
const u32 IMAGE_SIZE = 1024;
const u32 TGA_HEADER = 18;
const s32 TRANSFORM_ROT_CHANNEL = 2; // "Off[x]", "Off[y]", "Rot"
const float ROT_STEP = 7.0f;
const char* const IMAGE = "/tmp/pw_bench_custom.tga";
const char* const DOC = "/tmp/pw_bench_custom.kvf";

bool BenchCustomGL()
{
    // Another benchmark of the same program may have brought the window up already.
    if (!GWindow)
    {
        GWindowSystem = new SWindowSystem();
        GWindow = new SWindow(GWindowSystem);
        R_SetMode(GScreenWidth, GScreenHeight, 0, GRefreshRate, 0, 1);
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
        exe[n > 0 ? n : 0] = 0;
        BuildBaseFolder(exe, "RERudu", GBaseFolder);
    }
    if (!GWindow->MakeCurrent())
        return false;
    R_SetGLDefaults();
    if (!GSM)
        CreateShaderStorage();
    return true;
}

// A 32-bit TGA of gradients, top row first.
bool WriteImage()
{
    std::vector<u8> b(TGA_HEADER, 0);
    b[2] = 2;
    b[12] = (u8)(IMAGE_SIZE & 0xFF), b[13] = (u8)(IMAGE_SIZE >> 8);
    b[14] = (u8)(IMAGE_SIZE & 0xFF), b[15] = (u8)(IMAGE_SIZE >> 8);
    b[16] = 32, b[17] = 0x28;
    for (u32 y = 0; y < IMAGE_SIZE; ++y)
        for (u32 x = 0; x < IMAGE_SIZE; ++x)
            b.insert(b.end(), {(u8)(y * 255 / IMAGE_SIZE), (u8)((x ^ y) & 0xFF), (u8)(x * 255 / IMAGE_SIZE), 255});
    FILE* f = fopen(IMAGE, "wb");
    bool ok = f && fwrite(b.data(), 1, b.size(), f) == b.size();
    return f && fclose(f) == 0 && ok;
}

STexProcNode* Add(STexProcessor& p, const char* cls, const char* name)
{
    SClassInfo* info = FindClassInfo(cls);
    TArray<SPropDesc> list;
    InstantiatePropTable(list, info->Props);
    FindPropDesc(list, "NName")->AsString() = name;
    if (SPropDesc* tex = FindPropDesc(list, "TexName"))
        tex->AsString() = IMAGE;
    STexProcNode* node = dynamic_cast<STexProcNode*>(info->Create(list));
    p.AddNode(node, 0);
    return node;
}

bool WriteDocument()
{
    STexProcessor g;
    STexProcNode* file = Add(g, "STexNode_File", "file");
    STexProcNode* transform = Add(g, "STexNode_Transform", "transform");
    STexProcNode* blend = Add(g, "STexNode_Blend", "blend");
    STexProcNode* out = Add(g, "STexNode_Output", "out");
    STexNode_Param* param = static_cast<STexNode_Param*>(Add(g, "STexNode_Param", "param"));
    param->NodeName = "transform";
    param->Param = TRANSFORM_ROT_CHANNEL;
    g.Link(file->OutParams[0], transform->InParams[0]);
    g.Link(file->OutParams[0], blend->InParams[0]);
    g.Link(transform->OutParams[0], blend->InParams[1]);
    g.Link(blend->OutParams[0], out->InParams[0]);
    return g.SaveDocument(DOC) != 0;
}

void WrappedAgainstDirect(benchmark::State& state)
{
    const TString savedDoc = CurrentDocumentPath();
    if (!BenchCustomGL() || !WriteImage() || !WriteDocument())
    {
        state.SkipWithError("needs a GL context and a writable /tmp");
        return;
    }
    STexProcessor direct;
    direct.LoadDocument(DOC, 1, 1);
    STexProcessor outer;
    STexNode_Proc* proc = static_cast<STexNode_Proc*>(Add(outer, "STexNode_Proc", "proc"));
    proc->Load(TString(DOC));
    STexProcNode* transform = direct.FindNodeByName("transform");
    if (proc->Params.Count() != 1 || proc->OutParams.Count() != 1 || !transform)
    {
        state.SkipWithError("the document did not load as a sub-graph");
        return;
    }
    float rot = 0.0f;
    SPairTimer t;
    for (auto _ : state)
    {
        rot += ROT_STEP;
        t.Run(
            [&] {
                proc->Params[0].Value.Float = rot;
                outer.ProcessAll();
                glFinish();
            },
            [&] {
                // The direct side re-creates nothing: its node takes the value in place.
                static_cast<STexNode_Transform*>(transform)->Rot = rot;
                direct.ProcessAll();
                glFinish();
            });
    }
    if (!proc->Status.IsEmpty() || proc->GetOutput(0).IsNull())
        state.SkipWithError("the wrapped graph failed");
    t.Report(state, "wrapped_ms", "direct_ms", 1e3);
    unlink(IMAGE);
    unlink(DOC);
    SetCurrentDocumentPath(savedDoc);
}
} // namespace

BENCHMARK(WrappedAgainstDirect)->Unit(benchmark::kMillisecond);
