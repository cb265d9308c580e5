// The processor's graph: link invariants, cycle and self-link refusal, the update list's order on
// random graphs and on chained diamonds, every node processed once after its feeders, failing nodes
// dropping their output, node removal cancelling menus, prompt and drags, capture and re-creation,
// the canvas's zoom and link geometry.
#include "GUITestSupport.h"
#include "TestNodes.h"
#include "TestSupport.h"

#include <math.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "GameConsole.h"
#include "GameWindow.h"

namespace
{
const float DT = 0.01f;

struct SLinkSpec
{
    int src, out, dst, in;
};

// Every link is recorded at both ends and every input holds at most one.
void ExpectLinkInvariants(STexProcessor& p)
{
    for (STexProcNode* n : p.Nodes)
    {
        for (NodePin* in : n->InParams)
        {
            EXPECT_LE(in->Links.Count(), 1u);
            for (NodePin* o : in->Links)
                EXPECT_GE(o->Links.Find(in), 0);
        }
        for (NodePin* out : n->OutParams)
            for (NodePin* i : out->Links)
                EXPECT_GE(i->Links.Find(out), 0);
    }
}

std::set<std::vector<int>> LinkSet(STexProcessor& p)
{
    std::set<std::vector<int>> s;
    for (u32 n = 0; n < p.Nodes.Count(); ++n)
        for (u32 o = 0; o < p.Nodes[n]->OutParams.Count(); ++o)
            for (NodePin* in : p.Nodes[n]->OutParams[o]->Links)
                s.insert({(int)n, (int)o, p.IndexOfNode(in->Owner), in->Owner->InParams.Find(in)});
    return s;
}

// Every entry once, and after each of its feeders that is in the list.
void ExpectOrderedOnce(const TArray<STexProcNode*>& list)
{
    std::map<STexProcNode*, size_t> at;
    for (u32 i = 0; i < list.Count(); ++i)
    {
        EXPECT_EQ(at.count(list[i]), 0u) << "duplicate at " << i;
        at[list[i]] = i;
    }
    for (u32 i = 0; i < list.Count(); ++i)
        for (NodePin* in : list[i]->InParams)
            for (NodePin* src : in->Links)
                if (at.count(src->Owner))
                {
                    EXPECT_LT(at[src->Owner], (size_t)i);
                }
}

int CountBoxes(const char* caption)
{
    int n = 0;
    for (const SRecordedBox& b : RecordedBoxes())
        n += b.caption == caption ? 1 : 0;
    return n;
}

// One tick of input at (x, y) with the buttons as given, and the canvas drawn.
void Frame(STexProcessor& p, float x, float y, bool left, bool right = false)
{
    GUITest_Tick(x, y, left);
    GMouseRight = right ? 1 : 0;
    SGUILayer::DrawTree(&p, DT);
}

class TDebugUpdates
{
public:
    explicit TDebugUpdates(float v) : saved(DebugUpdates.Value) { DebugUpdates.Value = v; }
    ~TDebugUpdates() { DebugUpdates.Value = saved; }

private:
    float saved;
};
} // namespace

class TexProcessor : public GUIDrawTest
{
protected:
    void SetUp() override
    {
        GUIDrawTest::SetUp();
        TestProcessLog().clear();
    }
};

