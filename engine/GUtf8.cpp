#include "GUtf8.h"

u32 UTF_Decode(const char* text, u32 length, u32 at, u32& codePoint)
{
    const unsigned char* p = (const unsigned char*)text + at;
    const u32 n = gSysUtf8Length(text + at, length - at);
    if (n <= 1)
    {
        codePoint = n ? p[0] : UTF_REPLACEMENT;
        return 1;
    }
    u32 cp = p[0] & (0x7F >> n);
    for (u32 i = 1; i < n; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    codePoint = cp;
    return n;
}

u32 UTF_Encode(u32 cp, char* out)
{
    if (cp < 0x80)
    {
        out[0] = (char)cp;
        return 1;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        return 0;
    const u32 n = cp < 0x800 ? 2 : (cp < 0x10000 ? 3 : 4);
    static const unsigned char lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (u32 i = n - 1; i > 0; --i, cp >>= 6)
        out[i] = (char)(0x80 | (cp & 0x3F));
    out[0] = (char)(lead[n] | cp);
    return n;
}

u32 UTF_Next(const char* text, u32 length, u32 at)
{
    if (at >= length)
        return length;
    u32 cp;
    return at + UTF_Decode(text, length, at, cp);
}

u32 UTF_Prev(const char* text, u32 length, u32 at)
{
    if (at == 0)
        return 0;
    // A sequence ending at `at` starts at most UTF_MAX_BYTES back, on a byte that is no
    // continuation byte; anything else was a stray byte of its own.
    u32 start = at - 1;
    while (start > 0 && at - start < UTF_MAX_BYTES && ((unsigned char)text[start] & 0xC0) == 0x80)
        --start;
    u32 cp;
    return UTF_Decode(text, length, start, cp) == at - start ? start : at - 1;
}

u32 UTF_Floor(const char* text, u32 length, u32 at)
{
    if (at >= length)
        return length;
    u32 pos = 0;
    while (pos < at)
    {
        const u32 next = UTF_Next(text, length, pos);
        if (next > at)
            break;
        pos = next;
    }
    return pos;
}
