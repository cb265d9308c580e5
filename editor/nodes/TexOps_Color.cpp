// The Color family: nine single-pass colour nodes and the family menu. The formulas live in the
// programs under Data/Shaders/Nodes/Color/, each stated in its header comment.
#include "TexOps_Color.h"

#include <cmath>

#include "GameShader.h"
#include "GameTexture.h"

const char* const QUICK_CONVERT_MODES[QUICK_CONVERT_MODE_COUNT] = {
    "R,R,R,1", "G,G,G,1", "B,B,B,1", "A,A,A,1", "---",     "R,R,R,R", "G,G,G,G",
    "B,B,B,B", "A,A,A,A", "---",     "1,1,1,R", "1,1,1,G", "1,1,1,B", "1,1,1,A",
};
const char* const LUT_CHANNELS[LUT_CHANNEL_COUNT] = {"Red", "Green", "Blue", "Alpha"};
const char* const COLOR_ENUM_UNKNOWN = "?";

namespace
{
const float FULL_FLOAT = 3.4028235e38f;
const s32 FULL_INT_MIN = (s32)0x80000000u;
const s32 FULL_INT_MAX = 0x7FFFFFFF;
const float NO_SNAP = 0.0f;
const float SNAP_DIV_MAX = 1000.0f;
const float SNAP_DIV_SNAP = 1.0f;
const float BLEND_MIN = 0.0f;
const float BLEND_MAX = 1.0f;
const u32 MATRIX_ROWS = 4;
const u32 LUT_INPUT_UNIT = 1;

const char* const QUICK_CONVERT_SEPARATOR = "---";
const char* const QUICK_CONVERT_DEFINE = "CONVERSION ";

const char* const PROG_INVERT = "Nodes/Color/Invert";
const char* const PROG_DESAT = "Nodes/Color/DesatAvg";
const char* const PROG_BRCON = "Nodes/Color/BrCon";
const char* const PROG_SOFT = "Nodes/Color/SoftContrast";
const char* const PROG_POSTERIZE = "Nodes/Color/Posterize";
const char* const PROG_QUICK = "Nodes/Color/QuickConvert";
const char* const PROG_CHANBLEND = "Nodes/Color/ChanBlend";
const char* const PROG_MATRIX = "Nodes/Color/ColorMatrix";
const char* const PROG_LUT = "Nodes/Color/LUT2D";

const char* const PIN_INPUT = "Input";
const char* const PIN_INPUT1 = "Input 1";
const char* const PIN_INPUT2 = "Input 2";
const char* const PIN_OUTPUT = "Output";
const char* const PIN_LUT = "LUT";
const char* const MATRIX_ROW_PINS[MATRIX_ROWS] = {"Red", "Green", "Blue", "Alpha"};
const char* const CHANNEL_LABELS[4] = {"Red", "Green", "Blue", "Alpha"};

void AddPins(STexProcNode& node, const char* const* inputs, u32 count)
{
    for (u32 i = 0; i < count; ++i)
        node.InParams.Add(new NodePin(inputs[i], &node, i));
    node.OutParams.Add(new NodePin(PIN_OUTPUT, &node, 0));
}

void AddOneInputPins(STexProcNode& node, const char* input)
{
    AddPins(node, &input, 1);
}

float Switch(s32 v)
{
    return v ? 1.0f : 0.0f;
}

// The switches' entries: red, green, blue and alpha from entry `first` on.
void ReadMask(FNodeParams& params, u32 first, SColorMask& m)
{
    m.Red = params.IntClamped(first, 1);
    m.Green = params.IntClamped(first + 1, 1);
    m.Blue = params.IntClamped(first + 2, 1);
    m.Alpha = params.IntClamped(first + 3, 0);
}

void WriteMask(FNodeParams& params, u32 first, const SColorMask& m)
{
    params.SetInt(first, m.Red);
    params.SetInt(first + 1, m.Green);
    params.SetInt(first + 2, m.Blue);
    params.SetInt(first + 3, m.Alpha);
}

void SetMaskUniform(SShader* sp, const SColorMask& m)
{
    const float v[4] = {Switch(m.Red), Switch(m.Green), Switch(m.Blue), Switch(m.Alpha)};
    SetUniformVec4(sp, "RGBA", v);
}

// The four channel toggles from row `first` on; returns the rows used.
u32 MaskRows(STexProcNode& node, const mRect& r, u32 first, SColorMask& m)
{
    NodeTogglePair(node, r, first, CHANNEL_LABELS[0], m.Red, CHANNEL_LABELS[1], m.Green);
    NodeTogglePair(node, r, first + 1, CHANNEL_LABELS[2], m.Blue, CHANNEL_LABELS[3], m.Alpha);
    return 2;
}

// A push button showing the value's entry; a click opens the processor's choice menu over texts.
void EnumRow(STexProcNode& node, const mRect& r, u32 row, const char* label, s32& value, const char* const* texts,
             u32 count)
{
    node.GuiLabel(label, NODE_LABEL_COLOR, 0, NodeRowLabel(r, row));
    const mRect field = NodeRowField(r, row);
    if (node.Button(NodeRowId(r, field), field, ColorEnumText(texts, count, value)) && node.Owner)
        OpenEnumMenu(node.Owner, &node, &value, texts, count, field);
}

// The base panel below `rows` own rows.
float FinishPanel(STexProcNode& node, const mRect& r, u32 rows)
{
    return NodeFinishPanel(node, r, NODE_PANEL_ROW_HEIGHT * (float)rows);
}

// The format argument of FirstInputPass that keeps the first input's format (no format has code 0).
const u32 INPUT_FORMAT = 0;

// The usual pass of a node whose required inputs are all its inputs, at the first input's size.
int FirstInputPass(STexProcNode& node, const char* program, u32 format, const std::function<void(SShader*)>& uniforms)
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(node, in))
        return 0;
    const TextureRef& first = in[0];
    TArray<TString> none;
    return NodeSinglePass(node, first->Width, first->Height, format == INPUT_FORMAT ? first->Format : format, program,
                          none, uniforms);
}
} // namespace

