// Loading documents without processing them: chains and diamonds of 1,000, 4,000 and 16,000 nodes,
// and chains of 16,000 and 65,000 nodes whose links are listed in order, from the end, and from the
// end with one named twice. The time per node and per link must stay flat as documents grow; the
// standard library reading the same text into lines and words is the reference measured in the
// same run. Times are the process's CPU
// time (the renderer's threads included), so that a machine busy with other work does not show
// as growth.
#include "BenchGL.h"

#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const int SIZES[] = {1000, 4000, 16000};
const int SIZE_COUNT = sizeof(SIZES) / sizeof(SIZES[0]);
const int DIAMOND_NODES = 3; // two branches and the blend that joins them
const int GRID_STEP = 150;

enum EShape
{
    SHAPE_Chain,
    SHAPE_Diamonds,
};

const int LINK_SIZES[] = {16000, 65000};
const int LINK_SIZE_COUNT = sizeof(LINK_SIZES) / sizeof(LINK_SIZES[0]);
enum ELinkOrder
{
    ORDER_Written, // as the program writes them
    ORDER_Reversed,
    ORDER_ReversedRepeat, // from the end, the middle link named again last
};

std::string NodeLine(const char* cls, int i)
{
    char line[256];
    snprintf(line, sizeof(line), "NODE %s _ID=\"%d\" pos0=\"%d;%d\" NName=\"n%d\"\n", cls, i, (i % 100) * GRID_STEP,
             (i / 100) * GRID_STEP, i);
    return line;
}

std::string LinkLine(int src, int dst, int pin)
{
    char line[64];
    snprintf(line, sizeof(line), "LINK %d 0 %d %d\n", src, dst, pin);
    return line;
}

// A chain: each node feeds the next. Diamonds: each joint feeds two branches that a blend joins,
// and the blend is the next joint.
std::string ShapeText(EShape shape, int nodes)
{
    std::string text = "GKV_File_Version_2\n", links;
    text += NodeLine("STexNode_Invert", 0);
    if (shape == SHAPE_Chain)
        for (int i = 1; i < nodes; ++i)
        {
            text += NodeLine("STexNode_Invert", i);
            links += LinkLine(i - 1, i, 0);
        }
    else
        for (int joint = 0; joint + DIAMOND_NODES < nodes; joint += DIAMOND_NODES)
        {
            text += NodeLine("STexNode_Invert", joint + 1);
            text += NodeLine("STexNode_Invert", joint + 2);
            text += NodeLine("STexNode_Blend", joint + 3);
            links += LinkLine(joint, joint + 1, 0) + LinkLine(joint, joint + 2, 0);
            links += LinkLine(joint + 1, joint + 3, 0) + LinkLine(joint + 2, joint + 3, 1);
        }
    return text + links;
}

double CpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

// The reference side: the same file read and cut into lines and words by the standard library.
size_t ReadWords(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::string line, word;
    size_t words = 0;
    while (std::getline(f, line))
    {
        std::istringstream s(line);
        while (s >> word)
            ++words;
    }
    return words;
}

void BM_LoadDocument(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    const EShape shape = (EShape)state.range(0);
    char folder[] = "/tmp/plumweave_bench_loadXXXXXX";
    if (!mkdtemp(folder))
    {
        state.SkipWithError("no temporary folder");
        return;
    }
    // The documents as the program writes them, every parameter on each node's line.
    std::vector<std::string> paths;
    STexProcessor p;
    for (int size : SIZES)
    {
        const std::string path = std::string(folder) + "/" + std::to_string(size) + ".kvf";
        std::ofstream(path, std::ios::binary) << ShapeText(shape, size);
        if (!p.LoadDocument(path.c_str(), 1, 0) || (int)p.Nodes.Count() != size || !p.SaveDocument(path.c_str()))
        {
            state.SkipWithError("the generated document does not load");
            return;
        }
        paths.push_back(path);
    }

    double engine[SIZE_COUNT] = {}, reference[SIZE_COUNT] = {};
    size_t words = 0;
    for (auto _ : state)
        for (int i = 0; i < SIZE_COUNT; ++i)
        {
            // The graph of the last load goes untimed: it would be billed to the next size.
            p.ClearNodes();
            const double t0 = CpuSeconds();
            p.LoadDocument(paths[(size_t)i].c_str(), 1, 0);
            const double t1 = CpuSeconds();
            words += ReadWords(paths[(size_t)i]);
            engine[i] += t1 - t0;
            reference[i] += CpuSeconds() - t1;
        }
    benchmark::DoNotOptimize(words);

    double perNode[SIZE_COUNT], refPerNode[SIZE_COUNT];
    for (int i = 0; i < SIZE_COUNT; ++i)
    {
        const double n = (double)SIZES[i] * (double)state.iterations();
        perNode[i] = engine[i] / n;
        refPerNode[i] = reference[i] / n;
        state.counters["us_per_node_" + std::to_string(SIZES[i])] = perNode[i] * 1e6;
    }
    // Time per node of the largest document over that of the smallest: 1 is linear.
    state.counters["growth"] = perNode[SIZE_COUNT - 1] / perNode[0];
    state.counters["reference_growth"] = refPerNode[SIZE_COUNT - 1] / refPerNode[0];
    state.counters["ratio"] = perNode[SIZE_COUNT - 1] / refPerNode[SIZE_COUNT - 1];
    p.ClearNodes();
    for (const std::string& path : paths)
        unlink(path.c_str());
    rmdir(folder);
}

