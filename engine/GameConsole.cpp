// Console variables, the console's log and input line, and its command.
#include "GameConsole.h"

#include "GameFileIO.h"
#include "GameParse.h"
#include "GameRedraw.h"
#include "GameWindow.h"

TMap<TString, SConVar*>* GConVars = nullptr;
SConsoleState GConsole;

namespace
{
    bool GConVarsLive = false;
}

// ---------------------------------------------------------------------------------------------
// Console variables

SConVar::SConVar(const char* name, float value, u32 integral, float minimum, float maximum, const float* allowed,
                 u32 allowedCount)
    : Name(name), Value(value), Integral(integral), Min(minimum), Max(maximum)
{
    for (u32 i = 0; allowed && i < allowedCount; ++i)
        Allowed.Add(allowed[i]);
    if (!GConVars)
        GConVars = new TMap<TString, SConVar*>();
    SConVar* cv = this;
    if (GConVars->Find(cv->Name))
        FatalError("ASSERT\n\nThis test expression is false:\n\n%s", "!GConVars->Find( cv->Name )");
    GConVars->Insert(Name, this);
}

SConVar::~SConVar()
{
    if (GConVarsLive && GConVars)
    {
        SConVar* cv = this;
        if (!GConVars->Find(cv->Name))
            FatalError("ASSERT\n\nThis test expression is false:\n\n%s", "GConVars->Find( cv->Name )");
        GConVars->Remove(Name);
    }
}

float SConVar::Constrain(float value) const
{
    if (Integral)
        value = gRound(value);
    const u32 n = Allowed.Count();
    if (n == 0)
    {
        if (value < Min)
            return Min;
        if (value > Max)
            return Max;
        return value;
    }
    u32 best = 0;
    float bestDiff = gAbs(Allowed[0] - value);
    for (u32 i = 0; i < n; ++i)
    {
        if (Allowed[i] == value)
            return value;
        const float d = gAbs(Allowed[i] - value);
        if (d < bestDiff)
        {
            bestDiff = d;
            best = i;
        }
    }
    return Allowed[best];
}

int SConVar::AsInt() const
{
    return (int)gRound(Value);
}

SConVar* GetConVar(const char* name)
{
    if (!GConVars || !name)
        return nullptr;
    auto* node = GConVars->Find(TString(name));
    return node ? node->value : nullptr;
}

SConVar DebugUpdates("DebugUpdates", 0, 1, 0, 1);
SConVar r_drawStats("r_drawStats", 1, 1, 0, 1);
SConVar ed_drawUI("ed_drawUI", 1, 1, 0, 1);
SConVar r_drawOctree("r_drawOctree", 0, 1, 0, 1);
SConVar r_drawPhysics("r_drawPhysics", 0, 1, 0, 1);
SConVar r_drawCamNode("r_drawCamNode", 0, 1, 0, 1);
SConVar r_wireframe("r_wireframe", 0, 1, 0, 1);
SConVar r_dbgDrawBones("r_dbgDrawBones", 0, 1, 0, 1);
SConVar cv_nothing("__nothing", 0, 1, 0, 100);

// ---------------------------------------------------------------------------------------------
// Console

void ConsoleInit()
{
    GConVarsLive = true;
}

bool IsConsoleOpen()
{
    return GConsole.Open;
}

namespace
{
    int CountRows(const TString& text)
    {
        return ConsoleTextRows(GConsole.Font, text.Str(), (float)GConsole.Width);
    }

    void ClampScroll()
    {
        if (GConsole.Scroll > GConsole.TotalRows - GConsole.VisibleRows)
            GConsole.Scroll = GConsole.TotalRows - GConsole.VisibleRows;
        if (GConsole.Scroll < 0)
            GConsole.Scroll = 0;
    }

    void RunCommand(const TString& line)
    {
        const char* s = line.Str();
        s32 pos = 0;
        while (IsWhiteSpace(s[pos]))
            ++pos;
        const s32 nameStart = pos;
        while (IsWordChar(s[pos]))
            ++pos;
        if (pos == nameStart)
        {
            ConsolePrintf("error in '%s' - variable name not found", s);
            return;
        }
        TString name(s + nameStart, (u32)(pos - nameStart));
        while (IsWhiteSpace(s[pos]))
            ++pos;
        bool hasValue = false;
        float value = 0;
        if (s[pos])
        {
            value = ParseFloat(line, pos);
            if (ParseFailed())
            {
                ConsolePrintf("error in '%s' - variable value not found", s);
                return;
            }
            hasValue = true;
        }
        SConVar* cv = GetConVar(name);
        if (!cv)
        {
            ConsolePrintf("error in '%s' - variable not found", s);
            return;
        }
        if (hasValue)
            cv->Value = cv->Constrain(value);
        if (cv->Integral)
            ConsolePrintf("'%s=%d'", cv->Name.Str(), cv->AsInt());
        else
            ConsolePrintf("'%s=%f'", cv->Name.Str(), cv->Value);
    }
}

