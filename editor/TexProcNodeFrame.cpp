// The node box on the canvas: caption with its drag, pins with their link drags, the class's rows
// and the base rows (animation curves, preview or status text), all in canvas units through the
// processor's pan and zoom.
#include "TexProcNode.h"

#include "GameFont.h"
#include "GameInput.h"
#include "TexAnimCurve.h"
#include "TexProcessor.h"

namespace
{
const mVec4 WHITE(1, 1, 1, 1);
const mVec4 BODY_COLOR(0.18f, 0.18f, 0.2f, 0.92f);
const mVec4 CAPTION_FLAT_COLOR(0.3f, 0.35f, 0.5f, 1.0f);
const mVec4 PIN_UNLINKED_COLOR(0.9f, 0.1f, 0.1f, 1.0f);
const mVec4 PIN_LINKED_COLOR(0.1f, 0.9f, 0.1f, 1.0f);
const u32 CAPTION_TEXT_COLOR = 0xFFF0F0F0u;
const u32 PIN_TEXT_COLOR = 0xFFD0D0D0u;
const u32 STATUS_TEXT_COLOR = 0xFFFFFFFFu;
const float PIN_IMAGE_HALF = 4.0f;
const float PIN_TEXT_INDENT = 2.0f;
const u32 PIN_FLAT_SEGMENTS = 12;
// Base panel rows use ids of their own, clear of the class rows' (their row indices).
const u32 CURVE_ID_BASE = 50000;
const u32 CURVE_IDS_PER_ROW = 4;
const float CURVE_EDITOR_HEIGHT = 40.0f;
const float BIG = 3.4028235e38f;
const float NO_SNAP = 0.0f;

bool HasGL(const TextureRef& t)
{
    return !t.IsNull() && t->GLName != 0;
}
} // namespace

void STexProcNode::TransformPoint(mVec2& out, const mVec2& in)
{
    out = Owner ? Owner->GraphToScreen(in) : in;
}

float STexProcNode::TransformScale(float s)
{
    return Owner ? s * Owner->Zoom : s;
}

void STexProcNode::LoadUITextures()
{
    // Loaded on the first drawing, so that nodes exist without a GL context.
    if (UITexturesTried)
        return;
    UITexturesTried = 1;
    TEX_Get(CaptionTex, NODE_UI_IMAGES[0], NODE_CAPTION_TEX_FLAGS);
    TEX_Get(PinTex, NODE_UI_IMAGES[1], NODE_PIN_TEX_FLAGS);
    TEX_Get(PinShadeTex, NODE_UI_IMAGES[2], NODE_PIN_TEX_FLAGS);
}

void STexProcNode::Frame()
{
    LoadUITextures();
    FontSize = NODE_FONT_SIZE;
    if (GGUIFont)
        Font = GGUIFont;
    const u32 rows = PinRows();
    const mRect box = Rect;
    mRect s;

    TransformRect(s, mRect{box.x0 + NODE_PIN_MARGIN, box.y0, box.x1 - NODE_PIN_MARGIN, box.y1});
    UseColorOnly();
    DrawRect(s, BODY_COLOR, true);

    const mRect caption{box.x0 + NODE_PIN_MARGIN, box.y0, box.x1 - NODE_PIN_MARGIN, box.y0 + NODE_CAPTION_HEIGHT};
    TransformRect(s, caption);
    if (HasGL(CaptionTex))
        DrawImage(s, WHITE, &CaptionTex, FIT_Stretch);
    else
    {
        UseColorOnly();
        DrawRect(s, CAPTION_FLAT_COLOR, true);
    }
    UseGUI();
    DrawText(Title.Str(), 0, CAPTION_TEXT_COLOR, TEXT_SingleLine | TEXT_CenterH | TEXT_CenterV, s,
             TransformScale(FontSize));

    DrawPins(box, rows);
    CaptionDrag(caption);

    const float body = PropertyPanel(mRect{box.x0 + NODE_PIN_MARGIN, box.y0 + NODE_CAPTION_HEIGHT,
                                           box.x1 - NODE_PIN_MARGIN, box.y1});
    const mVec2 p0 = Pos0();
    OffsetBottom = p0.y + NODE_CAPTION_HEIGHT + body + NODE_PIN_ROW_HEIGHT * (float)rows;
    SetPosition(p0.x, p0.y);
    LaidOut = 1;
}

