// The Utils family: colour-space conversion, alpha premultiplication, Expand, the particle nodes
// and the family menu. The per-pixel formulas live in the programs under
// Data/Shaders/Nodes/Utils/, each stated in its header comment.
#include "TexOps_Utils.h"

#include <GL/glew.h>

#include <cmath>

#include "GameShader.h"
#include "GameSys.h"
#include "GameTexture.h"
#include "GameVertex.h"

const char* const ALT_SPACE_TEXTS[ALT_SpaceCount] = {"HSLi", "HSV"};
const char* const PART_POS_MODE_TEXTS[PPM_Count] = {"Rectangle", "Ellipsoid", "Line"};
const char* const PART_BLEND_TEXTS[PB_Count] = {"Normal", "Add", "Min", "Max"};

namespace
{
const float FULL_FLOAT = 3.4028235e38f;
const s32 FULL_INT_MIN = -2147483647 - 1;
const s32 FULL_INT_MAX = 2147483647;
const float NO_SNAP = 0.0f;
const u32 STATUS_TEXT_MAX = 160;
const u32 RIGHT_TOGGLE_ID = 1000;
const char* const UNKNOWN_CHOICE = "?";

// Blend words: source and destination factors, equation (GL_FUNC_ADD 1, GL_MIN 4, GL_MAX 5).
const u32 BLEND_WORDS[PB_Count] = {0x71761, 0x11161, 0x11114, 0x11115};

const float RANDOM_MAX = 32767.0f;
const float TWO_PI = 3.1415927f * 2.0f;

const s32 PART_COUNT_PANEL_MAX = 4096;
const s32 PART_SEED_MAX = 32767;
const s32 RENDER_SIDE_PANEL_MAX = 4096;
const float RENDER_SIZE_PANEL_MAX = 1024.0f;
const s32 SHEET_SIDE_MAX = 16;
const s32 SHEET_COUNT_MAX = 256;
const u32 QUAD_VERTICES = 4;
const u32 PREVIEW_POINT_COLOR = 0xFFFFFFFFu;

const char* const RGB_TO_ALT_PROGRAMS[ALT_SpaceCount] = {"Nodes/Utils/RGBtoHSLi", "Nodes/Utils/RGBtoHSV"};
const char* const ALT_TO_RGB_PROGRAMS[ALT_SpaceCount] = {"Nodes/Utils/HSLitoRGB", "Nodes/Utils/HSVtoRGB"};
const char* const PROG_PREMUL = "Nodes/Utils/APremul";
const char* const PROG_DEPREMUL = "Nodes/Utils/ADePremul";
const char* const PROG_EXPAND = "Nodes/Utils/Expand";
const char* const PROG_PARTICLE_BGR = "Nodes/Utils/ParticleBgr";
const char* const PROG_PARTICLE = "Nodes/Utils/Particle";

const char* const PIN_INPUT = "Input";
const char* const PIN_OUTPUT = "Output";
const char* const PIN_POINTS = "Points";
const char* const EXPAND_INPUTS[] = {"Input", "[opt] Bgr."};
const char* const RENDER_INPUTS[] = {"Texture", "Position", "[opt] Size", "[opt] Color", "[opt] Angle", "[opt] Bgr."};

void AddPins(STexProcNode& node, const char* const* inputs, u32 count, const char* output)
{
    for (u32 i = 0; i < count; ++i)
        node.InParams.Add(new NodePin(inputs[i], &node, i));
    node.OutParams.Add(new NodePin(output, &node, 0));
}

void StoreBase(STexProcNode& node, FNodeParams& params)
{
    if (TArray<SPropDesc>* base = params.Base())
        node.STexProcNode::StoreParams(*base);
}

const char* ChoiceText(const char* const* texts, u32 count, s32 value)
{
    return value >= 0 && (u32)value < count ? texts[value] : UNKNOWN_CHOICE;
}

s32 MaxTextureSize()
{
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return (s32)size;
}

// A texture made in memory; 0 with the status text set when it is refused.
int CreateChecked(STexProcNode& node, TextureRef& ref, u32 w, u32 h, u32 format, const void* pixels)
{
    if (TEX_Create(ref, w, h, 1, 1, format, pixels, NODE_OUTPUT_TEX_FLAGS) && !ref.IsNull() && ref->GLName)
        return 1;
    node.Status.Format(STATUS_TEXT_MAX, "TEX_Create: texture of %ux%u in format %u was refused", w, h, format);
    ref.Release();
    return 0;
}

// The texture of required input i, or 0 with the shared status text.
int RequiredInput(STexProcNode& node, u32 i, TextureRef& out)
{
    if (i >= node.InParams.Count() || node.InParams[i]->Links.IsEmpty())
    {
        node.SetStatus(NS_NoInput);
        return 0;
    }
    out = node.InputTexture(i);
    if (!NodeTextureUsable(out))
    {
        node.SetStatus(NS_NullTexture);
        return 0;
    }
    return 1;
}

// The program the input binding selected, or null with the status set when it did not build.
SShader* BuiltProgram(STexProcNode& node, const char* program)
{
    SShader* sp = GCurShader;
    if (sp && sp->Program)
        return sp;
    node.Status.Format(STATUS_TEXT_MAX, "Process: program %s did not build", program);
    return nullptr;
}

int FirstInputPass(STexProcNode& node, const char* program, u32 format, bool inputFormat)
{
    TextureRef in;
    if (!RequiredInput(node, 0, in))
        return 0;
    const TArray<TString> none;
    return NodeSinglePass(node, in->Width, in->Height, inputFormat ? in->Format : format, program, none, nullptr);
}

int ConversionPass(STexProcNode& node, s32 mode, const char* const* programs)
{
    if (!NodeEnumInRange(node, "Mode", mode, ALT_SpaceCount))
        return 0;
    return FirstInputPass(node, programs[mode], 0, true);
}

float Switch(s32 v)
{
    return v ? 1.0f : 0.0f;
}

// Rows of a panel top down by the shared conventions; any change puts the node on the update list.
class FPanel
{
public:
    FPanel(STexProcNode& node, const mRect& r) : Node(node), R(r), Row(0), Changed(false) {}

