// CPU images, the PNG codec and the resampler. PNG inputs are assembled here byte by byte with
// zlib (chunks, CRCs, filtered rows), so the decoder is checked against files that libpng did
// not write; encoder output is checked with libpng's separate simplified reader.
#include "TestSupport.h"

#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

#include <string>
#include <type_traits>
#include <vector>

#include "GArchive.h"
#include "GameFileIO.h"
#include "GMath.h"
#include "GameImage.h"

#include <cmath>

namespace
{

typedef std::vector<u8> Bytes;

void Put32(Bytes& b, u32 v)
{
    b.push_back((u8)(v >> 24));
    b.push_back((u8)(v >> 16));
    b.push_back((u8)(v >> 8));
    b.push_back((u8)v);
}

void PutChunk(Bytes& out, const char* type, const Bytes& data)
{
    Put32(out, (u32)data.size());
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, (u32)crc32(0, body.data(), (uInt)body.size()));
}

// A PNG with the given header; rows are raw scanlines without the filter byte (filter 0 added).
Bytes MakePng(u32 width, u32 height, u8 bitDepth, u8 colorType, const std::vector<Bytes>& rows,
              const Bytes& palette = Bytes(), const Bytes& trns = Bytes())
{
    Bytes out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    Put32(ihdr, width);
    Put32(ihdr, height);
    ihdr.push_back(bitDepth);
    ihdr.push_back(colorType);
    ihdr.push_back(0);
    ihdr.push_back(0);
    ihdr.push_back(0);
    PutChunk(out, "IHDR", ihdr);
    if (!palette.empty())
        PutChunk(out, "PLTE", palette);
    if (!trns.empty())
        PutChunk(out, "tRNS", trns);
    Bytes raw;
    for (const Bytes& r : rows)
    {
        raw.push_back(0);
        raw.insert(raw.end(), r.begin(), r.end());
    }
    uLongf zsize = compressBound((uLong)raw.size());
    Bytes z(zsize);
    EXPECT_EQ(Z_OK, compress2(z.data(), &zsize, raw.data(), (uLong)raw.size(), 6));
    z.resize(zsize);
    PutChunk(out, "IDAT", z);
    PutChunk(out, "IEND", Bytes());
    return out;
}

TPodArray<u8> ToPod(const Bytes& b)
{
    TPodArray<u8> a;
    a.Append(b.data(), (u32)b.size());
    return a;
}

u32 Rgba(u32 r, u32 g, u32 b, u32 a)
{
    return r | (g << 8) | (b << 16) | (a << 24);
}

// An RGBA8 picture of pseudo-random pixels (every byte value occurs, alpha included).
SImage2D RandomImage(u32 w, u32 h, u32 seed)
{
    SImage2D img(w, h);
    u32 s = seed;
    for (u32 i = 0; i < w * h; ++i)
    {
        s = s * 1664525u + 1013904223u;
        img.Pixels[i] = s ^ (s >> 13);
    }
    return img;
}

STexImage TexImage(u32 w, u32 h, u32 d, u32 layers, const std::vector<u32>& texels)
{
    STexImage img;
    img.SetSize(w, h, d, layers);
    EXPECT_EQ(texels.size() * 4, img.Data.Count());
    gMemCpy(img.Data.data, texels.data(), texels.size() * 4);
    return img;
}

u32 TexelAt(const STexImage& img, u32 i)
{
    u32 v;
    gMemCpy(&v, img.Data.data + i * 4, 4);
    return v;
}

Bytes EncodeToBytes(const SImageInterface& img)
{
    TPodArray<u8> arr;
    EXPECT_EQ(1, EncodeImage(img, arr, IMG_PNG));
    return Bytes(arr.data, arr.data + arr.count);
}

} // namespace

TEST(GameImage, InterfaceDeletesThroughBase)
{
    static_assert(std::has_virtual_destructor<SImageInterface>::value, "images are deleted through the interface");
    // Under ASan a missing virtual destructor would leak the pixel array here.
    SImageInterface* img = new SImage2D(16, 16);
    EXPECT_EQ(16u, img->GetWidth());
    EXPECT_EQ(1u, img->GetDepth());
    EXPECT_EQ(1u, img->GetSides());
    delete img;
}