void STexProcNode::DrawPins(const mRect& box, u32 rows)
{
    const float firstRow = box.y1 - NODE_PIN_ROW_HEIGHT * (float)rows + NODE_PIN_HALF;
    for (int side = 0; side < 2; ++side)
    {
        const bool input = side == 0;
        const TArray<NodePin*>& pins = input ? InParams : OutParams;
        for (u32 i = 0; i < pins.Count(); ++i)
        {
            NodePin* pin = pins[i];
            const float cy = firstRow + NODE_PIN_ROW_HEIGHT * (float)i;
            const float cx = input ? box.x0 + NODE_PIN_HALF : box.x1 - NODE_PIN_HALF;
            const mVec4& tint = pin->Links.IsEmpty() ? PIN_UNLINKED_COLOR : PIN_LINKED_COLOR;
            mRect s;
            TransformRect(s, mRect{cx - PIN_IMAGE_HALF, cy - PIN_IMAGE_HALF, cx + PIN_IMAGE_HALF, cy + PIN_IMAGE_HALF});
            if (HasGL(PinTex))
            {
                if (HasGL(PinShadeTex))
                    DrawImage(s, WHITE, &PinShadeTex, FIT_Stretch);
                DrawImage(s, tint, &PinTex, FIT_Stretch);
            }
            else
            {
                mVec2 c;
                TransformPoint(c, mVec2(cx, cy));
                UseColorOnly();
                DrawCircle(c, TransformScale(PIN_IMAGE_HALF), PIN_FLAT_SEGMENTS, tint, false);
            }
            const float top = cy - NODE_PIN_HALF;
            const mRect label = input ? mRect{box.x0 + NODE_PIN_MARGIN + PIN_TEXT_INDENT, top, (box.x0 + box.x1) * 0.5f,
                                              top + NODE_PIN_ROW_HEIGHT}
                                      : mRect{(box.x0 + box.x1) * 0.5f, top, box.x1 - NODE_PIN_MARGIN - PIN_TEXT_INDENT,
                                              top + NODE_PIN_ROW_HEIGHT};
            TransformRect(s, label);
            UseGUI();
            DrawText(pin->Name.Str(), 0, PIN_TEXT_COLOR,
                     TEXT_SingleLine | TEXT_CenterV | (input ? 0u : (u32)TEXT_AlignRight), s, TransformScale(FontSize));

            // A press on the pin starts a link drag in the processor.
            mRect hit;
            TransformRect(hit, mRect{cx - NODE_PIN_HALF, cy - NODE_PIN_HALF, cx + NODE_PIN_HALF, cy + NODE_PIN_HALF});
            if (Owner && GUI_LeftPressed() && IsMouseOver(hit))
                Owner->BeginLinkDrag(input ? -1 : 1, pin, GMousePos);
        }
    }
}

void STexProcNode::CaptionDrag(const mRect& caption)
{
    SWidgetState& st = GetWidgetState(NODE_CAPTION_ID);
    st.Rect = caption;
    st.Frame = FrameCounter;
    if (!Owner)
        return;
    if (!Dragging)
    {
        mRect s;
        TransformRect(s, caption);
        if (GUI_LeftPressed() && Owner->BusyCount == 0 && IsMouseOver(s))
            Owner->BeginNodeDrag(this);
        return;
    }
    if (GUI_LeftPressed())
        DragAwaitsPress = 0;
    if ((GUI_LeftReleased() && !DragAwaitsPress) || GMouseRight)
    {
        Owner->EndNodeDrag(this);
        return;
    }
    const float z = Owner->Zoom;
    const mVec2 before = Pos0();
    SetPosition(GMousePos.x / z + GrabOffset.x, GMousePos.y / z + GrabOffset.y);
    // The layout is part of the document: a move is an edit to be saved.
    const mVec2 after = Pos0();
    if (after.x != before.x || after.y != before.y)
        Owner->Edited = 1;
}

