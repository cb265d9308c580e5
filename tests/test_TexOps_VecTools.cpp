// The VecTools family on the off-screen context: every node's pixels against a CPU computation of
// its program's stated formula, output sizes and formats, input failures, the channel mask as
// documents store it, the programs and the family menu.
#include "GLTestContext.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "GameShader.h"
#include "GameTexture.h"
#include "TexDocument.h"
#include "TexOps_VecTools.h"

SPopupMenu* TexNodeMenu_STNVecToolsMenu(STexProcessor* owner);

namespace
{
const u32 SIDE = 8;
const u32 SEED = 2402;
const float TOL_FP32 = 1e-5f;
const float TOL_FP16_REL = 1e-3f;
const u32 BIG_W = 128, BIG_H = 64, SMALL_SIDE = 32;

typedef std::vector<mVec4> Pixels;
typedef std::function<float(float a, float b, float m)> TChannelRef;

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

STexProcNode* AddNode(STexProcessor& p, const char* cls, const std::function<void(TArray<SPropDesc>&)>& set = nullptr)
{
    SClassInfo* info = FindClassInfo(cls);
    EXPECT_NE(info, nullptr) << cls;
    if (!info)
        return nullptr;
    TArray<SPropDesc> list;
    InstantiatePropTable(list, info->Props);
    if (set)
        set(list);
    STexProcNode* node = dynamic_cast<STexProcNode*>(info->Create(list));
    p.AddNode(node, 0);
    return node;
}

// The programs' formulas as their headers state them, per channel.
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

struct SArithCase
{
    const char* cls;
    TChannelRef ref;
};

const SArithCase ARITH[] = {
    {"STexNode_Add", [](float a, float b, float) { return a + b; }},
    {"STexNode_Sub", [](float a, float b, float) { return a - b; }},
    {"STexNode_Mul", [](float a, float b, float) { return a * b; }},
    {"STexNode_Div", [](float a, float b, float) { return b == 0 ? 0.0f : a / b; }},
    {"STexNode_Mod", [](float a, float b, float) { return b == 0 ? a : a - b * std::floor(a / b); }},
    {"STexNode_Pow", [](float a, float b, float) { return PowRef(a, b); }},
    {"STexNode_Min", [](float a, float b, float) { return std::min(a, b); }},
    {"STexNode_Max", [](float a, float b, float) { return std::max(a, b); }},
};

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

TEST_F(VecToolsTest, MaskedOperationsComputeTheirFormulaAndKeepInputOneElsewhere)
{
    Pixels a, b;
    SeededPair(a, b);
    const float mask[4] = {1, 0, 1, 0};
    for (const SArithCase& c : ARITH)
    {
        STexProcessor p;
        STexProcNode* node = AddNode(p, c.cls, [&](TArray<SPropDesc>& l) {
            FindPropDesc(l, "RGBA")->AsVec4() = mVec4(mask[0], mask[1], mask[2], mask[3]);
        });
        ASSERT_NE(node, nullptr);
        // pow on the GPU goes through exp2 and log2: a few bits of a 32-bit float remain.
        const bool pow = std::string(c.cls) == "STexNode_Pow";
        ExpectPixels(p, node, {a, b}, TEXFMT_RGBA32F,
                     [&](u32 i) {
                         float o[4];
                         for (int k = 0; k < 4; ++k)
                             o[k] = mask[k] ? c.ref(Ch(a[i], k), Ch(b[i], k), 0) : Ch(a[i], k);
                         return mVec4(o[0], o[1], o[2], o[3]);
                     },
                     TOL_FP32, pow, c.cls);
    }
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(VecToolsTest, OneInputMixAndClampNodesComputeTheirFormula)
{
    Pixels a, b, m;
    SeededPair(a, b);
    SeededPair(m, b);
    std::reverse(m.begin(), m.end());
    for (mVec4& v : m)
        v = mVec4(v.x * 0.5f, v.y * 0.5f, v.z, v.w); // mix values in and outside 0..1
    // Clamp bounds: lo below hi, except where the seeded values cross (hi wins).
    const auto per = [](const mVec4& v, const std::function<float(float)>& f) {
        return mVec4(f(v.x), f(v.y), f(v.z), f(v.w));
    };
    const auto normalized = [](const mVec4& v) {
        const float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        return len > 0 ? mVec4(v.x / len, v.y / len, v.z / len, v.w) : mVec4(0, 0, 0, v.w);
    };
    const struct
    {
        const char* cls;
        std::vector<Pixels> inputs;
        std::function<mVec4(u32)> ref;
        bool fp16;
    } cases[] = {
        {"STexNode_Abs", {a}, [&](u32 i) { return per(a[i], [](float v) { return std::fabs(v); }); }, true},
        {"STexNode_PackNormal", {a}, [&](u32 i) {
             return mVec4(a[i].x * 0.5f + 0.5f, a[i].y * 0.5f + 0.5f, a[i].z * 0.5f + 0.5f, a[i].w);
         }, true},
        {"STexNode_UnpackNormal", {a}, [&](u32 i) {
             return mVec4(a[i].x * 2 - 1, a[i].y * 2 - 1, a[i].z * 2 - 1, a[i].w);
         }, true},
        {"STexNode_NormalizeNormal", {a}, [&](u32 i) { return normalized(a[i]); }, true},
        {"STexNode_Mix", {a, b, m}, [&](u32 i) {
             mVec4 o;
             for (int k = 0; k < 4; ++k)
                 (&o.x)[k] = Ch(a[i], k) + (Ch(b[i], k) - Ch(a[i], k)) * Ch(m[i], k);
             return o;
         }, false},
        {"STexNode_Clamp", {a, b, m}, [&](u32 i) {
             mVec4 o;
             for (int k = 0; k < 4; ++k)
                 (&o.x)[k] = std::min(std::max(Ch(a[i], k), Ch(b[i], k)), Ch(m[i], k));
             return o;
         }, false},
        {"STexNode_Clamp", {a}, [&](u32 i) {
             return per(a[i], [](float v) { return std::min(1.0f, std::max(0.0f, v)); });
         }, false},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexProcNode* node = AddNode(p, c.cls);
        ASSERT_NE(node, nullptr);
        ExpectPixels(p, node, c.inputs, TEXFMT_RGBA32F, c.ref, c.fp16 ? TOL_FP16_REL : TOL_FP32, c.fp16,
                     std::string(c.cls) + " on " + std::to_string(c.inputs.size()) + " inputs");
    }
    // Round trips of unit normals, and the length of a 3-4-0 vector.
    const Pixels normals = {mVec4(0.6f, 0.8f, 0, 1), mVec4(0, 0, -1, 0), mVec4(-0.48f, 0.6f, 0.64f, 0.5f)};
    const Pixels packed = {mVec4(3, 4, 0, 1)};
    for (const mVec4& n : normals)
    {
        STexProcessor p;
        STexProcNode* pack = AddNode(p, "STexNode_PackNormal");
        STexProcNode* unpack = AddNode(p, "STexNode_UnpackNormal");
        ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(1, 1, TEXFMT_RGBA32F, {n})), 0, pack, 0));
        ASSERT_TRUE(TestLink(p, pack, 0, unpack, 0));
        ASSERT_TRUE(pack->Process() && unpack->Process());
        const Pixels out = ReadFloat(unpack);
        ASSERT_EQ(out.size(), 1u);
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(Ch(out[0], k), Ch(n, k), TOL_FP16_REL) << k;
    }
    STexProcessor p;
    STexProcNode* norm = AddNode(p, "STexNode_NormalizeNormal");
    ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(1, 1, TEXFMT_RGBA32F, packed)), 0, norm, 0));
    ASSERT_EQ(norm->Process(), 1);
    const Pixels out = ReadFloat(norm);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NEAR(out[0].x, 0.6f, TOL_FP16_REL);
    EXPECT_NEAR(out[0].y, 0.8f, TOL_FP16_REL);
    EXPECT_EQ(out[0].z, 0.0f);
    EXPECT_TRUE(RecordedBoxes().empty());
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
        STexProcNode* node = AddNode(p, c.cls, [&](TArray<SPropDesc>& l) {
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
    STexProcNode* add = AddNode(p, "STexNode_Add");
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
                                   "STexNode_UnpackNormal", "STexNode_NormalizeNormal"};
    const Pixels a(SIDE * SIDE, mVec4(0.5f, 0.5f, 0.5f, 0.5f));
    for (const char* cls : classes)
    {
        STexProcessor probe;
        const u32 pins = AddNode(probe, cls)->InParams.Count();
        const u32 required = std::string(cls) == "STexNode_Clamp" ? 1 : pins;
        for (u32 pin = 0; pin < pins; ++pin)
            for (bool nullTex : {false, true})
            {
                STexProcessor p;
                STexProcNode* node = AddNode(p, cls);
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
        AddNode(p, "STexNode_Mul", [&](TArray<SPropDesc>& l) { FindPropDesc(l, "RGBA")->AsVec4() = c.stored; });
        AddNode(p, "STexNode_Abs", [&](TArray<SPropDesc>& l) { FindPropDesc(l, "RGBA")->AsVec4() = c.stored; });
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

TEST_F(VecToolsTest, EveryProgramBuildsAndTheMenuCreatesItsClassesInOrder)
{
    const char* const programs[] = {"Add", "Sub", "Mul", "Div", "Mod", "Pow", "Min", "Max", "Abs", "Mix", "Clamp",
                                    "PackNormal", "UnpackNormal", "NormalizeNormal"};
    for (const char* name : programs)
    {
        SShader* sp = GetShader((std::string("Nodes/VecTools/") + name).c_str());
        ASSERT_NE(sp, nullptr) << name;
        EXPECT_NE(sp->Program, 0u) << name;
    }
    const char* const order[] = {"STexNode_Add",   "STexNode_Sub",   "STexNode_Mul",
                                 "STexNode_Div",   "STexNode_Mod",   "STexNode_Pow",
                                 "STexNode_Min",   "STexNode_Max",   "STexNode_Abs",
                                 "STexNode_Mix",   "STexNode_Clamp", "STexNode_PackNormal",
                                 "STexNode_UnpackNormal", "STexNode_NormalizeNormal"};
    const int count = (int)(sizeof(order) / sizeof(order[0]));
    STexProcessor p;
    SPopupMenu* menu = TexNodeMenu_STNVecToolsMenu(&p);
    for (int i = -1; i <= count; ++i)
    {
        const u32 before = p.Nodes.Count();
        menu->OnSelect(i);
        if (i >= 0 && i < count)
        {
            ASSERT_EQ(p.Nodes.Count(), before + 1) << i;
            EXPECT_STREQ(p.Nodes[before]->ClassInfo->Name, order[i]);
        }
        else
            EXPECT_EQ(p.Nodes.Count(), before) << i;
    }
    delete menu;
    EXPECT_TRUE(RecordedBoxes().empty());
}
