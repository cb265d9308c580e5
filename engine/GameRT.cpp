#include "GameRT.h"

#include <GL/glew.h>
#include <math.h>

#include "GameWindow.h"

TArray<FrameBufferRef> GFBOStack;

// Set while a target is in set-up (or the window buffer is forced): no push or pop then.
static bool GFBInvalid = false;
// The target whose set-up set the mark; its destruction before completion clears it.
static const SFrameBuffer* GFBInSetup = nullptr;
static bool GScissorOn = false;
static TArray<mRect> GScissorStack;

static void BindWindowBuffer()
{
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, GScreenWidth, GScreenHeight);
    glDrawBuffer(GL_BACK);
    glReadBuffer(GL_BACK);
}

static void ApplyTarget(const SFrameBuffer* fb)
{
    if (!fb)
    {
        BindWindowBuffer();
        return;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, fb->id);
    glViewport(0, 0, (GLsizei)fb->width, (GLsizei)fb->height);
    GLenum list[SFrameBuffer::MAX_COLOR_BUFFERS];
    int last = -1;
    for (int i = 0; i < SFrameBuffer::MAX_COLOR_BUFFERS; ++i)
    {
        list[i] = fb->types[i] == FBA_Color ? (GLenum)(GL_COLOR_ATTACHMENT0 + i) : (GLenum)GL_NONE;
        if (fb->types[i] == FBA_Color)
            last = i;
    }
    if (last < 0)
    {
        glDrawBuffer(GL_NONE);
        glReadBuffer(GL_NONE);
    }
    else
    {
        glDrawBuffers(last + 1, list);
        glReadBuffer(GL_NONE);
    }
}

static void ApplyTop()
{
    ApplyTarget(GFBOStack.count ? GFBOStack.data[GFBOStack.count - 1].Get() : nullptr);
}

// ---------------------------------------------------------------------------------------------

SRenderBuffer::~SRenderBuffer()
{
    if (GLName)
    {
        GLuint name = GLName;
        glDeleteRenderbuffers(1, &name);
    }
}

SFrameBuffer::SFrameBuffer() : id(0), width(0), height(0)
{
    for (u32 i = 0; i < SLOT_COUNT; ++i)
        types[i] = FBA_None;
    Reset();
}

SFrameBuffer::~SFrameBuffer()
{
    if (id)
    {
        GLuint name = id;
        glDeleteFramebuffers(1, &name);
        id = 0;
    }
    ReleaseRenderBufferSlots();
    ReleaseTextureSlots();
    if (GFBInSetup == this)
    {
        // Abandoned before completion (say, its texture could not be made): the other targets
        // must stay usable.
        GFBInSetup = nullptr;
        GFBInvalid = false;
        ApplyTop();
    }
}

void SFrameBuffer::Reset()
{
    if (id)
    {
        GLuint name = id;
        glDeleteFramebuffers(1, &name);
        id = 0;
    }
    for (u32 i = 0; i < SLOT_COUNT; ++i)
    {
        types[i] = FBA_None;
        textures[i].Release();
        renderBuffers[i].Release();
    }
    GFBInvalid = true;
    GFBInSetup = this;
    BindWindowBuffer();
    GLuint name = 0;
    glGenFramebuffers(1, &name);
    id = name;
    glBindFramebuffer(GL_FRAMEBUFFER, id);
}

static bool SlotIndex(u32 slot, u32& index)
{
    if (slot == 0xFFFFFFFFu)
    {
        index = SFrameBuffer::DEPTH_SLOT;
        return true;
    }
    if (slot < SFrameBuffer::MAX_COLOR_BUFFERS)
    {
        index = slot;
        return true;
    }
    return false;
}

SFrameBuffer& SFrameBuffer::AttachTexture(u32 slot, const TextureRef& tex, u32 type)
{
    u32 index = 0;
    if (!SlotIndex(slot, index))
    {
        u32 id = slot;
        BREAK_IF(id >= MAX_COLOR_BUFFERS && id != UINT32_MAX);
        return *this;
    }
    renderBuffers[index].Release();
    textures[index] = tex;
    types[index] = type;
    return *this;
}

