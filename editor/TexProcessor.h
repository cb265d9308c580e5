// The processor: one node graph and the canvas it is edited on. It owns the nodes, links their
// pins without cycles, keeps the list of nodes to render again ordered so that every node runs
// after its feeders, and runs it; as a GUI element it pans and zooms, draws the links, drags new
// ones between pins and opens the node menus and the name prompt.
#pragma once

#include "TexGUI.h"
#include "TexProcNode.h"

static const float CANVAS_MIN_ZOOM = 0.1f;
static const float CANVAS_MAX_ZOOM = 500.0f;
static const float CANVAS_WHEEL_IN = 1.25f;
static const float CANVAS_WHEEL_OUT = 0.75f;
// Nodes placed at the mouse hang this far up and left of it.
static const float CANVAS_PLACE_OFFSET = 25.0f;
// Key codes of the canvas drags.
static const u32 CANVAS_KEY_Pan = 160;  // left Shift
static const u32 CANVAS_KEY_Zoom = 162; // left Control

// One link as four indices: source node, its output pin, target node, its input pin.
struct SCapturedLink
{
    u32 SrcNode, SrcPin, DstNode, DstPin;
};

class STexProcessor : public SInterface
{
public:
    // A menu that acts on one node; the processor cancels it when the node goes.
    class SNodeBoundMenu : public SPopupMenu
    {
    public:
        STexProcNode* Node;
        explicit SNodeBoundMenu(STexProcNode* node) : Node(node) {}
    };

    class NodeMenu : public SNodeBoundMenu
    {
    public:
        enum EAction
        {
            NMA_Rename,
            NMA_Delete,
            NMA_Duplicate,
            NMA_Update,
            NMA_Animate,
            NMA_UnlinkAll,
            NMA_UnlinkPin,
            NMA_SaveTexture,
            NMA_OverrideUB8,
            NMA_OverrideFP16,
            NMA_OverrideFP32,
            NMA_DisableOverride,
        };
        STexProcessor* Processor;
        u32 HasOutput;
        u32 HoveredPin;
        u32 InputPin;
        u32 OutputPin;
        TPodArray<u32> Actions; // per counted item

        NodeMenu(STexProcNode* node, STexProcessor* processor);
        void OnSelect(int index) override;
        NodePin* Hovered() const;

    private:
        void AddAction(const char* text, u32 action);
        void SaveTextureAs();
    };

    // The prompt that edits a text of a node: a changed text queues the node.
    class NodePrompt : public SPopupWindow
    {
    public:
        STexProcNode* Node;
        STexProcessor* Processor;
        NodePrompt(const char* prompt, TString* target, STexProcNode* node, STexProcessor* processor)
            : SPopupWindow(prompt, target), Node(node), Processor(processor)
        {
        }
        void OnCommit() override;
    };

    class EnumMenu : public SNodeBoundMenu
    {
    public:
        s32* Target;
        EnumMenu(s32* target, STexProcNode* node);
        void OnSelect(int index) override;
    };

    // One item per scalar animation channel of a node; choosing one adds a curve for it.
    class AnimMenu : public SNodeBoundMenu
    {
    public:
        STexProcessor* Processor;
        TPodArray<u32> Channels; // per item
        AnimMenu(STexProcNode* node, STexProcessor* processor);
        void OnSelect(int index) override;
        // Whether the node has a channel to offer.
        static bool HasChannels(STexProcNode* node);
    };

