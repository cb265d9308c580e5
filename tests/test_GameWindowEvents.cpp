// The translation of SDL events into engine events, checked against the classic key codes.
#include "TestSupport.h"

#include "GameWindowEvents.h"

#include <SDL2/SDL.h>

#include <vector>

namespace
{
std::vector<SWindowEvent> Translate(const SDL_Event& e)
{
    SWindowEvent out[WIN_MAX_TRANSLATED];
    const u32 n = WIN_TranslateEvent(e, out, WIN_MAX_TRANSLATED);
    return std::vector<SWindowEvent>(out, out + n);
}

SDL_Event Key(bool down, SDL_Scancode scancode, SDL_Keycode sym)
{
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    e.key.keysym.sym = sym;
    return e;
}

SDL_Event Text(const char* utf8)
{
    SDL_Event e = {};
    e.type = SDL_TEXTINPUT;
    SDL_strlcpy(e.text.text, utf8, sizeof(e.text.text));
    return e;
}

std::vector<u32> Keys(const std::vector<SWindowEvent>& v)
{
    std::vector<u32> k;
    for (const SWindowEvent& e : v)
        k.push_back(e.Key);
    return k;
}
} // namespace

TEST(GameWindowEvents, ModifiersGiveGenericThenSideCode)
{
    struct
    {
        SDL_Scancode scancode;
        SDL_Keycode sym;
        u32 generic, side;
    } cases[] = {
        { SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, 16, 160 }, { SDL_SCANCODE_RSHIFT, SDLK_RSHIFT, 16, 161 },
        { SDL_SCANCODE_LCTRL, SDLK_LCTRL, 17, 162 },   { SDL_SCANCODE_RCTRL, SDLK_RCTRL, 17, 163 },
        { SDL_SCANCODE_LALT, SDLK_LALT, 18, 164 },     { SDL_SCANCODE_RALT, SDLK_RALT, 18, 165 },
    };
    for (const auto& c : cases)
    {
        for (bool down : { true, false })
        {
            std::vector<SWindowEvent> v = Translate(Key(down, c.scancode, c.sym));
            ASSERT_EQ(v.size(), 2u) << c.generic;
            EXPECT_EQ(v[0].Type, down ? (u32)WE_KeyDown : (u32)WE_KeyUp);
            EXPECT_EQ(v[1].Type, v[0].Type);
            EXPECT_EQ(Keys(v), (std::vector<u32>{ c.generic, c.side }));
        }
    }
}

TEST(GameWindowEvents, KeyTableGivesClassicCodes)
{
    struct
    {
        SDL_Scancode scancode;
        SDL_Keycode sym;
        u32 vk;
    } cases[] = {
        { SDL_SCANCODE_A, SDLK_a, 65 },          { SDL_SCANCODE_S, SDLK_s, 83 },
        { SDL_SCANCODE_Z, SDLK_z, 90 },          { SDL_SCANCODE_0, SDLK_0, 48 },
        { SDL_SCANCODE_9, SDLK_9, 57 },          { SDL_SCANCODE_SPACE, SDLK_SPACE, 32 },
        { SDL_SCANCODE_DELETE, SDLK_DELETE, 46 }, { SDL_SCANCODE_PAGEUP, SDLK_PAGEUP, 33 },
        { SDL_SCANCODE_PAGEDOWN, SDLK_PAGEDOWN, 34 }, { SDL_SCANCODE_HOME, SDLK_HOME, 36 },
        { SDL_SCANCODE_END, SDLK_END, 35 },      { SDL_SCANCODE_LEFT, SDLK_LEFT, 37 },
        { SDL_SCANCODE_DOWN, SDLK_DOWN, 40 },    { SDL_SCANCODE_F1, SDLK_F1, 112 },
        { SDL_SCANCODE_F12, SDLK_F12, 123 },     { SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, 192 },
        { SDL_SCANCODE_KP_5, SDLK_KP_5, 101 },   { SDL_SCANCODE_MINUS, SDLK_MINUS, 189 },
        // A layout that puts 'q' where US has 'a' reports the letter printed on the key.
        { SDL_SCANCODE_A, SDLK_q, 81 },
        // The digit row keeps its digits whatever the layout prints on it.
        { SDL_SCANCODE_1, SDLK_AMPERSAND, 49 },
    };
    for (const auto& c : cases)
    {
        std::vector<SWindowEvent> v = Translate(Key(false, c.scancode, c.sym));
        ASSERT_EQ(v.size(), 1u) << c.vk;
        EXPECT_EQ(v[0].Key, c.vk);
    }
}

TEST(GameWindowEvents, NoKeyCodeReaches256)
{
    for (int sc = 0; sc < SDL_NUM_SCANCODES; ++sc)
    {
        const u32 vk = WIN_VirtualKey(sc, SDL_SCANCODE_TO_KEYCODE(sc));
        EXPECT_LT(vk, 256u) << sc;
    }
    // Keys with no classic code are not reported at all.
    EXPECT_TRUE(Translate(Key(true, SDL_SCANCODE_AUDIONEXT, SDLK_AUDIONEXT)).empty());
}

