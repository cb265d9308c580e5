// The Generate family: constant colours and CPU noise made in memory, and the single-pass GPU
// generators (noise, clouds, gradients, grid, blur kernels), with the family menu.
#include "TexOps_Generate.h"

#include <GL/glew.h>

#include <cmath>

#include "GameShader.h"
#include "GameVertex.h"

const char* const BLUR_KERNEL_TEXTS[BLUR_KERNEL_COUNT] = {"Gaussian", "Cosine"};
const char* const BLUR_KERNEL_PROGRAMS[BLUR_KERNEL_COUNT] = {"Nodes/Generate/K_Gaussian", "Nodes/Generate/K_Cosine"};

namespace
{
const char* const NOISE_PROGRAM = "Nodes/Generate/Noise";
const char* const CLOUDS_PROGRAM = "Nodes/Generate/Clouds";
const char* const LINEAR_PROGRAM = "Nodes/Generate/LinearGradient";
const char* const RADIAL_PROGRAM = "Nodes/Generate/RadialGradient";
const char* const BOX_PROGRAM = "Nodes/Generate/BoxGradient";
const char* const GRID_PROGRAM = "Nodes/Generate/Grid";

const char* const OPT_INPUT_1 = "[opt] T. 1";
const char* const OPT_INPUT_2 = "[opt] T. 2";
const char* const PIN_COLOR = "Color";
const char* const PIN_TEXTURE = "Texture";
const char* const PIN_OUTPUT = "Output";

const float BIG = 3.4028235e38f;
const s32 INT_LO = -2147483647 - 1;
const s32 INT_HI = 2147483647;
const s32 PANEL_SIZE_MAX = 4096;
const s32 PANEL_SCALE_MAX = 1024;
const float PANEL_SNAP_MAX = 1000.0f;
const float SNAP_OF_SNAP = 1.0f;
const s32 DEFAULT_SIZE = 256;
const u32 STATUS_SIZE = 256;
const u32 SWATCH_LABEL_COLOR = 0xFFFFFFFFu;
const float HSV_SWATCH_VALUE = 0.5f;
// Colours and substitutes: linear filtering, no mip chain. The CPU noise keeps its mip chain.
const u32 MEMORY_TEX_FLAGS = TEXF_NotStreamed | TEXF_NoMipmaps;
const u32 CPU_NOISE_TEX_FLAGS = 0;
const u8 NOISE_LEVELS = 255; // grey levels 0..254
const u8 OPAQUE = 255;
const u8 SUBSTITUTE_TEXELS[2][4] = {{0, 0, 0, 0}, {255, 255, 255, 255}};

bool Finite2(const mVec2& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y);
}

// Positions and sizes that are no finite number reach the programs as 0, so that no pass
// computes with them.
mVec2 FiniteOr0(const mVec2& v)
{
    return Finite2(v) ? v : mVec2(std::isfinite(v.x) ? v.x : 0.0f, std::isfinite(v.y) ? v.y : 0.0f);
}

mVec2 NonNegative(const mVec2& v)
{
    return mVec2(v.x > 0.0f ? v.x : 0.0f, v.y > 0.0f ? v.y : 0.0f);
}

s32 ClampInt(s32 v, s32 lo, s32 hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

void AddUniform(TGenUniforms& out, const char* name, u32 kind, s32 i, float x, float y)
{
    SGenUniform u;
    u.Name = name;
    u.Kind = kind;
    u.I = i;
    u.V[0] = x;
    u.V[1] = y;
    out.Add(u);
}
void AddFloat(TGenUniforms& out, const char* name, float v) { AddUniform(out, name, GU_Float, 0, v, 0); }
void AddVec2(TGenUniforms& out, const char* name, float x, float y) { AddUniform(out, name, GU_Vec2, 0, x, y); }
void AddInt(TGenUniforms& out, const char* name, s32 v) { AddUniform(out, name, GU_Int, v, 0, 0); }

void SendUniforms(SShader* sp, const TGenUniforms& u)
{
    for (u32 i = 0; i < u.Count(); ++i)
    {
        const SGenUniform& x = u[i];
        switch (x.Kind)
        {
        case GU_Int: SetUniformInt(sp, x.Name, x.I); break;
        case GU_Float: SetUniformFloat(sp, x.Name, x.V[0]); break;
        default: SetUniformVec2(sp, x.Name, x.V); break;
        }
    }
}

bool SizeInRange(STexProcNode& node, s32 w, s32 h)
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (w >= 1 && h >= 1 && w <= maxSize && h <= maxSize)
        return true;
    node.Status.Format(STATUS_SIZE, "Process: size %dx%d is outside 1..%d", (int)w, (int)h, (int)maxSize);
    node.Output.Release();
    return false;
}

