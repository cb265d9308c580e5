// The main window: the root of the GUI tree with the background, the menu bar and its strip, the
// texture-memory status and the processor's canvas; the File menu, the file commands, the window
// title and the loading screen.
#pragma once

#include "TexGUI.h"

class STexProcessor;

// Picks a file: non-zero with the path in out, 0 when cancelled. The file commands ask it (tests
// put a scripted one in its place).
typedef int (*TAppFileDialog)(const char* initialFolder, const char* filter, TString& out, int save);
extern TAppFileDialog GAppFileDialog;

extern const char* const DOC_EXTENSION; // ".kvf"
// The product name of the window title, and the server port of the File menu.
extern const char* const APP_PRODUCT_NAME;
extern const char* const APP_SERVER_PORT;
// What the command line asked the main window for: the document it opens, and a batch run (the
// program ends once that document is processed).
extern TString GStartDocument;
extern u32 GBatchRun;
static const float MAIN_MENU_WIDTH = 80.0f;
static const float MAIN_MENU_HEIGHT = 24.0f;
static const float MAIN_CANVAS_TOP = 24.9f;

class SMainWin : public SMenuWindow
{
public:
    TextureRef Background;

    SMainWin();
    ~SMainWin() override;
    void Frame() override;
};

class FileMenu : public SPopupMenu
{
public:
    enum EItem
    {
        FM_New = 0,
        FM_Open,
        FM_Save,
        FM_SaveAs,
        FM_ServerStart,
        FM_ServerStop,
        FM_Exit,
    };
    FileMenu();
    void OnSelect(int index) override;
};

// The file commands on GProcessor.
void FileNew();
void FileOpen();
void FileSave();
void FileSaveAs();
// Asks before unsaved edits are dropped (the question names the command); true to go on.
bool AskToDropEdits();
// Exit and the window's close button: true to end. With unsaved edits it asks; where nobody can
// answer, the edits are kept in a recovery file and it ends (it stays when they cannot be kept).
bool ConfirmQuit();
// Starts the job server on the port in place of the running one; a port that cannot be opened is
// shown in a box and the editor goes on without a server.
void StartServerFromMenu(const char* port);

// The name Save As writes: ".kvf" appended unless the name ends with it (case-sensitive).
TString SaveAsName(const TString& chosen);
// "Plumweave - \"path\"" or "Plumweave - <Untitled>", then "*" when edited.
TString WindowTitleText(const char* documentPath, bool edited);
void UpdateWindowTitle(const char* documentPath, bool edited);
// One frame outside the main loop: "Loading..." on a plain screen, or "Loading <path>" over the
// last frame.
void DrawLoadingScreen(const char* documentPath);
