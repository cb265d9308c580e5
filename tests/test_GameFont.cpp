// Bitmap fonts: descriptor parsing and text layout against hand-computed positions (no GL),
// then drawing the shipped debug font on the off-screen context.
#include "ProcessSupport.h"
#include "TestSupport.h"

#include "GameConsole.h"

#include <math.h>
#include <stdio.h>

#include "GameFont.h"

// Line height 10, so pixel metrics divided by 10 are the normalised ones. 'A' and 'B' advance 6,
// the blank 4, 'C' 5 with no offset.
static const char* GTestFont = "info face=\"Test\" size=10\n"
                               "common lineHeight=10 base=8 scaleW=100 scaleH=50 pages=1\n"
                               "page id=0 file=\"test_0.png\"\n"
                               "chars count=4\n"
                               "char id=65 x=10 y=20 width=5 height=8 xoffset=1 yoffset=2 xadvance=6 page=0 chnl=15\n"
                               "char id=66 x=20 y=20 width=5 height=8 xoffset=1 yoffset=2 xadvance=6 page=0 chnl=15\n"
                               "char id=32 x=0 y=0 width=0 height=0 xoffset=0 yoffset=8 xadvance=4 page=0 chnl=15\n"
                               "char id=67 x=30 y=20 width=5 height=10 xoffset=0 yoffset=0 xadvance=5 page=0 chnl=15\n";

class GameFontLayout : public testing::Test
{
protected:
    SFont font;
    TPodArray<SFontQuad> quads;
    void SetUp() override { ASSERT_TRUE(font.ParseDescriptor(TString(GTestFont), "Fonts/")); }
    int Layout(const char* text, u32 flags, float x0, float y0, float x1, float y1, float size)
    {
        return font.LayoutText(text, 0, flags, x0, y0, x1, y1, size, quads);
    }
};

TEST_F(GameFontLayout, MetricsAreNormalisedAtLoad)
{
    const SFontGlyph* a = font.FindGlyph('A');
    ASSERT_NE(a, nullptr);
    EXPECT_FLOAT_EQ(a->S0, 0.10f);
    EXPECT_FLOAT_EQ(a->T0, 0.40f);
    EXPECT_FLOAT_EQ(a->S1, 0.15f);
    EXPECT_FLOAT_EQ(a->T1, 0.56f);
    EXPECT_FLOAT_EQ(a->XOffset, 0.1f);
    EXPECT_FLOAT_EQ(a->YOffset, 0.2f);
    EXPECT_FLOAT_EQ(a->Width, 0.5f);
    EXPECT_FLOAT_EQ(a->Height, 0.8f);
    EXPECT_FLOAT_EQ(a->XAdvance, 0.6f);
    ASSERT_EQ(font.PageFiles.Count(), 1u);
    EXPECT_STREQ(font.PageFiles[0].Str(), "Fonts/test_0.png");

    EXPECT_FLOAT_EQ(font.GetCharWidth(12.0f, 'A'), 7.2f);
    EXPECT_FLOAT_EQ(font.GetCharWidth(12.0f, 'Z'), 0.0f);
    EXPECT_FLOAT_EQ(font.GetCharWidth(12.0f, (char)0xC1), 0.0f); // bytes above 127 reach no glyph
    EXPECT_FLOAT_EQ(font.GetTextWidth(10.0f, "AB CA", 1, 3), 6.0f + 4.0f + 5.0f);
    EXPECT_FLOAT_EQ(font.GetTextWidth(10.0f, "AB", 1, 100), 6.0f);
    TExpectBreak expected("beg > tlen");
    EXPECT_FLOAT_EQ(font.GetTextWidth(10.0f, "AB", 3, 1), 0.0f);
}

