// The image library's decode: JPG other than CMYK and BMP of the 12-byte header.
#include "PictureDecode.h"

#include <IL/il.h>
#include <stdio.h>

static ILenum LibraryType(int type)
{
    switch (type)
    {
    case DFT_BMP: return IL_BMP;
    case DFT_TGA: return IL_TGA;
    case DFT_JPG: return IL_JPG;
    case DFT_DDS: return IL_DDS;
    default: return IL_TYPE_UNKNOWN;
    }
}

// The library's error codes in words, for the failures a file can cause.
static const char* ErrorInWords(ILenum error)
{
    switch (error)
    {
    case IL_OUT_OF_MEMORY: return "out of memory";
    case IL_FORMAT_NOT_SUPPORTED: return "a variant of the format that is not read";
    case IL_ILLEGAL_FILE_VALUE: return "a value in the file is malformed";
    case IL_INVALID_FILE_HEADER: return "a header that is malformed or of a variant that is not read";
    case IL_FILE_READ_ERROR: return "the file is cut short";
    case IL_BAD_DIMENSIONS: return "the picture's size is malformed";
    case IL_INVALID_CONVERSION: return "its pixels cannot be converted to RGBA";
    case IL_LIB_JPEG_ERROR: return "the JPEG data are malformed";
    case IL_NO_ERROR: return "no reason given";
    default: return "an error without a known cause";
    }
}

static void ClearErrors()
{
    for (int i = 0; i < 64 && ilGetError() != IL_NO_ERROR; ++i)
    {
    }
}

bool DecodeWithImageLibrary(const void* data, size_t size, int type, uint32_t width, uint32_t height,
                            uint8_t* out, char* error, size_t errorSize)
{
    const ILenum ilType = LibraryType(type);
    if (ilType == IL_TYPE_UNKNOWN || size > 0xFFFFFFFFu)
    {
        snprintf(error, errorSize, "type %d not decoded by the image library", type);
        return false;
    }
    ClearErrors();
    ILuint img = ilGenImage();
    ilBindImage(img);
    // Pictures come out top row first, as the PNG decoder gives them.
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
    bool ok = false;
    if (!ilLoadL(ilType, data, (ILuint)size))
    {
        const ILenum code = ilGetError();
        snprintf(error, errorSize, "the image library cannot decode it: %s (error 0x%x)", ErrorInWords(code),
                 (unsigned)code);
    }
    else
    {
        const ILint w = ilGetInteger(IL_IMAGE_WIDTH), h = ilGetInteger(IL_IMAGE_HEIGHT);
        if (w != (ILint)width || h != (ILint)height)
            snprintf(error, errorSize, "the image library read %dx%d, the header says %ux%u", (int)w, (int)h,
                     (unsigned)width, (unsigned)height);
        else if (ilCopyPixels(0, 0, 0, width, height, 1, IL_RGBA, IL_UNSIGNED_BYTE, out) == 0 &&
                 ilGetError() != IL_NO_ERROR)
            snprintf(error, errorSize, "the image library cannot convert it to RGBA");
        else
            ok = true;
    }
    ilDisable(IL_ORIGIN_SET);
    ilBindImage(0);
    ilDeleteImage(img);
    ClearErrors();
    return ok;
}
