// Trees: branch tubes along Hermite curves, end caps and leaf quads built into tree parts, and
// the "TMG_" script functions and globals that drive them.
#include "GameMeshGen.h"

#include "GameMeshGenInternal.h"
#include "GameScript.h"

STMGPart* GTMGParts[TMG_PART_COUNT];
TArray<STMGFrame> GTMGTree;
STMGFrame GTMGNext;
STMGFrame GTMGParent;

namespace
{
const float TWO_PI = 6.28318530717959f;
const mVec3 AXIS_X(1, 0, 0);
const mVec3 AXIS_Y(0, 1, 0);
const mVec3 AXIS_Z(0, 0, 1);
// Leaf corners: (side, up) signs and texture coordinates, counter-clockwise in the leaf's plane.
const float LEAF_CORNERS[4][4] = {{-1, -1, 0, 1}, {1, -1, 1, 1}, {1, 1, 1, 0}, {-1, 1, 0, 0}};
const u32 LEAF_FRONT[6] = {0, 1, 2, 0, 2, 3};
const u32 LEAF_BACK[6] = {4, 6, 5, 4, 7, 6};
const float CAP_UV_CENTRE = 0.5f;

// Direction of ring vertex s of n around the local Z axis.
mVec3 RingDirection(s32 s, s32 n, const mQuat& rot)
{
    const float a = TWO_PI * (float)(s % n) / (float)n;
    return M_RotateVec(mVec3(gCos(a), gSin(a), 0), rot);
}

STMGPart& Part(u32 id)
{
    MeshGenRequire(id < TMG_PART_COUNT, "id < 8");
    FATAL_CHECK(GTMGParts[ id ]);
    return *GTMGParts[id];
}

const STMGFrame& TopFrame()
{
    MeshGenRequire(GTMGTree.Count() > 0, "GTMGTree.Size()");
    return GTMGTree.Last();
}
} // namespace

void SMeshGen::AddTube(const STMGFrame& f)
{
    if (f.Subdiv < 1)
        return;
    const s32 xsub = f.Sides, ysub = f.Subdiv;
    FATAL_CHECK(xsub > 1 && ysub > 0);
    const u32 ring = (u32)xsub + 1; // the seam vertex repeats with the texture's right edge
    MeshGenRequireRoom((double)Vertices.Count() + (double)ring * ((double)ysub + 1));

    const mVec3 T0 = M_RotateVec(AXIS_Z, f.Rot0) * f.Size0;
    const mVec3 T1 = M_RotateVec(AXIS_Z, f.Rot1) * f.Size1;
    const u32 base = Vertices.Count();
    FirstVertex = (s32)base;
    for (s32 i = 0; i <= ysub; ++i)
    {
        const float t = (float)i / (float)ysub, t2 = t * t, t3 = t2 * t;
        const mVec3 centre = f.Pos0 * (2 * t3 - 3 * t2 + 1) + T0 * (t3 - 2 * t2 + t) + f.Pos1 * (-2 * t3 + 3 * t2) +
                             T1 * (t3 - t2);
        const mQuat rot = mQuat::Slerp(f.Rot0, f.Rot1, t).NormalizedCopy();
        const float radius = f.Size0 + (f.Size1 - f.Size0) * t;
        for (s32 s = 0; s <= xsub; ++s)
        {
            const mVec3 dir = RingDirection(s, xsub, rot);
            Vertices.Add(MeshGenVertex(centre + dir * radius, dir, (float)s / (float)xsub, t));
        }
    }
    for (u32 i = 0; i < (u32)ysub; ++i)
        for (u32 s = 0; s < (u32)xsub; ++s)
        {
            const u32 A = base + i * ring + s, B = A + 1, D = A + ring, C = D + 1;
            const u32 quad[6] = {A, C, B, A, D, C};
            Indices.Append(quad, 6);
        }
}

