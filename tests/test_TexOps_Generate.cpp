// The Generate family: the HSV conversion against the textbook formula, uniforms from parameters,
// CPU noise against the engine's random sequence drawn here, and on the off-screen
// context each generator's pixels against a CPU computation of its program's formula, the format
// rules, noise statistics, kernels, and sizes and values from documents that no texture can take.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <GL/glew.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GameImage.h"
#include "GameShader.h"
#include "TexDocument.h"
#include "TexNodeRegistry.h"
#include "TexOps_Generate.h"

namespace
{
typedef std::function<void(TArray<SPropDesc>&)> TSetter;

const double BYTE_TOLERANCE = 1.5 / 255.0;
const double FLOAT_TOLERANCE = 1e-5;
const double BOUNDARY_MARGIN = 1e-3;
const u32 GW = 64, GH = 32;        // gradient and grid targets
const u32 NOISE_SIZE = 128;        // noise statistics
const u32 KERNEL_SIZE = 32;

template <class T> T* Make(STexProcessor& p, const TSetter& set = nullptr)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, T::Props());
    if (set)
        set(list);
    T* node = dynamic_cast<T*>(T::ClassRecord()->Create(list));
    p.AddNode(node, 0);
    return node;
}

void SetVec(TArray<SPropDesc>& l, const char* n, float x, float y) { FindPropDesc(l, n)->AsVec2() = mVec2(x, y); }

// Texel (x, y) of a texture (row 0 is texture coordinate v near 0) as floats.
std::vector<mVec4> ReadFloats(const TextureRef& t)
{
    FloatImage img;
    if (t.IsNull() || !TEX_ReadPixelsFloat(t.Get(), img))
        return {};
    return std::vector<mVec4>(img.Data.data, img.Data.data + img.Width * img.Height);
}

std::vector<u32> ReadBytes(const TextureRef& t)
{
    SImage2D img;
    if (t.IsNull() || !TEX_ReadPixels(t.Get(), img))
        return {};
    return std::vector<u32>(img.Pixels.data, img.Pixels.data + img.Width * img.Height);
}

// The engine's random source as documented: state * 214013 + 2531011, bits 16..30.
struct FLcg
{
    u32 state;
    int Next()
    {
        state = state * 214013u + 2531011u;
        return (int)((state >> 16) & 0x7FFF);
    }
};

const SGenUniform* FindUniform(const TGenUniforms& u, const char* name)
{
    for (u32 i = 0; i < u.Count(); ++i)
        if (std::string(u[i].Name) == name)
            return &u[i];
    return nullptr;
}

// ---- The programs' formulas as their headers state them, in double precision.

double Ramp(double t, int repeat, int mirror)
{
    if (std::isnan(t))
        t = 0;
    if (mirror)
        t = 1.0 - std::fabs(1.0 - (t - 2.0 * std::floor(t / 2.0)));
    else if (repeat)
        t = t - std::floor(t);
    return t < 0 ? 0 : (t > 1 ? 1 : t);
}

double Reach(double dx, double dy, double r, double a, double b)
{
    const double root = std::hypot(dx * b, dy * a);
    return root > 0 ? a * b * r / root : 0.0;
}

enum EKind
{
    K_Linear,
    K_Radial,
    K_Box,
    K_Grid,
};

struct SGenCase
{
    const char* name;
    int kind;
    mVec2 a, b, c; // Pos0, Pos1 | Pos0, Radius0, Radius1 | Off, Border, Hole
    int repeat, mirror, uniform, texels;
    bool floatInputs; // RGBA 32-bit float colours on both inputs
};

// t before the ramp and whether it lies too near a jump of the formula to compare.
double RawT(const SGenCase& c, double u, double v, bool& nearJump)
{
    nearJump = false;
    if (c.kind == K_Linear)
    {
        const double dx = c.b.x - c.a.x, dy = c.b.y - c.a.y, len2 = dx * dx + dy * dy;
        const double t = len2 > 0 ? ((u - c.a.x) * dx + (v - c.a.y) * dy) / len2 : 1.0;
        nearJump = c.repeat && !c.mirror && std::fabs(t - std::round(t)) < BOUNDARY_MARGIN;
        return t;
    }
    const double r0y = c.uniform ? c.b.x : c.b.y, r1y = c.uniform ? c.c.x : c.c.y;
    const double dx = u - c.a.x, dy = v - c.a.y;
    double t;
    if (c.kind == K_Radial)
    {
        const double r = std::hypot(dx, dy), p0 = Reach(dx, dy, r, c.b.x, r0y), span = Reach(dx, dy, r, c.c.x, r1y) - p0;
        t = span != 0 ? (r - p0) / span : (r < p0 ? 0.0 : 1.0);
        nearJump = span == 0 && std::fabs(r - p0) < BOUNDARY_MARGIN;
    }
    else
    {
        auto axis = [&](double d, double r0, double r1) {
            nearJump |= r1 == r0 && std::fabs(d - r0) < BOUNDARY_MARGIN;
            return r1 != r0 ? (d - r0) / (r1 - r0) : (d < r0 ? 0.0 : 1.0);
        };
        t = std::max(axis(std::fabs(dx), c.b.x, c.c.x), axis(std::fabs(dy), r0y, r1y));
    }
    nearJump |= c.repeat && !c.mirror && std::fabs(t - std::round(t)) < BOUNDARY_MARGIN;
    return t;
}

