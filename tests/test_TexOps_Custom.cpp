// The Custom family: a graph saved as a document and used as one node of another graph, its
// pins, exposed parameters and their text, the status texts, documents that contain themselves,
// document paths, reloads and the node's buttons.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "GameImage.h"
#include "Plumweave.h"
#include "TexDocPath.h"
#include "TexDocument.h"
#include "TexDocumentOutcome.h"
#include "TexNodeRegistry.h"
#include "TexOps_Basic.h"
#include "TexOps_Custom.h"

namespace
{
typedef std::function<void(TArray<SPropDesc>&)> TSetter;
const u32 SIDE = 4;
const int CHANNEL_TOLERANCE = 1;
// Animation channels of the test classes: Affine's "Scale", Pins' "Gain", "Shift[x]" and "Shift[y]".
const s32 AFFINE_SCALE = 2;
const s32 PINS_GAIN = 5;
const s32 PINS_SHIFT_X = 6;
const s32 PINS_SHIFT_Y = 7;
const s32 NO_CHANNEL = 99;

STexProcNode* Add(STexProcessor& p, SClassInfo* info, const char* name, const TSetter& set = nullptr)
{
    return AddClassNode(p, info->Name, [&](TArray<SPropDesc>& l) {
        FindPropDesc(l, "NName")->AsString() = name;
        if (set)
            set(l);
    });
}

TSetter Str(const char* prop, const std::string& value)
{
    return [=](TArray<SPropDesc>& l) { FindPropDesc(l, prop)->AsString() = value.c_str(); };
}

STexProcNode* AddParam(STexProcessor& p, const char* target, s32 channel, const char* label)
{
    return Add(p, STexNode_Param::ClassRecord(), "", [=](TArray<SPropDesc>& l) {
        FindPropDesc(l, "NodeName")->AsString() = target;
        FindPropDesc(l, "PName")->AsString() = label;
        FindPropDesc(l, "Param")->AsInt() = channel;
    });
}

STexProcNode* AddAffine(STexProcessor& p, const char* name, int ins, float scale, const mVec4& bias)
{
    return Add(p, &STestNode_Affine::Info, name, [=](TArray<SPropDesc>& l) {
        FindPropDesc(l, "Ins")->AsInt() = ins;
        FindPropDesc(l, "Size")->AsInt() = (int)SIDE;
        FindPropDesc(l, "Scale")->AsFloat() = scale;
        FindPropDesc(l, "Bias")->AsColRGBA() = bias;
    });
}

STexNode_Proc* AddProc(STexProcessor& p, const std::string& doc)
{
    return static_cast<STexNode_Proc*>(Add(p, STexNode_Proc::ClassRecord(), "proc", Str("KVFName", doc)));
}

std::vector<u32> Pixels(const TextureRef& tex)
{
    SImage2D img;
    if (tex.IsNull() || !TEX_ReadPixels(tex.Get(), img))
        return {};
    return std::vector<u32>(img.Pixels.data, img.Pixels.data + img.Width * img.Height);
}

// A w x h 32-bit TGA, top row first, every pixel of one colour.
bool WriteTga(const std::string& path, u32 w, u32 h, u32 rgba)
{
    std::vector<unsigned char> b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, (unsigned char)w, 0, (unsigned char)h, 0,
                                    32, 0x28};
    for (u32 i = 0; i < w * h; ++i) // blue, green, red, alpha
        b.insert(b.end(), {(unsigned char)(rgba >> 16), (unsigned char)(rgba >> 8), (unsigned char)rgba,
                           (unsigned char)(rgba >> 24)});
    FILE* f = fopen(path.c_str(), "wb");
    bool ok = f && fwrite(b.data(), 1, b.size(), f) == b.size();
    return f && fclose(f) == 0 && ok;
}

