// Render targets and the scissor stack on the off-screen GL context, checked against GL's own
// state queries and against what actually lands in the attached textures.
#include "TestSupport.h"

#include <GL/glew.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "GameCore.h"
#include "GameRT.h"
#include "GameTexture.h"
#include "GLTestContext.h"

namespace
{

class RenderTargetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GLTest_Init());
        GTexManager.IsShutDown = false;
        while (glGetError() != GL_NO_ERROR)
        {
        }
        ASSERT_EQ(0u, GFBOStack.Count());
        ASSERT_TRUE(FB_Valid());
    }
    void TearDown() override
    {
        EXPECT_EQ(0u, GFBOStack.Count());
        EXPECT_EQ(0u, R_ScissorDepth());
        EXPECT_TRUE(FB_Valid());
        EXPECT_EQ((GLenum)GL_NO_ERROR, glGetError());
    }
};

GLint GetInt(GLenum what)
{
    GLint v = 0;
    glGetIntegerv(what, &v);
    return v;
}

void Viewport(GLint v[4])
{
    glGetIntegerv(GL_VIEWPORT, v);
}

TextureRef MakeTexture(u32 w, u32 h, u32 format = TEXFMT_RGBA8)
{
    TextureRef t;
    EXPECT_EQ(1, TEX_Create(t, w, h, 1, 1, format, nullptr, TEXF_NodeOutput));
    return t;
}

FrameBufferRef MakeTarget(const TextureRef& colour)
{
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, colour, FBA_Color);
    EXPECT_TRUE(CheckFrameBuffer(*fb));
    return fb;
}

u32 TexelOf(const TextureRef& t, u32 x, u32 y)
{
    std::vector<u32> px(t->Width * t->Height);
    TEX_Bind(0, t);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    TEX_Unbind(0, t.Get());
    return px[y * t->Width + x];
}

struct SCounted
{
    static int Alive;
    SCounted() { ++Alive; }
    ~SCounted() { --Alive; }
};
int SCounted::Alive = 0;

} // namespace

TEST(RefPtr, SharesOneHolderAndDeletesWithTheLast)
{
    SCounted::Alive = 0;
    {
        TRefPtr<SCounted> a(new SCounted);
        EXPECT_EQ(1u, a.Ref->RefCount);
        TRefPtr<SCounted> b = a;
        EXPECT_EQ(a.Ref, b.Ref);
        EXPECT_EQ(2u, a.Ref->RefCount);
        b = b; // self-assignment keeps it
        EXPECT_EQ(2u, a.Ref->RefCount);
        TRefPtr<SCounted> c(new SCounted);
        EXPECT_EQ(2, SCounted::Alive);
        c = a; // the old object goes
        EXPECT_EQ(1, SCounted::Alive);
        EXPECT_EQ(3u, a.Ref->RefCount);
        b.Release();
        EXPECT_TRUE(b.IsNull());
        EXPECT_EQ(2u, a.Ref->RefCount);
    }
    EXPECT_EQ(0, SCounted::Alive);

    // Assigning from a handle held inside the object that the assignment would release.
    struct SNode
    {
        TRefPtr<SNode> next;
    };
    TRefPtr<SNode> head(new SNode);
    head->next = TRefPtr<SNode>(new SNode);
    head = head->next; // ASan: the old head dies only after the new reference is taken
    EXPECT_FALSE(head.IsNull());
    EXPECT_EQ(1u, head.Ref->RefCount);

    // The holder is a safe object: a registered pointer is cleared when it dies.
    TRefPtr<SCounted> d(new SCounted);
    TRefPtr<SCounted>::RefType* watch = d.Ref;
    TSafeObject* safe = d.Ref;
    safe->AddHolder(&watch);
    d.Release();
    EXPECT_EQ(nullptr, watch);
    EXPECT_EQ(0, SCounted::Alive);
}

