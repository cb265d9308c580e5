// The node base: property table, construction from a property list and storing back, the
// animation-curve text, the animation channels, the output texture and the input bindings.
#include "TexProcNode.h"

#include <GL/glew.h>

#include "GameParse.h"
#include "GameShader.h"
#include "GameVertex.h"
#include "TexProcessor.h"

const char* const NODE_UI_IMAGES[3] = {"Data/UI/Caption.png", "Data/UI/Pin.png", "Data/UI/PinShade.png"};
const char* const NODE_OPTIONAL_PIN_PREFIX = "[opt] ";
const char* const NODE_UNNAMED = "<unnamed>";
const char* const GNodeStatusTexts[NS_Count] = {"Image is not loaded", "No input found", "Null texture found"};

const TString& STexProcNode::SourceFailure() const
{
    static const TString none;
    return none;
}

namespace
{
const float BIG = 3.4028235e38f;
// Room for a status text with its numbers.
const u32 STATUS_TEXT_SIZE = 256;
// Each line of the "AnimData" text is formatted into a buffer of this size.
const u32 ANIM_LINE_SIZE = 64;
const char* const CHANNEL_SUFFIXES[4] = {"[x]", "[y]", "[z]", "[w]"};

// Base list entries after the nested CEntity list.
enum
{
    BASE_CEntity = 0,
    BASE_Pos0,
    BASE_Pos1,
    BASE_FmtOverride,
    BASE_NName,
    BASE_AnimData,
    BASE_Count,
};

// The nested CEntity list of a base list; a short default list when the entry is not one.
TArray<SPropDesc>& EntityList(TArray<SPropDesc>* base)
{
    static TArray<SPropDesc> fallback;
    if (fallback.IsEmpty())
        InstantiatePropTable(fallback, CEntity::PropTable());
    if (!base)
        return fallback;
    const u32 count = base->Count();
    const u32 at = BASE_CEntity;
    if (BREAK_IF_TEXT(at >= count, "at >= count"))
        return fallback;
    SPropDesc& e = (*base)[at];
    if (BREAK_IF_TEXT(e.Type != EVT_InheritInst, "Type != EVT_InheritInst"))
        return fallback;
    return e.Default.Children;
}

// Entry `at` of the list when it exists and has the type; the documented assertions otherwise.
SPropDesc* Entry(TArray<SPropDesc>* list, u32 at, u32 type)
{
    if (!list)
        return nullptr;
    const u32 count = list->Count();
    if (BREAK_IF_TEXT(at >= count, "at >= count"))
        return nullptr;
    SPropDesc& e = (*list)[at];
    const bool isString = type >= EVT_String && type <= EVT_Mesh;
    const bool ok = isString ? e.Type >= EVT_String && e.Type <= EVT_Mesh : e.Type == type;
    const char* text = isString ? "Type < EVT_String || Type > EVT_Mesh"
                                : (type == EVT_Vec2 ? "Type != EVT_Vec2" : "Type != EVT_Int");
    if (BREAK_IF_TEXT(!ok, text))
        return nullptr;
    return &e;
}

u32 ChannelsOf(u32 type)
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

// Component c of a multi-component value record of the given type.
float Component(const SPropValue& v, u32 type, u32 c)
{
    switch (type)
    {
    case EVT_Vec2: return c == 0 ? v.Vec2.x : v.Vec2.y;
    case EVT_Vec3:
    case EVT_ColHSV: return (&v.Vec3.x)[c];
    case EVT_Polar: return (&v.Polar.x)[c];
    case EVT_Vec4: return (&v.Vec4.x)[c];
    case EVT_ColRGBA: return (&v.ColRGBA.x)[c];
    default: return 0.0f;
    }
}

bool StartsWithWord(const char* line, const char* word, const char*& rest)
{
    const u32 n = (u32)gStrLen(word);
    for (u32 i = 0; i < n; ++i)
        if (line[i] != word[i])
            return false;
    if (line[n] != ' ' && line[n] != '\t')
        return false;
    rest = line + n;
    return true;
}
} // namespace

// ---------------------------------------------------------------------------------------------

NodePin::NodePin(const char* name, STexProcNode* owner, u32 index) : Name(name ? name : ""), Owner(owner), Index(index)
{
}

bool NodePin::IsOptional() const
{
    const u32 n = (u32)gStrLen(NODE_OPTIONAL_PIN_PREFIX);
    return Name.Length() >= n && gStrEqual(TString(Name.Str(), n).Str(), NODE_OPTIONAL_PIN_PREFIX);
}