SFrameBuffer& SFrameBuffer::AttachRenderBuffer(u32 slot, u32 w, u32 h, u32 samples, u32 format, u32 type)
{
    u32 index = 0;
    if (!SlotIndex(slot, index))
    {
        u32 id = slot;
        BREAK_IF(id >= MAX_COLOR_BUFFERS && id != UINT32_MAX);
        return *this;
    }
    SRenderBuffer* rb = new SRenderBuffer;
    GLuint name = 0;
    glGenRenderbuffers(1, &name);
    glBindRenderbuffer(GL_RENDERBUFFER, name);
    if (samples > 1)
        glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, format, w, h);
    else
        glRenderbufferStorage(GL_RENDERBUFFER, format, w, h);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    rb->GLName = name;
    rb->Width = w;
    rb->Height = h;
    rb->Samples = samples;
    rb->Format = format;
    textures[index].Release();
    renderBuffers[index] = TRefPtr<SRenderBuffer>(rb);
    types[index] = type;
    return *this;
}

void SFrameBuffer::ReleaseRenderBufferSlots()
{
    for (u32 i = SLOT_COUNT; i-- > 0;)
        renderBuffers[i].Release();
}

void SFrameBuffer::ReleaseTextureSlots()
{
    for (u32 i = SLOT_COUNT; i-- > 0;)
        textures[i].Release();
}

// ---------------------------------------------------------------------------------------------

TString FB_StateDump(const SFrameBuffer& fb, const char* message)
{
    char msg[2048];
    gSNPrintf(msg, sizeof(msg), "%s", message ? message : "");
    TString out;
    out.Format(4096, "Error: %s\nState:\n", msg);
    for (u32 i = 0; i < SFrameBuffer::SLOT_COUNT; ++i)
    {
        switch (fb.types[i])
        {
        case FBA_Color: out += "Color: "; break;
        case FBA_Depth: out += "Depth: "; break;
        case FBA_Stencil: out += "Stencil: "; break;
        case FBA_DepthStencil: out += "Depth/stencil: "; break;
        default: out += "Unknown (ERROR): "; break;
        }
        TString line;
        if (!fb.textures[i].IsNull())
        {
            out += "[Texture] ";
            const STexture* t = fb.textures[i].Get();
            line.Format(256, "W:%d H:%d D:%d S:%d Fmt:%d Flags:%d", (int)t->Width, (int)t->Height, (int)t->Depth,
                        (int)t->Faces, (int)t->PixelFormat, (int)t->Flags);
        }
        else if (!fb.renderBuffers[i].IsNull())
        {
            out += "[RenderBuffer] ";
            const SRenderBuffer* rb = fb.renderBuffers[i].Get();
            line.Format(256, "width: %d, height: %d, samples: %d, format: %d", (int)rb->Width, (int)rb->Height,
                        (int)rb->Samples, (int)rb->Format);
        }
        else
            line = "[Nothing]";
        out += line;
        out += "\n";
    }
    return out;
}

static const char* StatusMessage(GLenum status)
{
    switch (status)
    {
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT: return "Incomplete attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT: return "Missing attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER: return "Incomplete draw buffer data";
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER: return "Incomplete read buffer data";
    case GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE: return "Inconsistent multisampling info";
    case GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS: return "Incomplete layer targets";
    default: return "Unknown error";
    }
}

static void FatalDump(const SFrameBuffer& fb, const char* message)
{
    TString dump = FB_StateDump(fb, message);
    FatalError("%s", dump.Str());
}

// A target that cannot be completed leaves the set-up state, so the other targets stay usable.
static bool AbandonSetup(SFrameBuffer& fb, const char* message, TString* failure)
{
    *failure = message;
    GFBInvalid = false;
    if (GFBInSetup == &fb)
        GFBInSetup = nullptr;
    ApplyTop();
    return false;
}

bool CheckFrameBuffer(SFrameBuffer& fb)
{
    return FB_Complete(fb, nullptr);
}