TEST_F(TexProcessor, LinksAreKeptAtBothEndsAndLinksClosingACycleAreRefused)
{
    struct Case
    {
        const char* what;
        std::vector<SLinkSpec> before;
        SLinkSpec attempt;
        int result;
        std::set<std::vector<int>> after;
    };
    // Three nodes of one input and two outputs each: 0, 1, 2.
    const Case cases[] = {
        {"new link", {}, {0, 0, 1, 0}, 1, {{0, 0, 1, 0}}},
        {"an input's link is replaced", {{0, 0, 1, 0}}, {2, 0, 1, 0}, 1, {{2, 0, 1, 0}}},
        {"an output feeds many", {{0, 0, 1, 0}}, {0, 0, 2, 0}, 1, {{0, 0, 1, 0}, {0, 0, 2, 0}}},
        {"the same link again stays single", {{0, 0, 1, 0}}, {0, 0, 1, 0}, 1, {{0, 0, 1, 0}}},
        {"a direct cycle", {{0, 0, 1, 0}}, {1, 0, 0, 0}, 0, {{0, 0, 1, 0}}},
        {"a cycle through three", {{0, 0, 1, 0}, {1, 1, 2, 0}}, {2, 0, 0, 0}, 0, {{0, 0, 1, 0}, {1, 1, 2, 0}}},
        {"a node feeding itself", {}, {1, 1, 1, 0}, 0, {}},
        {"a self-link beside others", {{0, 0, 1, 0}}, {1, 0, 1, 0}, 0, {{0, 0, 1, 0}}},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* n[3];
        for (auto& node : n)
            node = AddPinsNode(p, 1, 2);
        for (const SLinkSpec& l : c.before)
            ASSERT_EQ(TestLink(p, n[l.src], l.out, n[l.dst], l.in), 1) << c.what;
        EXPECT_EQ(TestLink(p, n[c.attempt.src], c.attempt.out, n[c.attempt.dst], c.attempt.in), c.result) << c.what;
        EXPECT_EQ(LinkSet(p), c.after) << c.what;
        ExpectLinkInvariants(p);
        for (STexProcNode* node : n)
            EXPECT_EQ(p.IsReachable(node, node), 0) << c.what;
    }
    STexProcessor p;
    STexProcNode* a = AddPinsNode(p, 1, 1);
    EXPECT_EQ(p.Link(nullptr, a->InParams[0]), 0);
    EXPECT_EQ(p.Link(a->OutParams[0], nullptr), 0);
}

TEST_F(TexProcessor, SortedUpdateListsOfRandomGraphsHoldEveryNodeOnceAfterItsFeeders)
{
    const int GRAPHS = 40, MAX_NODES = 30, LINK_TRIES = 60, QUEUE_EXTRA = 20;
    std::mt19937 rng(12345);
    for (int g = 0; g < GRAPHS; ++g)
    {
        STexProcessor p;
        const int count = 2 + (int)(rng() % MAX_NODES);
        for (int i = 0; i < count; ++i)
            AddPinsNode(p, 1 + (int)(rng() % 3), 1 + (int)(rng() % 2));
        // Links in any direction: the ones that would close a cycle are refused.
        for (int t = 0; t < LINK_TRIES; ++t)
        {
            STexProcNode* a = p.Nodes[rng() % count];
            STexProcNode* b = p.Nodes[rng() % count];
            p.Link(a->OutParams[rng() % a->OutParams.Count()], b->InParams[rng() % b->InParams.Count()]);
        }
        ExpectLinkInvariants(p);
        for (STexProcNode* n : p.Nodes)
            ASSERT_EQ(p.IsReachable(n, n), 0) << "graph " << g;
        // A queue with duplicates of a random subset.
        p.UpdateList.Clear();
        std::set<STexProcNode*> queued;
        for (int t = 0; t < count + QUEUE_EXTRA; ++t)
        {
            STexProcNode* n = p.Nodes[rng() % count];
            p.UpdateList.Add(n);
            queued.insert(n);
        }
        p.SortUpdateList();
        ExpectOrderedOnce(p.UpdateList);
        std::set<STexProcNode*> after(p.UpdateList.begin(), p.UpdateList.end());
        EXPECT_EQ(after, queued) << "graph " << g;
    }
}

TEST_F(TexProcessor, UpdateListsAreOrderedFeedersFirst)
{
    struct Case
    {
        const char* what;
        std::vector<SLinkSpec> links; // over nodes 0 (A), 1 (B), 2 (C) with two inputs each
        std::vector<int> queue;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"a chain queued backwards", {{0, 0, 1, 0}, {1, 0, 2, 0}}, {2, 1, 0}, {0, 1, 2}},
        {"duplicates go first", {{0, 0, 1, 0}, {1, 0, 2, 0}}, {2, 2, 1, 0, 1}, {0, 1, 2}},
        {"one feeder of two inputs is moved once", {{0, 0, 2, 0}, {0, 0, 2, 1}}, {2, 1, 0}, {0, 2, 1}},
        {"unrelated nodes keep their order", {}, {2, 0, 1}, {2, 0, 1}},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* n[3];
        for (auto& node : n)
            node = AddPinsNode(p, 2, 1);
        for (const SLinkSpec& l : c.links)
            ASSERT_EQ(TestLink(p, n[l.src], l.out, n[l.dst], l.in), 1);
        p.UpdateList.Clear();
        for (int i : c.queue)
            p.UpdateList.Add(n[i]);
        p.SortUpdateList();
        std::vector<STexProcNode*> expected, got(p.UpdateList.begin(), p.UpdateList.end());
        for (int i : c.expected)
            expected.push_back(n[i]);
        EXPECT_EQ(got, expected) << c.what;
    }
}

