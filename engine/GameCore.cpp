#include "GameCore.h"

#include "GameArgs.h"
#include "GameConsole.h"
#include "GameFont.h"
#include "GameInput.h"
#include "GameMaterial.h"
#include "GameMemoryRoom.h"
#include "GamePhysics.h"
#include "GameRedraw.h"
#include "GameScript.h"
#include "GameRT.h"
#include "GameShader.h"
#include "GameSignals.h"
#include "GameTexture.h"

#include <GL/glew.h>

IGame* GGame = nullptr;
double GFixedStep = 1.0 / 30.0;
double GMaxFrameDelta = 0.05;
double GMinFrameTime = 0.015;
u32 GQuitFlag = 0;
u32 GRedrawOnChange = 0;
u32 GWindowRequired = 0;
u64 GFramesDrawn = 0;
int GExitCode = GAME_EXIT_OK;
TQuitRequestHook GQuitRequestHook = nullptr;
TResizeCallback GResizeCallback = nullptr;
char GDataFolder[GAME_DATA_FOLDER_SIZE];
SFrameClock GFrameClock;
double GLastSwapTime = 0.0;

// ---------------------------------------------------------------------------------------------
// What a mode change, the focus and a close request mean to the engine main.
namespace
{
void OnModeChanged(const SVideoMode& mode, bool contextChanged)
{
    // A new context starts with nothing bound and scissoring off.
    if (contextChanged)
    {
        TEX_ResetBindCache();
        R_ResetScissorCache();
    }
    if (GGame)
        GGame->OnSetMode(mode);
    ConsoleResize(mode.Width, mode.Height / 3);
    char aa[32];
    ConsolePrintf("[R_SetMode] Resolution changed to %dx%d, %s, %s", mode.Width, mode.Height,
                  mode.Fullscreen ? "fullscreen" : "windowed", R_AntiAliasText(mode.Samples, aa, sizeof(aa)));
}

void OnFocusChanged(bool gained)
{
    if (GGame)
        GGame->OnFocus(gained);
}

void OnQuitRequested()
{
    if (!GQuitRequestHook || GQuitRequestHook())
        GQuitFlag = 1;
}

// Installed while the program loads, so that the window and input layers report the same way
// whether GameRun drives them or a test does.
[[maybe_unused]] const bool GWindowHooksInstalled =
    (WIN_SetHooks(SWindowHooks{OnModeChanged, OnFocusChanged, OnQuitRequested}), true);
} // namespace

void SetDataFolder(const char* name)
{
    gStrNCpy(GDataFolder, sizeof(GDataFolder), name ? name : "");
}

void BuildBaseFolder(const char* programPath, const char* dataFolder, TString& out)
{
    const char* path = programPath ? programPath : "";
    u32 cut = 0;
    for (u32 i = 0; path[i]; ++i)
        if (path[i] == '/' || path[i] == '\\')
            cut = i + 1;
    out.Assign(path, cut);
    out += dataFolder ? dataFolder : "";
    out += "/";
}

void R_SwapBuffers()
{
    if (GWindow)
        GWindow->SwapBuffers();
}

void R_SetGLDefaults()
{
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glFrontFace(GL_CW);
    glEnable(GL_CULL_FACE);
    glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    glClearDepth(1.0);
    // Values outside 0..1 pass through unchanged (floating-point targets rely on it).
    glClampColor(GL_CLAMP_VERTEX_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);
}

// ---------------------------------------------------------------------------------------------
void FrameClockStart(SFrameClock& clock, double now)
{
    clock.PrevTime = now;
    clock.Accumulator = 0.0;
    clock.FPSMark = now;
    clock.FrameCount = 0;
    clock.FPS = 0;
}

SFramePlan FrameClockBegin(SFrameClock& clock, double now, double fixedStep, double maxDelta)
{
    SFramePlan plan;
    plan.Now = now;
    double Delta = now - clock.PrevTime;
    plan.TickTime = clock.PrevTime;
    clock.PrevTime = now;
    // A long frame counts as the clamp: the simulation slows down instead of catching up.
    if (Delta > maxDelta)
        Delta = maxDelta;
    BREAK_IF(Delta <= 0);
    plan.Delta = Delta;
    clock.Accumulator += Delta;
    plan.Ticks = 0;
    if (!BREAK_IF(!(fixedStep > 0)))
    {
        while (clock.Accumulator > fixedStep)
        {
            clock.Accumulator -= fixedStep;
            ++plan.Ticks;
        }
        plan.Alpha = (float)(clock.Accumulator / fixedStep);
    }
    else
        plan.Alpha = 0.0f;
    return plan;
}