bool QuickConvertModeValid(s32 mode)
{
    return mode >= 0 && (u32)mode < QUICK_CONVERT_MODE_COUNT &&
           gStrCmp(QUICK_CONVERT_MODES[mode], QUICK_CONVERT_SEPARATOR) != 0;
}

const char* ColorEnumText(const char* const* texts, u32 count, s32 value)
{
    return value >= 0 && (u32)value < count ? texts[value] : COLOR_ENUM_UNKNOWN;
}

mVec4 LUTChannelSelector(s32 channel)
{
    mVec4 v(0, 0, 0, 0);
    switch (channel)
    {
    case 0: v.x = 1.0f; break;
    case 1: v.y = 1.0f; break;
    case 2: v.z = 1.0f; break;
    case 3: v.w = 1.0f; break;
    default: break;
    }
    return v;
}

// ---------------------------------------------------------------------------------------------
// Invert

const SPropDesc* STexNode_Invert::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Red", 1, 0, 1),
        PropInt("Green", 1, 0, 1),
        PropInt("Blue", 1, 0, 1),
        PropInt("Alpha", 0, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Invert)

STexNode_Invert::STexNode_Invert(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Invert";
    AddOneInputPins(*this, PIN_INPUT);
    FNodeParams params(list);
    ReadMask(params, P_Red, Mask);
}

int STexNode_Invert::Process()
{
    return FirstInputPass(*this, PROG_INVERT, INPUT_FORMAT,
                          [&](SShader* sp) { SetMaskUniform(sp, Mask); });
}

float STexNode_Invert::PropertyPanel(const mRect& r)
{
    return FinishPanel(*this, r, MaskRows(*this, r, 0, Mask));
}

void STexNode_Invert::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    WriteMask(params, P_Red, Mask);
}

// ---------------------------------------------------------------------------------------------
// Desaturate

const SPropDesc* STexNode_Desaturate::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Desaturate)

STexNode_Desaturate::STexNode_Desaturate(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Desaturate";
    AddOneInputPins(*this, PIN_INPUT);
}

int STexNode_Desaturate::Process()
{
    return FirstInputPass(*this, PROG_DESAT, TEXFMT_RGBA16F, nullptr);
}

void STexNode_Desaturate::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
}

// ---------------------------------------------------------------------------------------------
// Brightness and contrast

const SPropDesc* STexNode_BrCon::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropFloat("BrOff", 0.0f, -FULL_FLOAT, FULL_FLOAT),
        PropFloat("ConQ", 1.0f, -FULL_FLOAT, FULL_FLOAT),
        PropInt("Red", 1, 0, 1),
        PropInt("Green", 1, 0, 1),
        PropInt("Blue", 1, 0, 1),
        PropInt("Alpha", 0, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_BrCon)

