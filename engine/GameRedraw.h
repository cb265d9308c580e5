// What the window shows is drawn again only when something changed it. Whoever changes the
// picture (window events, console lines, uploaded texture levels, the application) asks for a
// redraw; the main loop then draws frames until REDRAW_SETTLE_TICKS ticks have run without a
// further request, and otherwise keeps the last frame and waits. Main thread only.
#pragma once

#include "GameSys.h"

// Ticks drawn after the last request: an immediate-mode interface shows the effect of an input
// on the tick after it (a menu opened by a click is drawn by the next walk of the tree).
static const u32 REDRAW_SETTLE_TICKS = 4;

// The picture changed, or changes in the coming ticks.
void R_RequestRedraw();
// Ticks still to be drawn; 0 when the picture is settled.
u32 R_RedrawTicksLeft();
// One tick was drawn.
void R_RedrawTickDone();
// No redraw pending (the picture on screen is current).
void R_RedrawSettled();
