#include "GameParams.h"
#include "GameFileIO.h"
#include "GameParse.h"
#include "GArchive.h"

#include <float.h>

// ---------------------------------------------------------------------------------------------
// Value records

SPropValue::SPropValue()
    : Int(0), Float(0.0f), Vec2(0.0f, 0.0f), Vec3(0.0f, 0.0f, 0.0f), Vec4(0.0f, 0.0f, 0.0f, 0.0f),
      Polar(0.0f, 0.0f, 0.0f), ColRGBA(0.0f, 0.0f, 0.0f, 0.0f), inhptr(nullptr)
{
}

SPropValue::SPropValue(const SPropValue& other)
    : Int(other.Int), Float(other.Float), Vec2(other.Vec2), Vec3(other.Vec3), Vec4(other.Vec4),
      Polar(other.Polar), ColRGBA(other.ColRGBA), String(other.String), inhptr(other.inhptr),
      Children(other.Children)
{
}

SPropValue& SPropValue::operator=(const SPropValue& other)
{
    if (this == &other)
        return *this;
    Int = other.Int;
    Float = other.Float;
    Vec2 = other.Vec2;
    Vec3 = other.Vec3;
    Vec4 = other.Vec4;
    Polar = other.Polar;
    ColRGBA = other.ColRGBA;
    String = other.String;
    inhptr = other.inhptr;
    Children = other.Children;
    return *this;
}

SPropValue::~SPropValue()
{
}

SPropDesc::SPropDesc() : Type(EVT_Null)
{
}

SPropDesc::SPropDesc(u32 type, const char* name) : Type(type), Name(name)
{
}

TArray<SPropDesc>& SPropDesc::AsInheritInst()
{
    BREAK_IF(Type != EVT_InheritInst);
    return Default.Children;
}
s32& SPropDesc::AsInt()
{
    BREAK_IF(Type != EVT_Int);
    return Default.Int;
}
s32& SPropDesc::AsID()
{
    BREAK_IF(Type != EVT_ID);
    return Default.Int;
}
float& SPropDesc::AsFloat()
{
    BREAK_IF(Type != EVT_Float);
    return Default.Float;
}
mVec2& SPropDesc::AsVec2()
{
    BREAK_IF(Type != EVT_Vec2);
    return Default.Vec2;
}
mVec3& SPropDesc::AsVec3()
{
    BREAK_IF(Type != EVT_Vec3);
    return Default.Vec3;
}
mVec4& SPropDesc::AsVec4()
{
    BREAK_IF(Type != EVT_Vec4);
    return Default.Vec4;
}
mVec3& SPropDesc::AsPolar()
{
    BREAK_IF(Type != EVT_Polar);
    return Default.Polar;
}
mVec4& SPropDesc::AsColRGBA()
{
    BREAK_IF(Type != EVT_ColRGBA);
    return Default.ColRGBA;
}
mVec3& SPropDesc::AsColHSV()
{
    BREAK_IF(Type != EVT_ColHSV);
    return Default.Vec3;
}
mVec3& SPropDesc::AsPos()
{
    BREAK_IF(Type != EVT_Pos);
    return Default.Vec3;
}
TString& SPropDesc::AsString()
{
    BREAK_IF(Type < EVT_String || Type > EVT_Mesh);
    return Default.String;
}

// ---------------------------------------------------------------------------------------------
// Table builders

SPropDesc PropInherit(const char* baseName, const SPropDesc* baseTable)
{
    SPropDesc d(EVT_Inherit, baseName);
    d.Default.inhptr = baseTable;
    return d;
}

SPropDesc PropInt(const char* name, s32 def, s32 min, s32 max)
{
    SPropDesc d(EVT_Int, name);
    d.Default.Int = def;
    d.Min.Int = min;
    d.Max.Int = max;
    return d;
}

