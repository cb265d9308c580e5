// The PNG decoder: any bytes decode without fault or fail; a picture that decodes encodes and
// decodes again to the same size and pixels.
#include "FuzzSupport.h"

#include <string.h>

#include "GArchive.h"
#include "GameImage.h"

namespace
{
std::string Encoded(u32 w, u32 h, u32 seed)
{
    SImage2D img(w, h);
    for (u32 i = 0; i < w * h; ++i)
        img.Pixels[i] = (seed + i) * 2654435761u;
    TPodArray<u8> bytes;
    FByteWriter writer(bytes, 0);
    EncodePNG(img, writer);
    return std::string((const char*)bytes.data, bytes.Count());
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({Encoded(1, 1, 7), Encoded(5, 3, 1), Encoded(16, 16, 99), Encoded(3, 9, 5).substr(0, 40)});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SImage2D img;
    if (DecodePNG(data, (u32)size, img) <= 0)
        return 0;
    if (img.Width == 0 || img.Height == 0 || img.Width > IMG_MAX_DECODE_SIZE || img.Height > IMG_MAX_DECODE_SIZE ||
        img.Pixels.Count() != img.Width * img.Height)
        FuzzFail("a decoded picture has an impossible size");
    TPodArray<u8> bytes;
    FByteWriter writer(bytes, 0);
    if (!EncodePNG(img, writer))
        FuzzFail("a decoded picture does not encode");
    SImage2D back;
    if (DecodePNG(bytes, back) <= 0 || back.Width != img.Width || back.Height != img.Height ||
        memcmp(back.Pixels.data, img.Pixels.data, (size_t)img.Width * img.Height * 4) != 0)
        FuzzFail("a picture changes through encode and decode");
    return 0;
}
