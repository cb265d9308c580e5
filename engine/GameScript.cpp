// The script engine binding: engine, context, message log and the registered API.
#include "GameScript.h"

#include <angelscript.h>
#include <float.h>

#include <new>

#include "GMath.h"
#include "GString.h"

asIScriptEngine* GScrEngine = nullptr;
asIScriptContext* GScrContext = nullptr;
SScriptFunction* GScrFunctions = nullptr;
SScriptProperty* GScrProperties = nullptr;

void ScriptRegisterFunction(SScriptFunction& record)
{
    // Too late to reach the engine; the record is kept for the next start-up.
    BREAK_IF(GScrEngine);
    record.next = GScrFunctions;
    GScrFunctions = &record;
}

void ScriptRegisterProperty(SScriptProperty& record)
{
    BREAK_IF(GScrEngine);
    record.next = GScrProperties;
    GScrProperties = &record;
}

void ScriptMessageCallback(const asSMessageInfo* msg, void* param)
{
    (void)param;
    static const char* const kinds[] = {"[ERR] ", "[WARN] ", "[INFO] "};
    const u32 kind = (u32)msg->type;
    LogPrintf("%s (%d, %d) : %s : %s\n", msg->section, msg->row, msg->col,
              kind < sizeof(kinds) / sizeof(kinds[0]) ? kinds[kind] : "", msg->message);
}

