// The editor in its window under Xvfb, driven by the engine's own main-loop passes: it draws while
// its picture changes and keeps the last frame otherwise, its picture after a sequence of events
// is the one continuous drawing shows, and a job sent to it while it waits is answered at once.
#include "GLTestContext.h"
#include "JobClient.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <GL/glew.h>
#include <SDL2/SDL.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "GameConsole.h"
#include "GameInput.h"
#include "GameRedraw.h"
#include "GameTexture.h"
#include "Plumweave.h"
#include "TexGUI.h"
#include "TexJobServer.h"
#include "TexMainWin.h"
#include "TexProcessor.h"
#include "TestNodes.h"
#include "nodes/TexOps_BasicImage.h"

// Xlib's macros (Status, None) would clash with the names of the headers above.
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{
const double FIXED_TICK = 1.0 / 60.0;
const double FRAME_CAP = 1.0 / 120.0;
const double ENGINE_FIXED_TICK = 1.0 / 30.0; // the engine's defaults, put back afterwards
const double ENGINE_FRAME_CAP = 0.015;
const double CHANGE_WINDOW = 0.25;  // seconds in which a change must have drawn a frame
const double QUIET_WINDOW = 0.3;    // seconds in which a settled editor must draw none
const double SETTLE_LIMIT = 10.0;   // seconds any change may take to settle (fades, a loaded machine)
const double STEP_TIME = 0.1;       // seconds the loop runs after each scripted event
const double FINAL_TIME = 1.5;      // seconds after the script: every fade has ended
const int JOBS = 5;
const double JOB_PROMPT_SECONDS = 0.1; // median time from the path's last byte to the reply
const double JOB_GIVE_UP = 10.0;
// Times the program's threads may wake in a quiet window: the loop's longest wait, and a few spare.
const long QUIET_WAKEUPS = (long)(QUIET_WINDOW / IDLE_LONGEST_WAIT) + 4;
const char* const EMPTY_DOCUMENT = "GKV_File_Version_2\n";
const char* const NODE_DOCUMENT = "GKV_File_Version_2\n"
                                  "NODE STexNode_ColorRGBA _ID=\"0\" pos0=\"300;200\" NName=\"colour\"\n";
// A transform feeding a node whose processing is logged; its "Flip X" toggle is the left half of
// its seventh panel row, below the caption.
const char* const TOGGLE_DOCUMENT = "GKV_File_Version_2\nNODE STexNode_Transform _ID=\"0\" pos0=\"300;200\"\n"
                                    "NODE STestNode_Pins _ID=\"1\" pos0=\"600;200\" Ins=\"1\"\nLINK 0 0 1 0\n";
const float PANEL_MARGIN = 10.0f, FLIP_Y = 12.0f + 12.0f * 6.5f;

void WriteText(const std::string& path, const char* text)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fputs(text, f);
    fclose(f);
}

SDL_Window* TestWindow()
{
    return (SDL_Window*)GWindow->Handle;
}

void PushWindowEvent(Uint8 which, Sint32 data1 = 0, Sint32 data2 = 0)
{
    SDL_Event e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SDL_GetWindowID(TestWindow());
    e.window.event = which;
    e.window.data1 = data1;
    e.window.data2 = data2;
    SDL_PushEvent(&e);
}

void PushMotion(int x, int y)
{
    SDL_Event e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(TestWindow());
    e.motion.x = x;
    e.motion.y = y;
    SDL_PushEvent(&e);
}

void PushButton(bool down, int x, int y)
{
    SDL_Event e = {};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = SDL_GetWindowID(TestWindow());
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
}

void PushKey(SDL_Scancode key, bool down)
{
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = SDL_GetWindowID(TestWindow());
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = key;
    SDL_PushEvent(&e);
}

SWindowEvent MouseEvent(u32 type, int x, int y)
{
    SWindowEvent e = {};
    e.Type = type;
    e.Key = KEY_MouseLeft;
    e.Button = 0;
    e.X = x;
    e.Y = y;
    return e;
}

// The window's pixels as the X server holds them: what a user sees.
std::vector<unsigned long> WindowPicture()
{
    glFinish();
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    std::vector<unsigned long> out;
    if (!SDL_GetWindowWMInfo(TestWindow(), &info))
        return out;
    Display* display = info.info.x11.display;
    XSync(display, False);
    XImage* image = XGetImage(display, info.info.x11.window, 0, 0, (unsigned)GScreenWidth, (unsigned)GScreenHeight,
                              AllPlanes, ZPixmap);
    if (!image)
        return out;
    for (int y = 0; y < GScreenHeight; ++y)
        for (int x = 0; x < GScreenWidth; ++x)
            out.push_back(XGetPixel(image, x, y));
    XDestroyImage(image);
    return out;
}

