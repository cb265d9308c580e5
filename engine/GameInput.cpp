#include "GameInput.h"

#include "GUtf8.h"
#include "GameConsole.h"
#include "GameShader.h"
#include "GameWindow.h"

u8 GKeys[INPUT_KEY_COUNT];
u8 GPrevKeys[INPUT_KEY_COUNT];
u8 GMouseLeft = 0, GPrevMouseLeft = 0;
u8 GMouseRight = 0, GPrevMouseRight = 0;
mVec2 GMousePos, GPrevMousePos;
float GMouseWheel = 0.0f, GPrevMouseWheel = 0.0f;
TString GTypedText;
u32 GMouseCapture = 0;
TMap<u32, SInputBinding> GInputBindings;
u32 GInputBehind = 0;

namespace
{
// The side-specific modifiers (a bit each, from KEY_LeftShift) down when each key went down in
// this tick.
u8 GPressModifiers[INPUT_KEY_COUNT];
// The last tick left events queued for the next one.
bool GInputLeft = false;
} // namespace

int GetKeyStatus(u32 code)
{
    if (BREAK_IF(code >= INPUT_KEY_COUNT))
        return KS_Up;
    const bool now = GKeys[code] != 0;
    const bool before = GPrevKeys[code] != 0;
    if (now)
        return before ? KS_Held : KS_Pressed;
    return before ? KS_Released : KS_Up;
}

void InputKeepPrevious()
{
    gMemCpy(GPrevKeys, GKeys, sizeof(GKeys));
    GPrevMouseLeft = GMouseLeft;
    GPrevMouseRight = GMouseRight;
    // A wheel step is a press for one tick only.
    GKeys[KEY_WheelAway] = 0;
    GKeys[KEY_WheelTowards] = 0;
    GTypedText = "";
    GPrevMouseWheel = GMouseWheel;
    GMouseWheel = 0.0f;
    GPrevMousePos = GMousePos;
    gMemSet(GPressModifiers, 0, sizeof(GPressModifiers));
}

void InputReleaseAll()
{
    for (u32 code = 0; code < INPUT_KEY_COUNT; ++code)
    {
        if (!GKeys[code])
            continue;
        GKeys[code] = 0;
        if (code >= KEY_MouseLeft && code <= KEY_MouseMiddle)
            OnMouseButton(code - KEY_MouseLeft, false);
        else
            OnKey(code, false);
    }
    GMouseLeft = 0;
    GMouseRight = 0;
}

void InputReset()
{
    gMemSet(GKeys, 0, sizeof(GKeys));
    gMemSet(GPrevKeys, 0, sizeof(GPrevKeys));
    GMouseLeft = GPrevMouseLeft = 0;
    GMouseRight = GPrevMouseRight = 0;
    GMousePos = mVec2();
    GPrevMousePos = mVec2();
    GMouseWheel = GPrevMouseWheel = 0.0f;
    GTypedText = "";
    GMouseCapture = 0;
    GInputBindings.Clear();
    gMemSet(GPressModifiers, 0, sizeof(GPressModifiers));
    GInputLeft = false;
    GInputBehind = 0;
}

bool KeyPressedWith(u32 key, u32 modifier)
{
    if (key >= INPUT_KEY_COUNT || modifier < KEY_LeftShift || modifier > KEY_RightAlt)
        return false;
    return GetKeyStatus(key) == KS_Pressed && (GPressModifiers[key] & (1u << (modifier - KEY_LeftShift))) != 0;
}

bool InputLeftQueued()
{
    return GInputLeft;
}

