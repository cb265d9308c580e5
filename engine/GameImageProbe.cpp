#include "GameImageProbe.h"

#include <strings.h>

#include "GameImage.h"

namespace
{
// Bytes of the fixed headers.
const u64 BMP_FILE_HEADER = 14;
const u32 BMP_CORE_HEADER = 12;
const u32 BMP_INFO_HEADER = 40;
const u64 TGA_HEADER = 18;
const u64 DDS_HEADER = 128; // the magic and the 124-byte header
const u32 DDS_HEADER_SIZE_FIELD = 124;
const u32 DDS_PF_SIZE_FIELD = 32;
const u64 PNG_IHDR_END = 24;  // signature, chunk length and type, width and height

// BMP compression codes
const u32 BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
// TGA image types
const u8 TGA_MAPPED = 1, TGA_TRUE = 2, TGA_GREY = 3, TGA_RLE_MAPPED = 9, TGA_RLE_TRUE = 10, TGA_RLE_GREY = 11;
// DDS pixel format flags and caps
const u32 DDPF_ALPHA = 0x2, DDPF_FOURCC = 0x4, DDPF_RGB = 0x40, DDPF_LUMINANCE = 0x20000;
const u32 DDSCAPS2_CUBEMAP = 0x200, DDSCAPS2_FACE_FIRST = 0x400, DDSCAPS2_FACE_LAST = 0x8000;
const u32 DDSCAPS2_VOLUME = 0x200000;
const u32 DDS_CUBE_FACES = 6;


u32 LE16(const u8* p) { return (u32)p[0] | ((u32)p[1] << 8); }
u32 LE32(const u8* p) { return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24); }
u32 BE16(const u8* p) { return ((u32)p[0] << 8) | (u32)p[1]; }
u32 BE32(const u8* p) { return ((u32)p[0] << 24) | ((u32)p[1] << 16) | ((u32)p[2] << 8) | (u32)p[3]; }

bool EndsWith(const char* name, const char* suffix)
{
    size_t n = name ? strlen(name) : 0, s = strlen(suffix);
    return n >= s && strcasecmp(name + n - s, suffix) == 0;
}

bool SizeInRange(u64 w, u64 h, TString& reason)
{
    if (w >= 1 && h >= 1 && w <= IMG_MAX_DECODE_SIZE && h <= IMG_MAX_DECODE_SIZE)
        return true;
    if (w == 0 || h == 0)
        reason.Format(128, "no pixels: size %llux%llu", (unsigned long long)w, (unsigned long long)h);
    else
        reason.Format(128, "too large: %llux%llu, the limit is %u each way", (unsigned long long)w,
                      (unsigned long long)h, IMG_MAX_DECODE_SIZE);
    return false;
}

bool HoldsData(u64 size, u64 start, u64 needed, TString& reason)
{
    if (start <= size && size - start >= needed)
        return true;
    reason.Format(160, "the header announces %llu bytes of pixels from byte %llu, the file holds %llu bytes",
                  (unsigned long long)needed, (unsigned long long)start, (unsigned long long)size);
    return false;
}

// The info headers of the format's versions: 40 bytes, then with the colour masks (52), the
// alpha mask (56), colour space (108) and colour profile (124).
bool BmpHeaderRead(u32 headerSize)
{
    static const u32 sizes[] = {BMP_INFO_HEADER, 52, 56, 108, 124};
    for (u32 s : sizes)
        if (headerSize == s)
            return true;
    return false;
}

