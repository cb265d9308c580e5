// The Basic family's image operations on the off-screen context: blend modes against a CPU
// computation of their formulas, transforms and reshapes against index arithmetic, resampling
// against box averages, sprite sheets against the animation curve that drives their feeder.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "GameFileIO.h"
#include "GameImageFile.h"
#include "GameShader.h"
#include "GameTexture.h"
#include "TexAnimCurve.h"
#include "TexDocument.h"
#include "TexOps_Basic.h"
#include "TexOps_BasicImage.h"


namespace
{
const float TOL_FP32 = 1e-5f;
const float TOL_RGBA8 = 1.0f / 255.0f + 1e-6f;
const u32 SEED = 19;
// The test affine node's animation channels: Ins, Size, Scale, then the bias components.
const s32 CH_BIAS_R = 3;

typedef std::vector<mVec4> Pixels;
typedef std::function<void(TArray<SPropDesc>&)> TSetter;

float Ch(const mVec4& v, int c)
{
    return (&v.x)[c];
}

STestNode_Pins* Source(STexProcessor& p, const TextureRef& tex)
{
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    src->Output = tex;
    return src;
}

TextureRef MakeTexture(u32 w, u32 h, u32 format, const Pixels& px)
{
    TextureRef t;
    if (format == TEXFMT_RGBA8)
    {
        std::vector<u8> bytes;
        for (const mVec4& v : px)
            for (int c = 0; c < 4; ++c)
                bytes.push_back((u8)std::lround(std::min(1.0f, std::max(0.0f, Ch(v, c))) * 255.0f));
        EXPECT_TRUE(TEX_Create(t, w, h, 1, 1, format, bytes.data(), NODE_OUTPUT_TEX_FLAGS));
    }
    else
        EXPECT_TRUE(TEX_Create(t, w, h, 1, 1, format, &px[0].x, NODE_OUTPUT_TEX_FLAGS));
    return t;
}

// What an RGBA8 texture holds for a value.
mVec4 Quantised(const mVec4& v)
{
    mVec4 o;
    for (int c = 0; c < 4; ++c)
        (&o.x)[c] = (float)std::lround(std::min(1.0f, std::max(0.0f, Ch(v, c))) * 255.0f) / 255.0f;
    return o;
}

Pixels Read(STexProcNode* node)
{
    FloatImage img;
    if (node->Output.IsNull() || !TEX_ReadPixelsFloat(node->Output.Get(), img))
        return {};
    return Pixels(img.Data.data, img.Data.data + img.Width * img.Height);
}

// A w x h picture whose every pixel differs, exact in RGBA8.
Pixels Distinct(u32 w, u32 h)
{
    Pixels px(w * h);
    for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x)
            px[y * w + x] = mVec4((float)(x * 16 + 8) / 255.0f, (float)(y * 16 + 8) / 255.0f,
                                  (float)((x * 7 + y * 3) % 16 * 16) / 255.0f, 1.0f);
    return px;
}

class BasicImageTest : public GLTestFixture
{
protected:
    TShippedShaders shaders;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        shaders.Begin();
        RecordedBoxes().clear();
    }
    void TearDown() override { shaders.End(); }
};

// ---------------------------------------------------------------------------------------------
// Blend reference: the formulas the programs state, on the CPU.

float Burn(float b, float s)
{
    if (s <= 0.0f)
        return b >= 1.0f ? 1.0f : 0.0f;
    return 1.0f - std::min(1.0f, (1.0f - b) / s);
}

float Dodge(float b, float s)
{
    if (s >= 1.0f)
        return b <= 0.0f ? 0.0f : 1.0f;
    return std::min(1.0f, b / (1.0f - s));
}

mVec4 ToHSL(float r, float g, float b)
{
    const float hi = std::max(r, std::max(g, b)), lo = std::min(r, std::min(g, b));
    const float l = (hi + lo) * 0.5f, d = hi - lo;
    if (d <= 0.0f)
        return mVec4(0, 0, l, 0);
    const float s = l > 0.5f ? d / (2.0f - hi - lo) : d / (hi + lo);
    float h = hi == r ? (g - b) / d + (g < b ? 6.0f : 0.0f) : hi == g ? (b - r) / d + 2.0f : (r - g) / d + 4.0f;
    return mVec4(h / 6.0f, s, l, 0);
}

float HueChannel(float p, float q, float t)
{
    t = t < 0.0f ? t + 1.0f : (t > 1.0f ? t - 1.0f : t);
    if (t < 1.0f / 6.0f)
        return p + (q - p) * 6.0f * t;
    if (t < 0.5f)
        return q;
    if (t < 2.0f / 3.0f)
        return p + (q - p) * (2.0f / 3.0f - t) * 6.0f;
    return p;
}

