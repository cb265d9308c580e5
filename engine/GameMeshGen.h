// Procedural mesh generator: a mesh builder that scripts fill with boxes blended towards
// ellipsoids, noise displacement and box-projected texture coordinates ("RMG2_" functions, emitted
// as parts of the target mesh), and trees of tube branches, caps and leaves built into up to eight
// tree parts ("TMG_" functions).
#pragma once

#include "GMath.h"
#include "GTemplate.h"
#include "GameMesh.h"

// Texture slots of a tree part.
static const u32 TEX_COUNT = 16;
// Tree part slots.
static const u32 TMG_PART_COUNT = 8;
// Most vertices one builder holds: far below the u32 index range and small enough that the
// 60-byte records of a whole builder stay addressable.
static const u32 MESHGEN_MAX_VERTICES = 1u << 22;
// Entries of the noise table.
static const u32 MESHGEN_NOISE_SIZE = 256;

// One branch of the tree stack; the "TMG_" globals describe the next one in the same form.
struct STMGFrame
{
    mVec3 Pos0, Pos1;
    float Size0, Size1;
    mQuat Rot0, Rot1;
    s32 Sides, Subdiv;

    STMGFrame() : Size0(0), Size1(0), Sides(0), Subdiv(0) {}
};

// A growing vertex and triangle set. Triangles are wound clockwise seen from their front (the
// engine's front faces), with normals pointing to that side.
struct SMeshGen
{
    s32 FirstVertex; // first vertex of the last primitive appended
    TPodArray<SMeshVtx> Vertices;
    TPodArray<u32> Indices;

    SMeshGen() : FirstVertex(0) {}

    // Box centred at pos with half-extents ext and round(subdiv) quads along each axis, blended
    // towards the ellipsoid by sfactor (0 box, 1 ellipsoid).
    void AddBox(float sfactor, const mVec3& pos, const mVec3& ext, const mVec3& subdiv);
    // Moves the vertices from `from` on by noise, fading out towards the edge of the ellipsoid
    // (pos, ext); along normal, or away from pos when normal is zero.
    void Noise(const mVec3& pos, const mVec3& ext, const mVec2& push, const mVec3& normal, float iscale, int from);
    // Gives every triangle corner a vertex of its own, projects texture coordinates of the
    // vertices from `from` on along each face's dominant axis, then welds again.
    void BoxMapping(const mVec3& off, const mVec3& size, int from);

    // A tube along the frame's Hermite curve; nothing when Subdiv is below 1.
    void AddTube(const STMGFrame& f);
    // A disc closing the frame's end ring.
    void AddCap(const STMGFrame& f);
    // A quad facing rot applied to (0, 0, -1), both ways when twoSided.
    void AddLeaf(const mVec3& pos, const mVec2& ext, const mQuat& rot, bool twoSided);

    // Merges coincident vertices with equal texture coordinates (normals are not compared)
    // unless they belong to coplanar faces facing opposite ways; merged vertices are removed.
    void Weld();
    // Foliage normals: the sum of (vertex - triangle centroid) over the vertex's triangles,
    // plus a little of (vertex - centroid of all vertices).
    void RoundNormals();
    // In this order: clean drops triangles that collapse to fewer than three distinct points (and
    // the vertices left unused), faceNormals sets each normal from the planes of the triangles
    // using the vertex, smooth gives each vertex the average of its normal and those of the
    // vertices coincident with it (never of vertices reached only through others; the two faces
    // of a leaf kept apart).
    void FinalPass(bool smooth, bool clean, bool faceNormals);
};

// A tree part: mode words, material (shader and texture slots) and its own builder.
struct STMGPart
{
    u32 Bm, Pm;
    SMaterialInst Material;
    SMeshGen Builder;

    STMGPart() : Bm(0), Pm(0) {}
};

extern SMeshGen* GCurMeshGen;
extern STMGPart* GTMGParts[TMG_PART_COUNT];
extern TArray<STMGFrame> GTMGTree;
// The script's "TMG_" globals: the next branch and the parent of the current one.
extern STMGFrame GTMGNext;
extern STMGFrame GTMGParent;
// The mesh that "RMG2_AddPart" appends to.
extern SMesh* GTMGMesh;

// Noise: the table refilled from gRand() and the value at a point (0 at whole coordinates).
extern float GMeshGenNoiseTable[MESHGEN_NOISE_SIZE];
void MeshGen_FillNoiseTable();
float MeshGen_Noise(const mVec3& p);

// Entry points for the engine code that runs generator scripts.
void MeshGen_SetTarget(SMesh* mesh);
// A fresh current builder (the old one is freed); MeshGen_FreeBuilder leaves none.
void MeshGen_NewBuilder();
void MeshGen_FreeBuilder();
// An empty tree part in slot id (replacing what was there), or the slot emptied.
STMGPart* MeshGen_CreateTreePart(u32 id);
void MeshGen_FreeTreePart(u32 id);
// Frees the builder, every tree part and the branch stack and forgets the target mesh.
void MeshGen_FreeAll();

// Script functions.
void RMG2_Clear();
s32 RMG2_LastFV();
void RMG2_CSMesh(float sfactor, mVec3 pos, mVec3 ext, mVec3 subdiv);
void RMG2_Noise(mVec3 pos, mVec3 ext, mVec2 push, mVec3 normal, float iscale, int from);
void RMG2_BoxMapping(mVec3 off, mVec3 size, int from);
void RMG2_AddPart(const TString& shd, const TString& tex0, u32 tex0flags, const TString& tex1, u32 tex1flags);
void TMG_InitData();
void TMG_PushBranch(u32 id, u32 nomesh);
void TMG_PopBranch();
void TMG_CapBranch(u32 id);
void TMG_AddLeaf(u32 id, mVec3 pos, mVec2 ext, mQuat rot, u32 nocull);
void TMG_AddNoise(u32 id, mVec3 pos, mVec3 ext, mVec3 dir, mVec2 off, float iscale);
void TMG_SetShader(u32 id, const TString& shd, u32 bm, u32 pm);
void TMG_SetTexture(u32 id, u32 texid, const TString& tex, u32 texflags);
void TMG_Finalize(u32 id, int lmode);