SPropDesc PropID(const char* name, s32 def)
{
    SPropDesc d(EVT_ID, name);
    d.Default.Int = def;
    d.Min.Int = def;
    d.Max.Int = def;
    return d;
}

SPropDesc PropFloat(const char* name, float def, float min, float max)
{
    SPropDesc d(EVT_Float, name);
    d.Default.Float = def;
    d.Min.Float = min;
    d.Max.Float = max;
    return d;
}

SPropDesc PropVec2(const char* name, const mVec2& def, const mVec2& min, const mVec2& max)
{
    SPropDesc d(EVT_Vec2, name);
    d.Default.Vec2 = def;
    d.Min.Vec2 = min;
    d.Max.Vec2 = max;
    return d;
}

// The three-float kinds keep their value in Vec3, except EVT_Polar.
static mVec3& Vec3Slot(SPropValue& v, u32 type)
{
    return type == EVT_Polar ? v.Polar : v.Vec3;
}

static mVec4& Vec4Slot(SPropValue& v, u32 type)
{
    return type == EVT_ColRGBA ? v.ColRGBA : v.Vec4;
}

SPropDesc PropVec3(u32 type, const char* name, const mVec3& def, const mVec3& min, const mVec3& max)
{
    SPropDesc d(type, name);
    Vec3Slot(d.Default, type) = def;
    Vec3Slot(d.Min, type) = min;
    Vec3Slot(d.Max, type) = max;
    return d;
}

SPropDesc PropVec4(u32 type, const char* name, const mVec4& def, const mVec4& min, const mVec4& max)
{
    SPropDesc d(type, name);
    Vec4Slot(d.Default, type) = def;
    Vec4Slot(d.Min, type) = min;
    Vec4Slot(d.Max, type) = max;
    return d;
}

SPropDesc PropString(u32 type, const char* name, const char* def)
{
    SPropDesc d(type, name);
    d.Default.String = def;
    d.Min.String = def;
    d.Max.String = def;
    return d;
}

SPropDesc PropNull()
{
    return SPropDesc();
}

// ---------------------------------------------------------------------------------------------
// Text forms

// Only finite numbers are written: an infinity or NaN would come back as something else. Beyond
// the range stands the largest finite float of the sign, as the reader makes of such texts.
static double FiniteForText(float f)
{
    if (f != f)
        return 0.0;
    if (f > FLT_MAX)
        return (double)FLT_MAX;
    if (f < -FLT_MAX)
        return -(double)FLT_MAX;
    return (double)f;
}

void ParamToText(const SPropDesc& entry, TString& out)
{
    const SPropValue& v = entry.Default;
    const u32 Type = entry.Type;
    TString text;
    switch (Type)
    {
    case EVT_Null:
    case EVT_Inherit:
    case EVT_InheritInst:
        FATAL_CHECK(Type != EVT_Null && Type != EVT_Inherit && Type != EVT_InheritInst);
        break;
    case EVT_Int:
    case EVT_ID:
        text.Format(16, "%d", v.Int);
        break;
    case EVT_Float:
        text.Format(32, "%g", FiniteForText(v.Float));
        break;
    case EVT_Vec2:
        text.Format(64, "%g;%g", FiniteForText(v.Vec2.x), FiniteForText(v.Vec2.y));
        break;
    case EVT_Vec3:
    case EVT_Vec3A:
    case EVT_ColHSV:
    case EVT_Pos:
    case EVT_Vec3B:
    case EVT_Vec3C:
        text.Format(96, "%g;%g;%g", FiniteForText(v.Vec3.x), FiniteForText(v.Vec3.y),
                    FiniteForText(v.Vec3.z));
        break;
    case EVT_Polar:
        text.Format(96, "%g;%g;%g", FiniteForText(v.Polar.x), FiniteForText(v.Polar.y),
                    FiniteForText(v.Polar.z));
        break;
    case EVT_Vec4:
        text.Format(128, "%g;%g;%g;%g", FiniteForText(v.Vec4.x), FiniteForText(v.Vec4.y),
                    FiniteForText(v.Vec4.z), FiniteForText(v.Vec4.w));
        break;
    case EVT_ColRGBA:
        text.Format(128, "%g;%g;%g;%g", FiniteForText(v.ColRGBA.x), FiniteForText(v.ColRGBA.y),
                    FiniteForText(v.ColRGBA.z), FiniteForText(v.ColRGBA.w));
        break;
    case EVT_String:
    case EVT_StringA:
    case EVT_StringB:
    case EVT_Mesh:
        EscapeString(v.String, text);
        break;
    default:
        FatalError("Parameter conversion error\n");
    }
    out = QuoteString(text);
}

