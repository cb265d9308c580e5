// The editor's menus and prompt: popup menus of options that report the chosen one and close,
// windows with a menu bar whose entries open popup menus, and the one-line text prompt.
#pragma once

#include "GUIInterface.h"

static const float MENU_WIDTH = 180.0f;
static const float MENU_ROW_HEIGHT = 17.0f;
static const float MENU_FONT_SIZE = 12.0f;
static const float MENU_FADE_TIME = 0.01f;
static const u32 MENU_TITLE_COLOR = 0xFF888888u;
// Widget ids of the bar entries: 2^31 - 1 - 10000 + entry, clear of any menu's own ids.
static const u32 MENU_BAR_ID_BASE = 2147473647u;

// Moves a box of the given window-pixel rectangle back inside the window, keeping its size: left
// and top first, then right and bottom.
void GUI_KeepInWindow(mRect& box, float windowWidth, float windowHeight);

class SPopupMenu : public SInterface
{
public:
    TArray<TString> Options;
    u32 FirstFrameDone;
    u32 RawIndex;

    SPopupMenu();

    // Sizes the menu to its options and keeps it inside the window.
    void UpdateLayout();
    // Opens the menu as a fresh one: the click that opened it does not close it.
    void OpenMenu();
    void DrawButton(const mRect& r, const char* text, u32 hovered, u32 held, TextureRef* tex, u32 fit) override;
    void Frame() override;
    virtual void OnSelect(int index) = 0;

    // "--Title": a section title, neither clickable nor counted.
    static bool IsSectionTitle(const TString& option);
    // "-Text": shown greyed, counted, and never chosen.
    static bool IsDisabled(const TString& option);
};

struct SMenuEntry
{
    TString Label;
    mRect Rect;
    SPopupMenu* Popup;
};

class SMenuWindow : public SInterface
{
public:
    SPopupMenu* CurMenu;
    TArray<SMenuEntry> Entries;

    SMenuWindow();

    void AddMenu(const mRect& r, const char* label, SPopupMenu* popup);
    void CloseMenus();
    // Called from the window's Frame.
    void DrawMenuBar();
};

static const float PROMPT_WIDTH = 400.0f;
static const float PROMPT_HEIGHT = 60.0f;
static const float PROMPT_CANCEL_MARGIN = 20.0f;
static const float PROMPT_FONT_SIZE = 9.0f;
static const float PROMPT_TEXT_SIZE = 20.0f;
// Bytes a prompt takes: names and paths are edited here, up to the file system's path limit.
static const u32 PROMPT_TEXT_LIMIT = 4096;
enum
{
    PROMPT_ID_Field = 1,
    PROMPT_ID_Cancel = 2,
    PROMPT_ID_OK = 3,
};

class SPopupWindow : public SInterface
{
public:
    TString Prompt;
    TString EditText;
    TString* Target;
    // A press was made while the prompt was open: until then a release belongs to the click that
    // opened it and must not take the field's focus.
    u32 PressSeen;

    SPopupWindow(const char* prompt, TString* target);
    void Frame() override;
    // Called after OK or Enter wrote a changed text to the target.
    virtual void OnCommit() {}

    // The places of the parts inside the box.
    mRect FieldRect() const;
    mRect CancelRect() const;
    mRect OKRect() const;
};
