// The PNG writer at level 9 against libpng at level 9 (all filters, the way the engine called it
// before), on pictures made by the program's own generators at 1024 and 4096: GPU clouds, GPU
// noise, a Sobel normal map of the clouds, and a linear gradient. Counters: "ratio" (writer time /
// libpng time), "size_ratio" (writer bytes / libpng bytes), each side's time and bytes, and
// "cpu_ratio", the processor time of all the writer's threads over libpng's: the work done, apart
// from how many processors the machine could lend the writer in that run (under other load the
// scheduler gives a process a share, however many threads it runs).
// Goals: ratio at most 0.25, size_ratio at most 1.01.
#include "BenchGL.h"
#include "BenchPair.h"

#include <png.h>

#include <time.h>

#include <vector>

#include "GArchive.h"
#include "GameImage.h"
#include "GameTexture.h"
#include "TestNodes.h"

namespace
{
enum EPicture
{
    PIC_Clouds,
    PIC_Noise,
    PIC_Normals,
    PIC_Gradient,
};
const char* const PICTURE_NAMES[] = {"clouds", "noise", "normals", "gradient"};
const char* const PICTURE_CLASSES[] = {"STexNode_GPUClouds", "STexNode_GPUNoise", "STexNode_GPUClouds",
                                       "STexNode_LinearGradient"};
const char* const NORMALS_CLASS = "STexNode_NSobel3x3";
const int LIBPNG_LEVEL = 9;

double ProcessSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

bool MakePicture(EPicture kind, int size, SImage2D& out)
{
    STexProcessor p;
    STexProcNode* n = AddClassNode(p, PICTURE_CLASSES[kind], [&](TArray<SPropDesc>& list) {
        FindPropDesc(list, "Width")->AsInt() = size;
        FindPropDesc(list, "Height")->AsInt() = size;
    });
    if (!n->Process())
        return false;
    if (kind == PIC_Normals)
    {
        STexProcNode* sobel = AddClassNode(p, NORMALS_CLASS);
        TestLink(p, n, 0, sobel, 0);
        if (!sobel->Process())
            return false;
        n = sobel;
    }
    BenchFinish();
    TEX_ReadPixels(n->Output.Get(), out);
    return out.Width == (u32)size && out.Height == (u32)size;
}

void LibpngWrite(png_structp png, png_bytep data, size_t size)
{
    std::vector<u8>* out = (std::vector<u8>*)png_get_io_ptr(png);
    out->insert(out->end(), data, data + size);
}

void LibpngFlush(png_structp)
{
}

bool LibpngEncode(const SImage2D& img, std::vector<u8>& out)
{
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info)
    {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)))
    {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, LibpngWrite, LibpngFlush);
    png_set_compression_level(png, LIBPNG_LEVEL);
    png_set_IHDR(png, info, img.Width, img.Height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (u32 y = 0; y < img.Height; ++y)
        png_write_row(png, (png_const_bytep)(img.Pixels.data + (size_t)y * img.Width));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// range(0): the picture; range(1): its side.
void BM_PngLevel9AgainstLibpng(benchmark::State& state)
{
    const EPicture kind = (EPicture)state.range(0);
    const int size = (int)state.range(1);
    state.SetLabel(PICTURE_NAMES[kind]);
    SImage2D img;
    if (!BenchContext() || !MakePicture(kind, size, img))
    {
        state.SkipWithError("needs a GL context to make the picture");
        return;
    }
    SPairTimer t;
    TPodArray<u8> ours;
    std::vector<u8> reference;
    double cpu = 0, refCpu = 0;
    for (auto _ : state)
    {
        int ok = 0;
        bool refOk = false;
        t.Run(
            [&] {
                const double start = ProcessSeconds();
                ours.Resize(0);
                FByteWriter writer(ours, 0);
                ok = EncodePNG(img, writer);
                cpu += ProcessSeconds() - start;
            },
            [&] {
                const double start = ProcessSeconds();
                refOk = LibpngEncode(img, reference);
                refCpu += ProcessSeconds() - start;
            });
        if (!ok || !refOk)
        {
            state.SkipWithError("encode failed");
            return;
        }
    }
    SImage2D back;
    if (DecodePNG(ours, back) <= 0 || memcmp(back.Pixels.data, img.Pixels.data, (size_t)size * size * 4) != 0)
    {
        state.SkipWithError("the written picture does not decode to the same pixels");
        return;
    }
    t.Report(state, "png_ms", "libpng_ms", 1e3);
    state.counters["png_bytes"] = ours.count;
    state.counters["libpng_bytes"] = (double)reference.size();
    state.counters["cpu_ratio"] = refCpu > 0 ? cpu / refCpu : 0;
    state.counters["size_ratio"] = (double)ours.count / (double)reference.size();
}

} // namespace

BENCHMARK(BM_PngLevel9AgainstLibpng)
    ->ArgsProduct({{PIC_Clouds, PIC_Noise, PIC_Normals, PIC_Gradient}, {1024}})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLevel9AgainstLibpng)
    ->ArgsProduct({{PIC_Clouds, PIC_Noise, PIC_Normals, PIC_Gradient}, {4096}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
