// The Select family: three single-pass mask nodes and the family menu. What the masks hold lives
// in the programs under Data/Shaders/Nodes/Select/, each stated in its header comment.
#include "TexOps_Select.h"

#include "GameShader.h"
#include "GameTexture.h"

const char* const SEL_COMPARE_CHOICES[SEL_COMPARE_MODE_COUNT] = {"A > B", "A >= B", "A < B", "A <= B"};
const char* const SEL_COMPARE_DEFINES[SEL_COMPARE_MODE_COUNT] = {"SIGN >", "SIGN >=", "SIGN <", "SIGN <="};
const char* const SEL_COMPARE_UNKNOWN = "?";

namespace
{
const float FULL_FLOAT = 3.4028235e38f;
const s32 FULL_INT_MIN = (s32)0x80000000u;
const s32 FULL_INT_MAX = 0x7FFFFFFF;
const float NO_SNAP = 0.0f;
const float SNAP_DIV_MAX = 1000.0f;
const float SNAP_DIV_SNAP = 1.0f;
// The step of a sharp range: the float epsilon.
const float SHARP_STEP = 1.1920929e-07f;
const u32 RIGHT_TOGGLE_ID = 1000;
// Plain numbers, fixed before any code runs, so that no class table waits on a constructor.
const float RANGE_START_DEFAULT = 10.0f / 256.0f;
const float RANGE_END_DEFAULT = 11.0f / 256.0f;
const float RECT_MAX_DEFAULT = 100.0f;

const char* const PROG_RECT = "Nodes/Select/Rect";
const char* const PROG_COMPARE = "Nodes/Select/Compare";
const char* const PROG_RANGE = "Nodes/Select/Range";
const char* const PIN_OUTPUT = "Output";

void AddPins(STexProcNode& node, const char* const* inputs, u32 count)
{
    for (u32 i = 0; i < count; ++i)
        node.InParams.Add(new NodePin(inputs[i], &node, i));
    node.OutParams.Add(new NodePin(PIN_OUTPUT, &node, 0));
}

void AddTwoInputPins(STexProcNode& node)
{
    const char* const inputs[] = {"Input", "Compare"};
    AddPins(node, inputs, 2);
}

void Toggle(STexProcNode& node, u32 id, const mRect& rect, const char* label, s32& value)
{
    int v = value;
    if (node.GuiToggle(id, rect, label, &v))
    {
        value = v ? 1 : 0;
        NodeChanged(node);
    }
}
} // namespace

const char* SelCompareChoice(s32 mode)
{
    return mode >= 0 && (u32)mode < SEL_COMPARE_MODE_COUNT ? SEL_COMPARE_CHOICES[mode] : SEL_COMPARE_UNKNOWN;
}

void SelRectCorners(const mVec2& min, const mVec2& max, mVec2& lo, mVec2& hi)
{
    lo = min;
    hi = max;
    if (max.x < min.x)
    {
        lo.x = max.x;
        hi.x = min.x;
    }
    if (max.y < min.y)
    {
        lo.y = max.y;
        hi.y = min.y;
    }
}

mVec2 SelRangeSent(const mVec2& range, s32 sharp)
{
    if (!sharp)
        return range;
    // At |start| >= 2 the step is below half the spacing of floats and the end rounds back to the
    // start; the program treats that zero width as a hard step at the start.
    const float step = range.y - range.x < 0.0f ? -SHARP_STEP : SHARP_STEP;
    return mVec2(range.x, range.x + step);
}

// ---------------------------------------------------------------------------------------------
// Rectangle

const SPropDesc* STexNode_SelRect::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec2("Min", mVec2(0, 0), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropVec2("Max", mVec2(RECT_MAX_DEFAULT, RECT_MAX_DEFAULT), mVec2(-FULL_FLOAT, -FULL_FLOAT),
                 mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropFloat("SnapDiv", 0.0f, -FULL_FLOAT, FULL_FLOAT),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_SelRect)

STexNode_SelRect::STexNode_SelRect(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Select rectangle";
    const char* const input = "In (size)";
    AddPins(*this, &input, 1);
    FNodeParams params(list);
    Min = params.Vec2(P_Min);
    Max = params.Vec2(P_Max);
    SnapDiv = params.FloatClamped(P_SnapDiv, 0.0f);
}

int STexNode_SelRect::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    mVec2 lo, hi;
    SelRectCorners(Min, Max, lo, hi);
    TArray<TString> none;
    return NodeSinglePass(*this, in[0]->Width, in[0]->Height, TEXFMT_RGBA8, PROG_RECT, none, [&](SShader* sp) {
        SetUniformVec2(sp, "LO", &lo.x);
        SetUniformVec2(sp, "HI", &hi.x);
    });
}