mVec4 FromHSL(float h, float s, float l)
{
    if (s <= 0.0f)
        return mVec4(l, l, l, 0);
    const float q = l < 0.5f ? l * (1.0f + s) : l + s - l * s, p = 2.0f * l - q;
    return mVec4(HueChannel(p, q, h + 1.0f / 3.0f), HueChannel(p, q, h), HueChannel(p, q, h - 1.0f / 3.0f), 0);
}

float SoftD(float b)
{
    return b <= 0.25f ? ((16.0f * b - 12.0f) * b + 4.0f) * b : std::sqrt(std::max(b, 0.0f));
}

// Mode index -> the blended colour of base b and layer s.
mVec4 BlendRef(s32 mode, const mVec4& b, const mVec4& s)
{
    mVec4 o;
    for (int c = 0; c < 3; ++c)
    {
        const float x = Ch(b, c), y = Ch(s, c);
        float v = 0;
        switch (mode)
        {
        case 0: v = y; break;
        case 2: v = std::min(x, y); break;
        case 3: v = x * y; break;
        case 4: v = Burn(x, y); break;
        case 5: v = x + y - 1.0f; break;
        case 6: v = x - y; break;
        case 8: v = std::max(x, y); break;
        case 9: v = 1.0f - (1.0f - x) * (1.0f - y); break;
        case 10: v = Dodge(x, y); break;
        case 11: v = x + y; break;
        case 12: v = y > 0.0f ? x / y : (x > 0.0f ? 1.0f : 0.0f); break;
        case 14: v = x <= 0.5f ? 2.0f * x * y : 1.0f - 2.0f * (1.0f - x) * (1.0f - y); break;
        case 15: v = y <= 0.5f ? x - (1.0f - 2.0f * y) * x * (1.0f - x) : x + (2.0f * y - 1.0f) * (SoftD(x) - x); break;
        case 16: v = y <= 0.5f ? 2.0f * x * y : 1.0f - 2.0f * (1.0f - x) * (1.0f - y); break;
        case 17: v = y <= 0.5f ? Burn(x, 2.0f * y) : Dodge(x, 2.0f * (y - 0.5f)); break;
        case 18: v = x + 2.0f * y - 1.0f; break;
        case 19: v = y <= 0.5f ? std::min(x, 2.0f * y) : std::max(x, 2.0f * y - 1.0f); break;
        case 21: v = std::fabs(x - y); break;
        case 22: v = x + y - 2.0f * x * y; break;
        default: break;
        }
        (&o.x)[c] = v;
    }
    if (mode >= 24)
    {
        const mVec4 hb = ToHSL(b.x, b.y, b.z), hs = ToHSL(s.x, s.y, s.z);
        o = mode == 24 ? FromHSL(hs.x, hb.y, hb.z) : mode == 25 ? FromHSL(hb.x, hs.y, hb.z) : FromHSL(hb.x, hb.y, hs.z);
    }
    return o;
}

mVec4 Clamped(const mVec4& v, bool on)
{
    if (!on)
        return v;
    return mVec4(std::min(1.0f, std::max(0.0f, v.x)), std::min(1.0f, std::max(0.0f, v.y)),
                 std::min(1.0f, std::max(0.0f, v.z)), std::min(1.0f, std::max(0.0f, v.w)));
}

mVec4 BlendPixelRef(s32 mode, const mVec4& base, const mVec4& layer, float opacity, bool bclamp, bool oclamp)
{
    const mVec4 b = Clamped(mVec4(base.x, base.y, base.z, 0), bclamp), s = Clamped(mVec4(layer.x, layer.y, layer.z, 0), bclamp);
    const mVec4 f = BlendRef(mode, b, s);
    mVec4 o;
    for (int c = 0; c < 3; ++c)
        (&o.x)[c] = Ch(b, c) + (Ch(f, c) - Ch(b, c)) * opacity;
    o.w = base.w + (layer.w - base.w) * opacity;
    return Clamped(o, oclamp);
}

Pixels SeededPixels(u32 count, float lo, float hi, u32 seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(lo, hi);
    Pixels px(count);
    for (mVec4& p : px)
        p = mVec4(d(rng), d(rng), d(rng), d(rng));
    return px;
}

