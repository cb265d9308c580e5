// The application: the command line, the window title, the Save As name, the texts of the menus,
// the File menu's commands with a scripted file dialog, the batch run's exit code, and the program
// run as a batch job with no display.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GameConsole.h"
#include "GameFileIO.h"
#include "GameImageFile.h"
#include "GameNet.h"
#include "GameFont.h"
#include "GameInput.h"
#include "GUILayer.h"
#include "GameText.h"
#include "Plumweave.h"
#include "TexDocument.h"
#include "TexDocumentOutcome.h"
#include "TexJobServer.h"
#include "TexMainWin.h"
#include "TexNodeRegistry.h"
#include "TexOps_Basic.h"

namespace
{
const char* const EMPTY_DOCUMENT = "GKV_File_Version_2\n";
const int FATAL_STATUS = 0xBADDC0DE & 0xFF;
const int UNANSWERED_DISPLAY = 59999;
// A shell's `ulimit -f 64`, and a noise picture whose files in every format pass it.
const u32 FILE_SIZE_LIMIT = 64u << 10, NOISE_SIDE = 512;

TArray<TString> Args(const std::vector<const char*>& words)
{
    TArray<TString> out;
    out.Add(TString("plumweave"));
    for (const char* w : words)
        out.Add(TString(w));
    return out;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

// The file dialog of the test: answers with the next scripted path ("" cancels) and records the
// mode it was opened in.
std::vector<std::string> GDialogAnswers;
std::vector<int> GDialogModes;
int ScriptedDialog(const char*, const char*, TString& out, int save)
{
    GDialogModes.push_back(save);
    if (GDialogAnswers.empty())
        return 0;
    const std::string next = GDialogAnswers.front();
    GDialogAnswers.erase(GDialogAnswers.begin());
    out = next.c_str();
    return next.empty() ? 0 : 1;
}

// The program's texts, from the data folder beside the test program.
void LoadProgramTexts()
{
    char savedFolder[GAME_DATA_FOLDER_SIZE];
    gMemCpy(savedFolder, GDataFolder, sizeof(savedFolder));
    SetDataFolder("RERudu");
    LoadLanguage(APP_LANGUAGE, false);
    SetDataFolder(savedFolder);
}

class AppCommandTest : public GLTestFixture
{
protected:
    TTempDir dir;
    TShippedShaders shaders;
    STexProcessor* processor = nullptr;

    void SetUp() override
    {
        GLTestFixture::SetUp();
        shaders.Begin();
        LoadProgramTexts();
        processor = new STexProcessor;
        GProcessor = processor;
        GAppFileDialog = &ScriptedDialog;
        GDialogAnswers.clear();
        GDialogModes.clear();
        GQuitFlag = 0;
        SetQuestionAnswer(0);
        RecordedBoxes().clear();
    }
    void TearDown() override
    {
        SetJobServer(nullptr);
        GAppFileDialog = &FileOpenDialog;
        GProcessor = nullptr;
        delete processor;
        GQuitFlag = 0;
        shaders.End();
    }
    // A graph of one pins node, marked as edited.
    void EditGraph()
    {
        AddPinsNode(*processor, 0, 1);
        processor->Edited = 1;
    }
    int Questions() const
    {
        int n = 0;
        for (const SRecordedBox& b : RecordedBoxes())
            n += b.kind == SYSBOX_Question ? 1 : 0;
        return n;
    }
};

struct SRun
{
    int status;
    std::string output;
};

// Without a display, unless env (NAME=value words) gives one.
SRun RunProgram(const std::string& args, const std::string& cwd = "/", const std::string& env = "")
{
    const std::string cmd = "cd '" + cwd + "' && env -u DISPLAY -u PLUMWEAVE_NONINTERACTIVE " + env + " timeout 60 '" +
                            std::string(PW_BIN_DIR) + "/plumweave' " + args + " </dev/null 2>&1";
    SRun r{-1, ""};
    int st = -1;
    r.output = RunCapture(cmd, &st);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Pure rules

TEST(AppArgs, DocumentBatchFlagAndPortAreReadAsTheCommandLineSaysThem)
{
    struct SCase
    {
        std::vector<const char*> args;
        const char* document;
        u32 batch;
        const char* port;
        u32 missingPort;
    };
    const SCase cases[] = {
        {{}, "", 0, "", 0},
        {{"a.kvf", "b.kvf"}, "b.kvf", 0, "", 0},
        {{"a.kvf", "-opc"}, "a.kvf", 1, "", 0},
        {{"-OPC", "-opc2", "-x", "doc"}, "doc", 0, "", 0},
        {{"-listen", "9000", "-listen", "9001"}, "", 0, "9001", 0},
        {{"-listen", "-opc", "d.kvf"}, "d.kvf", 0, "-opc", 0}, // the port argument is taken as it is
        {{"d.kvf", "-opc", "-listen"}, "d.kvf", 1, "", 1},
        {{"", "x"}, "x", 0, "", 0},
    };
    for (const SCase& c : cases)
    {
        const SAppArgs a = ReadAppArgs(Args(c.args));
        const std::string what = std::to_string(c.args.size()) + " args, document " + c.document;
        EXPECT_STREQ(a.StartDocument.Str(), c.document) << what;
        EXPECT_EQ(a.BatchRun, c.batch) << what;
        EXPECT_STREQ(a.ListenPort.Str(), c.port) << what;
        EXPECT_EQ(a.ListenWithoutPort, c.missingPort) << what;
    }
}

TEST(AppTexts, TitleAndSaveAsNameFollowTheirRules)
{
    const struct
    {
        const char* path;
        bool edited;
        const char* title;
    } titles[] = {
        {nullptr, false, "Plumweave - <Untitled>"},
        {"/d/scene.kvf", true, "Plumweave - \"/d/scene.kvf\"*"},
    };
    for (const auto& c : titles)
        EXPECT_STREQ(WindowTitleText(c.path, c.edited).Str(), c.title);

    const std::string longName = std::string(5000, 'n');
    const struct
    {
        std::string chosen;
        std::string written;
    } names[] = {
        {".kvf", ".kvf"},
        {"kvf", "kvf.kvf"},
        {longName, longName + ".kvf"}, // never cut to a buffer
    };
    for (const auto& c : names)
        EXPECT_EQ(std::string(SaveAsName(c.chosen.c_str()).Str()), c.written);
}

TEST(AppTexts, EveryMenuKeyHasItsTextAndArgumentsGoOnlyIntoPercentS)
{
    LoadProgramTexts();
    std::vector<std::string> items;
    FileMenu file;
    for (const TString& o : file.Options)
        items.push_back(o.Str());
    STexProcessor p;
    for (u32 i = 0; i < TexFamilyMenuCount(); ++i)
    {
        items.push_back(TexFamilyMenu(i)->Label);
        SPopupMenu* menu = TexFamilyMenu(i)->Create(&p);
        for (const TString& o : menu->Options)
            items.push_back(o.Str());
        delete menu;
    }
    for (const char* key : {"$FONT$", "$LOADING$", "$ERR_TITLE$", "$WARN_TITLE$", "$INFO_TITLE$", "$MSG_Listen$",
                            "$MSG_OPC$", "$Q_Clear$", "$Q_ClearEdited$", "$Q_DropEdited$", "$Q_OvrExisting$",
                            "$TEXMEM$", "$KV_File$", "$MSG_ServerInitFail$", "$MSG_SaveFailed$"})
        items.push_back(key);
    for (const std::string& item : items)
    {
        TString text = item.c_str();
        GTextDict.Expand(text);
        EXPECT_EQ(std::string(text.Str()).find('$'), std::string::npos) << item;
    }
    EXPECT_STREQ(TextWithArg("Q_OvrExisting", "%d%s").Str(), "\"%d%s\" exists. Overwrite it?");
}

// ---------------------------------------------------------------------------------------------
// File commands

TEST_F(AppCommandTest, SaveAsWritesTheKvfNameAndAsksBeforeOverwriting)
{
    struct SCase
    {
        const char* what;
        std::string chosen;
        bool exists;
        int answer;
        std::string written; // empty: nothing may be written
        bool unreadable = false; // the existing file has no permissions; saved as an ordinary user
    };
    const SCase cases[] = {
        {"new name gets the extension", dir.File("scene"), false, 0, dir.File("scene.kvf")},
        {"upper-case extension is not ours", dir.File("s2.KVF"), false, 0, dir.File("s2.KVF.kvf")},
        {"existing file, overwrite refused", dir.File("old"), true, 0, ""},
        {"existing file, overwrite accepted", dir.File("old2.kvf"), true, 1, dir.File("old2.kvf")},
        {"cancelled dialog", "", false, 0, ""},
        {"existing file nobody may read, overwrite refused", dir.File("locked.kvf"), true, 0, "", true},
    };
    for (const SCase& c : cases)
    {
        const std::string target = c.chosen.empty() ? "" : SaveAsName(c.chosen.c_str()).Str();
        if (c.exists)
            WriteFile(target, "keep");
        RecordedBoxes().clear();
        SetQuestionAnswer(c.answer);
        GDialogAnswers = {c.chosen};
        if (c.unreadable)
        {
            ASSERT_EQ(0, chmod(target.c_str(), NO_ACCESS_FILE) | chmod(dir.Path().c_str(), SEARCHABLE_FOLDER));
            const auto asked = [&] { FileMenu().OnSelect(FileMenu::FM_SaveAs); return Questions() == 1 ? 0 : 1; };
            EXPECT_EQ(0, RunAsOrdinaryUser(asked)) << c.what;
            // Read back by its owner, who may be that same ordinary user.
            ASSERT_EQ(0, chmod(target.c_str(), S_IRUSR | S_IWUSR)) << c.what;
            EXPECT_EQ(ReadFile(target), "keep") << c.what;
            continue;
        }
        FileMenu().OnSelect(FileMenu::FM_SaveAs);
        EXPECT_EQ(GDialogModes.back(), 1) << c.what;
        EXPECT_EQ(Questions(), c.exists ? 1 : 0) << c.what;
        if (c.exists)
        {
            EXPECT_NE(RecordedBoxes()[0].text.find(target), std::string::npos) << c.what;
        }
        if (c.written.empty())
        {
            if (c.exists)
            {
                EXPECT_EQ(ReadFile(target), "keep") << c.what;
            }
            continue;
        }
        EXPECT_EQ(ReadFile(c.written).rfind("GKV_File_Version_2", 0), 0u) << c.what;
        EXPECT_STREQ(processor->FileName.Str(), c.written.c_str()) << c.what;
    }
}

TEST_F(AppCommandTest, CommandsThatDropEditsAskFirstAndAFailedOpenKeepsTheGraph)
{
    const std::string good = dir.File("good.kvf");
    WriteFile(good, EMPTY_DOCUMENT);
    struct SCase
    {
        const char* what;
        int item;
        std::string dialog;
        int answer;
        u32 nodesAfter; // of the one-node edited graph
        u32 quit;
    };
    const SCase cases[] = {
        {"New refused", FileMenu::FM_New, "", 0, 1, 0},
        {"New accepted", FileMenu::FM_New, "", 1, 0, 0},
        {"Open refused", FileMenu::FM_Open, good, 0, 1, 0},
        {"Open accepted", FileMenu::FM_Open, good, 1, 0, 0},
        {"Open of a missing file", FileMenu::FM_Open, dir.File("none.kvf"), 1, 1, 0},
        {"Exit refused", FileMenu::FM_Exit, "", 0, 1, 0},
        {"Exit accepted", FileMenu::FM_Exit, "", 1, 1, 1},
    };
    for (const SCase& c : cases)
    {
        processor->ClearNodes();
        EditGraph();
        GQuitFlag = 0;
        RecordedBoxes().clear();
        SetQuestionAnswer(c.answer);
        GDialogAnswers = {c.dialog};
        FileMenu().OnSelect(c.item);
        EXPECT_EQ(Questions(), 1) << c.what;
        EXPECT_EQ(processor->Nodes.Count(), c.nodesAfter) << c.what;
        EXPECT_EQ(GQuitFlag, c.quit) << c.what;
    }
    // Without edits nothing is asked before opening or leaving.
    processor->ClearNodes();
    RecordedBoxes().clear();
    GDialogAnswers = {good};
    FileMenu().OnSelect(FileMenu::FM_Open);
    FileMenu().OnSelect(FileMenu::FM_Exit);
    EXPECT_EQ(Questions(), 0);
    EXPECT_EQ(GQuitFlag, 1u);
    EXPECT_STREQ(processor->FileName.Str(), good.c_str());
}

TEST_F(AppCommandTest, ClosingTheWindowWithUnsavedEditsAsksFirst)
{
    const struct
    {
        bool edited;
        int answer;
        u32 quit;
        int questions;
    } cases[] = {{false, 0, 1, 0}, {true, 0, 0, 1}, {true, 1, 1, 1}};
    GQuitRequestHook = &ConfirmQuit;
    for (const auto& c : cases)
    {
        processor->Edited = c.edited ? 1 : 0;
        GQuitFlag = 0;
        RecordedBoxes().clear();
        SetQuestionAnswer(c.answer);
        WIN_GetHooks().QuitRequested();
        EXPECT_EQ(GQuitFlag, c.quit) << c.edited << c.answer;
        EXPECT_EQ(Questions(), c.questions);
    }
    GQuitRequestHook = nullptr;
}

// Where no question can be asked (no person, no hook standing in), Exit and the close button keep
// unsaved edits in a recovery file, beside the document or in the working folder, and end.
TEST_F(AppCommandTest, WhereNobodyCanAnswerExitKeepsTheEditsInARecoveryFileAndEnds)
{
    enum EWay
    {
        WAY_Menu,
        WAY_CloseButton,
    };
    const std::string docs = dir.File("docs"), work = dir.File("work");
    ASSERT_EQ(mkdir(docs.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    const std::string document = docs + "/scene.kvf";
    const struct
    {
        const char* what;
        EWay way;
        bool saved;
        bool edited;
        std::string recovery; // empty: none is written
    } cases[] = {
        {"Exit, saved document", WAY_Menu, true, true, docs + "/scene.recovery.kvf"},
        {"Exit, never saved", WAY_Menu, false, true, work + "/Untitled.recovery.kvf"},
        {"close button, saved document", WAY_CloseButton, true, true, docs + "/scene.recovery.kvf"},
        {"close button, never saved", WAY_CloseButton, false, true, work + "/Untitled.recovery.kvf"},
        {"Exit without edits", WAY_Menu, true, false, ""},
    };
    const u32 SAVED_NODES = 1, EDITED_NODES = 2;
    // The working folder, the box hook and the close hook, restored whatever happens.
    struct SNobodyToAsk
    {
        char* cwd = getcwd(nullptr, 0);
        TSysBoxHook hook = gSysGetBoxHook();
        explicit SNobodyToAsk(const std::string& folder)
        {
            EXPECT_EQ(chdir(folder.c_str()), 0);
            gSysSetBoxHook(nullptr);
            GQuitRequestHook = &ConfirmQuit;
        }
        ~SNobodyToAsk()
        {
            GQuitRequestHook = nullptr;
            gSysSetBoxHook(hook);
            EXPECT_EQ(cwd ? chdir(cwd) : -1, 0);
            free(cwd);
        }
    } nobody(work);
    for (const auto& c : cases)
    {
        for (const char* f : {"/scene.recovery.kvf", "/Untitled.recovery.kvf"})
        {
            remove((docs + f).c_str());
            remove((work + f).c_str());
        }
        processor->ClearNodes();
        AddPinsNode(*processor, 0, 1);
        if (c.saved)
        {
            ASSERT_TRUE(processor->SaveDocument(document.c_str())) << c.what;
        }
        if (c.edited)
            AddPinsNode(*processor, 0, 1);
        GQuitFlag = 0;
        if (c.way == WAY_Menu)
            FileMenu().OnSelect(FileMenu::FM_Exit);
        else
            WIN_GetHooks().QuitRequested();
        EXPECT_EQ(GQuitFlag, 1u) << c.what;
        for (const char* f : {"/scene.recovery.kvf", "/Untitled.recovery.kvf"})
            for (const std::string& folder : {docs, work})
                EXPECT_EQ(FileExists((folder + f).c_str()), folder + f == c.recovery) << c.what << ": " << folder + f;
        if (!c.recovery.empty())
        {
            STexProcessor kept;
            EXPECT_TRUE(kept.LoadDocument(c.recovery.c_str(), 1, 0)) << c.what;
            EXPECT_EQ(kept.Nodes.Count(), EDITED_NODES) << c.what;
        }
        if (c.saved)
        {
            STexProcessor original;
            EXPECT_TRUE(original.LoadDocument(document.c_str(), 1, 0)) << c.what;
            EXPECT_EQ(original.Nodes.Count(), SAVED_NODES) << c.what;
        }
    }
}

TEST_F(AppCommandTest, ServerItemsReplaceTheServerAndATakenPortIsOnlyABox)
{
    SNetSocket squatter;
    ASSERT_TRUE(NetOpen(squatter, "0"));
    const std::string taken = std::to_string(NetGetPort(squatter));

    StartServerFromMenu("0");
    ASSERT_NE(GJobServer, nullptr);
    const u16 first = NetGetPort(*GJobServer);
    // The same port again: the old server lets go of it before the new one opens it.
    StartServerFromMenu(std::to_string(first).c_str());
    ASSERT_NE(GJobServer, nullptr);
    EXPECT_EQ(NetGetPort(*GJobServer), first);

    RecordedBoxes().clear();
    StartServerFromMenu(taken.c_str());
    EXPECT_EQ(GJobServer, nullptr);
    ASSERT_EQ(RecordedBoxes().size(), 1u);
    EXPECT_EQ(RecordedBoxes()[0].kind, SYSBOX_Message);
    EXPECT_NE(RecordedBoxes()[0].text.find(taken), std::string::npos);

    StartServerFromMenu("0");
    FileMenu().OnSelect(FileMenu::FM_ServerStop);
    EXPECT_EQ(GJobServer, nullptr);
    NetClose(squatter);
}

TEST_F(AppCommandTest, BatchExitCodeJudgesTheLoadAndTheFileWritingNodes)
{
    const char* const outputs[] = {"STestNode_Pins", nullptr};
    const char* const none[] = {nullptr};
    STestNode_Pins* good = AddPinsNode(*processor, 0, 1);
    STestNode_Pins* bad = AddTestNode<STestNode_Pins>(*processor, [](TArray<SPropDesc>& l) {
        TestSetInt(l, "Ins", 0);
        TestSetInt(l, "Fail", 1);
    });
    processor->ProcessAll();
    ASSERT_FALSE(bad->Status.IsEmpty());
    ASSERT_TRUE(good->Status.IsEmpty());
    EXPECT_EQ(BatchExitCode(0, *processor, outputs), BATCH_EXIT_LOAD_FAILED);
    // A name from a document shows escaped: it forges no line of its own.
    bad->NName = "bad\n127.0.0.1:9 Job processed: /etc/shadow";
    testing::internal::CaptureStderr();
    EXPECT_EQ(BatchExitCode(1, *processor, outputs), BATCH_EXIT_OUTPUT_FAILED);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("\"bad\\n127.0.0.1:9 Job processed: /etc/shadow\") failed"),
              std::string::npos);
    EXPECT_EQ(BatchExitCode(1, *processor, none), 0);
    processor->RemoveNode(bad);
    EXPECT_EQ(BatchExitCode(1, *processor, outputs), 0);
}

// ---------------------------------------------------------------------------------------------
// The application object

TEST(AppObject, ScreenTargetFollowsTheWindowAndLeftControlSSaves)
{
    ASSERT_TRUE(GLTest_Init());
    TShippedShaders shaders;
    shaders.Begin();
    TTempDir dir;
    char savedFolder[GAME_DATA_FOLDER_SIZE];
    gMemCpy(savedFolder, GDataFolder, sizeof(savedFolder));
    SetDataFolder("RERudu");
    const s32 width = GScreenWidth, height = GScreenHeight;
    GStartDocument = dir.Path().c_str(); // a start document that does not load: the editor says why
    GBatchRun = 0;
    GAppFileDialog = &ScriptedDialog;
    GDialogModes.clear();

    GApp = new Plumweave;
    GApp->Init();
    EXPECT_NE(strstr(GConsole.Lines.Last().Text.Str(), "could not be loaded: Is a directory"), nullptr);
    ASSERT_NE(GMainWin, nullptr);
    ASSERT_NE(GProcessor, nullptr);
    EXPECT_NE(GGUIFont, nullptr);
    EXPECT_STREQ(GWindow->Title.Str(), "Plumweave - <Untitled>");
    ASSERT_FALSE(GApp->ScreenTex.IsNull());
    EXPECT_EQ(GApp->ScreenTex->Width, (u32)width);
    EXPECT_EQ(GApp->ScreenTex->Height, (u32)height);

    SVideoMode mode = {};
    mode.Width = 640;
    mode.Height = 480;
    OnWindowResize(&mode);
    EXPECT_EQ(GApp->ScreenTex->Width, 640u);
    EXPECT_EQ(GApp->ScreenTex->Height, 480u);
    EXPECT_FLOAT_EQ(GProcessor->Rect.x1 - GProcessor->Rect.x0, 640.0f);

    const struct
    {
        u32 control;
        bool named;     // the graph has a file name
        int dialogs;    // Save As dialogs opened
        bool written;
        bool together; // Control pressed in the same tick as S
        bool letGo;    // Control released in the same tick as S is pressed
    } cases[] = {{163, false, 0, false, false, false}, {162, false, 1, false, true, false},
                 {162, false, 1, false, false, true}, {162, true, 0, true, false, false}};
    const std::string named = dir.File("named.kvf");
    for (const auto& c : cases)
    {
        GDialogModes.clear();
        GDialogAnswers.clear();
        GProcessor->FileName = c.named ? named.c_str() : "";
        InputReset();
        GConsole.Open = false; // keys would go to it
        const auto key = [](u32 type, u32 code) { GWindow->QueueEvent(SWindowEvent{type, code, 0, 0, 0, 0, 0}); };
        key(WE_KeyDown, c.control);
        for (int tick = c.together; tick < 2; ++tick)
        {
            if (tick == 1)
                key(WE_KeyDown, 'S'), key(c.letGo ? WE_KeyUp : WE_KeyDown, c.control);
            InputKeepPrevious();
            ProcessEvents();
            GApp->Update(0.0f, 1.0f / 60.0f);
        }
        GApp->Render(0.0f);
        EXPECT_EQ((int)GDialogModes.size(), c.dialogs) << c.control;
        EXPECT_EQ(FileExists(named.c_str()), c.written) << c.control;
    }
    InputReset();

    mode.Width = width;
    mode.Height = height;
    OnWindowResize(&mode);
    GApp->Shutdown();
    EXPECT_EQ(GMainWin, nullptr);
    delete GApp;
    GApp = nullptr;
    GAppFileDialog = &FileOpenDialog;
    GStartDocument = TString();
    SetDataFolder(savedFolder);
    shaders.End();
}

// The editor as a person uses it: a document opened at start, the File menu opened from the bar,
// "Save as..." picked, and the written document read back into the same graph.
TEST(XvfbEditor, FileMenuSaveAsWritesADocumentThatLoadsBackIdentical)
{
    ASSERT_TRUE(GLTest_Init());
    TShippedShaders shaders;
    shaders.Begin();
    TTempDir dir;
    char savedFolder[GAME_DATA_FOLDER_SIZE];
    gMemCpy(savedFolder, GDataFolder, sizeof(savedFolder));
    SetDataFolder("RERudu");
    const std::string image = std::string(PW_TEST_DATA_DIR) + "/../../samples/Sample.png";
    const std::string doc = dir.File("start.kvf");
    WriteFile(doc, std::string(EMPTY_DOCUMENT) + "NODE STexNode_File pos0=\"200;150\" NName=\"picture\" TexName=\"" +
                       image + "\" RelKVF=\"0\"\n");
    GStartDocument = doc.c_str();
    GBatchRun = 0;
    GAppFileDialog = &ScriptedDialog;
    GDialogAnswers = {dir.File("copy")};
    GDialogModes.clear();
    InputReset();

    GApp = new Plumweave;
    GApp->Init();
    ASSERT_EQ(GProcessor->Nodes.Count(), 1u);
    float t = 0.0f;
    const float dt = 1.0f / 60.0f;
    auto tick = [&](float x, float y, bool down) {
        GUITest_Tick(x, y, down);
        GApp->Update(t += dt, dt);
        GApp->Render(0.0f);
    };
    SPopupMenu* file = GMainWin->Entries[0].Popup;
    const mRect entry = GMainWin->Entries[0].Rect;
    tick(entry.x0 + 10, entry.y0 + 10, false);
    tick(entry.x0 + 10, entry.y0 + 10, true);
    tick(entry.x0 + 10, entry.y0 + 10, false);
    tick(entry.x0 + 10, entry.y0 + 10, false);
    ASSERT_TRUE(file->Open);
    // "Save as..." is the fifth row: the title row comes first.
    const float x = file->Rect.x0 + 20, y = file->Rect.y0 + MENU_ROW_HEIGHT * 4.5f;
    tick(x, y, false);
    tick(x, y, true);
    tick(x, y, false);
    EXPECT_FALSE(file->Open);
    ASSERT_EQ(GDialogModes, std::vector<int>{1});
    const std::string copy = dir.File("copy.kvf");
    ASSERT_TRUE(FileExists(copy.c_str()));
    EXPECT_STREQ(GProcessor->FileName.Str(), copy.c_str());
    EXPECT_EQ(std::string(GWindow->Title.Str()), "Plumweave - \"" + copy + "\"");

    TString before, after;
    ASSERT_TRUE(DocumentText(*GProcessor, before));
    STexProcessor again;
    ASSERT_TRUE(again.LoadDocument(copy.c_str(), 1, 0));
    ASSERT_TRUE(DocumentText(again, after));
    EXPECT_STREQ(after.Str(), before.Str());
    EXPECT_NE(std::string(before.Str()).find("NName=\"picture\""), std::string::npos);

    GApp->Shutdown();
    delete GApp;
    GApp = nullptr;
    InputReset();
    GAppFileDialog = &FileOpenDialog;
    GStartDocument = TString();
    SetDataFolder(savedFolder);
    shaders.End();
}

// ---------------------------------------------------------------------------------------------
// The program

TEST(ProgramBatch, ExitStatusTellsWhetherTheRunDidItsJob)
{
    TTempDir dir;
    const std::string good = dir.File("good doc.kvf");
    WriteFile(good, EMPTY_DOCUMENT);
    WriteFile(dir.File("bad.kvf"), "not a document\n");
    ASSERT_EQ(0, mkfifo(dir.File("pipe.png").c_str(), 0600));
    WriteFile(dir.File("pipe.kvf"), std::string(EMPTY_DOCUMENT) + "NODE STexNode_File _ID=\"0\" TexName=\"pipe.png\"\n" +
                                        "NODE STexNode_Extract _ID=\"1\" TexName=\"out.png\"\nLINK 0 0 1 0\n");
    // The sample runs from a copy: its outputs are written beside the document.
    for (const char* name : {"Sample.kvf", "Sample.png"})
        WriteFile(dir.File(name), ReadFile(std::string(PW_SAMPLES_DIR) + "/" + name));
    const std::string sample = dir.File("Sample.kvf");
    SImage2D noise(NOISE_SIDE, NOISE_SIDE);
    for (u32 i = 0, state = 1; i < NOISE_SIDE * NOISE_SIDE; ++i)
        noise.Pixels[i] = (state = state * 1664525u + 1013904223u) | 0xFF000000u;
    ASSERT_TRUE(SaveImage(dir.File("noise.png").c_str(), noise) && EncodeImageFile(dir.File("noise.jpg").c_str(), noise, SImageSaveOptions(), false));
    for (const char* doc : {"png.kvf", "jpg.kvf", "dds.kvf", "from jpg.kvf"})
        WriteFile(dir.File(doc), std::string(EMPTY_DOCUMENT) + "NODE STexNode_File _ID=\"0\" TexName=\"noise." + (doc[0] == 'f' ? "jpg" : "png") +
                                     "\"\nNODE STexNode_Extract _ID=\"1\" TexName=\"out." + (doc[0] == 'f' ? "png" : std::string(doc, 3)) + "\"\nLINK 0 0 1 0\n");
    // As a shell starts it: the write signals at their default actions.
    const std::string limited = "--default-signal=XFSZ prlimit --fsize=" + std::to_string(FILE_SIZE_LIMIT);
    SNetSocket squatter;
    ASSERT_TRUE(NetStartup());
    ASSERT_TRUE(NetOpen(squatter, "0"));
    const std::string taken = std::to_string(NetGetPort(squatter));
    SNetSocket probe;
    ASSERT_TRUE(NetOpen(probe, "0"));
    const std::string freePort = std::to_string(NetGetPort(probe));
    NetClose(probe);
    const std::string notAPort = "the port is not a number from 0 (any free port) to 65535";
    // A display that refuses every program: nothing answers there.
    const std::string refused = "DISPLAY=:" + std::to_string(UNANSWERED_DISPLAY);
    struct SCase
    {
        std::string args;
        int status;
        std::string says;    // on standard error; a line (with its end) is the output's last
        const char* silence; // never said
        std::string env = "";
    };
    const SCase cases[] = {
        {"'" + good + "' -opc", 0, "", "Error"},
        {"'" + sample + "' -opc", 0, "Batch run: wrote \"" + dir.File("Sample-copy.dds") + "\"\n", "Failed loading"},
        {"'good doc.kvf' -opc", 0, "", "Error"}, // from the working folder
        {"'" + dir.File("missing.kvf") + "' -opc", BATCH_EXIT_LOAD_FAILED, "could not be loaded: No such file", "[Load]"},
        {"'" + dir.File("bad.kvf") + "' -opc", BATCH_EXIT_LOAD_FAILED, "could not be loaded", "Unexpected"},
        {"pipe.kvf -opc", BATCH_EXIT_OUTPUT_FAILED, "cannot read \"" + dir.File("pipe.png") + "\": not a regular file", "Error"},
        {"-opc", BATCH_EXIT_LOAD_FAILED, "-opc needs a document", "Unexpected"},
        {"'" + good + "' -opc -listen", FATAL_STATUS, "-listen needs a port", "Unexpected"},
        {"'" + good + "' -opc -listen 127.0.0.1:" + freePort, 0, "Job server listening on 127.0.0.1:" + freePort, "Error"},
        {"'" + good + "' -opc -listen " + taken, FATAL_STATUS, "could not open port " + taken + ": Address already in use",
         "Unexpected"},
        {"'" + good + "' -opc -listen 0", 0, "Job server listening on 127.0.0.1:", "127.0.0.1:0\n"},
        {"'" + good + "' -opc -listen 70000", FATAL_STATUS, "could not open port 70000: " + notAPort, "listening"},
        {"'" + good + "' -opc -listen ntp", FATAL_STATUS, "could not open port ntp: " + notAPort, "listening"},
        // The editor is nothing without its window.
        {"'" + good + "'", FATAL_STATUS, "Failed to create a window: no display (DISPLAY is not set)", "Unexpected"},
        {"'" + good + "'", FATAL_STATUS, "Failed to create a window: SDL: ", "Unexpected", refused},
        {"'" + good + "' -opc", 0, "", "Failed", refused},
        {"png.kvf -opc", BATCH_EXIT_OUTPUT_FAILED, "out.png\" not written: File too large", "Unexpected", limited},
        {"jpg.kvf -opc", BATCH_EXIT_OUTPUT_FAILED, "out.jpg\" not written: File too large", "Unexpected", limited},
        {"dds.kvf -opc", BATCH_EXIT_OUTPUT_FAILED, "out.dds\" not written: File too large", "Unexpected", limited},
        {"'from jpg.kvf' -opc", BATCH_EXIT_OUTPUT_FAILED, "the decoder: File too large", "Unexpected", limited},
    };
    for (const SCase& c : cases)
    {
        const double start = gSysGetTime();
        const SRun r = RunProgram(c.args, dir.Path(), c.env);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.args << "\n" << r.output;
        if (!c.says.empty() && c.says.back() == '\n')
        {
            EXPECT_EQ(r.output.rfind(c.says), r.output.size() - c.says.size()) << c.args << "\n" << r.output;
        }
        EXPECT_EQ(r.output.find(c.silence), std::string::npos) << c.args << "\n" << r.output;
        EXPECT_LT(gSysGetTime() - start, 30.0) << c.args;
    }
    NetClose(squatter);
}