class XvfbIdleEditor : public testing::Test
{
protected:
    TShippedShaders shaders;
    TTempDir dir;
    char savedFolder[GAME_DATA_FOLDER_SIZE] = {};

    void SetUp() override
    {
        ASSERT_NE(getenv("DISPLAY"), nullptr);
        ASSERT_TRUE(GLTest_Init());
        ASSERT_FALSE(GWindowSystem->IsOffscreen());
        shaders.Begin();
        gMemCpy(savedFolder, GDataFolder, sizeof(savedFolder));
        SetDataFolder("RERudu");
        GFixedStep = FIXED_TICK;
        GMinFrameTime = FRAME_CAP;
        GQuitFlag = 0;
        const std::string doc = dir.File("start.kvf");
        WriteText(doc, NODE_DOCUMENT);
        GStartDocument = doc.c_str();
        GBatchRun = 0;
        // The texture loader runs beside the loop as in the program, and sleeps with it.
        GTexManager.StartLoader();
        Start();
    }

    void TearDown() override
    {
        Stop();
        GTexManager.StopLoader();
        SetJobServer(nullptr);
        r_drawStats.Value = 0;
        GConsole.Open = false;
        GRedrawOnChange = 0;
        GFixedStep = ENGINE_FIXED_TICK;
        GMinFrameTime = ENGINE_FRAME_CAP;
        GStartDocument = TString();
        InputReset();
        SetDataFolder(savedFolder);
        shaders.End();
    }

    void Start()
    {
        // Events of an earlier test (or of the window's mapping) are not this run's.
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        for (SWindowEvent e; GWindow->PopEvent(e);)
        {
        }
        InputReset();
        GRedrawOnChange = 1;
        GApp = new Plumweave;
        GGame = GApp;
        GApp->Init();
        FrameClockStart(GFrameClock, gSysGetTime());
        R_RequestRedraw();
    }

    void Stop()
    {
        if (!GApp)
            return;
        GApp->Shutdown();
        delete GApp;
        GApp = nullptr;
        GGame = nullptr;
    }

    // Frames drawn while the main loop runs for the seconds.
    static u64 FramesOver(double seconds)
    {
        const u64 before = GFramesDrawn;
        for (const double end = gSysGetTime() + seconds; gSysGetTime() < end && !GQuitFlag;)
            GameLoopPass();
        return GFramesDrawn - before;
    }

    // Runs the loop until it wants no frame (events pushed to the display are taken first).
    static bool Settle()
    {
        for (const double end = gSysGetTime() + SETTLE_LIMIT; gSysGetTime() < end;)
        {
            PumpWindowMessages();
            if (!GameWantsFrame())
                return true;
            GameLoopPass();
        }
        return false;
    }
};

