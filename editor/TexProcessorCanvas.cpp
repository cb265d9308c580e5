// The canvas: each tick it processes the update list, tidies the menus and the prompt, pans and
// zooms, runs the link drag between pins and draws the links as curves.
#include "TexProcessor.h"

#include <GL/glew.h>
#include <math.h>

#include "GameInput.h"
#include "GameVertex.h"
#include "GameWindow.h"

namespace
{
const mVec4 LINK_COLOR(0, 0, 0, 1);
const mVec4 DRAG_LINK_COLOR(0.7f, 0.2f, 0.1f, 1);
const mVec4 DRAG_TARGET_COLOR(0.7f, 0.4f, 0.1f, 1);
const mVec4 HOVER_INPUT_COLOR(0.4f, 0.6f, 0.8f, 1);
const mVec4 HOVER_OUTPUT_COLOR(0.8f, 0.6f, 0.4f, 1);
const float DRAG_TARGET_RADIUS = 7.0f;
const u32 DRAG_TARGET_SEGMENTS = 16;
const float HOVER_RADIUS = 6.0f;
const u32 HOVER_SEGMENTS = 32;
// A link is drawn as floor(length / LINK_SEGMENT_LENGTH) + LINK_MIN_SEGMENTS straight pieces.
const float LINK_SEGMENT_LENGTH = 50.0f;
const u32 LINK_MIN_SEGMENTS = 8;
// A link across a huge zoom would otherwise ask for millions of pieces.
const u32 LINK_MAX_SEGMENTS = 4096;
// A zoom drag needs a start this far (pixels) from its pivot to measure a ratio against.
const float ZOOM_DRAG_MIN_DISTANCE = 1e-3f;

bool Down(u32 code)
{
    return code < INPUT_KEY_COUNT && GKeys[code] != 0;
}

bool WasDown(u32 code)
{
    return code < INPUT_KEY_COUNT && GPrevKeys[code] != 0;
}

float Length(const mVec2& v)
{
    return sqrtf(v.x * v.x + v.y * v.y);
}
} // namespace

mVec2 STexProcessor::PinScreenPos(const NodePin* pin)
{
    mVec2 c(0, 0);
    if (!pin || !pin->Owner || !pin->Owner->PinCanvasPos(pin, c))
        return mVec2(0, 0);
    mVec2 s;
    pin->Owner->TransformPoint(s, c);
    return s;
}

static bool PinHit(STexProcessor& p, const NodePin* pin)
{
    const mVec2 s = p.PinScreenPos(pin);
    const float r = NODE_PIN_HALF * p.Zoom;
    return gAbs(s.x - GMousePos.x) <= r && gAbs(s.y - GMousePos.y) <= r;
}

NodePin* STexProcessor::PinUnderMouse(STexProcNode* node)
{
    NodePin* hit = nullptr;
    for (u32 i = 0; i < node->InParams.Count(); ++i)
        if (PinHit(*this, node->InParams[i]))
            hit = node->InParams[i];
    for (u32 i = 0; i < node->OutParams.Count(); ++i)
        if (PinHit(*this, node->OutParams[i]))
            hit = node->OutParams[i];
    return hit;
}

void STexProcessor::BeginLinkDrag(s32 direction, NodePin* pin, const mVec2& mouse)
{
    LinkDragDir = direction;
    LinkDragPin = pin;
    LinkDragMouse = mouse;
}