bool FB_Complete(SFrameBuffer& fb, TString* failure)
{
    glBindFramebuffer(GL_FRAMEBUFFER, fb.id);
    for (u32 i = 0; i < SFrameBuffer::SLOT_COUNT; ++i)
    {
        GLenum point;
        switch (fb.types[i])
        {
        case FBA_Color: point = GL_COLOR_ATTACHMENT0 + i; break;
        case FBA_Depth: point = GL_DEPTH_ATTACHMENT; break;
        case FBA_Stencil: point = GL_STENCIL_ATTACHMENT; break;
        case FBA_DepthStencil: point = GL_DEPTH_STENCIL_ATTACHMENT; break;
        case FBA_None: continue;
        default:
            if (!failure)
                FatalDump(fb, "Wrong attachment type");
            return AbandonSetup(fb, "Wrong attachment type", failure);
        }
        const STexture* t = fb.textures[i].Get();
        if (t && t->GLName)
            glFramebufferTexture2D(GL_FRAMEBUFFER, point, GL_TEXTURE_2D, t->GLName, 0);
        else if (!fb.renderBuffers[i].IsNull())
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, point, GL_RENDERBUFFER, fb.renderBuffers[i]->GLName);
    }
    ApplyTarget(&fb);
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status != GL_FRAMEBUFFER_COMPLETE)
    {
        if (!failure)
            FatalDump(fb, StatusMessage(status));
        return AbandonSetup(fb, StatusMessage(status), failure);
    }

    GFBInvalid = false;
    if (GFBInSetup == &fb)
        GFBInSetup = nullptr;
    ApplyTop();
    fb.width = 0xFFFFFFFFu;
    fb.height = 0xFFFFFFFFu;
    for (u32 i = 0; i < SFrameBuffer::SLOT_COUNT; ++i)
    {
        const STexture* t = fb.textures[i].Get();
        u32 w, h;
        if (t && t->GLName)
        {
            w = t->Width;
            h = t->Height;
        }
        else if (!fb.renderBuffers[i].IsNull())
        {
            w = fb.renderBuffers[i]->Width;
            h = fb.renderBuffers[i]->Height;
        }
        else
            continue;
        if (w < fb.width)
            fb.width = w;
        if (h < fb.height)
            fb.height = h;
    }
    return true;
}

bool FB_Valid()
{
    return !GFBInvalid;
}

void PushFrameBuffer(const FrameBufferRef& ptr)
{
    if (BREAK_IF(!FB_Valid()))
        return;
    if (BREAK_IF(!ptr))
        return;
    GFBOStack.Add(ptr);
    ApplyTop();
}

void PopFrameBuffer(const FrameBufferRef& ptr)
{
    if (BREAK_IF(!FB_Valid()))
        return;
    if (BREAK_IF_TEXT(GFBOStack.Count() == 0, "GFBOStack.Size() == 0"))
        return;
    if (BREAK_IF(GFBOStack.Last() != ptr))
        return;
    GFBOStack.Remove(GFBOStack.count - 1);
    ApplyTop();
}

void FB_BindWindowBuffer(bool on)
{
    if (on)
    {
        GFBInvalid = true;
        BindWindowBuffer();
    }
    else
    {
        GFBInvalid = false;
        ApplyTop();
    }
}

// ---------------------------------------------------------------------------------------------
// Scissor

bool M_RectIntersect(const mRect& a, const mRect& b, mRect& out)
{
    mRect r;
    r.x0 = a.x0 > b.x0 ? a.x0 : b.x0;
    r.y0 = a.y0 > b.y0 ? a.y0 : b.y0;
    r.x1 = a.x1 < b.x1 ? a.x1 : b.x1;
    r.y1 = a.y1 < b.y1 ? a.y1 : b.y1;
    // Written so that NaN coordinates count as no overlap.
    if (!(r.x0 < r.x1) || !(r.y0 < r.y1))
        return false;
    out = r;
    return true;
}

// Truncation toward zero; NaN gives 0 and the result stays in int range.
static int TruncToInt(float v)
{
    if (!(v == v))
        return 0;
    if (v >= 2147483520.0f)
        return 2147483520;
    if (v <= -2147483520.0f)
        return -2147483520;
    return (int)v;
}

static void ApplyScissor(const mRect& r)
{
    int w = TruncToInt(r.x1 - r.x0);
    int h = TruncToInt(r.y1 - r.y0);
    glScissor(TruncToInt(r.x0), TruncToInt((float)GScreenHeight - r.y0 - (r.y1 - r.y0)), w > 0 ? w : 0, h > 0 ? h : 0);
}

int R_PushScissor(const mRect& rect)
{
    mRect r = rect;
    if (GScissorStack.count && !M_RectIntersect(rect, GScissorStack.Last(), r))
        return 0;
    GScissorStack.Add(r);
    ApplyScissor(r);
    R_SetScissorEnabled(true);
    return 1;
}

void R_PopScissor()
{
    if (BREAK_IF(GScissorStack.count == 0))
        return;
    GScissorStack.Remove(GScissorStack.count - 1);
    if (GScissorStack.count)
    {
        ApplyScissor(GScissorStack.Last());
        R_SetScissorEnabled(true);
    }
    else
        R_SetScissorEnabled(false);
}

void R_SetScissorEnabled(bool on)
{
    if (GScissorOn == on)
        return;
    GScissorOn = on;
    if (on)
        glEnable(GL_SCISSOR_TEST);
    else
        glDisable(GL_SCISSOR_TEST);
}

bool R_GetScissorEnabled()
{
    return GScissorOn;
}

void R_ResetScissorCache()
{
    GScissorOn = false;
}

u32 R_ScissorDepth()
{
    return GScissorStack.count;
}
