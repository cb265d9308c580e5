// The window on a display: SDL on X11 with GLX contexts of the compatibility profile.
#include "GameWindowBackend.h"
#include "GameWindowEvents.h"
#include "GameRedraw.h"
#include "GameSys.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

namespace
{

// Windows made by SDL, so that the pump can hand each event to its window.
TPodArray<SWindow*> GSDLWindows;

SDL_Window* AsWindow(const SWindow& w)
{
    return (SDL_Window*)w.Handle;
}

void SetContextAttributes(bool share)
{
    SDL_GL_ResetAttributes();
    // Never core: the engine draws quads, uses client-side arrays and turns colour clamping off.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, share ? 1 : 0);
}

// A display that is there can still turn a connection away for a moment: a starved X server
// leaves new connections unanswered (EAGAIN) while its clients come and go. Such a refusal passes
// within milliseconds, so the connection is tried again for a little over half a second before
// the display counts as refusing; one that refuses for good costs no more than that.
const double DISPLAY_FIRST_RETRY_S = 0.01;
const int DISPLAY_RETRIES = 6; // waits double each time: 0.01 to 0.32 s, 0.63 s in all

bool InitVideo()
{
    double wait = DISPLAY_FIRST_RETRY_S;
    for (int retry = 0;; ++retry, wait *= 2.0)
    {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0)
            return true;
        if (retry == DISPLAY_RETRIES)
            return false;
        gSysSleep(wait);
    }
}

class SSDLBackend : public SWindowBackend
{
public:
    SDL_Window* Dummy = nullptr;
    SDL_GLContext DummyContext = nullptr;
    int DisplayFd = -1; // the connection to the X server, which SDL reads its events from

    bool Open()
    {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        if (!InitVideo())
            return false;
        SetContextAttributes(false);
        Dummy = SDL_CreateWindow("", 1, 1, 32, 32, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS);
        if (!Dummy)
            FatalError("ASSERT\n\nThis test expression is false:\n\n%s\n\nSDL: %s",
                       "Window || !\"Could not create a dummy window\"", SDL_GetError());
        DummyContext = SDL_GL_CreateContext(Dummy);
        if (!DummyContext)
            FatalError("Failed to create the window Rendering Context: SDL: %s", SDL_GetError());
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(Dummy, &info) && info.subsystem == SDL_SYSWM_X11)
            DisplayFd = ConnectionNumber(info.info.x11.display);
        return true;
    }

    ~SSDLBackend() override
    {
        SDL_GL_MakeCurrent(nullptr, nullptr);
        if (DummyContext)
            SDL_GL_DeleteContext(DummyContext);
        if (Dummy)
            SDL_DestroyWindow(Dummy);
        // SDL's video layer stays up for the rest of the process: closing its display would unload
        // the GL driver while other code may still hold GL objects, and message boxes use SDL too.
    }

    bool MakeDummyCurrent() override
    {
        return SDL_GL_MakeCurrent(Dummy, DummyContext) == 0;
    }

    void Create(SWindow& window, const TString& title, const SVideoMode& mode) override
    {
        Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
        if (window.ResizeCallback)
            flags |= SDL_WINDOW_RESIZABLE;
        if (mode.Fullscreen)
            flags |= SDL_WINDOW_BORDERLESS;
        const int x = mode.Fullscreen ? 0 : (int)SDL_WINDOWPOS_CENTERED;
        const int y = mode.Fullscreen ? 0 : (int)SDL_WINDOWPOS_CENTERED;
        SDL_Window* w = SDL_CreateWindow(title.Str(), x, y, mode.Width, mode.Height, flags);
        if (!w)
            FatalError("Failed to create a window: SDL: %s", SDL_GetError());
        window.Handle = w;
        GSDLWindows.Add(&window);

        // The new context shares the dummy's objects, so textures and programs outlive a mode change.
        if (!MakeDummyCurrent())
            FatalError("Failed to set the window Rendering Context: SDL: %s", SDL_GetError());
        SetContextAttributes(true);
        SDL_GLContext context = SDL_GL_CreateContext(w);
        if (!context)
            FatalError("Failed to create the window Rendering Context: SDL: %s", SDL_GetError());
        window.Context = context;
        if (SDL_GL_MakeCurrent(w, context) != 0)
            FatalError("Failed to set the window Rendering Context: SDL: %s", SDL_GetError());
        SDL_GL_SetSwapInterval(mode.SwapInterval ? 1 : 0);

        if (mode.Fullscreen)
        {
            SDL_DisplayMode display;
            if (SDL_GetCurrentDisplayMode(0, &display) != 0)
                gMemSet(&display, 0, sizeof(display));
            display.w = mode.Width;
            display.h = mode.Height;
            if (mode.RefreshRate)
                display.refresh_rate = (int)mode.RefreshRate;
            if (SDL_SetWindowDisplayMode(w, &display) != 0 || SDL_SetWindowFullscreen(w, SDL_WINDOW_FULLSCREEN) != 0)
                FatalError("Could not initialize requested fullscreen mode (%d x %d x %d - %d Hz\n", mode.Width,
                           mode.Height, 32, display.refresh_rate);
            SDL_GL_SetSwapInterval(mode.SwapInterval ? 1 : 0);
        }
    }

    void Destroy(SWindow& window) override
    {
        SDL_Window* w = AsWindow(window);
        if (w && window.Mode.Fullscreen)
            SDL_SetWindowFullscreen(w, 0);
        if (window.Context)
        {
            SDL_GL_MakeCurrent(nullptr, nullptr);
            SDL_GL_DeleteContext((SDL_GLContext)window.Context);
        }
        if (w)
            SDL_DestroyWindow(w);
        for (u32 i = 0; i < GSDLWindows.Count(); ++i)
            if (GSDLWindows[i] == &window)
            {
                GSDLWindows.Remove(i);
                break;
            }
    }

    bool MakeCurrent(SWindow& window) override
    {
        return SDL_GL_MakeCurrent(AsWindow(window), (SDL_GLContext)window.Context) == 0;
    }

    void Swap(SWindow& window) override
    {
        SDL_GL_SwapWindow(AsWindow(window));
    }

    void SetTitle(SWindow& window, const TString& title) override
    {
        SDL_SetWindowTitle(AsWindow(window), title.Str());
    }

    void SetCursorPos(SWindow& window, s32 x, s32 y) override
    {
        SDL_WarpMouseInWindow(AsWindow(window), x, y);
    }

    void Pump() override;

    bool Wait(double seconds, int fd) override
    {
        if (!SDL_WasInit(SDL_INIT_VIDEO))
            return gSysWaitReadable(fd, seconds);
        // What the display sent already is read first: the connection then holds only what is new.
        SDL_PumpEvents();
        if (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT))
            return true;
        // SDL's own wait knows only the display: both are watched in one sleep.
        const int fds[] = {DisplayFd, fd};
        return gSysWaitReadable(fds, sizeof(fds) / sizeof(fds[0]), seconds);
    }

    void SetResizable(SWindow& window, bool resizable) override
    {
        SDL_SetWindowResizable(AsWindow(window), resizable ? SDL_TRUE : SDL_FALSE);
    }
};