    void Int(const char* label, s32* v, s32 lo, s32 hi)
    {
        const mRect f = Label(label);
        int x = *v;
        if (Node.GuiIntField(NodeRowId(R, f), f, &x, lo, hi))
            *v = x, Changed = true;
        ++Row;
    }
    void Float(const char* label, float* v, float lo, float hi)
    {
        const mRect f = Label(label);
        Changed |= Node.GuiFloatField(NodeRowId(R, f), f, v, lo, hi, NO_SNAP) != 0;
        ++Row;
    }
    void Enum(const char* label, s32* v, const char* const* texts, u32 count, const char* caption)
    {
        const mRect f = Label(label);
        if (Node.Button(NodeRowId(R, f), f, caption) && Node.Owner)
            OpenEnumMenu(Node.Owner, &Node, v, texts, count, f);
        ++Row;
    }
    void Check(const char* label, s32* v)
    {
        const mRect f = Label(label);
        int x = *v;
        if (Node.CheckBox(NodeRowId(R, f), f, &x))
            *v = x ? 1 : 0, Changed = true;
        ++Row;
    }
    void Toggles(const char* left, s32* a, const char* right, s32* b)
    {
        const mRect l = NodeRowLabel(R, Row), r = NodeRowField(R, Row);
        const u32 id = NodeRowId(R, l);
        int x = *a, y = *b;
        if (Node.GuiToggle(id, l, left, &x))
            *a = x ? 1 : 0, Changed = true;
        if (Node.GuiToggle(id + RIGHT_TOGGLE_ID, r, right, &y))
            *b = y ? 1 : 0, Changed = true;
        ++Row;
    }
    // The point preview: a square as wide as the panel below the rows, each point one white dot.
    float Points(const TPodArray<mVec2>& points)
    {
        const float top = R.y0 + NODE_PANEL_ROW_HEIGHT * (float)Row;
        const float side = R.x1 - R.x0;
        const mRect square = {R.x0, top, R.x1, top + side};
        if (points.Count() == 0)
            return side;
        mRect s;
        Node.TransformRect(s, square);
        if (!R_PushScissor(s))
            return side;
        TPodArray<SColVtx> v;
        if (v.Resize(points.Count()))
        {
            for (u32 i = 0; i < points.Count(); ++i)
                v[i] = SColVtx{s.x0 + (s.x1 - s.x0) * points[i].x, s.y0 + (s.y1 - s.y0) * points[i].y, 0,
                               PREVIEW_POINT_COLOR};
            Node.UseColorOnly();
            Node.BeginDraw();
            DrawColoredPrimitives(v.data, v.Count(), GL_POINTS);
        }
        R_PopScissor();
        return side;
    }
    float Finish(float extra = 0.0f)
    {
        if (Changed && Node.Owner)
            Node.Owner->AddToUpdateList(&Node);
        const float own = NODE_PANEL_ROW_HEIGHT * (float)Row + extra;
        mRect rest = R;
        rest.y0 += own;
        return own + Node.STexProcNode::PropertyPanel(rest);
    }

private:
    mRect Label(const char* label)
    {
        Node.GuiLabel(label, NODE_LABEL_COLOR, 0, NodeRowLabel(R, Row));
        return NodeRowField(R, Row);
    }

