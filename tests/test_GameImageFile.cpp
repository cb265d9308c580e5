// Image files through the image library. TGA and BMP inputs are written here byte by byte, and
// the library's output files are inspected byte by byte, so orientation is checked against
// the formats' own definitions.
#include "TestSupport.h"

#include <IL/il.h>

#include <string>
#include <vector>

#include "GameFileIO.h"
#include "GameImage.h"
#include "GameImageFile.h"
#include "GameTexture.h"
#include "GLTestContext.h"

namespace
{

typedef std::vector<u8> Bytes;

const u32 RED = 0xFF0000FF, GREEN = 0xFF00FF00, BLUE = 0xFFFF0000, WHITE = 0xFFFFFFFF;

// 32 x 16: red top-left, green top-right, blue bottom-left, white bottom-right (rows from the top).
SImage2D Quadrants()
{
    SImage2D img(32, 16);
    for (u32 y = 0; y < 16; ++y)
        for (u32 x = 0; x < 32; ++x)
            img.Pixels[y * 32 + x] = y < 8 ? (x < 16 ? RED : GREEN) : (x < 16 ? BLUE : WHITE);
    return img;
}

void WriteFile(const std::string& name, const Bytes& b)
{
    TPodArray<u8> a;
    a.Append(b.data(), (u32)b.size());
    ASSERT_TRUE(WriteArrayToBinaryFile(name.c_str(), a));
}

Bytes ReadFile(const std::string& name)
{
    TPodArray<u8> a;
    EXPECT_TRUE(ReadArrayFromBinaryFile(name.c_str(), a));
    return Bytes(a.data, a.data + a.count);
}

void Put16LE(Bytes& b, u32 v)
{
    b.push_back((u8)v);
    b.push_back((u8)(v >> 8));
}

void Put32LE(Bytes& b, u32 v)
{
    Put16LE(b, v & 0xFFFF);
    Put16LE(b, v >> 16);
}

// Uncompressed 32-bit TGA, origin bottom-left (the format's default): rows from the bottom, BGRA.
Bytes MakeTga(const SImage2D& img)
{
    Bytes b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Put16LE(b, img.Width);
    Put16LE(b, img.Height);
    b.push_back(32);
    b.push_back(8); // 8 alpha bits, bottom-left origin
    for (u32 y = img.Height; y-- > 0;)
        for (u32 x = 0; x < img.Width; ++x)
        {
            u32 p = img.Pixels[y * img.Width + x];
            b.push_back((u8)(p >> 16));
            b.push_back((u8)(p >> 8));
            b.push_back((u8)p);
            b.push_back((u8)(p >> 24));
        }
    return b;
}

// 24-bit BMP with a positive height: rows from the bottom, BGR, padded to 4 bytes.
Bytes MakeBmp(const SImage2D& img)
{
    u32 rowBytes = (img.Width * 3 + 3) & ~3u;
    u32 dataSize = rowBytes * img.Height;
    Bytes b = {'B', 'M'};
    Put32LE(b, 54 + dataSize);
    Put32LE(b, 0);
    Put32LE(b, 54);
    Put32LE(b, 40);
    Put32LE(b, img.Width);
    Put32LE(b, img.Height);
    Put16LE(b, 1);
    Put16LE(b, 24);
    Put32LE(b, 0);
    Put32LE(b, dataSize);
    Put32LE(b, 2835);
    Put32LE(b, 2835);
    Put32LE(b, 0);
    Put32LE(b, 0);
    for (u32 y = img.Height; y-- > 0;)
    {
        for (u32 x = 0; x < img.Width; ++x)
        {
            u32 p = img.Pixels[y * img.Width + x];
            b.push_back((u8)(p >> 16));
            b.push_back((u8)(p >> 8));
            b.push_back((u8)p);
        }
        for (u32 k = img.Width * 3; k < rowBytes; ++k)
            b.push_back(0);
    }
    return b;
}

// Colour distance for lossy formats.
int MaxChannelDiff(u32 a, u32 b)
{
    int m = 0;
    for (int c = 0; c < 32; c += 8)
    {
        int d = abs((int)((a >> c) & 0xFF) - (int)((b >> c) & 0xFF));
        m = d > m ? d : m;
    }
    return m;
}

SImage2D RowsReversed(const SImage2D& img)
{
    SImage2D r = img;
    FlipImageRows(r);
    return r;
}

} // namespace

