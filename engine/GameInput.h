// The polled input state: once per fixed tick the engine main takes the window's queued events into
// the key states, the mouse and the typed text, keeping the previous tick's state beside them.
// The bindings map input codes to named records with a four-state machine.
#pragma once

#include "GMath.h"
#include "GString.h"
#include "GTemplate.h"
#include "GameSys.h"

static const u32 INPUT_KEY_COUNT = 256;
// Key codes of the mouse buttons and the wheel.
enum
{
    KEY_MouseLeft = 1,
    KEY_MouseRight = 2,
    KEY_MouseMiddle = 3,
    KEY_WheelAway = 139,
    KEY_WheelTowards = 140,
    // The side-specific modifiers: left and right Shift, Control and Alt.
    KEY_LeftShift = 160,
    KEY_LeftControl = 162,
    KEY_RightAlt = 165,
};
// Binding codes beyond the keys.
static const u32 INPUT_MOUSE_BUTTON_BASE = 0x10000;
static const u32 INPUT_AXIS_MOUSE_X = 0x1000A;
static const u32 INPUT_AXIS_MOUSE_Y = 0x1000B;
static const u32 INPUT_AXIS_WHEEL = 0x1000C;

// GetKeyStatus results and binding states.
enum EKeyStatus
{
    KS_Up = 0,
    KS_Pressed = 1,
    KS_Held = 2,
    KS_Released = 3,
};

struct SInputBinding
{
    u8 State; // EKeyStatus
    u8 Down;
    u8 PrevDown;
    float Value;
};

extern u8 GKeys[INPUT_KEY_COUNT];
extern u8 GPrevKeys[INPUT_KEY_COUNT];
extern u8 GMouseLeft, GPrevMouseLeft;
extern u8 GMouseRight, GPrevMouseRight;
extern mVec2 GMousePos, GPrevMousePos;
extern float GMouseWheel, GPrevMouseWheel;
extern TString GTypedText; // UTF-8
extern u32 GMouseCapture;
extern TMap<u32, SInputBinding> GInputBindings;
// 1 while the ticks work through input that came faster than they take it (a burst made while
// the program was busy, a press and its release within one tick): the previous tick or this one
// left events queued. What only the outcome of all that input needs (processing the graph) waits
// for the first tick that is not behind, so that a burst of edits costs it once.
extern u32 GInputBehind;

// 0 up, 1 pressed this tick, 2 held, 3 released this tick. Codes of 256 and more read as up.
int GetKeyStatus(u32 code);
// Whether key went down in this tick while modifier (KEY_LeftShift to KEY_RightAlt) was down at
// that point in the order of the events: a chord counts as it was made, whatever the modifier did
// later in the tick or whether it went down in the same tick.
bool KeyPressedWith(u32 key, u32 modifier);
// Whether the last tick left events queued for the next one.
bool InputLeftQueued();

// Per tick, before the events: the current state becomes the previous one; the wheel codes, the
// wheel value and the typed text start empty.
void InputKeepPrevious();
// Takes the engine window's events into the input state, oldest first (may set GQuitFlag). A tick
// takes no second change of a key or button, no second wheel notch, no move after a press or a
// release and nothing after a release: those wait, in order, for the next tick, so that each press
// and release is seen where it happened.
void ProcessEvents();
// Holds the cursor at the client centre while GMouseCapture is set.
void InputApplyMouseCapture();
// Releases every held key and button (the window lost the focus, so their releases go elsewhere).
void InputReleaseAll();
// Every input state back to zero and no bindings.
void InputReset();

void BeginBindings();
void OnKey(u32 code, bool down);
void OnMouseButton(u32 index, bool down);
void OnAxis(u32 code, float value);
void OnMouse(float dx, float dy, int wheel, u32 mask);