    STexProcNode& Node;
    const mRect& R;
    u32 Row;
    bool Changed;
};

float ConversionPanel(STexProcNode& node, const mRect& r, s32& mode)
{
    FPanel panel(node, r);
    panel.Enum("Alt. mode", &mode, ALT_SPACE_TEXTS, ALT_CHOICE_COUNT, ChoiceText(ALT_SPACE_TEXTS, ALT_SpaceCount, mode));
    return panel.Finish();
}

float PositionRows(STexProcNode& node, const mRect& r, s32* count, s32* seed, s32* mode, mVec2& p1, mVec2& p2,
                   const TPodArray<mVec2>& points)
{
    FPanel panel(node, r);
    panel.Int("Count", count, 1, PART_COUNT_PANEL_MAX);
    panel.Int("Seed", seed, 0, PART_SEED_MAX);
    if (mode)
        panel.Enum("Mode", mode, PART_POS_MODE_TEXTS, PPM_Count, ChoiceText(PART_POS_MODE_TEXTS, PPM_Count, *mode));
    panel.Float("P1[x]", &p1.x, -FULL_FLOAT, FULL_FLOAT);
    panel.Float("P1[y]", &p1.y, -FULL_FLOAT, FULL_FLOAT);
    panel.Float("P2[x]", &p2.x, -FULL_FLOAT, FULL_FLOAT);
    panel.Float("P2[y]", &p2.y, -FULL_FLOAT, FULL_FLOAT);
    return panel.Finish(panel.Points(points));
}

float Draw()
{
    return (float)gRand() / RANDOM_MAX;
}

// The point in the P1-P2 box at (u, v) of it.
mVec2 InBox(const mVec2& p1, const mVec2& p2, float u, float v)
{
    return mVec2((p2.x - p1.x) * u + p1.x, (p2.y - p1.y) * v + p1.y);
}

bool CountInRange(STexProcNode& node, s32 count)
{
    const s32 maxSize = MaxTextureSize();
    if (count >= 1 && count <= maxSize)
        return true;
    node.Status.Format(STATUS_TEXT_MAX, "Process: Count %d is outside 1..%d", (int)count, (int)maxSize);
    return false;
}

// The Count x 1 position texture of the points; texels after the last point are 0.
int PositionTexture(STexProcNode& node, s32 count, const TPodArray<mVec2>& points)
{
    TPodArray<mVec4> texels;
    if (!texels.Resize((u32)count))
    {
        node.Status.Format(STATUS_TEXT_MAX, "Process: no memory for %d positions", (int)count);
        return 0;
    }
    for (u32 i = 0; i < texels.Count(); ++i)
        texels[i] = i < points.Count() ? mVec4(points[i].x, points[i].y, 0, 0) : mVec4(0, 0, 0, 0);
    return CreateChecked(node, node.Output, (u32)count, 1, TEXFMT_RGBA32F, texels.data);
}

// A linked optional input read back as floats; the 1x1 (1, 1, 1, 1) image when it is unlinked,
// has no texture or cannot be read back.
void OptionalImage(STexProcNode& node, u32 input, FloatImage& out)
{
    const TextureRef tex = node.InputTexture(input);
    if (NodeTextureUsable(tex) && TEX_ReadPixelsFloat(tex.Get(), out) && out.Width > 0 && out.Height > 0)
        return;
    out.Resize(1, 1, false);
    out.At(0, 0) = mVec4(1, 1, 1, 1);
}

s32 Clamp(s32 v, s32 lo, s32 hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}
} // namespace

u32 ParticleBlendWord(s32 mode)
{
    return mode >= 0 && mode < PB_Count ? BLEND_WORDS[mode] : BLEND_WORDS[PB_Normal];
}

