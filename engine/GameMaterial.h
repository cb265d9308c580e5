// Materials and the cached render state: blend word, raster flags and the program in use.
#pragma once

#include "GameShader.h"
#include "GameTexture.h"

// Render passes and vertex-shader kinds; program variant index = kind * GCPassCount + pass.
enum
{
    GCPassCount = 4,
    GCVSCount = 3,
    GCPermutationCount = GCPassCount * GCVSCount,
};
extern const char* const GCPassNames[GCPassCount];
extern const char* const GCVSNames[GCVSCount];
// Define list of each variant: { pass name [i & 3], kind name [i >> 2] }.
extern TArray<TString> GMaterialPermutations[GCPermutationCount];

// Raster flags.
enum
{
    RASTER_NoCull = 1,
    RASTER_Flat = 16,
};

// Blend word: bits 0-2 equation (0 off, 1 add, 2 subtract, 3 reverse subtract, 4 min, 5 max);
// bits 4-7, 8-11, 12-15, 16-19 source colour, destination colour, source alpha and destination
// alpha factor indices.
static const u32 BLEND_AlphaGUI = 0x71761;

struct SMaterialInst
{
    u32 Blend;
    u32 RasterFlags;
    TextureRef Textures[16];
    SShader* Programs[GCPermutationCount];
    // Set by SetShaderOnUse: the shader whose variants are looked up when first bound.
    TString OnUseShader;

    SMaterialInst();
    ~SMaterialInst();
    // Releases the texture slots, last to first.
    void ReleaseTextures();
    // Fills every variant of the permutation table with the shader plus the extra defines.
    void SetShader(const char* name, const TArray<TString>& extraDefines);
    void SetShader(const char* name);
    // Names the shader without building anything: each variant is built when a pass first binds
    // it while colour writes are on, so that a run which never draws builds none.
    void SetShaderOnUse(const char* name);
    // A copy holds its own counted reference to each texture; the programs are shared.
    SMaterialInst(const SMaterialInst& other);
    SMaterialInst& operator=(const SMaterialInst& other);
};

extern u32 GCurBlend;
extern u32 GCurRasterFlags;

// GL enum of a blend-factor index (0-15) and of an equation (1-5).
u32 R_BlendFactor(u32 index);
u32 R_BlendEquation(u32 equation);

void SetBlendState(u32 blend);
// Colour writes (glColorMask of all four channels) through the cache. While they are off nothing
// reaches the picture, and materials named with SetShaderOnUse build no variant.
void R_SetColorWrites(bool on);
bool R_GetColorWrites();
void SetRasterState(u32 flags);
void UseShader(u32 blend, SShader* sp);
// code: pass in bits 4-7, vertex-shader kind in bits 0-3.
void BindMaterialPass(SMaterialInst& material, u32 code);
// Forgets every cached render state (a new GL context starts from GL's defaults).
void R_ResetStateCache();
