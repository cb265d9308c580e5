// The Custom family: the Processor node with its inner graph, the Input, Output and Parameter
// nodes of such a graph, and the family menu.
#include "TexOps_Custom.h"

#include <float.h>
#include <limits.h>
#include <stdlib.h>

#include "GameFileIO.h"
#include "GameParse.h"
#include "TexDocPath.h"
#include "TexDocument.h"
#include "TexOps_Basic.h"

const char* const PROC_NOT_LOADED = ".KVF is not loaded..";
const char* const PROC_NAME_AMBIGUOUS = "Too many nodes with the same name";
const char* const PROC_NODE_NOT_FOUND = "Node was not found!";
const char* const PROC_PARAM_NOT_FOUND = "Parameter not found";
const char* const PROC_PARAM_UNSUPPORTED = "Unsupported parameter type";
const char* const PROC_FILE_FILTER = "Plumweave file\0*.kvf\0";

namespace
{
const char* const INPUT_TITLE = "[PC] Input";
const char* const INPUT_PIN = "out";
const char* const OUTPUT_TITLE = "[PC] Output";
const char* const OUTPUT_PIN = "in";
const char* const PARAM_TITLE = "[PC] Parameter";
const char* const PROC_TITLE = "[PC] Processor";
const char* const PIN_NAME_LABEL = "Param. name";
const char* const NODE_NAME_LABEL = "Node name";
const char* const CHANNEL_LABEL = "Parameter";
const char* const LOAD_BUTTON = "Load";
const char* const VISUALIZE_LABEL = "Visualize";
// Longest text the name fields take.
const u32 NAME_FIELD_LENGTH = 255;
// Each "ParamData" pair is formatted into a buffer of this size.
const u32 PARAM_PAIR_SIZE = 512;
const u32 MAX_COMPONENTS = 4;

// Documents being loaded into Processor nodes, outermost first, as resolved paths.
TArray<TString> GLoadChain;

// The current document path for the life of the object, put back afterwards.
class TDocPathScope
{
public:
    explicit TDocPathScope(const TString& path) : Previous(CurrentDocumentPath()) { SetCurrentDocumentPath(path); }
    ~TDocPathScope() { SetCurrentDocumentPath(Previous); }

private:
    TString Previous;
};

// The path with links and "." / ".." resolved, so that two names of one file compare equal.
TString ResolvedPath(const TString& path)
{
    const TString full = MakeFullPath(path);
    char buffer[PATH_MAX];
    return realpath(full.Str(), buffer) ? TString(buffer) : full;
}

void Changed(STexProcNode& node)
{
    if (node.Owner)
        node.Owner->AddToUpdateList(&node);
}

float FinishPanel(STexProcNode& node, const mRect& r, u32 rows)
{
    const float own = NODE_PANEL_ROW_HEIGHT * (float)rows;
    mRect rest = r;
    rest.y0 += own;
    return own + node.STexProcNode::PropertyPanel(rest);
}

// A labelled text field; true on a change.
bool TextRow(STexProcNode& node, const mRect& r, u32 row, const char* label, TString& value)
{
    node.GuiLabel(label, NODE_LABEL_COLOR, 0, NodeRowLabel(r, row));
    const mRect field = NodeRowField(r, row);
    return node.TextField(NodeRowId(r, field), field, &value, NAME_FIELD_LENGTH) != 0;
}

u32 ComponentsOf(u32 type)
{
    switch (type)
    {
    case EVT_Int:
    case EVT_Float: return 1;
    case EVT_Vec2: return 2;
    case EVT_Vec3:
    case EVT_Polar:
    case EVT_ColHSV: return 3;
    case EVT_Vec4:
    case EVT_ColRGBA: return 4;
    default: return 0;
    }
}

// Component c of a vector or colour value; null for other types.
float* ComponentOf(SPropValue& v, u32 type, u32 c)
{
    if (c >= MAX_COMPONENTS || c >= ComponentsOf(type))
        return nullptr;
    switch (type)
    {
    case EVT_Vec2: return c == 0 ? &v.Vec2.x : &v.Vec2.y;
    case EVT_Vec3:
    case EVT_ColHSV: return &(&v.Vec3.x)[c];
    case EVT_Polar: return &(&v.Polar.x)[c];
    case EVT_Vec4: return &(&v.Vec4.x)[c];
    case EVT_ColRGBA: return &(&v.ColRGBA.x)[c];
    default: return nullptr;
    }
}

// The property of a class table that holds animation channel `channel`, and the component.
bool LocateChannel(const SPropDesc* table, u32 channel, u32& index, u32& component)
{
    u32 first = 0;
    for (u32 k = 0; table && table[k].Type != EVT_Null; ++k)
    {
        const u32 n = ComponentsOf(table[k].Type);
        if (channel < first + n)
        {
            index = k;
            component = channel - first;
            return true;
        }
        first += n;
    }
    return false;
}

// The node's current parameters as its class's list.
void CurrentParams(STexProcNode* node, TArray<SPropDesc>& list)
{
    InstantiatePropTable(list, node->ClassProps());
    node->StoreParams(list);
}

// Fills a record from channel `channel` of node, with the node's current value; false when the
// node has no such channel.
bool DescribeChannel(STexProcNode* node, s32 channel, SNamedParam& out)
{
    SPropDesc desc;
    const SPropDesc* table = node->ClassProps();
    if (channel < 0 || !table || !node->GetAnimChannel(desc, (u32)channel) ||
        !LocateChannel(table, (u32)channel, out.PropIndex, out.Component))
        return false;
    if (desc.Type != EVT_Int && desc.Type != EVT_Float)
        return false;
    out.Display = desc.Name;
    out.Property = table[out.PropIndex].Name;
    out.Kind = desc.Type;
    out.Value = desc.Default;
    out.Min = desc.Min;
    out.Max = desc.Max;
    TArray<SPropDesc> list;
    CurrentParams(node, list);
    if (SPropDesc* current = FindPropDesc(list, out.Property.Str()))
    {
        if (current->Type == EVT_Int || current->Type == EVT_Float)
            out.Value = current->Default;
        else if (float* c = ComponentOf(current->Default, current->Type, out.Component))
            out.Value.Float = *c;
    }
    return true;
}

// The one inner node of that name; null (with the status text) for none or several.
STexProcNode* NamedNode(STexProcNode& node, STexProcessor& graph, const TString& name)
{
    const u32 count = graph.CountNodesByName(name.Str());
    if (count != 1)
    {
        node.SetStatus(count > 1 ? PROC_NAME_AMBIGUOUS : PROC_NODE_NOT_FOUND);
        return nullptr;
    }
    return graph.FindNodeByName(name.Str());
}

// Writes a record's value into the property of a captured list; false for a type it cannot take.
bool WriteValue(SPropDesc& prop, const SNamedParam& p)
{
    const float value = p.Kind == EVT_Int ? (float)p.Value.Int : p.Value.Float;
    switch (prop.Type)
    {
    case EVT_Int: prop.Default.Int = p.Kind == EVT_Int ? p.Value.Int : (s32)value; return true;
    case EVT_Float: prop.Default.Float = value; return true;
    case EVT_String:
    case EVT_StringA:
    case EVT_StringB:
    case EVT_Mesh:
    {
        TString text;
        if (p.Kind == EVT_Int)
            text.Format(PARAM_PAIR_SIZE, "%d", (int)p.Value.Int);
        else
            text.Format(PARAM_PAIR_SIZE, "%g", (double)p.Value.Float);
        prop.Default.String = text;
        return true;
    }
    default: break;
    }
    float* c = ComponentOf(prop.Default, prop.Type, p.Component);
    if (!c)
        return false;
    *c = value;
    return true;
}

bool IsClass(const STexProcNode* node, SClassInfo* info)
{
    return node && node->ClassInfo == info;
}

void Unpin(STexProcNode& node, NodePin* pin, bool input)
{
    while (!pin->Links.IsEmpty())
    {
        NodePin* other = pin->Links[0];
        if (node.Owner)
            node.Owner->Unlink(input ? other : pin, input ? pin : other);
        else
        {
            const int back = other->Links.Find(pin);
            if (back >= 0)
                other->Links.Remove((u32)back);
            pin->Links.Remove(0);
        }
    }
}
} // namespace