float STexNode_SelRect::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    NodeFloatRow(*this, r, 0, "X1", Min.x, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, 1, "Y1", Min.y, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, 2, "X2", Max.x, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, 3, "Y2", Max.y, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, 4, "Snap div.", SnapDiv, 0.0f, SNAP_DIV_MAX, SNAP_DIV_SNAP);
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * 5.0f);
}

void STexNode_SelRect::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetVec2(P_Min, Min);
    params.SetVec2(P_Max, Max);
    params.SetFloat(P_SnapDiv, SnapDiv);
}

// ---------------------------------------------------------------------------------------------
// Comparison

const SPropDesc* STexNode_SelCompare::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Mode", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_SelCompare)

STexNode_SelCompare::STexNode_SelCompare(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Select by comparison";
    AddTwoInputPins(*this);
    FNodeParams params(list);
    Mode = params.Int(P_Mode, 0);
}

int STexNode_SelCompare::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    // A mode past the operator list (only a document can hold one) names no operator: the node
    // fails with a status and compiles nothing.
    if (!NodeEnumInRange(*this, "Mode", Mode, (s32)SEL_COMPARE_MODE_COUNT))
        return 0;
    TArray<TString> defines;
    defines.Add(TString(SEL_COMPARE_DEFINES[Mode]));
    return NodeSinglePass(*this, in[0]->Width, in[0]->Height, TEXFMT_RGBA8, PROG_COMPARE, defines, nullptr);
}

float STexNode_SelCompare::PropertyPanel(const mRect& r)
{
    GuiLabel("Type", NODE_LABEL_COLOR, 0, NodeRowLabel(r, 0));
    const mRect field = NodeRowField(r, 0);
    // The choice menu stores the index and queues the node itself.
    if (Button(NodeRowId(r, field), field, SelCompareChoice(Mode)) && Owner)
        OpenEnumMenu(Owner, this, &Mode, SEL_COMPARE_CHOICES, SEL_COMPARE_MODE_COUNT, field);
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * 1.0f);
}

void STexNode_SelCompare::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Mode, Mode);
}

// ---------------------------------------------------------------------------------------------
// Colour range

const SPropDesc* STexNode_SelRange::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec2("Range", mVec2(RANGE_START_DEFAULT, RANGE_END_DEFAULT), mVec2(-FULL_FLOAT, -FULL_FLOAT),
                 mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropInt("Sharp", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("Vector", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_SelRange)

STexNode_SelRange::STexNode_SelRange(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Select color range";
    AddTwoInputPins(*this);
    FNodeParams params(list);
    Range = params.Vec2(P_Range);
    Sharp = params.Int(P_Sharp, 0);
    Vector = params.Int(P_Vector, 0);
}

int STexNode_SelRange::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    const mVec2 sent = SelRangeSent(Range, Sharp);
    TArray<TString> none;
    return NodeSinglePass(*this, in[0]->Width, in[0]->Height, in[0]->Format, PROG_RANGE, none, [&](SShader* sp) {
        SetUniformVec2(sp, "Range", &sent.x);
        SetUniformInt(sp, "Vector", Vector);
    });
}

float STexNode_SelRange::PropertyPanel(const mRect& r)
{
    NodeFloatRow(*this, r, 0, "Range start", Range.x, 0.0f, FULL_FLOAT, NO_SNAP);
    NodeFloatRow(*this, r, 1, "Range end", Range.y, 0.0f, FULL_FLOAT, NO_SNAP);
    const u32 id = NodeRowId(r, NodeRow(r, 2));
    Toggle(*this, id, NodeRowLabel(r, 2), "Sharp", Sharp);
    Toggle(*this, id + RIGHT_TOGGLE_ID, NodeRowField(r, 2), "Vector", Vector);
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * 3.0f);
}

void STexNode_SelRange::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetVec2(P_Range, Range);
    params.SetInt(P_Sharp, Sharp);
    params.SetInt(P_Vector, Vector);
}

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem SELECT_MENU[] = {
    {"Select rectangle", "STexNode_SelRect"},
    {"Select by comparison", "STexNode_SelCompare"},
    {"Select color range", "STexNode_SelRange"},
};
} // namespace

TEX_NODE_MENU(STNSelectMenu, SELECT_MENU)