TEST(GameImageFile, TgaBmpAndJpgComeOutTheSameWayUpAsPng)
{
    InitImageLibrary();
    TTempDir dir;
    SImage2D pic = Quadrants();
    std::string png = dir.File("q.png"), tga = dir.File("q.tga"), bmp = dir.File("q.bmp"), jpg = dir.File("q.jpg");
    ASSERT_EQ(1, SaveImage(png.c_str(), pic));
    WriteFile(tga, MakeTga(pic));
    WriteFile(bmp, MakeBmp(pic));
    // The library writes GL read-back rows (bottom first); handing it the picture's rows
    // reversed must give a file that shows the picture.
    SImageSaveOptions opt;
    opt.JpgQuality = 95;
    ASSERT_EQ(1, EncodeImageFile(jpg.c_str(), RowsReversed(pic), opt, false));

    SImage2D fromPng, fromTga, fromBmp, fromJpg;
    ASSERT_EQ(1, DecodeImageFile(png.c_str(), fromPng));
    ASSERT_EQ(1, DecodeImageFile(tga.c_str(), fromTga));
    ASSERT_EQ(1, DecodeImageFile(bmp.c_str(), fromBmp));
    ASSERT_EQ(1, DecodeImageFile(jpg.c_str(), fromJpg));
    ASSERT_EQ(32u, fromTga.Width);
    ASSERT_EQ(16u, fromTga.Height);
    EXPECT_EQ(0, memcmp(fromPng.Pixels.data, pic.Pixels.data, 32 * 16 * 4));
    EXPECT_EQ(0, memcmp(fromTga.Pixels.data, pic.Pixels.data, 32 * 16 * 4));
    EXPECT_EQ(0, memcmp(fromBmp.Pixels.data, pic.Pixels.data, 32 * 16 * 4));
    ASSERT_EQ(32u, fromJpg.Width);
    ASSERT_EQ(16u, fromJpg.Height);
    // JPEG and DXT are lossy: compare the middle of each quadrant.
    std::string dds = dir.File("q.dds");
    ASSERT_EQ(1, EncodeImageFile(dds.c_str(), RowsReversed(pic), opt, false));
    SImage2D fromDds;
    ASSERT_EQ(1, DecodeImageFile(dds.c_str(), fromDds));
    ASSERT_EQ(32u, fromDds.Width);
    const u32 probes[4][3] = {{4, 4, RED}, {27, 4, GREEN}, {4, 11, BLUE}, {27, 11, WHITE}};
    for (const auto& p : probes)
    {
        EXPECT_LE(MaxChannelDiff(fromJpg.Pixels[p[1] * 32 + p[0]], p[2]), 24) << p[0] << "," << p[1];
        EXPECT_LE(MaxChannelDiff(fromDds.Pixels[p[1] * 32 + p[0]], p[2]), 8) << p[0] << "," << p[1];
    }
}

TEST(GameImageFile, SavedTgaKeepsReadBackRowsAtTheBottom)
{
    InitImageLibrary();
    TTempDir dir;
    SImage2D rows = Quadrants(); // taken as read-back rows: row 0 is the bottom of the picture
    std::string tga = dir.File("o.tga");
    SImageSaveOptions opt;
    ASSERT_EQ(1, EncodeImageFile(tga.c_str(), rows, opt, false));
    Bytes b = ReadFile(tga);
    ASSERT_GE(b.size(), 18u);
    ASSERT_EQ(2, b[2]); // uncompressed true colour
    u32 w = b[12] | (b[13] << 8), h = b[14] | (b[15] << 8);
    ASSERT_EQ(32u, w);
    ASSERT_EQ(16u, h);
    bool topFirst = (b[17] & 0x20) != 0;
    u32 bpp = b[16] / 8;
    ASSERT_TRUE(bpp == 3 || bpp == 4);
    size_t start = 18 + b[0];
    ASSERT_GE(b.size(), start + (size_t)w * h * bpp);
    // The bottom-left pixel of the file (x 0, y h-1 from the top) must be read-back row 0.
    u32 fileRowOfBottom = topFirst ? h - 1 : 0;
    const u8* p = &b[start + (size_t)fileRowOfBottom * w * bpp];
    EXPECT_EQ(0x00, p[0]); // B
    EXPECT_EQ(0x00, p[1]); // G
    EXPECT_EQ(0xFF, p[2]); // R: red is row 0's left half

    // With flip the rows are reversed first.
    ASSERT_EQ(1, EncodeImageFile(tga.c_str(), rows, opt, true));
    b = ReadFile(tga);
    topFirst = (b[17] & 0x20) != 0;
    p = &b[start + (size_t)(topFirst ? h - 1 : 0) * w * bpp];
    EXPECT_EQ(0xFF, p[0]); // blue now at the bottom left
    EXPECT_EQ(0x00, p[2]);

    // The library's run-length TGA coder garbles pictures: asking for it still writes a
    // file that reads back exactly.
    opt.RunLength = 1;
    ASSERT_EQ(1, EncodeImageFile(tga.c_str(), rows, opt, false));
    b = ReadFile(tga);
    EXPECT_EQ(2, b[2]);
    SImage2D back;
    ASSERT_EQ(1, DecodeImageFile(tga.c_str(), back));
    EXPECT_EQ(0, memcmp(back.Pixels.data, RowsReversed(rows).Pixels.data, 32 * 16 * 4));
}

