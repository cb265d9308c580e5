#include "GameRedraw.h"

namespace
{
u32 GRedrawTicks = REDRAW_SETTLE_TICKS;
}

void R_RequestRedraw()
{
    GRedrawTicks = REDRAW_SETTLE_TICKS;
}

u32 R_RedrawTicksLeft()
{
    return GRedrawTicks;
}

void R_RedrawTickDone()
{
    if (GRedrawTicks > 0)
        --GRedrawTicks;
}

void R_RedrawSettled()
{
    GRedrawTicks = 0;
}
