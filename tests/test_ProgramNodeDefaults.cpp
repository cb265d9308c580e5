// The node classes' defaults as the built program holds them, not as this test program linked in
// its own order does: the real `plumweave` runs a document of every class at its defaults in batch
// (masks that depend on the defaults checked against a CPU computation of their programs) and, in
// a window, saves such a document so that every class's stored defaults meet the table.
#include "PngFiles.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TexNodeRegistry.h"

extern char** environ;

namespace
{
const char* const DOC_VERSION_LINE = "GKV_File_Version_2\n";

// Every class's own parameters at their defaults, in table order, in the document's text form.
const struct
{
    const char* cls;
    const char* params;
} DEFAULTS[] = {
    {"STexNode_File", "TexName=\"\" RelKVF=\"1\""},
    {"STexNode_Extract", "TexName=\"\" ProcStr=\"$(Path)$(Name).$(Ext)\" RelKVF=\"1\" Overwrite=\"1\""},
    {"STexNode_SpriteSheet",
     "Width=\"512\" Height=\"512\" KeepAspect=\"1\" FrameCount=\"16\" Time=\"0;1\" Play=\"0\" Loop=\"1\""},
    {"STexNode_Blend", "BlendMode=\"0\" BlendAmt=\"1\" BClamp=\"1\" OClamp=\"0\""},
    {"STexNode_Transform",
     "Off=\"0;0\" Rot=\"0\" Zoom=\"1;1\" Uniform=\"1\" FlipX=\"0\" FlipY=\"0\" SnapDiv=\"0\""},
    {"STexNode_Resize", "Width=\"512\" Height=\"512\""},
    {"STexNode_Reshape", "Width=\"512\" Height=\"512\" XOff=\"0\" YOff=\"0\" OffMode=\"0\""},
    {"STexNode_Invert", "Red=\"1\" Green=\"1\" Blue=\"1\" Alpha=\"0\""},
    {"STexNode_Desaturate", ""},
    {"STexNode_BrCon", "BrOff=\"0\" ConQ=\"1\" Red=\"1\" Green=\"1\" Blue=\"1\" Alpha=\"0\""},
    {"STexNode_SoftContrast", "Center=\"0.5\" Range=\"0.5\" Amount=\"1\" SnapDiv=\"0\""},
    {"STexNode_Posterize", "RoundDiv=\"0.125\" Red=\"1\" Green=\"1\" Blue=\"1\" Alpha=\"0\""},
    {"STexNode_QuickConvert", "Mode=\"3\""},
    {"STexNode_ChanBlend", "BlendAmt=\"0;0;0;0\""},
    {"STexNode_ColorMatrix", ""},
    {"STexNode_ColorLUT2D", "XChan=\"0\" YChan=\"1\""},
    {"STexNode_Input", "PName=\"\""},
    {"STexNode_Output", "PName=\"\""},
    {"STexNode_Param", "NodeName=\"\" PName=\"\" Param=\"0\" Data=\"0;0\""},
    {"STexNode_Proc", "KVFName=\"\" ParamData=\"\" ShowOutputs=\"0\""},
    {"STexNode_Blur", "Radius=\"8;8\" Uniform=\"1\" Expand=\"1\" Wrap=\"1\" Separable=\"1\""},
    {"STexNode_VFBlur",
     "Radius=\"1;1\" Uniform=\"1\" DoubleSided=\"1\" DistMode=\"2\" OORMode=\"0\" SampleCnt=\"1\""},
    {"STexNode_AntiAlias", "Amount=\"1\" Threshold=\"0\""},
    {"STexNode_UnsharpMask", "Amount=\"1\" Threshold=\"0\""},
    {"STexNode_Distort", "Radius=\"1;1\" Uniform=\"1\" DistMode=\"0\" OORMode=\"0\""},
    {"STexNode_LensDistort", "Amount=\"0.1;0.1\" Zoom=\"1;1\" Uniform=\"1\" OORMode=\"2\""},
    {"STexNode_Sobel3x3", ""},
    {"STexNode_NSobel3x3", ""},
    {"STexNode_ColorRGBA", "Color=\"0;0;0;0\" SnapDiv=\"0\""},
    {"STexNode_ColorHSVA", "Color=\"0;0;0\" Alpha=\"0\" SnapDiv=\"0\""},
    {"STexNode_CPUNoise", "Width=\"256\" Height=\"256\" Seed=\"0\""},
    {"STexNode_GPUNoise", "Width=\"256\" Height=\"256\" Seed=\"0\""},
    {"STexNode_GPUClouds", "Width=\"256\" Height=\"256\" Seed=\"0\" OctDataX=\"1\" OctDataY=\"12\" DetScaleX=\"8\" "
                           "DetScaleY=\"8\" Uniform=\"1\""},
    {"STexNode_LinearGradient",
     "Width=\"256\" Height=\"256\" Pos0=\"0;0\" Pos1=\"1;0\" SnapDiv=\"0\" Repeat=\"0\" Mirror=\"0\""},
    {"STexNode_RadialGradient", "Width=\"256\" Height=\"256\" Pos0=\"0.5;0.5\" Radius0=\"0;0\" Radius1=\"0.5;0.5\" "
                                "Uniform=\"1\" SnapDiv=\"0\" Repeat=\"0\" Mirror=\"0\""},
    {"STexNode_BoxGradient", "Width=\"256\" Height=\"256\" Pos0=\"0.5;0.5\" Radius0=\"0;0\" Radius1=\"0.5;0.5\" "
                             "Uniform=\"1\" SnapDiv=\"0\" Repeat=\"0\" Mirror=\"0\""},
    {"STexNode_Grid", "Width=\"256\" Height=\"256\" Off=\"0.025;0.025\" Border=\"0.05;0.05\" Hole=\"0.2;0.2\" "
                      "Uniform=\"1\" Texels=\"0\" SnapDiv=\"0\""},
    {"STexNode_BlurKernel", "Width=\"256\" Height=\"256\" Type=\"0\""},
    {"STexNode_SelRect", "Min=\"0;0\" Max=\"100;100\" SnapDiv=\"0\""},
    {"STexNode_SelCompare", "Mode=\"0\""},
    {"STexNode_SelRange", "Range=\"0.0390625;0.04296875\" Sharp=\"0\" Vector=\"0\""},
    {"STexNode_RGBtoALT", "Mode=\"0\""},
    {"STexNode_ALTtoRGB", "Mode=\"0\""},
    {"STexNode_PartPos", "Count=\"100\" Seed=\"0\" Mode=\"0\" P1=\"0;0\" P2=\"1;1\""},
    {"STexNode_PartPosTex", "Count=\"100\" Seed=\"0\" P1=\"0;0\" P2=\"1;1\""},
    {"STexNode_PartRender", "Width=\"256\" Height=\"256\" BlendMode=\"0\" Size=\"32\" SSWidth=\"1\" SSHeight=\"1\" "
                            "SSCount=\"1\" SSSeed=\"0\" Tiled=\"0\""},
    {"STexNode_AlphaPremul", ""},
    {"STexNode_AlphaDePremul", ""},
    {"STexNode_Expand",
     "Iterations=\"10\" Range=\"0.003921569\" Red=\"1\" Green=\"1\" Blue=\"1\" Alpha=\"0\""},
    {"STexNode_PackNormal", ""},
    {"STexNode_UnpackNormal", ""},
    {"STexNode_NormalizeNormal", ""},
    {"STexNode_Mix", ""},
    {"STexNode_Clamp", ""},
    {"STexNode_Add", "RGBA=\"1;1;1;1\""},
    {"STexNode_Sub", "RGBA=\"1;1;1;1\""},
    {"STexNode_Mul", "RGBA=\"1;1;1;1\""},
    {"STexNode_Div", "RGBA=\"1;1;1;1\""},
    {"STexNode_Mod", "RGBA=\"1;1;1;1\""},
    {"STexNode_Pow", "RGBA=\"1;1;1;1\""},
    {"STexNode_Min", "RGBA=\"1;1;1;1\""},
    {"STexNode_Max", "RGBA=\"1;1;1;1\""},
    {"STexNode_Abs", "RGBA=\"1;1;1;1\""},
};
// The base parameters every node stores at its defaults; the canvas places the node, so its
// position is not among them.
const char* const BASE_DEFAULTS = "FmtOverride=\"0\" NName=\"<unnamed>\" AnimData=\"\"";
const char* const PLACEMENT_PARAMS[] = {"_POS", "_ID", "pos0", "pos1"};
// Numbers are written with six significant digits.
const double NUMBER_REL_TOL = 1e-5;

typedef std::vector<std::pair<std::string, std::string>> TParams;

// name="value" pairs of a node line's text (no escapes occur in these values).
TParams ParseParams(const std::string& text)
{
    TParams out;
    size_t at = 0;
    while (true)
    {
        const size_t eq = text.find("=\"", at);
        if (eq == std::string::npos)
            return out;
        const size_t end = text.find('"', eq + 2);
        if (end == std::string::npos)
            return out;
        size_t start = text.find_last_of(' ', eq);
        start = start == std::string::npos || start < at ? at : start + 1;
        out.push_back({text.substr(start, eq - start), text.substr(eq + 2, end - eq - 2)});
        at = end + 1;
    }
}

// The numbers of a value ("1;0.5"); false when any part is not a number.
bool Numbers(const std::string& v, std::vector<double>& out)
{
    out.clear();
    std::stringstream s(v);
    std::string part;
    while (std::getline(s, part, ';'))
    {
        char* end = nullptr;
        const double d = strtod(part.c_str(), &end);
        if (part.empty() || *end)
            return false;
        out.push_back(d);
    }
    return !out.empty();
}

bool SameValue(const std::string& got, const std::string& expected)
{
    std::vector<double> g, e;
    if (!Numbers(got, g) || !Numbers(expected, e))
        return got == expected;
    if (g.size() != e.size())
        return false;
    for (size_t i = 0; i < g.size(); ++i)
        if (std::fabs(g[i] - e[i]) > NUMBER_REL_TOL * std::fabs(e[i]))
            return false;
    return true;
}

std::string AllClassesDocument(const std::string& extra = "")
{
    std::string doc = DOC_VERSION_LINE;
    int id = 0;
    for (const auto& d : DEFAULTS)
        doc += "NODE " + std::string(d.cls) + " _ID=\"" + std::to_string(id++) + "\"\n";
    return doc + extra;
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
    return (bool)f;
}

std::string ReadText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

u32 Grey(u32 v)
{
    return v | v << 8 | v << 16 | 0xFFu << 24;
}

const std::string PROGRAM = std::string(PW_BIN_DIR) + "/plumweave";
} // namespace

