// The protected image decode: files are recognised by their content and checked against their
// headers before any decoder sees them, and the image library runs in the decoder program, whose
// crash, hang or silence costs only the picture. Headers are written here byte by byte after the
// formats' own definitions.
#include "TestSupport.h"

#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "GameFileIO.h"
#include "GameImage.h"
#include "GameImageDecoder.h"
#include "GameImageFile.h"
#include "GameImageProbe.h"

namespace
{
typedef std::vector<u8> Bytes;

void Put16(Bytes& b, u32 v)
{
    b.push_back((u8)v);
    b.push_back((u8)(v >> 8));
}

void Put32(Bytes& b, u32 v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

Bytes Then(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Filled(Bytes b, size_t total, u8 value = 0x5A)
{
    if (b.size() < total)
        b.resize(total, value);
    return b;
}

// TGA header: no id, no colour map.
Bytes TgaHeader(u8 type, u32 w, u32 h, u8 depth)
{
    Bytes b = {0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Put16(b, w);
    Put16(b, h);
    b.push_back(depth);
    b.push_back(0x20); // top-left origin
    return b;
}

// BMP file and info headers for plain rows of the given depth, pixels right after the headers.
Bytes BmpHeader(s32 w, s32 h, u32 bpp, u32 compression = 0)
{
    Bytes b = {'B', 'M'};
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, (u32)w);
    Put32(b, (u32)h);
    Put16(b, 1);
    Put16(b, bpp);
    Put32(b, compression);
    for (int i = 0; i < 5; ++i)
        Put32(b, 0);
    return b;
}

// DDS header with a FourCC coding or an uncompressed RGB format of the given bits.
Bytes DdsHeader(u32 w, u32 h, const char* fourCC, u32 rgbBits = 0, u32 caps2 = 0)
{
    Bytes b = {'D', 'D', 'S', ' '};
    Put32(b, 124);
    Put32(b, 0x1007);
    Put32(b, h);
    Put32(b, w);
    for (int i = 0; i < 14; ++i)
        Put32(b, 0); // pitch, depth, mip count, 11 reserved
    Put32(b, 32);
    Put32(b, fourCC ? 0x4 : 0x41);
    for (int i = 0; i < 4; ++i)
        b.push_back(fourCC ? (u8)fourCC[i] : 0);
    Put32(b, rgbBits);
    Put32(b, 0x00FF0000);
    Put32(b, 0x0000FF00);
    Put32(b, 0x000000FF);
    Put32(b, 0xFF000000);
    Put32(b, 0x1000);
    Put32(b, caps2);
    for (int i = 0; i < 3; ++i)
        Put32(b, 0);
    return b;
}

// A JPEG start with an application segment and then, when w is not 0, a baseline frame header.
Bytes JpgStart(u32 w, u32 h, u8 components = 3)
{
    Bytes b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    if (w)
    {
        Bytes sof = {0xFF, 0xC0, 0x00, 0x11, 8, (u8)(h >> 8), (u8)h, (u8)(w >> 8), (u8)w, components};
        b.insert(b.end(), sof.begin(), sof.end());
    }
    return b;
}

Bytes PngHeader(u32 w, u32 h)
{
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (u32 v : {w, h})
        for (int s = 24; s >= 0; s -= 8)
            b.push_back((u8)(v >> s));
    return b;
}

Bytes With32(Bytes b, size_t at, u32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = (u8)(v >> (8 * i));
    return b;
}

// An 8 x 8 16-bit run-length TGA with the given packets.
Bytes Tga16RunLength(const Bytes& packets)
{
    return Then(TgaHeader(10, 8, 8, 16), packets);
}

// Found by fuzzing the in-process decode: a run of 8 pixels, then a raw packet of 29 pixels with
// one byte of them. The image library reads far past its own buffer on it (ASan: heap overflow
// in ilCopyPixels).
Bytes LibraryOverRead()
{
    return Tga16RunLength({0x87, 0x20, 0x20, 0x1C, 0x40});
}

// Found by fuzzing the in-process decode: a frame header of 257 x 1 and no picture data after
// it. The image library loops without end on it.
Bytes Endless()
{
    return Bytes{0xFF, 0xD8, 0xFF, 0xE2, 0x00, 0x03, 0xFF, 0xC0, 0x46, 0x01, 0x21, 0x00,
                 0x01, 0x01, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF};
}

// Found by fuzzing the in-process decode: an 8 x 8 JPG whose markers are all in order (frame,
// scan, end of image) around broken coded data. The image library loops without end on it, and no
// header check can tell it from a good file: only the decoder's time limit stops it.
Bytes EndlessWithGoodMarkers()
{
    return Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x3A, 0x00, 0x08, 0x00, 0x08, 0x03, 0x01, 0xF5, 0xF6, 0xF7,
                 0xF8, 0xF9, 0x24, 0xFA, 0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x3F, 0xBE, 0x9F, 0xF2,
                 0xFF, 0xE9, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xD9};
}

// Cube map flag and the bits of its six faces.
const u32 CUBE_ALL_FACES = 0x200 | 0xFC00;

// Found by fuzzing the in-process decode: an 8 x 8 DXT1 cube map of two faces (+X and +Y) marked
// complex (caps 0x1008), data complete. The image library dereferences a null pointer on such
// cube maps that lack faces.
Bytes PartialCubeMap()
{
    const size_t capsAt = 108;
    const u32 textureComplex = 0x1008;
    return Filled(With32(DdsHeader(8, 8, "DXT1", 0, 0x200 | 0x400 | 0x1000), capsAt, textureComplex), 128 + 2 * 4 * 8, 0);
}

// Found by fuzzing the in-process decode: an 8 x 8 8-bit cube map of depth 185 (without the flag
// that says the depth is meant). The image library reads past its own buffer on it (ASan: SEGV).
Bytes DdsOverRead()
{
    static const u8 bytes[] = {
        0x44, 0x44, 0x53, 0x20, 0x7c, 0x00, 0x00, 0x00, 0x07, 0x10, 0x0a, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x00,
        0x00, 0x00, 0x1e, 0x00, 0x00, 0x00, 0xb9, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x03, 0xff, 0x00, 0x00, 0x00, 0x36, 0xd6, 0x00, 0x08, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0x2d, 0xec, 0xec, 0x48,
        0xec, 0xec, 0xec, 0xec, 0xb5, 0x07, 0x03, 0x00, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec,
        0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec,
        0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0xec, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0x30, 0xff, 0xff, 0xff, 0xff,
        0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xfc, 0xaf,
        0xaf, 0x55};
    return Bytes(bytes, bytes + sizeof(bytes));
}

// Decodes bytes as the file name would be, catching what is said on standard error.
int DecodeCapturing(const std::string& name, const Bytes& bytes, SImage2D& image, std::string& said)
{
    testing::internal::CaptureStderr();
    const int r = DecodeImageBytes(bytes.data(), bytes.size(), name.c_str(), image);
    said = testing::internal::GetCapturedStderr();
    return r;
}

// A 24 x 12 picture with every pixel different, in plain 32-bit TGA (top row first) and BMP.
SImage2D Picture()
{
    SImage2D img(24, 12);
    for (u32 y = 0; y < 12; ++y)
        for (u32 x = 0; x < 24; ++x)
            img.Pixels[y * 24 + x] = (x * 10) | ((y * 20) << 8) | (((x + y) * 5) << 16) | 0xFF000000u;
    return img;
}

Bytes PictureTga(const SImage2D& img)
{
    Bytes b = TgaHeader(2, img.Width, img.Height, 32);
    b[17] = 0x28; // top-left origin, 8 alpha bits
    for (u32 i = 0; i < img.Width * img.Height; ++i)
    {
        const u32 p = img.Pixels[i];
        b.insert(b.end(), {(u8)(p >> 16), (u8)(p >> 8), (u8)p, (u8)(p >> 24)});
    }
    return b;
}

Bytes PictureBmp(const SImage2D& img)
{
    Bytes b = BmpHeader((s32)img.Width, -(s32)img.Height, 32); // negative height: top row first
    for (u32 i = 0; i < img.Width * img.Height; ++i)
    {
        const u32 p = img.Pixels[i];
        b.insert(b.end(), {(u8)(p >> 16), (u8)(p >> 8), (u8)p, 0xFF});
    }
    return b;
}

void WriteBytes(const std::string& name, const Bytes& b)
{
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite(b.data(), 1, b.size(), f), b.size());
    fclose(f);
}

Bytes ReadBytes(const std::string& name)
{
    TPodArray<u8> a;
    EXPECT_TRUE(ReadArrayFromBinaryFile(name.c_str(), a));
    return Bytes(a.data, a.data + a.count);
}

// The picture written by the program's own encoder under the name, read back.
Bytes Encoded(const TTempDir& dir, const char* name, const SImage2D& pic)
{
    SImageSaveOptions opt;
    EXPECT_EQ(1, EncodeImageFile(dir.File(name).c_str(), pic, opt, false)) << name;
    return ReadBytes(dir.File(name));
}

// A script standing in for the decoder program.
std::string Script(const TTempDir& dir, const char* name, const char* body)
{
    const std::string path = dir.File(name);
    FILE* f = fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr);
    if (!f)
        return path;
    fprintf(f, "#!/bin/sh\n%s\n", body);
    fclose(f);
    chmod(path.c_str(), 0755);
    return path;
}

