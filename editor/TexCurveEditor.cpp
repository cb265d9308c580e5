// The curve editor inside a node's panel: time runs left to right, value bottom to top; a press
// adds a point or picks the one under the mouse, a drag moves it, and a point dragged past a
// neighbour's time is removed when the button is released.
#include "TexAnimCurve.h"

#include <GL/glew.h>
#include <math.h>

#include "GameInput.h"
#include "GameVertex.h"
#include "GameWindow.h"
#include "TexProcessor.h"

namespace
{
const mVec4 BACK_COLOR(0.08f, 0.08f, 0.1f, 0.9f);
const mVec4 CURVE_COLOR(0.5f, 0.2f, 0.1f, 1.0f);
const mVec4 POINT_COLOR(0.85f, 0.85f, 0.85f, 1.0f);
const mVec4 SELECTED_POINT_COLOR(1.0f, 0.75f, 0.2f, 1.0f);
const u32 POINT_SEGMENTS = 16;
const float POINT_RADIUS = 2.0f;     // window pixels at zoom 1, grown with the handle size
const float PICK_RADIUS = 5.0f;      // in handle sizes
const float CURVE_STEP = 5.0f;       // one curve vertex per this many canvas units over the zoom
const u32 MAX_CURVE_VERTICES = 4096; // a huge zoom still draws a bounded line

u32 PackColor(const mVec4& c)
{
    const auto byte = [](float v) { return (u32)(v <= 0 ? 0 : (v >= 1 ? 255 : v * 255.0f + 0.5f)); };
    return byte(c.x) | (byte(c.y) << 8) | (byte(c.z) << 16) | (byte(c.w) << 24);
}

float Clamp01(float v)
{
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

// The curve point under a window position of the editor's window rectangle.
mVec2 PointAt(const mRect& s, const mVec2& mouse)
{
    const float w = s.x1 - s.x0, h = s.y1 - s.y0;
    return mVec2(Clamp01((mouse.x - s.x0) / w), Clamp01(1.0f - (mouse.y - s.y0) / h));
}

mVec2 ScreenOf(const mRect& s, const mVec2& p)
{
    return mVec2(s.x0 + p.x * (s.x1 - s.x0), s.y1 - p.y * (s.y1 - s.y0));
}

bool OnScreen(const mRect& s)
{
    return s.x1 > s.x0 && s.y1 > s.y0 && s.x1 > 0 && s.y1 > 0 && s.x0 < (float)GScreenWidth &&
           s.y0 < (float)GScreenHeight;
}

int Hovered(const SAnimCurve& c, const mRect& s, float pick, float zoom)
{
    int best = -1;
    float bestDist = pick / zoom;
    for (u32 i = 0; i < c.Points.Count(); ++i)
    {
        const mVec2 d = ScreenOf(s, c.Points[i]) - GMousePos;
        const float dist = sqrtf(d.x * d.x + d.y * d.y);
        if (dist < bestDist)
        {
            bestDist = dist;
            best = (int)i;
        }
    }
    return best;
}

// Follows the mouse with the selected point; 1 when the button is up and the drag ended.
int Drag(SAnimCurve& c, const mRect& s)
{
    const u32 sel = (u32)c.Selected;
    c.Points[sel] = PointAt(s, GMousePos);
    const float t = c.Points[sel].x;
    const bool ordered = (sel == 0 || t > c.Points[sel - 1].x) && (sel + 1 >= c.Points.Count() || t < c.Points[sel + 1].x);
    c.Active[sel] = ordered ? 1 : 0;
    if (GMouseLeft)
        return 0;
    if (!c.Active[sel])
    {
        c.Points.Remove(sel);
        c.Active.Remove(sel);
    }
    c.Selected = -1;
    return 1;
}
} // namespace

int CurveEditor(STexProcNode& node, SAnimCurve& c, const mRect& rect, bool editable)
{
    mRect s;
    node.TransformRect(s, rect);
    if (!OnScreen(s))
        return 0;
    // Each point has its flag: a record filled by hand may lack them.
    while (c.Active.Count() < c.Points.Count())
        c.Active.Add(1);
    if (c.Selected >= (s32)c.Points.Count())
        c.Selected = -1;
    const float zoom = node.Owner ? node.Owner->Zoom : 1.0f;
    const float handle = (zoom - 1.0f) * 0.25f + 1.0f;
    int changed = 0;
    if (editable)
    {
        const int hovered = c.Selected < 0 ? Hovered(c, s, PICK_RADIUS * handle, zoom) : -1;
        const u32 busy = node.Owner ? node.Owner->BusyCount : 0;
        // Points on the edges (times 0 and 1, values 0 and 1) can be picked from just outside.
        const float pick = PICK_RADIUS * handle;
        const mRect reach = hovered >= 0 ? mRect{s.x0 - pick, s.y0 - pick, s.x1 + pick, s.y1 + pick} : s;
        if (GUI_LeftPressed() && busy == 0 && node.IsMouseOver(reach))
        {
            if (hovered >= 0)
                c.Selected = hovered;
            else
            {
                const mVec2 p = PointAt(s, GMousePos);
                u32 at = 0;
                while (at < c.Points.Count() && c.Points[at].x <= p.x)
                    ++at;
                c.Points.Insert(at, p);
                c.Active.Insert(at, 1);
                c.Selected = (s32)at;
            }
        }
        if (c.Selected >= 0)
            changed = Drag(c, s);
    }

    node.UseColorOnly();
    node.DrawRect(s, BACK_COLOR, true);
    const float width = rect.x1 - rect.x0;
    u32 steps = (u32)ceilf(width / (CURVE_STEP / zoom));
    steps = steps < 1 ? 1 : (steps >= MAX_CURVE_VERTICES ? MAX_CURVE_VERTICES - 1 : steps);
    TPodArray<SColVtx> line;
    if (line.Resize(steps + 1))
    {
        const u32 color = PackColor(CURVE_COLOR);
        for (u32 i = 0; i <= steps; ++i)
        {
            const float t = (float)i / (float)steps;
            const mVec2 p = ScreenOf(s, mVec2(t, EvaluateAnimCurve(c, t)));
            line[i] = SColVtx{p.x, p.y, 0.0f, color};
        }
        node.BeginDraw();
        DrawColoredPrimitives(line.data, line.Count(), GL_LINE_STRIP);
    }
    for (u32 i = 0; i < c.Points.Count(); ++i)
        if (c.Active[i])
            node.DrawCircle(ScreenOf(s, c.Points[i]), POINT_RADIUS * handle, POINT_SEGMENTS,
                            (s32)i == c.Selected ? SELECTED_POINT_COLOR : POINT_COLOR, false);
    return changed;
}