TEST_F(TexProcessor, ChainedDiamondsAreWalkedOnceEachWhenQueued)
{
    // top -> (left, right) -> bottom, the bottom being the next diamond's top: a walk per path
    // would take 2^30 steps.
    const int DIAMONDS = 30;
    STexProcessor p;
    STexProcNode* top = AddPinsNode(p, 0, 1);
    for (int d = 0; d < DIAMONDS; ++d)
    {
        STexProcNode* l = AddPinsNode(p, 1, 1);
        STexProcNode* r = AddPinsNode(p, 1, 1);
        STexProcNode* bottom = AddPinsNode(p, 2, 1);
        ASSERT_EQ(TestLink(p, top, 0, l, 0), 1);
        ASSERT_EQ(TestLink(p, top, 0, r, 0), 1);
        ASSERT_EQ(TestLink(p, l, 0, bottom, 0), 1);
        ASSERT_EQ(TestLink(p, r, 0, bottom, 1), 1);
        top = bottom;
    }
    ASSERT_EQ(p.IsReachable(p.Nodes[0], top), 1);
    p.UpdateList.Clear();
    RecordedBoxes().clear();
    {
        TDebugUpdates on(1);
        p.AddToUpdateList(p.Nodes[0]);
    }
    EXPECT_EQ(p.UpdateList.Count(), p.Nodes.Count());
    ExpectOrderedOnce(p.UpdateList);
    EXPECT_EQ(CountBoxes("Added to update list..."), 1);
    EXPECT_EQ(CountBoxes("[out]Recursively added to update list..."), (int)p.Nodes.Count() - 1);

    p.UpdateList.Clear();
    RecordedBoxes().clear();
    {
        TDebugUpdates on(1);
        p.AddInputsToUpdateList(top);
    }
    EXPECT_EQ(p.UpdateList.Count(), p.Nodes.Count());
    EXPECT_EQ(CountBoxes("[in]Recursively added to update list..."), (int)p.Nodes.Count() - 1);
}

TEST_F(TexProcessor, ProcessAllProcessesEveryNodeOnceAfterAllItsFeeders)
{
    struct Case
    {
        const char* what;
        std::vector<std::vector<int>> pins; // per node: inputs, outputs, first optional input
        std::vector<SLinkSpec> links;
    };
    const Case cases[] = {
        {"two roots feed one node", {{0, 1, 8}, {0, 1, 8}, {2, 1, 8}}, {{0, 0, 2, 0}, {1, 0, 2, 1}}},
        {"three roots feed a chain",
         {{0, 1, 8}, {0, 1, 8}, {0, 1, 8}, {3, 1, 8}, {1, 1, 8}, {1, 1, 8}},
         {{0, 0, 3, 0}, {1, 0, 3, 1}, {2, 0, 3, 2}, {3, 0, 4, 0}, {4, 0, 5, 0}}},
        {"an unlinked optional input beside linked ones", {{0, 1, 8}, {0, 1, 8}, {3, 1, 2}},
         {{0, 0, 2, 0}, {1, 0, 2, 1}}},
        {"the graph's own order is backwards", {{1, 1, 8}, {1, 1, 8}, {0, 1, 8}}, {{2, 0, 1, 0}, {1, 0, 0, 0}}},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        for (const auto& pins : c.pins)
            AddTestNode<STestNode_Pins>(p, [&](TArray<SPropDesc>& l) {
                TestSetInt(l, "Ins", pins[0]);
                TestSetInt(l, "Outs", pins[1]);
                TestSetInt(l, "Optional", pins[2]);
            });
        for (const SLinkSpec& l : c.links)
            ASSERT_EQ(TestLink(p, p.Nodes[l.src], l.out, p.Nodes[l.dst], l.in), 1) << c.what;
        p.UpdateList.Clear();
        TestProcessLog().clear();
        p.ProcessAll();
        std::vector<STexProcNode*>& log = TestProcessLog();
        EXPECT_EQ(log.size(), (size_t)p.Nodes.Count()) << c.what;
        TArray<STexProcNode*> order;
        for (STexProcNode* n : log)
            order.Add(n);
        ExpectOrderedOnce(order);
        for (STexProcNode* n : p.Nodes)
            EXPECT_EQ(n->Status, "") << c.what;
        EXPECT_TRUE(p.UpdateList.IsEmpty());
        EXPECT_EQ(p.Edited, 1u);
    }
}

