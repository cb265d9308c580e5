// The textured GUI element: the button images, labels, buttons, check boxes and toggles.
#include "GUIInterface.h"

#include "GameFont.h"
#include "GameText.h"

const char* const GUI_BUTTON_IMAGES[3] = {"Data/UI/Button.png", "Data/UI/ButtonS.png", "Data/UI/ButtonC.png"};

namespace
{
const mVec4 WHITE(1, 1, 1, 1);
const mVec4 LABEL_BACK_COLOR(0.05f, 0.05f, 0.05f, 0.9f);
const u32 BUTTON_TEXT_FLAGS = TEXT_CenterH | TEXT_CenterV | TEXT_BreakWords;
const u32 CHECK_MARK_FLAGS = TEXT_CenterH | TEXT_CenterV;
const float CHECK_MARK_MARGIN = 2.0f;

u32 DarkText()
{
    return PackColor(0.1f, 0.1f, 0.1f, 1.0f);
}

bool HasGLTexture(const TextureRef* tex)
{
    return tex && !tex->IsNull() && (*tex)->GLName != 0;
}
} // namespace

SInterface::SInterface() : ButtonImagesTried(0) {}

void SInterface::UseUIFont()
{
    if (GGUIFont)
        Font = GGUIFont;
}

void SInterface::DrawButton(const mRect& r, const char* text, u32 hovered, u32 held, TextureRef* tex, u32 fit)
{
    UseUIFont();
    if (!ButtonImagesTried)
    {
        ButtonImagesTried = 1;
        for (u32 i = 0; i < 3; ++i)
            TEX_Get(ButtonImages[i], GUI_BUTTON_IMAGES[i], GUI_BUTTON_IMAGE_FLAGS);
    }
    TString label(text ? text : "");
    GTextDict.Expand(label);
    const TextureRef& image = ButtonImages[held ? IMG_Held : (hovered ? IMG_Hovered : IMG_Normal)];
    // Without its images (a broken install) a button still shows, in the flat look.
    if (!HasGLTexture(&image))
    {
        SGUILayer::DrawButton(r, label.Str(), hovered, held, tex, fit);
        return;
    }
    DrawImage(r, WHITE, &image, FIT_Stretch);
    if (HasGLTexture(tex))
        DrawImage(r, WHITE, tex, fit);
    if (label.IsEmpty())
        return;
    UseGUI();
    DrawText(label.Str(), 0, DarkText(), BUTTON_TEXT_FLAGS, r, TransformScale(FontSize));
}

void SInterface::DrawCheckBox(const mRect& r, u32 hovered, u32 held, u32 checked)
{
    DrawButton(r, "", hovered, held, nullptr, FIT_Stretch);
    if (!checked)
        return;
    const float w = r.x1 - r.x0;
    const float h = r.y1 - r.y0;
    const float size = (w < h ? w : h) - CHECK_MARK_MARGIN;
    // A box zoomed down to a few pixels has no room for its mark.
    if (size <= 0)
        return;
    UseGUI();
    DrawText("X", 0, DarkText(), CHECK_MARK_FLAGS, r, size);
}

void SInterface::GuiLabel(const char* text, u32 rgba, u32 flags, const mRect& r)
{
    UseUIFont();
    TString t(text ? text : "");
    GTextDict.Expand(t);
    mRect s;
    TransformRect(s, r);
    UseColorOnly();
    DrawRect(s, LABEL_BACK_COLOR, true);
    UseGUI();
    DrawText(t.Str(), 0, rgba, flags, s, TransformScale(FontSize));
}

int SInterface::Button(u32 id, const mRect& r, const char* label, TextureRef* tex, u32 fit)
{
    SWidgetState& st = GetWidgetState(id);
    st.Rect = r;
    st.Frame = FrameCounter;
    mRect tr;
    TransformRect(tr, r);
    DrawButton(tr, label, st.Hovered, st.Held, tex, fit);
    return ButtonBehavior(tr, st.Hovered, st.Held);
}

int SInterface::CheckBox(u32 id, const mRect& r, int* value)
{
    SWidgetState& st = GetWidgetState(id);
    st.Rect = r;
    st.Frame = FrameCounter;
    mRect tr;
    TransformRect(tr, r);
    DrawCheckBox(tr, st.Hovered, st.Held, *value != 0);
    return ToggleBehavior(tr, st.Hovered, st.Held, value);
}

int SInterface::GuiToggle(u32 id, const mRect& r, const char* label, int* value)
{
    SWidgetState& st = GetWidgetState(id);
    st.Rect = r;
    st.Frame = FrameCounter;
    // A toggle that is on shows pressed.
    mRect tr;
    TransformRect(tr, r);
    DrawButton(tr, label, st.Hovered, st.Held || *value, nullptr, FIT_Stretch);
    return ToggleBehavior(tr, st.Hovered, st.Held, value);
}
