// The current builder, the target mesh and the "RMG2_" script functions that build rock-like
// solids and emit them as parts of the target mesh.
#include "GameMeshGen.h"

#include "GameMeshGenInternal.h"
#include "GameScript.h"

SMeshGen* GCurMeshGen = nullptr;
SMesh* GTMGMesh = nullptr;

namespace
{
SMeshGen& Current()
{
    FATAL_CHECK(GCurMeshGen);
    return *GCurMeshGen;
}

void LoadTexture(SMaterialInst& material, u32 slot, const TString& name, u32 flags)
{
    // No name leaves the slot empty.
    if (!name.IsEmpty())
        TEX_Get(material.Textures[slot], name.Str(), flags);
}
} // namespace

void MeshGen_SetTarget(SMesh* mesh)
{
    GTMGMesh = mesh;
}

void MeshGen_NewBuilder()
{
    delete GCurMeshGen;
    GCurMeshGen = new SMeshGen;
}

void MeshGen_FreeBuilder()
{
    delete GCurMeshGen;
    GCurMeshGen = nullptr;
}

void MeshGen_FreeAll()
{
    MeshGen_FreeBuilder();
    for (u32 id = 0; id < TMG_PART_COUNT; ++id)
        MeshGen_FreeTreePart(id);
    GTMGTree.Clear();
    GTMGMesh = nullptr;
}

void RMG2_Clear()
{
    MeshGen_NewBuilder();
}

s32 RMG2_LastFV()
{
    return Current().FirstVertex;
}

void RMG2_CSMesh(float sfactor, mVec3 pos, mVec3 ext, mVec3 subdiv)
{
    Current().AddBox(sfactor, pos, ext, subdiv);
}

void RMG2_Noise(mVec3 pos, mVec3 ext, mVec2 push, mVec3 normal, float iscale, int from)
{
    Current().Noise(pos, ext, push, normal, iscale, from);
}

void RMG2_BoxMapping(mVec3 off, mVec3 size, int from)
{
    Current().BoxMapping(off, size, from);
}

void RMG2_AddPart(const TString& shd, const TString& tex0, u32 tex0flags, const TString& tex1, u32 tex1flags)
{
    SMeshGen& g = Current();
    // Scripts hand the mesh over as a bare number: only a mesh that exists now is written to.
    FATAL_CHECK(SMesh::IsLive(GTMGMesh));
    MeshGenRequire(g.Indices.Count() > 0 && g.Vertices.Count() > 0, "Indices.Size() > 0 && Vertices.Size() > 0");
    g.Weld();
    g.FinalPass(true, true, true);
    // Cleaning may have left nothing to emit.
    MeshGenRequire(g.Indices.Count() > 0 && g.Vertices.Count() > 0, "Indices.Size() > 0 && Vertices.Size() > 0");

    TArray<SMeshPart>& parts = GTMGMesh->Parts;
    if (!parts.Resize(parts.Count() + 1))
        return;
    SMeshPart& part = parts.Last();
    part.Vertices = g.Vertices;
    part.Indices = g.Indices;
    part.Material.SetShader(shd.Str());
    LoadTexture(part.Material, 0, tex0, tex0flags);
    LoadTexture(part.Material, 1, tex1, tex1flags);
}

static SScriptFunction GRMG2ClearRecord("void RMG2_Clear()", &RMG2_Clear);
static SScriptFunction GRMG2LastFVRecord("int32 RMG2_LastFV()", &RMG2_LastFV);
static SScriptFunction GRMG2CSMeshRecord("void RMG2_CSMesh( float sfactor, mVec3 pos, mVec3 ext, mVec3 subdiv )",
                                         &RMG2_CSMesh);
static SScriptFunction GRMG2NoiseRecord(
    "void RMG2_Noise( mVec3 pos, mVec3 ext, mVec2 push, mVec3 normal, float iscale, int from )", &RMG2_Noise);
static SScriptFunction GRMG2BoxMappingRecord("void RMG2_BoxMapping( mVec3 off, mVec3 size, int from )",
                                             &RMG2_BoxMapping);
static SScriptFunction GRMG2AddPartRecord("void RMG2_AddPart( const TString &in shd, const TString &in tex0, uint "
                                          "tex0flags, const TString &in tex1, uint tex1flags )",
                                          &RMG2_AddPart);
static SScriptProperty GTMGMeshRecord("const pointer TMG_Mesh", &GTMGMesh);
