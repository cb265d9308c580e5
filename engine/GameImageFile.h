// Image files beyond the engine's own PNG path: JPG, DDS, TGA, BMP and the other types of the
// DevIL image library, with its export options; loading any image file into a texture and
// saving a texture by the file's extension.
#pragma once

#include "GameImage.h"
#include "GameImageDecoder.h"

class TextureRef;
class STexture;

struct SImageSaveOptions
{
    int JpgQuality;     // 0..99
    int JpgProgressive; // not offered by this library version: asked for, then ignored
    int DxtFormat;      // IL_DXT1 .. IL_DXT5 (0x706 .. 0x70A)
    int RunLength;      // BMP; the library codes only palette BMPs, so 32-bit ones stay plain (TGA is
                        // always written uncompressed: the library's coder is broken)

    SImageSaveOptions() : JpgQuality(90), JpgProgressive(1), DxtFormat(0x70A), RunLength(0) {}
    // Hands the options to the image library.
    void Apply() const;
};

// InitImageLibrary, which starts the image library, lives with the decoder (GameImageDecoder.h).

// Decodes a BMP, TGA, JPG, DDS or PNG file into image (RGBA8, rows from the top, the same way up
// as the PNG decoder). The type comes from the content; the library's types are decoded in the
// protected decoder process. 1 on success; 0 when the file cannot be read; -1 when the content is
// not a picture the program reads or does not decode (the reason in failure when given, else on
// standard error).
int DecodeImageFile(const char* name, SImage2D& image, TString* failure = nullptr);
// The same for the bytes of a file called name.
int DecodeImageBytes(const u8* data, u64 size, const char* name, SImage2D& image, TString* failure = nullptr);
// Writes image, whose rows run from the bottom as GL reads them back, as a file of the type of
// the name's extension through the library, rows flipped when flip is set. Written through a
// temporary file renamed over the target (or taking a free name only, as target says). 1 on
// success, else 0 with the cause in words in failure when given, on standard error when not, and
// in errno when the file could not be written (0 otherwise).
int EncodeImageFile(const char* name, const SImage2D& image, const SImageSaveOptions& options, bool flip,
                    TString* failure = nullptr, EWriteTarget target = WRITE_Replace);

// Loads an image file into ref: PNG through the texture manager (TEXF_RGBA8 | TEXF_NodeOutput),
// other types through the library into a new texture (format RGBA8, TEXF_NodeOutput). 1 on
// success, else 0 with the file and the cause in words in failure when given ("cannot read
// "PATH": No such file or directory"), on standard error when not.
int LoadImageFile(TextureRef& ref, const char* name, TString* failure = nullptr);
// Saves a texture by the name's extension: PNG through TEX_SaveToFile (rows flipped unless
// flip), others through the library. 1 on success, else 0 with the cause as EncodeImageFile gives it.
int SaveImageFile(STexture* tex, const char* name, const SImageSaveOptions& options, bool flip,
                  TString* failure = nullptr, EWriteTarget target = WRITE_Replace);