// A chain whose links are listed in the order given.
std::string OrderedChainText(ELinkOrder order, int nodes)
{
    std::string text = "GKV_File_Version_2\n";
    std::vector<std::string> links;
    for (int i = 0; i < nodes; ++i)
        text += NodeLine("STexNode_Invert", i);
    for (int i = 1; i < nodes; ++i)
        links.push_back(LinkLine(i - 1, i, 0));
    if (order != ORDER_Written)
        std::reverse(links.begin(), links.end());
    if (order == ORDER_ReversedRepeat)
        links.push_back(links[links.size() / 2]);
    for (const std::string& l : links)
        text += l;
    return text;
}

void BM_LoadLinks(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    const ELinkOrder order = (ELinkOrder)state.range(0);
    char folder[] = "/tmp/plumweave_bench_linksXXXXXX";
    if (!mkdtemp(folder))
    {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::vector<std::string> paths;
    double links[LINK_SIZE_COUNT];
    for (int i = 0; i < LINK_SIZE_COUNT; ++i)
    {
        paths.push_back(std::string(folder) + "/" + std::to_string(LINK_SIZES[i]) + ".kvf");
        std::ofstream(paths.back(), std::ios::binary) << OrderedChainText(order, LINK_SIZES[i]);
        links[i] = (double)(LINK_SIZES[i] - 1 + (order == ORDER_ReversedRepeat ? 1 : 0));
    }
    STexProcessor p;
    double engine[LINK_SIZE_COUNT] = {}, reference[LINK_SIZE_COUNT] = {};
    size_t words = 0;
    bool loaded = true;
    for (auto _ : state)
        for (int i = 0; i < LINK_SIZE_COUNT; ++i)
        {
            p.ClearNodes();
            const double t0 = CpuSeconds();
            loaded = p.LoadDocument(paths[(size_t)i].c_str(), 1, 0) && loaded;
            const double t1 = CpuSeconds();
            words += ReadWords(paths[(size_t)i]);
            engine[i] += t1 - t0;
            reference[i] += CpuSeconds() - t1;
        }
    benchmark::DoNotOptimize(words);
    if (!loaded)
        state.SkipWithError("the generated document does not load");
    double perLink[LINK_SIZE_COUNT], refPerLink[LINK_SIZE_COUNT];
    for (int i = 0; i < LINK_SIZE_COUNT; ++i)
    {
        perLink[i] = engine[i] / (links[i] * (double)state.iterations());
        refPerLink[i] = reference[i] / (links[i] * (double)state.iterations());
        state.counters["us_per_link_" + std::to_string(LINK_SIZES[i])] = perLink[i] * 1e6;
    }
    // Time per link of the largest document over that of the smallest: 1 is linear (goal: 1.3 at most).
    state.counters["growth"] = perLink[LINK_SIZE_COUNT - 1] / perLink[0];
    state.counters["reference_growth"] = refPerLink[LINK_SIZE_COUNT - 1] / refPerLink[0];
    state.counters["ratio"] = perLink[LINK_SIZE_COUNT - 1] / refPerLink[LINK_SIZE_COUNT - 1];
    p.ClearNodes();
    for (const std::string& path : paths)
        unlink(path.c_str());
    rmdir(folder);
}
} // namespace

BENCHMARK(BM_LoadDocument)->Arg(SHAPE_Chain)->Arg(SHAPE_Diamonds)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadLinks)
    ->Arg(ORDER_Written)
    ->Arg(ORDER_Reversed)
    ->Arg(ORDER_ReversedRepeat)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