namespace
{
void SetKey(u32 code, u8 down)
{
    // Only the window layer's codes reach here; anything else would index past the table.
    if (BREAK_IF(code >= INPUT_KEY_COUNT))
        return;
    GKeys[code] = down;
}

u8 ModifiersDown()
{
    u8 bits = 0;
    for (u32 code = KEY_LeftShift; code <= KEY_RightAlt; ++code)
        if (GKeys[code])
            bits |= (u8)(1u << (code - KEY_LeftShift));
    return bits;
}

void HandleInputEvent(const SWindowEvent& e)
{
    switch (e.Type)
    {
    case WE_KeyDown:
    case WE_KeyUp:
    {
        const bool down = e.Type == WE_KeyDown;
        if (down && e.Key < INPUT_KEY_COUNT && !GKeys[e.Key])
            GPressModifiers[e.Key] = ModifiersDown();
        SetKey(e.Key, down ? 1 : 0);
        OnKey(e.Key, down);
        // The console sees every key: that is how its toggle key opens it.
        ConsoleKey((int)e.Key, down);
        break;
    }
    case WE_MouseDown:
    case WE_MouseUp:
    {
        const u8 down = e.Type == WE_MouseDown ? 1 : 0;
        SetKey(e.Key, down);
        OnMouseButton(e.Button, down != 0);
        if (e.Button == 0)
            GMouseLeft = down;
        else if (e.Button == 1)
            GMouseRight = down;
        break;
    }
    case WE_MouseMove:
    {
        GMousePos = mVec2((float)e.X, (float)e.Y);
        const float dx = GScreenWidth > 0 ? (GMousePos.x - GPrevMousePos.x) / (float)GScreenWidth : 0.0f;
        const float dy = GScreenHeight > 0 ? (GMousePos.y - GPrevMousePos.y) / (float)GScreenHeight : 0.0f;
        OnMouse(dx, dy, 0, 3);
        break;
    }
    case WE_Wheel:
        SetKey(e.Key, 1);
        GMouseWheel = e.Wheel < 1 ? -1.0f : 1.0f;
        OnMouse(0.0f, 0.0f, e.Wheel, 4);
        break;
    case WE_Char:
    {
        // Typed text is UTF-8; a value that is no character is dropped.
        char bytes[UTF_MAX_BYTES];
        const u32 n = e.Char != 0 ? UTF_Encode(e.Char, bytes) : 0;
        GTypedText.Append(bytes, n);
        break;
    }
    default: break;
    }
}

// What a tick has taken from the queue so far. A tick shows one state of each key and button, so
// a press and its release (made while the program was busy, or faster than a tick) are taken in
// ticks of their own, and whatever follows the release waits with it: the order holds.
struct STickTaken
{
    u8 Changed[INPUT_KEY_COUNT]; // codes pressed or released in this tick
    bool AnyChanged;
    bool Wheel;
    bool Last; // a button was released: what the click opens (a menu, a prompt) comes first
};

// Whether the tick takes e (noting what taking it changes), or leaves it for the next tick.
bool TakeInTick(STickTaken& t, const SWindowEvent& e)
{
    switch (e.Type)
    {
    case WE_KeyDown:
    case WE_KeyUp:
    case WE_MouseDown:
    case WE_MouseUp:
    {
        const u8 down = e.Type == WE_KeyDown || e.Type == WE_MouseDown ? 1 : 0;
        // A repeat changes nothing; codes beyond the table are refused by SetKey.
        if (e.Key >= INPUT_KEY_COUNT || GKeys[e.Key] == down)
            return true;
        if (t.Changed[e.Key])
            return false;
        t.Changed[e.Key] = 1;
        t.AnyChanged = true;
        t.Last = e.Type == WE_MouseUp;
        return true;
    }
    case WE_MouseMove:
        // A click, or a key that starts a drag, is seen where the pointer was when it came.
        return !t.AnyChanged;
    case WE_Wheel:
        // A tick holds one notch.
        if (t.Wheel)
            return false;
        t.Wheel = true;
        return true;
    default: return true;
    }
}

void HandleConsoleEvent(const SWindowEvent& e)
{
    switch (e.Type)
    {
    case WE_KeyDown:
    case WE_KeyUp: ConsoleKey((int)e.Key, e.Type == WE_KeyDown); break;
    case WE_Char: ConsoleChar((int)e.Char, true); break;
    default: break;
    }
}

// Takes this tick's events from the engine window's queue.
void TakeTickEvents()
{
    STickTaken taken;
    gMemSet(&taken, 0, sizeof(taken));
    SWindowEvent e;
    for (const SWindowEvent* next; !taken.Last && (next = GWindow->PeekEvent()) != nullptr;)
    {
        if (!IsConsoleOpen() && !TakeInTick(taken, *next))
            break;
        GWindow->PopEvent(e);
        switch (e.Type)
        {
        case WE_FocusGained:
            if (WIN_GetHooks().FocusChanged)
                WIN_GetHooks().FocusChanged(true);
            // Back from an editor: shader sources changed meanwhile are loaded again.
            ReloadChangedShadersGSM();
            break;
        case WE_FocusLost:
            if (WIN_GetHooks().FocusChanged)
                WIN_GetHooks().FocusChanged(false);
            // Releases happen where the focus went: without this a Control held across the switch
            // would stay down and turn the next 'S' into a save.
            InputReleaseAll();
            break;
        case WE_Quit:
            // Later events stay queued for the next tick.
            if (WIN_GetHooks().QuitRequested)
                WIN_GetHooks().QuitRequested();
            return;
        default:
            if (IsConsoleOpen())
                HandleConsoleEvent(e);
            else
                HandleInputEvent(e);
            break;
        }
    }
}
} // namespace