namespace
{
const char* const SCRIPT_ASSERT_FORMAT = "ASSERT\n\nThis test expression is false:\n\n%s";

// A failed registration ends the program with the registration that failed.
void Check(int result, const char* call, const char* type, const char* declaration)
{
    if (result >= 0)
        return;
    char text[512];
    if (type)
        gSNPrintf(text, sizeof(text), "GScrEngine->%s( \"%s\", \"%s\" ) >= 0", call, type, declaration);
    else
        gSNPrintf(text, sizeof(text), "GScrEngine->%s( \"%s\" ) >= 0", call, declaration);
    FatalError(SCRIPT_ASSERT_FORMAT, text);
}

void Function(const char* declaration, const asSFuncPtr& fp)
{
    Check(GScrEngine->RegisterGlobalFunction(declaration, fp, asCALL_CDECL), "RegisterGlobalFunction", nullptr,
          declaration);
}

void Property(const char* declaration, const void* variable)
{
    Check(GScrEngine->RegisterGlobalProperty(declaration, const_cast<void*>(variable)), "RegisterGlobalProperty",
          nullptr, declaration);
}

void Type(const char* name, int size, asDWORD flags)
{
    Check(GScrEngine->RegisterObjectType(name, size, flags), "RegisterObjectType", nullptr, name);
}

void Member(const char* type, const char* declaration, int offset)
{
    Check(GScrEngine->RegisterObjectProperty(type, declaration, offset), "RegisterObjectProperty", type,
          declaration);
}

void Behaviour(const char* type, asEBehaviours behaviour, const char* declaration, const asSFuncPtr& fp)
{
    Check(GScrEngine->RegisterObjectBehaviour(type, behaviour, declaration, fp, asCALL_CDECL_OBJLAST),
          "RegisterObjectBehaviour", type, declaration);
}

void Method(const char* type, const char* declaration, const asSFuncPtr& fp, asDWORD convention)
{
    Check(GScrEngine->RegisterObjectMethod(type, declaration, fp, convention), "RegisterObjectMethod", type,
          declaration);
}

// ---------------------------------------------------------------------------------------------
// Math API
const float SCRIPT_PI = 3.14159265358979f;
const float SCRIPT_FLT_MIN = FLT_MIN;
const float SCRIPT_FLT_MAX = FLT_MAX;
const float SCRIPT_FLT_EPSILON = FLT_EPSILON;
const float SCRIPT_RAND_MAX = 32767.0f; // gRand's largest value
const float SCRIPT_DEG_TO_RAD = 0.017453292f;
const float SCRIPT_RAD_TO_DEG = 57.295776f;

// The engine's own sequence: it stays within 0..32767, so the ranges below hold.
int ScrRand()
{
    return gRand();
}
float ScrRandRange(float c, float r)
{
    return c + r * (2.0f * (float)gRand() / SCRIPT_RAND_MAX - 1.0f);
}
float ScrRandElev(float a, float r)
{
    return a + r * (float)gRand() / SCRIPT_RAND_MAX;
}
float ScrDeg2Rad(float x)
{
    return x * SCRIPT_DEG_TO_RAD;
}
float ScrRad2Deg(float x)
{
    return x * SCRIPT_RAD_TO_DEG;
}

void RegisterMath()
{
    Property("const float PI", &SCRIPT_PI);
    Property("const float FLT_MIN", &SCRIPT_FLT_MIN);
    Property("const float FLT_MAX", &SCRIPT_FLT_MAX);
    Property("const float FLT_EPSILON", &SCRIPT_FLT_EPSILON);
    Function("float abs(float)", asFUNCTION(gAbs));
    Function("float floor(float)", asFUNCTION(gFloor));
    Function("float ceil(float)", asFUNCTION(gCeil));
    Function("float pow(float,float)", asFUNCTION(gPow));
    Function("float sin(float)", asFUNCTION(gSin));
    Function("float cos(float)", asFUNCTION(gCos));
    Function("float tan(float)", asFUNCTION(gTan));
    Function("float asin(float)", asFUNCTION(gAsin));
    Function("float acos(float)", asFUNCTION(gAcos));
    Function("float atan(float)", asFUNCTION(gAtan));
    Function("float sign(float)", asFUNCTION(gSign));
    Function("float round(float)", asFUNCTION(gRound));
    Function("int rand()", asFUNCTION(ScrRand));
    Function("float randf()", asFUNCTION(RandUnit));
    Function("float randRange(float,float)", asFUNCTION(ScrRandRange));
    Function("float randElev(float,float)", asFUNCTION(ScrRandElev));
    Function("float deg2rad(float)", asFUNCTION(ScrDeg2Rad));
    Function("float rad2deg(float)", asFUNCTION(ScrRad2Deg));
}

// ---------------------------------------------------------------------------------------------
// Vectors and quaternions: plain values with the classes' own layout.
template <class T>
void ConstructDefault(T* p)
{
    new (p) T();
}

void Vec2Construct(float x, float y, mVec2* p)
{
    new (p) mVec2(x, y);
}
void Vec2ConstructAll(float v, mVec2* p)
{
    new (p) mVec2(v);
}
// The script's vector-valued scaling of a 2-D vector works per component.
mVec2& Vec2MulAssign(mVec2* self, const mVec2& o)
{
    self->x *= o.x;
    self->y *= o.y;
    return *self;
}
mVec2& Vec2DivAssign(mVec2* self, const mVec2& o)
{
    self->x /= o.x;
    self->y /= o.y;
    return *self;
}

void Vec3Construct(float x, float y, float z, mVec3* p)
{
    new (p) mVec3(x, y, z);
}
void Vec3ConstructAll(float v, mVec3* p)
{
    new (p) mVec3(v);
}

void QuatConstruct(float x, float y, float z, float w, mQuat* p)
{
    new (p) mQuat(x, y, z, w);
}
void QuatConstructEuler(float a, float b, float c, mQuat* p)
{
    new (p) mQuat(a, b, c);
}
void QuatConstructAxis(float angle, const mVec3& axis, mQuat* p)
{
    new (p) mQuat(angle, axis);
}

const asDWORD SCRIPT_VECTOR_FLAGS = asOBJ_VALUE | asOBJ_POD | asOBJ_APP_CLASS_ALLFLOATS;

void RegisterVec2()
{
    const char* t = "mVec2";
    Type(t, sizeof(mVec2), SCRIPT_VECTOR_FLAGS | asGetTypeTraits<mVec2>());
    Member(t, "float x", asOFFSET(mVec2, x));
    Member(t, "float y", asOFFSET(mVec2, y));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f()", asFUNCTION(ConstructDefault<mVec2>));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float, float)", asFUNCTION(Vec2Construct));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float)", asFUNCTION(Vec2ConstructAll));
    Method(t, "mVec2 opAdd(const mVec2 &in) const", asMETHODPR(mVec2, operator+, (const mVec2&) const, mVec2),
           asCALL_THISCALL);
    Method(t, "mVec2 opSub(const mVec2 &in) const", asMETHODPR(mVec2, operator-, (const mVec2&) const, mVec2),
           asCALL_THISCALL);
    Method(t, "mVec2 opMul(float) const", asMETHODPR(mVec2, operator*, (float) const, mVec2), asCALL_THISCALL);
    Method(t, "mVec2 opDiv(float) const", asMETHODPR(mVec2, operator/, (float) const, mVec2), asCALL_THISCALL);
    Method(t, "mVec2 &opAddAssign(const mVec2 &in)", asMETHODPR(mVec2, operator+=, (const mVec2&), mVec2&),
           asCALL_THISCALL);
    Method(t, "mVec2 &opSubAssign(const mVec2 &in)", asMETHODPR(mVec2, operator-=, (const mVec2&), mVec2&),
           asCALL_THISCALL);
    Method(t, "mVec2 &opMulAssign(const mVec2 &in)", asFUNCTION(Vec2MulAssign), asCALL_CDECL_OBJFIRST);
    Method(t, "mVec2 &opDivAssign(const mVec2 &in)", asFUNCTION(Vec2DivAssign), asCALL_CDECL_OBJFIRST);
    Method(t, "float opMul(const mVec2 &in) const", asMETHODPR(mVec2, operator*, (const mVec2&) const, float),
           asCALL_THISCALL);
    Method(t, "void Set(float, float)", asMETHOD(mVec2, Set), asCALL_THISCALL);
    Method(t, "mVec2 Normalized() const", asMETHOD(mVec2, NormalizedCopy), asCALL_THISCALL);
    Method(t, "void Normalize()", asMETHOD(mVec2, Normalize), asCALL_THISCALL);
}

