// The VecTools and Select families on the off-screen context: every node's pixels against a CPU
// computation of its program's stated formula, the corners and ranges the Select programs receive,
// output sizes and formats, input failures, the channel mask as documents store it, comparison
// modes past the operator list and the panels.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "GameShader.h"
#include "GameTexture.h"
#include "TexDocument.h"
#include "TexOps_Select.h"
#include "TexOps_VecTools.h"


namespace
{
const u32 SIDE = 8;
const u32 SEED = 2402;
const float TOL_FP32 = 1e-5f;
const float TOL_FP16_REL = 1e-3f;
const u32 BIG_W = 128, BIG_H = 64, SMALL_SIDE = 32;

typedef std::vector<mVec4> Pixels;

float Ch(const mVec4& v, int c)
{
    return (&v.x)[c];
}

// Seeded values in -2..2; some pixels hold the cases the programs settle on their own: zero
// divisors and bases, whole exponents of negative bases, a zero vector.
void SeededPair(Pixels& a, Pixels& b)
{
    std::mt19937 rng(SEED);
    std::uniform_real_distribution<float> d(-2.0f, 2.0f);
    a.assign(SIDE * SIDE, mVec4(0, 0, 0, 0));
    b = a;
    for (u32 i = 0; i < a.size(); ++i)
    {
        a[i] = mVec4(d(rng), d(rng), d(rng), d(rng));
        b[i] = mVec4(d(rng), d(rng), d(rng), d(rng));
    }
    a[0] = mVec4(0, 0, 0, 0);
    b[0] = mVec4(0, -1, 2, 0.5f);
    a[1] = mVec4(-2, -1.5f, -0.5f, 1.25f);
    b[1] = mVec4(3, 0, -2, 0);
    a[2] = mVec4(-3, 4, 0, 1);
}

Pixels ReadFloat(STexProcNode* node)
{
    FloatImage img;
    if (node->Output.IsNull() || !TEX_ReadPixelsFloat(node->Output.Get(), img))
        return {};
    return Pixels(img.Data.data, img.Data.data + img.Width * img.Height);
}

TextureRef FloatTexture(u32 w, u32 h, u32 format, const Pixels& px)
{
    TextureRef t;
    EXPECT_TRUE(TEX_Create(t, w, h, 1, 1, format, px.empty() ? nullptr : &px[0].x, NODE_OUTPUT_TEX_FLAGS));
    return t;
}

STexProcNode* Source(STexProcessor& p, const TextureRef& tex)
{
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    src->Output = tex;
    return src;
}

// The programs' formulas as their headers state them.
float PowRef(float a, float b)
{
    if (a > 0)
        return (float)std::pow((double)a, (double)b);
    if (a == 0)
        return b == 0 ? 1.0f : 0.0f;
    if (std::floor(b) != b)
        return 0.0f;
    const double m = std::pow(-(double)a, (double)b);
    return (float)(std::fmod(std::fabs((double)b), 2.0) == 1.0 ? -m : m);
}

typedef std::function<float(float a, float b, float m)> TChannel;

mVec4 PerChannel(const mVec4& a, const mVec4& b, const mVec4& m, const TChannel& f)
{
    return mVec4(f(a.x, b.x, m.x), f(a.y, b.y, m.y), f(a.z, b.z, m.z), f(a.w, b.w, m.w));
}

// Select masks are processed on W x H images.
const u32 W = 8, H = 6;

template <class T> T* AddSelect(STexProcessor& p, const std::function<void(T&)>& set)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, T::Props());
    T* node = dynamic_cast<T*>(T::ClassRecord()->Create(list));
    p.AddNode(node, 0);
    set(*node);
    return node;
}

Pixels ProcessSelect(STexProcessor& p, STexProcNode* node, const std::vector<Pixels>& inputs)
{
    for (u32 i = 0; i < inputs.size(); ++i)
        EXPECT_TRUE(TestLink(p, Source(p, FloatTexture(W, H, TEXFMT_RGBA32F, inputs[i])), 0, node, i));
    EXPECT_EQ(node->Process(), 1) << node->Status.Str();
    return ReadFloat(node);
}

