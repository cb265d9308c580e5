// Console variables, the console's command and its log, without GL.
#include "TestSupport.h"

#include "GameConsole.h"
#include "GameCore.h"
#include "GameFont.h"
#include "GameWindow.h"

#include <algorithm>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    // Every test starts with a closed, empty console without a font and leaves the engine's
    // variables as it found them.
    class Console : public ::testing::Test
    {
    protected:
        SConsoleState saved;
        float savedStats = 0;

        void SetUp() override
        {
            ConsoleInit();
            saved = GConsole;
            savedStats = r_drawStats.Value;
            GConsole = SConsoleState();
            ConsoleResize(400, 200);
        }
        void TearDown() override
        {
            GConsole = saved;
            r_drawStats.Value = savedStats;
        }

        static void Type(const char* text)
        {
            for (const char* p = text; *p; ++p)
                ConsoleChar((u8)*p, true);
        }
        static std::string Run(const char* command)
        {
            if (!IsConsoleOpen())
                ConsoleKey(CONSOLE_TOGGLE_KEY, true);
            Type(command);
            ConsoleKey(KEY_Enter, true);
            ConsoleKey(KEY_Enter, false);
            EXPECT_EQ(GConsole.Input.Length(), 0u) << "the input line is emptied after every command";
            return GConsole.Lines.IsEmpty() ? std::string() : std::string(GConsole.Lines.Last().Text.Str());
        }
    };
}

TEST(ConVar, ConstrainRoundsClampsAndSnaps)
{
    SConVar whole("t_whole", 0, 1, -2, 5);
    EXPECT_EQ(whole.Constrain(0.4f), 0.0f);
    EXPECT_EQ(whole.Constrain(0.6f), 1.0f);
    EXPECT_EQ(whole.Constrain(-1.7f), -2.0f);
    EXPECT_EQ(whole.Constrain(-9.0f), -2.0f);
    EXPECT_EQ(whole.Constrain(5.4f), 5.0f);
    EXPECT_EQ(whole.Constrain(77.0f), 5.0f);

    SConVar frac("t_frac", 0.5f, 0, 0.25f, 0.75f);
    EXPECT_EQ(frac.Constrain(0.3f), 0.3f);
    EXPECT_EQ(frac.Constrain(0.1f), 0.25f);
    EXPECT_EQ(frac.Constrain(0.9f), 0.75f);

    const float allowed[] = {1.0f, 2.0f, 4.0f, 8.0f};
    SConVar samples("t_samples", 1, 1, 0, 0, allowed, 4);
    EXPECT_EQ(samples.Allowed.Count(), 4u);
    EXPECT_EQ(samples.Constrain(4.0f), 4.0f);
    EXPECT_EQ(samples.Constrain(5.0f), 4.0f);
    EXPECT_EQ(samples.Constrain(7.0f), 8.0f);
    EXPECT_EQ(samples.Constrain(100.0f), 8.0f);
    EXPECT_EQ(samples.Constrain(-3.0f), 1.0f);
    // The range does not apply with a list; a tie goes to the first entry.
    EXPECT_EQ(samples.Constrain(3.0f), 2.0f);
    EXPECT_EQ(samples.Constrain(6.0f), 4.0f);
    // Rounding comes first: 2.6 becomes 3, a tie between 2 and 4.
    EXPECT_EQ(samples.Constrain(2.6f), 2.0f);

    const float steps[] = {0.5f, 0.1f};
    SConVar unsorted("t_unsorted", 0, 0, 0, 0, steps, 2);
    EXPECT_EQ(unsorted.Constrain(0.2f), 0.1f);
    EXPECT_EQ(unsorted.Constrain(0.31f), 0.5f);
}