void RegisterVec3()
{
    const char* t = "mVec3";
    Type(t, sizeof(mVec3), SCRIPT_VECTOR_FLAGS | asGetTypeTraits<mVec3>());
    Member(t, "float x", asOFFSET(mVec3, x));
    Member(t, "float y", asOFFSET(mVec3, y));
    Member(t, "float z", asOFFSET(mVec3, z));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f()", asFUNCTION(ConstructDefault<mVec3>));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float, float, float)", asFUNCTION(Vec3Construct));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float)", asFUNCTION(Vec3ConstructAll));
    Method(t, "mVec3 opAdd(const mVec3 &in) const", asMETHODPR(mVec3, operator+, (const mVec3&) const, mVec3),
           asCALL_THISCALL);
    Method(t, "mVec3 opSub(const mVec3 &in) const", asMETHODPR(mVec3, operator-, (const mVec3&) const, mVec3),
           asCALL_THISCALL);
    Method(t, "mVec3 opMul(float) const", asMETHODPR(mVec3, operator*, (float) const, mVec3), asCALL_THISCALL);
    Method(t, "mVec3 opDiv(float) const", asMETHODPR(mVec3, operator/, (float) const, mVec3), asCALL_THISCALL);
    Method(t, "mVec3 &opAddAssign(const mVec3 &in)", asMETHODPR(mVec3, operator+=, (const mVec3&), mVec3&),
           asCALL_THISCALL);
    Method(t, "mVec3 &opSubAssign(const mVec3 &in)", asMETHODPR(mVec3, operator-=, (const mVec3&), mVec3&),
           asCALL_THISCALL);
    Method(t, "mVec3 &opMulAssign(float)", asMETHODPR(mVec3, operator*=, (float), mVec3&), asCALL_THISCALL);
    Method(t, "mVec3 &opDivAssign(float)", asMETHODPR(mVec3, operator/=, (float), mVec3&), asCALL_THISCALL);
    Method(t, "float opMul(const mVec3 &in) const", asMETHODPR(mVec3, operator*, (const mVec3&) const, float),
           asCALL_THISCALL);
    Method(t, "mVec3 opXor(const mVec3 &in) const", asMETHODPR(mVec3, operator^, (const mVec3&) const, mVec3),
           asCALL_THISCALL);
    Method(t, "void Set(float, float, float)", asMETHOD(mVec3, Set), asCALL_THISCALL);
    Method(t, "mVec3 Normalized() const", asMETHOD(mVec3, NormalizedCopy), asCALL_THISCALL);
    Method(t, "void Normalize()", asMETHOD(mVec3, Normalize), asCALL_THISCALL);
    Method(t, "float Length() const", asMETHOD(mVec3, Length), asCALL_THISCALL);
}

