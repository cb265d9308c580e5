// The node base: its property table, parameters stored and read back, the "AnimData" text, the
// animation channels, pin rows and positions, the preview grid, the box's height, and on the GL
// context the output target's formats and sizes, the input bindings and a small graph's pixels
// against the test node's formula.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <GL/glew.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
const float DT = 0.01f;

// An output texel read back as RGBA8.
void ReadOutput(const TextureRef& tex, int x, int y, unsigned char rgba[4])
{
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, tex, FBA_Color);
    ASSERT_TRUE(CheckFrameBuffer(*fb));
    PushFrameBuffer(fb);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    PopFrameBuffer(fb);
}

unsigned char ToByte(float v)
{
    v = v < 0 ? 0 : (v > 1 ? 1 : v);
    return (unsigned char)(v * 255.0f + 0.5f);
}
} // namespace

class TexProcNode : public GUIDrawTest
{
protected:
    void SetUp() override
    {
        GUIDrawTest::SetUp();
        TestProcessLog().clear();
    }
};

TEST_F(TexProcNode, AnimationChannelsCountTheComponentsOfTheClassParameters)
{
    struct Case
    {
        u32 index;
        const char* name;
        float def, min, max;
    };
    // Ins, Outs, Optional, Fail, Size (ints), Gain (float), Shift (Vec2), Tint (ColRGBA), Label (none).
    const Case cases[] = {
        {0, "Ins", 1, 0, 8},          {4, "Size", 0, 0, 4096},       {5, "Gain", 0.5f, 0, 2},
        {6, "Shift[x]", 1, -10, 10},  {7, "Shift[y]", 2, -20, 20},   {8, "Tint[x]", 0.1f, 0, 1},
        {11, "Tint[w]", 0.4f, 0, 1},
    };
    const u32 CHANNELS = 12;
    STexProcessor p;
    STexProcNode* n = AddPinsNode(p, 1, 1);
    EXPECT_EQ(n->GetAnimChannelCount(), CHANNELS);
    for (const Case& c : cases)
    {
        SPropDesc d;
        ASSERT_TRUE(n->GetAnimChannel(d, c.index)) << c.index;
        EXPECT_EQ(d.Name, c.name) << c.index;
        const bool isInt = d.Type == EVT_Int;
        EXPECT_TRUE(isInt || d.Type == EVT_Float) << c.index;
        EXPECT_FLOAT_EQ(isInt ? (float)d.Default.Int : d.Default.Float, c.def) << c.name;
        EXPECT_FLOAT_EQ(isInt ? (float)d.Min.Int : d.Min.Float, c.min) << c.name;
        EXPECT_FLOAT_EQ(isInt ? (float)d.Max.Int : d.Max.Float, c.max) << c.name;
    }
    SPropDesc beyond;
    EXPECT_FALSE(n->GetAnimChannel(beyond, CHANNELS));
}

TEST_F(TexProcNode, AnimDataTextListsEachCurveAndItsPoints)
{
    struct Case
    {
        std::vector<std::vector<float>> curves; // min, max, channel, then time/value pairs
        const char* text;
    };
    const Case cases[] = {
        {{}, ""},
        {{{0, 1, 0, 0, 0, 1, 0}}, "ANIM 0 1 0\nPOINT 0;0\nPOINT 1;0\n\n"},
        {{{-2.5f, 10, 3, 0.25f, 0.5f}, {0, 1e+20f, 7}}, "ANIM -2.5 10 3\nPOINT 0.25;0.5\n\nANIM 0 1e+20 7\n\n"},
    };
    for (const Case& c : cases)
    {
        TArray<SAnimCurve> curves;
        for (const auto& v : c.curves)
        {
            SAnimCurve k;
            k.Min = v[0];
            k.Max = v[1];
            k.Channel = (s32)v[2];
            for (size_t i = 3; i + 1 < v.size(); i += 2)
            {
                k.Points.Add(mVec2(v[i], v[i + 1]));
                k.Active.Add(1);
            }
            curves.Add(k);
        }
        TString text;
        AnimCurvesToText(curves, text);
        EXPECT_EQ(std::string(text.Str()), c.text);
        // Read back, the curves write the same text again, expanded, unselected, every point active.
        TArray<SAnimCurve> back;
        AnimCurvesFromText(c.text, back);
        TString again;
        AnimCurvesToText(back, again);
        EXPECT_EQ(std::string(again.Str()), c.text);
        for (u32 i = 0; i < back.Count(); ++i)
        {
            EXPECT_EQ(back[i].Expanded, 1u);
            EXPECT_EQ(back[i].Selected, -1);
            ASSERT_EQ(back[i].Active.Count(), back[i].Points.Count());
            for (u32 k = 0; k < back[i].Active.Count(); ++k)
                EXPECT_EQ(back[i].Active[k], 1u);
        }
    }
    // Stray lines and points before any curve are skipped.
    TArray<SAnimCurve> back;
    AnimCurvesFromText("POINT 0;1\nJUNK 1 2\nANIM 1 2 5\r\nPOINT 0.5;0.75\r\n", back);
    ASSERT_EQ(back.Count(), 1u);
    EXPECT_EQ(back[0].Channel, 5);
    ASSERT_EQ(back[0].Points.Count(), 1u);
    EXPECT_FLOAT_EQ(back[0].Points[0].y, 0.75f);
}

