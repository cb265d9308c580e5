// The Utils family: particle positions, weighted draws and quads against an independent generator
// and hand-worked numbers; on the off-screen context the conversions, alpha pair, Expand and the
// particle pass against CPU computations of their formulas, failures with status texts and a
// document of non-default values.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <GL/glew.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "GameTexture.h"
#include "TexDocument.h"
#include "TexOps_Utils.h"

namespace
{
typedef std::vector<mVec4> Pixels;
typedef std::function<void(TArray<SPropDesc>&)> TSetter;

const float RAND_MAX_F = 32767.0f;
const u32 SIDE = 16;
const float TOL_FP32 = 1e-4f;
const float TOL_FP16_REL = 1e-3f;

// The engine generator's sequence, written from its definition.
struct SRefRand
{
    u32 State;
    explicit SRefRand(u32 seed) : State(seed) {}
    int Next()
    {
        State = State * 214013u + 2531011u;
        return (int)((State >> 16) & 0x7FFF);
    }
};

float Ch(const mVec4& v, int c)
{
    return (&v.x)[c];
}

bool Near(const mVec4& a, const mVec4& b, float tol)
{
    for (int k = 0; k < 4; ++k)
        if (!(std::fabs(Ch(a, k) - Ch(b, k)) <= tol))
            return false;
    return true;
}

// Each channel within rel of the wanted value's size (at least 1).
bool NearRel(const mVec4& a, const mVec4& b, float rel)
{
    for (int k = 0; k < 4; ++k)
        if (!(std::fabs(Ch(a, k) - Ch(b, k)) <= rel * std::max(1.0f, std::fabs(Ch(b, k)))))
            return false;
    return true;
}

std::string Str(const mVec4& v)
{
    return "(" + std::to_string(v.x) + ", " + std::to_string(v.y) + ", " + std::to_string(v.z) + ", " +
           std::to_string(v.w) + ")";
}

TextureRef FloatTexture(u32 w, u32 h, const Pixels& px, u32 format = TEXFMT_RGBA32F)
{
    TextureRef t;
    EXPECT_TRUE(TEX_Create(t, w, h, 1, 1, format, &px[0].x, NODE_OUTPUT_TEX_FLAGS));
    return t;
}

STestNode_Pins* Source(STexProcessor& p, const TextureRef& tex)
{
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    src->Output = tex;
    return src;
}

TSetter Ints(std::vector<std::pair<const char*, int>> v)
{
    return [v](TArray<SPropDesc>& l) {
        for (auto& e : v)
            FindPropDesc(l, e.first)->AsInt() = e.second;
    };
}

// The conversion mode for the classes that have one.
TSetter ModeOf(const char* cls, s32 mode)
{
    const bool conversion = std::string(cls).find("ALT") != std::string::npos;
    return conversion ? Ints({{"Mode", mode}}) : TSetter();
}

Pixels Read(const TextureRef& t)
{
    FloatImage img;
    if (t.IsNull() || !TEX_ReadPixelsFloat(t.Get(), img))
        return {};
    return Pixels(img.Data.data, img.Data.data + img.Width * img.Height);
}

Pixels Seeded(u32 seed, u32 n, float lo, float hi)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(lo, hi);
    Pixels px(n);
    for (mVec4& p : px)
        p = mVec4(d(rng), d(rng), d(rng), d(rng));
    return px;
}

// Hue, saturation and value by the sector of the largest channel, as text books give it.
mVec4 RefHSV(const mVec4& c)
{
    const float mx = std::max({c.x, c.y, c.z}), mn = std::min({c.x, c.y, c.z}), d = mx - mn;
    float h = 0.0f;
    if (d > 0.0f)
    {
        float deg = mx == c.x ? 60.0f * std::fmod((c.y - c.z) / d + 6.0f, 6.0f)
                              : (mx == c.y ? 60.0f * ((c.z - c.x) / d + 2.0f) : 60.0f * ((c.x - c.y) / d + 4.0f));
        h = std::fmod(deg, 360.0f) / 360.0f;
    }
    return mVec4(h, mx > 0.0f ? d / mx : 0.0f, mx, c.w);
}

mVec4 RefHSL(const mVec4& c)
{
    const mVec4 hsv = RefHSV(c);
    const float mx = std::max({c.x, c.y, c.z}), mn = std::min({c.x, c.y, c.z});
    const float l = (mx + mn) / 2.0f, span = 1.0f - std::fabs(2.0f * l - 1.0f);
    return mVec4(hsv.x, span > 0.0f ? (mx - mn) / span : 0.0f, l, c.w);
}

