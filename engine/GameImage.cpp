#include "GameImage.h"

#include <math.h>
#include <stdio.h>
#include <png.h>
#include <setjmp.h>

#include "GArchive.h"
#include "GMath.h"
#include "GameFileIO.h"
#include "GamePngWrite.h"

// ---------------------------------------------------------------------------------------------
// SImage2D

SImage2D::SImage2D(u32 width, u32 height) : Width(0), Height(0)
{
    Resize(width, height, false);
}

bool SImage2D::Resize(u32 width, u32 height, bool keep)
{
    if (width == Width && height == Height)
        return true;
    u32 maxW = width > Width ? width : Width;
    u32 maxH = height > Height ? height : Height;
    if ((u64)maxW * maxH > TEMPLATE_MAX_COUNT || !Pixels.Resize(maxW * maxH))
        return false;
    u32* p = Pixels.data;
    u32 rows = height < Height ? height : Height;
    if (width != Width && rows > 0)
    {
        u32 keepW = width < Width ? width : Width;
        // Growing rows move from the last so that no row overwrites one not yet moved.
        if (width > Width)
            for (u32 r = rows; r-- > 0;)
                gMemMove(p + (size_t)r * width, p + (size_t)r * Width, (size_t)keepW * 4);
        else
            for (u32 r = 0; r < rows; ++r)
                gMemMove(p + (size_t)r * width, p + (size_t)r * Width, (size_t)keepW * 4);
    }
    if (keep)
    {
        if (width > Width)
            for (u32 r = 0; r < rows; ++r)
                gMemSet(p + (size_t)r * width + Width, 0, (size_t)(width - Width) * 4);
        if (height > Height)
            gMemSet(p + (size_t)Height * width, 0, (size_t)(height - Height) * width * 4);
    }
    Pixels.Resize(width * height);
    Width = width;
    Height = height;
    return true;
}

void SImage2D::SetSize(u32 width, u32 height, u32 depth, u32 sides)
{
    BREAK_IF(depth > 1 || sides > 1);
    Resize(width, height, false);
}

// ---------------------------------------------------------------------------------------------
// STexImage

void STexImage::SetSize(u32 width, u32 height, u32 depth, u32 sides)
{
    u64 bytes = (u64)width * height * depth * sides * 4;
    if (bytes > TEMPLATE_MAX_COUNT || !Data.Resize((u32)bytes))
    {
        Data.Clear();
        Width = Height = Depth = Layers = 0;
        return;
    }
    Width = width;
    Height = height;
    Depth = depth;
    Layers = sides;
}

// ---------------------------------------------------------------------------------------------
// Types

u32 ImageTypeFromExtension(const char* name)
{
    if (!name)
        return IMG_Unknown;
    size_t n = gStrLen(name);
    if (n < 3)
        return IMG_Unknown;
    char ext[4];
    for (int i = 0; i < 3; ++i)
    {
        char c = name[n - 3 + i];
        ext[i] = gIsUpper((unsigned char)c) ? (char)(c - 'A' + 'a') : c;
    }
    ext[3] = 0;
    if (gStrEqual(ext, "png"))
        return IMG_PNG;
    if (gStrEqual(ext, "dds"))
        return IMG_DDS;
    return IMG_Unknown;
}

// ---------------------------------------------------------------------------------------------
// PNG codec. libpng reports errors by a long jump back into the coding function, so nothing
// with a destructor lives in those functions and every buffer is reachable from the state.

struct SPngReadState
{
    const u8* Data;
    size_t Size;
    size_t At;
    bool CutShort;       // a read wanted bytes past the end of the data
    char Message[128];   // libpng's text of the error that ended the decode
};

static png_voidp PngAlloc(png_structp, png_alloc_size_t size)
{
    return MemAlloc(size);
}

static void PngFree(png_structp, png_voidp p)
{
    MemFree(p);
}

static void PngError(png_structp png, png_const_charp message)
{
    if (SPngReadState* state = (SPngReadState*)png_get_error_ptr(png))
        snprintf(state->Message, sizeof(state->Message), "%s", message ? message : "");
    png_longjmp(png, 1);
}

static void PngWarning(png_structp, png_const_charp)
{
}

static void PngRead(png_structp png, png_bytep out, size_t size)
{
    SPngReadState* pd = (SPngReadState*)png_get_io_ptr(png);
    // A short file is malformed input: fail the decode without touching bytes past the end.
    if (!pd || pd->Size - pd->At < size)
    {
        if (pd)
            pd->CutShort = true;
        png_error(png, "read past the end of the data");
    }
    gMemCpy(out, pd->Data + pd->At, size);
    pd->At += size;
}