TEST_F(TexProcNode, StoredParametersBuildAnEqualNode)
{
    STexProcessor p;
    STestNode_Pins* n = AddPinsNode(p, 2, 1);
    n->SetPosition(30, 40);
    n->OffsetBottom = n->OffsetTop + 55;
    n->FmtOverride = 3;
    n->NName = "my node";
    n->Gain = 1.5f;
    SAnimCurve c;
    c.Channel = 5;
    c.Reset();
    n->Curves.Add(c);

    TArray<SPropDesc> list;
    InstantiatePropTable(list, STestNode_Pins::Props());
    n->StoreParams(list);
    STestNode_Pins* copy = static_cast<STestNode_Pins*>(STestNode_Pins::Info.Create(list));
    EXPECT_FLOAT_EQ(copy->Rect.x0, 30.0f);
    EXPECT_FLOAT_EQ(copy->Rect.y1 - copy->Rect.y0, 55.0f);
    EXPECT_EQ(copy->FmtOverride, 3);
    EXPECT_EQ(copy->NName, "my node");
    EXPECT_FLOAT_EQ(copy->Gain, 1.5f);
    EXPECT_EQ(copy->InParams.Count(), 2u);
    ASSERT_EQ(copy->Curves.Count(), 1u);
    EXPECT_EQ(copy->Curves[0].Channel, 5);
    delete copy;
}

TEST_F(TexProcNode, ABaseListOfTheWrongShapeIsAnAssertion)
{
    TArray<SPropDesc> empty;
    {
        TExpectBreak expect("at >= count");
        EXPECT_EQ(NodeBaseList(empty), nullptr);
    }
    TArray<SPropDesc> flat;
    flat.Add(PropInt("x", 0, 0, 1));
    TExpectBreak expect("Type != EVT_InheritInst");
    EXPECT_EQ(NodeBaseList(flat), nullptr);
}

TEST_F(TexProcNode, PinRowsAndPinPlacesFollowThePinCounts)
{
    struct Case
    {
        int ins, outs;
        u32 rows;
    };
    const Case cases[] = {{0, 0, 0}, {1, 0, 1}, {2, 3, 3}, {4, 1, 4}};
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* n = AddPinsNode(p, c.ins, c.outs);
        n->PreviewShown = 0;
        n->SetPosition(200, 100);
        GUITest_Tick(0, 0, false);
        SGUILayer::DrawTree(&p, DT);
        EXPECT_EQ(n->PinRows(), c.rows);
        // Without rows of its own or a preview the box is its caption and its pin rows.
        EXPECT_FLOAT_EQ(n->Rect.y1 - n->Rect.y0, NODE_CAPTION_HEIGHT + NODE_PIN_ROW_HEIGHT * (float)c.rows);
        const float firstRow = n->Rect.y1 - NODE_PIN_ROW_HEIGHT * (float)c.rows + NODE_PIN_HALF;
        for (int i = 0; i < c.ins; ++i)
        {
            const mVec2 s = p.PinScreenPos(n->InParams[(u32)i]);
            EXPECT_FLOAT_EQ(s.x, 205.0f);
            EXPECT_FLOAT_EQ(s.y, firstRow + NODE_PIN_ROW_HEIGHT * (float)i);
        }
        for (int i = 0; i < c.outs; ++i)
        {
            const mVec2 s = p.PinScreenPos(n->OutParams[(u32)i]);
            EXPECT_FLOAT_EQ(s.x, 200.0f + NODE_WIDTH - NODE_PIN_HALF);
            EXPECT_FLOAT_EQ(s.y, firstRow + NODE_PIN_ROW_HEIGHT * (float)i);
        }
    }
    NodePin stray("stray", nullptr, 0);
    STexProcessor p;
    const mVec2 none = p.PinScreenPos(&stray);
    EXPECT_FLOAT_EQ(none.x, 0.0f);
    EXPECT_FLOAT_EQ(none.y, 0.0f);
}