TEST(GameImage, TypeFromExtension)
{
    EXPECT_EQ((u32)IMG_PNG, ImageTypeFromExtension("photo.PNG"));
    EXPECT_EQ((u32)IMG_PNG, ImageTypeFromExtension("a/b.c/x.png"));
    EXPECT_EQ((u32)IMG_DDS, ImageTypeFromExtension("x.Dds"));
    EXPECT_EQ((u32)IMG_Unknown, ImageTypeFromExtension("a.jpg"));
    EXPECT_EQ((u32)IMG_Unknown, ImageTypeFromExtension("ng"));
    EXPECT_EQ((u32)IMG_Unknown, ImageTypeFromExtension(""));
    EXPECT_EQ((u32)IMG_PNG, ImageTypeFromExtension("png"));
}

TEST(GameImage, Image2DResizeMovesRows)
{
    SImage2D img(4, 2);
    for (u32 i = 0; i < 8; ++i)
        img.Pixels[i] = 100 + i;
    ASSERT_TRUE(img.Resize(2, 2, true));
    ASSERT_EQ(4u, img.Pixels.Count());
    EXPECT_EQ(100u, img.Pixels[0]);
    EXPECT_EQ(101u, img.Pixels[1]);
    EXPECT_EQ(104u, img.Pixels[2]);
    EXPECT_EQ(105u, img.Pixels[3]);

    // Growing with keep: old pixels stay at their (x, y), the new ones are zero.
    ASSERT_TRUE(img.Resize(3, 3, true));
    const u32 expect[9] = {100, 101, 0, 104, 105, 0, 0, 0, 0};
    for (u32 i = 0; i < 9; ++i)
        EXPECT_EQ(expect[i], img.Pixels[i]) << i;

    // Growing the width keeps each row's start (rows are moved from the last).
    SImage2D tall(2, 3);
    for (u32 i = 0; i < 6; ++i)
        tall.Pixels[i] = i + 1;
    ASSERT_TRUE(tall.Resize(5, 3, false));
    for (u32 y = 0; y < 3; ++y)
        for (u32 x = 0; x < 2; ++x)
            EXPECT_EQ(y * 2 + x + 1, tall.Pixels[y * 5 + x]);

    // SetSize refuses depth and sides (reported) but still sizes the picture.
    {
        TExpectBreak expect("depth > 1 || sides > 1");
        img.SetSize(7, 5, 2, 1);
    }
    EXPECT_EQ(7u, img.Width);
    EXPECT_EQ(35u, img.Pixels.Count());
}

TEST(GameImagePNG, RandomImageRoundTripsExactly)
{
    SImage2D src = RandomImage(67, 45, 7);
    Bytes png = EncodeToBytes(src);
    ASSERT_GT(png.size(), 8u);
    SImage2D back;
    ASSERT_GT(DecodePNG(ToPod(png), back), 0);
    ASSERT_EQ(67u, back.Width);
    ASSERT_EQ(45u, back.Height);
    EXPECT_EQ(0, memcmp(src.Pixels.data, back.Pixels.data, 67 * 45 * 4));

    // libpng's simplified reader (a separate path) sees the same RGBA rows, top row first.
    png_image pi;
    memset(&pi, 0, sizeof(pi));
    pi.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&pi, png.data(), png.size()));
    EXPECT_EQ(PNG_FORMAT_FLAG_COLOR | PNG_FORMAT_FLAG_ALPHA, pi.format & ~PNG_FORMAT_FLAG_LINEAR);
    pi.format = PNG_FORMAT_RGBA;
    std::vector<u8> buf(PNG_IMAGE_SIZE(pi));
    ASSERT_TRUE(png_image_finish_read(&pi, nullptr, buf.data(), 0, nullptr));
    EXPECT_EQ(0, memcmp(src.Pixels.data, buf.data(), buf.size()));
}