TEST(ConVar, EngineVariablesAreRegistered)
{
    struct
    {
        const char* name;
        float value, max;
    } expected[] = {
        {"DebugUpdates", 0, 1}, {"r_drawStats", 1, 1},   {"ed_drawUI", 1, 1},      {"r_drawOctree", 0, 1},
        {"r_drawPhysics", 0, 1}, {"r_drawCamNode", 0, 1}, {"r_wireframe", 0, 1},    {"r_dbgDrawBones", 0, 1},
        {"__nothing", 0, 100},
    };
    for (const auto& e : expected)
    {
        SConVar* cv = GetConVar(e.name);
        ASSERT_NE(cv, nullptr) << e.name;
        EXPECT_STREQ(cv->Name.Str(), e.name);
        EXPECT_NE(cv->Integral, 0u) << e.name;
        EXPECT_EQ(cv->Min, 0.0f) << e.name;
        EXPECT_EQ(cv->Max, e.max) << e.name;
        EXPECT_TRUE(cv->Allowed.IsEmpty()) << e.name;
        if (gStrCmp(e.name, "r_drawStats") != 0) // the program may have switched the overlay
        {
            EXPECT_EQ(cv->Value, e.value) << e.name;
        }
    }
    EXPECT_EQ(GetConVar("r_drawstats"), nullptr); // names are case-sensitive
    EXPECT_EQ(GetConVar(""), nullptr);
    EXPECT_EQ(GetConVar(nullptr), nullptr);
}

TEST(ConVar, LocalVariableRegistersAndLeaves)
{
    ConsoleInit();
    const u32 before = GConVars->count;
    {
        SConVar local("t_local", 3, 1, 0, 10);
        EXPECT_EQ(GetConVar("t_local"), &local);
        EXPECT_EQ(GConVars->count, before + 1);
    }
    EXPECT_EQ(GetConVar("t_local"), nullptr);
    EXPECT_EQ(GConVars->count, before);
}

TEST(ConVarDeathTest, DuplicateNameIsFatal)
{
    TTempDir dir;
    EXPECT_EXIT(
        {
            if (chdir(dir.Path().c_str()) != 0)
                _exit(1);
            SConVar again("r_drawStats", 0, 1, 0, 1);
        },
        ::testing::ExitedWithCode(SYS_FATAL_EXIT_CODE & 0xFF), "!GConVars->Find\\( cv->Name \\)");
}

TEST_F(Console, SetsVariablesThroughConstrain)
{
    EXPECT_EQ(Run("r_drawStats 5"), "'r_drawStats=1'");
    EXPECT_EQ(r_drawStats.Value, 1.0f);
    EXPECT_EQ(Run("r_drawStats 0.4"), "'r_drawStats=0'");
    EXPECT_EQ(r_drawStats.Value, 0.0f);
    EXPECT_EQ(Run("  \tr_drawStats   -3"), "'r_drawStats=0'");
    EXPECT_EQ(Run("r_drawStats 0,7"), "'r_drawStats=1'");
    EXPECT_EQ(r_drawStats.Value, 1.0f);
    r_drawStats.Value = 0;
    // The name alone prints the current value and changes nothing.
    EXPECT_EQ(Run("r_drawStats"), "'r_drawStats=0'");
    EXPECT_EQ(Run("r_drawStats   "), "'r_drawStats=0'");
    EXPECT_EQ(r_drawStats.Value, 0.0f);
    EXPECT_EQ(Run("__nothing 42.6"), "'__nothing=43'");
    EXPECT_EQ(Run("__nothing 0"), "'__nothing=0'");

    SConVar real("t_real", 0.5f, 0, 0, 10);
    EXPECT_EQ(Run("t_real"), "'t_real=0.500000'");
    EXPECT_EQ(Run("t_real 2.25"), "'t_real=2.250000'");
    EXPECT_EQ(real.Value, 2.25f);
    EXPECT_EQ(Run("t_real 11"), "'t_real=10.000000'");
}

TEST_F(Console, CommandErrorsChangeNothing)
{
    r_drawStats.Value = 1;
    EXPECT_EQ(Run("=1"), "error in '=1' - variable name not found");
    EXPECT_EQ(Run("   "), "error in '   ' - variable name not found");
    EXPECT_EQ(Run("r_drawStats =1"), "error in 'r_drawStats =1' - variable value not found");
    EXPECT_EQ(Run("r_drawStats=1"), "error in 'r_drawStats=1' - variable value not found");
    EXPECT_EQ(Run("r_drawStats x"), "error in 'r_drawStats x' - variable value not found");
    EXPECT_EQ(Run("no_such_var 1"), "error in 'no_such_var 1' - variable not found");
    EXPECT_EQ(Run("no_such_var"), "error in 'no_such_var' - variable not found");
    EXPECT_EQ(r_drawStats.Value, 1.0f);

    // Enter on an empty line runs nothing.
    const u32 lines = GConsole.Lines.Count();
    ConsoleKey(KEY_Enter, true);
    EXPECT_EQ(GConsole.Lines.Count(), lines);
}

