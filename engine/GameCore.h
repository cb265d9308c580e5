// The engine main: start-up in a fixed order, the main loop with its fixed tick, and the exit
// sequence. The application implements IGame and hands GameRun its start-up and exit hooks.
#pragma once

#include "GameSys.h"
#include "GString.h"
#include "GameWindow.h"

// The application as the engine sees it. The order of the operations is fixed.
class IGame
{
public:
    virtual ~IGame() {}
    virtual void Init() = 0;
    virtual void Shutdown() = 0;
    virtual void OnSetMode(const SVideoMode& mode) = 0;
    virtual void OnFocus(bool gained) = 0;
    virtual void Update(float time, float step) = 0;
    virtual void Render(float alpha) = 0;
    // While the loop draws only on change (GRedrawOnChange): whether the picture changes without
    // an event (queued work, a drag).
    virtual bool IsPictureChanging() { return false; }
    // Between frames, while nothing is drawn: the work that must go on (a server's socket).
    // Returns the seconds until it must run again.
    virtual double IdleWork(double now);
    // A descriptor whose input ends the idle wait at once; -1 for none.
    virtual int IdleWakeHandle() { return -1; }
};

// Exit codes (the shell keeps the low 8 bits: 45438 shows as 126).
static const int GAME_EXIT_OK = 0;
static const int GAME_EXIT_STARTUP_REFUSED = 0xB17E;
// A memory limit leaves the program too little to run (the reason goes to standard error).
static const int GAME_EXIT_MEMORY_SHORT = 2;

// Longest wait of the idle loop: timers of the engine (texture streaming) run at least this often.
static const double IDLE_LONGEST_WAIT = 0.5;
// While texture levels are being loaded, the idle loop looks for finished ones this often.
static const double IDLE_TEXTURE_POLL = 0.02;

// ---------------------------------------------------------------------------------------------
// Engine-main state
extern IGame* GGame;
extern double GFixedStep;     // seconds per fixed tick
extern double GMaxFrameDelta; // upper clamp of one frame's measured time
extern double GMinFrameTime;  // frame-rate cap; 0 or less turns it off
extern u32 GQuitFlag; // set to leave the main loop at the end of the current frame
// 0 (the engine's default, set again before the start-up hook): every pass of the main loop draws
// a frame. 1: frames are drawn only while the picture changes (window events, redraw requests,
// IGame::IsPictureChanging, the statistics overlay); otherwise the loop keeps the last frame, does
// the game's idle work and waits. A window system without a display never draws then.
extern u32 GRedrawOnChange;
// 0 (the engine's default, set again before the start-up hook): without a display the program
// runs on an off-screen context. 1: the program is nothing without its window, and failing to
// make one on a display is a fatal error that says why.
extern u32 GWindowRequired;
// Frames drawn and swapped since the program started.
extern u64 GFramesDrawn;
extern int GExitCode; // what GameRun returns after a normal exit; the application may set it
// Asked when the window is asked to close; false keeps the program running. None: it closes.
typedef bool (*TQuitRequestHook)();
extern TQuitRequestHook GQuitRequestHook;
extern TResizeCallback GResizeCallback;
static const u32 GAME_DATA_FOLDER_SIZE = 32;
extern char GDataFolder[GAME_DATA_FOLDER_SIZE]; // name of the data folder beside the program
extern TString GBaseFolder;                     // data root (defined with the file functions)

// Sets the data folder name; names longer than the field are cut, never overflow it.
void SetDataFolder(const char* name);
// The data root for a program path: the path cut after its last separator ('/' or '\'),
// then the data folder, then "/".
void BuildBaseFolder(const char* programPath, const char* dataFolder, TString& out);

// Swaps the window's buffers (for screens drawn outside the loop).
void R_SwapBuffers();
// The OpenGL state the engine starts every context of the program with.
void R_SetGLDefaults();

// ---------------------------------------------------------------------------------------------
// The frame clock of the main loop, kept apart from the loop so that its arithmetic is testable.
struct SFrameClock
{
    double PrevTime;    // start of the previous frame
    double Accumulator; // time not yet run as ticks
    double FPSMark;
    s32 FrameCount;
    s32 FPS;
};

// One frame's plan: run Ticks ticks of the fixed step starting at simulation time TickTime,
// then render with Alpha (the fraction of a tick left over).
struct SFramePlan
{
    double Now;
    double Delta; // clamped
    double TickTime;
    s32 Ticks;
    float Alpha;
};

// The main loop's clock and the time its last swap took (read by the statistics overlay).
extern SFrameClock GFrameClock;
extern double GLastSwapTime;

// Previous-frame time and FPS mark := now; nothing accumulated or counted.
void FrameClockStart(SFrameClock& clock, double now);
// Measures and clamps the frame, counts the ticks that fit (strictly greater than one step),
// leaves the remainder in the accumulator. A non-positive delta is an assertion and goes on.
SFramePlan FrameClockBegin(SFrameClock& clock, double now, double fixedStep, double maxDelta);
// Counts the frame; once more than a second has passed since the mark, stores the FPS value and
// moves the mark on by whole seconds. Returns true when the FPS value was stored.
bool FrameClockCount(SFrameClock& clock, double now);
// Seconds the frame-rate cap sleeps after a frame that took `elapsed`; 0 for none.
double FrameCapSleep(double elapsed, double minFrameTime);
// Back from waiting: the wait is not simulated time, and the frame that follows runs exactly one
// tick at once (the input that ended the wait is handled within that frame).
void FrameClockResume(SFrameClock& clock, double now, double fixedStep);

// Whether the next pass of the main loop draws a frame.
bool GameWantsFrame();
// One pass of the main loop: a frame when one is wanted; else the idle work and a wait for the
// next window event, the game's wake descriptor or the next timer.
void GameLoopPass();

// ---------------------------------------------------------------------------------------------
// Application hooks: the start-up hook returns non-zero to go on; the shutdown hook is called last.
typedef int (*TAppStartupHook)();
typedef void (*TAppShutdownHook)();

// The engine main with the hooks given; returns the exit code.
int GameRun(int argc, char** argv, TAppStartupHook startup, TAppShutdownHook shutdown);
