#include "TestSupport.h"

#include <float.h>
#include <limits.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "GArchive.h"
#include "GameParams.h"

static std::string S(const TString& t)
{
    return std::string(t.text, t.count);
}

static TString T(const std::string& s)
{
    return TString(s.data(), (u32)s.size());
}

// The text between the enclosing double quotes of a value text.
static std::string Unquote(const TString& quoted)
{
    std::string s = S(quoted);
    EXPECT_GE(s.size(), 2u);
    if (s.size() < 2)
        return "";
    EXPECT_EQ(s.front(), '"');
    EXPECT_EQ(s.back(), '"');
    return s.substr(1, s.size() - 2);
}

static std::string ToText(const SPropDesc& e)
{
    TString out;
    ParamToText(e, out);
    return S(out);
}

// Writes the value, reads the unquoted text back into a fresh entry of the same type.
static SPropDesc ThroughText(const SPropDesc& e)
{
    TString out;
    ParamToText(e, out);
    SPropDesc back(e.Type, "x");
    ParamFromText(back, Unquote(out).c_str(), false);
    return back;
}

static void ExpectVec(const mVec2& v, float x, float y)
{
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
}
static void ExpectVec(const mVec3& v, float x, float y, float z)
{
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}
static void ExpectVec(const mVec4& v, float x, float y, float z, float w)
{
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
    EXPECT_EQ(v.w, w);
}

// ---------------------------------------------------------------------------------------------
// Escaping

TEST(ParamEscape, EscapesExactlyTheListedCharacters)
{
    TString in("\a\b\f\n\r\t\v'\"\\?x;=\x1b\xc8");
    TString out("stale");
    EscapeString(in, out);
    EXPECT_EQ(S(out), "\\a\\b\\f\\n\\r\\t\\v\\'\\\"\\\\\\?x;=\x1b\xc8");

    TString empty;
    EscapeString(empty, out);
    EXPECT_EQ(S(out), "");

    // Escaping a string into itself.
    TString self("a\"b");
    EscapeString(self, self);
    EXPECT_EQ(S(self), "a\\\"b");
}

TEST(ParamEscape, UnescapeDecodesEachEscapeOnce)
{
    TString t("\\\\n\\n\\\"\\'\\?\\q\\f\\r\\t\\v");
    UnescapeString(t, true);
    EXPECT_EQ(S(t), "\\n\n\"'?q\f\r\t\v");

    TString bells("\\a\\b");
    UnescapeString(bells, true);
    EXPECT_EQ(S(bells), "\a\b");
    TString letters("\\a\\b");
    UnescapeString(letters, false);
    EXPECT_EQ(S(letters), "ab");

    // A backslash at the very end gives nothing.
    TString tail("ab\\");
    UnescapeString(tail, true);
    EXPECT_EQ(S(tail), "ab");
    TString lone("\\");
    UnescapeString(lone, true);
    EXPECT_EQ(S(lone), "");
}

TEST(ParamEscape, EveryByteRoundTripsAndQuotesStayEscaped)
{
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += (char)c;
    all += "\\\"\\";
    TString escaped;
    EscapeString(T(all), escaped);

    // A reader that ends a value at a quote after an even number of backslashes must not stop
    // inside the escaped text.
    std::string e = S(escaped);
    for (size_t i = 0; i < e.size(); ++i)
    {
        if (e[i] != '"')
            continue;
        size_t run = 0;
        while (run < i && e[i - 1 - run] == '\\')
            ++run;
        EXPECT_EQ(run % 2, 1u) << "unescaped quote at " << i;
    }
    EXPECT_EQ(e.find('\n'), std::string::npos);

    UnescapeString(escaped, true);
    EXPECT_EQ(S(escaped), all);
}

// ---------------------------------------------------------------------------------------------
// Value texts

TEST(ParamText, WritesTheDocumentForms)
{
    SPropDesc i(EVT_Int, "i");
    i.Default.Int = -42;
    EXPECT_EQ(ToText(i), "\"-42\"");
    SPropDesc id(EVT_ID, "id");
    id.Default.Int = -1;
    EXPECT_EQ(ToText(id), "\"-1\"");

    SPropDesc f(EVT_Float, "f");
    f.Default.Float = 0.5f;
    EXPECT_EQ(ToText(f), "\"0.5\"");
    f.Default.Float = 1500000.0f;
    EXPECT_EQ(ToText(f), "\"1.5e+06\"");
    f.Default.Float = 1e-5f;
    EXPECT_EQ(ToText(f), "\"1e-05\"");

    SPropDesc v2(EVT_Vec2, "v2");
    v2.Default.Vec2 = mVec2(1.0f, 0.5f);
    EXPECT_EQ(ToText(v2), "\"1;0.5\"");

    for (u32 type : {(u32)EVT_Vec3, (u32)EVT_Vec3A, (u32)EVT_ColHSV, (u32)EVT_Pos, (u32)EVT_Vec3B, (u32)EVT_Vec3C})
    {
        SPropDesc v3(type, "v3");
        v3.Default.Vec3 = mVec3(1.0f, 0.5f, -2.0f);
        EXPECT_EQ(ToText(v3), "\"1;0.5;-2\"") << "type " << type;
    }
    SPropDesc polar(EVT_Polar, "p");
    polar.Default.Polar = mVec3(0.25f, -1.0f, 3.0f);
    polar.Default.Vec3 = mVec3(9.0f, 9.0f, 9.0f); // not the polar slot
    EXPECT_EQ(ToText(polar), "\"0.25;-1;3\"");

    SPropDesc v4(EVT_Vec4, "v4");
    v4.Default.Vec4 = mVec4(1.0f, 2.0f, 3.0f, 4.5f);
    EXPECT_EQ(ToText(v4), "\"1;2;3;4.5\"");
    SPropDesc col(EVT_ColRGBA, "c");
    col.Default.ColRGBA = mVec4(1.0f, 0.0f, 0.0f, 0.5f);
    col.Default.Vec4 = mVec4(7.0f, 7.0f, 7.0f, 7.0f); // not the colour slot
    EXPECT_EQ(ToText(col), "\"1;0;0;0.5\"");

    for (u32 type : {(u32)EVT_String, (u32)EVT_StringA, (u32)EVT_StringB, (u32)EVT_Mesh})
    {
        SPropDesc s(type, "s");
        s.Default.String = "say \"hi\"\n";
        EXPECT_EQ(ToText(s), "\"say \\\"hi\\\"\\n\"") << "type " << type;
    }
}