void PartPositions(s32 count, s32 seed, s32 mode, const mVec2& p1, const mVec2& p2, TPodArray<mVec2>& out)
{
    out.Clear();
    if (mode < 0 || mode >= PPM_Count || count < 1 || !out.Reserve((u32)count))
        return;
    gSRand((u32)seed);
    for (s32 i = 0; i < count; ++i)
    {
        if (mode == PPM_Rectangle)
        {
            const float a = Draw();
            const float b = Draw();
            out.Add(InBox(p1, p2, b, a));
        }
        else if (mode == PPM_Ellipsoid)
        {
            const float d = Draw();
            const float a = Draw();
            const float angle = a * TWO_PI;
            out.Add(InBox(p1, p2, gCos(angle) * d * 0.5f + 0.5f, gSin(angle) * d * 0.5f + 0.5f));
        }
        else
        {
            const float t = Draw();
            out.Add(mVec2(p1.x + (p2.x - p1.x) * t, p1.y + (p2.y - p1.y) * t));
        }
    }
}

void PartWeightedPositions(const FloatImage& weights, s32 count, s32 seed, const mVec2& p1, const mVec2& p2,
                           TPodArray<mVec2>& out)
{
    out.Clear();
    const u32 w = weights.Width, h = weights.Height;
    const u64 n = (u64)w * h;
    if (count < 1 || n == 0 || weights.Data.Count() < n || !out.Reserve((u32)count))
        return;
    TPodArray<float> rows;
    if (!rows.Resize(h))
        return;
    float total = 0.0f;
    for (u32 y = 0; y < h; ++y)
    {
        rows[y] = 0.0f;
        for (u32 x = 0; x < w; ++x)
        {
            const float weight = weights.Data[y * w + x].x;
            rows[y] += weight;
            total += weight;
        }
    }
    gSRand((u32)seed);
    for (s32 i = 0; i < count; ++i)
    {
        const float r = Draw() * total;
        float acc = 0.0f;
        u64 t = 0;
        // The row whose running sum reaches r, then the texel inside it.
        bool found = false;
        while (t < n)
        {
            const float s = rows[(u32)(t / w)] + acc;
            if (r <= s)
            {
                found = true;
                break;
            }
            acc = s;
            t += w;
        }
        if (!found)
            continue;
        found = false;
        while (t < n)
        {
            acc += weights.Data[(u32)t].x;
            if (r <= acc)
            {
                found = true;
                break;
            }
            ++t;
        }
        if (!found)
            continue;
        out.Add(InBox(p1, p2, (float)(t % w) / (float)w, (float)(t / w) / (float)h));
    }
}

bool ParticleQuads(float px, float py, float size, u32 width, u32 height, bool tiled, u32 maxQuads,
                   TPodArray<SParticleQuad>& out)
{
    if (width == 0 || height == 0)
        return true;
    const double hx = (double)size / width, hy = (double)size / height;
    const double cx = (double)px * 2.0 - 1.0, cy = (double)py * 2.0 - 1.0;
    const double l = cx - hx, r = cx + hx, b = cy - hy, t = cy + hy;
    const SParticleQuad q = {(float)l, (float)t, (float)r, (float)b};
    if (!std::isfinite(q.L) || !std::isfinite(q.R) || !std::isfinite(q.T) || !std::isfinite(q.B))
        return true;
    double kx0 = 0, kx1 = 0, ky0 = 0, ky1 = 0;
    if (tiled)
    {
        kx0 = -std::max(std::ceil((r - 1.0) * 0.5), 0.0);
        kx1 = -std::min(std::floor((l + 1.0) * 0.5), 0.0);
        ky0 = -std::max(std::ceil((t - 1.0) * 0.5), 0.0);
        ky1 = -std::min(std::floor((b + 1.0) * 0.5), 0.0);
    }
    // Counted in doubles: only a count that fits is ever turned into integers.
    const double copies = (kx1 - kx0 + 1.0) * (ky1 - ky0 + 1.0);
    if (copies > (double)maxQuads - (double)out.Count())
        return false;
    for (s32 ky = (s32)ky0; ky <= (s32)ky1; ++ky)
        for (s32 kx = (s32)kx0; kx <= (s32)kx1; ++kx)
        {
            const float ox = 2.0f * (float)kx, oy = 2.0f * (float)ky;
            out.Add(SParticleQuad{q.L + ox, q.T + oy, q.R + ox, q.B + oy});
        }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Colour-space conversion

const SPropDesc* STexNode_RGBtoALT::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Mode", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_RGBtoALT)

STexNode_RGBtoALT::STexNode_RGBtoALT(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "RGB to alt.";
    AddPins(*this, &PIN_INPUT, 1, PIN_OUTPUT);
    FNodeParams params(list);
    Mode = params.Int(P_Mode, 0);
}

int STexNode_RGBtoALT::Process()
{
    return ConversionPass(*this, Mode, RGB_TO_ALT_PROGRAMS);
}

float STexNode_RGBtoALT::PropertyPanel(const mRect& r)
{
    return ConversionPanel(*this, r, Mode);
}

void STexNode_RGBtoALT::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
    params.SetInt(P_Mode, Mode);
}

