// The one-line prompt: a small box at the mouse that edits a copy of a text and writes it to its
// target on OK or Enter; Cancel, or the mouse moving away, leaves the target as it was.
#include "TexGUI.h"

#include "GameCore.h"
#include "GameFont.h"
#include "GameInput.h"

namespace
{
const mVec4 PROMPT_BACK_COLOR(0.01f, 0.01f, 0.01f, 0.7f);
const float PROMPT_INSET = 5.0f;
const float PROMPT_ROW_TOP = 32.0f; // field and buttons sit under the prompt text
const float PROMPT_BUTTON_WIDTH = 70.0f;
const float PROMPT_GAP = 5.0f;
// The typed name is what the prompt is for: larger than the buttons' labels, within the field.
const float PROMPT_FIELD_FONT_SIZE = 12.0f;
} // namespace

SPopupWindow::SPopupWindow(const char* prompt, TString* target)
    : Prompt(prompt ? prompt : ""), Target(target), PressSeen(0)
{
    if (target)
        EditText = *target;
    AnchorLeft = AnchorTop = AnchorRight = AnchorBottom = 0;
    const float hw = PROMPT_WIDTH * 0.5f;
    const float hh = PROMPT_HEIGHT * 0.5f;
    mRect box{GMousePos.x - hw, GMousePos.y - hh, GMousePos.x + hw, GMousePos.y + hh};
    GUI_KeepInWindow(box, (float)GScreenWidth, (float)GScreenHeight);
    OffsetLeft = box.x0;
    OffsetTop = box.y0;
    OffsetRight = box.x1;
    OffsetBottom = box.y1;
    UpdateRect();
    // The text can be typed at once.
    FocusId = PROMPT_ID_Field;
    InitWidgetStates();
}

mRect SPopupWindow::OKRect() const
{
    return mRect{Rect.x1 - PROMPT_INSET - PROMPT_BUTTON_WIDTH, Rect.y0 + PROMPT_ROW_TOP, Rect.x1 - PROMPT_INSET,
                 Rect.y1 - PROMPT_INSET};
}

mRect SPopupWindow::CancelRect() const
{
    const mRect ok = OKRect();
    return mRect{ok.x0 - PROMPT_GAP - PROMPT_BUTTON_WIDTH, ok.y0, ok.x0 - PROMPT_GAP, ok.y1};
}

mRect SPopupWindow::FieldRect() const
{
    const mRect cancel = CancelRect();
    return mRect{Rect.x0 + PROMPT_INSET, cancel.y0, cancel.x0 - PROMPT_GAP, cancel.y1};
}

void SPopupWindow::Frame()
{
    FontSize = PROMPT_FONT_SIZE;
    const mRect near{Rect.x0 - PROMPT_CANCEL_MARGIN, Rect.y0 - PROMPT_CANCEL_MARGIN, Rect.x1 + PROMPT_CANCEL_MARGIN,
                     Rect.y1 + PROMPT_CANCEL_MARGIN};
    if (!MouseInRect(near))
    {
        Open = 0;
        return;
    }
    UseColorOnly();
    DrawRect(Rect, PROMPT_BACK_COLOR, true);
    UseGUI();
    DrawText(Prompt.Str(), 0, PackColor(0.9f, 0.9f, 0.9f, 1.0f), 0,
             mRect{Rect.x0 + PROMPT_INSET, Rect.y0 + PROMPT_INSET, Rect.x1 - PROMPT_INSET, Rect.y1 - PROMPT_INSET},
             PROMPT_TEXT_SIZE);
    // The release of the click that opened the prompt (a menu item, a button) is no click outside
    // the field: the typing stays there.
    const bool openingRelease = !PressSeen && GUI_LeftReleased();
    if (GUI_LeftPressed())
        PressSeen = 1;
    const int focus = FocusId;
    FontSize = PROMPT_FIELD_FONT_SIZE;
    TextField(PROMPT_ID_Field, FieldRect(), &EditText, PROMPT_TEXT_LIMIT);
    FontSize = PROMPT_FONT_SIZE;
    if (openingRelease && focus == PROMPT_ID_Field)
        FocusId = focus;
    if (Button(PROMPT_ID_Cancel, CancelRect(), "$CANCEL$"))
    {
        Open = 0;
        return;
    }
    const int ok = Button(PROMPT_ID_OK, OKRect(), "$OK$");
    if (ok || GetKeyStatus(GUI_KEY_Enter) == KS_Pressed)
    {
        const bool changed = Target && *Target != EditText;
        if (Target)
            *Target = EditText;
        Open = 0;
        if (changed)
            OnCommit();
    }
}