// A texture made in memory; 0 with the status text set when the texture is refused.
int CreateChecked(STexProcNode& node, TextureRef& ref, u32 w, u32 h, u32 format, const void* pixels, u32 flags)
{
    if (TEX_Create(ref, w, h, 1, 1, format, pixels, flags) && !ref.IsNull() && ref->GLName)
        return 1;
    node.Status.Format(STATUS_SIZE, "TEX_Create: texture of %ux%u in format %u was refused", w, h, format);
    ref.Release();
    return 0;
}

int ColorTexture(STexProcNode& node, const mVec4& c)
{
    const float texel[4] = {c.x, c.y, c.z, c.w};
    return CreateChecked(node, node.Output, 1, 1, TEXFMT_RGBA32F, texel, MEMORY_TEX_FLAGS);
}

// The pass of a generator into the node's output, which the caller has made: the frame buffer,
// the clear, the program with the linked inputs bound and the substitutes on the units of the
// missing ones, the uniforms and one full-screen quad. 0 with the status text set on failure.
// The quad writes every texel without blending and the target has no depth, so the cleared
// colour never shows: the one clear of the output pass serves all classes.
int GenPass(STexProcNode& node, const char* program, const TextureRef* substitutes, const TGenUniforms& uniforms)
{
    FrameBufferRef fb;
    if (!node.BeginOutputPass(fb))
        return 0;
    const TArray<TString> defines;
    node.BindInputTextures(program, defines);
    SShader* sp = GCurShader;
    if (!sp || !sp->Program)
    {
        node.EndOutputPass(fb);
        node.Status.Format(STATUS_SIZE, "Process: program %s did not build", program);
        return 0;
    }
    if (substitutes)
        for (u32 i = 0; i < 2; ++i)
            if (!substitutes[i].IsNull())
                TEX_Bind(i, substitutes[i]);
    SendUniforms(sp, uniforms);
    DrawFullscreenQuad(-1, 1, 1, -1, 0);
    node.EndOutputPass(fb);
    return 1;
}

// Reads a hue, saturation and value entry, which the shared parameter access has no type for.
mVec3 ReadHsv(TArray<SPropDesc>& list, u32 k)
{
    if (BREAK_IF_TEXT(k >= list.Count(), "at >= count"))
        return mVec3(0, 0, 0);
    if (BREAK_IF_TEXT(list[k].Type != EVT_ColHSV, "Type != EVT_ColHSV"))
        return mVec3(0, 0, 0);
    return list[k].Default.Vec3;
}

void WriteHsv(TArray<SPropDesc>& list, u32 k, const mVec3& v)
{
    if (BREAK_IF_TEXT(k >= list.Count(), "at >= count"))
        return;
    if (BREAK_IF_TEXT(list[k].Type != EVT_ColHSV, "Type != EVT_ColHSV"))
        return;
    list[k].Default.Vec3 = v;
}

// The rows of a panel, top down, by the shared row conventions, and a colour swatch.
class FGenPanel : public FNodePanel
{
public:
    using FNodePanel::FNodePanel;

    void Swatch(const char* label, const mVec4& c)
    {
        Node.GuiLabel(label, SWATCH_LABEL_COLOR, 0, NodeRowLabel(R, Row));
        mRect s;
        Node.TransformRect(s, NodeRowField(R, Row));
        Node.UseColorOnly();
        Node.DrawRect(s, c, true);
        ++Row;
    }
};
} // namespace

const char* const GEN_PROGRAMS[GEN_PROGRAM_COUNT] = {
    NOISE_PROGRAM, CLOUDS_PROGRAM, LINEAR_PROGRAM, RADIAL_PROGRAM, BOX_PROGRAM, GRID_PROGRAM,
    "Nodes/Generate/K_Gaussian", "Nodes/Generate/K_Cosine",
};

// ---------------------------------------------------------------------------------------------
// Colours

