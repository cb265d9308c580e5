// Curve evaluation and applying curves to nodes.
#include "TexAnimCurve.h"

#include <math.h>

#include "TexProcessor.h"

namespace
{
const char* const COMPONENT_SUFFIXES[4] = {"[x]", "[y]", "[z]", "[w]"};
const u32 SUFFIX_LENGTH = 3;
const double INT_MIN_D = -2147483648.0, INT_MAX_D = 2147483647.0;

bool IsActive(const SAnimCurve& c, u32 i)
{
    // A point without a flag counts as active, as every point read from a document is.
    return i >= c.Active.Count() || c.Active[i] != 0;
}

float Clamp01(float v)
{
    if (!(v >= 0.0f))
        return 0.0f; // below 0, or not a number
    return v > 1.0f ? 1.0f : v;
}

float ClampTo(float v, float lo, float hi)
{
    // A range that is not one (min above max) bounds nothing.
    if (!(lo <= hi))
        return v;
    return v < lo ? lo : (v > hi ? hi : v);
}

// The active point before `before` (-1 when none).
int ActiveBefore(const SAnimCurve& c, int before)
{
    for (int i = before - 1; i >= 0; --i)
        if (IsActive(c, (u32)i))
            return i;
    return -1;
}

int ActiveAfter(const SAnimCurve& c, int after)
{
    for (u32 i = (u32)(after + 1); i < c.Points.Count(); ++i)
        if (IsActive(c, i))
            return (int)i;
    return -1;
}

// The float of component c of a multi-component value record; null beyond its components.
float* ComponentSlot(SPropValue& v, u32 type, u32 c)
{
    switch (type)
    {
    case EVT_Vec2: return c < 2 ? &v.Vec2.x + c : nullptr;
    case EVT_Vec3:
    case EVT_ColHSV: return c < 3 ? &v.Vec3.x + c : nullptr;
    case EVT_Polar: return c < 3 ? &v.Polar.x + c : nullptr;
    case EVT_Vec4: return c < 4 ? &v.Vec4.x + c : nullptr;
    case EVT_ColRGBA: return c < 4 ? &v.ColRGBA.x + c : nullptr;
    default: return nullptr;
    }
}

bool IsStructural(u32 type)
{
    return type == EVT_Null || type == EVT_Inherit || type == EVT_InheritInst;
}
} // namespace

float EvaluateAnimCurve(const SAnimCurve& c, float t)
{
    const u32 n = c.Points.Count();
    int k1 = -1;
    for (u32 i = 0; i < n && k1 < 0; ++i)
        if (IsActive(c, i) && c.Points[i].x > t)
            k1 = (int)i;
    const int k0 = ActiveBefore(c, k1 < 0 ? (int)n : k1);
    if (k0 < 0 && k1 < 0)
        return 0.0f;
    if (k1 < 0)
        return Clamp01(c.Points[(u32)k0].y);
    if (k0 < 0)
        return Clamp01(c.Points[(u32)k1].y);
    const mVec2 p0 = c.Points[(u32)k0], p1 = c.Points[(u32)k1];
    const int kp = ActiveBefore(c, k0), kn = ActiveAfter(c, k1);
    const float dt = p1.x - p0.x;
    // A neighbour shapes the slope only across a span of time; out of order it would divide by 0.
    const bool hasPrev = kp >= 0 && p1.x - c.Points[(u32)kp].x > 0.0f;
    const bool hasNext = kn >= 0 && c.Points[(u32)kn].x - p0.x > 0.0f;
    float c0 = 0.0f, c1 = 0.0f;
    if (hasPrev)
    {
        const mVec2 pp = c.Points[(u32)kp];
        c0 = p0.y + (p1.y - pp.y) / (p1.x - pp.x) * dt / 3.0f;
    }
    if (hasNext)
    {
        const mVec2 pn = c.Points[(u32)kn];
        c1 = p1.y - (pn.y - p0.y) / (pn.x - p0.x) * dt / 3.0f;
    }
    if (hasPrev && !hasNext)
        c1 = p1.y + (c0 - p1.y) * 0.5f;
    else if (!hasPrev && hasNext)
        c0 = p0.y + (c1 - p0.y) * 0.5f;
    else if (!hasPrev && !hasNext)
    {
        c0 = p0.y + (p1.y - p0.y) / 3.0f;
        c1 = p0.y + 2.0f * (p1.y - p0.y) / 3.0f;
    }
    const float u = (t - p0.x) / dt;
    const float w = 1.0f - u;
    return Clamp01(p0.y * w * w * w + 3.0f * c0 * w * w * u + 3.0f * c1 * w * u * u + p1.y * u * u * u);
}

bool SetAnimChannelValue(TArray<SPropDesc>& list, const SPropDesc& channel, float v)
{
    if (v != v)
        v = 0.0f;
    SPropDesc* e = FindPropDesc(list, channel.Name.Str());
    u32 component = 0;
    if (!e || IsStructural(e->Type))
    {
        // A component channel is named after its property with the component's suffix.
        e = nullptr;
        const u32 len = channel.Name.Length();
        for (u32 c = 0; c < 4 && !e && len > SUFFIX_LENGTH; ++c)
            if (gStrEqual(channel.Name.Str() + len - SUFFIX_LENGTH, COMPONENT_SUFFIXES[c]))
            {
                e = FindPropDesc(list, TString(channel.Name.Str(), len - SUFFIX_LENGTH).Str());
                component = c;
            }
        if (!e || IsStructural(e->Type))
            return false;
    }
    switch (e->Type)
    {
    case EVT_Int:
    {
        const bool ranged = e->Min.Int <= e->Max.Int;
        const double lo = ranged ? e->Min.Int : INT_MIN_D, hi = ranged ? e->Max.Int : INT_MAX_D;
        const double d = v < lo ? lo : (v > hi ? hi : (double)v);
        e->Default.Int = (s32)nearbyint(d); // the default rounding mode: ties to even
        return true;
    }
    case EVT_Float:
        e->Default.Float = ClampTo(v, e->Min.Float, e->Max.Float);
        return true;
    default:
    {
        float* slot = ComponentSlot(e->Default, e->Type, component);
        if (!slot)
            return false;
        *slot = ClampTo(v, *ComponentSlot(e->Min, e->Type, component), *ComponentSlot(e->Max, e->Type, component));
        return true;
    }
    }
}

STexProcNode* ApplyAnimation(STexProcessor* processor, STexProcNode* node, float t)
{
    if (BREAK_IF(!processor || !node))
        return node;
    TArray<SPropDesc> list;
    TArray<SCapturedLink> links;
    processor->CaptureNode(node, list, links);
    if (list.IsEmpty())
        return node;
    for (const SAnimCurve& c : node->Curves)
    {
        SPropDesc channel;
        if (c.Channel < 0 || !node->GetAnimChannel(channel, (u32)c.Channel))
            continue;
        SetAnimChannelValue(list, channel, c.Min + (c.Max - c.Min) * EvaluateAnimCurve(c, t));
    }
    STexProcNode* made = processor->RecreateNode(node, list, links);
    return made ? made : node;
}

void STexProcessor::AnimateAt(STexProcNode* node, float t)
{
    if (BREAK_IF(!node))
        return;
    AddInputsToUpdateList(node);
    SortUpdateList();
    TArray<STexProcNode*> copy = UpdateList;
    for (u32 i = 0; i < copy.Count(); ++i)
        // The caller is running (a panel or its processing): re-creating it would delete it.
        if (copy[i] != node)
            copy[i] = ApplyAnimation(this, copy[i], t);
    UpdateList = copy;
}