// Hue distance on the circle: 0.999 and 0.001 are near.
float HueDistance(float a, float b)
{
    const float d = std::fabs(a - b);
    return std::min(d, 1.0f - d);
}

class UtilsNodeTest : public GLTestFixture
{
protected:
    TShippedShaders shaders;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        shaders.Begin();
    }
    void TearDown() override
    {
        glClearColor(0, 0, 0, 0);
        shaders.End();
    }
};
} // namespace

// ---------------------------------------------------------------------------------------------
// CPU parts

TEST(UtilsParticles, PositionsFollowTheSeededGeneratorInEachMode)
{
    const u32 count = 2000;
    struct SCase
    {
        const char* what;
        s32 mode;
        std::function<void(const TPodArray<mVec2>&)> check;
    } cases[] = {
        {"rectangle: second draw to x, first to y", PPM_Rectangle,
         [](const TPodArray<mVec2>& pts) {
             EXPECT_FLOAT_EQ(pts[0].x, 7719.0f / RAND_MAX_F);
             EXPECT_FLOAT_EQ(pts[0].y, 38.0f / RAND_MAX_F);
             EXPECT_FLOAT_EQ(pts[1].x, 2437.0f / RAND_MAX_F);
             EXPECT_FLOAT_EQ(pts[1].y, 21238.0f / RAND_MAX_F);
             SRefRand r(0);
             for (u32 i = 0; i < pts.Count(); ++i)
             {
                 const float a = (float)r.Next() / RAND_MAX_F, b = (float)r.Next() / RAND_MAX_F;
                 ASSERT_TRUE(pts[i].x == b && pts[i].y == a) << i;
             }
         }},
        {"line: every point on x = y, one draw each", PPM_Line,
         [](const TPodArray<mVec2>& pts) {
             SRefRand r(0);
             for (u32 i = 0; i < pts.Count(); ++i)
                 ASSERT_TRUE(pts[i].x == pts[i].y && pts[i].x == (float)r.Next() / RAND_MAX_F) << i;
         }},
        {"ellipsoid: inside, half of them in half the radius", PPM_Ellipsoid,
         [](const TPodArray<mVec2>& pts) {
             u32 inner = 0;
             for (u32 i = 0; i < pts.Count(); ++i)
             {
                 const double r = std::hypot(pts[i].x - 0.5, pts[i].y - 0.5);
                 ASSERT_LE(r, 0.5 + 1e-6) << i;
                 inner += r <= 0.25 ? 1 : 0;
             }
             EXPECT_NEAR((double)inner / pts.Count(), 0.5, 0.05);
         }},
    };
    for (const SCase& c : cases)
    {
        TPodArray<mVec2> pts;
        PartPositions((s32)count, 0, c.mode, mVec2(0, 0), mVec2(1, 1), pts);
        ASSERT_EQ(pts.Count(), count) << c.what;
        SCOPED_TRACE(c.what);
        c.check(pts);
    }
    TPodArray<mVec2> none;
    PartPositions(10, 0, PPM_Count, mVec2(0, 0), mVec2(1, 1), none);
    EXPECT_EQ(none.Count(), 0u);
}

