// The processor's own cost: a chain of 50 test nodes processed through the update list against the
// same 50 full-screen passes drawn directly with the engine (same shader, same targets); queuing
// and sorting a graph of 1,000 nodes against a plain depth-first ordering of the same graph over
// adjacency lists; and processing whole graphs of 10,000 to 65,536 nodes (as many as one load
// makes), whose time per node should not grow with their size.
#include "BenchGL.h"
#include "BenchPair.h"

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "GameShader.h"
#include "TestNodes.h"
#include "TexDocument.h"

namespace
{
const int CHAIN_LENGTH = 50;
const int TARGET_SIZE = 512;
const int GRAPH_NODES = 1000;
const int GRAPH_MAX_INPUTS = 2;
const float CHAIN_SCALE = 0.98f;
const unsigned GRAPH_SEED = 777;
// How far back the layered graphs of the per-node benchmark reach for their inputs, as documents
// written node by node mostly do.
const u32 GRAPH_LINK_REACH = 64;
// Graph sizes whose processing time per node is compared with the first's.
const u32 PER_NODE_SIZES[] = {10000, 40000, DOC_MAX_LOAD_NODES};
const char* const PER_NODE_NAMES[] = {"10k", "40k", "65k"};
const u32 PER_NODE_COUNT = sizeof(PER_NODE_SIZES) / sizeof(PER_NODE_SIZES[0]);

void BM_ProcessChain(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor p;
    std::vector<STestNode_Affine*> chain;
    for (int i = 0; i < CHAIN_LENGTH; ++i)
    {
        chain.push_back(AddTestNode<STestNode_Affine>(p, [&](TArray<SPropDesc>& l) {
            TestSetInt(l, "Ins", i == 0 ? 0 : 1);
            TestSetInt(l, "Size", TARGET_SIZE);
            FindPropDesc(l, "Scale")->AsFloat() = CHAIN_SCALE;
            FindPropDesc(l, "Bias")->AsColRGBA() = mVec4(0.01f, 0.02f, 0.03f, 0.04f);
        }));
        if (i > 0)
            TestLink(p, chain[i - 1], 0, chain[i], 0);
    }
    // The targets exist before timing starts, on both sides.
    p.ProcessUpdateList();
    for (STestNode_Affine* n : chain)
        if (!n->Status.IsEmpty() || n->Output.IsNull())
        {
            state.SkipWithError(n->Status.Str());
            return;
        }
    TArray<TString> defines;
    SShader* sp = GetShader(TEST_AFFINE_SHADER, defines);

    SPairTimer t;
    for (auto _ : state)
    {
        t.Run(
            [&] {
                p.AddToUpdateList(chain[0]);
                p.ProcessUpdateList();
                BenchFinish();
            },
            [&] {
                for (int i = 0; i < CHAIN_LENGTH; ++i)
                {
                    STestNode_Affine* n = chain[i];
                    BenchBarePass(n->Output, sp, i > 0 ? &chain[i - 1]->Output : nullptr, i > 0 ? 1 : 0,
                                  NODE_INPUT_UNITS, [&](SShader* s) {
                                      SetUniformInt(s, "InputCount", i > 0 ? 1 : 0);
                                      SetUniformFloat(s, "Scale", n->Scale);
                                      SetUniformVec4(s, "Bias", &n->Bias.x);
                                  });
                }
                BenchFinish();
            });
    }
    t.Report(state, "processor_ms", "passes_ms", 1e3);
}

void BM_QueueGraph(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    // A layered graph: each node takes up to two inputs from earlier nodes; node 0 feeds many.
    STexProcessor p;
    std::mt19937 rng(GRAPH_SEED);
    std::vector<std::vector<int>> feeds(GRAPH_NODES);
    for (int i = 0; i < GRAPH_NODES; ++i)
    {
        STexProcNode* n = AddPinsNode(p, i == 0 ? 0 : GRAPH_MAX_INPUTS, 1);
        for (int k = 0; k < (i == 0 ? 0 : GRAPH_MAX_INPUTS); ++k)
        {
            const int src = (int)(rng() % (unsigned)i);
            if (TestLink(p, p.Nodes[(u32)src], 0, n, (u32)k))
                feeds[(size_t)src].push_back(i);
        }
    }
    // The plain reference: the same walk and a feeders-first order over adjacency lists.
    std::vector<std::vector<int>> feeders(GRAPH_NODES);
    for (int i = 0; i < GRAPH_NODES; ++i)
        for (int d : feeds[(size_t)i])
            feeders[(size_t)d].push_back(i);
    std::vector<int> mark(GRAPH_NODES, 0), order, stack, queued;
    int epoch = 0;
    size_t queuedCount = 0, sortedCount = 0;

    SPairTimer t;
    for (auto _ : state)
    {
        p.UpdateList.Clear();
        t.Run([&] { p.AddToUpdateList(p.Nodes[0]); },
              [&] {
                  queued.clear();
                  ++epoch;
                  stack.assign(1, 0);
                  mark[0] = epoch;
                  while (!stack.empty())
                  {
                      const int n = stack.back();
                      stack.pop_back();
                      queued.push_back(n);
                      for (int d : feeds[(size_t)n])
                          if (mark[(size_t)d] != epoch)
                          {
                              mark[(size_t)d] = epoch;
                              stack.push_back(d);
                          }
                  }
                  order.clear();
                  const int member = ++epoch, placed = ++epoch;
                  for (int n : queued)
                      mark[(size_t)n] = member;
                  std::vector<std::pair<int, size_t>> walk;
                  for (int n : queued)
                  {
                      if (mark[(size_t)n] != member)
                          continue;
                      mark[(size_t)n] = placed;
                      walk.assign(1, {n, 0});
                      while (!walk.empty())
                      {
                          auto& f = walk.back();
                          if (f.second >= feeders[(size_t)f.first].size())
                          {
                              order.push_back(f.first);
                              walk.pop_back();
                              continue;
                          }
                          const int s = feeders[(size_t)f.first][f.second++];
                          if (mark[(size_t)s] == member)
                          {
                              mark[(size_t)s] = placed;
                              walk.push_back({s, 0});
                          }
                      }
                  }
              });
        queuedCount = p.UpdateList.Count();
        sortedCount = order.size();
    }
    state.counters["queued"] = (double)queuedCount;
    state.counters["reference_queued"] = (double)sortedCount;
    p.UpdateList.Clear();
    t.Report(state, "queue_ms", "reference_ms", 1e3);
}
// A layered graph as a document would hold it: each node takes up to two inputs from earlier ones.
bool ReadLayeredGraph(STexProcessor& p, u32 nodes, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string text = DOC_VERSION_2;
    text += "\nNODE STestNode_Pins Ins=\"0\" Outs=\"1\"\n";
    for (u32 i = 1; i < nodes; ++i)
        text += "NODE STestNode_Pins Ins=\"" + std::to_string(i < GRAPH_MAX_INPUTS ? i : GRAPH_MAX_INPUTS) + "\" Outs=\"1\"\n";
    for (u32 i = 1; i < nodes; ++i)
        for (u32 k = 0; k < i && k < (u32)GRAPH_MAX_INPUTS; ++k)
            text += "LINK " + std::to_string(i - 1 - rng() % (i < GRAPH_LINK_REACH ? i : GRAPH_LINK_REACH)) + " 0 " + std::to_string(i) + " " + std::to_string(k) + "\n";
    return ReadDocumentText(p, TString(text.c_str()), "layered.kvf", 1) && p.Nodes.Count() == nodes;
}

void BM_ProcessPerNode(benchmark::State& state)
{
    if (!BenchContext())
    {
        state.SkipWithError("no GL context");
        return;
    }
    STexProcessor graphs[PER_NODE_COUNT];
    for (u32 g = 0; g < PER_NODE_COUNT; ++g)
        if (!ReadLayeredGraph(graphs[g], PER_NODE_SIZES[g], GRAPH_SEED))
        {
            state.SkipWithError("the layered graph does not read");
            return;
        }
    // Once before timing: the first run sets every node's status and grows the log.
    for (STexProcessor& g : graphs)
        g.ProcessAll();
    double seconds[PER_NODE_COUNT] = {};
    for (auto _ : state)
        for (u32 g = 0; g < PER_NODE_COUNT; ++g)
        {
            TestProcessLog().clear();
            const auto start = std::chrono::steady_clock::now();
            graphs[g].ProcessAll();
            seconds[g] += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (TestProcessLog().size() != PER_NODE_SIZES[g])
            {
                state.SkipWithError("a node was not processed once");
                return;
            }
        }
    const double first = seconds[0] / PER_NODE_SIZES[0];
    for (u32 g = 0; g < PER_NODE_COUNT; ++g)
    {
        const double perNode = seconds[g] / PER_NODE_SIZES[g];
        state.counters[std::string("ns_per_node_") + PER_NODE_NAMES[g]] =
            benchmark::Counter(perNode * 1e9, benchmark::Counter::kAvgIterations);
        if (g > 0)
            state.counters[std::string("ratio_") + PER_NODE_NAMES[g]] = first > 0 ? perNode / first : 0.0;
    }
    TestProcessLog().clear();
}
} // namespace

BENCHMARK(BM_ProcessChain)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_QueueGraph)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_ProcessPerNode)->Unit(benchmark::kMillisecond)->Iterations(20);
