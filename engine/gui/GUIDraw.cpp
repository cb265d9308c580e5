// Drawing of GUI layers in window pixels: text, lines, rectangles, images with their fit modes,
// circles, and the flat looks of buttons, check boxes, panels and text fields.
#include "GUILayer.h"

#include <GL/glew.h>

#include "GUtf8.h"
#include "GameFont.h"
#include "GameShader.h"
#include "GameVertex.h"

namespace
{
const mVec4 FLAT_EDGE_COLOR(0.1f, 0.2f, 0.1f, 1.0f);
const mVec4 FLAT_HELD_INNER_COLOR(0.2f, 0.3f, 0.2f, 1.0f);
const mVec4 TEXTURED_HOVER_HELD_COLOR(0.1f, 0.1f, 0.1f, 0.4f);
const mVec4 TEXTURED_HOVER_COLOR(0.9f, 0.9f, 0.9f, 0.4f);
const mVec4 WHITE(1, 1, 1, 1);
const float FLAT_INSET = 2.0f;
const float TWO_PI = 6.28318530718f;
const u32 TEXT_CENTRED = TEXT_CenterH | TEXT_CenterV;

const mVec4 FIELD_BACK_COLOR(0.05f, 0.05f, 0.05f, 0.9f);
const mVec4 FIELD_EDGE_COLOR(0.35f, 0.45f, 0.35f, 1.0f);
const mVec4 FIELD_HIGHLIGHT_EDGE_COLOR(0.95f, 0.8f, 0.3f, 1.0f);
const mVec4 FIELD_SELECTION_COLOR(0.2f, 0.35f, 0.6f, 1.0f);
const mVec4 FIELD_CARET_COLOR(0.95f, 0.95f, 0.95f, 1.0f);
const u32 FIELD_TEXT_COLOR = 0xFFF2F2F2u;
// Far enough right that a field's text is never wrapped or cut by its layout rectangle.
const float FIELD_TEXT_RUN = 100000.0f;

void Corners(const mRect& r, const mRect& st, const mVec4& c, STfCVtx* v)
{
    const float xs[4] = {r.x0, r.x1, r.x1, r.x0};
    const float ys[4] = {r.y0, r.y0, r.y1, r.y1};
    const float ss[4] = {st.x0, st.x1, st.x1, st.x0};
    const float ts[4] = {st.y0, st.y0, st.y1, st.y1};
    for (int i = 0; i < 4; ++i)
        v[i] = STfCVtx{xs[i], ys[i], 0, ss[i], ts[i], 0, c.x, c.y, c.z, c.w};
}

mRect Inset(const mRect& r, float d)
{
    return mRect{r.x0 + d, r.y0 + d, r.x1 - d, r.y1 - d};
}
} // namespace

bool GUI_FitImage(const mRect& r, float texW, float texH, u32 mode, mRect& drawn, mRect& texCoords)
{
    const float W = r.x1 - r.x0;
    const float H = r.y1 - r.y0;
    // An image or a rectangle without area has no aspect to keep (0 / 0).
    if (!(W > 0 && H > 0 && texW > 0 && texH > 0))
        return false;
    drawn = r;
    texCoords = mRect{0, 0, 1, 1};
    if (mode != FIT_Contain && mode != FIT_Cover)
        return true;
    const float a = texW / texH;
    float w, h;
    if (mode == FIT_Contain ? W / H >= a : !(W / H > a))
    {
        h = H;
        w = a * H;
    }
    else
    {
        w = W;
        h = W / a;
    }
    const float cx = (r.x0 + r.x1) * 0.5f;
    const float cy = (r.y0 + r.y1) * 0.5f;
    const mRect f{cx - w * 0.5f, cy - h * 0.5f, cx + w * 0.5f, cy + h * 0.5f};
    if (mode == FIT_Contain)
    {
        drawn = f;
        return true;
    }
    texCoords = mRect{(r.x0 - f.x0) / (f.x1 - f.x0), (r.y0 - f.y0) / (f.y1 - f.y0), (r.x1 - f.x0) / (f.x1 - f.x0),
                      (r.y1 - f.y0) / (f.y1 - f.y0)};
    return true;
}