double GridT(const SGenCase& c, u32 x, u32 y, bool& nearJump)
{
    nearJump = false;
    const double sx = c.texels ? 1.0 / GW : 1.0, sy = c.texels ? 1.0 / GH : 1.0;
    const double p[2] = {(x + 0.5) / GW - c.a.x * sx, (y + 0.5) / GH - c.a.y * sy};
    const double border[2] = {c.b.x * sx, (c.uniform ? c.b.x : c.b.y) * sy};
    const double hole[2] = {c.c.x * sx, (c.uniform ? c.c.x : c.c.y) * sy};
    double t = 1;
    for (int k = 0; k < 2; ++k)
    {
        const double period = border[k] + hole[k];
        if (!(period > 0))
            continue;
        const double m = p[k] - period * std::floor(p[k] / period);
        nearJump |= std::fabs(m - border[k]) < BOUNDARY_MARGIN * period || m < BOUNDARY_MARGIN * period;
        t *= m >= border[k] ? 1.0 : 0.0;
    }
    return t;
}

const mVec4 T1_COLOR(0.2f, -1.0f, 0.5f, 1.0f);
const mVec4 T2_COLOR(0.9f, 3.0f, 0.25f, 0.0f);

STexNode_ColorRGBA* ColorNode(STexProcessor& p, const mVec4& c)
{
    return Make<STexNode_ColorRGBA>(p, [&](TArray<SPropDesc>& l) { FindPropDesc(l, "Color")->AsColRGBA() = c; });
}

class GenerateTest : public GLTestFixture
{
protected:
    TShippedShaders shaders;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        shaders.Begin();
    }
    void TearDown() override { shaders.End(); }
};
} // namespace

// ---------------------------------------------------------------------------------------------
// Without GL

TEST(GenerateColors, HsvToRgbMatchesTheSectorFormulaAndWrapsHuesIntoOneTurn)
{
    const struct
    {
        float h, s, v;
        float r, g, b;
    } cases[] = {
        {0.0f, 1, 1, 1, 0, 0}, {0.25f, 1, 1, 0.5f, 1, 0}, {0.5f, 1, 1, 0, 1, 1}, {1.0f, 1, 1, 1, 0, 0},
        {0.7f, 0, 0.4f, 0.4f, 0.4f, 0.4f}, {-0.25f, 1, 1, 0.5f, 0, 1}, {NAN, 1, 1, 1, 0, 0}, {INFINITY, 1, 1, 1, 0, 0},
    };
    for (const auto& c : cases)
    {
        const float hsv[3] = {c.h, c.s, c.v};
        float out[4];
        HsvToRgb(out, hsv);
        EXPECT_NEAR(out[0], c.r, 1e-6) << c.h;
        EXPECT_NEAR(out[1], c.g, 1e-6) << c.h;
        EXPECT_NEAR(out[2], c.b, 1e-6) << c.h;
        EXPECT_EQ(out[3], 1.0f);
    }
    // A sweep against c = v - v s clamp(min(k, 4 - k), 0, 1), k = (n + 6h) mod 6, n = 5, 3, 1.
    const int STEPS = 1000;
    const float sats[] = {0.3f, 1.0f}, vals[] = {0.8f, 2.0f};
    for (int i = -STEPS; i <= STEPS; ++i)
        for (float s : sats)
            for (float v : vals)
            {
                const float h = (float)i / (float)(STEPS / 2) + 0.0003f;
                const float hsv[3] = {h, s, v};
                float out[4];
                HsvToRgb(out, hsv);
                const double hw = h - std::floor((double)h);
                const int ns[3] = {5, 3, 1};
                for (int ch = 0; ch < 3; ++ch)
                {
                    const double k = std::fmod(ns[ch] + 6.0 * hw, 6.0);
                    const double ref = v - v * s * std::min(1.0, std::max(0.0, std::min(k, 4.0 - k)));
                    ASSERT_NEAR(out[ch], ref, 1e-4 * v) << "h " << h << " channel " << ch;
                }
            }
}

TEST(GenerateUniforms, PassesSendTheirParametersAsTheProgramsExpectThem)
{
    struct SSet
    {
        const char* name; // null: nothing set
        float x, y;       // an integer entry takes x
    };
    const struct
    {
        const char* cls;
        SSet a, b;
        const char* uniform;
        float x, y; // an int uniform compares x
    } cases[] = {
        {"STexNode_Grid", {"Texels", 1, 0}, {"Off", 8, 8}, "Off", 0.03125f, 0.03125f},
        {"STexNode_Grid", {"Border", 0.1f, 0.3f}, {}, "Border", 0.1f, 0.1f},
        {"STexNode_Grid", {"Uniform", 0, 0}, {"Hole", 0.1f, 0.3f}, "Hole", 0.1f, 0.3f},
        {"STexNode_RadialGradient", {"Radius1", 0.5f, 0.2f}, {}, "Radius1", 0.5f, 0.5f},
        {"STexNode_BoxGradient", {"Uniform", 0, 0}, {"Radius1", 0.5f, 0.2f}, "Radius1", 0.5f, 0.2f},
        {"STexNode_GPUClouds", {"Uniform", 0, 0}, {"DetScaleY", 4, 0}, "DetailScale", 8, 4},
        {"STexNode_GPUClouds", {"OctDataY", 1e6f, 0}, {}, "OctDataE", (float)CLOUDS_MAX_OCTAVE, 0},
        {"STexNode_GPUClouds", {"OctDataX", -5, 0}, {}, "OctDataB", (float)CLOUDS_MIN_OCTAVE, 0},
        {"STexNode_GPUNoise", {"Width", 64, 0}, {}, "TextureSize", 64, 256},
        {"STexNode_LinearGradient", {"Pos0", NAN, 0.5f}, {}, "Pos0", 0, 0.5f},
    };
    for (const auto& c : cases)
    {
        TArray<SPropDesc> list;
        InstantiatePropTable(list, FindClassInfo(c.cls)->Props);
        for (const SSet& set : {c.a, c.b})
            if (set.name && FindPropDesc(list, set.name)->Type == EVT_Int)
                FindPropDesc(list, set.name)->AsInt() = (s32)set.x;
            else if (set.name)
                FindPropDesc(list, set.name)->AsVec2() = mVec2(set.x, set.y);
        std::unique_ptr<CEntity> node(FindClassInfo(c.cls)->Create(list));
        TGenUniforms u;
        if (auto* two = dynamic_cast<STexNode_GenTwoInputs*>(node.get()))
            two->Uniforms(u);
        else
            dynamic_cast<STexNode_GPUNoise&>(*node).Uniforms(u);
        const SGenUniform* x = FindUniform(u, c.uniform);
        ASSERT_NE(x, nullptr) << c.cls << " " << c.uniform;
        if (x->Kind == GU_Int)
        {
            EXPECT_EQ(x->I, (s32)c.x) << c.cls << " " << c.uniform;
            continue;
        }
        EXPECT_FLOAT_EQ(x->V[0], c.x) << c.cls << " " << c.uniform;
        EXPECT_FLOAT_EQ(x->Kind == GU_Vec2 ? x->V[1] : c.y, c.y) << c.cls << " " << c.uniform;
    }
}