class TexCustomTest : public GLTestFixture
{
protected:
    TTempDir dir;
    TString savedDoc;
    TShippedShaders shaders;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        shaders.Begin();
        savedDoc = CurrentDocumentPath();
        SetCurrentDocumentPath(TString());
    }
    void TearDown() override
    {
        SetCurrentDocumentPath(savedDoc);
        shaders.End();
    }

    // Input "src" -> Affine "mid" (scale 1, bias b1) -> Output "res", "mid"'s scale exposed (or
    // what target and channel name), and two sources that share the name "twin" when asked.
    std::string AffineDoc(const mVec4& b1, const char* target = "mid", s32 channel = AFFINE_SCALE, bool twins = false)
    {
        STexProcessor g;
        STexProcNode* in = Add(g, STexNode_Input::ClassRecord(), "src", Str("PName", "image"));
        STexProcNode* mid = AddAffine(g, "mid", 1, 1.0f, b1);
        STexProcNode* out = Add(g, STexNode_Output::ClassRecord(), "res", Str("PName", "result"));
        for (int i = 0; twins && i < 2; ++i)
            AddAffine(g, "twin", 0, 1.0f, b1);
        AddParam(g, target, channel, "Gain");
        TestLink(g, in, 0, mid, 0);
        TestLink(g, mid, 0, out, 0);
        const std::string path = dir.File("affine.kvf");
        EXPECT_TRUE(g.SaveDocument(path.c_str()));
        return path;
    }
};
} // namespace

TEST_F(TexCustomTest, WrappedGraphGivesThePixelsOfTheSameGraphProcessedDirectly)
{
    const mVec4 b0(0.2f, 0.4f, 0.1f, 0.5f), b1(0.1f, 0.0f, 0.3f, 0.25f);
    STexProcessor outer;
    STexProcNode* src = AddAffine(outer, "a", 0, 1.0f, b0);
    STexNode_Proc* proc = AddProc(outer, AffineDoc(b1));
    ASSERT_EQ(proc->InParams.Count(), 1u);
    ASSERT_EQ(proc->OutParams.Count(), 1u);
    ASSERT_EQ(proc->Params.Count(), 1u);
    EXPECT_STREQ(proc->Params[0].Label.Str(), "Gain");
    TestLink(outer, src, 0, proc, 0);
    for (float scale : {0.5f, 1.0f, 2.0f, -0.5f})
    {
        proc->Params[0].Value.Float = scale;
        outer.ProcessAll();
        EXPECT_TRUE(proc->Status.IsEmpty()) << proc->Status.Str();
        STexProcessor direct;
        STexProcNode* s2 = AddAffine(direct, "a", 0, 1.0f, b0);
        STexProcNode* m2 = AddAffine(direct, "m", 1, scale, b1);
        TestLink(direct, s2, 0, m2, 0);
        direct.ProcessAll();
        const std::vector<u32> wrapped = Pixels(proc->GetOutput(0));
        ASSERT_EQ(wrapped.size(), SIDE * SIDE) << scale;
        EXPECT_EQ(wrapped, Pixels(m2->Output)) << scale;
        for (int c = 0; c < 4; ++c)
        {
            const float v = std::min(1.0f, std::max(0.0f, (&b1.x)[c] + scale * (&b0.x)[c]));
            EXPECT_NEAR((int)((wrapped[0] >> (8 * c)) & 0xFF), std::lround(v * 255.0f), CHANNEL_TOLERANCE) << scale;
        }
        // Only the inner Output node keeps a texture.
        for (STexProcNode* node : proc->Inner.Nodes)
            EXPECT_EQ(node->Output.IsNull(), node->ClassInfo != STexNode_Output::ClassRecord()) << node->NName.Str();
    }
}

TEST_F(TexCustomTest, EachFailureOfProcessingNamesItsCause)
{
    const std::string doc = AffineDoc(mVec4(0, 0, 0, 0));
    const struct
    {
        const char* name;
        std::string path;
        std::function<void(STexNode_Proc*)> change;
        const char* status;
    } cases[] = {
        {"no document", dir.File("missing.kvf"), nullptr, PROC_NOT_LOADED},
        {"two targets", doc, [](STexNode_Proc* p) { p->Inner.FindNodeByName("src")->NName = "mid"; },
         PROC_NAME_AMBIGUOUS},
        {"no target", doc, [](STexNode_Proc* p) { p->Inner.FindNodeByName("mid")->NName = "gone"; },
         PROC_NODE_NOT_FOUND},
        {"no property", doc, [](STexNode_Proc* p) { p->Params[0].Property = "Nope"; }, PROC_PARAM_NOT_FOUND},
        {"identifier", doc, [](STexNode_Proc* p) { p->Params[0].Property = "_ID"; }, PROC_PARAM_UNSUPPORTED},
        {"fine", doc, nullptr, ""},
    };
    for (const auto& c : cases)
    {
        STexProcessor outer;
        STexProcNode* src = AddAffine(outer, "a", 0, 1.0f, mVec4(1, 1, 1, 1));
        STexNode_Proc* proc = AddProc(outer, c.path);
        if (!proc->InParams.IsEmpty())
            TestLink(outer, src, 0, proc, 0);
        if (c.change)
            c.change(proc);
        outer.ProcessAll();
        EXPECT_STREQ(proc->Status.Str(), c.status) << c.name;
    }
}

