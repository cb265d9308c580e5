// The VecTools family: fourteen single-pass vector nodes and the family menu. The formulas live in
// the programs under Data/Shaders/Nodes/VecTools/, each stated in its header comment.
#include "TexOps_VecTools.h"

#include "GameShader.h"
#include "GameTexture.h"

namespace
{
const float FULL_FLOAT = 3.4028235e38f;
const u32 RIGHT_TOGGLE_ID = 1000;
const u32 MASK_ROWS = 2;
const u32 CLAMP_MIN_UNIT = 1;
const u32 CLAMP_MAX_UNIT = 2;
// The texels of Clamp's bounds when their pins give no texture.
const u8 CLAMP_MIN_TEXEL[4] = {0, 0, 0, 0};
const u8 CLAMP_MAX_TEXEL[4] = {255, 255, 255, 255};

const char* const PIN_INPUT = "Input";
const char* const PIN_OUTPUT = "Output";
const char* const CHANNEL_LABELS[4] = {"Red", "Green", "Blue", "Alpha"};

void AddPins(STexProcNode& node, const char* const* inputs, u32 count)
{
    for (u32 i = 0; i < count; ++i)
        node.InParams.Add(new NodePin(inputs[i], &node, i));
    node.OutParams.Add(new NodePin(PIN_OUTPUT, &node, 0));
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

// The channel panel: "Red" and "Green" on the first row, "Blue" and "Alpha" on the next, the
// right toggle of a row taking the row's id plus 1000.
u32 MaskRows(STexProcNode& node, const mRect& r, SVecMask& m)
{
    s32* fields[4] = {&m.Red, &m.Green, &m.Blue, &m.Alpha};
    for (u32 row = 0; row < MASK_ROWS; ++row)
    {
        const u32 id = NodeRowId(r, NodeRow(r, row));
        Toggle(node, id, NodeRowLabel(r, row), CHANNEL_LABELS[2 * row], *fields[2 * row]);
        Toggle(node, id + RIGHT_TOGGLE_ID, NodeRowField(r, row), CHANNEL_LABELS[2 * row + 1], *fields[2 * row + 1]);
    }
    return MASK_ROWS;
}


SPropDesc MaskProp()
{
    return PropVec4(EVT_Vec4, "RGBA", mVec4(1, 1, 1, 1), mVec4(-FULL_FLOAT, -FULL_FLOAT, -FULL_FLOAT, -FULL_FLOAT),
                    mVec4(FULL_FLOAT, FULL_FLOAT, FULL_FLOAT, FULL_FLOAT));
}

const SPropDesc* BaseOnlyProps()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropNull(),
    };
    return table;
}

u32 Larger(u32 a, u32 b)
{
    return a > b ? a : b;
}
} // namespace

s32 VecMaskChannel(float stored)
{
    // Truncation toward zero held in 0..1 leaves 1 exactly for 1 and above; NaN compares false.
    return stored >= 1.0f ? 1 : 0;
}

SVecMask VecMaskFromVec4(const mVec4& stored)
{
    return {VecMaskChannel(stored.x), VecMaskChannel(stored.y), VecMaskChannel(stored.z), VecMaskChannel(stored.w)};
}

mVec4 VecMaskToVec4(const SVecMask& m)
{
    return mVec4(m.Red ? 1.0f : 0.0f, m.Green ? 1.0f : 0.0f, m.Blue ? 1.0f : 0.0f, m.Alpha ? 1.0f : 0.0f);
}

u32 VecArithFormat(u32 format1, u32 format2)
{
    return Larger(Larger(format1, format2), (u32)TEXFMT_RGBA16F);
}

// ---------------------------------------------------------------------------------------------
// Masked two-input operations

const SPropDesc* STexNode_VecArith::ArithProps()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        MaskProp(),
        PropNull(),
    };
    return table;
}

