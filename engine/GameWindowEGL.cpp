// The window without a display: an off-screen OpenGL context made with EGL on Mesa.
// The "window" is a pbuffer of the mode's size; it queues no events and its swap does nothing.
#include "GameWindowBackend.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

namespace
{
class SEGLBackend : public SWindowBackend
{
public:
    EGLDisplay Display = EGL_NO_DISPLAY;
    EGLConfig Config = nullptr;
    EGLSurface DummySurface = EGL_NO_SURFACE;
    EGLContext DummyContext = EGL_NO_CONTEXT;

    void Open()
    {
        auto getPlatformDisplay = (PFNEGLGETPLATFORMDISPLAYEXTPROC)eglGetProcAddress("eglGetPlatformDisplayEXT");
        if (getPlatformDisplay)
            Display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (Display == EGL_NO_DISPLAY)
            Display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        EGLint major = 0, minor = 0;
        if (Display == EGL_NO_DISPLAY || !eglInitialize(Display, &major, &minor))
            FatalError("Failed to get the window Display Context");

        const EGLint attributes[] = {
            EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
            EGL_RED_SIZE,     8,               EGL_GREEN_SIZE,      8,
            EGL_BLUE_SIZE,    8,               EGL_ALPHA_SIZE,      8,
            EGL_DEPTH_SIZE,   24,              EGL_STENCIL_SIZE,    8,
            EGL_NONE,
        };
        EGLint found = 0;
        if (!eglChooseConfig(Display, attributes, &Config, 1, &found) || found < 1)
            FatalError("Failed to choose a pixel format");

        DummySurface = CreateSurface(32, 32);
        if (DummySurface == EGL_NO_SURFACE)
            FatalError("Failed to set a pixel format");
        DummyContext = CreateContext(EGL_NO_CONTEXT);
        if (DummyContext == EGL_NO_CONTEXT)
            FatalError("Failed to create the window Rendering Context");
    }

    ~SEGLBackend() override
    {
        if (Display == EGL_NO_DISPLAY)
            return;
        eglMakeCurrent(Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (DummyContext != EGL_NO_CONTEXT)
            eglDestroyContext(Display, DummyContext);
        if (DummySurface != EGL_NO_SURFACE)
            eglDestroySurface(Display, DummySurface);
        // The display is not terminated: EGL hands every caller the same display, so terminating it
        // would end contexts that other window systems of this process still use.
    }

    EGLSurface CreateSurface(s32 width, s32 height)
    {
        const EGLint size[] = { EGL_WIDTH, width > 0 ? width : 1, EGL_HEIGHT, height > 0 ? height : 1, EGL_NONE };
        return eglCreatePbufferSurface(Display, Config, size);
    }

    EGLContext CreateContext(EGLContext share)
    {
        // Desktop OpenGL without a profile attribute: Mesa gives the compatibility profile.
        if (!eglBindAPI(EGL_OPENGL_API))
            return EGL_NO_CONTEXT;
        return eglCreateContext(Display, Config, share, nullptr);
    }

    bool MakeDummyCurrent() override
    {
        return eglMakeCurrent(Display, DummySurface, DummySurface, DummyContext) == EGL_TRUE;
    }

    void Create(SWindow& window, const TString&, const SVideoMode& mode) override
    {
        EGLSurface surface = CreateSurface(mode.Width, mode.Height);
        if (surface == EGL_NO_SURFACE)
            FatalError("Failed to create a window");
        window.Handle = surface;
        EGLContext context = CreateContext(DummyContext);
        if (context == EGL_NO_CONTEXT)
            FatalError("Failed to create the window Rendering Context");
        window.Context = context;
        if (!MakeCurrent(window))
            FatalError("Failed to set the window Rendering Context");
    }

    void Destroy(SWindow& window) override
    {
        eglMakeCurrent(Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (window.Context)
            eglDestroyContext(Display, (EGLContext)window.Context);
        if (window.Handle)
            eglDestroySurface(Display, (EGLSurface)window.Handle);
    }

    bool MakeCurrent(SWindow& window) override
    {
        return eglMakeCurrent(Display, (EGLSurface)window.Handle, (EGLSurface)window.Handle,
                              (EGLContext)window.Context) == EGL_TRUE;
    }

    // Nothing is shown, so there is nothing to swap; the pbuffer keeps what was drawn.
    void Swap(SWindow&) override {}
    void SetTitle(SWindow&, const TString&) override {}
    void SetCursorPos(SWindow&, s32, s32) override {}
    void SetResizable(SWindow&, bool) override {}
    // A pbuffer receives no events.
    void Pump() override {}
    bool Wait(double seconds, int fd) override { return gSysWaitReadable(fd, seconds); }
};
} // namespace

SWindowBackend* WIN_CreateEGLBackend()
{
    SEGLBackend* backend = new SEGLBackend;
    backend->Open();
    return backend;
}