static void PngWrite(png_structp png, png_bytep data, size_t size)
{
    FByteWriter* w = (FByteWriter*)png_get_io_ptr(png);
    if (size > 0xFFFFFFFFu || !w->Serialize(data, (u32)size, 1))
        png_error(png, "write failed");
}

static void PngFlush(png_structp)
{
}

// The part of the decode that libpng may leave by a long jump.
static int DecodePNGRows(png_structp png, png_infop info, SImageInterface& image)
{
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    if (width == 0 || height == 0 || width > IMG_MAX_DECODE_SIZE || height > IMG_MAX_DECODE_SIZE)
        return 0;

    png_set_strip_16(png);
    // Palette to RGB, packed grey to bytes, tRNS to an alpha channel.
    png_set_expand(png);
    png_set_packing(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)width * 4)
        return 0;

    image.SetSize(width, height, 1, 1);
    u8* pixels = (u8*)image.GetData();
    if (!pixels || image.GetWidth() != width || image.GetHeight() != height)
        return 0;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, pixels + (size_t)y * width * 4, nullptr);
    png_read_end(png, nullptr);
    return 1;
}

// The long jump of a libpng error lands here, where no local changes after it is set.
static int DecodePNGGuarded(png_structp png, png_infop info, SImageInterface& image)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return 0;
    return DecodePNGRows(png, info, image);
}

int DecodePNG(const u8* bytes, u32 size, SImageInterface& image, TString* reason)
{
    TString unused;
    TString& why = reason ? *reason : unused;
    why = "";
    if (!bytes || size < 8 || png_sig_cmp(bytes, 0, 8) != 0)
    {
        why = size == 0 ? "the file is empty" : "not a PNG file";
        return 0;
    }
    SPngReadState state = {bytes, size, 0, false, {0}};
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning,
                                               nullptr, PngAlloc, PngFree);
    if (!png)
    {
        why = "out of memory";
        return 0;
    }
    png_infop info = png_create_info_struct(png);
    if (!info)
    {
        png_destroy_read_struct(&png, nullptr, nullptr);
        why = "out of memory";
        return 0;
    }
    png_set_read_fn(png, &state, PngRead);
    png_set_user_limits(png, IMG_MAX_DECODE_SIZE, IMG_MAX_DECODE_SIZE);
    const int result = DecodePNGGuarded(png, info, image);
    png_destroy_read_struct(&png, &info, nullptr);
    if (result)
        return result;
    // The header's size sits at a fixed place: signature, chunk length and type, then IHDR.
    const u32 IHDR_SIZE_AT = 16;
    u32 width = 0, height = 0;
    if (size >= IHDR_SIZE_AT + 8)
    {
        const u8* d = bytes + IHDR_SIZE_AT;
        width = (u32)d[0] << 24 | (u32)d[1] << 16 | (u32)d[2] << 8 | d[3];
        height = (u32)d[4] << 24 | (u32)d[5] << 16 | (u32)d[6] << 8 | d[7];
    }
    if (state.CutShort)
        why.Format(96, "PNG cut short: the data ends after %u bytes", size);
    else if (width > IMG_MAX_DECODE_SIZE || height > IMG_MAX_DECODE_SIZE)
        why.Format(96, "too large: %ux%u, the limit is %u each way", width, height, IMG_MAX_DECODE_SIZE);
    else if (state.Message[0])
        why.Format(192, "PNG data malformed: %s", state.Message);
    else
        why = "PNG data malformed";
    return 0;
}

int DecodePNG(const TPodArray<u8>& bytes, SImageInterface& image, TString* reason)
{
    return DecodePNG(bytes.data, bytes.count, image, reason);
}

bool DecodeImage(const TPodArray<u8>& bytes, SImageInterface& image)
{
    return DecodePNG(bytes, image) > 0;
}

static void EncodePNGRows(png_structp png, png_infop info, const SImageInterface& image, int level)
{
    u32 width = image.GetWidth(), height = image.GetHeight();
    png_set_compression_level(png, level >= 0 && level <= 9 ? level : 9);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const u8* pixels = (const u8*)image.GetData();
    for (u32 y = 0; y < height; ++y)
        png_write_row(png, pixels + (size_t)y * width * 4);
    png_write_end(png, nullptr);
}