void ParamFromText(SPropDesc& entry, const char* text, bool raw)
{
    SPropValue& v = entry.Default;
    const u32 Type = entry.Type;
    if (BREAK_IF(Type == EVT_Null || Type == EVT_Inherit || Type == EVT_InheritInst))
        return;
    if (!text)
        text = "";
    // Vectors are read from the start of the text; a malformed text gives all components 0.
    const TString t(text);
    s32 pos = 0;
    switch (Type)
    {
    case EVT_Int:
    case EVT_ID:
        v.Int = StrToInt(text);
        break;
    case EVT_Float:
        v.Float = StrToFloat(text);
        break;
    case EVT_Vec2:
        ParseVec2(t, pos, v.Vec2);
        break;
    case EVT_Vec3:
    case EVT_Vec3A:
    case EVT_ColHSV:
    case EVT_Pos:
    case EVT_Vec3B:
    case EVT_Vec3C:
        ParseVec3(t, pos, v.Vec3);
        break;
    case EVT_Polar:
        ParseVec3(t, pos, v.Polar);
        break;
    case EVT_Vec4:
        ParseVec4(t, pos, v.Vec4);
        break;
    case EVT_ColRGBA:
        ParseVec4(t, pos, v.ColRGBA);
        break;
    case EVT_String:
    case EVT_StringA:
    case EVT_StringB:
    case EVT_Mesh:
        v.String = text;
        // Control characters come back as themselves, so that every string round-trips.
        if (!raw)
            UnescapeString(v.String, true);
        break;
    default:
        FatalError("Parameter conversion error - invalid type\n");
    }
}

static char EscapeLetter(char c)
{
    switch (c)
    {
    case 7: return 'a';
    case 8: return 'b';
    case 12: return 'f';
    case 10: return 'n';
    case 13: return 'r';
    case 9: return 't';
    case 11: return 'v';
    case '\'': return '\'';
    case '"': return '"';
    case '\\': return '\\';
    case '?': return '?';
    default: return 0;
    }
}

void EscapeString(const TString& in, TString& out)
{
    if (&in == &out)
    {
        TString copy(in);
        EscapeString(copy, out);
        return;
    }
    u32 extra = 0;
    for (u32 i = 0; i < in.Length(); ++i)
        if (EscapeLetter(in.Str()[i]))
            ++extra;
    out.SetLength(in.Length() + extra);
    char* dst = out.Buffer();
    for (u32 i = 0; i < in.Length(); ++i)
    {
        char c = in.Str()[i];
        char letter = EscapeLetter(c);
        if (letter)
        {
            *dst++ = '\\';
            *dst++ = letter;
        }
        else
            *dst++ = c;
    }
}

void UnescapeString(TString& text, bool decodeControls)
{
    char* s = text.Buffer();
    u32 n = text.Length();
    u32 w = 0;
    for (u32 r = 0; r < n; ++r)
    {
        char c = s[r];
        if (c != '\\')
        {
            s[w++] = c;
            continue;
        }
        if (r + 1 >= n)
            break; // a backslash at the very end gives nothing
        c = s[++r];
        switch (c)
        {
        case 'a': c = decodeControls ? 7 : 'a'; break;
        case 'b': c = decodeControls ? 8 : 'b'; break;
        case 'f': c = 12; break;
        case 'n': c = 10; break;
        case 'r': c = 13; break;
        case 't': c = 9; break;
        case 'v': c = 11; break;
        default: break; // any other character stands for itself
        }
        s[w++] = c;
    }
    text.SetLength(w);
}

