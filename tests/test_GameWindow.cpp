// The window layer: the off-screen context, the event queue, mode changes; under Xvfb the real
// window, its context and input that reaches the queue.
#include "GLTestContext.h"
#include "TestSupport.h"

#include "GameCore.h"
#include "GameWindow.h"

#include <GL/glew.h>
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <stdlib.h>
#include <string>

namespace
{
SWindowEvent Event(u32 type, u32 key = 0)
{
    SWindowEvent e = {};
    e.Type = type;
    e.Key = key;
    return e;
}

int GResizeCalls = 0;
SVideoMode GResizeSeen = {};
void RecordResize(SVideoMode* mode)
{
    ++GResizeCalls;
    GResizeSeen = *mode;
}

int GLMajorVersion()
{
    GLint major = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    return major;
}

bool IsCoreProfile()
{
    GLint mask = 0;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &mask);
    return (mask & GL_CONTEXT_CORE_PROFILE_BIT) != 0;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Off-screen (no display)

TEST(GameWindowOffscreen, NoDisplayGivesOffscreenCompatibilityContextWithFrameBuffers)
{
    ASSERT_TRUE(GLTest_Init());
    EXPECT_TRUE(GWindowSystem->IsOffscreen());
    EXPECT_GE(GLMajorVersion(), 3);
    EXPECT_FALSE(IsCoreProfile());
    ASSERT_NE(glGenFramebuffers, nullptr);
    ASSERT_NE(glClampColor, nullptr);

    // The default frame buffer has the mode's size, with depth and stencil.
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 1024);
    EXPECT_EQ(viewport[3], 576);
    GLint depthBits = 0, stencilBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    glGetIntegerv(GL_STENCIL_BITS, &stencilBits);
    EXPECT_GE(depthBits, 24);
    EXPECT_GE(stencilBits, 8);

    // Compatibility features the engine draws with are accepted without errors.
    while (glGetError() != GL_NO_ERROR)
    {
    }
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor4f(1.0f, 0.5f, 0.25f, 1.0f);
    glBegin(GL_QUADS);
    glVertex2f(-1, -1);
    glVertex2f(1, -1);
    glVertex2f(1, 1);
    glVertex2f(-1, 1);
    glEnd();
    glFinish();
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    unsigned char px[4];
    GLTest_ReadPixel(512, 288, px);
    EXPECT_EQ(px[0], 255);
    EXPECT_NEAR(px[1], 128, 1);
    EXPECT_NEAR(px[2], 64, 1);
    R_SetGLDefaults();
}

TEST(GameWindowOffscreen, ObjectsSurviveAModeChange)
{
    ASSERT_TRUE(GLTest_Init());
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    const unsigned char texel[4] = { 10, 20, 30, 40 };
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    ASSERT_TRUE(glIsTexture(tex));
    void* oldContext = GWindow->Context;

    testing::internal::CaptureStdout();
    R_SetMode(640, 480, 0, 60, 0, 1);
    const std::string line = testing::internal::GetCapturedStdout();
    EXPECT_NE(GWindow->Context, oldContext);
    EXPECT_NE(line.find("[R_SetMode] Resolution changed to 640x480, windowed, AA disabled"), std::string::npos) << line;
    EXPECT_EQ(GScreenWidth, 640);
    EXPECT_EQ(GScreenHeight, 480);

    // The new context shares the old one's objects.
    EXPECT_TRUE(glIsTexture(tex));
    glBindTexture(GL_TEXTURE_2D, tex);
    unsigned char back[4] = {};
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back);
    EXPECT_EQ(back[0], 10);
    EXPECT_EQ(back[3], 40);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    glDeleteTextures(1, &tex);

    R_SetMode(1024, 576, 0, 60, 0, 1);
    R_SetGLDefaults();
}

