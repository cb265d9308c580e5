#include "GameWindowEvents.h"

#include <SDL2/SDL.h>

#include "GUtf8.h"

namespace
{
struct SKeyEntry
{
    u16 Scancode;
    u8 VirtualKey;
};

// Keys that are not letters. The punctuation codes are those of the US layout's positions.
const SKeyEntry kKeyTable[] = {
    { SDL_SCANCODE_BACKSPACE, 8 },     { SDL_SCANCODE_TAB, 9 },           { SDL_SCANCODE_CLEAR, 12 },
    { SDL_SCANCODE_RETURN, 13 },       { SDL_SCANCODE_KP_ENTER, 13 },     { SDL_SCANCODE_LSHIFT, 16 },
    { SDL_SCANCODE_RSHIFT, 16 },       { SDL_SCANCODE_LCTRL, 17 },        { SDL_SCANCODE_RCTRL, 17 },
    { SDL_SCANCODE_LALT, 18 },         { SDL_SCANCODE_RALT, 18 },         { SDL_SCANCODE_PAUSE, 19 },
    { SDL_SCANCODE_CAPSLOCK, 20 },     { SDL_SCANCODE_ESCAPE, 27 },       { SDL_SCANCODE_SPACE, 32 },
    { SDL_SCANCODE_PAGEUP, 33 },       { SDL_SCANCODE_PAGEDOWN, 34 },     { SDL_SCANCODE_END, 35 },
    { SDL_SCANCODE_HOME, 36 },         { SDL_SCANCODE_LEFT, 37 },         { SDL_SCANCODE_UP, 38 },
    { SDL_SCANCODE_RIGHT, 39 },        { SDL_SCANCODE_DOWN, 40 },         { SDL_SCANCODE_PRINTSCREEN, 44 },
    { SDL_SCANCODE_INSERT, 45 },       { SDL_SCANCODE_DELETE, 46 },       { SDL_SCANCODE_0, 48 },
    { SDL_SCANCODE_1, 49 },            { SDL_SCANCODE_2, 50 },            { SDL_SCANCODE_3, 51 },
    { SDL_SCANCODE_4, 52 },            { SDL_SCANCODE_5, 53 },            { SDL_SCANCODE_6, 54 },
    { SDL_SCANCODE_7, 55 },            { SDL_SCANCODE_8, 56 },            { SDL_SCANCODE_9, 57 },
    { SDL_SCANCODE_LGUI, 91 },         { SDL_SCANCODE_RGUI, 92 },         { SDL_SCANCODE_APPLICATION, 93 },
    { SDL_SCANCODE_KP_0, 96 },         { SDL_SCANCODE_KP_1, 97 },         { SDL_SCANCODE_KP_2, 98 },
    { SDL_SCANCODE_KP_3, 99 },         { SDL_SCANCODE_KP_4, 100 },        { SDL_SCANCODE_KP_5, 101 },
    { SDL_SCANCODE_KP_6, 102 },        { SDL_SCANCODE_KP_7, 103 },        { SDL_SCANCODE_KP_8, 104 },
    { SDL_SCANCODE_KP_9, 105 },        { SDL_SCANCODE_KP_MULTIPLY, 106 }, { SDL_SCANCODE_KP_PLUS, 107 },
    { SDL_SCANCODE_KP_MINUS, 109 },    { SDL_SCANCODE_KP_PERIOD, 110 },   { SDL_SCANCODE_KP_DIVIDE, 111 },
    { SDL_SCANCODE_F1, 112 },          { SDL_SCANCODE_F2, 113 },          { SDL_SCANCODE_F3, 114 },
    { SDL_SCANCODE_F4, 115 },          { SDL_SCANCODE_F5, 116 },          { SDL_SCANCODE_F6, 117 },
    { SDL_SCANCODE_F7, 118 },          { SDL_SCANCODE_F8, 119 },          { SDL_SCANCODE_F9, 120 },
    { SDL_SCANCODE_F10, 121 },         { SDL_SCANCODE_F11, 122 },         { SDL_SCANCODE_F12, 123 },
    { SDL_SCANCODE_F13, 124 },         { SDL_SCANCODE_F14, 125 },         { SDL_SCANCODE_F15, 126 },
    { SDL_SCANCODE_F16, 127 },         { SDL_SCANCODE_F17, 128 },         { SDL_SCANCODE_F18, 129 },
    { SDL_SCANCODE_F19, 130 },         { SDL_SCANCODE_F20, 131 },         { SDL_SCANCODE_F21, 132 },
    { SDL_SCANCODE_F22, 133 },         { SDL_SCANCODE_F23, 134 },         { SDL_SCANCODE_F24, 135 },
    { SDL_SCANCODE_NUMLOCKCLEAR, 144 }, { SDL_SCANCODE_SCROLLLOCK, 145 }, { SDL_SCANCODE_SEMICOLON, 186 },
    { SDL_SCANCODE_EQUALS, 187 },      { SDL_SCANCODE_COMMA, 188 },       { SDL_SCANCODE_MINUS, 189 },
    { SDL_SCANCODE_PERIOD, 190 },      { SDL_SCANCODE_SLASH, 191 },       { SDL_SCANCODE_GRAVE, 192 },
    { SDL_SCANCODE_LEFTBRACKET, 219 }, { SDL_SCANCODE_BACKSLASH, 220 },   { SDL_SCANCODE_RIGHTBRACKET, 221 },
    { SDL_SCANCODE_APOSTROPHE, 222 },  { SDL_SCANCODE_NONUSBACKSLASH, 226 },
};

// The side-specific code sent after the generic Shift, Control and Alt codes.
u32 SideKey(int scancode)
{
    switch (scancode)
    {
    case SDL_SCANCODE_LSHIFT: return 160;
    case SDL_SCANCODE_RSHIFT: return 161;
    case SDL_SCANCODE_LCTRL: return 162;
    case SDL_SCANCODE_RCTRL: return 163;
    case SDL_SCANCODE_LALT: return 164;
    case SDL_SCANCODE_RALT: return 165;
    default: return 0;
    }
}

// Keys that typed a control character of their own on the original platform.
u32 KeyCharacter(u32 virtualKey)
{
    switch (virtualKey)
    {
    case 8:
    case 9:
    case 13:
    case 27: return virtualKey;
    default: return 0;
    }
}

SWindowEvent MakeEvent(u32 type)
{
    SWindowEvent e;
    gMemSet(&e, 0, sizeof(e));
    e.Type = type;
    return e;
}

struct SEventWriter
{
    SWindowEvent* Out;
    u32 Max;
    u32 Count;
    void Put(const SWindowEvent& e)
    {
        if (Count < Max)
            Out[Count++] = e;
    }
};

void TranslateKey(const SDL_KeyboardEvent& key, bool down, SEventWriter& w)
{
    const u32 vk = WIN_VirtualKey(key.keysym.scancode, key.keysym.sym);
    if (vk == 0)
        return;
    const u32 type = down ? WE_KeyDown : WE_KeyUp;
    SWindowEvent e = MakeEvent(type);
    e.Key = vk;
    w.Put(e);
    const u32 side = SideKey(key.keysym.scancode);
    if (side)
    {
        e.Key = side;
        w.Put(e);
    }
    const u32 ch = down ? KeyCharacter(vk) : 0;
    if (ch)
    {
        SWindowEvent c = MakeEvent(WE_Char);
        c.Char = ch;
        w.Put(c);
    }
}

void TranslateButton(const SDL_MouseButtonEvent& button, bool down, SEventWriter& w)
{
    u32 code = 0, index = 0;
    switch (button.button)
    {
    case SDL_BUTTON_LEFT: code = 1; index = 0; break;
    case SDL_BUTTON_RIGHT: code = 2; index = 1; break;
    case SDL_BUTTON_MIDDLE: code = 3; index = 2; break;
    default: return; // extra buttons were never reported
    }
    SWindowEvent e = MakeEvent(down ? WE_MouseDown : WE_MouseUp);
    e.Key = code;
    e.Button = index;
    w.Put(e);
}

void TranslateWheel(const SDL_MouseWheelEvent& wheel, SEventWriter& w)
{
    s32 y = wheel.y;
    if (wheel.direction == SDL_MOUSEWHEEL_FLIPPED)
        y = -y;
    if (y == 0)
        return; // sideways scrolling only
    SWindowEvent e = MakeEvent(WE_Wheel);
    // Away from the user reads as -1 with the code of its own.
    e.Key = y > 0 ? 139 : 140;
    e.Wheel = y > 0 ? -1 : 1;
    w.Put(e);
}

void TranslateText(const char* text, SEventWriter& w)
{
    const u32 length = (u32)gStrLen(text);
    for (u32 at = 0, cp; at < length;)
    {
        const u32 step = UTF_Decode(text, length, at, cp);
        at += step;
        // A byte that starts no character is dropped; the next character survives.
        if (cp == UTF_REPLACEMENT && step == 1)
            continue;
        SWindowEvent e = MakeEvent(WE_Char);
        e.Char = cp;
        w.Put(e);
    }
}
} // namespace