void LinkInputs(STexProcessor& p, STexProcNode* node, const std::vector<STexProcNode*>& sources)
{
    for (u32 i = 0; i < sources.size(); ++i)
        ASSERT_TRUE(TestLink(p, sources[i], 0, node, i));
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Blend

TEST_F(BasicImageTest, EveryBlendModeMatchesItsFormulaInEveryClampVariant)
{
    const u32 W = 16, H = 2;
    const struct
    {
        u32 format;
        int bclamp, oclamp;
        float opacity, lo, hi, tol;
    } cases[] = {
        {TEXFMT_RGBA8, 1, 1, 1.0f, 0.0f, 1.0f, TOL_RGBA8},
        {TEXFMT_RGBA8, 1, 1, 0.5f, 0.0f, 1.0f, TOL_RGBA8},
        {TEXFMT_RGBA32F, 0, 0, 1.0f, -0.25f, 1.6f, TOL_FP32},
        {TEXFMT_RGBA32F, 1, 0, 0.5f, -0.25f, 1.6f, TOL_FP32},
        {TEXFMT_RGBA32F, 0, 1, 1.0f, 0.0f, 1.0f, TOL_RGBA8},
    };
    for (const auto& c : cases)
    {
        Pixels base = SeededPixels(W * H, c.lo, c.hi, SEED), layer = SeededPixels(W * H, c.lo, c.hi, SEED + 1);
        // Exact ends: black and white against each other and themselves.
        base[0] = mVec4(0, 0, 1, 1), layer[0] = mVec4(0, 1, 1, 0);
        base[1] = mVec4(1, 1, 0, 0), layer[1] = mVec4(0, 1, 0, 1);
        if (c.format == TEXFMT_RGBA8)
            for (u32 i = 0; i < W * H; ++i)
                base[i] = Quantised(base[i]), layer[i] = Quantised(layer[i]);
        for (s32 mode = 0; mode < (s32)BLEND_MODE_COUNT; ++mode)
        {
            if (!BlendModeProgram(mode))
                continue;
            STexProcessor p;
            STexProcNode* a = Source(p, MakeTexture(W, H, c.format, base));
            STexProcNode* b = Source(p, MakeTexture(W, H, c.format, layer));
            STexNode_Blend* n = static_cast<STexNode_Blend*>(AddClassNode(p, "STexNode_Blend"));
            n->BlendMode = mode, n->BClamp = c.bclamp, n->OClamp = c.oclamp, n->BlendAmt = c.opacity;
            LinkInputs(p, n, {a, b});
            ASSERT_EQ(n->Process(), 1) << BLEND_MODE_TEXTS[mode] << " " << n->Status.Str();
            const Pixels out = Read(n);
            ASSERT_EQ(out.size(), (size_t)(W * H));
            for (u32 i = 0; i < W * H; ++i)
            {
                const mVec4 want = BlendPixelRef(mode, base[i], layer[i], c.opacity, c.bclamp, c.oclamp);
                for (int k = 0; k < 4; ++k)
                {
                    const float tol = c.tol * std::max(1.0f, std::fabs(Ch(want, k)));
                    ASSERT_NEAR(Ch(out[i], k), Ch(want, k), tol)
                        << BLEND_MODE_TEXTS[mode] << " pixel " << i << " channel " << k << " clamps " << c.bclamp
                        << c.oclamp << " opacity " << c.opacity;
                }
            }
        }
    }
}

TEST_F(BasicImageTest, BlendSizesFormatsAndModesWithoutAProgram)
{
    const float BRIGHT = 0.8f;
    const struct
    {
        s32 mode;
        int oclamp;
        u32 w1, h1, w2, h2;
        int ok;
        u32 format;
        float value; // output red
    } cases[] = {
        {11, 0, 256, 64, 64, 256, 1, TEXFMT_RGBA32F, 1.6f},
        {11, 1, 4, 4, 4, 4, 1, TEXFMT_RGBA8, 1.0f},
        {1, 0, 4, 4, 4, 4, 0, 0, 0},  {7, 0, 4, 4, 4, 4, 0, 0, 0},  {13, 0, 4, 4, 4, 4, 0, 0, 0},
        {20, 0, 4, 4, 4, 4, 0, 0, 0}, {23, 0, 4, 4, 4, 4, 0, 0, 0}, {-1, 0, 4, 4, 4, 4, 0, 0, 0},
        {27, 0, 4, 4, 4, 4, 0, 0, 0},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexProcNode* a = Source(p, MakeTexture(c.w1, c.h1, TEXFMT_RGBA8, Pixels(c.w1 * c.h1, mVec4(BRIGHT, 0, 0, 1))));
        STexProcNode* b = Source(p, MakeTexture(c.w2, c.h2, TEXFMT_RGBA8, Pixels(c.w2 * c.h2, mVec4(BRIGHT, 0, 0, 1))));
        STexNode_Blend* n = static_cast<STexNode_Blend*>(AddClassNode(p, "STexNode_Blend"));
        n->BlendMode = c.mode, n->OClamp = c.oclamp;
        LinkInputs(p, n, {a, b});
        ASSERT_EQ(n->Process(), c.ok) << c.mode;
        if (!c.ok)
        {
            EXPECT_STREQ(n->Status.Str(), BLEND_INVALID_MODE) << c.mode;
            continue;
        }
        const u32 w = std::max(c.w1, c.w2), h = std::max(c.h1, c.h2);
        EXPECT_EQ(n->Output->Width, w);
        EXPECT_EQ(n->Output->Height, h);
        EXPECT_EQ(n->Output->Format, c.format);
        const float q = std::lround(BRIGHT * 255.0f) / 255.0f;
        const float want = c.oclamp ? c.value : 2.0f * q;
        EXPECT_NEAR(Read(n)[0].x, want, TOL_RGBA8) << c.mode;
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

// ---------------------------------------------------------------------------------------------
// Transform, resize, reshape

TEST_F(BasicImageTest, TransformsMoveTurnAndFlipPixelsExactly)
{
    const s32 N = 8;
    const float PIXEL = 1.0f / (float)N;
    typedef std::function<int(int x, int y)> TIndex; // source pixel index of output (x, y)
    const struct
    {
        const char* name;
        mVec2 off;
        float rot;
        mVec2 zoom;
        int flipX, flipY;
        TIndex source;
    } cases[] = {
        {"identity", mVec2(0, 0), 0, mVec2(1, 1), 0, 0, [](int x, int y) { return y * N + x; }},
        {"uniform zoom ignores y", mVec2(0, 0), 0, mVec2(1, 3), 0, 0, [](int x, int y) { return y * N + x; }},
        {"flip x", mVec2(0, 0), 0, mVec2(1, 1), 1, 0, [](int x, int y) { return y * N + (N - 1 - x); }},
        {"flip y", mVec2(0, 0), 0, mVec2(1, 1), 0, 1, [](int x, int y) { return (N - 1 - y) * N + x; }},
        {"rot 180", mVec2(0, 0), 180, mVec2(1, 1), 0, 0,
         [](int x, int y) { return (N - 1 - y) * N + (N - 1 - x); }},
        {"rot 90 turns +x towards +y", mVec2(0, 0), 90, mVec2(1, 1), 0, 0,
         [](int x, int y) { return (N - 1 - x) * N + y; }},
        {"offset wraps", mVec2(3 * PIXEL, -2 * PIXEL), 0, mVec2(1, 1), 0, 0,
         [](int x, int y) { return ((y + 2) % N) * N + (x + N - 3) % N; }},
    };
    const Pixels in = Distinct(N, N);
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexProcNode* src = Source(p, MakeTexture(N, N, TEXFMT_RGBA8, in));
        STexNode_Transform* n = static_cast<STexNode_Transform*>(AddClassNode(p, "STexNode_Transform"));
        n->Off = c.off, n->Rot = c.rot, n->Zoom = c.zoom, n->FlipX = c.flipX, n->FlipY = c.flipY;
        LinkInputs(p, n, {src});
        ASSERT_EQ(n->Process(), 1) << c.name << " " << n->Status.Str();
        const Pixels out = Read(n);
        ASSERT_EQ(out.size(), in.size());
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x)
                for (int k = 0; k < 4; ++k)
                    ASSERT_NEAR(Ch(out[y * N + x], k), Ch(in[c.source(x, y)], k), TOL_FP32)
                        << c.name << " at " << x << "," << y;
        TArray<SPropDesc> stored;
        InstantiatePropTable(stored, STexNode_Transform::Props());
        n->StoreParams(stored);
        EXPECT_EQ(FindPropDesc(stored, "Zoom")->AsVec2().y, c.zoom.y) << c.name;
    }
}

TEST_F(BasicImageTest, ResizeAveragesBlocksAndTheSizeSampleWins)
{
    const u32 N = 8, HALF = 4, SAMPLE_W = 2, SAMPLE_H = 6;
    const Pixels in = Distinct(N, N);
    STexProcessor p;
    STexProcNode* src = Source(p, MakeTexture(N, N, TEXFMT_RGBA8, in));
    STexNode_Resize* n = static_cast<STexNode_Resize*>(AddClassNode(p, "STexNode_Resize"));
    n->Width = HALF, n->Height = HALF;
    LinkInputs(p, n, {src});
    ASSERT_EQ(n->Process(), 1) << n->Status.Str();
    const Pixels out = Read(n);
    ASSERT_EQ(out.size(), (size_t)(HALF * HALF));
    for (u32 y = 0; y < HALF; ++y)
        for (u32 x = 0; x < HALF; ++x)
            for (int k = 0; k < 4; ++k)
            {
                float sum = 0;
                for (u32 d = 0; d < 4; ++d)
                    sum += Ch(in[(2 * y + d / 2) * N + 2 * x + d % 2], k);
                ASSERT_NEAR(Ch(out[y * HALF + x], k), sum / 4.0f, TOL_RGBA8) << x << "," << y;
            }
    // The sample's size wins while linked; unlinked, the node's own size is back.
    STexProcNode* sample = Source(p, MakeTexture(SAMPLE_W, SAMPLE_H, TEXFMT_RGBA32F, Pixels(SAMPLE_W * SAMPLE_H)));
    ASSERT_TRUE(TestLink(p, sample, 0, n, 1));
    ASSERT_EQ(n->Process(), 1);
    EXPECT_EQ(n->Output->Width, SAMPLE_W);
    EXPECT_EQ(n->Output->Height, SAMPLE_H);
    EXPECT_EQ(n->Output->Format, (u32)TEXFMT_RGBA8);
    p.Unlink(sample->OutParams[0], n->InParams[1]);
    ASSERT_EQ(n->Process(), 1);
    EXPECT_EQ(n->Output->Width, HALF);
}

TEST_F(BasicImageTest, ReshapePlacesTheImageExactlyInEveryModeAndForAnyOffset)
{
    const s32 IN_W = 4, IN_H = 4, OUT_W = 8, OUT_H = 6;
    const struct
    {
        s32 xoff, yoff;
    } offsets[] = {{3, -2}, {INT_MIN, 1}, {(1 << 24) + 1, INT_MAX}, {-5, 7}, {INT_MAX, INT_MIN}};
    // Reference on one axis in 64-bit integers: the input index for a canvas index, -1 for none.
    auto source = [](s64 canvas, s64 off, s64 size, s32 mode) -> s64 {
        const s64 v = canvas - off;
        switch (mode)
        {
        case RSM_Clamp: return std::min(std::max(v, (s64)0), size - 1);
        case RSM_Repeat: return ((v % size) + size) % size;
        case RSM_Mirror:
        {
            const s64 m = ((v % (2 * size)) + 2 * size) % (2 * size);
            return m < size ? m : 2 * size - 1 - m;
        }
        default: return v < 0 || v >= size ? -1 : v;
        }
    };
    const Pixels in = Distinct(IN_W, IN_H);
    for (const auto& o : offsets)
        for (s32 mode = 0; mode < RSM_Count; ++mode)
        {
            STexProcessor p;
            STexProcNode* src = Source(p, MakeTexture(IN_W, IN_H, TEXFMT_RGBA8, in));
            STexNode_Reshape* n = static_cast<STexNode_Reshape*>(AddClassNode(p, "STexNode_Reshape"));
            n->Width = OUT_W, n->Height = OUT_H, n->XOff = o.xoff, n->YOff = o.yoff, n->OffMode = mode;
            LinkInputs(p, n, {src});
            ASSERT_EQ(n->Process(), 1) << n->Status.Str();
            const Pixels out = Read(n);
            ASSERT_EQ(out.size(), (size_t)(OUT_W * OUT_H));
            for (s32 y = 0; y < OUT_H; ++y)
                for (s32 x = 0; x < OUT_W; ++x)
                {
                    const s64 sx = source(x, o.xoff, IN_W, mode), sy = source(y, o.yoff, IN_H, mode);
                    const mVec4 want = sx < 0 || sy < 0 ? mVec4(0, 0, 0, 0) : in[sy * IN_W + sx];
                    for (int k = 0; k < 4; ++k)
                        ASSERT_NEAR(Ch(out[y * OUT_W + x], k), Ch(want, k), TOL_FP32)
                            << RESHAPE_MODE_TEXTS[mode] << " offset " << o.xoff << "," << o.yoff << " at " << x
                            << "," << y;
                }
        }
}

// ---------------------------------------------------------------------------------------------
// Sprite sheet

TEST(SpriteSheetLayout, SheetSizesFollowTheInputAspectAndGridsHoldEveryFrame)
{
    const struct
    {
        u32 inW, inH;
        s32 maxW, maxH, frames;
        u32 w, h, side;
    } cases[] = {
        {64, 64, 512, 512, 16, 512, 512, 4}, {64, 64, 512, 512, 17, 512, 512, 5}, {256, 128, 512, 512, 1, 512, 256, 1},
        {128, 256, 512, 512, 9, 256, 512, 3}, {1, 4096, 512, 512, 256, 1, 512, 16}, {4096, 1, 300, 200, 2, 300, 1, 2},
    };
    for (const auto& c : cases)
    {
        u32 w = 0, h = 0;
        SpriteSheetSize(c.inW, c.inH, c.maxW, c.maxH, w, h);
        EXPECT_EQ(w, c.w) << c.inW << "x" << c.inH;
        EXPECT_EQ(h, c.h) << c.inW << "x" << c.inH;
        EXPECT_EQ(SpriteGridSide(c.frames), c.side) << c.frames;
    }
}

namespace
{
const s32 ANIMATED_FEED_SIDE = 4;

// A sheet of `side` pixels on a feeder whose red bias follows a curve from 0 to 0.1 over time.
STexNode_SpriteSheet* AnimatedSheet(STexProcessor& p, s32 side, s32 frames, mVec2 time, SAnimCurve& curve)
{
    STestNode_Affine* feed = AddTestNode<STestNode_Affine>(p, [&](TArray<SPropDesc>& l) {
        TestSetInt(l, "Ins", 0);
        TestSetInt(l, "Size", ANIMATED_FEED_SIDE);
    });
    curve.Reset();
    curve.Channel = CH_BIAS_R;
    curve.Points[0].y = 0.1f;
    feed->Curves.Add(curve);
    STexNode_SpriteSheet* n = static_cast<STexNode_SpriteSheet*>(AddClassNode(p, "STexNode_SpriteSheet"));
    n->Width = side, n->Height = side, n->FrameCount = frames, n->Time = time;
    return TestLink(p, feed, 0, n, 0) ? n : nullptr;
}
} // namespace

TEST_F(BasicImageTest, EachSheetCellHoldsTheAnimatedFeederAtItsFrameTime)
{
    const s32 SHEET = 48;
    const struct
    {
        s32 frames;
        mVec2 time;
    } cases[] = {{5, mVec2(0.2f, 0.6f)}, {1, mVec2(0.7f, 0.1f)}, {4, mVec2(1.0f, 0.0f)}};
    for (const auto& c : cases)
    {
        STexProcessor p;
        SAnimCurve curve;
        STexNode_SpriteSheet* n = AnimatedSheet(p, SHEET, c.frames, c.time, curve);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->Stale, 1);
        ASSERT_EQ(n->RenderSpriteFrames(), 1) << n->Status.Str();
        EXPECT_EQ(n->Stale, 0);
        const u32 side = SpriteGridSide(c.frames), cell = SHEET / side;
        const Pixels out = Read(n);
        ASSERT_EQ(out.size(), (size_t)(SHEET * SHEET));
        for (u32 k = 0; k < side * side; ++k)
        {
            const float t = c.frames > 1 ? c.time.x + (c.time.y - c.time.x) * (float)k / (float)(c.frames - 1) : c.time.x;
            const mVec4 want = (s32)k < c.frames ? mVec4(EvaluateAnimCurve(curve, t), 0, 0, 0) : mVec4(0, 0, 0, 0);
            // The middle of the cell: frame 0 in the first row of the image, left to right.
            const u32 x = (k % side) * cell + cell / 2, y = (k / side) * cell + cell / 2;
            EXPECT_NEAR(out[y * SHEET + x].x, want.x, TOL_RGBA8) << "frame " << k << " of " << c.frames;
            EXPECT_NEAR(out[y * SHEET + x].w, want.w, TOL_RGBA8) << "frame " << k;
        }
        // Processing only marks the sheet out of date.
        EXPECT_EQ(n->Process(), 1);
        EXPECT_EQ(n->Stale, 1);
        EXPECT_EQ(n->Output->Width, (u32)SHEET);
    }
}

