// The node classes: registration from the ordered list, parameters that survive storing and
// re-creating, the documented assertions of foreign lists, the input checks of processing, the
// family menus, and the file node's loading, relative names and failures.
#include "GLTestContext.h"
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "GameFileIO.h"
#include "GameImage.h"
#include "GameShader.h"
#include "TexDocPath.h"
#include "TexDocument.h"
#include "TexNodeRegistry.h"
#include "TexOps_Basic.h"

namespace
{
typedef std::vector<unsigned char> Bytes;

STexProcNode* CreateFromList(STexProcessor& p, SClassInfo* info, TArray<SPropDesc>& list)
{
    STexProcNode* node = dynamic_cast<STexProcNode*>(info->Create(list));
    if (node)
        p.AddNode(node, 0);
    return node;
}

STexNode_File* AddFileNode(STexProcessor& p, const std::string& name, int relative = 1)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, STexNode_File::Props());
    FindPropDesc(list, "TexName")->AsString() = name.c_str();
    FindPropDesc(list, "RelKVF")->AsInt() = relative;
    return static_cast<STexNode_File*>(CreateFromList(p, STexNode_File::ClassRecord(), list));
}

// A w x h picture whose every pixel differs: red from x, green from y, blue from both.
std::vector<u32> Picture(u32 w, u32 h)
{
    std::vector<u32> px(w * h);
    for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x)
            px[y * w + x] = (x * 40u) | (y * 50u) << 8 | ((x + y) * 20u) << 16 | 0xFFu << 24;
    return px;
}

// An RGBA8 PNG of the picture (top row first) written with libpng.
bool WritePng(const std::string& path, u32 w, u32 h, const std::vector<u32>& px)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (u32 y = 0; y < h; ++y)
    {
        std::vector<unsigned char> row(w * 4);
        for (u32 x = 0; x < w; ++x)
            for (u32 c = 0; c < 4; ++c)
                row[x * 4 + c] = (unsigned char)(px[y * w + x] >> (8 * c));
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return true;
}

void Put32(Bytes& b, u32 v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back((unsigned char)(v >> (8 * i)));
}

// A 32-bit BMP of the picture, made by hand with the top row first (negative height).
Bytes Bmp(u32 w, u32 h, const std::vector<u32>& px)
{
    const u32 HEADER = 14 + 40;
    Bytes b = {'B', 'M'};
    Put32(b, HEADER + w * h * 4);
    Put32(b, 0);
    Put32(b, HEADER);
    Put32(b, 40);
    Put32(b, w);
    Put32(b, (u32)-(s32)h);
    b.push_back(1), b.push_back(0), b.push_back(32), b.push_back(0);
    for (int i = 0; i < 6; ++i)
        Put32(b, 0);
    for (u32 p : px) // blue, green, red, alpha
        b.push_back((unsigned char)(p >> 16)), b.push_back((unsigned char)(p >> 8)), b.push_back((unsigned char)p),
            b.push_back((unsigned char)(p >> 24));
    return b;
}

bool WriteBytes(const std::string& path, const Bytes& b)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
    return fclose(f) == 0 && ok;
}

// The output texture's pixels, top row first.
std::vector<u32> ReadBack(STexProcNode* node)
{
    SImage2D img;
    if (node->Output.IsNull() || !TEX_ReadPixels(node->Output.Get(), img))
        return {};
    return std::vector<u32>(img.Pixels.data, img.Pixels.data + img.Width * img.Height);
}

class TexNodeClassTest : public GLTestFixture
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
};
} // namespace

// ---------------------------------------------------------------------------------------------
// Registration and parameters

TEST(TexNodeClasses, EveryListedClassResolvesByNameAndTheRegistryHoldsThemNewestFirst)
{
    ASSERT_GT(TexNodeClassCount(), 0u);
    std::vector<SClassInfo*> listed;
    for (u32 i = 0; i < TexNodeClassCount(); ++i)
    {
        SClassInfo* info = TexNodeClassRecord(i);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(FindClassInfo(info->Name), info) << info->Name;
        EXPECT_EQ(std::string(info->Name).rfind("STexNode_", 0), 0u) << info->Name;
        listed.push_back(info);
    }
    // The registry, newest first, holds the listed classes as one run in reverse list order.
    std::vector<SClassInfo*> seen;
    for (SClassInfo* p = GClassInfoList.Head; p; p = p->Next)
        for (SClassInfo* l : listed)
            if (l == p)
                seen.insert(seen.begin(), p);
    EXPECT_EQ(seen, listed);
    EXPECT_EQ(TexNodeClassRecord(TexNodeClassCount()), nullptr);
}

