// Textures on the off-screen GL context: format codes against GL's own read-back, sharing by
// name and flags, the bind cache against GL's bindings, the ".mips" cache parsed byte by byte,
// and the loader thread.
#include "TestSupport.h"

#include <GL/glew.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "GMath.h"
#include "GameFileIO.h"
#include "GameImage.h"
#include "GameTexture.h"
#include "GLTestContext.h"


namespace
{

typedef std::vector<u8> Bytes;
// Pictures tried for one that encodes to a given size.
const u32 SAME_SIZE_TRIES = 200;

class TextureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GLTest_Init());
        GTexManager.IsShutDown = false;
        for (u32 u = 0; u < TEX_MAX_UNITS; ++u)
        {
            glActiveTexture(GL_TEXTURE0 + u);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
        glActiveTexture(GL_TEXTURE0);
        TEX_ResetBindCache();
        while (glGetError() != GL_NO_ERROR)
        {
        }
        baseCount = GTexManager.Textures.Count();
        baseMemory = GTexManager.GetMemoryUsage();
    }
    void TearDown() override
    {
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
        EXPECT_EQ(baseCount, GTexManager.Textures.Count()) << "a texture outlived its test";
    }
    u32 baseCount = 0;
    u64 baseMemory = 0;
};

GLint TexParam(GLenum pname)
{
    GLint v = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, pname, &v);
    return v;
}

GLint LevelParam(GLint level, GLenum pname)
{
    GLint v = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, pname, &v);
    return v;
}

GLint Bound2D(u32 unit)
{
    GLint active = 0, v = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glActiveTexture(GL_TEXTURE0 + unit);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &v);
    glActiveTexture(active);
    return v;
}

u32 ReadU32BE(const u8* p)
{
    return ((u32)p[0] << 24) | ((u32)p[1] << 16) | ((u32)p[2] << 8) | p[3];
}

Bytes ReadAll(const std::string& name)
{
    TPodArray<u8> a;
    if (!ReadArrayFromBinaryFile(name.c_str(), a))
        return Bytes();
    return Bytes(a.data, a.data + a.count);
}

void WriteAll(const std::string& name, const Bytes& b)
{
    TPodArray<u8> a;
    a.Append(b.data(), (u32)b.size());
    ASSERT_TRUE(WriteArrayToBinaryFile(name.c_str(), a));
}

SImage2D RandomImage(u32 w, u32 h, u32 seed)
{
    SImage2D img(w, h);
    u32 s = seed;
    for (u32 i = 0; i < w * h; ++i)
    {
        s = s * 1664525u + 1013904223u;
        img.Pixels[i] = (s >> 8) | 0xFF000000u;
    }
    return img;
}

// A file system whose write times come in steps, with no status-change time, answers for stat(2) while
// this lives, from a step's last second on: a file written then is stamped with the step's first.
s64 GFileTimeStep = 1;
struct TSteppedFileTimes
{
    explicit TSteppedFileTimes(s64 step)
    {
        GFileTimeStep = step;
        GFileStatus = [](const char* path, struct stat* st) {
            const int r = stat(path, st);
            st->st_mtim.tv_sec -= r == 0 ? st->st_mtim.tv_sec % GFileTimeStep : 0;
            st->st_mtim.tv_nsec = 0;
            st->st_ctim = st->st_mtim;
            return r;
        };
        for (const s64 start = FileClockSecond(); FileClockSecond() == start || FileClockSecond() % step != step - 1;)
            usleep(1000);
    }
    ~TSteppedFileTimes() { GFileStatus = &stat; }
};

// Reads GL level 0 of the texture bound on the active unit as RGBA bytes.
std::vector<u32> ReadLevel(GLint level, u32 w, u32 h)
{
    std::vector<u32> px(w * h);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    return px;
}

} // namespace

