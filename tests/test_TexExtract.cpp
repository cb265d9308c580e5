// The image autosave node: its file-name template, the checks before writing, and the files it
// writes read back by libpng and by hand against the picture that went in.
#include "GLTestContext.h"
#include "TestNodes.h"
#include "PngFiles.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "GameFileIO.h"
#include "GameImageFile.h"
#include "TexDocPath.h"
#include "TexOps_Basic.h"

namespace
{
typedef std::vector<unsigned char> Bytes;
const u32 PIC_W = 7, PIC_H = 4; // asymmetric, so that a flip or a transposition shows
const int JPG_TOLERANCE = 24;    // per channel, on blocks of flat colour
const int JPG_EDGE_ROWS = 2;
const u32 DDS_MAGIC_SIZE = 4;
const u32 DDS_HEIGHT_OFFSET = 12, DDS_WIDTH_OFFSET = 16, DDS_FOURCC_OFFSET = 84, DDS_DATA_OFFSET = 128;

// A w x h picture, top row first, whose every pixel differs: red from x, green from y.
std::vector<u32> Picture(u32 w, u32 h)
{
    std::vector<u32> px(w * h);
    for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x)
            px[y * w + x] = (x * 30u + 5u) | (y * 60u + 3u) << 8 | ((x * y * 7u) & 0xFFu) << 16 | 0xFFu << 24;
    return px;
}

Bytes ReadAll(const std::string& path)
{
    Bytes b;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return b;
    int c;
    while ((c = fgetc(f)) != EOF)
        b.push_back((unsigned char)c);
    fclose(f);
    return b;
}

u32 Le32(const Bytes& b, u32 at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | (u32)b[at + 3] << 24;
}

bool Exists(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f)
        fclose(f);
    return f != nullptr;
}

STexNode_File* AddFile(STexProcessor& p, const std::string& name)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, STexNode_File::Props());
    FindPropDesc(list, "TexName")->AsString() = name.c_str();
    STexNode_File* node = static_cast<STexNode_File*>(STexNode_File::ClassRecord()->Create(list));
    node->ClassInfo = STexNode_File::ClassRecord();
    p.AddNode(node, 0);
    return node;
}

STexNode_Extract* AddExtract(STexProcessor& p, const std::string& target, const char* tmpl = nullptr, int overwrite = 1)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, STexNode_Extract::Props());
    FindPropDesc(list, "TexName")->AsString() = target.c_str();
    if (tmpl)
        FindPropDesc(list, "ProcStr")->AsString() = tmpl;
    FindPropDesc(list, "Overwrite")->AsInt() = overwrite;
    STexNode_Extract* node = static_cast<STexNode_Extract*>(STexNode_Extract::ClassRecord()->Create(list));
    node->ClassInfo = STexNode_Extract::ClassRecord();
    p.AddNode(node, 0);
    return node;
}

class TexExtractTest : public GLTestFixture
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

TEST(TexExtractTemplate, VariablesExpandOnceFromTheTargetAndTheSecondName)
{
    const struct
    {
        const char* tmpl;
        const char* target;
        const char* second;
        const char* expected;
    } cases[] = {
        {"$(Path)$(Name).$(Ext)", "/out/brick.png", "", "/out/brick.png"},
        {"$(Path)$(Name).$(Ext)", "C:\\out\\a.b.jpg", "", "C:\\out\\a.b.jpg"},
        {"$(Path)$(Name2)_n.$(Ext)", "/out/x.dds", "/in/brick.jpg", "/out/brick_n.dds"},
        {"$(Path2)$(Name)-$(Ext2)", "/o/t.png", "/in/s.tga", "/in/t-tga"},
        {"$(Path)$(Name).$(Ext)", "", "", "."},
        // Too short for the parts: the name holds nothing, the extension what there is.
        {"[$(Path)|$(Name)|$(Ext)]", "/d/ab", "", "[/d/||ab]"},
        {"[$(Name)|$(Ext)]", "/d/.png", "", "[|png]"},
        // Unknown and unclosed forms stay; a value holding a form is not expanded again.
        {"$(Foo)$(Name$(Ext", "/d/q.png", "", "$(Foo)$(Name$(Ext"},
        {"$(Path)$(Name).$(Ext)", "/$(Name2)/a.png", "/x/evil.png", "/$(Name2)/a.png"},
    };
    for (const auto& c : cases)
    {
        const TString got = ExpandExtractTemplate(c.tmpl, ExtractNameParts(c.target), ExtractNameParts(c.second));
        EXPECT_STREQ(got.Str(), c.expected) << c.tmpl << " / " << c.target;
    }
}