const SPropDesc* STexNode_ALTtoRGB::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Mode", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_ALTtoRGB)

STexNode_ALTtoRGB::STexNode_ALTtoRGB(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Alt. to RGB";
    AddPins(*this, &PIN_INPUT, 1, PIN_OUTPUT);
    FNodeParams params(list);
    Mode = params.Int(P_Mode, 0);
}

int STexNode_ALTtoRGB::Process()
{
    return ConversionPass(*this, Mode, ALT_TO_RGB_PROGRAMS);
}

float STexNode_ALTtoRGB::PropertyPanel(const mRect& r)
{
    return ConversionPanel(*this, r, Mode);
}

void STexNode_ALTtoRGB::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
    params.SetInt(P_Mode, Mode);
}

// ---------------------------------------------------------------------------------------------
// Alpha premultiplication

const SPropDesc* STexNode_AlphaPremul::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_AlphaPremul)

STexNode_AlphaPremul::STexNode_AlphaPremul(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Premultiply alpha";
    AddPins(*this, &PIN_INPUT, 1, PIN_OUTPUT);
}

int STexNode_AlphaPremul::Process()
{
    return FirstInputPass(*this, PROG_PREMUL, TEXFMT_RGBA16F, false);
}

void STexNode_AlphaPremul::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
}

const SPropDesc* STexNode_AlphaDePremul::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_AlphaDePremul)

STexNode_AlphaDePremul::STexNode_AlphaDePremul(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "DePremultiply alpha";
    AddPins(*this, &PIN_INPUT, 1, PIN_OUTPUT);
}

int STexNode_AlphaDePremul::Process()
{
    return FirstInputPass(*this, PROG_DEPREMUL, TEXFMT_RGBA16F, false);
}

void STexNode_AlphaDePremul::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
}

// ---------------------------------------------------------------------------------------------
// Expand

const SPropDesc* STexNode_Expand::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Iterations", 10, FULL_INT_MIN, FULL_INT_MAX),
        PropFloat("Range", 0.003921569f, 0.0f, FULL_FLOAT),
        PropInt("Red", 1, 0, 1),
        PropInt("Green", 1, 0, 1),
        PropInt("Blue", 1, 0, 1),
        PropInt("Alpha", 0, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Expand)

STexNode_Expand::STexNode_Expand(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Expand";
    AddPins(*this, EXPAND_INPUTS, 2, PIN_OUTPUT);
    FNodeParams params(list);
    Iterations = params.Int(P_Iterations, 10);
    Range = params.FloatClamped(P_Range, 0.003921569f);
    Red = params.IntClamped(P_Red, 1);
    Green = params.IntClamped(P_Green, 1);
    Blue = params.IntClamped(P_Blue, 1);
    Alpha = params.IntClamped(P_Alpha, 0);
}

int STexNode_Expand::Process()
{
    TextureRef a;
    if (!RequiredInput(*this, 0, a))
        return 0;
    if (Iterations < EXPAND_ITERATIONS_MIN || Iterations > EXPAND_ITERATIONS_MAX)
    {
        Status.Format(STATUS_TEXT_MAX, "Expand: Iterations %d is outside %d..%d", (int)Iterations,
                      (int)EXPAND_ITERATIONS_MIN, (int)EXPAND_ITERATIONS_MAX);
        return 0;
    }
    // A background input without a texture reads as the transparent default too.
    TextureRef bgr = InputTexture(1);
    if (!NodeTextureUsable(bgr))
    {
        const u8 clear[4] = {0, 0, 0, 0};
        if (!CreateChecked(*this, bgr, 1, 1, TEXFMT_RGBA8, clear))
            return 0;
    }
    const u32 format = NodeOutputFormat(FmtOverride, a->Format);
    TextureRef work[2];
    FrameBufferRef fb[2];
    for (u32 k = 0; k < 2; ++k)
    {
        if (!CreateChecked(*this, work[k], a->Width, a->Height, format, nullptr))
            return 0;
        fb[k] = FrameBufferRef(new SFrameBuffer);
        fb[k]->AttachTexture(0, work[k], FBA_Color);
        TString failure;
        if (!FB_Complete(*fb[k], &failure))
        {
            Status.Format(STATUS_TEXT_MAX, "CheckFrameBuffer: %s", failure.Str());
            return 0;
        }
    }
    const float mask[4] = {Switch(Red), Switch(Green), Switch(Blue), Switch(Alpha)};
    const TArray<TString> none;
    GLfloat saved[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, saved);
    glClearColor(0, 0, 0, 0);
    int ok = 1;
    for (s32 i = 0; i < Iterations && ok; ++i)
    {
        const u32 k = (u32)i % 2;
        PushFrameBuffer(fb[k]);
        glClear(GL_COLOR_BUFFER_BIT);
        BindInputTextures(PROG_EXPAND, none);
        SShader* sp = BuiltProgram(*this, PROG_EXPAND);
        if (sp)
        {
            SetUniformVec4(sp, "RGBA", mask);
            SetUniformFloat(sp, "Range", Range);
            TEX_Bind(1, bgr);
            if (i > 0)
                TEX_Bind(0, work[1 - k]);
            DrawFullscreenQuad(-1, 1, 1, -1, 0);
        }
        // The target must not stay bound as a texture while the next pass writes it.
        TEX_Unbind(0, work[1 - k].Get());
        PopFrameBuffer(fb[k]);
        ok = sp ? 1 : 0;
        if (ok)
            Output = work[k];
    }
    glClearColor(saved[0], saved[1], saved[2], saved[3]);
    return ok;
}