TEST_F(TextureTest, EveryFormatCodeReadsBack)
{
    // RGBA8 and sRGB8_A8 keep their bytes.
    const u8 bytes[8] = {1, 2, 3, 4, 250, 251, 252, 253};
    for (u32 code : {(u32)TEXFMT_RGBA8, (u32)TEXFMT_SRGB8_A8})
    {
        TextureRef t;
        ASSERT_EQ(1, TEX_Create(t, 2, 1, 1, 1, code, bytes, TEXF_NodeOutput));
        TEX_Bind(0, t);
        EXPECT_EQ(code == TEXFMT_RGBA8 ? GL_RGBA8 : GL_SRGB8_ALPHA8, LevelParam(0, GL_TEXTURE_INTERNAL_FORMAT));
        u8 back[8] = {};
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back);
        EXPECT_EQ(0, memcmp(bytes, back, 8)) << code;
        EXPECT_EQ(4u, t->BytesPerTexel);
    }
    // Float formats keep values outside 0..1 (no clamping on upload or read-back).
    const float values[8] = {2.5f, -1.0f, 0.25f, 1000.0f, -0.5f, 0.0f, 3.0f, 1.0f};
    for (u32 code : {(u32)TEXFMT_RGBA16F, (u32)TEXFMT_RGBA32F})
    {
        TextureRef t;
        ASSERT_EQ(1, TEX_Create(t, 2, 1, 1, 1, code, values, TEXF_NodeOutput));
        TEX_Bind(0, t);
        EXPECT_EQ(code == TEXFMT_RGBA16F ? GL_RGBA16F : GL_RGBA32F, LevelParam(0, GL_TEXTURE_INTERNAL_FORMAT));
        FloatImage img;
        ASSERT_EQ(1, TEX_ReadPixelsFloat(t.Get(), img));
        ASSERT_EQ(2u, img.Width);
        ASSERT_EQ(1u, img.Height);
        const float* f = (const float*)img.Data.data;
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(values[i], f[i]) << code << " " << i;
        EXPECT_EQ(code == TEXFMT_RGBA16F ? 8u : 16u, t->BytesPerTexel);
    }
    {
        const float reds[3] = {-7.25f, 0.125f, 65536.0f};
        TextureRef t;
        ASSERT_EQ(1, TEX_Create(t, 3, 1, 1, 1, TEXFMT_R32F, reds, TEXF_NodeOutput));
        TEX_Bind(0, t);
        EXPECT_EQ(GL_R32F, LevelParam(0, GL_TEXTURE_INTERNAL_FORMAT));
        float back[3] = {};
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, back);
        EXPECT_EQ(0, memcmp(reds, back, sizeof(back)));
        EXPECT_EQ((u32)GL_RED, t->PixelFormat);
    }
    // Depth formats: 16-bit from shorts or floats, 32-bit from floats.
    {
        const u16 d16[2] = {0, 65535};
        const float df[2] = {0.0f, 1.0f};
        struct
        {
            u32 code;
            GLenum internal;
            const void* data;
            u32 bpt;
        } cases[3] = {{TEXFMT_Depth16, GL_DEPTH_COMPONENT16, d16, 2},
                      {TEXFMT_Depth16F, GL_DEPTH_COMPONENT16, df, 2},
                      {TEXFMT_Depth32, GL_DEPTH_COMPONENT32, df, 4}};
        for (const auto& c : cases)
        {
            TextureRef t;
            ASSERT_EQ(1, TEX_Create(t, 2, 1, 1, 1, c.code, c.data, TEXF_NodeOutput)) << c.code;
            TEX_Bind(0, t);
            GLint internal = LevelParam(0, GL_TEXTURE_INTERNAL_FORMAT);
            EXPECT_TRUE(internal == (GLint)c.internal || (c.code == TEXFMT_Depth32 && internal == GL_DEPTH_COMPONENT24))
                << c.code;
            float back[2] = {-1, -1};
            glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, back);
            EXPECT_FLOAT_EQ(0.0f, back[0]);
            EXPECT_FLOAT_EQ(1.0f, back[1]);
            EXPECT_EQ(c.bpt, t->BytesPerTexel);
            EXPECT_EQ((u32)GL_DEPTH_COMPONENT, t->PixelFormat);
        }
    }
}

TEST_F(TextureTest, CreateRefusesWhatGLCannotHold)
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    ASSERT_GT(maxSize, 0);
    struct
    {
        u32 w, h, d, f, code;
    } bad[] = {{4, 4, 1, 1, 5},      {4, 4, 1, 1, 0},  {4, 4, 2, 1, TEXFMT_RGBA8}, {0, 4, 1, 1, TEXFMT_RGBA8},
               {4, 0, 1, 1, TEXFMT_RGBA8}, {(u32)maxSize + 1, 1, 1, 1, TEXFMT_RGBA8},
               {1, 0x40000000u, 1, 1, TEXFMT_RGBA32F},
               // A cube map has six faces: other counts would read faces the caller never gave.
               {4, 4, 4, 4, TEXFMT_RGBA8}, {4, 4, 2, 2, TEXFMT_RGBA8}};
    for (const auto& c : bad)
    {
        TextureRef t;
        EXPECT_EQ(0, TEX_Create(t, c.w, c.h, c.d, c.f, c.code, nullptr, TEXF_NodeOutput)) << c.w << "x" << c.h << " " << c.code;
        ASSERT_FALSE(t.IsNull());
        EXPECT_EQ(0u, t->GLName);
    }
    EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());

    // A refused texture binds nothing.
    TextureRef none;
    EXPECT_EQ(0, TEX_Create(none, 0, 0, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput));
    TEX_Bind(2, none);
    EXPECT_EQ(0, Bound2D(2));
    EXPECT_EQ(0u, GTexBoundNames[2]);
}

TEST_F(TextureTest, FiltersAndMipmapsFollowTheFlags)
{
    std::vector<u32> px(16 * 8, 0xFF336699u);
    TextureRef plain, mipped, clamped;
    ASSERT_EQ(1, TEX_Create(plain, 16, 8, 1, 1, TEXFMT_RGBA8, px.data(), TEXF_NodeOutput));
    ASSERT_EQ(1, TEX_Create(mipped, 16, 8, 1, 1, TEXFMT_RGBA8, px.data(), 0));
    ASSERT_EQ(1, TEX_Create(clamped, 16, 8, 1, 1, TEXFMT_RGBA8, px.data(), 16 | 8));
    EXPECT_EQ(10u | TEXF_NotStreamed, plain->Flags);
    EXPECT_EQ((u32)TEXF_NotStreamed, mipped->Flags);

    TEX_Bind(0, plain);
    EXPECT_EQ(GL_LINEAR, TexParam(GL_TEXTURE_MIN_FILTER));
    EXPECT_EQ(GL_LINEAR, TexParam(GL_TEXTURE_MAG_FILTER));
    EXPECT_EQ(0, LevelParam(1, GL_TEXTURE_WIDTH)); // no mipmaps
    EXPECT_EQ(GL_REPEAT, TexParam(GL_TEXTURE_WRAP_S));

    TEX_Bind(0, mipped);
    EXPECT_EQ(GL_LINEAR_MIPMAP_LINEAR, TexParam(GL_TEXTURE_MIN_FILTER));
    EXPECT_EQ(8, LevelParam(1, GL_TEXTURE_WIDTH));
    EXPECT_EQ(1, LevelParam(4, GL_TEXTURE_WIDTH));
    std::vector<u32> small = ReadLevel(4, 1, 1);
    EXPECT_EQ(0xFF336699u, small[0]);

    TEX_Bind(0, clamped);
    EXPECT_EQ(GL_CLAMP_TO_EDGE, TexParam(GL_TEXTURE_WRAP_S));
    EXPECT_EQ(GL_CLAMP_TO_EDGE, TexParam(GL_TEXTURE_WRAP_T));
    EXPECT_EQ(GL_LINEAR, TexParam(GL_TEXTURE_MIN_FILTER));

    // Created textures are counted once each, in 64 bits.
    u64 before = GTexManager.GetMemoryUsage();
    TextureRef big;
    ASSERT_EQ(1, TEX_Create(big, 64, 32, 1, 1, TEXFMT_RGBA32F, nullptr, TEXF_NodeOutput));
    EXPECT_EQ(before + 64u * 32u * 16u, GTexManager.GetMemoryUsage());
    TextureRef chain;
    ASSERT_EQ(1, TEX_Create(chain, 64, 32, 1, 1, TEXFMT_RGBA8, nullptr, 0));
    // Flag value 2 is always added to created textures: counted without the chain share.
    EXPECT_EQ(before + 64u * 32u * 16u + 64u * 32u * 4u, GTexManager.GetMemoryUsage());
}

