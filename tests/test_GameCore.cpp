// The engine main: the frame clock's arithmetic, the data root, the start-up and exit order with
// recording fakes, the exit codes, and the program itself run without a display.
#include "GLTestContext.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include "GameArgs.h"
#include "GameCore.h"
#include "GameFont.h"
#include "GameInput.h"
#include "GamePhysics.h"
#include "GameScript.h"
#include "GameShader.h"
#include "GameTexture.h"

#include <GL/glew.h>

#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Frame clock

TEST(GameCoreClock, ExactlyOneTickRunsNoTickAndCarriesOver)
{
    const double step = 1.0 / 60.0;
    SFrameClock c;
    FrameClockStart(c, 100.0);
    // Exactly one step since the previous frame: the test is strictly greater.
    c.Accumulator = 0.0;
    SFramePlan p = FrameClockBegin(c, 100.0 + 0.015625, 0.015625, 0.05);
    EXPECT_EQ(p.Ticks, 0);
    EXPECT_EQ(c.Accumulator, 0.015625);
    EXPECT_FLOAT_EQ(p.Alpha, 1.0f);
    // The carried time runs in the next frame.
    p = FrameClockBegin(c, 100.0 + 0.015625 + 0.001, 0.015625, 0.05);
    EXPECT_EQ(p.Ticks, 1);
    EXPECT_NEAR(c.Accumulator, 0.001, 1e-12);
    EXPECT_NEAR(p.Alpha, 0.001 / 0.015625, 1e-6);
    // The ticks start at the previous frame's time.
    EXPECT_EQ(p.TickTime, 100.0 + 0.015625);
    (void)step;
}

TEST(GameCoreClock, StallIsClampedToAtMostThreeTicks)
{
    const double step = 1.0 / 60.0;
    SFrameClock c;
    FrameClockStart(c, 5.0);
    SFramePlan p = FrameClockBegin(c, 7.0, step, 0.05);
    EXPECT_EQ(p.Delta, 0.05);
    EXPECT_GE(p.Ticks, 2);
    EXPECT_LE(p.Ticks, 3);
    EXPECT_NEAR(c.Accumulator, 0.05 - p.Ticks * step, 1e-12);
    EXPECT_LE(c.Accumulator, step);
    // The next frame measures from the stall's end, not from before it.
    p = FrameClockBegin(c, 7.01, step, 0.05);
    EXPECT_NEAR(p.Delta, 0.01, 1e-9);
    EXPECT_EQ(p.TickTime, 7.0);
}

TEST(GameCoreClock, TicksAtSixtyHertzOverManyFrames)
{
    // 120 frames of 1/120 s are one second: 60 ticks of 1/60 s (the last may still be carried).
    const double step = 1.0 / 60.0;
    SFrameClock c;
    FrameClockStart(c, 0.0);
    int ticks = 0;
    for (int f = 1; f <= 120; ++f)
        ticks += FrameClockBegin(c, f / 120.0, step, 0.05).Ticks;
    EXPECT_GE(ticks, 59);
    EXPECT_LE(ticks, 60);
    EXPECT_NEAR(ticks * step + c.Accumulator, 1.0, 1e-9);
}

TEST(GameCoreClock, BackwardsTimerIsAnAssertionAndGoesOn)
{
    SFrameClock c;
    FrameClockStart(c, 10.0);
    TExpectBreak expect("Delta <= 0");
    SFramePlan p = FrameClockBegin(c, 9.5, 1.0 / 30.0, 0.05);
    EXPECT_EQ(p.Delta, -0.5);
    EXPECT_EQ(p.Ticks, 0);
    EXPECT_EQ(c.PrevTime, 9.5);
}