TEST_F(Console, InputLineEditing)
{
    Type("abc");
    EXPECT_TRUE(GConsole.Input.IsEmpty()) << "a closed console takes no characters";
    ConsoleKey(CONSOLE_TOGGLE_KEY, false);
    EXPECT_FALSE(IsConsoleOpen()) << "only the key going down toggles";
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    ASSERT_TRUE(IsConsoleOpen());

    Type("a~b`c");
    ConsoleChar(9, true);
    ConsoleChar(27, true);
    ConsoleChar(127, true);
    EXPECT_STREQ(GConsole.Input.Str(), "abc");
    ConsoleKey(KEY_Backspace, true);
    EXPECT_STREQ(GConsole.Input.Str(), "ab");
    ConsoleKey(KEY_Backspace, false);
    EXPECT_STREQ(GConsole.Input.Str(), "ab");
    ConsoleKey(KEY_Delete, true);
    EXPECT_TRUE(GConsole.Input.IsEmpty());
    ConsoleKey(KEY_Backspace, true); // nothing left to remove
    EXPECT_TRUE(GConsole.Input.IsEmpty());

    for (int i = 0; i < 150; ++i)
        ConsoleChar('0' + i % 10, true);
    EXPECT_EQ(GConsole.Input.Length(), (u32)CONSOLE_MAX_INPUT);
    EXPECT_EQ(GConsole.Input.Str()[99], '9');

    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    EXPECT_FALSE(IsConsoleOpen());
    ConsoleKey(KEY_Backspace, true);
    EXPECT_EQ(GConsole.Input.Length(), (u32)CONSOLE_MAX_INPUT) << "a closed console ignores its keys";
}

TEST_F(Console, LogKeepsTheNewestHundredLines)
{
    for (int i = 1; i <= 101; ++i)
        ConsolePrintf("line %d", i);
    ASSERT_EQ(GConsole.Lines.Count(), 100u);
    EXPECT_STREQ(GConsole.Lines[0].Text.Str(), "line 2");
    EXPECT_STREQ(GConsole.Lines.Last().Text.Str(), "line 101");
    for (int i = 102; i <= 250; ++i)
        ConsolePrintf("line %d", i);
    ASSERT_EQ(GConsole.Lines.Count(), 100u);
    EXPECT_STREQ(GConsole.Lines[0].Text.Str(), "line 151");
    EXPECT_STREQ(GConsole.Lines.Last().Text.Str(), "line 250");
}

TEST_F(Console, LinesAlsoGoToStandardOutput)
{
    ::testing::internal::CaptureStdout();
    ConsolePrintf("value %d and %s\n", 7, "text");
    ConsolePrintf("no line end");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "value 7 and text\nno line end\n");
    // The stored line carries no line end of its own.
    EXPECT_STREQ(GConsole.Lines[0].Text.Str(), "value 7 and text");

    // A text longer than the format buffer is cut, not overrun.
    std::string longText(20000, 'x');
    ::testing::internal::CaptureStdout();
    ConsolePrintf("%s", longText.c_str());
    const std::string cut = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(GConsole.Lines.Last().Text.Length(), 16383u);
    EXPECT_EQ(cut.size(), 16384u);
}

TEST_F(Console, VisibleRowsNeverNegative)
{
    ConsoleResize(1024, 576 / 3);
    EXPECT_EQ(GConsole.VisibleRows, 15);
    ConsoleResize(1024, 24);
    EXPECT_EQ(GConsole.VisibleRows, 1);
    ConsoleResize(1024, 11);
    EXPECT_EQ(GConsole.VisibleRows, 0);
    ConsoleResize(0, 0);
    EXPECT_EQ(GConsole.VisibleRows, 0);
}