// ---------------------------------------------------------------------------------------------
// Base panel

float STexProcNode::CurveRows(const mRect& r)
{
    float y = r.y0;
    const float mid = (r.x0 + r.x1) * 0.5f;
    for (u32 i = 0; i < Curves.Count(); ++i)
    {
        SAnimCurve& c = Curves[i];
        const u32 id = CURVE_ID_BASE + i * CURVE_IDS_PER_ROW;
        SPropDesc channel;
        const char* label = GetAnimChannel(channel, (u32)c.Channel) ? channel.Name.Str() : "?";
        if (Button(id, mRect{r.x0, y, r.x1, y + NODE_PANEL_ROW_HEIGHT}, label) && Owner)
        {
            Owner->OpenNodeSlotMenu(new STPNAnimMenu(this, i));
            return y + NODE_PANEL_ROW_HEIGHT - r.y0; // the menu may change the curves
        }
        y += NODE_PANEL_ROW_HEIGHT;
        if (!c.Expanded)
        {
            CurveEditor(*this, c, mRect{r.x0, y, r.x1, y + CURVE_EDITOR_HEIGHT}, false);
            y += CURVE_EDITOR_HEIGHT;
            continue;
        }
        int changed = 0;
        if (Button(id + 1, mRect{r.x0, y, r.x1, y + NODE_PANEL_ROW_HEIGHT}, "Collapse"))
        {
            c.Expanded = 0;
            changed = 1;
        }
        y += NODE_PANEL_ROW_HEIGHT;
        changed |= GuiFloatField(id + 2, mRect{r.x0, y, mid, y + NODE_PANEL_ROW_HEIGHT}, &c.Min, -BIG, BIG, NO_SNAP);
        changed |= GuiFloatField(id + 3, mRect{mid, y, r.x1, y + NODE_PANEL_ROW_HEIGHT}, &c.Max, -BIG, BIG, NO_SNAP);
        y += NODE_PANEL_ROW_HEIGHT;
        changed |= CurveEditor(*this, c, mRect{r.x0, y, r.x1, y + CURVE_EDITOR_HEIGHT}, true);
        y += CURVE_EDITOR_HEIGHT;
        if (changed && Owner)
            Owner->AddToUpdateList(this);
    }
    return y - r.y0;
}

void STexProcNode::DrawPreview(const mRect& square)
{
    mRect s;
    if (!Status.IsEmpty())
    {
        TransformRect(s, square);
        UseGUI();
        DrawText(Status.Str(), 0, STATUS_TEXT_COLOR, TEXT_WordWrap | TEXT_BreakWords, s, TransformScale(FontSize));
        return;
    }
    const u32 n = OutParams.Count();
    u32 columns = 1, shown = 0;
    NodePreviewGrid(n, columns, shown);
    if (n < 2)
    {
        TextureRef tex = GetOutput(0);
        TransformRect(s, square);
        if (HasGL(tex))
            DrawImage(s, WHITE, &tex, FIT_Stretch);
        return;
    }
    const float cell = (square.x1 - square.x0) / (float)columns;
    for (u32 i = 0; i < shown; ++i)
    {
        TextureRef tex = GetOutput(i);
        if (!HasGL(tex))
            continue;
        const float x = square.x0 + cell * (float)(i % columns);
        const float y = square.y0 + cell * (float)(i / columns);
        TransformRect(s, mRect{x, y, x + cell, y + cell});
        DrawImage(s, WHITE, &tex, FIT_Stretch);
    }
}

float STexProcNode::PropertyPanel(const mRect& r)
{
    float height = CurveRows(r);
    if (PreviewShown)
    {
        const float side = r.x1 - r.x0;
        DrawPreview(mRect{r.x0, r.y0 + height, r.x1, r.y0 + height + side});
        height += side;
    }
    return height;
}
