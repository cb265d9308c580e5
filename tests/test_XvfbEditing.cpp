// Editing as a user does it, under Xvfb: the pointer and keys sent through XTest (xdotool) to a
// real window, the canvas drawn each tick. Prompts opened from menus and buttons, the edits they
// make, the node menu after an item with nothing to offer, texts of outside bytes on their way to
// boxes, the title and the console, and the sample document in the default window.
#include "GUITestMenus.h"
#include "TestNodes.h"
#include "TestSupport.h"
#include "XvfbDriveTest.h"

#include <SDL2/SDL.h>
#include <iconv.h>
#include <math.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>

#include "GameConsole.h"
#include "GameFileIO.h"
#include "GameFont.h"
#include "GameWindow.h"
#include "Plumweave.h"
#include "TexMainWin.h"
#include "TexOps_Basic.h"

namespace
{
const int BUTTON_LEFT = 1;
const int BUTTON_RIGHT = 3;
const char* const TYPED_NAME = "Blur2";
const float MENU_CLICK_X = MENU_WIDTH * 0.5f;
// The node menu's rows: its title, then "Name: ...".
const u32 NODE_MENU_NAME_ROW = 1;
const u32 NODE_MENU_DELETE_ROW = 3; // under the "--Node tools" title
const char* const DELETE_ITEM = "Delete";
// The Extract panel's template button spans its rows 1 to 3; its middle row is clicked.
const u32 EXTRACT_TEMPLATE_MIDDLE_ROW = 2;
const char* const ANIMATE_ITEM = "Animate...";
const int SETTLE_TICKS = 5;
const int DEFAULT_WINDOW_WIDTH = 1024;
const int DEFAULT_WINDOW_HEIGHT = 576;

std::string SamplesDir()
{
    return std::string(PW_TEST_DATA_DIR) + "/../../samples/";
}

void CopyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

// Whether the bytes are UTF-8 as the C library's converter reads it.
bool IsValidUTF8(const std::string& s)
{
    iconv_t cd = iconv_open("UTF-8", "UTF-8");
    if (cd == (iconv_t)-1)
        return false;
    std::string in = s, out(s.size() * 4 + 4, '\0');
    char* ip = &in[0];
    char* op = &out[0];
    size_t il = in.size(), ol = out.size();
    const bool ok = iconv(cd, &ip, &il, &op, &ol) != (size_t)-1;
    iconv_close(cd);
    return ok;
}
} // namespace

class XvfbEditing : public XvfbDriveTest
{
protected:
    SFont font;
    TTempDir dir;

    void SetUp() override
    {
        XvfbDriveTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(font.Load("Data/Engine/DebugFont.fnt"));
        GGUIFont = &font;
        TestProcessLog().clear();
        GQuitFlag = 0;
        XDo("windowfocus " + std::to_string(xid));
    }
    void TearDown() override
    {
        XDo("keyup Return");
        XDo("mouseup 3");
        GGUIFont = nullptr;
        GProcessor = nullptr;
        GQuitFlag = 0;
        XvfbDriveTest::TearDown();
    }