TEST_F(TextureTest, CubeMapsAndGeneratedMipmaps)
{
    // Six faces of 2 x 2, +X first, each face a colour of its own.
    std::vector<u32> faces(6 * 4);
    for (u32 f = 0; f < 6; ++f)
        for (u32 i = 0; i < 4; ++i)
            faces[f * 4 + i] = 0xFF000000u | (f * 40);
    TextureRef cube;
    ASSERT_EQ(1, TEX_Create(cube, 2, 2, 6, 6, TEXFMT_RGBA8, faces.data(), TEXF_NodeOutput));
    EXPECT_EQ((u32)GL_TEXTURE_CUBE_MAP, cube->GetTarget());
    TEX_Bind(0, cube);
    for (u32 f = 0; f < 6; ++f)
    {
        u32 back[4] = {};
        glGetTexImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f, 0, GL_RGBA, GL_UNSIGNED_BYTE, back);
        EXPECT_EQ(faces[f * 4], back[3]) << f;
    }
    TEX_Unbind(0, cube.Get());

    // A texture made without mipmaps gets them on request.
    std::vector<u32> px(8 * 8, 0xFF102030u);
    TextureRef t;
    ASSERT_EQ(1, TEX_Create(t, 8, 8, 1, 1, TEXFMT_RGBA8, px.data(), TEXF_NodeOutput));
    TEX_Bind(0, t);
    EXPECT_EQ(0, LevelParam(1, GL_TEXTURE_WIDTH));
    TEX_GenerateMipmaps(t.Get());
    EXPECT_EQ(4, LevelParam(1, GL_TEXTURE_WIDTH));
    EXPECT_EQ(0xFF102030u, ReadLevel(3, 1, 1)[0]);
    glDisable(GL_TEXTURE_2D);
}

TEST_F(TextureTest, BindCacheFollowsGL)
{
    TextureRef a, b;
    ASSERT_EQ(1, TEX_Create(a, 2, 2, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput));
    ASSERT_EQ(1, TEX_Create(b, 2, 2, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput));
    // Creation leaves nothing bound.
    EXPECT_EQ(0, Bound2D(0));

    TEX_Bind(3, a);
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(GL_TEXTURE3, active);
    EXPECT_EQ(3u, GTexActiveUnit);
    EXPECT_EQ((GLint)a->GLName, Bound2D(3));
    EXPECT_EQ(a->GLName, GTexBoundNames[3]);

    // A repeated bind is skipped: unbinding behind the cache's back shows it.
    glBindTexture(GL_TEXTURE_2D, 0);
    TEX_Bind(3, a);
    EXPECT_EQ(0, Bound2D(3));
    TEX_ResetBindCache();
    glActiveTexture(GL_TEXTURE0);

    TEX_Bind(0, b);
    TEX_Bind(TEX_ACTIVE_UNIT, a);
    EXPECT_EQ((GLint)a->GLName, Bound2D(0));
    TEX_Unbind(0, b.Get()); // not bound there: nothing
    EXPECT_EQ((GLint)a->GLName, Bound2D(0));
    TEX_Unbind(0, a.Get());
    EXPECT_EQ(0, Bound2D(0));
    EXPECT_EQ(0u, GTexBoundNames[0]);

    TEX_Bind(5, b);
    TEX_UnbindTarget(5, GL_TEXTURE_2D);
    EXPECT_EQ(0, Bound2D(5));
    EXPECT_EQ(0u, GTexBoundNames[5]);

    // A null reference leaves the unit at 0.
    TEX_Bind(6, a);
    TextureRef null;
    TEX_Bind(6, null);
    EXPECT_EQ(0, Bound2D(6));
    EXPECT_EQ(0u, GTexBoundNames[6]);

    // Destroying a texture bound on units 0 and 3 clears both.
    TEX_Bind(0, a);
    TEX_Bind(3, a);
    u32 name = a->GLName;
    a.Release();
    EXPECT_EQ(0u, GTexBoundNames[0]);
    EXPECT_EQ(0u, GTexBoundNames[3]);
    EXPECT_EQ(0, Bound2D(0));
    EXPECT_EQ(0, Bound2D(3));
    EXPECT_FALSE(glIsTexture(name));

    {
        TExpectBreak expect("unit >= TEX_MAX_UNITS");
        TEX_Bind(16, b);
    }
}