// The range program's selection of one distance, as its header states it.
float RangeRef(float d, const mVec2& r)
{
    const float w = r.y - r.x;
    if (w == 0.0f)
        return d <= r.x ? 1.0f : 0.0f;
    const float t = std::fmin(1.0f, std::fmax(0.0f, (d - r.x) / w));
    return 1.0f - t * t * (3.0f - 2.0f * t);
}

class VecToolsTest : public GLTestFixture
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
typedef VecToolsTest SelectTest;

// Processes node with the given textures on its first inputs and compares every channel with ref.
void ExpectPixels(STexProcessor& p, STexProcNode* node, const std::vector<Pixels>& inputs, u32 format,
                  const std::function<mVec4(u32 pixel)>& ref, float tol, bool relative, const std::string& what)
{
    for (u32 i = 0; i < inputs.size(); ++i)
        ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, format, inputs[i])), 0, node, i));
    ASSERT_EQ(node->Process(), 1) << what << ": " << node->Status.Str();
    const Pixels out = ReadFloat(node);
    ASSERT_EQ(out.size(), (size_t)SIDE * SIDE) << what;
    for (u32 i = 0; i < out.size(); ++i)
    {
        const mVec4 want = ref(i);
        for (int k = 0; k < 4; ++k)
        {
            const float t = relative ? tol * std::max(1.0f, std::fabs(Ch(want, k))) : tol;
            ASSERT_NEAR(Ch(out[i], k), Ch(want, k), t) << what << ", pixel " << i << " channel " << k;
        }
    }
}
} // namespace

TEST_F(VecToolsTest, EveryNodeComputesItsFormulaAndMaskedOffChannelsKeepInputOne)
{
    Pixels a, b, m;
    SeededPair(a, b);
    SeededPair(m, b);
    std::reverse(m.begin(), m.end()); // mix values and clamp bounds in and outside 0..1, crossing
    // The mask (1, 0, 1, 0): green and alpha keep input 1.
    const auto arith = [](const TChannel& f) {
        return [=](const mVec4& x, const mVec4& y, const mVec4&) { return mVec4(f(x.x, y.x, 0), x.y, f(x.z, y.z, 0), x.w); };
    };
    const auto channel = [](const TChannel& f) {
        return [=](const mVec4& x, const mVec4& y, const mVec4& z) { return PerChannel(x, y, z, f); };
    };
    const struct
    {
        const char* cls;
        u32 inputs;
        std::function<mVec4(const mVec4&, const mVec4&, const mVec4&)> ref;
        float tol;
        bool relative;
    } cases[] = {
        {"STexNode_Add", 2, arith([](float x, float y, float) { return x + y; }), TOL_FP32, false},
        {"STexNode_Sub", 2, arith([](float x, float y, float) { return x - y; }), TOL_FP32, false},
        {"STexNode_Mul", 2, arith([](float x, float y, float) { return x * y; }), TOL_FP32, false},
        {"STexNode_Div", 2, arith([](float x, float y, float) { return y == 0 ? 0.0f : x / y; }), TOL_FP32, false},
        {"STexNode_Mod", 2, arith([](float x, float y, float) { return y == 0 ? x : x - y * std::floor(x / y); }),
         TOL_FP32, false},
        // pow on the GPU goes through exp2 and log2: a few bits of a 32-bit float remain.
        {"STexNode_Pow", 2, arith([](float x, float y, float) { return PowRef(x, y); }), TOL_FP32, true},
        {"STexNode_Min", 2, arith([](float x, float y, float) { return std::min(x, y); }), TOL_FP32, false},
        {"STexNode_Max", 2, arith([](float x, float y, float) { return std::max(x, y); }), TOL_FP32, false},
        {"STexNode_Abs", 1, channel([](float x, float, float) { return std::fabs(x); }), TOL_FP16_REL, true},
        {"STexNode_Mix", 3, channel([](float x, float y, float t) { return x + (y - x) * t; }), TOL_FP32, false},
        {"STexNode_Clamp", 3, channel([](float x, float lo, float hi) { return std::min(std::max(x, lo), hi); }),
         TOL_FP32, false},
        {"STexNode_Clamp", 1, channel([](float x, float, float) { return std::min(1.0f, std::max(0.0f, x)); }),
         TOL_FP32, false},
        {"STexNode_PackNormal", 1,
         [](const mVec4& n, const mVec4&, const mVec4&) {
             return mVec4(n.x * 0.5f + 0.5f, n.y * 0.5f + 0.5f, n.z * 0.5f + 0.5f, n.w);
         },
         TOL_FP16_REL, true},
        {"STexNode_UnpackNormal", 1,
         [](const mVec4& c, const mVec4&, const mVec4&) { return mVec4(c.x * 2 - 1, c.y * 2 - 1, c.z * 2 - 1, c.w); },
         TOL_FP16_REL, true},
        {"STexNode_NormalizeNormal", 1,
         [](const mVec4& v, const mVec4&, const mVec4&) {
             const double len = std::sqrt((double)v.x * v.x + (double)v.y * v.y + (double)v.z * v.z);
             return len > 0 ? mVec4((float)(v.x / len), (float)(v.y / len), (float)(v.z / len), v.w)
                            : mVec4(0, 0, 0, v.w);
         },
         TOL_FP16_REL, true},
    };
    const std::vector<Pixels> all = {a, b, m};
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, c.cls, [](TArray<SPropDesc>& l) {
            if (SPropDesc* mask = FindPropDesc(l, "RGBA"))
                mask->AsVec4() = mVec4(1, 0, 1, 0);
        });
        ASSERT_NE(node, nullptr);
        ExpectPixels(p, node, std::vector<Pixels>(all.begin(), all.begin() + c.inputs), TEXFMT_RGBA32F,
                     [&](u32 i) { return c.ref(a[i], b[i], m[i]); }, c.tol, c.relative,
                     std::string(c.cls) + " on " + std::to_string(c.inputs) + " inputs");
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