TEST(ParamText, EveryTypeReadsBackToItsValue)
{
    SPropDesc i(EVT_Int, "i");
    for (s32 v : {0, 1, -1, 123456789, INT_MAX, INT_MIN})
    {
        i.Default.Int = v;
        EXPECT_EQ(ThroughText(i).Default.Int, v);
    }
    SPropDesc id(EVT_ID, "id");
    id.Default.Int = 77;
    EXPECT_EQ(ThroughText(id).Default.Int, 77);

    // Exactly representable by six significant digits, including exponent forms.
    const float values[] = {0.0f, 0.5f, -2.25f, 1500000.0f, 1e-5f, -3.40282e38f, 1.17549e-38f, 2.5e-7f,
                            123456.0f, 0.333333f, 1e20f, -7.5e-12f};
    SPropDesc f(EVT_Float, "f");
    for (float v : values)
    {
        f.Default.Float = v;
        EXPECT_EQ(ThroughText(f).Default.Float, v) << ToText(f);
    }

    SPropDesc v2(EVT_Vec2, "v2");
    v2.Default.Vec2 = mVec2(1e-5f, -1.5e6f);
    ExpectVec(ThroughText(v2).Default.Vec2, 1e-5f, -1.5e6f);

    for (u32 type : {(u32)EVT_Vec3, (u32)EVT_Vec3A, (u32)EVT_ColHSV, (u32)EVT_Pos, (u32)EVT_Vec3B, (u32)EVT_Vec3C})
    {
        SPropDesc v3(type, "v3");
        v3.Default.Vec3 = mVec3(1.5e6f, 1e-5f, -3.40282e38f);
        ExpectVec(ThroughText(v3).Default.Vec3, 1.5e6f, 1e-5f, -3.40282e38f);
    }
    SPropDesc polar(EVT_Polar, "p");
    polar.Default.Polar = mVec3(2.5e-7f, 0.5f, -1e20f);
    ExpectVec(ThroughText(polar).Default.Polar, 2.5e-7f, 0.5f, -1e20f);

    SPropDesc v4(EVT_Vec4, "v4");
    v4.Default.Vec4 = mVec4(1e-5f, 1.5e6f, -0.25f, 1.17549e-38f);
    ExpectVec(ThroughText(v4).Default.Vec4, 1e-5f, 1.5e6f, -0.25f, 1.17549e-38f);
    SPropDesc col(EVT_ColRGBA, "c");
    col.Default.ColRGBA = mVec4(1.0f, 0.0f, 1e-5f, 1.5e6f);
    ExpectVec(ThroughText(col).Default.ColRGBA, 1.0f, 0.0f, 1e-5f, 1.5e6f);

    for (u32 type : {(u32)EVT_String, (u32)EVT_StringA, (u32)EVT_StringB, (u32)EVT_Mesh})
    {
        SPropDesc s(type, "s");
        s.Default.String = "C:\\maps\\a.png";
        EXPECT_EQ(S(ThroughText(s).Default.String), "C:\\maps\\a.png");
    }
}

TEST(ParamText, AnyFloatTextIsStableAfterOneReading)
{
    // Whatever a float is, its text reads back to a value that writes the same text again.
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> mant(-10.0f, 10.0f);
    std::uniform_int_distribution<int> expo(-40, 38);
    SPropDesc f(EVT_Float, "f");
    SPropDesc v(EVT_Vec4, "v");
    for (int k = 0; k < 2000; ++k)
    {
        float x = mant(rng) * powf(10.0f, (float)expo(rng));
        if (!isfinite(x))
            continue;
        f.Default.Float = x;
        std::string first = ToText(f);
        SPropDesc back = ThroughText(f);
        EXPECT_EQ(ToText(back), first);
        // Six significant digits: the value stays within one unit of the sixth digit.
        if (fabsf(x) >= FLT_MIN)
        {
            EXPECT_LE(fabs((double)back.Default.Float - (double)x), fabs((double)x) * 5.1e-6) << first;
        }

        v.Default.Vec4 = mVec4(x, -x, x * 0.5f, 1.0f);
        std::string vfirst = ToText(v);
        EXPECT_EQ(ToText(ThroughText(v)), vfirst);
    }

    // Extremes stay finite and stable.
    for (float x : {FLT_MAX, -FLT_MAX, FLT_MIN, 1e-45f, -0.0f})
    {
        f.Default.Float = x;
        std::string first = ToText(f);
        SPropDesc back = ThroughText(f);
        EXPECT_TRUE(isfinite(back.Default.Float)) << first;
        EXPECT_EQ(ToText(back), first);
    }
}