bool IsCustomFamilyNode(const STexProcNode* node)
{
    return IsClass(node, STexNode_Input::ClassRecord()) || IsClass(node, STexNode_Output::ClassRecord()) ||
           IsClass(node, STexNode_Param::ClassRecord()) || IsClass(node, STexNode_Proc::ClassRecord());
}

// ---------------------------------------------------------------------------------------------
// Input and Output nodes

const SPropDesc* STexNode_Input::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropString(EVT_String, "PName", ""),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Input)

STexNode_Input::STexNode_Input(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = INPUT_TITLE;
    OutParams.Add(new NodePin(INPUT_PIN, this, 0));
    PName = FNodeParams(list).String(P_PName);
}

STexNode_Input::~STexNode_Input() {}

int STexNode_Input::Process()
{
    return 1;
}

void STexNode_Input::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    if (TArray<SPropDesc>* base = params.Base())
        STexProcNode::StoreParams(*base);
    params.SetString(P_PName, PName);
}

float STexNode_Input::PropertyPanel(const mRect& r)
{
    if (TextRow(*this, r, 0, PIN_NAME_LABEL, PName))
        Changed(*this);
    return FinishPanel(*this, r, 1);
}

const SPropDesc* STexNode_Output::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropString(EVT_String, "PName", ""),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Output)

