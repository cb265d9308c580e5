// Materials, blend and raster caches and primitive drawing, checked against the GL state and
// the pixels GL produces on the off-screen context.
#include "TestSupport.h"

#include <GL/glew.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "GLTestContext.h"
#include "GameFileIO.h"
#include "GameMaterial.h"
#include "GameTexture.h"
#include "GameVertex.h"

TEST(GameMaterial, PermutationTableOrder)
{
    ASSERT_EQ(GMaterialPermutations[0].Count(), 2u);
    EXPECT_STREQ(GMaterialPermutations[0][0].Str(), "PASS_BASE");
    EXPECT_STREQ(GMaterialPermutations[0][1].Str(), "VS_SIMPLE");
    EXPECT_STREQ(GMaterialPermutations[5][0].Str(), "PASS_SHADOW");
    EXPECT_STREQ(GMaterialPermutations[5][1].Str(), "VS_SKINNED");
    EXPECT_STREQ(GMaterialPermutations[11][0].Str(), "PASS_IMPOSTER");
    EXPECT_STREQ(GMaterialPermutations[11][1].Str(), "VS_INSTANCED");
    EXPECT_EQ(R_BlendFactor(6), (u32)GL_SRC_ALPHA);
    EXPECT_EQ(R_BlendFactor(9), (u32)GL_ONE_MINUS_DST_ALPHA);
    EXPECT_EQ(R_BlendFactor(12), (u32)GL_ZERO);
}

// A render target of its own (raw GL, so these tests stand on nothing but GL) and the shipped
// shaders from the build's data folder.
class MaterialGL : public testing::Test
{
protected:
    TShippedShaders shaders;
    GLuint fbo = 0, tex = 0;
    enum { W = 8, H = 8 };

    void SetUp() override
    {
        ASSERT_TRUE(GLTest_Init());
        shaders.Begin();
        glDisable(GL_BLEND);
        glEnable(GL_CULL_FACE);
        glShadeModel(GL_SMOOTH);
        glDisable(GL_DEPTH_TEST);
    }
    void TearDown() override
    {
        GLTest_FreeTarget(fbo, tex);
        shaders.End();
        glDisable(GL_BLEND);
    }
    void MakeTarget(GLenum internalFormat, GLenum type)
    {
        fbo = GLTest_MakeTarget(W, H, internalFormat, type, tex);
    }
    static GLint Get(GLenum what)
    {
        GLint v = 0;
        glGetIntegerv(what, &v);
        return v;
    }
};

