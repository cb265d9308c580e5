// Typed parameter values, class property tables, the class registry, CEntity and TSafeObject.
// Every editable property of an engine object is a typed value with a quoted text form; classes
// describe their properties in static tables so that objects can be created by class name and
// written to and read from text.
#pragma once

#include "GameSys.h"
#include "GString.h"
#include "GTemplate.h"
#include "GMath.h"

class FArchive;
class CEntity;
struct SPropDesc;

// Value type codes. The unnamed three-float and text kinds behave like their named neighbours.
enum EValueType : u32
{
    EVT_Null = 0,        // terminates a property table
    EVT_Inherit = 1,     // inhptr: the base class's static table
    EVT_InheritInst = 2, // Children: this object's instantiated copy of the base table
    EVT_Int = 10,
    EVT_Float = 11,
    EVT_ID = 12,         // Int: an object identifier, -1 for none
    EVT_Vec2 = 20,
    EVT_Vec3 = 21,
    EVT_Vec4 = 22,
    EVT_Polar = 30,
    EVT_Vec3A = 31,
    EVT_ColRGBA = 32,
    EVT_ColHSV = 33,     // Vec3
    EVT_Pos = 35,        // Vec3
    EVT_Vec3B = 36,
    EVT_Vec3C = 37,
    EVT_String = 40,
    EVT_StringA = 41,
    EVT_StringB = 42,
    EVT_Mesh = 43,       // String: a mesh name
};

// A value record: every slot is present, only the slot of the entry's type is meaningful.
struct SPropValue
{
    s32 Int;
    float Float;
    mVec2 Vec2;
    mVec3 Vec3;
    mVec4 Vec4;
    mVec3 Polar;
    mVec4 ColRGBA;
    TString String;
    const SPropDesc* inhptr; // not owned
    TArray<SPropDesc> Children; // owned, copied deeply

    SPropValue();
    SPropValue(const SPropValue& other);
    SPropValue& operator=(const SPropValue& other);
    ~SPropValue();
};

// One entry of a property table.
struct SPropDesc
{
    u32 Type;
    TString Name;
    SPropValue Default; // the current value in an instantiated table
    SPropValue Min;
    SPropValue Max;

    SPropDesc();
    SPropDesc(u32 type, const char* name);

    // Typed access to Default; a type mismatch is reported and the slot asked for is returned.
    TArray<SPropDesc>& AsInheritInst();
    s32& AsInt();
    s32& AsID();
    float& AsFloat();
    mVec2& AsVec2();
    mVec3& AsVec3();
    mVec4& AsVec4();
    mVec3& AsPolar();
    mVec4& AsColRGBA();
    mVec3& AsColHSV();
    mVec3& AsPos();
    TString& AsString();
};

// Builders for static tables.
SPropDesc PropInherit(const char* baseName, const SPropDesc* baseTable);
SPropDesc PropInt(const char* name, s32 def, s32 min, s32 max);
SPropDesc PropID(const char* name, s32 def);
SPropDesc PropFloat(const char* name, float def, float min, float max);
SPropDesc PropVec2(const char* name, const mVec2& def, const mVec2& min, const mVec2& max);
SPropDesc PropVec3(u32 type, const char* name, const mVec3& def, const mVec3& min, const mVec3& max);
SPropDesc PropVec4(u32 type, const char* name, const mVec4& def, const mVec4& min, const mVec4& max);
SPropDesc PropString(u32 type, const char* name, const char* def);
SPropDesc PropNull();

// ---------------------------------------------------------------------------------------------
// Text forms

// The current value as text in double quotes. Structural entries (types 0-2) are fatal.
void ParamToText(const SPropDesc& entry, TString& out);
// Sets the current value from its text (without the quotes). Strings are unescaped once, unless
// raw is set (the text is then taken as it is).
void ParamFromText(SPropDesc& entry, const char* text, bool raw);

