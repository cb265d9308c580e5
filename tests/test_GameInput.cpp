// The polled input state fed from a window's event queue, tick by tick, and the bindings.
#include "TestSupport.h"

#include "GameConsole.h"
#include "GameCore.h"
#include "GameInput.h"
#include "GameWindow.h"

#include <string>
#include <vector>

namespace
{
SWindowEvent Ev(u32 type, u32 key = 0, u32 button = 0)
{
    SWindowEvent e = {};
    e.Type = type;
    e.Key = key;
    e.Button = button;
    return e;
}

SWindowEvent Move(s32 x, s32 y)
{
    SWindowEvent e = Ev(WE_MouseMove);
    e.X = x;
    e.Y = y;
    return e;
}

SWindowEvent Char(u32 c)
{
    SWindowEvent e = Ev(WE_Char);
    e.Char = c;
    return e;
}

SWindowEvent Wheel(s32 value)
{
    SWindowEvent e = Ev(WE_Wheel, value < 0 ? 139 : 140);
    e.Wheel = value;
    return e;
}

class SFocusGame : public IGame
{
public:
    std::vector<std::string> Seen;
    void Init() override {}
    void Shutdown() override {}
    void OnSetMode(const SVideoMode&) override {}
    void OnFocus(bool gained) override { Seen.push_back(gained ? "gained" : "lost"); }
    void Update(float, float) override {}
    void Render(float) override {}
};

// A window of its own (no surface is needed to queue events) as the engine's window.
class GameInputTest : public ::testing::Test
{
protected:
    SWindow Window{ nullptr };
    SWindow* SavedWindow = nullptr;
    IGame* SavedGame = nullptr;
    SFocusGame Game;

    void SetUp() override
    {
        SavedWindow = GWindow;
        SavedGame = GGame;
        GWindow = &Window;
        GGame = &Game;
        GQuitFlag = 0;
        GScreenWidth = 1024;
        GScreenHeight = 576;
        InputReset();
        GConsole.Open = false;
        GConsole.Input = "";
    }
    void TearDown() override
    {
        GWindow = SavedWindow;
        GGame = SavedGame;
        GQuitFlag = 0;
        GConsole.Open = false;
        GConsole.Input = "";
        InputReset();
    }
    // One tick as the engine main runs it.
    void Tick(std::initializer_list<SWindowEvent> events)
    {
        for (const SWindowEvent& e : events)
            Window.QueueEvent(e);
        if (!IsConsoleOpen())
            InputKeepPrevious();
        ProcessEvents();
    }
    SInputBinding& Bind(u32 code) { return GInputBindings.GetOrAdd(code); }
};
} // namespace

TEST_F(GameInputTest, KeyStatusOverTicks)
{
    Tick({ Ev(WE_KeyDown, 'S') });
    EXPECT_EQ(GetKeyStatus('S'), KS_Pressed);
    Tick({ Ev(WE_KeyDown, 'S') }); // auto-repeat changes nothing
    EXPECT_EQ(GetKeyStatus('S'), KS_Held);
    Tick({});
    EXPECT_EQ(GetKeyStatus('S'), KS_Held);
    Tick({ Ev(WE_KeyUp, 'S') });
    EXPECT_EQ(GetKeyStatus('S'), KS_Released);
    Tick({});
    EXPECT_EQ(GetKeyStatus('S'), KS_Up);
    // Pressed and released within one tick: the release, and what follows it, wait for the next.
    Tick({ Ev(WE_KeyDown, 'A'), Ev(WE_KeyUp, 'A'), Char('a') });
    EXPECT_EQ(GetKeyStatus('A'), KS_Pressed);
    Tick({});
    EXPECT_EQ(GetKeyStatus('A'), KS_Released);
    EXPECT_STREQ(GTypedText.Str(), "a");
}