// A batch run or a job judges the file-writing nodes inside sub-graphs as well as its own: a
// failed one inside, however deep, is a failed run.
TEST_F(TexCustomTest, FailedFileWritingNodesInsideSubGraphsFailTheRun)
{
    const char* const writers[] = {"STestNode_Pins", nullptr};
    for (const int fail : {0, 1})
    {
        STexProcessor innermost;
        Add(innermost, &STestNode_Pins::Info, "writer", [=](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", 0);
            TestSetInt(l, "Fail", fail);
        });
        const std::string innermostDoc = dir.File("writer.kvf");
        ASSERT_TRUE(innermost.SaveDocument(innermostDoc.c_str()));
        STexProcessor middle;
        AddProc(middle, innermostDoc);
        const std::string middleDoc = dir.File("middle.kvf");
        ASSERT_TRUE(middle.SaveDocument(middleDoc.c_str()));
        STexProcessor outer;
        AddProc(outer, middleDoc);
        outer.ProcessAll();
        testing::internal::CaptureStderr();
        const int code = BatchExitCode(1, outer, writers);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(code, fail ? BATCH_EXIT_OUTPUT_FAILED : 0);
        EXPECT_EQ(said.find("proc > proc > 0 (STestNode_Pins, \"writer\") failed") != std::string::npos, fail == 1)
            << said;
    }
}

TEST_F(TexCustomTest, PinsFollowLinkedInnerNodesAndAReloadDropsTheOldOnes)
{
    // Two Input nodes of which one is linked, two linked Output nodes and one unlinked.
    STexProcessor big;
    STexProcNode* in1 = Add(big, STexNode_Input::ClassRecord(), "i1");
    Add(big, STexNode_Input::ClassRecord(), "i2");
    STexProcNode* gen = AddAffine(big, "g", 0, 1.0f, mVec4(0.5f, 0.5f, 0.5f, 1));
    STexProcNode* oa = Add(big, STexNode_Output::ClassRecord(), "oa");
    STexProcNode* ob = Add(big, STexNode_Output::ClassRecord(), "ob");
    Add(big, STexNode_Output::ClassRecord(), "oc");
    TestLink(big, in1, 0, oa, 0);
    TestLink(big, gen, 0, ob, 0);
    ASSERT_TRUE(big.SaveDocument(dir.File("big.kvf").c_str()));
    const std::string small = AffineDoc(mVec4(0, 0, 0, 0));

    STexProcessor outer;
    STexProcNode* src = AddAffine(outer, "a", 0, 1.0f, mVec4(1, 0, 0, 1));
    STexNode_Proc* proc = AddProc(outer, dir.File("big.kvf"));
    STestNode_Pins* sink = AddPinsNode(outer, 1, 1);
    ASSERT_EQ(proc->InParams.Count(), 1u);
    ASSERT_EQ(proc->OutParams.Count(), 2u);
    TestLink(outer, src, 0, proc, 0);
    TestLink(outer, proc, 1, sink, 0);
    outer.ProcessAll();
    EXPECT_FALSE(proc->GetOutput(1).IsNull());

    ASSERT_TRUE(proc->Load(TString(small.c_str())));
    EXPECT_EQ(proc->OutParams.Count(), 1u);
    EXPECT_TRUE(sink->InParams[0]->Links.IsEmpty());
    EXPECT_TRUE(src->OutParams[0]->Links.IsEmpty());
    EXPECT_TRUE(proc->InParams[0]->Links.IsEmpty());
    outer.ProcessAll();
    EXPECT_STREQ(sink->Status.Str(), GNodeStatusTexts[NS_NoInput]);

    // A document that cannot be read changes nothing.
    EXPECT_FALSE(proc->Load(TString(dir.File("missing.kvf").c_str())));
    EXPECT_STREQ(proc->KVFName.Str(), small.c_str());
    EXPECT_EQ(proc->Params.Count(), 1u);
}

