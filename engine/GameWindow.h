// The engine's window with its OpenGL context, the queue of window events and video-mode changes.
// With a display the window is an SDL window on X11 (GLX, compatibility profile); without one the
// window system makes an off-screen EGL context on Mesa and the window is a pbuffer that queues
// no events of its own and whose swap does nothing.
#pragma once

#include "GameSys.h"
#include "GString.h"
#include "GTemplate.h"

// A video mode: six 32-bit words.
struct SVideoMode
{
    s32 Width;
    s32 Height;
    u32 Fullscreen;
    u32 RefreshRate;  // Hz; 0 keeps the display's rate
    u32 SwapInterval; // non-zero turns vertical sync on
    u32 Samples;      // 1, 2, 4 or 8; stored and reported only
};

enum EWindowEventType
{
    WE_Quit = 1,
    WE_KeyDown = 2,
    WE_KeyUp = 3,
    WE_MouseDown = 4,
    WE_MouseUp = 5,
    WE_MouseMove = 6,
    WE_Wheel = 7,
    WE_Char = 8,
    WE_FocusGained = 9,
    WE_FocusLost = 10,
};

// Key codes (the classic virtual-key codes) that the engine itself reacts to.
enum
{
    KEY_Backspace = 8,
    KEY_Enter = 13,
    KEY_PageUp = 33,
    KEY_PageDown = 34,
    KEY_End = 35,
    KEY_Home = 36,
    KEY_Delete = 46,
};

// One window event: seven 32-bit words. Fields a type does not use carry no meaning.
struct SWindowEvent
{
    u32 Type;
    u32 Key;    // key code; mouse buttons 1 left, 2 right, 3 middle; wheel 139 or 140
    u32 Button; // mouse button index: 0 left, 1 right, 2 middle
    s32 X;      // client pixels; negative left of or above the window while dragging
    s32 Y;
    s32 Wheel; // -1 away from the user, +1 towards
    u32 Char;  // the typed character's code point
};

typedef void (*TResizeCallback)(SVideoMode* mode);

struct SWindowBackend;

// Created first and destroyed last: the hidden dummy window with the first OpenGL context,
// whose objects every later context shares, and the extension loader.
class SWindowSystem
{
public:
    SWindowSystem(); // failures are fatal
    ~SWindowSystem();

    // True when there is no display and contexts are off-screen.
    bool IsOffscreen() const { return Offscreen; }
    // Makes the dummy context current (every new context shares its objects).
    bool MakeDummyCurrent();
    // Takes the display's pending events into the windows' queues.
    void Pump();
    // Waits at most the seconds for the display's next event (left for Pump) or input on fd (-1:
    // none), whichever comes first; true when one of them is there. Off-screen there are no
    // events: only fd ends the wait early.
    bool WaitEvents(double seconds, int fd = -1);

    bool Offscreen;
    // Off screen: why no display could be used, in words.
    TString DisplayFailure;
    SWindowBackend* Backend;
};

class SWindow
{
public:
    explicit SWindow(SWindowSystem* owner);
    ~SWindow();

    // With a callback the window is resizable and reports size changes through it.
    void SetResizeCallback(TResizeCallback callback);
    // Re-creates the window and its context for the mode (the context shares the dummy's objects).
    void SetMode(const TString& title, const SVideoMode& mode);
    void Destroy();
    // Removes the oldest event into out; 0 when the queue is empty.
    int PopEvent(SWindowEvent& out);
    // The oldest event, left queued; null when the queue is empty.
    const SWindowEvent* PeekEvent() const { return EventRead < Events.Count() ? &Events[EventRead] : nullptr; }
    // Appends an event at the end of the queue.
    void QueueEvent(const SWindowEvent& event);
    u32 QueuedEvents() const { return Events.Count() - EventRead; }
    void SwapBuffers();
    void SetTitle(const TString& title);
    void SetCursorPos(s32 x, s32 y);
    // Makes the window's context current again; false when there is none.
    bool MakeCurrent();
    bool Exists() const;

    // A new client size: stored and passed to the resize callback when it differs from the mode.
    void OnClientSize(s32 width, s32 height);

    SWindowSystem* Owner;
    SVideoMode Mode;
    TResizeCallback ResizeCallback;
    TPodArray<SWindowEvent> Events;
    u32 EventRead; // events before this index were already taken
    TString Title;
    void* Handle;  // SDL window (with a display) or EGL surface (off-screen)
    void* Context; // SDL GL context or EGL context
};

// ---------------------------------------------------------------------------------------------
// The engine's window and its video mode (the engine main creates them at start-up).
extern s32 GScreenWidth;
extern s32 GScreenHeight;
extern u32 GFullscreen;
extern u32 GRefreshRate;
extern u32 GSwapInterval;
extern u32 GSamples;
extern TString GWindowTitle;
extern SWindowSystem* GWindowSystem;
extern SWindow* GWindow;

// What the window layer reports to the layer above it, which installs the hooks (the engine
// main does, while the program loads). A hook left null is skipped.
struct SWindowHooks
{
    // After R_SetMode applied a mode and set the globals; contextChanged when the engine's
    // window got a new context.
    void (*ModeChanged)(const SVideoMode& mode, bool contextChanged);
    void (*FocusChanged)(bool gained);
    // The window was asked to close.
    void (*QuitRequested)();
};
void WIN_SetHooks(const SWindowHooks& hooks);
const SWindowHooks& WIN_GetHooks();

// Takes every pending message of the display and queues the engine events of each window.
void PumpWindowMessages();

// Changes the video mode of the engine's window, sets the globals above and reports the mode
// through the hooks. Returns 1.
int R_SetMode(s32 width, s32 height, u32 fullscreen, u32 refresh, u32 swapInterval, u32 samples);

// The anti-aliasing words of the mode line ("AA disabled", "2x AA", ...) for any sample count.
const char* R_AntiAliasText(u32 samples, char* buffer, size_t size);