TEST(ParamText, ReadsExponentsInScalarsAndVectorComponents)
{
    SPropDesc f(EVT_Float, "f");
    ParamFromText(f, "1.5e+006", false);
    EXPECT_EQ(f.Default.Float, 1500000.0f);
    ParamFromText(f, "2.5E-3", false);
    EXPECT_EQ(f.Default.Float, 0.0025f);

    SPropDesc v3(EVT_Vec3, "v");
    ParamFromText(v3, "1e-05;1.5e+06;-2.5E+3", false);
    ExpectVec(v3.Default.Vec3, 1e-5f, 1.5e6f, -2500.0f);
    ParamFromText(v3, " 1e-005; 1.5e+006; 3", false);
    ExpectVec(v3.Default.Vec3, 1e-5f, 1.5e6f, 3.0f);

    SPropDesc v2(EVT_Vec2, "v");
    ParamFromText(v2, "-3.40282e+38;1e+20", false);
    ExpectVec(v2.Default.Vec2, -3.40282e38f, 1e20f);

    SPropDesc col(EVT_ColRGBA, "c");
    ParamFromText(col, "1e-05;0;1;1.5e+06", false);
    ExpectVec(col.Default.ColRGBA, 1e-5f, 0.0f, 1.0f, 1.5e6f);

    SPropDesc polar(EVT_Polar, "p");
    ParamFromText(polar, "2e-3;4e+1;-1e0", false);
    ExpectVec(polar.Default.Polar, 0.002f, 40.0f, -1.0f);
}

TEST(ParamText, MalformedNumbersNeverFail)
{
    SPropDesc v3(EVT_Vec3, "v");
    v3.Default.Vec3 = mVec3(5.0f, 5.0f, 5.0f);
    ParamFromText(v3, "1;2", false);
    ExpectVec(v3.Default.Vec3, 0.0f, 0.0f, 0.0f);
    v3.Default.Vec3 = mVec3(5.0f, 5.0f, 5.0f);
    ParamFromText(v3, "a;b;c", false);
    ExpectVec(v3.Default.Vec3, 0.0f, 0.0f, 0.0f);
    v3.Default.Vec3 = mVec3(5.0f, 5.0f, 5.0f);
    ParamFromText(v3, "", false);
    ExpectVec(v3.Default.Vec3, 0.0f, 0.0f, 0.0f);

    SPropDesc v4(EVT_Vec4, "v");
    v4.Default.Vec4 = mVec4(5.0f, 5.0f, 5.0f, 5.0f);
    ParamFromText(v4, "1;2;3", false);
    ExpectVec(v4.Default.Vec4, 0.0f, 0.0f, 0.0f, 0.0f);

    SPropDesc i(EVT_Int, "i");
    ParamFromText(i, "  12ab", false);
    EXPECT_EQ(i.Default.Int, 12);
    ParamFromText(i, "-", false);
    EXPECT_EQ(i.Default.Int, 0);
    SPropDesc f(EVT_Float, "f");
    ParamFromText(f, " -3,25", false);
    EXPECT_EQ(f.Default.Float, -3.25f);
    ParamFromText(f, "x", false);
    EXPECT_EQ(f.Default.Float, 0.0f);
}

TEST(ParamText, StringsRoundTripByteForByte)
{
    const std::string cases[] = {
        "",
        "plain",
        "\"",
        "\\",
        "ends with a backslash\\",
        "two at the end\\\\",
        "what?\? and ?\?= too",
        "it's",
        "\a\b\f\n\r\t\v",
        "ANIM 0 1 0\nPOINT 0;0.5\nPOINT 1;1\n\n",
        "\x01\x02\x1b\x7f\x80\xff",
        "\\\"\\\\\"",
    };
    for (const std::string& c : cases)
    {
        SPropDesc s(EVT_String, "s");
        s.Default.String = T(c);
        TString text;
        ParamToText(s, text);

        // The value ends at the first quote after an even number of backslashes: the last one.
        std::string t = S(text);
        size_t end = std::string::npos;
        for (size_t k = 1; k < t.size(); ++k)
        {
            size_t run = 0;
            while (run < k - 1 && t[k - 1 - run] == '\\')
                ++run;
            if (t[k] == '"' && run % 2 == 0)
            {
                end = k;
                break;
            }
        }
        EXPECT_EQ(end, t.size() - 1) << t;

        SPropDesc back(EVT_String, "s");
        ParamFromText(back, Unquote(text).c_str(), false);
        EXPECT_EQ(S(back.Default.String), c);
    }
}

TEST(ParamText, RawStringsAreTakenAsTheyAre)
{
    SPropDesc s(EVT_Mesh, "m");
    ParamFromText(s, "a\\nb\\\"", true);
    EXPECT_EQ(S(s.Default.String), "a\\nb\\\"");
    ParamFromText(s, "\\a\\b", false);
    EXPECT_EQ(S(s.Default.String), "\a\b");
}

TEST(ParamText, StructuralEntriesAreNotRead)
{
    for (u32 type : {(u32)EVT_Null, (u32)EVT_Inherit, (u32)EVT_InheritInst})
    {
        TExpectBreak expect("Type == EVT_Null || Type == EVT_Inherit || Type == EVT_InheritInst");
        SPropDesc e(type, "x");
        e.Default.Int = 5;
        e.Default.String = "keep";
        ParamFromText(e, "9", false);
        EXPECT_EQ(e.Default.Int, 5);
        EXPECT_EQ(S(e.Default.String), "keep");
    }
}