TEST_F(Console, ScrollThumbWithoutRowsOrTrack)
{
    float y0 = -1, y1 = -1;
    // No rows held (no font measures them): no thumb, no division by zero.
    ConsolePrintf("a line");
    EXPECT_EQ(GConsole.TotalRows, 0);
    EXPECT_FALSE(ConsoleScrollThumb(y0, y1));

    GConsole.TotalRows = 40;
    GConsole.VisibleRows = 10;
    GConsole.Height = 212;
    GConsole.Scroll = 10;
    ASSERT_TRUE(ConsoleScrollThumb(y0, y1));
    EXPECT_FLOAT_EQ(y0, 50.0f);
    EXPECT_FLOAT_EQ(y1, 100.0f);
    // A log shorter than the view keeps the thumb inside the track.
    GConsole.Scroll = -5;
    GConsole.TotalRows = 5;
    ASSERT_TRUE(ConsoleScrollThumb(y0, y1));
    EXPECT_FLOAT_EQ(y0, 0.0f);
    EXPECT_FLOAT_EQ(y1, 200.0f);
    GConsole.Height = 6;
    EXPECT_FALSE(ConsoleScrollThumb(y0, y1));
}

TEST_F(Console, ScrollKeysClampToTheLog)
{
    // Rows set by hand: the arithmetic of the keys, independent of any font.
    GConsole.TotalRows = 30;
    GConsole.VisibleRows = 10;
    GConsole.Scroll = 20;
    ConsoleKey(KEY_PageUp, true);
    EXPECT_EQ(GConsole.Scroll, 20) << "closed: keys do nothing";
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    ConsoleKey(KEY_PageUp, true);
    EXPECT_EQ(GConsole.Scroll, 16);
    ConsoleKey(KEY_PageDown, true);
    ConsoleKey(KEY_PageDown, true);
    EXPECT_EQ(GConsole.Scroll, 20) << "not beyond total - visible";
    ConsoleKey(KEY_Home, true);
    EXPECT_EQ(GConsole.Scroll, 0);
    ConsoleKey(KEY_PageUp, true);
    EXPECT_EQ(GConsole.Scroll, 0) << "never negative";
    ConsoleKey(KEY_End, true);
    EXPECT_EQ(GConsole.Scroll, 20);
    GConsole.TotalRows = 4;
    ConsoleKey(KEY_End, true);
    EXPECT_EQ(GConsole.Scroll, 0);
}

TEST_F(Console, ModeChangeSizesTheConsoleAndLogsIt)
{
    SWindow* window = GWindow;
    IGame* game = GGame;
    const s32 w = GScreenWidth, h = GScreenHeight;
    const u32 full = GFullscreen, rate = GRefreshRate, swap = GSwapInterval, samples = GSamples;
    GWindow = nullptr; // the mode record only: no window to change
    GGame = nullptr;
    EXPECT_EQ(R_SetMode(800, 600, 0, 60, 0, 4), 1);
    EXPECT_EQ(GConsole.Width, 800);
    EXPECT_EQ(GConsole.Height, 200);
    EXPECT_EQ(GConsole.VisibleRows, 200 / 12 - 1);
    ASSERT_FALSE(GConsole.Lines.IsEmpty());
    EXPECT_STREQ(GConsole.Lines.Last().Text.Str(), "[R_SetMode] Resolution changed to 800x600, windowed, 4x AA");
    R_SetMode(w, h, full, rate, swap, samples);
    GWindow = window;
    GGame = game;
}

// ---------------------------------------------------------------------------------------------
// Under Xvfb: the console opens with its key in the window and sets a variable typed into it.
#include "GLTestContext.h"
#include "GameInput.h"

#include <SDL2/SDL.h>

namespace
{
    void PushKey(Uint32 window, SDL_Scancode code, SDL_Keycode sym, bool down)
    {
        SDL_Event key = {};
        key.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        key.key.windowID = window;
        key.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        key.key.keysym.scancode = code;
        key.key.keysym.sym = sym;
        ASSERT_EQ(SDL_PushEvent(&key), 1);
    }
}