// Every pair of 8-bit values, a in 0..255 across and b in 1..255 down: the remainder is the
// integer one, so exact multiples give 0 and every result lies in [0, b).
TEST_F(VecToolsTest, ModuloOfEightBitValuesIsTheIntegerRemainder)
{
    const u32 VALUES = 256, DIVISORS = 255;
    const float UNIT = 1.0f / 255.0f;
    const float TOL = 1e-5f;
    std::vector<u8> a(VALUES * DIVISORS * 4), b(a.size());
    for (u32 y = 0; y < DIVISORS; ++y)
        for (u32 x = 0; x < VALUES; ++x)
            for (u32 c = 0; c < 4; ++c)
            {
                a[(y * VALUES + x) * 4 + c] = (u8)x;
                b[(y * VALUES + x) * 4 + c] = (u8)(y + 1);
            }
    TextureRef ta, tb;
    ASSERT_TRUE(TEX_Create(ta, VALUES, DIVISORS, 1, 1, TEXFMT_RGBA8, a.data(), NODE_OUTPUT_TEX_FLAGS));
    ASSERT_TRUE(TEX_Create(tb, VALUES, DIVISORS, 1, 1, TEXFMT_RGBA8, b.data(), NODE_OUTPUT_TEX_FLAGS));
    STexProcessor p;
    // 32-bit float output, so that the comparison sees the program's result and not a 16-bit one.
    STexProcNode* node =
        AddClassNode(p, "STexNode_Mod", [](TArray<SPropDesc>& l) { TestSetInt(l, "FmtOverride", TEXFMT_RGBA32F); });
    ASSERT_NE(node, nullptr);
    ASSERT_TRUE(TestLink(p, Source(p, ta), 0, node, 0));
    ASSERT_TRUE(TestLink(p, Source(p, tb), 0, node, 1));
    ASSERT_EQ(node->Process(), 1) << node->Status.Str();
    const Pixels out = ReadFloat(node);
    ASSERT_EQ(out.size(), (size_t)VALUES * DIVISORS);
    u32 wrong = 0, multiplesWrong = 0;
    for (u32 y = 0; y < DIVISORS; ++y)
        for (u32 x = 0; x < VALUES; ++x)
        {
            const u32 d = y + 1;
            const float want = (float)(x % d) * UNIT;
            for (int c = 0; c < 4; ++c)
            {
                const float got = Ch(out[y * VALUES + x], c);
                const bool bad = !(std::fabs(got - want) <= TOL) || got < 0.0f || got >= (float)d * UNIT;
                wrong += bad;
                multiplesWrong += bad && x % d == 0;
            }
        }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(multiplesWrong, 0u);
}