TEST_F(TexProcessor, NodesQueuedOrRemovedWhileTheListRunsAreProcessedAsTheListThenStands)
{
    // A chain a -> b -> c; what b does while it is processed, and the processing that follows.
    const struct
    {
        const char* what;
        bool removeC; // else b queues a again
        std::vector<int> log;
    } cases[] = {
        {"a queued again runs again, and c after it, but not b", false, {0, 1, 0, 2}},
        {"c removed does not run", true, {0, 1}},
    };
    for (const auto& c : cases)
    {
        STexProcessor p;
        STexProcNode* n[] = {AddPinsNode(p, 0, 1), AddPinsNode(p, 1, 1), AddPinsNode(p, 1, 1)};
        ASSERT_EQ(TestLink(p, n[0], 0, n[1], 0), 1);
        ASSERT_EQ(TestLink(p, n[1], 0, n[2], 0), 1);
        p.ProcessAll();
        TestProcessLog().clear();
        bool once = true;
        TestProcessHook() = [&](STexProcNode* node) {
            if (node != n[1] || !once)
                return;
            once = false;
            if (c.removeC)
                p.RemoveNode(n[2]);
            else
                p.AddToUpdateList(n[0]);
        };
        p.AddToUpdateList(n[0]);
        p.ProcessUpdateList();
        TestProcessHook() = nullptr;
        std::vector<STexProcNode*> expected;
        for (int i : c.log)
            expected.push_back(n[i]);
        EXPECT_EQ(TestProcessLog(), expected) << c.what;
        EXPECT_TRUE(p.UpdateList.IsEmpty()) << c.what;
    }
}

TEST_F(TexProcessor, AFailedNodeDropsItsOutputSoItsDependantsSeeNone)
{
    STexProcessor p;
    const int SIZE = 8;
    STestNode_Pins* src = AddPinsNode(p, 0, 1, SIZE);
    STestNode_Affine* dst = AddTestNode<STestNode_Affine>(p);
    ASSERT_EQ(TestLink(p, src, 0, dst, 0), 1);
    p.ProcessUpdateList();
    ASSERT_FALSE(src->Output.IsNull());
    ASSERT_FALSE(dst->Output.IsNull());
    EXPECT_EQ(dst->Status, "");

    src->Fail = 1;
    p.AddToUpdateList(src);
    p.ProcessUpdateList();
    EXPECT_EQ(src->Status, TEST_FAILURE_TEXT);
    EXPECT_TRUE(src->Output.IsNull());
    EXPECT_EQ(dst->Status, GNodeStatusTexts[NS_NullTexture]);
    EXPECT_TRUE(dst->Output.IsNull());

    // Once the source works again both recover and their texts clear.
    src->Fail = 0;
    p.AddToUpdateList(src);
    p.ProcessUpdateList();
    EXPECT_EQ(src->Status, "");
    EXPECT_EQ(dst->Status, "");
    EXPECT_FALSE(dst->Output.IsNull());
}

TEST_F(TexProcessor, DebugUpdatesShowsABoxPerQueuedAndProcessedNodeOnlyWhenOn)
{
    struct Case
    {
        float value;
        int added, recursive, processing;
    };
    const Case cases[] = {{0, 0, 0, 0}, {1, 1, 1, 2}};
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* a = AddPinsNode(p, 0, 1);
        STexProcNode* b = AddPinsNode(p, 1, 1);
        ASSERT_EQ(TestLink(p, a, 0, b, 0), 1);
        p.ProcessUpdateList();
        RecordedBoxes().clear();
        TDebugUpdates on(c.value);
        p.AddToUpdateList(a);
        p.ProcessUpdateList();
        EXPECT_EQ(CountBoxes("Added to update list..."), c.added) << c.value;
        EXPECT_EQ(CountBoxes("[out]Recursively added to update list..."), c.recursive) << c.value;
        EXPECT_EQ(CountBoxes("Processing..."), c.processing) << c.value;
    }
}

