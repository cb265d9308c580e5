#include "PictureDecode.h"

#include <stdio.h>
#include <string.h>

#include "PixelChannels.h"

namespace
{
const size_t BMP_FILE_HEADER = 14;
const uint32_t BMP_INFO_HEADER = 40;
const uint32_t BMP_ALPHA_MASK_HEADER = 56; // the smallest header that holds an alpha mask
const uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
// Where the colour masks are: inside the longer headers, right after the 40-byte one.
const size_t MASKS_AT = BMP_FILE_HEADER + BMP_INFO_HEADER;
const uint32_t RGB555[3] = {0x7C00, 0x03E0, 0x001F};
const uint32_t BGRX[3] = {0xFF0000, 0xFF00, 0xFF};
const uint32_t BGRX_ALPHA = 0xFF000000u;
const uint32_t PALETTE_ENTRY = 4;
// Run-length escapes: a count of 0 followed by one of these.
const uint8_t RLE_END_OF_LINE = 0, RLE_END_OF_PICTURE = 1, RLE_DELTA = 2;

// The index of pixel i of a run whose bytes start at p: 8-bit runs hold one per byte, 4-bit runs
// two, the high nibble first.
uint32_t RunIndex(const uint8_t* p, uint32_t i, uint32_t bpp)
{
    return bpp == 8 ? p[i] : (i % 2 == 0 ? p[i / 2] >> 4 : p[i / 2] & 0x0F);
}

// Run-length rows (8- and 4-bit), from the bottom. Pixels the codes pass over (a delta, an early
// end of line or of the picture) are transparent black; pixels past the width are dropped.
bool DecodeRunLength(const uint8_t* d, size_t size, size_t at, uint32_t width, uint32_t height, uint32_t bpp,
                     const uint8_t* palette, uint32_t paletteCount, uint8_t* out, char* error, size_t errorSize)
{
    memset(out, 0, (size_t)width * height * 4);
    uint64_t x = 0, y = 0;
    // Puts count pixels of the run at p; a repeated run repeats the indices of its one byte.
    auto put = [&](const uint8_t* p, uint32_t count, bool repeated) {
        for (uint32_t i = 0; i < count; ++i, ++x)
        {
            const uint32_t index = RunIndex(p, repeated ? i % (8 / bpp) : i, bpp);
            if (index >= paletteCount)
            {
                snprintf(error, errorSize, "BMP colour index %u outside the palette of %u colours", index, paletteCount);
                return false;
            }
            if (x >= width)
                continue;
            const uint8_t* c = palette + (size_t)index * PALETTE_ENTRY;
            PutRGBA(out + ((size_t)(height - 1 - y) * width + x) * 4, c[2], c[1], c[0], 255);
        }
        return true;
    };
    while (y < height)
    {
        if (size - at < 2)
        {
            snprintf(error, errorSize, "BMP run-length data cut short in row %llu", (unsigned long long)y);
            return false;
        }
        const uint8_t count = d[at], code = d[at + 1];
        at += 2;
        if (count > 0)
        {
            // An 8-bit run repeats its index; a 4-bit run alternates the two nibbles of its byte.
            if (!put(&d[at - 1], count, true))
                return false;
            continue;
        }
        if (code == RLE_END_OF_PICTURE)
            return true;
        if (code == RLE_END_OF_LINE)
        {
            x = 0;
            ++y;
            continue;
        }
        const size_t bytes = code == RLE_DELTA ? 2 : ((size_t)code * bpp + 7) / 8;
        // Absolute runs are padded to a whole number of 16-bit words.
        const size_t taken = code == RLE_DELTA ? 2 : (bytes + 1) & ~(size_t)1;
        if (size - at < taken)
        {
            snprintf(error, errorSize, "BMP run-length data cut short in row %llu", (unsigned long long)y);
            return false;
        }
        if (code == RLE_DELTA)
        {
            x += d[at];
            y += d[at + 1];
        }
        else if (!put(&d[at], code, false))
            return false;
        at += taken;
    }
    return true;
}
} // namespace