TEST(XvfbConsole, OpensWithItsKeyAndSetsAVariable)
{
    ASSERT_TRUE(GLTest_Init());
    ASSERT_FALSE(GWindowSystem->IsOffscreen());
    ConsoleInit();
    const SConsoleState saved = GConsole;
    const float stats = r_drawStats.Value;
    GConsole = SConsoleState();
    r_drawStats.Value = 1;
    InputReset();
    PumpWindowMessages();
    SWindowEvent drop;
    while (GWindow->PopEvent(drop))
    {
    }
    const Uint32 id = SDL_GetWindowID((SDL_Window*)GWindow->Handle);

    PushKey(id, SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, true);
    PushKey(id, SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, false);
    InputKeepPrevious();
    ProcessEvents();
    ASSERT_TRUE(IsConsoleOpen());

    SDL_Event text = {};
    text.type = SDL_TEXTINPUT;
    text.text.windowID = id;
    SDL_strlcpy(text.text.text, "`r_drawStats 0", sizeof(text.text.text));
    ASSERT_EQ(SDL_PushEvent(&text), 1);
    PushKey(id, SDL_SCANCODE_RETURN, SDLK_RETURN, true);
    ProcessEvents();
    EXPECT_EQ(r_drawStats.Value, 0.0f);
    ASSERT_FALSE(GConsole.Lines.IsEmpty());
    EXPECT_STREQ(GConsole.Lines.Last().Text.Str(), "'r_drawStats=0'");
    EXPECT_TRUE(GTypedText.IsEmpty()) << "typed text goes to the console only";

    PushKey(id, SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, true);
    ProcessEvents();
    EXPECT_FALSE(IsConsoleOpen());

    GConsole = saved;
    r_drawStats.Value = stats;
    InputReset();
}

namespace
{
    // A font without pages: every character 'a'..'z' and the blank advance half the size, so at
    // size 12 a character is 6 pixels wide.
    struct TMonoFont
    {
        SFont font;
        TMonoFont()
        {
            std::string d = "info face=\"t\"\ncommon lineHeight=12 base=10 scaleW=64 scaleH=64 pages=1\n"
                            "page id=0 file=\"none.png\"\nchars count=27\n";
            for (int c = 'a'; c <= 'z'; ++c)
                d += "char id=" + std::to_string(c) +
                     " x=0 y=0 width=6 height=12 xoffset=0 yoffset=0 xadvance=6 page=0 chnl=0\n";
            d += "char id=32 x=0 y=0 width=0 height=0 xoffset=0 yoffset=0 xadvance=6 page=0 chnl=0\n";
            EXPECT_TRUE(font.ParseDescriptor(TString(d.c_str()), ""));
        }
    };
}

TEST_F(Console, FontMeasuresWrappedRows)
{
    TMonoFont mono;
    // 60 pixels: ten characters a row.
    ConsoleResize(60, 12 * 6);
    ConsolePrintf("abc");
    ConsolePrintf("%s", std::string(25, 'a').c_str());
    EXPECT_EQ(GConsole.TotalRows, 0) << "no font: no rows";
    ConsoleSetFont(&mono.font);
    ASSERT_EQ(GConsole.Lines.Count(), 2u);
    EXPECT_EQ(GConsole.Lines[0].Rows, 1);
    EXPECT_EQ(GConsole.Lines[1].Rows, 3);
    EXPECT_EQ(GConsole.TotalRows, 4);
    // Word wrap moves whole words that fit a row.
    ConsolePrintf("abcdef abcdef abc");
    EXPECT_EQ(GConsole.Lines.Last().Rows, 2);
    EXPECT_EQ(GConsole.TotalRows, 6);
    // A wider console re-measures every line.
    ConsoleResize(600, 12 * 6);
    EXPECT_EQ(GConsole.Lines[1].Rows, 1);
    EXPECT_EQ(GConsole.TotalRows, 3);
    EXPECT_EQ(ConsoleTextRows(nullptr, "abc", 60), 0);
    ConsoleSetFont(nullptr);
    EXPECT_EQ(GConsole.TotalRows, 0);
}