TEST(GameCoreClock, FpsMarkMovesByWholeSeconds)
{
    SFrameClock c;
    FrameClockStart(c, 10.0);
    for (int i = 0; i < 30; ++i)
        EXPECT_FALSE(FrameClockCount(c, 10.0 + i * 0.03)); // up to 10.87
    EXPECT_FALSE(FrameClockCount(c, 11.0));                 // exactly one second: not yet
    EXPECT_TRUE(FrameClockCount(c, 11.25));
    EXPECT_EQ(c.FPS, 32);
    EXPECT_EQ(c.FrameCount, 0);
    EXPECT_EQ(c.FPSMark, 11.0);
    // After a 3.5 s gap the mark moves on by three whole seconds, keeping its fraction.
    EXPECT_TRUE(FrameClockCount(c, 14.75));
    EXPECT_EQ(c.FPS, 1);
    EXPECT_EQ(c.FPSMark, 14.0);
    EXPECT_FALSE(FrameClockCount(c, 14.9));
}

TEST(GameCoreClock, FrameCapSleepsTheRest)
{
    EXPECT_NEAR(FrameCapSleep(0.005, 0.015), 0.010, 1e-12);
    EXPECT_EQ(FrameCapSleep(0.020, 0.015), 0.0);
    EXPECT_EQ(FrameCapSleep(0.015, 0.015), 0.0);
    EXPECT_EQ(FrameCapSleep(0.001, 0.0), 0.0);
    EXPECT_EQ(FrameCapSleep(0.001, -1.0), 0.0);
}

TEST(GameCoreClock, TimerIsMonotonic)
{
    double last = gSysGetTime();
    for (int i = 0; i < 1000; ++i)
    {
        const double now = gSysGetTime();
        ASSERT_GE(now, last);
        last = now;
    }
    EXPECT_GT(last, 0.0);
}

// ---------------------------------------------------------------------------------------------
// Data root

TEST(GameCoreFolders, BaseFolderCutsAfterTheLastSeparatorOfEitherKind)
{
    TString out;
    BuildBaseFolder("C:\\a/b\\prog.exe", "RERudu", out);
    EXPECT_STREQ(out.Str(), "C:\\a/b\\RERudu/");
    BuildBaseFolder("/usr/local/bin/plumweave", "RERudu", out);
    EXPECT_STREQ(out.Str(), "/usr/local/bin/RERudu/");
    BuildBaseFolder("plumweave", "RERudu", out);
    EXPECT_STREQ(out.Str(), "RERudu/");
    BuildBaseFolder("/x/", "", out);
    EXPECT_STREQ(out.Str(), "/x//");
}

TEST(GameCoreFolders, LongPathsNeverOverflow)
{
    std::string path = "/";
    for (int i = 0; i < 200; ++i)
        path += "a_rather_long_folder_name/";
    path += "plumweave";
    TString out;
    BuildBaseFolder(path.c_str(), "RERudu", out);
    const std::string expected = path.substr(0, path.size() - 9) + "RERudu/";
    EXPECT_EQ(std::string(out.Str()), expected);
    EXPECT_GT(out.Length(), 5000u);

    // The data folder name is cut to its 31 characters, never written past.
    const std::string longName(100, 'x');
    SetDataFolder(longName.c_str());
    EXPECT_EQ(std::string(GDataFolder), std::string(GAME_DATA_FOLDER_SIZE - 1, 'x'));
    SetDataFolder("RERudu");
    EXPECT_STREQ(GDataFolder, "RERudu");
}

// ---------------------------------------------------------------------------------------------
// Start-up and exit order

