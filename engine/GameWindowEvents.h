// Translation of SDL's events into the engine's window events.
// Kept apart from the window so that it is a pure function with its own table.
#pragma once

#include "GameWindow.h"

union SDL_Event;

// Most engine events one SDL event can produce (a text event of up to 31 characters).
static const u32 WIN_MAX_TRANSLATED = 32;

// Classic virtual-key code of an SDL key (scancode and keycode as SDL gives them); 0 when the key has none.
// Letters follow the keyboard layout (keycode), every other key its position (scancode).
u32 WIN_VirtualKey(int scancode, int keycode);

// Writes the engine events for one SDL event to out (at most maxOut) and returns their count.
// Window-management events that are not input (resize, expose) give none; the window handles them itself.
u32 WIN_TranslateEvent(const SDL_Event& event, SWindowEvent* out, u32 maxOut);