TEST_F(RenderTargetTest, NestedPushAndPopRestoreBindingAndViewport)
{
    TextureRef ta = MakeTexture(64, 32), tb = MakeTexture(16, 8);
    FrameBufferRef a = MakeTarget(ta), b = MakeTarget(tb);
    EXPECT_EQ(64u, a->width);
    EXPECT_EQ(32u, a->height);
    // Completion leaves the window buffer bound (the stack is empty).
    EXPECT_EQ(0, GetInt(GL_FRAMEBUFFER_BINDING));

    GLint vp[4];
    PushFrameBuffer(a);
    EXPECT_EQ((GLint)a->id, GetInt(GL_FRAMEBUFFER_BINDING));
    Viewport(vp);
    EXPECT_EQ(64, vp[2]);
    EXPECT_EQ(32, vp[3]);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);

    PushFrameBuffer(b);
    EXPECT_EQ((GLint)b->id, GetInt(GL_FRAMEBUFFER_BINDING));
    Viewport(vp);
    EXPECT_EQ(16, vp[2]);
    EXPECT_EQ(8, vp[3]);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    PopFrameBuffer(b);

    EXPECT_EQ((GLint)a->id, GetInt(GL_FRAMEBUFFER_BINDING));
    Viewport(vp);
    EXPECT_EQ(64, vp[2]);
    EXPECT_EQ(32, vp[3]);
    PopFrameBuffer(a);
    EXPECT_EQ(0, GetInt(GL_FRAMEBUFFER_BINDING));
    Viewport(vp);
    EXPECT_EQ(GScreenWidth, vp[2]);
    EXPECT_EQ(GScreenHeight, vp[3]);

    // Each target received its own clear.
    EXPECT_EQ(0xFF0000FFu, TexelOf(ta, 10, 10));
    EXPECT_EQ(0xFFFF0000u, TexelOf(tb, 3, 3));
    // The stack holds a reference while the target is pushed.
    PushFrameBuffer(a);
    EXPECT_EQ(2u, a.Ref->RefCount);
    PopFrameBuffer(a);
    EXPECT_EQ(1u, a.Ref->RefCount);
    EXPECT_EQ(2u, ta->RefCount.load()); // ours and the target's
    a.Release();
    EXPECT_EQ(1u, ta->RefCount.load());
}

TEST_F(RenderTargetTest, DrawBuffersFollowTheColourSlots)
{
    TextureRef t0 = MakeTexture(8, 8), t2 = MakeTexture(8, 8);
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, t0, FBA_Color).AttachTexture(2, t2, FBA_Color);
    ASSERT_TRUE(CheckFrameBuffer(*fb));
    PushFrameBuffer(fb);
    EXPECT_EQ(GL_COLOR_ATTACHMENT0, GetInt(GL_DRAW_BUFFER0));
    EXPECT_EQ(GL_NONE, GetInt(GL_DRAW_BUFFER1));
    EXPECT_EQ(GL_COLOR_ATTACHMENT2, GetInt(GL_DRAW_BUFFER2));
    EXPECT_EQ(GL_NONE, GetInt(GL_DRAW_BUFFER3));
    EXPECT_EQ(GL_NONE, GetInt(GL_READ_BUFFER));
    // Clearing draw buffer 2 reaches the texture in slot 2 only.
    const float green[4] = {0, 1, 0, 1}, grey[4] = {0.5f, 0.5f, 0.5f, 1};
    glClearBufferfv(GL_COLOR, 0, grey);
    glClearBufferfv(GL_COLOR, 2, green);
    PopFrameBuffer(fb);
    EXPECT_EQ(0xFF00FF00u, TexelOf(t2, 1, 1));
    u32 g = TexelOf(t0, 1, 1);
    EXPECT_NEAR(128, (int)(g & 0xFF), 1);

    // A depth-only target draws to and reads from nothing.
    TextureRef depth = MakeTexture(8, 8, TEXFMT_Depth32);
    FrameBufferRef d(new SFrameBuffer);
    d->AttachTexture(0xFFFFFFFFu, depth, FBA_Depth);
    ASSERT_TRUE(CheckFrameBuffer(*d));
    PushFrameBuffer(d);
    EXPECT_EQ(GL_NONE, GetInt(GL_DRAW_BUFFER0));
    EXPECT_EQ(GL_NONE, GetInt(GL_READ_BUFFER));
    EXPECT_EQ(GL_FRAMEBUFFER_COMPLETE, (GLint)glCheckFramebufferStatus(GL_FRAMEBUFFER));
    PopFrameBuffer(d);
}

TEST_F(RenderTargetTest, SizeIsTheSmallestAttachment)
{
    TextureRef wide = MakeTexture(64, 32), tall = MakeTexture(32, 48);
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, wide, FBA_Color).AttachTexture(1, tall, FBA_Color);
    fb->AttachRenderBuffer(0xFFFFFFFFu, 40, 40, 0, GL_DEPTH_COMPONENT24, FBA_Depth);
    ASSERT_TRUE(CheckFrameBuffer(*fb));
    EXPECT_EQ(32u, fb->width);
    EXPECT_EQ(32u, fb->height);
    PushFrameBuffer(fb);
    GLint vp[4];
    Viewport(vp);
    EXPECT_EQ(32, vp[2]);
    EXPECT_EQ(32, vp[3]);
    PopFrameBuffer(fb);

    // Releasing the target deletes its GL objects and drops its texture references.
    u32 id = fb->id, rb = fb->renderBuffers[8]->GLName;
    EXPECT_EQ(2u, wide->RefCount.load());
    fb.Release();
    EXPECT_FALSE(glIsFramebuffer(id));
    EXPECT_FALSE(glIsRenderbuffer(rb));
    EXPECT_EQ(1u, wide->RefCount.load());
}