void SGUILayer::BeginDraw()
{
    InitMaterials();
    BindMaterialPass(*CurMaterial, 0);
    if (!GCurShader)
        return;
    R_UploadViewMatrix(GCurShader);
    R_UploadProjectionMatrix(GCurShader);
}

void SGUILayer::DrawText(const char* text, int length, u32 rgba, u32 flags, const mRect& r, float size)
{
    BeginDraw();
    if (!Font || !text)
        return;
    Font->DrawText(text, length, UnpackColor(rgba), flags, r.x0, r.y0, r.x1, r.y1, size);
}

void SGUILayer::DrawLine(const mVec2& p0, const mVec2& p1, u32 rgba)
{
    BeginDraw();
    const SColVtx v[2] = {{p0.x, p0.y, 0, rgba}, {p1.x, p1.y, 0, rgba}};
    DrawColoredPrimitives(v, 2, GL_LINES);
}

void SGUILayer::DrawRect(const mRect& r, const mVec4& color, bool filled)
{
    BeginDraw();
    STfCVtx v[4];
    Corners(r, mRect{0, 0, 0, 0}, color, v);
    DrawTexColoredPrimitives(v, 4, filled ? GL_TRIANGLE_FAN : GL_LINE_LOOP);
}

void SGUILayer::DrawTexturedRect(const mRect& r, const mRect& texCoords, const mVec4& color, const TextureRef& tex)
{
    InitMaterials();
    CurMaterial->Textures[0] = tex;
    BeginDraw();
    STfCVtx v[4];
    Corners(r, texCoords, color, v);
    DrawTexColoredPrimitives(v, 4, GL_TRIANGLE_FAN);
}

void SGUILayer::DrawImage(const mRect& r, const mVec4& color, const TextureRef* tex, u32 fit)
{
    if (!tex || tex->IsNull())
        return;
    mRect drawn, st;
    if (!GUI_FitImage(r, (float)(*tex)->Width, (float)(*tex)->Height, fit, drawn, st))
        return;
    UseGUI();
    DrawTexturedRect(drawn, st, color, *tex);
}

void SGUILayer::DrawCircle(const mVec2& centre, float radius, u32 segments, const mVec4& color, bool outline)
{
    // Fewer than three points make no polygon (and none divides the circle by zero).
    const u32 MIN_SEGMENTS = 3;
    if (segments < MIN_SEGMENTS)
        return;
    BeginDraw();
    TPodArray<STfCVtx> v;
    if (!v.Resize(segments))
        return;
    const float step = TWO_PI / (float)segments;
    for (u32 i = 0; i < segments; ++i)
    {
        const float a = step * (float)i;
        v[i] = STfCVtx{centre.x + gCos(a) * radius, centre.y + gSin(a) * radius, 0, 0, 0, 0,
                       color.x, color.y, color.z, color.w};
    }
    DrawTexColoredPrimitives(v.data, segments, outline ? GL_LINE_LOOP : GL_TRIANGLE_FAN);
}

// ---------------------------------------------------------------------------------------------
// Flat looks

void SGUILayer::DrawButton(const mRect& r, const char* text, u32 hovered, u32 held, TextureRef* tex, u32 fit)
{
    const float h = hovered ? 1.0f : 0.0f;
    const bool textured = tex && !tex->IsNull() && (*tex)->GLName != 0;
    if (textured)
        DrawImage(r, WHITE, tex, fit);
    UseColorOnly();
    if (!textured)
        DrawRect(r, mVec4(0.2f + 0.15f * h, 0.5f + 0.1f * h, 0.3f + 0.125f * h, 1.0f + 0.25f * h), true);
    else if (hovered)
        DrawRect(r, held ? TEXTURED_HOVER_HELD_COLOR : TEXTURED_HOVER_COLOR, true);
    DrawRect(r, FLAT_EDGE_COLOR, false);
    mRect inner = Inset(r, FLAT_INSET);
    if (!textured && hovered && held)
        DrawRect(inner, FLAT_HELD_INNER_COLOR, true);
    DrawRect(inner, FLAT_EDGE_COLOR, false);
    if (!text || !*text)
        return;
    if (hovered && held)
    {
        inner.x1 += FLAT_INSET;
        inner.y1 += FLAT_INSET;
    }
    UseGUI();
    DrawText(text, 0, PackColor(1, 1, 1, 1), TEXT_CENTRED, inner, TransformScale(FontSize));
}