    TString FileName;
    u32 Edited;
    TArray<STexProcNode*> Nodes;       // owned
    TArray<STexProcNode*> UpdateList;  // not owned
    SPopupMenu* NodeMenuSlot;          // node, choice or animation menu; a child while open
    TArray<SGUILayer*> LayersToDelete; // left the tree while running their own Frame
    SPopupWindow* Prompt;
    u32 BusyCount;
    mVec2 Pan;
    float Zoom;
    mVec2 DragPivot;
    mVec2 DragStartMouse;
    float ZoomAtDragStart;
    u32 Panning, Zooming;
    s32 LinkDragDir; // +1 from an output pin, -1 from an input pin
    NodePin* LinkDragPin;
    mVec2 LinkDragMouse;
    // Nodes were added without being laid out (LaidOut 0): the canvas does it before it is drawn.
    u32 LayoutsDue;
    u32 WalkMark; // numbers the graph walks
    u64 ReachVisits; // nodes the cycle checks of linking entered: what linking cost
    // Set for runs nobody watches (a batch run, a job server without a window): a node's output
    // is let go once every node of the run that reads it has processed, since no preview or later
    // save asks for it again. A released target waits in SpareTargets for the next node, which
    // takes it when it makes a target of the same size and format; the one after that finds it gone.
    u32 ReleaseSpentOutputs;
    TArray<TextureRef> SpareTargets;
    TPodArray<u32> SpareSteps; // per spare, the run's step it was offered in
    u32 RunStep;               // counts the nodes the current run processed
    // The last document loaded at the top, with its processing, had textures refused for the
    // texture memory budget (TEX_MemoryBudget): its result is incomplete.
    u32 TexturesRefused;

    STexProcessor();
    ~STexProcessor() override;

    mVec2 GraphToScreen(const mVec2& p) const;
    mVec2 ScreenToGraph(const mVec2& p) const;

    STexProcNode* CreateNode(const char* className);
    void AddNode(STexProcNode* node, u32 interactive);
    void RemoveNode(STexProcNode* node);
    int IndexOfNode(const STexProcNode* node) const;
    u32 CountNodesByName(const char* name) const;
    STexProcNode* FindNodeByName(const char* name) const;
    void ClearNodes();

    int Link(NodePin* output, NodePin* input);
    void Unlink(NodePin* a, NodePin* b);
    void UnlinkAll(STexProcNode* node);
    // Whether target is fed, directly or not, by node's outputs.
    int IsReachable(STexProcNode* node, STexProcNode* target);

    // A node read from a document: appended and queued as it stands (it has no links yet).
    void AddReadNode(STexProcNode* node);
    // The links of a document (node and pin indices, checked), between nodes that have none yet:
    // made as Link would make them one at a time in that order (a link closing a cycle or joining a
    // node to itself is dropped, a later link into an input replaces the earlier), without queueing
    // anything; then the update list is ordered once. Linear in nodes and links unless they hold a
    // cycle (TexProcessorLinkRead.cpp).
    void LinkRead(const TPodArray<SCapturedLink>& links);

    void AddToUpdateList(STexProcNode* node);
    void AddInputsToUpdateList(STexProcNode* node);
    void SortUpdateList();
    void ProcessUpdateList();
    // A spare target of this size, format and flags moved into out; false when there is none.
    bool TakeSpareTarget(TextureRef& out, u32 width, u32 height, u32 format, u32 flags);
    // Releases t; in a run that lets spent outputs go, a target nobody else holds is kept for a
    // later node instead when no spare of its size and format is kept yet.
    void OfferSpareTarget(TextureRef& t);
    void ProcessAll();

    // The prompt for a text; with a node, the text is the node's and its change queues the node.
    void OpenPopupWindow(const char* prompt, TString* target, STexProcNode* node = nullptr);
    // Puts a menu into the node-menu slot (the one there before goes) and adds it as a child. A menu
    // without options is deleted instead: it would have no area to be drawn or closed in.
    void OpenNodeSlotMenu(SPopupMenu* menu);
    void CaptureNode(STexProcNode* node, TArray<SPropDesc>& props, TArray<SCapturedLink>& links);
    STexProcNode* RecreateNode(STexProcNode* old, TArray<SPropDesc>& props, const TArray<SCapturedLink>& links);

    // The node-graph document (TexDocument.h). 1 on success; a failed load or save leaves the graph,
    // its file name and the current document path as they were.
    int SaveDocument(const char* path);
    int LoadDocument(const char* path, int quiet, int process);
    // Queues the nodes that feed node and re-creates each of them with its curves applied at time t;
    // node itself stays as it is (the caller runs ProcessUpdateList).
    void AnimateAt(STexProcNode* node, float t);