STexNode_BrCon::STexNode_BrCon(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Brightness/contrast";
    AddOneInputPins(*this, PIN_INPUT);
    FNodeParams params(list);
    BrOff = params.FloatClamped(P_BrOff, 0.0f);
    ConQ = params.FloatClamped(P_ConQ, 1.0f);
    ReadMask(params, P_Red, Mask);
}

int STexNode_BrCon::Process()
{
    return FirstInputPass(*this, PROG_BRCON, INPUT_FORMAT, [&](SShader* sp) {
        SetUniformFloat(sp, "BrOff", BrOff);
        SetUniformFloat(sp, "ConQ", ConQ);
        SetMaskUniform(sp, Mask);
    });
}

float STexNode_BrCon::PropertyPanel(const mRect& r)
{
    NodeFloatRow(*this, r, 0, "Brightness", BrOff, -FULL_FLOAT, FULL_FLOAT, NO_SNAP);
    NodeFloatRow(*this, r, 1, "Contrast", ConQ, -FULL_FLOAT, FULL_FLOAT, NO_SNAP);
    return FinishPanel(*this, r, 2 + MaskRows(*this, r, 2, Mask));
}

void STexNode_BrCon::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetFloat(P_BrOff, BrOff);
    params.SetFloat(P_ConQ, ConQ);
    WriteMask(params, P_Red, Mask);
}

// ---------------------------------------------------------------------------------------------
// Soft contrast

const SPropDesc* STexNode_SoftContrast::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropFloat("Center", 0.5f, -FULL_FLOAT, FULL_FLOAT),
        PropFloat("Range", 0.5f, -FULL_FLOAT, FULL_FLOAT),
        PropFloat("Amount", 1.0f, -FULL_FLOAT, FULL_FLOAT),
        PropFloat("SnapDiv", 0.0f, -FULL_FLOAT, FULL_FLOAT),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_SoftContrast)

STexNode_SoftContrast::STexNode_SoftContrast(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Soft contrast";
    AddOneInputPins(*this, PIN_INPUT);
    FNodeParams params(list);
    Center = params.FloatClamped(P_Center, 0.5f);
    Range = params.FloatClamped(P_Range, 0.5f);
    Amount = params.FloatClamped(P_Amount, 1.0f);
    SnapDiv = params.FloatClamped(P_SnapDiv, 0.0f);
}

int STexNode_SoftContrast::Process()
{
    return FirstInputPass(*this, PROG_SOFT, INPUT_FORMAT, [&](SShader* sp) {
        const float data[3] = {Center, Range, Amount};
        SetUniformVec3(sp, "Data", data);
    });
}

float STexNode_SoftContrast::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    NodeFloatRow(*this, r, 0, "Center", Center, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, 1, "Range", Range, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, 2, "Amount", Amount, -FULL_FLOAT, FULL_FLOAT, snap);
    // The divisor only changes how the fields above snap; like any edit it still marks the
    // document changed (the image renders the same).
    NodeFloatRow(*this, r, 3, "Snap div.", SnapDiv, 0.0f, SNAP_DIV_MAX, SNAP_DIV_SNAP);
    return FinishPanel(*this, r, 4);
}

void STexNode_SoftContrast::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetFloat(P_Center, Center);
    params.SetFloat(P_Range, Range);
    params.SetFloat(P_Amount, Amount);
    params.SetFloat(P_SnapDiv, SnapDiv);
}

// ---------------------------------------------------------------------------------------------
// Posterize

const SPropDesc* STexNode_Posterize::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropFloat("RoundDiv", 0.125f, -FULL_FLOAT, FULL_FLOAT),
        PropInt("Red", 1, 0, 1),
        PropInt("Green", 1, 0, 1),
        PropInt("Blue", 1, 0, 1),
        PropInt("Alpha", 0, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Posterize)

STexNode_Posterize::STexNode_Posterize(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Posterize";
    AddOneInputPins(*this, PIN_INPUT);
    FNodeParams params(list);
    RoundDiv = params.FloatClamped(P_RoundDiv, 0.125f);
    ReadMask(params, P_Red, Mask);
}

