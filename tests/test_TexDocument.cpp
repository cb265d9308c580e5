// The node-graph document: a small graph against a hand-written document text, save, load, save
// byte for byte over every value type and escape, every malformed file's box (or none when quiet)
// with the graph being edited kept, unreadable files and failed saves, and every truncation of a
// valid document.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TexDocPath.h"
#include "TexDocument.h"

namespace
{
// A node of every value type whose own parameters are kept as read and stored back unchanged.
class STestNode_Values : public STexProcNode
{
public:
    TArray<SPropDesc> Params;
    explicit STestNode_Values(TArray<SPropDesc>& list) : STexProcNode(list), Params(list) { Title = "Test values"; }
    int Process() override { return 1; }
    void StoreParams(TArray<SPropDesc>& list) override
    {
        STexProcNode::StoreParams(list);
        for (u32 i = 1; i < list.Count() && i < Params.Count(); ++i)
            list[i] = Params[i];
    }
    static const SPropDesc* Props()
    {
        const mVec3 z3(0, 0, 0);
        const mVec4 z4(0, 0, 0, 0);
        static const SPropDesc table[] = {
            PropInherit("STexProcNode", STexProcNode::PropTable()),
            PropInt("I", 0, (s32)0x80000000, 0x7FFFFFFF), PropFloat("F", 0, -1e38f, 1e38f),
            PropVec2("V2", mVec2(0, 0), mVec2(0, 0), mVec2(0, 0)), PropVec3(EVT_Vec3, "V3", z3, z3, z3),
            PropVec4(EVT_Vec4, "V4", z4, z4, z4), PropVec3(EVT_Polar, "P", z3, z3, z3),
            PropVec3(EVT_Vec3A, "V3A", z3, z3, z3), PropVec4(EVT_ColRGBA, "C", z4, z4, z4),
            PropVec3(EVT_ColHSV, "H", z3, z3, z3), PropVec3(EVT_Pos, "Q", z3, z3, z3),
            PropVec3(EVT_Vec3B, "V3B", z3, z3, z3), PropVec3(EVT_Vec3C, "V3C", z3, z3, z3),
            PropString(EVT_String, "S", ""), PropString(EVT_StringA, "SA", ""),
            PropString(EVT_StringB, "SB", ""), PropString(EVT_Mesh, "M", ""),
            PropNull(),
        };
        return table;
    }
    static CEntity* Create(TArray<SPropDesc>& list)
    {
        STestNode_Values* n = new STestNode_Values(list);
        n->ClassInfo = &Info;
        return n;
    }
    static SClassInfo Info;
};
SClassInfo STestNode_Values::Info("STestNode_Values", &STestNode_Values::Create, STestNode_Values::Props());
struct SRegisterValues
{
    SRegisterValues() { RegisterClassInfo(&STestNode_Values::Info); }
} GRegisterValues;

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

std::string DocText(STexProcessor& p)
{
    TString text;
    EXPECT_TRUE(DocumentText(p, text));
    return std::string(text.Str(), text.Length());
}

std::vector<SRecordedBox> LoadBoxes()
{
    std::vector<SRecordedBox> v;
    for (const SRecordedBox& b : RecordedBoxes())
        if (b.kind == SYSBOX_Message)
            v.push_back(b);
    return v;
}

// The graph a failed load must leave alone.
void AddKeptGraph(STexProcessor& p, const char* fileName)
{
    AddPinsNode(p, 0, 1)->NName = "kept";
    p.FileName = fileName;
}

const char* const REFERENCE_DOC =
    "GKV_File_Version_2\n"
    "NODE STestNode_Pins _POS=\"0;0;0\" _ID=\"-1\" pos0=\"10;20\" pos1=\"130;70\" FmtOverride=\"0\" NName=\"src\" "
    "AnimData=\"\" Ins=\"0\" Outs=\"1\" Optional=\"8\" Fail=\"0\" Size=\"0\" Gain=\"0.5\" Shift=\"1;2\" "
    "Tint=\"0.1;0.2;0.3;0.4\" Label=\"text\"\n"
    "NODE STestNode_Pins _POS=\"0;0;0\" _ID=\"-1\" pos0=\"200;20\" pos1=\"320;80\" FmtOverride=\"3\" "
    "NName=\"<unnamed>\" AnimData=\"ANIM 0 2 5\\nPOINT 0;0\\nPOINT 1;1\\n\\n\" Ins=\"1\" Outs=\"0\" Optional=\"8\" "
    "Fail=\"0\" Size=\"0\" Gain=\"1.5e+06\" Shift=\"0.123457;-2\" Tint=\"0.1;0.2;0.3;0.4\" "
    "Label=\"tab\\there \\\"q\\\" end\\\\\"\n"
    "LINK 0 0 1 0\n";
} // namespace