TEST(UtilsParticles, WeightedDrawsLandWhereTheRedWeightsSay)
{
    const s32 count = 400;
    const mVec2 p1(-1, 2), p2(3, 6);
    struct SCase
    {
        const char* what;
        u32 w, h;
        std::vector<float> red;
        std::function<mVec2(SRefRand&)> ref; // the point of the next draw, or NaN for none
    } cases[] = {
        {"one texel weighs: all at its corner", 4, 3, {0, 0, 0, 0, 0, 0, 0, 2.5f, 0, 0, 0, 0},
         [&](SRefRand& r) {
             r.Next();
             return mVec2(p1.x + (p2.x - p1.x) * 3.0f / 4.0f, p1.y + (p2.y - p1.y) * 1.0f / 3.0f);
         }},
        {"no weight: all on P1", 3, 2, {0, 0, 0, 0, 0, 0},
         [&](SRefRand& r) {
             r.Next();
             return p1;
         }},
        {"one to three: the inverse of the cumulative weights", 2, 1, {1, 3},
         [&](SRefRand& r) {
             const float u = (float)r.Next() / RAND_MAX_F;
             return u * 4.0f <= 1.0f ? p1 : mVec2(p1.x + (p2.x - p1.x) * 0.5f, p1.y);
         }},
        {"weights that are no number place nothing", 2, 2, {NAN, 1, 1, 1},
         [&](SRefRand& r) {
             r.Next();
             return mVec2(NAN, NAN);
         }},
    };
    for (const SCase& c : cases)
    {
        FloatImage img;
        ASSERT_TRUE(img.Resize(c.w, c.h, true));
        for (u32 i = 0; i < c.red.size(); ++i)
            img.Data[i] = mVec4(c.red[i], 7, 7, 7); // only red counts
        TPodArray<mVec2> pts;
        PartWeightedPositions(img, count, 5, p1, p2, pts);
        SRefRand r(5);
        std::vector<mVec2> want;
        for (s32 i = 0; i < count; ++i)
        {
            const mVec2 q = c.ref(r);
            if (!std::isnan(q.x))
                want.push_back(q);
        }
        ASSERT_EQ(pts.Count(), (u32)want.size()) << c.what;
        for (u32 i = 0; i < pts.Count(); ++i)
            ASSERT_TRUE(pts[i].x == want[i].x && pts[i].y == want[i].y) << c.what << ", point " << i;
    }
    TPodArray<mVec2> pts;
    PartWeightedPositions(FloatImage(), count, 0, p1, p2, pts);
    EXPECT_EQ(pts.Count(), 0u);
}