void ProcessEvents()
{
    BeginBindings();
    PumpWindowMessages();
    if (!GWindow)
        return;
    const bool leftBefore = GInputLeft;
    TakeTickEvents();
    GInputLeft = GWindow->PeekEvent() != nullptr;
    GInputBehind = leftBefore || GInputLeft ? 1 : 0;
}

void InputApplyMouseCapture()
{
    if (!GMouseCapture)
        return;
    if (GWindow)
        GWindow->SetCursorPos(GScreenWidth / 2, GScreenHeight / 2);
    GPrevMousePos = GMousePos;
    GMousePos = mVec2((float)GScreenWidth * 0.5f, (float)GScreenHeight * 0.5f);
}

// ---------------------------------------------------------------------------------------------
void BeginBindings()
{
    for (TMap<u32, SInputBinding>::Iterator it(GInputBindings); it.IsValid(); it.Next())
    {
        SInputBinding& b = it.Value();
        b.PrevDown = b.Down;
        b.Value = b.Down ? 1.0f : 0.0f;
        b.State = b.Down ? KS_Held : KS_Up;
    }
}

void OnKey(u32 code, bool down)
{
    SInputBinding* b = GInputBindings.FindValue(code);
    if (!b)
        return;
    b->Value = down ? 1.0f : 0.0f;
    b->Down = down ? 1 : 0;
    if (down)
        b->State = b->PrevDown ? KS_Held : KS_Pressed;
    else
        b->State = b->PrevDown ? KS_Released : KS_Up;
}

void OnMouseButton(u32 index, bool down)
{
    OnKey(INPUT_MOUSE_BUTTON_BASE + index, down);
}

void OnAxis(u32 code, float value)
{
    SInputBinding* b = GInputBindings.FindValue(code);
    if (!b)
        return;
    b->Value = value;
    b->State = gAbs(value) > 0.001f ? KS_Pressed : KS_Up;
}

void OnMouse(float dx, float dy, int wheel, u32 mask)
{
    if (mask & 1)
        OnAxis(INPUT_AXIS_MOUSE_X, dx);
    if (mask & 2)
        OnAxis(INPUT_AXIS_MOUSE_Y, dy);
    if (mask & 4)
        OnAxis(INPUT_AXIS_WHEEL, wheel > 0 ? 1.0f : (wheel < 0 ? -1.0f : 0.0f));
}