TEST(SelectParams, CornersAndSharpRangesAreComputedWithoutChangingTheParameters)
{
    const struct
    {
        mVec2 min, max, lo, hi;
    } corners[] = {
        {mVec2(0, 0), mVec2(100, 100), mVec2(0, 0), mVec2(100, 100)},
        {mVec2(50, 10), mVec2(20, 30), mVec2(20, 10), mVec2(50, 30)},
        {mVec2(1, 9), mVec2(4, -2), mVec2(1, -2), mVec2(4, 9)},
        {mVec2(3, 3), mVec2(3, 3), mVec2(3, 3), mVec2(3, 3)},
    };
    for (const auto& c : corners)
    {
        mVec2 lo, hi;
        SelRectCorners(c.min, c.max, lo, hi);
        EXPECT_TRUE(lo.x == c.lo.x && lo.y == c.lo.y && hi.x == c.hi.x && hi.y == c.hi.y) << c.min.x << "," << c.max.x;
    }
    const float STEP = std::ldexp(1.0f, -23);
    const struct
    {
        mVec2 range;
        s32 sharp;
        mVec2 sent;
    } ranges[] = {
        {mVec2(0.5f, 0.25f), 1, mVec2(0.5f, 0.49999988f)},
        {mVec2(0.5f, 0.5f), 1, mVec2(0.5f, 0.50000012f)},
        {mVec2(0.5f, 0.75f), 7, mVec2(0.5f, 0.5f + STEP)},
        {mVec2(0.5f, 0.25f), 0, mVec2(0.5f, 0.25f)},
        {mVec2(2.0f, 3.0f), 1, mVec2(2.0f, 2.0f)}, // the step rounds away: a zero width
    };
    for (const auto& r : ranges)
    {
        const mVec2 s = SelRangeSent(r.range, r.sharp);
        EXPECT_TRUE(s.x == r.sent.x && s.y == r.sent.y) << r.range.x << ", " << r.range.y << " sharp " << r.sharp;
    }
}

TEST_F(SelectTest, RectangleMarksTheTexelsWhoseCentresLieBetweenTheCorners)
{
    STexProcessor p;
    auto* node = AddSelect<STexNode_SelRect>(p, [](STexNode_SelRect& n) {
        n.Min = mVec2(6, 1); // swapped on x
        n.Max = mVec2(2, 4.5f);
    });
    const Pixels out = ProcessSelect(p, node, {Pixels(W * H, mVec4(0.3f, 0.3f, 0.3f, 0.3f))});
    ASSERT_EQ(out.size(), (size_t)W * H);
    EXPECT_EQ(node->Output->Format, (u32)TEXFMT_RGBA8);
    for (u32 j = 0; j < H; ++j)
        for (u32 i = 0; i < W; ++i)
        {
            const float cx = i + 0.5f, cy = j + 0.5f;
            const float want = cx >= 2 && cx <= 6 && cy >= 1 && cy <= 4.5f ? 1.0f : 0.0f;
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(Ch(out[j * W + i], k), want) << i << ", " << j;
        }
    EXPECT_TRUE(node->Min.x == 6 && node->Max.x == 2); // the corners are swapped only for the pass
}