void ConsolePrintf(const char* format, ...)
{
    static char buffer[16384];
    va_list args;
    va_start(args, format);
    gVSNPrintf(buffer, sizeof(buffer), format, args);
    va_end(args);

    // One console line per call: a trailing line end belongs to the caller's habit, not the text.
    u32 len = (u32)gStrLen(buffer);
    while (len > 0 && (buffer[len - 1] == '\n' || buffer[len - 1] == '\r'))
        buffer[--len] = 0;
    // Outside bytes in the text (a path, a file's contents) are shown escaped, here and on the terminal.
    TString shown;
    if (gSysIsDisplayText(buffer))
        shown.Assign(buffer, len);
    else
        shown = DisplayText(buffer);
    // Batch runs and the job server never show the console: its lines go to standard output too.
    LogPrintf("%s", shown.Str());
    LogPrintf("\n");
    fflush(stdout);

    SConsoleLine line;
    line.Text = shown;
    line.Rows = CountRows(line.Text);

    // Whether the reader scrolled up, judged before the log changes: a line of several wrapped
    // rows must not by itself stop the view from following the end.
    const bool scrolledUp =
        GConsole.Scroll >= 0 && GConsole.Scroll + GConsole.VisibleRows < GConsole.TotalRows - 1;

    const u32 count = GConsole.Lines.Count();
    if (count >= CONSOLE_MAX_LINES)
    {
        const u32 drop = count - (CONSOLE_MAX_LINES - 1);
        int droppedRows = 0;
        for (u32 i = 0; i < drop; ++i)
            droppedRows += GConsole.Lines[i].Rows;
        GConsole.Lines.RemoveRange(0, drop - 1);
        GConsole.TotalRows -= droppedRows;
        // Keep the rows in view where they were.
        if (scrolledUp)
            GConsole.Scroll = GConsole.Scroll > droppedRows ? GConsole.Scroll - droppedRows : 0;
    }
    GConsole.Lines.Add(line);
    GConsole.TotalRows += line.Rows;
    R_RequestRedraw();

    if (!scrolledUp)
        GConsole.Scroll = GConsole.TotalRows - GConsole.VisibleRows;
}

void ConsoleResize(int width, int height)
{
    GConsole.Width = width;
    GConsole.Height = height;
    GConsole.TotalRows = 0;
    for (u32 i = 0; i < GConsole.Lines.Count(); ++i)
    {
        SConsoleLine& line = GConsole.Lines[i];
        line.Rows = CountRows(line.Text);
        GConsole.TotalRows += line.Rows;
    }
    // A window lower than two rows shows none, never a negative count.
    const int rows = height / CONSOLE_ROW_HEIGHT - 1;
    GConsole.VisibleRows = rows > 0 ? rows : 0;
}

void ConsoleSetFont(SFont* font)
{
    GConsole.Font = font;
    ConsoleResize(GConsole.Width, GConsole.Height);
}

void ConsoleKey(int code, bool down)
{
    if (code == CONSOLE_TOGGLE_KEY && down)
    {
        GConsole.Open = !GConsole.Open;
        R_RequestRedraw();
        return;
    }
    if (!GConsole.Open)
        return;

    if (down)
    {
        switch (code)
        {
        case KEY_PageUp: GConsole.Scroll -= 4; break;
        case KEY_PageDown: GConsole.Scroll += 4; break;
        case KEY_Home: GConsole.Scroll = 0; break;
        case KEY_End: GConsole.Scroll = GConsole.TotalRows - GConsole.VisibleRows; break;
        default: break;
        }
    }
    ClampScroll();

    if (down)
    {
        switch (code)
        {
        case KEY_Backspace:
            if (GConsole.Input.Length() > 0)
                GConsole.Input.Remove(GConsole.Input.Length() - 1, GConsole.Input.Length() - 1);
            break;
        case KEY_Delete:
            GConsole.Input = "";
            break;
        case KEY_Enter:
            if (GConsole.Input.Length() > 0)
            {
                const TString line = GConsole.Input;
                GConsole.Input = "";
                RunCommand(line);
            }
            break;
        default: break;
        }
    }
}

void ConsoleChar(int character, bool down)
{
    (void)down;
    if (!GConsole.Open)
        return;
    // The toggle key's own characters never reach the line.
    if (character < 0 || character > 255 || !gIsPrint(character) || character == '~' || character == '`')
        return;
    if (GConsole.Input.Length() < CONSOLE_MAX_INPUT)
        GConsole.Input += (char)character;
}

bool ConsoleScrollThumb(float& y0, float& y1)
{
    y0 = y1 = 0;
    // Nothing held: no thumb (and no division by a zero row count).
    if (GConsole.TotalRows <= 0)
        return false;
    const float track = (float)(GConsole.Height - CONSOLE_ROW_HEIGHT);
    if (track <= 0)
        return false;
    // The rows shown, kept inside the track even while the log is shorter than the view.
    float first = (float)GConsole.Scroll;
    float last = (float)(GConsole.Scroll + GConsole.VisibleRows);
    const float total = (float)GConsole.TotalRows;
    first = first < 0 ? 0 : (first > total ? total : first);
    last = last < first ? first : (last > total ? total : last);
    y0 = track * first / total;
    y1 = track * last / total;
    return true;
}