void SMeshGen::AddCap(const STMGFrame& f)
{
    const s32 xsub = f.Sides;
    FATAL_CHECK(xsub > 1);
    MeshGenRequireRoom((double)Vertices.Count() + (double)xsub + 1);
    const mQuat rot = f.Rot1.NormalizedCopy();
    const mVec3 normal = M_RotateVec(AXIS_Z, rot);
    const u32 centre = Vertices.Count();
    FirstVertex = (s32)centre;
    Vertices.Add(MeshGenVertex(f.Pos1, normal, CAP_UV_CENTRE, CAP_UV_CENTRE));
    for (s32 s = 0; s < xsub; ++s)
    {
        const mVec3 dir = RingDirection(s, xsub, rot);
        const float a = TWO_PI * (float)s / (float)xsub;
        Vertices.Add(MeshGenVertex(f.Pos1 + dir * f.Size1, normal, CAP_UV_CENTRE + CAP_UV_CENTRE * gCos(a),
                                   CAP_UV_CENTRE + CAP_UV_CENTRE * gSin(a)));
    }
    for (u32 s = 0; s < (u32)xsub; ++s)
    {
        const u32 tri[3] = {centre, centre + 1 + (s + 1) % (u32)xsub, centre + 1 + s};
        Indices.Append(tri, 3);
    }
}

void SMeshGen::AddLeaf(const mVec3& pos, const mVec2& ext, const mQuat& rot, bool twoSided)
{
    MeshGenRequireRoom((double)Vertices.Count() + (twoSided ? 8 : 4));
    const mQuat q = rot.NormalizedCopy();
    const mVec3 side = M_RotateVec(AXIS_X, q) * ext.x;
    const mVec3 up = M_RotateVec(AXIS_Y, q) * ext.y;
    const mVec3 facing = M_RotateVec(-AXIS_Z, q);
    const u32 base = Vertices.Count();
    FirstVertex = (s32)base;
    for (u32 face = 0; face < (twoSided ? 2u : 1u); ++face)
        for (const float* c : LEAF_CORNERS)
            Vertices.Add(MeshGenVertex(pos + side * c[0] + up * c[1], face ? -facing : facing, c[2], c[3]));
    for (u32 k = 0; k < 6; ++k)
        Indices.Add(base + LEAF_FRONT[k]);
    if (twoSided)
        for (u32 k = 0; k < 6; ++k)
            Indices.Add(base + LEAF_BACK[k]);
}

// ---------------------------------------------------------------------------------------------
// Parts

STMGPart* MeshGen_CreateTreePart(u32 id)
{
    if (BREAK_IF(id >= TMG_PART_COUNT))
        return nullptr;
    delete GTMGParts[id];
    GTMGParts[id] = new STMGPart;
    return GTMGParts[id];
}

