// Mesh records: parts (vertex sets with a material and levels of detail), imposters (flat
// substitutes for far distances) and mesh levels of detail, filled by scripts and the mesh
// generator.
#pragma once

#include "GMath.h"
#include "GTemplate.h"
#include "GameMaterial.h"
#include "GameVertex.h"

// One mesh vertex ("SMeshVtxDecl", 60 bytes): position first.
struct SMeshVtx
{
    float x, y, z;
    float u0, v0, u1, v1; // two pairs of texture coordinates
    float nx, ny, nz;
    float tx, ty, tz, tw; // tangent and handedness
    u32 color;            // RGBA8, red in the low byte
};
// The second stream of "SMeshAnimVtxDecl".
struct SMeshBlendWeights
{
    float w[4];
};

extern SVertexDecl GMeshVtxDecl;
extern SVertexDecl GMeshAnimVtxDecl;

// The engine's model folder under the data root.
extern const char* const GModelFolder;

// Imposter kinds and mesh-LOD entry kinds.
enum
{
    MESH_IMPOSTER_Side = 0,
    MESH_IMPOSTER_OneCylinder = 1,
    MESH_IMPOSTER_SixteenCylinders = 2,
    MESH_IMPOSTER_Count = 3,
};
extern const char* const GMeshImposterNames[MESH_IMPOSTER_Count]; // "SIDE", "1CYL", "16CYL"
enum
{
    MESH_LOD_Part = 0,
    MESH_LOD_Imposter = 1,
    MESH_LOD_TypeCount = 2,
};
static const u32 MESH_PART_LOD_AlgorithmCount = 2;

struct SMeshPartLOD
{
    u32 Algorithm;
    u32 Source;
    float Distance;
    TPodArray<u32> Indices[3];

    SMeshPartLOD() : Algorithm(0), Source(0), Distance(0) {}
};

struct SMeshPart
{
    TString Name;
    SMaterialInst Material;
    TArray<TString> Names;
    TMap<TString, u32> NameMap;
    TArray<SMeshPartLOD> LODParts;
    TPodArray<SMeshVtx> Vertices;
    TPodArray<u32> Indices;
    TPodArray<u32> EdgeIndices;
    TPodArray<mVec3> Hull;

    // The hull points become the convex hull of the vertex positions; returns the reduction's
    // result (0 when the positions enclose no volume, the hull then holding them all).
    int RebuildHull();
};

struct SMeshImposter
{
    u32 Type;
    SMaterialInst Material;
    u32 Resolution;
    mVec3 Direction;
    mVec3 Up;
    TArray<u32> Parts;
    TArray<u32> PartLevels; // part-LOD index of each entry of Parts

    SMeshImposter() : Type(0), Resolution(0) {}
};

struct SMeshLODEntry
{
    u32 Type; // MESH_LOD_Part or MESH_LOD_Imposter
    u32 Id;
    u32 Level;
};

struct SMeshLOD
{
    float MinDistance;
    float MaxDistance;
    float Fade;
    TArray<SMeshLODEntry> Entries;

    SMeshLOD() : MinDistance(0), MaxDistance(0), Fade(0) {}
};

struct SMesh
{
    TArray<SMeshPart> Parts;
    TArray<SMeshImposter> Imposters;
    TArray<SMeshLOD> LOD;

    SMesh();
    SMesh(const SMesh& other);
    SMesh& operator=(const SMesh& other) = default;
    ~SMesh();

    // Whether p is a mesh that exists now (scripts hand meshes over as bare numbers).
    static bool IsLive(const void* p);

    // Inner operations: a broken index is fatal.
    void AddPartLOD(u32 part, u32 alg, float lod, u32 src);
    void AddImposter(u32 type, const char* mat, u32 res, const mVec3& dir, const mVec3& up);
    void AddImposterPart(u32 imp, u32 part, u32 lod);
    void AddMeshLOD(float rmin, float rmax, float fade);
    void AddMeshLODPart(u32 lod, u32 type, u32 id, u32 idlev);
};

// The script functions ("Mesh_..."): misuse is logged and ignored.
void SMesh_AddPartLOD(SMesh* mesh, u32 part, u32 alg, float lod, u32 src);
void SMesh_AddImposter(SMesh* mesh, u32 type, const TString& mat, u32 res, const mVec3& dir, const mVec3& up);
void SMesh_AddImposterPart(SMesh* mesh, u32 imp, u32 part, u32 lod);
void SMesh_AddMeshLOD(SMesh* mesh, float rmin, float rmax, float fade);
void SMesh_AddMeshLODPart(SMesh* mesh, u32 lod, u32 type, u32 id, u32 idlev);
