#include "GameWindow.h"

#include "GameWindowBackend.h"

#include <GL/glew.h>

s32 GScreenWidth = 1024;
s32 GScreenHeight = 576;
u32 GFullscreen = 0;
u32 GRefreshRate = 60;
u32 GSwapInterval = 0;
u32 GSamples = 1;
TString GWindowTitle;
SWindowSystem* GWindowSystem = nullptr;
SWindow* GWindow = nullptr;

static SWindowHooks GWindowHooks = {};

void WIN_SetHooks(const SWindowHooks& hooks)
{
    GWindowHooks = hooks;
}

const SWindowHooks& WIN_GetHooks()
{
    return GWindowHooks;
}

// ---------------------------------------------------------------------------------------------
SWindowSystem::SWindowSystem()
    : Offscreen(false)
    , Backend(nullptr)
{
    if (gSysHasDisplay())
        Backend = WIN_CreateSDLBackend(DisplayFailure);
    else
        DisplayFailure = "no display (DISPLAY is not set)";
    if (!Backend)
    {
        Offscreen = true;
        Backend = WIN_CreateEGLBackend();
    }
    // The extension loader needs a current context.
    if (!Backend->MakeDummyCurrent())
        FatalError("Failed to set the window Rendering Context");
    glewExperimental = GL_TRUE;
    const GLenum result = glewInit();
    // Off-screen there is no GLX display; GLEW reports that after it has loaded the GL entry points.
    const bool accepted = result == GLEW_OK || (Offscreen && result == GLEW_ERROR_NO_GLX_DISPLAY);
    if (!accepted)
        FatalError("OpenGL Extension Wrangler: error %d\n", (int)result);
}

SWindowSystem::~SWindowSystem()
{
    delete Backend;
    Backend = nullptr;
}

bool SWindowSystem::MakeDummyCurrent()
{
    return Backend && Backend->MakeDummyCurrent();
}

// ---------------------------------------------------------------------------------------------
SWindow::SWindow(SWindowSystem* owner)
    : Owner(owner)
    , ResizeCallback(nullptr)
    , EventRead(0)
    , Handle(nullptr)
    , Context(nullptr)
{
    gMemSet(&Mode, 0, sizeof(Mode));
}

SWindow::~SWindow()
{
    Destroy();
}

bool SWindow::Exists() const
{
    return Handle != nullptr;
}

void SWindow::SetResizeCallback(TResizeCallback callback)
{
    ResizeCallback = callback;
    if (Handle)
        Owner->Backend->SetResizable(*this, callback != nullptr);
}

void SWindow::SetMode(const TString& title, const SVideoMode& mode)
{
    Destroy();
    Mode = mode;
    Owner->Backend->Create(*this, title, mode);
    Title = title;
    glViewport(0, 0, mode.Width, mode.Height);
}

void SWindow::Destroy()
{
    if (Handle || Context)
        Owner->Backend->Destroy(*this);
    Handle = nullptr;
    Context = nullptr;
}

int SWindow::PopEvent(SWindowEvent& out)
{
    if (EventRead >= Events.Count())
        return 0;
    out = Events[EventRead++];
    if (EventRead == Events.Count())
    {
        Events.Clear();
        EventRead = 0;
    }
    return 1;
}

void SWindow::QueueEvent(const SWindowEvent& event)
{
    Events.Add(event);
}

void SWindow::SwapBuffers()
{
    if (!Handle)
        return;
    BREAK_IF(!Owner->Backend->MakeCurrent(*this));
    Owner->Backend->Swap(*this);
}

void SWindow::SetTitle(const TString& title)
{
    // Title keeps the text as given (callers compare with it); the window shows it escaped.
    Title = title;
    if (Handle)
        Owner->Backend->SetTitle(*this, gSysIsDisplayText(title.Str()) ? title : DisplayText(title.Str()));
}

void SWindow::SetCursorPos(s32 x, s32 y)
{
    if (Handle)
        Owner->Backend->SetCursorPos(*this, x, y);
}

bool SWindow::MakeCurrent()
{
    return Handle && Owner->Backend->MakeCurrent(*this);
}

void SWindow::OnClientSize(s32 width, s32 height)
{
    if (!ResizeCallback)
        return;
    if (width == Mode.Width && height == Mode.Height)
        return;
    Mode.Width = width;
    Mode.Height = height;
    ResizeCallback(&Mode);
}

// ---------------------------------------------------------------------------------------------
void SWindowSystem::Pump()
{
    if (Backend)
        Backend->Pump();
}

bool SWindowSystem::WaitEvents(double seconds, int fd)
{
    return Backend ? Backend->Wait(seconds, fd) : gSysWaitReadable(fd, seconds);
}

void PumpWindowMessages()
{
    if (GWindowSystem)
        GWindowSystem->Pump();
}

const char* R_AntiAliasText(u32 samples, char* buffer, size_t size)
{
    static const char* const kWords[] = { "AA disabled", "2x AA", "4x AA", "8x AA" };
    if (samples <= 1)
        return kWords[0];
    u32 log2 = 0;
    for (u32 rest = samples >> 1; rest != 0; rest >>= 1)
        ++log2;
    if (log2 < 4)
        return kWords[log2];
    // Counts beyond the table are reported as they are.
    gSNPrintf(buffer, size, "%ux AA", samples);
    return buffer;
}

int R_SetMode(s32 width, s32 height, u32 fullscreen, u32 refresh, u32 swapInterval, u32 samples)
{
    SVideoMode mode;
    mode.Width = width;
    mode.Height = height;
    mode.Fullscreen = fullscreen;
    mode.RefreshRate = refresh;
    mode.SwapInterval = swapInterval;
    mode.Samples = samples;
    const bool contextChanged = GWindow != nullptr;
    if (GWindow)
        GWindow->SetMode(GWindowTitle, mode);

    GRefreshRate = refresh;
    GSwapInterval = swapInterval;
    GScreenWidth = width;
    GScreenHeight = height;
    GFullscreen = fullscreen;
    GSamples = samples;

    if (GWindowHooks.ModeChanged)
        GWindowHooks.ModeChanged(mode, contextChanged);
    return 1;
}
