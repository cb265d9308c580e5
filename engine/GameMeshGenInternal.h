// What the mesh generator's sources share: checks, vertex access and the triangles of each vertex.
#pragma once

#include "GameMeshGen.h"

static const char* const MESHGEN_ASSERT_FORMAT = "ASSERT\n\nThis test expression is false:\n\n%s";
// Generated vertices are white.
static const u32 MESHGEN_VERTEX_COLOR = 0xFFFFFFFFu;

// Misuse ends the program with the assertion box naming the broken expression.
void MeshGenRequire(bool ok, const char* expression);
// The builder may hold at most MESHGEN_MAX_VERTICES vertices.
void MeshGenRequireRoom(double vertices);

SMeshVtx MeshGenVertex(const mVec3& p, const mVec3& n, float u, float v);
mVec3 MeshGenPos(const SMeshVtx& v);
mVec3 MeshGenNormal(const SMeshVtx& v);
void MeshGenSetNormal(SMeshVtx& v, const mVec3& n);

// First vertex of a range operation on count (> 0) vertices: from clamped to 0 .. count - 1.
u32 MeshGenRangeStart(int from, u32 count);

// The triangles that use each vertex, found by one scan of the index array, and their planes.
struct SMeshGenTriangles
{
    TPodArray<u32> Start; // triangles of vertex i: Of[Start[i]] .. Of[Start[i + 1] - 1]
    TPodArray<u32> Of;
    TPodArray<mPlane> Planes;
    TPodArray<u8> Planar; // whether the triangle spans a plane

    void Build(const SMeshGen& g);
    // Whether a triangle of a and one of b lie in the same plane facing opposite ways (the two
    // faces of a two-sided leaf).
    bool FaceOpposite(u32 a, u32 b) const;
};