STexNode_Output::STexNode_Output(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = OUTPUT_TITLE;
    InParams.Add(new NodePin(OUTPUT_PIN, this, 0));
    PName = FNodeParams(list).String(P_PName);
}

STexNode_Output::~STexNode_Output() {}

int STexNode_Output::Process()
{
    if (!InParams.IsEmpty() && !InParams[0]->Links.IsEmpty())
    {
        const NodePin* source = InParams[0]->Links[0];
        Output = source->Owner->GetOutput(source->Index);
    }
    return 1;
}

void STexNode_Output::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    if (TArray<SPropDesc>* base = params.Base())
        STexProcNode::StoreParams(*base);
    params.SetString(P_PName, PName);
}

float STexNode_Output::PropertyPanel(const mRect& r)
{
    if (TextRow(*this, r, 0, PIN_NAME_LABEL, PName))
        Changed(*this);
    return FinishPanel(*this, r, 1);
}

// ---------------------------------------------------------------------------------------------
// Parameter node

const SPropDesc* STexNode_Param::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropString(EVT_String, "NodeName", ""),
        PropString(EVT_String, "PName", ""),
        PropInt("Param", 0, INT_MIN, INT_MAX),
        PropVec2("Data", mVec2(0, 0), mVec2(-FLT_MAX, -FLT_MAX), mVec2(FLT_MAX, FLT_MAX)),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Param)

STexNode_Param::STexNode_Param(TArray<SPropDesc>& list) : STexProcNode(list), Param(0), Refresh(1)
{
    Title = PARAM_TITLE;
    PreviewShown = 0;
    FNodeParams params(list);
    NodeName = params.String(P_NodeName);
    PName = params.String(P_PName);
    Param = params.Int(P_Param);
    Data = params.Vec2(P_Data);
}

STexNode_Param::~STexNode_Param() {}

void STexNode_Param::RefreshChannels()
{
    if (!Owner || Owner->CountNodesByName(NodeName.Str()) != 1)
        return;
    STexProcNode* target = Owner->FindNodeByName(NodeName.Str());
    Channels.Clear();
    ChannelTexts.Clear();
    if (!target || IsCustomFamilyNode(target))
        return;
    const u32 count = target->GetAnimChannelCount();
    for (u32 i = 0; i < count; ++i)
    {
        SPropDesc desc;
        if (target->GetAnimChannel(desc, i))
            Channels.Add(desc.Name);
    }
    for (const TString& name : Channels)
        ChannelTexts.Add(name.Str());
}

const char* STexNode_Param::ChannelText() const
{
    return Param >= 0 && (u32)Param < Channels.Count() ? Channels[(u32)Param].Str() : "";
}

int STexNode_Param::Process()
{
    if (Refresh)
    {
        RefreshChannels();
        Refresh = 0;
    }
    return 1;
}

void STexNode_Param::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    if (TArray<SPropDesc>* base = params.Base())
        STexProcNode::StoreParams(*base);
    params.SetString(P_NodeName, NodeName);
    params.SetString(P_PName, PName);
    params.SetInt(P_Param, Param);
    params.SetVec2(P_Data, Data);
}