// Restores the decoder settings a test changed.
struct SDecoderSettings
{
    ~SDecoderSettings()
    {
        SetImageDecoderProgram(nullptr);
        SetImageDecodeTimeout(0.0);
        SetImageDecodeInProcess(false);
    }
};
} // namespace

TEST(ImageDecoder, MalformedFilesAreRefusedBeforeAnyDecoder)
{
    TTempDir dir;
    struct SCase
    {
        const char* name;
        Bytes bytes;
        const char* reason;
    };
    const SCase cases[] = {
        // Types the program does not offer, whatever the library would make of them.
        {"a.wal", Bytes{0x01}, "not a BMP, TGA, JPG, DDS or PNG file"},
        {"b.wal", Filled(Bytes{'W', 'A', 'L'}, 56, 0xFF), "not a BMP, TGA, JPG, DDS or PNG file"},
        {"c.pnm", Bytes{'\n', '\n'}, "not a BMP, TGA, JPG, DDS or PNG file"},
        {"d.tga.txt", PictureTga(Picture()), "not a BMP, TGA, JPG, DDS or PNG file"},
        // Headers announcing more pixels than the file holds.
        {"e.tga", Filled(TgaHeader(2, 2400, 2400, 32), 35), "the header announces 23040000 bytes of pixels"},
        {"f.tga", Filled(TgaHeader(10, 8000, 8000, 32), 63), "TGA run-length packet cut short after 0 of 64000000"},
        {"f2.tga", LibraryOverRead(), "TGA run-length packet cut short after 8 of 64 pixels"},
        {"f3.tga", Tga16RunLength({0x87, 0x20, 0x20}), "TGA run-length data ends after 8 of 64 pixels"},
        {"g.bmp", Filled(BmpHeader(100, 100, 24), 54 + 300 * 99), "the header announces 30000 bytes of pixels"},
        {"h.dds", Filled(DdsHeader(256, 256, "DXT5"), 128 + 16383), "the header announces 65536 bytes of pixels"},
        {"i.dds", Filled(DdsHeader(64, 64, nullptr, 32), 128 + 64 * 63 * 4), "announces 16384 bytes"},
        // Sizes outside 1..8192.
        {"j.tga", Filled(TgaHeader(11, 65535, 43690, 8), 138), "too large: 65535x43690, the limit is 8192 each way"},
        {"k.bmp", Filled(BmpHeader(0, 10, 24), 200), "no pixels: size 0x10"},
        {"l.bmp", Filled(BmpHeader(-4, 10, 24), 200), "no pixels: size 0x10"},
        {"m.bmp", Filled(BmpHeader(4, (s32)0x80000000, 24), 200), "too large: 4x2147483648"},
        {"n.jpg", JpgStart(9000, 10), "too large: 9000x10"},
        {"o.dds", Filled(DdsHeader(8193, 4, "DXT1"), 1 << 16), "too large: 8193x4"},
        {"p.png", PngHeader(1, 9000), "too large: 1x9000"},
        {"q.jpg", JpgStart(0, 0), "JPG without a frame header"},
        {"q2.jpg", JpgStart(16, 16), "JPG without picture data"},
        {"q3.jpg", Endless(), "JPG without picture data"},
        {"q4.jpg", Then(Filled(JpgStart(16, 16), 39), {0xFF, 0xDA, 0x00, 0x08, 1, 2, 3}), "JPG cut short"},
        {"palette.bmp", Filled(With32(BmpHeader(8, 8, 8), 46, 0xFFFFFFCB), 54 + 1024 + 64),
         "BMP palette of 4294967243 colours for 8 bits"},
        // Codings and layouts the program does not read.
        {"r.tga", Filled(TgaHeader(2, 4, 4, 7), 200), "not a TGA header the format allows"},
        {"s.tga", Filled(TgaHeader(1, 4, 4, 8), 200), "not a TGA header the format allows"}, // mapped, no map
        {"t.tga", Bytes{0, 0, 2, 0}, "TGA header cut short"},
        {"u.bmp", Filled(BmpHeader(4, 4, 24, 4), 200), "BMP coding 4 at 24 bits not read"},
        {"v.dds", Filled(DdsHeader(4, 4, "DX10"), 400), "DDS coding \"DX10\" not read"},
        {"w.dds", Filled(DdsHeader(4, 4, "DXT1", 0, 0x200000), 400), "DDS volume textures not read (depth 0)"},
        {"x.jpg", JpgStart(16, 16, 2), "JPG with 2 colour components not read"},
        // Mip levels and cube faces the header announces are data the file must hold too.
        {"y.dds", Filled(With32(DdsHeader(8, 8, "DXT1"), 28, 185), 400), "DDS announces 185 mip levels, a 8x8 picture has 4"},
        {"z.dds", Filled(With32(DdsHeader(8, 8, "DXT1"), 28, 4), 128 + 48), "the header announces 56 bytes of pixels"},
        {"c1.dds", Filled(DdsHeader(4, 4, "DXT5", 0, CUBE_ALL_FACES), 128 + 5 * 16), "announces 96 bytes"},
        {"c2.dds", Filled(DdsHeader(4, 4, "DXT5", 0, 0x200), 400), "DDS cube map with 0 of 6 faces not read"},
        {"c3.dds", PartialCubeMap(), "DDS cube map with 2 of 6 faces not read"},
        {"overread.dds", DdsOverRead(), "DDS volume textures not read (depth 185)"},
        {"v2.dds", Filled(With32(DdsHeader(4, 4, "DXT1"), 24, 2), 400), "DDS volume textures not read (depth 2)"},
    };
    for (const SCase& c : cases)
    {
        SImageProbe probe;
        TString reason;
        EXPECT_FALSE(ProbeImageFile(c.bytes.data(), c.bytes.size(), c.name, probe, reason)) << c.name;
        EXPECT_NE(std::string(reason.Str()).find(c.reason), std::string::npos) << c.name << ": " << reason.Str() << " | " << c.reason;

        SImage2D image;
        std::string said;
        EXPECT_EQ(-1, DecodeCapturing(c.name, c.bytes, image, said)) << c.name;
        EXPECT_EQ(said, std::string("DecodeImageFile: \"") + c.name + "\" not loaded: " + reason.Str() + "\n");
        EXPECT_EQ(image.Width, 0u) << c.name;

        // The same as a file, as a document or a job names it.
        const std::string path = dir.File(c.name);
        WriteBytes(path, c.bytes);
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, DecodeImageFile(path.c_str(), image)) << c.name;
        said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said, "DecodeImageFile: \"" + path + "\" not loaded: " + reason.Str() + "\n");
    }
}