class TexDocument : public GUIDrawTest
{
protected:
    TTempDir dir;
    void SetUp() override
    {
        GUIDrawTest::SetUp();
        TestProcessLog().clear();
        SetCurrentDocumentPath(TString(""));
    }
};

TEST_F(TexDocument, ASmallGraphIsWrittenAsTheHandWrittenTextAndReadBackFromIt)
{
    const float HEIGHT_A = 50, HEIGHT_B = 60;
    STexProcessor p;
    STestNode_Pins* a = AddPinsNode(p, 0, 1);
    STestNode_Pins* b = AddPinsNode(p, 1, 0);
    a->SetPosition(10, 20);
    a->OffsetBottom = a->OffsetTop + HEIGHT_A;
    a->NName = "src";
    b->SetPosition(200, 20);
    b->OffsetBottom = b->OffsetTop + HEIGHT_B;
    b->FmtOverride = 3;
    b->Gain = 1.5e6f;
    b->Shift = mVec2(0.1234567f, -2);
    b->Label = "tab\there \"q\" end\\";
    SAnimCurve c;
    c.Channel = 5;
    c.Max = 2;
    c.Reset();
    b->Curves.Add(c);
    ASSERT_EQ(TestLink(p, a, 0, b, 0), 1);
    EXPECT_EQ(DocText(p), REFERENCE_DOC);

    const std::string path = dir.File("ref.kvf");
    WriteFile(path, REFERENCE_DOC);
    STexProcessor q;
    ASSERT_EQ(q.LoadDocument(path.c_str(), 0, 0), 1);
    EXPECT_TRUE(LoadBoxes().empty());
    ASSERT_EQ(q.Nodes.Count(), 2u);
    STestNode_Pins* ra = static_cast<STestNode_Pins*>(q.Nodes[0]);
    STestNode_Pins* rb = static_cast<STestNode_Pins*>(q.Nodes[1]);
    EXPECT_EQ(ra->NName, "src");
    EXPECT_FLOAT_EQ(ra->Pos0().x, 10.0f);
    EXPECT_EQ(rb->FmtOverride, 3);
    EXPECT_FLOAT_EQ(rb->Gain, 1.5e6f);
    EXPECT_FLOAT_EQ(rb->Shift.x, 0.123457f);
    EXPECT_EQ(std::string(rb->Label.Str()), "tab\there \"q\" end\\");
    ASSERT_EQ(rb->Curves.Count(), 1u);
    EXPECT_EQ(rb->Curves[0].Channel, 5);
    EXPECT_FLOAT_EQ(rb->Curves[0].Max, 2.0f);
    EXPECT_EQ(rb->Curves[0].Points.Count(), 2u);
    ASSERT_EQ(rb->InParams[0]->Links.Count(), 1u);
    EXPECT_EQ(rb->InParams[0]->Links[0], ra->OutParams[0]);
    EXPECT_EQ(q.FileName, path.c_str());
    EXPECT_EQ(q.Edited, 0u);
    EXPECT_EQ(CurrentDocumentPath(), path.c_str());
}