STexNode_VecArith::STexNode_VecArith(TArray<SPropDesc>& list, const char* title, const char* program)
    : STexProcNode(list), Program(program)
{
    Title = title;
    const char* const inputs[] = {"Input 1", "Input 2"};
    AddPins(*this, inputs, 2);
    FNodeParams params(list);
    Mask = VecMaskFromVec4(params.Vec4(P_RGBA, EVT_Vec4));
}

int STexNode_VecArith::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    const mVec4 mask = VecMaskToVec4(Mask);
    TArray<TString> none;
    return NodeSinglePass(*this, Larger(in[0]->Width, in[1]->Width), Larger(in[0]->Height, in[1]->Height),
                          VecArithFormat(in[0]->Format, in[1]->Format), Program, none,
                          [&](SShader* sp) { SetUniformVec4(sp, "RGBA", &mask.x); });
}

float STexNode_VecArith::PropertyPanel(const mRect& r)
{
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * (float)MaskRows(*this, r, Mask));
}

void STexNode_VecArith::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetVec4(P_RGBA, EVT_Vec4, VecMaskToVec4(Mask));
}

#define VEC_ARITH_DEFINE(T, title, program)                                                          \
    const SPropDesc* T::Props() { return ArithProps(); }                                             \
    TEX_NODE_CLASS(T)                                                                                \
    T::T(TArray<SPropDesc>& list) : STexNode_VecArith(list, title, program) {}

VEC_ARITH_DEFINE(STexNode_Add, "Add", "Nodes/VecTools/Add")
VEC_ARITH_DEFINE(STexNode_Sub, "Subtract", "Nodes/VecTools/Sub")
VEC_ARITH_DEFINE(STexNode_Mul, "Multiply", "Nodes/VecTools/Mul")
VEC_ARITH_DEFINE(STexNode_Div, "Divide", "Nodes/VecTools/Div")
VEC_ARITH_DEFINE(STexNode_Mod, "Modulo", "Nodes/VecTools/Mod")
VEC_ARITH_DEFINE(STexNode_Pow, "Power", "Nodes/VecTools/Pow")
VEC_ARITH_DEFINE(STexNode_Min, "Min", "Nodes/VecTools/Min")
VEC_ARITH_DEFINE(STexNode_Max, "Max", "Nodes/VecTools/Max")

// ---------------------------------------------------------------------------------------------
// One-input operations

STexNode_VecUnary::STexNode_VecUnary(TArray<SPropDesc>& list, const char* title, const char* program)
    : STexProcNode(list), Program(program)
{
    Title = title;
    AddPins(*this, &PIN_INPUT, 1);
}

int STexNode_VecUnary::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    TArray<TString> none;
    return NodeSinglePass(*this, in[0]->Width, in[0]->Height, TEXFMT_RGBA16F, Program, none, nullptr);
}

void STexNode_VecUnary::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
}

const SPropDesc* STexNode_Abs::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        MaskProp(),
        PropNull(),
    };
    return table;
}

const SPropDesc* STexNode_PackNormal::Props()
{
    return BaseOnlyProps();
}

const SPropDesc* STexNode_UnpackNormal::Props()
{
    return BaseOnlyProps();
}

const SPropDesc* STexNode_NormalizeNormal::Props()
{
    return BaseOnlyProps();
}

TEX_NODE_CLASS(STexNode_Abs)
TEX_NODE_CLASS(STexNode_PackNormal)
TEX_NODE_CLASS(STexNode_UnpackNormal)
TEX_NODE_CLASS(STexNode_NormalizeNormal)

STexNode_Abs::STexNode_Abs(TArray<SPropDesc>& list) : STexNode_VecUnary(list, "Absolute", "Nodes/VecTools/Abs") {}
STexNode_PackNormal::STexNode_PackNormal(TArray<SPropDesc>& list)
    : STexNode_VecUnary(list, "Pack normal", "Nodes/VecTools/PackNormal")
{
}
STexNode_UnpackNormal::STexNode_UnpackNormal(TArray<SPropDesc>& list)
    : STexNode_VecUnary(list, "Unpack normal", "Nodes/VecTools/UnpackNormal")
{
}
STexNode_NormalizeNormal::STexNode_NormalizeNormal(TArray<SPropDesc>& list)
    : STexNode_VecUnary(list, "Normalize normal", "Nodes/VecTools/NormalizeNormal")
{
}