u32 CanvasLinkSegments(const mVec2& from, const mVec2& to, float screenWidth, float screenHeight)
{
    const float d = Length(to - from);
    if (!isfinite(d) || !isfinite(from.x) || !isfinite(from.y) || !isfinite(to.x) || !isfinite(to.y))
        return 0;
    const float h = d * 0.5f;
    const float x0 = (from.x < to.x ? from.x : to.x) - h, x1 = (from.x < to.x ? to.x : from.x) + h;
    const float y0 = (from.y < to.y ? from.y : to.y) - h, y1 = (from.y < to.y ? to.y : from.y) + h;
    if (x1 < 0 || x0 > screenWidth || y1 < 0 || y0 > screenHeight)
        return 0;
    const float pieces = gFloor(d / LINK_SEGMENT_LENGTH) + (float)LINK_MIN_SEGMENTS;
    return pieces < (float)LINK_MAX_SEGMENTS ? (u32)pieces : LINK_MAX_SEGMENTS;
}

void STexProcessor::DrawLink(const mVec2& from, const mVec2& to, const mVec4& color)
{
    const u32 n = CanvasLinkSegments(from, to, (float)GScreenWidth, (float)GScreenHeight);
    if (n == 0)
        return;
    const float h = Length(to - from) * 0.5f;
    TPodArray<STfCVtx> v;
    if (!v.Resize(n + 1))
        return;
    const mVec2 c0 = from + mVec2(h, 0), c1 = to - mVec2(h, 0);
    for (u32 i = 0; i <= n; ++i)
    {
        const float t = (float)i / (float)n, u = 1.0f - t;
        const mVec2 p = from * (u * u * u) + c0 * (3 * u * u * t) + c1 * (3 * u * t * t) + to * (t * t * t);
        v[i] = STfCVtx{p.x, p.y, 0, 0, 0, 0, color.x, color.y, color.z, color.w};
    }
    UseColorOnly();
    BeginDraw();
    DrawTexColoredPrimitives(v.data, n + 1, GL_LINE_STRIP);
}

void STexProcessor::CanvasDrags()
{
    // Pan: left Shift or the middle button.
    const bool panDown = Down(CANVAS_KEY_Pan) || Down(KEY_MouseMiddle);
    const bool panWasDown = WasDown(CANVAS_KEY_Pan) || WasDown(KEY_MouseMiddle);
    if (panDown && !panWasDown && BusyCount == 0)
    {
        DragStartMouse = GMousePos;
        DragPivot = Pan;
        Panning = 1;
        ++BusyCount;
    }
    else if (panDown && Panning)
        Pan = DragPivot + (DragStartMouse - GMousePos) / Zoom;
    else if (!panDown && Panning)
    {
        Panning = 0;
        if (BusyCount)
            --BusyCount;
    }

    // Zoom: left Control, by the distance of the mouse from the screen centre.
    const int zoomKey = GetKeyStatus(CANVAS_KEY_Zoom);
    if (zoomKey == KS_Pressed && BusyCount == 0)
    {
        DragPivot = mVec2((float)GScreenWidth * 0.5f, (float)GScreenHeight * 0.5f);
        DragStartMouse = GMousePos;
        ZoomAtDragStart = Zoom;
        Zooming = 1;
        ++BusyCount;
    }
    else if ((zoomKey == KS_Held || zoomKey == KS_Pressed) && Zooming)
    {
        const float d0 = Length(DragPivot - DragStartMouse);
        if (d0 > ZOOM_DRAG_MIN_DISTANCE)
            Zoom = ZoomAtDragStart * Length(DragPivot - GMousePos) / d0;
    }
    else if ((zoomKey == KS_Released || zoomKey == KS_Up) && Zooming)
    {
        Zooming = 0;
        if (BusyCount)
            --BusyCount;
    }

    const int towards = GetKeyStatus(KEY_WheelTowards);
    const int away = GetKeyStatus(KEY_WheelAway);
    if ((towards == KS_Pressed || towards == KS_Held) && BusyCount == 0)
        Zoom *= CANVAS_WHEEL_OUT;
    if ((away == KS_Pressed || away == KS_Held) && BusyCount == 0)
        Zoom *= CANVAS_WHEEL_IN;
    if (!isfinite(Zoom))
        Zoom = Zoom > 0 ? CANVAS_MAX_ZOOM : 1.0f;
    Zoom = GUI_Clamp(Zoom, CANVAS_MIN_ZOOM, CANVAS_MAX_ZOOM);
}