TEST(ParamTextDeathTest, WritingStructuralOrUnknownTypesIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SPropDesc inh(EVT_Inherit, "x");
    EXPECT_EXIT(
        {
            TString out;
            ParamToText(inh, out);
        },
        testing::ExitedWithCode(222), "Type != EVT_Null && Type != EVT_Inherit && Type != EVT_InheritInst");
    SPropDesc odd(99, "x");
    EXPECT_EXIT(
        {
            TString out;
            ParamToText(odd, out);
        },
        testing::ExitedWithCode(222), "Parameter conversion error");
    EXPECT_EXIT(ParamFromText(odd, "1", false), testing::ExitedWithCode(222),
                "Parameter conversion error - invalid type");
}

// ---------------------------------------------------------------------------------------------
// Typed access

TEST(PropAccess, MatchingTypesGiveTheirSlotsSilently)
{
    SPropDesc i(EVT_Int, "i");
    i.AsInt() = 3;
    EXPECT_EQ(i.Default.Int, 3);
    SPropDesc hsv(EVT_ColHSV, "h");
    EXPECT_EQ(&hsv.AsColHSV(), &hsv.Default.Vec3);
    SPropDesc pos(EVT_Pos, "p");
    EXPECT_EQ(&pos.AsPos(), &pos.Default.Vec3);
    SPropDesc polar(EVT_Polar, "p");
    EXPECT_EQ(&polar.AsPolar(), &polar.Default.Polar);
    SPropDesc col(EVT_ColRGBA, "c");
    EXPECT_EQ(&col.AsColRGBA(), &col.Default.ColRGBA);
    for (u32 type = EVT_String; type <= EVT_Mesh; ++type)
    {
        SPropDesc s(type, "s");
        s.AsString() = "t";
        EXPECT_EQ(S(s.Default.String), "t");
    }
    EXPECT_EQ(CountBreaks(""), 0);
}

TEST(PropAccess, MismatchIsReportedAndTheAskedSlotReturned)
{
    SPropDesc hsv(EVT_ColHSV, "h");
    hsv.Default.Vec3 = mVec3(0.1f, 0.2f, 0.3f);
    {
        TExpectBreak expect("Type != EVT_Vec3");
        // The same three floats as AsColHSV.
        EXPECT_EQ(&hsv.AsVec3(), &hsv.AsColHSV());
    }
    SPropDesc i(EVT_Int, "i");
    {
        TExpectBreak expect("Type != EVT_Float");
        EXPECT_EQ(&i.AsFloat(), &i.Default.Float);
    }
    {
        TExpectBreak expect("Type < EVT_String || Type > EVT_Mesh");
        EXPECT_EQ(&i.AsString(), &i.Default.String);
    }
    {
        TExpectBreak expect("Type != EVT_InheritInst");
        EXPECT_EQ(&i.AsInheritInst(), &i.Default.Children);
    }
    SPropDesc s(EVT_String, "s");
    {
        TExpectBreak expect("Type != EVT_ID");
        EXPECT_EQ(&s.AsID(), &s.Default.Int);
    }
}

// ---------------------------------------------------------------------------------------------
// Property tables: CEntity <- TestBase <- TestLeaf

static SPropDesc GBaseProps[] = {
    PropInherit("CEntity", CEntity::PropTable()),
    PropVec2("pos0", mVec2(0.0f, 0.0f), mVec2(-1e9f, -1e9f), mVec2(1e9f, 1e9f)),
    PropString(EVT_String, "NName", "<unnamed>"),
    PropNull(),
};

static SPropDesc GLeafProps[] = {
    PropInherit("TestBase", GBaseProps),
    PropInt("Mode", 2, 0, 5),
    PropFloat("Amount", 0.25f, 0.0f, 1.0f),
    PropNull(),
};

static void ExpectStaticTablesUntouched()
{
    EXPECT_EQ(GLeafProps[0].Type, (u32)EVT_Inherit);
    EXPECT_EQ(GLeafProps[0].Default.inhptr, GBaseProps);
    EXPECT_EQ(GLeafProps[0].Default.Children.Count(), 0u);
    EXPECT_EQ(GBaseProps[0].Type, (u32)EVT_Inherit);
    EXPECT_EQ(GBaseProps[0].Default.Children.Count(), 0u);
    const SPropDesc* root = CEntity::PropTable();
    EXPECT_EQ(root[0].Type, (u32)EVT_Pos);
    EXPECT_EQ(root[1].Type, (u32)EVT_ID);
    EXPECT_EQ(root[2].Type, (u32)EVT_Null);
}

TEST(PropTable, EntityRootTable)
{
    const SPropDesc* root = CEntity::PropTable();
    EXPECT_EQ(S(root[0].Name), "_POS");
    ExpectVec(root[0].Default.Vec3, 0.0f, 0.0f, 0.0f);
    ExpectVec(root[0].Min.Vec3, -3.4028235e38f, -3.4028235e38f, -3.4028235e38f);
    ExpectVec(root[0].Max.Vec3, 3.4028235e38f, 3.4028235e38f, 3.4028235e38f);
    EXPECT_EQ(S(root[1].Name), "_ID");
    EXPECT_EQ(root[1].Default.Int, -1);
    EXPECT_EQ(root[1].Min.Int, -1);
    EXPECT_EQ(root[1].Max.Int, -1);
    EXPECT_EQ(S(root[2].Name), "");
}

