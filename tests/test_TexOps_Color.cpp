// The Color family on the off-screen context: every node's pixels against a CPU computation of its
// formula, output sizes and formats, input failures, the quick-convert modes that name no
// conversion, the family menu and a document round trip of non-default values.
#include "GLTestContext.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "GameShader.h"
#include "GameTexture.h"
#include "TexDocument.h"
#include "TexOps_Color.h"

namespace
{
const u32 SIDE = 8;
const u32 SEED = 20201;
const float TOL_FP32 = 1e-5f;
const float TOL_FP16_REL = 1e-3f;
const float TOL_RGBA8 = 1.0f / 255.0f;
// Bilinear weights of the lookup are fixed-point on the rasteriser: a few bits of the step remain.
const float TOL_LUT = 1.0f / 256.0f;
const u32 LUT_W = 5, LUT_H = 3;
const float LUT_BLUE = 0.25f;

typedef std::vector<mVec4> Pixels;
typedef std::function<void(TArray<SPropDesc>&)> TSetter;

float& Ch(mVec4& v, int c)
{
    return (&v.x)[c];
}
float Ch(const mVec4& v, int c)
{
    return (&v.x)[c];
}

// Seeded values in -0.25..1.25 with exact 0 and 1 at the first two pixels.
Pixels SeededPixels(u32 seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-0.25f, 1.25f);
    Pixels px(SIDE * SIDE);
    for (mVec4& p : px)
        p = mVec4(d(rng), d(rng), d(rng), d(rng));
    px[0] = mVec4(0, 0, 0, 0);
    px[1] = mVec4(1, 1, 1, 1);
    return px;
}

// A source node whose output is the given texture (or none when tex is null).
STestNode_Pins* Source(STexProcessor& p, const TextureRef& tex)
{
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    src->Output = tex;
    return src;
}

TextureRef FloatTexture(u32 w, u32 h, u32 format, const Pixels& px)
{
    TextureRef t;
    EXPECT_TRUE(TEX_Create(t, w, h, 1, 1, format, px.empty() ? nullptr : &px[0].x, NODE_OUTPUT_TEX_FLAGS));
    return t;
}

TextureRef ByteTexture(u32 w, u32 h)
{
    std::vector<u8> px(w * h * 4, 128);
    TextureRef t;
    EXPECT_TRUE(TEX_Create(t, w, h, 1, 1, TEXFMT_RGBA8, px.data(), NODE_OUTPUT_TEX_FLAGS));
    return t;
}

TSetter Ints(std::vector<std::pair<const char*, int>> v)
{
    return [v](TArray<SPropDesc>& l) {
        for (auto& e : v)
            FindPropDesc(l, e.first)->AsInt() = e.second;
    };
}

Pixels ReadFloat(STexProcNode* node)
{
    FloatImage img;
    if (node->Output.IsNull() || !TEX_ReadPixelsFloat(node->Output.Get(), img))
        return {};
    return Pixels(img.Data.data, img.Data.data + img.Width * img.Height);
}

// The CPU references of the programs' formulas.
mVec4 Masked(const mVec4& c, const mVec4& changed, const int mask[4])
{
    mVec4 o = c;
    for (int k = 0; k < 4; ++k)
        if (mask[k])
            Ch(o, k) = Ch(changed, k);
    return o;
}

float SoftRef(float c, float center, float range, float amount)
{
    const float r = std::fabs(range);
    float s = c;
    if (r > 0.0f && std::fabs(c - center) < r)
    {
        // Hermite S curve from (center - r, center - r) to (center + r, center + r).
        const double t = (c - (center - r)) / (2.0 * r);
        s = (float)(center - r + 2.0 * r * (3.0 * t * t - 2.0 * t * t * t));
    }
    return c + amount * (s - c);
}

float PosterRef(float c, float q)
{
    if (q == 0.0f || !std::isfinite(q))
        return c;
    return (float)(std::round((double)c / q) * q);
}

// Output channel k of a quick-convert text such as "A,A,A,1".
float QuickRef(const char* text, const mVec4& c, int k)
{
    const char letter = text[2 * k];
    return letter == '1' ? 1.0f : Ch(c, (int)(std::string("RGBA").find(letter)));
}

