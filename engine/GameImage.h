// CPU images: the RGBA8 picture SImage2D, the PNG codec over libpng, the separable resampler of
// texture levels, and saving an image by the file's extension.
#pragma once

#include "GameFileIO.h"
#include "GameSys.h"
#include "GString.h"
#include "GTemplate.h"

class FByteWriter;

// A picture in main memory that decoders fill: they set its size, then write RGBA8 texels
// (red in the low byte, rows from the top) through GetData.
class SImageInterface
{
public:
    virtual void* GetData() = 0;
    virtual void SetSize(u32 width, u32 height, u32 depth, u32 sides) = 0;
    virtual const void* GetData() const = 0;
    virtual u32 GetWidth() const = 0;
    virtual u32 GetHeight() const = 0;
    virtual u32 GetDepth() const = 0;
    virtual u32 GetSides() const = 0;
    // Deleting through the interface must free the whole image.
    virtual ~SImageInterface() {}
};

// A plain RGBA8 picture: one 32-bit word per pixel, red in the low byte, rows from the top.
class SImage2D : public SImageInterface
{
public:
    u32 Width;
    u32 Height;
    TPodArray<u32> Pixels;

    SImage2D() : Width(0), Height(0) {}
    SImage2D(u32 width, u32 height);

    // Changes the size; with keep the old pixels stay at their (x, y) and new ones are 0.
    // Returns false (size unchanged) when width x height pixels cannot be held.
    bool Resize(u32 width, u32 height, bool keep);

    void* GetData() override { return Pixels.data; }
    void SetSize(u32 width, u32 height, u32 depth, u32 sides) override;
    const void* GetData() const override { return Pixels.data; }
    u32 GetWidth() const override { return Width; }
    u32 GetHeight() const override { return Height; }
    u32 GetDepth() const override { return 1; }
    u32 GetSides() const override { return 1; }
};

// The texture manager's CPU image: RGBA8 texels of Layers slices (cube faces) of Depth slices of
// Width x Height, each slice's rows from the top.
class STexImage : public SImageInterface
{
public:
    TPodArray<u8> Data;
    u32 Width;
    u32 Height;
    u32 Depth;
    u32 Layers;

    STexImage() : Width(0), Height(0), Depth(0), Layers(0) {}

    void* GetData() override { return Data.data; }
    // Sizes the byte data to width x height x depth x sides texels; a size that cannot be held
    // leaves an empty image.
    void SetSize(u32 width, u32 height, u32 depth, u32 sides) override;
    const void* GetData() const override { return Data.data; }
    u32 GetWidth() const override { return Width; }
    u32 GetHeight() const override { return Height; }
    u32 GetDepth() const override { return Depth; }
    u32 GetSides() const override { return Layers; }
};

// Image type codes by file extension.
enum
{
    IMG_Unknown = 0,
    IMG_PNG = 1,
    IMG_DDS = 2,
};

// Largest width and height the PNG decoder accepts.
static const u32 IMG_MAX_DECODE_SIZE = 8192;

// From the last three characters of the name, case-insensitive; names shorter than 3 are unknown.
u32 ImageTypeFromExtension(const char* name);

// Decodes a PNG into image (RGBA8, rows from the top). Positive on success, 0 on failure
// (malformed or truncated data, a size above IMG_MAX_DECODE_SIZE).
// With reason, a failure is told in words there (cut short, too large, malformed and how).
int DecodePNG(const u8* bytes, u32 size, SImageInterface& image, TString* reason = nullptr);
int DecodePNG(const TPodArray<u8>& bytes, SImageInterface& image, TString* reason = nullptr);
// True when the bytes held a picture that decoded.
bool DecodeImage(const TPodArray<u8>& bytes, SImageInterface& image);

// Encodes image (its first slice) as an 8-bit RGBA PNG through writer: at the strongest
// compression, on all processors (PngWriteBanded), unless a zlib level below 9 is asked for.
// 1 on success, 0 on failure.
int EncodePNG(const SImageInterface& image, FByteWriter& writer, int level = 9);
// Empties bytes, then encodes by type (only IMG_PNG is supported). 1 on success, else 0.
int EncodeImage(const SImageInterface& image, TPodArray<u8>& bytes, u32 type);
// Encodes by the name's extension (PNG only) and writes the file only when the encoding
// succeeded, through a temporary file renamed over the target (or taking a free name only, as
// target says). 1 on success, else 0.
int SaveImage(const char* name, const SImageInterface& image, EWriteTarget target = WRITE_Replace);

// Resamples every layer of image in place to width x height x depth with separable linear
// passes along x, then y, then z. Zero sizes are refused (false, image unchanged).
bool ResizeImage(STexImage& image, u32 width, u32 height, u32 depth);
// Reverses the row order of every slice.
void FlipImageRows(STexImage& image);
// Reverses the row order of an RGBA8 picture.
void FlipImageRows(SImage2D& image);
