// GUI layers: the tree, the anchored layout, the fade and the per-frame walk, and the hit tests
// and behaviours of the widgets.
#include "GUILayer.h"

#include "GameCore.h"
#include "GameRedraw.h"
#include "GameFont.h"
#include "GameInput.h"

SFont* GGUIFont = nullptr;

bool MouseInRect(const mRect& r)
{
    return r.x0 <= GMousePos.x && GMousePos.x < r.x1 && r.y0 <= GMousePos.y && GMousePos.y < r.y1;
}

bool GUI_LeftPressed()
{
    return GMouseLeft && !GPrevMouseLeft;
}

bool GUI_LeftReleased()
{
    return !GMouseLeft && GPrevMouseLeft;
}

bool GUI_RightReleased()
{
    return !GMouseRight && GPrevMouseRight;
}

void M_RectAddPoint(mRect& r, const mVec2& p)
{
    if (p.x < r.x0)
        r.x0 = p.x;
    if (p.x > r.x1)
        r.x1 = p.x;
    if (p.y < r.y0)
        r.y0 = p.y;
    if (p.y > r.y1)
        r.y1 = p.y;
}

mVec4 UnpackColor(u32 rgba)
{
    const float k = 1.0f / 255.0f;
    return mVec4((float)(rgba & 0xFF) * k, (float)((rgba >> 8) & 0xFF) * k, (float)((rgba >> 16) & 0xFF) * k,
                 (float)(rgba >> 24) * k);
}

// ---------------------------------------------------------------------------------------------

SGUILayer::SGUILayer()
    : Font(nullptr), FontSize(GUI_DEFAULT_FONT_SIZE), CurMaterial(nullptr), MaterialsReady(0), Name("Layer"),
      FadeInTime(GUI_DEFAULT_FADE_TIME), FadeOutTime(GUI_DEFAULT_FADE_TIME), OffsetLeft(0), OffsetTop(0),
      OffsetRight(0), OffsetBottom(0), AnchorLeft(0), AnchorTop(0), AnchorRight(1), AnchorBottom(1), Open(1),
      FrameCounter(0), Fade(0), Rect{0, 0, 0, 0}, FocusId(GUI_NO_FOCUS), Parent(nullptr), InFrame(0)
{
    UpdateRect();
}

SGUILayer::~SGUILayer()
{
    // The walk still uses a layer after its Frame returns: owners defer such deletions.
    BREAK_IF(InFrame != 0);
    for (u32 i = 0; i < Children.Count(); ++i)
        delete Children[i];
}

void SGUILayer::TransformRect(mRect& out, const mRect& in)
{
    mVec2 a, b;
    TransformPoint(a, mVec2(in.x0, in.y0));
    TransformPoint(b, mVec2(in.x1, in.y1));
    out = mRect{a.x, a.y, b.x, b.y};
}

void SGUILayer::TransformPoint(mVec2& out, const mVec2& in)
{
    out = in;
}

float SGUILayer::TransformScale(float s)
{
    return s;
}

int SGUILayer::InitMaterials()
{
    if (MaterialsReady)
        return 1;
    MaterialsReady = 1;
    ColorOnlyMaterial.SetShaderOnUse("ColorOnly");
    GUIMaterial.SetShaderOnUse("GUI");
    ColorOnlyMaterial.Blend = BLEND_AlphaGUI;
    GUIMaterial.Blend = BLEND_AlphaGUI;
    if (!CurMaterial)
        CurMaterial = &GUIMaterial;
    if (!Font)
        Font = GDebugFont;
    return 1;
}

void SGUILayer::InitWidgetStates()
{
    if (FocusId != GUI_NO_FOCUS)
        GetWidgetState((u32)FocusId);
    for (u32 i = 0; i < Children.Count(); ++i)
        Children[i]->InitWidgetStates();
}

void SGUILayer::AddChild(SGUILayer* child)
{
    if (BREAK_IF(!child || child == this))
        return;
    child->Parent = this;
    Children.Add(child);
    DrawOrder.Add(child);
}

void SGUILayer::RemoveChild(SGUILayer* child)
{
    for (int at; (at = Children.Find(child)) >= 0;)
        Children.Remove((u32)at);
    for (int at; (at = DrawOrder.Find(child)) >= 0;)
        DrawOrder.Remove((u32)at);
}

void SGUILayer::UpdateRect()
{
    mRect p = Parent ? Parent->Rect : mRect{0, 0, (float)GScreenWidth, (float)GScreenHeight};
    const float w = p.x1 - p.x0;
    const float h = p.y1 - p.y0;
    Rect.x0 = p.x0 + w * AnchorLeft + OffsetLeft;
    Rect.y0 = p.y0 + h * AnchorTop + OffsetTop;
    Rect.x1 = p.x0 + w * AnchorRight + OffsetRight;
    Rect.y1 = p.y0 + h * AnchorBottom + OffsetBottom;
}