TEST_F(TextureTest, CountedReferences)
{
    TextureRef a;
    ASSERT_EQ(1, TEX_Create(a, 1, 1, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput));
    STexture* t = a.Get();
    {
        TextureRef b = a;
        EXPECT_EQ(2u, t->RefCount.load());
        TextureRef c;
        c = b;
        EXPECT_EQ(3u, t->RefCount.load());
        c = c; // self-assignment keeps the count
        EXPECT_EQ(3u, t->RefCount.load());
        b = a; // the same texture
        EXPECT_EQ(3u, t->RefCount.load());
    }
    EXPECT_EQ(1u, t->RefCount.load());
    // Assigning a reference from an object that only it keeps alive.
    TextureRef* holder = new TextureRef(a);
    a.Release();
    *holder = *holder;
    EXPECT_EQ(1u, t->RefCount.load());
    delete holder; // destroys the texture (ASan checks it happens once)

    // A release at count 0 is reported and leaves the count alone.
    STexture* loose = new STexture;
    loose->RefCount = 0;
    {
        TExpectBreak expect("Obj->RefCount == 0");
        TEX_ReleaseRef(loose);
    }
    EXPECT_EQ(0u, loose->RefCount.load());
    delete loose;

    TString d = TEX_Describe(nullptr);
    EXPECT_STREQ("--null--", d.Str());
    TextureRef e;
    ASSERT_EQ(1, TEX_Create(e, 3, 2, 1, 1, TEXFMT_R32F, nullptr, TEXF_NodeOutput));
    d = TEX_Describe(e.Get());
    EXPECT_STREQ("W:3 H:2 D:1 S:1 Fmt:6403 Flags:10", d.Str());
}

TEST_F(TextureTest, FileTexturesAreSharedByNameAndFlags)
{
    TTempDir dir;
    std::string file = dir.File("pic.png");
    SImage2D src = RandomImage(8, 4, 11);
    ASSERT_EQ(1, SaveImage(file.c_str(), src));

    TextureRef a, b, c;
    ASSERT_EQ(1, TEX_Get(a, file.c_str(), 3));
    ASSERT_EQ(1, TEX_Get(b, file.c_str(), 3));
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_EQ(2u, a->RefCount.load());
    ASSERT_EQ(1, TEX_Get(c, file.c_str(), 11));
    EXPECT_NE(a.Get(), c.Get());
    EXPECT_EQ(3u | TEXF_File, a->Flags);
    EXPECT_STREQ(file.c_str(), a->Name.Str());
    // Asking again through the same reference changes nothing.
    ASSERT_EQ(1, TEX_Get(a, file.c_str(), 3));
    EXPECT_EQ(2u, a->RefCount.load());

    // The texels are the file's, top row first; flag 1 gives RGBA8, otherwise sRGB.
    TEX_Bind(0, a);
    EXPECT_EQ(GL_RGBA8, LevelParam(0, GL_TEXTURE_INTERNAL_FORMAT));
    std::vector<u32> px = ReadLevel(0, 8, 4);
    EXPECT_EQ(0, memcmp(px.data(), src.Pixels.data, 8 * 4 * 4));
    EXPECT_EQ(4u, a->LevelCount); // 8x4 4x2 2x1 1x1
    // Flags 3 keep mipmaps: the whole chain is in GL.
    EXPECT_EQ(1, LevelParam(3, GL_TEXTURE_WIDTH));
    TEX_Bind(0, c);
    EXPECT_EQ(GL_LINEAR, TexParam(GL_TEXTURE_MIN_FILTER));
    // No cache is written for textures loaded whole.
    struct stat st;
    EXPECT_NE(0, stat((file + ".mips").c_str(), &st));

    // Read-back works for loaded textures with flag 2 and saves as PNG.
    SImage2D back;
    ASSERT_EQ(1, TEX_ReadPixels(a.Get(), back));
    EXPECT_EQ(0, memcmp(back.Pixels.data, src.Pixels.data, 8 * 4 * 4));

    // Once every reference is gone the key is free again: a new load makes a new record.
    a.Release();
    b.Release();
    EXPECT_EQ(nullptr, GTexManager.Map.FindValue(TString((file + ":" + std::to_string(3 | 0x2000)).c_str())));
    c.Release();
    // A file changed since its load is loaded afresh, the old record staying with its holders:
    // replaced by another file with the old time, then touched a nanosecond later.
    struct stat was;
    ASSERT_EQ(0, stat(file.c_str(), &was));
    ASSERT_EQ(1, TEX_Get(a, file.c_str(), 3));
    ASSERT_EQ(1, SaveImage(file.c_str(), RandomImage(8, 4, 12)));
    timespec times[2] = {was.st_atim, was.st_mtim};
    for (int change = 0; change < 2; ++change, times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000)
    {
        ASSERT_EQ(0, utimensat(AT_FDCWD, file.c_str(), times, 0));
        b = a;
        ASSERT_EQ(1, TEX_Get(a, file.c_str(), 3));
        EXPECT_NE(b.Get(), a.Get()) << change;
    }
    // Rewritten in place, another picture of the old size, with the old times put back.
    ASSERT_EQ(0, stat(file.c_str(), &was));
    TPodArray<u8> other;
    for (u32 seed = 13; seed < 13 + SAME_SIZE_TRIES && other.Count() != (u32)was.st_size; ++seed)
        ASSERT_EQ(1, EncodeImage(RandomImage(8, 4, seed), other, IMG_PNG));
    ASSERT_EQ((u32)was.st_size, other.Count());
    const Bytes before = ReadAll(file);
    const auto rewriteInPlace = [&](const std::string& name) {
        FILE* f = fopen(name.c_str(), "r+b");
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(other.Count(), fwrite(other.data, 1, other.Count(), f));
        fclose(f);
    };
    rewriteInPlace(file);
    const timespec old[2] = {was.st_atim, was.st_mtim};
    ASSERT_EQ(0, utimensat(AT_FDCWD, file.c_str(), old, 0));
    b = a;
    ASSERT_EQ(1, TEX_Get(a, file.c_str(), 3));
    EXPECT_NE(b.Get(), a.Get());
    // The same on a file system whose times are too coarse to tell the rewrite (whole seconds, or
    // FAT's two-second steps), rewritten within the step of the load: only the content tells.
    SImage2D expected;
    ASSERT_GT(DecodePNG(other, expected), 0);
    for (const s64 step : {1, 2})
    {
        const std::string name = dir.File(("stepped" + std::to_string(step) + ".png").c_str());
        TSteppedFileTimes stepped(step);
        WriteAll(name, before);
        TextureRef loaded, again;
        ASSERT_EQ(1, TEX_Get(loaded, name.c_str(), 3));
        rewriteInPlace(name);
        ASSERT_EQ(1, TEX_Get(again, name.c_str(), 3));
        TEX_Bind(0, again);
        EXPECT_EQ(0, memcmp(ReadLevel(0, 8, 4).data(), expected.Pixels.data, 8 * 4 * 4)) << step;
    }
}

