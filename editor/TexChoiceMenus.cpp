// The small menus of one node: the choice menu of an enumerated parameter, the list of animation
// channels a curve can be added for, and the menu of one curve.
#include "TexProcessor.h"

#include "GameInput.h"

namespace
{
// The curve menu appears this far up and left of the mouse.
const float CURVE_MENU_OFFSET = 20.0f;

// Where a menu opened at the mouse starts, in its parent's offsets.
void AtMouse(SPopupMenu& menu, STexProcessor* processor, float offset)
{
    const float ox = processor ? processor->Rect.x0 : 0.0f;
    const float oy = processor ? processor->Rect.y0 : 0.0f;
    menu.OffsetLeft = GMousePos.x - offset - ox;
    menu.OffsetTop = GMousePos.y - offset - oy;
}
} // namespace

STexProcessor::EnumMenu::EnumMenu(s32* target, STexProcNode* node) : SNodeBoundMenu(node), Target(target)
{
    // The index reported is the item's place in the value list: section titles stay unchosen.
    RawIndex = 1;
}

void STexProcessor::EnumMenu::OnSelect(int index)
{
    if (index < 0 || (u32)index >= Options.Count() || IsSectionTitle(Options[(u32)index]) ||
        IsDisabled(Options[(u32)index]))
        return;
    if (Target)
        *Target = index;
    if (Node && Node->Owner)
        Node->Owner->AddToUpdateList(Node);
}

void OpenEnumMenu(STexProcessor* processor, STexProcNode* node, s32* value, const char* const* strings, u32 count,
                  const mRect& field)
{
    if (BREAK_IF(!processor))
        return;
    STexProcessor::EnumMenu* menu = new STexProcessor::EnumMenu(value, node);
    for (u32 i = 0; i < count; ++i)
        menu->Options.Add(TString(strings[i] ? strings[i] : ""));
    mVec2 under(field.x0, field.y1);
    if (node)
        node->TransformPoint(under, mVec2(field.x0, field.y1));
    menu->OffsetLeft = under.x - processor->Rect.x0;
    menu->OffsetTop = under.y - processor->Rect.y0;
    processor->OpenNodeSlotMenu(menu);
}

// ---------------------------------------------------------------------------------------------

static bool IsAnimatable(STexProcNode* node, u32 channel, SPropDesc& d)
{
    return node->GetAnimChannel(d, channel) && !(d.Type >= EVT_String && d.Type <= EVT_Mesh);
}

bool STexProcessor::AnimMenu::HasChannels(STexProcNode* node)
{
    SPropDesc d;
    const u32 n = node ? node->GetAnimChannelCount() : 0;
    for (u32 i = 0; i < n; ++i)
        if (IsAnimatable(node, i, d))
            return true;
    return false;
}

STexProcessor::AnimMenu::AnimMenu(STexProcNode* node, STexProcessor* processor)
    : SNodeBoundMenu(node), Processor(processor)
{
    const u32 n = node->GetAnimChannelCount();
    for (u32 i = 0; i < n; ++i)
    {
        SPropDesc d;
        if (!IsAnimatable(node, i, d))
            continue;
        Options.Add(d.Name);
        Channels.Add(i);
    }
    AtMouse(*this, processor, 0.0f);
}

void STexProcessor::AnimMenu::OnSelect(int index)
{
    if (!Node || index < 0 || (u32)index >= Channels.Count())
        return;
    const s32 channel = (s32)Channels[(u32)index];
    for (const SAnimCurve& c : Node->Curves)
        if (c.Channel == channel)
            return;
    SAnimCurve c;
    c.Channel = channel;
    c.Reset();
    c.Points[1].y = 0.0f;
    Node->Curves.Add(c);
    if (Processor)
        Processor->AddToUpdateList(Node);
}

STPNAnimMenu::STPNAnimMenu(STexProcNode* node, u32 curve) : SNodeBoundMenu(node), Curve(curve)
{
    Options.Add(TString("--Anim. curve menu"));
    const bool expanded = curve < node->Curves.Count() && node->Curves[curve].Expanded;
    Options.Add(TString(expanded ? "Collapse" : "Expand"));
    Options.Add(TString("Delete"));
    AtMouse(*this, node->Owner, CURVE_MENU_OFFSET);
}

void STPNAnimMenu::OnSelect(int index)
{
    if (!Node || Curve >= Node->Curves.Count())
        return;
    if (index == 0)
        Node->Curves[Curve].Expanded = Node->Curves[Curve].Expanded ? 0 : 1;
    else if (index == 1)
    {
        Node->Curves.Remove(Curve);
        if (Node->Owner)
            Node->Owner->AddToUpdateList(Node);
    }
}
