#include "PngFiles.h"

#include <png.h>

bool WritePng(const std::string& path, u32 w, u32 h, const std::vector<u32>& px)
{
    png_image img = {};
    img.version = PNG_IMAGE_VERSION;
    img.width = w;
    img.height = h;
    img.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&img, path.c_str(), 0, px.data(), 0, nullptr) != 0;
}

std::vector<u32> ReadPng(const std::string& path, u32& w, u32& h)
{
    png_image img = {};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return {};
    img.format = PNG_FORMAT_RGBA;
    std::vector<u32> px(img.width * img.height);
    if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr))
        return {};
    w = img.width;
    h = img.height;
    return px;
}