float STexNode_Expand::PropertyPanel(const mRect& r)
{
    FPanel panel(*this, r);
    panel.Int("Iterations", &Iterations, EXPAND_ITERATIONS_MIN, EXPAND_ITERATIONS_MAX);
    panel.Float("Range", &Range, 0.0f, FULL_FLOAT);
    panel.Toggles("Red", &Red, "Green", &Green);
    panel.Toggles("Blue", &Blue, "Alpha", &Alpha);
    return panel.Finish();
}

void STexNode_Expand::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
    params.SetInt(P_Iterations, Iterations);
    params.SetFloat(P_Range, Range);
    params.SetInt(P_Red, Red);
    params.SetInt(P_Green, Green);
    params.SetInt(P_Blue, Blue);
    params.SetInt(P_Alpha, Alpha);
}

// ---------------------------------------------------------------------------------------------
// Particle positions

const SPropDesc* STexNode_PartPos::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Count", 100, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("Seed", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("Mode", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropVec2("P1", mVec2(0, 0), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropVec2("P2", mVec2(1, 1), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_PartPos)

STexNode_PartPos::STexNode_PartPos(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Gen. part. pos.";
    PreviewShown = 0;
    AddPins(*this, nullptr, 0, PIN_POINTS);
    FNodeParams params(list);
    Count = params.Int(P_Count, 100);
    Seed = params.Int(P_Seed, 0);
    Mode = params.Int(P_Mode, 0);
    P1 = params.Vec2(P_P1);
    P2 = params.Vec2(P_P2);
}

STexNode_PartPos::~STexNode_PartPos()
{
    Points.Clear();
}

int STexNode_PartPos::Process()
{
    if (!CountInRange(*this, Count) || !NodeEnumInRange(*this, "Mode", Mode, PPM_Count))
        return 0;
    PartPositions(Count, Seed, Mode, P1, P2, Points);
    return PositionTexture(*this, Count, Points);
}

float STexNode_PartPos::PropertyPanel(const mRect& r)
{
    return PositionRows(*this, r, &Count, &Seed, &Mode, P1, P2, Points);
}

void STexNode_PartPos::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
    params.SetInt(P_Count, Count);
    params.SetInt(P_Seed, Seed);
    params.SetInt(P_Mode, Mode);
    params.SetVec2(P_P1, P1);
    params.SetVec2(P_P2, P2);
}

const SPropDesc* STexNode_PartPosTex::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Count", 100, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("Seed", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropVec2("P1", mVec2(0, 0), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropVec2("P2", mVec2(1, 1), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_PartPosTex)

STexNode_PartPosTex::STexNode_PartPosTex(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Gen. part. pos.";
    PreviewShown = 0;
    const char* const weights = "Weights";
    AddPins(*this, &weights, 1, PIN_POINTS);
    FNodeParams params(list);
    Count = params.Int(P_Count, 100);
    Seed = params.Int(P_Seed, 0);
    P1 = params.Vec2(P_P1);
    P2 = params.Vec2(P_P2);
}

STexNode_PartPosTex::~STexNode_PartPosTex()
{
    Points.Clear();
}

