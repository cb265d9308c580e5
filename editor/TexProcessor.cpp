// The graph of the processor: creating, adding and removing nodes, links without cycles, the update
// list with its ordering and processing, and capturing and re-creating a node.
#include "TexProcessor.h"

#include <GL/glew.h>

#include "GameConsole.h"
#include "GameWindow.h"
#include "GameInput.h"
#include "TexNodeRegistry.h"

STexProcessor* GProcessor = nullptr;

namespace
{
bool DebugBoxes()
{
    return DebugUpdates.AsInt() != 0;
}

void DebugBox(const STexProcNode* node, const char* caption)
{
    if (DebugBoxes())
        gSysMessage(node->Title.Str(), caption);
}

struct SWalkFrame
{
    STexProcNode* Node;
    u32 Pin;
    u32 Link;
};
} // namespace

STexProcessor::STexProcessor()
    : Edited(0), NodeMenuSlot(nullptr), Prompt(nullptr), BusyCount(0), Pan(0, 0), Zoom(1.0f), DragPivot(0, 0),
      DragStartMouse(0, 0), ZoomAtDragStart(1.0f), Panning(0), Zooming(0), LinkDragDir(0), LinkDragPin(nullptr),
      LinkDragMouse(0, 0), LayoutsDue(0), WalkMark(0), ReachVisits(0), ReleaseSpentOutputs(0), RunStep(0),
      TexturesRefused(0)
{
    Name = "Processor";
    TexRegisterNodeClasses();
    // A graph of nodes that feed nothing is drawn without fading in.
    FadeInTime = 0;
}

STexProcessor::~STexProcessor()
{
    ClearNodes();
    DeletePending();
}

mVec2 STexProcessor::GraphToScreen(const mVec2& p) const
{
    const float cx = (float)(GScreenWidth / 2);
    const float cy = (float)(GScreenHeight / 2);
    return mVec2(cx + (p.x - Pan.x - cx) * Zoom, cy + (p.y - Pan.y - cy) * Zoom);
}

mVec2 STexProcessor::ScreenToGraph(const mVec2& p) const
{
    const float cx = (float)(GScreenWidth / 2);
    const float cy = (float)(GScreenHeight / 2);
    return mVec2((p.x - cx) / Zoom + cx + Pan.x, (p.y - cy) / Zoom + cy + Pan.y);
}

// ---------------------------------------------------------------------------------------------
// Nodes

STexProcNode* STexProcessor::CreateNode(const char* className)
{
    SClassInfo* ty = FindClassInfo(className);
    if (BREAK_IF(!ty))
        return nullptr;
    TArray<SPropDesc> list;
    InstantiatePropTable(list, ty->Props);
    if (SPropDesc* id = FindPropDesc(list, "_ID"))
        if (!BREAK_IF_TEXT(id->Type != EVT_ID, "Type != EVT_ID"))
            id->Default.Int = 0;
    CEntity* entity = ty->Create ? ty->Create(list) : nullptr;
    STexProcNode* node = dynamic_cast<STexProcNode*>(entity);
    if (BREAK_IF(!node))
    {
        delete entity;
        return nullptr;
    }
    AddNode(node, 1);
    return node;
}

void STexProcessor::LayOut(STexProcNode* node, bool draw)
{
    node->UpdateRect();
    const bool writes = R_GetColorWrites();
    if (!draw)
        R_SetColorWrites(false);
    ++node->InFrame;
    node->Frame();
    --node->InFrame;
    R_SetColorWrites(writes);
}

void STexProcessor::AddNode(STexProcNode* node, u32 interactive)
{
    if (BREAK_IF(!node))
        return;
    AddChild(node);
    Nodes.Add(node);
    node->Owner = this;
    AddToUpdateList(node);
    if (interactive && BusyCount == 0)
    {
        const mVec2 m = ScreenToGraph(GMousePos);
        node->SetPosition(m.x - CANVAS_PLACE_OFFSET, m.y - CANVAS_PLACE_OFFSET);
        LayOut(node, true);
        BeginNodeDrag(node);
        return;
    }
    // Laid out when the canvas is first drawn: a graph no window shows is never.
    LayoutsDue = 1;
}

