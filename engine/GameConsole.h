// The console: a scrolling log drawn over the window, an input line, and a command that reads or
// sets a console variable. Console variables are named float settings with a range that register
// themselves from static objects before the program entry runs. Main thread only.
#pragma once

#include "GameSys.h"
#include "GString.h"
#include "GTemplate.h"

class SFont;

class SConVar
{
public:
    TString Name;
    float Value;
    u32 Integral;            // non-zero: values are rounded to whole numbers
    float Min, Max;          // range used when there is no list of allowed values
    TPodArray<float> Allowed; // when not empty, a value snaps to the nearest entry

    SConVar(const char* name, float value, u32 integral, float minimum, float maximum,
            const float* allowed = nullptr, u32 allowedCount = 0);
    ~SConVar();
    SConVar(const SConVar&) = delete;
    SConVar& operator=(const SConVar&) = delete;

    // The value the variable would take.
    float Constrain(float value) const;
    // Value rounded to the nearest whole number.
    int AsInt() const;
};

// Name -> variable. Allocated by the first registration and never freed, so it outlives every
// variable whatever the order of static destruction.
extern TMap<TString, SConVar*>* GConVars;

SConVar* GetConVar(const char* name);

// The engine's console variables.
extern SConVar DebugUpdates;
extern SConVar r_drawStats;
extern SConVar ed_drawUI;
extern SConVar r_drawOctree;
extern SConVar r_drawPhysics;
extern SConVar r_drawCamNode;
extern SConVar r_wireframe;
extern SConVar r_dbgDrawBones;
extern SConVar cv_nothing; // "__nothing" (a C++ name may not begin with two underscores)

enum
{
    CONSOLE_ROW_HEIGHT = 12,
    CONSOLE_MAX_LINES = 100,
    CONSOLE_MAX_INPUT = 100,
    CONSOLE_TOGGLE_KEY = 192,
    CONSOLE_BLEND = 0x1761,       // alpha blending of the overlays
};

struct SConsoleLine
{
    TString Text;
    int Rows = 0; // wrapped rows at the console width
};

struct SConsoleState
{
    int Width = 0, Height = 0;
    bool Open = false;
    int Scroll = 0;       // first shown wrapped row
    int TotalRows = 0;
    int VisibleRows = 0;
    SFont* Font = nullptr; // the debug font; not owned
    TArray<SConsoleLine> Lines;
    TString Input;
};
extern SConsoleState GConsole;

// Publishes the registry as live: from here on a variable that dies must be found in it.
void ConsoleInit();
bool IsConsoleOpen();
// Appends a line to the log (also written to standard output).
void ConsolePrintf(const char* format, ...) PW_PRINTF(1, 2);
void ConsoleResize(int width, int height);
// Stores the font (null: none) and measures the lines again.
void ConsoleSetFont(SFont* font);
void ConsoleKey(int code, bool down);
void ConsoleChar(int character, bool down);
// Draws the open console over the window (screen-space matrices already uploaded).
void DrawConsole();

// The scroll thumb's vertical span in pixels; false when there is nothing to scroll.
bool ConsoleScrollThumb(float& y0, float& y1);
// Wrapped rows of a console line at the given width (0 without a font).
int ConsoleTextRows(SFont* font, const char* text, float width);