struct SFormulaCase
{
    std::string what;
    const char* cls;
    TSetter set;
    std::vector<int> rowsLinked; // colour matrix: the row inputs fed by the second image
    std::function<mVec4(const mVec4& a, const mVec4& b)> ref;
    float tol;
    bool relative;
};

std::vector<SFormulaCase> FormulaCases()
{
    const int rgb[4] = {1, 1, 1, 0};
    std::vector<SFormulaCase> cases = {
        {"invert by default keeps alpha", "STexNode_Invert", nullptr, {},
         [=](const mVec4& c, const mVec4&) { return Masked(c, mVec4(1 - c.x, 1 - c.y, 1 - c.z, 1 - c.w), rgb); },
         TOL_FP32, false},
        {"invert green and alpha only", "STexNode_Invert", Ints({{"Red", 0}, {"Blue", 0}, {"Alpha", 1}}), {},
         [](const mVec4& c, const mVec4&) { return mVec4(c.x, 1 - c.y, c.z, 1 - c.w); }, TOL_FP32, false},
        {"desaturate is the mean of red, green and blue", "STexNode_Desaturate", nullptr, {},
         [](const mVec4& c, const mVec4&) {
             const float m = (c.x + c.y + c.z) / 3.0f;
             return mVec4(m, m, m, c.w);
         },
         TOL_FP16_REL, true},
        {"brightness and contrast on the colour", "STexNode_BrCon",
         [](TArray<SPropDesc>& l) {
             FindPropDesc(l, "BrOff")->AsFloat() = 0.125f;
             FindPropDesc(l, "ConQ")->AsFloat() = 1.75f;
         },
         {},
         [=](const mVec4& c, const mVec4&) {
             auto f = [](float v) { return (v - 0.5f) * 1.75f + 0.5f + 0.125f; };
             return Masked(c, mVec4(f(c.x), f(c.y), f(c.z), f(c.w)), rgb);
         },
         TOL_FP32, false},
        {"soft contrast", "STexNode_SoftContrast",
         [](TArray<SPropDesc>& l) {
             FindPropDesc(l, "Center")->AsFloat() = 0.4f;
             FindPropDesc(l, "Range")->AsFloat() = -0.3f;
             FindPropDesc(l, "Amount")->AsFloat() = 0.8f;
             FindPropDesc(l, "SnapDiv")->AsFloat() = 10.0f;
         },
         {},
         [](const mVec4& c, const mVec4&) {
             return mVec4(SoftRef(c.x, 0.4f, -0.3f, 0.8f), SoftRef(c.y, 0.4f, -0.3f, 0.8f),
                          SoftRef(c.z, 0.4f, -0.3f, 0.8f), SoftRef(c.w, 0.4f, -0.3f, 0.8f));
         },
         TOL_FP32, false},
        {"soft contrast of no range leaves the image", "STexNode_SoftContrast",
         [](TArray<SPropDesc>& l) { FindPropDesc(l, "Range")->AsFloat() = 0.0f; }, {},
         [](const mVec4& c, const mVec4&) { return c; }, TOL_FP32, false},
        {"posterize to eighths", "STexNode_Posterize", nullptr, {},
         [=](const mVec4& c, const mVec4&) {
             return Masked(c, mVec4(PosterRef(c.x, 0.125f), PosterRef(c.y, 0.125f), PosterRef(c.z, 0.125f), 0), rgb);
         },
         TOL_FP32, false},
        {"posterize by 0 leaves the image", "STexNode_Posterize",
         [](TArray<SPropDesc>& l) {
             FindPropDesc(l, "RoundDiv")->AsFloat() = 0.0f;
             FindPropDesc(l, "Alpha")->AsInt() = 1;
         },
         {}, [](const mVec4& c, const mVec4&) { return c; }, TOL_FP32, false},
        {"posterize by an infinite step reads the largest one", "STexNode_Posterize",
         [](TArray<SPropDesc>& l) { FindPropDesc(l, "RoundDiv")->AsFloat() = INFINITY; }, {},
         [=](const mVec4& c, const mVec4&) {
             auto f = [](float v) { return PosterRef(v, FLT_MAX); };
             return Masked(c, mVec4(f(c.x), f(c.y), f(c.z), 0), rgb);
         },
         TOL_FP32, false},
        {"channel blend", "STexNode_ChanBlend",
         [](TArray<SPropDesc>& l) { FindPropDesc(l, "BlendAmt")->AsVec4() = mVec4(0, 0.25f, 1, 0.6f); }, {},
         [](const mVec4& a, const mVec4& b) {
             return mVec4(a.x, a.y + 0.25f * (b.y - a.y), b.z, a.w + 0.6f * (b.w - a.w));
         },
         TOL_FP32, false},
        {"colour matrix without rows is the input", "STexNode_ColorMatrix", nullptr, {},
         [](const mVec4& c, const mVec4&) { return c; }, TOL_FP32, false},
        {"colour matrix with only the alpha row", "STexNode_ColorMatrix", nullptr, {4},
         [](const mVec4& c, const mVec4& row) {
             return mVec4(c.x, c.y, c.z, c.x * row.x + c.y * row.y + c.z * row.z + c.w * row.w);
         },
         TOL_FP32, false},
        {"colour matrix with every row", "STexNode_ColorMatrix", nullptr, {1, 2, 3, 4},
         [](const mVec4& c, const mVec4& row) {
             const float d = c.x * row.x + c.y * row.y + c.z * row.z + c.w * row.w;
             return mVec4(d, d, d, d);
         },
         TOL_FP32, false},
    };
    // The lookup table holds (u, v, LUT_BLUE, 1) over its texels, so the output is the coordinates.
    const int lutChannels[2][2] = {{0, 1}, {2, 3}};
    for (const auto& xy : lutChannels)
    {
        const int x = xy[0], y = xy[1];
        cases.push_back({"lookup x " + std::to_string(x) + " y " + std::to_string(y), "STexNode_ColorLUT2D",
                         Ints({{"XChan", x}, {"YChan", y}}), {},
                         [=](const mVec4& c, const mVec4&) {
                             auto cl = [](float v) { return std::min(1.0f, std::max(0.0f, v)); };
                             return mVec4(cl(Ch(c, x)), cl(Ch(c, y)), LUT_BLUE, 1);
                         },
                         TOL_LUT, false});
    }
    for (u32 m = 0; m < QUICK_CONVERT_MODE_COUNT; ++m)
    {
        const char* text = QUICK_CONVERT_MODES[m];
        if (!QuickConvertModeValid((s32)m))
            continue;
        cases.push_back({std::string("quick convert ") + text, "STexNode_QuickConvert", Ints({{"Mode", (int)m}}), {},
                         [=](const mVec4& c, const mVec4&) {
                             return mVec4(QuickRef(text, c, 0), QuickRef(text, c, 1), QuickRef(text, c, 2),
                                          QuickRef(text, c, 3));
                         },
                         TOL_FP32, false});
    }
    return cases;
}

