// The node base class: every node of a graph is a GUI element on the processor's canvas and an
// entity with typed properties. The base owns the box on the canvas (caption, rows, pins), the
// pins, the user's name, the output texture with its format override, the animation curves and
// the status text a failed processing step leaves.
#pragma once

#include "GUIInterface.h"
#include "GameParams.h"
#include "GameRT.h"

class STexProcessor;
class STexProcNode;

// Canvas units of the node box.
static const float NODE_WIDTH = 120.0f;
static const float NODE_CAPTION_HEIGHT = 12.0f;
static const float NODE_PIN_MARGIN = 10.0f; // each side of the body holds the pins
static const float NODE_PIN_ROW_HEIGHT = 10.0f;
static const float NODE_PIN_HALF = 5.0f;    // pin centre from the box edge; also the pick distance
static const float NODE_PANEL_ROW_HEIGHT = 12.0f;
static const float NODE_FONT_SIZE = 8.0f;
// The caption's widget id in the node's widget states.
static const u32 NODE_CAPTION_ID = 100000;
// Outputs a node can have; GetOutput refuses indices from here on.
static const u32 NODE_MAX_OUTPUTS = 8;
// Texture units the inputs are bound to ("InputTexture" is a sampler array of this size).
static const u32 NODE_INPUT_UNITS = 8;
// Texture flags of node outputs and of the saved copy.
static const u32 NODE_OUTPUT_TEX_FLAGS = TEXF_NotStreamed | TEXF_NoMipmaps;
// Flags of the UI images the box draws with.
static const u32 NODE_CAPTION_TEX_FLAGS = TEXF_RGBA8 | TEXF_NotStreamed;
static const u32 NODE_PIN_TEX_FLAGS = TEXF_RGBA8 | TEXF_NotStreamed | TEXF_NoMipmaps | TEXF_Clamp;
extern const char* const NODE_UI_IMAGES[3]; // caption, pin, pin shade

// A pin name beginning with this marks an input the class treats as optional.
extern const char* const NODE_OPTIONAL_PIN_PREFIX;
// The default of "NName".
extern const char* const NODE_UNNAMED;

// The shared status texts of node processing.
enum ENodeStatus
{
    NS_ImageNotLoaded = 0,
    NS_NoInput,
    NS_NullTexture,
    NS_Count,
};
extern const char* const GNodeStatusTexts[NS_Count];

// One end of a link. An input pin holds at most one link, an output pin any number.
struct NodePin
{
    TString Name;
    TArray<NodePin*> Links; // the pins at the other ends; not owned
    STexProcNode* Owner;
    u32 Index; // an output pin's GetOutput index

    NodePin(const char* name, STexProcNode* owner, u32 index);
    bool IsOptional() const;
};

// An animation curve as a node holds it: points (time, value) in [0, 1] in time order, each with
// its active flag, the output range and the editor's state.
struct SAnimCurve
{
    s32 Channel;
    TPodArray<mVec2> Points;
    TPodArray<u32> Active;
    u32 Expanded;
    float Min;
    float Max;
    s32 Selected;

    SAnimCurve();
    // Points (0, 0) and (1, 1), both active.
    void Reset();
};

// The "AnimData" text of a list of curves, and back. Lines that are neither "ANIM" nor "POINT"
// are skipped; a "POINT" before any "ANIM" belongs to no curve and is skipped too.
void AnimCurvesToText(const TArray<SAnimCurve>& curves, TString& out);
void AnimCurvesFromText(const char* text, TArray<SAnimCurve>& out);

// Columns (and rows) of the preview grid for a number of outputs, and how many of them show.
void NodePreviewGrid(u32 outputs, u32& columns, u32& shown);

// Format code a node's output takes: the override when it is one of the output formats (UB8,
// FP16, FP32), else the class's own.
u32 NodeOutputFormat(s32 formatOverride, u32 classFormat);

// The property list a node base reads: the node class list's entry 0 holds it nested. Given that
// entry's list (the usual way) or the whole class list, the base list is returned; null with the
// documented assertion when neither is one.
TArray<SPropDesc>* NodeBaseList(TArray<SPropDesc>& list);