int EncodePNG(const SImageInterface& image, FByteWriter& writer, int level)
{
    if (image.GetWidth() == 0 || image.GetHeight() == 0 || !image.GetData())
        return 0;
    if (level < 0 || level >= 9)
        return PngWriteBanded((const u8*)image.GetData(), image.GetWidth(), image.GetHeight(), writer);
    png_structp png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning,
                                                nullptr, PngAlloc, PngFree);
    if (!png)
        return 0;
    png_infop info = png_create_info_struct(png);
    if (!info)
    {
        png_destroy_write_struct(&png, nullptr);
        return 0;
    }
    png_set_write_fn(png, &writer, PngWrite, PngFlush);
    int result = 0;
    if (setjmp(png_jmpbuf(png)) == 0)
    {
        EncodePNGRows(png, info, image, level);
        result = 1;
    }
    png_destroy_write_struct(&png, &info);
    return result;
}

int EncodeImage(const SImageInterface& image, TPodArray<u8>& bytes, u32 type)
{
    bytes.Resize(0);
    if (type != IMG_PNG)
        return 0;
    FByteWriter writer(bytes, 0);
    if (!EncodePNG(image, writer))
    {
        bytes.Resize(0);
        return 0;
    }
    return 1;
}

int SaveImage(const char* name, const SImageInterface& image, EWriteTarget target)
{
    u32 type = ImageTypeFromExtension(name);
    if (type != IMG_PNG)
        return 0;
    TPodArray<u8> bytes;
    if (!EncodeImage(image, bytes, type))
        return 0;
    return WriteArrayToBinaryFile(name, bytes, target) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Resampling

// One linear pass: runs of n texels, stride apart (in texels), become runs of m texels; count
// runs start at runStart(k). Source and destination are separate buffers.
struct SResamplePass
{
    TPodArray<u32> I0, I1;
    TPodArray<float> W;

    void Setup(u32 n, u32 m)
    {
        I0.Resize(m);
        I1.Resize(m);
        W.Resize(m);
        for (u32 i = 0; i < m; ++i)
        {
            double p = (double)i * n / m;
            u32 i0 = (u32)floor(p);
            if (i0 > n - 1)
                i0 = n - 1;
            u32 i1 = i0 + 1 < n ? i0 + 1 : n - 1;
            I0[i] = i0;
            I1[i] = i1;
            W[i] = (float)fmod(p - i0 + 0.5, 1.0);
        }
    }
};

static inline u32 BlendTexel(u32 a, u32 b, float w)
{
    float v = 1.0f - w;
    u32 out = 0;
    for (int c = 0; c < 32; c += 8)
    {
        float f = (float)((a >> c) & 0xFF) * w + (float)((b >> c) & 0xFF) * v + 0.5f;
        u32 q = (u32)f;
        out |= (q > 255 ? 255 : q) << c;
    }
    return out;
}

// Resamples along one axis. The image holds outer x n x inner texels (n along the axis,
// inner texels between two neighbours along it); the result holds outer x m x inner texels.
static void ResamplePass(const u32* src, u32* dst, u32 outer, u32 n, u32 m, u32 inner)
{
    SResamplePass pass;
    pass.Setup(n, m);
    for (u32 o = 0; o < outer; ++o)
    {
        const u32* s = src + (size_t)o * n * inner;
        u32* d = dst + (size_t)o * m * inner;
        for (u32 i = 0; i < m; ++i)
        {
            const u32* r0 = s + (size_t)pass.I0[i] * inner;
            const u32* r1 = s + (size_t)pass.I1[i] * inner;
            float w = pass.W[i];
            u32* out = d + (size_t)i * inner;
            if (r0 == r1 || w >= 1.0f)
                gMemCpy(out, r0, (size_t)inner * 4);
            else
                for (u32 k = 0; k < inner; ++k)
                    out[k] = BlendTexel(r0[k], r1[k], w);
        }
    }
}

bool ResizeImage(STexImage& image, u32 width, u32 height, u32 depth)
{
    if (width == 0 || height == 0 || depth == 0)
        return false;
    u32 w = image.Width, h = image.Height, d = image.Depth, layers = image.Layers;
    if (w == 0 || h == 0 || d == 0 || layers == 0)
        return false;
    if ((u64)image.Data.count < (u64)w * h * d * layers * 4)
        return false;
    if (w == width && h == height && d == depth)
        return true;
    u64 biggest = (u64)(w > width ? w : width) * (h > height ? h : height) * (d > depth ? d : depth) * layers * 4;
    if (biggest > TEMPLATE_MAX_COUNT)
        return false;

    TPodArray<u8> other;
    TPodArray<u8>* cur = &image.Data;
    TPodArray<u8>* next = &other;
    if (w != width)
    {
        next->Resize((u32)((u64)width * h * d * layers * 4));
        ResamplePass((const u32*)cur->data, (u32*)next->data, h * d * layers, w, width, 1);
        w = width;
        TPodArray<u8>* t = cur; cur = next; next = t;
    }
    if (h != height)
    {
        next->Resize((u32)((u64)w * height * d * layers * 4));
        ResamplePass((const u32*)cur->data, (u32*)next->data, d * layers, h, height, w);
        h = height;
        TPodArray<u8>* t = cur; cur = next; next = t;
    }
    if (d != depth)
    {
        next->Resize((u32)((u64)w * h * depth * layers * 4));
        ResamplePass((const u32*)cur->data, (u32*)next->data, layers, d, depth, w * h);
        d = depth;
        TPodArray<u8>* t = cur; cur = next; next = t;
    }
    if (cur != &image.Data)
    {
        // Hand the result's storage over without a copy.
        TPodArray<u8> tmp;
        tmp.data = image.Data.data; tmp.capacity = image.Data.capacity; tmp.count = image.Data.count;
        image.Data.data = cur->data; image.Data.capacity = cur->capacity; image.Data.count = cur->count;
        cur->data = tmp.data; cur->capacity = tmp.capacity; cur->count = tmp.count;
        tmp.data = nullptr; tmp.capacity = tmp.count = 0;
    }
    image.Data.Resize((u32)((u64)w * h * d * layers * 4));
    image.Width = w;
    image.Height = h;
    image.Depth = d;
    return true;
}

static void FlipRows(u8* pixels, u32 rowBytes, u32 rows, u8* scratch)
{
    for (u32 a = 0, b = rows ? rows - 1 : 0; a < b; ++a, --b)
    {
        gMemCpy(scratch, pixels + (size_t)a * rowBytes, rowBytes);
        gMemCpy(pixels + (size_t)a * rowBytes, pixels + (size_t)b * rowBytes, rowBytes);
        gMemCpy(pixels + (size_t)b * rowBytes, scratch, rowBytes);
    }
}

void FlipImageRows(STexImage& image)
{
    u32 rowBytes = image.Width * 4;
    u64 slices = (u64)image.Depth * image.Layers;
    if (rowBytes == 0 || image.Height < 2 || (u64)image.Data.count < slices * image.Height * rowBytes)
        return;
    TPodArray<u8> scratch;
    scratch.Resize(rowBytes);
    for (u64 s = 0; s < slices; ++s)
        FlipRows(image.Data.data + s * image.Height * rowBytes, rowBytes, image.Height, scratch.data);
}

void FlipImageRows(SImage2D& image)
{
    u32 rowBytes = image.Width * 4;
    if (rowBytes == 0 || image.Height < 2 || image.Pixels.count < (u64)image.Width * image.Height)
        return;
    TPodArray<u8> scratch;
    scratch.Resize(rowBytes);
    FlipRows((u8*)image.Pixels.data, rowBytes, image.Height, scratch.data);
}

// ---------------------------------------------------------------------------------------------
// Float images

void FloatImage::SampleBilinear(mVec4& out, float u, float v) const
{
    out = mVec4();
    if (BREAK_IF(u < 0.0f || u > 1.0f || v < 0.0f || v > 1.0f))
        return;
    if (u != u || v != v || Width == 0 || Height == 0 || (u64)Data.count < (u64)Width * Height)
        return;
    float x = u * (float)(Width - 1), y = v * (float)(Height - 1);
    float fx0 = floorf(x), fy0 = floorf(y);
    u32 x0 = (u32)fx0, y0 = (u32)fy0, x1 = (u32)ceilf(x), y1 = (u32)ceilf(y);
    x0 = x0 < Width ? x0 : Width - 1;
    x1 = x1 < Width ? x1 : Width - 1;
    y0 = y0 < Height ? y0 : Height - 1;
    y1 = y1 < Height ? y1 : Height - 1;
    float fx = x - fx0, fy = y - fy0;
    const mVec4* d = Data.data;
    const mVec4& c00 = d[(size_t)y0 * Width + x0];
    const mVec4& c10 = d[(size_t)y0 * Width + x1];
    const mVec4& c01 = d[(size_t)y1 * Width + x0];
    const mVec4& c11 = d[(size_t)y1 * Width + x1];
    auto lerp = [](float a, float b, float t) { return a + (b - a) * t; };
    out.x = lerp(lerp(c00.x, c10.x, fx), lerp(c01.x, c11.x, fx), fy);
    out.y = lerp(lerp(c00.y, c10.y, fx), lerp(c01.y, c11.y, fx), fy);
    out.z = lerp(lerp(c00.z, c10.z, fx), lerp(c01.z, c11.z, fx), fy);
    out.w = lerp(lerp(c00.w, c10.w, fx), lerp(c01.w, c11.w, fx), fy);
}