int STexNode_PartPosTex::Process()
{
    TextureRef tex;
    if (!RequiredInput(*this, 0, tex) || !CountInRange(*this, Count))
        return 0;
    // A weight image that cannot be read back has no texels and so places no particles.
    FloatImage weights;
    if (!TEX_ReadPixelsFloat(tex.Get(), weights))
        weights = FloatImage();
    PartWeightedPositions(weights, Count, Seed, P1, P2, Points);
    return PositionTexture(*this, Count, Points);
}

float STexNode_PartPosTex::PropertyPanel(const mRect& r)
{
    return PositionRows(*this, r, &Count, &Seed, nullptr, P1, P2, Points);
}

void STexNode_PartPosTex::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
    params.SetInt(P_Count, Count);
    params.SetInt(P_Seed, Seed);
    params.SetVec2(P_P1, P1);
    params.SetVec2(P_P2, P2);
}

// ---------------------------------------------------------------------------------------------
// Particle rendering

const SPropDesc* STexNode_PartRender::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", 256, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("Height", 256, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("BlendMode", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropFloat("Size", 32.0f, -FULL_FLOAT, FULL_FLOAT),
        PropInt("SSWidth", 1, 1, SHEET_SIDE_MAX),
        PropInt("SSHeight", 1, 1, SHEET_SIDE_MAX),
        PropInt("SSCount", 1, 1, SHEET_COUNT_MAX),
        PropInt("SSSeed", 0, 0, PART_SEED_MAX),
        PropInt("Tiled", 0, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_PartRender)

STexNode_PartRender::STexNode_PartRender(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Render particles";
    AddPins(*this, RENDER_INPUTS, sizeof(RENDER_INPUTS) / sizeof(RENDER_INPUTS[0]), PIN_OUTPUT);
    FNodeParams params(list);
    Width = params.Int(P_Width, 256);
    Height = params.Int(P_Height, 256);
    BlendMode = params.Int(P_BlendMode, 0);
    Size = params.Float(P_Size, 32.0f);
    SSWidth = params.IntClamped(P_SSWidth, 1);
    SSHeight = params.IntClamped(P_SSHeight, 1);
    SSCount = params.IntClamped(P_SSCount, 1);
    SSSeed = params.IntClamped(P_SSSeed, 0);
    Tiled = params.IntClamped(P_Tiled, 0);
}

int STexNode_PartRender::Process()
{
    // Both links are checked before either texture, so that a missing link is told first.
    for (u32 pin : {(u32)IN_Texture, (u32)IN_Position})
        if (pin >= InParams.Count() || InParams[pin]->Links.IsEmpty())
        {
            SetStatus(NS_NoInput);
            return 0;
        }
    TextureRef sprite, positions;
    if (!RequiredInput(*this, IN_Texture, sprite) || !RequiredInput(*this, IN_Position, positions))
        return 0;
    if (!CreateOutputTarget((u32)Width, (u32)Height, sprite->Format))
        return 0;
    FloatImage p, sizes, colors;
    if (!TEX_ReadPixelsFloat(positions.Get(), p))
        p = FloatImage();
    OptionalImage(*this, IN_Size, sizes);
    OptionalImage(*this, IN_Color, colors);

    // The sheet values held in their table ranges, whatever the fields hold.
    const s32 sheetW = Clamp(SSWidth, 1, SHEET_SIDE_MAX), sheetH = Clamp(SSHeight, 1, SHEET_SIDE_MAX);
    const s32 cells = std::min(Clamp(SSCount, 1, SHEET_COUNT_MAX), sheetW * sheetH);
    const float du = 1.0f / (float)sheetW, dv = 1.0f / (float)sheetH;
    const u32 n = p.Height > 0 ? p.Width : 0;
    const bool tiled = Tiled != 0;

    // The quads are counted before anything is drawn, so that a refused run draws nothing.
    TPodArray<SParticleQuad> quads;
    u32 total = 0;
    for (u32 i = 0; i < n; ++i)
    {
        quads.Clear();
        const mVec4& pos = p.Data[i];
        const float size = Size * sizes.Data[i % sizes.Width].x;
        if (!ParticleQuads(pos.x, pos.y, size, (u32)Width, (u32)Height, tiled, PARTICLE_QUADS_MAX - total, quads))
        {
            Status.Format(STATUS_TEXT_MAX, "Render particles: more than %u quads to draw; lower Size or turn Tiled off",
                          PARTICLE_QUADS_MAX);
            return 0;
        }
        total += quads.Count();
    }

    FrameBufferRef fb;
    if (!BeginOutputPass(fb))
        return 0;
    const TArray<TString> none;
    if (NodeTextureUsable(InputTexture(IN_Bgr)))
    {
        BindInputTextures(PROG_PARTICLE_BGR, none);
        if (!BuiltProgram(*this, PROG_PARTICLE_BGR))
        {
            EndOutputPass(fb);
            return 0;
        }
        DrawFullscreenQuad(-1, 1, 1, -1, 0);
    }
    BindInputTextures(PROG_PARTICLE, none);
    SShader* sp = BuiltProgram(*this, PROG_PARTICLE);
    if (!sp)
    {
        EndOutputPass(fb);
        return 0;
    }
    UseShader(ParticleBlendWord(BlendMode), sp);
    gSRand((u32)Clamp(SSSeed, 0, PART_SEED_MAX));
    for (u32 i = 0; i < n; ++i)
    {
        const s32 cell = gRand() % cells;
        const float uL = (float)(cell % sheetW) * du, vB = (float)(cell / sheetW) * dv;
        const float uR = du + uL, vT = dv + vB;
        const mVec4& pos = p.Data[i];
        const mVec4& c = colors.Data[i % colors.Width];
        const float size = Size * sizes.Data[i % sizes.Width].x;
        quads.Clear();
        ParticleQuads(pos.x, pos.y, size, (u32)Width, (u32)Height, tiled, PARTICLE_QUADS_MAX, quads);
        for (u32 k = 0; k < quads.Count(); ++k)
        {
            const SParticleQuad& q = quads[k];
            const STfCVtx v[QUAD_VERTICES] = {
                {q.L, q.T, 0, uL, vT, 0, c.x, c.y, c.z, c.w},
                {q.R, q.T, 0, uR, vT, 0, c.x, c.y, c.z, c.w},
                {q.R, q.B, 0, uR, vB, 0, c.x, c.y, c.z, c.w},
                {q.L, q.B, 0, uL, vB, 0, c.x, c.y, c.z, c.w},
            };
            DrawTexColoredPrimitives(v, QUAD_VERTICES, GL_TRIANGLE_FAN);
        }
    }
    UseShader(0, sp);
    EndOutputPass(fb);
    return 1;
}