// ---------------------------------------------------------------------------------------------
// On the off-screen context

TEST_F(GenerateTest, CpuNoiseIsTheEngineSequenceModulo255RowByRow)
{
    const struct
    {
        s32 seed;
        u8 first[6];
    } known[] = {{0, {38, 69, 73, 142, 185, 67}}, {1, {41, 107, 214, 235, 44, 169}}};
    STexProcessor p;
    for (const auto& k : known)
    {
        STexNode_CPUNoise* n = Make<STexNode_CPUNoise>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Width", 6);
            TestSetInt(l, "Height", 1);
            TestSetInt(l, "Seed", k.seed);
        });
        ASSERT_EQ(n->Process(), 1) << n->Status.Str();
        const std::vector<u32> px = ReadBytes(n->Output);
        ASSERT_EQ(px.size(), 6u);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(px[i], k.first[i] * 0x010101u | 0xFF000000u) << "seed " << k.seed << " texel " << i;
    }
    // Widths 3 and 4 wrap the same sequence into rows; a larger noise holds no grey 255.
    const u32 sizes[][2] = {{3, 4}, {4, 3}, {64, 64}};
    for (const auto& s : sizes)
    {
        const s32 SEED = 12345;
        STexNode_CPUNoise* n = Make<STexNode_CPUNoise>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Width", (s32)s[0]);
            TestSetInt(l, "Height", (s32)s[1]);
            TestSetInt(l, "Seed", SEED);
        });
        ASSERT_EQ(n->Process(), 1);
        const std::vector<u32> px = ReadBytes(n->Output);
        ASSERT_EQ(px.size(), (size_t)(s[0] * s[1]));
        FLcg lcg{(u32)SEED};
        for (size_t i = 0; i < px.size(); ++i)
        {
            const u32 g = (u32)(lcg.Next() % 255);
            ASSERT_EQ(px[i], g * 0x010101u | 0xFF000000u) << s[0] << " wide, texel " << i;
        }
        // Created with its mip chain.
        TEX_Bind(TEX_ACTIVE_UNIT, n->Output);
        GLint level1 = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
        EXPECT_EQ(level1, (GLint)std::max(1u, s[0] / 2));
    }
}

TEST_F(GenerateTest, ColourNodesGiveOneFloatTexelThatNoOverrideChanges)
{
    STexProcessor p;
    const mVec4 rgba(-2.0f, 7.5f, 0.25f, 1.0f);
    STexNode_ColorRGBA* c = ColorNode(p, rgba);
    STexNode_ColorHSVA* h = Make<STexNode_ColorHSVA>(p, [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Color")->AsColHSV() = mVec3(0.5f, 1.0f, 2.0f);
        FindPropDesc(l, "Alpha")->AsFloat() = -3.0f;
    });
    STexNode_ColorHSVA* fresh = Make<STexNode_ColorHSVA>(p);
    const struct
    {
        STexProcNode* node;
        mVec4 expected;
    } cases[] = {{c, rgba}, {h, mVec4(0, 2, 2, -3)}, {fresh, mVec4(0, 0, 0, 0)}};
    for (const auto& k : cases)
        for (s32 override_ : {0, (s32)TEXFMT_RGBA8, (s32)TEXFMT_RGBA16F})
        {
            k.node->FmtOverride = override_;
            ASSERT_EQ(k.node->Process(), 1);
            EXPECT_EQ(k.node->Output->Format, (u32)TEXFMT_RGBA32F);
            const std::vector<mVec4> px = ReadFloats(k.node->Output);
            ASSERT_EQ(px.size(), 1u);
            EXPECT_EQ(px[0].x, k.expected.x);
            EXPECT_EQ(px[0].y, k.expected.y);
            EXPECT_EQ(px[0].z, k.expected.z);
            EXPECT_EQ(px[0].w, k.expected.w);
        }
}

