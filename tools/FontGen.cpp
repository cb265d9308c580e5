// Bitmap-font generator: renders ASCII 32-126 of a TrueType font through FreeType into
// page images (white RGB, coverage in alpha) and writes a ".fnt" text descriptor the
// engine's font loader reads. Glyphs are padded so that mip levels do not bleed.
//
// usage: plumweave_fontgen <font.ttf> <out folder> <name> [pixel size] [page width] [page height] [padding]
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
struct Glyph
{
    int id = 0;
    int x = 0, y = 0, w = 0, h = 0;
    int xoff = 0, yoff = 0, adv = 0;
    int page = 0;
    std::vector<unsigned char> cov;   // w * h coverage bytes
};

bool WritePage(const std::string& path, int pw, int ph, const std::vector<unsigned char>& alpha)
{
    std::vector<unsigned char> rgba(size_t(pw) * ph * 4);
    for (size_t i = 0; i < alpha.size(); ++i)
    {
        // white everywhere, so filtering towards transparent texels never darkens an edge
        rgba[i * 4 + 0] = 255;
        rgba[i * 4 + 1] = 255;
        rgba[i * 4 + 2] = 255;
        rgba[i * 4 + 3] = alpha[i];
    }
    png_image img;
    memset(&img, 0, sizeof(img));
    img.version = PNG_IMAGE_VERSION;
    img.width = (png_uint_32)pw;
    img.height = (png_uint_32)ph;
    img.format = PNG_FORMAT_RGBA;
    std::string tmp = path + ".tmp";
    if (!png_image_write_to_file(&img, tmp.c_str(), 0, rgba.data(), 0, nullptr))
    {
        fprintf(stderr, "fontgen: cannot write %s: %s\n", path.c_str(), img.message);
        remove(tmp.c_str());
        return false;
    }
    return rename(tmp.c_str(), path.c_str()) == 0;
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::string tmp = path + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok)
    {
        remove(tmp.c_str());
        return false;
    }
    return rename(tmp.c_str(), path.c_str()) == 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        fprintf(stderr, "usage: %s <font.ttf> <out folder> <name> [pixel size] [page width] [page height] [padding]\n", argv[0]);
        return 2;
    }
    const std::string fontPath = argv[1];
    std::string outDir = argv[2];
    const std::string name = argv[3];
    const int pixelSize = argc > 4 ? atoi(argv[4]) : 27;
    const int pageW = argc > 5 ? atoi(argv[5]) : 512;
    const int pageH = argc > 6 ? atoi(argv[6]) : 256;
    const int pad = argc > 7 ? atoi(argv[7]) : 4;
    if (pixelSize <= 0 || pageW <= 0 || pageH <= 0 || pad < 0)
    {
        fprintf(stderr, "fontgen: bad size arguments\n");
        return 2;
    }
    if (!outDir.empty() && outDir.back() != '/')
        outDir += '/';

    FT_Library lib;
    if (FT_Init_FreeType(&lib))
    {
        fprintf(stderr, "fontgen: FreeType did not start\n");
        return 1;
    }
    FT_Face face;
    if (FT_New_Face(lib, fontPath.c_str(), 0, &face))
    {
        fprintf(stderr, "fontgen: cannot open font %s\n", fontPath.c_str());
        return 1;
    }
    if (FT_Set_Pixel_Sizes(face, 0, (FT_UInt)pixelSize))
    {
        fprintf(stderr, "fontgen: font has no size %d\n", pixelSize);
        return 1;
    }
    const int lineHeight = int((face->size->metrics.height + 63) >> 6);
    const int base = int((face->size->metrics.ascender + 63) >> 6);

    std::vector<Glyph> glyphs;
    for (int c = 32; c <= 126; ++c)
    {
        if (FT_Load_Char(face, (FT_ULong)c, FT_LOAD_RENDER))
        {
            fprintf(stderr, "fontgen: font lacks character %d\n", c);
            return 1;
        }
        FT_GlyphSlot g = face->glyph;
        if (g->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY)
        {
            fprintf(stderr, "fontgen: character %d did not render as grey levels\n", c);
            return 1;
        }
        Glyph gl;
        gl.id = c;
        gl.w = int(g->bitmap.width);
        gl.h = int(g->bitmap.rows);
        gl.xoff = g->bitmap_left;
        gl.yoff = base - g->bitmap_top;
        gl.adv = int((g->advance.x + 32) >> 6);
        gl.cov.resize(size_t(gl.w) * gl.h);
        for (int r = 0; r < gl.h; ++r)
            memcpy(&gl.cov[size_t(r) * gl.w], g->bitmap.buffer + (ptrdiff_t)r * g->bitmap.pitch, size_t(gl.w));
        glyphs.push_back(std::move(gl));
    }

    // Shelf packing in code order; every glyph keeps 'pad' empty texels on each side.
    int page = 0, penX = 0, penY = 0, shelfH = 0;
    for (Glyph& gl : glyphs)
    {
        const int cw = gl.w + 2 * pad, ch = gl.h + 2 * pad;
        if (cw > pageW || ch > pageH)
        {
            fprintf(stderr, "fontgen: character %d does not fit a %dx%d page\n", gl.id, pageW, pageH);
            return 1;
        }
        if (penX + cw > pageW)
        {
            penX = 0;
            penY += shelfH;
            shelfH = 0;
        }
        if (penY + ch > pageH)
        {
            ++page;
            penX = penY = shelfH = 0;
        }
        gl.page = page;
        gl.x = penX + pad;
        gl.y = penY + pad;
        penX += cw;
        if (ch > shelfH)
            shelfH = ch;
    }
    const int pageCount = page + 1;

    // Each character's rectangle takes in a margin of its empty padding, so that a glyph thinner
    // than a pixel at small sizes (the underscore) still covers pixels and blends in softly.
    const int margin = pad < 2 ? pad : 2;

    std::string fnt;
    char line[512];
    snprintf(line, sizeof(line),
             "info face=\"%s\" size=%d bold=0 italic=0 charset=\"\" unicode=0 stretchH=100 smooth=1 aa=1 padding=%d,%d,%d,%d spacing=%d,%d\n",
             face->family_name ? face->family_name : "", pixelSize, margin, margin, margin, margin, 2 * (pad - margin),
             2 * (pad - margin));
    fnt += line;
    snprintf(line, sizeof(line), "common lineHeight=%d base=%d scaleW=%d scaleH=%d pages=%d packed=0\n", lineHeight, base,
             pageW, pageH, pageCount);
    fnt += line;
    for (int p = 0; p < pageCount; ++p)
    {
        std::vector<unsigned char> alpha(size_t(pageW) * pageH, 0);
        for (const Glyph& gl : glyphs)
            if (gl.page == p)
                for (int r = 0; r < gl.h; ++r)
                    memcpy(&alpha[size_t(gl.y + r) * pageW + gl.x], &gl.cov[size_t(r) * gl.w], size_t(gl.w));
        const std::string file = name + "_" + std::to_string(p) + ".png";
        if (!WritePage(outDir + file, pageW, pageH, alpha))
            return 1;
        snprintf(line, sizeof(line), "page id=%d file=\"%s\"\n", p, file.c_str());
        fnt += line;
    }
    snprintf(line, sizeof(line), "chars count=%d\n", int(glyphs.size()));
    fnt += line;
    for (const Glyph& gl : glyphs)
    {
        const int m = (gl.w > 0 && gl.h > 0) ? margin : 0; // a blank stays an empty rectangle
        snprintf(line, sizeof(line),
                 "char id=%d x=%d y=%d width=%d height=%d xoffset=%d yoffset=%d xadvance=%d page=%d chnl=15\n", gl.id,
                 gl.x - m, gl.y - m, gl.w + 2 * m, gl.h + 2 * m, gl.xoff - m, gl.yoff - m, gl.adv, gl.page);
        fnt += line;
    }
    if (!WriteText(outDir + name + ".fnt", fnt))
    {
        fprintf(stderr, "fontgen: cannot write %s%s.fnt\n", outDir.c_str(), name.c_str());
        return 1;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    printf("fontgen: %s.fnt, %d page(s), line height %d\n", name.c_str(), pageCount, lineHeight);
    return 0;
}