int STexNode_Posterize::Process()
{
    return FirstInputPass(*this, PROG_POSTERIZE, TEXFMT_RGBA32F, [&](SShader* sp) {
        // The program leaves channels unchanged for a step of 0; a step that is no finite number
        // would write Inf or NaN, so it is sent as 0.
        SetUniformFloat(sp, "RoundDiv", std::isfinite(RoundDiv) ? RoundDiv : 0.0f);
        SetMaskUniform(sp, Mask);
    });
}

float STexNode_Posterize::PropertyPanel(const mRect& r)
{
    NodeFloatRow(*this, r, 0, "Round div.", RoundDiv, 0.0f, FULL_FLOAT, NO_SNAP);
    return FinishPanel(*this, r, 1 + MaskRows(*this, r, 1, Mask));
}

void STexNode_Posterize::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetFloat(P_RoundDiv, RoundDiv);
    WriteMask(params, P_Red, Mask);
}

// ---------------------------------------------------------------------------------------------
// Quick convert

const SPropDesc* STexNode_QuickConvert::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Mode", 3, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_QuickConvert)

STexNode_QuickConvert::STexNode_QuickConvert(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Quick convert";
    AddOneInputPins(*this, PIN_INPUT1);
    FNodeParams params(list);
    Mode = params.Int(P_Mode, 3);
}

int STexNode_QuickConvert::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    // A separator or a value past the list would make a program that does not compile (or read
    // past the list): the node fails with a status and compiles nothing.
    if (!NodeEnumInRange(*this, "Mode", Mode, (s32)QUICK_CONVERT_MODE_COUNT))
        return 0;
    if (!QuickConvertModeValid(Mode))
    {
        Status.Format(128, "Mode %d is a separator, not a conversion", (int)Mode);
        return 0;
    }
    TArray<TString> defines;
    TString define(QUICK_CONVERT_DEFINE);
    define += QUICK_CONVERT_MODES[Mode];
    defines.Add(define);
    return NodeSinglePass(*this, in[0]->Width, in[0]->Height, in[0]->Format, PROG_QUICK, defines, nullptr);
}

float STexNode_QuickConvert::PropertyPanel(const mRect& r)
{
    EnumRow(*this, r, 0, "Mode", Mode, QUICK_CONVERT_MODES, QUICK_CONVERT_MODE_COUNT);
    return FinishPanel(*this, r, 1);
}

void STexNode_QuickConvert::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Mode, Mode);
}

// ---------------------------------------------------------------------------------------------
// Channel blend

const SPropDesc* STexNode_ChanBlend::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec4(EVT_Vec4, "BlendAmt", mVec4(0, 0, 0, 0), mVec4(-FULL_FLOAT, -FULL_FLOAT, -FULL_FLOAT, -FULL_FLOAT),
                 mVec4(FULL_FLOAT, FULL_FLOAT, FULL_FLOAT, FULL_FLOAT)),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_ChanBlend)

STexNode_ChanBlend::STexNode_ChanBlend(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Channel blend";
    const char* const inputs[] = {PIN_INPUT1, PIN_INPUT2};
    AddPins(*this, inputs, 2);
    FNodeParams params(list);
    BlendAmt = params.Vec4(P_BlendAmt, EVT_Vec4);
}

int STexNode_ChanBlend::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    const u32 w = in[0]->Width > in[1]->Width ? in[0]->Width : in[1]->Width;
    const u32 h = in[0]->Height > in[1]->Height ? in[0]->Height : in[1]->Height;
    TArray<TString> none;
    return NodeSinglePass(*this, w, h, TEXFMT_RGBA32F, PROG_CHANBLEND, none,
                          [&](SShader* sp) { SetUniformVec4(sp, "BlendAmt", &BlendAmt.x); });
}

float STexNode_ChanBlend::PropertyPanel(const mRect& r)
{
    float* amounts[4] = {&BlendAmt.x, &BlendAmt.y, &BlendAmt.z, &BlendAmt.w};
    for (u32 i = 0; i < 4; ++i)
        NodeFloatRow(*this, r, i, CHANNEL_LABELS[i], *amounts[i], BLEND_MIN, BLEND_MAX, NO_SNAP);
    return FinishPanel(*this, r, 4);
}

void STexNode_ChanBlend::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetVec4(P_BlendAmt, EVT_Vec4, BlendAmt);
}

// ---------------------------------------------------------------------------------------------
// Colour matrix

const SPropDesc* STexNode_ColorMatrix::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_ColorMatrix)