void SGUILayer::UpdateTreeRects()
{
    UpdateRect();
    for (u32 i = 0; i < Children.Count(); ++i)
        Children[i]->UpdateTreeRects();
}

bool SGUILayer::IsVisible() const
{
    // An open layer is always drawn, also one without fade times (-Ti < f < To would hide it), and
    // a closed one until its fade-out time has passed.
    return Open || (-FadeInTime < Fade && Fade < FadeOutTime);
}

void SGUILayer::DrawTree(SGUILayer* layer, float dt)
{
    const float ti = layer->FadeInTime;
    const float to = layer->FadeOutTime;
    float& f = layer->Fade;
    const float before = f;
    // A layer that turns round mid-fade continues from the same share of the other fade; a fade of
    // no time has no share to keep.
    if (layer->Open && f > 0)
        f = ti > 0 ? -(to / ti) * f : 0;
    else if (!layer->Open && f < 0)
        f = to > 0 ? -(ti / to) * f : 0;
    if (layer->Open)
        f = GUI_Clamp(f + dt, -ti, 0.0f);
    else
        f = GUI_Clamp(f + dt, 0.0f, to);
    // A fade in progress changes the picture of the next tick too.
    if (f != before)
        R_RequestRedraw();
    if (!layer->IsVisible())
        return;

    ++layer->FrameCounter;
    mRect clip;
    layer->TransformRect(clip, layer->Rect);
    if (!R_PushScissor(clip))
        return;
    ++layer->InFrame;
    layer->Frame();
    --layer->InFrame;
    // Frames may add or remove children (a menu closing itself, a node deleted from its own menu):
    // walk by index, re-read the count, and find the child's place again after it was drawn.
    for (u32 i = 0; i < layer->DrawOrder.Count();)
    {
        SGUILayer* child = layer->DrawOrder[i];
        DrawTree(child, dt);
        const int at = layer->DrawOrder.Find(child);
        i = at >= 0 ? (u32)at + 1 : i;
    }
    R_PopScissor();
}

// ---------------------------------------------------------------------------------------------
// Hit tests and behaviours

SGUILayer* SGUILayer::ChildUnderMouse()
{
    for (u32 i = DrawOrder.Count(); i-- > 0;)
    {
        SGUILayer* child = DrawOrder[i];
        if (!child->Open)
            continue;
        mRect r;
        child->TransformRect(r, child->Rect);
        if (MouseInRect(r))
            return child;
    }
    return nullptr;
}

bool SGUILayer::IsMouseOver(const mRect& r)
{
    if (!MouseInRect(r) || ChildUnderMouse())
        return false;
    for (SGUILayer* l = this; l->Parent; l = l->Parent)
        if (l->Parent->ChildUnderMouse() != l)
            return false;
    return true;
}

bool SGUILayer::IsMouseOverWidget()
{
    for (TMap<u32, SWidgetState>::Iterator it(WidgetStates); it.current; it.Next())
    {
        const SWidgetState& s = it.current->value;
        if (s.Frame != FrameCounter)
            continue;
        mRect r;
        TransformRect(r, s.Rect);
        if (MouseInRect(r))
            return true;
    }
    return false;
}

int SGUILayer::ButtonBehavior(const mRect& r, u32& hovered, u32& held)
{
    hovered = IsMouseOver(r) ? 1 : 0;
    if (GUI_LeftPressed() && hovered)
        held = 1;
    if (GUI_LeftReleased())
    {
        const int click = held && hovered ? 1 : 0;
        held = 0;
        return click;
    }
    return 0;
}

int SGUILayer::ToggleBehavior(const mRect& r, u32& hovered, u32& held, int* value)
{
    if (!ButtonBehavior(r, hovered, held))
        return 0;
    *value = *value ? 0 : 1;
    return 1;
}

int SGUILayer::DragBehavior(const mRect& r, SWidgetState& state, float minValue, float maxValue)
{
    state.Hovered = IsMouseOver(r) ? 1 : 0;
    if (GUI_LeftPressed() && state.Hovered)
    {
        state.Held = 1;
        state.PressPoint = GMousePos;
    }
    if (state.Held && GMouseLeft)
    {
        const float d = gAbs(GMousePos.x - state.PressPoint.x) * (GMousePos.x - GPrevMousePos.x) /
                        TransformScale(1.0f) * 0.1f;
        state.DragValue = GUI_Clamp(state.DragValue + gSign(d) * d * d * 10.0f * 0.001f, minValue, maxValue);
    }
    if (GUI_LeftReleased() && state.Held)
    {
        state.Held = 0;
        return 1;
    }
    return 0;
}

SWidgetState& SGUILayer::GetWidgetState(u32 id, bool* created)
{
    const bool isNew = WidgetStates.Find(id) == nullptr;
    if (created)
        *created = isNew;
    return WidgetStates.GetOrAdd(id);
}
