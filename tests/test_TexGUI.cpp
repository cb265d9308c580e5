// Popup menus, the menu bar and the prompt: layout against the window's edges, index mapping with
// section titles and disabled items, opening, switching and closing by the mouse, and the prompt
// written on OK or Enter only.
#include "GUITestMenus.h"
#include "GUITestSupport.h"
#include "TestSupport.h"

#include <string>
#include <vector>

#include "GameCore.h"
#include "TexGUI.h"

namespace
{
struct STick
{
    float x, y;
    bool left;
    bool right = false;
    const char* typed = nullptr;
    bool enter = false;
};

void ApplyTick(const STick& t)
{
    GUITest_Tick(t.x, t.y, t.left, t.typed ? t.typed : "");
    GMouseRight = t.right ? 1 : 0;
    GUITest_Key(GUI_KEY_Enter, t.enter);
}

const float MENU_X = 100, MENU_Y = 100;
// The middle of a menu row.
float RowY(int row)
{
    return MENU_Y + MENU_ROW_HEIGHT * (float)row + MENU_ROW_HEIGHT * 0.5f;
}
const float ROW_X = MENU_X + 50;
const float FAR_X = 700, FAR_Y = 400;
const float DT = 0.01f;

// A menu of the options placed at (left, top) under the root, laid out.
TTestMenu* AddMenu(TTestLayer& root, const std::vector<const char*>& options, float left = MENU_X, float top = MENU_Y)
{
    TTestMenu* menu = new TTestMenu(options);
    menu->OffsetLeft = left;
    menu->OffsetTop = top;
    root.AddChild(menu);
    menu->UpdateLayout();
    return menu;
}

void ExpectRect(const mRect& got, const mRect& want, float x, float y)
{
    EXPECT_FLOAT_EQ(got.x0, want.x0) << x << "," << y;
    EXPECT_FLOAT_EQ(got.y0, want.y0) << x << "," << y;
    EXPECT_FLOAT_EQ(got.x1, want.x1) << x << "," << y;
    EXPECT_FLOAT_EQ(got.y1, want.y1) << x << "," << y;
}
} // namespace

class TexGUI : public GUIDrawTest
{
};

TEST_F(TexGUI, MenusAreSizedToTheirOptionsAndKeptInsideTheWindow)
{
    struct Case
    {
        float left, top;
        int options;
        mRect expected;
    };
    ASSERT_EQ(GScreenWidth, 1024);
    ASSERT_EQ(GScreenHeight, 576);
    const Case cases[] = {
        {100, 500, 40, {100, -104, 280, 576}}, // taller than the window: the bottom wins, the size is kept
        {-30, -20, 3, {0, 0, 180, 51}},
        {950, 100, 2, {844, 100, 1024, 134}},
        {10, 560, 2, {10, 542, 190, 576}},
        {900, 550, 4, {844, 508, 1024, 576}},
        {300, 200, 1, {300, 200, 480, 217}},
    };
    for (const Case& c : cases)
    {
        TTestLayer root(mRect{0, 0, 1024, 576});
        const TTestMenu* menu = AddMenu(root, std::vector<const char*>(c.options, "Item"), c.left, c.top);
        ExpectRect(menu->Rect, c.expected, c.left, c.top);
    }
}

TEST_F(TexGUI, PromptIsCentredOnTheMouseAndKeptInsideTheWindow)
{
    struct Case
    {
        float mx, my;
        mRect expected;
    };
    const Case cases[] = {
        {10, 10, {0, 0, 400, 60}},
        {512, 288, {312, 258, 712, 318}},
        {1020, 570, {624, 516, 1024, 576}},
        {100, 560, {0, 516, 400, 576}},
    };
    for (const Case& c : cases)
    {
        GMousePos = mVec2(c.mx, c.my);
        TString target("name");
        SPopupWindow prompt("Enter the new name", &target);
        ExpectRect(prompt.Rect, c.expected, c.mx, c.my);
        EXPECT_STREQ(prompt.EditText.Str(), "name");
    }
}

