// The material sample as a whole batch process (start-up, passes, PNG, JPG and DDS files) against
// one ImageMagick convert process doing the same steps (noise, plasma clouds, an overlay, a blur, a
// Sobel normal map, a colour ramp, PNG32, JPG quality 90, DDS DXT5), the sides taking turns, with
// each side's peak memory; and a chain of 50 brightness/contrast nodes run as a batch runs it,
// against the same 50 passes drawn directly.
#include "BenchGL.h"
#include "BenchPair.h"
#include "ProcessSupport.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GameShader.h"
#include "TestNodes.h"

namespace
{
const char* const SAMPLE_SIDE_TEXT = "\"1024\"";
const char* const PROGRAM_BRCON = "Nodes/Color/BrCon";
const char* const PROGRAM_NOISE = "Nodes/Generate/Noise";
const int CHAIN_LENGTH = 50;
const int CHAIN_SIDE = 1024;
const float CHAIN_CONTRAST = 1.02f;
const double KIB_PER_MIB = 1024.0;

struct SProcessResult
{
    int status = -1;
    long peakKiB = 0;
};

// Runs the program to its end with its output dropped; its exit code and peak resident memory.
SProcessResult RunProcess(const std::vector<std::string>& args, const std::string& cwd)
{
    SProcessResult r;
    const pid_t pid = StartHeadless(args[0], std::vector<std::string>(args.begin() + 1, args.end()), cwd, OUTPUT_DROPPED);
    if (pid < 0)
        return r;
    int st = 0;
    rusage usage = {};
    if (wait4(pid, &st, 0, &usage) != pid)
        return r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.peakKiB = usage.ru_maxrss;
    return r;
}

// The sample with its 1024-wide generators made side wide.
std::string SampleAt(u32 side)
{
    std::ifstream in(std::string(PW_SAMPLES_DIR) + "/Material.kvf", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string doc = s.str();
    const std::string from = SAMPLE_SIDE_TEXT, to = "\"" + std::to_string(side) + "\"";
    for (size_t at = doc.find(from); at != std::string::npos; at = doc.find(from, at + to.size()))
        doc.replace(at, from.size(), to);
    return doc;
}

// convert doing the sample's steps in one process: a height from plasma clouds and grain, blurred,
// written as JPG; a normal map from its Sobel gradients; a colour ramp of it as albedo PNG and DDS.
std::vector<std::string> ConvertArgs(u32 side)
{
    const std::string n = std::to_string(side) + "x" + std::to_string(side);
    return {BENCH_CONVERT, "-seed", "7", "-size", n, "plasma:fractal", "-colorspace", "gray",
            "-sigmoidal-contrast", "3,50%", "(", "-size", n, "xc:gray50", "-seed", "3", "+noise", "Random",
            "-colorspace", "gray", "-level", "32%,68%", ")", "-compose", "Overlay", "-composite", "-blur", "0x4",
            "-write", "mpr:h", "-quality", "90", "-write", "im-height.jpg",
            "(", "mpr:h", "-morphology", "Convolve", "Sobel:0", ")",
            "(", "mpr:h", "-morphology", "Convolve", "Sobel:90", ")",
            "(", "mpr:h", "-fill", "white", "-colorize", "100%", ")", "-delete", "0", "-combine",
            // Quality 95 is zlib level 9 with adaptive row filters, as the program writes PNG.
            "-quality", "95", "-write", "png32:im-normal.png", "+delete",
            "(", "mpr:h", "+level-colors", "rgb(77,51,31),rgb(242,204,148)", ")", "-write", "png32:im-albedo.png",
            "-define", "dds:compression=dxt5", "im-albedo.dds"};
}

void BM_MaterialRun(benchmark::State& state)
{
    const u32 side = (u32)state.range(0);
    if (access(BENCH_CONVERT, X_OK) != 0)
    {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    char folder[] = "/tmp/pwbenchmaterialXXXXXX";
    if (!mkdtemp(folder))
    {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::string dir = folder;
    std::ofstream(dir + "/Material.kvf", std::ios::binary) << SampleAt(side);
    const std::vector<std::string> program = {std::string(PW_BIN_DIR) + "/plumweave", "Material.kvf", "-opc"};
    const std::vector<std::string> convert = ConvertArgs(side);

    SPairTimer t;
    long programPeak = 0, convertPeak = 0;
    bool ok = true;
    for (auto _ : state)
    {
        t.Run(
            [&] {
                const SProcessResult r = RunProcess(program, dir);
                ok = ok && r.status == 0;
                programPeak = std::max(programPeak, r.peakKiB);
            },
            [&] {
                const SProcessResult r = RunProcess(convert, dir);
                ok = ok && r.status == 0;
                convertPeak = std::max(convertPeak, r.peakKiB);
            });
    }
    if (!ok)
        state.SkipWithError("a run failed");
    t.Report(state, "plumweave_s", "convert_s", 1.0);
    state.counters["plumweave_peak_MiB"] = (double)programPeak / KIB_PER_MIB;
    state.counters["convert_peak_MiB"] = (double)convertPeak / KIB_PER_MIB;
    const char* written[] = {"Material-albedo.png", "Material-albedo.dds", "Material-normal.png", "Material-height.jpg",
                             "im-albedo.png", "im-albedo.dds", "im-normal.png", "im-height.jpg", "Material.kvf"};
    for (const char* f : written)
        unlink((dir + "/" + f).c_str());
    rmdir(dir.c_str());
}

void BM_BrConChainPerNode(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    // As a batch runs it: every node's output goes once the next one has read it.
    STexProcessor p;
    p.ReleaseSpentOutputs = 1;
    STexProcNode* source = AddClassNode(p, "STexNode_GPUNoise", [](TArray<SPropDesc>& l) {
        TestSetInt(l, "Width", CHAIN_SIDE);
        TestSetInt(l, "Height", CHAIN_SIDE);
    });
    std::vector<STexProcNode*> chain;
    for (int i = 0; i < CHAIN_LENGTH; ++i)
    {
        chain.push_back(AddClassNode(p, "STexNode_BrCon",
                                     [](TArray<SPropDesc>& l) { FindPropDesc(l, "ConQ")->AsFloat() = CHAIN_CONTRAST; }));
        TestLink(p, i == 0 ? source : chain[(size_t)i - 1], 0, chain.back(), 0);
    }
    // The bare side ping-pongs between two targets made beforehand, from a source of its own.
    TextureRef noise, targets[2];
    TEX_Create(noise, CHAIN_SIDE, CHAIN_SIDE, 1, 1, TEXFMT_RGBA8, nullptr, NODE_OUTPUT_TEX_FLAGS);
    for (TextureRef& target : targets)
        TEX_Create(target, CHAIN_SIDE, CHAIN_SIDE, 1, 1, TEXFMT_RGBA8, nullptr, NODE_OUTPUT_TEX_FLAGS);
    TArray<TString> none;
    SShader* sp = GetShader(PROGRAM_BRCON, none);
    SShader* noiseProgram = GetShader(PROGRAM_NOISE, none);
    const mVec2 noiseSize((float)CHAIN_SIDE, (float)CHAIN_SIDE);
    const float zero = 0.0f, on[4] = {1, 1, 1, 0};
    p.ProcessAll();
    if (!chain.back()->Status.IsEmpty())
    {
        state.SkipWithError(chain.back()->Status.Str());
        return;
    }

    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] {
                p.ProcessAll();
                BenchFinish();
            },
            [&] {
                BenchBarePass(noise, noiseProgram, nullptr, 0, 0, [&](SShader* s) {
                    SetUniformVec2(s, "TextureSize", &noiseSize.x);
                    SetUniformFloat(s, "Seed", zero);
                });
                for (int i = 0; i < CHAIN_LENGTH; ++i)
                {
                    const TextureRef& in = i == 0 ? noise : targets[(i + 1) & 1];
                    BenchBarePass(targets[i & 1], sp, &in, 1, NODE_INPUT_UNITS, [&](SShader* s) {
                        SetUniformFloat(s, "BrOff", zero);
                        SetUniformFloat(s, "ConQ", CHAIN_CONTRAST);
                        SetUniformVec4(s, "RGBA", on);
                    });
                }
                BenchFinish();
            });
    }
    t.Report(state, "chain_ms", "passes_ms", 1e3 / CHAIN_LENGTH);
}
} // namespace

BENCHMARK(BM_MaterialRun)->Arg(1024)->Iterations(4)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MaterialRun)->Arg(4096)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_BrConChainPerNode)->Iterations(10)->Unit(benchmark::kMillisecond);