TEST(PropTable, InstantiatesTheWholeChainNested)
{
    TArray<SPropDesc> t;
    InstantiatePropTable(t, GLeafProps);
    ASSERT_EQ(t.Count(), 4u);
    EXPECT_EQ(t[0].Type, (u32)EVT_InheritInst);
    EXPECT_EQ(S(t[0].Name), "TestBase");
    EXPECT_EQ(S(t[1].Name), "Mode");
    EXPECT_EQ(t[1].Default.Int, 2);
    EXPECT_EQ(t[2].Default.Float, 0.25f);
    EXPECT_EQ(t[3].Type, (u32)EVT_Null);

    const TArray<SPropDesc>& base = t[0].Default.Children;
    ASSERT_EQ(base.Count(), 4u);
    EXPECT_EQ(base[0].Type, (u32)EVT_InheritInst);
    EXPECT_EQ(S(base[0].Name), "CEntity");
    EXPECT_EQ(S(base[2].Default.String), "<unnamed>");
    EXPECT_EQ(base[3].Type, (u32)EVT_Null);

    const TArray<SPropDesc>& root = base[0].Default.Children;
    ASSERT_EQ(root.Count(), 3u);
    EXPECT_EQ(root[0].Type, (u32)EVT_Pos);
    EXPECT_EQ(root[1].Type, (u32)EVT_ID);
    EXPECT_EQ(root[1].Default.Int, -1);
    EXPECT_EQ(root[2].Type, (u32)EVT_Null);
    ExpectStaticTablesUntouched();

    // Instantiating again into a used table replaces what it held.
    t[1].Default.Int = 5;
    InstantiatePropTable(t, GBaseProps);
    ASSERT_EQ(t.Count(), 4u);
    EXPECT_EQ(S(t[1].Name), "pos0");
    InstantiatePropTable(t, GLeafProps);
    ASSERT_EQ(t.Count(), 4u);
    EXPECT_EQ(t[1].Default.Int, 2);
}

TEST(PropTable, CopiesAreDeep)
{
    TArray<SPropDesc> a;
    InstantiatePropTable(a, GLeafProps);
    TArray<SPropDesc> b = a;
    SPropDesc* idB = FindPropDesc(b, "_ID");
    ASSERT_NE(idB, nullptr);
    idB->Default.Int = 42;
    FindPropDesc(b, "NName")->Default.String = "changed";
    EXPECT_EQ(FindPropDesc(a, "_ID")->Default.Int, -1);
    EXPECT_EQ(S(FindPropDesc(a, "NName")->Default.String), "<unnamed>");
    EXPECT_NE(a[0].Default.Children.data, b[0].Default.Children.data);

    // Assignment over an existing table, and copying single records.
    a = b;
    EXPECT_EQ(FindPropDesc(a, "_ID")->Default.Int, 42);
    SPropValue v = b[0].Default;
    v.Children[1].Default.Vec2 = mVec2(3.0f, 4.0f);
    ExpectVec(b[0].Default.Children[1].Default.Vec2, 0.0f, 0.0f);
    ExpectStaticTablesUntouched();
}

TEST(PropTable, FindsNamesThroughNesting)
{
    TArray<SPropDesc> t;
    InstantiatePropTable(t, GLeafProps);
    EXPECT_EQ(FindPropDesc(t, "_ID"), &t[0].Default.Children[0].Default.Children[1]);
    EXPECT_EQ(FindPropDesc(t, "_POS"), &t[0].Default.Children[0].Default.Children[0]);
    EXPECT_EQ(FindPropDesc(t, "pos0"), &t[0].Default.Children[1]);
    EXPECT_EQ(FindPropDesc(t, "Amount"), &t[2]);
    EXPECT_EQ(FindPropDesc(t, "amount"), nullptr);
    EXPECT_EQ(FindPropDesc(t, "Missing"), nullptr);
    // Inherit entries carry no name of their own in searches that matter, but are entries too.
    EXPECT_EQ(FindPropDesc(t, "TestBase"), &t[0]);

    // Static tables are searched through their base pointers.
    const SPropDesc* leaf = GLeafProps;
    EXPECT_EQ(FindPropDesc(leaf, "_ID", 65535), &CEntity::PropTable()[1]);
    EXPECT_EQ(FindPropDesc(leaf, "NName", 65535), &GBaseProps[2]);
    // The limit counts entries of this table only.
    EXPECT_EQ(FindPropDesc(leaf, "Amount", 2), nullptr);
    EXPECT_EQ(FindPropDesc(leaf, "Amount", 3), &GLeafProps[2]);
    EXPECT_EQ(FindPropDesc(leaf, "_ID", 1), &CEntity::PropTable()[1]);
}

TEST(PropTable, BaseNamesWinOverLaterEntries)
{
    static SPropDesc shadow[] = {
        PropInherit("TestBase", GBaseProps),
        PropString(EVT_String, "NName", "own"),
        PropNull(),
    };
    TArray<SPropDesc> t;
    InstantiatePropTable(t, shadow);
    EXPECT_EQ(FindPropDesc(t, "NName"), &t[0].Default.Children[2]);
}