TEST_F(RenderTargetTest, MisuseIsReportedAndChangesNothing)
{
    TextureRef t = MakeTexture(4, 4);
    FrameBufferRef fb = MakeTarget(t);
    {
        TExpectBreak expect("id >= MAX_COLOR_BUFFERS && id != UINT32_MAX");
        fb->AttachTexture(8, t, FBA_Color);
        fb->AttachTexture(100, t, FBA_Color);
    }
    EXPECT_EQ((u32)FBA_None, fb->types[8]);
    EXPECT_TRUE(fb->textures[8].IsNull());
    EXPECT_EQ(2u, t->RefCount.load());

    {
        TExpectBreak expect("GFBOStack.Size() == 0");
        PopFrameBuffer(fb);
    }
    {
        TExpectBreak expect("!ptr");
        PushFrameBuffer(FrameBufferRef());
    }
    EXPECT_EQ(0u, GFBOStack.Count());

    FrameBufferRef other = MakeTarget(MakeTexture(2, 2));
    PushFrameBuffer(fb);
    {
        TExpectBreak expect("GFBOStack.Last() != ptr");
        PopFrameBuffer(other);
    }
    EXPECT_EQ(1u, GFBOStack.Count());
    EXPECT_EQ((GLint)fb->id, GetInt(GL_FRAMEBUFFER_BINDING));

    // While a target is in set-up nothing is pushed or popped.
    {
        FrameBufferRef setup(new SFrameBuffer);
        EXPECT_FALSE(FB_Valid());
        TExpectBreak expect("!FB_Valid()", 2);
        PushFrameBuffer(other);
        PopFrameBuffer(fb);
        EXPECT_EQ(1u, GFBOStack.Count());
        // Abandoned before completion: the mark clears and the top is bound again.
    }
    EXPECT_TRUE(FB_Valid());
    EXPECT_EQ((GLint)fb->id, GetInt(GL_FRAMEBUFFER_BINDING));

    // The window buffer bypasses the stack until it is let go.
    FB_BindWindowBuffer(true);
    EXPECT_FALSE(FB_Valid());
    EXPECT_EQ(0, GetInt(GL_FRAMEBUFFER_BINDING));
    GLint vp[4];
    Viewport(vp);
    EXPECT_EQ(GScreenWidth, vp[2]);
    FB_BindWindowBuffer(false);
    EXPECT_TRUE(FB_Valid());
    EXPECT_EQ((GLint)fb->id, GetInt(GL_FRAMEBUFFER_BINDING));
    PopFrameBuffer(fb);
}

TEST_F(RenderTargetTest, StateDump)
{
    TextureRef t;
    ASSERT_EQ(1, TEX_Create(t, 4, 2, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput));
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, t, FBA_Color);
    fb->AttachTexture(1, TextureRef(), FBA_Color);
    fb->AttachRenderBuffer(0xFFFFFFFFu, 4, 2, 0, GL_DEPTH24_STENCIL8, FBA_DepthStencil);
    TString dump = FB_StateDump(*fb, "Missing attachment");
    const char* expect =
        "Error: Missing attachment\nState:\n"
        "Color: [Texture] W:4 H:2 D:1 S:1 Fmt:6408 Flags:10\n"
        "Color: [Nothing]\n"
        "Unknown (ERROR): [Nothing]\n"
        "Unknown (ERROR): [Nothing]\n"
        "Unknown (ERROR): [Nothing]\n"
        "Unknown (ERROR): [Nothing]\n"
        "Unknown (ERROR): [Nothing]\n"
        "Unknown (ERROR): [Nothing]\n"
        "Depth/stencil: [RenderBuffer] width: 4, height: 2, samples: 0, format: 35056\n";
    EXPECT_STREQ(expect, dump.Str());
    fb->types[1] = FBA_None;
    ASSERT_TRUE(CheckFrameBuffer(*fb));
}

TEST_F(RenderTargetTest, IncompleteTargetsAreFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TTempDir dir;
    std::string folder = dir.Path();
    EXPECT_EXIT(
        {
            if (chdir(folder.c_str()) != 0 || !GLTest_Init())
                _exit(1);
            SFrameBuffer fb;
            CheckFrameBuffer(fb);
            _exit(0);
        },
        testing::ExitedWithCode((int)(SYS_FATAL_EXIT_CODE & 0xFF)), "Missing attachment");
    EXPECT_EXIT(
        {
            if (chdir(folder.c_str()) != 0 || !GLTest_Init())
                _exit(1);
            TextureRef t;
            TEX_Create(t, 4, 4, 1, 1, TEXFMT_RGBA8, nullptr, TEXF_NodeOutput);
            SFrameBuffer fb;
            fb.AttachTexture(0, t, 7);
            CheckFrameBuffer(fb);
            _exit(0);
        },
        testing::ExitedWithCode((int)(SYS_FATAL_EXIT_CODE & 0xFF)), "Wrong attachment type");
}