TEST_F(TexNodeClassTest, StoringAndRecreatingEveryClassGivesTheSameParameters)
{
    // A document of one node of every class reads back into the same text.
    STexProcessor all;
    for (u32 i = 0; i < TexNodeClassCount(); ++i)
        EXPECT_NE(all.CreateNode(TexNodeClassRecord(i)->Name), nullptr) << TexNodeClassRecord(i)->Name;
    TString written, reread;
    ASSERT_TRUE(DocumentText(all, written));
    STexProcessor back;
    ASSERT_TRUE(ReadDocumentText(back, written, "all.kvf", 0));
    ASSERT_TRUE(DocumentText(back, reread));
    EXPECT_STREQ(reread.Str(), written.Str());
}

TEST(TexNodeParams, ForeignListsReportTheDocumentedAssertionsAndReadAsFallbacks)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, STexNode_File::Props()); // 1: a string, 2: an int 0..1
    struct SCase
    {
        const char* what;
        std::function<bool(FNodeParams&)> read; // true when the fallback came back
        const char* assertion;
    };
    const SCase cases[] = {
        {"int from a string", [](FNodeParams& f) { return f.Int(1, -7) == -7; }, "Type != EVT_Int"},
        {"float from an int", [](FNodeParams& f) { return f.Float(2, 2.5f) == 2.5f; }, "Type != EVT_Float"},
        {"vector from an int", [](FNodeParams& f) { return f.Vec2(2).x == 0.0f; }, "Type != EVT_Vec2"},
        {"string from an int", [](FNodeParams& f) { return f.String(2).IsEmpty(); },
         "Type < EVT_String || Type > EVT_Mesh"},
        {"past the end", [](FNodeParams& f) { return f.Int(9, 4) == 4; }, "at >= count"},
    };
    for (const SCase& c : cases)
    {
        TExpectBreak expect(c.assertion);
        FNodeParams f(list);
        EXPECT_TRUE(c.read(f)) << c.what;
    }
    TArray<SPropDesc> flat; // a list without its base entry
    flat.Add(SPropDesc(EVT_Int, "x"));
    TExpectBreak expect("Type != EVT_InheritInst");
    FNodeParams f(flat);
    EXPECT_EQ(f.Base(), nullptr);
}

TEST(TexNodeParams, NumbersFromADocumentAreHeldInTheirRange)
{
    const struct
    {
        s32 stored;
        s32 read;
    } ints[] = {{-5, 0}, {0, 0}, {1, 1}, {7, 1}, {INT32_MIN, 0}, {INT32_MAX, 1}};
    TArray<SPropDesc> list;
    InstantiatePropTable(list, STexNode_File::Props());
    for (const auto& c : ints)
    {
        FindPropDesc(list, "RelKVF")->AsInt() = c.stored;
        EXPECT_EQ(FNodeParams(list).IntClamped(2), c.read) << c.stored;
    }
    FindPropDesc(list, "RelKVF")->Type = EVT_Float; // not an int: the fallback, with the assertion
    TExpectBreak expect("Type != EVT_Int");
    EXPECT_EQ(FNodeParams(list).IntClamped(2, 1), 1);
}

// ---------------------------------------------------------------------------------------------
// Processing