TEST_F(GameFontLayout, QuadsSitAtPenPlusOffsets)
{
    EXPECT_EQ(Layout("AB", 0, 100, 50, 400, 300, 20), 1);
    ASSERT_EQ(quads.Count(), 2u);
    // 'A' at the pen 100: x 100 + 0.1*20 .. 100 + 0.6*20, y 50 + 0.2*20 .. 50 + 1.0*20
    EXPECT_FLOAT_EQ(quads[0].X0, 102.0f);
    EXPECT_FLOAT_EQ(quads[0].X1, 112.0f);
    EXPECT_FLOAT_EQ(quads[0].Y0, 54.0f);
    EXPECT_FLOAT_EQ(quads[0].Y1, 70.0f);
    EXPECT_FLOAT_EQ(quads[0].S0, 0.10f);
    EXPECT_FLOAT_EQ(quads[0].T1, 0.56f);
    // 'B' one advance (12) further, with its own texture rectangle.
    EXPECT_FLOAT_EQ(quads[1].X0, 114.0f);
    EXPECT_FLOAT_EQ(quads[1].S0, 0.20f);
    EXPECT_EQ(quads[1].Page, 0u);
}

TEST_F(GameFontLayout, RectangleHeightLimitsTheLines)
{
    // 30 pixels at size 12 hold 2 lines; the third is dropped.
    EXPECT_EQ(Layout("A\nB\nC", 0, 0, 0, 200, 30, 12), 2);
    ASSERT_EQ(quads.Count(), 2u);
    EXPECT_FLOAT_EQ(quads[0].Y0, 0.2f * 12);
    EXPECT_FLOAT_EQ(quads[1].Y0, 12 + 0.2f * 12);
    EXPECT_FLOAT_EQ(quads[1].X0, 0.1f * 12); // the new line starts at the left again

    // Single-line flag: everything after the first line end is dropped.
    EXPECT_EQ(Layout("A\nB", TEXT_SingleLine, 0, 0, 200, 100, 12), 1);
    EXPECT_EQ(quads.Count(), 1u);

    // Too low for one line: with word wrap nothing is drawn, otherwise one line is.
    EXPECT_EQ(Layout("AB", TEXT_WordWrap, 0, 0, 200, 5, 12), 0);
    EXPECT_EQ(quads.Count(), 0u);
    EXPECT_EQ(Layout("AB", 0, 0, 0, 200, 5, 12), 1);
    EXPECT_EQ(quads.Count(), 2u);
}

