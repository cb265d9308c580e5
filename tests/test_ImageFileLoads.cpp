// Loading image files into textures as the file node does: the content decides the type whatever
// the name says, and a file that does not load says why in words.
#include "TestSupport.h"

#include <jpeglib.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
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
const u32 TILE = 4; // one compressed block
const u32 TOO_WIDE = 9000;
// A picture of several rows of the JPEG coder's units.
const u32 TALL_SIDES = 8;
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
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!b.empty())
    {
        EXPECT_EQ(fwrite(b.data(), 1, b.size(), f), b.size());
    }
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

// Where the coded data of the first scan start.
size_t CodedData(const Bytes& jpg)
{
    const u8 SOS[] = {0xFF, 0xDA};
    const size_t sos = std::search(jpg.begin(), jpg.end(), SOS, SOS + 2) - jpg.begin();
    return sos + 2 + (jpg[sos + 2] << 8 | jpg[sos + 3]);
}

// The JPEG cut in the middle of its picture data, still ending with the end-of-image marker.
Bytes Torn(const Bytes& jpg)
{
    const size_t data = CodedData(jpg), end = jpg.size() - 2;
    Bytes torn(jpg.begin(), jpg.begin() + data + (end - data) / 2);
    torn.insert(torn.end(), {0xFF, 0xD9});
    return torn;
}

// A CMYK JPEG of one colour (below), with a restart marker after each row of units when asked.
Bytes CmykJpeg(const u8 stored[4], bool ycck, bool adobe, u32 height = TILE, bool restarts = false);

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
    SImage2D tall(SIDE, SIDE * TALL_SIDES);
    for (u32 i = 0; i < SIDE * SIDE * TALL_SIDES; ++i)
        tall.Pixels[i] = OPAQUE_ORANGE;
    const u8 NO_INK[4] = {};
    const Bytes restarts = CmykJpeg(NO_INK, false, false, SIDE * TALL_SIDES, true);
    // Damage to its coded data that libjpeg only warns about: its first code all ones, which no
    // standard table holds (a 0xFF byte of coded data is stored as 0xFF 0); its first restart marker
    // numbered as the second; stray bytes before that marker, more than the decoder reads ahead.
    const u8 RST0[] = {0xFF, 0xD0};
    const size_t code = CodedData(restarts), rst0 = std::search(restarts.begin() + code, restarts.end(), RST0, RST0 + 2) - restarts.begin();
    Bytes renumbered = restarts, stray = restarts;
    renumbered[rst0 + 1] = RST0[1] + 1;
    stray.insert(stray.begin() + rst0, 16, 1);
    // What stands at the name: the bytes, or something that is no file to read.
    enum EKind
    {
        K_Bytes,
        K_Nothing,
        K_Folder,
        K_Fifo,
        K_Device,
    };
    struct SCase
    {
        const char* name;
        Bytes bytes;
        const char* reason;
        EKind kind = K_Bytes;
    };
    const SCase cases[] = {
        {"cut.png", Bytes(png.begin(), png.begin() + png.size() / 2), "PNG cut short"},
        {"empty.png", Bytes(), "the file is empty"},
        {"wide.png", WithBigEndian32(png, widthAt, TOO_WIDE), "too large: 9000x8, the limit is 8192 each way"},
        {"text.png", Bytes{'h', 'e', 'l', 'l', 'o'}, "not an image"},
        {"tables.jpg", JpegWithoutTables(), "the JPEG data are malformed"},
        {"torn.jpg", Torn(LibraryFile(dir, "jpg", tall)), "JPG picture data damaged: Corrupt JPEG data: premature end of data segment"},
        {"code.jpg", WithBigEndian32(restarts, code, 0xFF00FF00), "JPG picture data damaged: Corrupt JPEG data: bad Huffman code"},
        {"restart.jpg", renumbered, "Corrupt JPEG data: found marker 0xd1 instead of RST0"},
        {"inside.jpg", stray, "Corrupt JPEG data: 16 extraneous bytes before marker 0xd0"},
        {"missing.png", Bytes(), "cannot read", K_Nothing},
        {"folder.png", Bytes(), "Is a directory", K_Folder},
        {"fifo.png", Bytes(), "not a regular file but a FIFO", K_Fifo},
        {"/dev/zero", Bytes(), "not a regular file but a character device", K_Device},
        {"/proc/self/status", Bytes(), "it lies on the kernel's proc file system", K_Device},
    };
    for (const SCase& c : cases)
    {
        const std::string path = c.kind == K_Device ? c.name : dir.File(c.name);
        if (c.kind == K_Bytes)
            Write(path, c.bytes);
        EXPECT_TRUE(c.kind != K_Folder || mkdir(path.c_str(), 0700) == 0);
        EXPECT_TRUE(c.kind != K_Fifo || mkfifo(path.c_str(), 0600) == 0);
        TextureRef ref;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(0, LoadImageFile(ref, path.c_str())) << c.name;
        const std::string said = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.reason), std::string::npos) << c.name << ": " << said;
        EXPECT_NE(said.find(path), std::string::npos) << c.name << ": " << said;
    }
    // Undamaged, with its restart markers, the picture loads.
    SImage2D whole;
    EXPECT_EQ(1, DecodeImageBytes(restarts.data(), restarts.size(), "whole.jpg", whole));
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