TEST_F(TexProcNode, ThePreviewIsASquareBelowTheRows)
{
    STexProcessor p;
    STexProcNode* n = AddPinsNode(p, 1, 2);
    GUITest_Tick(0, 0, false);
    SGUILayer::DrawTree(&p, DT);
    // caption + the square as wide as the panel + two pin rows
    const float panel = NODE_WIDTH - 2 * NODE_PIN_MARGIN;
    EXPECT_FLOAT_EQ(n->Rect.y1 - n->Rect.y0, NODE_CAPTION_HEIGHT + panel + 2 * NODE_PIN_ROW_HEIGHT);
}

TEST_F(TexProcNode, PreviewGridsShowUpToTheirCellCount)
{
    struct Case
    {
        u32 outputs, columns, shown;
    };
    const Case cases[] = {{0, 1, 0}, {1, 1, 1}, {2, 2, 2}, {4, 2, 4}, {5, 3, 5}, {9, 3, 9}, {10, 1, 1}, {12, 1, 1}};
    for (const Case& c : cases)
    {
        u32 columns = 0, shown = 0;
        NodePreviewGrid(c.outputs, columns, shown);
        EXPECT_EQ(columns, c.columns) << c.outputs;
        EXPECT_EQ(shown, c.shown) << c.outputs;
    }
}

TEST_F(TexProcNode, OnlyTheOutputFormatsOverrideTheClassFormat)
{
    struct Case
    {
        s32 override_;
        u32 asked, expected;
    };
    const Case cases[] = {
        {0, TEXFMT_RGBA8, TEXFMT_RGBA8},      {0, TEXFMT_RGBA32F, TEXFMT_RGBA32F}, {1, TEXFMT_RGBA32F, TEXFMT_RGBA8},
        {3, TEXFMT_RGBA8, TEXFMT_RGBA16F},    {4, TEXFMT_RGBA8, TEXFMT_RGBA32F},   {2, TEXFMT_RGBA8, TEXFMT_RGBA8},
        {21, TEXFMT_RGBA16F, TEXFMT_RGBA16F}, {-1, TEXFMT_RGBA8, TEXFMT_RGBA8},
    };
    STexProcessor p;
    STexProcNode* n = AddPinsNode(p, 0, 1);
    const u32 SIZE = 4;
    for (const Case& c : cases)
    {
        EXPECT_EQ(NodeOutputFormat(c.override_, c.asked), c.expected) << c.override_ << "," << c.asked;
        n->FmtOverride = c.override_;
        ASSERT_EQ(n->CreateOutputTarget(SIZE, SIZE, c.asked), 1);
        EXPECT_EQ(n->Output->Format, c.expected) << c.override_ << "," << c.asked;
        EXPECT_NE(n->Output->GLName, 0u);
    }
}

TEST_F(TexProcNode, OutputSizesOutsideTheGLRangeAreNodeErrors)
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    struct Case
    {
        u32 w, h;
        int ok;
    };
    const Case cases[] = {
        {0, 16, 0}, {16, 0, 0}, {(u32)maxSize + 1, 1, 0}, {1, (u32)maxSize + 1, 0}, {0xFFFFFFFFu, 1, 0}, {1, 1, 1}, {3, 5, 1},
    };
    STexProcessor p;
    STexProcNode* n = AddPinsNode(p, 0, 1);
    for (const Case& c : cases)
    {
        n->Status = "";
        EXPECT_EQ(n->CreateOutputTarget(c.w, c.h, TEXFMT_RGBA8), c.ok) << c.w << "x" << c.h;
        EXPECT_EQ(n->Output.IsNull(), !c.ok) << c.w << "x" << c.h;
        EXPECT_EQ(n->Status.IsEmpty(), c.ok != 0) << c.w << "x" << c.h;
        if (!c.ok)
        {
            EXPECT_NE(std::string(n->Status.Str()).find("CreateOutputTarget: size"), std::string::npos);
        }
        else
        {
            EXPECT_EQ(n->Output->Width, c.w);
        }
    }
}

TEST_F(TexProcNode, AnIncompleteTargetIsReportedInsteadOfEndingTheProgram)
{
    FrameBufferRef bare(new SFrameBuffer);
    TString failure;
    EXPECT_FALSE(FB_Complete(*bare, &failure));
    EXPECT_EQ(failure, "Missing attachment");
    EXPECT_TRUE(FB_Valid());
    bare.Release();
    // Other targets still work afterwards.
    STexProcessor p;
    STestNode_Affine* n = AddTestNode<STestNode_Affine>(p, [](TArray<SPropDesc>& l) { TestSetInt(l, "Ins", 0); });
    p.ProcessUpdateList();
    EXPECT_EQ(n->Status, "");
    EXPECT_FALSE(n->Output.IsNull());
}