bool ProbeBMP(const u8* d, u64 size, SImageProbe& probe, TString& reason)
{
    if (size < BMP_FILE_HEADER + BMP_CORE_HEADER)
    {
        reason = "BMP header cut short";
        return false;
    }
    const u64 pixelStart = LE32(d + 10);
    const u32 headerSize = LE32(d + 14);
    s64 w = 0, h = 0;
    u32 bpp = 0, compression = BI_RGB;
    if (headerSize == BMP_CORE_HEADER)
    {
        w = LE16(d + 18);
        h = LE16(d + 20);
        bpp = LE16(d + 24);
    }
    else if (BmpHeaderRead(headerSize) && size >= BMP_FILE_HEADER + BMP_INFO_HEADER)
    {
        w = (s32)LE32(d + 18);
        h = (s32)LE32(d + 22);
        bpp = LE16(d + 28);
        compression = LE32(d + 30);
    }
    else
    {
        reason.Format(64, "BMP header of %u bytes not read", headerSize);
        return false;
    }
    const bool topDown = h < 0;
    const u64 rows = (u64)(topDown ? -h : h);
    if (!SizeInRange(w < 0 ? 0 : (u64)w, rows, reason))
        return false;
    const bool known = (compression == BI_RGB && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32)) ||
                       (compression == BI_RLE8 && bpp == 8 && !topDown) ||
                       (compression == BI_RLE4 && bpp == 4 && !topDown) ||
                       (compression == BI_BITFIELDS && (bpp == 16 || bpp == 32));
    if (!known)
    {
        reason.Format(64, "BMP coding %u at %u bits not read", compression, bpp);
        return false;
    }
    // The run-length codings are read with the 40-byte header only.
    if ((compression == BI_RLE8 || compression == BI_RLE4) && headerSize != BMP_INFO_HEADER)
    {
        reason.Format(96, "BMP run-length coding with a %u-byte header not read", headerSize);
        return false;
    }
    // A palette holds at most one colour per pixel value (the image library allocates whatever
    // count the header gives).
    const u32 coloursUsed = headerSize >= BMP_INFO_HEADER ? LE32(d + 46) : 0;
    if (bpp <= 8 && coloursUsed > (1u << bpp))
    {
        reason.Format(64, "BMP palette of %u colours for %u bits", coloursUsed, bpp);
        return false;
    }
    if (pixelStart < BMP_FILE_HEADER + headerSize || pixelStart >= size)
    {
        reason = "BMP pixel data outside the file";
        return false;
    }
    // Run-length data may skip pixels, so only plain rows have a size to check.
    if (compression == BI_RGB || compression == BI_BITFIELDS)
    {
        const u64 rowBytes = ((u64)w * bpp + 31) / 32 * 4;
        if (!HoldsData(size, pixelStart, rowBytes * rows, reason))
            return false;
    }
    probe.Type = IFT_BMP;
    probe.Width = (u32)w;
    probe.Height = (u32)rows;
    return true;
}

// Walks the run-length packets from start: each is a count byte, then one pixel repeated (high
// bit set) or as many pixels as it counts. They must cover the picture inside the file.
bool TgaRunsCover(const u8* d, u64 size, u64 start, u64 pixels, u64 pixelBytes, TString& reason)
{
    u64 at = start, covered = 0;
    while (covered < pixels)
    {
        if (at >= size)
        {
            reason.Format(128, "TGA run-length data ends after %llu of %llu pixels", (unsigned long long)covered,
                          (unsigned long long)pixels);
            return false;
        }
        const u8 packet = d[at++];
        const u64 count = (u64)(packet & 0x7F) + 1;
        const u64 bytes = (packet & 0x80) ? pixelBytes : count * pixelBytes;
        if (size - at < bytes)
        {
            reason.Format(128, "TGA run-length packet cut short after %llu of %llu pixels", (unsigned long long)covered,
                          (unsigned long long)pixels);
            return false;
        }
        at += bytes;
        covered += count;
    }
    return true;
}

bool ProbeTGA(const u8* d, u64 size, SImageProbe& probe, TString& reason)
{
    if (size < TGA_HEADER)
    {
        reason = "TGA header cut short";
        return false;
    }
    const u32 idLength = d[0], mapType = d[1], type = d[2];
    const u32 mapLength = LE16(d + 5), mapBits = d[7];
    const u32 w = LE16(d + 12), h = LE16(d + 14), depth = d[16];
    const bool mapped = type == TGA_MAPPED || type == TGA_RLE_MAPPED;
    const bool trueColour = type == TGA_TRUE || type == TGA_RLE_TRUE;
    const bool grey = type == TGA_GREY || type == TGA_RLE_GREY;
    const bool mapOk = mapType == 0 || (mapType == 1 && (mapBits == 15 || mapBits == 16 || mapBits == 24 || mapBits == 32));
    const bool depthOk = (mapped && mapType == 1 && mapLength > 0 && (depth == 8 || depth == 16)) ||
                         (trueColour && (depth == 15 || depth == 16 || depth == 24 || depth == 32)) ||
                         (grey && (depth == 8 || depth == 16));
    if (!mapOk || !depthOk)
    {
        reason.Format(96, "not a TGA header the format allows (type %u, %u bits, colour map %u)", type, depth, mapType);
        return false;
    }
    if (!SizeInRange(w, h, reason))
        return false;
    const u64 pixelBytes = (depth + 7) / 8;
    const u64 start = TGA_HEADER + idLength + (mapType ? (u64)mapLength * ((mapBits + 7) / 8) : 0);
    const u64 pixels = (u64)w * h;
    if (type < TGA_RLE_MAPPED)
    {
        if (!HoldsData(size, start, pixels * pixelBytes, reason))
            return false;
    }
    else if (!TgaRunsCover(d, size, start, pixels, pixelBytes, reason))
        return false;
    probe.Type = IFT_TGA;
    probe.Width = w;
    probe.Height = h;
    return true;
}

