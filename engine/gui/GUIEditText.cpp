// The text-editing behaviour of fields: focus by click, typed characters, Backspace and Delete,
// the caret and the selection placed and dragged by the mouse, and horizontal scrolling.
#include "GUILayer.h"

#include "GameFont.h"
#include "GameInput.h"

namespace
{
SFont* FieldFont(SFont* font)
{
    return font ? font : GDebugFont;
}

// Removes the selected characters; false when nothing is selected.
bool DeleteSelection(SWidgetState& st)
{
    if (st.Caret == st.SelStart)
        return false;
    const u32 lo = st.Caret < st.SelStart ? st.Caret : st.SelStart;
    const u32 hi = st.Caret < st.SelStart ? st.SelStart : st.Caret;
    st.EditText.Remove(lo, hi - 1);
    st.Caret = st.SelStart = lo;
    return true;
}
} // namespace

u32 SGUILayer::MouseCharIndex(const mRect& r, const SWidgetState& state)
{
    SFont* font = FieldFont(Font);
    const float size = FieldTextSize();
    const char* text = state.EditText.Str();
    const u32 n = state.EditText.Length();
    float pos = r.x0 - state.Scroll * TransformScale(1.0f);
    u32 i = 0;
    while (i < n && pos < GMousePos.x)
    {
        if (font)
            pos += font->GetCharWidth(size, text[i]);
        ++i;
    }
    return i;
}

int SGUILayer::EditTextBehavior(const mRect& r, SWidgetState& st, u32 id)
{
    const bool wasHeld = st.Held != 0;
    const bool hadFocus = FocusId == (int)id;
    const int click = ButtonBehavior(r, st.Hovered, st.Held);
    if (click)
        FocusId = (int)id;
    else if (GUI_LeftReleased() && !st.Hovered && !wasHeld && hadFocus)
        FocusId = GUI_NO_FOCUS;
    if (FocusId != (int)id)
    {
        st.Selecting = 0;
        return hadFocus ? EDIT_FocusLost : 0;
    }

    int result = 0;
    TString& text = st.EditText;
    // Whoever set the text may have left the caret and the selection past its end.
    if (st.Caret > text.Length())
        st.Caret = text.Length();
    if (st.SelStart > text.Length())
        st.SelStart = text.Length();

    const char* typed = GTypedText.Str();
    for (u32 i = 0; i < GTypedText.Length(); ++i)
    {
        const char c = typed[i];
        if (c == GUI_KEY_Backspace)
        {
            if (DeleteSelection(st))
                result |= EDIT_Changed;
            else if (st.Caret > 0)
            {
                text.Remove(st.Caret - 1, st.Caret - 1);
                --st.Caret;
                result |= EDIT_Changed;
            }
        }
        else if (gIsPrint((unsigned char)c))
        {
            if (DeleteSelection(st))
                result |= EDIT_Changed;
            if (text.Length() < st.TextLimit)
            {
                text.Insert(st.Caret, c);
                ++st.Caret;
                result |= EDIT_Changed;
            }
        }
        st.SelStart = st.Caret;
    }

    if (GetKeyStatus(GUI_KEY_Delete) == KS_Pressed)
    {
        if (DeleteSelection(st))
            result |= EDIT_Changed;
        else if (st.Caret < text.Length())
        {
            text.Remove(st.Caret, st.Caret);
            result |= EDIT_Changed;
        }
        st.SelStart = st.Caret;
    }

    if (GUI_LeftPressed() && st.Hovered)
    {
        st.Caret = st.SelStart = MouseCharIndex(r, st);
        st.Selecting = 1;
    }
    else if (st.Selecting && GMouseLeft)
    {
        st.SelStart = MouseCharIndex(r, st);
        const float scale = TransformScale(1.0f);
        float step = 0;
        if (GMousePos.x < r.x0)
            step = (GMousePos.x - r.x0) / scale * 0.01f;
        else if (GMousePos.x > r.x1)
            step = (GMousePos.x - r.x1) / scale * 0.01f;
        SFont* font = FieldFont(Font);
        float textWidth = 0;
        for (u32 i = 0; font && i < text.Length(); ++i)
            textWidth += font->GetCharWidth(FieldTextSize(), text.Str()[i]);
        // The offset is kept in the layer's units, so that it stays put when the canvas zooms.
        const float room = (textWidth - (r.x1 - r.x0)) / scale;
        st.Scroll = GUI_Clamp(st.Scroll + step, 0.0f, room > 0 ? room : 0.0f);
    }
    if (!GMouseLeft)
        st.Selecting = 0;

    if (GetKeyStatus(GUI_KEY_Enter) == KS_Pressed)
        result |= EDIT_Commit;
    return result;
}
