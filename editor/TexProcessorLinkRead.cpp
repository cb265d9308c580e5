// The links a document lists, made as linking them one at a time in its order would make them,
// in time linear in nodes and links whenever they hold no cycle, whatever their order and repeats.
// One depth-first walk over every listed link orders the nodes so that a link goes forward unless
// the links close a cycle; that order is then kept true of the links made so far (a link made
// against it reorders only the nodes between its two ends), so that only such a link needs a walk
// to see whether it would close a cycle.
#include "TexProcessor.h"

#include <algorithm>

namespace
{
const u32 NO_LINK = ~0u;

struct SOrderFrame
{
    u32 Node;
    u32 Next; // the next of its listed links to follow
};

class SDocumentLinks
{
public:
    SDocumentLinks(STexProcessor& processor, const TPodArray<SCapturedLink>& links)
        : P(processor), L(links), N(processor.Nodes.Count())
    {
    }

    void Make()
    {
        Index();
        OrderNodes();
        for (u32 j = 0; j < L.Count(); ++j)
            if (!Self(j))
                Decide(j);
        for (u32 j = 0; j < L.Count(); ++j)
        {
            // Each output lists its inputs in the order their links were last made.
            if (Self(j) || Held[Pin(j)] != j)
                continue;
            NodePin* out = P.Nodes[L[j].SrcNode]->OutParams[L[j].SrcPin];
            NodePin* in = P.Nodes[L[j].DstNode]->InParams[L[j].DstPin];
            out->Links.Add(in);
            in->Links.Add(out);
        }
    }

private:
    STexProcessor& P;
    const TPodArray<SCapturedLink>& L;
    const u32 N;
    TPodArray<u32> OutFirst; // per node (and one past the last), where its listed links begin in OutLinks
    TPodArray<u32> OutLinks; // the listed links by source node
    TPodArray<u32> InFirst;  // per node (and one past the last), the number of its first input pin
    TPodArray<u32> Held;     // per input pin, the listed link it holds now, or NO_LINK
    TPodArray<u32> Order;    // per node, its place: every link held goes from a lower place to a higher
    TPodArray<u32> Mark;     // per node, the number of the last walk that entered it
    TPodArray<u32> Stack, Ahead, Behind;

    // A node linked to itself: Link makes no such link and leaves the pins as they were.
    bool Self(u32 j) const { return L[j].SrcNode == L[j].DstNode; }
    u32 Pin(u32 j) const { return InFirst[L[j].DstNode] + L[j].DstPin; }
    bool IsHeld(u32 j) const { return Held[Pin(j)] == j; }

    static void Fill(TPodArray<u32>& a, u32 count, u32 value)
    {
        a.Resize(count);
        for (u32& v : a)
            v = value;
    }

    void Index()
    {
        Fill(OutFirst, N + 1, 0);
        for (u32 j = 0; j < L.Count(); ++j)
            if (!Self(j))
                ++OutFirst[L[j].SrcNode + 1];
        for (u32 n = 0; n < N; ++n)
            OutFirst[n + 1] += OutFirst[n];
        TPodArray<u32> at = OutFirst;
        OutLinks.Resize(OutFirst[N]);
        for (u32 j = 0; j < L.Count(); ++j)
            if (!Self(j))
                OutLinks[at[L[j].SrcNode]++] = j;
        Fill(InFirst, N + 1, 0);
        for (u32 n = 0; n < N; ++n)
            InFirst[n + 1] = InFirst[n] + P.Nodes[n]->InParams.Count();
        Fill(Held, InFirst[N], NO_LINK);
        Fill(Mark, N, 0);
    }

