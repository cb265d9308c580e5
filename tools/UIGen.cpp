// Generator of the GUI images under data/UI/: the button in its three states (normal, hovered,
// held) as rounded boxes with a vertical gradient and a dark rim, transparent outside the corners;
// the node caption bar; the pin disc and its shade; the main window's background.
//
// usage: plumweave_uigen <out folder>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const int BUTTON_WIDTH = 64;
const int BUTTON_HEIGHT = 32;
const float CORNER_RADIUS = 6.0f;
const float RIM_WIDTH = 1.5f;
const unsigned char RIM[3] = {48, 52, 48};

struct ButtonLook
{
    const char* file;
    unsigned char top[3];
    unsigned char bottom[3];
};

// Held buttons turn their gradient round, so they look pressed in.
const ButtonLook LOOKS[] = {
    {"Button.png", {226, 228, 222}, {178, 182, 176}},
    {"ButtonS.png", {246, 246, 236}, {204, 212, 198}},
    {"ButtonC.png", {150, 154, 148}, {198, 200, 194}},
};

// Distance from the pixel centre to the rounded box's edge, negative inside.
float BoxDistance(float x, float y, float w, float h, float r)
{
    const float qx = std::fabs(x - w * 0.5f) - (w * 0.5f - r);
    const float qy = std::fabs(y - h * 0.5f) - (h * 0.5f - r);
    const float ox = qx > 0 ? qx : 0;
    const float oy = qy > 0 ? qy : 0;
    const float inside = std::fmin(std::fmax(qx, qy), 0.0f);
    return std::sqrt(ox * ox + oy * oy) + inside - r;
}

unsigned char Mix(unsigned char a, unsigned char b, float t)
{
    return (unsigned char)std::lround(a + (b - a) * t);
}

bool WritePng(const std::string& path, int w, int h, const std::vector<unsigned char>& rgba)
{
    png_image img;
    memset(&img, 0, sizeof(img));
    img.version = PNG_IMAGE_VERSION;
    img.width = (png_uint_32)w;
    img.height = (png_uint_32)h;
    img.format = PNG_FORMAT_RGBA;
    const std::string tmp = path + ".tmp";
    if (!png_image_write_to_file(&img, tmp.c_str(), 0, rgba.data(), 0, nullptr))
    {
        fprintf(stderr, "uigen: cannot write %s: %s\n", path.c_str(), img.message);
        remove(tmp.c_str());
        return false;
    }
    return rename(tmp.c_str(), path.c_str()) == 0;
}

std::vector<unsigned char> MakeButton(const ButtonLook& look)
{
    std::vector<unsigned char> px((size_t)BUTTON_WIDTH * BUTTON_HEIGHT * 4);
    for (int y = 0; y < BUTTON_HEIGHT; ++y)
        for (int x = 0; x < BUTTON_WIDTH; ++x)
        {
            const float d = BoxDistance(x + 0.5f, y + 0.5f, (float)BUTTON_WIDTH, (float)BUTTON_HEIGHT, CORNER_RADIUS);
            const float t = (y + 0.5f) / BUTTON_HEIGHT;
            // Coverage of the box and of its rim, each with a one-pixel soft edge.
            const float cover = std::fmin(std::fmax(0.5f - d, 0.0f), 1.0f);
            const float rim = std::fmin(std::fmax(d + RIM_WIDTH + 0.5f, 0.0f), 1.0f);
            unsigned char* p = &px[((size_t)y * BUTTON_WIDTH + x) * 4];
            for (int c = 0; c < 3; ++c)
                p[c] = Mix(Mix(look.top[c], look.bottom[c], t), RIM[c], rim);
            p[3] = (unsigned char)std::lround(255.0f * cover);
        }
    return px;
}
// The node box's caption bar, and the pin: a white disc (tinted when drawn) over its shade, a
// darker and slightly larger disc that rims it.
const int CAPTION_WIDTH = 64;
const int CAPTION_HEIGHT = 16;
const unsigned char CAPTION_TOP[3] = {92, 112, 160};
const unsigned char CAPTION_BOTTOM[3] = {48, 60, 98};
const int PIN_SIZE = 16;
const float PIN_RADIUS = 6.0f;
const float PIN_SHADE_RADIUS = 7.5f;
const unsigned char PIN_SHADE_ALPHA = 200;