// Every kind of change draws frames; each one settles and the editor then draws nothing.
TEST_F(XvfbIdleEditor, ChangesDrawFramesAndQuietPeriodsDrawNone)
{
    ASSERT_TRUE(Settle());
    EXPECT_EQ(FramesOver(QUIET_WINDOW), 0u) << "settled after start-up";

    const mRect file = GMainWin->Entries[0].Rect;
    const int menuX = (int)((file.x0 + file.x1) / 2), menuY = (int)((file.y0 + file.y1) / 2);
    TJobClient client;
    ASSERT_TRUE(client.IsOpen());

    TextureRef streamed;
    ASSERT_TRUE(TEX_Create(streamed, 4, 4, 1, 1, TEXFMT_RGBA8, nullptr, 0));
    SPopupMenu* menu = GMainWin->Entries[0].Popup;
    const float menuFadeIn = menu->FadeInTime, menuFadeOut = menu->FadeOutTime;

    const struct
    {
        const char* name;
        std::function<void()> cause;
        bool lasts;               // still drawing in a second window
        std::function<void()> end; // undoes the change (null: nothing to undo)
    } changes[] = {
        {"mouse move", [&] { PushMotion(700, 400); }, false, nullptr},
        {"key press", [&] { PushKey(SDL_SCANCODE_LSHIFT, true); PushKey(SDL_SCANCODE_LSHIFT, false); }, false, nullptr},
        {"expose", [&] { PushWindowEvent(SDL_WINDOWEVENT_EXPOSED); }, false, nullptr},
        {"focus gained", [&] { PushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED); }, false, nullptr},
        {"resize",
         [&] {
             GWindow->ResizeCallback = &OnWindowResize;
             PushWindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, GScreenWidth - 100, GScreenHeight - 50);
         },
         false,
         [&] {
             PushWindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, GScreenWidth + 100, GScreenHeight + 50);
             Settle();
             GWindow->ResizeCallback = nullptr;
         }},
        {"node queued", [&] { GProcessor->AddToUpdateList(GProcessor->Nodes[0]); }, false, nullptr},
        {"menu fading in",
         [&] {
             menu->FadeInTime = menu->FadeOutTime = GUI_DEFAULT_FADE_TIME;
             PushButton(true, menuX, menuY);
             PushButton(false, menuX, menuY);
         },
         true,
         [&] {
             menu->Open = 0;
             menu->FadeInTime = menuFadeIn;
             menu->FadeOutTime = menuFadeOut;
             R_RequestRedraw();
         }},
        {"console line", [&] { ConsolePrintf("a line for the log"); }, false, nullptr},
        {"texture level loaded",
         [&] {
             // What the loader thread leaves for the main thread: a level to put in (here one
             // that failed, so the texture keeps the level it has).
             streamed->Flags &= ~(u32)TEXF_NotStreamed;
             streamed->PrevLevel = streamed->CurLevel;
             streamed->LevelFailed = true;
             streamed->LoadState = TEXLS_Loaded;
         },
         false,
         [&] { streamed->Flags |= TEXF_NotStreamed; }},
        {"job server datagram",
         [&] {
             TString failure;
             SetJobServer(OpenJobServer("0", failure));
             ASSERT_NE(GJobServer, nullptr) << failure.Str();
             GConsole.Open = false;
             ASSERT_TRUE(Settle());
             client.Send(NetGetPort(*GJobServer), TJobClient::Message(JOB_MSG_TEST));
         },
         false,
         [&] { SetJobServer(nullptr); }},
        {"statistics overlay", [&] { r_drawStats.Value = 1; }, true, [&] { r_drawStats.Value = 0; }},
        {"button held (drag)", [&] { PushButton(true, 700, 400); }, true, [&] { PushButton(false, 700, 400); }},
        {"pointer over the menu bar", [&] { PushMotion(menuX, menuY); }, false, nullptr},
    };
    for (const auto& c : changes)
    {
        ASSERT_TRUE(Settle()) << c.name;
        c.cause();
        EXPECT_GT(FramesOver(CHANGE_WINDOW), 0u) << c.name;
        if (c.lasts)
        {
            EXPECT_GT(FramesOver(CHANGE_WINDOW), 0u) << c.name << " (while it lasts)";
        }
        if (c.end)
            c.end();
        ASSERT_TRUE(Settle()) << c.name;
        EXPECT_EQ(FramesOver(QUIET_WINDOW), 0u) << "quiet after " << c.name;
    }
    EXPECT_EQ((u32)streamed->LoadState, (u32)TEXLS_Idle);
    streamed.Release();

    // Quiet states: waiting with a server listening, with the console open, with the pointer
    // resting on a button; the loop then sleeps until something happens.
    const struct
    {
        const char* name;
        std::function<void()> enter;
        std::function<void()> leave;
    } quiet[] = {
        {"job server listening",
         [&] {
             TString failure;
             SetJobServer(OpenJobServer("0", failure));
         },
         [&] { SetJobServer(nullptr); }},
        {"console open", [&] { ConsoleKey(CONSOLE_TOGGLE_KEY, true); }, [&] { GConsole.Open = false; }},
        {"pointer resting on a button", [&] { PushMotion(menuX, menuY); }, nullptr},
    };
    for (const auto& q : quiet)
    {
        q.enter();
        ASSERT_TRUE(Settle()) << q.name;
        EXPECT_EQ(FramesOver(QUIET_WINDOW), 0u) << q.name;
        // Counted once the renderer's workers have gone to sleep after the last frame.
        const long wakeups = ProcessWakeups(getpid());
        FramesOver(QUIET_WINDOW);
        EXPECT_LE(ProcessWakeups(getpid()) - wakeups, QUIET_WAKEUPS) << q.name;
        if (q.leave)
            q.leave();
        ASSERT_TRUE(Settle()) << q.name;
    }
}

