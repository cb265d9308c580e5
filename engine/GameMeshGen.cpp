// The mesh builder's solids and passes: boxes blended towards ellipsoids, noise displacement, box
// mapping, welding and the final pass that shares normals between coincident vertices.
#include "GameMeshGen.h"

#include <algorithm>
#include <math.h>

#include "GameMeshGenInternal.h"

float GMeshGenNoiseTable[MESHGEN_NOISE_SIZE];

namespace
{
// The improved-noise gradients: the twelve cube edge directions, then four of them again so
// that sixteen can be indexed by a 4-bit hash.
const mVec3 NOISE_GRADIENTS[] = {
    mVec3(1, 1, 0),  mVec3(-1, 1, 0),  mVec3(1, -1, 0), mVec3(-1, -1, 0), mVec3(1, 0, 1),   mVec3(-1, 0, 1),
    mVec3(1, 0, -1), mVec3(-1, 0, -1), mVec3(0, 1, 1),  mVec3(0, -1, 1),  mVec3(0, 1, -1),  mVec3(0, -1, -1),
    mVec3(1, 1, 0),  mVec3(0, -1, 1),  mVec3(-1, 1, 0), mVec3(0, -1, -1),
};
const u32 NOISE_GRADIENT_COUNT = sizeof(NOISE_GRADIENTS) / sizeof(NOISE_GRADIENTS[0]);
const u32 NOISE_BYTE_MASK = 0xFF;

// Merging and grouping distances (squared).
const float WELD_POSITION_SQ = 1e-8f;
const float WELD_TEXCOORD_SQ = 1e-10f;
const float GROUP_POSITION_SQ = 0.0001f;
// Share of the direction from the centre of all vertices in foliage normals.
const float ROUND_NORMAL_CENTRE_SHARE = 0.01f;
const u32 NO_VERTEX = 0xFFFFFFFFu;

// A whole number wrapped into 0..size-1; negative numbers wrap too.
u32 WrapWhole(float whole, u32 size)
{
    const long long m = (long long)whole % (long long)size;
    return (u32)(m < 0 ? m + size : m);
}

float NoiseHash(float h)
{
    const float lo = gFloor(h);
    const float a = GMeshGenNoiseTable[WrapWhole(lo, MESHGEN_NOISE_SIZE)];
    const float b = GMeshGenNoiseTable[WrapWhole(gCeil(h), MESHGEN_NOISE_SIZE)];
    return a + (b - a) * (h - lo);
}

mVec3 NoiseGradient(float h)
{
    const float s = h * (float)NOISE_GRADIENT_COUNT;
    const float lo = gFloor(s);
    const u32 g0 = WrapWhole(lo, NOISE_GRADIENT_COUNT);
    const u32 g1 = (g0 + 1) % NOISE_GRADIENT_COUNT;
    return NOISE_GRADIENTS[g0] + (NOISE_GRADIENTS[g1] - NOISE_GRADIENTS[g0]) * (s - lo);
}

float Fade(float t)
{
    return t * t * t * (t * (t * 6 - 15) + 10);
}

float Lerp(float a, float b, float t)
{
    return a + (b - a) * t;
}

// Counts that round below 1 are taken as 1; a non-finite count becomes 0 and is refused.
float Subdivisions(float s)
{
    if (!std::isfinite(s))
        return 0;
    const float r = gRound(s);
    return r < 1 ? 1 : r;
}

// Grid coordinate i of n between lo and hi, the ends exact so that neighbouring faces meet.
float GridCoord(float lo, float hi, u32 i, u32 n)
{
    if (i == 0)
        return lo;
    if (i == n)
        return hi;
    return lo + (hi - lo) * ((float)i / (float)n);
}

u32 DominantAxis(const mVec3& n)
{
    const float ax = gAbs(n.x), ay = gAbs(n.y), az = gAbs(n.z);
    if (ax >= ay && ax >= az)
        return 0;
    return ay >= az ? 1 : 2;
}

// Vertices sorted into cubic cells as wide as the search distance, so that the vertices near one
// lie in its own cell or the 26 around it. Vertices with coordinates too large for a cell number
// (or not finite) are near nothing.
class FNearIndex
{
public:
    FNearIndex(const TPodArray<SMeshVtx>& vertices, float distSq) : V(vertices), Cell(sqrtf(distSq))
    {
        Entries.Reserve(V.Count(), true);
        for (u32 i = 0; i < V.Count(); ++i)
        {
            SEntry e;
            if (CellOf(i, e))
                Entries.Add(e);
        }
        std::sort(Entries.begin(), Entries.end());
    }