TEST_F(GameInputTest, GenericAndSideCodesBothHeld)
{
    Tick({ Ev(WE_KeyDown, 17), Ev(WE_KeyDown, 162) });
    EXPECT_EQ(GKeys[17], 1);
    EXPECT_EQ(GKeys[162], 1);
    EXPECT_EQ(GKeys[163], 0);
}

TEST_F(GameInputTest, QuitRequestStopsTheDraining)
{
    Tick({ Ev(WE_KeyDown, 'A'), Ev(WE_Quit), Ev(WE_KeyDown, 'B') });
    EXPECT_EQ(GQuitFlag, 1u);
    EXPECT_EQ(GKeys['A'], 1);
    EXPECT_EQ(GKeys['B'], 0);
    EXPECT_EQ(Window.QueuedEvents(), 1u);
    Tick({});
    EXPECT_EQ(GKeys['B'], 1);
}

TEST_F(GameInputTest, MouseButtonsPositionAndWheel)
{
    Bind(INPUT_AXIS_MOUSE_X);
    Bind(INPUT_AXIS_MOUSE_Y);
    Tick({ Move(256, 144), Ev(WE_MouseDown, 1, 0), Ev(WE_MouseDown, 3, 2) });
    EXPECT_EQ(GMouseLeft, 1);
    EXPECT_EQ(GMouseRight, 0);
    EXPECT_EQ(GKeys[1], 1);
    EXPECT_EQ(GKeys[3], 1); // the middle button has no flag of its own
    EXPECT_EQ(GMousePos.x, 256.0f);
    EXPECT_EQ(GMousePos.y, 144.0f);
    // The first move is measured from (0, 0), in screen fractions.
    EXPECT_FLOAT_EQ(GInputBindings.FindValue(INPUT_AXIS_MOUSE_X)->Value, 0.25f);
    EXPECT_FLOAT_EQ(GInputBindings.FindValue(INPUT_AXIS_MOUSE_Y)->Value, 0.25f);

    // Dragging left of the window keeps the sign.
    Tick({ Move(-5, 10), Ev(WE_MouseDown, 2, 1), Ev(WE_MouseUp, 1, 0) });
    EXPECT_EQ(GMousePos.x, -5.0f);
    EXPECT_EQ(GPrevMousePos.x, 256.0f);
    EXPECT_EQ(GMouseRight, 1);
    EXPECT_EQ(GMouseLeft, 0);
    EXPECT_EQ(GPrevMouseLeft, 1);
    EXPECT_FLOAT_EQ(GInputBindings.FindValue(INPUT_AXIS_MOUSE_X)->Value, -261.0f / 1024.0f);

    // A wheel step away from the user reads as pressed in its tick and released in the next.
    Tick({ Wheel(-1), Wheel(-1) });
    EXPECT_EQ(GMouseWheel, -1.0f);
    EXPECT_EQ(GetKeyStatus(139), KS_Pressed);
    Tick({}); // a tick holds one notch: the second one comes now
    EXPECT_EQ(GetKeyStatus(139), KS_Held);
    Tick({});
    EXPECT_EQ(GMouseWheel, 0.0f);
    EXPECT_EQ(GPrevMouseWheel, -1.0f);
    EXPECT_EQ(GetKeyStatus(139), KS_Released);
    Tick({ Wheel(1) });
    EXPECT_EQ(GMouseWheel, 1.0f);
    EXPECT_EQ(GKeys[140], 1);
}

TEST_F(GameInputTest, TypedTextPerTick)
{
    Tick({ Char('h'), Char('i'), Char(8) });
    EXPECT_STREQ(GTypedText.Str(), "hi\b");
    // Typed text is UTF-8 (e acute, an emoji); a surrogate is no character and is dropped.
    Tick({ Char(0xE9), Char(0x1F600), Char(0xD800), Char('e') });
    EXPECT_STREQ(GTypedText.Str(), "\xC3\xA9\xF0\x9F\x98\x80" "e");
    Tick({});
    EXPECT_STREQ(GTypedText.Str(), "");
}

