// The main window, the File menu, the file commands, the window title and the loading screen.
#include "TexMainWin.h"

#include <GL/glew.h>

#include "GameConsole.h"
#include "GameCore.h"
#include "GameFileAccess.h"
#include "GameFileIO.h"
#include "GameFont.h"
#include "GameMaterial.h"
#include "GameMemoryRoom.h"
#include "GameShader.h"
#include "GameText.h"
#include "GameVertex.h"
#include "TexDocPath.h"
#include "TexDocument.h"
#include "TexDocumentOutcome.h"
#include "TexDocumentRecovery.h"
#include "TexJobServer.h"
#include "TexNodeRegistry.h"
#include "TexProcessor.h"

const char* const DOC_EXTENSION = ".kvf";
const char* const APP_PRODUCT_NAME = "Plumweave";
const char* const APP_SERVER_PORT = "8377";
TString GStartDocument;
u32 GBatchRun = 0;
TAppFileDialog GAppFileDialog = &FileOpenDialog;

namespace
{
const char* const BACKGROUND_IMAGE = "Data/UI/Background.png";
const u32 BACKGROUND_FLAGS = 27;
const float STATUS_FONT_SIZE = 14.0f;
const float MENU_STRIP_RIGHT = 100000.0f;
const float MENU_STRIP_BOTTOM = 25.0f;
const float FILE_MENU_TOP = 20.0f;
const u32 STATUS_COLOR = 0xFFE6E6E6u; // (0.9, 0.9, 0.9, 1)
const double BYTES_PER_MB = 1048576.0;
const u32 LOADING_BLEND = 0x1761;
const float LOADING_TEXT_SIZE = 24.0f;
const float LOADING_SHADOW_OFFSET = 4.0f;
const float LOADING_SHADE_OVER_FRAME = 0.2f;
const char* const DOC_PATTERN = "*.kvf";
const u32 DOC_FAILURE_TEXT_SIZE = 8192;

const char* const FILE_MENU_ITEMS[] = {
    "--$MF_Project$", "$MF_New$", "$MF_Open$", "$MF_Save$", "$MF_SaveAs$",
    "--$MF_Server$", "$MF_ServerStart$", "$MF_ServerStop$",
    "--$MF_Misc$", "$MF_Exit$",
};

// The document filter as the file dialog takes it: description, pattern, each ended by a zero.
TString DocumentFilter()
{
    TString description = "$KV_File$";
    GTextDict.Expand(description);
    TString filter = description;
    filter += '\0';
    filter += DOC_PATTERN;
    filter += '\0';
    return filter;
}

const char* Text(const char* key)
{
    return GTextDict.Get(key).Str();
}

TString StartDocumentFailure(const char* operation)
{
    TString text;
    text.Format(DOC_FAILURE_TEXT_SIZE, "%s: the document \"%s\" could not be loaded: %s", operation,
                GStartDocument.Str(), DocumentLoadFailure(GStartDocument.Str()).Str());
    return text;
}

void LoadStartDocument()
{
    int loaded = 0;
    // A batch run ends after this load: no preview or save will ask for a spent output again.
    if (GBatchRun)
        GProcessor->ReleaseSpentOutputs = 1;
    // Rather than let the GL driver run out of memory on the way, a run a memory limit leaves too
    // little room for does not begin.
    const TString shortfall = GBatchRun && !GStartDocument.IsEmpty() ? MEM_Shortfall(0) : TString();
    if (!shortfall.IsEmpty())
    {
        fprintf(stderr, "Batch run: \"%s\" is not run: %s\n", GStartDocument.Str(), shortfall.Str());
        GExitCode = BATCH_EXIT_OUTPUT_FAILED;
        GQuitFlag = 1;
        return;
    }
    if (!GStartDocument.IsEmpty())
    {
        loaded = GProcessor->LoadDocument(GStartDocument.Str(), 0, 1);
        if (loaded)
            UpdateWindowTitle(GStartDocument.Str(), false);
    }
    if (!GBatchRun)
    {
        // No box for it, but an editor that opens empty says why.
        if (!loaded && !GStartDocument.IsEmpty())
        {
            const TString said = DisplayText(StartDocumentFailure("Open").Str());
            fprintf(stderr, "%s\n", said.Str());
            ConsolePrintf("%s", said.Str());
        }
        return;
    }
    if (GStartDocument.IsEmpty())
    {
        // Nothing to run: say so and end, rather than wait in an editor nobody asked for.
        gSysMessage(Text("MSG_OPC"), Text("INFO_TITLE"));
        GExitCode = BATCH_EXIT_LOAD_FAILED;
    }
    else
    {
        // What was written first, then what failed: the run's last words are what it could not do.
        if (loaded)
            ReportWrittenFiles(*GProcessor);
        GExitCode = BatchExitCode(loaded, *GProcessor);
    }
    if (GExitCode == BATCH_EXIT_LOAD_FAILED && !GStartDocument.IsEmpty())
        fprintf(stderr, "%s\n", StartDocumentFailure("Batch run").Str());
    GQuitFlag = 1;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Names and titles

TString SaveAsName(const TString& chosen)
{
    const u32 ext = (u32)gStrLen(DOC_EXTENSION);
    TString out = chosen;
    if (chosen.Length() < ext || !gStrEqual(chosen.Str() + chosen.Length() - ext, DOC_EXTENSION))
        out += DOC_EXTENSION;
    return out;
}

TString WindowTitleText(const char* documentPath, bool edited)
{
    TString title = APP_PRODUCT_NAME;
    title += " - ";
    if (documentPath && documentPath[0])
    {
        title += '"';
        title += documentPath;
        title += '"';
    }
    else
        title += "<Untitled>";
    if (edited)
        title += '*';
    return title;
}

void UpdateWindowTitle(const char* documentPath, bool edited)
{
    const TString title = WindowTitleText(documentPath, edited);
    // Called every tick: the window system hears only of changes.
    if (GWindow && GWindow->Title != title)
        GWindow->SetTitle(title);
}

// ---------------------------------------------------------------------------------------------
// File commands

bool AskToDropEdits()
{
    if (!GProcessor || !GProcessor->Edited)
        return true;
    return gSysQuestion(Text("Q_DropEdited"), Text("WARN_TITLE"));
}

bool ConfirmQuit()
{
    if (!GProcessor || !GProcessor->Edited)
        return true;
    if (gSysCanAsk())
        return gSysQuestion(Text("Q_DropEdited"), Text("WARN_TITLE"));
    // Nobody can answer (a job server, a batch run): the edits are kept beside the document, or in
    // the working folder for a graph never saved, as a job keeps them before replacing the graph.
    return KeepEditsUnasked("Exit");
}

void FileNew()
{
    if (!GProcessor)
        return;
    const char* question = GProcessor->Edited ? "Q_ClearEdited" : "Q_Clear";
    if (!gSysQuestion(Text(question), Text("WARN_TITLE")))
        return;
    GProcessor->ClearNodes();
    UpdateWindowTitle(nullptr, false);
}

void FileOpen()
{
    if (!GProcessor || !GAppFileDialog)
        return;
    const TString filter = DocumentFilter();
    TString path;
    if (!GAppFileDialog(nullptr, filter.Str(), path, 0) || path.IsEmpty())
        return;
    if (!AskToDropEdits())
        return;
    DrawLoadingScreen(path.Str());
    if (GProcessor->LoadDocument(path.Str(), 0, 1))
        UpdateWindowTitle(GProcessor->FileName.Str(), false);
}

void FileSave()
{
    if (!GProcessor)
        return;
    if (GProcessor->FileName.IsEmpty())
    {
        FileSaveAs();
        return;
    }
    if (!GProcessor->SaveDocument(GProcessor->FileName.Str()))
        gSysMessage(TextWithArg("MSG_SaveFailed", GProcessor->FileName.Str()).Str(), Text("ERR_TITLE"));
}

void FileSaveAs()
{
    if (!GProcessor || !GAppFileDialog)
        return;
    const TString filter = DocumentFilter();
    TString chosen;
    if (!GAppFileDialog(nullptr, filter.Str(), chosen, 1) || chosen.IsEmpty())
        return;
    const TString path = SaveAsName(chosen);
    // Asked of the name, not by reading: a file the user may not read is still overwritten.
    if (PathExists(path.Str()) && !gSysQuestion(TextWithArg("Q_OvrExisting", path.Str()).Str(), Text("WARN_TITLE")))
        return;
    if (GProcessor->SaveDocument(path.Str()))
        UpdateWindowTitle(path.Str(), false);
    else
        gSysMessage(TextWithArg("MSG_SaveFailed", path.Str()).Str(), Text("ERR_TITLE"));
}

void StartServerFromMenu(const char* port)
{
    // The old server lets go of its port first, so that the same port can be opened again.
    SetJobServer(nullptr);
    TString failure;
    SJobServer* server = OpenJobServer(port, failure);
    if (!server)
    {
        gSysMessage(failure.Str(), Text("ERR_TITLE"));
        return;
    }
    SetJobServer(server);
}

// ---------------------------------------------------------------------------------------------
// File menu

FileMenu::FileMenu()
{
    for (const char* item : FILE_MENU_ITEMS)
        Options.Add(TString(item));
    OffsetLeft = 0;
    OffsetTop = FILE_MENU_TOP;
    UpdateLayout();
}

void FileMenu::OnSelect(int index)
{
    switch (index)
    {
    case FM_New: FileNew(); break;
    case FM_Open: FileOpen(); break;
    case FM_Save: FileSave(); break;
    case FM_SaveAs: FileSaveAs(); break;
    case FM_ServerStart: StartServerFromMenu(APP_SERVER_PORT); break;
    case FM_ServerStop: SetJobServer(nullptr); break;
    case FM_Exit:
        if (ConfirmQuit())
            GQuitFlag = 1;
        break;
    default: break;
    }
}

// ---------------------------------------------------------------------------------------------
// Main window

SMainWin::SMainWin()
{
    Name = "MainWin";
    DrawLoadingScreen(nullptr);
    r_drawStats.Value = r_drawStats.Constrain(0.0f);
    UpdateWindowTitle(nullptr, false);
    TEX_Get(Background, BACKGROUND_IMAGE, BACKGROUND_FLAGS);

    GProcessor = new STexProcessor;
    GProcessor->AnchorLeft = 0;
    GProcessor->AnchorTop = 0;
    GProcessor->AnchorRight = 1;
    GProcessor->AnchorBottom = 1;
    GProcessor->OffsetLeft = 0;
    GProcessor->OffsetTop = MAIN_CANVAS_TOP;
    GProcessor->OffsetRight = 0;
    GProcessor->OffsetBottom = 0;
    AddChild(GProcessor);
    GProcessor->UpdateRect();

    u32 slot = 0;
    const auto rectOf = [](u32 i) {
        return mRect{MAIN_MENU_WIDTH * (float)i, 0, MAIN_MENU_WIDTH * (float)(i + 1), MAIN_MENU_HEIGHT};
    };
    AddMenu(rectOf(slot++), "$M_File$", new FileMenu);
    for (u32 i = 0; i < TexFamilyMenuCount(); ++i)
    {
        const STexFamilyMenu* family = TexFamilyMenu(i);
        AddMenu(rectOf(slot++), family->Label, family->Create(GProcessor));
    }
    LoadStartDocument();
}

SMainWin::~SMainWin()
{
    Background.Release();
}

void SMainWin::Frame()
{
    UseGUI();
    const mVec4 white(1, 1, 1, 1);
    DrawImage(mRect{0, 0, (float)GScreenWidth, (float)GScreenHeight}, white, &Background, FIT_Cover);
    FontSize = STATUS_FONT_SIZE;
    UseColorOnly();
    DrawRect(mRect{0, 0, MENU_STRIP_RIGHT, MENU_STRIP_BOTTOM}, mVec4(0, 0, 0, 1), true);
    DrawMenuBar();
    char megabytes[32];
    gSNPrintf(megabytes, sizeof(megabytes), "%.2f", (double)GTexManager.GetMemoryUsage() / BYTES_PER_MB);
    const TString status = TextWithArg("TEXMEM", megabytes);
    UseGUI();
    DrawText(status.Str(), (int)status.Length(), STATUS_COLOR, TEXT_AlignRight,
             mRect{0, 0, (float)GScreenWidth, (float)GScreenHeight}, FontSize);
}

// ---------------------------------------------------------------------------------------------
// Loading screen

void DrawLoadingScreen(const char* documentPath)
{
    // Off screen nobody would see it, and its programs would be built for nothing.
    if (!GWindow || (GWindowSystem && GWindowSystem->IsOffscreen()))
        return;
    FB_BindWindowBuffer(true);
    const bool scissor = R_GetScissorEnabled();
    R_SetScissorEnabled(false);
    const float w = (float)GScreenWidth, h = (float)GScreenHeight;
    if (documentPath)
    {
        R_SwapBuffers();
        glClear(GL_DEPTH_BUFFER_BIT);
    }
    else
    {
        glClearColor(0.2f, 0.25f, 0.3f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    GViewMatrix = mMat4();
    GProjectionMatrix = M_OrthoMatrix(0.0f, w, 0.0f, h, -1.0f, 1.0f);
    if (SShader* colorOnly = GetShader("ColorOnly"))
    {
        UseShader(LOADING_BLEND, colorOnly);
        R_UploadViewMatrix(colorOnly);
        R_UploadProjectionMatrix(colorOnly);
        const u32 alpha = (u32)((documentPath ? LOADING_SHADE_OVER_FRAME : 1.0f) * 255.0f + 0.5f);
        const u32 shade = alpha << 24;
        const SColVtx quad[4] = {{0, 0, 0, shade}, {w, 0, 0, shade}, {w, h, 0, shade}, {0, h, 0, shade}};
        DrawColoredPrimitives(quad, 4, GL_TRIANGLE_FAN);
    }
    SShader* gui = GetShader("GUI");
    if (gui && GGUIFont)
    {
        UseShader(LOADING_BLEND, gui);
        R_UploadViewMatrix(gui);
        R_UploadProjectionMatrix(gui);
        TString text;
        if (documentPath)
        {
            text = "Loading ";
            text += documentPath;
        }
        else
            text = "Loading...";
        GGUIFont->DrawText(text.Str(), (int)text.Length(), mVec4(0, 0, 0, 1), TEXT_AlignBottom, LOADING_SHADOW_OFFSET,
                           0, w, h, LOADING_TEXT_SIZE);
        GGUIFont->DrawText(text.Str(), (int)text.Length(), mVec4(1, 1, 1, 1), TEXT_AlignBottom, 0, 0, w,
                           h - LOADING_SHADOW_OFFSET, LOADING_TEXT_SIZE);
    }
    R_SwapBuffers();
    R_SetScissorEnabled(scissor);
    FB_BindWindowBuffer(false);
}