void STexProcessor::BeginNodeDrag(STexProcNode* node)
{
    if (node->Dragging)
        return;
    node->GrabOffset = node->Pos0() - GMousePos * (1.0f / Zoom);
    node->Dragging = 1;
    node->DragAwaitsPress = GMouseLeft ? 0 : 1;
    ++BusyCount;
}

void STexProcessor::EndNodeDrag(STexProcNode* node)
{
    if (!node->Dragging)
        return;
    node->Dragging = 0;
    if (BusyCount)
        --BusyCount;
}

void STexProcessor::DropLayer(SGUILayer* layer)
{
    if (!layer)
        return;
    RemoveChild(layer);
    if (layer->InFrame)
        LayersToDelete.Add(layer);
    else
        delete layer;
}

void STexProcessor::DeletePending()
{
    for (u32 i = 0; i < LayersToDelete.Count(); ++i)
        delete LayersToDelete[i];
    LayersToDelete.Clear();
}

void STexProcessor::ForgetNode(STexProcNode* node)
{
    SNodeBoundMenu* bound = dynamic_cast<SNodeBoundMenu*>(NodeMenuSlot);
    if (NodeMenuSlot && (!node || (bound && bound->Node == node)))
    {
        if (bound)
            bound->Node = nullptr;
        DropLayer(NodeMenuSlot);
        NodeMenuSlot = nullptr;
    }
    // The prompt edits a text inside a node (its name, from the node menu).
    const char* target = Prompt ? (const char*)Prompt->Target : nullptr;
    const char* base = (const char*)node;
    NodePrompt* nodePrompt = dynamic_cast<NodePrompt*>(Prompt);
    if (Prompt && (!node || (nodePrompt && nodePrompt->Node == node) ||
                   (target >= base && target < base + sizeof(STexProcNode))))
    {
        DropLayer(Prompt);
        Prompt = nullptr;
    }
    if (LinkDragPin && (!node || LinkDragPin->Owner == node))
    {
        LinkDragDir = 0;
        LinkDragPin = nullptr;
    }
    if (node)
        EndNodeDrag(node);
    else
        for (u32 i = 0; i < Nodes.Count(); ++i)
            EndNodeDrag(Nodes[i]);
}

void STexProcessor::RemoveFromUpdateList(STexProcNode* node)
{
    u32 kept = 0;
    for (u32 i = 0; i < UpdateList.Count(); ++i)
        if (UpdateList[i] != node)
            UpdateList[kept++] = UpdateList[i];
    UpdateList.Resize(kept);
    for (SUpdateRun* run = Running; run; run = run->Outer)
        for (u32 i = run->Next; i < run->Nodes.Count(); ++i)
            if (run->Nodes[i] == node)
                run->Nodes[i] = nullptr;
}

void STexProcessor::RemoveNode(STexProcNode* node)
{
    const u32 prevsz = Nodes.Count();
    const int at = Nodes.Find(node);
    if (at >= 0)
        Nodes.Remove((u32)at);
    if (BREAK_IF_TEXT(Nodes.Count() == prevsz, "Nodes.Size() == prevsz"))
        return;
    ForgetNode(node);
    RemoveChild(node);
    for (u32 i = 0; i < node->InParams.Count(); ++i)
    {
        NodePin* in = node->InParams[i];
        while (!in->Links.IsEmpty())
            Unlink(in->Links.Last(), in);
    }
    for (u32 i = 0; i < node->OutParams.Count(); ++i)
    {
        NodePin* out = node->OutParams[i];
        while (!out->Links.IsEmpty())
            Unlink(out, out->Links.Last());
    }
    node->ID = -1;
    RemoveFromUpdateList(node);
    node->Owner = nullptr;
    // A node gone is an edit even when it fed nothing.
    Edited = 1;
    if (node->InFrame)
        LayersToDelete.Add(node);
    else
        delete node;
}

int STexProcessor::IndexOfNode(const STexProcNode* node) const
{
    for (u32 i = 0; i < Nodes.Count(); ++i)
        if (Nodes[i] == node)
            return (int)i;
    return -1;
}

u32 STexProcessor::CountNodesByName(const char* name) const
{
    u32 n = 0;
    for (u32 i = 0; i < Nodes.Count(); ++i)
        n += gStrCmp(Nodes[i]->NName.Str(), name ? name : "") == 0 ? 1 : 0;
    return n;
}

