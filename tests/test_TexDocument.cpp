// The node-graph document: a small graph against a hand-written text, save, load, save byte for
// byte over every value type and escape, malformed and unreadable files (their boxes, the graph
// being edited kept), loose text and every truncation of a valid document.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TexDocPath.h"
#include "TexDocument.h"

namespace
{
// A node of every value type; its own parameters are stored back as they were read.
class STestNode_Values : public STexProcNode
{
public:
    TArray<SPropDesc> Params;
    explicit STestNode_Values(TArray<SPropDesc>& list) : STexProcNode(list), Params(list) {}
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
            PropInherit("STexProcNode", STexProcNode::PropTable()), PropInt("I", 0, 0, 0), PropFloat("F", 0, 0, 0),
            PropVec2("V2", mVec2(0, 0), mVec2(0, 0), mVec2(0, 0)), PropVec3(EVT_Vec3, "V3", z3, z3, z3),
            PropVec4(EVT_Vec4, "V4", z4, z4, z4), PropVec3(EVT_Polar, "P", z3, z3, z3),
            PropVec3(EVT_Vec3A, "V3A", z3, z3, z3), PropVec4(EVT_ColRGBA, "C", z4, z4, z4),
            PropVec3(EVT_ColHSV, "H", z3, z3, z3), PropVec3(EVT_Pos, "Q", z3, z3, z3),
            PropVec3(EVT_Vec3B, "V3B", z3, z3, z3), PropVec3(EVT_Vec3C, "V3C", z3, z3, z3),
            PropString(EVT_String, "S", ""), PropString(EVT_StringA, "SA", ""), PropString(EVT_StringB, "SB", ""),
            PropString(EVT_Mesh, "M", ""), PropNull(),
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
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string DocText(STexProcessor& p)
{
    TString text;
    EXPECT_TRUE(DocumentText(p, text));
    return std::string(text.Str(), text.Length());
}

std::vector<SRecordedBox> MessageBoxes()
{
    std::vector<SRecordedBox> v;
    for (const SRecordedBox& b : RecordedBoxes())
        if (b.kind == SYSBOX_Message)
            v.push_back(b);
    return v;
}

const std::string V2 = "GKV_File_Version_2\n";
const std::string REFERENCE_DOC =
    V2 +
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
    STexProcessor p;
    STestNode_Pins* a = AddPinsNode(p, 0, 1);
    STestNode_Pins* b = AddPinsNode(p, 1, 0);
    a->SetPosition(10, 20);
    a->OffsetBottom = 70;
    a->NName = "src";
    b->SetPosition(200, 20);
    b->OffsetBottom = 80;
    b->FmtOverride = 3;
    b->Gain = 1.5e6f;
    b->Shift = mVec2(0.1234567f, -2);
    b->Label = "tab\there \"q\" end\\";
    b->Curves.Add(SAnimCurve());
    b->Curves[0].Channel = 5;
    b->Curves[0].Max = 2;
    b->Curves[0].Reset();
    TestLink(p, a, 0, b, 0);
    EXPECT_EQ(DocText(p), REFERENCE_DOC);