TEST_F(Console, ViewFollowsTheEndUnlessScrolledUp)
{
    TMonoFont mono;
    ConsoleSetFont(&mono.font);
    ConsoleResize(60, 12 * 6); // five visible rows
    ASSERT_EQ(GConsole.VisibleRows, 5);
    for (int i = 0; i < 3; ++i)
        ConsolePrintf("short");
    // Shorter than the view: the rows sit at its bottom.
    EXPECT_EQ(GConsole.Scroll, 3 - 5);
    for (int i = 0; i < 7; ++i)
        ConsolePrintf("short");
    EXPECT_EQ(GConsole.Scroll, 10 - 5);
    // A line of several rows keeps the view at the end.
    ConsolePrintf("%s", std::string(35, 'a').c_str());
    EXPECT_EQ(GConsole.TotalRows, 14);
    EXPECT_EQ(GConsole.Scroll, 14 - 5);

    // Scrolled up, the view stays where the reader put it.
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    ConsoleKey(KEY_PageUp, true);
    EXPECT_EQ(GConsole.Scroll, 5);
    ConsolePrintf("more");
    EXPECT_EQ(GConsole.Scroll, 5);
    ConsoleKey(KEY_End, true);
    EXPECT_EQ(GConsole.Scroll, 15 - 5);
    ConsolePrintf("more");
    EXPECT_EQ(GConsole.Scroll, 16 - 5);
}

TEST_F(Console, DroppedLinesKeepAScrolledViewOnItsRows)
{
    TMonoFont mono;
    ConsoleSetFont(&mono.font);
    ConsoleResize(60, 12 * 6);
    for (int i = 0; i < 100; ++i)
        ConsolePrintf("l");
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    ConsoleKey(KEY_Home, true); // Home: the oldest rows
    ConsoleKey(KEY_PageDown, true); // then four rows down: the view starts at line 4
    ASSERT_EQ(GConsole.Scroll, 4);
    ConsolePrintf("%s", std::string(15, 'a').c_str()); // drops line 0, adds two rows
    EXPECT_EQ(GConsole.Lines.Count(), 100u);
    EXPECT_EQ(GConsole.TotalRows, 99 + 2);
    EXPECT_EQ(GConsole.Scroll, 3) << "the same line stays at the top of the view";
}

// ---------------------------------------------------------------------------------------------
// Drawing on the off-screen context, read back from a render target of its own.
#include "GameMaterial.h"
#include "GameRT.h"
#include "GameShader.h"

#include <GL/glew.h>

namespace
{
    class ConsoleGL : public Console
    {
    protected:
        enum { W = 256, H = 120 };
        TString savedBase;
        s32 savedHeight = 0;
        GLuint fbo = 0, tex = 0;
        SFont font;
        std::vector<u8> px;

        void SetUp() override
        {
            // The context and the programs first: their mode change and loading log console
            // lines, which the reset then drops.
            ASSERT_TRUE(GLTest_Init());
            savedBase = GBaseFolder;
            savedHeight = GScreenHeight;
            GBaseFolder = PW_BIN_DIR "/RERudu/";
            GScreenHeight = H; // the scissor arithmetic works in this target's pixels
            CreateShaderStorage();
            ASSERT_NE(GetShader("ColorOnly"), nullptr);
            ASSERT_NE(GetShader("GUI"), nullptr);
            Console::SetUp();
            R_ResetStateCache();
            SetRasterState(RASTER_NoCull);
            glDisable(GL_DEPTH_TEST);
            fbo = GLTest_MakeTarget(W, H, GL_RGBA8, GL_UNSIGNED_BYTE, tex);
            glClearColor(0, 0, 0, 1);
            glClear(GL_COLOR_BUFFER_BIT);
            GViewMatrix = mMat4();
            GProjectionMatrix = M_OrthoMatrix(0, W, 0, H, -1, 1);
            ASSERT_TRUE(font.Load("Data/Engine/DebugFont.fnt"));
            ConsoleResize(W, H);
            ConsoleSetFont(&font);
        }
        void TearDown() override
        {
            ConsoleSetFont(nullptr);
            glUseProgram(0);
            GLTest_FreeTarget(fbo, tex);
            FreeShaderStorage();
            SetBlendState(0);
            R_ResetStateCache();
            GBaseFolder = savedBase;
            GScreenHeight = savedHeight;
            Console::TearDown();
        }