void RegisterQuat()
{
    const char* t = "mQuat";
    Type(t, sizeof(mQuat), SCRIPT_VECTOR_FLAGS | asGetTypeTraits<mQuat>());
    Member(t, "float x", asOFFSET(mQuat, x));
    Member(t, "float y", asOFFSET(mQuat, y));
    Member(t, "float z", asOFFSET(mQuat, z));
    Member(t, "float w", asOFFSET(mQuat, w));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f()", asFUNCTION(ConstructDefault<mQuat>));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float, float, float, float)", asFUNCTION(QuatConstruct));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float, float, float)", asFUNCTION(QuatConstructEuler));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float, const mVec3 &in)", asFUNCTION(QuatConstructAxis));
    Method(t, "mQuat opMul(const mQuat &in) const", asMETHODPR(mQuat, operator*, (const mQuat&) const, mQuat),
           asCALL_THISCALL);
    Method(t, "mQuat &opMulAssign(const mQuat &in)", asMETHODPR(mQuat, operator*=, (const mQuat&), mQuat&),
           asCALL_THISCALL);
    Method(t, "mQuat Normalized() const", asMETHOD(mQuat, NormalizedCopy), asCALL_THISCALL);
    Method(t, "void Normalize()", asMETHOD(mQuat, Normalize), asCALL_THISCALL);
    Function("mVec3 rotateVec( const mVec3 &in, const mQuat &in )", asFUNCTION(M_RotateVec));
}

// ---------------------------------------------------------------------------------------------
// TString
const u32 SCRIPT_NUMBER_TEXT = 64;

void StringConstruct(TString* p)
{
    new (p) TString();
}
void StringCopy(const TString& other, TString* p)
{
    new (p) TString(other);
}
void StringFromFloat(float v, TString* p)
{
    TString* s = new (p) TString();
    s->Format(SCRIPT_NUMBER_TEXT, "%g", (double)v);
}
void StringFromInt(int v, TString* p)
{
    TString* s = new (p) TString();
    s->Format(SCRIPT_NUMBER_TEXT, "%d", v);
}
void StringDestruct(TString* p)
{
    p->~TString();
}

// A script index outside the text raises a script exception; the host goes on.
u8& StringIndex(u32 at, TString* s)
{
    if (at >= s->Length())
    {
        static u8 outside;
        outside = 0;
        if (asIScriptContext* ctx = asGetActiveContext())
            ctx->SetException("TString: index out of range");
        return outside;
    }
    return (u8&)s->text[at];
}

// One TString for every literal the compiler asks for, freed when the compiler lets it go.
class SScriptStringFactory : public asIStringFactory
{
public:
    const void* GetStringConstant(const char* data, asUINT length) override
    {
        return new TString(data, (u32)length);
    }
    int ReleaseStringConstant(const void* str) override
    {
        if (!str)
            return asERROR;
        delete (const TString*)str;
        return asSUCCESS;
    }
    int GetRawStringData(const void* str, char* data, asUINT* length) const override
    {
        if (!str)
            return asERROR;
        const TString* s = (const TString*)str;
        if (length)
            *length = s->Length();
        if (data)
            gMemCpy(data, s->Str(), s->Length());
        return asSUCCESS;
    }
};
SScriptStringFactory GScriptStringFactory;