TEST_F(TexNodeClassTest, InputChecksNameTheFirstMissingThing)
{
    struct SCase
    {
        const char* what;
        int ins, optional;            // inputs of the checked node, the first optional one
        int linkSize;                 // size of the source's output; -1: no link; -2: a texture without GL name
        int zeroSize;                 // the source's texture claims no texels
        const char* status;           // expected status; null for success
    };
    const SCase cases[] = {
        {"no inputs at all", 0, 8, -1, 0, "No input found"},
        {"required input unlinked", 1, 8, -1, 0, "No input found"},
        {"optional input unlinked", 1, 0, -1, 0, nullptr},
        {"source without output", 1, 8, 0, 0, "Null texture found"},
        {"source record without GL name", 1, 8, -2, 0, "Null texture found"},
        {"source texture of no size", 1, 8, 4, 1, "Null texture found"},
        {"source with a texture", 1, 8, 4, 0, nullptr},
    };
    for (const SCase& c : cases)
    {
        STexProcessor p;
        STestNode_Pins* node = AddTestNode<STestNode_Pins>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", c.ins);
            TestSetInt(l, "Optional", c.optional);
        });
        if (c.linkSize != -1)
        {
            STestNode_Pins* src = AddPinsNode(p, 0, 1, c.linkSize > 0 ? c.linkSize : 0);
            ASSERT_TRUE(TestLink(p, src, 0, node, 0));
            if (c.linkSize > 0)
            {
                ASSERT_TRUE(src->CreateOutputTarget((u32)c.linkSize, (u32)c.linkSize, TEXFMT_RGBA8));
            }
            if (c.linkSize == -2)
                TEX_Create(src->Output, 0, 0, 1, 1, TEXFMT_RGBA8, nullptr, 0);
            if (c.zeroSize)
                src->Output->Width = 0;
        }
        TArray<TextureRef> inputs;
        node->Status = "";
        const int ok = NodeGatherInputs(*node, inputs);
        EXPECT_EQ(ok, c.status ? 0 : 1) << c.what;
        EXPECT_EQ(std::string(node->Status.Str()), c.status ? c.status : "") << c.what;
        if (ok)
        {
            EXPECT_EQ(inputs.Count(), (u32)c.ins) << c.what;
        }
    }
}

// Nodes with two required inputs: input 0 linked to a node that failed and input 1 unlinked is a
// missing input, for every link is checked before any texture.
TEST_F(TexNodeClassTest, AnUnlinkedInputIsToldBeforeALinkedOneWithoutTexture)
{
    const char* const classes[] = {"STexNode_Blend",   "STexNode_ChanBlend", "STexNode_ColorLUT2D",
                                   "STexNode_UnsharpMask", "STexNode_Distort", "STexNode_PartRender",
                                   "STexNode_SelRange", "STexNode_Mod"};
    for (const char* cls : classes)
    {
        STexProcessor p;
        STexProcNode* node = AddClassNode(p, cls);
        ASSERT_NE(node, nullptr) << cls;
        // A source that holds no output, as a node whose processing failed.
        STestNode_Pins* failed = AddPinsNode(p, 0, 1, 0);
        ASSERT_TRUE(TestLink(p, failed, 0, node, 0)) << cls;
        EXPECT_EQ(node->Process(), 0) << cls;
        EXPECT_STREQ(node->Status.Str(), "No input found") << cls;
    }
}

TEST_F(TexNodeClassTest, SinglePassDrawsTheProgramOverTheWholeTarget)
{
    const u32 w = 4, h = 3;
    const std::vector<u32> px = Picture(w, h);
    ASSERT_TRUE(WritePng(dir.File("in.png"), w, h, px));
    STexProcessor p;
    STexNode_File* file = AddFileNode(p, dir.File("in.png"));
    STestNode_Pins* node = AddPinsNode(p, 1, 1);
    ASSERT_TRUE(TestLink(p, file, 0, node, 0));
    const float scale = 0.5f;
    const float bias[4] = {0.25f, 0.0f, 0.125f, 0.0f};
    TArray<TString> defines;
    ASSERT_EQ(NodeSinglePass(*node, w, h, TEXFMT_RGBA8, TEST_AFFINE_SHADER, defines, [&](SShader* sp) {
                  SetUniformInt(sp, "InputCount", 1);
                  SetUniformFloat(sp, "Scale", scale);
                  SetUniformVec4(sp, "Bias", bias);
              }),
              1);
    const std::vector<u32> out = ReadBack(node);
    ASSERT_EQ(out.size(), px.size());
    for (size_t i = 0; i < px.size(); ++i)
        for (u32 c = 0; c < 4; ++c)
        {
            const float in = (float)((px[i] >> (8 * c)) & 0xFF) / 255.0f;
            const float expected = std::min(1.0f, bias[c] + scale * in) * 255.0f;
            EXPECT_NEAR((float)((out[i] >> (8 * c)) & 0xFF), expected, 1.0f) << i << " channel " << c;
        }
}

// ---------------------------------------------------------------------------------------------
// Family menus