TEST(GameWindowEvents, EditingKeysAlsoTypeTheirCharacter)
{
    struct
    {
        SDL_Scancode scancode;
        SDL_Keycode sym;
        u32 code;
    } cases[] = {
        { SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, 8 },
        { SDL_SCANCODE_TAB, SDLK_TAB, 9 },
        { SDL_SCANCODE_RETURN, SDLK_RETURN, 13 },
        { SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, 27 },
    };
    for (const auto& c : cases)
    {
        std::vector<SWindowEvent> down = Translate(Key(true, c.scancode, c.sym));
        ASSERT_EQ(down.size(), 2u);
        EXPECT_EQ(down[0].Type, (u32)WE_KeyDown);
        EXPECT_EQ(down[0].Key, c.code);
        EXPECT_EQ(down[1].Type, (u32)WE_Char);
        EXPECT_EQ(down[1].Char, c.code);
        // Releasing types nothing.
        std::vector<SWindowEvent> up = Translate(Key(false, c.scancode, c.sym));
        ASSERT_EQ(up.size(), 1u);
        EXPECT_EQ(up[0].Type, (u32)WE_KeyUp);
    }
}

TEST(GameWindowEvents, TextKeepsEveryCharacterAndDropsMalformedBytes)
{
    // "a", e acute (2 bytes), blank, euro sign (3 bytes), "b", an emoji (4 bytes), "~"
    std::vector<SWindowEvent> v = Translate(Text("a\xC3\xA9 \xE2\x82\xAC" "b\xF0\x9F\x98\x80~"));
    std::vector<u32> chars;
    for (const SWindowEvent& e : v)
    {
        EXPECT_EQ(e.Type, (u32)WE_Char);
        chars.push_back(e.Char);
    }
    EXPECT_EQ(chars, (std::vector<u32>{ 'a', 0xE9, ' ', 0x20AC, 'b', 0x1F600, '~' }));
    // A stray continuation byte and a cut sequence are dropped; the next character survives.
    v = Translate(Text("\xA9x\xC3y"));
    chars.clear();
    for (const SWindowEvent& e : v)
        chars.push_back(e.Char);
    EXPECT_EQ(chars, (std::vector<u32>{ 'x', 'y' }));
}

TEST(GameWindowEvents, MouseButtonsWheelAndMotion)
{
    struct
    {
        Uint8 sdl;
        u32 code, index;
    } buttons[] = { { SDL_BUTTON_LEFT, 1, 0 }, { SDL_BUTTON_RIGHT, 2, 1 }, { SDL_BUTTON_MIDDLE, 3, 2 } };
    for (const auto& b : buttons)
    {
        SDL_Event e = {};
        e.type = SDL_MOUSEBUTTONDOWN;
        e.button.button = b.sdl;
        std::vector<SWindowEvent> v = Translate(e);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].Type, (u32)WE_MouseDown);
        EXPECT_EQ(v[0].Key, b.code);
        EXPECT_EQ(v[0].Button, b.index);
        e.type = SDL_MOUSEBUTTONUP;
        v = Translate(e);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].Type, (u32)WE_MouseUp);
        EXPECT_EQ(v[0].Key, b.code);
    }
    SDL_Event x1 = {};
    x1.type = SDL_MOUSEBUTTONDOWN;
    x1.button.button = SDL_BUTTON_X1;
    EXPECT_TRUE(Translate(x1).empty());

    SDL_Event wheel = {};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = 1; // away from the user
    std::vector<SWindowEvent> v = Translate(wheel);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].Type, (u32)WE_Wheel);
    EXPECT_EQ(v[0].Key, 139u);
    EXPECT_EQ(v[0].Wheel, -1);
    wheel.wheel.y = -3;
    v = Translate(wheel);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].Key, 140u);
    EXPECT_EQ(v[0].Wheel, 1);
    // A "natural" scrolling device reports flipped values: the physical direction counts.
    wheel.wheel.y = -1;
    wheel.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    v = Translate(wheel);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].Key, 139u);
    wheel.wheel.y = 0; // sideways only
    wheel.wheel.x = 2;
    EXPECT_TRUE(Translate(wheel).empty());

    SDL_Event motion = {};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = -5; // dragging left of the window
    motion.motion.y = 70000;
    v = Translate(motion);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].Type, (u32)WE_MouseMove);
    EXPECT_EQ(v[0].X, -5);
    EXPECT_EQ(v[0].Y, 70000);
}

TEST(GameWindowEvents, WindowEvents)
{
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    const struct
    {
        Uint8 sdl;
        u32 type;
    } cases[] = { { SDL_WINDOWEVENT_CLOSE, WE_Quit },
                  { SDL_WINDOWEVENT_FOCUS_GAINED, WE_FocusGained },
                  { SDL_WINDOWEVENT_FOCUS_LOST, WE_FocusLost } };
    for (const auto& c : cases)
    {
        e.window.event = c.sdl;
        std::vector<SWindowEvent> v = Translate(e);
        ASSERT_EQ(v.size(), 1u);
        EXPECT_EQ(v[0].Type, c.type);
    }
    e.window.event = SDL_WINDOWEVENT_SIZE_CHANGED; // the window handles sizes itself
    EXPECT_TRUE(Translate(e).empty());
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    std::vector<SWindowEvent> v = Translate(quit);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].Type, (u32)WE_Quit);
}

TEST(GameWindowEvents, OutputNeverExceedsTheGivenRoom)
{
    SWindowEvent out[1];
    EXPECT_EQ(WIN_TranslateEvent(Key(true, SDL_SCANCODE_LSHIFT, SDLK_LSHIFT), out, 1), 1u);
    EXPECT_EQ(out[0].Key, 16u);
    EXPECT_EQ(WIN_TranslateEvent(Text("abc"), out, 0), 0u);
}