// ---------------------------------------------------------------------------------------------
// Mix

const SPropDesc* STexNode_Mix::Props()
{
    return BaseOnlyProps();
}

TEX_NODE_CLASS(STexNode_Mix)

STexNode_Mix::STexNode_Mix(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Mix";
    const char* const inputs[] = {"Input 1", "Input 2", "Mix val."};
    AddPins(*this, inputs, 3);
}

int STexNode_Mix::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    // The mix values are stretched like the inputs; their size does not count.
    TArray<TString> none;
    return NodeSinglePass(*this, Larger(in[0]->Width, in[1]->Width), Larger(in[0]->Height, in[1]->Height),
                          TEXFMT_RGBA32F, "Nodes/VecTools/Mix", none, nullptr);
}

void STexNode_Mix::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
}

// ---------------------------------------------------------------------------------------------
// Clamp

const SPropDesc* STexNode_Clamp::Props()
{
    return BaseOnlyProps();
}

TEX_NODE_CLASS(STexNode_Clamp)

STexNode_Clamp::STexNode_Clamp(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Clamp";
    const char* const inputs[] = {PIN_INPUT, "Min", "Max"};
    AddPins(*this, inputs, 3);
}

int STexNode_Clamp::Process()
{
    // Only "Input" is required; a bound without a texture of its own is 0 below and 1 above.
    if (InParams.IsEmpty() || InParams[0]->Links.IsEmpty())
    {
        SetStatus(NS_NoInput);
        return 0;
    }
    TextureRef in = InputTexture(0);
    if (!NodeTextureUsable(in))
    {
        SetStatus(NS_NullTexture);
        return 0;
    }
    const u32 units[2] = {CLAMP_MIN_UNIT, CLAMP_MAX_UNIT};
    const u8* texels[2] = {CLAMP_MIN_TEXEL, CLAMP_MAX_TEXEL};
    TextureRef defaults[2];
    for (u32 i = 0; i < 2; ++i)
    {
        const u32 pin = units[i];
        if (pin < InParams.Count() && !InParams[pin]->Links.IsEmpty() && NodeTextureUsable(InputTexture(pin)))
            continue;
        if (!TEX_Create(defaults[i], 1, 1, 1, 1, TEXFMT_RGBA8, texels[i], NODE_OUTPUT_TEX_FLAGS))
        {
            Status.Format(128, "Clamp: the default %s texture could not be made", InParams[pin]->Name.Str());
            return 0;
        }
    }
    TArray<TString> none;
    return NodeSinglePass(*this, in->Width, in->Height, in->Format, "Nodes/VecTools/Clamp", none, [&](SShader*) {
        for (u32 i = 0; i < 2; ++i)
            if (!defaults[i].IsNull())
                TEX_Bind(units[i], defaults[i]);
    });
}

void STexNode_Clamp::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
}

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem VEC_TOOLS_MENU[] = {
    {"--Basic math", nullptr},
    {"Add", "STexNode_Add"},
    {"Subtract", "STexNode_Sub"},
    {"Multiply", "STexNode_Mul"},
    {"Divide", "STexNode_Div"},
    {"Modulo", "STexNode_Mod"},
    {"Power", "STexNode_Pow"},
    {"Min", "STexNode_Min"},
    {"Max", "STexNode_Max"},
    {"Absolute", "STexNode_Abs"},
    {"Mix", "STexNode_Mix"},
    {"Clamp", "STexNode_Clamp"},
    {"--Normals", nullptr},
    {"Pack normal", "STexNode_PackNormal"},
    {"Unpack normal", "STexNode_UnpackNormal"},
    {"Normalize normal", "STexNode_NormalizeNormal"},
};
} // namespace

TEX_NODE_MENU(STNVecToolsMenu, VEC_TOOLS_MENU)