TEST_F(TexDocument, SaveLoadSaveIsByteIdenticalOverEveryValueTypeAndEscape)
{
    const std::string STRINGS[] = {
        std::string("bell\a back\b ff\f nl\n cr\r tab\t vt\v"), "quotes ' \" ? and a trailing backslash\\",
        "\\\\", "", "\\\"x\\",
    };
    const char* FLOATS[] = {"1.5e6", "0.1234567", "-2.5e-7", "3.4028235e38", "-0"};
    const char* const FLOAT_PARAMS[] = {"F", "V2", "V3", "V4", "P", "V3A", "C", "H", "Q", "V3B", "V3C"};
    const char* const STRING_PARAMS[] = {"S", "SA", "SB", "M"};
    STexProcessor p;
    for (const std::string& s : STRINGS)
        for (const char* f : FLOATS)
        {
            STexProcNode* n = AddTestNode<STestNode_Values>(p, [&](TArray<SPropDesc>& l) {
                TestSetInt(l, "I", -2147483647 - 1);
                for (const char* name : FLOAT_PARAMS)
                {
                    const std::string v = std::string(f) + ";" + f + ";" + f + ";" + f;
                    ParamFromText(*FindPropDesc(l, name), v.c_str(), true);
                }
                for (const char* name : STRING_PARAMS)
                    FindPropDesc(l, name)->AsString() = TString(s.c_str(), (u32)s.size());
                FindPropDesc(l, "NName")->AsString() = TString(s.c_str(), (u32)s.size());
                FindPropDesc(l, "AnimData")->AsString() = "ANIM -1.5e+06 0.123457 3\nPOINT 0.25;1e-05\n\n";
            });
            n->SetPosition(1e6f, -0.1234567f);
        }
    STestNode_Pins* a = AddPinsNode(p, 2, 3);
    STestNode_Pins* b = AddPinsNode(p, 2, 1);
    TestLink(p, a, 2, b, 1);
    TestLink(p, a, 0, b, 0);

    const std::string first = dir.File("first.kvf"), second = dir.File("second.kvf");
    ASSERT_EQ(p.SaveDocument(first.c_str()), 1);
    STexProcessor q;
    ASSERT_EQ(q.LoadDocument(first.c_str(), 0, 0), 1);
    ASSERT_EQ(q.SaveDocument(second.c_str()), 1);
    EXPECT_EQ(ReadFile(first), ReadFile(second));
    EXPECT_NE(ReadFile(first).find("\\a back\\b ff\\f nl\\n cr\\r tab\\t vt\\v\""), std::string::npos);
    EXPECT_NE(ReadFile(first).find("backslash\\\\\" "), std::string::npos);
    // Strings come back as they were, control characters and backslashes included.
    for (u32 i = 0; i < p.Nodes.Count(); ++i)
    {
        EXPECT_EQ(q.Nodes[i]->NName, p.Nodes[i]->NName) << i;
        STestNode_Values* v = dynamic_cast<STestNode_Values*>(q.Nodes[i]);
        for (u32 k = 0; v && k < sizeof(STRING_PARAMS) / sizeof(STRING_PARAMS[0]); ++k)
        {
            EXPECT_EQ(FindPropDesc(v->Params, STRING_PARAMS[k])->AsString(),
                      FindPropDesc(static_cast<STestNode_Values*>(p.Nodes[i])->Params, STRING_PARAMS[k])->AsString());
        }
    }
    EXPECT_EQ(q.Nodes.Last()->InParams[1]->Links[0], q.Nodes[q.Nodes.Count() - 2]->OutParams[2]);
}

