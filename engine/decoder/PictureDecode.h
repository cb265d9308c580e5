// Decoding a picture in the decoder program (or in the engine's in-process switch): the formats
// whose variants the image library gets wrong are decoded here (TGA, DDS, plain, bit-field and
// run-length BMP, JPG), the rest by the library. No engine types, so that the decoder program
// links these, the library and its codecs alone.
#pragma once

#include <stddef.h>
#include <stdint.h>

// File types as the engine's probe names them, in the probe's order.
enum EDecodeFileType
{
    DFT_BMP = 2,
    DFT_TGA = 3,
    DFT_JPG = 4,
    DFT_DDS = 5,
};

// Processor seconds a decode of a picture of the given size may take before it is stopped (the
// decoders loop without end on some malformed files). Small pictures get the base; the rest grows
// with the pixels, leaving room for a machine whose other cores are busy: the slowest coding,
// an 8192 x 8192 progressive JPEG in arithmetic coding, takes about 8 s on a quiet one.
inline uint32_t DecodeCpuSeconds(uint32_t width, uint32_t height)
{
    const uint32_t BASE_SECONDS = 5;
    const uint64_t PIXELS_PER_SECOND = (uint64_t)2 << 20;
    return BASE_SECONDS + (uint32_t)((uint64_t)width * height / PIXELS_PER_SECOND);
}

// Decodes size bytes of a file of the given type into out, width x height RGBA8 pixels, top row
// first. The library must be started (ilInit). The picture must have exactly the size the probe
// read from the header. True on success; else false with the reason in error.
bool DecodePicture(const void* data, size_t size, int type, uint32_t width, uint32_t height, uint8_t* out,
                   char* error, size_t errorSize);

// The decoders behind it, each for a file of its type with the given size; false with the
// reason in error when the file is not one they read.
bool DecodeTga(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
               size_t errorSize);
bool DecodeDds(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
               size_t errorSize);
// Plain (1 to 32 bits), bit-field (16, 32 bits) and run-length (8, 4 bits) BMPs with headers of 40
// bytes and longer; pixels a run-length picture skips are transparent black.
bool DecodeBmp(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
               size_t errorSize);
// True for a BMP that DecodeBmp reads (the rest goes to the library).
bool BmpDecodedDirectly(const uint8_t* data, size_t size);
// JPGs of one (grey), three (colour) or four (CMYK, YCCK) components as RGB with alpha 255. A
// picture whose data end before its last row or whose coded data are damaged is refused with
// libjpeg's warning, not filled in; stray bytes after its last row are not damage.
bool DecodeJpeg(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
                size_t errorSize);
// The image library's decode.
bool DecodeWithImageLibrary(const void* data, size_t size, int type, uint32_t width, uint32_t height,
                            uint8_t* out, char* error, size_t errorSize);