TEST(GameWindowOffscreen, ModeLineNamesTheSampleCount)
{
    char buf[32];
    EXPECT_STREQ(R_AntiAliasText(1, buf, sizeof(buf)), "AA disabled");
    EXPECT_STREQ(R_AntiAliasText(2, buf, sizeof(buf)), "2x AA");
    EXPECT_STREQ(R_AntiAliasText(4, buf, sizeof(buf)), "4x AA");
    EXPECT_STREQ(R_AntiAliasText(8, buf, sizeof(buf)), "8x AA");
    // Counts outside 1, 2, 4, 8 never reach past the table.
    EXPECT_STREQ(R_AntiAliasText(0, buf, sizeof(buf)), "AA disabled");
    EXPECT_STREQ(R_AntiAliasText(3, buf, sizeof(buf)), "2x AA");
    EXPECT_STREQ(R_AntiAliasText(16, buf, sizeof(buf)), "16x AA");
    EXPECT_STREQ(R_AntiAliasText(0xFFFFFFFFu, buf, sizeof(buf)), "4294967295x AA");
}

TEST(GameWindowOffscreen, QueueIsFirstInFirstOut)
{
    ASSERT_TRUE(GLTest_Init());
    SWindow window(GWindowSystem);
    SWindowEvent e;
    EXPECT_EQ(window.PopEvent(e), 0);
    for (u32 i = 0; i < 100; ++i)
        window.QueueEvent(Event(WE_KeyDown, i));
    for (u32 i = 0; i < 60; ++i)
    {
        ASSERT_EQ(window.PopEvent(e), 1);
        EXPECT_EQ(e.Key, i);
    }
    window.QueueEvent(Event(WE_KeyUp, 500));
    for (u32 i = 60; i < 100; ++i)
    {
        ASSERT_EQ(window.PopEvent(e), 1);
        EXPECT_EQ(e.Key, i);
    }
    ASSERT_EQ(window.PopEvent(e), 1);
    EXPECT_EQ(e.Type, (u32)WE_KeyUp);
    EXPECT_EQ(e.Key, 500u);
    EXPECT_EQ(window.PopEvent(e), 0);
    EXPECT_EQ(window.QueuedEvents(), 0u);
}

TEST(GameWindowOffscreen, ResizeCallbackOnlyWhenSetAndSizeChanged)
{
    ASSERT_TRUE(GLTest_Init());
    SWindow window(GWindowSystem);
    SVideoMode mode = { 320, 200, 0, 60, 0, 1 };
    window.SetMode("t", mode);
    GResizeCalls = 0;
    window.OnClientSize(400, 300);
    EXPECT_EQ(GResizeCalls, 0);
    EXPECT_EQ(window.Mode.Width, 320); // not resizable: the mode stays

    window.SetResizeCallback(RecordResize);
    window.OnClientSize(320, 200);
    EXPECT_EQ(GResizeCalls, 0); // same size
    window.OnClientSize(400, 300);
    EXPECT_EQ(GResizeCalls, 1);
    EXPECT_EQ(GResizeSeen.Width, 400);
    EXPECT_EQ(GResizeSeen.Height, 300);
    EXPECT_EQ(window.Mode.Height, 300);
    window.Destroy();
    EXPECT_FALSE(window.Exists());
    ASSERT_TRUE(GLTest_Init());
}

TEST(GameWindowOffscreen, UnreachableDisplayFallsBackToOffscreen)
{
    setenv("DISPLAY", ":4711", 1);
    SWindowSystem* system = new SWindowSystem();
    unsetenv("DISPLAY");
    EXPECT_TRUE(system->IsOffscreen());
    SWindow window(system);
    SVideoMode mode = { 64, 32, 0, 60, 0, 1 };
    window.SetMode("fallback", mode);
    ASSERT_TRUE(window.Exists());
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 64);
    EXPECT_EQ(viewport[3], 32);
    // No events of its own; the swap does nothing and the drawing stays readable.
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    window.SwapBuffers();
    PumpWindowMessages();
    SWindowEvent e;
    EXPECT_EQ(window.PopEvent(e), 0);
    unsigned char px[4] = {};
    GLTest_ReadPixel(63, 31, px);
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 0);
    window.Destroy();
    delete system;
}

// ---------------------------------------------------------------------------------------------
// With a display (run under Xvfb)