TEST(ImageDecoder, TheContentDecidesTheType)
{
    InitImageLibrary();
    TTempDir dir;
    const SImage2D pic = Picture();
    const Bytes jpg = Encoded(dir, "made.jpg", pic), dds = Encoded(dir, "made.dds", pic);
    const std::string png = dir.File("made.png");
    ASSERT_EQ(1, SaveImage(png.c_str(), pic));
    struct SCase
    {
        const char* name; // under which the bytes are presented
        Bytes bytes;
        EImageFileType type;
    };
    const SCase cases[] = {
        {"pic.tga", PictureTga(pic), IFT_TGA},
        {"PIC.TGA", PictureTga(pic), IFT_TGA},
        {"pic.bmp", PictureBmp(pic), IFT_BMP},
        {"pic.jpg", PictureBmp(pic), IFT_BMP}, // a BMP under another name is a BMP
        {"pic.dds", dds, IFT_DDS},
        {"pic.jpg", jpg, IFT_JPG},
        {"pic.tga", jpg, IFT_JPG},
        {"pic.wal", ReadBytes(png), IFT_PNG},
        {"pic.png", ReadBytes(png), IFT_PNG},
    };
    // A PNG header with nothing behind it passes the probe and fails in the PNG decoder.
    SImage2D nothing;
    std::string said;
    EXPECT_EQ(-1, DecodeCapturing("cut.png", PngHeader(4, 4), nothing, said));
    EXPECT_EQ(said, "DecodeImageFile: \"cut.png\" not loaded: PNG cut short: the data ends after 24 bytes\n");
    for (const SCase& c : cases)
    {
        SImageProbe probe;
        TString reason;
        ASSERT_TRUE(ProbeImageFile(c.bytes.data(), c.bytes.size(), c.name, probe, reason)) << c.name << reason.Str();
        EXPECT_EQ(probe.Type, c.type) << c.name << " " << ImageFileTypeName(c.type);
        EXPECT_EQ(probe.Width, pic.Width) << c.name;
        EXPECT_EQ(probe.Height, pic.Height) << c.name;
        SImage2D image;
        std::string said;
        ASSERT_EQ(1, DecodeCapturing(c.name, c.bytes, image, said)) << c.name << ": " << said;
        ASSERT_EQ(image.Width, pic.Width);
        ASSERT_EQ(image.Height, pic.Height);
        // Lossless types give the picture back exactly, the lossy ones its colours within their
        // coding's error; JPG and DXT both keep the dark top-left and the bright bottom-right apart.
        const bool exact = c.type == IFT_TGA || c.type == IFT_BMP || c.type == IFT_PNG;
        if (exact)
            EXPECT_EQ(0, memcmp(image.Pixels.data, pic.Pixels.data, pic.Width * pic.Height * 4)) << c.name;
        else
            EXPECT_LT(image.Pixels[0] & 0xFF, image.Pixels[pic.Width * pic.Height - 1] & 0xFF) << c.name;
    }
}