TEST_F(GameFontLayout, WordWrapMovesWholeWordsAndBreakWordsSplitsThem)
{
    // Size 10: 'A' 6, blank 4. "AAA AAA" is 40 wide; the rectangle 35.
    EXPECT_EQ(Layout("AAA AAA", TEXT_WordWrap, 0, 0, 35, 100, 10), 2);
    ASSERT_EQ(quads.Count(), 6u);
    for (u32 i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(quads[i].Y0, 2.0f) << i;
    EXPECT_FLOAT_EQ(quads[3].X0, 1.0f);
    EXPECT_FLOAT_EQ(quads[3].Y0, 12.0f);

    // Character breaking: A A A blank A A fit (34), the last A goes to the next line.
    EXPECT_EQ(Layout("AAA AAA", TEXT_BreakWords, 0, 0, 35, 100, 10), 2);
    ASSERT_EQ(quads.Count(), 6u);
    EXPECT_FLOAT_EQ(quads[4].Y0, 2.0f);
    EXPECT_FLOAT_EQ(quads[4].X0, 29.0f);
    EXPECT_FLOAT_EQ(quads[5].X0, 1.0f);
    EXPECT_FLOAT_EQ(quads[5].Y0, 12.0f);

    // A word wider than the rectangle stays on its line with word wrap...
    EXPECT_EQ(Layout("AAAAAAAAAA", TEXT_WordWrap, 0, 0, 35, 100, 10), 1);
    ASSERT_EQ(quads.Count(), 10u);
    EXPECT_FLOAT_EQ(quads[9].Y0, 2.0f);
    EXPECT_FLOAT_EQ(quads[9].X0, 55.0f);
    // ...and is broken at the right edge with character breaking (5 of 6 fit in 35).
    EXPECT_EQ(Layout("AAAAAAAAAA", TEXT_BreakWords, 0, 0, 35, 100, 10), 2);
    ASSERT_EQ(quads.Count(), 10u);
    EXPECT_FLOAT_EQ(quads[4].Y0, 2.0f);
    EXPECT_FLOAT_EQ(quads[5].Y0, 12.0f);
    EXPECT_FLOAT_EQ(quads[5].X0, 1.0f);

    // Without either flag the line overflows.
    EXPECT_EQ(Layout("AAA AAA", 0, 0, 0, 35, 100, 10), 1);
    EXPECT_FLOAT_EQ(quads[5].X0, 35.0f);

    // A blank that causes a break is dropped: "AAAAA" fills 30, the blank would reach 34 > 33.
    EXPECT_EQ(Layout("AAAAA B", TEXT_BreakWords, 0, 0, 33, 100, 10), 2);
    ASSERT_EQ(quads.Count(), 6u);
    EXPECT_FLOAT_EQ(quads[5].X0, 1.0f);
}

TEST_F(GameFontLayout, AlignmentAndCentring)
{
    // One line 50 wide (five 'C' at size 20) centred in 100 x 40 starts at x0 + 25, y0 + 10.
    EXPECT_EQ(Layout("CCCCC", TEXT_CenterH | TEXT_CenterV, 10, 20, 110, 60, 20), 1);
    ASSERT_EQ(quads.Count(), 5u);
    EXPECT_FLOAT_EQ(quads[0].X0, 35.0f);
    EXPECT_FLOAT_EQ(quads[0].Y0, 30.0f);

    // Right and bottom: two lines, the second 5 wide, in 100 x 40 at size 10.
    EXPECT_EQ(Layout("CC\nC", TEXT_AlignRight | TEXT_AlignBottom, 0, 0, 100, 40, 10), 2);
    ASSERT_EQ(quads.Count(), 3u);
    EXPECT_FLOAT_EQ(quads[0].X0, 90.0f);
    EXPECT_FLOAT_EQ(quads[0].Y0, 20.0f);
    EXPECT_FLOAT_EQ(quads[2].X0, 95.0f);
    EXPECT_FLOAT_EQ(quads[2].Y0, 30.0f);
}

TEST_F(GameFontLayout, DegenerateInputsDrawNothing)
{
    EXPECT_EQ(Layout("AB", 0, 0, 0, 100, 100, 0), 0);
    EXPECT_EQ(quads.Count(), 0u);
    EXPECT_EQ(Layout("AB", 0, 0, 0, 100, 100, -3), 0);
    EXPECT_EQ(quads.Count(), 0u);
    // A length beyond the terminator stops at the terminator.
    EXPECT_EQ(font.LayoutText("AB", 50, 0, 0, 0, 100, 100, 10, quads), 1);
    EXPECT_EQ(quads.Count(), 2u);
    // A given length shorter than the text is honoured.
    EXPECT_EQ(font.LayoutText("ABAB", 3, 0, 0, 0, 100, 100, 10, quads), 1);
    EXPECT_EQ(quads.Count(), 3u);

    SFont empty;
    EXPECT_EQ(empty.LayoutText("AB", 0, 0, 0, 0, 100, 100, 10, quads), -1);
    EXPECT_EQ(empty.DrawText("AB", 0, mVec4(1, 1, 1, 1), 0, 0, 0, 100, 100, 10), -1);
}

TEST_F(GameFontLayout, LongTextsGrowTheWorkBuffer)
{
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "AB C\n";
    const int lines = font.LayoutText(text.c_str(), 0, 0, 0, 0, 1000, 1e6f, 1.0f, quads);
    EXPECT_EQ(lines, 5001); // the final line break opens an empty last line
    EXPECT_EQ(quads.Count(), 15000u);
    EXPECT_EQ(font.GetLineCount(text.c_str(), 0, 0, 1000, 1.0f), 5001);
    // Line count for a console-like width: "AAA AAA" at size 10 in 35 pixels with word wrap.
    EXPECT_EQ(font.GetLineCount("AAA AAA", 0, TEXT_WordWrap, 35, 10), 2);
}

TEST(GameFontDescriptor, RepeatedIdsReplaceAndBadPagesAreIgnored)
{
    SFont font;
    const char* text = "common lineHeight=20 base=16 scaleW=64 scaleH=64 pages=1\r\n"
                       "page id=0 file=\"a.png\"\r\n"
                       "page id=3 file=\"b.png\"\r\n"
                       "char id=65 x=0 y=0 width=4 height=4 xoffset=0 yoffset=0 xadvance=10 page=0 chnl=0\r\n"
                       "char id=65 x=8 y=0 width=4 height=4 xoffset=0 yoffset=0 xadvance=4 page=0 chnl=0\r\n"
                       "char id=66 x=8 y=0 width=4 height=4 xoffset=0 yoffset=0 xadvance=4 page=3 chnl=0\r\n";
    ASSERT_TRUE(font.ParseDescriptor(TString(text), ""));
    ASSERT_NE(font.FindGlyph('A'), nullptr);
    EXPECT_FLOAT_EQ(font.FindGlyph('A')->XAdvance, 0.2f);
    EXPECT_FLOAT_EQ(font.FindGlyph('A')->S0, 0.125f);
    EXPECT_EQ(font.FindGlyph('B'), nullptr); // its page is outside the declared count
    EXPECT_EQ(font.PageFiles.Count(), 1u);
    EXPECT_STREQ(font.PageFiles[0].Str(), "a.png");
}

TEST(GameFontDescriptor, ZeroSizesAreRefused)
{
    const char* bad[] = {
        "common lineHeight=0 base=8 scaleW=100 scaleH=50 pages=1\nchar id=65 xadvance=6\n",
        "common lineHeight=10 base=8 scaleW=0 scaleH=50 pages=1\nchar id=65 xadvance=6\n",
        "common lineHeight=10 base=8 scaleW=100 scaleH=0 pages=1\nchar id=65 xadvance=6\n",
        "char id=65 xadvance=6\n",
    };
    for (const char* t : bad)
    {
        SFont font;
        EXPECT_FALSE(font.ParseDescriptor(TString(t), "")) << t;
        EXPECT_EQ(font.FindGlyph('A'), nullptr) << t;
    }
}

// ---------------------------------------------------------------------------------------------
// The shipped debug font on the off-screen context

#include <GL/glew.h>
#include <png.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "GLTestContext.h"
#include "GameFileIO.h"
#include "GameMaterial.h"

namespace
{
struct SFntChar
{
    int x, y, w, h, xoff, yoff, adv;
};

// The descriptor read by the test itself: line height and the "char" lines.
bool ReadFnt(const std::string& path, int& lineHeight, std::map<int, SFntChar>& chars)
{
    std::ifstream f(path);
    if (!f)
        return false;
    std::string line;
    lineHeight = 0;
    while (std::getline(f, line))
    {
        if (line.rfind("common ", 0) == 0)
            sscanf(strstr(line.c_str(), "lineHeight="), "lineHeight=%d", &lineHeight);
        int id;
        SFntChar c;
        if (sscanf(line.c_str(), "char id=%d x=%d y=%d width=%d height=%d xoffset=%d yoffset=%d xadvance=%d", &id, &c.x,
                   &c.y, &c.w, &c.h, &c.xoff, &c.yoff, &c.adv) == 8)
            chars[id] = c;
    }
    return lineHeight > 0;
}
// The empty margin every character rectangle takes in (the "padding" of the info line).
int ReadFntPadding(const std::string& path)
{
    std::ifstream f(path);
    std::string line;
    int top = 0;
    while (std::getline(f, line))
        if (line.rfind("info ", 0) == 0 && strstr(line.c_str(), "padding="))
            sscanf(strstr(line.c_str(), "padding="), "padding=%d", &top);
    return top;
}
} // namespace

TEST(GameFontData, DebugFontCoversPrintableAsciiWithPaddedGlyphs)
{
    int lineHeight = 0;
    std::map<int, SFntChar> chars;
    ASSERT_TRUE(ReadFnt(PW_BIN_DIR "/RERudu/Data/Engine/DebugFont.fnt", lineHeight, chars));
    for (int c = 32; c <= 126; ++c)
        EXPECT_TRUE(chars.count(c)) << c;
    // Every glyph keeps at least 4 texels from every other one, for the mip levels.
    for (auto& a : chars)
        for (auto& b : chars)
        {
            if (a.first >= b.first || a.second.w == 0 || b.second.w == 0)
                continue;
            const SFntChar& p = a.second;
            const SFntChar& q = b.second;
            const bool apart = p.x + p.w + 4 <= q.x || q.x + q.w + 4 <= p.x || p.y + p.h + 4 <= q.y || q.y + q.h + 4 <= p.y;
            EXPECT_TRUE(apart) << a.first << " and " << b.first;
        }
    // The engine reads it the same way.
    SFont font;
    TString text;
    ASSERT_TRUE(ReadTextFile(PW_BIN_DIR "/RERudu/Data/Engine/DebugFont.fnt", text));
    ASSERT_TRUE(font.ParseDescriptor(text, ""));
    EXPECT_FLOAT_EQ(font.GetCharWidth((float)lineHeight, 'W'), (float)chars['W'].adv);
    // A character it lacks (A acute here) shows as its '?', one character wide.
    TPodArray<SFontQuad> quads;
    ASSERT_EQ(font.LayoutText("\xC3\x81W", 0, TEXT_SingleLine, 0, 0, 1000, 100, (float)lineHeight, quads), 1);
    ASSERT_EQ(quads.Count(), 2u);
    EXPECT_EQ(quads[0].S0, font.FindGlyph('?')->S0);
    EXPECT_EQ(quads[1].X0, (float)(chars['?'].adv + chars['W'].xoff));
    // The licence notice travels with the font.
    std::ifstream licence(PW_BIN_DIR "/RERudu/Data/Engine/DejaVuSansMono.LICENSE.txt");
    std::stringstream ss;
    ss << licence.rdbuf();
    EXPECT_NE(ss.str().find("Bitstream"), std::string::npos);
}

TEST(GameFontData, GeneratorReproducesTheCommittedDescriptor)
{
    TTempDir dir;
    TProgramGuard generator(StartHeadless(PW_BIN_DIR "/plumweave_fontgen",
                                          {"/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf", dir.Path(),
                                           "DebugFont", "27", "512", "256", "4"},
                                          dir.Path(), OUTPUT_DROPPED));
    int status = -1;
    ASSERT_TRUE(generator.Wait(GENERATOR_SECONDS, status));
    ASSERT_EQ(status, 0);
    std::ifstream made(dir.File("DebugFont.fnt")), committed(PW_BIN_DIR "/RERudu/Data/Engine/DebugFont.fnt");
    std::stringstream a, b;
    a << made.rdbuf();
    b << committed.rdbuf();
    EXPECT_FALSE(a.str().empty());
    EXPECT_EQ(a.str(), b.str());
}

class FontGL : public testing::Test
{
protected:
    TShippedShaders shaders;
    GLuint fbo = 0, tex = 0;
    enum { W = 256, H = 64 };

    void SetUp() override
    {
        ASSERT_TRUE(GLTest_Init());
        shaders.Begin();
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        fbo = GLTest_MakeTarget(W, H, GL_RGBA8, GL_UNSIGNED_BYTE, tex);
    }
    void TearDown() override
    {
        GLTest_FreeTarget(fbo, tex);
        SetBlendState(0);
        shaders.End();
    }
};

TEST_F(FontGL, DebugFontDrawsHelloInsideItsBox)
{
    int lineHeight = 0;
    std::map<int, SFntChar> chars;
    ASSERT_TRUE(ReadFnt(PW_BIN_DIR "/RERudu/Data/Engine/DebugFont.fnt", lineHeight, chars));

    SFont font;
    ASSERT_TRUE(font.Load("Data/Engine/DebugFont.fnt"));
    ASSERT_EQ(font.Pages.Count(), 1u);
    ASSERT_FALSE(font.Pages[0].IsNull());
    ASSERT_NE(font.Pages[0]->GLName, 0u);

    GViewMatrix = mMat4();
    GProjectionMatrix = M_OrthoMatrix(0, W, 0, H, -1, 1);
    SShader* sp = GetShader("GUI");
    SetRasterState(RASTER_NoCull);
    UseShader(BLEND_AlphaGUI, sp);
    R_UploadViewMatrix(sp);
    R_UploadProjectionMatrix(sp);
    // At size = line height one descriptor pixel is one screen pixel.
    const float x0 = 20, y0 = 10;
    EXPECT_EQ(font.DrawText("Hello", 0, mVec4(1, 1, 1, 1), 0, x0, y0, W, H, (float)lineHeight), 0);
    EXPECT_TRUE(font.BatchVertices.IsEmpty());
    EXPECT_TRUE(font.BatchTexture.IsNull());

    std::vector<u8> px(W * H * 4);
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    // The box of each letter from the descriptor, in screen pixels from the top.
    const char* word = "Hello";
    float pen = x0;
    int boxL = 10000, boxR = -1, boxT = 10000, boxB = -1;
    std::vector<int> letterInk(5, 0);
    std::vector<int> letterL(5), letterR(5), letterT(5), letterB(5);
    for (int i = 0; i < 5; ++i)
    {
        const SFntChar& c = chars[(int)word[i]];
        letterL[i] = (int)(pen + c.xoff);
        letterR[i] = (int)(pen + c.xoff + c.w);
        letterT[i] = (int)(y0 + c.yoff);
        letterB[i] = (int)(y0 + c.yoff + c.h);
        boxL = std::min(boxL, letterL[i]);
        boxR = std::max(boxR, letterR[i]);
        boxT = std::min(boxT, letterT[i]);
        boxB = std::max(boxB, letterB[i]);
        pen += c.adv;
    }
    int inkL = 10000, inkR = -1, inkT = 10000, inkB = -1;
    for (int row = 0; row < H; ++row)
        for (int x = 0; x < W; ++x)
        {
            const u8* p = &px[(row * W + x) * 4];
            if (p[0] < 64)
                continue;
            const int y = H - 1 - row; // from the top
            inkL = std::min(inkL, x);
            inkR = std::max(inkR, x);
            inkT = std::min(inkT, y);
            inkB = std::max(inkB, y);
            for (int i = 0; i < 5; ++i)
                if (x >= letterL[i] && x < letterR[i] && y >= letterT[i] && y < letterB[i])
                    ++letterInk[i];
        }
    ASSERT_GE(inkR, 0) << "nothing was drawn";
    EXPECT_GE(inkL, boxL - 1);
    EXPECT_LE(inkR, boxR);
    EXPECT_GE(inkT, boxT - 1);
    EXPECT_LE(inkB, boxB);
    // The ink fills the box: its edges are within two pixels of the glyph boxes less their margin.
    const int pad = ReadFntPadding(PW_BIN_DIR "/RERudu/Data/Engine/DebugFont.fnt");
    EXPECT_LE(inkL, boxL + pad + 2);
    EXPECT_GE(inkR, boxR - pad - 3);
    EXPECT_LE(inkT, boxT + pad + 2);
    EXPECT_GE(inkB, boxB - pad - 3);
    for (int i = 0; i < 5; ++i)
        EXPECT_GT(letterInk[i], 10) << word[i];
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);

    // At one texel per pixel every drawn pixel is the page's coverage: white over transparent
    // black through the GUI blend leaves red = alpha. The page is decoded here by libpng itself.
    png_image image;
    memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, PW_BIN_DIR "/RERudu/Data/Engine/DebugFont_0.png"));
    image.format = PNG_FORMAT_RGBA;
    std::vector<u8> page(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, page.data(), 0, nullptr));
    pen = x0;
    for (int i = 0; i < 5; ++i)
    {
        const SFntChar& c = chars[(int)word[i]];
        int worst = 0;
        for (int j = 0; j < c.h; ++j)
            for (int k = 0; k < c.w; ++k)
            {
                const int sx = (int)pen + c.xoff + k;
                const int sy = (int)y0 + c.yoff + j;
                const int drawn = px[((H - 1 - sy) * W + sx) * 4];
                const int coverage = page[((c.y + j) * image.width + c.x + k) * 4 + 3];
                worst = std::max(worst, std::abs(drawn - coverage));
            }
        EXPECT_LE(worst, 2) << word[i];
        pen += c.adv;
    }
}

