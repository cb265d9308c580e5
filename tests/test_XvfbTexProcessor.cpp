// The canvas end to end under Xvfb: a real window, the pointer driven through XTest (xdotool), a
// link dragged from one node's output pin to another node's input pin, and the target processed.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <GL/glew.h>
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>

#include "GameWindow.h"

// Xlib's headers (through SDL's window-manager info) name a type this way.
#undef Status

namespace
{
const float FRAME_TIME = 1.0f / 60.0f;
const Uint32 EVENT_WAIT_MS = 10000;
const int SOURCE_SIZE = 8;
} // namespace

class XvfbTexProcessor : public GUIDrawTest
{
protected:
    unsigned long xid = 0;

    void SetUp() override
    {
        ASSERT_NE(getenv("DISPLAY"), nullptr);
        GUIDrawTest::SetUp();
        ASSERT_FALSE(GWindowSystem->IsOffscreen());
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        ASSERT_TRUE(SDL_GetWindowWMInfo((SDL_Window*)GWindow->Handle, &info));
        xid = (unsigned long)info.info.x11.window;
        TestProcessLog().clear();
    }
    void TearDown() override
    {
        XDo("mouseup 1");
        GUIDrawTest::TearDown();
    }

    static void XDo(const std::string& args)
    {
        const std::string cmd = "xdotool " + args + " >/dev/null 2>&1";
        ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
    }
    void MoveTo(SGUILayer& root, int x, int y)
    {
        XDo("mousemove --window " + std::to_string(xid) + " " + std::to_string(x) + " " + std::to_string(y));
        ASSERT_TRUE(RunUntil(root, [&] { return GMousePos.x == (float)x && GMousePos.y == (float)y; })) << x << "," << y;
    }
    void Tick(SGUILayer& root)
    {
        InputKeepPrevious();
        ProcessEvents();
        glClear(GL_COLOR_BUFFER_BIT);
        SGUILayer::DrawTree(&root, FRAME_TIME);
        glFinish();
    }
    bool RunUntil(SGUILayer& root, const std::function<bool()>& done)
    {
        const Uint32 start = SDL_GetTicks();
        while (SDL_GetTicks() - start < EVENT_WAIT_MS)
        {
            Tick(root);
            if (done())
                return true;
            SDL_Delay(5);
        }
        return false;
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