    // A press and a release in ticks of their own, as a hand would give them.
    void Click(SGUILayer& root, int button)
    {
        const std::string b = std::to_string(button);
        u8& state = button == BUTTON_LEFT ? GMouseLeft : GMouseRight;
        XDo("mousedown " + b);
        ASSERT_TRUE(RunUntil(root, [&] { return state != 0; }));
        XDo("mouseup " + b);
        ASSERT_TRUE(RunUntil(root, [&] { return state == 0; }));
    }
    void ClickAt(SGUILayer& root, const mVec2& at, int button)
    {
        MoveTo(root, (int)lroundf(at.x), (int)lroundf(at.y));
        Click(root, button);
    }
    static mVec2 OnScreen(STexProcNode* node, const mVec2& canvas)
    {
        mVec2 s;
        node->TransformPoint(s, canvas);
        return s;
    }
    static mVec2 Caption(STexProcNode* node, float along = 0.5f)
    {
        const mRect& r = node->Rect;
        return OnScreen(node, mVec2(r.x0 + (r.x1 - r.x0) * along, r.y0 + NODE_CAPTION_HEIGHT * 0.5f));
    }
    static mVec2 ExtractTemplateButton(STexProcNode* node)
    {
        const mRect& r = node->Rect;
        return OnScreen(node, mVec2((r.x0 + r.x1) * 0.5f, r.y0 + NODE_CAPTION_HEIGHT +
                                                              NODE_PANEL_ROW_HEIGHT * (EXTRACT_TEMPLATE_MIDDLE_ROW + 0.5f)));
    }
    static mVec2 MenuRow(const SPopupMenu& menu, u32 row)
    {
        return mVec2(menu.Rect.x0 + MENU_CLICK_X, menu.Rect.y0 + MENU_ROW_HEIGHT * (row + 0.5f));
    }
    STexProcessor::NodeMenu* OpenNodeMenu(STexProcessor& p, STexProcNode* node, float along = 0.5f)
    {
        ClickAt(p, Caption(node, along), BUTTON_RIGHT);
        STexProcessor::NodeMenu* menu = nullptr;
        RunUntil(p, [&] {
            menu = dynamic_cast<STexProcessor::NodeMenu*>(p.NodeMenuSlot);
            return menu && menu->Open && menu->FirstFrameDone;
        });
        return menu;
    }
    // Types the text at once into whatever has the keys, then Enter; true when the prompt took it
    // into its field before Enter.
    bool TypeIntoPrompt(STexProcessor& p, const char* text)
    {
        XDo(std::string("type --delay 40 '") + text + "'");
        const bool typed = RunUntil(p, [&] {
            return p.Prompt && p.Prompt->GetWidgetState(PROMPT_ID_Field).EditText == text;
        });
        XDo("keydown Return");
        RunUntil(p, [&] { return !p.Prompt || !p.Prompt->Open; });
        XDo("keyup Return");
        return typed;
    }
    void Settle(STexProcessor& p)
    {
        for (int i = 0; i < SETTLE_TICKS; ++i)
            Tick(p);
    }
    static bool Processed(STexProcNode* node)
    {
        const auto& log = TestProcessLog();
        return std::find(log.begin(), log.end(), node) != log.end();
    }
    static int Questions()
    {
        int n = 0;
        for (const SRecordedBox& b : RecordedBoxes())
            n += b.kind == SYSBOX_Question ? 1 : 0;
        return n;
    }
};

// Opening a prompt: the node menu's "Name:" item, or the Extract panel's template button.
enum EPromptOpener
{
    OPEN_NameItem,
    OPEN_TemplateButton,
};

TEST_F(XvfbEditing, APromptOpenedFromAMenuOrAButtonTakesTypingAtOnce)
{
    const struct
    {
        const char* what;
        EPromptOpener opener;
    } cases[] = {
        {"node menu, Name:", OPEN_NameItem},
        {"Extract panel, template button", OPEN_TemplateButton},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        p.UpdateRect();
        STexProcNode* node = AddClassNode(p, "STexNode_Extract");
        ASSERT_NE(node, nullptr);
        node->SetPosition(300, 150);
        Settle(p);
        TString* target = nullptr;
        if (c.opener == OPEN_NameItem)
        {
            STexProcessor::NodeMenu* menu = OpenNodeMenu(p, node);
            ASSERT_NE(menu, nullptr) << c.what;
            ClickAt(p, MenuRow(*menu, NODE_MENU_NAME_ROW), BUTTON_LEFT);
            target = &node->NName;
        }
        else
        {
            ClickAt(p, ExtractTemplateButton(node), BUTTON_LEFT);
            target = &static_cast<STexNode_Extract*>(node)->ProcStr;
        }
        ASSERT_TRUE(RunUntil(p, [&] { return p.Prompt && p.Prompt->Open; })) << c.what;
        EXPECT_TRUE(TypeIntoPrompt(p, TYPED_NAME)) << c.what;
        EXPECT_STREQ(target->Str(), TYPED_NAME) << c.what;
    }
}

