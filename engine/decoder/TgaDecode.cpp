#include "PictureDecode.h"

#include <stdio.h>
#include <string.h>

#include "PixelChannels.h"

namespace
{
const size_t TGA_HEADER = 18;
const uint8_t TGA_MAPPED = 1, TGA_GREY = 3;
const uint8_t TGA_RLE_FIRST = 9;
const uint8_t TGA_TYPE_CODING = 7;     // the type without its run-length bit
const uint8_t TGA_ORIGIN_RIGHT = 0x10; // descriptor: columns from the right
const uint8_t TGA_ORIGIN_TOP = 0x20;   // descriptor: rows from the top
const uint8_t TGA_ATTRIBUTE_BITS = 0x0F;
const uint32_t TGA_ALPHA_BIT = 0x8000;

// One colour of the given bits (a pixel or a colour-map entry) as RGBA8. 16-bit colours carry
// one bit of alpha only where the descriptor announces attribute bits.
void Colour(const uint8_t* p, uint32_t bits, bool grey, bool attribute, uint8_t* out)
{
    if (grey)
    {
        PutRGBA(out, p[0], p[0], p[0], bits == 16 ? p[1] : 255);
        return;
    }
    switch (bits)
    {
    case 15:
    case 16:
    {
        const uint32_t v = ReadLE16(p);
        const uint8_t a = (bits == 16 && attribute) ? ((v & TGA_ALPHA_BIT) ? 255 : 0) : 255;
        PutRGBA(out, ExpandBits((v >> 10) & 31, 5), ExpandBits((v >> 5) & 31, 5), ExpandBits(v & 31, 5), a);
        return;
    }
    case 24: PutRGBA(out, p[2], p[1], p[0], 255); return;
    default: PutRGBA(out, p[2], p[1], p[0], p[3]); return;
    }
}
} // namespace

bool DecodeTga(const uint8_t* d, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
               size_t errorSize)
{
    if (size < TGA_HEADER)
    {
        snprintf(error, errorSize, "TGA header cut short");
        return false;
    }
    const uint32_t idLength = d[0], mapType = d[1], type = d[2];
    const uint32_t mapFirst = ReadLE16(d + 3), mapLength = ReadLE16(d + 5), mapBits = d[7];
    const uint32_t w = ReadLE16(d + 12), h = ReadLE16(d + 14), depth = d[16], descriptor = d[17];
    const uint32_t coding = type & TGA_TYPE_CODING;
    const bool rle = type >= TGA_RLE_FIRST;
    const bool mapped = coding == TGA_MAPPED, grey = coding == TGA_GREY;
    const bool attribute = (descriptor & TGA_ATTRIBUTE_BITS) != 0;
    if (w != width || h != height)
    {
        snprintf(error, errorSize, "TGA of %ux%u where %ux%u was expected", w, h, width, height);
        return false;
    }
    const bool depthOk = mapped ? (mapType == 1 && (depth == 8 || depth == 16))
                                : grey ? (depth == 8 || depth == 16)
                                       : (depth == 15 || depth == 16 || depth == 24 || depth == 32);
    const bool mapOk = !mapped || mapBits == 15 || mapBits == 16 || mapBits == 24 || mapBits == 32;
    if (!depthOk || !mapOk || coding < TGA_MAPPED || coding > TGA_GREY)
    {
        snprintf(error, errorSize, "TGA variant not read (type %u, %u bits)", type, depth);
        return false;
    }
    const uint32_t mapEntryBytes = (mapBits + 7) / 8;
    const size_t mapAt = TGA_HEADER + idLength;
    const size_t mapBytes = mapType ? (size_t)mapLength * mapEntryBytes : 0;
    if (mapAt + mapBytes > size)
    {
        snprintf(error, errorSize, "TGA cut short in its colour map");
        return false;
    }
    const uint8_t* map = d + mapAt;
    const uint32_t pixelBytes = (depth + 7) / 8;
    size_t at = mapAt + mapBytes;
    const uint64_t count = (uint64_t)w * h;
    uint64_t done = 0;
    uint32_t run = 0;      // pixels left in the current packet
    bool repeat = false;   // the current packet repeats one pixel
    const uint8_t* pixel = nullptr;
    while (done < count)
    {
        if (rle && run == 0)
        {
            if (at >= size)
                break;
            const uint8_t packet = d[at++];
            run = (packet & 0x7F) + 1u;
            repeat = (packet & 0x80) != 0;
            pixel = nullptr;
        }
        if (!pixel || !repeat)
        {
            if (size - at < pixelBytes)
                break;
            pixel = d + at;
            at += pixelBytes;
        }
        uint8_t rgba[4];
        if (mapped)
        {
            const uint32_t index = ReadLE(pixel, pixelBytes);
            if (index < mapFirst || index - mapFirst >= mapLength)
            {
                snprintf(error, errorSize, "TGA colour index %u outside the colour map (%u entries from %u)", index,
                         mapLength, mapFirst);
                return false;
            }
            Colour(map + (size_t)(index - mapFirst) * mapEntryBytes, mapBits, false, attribute, rgba);
        }
        else
            Colour(pixel, depth, grey, attribute, rgba);
        // File order is rows from the bottom unless the descriptor says top, columns from the left
        // unless it says right.
        const uint32_t fileRow = (uint32_t)(done / w), fileColumn = (uint32_t)(done % w);
        const uint32_t row = (descriptor & TGA_ORIGIN_TOP) ? fileRow : h - 1 - fileRow;
        const uint32_t column = (descriptor & TGA_ORIGIN_RIGHT) ? w - 1 - fileColumn : fileColumn;
        memcpy(out + ((size_t)row * w + column) * 4, rgba, 4);
        ++done;
        if (rle)
            --run;
    }
    if (done < count)
    {
        snprintf(error, errorSize, "TGA cut short after %llu of %llu pixels", (unsigned long long)done,
                 (unsigned long long)count);
        return false;
    }
    return true;
}
