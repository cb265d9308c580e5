#include "PixelChannels.h"

SChannelMask MakeChannelMask(uint32_t mask)
{
    SChannelMask c = {mask, 0, 0};
    if (!mask)
        return c;
    while (!(mask & 1))
    {
        mask >>= 1;
        ++c.Shift;
    }
    while (mask)
    {
        mask >>= 1;
        ++c.Bits;
    }
    return c;
}

uint8_t ExpandBits(uint32_t value, int bits)
{
    if (bits >= 8)
        return (uint8_t)(value >> (bits - 8));
    if (bits <= 0)
        return 0;
    // The value at the top, then copies of it below until the byte is full.
    uint32_t out = 0;
    for (int at = 8 - bits; at > -bits; at -= bits)
        out |= at >= 0 ? value << at : value >> -at;
    return (uint8_t)out;
}

uint8_t ExpandChannel(uint32_t pixel, const SChannelMask& channel, uint8_t absent)
{
    if (!channel.Mask)
        return absent;
    return ExpandBits((pixel & channel.Mask) >> channel.Shift, channel.Bits);
}