TEST(PropTable, WritesTheDocumentText)
{
    TArray<SPropDesc> t;
    InstantiatePropTable(t, GLeafProps);
    TString text;
    PropTableToText(t, text);
    EXPECT_EQ(S(text), "_POS=\"0;0;0\" _ID=\"-1\" pos0=\"0;0\" NName=\"<unnamed>\" Mode=\"2\" Amount=\"0.25\"");

    FindPropDesc(t, "_POS")->AsPos() = mVec3(1.0f, 2.0f, 3.0f);
    FindPropDesc(t, "_ID")->AsID() = 7;
    FindPropDesc(t, "pos0")->AsVec2() = mVec2(10.0f, -20.5f);
    FindPropDesc(t, "NName")->AsString() = "a \"b\"\n";
    FindPropDesc(t, "Mode")->AsInt() = 3;
    FindPropDesc(t, "Amount")->AsFloat() = 1.5e6f;
    PropTableToText(t, text);
    EXPECT_EQ(S(text),
              "_POS=\"1;2;3\" _ID=\"7\" pos0=\"10;-20.5\" NName=\"a \\\"b\\\"\\n\" Mode=\"3\" Amount=\"1.5e+06\"");

    // The static table writes its defaults through the base pointers.
    PropTableToText(GLeafProps, text);
    EXPECT_EQ(S(text), "_POS=\"0;0;0\" _ID=\"-1\" pos0=\"0;0\" NName=\"<unnamed>\" Mode=\"2\" Amount=\"0.25\"");

    PropDescToText(t[1], text);
    EXPECT_EQ(S(text), "Mode=\"3\"");
    PropDescToText(t[0], text);
    EXPECT_EQ(S(text), "_POS=\"1;2;3\" _ID=\"7\" pos0=\"10;-20.5\" NName=\"a \\\"b\\\"\\n\"");
}

TEST(PropTable, BrokenTablesKeepDefaults)
{
    static SPropDesc broken[] = {
        PropInherit("Nothing", nullptr),
        PropInt("X", 4, 0, 9),
        PropNull(),
    };
    TArray<SPropDesc> t;
    {
        TExpectBreak expect("!Obj.inhptr");
        InstantiatePropTable(t, broken);
    }
    ASSERT_EQ(t.Count(), 3u);
    EXPECT_EQ(t[0].Type, (u32)EVT_InheritInst);
    ASSERT_EQ(t[0].Default.Children.Count(), 1u);
    EXPECT_EQ(t[0].Default.Children[0].Type, (u32)EVT_Null);
    EXPECT_EQ(FindPropDesc(t, "X"), &t[1]);
    TString text;
    PropTableToText(t, text);
    EXPECT_EQ(S(text), "X=\"4\"");

    // A null static table leaves the output as it was.
    {
        TExpectBreak expect("!data");
        InstantiatePropTable(t, nullptr);
    }
    EXPECT_EQ(t.Count(), 3u);

    // A nested entry whose list is empty is skipped.
    TArray<SPropDesc> empty;
    empty.Add(SPropDesc(EVT_InheritInst, "Empty"));
    empty.Add(PropInt("Y", 1, 0, 1));
    empty.Add(PropNull());
    {
        TExpectBreak expect("at >= count");
        EXPECT_EQ(FindPropDesc(empty, "Y"), &empty[1]);
    }
}

// ---------------------------------------------------------------------------------------------
// CEntity

class TTestEntity : public CEntity
{
public:
    s32 Mode;
    explicit TTestEntity(TArray<SPropDesc>& t) : CEntity(t[0].AsInheritInst()[0].AsInheritInst()), Mode(t[1].AsInt())
    {
    }
    void Reserved1(u32) override {}
    void StoreParams(TArray<SPropDesc>& t) override
    {
        CEntity::StoreParams(t[0].AsInheritInst()[0].AsInheritInst());
        t[1].AsInt() = Mode;
    }
    static CEntity* Create(TArray<SPropDesc>& t) { return new TTestEntity(t); }
};

TEST(Entity, ReadsAndStoresItsValues)
{
    TArray<SPropDesc> t;
    InstantiatePropTable(t, GLeafProps);
    FindPropDesc(t, "_POS")->AsPos() = mVec3(1.0f, -2.0f, 3.5f);
    FindPropDesc(t, "_ID")->AsID() = 12;
    FindPropDesc(t, "Mode")->AsInt() = 4;
    TTestEntity e(t);
    EXPECT_EQ(e.ID, 12);
    ExpectVec(e.Pos, 1.0f, -2.0f, 3.5f);
    EXPECT_EQ(e.ClassInfo, nullptr);

    e.ID = 99;
    e.Pos = mVec3(0.5f, 0.25f, 0.125f);
    e.Mode = 1;
    TArray<SPropDesc> out;
    InstantiatePropTable(out, GLeafProps);
    e.StoreParams(out);
    TString text;
    PropTableToText(out, text);
    EXPECT_EQ(S(text), "_POS=\"0.5;0.25;0.125\" _ID=\"99\" pos0=\"0;0\" NName=\"<unnamed>\" Mode=\"1\" Amount=\"0.25\"");
}

TEST(Entity, ShortTablesKeepDefaults)
{
    TArray<SPropDesc> one;
    one.Add(PropVec3(EVT_Pos, "_POS", mVec3(5.0f, 5.0f, 5.0f), mVec3(0, 0, 0), mVec3(0, 0, 0)));
    TExpectBreak expect("at >= count", 2);
    class TShort : public CEntity
    {
    public:
        using CEntity::CEntity;
        void Reserved1(u32) override {}
    };
    TShort e(one);
    EXPECT_EQ(e.ID, -1);
    ExpectVec(e.Pos, 0.0f, 0.0f, 0.0f);
    e.ID = 3;
    e.StoreParams(one);
    ExpectVec(one[0].Default.Vec3, 5.0f, 5.0f, 5.0f);
}