TEST_F(TexExtractTest, ChecksRunInOrderAndNameTheFirstFailure)
{
    ASSERT_TRUE(WritePng(dir.File("in.png"), PIC_W, PIC_H, Picture(PIC_W, PIC_H)));
    ASSERT_TRUE(WritePng(dir.File("locked.png"), PIC_W, PIC_H, Picture(PIC_W, PIC_H)));
    ASSERT_EQ(0, chmod(dir.File("locked.png").c_str(), NO_ACCESS_FILE));
    ASSERT_EQ(0, chmod(dir.Path().c_str(), SEARCHABLE_FOLDER));
    const std::string out = dir.File("out.png");
    const std::string noFolder = EXTRACT_SAVE_FAILED + (": \"" + dir.File("none/o.png") + "\" not written: No such file or directory");
    const struct
    {
        const char* label;
        std::string target;
        bool linked;
        bool source;
        const char* tmpl; // null for the default
        int overwrite;
        const char* status; // "" for a written file
        bool ordinaryUser = false;
    } cases[] = {
        {"unlinked", out, false, true, nullptr, 1, "No input found"},
        {"no picture", out, true, false, nullptr, 1, "Null texture found"},
        {"empty target", "", true, true, nullptr, 1, EXTRACT_INVALID_NAME},
        {"short file part", dir.File("png"), true, true, "$(Path)$(Ext)", 1, EXTRACT_INVALID_NAME},
        {"four-letter extension", dir.File("o.jpeg"), true, true, nullptr, 1, EXTRACT_INVALID_EXTENSION},
        {"other type", dir.File("o.bmp"), true, true, nullptr, 1, EXTRACT_INVALID_EXTENSION},
        {"missing folder", dir.File("none/o.png"), true, true, nullptr, 1, noFolder.c_str()},
        {"mixed case", dir.File("o.Png"), true, true, nullptr, 1, ""},
        {"first write", dir.File("keep.png"), true, true, nullptr, 0, ""},
        {"second write", dir.File("keep.png"), true, true, nullptr, 0, EXTRACT_EXISTS},
        {"unreadable file", dir.File("locked.png"), true, true, nullptr, 0, EXTRACT_EXISTS, true},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexNode_File* file = AddFile(p, c.source ? dir.File("in.png") : dir.File("missing.png"));
        STexNode_Extract* node = AddExtract(p, c.target, c.tmpl, c.overwrite);
        if (c.linked)
        {
            ASSERT_TRUE(TestLink(p, file, 0, node, STexNode_Extract::IN_Texture));
        }
        if (c.ordinaryUser)
        {
            EXPECT_EQ(0, RunAsOrdinaryUser([&] { return node->Process() == 0 && node->Status == c.status ? 0 : 1; }))
                << c.label;
            continue;
        }
        const int written = node->Process();
        EXPECT_EQ(written, c.status[0] ? 0 : 1) << c.label;
        EXPECT_STREQ(written ? "" : node->Status.Str(), c.status) << c.label;
        if (!c.status[0])
        {
            EXPECT_TRUE(Exists(c.target)) << c.label;
        }
    }
}