// ---------------------------------------------------------------------------------------------
// Property tables

void InstantiatePropDesc(SPropDesc& entry)
{
    if (entry.Type != EVT_Inherit)
        return;
    SPropValue& Obj = entry.Default;
    SPropValue& v = Obj;
    const SPropDesc* base = Obj.inhptr;
    // A missing base still becomes a well-formed (empty) nested table.
    BREAK_IF(!Obj.inhptr);
    entry.Type = EVT_InheritInst;
    v.Children.Clear();
    if (base)
    {
        for (const SPropDesc* p = base; p->Type != EVT_Null; ++p)
        {
            int at = v.Children.Add(*p);
            if (at >= 0)
                InstantiatePropDesc(v.Children[(u32)at]);
        }
    }
    v.Children.Add(SPropDesc());
}

void InstantiatePropTable(TArray<SPropDesc>& out, const SPropDesc* data)
{
    if (BREAK_IF(!data))
        return;
    if (out.Count())
        out.RemoveRange(0, out.Count() - 1);
    for (const SPropDesc* p = data; p->Type != EVT_Null; ++p)
    {
        int at = out.Add(*p);
        if (at >= 0)
            InstantiatePropDesc(out[(u32)at]);
    }
    out.Add(SPropDesc());
}

const SPropDesc* FindPropDesc(const SPropDesc* table, const char* name, u32 limit)
{
    if (!table || !name)
        return nullptr;
    for (u32 i = 0; i < limit && table[i].Type != EVT_Null; ++i)
    {
        const SPropDesc& e = table[i];
        if (e.Type == EVT_Inherit)
        {
            const SPropDesc* hit = FindPropDesc(e.Default.inhptr, name, 65535);
            if (hit)
                return hit;
        }
        else if (e.Type == EVT_InheritInst)
        {
            u32 count = e.Default.Children.Count();
            u32 at = 0;
            if (!BREAK_IF(at >= count))
            {
                const SPropDesc* hit = FindPropDesc(e.Default.Children.data, name, count);
                if (hit)
                    return hit;
            }
        }
        if (gStrEqual(e.Name.Str(), name))
            return &e;
    }
    return nullptr;
}

SPropDesc* FindPropDesc(SPropDesc* table, const char* name, u32 limit)
{
    return const_cast<SPropDesc*>(FindPropDesc(static_cast<const SPropDesc*>(table), name, limit));
}

SPropDesc* FindPropDesc(TArray<SPropDesc>& table, const char* name)
{
    return FindPropDesc(table.data, name, table.Count());
}

// Appends the text of the entries before the terminator (at most limit), one blank apart.
static void AppendTableText(const SPropDesc* table, u32 limit, TString& out);

static void AppendDescText(const SPropDesc& e, TString& out)
{
    if (e.Type == EVT_Inherit)
    {
        AppendTableText(e.Default.inhptr, 65535, out);
        return;
    }
    if (e.Type == EVT_InheritInst)
    {
        AppendTableText(e.Default.Children.data, e.Default.Children.Count(), out);
        return;
    }
    TString value;
    ParamToText(e, value);
    if (out.Length())
        out += ' ';
    out += e.Name;
    out += '=';
    out += value;
}

static void AppendTableText(const SPropDesc* table, u32 limit, TString& out)
{
    if (!table)
        return;
    for (u32 i = 0; i < limit && table[i].Type != EVT_Null; ++i)
        AppendDescText(table[i], out);
}