TEST_F(TexGUI, ChosenOptionsAreCountedWithoutSectionTitles)
{
    struct Case
    {
        const char* what;
        std::vector<const char*> options;
        bool raw;
        int row;
        int expected; // -1: nothing chosen
        bool openAfter;
    };
    const Case cases[] = {
        {"after a title", {"--Section", "First", "Second"}, false, 2, 1, false},
        {"after a title, raw", {"--Section", "First", "Second"}, true, 2, 2, false},
        {"between titles", {"--A", "One", "--B", "Two", "Three"}, false, 4, 2, false},
        {"disabled items count", {"--Tools", "-Override disabled-", "Unlink"}, false, 2, 1, false},
        {"a disabled item ignores the click", {"--Tools", "-Override disabled-", "Unlink"}, false, 1, -1, true},
        {"a title ignores the click", {"--Tools", "Unlink"}, false, 0, -1, true},
        {"first option", {"New", "Open", "Save"}, false, 0, 0, false},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer root(mRect{0, 0, 1024, 576});
        TTestMenu* menu = AddMenu(root, c.options);
        menu->RawIndex = c.raw ? 1 : 0;
        menu->OpenMenu();
        const STick ticks[] = {{ROW_X, RowY(c.row), false}, {ROW_X, RowY(c.row), false}, {ROW_X, RowY(c.row), true},
                               {ROW_X, RowY(c.row), false}, {ROW_X, RowY(c.row), false}};
        for (const STick& t : ticks)
        {
            ApplyTick(t);
            SGUILayer::DrawTree(&root, DT);
        }
        EXPECT_EQ(menu->Picks, c.expected < 0 ? std::vector<int>() : std::vector<int>{c.expected}) << c.what;
        EXPECT_EQ(menu->Open != 0, c.openAfter) << c.what;
    }
}

TEST_F(TexGUI, MenusCloseOnReleasesOutsideButNotOnTheirFirstFrame)
{
    struct Case
    {
        const char* what;
        std::vector<STick> ticks; // after the menu was opened
        bool openAfter;
    };
    const Case cases[] = {
        {"left release outside", {{FAR_X, FAR_Y, false}, {FAR_X, FAR_Y, true}, {FAR_X, FAR_Y, false}}, false},
        {"the opening release on the first frame", {{FAR_X, FAR_Y, false}}, true},
        {"right release outside", {{FAR_X, FAR_Y, false}, {FAR_X, FAR_Y, false, true}, {FAR_X, FAR_Y, false}}, false},
        {"right release inside", {{ROW_X, RowY(1), false}, {ROW_X, RowY(1), false, true}, {ROW_X, RowY(1), false}}, true},
        {"left release on a title", {{ROW_X, RowY(0), false}, {ROW_X, RowY(0), true}, {ROW_X, RowY(0), false}}, true},
        {"no release", {{FAR_X, FAR_Y, false}, {FAR_X, FAR_Y, true}, {FAR_X, FAR_Y, true}}, true},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestLayer root(mRect{0, 0, 1024, 576});
        TTestMenu* menu = AddMenu(root, {"--Title", "One", "Two"});
        // Opened by a click whose release is in the same tick as the menu's first frame.
        ApplyTick({FAR_X, FAR_Y, true});
        ApplyTick({FAR_X, FAR_Y, false});
        menu->OpenMenu();
        for (const STick& t : c.ticks)
        {
            SGUILayer::DrawTree(&root, DT);
            ApplyTick(t);
        }
        SGUILayer::DrawTree(&root, DT);
        EXPECT_EQ(menu->Open != 0, c.openAfter) << c.what;
        EXPECT_TRUE(menu->Picks.empty()) << c.what;
    }
}

TEST_F(TexGUI, OptionTextsShorterThanTwoCharactersAreReportedAndSkipped)
{
    TExpectBreak expected("Options[ i ].Size() < 2");
    TTestLayer root(mRect{0, 0, 1024, 576});
    TTestMenu* menu = AddMenu(root, {"A", "Ok"});
    menu->OpenMenu();
    const STick ticks[] = {{ROW_X, RowY(1), false}, {ROW_X, RowY(1), true}, {ROW_X, RowY(1), false}};
    for (const STick& t : ticks)
    {
        ApplyTick(t);
        SGUILayer::DrawTree(&root, DT);
    }
    EXPECT_EQ(menu->Picks, std::vector<int>{0});
    EXPECT_NE(RecordedBoxes().back().text.find("TexGUI"), std::string::npos);
}

