#include "ImageLibraryDecode.h"

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
        snprintf(error, errorSize, "the image library cannot decode it (error 0x%x)", (unsigned)ilGetError());
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