bool DecodeBmp(const uint8_t* d, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
               size_t errorSize)
{
    if (size < MASKS_AT)
    {
        snprintf(error, errorSize, "BMP header cut short");
        return false;
    }
    const size_t pixelsAt = ReadLE32(d + 10);
    const uint32_t headerSize = ReadLE32(d + 14);
    const int32_t w = (int32_t)ReadLE32(d + 18), hSigned = (int32_t)ReadLE32(d + 22);
    const uint32_t bpp = ReadLE16(d + 28), compression = ReadLE32(d + 30), coloursUsed = ReadLE32(d + 46);
    const bool topDown = hSigned < 0;
    const uint32_t h = topDown ? 0u - (uint32_t)hSigned : (uint32_t)hSigned;
    if (w <= 0 || (uint32_t)w != width || h != height)
    {
        snprintf(error, errorSize, "BMP of %dx%u where %ux%u was expected", w, h, width, height);
        return false;
    }
    const bool plain = compression == BI_RGB && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32);
    const bool fields = compression == BI_BITFIELDS && (bpp == 16 || bpp == 32);
    const bool runLength = !topDown && ((compression == BI_RLE8 && bpp == 8) || (compression == BI_RLE4 && bpp == 4));
    if (headerSize < BMP_INFO_HEADER || (!plain && !fields && !runLength))
    {
        snprintf(error, errorSize, "BMP coding %u at %u bits with a %u-byte header not read here", compression, bpp,
                 headerSize);
        return false;
    }
    const uint64_t rowBytes = ((uint64_t)width * bpp + 31) / 32 * 4;
    if (pixelsAt > size || (!runLength && size - pixelsAt < rowBytes * h))
    {
        snprintf(error, errorSize, "BMP cut short: %llu bytes of pixels needed from byte %llu",
                 (unsigned long long)(rowBytes * h), (unsigned long long)pixelsAt);
        return false;
    }
    // Palette pictures: the colours follow the header.
    const uint8_t* palette = d + BMP_FILE_HEADER + headerSize;
    uint32_t paletteCount = 0;
    if (bpp <= 8)
    {
        paletteCount = coloursUsed ? coloursUsed : 1u << bpp;
        const size_t paletteAt = BMP_FILE_HEADER + headerSize;
        if (paletteAt > size || (size - paletteAt) / PALETTE_ENTRY < paletteCount)
        {
            snprintf(error, errorSize, "BMP cut short in its palette of %u colours", paletteCount);
            return false;
        }
    }
    if (runLength)
        return DecodeRunLength(d, size, pixelsAt, width, h, bpp, palette, paletteCount, out, error, errorSize);
    uint32_t masks[4] = {0, 0, 0, 0};
    if (fields)
    {
        if (size < MASKS_AT + 12)
        {
            snprintf(error, errorSize, "BMP cut short in its bit fields");
            return false;
        }
        for (int i = 0; i < 3; ++i)
            masks[i] = ReadLE32(d + MASKS_AT + 4 * i);
        if (headerSize >= BMP_ALPHA_MASK_HEADER)
            masks[3] = ReadLE32(d + MASKS_AT + 12);
    }
    else if (bpp == 16)
        memcpy(masks, RGB555, sizeof(RGB555));
    else if (bpp >= 24)
    {
        memcpy(masks, BGRX, sizeof(BGRX));
        // The fourth byte of plain 32-bit pixels is alpha where any pixel sets it; pictures that
        // leave it 0 throughout are opaque.
        if (bpp == 32)
            for (uint32_t y = 0; y < h && !masks[3]; ++y)
                for (uint32_t x = 0; x < width; ++x)
                    if (d[pixelsAt + y * rowBytes + x * 4 + 3])
                    {
                        masks[3] = BGRX_ALPHA;
                        break;
                    }
    }
    const SChannelMask r = MakeChannelMask(masks[0]), g = MakeChannelMask(masks[1]), b = MakeChannelMask(masks[2]);
    const SChannelMask a = MakeChannelMask(masks[3]);
    for (uint32_t fileRow = 0; fileRow < h; ++fileRow)
    {
        const uint8_t* row = d + pixelsAt + fileRow * rowBytes;
        uint8_t* o = out + (size_t)(topDown ? fileRow : h - 1 - fileRow) * width * 4;
        for (uint32_t x = 0; x < width; ++x, o += 4)
        {
            if (bpp <= 8)
            {
                const uint32_t bit = x * bpp;
                const uint32_t index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                if (index >= paletteCount)
                {
                    snprintf(error, errorSize, "BMP colour index %u outside the palette of %u colours", index,
                             paletteCount);
                    return false;
                }
                const uint8_t* c = palette + (size_t)index * PALETTE_ENTRY;
                PutRGBA(o, c[2], c[1], c[0], 255);
                continue;
            }
            const uint32_t v = ReadLE(row + (size_t)x * (bpp / 8), bpp / 8);
            PutRGBA(o, ExpandChannel(v, r, 0), ExpandChannel(v, g, 0), ExpandChannel(v, b, 0), ExpandChannel(v, a, 255));
        }
    }
    return true;
}