TEST(UtilsParticles, QuadsCoverTheirTexelsAndTileAcrossEdges)
{
    const u32 side = 256;
    struct SCase
    {
        const char* what;
        float x, y, size;
        bool tiled;
        std::vector<std::array<int, 4>> texels; // left, top, right, bottom edges in texels
    } cases[] = {
        {"centre, Size 32", 0.5f, 0.5f, 32, false, {{112, 144, 144, 112}}},
        {"centre tiled draws once", 0.5f, 0.5f, 32, true, {{112, 144, 144, 112}}},
        {"right edge tiled again on the left", 0.99f, 0.5f, 32, true, {{-19, 144, 13, 112}, {237, 144, 269, 112}}},
        {"right edge untiled once", 0.99f, 0.5f, 32, false, {{237, 144, 269, 112}}},
        {"corner tiled four times", 0.0f, 1.0f, 32, true,
         {{-16, 16, 16, -16}, {240, 16, 272, -16}, {-16, 272, 16, 240}, {240, 272, 272, 240}}},
        {"no number as size draws nothing", 0.5f, 0.5f, NAN, true, {}},
        {"infinite position draws nothing", INFINITY, 0.5f, 32, true, {}},
    };
    for (const SCase& c : cases)
    {
        TPodArray<SParticleQuad> q;
        ASSERT_TRUE(ParticleQuads(c.x, c.y, c.size, side, side, c.tiled, PARTICLE_QUADS_MAX, q)) << c.what;
        ASSERT_EQ(q.Count(), (u32)c.texels.size()) << c.what;
        auto texel = [&](float clip) { return (int)std::lround((clip + 1.0f) * 0.5f * side); };
        std::vector<std::array<int, 4>> got;
        for (u32 i = 0; i < q.Count(); ++i)
            got.push_back({texel(q[i].L), texel(q[i].T), texel(q[i].R), texel(q[i].B)});
        EXPECT_EQ(got, c.texels) << c.what;
    }
    // Size 1024 on a 1x1 target would tile into more than a million copies.
    TPodArray<SParticleQuad> q;
    EXPECT_FALSE(ParticleQuads(0.5f, 0.5f, 1024.0f, 1, 1, true, PARTICLE_QUADS_MAX, q));
    EXPECT_EQ(q.Count(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Passes

TEST_F(UtilsNodeTest, ConversionsAndAlphaMatchTheirFormulasAndRoundTrip)
{
    Pixels in = Seeded(31, SIDE * SIDE, 0.0f, 1.0f);
    // Greys, black, white and hues either side of the wrap.
    const Pixels special = {mVec4(0, 0, 0, 1),         mVec4(1, 1, 1, 1),         mVec4(0.4f, 0.4f, 0.4f, 0.5f),
                            mVec4(1, 0, 0.002f, 1),    mVec4(1, 0.002f, 0, 1),    mVec4(0.9f, 0.1f, 0.12f, 0.3f),
                            mVec4(0.5f, 0.2f, 0.2f, 0), mVec4(0.25f, 0.7f, 0.7f, 1)};
    std::copy(special.begin(), special.end(), in.begin());
    struct SCase
    {
        const char* cls;
        s32 mode;
        std::function<mVec4(const mVec4&)> ref;
        bool hue;
        u32 format; // the conversions keep the input's, the alpha pair is always half float
    } cases[] = {
        {"STexNode_RGBtoALT", ALT_HSV, RefHSV, true, TEXFMT_RGBA32F},
        {"STexNode_RGBtoALT", ALT_HSLi, RefHSL, true, TEXFMT_RGBA32F},
        {"STexNode_AlphaPremul", 0, [](const mVec4& c) { return mVec4(c.x * c.w, c.y * c.w, c.z * c.w, c.w); }, false,
         TEXFMT_RGBA16F},
        {"STexNode_AlphaDePremul", 0,
         [](const mVec4& c) {
             return c.w != 0 ? mVec4(c.x / c.w, c.y / c.w, c.z / c.w, c.w) : mVec4(0, 0, 0, 0);
         },
         false, TEXFMT_RGBA16F},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, c.cls, ModeOf(c.cls, c.mode));
        ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, in)), 0, node, 0));
        ASSERT_EQ(node->Process(), 1) << c.cls << ": " << node->Status.Str();
        EXPECT_EQ(node->Output->Format, c.format) << c.cls;
        const Pixels out = Read(node->Output);
        ASSERT_EQ(out.size(), in.size());
        for (u32 i = 0; i < out.size(); ++i)
        {
            mVec4 want = c.ref(in[i]), got = out[i];
            if (c.hue)
            {
                ASSERT_LE(HueDistance(got.x, want.x), TOL_FP32) << c.cls << c.mode << " pixel " << i;
                got.x = want.x;
            }
            ASSERT_TRUE(NearRel(got, want, c.hue ? TOL_FP32 : TOL_FP16_REL)) << c.cls << c.mode << " pixel " << i << " " << Str(got) << " vs " << Str(want);
        }
    }
    // Every mode there and back, and the alpha pair, give the input again.
    const char* const pairs[][2] = {
        {"STexNode_RGBtoALT", "STexNode_ALTtoRGB"},
        {"STexNode_AlphaPremul", "STexNode_AlphaDePremul"},
    };
    for (const auto& pair : pairs)
        for (s32 mode = 0; mode < ALT_SpaceCount; ++mode)
        {
            STexProcessor p;
            STexProcNode* there = AddClassNode(p, pair[0], ModeOf(pair[0], mode));
            STexProcNode* back = AddClassNode(p, pair[1], ModeOf(pair[1], mode));
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, in)), 0, there, 0));
            ASSERT_TRUE(TestLink(p, there, 0, back, 0));
            ASSERT_EQ(there->Process(), 1);
            ASSERT_EQ(back->Process(), 1);
            const Pixels out = Read(back->Output);
            const bool alpha = std::string(pair[0]) == "STexNode_AlphaPremul";
            for (u32 i = 0; i < out.size(); ++i)
            {
                const mVec4 want = alpha && in[i].w == 0 ? mVec4(0, 0, 0, 0) : in[i];
                // Half floats keep about three digits, which the division by a small alpha magnifies.
                const float tol = alpha ? 2 * TOL_FP16_REL / std::max(in[i].w, 0.05f) : TOL_FP32;
                ASSERT_TRUE(Near(out[i], want, tol)) << pair[0] << mode << " pixel " << i << " " << Str(out[i]);
            }
        }
}

namespace
{
// One growth pass as the program's header states it, edges clamped.
Pixels RefExpand(const Pixels& in, const Pixels& bgr, float range, const int mask[4])
{
    Pixels out(in.size());
    const int n = (int)SIDE;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            for (int k = 0; k < 4; ++k)
            {
                const float own = Ch(in[y * n + x], k);
                float best = -INFINITY;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i)
                    {
                        const int sx = std::min(n - 1, std::max(0, x + i)), sy = std::min(n - 1, std::max(0, y + j));
                        const float v = Ch(in[sy * n + sx], k), b = Ch(bgr[sy * n + sx], k);
                        if (std::fabs(v - b) > range)
                            best = std::max(best, v);
                    }
                (&out[y * n + x].x)[k] = mask[k] && best != -INFINITY ? best : own;
            }
    return out;
}
} // namespace