TEST_F(GameInputTest, FocusLossReleasesHeldKeys)
{
    SInputBinding& ctrl = Bind(17);
    Tick({ Ev(WE_FocusGained), Ev(WE_KeyDown, 17), Ev(WE_KeyDown, 162), Ev(WE_MouseDown, 1, 0) });
    EXPECT_EQ(ctrl.State, KS_Pressed);
    Tick({ Ev(WE_FocusLost) });
    EXPECT_EQ(Game.Seen, (std::vector<std::string>{ "gained", "lost" }));
    EXPECT_EQ(GKeys[17], 0);
    EXPECT_EQ(GKeys[162], 0);
    EXPECT_EQ(GKeys[1], 0);
    EXPECT_EQ(GMouseLeft, 0);
    EXPECT_EQ(GetKeyStatus(17), KS_Released);
    EXPECT_EQ(ctrl.State, KS_Released);
    // Back in the window, 'S' alone is not Control+S.
    Tick({ Ev(WE_FocusGained), Ev(WE_KeyDown, 'S') });
    EXPECT_EQ(GetKeyStatus('S'), KS_Pressed);
    EXPECT_EQ(GKeys[17], 0);
}

TEST_F(GameInputTest, OpenConsoleTakesKeysAndCharactersAndFreezesTheState)
{
    Tick({ Ev(WE_KeyDown, 'A') });
    Tick({ Ev(WE_KeyDown, 192), Ev(WE_KeyUp, 192) });
    ASSERT_TRUE(IsConsoleOpen());
    Tick({ Char('r'), Char('_'), Ev(WE_KeyDown, 'B'), Ev(WE_KeyUp, 'A'), Ev(WE_MouseDown, 1, 0), Move(9, 9) });
    EXPECT_STREQ(GConsole.Input.Str(), "r_");
    EXPECT_STREQ(GTypedText.Str(), "");
    EXPECT_EQ(GKeys['B'], 0);
    EXPECT_EQ(GKeys['A'], 1);
    EXPECT_EQ(GMouseLeft, 0);
    EXPECT_EQ(GMousePos.x, 0.0f);
    // The states read as they were when the console opened.
    EXPECT_EQ(GetKeyStatus('A'), KS_Held);
    Tick({ Ev(WE_KeyDown, 192) });
    EXPECT_FALSE(IsConsoleOpen());
    Tick({ Char('x') });
    EXPECT_STREQ(GTypedText.Str(), "x");
}

TEST_F(GameInputTest, CodesBeyondTheTableNeverIndexIt)
{
    u8 before[INPUT_KEY_COUNT];
    gMemCpy(before, GKeys, sizeof(before));
    {
        TExpectBreak expect("code >= INPUT_KEY_COUNT", 3);
        Tick({ Ev(WE_KeyDown, 256), Ev(WE_KeyDown, 0xFFFFFFFFu), Ev(WE_MouseDown, 4000, 5) });
        EXPECT_EQ(GetKeyStatus(300), KS_Up);
    }
    EXPECT_EQ(0, memcmp(before, GKeys, sizeof(before)));
}