Pixels LUTPixels()
{
    Pixels px(LUT_W * LUT_H);
    for (u32 j = 0; j < LUT_H; ++j)
        for (u32 i = 0; i < LUT_W; ++i)
            px[j * LUT_W + i] = mVec4((float)i / (LUT_W - 1), (float)j / (LUT_H - 1), LUT_BLUE, 1);
    return px;
}

class ColorNodeTest : public GLTestFixture
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

TEST_F(ColorNodeTest, EveryNodeComputesItsFormulaOnEveryPixel)
{
    const Pixels a = SeededPixels(SEED), b = SeededPixels(SEED + 1);
    for (const SFormulaCase& c : FormulaCases())
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, c.cls, c.set);
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, TEXFMT_RGBA32F, a)), 0, node, 0));
        const bool lut = std::string(c.cls) == "STexNode_ColorLUT2D";
        if (lut)
        {
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(LUT_W, LUT_H, TEXFMT_RGBA32F, LUTPixels())), 0, node, 1));
        }
        else if (node->InParams.Count() == 2)
        {
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, TEXFMT_RGBA32F, b)), 0, node, 1));
        }
        STestNode_Pins* rows = Source(p, FloatTexture(SIDE, SIDE, TEXFMT_RGBA32F, b));
        for (int pin : c.rowsLinked)
            ASSERT_TRUE(TestLink(p, rows, 0, node, (u32)pin));
        ASSERT_EQ(node->Process(), 1) << c.what << ": " << node->Status.Str();
        const Pixels out = ReadFloat(node);
        ASSERT_EQ(out.size(), a.size()) << c.what;
        for (u32 i = 0; i < out.size(); ++i)
        {
            const mVec4 want = c.ref(a[i], b[i]);
            for (int k = 0; k < 4; ++k)
            {
                const float tol = c.relative ? c.tol * std::max(1.0f, std::fabs(Ch(want, k))) : c.tol;
                ASSERT_NEAR(Ch(out[i], k), Ch(want, k), tol) << c.what << ", pixel " << i << " channel " << k;
            }
        }
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(ColorNodeTest, OutputSizeAndFormatFollowTheirInputsUnlessOverridden)
{
    struct SCase
    {
        const char* cls;
        u32 w0, h0, f0, w1, h1, f1; // the two inputs (the second one only where the node has it)
        s32 fmtOverride;
        u32 w, h, f;
    };
    const SCase cases[] = {
        {"STexNode_ChanBlend", 256, 64, TEXFMT_RGBA8, 128, 128, TEXFMT_RGBA8, 0, 256, 128, TEXFMT_RGBA32F},
        {"STexNode_ChanBlend", 16, 32, TEXFMT_RGBA16F, 24, 8, TEXFMT_RGBA8, TEXFMT_RGBA8, 24, 32, TEXFMT_RGBA8},
        {"STexNode_Desaturate", 16, 8, TEXFMT_RGBA8, 0, 0, 0, 0, 16, 8, TEXFMT_RGBA16F},
        {"STexNode_Desaturate", 16, 8, TEXFMT_RGBA8, 0, 0, 0, TEXFMT_RGBA32F, 16, 8, TEXFMT_RGBA32F},
        {"STexNode_Posterize", 4, 12, TEXFMT_RGBA8, 0, 0, 0, 0, 4, 12, TEXFMT_RGBA32F},
        {"STexNode_Posterize", 4, 12, TEXFMT_RGBA8, 0, 0, 0, TEXFMT_RGBA16F, 4, 12, TEXFMT_RGBA16F},
        {"STexNode_Invert", 8, 4, TEXFMT_RGBA16F, 0, 0, 0, 0, 8, 4, TEXFMT_RGBA16F},
        {"STexNode_BrCon", 8, 4, TEXFMT_RGBA8, 0, 0, 0, TEXFMT_RGBA32F, 8, 4, TEXFMT_RGBA32F},
        {"STexNode_SoftContrast", 8, 4, TEXFMT_RGBA32F, 0, 0, 0, 0, 8, 4, TEXFMT_RGBA32F},
        {"STexNode_QuickConvert", 8, 4, TEXFMT_RGBA8, 0, 0, 0, 0, 8, 4, TEXFMT_RGBA8},
        {"STexNode_ColorMatrix", 8, 4, TEXFMT_RGBA8, 0, 0, 0, 0, 8, 4, TEXFMT_RGBA32F},
        {"STexNode_ColorLUT2D", 8, 4, TEXFMT_RGBA32F, 64, 2, TEXFMT_RGBA8, 0, 8, 4, TEXFMT_RGBA8},
        {"STexNode_ColorLUT2D", 8, 4, TEXFMT_RGBA8, 64, 2, TEXFMT_RGBA16F, TEXFMT_RGBA32F, 8, 4, TEXFMT_RGBA32F},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, c.cls, [&](TArray<SPropDesc>& l) {
            FindPropDesc(l[0].Default.Children, "FmtOverride")->AsInt() = c.fmtOverride;
        });
        ASSERT_NE(node, nullptr);
        const TextureRef in0 = c.f0 == TEXFMT_RGBA8 ? ByteTexture(c.w0, c.h0) : FloatTexture(c.w0, c.h0, c.f0, {});
        ASSERT_TRUE(TestLink(p, Source(p, in0), 0, node, 0));
        if (c.w1)
        {
            const TextureRef in1 =
                c.f1 == TEXFMT_RGBA8 ? ByteTexture(c.w1, c.h1) : FloatTexture(c.w1, c.h1, c.f1, {});
            ASSERT_TRUE(TestLink(p, Source(p, in1), 0, node, 1));
        }
        ASSERT_EQ(node->Process(), 1) << c.cls << ": " << node->Status.Str();
        EXPECT_EQ(node->Output->Width, c.w) << c.cls;
        EXPECT_EQ(node->Output->Height, c.h) << c.cls;
        EXPECT_EQ(node->Output->Format, c.f) << c.cls << " override " << c.fmtOverride;
    }
}