TEST_F(UtilsNodeTest, ExpandGrowsOnePixelPerIterationAgainstItsReference)
{
    // Sparse seeds on an empty image, and the same over a background that hides some of them.
    Pixels in(SIDE * SIDE, mVec4(0, 0, 0, 0));
    const Pixels vals = Seeded(77, 6, 0.1f, 1.0f);
    const u32 at[6] = {0, 37, 90, 141, 200, 255};
    for (u32 i = 0; i < 6; ++i)
        in[at[i]] = vals[i];
    const Pixels zero(SIDE * SIDE, mVec4(0, 0, 0, 0));
    const Pixels grey(SIDE * SIDE, mVec4(0.5f, 0.5f, 0.5f, 0.5f));
    struct SCase
    {
        s32 iterations;
        bool background;
        int mask[4];
        float range;
    } cases[] = {
        {1, false, {1, 1, 1, 0}, 1.0f / 255}, {2, false, {1, 1, 1, 0}, 1.0f / 255},
        {3, false, {1, 0, 1, 1}, 1.0f / 255}, {10, false, {1, 1, 1, 1}, 1.0f / 255},
        {3, true, {1, 1, 1, 1}, 0.45f},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, "STexNode_Expand", [&](TArray<SPropDesc>& l) {
            FindPropDesc(l, "Iterations")->AsInt() = c.iterations;
            FindPropDesc(l, "Range")->AsFloat() = c.range;
            const char* names[4] = {"Red", "Green", "Blue", "Alpha"};
            for (int k = 0; k < 4; ++k)
                FindPropDesc(l, names[k])->AsInt() = c.mask[k];
        });
        ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, in)), 0, node, 0));
        if (c.background)
        {
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, grey)), 0, node, 1));
        }
        ASSERT_EQ(node->Process(), 1) << node->Status.Str();
        Pixels want = in;
        for (s32 i = 0; i < c.iterations; ++i)
            want = RefExpand(want, c.background ? grey : zero, c.range, c.mask);
        const Pixels out = Read(node->Output);
        ASSERT_EQ(out.size(), want.size());
        for (u32 i = 0; i < out.size(); ++i)
            ASSERT_TRUE(Near(out[i], want[i], TOL_FP32))
                << c.iterations << " passes, pixel " << i << " " << Str(out[i]) << " vs " << Str(want[i]);
    }
}

namespace
{
// Blends a source colour over a destination as the particle blend modes state.
mVec4 RefBlend(s32 mode, const mVec4& s, const mVec4& d)
{
    switch (mode)
    {
    case PB_Add: return mVec4(s.x * s.w + d.x, s.y * s.w + d.y, s.z * s.w + d.z, s.w + d.w);
    case PB_Min: return mVec4(std::min(s.x, d.x), std::min(s.y, d.y), std::min(s.z, d.z), std::min(s.w, d.w));
    case PB_Max: return mVec4(std::max(s.x, d.x), std::max(s.y, d.y), std::max(s.z, d.z), std::max(s.w, d.w));
    default:
    {
        const float k = 1 - s.w;
        return mVec4(s.x * s.w + d.x * k, s.y * s.w + d.y * k, s.z * s.w + d.z * k, s.w + d.w * k);
    }
    }
}
} // namespace