void MeshGen_FreeTreePart(u32 id)
{
    if (BREAK_IF(id >= TMG_PART_COUNT))
        return;
    delete GTMGParts[id];
    GTMGParts[id] = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Script functions

void TMG_InitData()
{
    if (GTMGTree.IsEmpty())
        return;
    const STMGFrame top = GTMGTree.Last();
    GTMGParent = top;
    GTMGNext.Pos0 = GTMGNext.Pos1 = top.Pos1;
    GTMGNext.Rot0 = GTMGNext.Rot1 = top.Rot1;
    GTMGNext.Size0 = GTMGNext.Size1 = top.Size1;
    GTMGNext.Sides = top.Sides;
    GTMGNext.Subdiv = top.Subdiv;
}

void TMG_PushBranch(u32 id, u32 nomesh)
{
    if (!nomesh)
        Part(id).Builder.AddTube(GTMGNext);
    GTMGTree.Add(GTMGNext);
}

void TMG_PopBranch()
{
    TopFrame();
    GTMGTree.Remove(GTMGTree.Count() - 1);
}

void TMG_CapBranch(u32 id)
{
    STMGPart& part = Part(id);
    part.Builder.AddCap(TopFrame());
}

void TMG_AddLeaf(u32 id, mVec3 pos, mVec2 ext, mQuat rot, u32 nocull)
{
    Part(id).Builder.AddLeaf(pos, ext, rot, nocull != 0);
}

void TMG_AddNoise(u32 id, mVec3 pos, mVec3 ext, mVec3 dir, mVec2 off, float iscale)
{
    Part(id).Builder.Noise(pos, ext, off, dir, iscale, 0);
}

void TMG_SetShader(u32 id, const TString& shd, u32 bm, u32 pm)
{
    STMGPart& part = Part(id);
    part.Bm = bm;
    part.Pm = pm;
    // The material's own two words: blend word and raster flags.
    part.Material.Blend = bm;
    part.Material.RasterFlags = pm;
    part.Material.SetShader(shd.Str());
}

void TMG_SetTexture(u32 id, u32 texid, const TString& tex, u32 texflags)
{
    STMGPart& part = Part(id);
    FATAL_CHECK(texid < TEX_COUNT);
    // No name leaves the slot empty, as a part's slots are when emitted without one.
    if (tex.IsEmpty())
        part.Material.Textures[texid].Release();
    else
        TEX_Get(part.Material.Textures[texid], tex.Str(), texflags);
}

void TMG_Finalize(u32 id, int lmode)
{
    const s32 ROUNDED = 2, FLAT_BELOW = 1;
    STMGPart& part = Part(id);
    SMeshGen& g = part.Builder;
    g.Weld();
    if (lmode == ROUNDED)
        g.RoundNormals();
    g.FinalPass(true, true, lmode < FLAT_BELOW);
    LogPrintf("Mesh part %d: %d vertices, %d triangles\n", (int)id, (int)g.Vertices.Count(),
              (int)(g.Indices.Count() / 3));
}

static SScriptFunction GTMGInitDataRecord("void TMG_InitData()", &TMG_InitData);
static SScriptFunction GTMGPushBranchRecord("void TMG_PushBranch( uint id, uint nomesh )", &TMG_PushBranch);
static SScriptFunction GTMGPopBranchRecord("void TMG_PopBranch()", &TMG_PopBranch);
static SScriptFunction GTMGCapBranchRecord("void TMG_CapBranch( uint id )", &TMG_CapBranch);
static SScriptFunction GTMGAddLeafRecord("void TMG_AddLeaf( uint id, mVec3 pos, mVec2 ext, mQuat rot, uint nocull )",
                                        &TMG_AddLeaf);
static SScriptFunction GTMGAddNoiseRecord(
    "void TMG_AddNoise( uint id, mVec3 pos, mVec3 ext, mVec3 dir, mVec2 off, float iscale )", &TMG_AddNoise);
static SScriptFunction GTMGSetShaderRecord("void TMG_SetShader( uint id, const TString &in shd, uint bm, uint pm )",
                                           &TMG_SetShader);
static SScriptFunction GTMGSetTextureRecord(
    "void TMG_SetTexture( uint id, uint texid, const TString &in tex, uint texflags )", &TMG_SetTexture);
static SScriptFunction GTMGFinalizeRecord("void TMG_Finalize( uint id, int lmode )", &TMG_Finalize);

static SScriptProperty GTMGParentPos0Record("const mVec3 TMG_ParentPos0", &GTMGParent.Pos0);
static SScriptProperty GTMGParentPos1Record("const mVec3 TMG_ParentPos1", &GTMGParent.Pos1);
static SScriptProperty GTMGParentRot0Record("const mQuat TMG_ParentRot0", &GTMGParent.Rot0);
static SScriptProperty GTMGParentRot1Record("const mQuat TMG_ParentRot1", &GTMGParent.Rot1);
static SScriptProperty GTMGParentSize0Record("const float TMG_ParentSize0", &GTMGParent.Size0);
static SScriptProperty GTMGParentSize1Record("const float TMG_ParentSize1", &GTMGParent.Size1);
static SScriptProperty GTMGPos0Record("mVec3 TMG_Pos0", &GTMGNext.Pos0);
static SScriptProperty GTMGPos1Record("mVec3 TMG_Pos1", &GTMGNext.Pos1);
static SScriptProperty GTMGRot0Record("mQuat TMG_Rot0", &GTMGNext.Rot0);
static SScriptProperty GTMGRot1Record("mQuat TMG_Rot1", &GTMGNext.Rot1);
static SScriptProperty GTMGSize0Record("float TMG_Size0", &GTMGNext.Size0);
static SScriptProperty GTMGSize1Record("float TMG_Size1", &GTMGNext.Size1);
static SScriptProperty GTMGSidesRecord("int TMG_Sides", &GTMGNext.Sides);
static SScriptProperty GTMGSubdivRecord("int TMG_Subdiv", &GTMGNext.Subdiv);