void PropTableToText(const SPropDesc* table, TString& out)
{
    out = "";
    AppendTableText(table, 65535, out);
}

void PropTableToText(const TArray<SPropDesc>& table, TString& out)
{
    out = "";
    AppendTableText(table.data, table.Count(), out);
}

void PropDescToText(const SPropDesc& entry, TString& out)
{
    out = "";
    AppendDescText(entry, out);
}

// ---------------------------------------------------------------------------------------------
// Class registry

// Constant-initialised, so registration from any static initialiser finds it ready.
SClassInfoList GClassInfoList = {nullptr, 0};

SClassInfo::SClassInfo(const char* name, TClassCreateFunc create, const SPropDesc* props)
    : Create(create), Next(nullptr), Props(props)
{
    gMemSet(Name, 0, sizeof(Name));
    if (name)
        gStrNCpy(Name, sizeof(Name), name);
}

void RegisterClassInfo(SClassInfo* record)
{
    if (BREAK_IF(!record))
        return;
    record->Next = GClassInfoList.Head;
    GClassInfoList.Count++;
    GClassInfoList.Head = record;
}

SClassInfo* FindClassInfo(const char* name)
{
    if (!name)
        return nullptr;
    for (SClassInfo* p = GClassInfoList.Head; p; p = p->Next)
        if (gStrEqual(p->Name, name))
            return p;
    return nullptr;
}

CEntity* CreateByClassName(const char* name, TArray<SPropDesc>& table)
{
    SClassInfo* info = FindClassInfo(name);
    if (!info || !info->Create)
        return nullptr;
    return info->Create(table);
}

// ---------------------------------------------------------------------------------------------
// CEntity

const SPropDesc* CEntity::PropTable()
{
    static const float big = 3.4028235e38f;
    static const SPropDesc table[3] = {
        PropVec3(EVT_Pos, "_POS", mVec3(0.0f, 0.0f, 0.0f), mVec3(-big, -big, -big), mVec3(big, big, big)),
        PropID("_ID", -1),
        PropNull(),
    };
    return table;
}

CEntity::CEntity(TArray<SPropDesc>& table) : ClassInfo(nullptr), ID(-1), Pos(0.0f, 0.0f, 0.0f)
{
    u32 count = table.Count();
    u32 at = 1;
    if (BREAK_IF(at >= count))
        return; // too short: keep the defaults
    Pos = table[0].AsPos();
    ID = table[1].AsID();
}

CEntity::~CEntity()
{
}

void CEntity::Reserved2(u32, u32)
{
}

void CEntity::Serialize(FArchive& archive, u32)
{
    archive.Serialize(&ID, 1, 4);
    archive.Serialize(&Pos.x, 1, 4);
    archive.Serialize(&Pos.y, 1, 4);
    archive.Serialize(&Pos.z, 1, 4);
}

void CEntity::StoreParams(TArray<SPropDesc>& table)
{
    u32 count = table.Count();
    u32 at = 1;
    if (BREAK_IF(at >= count))
        return;
    table[0].AsPos() = Pos;
    table[1].AsID() = ID;
}

int CEntity::Reserved5()
{
    return 0;
}

int CEntity::Reserved6(u32)
{
    return 0;
}

// ---------------------------------------------------------------------------------------------
// TSafeObject

TSafeObject::~TSafeObject()
{
    for (u32 i = 0; i < Holders.Count(); ++i)
        Holders[i].Clear(Holders[i].Slot);
    Holders.Clear();
}

void TSafeObject::AddSlot(void* slot, void (*clear)(void*))
{
    if (BREAK_IF(!slot))
        return;
    SHolder h = {slot, clear};
    Holders.Add(h);
}

bool TSafeObject::RemoveSlot(void* slot)
{
    for (u32 i = 0; i < Holders.Count(); ++i)
    {
        if (Holders[i].Slot == slot)
        {
            Holders.Remove(i);
            return true;
        }
    }
    return false;
}