STexProcNode* STexProcessor::FindNodeByName(const char* name) const
{
    for (u32 i = 0; i < Nodes.Count(); ++i)
        if (gStrCmp(Nodes[i]->NName.Str(), name ? name : "") == 0)
            return Nodes[i];
    return nullptr;
}

void STexProcessor::ClearNodes()
{
    ForgetNode(nullptr);
    // The nodes leave the child lists in one pass: one by one would cost the square of their number.
    const u32 leaving = ++WalkMark;
    for (u32 i = 0; i < Nodes.Count(); ++i)
        Nodes[i]->VisitMark = leaving;
    for (TArray<SGUILayer*>* list : {&Children, &DrawOrder})
    {
        u32 kept = 0;
        for (u32 i = 0; i < list->Count(); ++i)
        {
            const STexProcNode* node = dynamic_cast<const STexProcNode*>((*list)[i]);
            if (!node || node->VisitMark != leaving)
                (*list)[kept++] = (*list)[i];
        }
        list->Resize(kept);
    }
    for (u32 i = 0; i < Nodes.Count(); ++i)
    {
        STexProcNode* node = Nodes[i];
        node->ID = -1;
        if (node->InFrame)
            LayersToDelete.Add(node);
        else
            delete node;
    }
    Nodes.Clear();
    UpdateList.Clear();
    for (SUpdateRun* run = Running; run; run = run->Outer)
        run->Nodes.Resize(run->Next);
    while (!Children.IsEmpty())
        DropLayer(Children.Last());
    DrawOrder.Clear();
    FileName = "";
    Edited = 0;
    // Only the canvas's own drags outlive the nodes.
    BusyCount = Panning + Zooming;
}

// ---------------------------------------------------------------------------------------------
// Links

int STexProcessor::Link(NodePin* output, NodePin* input)
{
    if (!output || !input)
        return 0;
    // A node feeding itself is a cycle the reachability walk cannot see.
    if (output->Owner == input->Owner)
        return 0;
    Unlink(output, input);
    if (IsReachable(input->Owner, output->Owner))
        return 0;
    while (!input->Links.IsEmpty())
        Unlink(input->Links[0], input);
    output->Links.Add(input);
    input->Links.Add(output);
    return 1;
}

void STexProcessor::DetachPins(NodePin* a, NodePin* b)
{
    for (int at; (at = a->Links.Find(b)) >= 0;)
        a->Links.Remove((u32)at);
    for (int at; (at = b->Links.Find(a)) >= 0;)
        b->Links.Remove((u32)at);
}

void STexProcessor::Unlink(NodePin* a, NodePin* b)
{
    if (!a || !b)
        return;
    if (b->Owner)
        AddToUpdateList(b->Owner);
    DetachPins(a, b);
}

void STexProcessor::UnlinkAll(STexProcNode* node)
{
    if (!node)
        return;
    for (u32 i = 0; i < node->InParams.Count(); ++i)
        while (!node->InParams[i]->Links.IsEmpty())
            Unlink(node->InParams[i]->Links[0], node->InParams[i]);
    for (u32 i = 0; i < node->OutParams.Count(); ++i)
        while (!node->OutParams[i]->Links.IsEmpty())
            Unlink(node->OutParams[i], node->OutParams[i]->Links[0]);
}