void HsvToRgb(float out[4], const float hsv[3])
{
    const float s = hsv[1], v = hsv[2];
    float h = std::isfinite(hsv[0]) ? std::fmod(hsv[0], 1.0f) : 0.0f;
    if (h < 0.0f)
        h += 1.0f;
    const double x = (double)h * 6.0;
    const float xf = (float)x;
    const int sector = ((int)std::floor(xf)) % 6;
    const float f = (float)(x - std::floor((double)xf));
    const float p = (1.0f - s) * v;
    const float q = (1.0f - s * f) * v;
    const float t = (1.0f - s * (1.0f - f)) * v;
    const float rows[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    const float* c = rows[sector < 0 ? 0 : sector];
    out[0] = c[0];
    out[1] = c[1];
    out[2] = c[2];
    out[3] = 1.0f;
}

const SPropDesc* STexNode_ColorRGBA::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec4(EVT_ColRGBA, "Color", mVec4(0, 0, 0, 0), mVec4(-BIG, -BIG, -BIG, -BIG), mVec4(BIG, BIG, BIG, BIG)),
        PropFloat("SnapDiv", 0.0f, -BIG, BIG),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_ColorRGBA)

STexNode_ColorRGBA::STexNode_ColorRGBA(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "RGBA Color";
    OutParams.Add(new NodePin(PIN_COLOR, this, 0));
    FNodeParams params(list);
    Color = params.Vec4(P_Color, EVT_ColRGBA);
    SnapDiv = params.Float(P_SnapDiv);
}

int STexNode_ColorRGBA::Process()
{
    return ColorTexture(*this, Color);
}

void STexNode_ColorRGBA::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetVec4(P_Color, EVT_ColRGBA, Color);
    params.SetFloat(P_SnapDiv, SnapDiv);
}

float STexNode_ColorRGBA::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    FGenPanel p(*this, r);
    p.Float("Red", &Color.x, -BIG, BIG, snap);
    p.Float("Green", &Color.y, -BIG, BIG, snap);
    p.Float("Blue", &Color.z, -BIG, BIG, snap);
    p.Float("Alpha", &Color.w, -BIG, BIG, snap);
    p.Float("Snap div.", &SnapDiv, 0.0f, PANEL_SNAP_MAX, SNAP_OF_SNAP);
    p.Swatch("Color", Color);
    mVec3 n(Color.x, Color.y, Color.z);
    n.Normalize();
    p.Swatch("Norm. RGB", mVec4(n.x, n.y, n.z, 1.0f));
    return p.Finish();
}

const SPropDesc* STexNode_ColorHSVA::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec3(EVT_ColHSV, "Color", mVec3(0, 0, 0), mVec3(0, 0, 0), mVec3(1, 1, BIG)),
        PropFloat("Alpha", 0.0f, -BIG, BIG),
        PropFloat("SnapDiv", 0.0f, -BIG, BIG),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_ColorHSVA)

STexNode_ColorHSVA::STexNode_ColorHSVA(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "HSVA Color";
    OutParams.Add(new NodePin(PIN_COLOR, this, 0));
    FNodeParams params(list);
    Color = ReadHsv(list, P_Color);
    Alpha = params.Float(P_Alpha);
    SnapDiv = params.Float(P_SnapDiv);
}

mVec4 STexNode_ColorHSVA::Rgba() const
{
    const float hsv[3] = {Color.x, Color.y, Color.z};
    float c[4];
    HsvToRgb(c, hsv);
    return mVec4(c[0], c[1], c[2], Alpha);
}

int STexNode_ColorHSVA::Process()
{
    return ColorTexture(*this, Rgba());
}

void STexNode_ColorHSVA::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    WriteHsv(list, P_Color, Color);
    params.SetFloat(P_Alpha, Alpha);
    params.SetFloat(P_SnapDiv, SnapDiv);
}

float STexNode_ColorHSVA::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    FGenPanel p(*this, r);
    p.Float("Hue", &Color.x, 0.0f, 1.0f, snap);
    p.Float("Saturation", &Color.y, 0.0f, 1.0f, snap);
    p.Float("Value", &Color.z, -BIG, BIG, snap);
    p.Float("Alpha", &Alpha, -BIG, BIG, snap);
    p.Float("Snap div.", &SnapDiv, 0.0f, PANEL_SNAP_MAX, SNAP_OF_SNAP);
    p.Swatch("Color", Rgba());
    const float hsv[3] = {Color.x, Color.y, HSV_SWATCH_VALUE};
    float c[4];
    HsvToRgb(c, hsv);
    p.Swatch("Norm. HSV", mVec4(c[0], c[1], c[2], 1.0f));
    return p.Finish();
}

// ---------------------------------------------------------------------------------------------
// Width, height and a third integer

STexNode_GenSized::STexNode_GenSized(TArray<SPropDesc>& list, const char* title, const char* output)
    : STexProcNode(list)
{
    Title = title;
    OutParams.Add(new NodePin(output, this, 0));
    FNodeParams params(list);
    Width = params.Int(P_Width, DEFAULT_SIZE);
    Height = params.Int(P_Height, DEFAULT_SIZE);
    Third = params.Int(P_Third);
}