TEST_F(TexProcessor, RemovingOrClearingNodesCancelsEveryReferenceToThem)
{
    enum EOpen
    {
        OPEN_NodeMenu,
        OPEN_EnumMenu,
        OPEN_AnimMenu,
        OPEN_Prompt,
        OPEN_LinkDrag,
        OPEN_CaptionDrag,
    };
    static const char* const CHOICES[] = {"One", "Two"};
    for (int clear = 0; clear < 2; ++clear)
        for (int open = OPEN_NodeMenu; open <= OPEN_CaptionDrag; ++open)
        {
            STexProcessor p;
            STexProcNode* keep = AddPinsNode(p, 1, 1);
            STexProcNode* node = AddPinsNode(p, 1, 1);
            ASSERT_EQ(TestLink(p, keep, 0, node, 0), 1);
            s32 choice = 0;
            switch (open)
            {
            case OPEN_NodeMenu: p.OpenNodeSlotMenu(new STexProcessor::NodeMenu(node, &p)); break;
            case OPEN_EnumMenu: OpenEnumMenu(&p, node, &choice, CHOICES, 2, mRect{0, 0, 10, 10}); break;
            case OPEN_AnimMenu: p.OpenNodeSlotMenu(new STexProcessor::AnimMenu(node, &p)); break;
            case OPEN_Prompt: p.OpenPopupWindow("Enter the new name", &node->NName); break;
            case OPEN_LinkDrag: p.BeginLinkDrag(-1, node->InParams[0], GMousePos); break;
            case OPEN_CaptionDrag: p.BeginNodeDrag(node); break;
            }
            if (clear)
                p.ClearNodes();
            else
                p.RemoveNode(node);
            EXPECT_EQ(p.NodeMenuSlot, nullptr) << clear << "," << open;
            EXPECT_EQ(p.Prompt, nullptr) << clear << "," << open;
            EXPECT_EQ(p.LinkDragPin, nullptr) << clear << "," << open;
            EXPECT_EQ(p.LinkDragDir, 0) << clear << "," << open;
            EXPECT_EQ(p.BusyCount, 0u) << clear << "," << open;
            EXPECT_EQ(p.UpdateList.Find(node), -1);
            EXPECT_EQ(p.Nodes.Count(), clear ? 0u : 1u);
            EXPECT_EQ(p.Children.Count(), clear ? 0u : 1u);
            if (!clear)
            {
                EXPECT_TRUE(keep->OutParams[0]->Links.IsEmpty());
            }
            // The next frames run over whatever is left (ASan sees any stale pointer).
            Frame(p, 10, 10, true);
            Frame(p, 10, 10, false);
        }
}

TEST_F(TexProcessor, APromptOnAnotherNodesNameOutlivesARemoval)
{
    STexProcessor p;
    STexProcNode* keep = AddPinsNode(p, 0, 1);
    STexProcNode* gone = AddPinsNode(p, 0, 1);
    p.OpenPopupWindow("Enter the new name", &keep->NName);
    p.RemoveNode(gone);
    ASSERT_NE(p.Prompt, nullptr);
    EXPECT_EQ(p.Prompt->Target, &keep->NName);
    p.RemoveNode(keep);
    EXPECT_EQ(p.Prompt, nullptr);
}

TEST_F(TexProcessor, RemovingANodeThatIsNotInTheGraphIsRefused)
{
    STexProcessor p, other;
    STexProcNode* stranger = AddPinsNode(other, 0, 1);
    TExpectBreak expect("Nodes.Size() == prevsz");
    p.RemoveNode(stranger);
    EXPECT_EQ(other.IndexOfNode(stranger), 0);
}

TEST_F(TexProcessor, CreatedNodesTakeTheClassDefaultsAndUnknownClassesAreRefused)
{
    STexProcessor p;
    STexProcNode* n = p.CreateNode("STestNode_Affine");
    ASSERT_NE(n, nullptr);
    STestNode_Affine* a = dynamic_cast<STestNode_Affine*>(n);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->ID, 0);
    EXPECT_FLOAT_EQ(a->Scale, 1.0f);
    EXPECT_EQ(a->NName, NODE_UNNAMED);
    EXPECT_EQ(p.IndexOfNode(a), 0);
    EXPECT_EQ(a->Owner, &p);
    // The new node hangs at the mouse until the button is released.
    EXPECT_EQ(a->Dragging, 1u);
    EXPECT_EQ(p.BusyCount, 1u);
    TExpectBreak expect("!ty");
    EXPECT_EQ(p.CreateNode("NoSuchNodeClass"), nullptr);
    EXPECT_EQ(p.Nodes.Count(), 1u);
}