int STexProcessor::IsReachable(STexProcNode* node, STexProcNode* target)
{
    if (!node || !target)
        return 0;
    // Each node is entered once: a walk per path would double with every diamond.
    const u32 mark = ++WalkMark;
    TPodArray<STexProcNode*> stack;
    stack.Add(node);
    while (!stack.IsEmpty())
    {
        STexProcNode* n = stack.Last();
        stack.Remove(stack.Count() - 1);
        ++ReachVisits;
        for (u32 p = 0; p < n->OutParams.Count(); ++p)
            for (u32 l = 0; l < n->OutParams[p]->Links.Count(); ++l)
            {
                STexProcNode* next = n->OutParams[p]->Links[l]->Owner;
                if (!next)
                    continue;
                if (next == target)
                    return 1;
                if (next->VisitMark == mark)
                    continue;
                next->VisitMark = mark;
                stack.Add(next);
            }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Update list

void STexProcessor::AppendDependants(STexProcNode* node, bool inputs)
{
    // Depth first in pin and link order, each node entered once per walk; the nodes are appended
    // in the order a plain recursion first meets them.
    const u32 mark = ++WalkMark;
    const char* caption = inputs ? "[in]Recursively added to update list..." : "[out]Recursively added to update list...";
    node->VisitMark = mark;
    TPodArray<SWalkFrame> stack;
    stack.Add(SWalkFrame{node, 0, 0});
    while (!stack.IsEmpty())
    {
        SWalkFrame& f = stack.Last();
        const TArray<NodePin*>& pins = inputs ? f.Node->InParams : f.Node->OutParams;
        if (f.Pin >= pins.Count())
        {
            stack.Remove(stack.Count() - 1);
            continue;
        }
        NodePin* pin = pins[f.Pin];
        if (f.Link >= pin->Links.Count())
        {
            ++f.Pin;
            f.Link = 0;
            continue;
        }
        STexProcNode* next = pin->Links[f.Link++]->Owner;
        if (!next || next->VisitMark == mark)
            continue;
        next->VisitMark = mark;
        DebugBox(next, caption);
        UpdateList.Add(next);
        stack.Add(SWalkFrame{next, 0, 0});
    }
}

void STexProcessor::AddReadNode(STexProcNode* node)
{
    AddChild(node);
    Nodes.Add(node);
    node->Owner = this;
    Edited = 1;
    DebugBox(node, "Added to update list...");
    UpdateList.Add(node);
}

void STexProcessor::AddToUpdateList(STexProcNode* node)
{
    if (!node)
        return;
    Edited = 1;
    DebugBox(node, "Added to update list...");
    UpdateList.Add(node);
    AppendDependants(node, false);
    SortUpdateList();
}

void STexProcessor::AddInputsToUpdateList(STexProcNode* node)
{
    if (!node)
        return;
    Edited = 1;
    DebugBox(node, "Added to update list...");
    UpdateList.Add(node);
    AppendDependants(node, true);
    SortUpdateList();
}

void STexProcessor::SortUpdateList()
{
    // Duplicates go (the first stays); the marks tell list members (queued) from placed ones.
    const u32 queued = ++WalkMark;
    const u32 placed = ++WalkMark;
    TArray<STexProcNode*> unique;
    unique.Reserve(UpdateList.Count());
    for (u32 i = 0; i < UpdateList.Count(); ++i)
    {
        STexProcNode* n = UpdateList[i];
        if (n->VisitMark == queued)
            continue;
        n->VisitMark = queued;
        unique.Add(n);
    }
    // Every node after the feeders in the list: each entry's queued feeders (inputs in order)
    // are placed first, depth first.
    TArray<STexProcNode*> sorted;
    sorted.Reserve(unique.Count());
    TPodArray<SWalkFrame> stack;
    for (u32 i = 0; i < unique.Count(); ++i)
    {
        if (unique[i]->VisitMark != queued)
            continue;
        unique[i]->VisitMark = placed;
        stack.Add(SWalkFrame{unique[i], 0, 0});
        while (!stack.IsEmpty())
        {
            SWalkFrame& f = stack.Last();
            if (f.Pin >= f.Node->InParams.Count())
            {
                sorted.Add(f.Node);
                stack.Remove(stack.Count() - 1);
                continue;
            }
            NodePin* in = f.Node->InParams[f.Pin++];
            STexProcNode* feeder = in->Links.IsEmpty() ? nullptr : in->Links[0]->Owner;
            if (feeder && feeder->VisitMark == queued)
            {
                feeder->VisitMark = placed;
                stack.Add(SWalkFrame{feeder, 0, 0});
            }
        }
    }
    UpdateList = sorted;
}

void STexProcessor::ProcessUpdateList()
{
    const bool scissor = R_GetScissorEnabled();
    R_SetScissorEnabled(false);
    const bool lean = ReleaseSpentOutputs != 0;
    if (lean)
        CountPendingReaders();
    SUpdateRun run;
    run.Outer = Running;
    Running = &run;
    while (STexProcNode* node = NextToProcess(run))
    {
        DebugBox(node, "Processing...");
        if (node->Process())
            node->Status = "";
        else
            // Nodes fed by it must not go on with the output of an earlier run.
            node->Output.Release();
        if (!UpdateList.IsEmpty())
        {
            // Its processing queued nodes: they are ordered with the rest of the run as if the
            // node still stood at its head, and then it goes, done.
            TArray<STexProcNode*> queued = UpdateList;
            UpdateList.Resize(0);
            UpdateList.Add(node);
            for (u32 i = run.Next; i < run.Nodes.Count(); ++i)
                if (run.Nodes[i])
                    UpdateList.Add(run.Nodes[i]);
            for (STexProcNode* n : queued)
                UpdateList.Add(n);
            run.Nodes.Resize(0);
            run.Next = 0;
            SortUpdateList();
            RemoveFromUpdateList(node);
        }
        if (lean)
        {
            // Spares the node just processed did not take would only hold memory from here on.
            for (u32 i = SpareTargets.Count(); i-- > 0;)
                if (SpareSteps[i] < RunStep)
                {
                    SpareTargets.Remove(i);
                    SpareSteps.Remove(i);
                }
            ReleaseSpent(node);
            ++RunStep;
        }
    }
    Running = run.Outer;
    SpareTargets.Clear();
    SpareSteps.Clear();
    // The targets it let go are freed only once their rendering has finished.
    if (lean)
        TEX_FinishRendering();
    R_SetScissorEnabled(scissor);
}

STexProcNode* STexProcessor::NextToProcess(SUpdateRun& run)
{
    for (;;)
    {
        if (run.Next >= run.Nodes.Count())
        {
            if (UpdateList.IsEmpty())
                return nullptr;
            // The list as it stands becomes the run; what is queued from here on is listed anew.
            run.Nodes = UpdateList;
            UpdateList.Resize(0);
            run.Next = 0;
            run.Mark = ++WalkMark;
        }
        STexProcNode* node = run.Nodes[run.Next++];
        // A later copy of a node goes with its first.
        if (node && node->RunMark != run.Mark)
        {
            node->RunMark = run.Mark;
            return node;
        }
    }
}

void STexProcessor::CountPendingReaders()
{
    for (STexProcNode* n : Nodes)
        n->PendingReaders = ~0u;
    const u32 queued = ++WalkMark;
    for (STexProcNode* n : UpdateList)
    {
        n->VisitMark = queued;
        n->PendingReaders = n->OutputReadOutside() ? ~0u : 0;
    }
    for (STexProcNode* n : UpdateList)
        for (NodePin* out : n->OutParams)
            for (NodePin* in : out->Links)
            {
                if (n->PendingReaders == ~0u)
                    break;
                // A reader outside the run reads the output later: it stays.
                if (!in->Owner || in->Owner->VisitMark != queued)
                    n->PendingReaders = ~0u;
                else
                    ++n->PendingReaders;
            }
}

void STexProcessor::ReleaseSpent(STexProcNode* node)
{
    for (NodePin* in : node->InParams)
        for (NodePin* src : in->Links)
        {
            STexProcNode* feeder = src->Owner;
            if (!feeder || feeder->PendingReaders == 0 || feeder->PendingReaders == ~0u)
                continue;
            if (--feeder->PendingReaders == 0)
                ReleaseOutput(feeder);
        }
    if (node->PendingReaders == 0)
        ReleaseOutput(node);
}

void STexProcessor::ReleaseOutput(STexProcNode* node)
{
    node->ReleaseOutputs(*this);
}

void STexProcessor::OfferSpareTarget(TextureRef& t)
{
    const STexture* tex = t.Get();
    // Only a target nobody else holds can serve another node; one of each kind serves a chain, and
    // more would only hold memory.
    bool keep = ReleaseSpentOutputs && tex && tex->GLName && tex->RefCount.load() == 1;
    for (u32 i = 0; keep && i < SpareTargets.Count(); ++i)
    {
        const STexture* s = SpareTargets[i].Get();
        keep = !(s->Width == tex->Width && s->Height == tex->Height && s->Depth == tex->Depth &&
                 s->Faces == tex->Faces && s->Format == tex->Format && s->Flags == tex->Flags);
    }
    if (keep)
    {
        SpareTargets.Add(t);
        SpareSteps.Add(RunStep);
    }
    t.Release();
}

bool STexProcessor::TakeSpareTarget(TextureRef& out, u32 width, u32 height, u32 format, u32 flags)
{
    for (u32 i = 0; i < SpareTargets.Count(); ++i)
    {
        const STexture* t = SpareTargets[i].Get();
        if (t->Width == width && t->Height == height && t->Depth == 1 && t->Faces == 1 && t->Format == format &&
            t->Flags == (flags | TEXF_NotStreamed) && t->RefCount.load() == 1)
        {
            out = SpareTargets[i];
            SpareTargets.Remove(i);
            SpareSteps.Remove(i);
            return true;
        }
    }
    return false;
}

void STexProcessor::ProcessAll()
{
    // Every node once, after all of its feeders.
    UpdateList.Clear();
    Edited = 1;
    for (u32 i = 0; i < Nodes.Count(); ++i)
    {
        DebugBox(Nodes[i], "Added to update list...");
        UpdateList.Add(Nodes[i]);
    }
    SortUpdateList();
    ProcessUpdateList();
}

// ---------------------------------------------------------------------------------------------
// Prompt, node-menu slot, capture and re-creation

void STexProcessor::OpenPopupWindow(const char* prompt, TString* target, STexProcNode* node)
{
    DropLayer(Prompt);
    Prompt = node ? new NodePrompt(prompt, target, node, this) : new SPopupWindow(prompt, target);
    AddChild(Prompt);
}

void STexProcessor::NodePrompt::OnCommit()
{
    if (Node && Processor)
        Processor->AddToUpdateList(Node);
}

void STexProcessor::OpenNodeSlotMenu(SPopupMenu* menu)
{
    DropLayer(NodeMenuSlot);
    NodeMenuSlot = nullptr;
    if (!menu)
        return;
    if (menu->Options.IsEmpty())
    {
        delete menu;
        return;
    }
    NodeMenuSlot = menu;
    AddChild(menu);
    menu->UpdateLayout();
    menu->OpenMenu();
}

void STexProcessor::CaptureNode(STexProcNode* node, TArray<SPropDesc>& props, TArray<SCapturedLink>& links)
{
    links.Clear();
    const int self = IndexOfNode(node);
    if (BREAK_IF(self < 0 || !node->ClassInfo))
        return;
    InstantiatePropTable(props, node->ClassInfo->Props);
    node->StoreParams(props);
    for (u32 i = 0; i < node->InParams.Count(); ++i)
        for (NodePin* src : node->InParams[i]->Links)
        {
            const int n = IndexOfNode(src->Owner);
            const int p = n >= 0 ? src->Owner->OutParams.Find(src) : -1;
            if (n >= 0 && p >= 0)
                links.Add(SCapturedLink{(u32)n, (u32)p, (u32)self, i});
        }
    for (u32 i = 0; i < node->OutParams.Count(); ++i)
        for (NodePin* dst : node->OutParams[i]->Links)
        {
            const int n = IndexOfNode(dst->Owner);
            const int p = n >= 0 ? dst->Owner->InParams.Find(dst) : -1;
            if (n >= 0 && p >= 0)
                links.Add(SCapturedLink{(u32)self, i, (u32)n, (u32)p});
        }
}

STexProcNode* STexProcessor::RecreateNode(STexProcNode* old, TArray<SPropDesc>& props,
                                          const TArray<SCapturedLink>& links)
{
    const int at = IndexOfNode(old);
    if (BREAK_IF(at < 0 || !old->ClassInfo || !old->ClassInfo->Create))
        return nullptr;
    CEntity* entity = old->ClassInfo->Create(props);
    STexProcNode* node = dynamic_cast<STexProcNode*>(entity);
    if (BREAK_IF(!node))
    {
        delete entity;
        return nullptr;
    }
    RemoveNode(old);
    AddNode(node, 0);
    Nodes.Remove(Nodes.Count() - 1);
    Nodes.Insert((u32)at, node);
    for (const SCapturedLink& l : links)
    {
        if (l.SrcNode >= Nodes.Count() || l.DstNode >= Nodes.Count())
            continue;
        STexProcNode* src = Nodes[l.SrcNode];
        STexProcNode* dst = Nodes[l.DstNode];
        if (l.SrcPin < src->OutParams.Count() && l.DstPin < dst->InParams.Count())
            Link(src->OutParams[l.SrcPin], dst->InParams[l.DstPin]);
    }
    return node;
}
