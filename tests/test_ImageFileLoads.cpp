// Loading image files into textures as the file node does: the content decides the type whatever
// the name says, and a file that does not load says why in words.
#include "TestSupport.h"

#include <string>
#include <vector>

#include "GLTestContext.h"
#include "GameFileIO.h"
#include "GameImage.h"
#include "GameImageFile.h"
#include "GameTexture.h"

namespace
{
typedef std::vector<u8> Bytes;

const u32 SIDE = 8;
const u32 TOO_WIDE = 9000;
// Red 255, green 130, blue 0.
const u32 OPAQUE_ORANGE = 0xFF0082FFu;
// Largest channel error of the JPEG coder at its default quality on a flat picture.
const int JPEG_TOLERANCE = 4;

SImage2D Flat(u32 colour)
{
    SImage2D img(SIDE, SIDE);
    for (u32 i = 0; i < SIDE * SIDE; ++i)
        img.Pixels[i] = colour;
    return img;
}

Bytes Pod(const TPodArray<u8>& a)
{
    return Bytes(a.data, a.data + a.count);
}

Bytes PngOf(const SImage2D& img)
{
    TPodArray<u8> bytes;
    EXPECT_EQ(1, EncodeImage(img, bytes, IMG_PNG));
    return Pod(bytes);
}

// The picture as the image library writes it under a name of the given extension.
Bytes LibraryFile(const TTempDir& dir, const char* ext, const SImage2D& img)
{
    const std::string path = dir.File((std::string("made.") + ext).c_str());
    SImageSaveOptions options;
    EXPECT_EQ(1, EncodeImageFile(path.c_str(), img, options, false)) << ext;
    TPodArray<u8> bytes;
    EXPECT_TRUE(ReadArrayFromBinaryFile(path.c_str(), bytes));
    return Pod(bytes);
}

void Write(const std::string& path, const Bytes& b)
{
    TPodArray<u8> a;
    if (!b.empty())
        a.Append(b.data(), (u32)b.size());
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite(a.data, 1, a.count, f), (size_t)a.count);
    fclose(f);
}

Bytes WithBigEndian32(Bytes b, size_t at, u32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (u8)(v >> (24 - 8 * i));
    return b;
}

// A baseline JPEG frame and scan with neither quantisation nor Huffman tables: every marker is in
// place, so it reaches the image library, which cannot decode it.
Bytes JpegWithoutTables()
{
    return Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8, 0, SIDE, 0, SIDE, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0,
                 0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 0x3F, 0, 0x12, 0x34, 0x56, 0xFF, 0xD9};
}

int MaxChannelDiff(u32 a, u32 b)
{
    int m = 0;
    for (int c = 0; c < 32; c += 8)
    {
        const int d = abs((int)((a >> c) & 0xFF) - (int)((b >> c) & 0xFF));
        m = d > m ? d : m;
    }
    return m;
}

class ImageFileLoads : public GLTestFixture
{
protected:
    TTempDir dir;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        InitImageLibrary();
    }
};
} // namespace

TEST_F(ImageFileLoads, FailedLoadsSayWhyInWords)
{
    const Bytes png = PngOf(Flat(OPAQUE_ORANGE));
    const size_t widthAt = 16;
    struct SCase
    {
        const char* name;
        Bytes bytes;
        const char* reason;
    };
    const SCase cases[] = {
        {"cut.png", Bytes(png.begin(), png.begin() + png.size() / 2), "PNG cut short"},
        {"empty.png", Bytes(), "the file is empty"},
        {"wide.png", WithBigEndian32(png, widthAt, TOO_WIDE), "too large: 9000x8, the limit is 8192 each way"},
        {"text.png", Bytes{'h', 'e', 'l', 'l', 'o'}, "not an image"},
        {"tables.jpg", JpegWithoutTables(), "the JPEG data are malformed"},
    };
    for (const SCase& c : cases)
    {
        const std::string path = dir.File(c.name);
        Write(path, c.bytes);
        TextureRef ref;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(0, LoadImageFile(ref, path.c_str())) << c.name;
        const std::string said = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.reason), std::string::npos) << c.name << ": " << said;
        EXPECT_NE(said.find(path), std::string::npos) << c.name << ": " << said;
    }
}

TEST_F(ImageFileLoads, TheContentDecidesTheTypeWhateverTheName)
{
    const SImage2D pic = Flat(OPAQUE_ORANGE);
    struct SCase
    {
        const char* name;
        Bytes bytes;
        int tolerance;
    };
    const SCase cases[] = {
        {"jpeg.png", LibraryFile(dir, "jpg", pic), JPEG_TOLERANCE},
        {"bitmap.png", LibraryFile(dir, "bmp", pic), 0},
    };
    for (const SCase& c : cases)
    {
        const std::string path = dir.File(c.name);
        Write(path, c.bytes);
        TextureRef ref;
        ASSERT_EQ(1, LoadImageFile(ref, path.c_str())) << c.name;
        SImage2D back;
        ASSERT_EQ(1, TEX_ReadPixels(ref.Get(), back)) << c.name;
        ASSERT_EQ(SIDE, back.Width) << c.name;
        for (u32 i = 0; i < SIDE * SIDE; ++i)
            EXPECT_LE(MaxChannelDiff(back.Pixels[i], OPAQUE_ORANGE), c.tolerance) << c.name << " pixel " << i;
    }
}
