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

// ---------------------------------------------------------------------------------------------
// Programs on the off-screen context

#include <GL/glew.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>
#include <sstream>

#include "GLTestContext.h"
#include "GameFileIO.h"

static void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

static std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

static void SetFileTime(const std::string& path, time_t t)
{
    struct utimbuf times;
    times.actime = t;
    times.modtime = t;
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

static const char* GTestShaderBody = "uniform float Brightness;\n"
                                     "uniform vec4 Tint;\n"
                                     "uniform mat4 Extra;\n"
                                     "#ifdef VSHADER\n"
                                     "void main() { gl_Position = Extra * ProjectionMatrix * ViewMatrix * GLVertex; }\n"
                                     "#endif\n"
                                     "#ifdef PSHADER\n"
                                     "uniform sampler2D Tex0;\n"
                                     "uniform sampler2D Tex1;\n"
                                     "uniform sampler2D Tex3;\n"
                                     "void main() { gl_FragColor = Tint * Brightness + texture2D(Tex0, vec2(0.5))\n"
                                     "    + texture2D(Tex1, vec2(0.5)) + texture2D(Tex3, vec2(0.5)); }\n"
                                     "#endif\n";

// A storage over a temporary data root holding Data/Shaders/.
class ShaderGL : public testing::Test
{
protected:
    TTempDir dir;
    TString savedBase;
    SShaderStorage storage;
    std::string shaderDir;

    void SetUp() override
    {
        ASSERT_TRUE(GLTest_Init());
        savedBase = GBaseFolder;
        GBaseFolder = (dir.Path() + "/").c_str();
        shaderDir = dir.Path() + "/Data/Shaders";
        ASSERT_EQ(system(("mkdir -p '" + shaderDir + "/Sub'").c_str()), 0);
        GCurShader = nullptr;
    }
    void TearDown() override
    {
        glUseProgram(0);
        GCurShader = nullptr;
        GBaseFolder = savedBase;
    }
    std::string ShaderFile(const char* name) { return shaderDir + "/" + name + ".mtl"; }
};

TEST_F(ShaderGL, VariantsCompileWithFixedLocationsAndSamplerUnits)
{
    WriteFile(ShaderFile("Test"), std::string("#set Mode fancy\n#fail SKINNED\n") + GTestShaderBody);
    SShader* a = LoadShader(&storage, "Test", Defines({"A"}), 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(a->Program, 0u);
    EXPECT_EQ(LoadShader(&storage, "Test", Defines({"A"}), 0), a); // found again by key
    EXPECT_EQ(storage.Shaders.Count(), 1u);
    EXPECT_STREQ(a->Name.Str(), "Test");
    EXPECT_STREQ(a->Settings.FindValue(TString("Mode"))->Str(), "fancy");
    EXPECT_EQ(a->BuiltIns.Count(), (u32)SBI_Count);
    EXPECT_EQ(a->BuiltIns[SBI_WorldMatrix].Cached, 0u);
    EXPECT_EQ(a->BuiltIns[SBI_ViewMatrix].Cached, 1u);
    EXPECT_EQ(a->FileTime, FileModifiedTime("Data/Shaders/Test.mtl"));
    EXPECT_GT(a->FileTime, 0u);

    EXPECT_EQ(glGetAttribLocation(a->Program, "GLVertex"), 0);
    // Sampler units as GL reports them: TexN reads unit N.
    GLint unit = -1;
    glGetUniformiv(a->Program, glGetUniformLocation(a->Program, "Tex1"), &unit);
    EXPECT_EQ(unit, 1);
    glGetUniformiv(a->Program, glGetUniformLocation(a->Program, "Tex3"), &unit);
    EXPECT_EQ(unit, 3);
    EXPECT_EQ(a->BuiltIns[SBI_Tex0 + 2].Uniform->Location, -1);

    // ("A", "B") and ("B", "A") are two variants; "SKINNED" fails without a program.
    SShader* ab = LoadShader(&storage, "Test", Defines({"A", "B"}), 0);
    SShader* ba = LoadShader(&storage, "Test", Defines({"B", "A"}), 0);
    EXPECT_NE(ab, ba);
    EXPECT_NE(ab->Program, 0u);
    EXPECT_NE(ba->Program, 0u);
    SShader* skinned = LoadShader(&storage, "Test", Defines({"A", "SKINNED"}), 0);
    ASSERT_NE(skinned, nullptr);
    EXPECT_EQ(skinned->Program, 0u);
    EXPECT_EQ(skinned->BuiltIns.Count(), 0u);
    EXPECT_EQ(storage.Shaders.Count(), 4u);
    EXPECT_NE(storage.Shaders.FindValue(TString("Test#A#SKINNED")), nullptr);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(ShaderGL, IncludesAreExpandedRelativeToTheShader)
{
    WriteFile(shaderDir + "/Sub/Common.inc", "uniform float Brightness;\n");
    WriteFile(ShaderFile("Sub/Inc"), "#include \"Common.inc\"\n"
                                     "#ifdef VSHADER\nvoid main() { gl_Position = GLVertex * Brightness; }\n#endif\n"
                                     "#ifdef PSHADER\nvoid main() { gl_FragColor = vec4(Brightness); }\n#endif\n");
    SShader* sp = LoadShader(&storage, "Sub/Inc", Defines({}), 0);
    ASSERT_NE(sp->Program, 0u);
    EXPECT_NE(glGetUniformLocation(sp->Program, "Brightness"), -1);
}

TEST_F(ShaderGL, SettersSkipUnchangedValues)
{
    WriteFile(ShaderFile("Test"), GTestShaderBody);
    SShader* sp = LoadShader(&storage, "Test", Defines({}), 0);
    ASSERT_NE(sp->Program, 0u);
    glUseProgram(sp->Program);
    GCurShader = sp;
    const GLint loc = glGetUniformLocation(sp->Program, "Brightness");
    ASSERT_NE(loc, -1);
    float got = 0;

    SetUniformFloat(sp, "Brightness", 2.0f);
    glGetUniformfv(sp->Program, loc, &got);
    EXPECT_EQ(got, 2.0f);
    // Changed behind the cache: the same value again is skipped, a new one is sent.
    glUniform1f(loc, 5.0f);
    SetUniformFloat(sp, "Brightness", 2.0f);
    glGetUniformfv(sp->Program, loc, &got);
    EXPECT_EQ(got, 5.0f);
    SetUniformFloat(sp, "Brightness", 3.0f);
    glGetUniformfv(sp->Program, loc, &got);
    EXPECT_EQ(got, 3.0f);

    const GLint tint = glGetUniformLocation(sp->Program, "Tint");
    const float v[4] = {0.1f, 0.2f, 0.3f, 0.4f};
    float back[4] = {};
    SetUniformVec4(sp, "Tint", v);
    glGetUniformfv(sp->Program, tint, back);
    EXPECT_EQ(back[2], 0.3f);
    glUniform4f(tint, 0, 0, 0, 0);
    SetUniformVec4(sp, "Tint", v);
    glGetUniformfv(sp->Program, tint, back);
    EXPECT_EQ(back[2], 0.0f);

    // The view matrix through its built-in.
    for (int i = 0; i < 16; ++i)
        GViewMatrix.m[i] = (float)(i + 1);
    R_UploadViewMatrix(sp);
    float m[16] = {};
    glGetUniformfv(sp->Program, glGetUniformLocation(sp->Program, "ViewMatrix"), m);
    EXPECT_EQ(m[0], 1.0f);
    EXPECT_EQ(m[14], 15.0f);
    GViewMatrix = mMat4();

    // A null value is reported and nothing happens; so does a variant without a program.
    {
        TExpectBreak expected("!v");
        SetUniformVec4(sp, "Tint", nullptr);
        SetUniformMatrix4(sp, "Extra", 1, false, nullptr);
    }
    SShader none;
    SetUniformFloat(&none, "Brightness", 1.0f);
    SetUniformVec4(&none, "Tint", v);
    R_UploadViewMatrix(&none);
    R_UploadProjectionMatrix(&none);
    R_UploadViewMatrix(nullptr);
    EXPECT_EQ(none.Uniforms.Count(), 0u);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(ShaderGL, ChangedSourcesReloadAndTheProgramCacheFollows)
{
    const std::string file = ShaderFile("Hot");
    WriteFile(file, "#ifdef VSHADER\nvoid main() { gl_Position = GLVertex; }\n#endif\n"
                    "#ifdef PSHADER\nvoid main() { gl_FragColor = vec4(1.0); }\n#endif\n");
    SetFileTime(file, 1000000);
    SShader* sp = LoadShader(&storage, "Hot", Defines({}), 0);
    SShader* spB = LoadShader(&storage, "Hot", Defines({"B"}), 0);
    ASSERT_NE(sp->Program, 0u);
    EXPECT_EQ(sp->FileTime, 1000000u);
    glUseProgram(sp->Program);
    GCurShader = sp;

    // Unchanged: nothing is rebuilt.
    const u32 before = sp->Program;
    EXPECT_EQ(ReloadChangedShaders(&storage), 0u);
    EXPECT_EQ(sp->Program, before);

    // A newer file rebuilds every variant in place.
    WriteFile(file, "uniform float Brightness;\n"
                    "#ifdef VSHADER\nvoid main() { gl_Position = GLVertex; }\n#endif\n"
                    "#ifdef PSHADER\nvoid main() { gl_FragColor = vec4(Brightness); }\n#endif\n");
    SetFileTime(file, 1000005);
    EXPECT_EQ(ReloadChangedShaders(&storage), 2u);
    EXPECT_EQ(LoadShader(&storage, "Hot", Defines({}), 0), sp); // same record for its holders
    EXPECT_EQ(sp->FileTime, 1000005u);
    EXPECT_EQ(spB->FileTime, 1000005u);
    ASSERT_NE(sp->Program, 0u);
    EXPECT_NE(glGetUniformLocation(sp->Program, "Brightness"), -1);
    EXPECT_EQ(ReloadChangedShaders(&storage), 0u);

    // The program in use was deleted and the loader unbound programs: the cache forgot it, so
    // the next use binds the new program instead of being skipped.
    EXPECT_EQ(GCurShader, nullptr);
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
}

// Answers the first Retry question after repairing the shader on disk.
static std::string GRepairFile;
static std::string GRepairText;
static int GRetryQuestions = 0;
static TSysBoxHook GOuterHook = nullptr;
static int RepairingHook(ESysBoxKind kind, const char* text, const char* caption)
{
    if (kind == SYSBOX_Question && std::string(caption) == "Shader loading error")
    {
        ++GRetryQuestions;
        WriteFile(GRepairFile, GRepairText);
        return 1;
    }
    return GOuterHook(kind, text, caption);
}

TEST_F(ShaderGL, RetryRereadsTheSource)
{
    const char* good = "#ifdef VSHADER\nvoid main() { gl_Position = GLVertex; }\n#endif\n"
                       "#ifdef PSHADER\nvoid main() { gl_FragColor = vec4(1.0); }\n#endif\n";
    GRepairFile = ShaderFile("Broken");
    GRepairText = good;
    GRetryQuestions = 0;
    WriteFile(GRepairFile, "#ifdef VSHADER\nvoid main() { gl_Position = nonsense; }\n#endif\n");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    GOuterHook = gSysGetBoxHook();
    gSysSetBoxHook(RepairingHook);
    SShader* sp = LoadShader(&storage, "Broken", Defines({"X"}), 0);
    gSysSetBoxHook(GOuterHook);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(GRetryQuestions, 1);
    EXPECT_NE(sp->Program, 0u);
    // The failed stage went to the working folder, defines first.
    const std::string dumped = ReadFile(dir.File("lastFailedShader.txt"));
    EXPECT_EQ(dumped.rfind("#define X\n#define VSHADER\n", 0), 0u) << dumped;
    EXPECT_NE(dumped.find("nonsense"), std::string::npos);
}

// A declined retry ends the process with the loader's codes (as the shell sees them).
TEST(ShaderGLDeathTest, DeclinedRetriesEndWithTheLoaderExitCodes)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string root = DeathDir();
    ASSERT_EQ(system(("mkdir -p '" + root + "/Data/Shaders'").c_str()), 0);
    WriteFile(root + "/Data/Shaders/Bad.mtl", "#ifdef VSHADER\nvoid main() { gl_Position = nonsense; }\n#endif\n"
                                              "#ifdef PSHADER\nvoid main() { gl_FragColor = vec4(1.0); }\n#endif\n");
    WriteFile(root + "/Data/Shaders/BadLink.mtl", "#ifdef VSHADER\nvoid helper();\nvoid main() { helper(); gl_Position = GLVertex; }\n#endif\n"
                                                  "#ifdef PSHADER\nvoid main() { gl_FragColor = vec4(1.0); }\n#endif\n");
    auto load = [&](const char* name) {
        if (!GLTest_Init())
            _exit(98);
        GBaseFolder = (root + "/").c_str();
        if (chdir(root.c_str()) != 0)
            _exit(99);
        SShaderStorage storage;
        LoadShader(&storage, name, Defines({"Q"}), 0);
        _exit(0);
    };
    // The test hook answers the Retry question No.
    EXPECT_EXIT(load("Bad"), testing::ExitedWithCode(23), "");
    EXPECT_EXIT(load("BadLink"), testing::ExitedWithCode(22), "");
    EXPECT_EXIT(load("Missing"), testing::ExitedWithCode(21), "");
    // A batch run without any hook: nobody is asked, the answer is No.
    auto loadBare = [&](const char* name) {
        gSysSetBoxHook(nullptr);
        gSysSetInteractive(false);
        alarm(60); // a Yes would retry without end: the alarm ends the child instead
        load(name);
    };
    EXPECT_EXIT(loadBare("Bad"), testing::ExitedWithCode(23), "");
    EXPECT_EXIT(loadBare("Missing"), testing::ExitedWithCode(21), "");
    const std::string dumped = ReadFile(root + "/lastFailedShader.txt");
    EXPECT_EQ(dumped.rfind("#define Q\n#define VSHADER\n", 0), 0u) << dumped;
    EXPECT_NE(dumped.find("nonsense"), std::string::npos);
    RemoveDeathDir(root);
}

TEST(ShaderGLData, ShippedShadersBuildTheVariantsTheEngineDraws)
{
    ASSERT_TRUE(GLTest_Init());
    const TString savedBase = GBaseFolder;
    GBaseFolder = PW_BIN_DIR "/RERudu/";
    {
        SShaderStorage storage;
        const char* passes[] = {"PASS_BASE", "PASS_SHADOW", "PASS_SPOTLIGHT", "PASS_IMPOSTER"};
        const char* kinds[] = {"VS_SIMPLE", "VS_SKINNED", "VS_INSTANCED"};
        for (const char* name : {"GUI", "ColorOnly", "FSQuad"})
        {
            SShader* bare = LoadShader(&storage, name, Defines({}), 0);
            ASSERT_NE(bare->Program, 0u) << name;
            EXPECT_EQ(glGetAttribLocation(bare->Program, "GLVertex"), 0) << name;
            // Material variants: only the base pass of simple geometry is drawn; the rest "#fail".
            for (int i = 0; i < 12; ++i)
            {
                SShader* sp = LoadShader(&storage, name, Defines({passes[i & 3], kinds[i >> 2]}), 0);
                EXPECT_EQ(sp->Program != 0, i == 0) << name << " " << i;
            }
        }
        SShader* gui = LoadShader(&storage, "GUI", Defines({}), 0);
        EXPECT_EQ(glGetAttribLocation(gui->Program, "GLColor"), 3);
        EXPECT_EQ(glGetAttribLocation(gui->Program, "GLTexCoord0"), 6);
        EXPECT_NE(gui->BuiltIns[SBI_ViewMatrix].Uniform->Location, -1);
        EXPECT_NE(gui->BuiltIns[SBI_ProjectionMatrix].Uniform->Location, -1);
        EXPECT_NE(gui->BuiltIns[SBI_Tex0].Uniform->Location, -1);
        SShader* quad = LoadShader(&storage, "FSQuad", Defines({}), 0);
        EXPECT_EQ(glGetAttribLocation(quad->Program, "GLTexCoord0"), 6);
        SShader* color = LoadShader(&storage, "ColorOnly", Defines({}), 0);
        EXPECT_EQ(glGetAttribLocation(color->Program, "GLColor"), 3);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
        glUseProgram(0);
    }
    GBaseFolder = savedBase;
}

TEST(ShaderDeathTest, MissingStorageAndReloadOfAnUnknownVariantAreFatal)
{
    const std::string root = DeathDir();
    auto run = [&](int which) {
        if (chdir(root.c_str()) != 0) // error.log goes there
            _exit(99);
        if (which == 0)
        {
            FreeShaderStorage();
            GetShader("GUI");
        }
        else
        {
            SShaderStorage storage;
            LoadShader(&storage, "NotStored", Defines({}), 1);
        }
        _exit(0);
    };
    EXPECT_EXIT(run(0), testing::ExitedWithCode(222), "This test expression is false:\n\nGSM");
    EXPECT_EXIT(run(1), testing::ExitedWithCode(222), "This test expression is false:\n\nsp");
    RemoveDeathDir(root);
}