TEST_F(GenerateTest, GradientsAndGridMatchTheirProgramsFormulas)
{
    const float ZERO_R = 0.0f;
    const SGenCase cases[] = {
        {"linear default", K_Linear, {0, 0}, {1, 0}, {}, 0, 0, 0, 0, false},
        {"linear diagonal", K_Linear, {0.2f, 0.9f}, {0.7f, 0.1f}, {}, 0, 0, 0, 0, false},
        {"linear repeat", K_Linear, {0.1f, 0.1f}, {0.37f, 0.25f}, {}, 1, 0, 0, 0, false},
        {"linear mirror", K_Linear, {0.1f, 0.1f}, {0.37f, 0.25f}, {}, 0, 1, 0, 0, false},
        {"linear no length", K_Linear, {0.3f, 0.3f}, {0.3f, 0.3f}, {}, 0, 0, 0, 0, false},
        {"linear on colours", K_Linear, {0, 0.2f}, {0.8f, 1}, {}, 0, 0, 0, 0, true},
        {"radial default", K_Radial, {0.5f, 0.5f}, {ZERO_R, ZERO_R}, {0.5f, 0.5f}, 0, 0, 1, 0, false},
        {"radial ellipse", K_Radial, {0.4f, 0.6f}, {0.05f, 0.1f}, {0.45f, 0.2f}, 0, 0, 0, 0, false},
        {"radial uniform", K_Radial, {0.4f, 0.6f}, {0.05f, 0.1f}, {0.45f, 0.2f}, 0, 0, 1, 0, false},
        {"radial repeat", K_Radial, {0.5f, 0.5f}, {0.0f, 0.0f}, {0.13f, 0.13f}, 1, 0, 1, 0, false},
        {"radial mirror on colours", K_Radial, {0.5f, 0.5f}, {0.0f, 0.0f}, {0.13f, 0.13f}, 0, 1, 1, 0, true},
        {"radial equal radii", K_Radial, {0.5f, 0.5f}, {0.3f, 0.3f}, {0.3f, 0.3f}, 0, 0, 1, 0, false},
        {"box default", K_Box, {0.5f, 0.5f}, {ZERO_R, ZERO_R}, {0.5f, 0.5f}, 0, 0, 1, 0, false},
        {"box rectangle", K_Box, {0.3f, 0.6f}, {0.1f, 0.05f}, {0.35f, 0.45f}, 0, 0, 0, 0, false},
        {"box mirror", K_Box, {0.3f, 0.6f}, {0.0f, 0.0f}, {0.11f, 0.17f}, 0, 1, 0, 0, false},
        {"box equal radii", K_Box, {0.5f, 0.5f}, {0.2f, 0.1f}, {0.2f, 0.4f}, 0, 0, 0, 0, true},
        {"grid default", K_Grid, {0.025f, 0.025f}, {0.05f, 0.05f}, {0.2f, 0.2f}, 0, 0, 1, 0, false},
        {"grid per axis", K_Grid, {0.01f, 0.07f}, {0.04f, 0.13f}, {0.11f, 0.2f}, 0, 0, 0, 0, true},
        {"grid in texels", K_Grid, {3, 2}, {2, 1}, {5, 4}, 0, 0, 0, 1, false},
        {"grid without period", K_Grid, {0, 0}, {0.1f, 0.0f}, {-0.1f, 0.3f}, 0, 0, 0, 0, false},
    };
    const char* const classes[] = {"STexNode_LinearGradient", "STexNode_RadialGradient", "STexNode_BoxGradient",
                                   "STexNode_Grid"};
    const char* const vectors[][3] = {{"Pos0", "Pos1", nullptr}, {"Pos0", "Radius0", "Radius1"},
                                      {"Pos0", "Radius0", "Radius1"}, {"Off", "Border", "Hole"}};
    for (const SGenCase& c : cases)
    {
        STexProcessor p;
        TArray<SPropDesc> l;
        InstantiatePropTable(l, FindClassInfo(classes[c.kind])->Props);
        const mVec2 v[3] = {c.a, c.b, c.c};
        for (int k = 0; k < 3; ++k)
            if (vectors[c.kind][k])
                SetVec(l, vectors[c.kind][k], v[k].x, v[k].y);
        const std::pair<const char*, s32> ints[] = {{"Width", (s32)GW}, {"Height", (s32)GH}, {"Repeat", c.repeat},
                                                    {"Mirror", c.mirror}, {"Uniform", c.uniform}, {"Texels", c.texels}};
        for (const auto& i : ints)
            if (SPropDesc* e = FindPropDesc(l, i.first))
                e->AsInt() = i.second;
        STexProcNode* n = dynamic_cast<STexProcNode*>(FindClassInfo(classes[c.kind])->Create(l));
        p.AddNode(n, 0);
        mVec4 t1(0, 0, 0, 0), t2(1, 1, 1, 1);
        if (c.floatInputs)
        {
            // T2 on input 1 and T1 on input 0, linked in that order to catch swapped units.
            STexNode_ColorRGBA* b = ColorNode(p, T2_COLOR);
            STexNode_ColorRGBA* a = ColorNode(p, T1_COLOR);
            ASSERT_TRUE(TestLink(p, b, 0, n, 1) && TestLink(p, a, 0, n, 0));
            ASSERT_TRUE(a->Process() && b->Process());
            t1 = T1_COLOR, t2 = T2_COLOR;
        }
        ASSERT_EQ(n->Process(), 1) << c.name << ": " << n->Status.Str();
        ASSERT_EQ(n->Output->Format, c.floatInputs ? (u32)TEXFMT_RGBA32F : (u32)TEXFMT_RGBA8) << c.name;
        const std::vector<mVec4> px = ReadFloats(n->Output);
        ASSERT_EQ(px.size(), (size_t)(GW * GH));
        const double tol = c.floatInputs ? FLOAT_TOLERANCE * 4 : BYTE_TOLERANCE;
        int compared = 0;
        for (u32 y = 0; y < GH; ++y)
            for (u32 x = 0; x < GW; ++x)
            {
                bool nearJump = false;
                const double t = c.kind == K_Grid ? GridT(c, x, y, nearJump)
                                                  : Ramp(RawT(c, (x + 0.5) / GW, (y + 0.5) / GH, nearJump), c.repeat, c.mirror);
                if (nearJump)
                    continue;
                ++compared;
                const mVec4& o = px[y * GW + x];
                const float got[4] = {o.x, o.y, o.z, o.w};
                const float lo[4] = {t1.x, t1.y, t1.z, t1.w}, hi[4] = {t2.x, t2.y, t2.z, t2.w};
                for (int ch = 0; ch < 4; ++ch)
                    ASSERT_NEAR(got[ch], lo[ch] + (hi[ch] - lo[ch]) * t, tol * std::max(1.0f, std::fabs(hi[ch] - lo[ch])))
                        << c.name << " at " << x << "," << y << " channel " << ch;
            }
        EXPECT_GT(compared, (int)(GW * GH) / 2) << c.name;
    }
}