// Every edit a user makes is processed when it changes an output, and makes the document edited:
// the title shows it and Exit asks.
struct SEditScene
{
    STexProcNode* source = nullptr;
    STexNode_Extract* extract = nullptr;
    STexProcNode* lone = nullptr; // linked to nothing
};

TEST_F(XvfbEditing, EditsThroughPromptsAndMovesAreProcessedAndMakeTheDocumentEdited)
{
    const char* const INVALID_TEMPLATE = "bad";
    const std::string TYPED_FILE = "typed.png";
    const std::string TEMPLATE_FOLDER = "$(Path)";
    // A 200-character template, as long as a user's output paths get: far beyond a short field.
    const std::string LONG_FILE = std::string(200 - TEMPLATE_FOLDER.size() - TYPED_FILE.size(), 'l') + TYPED_FILE;
    const mVec2 MOVE_BY(40, 30);
    const u32 SCENE_NODES = 3;
    // The Extract node's template typed into its prompt; processed when it writes the file.
    auto typeTemplate = [&](const std::string& file) {
        return [&, file](STexProcessor& p, SEditScene& s) {
            const std::string typed = TEMPLATE_FOLDER + file;
            ASSERT_EQ(s.extract->Status, EXTRACT_INVALID_NAME);
            ClickAt(p, ExtractTemplateButton(s.extract), BUTTON_LEFT);
            ASSERT_TRUE(RunUntil(p, [&] { return p.Prompt != nullptr; }));
            ASSERT_TRUE(TypeIntoPrompt(p, typed.c_str()));
            ASSERT_STREQ(s.extract->ProcStr.Str(), typed.c_str());
        };
    };
    auto wrote = [&](const std::string& file) {
        return [&, file](const SEditScene& s) {
            return s.extract->Status.IsEmpty() && FileExists(dir.File(file.c_str()).c_str());
        };
    };
    const struct
    {
        const char* what;
        std::function<void(STexProcessor&, SEditScene&)> edit;
        std::function<bool(const SEditScene&)> processed; // null: nothing to process
    } cases[] = {
        {"rename through the node menu",
         [&](STexProcessor& p, SEditScene& s) {
             STexProcessor::NodeMenu* menu = OpenNodeMenu(p, s.source);
             ASSERT_NE(menu, nullptr);
             ClickAt(p, MenuRow(*menu, NODE_MENU_NAME_ROW), BUTTON_LEFT);
             ASSERT_TRUE(RunUntil(p, [&] { return p.Prompt != nullptr; }));
             ASSERT_TRUE(TypeIntoPrompt(p, TYPED_NAME));
             ASSERT_STREQ(s.source->NName.Str(), TYPED_NAME);
         },
         [](const SEditScene& s) { return Processed(s.source); }},
        {"Extract template through its prompt", typeTemplate(TYPED_FILE), wrote(TYPED_FILE)},
        {"Extract template of a long path through its prompt", typeTemplate(LONG_FILE), wrote(LONG_FILE)},
        {"lone node deleted through the node menu",
         [&](STexProcessor& p, SEditScene& s) {
             STexProcessor::NodeMenu* menu = OpenNodeMenu(p, s.lone);
             ASSERT_NE(menu, nullptr);
             ASSERT_STREQ(menu->Options[NODE_MENU_DELETE_ROW].Str(), DELETE_ITEM);
             ClickAt(p, MenuRow(*menu, NODE_MENU_DELETE_ROW), BUTTON_LEFT);
             ASSERT_TRUE(RunUntil(p, [&] { return p.Nodes.Count() == SCENE_NODES - 1; }));
         },
         nullptr},
        {"node moved by its caption",
         [&](STexProcessor& p, SEditScene& s) {
             const mVec2 from = Caption(s.source), to = from + MOVE_BY;
             MoveTo(p, (int)lroundf(from.x), (int)lroundf(from.y));
             XDo("mousedown 1");
             ASSERT_TRUE(RunUntil(p, [&] { return s.source->Dragging != 0; }));
             MoveTo(p, (int)lroundf(to.x), (int)lroundf(to.y));
             XDo("mouseup 1");
             ASSERT_TRUE(RunUntil(p, [&] { return s.source->Dragging == 0; }));
         },
         nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        STexProcessor p;
        p.UpdateRect();
        SEditScene s;
        s.source = AddTestNode<STestNode_Affine>(p, [](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", 0);
            TestSetInt(l, "Size", 8);
        });
        s.extract = static_cast<STexNode_Extract*>(AddClassNode(p, "STexNode_Extract", [&](TArray<SPropDesc>& l) {
            FindPropDesc(l, "TexName")->AsString() = dir.File("target.png").c_str();
            FindPropDesc(l, "ProcStr")->AsString() = INVALID_TEMPLATE;
        }));
        ASSERT_NE(s.extract, nullptr);
        ASSERT_TRUE(TestLink(p, s.source, 0, s.extract, STexNode_Extract::IN_Texture));
        s.lone = AddPinsNode(p, 0, 0);
        s.lone->SetPosition(150, 400);
        ASSERT_EQ(p.Nodes.Count(), SCENE_NODES);
        s.source->SetPosition(150, 150);
        s.extract->SetPosition(400, 150);
        Settle(p);
        // As just saved.
        p.FileName = dir.File("scene.kvf").c_str();
        p.Edited = 0;
        TestProcessLog().clear();

        c.edit(p, s);
        if (HasFatalFailure())
            return;
        if (c.processed)
        {
            EXPECT_TRUE(RunUntil(p, [&] { return c.processed(s); }));
        }
        else
        {
            Settle(p);
            EXPECT_TRUE(TestProcessLog().empty());
        }
        EXPECT_EQ(p.Edited, 1u);
        UpdateWindowTitle(p.FileName.Str(), p.Edited != 0);
        EXPECT_EQ(GWindow->Title.Str()[GWindow->Title.Length() - 1], '*') << GWindow->Title.Str();
        GProcessor = &p;
        RecordedBoxes().clear();
        SetQuestionAnswer(0);
        FileMenu().OnSelect(FileMenu::FM_Exit);
        EXPECT_EQ(Questions(), 1);
        EXPECT_EQ(GQuitFlag, 0u);
        GProcessor = nullptr;
    }
}

// "Animate..." on a node with nothing to animate: the next right-click still opens a node menu.
TEST_F(XvfbEditing, AnimateOnANodeWithNothingToAnimateLeavesTheNextMenuFree)
{
    const char* const classes[] = {"STexNode_Desaturate", "STexNode_Sobel3x3"};
    const mVec2 EMPTY_CANVAS(800, 500);
    for (const char* cls : classes)
    {
        SCOPED_TRACE(cls);
        STexProcessor p;
        p.UpdateRect();
        STexProcNode* node = AddClassNode(p, cls);
        ASSERT_NE(node, nullptr);
        ASSERT_EQ(node->GetAnimChannelCount(), 0u);
        node->SetPosition(200, 150);
        Settle(p);

        // The menu opens right of the mouse: the caption's right part is under it, its left part not.
        STexProcessor::NodeMenu* menu = OpenNodeMenu(p, node, 0.9f);
        ASSERT_NE(menu, nullptr);
        u32 row = 0;
        while (row < menu->Options.Count() && !strstr(menu->Options[row].Str(), ANIMATE_ITEM))
            ++row;
        ASSERT_LT(row, menu->Options.Count());
        ClickAt(p, MenuRow(*menu, row), BUTTON_LEFT);
        Settle(p);
        ClickAt(p, EMPTY_CANVAS, BUTTON_LEFT);
        Settle(p);

        ClickAt(p, Caption(node, 0.1f), BUTTON_RIGHT);
        EXPECT_TRUE(RunUntil(p, [&] {
            auto* next = dynamic_cast<STexProcessor::NodeMenu*>(p.NodeMenuSlot);
            return next && next->Open && next->Rect.y1 > next->Rect.y0;
        }));
    }
}

// Outside bytes reach boxes, the window title and the console as valid UTF-8, escaped.
TEST_F(XvfbEditing, BoxesTheTitleAndTheConsoleShowOutsideBytesEscaped)
{
    const struct
    {
        const char* given;
        const char* shown;
    } cases[] = {
        {"\x89PNG\r\n\x1a\nIHDR", "\\x89PNG\\x0D\n\\x1A\nIHDR"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"over\xC0\xAFlong", "over\\xC0\\xAFlong"},
        {"\xE0\x80\xAF", "\\xE0\\x80\\xAF"},
        {"sur\xED\xA0\x80", "sur\\xED\\xA0\\x80"},
        {"big \xF4\x90\x80\x80", "big \\xF4\\x90\\x80\\x80"},
        {"cut \xE2\x82", "cut \\xE2\\x82"},
        {"tab\there\x1B[31m", "tab\there\\x1B[31m"},
    };
    SDL_Window* window = (SDL_Window*)GWindow->Handle;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.shown);
        RecordedBoxes().clear();
        gSysMessage(c.given, c.given);
        gSysQuestion(c.given, c.given);
        ASSERT_EQ(RecordedBoxes().size(), 2u);
        for (const SRecordedBox& b : RecordedBoxes())
        {
            EXPECT_EQ(b.text, c.shown);
            EXPECT_EQ(b.caption, c.shown);
        }
        ConsolePrintf("%s", c.given);
        EXPECT_STREQ(GConsole.Lines.Last().Text.Str(), c.shown);
        GWindow->SetTitle(TString(c.given));
        EXPECT_STREQ(SDL_GetWindowTitle(window), c.shown);
    }

    // A picture opened as a document: the box names what was found, and can be shown.
    const std::string picture = dir.File("picture.kvf");
    CopyFile(SamplesDir() + "Sample.png", picture);
    STexProcessor p;
    RecordedBoxes().clear();
    EXPECT_FALSE(p.LoadDocument(picture.c_str(), 0, 1));
    ASSERT_FALSE(RecordedBoxes().empty());
    for (const SRecordedBox& b : RecordedBoxes())
    {
        EXPECT_TRUE(IsValidUTF8(b.text)) << b.text;
        EXPECT_TRUE(IsValidUTF8(b.caption)) << b.caption;
    }
    EXPECT_NE(RecordedBoxes()[0].text.find("\\x89PNG"), std::string::npos) << RecordedBoxes()[0].text;
}