float STexNode_Param::PropertyPanel(const mRect& r)
{
    enum
    {
        ROW_NodeName = 0,
        ROW_PName,
        ROW_Channel,
    };
    bool changed = false;
    if (TextRow(*this, r, ROW_NodeName, NODE_NAME_LABEL, NodeName))
    {
        Param = 0;
        RefreshChannels();
        changed = true;
    }
    changed |= TextRow(*this, r, ROW_PName, PIN_NAME_LABEL, PName);
    u32 rows = ROW_PName + 1;
    if (!Channels.IsEmpty())
    {
        GuiLabel(CHANNEL_LABEL, NODE_LABEL_COLOR, 0, NodeRowLabel(r, ROW_Channel));
        const mRect field = NodeRowField(r, ROW_Channel);
        if (Button(NodeRowId(r, field), field, ChannelText()) && Owner)
        {
            // The choice menu writes the index later; out of the list it counts as the first.
            if (Param < 0 || (u32)Param >= Channels.Count())
                Param = 0;
            OpenEnumMenu(Owner, this, &Param, &ChannelTexts[0], ChannelTexts.Count(), field);
        }
        rows = ROW_Channel + 1;
    }
    if (changed)
        Changed(*this);
    return FinishPanel(*this, r, rows);
}

// ---------------------------------------------------------------------------------------------
// Processor node

const SPropDesc* STexNode_Proc::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropString(EVT_String, "KVFName", ""),
        PropString(EVT_String, "ParamData", ""),
        PropInt("ShowOutputs", 0, INT_MIN, INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Proc)

STexNode_Proc::STexNode_Proc(TArray<SPropDesc>& list) : STexProcNode(list), ShowOutputs(0)
{
    Title = PROC_TITLE;
    FNodeParams params(list);
    const TString name = params.String(P_KVFName);
    ShowOutputs = params.Int(P_ShowOutputs);
    // The name stays even when the document cannot be loaded now, so that saving keeps it.
    KVFName = name;
    const TString paramData = params.String(P_ParamData);
    if (!name.IsEmpty() && Load(name))
        ApplyParamText(paramData);
    else
        UnreadParamData = paramData;
}

STexNode_Proc::~STexNode_Proc()
{
    Params.Clear();
    Inputs.Clear();
    Outputs.Clear();
}

int STexNode_Proc::Load(const TString& path)
{
    if (path.IsEmpty())
        return 0;
    const TString resolved = ResolvedPath(path);
    if (GLoadChain.Count() >= PROC_MAX_NESTING || GLoadChain.Find(resolved) >= 0)
        return 0;
    GLoadChain.Add(resolved);
    int loaded;
    {
        // The inner load sets the path to its own document; the outer graph goes on with its own.
        TDocPathScope keep(CurrentDocumentPath());
        TDocInnerRule named;
        loaded = Inner.LoadDocument(path.Str(), 1, 0);
    }
    GLoadChain.Remove(GLoadChain.Count() - 1);
    OverBudget = loaded ? TString() : DocumentBudgetText(DocumentBudgetSpent());
    if (!OverBudget.IsEmpty())
        SetStatus(OverBudget.Str());
    if (!loaded)
        return 0;
    KVFName = path;
    UnreadParamData = TString();
    Rebuild();
    return 1;
}

void STexNode_Proc::RemovePins()
{
    // Unlinking queues nodes, and queueing reads the pins of every node queued: all pins stay
    // until no link is left.
    for (NodePin* pin : InParams)
        Unpin(*this, pin, true);
    for (NodePin* pin : OutParams)
        Unpin(*this, pin, false);
    for (NodePin* pin : InParams)
        delete pin;
    for (NodePin* pin : OutParams)
        delete pin;
    InParams.Clear();
    OutParams.Clear();
}