TEST_F(SelectTest, ComparisonHoldsExactlyPerChannelForEveryOperator)
{
    // Channels: A equal to, greater than, smaller than B, and a float difference below 8 bits.
    const Pixels a(W * H, mVec4(0.5f, 0.75f, -1.0f, 0.2500001f)), b(W * H, mVec4(0.5f, 0.25f, 2.0f, 0.25f));
    const std::function<bool(float, float)> ops[SEL_COMPARE_MODE_COUNT] = {
        [](float x, float y) { return x > y; }, [](float x, float y) { return x >= y; },
        [](float x, float y) { return x < y; }, [](float x, float y) { return x <= y; }};
    for (s32 mode = 0; mode < (s32)SEL_COMPARE_MODE_COUNT; ++mode)
    {
        STexProcessor p;
        auto* node = AddSelect<STexNode_SelCompare>(p, [&](STexNode_SelCompare& n) { n.Mode = mode; });
        const Pixels out = ProcessSelect(p, node, {a, b});
        ASSERT_EQ(out.size(), a.size());
        EXPECT_EQ(node->Output->Format, (u32)TEXFMT_RGBA8);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(Ch(out[0], k), ops[mode](Ch(a[0], k), Ch(b[0], k)) ? 1.0f : 0.0f)
                << SEL_COMPARE_CHOICES[mode] << " channel " << k;
    }
    // A mode past the list (from a document) fails and compiles nothing; its button shows "?".
    for (s32 mode : {4, -1, 0x7FFFFFFF})
    {
        STexProcessor p;
        auto* node = AddSelect<STexNode_SelCompare>(p, [&](STexNode_SelCompare& n) { n.Mode = mode; });
        for (u32 i = 0; i < 2; ++i)
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(W, H, TEXFMT_RGBA32F, a)), 0, node, i));
        const u32 before = GSM->Shaders.Count();
        EXPECT_EQ(node->Process(), 0);
        EXPECT_EQ(std::string(node->Status.Str()), "Mode " + std::to_string(mode) + " is outside 0..3");
        EXPECT_EQ(GSM->Shaders.Count(), before);
        EXPECT_STREQ(SelCompareChoice(mode), SEL_COMPARE_UNKNOWN);
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(SelectTest, RangeSelectsByDistanceWithASoftEdgeInEitherDirection)
{
    // Per channel distances below, at, inside and above the default range, and far apart; each
    // pair fills its images, so filtering between texels changes nothing.
    const float lo = 10.0f / 256, hi = 11.0f / 256;
    const mVec4 pairs[2][2] = {{mVec4(0.5f, 0.5f, 0.5f, 0.5f), mVec4(0.5f, 0.5f + lo, 0.5f + (lo + hi) / 2, 0.6f)},
                               {mVec4(0, 1, 0, 0), mVec4(0.1f, 0.9f, 2.0f, 2.5f)}};
    const struct
    {
        mVec2 range;
        s32 sharp, vector;
    } cases[] = {
        {mVec2(lo, hi), 0, 0},      {mVec2(lo, hi), 0, 1},      {mVec2(hi, lo), 0, 0},
        {mVec2(0.05f, 0.2f), 0, 1}, {mVec2(2.0f, 9.0f), 1, 0}, {mVec2(0.1f, 0.0f), 1, 0},
    };
    for (const auto& c : cases)
        for (const auto& pair : pairs)
        {
            STexProcessor p;
            auto* node = AddSelect<STexNode_SelRange>(p, [&](STexNode_SelRange& n) {
                n.Range = c.range;
                n.Sharp = c.sharp;
                n.Vector = c.vector;
            });
            const Pixels out = ProcessSelect(p, node, {Pixels(W * H, pair[0]), Pixels(W * H, pair[1])});
            ASSERT_EQ(out.size(), (size_t)W * H);
            EXPECT_EQ(node->Output->Format, (u32)TEXFMT_RGBA32F);
            const mVec2 sent = SelRangeSent(c.range, c.sharp);
            mVec4 d;
            for (int k = 0; k < 4; ++k)
                (&d.x)[k] = std::fabs(Ch(pair[0], k) - Ch(pair[1], k));
            const float len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z + d.w * d.w);
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(Ch(out[W + 1], k), RangeRef(c.vector ? len : Ch(d, k), sent), TOL_FP32)
                    << "range " << c.range.x << ".." << c.range.y << " sharp " << c.sharp << " vector " << c.vector
                    << " channel " << k;
        }
}

