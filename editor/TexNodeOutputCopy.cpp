// The copy of a node's output that every image writer of the editor saves: the Extract node, the
// node menu's "Save texture as..." and the sprite sheet's save all write what it draws, so that
// each file type comes out the same way up.
#include "TexProcessor.h"

#include <GL/glew.h>

#include "GameMaterial.h"
#include "GameShader.h"
#include "GameVertex.h"

namespace
{
const char* const COPY_PROGRAM = "FSQuad";
const u32 COPY_BLEND = 0;
const u32 COPY_RASTER = 1; // face culling off: the quad below is wound the other way
const u32 COPY_ERROR_SIZE = 256;
} // namespace

int NodeUprightCopy(const TextureRef& src, TextureRef& copy, TString& error)
{
    if (src.IsNull() || !src->GLName)
    {
        copy.Release();
        error = "the node has no output";
        return 0;
    }
    const STexture* held = copy.Get();
    const bool fits = held && held->GLName && held->Width == src->Width && held->Height == src->Height &&
                      held->Depth == 1 && held->Faces == 1 && held->Format == TEXFMT_RGBA8;
    if (!fits && (!TEX_Create(copy, src->Width, src->Height, 1, 1, TEXFMT_RGBA8, nullptr, NODE_OUTPUT_TEX_FLAGS) ||
                  !copy->GLName))
    {
        copy.Release();
        error.Format(COPY_ERROR_SIZE, "an RGBA8 copy of %ux%u was refused", src->Width, src->Height);
        return 0;
    }
    FrameBufferRef fb(new SFrameBuffer);
    fb->AttachTexture(0, copy, FBA_Color);
    TString failure;
    if (!FB_Complete(*fb, &failure))
    {
        copy.Release();
        error.Format(COPY_ERROR_SIZE, "CheckFrameBuffer: %s", failure.Str());
        return 0;
    }
    PushFrameBuffer(fb);
    const bool scissor = R_GetScissorEnabled();
    R_SetScissorEnabled(false);
    glClear(GL_COLOR_BUFFER_BIT);
    SetRasterState(COPY_RASTER);
    UseShader(COPY_BLEND, GetShader(COPY_PROGRAM));
    TEX_Bind(0, src);
    // The corners in this order turn the picture over relative to a node pass, which together with
    // the file writers' row order leaves the file the same way up as the node's output.
    DrawFullscreenQuad(-1, 1, -1, 1, 0);
    R_SetScissorEnabled(scissor);
    PopFrameBuffer(fb);
    return 1;
}