TEST(ImageDecoder, ProtectedAndInProcessDecodesAgree)
{
    InitImageLibrary();
    SDecoderSettings restore;
    TTempDir dir;
    const SImage2D pic = Picture();
    const char* names[4] = {"a.tga", "a.bmp", "a.jpg", "a.dds"};
    const Bytes files[4] = {PictureTga(pic), PictureBmp(pic), Encoded(dir, names[2], pic), Encoded(dir, names[3], pic)};
    for (int i = 0; i < 4; ++i)
    {
        SImage2D guarded, direct;
        std::string said;
        SetImageDecodeInProcess(false);
        ASSERT_EQ(1, DecodeCapturing(names[i], files[i], guarded, said)) << said;
        SetImageDecodeInProcess(true);
        ASSERT_EQ(1, DecodeCapturing(names[i], files[i], direct, said)) << said;
        ASSERT_EQ(guarded.Width, direct.Width);
        ASSERT_EQ(guarded.Height, direct.Height);
        EXPECT_EQ(0, memcmp(guarded.Pixels.data, direct.Pixels.data, guarded.Width * guarded.Height * 4)) << names[i];
    }
}

// Files found by fuzzing the in-process decode on which the image library itself fails, handed
// to the decoder as they are (the header checks refuse all but the last now): its fault stays in
// the decoder process. A read past the library's buffers is caught there only where the decoder
// is built with AddressSanitizer (elsewhere the picture may come back with whatever the library
// made of it); the null pointer comes from uninitialised memory, so it shows in the plain build;
// the endless loops are stopped everywhere. This process goes on either way.
TEST(ImageDecoder, LibraryFaultsStayInTheDecoder)
{
    SDecoderSettings restore;
    // Endless loops are stopped after a short wait; a decoder that fails on its own gets all the
    // time a loaded sanitizer build may need to report and exit.
    const double shortTimeout = 0.5;
    const double failureTimeout = 60.0;
    struct SCase
    {
        const char* name;
        Bytes bytes;
        EImageFileType type;
        u32 width, height;
        // Whether the picture surely fails in a plain build of the decoder and in one with
        // AddressSanitizer (its allocator leaves other values in the library's uninitialised memory).
        bool failsPlain, failsSanitized;
        const char* said;
        double timeout;
    };
    const SCase cases[] = {
        // TGA no longer goes to the library: the decoder refuses the cut-short runs with the reason.
        {"overread.tga", LibraryOverRead(), IFT_TGA, 8, 8, true, true, "TGA cut short after 8 of 64 pixels", failureTimeout},
        // DDS no longer goes to the library: the first face of the partial cube map decodes.
        {"partial.dds", PartialCubeMap(), IFT_DDS, 8, 8, false, false, "", failureTimeout},
        // The JPEG's header is read before the library sees it: the files it looped on are refused.
        {"endless.jpg", Endless(), IFT_JPG, 257, 1, true, true, "the JPEG data are malformed", shortTimeout},
        {"endless2.jpg", EndlessWithGoodMarkers(), IFT_JPG, 8, 8, true, true, "the JPEG data are malformed", shortTimeout},
    };
    for (const SCase& c : cases)
    {
        SetImageDecodeTimeout(c.timeout);
        SImageProbe probe;
        probe.Type = c.type;
        probe.Width = c.width;
        probe.Height = c.height;
        SImage2D image;
        testing::internal::CaptureStderr();
        const int r = DecodeImageProtected(c.bytes.data(), c.bytes.size(), probe, c.name, image);
        const std::string said = testing::internal::GetCapturedStderr();
#if defined(__SANITIZE_ADDRESS__)
        const bool fails = c.failsSanitized;
#else
        const bool fails = c.failsPlain;
#endif
        if (fails)
        {
            EXPECT_EQ(r, -1) << c.name;
            EXPECT_NE(said.find(c.said), std::string::npos) << said;
        }
        else
        {
            EXPECT_TRUE(r == 1 || r == -1) << c.name;
        }
        if (r == 1)
        {
            EXPECT_EQ(image.Width * image.Height, c.width * c.height) << c.name;
        }
    }
    // The last one passes the header checks: loading it as a file fails the same way.
    SImageProbe probe;
    TString reason;
    EXPECT_TRUE(ProbeImageFile(cases[3].bytes.data(), cases[3].bytes.size(), cases[3].name, probe, reason));
    SImage2D image;
    std::string said;
    EXPECT_EQ(-1, DecodeCapturing(cases[3].name, cases[3].bytes, image, said));
    EXPECT_NE(said.find(cases[3].said), std::string::npos) << said;
    // Good pictures still decode after them.
    SetImageDecodeTimeout(failureTimeout);
    const SImage2D pic = Picture();
    ASSERT_EQ(1, DecodeCapturing("p.tga", PictureTga(pic), image, said)) << said;
    EXPECT_EQ(0, memcmp(image.Pixels.data, pic.Pixels.data, pic.Width * pic.Height * 4));
}