// Walks the segments from the start of image: a frame header must come, with its size, then the
// picture data and its end (the image library loops without end on files that stop before).
bool ProbeJPG(const u8* d, u64 size, SImageProbe& probe, TString& reason)
{
    bool frameSeen = false;
    u64 at = 2;
    for (;;)
    {
        while (at < size && d[at] == 0xFF)
            ++at; // fill bytes before a marker
        if (at >= size || d[at - 1] != 0xFF)
            break;
        const u8 marker = d[at++];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue; // markers without a segment
        if (marker == 0xDA && frameSeen)
        {
            // Inside the coded data a 0xFF byte is followed only by 0 or a restart marker, so the
            // first end-of-image marker after it ends the picture.
            for (u64 i = at; i + 1 < size; ++i)
                if (d[i] == 0xFF && d[i + 1] == 0xD9)
                {
                    probe.Type = IFT_JPG;
                    return true;
                }
            reason = "JPG cut short: no end of the picture data";
            return false;
        }
        if (marker == 0xD9 || marker == 0xDA || at + 2 > size)
            break;
        const u32 length = BE16(d + at);
        if (length < 2)
            break;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && !frameSeen)
        {
            if (length < 8 || at + 8 > size)
                break;
            const u32 h = BE16(d + at + 3), w = BE16(d + at + 5), components = d[at + 7];
            if (components != 1 && components != 3 && components != 4)
            {
                reason.Format(64, "JPG with %u colour components not read", components);
                return false;
            }
            if (!SizeInRange(w, h, reason))
                return false;
            probe.Width = w;
            probe.Height = h;
            frameSeen = true;
        }
        at += length;
    }
    reason = frameSeen ? "JPG without picture data" : "JPG without a frame header";
    return false;
}