namespace
{
// Pumps until the window has an event of the type (at x, y when given) or the pump has run many times.
bool PumpFor(SWindow& window, u32 type, SWindowEvent& found, s32 x = -1, s32 y = -1)
{
    // Bounded by time, not by rounds: a loaded machine (sanitizer builds) delivers X events late.
    const Uint32 start = SDL_GetTicks();
    while (SDL_GetTicks() - start < 10000)
    {
        PumpWindowMessages();
        SWindowEvent e;
        while (window.PopEvent(e))
            if (e.Type == type && (x < 0 || (e.X == x && e.Y == y)))
            {
                found = e;
                return true;
            }
        SDL_Delay(5);
    }
    return false;
}

Uint32 WindowId(SWindow& window)
{
    return SDL_GetWindowID((SDL_Window*)window.Handle);
}
} // namespace

TEST(XvfbGameWindow, OpensAt1024x576WithCompatibilityContext)
{
    ASSERT_NE(getenv("DISPLAY"), nullptr);
    testing::internal::CaptureStdout();
    const bool up = GLTest_Init();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(up);
    EXPECT_FALSE(GWindowSystem->IsOffscreen());
    EXPECT_NE(out.find("[R_SetMode] Resolution changed to 1024x576, windowed, AA disabled"), std::string::npos) << out;

    int w = 0, h = 0;
    SDL_GetWindowSize((SDL_Window*)GWindow->Handle, &w, &h);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 576);
    EXPECT_GE(GLMajorVersion(), 3);
    EXPECT_FALSE(IsCoreProfile());
    EXPECT_NE(glGenFramebuffers, nullptr);
    EXPECT_TRUE(GLEW_VERSION_3_0);

    // Clear, read back before the swap.
    glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    unsigned char px[4];
    GLTest_ReadPixel(10, 10, px);
    EXPECT_NEAR(px[0], 51, 1);
    EXPECT_NEAR(px[1], 77, 1);
    EXPECT_NEAR(px[2], 102, 1);
    R_SwapBuffers();

    GWindow->SetTitle("plumweave test");
    EXPECT_STREQ(SDL_GetWindowTitle((SDL_Window*)GWindow->Handle), "plumweave test");
}

TEST(XvfbGameWindow, InjectedEventsReachTheQueueTranslated)
{
    ASSERT_TRUE(GLTest_Init());
    SWindowEvent e;
    while (GWindow->PopEvent(e))
    {
    }
    PumpWindowMessages();
    while (GWindow->PopEvent(e))
    {
    }

    SDL_Event key = {};
    key.type = SDL_KEYDOWN;
    key.key.windowID = WindowId(*GWindow);
    key.key.state = SDL_PRESSED;
    key.key.keysym.scancode = SDL_SCANCODE_RCTRL;
    key.key.keysym.sym = SDLK_RCTRL;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    SDL_Event close = {};
    close.type = SDL_WINDOWEVENT;
    close.window.windowID = WindowId(*GWindow);
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    ASSERT_EQ(SDL_PushEvent(&close), 1);

    PumpWindowMessages();
    ASSERT_EQ(GWindow->PopEvent(e), 1);
    EXPECT_EQ(e.Type, (u32)WE_KeyDown);
    EXPECT_EQ(e.Key, 17u);
    ASSERT_EQ(GWindow->PopEvent(e), 1);
    EXPECT_EQ(e.Key, 163u);
    ASSERT_EQ(GWindow->PopEvent(e), 1);
    EXPECT_EQ(e.Type, (u32)WE_Quit);
    // The close request leaves the window up.
    EXPECT_TRUE(GWindow->Exists());
}

TEST(XvfbGameWindow, PointerMovedByXReachesTheQueue)
{
    ASSERT_TRUE(GLTest_Init());
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo((SDL_Window*)GWindow->Handle, &info));
    const unsigned long xid = (unsigned long)info.info.x11.window;
    char cmd[256];
    snprintf(cmd, sizeof(cmd), "xdotool mousemove --window %lu 37 45 >/dev/null 2>&1", xid);
    ASSERT_EQ(system(cmd), 0);
    SWindowEvent e;
    // The pointer's entry may report its old place first: wait for the place it was moved to.
    ASSERT_TRUE(PumpFor(*GWindow, WE_MouseMove, e, 37, 45));
    EXPECT_EQ(e.X, 37);
    EXPECT_EQ(e.Y, 45);
}