TEST_F(VecToolsTest, OutputSizeAndFormatFollowTheInputsUnlessOverridden)
{
    struct SCase
    {
        const char* cls;
        u32 w0, h0, f0, w1, h1, f1;
        s32 fmtOverride;
        u32 w, h, f;
    };
    const SCase cases[] = {
        {"STexNode_Add", 64, 64, TEXFMT_RGBA8, BIG_W, SMALL_SIDE, TEXFMT_RGBA8, 0, BIG_W, 64, TEXFMT_RGBA16F},
        {"STexNode_Max", 8, 8, TEXFMT_RGBA32F, 4, 16, TEXFMT_RGBA8, 0, 8, 16, TEXFMT_RGBA32F},
        {"STexNode_Sub", 8, 8, TEXFMT_RGBA8, 4, 16, TEXFMT_RGBA32F, TEXFMT_RGBA8, 8, 16, TEXFMT_RGBA8},
        {"STexNode_Mix", 8, 4, TEXFMT_RGBA8, 2, 2, TEXFMT_RGBA8, 0, 8, 4, TEXFMT_RGBA32F},
        {"STexNode_Abs", 8, 4, TEXFMT_RGBA32F, 0, 0, 0, 0, 8, 4, TEXFMT_RGBA16F},
        {"STexNode_NormalizeNormal", 8, 4, TEXFMT_RGBA8, 0, 0, 0, 0, 8, 4, TEXFMT_RGBA16F},
        {"STexNode_PackNormal", 8, 4, TEXFMT_RGBA8, 0, 0, 0, TEXFMT_RGBA32F, 8, 4, TEXFMT_RGBA32F},
        {"STexNode_Clamp", 8, 4, TEXFMT_RGBA8, 0, 0, 0, 0, 8, 4, TEXFMT_RGBA8},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, c.cls, [&](TArray<SPropDesc>& l) {
            FindPropDesc(l[0].Default.Children, "FmtOverride")->AsInt() = c.fmtOverride;
        });
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(c.w0, c.h0, c.f0, {})), 0, node, 0));
        if (c.w1)
        {
            const TextureRef second = FloatTexture(c.w1, c.h1, c.f1, {});
            for (u32 pin = 1; pin < node->InParams.Count(); ++pin)
                ASSERT_TRUE(TestLink(p, Source(p, second), 0, node, pin));
        }
        ASSERT_EQ(node->Process(), 1) << c.cls << ": " << node->Status.Str();
        EXPECT_EQ(node->Output->Width, c.w) << c.cls;
        EXPECT_EQ(node->Output->Height, c.h) << c.cls;
        EXPECT_EQ(node->Output->Format, c.f) << c.cls;
    }
}

TEST_F(VecToolsTest, AnInputOfOneTexelIsStretchedOverTheOther)
{
    const float SIDE4 = 4;
    Pixels big(16), one = {mVec4(0.25f, -1, 2, 0.5f)};
    for (u32 i = 0; i < big.size(); ++i)
        big[i] = mVec4((float)i, (float)i / SIDE4, 1, -(float)i);
    STexProcessor p;
    STexProcNode* add = AddClassNode(p, "STexNode_Add");
    ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(1, 1, TEXFMT_RGBA32F, one)), 0, add, 0));
    ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(4, 4, TEXFMT_RGBA32F, big)), 0, add, 1));
    ASSERT_EQ(add->Process(), 1);
    const Pixels out = ReadFloat(add);
    ASSERT_EQ(out.size(), big.size());
    for (u32 i = 0; i < out.size(); ++i)
        for (int k = 0; k < 4; ++k)
            ASSERT_NEAR(Ch(out[i], k), Ch(one[0], k) + Ch(big[i], k), TOL_FP32) << i << " " << k;
}

TEST_F(VecToolsTest, MissingInputsFailWithTheirStatusButClampBoundsAreNeverMissing)
{
    const char* const classes[] = {"STexNode_Add", "STexNode_Sub", "STexNode_Mul",   "STexNode_Div",
                                   "STexNode_Mod", "STexNode_Pow", "STexNode_Min",   "STexNode_Max",
                                   "STexNode_Abs", "STexNode_Mix", "STexNode_Clamp", "STexNode_PackNormal",
                                   "STexNode_UnpackNormal", "STexNode_NormalizeNormal", "STexNode_SelRect",
                                   "STexNode_SelCompare", "STexNode_SelRange"};
    const Pixels a(SIDE * SIDE, mVec4(0.5f, 0.5f, 0.5f, 0.5f));
    for (const char* cls : classes)
    {
        STexProcessor probe;
        const u32 pins = AddClassNode(probe, cls)->InParams.Count();
        const u32 required = std::string(cls) == "STexNode_Clamp" ? 1 : pins;
        for (u32 pin = 0; pin < pins; ++pin)
            for (bool nullTex : {false, true})
            {
                STexProcessor p;
                STexProcNode* node = AddClassNode(p, cls);
                for (u32 i = 0; i < pins; ++i)
                {
                    if (i == pin && !nullTex)
                        continue;
                    const TextureRef tex = i == pin ? TextureRef() : FloatTexture(SIDE, SIDE, TEXFMT_RGBA32F, a);
                    ASSERT_TRUE(TestLink(p, Source(p, tex), 0, node, i));
                }
                const char* want = pin >= required ? "" : (nullTex ? "Null texture found" : "No input found");
                EXPECT_EQ(node->Process(), *want ? 0 : 1) << cls << " pin " << pin;
                EXPECT_STREQ(node->Status.Str(), want) << cls << " pin " << pin << (nullTex ? " null" : " unlinked");
            }
    }
}