bool FrameClockCount(SFrameClock& clock, double now)
{
    ++clock.FrameCount;
    if (!(now - clock.FPSMark > 1.0))
        return false;
    clock.FPS = clock.FrameCount;
    clock.FrameCount = 0;
    do
        clock.FPSMark += 1.0;
    while (now - clock.FPSMark > 1.0);
    return true;
}

double FrameCapSleep(double elapsed, double minFrameTime)
{
    if (minFrameTime > 0.0 && elapsed < minFrameTime)
        return minFrameTime - elapsed;
    return 0.0;
}

void FrameClockResume(SFrameClock& clock, double now, double fixedStep)
{
    // One whole tick behind and half a tick in hand: the next frame, however soon, runs one tick
    // and leaves half a tick over.
    clock.PrevTime = now - fixedStep;
    clock.Accumulator = fixedStep * 0.5;
}

double IGame::IdleWork(double)
{
    return IDLE_LONGEST_WAIT;
}

// ---------------------------------------------------------------------------------------------
namespace
{
s32 GOverlayFrame = 0;
// When UpdateTextures last ran: streaming goes on by the wall clock while no frame is drawn.
double GTexturesUpdated = 0.0;
// The previous pass drew no frame.
bool GLoopIdle = false;

// Screen-space matrices and the "GUI" program for the overlays, then the statistics text.
void DrawOverlay(const SFramePlan& plan)
{
    GProjectionMatrix = M_OrthoMatrix(0.0f, (float)GScreenWidth, 0.0f, (float)GScreenHeight, -1.0f, 1.0f);
    GViewMatrix = mMat4();
    SShader* gui = GetShader("GUI");
    UseShader(CONSOLE_BLEND, gui);
    R_UploadViewMatrix(gui);
    R_UploadProjectionMatrix(gui);
    ++GOverlayFrame;
    if (gRound(r_drawStats.Value) != 0.0f)
        DrawStatsOverlay(GDebugFont, GOverlayFrame, GFrameClock.FPS, plan.Now, plan.Delta, GLastSwapTime, plan.Alpha,
                         GScreenWidth, GScreenHeight);
}

void RunTick(double time)
{
    // While the console is open the input state stays as it was when it opened.
    if (!IsConsoleOpen())
        InputKeepPrevious();
    ProcessEvents();
    InputApplyMouseCapture();
    GGame->Update((float)time, (float)GFixedStep);
    R_RedrawTickDone();
}

// One pass of the main loop.
void RunFrame()
{
    const SFramePlan plan = FrameClockBegin(GFrameClock, gSysGetTime(), GFixedStep, GMaxFrameDelta);
    double time = plan.TickTime;
    // Nothing runs after an exit was asked for, however long the ticks it would cost.
    for (s32 i = 0; i < plan.Ticks && !GQuitFlag; ++i, time += GFixedStep)
        RunTick(time);
    // Input that piled up while a tick was busy is worked through at once, a tick per change as
    // ever, rather than at the pace of the clock; each such tick takes at least one event.
    for (u32 left = GWindow ? GWindow->QueuedEvents() : 0; left > 0 && InputLeftQueued() && !GQuitFlag; --left)
    {
        RunTick(time);
        time += GFixedStep;
    }

    // Texture levels: request further ones, upload those the loader finished.
    UpdateTextures((float)plan.Delta);
    GTexturesUpdated = plan.Now;
    GGame->Render(plan.Alpha);
    FrameClockCount(GFrameClock, plan.Now);
    DrawOverlay(plan);
    DrawConsole();

    const double swapStart = gSysGetTime();
    R_SwapBuffers();
    GLastSwapTime = gSysGetTime() - swapStart;
    ++GFramesDrawn;

    // The frame-rate cap sleeps rather than spins.
    const double rest = FrameCapSleep(gSysGetTime() - plan.Now, GMinFrameTime);
    if (rest > 0.0)
        gSysSleep(rest);
}

bool WindowShown()
{
    return GWindow && GWindow->Exists() && GWindowSystem && !GWindowSystem->IsOffscreen();
}

// Waits for the window's next event, input on fd or the end of the seconds, whichever is first.
void IdleWait(double seconds, int fd)
{
    if (WindowShown())
        GWindowSystem->WaitEvents(seconds, fd);
    else
        gSysWaitReadable(fd, seconds);
}

// A pass without a frame: texture streaming, the game's idle work, then the wait.
void IdlePass()
{
    const double now = gSysGetTime();
    UpdateTextures((float)(now - GTexturesUpdated));
    GTexturesUpdated = now;
    double wait = GGame->IdleWork(now);
    if (GQuitFlag || GameWantsFrame())
        return;
    if (TEX_LoadsInFlight() && wait > IDLE_TEXTURE_POLL)
        wait = IDLE_TEXTURE_POLL;
    if (!(wait <= IDLE_LONGEST_WAIT))
        wait = IDLE_LONGEST_WAIT;
    IdleWait(wait, GGame->IdleWakeHandle());
    PumpWindowMessages();
}
} // namespace

