// The canvas end to end under Xvfb: a real window, the pointer driven through XTest (xdotool), a
// link dragged from one node's output pin to another node's input pin, and the target processed.
#include "TestNodes.h"
#include "TestSupport.h"
#include "XvfbDriveTest.h"

#include <math.h>

#include <algorithm>
#include <string>

namespace
{
const int SOURCE_SIZE = 8;
} // namespace

class XvfbTexProcessor : public XvfbDriveTest
{
protected:
    void SetUp() override
    {
        XvfbDriveTest::SetUp();
        TestProcessLog().clear();
    }
};

TEST_F(XvfbTexProcessor, ALinkDraggedBetweenTwoPinsIsMadeAndItsTargetProcessed)
{
    STexProcessor p;
    p.UpdateRect();
    STestNode_Affine* src = AddTestNode<STestNode_Affine>(p, [](TArray<SPropDesc>& l) {
        TestSetInt(l, "Ins", 0);
        TestSetInt(l, "Size", SOURCE_SIZE);
    });
    STestNode_Affine* dst = AddTestNode<STestNode_Affine>(p);
    src->SetPosition(100, 100);
    dst->SetPosition(400, 150);
    for (int i = 0; i < 3; ++i)
        Tick(p);
    ASSERT_EQ(src->Status, "");
    ASSERT_EQ(dst->Status, GNodeStatusTexts[NS_NoInput]);

    const mVec2 from = p.PinScreenPos(src->OutParams[0]);
    const mVec2 to = p.PinScreenPos(dst->InParams[0]);
    MoveTo(p, (int)lroundf(from.x), (int)lroundf(from.y));
    XDo("mousedown 1");
    ASSERT_TRUE(RunUntil(p, [&] { return p.LinkDragDir == 1 && p.LinkDragPin == src->OutParams[0]; }));
    MoveTo(p, (int)lroundf((from.x + to.x) * 0.5f), (int)lroundf((from.y + to.y) * 0.5f));
    EXPECT_EQ(p.LinkDragDir, 1);
    MoveTo(p, (int)lroundf(to.x), (int)lroundf(to.y));
    TestProcessLog().clear();
    XDo("mouseup 1");
    ASSERT_TRUE(RunUntil(p, [&] { return p.LinkDragDir == 0; }));
    ASSERT_EQ(dst->InParams[0]->Links.Count(), 1u);
    EXPECT_EQ(dst->InParams[0]->Links[0], src->OutParams[0]);
    EXPECT_EQ(src->OutParams[0]->Links.Count(), 1u);

    ASSERT_TRUE(RunUntil(p, [&] {
        const auto& log = TestProcessLog();
        return std::find(log.begin(), log.end(), dst) != log.end();
    }));
    EXPECT_EQ(dst->Status, "");
    ASSERT_FALSE(dst->Output.IsNull());
    EXPECT_EQ(dst->Output->Width, (u32)SOURCE_SIZE);
    EXPECT_EQ(p.BusyCount, 0u);
}