TEST_F(ColorNodeTest, MissingInputsFailWithTheirStatusButAMatrixRowWithoutTextureIsAUnitRow)
{
    struct SCase
    {
        const char* cls;
        u32 pin;       // the input left out
        bool nullTex;  // linked to a source without texture instead of unlinked
        const char* status;
    };
    const char* const all[] = {"STexNode_Invert",       "STexNode_Desaturate", "STexNode_BrCon",
                               "STexNode_SoftContrast", "STexNode_Posterize",  "STexNode_QuickConvert",
                               "STexNode_ChanBlend",    "STexNode_ColorMatrix", "STexNode_ColorLUT2D"};
    std::vector<SCase> cases;
    for (const char* cls : all)
    {
        cases.push_back({cls, 0, false, "No input found"});
        cases.push_back({cls, 0, true, "Null texture found"});
    }
    for (const char* cls : {"STexNode_ChanBlend", "STexNode_ColorLUT2D"})
    {
        cases.push_back({cls, 1, false, "No input found"});
        cases.push_back({cls, 1, true, "Null texture found"});
    }
    for (u32 row = 1; row <= 4; ++row)
        cases.push_back({"STexNode_ColorMatrix", row, true, nullptr});
    const Pixels a = SeededPixels(SEED);
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, c.cls);
        ASSERT_NE(node, nullptr);
        const u32 required = std::string(c.cls) == "STexNode_ColorMatrix" ? 1 : node->InParams.Count();
        for (u32 i = 0; i < std::max(required, c.pin + 1); ++i)
        {
            if ((i == c.pin && !c.nullTex) || (i >= required && i != c.pin))
                continue;
            const TextureRef tex = i == c.pin ? TextureRef() : FloatTexture(SIDE, SIDE, TEXFMT_RGBA32F, a);
            ASSERT_TRUE(TestLink(p, Source(p, tex), 0, node, i));
        }
        const int ok = node->Process();
        EXPECT_EQ(ok, c.status ? 0 : 1) << c.cls << " pin " << c.pin;
        EXPECT_STREQ(node->Status.Str(), c.status ? c.status : "") << c.cls << " pin " << c.pin;
        if (!c.status)
        {
            const Pixels out = ReadFloat(node);
            ASSERT_EQ(out.size(), a.size());
            for (u32 i = 0; i < out.size(); ++i)
                for (int k = 0; k < 4; ++k)
                    ASSERT_NEAR(Ch(out[i], k), Ch(a[i], k), TOL_FP32) << "row " << c.pin;
        }
    }
}