        void ReadBack()
        {
            px.assign(W * H * 4, 0);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
        }
        // Pixel at x, y counted from the top.
        const u8* At(int x, int y) const { return &px[((H - 1 - y) * W + x) * 4]; }
        int Ink(int x0, int y0, int x1, int y1) const
        {
            int n = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    if (At(x, y)[0] > 150)
                        ++n;
            return n;
        }
    };

    ::testing::AssertionResult Near(const u8* p, float r, float g, float b)
    {
        const float want[3] = {r * 255, g * 255, b * 255};
        for (int i = 0; i < 3; ++i)
            if (gAbs(p[i] - want[i]) > 3)
                return ::testing::AssertionFailure() << "pixel (" << (int)p[0] << ", " << (int)p[1] << ", " << (int)p[2]
                                                     << ") wanted (" << want[0] << ", " << want[1] << ", " << want[2]
                                                     << ")";
        return ::testing::AssertionSuccess();
    }
}

TEST_F(ConsoleGL, ClosedConsoleDrawsNothing)
{
    ConsolePrintf("a line that would show");
    DrawConsole();
    ReadBack();
    EXPECT_TRUE(Near(At(100, 20), 0, 0, 0));
    EXPECT_EQ(Ink(0, 0, W, H), 0);
}

TEST_F(ConsoleGL, PanelStripTrackThumbAndText)
{
    for (int i = 0; i < 30; ++i)
        ConsolePrintf("Line %d", i);
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    Type("r_drawStats");
    ASSERT_EQ(GConsole.VisibleRows, 9);
    ASSERT_EQ(GConsole.TotalRows, 30);
    ASSERT_EQ(GConsole.Scroll, 21);

    DrawConsole();
    EXPECT_EQ(R_ScissorDepth(), 0u) << "the clip is removed again";
    EXPECT_FALSE(R_GetScissorEnabled());
    ReadBack();

    // Panel over black at alpha 0.85; the input strip over the panel at 0.8.
    EXPECT_TRUE(Near(At(200, 4), 0.1f * 0.85f, 0.15f * 0.85f, 0.2f * 0.85f));
    EXPECT_TRUE(Near(At(200, 115), 0.05f * 0.8f + 0.1f * 0.85f * 0.2f, 0.1f * 0.8f + 0.15f * 0.85f * 0.2f,
                     0.15f * 0.8f + 0.2f * 0.85f * 0.2f));
    // Track above the thumb; the thumb spans rows 21..30 of 30 over the 108-pixel track.
    EXPECT_TRUE(Near(At(W - 5, 20), 0.3f, 0.25f, 0.2f));
    EXPECT_TRUE(Near(At(W - 5, 80), 0.9f, 0.7f, 0.4f));
    EXPECT_TRUE(Near(At(W - 5, 106), 0.9f, 0.7f, 0.4f));
    // The separator line at the top of the strip.
    EXPECT_GT(std::max(At(200, 107)[0], At(200, 108)[0]), 150); // the line lies on a pixel edge

    // Nine log rows of text, and the input line in its strip.
    for (int row = 0; row < 9; ++row)
        EXPECT_GT(Ink(0, row * 12, 100, row * 12 + 12), 0) << "row " << row;
    EXPECT_GT(Ink(0, 109, 100, H), 0);
    EXPECT_EQ(Ink(150, 0, W - 12, 106), 0) << "short lines leave the right side empty";

    // Scrolled to the top the first lines show; the track's top is then under the thumb.
    ConsoleKey(KEY_Home, true);
    glClear(GL_COLOR_BUFFER_BIT);
    DrawConsole();
    ReadBack();
    EXPECT_TRUE(Near(At(W - 5, 2), 0.9f, 0.7f, 0.4f));
    EXPECT_TRUE(Near(At(W - 5, 60), 0.3f, 0.25f, 0.2f));
}

TEST_F(ConsoleGL, TinyConsoleDrawsWithoutRows)
{
    ConsoleResize(W, 10);
    ConsolePrintf("text");
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    EXPECT_EQ(GConsole.VisibleRows, 0);
    DrawConsole();
    EXPECT_EQ(R_ScissorDepth(), 0u);
    EXPECT_EQ(CountBreaks(""), 0);
}