TEST(ProgramNodeDefaults, TheTableCoversEveryRegisteredClass)
{
    ASSERT_EQ(sizeof(DEFAULTS) / sizeof(DEFAULTS[0]), (size_t)TexNodeClassCount());
    for (u32 i = 0; i < TexNodeClassCount(); ++i)
        EXPECT_STREQ(DEFAULTS[i].cls, TexNodeClassRecord(i)->Name);
}

// Select rectangle and Select color range at their defaults, in a document of every class, run by
// the program in batch: the masks are what the default corners and range select.
TEST(ProgramNodeDefaults, BatchRunSelectsWithTheDefaultRectangleAndRange)
{
    // Larger than the default rectangle on both axes.
    const u32 RECT_W = 128, RECT_H = 112;
    const float RECT_MAX = 100.0f;
    // Input and Compare differ by k/255 in every colour channel at column k.
    const u32 STEPS = 21, BASE = 100;
    const float RANGE_START = 10.0f / 256.0f, RANGE_END = 11.0f / 256.0f;
    const int BYTE_TOL = 1;

    TTempDir dir;
    std::vector<u32> flat(RECT_W * RECT_H, Grey(BASE));
    ASSERT_TRUE(WritePng(dir.File("size.png"), RECT_W, RECT_H, flat));
    std::vector<u32> a(STEPS), b(STEPS);
    for (u32 k = 0; k < STEPS; ++k)
        a[k] = Grey(BASE), b[k] = Grey(BASE + k);
    ASSERT_TRUE(WritePng(dir.File("a.png"), STEPS, 1, a));
    ASSERT_TRUE(WritePng(dir.File("b.png"), STEPS, 1, b));

    // Nodes past the class list by index; the list's own Extract, which at its defaults has no file
    // name and would fail the run, writes the rectangle's mask instead.
    const int first = (int)(sizeof(DEFAULTS) / sizeof(DEFAULTS[0]));
    const int EXTRACT_INDEX = 1;
    auto id = [&](int k) { return std::to_string(k < 0 ? EXTRACT_INDEX : first + k); };
    const int RECT_OUT = -1;
    std::string extra;
    extra += "NODE STexNode_File _ID=\"" + id(0) + "\" TexName=\"size.png\"\n";
    extra += "NODE STexNode_File _ID=\"" + id(1) + "\" TexName=\"a.png\"\n";
    extra += "NODE STexNode_File _ID=\"" + id(2) + "\" TexName=\"b.png\"\n";
    extra += "NODE STexNode_SelRect _ID=\"" + id(3) + "\"\n";
    extra += "NODE STexNode_SelRange _ID=\"" + id(4) + "\"\n";
    extra += "NODE STexNode_Extract _ID=\"" + id(5) + "\" TexName=\"range.png\"\n";
    // Links by node index: source, output pin, target, input pin.
    const int links[][4] = {{0, 0, 3, 0}, {1, 0, 4, 0}, {2, 0, 4, 1}, {3, 0, RECT_OUT, 0}, {4, 0, 5, 0}};
    for (const auto& l : links)
        extra +=
            "LINK " + id(l[0]) + " " + std::to_string(l[1]) + " " + id(l[2]) + " " + std::to_string(l[3]) + "\n";
    std::string doc = AllClassesDocument(extra);
    const std::string defaultExtract = "NODE STexNode_Extract _ID=\"1\"\n";
    doc.replace(doc.find(defaultExtract), defaultExtract.size(),
                "NODE STexNode_Extract _ID=\"1\" TexName=\"rect.png\"\n");
    ASSERT_TRUE(WriteText(dir.File("all.kvf"), doc));

    const std::string cmd = "cd '" + dir.Path() + "' && env -u DISPLAY '" + PROGRAM + "' -opc all.kvf </dev/null 2>&1";
    int status = -1;
    const std::string out = RunCapture(cmd, &status);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    ASSERT_EQ(WEXITSTATUS(status), 0) << out;

    u32 w = 0, h = 0;
    std::vector<u32> rect = ReadPng(dir.File("rect.png"), w, h);
    ASSERT_EQ(w, RECT_W);
    ASSERT_EQ(h, RECT_H);
    u32 wrong = 0;
    for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x)
        {
            // Texel centres within (0, 0)..(Max, Max), x to the right, y down the rows.
            const bool inside = (float)x + 0.5f <= RECT_MAX && (float)y + 0.5f <= RECT_MAX;
            wrong += rect[y * w + x] != (inside ? 0xFFFFFFFFu : 0u);
        }
    EXPECT_EQ(wrong, 0u);

    std::vector<u32> range = ReadPng(dir.File("range.png"), w, h);
    ASSERT_EQ(w, STEPS);
    ASSERT_EQ(h, 1u);
    for (u32 k = 0; k < STEPS; ++k)
    {
        // 1 up to the start, 0 from the end on, a smooth step between.
        const float d = (float)k / 255.0f;
        const float t = std::min(1.0f, std::max(0.0f, (d - RANGE_START) / (RANGE_END - RANGE_START)));
        const float sel = 1.0f - t * t * (3.0f - 2.0f * t);
        const int expected = (int)std::lround(sel * 255.0f);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR((int)((range[k] >> (8 * c)) & 0xFF), expected, BYTE_TOL) << "k " << k << " channel " << c;
    }
}