TEST_F(BasicImageTest, SavingRendersAnOutOfDateSheetAndWritesEveryImageType)
{
    const s32 FEED_SIDE = 4, SHEET = 8;
    const float GREY = 0.5f;
    // JPEG keeps a flat colour within a few levels.
    const float TOL_JPG = 4.0f / 255.0f;
    TTempDir dir;
    const struct
    {
        const char* name;
        float tol;
    } cases[] = {{"sheet.png", TOL_RGBA8}, {"sheet.jpg", TOL_JPG}, {"sheet.bmp", TOL_RGBA8}, {"sheet.tga", TOL_RGBA8}};
    for (const auto& c : cases)
    {
        STexProcessor p;
        STestNode_Affine* feed = AddTestNode<STestNode_Affine>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", 0);
            TestSetInt(l, "Size", FEED_SIDE);
            FindPropDesc(l, "Bias")->AsColRGBA() = mVec4(GREY, GREY, GREY, 1);
        });
        STexNode_SpriteSheet* n = static_cast<STexNode_SpriteSheet*>(AddClassNode(p, "STexNode_SpriteSheet"));
        n->Width = SHEET, n->Height = SHEET, n->FrameCount = 1;
        ASSERT_TRUE(TestLink(p, feed, 0, n, 0));
        const std::string path = dir.Path() + "/" + c.name;
        ASSERT_EQ(n->SaveSheet(path.c_str()), 1) << c.name;
        EXPECT_EQ(n->Stale, 0);
        TextureRef back;
        ASSERT_TRUE(LoadImageFile(back, path.c_str())) << c.name;
        FloatImage img;
        ASSERT_TRUE(TEX_ReadPixelsFloat(back.Get(), img));
        ASSERT_EQ(img.Width, (u32)SHEET);
        EXPECT_NEAR(img.Data[0].x, GREY, c.tol) << c.name;
        EXPECT_NEAR(img.Data[img.Width * img.Height - 1].y, GREY, c.tol) << c.name;
    }
    EXPECT_TRUE(RecordedBoxes().empty());
    // A sheet without an input cannot be rendered: the failed save is told, not silent.
    STexProcessor p;
    STexNode_SpriteSheet* lone = static_cast<STexNode_SpriteSheet*>(AddClassNode(p, "STexNode_SpriteSheet"));
    const std::string path = dir.Path() + "/none.png";
    EXPECT_EQ(lone->SaveSheet(path.c_str()), 0);
    EXPECT_EQ(RecordedBoxes().size(), 1u);
    EXPECT_FALSE(FileExists(path.c_str()));
}