TEST_F(GenerateTest, OutputFormatIsTheLargerInputsUnlessOverriddenAndNoiseKeepsItsOwn)
{
    const struct
    {
        const char* what;
        int linkFloat;   // -1 none, else the input linked to an RGBA32F colour
        s32 override_;
        u32 expected;
    } cases[] = {
        {"no inputs", -1, 0, TEXFMT_RGBA8},
        {"float on input 0", 0, 0, TEXFMT_RGBA32F},
        {"float on input 1", 1, 0, TEXFMT_RGBA32F},
        {"override wins", 1, TEXFMT_RGBA16F, TEXFMT_RGBA16F},
        {"override on bytes", -1, TEXFMT_RGBA32F, TEXFMT_RGBA32F},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexProcNode* nodes[] = {Make<STexNode_LinearGradient>(p), Make<STexNode_RadialGradient>(p),
                                 Make<STexNode_BoxGradient>(p), Make<STexNode_Grid>(p), Make<STexNode_GPUClouds>(p)};
        STexNode_ColorRGBA* col = ColorNode(p, T1_COLOR);
        ASSERT_EQ(col->Process(), 1);
        for (STexProcNode* n : nodes)
        {
            if (c.linkFloat >= 0)
            {
                ASSERT_TRUE(TestLink(p, col, 0, n, (u32)c.linkFloat));
            }
            n->FmtOverride = c.override_;
            ASSERT_EQ(n->Process(), 1) << n->Status.Str();
            EXPECT_EQ(n->Output->Format, c.expected) << c.what << " " << n->ClassInfo->Name;
        }
    }
    // A source linked without a texture is replaced by the transparent black substitute.
    STexProcessor p;
    STexNode_LinearGradient* g = Make<STexNode_LinearGradient>(p, [](TArray<SPropDesc>& l) {
        TestSetInt(l, "Width", 4);
        TestSetInt(l, "Height", 4);
    });
    ASSERT_TRUE(TestLink(p, AddPinsNode(p, 0, 1, 0), 0, g, 0));
    ASSERT_EQ(g->Process(), 1) << g->Status.Str();
    // Texel 0 lies at t = 1/8 of the ramp: its alpha is 1/8 of the white substitute's over black.
    const double FIRST_T = 0.5 / 4;
    EXPECT_NEAR((double)(ReadBytes(g->Output)[0] >> 24), FIRST_T * 255, 1.0);
    // Both noises and the kernel: the override leaves the noises alone and changes the kernel.
    STexNode_GPUNoise* gn = Make<STexNode_GPUNoise>(p);
    STexNode_CPUNoise* cn = Make<STexNode_CPUNoise>(p);
    STexNode_BlurKernel* k = Make<STexNode_BlurKernel>(p);
    for (STexProcNode* n : {(STexProcNode*)gn, (STexProcNode*)cn, (STexProcNode*)k})
    {
        n->FmtOverride = TEXFMT_RGBA32F;
        ASSERT_EQ(n->Process(), 1) << n->Status.Str();
    }
    EXPECT_EQ(gn->Output->Format, (u32)TEXFMT_RGBA8);
    EXPECT_EQ(cn->Output->Format, (u32)TEXFMT_RGBA8);
    EXPECT_EQ(k->Output->Format, (u32)TEXFMT_RGBA32F);
}

namespace
{
struct SNoiseStats
{
    double mean, correlation;
};

// Mean of the red channel and the correlation of horizontal neighbours.
SNoiseStats Stats(const std::vector<u32>& px, u32 w)
{
    const size_t n = px.size();
    double sum = 0, sq = 0, cross = 0;
    size_t pairs = 0;
    for (size_t i = 0; i < n; ++i)
        sum += (px[i] & 0xFF) / 255.0, sq += std::pow((px[i] & 0xFF) / 255.0, 2);
    const double mean = sum / n, var = sq / n - mean * mean;
    for (size_t i = 0; i + 1 < n; ++i)
        if ((i + 1) % w != 0)
            cross += ((px[i] & 0xFF) / 255.0 - mean) * ((px[i + 1] & 0xFF) / 255.0 - mean), ++pairs;
    return {mean, var > 0 ? cross / pairs / var : 1.0};
}
} // namespace