TEST_F(TexCustomTest, ParameterNodesAimedAtNothingProcessableExposeNothing)
{
    const struct
    {
        const char* target;
        s32 channel;
        u32 exposed;
    } cases[] = {
        {"mid", AFFINE_SCALE, 1}, {"res", 0, 0}, {"src", 0, 0}, {"mid", NO_CHANNEL, 0}, {"mid", -1, 0},
        {"nobody", 0, 0},         {"twin", 0, 0},
    };
    for (const auto& c : cases)
    {
        STexProcessor outer;
        STexProcNode* src = AddAffine(outer, "a", 0, 1.0f, mVec4(1, 1, 1, 1));
        STexNode_Proc* proc = AddProc(outer, AffineDoc(mVec4(0, 0, 0, 0), c.target, c.channel, true));
        ASSERT_EQ(proc->Params.Count(), c.exposed) << c.target << " " << c.channel;
        TestLink(outer, src, 0, proc, 0);
        // Twice: the inner nodes that the lists point at must survive processing.
        outer.ProcessAll();
        outer.ProcessAll();
        EXPECT_TRUE(proc->Status.IsEmpty()) << c.target;
        EXPECT_FALSE(proc->GetOutput(0).IsNull()) << c.target;
    }
}

TEST_F(TexCustomTest, ExposedValuesReachTheirComponentAndSurviveTheDocument)
{
    STexProcessor g;
    Add(g, &STestNode_Pins::Info, "p", [](TArray<SPropDesc>& l) {
        TestSetInt(l, "Ins", 0);
        FindPropDesc(l, "Shift")->AsVec2() = mVec2(3, -4);
    });
    AddParam(g, "p", PINS_SHIFT_X, "sx");
    AddParam(g, "p", PINS_SHIFT_Y, "sy");
    AddParam(g, "p", PINS_GAIN, "gain");
    ASSERT_TRUE(g.SaveDocument(dir.File("vec.kvf").c_str()));
    const std::string outerDoc = dir.File("outer.kvf");
    {
        STexProcessor outer;
        STexNode_Proc* proc = AddProc(outer, dir.File("vec.kvf"));
        ASSERT_EQ(proc->Params.Count(), 3u);
        // The records start from the inner node's current values.
        EXPECT_EQ(proc->Params[0].Value.Float, 3.0f);
        EXPECT_EQ(proc->Params[1].Value.Float, -4.0f);
        EXPECT_STREQ(proc->Params[1].Display.Str(), "Shift[y]");
        proc->Params[1].Value.Float = -7.0f;
        outer.ProcessAll();
        const STestNode_Pins* p = static_cast<STestNode_Pins*>(proc->Inner.FindNodeByName("p"));
        EXPECT_EQ(p->Shift.x, 3.0f);
        EXPECT_EQ(p->Shift.y, -7.0f);
        proc->Params[0].Value.Float = 5.0f;
        proc->Params[2].Value.Float = 1.5f;
        ASSERT_TRUE(outer.SaveDocument(outerDoc.c_str()));
    }
    STexProcessor back;
    ASSERT_TRUE(back.LoadDocument(outerDoc.c_str(), 1, 0));
    STexNode_Proc* proc = static_cast<STexNode_Proc*>(back.FindNodeByName("proc"));
    ASSERT_EQ(proc->Params.Count(), 3u);
    EXPECT_EQ(proc->Params[0].Value.Float, 5.0f);
    EXPECT_EQ(proc->Params[1].Value.Float, -7.0f);
    EXPECT_EQ(proc->Params[2].Value.Float, 1.5f);
    {
        // Without its document the node keeps the stored values for the next save.
        ASSERT_EQ(rename(dir.File("vec.kvf").c_str(), dir.File("gone.kvf").c_str()), 0);
        STexProcessor lost;
        ASSERT_TRUE(lost.LoadDocument(outerDoc.c_str(), 1, 0));
        TArray<SPropDesc> list;
        InstantiatePropTable(list, STexNode_Proc::Props());
        lost.FindNodeByName("proc")->StoreParams(list);
        EXPECT_STREQ(FindPropDesc(list, "ParamData")->AsString().Str(), proc->ParamText().Str());
    }

    // Reading goes pair by pair to the end or the first broken pair.
    const struct
    {
        const char* text;
        float x, y, gain;
    } cases[] = {
        {"\"Shift\" \"8\" \"Shift\" \"9\" ", 8, 9, 1.5f},
        {"\"Gain\" \"0.25\" \"Shift\" \"8", 5, -7, 0.25f},
        {"\"Shift\" \"1\" \"Gain\"", 1, -7, 1.5f},
        {"\"Other\" \"1\" \"Shift\" \"2\"", 2, -7, 1.5f},
        {"", 5, -7, 1.5f},
    };
    for (const auto& c : cases)
    {
        proc->Params[0].Value.Float = 5, proc->Params[1].Value.Float = -7, proc->Params[2].Value.Float = 1.5f;
        proc->ApplyParamText(TString(c.text));
        EXPECT_EQ(proc->Params[0].Value.Float, c.x) << c.text;
        EXPECT_EQ(proc->Params[1].Value.Float, c.y) << c.text;
        EXPECT_EQ(proc->Params[2].Value.Float, c.gain) << c.text;
    }
    // Bytes without a quote carry no pair.
    std::mt19937 random(7);
    for (int round = 0; round < 64; ++round)
    {
        std::string junk(random() % 200, ' ');
        for (char& ch : junk)
            while ((ch = (char)random()) == '"')
                ;
        proc->ApplyParamText(TString(junk.c_str()));
        EXPECT_EQ(proc->Params[1].Value.Float, -7.0f);
    }
}