TEST(Entity, SerializesIdAndPositionBigEndian)
{
    TArray<SPropDesc> t;
    InstantiatePropTable(t, GLeafProps);
    TTestEntity e(t);
    e.ID = 0x01020304;
    e.Pos = mVec3(1.0f, -2.0f, 0.5f);
    TPodArray<u8> bytes;
    FByteWriter w(bytes, 0);
    e.Serialize(w, 0);
    const u8 expected[16] = {0x01, 0x02, 0x03, 0x04, 0x3F, 0x80, 0x00, 0x00,
                             0xC0, 0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00};
    ASSERT_EQ(bytes.Count(), 16u);
    EXPECT_EQ(memcmp(bytes.data, expected, 16), 0);

    TTestEntity back(t);
    FByteReader r(bytes, 0);
    back.Serialize(r, 0);
    EXPECT_EQ(back.ID, 0x01020304);
    ExpectVec(back.Pos, 1.0f, -2.0f, 0.5f);
    EXPECT_TRUE(r.AtEnd());
}

// ---------------------------------------------------------------------------------------------
// Class registry

// Registers test records on the global list and restores it afterwards.
class ClassRegistry : public testing::Test
{
protected:
    SClassInfoList saved;
    void SetUp() override { saved = GClassInfoList; }
    void TearDown() override { GClassInfoList = saved; }
};

TEST_F(ClassRegistry, NewestFirstAndExactNames)
{
    static SClassInfo a("TestRegA", &TTestEntity::Create, GLeafProps);
    static SClassInfo b("TestRegB", &TTestEntity::Create, GLeafProps);
    static SClassInfo c("TestRegC", &TTestEntity::Create, GLeafProps);
    u32 count = GClassInfoList.Count;
    RegisterClassInfo(&a);
    RegisterClassInfo(&b);
    RegisterClassInfo(&c);
    EXPECT_EQ(GClassInfoList.Count, count + 3);
    EXPECT_EQ(GClassInfoList.Head, &c);
    EXPECT_EQ(c.Next, &b);
    EXPECT_EQ(b.Next, &a);
    EXPECT_EQ(a.Next, saved.Head);

    EXPECT_EQ(FindClassInfo("TestRegB"), &b);
    EXPECT_EQ(FindClassInfo("testregb"), nullptr);
    EXPECT_EQ(FindClassInfo("TestReg"), nullptr);

    // The same name twice: the newer record wins.
    static SClassInfo c2("TestRegC", &TTestEntity::Create, GBaseProps);
    RegisterClassInfo(&c2);
    EXPECT_EQ(FindClassInfo("TestRegC"), &c2);
}

TEST_F(ClassRegistry, CreatesByName)
{
    static SClassInfo leaf("TestRegLeaf", &TTestEntity::Create, GLeafProps);
    RegisterClassInfo(&leaf);

    SClassInfo* info = FindClassInfo("TestRegLeaf");
    ASSERT_NE(info, nullptr);
    TArray<SPropDesc> t;
    InstantiatePropTable(t, info->Props);
    FindPropDesc(t, "_ID")->AsID() = 31;
    FindPropDesc(t, "Mode")->AsInt() = 5;
    CEntity* e = CreateByClassName("TestRegLeaf", t);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->ID, 31);
    EXPECT_EQ(static_cast<TTestEntity*>(e)->Mode, 5);
    delete e;

    EXPECT_EQ(CreateByClassName("testregleaf", t), nullptr);
    EXPECT_EQ(CreateByClassName("NoSuchClass", t), nullptr);
}

TEST_F(ClassRegistry, NamesAreBounded)
{
    std::string longName(100, 'N');
    SClassInfo info(longName.c_str(), nullptr, nullptr);
    EXPECT_EQ(strlen(info.Name), 63u);
    EXPECT_EQ(std::string(info.Name), longName.substr(0, 63));
    SClassInfo none(nullptr, nullptr, nullptr);
    EXPECT_EQ(none.Name[0], 0);
}

// ---------------------------------------------------------------------------------------------
// TSafeObject

namespace
{
struct TTracked : public TSafeObject
{
    int Value = 0;
};

struct THolder
{
    TTracked* Ptr = nullptr;
    void Take(TTracked* t)
    {
        Ptr = t;
        t->AddHolder(&Ptr);
    }
    ~THolder()
    {
        if (Ptr)
            Ptr->RemoveHolder(&Ptr);
    }
};
} // namespace

TEST(SafeObject, DyingObjectClearsEveryHolder)
{
    TTracked* obj = new TTracked;
    THolder h1, h2;
    h1.Take(obj);
    h2.Take(obj);
    EXPECT_EQ(obj->HolderCount(), 2u);
    delete obj;
    EXPECT_EQ(h1.Ptr, nullptr);
    EXPECT_EQ(h2.Ptr, nullptr);
}

TEST(SafeObject, HolderThatLeavesFirstIsNotWritten)
{
    TTracked* obj = new TTracked;
    THolder* gone = new THolder;
    THolder stays;
    gone->Take(obj);
    stays.Take(obj);
    delete gone; // unregisters; the object must not write into its freed memory later
    EXPECT_EQ(obj->HolderCount(), 1u);
    delete obj;
    EXPECT_EQ(stays.Ptr, nullptr);

    TTracked other;
    TTracked* loose = &other;
    EXPECT_FALSE(other.RemoveHolder(&loose));
}

