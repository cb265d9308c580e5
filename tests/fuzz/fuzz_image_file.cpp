// The image-file decode through the protected path: the first byte picks the name the bytes are
// presented under; whatever they hold, the call returns (the library's faults stay in the decoder
// process), and a picture that loads has the size its header gives, within the decode limit.
#include "FuzzSupport.h"

#include "GameFileIO.h"
#include "GameImageDecoder.h"
#include "GameImageFile.h"
#include "GameImageProbe.h"

namespace
{
const char* const NAMES[] = {"f.tga", "f.bmp", "f.jpg", "f.dds", "f.png", "f.wal", "f.pnm"};
const u32 NAME_COUNT = sizeof(NAMES) / sizeof(NAMES[0]);
const u32 SEED_SIDE = 8;
// Truncated JPGs can send the library into an endless loop: the decoder is stopped sooner than in
// the program, so that such inputs do not take the run's time.
const double DECODE_TIMEOUT_SECONDS = 1.0;

std::string Named(u8 nameIndex, const std::string& bytes)
{
    return std::string(1, (char)nameIndex) + bytes;
}

// A seed picture written by the image library in the type of the name.
std::string LibraryFile(const char* name)
{
    SImage2D img(SEED_SIDE, SEED_SIDE);
    for (u32 i = 0; i < SEED_SIDE * SEED_SIDE; ++i)
        img.Pixels[i] = 0xFF000000u | (i * 0x040810u);
    const std::string path = FuzzDir() + "/" + name;
    SImageSaveOptions options;
    if (!EncodeImageFile(path.c_str(), img, options, false))
        return std::string();
    TPodArray<u8> bytes;
    ReadArrayFromBinaryFile(path.c_str(), bytes);
    return std::string((const char*)bytes.data, bytes.Count());
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        Named(0, LibraryFile("s.tga")),
        Named(1, LibraryFile("s.bmp")),
        Named(2, LibraryFile("s.jpg")),
        Named(3, LibraryFile("s.dds")),
        Named(0, std::string("\0\0\x0a\0\0\0\0\0\0\0\0\0\x08\0\x08\0\x20\x20\x87\x10\x20\x30\x40", 23)),
        Named(5, std::string(56, '\xff')),
        Named(6, "\n\n"),
    });
    SetImageDecodeTimeout(DECODE_TIMEOUT_SECONDS);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* name = NAMES[data[0] % NAME_COUNT];
    SImageProbe probe;
    TString reason;
    const bool recognised = ProbeImageFile(data + 1, size - 1, name, probe, reason);
    SImage2D img;
    const int r = DecodeImageBytes(data + 1, size - 1, name, img);
    if (r == 1 && (!recognised || img.Width != probe.Width || img.Height != probe.Height))
        FuzzFail("a picture loaded that the probe did not describe");
    return 0;
}