TEST(GameImageFile, DdsIsDxt5OfTheRightSize)
{
    InitImageLibrary();
    TTempDir dir;
    SImage2D img(64, 64);
    for (u32 i = 0; i < 64 * 64; ++i)
        img.Pixels[i] = (i * 2654435761u) | 0x80000000u;
    std::string dds = dir.File("t.dds");
    SImageSaveOptions opt;
    ASSERT_EQ(1, EncodeImageFile(dds.c_str(), img, opt, false));
    Bytes b = ReadFile(dds);
    ASSERT_EQ(128u + 16u * 16u * 16u, b.size()); // header + one 16-byte block per 4 x 4 texels
    EXPECT_EQ(0, memcmp(b.data(), "DDS ", 4));
    EXPECT_EQ(0, memcmp(b.data() + 84, "DXT5", 4));
    EXPECT_EQ(64u, (u32)(b[12] | (b[13] << 8))); // height
    EXPECT_EQ(64u, (u32)(b[16] | (b[17] << 8))); // width

    opt.DxtFormat = IL_DXT1;
    ASSERT_EQ(1, EncodeImageFile(dds.c_str(), img, opt, false));
    b = ReadFile(dds);
    EXPECT_EQ(128u + 8u * 16u * 16u, b.size());
    EXPECT_EQ(0, memcmp(b.data() + 84, "DXT1", 4));
}

TEST(GameImageFile, ExportOptionsReachTheLibrary)
{
    InitImageLibrary();
    TTempDir dir;
    SImage2D noise(64, 64);
    for (u32 i = 0; i < 64 * 64; ++i)
        noise.Pixels[i] = (i * 2654435761u) | 0xFF000000u;
    // The JPEG quality decides how much is kept: a low quality makes a clearly smaller file.
    SImageSaveOptions low, high;
    low.JpgQuality = 10;
    high.JpgQuality = 95;
    std::string lo = dir.File("lo.jpg"), hi = dir.File("hi.jpg");
    ASSERT_EQ(1, EncodeImageFile(lo.c_str(), noise, low, false));
    ASSERT_EQ(1, EncodeImageFile(hi.c_str(), noise, high, false));
    size_t loSize = ReadFile(lo).size(), hiSize = ReadFile(hi).size();
    EXPECT_LT(loSize * 2, hiSize) << loSize << " " << hiSize;

    // Run-length coding asked for a BMP: the library codes only palette pictures, so the
    // 32-bit file is written plainly and reads back exactly.
    SImageSaveOptions rle;
    rle.RunLength = 1;
    std::string bmp = dir.File("r.bmp");
    ASSERT_EQ(1, EncodeImageFile(bmp.c_str(), noise, rle, false));
    SImage2D back;
    ASSERT_EQ(1, DecodeImageFile(bmp.c_str(), back));
    ASSERT_EQ(64u, back.Width);
    EXPECT_EQ(0, memcmp(back.Pixels.data, RowsReversed(noise).Pixels.data, 64 * 64 * 4));
}

TEST(GameImageFile, FailuresAreReportedNotFatal)
{
    InitImageLibrary();
    TTempDir dir;
    // A JPEG that stops right after its header.
    std::string bad = dir.File("bad.jpg");
    WriteFile(bad, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 0x12, 0x34});
    SImage2D img;
    EXPECT_EQ(-1, DecodeImageFile(bad.c_str(), img));
    // The library still works afterwards.
    std::string tga = dir.File("ok.tga");
    WriteFile(tga, MakeTga(Quadrants()));
    EXPECT_EQ(1, DecodeImageFile(tga.c_str(), img));
    EXPECT_EQ(IL_NO_ERROR, ilGetError());

    EXPECT_EQ(0, DecodeImageFile(dir.File("missing.tga").c_str(), img));
    EXPECT_EQ(0, DecodeImageFile(dir.Path().c_str(), img)); // a folder is not a file

    // An unknown extension, an empty picture and a missing folder are refused.
    SImageSaveOptions opt;
    EXPECT_EQ(0, EncodeImageFile(dir.File("x.unknownext").c_str(), Quadrants(), opt, false));
    EXPECT_EQ(0, EncodeImageFile(dir.File("x.jpg").c_str(), SImage2D(), opt, false));
    EXPECT_EQ(0, EncodeImageFile(dir.File("no/x.jpg").c_str(), Quadrants(), opt, false));

    // The progressive option, which this library lacks, leaves no error behind.
    opt.JpgProgressive = 1;
    opt.Apply();
    EXPECT_EQ(IL_NO_ERROR, ilGetError());
}