// The program, started in a window on a document of every class at its defaults, saves it with
// Ctrl+S: each class stores the defaults of its table.
TEST(XvfbProgramNodeDefaults, EveryClassSavesTheDefaultsOfItsTable)
{
    // The title shows once the document is loaded and processed, every class's program compiled
    // on the software rasteriser: on a busy machine that takes a while.
    const double WINDOW_WAIT_S = 120.0, SAVE_WAIT_S = 60.0;
    const useconds_t WAIT_STEP_US = 50000;
    const int KEY_HOLD_STEPS = 6;
    auto seconds = [] {
        timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
    };
    ASSERT_NE(getenv("DISPLAY"), nullptr);
    TTempDir dir;
    const std::string path = dir.File("all.kvf");
    const std::string written = AllClassesDocument();
    ASSERT_TRUE(WriteText(path, written));

    const char* argv[] = {PROGRAM.c_str(), path.c_str(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, (char* const*)argv, environ), 0);
    TProgramGuard program(pid);
    const unsigned long id = program.WaitForWindow(WINDOW_WAIT_S);
    const std::string window = id ? std::to_string(id) : "";
    std::string saved;
    if (!window.empty())
    {
        // Pressed again until the save shows: the window may take a moment to take the keyboard.
        // Each press is held long enough for a tick to see both keys down.
        const double shown = seconds();
        while ((saved.empty() || saved == written) && seconds() - shown < SAVE_WAIT_S)
        {
            RunCapture("xdotool windowfocus --sync " + window + " keydown ctrl keydown s 2>&1");
            usleep(WAIT_STEP_US * KEY_HOLD_STEPS);
            RunCapture("xdotool keyup s keyup ctrl 2>&1");
            saved = ReadText(path);
        }
    }
    program.Stop(SIGTERM);
    ASSERT_FALSE(window.empty()) << "no window titled Plumweave - ...";
    ASSERT_NE(saved, written) << "Ctrl+S saved nothing";

    std::map<std::string, TParams> stored;
    std::stringstream lines(saved);
    std::string line;
    while (std::getline(lines, line))
    {
        const std::string NODE = "NODE ";
        if (line.compare(0, NODE.size(), NODE) != 0)
            continue;
        const size_t space = line.find(' ', NODE.size());
        const std::string cls = line.substr(NODE.size(), space - NODE.size());
        TParams params;
        for (const auto& kv : ParseParams(space == std::string::npos ? "" : line.substr(space)))
        {
            bool placement = false;
            for (const char* p : PLACEMENT_PARAMS)
                placement = placement || kv.first == p;
            if (!placement)
                params.push_back(kv);
        }
        stored[cls] = params;
    }
    for (const auto& d : DEFAULTS)
    {
        ASSERT_EQ(stored.count(d.cls), 1u) << d.cls;
        const TParams& got = stored[d.cls];
        const TParams expected = ParseParams(std::string(BASE_DEFAULTS) + " " + d.params);
        ASSERT_EQ(got.size(), expected.size()) << d.cls;
        for (size_t i = 0; i < got.size(); ++i)
        {
            EXPECT_EQ(got[i].first, expected[i].first) << d.cls;
            EXPECT_TRUE(SameValue(got[i].second, expected[i].second))
                << d.cls << " " << got[i].first << "=\"" << got[i].second << "\", the table says \""
                << expected[i].second << "\"";
        }
    }
}