TEST_F(ColorNodeTest, QuickConvertModesThatNameNoConversionFailWithoutCompilingAndKeepTheirValue)
{
    const Pixels a = SeededPixels(SEED);
    const struct
    {
        s32 mode;
        const char* status;
    } cases[] = {
        {4, "Mode 4 is a separator, not a conversion"},
        {9, "Mode 9 is a separator, not a conversion"},
        {14, "Mode 14 is outside 0..13"},
        {-1, "Mode -1 is outside 0..13"},
        {INT32_MIN, "Mode -2147483648 is outside 0..13"},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, "STexNode_QuickConvert", Ints({{"Mode", c.mode}}));
        ASSERT_NE(node, nullptr);
        ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(SIDE, SIDE, TEXFMT_RGBA32F, a)), 0, node, 0));
        const u32 before = GSM->Shaders.Count();
        EXPECT_EQ(node->Process(), 0) << c.mode;
        EXPECT_STREQ(node->Status.Str(), c.status);
        EXPECT_EQ(GSM->Shaders.Count(), before) << c.mode;
        EXPECT_EQ(static_cast<STexNode_QuickConvert*>(node)->Mode, c.mode);
        EXPECT_STREQ(ColorEnumText(QUICK_CONVERT_MODES, QUICK_CONVERT_MODE_COUNT, c.mode),
                     c.mode == 4 || c.mode == 9 ? "---" : COLOR_ENUM_UNKNOWN);
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(ColorNodeTest, LookupChannelSelectorsAreOneHotInsideTheChannelListAndEmptyOutside)
{
    const struct
    {
        s32 channel;
        mVec4 selector;
    } cases[] = {{0, mVec4(1, 0, 0, 0)}, {3, mVec4(0, 0, 0, 1)}, {4, mVec4(0, 0, 0, 0)}, {-1, mVec4(0, 0, 0, 0)}};
    for (const auto& c : cases)
    {
        const mVec4 v = LUTChannelSelector(c.channel);
        EXPECT_TRUE(v.x == c.selector.x && v.y == c.selector.y && v.z == c.selector.z && v.w == c.selector.w)
            << c.channel;
    }
}