TEST_F(TextureTest, FailedLoads)
{
    TTempDir dir;
    TextureRef t;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, TEX_Get(t, dir.File("none.png").c_str(), 3));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("Failed loading texture \"" + dir.File("none.png") + "\".. the file does not exist or cannot be read\n"));
    ASSERT_FALSE(t.IsNull());
    EXPECT_EQ(0u, t->GLName);
    EXPECT_EQ((u32)TEXF_Failed, t->Flags);
    TEX_Bind(0, t);
    EXPECT_EQ(0, Bound2D(0));

    std::string junk = dir.File("junk.png");
    WriteAll(junk, Bytes(100, 0x42));
    TextureRef j;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, TEX_Get(j, junk.c_str(), 0));
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("Failed loading texture"));
    EXPECT_EQ((u32)TEXF_Failed, j->Flags);
    EXPECT_EQ(0u, j->GLName);
    // Failed records are not shared.
    TextureRef k;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, TEX_Get(k, junk.c_str(), 0));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(j.Get(), k.Get());
    EXPECT_EQ(0, TEX_Get(k, "", 0));
}

TEST_F(TextureTest, SaveToFileFlipsWhenAsked)
{
    TTempDir dir;
    const u32 px[4] = {0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u, 0xFFFFFFFFu}; // 2 x 2, GL row 0 first
    TextureRef t;
    ASSERT_EQ(1, TEX_Create(t, 2, 2, 1, 1, TEXFMT_RGBA8, px, TEXF_NodeOutput));
    std::string f = dir.File("s.png");
    ASSERT_EQ(1, TEX_SaveToFile(t.Get(), f.c_str(), false));
    SImage2D img;
    TPodArray<u8> bytes;
    ASSERT_TRUE(ReadArrayFromBinaryFile(f.c_str(), bytes));
    ASSERT_GT(DecodePNG(bytes, img), 0);
    EXPECT_EQ(0, memcmp(img.Pixels.data, px, 16));
    ASSERT_EQ(1, TEX_SaveToFile(t.Get(), f.c_str(), true));
    ASSERT_TRUE(ReadArrayFromBinaryFile(f.c_str(), bytes));
    ASSERT_GT(DecodePNG(bytes, img), 0);
    EXPECT_EQ(px[2], img.Pixels[0]);
    EXPECT_EQ(px[0], img.Pixels[2]);
    // Only PNG is written here; depth textures and streamed ones cannot be read back.
    EXPECT_EQ(0, TEX_SaveToFile(t.Get(), dir.File("s.jpg").c_str(), false));
    EXPECT_EQ(0, TEX_SaveToFile(nullptr, f.c_str(), false));
}

TEST_F(TextureTest, ReleasedAfterShutdownSkipsGL)
{
    TextureRef t;
    ASSERT_EQ(1, TEX_Create(t, 2, 2, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput));
    u32 name = t->GLName;
    GTexManager.Shutdown();
    EXPECT_EQ(0u, GTexManager.Textures.Count());
    t.Release(); // the manager is empty and the context may be gone: GL is not called
    EXPECT_TRUE(glIsTexture(name));
    GLuint n = name;
    glDeleteTextures(1, &n);
    GTexManager.IsShutDown = false;
    baseCount = 0;
}