std::vector<unsigned char> MakeCaption()
{
    std::vector<unsigned char> px((size_t)CAPTION_WIDTH * CAPTION_HEIGHT * 4);
    for (int y = 0; y < CAPTION_HEIGHT; ++y)
        for (int x = 0; x < CAPTION_WIDTH; ++x)
        {
            const float t = (y + 0.5f) / CAPTION_HEIGHT;
            unsigned char* p = &px[((size_t)y * CAPTION_WIDTH + x) * 4];
            for (int c = 0; c < 3; ++c)
                p[c] = Mix(CAPTION_TOP[c], CAPTION_BOTTOM[c], t);
            p[3] = 255;
        }
    return px;
}

// A disc of the colour, with a one-pixel soft edge and the alpha given inside.
std::vector<unsigned char> MakeDisc(float radius, unsigned char grey, unsigned char alpha)
{
    std::vector<unsigned char> px((size_t)PIN_SIZE * PIN_SIZE * 4);
    const float c = PIN_SIZE * 0.5f;
    for (int y = 0; y < PIN_SIZE; ++y)
        for (int x = 0; x < PIN_SIZE; ++x)
        {
            const float d = std::hypot(x + 0.5f - c, y + 0.5f - c) - radius;
            const float cover = std::fmin(std::fmax(0.5f - d, 0.0f), 1.0f);
            unsigned char* p = &px[((size_t)y * PIN_SIZE + x) * 4];
            p[0] = p[1] = p[2] = grey;
            p[3] = (unsigned char)std::lround(alpha * cover);
        }
    return px;
}
} // namespace

// The main window's background: a dark blue-grey vertical gradient under a faint grid, drawn to
// cover the window.
const int BACKGROUND_SIZE = 256;
const int BACKGROUND_GRID = 32;

std::vector<unsigned char> MakeBackground()
{
    const unsigned char top[3] = {52, 60, 72}, bottom[3] = {24, 28, 34};
    std::vector<unsigned char> px((size_t)BACKGROUND_SIZE * BACKGROUND_SIZE * 4);
    for (int y = 0; y < BACKGROUND_SIZE; ++y)
        for (int x = 0; x < BACKGROUND_SIZE; ++x)
        {
            const float t = (float)y / (float)(BACKGROUND_SIZE - 1);
            const bool line = x % BACKGROUND_GRID == 0 || y % BACKGROUND_GRID == 0;
            unsigned char* p = &px[((size_t)y * BACKGROUND_SIZE + x) * 4];
            for (int c = 0; c < 3; ++c)
                p[c] = (unsigned char)(Mix(top[c], bottom[c], t) + (line ? 8 : 0));
            p[3] = 255;
        }
    return px;
}

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: plumweave_uigen <out folder>\n");
        return 1;
    }
    const std::string folder = argv[1];
    for (const ButtonLook& look : LOOKS)
        if (!WritePng(folder + "/" + look.file, BUTTON_WIDTH, BUTTON_HEIGHT, MakeButton(look)))
            return 1;
    if (!WritePng(folder + "/Caption.png", CAPTION_WIDTH, CAPTION_HEIGHT, MakeCaption()) ||
        !WritePng(folder + "/Pin.png", PIN_SIZE, PIN_SIZE, MakeDisc(PIN_RADIUS, 255, 255)) ||
        !WritePng(folder + "/PinShade.png", PIN_SIZE, PIN_SIZE, MakeDisc(PIN_SHADE_RADIUS, 0, PIN_SHADE_ALPHA)) ||
        !WritePng(folder + "/Background.png", BACKGROUND_SIZE, BACKGROUND_SIZE, MakeBackground()))
        return 1;
    return 0;
}