TEST_F(UtilsNodeTest, ParticlesBlendInEachModeOverAClearedTargetOrTheBackground)
{
    const Pixels sprite(4, mVec4(1, 1, 1, 1));
    const Pixels colors = {mVec4(0.8f, 0.2f, 0.4f, 0.5f), mVec4(0.1f, 0.6f, 0.3f, 0.75f)};
    // Particle 0 covers texels 4..11, particle 1 texels 6..13 of each row and column band.
    const Pixels pos = {mVec4(0.5f, 0.5f, 0, 0), mVec4(0.625f, 0.5f, 0, 0)};
    const float size = 8.0f;
    const mVec4 bgrColor(0.5f, 0.5f, 0.5f, 0.5f);
    for (s32 mode = -1; mode < PB_Count; ++mode)
        for (int withBgr = 0; withBgr < 2; ++withBgr)
        {
            STexProcessor p;
            STexProcNode* node = AddClassNode(p, "STexNode_PartRender", [&](TArray<SPropDesc>& l) {
                FindPropDesc(l, "Width")->AsInt() = SIDE;
                FindPropDesc(l, "Height")->AsInt() = SIDE;
                FindPropDesc(l, "BlendMode")->AsInt() = mode;
                FindPropDesc(l, "Size")->AsFloat() = size;
            });
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(2, 2, sprite)), 0, node, STexNode_PartRender::IN_Texture));
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(2, 1, pos)), 0, node, STexNode_PartRender::IN_Position));
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(2, 1, colors)), 0, node, STexNode_PartRender::IN_Color));
            if (withBgr)
            {
                ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, Pixels(SIDE * SIDE, bgrColor))), 0, node,
                                     STexNode_PartRender::IN_Bgr));
            }
            // A clear colour left by someone else must not show.
            glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
            ASSERT_EQ(node->Process(), 1) << node->Status.Str();
            const Pixels out = Read(node->Output);
            ASSERT_EQ(out.size(), (size_t)SIDE * SIDE);
            for (u32 y = 0; y < SIDE; ++y)
                for (u32 x = 0; x < SIDE; ++x)
                {
                    mVec4 want = withBgr ? bgrColor : mVec4(0, 0, 0, 0);
                    const bool band = y >= 4 && y < 12;
                    if (band && x >= 4 && x < 12)
                        want = RefBlend(mode, colors[0], want);
                    if (band && x >= 6 && x < 14)
                        want = RefBlend(mode, colors[1], want);
                    ASSERT_TRUE(Near(out[y * SIDE + x], want, TOL_FP32))
                        << "mode " << mode << " bgr " << withBgr << " texel " << x << "," << y << " "
                        << Str(out[y * SIDE + x]) << " vs " << Str(want);
                }
        }
}

TEST_F(UtilsNodeTest, SheetCellsFollowTheGeneratorAndStayWithinTheCount)
{
    // A 2x2 sheet of 4x4-texel cells, cell (column, row) coloured (column, row, 1, 1) / 2 + 0.25.
    const u32 cell = 4, sheet = 2 * cell;
    Pixels sprite(sheet * sheet);
    for (u32 y = 0; y < sheet; ++y)
        for (u32 x = 0; x < sheet; ++x)
            sprite[y * sheet + x] = mVec4((float)(x / cell) * 0.5f + 0.25f, (float)(y / cell) * 0.5f + 0.25f, 1, 1);
    const u32 count = 16, side = 64;
    Pixels pos(count);
    for (u32 i = 0; i < count; ++i)
        pos[i] = mVec4((float)(i % 4) / 4 + 0.125f, (float)(i / 4) / 4 + 0.125f, 0, 0);
    const s32 seed = 1234;
    STexProcessor p;
    STexProcNode* node = AddClassNode(p, "STexNode_PartRender", [&](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Width")->AsInt() = side;
        FindPropDesc(l, "Height")->AsInt() = side;
        FindPropDesc(l, "Size")->AsFloat() = 8.0f;
        FindPropDesc(l, "SSWidth")->AsInt() = 2;
        FindPropDesc(l, "SSHeight")->AsInt() = 2;
        FindPropDesc(l, "SSCount")->AsInt() = 3;
        FindPropDesc(l, "SSSeed")->AsInt() = seed;
    });
    ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(sheet, sheet, sprite)), 0, node, 0));
    ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(count, 1, pos)), 0, node, 1));
    ASSERT_EQ(node->Process(), 1) << node->Status.Str();
    const Pixels out = Read(node->Output);
    SRefRand r((u32)seed);
    for (u32 i = 0; i < count; ++i)
    {
        const int c = r.Next() % 3;
        const u32 x = (u32)(pos[i].x * side), y = (u32)(pos[i].y * side);
        const mVec4 want((float)(c % 2) * 0.5f + 0.25f, (float)(c / 2) * 0.5f + 0.25f, 1, 1);
        EXPECT_TRUE(Near(out[y * side + x], want, TOL_FP32)) << "particle " << i << " " << Str(out[y * side + x]);
        EXPECT_NE(c, 3);
    }
}