// Thin glyphs (the underscore is two texels tall) still leave ink at the console's small size.
TEST_F(FontGL, ThinGlyphsShowAtSmallSizes)
{
    SFont font;
    ASSERT_TRUE(font.Load("Data/Engine/DebugFont.fnt"));
    GViewMatrix = mMat4();
    GProjectionMatrix = M_OrthoMatrix(0, W, 0, H, -1, 1);
    SShader* sp = GetShader("GUI");
    SetRasterState(RASTER_NoCull);
    UseShader(BLEND_AlphaGUI, sp);
    R_UploadViewMatrix(sp);
    R_UploadProjectionMatrix(sp);
    // Whole and fractional line positions: a glyph quad thinner than a pixel misses every pixel
    // centre at some of them.
    for (float size : {12.0f, 14.0f, 16.0f})
        for (float top : {0.0f, 1.0f, 2.5f, 5.7f})
        {
            glClear(GL_COLOR_BUFFER_BIT);
            EXPECT_EQ(font.DrawText("____", 0, mVec4(1, 1, 1, 1), 0, 3.0f, top, W, H, size), 0);
            std::vector<u8> px(W * H * 4);
            glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
            int ink = 0;
            for (size_t i = 0; i < px.size(); i += 4)
                if (px[i] > 40)
                    ++ink;
            EXPECT_GE(ink, 8) << "size " << size << " top " << top;
        }
}

