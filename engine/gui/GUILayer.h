// GUI layers: anchored rectangles in a tree, drawn and given input in one walk per frame, with a
// show/hide fade, clipping by the scissor stack, the flat widget looks and the hit tests and
// behaviours that the immediate-mode widgets stand on.
#pragma once

#include "GMath.h"
#include "GString.h"
#include "GTemplate.h"
#include "GameMaterial.h"
#include "GameRT.h"

class SFont;

// The application's user-interface font; null until the application loads it, and the layers
// draw with the engine's debug font until then.
extern SFont* GGUIFont;

static const float GUI_DEFAULT_FONT_SIZE = 24.0f;
static const float GUI_DEFAULT_FADE_TIME = 0.5f;
static const int GUI_NO_FOCUS = -1;

// Widget-state modes.
enum EWidgetMode
{
    WM_New = 0,
    WM_Edit = 1,
    WM_FloatDisplay = 2,
    WM_IntDisplay = 3,
};

// Image fit modes of DrawImage.
enum EImageFit
{
    FIT_Stretch = 0,
    FIT_Contain = 1,
    FIT_Cover = 2,
};

// Key and typed-character codes the widgets read.
enum
{
    GUI_KEY_Backspace = 8,
    GUI_KEY_Enter = 13,
    GUI_KEY_Delete = 46,
};

// Results of EditTextBehavior, or-ed together.
enum
{
    EDIT_Changed = 1,   // a character was inserted or deleted
    EDIT_Commit = 2,    // Enter was pressed while the field had the focus
    EDIT_FocusLost = 4, // the field had the focus and lost it in this tick
};

// What survives between frames of one immediate-mode widget, keyed by its id in its layer.
struct SWidgetState
{
    u32 Mode;
    u32 Frame; // the layer's frame counter when last drawn
    mRect Rect;
    u32 Hovered;
    u32 Held;
    TString EditText;
    u32 SelStart; // the other end of the selection; equal to Caret means none
    u32 Caret;
    u32 TextLimit;
    float Scroll; // in the layer's units: a zoom keeps the same text in view
    u32 Selecting;
    float DragValue;
    mVec2 PressPoint;

    SWidgetState()
        : Mode(WM_New), Frame(0), Rect{0, 0, 0, 0}, Hovered(0), Held(0), SelStart(0), Caret(0), TextLimit(0),
          Scroll(0), Selecting(0), DragValue(0)
    {
    }
};

inline float GUI_Clamp(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// Mouse helpers over the polled input state.
bool MouseInRect(const mRect& r);
bool GUI_LeftPressed();
bool GUI_LeftReleased();
bool GUI_RightReleased();
// Grows the rectangle to contain the point.
void M_RectAddPoint(mRect& r, const mVec2& p);
// Byte to float per channel, red in the low byte.
mVec4 UnpackColor(u32 rgba);

// The fitted rectangle and texture coordinates of an image of texW x texH in r. False (nothing to
// draw) when the image or the rectangle has no area.
bool GUI_FitImage(const mRect& r, float texW, float texH, u32 mode, mRect& drawn, mRect& texCoords);

class SGUILayer
{
public:
    SFont* Font;
    float FontSize;
    SMaterialInst* CurMaterial;
    u32 MaterialsReady;
    SMaterialInst ColorOnlyMaterial;
    SMaterialInst GUIMaterial;
    TString Name;
    float FadeInTime;
    float FadeOutTime;
    float OffsetLeft, OffsetTop, OffsetRight, OffsetBottom;
    float AnchorLeft, AnchorTop, AnchorRight, AnchorBottom;
    u32 Open;
    u32 FrameCounter;
    float Fade;
    mRect Rect;
    TMap<u32, SWidgetState> WidgetStates;
    int FocusId;
    SGUILayer* Parent;
    TArray<SGUILayer*> Children;  // owned
    TArray<SGUILayer*> DrawOrder; // the same layers in drawing order
    u32 InFrame;                  // inside this layer's Frame: deleting it now is a broken invariant

    SGUILayer();
    virtual ~SGUILayer();
    SGUILayer(const SGUILayer&) = delete;
    SGUILayer& operator=(const SGUILayer&) = delete;

    virtual void TransformRect(mRect& out, const mRect& in);
    virtual void TransformPoint(mVec2& out, const mVec2& in);
    virtual float TransformScale(float s);
    virtual int InitMaterials();
    // The looks draw in window pixels: the widgets hand them their rectangles through
    // TransformRect, the same rectangles they hit-test, so that a zoomed or panned layer draws its
    // widgets where they take the mouse.
    virtual void DrawButton(const mRect& r, const char* text, u32 hovered, u32 held, TextureRef* tex, u32 fit);
    virtual void DrawCheckBox(const mRect& r, u32 hovered, u32 held, u32 checked);
    virtual void DrawPanel(const mRect& r, u32 flag);
    virtual void DrawTextField(const mRect& r, const SWidgetState& state, u32 focused);
    virtual void Frame() = 0;
    virtual void InitWidgetStates();

    void AddChild(SGUILayer* child);
    void RemoveChild(SGUILayer* child);
    void UpdateRect();
    // Fits the layer and its subtree to their parents again (parents before children).
    void UpdateTreeRects();

    // The per-frame walk: fade, clip, Frame, then the children in drawing order.
    static void DrawTree(SGUILayer* layer, float dt);
    // Whether DrawTree draws the layer at its current fade value.
    bool IsVisible() const;

    SGUILayer* ChildUnderMouse();
    bool IsMouseOver(const mRect& r);
    bool IsMouseOverWidget();
    int ButtonBehavior(const mRect& r, u32& hovered, u32& held);
    int ToggleBehavior(const mRect& r, u32& hovered, u32& held, int* value);
    // Per tick while a field is dragged; 1 on the release that ends the drag.
    int DragBehavior(const mRect& r, SWidgetState& state, float minValue, float maxValue);
    // Edits state.EditText; returns EDIT_ flags.
    int EditTextBehavior(const mRect& r, SWidgetState& state, u32 id);
    SWidgetState& GetWidgetState(u32 id, bool* created = nullptr);

    // Drawing in window pixels with the current material.
    void BeginDraw();
    void UseColorOnly() { CurMaterial = &ColorOnlyMaterial; }
    void UseGUI() { CurMaterial = &GUIMaterial; }
    void DrawText(const char* text, int length, u32 rgba, u32 flags, const mRect& r, float size);
    void DrawLine(const mVec2& p0, const mVec2& p1, u32 rgba);
    void DrawRect(const mRect& r, const mVec4& color, bool filled);
    void DrawTexturedRect(const mRect& r, const mRect& texCoords, const mVec4& color, const TextureRef& tex);
    void DrawImage(const mRect& r, const mVec4& color, const TextureRef* tex, u32 fit);
    void DrawCircle(const mVec2& centre, float radius, u32 segments, const mVec4& color, bool outline);

    // The size at which text fields draw and measure their characters.
    float FieldTextSize();
    // Index of the character boundary under the mouse in a field's text.
    u32 MouseCharIndex(const mRect& r, const SWidgetState& state);
    // Scrolls a field's text (r is its text area) so that the caret stands inside it.
    void KeepCaretInView(const mRect& r, SWidgetState& state);
};
