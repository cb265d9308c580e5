// Text and number fields: a text edited in a copy that is written back when the editing ends,
// and number fields that drag with the mouse, switch to typing on a click without movement, and
// snap and clamp what they store.
#include "GUIInterface.h"

#include <math.h>
#include <limits.h>

#include "GameInput.h"

namespace
{
const float FIELD_INSET = 2.0f;

mRect Inset(const mRect& r, float d)
{
    return mRect{r.x0 + d, r.y0 + d, r.x1 - d, r.y1 - d};
}

void StartEditing(SWidgetState& st, u32 limit)
{
    st.Mode = WM_Edit;
    st.SelStart = 0;
    st.Caret = st.EditText.Length();
    st.TextLimit = limit;
    st.Scroll = 0;
}
} // namespace

float GUI_SnapClamp(float value, float snap, float minValue, float maxValue)
{
    // rint rounds halves to even in the default rounding mode.
    if (snap > 0)
        value = rintf(value * snap) / snap;
    return GUI_Clamp(value, minValue, maxValue);
}

int GUI_RoundClampInt(double value, int minValue, int maxValue)
{
    const double r = rint(value);
    int i;
    if (r != r)
        i = 0;
    else if (r >= (double)INT_MAX)
        i = INT_MAX;
    else if (r <= (double)INT_MIN)
        i = INT_MIN;
    else
        i = (int)r;
    return i < minValue ? minValue : (i > maxValue ? maxValue : i);
}

int SInterface::TextField(u32 id, const mRect& r, TString* text, u32 maxLength)
{
    SWidgetState& st = GetWidgetState(id);
    st.Rect = r;
    st.Frame = FrameCounter;
    if (st.Mode != WM_Edit)
    {
        st.EditText = *text;
        if (FocusId == (int)id)
            StartEditing(st, maxLength);
    }
    st.TextLimit = maxLength;
    mRect outer;
    TransformRect(outer, r);
    DrawTextField(outer, st, FocusId == (int)id);
    mRect tr;
    TransformRect(tr, Inset(r, FIELD_INSET));
    // Focus taken by another widget before this one ran ends the editing as well.
    const bool focusedBefore = FocusId == (int)id;
    const int result = EditTextBehavior(tr, st, id);
    if (st.Mode != WM_Edit)
    {
        if (FocusId == (int)id)
        {
            st.EditText = *text;
            StartEditing(st, maxLength);
        }
        return 0;
    }
    if (!focusedBefore || (result & (EDIT_Commit | EDIT_FocusLost)))
    {
        *text = st.EditText;
        st.Mode = WM_New;
        if (FocusId == (int)id)
            FocusId = GUI_NO_FOCUS;
        return 1;
    }
    return 0;
}

int SInterface::NumberField(u32 id, const mRect& r, double current, bool integer, float minValue, float maxValue,
                            double& result)
{
    bool created = false;
    SWidgetState& st = GetWidgetState(id, &created);
    const u32 displayMode = integer ? WM_IntDisplay : WM_FloatDisplay;
    if (created || st.Mode == WM_New)
    {
        st.Mode = displayMode;
        st.DragValue = (float)current;
    }
    st.Rect = r;
    st.Frame = FrameCounter;
    mRect tr;
    TransformRect(tr, r);

    bool finished = false;
    if (st.Mode != WM_Edit)
    {
        // A drag starts from the value as it is now, whoever changed it since the last one.
        if (!st.Held)
            st.DragValue = (float)current;
        if (integer)
            st.EditText.Format(GUI_NUMBER_TEXT_SIZE, "%d",
                               st.Held ? GUI_RoundClampInt(st.DragValue, INT_MIN, INT_MAX) : (int)current);
        else
            st.EditText.Format(GUI_NUMBER_TEXT_SIZE, "%f", st.Held ? (double)st.DragValue : current);
        st.Caret = st.SelStart = 0;
        st.Scroll = 0;
        DrawTextField(tr, st, st.Hovered || st.Held);
        finished = DragBehavior(tr, st, minValue, maxValue) != 0;
    }
    else
    {
        const bool focusedBefore = FocusId == (int)id;
        DrawTextField(tr, st, focusedBefore);
        const int edit = EditTextBehavior(Inset(tr, FIELD_INSET), st, id);
        finished = !focusedBefore || (edit & (EDIT_Commit | EDIT_FocusLost)) ||
                   (GUI_LeftReleased() && !st.Held && !MouseInRect(tr));
    }
    if (!finished)
        return 0;

    if (st.Mode != WM_Edit && GMousePos.x == st.PressPoint.x && GMousePos.y == st.PressPoint.y)
    {
        // A click without movement: type the number instead.
        if (integer)
            st.EditText.Format(GUI_NUMBER_EDIT_LIMIT, "%d", (int)current);
        else
            st.EditText.Format(GUI_NUMBER_EDIT_LIMIT, "%g", current);
        StartEditing(st, GUI_NUMBER_EDIT_LIMIT);
        FocusId = (int)id;
        return 0;
    }
    if (st.Mode == WM_Edit)
    {
        st.Mode = displayMode;
        result = integer ? (double)StrToInt(st.EditText.Str()) : (double)StrToFloat(st.EditText.Str());
        st.DragValue = (float)result;
        if (FocusId == (int)id)
            FocusId = GUI_NO_FOCUS;
        return 1;
    }
    result = st.DragValue;
    return 1;
}

int SInterface::GuiFloatField(u32 id, const mRect& r, float* value, float minValue, float maxValue, float snap)
{
    double result = 0;
    if (!NumberField(id, r, *value, false, minValue, maxValue, result))
        return 0;
    *value = GUI_SnapClamp((float)result, snap, minValue, maxValue);
    return 1;
}

int SInterface::GuiIntField(u32 id, const mRect& r, int* value, int minValue, int maxValue)
{
    double result = 0;
    if (!NumberField(id, r, *value, true, (float)minValue, (float)maxValue, result))
        return 0;
    *value = GUI_RoundClampInt(result, minValue, maxValue);
    return 1;
}
