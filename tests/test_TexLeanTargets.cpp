// Node targets in runs nobody watches: an output goes once the last node of the run that reads it
// has processed, and serves a later node of the same size and format; a run that keeps outputs
// (the editor's) keeps every one, and so does a run whose output another node reads later.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace
{
const int SIDE = 16;
const int CHAIN_LENGTH = 8;
const int FAN_READERS = 3;

// A SIDE x SIDE source and the nodes it feeds; the returned list holds the source first.
using TGraphBuilder = std::function<std::vector<STexProcNode*>(STexProcessor&)>;

STestNode_Affine* AddSource(STexProcessor& p)
{
    return AddTestNode<STestNode_Affine>(p, [](TArray<SPropDesc>& l) {
        TestSetInt(l, "Ins", 0);
        TestSetInt(l, "Size", SIDE);
    });
}

std::vector<STexProcNode*> Chain(STexProcessor& p)
{
    std::vector<STexProcNode*> nodes = {AddSource(p)};
    for (int i = 1; i < CHAIN_LENGTH; ++i)
    {
        nodes.push_back(AddTestNode<STestNode_Affine>(p));
        TestLink(p, nodes[(size_t)i - 1], 0, nodes.back(), 0);
    }
    return nodes;
}

// The source feeds readers that feed nothing.
std::vector<STexProcNode*> Fan(STexProcessor& p)
{
    std::vector<STexProcNode*> nodes = {AddSource(p)};
    for (int i = 0; i < FAN_READERS; ++i)
    {
        nodes.push_back(AddTestNode<STestNode_Affine>(p));
        TestLink(p, nodes[0], 0, nodes.back(), 0);
    }
    return nodes;
}

// The most textures the run held at once beyond those alive before it.
u32 PeakAbove(u32 baseline)
{
    u32 peak = 0;
    for (u32 live : TestLiveTextureLog())
        peak = std::max(peak, live - baseline);
    return peak;
}
} // namespace

class TexLeanTargets : public GUIDrawTest
{
protected:
    void SetUp() override
    {
        GUIDrawTest::SetUp();
        TestProcessLog().clear();
        TestLiveTextureLog().clear();
    }
};

TEST_F(TexLeanTargets, PeakTargetsFollowTheWidestPointAndOnlyUnwatchedRunsLetOutputsGo)
{
    const struct
    {
        const char* what;
        TGraphBuilder build;
        u32 lean;
        u32 peak;      // node targets alive at once
        bool keptAfter; // every node still has its output after the run
    } cases[] = {
        // One node's target and its input's at a time, whatever the chain's length.
        {"unwatched chain", Chain, 1, 2, false},
        // The source stays until its last reader ran; a reader that feeds nothing leaves its
        // target to the next reader.
        {"unwatched fan", Fan, 1, 2, false},
        // The editor previews and saves every node: nothing goes.
        {"watched chain", Chain, 0, (u32)CHAIN_LENGTH, true},
        {"watched fan", Fan, 0, (u32)FAN_READERS + 1, true},
    };
    for (const auto& c : cases)
    {
        TestLiveTextureLog().clear();
        STexProcessor p;
        p.ReleaseSpentOutputs = c.lean;
        const std::vector<STexProcNode*> nodes = c.build(p);
        const u32 before = GTexManager.Textures.Count();
        p.ProcessAll();
        for (STexProcNode* n : nodes)
        {
            EXPECT_EQ(n->Status, "") << c.what;
            EXPECT_EQ(!n->Output.IsNull(), c.keptAfter) << c.what;
        }
        EXPECT_EQ(TestLiveTextureLog().size(), nodes.size()) << c.what;
        EXPECT_EQ(PeakAbove(before), c.peak) << c.what;
        // Spare targets do not outlive the run.
        EXPECT_EQ(GTexManager.Textures.Count() - before, c.keptAfter ? (u32)nodes.size() : 0u) << c.what;
    }
}

TEST_F(TexLeanTargets, AnOutputReadByANodeOutsideTheRunStays)
{
    STexProcessor p;
    p.ReleaseSpentOutputs = 1;
    const std::vector<STexProcNode*> fan = Fan(p);
    // Only the source and its first reader run; the other readers read the source later.
    p.UpdateList.Clear();
    p.UpdateList.Add(fan[0]);
    p.UpdateList.Add(fan[1]);
    p.ProcessUpdateList();
    EXPECT_FALSE(fan[0]->Output.IsNull());
    EXPECT_TRUE(fan[1]->Output.IsNull());
    p.AddToUpdateList(fan[2]);
    p.ProcessUpdateList();
    EXPECT_EQ(fan[2]->Status, "");
}