namespace
{

// Level 1 of a picture by hand: pairs along x averaged (rounded half up), then pairs along y.
std::vector<u32> HalveByHand(const SImage2D& src)
{
    u32 w = src.Width / 2, h = src.Height / 2;
    std::vector<u32> rows(w * src.Height), out(w * h);
    auto avg = [](u32 a, u32 b) {
        u32 r = 0;
        for (int c = 0; c < 32; c += 8)
            r |= ((((a >> c) & 0xFF) + ((b >> c) & 0xFF) + 1) / 2) << c;
        return r;
    };
    for (u32 y = 0; y < src.Height; ++y)
        for (u32 x = 0; x < w; ++x)
            rows[y * w + x] = avg(src.Pixels[y * src.Width + 2 * x], src.Pixels[y * src.Width + 2 * x + 1]);
    for (u32 y = 0; y < h; ++y)
        for (u32 x = 0; x < w; ++x)
            out[y * w + x] = avg(rows[2 * y * w + x], rows[(2 * y + 1) * w + x]);
    return out;
}

struct SParsedCache
{
    u32 header[6];
    std::vector<Bytes> records;
    bool endsExactly = false;
};

bool ParseCache(const Bytes& b, SParsedCache& out)
{
    if (b.size() < 24)
        return false;
    for (int i = 0; i < 6; ++i)
        out.header[i] = ReadU32BE(&b[i * 4]);
    size_t at = 24;
    while (at + 4 <= b.size())
    {
        u32 len = ReadU32BE(&b[at]);
        at += 4;
        if (len > b.size() - at)
            return false;
        out.records.emplace_back(b.begin() + at, b.begin() + at + len);
        at += len;
    }
    out.endsExactly = at == b.size();
    return true;
}

class MipCacheTest : public TextureTest
{
protected:
    void SetUp() override
    {
        TextureTest::SetUp();
        file = dir.File("wide.png");
        src = RandomImage(256, 64, 5);
        ASSERT_EQ(1, SaveImage(file.c_str(), src));
        mips = file + ".mips";
    }
    // Loads with flags 0 (streamed); the reference is the only one.
    void Load(TextureRef& t)
    {
        testing::internal::CaptureStdout();
        int r = TEX_Get(t, file.c_str(), 0);
        log = testing::internal::GetCapturedStdout();
        ASSERT_EQ(1, r);
    }
    TTempDir dir;
    std::string file, mips, log;
    SImage2D src;
};

} // namespace

TEST_F(MipCacheTest, FirstLoadWritesTheCacheSecondLoadUsesIt)
{
    Bytes cache;
    {
        TextureRef t;
        Load(t);
        EXPECT_EQ(9u, t->LevelCount);
        EXPECT_EQ(0u, t->CurLevel);
        EXPECT_EQ(8u, t->MaxLevel);
        EXPECT_EQ((u32)(TEXF_WriteMipCache | TEXF_File), t->Flags);
        EXPECT_EQ(1u, t->Levels[8].Width);
        EXPECT_EQ(1u, t->Levels[8].Height);
        EXPECT_EQ(4u, t->Levels[6].Width);
        EXPECT_EQ(1u, t->Levels[6].Height);
        TEX_Bind(0, t);
        EXPECT_EQ(GL_SRGB8_ALPHA8, LevelParam(0, GL_TEXTURE_INTERNAL_FORMAT));
        EXPECT_EQ(256, LevelParam(0, GL_TEXTURE_WIDTH));
        EXPECT_EQ(1, LevelParam(8, GL_TEXTURE_WIDTH));
        EXPECT_EQ(GL_LINEAR_MIPMAP_LINEAR, TexParam(GL_TEXTURE_MIN_FILTER));
        // The whole chain plus its share: 256 x 64 x 4 x 1.333.
        EXPECT_GE(GTexManager.GetMemoryUsage(), 256u * 64u * 4u * 1333u / 1000u);

        cache = ReadAll(mips);
        SParsedCache parsed;
        ASSERT_TRUE(ParseCache(cache, parsed));
        const u32 header[6] = {1, 256, 64, 1, 1, 9};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(header[i], parsed.header[i]) << i;
        ASSERT_EQ(8u, parsed.records.size());
        EXPECT_TRUE(parsed.endsExactly);
        for (u32 i = 0; i < 8; ++i)
        {
            SImage2D lv;
            TPodArray<u8> arr;
            arr.Append(parsed.records[i].data(), (u32)parsed.records[i].size());
            ASSERT_GT(DecodePNG(arr, lv), 0) << i;
            EXPECT_EQ(t->Levels[i + 1].Width, lv.Width);
            EXPECT_EQ(t->Levels[i + 1].Height, lv.Height);
            if (i == 0)
            {
                std::vector<u32> expect = HalveByHand(src);
                EXPECT_EQ(0, memcmp(expect.data(), lv.Pixels.data, expect.size() * 4));
                // GL level 1 holds the same texels.
                std::vector<u32> gl = ReadLevel(1, 128, 32);
                EXPECT_EQ(0, memcmp(expect.data(), gl.data(), expect.size() * 4));
            }
            if (i == 7)
            {
                EXPECT_EQ(ReadLevel(8, 1, 1)[0], lv.Pixels[0]);
            }
        }
    }
    // The second load reads only the last record and uploads only that level.
    TextureRef t;
    Load(t);
    EXPECT_EQ(8u, t->CurLevel);
    EXPECT_EQ(8u, t->MaxLevel);
    EXPECT_EQ((u32)TEXF_File, t->Flags);
    EXPECT_EQ(256u, t->Width);
    EXPECT_EQ(64u, t->Height);
    TEX_Bind(0, t);
    EXPECT_EQ(1, LevelParam(0, GL_TEXTURE_WIDTH));
    EXPECT_EQ(0, LevelParam(1, GL_TEXTURE_WIDTH));
    SParsedCache parsed;
    ASSERT_TRUE(ParseCache(cache, parsed));
    TPodArray<u8> arr;
    arr.Append(parsed.records[7].data(), (u32)parsed.records[7].size());
    SImage2D last;
    ASSERT_GT(DecodePNG(arr, last), 0);
    EXPECT_EQ(last.Pixels[0], ReadLevel(0, 1, 1)[0]);
    EXPECT_EQ(cache, ReadAll(mips)); // not rewritten
    EXPECT_EQ(baseMemory + 4u * 1333u / 1000u, GTexManager.GetMemoryUsage()); // 1 x 1 texels

    // Levels by number: 0 is the image file, 3 the third record, past the end the last.
    STexture probe;
    TPodArray<u8> bytes;
    u32 level = 3;
    ASSERT_EQ(1, TEX_LoadMip(file.c_str(), level, bytes, probe));
    EXPECT_EQ(3u, level);
    EXPECT_EQ(parsed.records[2].size(), bytes.Count());
    level = 100;
    ASSERT_EQ(1, TEX_LoadMip(file.c_str(), level, bytes, probe));
    EXPECT_EQ(8u, level);
    level = 0;
    ASSERT_EQ(1, TEX_LoadMip(file.c_str(), level, bytes, probe));
    EXPECT_EQ(ReadAll(file).size(), bytes.Count());
}