// ---------------------------------------------------------------------------------------------
// Variants whose pixels the image library got wrong: each made here byte by byte (or by libjpeg
// for the JPEGs), a 4 x 4 picture of one colour, except where the first texel differs.
namespace
{
const u32 TILE_PIXELS = TILE * TILE;

void Le16(Bytes& b, u32 v)
{
    b.push_back((u8)v);
    b.push_back((u8)(v >> 8));
}

void Le32(Bytes& b, u32 v)
{
    Le16(b, v & 0xFFFF);
    Le16(b, v >> 16);
}

// A colour as the engine stores it, red in the low byte.
u32 Rgba(u32 r, u32 g, u32 b, u32 a)
{
    return r | g << 8 | b << 16 | a << 24;
}

// A 4 x 4 CMYK JPEG of one colour given as the bytes stored in the file, coded as YCCK or as
// CMYK, with or without the Adobe marker that says the inks are stored inverted.
Bytes CmykJpeg(const u8 stored[4], bool ycck, bool adobe, u32 height, bool restarts)
{
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&c, &mem, &length);
    c.image_width = TILE;
    c.image_height = height;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_set_quality(&c, 100, TRUE);
    c.write_Adobe_marker = adobe ? TRUE : FALSE;
    c.restart_in_rows = restarts ? 1 : 0;
    jpeg_start_compress(&c, TRUE);
    u8 row[TILE * 4];
    for (u32 x = 0; x < TILE; ++x)
        memcpy(row + x * 4, stored, 4);
    for (u32 y = 0; y < height; ++y)
    {
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    Bytes b(mem, mem + length);
    free(mem);
    jpeg_destroy_compress(&c);
    return b;
}

// BMP with the 40-, 108- or 124-byte header: bit fields (masks given), plain or run-length rows, a
// palette when given, pixels of bytesPerPixel bytes each (or 4-bit indices).
Bytes LongHeaderBmp(u32 headerSize, u32 bpp, u32 compression, const u32 masks[4], const Bytes& palette,
                    const Bytes& pixelRow)
{
    // After the 40-byte header the three colour masks of bit fields follow it; the longer ones hold them.
    const u32 headerAndMasks = headerSize == 40 && masks[0] ? headerSize + 12 : headerSize;
    const u32 pixelsAt = 14 + headerAndMasks + (u32)palette.size();
    const u32 rowBytes = ((u32)pixelRow.size() + 3) & ~3u;
    Bytes b = {'B', 'M'};
    Le32(b, pixelsAt + rowBytes * TILE);
    Le32(b, 0);
    Le32(b, pixelsAt);
    Le32(b, headerSize);
    Le32(b, TILE);
    Le32(b, TILE);
    Le16(b, 1);
    Le16(b, bpp);
    Le32(b, compression);
    Le32(b, rowBytes * TILE);
    Le32(b, 2835);
    Le32(b, 2835);
    Le32(b, (u32)palette.size() / 4);
    Le32(b, 0);
    for (int i = 0; i < 4; ++i)
        Le32(b, masks[i]);
    b.resize(14 + headerAndMasks, 0); // colour space and profile fields: unused here
    b.insert(b.end(), palette.begin(), palette.end());
    for (u32 y = 0; y < TILE; ++y)
    {
        b.insert(b.end(), pixelRow.begin(), pixelRow.end());
        b.resize(b.size() + rowBytes - pixelRow.size(), 0);
    }
    return b;
}

Bytes Repeated(const Bytes& pixel, u32 times)
{
    Bytes b;
    for (u32 i = 0; i < times; ++i)
        b.insert(b.end(), pixel.begin(), pixel.end());
    return b;
}

// TGA of 4 x 4 pixels of 16 bits, descriptor with one attribute (alpha) bit.
Bytes Tga16(u32 pixel)
{
    Bytes b = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Le16(b, TILE);
    Le16(b, TILE);
    b.push_back(16);
    b.push_back(0x01);
    for (u32 i = 0; i < TILE_PIXELS; ++i)
        Le16(b, pixel);
    return b;
}

// Colour-mapped TGA: two 16-bit map entries, every pixel index 1.
Bytes MappedTga16(u32 entry)
{
    Bytes b = {0, 1, 1, 0, 0, 2, 0, 16, 0, 0, 0, 0};
    Le16(b, TILE);
    Le16(b, TILE);
    b.push_back(8);
    b.push_back(0x01);
    Le16(b, 0);
    Le16(b, entry);
    b.resize(b.size() + TILE_PIXELS, 1);
    return b;
}

// DDS header of a 4 x 4 surface: a FourCC coding, or uncompressed bits with masks.
Bytes DdsTile(const char* fourCC, u32 bits, u32 pfFlags, const u32 masks[4])
{
    Bytes b = {'D', 'D', 'S', ' '};
    Le32(b, 124);
    Le32(b, 0x1007);
    Le32(b, TILE);
    Le32(b, TILE);
    for (int i = 0; i < 14; ++i)
        Le32(b, 0);
    Le32(b, 32);
    Le32(b, pfFlags);
    for (int i = 0; i < 4; ++i)
        b.push_back(fourCC ? (u8)fourCC[i] : 0);
    Le32(b, bits);
    for (int i = 0; i < 4; ++i)
        Le32(b, masks ? masks[i] : 0);
    Le32(b, 0x1000);
    for (int i = 0; i < 4; ++i)
        Le32(b, 0);
    return b;
}

Bytes Then(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Two bytes that belong to no segment before the end-of-image marker.
Bytes WithStrayBytesAtTheEnd(Bytes jpg)
{
    jpg.insert(jpg.end() - 2, {1, 2});
    return jpg;
}

const u32 NO_MASKS[4] = {0, 0, 0, 0};
const u32 MASKS_565[4] = {0xF800, 0x07E0, 0x001F, 0};
const u32 MASKS_1555[4] = {0x7C00, 0x03E0, 0x001F, 0x8000};
const u32 MASKS_BGRA[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
const u32 BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
const u32 DDPF_FOURCC = 0x4, DDPF_RGB = 0x40, DDPF_ALPHAPIXELS = 0x1;
// 5-6-5 red 31, green 32, blue 1 and 1-5-5-5 red 31, green 16, blue 1: each channel widened by
// repeating its high bits, so that 31 of 31 is 255.
const u32 PIXEL_565 = 31u << 11 | 32u << 5 | 1u;
const u32 PIXEL_1555 = 0x8000u | 31u << 10 | 16u << 5 | 1u;
const u32 FROM_565 = Rgba(255, 130, 8, 255);
const u32 FROM_1555 = Rgba(255, 132, 8, 255);
const u32 FROM_555_CLEAR = Rgba(255, 132, 8, 0);
const u32 PURE_RED = Rgba(255, 0, 0, 255);
const u32 TRANSPARENT = 0;
// DXT1 block of black (first) and red (second) end colours: the first below the second selects
// three colours and transparency; texel 0 takes index 3 (transparent), the rest index 1 (red).
const Bytes DXT1_BLOCK = {0x00, 0x00, 0x00, 0xF8, 0x57, 0x55, 0x55, 0x55};
// DXT5 block: alpha 255 throughout, then the 5-6-5 colour above black in four-colour mode, every
// texel the first colour.
const Bytes DXT5_BLOCK = {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, PIXEL_565 & 0xFF, PIXEL_565 >> 8, 0x00, 0x00, 0, 0, 0, 0};
// CMYK inks 0, 128, 255, 64 (stored inverted under the Adobe marker): red 255 x 191 / 255,
// green 127 x 191 / 255, blue 0.
const u8 INKS[4] = {0, 128, 255, 64};
const u8 INKS_INVERTED[4] = {255, 127, 0, 191};
const u32 FROM_INKS = Rgba(191, 95, 0, 255);
// Largest channel error of the CMYK cases: the JPEG coder at quality 100 plus the YCCK colour
// conversion.
const int CMYK_TOLERANCE = 3;
} // namespace

TEST(ImageFileVariants, VariantsDecodeToTheirExpectedPixels)
{
    struct SCase
    {
        const char* name;
        Bytes bytes;
        u32 first, rest;
        int tolerance;
    };
    const Bytes palette = {0, 0, 0, 0, 30, 20, 10, 0}; // index 1: red 10, green 20, blue 30
    const SCase cases[] = {
        {"ycck-adobe.jpg", CmykJpeg(INKS_INVERTED, true, true), FROM_INKS, FROM_INKS, CMYK_TOLERANCE},
        {"cmyk-adobe.jpg", CmykJpeg(INKS_INVERTED, false, true), FROM_INKS, FROM_INKS, CMYK_TOLERANCE},
        {"cmyk-plain.jpg", CmykJpeg(INKS, false, false), FROM_INKS, FROM_INKS, CMYK_TOLERANCE},
        // Stray bytes before the end marker lose no row.
        {"stray.jpg", WithStrayBytesAtTheEnd(CmykJpeg(INKS, false, false)), FROM_INKS, FROM_INKS, CMYK_TOLERANCE},
        {"v5-alpha.bmp", LongHeaderBmp(124, 32, BI_BITFIELDS, MASKS_BGRA, {}, Repeated({50, 100, 200, 128}, TILE)),
         Rgba(200, 100, 50, 128), Rgba(200, 100, 50, 128), 0},
        {"v4-565.bmp", LongHeaderBmp(108, 16, BI_BITFIELDS, MASKS_565, {}, Repeated({PIXEL_565 & 0xFF, PIXEL_565 >> 8}, TILE)),
         FROM_565, FROM_565, 0},
        {"v5-palette.bmp", LongHeaderBmp(124, 4, BI_RGB, NO_MASKS, palette, {0x11, 0x11}), Rgba(10, 20, 30, 255),
         Rgba(10, 20, 30, 255), 0},
        {"v5-plain.bmp", LongHeaderBmp(124, 24, BI_RGB, NO_MASKS, {}, Repeated({30, 20, 10}, TILE)),
         Rgba(10, 20, 30, 255), Rgba(10, 20, 30, 255), 0},
        // Runs from the bottom row; the top row skips its first pixel, which stays transparent black.
        {"rle8.bmp", LongHeaderBmp(40, 8, BI_RLE8, NO_MASKS, palette, {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 0, 0, 2, 1, 0, 0, 3, 1, 1, 1, 0, 0, 1}),
         TRANSPARENT, Rgba(10, 20, 30, 255), 0},
        {"rle4.bmp", LongHeaderBmp(40, 4, BI_RLE4, NO_MASKS, palette, {4, 0x11, 0, 0, 4, 0x11, 0, 0, 4, 0x11, 0, 0, 0, 2, 1, 0, 3, 0x11, 0, 1}),
         TRANSPARENT, Rgba(10, 20, 30, 255), 0},
        {"v3-565.bmp", LongHeaderBmp(40, 16, BI_BITFIELDS, MASKS_565, {}, Repeated({PIXEL_565 & 0xFF, PIXEL_565 >> 8}, TILE)),
         FROM_565, FROM_565, 0},
        {"16-bit.tga", Tga16(PIXEL_1555), FROM_1555, FROM_1555, 0},
        {"16-bit-clear.tga", Tga16(PIXEL_1555 & 0x7FFF), FROM_555_CLEAR, FROM_555_CLEAR, 0},
        {"16-bit-map.tga", MappedTga16(PIXEL_1555), FROM_1555, FROM_1555, 0},
        {"565.dds", Then(DdsTile(nullptr, 16, DDPF_RGB, MASKS_565), Repeated({PIXEL_565 & 0xFF, PIXEL_565 >> 8}, TILE_PIXELS)),
         FROM_565, FROM_565, 0},
        {"1555.dds",
         Then(DdsTile(nullptr, 16, DDPF_RGB | DDPF_ALPHAPIXELS, MASKS_1555), Repeated({PIXEL_1555 & 0xFF, PIXEL_1555 >> 8}, TILE_PIXELS)),
         FROM_1555, FROM_1555, 0},
        {"dxt1.dds", Then(DdsTile("DXT1", 0, DDPF_FOURCC, nullptr), DXT1_BLOCK), TRANSPARENT, PURE_RED, 0},
        {"dxt5.dds", Then(DdsTile("DXT5", 0, DDPF_FOURCC, nullptr), DXT5_BLOCK), FROM_565, FROM_565, 0},
    };
    for (const SCase& c : cases)
    {
        SImage2D image;
        testing::internal::CaptureStderr();
        const int r = DecodeImageBytes(c.bytes.data(), c.bytes.size(), c.name, image);
        const std::string said = testing::internal::GetCapturedStderr();
        if (r != 1 || image.Width != TILE || image.Height != TILE)
        {
            ADD_FAILURE() << c.name << " did not load as 4 x 4: " << said;
            continue;
        }
        for (u32 i = 0; i < TILE_PIXELS; ++i)
            EXPECT_LE(MaxChannelDiff(image.Pixels[i], i == 0 ? c.first : c.rest), c.tolerance)
                << c.name << " pixel " << i << ": " << std::hex << image.Pixels[i];
    }
}

TEST(ImageFileVariants, RunLengthBmpWithALongHeaderIsRefusedWithAReason)
{
    const Bytes rle = LongHeaderBmp(124, 8, BI_RLE8, NO_MASKS, Bytes(8, 0), {4, 1, 0, 1});
    SImage2D image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, DecodeImageBytes(rle.data(), rle.size(), "rle.bmp", image));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("BMP run-length coding with a 124-byte header not read"), std::string::npos) << said;
}
