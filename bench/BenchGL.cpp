#include "BenchGL.h"

#include <GL/glew.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "GameCore.h"
#include "GameFileIO.h"
#include "GameShader.h"
#include "GameVertex.h"
#include "GameWindow.h"

const char* const BENCH_CONVERT = "/usr/bin/convert";

namespace
{
const u32 BYTES_PER_PIXEL = 4;
const u32 CHECKER_SQUARE = 32;
const u8 CHECKER_LIGHT = 220;
const u8 CHECKER_DARK = 30;
const u32 CHANNEL_MAX = 255;
} // namespace

bool BenchContext()
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
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
        exe[n > 0 ? n : 0] = 0;
        BuildBaseFolder(exe, "RERudu", GBaseFolder);
    }
    if (!window->MakeCurrent())
        return false;
    R_SetGLDefaults();
    if (!GSM)
        CreateShaderStorage();
    return true;
}

void BenchFinish()
{
    glFinish();
}

int BenchProcess(STexProcNode* node)
{
    const int ok = node->Process();
    glFinish();
    return ok;
}

void BenchBarePass(const TextureRef& target, SShader* sp, const TextureRef* inputs, u32 count, u32 units,
                   const std::function<void(SShader*)>& uniforms)
{
    int unitRow[NODE_INPUT_UNITS];
    for (u32 i = 0; i < NODE_INPUT_UNITS; ++i)
        unitRow[i] = (int)i;
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, target, FBA_Color);
    CheckFrameBuffer(*fb);
    PushFrameBuffer(fb);
    glClear(GL_COLOR_BUFFER_BIT);
    UseShader(0, sp);
    if (units)
        SetUniformIntArray(sp, "InputTexture", unitRow, (int)units);
    if (uniforms)
        uniforms(sp);
    for (u32 i = 0; i < count; ++i)
        TEX_Bind(i, inputs[i]);
    DrawFullscreenQuad(-1, 1, 1, -1, 0);
    PopFrameBuffer(fb);
}

std::vector<u8> BenchPicture(u32 side, bool turned)
{
    std::vector<u8> px((size_t)side * side * BYTES_PER_PIXEL);
    for (u32 y = 0; y < side; ++y)
        for (u32 x = 0; x < side; ++x)
        {
            u8* p = &px[((size_t)y * side + x) * BYTES_PER_PIXEL];
            const u32 u = turned ? y : x, v = turned ? x : y;
            p[0] = (u8)(u * CHANNEL_MAX / side);
            p[1] = ((u / CHECKER_SQUARE + v / CHECKER_SQUARE) & 1) ? CHECKER_LIGHT : CHECKER_DARK;
            p[2] = (u8)(v * CHANNEL_MAX / side);
            p[3] = (u8)CHANNEL_MAX;
        }
    return px;
}

std::vector<u8> BenchSeededBytes(u32 side, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<u8> px((size_t)side * side * BYTES_PER_PIXEL);
    for (u8& b : px)
        b = (u8)(rng() & 0xFF);
    return px;
}

bool BenchWriteFile(const std::string& path, const void* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

bool BenchReadFile(const std::string& path, std::vector<u8>& out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    const bool ok = fread(out.data(), 1, out.size(), f) == out.size();
    fclose(f);
    return ok;
}

std::string BenchConvertCommand(u32 side, const std::vector<std::string>& inputs, const char* operation,
                                const std::string& output)
{
    const std::string dim = std::to_string(side) + "x" + std::to_string(side);
    std::string command = std::string(BENCH_CONVERT) + " -size " + dim + " -depth 8";
    for (const std::string& in : inputs)
        command += " rgba:" + in;
    return command + " " + operation + " rgba:" + output;
}