void STexNode_GenSized::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
    params.SetInt(P_Third, Third);
}

float STexNode_GenSized::PropertyPanel(const mRect& r)
{
    FGenPanel p(*this, r);
    p.Int("Width", &Width, 1, PANEL_SIZE_MAX);
    p.Int("Height", &Height, 1, PANEL_SIZE_MAX);
    p.Int("Seed", &Third, 0, INT_HI);
    return p.Finish();
}

bool STexNode_GenSized::SizeUsable()
{
    return SizeInRange(*this, Width, Height);
}

#define GEN_SIZED_PROPS(third)                                                                     \
    static const SPropDesc table[] = {                                                             \
        PropInherit("STexProcNode", STexProcNode::PropTable()),                                    \
        PropInt("Width", DEFAULT_SIZE, INT_LO, INT_HI),                                            \
        PropInt("Height", DEFAULT_SIZE, INT_LO, INT_HI),                                           \
        PropInt(third, 0, INT_LO, INT_HI),                                                         \
        PropNull(),                                                                                \
    };                                                                                             \
    return table;

const SPropDesc* STexNode_CPUNoise::Props() { GEN_SIZED_PROPS("Seed") }
const SPropDesc* STexNode_GPUNoise::Props() { GEN_SIZED_PROPS("Seed") }
const SPropDesc* STexNode_BlurKernel::Props() { GEN_SIZED_PROPS("Type") }
#undef GEN_SIZED_PROPS

TEX_NODE_CLASS(STexNode_CPUNoise)
TEX_NODE_CLASS(STexNode_GPUNoise)
TEX_NODE_CLASS(STexNode_BlurKernel)

STexNode_CPUNoise::STexNode_CPUNoise(TArray<SPropDesc>& list) : STexNode_GenSized(list, "Noise", PIN_TEXTURE) {}

int STexNode_CPUNoise::Process()
{
    // The size is checked before the array exists: a document's -1 would ask for gigabytes.
    if (!SizeUsable())
        return 0;
    const u64 n = (u64)Width * (u64)Height;
    const u64 bytes = n * 4;
    TPodArray<u8> pixels;
    // A driver with a limit of 32768 would let the byte count pass 32 bits.
    if (bytes > (u64)0xFFFFFFFFu || !pixels.Resize((u32)bytes))
    {
        Status.Format(STATUS_SIZE, "Process: no memory for %dx%d noise texels", (int)Width, (int)Height);
        Output.Release();
        return 0;
    }
    gSRand((u32)Third);
    u8* px = pixels.data;
    for (u64 i = 0; i < n; ++i, px += 4)
    {
        const u8 g = (u8)(gRand() % NOISE_LEVELS);
        px[0] = px[1] = px[2] = g;
        px[3] = OPAQUE;
    }
    return CreateChecked(*this, Output, (u32)Width, (u32)Height, TEXFMT_RGBA8, pixels.data, CPU_NOISE_TEX_FLAGS);
}

STexNode_GPUNoise::STexNode_GPUNoise(TArray<SPropDesc>& list) : STexNode_GenSized(list, "Noise", PIN_TEXTURE) {}

void STexNode_GPUNoise::Uniforms(TGenUniforms& out) const
{
    AddVec2(out, "TextureSize", (float)Width, (float)Height);
    AddFloat(out, "Seed", (float)Third);
}

int STexNode_GPUNoise::Process()
{
    if (!SizeUsable())
        return 0;
    // Its own target, always RGBA 8-bit: the format override does not apply. The last run's
    // texture is kept when it already is that, as output targets are.
    const STexture* t = Output.Get();
    const bool reuse = t && t->GLName && t->Width == (u32)Width && t->Height == (u32)Height && t->Depth == 1 &&
                       t->Format == TEXFMT_RGBA8;
    if (!reuse && !CreateChecked(*this, Output, (u32)Width, (u32)Height, TEXFMT_RGBA8, nullptr, MEMORY_TEX_FLAGS))
        return 0;
    TGenUniforms u;
    Uniforms(u);
    return GenPass(*this, NOISE_PROGRAM, nullptr, u);
}

STexNode_BlurKernel::STexNode_BlurKernel(TArray<SPropDesc>& list) : STexNode_GenSized(list, "Blur kernel", PIN_TEXTURE)
{
}

const char* STexNode_BlurKernel::TypeText() const
{
    return Third >= 0 && (u32)Third < BLUR_KERNEL_COUNT ? BLUR_KERNEL_TEXTS[Third] : "?";
}

