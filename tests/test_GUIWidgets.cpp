// Immediate-mode widgets: number fields dragged, clicked into and typed into, snapping and
// clamping of what they store, text editing with the caret and the selection, focus and commit.
#include "GUITestSupport.h"
#include "TestSupport.h"

#include <float.h>
#include <limits.h>
#include <math.h>

#include <string>
#include <vector>

#include "GameFont.h"

namespace
{
// One tick of input for a widget test.
struct STick
{
    float x, y;
    bool left;
    const char* typed = nullptr;
    bool enter = false;
    bool del = false;
};

void ApplyTick(const STick& t)
{
    GUITest_Tick(t.x, t.y, t.left, t.typed ? t.typed : "");
    GUITest_Key(GUI_KEY_Enter, t.enter);
    GUITest_Key(GUI_KEY_Delete, t.del);
}

const mRect FIELD{100, 100, 200, 120};
const float IN_X = 150, IN_Y = 110, OUT_X = 500, OUT_Y = 500;
const u32 FIELD_ID = 5;
} // namespace

TEST(GUINumbers, SnappingRoundsHalvesToEvenThenClamps)
{
    struct Case
    {
        float value, snap, lo, hi, expected;
    };
    const Case cases[] = {
        {0.12345f, 100, 0, 1, 0.12f}, {2.5f, 1, 0, 10, 2}, {3.5f, 1, 0, 10, 4}, {5, 0, 0, 1, 1},
        {-3, 0, 0, 1, 0}, {0.12345f, 0, -1, 1, 0.12345f}, {0.26f, 4, 0, 1, 0.25f},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(GUI_SnapClamp(c.value, c.snap, c.lo, c.hi), c.expected) << c.value << " snap " << c.snap;

    struct IntCase
    {
        double value;
        int lo, hi, expected;
    };
    const IntCase ints[] = {
        {2.5, -10, 10, 2}, {3.5, -10, 10, 4}, {-2.5, -10, 10, -2}, {1e10, 0, INT_MAX, INT_MAX},
        {-1e10, INT_MIN, 0, INT_MIN}, {1e10, 0, 100, 100}, {NAN, -5, 5, 0}, {7, 10, 20, 10},
    };
    for (const IntCase& c : ints)
        EXPECT_EQ(GUI_RoundClampInt(c.value, c.lo, c.hi), c.expected) << c.value;
}

class GUIWidgets : public GUIDrawTest
{
protected:
    // Runs the ticks, one frame each, through the widgets and sums what they return.
    template <class TWidgets>
    static int Run(TTestLayer& layer, const std::vector<STick>& ticks, const TWidgets& widgets)
    {
        int sum = 0;
        for (const STick& t : ticks)
        {
            ApplyTick(t);
            ++layer.FrameCounter;
            sum += widgets();
        }
        return sum;
    }
    static int RunFloat(TTestLayer& layer, const std::vector<STick>& ticks, float& value, float lo, float hi, float snap)
    {
        return Run(layer, ticks, [&] { return layer.GuiFloatField(FIELD_ID, FIELD, &value, lo, hi, snap); });
    }
    static int RunInt(TTestLayer& layer, const std::vector<STick>& ticks, int& value, int lo, int hi)
    {
        return Run(layer, ticks, [&] { return layer.GuiIntField(FIELD_ID, FIELD, &value, lo, hi); });
    }
    // A layer writing in the monospaced debug font; w is the width of one character.
    static void FontLayer(TTestLayer& layer, SFont& font, float& w)
    {
        ASSERT_TRUE(font.Load("Data/Engine/DebugFont.fnt"));
        layer.Font = &font;
        w = font.GetCharWidth(layer.FieldTextSize(), 'a');
        ASSERT_GT(w, 0);
    }
    // Focuses the field on the text and runs the text editing through the ticks.
    static void Edit(TTestLayer& layer, const mRect& field, const char* text, u32 limit, const std::vector<STick>& ticks)
    {
        SWidgetState& st = layer.GetWidgetState(FIELD_ID);
        st.EditText = text;
        st.Caret = st.SelStart = 0;
        st.TextLimit = limit;
        layer.FocusId = FIELD_ID;
        for (const STick& t : ticks)
        {
            ApplyTick(t);
            layer.EditTextBehavior(field, st, FIELD_ID);
        }
    }
};

TEST_F(GUIWidgets, DraggingChangesWithTheSquareOfSpeedAndDistance)
{
    struct Case
    {
        const char* what;
        float start, lo, hi, snap;
        std::vector<STick> ticks;
        float expected;
    };
    const float X = 120;
    const Case cases[] = {
        // 10 pixels at distance 10: d = 10; then 10 more at distance 20: d = 20, so 1 + 4.
        {"two steps right", 0, -100, 100, 0,
         {{X, IN_Y, false}, {X, IN_Y, true}, {X + 10, IN_Y, true}, {X + 20, IN_Y, true}, {X + 20, IN_Y, false}}, 5.0f},
        {"two steps left", 0, -100, 100, 0,
         {{X, IN_Y, false}, {X, IN_Y, true}, {X - 10, IN_Y, true}, {X - 20, IN_Y, true}, {X - 20, IN_Y, false}}, -5.0f},
        {"a small drag snapped to hundredths", 0.12345f, 0, 1, 100,
         {{X, IN_Y, false}, {X, IN_Y, true}, {X + 1, IN_Y, true}, {X + 1, IN_Y, false}}, 0.12f},
        {"a far drag clamped", 0, 0, 1, 0,
         {{X, IN_Y, false}, {X, IN_Y, true}, {X + 60, IN_Y, true}, {X + 60, IN_Y, false}}, 1.0f},
        {"a drag that began outside changes nothing", 0.5f, 0, 1, 0,
         {{OUT_X, IN_Y, false}, {OUT_X, IN_Y, true}, {X + 60, IN_Y, true}, {X + 60, IN_Y, false}}, 0.5f},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer layer(mRect{0, 0, 1024, 576});
        float value = c.start;
        const int changes = RunFloat(layer, c.ticks, value, c.lo, c.hi, c.snap);
        EXPECT_NEAR(value, c.expected, 1e-5f) << c.what;
        EXPECT_EQ(changes, c.ticks[1].x == OUT_X ? 0 : 1) << c.what;
        EXPECT_NE(layer.GetWidgetState(FIELD_ID).Mode, (u32)WM_Edit) << c.what;
    }
}

TEST_F(GUIWidgets, AClickWithoutMovementStartsTypingTheValueInShortForm)
{
    struct Case
    {
        bool integer;
        float value;
        const char* shown;  // while displayed
        const char* edited; // when typing starts
    };
    const Case cases[] = {
        {false, 0.5f, "0.500000", "0.5"},
        {false, 3.4e38f, "339999995214436424907732413799364296704.000000", "3.4e+38"},
        {false, -2, "-2.000000", "-2"},
        {true, 42, "42", "42"},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer layer(mRect{0, 0, 1024, 576});
        float f = c.value;
        int i = (int)c.value;
        const std::vector<STick> ticks = {{IN_X, IN_Y, false}};
        if (c.integer)
            RunInt(layer, ticks, i, -1000, 1000);
        else
            RunFloat(layer, ticks, f, -FLT_MAX, FLT_MAX, 0);
        EXPECT_STREQ(layer.GetWidgetState(FIELD_ID).EditText.Str(), c.shown);
        const std::vector<STick> click = {{IN_X, IN_Y, true}, {IN_X, IN_Y, false}};
        const int changes = c.integer ? RunInt(layer, click, i, -1000, 1000) : RunFloat(layer, click, f, -FLT_MAX, FLT_MAX, 0);
        const SWidgetState& st = layer.GetWidgetState(FIELD_ID);
        EXPECT_EQ(changes, 0);
        EXPECT_EQ(st.Mode, (u32)WM_Edit);
        EXPECT_STREQ(st.EditText.Str(), c.edited);
        EXPECT_EQ(st.SelStart, 0u);
        EXPECT_EQ(st.Caret, st.EditText.Length());
        EXPECT_EQ(layer.FocusId, (int)FIELD_ID);
        EXPECT_EQ(c.integer ? (float)i : f, c.value) << "no change yet";
    }
}

TEST_F(GUIWidgets, TypedNumbersAreConvertedSaturatedSnappedAndClamped)
{
    enum ECommit
    {
        BY_ENTER,
        BY_CLICK_ELSEWHERE,
    };
    struct Case
    {
        bool integer;
        const char* typed;
        float lo, hi, snap;
        ECommit commit;
        double expected;
    };
    const Case cases[] = {
        {false, "5", 0, 1, 0, BY_ENTER, 1},
        {false, "0.25", 0, 1, 0, BY_CLICK_ELSEWHERE, 0.25},
        {false, "0.12345", 0, 1, 100, BY_ENTER, 0.12f},
        {false, "abc", -1, 1, 0, BY_ENTER, 0},
        {false, "3.4e38", -FLT_MAX, FLT_MAX, 0, BY_ENTER, 3.4e38f},
        {true, "7", -100, 100, 0, BY_ENTER, 7},
        {true, "99999999999", -1000, 1000, 0, BY_CLICK_ELSEWHERE, 1000},
        {true, "-99999999999", -5, 5, 0, BY_ENTER, -5},
        {true, "99999999999", -2e9f, 2e9f, 0, BY_ENTER, 2000000000},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer layer(mRect{0, 0, 1024, 576});
        float f = 0.5f;
        int i = 3;
        std::vector<STick> ticks = {
            {IN_X, IN_Y, false}, {IN_X, IN_Y, true}, {IN_X, IN_Y, false}, // click: typing starts
            {IN_X, IN_Y, false, c.typed},                                 // replaces the selected text
        };
        if (c.commit == BY_ENTER)
            ticks.push_back({IN_X, IN_Y, false, nullptr, true});
        else
        {
            ticks.push_back({OUT_X, OUT_Y, true});
            ticks.push_back({OUT_X, OUT_Y, false});
        }
        ticks.push_back({IN_X + 30, IN_Y, false});
        const int changes = c.integer ? RunInt(layer, ticks, i, (int)c.lo, (int)c.hi) : RunFloat(layer, ticks, f, c.lo, c.hi, c.snap);
        EXPECT_EQ(changes, 1) << c.typed;
        if (c.integer)
            EXPECT_EQ(i, (int)c.expected) << c.typed;
        else
            EXPECT_FLOAT_EQ(f, (float)c.expected) << c.typed;
        const SWidgetState& st = layer.GetWidgetState(FIELD_ID);
        EXPECT_NE(st.Mode, (u32)WM_Edit) << c.typed;
        EXPECT_EQ(layer.FocusId, GUI_NO_FOCUS) << c.typed;
        EXPECT_LT(st.EditText.Length(), GUI_NUMBER_TEXT_SIZE) << c.typed;
    }
}

TEST_F(GUIWidgets, TextEditingKeepsCaretAndSelectionInsideTheText)
{
    struct Case
    {
        const char* text;
        u32 caret, selStart, limit;
        const char* typed;
        bool del;
        const char* expected;
        u32 expectedCaret;
        bool changed;
    };
    const char BS[] = "\b";
    const Case cases[] = {
        {"abc", 0, 0, 32, BS, false, "abc", 0, false},
        {"abc", 3, 3, 32, BS, false, "ab", 2, true},
        {"ab", 1, 1, 32, "\b\b", false, "b", 0, true},
        {"abc", 1, 3, 32, "x", false, "ax", 2, true},
        {"abc", 3, 0, 32, BS, false, "", 0, true},
        {"abc", 0, 0, 32, "", true, "bc", 0, true},
        {"abc", 3, 3, 32, "", true, "abc", 3, false},
        {"abc", 2, 0, 32, "", true, "c", 0, true},
        {"abc", 99, 99, 32, "d", false, "abcd", 4, true},
        {"abc", 7, 1, 32, BS, false, "a", 1, true},
        {"abcd", 4, 4, 4, "e", false, "abcd", 4, false},
        {"abcd", 0, 4, 4, "xy", false, "xy", 2, true},
        {"ab", 2, 2, 32, "\t\x1b", false, "ab", 2, false},
        // UTF-8: characters go in, out and under the byte limit whole (e acute, A acute: 2 bytes).
        {"ab", 2, 2, 32, "\xC3\xA9", false, "ab\xC3\xA9", 4, true},
        {"a\xC3\xA9", 3, 3, 32, BS, false, "a", 1, true},
        {"a\xC3\x81" "b", 1, 1, 32, "", true, "ab", 1, true},
        {"abc", 3, 3, 5, "\xC3\xA9\xC3\xA9", false, "abc\xC3\xA9", 5, true},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer layer(mRect{0, 0, 1024, 576});
        SWidgetState& st = layer.GetWidgetState(FIELD_ID);
        st.EditText = c.text;
        st.Caret = c.caret;
        st.SelStart = c.selStart;
        st.TextLimit = c.limit;
        layer.FocusId = FIELD_ID;
        ApplyTick({OUT_X, OUT_Y, false, c.typed, false, c.del});
        const int r = layer.EditTextBehavior(FIELD, st, FIELD_ID);
        EXPECT_STREQ(st.EditText.Str(), c.expected) << c.text << " @" << c.caret;
        EXPECT_EQ(st.Caret, c.expectedCaret) << c.text << " @" << c.caret;
        EXPECT_EQ(st.SelStart, c.expectedCaret) << c.text << " @" << c.caret;
        EXPECT_EQ((r & EDIT_Changed) != 0, c.changed) << c.text << " @" << c.caret;
    }
}

TEST_F(GUIWidgets, TheMousePlacesTheCaretAndDragsTheSelection)
{
    SFont font;
    TTestLayer layer(mRect{0, 0, 1024, 576});
    float w = 0;
    FontLayer(layer, font, w);
    ASSERT_FALSE(HasFatalFailure());
    struct Case
    {
        float pressAt, dragTo; // in character widths from the field's left edge
        u32 caret, selStart;
    };
    // Byte offsets in a text whose third character takes two bytes.
    const Case cases[] = {{1.5f, 3.5f, 2, 5}, {0, 0, 0, 0}, {0.5f, 1.5f, 1, 2}, {2.5f, 40, 4, 7}, {4, 1, 5, 1}};
    for (const Case& c : cases)
    {
        InputReset();
        const mRect field{100, 100, 100 + 20 * w, 120};
        const float press = field.x0 + c.pressAt * w;
        Edit(layer, field, "ab\xC3\xA7" "def", 32, {{press, 110, false}, {press, 110, true}, {field.x0 + c.dragTo * w, 110, true}});
        const SWidgetState& st = layer.GetWidgetState(FIELD_ID);
        EXPECT_EQ(st.Caret, c.caret) << c.pressAt;
        EXPECT_EQ(st.SelStart, c.selStart) << c.dragTo;
        EXPECT_EQ(layer.FocusId, (int)FIELD_ID);
    }
}

TEST_F(GUIWidgets, TextFieldsWriteBackWhenTheEditingEnds)
{
    enum EEnd
    {
        BY_ENTER,
        BY_CLICK_ELSEWHERE,
        BY_OTHER_FIELD,
        NOT_ENDED,
    };
    struct Case
    {
        EEnd end;
        const char* expected;
    };
    const Case cases[] = {{BY_ENTER, "xy"}, {BY_CLICK_ELSEWHERE, "xy"}, {BY_OTHER_FIELD, "xy"}, {NOT_ENDED, "old"}};
    const mRect other{100, 200, 200, 220};
    const u32 OTHER_ID = 6;
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer layer(mRect{0, 0, 1024, 576});
        TString text("old"), otherText("other");
        std::vector<STick> ticks = {{IN_X, IN_Y, true}, {IN_X, IN_Y, false}, {IN_X, IN_Y, false, "xy"}};
        if (c.end == BY_ENTER)
            ticks.push_back({IN_X, IN_Y, false, nullptr, true});
        else if (c.end == BY_CLICK_ELSEWHERE)
        {
            ticks.push_back({OUT_X, OUT_Y, true});
            ticks.push_back({OUT_X, OUT_Y, false});
        }
        else if (c.end == BY_OTHER_FIELD)
        {
            ticks.push_back({150, 210, true});
            ticks.push_back({150, 210, false});
        }
        // The other field runs first, so the focus moves before this field sees the tick.
        const int done = Run(layer, ticks, [&] {
            layer.TextField(OTHER_ID, other, &otherText, 32);
            return layer.TextField(FIELD_ID, FIELD, &text, 32);
        });
        EXPECT_EQ(done, c.end == NOT_ENDED ? 0 : 1) << c.end;
        EXPECT_STREQ(text.Str(), c.expected) << c.end;
        EXPECT_STREQ(otherText.Str(), "other") << c.end;
    }
}