TEST(GameImagePNG, DecodesGreyPaletteSixteenBitAndPacked)
{
    // 8-bit grey: equal colour channels, alpha 255.
    {
        Bytes png = MakePng(3, 2, 8, 0, {{0, 128, 255}, {7, 8, 9}});
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(png), img), 0);
        ASSERT_EQ(3u, img.Width);
        EXPECT_EQ(Rgba(0, 0, 0, 255), img.Pixels[0]);
        EXPECT_EQ(Rgba(128, 128, 128, 255), img.Pixels[1]);
        EXPECT_EQ(Rgba(9, 9, 9, 255), img.Pixels[5]);
    }
    // Grey with alpha.
    {
        Bytes png = MakePng(2, 1, 8, 4, {{10, 20, 30, 40}});
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(png), img), 0);
        EXPECT_EQ(Rgba(10, 10, 10, 20), img.Pixels[0]);
        EXPECT_EQ(Rgba(30, 30, 30, 40), img.Pixels[1]);
    }
    // 16-bit RGBA keeps the high bytes.
    {
        Bytes png = MakePng(1, 2, 16, 6, {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}, {0xFF, 0xFF, 0, 1, 0x80, 0x7F, 0x01, 0x00}});
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(png), img), 0);
        EXPECT_EQ(Rgba(0x12, 0x56, 0x9A, 0xDE), img.Pixels[0]);
        EXPECT_EQ(Rgba(0xFF, 0x00, 0x80, 0x01), img.Pixels[1]);
    }
    // 8-bit RGB gets an opaque alpha after the colour.
    {
        Bytes png = MakePng(1, 1, 8, 2, {{1, 2, 3}});
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(png), img), 0);
        EXPECT_EQ(Rgba(1, 2, 3, 255), img.Pixels[0]);
    }
    // Palette of 4 bits with transparency for the first two entries.
    {
        Bytes palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};
        Bytes trns = {0, 128};
        Bytes png = MakePng(3, 1, 4, 3, {{0x01, 0x20}}, palette, trns);
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(png), img), 0);
        EXPECT_EQ(Rgba(255, 0, 0, 0), img.Pixels[0]);
        EXPECT_EQ(Rgba(0, 255, 0, 128), img.Pixels[1]);
        EXPECT_EQ(Rgba(0, 0, 255, 255), img.Pixels[2]);
    }
    // A transparent colour (tRNS) in RGB and in grey pictures becomes alpha 0, the rest 255.
    {
        Bytes trns = {0, 1, 0, 2, 0, 3};
        Bytes png = MakePng(2, 1, 8, 2, {{1, 2, 3, 1, 2, 4}}, Bytes(), trns);
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(png), img), 0);
        EXPECT_EQ(Rgba(1, 2, 3, 0), img.Pixels[0]);
        EXPECT_EQ(Rgba(1, 2, 4, 255), img.Pixels[1]);
        Bytes greyKey = {0, 7};
        Bytes grey = MakePng(2, 1, 8, 0, {{7, 8}}, Bytes(), greyKey);
        ASSERT_GT(DecodePNG(ToPod(grey), img), 0);
        EXPECT_EQ(Rgba(7, 7, 7, 0), img.Pixels[0]);
        EXPECT_EQ(Rgba(8, 8, 8, 255), img.Pixels[1]);
    }
    // 1-bit grey: bits from the most significant, scaled to 0 and 255; a row of 10 pixels.
    {
        Bytes png = MakePng(10, 1, 1, 0, {{0xA5, 0xC0}});
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(png), img), 0);
        const int bits[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
        for (int i = 0; i < 10; ++i)
        {
            u32 v = bits[i] ? 255 : 0;
            EXPECT_EQ(Rgba(v, v, v, 255), img.Pixels[i]) << i;
        }
    }
}

