// The Select family: the corners and ranges the programs receive, and on the off-screen context
// every mask against a CPU computation of its program's stated formula, input failures, comparison
// modes past the operator list, the programs and the family menu.
#include "GLTestContext.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "GameShader.h"
#include "GameTexture.h"
#include "TexOps_Select.h"

SPopupMenu* TexNodeMenu_STNSelectMenu(STexProcessor* owner);

namespace
{
const u32 W = 8, H = 6;
const float TOL_FP32 = 1e-5f;
typedef std::vector<mVec4> Pixels;

float Ch(const mVec4& v, int c)
{
    return (&v.x)[c];
}

TextureRef FloatTexture(u32 w, u32 h, const Pixels& px)
{
    TextureRef t;
    EXPECT_TRUE(TEX_Create(t, w, h, 1, 1, TEXFMT_RGBA32F, px.empty() ? nullptr : &px[0].x, NODE_OUTPUT_TEX_FLAGS));
    return t;
}

STexProcNode* Source(STexProcessor& p, const TextureRef& tex)
{
    STestNode_Pins* src = AddPinsNode(p, 0, 1, 0);
    src->Output = tex;
    return src;
}

template <class T> T* AddSelect(STexProcessor& p, const std::function<void(T&)>& set)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, T::Props());
    T* node = dynamic_cast<T*>(T::ClassRecord()->Create(list));
    p.AddNode(node, 0);
    set(*node);
    return node;
}

Pixels Process(STexProcessor& p, STexProcNode* node, const std::vector<Pixels>& inputs)
{
    for (u32 i = 0; i < inputs.size(); ++i)
        EXPECT_TRUE(TestLink(p, Source(p, FloatTexture(W, H, inputs[i])), 0, node, i));
    EXPECT_EQ(node->Process(), 1) << node->Status.Str();
    FloatImage img;
    if (node->Output.IsNull() || !TEX_ReadPixelsFloat(node->Output.Get(), img))
        return {};
    return Pixels(img.Data.data, img.Data.data + img.Width * img.Height);
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

class SelectTest : public GLTestFixture
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
    const Pixels out = Process(p, node, {Pixels(W * H, mVec4(0.3f, 0.3f, 0.3f, 0.3f))});
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
        const Pixels out = Process(p, node, {a, b});
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
            ASSERT_TRUE(TestLink(p, Source(p, FloatTexture(W, H, a)), 0, node, i));
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
            const Pixels out = Process(p, node, {Pixels(W * H, pair[0]), Pixels(W * H, pair[1])});
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

TEST_F(SelectTest, MissingInputsFailWithTheirStatus)
{
    const char* const classes[] = {"STexNode_SelRect", "STexNode_SelCompare", "STexNode_SelRange"};
    const Pixels a(W * H, mVec4(0.5f, 0.5f, 0.5f, 0.5f));
    for (const char* cls : classes)
        for (u32 pin = 0; pin < 2; ++pin)
            for (bool nullTex : {false, true})
            {
                STexProcessor p;
                TArray<SPropDesc> list;
                InstantiatePropTable(list, FindClassInfo(cls)->Props);
                auto* node = dynamic_cast<STexProcNode*>(FindClassInfo(cls)->Create(list));
                p.AddNode(node, 0);
                if (pin >= node->InParams.Count())
                    continue;
                for (u32 i = 0; i < node->InParams.Count(); ++i)
                {
                    if (i != pin || nullTex)
                    {
                        ASSERT_TRUE(TestLink(p, Source(p, i == pin ? TextureRef() : FloatTexture(W, H, a)), 0, node, i));
                    }
                }
                EXPECT_EQ(node->Process(), 0);
                EXPECT_STREQ(node->Status.Str(), nullTex ? "Null texture found" : "No input found") << cls << pin;
            }
}

TEST_F(SelectTest, TheMenuCreatesTheThreeClassesInOrder)
{
    const char* const order[] = {"STexNode_SelRect", "STexNode_SelCompare", "STexNode_SelRange"};
    STexProcessor p;
    SPopupMenu* menu = TexNodeMenu_STNSelectMenu(&p);
    for (int i = -1; i <= 3; ++i)
    {
        const u32 before = p.Nodes.Count();
        menu->OnSelect(i);
        EXPECT_EQ(p.Nodes.Count(), before + (i >= 0 && i < 3 ? 1u : 0u)) << i;
        if (i >= 0 && i < 3 && p.Nodes.Count() > before)
        {
            EXPECT_STREQ(p.Nodes[before]->ClassInfo->Name, order[i]);
        }
    }
    delete menu;
}