TEST_F(TexDocument, MalformedDocumentsShowTheirBoxAndKeepTheGraphBeingEdited)
{
    struct Case
    {
        std::string text;
        int result;
        const char* title; // null: no box
        const char* boxText; // "%s" stands for the path
        u32 nodes;           // after a successful load
    };
    const char* const NODE = "NODE STestNode_Pins Ins=\"1\"\n";
    const std::string three = std::string("GKV_File_Version_2\n") + NODE + NODE + NODE;
    const Case cases[] = {
        {"GKV_File_Version_3\nNODE STestNode_Pins\n", 0, DOC_BOX_VERSION,
         "File: %s\nVersion supported by executable: GKV_File_Version_2\nVersion found in file: GKV_File_Version_3", 0},
        {"", 0, DOC_BOX_VERSION,
         "File: %s\nVersion supported by executable: GKV_File_Version_2\nVersion found in file: ", 0},
        {"GKV_File_Version_2\nNODE STexNode_Nope a=\"1\"\n", 0, DOC_BOX_NODE_NAME, "File: %s\nName: STexNode_Nope", 0},
        {"GKV_File_Version_2\nNODE CEntity\n", 0, DOC_BOX_NODE_NAME, "File: %s\nName: CEntity", 0},
        {"GKV_File_Version_2\nNODE STestNode_Pins Bogus=\"1\" Gain=\"1.25\"\n", 1, DOC_BOX_PARAMETER,
         "File: %s\nParameter: Bogus", 1},
        {"GKV_File_Version_2\nNODE STestNode_Pins STexProcNode=\"1\"\n", 1, DOC_BOX_PARAMETER,
         "File: %s\nParameter: STexProcNode", 1},
        {three + "LINK 0 0 5 0\n", 0, DOC_BOX_LINK, "File: %s\nNode 1: 0\nNode 2: 5\nNode count: 3", 0},
        {three + "LINK -1 0 1 0\n", 0, DOC_BOX_LINK, "File: %s\nNode 1: -1\nNode 2: 1\nNode count: 3", 0},
        {three + "LINK 0 1 1 0\n", 0, DOC_BOX_LINK, "File: %s\nNode 1: 0\nNode 2: 1\nNode count: 3", 0},
        {three + "LINK 0 0 1 -1\n", 0, DOC_BOX_LINK, "File: %s\nNode 1: 0\nNode 2: 1\nNode count: 3", 0},
        {three + "LINK 0 0 1\n", 0, DOC_BOX_LINK, "File: %s\nNode 1: 0\nNode 2: 1\nNode count: 3", 0},
        {three + "LINK 9999999999 0 1 0\n", 0, DOC_BOX_LINK,
         "File: %s\nNode 1: 2147483647\nNode 2: 1\nNode count: 3", 0},
        {"GKV_File_Version_2", 1, nullptr, nullptr, 0},
    };
    const std::string path = dir.File("bad.kvf");
    for (const Case& c : cases)
        for (int quiet = 0; quiet < 2; ++quiet)
        {
            SCOPED_TRACE(c.text + (quiet ? " (quiet)" : ""));
            RecordedBoxes().clear();
            WriteFile(path, c.text);
            STexProcessor p;
            AddKeptGraph(p, "kept.kvf");
            SetCurrentDocumentPath(TString("kept.kvf"));
            EXPECT_EQ(p.LoadDocument(path.c_str(), quiet, 0), c.result);
            const std::vector<SRecordedBox> boxes = LoadBoxes();
            if (!c.title || quiet)
                EXPECT_TRUE(boxes.empty());
            else
            {
                ASSERT_EQ(boxes.size(), 1u);
                EXPECT_EQ(boxes[0].caption, c.title);
                char expected[1024];
                snprintf(expected, sizeof(expected), c.boxText, path.c_str());
                EXPECT_EQ(boxes[0].text, expected);
            }
            if (c.result)
            {
                EXPECT_EQ(p.Nodes.Count(), c.nodes);
                EXPECT_EQ(p.FileName, path.c_str());
                EXPECT_EQ(CurrentDocumentPath(), path.c_str());
                continue;
            }
            ASSERT_EQ(p.Nodes.Count(), 1u);
            EXPECT_EQ(p.Nodes[0]->NName, "kept");
            EXPECT_EQ(p.FileName, "kept.kvf");
            EXPECT_EQ(CurrentDocumentPath(), "kept.kvf");
        }
    // The parameter after an unknown one is read.
    WriteFile(path, "GKV_File_Version_2\nNODE STestNode_Pins Bogus=\"1\" Gain=\"1.25\"\n");
    STexProcessor p;
    ASSERT_EQ(p.LoadDocument(path.c_str(), 1, 0), 1);
    EXPECT_FLOAT_EQ(static_cast<STestNode_Pins*>(p.Nodes[0])->Gain, 1.25f);
}