TEST(SafeObject, CopiesStartWithoutHolders)
{
    TTracked* obj = new TTracked;
    THolder h;
    h.Take(obj);
    TTracked* copy = new TTracked(*obj);
    EXPECT_EQ(copy->HolderCount(), 0u);
    delete copy;
    EXPECT_EQ(h.Ptr, obj);

    TTracked assigned;
    THolder h2;
    h2.Take(&assigned);
    assigned = *obj; // keeps its own holders, takes none
    EXPECT_EQ(assigned.HolderCount(), 1u);
    delete obj;
    EXPECT_EQ(h.Ptr, nullptr);
    EXPECT_EQ(h2.Ptr, &assigned);
}

// ---------------------------------------------------------------------------------------------
// Registration from static objects, before main

static SClassInfo GStaticTestClass("TestStaticEntity", &TTestEntity::Create, GLeafProps);
static const bool GStaticTestRegistered = (RegisterClassInfo(&GStaticTestClass), true);

// Every class that registers itself from a static object. Classes added to the engine or the
// editor belong in this list, so that a registration lost at link time fails here.
static const char* const kExpectedClasses[] = {
    "TestStaticEntity",
};

TEST(RegisteredClasses, EveryExpectedClassIsPresentOnce)
{
    EXPECT_TRUE(GStaticTestRegistered);
    std::vector<std::string> names;
    u32 walked = 0;
    for (SClassInfo* p = GClassInfoList.Head; p && walked <= GClassInfoList.Count; p = p->Next, ++walked)
    {
        names.push_back(p->Name);
        EXPECT_NE(p->Create, nullptr) << p->Name;
        EXPECT_NE(p->Props, nullptr) << p->Name;
        EXPECT_EQ(FindClassInfo(p->Name), p) << p->Name << " registered twice";
    }
    EXPECT_EQ(walked, GClassInfoList.Count);
    for (const char* name : kExpectedClasses)
        EXPECT_EQ(std::count(names.begin(), names.end(), std::string(name)), 1) << name;

    // Each registered table instantiates and writes its defaults.
    for (SClassInfo* p = GClassInfoList.Head; p; p = p->Next)
    {
        TArray<SPropDesc> t;
        InstantiatePropTable(t, p->Props);
        ASSERT_GT(t.Count(), 0u);
        EXPECT_EQ(t.Last().Type, (u32)EVT_Null) << p->Name;
        EXPECT_NE(FindPropDesc(t, "_ID"), nullptr) << p->Name;
    }
}

// Texts beyond the float range read as the largest finite float of their sign, and only finite
// numbers are written, so that save, load, save gives the same text and the same value.
TEST(ParamText, OutOfRangeNumbersSurviveSaveAndReload)
{
    struct SCase
    {
        const char* text;
        float read; // what reading the text must give
    };
    const SCase cases[] = {
        {"1e39", FLT_MAX},
        {"-1e39", -FLT_MAX},
        {"3.4028235e38", FLT_MAX},
        {"1e-50", 0.0f},
        {"-1e-50", -0.0f},
        {"inf", FLT_MAX}, // written by older saves
        {"-inf", -FLT_MAX},
        {"nan", 0.0f}, // undefined values read as 0
        {"-nan", 0.0f},
    };
    for (const SCase& c : cases)
    {
        SPropDesc f(EVT_Float, "f");
        ParamFromText(f, c.text, false);
        EXPECT_EQ(f.Default.Float, c.read) << c.text;
        const std::string saved = ToText(f);
        const SPropDesc reloaded = ThroughText(f);
        EXPECT_TRUE(isfinite(reloaded.Default.Float)) << saved;
        EXPECT_EQ(signbit(reloaded.Default.Float), signbit(c.read)) << saved;
        EXPECT_EQ(ToText(reloaded), saved) << c.text;
        EXPECT_EQ(ToText(ThroughText(reloaded)), saved) << c.text;

        // The same number in every component position of a vector, next to ordinary ones.
        for (int at = 0; at < 4; ++at)
        {
            std::string text;
            for (int k = 0; k < 4; ++k)
                text += std::string(k ? ";" : "") + (k == at ? c.text : "2.5");
            SPropDesc v(EVT_Vec4, "v");
            ParamFromText(v, text.c_str(), false);
            const float* got = &v.Default.Vec4.x;
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(got[k], k == at ? c.read : 2.5f) << text;
            const std::string vsaved = ToText(v);
            const SPropDesc vback = ThroughText(v);
            const float* back = &vback.Default.Vec4.x;
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(signbit(back[k]), signbit(got[k])) << vsaved;
            EXPECT_NE(back[at == 0 ? 1 : 0], 0.0f) << vsaved; // the vector was not refused
            EXPECT_EQ(ToText(vback), vsaved) << text;
        }
    }

    // Values that are not finite in memory are written as finite texts.
    struct SWritten
    {
        float value;
        const char* text;
    };
    const SWritten written[] = {
        {INFINITY, "\"3.40282e+38\""},
        {-INFINITY, "\"-3.40282e+38\""},
        {NAN, "\"0\""},
    };
    for (const SWritten& w : written)
    {
        SPropDesc f(EVT_Float, "f");
        f.Default.Float = w.value;
        EXPECT_EQ(ToText(f), w.text);
        SPropDesc v(EVT_Vec2, "v");
        v.Default.Vec2 = mVec2(w.value, 1.0f);
        const std::string inner(w.text + 1, strlen(w.text) - 2);
        EXPECT_EQ(ToText(v), "\"" + inner + ";1\"");
    }
}
