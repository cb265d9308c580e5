// The Filters family: kernel and vector-field blur, anti-aliasing, unsharp masking, distortion by a
// coordinate image, lens distortion, Sobel edges and normals, and the family menu.
#include <GL/glew.h>

#include <cmath>

#include "GameShader.h"
#include "GameVertex.h"
#include "TexNodeClass.h"

namespace
{
const char* const OUTPUT_PIN = "Output";
const char* const TEXTURE_PIN = "Texture";
const u32 STATUS_TEXT_MAX = 160;
const float FULL_FLOAT = 3.4028235e38f;
const s32 FULL_INT_MIN = -2147483647 - 1;
const s32 FULL_INT_MAX = 2147483647;

// Additive blending of every factor at one: the accumulation passes sum their draws.
const u32 BLEND_ADD_ONE_ONE = 0x11111;

const char* const PROGRAM_BLUR_ACCUM_SEPARABLE = "Nodes/Filters/BlurAccumS";
const char* const PROGRAM_BLUR_ACCUM = "Nodes/Filters/BlurAccum";
const char* const PROGRAM_BLUR_DIVIDE = "Nodes/Filters/BlurDivS";
const char* const PROGRAM_DIVIDE = "Nodes/Basic/Div";
const char* const PROGRAM_DISTORT = "Nodes/Filters/Distort";
const char* const PROGRAM_ANTI_ALIAS = "Nodes/Filters/AntiAlias";
const char* const PROGRAM_UNSHARP = "Nodes/Filters/UnsharpMask";
const char* const PROGRAM_LENS = "Nodes/Filters/LensDistort";
const char* const PROGRAM_SOBEL = "Nodes/Filters/Sobel3x3";
const char* const PROGRAM_NSOBEL = "Nodes/Filters/NSobel3x3";

// The blur radius the panel offers; stored values are held in it before taps and regions form.
const float BLUR_RADIUS_MAX = 4096.0f;
// The scatter path draws one quad per pixel of its region; larger regions are refused.
const double SCATTER_MAX_DRAWS = 16777216.0;
const u32 VFBLUR_SAMPLES_MAX = 1024;
const u32 QUAD_VERTICES = 4;

enum EOORMode
{
    OOR_Wrap = 0,
    OOR_Clamp,
    OOR_Clear,
    OOR_Count,
};
const char* const OOR_MODE_TEXTS[OOR_Count] = {"Wrap", "Clamp", "Clear"};

enum EDistMode
{
    DM_RelXY = 0,
    DM_AbsXY,
    DM_RelPXY,
    DM_AbsPXY,
    DM_RelRAXY,
    DM_RelRApXY,
    DM_Count,
};
const char* const DIST_MODE_TEXTS[DM_Count] = {"Rel. XY", "Abs. XY", "Rel. pXY", "Abs. pXY", "Rel. RAXY", "Rel. RApXY"};

struct SDistDefines
{
    bool PixelCoords, Relative, Angular;
};
const SDistDefines DIST_MODE_DEFINES[DM_Count] = {
    {false, true, false}, {false, false, false}, {true, true, false},
    {true, false, false}, {false, false, true},  {true, false, true},
};

// The program variant of a distortion mode; a mode outside the list has no defines.
TArray<TString> DistortDefines(s32 mode)
{
    TArray<TString> defines;
    if (mode < 0 || mode >= DM_Count)
        return defines;
    const SDistDefines& d = DIST_MODE_DEFINES[mode];
    if (d.PixelCoords)
        defines.Add(TString("PIXELCOORDS"));
    if (d.Relative)
        defines.Add(TString("RELATIVE"));
    if (d.Angular)
        defines.Add(TString("ANGULAR"));
    return defines;
}

// A radius component held in 0..BLUR_RADIUS_MAX; NaN counts as 0.
float BlurRadius(float r)
{
    if (!(r > 0.0f))
        return 0.0f;
    return r < BLUR_RADIUS_MAX ? r : BLUR_RADIUS_MAX;
}

// Taps of a separable direction: 2 ceil(r), at least 1 (radius 0).
u32 TapCount(float r)
{
    const u32 n = 2u * (u32)std::ceil(r);
    return n < 1u ? 1u : n;
}

mVec2 InverseSize(const TextureRef& tex)
{
    return mVec2(1.0f / (float)tex->Width, 1.0f / (float)tex->Height);
}

// Selects a program through the node's input binding, then the blend word; null with the status
// set when the program could not be built.
SShader* UseNodeProgram(STexProcNode& node, const char* program, const TArray<TString>& defines, u32 blend)
{
    node.BindInputTextures(program, defines);
    SShader* sp = GetShader(program, defines);
    if (!sp || !sp->Program)
    {
        node.Status.Format(STATUS_TEXT_MAX, "%s: the program could not be built", program);
        return nullptr;
    }
    UseShader(blend, sp);
    return sp;
}

// Float targets of the passes: textures attached to the colour slots of one frame buffer.
struct SFloatTarget
{
    TextureRef Tex[2];
    FrameBufferRef Fb;
};

int MakeFloatTarget(STexProcNode& node, u32 w, u32 h, u32 slots, SFloatTarget& t)
{
    t.Fb = FrameBufferRef(new SFrameBuffer);
    for (u32 i = 0; i < slots; ++i)
    {
        if (!TEX_Create(t.Tex[i], w, h, 1, 1, TEXFMT_RGBA32F, nullptr, NODE_OUTPUT_TEX_FLAGS) || !t.Tex[i]->GLName)
        {
            node.Status.Format(STATUS_TEXT_MAX, "TEX_Create: float target of %ux%u was refused", w, h);
            return 0;
        }
        t.Fb->AttachTexture(i, t.Tex[i], FBA_Color);
    }
    TString failure;
    if (!FB_Complete(*t.Fb, &failure))
    {
        node.Status.Format(STATUS_TEXT_MAX, "CheckFrameBuffer: %s", failure.Str());
        return 0;
    }
    return 1;
}

void PushCleared(const FrameBufferRef& fb)
{
    PushFrameBuffer(fb);
    GLfloat saved[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, saved);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(saved[0], saved[1], saved[2], saved[3]);
}

// The last pass of the accumulating nodes: unit 0 (replaced by sum) divided by divisor into the
// node's output of the size and format of the source.
int DivideIntoOutput(STexProcNode& node, const TextureRef& source, const TextureRef& sum, const mVec4& divisor)
{
    if (!node.CreateOutputTarget(source->Width, source->Height, source->Format))
        return 0;
    FrameBufferRef fb;
    if (!node.BeginOutputPass(fb))
        return 0;
    SShader* sp = UseNodeProgram(node, PROGRAM_BLUR_DIVIDE, TArray<TString>(), 0);
    if (sp)
    {
        TEX_Bind(0, sum);
        SetUniformVec4(sp, "Divisor", &divisor.x);
        DrawFullscreenQuad(-1, 1, 1, -1, 0);
    }
    node.EndOutputPass(fb);
    return sp ? 1 : 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Blur

class STexNode_Blur : public STexProcNode
{
public:
    enum
    {
        P_Radius = 1,
        P_Uniform,
        P_Expand,
        P_Wrap,
        P_Separable,
    };
    enum
    {
        IN_Texture = 0,
        IN_Kernel,
        IN_Size,
    };
    mVec2 Radius;
    s32 Uniform, Expand, Wrap, Separable;

    explicit STexNode_Blur(TArray<SPropDesc>& list) : STexProcNode(list)
    {
        Title = "Blur";
        InParams.Add(new NodePin(TEXTURE_PIN, this, IN_Texture));
        InParams.Add(new NodePin("Blur kernel", this, IN_Kernel));
        InParams.Add(new NodePin("[opt] Size", this, IN_Size));
        OutParams.Add(new NodePin(OUTPUT_PIN, this, 0));
        FNodeParams p(list);
        Radius = p.Vec2(P_Radius);
        Uniform = p.IntClamped(P_Uniform, 1);
        Expand = p.IntClamped(P_Expand, 1);
        Wrap = p.IntClamped(P_Wrap, 1);
        Separable = p.IntClamped(P_Separable, 1);
    }
    void StoreParams(TArray<SPropDesc>& list) override
    {
        FNodeParams p(list);
        NodeStoreBase(*this, p);
        p.SetVec2(P_Radius, Radius);
        p.SetInt(P_Uniform, Uniform);
        p.SetInt(P_Expand, Expand);
        p.SetInt(P_Wrap, Wrap);
        p.SetInt(P_Separable, Separable);
    }
    float PropertyPanel(const mRect& r) override
    {
        FNodePanel panel(*this, r);
        panel.Float("Radius[x]", &Radius.x, 0.0f, BLUR_RADIUS_MAX);
        panel.Float("Radius[y]", &Radius.y, 0.0f, BLUR_RADIUS_MAX);
        panel.Toggles("Uniform", &Uniform, "Separable", &Separable);
        panel.Toggles("Expand", &Expand, "Wrap", &Wrap);
        return panel.Finish();
    }
    int Process() override
    {
        TArray<TextureRef> in;
        if (!NodeGatherInputs(*this, in))
            return 0;
        mVec2 r(BlurRadius(Radius.x), BlurRadius(Uniform ? Radius.x : Radius.y));
        // Radius 0 is the input itself, whatever the kernel holds at its edge or centre.
        if (r.x == 0.0f && r.y == 0.0f)
            return DivideIntoOutput(*this, in[IN_Texture], in[IN_Texture], mVec4(1, 1, 1, 1));
        return Separable ? ProcessSeparable(in[IN_Texture], in[IN_Kernel], r)
                         : ProcessScatter(in[IN_Texture], r);
    }

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();

private:
    // One direction of the separable path: taps along the kernel's middle row (horizontal) or
    // column, drawn additively into the pushed target; returns the sum of the weights.
    mVec4 AccumulateTaps(const FloatImage& kernel, float r, float size, bool horizontal)
    {
        const u32 n = TapCount(r);
        const float s = 1.0f / (float)n;
        mVec4 sum(0, 0, 0, 0);
        for (u32 i = 0; i < n; ++i)
        {
            const float t = (float)i * s;
            mVec4 w(1, 1, 1, 1); // a single tap (radius 0) only passes the source on
            if (n > 1)
            {
                if (horizontal)
                    kernel.SampleBilinear(w, t, 0.5f);
                else
                    kernel.SampleBilinear(w, 0.5f, t);
            }
            sum = sum + w;
            const float d = (2.0f * t - 1.0f) * r / size;
            const float du = horizontal ? d : 0.0f, dv = horizontal ? 0.0f : d;
            const STfCVtx quad[QUAD_VERTICES] = {
                {-1, 1, 0, du, 1 + dv, 0, w.x, w.y, w.z, w.w},
                {1, 1, 0, 1 + du, 1 + dv, 0, w.x, w.y, w.z, w.w},
                {1, -1, 0, 1 + du, dv, 0, w.x, w.y, w.z, w.w},
                {-1, -1, 0, du, dv, 0, w.x, w.y, w.z, w.w},
            };
            DrawTexColoredPrimitives(quad, QUAD_VERTICES, GL_TRIANGLE_FAN);
        }
        return sum;
    }

    int ProcessSeparable(const TextureRef& tex, const TextureRef& kernelTex, const mVec2& r)
    {
        FloatImage kernel;
        if (!TEX_ReadPixelsFloat(kernelTex.Get(), kernel))
        {
            Status.Format(STATUS_TEXT_MAX, "Blur: TEX_ReadPixelsFloat: the %ux%u kernel image cannot be read back (not made in memory)",
                          kernelTex->Width, kernelTex->Height);
            return 0;
        }
        const float w = (float)tex->Width, h = (float)tex->Height;
        SFloatTarget a, b;
        if (!MakeFloatTarget(*this, tex->Width, tex->Height, 1, a) || !MakeFloatTarget(*this, tex->Width, tex->Height, 1, b))
            return 0;
        const s32 oor = !Expand ? OOR_Clear : (Wrap ? OOR_Wrap : OOR_Clamp);
        const mVec2 inv = InverseSize(tex);

        PushCleared(a.Fb);
        SShader* sp = UseNodeProgram(*this, PROGRAM_BLUR_ACCUM_SEPARABLE, TArray<TString>(), BLEND_ADD_ONE_ONE);
        mVec4 sh(0, 0, 0, 0), sv(0, 0, 0, 0);
        if (sp)
        {
            SetUniformInt(sp, "OORMode", oor);
            SetUniformVec2(sp, "InvTextureSize", &inv.x);
            sh = AccumulateTaps(kernel, r.x, w, true);
        }
        PopFrameBuffer(a.Fb);
        if (!sp)
            return 0;

        PushCleared(b.Fb);
        TEX_Bind(0, a.Tex[0]);
        sv = AccumulateTaps(kernel, r.y, h, false);
        PopFrameBuffer(b.Fb);
        // The horizontal sums are spent: the output need not share memory with them.
        a.Fb.Release();
        a.Tex[0].Release();

        const mVec4 divisor(sh.x * sv.x, sh.y * sv.y, sh.z * sv.z, sh.w * sv.w);
        return DivideIntoOutput(*this, tex, b.Tex[0], divisor);
    }

    int ProcessScatter(const TextureRef& tex, const mVec2& r)
    {
        const float w = (float)tex->Width, h = (float)tex->Height;
        const float ex = Expand ? std::ceil(r.x) : 0.0f, ey = Expand ? std::ceil(r.y) : 0.0f;
        const float x0 = -ex + 0.5f, x1 = w + ex + 0.5f, y0 = -ey + 0.5f, y1 = h + ey + 0.5f;
        const double draws = (double)(w + 2.0f * ex) * (double)(h + 2.0f * ey);
        if (draws > SCATTER_MAX_DRAWS)
        {
            Status.Format(STATUS_TEXT_MAX, "Blur: the scatter path would draw %.0f quads, more than %.0f; blur separably or shrink the radius",
                          draws, SCATTER_MAX_DRAWS);
            return 0;
        }
        // A zero component keeps the quads one pixel wide in it instead of empty.
        const float qx = r.x > 0.0f ? r.x : 0.5f, qy = r.y > 0.0f ? r.y : 0.5f;
        SFloatTarget sums;
        if (!MakeFloatTarget(*this, tex->Width, tex->Height, 2, sums))
            return 0;
        const mVec2 inv = InverseSize(tex);
        PushCleared(sums.Fb);
        SShader* sp = UseNodeProgram(*this, PROGRAM_BLUR_ACCUM, TArray<TString>(), BLEND_ADD_ONE_ONE);
        if (sp)
        {
            SetUniformVec2(sp, "InvTextureSize", &inv.x);
            for (float y = y0; y < y1; y += 1.0f)
            {
                float sy = y - 0.5f;
                sy = Wrap ? std::fmod(sy, h) : (sy < 0 ? 0 : (sy > h - 1 ? h - 1 : sy));
                if (sy < 0)
                    sy += h;
                for (float x = x0; x < x1; x += 1.0f)
                {
                    float sx = x - 0.5f;
                    sx = Wrap ? std::fmod(sx, w) : (sx < 0 ? 0 : (sx > w - 1 ? w - 1 : sx));
                    if (sx < 0)
                        sx += w;
                    const STfCVtx quad[QUAD_VERTICES] = {
                        {x - qx, y + qy, 0, 0, 1, 0, sx, sy, 0, 0},
                        {x + qx, y + qy, 0, 1, 1, 0, sx, sy, 0, 0},
                        {x + qx, y - qy, 0, 1, 0, 0, sx, sy, 0, 0},
                        {x - qx, y - qy, 0, 0, 0, 0, sx, sy, 0, 0},
                    };
                    DrawTexColoredPrimitives(quad, QUAD_VERTICES, GL_TRIANGLE_FAN);
                }
            }
        }
        PopFrameBuffer(sums.Fb);
        if (!sp || !CreateOutputTarget(tex->Width, tex->Height, tex->Format))
            return 0;
        FrameBufferRef fb;
        if (!BeginOutputPass(fb))
            return 0;
        sp = UseNodeProgram(*this, PROGRAM_DIVIDE, TArray<TString>(), 0);
        if (sp)
        {
            TEX_Bind(0, sums.Tex[0]);
            TEX_Bind(1, sums.Tex[1]);
            DrawFullscreenQuad(-1, 1, 1, -1, 0);
        }
        EndOutputPass(fb);
        return sp ? 1 : 0;
    }
};

const SPropDesc* STexNode_Blur::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec2("Radius", mVec2(8, 8), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropInt("Uniform", 1, 0, 1),
        PropInt("Expand", 1, 0, 1),
        PropInt("Wrap", 1, 0, 1),
        PropInt("Separable", 1, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Blur)

// ---------------------------------------------------------------------------------------------
// Vector-field blur

class STexNode_VFBlur : public STexProcNode
{
public:
    enum
    {
        P_Radius = 1,
        P_Uniform,
        P_DoubleSided,
        P_DistMode,
        P_OORMode,
        P_SampleCnt,
    };
    mVec2 Radius;
    s32 Uniform, DoubleSided, DistMode, OORMode, SampleCnt;

    explicit STexNode_VFBlur(TArray<SPropDesc>& list) : STexProcNode(list)
    {
        Title = "Vec. field blur";
        InParams.Add(new NodePin(TEXTURE_PIN, this, 0));
        InParams.Add(new NodePin("Vec. field", this, 1));
        OutParams.Add(new NodePin(OUTPUT_PIN, this, 0));
        FNodeParams p(list);
        Radius = p.Vec2(P_Radius);
        Uniform = p.IntClamped(P_Uniform, 1);
        DoubleSided = p.IntClamped(P_DoubleSided, 1);
        DistMode = p.IntClamped(P_DistMode, DM_RelPXY);
        OORMode = p.IntClamped(P_OORMode, OOR_Wrap);
        SampleCnt = p.IntClamped(P_SampleCnt, 1);
    }
    void StoreParams(TArray<SPropDesc>& list) override
    {
        FNodeParams p(list);
        NodeStoreBase(*this, p);
        p.SetVec2(P_Radius, Radius);
        p.SetInt(P_Uniform, Uniform);
        p.SetInt(P_DoubleSided, DoubleSided);
        p.SetInt(P_DistMode, DistMode);
        p.SetInt(P_OORMode, OORMode);
        p.SetInt(P_SampleCnt, SampleCnt);
    }
    float PropertyPanel(const mRect& r) override
    {
        FNodePanel panel(*this, r);
        panel.Float("Radius[x]", &Radius.x, -FULL_FLOAT, FULL_FLOAT);
        panel.Float("Radius[y]", &Radius.y, -FULL_FLOAT, FULL_FLOAT);
        panel.Toggles("Uniform", &Uniform, "Double-sided", &DoubleSided);
        panel.Enum("Dist. mode", &DistMode, DIST_MODE_TEXTS, DM_Count);
        panel.Enum("OOR mode", &OORMode, OOR_MODE_TEXTS, OOR_Count);
        panel.Int("Samples", &SampleCnt, 1, (s32)VFBLUR_SAMPLES_MAX);
        return panel.Finish();
    }
    int Process() override
    {
        TArray<TextureRef> in;
        if (!NodeGatherInputs(*this, in))
            return 0;
        const TextureRef& tex = in[0];
        SFloatTarget sum;
        if (!MakeFloatTarget(*this, tex->Width, tex->Height, 1, sum))
            return 0;
        // No samples would divide nothing by nothing: at least one is drawn.
        const u32 count = SampleCnt < 1 ? 1u : ((u32)SampleCnt > VFBLUR_SAMPLES_MAX ? VFBLUR_SAMPLES_MAX : (u32)SampleCnt);
        const mVec2 r(Radius.x, Uniform ? Radius.x : Radius.y);
        const mVec2 inv = InverseSize(tex);
        PushCleared(sum.Fb);
        SShader* sp = UseNodeProgram(*this, PROGRAM_DISTORT, DistortDefines(DistMode), BLEND_ADD_ONE_ONE);
        if (sp)
        {
            SetUniformInt(sp, "OORMode", OORMode);
            SetUniformVec2(sp, "InvTextureSize", &inv.x);
            for (u32 i = 0; i < count; ++i)
            {
                float f = count < 2 ? 0.0f : (float)i / (float)(count - 1);
                if (DoubleSided)
                    f = 2.0f * f - 1.0f;
                const mVec2 shift(f * r.x, f * r.y);
                SetUniformVec2(sp, "Radius", &shift.x);
                DrawFullscreenQuad(-1, 1, 1, -1, 0);
            }
        }
        PopFrameBuffer(sum.Fb);
        if (!sp)
            return 0;
        const float c = (float)count;
        return DivideIntoOutput(*this, tex, sum.Tex[0], mVec4(c, c, c, c));
    }

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

const SPropDesc* STexNode_VFBlur::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec2("Radius", mVec2(1, 1), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropInt("Uniform", 1, 0, 1),
        PropInt("DoubleSided", 1, 0, 1),
        PropInt("DistMode", DM_RelPXY, 0, DM_Count - 1),
        PropInt("OORMode", OOR_Wrap, 0, OOR_Count - 1),
        PropInt("SampleCnt", 1, 0, (s32)VFBLUR_SAMPLES_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_VFBlur)

// ---------------------------------------------------------------------------------------------
// Anti-aliasing and unsharp mask: two floats, "Amount" and "Threshold", stored alike.

class STexNode_AmountThreshold : public STexProcNode
{
public:
    enum
    {
        P_Amount = 1,
        P_Threshold,
    };
    float Amount, Threshold;

    explicit STexNode_AmountThreshold(TArray<SPropDesc>& list) : STexProcNode(list)
    {
        FNodeParams p(list);
        Amount = p.Float(P_Amount, 1.0f);
        Threshold = p.Float(P_Threshold, 0.0f);
    }
    void StoreParams(TArray<SPropDesc>& list) override
    {
        FNodeParams p(list);
        NodeStoreBase(*this, p);
        p.SetFloat(P_Amount, Amount);
        p.SetFloat(P_Threshold, Threshold);
    }
    static const SPropDesc* AmountThresholdProps()
    {
        static const SPropDesc table[] = {
            PropInherit("STexProcNode", STexProcNode::PropTable()),
            PropFloat("Amount", 1.0f, -FULL_FLOAT, FULL_FLOAT),
            PropFloat("Threshold", 0.0f, -FULL_FLOAT, FULL_FLOAT),
            PropNull(),
        };
        return table;
    }

protected:
    int Pass(u32 width, u32 height, u32 format, const char* program, const TextureRef& tex)
    {
        const mVec2 inv = InverseSize(tex);
        return NodeSinglePass(*this, width, height, format, program, TArray<TString>(), [&](SShader* sp) {
            SetUniformFloat(sp, "Amount", Amount);
            SetUniformFloat(sp, "Threshold", Threshold);
            SetUniformVec2(sp, "InvTextureSize", &inv.x);
        });
    }
};

class STexNode_AntiAlias : public STexNode_AmountThreshold
{
public:
    explicit STexNode_AntiAlias(TArray<SPropDesc>& list) : STexNode_AmountThreshold(list)
    {
        Title = "Anti-aliasing";
        InParams.Add(new NodePin(TEXTURE_PIN, this, 0));
        OutParams.Add(new NodePin(OUTPUT_PIN, this, 0));
    }
    int Process() override
    {
        TArray<TextureRef> in;
        if (!NodeGatherInputs(*this, in))
            return 0;
        return Pass(in[0]->Width, in[0]->Height, in[0]->Format, PROGRAM_ANTI_ALIAS, in[0]);
    }
    static const SPropDesc* Props() { return AmountThresholdProps(); }
    static SClassInfo* ClassRecord();
};

TEX_NODE_CLASS(STexNode_AntiAlias)

class STexNode_UnsharpMask : public STexNode_AmountThreshold
{
public:
    explicit STexNode_UnsharpMask(TArray<SPropDesc>& list) : STexNode_AmountThreshold(list)
    {
        Title = "Unsharp mask";
        InParams.Add(new NodePin(TEXTURE_PIN, this, 0));
        InParams.Add(new NodePin("Blurred", this, 1));
        OutParams.Add(new NodePin(OUTPUT_PIN, this, 0));
    }
    float PropertyPanel(const mRect& r) override
    {
        FNodePanel panel(*this, r);
        panel.Float("Amount", &Amount, -FULL_FLOAT, FULL_FLOAT);
        panel.Float("Threshold", &Threshold, -FULL_FLOAT, FULL_FLOAT);
        return panel.Finish();
    }
    int Process() override
    {
        TArray<TextureRef> in;
        if (!NodeGatherInputs(*this, in))
            return 0;
        const u32 w = in[0]->Width > in[1]->Width ? in[0]->Width : in[1]->Width;
        const u32 h = in[0]->Height > in[1]->Height ? in[0]->Height : in[1]->Height;
        return Pass(w, h, in[0]->Format, PROGRAM_UNSHARP, in[0]);
    }
    static const SPropDesc* Props() { return AmountThresholdProps(); }
    static SClassInfo* ClassRecord();
};

TEX_NODE_CLASS(STexNode_UnsharpMask)

// ---------------------------------------------------------------------------------------------
// Distort

class STexNode_Distort : public STexProcNode
{
public:
    enum
    {
        P_Radius = 1,
        P_Uniform,
        P_DistMode,
        P_OORMode,
    };
    mVec2 Radius;
    s32 Uniform, DistMode, OORMode;

    explicit STexNode_Distort(TArray<SPropDesc>& list) : STexProcNode(list)
    {
        Title = "Distort";
        InParams.Add(new NodePin(TEXTURE_PIN, this, 0));
        InParams.Add(new NodePin("Coords", this, 1));
        OutParams.Add(new NodePin(OUTPUT_PIN, this, 0));
        FNodeParams p(list);
        Radius = p.Vec2(P_Radius);
        Uniform = p.Int(P_Uniform, 1);
        DistMode = p.Int(P_DistMode, DM_RelXY);
        OORMode = p.Int(P_OORMode, OOR_Wrap);
    }
    void StoreParams(TArray<SPropDesc>& list) override
    {
        FNodeParams p(list);
        NodeStoreBase(*this, p);
        p.SetVec2(P_Radius, Radius);
        p.SetInt(P_Uniform, Uniform);
        p.SetInt(P_DistMode, DistMode);
        p.SetInt(P_OORMode, OORMode);
    }
    float PropertyPanel(const mRect& r) override
    {
        FNodePanel panel(*this, r);
        panel.Float("Radius[x]", &Radius.x, -FULL_FLOAT, FULL_FLOAT);
        panel.Float("Radius[y]", &Radius.y, -FULL_FLOAT, FULL_FLOAT);
        panel.Check("Uniform", &Uniform);
        panel.Enum("Dist. mode", &DistMode, DIST_MODE_TEXTS, DM_Count);
        panel.Enum("OOR mode", &OORMode, OOR_MODE_TEXTS, OOR_Count);
        return panel.Finish();
    }
    int Process() override
    {
        TArray<TextureRef> in;
        if (!NodeGatherInputs(*this, in))
            return 0;
        const TextureRef& tex = in[0];
        const mVec2 r(Radius.x, Uniform ? Radius.x : Radius.y);
        const mVec2 inv = InverseSize(tex);
        // The programs read any mode but Wrap and Clamp as Clear.
        return NodeSinglePass(*this, tex->Width, tex->Height, tex->Format, PROGRAM_DISTORT, DistortDefines(DistMode),
                              [&](SShader* sp) {
                                  SetUniformInt(sp, "OORMode", OORMode);
                                  SetUniformVec2(sp, "Radius", &r.x);
                                  SetUniformVec2(sp, "InvTextureSize", &inv.x);
                              });
    }

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

const SPropDesc* STexNode_Distort::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec2("Radius", mVec2(1, 1), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropInt("Uniform", 1, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("DistMode", DM_RelXY, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("OORMode", OOR_Wrap, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Distort)

// ---------------------------------------------------------------------------------------------
// Lens distort

class STexNode_LensDistort : public STexProcNode
{
public:
    enum
    {
        P_Amount = 1,
        P_Zoom,
        P_Uniform,
        P_OORMode,
    };
    mVec2 Amount, Zoom;
    s32 Uniform, OORMode;

    explicit STexNode_LensDistort(TArray<SPropDesc>& list) : STexProcNode(list)
    {
        Title = "Lens distort";
        InParams.Add(new NodePin(TEXTURE_PIN, this, 0));
        OutParams.Add(new NodePin(OUTPUT_PIN, this, 0));
        FNodeParams p(list);
        Amount = p.Vec2(P_Amount);
        Zoom = p.Vec2(P_Zoom);
        Uniform = p.Int(P_Uniform, 1);
        OORMode = p.Int(P_OORMode, OOR_Clear);
    }
    void StoreParams(TArray<SPropDesc>& list) override
    {
        FNodeParams p(list);
        NodeStoreBase(*this, p);
        p.SetVec2(P_Amount, Amount);
        p.SetVec2(P_Zoom, Zoom);
        p.SetInt(P_Uniform, Uniform);
        p.SetInt(P_OORMode, OORMode);
    }
    float PropertyPanel(const mRect& r) override
    {
        FNodePanel panel(*this, r);
        panel.Float("Amount X", &Amount.x, -FULL_FLOAT, FULL_FLOAT);
        panel.Float("Amount Y", &Amount.y, -FULL_FLOAT, FULL_FLOAT);
        panel.Float("Zoom X", &Zoom.x, -FULL_FLOAT, FULL_FLOAT);
        panel.Float("Zoom Y", &Zoom.y, -FULL_FLOAT, FULL_FLOAT);
        panel.Check("Uniform", &Uniform);
        panel.Enum("OOR Mode", &OORMode, OOR_MODE_TEXTS, OOR_Count);
        return panel.Finish();
    }
    int Process() override
    {
        TArray<TextureRef> in;
        if (!NodeGatherInputs(*this, in))
            return 0;
        const TextureRef& tex = in[0];
        const mVec2 amount(Amount.x, Uniform ? Amount.x : Amount.y);
        const mVec2 zoom(Zoom.x, Uniform ? Zoom.x : Zoom.y);
        const mVec2 inv = InverseSize(tex);
        return NodeSinglePass(*this, tex->Width, tex->Height, tex->Format, PROGRAM_LENS, TArray<TString>(),
                              [&](SShader* sp) {
                                  SetUniformVec2(sp, "Amount", &amount.x);
                                  SetUniformVec2(sp, "Zoom", &zoom.x);
                                  SetUniformInt(sp, "OORMode", OORMode);
                                  SetUniformVec2(sp, "InvTextureSize", &inv.x);
                              });
    }

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

const SPropDesc* STexNode_LensDistort::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec2("Amount", mVec2(0.1f, 0.1f), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropVec2("Zoom", mVec2(1, 1), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropInt("Uniform", 1, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("OORMode", OOR_Clear, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_LensDistort)

// ---------------------------------------------------------------------------------------------
// Sobel edges and normals: no parameters, FP16 output.

class STexNode_SobelBase : public STexProcNode
{
public:
    explicit STexNode_SobelBase(TArray<SPropDesc>& list) : STexProcNode(list)
    {
        InParams.Add(new NodePin("Input", this, 0));
        OutParams.Add(new NodePin(OUTPUT_PIN, this, 0));
    }
    static const SPropDesc* BaseOnlyProps()
    {
        static const SPropDesc table[] = {
            PropInherit("STexProcNode", STexProcNode::PropTable()),
            PropNull(),
        };
        return table;
    }

protected:
    int Pass(const char* program)
    {
        TArray<TextureRef> in;
        if (!NodeGatherInputs(*this, in))
            return 0;
        const mVec2 inv = InverseSize(in[0]);
        return NodeSinglePass(*this, in[0]->Width, in[0]->Height, TEXFMT_RGBA16F, program, TArray<TString>(),
                              [&](SShader* sp) { SetUniformVec2(sp, "InvTextureSize", &inv.x); });
    }
};

class STexNode_Sobel3x3 : public STexNode_SobelBase
{
public:
    explicit STexNode_Sobel3x3(TArray<SPropDesc>& list) : STexNode_SobelBase(list) { Title = "Edges (Sobel 3x3)"; }
    int Process() override { return Pass(PROGRAM_SOBEL); }
    static const SPropDesc* Props() { return BaseOnlyProps(); }
    static SClassInfo* ClassRecord();
};

TEX_NODE_CLASS(STexNode_Sobel3x3)

class STexNode_NSobel3x3 : public STexNode_SobelBase
{
public:
    explicit STexNode_NSobel3x3(TArray<SPropDesc>& list) : STexNode_SobelBase(list) { Title = "Normals (Sobel 3x3)"; }
    int Process() override { return Pass(PROGRAM_NSOBEL); }
    static const SPropDesc* Props() { return BaseOnlyProps(); }
    static SClassInfo* ClassRecord();
};

TEX_NODE_CLASS(STexNode_NSobel3x3)

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem FILTER_MENU[] = {
    {"--$TNFilters_Blur$", nullptr},
    {"$STexNode_Blur$", "STexNode_Blur"},
    {"[Disabled] $STexNode_VFBlur$", "STexNode_VFBlur"},
    {"--$TNFilters_Enhance$", nullptr},
    {"$STexNode_UnsharpMask$", "STexNode_UnsharpMask"},
    {"--$TNFilters_Distort$", nullptr},
    {"$STexNode_Distort$", "STexNode_Distort"},
    {"$STexNode_LensDistort$", "STexNode_LensDistort"},
    {"--$TNFilters_Edges$", nullptr},
    {"$STexNode_Sobel3x3$", "STexNode_Sobel3x3"},
    {"--$TNFilters_Normals$", nullptr},
    {"$STexNode_NSobel3x3$", "STexNode_NSobel3x3"},
};
} // namespace

TEX_NODE_MENU(STNFilterMenu, FILTER_MENU)
