#include "PictureDecode.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include <jpeglib.h>

namespace
{
const int CMYK_COMPONENTS = 4;

struct SJpegError
{
    jpeg_error_mgr Manager;
    jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info)
{
    SJpegError* e = (SJpegError*)info->err;
    (*info->err->format_message)(info, e->Message);
    longjmp(e->Jump, 1);
}

void Silent(j_common_ptr, int)
{
}

// One ink in the file's storage as the amount of light left: Adobe's files store the inks
// inverted (0 is full ink), others as they are.
inline uint32_t Light(uint8_t stored, bool inverted)
{
    return inverted ? stored : 255u - stored;
}

inline uint8_t Times(uint32_t a, uint32_t b)
{
    return (uint8_t)((a * b + 127) / 255);
}

// The part of the decode that libjpeg may leave by a long jump: nothing here has a destructor.
int DecodeRows(jpeg_decompress_struct* info, uint32_t width, uint32_t height, uint8_t* row, uint8_t* out,
               char* error, size_t errorSize)
{
    jpeg_read_header(info, TRUE);
    if (info->num_components != CMYK_COMPONENTS)
        return -1;
    if (info->image_width != width || info->image_height != height)
    {
        snprintf(error, errorSize, "JPG of %ux%u where %ux%u was expected", (unsigned)info->image_width,
                 (unsigned)info->image_height, width, height);
        return 0;
    }
    if (info->jpeg_color_space != JCS_CMYK && info->jpeg_color_space != JCS_YCCK)
    {
        snprintf(error, errorSize, "JPG of four components that are neither CMYK nor YCCK not read");
        return 0;
    }
    info->out_color_space = JCS_CMYK;
    jpeg_start_decompress(info);
    const bool inverted = info->saw_Adobe_marker != 0;
    for (uint32_t y = 0; y < height; ++y)
    {
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(info, rows, 1) != 1)
        {
            snprintf(error, errorSize, "JPG cut short at row %u of %u", y, height);
            return 0;
        }
        uint8_t* o = out + (size_t)y * width * 4;
        for (uint32_t x = 0; x < width; ++x, o += 4)
        {
            const uint8_t* p = row + (size_t)x * CMYK_COMPONENTS;
            const uint32_t k = Light(p[3], inverted);
            o[0] = Times(Light(p[0], inverted), k);
            o[1] = Times(Light(p[1], inverted), k);
            o[2] = Times(Light(p[2], inverted), k);
            o[3] = 255;
        }
    }
    jpeg_finish_decompress(info);
    return 1;
}

int DecodeGuarded(jpeg_decompress_struct* info, SJpegError* err, uint32_t width, uint32_t height, uint8_t* row,
                  uint8_t* out, char* error, size_t errorSize)
{
    if (setjmp(err->Jump) != 0)
    {
        snprintf(error, errorSize, "the JPEG data are malformed: %s", err->Message);
        return 0;
    }
    return DecodeRows(info, width, height, row, out, error, errorSize);
}
} // namespace

int DecodeJpegCmyk(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
                   size_t errorSize)
{
    std::vector<uint8_t> row((size_t)width * CMYK_COMPONENTS);
    jpeg_decompress_struct info;
    SJpegError err;
    memset(&err, 0, sizeof(err));
    info.err = jpeg_std_error(&err.Manager);
    err.Manager.error_exit = ErrorExit;
    err.Manager.emit_message = Silent;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, (unsigned long)size);
    const int result = DecodeGuarded(&info, &err, width, height, row.data(), out, error, errorSize);
    jpeg_destroy_decompress(&info);
    return result;
}