// After the same events the window shows the same picture, drawn on change or every frame.
TEST_F(XvfbIdleEditor, PictureAfterEventsIsTheOneContinuousDrawingShows)
{
    const mRect file = GMainWin->Entries[0].Rect;
    const int fx = (int)((file.x0 + file.x1) / 2), fy = (int)((file.y0 + file.y1) / 2);
    auto run = [&](u32 onChange) {
        Stop();
        Start();
        GRedrawOnChange = onChange;
        FramesOver(FINAL_TIME);
        SPopupMenu* menu = GMainWin->Entries[0].Popup;
        const std::vector<std::vector<SWindowEvent>> script = {
            {MouseEvent(WE_MouseMove, 600, 300)},
            {MouseEvent(WE_MouseMove, fx, fy)},
            {MouseEvent(WE_MouseDown, fx, fy), MouseEvent(WE_MouseUp, fx, fy)},
            {},
            {MouseEvent(WE_MouseMove, fx + 10, fy + (int)(MENU_ROW_HEIGHT * 2.5f))},
        };
        for (const std::vector<SWindowEvent>& step : script)
        {
            for (const SWindowEvent& e : step)
                GWindow->QueueEvent(e);
            FramesOver(STEP_TIME);
        }
        EXPECT_TRUE(menu->Open) << onChange;
        FramesOver(FINAL_TIME);
        return WindowPicture();
    };
    const std::vector<unsigned long> continuous = run(0);
    const std::vector<unsigned long> onChange = run(1);
    ASSERT_EQ(continuous.size(), (size_t)GScreenWidth * GScreenHeight);
    ASSERT_EQ(onChange.size(), continuous.size());
    size_t differ = 0;
    for (size_t i = 0; i < continuous.size(); ++i)
        differ += continuous[i] != onChange[i];
    EXPECT_EQ(differ, 0u);
    // The comparison saw the menu: the picture is not the one before the click.
    Stop();
    Start();
    FramesOver(FINAL_TIME);
    EXPECT_NE(WindowPicture(), continuous);
}

// A job sent to the editor while it waits for events is taken at once, not at its next frame.
TEST_F(XvfbIdleEditor, JobSentToTheWaitingEditorIsAnsweredPromptly)
{
    TString failure;
    SetJobServer(OpenJobServer("0", failure));
    ASSERT_NE(GJobServer, nullptr) << failure.Str();
    const u16 port = NetGetPort(*GJobServer);
    const std::string doc = dir.File("job.kvf");
    WriteText(doc, EMPTY_DOCUMENT);
    TJobClient client;
    ASSERT_TRUE(client.IsOpen());
    std::vector<double> waits;
    for (int i = 0; i < JOBS; ++i)
    {
        GConsole.Open = false;
        ASSERT_TRUE(Settle());
        FramesOver(QUIET_WINDOW);
        ASSERT_TRUE(client.SendPath(port, doc, (u32)doc.size()));
        const double sent = gSysGetTime();
        int status = -1;
        bool answered = false;
        while (!answered && gSysGetTime() - sent < JOB_GIVE_UP)
        {
            GameLoopPass();
            answered = client.WaitReply(0, status);
        }
        ASSERT_TRUE(answered) << i;
        EXPECT_EQ(status, JOB_Done);
        waits.push_back(gSysGetTime() - sent);
    }
    std::sort(waits.begin(), waits.end());
    EXPECT_LT(waits[JOBS / 2], JOB_PROMPT_SECONDS);
}

// Three clicks on a toggle, a Ctrl+S and a close, queued while the editor was busy, are applied in
// order, and the close ends it before the graph is processed again: the burst costs one processing.
TEST_F(XvfbIdleEditor, InputQueuedWhileBusyIsAllAppliedBeforeTheGraphIsProcessedOnce)
{
    Stop();
    GStartDocument = dir.File("toggle.kvf").c_str();
    WriteText(GStartDocument.Str(), TOGGLE_DOCUMENT);
    Start();
    ASSERT_TRUE(Settle());
    TestProcessLog().clear();
    const mRect& b = GProcessor->Nodes[0]->Rect;
    const int x = (int)(b.x0 + PANEL_MARGIN + (b.x1 - b.x0) * 0.25f), y = (int)(b.y0 + FLIP_Y);
    GWindow->QueueEvent(MouseEvent(WE_MouseMove, x, y));
    for (int i = 0; i < 6; ++i)
        GWindow->QueueEvent(MouseEvent(i % 2 ? WE_MouseUp : WE_MouseDown, x, y));
    for (u32 type : {WE_KeyDown, WE_KeyUp})
        for (u32 key : {(u32)KEY_LeftControl, (u32)'S'})
            GWindow->QueueEvent(SWindowEvent{type, key, 0, 0, 0, 0, 0});
    GWindow->QueueEvent(MouseEvent(WE_Quit, x, y));
    for (const double end = gSysGetTime() + SETTLE_LIMIT; gSysGetTime() < end && !GQuitFlag;)
        GameLoopPass();
    EXPECT_TRUE(TestProcessLog().empty());
    TString saved;
    EXPECT_TRUE(ReadTextFile(GStartDocument.Str(), saved) && strstr(saved.Str(), "FlipX=\"1\""));
    EXPECT_EQ(static_cast<STexNode_Transform*>(GProcessor->Nodes[0])->FlipX, 1);
    GQuitFlag = 0;
    ASSERT_TRUE(Settle());
    EXPECT_EQ(TestProcessLog().size(), 1u);
}
} // namespace