TEST_F(GenerateTest, GpuNoiseAndCloudsRepeatPerSeedAndDifferAcrossSeeds)
{
    const double MEAN = 0.5, MEAN_TOLERANCE = 0.05, NOISE_MAX_CORRELATION = 0.2, CLOUDS_MIN_CORRELATION = 0.6;
    const double MIN_CHANGED = 0.95;
    struct SCase
    {
        const char* what;
        std::function<STexProcNode*(STexProcessor&, s32)> make;
        bool clouds;
    };
    auto sized = [](s32 seed) {
        return [=](TArray<SPropDesc>& l) {
            TestSetInt(l, "Width", (s32)NOISE_SIZE);
            TestSetInt(l, "Height", (s32)NOISE_SIZE);
            TestSetInt(l, "Seed", seed);
        };
    };
    const SCase cases[] = {
        {"noise", [&](STexProcessor& p, s32 s) { return Make<STexNode_GPUNoise>(p, sized(s)); }, false},
        {"clouds", [&](STexProcessor& p, s32 s) { return Make<STexNode_GPUClouds>(p, sized(s)); }, true},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* a = c.make(p, 3);
        STexProcNode* b = c.make(p, 3);
        STexProcNode* other = c.make(p, 4);
        ASSERT_TRUE(a->Process() && b->Process() && other->Process()) << c.what;
        const std::vector<u32> pa = ReadBytes(a->Output), pb = ReadBytes(b->Output), po = ReadBytes(other->Output);
        ASSERT_EQ(pa.size(), (size_t)(NOISE_SIZE * NOISE_SIZE));
        EXPECT_EQ(pa, pb) << c.what;
        size_t changed = 0;
        for (size_t i = 0; i < pa.size(); ++i)
            changed += pa[i] != po[i];
        EXPECT_GT(changed, pa.size() * MIN_CHANGED) << c.what;
        const SNoiseStats s = Stats(pa, NOISE_SIZE);
        if (c.clouds)
            EXPECT_GT(s.correlation, CLOUDS_MIN_CORRELATION);
        else
        {
            EXPECT_NEAR(s.mean, MEAN, MEAN_TOLERANCE);
            EXPECT_LT(std::fabs(s.correlation), NOISE_MAX_CORRELATION);
        }
    }
}

TEST_F(GenerateTest, KernelsAreSymmetricBumpsWithTheirMipChain)
{
    for (s32 type = 0; type < (s32)BLUR_KERNEL_COUNT; ++type)
    {
        STexProcessor p;
        STexNode_BlurKernel* k = Make<STexNode_BlurKernel>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Width", (s32)KERNEL_SIZE);
            TestSetInt(l, "Height", (s32)KERNEL_SIZE);
            TestSetInt(l, "Type", type);
        });
        ASSERT_EQ(k->Process(), 1) << k->Status.Str();
        const std::vector<u32> px = ReadBytes(k->Output);
        ASSERT_EQ(px.size(), (size_t)(KERNEL_SIZE * KERNEL_SIZE));
        auto g = [&](u32 x, u32 y) { return (int)(px[y * KERNEL_SIZE + x] & 0xFF); };
        const u32 last = KERNEL_SIZE - 1, mid = KERNEL_SIZE / 2;
        int peak = 0;
        for (u32 y = 0; y < KERNEL_SIZE; ++y)
            for (u32 x = 0; x < KERNEL_SIZE; ++x)
            {
                EXPECT_NEAR(g(x, y), g(last - x, y), 1) << type;
                EXPECT_NEAR(g(x, y), g(x, last - y), 1) << type;
                EXPECT_NEAR(g(x, y), g(y, x), 1) << type;
                peak = std::max(peak, g(x, y));
            }
        EXPECT_EQ(g(mid, mid), peak) << type;
        EXPECT_GT(g(mid, mid), 240) << type;
        EXPECT_LT(g(0, 0), g(mid, mid) / 4) << type;
        TEX_Bind(TEX_ACTIVE_UNIT, k->Output);
        GLint level1 = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
        EXPECT_EQ(level1, (GLint)KERNEL_SIZE / 2) << type;
    }
}