namespace
{
std::vector<std::string> GLog;
int GUpdatesBeforeQuit = 0;
bool GQuitInInit = false;
float GFirstUpdateTime = -1.0f;
float GLastUpdateStep = 0.0f;

// Checks of the state each step must find, recorded in the log as failures.
void Check(bool ok, const char* what)
{
    if (!ok)
        GLog.push_back(std::string("FAILED: ") + what);
}

class SRecordingGame : public IGame
{
public:
    int Updates = 0;
    ~SRecordingGame() override { GLog.push_back("~Game"); }
    void Init() override
    {
        GLog.push_back("Init");
        Check(GWindow && GWindow->Exists(), "window exists at Init");
        Check(GTexManager.Loader != nullptr, "texture loader running at Init");
        GLint func = 0;
        glGetIntegerv(GL_DEPTH_FUNC, &func);
        Check(func == GL_LEQUAL, "depth function LEQUAL");
        Check(glIsEnabled(GL_DEPTH_TEST) && glIsEnabled(GL_CULL_FACE), "depth test and culling on");
        GLint front = 0;
        glGetIntegerv(GL_FRONT_FACE, &front);
        Check(front == GL_CW, "clockwise front faces");
        GLfloat clear[4] = {};
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        Check(clear[0] > 0.19f && clear[0] < 0.21f && clear[1] > 0.29f && clear[2] > 0.39f && clear[3] == 1.0f,
              "clear colour");
        GLint src = 0, dst = 0;
        glGetIntegerv(GL_BLEND_SRC_RGB, &src);
        glGetIntegerv(GL_BLEND_DST_RGB, &dst);
        Check(src == GL_SRC_ALPHA && dst == GL_ONE_MINUS_SRC_ALPHA, "blend function");
        GLint clamp = -1;
        glGetIntegerv(GL_CLAMP_READ_COLOR, &clamp);
        Check(clamp == GL_FALSE, "read colour clamping off");
        const std::string base = GBaseFolder.Str();
        const std::string exe = gSysProgramPath().Str();
        Check(base == exe.substr(0, exe.rfind('/') + 1) + "RERudu/", "data root beside the program");
        Check(GSM != nullptr, "shader storage exists at Init");
        Check(GPhysWorld != nullptr && GScrEngine != nullptr && GScrContext != nullptr,
              "physics world and script engine up at Init");
        Check(GDebugFont && GDebugFont->FindGlyph('A') && GDebugFont->Pages.Count() == 1 &&
                  !GDebugFont->Pages[0].IsNull() && GDebugFont->Pages[0]->GLName != 0,
              "debug font loaded at Init");
        if (GQuitInInit)
            GQuitFlag = 1;
    }
    void Shutdown() override
    {
        GLog.push_back("Shutdown");
        Check(GWindow != nullptr && GWindowSystem != nullptr, "window still up at Shutdown");
        Check(GTexManager.Loader != nullptr, "texture loader still running at Shutdown");
        Check(GSM != nullptr && GDebugFont != nullptr, "shader storage and debug font still there at Shutdown");
        Check(GPhysWorld != nullptr && GScrEngine != nullptr, "physics world and script engine still up at Shutdown");
        if (Updates > 0)
        {
            // The off-screen window keeps its last frame: the statistics overlay in white at the top left.
            std::vector<unsigned char> px(200 * 100 * 4);
            glReadPixels(0, 576 - 100, 200, 100, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
            int bright = 0;
            for (size_t i = 0; i < px.size(); i += 4)
                if (px[i] > 200 && px[i + 1] > 200 && px[i + 2] > 200)
                    ++bright;
            Check(bright > 100, "statistics overlay drawn");
        }
    }
    void OnSetMode(const SVideoMode& mode) override
    {
        GLog.push_back("OnSetMode " + std::to_string(mode.Width) + "x" + std::to_string(mode.Height));
    }
    void OnFocus(bool gained) override { GLog.push_back(gained ? "FocusGained" : "FocusLost"); }
    void Update(float time, float step) override
    {
        if (GLog.empty() || GLog.back() != "Update")
            GLog.push_back("Update");
        if (GFirstUpdateTime < 0)
            GFirstUpdateTime = time;
        GLastUpdateStep = step;
        ++Updates;
        if (Updates == GUpdatesBeforeQuit)
        {
            // The close request ends the loop through the event pump of the next tick.
            SWindowEvent quit = {};
            quit.Type = WE_Quit;
            GWindow->QueueEvent(quit);
        }
    }
    void Render(float alpha) override
    {
        if (GLog.empty() || GLog.back() != "Render")
            GLog.push_back("Render");
        Check(alpha >= 0.0f && alpha <= 1.0f, "render fraction within a tick");
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
};

int RecordingStartup()
{
    GLog.push_back("AppStartup");
    Check(GWindowSystem != nullptr, "window system exists at AppStartup");
    Check(GWindow == nullptr, "no window at AppStartup");
    Check(GDataFolder[0] == 0, "data folder cleared before AppStartup");
    SetDataFolder("RERudu");
    GGame = new SRecordingGame;
    return 1;
}

int RefusingStartup()
{
    GLog.push_back("AppStartup refuses");
    return 0;
}

void RecordingShutdown()
{
    GLog.push_back("AppShutdown");
    Check(GWindow == nullptr && GWindowSystem == nullptr, "window and window system gone at AppShutdown");
    Check(GTexManager.Loader == nullptr && GTexManager.IsShutDown, "texture manager stopped before the window went");
    Check(GSM == nullptr && GDebugFont == nullptr, "shader storage and debug font freed before AppShutdown");
    Check(GScrEngine == nullptr && GScrContext == nullptr && GPhysWorld == nullptr,
          "script engine and physics world stopped before AppShutdown");
    delete GGame;
    GGame = nullptr;
}

// Runs the engine main in this process with the recording hooks and fresh engine state.
int RunRecorded(int (*startup)(), bool quitInInit, int updatesBeforeQuit)
{
    GLog.clear();
    GQuitFlag = 0;
    GQuitInInit = quitInInit;
    GUpdatesBeforeQuit = updatesBeforeQuit;
    GFirstUpdateTime = -1.0f;
    // A GL test earlier in the same process leaves its window in the globals (it points them at
    // it again itself); the engine main starts from none.
    GWindowSystem = nullptr;
    GWindow = nullptr;
    InputReset();
    GFixedStep = 1.0 / 60.0;
    GMinFrameTime = 0.005;
    const char* args[] = { "plumweave", "-opc", nullptr };
    testing::internal::CaptureStdout();
    const int code = GameRun(2, (char**)args, startup, RecordingShutdown);
    testing::internal::GetCapturedStdout();
    GFixedStep = 1.0 / 30.0;
    GMinFrameTime = 0.015;
    GQuitFlag = 0;
    return code;
}

std::string Joined()
{
    std::string s;
    for (const std::string& l : GLog)
        s += l + "\n";
    return s;
}
} // namespace

TEST(GameCoreMain, QuitFlagInInitSkipsTheLoopAndRunsTheWholeExit)
{
    const int code = RunRecorded(RecordingStartup, true, 0);
    EXPECT_EQ(code, 0);
    const std::vector<std::string> expected = { "AppStartup", "OnSetMode 1024x576", "Init", "Shutdown", "AppShutdown",
                                                "~Game" };
    EXPECT_EQ(GLog, expected) << Joined();
    EXPECT_EQ(GWindow, nullptr);
    EXPECT_EQ(GWindowSystem, nullptr);
}

TEST(GameCoreMain, StartupRefusalEndsAtOnceWith45438)
{
    GWindowTitle = "";
    const int code = RunRecorded(RefusingStartup, false, 0);
    EXPECT_EQ(code, 45438);
    EXPECT_EQ(code & 0xFF, 126); // what the shell sees
    const std::vector<std::string> expected = { "AppStartup refuses" };
    EXPECT_EQ(GLog, expected) << Joined();
    EXPECT_EQ(GScrEngine, nullptr);
    EXPECT_EQ(GPhysWorld, nullptr);
    EXPECT_EQ(GWindowSystem, nullptr);
    EXPECT_EQ(GWindow, nullptr);
}

TEST(GameCoreMain, CloseRequestEndsTheLoopAfterTheFrameIsFinished)
{
    const int code = RunRecorded(RecordingStartup, false, 3);
    EXPECT_EQ(code, 0);
    // Updates and renders alternate; the frame in which the quit came still renders, then the exit.
    ASSERT_GE(GLog.size(), 7u) << Joined();
    EXPECT_EQ(GLog[0], "AppStartup");
    EXPECT_EQ(GLog[1], "OnSetMode 1024x576");
    EXPECT_EQ(GLog[2], "Init");
    const size_t n = GLog.size();
    EXPECT_EQ(GLog[n - 4], "Render") << Joined();
    EXPECT_EQ(GLog[n - 3], "Shutdown");
    EXPECT_EQ(GLog[n - 2], "AppShutdown");
    EXPECT_EQ(GLog[n - 1], "~Game");
    for (const std::string& l : GLog)
        EXPECT_EQ(l.find("FAILED"), std::string::npos) << l;
    EXPECT_FLOAT_EQ(GLastUpdateStep, (float)(1.0 / 60.0));
    EXPECT_GT(GFirstUpdateTime, 0.0f);
}

TEST(GameCoreMain, ExitCodeAsTheShellSeesIt)
{
    // A process of its own: the exit status keeps the low 8 bits.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit(RunRecorded(RefusingStartup, false, 0)), testing::ExitedWithCode(126), "");
    EXPECT_EXIT(exit(RunRecorded(RecordingStartup, true, 0)), testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------------------------
// The program on a display

#include <signal.h>
#include <X11/Xlib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
// A loaded machine (the suites run in parallel) can take many seconds to start the program.
const double WINDOW_WAIT_SECONDS = 60.0;

// What a window manager's close button sends: a WM_DELETE_WINDOW client message.
bool SendCloseRequest(unsigned long window)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, window, False, NoEventMask, &e) != 0;
    XSync(display, False);
    XCloseDisplay(display);
    return sent;
}

const double EXIT_WAIT_SECONDS = 10.0;
} // namespace

TEST(XvfbProgram, OpensItsWindowAt1024x576AndRunsUntilStopped)
{
    ASSERT_NE(getenv("DISPLAY"), nullptr);
    const std::string program = std::string(PW_BIN_DIR) + "/plumweave";
    const char* argv[] = { program.c_str(), nullptr };
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, (char* const*)argv, environ), 0);
    TProgramGuard guard(pid);

    // Wait for the window to be mapped (the program is still starting).
    const unsigned long id = guard.WaitForWindow(WINDOW_WAIT_SECONDS);
    ASSERT_NE(id, 0ul) << "no window titled Plumweave - ...";
    const std::string geometry = RunCapture("xdotool getwindowgeometry " + std::to_string(id));
    EXPECT_NE(geometry.find("Geometry: 1024x576"), std::string::npos) << geometry;

    // Still running its loop: not ended by itself.
    int status = 0;
    EXPECT_FALSE(guard.Wait(0, status));
    status = guard.Stop(SIGTERM);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
}

TEST(XvfbProgram, CloseRequestEndsTheProgramWithExitCode0)
{
    ASSERT_NE(getenv("DISPLAY"), nullptr);
    const std::string program = std::string(PW_BIN_DIR) + "/plumweave";
    const char* argv[] = { program.c_str(), nullptr };
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, (char* const*)argv, environ), 0);
    TProgramGuard guard(pid);
    const unsigned long id = guard.WaitForWindow(WINDOW_WAIT_SECONDS);
    ASSERT_NE(id, 0ul) << "no window titled Plumweave - ...";
    // The loop keeps running until the request comes.
    int status = 0;
    EXPECT_FALSE(guard.Wait(0, status));
    ASSERT_TRUE(SendCloseRequest(id));
    ASSERT_TRUE(guard.Wait(EXIT_WAIT_SECONDS, status)) << "the close request did not end the program";
    // Ended by itself through the whole exit sequence, not by a signal or a fatal error.
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