TEST_F(TexDocument, UnreadableFilesAndFailedSavesChangeNothing)
{
    const std::string kept = dir.File("kept.kvf");
    STexProcessor p;
    AddKeptGraph(p, kept.c_str());
    ASSERT_EQ(p.SaveDocument(kept.c_str()), 1);
    const std::string before = ReadFile(kept);
    p.Nodes[0]->NName = "changed";
    p.Edited = 1;
    const std::string missingFolder = dir.File("none/doc.kvf");
    const char* const paths[] = {missingFolder.c_str(), dir.Path().c_str()};
    for (const char* path : paths)
    {
        SCOPED_TRACE(path);
        RecordedBoxes().clear();
        EXPECT_EQ(p.LoadDocument(path, 0, 1), 0);
        EXPECT_EQ(p.SaveDocument(path), 0);
        EXPECT_TRUE(LoadBoxes().empty());
        ASSERT_EQ(p.Nodes.Count(), 1u);
        EXPECT_EQ(p.Nodes[0]->NName, "changed");
        EXPECT_EQ(p.FileName, kept.c_str());
        EXPECT_EQ(p.Edited, 1u);
        EXPECT_EQ(CurrentDocumentPath(), kept.c_str());
    }
    EXPECT_EQ(ReadFile(kept), before);
}

TEST_F(TexDocument, TheReaderCopesWithLooseAndDamagedText)
{
    struct Case
    {
        std::string text;
        const char* name; // NName of the only node
        float gain;
        s32 fail, id;
    };
    const std::string V2 = "GKV_File_Version_2";
    const Case cases[] = {
        {V2 + "\rNODE STestNode_Pins NName=\"cr\"\r\r", "cr", 0.5f, 0, -1},
        {V2 + "\n%% ! NODE STestNode_Pins Gain \"1.5\" =\"2\" Fail=\"1\" _ID=\"7\"\n", "<unnamed>", 0.5f, 1, 7},
        {V2 + "\nNODE STestNode_Pins NName=\"open\n Gain=\"1.5\"\n", "open", 0.5f, 0, -1},
        {V2 + "\nNODE STestNode_Pins NName=bare Gain= \"1.5\"\n", "bare", 1.5f, 0, -1},
        {V2 + "\nNODE STestNode_Pins NName=\"a" + std::string("\0", 1) + "b\" Gain=\"1.5\"", "a", 1.5f, 0, -1},
        {"GKV_File_Version_1\nNODE STestNode_Pins NName=x\\ty Gain=1.5 Fail=1\n", "x\\ty", 1.5f, 1, -1},
        {"  \n" + V2 + "\nJUNK words\tNODE STestNode_Pins Gain=\"2\"", "<unnamed>", 2.0f, 0, -1},
    };
    const std::string path = dir.File("loose.kvf");
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        WriteFile(path, c.text);
        STexProcessor p;
        ASSERT_EQ(p.LoadDocument(path.c_str(), 1, 0), 1);
        ASSERT_EQ(p.Nodes.Count(), 1u);
        STestNode_Pins* n = static_cast<STestNode_Pins*>(p.Nodes[0]);
        EXPECT_EQ(std::string(n->NName.Str()), c.name);
        EXPECT_FLOAT_EQ(n->Gain, c.gain);
        EXPECT_EQ(n->Fail, c.fail);
        EXPECT_EQ(n->ID, c.id);
    }
    // A class name with a NUL inside is not the class its first part names.
    WriteFile(path, V2 + "\nNODE STestNode_Pins" + std::string("\0", 1) + "x\n");
    STexProcessor p;
    EXPECT_EQ(p.LoadDocument(path.c_str(), 1, 0), 0);
    // Pin counts read from a document stay within the class's range.
    const u32 MAX_PINS = 8;
    WriteFile(path, V2 + "\nNODE STestNode_Pins Ins=\"2000000000\" Outs=\"-5\"\n");
    ASSERT_EQ(p.LoadDocument(path.c_str(), 1, 0), 1);
    EXPECT_EQ(p.Nodes[0]->InParams.Count(), MAX_PINS);
    EXPECT_EQ(p.Nodes[0]->OutParams.Count(), 0u);
}