void STexNode_Proc::Rebuild()
{
    RemovePins();
    Inputs.Clear();
    Outputs.Clear();
    Params.Clear();
    for (STexProcNode* node : Inner.Nodes)
    {
        if (IsClass(node, STexNode_Input::ClassRecord()))
        {
            STexNode_Input* in = static_cast<STexNode_Input*>(node);
            if (in->OutParams.IsEmpty() || in->OutParams[0]->Links.IsEmpty())
                continue;
            InParams.Add(new NodePin(in->PName.Str(), this, InParams.Count()));
            Inputs.Add(in);
        }
        else if (IsClass(node, STexNode_Output::ClassRecord()))
        {
            STexNode_Output* out = static_cast<STexNode_Output*>(node);
            if (out->InParams.IsEmpty() || out->InParams[0]->Links.IsEmpty())
                continue;
            OutParams.Add(new NodePin(out->PName.Str(), this, OutParams.Count()));
            Outputs.Add(out);
        }
        else if (IsClass(node, STexNode_Param::ClassRecord()))
        {
            STexNode_Param* param = static_cast<STexNode_Param*>(node);
            if (param->NodeName.IsEmpty() || Inner.CountNodesByName(param->NodeName.Str()) != 1)
                continue;
            STexProcNode* target = Inner.FindNodeByName(param->NodeName.Str());
            SNamedParam record;
            // Nodes of this family are re-created by nothing: the lists above point at them.
            if (IsCustomFamilyNode(target) || !DescribeChannel(target, param->Param, record))
                continue;
            record.NodeName = param->NodeName;
            record.Label = param->PName;
            Params.Add(record);
        }
    }
}

TString STexNode_Proc::ParamText() const
{
    TString text, pair;
    for (const SNamedParam& p : Params)
    {
        if (p.Kind == EVT_Int)
            pair.Format(PARAM_PAIR_SIZE, "\"%s\" \"%d\" ", p.Property.Str(), (int)p.Value.Int);
        else if (p.Kind == EVT_Float)
            pair.Format(PARAM_PAIR_SIZE, "\"%s\" \"%g\" ", p.Property.Str(), (double)p.Value.Float);
        else
            continue;
        text += pair;
    }
    return text;
}

void STexNode_Proc::ApplyParamText(const TString& text)
{
    // Pairs that share a property name go to the records of that name in order.
    TPodArray<u32> taken;
    for (u32 i = 0; i < Params.Count(); ++i)
        taken.Add(0);
    s32 pos = 0;
    while ((u32)pos < text.Length())
    {
        const TString name = ParseQuotedString(text, pos);
        if (GParseError)
            break;
        const TString value = ParseQuotedString(text, pos);
        if (GParseError)
            break;
        for (u32 i = 0; i < Params.Count(); ++i)
        {
            SNamedParam& p = Params[i];
            if (taken[i] || p.Property != name)
                continue;
            taken[i] = 1;
            if (p.Kind == EVT_Int)
                p.Value.Int = StrToInt(value.Str());
            else if (p.Kind == EVT_Float)
                p.Value.Float = StrToFloat(value.Str());
            break;
        }
    }
}

void STexNode_Proc::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    if (TArray<SPropDesc>* base = params.Base())
        STexProcNode::StoreParams(*base);
    params.SetString(P_KVFName, KVFName);
    params.SetInt(P_ShowOutputs, ShowOutputs);
    // Values for a document that could not be loaded are kept for when it can.
    params.SetString(P_ParamData, Inner.FileName.IsEmpty() ? UnreadParamData : ParamText());
}

int STexNode_Proc::WriteParams()
{
    for (u32 i = 0; i < Params.Count(); ++i)
    {
        const SNamedParam& p = Params[i];
        STexProcNode* node = NamedNode(*this, Inner, p.NodeName);
        if (!node)
            return 0;
        TArray<SPropDesc> props;
        TArray<SCapturedLink> links;
        Inner.CaptureNode(node, props, links);
        SPropDesc* prop = FindPropDesc(props, p.Property.Str());
        if (!prop)
        {
            SetStatus(PROC_PARAM_NOT_FOUND);
            return 0;
        }
        if (!WriteValue(*prop, p))
        {
            SetStatus(PROC_PARAM_UNSUPPORTED);
            return 0;
        }
        Inner.RecreateNode(node, props, links);
    }
    return 1;
}

