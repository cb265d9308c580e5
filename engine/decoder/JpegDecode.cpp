// JPEG decoding on libjpeg: grey, colour (YCbCr or RGB) and four-ink (CMYK or YCCK) pictures, and
// the refusal of pictures whose data end before their last row or are damaged, which libjpeg only
// warns about (it fills the rows it has no data for, or decodes them from data out of step).
#include "PictureDecode.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace
{
const int GREY_COMPONENTS = 1;
const int RGB_COMPONENTS = 3;
const int CMYK_COMPONENTS = 4;
const uint8_t OPAQUE = 255;

struct SJpegError
{
    jpeg_error_mgr Manager;
    jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    // The first warning that rows are lost: the file ends, or the coded data are damaged
    // (libjpeg's own text); empty while every row decodes from its data.
    char Damage[JMSG_LENGTH_MAX];
    bool Cut;
};

// Warnings after which libjpeg fills rows in or decodes them from data out of step: the file ends,
// a code fits no table, a marker comes where coded data were due, a restart marker is missing or
// out of order.
const int DAMAGE_WARNINGS[] = {JWRN_JPEG_EOF, JWRN_HUFF_BAD_CODE, JWRN_ARITH_BAD_CODE, JWRN_HIT_MARKER,
                               JWRN_MUST_RESYNC};
const int FIRST_RESTART_MARKER = 0xD0, LAST_RESTART_MARKER = 0xD7;

// Bytes skipped before a restart marker lie inside the coded data: the interval before it was
// decoded out of step. Before any other marker (the end of the picture, a segment) they are stray
// bytes that cost no row.
bool IsDamage(const jpeg_error_mgr& e)
{
    if (e.msg_code == JWRN_EXTRANEOUS_DATA)
        return e.msg_parm.i[1] >= FIRST_RESTART_MARKER && e.msg_parm.i[1] <= LAST_RESTART_MARKER;
    for (int code : DAMAGE_WARNINGS)
        if (e.msg_code == code)
            return true;
    return false;
}

void ErrorExit(j_common_ptr info)
{
    SJpegError* e = (SJpegError*)info->err;
    (*info->err->format_message)(info, e->Message);
    longjmp(e->Jump, 1);
}

void NoteWarning(j_common_ptr info, int level)
{
    SJpegError* e = (SJpegError*)info->err;
    if (level < 0 && !e->Damage[0] && IsDamage(*info->err))
    {
        (*info->err->format_message)(info, e->Damage);
        e->Cut = info->err->msg_code == JWRN_JPEG_EOF;
    }
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

void ToRgba(const uint8_t* row, int components, bool inverted, uint32_t width, uint8_t* o)
{
    for (uint32_t x = 0; x < width; ++x, o += 4)
    {
        const uint8_t* p = row + (size_t)x * components;
        if (components == CMYK_COMPONENTS)
        {
            const uint32_t k = Light(p[3], inverted);
            o[0] = Times(Light(p[0], inverted), k);
            o[1] = Times(Light(p[1], inverted), k);
            o[2] = Times(Light(p[2], inverted), k);
        }
        else if (components == RGB_COMPONENTS)
        {
            o[0] = p[0];
            o[1] = p[1];
            o[2] = p[2];
        }
        else
            o[0] = o[1] = o[2] = p[0];
        o[3] = OPAQUE;
    }
}

// The part of the decode that libjpeg may leave by a long jump: nothing here has a destructor.
bool DecodeRows(jpeg_decompress_struct* info, SJpegError* err, uint32_t width, uint32_t height, uint8_t* row,
                uint8_t* out, char* error, size_t errorSize)
{
    jpeg_read_header(info, TRUE);
    if (info->image_width != width || info->image_height != height)
    {
        snprintf(error, errorSize, "JPG of %ux%u where %ux%u was expected", (unsigned)info->image_width,
                 (unsigned)info->image_height, width, height);
        return false;
    }
    const int components = info->num_components;
    if (components == CMYK_COMPONENTS)
    {
        if (info->jpeg_color_space != JCS_CMYK && info->jpeg_color_space != JCS_YCCK)
        {
            snprintf(error, errorSize, "JPG of four components that are neither CMYK nor YCCK not read");
            return false;
        }
        info->out_color_space = JCS_CMYK;
    }
    else if (components == RGB_COMPONENTS)
        info->out_color_space = JCS_RGB;
    else if (components == GREY_COMPONENTS)
        info->out_color_space = JCS_GRAYSCALE;
    else
    {
        snprintf(error, errorSize, "JPG with %d colour components not read", components);
        return false;
    }
    jpeg_start_decompress(info);
    const bool inverted = info->saw_Adobe_marker != 0;
    for (uint32_t y = 0; y < height && !err->Damage[0]; ++y)
    {
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(info, rows, 1) != 1)
        {
            snprintf(error, errorSize, "JPG cut short at row %u of %u", y, height);
            return false;
        }
        ToRgba(row, components, inverted, width, out + (size_t)y * width * 4);
    }
    if (!err->Damage[0])
        jpeg_finish_decompress(info);
    if (err->Damage[0] && err->Cut)
        snprintf(error, errorSize, "JPG cut short: its data end before its last row (%s)", err->Damage);
    else if (err->Damage[0])
        snprintf(error, errorSize, "JPG picture data damaged: %s", err->Damage);
    return !err->Damage[0];
}

bool DecodeGuarded(jpeg_decompress_struct* info, SJpegError* err, uint32_t width, uint32_t height, uint8_t* row,
                   uint8_t* out, char* error, size_t errorSize)
{
    if (setjmp(err->Jump) != 0)
    {
        snprintf(error, errorSize, "the JPEG data are malformed: %s", err->Message);
        return false;
    }
    return DecodeRows(info, err, width, height, row, out, error, errorSize);
}
} // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint8_t* out, char* error,
                size_t errorSize)
{
    std::vector<uint8_t> row((size_t)width * CMYK_COMPONENTS);
    jpeg_decompress_struct info;
    SJpegError err;
    memset(&err, 0, sizeof(err));
    info.err = jpeg_std_error(&err.Manager);
    err.Manager.error_exit = ErrorExit;
    err.Manager.emit_message = NoteWarning;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, (unsigned long)size);
    const bool result = DecodeGuarded(&info, &err, width, height, row.data(), out, error, errorSize);
    jpeg_destroy_decompress(&info);
    return result;
}