TEST_F(GenerateTest, ValuesNoTextureCanTakeFailWithAStatusAndOthersStayFinite)
{
    const s32 BAD_SIZES[] = {0, -5, 65536};
    const std::vector<std::function<STexProcNode*(STexProcessor&, const TSetter&)>> sized = {
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_CPUNoise>(p, s); },
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_GPUNoise>(p, s); },
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_GPUClouds>(p, s); },
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_LinearGradient>(p, s); },
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_RadialGradient>(p, s); },
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_BoxGradient>(p, s); },
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_Grid>(p, s); },
        [](STexProcessor& p, const TSetter& s) { return Make<STexNode_BlurKernel>(p, s); },
    };
    STexProcessor p;
    for (const auto& make : sized)
        for (s32 bad : BAD_SIZES)
            for (const char* param : {"Width", "Height"})
            {
                STexProcNode* n = make(p, [&](TArray<SPropDesc>& l) { TestSetInt(l, param, bad); });
                EXPECT_EQ(n->Process(), 0) << n->ClassInfo->Name << " " << param << " " << bad;
                EXPECT_NE(std::string(n->Status.Str()).find("is outside 1.."), std::string::npos) << n->Status.Str();
                EXPECT_TRUE(n->Output.IsNull());
            }
    STexNode_BlurKernel* k = Make<STexNode_BlurKernel>(p, [](TArray<SPropDesc>& l) { TestSetInt(l, "Type", 7); });
    EXPECT_EQ(k->Process(), 0);
    EXPECT_STREQ(k->Status.Str(), "Type 7 is outside 0..1");
    EXPECT_STREQ(k->TypeText(), "?");

    STexNode_GPUClouds* clouds = Make<STexNode_GPUClouds>(p, [](TArray<SPropDesc>& l) {
        TestSetInt(l, "Width", 16);
        TestSetInt(l, "Height", 16);
        TestSetInt(l, "OctDataY", 1000000);
    });
    EXPECT_EQ(clouds->Process(), 1) << clouds->Status.Str();

    // Positions that are no number, on float colours so that a NaN would survive to the output.
    const float NaN = NAN;
    STexProcNode* odd[] = {
        Make<STexNode_LinearGradient>(p, [=](TArray<SPropDesc>& l) { SetVec(l, "Pos1", NaN, INFINITY); }),
        Make<STexNode_RadialGradient>(p, [=](TArray<SPropDesc>& l) { SetVec(l, "Pos0", NaN, NaN); }),
        Make<STexNode_BoxGradient>(p, [=](TArray<SPropDesc>& l) { SetVec(l, "Radius1", NaN, 3e38f); }),
        Make<STexNode_Grid>(p, [=](TArray<SPropDesc>& l) { SetVec(l, "Hole", NaN, -INFINITY); }),
    };
    for (STexProcNode* n : odd)
    {
        n->FmtOverride = TEXFMT_RGBA32F;
        ASSERT_EQ(n->Process(), 1) << n->Status.Str();
        for (const mVec4& v : ReadFloats(n->Output))
            ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w))
                << n->ClassInfo->Name;
    }
}

TEST_F(GenerateTest, ADocumentOfEveryGeneratorKeepsItsValues)
{
    // One value off its default per class; an integer entry takes x, a colour all four.
    const struct
    {
        const char* cls;
        const char* param;
        mVec4 v;
    } cases[] = {
        {"STexNode_ColorRGBA", "Color", {0.5f, -2, 7.5f, 0.25f}}, {"STexNode_ColorHSVA", "Color", {0.75f, 0.5f, 3, 0}},
        {"STexNode_CPUNoise", "Seed", {99, 0, 0, 0}},            {"STexNode_GPUNoise", "Height", {77, 0, 0, 0}},
        {"STexNode_GPUClouds", "DetScaleY", {5, 0, 0, 0}},        {"STexNode_LinearGradient", "Pos1", {0.25f, 0.75f, 0, 0}},
        {"STexNode_RadialGradient", "Radius0", {0.125f, 0.0625f, 0, 0}}, {"STexNode_BoxGradient", "Mirror", {1, 0, 0, 0}},
        {"STexNode_Grid", "Hole", {0.3f, 0.1f, 0, 0}},            {"STexNode_BlurKernel", "Type", {1, 0, 0, 0}},
    };
    auto value = [](SPropDesc& e) {
        switch (e.Type)
        {
        case EVT_Int: return mVec4((float)e.AsInt(), 0, 0, 0);
        case EVT_Vec2: return mVec4(e.AsVec2().x, e.AsVec2().y, 0, 0);
        case EVT_ColHSV: return mVec4(e.AsColHSV().x, e.AsColHSV().y, e.AsColHSV().z, 0);
        default: return e.AsColRGBA();
        }
    };
    STexProcessor p;
    for (const auto& c : cases)
    {
        SClassInfo* info = FindClassInfo(c.cls);
        ASSERT_NE(info, nullptr) << c.cls;
        TArray<SPropDesc> list;
        InstantiatePropTable(list, info->Props);
        SPropDesc& e = *FindPropDesc(list, c.param);
        switch (e.Type)
        {
        case EVT_Int: e.AsInt() = (s32)c.v.x; break;
        case EVT_Vec2: e.AsVec2() = mVec2(c.v.x, c.v.y); break;
        case EVT_ColHSV: e.AsColHSV() = mVec3(c.v.x, c.v.y, c.v.z); break;
        default: e.AsColRGBA() = c.v;
        }
        p.AddNode(dynamic_cast<STexProcNode*>(info->Create(list)), 0);
    }
    TString text, again;
    ASSERT_TRUE(DocumentText(p, text));
    STexProcessor back;
    ASSERT_TRUE(ReadDocumentText(back, text, "gen.kvf", 0));
    ASSERT_EQ(back.Nodes.Count(), p.Nodes.Count());
    for (u32 i = 0; i < back.Nodes.Count(); ++i)
    {
        STexProcNode* n = back.Nodes[i];
        TArray<SPropDesc> stored;
        InstantiatePropTable(stored, n->ClassProps());
        n->StoreParams(stored);
        for (const auto& c : cases)
            if (std::string(c.cls) == n->ClassInfo->Name)
            {
                const mVec4 v = value(*FindPropDesc(stored, c.param));
                EXPECT_TRUE(v.x == c.v.x && v.y == c.v.y && v.z == c.v.z && v.w == c.v.w) << c.cls;
            }
        EXPECT_EQ(n->Process(), 1) << n->ClassInfo->Name << ": " << n->Status.Str();
    }
    ASSERT_TRUE(DocumentText(back, again));
    EXPECT_STREQ(again.Str(), text.Str());
}

class GeneratePanels : public GUIDrawTest
{
};

