// Shared helpers of the GUI tests: input ticks written into the polled input state, a layer whose
// Frame runs a test's code, and a fixture that draws into the window's frame buffer in window
// pixels with the shipped shaders.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "GLTestContext.h"
#include "GUIInterface.h"
#include "GameInput.h"

// One tick of input: the current state becomes the previous one, then the mouse is at (x, y) with
// the left button down or up. Typed text and keys start empty as in the engine's tick.
inline void GUITest_Tick(float x, float y, bool left, const char* typed = "")
{
    InputKeepPrevious();
    GMousePos = mVec2(x, y);
    GMouseLeft = left ? 1 : 0;
    GKeys[KEY_MouseLeft] = GMouseLeft;
    GTypedText = typed;
}

// Presses (or releases) a key for the coming tick without touching the mouse.
inline void GUITest_Key(u32 code, bool down)
{
    GKeys[code] = down ? 1 : 0;
}

inline void GUITest_ResetInput()
{
    InputReset();
}

// A layer whose Frame runs the test's code.
class TTestLayer : public SInterface
{
public:
    std::function<void(TTestLayer&)> OnFrame;
    int Frames = 0;

    explicit TTestLayer(const mRect& r = mRect{0, 0, 0, 0}, std::function<void(TTestLayer&)> onFrame = nullptr)
        : OnFrame(onFrame)
    {
        AnchorLeft = AnchorTop = AnchorRight = AnchorBottom = 0;
        OffsetLeft = r.x0;
        OffsetTop = r.y0;
        OffsetRight = r.x1;
        OffsetBottom = r.y1;
        UpdateRect();
    }
    void Frame() override
    {
        ++Frames;
        if (OnFrame)
            OnFrame(*this);
    }
};

// Draws into the window's frame buffer (1024 x 576) in window pixels, y down.
class GUIDrawTest : public testing::Test
{
protected:
    TShippedShaders shaders;
    s32 savedWidth = 0, savedHeight = 0;

    void SetUp() override;
    void TearDown() override;
    // RGBA8 of the window pixel (x, y), y counted from the top.
    static void ReadWindowPixel(int x, int y, unsigned char rgba[4]);
};