TEST_F(TexProcNode, InputsAreBoundToTheirUnitsAndUnlinkedOnesLeaveTheirUnitEmpty)
{
    STexProcessor p;
    const int SIZE = 4;
    STexProcNode* a = AddPinsNode(p, 0, 1, SIZE);
    STexProcNode* b = AddPinsNode(p, 0, 1, SIZE);
    STexProcNode* sink = AddPinsNode(p, 3, 1);
    ASSERT_EQ(TestLink(p, a, 0, sink, 0), 1);
    ASSERT_EQ(TestLink(p, b, 0, sink, 2), 1);
    p.ProcessUpdateList();
    ASSERT_FALSE(a->Output.IsNull());
    ASSERT_FALSE(b->Output.IsNull());
    // A stale binding on unit 1 must go.
    TEX_Bind(1, a->Output);
    TArray<TString> defines;
    sink->BindInputTextures(TEST_AFFINE_SHADER, defines);
    const u32 expected[3] = {a->Output->GLName, 0, b->Output->GLName};
    for (u32 unit = 0; unit < 3; ++unit)
    {
        glActiveTexture(GL_TEXTURE0 + unit);
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ((u32)bound, expected[unit]) << unit;
    }
    glActiveTexture(GL_TEXTURE0);
    TEX_ResetBindCache();
}

TEST_F(TexProcNode, AGraphProcessesInOrderAndMatchesTheFormula)
{
    struct Case
    {
        mVec4 biasA, biasB;
        float scale;
        mVec4 bias;
        bool second;
    };
    const Case cases[] = {
        {{0.2f, 0.4f, 0.6f, 1.0f}, {0, 0, 0, 0}, 0.5f, {0.1f, 0.1f, 0.1f, 0.0f}, false},
        {{0.2f, 0.4f, 0.6f, 1.0f}, {0.3f, 0.1f, 0.0f, 0.0f}, 1.0f, {0, 0, 0, 0}, true},
        {{1.0f, 0.5f, 0.0f, 0.5f}, {0.5f, 0.5f, 0.5f, 0.5f}, 0.75f, {-0.25f, 0, 0, 0}, true},
    };
    const int SIZE = 8;
    for (const Case& c : cases)
    {
        STexProcessor p;
        auto source = [&](const mVec4& bias) {
            return AddTestNode<STestNode_Affine>(p, [&](TArray<SPropDesc>& l) {
                TestSetInt(l, "Ins", 0);
                TestSetInt(l, "Size", SIZE);
                FindPropDesc(l, "Bias")->AsColRGBA() = bias;
            });
        };
        STestNode_Affine* sink = AddTestNode<STestNode_Affine>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", 2);
            FindPropDesc(l, "Scale")->AsFloat() = c.scale;
            FindPropDesc(l, "Bias")->AsColRGBA() = c.bias;
        });
        STestNode_Affine* a = source(c.biasA);
        STestNode_Affine* b = source(c.biasB);
        ASSERT_EQ(TestLink(p, a, 0, sink, 0), 1);
        if (c.second)
        {
            ASSERT_EQ(TestLink(p, b, 0, sink, 1), 1);
        }
        TestProcessLog().clear();
        p.ProcessAll();
        ASSERT_EQ(sink->Status, "");
        // The sink (first in the graph) ran after the sources that feed it.
        const auto& log = TestProcessLog();
        ASSERT_EQ(log.size(), 3u);
        auto at = [&](STexProcNode* n) { return std::find(log.begin(), log.end(), n) - log.begin(); };
        EXPECT_LT(at(a), at(sink));
        if (c.second)
        {
            EXPECT_LT(at(b), at(sink));
        }
        ASSERT_FALSE(sink->Output.IsNull());
        EXPECT_EQ(sink->Output->Width, (u32)SIZE);
        const float inA[4] = {c.biasA.x, c.biasA.y, c.biasA.z, c.biasA.w};
        const float inB[4] = {c.biasB.x, c.biasB.y, c.biasB.z, c.biasB.w};
        const float bias[4] = {c.bias.x, c.bias.y, c.bias.z, c.bias.w};
        const int corners[2][2] = {{0, 0}, {SIZE - 1, SIZE - 1}};
        for (const auto& at : corners)
        {
            unsigned char px[4];
            ReadOutput(sink->Output, at[0], at[1], px);
            for (int ch = 0; ch < 4; ++ch)
            {
                // The sources are stored as bytes before the sink reads them.
                const float a8 = ToByte(inA[ch]) / 255.0f, b8 = c.second ? ToByte(inB[ch]) / 255.0f : 0.0f;
                EXPECT_NEAR(px[ch], ToByte(bias[ch] + c.scale * (a8 + b8)), 1) << "channel " << ch;
            }
        }
    }
}