float STexNode_PartRender::PropertyPanel(const mRect& r)
{
    FPanel panel(*this, r);
    panel.Int("Width", &Width, 1, RENDER_SIDE_PANEL_MAX);
    panel.Int("Height", &Height, 1, RENDER_SIDE_PANEL_MAX);
    panel.Float("Size", &Size, 0.0f, RENDER_SIZE_PANEL_MAX);
    panel.Enum("Blend", &BlendMode, PART_BLEND_TEXTS, PB_Count, ChoiceText(PART_BLEND_TEXTS, PB_Count, BlendMode));
    panel.Int("SS. W", &SSWidth, 1, SHEET_SIDE_MAX);
    panel.Int("SS. H", &SSHeight, 1, SHEET_SIDE_MAX);
    panel.Int("SS. cnt", &SSCount, 1, SHEET_COUNT_MAX);
    panel.Int("SS. seed", &SSSeed, 0, PART_SEED_MAX);
    panel.Check("Tiled", &Tiled);
    return panel.Finish();
}

void STexNode_PartRender::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    StoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
    params.SetInt(P_BlendMode, BlendMode);
    params.SetFloat(P_Size, Size);
    params.SetInt(P_SSWidth, SSWidth);
    params.SetInt(P_SSHeight, SSHeight);
    params.SetInt(P_SSCount, SSCount);
    params.SetInt(P_SSSeed, SSSeed);
    params.SetInt(P_Tiled, Tiled);
}

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem UTILS_MENU[] = {
    {"--Conversion", nullptr},
    {"RGB to alternative", "STexNode_RGBtoALT"},
    {"Alternative to RGB", "STexNode_ALTtoRGB"},
    {"--Particles", nullptr},
    {"Generate pos.", "STexNode_PartPos"},
    {"Generate pos. from tex.", "STexNode_PartPosTex"},
    {"Draw particles", "STexNode_PartRender"},
    {"--Texture tools", nullptr},
    {"Premultiply alpha", "STexNode_AlphaPremul"},
    {"Depremultiply alpha", "STexNode_AlphaDePremul"},
    {"Expand", "STexNode_Expand"},
    {"--Preview", nullptr},
    {"[Disabled] 3D Preview", nullptr},
};
} // namespace

TEX_NODE_MENU(STNUtilsMenu, UTILS_MENU)