SWindow* FindWindow(Uint32 id)
{
    for (u32 i = 0; i < GSDLWindows.Count(); ++i)
        if (SDL_GetWindowID(AsWindow(*GSDLWindows[i])) == id)
            return GSDLWindows[i];
    return nullptr;
}

// The window an event belongs to; null for events of other windows (the dummy).
SWindow* EventWindow(const SDL_Event& e)
{
    switch (e.type)
    {
    case SDL_WINDOWEVENT: return FindWindow(e.window.windowID);
    case SDL_KEYDOWN:
    case SDL_KEYUP: return FindWindow(e.key.windowID);
    case SDL_TEXTINPUT: return FindWindow(e.text.windowID);
    case SDL_MOUSEMOTION: return FindWindow(e.motion.windowID);
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return FindWindow(e.button.windowID);
    case SDL_MOUSEWHEEL: return FindWindow(e.wheel.windowID);
    default: return GSDLWindows.Count() ? GSDLWindows[0] : nullptr;
    }
}
} // namespace

SWindowBackend* WIN_CreateSDLBackend(TString& failure)
{
    SSDLBackend* backend = new SSDLBackend;
    if (!backend->Open())
    {
        failure = "SDL: ";
        failure += SDL_GetError();
        delete backend;
        return nullptr;
    }
    return backend;
}

static void PumpSDL()
{
    if (!SDL_WasInit(SDL_INIT_VIDEO))
        return;
    SDL_Event e;
    while (SDL_PollEvent(&e))
    {
        SWindow* window = EventWindow(e);
        if (!window)
            continue;
        // Input and window events (expose, resize, focus) may change the picture.
        R_RequestRedraw();
        if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
            window->OnClientSize(e.window.data1, e.window.data2);
        SWindowEvent out[WIN_MAX_TRANSLATED];
        const u32 n = WIN_TranslateEvent(e, out, WIN_MAX_TRANSLATED);
        for (u32 i = 0; i < n; ++i)
            window->QueueEvent(out[i]);
    }
}

void SSDLBackend::Pump()
{
    PumpSDL();
}