SAnimCurve::SAnimCurve() : Channel(-1), Expanded(1), Min(0.0f), Max(1.0f), Selected(-1)
{
}

void SAnimCurve::Reset()
{
    Points.Clear();
    Active.Clear();
    Points.Add(mVec2(0.0f, 0.0f));
    Points.Add(mVec2(1.0f, 1.0f));
    Active.Add(1);
    Active.Add(1);
}

void AnimCurvesToText(const TArray<SAnimCurve>& curves, TString& out)
{
    out = "";
    TString line;
    for (const SAnimCurve& c : curves)
    {
        line.Format(ANIM_LINE_SIZE, "ANIM %g %g %d\n", (double)c.Min, (double)c.Max, (int)c.Channel);
        out += line;
        for (const mVec2& p : c.Points)
        {
            line.Format(ANIM_LINE_SIZE, "POINT %g;%g\n", (double)p.x, (double)p.y);
            out += line;
        }
        out += "\n";
    }
}

void AnimCurvesFromText(const char* text, TArray<SAnimCurve>& out)
{
    out.Clear();
    if (!text)
        return;
    for (const char* p = text; *p;)
    {
        const char* end = p;
        while (*end && *end != '\n')
            ++end;
        TString line(p, (u32)(end - p));
        p = *end ? end + 1 : end;
        const char* rest = nullptr;
        if (StartsWithWord(line.Str(), "ANIM", rest))
        {
            SAnimCurve c;
            c.Expanded = 1;
            c.Selected = -1;
            // min, max and channel, separated by blanks
            TString words[3];
            u32 n = 0;
            for (const char* q = rest; *q && n < 3;)
            {
                while (*q == ' ' || *q == '\t' || *q == '\r')
                    ++q;
                const char* w = q;
                while (*q && *q != ' ' && *q != '\t' && *q != '\r')
                    ++q;
                if (q > w)
                    words[n++].Assign(w, (u32)(q - w));
            }
            c.Min = StrToFloat(words[0].Str());
            c.Max = StrToFloat(words[1].Str());
            c.Channel = StrToInt(words[2].Str());
            out.Add(c);
        }
        else if (StartsWithWord(line.Str(), "POINT", rest) && !out.IsEmpty())
        {
            while (*rest == ' ' || *rest == '\t')
                ++rest;
            const char* semi = rest;
            while (*semi && *semi != ';')
                ++semi;
            const float t = StrToFloat(TString(rest, (u32)(semi - rest)).Str());
            const float v = *semi ? StrToFloat(semi + 1) : 0.0f;
            out.Last().Points.Add(mVec2(t, v));
            out.Last().Active.Add(1);
        }
    }
}

void NodePreviewGrid(u32 outputs, u32& columns, u32& shown)
{
    const u32 TWO_BY_TWO_BELOW = 5, THREE_BY_THREE_BELOW = 10;
    if (outputs < 2)
    {
        columns = 1;
        shown = outputs;
        return;
    }
    columns = outputs < TWO_BY_TWO_BELOW ? 2 : (outputs < THREE_BY_THREE_BELOW ? 3 : 1);
    shown = outputs < columns * columns ? outputs : columns * columns;
}

u32 NodeOutputFormat(s32 formatOverride, u32 classFormat)
{
    switch (formatOverride)
    {
    case TEXFMT_RGBA8:
    case TEXFMT_RGBA16F:
    case TEXFMT_RGBA32F: return (u32)formatOverride;
    default: return classFormat;
    }
}

TArray<SPropDesc>* NodeBaseList(TArray<SPropDesc>& list)
{
    const u32 count = list.Count();
    const u32 at = 0;
    if (BREAK_IF_TEXT(at >= count, "at >= count"))
        return nullptr;
    SPropDesc& e = list[0];
    if (BREAK_IF_TEXT(e.Type != EVT_InheritInst, "Type != EVT_InheritInst"))
        return nullptr;
    // A class list nests the base list in its entry 0; the base list nests CEntity's.
    if (gStrEqual(e.Name.Str(), "STexProcNode"))
        return NodeBaseList(e.Default.Children);
    return &list;
}

// ---------------------------------------------------------------------------------------------