int STexNode_BlurKernel::Process()
{
    if (!SizeUsable() || !NodeEnumInRange(*this, "Type", Third, (s32)BLUR_KERNEL_COUNT))
        return 0;
    if (!CreateOutputTarget((u32)Width, (u32)Height, TEXFMT_RGBA8))
        return 0;
    const TGenUniforms none;
    if (!GenPass(*this, BLUR_KERNEL_PROGRAMS[Third], nullptr, none))
        return 0;
    TEX_GenerateMipmaps(Output.Get());
    return 1;
}

float STexNode_BlurKernel::PropertyPanel(const mRect& r)
{
    FGenPanel p(*this, r);
    p.Int("Width", &Width, 1, PANEL_SIZE_MAX);
    p.Int("Height", &Height, 1, PANEL_SIZE_MAX);
    const mRect f = p.Label("Type");
    if (Button(NodeRowId(r, f), f, TypeText()) && Owner)
        OpenEnumMenu(Owner, this, &Third, BLUR_KERNEL_TEXTS, BLUR_KERNEL_COUNT, f);
    ++p.Row;
    return p.Finish();
}

// ---------------------------------------------------------------------------------------------
// Generators with two optional inputs

STexNode_GenTwoInputs::STexNode_GenTwoInputs(TArray<SPropDesc>& list, const char* title, const char* output)
    : STexProcNode(list)
{
    Title = title;
    InParams.Add(new NodePin(OPT_INPUT_1, this, 0));
    InParams.Add(new NodePin(OPT_INPUT_2, this, 1));
    OutParams.Add(new NodePin(output, this, 0));
    // Every class of these keeps width and height in entries 1 and 2.
    FNodeParams params(list);
    Width = params.Int(1, DEFAULT_SIZE);
    Height = params.Int(2, DEFAULT_SIZE);
}

int STexNode_GenTwoInputs::Process()
{
    if (!SizeInRange(*this, Width, Height))
        return 0;
    TextureRef present[2];
    TextureRef substitutes[2];
    u32 format = TEXFMT_RGBA8;
    for (u32 i = 0; i < 2; ++i)
    {
        // A linked source without a texture counts as no input: its substitute takes its place.
        present[i] = InputTexture(i);
        if (!NodeTextureUsable(present[i]))
        {
            present[i].Release();
            if (!CreateChecked(*this, substitutes[i], 1, 1, TEXFMT_RGBA8, SUBSTITUTE_TEXELS[i], MEMORY_TEX_FLAGS))
                return 0;
        }
        const u32 f = present[i].IsNull() ? substitutes[i]->Format : present[i]->Format;
        if (f > format)
            format = f;
    }
    if (!CreateOutputTarget((u32)Width, (u32)Height, format))
        return 0;
    TGenUniforms u;
    Uniforms(u);
    return GenPass(*this, Program(), substitutes, u);
}

// Clouds

const SPropDesc* STexNode_GPUClouds::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", DEFAULT_SIZE, INT_LO, INT_HI),
        PropInt("Height", DEFAULT_SIZE, INT_LO, INT_HI),
        PropInt("Seed", 0, INT_LO, INT_HI),
        PropInt("OctDataX", 1, INT_LO, INT_HI),
        PropInt("OctDataY", 12, INT_LO, INT_HI),
        PropInt("DetScaleX", 8, INT_LO, INT_HI),
        PropInt("DetScaleY", 8, INT_LO, INT_HI),
        PropInt("Uniform", 1, INT_LO, INT_HI),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_GPUClouds)

STexNode_GPUClouds::STexNode_GPUClouds(TArray<SPropDesc>& list) : STexNode_GenTwoInputs(list, "Noise", PIN_TEXTURE)
{
    FNodeParams params(list);
    Seed = params.Int(P_Seed);
    OctDataX = params.Int(P_OctDataX, 1);
    OctDataY = params.Int(P_OctDataY, 12);
    DetScaleX = params.Int(P_DetScaleX, 8);
    DetScaleY = params.Int(P_DetScaleY, 8);
    Uniform = params.Int(P_Uniform, 1);
}

void STexNode_GPUClouds::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    const s32 values[] = {Width, Height, Seed, OctDataX, OctDataY, DetScaleX, DetScaleY, Uniform};
    for (u32 k = 0; k < sizeof(values) / sizeof(values[0]); ++k)
        params.SetInt(P_Width + k, values[k]);
}

const char* STexNode_GPUClouds::Program() const
{
    return CLOUDS_PROGRAM;
}

