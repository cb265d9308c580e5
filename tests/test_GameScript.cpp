// The script binding: scripts built against the registered API, with results checked against
// values worked out by hand.
#include "TestSupport.h"

#include <angelscript.h>
#include <math.h>

#include <string>

#include "GMath.h"
#include "GameScript.h"

namespace
{
u64 GReceivedPointer = 0;
s32 GTestCounter = 0;
void TestStorePointer(u64 p)
{
    GReceivedPointer = p;
}
SScriptFunction GTestStorePointerRecord("void TestStorePointer(pointer)", &TestStorePointer);
SScriptProperty GTestCounterRecord("int TestCounter", &GTestCounter);

const float SCRIPT_TOLERANCE = 1e-5f;
const float SCRIPT_PI_REF = 3.14159265f;

class GameScript : public testing::Test
{
protected:
    void SetUp() override { ScriptInit(); }
    void TearDown() override { ScriptShutdown(); }

    static asIScriptModule* Build(const std::string& code)
    {
        asIScriptModule* m = GScrEngine->GetModule("test", asGM_ALWAYS_CREATE);
        m->AddScriptSection("test", code.c_str(), code.size());
        return m->Build() >= 0 ? m : nullptr;
    }
    // Runs a function of the last module built; the execution state.
    static int Run(asIScriptModule* m, const char* declaration)
    {
        asIScriptFunction* f = m->GetFunctionByDecl(declaration);
        if (!f || GScrContext->Prepare(f) < 0)
            return -1;
        return GScrContext->Execute();
    }
};

TEST_F(GameScript, EveryRegisteredDeclarationBuildsAndRuns)
{
    const char* code =
        "float all() {\n"
        "  float f = PI + FLT_MIN + FLT_EPSILON - FLT_MAX * 0;\n"
        "  f += abs(-1) + floor(1.5) + ceil(1.5) + pow(2, 2) + sin(0) + cos(0) + tan(0) + asin(0) + acos(1) + atan(0);\n"
        "  f += sign(-2) + round(1.4) + rand() * 0 + randf() * 0 + randRange(0, 0) + randElev(0, 0);\n"
        "  f += deg2rad(0) + rad2deg(0);\n"
        "  mVec2 a; mVec2 b(1, 2); mVec2 c(3); a = b + c - b * 2 / 2; a += b; a -= b; a *= c; a /= c;\n"
        "  f += a * b; a.Set(3, 4); a = a.Normalized(); a.Normalize(); f += a.x + a.y;\n"
        "  mVec3 p; mVec3 q(1, 2, 3); mVec3 r(1); p = q + r - q * 2 / 2; p += q; p -= q; p *= 2; p /= 2;\n"
        "  f += p * q + (p ^ q).z + q.Length(); p.Set(0, 3, 4); p = p.Normalized(); p.Normalize(); f += p.x + p.y + p.z;\n"
        "  mQuat u; mQuat v(0, 0, 0, 1); mQuat w(0, 0, 0); mQuat t(0, mVec3(0, 0, 1)); u = v * w; u *= t;\n"
        "  u = u.Normalized(); u.Normalize(); f += u.x + u.y + u.z + u.w + rotateVec(q, u).x;\n"
        "  TString s; TString s2(s); TString s3(1.5f); TString s4(2); s = s3 + s4; s += \"x\"; s[0] = 65;\n"
        "  if (s == s2) f += 100; f += s.length();\n"
        "  pointer ptr = 0; f += ptr;\n"
        "  TestCounter = 1;\n"
        "  return f;\n"
        "}\n";
    asIScriptModule* m = Build(code);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(Run(m, "float all()"), asEXECUTION_FINISHED);
    EXPECT_EQ(GTestCounter, 1);
    // Values are checked one by one below; here every declaration has to be usable together.
    EXPECT_TRUE(isfinite(GScrContext->GetReturnFloat()));
}

TEST_F(GameScript, MathAndVectorExpressionsMatchHandResults)
{
    struct SCase
    {
        const char* body; // of "float f(float x)"
        float x;
        float expected;
    };
    const SCase cases[] = {
        {"return sign(x);", NAN, -1.0f},
        {"return sign(x);", 0.0f, 0.0f},
        {"return sign(x);", 0.25f, 1.0f},
        {"return round(x);", 2.5f, 2.0f},
        {"return round(x);", 3.5f, 4.0f},
        {"return round(x);", -1.4f, -1.0f},
        {"return abs(x);", -2.0f, 2.0f},
        {"return floor(x);", -1.5f, -2.0f},
        {"return ceil(x);", -1.5f, -1.0f},
        {"return pow(x, 3);", 2.0f, 8.0f},
        {"return sin(x);", SCRIPT_PI_REF / 2, 1.0f},
        {"return atan(x);", 1.0f, SCRIPT_PI_REF / 4},
        {"return deg2rad(x);", 180.0f, SCRIPT_PI_REF},
        {"return rad2deg(x);", SCRIPT_PI_REF, 180.0f},
        {"return PI;", 0.0f, SCRIPT_PI_REF},
        {"return mVec3(1, 2, 3) * mVec3(4, 5, 6);", 0.0f, 32.0f},
        {"return (mVec3(x, 0, 0) ^ mVec3(0, 1, 0)).z;", 2.0f, 2.0f},
        {"return (mVec3(0, 1, 0) ^ mVec3(1, 0, 0)).z;", 0.0f, -1.0f},
        {"return (mVec2(3, 4) * x).y;", 2.0f, 8.0f},
        {"return (mVec2(3, 4) / x).x;", 2.0f, 1.5f},
        {"return mVec2(3, 4) * mVec2(1, 2);", 0.0f, 11.0f},
        {"mVec2 v(2, 3); v *= mVec2(4, 5); return v.y;", 0.0f, 15.0f},
        {"mVec2 v(2, 3); v /= mVec2(4, 6); return v.x + v.y;", 0.0f, 1.0f},
        {"mVec3 v(2); v *= x; v -= mVec3(1, 2, 3); return v.x + v.y + v.z;", 3.0f, 12.0f},
        {"return mVec3(3, 4, 0).Length();", 0.0f, 5.0f},
        {"return mVec2(3, 4).Normalized().x;", 0.0f, 0.6f},
        {"mVec3 v(0, 0, x); v.Normalize(); return v.z;", 7.0f, 1.0f},
        {"return rotateVec(mVec3(1, 0, 0), mQuat(0, PI / 2, 0)).y;", 0.0f, -1.0f},
        {"return rotateVec(mVec3(1, 0, 0), mQuat(0, PI / 2, 0)).x;", 0.0f, 0.0f},
        {"mQuat q(0, 0, 0, 2); return q.Normalized().w;", 0.0f, 1.0f},
        {"mQuat q = mQuat(0, 0, 0, 1) * mQuat(1, 0, 0, 0); return q.x;", 0.0f, 1.0f},
        {"return TString(\"abc\").length();", 0.0f, 3.0f},
        {"TString s = \"abc\"; return s[1];", 0.0f, 98.0f},
    };
    for (const SCase& c : cases)
    {
        asIScriptModule* m = Build(std::string("float f(float x) { ") + c.body + " }");
        ASSERT_NE(m, nullptr) << c.body;
        asIScriptFunction* f = m->GetFunctionByDecl("float f(float)");
        ASSERT_EQ(GScrContext->Prepare(f), 0) << c.body;
        GScrContext->SetArgFloat(0, c.x);
        ASSERT_EQ(GScrContext->Execute(), asEXECUTION_FINISHED) << c.body;
        EXPECT_NEAR(GScrContext->GetReturnFloat(), c.expected, SCRIPT_TOLERANCE) << c.body;
    }
}

TEST_F(GameScript, RandomFunctionsFollowTheEngineSequenceAndStayInRange)
{
    const u32 seed = 1234;
    const int draws = 20000;
    const float centre = 10.0f, radius = 3.0f;
    asIScriptModule* m = Build("int r() { return rand(); }\n"
                               "float lo = 1e9, hi = -1e9;\n"
                               "void ranges(int n, float c, float r) {\n"
                               "  for (int i = 0; i < n; i++) { float v = randRange(c, r); if (v < lo) lo = v; if (v > hi) hi = v; }\n"
                               "}\n"
                               "float elev(float a, float r) { return randElev(a, r); }\n");
    ASSERT_NE(m, nullptr);

    gSRand(seed);
    int fromScript[4];
    for (int& v : fromScript)
    {
        ASSERT_EQ(Run(m, "int r()"), asEXECUTION_FINISHED);
        v = (int)GScrContext->GetReturnDWord();
    }
    gSRand(seed);
    for (int v : fromScript)
        EXPECT_EQ(v, gRand());

    asIScriptFunction* f = m->GetFunctionByDecl("void ranges(int, float, float)");
    ASSERT_EQ(GScrContext->Prepare(f), 0);
    GScrContext->SetArgDWord(0, draws);
    GScrContext->SetArgFloat(1, centre);
    GScrContext->SetArgFloat(2, radius);
    ASSERT_EQ(GScrContext->Execute(), asEXECUTION_FINISHED);
    const float lo = *(float*)m->GetAddressOfGlobalVar(m->GetGlobalVarIndexByName("lo"));
    const float hi = *(float*)m->GetAddressOfGlobalVar(m->GetGlobalVarIndexByName("hi"));
    // 20000 draws of 32768 values come within a few steps of both ends.
    const float step = 2 * radius / 32767.0f * 50;
    EXPECT_GE(lo, centre - radius);
    EXPECT_LE(hi, centre + radius);
    EXPECT_LT(lo, centre - radius + step);
    EXPECT_GT(hi, centre + radius - step);

    // randElev(a, r) is a plus r times the next draw over 32767.
    gSRand(seed);
    const float expected = 5.0f + 2.0f * (float)gRand() / 32767.0f;
    gSRand(seed);
    f = m->GetFunctionByDecl("float elev(float, float)");
    ASSERT_EQ(GScrContext->Prepare(f), 0);
    GScrContext->SetArgFloat(0, 5.0f);
    GScrContext->SetArgFloat(1, 2.0f);
    ASSERT_EQ(GScrContext->Execute(), asEXECUTION_FINISHED);
    EXPECT_FLOAT_EQ(GScrContext->GetReturnFloat(), expected);
}

TEST_F(GameScript, StringsBuildTheirTexts)
{
    struct SCase
    {
        const char* body; // of "TString f()"
        const char* expected;
    };
    const SCase cases[] = {
        {"return TString(1.5f);", "1.5"},
        {"return TString(42);", "42"},
        {"return TString(-7);", "-7"},
        {"return TString(0.1f);", "0.1"},
        {"return \"lit\";", "lit"},
        {"TString a = \"ab\"; a += \"cd\"; return a;", "abcd"},
        {"TString a = \"x\"; return a + TString(3);", "x3"},
        {"TString s = \"abc\"; s[1] = 66; return s;", "aBc"},
        {"TString a = \"q\"; TString b(a); b += b; return b;", "qq"},
        {"TString a = \"same\"; return a == \"same\" ? \"eq\" : \"ne\";", "eq"},
        {"TString a = \"same\"; return a == \"other\" ? \"eq\" : \"ne\";", "ne"},
        {"TString a; for (int i = 0; i < 40; i++) a += \"z\"; return TString(int(a.length()));", "40"},
    };
    for (const SCase& c : cases)
    {
        asIScriptModule* m = Build(std::string("TString f() { ") + c.body + " }");
        ASSERT_NE(m, nullptr) << c.body;
        ASSERT_EQ(Run(m, "TString f()"), asEXECUTION_FINISHED) << c.body;
        const TString* s = (const TString*)GScrContext->GetReturnObject();
        ASSERT_NE(s, nullptr) << c.body;
        EXPECT_STREQ(s->Str(), c.expected) << c.body;
    }
}

TEST_F(GameScript, AnIndexOutsideTheTextRaisesAScriptExceptionAndTheHostGoesOn)
{
    asIScriptModule* m = Build("TString s = \"ab\";\n"
                               "void write() { s[2] = 65; }\n"
                               "uint8 read() { return s[100]; }\n"
                               "uint len() { return s.length(); }\n");
    ASSERT_NE(m, nullptr);
    for (const char* decl : {"void write()", "uint8 read()"})
    {
        ASSERT_EQ(Run(m, decl), asEXECUTION_EXCEPTION) << decl;
        EXPECT_NE(std::string(GScrContext->GetExceptionString()).find("index out of range"), std::string::npos);
    }
    ASSERT_EQ(Run(m, "uint len()"), asEXECUTION_FINISHED);
    EXPECT_EQ(GScrContext->GetReturnDWord(), 2u);
    const TString* s = (const TString*)m->GetAddressOfGlobalVar(m->GetGlobalVarIndexByName("s"));
    EXPECT_STREQ(s->Str(), "ab");
}

TEST_F(GameScript, AHeapAddressArrivesWholeThroughPointer)
{
    TString* heap = new TString("somewhere on the heap");
    asIScriptModule* m = Build("void pass(pointer p) { TestStorePointer(p); }");
    ASSERT_NE(m, nullptr);
    asIScriptFunction* f = m->GetFunctionByDecl("void pass(pointer)");
    ASSERT_EQ(GScrContext->Prepare(f), 0);
    GScrContext->SetArgQWord(0, (asQWORD)(uintptr_t)heap);
    ASSERT_EQ(GScrContext->Execute(), asEXECUTION_FINISHED);
    EXPECT_EQ(GReceivedPointer, (u64)(uintptr_t)heap);
    delete heap;
}

TEST_F(GameScript, CompilerMessagesGoToTheLogInTheirFormat)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(Build("void f() {\n  int a = ;\n}\n"), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    // Section, row and column, the kind with its trailing blank, then the message.
    EXPECT_NE(out.find("test (2, "), std::string::npos) << out;
    EXPECT_NE(out.find(") : [ERR]  : "), std::string::npos) << out;
    EXPECT_EQ(out.back(), '\n');

    testing::internal::CaptureStdout();
    EXPECT_NE(Build("void f() { int unused; float g = 1; int h = g; }\n"), nullptr);
    const std::string warn = testing::internal::GetCapturedStdout();
    EXPECT_NE(warn.find(" : [WARN]  : "), std::string::npos) << warn;
}

TEST_F(GameScript, EveryRecordOnTheListsIsRegistered)
{
    u32 functions = 0, properties = 0;
    for (SScriptFunction* p = GScrFunctions; p; p = p->next, ++functions)
        EXPECT_NE(GScrEngine->GetGlobalFunctionByDecl(p->name), nullptr) << p->name;
    for (SScriptProperty* p = GScrProperties; p; p = p->next, ++properties)
        EXPECT_GE(GScrEngine->GetGlobalPropertyIndexByDecl(p->name), 0) << p->name;
    // This binary's own records plus the engine's.
    EXPECT_GE(functions, 1u);
    EXPECT_GE(properties, 1u);
    EXPECT_EQ(GScrEngine->GetGlobalPropertyIndexByDecl("const float FLT_MAX") >= 0, true);
}

TEST_F(GameScript, RegisteringAfterStartUpIsReportedAndStillPushed)
{
    SScriptFunction* const savedFunctions = GScrFunctions;
    SScriptProperty* const savedProperties = GScrProperties;
    {
        TExpectBreak late("GScrEngine", 2);
        static s32 variable;
        SScriptFunction fn("void LateFunction(pointer)", &TestStorePointer);
        SScriptProperty prop("int LateProperty", &variable);
        EXPECT_EQ(GScrFunctions, &fn);
        EXPECT_EQ(fn.next, savedFunctions);
        EXPECT_EQ(GScrProperties, &prop);
        EXPECT_EQ(prop.next, savedProperties);
        // The running engine never saw them.
        EXPECT_EQ(GScrEngine->GetGlobalFunctionByDecl("void LateFunction(pointer)"), nullptr);
        GScrFunctions = savedFunctions;
        GScrProperties = savedProperties;
    }
}

TEST_F(GameScript, StartingTwiceOrStoppingTwiceIsReportedAndHarmless)
{
    asIScriptEngine* const engine = GScrEngine;
    asIScriptContext* const context = GScrContext;
    {
        TExpectBreak twice("GScrEngine", 1);
        TExpectBreak both("GScrContext", 1);
        ScriptInit();
    }
    EXPECT_EQ(GScrEngine, engine);
    EXPECT_EQ(GScrContext, context);

    ScriptShutdown();
    EXPECT_EQ(GScrEngine, nullptr);
    EXPECT_EQ(GScrContext, nullptr);
    {
        TExpectBreak stopped("!GScrEngine", 1);
        TExpectBreak stoppedContext("!GScrContext", 1);
        ScriptShutdown();
    }
    // Up again for the fixture's own shutdown: a second start-up after a stop is clean.
    ScriptInit();
    ASSERT_NE(GScrEngine, nullptr);
    EXPECT_NE(Build("float g() { return PI; }"), nullptr);
}
} // namespace
