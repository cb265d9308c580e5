// Recognising an image file by its content before any decoder sees it: the type from its
// signature and header, the picture size checked against the decode limit, and for data of a
// fixed size the bytes the header announces checked against the bytes the file holds.
#pragma once

#include "GString.h"
#include "GameSys.h"

// The file types the program reads. PNG goes to the engine's own decoder, the others to the
// decoder program (GameImageDecoder.h).
enum EImageFileType
{
    IFT_Unknown = 0,
    IFT_PNG,
    IFT_BMP,
    IFT_TGA,
    IFT_JPG,
    IFT_DDS,
};

struct SImageProbe
{
    EImageFileType Type;
    u32 Width;
    u32 Height;

    SImageProbe() : Type(IFT_Unknown), Width(0), Height(0) {}
};

// The eight bytes every PNG file starts with.
extern const u8 PNG_FILE_SIGNATURE[8];

// Name of a type for messages ("BMP").
const char* ImageFileTypeName(EImageFileType type);

// Looks at the bytes of a file called name. TGA has no signature: it is taken only when the
// name ends in ".tga" and the header is one the format allows. True when the file is of a type
// the program reads with a size of 1..IMG_MAX_DECODE_SIZE each way and holds at least the data
// its header announces; else false with the reason in words.
bool ProbeImageFile(const u8* data, u64 size, const char* name, SImageProbe& probe, TString& reason);