    // A pin's centre in window pixels; (0, 0) for a pin not found on its node.
    mVec2 PinScreenPos(const NodePin* pin);
    // The last pin of a node within the pick distance of the mouse (inputs first, then outputs).
    NodePin* PinUnderMouse(STexProcNode* node);
    // Called by a node when a left press lands on one of its pins.
    void BeginLinkDrag(s32 direction, NodePin* pin, const mVec2& mouse);
    // Starts the caption drag of a node (used by the node and by interactive placement).
    void BeginNodeDrag(STexProcNode* node);
    void EndNodeDrag(STexProcNode* node);

    void Frame() override;
    void DrawLink(const mVec2& from, const mVec2& to, const mVec4& color);

private:
    // The nodes ProcessUpdateList is going through, taken out of the update list whole: taking them
    // off its front one by one, or searching it for each, would cost the square of their number.
    // Entries from Next on are still to come; a node that leaves the graph meanwhile leaves a null.
    // Each node is processed once a run: its first entry, marked with the run's number (RunMark).
    struct SUpdateRun
    {
        TArray<STexProcNode*> Nodes;
        u32 Next = 0;
        u32 Mark = 0;
        SUpdateRun* Outer = nullptr; // a run of this processor that a node's processing started this one in
    };
    SUpdateRun* Running = nullptr;

    // Removes a layer from the children and deletes it, or, while it runs its own Frame, later.
    void DropLayer(SGUILayer* layer);
    // Cancels every reference to the node (all nodes when null): menus, prompt, link and caption drags.
    void ForgetNode(STexProcNode* node);
    void RemoveFromUpdateList(STexProcNode* node);
    // The next node of the run, which takes the update list over when it is through; null when both
    // are empty.
    STexProcNode* NextToProcess(SUpdateRun& run);
    // Removes every link between the two pins, queueing nothing.
    static void DetachPins(NodePin* a, NodePin* b);
    // Counts, for each queued node, the links by which later queued nodes read it.
    void CountPendingReaders();
    // After node processed: the outputs it was the last reader of, and its own when nothing reads it.
    void ReleaseSpent(STexProcNode* node);
    void ReleaseOutput(STexProcNode* node);
    void AppendDependants(STexProcNode* node, bool inputs);
    void LayOut(STexProcNode* node, bool draw);
    void DeletePending();
    void CanvasDrags();
    void LinkDragFrame();
    void DrawLinks();
};

// The menu of one animation curve, opened by its button in the node's panel.
class STPNAnimMenu : public STexProcessor::SNodeBoundMenu
{
public:
    u32 Curve;
    STPNAnimMenu(STexProcNode* node, u32 curve);
    void OnSelect(int index) override;
};

// Straight pieces of a link curve from `from` to `to` on a screen of the size given; 0 when the
// link is skipped (its box lies wholly off the screen, or a coordinate is not finite).
u32 CanvasLinkSegments(const mVec2& from, const mVec2& to, float screenWidth, float screenHeight);

// Opens the choice menu of an enumerated parameter under its field (rect in the node's canvas units).
void OpenEnumMenu(STexProcessor* processor, STexProcNode* node, s32* value, const char* const* strings, u32 count,
                  const mRect& field);

// An RGBA8 copy of a node's output that the image writers save the same way up as the output; 0
// with the cause in error when it cannot be made. A copy already holding an RGBA8 texture of the
// output's size is drawn into instead of a new one.
int NodeUprightCopy(const TextureRef& src, TextureRef& copy, TString& error);
// The editor's one processor (the main window makes it); null while there is none.
extern STexProcessor* GProcessor;

// Renders a node's output into an RGBA8 copy and writes it to the file (type by extension).
// 1 on success; 0 with the cause in error.
int NodeSaveTexture(STexProcNode* node, const char* path, TString& error);
// The same, telling the user the cause of a failure in a box.
int NodeSaveTextureReported(STexProcNode* node, const char* path);
