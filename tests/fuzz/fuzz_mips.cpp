// The ".mips" cache reader: any cache file beside a 4 x 4 PNG is read without fault; a level it
// hands out is one of the chain's, and its bytes are what the cache holds for it.
#include "FuzzSupport.h"

#include <string.h>

#include "GArchive.h"
#include "GameImage.h"
#include "GameTexture.h"

namespace
{
const u32 SIDE = 4;
const u32 CHAIN = 3; // 4 x 4, 2 x 2, 1 x 1
const u32 MAX_LEVEL_ASKED = 5;

std::string Png(u32 side)
{
    SImage2D img(side, side);
    for (u32 i = 0; i < side * side; ++i)
        img.Pixels[i] = 0xFF000000u | (i * 0x010203u);
    TPodArray<u8> bytes;
    FByteWriter writer(bytes, 0);
    EncodePNG(img, writer);
    return std::string((const char*)bytes.data, bytes.Count());
}

// A cache as the texture manager writes it: six big-endian header words, then a length and a
// PNG per level below the image.
std::string Cache(u32 version, u32 w, u32 h, u32 levels, bool truncated)
{
    std::string c = FuzzBE32(version) + FuzzBE32(w) + FuzzBE32(h) + FuzzBE32(1) + FuzzBE32(1) + FuzzBE32(levels);
    for (u32 side = SIDE / 2, l = 1; l < levels; side /= 2, ++l)
    {
        const std::string png = Png(side ? side : 1);
        c += FuzzBE32((u32)png.size()) + png;
    }
    return truncated ? c.substr(0, c.size() - 3) : c;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({Cache(1, SIDE, SIDE, CHAIN, false), Cache(1, SIDE, SIDE, CHAIN, true), Cache(2, SIDE, SIDE, CHAIN, false),
               Cache(1, 8192, 8192, 14, false)});
    const std::string image = Png(SIDE);
    FuzzWriteFile(FuzzDir() + "/t.png", (const uint8_t*)image.data(), image.size());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string file = FuzzDir() + "/t.png";
    FuzzWriteFile(file + ".mips", data, size);
    for (u32 asked = 1; asked <= MAX_LEVEL_ASKED; ++asked)
    {
        STexture tex;
        TPodArray<u8> bytes;
        u32 level = asked;
        if (!TEX_LoadMip(file.c_str(), level, bytes, tex))
            continue;
        if (level > asked || tex.Width == 0 || tex.Height == 0)
            FuzzFail("the cache handed out a level outside its chain");
        // Level 0 is the image file itself; any other level's bytes lie inside the cache.
        // No record is empty: an empty one holds no picture, and memmem must not see a null needle.
        if (level > 0 &&
            (bytes.Count() == 0 || bytes.Count() > size || !memmem(data, size, bytes.data, bytes.Count())))
            FuzzFail("the cache handed out bytes it does not hold");
        SImage2D img;
        DecodePNG(bytes, img);
    }
    return 0;
}
