// The processor's own cost: a chain of 50 test nodes processed through the update list against the
// same 50 full-screen passes drawn directly with the engine (same shader, same targets); and
// queuing and sorting a graph of 1,000 nodes against a plain depth-first ordering of the same graph
// over adjacency lists.
#include "BenchGL.h"
#include "BenchPair.h"

#include <random>
#include <vector>

#include "GameShader.h"
#include "TestNodes.h"

namespace
{
const int CHAIN_LENGTH = 50;
const int TARGET_SIZE = 512;
const int GRAPH_NODES = 1000;
const int GRAPH_MAX_INPUTS = 2;
const float CHAIN_SCALE = 0.98f;
const unsigned GRAPH_SEED = 777;

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
} // namespace

BENCHMARK(BM_ProcessChain)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_QueueGraph)->Unit(benchmark::kMillisecond)->Iterations(200);
