#include "PictureDecode.h"

#include <stdio.h>

#include "PixelChannels.h"

namespace
{
const size_t BMP_COMPRESSION_AT = 30;
const uint32_t BMP_INFO_HEADER = 40;
const uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3;
} // namespace

bool BmpDecodedDirectly(const uint8_t* d, size_t size)
{
    if (size < BMP_COMPRESSION_AT + 4)
        return false;
    const uint32_t headerSize = ReadLE32(d + 14), compression = ReadLE32(d + BMP_COMPRESSION_AT);
    return headerSize >= BMP_INFO_HEADER &&
           (compression == BI_RGB || compression == BI_BITFIELDS || compression == BI_RLE8 || compression == BI_RLE4);
}

bool DecodePicture(const void* data, size_t size, int type, uint32_t width, uint32_t height, uint8_t* out,
                   char* error, size_t errorSize)
{
    const uint8_t* d = (const uint8_t*)data;
    switch (type)
    {
    case DFT_TGA: return DecodeTga(d, size, width, height, out, error, errorSize);
    case DFT_DDS: return DecodeDds(d, size, width, height, out, error, errorSize);
    case DFT_BMP:
        if (BmpDecodedDirectly(d, size))
            return DecodeBmp(d, size, width, height, out, error, errorSize);
        break;
    case DFT_JPG: return DecodeJpeg(d, size, width, height, out, error, errorSize);
    default: break;
    }
    return DecodeWithImageLibrary(data, size, type, width, height, out, error, errorSize);
}