void STexNode_GPUClouds::Uniforms(TGenUniforms& out) const
{
    AddVec2(out, "TextureSize", (float)Width, (float)Height);
    // Octaves go to the program within the panel's range: its loop is bounded by it, and a
    // document's million octaves would stall the renderer.
    AddInt(out, "OctDataB", ClampInt(OctDataX, CLOUDS_MIN_OCTAVE, CLOUDS_MAX_OCTAVE));
    AddInt(out, "OctDataE", ClampInt(OctDataY, CLOUDS_MIN_OCTAVE, CLOUDS_MAX_OCTAVE));
    AddVec2(out, "DetailScale", (float)DetScaleX, (float)(Uniform ? DetScaleX : DetScaleY));
    AddFloat(out, "Seed", (float)Seed);
}

float STexNode_GPUClouds::PropertyPanel(const mRect& r)
{
    FGenPanel p(*this, r);
    p.Int("Width", &Width, 1, PANEL_SIZE_MAX);
    p.Int("Height", &Height, 1, PANEL_SIZE_MAX);
    p.Int("Seed", &Seed, 0, INT_HI);
    p.Int("First oct.", &OctDataX, CLOUDS_MIN_OCTAVE, CLOUDS_MAX_OCTAVE);
    p.Int("Last oct.", &OctDataY, CLOUDS_MIN_OCTAVE, CLOUDS_MAX_OCTAVE);
    p.Int("Scale [x]", &DetScaleX, 1, PANEL_SCALE_MAX);
    p.Int("Scale [y]", &DetScaleY, 1, PANEL_SCALE_MAX);
    p.Check("Uniform", &Uniform);
    return p.Finish();
}

// Linear gradient

const SPropDesc* STexNode_LinearGradient::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", DEFAULT_SIZE, INT_LO, INT_HI),
        PropInt("Height", DEFAULT_SIZE, INT_LO, INT_HI),
        PropVec2("Pos0", mVec2(0, 0), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropVec2("Pos1", mVec2(1, 0), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropFloat("SnapDiv", 0.0f, -BIG, BIG),
        PropInt("Repeat", 0, 0, 1),
        PropInt("Mirror", 0, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_LinearGradient)

STexNode_LinearGradient::STexNode_LinearGradient(TArray<SPropDesc>& list)
    : STexNode_GenTwoInputs(list, "Linear gradient", PIN_OUTPUT)
{
    FNodeParams params(list);
    Pos0 = params.Vec2(P_Pos0);
    Pos1 = params.Vec2(P_Pos1);
    SnapDiv = params.Float(P_SnapDiv);
    Repeat = params.IntClamped(P_Repeat);
    Mirror = params.IntClamped(P_Mirror);
}

void STexNode_LinearGradient::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
    params.SetVec2(P_Pos0, Pos0);
    params.SetVec2(P_Pos1, Pos1);
    params.SetFloat(P_SnapDiv, SnapDiv);
    params.SetInt(P_Repeat, Repeat);
    params.SetInt(P_Mirror, Mirror);
}

const char* STexNode_LinearGradient::Program() const
{
    return LINEAR_PROGRAM;
}

void STexNode_LinearGradient::Uniforms(TGenUniforms& out) const
{
    const mVec2 a = FiniteOr0(Pos0), b = FiniteOr0(Pos1);
    AddVec2(out, "Pos0", a.x, a.y);
    AddVec2(out, "Pos1", b.x, b.y);
    AddFloat(out, "Repeat", (float)(u32)Repeat);
    AddFloat(out, "Mirror", (float)(u32)Mirror);
}

float STexNode_LinearGradient::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    FGenPanel p(*this, r);
    p.Int("Width", &Width, 1, PANEL_SIZE_MAX);
    p.Int("Height", &Height, 1, PANEL_SIZE_MAX);
    p.Float("Pos0[x]", &Pos0.x, -BIG, BIG, snap);
    p.Float("Pos0[y]", &Pos0.y, -BIG, BIG, snap);
    p.Float("Pos1[x]", &Pos1.x, -BIG, BIG, snap);
    p.Float("Pos1[y]", &Pos1.y, -BIG, BIG, snap);
    p.Float("Snap div.", &SnapDiv, 0.0f, PANEL_SNAP_MAX, SNAP_OF_SNAP);
    p.Toggles("Repeat", &Repeat, "Mirror", &Mirror);
    return p.Finish();
}

// Radial and box gradients