    template <class F>
    void ForNear(u32 j, F visit) const
    {
        SEntry at;
        if (!CellOf(j, at))
            return;
        for (s64 dx = -1; dx <= 1; ++dx)
            for (s64 dy = -1; dy <= 1; ++dy)
                for (s64 dz = -1; dz <= 1; ++dz)
                {
                    const SEntry first = {at.X + dx, at.Y + dy, at.Z + dz, 0};
                    for (const SEntry* e = std::lower_bound(Entries.begin(), Entries.end(), first);
                         e != Entries.end() && e->X == first.X && e->Y == first.Y && e->Z == first.Z; ++e)
                        if (e->Vertex != j)
                            visit(e->Vertex);
                }
    }

private:
    struct SEntry
    {
        s64 X, Y, Z;
        u32 Vertex;
        bool operator<(const SEntry& o) const
        {
            return X != o.X ? X < o.X : Y != o.Y ? Y < o.Y : Z != o.Z ? Z < o.Z : Vertex < o.Vertex;
        }
    };
    const TPodArray<SMeshVtx>& V;
    float Cell;
    TPodArray<SEntry> Entries;

    bool CellOf(u32 i, SEntry& e) const
    {
        const double LARGEST_CELL = 1e15;
        const double c[3] = {floor(V[i].x / (double)Cell), floor(V[i].y / (double)Cell), floor(V[i].z / (double)Cell)};
        for (double k : c)
            if (!(fabs(k) < LARGEST_CELL))
                return false;
        e = SEntry{(s64)c[0], (s64)c[1], (s64)c[2], i};
        return true;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Shared helpers

void MeshGenRequire(bool ok, const char* expression)
{
    if (!ok)
        FatalError(MESHGEN_ASSERT_FORMAT, expression);
}

SMeshVtx MeshGenVertex(const mVec3& p, const mVec3& n, float u, float v)
{
    SMeshVtx r = {};
    r.x = p.x, r.y = p.y, r.z = p.z;
    r.u0 = u, r.v0 = v;
    r.nx = n.x, r.ny = n.y, r.nz = n.z;
    r.color = MESHGEN_VERTEX_COLOR;
    return r;
}

mVec3 MeshGenPos(const SMeshVtx& v)
{
    return mVec3(v.x, v.y, v.z);
}

mVec3 MeshGenNormal(const SMeshVtx& v)
{
    return mVec3(v.nx, v.ny, v.nz);
}

void MeshGenSetNormal(SMeshVtx& v, const mVec3& n)
{
    v.nx = n.x, v.ny = n.y, v.nz = n.z;
}

void MeshGenRequireRoom(double vertices)
{
    MeshGenRequire(vertices <= MESHGEN_MAX_VERTICES, "vertices <= MESHGEN_MAX_VERTICES");
}

void SMeshGenTriangles::Build(const SMeshGen& g)
{
    const u32 n = g.Vertices.Count(), tris = g.Indices.Count() / 3;
    Start.Resize(n + 1);
    for (u32 i = 0; i <= n; ++i)
        Start[i] = 0;
    for (u32 k = 0; k < tris * 3; ++k)
        ++Start[g.Indices[k] + 1];
    for (u32 i = 0; i < n; ++i)
        Start[i + 1] += Start[i];
    TPodArray<u32> fill;
    fill.Resize(n);
    for (u32 i = 0; i < n; ++i)
        fill[i] = Start[i];
    Of.Resize(tris * 3);
    Planes.Resize(tris);
    Planar.Resize(tris);
    TArray<mVec3> poly;
    poly.Resize(3);
    for (u32 t = 0; t < tris; ++t)
    {
        for (u32 c = 0; c < 3; ++c)
        {
            const u32 vi = g.Indices[t * 3 + c];
            Of[fill[vi]++] = t;
            poly[c] = MeshGenPos(g.Vertices[vi]);
        }
        Planar[t] = (u8)M_PolygonPlane(poly, Planes[t]);
    }
}

bool SMeshGenTriangles::FaceOpposite(u32 a, u32 b) const
{
    for (u32 i = Start[a]; i < Start[a + 1]; ++i)
        for (u32 j = Start[b]; j < Start[b + 1]; ++j)
        {
            const u32 ta = Of[i], tb = Of[j];
            if (Planar[ta] && Planar[tb] && M_PlaneEquals(Planes[ta], -Planes[tb]))
                return true;
        }
    return false;
}

u32 MeshGenRangeStart(int from, u32 count)
{
    if (from < 0)
        return 0;
    return (u32)from < count ? (u32)from : count - 1;
}

// ---------------------------------------------------------------------------------------------
// Noise

void MeshGen_FillNoiseTable()
{
    // A fraction of a whole cell, so that the hashes chained below keep varying between cells.
    for (u32 i = 0; i < MESHGEN_NOISE_SIZE; ++i)
        GMeshGenNoiseTable[i] = (float)((u32)gRand() & NOISE_BYTE_MASK) / (float)MESHGEN_NOISE_SIZE;
}

float MeshGen_Noise(const mVec3& point)
{
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z))
        return 0;
    const float period = (float)MESHGEN_NOISE_SIZE;
    const mVec3 p(gFmod(point.x, period), gFmod(point.y, period), gFmod(point.z, period));
    const mVec3 c(gFloor(p.x), gFloor(p.y), gFloor(p.z));
    const mVec3 f = p - c;
    float v[2][2][2];
    for (u32 i = 0; i < 2; ++i)
        for (u32 j = 0; j < 2; ++j)
            for (u32 k = 0; k < 2; ++k)
            {
                const float h = NoiseHash(NoiseHash(NoiseHash(c.x + i) + c.y + j) + c.z + k);
                v[i][j][k] = NoiseGradient(h).Dot(f - mVec3((float)i, (float)j, (float)k));
            }
    const float u = Fade(f.x), w = Fade(f.y), t = Fade(f.z);
    const float y0 = Lerp(Lerp(v[0][0][0], v[1][0][0], u), Lerp(v[0][1][0], v[1][1][0], u), w);
    const float y1 = Lerp(Lerp(v[0][0][1], v[1][0][1], u), Lerp(v[0][1][1], v[1][1][1], u), w);
    return Lerp(y0, y1, t);
}

// ---------------------------------------------------------------------------------------------
// Solids and passes

void SMeshGen::AddBox(float sfactor, const mVec3& pos, const mVec3& ext, const mVec3& subdiv)
{
    const float xsub = Subdivisions(subdiv.x), ysub = Subdivisions(subdiv.y), zsub = Subdivisions(subdiv.z);
    FATAL_CHECK(xsub > 0 && ysub > 0 && zsub > 0);
    const float subs[3] = {xsub, ysub, zsub};
    double vertices = Vertices.Count();
    for (u32 a = 0; a < 3; ++a)
        vertices += 2.0 * ((double)subs[(a + 1) % 3] + 1) * ((double)subs[(a + 2) % 3] + 1);
    MeshGenRequireRoom(vertices);

    const u32 base = Vertices.Count();
    FirstVertex = (s32)base;
    Vertices.Reserve((u32)vertices);
    const float lo[3] = {pos.x - ext.x, pos.y - ext.y, pos.z - ext.z};
    const float hi[3] = {pos.x + ext.x, pos.y + ext.y, pos.z + ext.z};
    for (u32 a = 0; a < 3; ++a)
        for (int s = -1; s <= 1; s += 2)
        {
            const u32 ua = (a + 1) % 3, va = (a + 2) % 3;
            const u32 nu = (u32)subs[ua], nv = (u32)subs[va];
            float n[3] = {0, 0, 0};
            n[a] = (float)s;
            const u32 first = Vertices.Count();
            for (u32 j = 0; j <= nv; ++j)
                for (u32 i = 0; i <= nu; ++i)
                {
                    float p[3];
                    p[a] = s > 0 ? hi[a] : lo[a];
                    p[ua] = GridCoord(lo[ua], hi[ua], i, nu);
                    p[va] = GridCoord(lo[va], hi[va], j, nv);
                    // The box's own projection: the face's two axes across the whole box.
                    Vertices.Add(MeshGenVertex(mVec3(p[0], p[1], p[2]), mVec3(n[0], n[1], n[2]), (float)i / nu,
                                               (float)j / nv));
                }
            for (u32 j = 0; j < nv; ++j)
                for (u32 i = 0; i < nu; ++i)
                {
                    const u32 A = first + j * (nu + 1) + i, B = A + 1, D = A + nu + 1, C = D + 1;
                    // (A, B, C) turns counter-clockwise seen from the positive side of axis a.
                    const u32 quad[2][6] = {{A, B, C, A, C, D}, {A, C, B, A, D, C}};
                    Indices.Append(quad[s > 0], 6);
                }
        }

    // Blend towards the ellipsoid; a flat axis (0 / 0) stays where it is.
    for (u32 k = base; k < Vertices.Count(); ++k)
    {
        SMeshVtx& v = Vertices[k];
        const mVec3 q(ext.x != 0 ? (v.x - pos.x) / ext.x : 0, ext.y != 0 ? (v.y - pos.y) / ext.y : 0,
                      ext.z != 0 ? (v.z - pos.z) / ext.z : 0);
        const mVec3 b = q + (q.NormalizedCopy() - q) * sfactor;
        v.x = b.x * ext.x + pos.x;
        v.y = b.y * ext.y + pos.y;
        v.z = b.z * ext.z + pos.z;
    }
}

void SMeshGen::Noise(const mVec3& pos, const mVec3& ext, const mVec2& push, const mVec3& normal, float iscale,
                     int from)
{
    FATAL_CHECK(ext.Length() > 1);
    FATAL_CHECK(iscale != 0 && std::isfinite(iscale));
    if (Vertices.IsEmpty())
        return;
    MeshGen_FillNoiseTable();
    const mVec3 along = normal.NormalizedCopy();
    const bool radial = along.LengthSq() == 0;
    for (u32 k = MeshGenRangeStart(from, Vertices.Count()); k < Vertices.Count(); ++k)
    {
        SMeshVtx& v = Vertices[k];
        const mVec3 p = MeshGenPos(v);
        const float amount = MeshGen_Noise(p / iscale) * push.y + push.x;
        // 0 / 0 is 0: a vertex at pos on a flat axis is in the middle of the region.
        const mVec3 off = p - pos;
        const mVec3 d(off.x == 0 ? 0 : off.x / ext.x, off.y == 0 ? 0 : off.y / ext.y, off.z == 0 ? 0 : off.z / ext.z);
        const float falloff = 1 - d.Length();
        if (!(falloff > 0))
            continue;
        const mVec3 moved = p + (radial ? d.NormalizedCopy() : along) * (amount * falloff);
        v.x = moved.x, v.y = moved.y, v.z = moved.z;
    }
}

void SMeshGen::BoxMapping(const mVec3& off, const mVec3& size, int from)
{
    FATAL_CHECK(size.x != 0 && size.y != 0 && size.z != 0);
    MeshGenRequire(Indices.Count() % 3 == 0, "Indices.Size() % 3 == 0");
    MeshGenRequireRoom(Indices.Count());
    TPodArray<SMeshVtx> corners;
    corners.Reserve(Indices.Count(), true);
    for (u32 k = 0; k < Indices.Count(); ++k)
    {
        corners.Add(Vertices[Indices[k]]);
        Indices[k] = k;
    }
    Vertices = corners;
    if (Vertices.IsEmpty())
        return;
    FinalPass(false, false, true);

    const float sizes[3] = {size.x, size.y, size.z};
    for (u32 k = MeshGenRangeStart(from, Vertices.Count()); k < Vertices.Count(); ++k)
    {
        SMeshVtx& v = Vertices[k];
        const float p[3] = {v.x - off.x, v.y - off.y, v.z - off.z};
        const u32 a = DominantAxis(MeshGenNormal(v));
        const u32 ua = (a + 1) % 3, va = (a + 2) % 3;
        v.u0 = p[ua] / sizes[ua];
        v.v0 = p[va] / sizes[va];
        v.u1 = v.v1 = 0;
    }
    Weld();
}

// Keeps the vertices whose map entry is themselves, points merged ones (entry: an earlier kept
// vertex) at their keeper and drops the ones mapped to NO_VERTEX, which no triangle uses.
static void RemoveVertices(SMeshGen& g, TPodArray<u32>& map)
{
    const u32 n = g.Vertices.Count();
    u32 kept = 0;
    for (u32 i = 0; i < n; ++i)
    {
        if (map[i] == i)
        {
            g.Vertices[kept] = g.Vertices[i];
            map[i] = kept++;
        }
        else if (map[i] != NO_VERTEX)
            map[i] = map[map[i]];
    }
    g.Vertices.Resize(kept);
    for (u32& index : g.Indices)
        index = map[index];
}

void SMeshGen::Weld()
{
    MeshGenRequire(Indices.Count() % 3 == 0, "Indices.Size() % 3 == 0");
    FirstVertex = 0;
    const u32 n = Vertices.Count();
    if (n == 0)
        return;
    SMeshGenTriangles tris;
    tris.Build(*this);
    TPodArray<u32> keeper;
    const FNearIndex near(Vertices, WELD_POSITION_SQ);
    keeper.Resize(n);
    for (u32 j = 0; j < n; ++j)
    {
        keeper[j] = j;
        const SMeshVtx& b = Vertices[j];
        near.ForNear(j, [&](u32 i) {
            if (i >= j || keeper[i] != i || i >= keeper[j])
                return;
            const SMeshVtx& a = Vertices[i];
            const float dp = (MeshGenPos(a) - MeshGenPos(b)).LengthSq();
            const float du = mVec4(a.u0 - b.u0, a.v0 - b.v0, a.u1 - b.u1, a.v1 - b.v1).Dot(
                mVec4(a.u0 - b.u0, a.v0 - b.v0, a.u1 - b.u1, a.v1 - b.v1));
            if (dp < WELD_POSITION_SQ && du < WELD_TEXCOORD_SQ && !tris.FaceOpposite(i, j))
                keeper[j] = i;
        });
    }
    RemoveVertices(*this, keeper);
}

void SMeshGen::RoundNormals()
{
    MeshGenRequire(Indices.Count() % 3 == 0, "Indices.Size() % 3 == 0");
    const u32 n = Vertices.Count();
    if (n == 0)
        return;
    mVec3 centre;
    for (const SMeshVtx& v : Vertices)
        centre += MeshGenPos(v);
    centre = centre / (float)n;
    TPodArray<mVec3> sum;
    sum.Resize(n);
    for (u32 i = 0; i < n; ++i)
        sum[i] = (MeshGenPos(Vertices[i]) - centre) * ROUND_NORMAL_CENTRE_SHARE;
    for (u32 t = 0; t + 2 < Indices.Count(); t += 3)
    {
        const u32* c = &Indices[t];
        const mVec3 mid = (MeshGenPos(Vertices[c[0]]) + MeshGenPos(Vertices[c[1]]) + MeshGenPos(Vertices[c[2]])) / 3.0f;
        for (u32 k = 0; k < 3; ++k)
            sum[c[k]] += MeshGenPos(Vertices[c[k]]) - mid;
    }
    for (u32 i = 0; i < n; ++i)
        MeshGenSetNormal(Vertices[i], sum[i]);
}

void SMeshGen::FinalPass(bool smooth, bool clean, bool faceNormals)
{
    MeshGenRequire(Indices.Count() % 3 == 0, "Indices.Size() % 3 == 0");
    if (Vertices.IsEmpty())
        return;
    if (clean)
    {
        // Triangles that collapse to a point or a line go; so do vertices no triangle uses.
        TArray<mVec3> poly;
        u32 kept = 0;
        for (u32 t = 0; t + 2 < Indices.Count(); t += 3)
        {
            poly.Resize(3);
            for (u32 c = 0; c < 3; ++c)
                poly[c] = MeshGenPos(Vertices[Indices[t + c]]);
            if (!M_CleanPolygon(poly))
                continue;
            for (u32 c = 0; c < 3; ++c)
                Indices[kept + c] = Indices[t + c];
            kept += 3;
        }
        Indices.Resize(kept);
        TPodArray<u32> map;
        map.Resize(Vertices.Count());
        for (u32& m : map)
            m = NO_VERTEX;
        for (u32 index : Indices)
            map[index] = index;
        RemoveVertices(*this, map);
        FirstVertex = 0;
        if (Vertices.IsEmpty())
            return;
    }

    const u32 n = Vertices.Count();
    SMeshGenTriangles tris;
    tris.Build(*this);

    if (faceNormals)
    {
        // Planes of clockwise front faces point to their back.
        TPodArray<mVec3> sum;
        sum.Resize(n);
        for (u32 i = 0; i < n; ++i)
        {
            sum[i] = mVec3();
            for (u32 k = tris.Start[i]; k < tris.Start[i + 1]; ++k)
                if (tris.Planar[tris.Of[k]])
                    sum[i] -= tris.Planes[tris.Of[k]].normal;
        }
        for (u32 i = 0; i < n; ++i)
            if (sum[i].LengthSq() > 0)
                MeshGenSetNormal(Vertices[i], sum[i].NormalizedCopy());
    }
    if (smooth)
    {
        // Each vertex takes the normals of the vertices coincident with it, and only those: a
        // grouping through chains of near vertices would reach across whole faces of a dense or
        // small mesh. The two faces of a leaf are kept apart.
        const FNearIndex near(Vertices, GROUP_POSITION_SQ);
        TPodArray<mVec3> sum;
        sum.Resize(n);
        for (u32 i = 0; i < n; ++i)
            sum[i] = MeshGenNormal(Vertices[i]);
        for (u32 j = 0; j < n; ++j)
            near.ForNear(j, [&](u32 i) {
                if (i >= j || !((MeshGenPos(Vertices[i]) - MeshGenPos(Vertices[j])).LengthSq() < GROUP_POSITION_SQ) ||
                    tris.FaceOpposite(i, j))
                    return;
                sum[i] += MeshGenNormal(Vertices[j]);
                sum[j] += MeshGenNormal(Vertices[i]);
            });
        for (u32 i = 0; i < n; ++i)
            MeshGenSetNormal(Vertices[i], sum[i].NormalizedCopy());
    }
}