    // Reverse finishing order of a depth-first walk over every listed link: only links that close
    // a cycle among the listed ones go backward in it.
    void OrderNodes()
    {
        Order.Resize(N);
        u32 place = N;
        const u32 walk = ++P.WalkMark;
        TPodArray<SOrderFrame> frames;
        for (u32 root = 0; root < N; ++root)
        {
            if (Mark[root] == walk)
                continue;
            Mark[root] = walk;
            frames.Add(SOrderFrame{root, OutFirst[root]});
            while (!frames.IsEmpty())
            {
                SOrderFrame& f = frames.Last();
                if (f.Next == OutFirst[f.Node + 1])
                {
                    Order[f.Node] = --place;
                    frames.Remove(frames.Count() - 1);
                    continue;
                }
                const u32 to = L[OutLinks[f.Next++]].DstNode;
                if (Mark[to] != walk)
                {
                    Mark[to] = walk;
                    frames.Add(SOrderFrame{to, OutFirst[to]});
                }
            }
        }
    }

    // What Link does with link j: the same link held already is let go; a link that would close
    // a cycle is refused; otherwise it replaces the link its input holds.
    void Decide(u32 j)
    {
        const u32 pin = Pin(j);
        const u32 held = Held[pin];
        if (held != NO_LINK && L[held].SrcNode == L[j].SrcNode && L[held].SrcPin == L[j].SrcPin)
            Held[pin] = NO_LINK;
        const u32 from = L[j].SrcNode, to = L[j].DstNode;
        if (Order[from] < Order[to])
        {
            Held[pin] = j;
            return;
        }
        if (Reaches(to, from))
            return;
        Held[pin] = j;
        Reorder(from, to);
    }

    // Whether target is fed, directly or not, by start through the links held; the walk enters
    // only nodes placed before target, as any path to it runs through them. Ahead receives them.
    bool Reaches(u32 start, u32 target)
    {
        const u32 walk = ++P.WalkMark;
        Ahead.Resize(0);
        Stack.Resize(0);
        Stack.Add(start);
        Mark[start] = walk;
        while (!Stack.IsEmpty())
        {
            const u32 n = Stack.Last();
            Stack.Remove(Stack.Count() - 1);
            ++P.ReachVisits;
            Ahead.Add(n);
            for (u32 e = OutFirst[n]; e < OutFirst[n + 1]; ++e)
            {
                const u32 j = OutLinks[e];
                if (!IsHeld(j))
                    continue;
                const u32 next = L[j].DstNode;
                if (next == target)
                    return true;
                if (Mark[next] == walk || Order[next] > Order[target])
                    continue;
                Mark[next] = walk;
                Stack.Add(next);
            }
        }
        return false;
    }

    // After a link from a node placed after the one it feeds: the nodes that feed from (placed
    // after to) take the places of them and of the nodes to feeds (Ahead, placed before from),
    // first, each group in its old order, so that every link held goes forward again.
    void Reorder(u32 from, u32 to)
    {
        const u32 walk = ++P.WalkMark;
        Behind.Resize(0);
        Stack.Resize(0);
        Stack.Add(from);
        Mark[from] = walk;
        while (!Stack.IsEmpty())
        {
            const u32 n = Stack.Last();
            Stack.Remove(Stack.Count() - 1);
            ++P.ReachVisits;
            Behind.Add(n);
            for (u32 pin = InFirst[n]; pin < InFirst[n + 1]; ++pin)
            {
                if (Held[pin] == NO_LINK)
                    continue;
                const u32 prev = L[Held[pin]].SrcNode;
                if (Mark[prev] == walk || Order[prev] < Order[to])
                    continue;
                Mark[prev] = walk;
                Stack.Add(prev);
            }
        }
        const auto byPlace = [this](u32 a, u32 b) { return Order[a] < Order[b]; };
        std::sort(Behind.begin(), Behind.end(), byPlace);
        std::sort(Ahead.begin(), Ahead.end(), byPlace);
        TPodArray<u32> places;
        for (u32 n : Behind)
            places.Add(Order[n]);
        for (u32 n : Ahead)
            places.Add(Order[n]);
        std::sort(places.begin(), places.end());
        u32 i = 0;
        for (u32 n : Behind)
            Order[n] = places[i++];
        for (u32 n : Ahead)
            Order[n] = places[i++];
    }
};
} // namespace

void STexProcessor::LinkRead(const TPodArray<SCapturedLink>& links)
{
    SDocumentLinks(*this, links).Make();
    SortUpdateList();
}