TEST_F(ColorNodeTest, NonDefaultParametersSurviveADocument)
{
    STexProcessor p;
    AddClassNode(p, "STexNode_Invert", Ints({{"Red", 0}, {"Green", 1}, {"Blue", 0}, {"Alpha", 1}}));
    AddClassNode(p, "STexNode_BrCon", [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "BrOff")->AsFloat() = -0.25f;
        FindPropDesc(l, "ConQ")->AsFloat() = 2.5f;
        FindPropDesc(l, "Green")->AsInt() = 0;
        FindPropDesc(l, "Alpha")->AsInt() = 1;
    });
    AddClassNode(p, "STexNode_SoftContrast", [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Center")->AsFloat() = 0.3f;
        FindPropDesc(l, "Range")->AsFloat() = 0.2f;
        FindPropDesc(l, "Amount")->AsFloat() = -1.5f;
        FindPropDesc(l, "SnapDiv")->AsFloat() = 20.0f;
    });
    AddClassNode(p, "STexNode_Posterize", [](TArray<SPropDesc>& l) {
        FindPropDesc(l, "RoundDiv")->AsFloat() = 0.2f;
        FindPropDesc(l, "Red")->AsInt() = 0;
    });
    AddClassNode(p, "STexNode_QuickConvert", Ints({{"Mode", 11}}));
    AddClassNode(p, "STexNode_ChanBlend",
                 [](TArray<SPropDesc>& l) { FindPropDesc(l, "BlendAmt")->AsVec4() = mVec4(0.1f, 0.2f, 0.3f, 0.4f); });
    AddClassNode(p, "STexNode_ColorLUT2D", Ints({{"XChan", 3}, {"YChan", 2}}));
    TString text;
    ASSERT_TRUE(DocumentText(p, text));
    STexProcessor back;
    ASSERT_TRUE(ReadDocumentText(back, text, "color.kvf", 0));
    ASSERT_EQ(back.Nodes.Count(), 7u);
    auto* inv = dynamic_cast<STexNode_Invert*>(back.Nodes[0]);
    auto* br = dynamic_cast<STexNode_BrCon*>(back.Nodes[1]);
    auto* soft = dynamic_cast<STexNode_SoftContrast*>(back.Nodes[2]);
    auto* post = dynamic_cast<STexNode_Posterize*>(back.Nodes[3]);
    auto* quick = dynamic_cast<STexNode_QuickConvert*>(back.Nodes[4]);
    auto* blend = dynamic_cast<STexNode_ChanBlend*>(back.Nodes[5]);
    auto* lut = dynamic_cast<STexNode_ColorLUT2D*>(back.Nodes[6]);
    ASSERT_TRUE(inv && br && soft && post && quick && blend && lut);
    EXPECT_TRUE(!inv->Mask.Red && inv->Mask.Green && !inv->Mask.Blue && inv->Mask.Alpha);
    EXPECT_TRUE(br->BrOff == -0.25f && br->ConQ == 2.5f && br->Mask.Red && !br->Mask.Green && br->Mask.Blue &&
                br->Mask.Alpha);
    EXPECT_TRUE(soft->Center == 0.3f && soft->Range == 0.2f && soft->Amount == -1.5f && soft->SnapDiv == 20.0f);
    EXPECT_TRUE(post->RoundDiv == 0.2f && !post->Mask.Red && post->Mask.Green && !post->Mask.Alpha);
    EXPECT_EQ(quick->Mode, 11);
    EXPECT_TRUE(blend->BlendAmt.x == 0.1f && blend->BlendAmt.y == 0.2f && blend->BlendAmt.z == 0.3f &&
                blend->BlendAmt.w == 0.4f);
    EXPECT_TRUE(lut->XChan == 3 && lut->YChan == 2);
}