TEST_F(TexExtractTest, WrittenFilesHoldTheInputTheSameWayUp)
{
    const std::vector<u32> px = Picture(PIC_W, PIC_H);
    ASSERT_TRUE(WritePng(dir.File("in.png"), PIC_W, PIC_H, px));
    STexProcessor p;
    STexNode_File* file = AddFile(p, dir.File("in.png"));
    STexNode_Extract* node = AddExtract(p, dir.File("out.png"));
    ASSERT_TRUE(TestLink(p, file, 0, node, STexNode_Extract::IN_Texture));
    ASSERT_EQ(node->Process(), 1) << node->Status.Str();
    u32 w = 0, h = 0;
    EXPECT_EQ(ReadPng(dir.File("out.png"), w, h), px);
    EXPECT_EQ(w, PIC_W);
    EXPECT_EQ(h, PIC_H);
    // The preview shows what came in.
    EXPECT_EQ(node->Output.Get(), file->Output.Get());
}

TEST_F(TexExtractTest, JpgAndDdsFilesFollowTheirFormats)
{
    // Flat blocks as large as the coder's units (red on top, blue below) survive JPG within a
    // tolerance; the DDS coder's colour endpoints of a flat red block are exactly red in 5:6:5.
    const u32 w = 16, h = 32;
    const u32 RED = 0xFF0000FFu, BLUE = 0xFFFF0000u;
    std::vector<u32> px(w * h);
    for (u32 i = 0; i < px.size(); ++i)
        px[i] = i < px.size() / 2 ? RED : BLUE;
    ASSERT_TRUE(WritePng(dir.File("in.png"), w, h, px));
    STexProcessor p;
    STexNode_File* file = AddFile(p, dir.File("in.png"));
    STexNode_Extract* jpg = AddExtract(p, dir.File("out.jpg"));
    STexNode_Extract* dds = AddExtract(p, dir.File("out.dds"));
    ASSERT_TRUE(TestLink(p, file, 0, jpg, 0));
    ASSERT_TRUE(TestLink(p, file, 0, dds, 0));
    ASSERT_EQ(jpg->Process(), 1) << jpg->Status.Str();
    ASSERT_EQ(dds->Process(), 1) << dds->Status.Str();

    SImage2D img;
    ASSERT_EQ(DecodeImageFile(dir.File("out.jpg").c_str(), img), 1);
    ASSERT_EQ(img.Width, w);
    ASSERT_EQ(img.Height, h);
    for (u32 i = 0; i < px.size(); ++i)
        for (u32 c = 0; c < 3; ++c)
        {
            // The decoder's smooth chroma upsampling blends the rows at the edge.
            const int row = (int)(i / w);
            if (row >= (int)h / 2 - JPG_EDGE_ROWS && row < (int)h / 2 + JPG_EDGE_ROWS)
                continue;
            const int got = (int)((img.Pixels.data[i] >> (8 * c)) & 0xFF);
            const int want = (int)((px[i] >> (8 * c)) & 0xFF);
            ASSERT_NEAR(got, want, JPG_TOLERANCE) << "pixel " << i << " channel " << c;
        }

    const Bytes b = ReadAll(dir.File("out.dds"));
    ASSERT_GT(b.size(), (size_t)DDS_DATA_OFFSET + 16);
    EXPECT_EQ(std::string(b.begin(), b.begin() + DDS_MAGIC_SIZE), "DDS ");
    EXPECT_EQ(Le32(b, DDS_WIDTH_OFFSET), w);
    EXPECT_EQ(Le32(b, DDS_HEIGHT_OFFSET), h);
    EXPECT_EQ(std::string(b.begin() + DDS_FOURCC_OFFSET, b.begin() + DDS_FOURCC_OFFSET + 4), "DXT5");
    // First block: opaque alpha endpoints, then after the alpha indices pure red twice.
    const u32 RED_565 = 0xF800;
    EXPECT_EQ(b[DDS_DATA_OFFSET], 0xFF);
    EXPECT_EQ(b[DDS_DATA_OFFSET + 8] | b[DDS_DATA_OFFSET + 9] << 8, RED_565);
}

