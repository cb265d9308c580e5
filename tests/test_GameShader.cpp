// Shader source directives, storage keys and stage texts (no GL), then programs on the
// off-screen context.
#include "TestSupport.h"

#include <string.h>

#include <string>

#include "GameShader.h"

static TArray<TString> Defines(std::initializer_list<const char*> names)
{
    TArray<TString> out;
    for (const char* n : names)
        out.Add(TString(n));
    return out;
}

TEST(GameShaderText, StorageKeysKeepDefineOrder)
{
    EXPECT_STREQ(ShaderStorageKey("Blur", Defines({"A", "B"})).Str(), "Blur#A#B");
    EXPECT_STREQ(ShaderStorageKey("Blur", Defines({"B", "A"})).Str(), "Blur#B#A");
    EXPECT_STREQ(ShaderStorageKey("Nodes/Basic/Transform", Defines({})).Str(), "Nodes/Basic/Transform");
    EXPECT_STREQ(ShaderFilePath("Nodes/Basic/Transform").Str(), "Data/Shaders/Nodes/Basic/Transform.mtl");
}

TEST(GameShaderText, FailNamesOnlyTheVariantsHoldingItsDefine)
{
    const char* source = "#fail SKINNED\nvoid main() {}\n#fail \t OTHER_1\nend";
    {
        TString text(source);
        EXPECT_FALSE(ShaderApplyFail(text, Defines({"PASS_BASE", "SIMPLE"})));
        // Both directive lines are gone, line breaks included.
        EXPECT_STREQ(text.Str(), "void main() {}\nend");
    }
    {
        TString text(source);
        EXPECT_TRUE(ShaderApplyFail(text, Defines({"PASS_BASE", "SKINNED"})));
    }
    {
        TString text(source);
        EXPECT_TRUE(ShaderApplyFail(text, Defines({"OTHER_1"})));
    }
    {
        // Exact, case-sensitive words: neither a prefix nor another case matches.
        TString text(source);
        EXPECT_FALSE(ShaderApplyFail(text, Defines({"SKIN", "skinned", "SKINNED2"})));
    }
}

TEST(GameShaderText, SetKeepsTheLastValueAndRemovesTheLines)
{
    TMap<TString, TString> settings;
    TString text("#set Blend add\nbody1\n#set  Mode\t2_b\n#set Blend max\nbody2\n");
    ShaderApplySet(text, settings);
    EXPECT_STREQ(text.Str(), "body1\nbody2\n");
    ASSERT_EQ(settings.Count(), 2u);
    ASSERT_NE(settings.FindValue(TString("Blend")), nullptr);
    EXPECT_STREQ(settings.FindValue(TString("Blend"))->Str(), "max");
    ASSERT_NE(settings.FindValue(TString("Mode")), nullptr);
    EXPECT_STREQ(settings.FindValue(TString("Mode"))->Str(), "2_b");
}

TEST(GameShaderText, DirectivesAtTheVeryEndStayInsideTheText)
{
    TMap<TString, TString> settings;
    TString text("body\n#set K V");
    ShaderApplySet(text, settings);
    EXPECT_STREQ(text.Str(), "body\n");
    EXPECT_STREQ(settings.FindValue(TString("K"))->Str(), "V");

    TString bare("#set");
    ShaderApplySet(bare, settings);
    EXPECT_STREQ(bare.Str(), "#set"); // not a directive without its blank

    TString nameOnly("x\n#set ");
    ShaderApplySet(nameOnly, settings);
    EXPECT_STREQ(nameOnly.Str(), "x\n");

    TString failLast("a\n#fail X");
    EXPECT_FALSE(ShaderApplyFail(failLast, Defines({"Y"})));
    EXPECT_STREQ(failLast.Str(), "a\n");

    TString failOnly("#fail ");
    EXPECT_FALSE(ShaderApplyFail(failOnly, Defines({"Y"})));
    EXPECT_STREQ(failOnly.Str(), "");
}

TEST(GameShaderText, StageTextsAreDefinesThenPreludeThenBody)
{
    const TString body("void main() {}\n");
    const TString vs = ShaderStageSource(Defines({"PASS_BASE", "VS_SIMPLE"}), GShaderVertexPrelude, body);
    EXPECT_STREQ(vs.Str(), "#define PASS_BASE\n"
                           "#define VS_SIMPLE\n"
                           "#define VSHADER\n"
                           "#define MAX_INSTANCE_COUNT 16\n"
                           "#define MAX_BONE_COUNT 64\n"
                           "uniform mat4 ViewMatrix;\n"
                           "uniform mat4 ProjectionMatrix;\n"
                           "attribute vec4 GLVertex;\n"
                           "attribute vec3 GLNormal;\n"
                           "attribute vec4 GLTangent;\n"
                           "attribute vec4 GLColor;\n"
                           "attribute vec4 GLBlendIndices;\n"
                           "attribute vec4 GLBlendWeights;\n"
                           "attribute vec4 GLTexCoord0;\n"
                           "attribute vec4 GLTexCoord1;\n"
                           "\n"
                           "void main() {}\n");
    const TString fs = ShaderStageSource(Defines({"A"}), GShaderFragmentPrelude, body);
    EXPECT_STREQ(fs.Str(), "#define A\n#define PSHADER\n\nvoid main() {}\n");

    // An overlong define is cut so that its line still ends with a line break within 512 bytes.
    std::string longName(700, 'D');
    const TString cut = ShaderStageSource(Defines({longName.c_str()}), GShaderFragmentPrelude, body);
    const char* nl = strchr(cut.Str(), '\n');
    ASSERT_NE(nl, nullptr);
    EXPECT_LE(nl - cut.Str() + 1, 512);
    EXPECT_EQ(strncmp(nl + 1, "#define PSHADER\n", 16), 0);
}