TEST_F(UtilsNodeTest, ValuesOutsideTheirRangesFailWithAStatusOrGiveFiniteOutput)
{
    const Pixels px(4, mVec4(0.5f, 0.5f, 0.5f, 1));
    struct SCase
    {
        const char* cls;
        TSetter set;
        const char* status; // null: succeeds with finite texels
        std::vector<u32> unreadable = {};
    } cases[] = {
        {"STexNode_Expand", Ints({{"Iterations", 0}}), "Iterations 0 is outside 1..4096"},
        {"STexNode_Expand", Ints({{"Iterations", 2147483647}}), "Iterations 2147483647 is outside"},
        {"STexNode_RGBtoALT", Ints({{"Mode", 7}}), "Mode 7 is outside 0..1"},
        {"STexNode_ALTtoRGB", Ints({{"Mode", -1}}), "Mode -1 is outside 0..1"},
        {"STexNode_ALTtoRGB", Ints({{"Mode", ALT_HSV}}), nullptr},
        {"STexNode_PartPos", Ints({{"Count", -1}}), "Count -1 is outside 1.."},
        {"STexNode_PartPos", Ints({{"Mode", 7}}), "Mode 7 is outside 0..2"},
        {"STexNode_PartPosTex", Ints({{"Count", 0}}), "Count 0 is outside 1.."},
        {"STexNode_PartPosTex", nullptr, nullptr},
        {"STexNode_PartPosTex", nullptr, nullptr, {0}},
        {"STexNode_PartRender", nullptr, nullptr, {STexNode_PartRender::IN_Size, STexNode_PartRender::IN_Color}},
        {"STexNode_PartRender", Ints({{"SSWidth", 0}, {"SSHeight", 0}, {"SSCount", 0}}), nullptr},
        {"STexNode_PartRender", [](TArray<SPropDesc>& l) { FindPropDesc(l, "Size")->AsFloat() = NAN; }, nullptr},
        {"STexNode_PartRender", Ints({{"Width", 0}}), "outside"},
        {"STexNode_PartRender",
         [](TArray<SPropDesc>& l) {
             FindPropDesc(l, "Size")->AsFloat() = 1024.0f;
             FindPropDesc(l, "Width")->AsInt() = 1;
             FindPropDesc(l, "Height")->AsInt() = 1;
             FindPropDesc(l, "Tiled")->AsInt() = 1;
         },
         "quads"},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, c.cls, c.set);
        STestNode_Pins* src = Source(p, FloatTexture(2, 2, px));
        for (u32 i = 0; i < node->InParams.Count() && i < 2; ++i)
            if (std::find(c.unreadable.begin(), c.unreadable.end(), i) == c.unreadable.end())
            {
                ASSERT_TRUE(TestLink(p, src, 0, node, i));
            }
        // A texture kept only on the GPU cannot be read back: weights, sizes and colours of it count
        // as none.
        TextureRef gpuOnly;
        ASSERT_TRUE(TEX_Create(gpuOnly, 2, 2, 1, 1, TEXFMT_RGBA32F, &px[0].x, TEXF_NoMipmaps));
        for (u32 i : c.unreadable)
            ASSERT_TRUE(TestLink(p, Source(p, gpuOnly), 0, node, i));
        const int ok = node->Process();
        if (c.status)
        {
            EXPECT_EQ(ok, 0) << c.cls;
            EXPECT_NE(std::string(node->Status.Str()).find(c.status), std::string::npos)
                << c.cls << ": " << node->Status.Str();
            continue;
        }
        ASSERT_EQ(ok, 1) << c.cls << ": " << node->Status.Str();
        for (const mVec4& v : Read(node->Output))
            ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w))
                << c.cls << " " << Str(v);
    }
}