TEST_F(TexCustomTest, DocumentsContainingThemselvesStopLoadingAndReportIt)
{
    const u32 DEEP = PROC_MAX_NESTING + 4;
    const struct
    {
        const char* name;
        u32 docs;
        bool cycle;      // the last document points back at the first
        u32 loadedLevels; // Processor nodes with their document loaded, outermost first
    } cases[] = {
        {"itself", 1, true, 1},
        {"through another", 2, true, 2},
        {"too deep", DEEP, false, PROC_MAX_NESTING},
    };
    for (const auto& c : cases)
    {
        auto name = [&](u32 i) { return dir.File(("d" + std::to_string(i) + ".kvf").c_str()); };
        for (u32 i = c.docs; i-- > 0;)
        {
            STexProcessor g;
            const u32 next = i + 1 < c.docs ? i + 1 : 0;
            if (i + 1 < c.docs || c.cycle)
            {
                // Written by hand: constructing the node would load the document it names.
                std::string text = "GKV_File_Version_2\nNODE STexNode_Proc NName=\"proc\" KVFName=\"" + name(next) +
                                   "\"\n";
                FILE* f = fopen(name(i).c_str(), "wb");
                ASSERT_TRUE(f);
                fputs(text.c_str(), f);
                fclose(f);
            }
            else
                ASSERT_TRUE(g.SaveDocument(name(i).c_str()));
        }
        STexProcessor outer;
        ASSERT_TRUE(outer.LoadDocument(name(0).c_str(), 1, 1)) << c.name;
        u32 levels = 0;
        STexNode_Proc* deepest = nullptr;
        for (STexProcNode* n = outer.FindNodeByName("proc"); n; n = deepest->Inner.FindNodeByName("proc"))
        {
            deepest = static_cast<STexNode_Proc*>(n);
            if (deepest->Inner.FileName.IsEmpty())
                break;
            ++levels;
        }
        EXPECT_EQ(levels, c.loadedLevels) << c.name;
        ASSERT_NE(deepest, nullptr);
        EXPECT_STREQ(deepest->Status.Str(), PROC_NOT_LOADED) << c.name;
    }
}