TEST(XvfbGameWindow, ResizableWindowReportsNewSize)
{
    ASSERT_TRUE(GLTest_Init());
    SWindow window(GWindowSystem);
    window.SetResizeCallback(RecordResize);
    SVideoMode mode = { 300, 200, 0, 60, 0, 1 };
    window.SetMode("resizable", mode);
    SDL_Window* w = (SDL_Window*)window.Handle;
    EXPECT_TRUE((SDL_GetWindowFlags(w) & SDL_WINDOW_RESIZABLE) != 0);
    GResizeCalls = 0;
    SDL_SetWindowSize(w, 420, 260);
    for (int i = 0; i < 400 && GResizeCalls == 0; ++i)
    {
        PumpWindowMessages();
        SDL_Delay(5);
    }
    EXPECT_GE(GResizeCalls, 1);
    EXPECT_EQ(GResizeSeen.Width, 420);
    EXPECT_EQ(GResizeSeen.Height, 260);

    window.SetResizeCallback(nullptr);
    EXPECT_TRUE((SDL_GetWindowFlags(w) & SDL_WINDOW_RESIZABLE) == 0);
    window.Destroy();
    ASSERT_TRUE(GLTest_Init());
}

TEST(XvfbGameWindow, FullScreenModeAndBack)
{
    ASSERT_TRUE(GLTest_Init());
    testing::internal::CaptureStdout();
    // The test display is 1280x1024.
    R_SetMode(1280, 1024, 1, 0, 0, 4);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[R_SetMode] Resolution changed to 1280x1024, fullscreen, 4x AA"), std::string::npos) << out;
    SDL_Window* w = (SDL_Window*)GWindow->Handle;
    EXPECT_TRUE((SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN) != 0);
    int width = 0, height = 0;
    SDL_GetWindowSize(w, &width, &height);
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 1024);
    EXPECT_EQ(GFullscreen, 1u);
    EXPECT_EQ(GSamples, 4u);
    // The screen saver never starts while the engine's window is up.
    EXPECT_FALSE(SDL_IsScreenSaverEnabled());

    R_SetMode(1024, 576, 0, 60, 0, 1);
    w = (SDL_Window*)GWindow->Handle;
    EXPECT_TRUE((SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN) == 0);
    SDL_GetWindowSize(w, &width, &height);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 576);
    R_SetGLDefaults();
}

TEST(XvfbGameWindow, CursorPlacedInClientCoordinates)
{
    ASSERT_TRUE(GLTest_Init());
    GWindow->SetCursorPos(100, 50);
    SWindowEvent e;
    ASSERT_TRUE(PumpFor(*GWindow, WE_MouseMove, e, 100, 50));
    EXPECT_EQ(e.X, 100);
    EXPECT_EQ(e.Y, 50);
}

TEST(XvfbGameWindow, ObjectsSurviveAModeChange)
{
    ASSERT_TRUE(GLTest_Init());
    ASSERT_FALSE(GWindowSystem->IsOffscreen());
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    const unsigned char texel[4] = { 10, 20, 30, 40 };
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    ASSERT_TRUE(glIsTexture(tex));
    const Uint32 oldWindow = WindowId(*GWindow);

    testing::internal::CaptureStdout();
    R_SetMode(640, 480, 0, 60, 0, 1);
    testing::internal::GetCapturedStdout();
    // A new window (SDL never reuses an id) with a new context, which shares the first context's objects.
    EXPECT_NE(WindowId(*GWindow), oldWindow);
    int w = 0, h = 0;
    SDL_GetWindowSize((SDL_Window*)GWindow->Handle, &w, &h);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_TRUE(glIsTexture(tex));
    glBindTexture(GL_TEXTURE_2D, tex);
    unsigned char back[4] = {};
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back);
    EXPECT_EQ(back[0], 10);
    EXPECT_EQ(back[1], 20);
    EXPECT_EQ(back[2], 30);
    EXPECT_EQ(back[3], 40);
    glDeleteTextures(1, &tex);

    testing::internal::CaptureStdout();
    R_SetMode(1024, 576, 0, 60, 0, 1);
    testing::internal::GetCapturedStdout();
    R_SetGLDefaults();
}
