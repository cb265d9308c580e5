// Animation curves: evaluation against hand-computed values of the cubic, channels written into
// their property (components, rounding, clamping), the feeders of a node re-created with their
// animated values while the node itself stays, and the curve editor under the mouse.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <math.h>

#include <vector>

#include "TexAnimCurve.h"

namespace
{
const float EPS = 1e-5f;

struct SPoint
{
    float t, v;
    u32 active;
};

SAnimCurve MakeCurve(const std::vector<SPoint>& points, s32 channel = -1, float min = 0.0f, float max = 1.0f)
{
    SAnimCurve c;
    c.Channel = channel;
    c.Min = min;
    c.Max = max;
    for (const SPoint& p : points)
    {
        c.Points.Add(mVec2(p.t, p.v));
        c.Active.Add(p.active);
    }
    return c;
}

// Channels of the test pins node: Gain 5, Shift 6-7, Tint 8-11.
const u32 CH_SIZE = 4, CH_GAIN = 5, CH_SHIFT_Y = 7;
} // namespace

class TexAnimCurve : public GUIDrawTest
{
protected:
    void SetUp() override
    {
        GUIDrawTest::SetUp();
        TestProcessLog().clear();
    }
};

TEST_F(TexAnimCurve, EvaluationMatchesHandComputedValues)
{
    struct Case
    {
        const char* what;
        std::vector<SPoint> points;
        float t, expected;
    };
    const float NOT_A_NUMBER = nanf("");
    const Case cases[] = {
        {"no points", {}, 0.5f, 0.0f},
        {"two points are a straight line", {{0, 0, 1}, {1, 1, 1}}, 0.3f, 0.3f},
        {"before the first point", {{0.25f, 0.4f, 1}, {1, 1, 1}}, 0.1f, 0.4f},
        {"after the last point", {{0, 0, 1}, {0.75f, 0.6f, 1}}, 0.9f, 0.6f},
        {"next neighbour only", {{0, 0, 1}, {0.5f, 1, 1}, {1, 0, 1}}, 0.25f, 0.6875f},
        {"previous neighbour only", {{0, 0, 1}, {0.5f, 1, 1}, {1, 0.5f, 1}}, 0.75f, 0.890625f},
        {"both neighbours", {{0, 0, 1}, {0.25f, 0.5f, 1}, {0.75f, 0.5f, 1}, {1, 1, 1}}, 0.375f, 0.53125f},
        {"an inactive point is ignored", {{0, 0, 1}, {0.5f, 1, 0}, {1, 1, 1}}, 0.5f, 0.5f},
        {"no active point", {{0, 0.5f, 0}, {1, 1, 0}}, 0.5f, 0.0f},
        {"overshoot is clamped", {{0, 0, 1}, {0.5f, 1, 1}, {1, 1, 1}}, 0.75f, 1.0f},
        {"a neighbour out of order takes no part", {{0, 0, 1}, {1, 1, 1}, {0, 0.5f, 1}}, 0.5f, 0.5f},
        {"equal times", {{0.5f, 0.2f, 1}, {0.5f, 0.8f, 1}, {1, 0.8f, 1}}, 0.75f, 0.9125f},
        {"a value that is no number", {{0, NOT_A_NUMBER, 1}, {1, 1, 1}}, 0.5f, 0.0f},
        {"a time that is no number", {{0, 0.25f, 1}, {1, 1, 1}}, NOT_A_NUMBER, 1.0f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(EvaluateAnimCurve(MakeCurve(c.points), c.t), c.expected, EPS) << c.what;
}

TEST_F(TexAnimCurve, AChannelWritesItsPropertyRoundedAndClamped)
{
    struct Case
    {
        u32 channel;
        float v;
        const char* property;
        const char* text; // the property's value text afterwards
    };
    const Case cases[] = {
        {CH_SIZE, 2.5f, "Size", "2"},     {CH_SIZE, 3.5f, "Size", "4"},       {CH_SIZE, -7.0f, "Size", "0"},
        {CH_SIZE, 1e9f, "Size", "4096"},  {CH_GAIN, 1.25f, "Gain", "1.25"},   {CH_GAIN, 5.0f, "Gain", "2"},
        {CH_GAIN, nanf(""), "Gain", "0"}, {CH_SHIFT_Y, 7.0f, "Shift", "1;7"}, {CH_SHIFT_Y, -50.0f, "Shift", "1;-20"},
        {10, 0.9f, "Tint", "0.1;0.2;0.9;0.4"}, {11, -1.0f, "Tint", "0.1;0.2;0.3;0"},
    };
    STexProcessor p;
    STexProcNode* node = AddPinsNode(p, 0, 1);
    for (const Case& c : cases)
    {
        TArray<SPropDesc> list;
        InstantiatePropTable(list, STestNode_Pins::Props());
        SPropDesc channel;
        ASSERT_TRUE(node->GetAnimChannel(channel, c.channel));
        EXPECT_TRUE(SetAnimChannelValue(list, channel, c.v)) << c.channel;
        TString text;
        ParamToText(*FindPropDesc(list, c.property), text);
        EXPECT_EQ(std::string(text.Str()), std::string("\"") + c.text + "\"") << c.channel << " " << c.v;
    }
    TArray<SPropDesc> list;
    InstantiatePropTable(list, STestNode_Pins::Props());
    for (const char* name : {"Nope", "Nope[x]", "Label[x]", "STexProcNode"})
        EXPECT_FALSE(SetAnimChannelValue(list, SPropDesc(EVT_Float, name), 1.0f)) << name;
}

TEST_F(TexAnimCurve, AnimatingAtATimeRecreatesTheFeedersInPlaceButNeverTheCaller)
{
    const float T = 0.25f;
    STexProcessor p;
    STestNode_Pins* a = AddPinsNode(p, 0, 1);
    STestNode_Pins* b = AddPinsNode(p, 1, 1);
    STestNode_Pins* caller = AddPinsNode(p, 1, 0);
    TestLink(p, a, 0, b, 0);
    TestLink(p, b, 0, caller, 0);
    for (STestNode_Pins* n : {a, b, caller})
        n->Curves.Add(MakeCurve({{0, 0, 1}, {1, 1, 1}}, CH_SHIFT_Y, 10, 20));
    b->Curves.Add(MakeCurve({{0, 0.5f, 1}, {1, 0.5f, 1}}, CH_SIZE, 0, 5));
    p.ProcessUpdateList();
    TestProcessLog().clear();

    p.AnimateAt(caller, T);
    ASSERT_EQ(p.UpdateList.Count(), 3u);
    for (u32 i = 0; i < 3; ++i)
        EXPECT_EQ(p.UpdateList[i], p.Nodes[i]) << i;
    EXPECT_NE(p.Nodes[0], a);
    EXPECT_NE(p.Nodes[1], b);
    EXPECT_EQ(p.Nodes[2], caller);
    STestNode_Pins* made = static_cast<STestNode_Pins*>(p.Nodes[1]);
    EXPECT_FLOAT_EQ(made->Shift.x, 1.0f);
    EXPECT_FLOAT_EQ(made->Shift.y, 12.5f);
    EXPECT_EQ(made->Size, 2); // 2.5 rounds to even
    EXPECT_EQ(made->Curves.Count(), 2u);
    EXPECT_FLOAT_EQ(caller->Shift.y, 2.0f);
    EXPECT_EQ(made->InParams[0]->Links[0], p.Nodes[0]->OutParams[0]);
    EXPECT_EQ(caller->InParams[0]->Links[0], made->OutParams[0]);
    p.ProcessUpdateList();
    EXPECT_EQ(TestProcessLog(), std::vector<STexProcNode*>({p.Nodes[0], made, caller}));
}

TEST_F(TexAnimCurve, TheEditorAddsMovesAndRemovesPointsWithTheMouse)
{
    // The editor in the node's box: window x from 110 to 210 is time 0 to 1, y from 150 to 250 is
    // value 1 to 0 (the processor draws at zoom 1 without pan).
    const mRect EDITOR{110, 150, 210, 250};
    struct Case
    {
        const char* what;
        mVec2 press, release; // curve coordinates of the mouse
        std::vector<mVec2> expected;
        int selectedWhileHeld;
    };
    const Case cases[] = {
        {"a press on empty space adds a point", {0.5f, 0.25f}, {0.5f, 0.25f}, {{0, 0}, {0.5f, 0.25f}, {1, 1}}, 1},
        {"a press on a point drags it", {0, 0}, {0.2f, 0.6f}, {{0.2f, 0.6f}, {1, 1}}, 0},
        {"a drag is clamped to the editor", {1, 1}, {0.5f, 3.0f}, {{0, 0}, {0.5f, 1}}, 1},
        {"dragged past a neighbour it goes", {0.5f, 0.25f}, {1.5f, 0.25f}, {{0, 0}, {1, 1}}, 1},
    };
    const auto screen = [&](const mVec2& p) {
        return mVec2(EDITOR.x0 + p.x * (EDITOR.x1 - EDITOR.x0), EDITOR.y1 - p.y * (EDITOR.y1 - EDITOR.y0));
    };
    STexProcessor p;
    STestNode_Pins* node = AddPinsNode(p, 0, 1);
    node->SetPosition(100, 100);
    node->OffsetBottom = 400;
    node->UpdateRect();
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        SAnimCurve curve = MakeCurve({{0, 0, 1}, {1, 1, 1}});
        const mVec2 from = screen(c.press), to = screen(c.release);
        GUITest_Tick(from.x, from.y, false);
        EXPECT_EQ(CurveEditor(*node, curve, EDITOR, true), 0);
        GUITest_Tick(from.x, from.y, true);
        EXPECT_EQ(CurveEditor(*node, curve, EDITOR, true), 0);
        EXPECT_EQ(curve.Selected, c.selectedWhileHeld);
        GUITest_Tick(to.x, to.y, true);
        EXPECT_EQ(CurveEditor(*node, curve, EDITOR, true), 0);
        GUITest_Tick(to.x, to.y, false);
        EXPECT_EQ(CurveEditor(*node, curve, EDITOR, true), 1);
        EXPECT_EQ(curve.Selected, -1);
        ASSERT_EQ(curve.Points.Count(), c.expected.size());
        for (u32 i = 0; i < curve.Points.Count(); ++i)
        {
            EXPECT_NEAR(curve.Points[i].x, c.expected[i].x, EPS) << i;
            EXPECT_NEAR(curve.Points[i].y, c.expected[i].y, EPS) << i;
            EXPECT_EQ(curve.Active[i], 1u) << i;
        }
        // Read-only, a press changes nothing.
        GUITest_Tick(from.x, from.y, true);
        EXPECT_EQ(CurveEditor(*node, curve, EDITOR, false), 0);
        EXPECT_EQ(curve.Points.Count(), c.expected.size());
    }
}