TEST_F(RenderTargetTest, ScissorStack)
{
    mRect out = {0, 0, 0, 0};
    EXPECT_TRUE(M_RectIntersect({0, 0, 10, 10}, {5, 2, 20, 8}, out));
    EXPECT_EQ(5.0f, out.x0);
    EXPECT_EQ(2.0f, out.y0);
    EXPECT_EQ(10.0f, out.x1);
    EXPECT_EQ(8.0f, out.y1);
    EXPECT_FALSE(M_RectIntersect({0, 0, 10, 10}, {10, 0, 20, 10}, out)); // touching
    EXPECT_FALSE(M_RectIntersect({0, 0, 10, 10}, {0, 10, 10, 20}, out));
    EXPECT_FALSE(M_RectIntersect({0, 0, 10, 10}, {std::nanf(""), 0, 5, 5}, out));
    EXPECT_EQ(5.0f, out.x0); // unchanged on failure

    GLint box[4];
    EXPECT_FALSE(R_GetScissorEnabled());
    ASSERT_EQ(1, R_PushScissor({10.7f, 20.2f, 50.9f, 40.8f}));
    EXPECT_TRUE(R_GetScissorEnabled());
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    glGetIntegerv(GL_SCISSOR_BOX, box);
    // x 10, y H - 20.2 - 20.6 = 535.2 -> 535, w 40.2 -> 40, h 20.6 -> 20 (each truncated).
    EXPECT_EQ(10, box[0]);
    EXPECT_EQ((int)((float)GScreenHeight - 20.2f - (40.8f - 20.2f)), box[1]);
    EXPECT_EQ(40, box[2]);
    EXPECT_EQ(20, box[3]);

    ASSERT_EQ(1, R_PushScissor({30, 0, 100, 30}));
    glGetIntegerv(GL_SCISSOR_BOX, box);
    EXPECT_EQ(30, box[0]);
    EXPECT_EQ(20, box[2]); // 50.9 - 30 = 20.9
    EXPECT_EQ(2u, R_ScissorDepth());

    // Wholly outside: refused, nothing changes.
    EXPECT_EQ(0, R_PushScissor({200, 200, 300, 300}));
    EXPECT_EQ(2u, R_ScissorDepth());
    GLint same[4];
    glGetIntegerv(GL_SCISSOR_BOX, same);
    EXPECT_EQ(0, memcmp(box, same, sizeof(box)));

    R_PopScissor();
    glGetIntegerv(GL_SCISSOR_BOX, box);
    EXPECT_EQ(10, box[0]);
    EXPECT_EQ(40, box[2]);
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    R_PopScissor();
    EXPECT_FALSE(R_GetScissorEnabled());
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));

    // The enable is cached: GL is called only when the cached state differs.
    glEnable(GL_SCISSOR_TEST);
    R_SetScissorEnabled(false);
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    R_SetScissorEnabled(true);
    R_SetScissorEnabled(false);
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));

    // A rectangle with NaN or reversed corners on an empty stack clips everything.
    ASSERT_EQ(1, R_PushScissor({std::nanf(""), 5, 2, 1}));
    glGetIntegerv(GL_SCISSOR_BOX, box);
    EXPECT_EQ(0, box[2]);
    EXPECT_EQ(0, box[3]);
    EXPECT_EQ(0, R_PushScissor({0, 0, 10, 10}));
    R_PopScissor();
    {
        TExpectBreak expect("GScissorStack.count == 0");
        R_PopScissor();
    }
}

TEST_F(RenderTargetTest, NewVideoModeForgetsTheBindCaches)
{
    TextureRef t = MakeTexture(4, 4);
    TEX_Bind(2, t);
    R_SetScissorEnabled(true);
    // A new mode makes a new context: nothing is bound there and scissoring is off.
    R_SetMode(GScreenWidth, GScreenHeight, 0, GRefreshRate, 0, 1);
    EXPECT_EQ(0u, GTexActiveUnit);
    EXPECT_EQ(0u, GTexBoundNames[2]);
    EXPECT_FALSE(R_GetScissorEnabled());
    EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
    TEX_Bind(2, t);
    GLint v = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &v);
    EXPECT_EQ((GLint)t->GLName, v);
    TEX_UnbindTarget(2, GL_TEXTURE_2D);
    TEX_Bind(0, TextureRef());
}
