// The two ways the window layer reaches a display: SDL on X11, or off-screen EGL on Mesa.
// Internal to the window module.
#pragma once

#include "GameWindow.h"

struct SWindowBackend
{
    virtual ~SWindowBackend() {}
    // Makes the dummy context current.
    virtual bool MakeDummyCurrent() = 0;
    // Creates the window's surface and a context sharing the dummy's objects, makes it current.
    // Failures are fatal.
    virtual void Create(SWindow& window, const TString& title, const SVideoMode& mode) = 0;
    // Releases the context and destroys the surface and the window.
    virtual void Destroy(SWindow& window) = 0;
    virtual bool MakeCurrent(SWindow& window) = 0;
    virtual void Swap(SWindow& window) = 0;
    virtual void SetTitle(SWindow& window, const TString& title) = 0;
    virtual void SetCursorPos(SWindow& window, s32 x, s32 y) = 0;
    virtual void SetResizable(SWindow& window, bool resizable) = 0;
    // Takes the display's pending events into the queues of the windows this back-end made.
    virtual void Pump() = 0;
    // Waits at most the seconds for the display's next event (left for Pump) or for input on fd
    // (-1: none), whichever comes first; true when one of them is there. A back-end that receives
    // no events waits for fd alone.
    virtual bool Wait(double seconds, int fd) = 0;
};

// Null, with the reason in failure, when no display can be opened.
SWindowBackend* WIN_CreateSDLBackend(TString& failure);
// Failures are fatal.
SWindowBackend* WIN_CreateEGLBackend();