// The sample document: every node in the default window below the menu bar, none over another.
TEST_F(XvfbEditing, TheSampleFitsTheDefaultWindowWithoutOverlaps)
{
    ASSERT_EQ(GScreenWidth, DEFAULT_WINDOW_WIDTH);
    ASSERT_EQ(GScreenHeight, DEFAULT_WINDOW_HEIGHT);
    for (const char* file : {"Sample.kvf", "Sample.png"})
        CopyFile(SamplesDir() + file, dir.File(file));
    STexProcessor p;
    p.OffsetTop = MAIN_CANVAS_TOP;
    p.UpdateRect();
    ASSERT_TRUE(p.LoadDocument(dir.File("Sample.kvf").c_str(), 1, 1));
    Settle(p);
    ASSERT_FALSE(p.Nodes.IsEmpty());
    std::vector<mRect> boxes;
    for (STexProcNode* n : p.Nodes)
    {
        EXPECT_TRUE(n->Status.IsEmpty()) << n->NName.Str() << ": " << n->Status.Str();
        mRect s;
        n->TransformRect(s, n->Rect);
        EXPECT_GE(s.x0, 0.0f) << n->NName.Str();
        EXPECT_GE(s.y0, MAIN_CANVAS_TOP) << n->NName.Str();
        EXPECT_LE(s.x1, (float)DEFAULT_WINDOW_WIDTH) << n->NName.Str();
        EXPECT_LE(s.y1, (float)DEFAULT_WINDOW_HEIGHT) << n->NName.Str();
        for (size_t i = 0; i < boxes.size(); ++i)
        {
            const mRect& o = boxes[i];
            const bool apart = s.x1 <= o.x0 || o.x1 <= s.x0 || s.y1 <= o.y0 || o.y1 <= s.y0;
            EXPECT_TRUE(apart) << n->NName.Str() << " overlaps " << p.Nodes[(u32)i]->NName.Str();
        }
        boxes.push_back(s);
    }
}