TEST_F(VecToolsTest, DocumentsHoldTheMaskAsZeroOrOne)
{
    const float NaN = std::nanf("");
    const struct
    {
        mVec4 stored;
        SVecMask mask;
    } cases[] = {
        {mVec4(1, 0, 1, 0), {1, 0, 1, 0}},
        {mVec4(-1, 0.5f, 1e10f, NaN), {0, 0, 1, 0}},
        {mVec4(1.5f, -1e30f, 0.999f, 2), {1, 0, 0, 1}},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        AddClassNode(p, "STexNode_Mul", [&](TArray<SPropDesc>& l) { FindPropDesc(l, "RGBA")->AsVec4() = c.stored; });
        AddClassNode(p, "STexNode_Abs", [&](TArray<SPropDesc>& l) { FindPropDesc(l, "RGBA")->AsVec4() = c.stored; });
        TString text;
        ASSERT_TRUE(DocumentText(p, text));
        STexProcessor back;
        ASSERT_TRUE(ReadDocumentText(back, text, "vec.kvf", 0));
        ASSERT_EQ(back.Nodes.Count(), 2u);
        auto* mul = dynamic_cast<STexNode_VecArith*>(back.Nodes[0]);
        ASSERT_NE(mul, nullptr);
        EXPECT_TRUE(mul->Mask.Red == c.mask.Red && mul->Mask.Green == c.mask.Green && mul->Mask.Blue == c.mask.Blue &&
                    mul->Mask.Alpha == c.mask.Alpha)
            << text.Str();
        // Stored again, the mask is the four values 0 or 1; Abs writes its default.
        TArray<SPropDesc> mulList, absList;
        InstantiatePropTable(mulList, mul->ClassInfo->Props);
        InstantiatePropTable(absList, back.Nodes[1]->ClassInfo->Props);
        mul->StoreParams(mulList);
        back.Nodes[1]->StoreParams(absList);
        const mVec4 s = FindPropDesc(mulList, "RGBA")->AsVec4(), d = FindPropDesc(absList, "RGBA")->AsVec4();
        EXPECT_TRUE(s.x == (float)c.mask.Red && s.y == (float)c.mask.Green && s.z == (float)c.mask.Blue &&
                    s.w == (float)c.mask.Alpha);
        EXPECT_TRUE(d.x == 1 && d.y == 1 && d.z == 1 && d.w == 1);
    }
}

class VecSelectPanels : public GUIDrawTest
{
};

TEST_F(VecSelectPanels, OwnRowsComeAboveTheBasePanel)
{
    const mRect PANEL{0, 0, 240, 400};
    const struct
    {
        const char* cls;
        u32 rows;
    } cases[] = {
        {"STexNode_Add", 2},      {"STexNode_Pow", 2},        {"STexNode_Max", 2},   {"STexNode_Abs", 0},
        {"STexNode_Mix", 0},      {"STexNode_Clamp", 0},      {"STexNode_PackNormal", 0},
        {"STexNode_SelRect", 5},  {"STexNode_SelCompare", 1}, {"STexNode_SelRange", 3},
    };
    for (const auto& c : cases)
    {
        TArray<SPropDesc> list;
        InstantiatePropTable(list, FindClassInfo(c.cls)->Props);
        if (SPropDesc* mode = FindPropDesc(list, "Mode"))
            mode->AsInt() = -5; // a mode past the list shows "?" rather than reading past it
        std::unique_ptr<CEntity> entity(FindClassInfo(c.cls)->Create(list));
        STexProcNode* n = dynamic_cast<STexProcNode*>(entity.get());
        ASSERT_NE(n, nullptr);
        mRect rest = PANEL;
        rest.y0 += NODE_PANEL_ROW_HEIGHT * (float)c.rows;
        EXPECT_FLOAT_EQ(n->PropertyPanel(PANEL), NODE_PANEL_ROW_HEIGHT * (float)c.rows + n->STexProcNode::PropertyPanel(rest))
            << c.cls;
    }
}
