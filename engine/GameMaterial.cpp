// Materials, the blend and raster state caches and the program in use.
#include "GameMaterial.h"

#include <GL/glew.h>

#include "GameVertex.h"

const char* const GCPassNames[GCPassCount] = {"PASS_BASE", "PASS_SHADOW", "PASS_SPOTLIGHT", "PASS_IMPOSTER"};
const char* const GCVSNames[GCVSCount] = {"VS_SIMPLE", "VS_SKINNED", "VS_INSTANCED"};
TArray<TString> GMaterialPermutations[GCPermutationCount];

namespace
{
// Builds the permutation table before the application starts.
struct SPermutationTableInit
{
    SPermutationTableInit()
    {
        for (u32 i = 0; i < GCPermutationCount; ++i)
        {
            GMaterialPermutations[i].Clear();
            GMaterialPermutations[i].Add(TString(GCPassNames[i & 3]));
            GMaterialPermutations[i].Add(TString(GCVSNames[i >> 2]));
        }
    }
};
SPermutationTableInit GPermutationTableInit;
} // namespace

u32 GCurBlend = 0;
u32 GCurRasterFlags = 0;

namespace
{
bool GColorWrites = true;
}

SMaterialInst::SMaterialInst() : Blend(0), RasterFlags(0)
{
    for (u32 i = 0; i < GCPermutationCount; ++i)
        Programs[i] = nullptr;
}

SMaterialInst::~SMaterialInst()
{
    ReleaseTextures();
}

SMaterialInst::SMaterialInst(const SMaterialInst& other) : Blend(other.Blend), RasterFlags(other.RasterFlags)
{
    for (u32 i = 0; i < sizeof(Textures) / sizeof(Textures[0]); ++i)
        Textures[i] = other.Textures[i];
    for (u32 i = 0; i < GCPermutationCount; ++i)
        Programs[i] = other.Programs[i];
    OnUseShader = other.OnUseShader;
}

SMaterialInst& SMaterialInst::operator=(const SMaterialInst& other)
{
    Blend = other.Blend;
    RasterFlags = other.RasterFlags;
    for (u32 i = 0; i < sizeof(Textures) / sizeof(Textures[0]); ++i)
        Textures[i] = other.Textures[i];
    for (u32 i = 0; i < GCPermutationCount; ++i)
        Programs[i] = other.Programs[i];
    OnUseShader = other.OnUseShader;
    return *this;
}

void SMaterialInst::ReleaseTextures()
{
    for (int i = 15; i >= 0; --i)
        Textures[i].Release();
}

void SMaterialInst::SetShader(const char* name, const TArray<TString>& extraDefines)
{
    OnUseShader = "";
    for (u32 i = 0; i < GCPermutationCount; ++i)
    {
        TArray<TString> defines = GMaterialPermutations[i];
        for (u32 k = 0; k < extraDefines.Count(); ++k)
            defines.Add(extraDefines[k]);
        Programs[i] = GetShader(name, defines);
    }
}

void SMaterialInst::SetShader(const char* name)
{
    TArray<TString> none;
    SetShader(name, none);
}

void SMaterialInst::SetShaderOnUse(const char* name)
{
    OnUseShader = name ? name : "";
    for (u32 i = 0; i < GCPermutationCount; ++i)
        Programs[i] = nullptr;
}

void R_SetColorWrites(bool on)
{
    if (on == GColorWrites)
        return;
    const GLboolean v = on ? GL_TRUE : GL_FALSE;
    glColorMask(v, v, v, v);
    GColorWrites = on;
}

bool R_GetColorWrites()
{
    return GColorWrites;
}

u32 R_BlendFactor(u32 index)
{
    static const u32 factors[10] = {GL_ZERO,      GL_ONE,           GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR,
                                    GL_DST_COLOR, GL_ONE_MINUS_DST_COLOR, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA,
                                    GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA};
    return index < 10 ? factors[index] : GL_ZERO;
}

u32 R_BlendEquation(u32 equation)
{
    switch (equation)
    {
    case 1: return GL_FUNC_ADD;
    case 2: return GL_FUNC_SUBTRACT;
    case 3: return GL_FUNC_REVERSE_SUBTRACT;
    case 4: return GL_MIN;
    case 5: return GL_MAX;
    default: return GL_FUNC_ADD; // 6 and 7 are unused; add is the harmless reading
    }
}

void SetBlendState(u32 blend)
{
    if ((blend & 7) != (GCurBlend & 7))
    {
        if ((blend & 7) == 0)
        {
            // Off: the factors stay as they are in GL and in the cache's eyes they are gone.
            glDisable(GL_BLEND);
            GCurBlend = 0;
            return;
        }
        glEnable(GL_BLEND);
        glBlendEquation(R_BlendEquation(blend & 7));
    }
    if ((blend & 0xFFFF0) != (GCurBlend & 0xFFFF0))
        glBlendFuncSeparate(R_BlendFactor((blend >> 4) & 15), R_BlendFactor((blend >> 8) & 15),
                            R_BlendFactor((blend >> 12) & 15), R_BlendFactor((blend >> 16) & 15));
    GCurBlend = blend;
}

void SetRasterState(u32 flags)
{
    const u32 changed = flags ^ GCurRasterFlags;
    if (changed & RASTER_NoCull)
    {
        if (flags & RASTER_NoCull)
            glDisable(GL_CULL_FACE);
        else
            glEnable(GL_CULL_FACE);
    }
    if (changed & RASTER_Flat)
        glShadeModel((flags & RASTER_Flat) ? GL_FLAT : GL_SMOOTH);
    GCurRasterFlags = flags;
}

static void UseProgramOf(SShader* sp)
{
    if (sp == GCurShader)
        return;
    // A variant without a program ("#fail") draws with program 0.
    glUseProgram(sp ? sp->Program : 0);
    GCurShader = sp;
}

void UseShader(u32 blend, SShader* sp)
{
    SetBlendState(blend);
    UseProgramOf(sp);
}

void BindMaterialPass(SMaterialInst& material, u32 code)
{
    const u32 pass_idx = (code >> 4) & 15;
    const u32 vs_idx = code & 15;
    if (BREAK_IF(pass_idx >= GCPassCount || vs_idx >= GCVSCount))
        return;
    SetBlendState(material.Blend);
    const u32 variant = vs_idx * GCPassCount + pass_idx;
    if (!material.Programs[variant] && !material.OnUseShader.IsEmpty() && GColorWrites)
        material.Programs[variant] = GetShader(material.OnUseShader.Str(), GMaterialPermutations[variant]);
    UseProgramOf(material.Programs[variant]);
    SetRasterState(material.RasterFlags);
    for (u32 i = 0; i < 16; ++i)
        if (!material.Textures[i].IsNull() && material.Textures[i]->GLName)
            TEX_Bind(i, material.Textures[i]);
}

void R_ResetStateCache()
{
    GCurShader = nullptr;
    // A context already in use may blend: blending off must hold in GL as in the cache.
    glDisable(GL_BLEND);
    GCurBlend = 0;
    GCurRasterFlags = 0;
    GColorWrites = true;
    ResetVertexState();
}