TEST_F(FontGL, StatisticsOverlayDrawsShadowedLines)
{
    SFont font;
    ASSERT_TRUE(font.Load("Data/Engine/DebugFont.fnt"));
    GViewMatrix = mMat4();
    GProjectionMatrix = M_OrthoMatrix(0, W, 0, H, -1, 1);
    SShader* sp = GetShader("GUI");
    SetRasterState(RASTER_NoCull);
    UseShader(CONSOLE_BLEND, sp);
    R_UploadViewMatrix(sp);
    R_UploadProjectionMatrix(sp);
    // An opaque grey background, as the screen is: the white text and its black shadow stand out.
    glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // Only the first four lines fit the 64-pixel target at size 14.
    DrawStatsOverlay(&font, 7, 60, 12.5, 0.016, 0.001, 0.25, W, H);
    std::vector<u8> px(W * H * 4);
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    int white = 0, shadow = 0, lowestInk = -1, rightmostInk = -1;
    for (int row = 0; row < H; ++row)
        for (int x = 0; x < W; ++x)
        {
            const u8* p = &px[(row * W + x) * 4];
            if (p[0] > 100 && p[0] < 156)
                continue; // background
            const int y = H - 1 - row;
            if (p[0] >= 156)
                ++white;
            else
                ++shadow;
            lowestInk = std::max(lowestInk, y);
            rightmostInk = std::max(rightmostInk, x);
        }
    if (getenv("PW_DUMP_OVERLAY"))
    {
        png_image out;
        memset(&out, 0, sizeof(out));
        out.version = PNG_IMAGE_VERSION;
        out.width = W;
        out.height = H;
        out.format = PNG_FORMAT_RGBA;
        png_image_write_to_file(&out, getenv("PW_DUMP_OVERLAY"), 0, px.data(), -W * 4, nullptr);
    }
    EXPECT_GT(white, 150) << "shadow " << shadow;
    EXPECT_GT(shadow, 20); // the black copy one pixel down and right shows at the edges
    EXPECT_LE(lowestInk, 4 * 14 + 1);
    // "FrameTime: 0.016" is the widest of the visible lines: 16 characters of 14 * 16 / 31 pixels.
    EXPECT_LT(rightmostInk, 1 + 16 * 14 * 16 / 31 + 2);
    EXPECT_EQ(GDebugFont, nullptr); // the engine's own font belongs to the engine main
    DrawStatsOverlay(nullptr, 1, 1, 1, 1, 1, 1, W, H); // no font: nothing to draw, no crash
}