int STexNode_Proc::Process()
{
    if (Inner.FileName.IsEmpty())
    {
        if (!OverBudget.IsEmpty())
            SetStatus(OverBudget.Str());
        else
            SetStatus(PROC_NOT_LOADED);
        return 0;
    }
    for (u32 i = 0; i < Inputs.Count() && i < InParams.Count(); ++i)
        if (!InParams[i]->Links.IsEmpty())
        {
            const NodePin* source = InParams[i]->Links[0];
            Inputs[i]->Output = source->Owner->GetOutput(source->Index);
        }
    // Inner nodes read, store and resolve their file names against their own document.
    TDocPathScope inner(Inner.FileName);
    if (!WriteParams())
        return 0;
    // Nobody watches the inside of a run nobody watches: its spent outputs go as it runs.
    Inner.ReleaseSpentOutputs = Owner ? Owner->ReleaseSpentOutputs : 0;
    Inner.ProcessAll();
    // Intermediate results go; the Output nodes keep theirs for the pins, and nodes without
    // inputs keep what they hold (a loaded image is not made again by processing).
    for (STexProcNode* node : Inner.Nodes)
    {
        const bool source = node->InParams.IsEmpty() && !IsClass(node, STexNode_Input::ClassRecord());
        if (!IsClass(node, STexNode_Output::ClassRecord()) && !source)
            node->Output.Release();
    }
    return 1;
}

void STexNode_Proc::ReleaseOutputs(STexProcessor& run)
{
    STexProcNode::ReleaseOutputs(run);
    for (STexNode_Output* out : Outputs)
        run.OfferSpareTarget(out->Output);
}

TextureRef STexNode_Proc::GetOutput(u32 index)
{
    // The preview asks for output 0 of a node that has no pins as well.
    if (index >= Outputs.Count())
        return TextureRef();
    return Outputs[index]->Output;
}

float STexNode_Proc::PropertyPanel(const mRect& r)
{
    enum
    {
        ROW_Load = 0,
        ROW_Visualize,
        ROW_Params,
    };
    bool changed = false;
    const mRect load = NodeRow(r, ROW_Load);
    const TString label = KVFName.IsEmpty() ? TString(LOAD_BUTTON) : ExtractFileName(KVFName);
    if (Button(NodeRowId(r, load), load, label.Str()))
    {
        TString chosen;
        if (GNodeFileDialog && GNodeFileDialog(FILE_NODE_DIALOG_FOLDER, PROC_FILE_FILTER, chosen, 0) &&
            !chosen.IsEmpty())
            changed |= Load(chosen) != 0;
    }
    GuiLabel(VISUALIZE_LABEL, NODE_LABEL_COLOR, 0, NodeRowLabel(r, ROW_Visualize));
    const mRect toggle = NodeRowField(r, ROW_Visualize);
    int show = ShowOutputs;
    if (CheckBox(NodeRowId(r, toggle), toggle, &show))
    {
        ShowOutputs = show ? 1 : 0;
        changed = true;
    }
    u32 row = ROW_Params;
    for (SNamedParam& p : Params)
    {
        if (p.Kind != EVT_Int && p.Kind != EVT_Float)
            continue;
        GuiLabel(p.Label.Str(), NODE_LABEL_COLOR, 0, NodeRowLabel(r, row));
        const mRect field = NodeRowField(r, row);
        const u32 id = NodeRowId(r, field);
        if (p.Kind == EVT_Int)
        {
            int value = p.Value.Int;
            if (GuiIntField(id, field, &value, p.Min.Int, p.Max.Int))
            {
                p.Value.Int = value;
                changed = true;
            }
        }
        else if (GuiFloatField(id, field, &p.Value.Float, p.Min.Float, p.Max.Float, 0.0f))
            changed = true;
        ++row;
    }
    PreviewShown = !Status.IsEmpty() ? 1 : (ShowOutputs ? 1 : 0);
    if (changed)
        Changed(*this);
    return FinishPanel(*this, r, row);
}

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem CUSTOM_MENU[] = {
    {"--Use", nullptr},
    {"[PC] Processor", "STexNode_Proc"},
    {"--Make", nullptr},
    {"[PC] Input", "STexNode_Input"},
    {"[PC] Output", "STexNode_Output"},
    {"[PC] Param", "STexNode_Param"},
};
} // namespace

TEX_NODE_MENU(STNCustomMenu, CUSTOM_MENU)