TEST_F(GameInputTest, BindingStateMachine)
{
    SInputBinding& jump = Bind(' ');
    SInputBinding& left = Bind(INPUT_MOUSE_BUTTON_BASE + 0);
    SInputBinding& wheel = Bind(INPUT_AXIS_WHEEL);

    Tick({ Ev(WE_KeyDown, ' '), Ev(WE_MouseDown, 1, 0), Wheel(-1) });
    EXPECT_EQ(jump.State, KS_Pressed);
    EXPECT_EQ(jump.Value, 1.0f);
    EXPECT_EQ(left.State, KS_Pressed);
    EXPECT_EQ(wheel.Value, -1.0f);
    EXPECT_EQ(wheel.State, 1);

    Tick({});
    EXPECT_EQ(jump.State, KS_Held);
    EXPECT_EQ(jump.PrevDown, 1);
    EXPECT_EQ(left.State, KS_Held);
    EXPECT_EQ(wheel.State, KS_Up); // axes are not held: BeginBindings reads "down" only
    EXPECT_EQ(wheel.Value, 0.0f);

    Tick({ Ev(WE_KeyUp, ' ') });
    EXPECT_EQ(jump.State, KS_Released);
    EXPECT_EQ(jump.Value, 0.0f);
    Tick({});
    EXPECT_EQ(jump.State, KS_Up);

    // Axis threshold.
    OnAxis(INPUT_AXIS_MOUSE_X, 0.0005f); // unbound: nothing happens
    EXPECT_EQ(GInputBindings.FindValue(INPUT_AXIS_MOUSE_X), nullptr);
    SInputBinding& mx = Bind(INPUT_AXIS_MOUSE_X);
    OnAxis(INPUT_AXIS_MOUSE_X, 0.0005f);
    EXPECT_EQ(mx.State, 0);
    OnAxis(INPUT_AXIS_MOUSE_X, -0.002f);
    EXPECT_EQ(mx.State, 1);
    EXPECT_EQ(mx.Value, -0.002f);
    // Wheel counts pass their sign.
    OnMouse(0, 0, 5, 4);
    EXPECT_EQ(wheel.Value, 1.0f);
    EXPECT_EQ(GInputBindings.Count(), 4u);
}

TEST_F(GameInputTest, MouseCaptureHoldsTheCursorAtTheCentre)
{
    Tick({ Move(100, 50) });
    InputApplyMouseCapture();
    EXPECT_EQ(GMousePos.x, 100.0f); // off: nothing moves
    GMouseCapture = 1;
    InputApplyMouseCapture();
    EXPECT_EQ(GPrevMousePos.x, 100.0f);
    EXPECT_EQ(GMousePos.x, 512.0f);
    EXPECT_EQ(GMousePos.y, 288.0f);
}

// ---------------------------------------------------------------------------------------------
// Under Xvfb: events that SDL delivers reach the input state through the engine's pump.
#include "GLTestContext.h"

#include <SDL2/SDL.h>

TEST(XvfbGameInput, SdlEventsReachTheKeyState)
{
    ASSERT_TRUE(GLTest_Init());
    ASSERT_FALSE(GWindowSystem->IsOffscreen());
    InputReset();
    PumpWindowMessages();
    SWindowEvent drop;
    while (GWindow->PopEvent(drop))
    {
    }
    const Uint32 id = SDL_GetWindowID((SDL_Window*)GWindow->Handle);
    SDL_Event key = {};
    key.type = SDL_KEYDOWN;
    key.key.windowID = id;
    key.key.state = SDL_PRESSED;
    key.key.keysym.scancode = SDL_SCANCODE_LSHIFT;
    key.key.keysym.sym = SDLK_LSHIFT;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    SDL_Event text = {};
    text.type = SDL_TEXTINPUT;
    text.text.windowID = id;
    SDL_strlcpy(text.text.text, "Q", sizeof(text.text.text));
    ASSERT_EQ(SDL_PushEvent(&text), 1);

    InputKeepPrevious();
    ProcessEvents();
    EXPECT_EQ(GKeys[16], 1);
    EXPECT_EQ(GKeys[160], 1);
    EXPECT_EQ(GetKeyStatus(160), KS_Pressed);
    EXPECT_STREQ(GTypedText.Str(), "Q");

    key.type = SDL_KEYUP;
    key.key.state = SDL_RELEASED;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    InputKeepPrevious();
    ProcessEvents();
    EXPECT_EQ(GKeys[16], 0);
    EXPECT_EQ(GetKeyStatus(160), KS_Released);
    InputReset();
}
