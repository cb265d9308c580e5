// The one call into the image library that decodes a picture, shared by the decoder program
// (where it normally runs) and the engine's in-process switch. It uses no engine types, so that
// the decoder program links the image library and nothing else.
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

// Decodes size bytes of a file of the given type into out, width x height RGBA8 pixels, top row
// first. The library must be started (ilInit). The picture must have exactly the size the probe
// read from the header. True on success; else false with the reason in error.
bool DecodeWithImageLibrary(const void* data, size_t size, int type, uint32_t width, uint32_t height,
                            uint8_t* out, char* error, size_t errorSize);