TEST(GameImageFileGL, LoadAndSaveAgreeWithThePngPath)
{
    ASSERT_TRUE(GLTest_Init());
    InitImageLibrary();
    TTempDir dir;
    SImage2D pic = Quadrants();
    std::string png = dir.File("q.png"), tga = dir.File("q.tga");
    ASSERT_EQ(1, SaveImage(png.c_str(), pic));
    WriteFile(tga, MakeTga(pic));

    TextureRef fromPng, fromTga;
    ASSERT_EQ(1, LoadImageFile(fromPng, png.c_str()));
    ASSERT_EQ(1, LoadImageFile(fromTga, tga.c_str()));
    EXPECT_EQ(0xBu | TEXF_File, fromPng->Flags);
    EXPECT_EQ(0xAu | TEXF_NotStreamed, fromTga->Flags);
    SImage2D a, b;
    ASSERT_EQ(1, TEX_ReadPixels(fromPng.Get(), a));
    ASSERT_EQ(1, TEX_ReadPixels(fromTga.Get(), b));
    EXPECT_EQ(0, memcmp(a.Pixels.data, pic.Pixels.data, 32 * 16 * 4));
    EXPECT_EQ(0, memcmp(b.Pixels.data, pic.Pixels.data, 32 * 16 * 4));

    // Saved with flip 0 by both paths, the files show the same picture.
    SImageSaveOptions opt;
    std::string outPng = dir.File("o.png"), outTga = dir.File("o.tga"), outBmp = dir.File("o.bmp");
    ASSERT_EQ(1, SaveImageFile(fromTga.Get(), outPng.c_str(), opt, false));
    ASSERT_EQ(1, SaveImageFile(fromTga.Get(), outTga.c_str(), opt, false));
    ASSERT_EQ(1, SaveImageFile(fromTga.Get(), outBmp.c_str(), opt, false));
    SImage2D p, t, m;
    ASSERT_EQ(1, DecodeImageFile(outPng.c_str(), p));
    ASSERT_EQ(1, DecodeImageFile(outTga.c_str(), t));
    ASSERT_EQ(1, DecodeImageFile(outBmp.c_str(), m));
    EXPECT_EQ(0, memcmp(p.Pixels.data, t.Pixels.data, 32 * 16 * 4));
    EXPECT_EQ(0, memcmp(p.Pixels.data, m.Pixels.data, 32 * 16 * 4));
    // GL row 0 (the picture's top row as loaded) ends at the bottom of the file.
    EXPECT_EQ(0, memcmp(p.Pixels.data, RowsReversed(pic).Pixels.data, 32 * 16 * 4));
    // With flip both paths keep the loaded orientation.
    ASSERT_EQ(1, SaveImageFile(fromTga.Get(), outPng.c_str(), opt, true));
    ASSERT_EQ(1, SaveImageFile(fromTga.Get(), outTga.c_str(), opt, true));
    ASSERT_EQ(1, DecodeImageFile(outPng.c_str(), p));
    ASSERT_EQ(1, DecodeImageFile(outTga.c_str(), t));
    EXPECT_EQ(0, memcmp(p.Pixels.data, pic.Pixels.data, 32 * 16 * 4));
    EXPECT_EQ(0, memcmp(t.Pixels.data, pic.Pixels.data, 32 * 16 * 4));

    // A missing file loads nothing and says nothing; a corrupt one is reported, not fatal.
    TextureRef none;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, LoadImageFile(none, dir.File("missing.jpg").c_str()));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    std::string bad = dir.File("bad.jpg");
    WriteFile(bad, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
    testing::internal::CaptureStderr();
    EXPECT_EQ(0, LoadImageFile(none, bad.c_str()));
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, said.find("cannot load \"" + bad + "\": JPG without a frame header")) << said;
}

TEST(GameImageFile, RelativeNamesResolveAgainstTheDataRoot)
{
    InitImageLibrary();
    TTempDir dir;
    TString saved = GBaseFolder;
    GBaseFolder = (dir.Path() + "/").c_str();
    SImageSaveOptions opt;
    EXPECT_EQ(1, EncodeImageFile("rel.tga", Quadrants(), opt, false));
    SImage2D back;
    EXPECT_EQ(1, DecodeImageFile("rel.tga", back));
    GBaseFolder = saved;
    EXPECT_FALSE(ReadFile(dir.File("rel.tga")).empty());
    EXPECT_EQ(32u, back.Width);
}