TEST_F(UtilsNodeTest, NonDefaultParametersSurviveADocumentAndPositionsRender)
{
    STexProcessor p;
    AddClassNode(p, "STexNode_PartRender", [](TArray<SPropDesc>& l) {
        const std::pair<const char*, int> ints[] = {{"Width", 300}, {"Height", 40}, {"BlendMode", 3}, {"SSWidth", 4},
                                                    {"SSHeight", 5}, {"SSCount", 7}, {"SSSeed", 99}, {"Tiled", 1}};
        for (auto& e : ints)
            FindPropDesc(l, e.first)->AsInt() = e.second;
        FindPropDesc(l, "Size")->AsFloat() = 12.5f;
    });
    AddClassNode(p, "STexNode_PartPos", [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Count")->AsInt() = 5;
        FindPropDesc(l, "Mode")->AsInt() = PPM_Line;
        FindPropDesc(l, "P2")->AsVec2() = mVec2(0.25f, 0.75f);
    });
    AddClassNode(p, "STexNode_Expand", [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Iterations")->AsInt() = 3;
        FindPropDesc(l, "Range")->AsFloat() = 0.5f;
        FindPropDesc(l, "Red")->AsInt() = 0;
    });
    TString text;
    ASSERT_TRUE(DocumentText(p, text));
    STexProcessor back;
    ASSERT_TRUE(ReadDocumentText(back, text, "utils.kvf", 0));
    ASSERT_EQ(back.Nodes.Count(), 3u);
    auto* r = dynamic_cast<STexNode_PartRender*>(back.Nodes[0]);
    auto* pp = dynamic_cast<STexNode_PartPos*>(back.Nodes[1]);
    auto* e = dynamic_cast<STexNode_Expand*>(back.Nodes[2]);
    ASSERT_TRUE(r && pp && e);
    EXPECT_TRUE(r->Width == 300 && r->Height == 40 && r->BlendMode == 3 && r->Size == 12.5f && r->SSWidth == 4 &&
                r->SSHeight == 5 && r->SSCount == 7 && r->SSSeed == 99 && r->Tiled == 1);
    EXPECT_TRUE(e->Iterations == 3 && e->Range == 0.5f && e->Red == 0 && e->Green == 1 && e->Alpha == 0);
    // The loaded position node makes its Count x 1 float texture of points on its line.
    ASSERT_EQ(pp->Process(), 1) << pp->Status.Str();
    EXPECT_EQ(pp->Output->Format, (u32)TEXFMT_RGBA32F);
    EXPECT_EQ(pp->PreviewShown, 0u);
    const Pixels pts = Read(pp->Output);
    ASSERT_EQ(pts.size(), 5u);
    for (const mVec4& v : pts)
        EXPECT_NEAR(v.y, v.x * 3.0f, TOL_FP32) << Str(v);
}

class UtilsPanels : public GUIDrawTest
{
};

TEST_F(UtilsPanels, PanelsHaveTheirRowsAndThePositionNodesPreviewTheirPoints)
{
    const mRect PANEL{0, 0, 240, 500};
    const float ROW = 12.0f, SQUARE = PANEL.x1 - PANEL.x0;
    const struct
    {
        const char* cls;
        u32 rows;
        bool preview;
    } cases[] = {
        {"STexNode_RGBtoALT", 1, false},  {"STexNode_ALTtoRGB", 1, false},   {"STexNode_Expand", 4, false},
        {"STexNode_PartPos", 7, true},    {"STexNode_PartPosTex", 6, true},  {"STexNode_PartRender", 9, false},
        {"STexNode_AlphaPremul", 0, false},
    };
    for (const auto& c : cases)
    {
        // One point in the middle of the box, for the classes that place points.
        TArray<SPropDesc> list;
        InstantiatePropTable(list, FindClassInfo(c.cls)->Props);
        if (c.preview)
        {
            FindPropDesc(list, "Count")->AsInt() = 1;
            FindPropDesc(list, "P1")->AsVec2() = mVec2(0.5f, 0.5f);
            FindPropDesc(list, "P2")->AsVec2() = mVec2(0.5f, 0.5f);
        }
        std::unique_ptr<CEntity> entity(FindClassInfo(c.cls)->Create(list));
        STexProcNode* n = dynamic_cast<STexProcNode*>(entity.get());
        const float own = ROW * (float)c.rows + (c.preview ? SQUARE : 0.0f);
        auto whiteNearCentre = [&]() {
            bool white = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                {
                    unsigned char px[4];
                    ReadWindowPixel((int)(SQUARE / 2) + dx, (int)(ROW * c.rows + SQUARE / 2) + dy, px);
                    white |= px[0] == 255 && px[1] == 255 && px[2] == 255;
                }
            return white;
        };
        for (int processed = 0; processed < (c.preview ? 2 : 1); ++processed)
        {
            if (processed)
            {
                STexProcessor p;
                if (!n->InParams.IsEmpty())
                {
                    STestNode_Pins* src = Source(p, FloatTexture(1, 1, Pixels(1, mVec4(1, 0, 0, 0))));
                    ASSERT_TRUE(TestLink(p, src, 0, n, 0));
                    ASSERT_EQ(n->Process(), 1) << n->Status.Str();
                    n->InParams[0]->Links.Clear();
                    src->OutParams[0]->Links.Clear();
                }
                else
                    ASSERT_EQ(n->Process(), 1) << n->Status.Str();
            }
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            const float height = n->PropertyPanel(PANEL);
            mRect rest = PANEL;
            rest.y0 += own;
            EXPECT_FLOAT_EQ(height, own + n->STexProcNode::PropertyPanel(rest)) << c.cls;
            if (c.preview)
            {
                EXPECT_EQ(whiteNearCentre(), processed == 1) << c.cls << " processed " << processed;
            }
        }
    }
}