TEST_F(TexNodeClassTest, FamilyMenusCountedItemsMapToTheirClassesAndNothingElseCreatesANode)
{
    const SNodeMenuItem items[] = {
        {"--$Title$", nullptr},
        {"$STexNode_File$", "STexNode_File"},
        {"--$Other$", nullptr},
        {"[Disabled] $Later$", "STexNode_File"},
        {"Plain label", "STexNode_File"},
    };
    STexProcessor p;
    STNFamilyMenu menu(&p, items, 5);
    const struct
    {
        int index;
        bool creates;
    } cases[] = {{-1, false}, {0, true}, {1, false}, {2, true}, {3, false}, {100, false}};
    for (const auto& c : cases)
    {
        const u32 before = p.Nodes.Count();
        menu.OnSelect(c.index);
        EXPECT_EQ(p.Nodes.Count(), before + (c.creates ? 1u : 0u)) << c.index;
        if (c.creates)
        {
            EXPECT_STREQ(p.Nodes[before]->ClassInfo->Name, "STexNode_File");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// File node

TEST_F(TexNodeClassTest, FileNodeShowsThePictureAsDecodedByTheReferenceLibrary)
{
    const u32 w = 5, h = 3;
    const std::vector<u32> px = Picture(w, h);
    ASSERT_TRUE(WritePng(dir.File("p.png"), w, h, px));
    ASSERT_TRUE(WriteBytes(dir.File("b.bmp"), Bmp(w, h, px)));
    for (const char* name : {"p.png", "b.bmp"})
    {
        STexProcessor p;
        STexNode_File* node = AddFileNode(p, dir.File(name));
        EXPECT_EQ(node->Process(), 1) << name;
        EXPECT_EQ(node->Output->Width, w);
        EXPECT_EQ(node->Output->Height, h);
        EXPECT_EQ(ReadBack(node), px) << name;
    }
}

TEST_F(TexNodeClassTest, FileNodeFindsImagesBesideTheDocumentWhereverTheFolderMoves)
{
    const std::vector<u32> px = Picture(2, 2);
    const std::string a = dir.File("a"), b = dir.File("b");
    ASSERT_EQ(mkdir(a.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((a + "/img").c_str(), 0755), 0);
    ASSERT_TRUE(WritePng(a + "/img/x.png", 2, 2, px));
    ASSERT_EQ(rename(a.c_str(), b.c_str()), 0); // the document's folder moved after the save

    struct SCase
    {
        const char* what;
        std::string doc;      // current document path
        std::string name;     // stored name
        int relative;
        bool loads;
        std::string stored;   // what a save into doc's folder writes
    };
    const std::string abs = b + "/img/x.png";
    const SCase cases[] = {
        {"relative name beside the moved document", b + "/d.kvf", "img/x.png", 1, true, "img/x.png"},
        {"backslash separators", b + "/d.kvf", "img\\x.png", 1, true, "img/x.png"},
        {"absolute name stored relative", b + "/d.kvf", abs, 1, true, "img/x.png"},
        {"absolute name kept without relative", b + "/d.kvf", abs, 0, true, abs},
        {"no document: name used as it is", "", abs, 1, true, abs},
        {"relative name that never loaded is kept", b + "/d.kvf", "img/none.png", 1, false, "img/none.png"},
        {"relative name without relative loading", b + "/d.kvf", "img/x.png", 0, false, "img/x.png"},
    };
    for (const SCase& c : cases)
    {
        SetCurrentDocumentPath(c.doc.c_str());
        STexProcessor p;
        STexNode_File* node = AddFileNode(p, c.name, c.relative);
        EXPECT_EQ(node->Process(), c.loads ? 1 : 0) << c.what;
        EXPECT_EQ(std::string(node->StoredName().Str()), c.stored) << c.what;
    }
    // Saved into a folder below: the loaded path is written from there, whole components at a time.
    SetCurrentDocumentPath((b + "/d.kvf").c_str());
    STexProcessor p;
    STexNode_File* node = AddFileNode(p, "img/x.png");
    SetCurrentDocumentPath((b + "/img2/sub/e.kvf").c_str());
    EXPECT_STREQ(node->StoredName().Str(), "../../img/x.png");
}

namespace
{
std::vector<std::string> GNodeDialogAnswers;
int NodeDialog(const char*, const char*, TString& out, int)
{
    if (GNodeDialogAnswers.empty())
        return 0;
    out = GNodeDialogAnswers.front().c_str();
    GNodeDialogAnswers.erase(GNodeDialogAnswers.begin());
    return out.IsEmpty() ? 0 : 1;
}

const float DT = 0.01f;

// One press and release of the left button at the centre of a panel row, the canvas drawn in
// each tick.
void ClickRow(STexProcessor& p, const mRect& row)
{
    const float x = (row.x0 + row.x1) * 0.5f, y = (row.y0 + row.y1) * 0.5f;
    for (bool down : {false, true, false})
    {
        GUITest_Tick(x, y, down);
        SGUILayer::DrawTree(&p, DT);
    }
}
} // namespace

TEST_F(TexNodeClassTest, LoadTextureButtonTakesTheChosenFileAndRelativeKeepsTheImage)
{
    const std::vector<u32> px = Picture(3, 2);
    ASSERT_TRUE(WritePng(dir.File("first.png"), 3, 2, px));
    ASSERT_TRUE(WritePng(dir.File("second.png"), 2, 3, px));
    STexProcessor p;
    STexNode_File* node = AddFileNode(p, dir.File("first.png"));
    GNodeFileDialog = &NodeDialog;
    // The canvas covers the window.
    p.AnchorRight = p.AnchorBottom = 1;
    p.UpdateRect();
    node->SetPosition(200, 100);
    // Until the box has faded in.
    for (int i = 0; i < 100; ++i)
    {
        GUITest_Tick(0, 0, false);
        SGUILayer::DrawTree(&p, DT);
    }
    // The panel inside the node's box, between the pin margins below the caption (the canvas is
    // neither panned nor zoomed: canvas units are pixels).
    const mRect panel{node->Rect.x0 + NODE_PIN_MARGIN, node->Rect.y0 + NODE_CAPTION_HEIGHT,
                      node->Rect.x1 - NODE_PIN_MARGIN, node->Rect.y1};
    const struct
    {
        const char* answer; // "" cancels
        std::string name;
        u32 width;
    } cases[] = {
        {"", dir.File("first.png"), 3},
        {"second.png", dir.File("second.png"), 2},
        {"missing.png", dir.File("missing.png"), 0},
    };
    for (const auto& c : cases)
    {
        GNodeDialogAnswers = {c.answer[0] ? dir.File(c.answer) : std::string()};
        p.UpdateList.Clear();
        ClickRow(p, NodeRow(panel, 0));
        EXPECT_STREQ(node->TexName.Str(), c.name.c_str()) << c.answer;
        EXPECT_EQ(node->Output.IsNull() ? 0u : node->Output->Width, c.width) << c.answer;
        EXPECT_EQ(p.UpdateList.Count(), c.answer[0] ? 1u : 0u) << c.answer;
    }
    GNodeDialogAnswers = {dir.File("first.png")};
    ClickRow(p, NodeRow(panel, 0));
    const STexture* shown = node->Output.Get();
    for (s32 relative : {0, 1})
    {
        ClickRow(p, NodeRowField(panel, 1));
        EXPECT_EQ(node->RelKVF, relative);
        EXPECT_EQ(node->Output.Get(), shown);
    }
    GNodeFileDialog = &FileOpenDialog;
    GUITest_ResetInput();
}

TEST_F(TexNodeClassTest, MissingOrCorruptImagesLeaveStatusTextsDownstream)
{
    ASSERT_TRUE(WriteBytes(dir.File("bad.bmp"), Bytes{'B', 'M', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    ASSERT_TRUE(WriteBytes(dir.File("bad.png"), Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 1}));
    for (const char* name : {"", "missing.png", "bad.bmp", "bad.png"})
    {
        STexProcessor p;
        STexNode_File* file = AddFileNode(p, name[0] ? dir.File(name) : std::string());
        STestNode_Affine* next = AddTestNode<STestNode_Affine>(p, [](TArray<SPropDesc>& l) { TestSetInt(l, "Ins", 1); });
        ASSERT_TRUE(TestLink(p, file, 0, next, 0));
        p.ProcessAll();
        EXPECT_STREQ(file->Status.Str(), "Image is not loaded") << name;
        EXPECT_STREQ(next->Status.Str(), "Null texture found") << name;
        EXPECT_TRUE(file->LoadedPath.IsEmpty()) << name;
    }
}