TEST_F(GUIWidgets, ClickedCheckBoxesAndTogglesInvertTheirValue)
{
    struct Case
    {
        bool toggle;
        int start;
        std::vector<STick> ticks;
        int expected, changes;
    };
    const Case cases[] = {
        {false, 0, {{IN_X, IN_Y, true}, {IN_X, IN_Y, false}}, 1, 1},
        {false, 1, {{IN_X, IN_Y, true}, {IN_X, IN_Y, false}}, 0, 1},
        {true, 0, {{IN_X, IN_Y, true}, {IN_X, IN_Y, false}, {IN_X, IN_Y, true}, {IN_X, IN_Y, false}}, 0, 2},
        {true, 0, {{IN_X, IN_Y, true}, {OUT_X, IN_Y, false}}, 0, 0},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer layer(mRect{0, 0, 1024, 576});
        int value = c.start;
        const int changes = Run(layer, c.ticks, [&] {
            const int r = c.toggle ? layer.GuiToggle(FIELD_ID, FIELD, "$OK$", &value) : layer.CheckBox(FIELD_ID, FIELD, &value);
            layer.Button(FIELD_ID, FIELD, ""); // a second widget of the same id shares the state
            return r;
        });
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(changes, c.changes);
        EXPECT_EQ(layer.WidgetStates.Count(), 1u);
    }
}

