// Channels packed into pixel words by bit masks (16-bit TGA, BMP bit fields, uncompressed DDS),
// widened to 8 bits by repeating their high bits, so that a full 5- or 6-bit channel is 255 and
// every decoder of such files agrees on the same bytes. No engine types: the decoder program
// links these alone.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct SChannelMask
{
    uint32_t Mask;
    int Shift;
    int Bits;
};

// The mask's lowest set bit and its width (a mask with gaps counts from its lowest to its
// highest bit).
SChannelMask MakeChannelMask(uint32_t mask);
// The channel of pixel widened to 8 bits; absent when the mask is empty.
uint8_t ExpandChannel(uint32_t pixel, const SChannelMask& channel, uint8_t absent);
// A value of bits bits (1..8) widened to 8 bits.
uint8_t ExpandBits(uint32_t value, int bits);

// Little-endian reads.
inline uint32_t ReadLE16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
inline uint32_t ReadLE32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
// A little-endian value of 1 to 4 bytes.
inline uint32_t ReadLE(const uint8_t* p, uint32_t bytes)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        v |= (uint32_t)p[i] << (8 * i);
    return v;
}

// One RGBA8 pixel as the engine stores it: red in the low byte.
inline void PutRGBA(uint8_t* out, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    out[0] = r;
    out[1] = g;
    out[2] = b;
    out[3] = a;
}