TEST_F(TexDocument, ProcessingAtLoadRunsEveryNodeOnceAfterItsFeeders)
{
    // A chain written sink first: node i is fed by node i + 1, and the last node feeds the first
    // two inputs of the sink as well.
    const int CHAIN = 6;
    std::string doc = "GKV_File_Version_2\nNODE STestNode_Pins Ins=\"3\" NName=\"0\"\n";
    for (int i = 1; i < CHAIN; ++i)
        doc += "NODE STestNode_Pins Ins=\"" + std::string(i + 1 < CHAIN ? "1" : "0") + "\" Outs=\"2\" NName=\"" +
               std::to_string(i) + "\"\n";
    for (int i = 1; i < CHAIN; ++i)
        doc += "LINK " + std::to_string(i) + " 0 " + std::to_string(i - 1) + " 0\n";
    doc += "LINK " + std::to_string(CHAIN - 1) + " 1 0 1\nLINK " + std::to_string(CHAIN - 1) + " 1 0 2\n";
    const std::string path = dir.File("chain.kvf");
    WriteFile(path, doc);
    std::vector<std::string> chain;
    for (int i = CHAIN - 1; i >= 0; --i)
        chain.push_back(std::to_string(i));
    for (int process = 0; process < 2; ++process)
    {
        TestProcessLog().clear();
        STexProcessor p;
        ASSERT_EQ(p.LoadDocument(path.c_str(), 0, process), 1);
        std::vector<std::string> order;
        for (STexProcNode* n : TestProcessLog())
            order.push_back(n->NName.Str());
        EXPECT_EQ(order, process ? chain : std::vector<std::string>());
        EXPECT_EQ(p.Edited, 0u);
        EXPECT_EQ(p.UpdateList.Count(), process ? 0u : (u32)CHAIN);
        p.ProcessUpdateList();
        // Queueing the source queues the whole chain.
        p.AddToUpdateList(p.Nodes[CHAIN - 1]);
        EXPECT_EQ(p.UpdateList.Count(), (u32)CHAIN);
    }
}

TEST_F(TexDocument, EveryTruncationOfAValidDocumentLoadsOrFailsCleanly)
{
    const std::string path = dir.File("whole.kvf");
    WriteFile(path, REFERENCE_DOC);
    STexProcessor p;
    ASSERT_EQ(p.LoadDocument(path.c_str(), 1, 0), 1);
    ASSERT_EQ(p.SaveDocument(path.c_str()), 1);
    const std::string text = ReadFile(path);
    // A cut refuses the text inside the version word, inside a class name (or right after "NODE"),
    // and between "LINK" and its last number; anywhere else what is left loads.
    const size_t CLASS_AFTER_NODE = strlen("NODE ") + strlen("STestNode_Pins");
    std::vector<std::pair<size_t, size_t>> refused = {{0, strlen(DOC_VERSION_2)}};
    for (size_t at = text.find("NODE "); at != std::string::npos; at = text.find("NODE ", at + 1))
        refused.push_back({at + strlen("NODE"), at + CLASS_AFTER_NODE});
    refused.push_back({text.find("LINK") + strlen("LINK"), text.size() - 1});
    const std::string cut = dir.File("cut.kvf");
    for (size_t n = 0; n <= text.size(); ++n)
    {
        bool expectRefused = false;
        for (const auto& r : refused)
            expectRefused |= n >= r.first && n < r.second;
        WriteFile(cut, text.substr(0, n));
        const std::string before = DocText(p);
        const int result = p.LoadDocument(cut.c_str(), 1, 0);
        EXPECT_EQ(result, expectRefused ? 0 : 1) << n;
        if (!result)
        {
            EXPECT_EQ(DocText(p), before) << n;
        }
    }
    EXPECT_EQ(p.Nodes.Count(), 2u);
}
