// The banded PNG writer: pictures of every shape come back bit for bit through the program's
// decoder, and the file is checked apart from libpng (which forgives bytes after the compressed
// stream): each chunk's CRC, the header, and one zlib stream that zlib inflates to exactly the
// filtered rows and ends exactly at the end of the data. Sizes are held against libpng's own
// writer at level 9.
#include "TestSupport.h"

#include <math.h>
#include <png.h>
#include <zlib.h>

#include <set>
#include <string>
#include <vector>

#include "GArchive.h"
#include "GameImage.h"

namespace
{
const u32 RGBA_BYTES = 4;
const u8 PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const u32 IHDR_SIZE = 13;
const u8 BIT_DEPTH_8 = 8;
const u8 COLOR_RGBA = 6;

enum EPicture
{
    PIC_Noise,    // every byte random, alpha too
    PIC_Smooth,   // soft blobs with a little grain, like generated clouds
    PIC_Gradient, // shrinks by hundreds of times
    PIC_Mixed,    // gradient above, noise below: both kinds of band in one stream
};

u32 Lcg(u32& s)
{
    s = s * 1664525u + 1013904223u;
    return s >> 8;
}

SImage2D Picture(EPicture kind, u32 width, u32 height)
{
    SImage2D img(width, height);
    u32 seed = width * 31 + height;
    for (u32 y = 0; y < height; ++y)
        for (u32 x = 0; x < width; ++x)
        {
            u32 texel = 0;
            const bool noise = kind == PIC_Noise || (kind == PIC_Mixed && y >= height / 2);
            if (noise)
                texel = Lcg(seed) ^ (Lcg(seed) << 24);
            else if (kind == PIC_Gradient || kind == PIC_Mixed)
                texel = (x * 255 / width) | ((y * 255 / height) << 8) | (((x + y) / 7 & 0xFF) << 16) | 0xFF000000u;
            else
            {
                const float v = 0.5f + 0.25f * sinf(x * 0.021f) * cosf(y * 0.017f) + 0.2f * sinf((x + 2 * y) * 0.0053f);
                const u32 g = (u32)(v * 200) + (Lcg(seed) & 3);
                texel = g | ((g * 3 / 4) << 8) | ((g / 2) << 16) | 0xFF000000u;
            }
            img.Pixels[y * width + x] = texel;
        }
    return img;
}

u32 Be32(const u8* p)
{
    return ((u32)p[0] << 24) | ((u32)p[1] << 16) | ((u32)p[2] << 8) | p[3];
}

// Walks the chunks; on success idat holds the concatenated IDAT data.
void CheckChunks(const TPodArray<u8>& file, u32 width, u32 height, std::vector<u8>& idat)
{
    ASSERT_GE(file.count, sizeof(PNG_SIGNATURE));
    ASSERT_EQ(0, memcmp(file.data, PNG_SIGNATURE, sizeof(PNG_SIGNATURE)));
    size_t at = sizeof(PNG_SIGNATURE);
    std::vector<std::string> types;
    while (at + 12 <= file.count)
    {
        const u32 size = Be32(file.data + at);
        ASSERT_LE(at + 12 + size, file.count) << "chunk " << types.size() << " overruns the file";
        const u8* type = file.data + at + 4;
        const u32 crc = (u32)crc32(crc32(0, nullptr, 0), type, 4 + size);
        EXPECT_EQ(crc, Be32(type + 4 + size)) << "CRC of chunk " << types.size();
        types.push_back(std::string((const char*)type, 4));
        if (types.back() == "IHDR")
        {
            ASSERT_EQ(IHDR_SIZE, size);
            EXPECT_EQ(width, Be32(type + 4));
            EXPECT_EQ(height, Be32(type + 8));
            EXPECT_EQ(BIT_DEPTH_8, type[12]);
            EXPECT_EQ(COLOR_RGBA, type[13]);
            EXPECT_EQ(0, type[14] | type[15] | type[16]); // deflate, adaptive filters, not interlaced
        }
        if (types.back() == "IDAT")
            idat.insert(idat.end(), type + 4, type + 4 + size);
        at += 12 + size;
    }
    EXPECT_EQ(file.count, at);
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ("IHDR", types.front());
    EXPECT_EQ("IEND", types.back());
    for (size_t i = 1; i + 1 < types.size(); ++i)
        EXPECT_EQ("IDAT", types[i]);
}

// Inflates the stream whole; it must end exactly with the data and yield every filtered row. Where an
// empty stored block (at most 5 bytes) follows a block a band ends; its last byte's spare bits count.
void CheckStream(const std::vector<u8>& idat, u32 width, u32 height, std::set<u32>& spareBits)
{
    const size_t filtered = (size_t)height * (width * RGBA_BYTES + 1);
    std::vector<u8> rows(filtered + 1);
    z_stream z;
    memset(&z, 0, sizeof(z));
    ASSERT_EQ(Z_OK, inflateInit(&z));
    z.next_in = (Bytef*)idat.data();
    z.avail_in = (uInt)idat.size();
    z.next_out = rows.data();
    z.avail_out = (uInt)rows.size();
    uLong blockIn = 0, blockOut = 0, spare = 0;
    int rc;
    while ((rc = inflate(&z, Z_BLOCK)) == Z_OK && (z.data_type & 128))
    {
        if (blockIn && z.total_out == blockOut && z.total_in - blockIn <= 5)
            spareBits.insert(spare);
        spare = z.data_type & 7, blockIn = z.total_in, blockOut = z.total_out;
    }
    EXPECT_EQ(Z_STREAM_END, rc) << z.msg;
    EXPECT_EQ(0u, z.avail_in) << "bytes after the end of the stream";
    EXPECT_EQ(filtered, z.total_out);
    inflateEnd(&z);
    for (u32 y = 0; y < height && z.total_out == filtered; ++y)
        ASSERT_LT(rows[(size_t)y * (width * RGBA_BYTES + 1)], 5) << "filter type of row " << y;
}

struct SRoundTrip
{
    const char* name;
    EPicture kind;
    u32 width;
    u32 height;
};

// Bands are cut from at least half a megabyte of filtered rows (1.25 megabytes where the first rows
// shrink like a gradient's), at most 16 of them.
const SRoundTrip ROUND_TRIPS[] = {
    {"one texel", PIC_Noise, 1, 1},
    {"one row", PIC_Smooth, 300, 1},
    {"one wide row", PIC_Noise, 8192, 1},
    {"wide rows in two bands", PIC_Smooth, 8192, 40},
    {"a band short at the end", PIC_Smooth, 1000, 999},
    {"noise in two bands", PIC_Noise, 640, 517},
    {"gradient in three bands", PIC_Gradient, 1024, 1025},
    {"both kinds of band", PIC_Mixed, 700, 1201},
    {"the most bands", PIC_Noise, 1500, 1501},
    {"one column", PIC_Gradient, 1, 3000},
    {"smooth in the most bands", PIC_Smooth, 1500, 1400},
};

TEST(PngWriteBanded, PicturesComeBackBitForBitFromOneWholeStream)
{
    std::set<u32> spareBits;
    for (const SRoundTrip& c : ROUND_TRIPS)
    {
        SCOPED_TRACE(c.name);
        const SImage2D src = Picture(c.kind, c.width, c.height);
        TPodArray<u8> file;
        FByteWriter writer(file, 0);
        ASSERT_EQ(1, EncodePNG(src, writer));

        std::vector<u8> idat;
        CheckChunks(file, c.width, c.height, idat);
        CheckStream(idat, c.width, c.height, spareBits);

        SImage2D back;
        ASSERT_GT(DecodePNG(file, back), 0);
        ASSERT_EQ(c.width, back.Width);
        ASSERT_EQ(c.height, back.Height);
        EXPECT_EQ(0, memcmp(src.Pixels.data, back.Pixels.data, (size_t)c.width * c.height * RGBA_BYTES));
    }
    // A band may end at any bit of its last byte, and the next band must follow whatever is left.
    EXPECT_EQ(std::set<u32>({0, 1, 2, 3, 4, 5, 6, 7}), spareBits);
}

// The reference: libpng at level 9 with all its filters, as the engine wrote PNG before.
void LibpngWrite(png_structp png, png_bytep data, size_t size)
{
    std::vector<u8>* out = (std::vector<u8>*)png_get_io_ptr(png);
    out->insert(out->end(), data, data + size);
}

void LibpngFlush(png_structp)
{
}

size_t LibpngLevel9Size(const SImage2D& img)
{
    std::vector<u8> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_set_write_fn(png, &out, LibpngWrite, LibpngFlush);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, img.Width, img.Height, BIT_DEPTH_8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (u32 y = 0; y < img.Height; ++y)
        png_write_row(png, (png_const_bytep)(img.Pixels.data + (size_t)y * img.Width));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out.size();
}

struct SSizeCase
{
    const char* name;
    EPicture kind;
    u32 side;
    double mostOfLibpng; // largest size allowed, as a share of libpng's
};

// Smooth pictures come out markedly smaller; where libdeflate cannot gain (a gradient in several
// bands, incompressible noise) the file stays within a percent of libpng's.
const SSizeCase SIZE_CASES[] = {
    {"smooth, two bands", PIC_Smooth, 512, 0.95},
    {"gradient, three bands", PIC_Gradient, 1024, 1.01},
    {"noise, two bands", PIC_Noise, 512, 1.01},
};

TEST(PngWriteBanded, FilesAreSmallerThanLibpngsLevelNineOrWithinAPercent)
{
    for (const SSizeCase& c : SIZE_CASES)
    {
        SCOPED_TRACE(c.name);
        const SImage2D src = Picture(c.kind, c.side, c.side);
        TPodArray<u8> file;
        FByteWriter writer(file, 0);
        ASSERT_EQ(1, EncodePNG(src, writer));
        SImage2D back;
        ASSERT_GT(DecodePNG(file, back), 0);
        EXPECT_EQ(0, memcmp(src.Pixels.data, back.Pixels.data, (size_t)c.side * c.side * RGBA_BYTES));
        const size_t reference = LibpngLevel9Size(src);
        ASSERT_GT(reference, 0u);
        EXPECT_LE((double)file.count, reference * c.mostOfLibpng) << file.count << " bytes against " << reference;
    }
}

} // namespace