// A saved sheet reads as the preview plays it: frame 0 in the top row of the file, left to right.
TEST_F(BasicImageTest, ASavedSheetHoldsFrameZeroInItsTopRow)
{
    const s32 SHEET = 16, FRAMES = 4;
    const u32 SIDE = 2, CELL = SHEET / SIDE;
    const float TOL = 1.5f / 255.0f;
    TTempDir dir;
    STexProcessor p;
    SAnimCurve curve;
    STexNode_SpriteSheet* n = AnimatedSheet(p, SHEET, FRAMES, mVec2(0, 1), curve);
    ASSERT_NE(n, nullptr);
    const std::string path = dir.Path() + "/sheet.png";
    ASSERT_EQ(n->SaveSheet(path.c_str()), 1);
    SImage2D img;
    ASSERT_EQ(DecodeImageFile(path.c_str(), img), 1);
    ASSERT_EQ(img.Width, (u32)SHEET);
    ASSERT_EQ(img.Height, (u32)SHEET);
    float previous = -1.0f;
    for (u32 k = 0; k < (u32)FRAMES; ++k)
    {
        const float want = EvaluateAnimCurve(curve, (float)k / (float)(FRAMES - 1));
        // Neighbouring frames differ, so that a frame in another cell shows.
        EXPECT_GT(std::fabs(want - previous), 2 * TOL) << "frame " << k;
        previous = want;
        const u32 x = (k % SIDE) * CELL + CELL / 2, y = (k / SIDE) * CELL + CELL / 2;
        EXPECT_NEAR((float)(img.Pixels.data[y * SHEET + x] & 0xFF) / 255.0f, want, TOL) << "frame " << k;
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

namespace
{
std::vector<std::string> GSaveAnswers;
int SaveDialog(const char*, const char*, TString& out, int save)
{
    if (GSaveAnswers.empty() || !save)
        return 0;
    out = GSaveAnswers.front().c_str();
    GSaveAnswers.erase(GSaveAnswers.begin());
    return 1;
}

const float DT = 0.01f;
const int FADE_TICKS = 100;

void Tick(STexProcessor& p, float x, float y, bool down)
{
    GUITest_Tick(x, y, down);
    SGUILayer::DrawTree(&p, DT);
}

void ClickRow(STexProcessor& p, const mRect& row)
{
    for (bool down : {false, true, false})
        Tick(p, (row.x0 + row.x1) * 0.5f, (row.y0 + row.y1) * 0.5f, down);
}
} // namespace

TEST_F(BasicImageTest, SheetPanelUpdatesThenSavesAndPlaysThePreview)
{
    const s32 SIDE = 4, SHEET = 16;
    TTempDir dir;
    STexProcessor p;
    STestNode_Affine* feed = AddTestNode<STestNode_Affine>(p, [&](TArray<SPropDesc>& l) {
        TestSetInt(l, "Ins", 0);
        TestSetInt(l, "Size", SIDE);
    });
    // Animated, so that the render re-creates the feeder while the canvas draws.
    SAnimCurve curve;
    curve.Reset();
    curve.Channel = CH_BIAS_R;
    feed->Curves.Add(curve);
    STexNode_SpriteSheet* n = static_cast<STexNode_SpriteSheet*>(AddClassNode(p, "STexNode_SpriteSheet"));
    n->Width = SHEET, n->Height = SHEET, n->FrameCount = 4;
    ASSERT_TRUE(TestLink(p, feed, 0, n, 0));
    GNodeFileDialog = &SaveDialog;
    p.AnchorRight = p.AnchorBottom = 1;
    p.UpdateRect();
    n->SetPosition(200, 100);
    for (int i = 0; i < FADE_TICKS; ++i)
        Tick(p, 0, 0, false);
    auto panel = [&] {
        return mRect{n->Rect.x0 + NODE_PIN_MARGIN, n->Rect.y0 + NODE_CAPTION_HEIGHT, n->Rect.x1 - NODE_PIN_MARGIN,
                     n->Rect.y1};
    };
    // While out of date the first row renders; then it is gone and the first row saves.
    ClickRow(p, NodeRow(panel(), 0));
    EXPECT_EQ(n->Stale, 0);
    ASSERT_FALSE(n->Output.IsNull());
    for (int i = 0; i < FADE_TICKS; ++i)
        Tick(p, 0, 0, false);
    const std::string path = dir.File("panel.png");
    GSaveAnswers = {path};
    ClickRow(p, NodeRow(panel(), 0));
    EXPECT_TRUE(FileExists(path.c_str()));
    // Play steps the preview each drawn panel and loops within 0..1.
    ClickRow(p, NodeRowLabel(panel(), 7));
    EXPECT_EQ(n->Play, 1);
    for (int i = 0; i < FADE_TICKS; ++i)
    {
        Tick(p, 0, 0, false);
        ASSERT_GE(n->PlayPos, 0.0f);
        ASSERT_LE(n->PlayPos, 1.0f + 0.1f);
    }
    EXPECT_TRUE(RecordedBoxes().empty());
    GNodeFileDialog = &FileOpenDialog;
    GUITest_ResetInput();
}

TEST_F(BasicImageTest, DocumentsKeepEveryValueIncludingAStoredSectionTitle)
{
    const s32 SECTION_TITLE = 7;
    STexProcessor p;
    STexNode_Blend* blend = static_cast<STexNode_Blend*>(AddClassNode(p, "STexNode_Blend"));
    blend->BlendMode = SECTION_TITLE, blend->BlendAmt = 0.25f, blend->BClamp = 0, blend->OClamp = 1;
    STexNode_Transform* t = static_cast<STexNode_Transform*>(AddClassNode(p, "STexNode_Transform"));
    t->Off = mVec2(-0.5f, 3.0f), t->Rot = 725.0f, t->Zoom = mVec2(2.0f, -4.0f), t->Uniform = 0, t->SnapDiv = 8.0f;
    STexNode_Reshape* r = static_cast<STexNode_Reshape*>(AddClassNode(p, "STexNode_Reshape"));
    r->XOff = INT_MIN, r->YOff = INT_MAX, r->OffMode = RSM_Mirror, r->Width = 1;
    STexNode_SpriteSheet* sheet = static_cast<STexNode_SpriteSheet*>(AddClassNode(p, "STexNode_SpriteSheet"));
    sheet->FrameCount = 1, sheet->Time = mVec2(0.75f, 0.25f), sheet->KeepAspect = 0, sheet->Loop = 0;
    STexNode_Resize* size = static_cast<STexNode_Resize*>(AddClassNode(p, "STexNode_Resize"));
    size->Width = 4096, size->Height = 3;
    TString written, reread;
    ASSERT_TRUE(DocumentText(p, written));
    STexProcessor back;
    ASSERT_TRUE(ReadDocumentText(back, written, "basic.kvf", 1));
    ASSERT_TRUE(DocumentText(back, reread));
    EXPECT_STREQ(reread.Str(), written.Str());
    // The loaded blend node keeps the title it was given and says why it cannot run.
    STexNode_Blend* loaded = nullptr;
    for (u32 i = 0; i < back.Nodes.Count() && !loaded; ++i)
        loaded = dynamic_cast<STexNode_Blend*>(back.Nodes[i]);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->BlendMode, SECTION_TITLE);
    STexProcNode* a = Source(back, MakeTexture(1, 1, TEXFMT_RGBA8, Pixels(1)));
    LinkInputs(back, loaded, {a, a});
    EXPECT_EQ(loaded->Process(), 0);
    EXPECT_STREQ(loaded->Status.Str(), BLEND_INVALID_MODE);
    EXPECT_TRUE(RecordedBoxes().empty());
}

// A document's blend mode outside the list is kept, said to be invalid when processed and saved
// back as it was.
TEST_F(BasicImageTest, ABlendModeBeyondTheListFailsAndIsKept)
{
    const s32 modes[] = {(s32)BLEND_MODE_COUNT, 1000, -1, INT_MIN};
    for (s32 mode : modes)
    {
        const std::string text = "GKV_File_Version_2\nNODE STexNode_Blend _ID=\"0\" BlendMode=\"" +
                                 std::to_string(mode) + "\"\n";
        STexProcessor p;
        ASSERT_TRUE(ReadDocumentText(p, TString(text.c_str()), "blend.kvf", 1)) << mode;
        ASSERT_EQ(p.Nodes.Count(), 1u);
        STexNode_Blend* blend = dynamic_cast<STexNode_Blend*>(p.Nodes[0]);
        ASSERT_NE(blend, nullptr);
        EXPECT_EQ(blend->BlendMode, mode);
        STexProcNode* a = Source(p, MakeTexture(1, 1, TEXFMT_RGBA8, Pixels(1)));
        LinkInputs(p, blend, {a, a});
        EXPECT_EQ(blend->Process(), 0) << mode;
        EXPECT_STREQ(blend->Status.Str(), BLEND_INVALID_MODE) << mode;
        TString saved;
        ASSERT_TRUE(DocumentText(p, saved));
        EXPECT_NE(std::string(saved.Str()).find("BlendMode=\"" + std::to_string(mode) + "\""), std::string::npos)
            << saved.Str();
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}