const SPropDesc* STexNode_ShapeGradient::ShapeProps()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", DEFAULT_SIZE, INT_LO, INT_HI),
        PropInt("Height", DEFAULT_SIZE, INT_LO, INT_HI),
        PropVec2("Pos0", mVec2(0.5f, 0.5f), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropVec2("Radius0", mVec2(0, 0), mVec2(0, 0), mVec2(BIG, BIG)),
        PropVec2("Radius1", mVec2(0.5f, 0.5f), mVec2(0, 0), mVec2(BIG, BIG)),
        PropInt("Uniform", 1, 0, 1),
        PropFloat("SnapDiv", 0.0f, -BIG, BIG),
        PropInt("Repeat", 0, 0, 1),
        PropInt("Mirror", 0, 0, 1),
        PropNull(),
    };
    return table;
}

STexNode_ShapeGradient::STexNode_ShapeGradient(TArray<SPropDesc>& list, const char* title)
    : STexNode_GenTwoInputs(list, title, PIN_OUTPUT)
{
    FNodeParams params(list);
    Pos0 = params.Vec2(P_Pos0);
    Radius0 = params.Vec2(P_Radius0);
    Radius1 = params.Vec2(P_Radius1);
    Uniform = params.IntClamped(P_Uniform, 1);
    SnapDiv = params.Float(P_SnapDiv);
    Repeat = params.IntClamped(P_Repeat);
    Mirror = params.IntClamped(P_Mirror);
}

void STexNode_ShapeGradient::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
    params.SetVec2(P_Pos0, Pos0);
    params.SetVec2(P_Radius0, Radius0);
    params.SetVec2(P_Radius1, Radius1);
    params.SetInt(P_Uniform, Uniform);
    params.SetFloat(P_SnapDiv, SnapDiv);
    params.SetInt(P_Repeat, Repeat);
    params.SetInt(P_Mirror, Mirror);
}

void STexNode_ShapeGradient::Uniforms(TGenUniforms& out) const
{
    const mVec2 c = FiniteOr0(Pos0);
    const mVec2 r0 = NonNegative(FiniteOr0(Radius0)), r1 = NonNegative(FiniteOr0(Radius1));
    AddVec2(out, "Pos0", c.x, c.y);
    AddVec2(out, "Radius0", r0.x, Uniform ? r0.x : r0.y);
    AddVec2(out, "Radius1", r1.x, Uniform ? r1.x : r1.y);
    AddFloat(out, "Repeat", (float)(u32)Repeat);
    AddFloat(out, "Mirror", (float)(u32)Mirror);
}

const SPropDesc* STexNode_RadialGradient::Props() { return ShapeProps(); }
const SPropDesc* STexNode_BoxGradient::Props() { return ShapeProps(); }

TEX_NODE_CLASS(STexNode_RadialGradient)
TEX_NODE_CLASS(STexNode_BoxGradient)

STexNode_RadialGradient::STexNode_RadialGradient(TArray<SPropDesc>& list) : STexNode_ShapeGradient(list, "Radial gradient")
{
}

const char* STexNode_RadialGradient::Program() const
{
    return RADIAL_PROGRAM;
}

float STexNode_RadialGradient::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    FGenPanel p(*this, r);
    p.Int("Width", &Width, 1, PANEL_SIZE_MAX);
    p.Int("Height", &Height, 1, PANEL_SIZE_MAX);
    p.Float("Pos [x]", &Pos0.x, -BIG, BIG, snap);
    p.Float("Pos [y]", &Pos0.y, -BIG, BIG, snap);
    p.Float("Rad [x]", &Radius1.x, -BIG, BIG, snap);
    p.Float("Rad [y]", &Radius1.y, -BIG, BIG, snap);
    p.Check("Uniform", &Uniform);
    p.Float("Snap div.", &SnapDiv, 0.0f, PANEL_SNAP_MAX, SNAP_OF_SNAP);
    p.Toggles("Repeat", &Repeat, "Mirror", &Mirror);
    return p.Finish();
}

STexNode_BoxGradient::STexNode_BoxGradient(TArray<SPropDesc>& list) : STexNode_ShapeGradient(list, "Box gradient") {}

const char* STexNode_BoxGradient::Program() const
{
    return BOX_PROGRAM;
}

float STexNode_BoxGradient::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    FGenPanel p(*this, r);
    p.Int("Width", &Width, 1, PANEL_SIZE_MAX);
    p.Int("Height", &Height, 1, PANEL_SIZE_MAX);
    p.Float("Pos [x]", &Pos0.x, -BIG, BIG, snap);
    p.Float("Pos [y]", &Pos0.y, -BIG, BIG, snap);
    p.Float("Rad0[x]", &Radius0.x, -BIG, BIG, snap);
    p.Float("Rad0[y]", &Radius0.y, -BIG, BIG, snap);
    p.Float("Rad1[x]", &Radius1.x, -BIG, BIG, snap);
    p.Float("Rad1[y]", &Radius1.y, -BIG, BIG, snap);
    p.Check("Uniform", &Uniform);
    p.Float("Snap div.", &SnapDiv, 0.0f, PANEL_SNAP_MAX, SNAP_OF_SNAP);
    p.Toggles("Repeat", &Repeat, "Mirror", &Mirror);
    return p.Finish();
}