bool GameWantsFrame()
{
    if (!GRedrawOnChange)
        return true;
    // Nobody would see it.
    if (!WindowShown())
        return false;
    if (gRound(r_drawStats.Value) != 0.0f)
        return true;
    if (GWindow->QueuedEvents() > 0 || (GGame && GGame->IsPictureChanging()))
        R_RequestRedraw();
    return R_RedrawTicksLeft() > 0;
}

void GameLoopPass()
{
    if (!GameWantsFrame())
    {
        GLoopIdle = true;
        IdlePass();
        return;
    }
    if (GLoopIdle)
    {
        GLoopIdle = false;
        FrameClockResume(GFrameClock, gSysGetTime(), GFixedStep);
    }
    RunFrame();
}

int GameRun(int argc, char** argv, TAppStartupHook startup, TAppShutdownHook shutdown)
{
    // ---- Start-up, in this order ----
    // Before anything is written: no write ends the process.
    SysSignalsStartup();
    GExitCode = GAME_EXIT_OK;
    GRedrawOnChange = 0;
    GWindowRequired = 0;
    gSysReturnLargeBlocks();
    // Data folder name cleared; the start-up hook sets it.
    gMemSet(GDataFolder, 0, sizeof(GDataFolder));
    // Command line; argument 0 is the program's real path.
    gSysParseCommandLine(argc, argv);
    const TString programPath = gSysArgCount() > 0 ? TString(gSysExePath()) : gSysProgramPath();
    // Under a memory limit the GL driver must fit it before it starts: a driver that runs out of
    // memory later ends the process. A limit that leaves it too little ends the run here, saying so.
    MEM_FitDriverToLimit();
    const TString shortfall = MEM_StartShortfall();
    if (!shortfall.IsEmpty())
    {
        fprintf(stderr, "Start-up: %s\n", shortfall.Str());
        return GAME_EXIT_MEMORY_SHORT;
    }
    // Window system: dummy context and extension loader.
    GWindowSystem = new SWindowSystem();
    // Console.
    ConsoleInit();
    // Application start-up hook; a refusal ends the program before anything else starts.
    if (!startup())
    {
        delete GWindowSystem;
        GWindowSystem = nullptr;
        return GAME_EXIT_STARTUP_REFUSED;
    }
    FATAL_CHECK(GGame != nullptr);
    // Data root.
    BuildBaseFolder(programPath.Str(), GDataFolder, GBaseFolder);
    // Window and video mode.
    if (GWindowRequired && GWindowSystem->IsOffscreen())
        FatalError("Failed to create a window: %s\n", GWindowSystem->DisplayFailure.Str());
    GWindow = new SWindow(GWindowSystem);
    GWindow->SetResizeCallback(GResizeCallback);
    if (!R_SetMode(GScreenWidth, GScreenHeight, GFullscreen, GRefreshRate, GSwapInterval, GSamples))
        FatalError("Video mode error\n");
    // Texture loader thread.
    GTexManager.StartLoader();
    // Shader storage.
    CreateShaderStorage();
    // Physics world, then the script engine (its failure is fatal there).
    PhysicsInit();
    ScriptInit();
    // OpenGL defaults.
    R_SetGLDefaults();
    // Debug font; without it the overlays draw no text.
    GDebugFont = new SFont;
    if (!GDebugFont->Load("Data/Engine/DebugFont.fnt"))
        ConsolePrintf("Failed loading the debug font \"Data/Engine/DebugFont.fnt\"");
    ConsoleSetFont(GDebugFont);
    // Clock, then the application's own initialisation.
    FrameClockStart(GFrameClock, gSysGetTime());
    GTexturesUpdated = GFrameClock.PrevTime;
    GLoopIdle = false;
    R_RequestRedraw();
    GGame->Init();
    GLastSwapTime = 0.0;

    // ---- Main loop (a batch run sets the quit flag inside Init and never enters it) ----
    while (!GQuitFlag)
        GameLoopPass();

    // ---- Exit, in this order ----
    GGame->Shutdown();
    // Debug font (the console lets go of it first).
    ConsoleSetFont(nullptr);
    delete GDebugFont;
    GDebugFont = nullptr;
    // Script engine, then the physics world.
    ScriptShutdown();
    PhysicsShutdown();
    // Shader storage.
    FreeShaderStorage();
    // Texture manager: stops and waits for the loader thread.
    GTexManager.Shutdown();
    // Window: display mode restored, context released.
    GWindow->Destroy();
    delete GWindow;
    GWindow = nullptr;
    // Window system.
    delete GWindowSystem;
    GWindowSystem = nullptr;
    // Application exit hook (deletes the application object).
    shutdown();
    return GExitCode;
}