TEST_F(TexProcessor, CaptureAndRecreateKeepTheIndexLinksAndParameters)
{
    STexProcessor p;
    STexProcNode* a = AddPinsNode(p, 0, 1);
    STestNode_Affine* mid = AddTestNode<STestNode_Affine>(p, [](TArray<SPropDesc>& l) { TestSetInt(l, "Ins", 2); });
    STexProcNode* b = AddPinsNode(p, 0, 1);
    STexProcNode* c = AddPinsNode(p, 1, 1);
    ASSERT_EQ(TestLink(p, a, 0, mid, 0), 1);
    ASSERT_EQ(TestLink(p, b, 0, mid, 1), 1);
    ASSERT_EQ(TestLink(p, mid, 0, c, 0), 1);
    mid->Scale = 0.25f;
    mid->NName = "middle";
    const std::set<std::vector<int>> links = LinkSet(p);

    TArray<SPropDesc> props;
    TArray<SCapturedLink> captured;
    p.CaptureNode(mid, props, captured);
    ASSERT_EQ(captured.Count(), 3u);
    STexProcNode* again = p.RecreateNode(mid, props, captured);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(p.IndexOfNode(again), 1);
    EXPECT_EQ(p.Nodes.Count(), 4u);
    EXPECT_EQ(LinkSet(p), links);
    STestNode_Affine* copy = dynamic_cast<STestNode_Affine*>(again);
    ASSERT_NE(copy, nullptr);
    EXPECT_FLOAT_EQ(copy->Scale, 0.25f);
    EXPECT_EQ(copy->NName, "middle");
    EXPECT_GE(p.UpdateList.Find(again), 0);
}

TEST_F(TexProcessor, NodesAreFoundByTheirNames)
{
    STexProcessor p;
    const char* names[] = {"a", "b", "a", "A"};
    for (const char* n : names)
        AddPinsNode(p, 0, 1)->NName = n;
    struct Case
    {
        const char* name;
        u32 count;
        int first;
    };
    const Case cases[] = {{"a", 2, 0}, {"b", 1, 1}, {"A", 1, 3}, {"c", 0, -1}, {"", 0, -1}};
    for (const Case& c : cases)
    {
        EXPECT_EQ(p.CountNodesByName(c.name), c.count) << c.name;
        STexProcNode* found = p.FindNodeByName(c.name);
        EXPECT_EQ(found ? p.IndexOfNode(found) : -1, c.first) << c.name;
    }
}

TEST_F(TexProcessor, CanvasCoordinatesFollowPanAndZoomAboutTheScreenCentre)
{
    struct Case
    {
        mVec2 pan;
        float zoom;
        mVec2 graph, screen;
    };
    // Centre (512, 288): screen = centre + (graph - pan - centre) * zoom.
    const Case cases[] = {
        {{0, 0}, 1, {100, 50}, {100, 50}},
        {{0, 0}, 2, {512, 288}, {512, 288}},
        {{0, 0}, 2, {612, 288}, {712, 288}},
        {{10, -20}, 0.5f, {112, 308}, {307, 308}},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        p.Pan = c.pan;
        p.Zoom = c.zoom;
        const mVec2 s = p.GraphToScreen(c.graph);
        EXPECT_FLOAT_EQ(s.x, c.screen.x);
        EXPECT_FLOAT_EQ(s.y, c.screen.y);
        const mVec2 g = p.ScreenToGraph(c.screen);
        EXPECT_NEAR(g.x, c.graph.x, 1e-3f);
        EXPECT_NEAR(g.y, c.graph.y, 1e-3f);
    }
}

