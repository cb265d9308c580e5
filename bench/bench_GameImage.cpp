// The engine's PNG codec against libpng's simplified API doing the same work on the same
// 2048 x 2048 RGBA picture, measured in the same run. Each benchmark times both sides in every
// iteration and reports the counter "ratio" (engine time / reference time).
// Goals: decode and encode within 1.1; TEX_Get (read, decode and upload) within 1.3 of the same
// work done directly: without a mip chain the read and decode alone, with one the read, decode,
// upload and the driver's own chain (glGenerateMipmap).
#include <benchmark/benchmark.h>

#include <png.h>

#include <chrono>
#include <vector>

#include <GL/glew.h>
#include <stdio.h>
#include <unistd.h>

#include "BenchPair.h"
#include "GArchive.h"
#include "GameCore.h"
#include "GameFileIO.h"
#include "GameImage.h"
#include "GameTexture.h"
#include "GameWindow.h"

namespace
{
const u32 SIZE = 2048;

// A picture that compresses like a real texture: smooth gradients with a little noise.
const SImage2D& Picture()
{
    static SImage2D img;
    if (img.Width == 0)
    {
        img.Resize(SIZE, SIZE, false);
        u32 s = 12345;
        for (u32 y = 0; y < SIZE; ++y)
            for (u32 x = 0; x < SIZE; ++x)
            {
                s = s * 1664525u + 1013904223u;
                u32 n = (s >> 28) & 7;
                u32 r = (x * 255 / SIZE + n) & 0xFF, g = (y * 255 / SIZE + n) & 0xFF, b = ((x ^ y) >> 3) & 0xFF;
                img.Pixels[y * SIZE + x] = r | (g << 8) | (b << 16) | (0xFFu << 24);
            }
    }
    return img;
}

const TPodArray<u8>& PictureBytes()
{
    static TPodArray<u8> bytes;
    if (bytes.count == 0)
        EncodeImage(Picture(), bytes, IMG_PNG);
    return bytes;
}

void BM_DecodePNG(benchmark::State& state)
{
    const TPodArray<u8>& bytes = PictureBytes();
    SPairTimer t;
    SImage2D out;
    std::vector<u8> ref(SIZE * SIZE * 4);
    for (auto _ : state)
    {
        int ok = 0;
        t.Run([&] { ok = DecodePNG(bytes, out); },
              [&] {
                  png_image pi;
                  memset(&pi, 0, sizeof(pi));
                  pi.version = PNG_IMAGE_VERSION;
                  png_image_begin_read_from_memory(&pi, bytes.data, bytes.count);
                  pi.format = PNG_FORMAT_RGBA;
                  png_image_finish_read(&pi, nullptr, ref.data(), 0, nullptr);
              });
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(ref.data());
    }
    t.Report(state, "engine_ms", "simplified_ms", 1e3);
}

// The simplified writer has no compression-level setting: it always uses zlib's default (6).
// range(0) is the engine's level: 6 compares the same work; 9 is what the engine writes.
void BM_EncodePNG(benchmark::State& state)
{
    const SImage2D& img = Picture();
    const int level = (int)state.range(0);
    SPairTimer t;
    std::vector<u8> ref;
    for (auto _ : state)
    {
        TPodArray<u8> bytes;
        int ok = 0;
        png_alloc_size_t size = 0;
        t.Run(
            [&] {
                FByteWriter writer(bytes, 0);
                ok = EncodePNG(img, writer, level);
            },
            [&] {
                png_image pi;
                memset(&pi, 0, sizeof(pi));
                pi.version = PNG_IMAGE_VERSION;
                pi.width = SIZE;
                pi.height = SIZE;
                pi.format = PNG_FORMAT_RGBA;
                // Room for the worst case, so the writer runs once.
                size = (png_alloc_size_t)SIZE * SIZE * 5 + (1u << 20);
                ref.resize(size);
                if (!png_image_write_to_memory(&pi, ref.data(), &size, 0, img.Pixels.data, 0, nullptr))
                    state.SkipWithError("reference encode failed");
            });
        benchmark::DoNotOptimize(ok);
        state.counters["engine_bytes"] = bytes.count;
        state.counters["simplified_bytes"] = (double)size;
    }
    t.Report(state, "engine_ms", "simplified_ms", 1e3);
}

// The engine's window system and window (off-screen without a display), made once.
bool BenchGL()
{
    static SWindowSystem* system = nullptr;
    static SWindow* window = nullptr;
    if (!system)
    {
        system = new SWindowSystem();
        window = new SWindow(system);
        GWindowSystem = system;
        GWindow = window;
        R_SetMode(GScreenWidth, GScreenHeight, 0, GRefreshRate, 0, 1);
    }
    return window->MakeCurrent();
}

// range(0) 0: a texture without a mip chain; 1: with the whole chain, which the engine builds
// from the image and the reference lets the driver build.
void BM_TexGetUpload(benchmark::State& state)
{
    if (!BenchGL())
    {
        state.SkipWithError("no GL context");
        return;
    }
    const bool chain = state.range(0) != 0;
    const u32 flags = chain ? TEXF_RGBA8 | TEXF_NotStreamed : TEXF_RGBA8 | TEXF_NodeOutput;
    char name[64];
    snprintf(name, sizeof(name), "/tmp/pw_bench_tex_%d.png", (int)getpid());
    if (!WriteArrayToBinaryFile(name, PictureBytes()))
    {
        state.SkipWithError("cannot write the picture");
        return;
    }
    SPairTimer t;
    for (auto _ : state)
    {
        TextureRef ref;
        int ok = 0, decoded = 0;
        GLuint reference = 0;
        t.Run(
            [&] {
                ok = TEX_Get(ref, name, flags);
                glFinish();
            },
            [&] {
                TPodArray<u8> bytes;
                SImage2D img;
                ReadArrayFromBinaryFile(name, bytes);
                decoded = DecodePNG(bytes, img);
                if (chain)
                {
                    glGenTextures(1, &reference);
                    glBindTexture(GL_TEXTURE_2D, reference);
                    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, (GLsizei)img.Width, (GLsizei)img.Height, 0, GL_RGBA,
                                 GL_UNSIGNED_BYTE, img.Pixels.data);
                    glGenerateMipmap(GL_TEXTURE_2D);
                    glFinish();
                    // Bound behind the engine's back: its bind cache starts again.
                    TEX_ResetBindCache();
                }
            });
        if (!ok || !decoded)
            state.SkipWithError("load failed");
        // Released outside the timed parts.
        ref.Release();
        if (reference)
        {
            glBindTexture(GL_TEXTURE_2D, 0);
            TEX_ResetBindCache();
            glDeleteTextures(1, &reference);
        }
    }
    remove(name);
    remove(TEX_MipName(name).Str());
    t.Report(state, "texget_ms", chain ? "upload_ms" : "decode_ms", 1e3);
}

} // namespace

BENCHMARK(BM_TexGetUpload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DecodePNG)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_EncodePNG)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(3);
