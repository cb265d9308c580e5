// The Custom family: a graph saved as a document and used as one node of another graph. Input
// and Output nodes inside the document become the pins of the Processor node that loads it, and
// Parameter nodes expose one scalar of an inner node as a field of its panel. Its menu class is
// STNCustomMenu.
#pragma once

#include "TexDocument.h"
#include "TexNodeClass.h"

// The status texts of the Processor node.
extern const char* const PROC_NOT_LOADED;
extern const char* const PROC_NAME_AMBIGUOUS;
extern const char* const PROC_NODE_NOT_FOUND;
extern const char* const PROC_PARAM_NOT_FOUND;
extern const char* const PROC_PARAM_UNSUPPORTED;
// Documents nest at most this deep inside one another; deeper ones are not loaded.
static const u32 PROC_MAX_NESTING = 16;
// The file dialog filter of the "Load" button, with its zero separators.
extern const char* const PROC_FILE_FILTER;

// One exposed scalar: a channel of a named inner node, with the value the panel edits.
struct SNamedParam
{
    TString Display;  // the channel's name: the property, "[x]".."[w]" appended for a component
    TString Property; // the property's name in the node's list
    u32 Kind;         // EVT_Int or EVT_Float
    SPropValue Value, Min, Max;
    u32 PropIndex;    // in the node class's table
    u32 Component;    // 0..3; 0 for scalars
    TString NodeName; // the inner node's user name
    TString Label;    // the Parameter node's "PName": the panel row's label

    SNamedParam() : Kind(EVT_Null), PropIndex(0), Component(0) {}
};

// A pin of the enclosing Processor node: its output texture is set from outside.
class STexNode_Input : public STexProcNode
{
public:
    enum
    {
        P_PName = 1,
    };
    TString PName;

    explicit STexNode_Input(TArray<SPropDesc>& list);
    ~STexNode_Input() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// An output pin of the enclosing Processor node: holds what reaches its input "in".
class STexNode_Output : public STexProcNode
{
public:
    enum
    {
        P_PName = 1,
    };
    TString PName;

    explicit STexNode_Output(TArray<SPropDesc>& list);
    ~STexNode_Output() override;
    int Process() override;
    bool OutputReadOutside() const override { return true; }
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// Names one animation channel of another node of the same graph for the Processor node to expose.
class STexNode_Param : public STexProcNode
{
public:
    enum
    {
        P_NodeName = 1,
        P_PName,
        P_Param,
        P_Data,
    };
    TString NodeName;
    TString PName;
    s32 Param;
    mVec2 Data;
    s32 Refresh;
    TArray<TString> Channels;
    TPodArray<const char*> ChannelTexts; // into Channels, for the choice menu

    explicit STexNode_Param(TArray<SPropDesc>& list);
    ~STexNode_Param() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    // The channel names of the one node named NodeName; kept as they were when no node or
    // several bear the name, emptied for a node of this family.
    void RefreshChannels();
    // What the "Parameter" button shows: channel Param's name, or nothing past the list.
    const char* ChannelText() const;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// A document's graph as one node: a pin per linked Input and Output node inside, a field per
// Parameter node.
class STexNode_Proc : public STexProcNode
{
public:
    enum
    {
        P_KVFName = 1,
        P_ParamData,
        P_ShowOutputs,
    };
    TString KVFName;
    s32 ShowOutputs;
    STexProcessor Inner;
    TArray<STexNode_Input*> Inputs;   // inner nodes, in inner node order
    TArray<STexNode_Output*> Outputs; // inner nodes, in inner node order
    TArray<SNamedParam> Params;
    TString UnreadParamData; // the stored "ParamData" while its document is not loaded
    TString OverBudget; // what the top load of its last load ran out of or refused, in words

    explicit STexNode_Proc(TArray<SPropDesc>& list);
    ~STexNode_Proc() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    TextureRef GetOutput(u32 index) override;
    const STexProcessor* InnerGraph() const override { return &Inner; }
    // Its own output and those of the inner Output nodes, which are its pins' textures.
    void ReleaseOutputs(STexProcessor& run) override;
    void StoreParams(TArray<SPropDesc>& list) override;

    // Loads the document into the inner graph (quietly, unprocessed) and rebuilds pins and
    // parameters. 0, with everything as it was, when it cannot be read, when it is already being
    // loaded further up or nests too deep; the current document path is kept either way.
    int Load(const TString& path);
    // The "ParamData" text of the current values, and reading one into the records.
    TString ParamText() const;
    void ApplyParamText(const TString& text);

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();

private:
    void RemovePins();
    void Rebuild();
    int WriteParams();
};

// Whether a node is of one of this family's classes (which expose no parameters).
bool IsCustomFamilyNode(const STexProcNode* node);