TEST_F(TexCustomTest, InnerAndOuterNodesReadFilesBesideTheirOwnDocuments)
{
    const u32 RED = 0xFF0000FFu, GREEN = 0xFF00FF00u;
    TTempDir inner, outerDir;
    ASSERT_TRUE(WriteTga(inner.File("pic.tga"), SIDE, SIDE, GREEN));
    ASSERT_TRUE(WriteTga(outerDir.File("pic.tga"), SIDE, SIDE, RED));
    const std::string innerDoc = inner.File("inner.kvf"), outerDoc = outerDir.File("outer.kvf");
    {
        STexProcessor g;
        STexProcNode* file = Add(g, STexNode_File::ClassRecord(), "f", Str("TexName", inner.File("pic.tga")));
        STexProcNode* out = Add(g, STexNode_Output::ClassRecord(), "o");
        TestLink(g, file, 0, out, 0);
        ASSERT_TRUE(g.SaveDocument(innerDoc.c_str()));
        STexProcessor o;
        AddProc(o, innerDoc);
        Add(o, STexNode_File::ClassRecord(), "f", Str("TexName", outerDir.File("pic.tga")));
        ASSERT_TRUE(o.SaveDocument(outerDoc.c_str()));
    }
    STexProcessor outer;
    ASSERT_TRUE(outer.LoadDocument(outerDoc.c_str(), 1, 1));
    EXPECT_STREQ(CurrentDocumentPath().Str(), outerDoc.c_str());
    STexNode_Proc* proc = static_cast<STexNode_Proc*>(outer.FindNodeByName("proc"));
    const STexProcNode* file = outer.FindNodeByName("f");
    ASSERT_TRUE(proc && file);
    for (int round = 0; round < 2; ++round)
    {
        EXPECT_EQ(Pixels(proc->GetOutput(0)), std::vector<u32>(SIDE * SIDE, GREEN)) << round;
        EXPECT_EQ(Pixels(file->Output), std::vector<u32>(SIDE * SIDE, RED)) << round;
        outer.ProcessAll();
        EXPECT_STREQ(CurrentDocumentPath().Str(), outerDoc.c_str());
    }
}

namespace
{
std::vector<std::string> GDialogAnswers;
int ScriptedDialog(const char*, const char* filter, TString& out, int)
{
    EXPECT_STREQ(filter, PROC_FILE_FILTER);
    if (GDialogAnswers.empty())
        return 0;
    out = GDialogAnswers.front().c_str();
    GDialogAnswers.erase(GDialogAnswers.begin());
    return out.IsEmpty() ? 0 : 1;
}

// One press and release of the left button at the centre of a rectangle, the canvas drawn each tick.
void Click(STexProcessor& p, const mRect& r)
{
    const float DT = 0.01f;
    for (bool down : {false, true, false})
    {
        GUITest_Tick((r.x0 + r.x1) * 0.5f, (r.y0 + r.y1) * 0.5f, down);
        SGUILayer::DrawTree(&p, DT);
    }
}
} // namespace

TEST_F(TexCustomTest, LoadButtonTakesTheChosenDocumentAndVisualizeShowsTheOutputs)
{
    const std::string doc = AffineDoc(mVec4(0, 0, 0, 0));
    STexProcessor p;
    STexNode_Proc* proc = AddProc(p, "");
    const TNodeFileDialog saved = GNodeFileDialog;
    GNodeFileDialog = &ScriptedDialog;
    p.AnchorRight = p.AnchorBottom = 1;
    p.UpdateRect();
    proc->SetPosition(200, 100);
    for (int i = 0; i < 10; ++i)
        Click(p, mRect{0, 0, 1, 1});
    const mRect panel{proc->Rect.x0 + NODE_PIN_MARGIN, proc->Rect.y0 + NODE_CAPTION_HEIGHT,
                      proc->Rect.x1 - NODE_PIN_MARGIN, proc->Rect.y1};
    const struct
    {
        std::string answer; // empty cancels
        std::string kvf;
        u32 pins;
    } cases[] = {
        {"", "", 0},
        {dir.File("missing.kvf"), "", 0},
        {doc, doc, 1},
        {"", doc, 1},
    };
    for (const auto& c : cases)
    {
        GDialogAnswers = {c.answer};
        Click(p, NodeRow(panel, 0));
        EXPECT_STREQ(proc->KVFName.Str(), c.kvf.c_str()) << c.answer;
        EXPECT_EQ(proc->OutParams.Count(), c.pins) << c.answer;
    }
    p.ProcessAll();
    for (s32 show : {1, 0})
    {
        Click(p, NodeRowField(panel, 1));
        EXPECT_EQ(proc->ShowOutputs, show);
        EXPECT_EQ(proc->PreviewShown, (u32)show);
    }
    // The preview of a processed document without outputs shows nothing.
    STexProcessor empty;
    ASSERT_TRUE(empty.SaveDocument(dir.File("empty.kvf").c_str()));
    ASSERT_TRUE(proc->Load(TString(dir.File("empty.kvf").c_str())));
    proc->ShowOutputs = 1;
    p.ProcessAll();
    Click(p, panel);
    EXPECT_EQ(proc->PreviewShown, 1u);
    GNodeFileDialog = saved;
    GUITest_ResetInput();
}