void STexProcessor::LinkDragFrame()
{
    if (LinkDragDir != 0 && LinkDragPin)
    {
        LinkDragMouse = GMousePos;
        NodePin* target = nullptr;
        for (u32 n = 0; n < Nodes.Count() && !target; ++n)
        {
            STexProcNode* node = Nodes[n];
            if (node == LinkDragPin->Owner)
                continue;
            const TArray<NodePin*>& pins = LinkDragDir > 0 ? node->InParams : node->OutParams;
            for (u32 i = 0; i < pins.Count() && !target; ++i)
                if (PinHit(*this, pins[i]))
                    target = pins[i];
        }
        if (GUI_LeftReleased())
        {
            if (target)
            {
                if (LinkDragDir > 0)
                    Link(LinkDragPin, target);
                else
                    Link(target, LinkDragPin);
            }
            LinkDragDir = 0;
            LinkDragPin = nullptr;
            return;
        }
        const mVec2 pin = PinScreenPos(LinkDragPin);
        if (LinkDragDir > 0)
            DrawLink(pin, GMousePos, DRAG_LINK_COLOR);
        else
            DrawLink(GMousePos, pin, DRAG_LINK_COLOR);
        if (target)
        {
            UseColorOnly();
            DrawCircle(PinScreenPos(target), DRAG_TARGET_RADIUS * Zoom, DRAG_TARGET_SEGMENTS, DRAG_TARGET_COLOR, false);
        }
        return;
    }
    LinkDragDir = 0;
    LinkDragPin = nullptr;
    for (u32 n = 0; n < Nodes.Count(); ++n)
        for (int side = 0; side < 2; ++side)
        {
            const TArray<NodePin*>& pins = side == 0 ? Nodes[n]->InParams : Nodes[n]->OutParams;
            for (u32 i = 0; i < pins.Count(); ++i)
                if (PinHit(*this, pins[i]))
                {
                    UseColorOnly();
                    DrawCircle(PinScreenPos(pins[i]), HOVER_RADIUS * Zoom, HOVER_SEGMENTS,
                               side == 0 ? HOVER_INPUT_COLOR : HOVER_OUTPUT_COLOR, false);
                    return;
                }
        }
}

void STexProcessor::DrawLinks()
{
    for (u32 n = 0; n < Nodes.Count(); ++n)
        for (NodePin* out : Nodes[n]->OutParams)
            for (NodePin* in : out->Links)
                DrawLink(PinScreenPos(out), PinScreenPos(in), LINK_COLOR);
}

void STexProcessor::Frame()
{
    // Edits that queued up while the editor was busy are all applied first: a burst costs one run.
    if (!GInputBehind)
        ProcessUpdateList();
    DeletePending();
    if (LayoutsDue)
    {
        LayoutsDue = 0;
        for (u32 i = 0; i < Nodes.Count(); ++i)
            if (!Nodes[i]->LaidOut)
                LayOut(Nodes[i], false);
    }

    if (NodeMenuSlot && (!NodeMenuSlot->Open || Prompt))
    {
        DropLayer(NodeMenuSlot);
        NodeMenuSlot = nullptr;
    }
    if (GUI_RightReleased() && !NodeMenuSlot)
    {
        // Only nodes of the graph have a node menu (not the prompt, not a menu).
        STexProcNode* node = dynamic_cast<STexProcNode*>(ChildUnderMouse());
        if (node && IndexOfNode(node) >= 0)
            OpenNodeSlotMenu(new NodeMenu(node, this));
    }
    if (Prompt && (!Prompt->Open || NodeMenuSlot))
    {
        DropLayer(Prompt);
        Prompt = nullptr;
    }

    CanvasDrags();
    LinkDragFrame();
    DrawLinks();
}
