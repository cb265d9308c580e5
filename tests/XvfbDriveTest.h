// A GUI drawing fixture for the suites that run under Xvfb: a real window, the pointer and keys
// sent through XTest (xdotool), and ticks of the engine's event path with the tree drawn each tick.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "GUITestSupport.h"

// Keys of the X keymap bound to characters it lacks (Aacute, say) for the object's life, so that
// xdotool types them as ordinary keys. Left to itself it binds such a character to a spare key
// only while it presses it: a client that reads the press a moment later (a first frame that
// compiles its shaders, on a machine without a warm shader cache) finds the key unbound again and
// gets no character.
class TBoundKeys
{
public:
    explicit TBoundKeys(const std::vector<unsigned long>& keysyms);
    ~TBoundKeys();
    TBoundKeys(const TBoundKeys&) = delete;
    TBoundKeys& operator=(const TBoundKeys&) = delete;
    // Whether every character got a key.
    bool Bound() const { return bound; }

private:
    void* display = nullptr;
    std::vector<int> keycodes;
    bool bound = false;
};

class XvfbDriveTest : public GUIDrawTest
{
protected:
    // The X window of the engine's window, for xdotool.
    unsigned long xid = 0;

    void SetUp() override;
    // Lets go of the mouse button, so that a failed test leaves no press behind.
    void TearDown() override;

    // Runs xdotool with args; asserts that it succeeded.
    static void XDo(const std::string& args);
    // Moves the pointer to window pixel (x, y) and ticks until the input state has it there.
    void MoveTo(SGUILayer& root, int x, int y);
    // One tick: the engine's input step, then the tree drawn over a cleared frame.
    void Tick(SGUILayer& root);
    // Ticks until done holds after a tick, for a bounded time (X events come late on a busy machine).
    bool RunUntil(SGUILayer& root, const std::function<bool()>& done);
};