TEST_F(GUIWidgets, DraggingPastAFieldsEdgeScrollsWithinTheText)
{
    SFont font;
    TTestLayer layer(mRect{0, 0, 1024, 576});
    float w = 0;
    FontLayer(layer, font, w);
    ASSERT_FALSE(HasFatalFailure());
    const int CHARS = 30;
    const float fieldChars = 10;
    const mRect field{100, 100, 100 + fieldChars * w, 120};
    const float room = (CHARS - fieldChars) * w; // the text beyond the field
    struct Case
    {
        float beyond; // pixels past the right edge (negative: past the left edge)
        int ticks;
        float startScroll;
        float expected;
    };
    const Case cases[] = {
        {50, 4, 0, 4 * 50 * 0.01f},
        {100, 10, 0, 10 * 100 * 0.01f},
        {5000, 10, 0, room},            // never past the end of the text
        {-50, 4, 3.0f, 3.0f - 4 * 50 * 0.01f},
        {-5000, 3, 1.0f, 0},            // never before its start
    };
    for (const Case& c : cases)
    {
        InputReset();
        layer.GetWidgetState(FIELD_ID).Scroll = c.startScroll;
        const float x = c.beyond > 0 ? field.x1 + c.beyond : field.x0 + c.beyond;
        std::vector<STick> ticks = {{field.x0 + 5, 110, false}, {field.x0 + 5, 110, true}};
        ticks.resize(2 + c.ticks, {x, 110, true});
        std::string text;
        for (int i = 0; i < CHARS; ++i)
            text += "\xC3\xA9"; // shown as the font's placeholder, as wide as any character
        Edit(layer, field, text.c_str(), 2 * CHARS, ticks);
        const SWidgetState& st = layer.GetWidgetState(FIELD_ID);
        EXPECT_NEAR(st.Scroll, c.expected, 1e-3f) << c.beyond;
    }
}