// Grid

const SPropDesc* STexNode_Grid::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", DEFAULT_SIZE, INT_LO, INT_HI),
        PropInt("Height", DEFAULT_SIZE, INT_LO, INT_HI),
        PropVec2("Off", mVec2(0.025f, 0.025f), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropVec2("Border", mVec2(0.05f, 0.05f), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropVec2("Hole", mVec2(0.2f, 0.2f), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropInt("Uniform", 1, 0, 1),
        PropInt("Texels", 0, 0, 1),
        PropFloat("SnapDiv", 0.0f, -BIG, BIG),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Grid)

STexNode_Grid::STexNode_Grid(TArray<SPropDesc>& list) : STexNode_GenTwoInputs(list, "Grid", PIN_OUTPUT)
{
    FNodeParams params(list);
    Off = params.Vec2(P_Off);
    Border = params.Vec2(P_Border);
    Hole = params.Vec2(P_Hole);
    Uniform = params.IntClamped(P_Uniform, 1);
    Texels = params.IntClamped(P_Texels);
    SnapDiv = params.Float(P_SnapDiv);
}

void STexNode_Grid::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
    params.SetVec2(P_Off, Off);
    params.SetVec2(P_Border, Border);
    params.SetVec2(P_Hole, Hole);
    params.SetInt(P_Uniform, Uniform);
    params.SetInt(P_Texels, Texels);
    params.SetFloat(P_SnapDiv, SnapDiv);
}

const char* STexNode_Grid::Program() const
{
    return GRID_PROGRAM;
}

void STexNode_Grid::Uniforms(TGenUniforms& out) const
{
    float sx = 1.0f, sy = 1.0f;
    if (Texels && Width != 0 && Height != 0)
        sx = 1.0f / (float)Width, sy = 1.0f / (float)Height;
    const mVec2 off = FiniteOr0(Off), border = FiniteOr0(Border), hole = FiniteOr0(Hole);
    AddVec2(out, "Size", (float)Width, (float)Height);
    AddVec2(out, "Off", off.x * sx, off.y * sy);
    AddVec2(out, "Border", border.x * sx, (Uniform ? border.x : border.y) * sy);
    AddVec2(out, "Hole", hole.x * sx, (Uniform ? hole.x : hole.y) * sy);
}

float STexNode_Grid::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    FGenPanel p(*this, r);
    p.Int("Width", &Width, 1, PANEL_SIZE_MAX);
    p.Int("Height", &Height, 1, PANEL_SIZE_MAX);
    p.Float("Off [x]", &Off.x, -BIG, BIG, snap);
    p.Float("Off [y]", &Off.y, -BIG, BIG, snap);
    p.Float("Border[x]", &Border.x, -BIG, BIG, snap);
    p.Float("Border[y]", &Border.y, -BIG, BIG, snap);
    p.Float("Hole[x]", &Hole.x, -BIG, BIG, snap);
    p.Float("Hole[y]", &Hole.y, -BIG, BIG, snap);
    p.Toggles("Uniform", &Uniform, "Texels", &Texels);
    p.Float("Snap div.", &SnapDiv, 0.0f, PANEL_SNAP_MAX, SNAP_OF_SNAP);
    return p.Finish();
}

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem GENERATE_MENU[] = {
    {"--Colors", nullptr},
    {"RGBA Color", "STexNode_ColorRGBA"},
    {"HSVA Color", "STexNode_ColorHSVA"},
    {"[Disabled] Gradient", nullptr},
    {"--Random", nullptr},
    {"CPU Noise", "STexNode_CPUNoise"},
    {"GPU Noise", "STexNode_GPUNoise"},
    {"GPU Clouds", "STexNode_GPUClouds"},
    {"--Gradients", nullptr},
    {"Linear gradient", "STexNode_LinearGradient"},
    {"Radial gradient", "STexNode_RadialGradient"},
    {"Box gradient", "STexNode_BoxGradient"},
    {"--Shapes", nullptr},
    {"Grid", "STexNode_Grid"},
    {"--Other", nullptr},
    {"Blur kernel", "STexNode_BlurKernel"},
};
} // namespace

TEX_NODE_MENU(STNGenMenu, GENERATE_MENU)