STexNode_ColorMatrix::STexNode_ColorMatrix(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Color matrix";
    const char* const inputs[1 + MATRIX_ROWS] = {PIN_INPUT, MATRIX_ROW_PINS[0], MATRIX_ROW_PINS[1],
                                                 MATRIX_ROW_PINS[2], MATRIX_ROW_PINS[3]};
    AddPins(*this, inputs, 1 + MATRIX_ROWS);
}

int STexNode_ColorMatrix::Process()
{
    // Only "Input" is required; a row without a texture of its own is the unit row of its
    // channel, so that it leaves the channel as it is.
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
    TextureRef rows[MATRIX_ROWS];
    for (u32 i = 0; i < MATRIX_ROWS; ++i)
    {
        if (1 + i < InParams.Count() && !InParams[1 + i]->Links.IsEmpty())
        {
            TextureRef linked = InputTexture(1 + i);
            if (NodeTextureUsable(linked))
                rows[i] = linked;
        }
        if (!rows[i].IsNull())
            continue;
        u8 unit[4] = {0, 0, 0, 0};
        unit[i] = 255;
        if (!TEX_Create(rows[i], 1, 1, 1, 1, TEXFMT_RGBA8, unit, NODE_OUTPUT_TEX_FLAGS))
        {
            Status.Format(128, "ColorMatrix: the unit row of %s could not be made", MATRIX_ROW_PINS[i]);
            return 0;
        }
    }
    TArray<TString> none;
    return NodeSinglePass(*this, in->Width, in->Height, TEXFMT_RGBA32F, PROG_MATRIX, none, [&](SShader*) {
        for (u32 i = 0; i < MATRIX_ROWS; ++i)
            TEX_Bind(1 + i, rows[i]);
    });
}

void STexNode_ColorMatrix::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
}

// ---------------------------------------------------------------------------------------------
// Colour lookup

const SPropDesc* STexNode_ColorLUT2D::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("XChan", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("YChan", 1, FULL_INT_MIN, FULL_INT_MAX),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_ColorLUT2D)

STexNode_ColorLUT2D::STexNode_ColorLUT2D(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Color lookup (2D)";
    const char* const inputs[] = {PIN_INPUT, PIN_LUT};
    AddPins(*this, inputs, 2);
    FNodeParams params(list);
    XChan = params.Int(P_XChan, 0);
    YChan = params.Int(P_YChan, 1);
}

int STexNode_ColorLUT2D::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    const TextureRef& lut = in[LUT_INPUT_UNIT];
    TArray<TString> none;
    return NodeSinglePass(*this, in[0]->Width, in[0]->Height, lut->Format, PROG_LUT, none, [&](SShader* sp) {
        const mVec4 x = LUTChannelSelector(XChan), y = LUTChannelSelector(YChan);
        SetUniformVec4(sp, "XChan", &x.x);
        SetUniformVec4(sp, "YChan", &y.x);
        // The program puts 0 and 1 on the first and last texel centres.
        const float size[2] = {(float)lut->Width, (float)lut->Height};
        SetUniformVec2(sp, "LUTSize", size);
    });
}

float STexNode_ColorLUT2D::PropertyPanel(const mRect& r)
{
    EnumRow(*this, r, 0, "X ch.", XChan, LUT_CHANNELS, LUT_CHANNEL_COUNT);
    EnumRow(*this, r, 1, "Y ch.", YChan, LUT_CHANNELS, LUT_CHANNEL_COUNT);
    return FinishPanel(*this, r, 2);
}

void STexNode_ColorLUT2D::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_XChan, XChan);
    params.SetInt(P_YChan, YChan);
}

// ---------------------------------------------------------------------------------------------
// Menu

namespace
{
const SNodeMenuItem COLOR_MENU[] = {
    {"--Basic", nullptr},
    {"Invert", "STexNode_Invert"},
    {"Desaturate", "STexNode_Desaturate"},
    {"Brightness/contrast", "STexNode_BrCon"},
    {"Soft contrast", "STexNode_SoftContrast"},
    {"Posterize", "STexNode_Posterize"},
    {"--Channel mixing", nullptr},
    {"Quick convert", "STexNode_QuickConvert"},
    {"Channel blend", "STexNode_ChanBlend"},
    {"Color matrix", "STexNode_ColorMatrix"},
    {"Color lookup (2D)", "STexNode_ColorLUT2D"},
    {"[Disabled] Color curves", nullptr},
};
} // namespace

TEX_NODE_MENU(STNColorMenu, COLOR_MENU)