class STexProcNode : public SInterface, public CEntity
{
public:
    u32 Dragging;
    // Placed at the mouse by the release of a menu click: that release is not the drag's end.
    u32 DragAwaitsPress;
    STexProcessor* Owner;
    u32 PreviewShown;
    TString Title;
    TArray<NodePin*> InParams;
    TArray<NodePin*> OutParams;
    TString NName;
    s32 FmtOverride;
    TArray<SAnimCurve> Curves;
    TString Status;
    TextureRef Output;
    TextureRef CaptionTex, PinTex, PinShadeTex;
    u32 UITexturesTried;
    // 0 until its Frame first ran: its height (pos1) is still the one it was made with.
    u32 LaidOut;
    mVec2 GrabOffset; // pos0 - mouse / zoom when the caption drag began
    u32 VisitMark;    // the processor's walks mark visited nodes with their own number
    u32 RunMark;      // the number of the processor's run that processed it last
    // While the processor runs its list letting spent outputs go: the links by which nodes still
    // to process read this one; ~0u when a reader is not in the run (the output is kept).
    u32 PendingReaders;

    // From the base property list (the nested list of the class list's entry 0).
    explicit STexProcNode(TArray<SPropDesc>& list);
    ~STexProcNode() override;

    // SInterface side
    void TransformPoint(mVec2& out, const mVec2& in) override;
    float TransformScale(float s) override;
    void Frame() override;
    // Renders the output; non-zero on success, else 0 with the reason in Status.
    virtual int Process() = 0;
    // Draws the rows inside the box below the caption; returns the height used.
    virtual float PropertyPanel(const mRect& r);
    virtual TextureRef GetOutput(u32 index);
    virtual u32 GetAnimChannelCount();
    // false when index is beyond the channels.
    virtual bool GetAnimChannel(SPropDesc& out, u32 index);
    // The graph a node processes inside itself (a sub-graph), so that whoever judges a run's
    // file-writing nodes sees those inside it too; none for ordinary nodes.
    virtual const STexProcessor* InnerGraph() const { return nullptr; }
    // Which file a source node could not load and why, for whoever reports a run; empty when it
    // loaded or reads no file.
    virtual const TString& SourceFailure() const;
    // Whether the output is read from outside the node's graph (a sub-graph's result), so that a
    // run letting spent outputs go keeps it.
    virtual bool OutputReadOutside() const { return false; }
    // Lets go of every output texture the node holds, offering them to the run's spare targets.
    virtual void ReleaseOutputs(STexProcessor& run);

    // CEntity side
    void Reserved1(u32 a) override;
    void StoreParams(TArray<SPropDesc>& list) override;

    // Places the box's top left at (x, y), NODE_WIDTH wide, keeping its height.
    void SetPosition(float x, float y);
    mVec2 Pos0() const { return mVec2(OffsetLeft, OffsetTop); }
    mVec2 Pos1() const { return mVec2(OffsetRight, OffsetBottom); }
    // Rows of pins: the larger of the two pin counts.
    u32 PinRows() const;
    // A pin's centre in canvas units; false when the pin is not one of this node's.
    bool PinCanvasPos(const NodePin* pin, mVec2& out) const;

    // (Re)creates the output texture (FmtOverride replaces the format when set). 0 with the status
    // text set when the size is outside 1..GL_MAX_TEXTURE_SIZE or the texture cannot be made.
    int CreateOutputTarget(u32 width, u32 height, u32 format);
    // Selects the program and binds input i's source output to unit i of "InputTexture" (unlinked
    // inputs leave their unit unbound).
    void BindInputTextures(const char* shader, const TArray<TString>& defines);
    // The texture linked into input i (null when unlinked or without output).
    TextureRef InputTexture(u32 input);
    // A frame buffer with the output at colour slot 0, completed and pushed. 0 with the status
    // text set when the target cannot be completed (nothing is pushed then).
    // clear false skips clearing the target, for passes that write every texel (a full-screen
    // quad without blending).
    int BeginOutputPass(FrameBufferRef& fb, bool clear = true);
    void EndOutputPass(FrameBufferRef& fb);

    // The base table: "CEntity", "pos0", "pos1", "FmtOverride", "NName", "AnimData".
    static const SPropDesc* PropTable();
    // The class's own property table (the registry record's); null for a node made by hand.
    const SPropDesc* ClassProps() const;

    void SetStatus(const char* text) { Status = text; }
    void SetStatus(ENodeStatus s) { Status = GNodeStatusTexts[s]; }

private:
    void LoadUITextures();
    void DrawPins(const mRect& box, u32 rows);
    void CaptionDrag(const mRect& caption);
    void DrawPreview(const mRect& square);
    float CurveRows(const mRect& r);
};
