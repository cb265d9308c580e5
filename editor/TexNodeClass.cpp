// The shared parts of the node classes: parameter access with the documented assertions, input
// checks, the single pass, panel rows and the family menus.
#include "TexNodeClass.h"

#include <GL/glew.h>

#include "GameShader.h"
#include "GameVertex.h"

const char* const NODE_MENU_DISABLED_PREFIX = "[Disabled] ";

namespace
{
// The text of a choice button whose value lies outside its list.
const char* const NODE_UNKNOWN_CHOICE = "?";
bool IsStringType(u32 type)
{
    return type >= EVT_String && type <= EVT_Mesh;
}

const char* TypeAssertText(u32 type)
{
    switch (type)
    {
    case EVT_Int: return "Type != EVT_Int";
    case EVT_Float: return "Type != EVT_Float";
    case EVT_Vec2: return "Type != EVT_Vec2";
    case EVT_Vec4: return "Type != EVT_Vec4";
    case EVT_ColRGBA: return "Type != EVT_ColRGBA";
    default: return IsStringType(type) ? "Type < EVT_String || Type > EVT_Mesh" : "Type mismatch";
    }
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Parameters

TArray<SPropDesc>* FNodeParams::Base()
{
    const u32 count = List.Count();
    const u32 at = 0;
    if (BREAK_IF_TEXT(at >= count, "at >= count"))
        return nullptr;
    if (BREAK_IF_TEXT(List[0].Type != EVT_InheritInst, "Type != EVT_InheritInst"))
        return nullptr;
    return &List[0].Default.Children;
}

SPropDesc* FNodeParams::Entry(u32 k, u32 type)
{
    const u32 count = List.Count();
    if (BREAK_IF_TEXT(k >= count, "at >= count"))
        return nullptr;
    SPropDesc& e = List[k];
    const bool ok = IsStringType(type) ? IsStringType(e.Type) : e.Type == type;
    if (BREAK_IF_TEXT(!ok, TypeAssertText(type)))
        return nullptr;
    return &e;
}

s32 FNodeParams::Int(u32 k, s32 fallback)
{
    SPropDesc* e = Entry(k, EVT_Int);
    return e ? e->Default.Int : fallback;
}

s32 FNodeParams::IntClamped(u32 k, s32 fallback)
{
    SPropDesc* e = Entry(k, EVT_Int);
    if (!e)
        return fallback;
    const s32 v = e->Default.Int;
    return v < e->Min.Int ? e->Min.Int : (v > e->Max.Int ? e->Max.Int : v);
}

float FNodeParams::Float(u32 k, float fallback)
{
    SPropDesc* e = Entry(k, EVT_Float);
    return e ? e->Default.Float : fallback;
}

float FNodeParams::FloatClamped(u32 k, float fallback)
{
    SPropDesc* e = Entry(k, EVT_Float);
    if (!e)
        return fallback;
    const float v = e->Default.Float;
    // A value that is no number at all takes the minimum.
    if (!(v >= e->Min.Float))
        return e->Min.Float;
    return v > e->Max.Float ? e->Max.Float : v;
}

mVec2 FNodeParams::Vec2(u32 k)
{
    SPropDesc* e = Entry(k, EVT_Vec2);
    return e ? e->Default.Vec2 : mVec2(0, 0);
}

mVec4 FNodeParams::Vec4(u32 k, u32 type)
{
    SPropDesc* e = Entry(k, type);
    if (!e)
        return mVec4(0, 0, 0, 0);
    return type == EVT_ColRGBA ? e->Default.ColRGBA : e->Default.Vec4;
}

TString FNodeParams::String(u32 k)
{
    SPropDesc* e = Entry(k, EVT_String);
    return e ? e->Default.String : TString();
}

void FNodeParams::SetInt(u32 k, s32 v)
{
    if (SPropDesc* e = Entry(k, EVT_Int))
        e->Default.Int = v;
}

void FNodeParams::SetFloat(u32 k, float v)
{
    if (SPropDesc* e = Entry(k, EVT_Float))
        e->Default.Float = v;
}

void FNodeParams::SetVec2(u32 k, const mVec2& v)
{
    if (SPropDesc* e = Entry(k, EVT_Vec2))
        e->Default.Vec2 = v;
}

void FNodeParams::SetVec4(u32 k, u32 type, const mVec4& v)
{
    if (SPropDesc* e = Entry(k, type))
        (type == EVT_ColRGBA ? e->Default.ColRGBA : e->Default.Vec4) = v;
}

void FNodeParams::SetString(u32 k, const TString& v)
{
    if (SPropDesc* e = Entry(k, EVT_String))
        e->Default.String = v;
}

// ---------------------------------------------------------------------------------------------
// Processing

void NodeStoreBase(STexProcNode& node, FNodeParams& params)
{
    if (TArray<SPropDesc>* base = params.Base())
        node.STexProcNode::StoreParams(*base);
}

void NodeChanged(STexProcNode& node)
{
    if (node.Owner)
        node.Owner->AddToUpdateList(&node);
}

bool NodeTextureUsable(const TextureRef& tex)
{
    return !tex.IsNull() && tex->GLName != 0 && tex->Width > 0 && tex->Height > 0;
}

bool NodeEnumInRange(STexProcNode& node, const char* param, s32 value, s32 count)
{
    if (value >= 0 && value < count)
        return true;
    node.Status.Format(128, "%s %d is outside 0..%d", param, (int)value, (int)(count - 1));
    return false;
}

int NodeGatherInputs(STexProcNode& node, TArray<TextureRef>& inputs)
{
    inputs.Clear();
    // Every link is checked before any texture, so that a missing link is told first.
    bool linked = !node.InParams.IsEmpty();
    for (u32 i = 0; i < node.InParams.Count() && linked; ++i)
        linked = !node.InParams[i]->Links.IsEmpty() || node.InParams[i]->IsOptional();
    if (!linked)
    {
        node.SetStatus(NS_NoInput);
        return 0;
    }
    for (u32 i = 0; i < node.InParams.Count(); ++i)
    {
        if (node.InParams[i]->Links.IsEmpty())
        {
            inputs.Add(TextureRef());
            continue;
        }
        TextureRef tex = node.InputTexture(i);
        if (!NodeTextureUsable(tex))
        {
            node.SetStatus(NS_NullTexture);
            inputs.Clear();
            return 0;
        }
        inputs.Add(tex);
    }
    return 1;
}

int NodeSinglePass(STexProcNode& node, u32 width, u32 height, u32 format, const char* program,
                   const TArray<TString>& defines, const std::function<void(SShader*)>& uniforms)
{
    if (!node.CreateOutputTarget(width, height, format))
        return 0;
    FrameBufferRef fb;
    // The quad covers the target and the pass does not blend: clearing first would be wasted.
    if (!node.BeginOutputPass(fb, false))
        return 0;
    node.BindInputTextures(program, defines);
    if (uniforms && GCurShader)
        uniforms(GCurShader);
    DrawFullscreenQuad(-1, 1, 1, -1, 0);
    node.EndOutputPass(fb);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Panel rows

float NodeSnapDivisor(float stored)
{
    const float NO_SNAP = 0.0f;
    return stored > 0.0f && stored <= NODE_SNAP_DIV_MAX ? stored : NO_SNAP;
}

mRect NodeRow(const mRect& r, u32 row)
{
    const float top = r.y0 + NODE_PANEL_ROW_HEIGHT * (float)row;
    return mRect{r.x0, top, r.x1, top + NODE_PANEL_ROW_HEIGHT};
}

mRect NodeRowLabel(const mRect& r, u32 row)
{
    mRect q = NodeRow(r, row);
    q.x1 = (r.x0 + r.x1) * 0.5f;
    return q;
}

mRect NodeRowField(const mRect& r, u32 row)
{
    mRect q = NodeRow(r, row);
    q.x0 = (r.x0 + r.x1) * 0.5f;
    return q;
}

u32 NodeRowId(const mRect& r, const mRect& row)
{
    return (u32)gRound((row.y0 - r.y0) / NODE_PANEL_ROW_HEIGHT);
}

void NodeFloatRow(STexProcNode& node, const mRect& r, u32 row, const char* label, float& value, float lo, float hi,
                  float snap)
{
    node.GuiLabel(label, NODE_LABEL_COLOR, 0, NodeRowLabel(r, row));
    const mRect field = NodeRowField(r, row);
    if (node.GuiFloatField(NodeRowId(r, field), field, &value, lo, hi, snap))
        NodeChanged(node);
}

void NodeIntRow(STexProcNode& node, const mRect& r, u32 row, const char* label, s32& value, s32 lo, s32 hi)
{
    node.GuiLabel(label, NODE_LABEL_COLOR, 0, NodeRowLabel(r, row));
    const mRect field = NodeRowField(r, row);
    int v = value;
    if (node.GuiIntField(NodeRowId(r, field), field, &v, lo, hi))
    {
        value = v;
        NodeChanged(node);
    }
}

void NodeCheckRow(STexProcNode& node, const mRect& r, u32 row, const char* label, s32& value)
{
    node.GuiLabel(label, NODE_LABEL_COLOR, 0, NodeRowLabel(r, row));
    const mRect field = NodeRowField(r, row);
    int v = value != 0;
    if (node.CheckBox(NodeRowId(r, field), field, &v))
    {
        value = v ? 1 : 0;
        NodeChanged(node);
    }
}

int NodeTogglePair(STexProcNode& node, const mRect& r, u32 row, const char* leftLabel, s32& left,
                   const char* rightLabel, s32& right)
{
    const u32 id = NodeRowId(r, NodeRow(r, row));
    int l = left != 0, rv = right != 0, clicked = 0;
    if (node.GuiToggle(id, NodeRowLabel(r, row), leftLabel, &l))
    {
        left = l ? 1 : 0;
        clicked = 1;
        NodeChanged(node);
    }
    if (node.GuiToggle(id + NODE_RIGHT_TOGGLE_ID, NodeRowField(r, row), rightLabel, &rv))
    {
        right = rv ? 1 : 0;
        clicked = 2;
        NodeChanged(node);
    }
    return clicked;
}

void NodeEnumButton(STexProcNode& node, const mRect& r, const mRect& field, s32& value, const char* const* texts,
                    u32 count)
{
    const char* text = value >= 0 && (u32)value < count ? texts[value] : NODE_UNKNOWN_CHOICE;
    if (node.Button(NodeRowId(r, field), field, text) && node.Owner)
        OpenEnumMenu(node.Owner, &node, &value, texts, count, field);
}

float NodeFinishPanel(STexProcNode& node, const mRect& r, float own)
{
    mRect rest = r;
    rest.y0 += own;
    return own + node.STexProcNode::PropertyPanel(rest);
}

void FNodePanel::Float(const char* label, float* v, float lo, float hi, float snap)
{
    NodeFloatRow(Node, R, Row++, label, *v, lo, hi, snap);
}

void FNodePanel::Int(const char* label, s32* v, s32 lo, s32 hi)
{
    NodeIntRow(Node, R, Row++, label, *v, lo, hi);
}

void FNodePanel::Check(const char* label, s32* v)
{
    NodeCheckRow(Node, R, Row++, label, *v);
}

void FNodePanel::Toggles(const char* left, s32* l, const char* right, s32* rv)
{
    NodeTogglePair(Node, R, Row++, left, *l, right, *rv);
}

void FNodePanel::Enum(const char* label, s32* v, const char* const* texts, s32 count)
{
    NodeEnumButton(Node, R, Label(label), *v, texts, (u32)count);
    ++Row;
}

mRect FNodePanel::Label(const char* label)
{
    Node.GuiLabel(label, NODE_LABEL_COLOR, 0, NodeRowLabel(R, Row));
    return NodeRowField(R, Row);
}

float FNodePanel::Finish()
{
    return NodeFinishPanel(Node, R, NODE_PANEL_ROW_HEIGHT * (float)Row);
}

// ---------------------------------------------------------------------------------------------
// Family menus

STNFamilyMenu::STNFamilyMenu(STexProcessor* owner, const SNodeMenuItem* items, u32 count) : Owner(owner)
{
    for (u32 i = 0; i < count; ++i)
    {
        TString text = items[i].Text;
        Options.Add(text);
        if (IsSectionTitle(text))
            continue;
        const bool disabled = gStrStr(text.Str(), NODE_MENU_DISABLED_PREFIX) == text.Str();
        Classes.Add(disabled ? nullptr : items[i].ClassName);
    }
    UpdateLayout();
}

const char* STNFamilyMenu::ClassAt(int index) const
{
    if (index < 0 || (u32)index >= Classes.Count())
        return nullptr;
    return Classes[(u32)index];
}

void STNFamilyMenu::OnSelect(int index)
{
    const char* cls = ClassAt(index);
    if (cls && Owner)
        Owner->CreateNode(cls);
}
