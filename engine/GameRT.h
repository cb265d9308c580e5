// Render targets: SFrameBuffer with up to eight colour attachments and one depth/stencil
// attachment, the counted handle TRefPtr, the render-target stack GFBOStack that decides what is
// bound, and the scissor stack that clips nested GUI panels.
#pragma once

#include "GameParams.h"
#include "GameSys.h"
#include "GTemplate.h"
#include "GameTexture.h"

// ---------------------------------------------------------------------------------------------
// TRefPtr: a counted handle. Copies share one holder; the last release deletes the object.

template <class T>
class TRefPtr
{
public:
    class RefType : public TSafeObject
    {
    public:
        u32 RefCount;
        T* Ptr;
        RefType(T* p) : RefCount(1), Ptr(p) {}
        ~RefType() override { delete Ptr; }
    };

    RefType* Ref;

    TRefPtr() : Ref(nullptr) {}
    // Takes ownership of a new object (null gives a null handle).
    explicit TRefPtr(T* p) : Ref(p ? new RefType(p) : nullptr) {}
    TRefPtr(const TRefPtr& other) : Ref(other.Ref)
    {
        if (Ref)
            ++Ref->RefCount;
    }
    ~TRefPtr() { Release(); }

    TRefPtr& operator=(const TRefPtr& other)
    {
        // The new holder is counted before the old one is released, so assigning a handle to
        // itself (or to a copy of itself) keeps the object alive.
        RefType* r = other.Ref;
        if (r)
            ++r->RefCount;
        Release();
        Ref = r;
        return *this;
    }

    // Count - 1; at 0 the object and the holder are deleted. The handle becomes null.
    void Release()
    {
        RefType* r = Ref;
        Ref = nullptr;
        if (!r)
            return;
        if (BREAK_IF(r->RefCount == 0))
            return;
        if (--r->RefCount == 0)
            delete r;
    }

    T* Get() const { return Ref ? Ref->Ptr : nullptr; }
    T* operator->() const { return Get(); }
    T& operator*() const { return *Get(); }
    bool IsNull() const { return Get() == nullptr; }
    bool operator!() const { return Get() == nullptr; }
    bool operator==(const TRefPtr& other) const { return Get() == other.Get(); }
    bool operator!=(const TRefPtr& other) const { return Get() != other.Get(); }
};

// ---------------------------------------------------------------------------------------------
// Render targets

// A GL render buffer; the last handle's release deletes it.
struct SRenderBuffer
{
    u32 GLName;
    u32 Width;
    u32 Height;
    u32 Samples;
    u32 Format;

    SRenderBuffer() : GLName(0), Width(0), Height(0), Samples(0), Format(0) {}
    ~SRenderBuffer();
};

// Attachment types per slot.
enum
{
    FBA_Color = 0,
    FBA_Depth = 1,
    FBA_Stencil = 2,
    FBA_DepthStencil = 3,
    FBA_None = 0xFFFFFFFFu,
};

class SFrameBuffer
{
public:
    enum
    {
        MAX_COLOR_BUFFERS = 8,
        SLOT_COUNT = 9, // slots 0..7 colour, slot 8 depth/stencil
        DEPTH_SLOT = 8,
    };

    u32 id;
    u32 width;
    u32 height;
    TextureRef textures[SLOT_COUNT];
    TRefPtr<SRenderBuffer> renderBuffers[SLOT_COUNT];
    u32 types[SLOT_COUNT];

    SFrameBuffer();
    ~SFrameBuffer();

    // Begins the set-up of the target: empties every slot, makes a new GL framebuffer, and marks
    // the frame buffers invalid (nothing may be pushed or popped) until CheckFrameBuffer.
    void Reset();
    // Slot 0..7 for colour, 0xFFFFFFFF for the depth/stencil slot; any other slot is reported and
    // changes nothing. Nothing reaches GL until CheckFrameBuffer.
    SFrameBuffer& AttachTexture(u32 slot, const TextureRef& tex, u32 type);
    // Makes a GL render buffer of the given internal format and sample count and attaches it
    // (slots as in AttachTexture). Any texture in the slot is released.
    SFrameBuffer& AttachRenderBuffer(u32 slot, u32 w, u32 h, u32 samples, u32 format, u32 type);
    void ReleaseRenderBufferSlots();
    void ReleaseTextureSlots();
};

typedef TRefPtr<SFrameBuffer> FrameBufferRef;

extern TArray<FrameBufferRef> GFBOStack;

// Completes a target: attaches its objects, checks completeness (an incomplete target or an
// unknown attachment type is fatal with the state dump), sizes it to the smallest attachment and
// clears the invalid mark. The binding returns to the top of the stack.
bool CheckFrameBuffer(SFrameBuffer& fb);
// The same for callers that can go on without the target: an incomplete target is not fatal but
// gives false with the cause in failure (set-up ends, the top of the stack is bound again). A null
// failure makes it fatal as above.
bool FB_Complete(SFrameBuffer& fb, TString* failure);
// The text handed to the fatal error when a target cannot be completed.
TString FB_StateDump(const SFrameBuffer& fb, const char* message);

// True when no target is in set-up and the window buffer is not forced.
bool FB_Valid();
// Binds target and applies it (binding, viewport, draw buffers).
void PushFrameBuffer(const FrameBufferRef& fb);
// Removes the top target, which must be fb, and applies the new top (or the window buffer).
void PopFrameBuffer(const FrameBufferRef& fb);
// true: binds the window buffer past the stack (and marks frame buffers invalid); false: applies
// the top of the stack again.
void FB_BindWindowBuffer(bool on);

// ---------------------------------------------------------------------------------------------
// Scissor stack (window pixels, y down)

struct mRect
{
    float x0, y0, x1, y1;
};

// The common part of two rectangles; false (out unchanged) when they do not overlap (touching
// rectangles do not).
bool M_RectIntersect(const mRect& a, const mRect& b, mRect& out);
// Pushes the rectangle clipped to the current top. 0 when it does not overlap the top (nothing
// pushed, no GL change; the caller must not pop), else 1.
int R_PushScissor(const mRect& rect);
void R_PopScissor();
void R_SetScissorEnabled(bool on);
bool R_GetScissorEnabled();
// Forgets the cached enable (a new GL context starts with scissoring off).
void R_ResetScissorCache();
// Number of rectangles on the scissor stack.
u32 R_ScissorDepth();