TEST_F(TexProcessor, ZoomStaysInRangeAndAZoomDragFromTheCentreGivesNoNaN)
{
    struct Case
    {
        u32 key;
        int ticks;
        float expected;
    };
    const Case cases[] = {
        {KEY_WheelAway, 1, 1.25f},
        {KEY_WheelTowards, 1, 0.75f},
        {KEY_WheelAway, 100, CANVAS_MAX_ZOOM},
        {KEY_WheelTowards, 100, CANVAS_MIN_ZOOM},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        for (int i = 0; i < c.ticks; ++i)
        {
            GUITest_Tick(700, 400, false);
            GUITest_Key(c.key, true);
            SGUILayer::DrawTree(&p, DT);
        }
        EXPECT_FLOAT_EQ(p.Zoom, c.expected) << c.key << " x" << c.ticks;
        GUITest_ResetInput();
    }

    // Control pressed with the mouse exactly on the centre, then moved.
    STexProcessor p;
    const float cx = (float)GScreenWidth * 0.5f, cy = (float)GScreenHeight * 0.5f;
    const mVec2 path[] = {{cx, cy}, {cx + 100, cy}, {cx + 200, cy + 50}};
    for (const mVec2& m : path)
    {
        GUITest_Tick(m.x, m.y, false);
        GUITest_Key(CANVAS_KEY_Zoom, true);
        SGUILayer::DrawTree(&p, DT);
        EXPECT_TRUE(isfinite(p.Zoom));
        EXPECT_GE(p.Zoom, CANVAS_MIN_ZOOM);
        EXPECT_LE(p.Zoom, CANVAS_MAX_ZOOM);
    }
    GUITest_Tick(cx, cy, false);
    GUITest_Key(CANVAS_KEY_Zoom, false);
    SGUILayer::DrawTree(&p, DT);
    EXPECT_EQ(p.BusyCount, 0u);
}

TEST_F(TexProcessor, LinkCurvesAreCutByLengthAndSkippedOffScreenOrWhenNotFinite)
{
    struct Case
    {
        mVec2 from, to;
        u32 segments;
    };
    const float W = 1024, H = 576, INF = INFINITY;
    const Case cases[] = {
        {{100, 100}, {100, 100}, 8},       // a point: the minimum
        {{100, 100}, {600, 100}, 18},      // 500 long: 10 more
        {{100, 100}, {149, 100}, 8},       // under 50
        {{-500, -500}, {-400, -500}, 0},   // box wholly left of and above the screen
        {{1100, 100}, {1200, 100}, 0},     // right of it
        {{-100, 100}, {-20, 100}, 9},      // both ends off, the curve's box reaches the screen
        {{NAN, 100}, {600, 100}, 0},
        {{100, 100}, {INF, 100}, 0},
        {{0, 0}, {3e38f, 3e38f}, 0},       // the length overflows
        {{-1e6f, 300}, {1e6f, 300}, 4096}, // as many pieces as a link may have
    };
    for (const Case& c : cases)
        EXPECT_EQ(CanvasLinkSegments(c.from, c.to, W, H), c.segments)
            << c.from.x << "," << c.from.y << " -> " << c.to.x << "," << c.to.y;
}

TEST_F(TexProcessor, TheNodeMenuOpensOnlyOnNodesOfTheGraph)
{
    STexProcessor p;
    STexProcNode* node = AddPinsNode(p, 0, 1);
    node->SetPosition(100, 100);
    Frame(p, 0, 0, false);
    const mRect r = node->Rect;
    // A right click on the prompt (over nothing else) opens no menu.
    GMousePos = mVec2(800, 400);
    p.OpenPopupWindow("Enter the new name", &node->NName);
    auto rightClick = [&](float x, float y) {
        Frame(p, x, y, false, true);
        Frame(p, x, y, false);
    };
    rightClick((p.Prompt->Rect.x0 + p.Prompt->Rect.x1) * 0.5f, p.Prompt->Rect.y0 + 5);
    EXPECT_EQ(p.NodeMenuSlot, nullptr);
    // On the node's caption it opens, for that node.
    rightClick((r.x0 + r.x1) * 0.5f, r.y0 + 5);
    auto* menu = dynamic_cast<STexProcessor::NodeMenu*>(p.NodeMenuSlot);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->Node, node);
}