// Whatever the decoder does, the caller gets a failure with the cause in words and goes on.
TEST(ImageDecoder, DecoderFaultsCostOnlyThePicture)
{
    SDecoderSettings restore;
    TTempDir dir;
    const Bytes tga = PictureTga(Picture());
    // Only the hanging decoder waits out the timeout; the others end on their own, however slowly
    // a loaded machine starts them.
    const double shortTimeout = 0.3;
    const double endingTimeout = 60.0;
    struct SCase
    {
        std::string program;
        const char* said;
        double timeout;
    };
    const SCase cases[] = {
        {Script(dir, "crash", "kill -SEGV $$"), "the decoder ended with signal 11", endingTimeout},
        {Script(dir, "abort", "kill -ABRT $$"), "the decoder ended with signal 6", endingTimeout},
        {Script(dir, "slow", "kill -XCPU $$"), "the decode took longer than 5 s of processor time", endingTimeout},
        {Script(dir, "hang", "exec sleep 30"), "the decoder did not finish within 0.3 s and was stopped", shortTimeout},
        {Script(dir, "fail", "exit 3"), "the decoder failed with exit code 3", endingTimeout},
        {Script(dir, "silent", "exit 0"), "the decoder handed back 0 bytes, not 1152", endingTimeout},
        {Script(dir, "short", "printf abc"), "the decoder handed back 3 bytes, not 1152", endingTimeout},
        {dir.File("missing"), "cannot start the decoder", endingTimeout},
    };
    for (const SCase& c : cases)
    {
        SetImageDecodeTimeout(c.timeout);
        SetImageDecoderProgram(c.program.c_str());
        SImage2D image;
        std::string said;
        EXPECT_EQ(-1, DecodeCapturing("p.tga", tga, image, said)) << c.program;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
    }
    // The real decoder, found beside the test program as beside plumweave, still decodes.
    SetImageDecoderProgram(nullptr);
    EXPECT_EQ(std::string(ImageDecoderProgram().Str()), std::string(PW_BIN_DIR) + "/" + IMAGE_DECODER_PROGRAM);
    SImage2D image;
    std::string said;
    EXPECT_EQ(1, DecodeCapturing("p.tga", tga, image, said)) << said;
}