bool ProbeDDS(const u8* d, u64 size, SImageProbe& probe, TString& reason)
{
    if (size < DDS_HEADER || LE32(d + 4) != DDS_HEADER_SIZE_FIELD || LE32(d + 76) != DDS_PF_SIZE_FIELD)
    {
        reason = "DDS header cut short or malformed";
        return false;
    }
    const u32 h = LE32(d + 12), w = LE32(d + 16);
    const u32 mipCount = LE32(d + 28);
    const u32 pfFlags = LE32(d + 80), bits = LE32(d + 88), caps2 = LE32(d + 112);
    // The image library takes a depth above 1 for a volume even without the header's flags.
    const u32 depth = LE32(d + 24);
    if ((caps2 & DDSCAPS2_VOLUME) || depth > 1)
    {
        reason.Format(64, "DDS volume textures not read (depth %u)", depth);
        return false;
    }
    if (!SizeInRange(w, h, reason))
        return false;
    // Bytes of one level of w x h: 4 x 4 blocks when compressed, else whole texels.
    u64 blockBytes = 0, texelBytes = 0;
    if (pfFlags & DDPF_FOURCC)
    {
        const u8* cc = d + 84;
        if (memcmp(cc, "DXT", 3) != 0 || cc[3] < '1' || cc[3] > '5')
        {
            reason.Format(64, "DDS coding \"%c%c%c%c\" not read", cc[0] >= 32 && cc[0] < 127 ? cc[0] : '?',
                          cc[1] >= 32 && cc[1] < 127 ? cc[1] : '?', cc[2] >= 32 && cc[2] < 127 ? cc[2] : '?',
                          cc[3] >= 32 && cc[3] < 127 ? cc[3] : '?');
            return false;
        }
        blockBytes = cc[3] == '1' ? 8 : 16;
    }
    else if ((pfFlags & (DDPF_RGB | DDPF_LUMINANCE | DDPF_ALPHA)) && (bits == 8 || bits == 16 || bits == 24 || bits == 32))
        texelBytes = bits / 8;
    else
    {
        reason.Format(64, "DDS pixel format (flags 0x%x, %u bits) not read", pfFlags, bits);
        return false;
    }
    // The header announces every level of the mip chain and, for a cube map, every face: all of
    // them must be in the file.
    u32 chain = 1;
    for (u32 m = w > h ? w : h; m > 1; m >>= 1)
        ++chain;
    const u32 mips = mipCount ? mipCount : 1;
    if (mips > chain)
    {
        reason.Format(96, "DDS announces %u mip levels, a %ux%u picture has %u", mips, w, h, chain);
        return false;
    }
    // The image library crashes on cube maps that lack faces: only whole ones are read.
    u32 faces = 1;
    if (caps2 & DDSCAPS2_CUBEMAP)
    {
        faces = 0;
        for (u32 bit = DDSCAPS2_FACE_FIRST; bit <= DDSCAPS2_FACE_LAST; bit <<= 1)
            faces += (caps2 & bit) ? 1 : 0;
        if (faces != DDS_CUBE_FACES)
        {
            reason.Format(64, "DDS cube map with %u of %u faces not read", faces, DDS_CUBE_FACES);
            return false;
        }
    }
    u64 needed = 0;
    for (u32 level = 0, lw = w, lh = h; level < mips; ++level)
    {
        needed += blockBytes ? (u64)((lw + 3) / 4) * ((lh + 3) / 4) * blockBytes : (u64)lw * lh * texelBytes;
        lw = lw > 1 ? lw / 2 : 1;
        lh = lh > 1 ? lh / 2 : 1;
    }
    needed *= faces;
    if (!HoldsData(size, DDS_HEADER, needed, reason))
        return false;
    probe.Type = IFT_DDS;
    probe.Width = w;
    probe.Height = h;
    return true;
}

bool ProbePNG(const u8* d, u64 size, SImageProbe& probe, TString& reason)
{
    if (size < PNG_IHDR_END || memcmp(d + 12, "IHDR", 4) != 0)
    {
        reason = "PNG without its header";
        return false;
    }
    const u32 w = BE32(d + 16), h = BE32(d + 20);
    if (!SizeInRange(w, h, reason))
        return false;
    probe.Type = IFT_PNG;
    probe.Width = w;
    probe.Height = h;
    return true;
}
} // namespace

const u8 PNG_FILE_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

const char* ImageFileTypeName(EImageFileType type)
{
    static const char* const names[] = {"unknown", "PNG", "BMP", "TGA", "JPG", "DDS"};
    return (u32)type < sizeof(names) / sizeof(names[0]) ? names[type] : names[0];
}

bool ProbeImageFile(const u8* data, u64 size, const char* name, SImageProbe& probe, TString& reason)
{
    probe = SImageProbe();
    reason = "";
    if (!data)
        size = 0;
    bool ok = false;
    if (size >= sizeof(PNG_FILE_SIGNATURE) && memcmp(data, PNG_FILE_SIGNATURE, sizeof(PNG_FILE_SIGNATURE)) == 0)
        ok = ProbePNG(data, size, probe, reason);
    else if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        ok = ProbeJPG(data, size, probe, reason);
    else if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        ok = ProbeBMP(data, size, probe, reason);
    else if (size >= 4 && memcmp(data, "DDS ", 4) == 0)
        ok = ProbeDDS(data, size, probe, reason);
    else if (EndsWith(name, ".tga"))
        ok = ProbeTGA(data, size, probe, reason);
    else if (size == 0)
        reason = "the file is empty";
    else
        reason = "not an image: not a BMP, TGA, JPG, DDS or PNG file";
    if (!ok)
        probe = SImageProbe();
    return ok;
}
