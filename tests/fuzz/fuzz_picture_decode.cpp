// The picture decoders beside the image library, in this process: TGA, DDS (with DXT blocks), plain,
// bit-field and run-length BMP and CMYK or YCCK JPG. Whatever the bytes the probe accepts, a decoder
// returns, writes only the picture it was given and, when it fails, says why.
#include "FuzzSupport.h"

#include <string.h>

#include <vector>

#include "GameImageProbe.h"
#include "decoder/PictureDecode.h"

namespace
{
const char* const NAMES[] = {"f.tga", "f.bmp", "f.jpg", "f.dds"};
const uint32_t NAME_COUNT = sizeof(NAMES) / sizeof(NAMES[0]);
// Largest picture decoded here, so that a run spends its time on variety rather than on size.
const uint64_t MAX_PIXELS = 1u << 20;
const uint8_t GUARD = 0xA5;
const size_t GUARD_BYTES = 64;

std::string Named(uint8_t index, const std::string& bytes)
{
    return std::string(1, (char)index) + bytes;
}

std::string Le16(uint32_t v)
{
    return std::string{(char)v, (char)(v >> 8)};
}

std::string Le32(uint32_t v)
{
    return Le16(v & 0xFFFF) + Le16(v >> 16);
}

// The start of a 4 x 4 YCCK JPEG under the Adobe marker (transform 2): frame and scan headers of
// four components, a few bytes of coded data, end of image.
const uint8_t YCCK_JPEG_START[] = {
    0xFF, 0xD8, 0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x02,
    0xFF, 0xC0, 0x00, 0x14, 0x08, 0x00, 0x04, 0x00, 0x04, 0x04, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11,
    0x00, 0x04, 0x11, 0x00, 0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00,
    0x3F, 0x00, 0x12, 0x34, 0xFF, 0xD9};

// A 4 x 4 DDS surface header of the given coding.
std::string Dds(const char* fourCC, uint32_t flags, uint32_t bits, const std::string& masks)
{
    std::string b = "DDS " + Le32(124) + Le32(0x1007) + Le32(4) + Le32(4) + std::string(56, '\0') + Le32(32) +
                    Le32(flags) + std::string(fourCC ? fourCC : "\0\0\0\0", 4) + Le32(bits) + masks;
    b.resize(128, '\0');
    return b;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string masks565 = Le32(0xF800) + Le32(0x07E0) + Le32(0x001F) + Le32(0);
    const std::string tga16 = std::string("\0\0\x0a\0\0\0\0\0\0\0\0\0", 12) + Le16(4) + Le16(4) + "\x10\x21" +
                              "\x8f" + Le16(0xFC01);
    const std::string bmpV5 = "BM" + Le32(0) + Le32(0) + Le32(138) + Le32(124) + Le32(4) + Le32(4) + Le16(1) +
                              Le16(16) + Le32(3) + Le32(32) + std::string(16, '\0') + masks565;
    const std::string bmpRle = "BM" + Le32(0) + Le32(0) + Le32(62) + Le32(40) + Le32(4) + Le32(4) + Le16(1) + Le16(8) +
                               Le32(1) + std::string(12, '\0') + Le32(2) + Le32(0) + std::string(8, '\x11');
    FuzzStart({
        Named(0, tga16),
        Named(1, bmpV5 + std::string(138 + 32 - bmpV5.size(), '\x11')),
        Named(1, bmpRle + std::string("\x04\x01\0\0\0\x02\x01\x01\0\x03\x01\x00\x01\0\0\x01", 16)),
        Named(3, Dds("DXT1", 0x4, 0, "") + std::string("\0\0\0\xf8\x57\x55\x55\x55", 8)),
        Named(3, Dds(nullptr, 0x40, 16, masks565) + std::string(32, '\x21')),
        Named(2, std::string((const char*)YCCK_JPEG_START, sizeof(YCCK_JPEG_START))),
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* name = NAMES[data[0] % NAME_COUNT];
    const uint8_t* bytes = data + 1;
    const size_t length = size - 1;
    SImageProbe probe;
    TString reason;
    if (!ProbeImageFile(bytes, length, name, probe, reason) || (uint64_t)probe.Width * probe.Height > MAX_PIXELS)
        return 0;
    const size_t pictureBytes = (size_t)probe.Width * probe.Height * 4;
    std::vector<uint8_t> out(pictureBytes + GUARD_BYTES, GUARD);
    char error[256] = {0};
    bool decoded = false;
    switch (probe.Type)
    {
    case IFT_TGA: decoded = DecodeTga(bytes, length, probe.Width, probe.Height, out.data(), error, sizeof(error)); break;
    case IFT_DDS: decoded = DecodeDds(bytes, length, probe.Width, probe.Height, out.data(), error, sizeof(error)); break;
    case IFT_BMP:
        if (!BmpDecodedDirectly(bytes, length))
            return 0;
        decoded = DecodeBmp(bytes, length, probe.Width, probe.Height, out.data(), error, sizeof(error));
        break;
    case IFT_JPG: decoded = DecodeJpeg(bytes, length, probe.Width, probe.Height, out.data(), error, sizeof(error)); break;
    default: return 0;
    }
    for (size_t i = pictureBytes; i < out.size(); ++i)
        if (out[i] != GUARD)
            FuzzFail("a decoder wrote past the picture");
    if (!decoded && !error[0])
        FuzzFail("a decoder failed without a reason");
    return 0;
}