u32 WIN_VirtualKey(int scancode, int keycode)
{
    if (keycode >= 'a' && keycode <= 'z')
        return 'A' + (keycode - 'a');
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
        return 'A' + (scancode - SDL_SCANCODE_A);
    for (const SKeyEntry& k : kKeyTable)
        if (k.Scancode == scancode)
            return k.VirtualKey;
    return 0;
}

u32 WIN_TranslateEvent(const SDL_Event& event, SWindowEvent* out, u32 maxOut)
{
    SEventWriter w = { out, maxOut, 0 };
    switch (event.type)
    {
    case SDL_QUIT: w.Put(MakeEvent(WE_Quit)); break;
    case SDL_WINDOWEVENT:
        switch (event.window.event)
        {
        case SDL_WINDOWEVENT_CLOSE: w.Put(MakeEvent(WE_Quit)); break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: w.Put(MakeEvent(WE_FocusGained)); break;
        case SDL_WINDOWEVENT_FOCUS_LOST: w.Put(MakeEvent(WE_FocusLost)); break;
        default: break;
        }
        break;
    case SDL_KEYDOWN: TranslateKey(event.key, true, w); break;
    case SDL_KEYUP: TranslateKey(event.key, false, w); break;
    case SDL_TEXTINPUT: TranslateText(event.text.text, w); break;
    case SDL_MOUSEMOTION:
    {
        SWindowEvent e = MakeEvent(WE_MouseMove);
        e.X = event.motion.x;
        e.Y = event.motion.y;
        w.Put(e);
        break;
    }
    case SDL_MOUSEBUTTONDOWN: TranslateButton(event.button, true, w); break;
    case SDL_MOUSEBUTTONUP: TranslateButton(event.button, false, w); break;
    case SDL_MOUSEWHEEL: TranslateWheel(event.wheel, w); break;
    default: break;
    }
    return w.Count;
}