TEST_F(MipCacheTest, CorruptCachesAreRebuiltFromTheImage)
{
    Bytes good;
    {
        TextureRef t;
        Load(t);
        good = ReadAll(mips);
    }
    ASSERT_GT(good.size(), 24u);
    auto withU32 = [&](size_t at, u32 v) {
        Bytes b = good;
        b[at] = (u8)(v >> 24);
        b[at + 1] = (u8)(v >> 16);
        b[at + 2] = (u8)(v >> 8);
        b[at + 3] = (u8)v;
        return b;
    };
    std::vector<std::pair<const char*, Bytes>> cases;
    cases.push_back({"truncated", Bytes(good.begin(), good.end() - 3)});
    cases.push_back({"header only", Bytes(good.begin(), good.begin() + 24)});
    cases.push_back({"short header", Bytes(good.begin(), good.begin() + 10)});
    cases.push_back({"empty", Bytes()});
    cases.push_back({"wrong version", withU32(0, 2)});
    cases.push_back({"width 2^30", withU32(4, 0x40000000u)});
    cases.push_back({"height 0", withU32(8, 0)});
    cases.push_back({"level count", withU32(20, 0xFFFFFFFFu)});
    cases.push_back({"faces", withU32(16, 6)});
    cases.push_back({"length past the end", withU32(24, 0x7FFFFFF0u)});
    cases.push_back({"length short", withU32(24, ReadU32BE(&good[24]) - 1)});
    cases.push_back({"other size", withU32(4, 128)});
    {
        Bytes b = good;
        b.push_back(0); // a trailing byte: the last record no longer ends the file
        cases.push_back({"trailing byte", b});
    }
    {
        // A last record that is not a PNG.
        Bytes b = good;
        for (size_t i = b.size() - 10; i < b.size(); ++i)
            b[i] ^= 0x5A;
        cases.push_back({"undecodable record", b});
    }
    for (const auto& c : cases)
    {
        WriteAll(mips, c.second);
        TextureRef t;
        Load(t);
        EXPECT_EQ(0u, t->CurLevel) << c.first;
        EXPECT_EQ(9u, t->LevelCount) << c.first;
        EXPECT_EQ((u32)(TEXF_WriteMipCache | TEXF_File), t->Flags) << c.first;
        TEX_Bind(0, t);
        EXPECT_EQ(256, LevelParam(0, GL_TEXTURE_WIDTH)) << c.first;
        EXPECT_EQ(good, ReadAll(mips)) << c.first << ": the cache is rewritten";
    }
    // A cache older than the image is not trusted, whatever it holds: older than its last write,
    // or than a change whose time was put back to the cache's.
    const timespec longAgo[2] = {};
    for (const bool imageTimePutBack : {false, true})
    {
        WriteAll(mips, good);
        ASSERT_EQ(0, utimensat(AT_FDCWD, mips.c_str(), longAgo, 0));
        ASSERT_TRUE(!imageTimePutBack || utimensat(AT_FDCWD, file.c_str(), longAgo, 0) == 0);
        TextureRef t;
        Load(t);
        EXPECT_EQ(0u, t->CurLevel) << imageTimePutBack << log;
    }
    // An unreadable cache (a folder in its place) is skipped and cannot be rewritten: the
    // texture still loads.
    remove(mips.c_str());
    ASSERT_EQ(0, mkdir(mips.c_str(), 0700));
    {
        TextureRef t;
        Load(t);
        EXPECT_EQ(0u, t->CurLevel);
        EXPECT_NE(0u, t->GLName);
    }
    rmdir(mips.c_str());
}

TEST_F(MipCacheTest, AnEmptyLevelRecordIsNoLevel)
{
    Bytes good;
    {
        TextureRef t;
        Load(t);
        good = ReadAll(mips);
    }
    SParsedCache parsed;
    ASSERT_TRUE(ParseCache(good, parsed));
    ASSERT_EQ(8u, parsed.records.size());
    // The last record (the 1 x 1 level) cut to a length of zero; the file still ends exactly there.
    const size_t lastLength = good.size() - parsed.records.back().size() - 4;
    Bytes b(good.begin(), good.begin() + lastLength);
    b.insert(b.end(), 4, 0);
    WriteAll(mips, b);
    STexture probe;
    TPodArray<u8> bytes;
    u32 level = 8;
    EXPECT_EQ(0, TEX_LoadMip(file.c_str(), level, bytes, probe));
}