TEST_F(TexExtractTest, SecondNameComesFromTheFileTheOptionalInputRead)
{
    ASSERT_TRUE(WritePng(dir.File("in.png"), PIC_W, PIC_H, Picture(PIC_W, PIC_H)));
    SImage2D img;
    ASSERT_EQ(DecodeImageFile(dir.File("in.png").c_str(), img), 1);
    SImageSaveOptions options;
    ASSERT_EQ(EncodeImageFile(dir.File("brick.jpg").c_str(), img, options, false), 1);
    const struct
    {
        const char* second; // "" leaves the optional input unlinked
        const char* expected;
    } cases[] = {
        {"brick.jpg", "out/brick_n.png"},
        {"in.png", "out/in_n.png"},
        {"", "out/_n.png"},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexNode_Extract* node = AddExtract(p, dir.File("out/target.png"), "$(Path)$(Name2)_n.$(Ext)");
        if (c.second[0])
        {
            ASSERT_TRUE(TestLink(p, AddFile(p, dir.File(c.second)), 0, node, STexNode_Extract::IN_Name));
        }
        EXPECT_EQ(std::string(node->OutputName().Str()), dir.File(c.expected)) << c.second;
    }
}

// The node menu's "Save texture as..." and the sprite sheet's save write through NodeSaveTexture:
// every type comes out as the Extract node writes it, the way up the picture went in.
TEST_F(TexExtractTest, SavedTexturesOfEveryTypeAreTheWayUpTheyCameIn)
{
    // Quadrants as large as the coders' blocks, each of its own colour.
    const u32 SIDE = 16, HALF = SIDE / 2;
    const u32 QUADRANTS[2][2] = {{0xFF0000FFu, 0xFF00FF00u}, {0xFFFF0000u, 0xFFFFFFFFu}}; // [row][column]
    const int EXACT = 0, DXT_TOLERANCE = 8;
    const struct
    {
        const char* ext;
        int tolerance;
    } cases[] = {
        {"png", EXACT}, {"bmp", EXACT}, {"tga", EXACT}, {"jpg", JPG_TOLERANCE}, {"dds", DXT_TOLERANCE},
    };
    std::vector<u32> px(SIDE * SIDE);
    for (u32 y = 0; y < SIDE; ++y)
        for (u32 x = 0; x < SIDE; ++x)
            px[y * SIDE + x] = QUADRANTS[y / HALF][x / HALF];
    ASSERT_TRUE(WritePng(dir.File("in.png"), SIDE, SIDE, px));
    STexProcessor p;
    STexNode_File* file = AddFile(p, dir.File("in.png"));
    ASSERT_EQ(file->Process(), 1) << file->Status.Str();
    for (const auto& c : cases)
    {
        const std::string path = dir.File((std::string("saved.") + c.ext).c_str());
        TString error;
        ASSERT_EQ(NodeSaveTexture(file, path.c_str(), error), 1) << c.ext << ": " << error.Str();
        SImage2D img;
        ASSERT_EQ(DecodeImageFile(path.c_str(), img), 1) << c.ext;
        ASSERT_EQ(img.Width, SIDE) << c.ext;
        ASSERT_EQ(img.Height, SIDE) << c.ext;
        // The centre of each quadrant, away from the coders' blending at the edges.
        for (u32 qy = 0; qy < 2; ++qy)
            for (u32 qx = 0; qx < 2; ++qx)
            {
                const u32 at = (qy * HALF + HALF / 2) * SIDE + qx * HALF + HALF / 2;
                for (u32 ch = 0; ch < 4; ++ch)
                    EXPECT_NEAR((int)((img.Pixels.data[at] >> (8 * ch)) & 0xFF),
                                (int)((QUADRANTS[qy][qx] >> (8 * ch)) & 0xFF), c.tolerance)
                        << c.ext << " quadrant row " << qy << " column " << qx << " channel " << ch;
            }
    }
}
