#include "XvfbDriveTest.h"

#include <GL/glew.h>
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdlib.h>

#include "GameWindow.h"

namespace
{
const float FRAME_TIME = 1.0f / 60.0f;
const Uint32 EVENT_WAIT_MS = 10000;
const Uint32 POLL_DELAY_MS = 5;
} // namespace

TBoundKeys::TBoundKeys(const std::vector<unsigned long>& keysyms)
{
    Display* d = XOpenDisplay(nullptr);
    display = d;
    if (!d)
        return;
    int first = 0, last = 0, perCode = 0;
    XDisplayKeycodes(d, &first, &last);
    KeySym* map = XGetKeyboardMapping(d, (KeyCode)first, last - first + 1, &perCode);
    if (!map)
        return;
    // Spare keys from the top: xdotool takes the lowest spare one for its own bindings.
    for (int code = last; code >= first && keycodes.size() < keysyms.size(); --code)
    {
        bool spare = true;
        for (int k = 0; k < perCode; ++k)
            spare = spare && map[(code - first) * perCode + k] == NoSymbol;
        if (spare)
            keycodes.push_back(code);
    }
    XFree(map);
    for (size_t i = 0; i < keycodes.size(); ++i)
    {
        KeySym cases[2];
        XConvertCase(keysyms[i], &cases[0], &cases[1]);
        XChangeKeyboardMapping(d, keycodes[i], 2, cases, 1);
    }
    XSync(d, False);
    bound = keycodes.size() == keysyms.size();
}

TBoundKeys::~TBoundKeys()
{
    Display* d = (Display*)display;
    if (!d)
        return;
    for (int code : keycodes)
    {
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(d, code, 1, &none, 1);
    }
    XSync(d, False);
    XCloseDisplay(d);
}

void XvfbDriveTest::SetUp()
{
    ASSERT_NE(getenv("DISPLAY"), nullptr);
    GUIDrawTest::SetUp();
    ASSERT_FALSE(GWindowSystem->IsOffscreen());
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo((SDL_Window*)GWindow->Handle, &info));
    xid = (unsigned long)info.info.x11.window;
}

void XvfbDriveTest::TearDown()
{
    XDo("mouseup 1");
    GUIDrawTest::TearDown();
}

void XvfbDriveTest::XDo(const std::string& args)
{
    const std::string cmd = "xdotool " + args + " >/dev/null 2>&1";
    ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
}

void XvfbDriveTest::MoveTo(SGUILayer& root, int x, int y)
{
    XDo("mousemove --window " + std::to_string(xid) + " " + std::to_string(x) + " " + std::to_string(y));
    ASSERT_TRUE(RunUntil(root, [&] { return GMousePos.x == (float)x && GMousePos.y == (float)y; })) << x << "," << y;
}

void XvfbDriveTest::Tick(SGUILayer& root)
{
    InputKeepPrevious();
    ProcessEvents();
    glClear(GL_COLOR_BUFFER_BIT);
    SGUILayer::DrawTree(&root, FRAME_TIME);
    glFinish();
}

bool XvfbDriveTest::RunUntil(SGUILayer& root, const std::function<bool()>& done)
{
    const Uint32 start = SDL_GetTicks();
    while (SDL_GetTicks() - start < EVENT_WAIT_MS)
    {
        Tick(root);
        if (done())
            return true;
        SDL_Delay(POLL_DELAY_MS);
    }
    return false;
}