    const std::string path = dir.File("ref.kvf");
    WriteFile(path, REFERENCE_DOC);
    // Loaded with processing: the node with all inputs linked runs after its feeder.
    STexProcessor q;
    ASSERT_EQ(q.LoadDocument(path.c_str(), 0, 1), 1);
    EXPECT_TRUE(MessageBoxes().empty());
    ASSERT_EQ(q.Nodes.Count(), 2u);
    STestNode_Pins* rb = static_cast<STestNode_Pins*>(q.Nodes[1]);
    EXPECT_EQ(TestProcessLog(), std::vector<STexProcNode*>({q.Nodes[0], rb}));
    EXPECT_FLOAT_EQ(rb->Gain, 1.5e6f);
    EXPECT_EQ(std::string(rb->Label.Str()), "tab\there \"q\" end\\");
    ASSERT_EQ(rb->Curves.Count(), 1u);
    EXPECT_EQ(rb->InParams[0]->Links[0], q.Nodes[0]->OutParams[0]);
    EXPECT_EQ(q.FileName, path.c_str());
    EXPECT_EQ(q.Edited, 0u);
    EXPECT_EQ(CurrentDocumentPath(), path.c_str());
    // Boxes are laid out when the canvas is first drawn, never for a graph no window shows.
    EXPECT_EQ(q.Nodes[0]->LaidOut + rb->LaidOut, 0u);
    q.Frame();
    EXPECT_EQ(q.Nodes[0]->LaidOut + rb->LaidOut, 2u);
}

TEST_F(TexDocument, SaveLoadSaveIsByteIdenticalOverEveryValueTypeAndEscape)
{
    const std::string STRINGS[] = {"bell\a back\b ff\f nl\n cr\r tab\t vt\v", "' \" ? and backslash at the end\\", ""};
    const char* const FLOATS[] = {"1.5e6", "0.1234567", "-2.5e-7", "3.4028235e38", "-0"};
    const char* const FLOAT_PARAMS[] = {"F", "V2", "V3", "V4", "P", "V3A", "C", "H", "Q", "V3B", "V3C"};
    const char* const STRING_PARAMS[] = {"S", "SA", "SB", "M", "NName"};
    STexProcessor p;
    for (const std::string& s : STRINGS)
        for (const char* f : FLOATS)
            AddTestNode<STestNode_Values>(p, [&](TArray<SPropDesc>& l) {
                TestSetInt(l, "I", -2147483647 - 1);
                const std::string v = std::string(f) + ";" + f + ";" + f + ";" + f;
                for (const char* name : FLOAT_PARAMS)
                    ParamFromText(*FindPropDesc(l, name), v.c_str(), true);
                for (const char* name : STRING_PARAMS)
                    FindPropDesc(l, name)->AsString() = TString(s.c_str(), (u32)s.size());
                FindPropDesc(l, "AnimData")->AsString() = "ANIM -1.5e+06 0.123457 3\nPOINT 0.25;1e-05\n\n";
                FindPropDesc(l, "pos0")->AsVec2() = mVec2(1e6f, -0.1234567f);
            });
    STestNode_Pins* a = AddPinsNode(p, 2, 3);
    STestNode_Pins* b = AddPinsNode(p, 2, 1);
    TestLink(p, a, 2, b, 1);
    TestLink(p, a, 0, b, 0);

    const std::string first = dir.File("first.kvf"), second = dir.File("second.kvf");
    ASSERT_EQ(p.SaveDocument(first.c_str()), 1);
    STexProcessor q;
    ASSERT_EQ(q.LoadDocument(first.c_str(), 0, 0), 1);
    ASSERT_EQ(q.SaveDocument(second.c_str()), 1);
    const std::string text = ReadFile(first);
    EXPECT_EQ(text, ReadFile(second));
    EXPECT_NE(text.find("=\"bell\\a back\\b ff\\f nl\\n cr\\r tab\\t vt\\v\""), std::string::npos);
    EXPECT_NE(text.find("=\"\\' \\\" \\? and backslash at the end\\\\\" "), std::string::npos);
    for (u32 i = 0; i + 2 < p.Nodes.Count(); ++i)
        for (const char* name : STRING_PARAMS)
            EXPECT_EQ(FindPropDesc(static_cast<STestNode_Values*>(q.Nodes[i])->Params, name)->AsString(),
                      FindPropDesc(static_cast<STestNode_Values*>(p.Nodes[i])->Params, name)->AsString());
}

TEST_F(TexDocument, MalformedAndUnreadableDocumentsKeepTheGraphBeingEdited)
{
    struct Case
    {
        std::string text; // "<dir>": the path names a folder; "<none>": no file
        int result;
        const char* title; // null: no box
        std::string boxText; // "%s" stands for the path
    };
    const std::string NODE = "NODE STestNode_Pins Ins=\"1\"\n", THREE = V2 + NODE + NODE + NODE;
    const auto linkBox = [](const char* from, const char* to) {
        return std::string("File: %s\nNode 1: ") + from + "\nNode 2: " + to + "\nNode count: 3";
    };
    const Case cases[] = {
        {"GKV_File_Version_3\n", 0, DOC_BOX_VERSION,
         "File: %s\nVersion supported by executable: GKV_File_Version_2\nVersion found in file: GKV_File_Version_3"},
        {V2 + "NODE STexNode_Nope a=\"1\"\n", 0, DOC_BOX_NODE_NAME, "File: %s\nName: STexNode_Nope"},
        {V2 + "NODE CEntity\n", 0, DOC_BOX_NODE_NAME, "File: %s\nName: CEntity"},
        {V2 + "NODE STestNode_Pins Bogus=\"1\" Gain=\"1.25\"\n", 1, DOC_BOX_PARAMETER, "File: %s\nParameter: Bogus"},
        {V2 + "NODE STestNode_Pins STexProcNode=\"1\"\n", 1, DOC_BOX_PARAMETER, "File: %s\nParameter: STexProcNode"},
        {THREE + "LINK 0 0 5 0\n", 0, DOC_BOX_LINK, linkBox("0", "5")},
        {THREE + "LINK -1 0 1 0\n", 0, DOC_BOX_LINK, linkBox("-1", "1")},
        {THREE + "LINK 0 1 1 0\n", 0, DOC_BOX_LINK, linkBox("0", "1")},
        {THREE + "LINK 0 0 1 -1\n", 0, DOC_BOX_LINK, linkBox("0", "1")},
        {THREE + "LINK 0 0 1\n", 0, DOC_BOX_LINK, linkBox("0", "1")},
        {THREE + "LINK 9999999999 0 1 0\n", 0, DOC_BOX_LINK, linkBox("2147483647", "1")},
        {"GKV_File_Version_2", 1, nullptr, ""},
        {"<dir>", 0, nullptr, ""},
        {"<none>", 0, nullptr, ""},
    };
    for (const Case& c : cases)
        for (int quiet = 0; quiet < 2; ++quiet)
        {
            SCOPED_TRACE(c.text + (quiet ? " (quiet)" : ""));
            const std::string path = c.text == "<dir>" ? dir.Path() : dir.File("doc.kvf");
            if (c.text == "<none>")
                remove(path.c_str());
            else if (c.text != "<dir>")
                WriteFile(path, c.text);
            RecordedBoxes().clear();
            STexProcessor p;
            AddPinsNode(p, 0, 1)->NName = "kept";
            p.FileName = "kept.kvf";
            SetCurrentDocumentPath(TString("kept.kvf"));
            EXPECT_EQ(p.LoadDocument(path.c_str(), quiet, 1), c.result);
            const std::vector<SRecordedBox> boxes = MessageBoxes();
            ASSERT_EQ(boxes.size(), c.title && !quiet ? 1u : 0u);
            if (!boxes.empty())
            {
                EXPECT_EQ(boxes[0].caption, c.title);
                char expected[1024];
                snprintf(expected, sizeof(expected), c.boxText.c_str(), path.c_str());
                EXPECT_EQ(boxes[0].text, expected);
            }
            const char* const expectedPath = c.result ? path.c_str() : "kept.kvf";
            EXPECT_EQ(p.FileName, expectedPath);
            EXPECT_EQ(CurrentDocumentPath(), expectedPath);
            if (!c.result)
            {
                ASSERT_EQ(p.Nodes.Count(), 1u);
                EXPECT_EQ(p.Nodes[0]->NName, "kept");
            }
        }
    // A failed save changes nothing either.
    STexProcessor p;
    p.FileName = "kept.kvf";
    p.Edited = 1;
    EXPECT_EQ(p.SaveDocument(dir.File("none/doc.kvf").c_str()), 0);
    EXPECT_EQ(p.SaveDocument(dir.Path().c_str()), 0);
    EXPECT_EQ(p.FileName, "kept.kvf");
    EXPECT_EQ(p.Edited, 1u);
    EXPECT_EQ(CurrentDocumentPath(), "kept.kvf");
}

TEST_F(TexDocument, TheReaderCopesWithLooseAndDamagedText)
{
    struct Case
    {
        std::string text;
        int result;
        const char* name; // NName of the only node
        float gain;
        s32 fail, id;
        u32 ins;
    };
    const std::string NUL(1, '\0'), V1 = "GKV_File_Version_1\n";
    const Case cases[] = {
        {"GKV_File_Version_2\rNODE STestNode_Pins NName=\"cr\"\r\r", 1, "cr", 0.5f, 0, -1, 1},
        {V2 + "%% ! NODE STestNode_Pins Gain \"1.5\" =\"2\" Fail=\"1\" _ID=\"7\"\n", 1, "<unnamed>", 0.5f, 1, 7, 1},
        {V2 + "NODE STestNode_Pins NName=\"open\n Gain=\"1.5\"\n", 1, "open", 0.5f, 0, -1, 1},
        {V2 + "NODE STestNode_Pins NName=bare Gain= \"1.5\"\n", 1, "bare", 1.5f, 0, -1, 1},
        {V2 + "NODE STestNode_Pins NName=\"a" + NUL + "b\" Gain=\"1.5\"", 1, "a", 1.5f, 0, -1, 1},
        {V1 + "NODE STestNode_Pins NName=x\\ty Gain=1.5 Fail=1\n", 1, "x\\ty", 1.5f, 1, -1, 1},
        {"  \n" + V2 + "JUNK words\tNODE STestNode_Pins Gain=\"2\" Ins=\"2000000000\"", 1, "<unnamed>", 2, 0, -1, 8},
        {V2 + "NODE STestNode_Pins" + NUL + "x\n", 0, "", 0, 0, 0, 0},
    };
    const std::string path = dir.File("loose.kvf");
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        WriteFile(path, c.text);
        STexProcessor p;
        ASSERT_EQ(p.LoadDocument(path.c_str(), 1, 0), c.result);
        if (!c.result)
            continue;
        ASSERT_EQ(p.Nodes.Count(), 1u);
        STestNode_Pins* n = static_cast<STestNode_Pins*>(p.Nodes[0]);
        EXPECT_EQ(std::string(n->NName.Str()), c.name);
        EXPECT_FLOAT_EQ(n->Gain, c.gain);
        EXPECT_EQ(n->Fail, c.fail);
        EXPECT_EQ(n->ID, c.id);
        EXPECT_EQ(n->InParams.Count(), c.ins);
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
    // A cut refuses the text inside the version word, inside a class name (or right after "NODE")
    // and between "LINK" and its last number; what is left of any other cut loads.
    std::vector<std::pair<size_t, size_t>> refused = {{0, strlen(DOC_VERSION_2)}};
    for (size_t at = text.find("NODE "); at != std::string::npos; at = text.find("NODE ", at + 1))
        refused.push_back({at + strlen("NODE"), at + strlen("NODE STestNode_Pins")});
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
        EXPECT_TRUE(result || DocText(p) == before) << n;
    }
}