// An interlaced 16-bit grey+alpha PNG written with libpng's full writer.
static Bytes WriteInterlacedGreyAlpha16(u32 w, u32 h, const std::vector<u16>& samples)
{
    struct SSink
    {
        static void Write(png_structp p, png_bytep d, size_t n)
        {
            Bytes* out = (Bytes*)png_get_io_ptr(p);
            out->insert(out->end(), d, d + n);
        }
        static void Flush(png_structp) {}
    };
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        return Bytes();
    }
    png_set_write_fn(png, &out, SSink::Write, SSink::Flush);
    png_set_IHDR(png, info, w, h, 16, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_swap(png); // samples are given in this machine's order
    std::vector<png_bytep> rows(h);
    for (u32 y = 0; y < h; ++y)
        rows[y] = (png_bytep)(samples.data() + (size_t)y * w * 2);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST(GameImagePNG, InterlacedSixteenBitGreyAlpha)
{
    const u32 w = 13, h = 11;
    std::vector<u16> samples(w * h * 2);
    for (u32 i = 0; i < w * h; ++i)
    {
        samples[i * 2] = (u16)((i * 997u) & 0xFFFF);
        samples[i * 2 + 1] = (u16)(0xFFFF - i * 300u);
    }
    Bytes png = WriteInterlacedGreyAlpha16(w, h, samples);
    ASSERT_FALSE(png.empty());
    SImage2D img;
    ASSERT_GT(DecodePNG(ToPod(png), img), 0);
    ASSERT_EQ(w, img.Width);
    ASSERT_EQ(h, img.Height);
    for (u32 i = 0; i < w * h; ++i)
    {
        u32 g = samples[i * 2] >> 8, a = samples[i * 2 + 1] >> 8;
        ASSERT_EQ(Rgba(g, g, g, a), img.Pixels[i]) << i;
    }
}

TEST(GameImagePNG, MalformedInputFails)
{
    Bytes good = MakePng(5, 4, 8, 6, std::vector<Bytes>(4, Bytes(20, 0x5A)));
    {
        SImage2D img;
        ASSERT_GT(DecodePNG(ToPod(good), img), 0);
    }
    // Every truncation fails, reading nothing past the given length (ASan checks the reads:
    // each prefix lives in a buffer of its own exact size).
    for (size_t n = 0; n < good.size(); ++n)
    {
        std::vector<u8> prefix(good.begin(), good.begin() + n);
        u8* exact = (u8*)malloc(n ? n : 1);
        if (n)
            memcpy(exact, prefix.data(), n);
        SImage2D img;
        EXPECT_EQ(0, DecodePNG(exact, (u32)n, img)) << n;
        free(exact);
    }
    // A bad CRC on the image data.
    {
        Bytes bad = good;
        size_t idat = 0;
        for (size_t i = 8; i + 4 < bad.size(); ++i)
            if (!memcmp(&bad[i], "IDAT", 4))
                idat = i;
        ASSERT_GT(idat, 0u);
        bad[idat + 6] ^= 0x01;
        SImage2D img;
        EXPECT_EQ(0, DecodePNG(ToPod(bad), img));
    }
    // Not a PNG at all.
    {
        Bytes text(64, 'x');
        SImage2D img;
        EXPECT_EQ(0, DecodePNG(ToPod(text), img));
    }
    // 8193 pixels wide is refused before any pixel is allocated; 8192 is accepted.
    {
        Bytes wide = MakePng(8193, 1, 1, 0, {Bytes(1025, 0)});
        SImage2D img;
        EXPECT_EQ(0, DecodePNG(ToPod(wide), img));
        EXPECT_EQ(0u, img.Pixels.Count());
        Bytes ok = MakePng(8192, 1, 1, 0, {Bytes(1024, 0xFF)});
        ASSERT_GT(DecodePNG(ToPod(ok), img), 0);
        EXPECT_EQ(8192u, img.Width);
        EXPECT_EQ(Rgba(255, 255, 255, 255), img.Pixels[8191]);
    }
    // A huge height in the header alone fails too.
    {
        Bytes tall = MakePng(1, 100000, 8, 0, {{1}});
        SImage2D img;
        EXPECT_EQ(0, DecodePNG(ToPod(tall), img));
    }
}

TEST(GameImagePNG, EncodeAndSave)
{
    TTempDir dir;
    SImage2D src = RandomImage(9, 7, 3);

    TPodArray<u8> bytes;
    bytes.Add(42);
    EXPECT_EQ(0, EncodeImage(src, bytes, IMG_DDS));
    EXPECT_EQ(0u, bytes.Count());
    SImage2D empty;
    EXPECT_EQ(0, EncodeImage(empty, bytes, IMG_PNG));

    // Appending through a writer that already holds bytes keeps them in front.
    TPodArray<u8> framed;
    framed.Add(1);
    framed.Add(2);
    FByteWriter w(framed, 2);
    ASSERT_EQ(1, EncodePNG(src, w));
    ASSERT_GT(framed.Count(), 10u);
    EXPECT_EQ(1, framed[0]);
    EXPECT_EQ(0x89, framed[2]);

    std::string file = dir.File("out.png");
    ASSERT_EQ(1, SaveImage(file.c_str(), src));
    TPodArray<u8> read;
    ASSERT_TRUE(ReadArrayFromBinaryFile(file.c_str(), read));
    SImage2D back;
    ASSERT_GT(DecodePNG(read, back), 0);
    EXPECT_EQ(0, memcmp(src.Pixels.data, back.Pixels.data, 9 * 7 * 4));

    // A failed encode leaves the previous file as it was.
    EXPECT_EQ(0, SaveImage(file.c_str(), empty));
    TPodArray<u8> again;
    ASSERT_TRUE(ReadArrayFromBinaryFile(file.c_str(), again));
    EXPECT_EQ(read.Count(), again.Count());

    EXPECT_EQ(0, SaveImage(dir.File("out.jpg").c_str(), src));
    EXPECT_EQ(0, SaveImage(dir.File("missing/out.png").c_str(), src));
    struct stat st;
    EXPECT_NE(0, stat(dir.File("out.jpg").c_str(), &st));
}

TEST(GameImageResize, LinearPasses)
{
    // One texel to four repeats it; four to four copies.
    {
        STexImage img = TexImage(1, 1, 1, 1, {0x80402010});
        ASSERT_TRUE(ResizeImage(img, 4, 1, 1));
        ASSERT_EQ(16u, img.Data.Count());
        for (u32 i = 0; i < 4; ++i)
            EXPECT_EQ(0x80402010u, TexelAt(img, i));
        STexImage same = TexImage(4, 1, 1, 1, {1, 2, 3, 4});
        ASSERT_TRUE(ResizeImage(same, 4, 1, 1));
        for (u32 i = 0; i < 4; ++i)
            EXPECT_EQ(i + 1, TexelAt(same, i));
    }
    // Halving averages neighbours (rounded); 2 to 4 gives avg, b, b, b (w = fmod(p - i0 + 0.5, 1)).
    {
        STexImage img = TexImage(2, 1, 1, 1, {Rgba(0, 10, 255, 255), Rgba(255, 20, 0, 255)});
        STexImage up = img;
        ASSERT_TRUE(ResizeImage(img, 1, 1, 1));
        EXPECT_EQ(Rgba(128, 15, 128, 255), TexelAt(img, 0));
        ASSERT_TRUE(ResizeImage(up, 4, 1, 1));
        EXPECT_EQ(Rgba(128, 15, 128, 255), TexelAt(up, 0));
        for (u32 i = 1; i < 4; ++i)
            EXPECT_EQ(Rgba(255, 20, 0, 255), TexelAt(up, i)) << i;
    }
    // Four to three: p = 0, 4/3, 8/3 -> w = .5, .8333, .1667.
    {
        STexImage img = TexImage(4, 1, 1, 1, {Rgba(0, 0, 0, 0), Rgba(60, 0, 0, 0), Rgba(120, 0, 0, 0), Rgba(240, 0, 0, 0)});
        ASSERT_TRUE(ResizeImage(img, 3, 1, 1));
        EXPECT_EQ(30u, TexelAt(img, 0) & 0xFF);                  // 0 * .5 + 60 * .5
        EXPECT_EQ(70u, TexelAt(img, 1) & 0xFF);                  // 60 * 5/6 + 120 / 6
        EXPECT_EQ(220u, TexelAt(img, 2) & 0xFF);                 // 120 / 6 + 240 * 5/6
    }
    // Rows, slices and layers: a 2 x 2 x 2 image in two layers halves in y and z per layer.
    {
        std::vector<u32> t(16);
        for (u32 i = 0; i < 16; ++i)
            t[i] = i * 10; // red only
        STexImage img = TexImage(2, 2, 2, 2, t);
        ASSERT_TRUE(ResizeImage(img, 2, 1, 1));
        ASSERT_EQ(2u * 1 * 1 * 2 * 4, img.Data.Count());
        EXPECT_EQ(2u, img.Width);
        EXPECT_EQ(1u, img.Height);
        EXPECT_EQ(1u, img.Depth);
        // Layer 0 x = 0: texels 0, 2 (slice 0), 4, 6 (slice 1) -> mean 30.
        EXPECT_EQ(30u, TexelAt(img, 0));
        EXPECT_EQ(40u, TexelAt(img, 1));
        EXPECT_EQ(110u, TexelAt(img, 2));
        EXPECT_EQ(120u, TexelAt(img, 3));
    }
    // Zero sizes are refused and change nothing.
    {
        STexImage img = TexImage(2, 1, 1, 1, {5, 6});
        EXPECT_FALSE(ResizeImage(img, 0, 1, 1));
        EXPECT_FALSE(ResizeImage(img, 1, 1, 0));
        EXPECT_EQ(2u, img.Width);
        EXPECT_EQ(6u, TexelAt(img, 1));
        STexImage none;
        EXPECT_FALSE(ResizeImage(none, 4, 4, 1));
    }
    // A full mip chain of 256 x 64 down to 1 x 1 by repeated halving keeps a flat colour exact.
    {
        STexImage img;
        img.SetSize(256, 64, 1, 1);
        for (u32 i = 0; i < 256 * 64; ++i)
            gMemCpy(img.Data.data + i * 4, "\x11\x22\x33\x44", 4);
        u32 w = 256, h = 64;
        while (w > 1 || h > 1)
        {
            w = w > 1 ? w / 2 : 1;
            h = h > 1 ? h / 2 : 1;
            ASSERT_TRUE(ResizeImage(img, w, h, 1));
        }
        EXPECT_EQ(4u, img.Data.Count());
        EXPECT_EQ(0x44332211u, TexelAt(img, 0));
    }
}

TEST(GameImageResize, FlipRows)
{
    STexImage img = TexImage(2, 3, 1, 2, {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16});
    FlipImageRows(img);
    const u32 expect[12] = {5, 6, 3, 4, 1, 2, 15, 16, 13, 14, 11, 12};
    for (u32 i = 0; i < 12; ++i)
        EXPECT_EQ(expect[i], TexelAt(img, i)) << i;

    SImage2D pic(1, 4);
    for (u32 i = 0; i < 4; ++i)
        pic.Pixels[i] = i;
    FlipImageRows(pic);
    for (u32 i = 0; i < 4; ++i)
        EXPECT_EQ(3 - i, pic.Pixels[i]);
}

TEST(GameImageFloat, SampleBilinear)
{
    FloatImage img;
    ASSERT_TRUE(img.Resize(3, 2, true));
    for (u32 y = 0; y < 2; ++y)
        for (u32 x = 0; x < 3; ++x)
            img.At(x, y) = mVec4((float)x, (float)(10 * y), (float)(x + 3 * y), 1.0f);
    mVec4 out;
    img.SampleBilinear(out, 1.0f, 1.0f); // the last texel of the last row
    EXPECT_FLOAT_EQ(2.0f, out.x);
    EXPECT_FLOAT_EQ(10.0f, out.y);
    EXPECT_FLOAT_EQ(5.0f, out.z);
    img.SampleBilinear(out, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(0.0f, out.x);
    EXPECT_FLOAT_EQ(0.0f, out.y);
    // x = 0.75 * 2 = 1.5, y = 0.5: between texels 1 and 2 of both rows.
    img.SampleBilinear(out, 0.75f, 0.5f);
    EXPECT_FLOAT_EQ(1.5f, out.x);
    EXPECT_FLOAT_EQ(5.0f, out.y);
    EXPECT_FLOAT_EQ(3.0f, out.z);
    EXPECT_FLOAT_EQ(1.0f, out.w);

    // Outside 0..1 is reported and gives zero; NaN and an empty image give zero.
    {
        TExpectBreak expect("u < 0.0f || u > 1.0f || v < 0.0f || v > 1.0f");
        img.SampleBilinear(out, 1.5f, 0.0f);
    }
    EXPECT_EQ(0.0f, out.w);
    out = mVec4(7.0f);
    img.SampleBilinear(out, std::nanf(""), 0.5f);
    EXPECT_EQ(0.0f, out.x);
    FloatImage empty;
    out = mVec4(7.0f);
    empty.SampleBilinear(out, 0.5f, 0.5f);
    EXPECT_EQ(0.0f, out.x);
    // A one-texel image samples that texel everywhere.
    FloatImage one;
    ASSERT_TRUE(one.Resize(1, 1, true));
    one.At(0, 0) = mVec4(4.0f);
    one.SampleBilinear(out, 0.3f, 0.9f);
    EXPECT_FLOAT_EQ(4.0f, out.y);
}
