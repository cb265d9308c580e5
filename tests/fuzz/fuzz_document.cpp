// The node-graph document reader: any bytes load into a fresh processor of the test node classes
// (on the off-screen GL context, no display) or are refused, without fault; a text the program
// wrote reads back to the same graph, so writing it again gives the same text.
#include "FuzzSupport.h"

#include "GameCore.h"
#include "GameFileIO.h"
#include "GameShader.h"
#include "GameWindow.h"
#include "TestNodes.h"
#include "TexDocument.h"

namespace
{
std::string GInput, GFirst, GSecond;

// The graph's text after a load of path into a fresh processor; false when the load refuses it.
bool LoadText(const std::string& path, int quiet, TString& text)
{
    STexProcessor p;
    if (!p.LoadDocument(path.c_str(), quiet, 0))
        return false;
    if (!DocumentText(p, text))
        FuzzFail("a loaded graph has no document text");
    return true;
}

void Save(const std::string& path, const TString& text)
{
    FuzzWriteFile(path, (const uint8_t*)text.Str(), text.Length());
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        "GKV_File_Version_2\n"
        "NODE STestNode_Pins _POS=\"0;0;0\" _ID=\"-1\" pos0=\"10;20\" pos1=\"130;70\" FmtOverride=\"0\" NName=\"src\" "
        "AnimData=\"\" Ins=\"0\" Outs=\"1\" Optional=\"8\" Fail=\"0\" Size=\"0\" Gain=\"0.5\" Shift=\"1;2\" "
        "Tint=\"0.1;0.2;0.3;0.4\" Label=\"text\"\n"
        "NODE STestNode_Pins _POS=\"0;0;0\" _ID=\"-1\" pos0=\"200;20\" pos1=\"320;80\" FmtOverride=\"3\" "
        "NName=\"<unnamed>\" AnimData=\"ANIM 0 2 5\\nPOINT 0;0\\nPOINT 1;1\\n\\n\" Ins=\"1\" Outs=\"0\" "
        "Optional=\"8\" Fail=\"0\" Size=\"0\" Gain=\"1.5e+06\" Shift=\"0.123457;-2\" Tint=\"0.1;0.2;0.3;0.4\" "
        "Label=\"tab\\there \\\"q\\\" end\\\\\"\n"
        "LINK 0 0 1 0\n",
        "GKV_File_Version_2\nNODE STestNode_Affine Ins=\"2\" Scale=\"-1e-05\" Bias=\"1;0;0.5;1\"\n"
        "NODE STestNode_Pins Ins=\"0\" Outs=\"3\"\nNODE STestNode_Pins Ins=\"2\" Outs=\"2\"\n"
        "LINK 1 2 0 1\nLINK 1 0 2 0\nLINK 2 0 0 0\nLINK 0 0 2 1\n",
        "GKV_File_Version_1\nNODE STestNode_Pins NName=x\\ty Gain=1.5 Fail=1\r\nJUNK\rNODE STestNode_Affine\n",
        "GKV_File_Version_2\r% NODE STestNode_Pins Gain \"1.5\" =\"2\" AnimData=\"POINT 1;1\\nANIM 1 0 7\\n"
        "POINT 0.5;nan\\nPOINT 0.5;1\\n\" NName=\"open\n",
        "GKV_File_Version_2\nNODE STestNode_Pins Ins=\"2000000000\"\nLINK 0 0 0 -1\n",
    });
    SWindowSystem* system = new SWindowSystem();
    GWindowSystem = system;
    GWindow = new SWindow(system);
    R_SetMode(GScreenWidth, GScreenHeight, 0, GRefreshRate, 0, 1);
    R_SetGLDefaults();
    if (!GWindow->MakeCurrent())
        FuzzFail("no off-screen GL context");
    // Laying nodes out draws them with the shipped shaders.
    GBaseFolder = PW_BIN_DIR "/RERudu/";
    CreateShaderStorage();
    GInput = FuzzDir() + "/input.kvf";
    GFirst = FuzzDir() + "/first.kvf";
    GSecond = FuzzDir() + "/second.kvf";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzWriteFile(GInput, data, size);
    TString first, second, third;
    // Boxes are answered by the hook; the first byte decides whether they are asked at all.
    if (!LoadText(GInput, size && (data[0] & 1), first))
        return 0;
    // The first text may still differ from the input's graph: a value that is no number is written
    // as 0, and the layout follows the values. From then on the text stays.
    Save(GFirst, first);
    if (!LoadText(GFirst, 1, second))
        FuzzFail("a written document does not load");
    Save(GSecond, second);
    if (!LoadText(GSecond, 1, third))
        FuzzFail("a written document does not load");
    if (!(second == third))
        FuzzFail("a written document reads back as another graph");
    return 0;
}