TEST_F(TexDocument, LinksAreDecidedInDocumentOrderAsLinkingByHandWould)
{
    const std::string node = "NODE STestNode_Pins Ins=\"1\" Outs=\"1\"\n";
    // A chain of LONG nodes, its links as the document writes them from node `from` on.
    const u32 LONG = 200, CHECK_VISITS_PER_ITEM = 4;
    std::vector<std::string> chain;
    for (u32 i = 0; i + 1 < LONG; ++i)
        chain.push_back("LINK " + std::to_string(i) + " 0 " + std::to_string(i + 1) + " 0\n");
    const auto joined = [&](u32 from, bool reversed) {
        std::string text;
        for (u32 i = from; i < chain.size(); ++i)
            text = reversed ? chain[i] + text : text + chain[i];
        return text;
    };
    const std::string backLink = "LINK " + std::to_string(LONG - 1) + " 0 0 0\n";
    const struct
    {
        const char* label;
        std::string links;
        std::string kept; // as the document writes them
        u32 nodes;
    } cases[] = {
        {"listed from the end", "LINK 1 0 2 0\nLINK 0 0 1 0\n", "LINK 0 0 1 0\nLINK 1 0 2 0\n", 3},
        {"a later link into an input replaces", "LINK 0 0 2 0\nLINK 1 0 2 0\n", "LINK 1 0 2 0\n", 3},
        {"the link closing a cycle goes", "LINK 0 0 1 0\nLINK 1 0 2 0\nLINK 2 0 0 0\n",
         "LINK 0 0 1 0\nLINK 1 0 2 0\n", 3},
        {"a refused link replaces nothing", "LINK 0 0 1 0\nLINK 1 0 0 0\nLINK 2 0 1 0\n", "LINK 2 0 1 0\n", 3},
        {"a node into itself", "LINK 1 0 1 0\n", "", 3},
        {"a link named twice", "LINK 0 0 1 0\nLINK 0 0 1 0\n", "LINK 0 0 1 0\n", 3},
        {"a long chain from the end, a link named twice", joined(0, true) + chain[LONG / 2], joined(0, false), LONG},
        {"a long chain from the end after the link closing it", backLink + joined(0, true), joined(1, false) + backLink,
         LONG},
    };
    const std::string path = dir.File("links.kvf");
    for (const auto& c : cases)
    {
        std::string doc = V2;
        for (u32 i = 0; i < c.nodes; ++i)
            doc += node;
        WriteFile(path, doc + c.links);
        STexProcessor p;
        ASSERT_EQ(p.LoadDocument(path.c_str(), 1, 0), 1) << c.label;
        const std::string text = DocText(p);
        EXPECT_EQ(text.substr(std::min(text.find("LINK"), text.size())), c.kept) << c.label;
        // Queued once each, every node after its feeder.
        ASSERT_EQ(p.UpdateList.Count(), c.nodes) << c.label;
        for (u32 i = 0; i < p.UpdateList.Count(); ++i)
            for (const NodePin* feeder : p.UpdateList[i]->InParams[0]->Links)
                EXPECT_LT(p.UpdateList.Find(feeder->Owner), (int)i) << c.label;
        // The cycle checks cost no more than a few visits per node and link, whatever the order.
        STexProcessor q;
        ASSERT_TRUE(ReadDocumentText(q, TString((doc + c.links).c_str()), path.c_str(), 1)) << c.label;
        const u32 links = (u32)std::count(c.links.begin(), c.links.end(), '\n');
        EXPECT_LE(q.ReachVisits, CHECK_VISITS_PER_ITEM * (c.nodes + links)) << c.label;
    }
}