TEST_F(GeneratePanels, PanelsHaveTheirRowsAndSwatchesShowTheNormalisedColours)
{
    const mRect PANEL{0, 0, 240, 400};
    const float ROW = 12.0f;
    const struct
    {
        const char* cls;
        u32 rows;
        int swatchRow;      // -1: none checked
        u8 swatch[3];       // the colour expected in that row's right half
    } cases[] = {
        {"STexNode_ColorRGBA", 7, 6, {153, 204, 0}}, // (3, 4, 0) scaled to unit length
        {"STexNode_ColorHSVA", 7, 6, {64, 128, 0}},  // hue 0.25 at value 0.5
        {"STexNode_CPUNoise", 3, -1, {}},           {"STexNode_GPUNoise", 3, -1, {}},
        {"STexNode_GPUClouds", 8, -1, {}},          {"STexNode_LinearGradient", 8, -1, {}},
        {"STexNode_RadialGradient", 9, -1, {}},     {"STexNode_BoxGradient", 11, -1, {}},
        {"STexNode_Grid", 10, -1, {}},              {"STexNode_BlurKernel", 3, -1, {}},
    };
    for (const auto& c : cases)
    {
        TArray<SPropDesc> list;
        InstantiatePropTable(list, FindClassInfo(c.cls)->Props);
        if (SPropDesc* rgba = FindPropDesc(list, "Color"); rgba && rgba->Type == EVT_ColRGBA)
            rgba->AsColRGBA() = mVec4(3, 4, 0, 0.5f);
        else if (rgba)
            rgba->AsColHSV() = mVec3(0.25f, 1, 2);
        std::unique_ptr<CEntity> entity(FindClassInfo(c.cls)->Create(list));
        STexProcNode* n = dynamic_cast<STexProcNode*>(entity.get());
        glClear(GL_COLOR_BUFFER_BIT);
        const float height = n->PropertyPanel(PANEL);
        mRect rest = PANEL;
        rest.y0 += ROW * (float)c.rows;
        EXPECT_FLOAT_EQ(height, ROW * (float)c.rows + n->STexProcNode::PropertyPanel(rest)) << c.cls;
        if (c.swatchRow < 0)
            continue;
        unsigned char px[4];
        ReadWindowPixel((int)(PANEL.x1 * 0.75f), (int)(ROW * ((float)c.swatchRow + 0.5f)), px);
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(px[ch], c.swatch[ch], 1) << c.cls << " channel " << ch;
    }
}

// A "SnapDiv" that a document stored outside the "Snap div." field's range snaps nothing: a value
// typed into a snapped field is stored as typed, not snapped to the edge of the float range.
TEST_F(GeneratePanels, AStoredSnapDivisorOutsideItsFieldSnapsNothing)
{
    const mRect PANEL{0, 0, 240, 400};
    const float ROW = 12.0f;
    const float STORED_SNAP = 1e38f;
    const char* const TYPED = "10";
    const float TYPED_VALUE = 10.0f;
    const struct
    {
        const char* cls;
        const char* param; // edited on the row, a float or the first component of a vector
        u32 component;
        u32 row;
    } cases[] = {
        {"STexNode_ColorRGBA", "Color", 0, 0},     {"STexNode_ColorHSVA", "Color", 2, 2},
        {"STexNode_LinearGradient", "Pos0", 0, 2}, {"STexNode_RadialGradient", "Pos0", 0, 2},
        {"STexNode_BoxGradient", "Pos0", 0, 2},    {"STexNode_Grid", "Off", 0, 2},
        {"STexNode_Transform", "Off", 0, 0},       {"STexNode_SoftContrast", "Center", 0, 0},
        {"STexNode_SelRect", "Min", 0, 0},
    };
    const float x = PANEL.x1 * 0.75f;
    for (const auto& c : cases)
    {
        TArray<SPropDesc> list;
        InstantiatePropTable(list, FindClassInfo(c.cls)->Props);
        FindPropDesc(list, "SnapDiv")->AsFloat() = STORED_SNAP;
        std::unique_ptr<CEntity> entity(FindClassInfo(c.cls)->Create(list));
        STexProcNode* n = dynamic_cast<STexProcNode*>(entity.get());
        ASSERT_NE(n, nullptr) << c.cls;
        const float y = ROW * ((float)c.row + 0.5f);
        // A click without movement starts typing; the typed text replaces the selection; Enter.
        const struct
        {
            bool left;
            const char* typed;
            bool enter;
        } ticks[] = {{false, "", false}, {true, "", false}, {false, "", false},
                     {false, TYPED, false}, {false, "", true}, {false, "", false}};
        GUITest_ResetInput();
        for (const auto& t : ticks)
        {
            GUITest_Tick(x, y, t.left, t.typed);
            GUITest_Key(GUI_KEY_Enter, t.enter);
            n->PropertyPanel(PANEL);
        }
        GUITest_ResetInput();
        TArray<SPropDesc> stored;
        InstantiatePropTable(stored, FindClassInfo(c.cls)->Props);
        entity->StoreParams(stored);
        const SPropDesc* e = FindPropDesc(stored, c.param);
        ASSERT_NE(e, nullptr) << c.cls;
        const SPropValue& d = e->Default;
        const float* v = e->Type == EVT_Float    ? &d.Float
                         : e->Type == EVT_Vec2   ? &d.Vec2.x
                         : e->Type == EVT_ColHSV ? &d.Vec3.x
                                                 : &d.ColRGBA.x;
        EXPECT_EQ(v[c.component], TYPED_VALUE) << c.cls;
    }
}