TEST_F(MipCacheTest, AskingToWriteTheCacheLoadsTheWholeImage)
{
    {
        TextureRef first;
        Load(first);
    }
    Bytes good = ReadAll(mips);
    ASSERT_GT(good.size(), 24u);
    // With the cache-writing flag the load starts from the image itself, never from the
    // cache's smallest level, and writes the cache again (here: the same bytes).
    TextureRef t;
    testing::internal::CaptureStdout();
    ASSERT_EQ(1, TEX_Get(t, file.c_str(), TEXF_WriteMipCache));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, t->CurLevel);
    EXPECT_EQ(9u, t->LevelCount);
    TEX_Bind(0, t);
    EXPECT_EQ(256, LevelParam(0, GL_TEXTURE_WIDTH));
    std::vector<u32> px = ReadLevel(0, 256, 64);
    EXPECT_EQ(0, memcmp(px.data(), src.Pixels.data, 256 * 64 * 4));
    EXPECT_EQ(good, ReadAll(mips));
}

// ---------------------------------------------------------------------------------------------
// The loader thread

namespace
{

// Runs frames until the texture's requested level was loaded and handled (bounded). The loader
// may have handed it back already, and the frame that asked for it uploaded it.
bool RunFramesUntilIdle(STexture* t)
{
    for (int i = 0; i < 2000; ++i)
    {
        UpdateTextures(0.0f);
        if (t->LoadState == TEXLS_Idle)
            return true;
        usleep(5000);
    }
    return false;
}

// The loader tests also run in the ThreadSanitizer build.
class TextureLoaderTest : public MipCacheTest
{
};

} // namespace

TEST_F(TextureLoaderTest, StreamsFinerLevels)
{
    {
        TextureRef first;
        Load(first);
    }
    GTexManager.StartLoader();
    TextureRef t;
    Load(t);
    ASSERT_EQ(8u, t->CurLevel);
    UpdateTextures(100.0f);
    EXPECT_EQ((u32)TEXLS_Idle, t->LoadState.load());
    UpdateTextures(141.0f); // past 240 s: one finer level is requested
    EXPECT_EQ(7u, t->CurLevel);
    ASSERT_TRUE(RunFramesUntilIdle(t.Get()));
    EXPECT_EQ((u32)TEXLS_Idle, t->LoadState.load());
    EXPECT_EQ(7u, t->CurLevel);
    EXPECT_EQ(nullptr, t->Levels[7].Data); // CPU buffers freed after upload
    TEX_Bind(0, t);
    EXPECT_EQ(2, LevelParam(0, GL_TEXTURE_WIDTH));
    EXPECT_EQ(1, LevelParam(0, GL_TEXTURE_HEIGHT));
    EXPECT_EQ(1, LevelParam(1, GL_TEXTURE_WIDTH));
    EXPECT_EQ(1u, t->RefCount.load()); // the lists let go of theirs
    // Level 7 matches the cache's record.
    SParsedCache parsed;
    ASSERT_TRUE(ParseCache(ReadAll(mips), parsed));
    TPodArray<u8> arr;
    arr.Append(parsed.records[6].data(), (u32)parsed.records[6].size());
    SImage2D lv;
    ASSERT_GT(DecodePNG(arr, lv), 0);
    std::vector<u32> gl = ReadLevel(0, 2, 1);
    EXPECT_EQ(lv.Pixels[0], gl[0]);
    EXPECT_EQ(lv.Pixels[1], gl[1]);
    EXPECT_EQ(baseMemory + 2u * 1u * 4u * 1333u / 1000u, GTexManager.GetMemoryUsage());

    // A level that cannot be loaded returns the texture to the level it had.
    ASSERT_EQ(0, remove(mips.c_str()));
    GTexManager.StopLoader(); // the request is seen before it is served
    UpdateTextures(241.0f);
    EXPECT_EQ(6u, t->CurLevel);
    GTexManager.StartLoader();
    ASSERT_TRUE(RunFramesUntilIdle(t.Get()));
    EXPECT_EQ(7u, t->CurLevel);
    EXPECT_EQ((u32)TEXLS_Idle, t->LoadState.load());
    TEX_Bind(0, t);
    EXPECT_EQ(2, LevelParam(0, GL_TEXTURE_WIDTH));
    GTexManager.Shutdown();
    GTexManager.IsShutDown = false;
    t.Release();
}

TEST_F(TextureLoaderTest, DroppingTheLastReferenceWhileALevelIsPending)
{
    {
        TextureRef first;
        Load(first);
    }
    GTexManager.StartLoader();
    for (int round = 0; round < 20; ++round)
    {
        TextureRef t;
        Load(t);
        STexture* raw = t.Get();
        // Asked for while the loader is stopped, and served once it runs again: none is lost.
        GTexManager.StopLoader();
        UpdateTextures(241.0f);
        ASSERT_EQ((u32)TEXLS_Requested, raw->LoadState.load());
        ASSERT_EQ(2u, raw->RefCount.load());
        t.Release(); // the pending list keeps it alive
        GTexManager.StartLoader();
        // The texture goes once the loader handed it back and the frame released the done list.
        bool gone = false;
        for (int i = 0; i < 2000 && !gone; ++i)
        {
            UpdateTextures(0.0f);
            gone = GTexManager.Textures.Count() == baseCount;
            if (!gone)
                usleep(2000);
        }
        ASSERT_TRUE(gone) << round;
    }
    // Shutdown with a request still pending releases it without the loader.
    TextureRef t;
    Load(t);
    UpdateTextures(241.0f);
    t.Release();
    GTexManager.Shutdown();
    EXPECT_EQ(0u, GTexManager.Textures.Count());
    EXPECT_EQ(0u, GTexManager.Pending.Count());
    EXPECT_EQ(0u, GTexManager.Done.Count());
    GTexManager.IsShutDown = false;
    baseCount = 0;
}