// Rectangles from the file are checked against the page (64 x 32 here) with exact arithmetic:
// values at the int limits must neither overflow nor produce a glyph that samples off the page.
TEST(GameFontDescriptor, GlyphsReachingOutsideThePageAreSkipped)
{
    struct SCase
    {
        const char* rect;
        bool kept;
    };
    const SCase cases[] = {
        {"x=60 y=28 width=4 height=4", true},          // touches the far corner exactly
        {"x=0 y=0 width=64 height=32", true},          // the whole page
        {"x=61 y=0 width=4 height=4", false},          // one texel past the right edge
        {"x=0 y=29 width=4 height=4", false},          // one texel past the bottom
        {"x=2147483647 y=0 width=2147483647 height=1", false},
        {"x=0 y=2147483647 width=1 height=2147483647", false},
        {"x=-2147483648 y=0 width=-2147483648 height=1", false},
        {"x=1 y=1 width=-1 height=4", false},
        {"x=-1 y=0 width=4 height=4", false},
    };
    const float pageW = 64.0f, pageH = 32.0f;
    for (const SCase& c : cases)
    {
        std::string text = "common lineHeight=16 base=12 scaleW=64 scaleH=32 pages=1\npage id=0 file=\"p.png\"\n"
                           "char id=65 ";
        text += c.rect;
        text += " xoffset=0 yoffset=0 xadvance=8 page=0\n";
        SFont font;
        ASSERT_TRUE(font.ParseDescriptor(TString(text.c_str()), "")) << c.rect;
        const SFontGlyph* g = font.FindGlyph('A');
        ASSERT_EQ(g != nullptr, c.kept) << c.rect;
        if (!g)
            continue;
        int x = 0, y = 0, w = 0, h = 0;
        ASSERT_EQ(sscanf(c.rect, "x=%d y=%d width=%d height=%d", &x, &y, &w, &h), 4);
        EXPECT_FLOAT_EQ(g->S0, (float)x / pageW) << c.rect;
        EXPECT_FLOAT_EQ(g->T0, (float)y / pageH) << c.rect;
        EXPECT_FLOAT_EQ(g->S1, (float)(x + w) / pageW) << c.rect;
        EXPECT_FLOAT_EQ(g->T1, (float)(y + h) / pageH) << c.rect;
        EXPECT_LE(g->S1, 1.0f) << c.rect;
        EXPECT_LE(g->T1, 1.0f) << c.rect;
    }
}
