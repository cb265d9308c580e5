// Mesh records and the script functions that fill their levels of detail and imposters.
#include "GameMesh.h"

#include <GL/glew.h>

#include "GamePhysics.h"
#include "GameScript.h"

static SVertexElement GMeshVtxElements[] = {
    {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
    {GL_FLOAT, 4, 0, VA_TexCoord0, 0, 0},
    {GL_FLOAT, 3, 0, VA_Normal, 0, 0},
    {GL_FLOAT, 4, 0, VA_Tangent, 0, 0},
    {GL_UNSIGNED_BYTE, 4, 0, VA_Color, 0, 0},
    {0, 0, 0, 0, 0, 0},
};
static SVertexElement GMeshAnimVtxElements[] = {
    {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
    {GL_FLOAT, 4, 0, VA_TexCoord0, 0, 0},
    {GL_FLOAT, 3, 0, VA_Normal, 0, 0},
    {GL_FLOAT, 4, 0, VA_Tangent, 0, 0},
    {GL_UNSIGNED_BYTE, 4, 0, VA_Color, 0, 0},
    {GL_FLOAT, 4, 1, VA_BlendWeights, 0, 0},
    {0, 0, 0, 0, 0, 0},
};
SVertexDecl GMeshVtxDecl(GMeshVtxElements, "SMeshVtxDecl");
SVertexDecl GMeshAnimVtxDecl(GMeshAnimVtxElements, "SMeshAnimVtxDecl");

const char* const GModelFolder = "Data/Models/";
const char* const GMeshImposterNames[MESH_IMPOSTER_Count] = {"SIDE", "1CYL", "16CYL"};

namespace
{
const char* const MESH_ASSERT_FORMAT = "ASSERT\n\nThis test expression is false:\n\n%s";
// Directions this short count as none.
const float MESH_MIN_DIRECTION_SQ = 0.0001f;

// Meshes alive now; main thread only, like every mesh.
TPodArray<const SMesh*>& LiveMeshes()
{
    static TPodArray<const SMesh*> live;
    return live;
}
} // namespace

int SMeshPart::RebuildHull()
{
    Hull.Clear();
    if (!Hull.Reserve(Vertices.Count(), true) && Vertices.Count())
        return 0;
    for (const SMeshVtx& v : Vertices)
        Hull.Add(mVec3(v.x, v.y, v.z));
    return ConvexHull_Reduce(Hull);
}

SMesh::SMesh()
{
    LiveMeshes().Add(this);
}

SMesh::SMesh(const SMesh& other) : Parts(other.Parts), Imposters(other.Imposters), LOD(other.LOD)
{
    LiveMeshes().Add(this);
}

SMesh::~SMesh()
{
    TPodArray<const SMesh*>& live = LiveMeshes();
    for (u32 i = 0; i < live.Count(); ++i)
        if (live[i] == this)
        {
            live.Remove(i);
            break;
        }
}

bool SMesh::IsLive(const void* p)
{
    if (!p)
        return false;
    for (const SMesh* m : LiveMeshes())
        if (m == p)
            return true;
    return false;
}

void SMesh::AddPartLOD(u32 part, u32 alg, float lod, u32 src)
{
    if (!(part < Parts.Count()))
        FatalError(MESH_ASSERT_FORMAT, "part < Parts.Size()");
    SMeshPartLOD record;
    record.Algorithm = alg;
    record.Source = src;
    record.Distance = lod;
    Parts[part].LODParts.Add(record);
}

void SMesh::AddImposter(u32 type, const char* mat, u32 res, const mVec3& dir, const mVec3& up)
{
    SMeshImposter record;
    record.Type = type;
    record.Resolution = res;
    record.Material.SetShader(mat);
    record.Direction = dir.LengthSq() <= MESH_MIN_DIRECTION_SQ ? mVec3(1, 0, 0) : dir;
    record.Up = up.LengthSq() <= MESH_MIN_DIRECTION_SQ ? mVec3(0, 0, 1) : up;
    Imposters.Add(record);
}

void SMesh::AddImposterPart(u32 imp, u32 part, u32 lod)
{
    if (!(imp < Imposters.Count()))
        FatalError(MESH_ASSERT_FORMAT, "imp < Imposters.Size()");
    if (!(part < Parts.Count()))
        FatalError(MESH_ASSERT_FORMAT, "part < Parts.Size()");
    if (!(lod < Parts[part].LODParts.Count()))
        FatalError(MESH_ASSERT_FORMAT, "lod < Parts[ part ].LODParts.Size()");
    Imposters[imp].Parts.Add(part);
    Imposters[imp].PartLevels.Add(lod);
}

void SMesh::AddMeshLOD(float rmin, float rmax, float fade)
{
    SMeshLOD record;
    record.MinDistance = rmin;
    record.MaxDistance = rmax;
    record.Fade = fade;
    LOD.Add(record);
}

void SMesh::AddMeshLODPart(u32 lod, u32 type, u32 id, u32 idlev)
{
    if (!(lod < LOD.Count()))
        FatalError(MESH_ASSERT_FORMAT, "lod < LOD.Size()");
    SMeshLODEntry entry = {type, id, idlev};
    LOD[lod].Entries.Add(entry);
}

// ---------------------------------------------------------------------------------------------
// Script functions. Every index a script passes is checked here, so that a script cannot reach
// the inner operations' fatal checks.

void SMesh_AddPartLOD(SMesh* mesh, u32 part, u32 alg, float lod, u32 src)
{
    if (!SMesh::IsLive(mesh))
        return LogPrintf("SMesh_AddPartLOD - invalid pointer\n");
    if (alg >= MESH_PART_LOD_AlgorithmCount)
        return LogPrintf("SMesh_AddPartLOD - wrong algorithm\n");
    if (part >= mesh->Parts.Count())
        return LogPrintf("SMesh_AddPartLOD - invalid part ID\n");
    mesh->AddPartLOD(part, alg, lod, src);
}

void SMesh_AddImposter(SMesh* mesh, u32 type, const TString& mat, u32 res, const mVec3& dir, const mVec3& up)
{
    if (!SMesh::IsLive(mesh))
        return LogPrintf("SMesh_AddImposter - invalid pointer\n");
    if (type >= MESH_IMPOSTER_Count)
        return LogPrintf("SMesh_AddImposter - wrong type\n");
    mesh->AddImposter(type, mat.Str(), res, dir, up);
}

void SMesh_AddImposterPart(SMesh* mesh, u32 imp, u32 part, u32 lod)
{
    if (!SMesh::IsLive(mesh))
        return LogPrintf("SMesh_AddImposterPart - invalid pointer\n");
    if (imp >= mesh->Imposters.Count())
        return LogPrintf("SMesh_AddImposterPart - invalid imposter ID\n");
    if (part >= mesh->Parts.Count())
        return LogPrintf("SMesh_AddImposterPart - invalid part ID\n");
    if (lod >= mesh->Parts[part].LODParts.Count())
        return LogPrintf("SMesh_AddImposterPart - invalid part LOD ID\n");
    mesh->AddImposterPart(imp, part, lod);
}

void SMesh_AddMeshLOD(SMesh* mesh, float rmin, float rmax, float fade)
{
    if (!SMesh::IsLive(mesh))
        return LogPrintf("SMesh_AddMeshLOD - invalid pointer\n");
    mesh->AddMeshLOD(rmin, rmax, fade);
}

void SMesh_AddMeshLODPart(SMesh* mesh, u32 lod, u32 type, u32 id, u32 idlev)
{
    if (!SMesh::IsLive(mesh))
        return LogPrintf("SMesh_AddMeshLODPart - invalid pointer\n");
    if (type >= MESH_LOD_TypeCount)
        return LogPrintf("SMesh_AddMeshLODPart - invalid mesh LOD part type\n");
    if (type == MESH_LOD_Part)
    {
        if (id >= mesh->Parts.Count())
            return LogPrintf("SMesh_AddMeshLODPart - invalid part ID\n");
        if (idlev >= mesh->Parts[id].LODParts.Count())
            return LogPrintf("SMesh_AddMeshLODPart - invalid part LOD ID\n");
    }
    else if (id >= mesh->Imposters.Count())
        return LogPrintf("SMesh_AddMeshLODPart - invalid imposter ID\n");
    if (lod >= mesh->LOD.Count())
        return LogPrintf("SMesh_AddMeshLODPart - invalid mesh LOD ID\n");
    mesh->AddMeshLODPart(lod, type, id, idlev);
}

static SScriptFunction GMeshAddPartLODRecord("void Mesh_AddPartLOD( pointer mesh, uint part, uint alg, float lod, uint src )",
                                             &SMesh_AddPartLOD);
static SScriptFunction GMeshAddImposterRecord(
    "void Mesh_AddImposter( pointer mesh, uint type, const TString &in mat, uint res, const mVec3 &in dir, const mVec3 &in up )",
    &SMesh_AddImposter);
static SScriptFunction GMeshAddImposterPartRecord("void Mesh_AddImposterPart( pointer mesh, uint imp, uint part, uint lod )",
                                                  &SMesh_AddImposterPart);
static SScriptFunction GMeshAddMeshLODRecord("void Mesh_AddMeshLOD( pointer mesh, float rmin, float rmax, float fade )",
                                             &SMesh_AddMeshLOD);
static SScriptFunction GMeshAddMeshLODPartRecord(
    "void Mesh_AddMeshLODPart( pointer mesh, uint lod, uint type, uint id, uint idlev )", &SMesh_AddMeshLODPart);