void RegisterString()
{
    const char* t = "TString";
    Type(t, sizeof(TString), asOBJ_VALUE | asGetTypeTraits<TString>());
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f()", asFUNCTION(StringConstruct));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(const TString &in)", asFUNCTION(StringCopy));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(float)", asFUNCTION(StringFromFloat));
    Behaviour(t, asBEHAVE_CONSTRUCT, "void f(int)", asFUNCTION(StringFromInt));
    Behaviour(t, asBEHAVE_DESTRUCT, "void f()", asFUNCTION(StringDestruct));
    Check(GScrEngine->RegisterStringFactory(t, &GScriptStringFactory), "RegisterStringFactory", nullptr, t);
    Method(t, "TString &opAssign(const TString &in)", asMETHODPR(TString, operator=, (const TString&), TString&),
           asCALL_THISCALL);
    Method(t, "TString opAdd(const TString &in) const",
           asMETHODPR(TString, operator+, (const TString&) const, TString), asCALL_THISCALL);
    Method(t, "TString &opAddAssign(const TString &in)",
           asMETHODPR(TString, operator+=, (const TString&), TString&), asCALL_THISCALL);
    Method(t, "uint8 &opIndex(uint)", asFUNCTION(StringIndex), asCALL_CDECL_OBJLAST);
    Method(t, "bool opEquals(const TString &in) const",
           asMETHODPR(TString, operator==, (const TString&) const, bool), asCALL_THISCALL);
    Method(t, "uint length() const", asMETHOD(TString, Length), asCALL_THISCALL);
}
} // namespace

void ScriptInit()
{
    const bool engineUp = BREAK_IF(GScrEngine);
    const bool contextUp = BREAK_IF(GScrContext);
    if (engineUp || contextUp)
        return;

    // The installed library's own version: an older number makes the library refuse.
    GScrEngine = asCreateScriptEngine(ANGELSCRIPT_VERSION);
    if (!GScrEngine)
        FatalError("AngelScript failed to initialize: bad build / settings\n");
    GScrEngine->SetMessageCallback(asFUNCTION(ScriptMessageCallback), nullptr, asCALL_CDECL);
    GScrContext = GScrEngine->CreateContext();
    if (!GScrContext)
        FatalError(SCRIPT_ASSERT_FORMAT, "GScrContext");

    RegisterMath();
    RegisterVec2();
    RegisterVec3();
    RegisterQuat();
    RegisterString();
    // Addresses are 64 bits wide here; a 32-bit name would cut them.
    Check(GScrEngine->RegisterTypedef("pointer", "uint64"), "RegisterTypedef", nullptr, "pointer");

    for (SScriptFunction* p = GScrFunctions; p; p = p->next)
        if (GScrEngine->RegisterGlobalFunction(p->name, asFunctionPtr(p->fp), asCALL_CDECL) < 0)
            FatalError(SCRIPT_ASSERT_FORMAT,
                       "GScrEngine->RegisterGlobalFunction( p->name, asFunctionPtr(p->fp), asCALL_CDECL ) >= 0");
    for (SScriptProperty* p = GScrProperties; p; p = p->next)
        if (GScrEngine->RegisterGlobalProperty(p->name, p->fp) < 0)
            FatalError(SCRIPT_ASSERT_FORMAT, "GScrEngine->RegisterGlobalProperty( p->name, p->fp ) >= 0");
}

void ScriptShutdown()
{
    BREAK_IF(!GScrEngine);
    BREAK_IF(!GScrContext);
    // The context goes first: it still refers to its engine.
    if (GScrContext)
    {
        GScrContext->Release();
        GScrContext = nullptr;
    }
    if (GScrEngine)
    {
        GScrEngine->ShutDownAndRelease();
        GScrEngine = nullptr;
    }
}
