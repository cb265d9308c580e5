// What the node benchmarks share: the engine's off-screen context with the shipped shaders, a
// node's processing and a bare pass of its program as the two timed sides, and the raw RGBA
// files and command line of ImageMagick's convert.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "TexProcessor.h"

struct SShader;

// The Debian package's program, by its full path so that nothing else on the path stands in.
extern const char* const BENCH_CONVERT;

// Brings up the window system and window once per process (off-screen without a display), points
// the data root at the build's shaders and makes the context current. False when there is none.
bool BenchContext();

// Waits until the GPU has finished what was issued, so that a side's time includes its drawing.
void BenchFinish();

// The node's own side: its processing, finished on the GPU.
int BenchProcess(STexProcNode* node);

// One full-screen pass of sp into target through a frame buffer made for it, the target cleared
// first. When units is non-zero, the program's "InputTexture" array is set to units
// 0 .. units - 1, as a node's pass does; then uniforms (if any) sets the program's own, and the
// inputs are bound to units 0 .. count - 1. Not finished.
void BenchBarePass(const TextureRef& target, SShader* sp, const TextureRef* inputs, u32 count, u32 units,
                   const std::function<void(SShader*)>& uniforms = nullptr);

// An RGBA8 picture of side x side with edges and gradients in every channel: red across, blue down,
// green a checker of 32-pixel squares, opaque. Turned swaps the roles of x and y.
std::vector<u8> BenchPicture(u32 side, bool turned = false);
// RGBA8 bytes of side x side from a generator seeded with seed.
std::vector<u8> BenchSeededBytes(u32 side, unsigned seed);

// Whole-file writes and reads of raw bytes; out is read to its present size.
bool BenchWriteFile(const std::string& path, const void* data, size_t size);
bool BenchReadFile(const std::string& path, std::vector<u8>& out);

// convert reading the raw RGBA8 inputs of side x side, applying operation and writing output.
std::string BenchConvertCommand(u32 side, const std::vector<std::string>& inputs, const char* operation,
                                const std::string& output);