TEST_F(TexProcessor, PanDragsMoveTheCanvasByTheMouseOverTheZoom)
{
    struct Case
    {
        u32 key;
        float zoom;
        mVec2 start, end, pan;
    };
    const Case cases[] = {
        {CANVAS_KEY_Pan, 1, {100, 100}, {150, 80}, {-50, 20}},
        {CANVAS_KEY_Pan, 2, {100, 100}, {150, 80}, {-25, 10}},
        {KEY_MouseMiddle, 0.5f, {300, 300}, {200, 350}, {200, -100}},
    };
    for (const Case& c : cases)
    {
        STexProcessor p;
        p.Zoom = c.zoom;
        GUITest_Tick(c.start.x, c.start.y, false);
        GUITest_Key(c.key, true);
        SGUILayer::DrawTree(&p, DT);
        EXPECT_EQ(p.Panning, 1u);
        EXPECT_EQ(p.BusyCount, 1u);
        Frame(p, c.end.x, c.end.y, false);
        EXPECT_FLOAT_EQ(p.Pan.x, c.pan.x) << c.key;
        EXPECT_FLOAT_EQ(p.Pan.y, c.pan.y) << c.key;
        // A zoom drag cannot start while the pan runs.
        GUITest_Key(CANVAS_KEY_Zoom, true);
        Frame(p, c.end.x, c.end.y, false);
        EXPECT_EQ(p.Zooming, 0u);
        GUITest_Key(c.key, false);
        GUITest_Key(CANVAS_KEY_Zoom, false);
        Frame(p, c.end.x, c.end.y, false);
        EXPECT_EQ(p.Panning, 0u);
        EXPECT_EQ(p.BusyCount, 0u);
        GUITest_ResetInput();
    }
}

TEST_F(TexProcessor, ANodeDraggedByItsCaptionFollowsTheMouseUntilReleased)
{
    struct Case
    {
        float zoom;
        bool endWithRight;
    };
    const Case cases[] = {{1, false}, {2, false}, {1, true}};
    for (const Case& c : cases)
    {
        STexProcessor p;
        p.Zoom = c.zoom;
        STexProcNode* n = AddPinsNode(p, 1, 1);
        n->SetPosition(200, 150);
        Frame(p, 0, 0, false);
        mVec2 grab;
        n->TransformPoint(grab, mVec2(n->Rect.x0 + NODE_WIDTH * 0.5f, n->Rect.y0 + NODE_CAPTION_HEIGHT * 0.5f));
        Frame(p, grab.x, grab.y, true);
        ASSERT_EQ(n->Dragging, 1u) << c.zoom;
        EXPECT_EQ(p.BusyCount, 1u);
        const mVec2 move(40, -20);
        Frame(p, grab.x + move.x, grab.y + move.y, true);
        // Canvas units: the mouse's way over the zoom.
        EXPECT_FLOAT_EQ(n->Pos0().x, 200 + move.x / c.zoom);
        EXPECT_FLOAT_EQ(n->Pos0().y, 150 + move.y / c.zoom);
        Frame(p, grab.x + move.x, grab.y + move.y, c.endWithRight, c.endWithRight);
        EXPECT_EQ(n->Dragging, 0u);
        EXPECT_EQ(p.BusyCount, 0u);
        GUITest_ResetInput();
    }
}

TEST_F(TexProcessor, ALinkDraggedFromEitherEndJoinsAnOutputToAnInput)
{
    struct Case
    {
        bool fromInput;
        bool ontoOwnNode;
        bool linked;
    };
    const Case cases[] = {{false, false, true}, {true, false, true}, {true, true, false}};
    for (const Case& c : cases)
    {
        STexProcessor p;
        STexProcNode* a = AddPinsNode(p, 1, 1);
        STexProcNode* b = AddPinsNode(p, 1, 1);
        a->SetPosition(100, 100);
        b->SetPosition(400, 100);
        Frame(p, 0, 0, false);
        NodePin* from = c.fromInput ? b->InParams[0] : a->OutParams[0];
        NodePin* to = c.fromInput ? (c.ontoOwnNode ? b->OutParams[0] : a->OutParams[0]) : b->InParams[0];
        const mVec2 f = p.PinScreenPos(from), t = p.PinScreenPos(to);
        Frame(p, f.x, f.y, true);
        EXPECT_EQ(p.LinkDragDir, c.fromInput ? -1 : 1);
        Frame(p, t.x + 2, t.y - 2, true);
        Frame(p, t.x + 2, t.y - 2, false);
        EXPECT_EQ(p.LinkDragDir, 0);
        EXPECT_EQ(p.LinkDragPin, nullptr);
        EXPECT_EQ(to->Links.Count(), c.linked ? 1u : 0u) << c.fromInput << c.ontoOwnNode;
        EXPECT_EQ(from->Links.Count(), c.linked ? 1u : 0u) << c.fromInput << c.ontoOwnNode;
        ExpectLinkInvariants(p);
        GUITest_ResetInput();
    }
}