TEST_F(TexGUI, TheMenuBarOpensSwitchesAndClosesItsMenus)
{
    const mRect FILE_ENTRY{0, 0, 60, 20}, EDIT_ENTRY{60, 0, 120, 20};
    const float FILE_X = 30, EDIT_X = 90, BAR_Y = 10;
    // Rows of the File menu start under its entry.
    const float FILE_ROW1_Y = FILE_ENTRY.y1 + MENU_ROW_HEIGHT * 1.5f;
    struct Case
    {
        const char* what;
        std::vector<STick> ticks;
        bool fileOpen, editOpen;
        std::vector<int> filePicks;
    };
    const Case cases[] = {
        {"a click opens and its release does not close",
         {{FILE_X, BAR_Y, true}, {FILE_X, BAR_Y, false}, {FILE_X, BAR_Y, false}, {FAR_X, FAR_Y, false}}, true, false, {}},
        {"hovering another entry switches",
         {{FILE_X, BAR_Y, true}, {FILE_X, BAR_Y, false}, {EDIT_X, BAR_Y, false}, {EDIT_X, BAR_Y, false}}, false, true, {}},
        {"a second click on the bar closes",
         {{FILE_X, BAR_Y, true}, {FILE_X, BAR_Y, false}, {FILE_X, BAR_Y, true}, {FILE_X, BAR_Y, false}}, false, false, {}},
        {"a click elsewhere closes",
         {{FILE_X, BAR_Y, true}, {FILE_X, BAR_Y, false}, {FAR_X, FAR_Y, true}, {FAR_X, FAR_Y, false}}, false, false, {}},
        {"an item is picked and the menu closes",
         {{FILE_X, BAR_Y, true}, {FILE_X, BAR_Y, false}, {FILE_X, FILE_ROW1_Y, false}, {FILE_X, FILE_ROW1_Y, true},
          {FILE_X, FILE_ROW1_Y, false}, {FAR_X, FAR_Y, false}},
         false, false, {1}},
        {"hovering the bar with no menu open opens none", {{EDIT_X, BAR_Y, false}, {FILE_X, BAR_Y, false}}, false, false, {}},
    };
    for (const Case& c : cases)
    {
        InputReset();
        TTestMenuWindow window;
        TTestMenu* file = new TTestMenu({"New", "Open", "Save"});
        TTestMenu* edit = new TTestMenu({"Undo", "Redo"});
        window.AddMenu(FILE_ENTRY, "File", file);
        window.AddMenu(EDIT_ENTRY, "Edit", edit);
        EXPECT_FLOAT_EQ(file->Rect.y0, FILE_ENTRY.y1);
        EXPECT_FLOAT_EQ(edit->Rect.x0, EDIT_ENTRY.x0);
        for (const STick& t : c.ticks)
        {
            ApplyTick(t);
            SGUILayer::DrawTree(&window, DT);
        }
        EXPECT_EQ(file->Open != 0, c.fileOpen) << c.what;
        EXPECT_EQ(edit->Open != 0, c.editOpen) << c.what;
        EXPECT_EQ(file->Picks, c.filePicks) << c.what;
        EXPECT_TRUE(edit->Picks.empty()) << c.what;
        EXPECT_EQ(window.CurMenu, c.fileOpen ? (SPopupMenu*)file : (c.editOpen ? (SPopupMenu*)edit : nullptr)) << c.what;
    }
}

TEST_F(TexGUI, ThePromptWritesItsTargetOnlyOnOKOrEnter)
{
    enum EEnd
    {
        BY_ENTER,
        BY_OK,
        BY_CANCEL,
        BY_MOVING_AWAY,
    };
    struct Case
    {
        EEnd end;
        const char* expected;
    };
    const Case cases[] = {{BY_ENTER, "Blur 2"}, {BY_OK, "Blur 2"}, {BY_CANCEL, "Node"}, {BY_MOVING_AWAY, "Node"}};
    const float MX = 512, MY = 288;
    for (const Case& c : cases)
    {
        InputReset();
        GMousePos = mVec2(MX, MY);
        TTestLayer root(mRect{0, 0, 1024, 576});
        TString target("Node");
        SPopupWindow* prompt = new SPopupWindow("Enter the new name", &target);
        root.AddChild(prompt);
        prompt->UpdateRect();
        const mRect ok = prompt->OKRect(), cancel = prompt->CancelRect();
        std::vector<STick> ticks = {{MX, MY, false}, {MX, MY, false, false, "Blur 2"}};
        switch (c.end)
        {
        case BY_ENTER: ticks.push_back({MX, MY, false, false, nullptr, true}); break;
        case BY_OK:
        case BY_CANCEL:
        {
            const mRect& b = c.end == BY_OK ? ok : cancel;
            const float x = (b.x0 + b.x1) * 0.5f, y = (b.y0 + b.y1) * 0.5f;
            ticks.push_back({x, y, false});
            ticks.push_back({x, y, true});
            ticks.push_back({x, y, false});
            break;
        }
        case BY_MOVING_AWAY:
            ticks.push_back({prompt->Rect.x1 + PROMPT_CANCEL_MARGIN - 1, MY, false});
            ticks.push_back({prompt->Rect.x1 + PROMPT_CANCEL_MARGIN + 1, MY, false, false, nullptr, true});
            break;
        }
        for (const STick& t : ticks)
        {
            ApplyTick(t);
            SGUILayer::DrawTree(&root, DT);
        }
        EXPECT_FALSE(prompt->Open) << c.end;
        EXPECT_STREQ(target.Str(), c.expected) << c.end;
    }
}
