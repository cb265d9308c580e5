// The text-editing behaviour of fields: focus by click, typed characters, Backspace and Delete,
// the caret and the selection placed and dragged by the mouse, and horizontal scrolling. Text is
// UTF-8; the caret and the selection are byte offsets that always fall between whole characters.
#include "GUILayer.h"

#include "GameFont.h"
#include "GameInput.h"
#include "GUtf8.h"

namespace
{
SFont* FieldFont(SFont* font)
{
    return font ? font : GDebugFont;
}

// Width of the text's characters before byte offset end, in screen units.
float TextWidth(SFont* font, float size, const TString& text, u32 end)
{
    const u32 n = end < text.Length() ? end : text.Length();
    return font ? font->GetTextWidth(size, text.Str(), 0, (int)n) : 0.0f;
}

// Typed characters a field takes: none of the control characters.
bool IsTypedPrintable(u32 c)
{
    return c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0);
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
    u32 i = 0, c;
    while (i < n && pos < GMousePos.x)
    {
        i += UTF_Decode(text, n, i, c);
        if (font)
            pos += font->GetCharWidth(size, c);
    }
    return i;
}

void SGUILayer::KeepCaretInView(const mRect& r, SWidgetState& st)
{
    const float scale = TransformScale(1.0f);
    if (!(scale > 0))
        return;
    SFont* font = FieldFont(Font);
    const float size = FieldTextSize();
    const float caret = TextWidth(font, size, st.EditText, st.Caret);
    const float room = TextWidth(font, size, st.EditText, st.EditText.Length()) - (r.x1 - r.x0);
    float scroll = st.Scroll * scale;
    // The text moves just enough for the caret to stand inside the field.
    if (caret - scroll > r.x1 - r.x0)
        scroll = caret - (r.x1 - r.x0);
    if (caret < scroll)
        scroll = caret;
    st.Scroll = GUI_Clamp(scroll, 0.0f, room > 0 ? room : 0.0f) / scale;
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
    // Whoever set the text may have left the caret and the selection past its end or inside a
    // character.
    st.Caret = UTF_Floor(text.Str(), text.Length(), st.Caret);
    st.SelStart = UTF_Floor(text.Str(), text.Length(), st.SelStart);

    const char* typed = GTypedText.Str();
    for (u32 i = 0, c; i < GTypedText.Length();)
    {
        i += UTF_Decode(typed, GTypedText.Length(), i, c);
        if (c == GUI_KEY_Backspace)
        {
            if (DeleteSelection(st))
                result |= EDIT_Changed;
            else if (st.Caret > 0)
            {
                const u32 from = UTF_Prev(text.Str(), text.Length(), st.Caret);
                text.Remove(from, st.Caret - 1);
                st.Caret = from;
                result |= EDIT_Changed;
            }
        }
        else if (IsTypedPrintable(c))
        {
            if (DeleteSelection(st))
                result |= EDIT_Changed;
            // The limit is in bytes, and a character goes in whole or not at all.
            char bytes[UTF_MAX_BYTES];
            const u32 n = UTF_Encode(c, bytes);
            if (n > 0 && text.Length() + n <= st.TextLimit)
            {
                text.Insert(st.Caret, TString(bytes, n));
                st.Caret += n;
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
            text.Remove(st.Caret, UTF_Next(text.Str(), text.Length(), st.Caret) - 1);
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
        const float textWidth = TextWidth(FieldFont(Font), FieldTextSize(), text, text.Length());
        // The offset is kept in the layer's units, so that it stays put when the canvas zooms.
        const float room = (textWidth - (r.x1 - r.x0)) / scale;
        st.Scroll = GUI_Clamp(st.Scroll + step, 0.0f, room > 0 ? room : 0.0f);
    }
    else if (result & EDIT_Changed)
        KeepCaretInView(r, st); // the mouse moves the text while it selects; else typing does
    if (!GMouseLeft)
        st.Selecting = 0;

    if (GetKeyStatus(GUI_KEY_Enter) == KS_Pressed)
        result |= EDIT_Commit;
    return result;
}