// C-style escaping of the string types' text forms.
void EscapeString(const TString& in, TString& out);
// In place. decodeControls turns \a and \b into the characters 7 and 8 (else the letters).
void UnescapeString(TString& text, bool decodeControls);

// ---------------------------------------------------------------------------------------------
// Property tables

// Builds an object's own table from a static one: the whole base chain, nested, EVT_Null-ended.
void InstantiatePropTable(TArray<SPropDesc>& out, const SPropDesc* staticTable);
// Turns one EVT_Inherit entry into EVT_InheritInst holding the instantiated base table.
void InstantiatePropDesc(SPropDesc& entry);

// The entry of that name, searching base tables first (depth first); null when absent.
SPropDesc* FindPropDesc(SPropDesc* table, const char* name, u32 limit);
const SPropDesc* FindPropDesc(const SPropDesc* table, const char* name, u32 limit);
SPropDesc* FindPropDesc(TArray<SPropDesc>& table, const char* name);

// An object's parameter text: name="value" pairs separated by one blank, base entries first.
void PropTableToText(const SPropDesc* table, TString& out);
void PropTableToText(const TArray<SPropDesc>& table, TString& out);
void PropDescToText(const SPropDesc& entry, TString& out);

// ---------------------------------------------------------------------------------------------
// Class registry

typedef CEntity* (*TClassCreateFunc)(TArray<SPropDesc>& table);

struct SClassInfo
{
    char Name[64];
    TClassCreateFunc Create;
    SClassInfo* Next;
    const SPropDesc* Props;

    // The name is copied with a bound: at most 63 characters are kept.
    SClassInfo(const char* name, TClassCreateFunc create, const SPropDesc* props);
};

struct SClassInfoList
{
    SClassInfo* Head; // the newest record first
    u32 Count;
};
extern SClassInfoList GClassInfoList;

void RegisterClassInfo(SClassInfo* record);
SClassInfo* FindClassInfo(const char* name);
CEntity* CreateByClassName(const char* name, TArray<SPropDesc>& table);

// ---------------------------------------------------------------------------------------------
// Root of the property-holding classes.
class CEntity
{
public:
    SClassInfo* ClassInfo; // set by the factory after construction
    s32 ID;
    mVec3 Pos;

    // From the object's own instantiated table (entry 0 "_POS", entry 1 "_ID").
    explicit CEntity(TArray<SPropDesc>& table);
    virtual ~CEntity();
    virtual void Reserved1(u32 a) = 0;
    virtual void Reserved2(u32 a, u32 b);
    // ID, then Pos x, y, z, each as one 4-byte element.
    virtual void Serialize(FArchive& archive, u32 flags);
    // Writes the current values back into an instantiated table.
    virtual void StoreParams(TArray<SPropDesc>& table);
    virtual int Reserved5();
    virtual int Reserved6(u32 a);

    // The root table: "_POS", "_ID", then the terminator.
    static const SPropDesc* PropTable();
};

// ---------------------------------------------------------------------------------------------
// An object that clears the pointers others hold to it when it dies. Holders register the address
// of their pointer variable and unregister it when they drop the pointer or die first.
class TSafeObject
{
public:
    TSafeObject() {}
    // A copy is a new object: nobody holds it yet.
    TSafeObject(const TSafeObject&) {}
    TSafeObject& operator=(const TSafeObject&) { return *this; }
    virtual ~TSafeObject();

    template <class T> void AddHolder(T** slot) { AddSlot(slot, &ClearSlot<T>); }
    // false when the slot was not registered
    template <class T> bool RemoveHolder(T** slot) { return RemoveSlot(slot); }
    u32 HolderCount() const { return Holders.Count(); }

private:
    struct SHolder
    {
        void* Slot;
        void (*Clear)(void* slot);
    };
    template <class T> static void ClearSlot(void* slot) { *static_cast<T**>(slot) = nullptr; }
    void AddSlot(void* slot, void (*clear)(void*));
    bool RemoveSlot(void* slot);

    TPodArray<SHolder> Holders;
};