void SGUILayer::DrawCheckBox(const mRect& r, u32 hovered, u32 held, u32 checked)
{
    DrawButton(r, "", hovered, held, nullptr, FIT_Stretch);
    if (!checked)
        return;
    const mRect m = Inset(r, FLAT_INSET);
    const float w = m.x1 - m.x0;
    const float h = m.y1 - m.y0;
    const u32 c = PackColor(FLAT_EDGE_COLOR.x, FLAT_EDGE_COLOR.y, FLAT_EDGE_COLOR.z, FLAT_EDGE_COLOR.w);
    // A tick: down from the left third, then up to the top right.
    const mVec2 a(m.x0 + w * 0.15f, m.y0 + h * 0.5f);
    const mVec2 b(m.x0 + w * 0.4f, m.y0 + h * 0.85f);
    const mVec2 e(m.x0 + w * 0.85f, m.y0 + h * 0.15f);
    UseColorOnly();
    DrawLine(a, b, c);
    DrawLine(b, e, c);
}

void SGUILayer::DrawPanel(const mRect& r, u32)
{
    const u32 c = PackColor(FLAT_EDGE_COLOR.x, FLAT_EDGE_COLOR.y, FLAT_EDGE_COLOR.z, FLAT_EDGE_COLOR.w);
    UseColorOnly();
    DrawRect(r, FLAT_EDGE_COLOR, true);
    DrawLine(mVec2(r.x0, r.y0), mVec2(r.x1, r.y1), c);
    DrawLine(mVec2(r.x1, r.y0), mVec2(r.x0, r.y1), c);
}

float SGUILayer::FieldTextSize()
{
    // Values are read as closely as their labels: the same size, zoomed alike.
    return TransformScale(FontSize);
}

void SGUILayer::DrawTextField(const mRect& r, const SWidgetState& state, u32 focused)
{
    UseColorOnly();
    DrawRect(r, FIELD_BACK_COLOR, true);
    DrawRect(r, focused ? FIELD_HIGHLIGHT_EDGE_COLOR : FIELD_EDGE_COLOR, false);
    // The same inset, zoomed, as the rectangle in which the editing places the caret.
    const mRect inner = Inset(r, TransformScale(FLAT_INSET));
    if (!R_PushScissor(inner))
        return;
    InitMaterials();
    const float size = FieldTextSize();
    const float scroll = state.Scroll * TransformScale(1.0f);
    const TString& text = state.EditText;
    const u32 n = text.Length();
    const u32 caret = state.Caret < n ? state.Caret : n;
    const u32 sel = state.SelStart < n ? state.SelStart : n;
    // Positions by the same character widths that place the caret under the mouse.
    float xCaret = inner.x0 - scroll, xSel = xCaret, x = xCaret;
    for (u32 i = 0, c; i < n;)
    {
        i += UTF_Decode(text.Str(), n, i, c);
        x += Font ? Font->GetCharWidth(size, c) : 0.0f;
        if (i == caret)
            xCaret = x;
        if (i == sel)
            xSel = x;
    }
    if (focused && caret != sel)
        DrawRect(mRect{xCaret < xSel ? xCaret : xSel, inner.y0, xCaret < xSel ? xSel : xCaret, inner.y1},
                 FIELD_SELECTION_COLOR, true);
    UseGUI();
    DrawText(text.Str(), 0, FIELD_TEXT_COLOR, TEXT_SingleLine | TEXT_CenterV,
             mRect{inner.x0 - scroll, inner.y0, inner.x0 + FIELD_TEXT_RUN, inner.y1}, size);
    if (focused && state.Mode == WM_Edit)
    {
        UseColorOnly();
        const u32 c = PackColor(FIELD_CARET_COLOR.x, FIELD_CARET_COLOR.y, FIELD_CARET_COLOR.z, FIELD_CARET_COLOR.w);
        DrawLine(mVec2(xCaret, inner.y0 + 1), mVec2(xCaret, inner.y1 - 1), c);
    }
    R_PopScissor();
}
