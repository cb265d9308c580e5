#include "PictureDecode.h"

#include <squish.h>
#include <stdio.h>
#include <string.h>

#include "PixelChannels.h"

namespace
{
const size_t DDS_DATA_AT = 128; // the magic and the 124-byte header
const uint32_t DDPF_ALPHAPIXELS = 0x1, DDPF_ALPHA = 0x2, DDPF_FOURCC = 0x4, DDPF_RGB = 0x40;
const uint32_t DDPF_LUMINANCE = 0x20000;
const uint32_t BLOCK_SIDE = 4;
const uint32_t DXT1_BLOCK_BYTES = 8, DXT_BLOCK_BYTES = 16;

// The premultiplied codings (DXT2, DXT4) store colour times alpha: divided back out.
void Unpremultiply(uint8_t* rgba, uint64_t pixels)
{
    for (uint64_t i = 0; i < pixels; ++i, rgba += 4)
        if (rgba[3] != 0 && rgba[3] != 255)
            for (int c = 0; c < 3; ++c)
            {
                const uint32_t v = (rgba[c] * 255u + rgba[3] / 2u) / rgba[3];
                rgba[c] = (uint8_t)(v > 255 ? 255 : v);
            }
}

bool DecodeBlocks(const uint8_t* d, size_t size, uint32_t w, uint32_t h, char coding, uint8_t* out, char* error,
                  size_t errorSize)
{
    const int flags = coding == '1' ? squish::kDxt1 : (coding == '2' || coding == '3') ? squish::kDxt3 : squish::kDxt5;
    const uint64_t blocks = (uint64_t)((w + BLOCK_SIDE - 1) / BLOCK_SIDE) * ((h + BLOCK_SIDE - 1) / BLOCK_SIDE);
    const uint64_t bytes = blocks * (coding == '1' ? DXT1_BLOCK_BYTES : DXT_BLOCK_BYTES);
    if (size - DDS_DATA_AT < bytes)
    {
        snprintf(error, errorSize, "DDS cut short: %llu bytes of blocks needed", (unsigned long long)bytes);
        return false;
    }
    squish::DecompressImage(out, (int)w, (int)h, d + DDS_DATA_AT, flags);
    if (coding == '2' || coding == '4')
        Unpremultiply(out, (uint64_t)w * h);
    return true;
}

bool DecodeMasked(const uint8_t* d, size_t size, uint32_t w, uint32_t h, uint32_t pfFlags, uint32_t bits,
                  uint8_t* out, char* error, size_t errorSize)
{
    const uint32_t texelBytes = bits / 8;
    if (bits % 8 != 0 || texelBytes < 1 || texelBytes > 4)
    {
        snprintf(error, errorSize, "DDS pixel format of %u bits not read", bits);
        return false;
    }
    const uint64_t bytes = (uint64_t)w * h * texelBytes;
    if (size - DDS_DATA_AT < bytes)
    {
        snprintf(error, errorSize, "DDS cut short: %llu bytes of pixels needed", (unsigned long long)bytes);
        return false;
    }
    uint32_t rMask = ReadLE32(d + 92), gMask = ReadLE32(d + 96), bMask = ReadLE32(d + 100);
    const uint32_t aMask = (pfFlags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) ? ReadLE32(d + 104) : 0;
    const bool luminance = (pfFlags & DDPF_LUMINANCE) != 0;
    // Writers that leave the colour masks empty mean the usual byte order (blue first).
    if ((pfFlags & DDPF_RGB) && !rMask && !gMask && !bMask && texelBytes >= 3)
    {
        rMask = 0xFF0000;
        gMask = 0xFF00;
        bMask = 0xFF;
    }
    if (!(pfFlags & DDPF_RGB) && !luminance)
        rMask = gMask = bMask = 0; // alpha only
    const SChannelMask r = MakeChannelMask(rMask), g = MakeChannelMask(gMask), b = MakeChannelMask(bMask);
    const SChannelMask a = MakeChannelMask(aMask);
    const uint8_t* p = d + DDS_DATA_AT;
    for (uint64_t i = 0; i < (uint64_t)w * h; ++i, p += texelBytes, out += 4)
    {
        const uint32_t v = ReadLE(p, texelBytes);
        const uint8_t red = ExpandChannel(v, r, 0);
        const uint8_t alpha = ExpandChannel(v, a, 255);
        if (luminance)
            PutRGBA(out, red, red, red, alpha);
        else
            PutRGBA(out, red, ExpandChannel(v, g, 0), ExpandChannel(v, b, 0), alpha);
    }
    return true;
}
} // namespace

// Decodes the first surface (level 0, first face) of a DDS file.
bool DecodeDds(const uint8_t* d, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
               size_t errorSize)
{
    if (size < DDS_DATA_AT || memcmp(d, "DDS ", 4) != 0)
    {
        snprintf(error, errorSize, "DDS header cut short or malformed");
        return false;
    }
    const uint32_t h = ReadLE32(d + 12), w = ReadLE32(d + 16);
    if (w != width || h != height)
    {
        snprintf(error, errorSize, "DDS of %ux%u where %ux%u was expected", w, h, width, height);
        return false;
    }
    const uint32_t pfFlags = ReadLE32(d + 80), bits = ReadLE32(d + 88);
    if (pfFlags & DDPF_FOURCC)
    {
        const uint8_t* cc = d + 84;
        if (memcmp(cc, "DXT", 3) != 0 || cc[3] < '1' || cc[3] > '5')
        {
            snprintf(error, errorSize, "DDS coding not read");
            return false;
        }
        return DecodeBlocks(d, size, w, h, (char)cc[3], out, error, errorSize);
    }
    if (!(pfFlags & (DDPF_RGB | DDPF_LUMINANCE | DDPF_ALPHA)))
    {
        snprintf(error, errorSize, "DDS pixel format (flags 0x%x) not read", pfFlags);
        return false;
    }
    return DecodeMasked(d, size, w, h, pfFlags, bits, out, error, errorSize);
}