TEST_F(MaterialGL, BlendWordsReachGLOnlyOnChange)
{
    SetBlendState(BLEND_AlphaGUI);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(Get(GL_BLEND_EQUATION_RGB), GL_FUNC_ADD);
    EXPECT_EQ(Get(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
    EXPECT_EQ(Get(GL_BLEND_DST_RGB), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(Get(GL_BLEND_SRC_ALPHA), GL_ONE);
    EXPECT_EQ(Get(GL_BLEND_DST_ALPHA), GL_ONE_MINUS_SRC_ALPHA);

    // 0 switches blending off and leaves the factors alone.
    SetBlendState(0);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(Get(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
    EXPECT_EQ(GCurBlend, 0u);

    // Factors changed behind the cache come back: the cache forgot them with the 0.
    glBlendFunc(GL_ONE, GL_ZERO);
    glBlendEquation(GL_MAX);
    SetBlendState(BLEND_AlphaGUI);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(Get(GL_BLEND_EQUATION_RGB), GL_FUNC_ADD);
    EXPECT_EQ(Get(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
    EXPECT_EQ(Get(GL_BLEND_DST_ALPHA), GL_ONE_MINUS_SRC_ALPHA);

    // The same word again issues nothing: state changed behind the cache stays changed.
    glBlendFunc(GL_ONE, GL_ZERO);
    SetBlendState(BLEND_AlphaGUI);
    EXPECT_EQ(Get(GL_BLEND_SRC_RGB), GL_ONE);

    // Only the factors differ: only they are sent.
    SetBlendState(0x99661); // dst alpha 9, src alpha 9, dst colour 6, src colour 6
    EXPECT_EQ(Get(GL_BLEND_SRC_RGB), GL_SRC_ALPHA);
    EXPECT_EQ(Get(GL_BLEND_DST_RGB), GL_SRC_ALPHA);
    EXPECT_EQ(Get(GL_BLEND_SRC_ALPHA), GL_ONE_MINUS_DST_ALPHA);
    SetBlendState(0x11115);
    EXPECT_EQ(Get(GL_BLEND_EQUATION_RGB), GL_MAX);
    SetBlendState(0);
}

TEST_F(MaterialGL, RasterFlagsChangeOnlyTheirBits)
{
    SetRasterState(RASTER_NoCull);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    SetRasterState(RASTER_NoCull | RASTER_Flat);
    EXPECT_EQ(Get(GL_SHADE_MODEL), GL_FLAT);
    glEnable(GL_CULL_FACE); // behind the cache: bit 0 did not change, so it stays
    SetRasterState(RASTER_NoCull);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(Get(GL_SHADE_MODEL), GL_SMOOTH);
    SetRasterState(0);
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
}

TEST_F(MaterialGL, ShippedShadersBuildEveryRequestedVariant)
{
    SMaterialInst gui, color;
    gui.SetShader("GUI");
    color.SetShader("ColorOnly");
    for (u32 i = 0; i < GCPermutationCount; ++i)
    {
        ASSERT_NE(gui.Programs[i], nullptr);
        // Only the base pass of simple geometry is ever drawn with them.
        EXPECT_EQ(gui.Programs[i]->Program != 0, i == 0) << i;
        EXPECT_EQ(color.Programs[i]->Program != 0, i == 0) << i;
    }
    const char* bare[] = {"GUI", "ColorOnly", "FSQuad"};
    for (const char* name : bare)
    {
        SShader* sp = GetShader(name);
        ASSERT_NE(sp->Program, 0u) << name;
        EXPECT_EQ(glGetAttribLocation(sp->Program, "GLVertex"), 0) << name;
    }
    EXPECT_EQ(glGetAttribLocation(GetShader("GUI")->Program, "GLColor"), 3);
    EXPECT_EQ(glGetAttribLocation(GetShader("GUI")->Program, "GLTexCoord0"), 6);
    EXPECT_EQ(glGetAttribLocation(GetShader("FSQuad")->Program, "GLTexCoord0"), 6);
    EXPECT_EQ(glGetAttribLocation(GetShader("ColorOnly")->Program, "GLColor"), 3);

    // Code 0 is the base pass of simple geometry; binding again changes nothing in GL.
    gui.Blend = BLEND_AlphaGUI;
    BindMaterialPass(gui, 0);
    EXPECT_EQ((u32)Get(GL_CURRENT_PROGRAM), gui.Programs[0]->Program);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    glUseProgram(0);
    BindMaterialPass(gui, 0);
    EXPECT_EQ(Get(GL_CURRENT_PROGRAM), 0);
    // A "#fail" variant draws with program 0.
    BindMaterialPass(gui, 0x10);
    EXPECT_EQ(GCurShader, gui.Programs[1]);
    EXPECT_EQ(Get(GL_CURRENT_PROGRAM), 0);

    // A material whose shader was never set draws with program 0 too.
    SMaterialInst empty;
    BindMaterialPass(empty, 0);
    EXPECT_EQ(GCurShader, nullptr);
    EXPECT_EQ(Get(GL_CURRENT_PROGRAM), 0);

    // Out of range: reported, nothing changes.
    UseShader(0, color.Programs[0]);
    {
        TExpectBreak expected("pass_idx >= GCPassCount || vs_idx >= GCVSCount", 2);
        BindMaterialPass(gui, 0x40);
        BindMaterialPass(gui, 0x03);
    }
    EXPECT_EQ(GCurShader, color.Programs[0]);
    EXPECT_EQ((u32)Get(GL_CURRENT_PROGRAM), color.Programs[0]->Program);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
}

TEST_F(MaterialGL, MaterialTexturesBindToTheirUnits)
{
    SMaterialInst m;
    m.SetShader("GUI");
    const u32 white = 0xFFFFFFFFu;
    ASSERT_TRUE(TEX_Create(m.Textures[2], 1, 1, 1, 1, 1, &white, TEXF_NodeOutput));
    ASSERT_NE(m.Textures[2]->GLName, 0u);
    TextureRef held = m.Textures[2];
    EXPECT_EQ(held->RefCount.load(), 2u);

    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glActiveTexture(GL_TEXTURE0);
    const GLint unit0Before = Get(GL_TEXTURE_BINDING_2D);
    glActiveTexture(active);

    BindMaterialPass(m, 0);
    EXPECT_EQ((u32)Get(GL_CURRENT_PROGRAM), m.Programs[0]->Program);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glActiveTexture(GL_TEXTURE2);
    EXPECT_EQ((u32)Get(GL_TEXTURE_BINDING_2D), m.Textures[2]->GLName);
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(Get(GL_TEXTURE_BINDING_2D), unit0Before); // an empty slot leaves its unit alone
    glActiveTexture(active);

    m.ReleaseTextures();
    for (u32 i = 0; i < 16; ++i)
        EXPECT_TRUE(m.Textures[i].IsNull()) << i;
    EXPECT_EQ(held->RefCount.load(), 1u);
}

TEST_F(MaterialGL, AdditiveBlendSumsIntoAFloatTarget)
{
    MakeTarget(GL_RGBA32F, GL_FLOAT);
    glClampColor(GL_CLAMP_VERTEX_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);
    SetRasterState(RASTER_NoCull);
    GViewMatrix = mMat4();
    GProjectionMatrix = mMat4();
    SShader* sp = GetShader("ColorOnly");
    UseShader(0x11111, sp);
    R_UploadViewMatrix(sp);
    R_UploadProjectionMatrix(sp);
    const STfCVtx quad[4] = {
        {-1, -1, 0, 0, 0, 0, 1.5f, 0.25f, 2.0f, 1.0f},
        {1, -1, 0, 0, 0, 0, 1.5f, 0.25f, 2.0f, 1.0f},
        {1, 1, 0, 0, 0, 0, 1.5f, 0.25f, 2.0f, 1.0f},
        {-1, 1, 0, 0, 0, 0, 1.5f, 0.25f, 2.0f, 1.0f},
    };
    DrawTexColoredPrimitives(quad, 4, GL_TRIANGLE_FAN);
    DrawTexColoredPrimitives(quad, 4, GL_TRIANGLE_FAN);
    // The float colour is not normalised.
    GLint normalised = -1;
    glGetVertexAttribiv(VA_Color, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &normalised);
    EXPECT_EQ(normalised, GL_FALSE);
    float px[4] = {};
    glReadPixels(3, 3, 1, 1, GL_RGBA, GL_FLOAT, px);
    EXPECT_FLOAT_EQ(px[0], 3.0f);
    EXPECT_FLOAT_EQ(px[1], 0.5f);
    EXPECT_FLOAT_EQ(px[2], 4.0f);
    EXPECT_FLOAT_EQ(px[3], 2.0f);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FIXED_ONLY);
    UseShader(0, nullptr);
}

TEST_F(MaterialGL, ColoredRectUsesNormalisedBytes)
{
    MakeTarget(GL_RGBA8, GL_UNSIGNED_BYTE);
    SetRasterState(RASTER_NoCull);
    GViewMatrix = mMat4();
    GProjectionMatrix = mMat4();
    SShader* sp = GetShader("ColorOnly");
    UseShader(0, sp);
    R_UploadViewMatrix(sp);
    R_UploadProjectionMatrix(sp);
    // Left half only, colour word with red in the low byte.
    DrawColoredRect(-1, 0, -1, 1, 0, 0xFF8040FFu);
    GLint normalised = -1;
    glGetVertexAttribiv(VA_Color, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &normalised);
    EXPECT_EQ(normalised, GL_TRUE);
    u8 px[W * H * 4] = {};
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px);
    const u8* left = px + (4 * W + 1) * 4;
    const u8* right = px + (4 * W + 6) * 4;
    EXPECT_EQ(left[0], 0xFF);
    EXPECT_EQ(left[1], 0x40);
    EXPECT_EQ(left[2], 0x80);
    EXPECT_EQ(left[3], 0xFF);
    EXPECT_EQ(right[0], 0);
    EXPECT_EQ(right[3], 0);
}

TEST_F(MaterialGL, FullscreenQuadPutsTexCoordZeroOneTopLeft)
{
    MakeTarget(GL_RGBA8, GL_UNSIGNED_BYTE);
    SetRasterState(RASTER_NoCull);
    // A 2x2 source: row t=0 red, green; row t=1 blue, white.
    const u8 texels[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
    GLuint src = 0;
    glGenTextures(1, &src);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, src);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    UseShader(0, GetShader("FSQuad"));
    DrawFullscreenQuad(-1, 1, 1, -1, 0);
    u8 px[W * H * 4] = {};
    glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, px);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &src);
    // glReadPixels rows run bottom-up: row H-1 is the top of clip space.
    const u8* topLeft = px + ((H - 1) * W + 0) * 4;
    const u8* topRight = px + ((H - 1) * W + W - 1) * 4;
    const u8* bottomLeft = px;
    EXPECT_EQ(topLeft[2], 255); // blue: texture coordinate (0, 1)
    EXPECT_EQ(topLeft[0], 0);
    EXPECT_EQ(topRight[0], 255); // white: (1, 1)
    EXPECT_EQ(topRight[1], 255);
    EXPECT_EQ(bottomLeft[0], 255); // red: (0, 0)
    EXPECT_EQ(bottomLeft[2], 0);
}

TEST_F(MaterialGL, VertexStreamStateIsChecked)
{
    {
        TExpectBreak expected("!GUsedDeclaration");
        GUsedDeclaration = nullptr;
        SetVertexStream(0, 0, nullptr);
    }
    // Giving a stream twice never pushes its counters below zero.
    const SColVtx v[1] = {{0, 0, 0, 0}};
    SetVertexDeclaration(GColVtxDecl);
    SetVertexStream(0, 0, v);
    SetVertexStream(0, 0, v);
    EXPECT_EQ(GStreamBits[VA_Vertex], 0);
    EXPECT_EQ(GStreamBits[VA_Color], 0);
}

TEST(MaterialGLDeathTest, DrawingWithoutItsStreamIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string root = DeathDir();
    auto draw = [&]() {
        if (!GLTest_Init())
            _exit(98);
        if (chdir(root.c_str()) != 0) // error.log goes there
            _exit(99);
        SetVertexDeclaration(GTexVtxDecl);
        DrawVertices(GL_TRIANGLES, 3);
        _exit(0);
    };
    EXPECT_EXIT(draw(), testing::ExitedWithCode(222), "This test expression is false:\n\nGStreamBits\\[ i \\] <= 0");
    EXPECT_TRUE(std::ifstream(root + "/error.log").good());
    RemoveDeathDir(root);
}

TEST(MaterialGLDeathTest, LocationDeclaredTwiceIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string root = DeathDir();
    // Colour given twice: both elements would feed attribute 3.
    static SVertexElement twice[] = {
        {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
        {GL_UNSIGNED_BYTE, 4, 0, VA_Color, 0, 0},
        {GL_FLOAT, 4, 0, VA_Color, 0, 0},
        {0, 0, 0, 0, 0, 0},
    };
    auto declare = [&]() {
        if (chdir(root.c_str()) != 0) // error.log goes there
            _exit(99);
        SVertexDecl decl(twice, "TestColorTwice");
        SetVertexDeclaration(decl);
        _exit(0);
    };
    EXPECT_EXIT(declare(), testing::ExitedWithCode(222),
                "This test expression is false:\n\nGStreamBits\\[ vd.Elements\\[ i \\].Type \\] <= 1");
    // Each location once is accepted.
    SetVertexDeclaration(GTCVtxDecl);
    EXPECT_EQ(GStreamBits[VA_Vertex], 1);
    EXPECT_EQ(GStreamBits[VA_TexCoord0], 1);
    EXPECT_EQ(GStreamBits[VA_Color], 1);
    EXPECT_EQ(GStreamBits[VA_Normal], 0);
    for (int& pending : GStreamBits) // nothing of this test is drawn
        pending = 0;
    RemoveDeathDir(root);
}