const SPropDesc* STexProcNode::PropTable()
{
    static const SPropDesc table[] = {
        PropInherit("CEntity", CEntity::PropTable()),
        PropVec2("pos0", mVec2(0, 0), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropVec2("pos1", mVec2(0, 0), mVec2(-BIG, -BIG), mVec2(BIG, BIG)),
        PropInt("FmtOverride", 0, (s32)0x80000000, 0x7FFFFFFF),
        PropString(EVT_String, "NName", NODE_UNNAMED),
        PropString(EVT_String, "AnimData", ""),
        PropNull(),
    };
    return table;
}

STexProcNode::STexProcNode(TArray<SPropDesc>& list)
    : CEntity(EntityList(NodeBaseList(list))), Dragging(0), DragAwaitsPress(0), Owner(nullptr), PreviewShown(1),
      NName(NODE_UNNAMED), FmtOverride(0), UITexturesTried(0), LaidOut(0), GrabOffset(0, 0), VisitMark(0),
      RunMark(0), PendingReaders(~0u)
{
    AnchorLeft = AnchorTop = AnchorRight = AnchorBottom = 0;
    TArray<SPropDesc>* base = NodeBaseList(list);
    mVec2 p0(0, 0), p1(0, 0);
    if (SPropDesc* e = Entry(base, BASE_Pos0, EVT_Vec2))
        p0 = e->Default.Vec2;
    if (SPropDesc* e = Entry(base, BASE_Pos1, EVT_Vec2))
        p1 = e->Default.Vec2;
    if (SPropDesc* e = Entry(base, BASE_FmtOverride, EVT_Int))
        FmtOverride = e->Default.Int;
    if (SPropDesc* e = Entry(base, BASE_NName, EVT_String))
        NName = e->Default.String;
    OffsetLeft = p0.x;
    OffsetTop = p0.y;
    OffsetRight = p1.x;
    OffsetBottom = p1.y;
    SetPosition(p0.x, p0.y);
    if (SPropDesc* e = Entry(base, BASE_AnimData, EVT_String))
        AnimCurvesFromText(e->Default.String.Str(), Curves);
}

STexProcNode::~STexProcNode()
{
    for (u32 i = 0; i < InParams.Count(); ++i)
        delete InParams[i];
    for (u32 i = 0; i < OutParams.Count(); ++i)
        delete OutParams[i];
}

void STexProcNode::Reserved1(u32)
{
}

void STexProcNode::StoreParams(TArray<SPropDesc>& list)
{
    TArray<SPropDesc>* base = NodeBaseList(list);
    if (!base)
        return;
    CEntity::StoreParams(EntityList(base));
    if (SPropDesc* e = Entry(base, BASE_Pos0, EVT_Vec2))
        e->Default.Vec2 = Pos0();
    if (SPropDesc* e = Entry(base, BASE_Pos1, EVT_Vec2))
        e->Default.Vec2 = Pos1();
    if (SPropDesc* e = Entry(base, BASE_FmtOverride, EVT_Int))
        e->Default.Int = FmtOverride;
    if (SPropDesc* e = Entry(base, BASE_NName, EVT_String))
        e->Default.String = NName;
    if (SPropDesc* e = Entry(base, BASE_AnimData, EVT_String))
        AnimCurvesToText(Curves, e->Default.String);
}

const SPropDesc* STexProcNode::ClassProps() const
{
    return ClassInfo ? ClassInfo->Props : nullptr;
}

u32 STexProcNode::GetAnimChannelCount()
{
    u32 n = 0;
    if (const SPropDesc* p = ClassProps())
        for (; p->Type != EVT_Null; ++p)
            n += ChannelsOf(p->Type);
    return n;
}

bool STexProcNode::GetAnimChannel(SPropDesc& out, u32 index)
{
    const SPropDesc* p = ClassProps();
    for (u32 first = 0; p && p->Type != EVT_Null; ++p)
    {
        const u32 n = ChannelsOf(p->Type);
        if (index >= first + n)
        {
            first += n;
            continue;
        }
        if (p->Type == EVT_Int || p->Type == EVT_Float)
        {
            out = *p;
            return true;
        }
        const u32 c = index - first;
        out = SPropDesc(EVT_Float, (p->Name + CHANNEL_SUFFIXES[c]).Str());
        out.Default.Float = Component(p->Default, p->Type, c);
        out.Min.Float = Component(p->Min, p->Type, c);
        out.Max.Float = Component(p->Max, p->Type, c);
        return true;
    }
    return false;
}

void STexProcNode::SetPosition(float x, float y)
{
    const float height = OffsetBottom - OffsetTop;
    OffsetLeft = x;
    OffsetTop = y;
    OffsetRight = x + NODE_WIDTH;
    OffsetBottom = y + height;
    UpdateRect();
}

u32 STexProcNode::PinRows() const
{
    return InParams.Count() > OutParams.Count() ? InParams.Count() : OutParams.Count();
}

bool STexProcNode::PinCanvasPos(const NodePin* pin, mVec2& out) const
{
    const float firstRow = Rect.y1 - NODE_PIN_ROW_HEIGHT * (float)PinRows() + NODE_PIN_HALF;
    for (u32 i = 0; i < InParams.Count(); ++i)
        if (InParams[i] == pin)
        {
            out = mVec2(Rect.x0 + NODE_PIN_HALF, firstRow + NODE_PIN_ROW_HEIGHT * (float)i);
            return true;
        }
    for (u32 i = 0; i < OutParams.Count(); ++i)
        if (OutParams[i] == pin)
        {
            out = mVec2(Rect.x1 - NODE_PIN_HALF, firstRow + NODE_PIN_ROW_HEIGHT * (float)i);
            return true;
        }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Output and inputs

TextureRef STexProcNode::GetOutput(u32 index)
{
    if (BREAK_IF_TEXT(index >= NODE_MAX_OUTPUTS, "output >= 8"))
        return TextureRef();
    return Output;
}

int STexProcNode::CreateOutputTarget(u32 width, u32 height, u32 format)
{
    const u32 fmt = NodeOutputFormat(FmtOverride, format);
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (width < 1 || height < 1 || (s64)width > (s64)maxSize || (s64)height > (s64)maxSize)
    {
        Status.Format(STATUS_TEXT_SIZE, "CreateOutputTarget: size %ux%u is outside 1..%d", width, height, (int)maxSize);
        Output.Release();
        return 0;
    }
    // The texture of the last run is kept when it already has the size and format asked for.
    STexture* t = Output.Get();
    if (t && t->GLName && t->Width == width && t->Height == height && t->Depth == 1 && t->Format == fmt)
        return 1;
    if (Owner && Owner->TakeSpareTarget(Output, width, height, fmt, NODE_OUTPUT_TEX_FLAGS))
        return 1;
    const u64 refusals = TEX_BudgetRefusals();
    if (!TEX_Create(Output, width, height, 1, 1, fmt, nullptr, NODE_OUTPUT_TEX_FLAGS) || !Output->GLName)
    {
        Status.Format(STATUS_TEXT_SIZE, "CreateOutputTarget: texture of %ux%u in format %u was refused", width, height,
                      fmt);
        if (TEX_BudgetRefusals() != refusals)
        {
            Status += ": ";
            Status += TEX_RefusalReason();
        }
        Output.Release();
        return 0;
    }
    return 1;
}

void STexProcNode::ReleaseOutputs(STexProcessor& run)
{
    run.OfferSpareTarget(Output);
}

TextureRef STexProcNode::InputTexture(u32 input)
{
    if (input >= InParams.Count() || InParams[input]->Links.IsEmpty())
        return TextureRef();
    NodePin* src = InParams[input]->Links[0];
    return src->Owner ? src->Owner->GetOutput(src->Index) : TextureRef();
}

void STexProcNode::BindInputTextures(const char* shader, const TArray<TString>& defines)
{
    SShader* sp = GetShader(shader, defines);
    UseShader(0, sp);
    int units[NODE_INPUT_UNITS];
    for (u32 i = 0; i < NODE_INPUT_UNITS; ++i)
        units[i] = (int)i;
    if (sp)
        SetUniformIntArray(sp, "InputTexture", units, (int)NODE_INPUT_UNITS);
    for (u32 i = 0; i < InParams.Count() && i < NODE_INPUT_UNITS; ++i)
    {
        TextureRef tex = InputTexture(i);
        if (!tex.IsNull() && tex->GLName)
            TEX_Bind(i, tex);
        else
            TEX_UnbindTarget(i, GL_TEXTURE_2D);
    }
}

int STexProcNode::BeginOutputPass(FrameBufferRef& fb, bool clear)
{
    if (Output.IsNull() || !Output->GLName)
    {
        SetStatus(NS_NullTexture);
        return 0;
    }
    fb = FrameBufferRef(new SFrameBuffer);
    fb->AttachTexture(0, Output, FBA_Color);
    TString failure;
    if (!FB_Complete(*fb, &failure))
    {
        Status.Format(STATUS_TEXT_SIZE, "CheckFrameBuffer: %s", failure.Str());
        fb.Release();
        return 0;
    }
    PushFrameBuffer(fb);
    if (!clear)
        return 1;
    GLfloat saved[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, saved);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(saved[0], saved[1], saved[2], saved[3]);
    return 1;
}

void STexProcNode::EndOutputPass(FrameBufferRef& fb)
{
    if (fb.IsNull())
        return;
    PopFrameBuffer(fb);
    fb.Release();
}