TEST_F(TexCustomTest, ParameterButtonNamesTheStoredChannelOnlyWithinTheList)
{
    STexProcessor p;
    AddPinsNode(p, 0, 1)->NName = "p";
    AddAffine(p, "twin", 0, 1.0f, mVec4(0, 0, 0, 0));
    AddAffine(p, "twin", 0, 1.0f, mVec4(0, 0, 0, 0));
    Add(p, STexNode_Output::ClassRecord(), "out");
    STexNode_Param* param = static_cast<STexNode_Param*>(AddParam(p, "p", 0, "x"));
    p.ProcessAll();
    // The test pins node: six scalars, "Shift" (two channels) and "Tint" (four).
    const u32 PINS_CHANNELS = 12;
    ASSERT_EQ(param->Channels.Count(), PINS_CHANNELS);
    const struct
    {
        s32 stored;
        const char* shown;
    } cases[] = {{0, "Ins"}, {PINS_SHIFT_Y, "Shift[y]"}, {(s32)PINS_CHANNELS, ""}, {-1, ""}, {NO_CHANNEL, ""}};
    for (const auto& c : cases)
    {
        param->Param = c.stored;
        EXPECT_STREQ(param->ChannelText(), c.shown) << c.stored;
    }
    // Several or no nodes of the name keep the list; a node of this family empties it.
    const struct
    {
        const char* target;
        u32 channels;
    } targets[] = {{"twin", PINS_CHANNELS}, {"nobody", PINS_CHANNELS}, {"out", 0}};
    for (const auto& t : targets)
    {
        param->NodeName = t.target;
        param->RefreshChannels();
        EXPECT_EQ(param->Channels.Count(), t.channels) << t.target;
        EXPECT_EQ(param->ChannelTexts.Count(), t.channels) << t.target;
    }
}

namespace
{
// Documents d0 .. d<levels> in dir: each but the last holds perLevel Processor nodes on the next.
std::string WriteFanOut(const TTempDir& dir, u32 levels, u32 perLevel)
{
    auto name = [&](u32 i) { return dir.File(("fan" + std::to_string(i) + ".kvf").c_str()); };
    for (u32 i = 0; i <= levels; ++i)
    {
        std::string text = "GKV_File_Version_2\n";
        for (u32 k = 0; i < levels && k < perLevel; ++k)
            text += "NODE STexNode_Proc KVFName=\"" + name(i + 1) + "\"\n";
        FILE* f = fopen(name(i).c_str(), "wb");
        if (!f)
            return "";
        fputs(text.c_str(), f);
        fclose(f);
    }
    return name(0);
}
} // namespace

TEST_F(TexCustomTest, OneLoadBringsInABoundedNumberOfInnerDocuments)
{
    const u32 PER_LEVEL = 4;
    const struct
    {
        const char* label;
        u32 levels; // inner documents: PER_LEVEL + PER_LEVEL^2 + ... + PER_LEVEL^levels
        int loads;
    } cases[] = {
        {"1,364 inner documents", 5, 1},
        {"21,844 inner documents", 7, 0},
    };
    const TString overBudget = DocumentBudgetText(DOC_TooManyDocuments);
    for (const auto& c : cases)
    {
        const std::string top = WriteFanOut(dir, c.levels, PER_LEVEL);
        ASSERT_FALSE(top.empty());
        // A refused load leaves the graph as it was.
        STexProcessor outer;
        AddAffine(outer, "kept", 0, 1.0f, mVec4(0, 0, 0, 0));
        EXPECT_EQ(outer.LoadDocument(top.c_str(), 1, 1), c.loads) << c.label;
        EXPECT_EQ(outer.Nodes.Count(), c.loads ? PER_LEVEL : 1u) << c.label;
        // Loaded into a Processor node, the refusal is the node's status.
        STexProcessor g;
        STexNode_Proc* proc = static_cast<STexNode_Proc*>(Add(g, STexNode_Proc::ClassRecord(), "proc"));
        EXPECT_EQ(proc->Load(TString(top.c_str())), c.loads) << c.label;
        g.ProcessAll();
        EXPECT_STREQ(proc->Status.Str(), c.loads ? "" : overBudget.Str()) << c.label;
    }
}
