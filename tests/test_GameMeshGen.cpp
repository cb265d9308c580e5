// The procedural mesh generator, driven by the scripts in tests/data: shapes checked against
// closed-form references (box and ellipsoid volumes, the Hermite curve), meshes checked for being
// closed and wound with their normals, and every misuse ending the program with its text.
#include "TestSupport.h"

#include <angelscript.h>
#include <math.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "GLTestContext.h"
#include "GameMeshGen.h"
#include "GameMeshGenInternal.h"
#include "GameScript.h"

namespace
{
const float PI_REF = 3.14159265f;
const float TIGHT = 1e-5f;
// Positions closer than this are the same point when edges are matched.
const float EDGE_GRID = 1e-4f;

// Every edge, keyed by its end positions, is used exactly once in each direction.
bool IsClosed(const TPodArray<SMeshVtx>& v, const TPodArray<u32>& idx)
{
    typedef std::tuple<long, long, long> Key;
    auto key = [&](u32 i) {
        return Key(lroundf(v[i].x / EDGE_GRID), lroundf(v[i].y / EDGE_GRID), lroundf(v[i].z / EDGE_GRID));
    };
    std::map<std::pair<Key, Key>, int> edges;
    for (u32 t = 0; t < idx.Count(); t += 3)
        for (u32 c = 0; c < 3; ++c)
            edges[{key(idx[t + c]), key(idx[t + (c + 1) % 3])}]++;
    for (const auto& e : edges)
        if (e.second != 1 || edges[{e.first.second, e.first.first}] != 1)
            return false;
    return !edges.empty();
}

// Enclosed volume of clockwise-front triangles (the divergence theorem over the faces).
double Volume(const TPodArray<SMeshVtx>& v, const TPodArray<u32>& idx)
{
    double sum = 0;
    for (u32 t = 0; t < idx.Count(); t += 3)
        sum -= MeshGenPos(v[idx[t]]).Dot(MeshGenPos(v[idx[t + 1]]).Cross(MeshGenPos(v[idx[t + 2]])));
    return sum / 6;
}

// Triangles that turn clockwise seen from the side their corner normals point to.
u32 WoundAgainstNormals(const TPodArray<SMeshVtx>& v, const TPodArray<u32>& idx)
{
    u32 wrong = 0;
    for (u32 t = 0; t < idx.Count(); t += 3)
    {
        const SMeshVtx &a = v[idx[t]], &b = v[idx[t + 1]], &c = v[idx[t + 2]];
        const mVec3 n = MeshGenNormal(a) + MeshGenNormal(b) + MeshGenNormal(c);
        wrong += (MeshGenPos(b) - MeshGenPos(a)).Cross(MeshGenPos(c) - MeshGenPos(a)).Dot(n) >= 0;
    }
    return wrong;
}

class MeshGen : public testing::Test
{
protected:
    void SetUp() override
    {
        ScriptInit();
        MeshGen_NewBuilder();
        MeshGen_CreateTreePart(0);
        MeshGen_CreateTreePart(1);
    }
    void TearDown() override
    {
        MeshGen_FreeAll();
        ScriptShutdown();
    }

    // Runs "void name()" of the script file.
    static void Run(const char* file, const char* name)
    {
        asIScriptModule* m = GScrEngine->GetModule(file, asGM_ONLY_IF_EXISTS);
        if (!m)
        {
            std::stringstream code;
            code << std::ifstream(std::string(PW_TEST_DATA_DIR) + "/" + file).rdbuf();
            m = GScrEngine->GetModule(file, asGM_ALWAYS_CREATE);
            m->AddScriptSection(file, code.str().c_str(), code.str().size());
            ASSERT_GE(m->Build(), 0) << file;
        }
        const std::string decl = std::string("void ") + name + "()";
        ASSERT_GE(GScrContext->Prepare(m->GetFunctionByDecl(decl.c_str())), 0) << decl;
        ASSERT_EQ(GScrContext->Execute(), asEXECUTION_FINISHED) << decl;
    }
    static SMeshGen& Gen() { return *GCurMeshGen; }
};
} // namespace

TEST_F(MeshGen, BoxesAndEllipsoidsAreClosedAndEncloseTheirVolume)
{
    const mVec3 pos(1, 2, 3), ext(0.5f, 1, 1.5f);
    const double box = 8 * ext.x * ext.y * ext.z, ellipsoid = 4.0 / 3 * PI_REF * ext.x * ext.y * ext.z;
    struct SCase
    {
        const char* name;
        u32 triangles;
        double volume, tolerance;
        float surface; // every |(p - pos) / ext| equals this; 0: at most 1 with one component at 1
    };
    const SCase cases[] = {
        {"Box", 12, box, 1e-5, 0},
        {"RoundedDown", 12, box, 1e-5, 0},
        {"Ellipsoid", 768, ellipsoid, 0.03 * ellipsoid, 1},
    };
    for (const SCase& c : cases)
    {
        Run("meshgen_solids.as", c.name);
        const SMeshGen& g = Gen();
        EXPECT_EQ(g.Indices.Count(), c.triangles * 3) << c.name;
        EXPECT_TRUE(IsClosed(g.Vertices, g.Indices)) << c.name;
        EXPECT_NEAR(Volume(g.Vertices, g.Indices), c.volume, c.tolerance) << c.name;
        EXPECT_EQ(WoundAgainstNormals(g.Vertices, g.Indices), 0u) << c.name;
        for (const SMeshVtx& v : g.Vertices)
        {
            const mVec3 q((v.x - pos.x) / ext.x, (v.y - pos.y) / ext.y, (v.z - pos.z) / ext.z);
            const float largest = fmaxf(fabsf(q.x), fmaxf(fabsf(q.y), fabsf(q.z)));
            EXPECT_NEAR(c.surface ? q.Length() : largest, 1, TIGHT) << c.name;
        }
    }
    // A flat axis: the blend divides 0 by 0 there and keeps the vertices in their plane.
    Run("meshgen_solids.as", "Flat");
    for (const SMeshVtx& v : Gen().Vertices)
        EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && v.z == 0) << v.x << " " << v.y << " " << v.z;
}

TEST(MeshGenNoise, IsZeroOnTheLatticeContinuousAndSeeded)
{
    const u32 seed = 77, otherSeed = 78;
    const float eps = 1e-4f, step = 1e-2f;
    gSRand(seed);
    MeshGen_FillNoiseTable();
    // Whole coordinates, negative ones and ones past the table's period included.
    const mVec3 lattice[] = {mVec3(0, 0, 0), mVec3(3, -7, 12), mVec3(-300, 255, 256), mVec3(-1, -1, -1)};
    for (const mVec3& p : lattice)
        EXPECT_NEAR(MeshGen_Noise(p), 0, TIGHT) << p.x << " " << p.y << " " << p.z;
    const mVec3 axes[] = {mVec3(1, 0, 0), mVec3(0, 1, 0), mVec3(0, 0, 1)};
    float repeat[3] = {0, 0, 0};
    for (float x = -260.3f; x < 260; x += 37.9f)
        for (u32 k = 0; k < 3; ++k)
        {
            const mVec3& a = axes[k];
            // Across a cell border; and one cell further along, where a hash that ignored the
            // cell would give the same value again.
            const mVec3 border = mVec3(x, 0.5f - x, 0.3f * x) + a * (gCeil(x) - x);
            EXPECT_NEAR(MeshGen_Noise(border - a * eps), MeshGen_Noise(border + a * eps), 1e-3f) << x;
            const mVec3 inside = border + mVec3(0.37f, 0.21f, 0.45f);
            repeat[k] = fmaxf(repeat[k], fabsf(MeshGen_Noise(inside) - MeshGen_Noise(inside + a)));
            EXPECT_LT(fabsf(MeshGen_Noise(inside + a * step) - MeshGen_Noise(inside)), 0.1f) << x;
        }
    for (u32 k = 0; k < 3; ++k)
        EXPECT_GT(repeat[k], 0.05f) << k;
    const mVec3 probe(1.3f, -2.6f, 0.7f);
    const float first = MeshGen_Noise(probe);
    gSRand(otherSeed);
    MeshGen_FillNoiseTable();
    EXPECT_NE(MeshGen_Noise(probe), first);
    gSRand(seed);
    MeshGen_FillNoiseTable();
    EXPECT_EQ(MeshGen_Noise(probe), first);
}

TEST(MeshGenNoise, DisplacementFadesOutAndFollowsNormalOrRadius)
{
    const mVec3 pos(1, 1, 1), ext(2, 2, 2);
    const float push = 0.3f; // push.y 0: the noise value does not matter
    // Radially from pos itself (stays); |d| 0.5 outwards; along the unit normal; |d| 1; outside.
    const mVec3 cases[][3] = {
        {pos, mVec3(), pos},
        {mVec3(2, 1, 1), mVec3(), mVec3(2 + push * 0.5f, 1, 1)},
        {mVec3(2, 1, 1), mVec3(0, 0, -4), mVec3(2, 1, 1 - push * 0.5f)},
        {mVec3(3, 1, 1), mVec3(0, 1, 0), mVec3(3, 1, 1)},
        {mVec3(-5, 1, 1), mVec3(), mVec3(-5, 1, 1)},
    };
    for (const auto& c : cases)
    {
        SMeshGen g;
        g.Vertices.Add(MeshGenVertex(c[0], mVec3(), 0, 0));
        // A negative start counts from the first vertex.
        g.Noise(pos, ext, mVec2(push, 0), c[1], 1, -3);
        EXPECT_LT((MeshGenPos(g.Vertices[0]) - c[2]).Length(), TIGHT) << c[0].x << " " << c[1].z;
    }
}

TEST_F(MeshGen, RockNoiseStartsAtTheSecondBlobAndRepeatsWithTheSeed)
{
    const u32 seed = 5;
    SMeshGen first, second;
    first.AddBox(0.8f, mVec3(0, 0, 0), mVec3(1, 1, 1), mVec3(4, 4, 4));
    second.AddBox(0.6f, mVec3(3, 0, 0), mVec3(1.5f, 1, 1), mVec3(4, 4, 4));
    gSRand(seed);
    Run("meshgen_rock.as", "Blobs");
    const TPodArray<SMeshVtx> once = Gen().Vertices;
    ASSERT_EQ(once.Count(), 2 * first.Vertices.Count());
    u32 moved = 0;
    for (u32 i = 0; i < first.Vertices.Count(); ++i)
    {
        EXPECT_EQ((MeshGenPos(once[i]) - MeshGenPos(first.Vertices[i])).LengthSq(), 0.0f) << i;
        moved += (MeshGenPos(once[i + first.Vertices.Count()]) - MeshGenPos(second.Vertices[i])).Length() > 1e-4f;
    }
    EXPECT_GT(moved, first.Vertices.Count() / 2);
    EXPECT_TRUE(IsClosed(Gen().Vertices, Gen().Indices));

    for (u32 again : {seed, seed + 1})
    {
        gSRand(again);
        Run("meshgen_rock.as", "Blobs");
        EXPECT_EQ(memcmp(once.begin(), Gen().Vertices.begin(), once.Count() * sizeof(SMeshVtx)) == 0, again == seed);
    }
}

TEST_F(MeshGen, BoxMappingProjectsEachFaceAlongItsAxisAndStaysClosed)
{
    Run("meshgen_rock.as", "MappedBox");
    const SMeshGen& g = Gen();
    EXPECT_TRUE(IsClosed(g.Vertices, g.Indices));
    EXPECT_EQ(WoundAgainstNormals(g.Vertices, g.Indices), 0u);
    // Faces with their corners welded again: (2x3 + 3x4 + 4x2 grid points) x 2.
    EXPECT_EQ(g.Vertices.Count(), 2u * (3 * 4 + 4 * 5 + 5 * 3));
    const mVec3 off(-2, -2, -2), size(4, 8, 16);
    u32 onPlusX = 0;
    for (const SMeshVtx& v : g.Vertices)
    {
        EXPECT_EQ(v.u1 + v.v1, 0);
        // On the +X face (normal (1, 0, 0)) the pair is (y, z) projected.
        if (v.nx == 1)
        {
            ++onPlusX;
            EXPECT_NEAR(v.u0, (v.y - off.y) / size.y, TIGHT);
            EXPECT_NEAR(v.v0, (v.z - off.z) / size.z, TIGHT);
        }
    }
    EXPECT_EQ(onPlusX, 4u * 5u);
}

TEST(MeshGenWeld, MergesCoincidentVerticesUnlessTheirFacesAreOpposite)
{
    // The first triangle (0, 0, 0), (0, 1, 0), (1, 0, 0); the second one's corners follow.
    const mVec3 o(0, 0, 0), x(1, 0, 0), y(0, 1, 0), xy(1, 1, 0), lifted(1, 0, 1e-3f);
    struct SCase
    {
        const char* what;
        mVec3 second[3];
        float firstU; // of the second triangle's first corner
        u32 expected;
    };
    const SCase cases[] = {
        {"two triangles over one edge", {x, y, xy}, 0, 4},
        {"texture seam", {x, y, xy}, 0.5f, 5},
        {"apart by more than the distance", {lifted, y, xy}, 0, 5},
        {"front and back of one triangle", {o, x, y}, 0, 6},
    };
    for (const SCase& c : cases)
    {
        SMeshGen g;
        const mVec3 corners[6] = {o, y, x, c.second[0], c.second[1], c.second[2]};
        for (u32 i = 0; i < 6; ++i)
        {
            g.Vertices.Add(MeshGenVertex(corners[i], mVec3(0, 0, 1), i == 3 ? c.firstU : 0, 0));
            g.Indices.Add(i);
        }
        g.Weld();
        EXPECT_EQ(g.Vertices.Count(), c.expected) << c.what;
        EXPECT_EQ(g.Indices.Count(), 6u) << c.what;
    }
}

// The final pass shares normals only between coincident vertices, never along chains of near
// ones: on a dense box every normal points out of the face it lies on, and away from the edges it
// is the face's; on spheres small and large each normal stays near the true one.
TEST(MeshGenNormals, FollowTheTrueSurfaceOnDenseAndSmallMeshes)
{
    const float GROUP_DISTANCE = 0.01f; // squared distance 0.0001
    const float FACE_TIGHT = 1e-4f;
    const double DEG = 180.0 / 3.14159265358979;
    // Facet normals of a 12-step sphere lie within 1.5 degrees of the true normal; on a small one
    // the vertices of neighbouring faces near the cube's corners lie within the distance and
    // share theirs, which moves them a little further. Chains of them moved them by 11.5.
    const double SPHERE_TOLERANCE_DEG = 4.0;
    const struct
    {
        const char* what;
        float sfactor, extent, subdiv;
    } cases[] = {
        {"unit box of 210 steps", 0, 0.5f, 210},
        {"sphere of extent 0.1", 1, 0.1f, 12},
        {"sphere of extent 10", 1, 10, 12},
    };
    const mVec3 centre(0, 0, 0);
    for (const auto& c : cases)
    {
        SMeshGen g;
        g.AddBox(c.sfactor, centre, mVec3(c.extent, c.extent, c.extent), mVec3(c.subdiv, c.subdiv, c.subdiv));
        g.Weld();
        g.FinalPass(true, true, true);
        ASSERT_GT(g.Vertices.Count(), 0u) << c.what;
        u32 inward = 0, offFace = 0;
        double worst = 0;
        for (const SMeshVtx& v : g.Vertices)
        {
            const mVec3 p = MeshGenPos(v), n = MeshGenNormal(v);
            if (c.sfactor == 0)
            {
                // Out of every face the vertex lies on; the face's own normal away from the edges.
                u32 faces = 0;
                bool nearEdge = false;
                mVec3 face;
                for (int a = 0; a < 3; ++a)
                {
                    const float q = (&p.x)[a];
                    if (fabsf(fabsf(q) - c.extent) < FACE_TIGHT)
                    {
                        mVec3 f(0, 0, 0);
                        (&f.x)[a] = q > 0 ? 1.0f : -1.0f;
                        inward += n.Dot(f) <= 0;
                        face = f;
                        ++faces;
                    }
                    else
                        nearEdge = nearEdge || c.extent - fabsf(q) <= GROUP_DISTANCE;
                }
                if (faces == 1 && !nearEdge)
                    offFace += (n - face).Length() > FACE_TIGHT;
            }
            else
            {
                const double angle = acos(std::min(1.0f, n.NormalizedCopy().Dot((p - centre).NormalizedCopy()))) * DEG;
                worst = std::max(worst, angle);
            }
        }
        EXPECT_EQ(inward, 0u) << c.what;
        EXPECT_EQ(offFace, 0u) << c.what;
        EXPECT_LE(worst, SPHERE_TOLERANCE_DEG) << c.what;
    }
}

TEST_F(MeshGen, TreeBranchesFollowTheHermiteCurveAndLeavesKeepBothSides)
{
    Run("meshgen_tree.as", "Branch");
    const u32 sides = 6, subdiv = 5, ring = sides + 1;
    const mVec3 p0(0, 0, 0), p1(0, 1, 4);
    const mQuat r1(0.3f, mVec3(1, 0, 0));
    const mVec3 t0 = mVec3(0, 0, 1) * 0.5f, t1 = M_RotateVec(mVec3(0, 0, 1), r1) * 0.25f;
    const SMeshGen& branch = GTMGParts[0]->Builder;
    ASSERT_EQ(branch.Vertices.Count(), ring * (subdiv + 1) + sides + 1);
    for (u32 i = 0; i <= subdiv; ++i)
    {
        const float t = (float)i / subdiv;
        const mVec3 h = p0 * (2 * t * t * t - 3 * t * t + 1) + t0 * (t * t * t - 2 * t * t + t) +
                        p1 * (-2 * t * t * t + 3 * t * t) + t1 * (t * t * t - t * t);
        mVec3 centre;
        for (u32 s = 0; s < sides; ++s)
            centre += MeshGenPos(branch.Vertices[i * ring + s]) / (float)sides;
        EXPECT_LT((centre - h).Length(), TIGHT) << i;
    }
    EXPECT_EQ(WoundAgainstNormals(branch.Vertices, branch.Indices), 0u);
    // The next branch starts where this one ended.
    EXPECT_TRUE(GTMGNext.Pos0.x == p1.x && GTMGNext.Pos0.y == p1.y && GTMGNext.Pos1.z == p1.z);
    EXPECT_TRUE(GTMGNext.Rot0.x == r1.x && GTMGNext.Rot0.w == r1.w && GTMGNext.Rot1.x == r1.x);
    EXPECT_TRUE(GTMGNext.Size0 == 0.25f && GTMGNext.Size1 == 0.25f && GTMGParent.Size0 == 0.5f);
    Run("meshgen_tree.as", "Hidden");
    EXPECT_EQ(branch.Vertices.Count(), ring * (subdiv + 1) + sides + 1);
    EXPECT_EQ(GTMGTree.Count(), 2u);

    Run("meshgen_tree.as", "Leaves");
    testing::internal::CaptureStdout();
    Run("meshgen_tree.as", "Finish");
    const std::string log = testing::internal::GetCapturedStdout();
    const SMeshGen& leaves = GTMGParts[1]->Builder;
    EXPECT_EQ(leaves.Vertices.Count(), 12u);
    // Tube and cap meet without welding: their texture coordinates differ.
    EXPECT_EQ(log, "Mesh part 0: 49 vertices, 66 triangles\nMesh part 1: 12 vertices, 6 triangles\n");
    // Rounded foliage normals point away from the middle of their leaf.
    const mVec3 leafCentres[2] = {mVec3(0, 0, 5), mVec3(2, 0, 5)};
    for (const SMeshVtx& v : leaves.Vertices)
        EXPECT_GT(MeshGenNormal(v).Dot(MeshGenPos(v) - leafCentres[v.x > 1.25f]), 0.5f) << v.x << " " << v.y << " " << v.z;
}

TEST_F(MeshGen, RecursiveTreeBalancesItsStackAndBuildsEqualBranches)
{
    Run("meshgen_recursive_tree.as", "Tree");
    const u32 sides = 5, subdiv = 3, branches = 1 + 3 + 9, caps = 9;
    EXPECT_EQ(GTMGTree.Count(), 0u);
    const SMeshGen& g = GTMGParts[0]->Builder;
    EXPECT_EQ(g.Vertices.Count(), branches * (sides + 1) * (subdiv + 1) + caps * (sides + 1));
    EXPECT_EQ(g.Indices.Count(), 3 * (branches * 2 * sides * subdiv + caps * sides));
    EXPECT_EQ(WoundAgainstNormals(g.Vertices, g.Indices), 0u);
}

TEST_F(MeshGen, MisuseEndsTheProgramWithItsExpression)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string root = DeathDir();
    static SMesh target;
    struct SCase
    {
        const char* function; // of the misuse script; null: finalise tree part 0
        const char* expression; // as the box shows it, regex-escaped
        void (*prepare)();
    };
    const SCase cases[] = {
        {"LastWithoutBuilder", "GCurMeshGen", [] { MeshGen_FreeBuilder(); }},
        {"PartEight", "id < 8", nullptr},
        {"EmptySlot", "GTMGParts\\[ id \\]", nullptr},
        {"TextureSlot", "texid < TEX_COUNT", nullptr},
        {"PopEmpty", "GTMGTree.Size\\(\\)", nullptr},
        {"CapEmpty", "GTMGTree.Size\\(\\)", nullptr},
        {"SmallNoise", "ext.Length\\(\\) > 1", nullptr},
        {"ZeroScale", "iscale != 0 && std::isfinite\\(iscale\\)", nullptr},
        {"NaNSubdivisions", "xsub > 0 && ysub > 0 && zsub > 0", nullptr},
        {"HugeBox", "vertices <= MESHGEN_MAX_VERTICES", nullptr},
        {"FlatMapping", "size.x != 0 && size.y != 0 && size.z != 0", nullptr},
        {"OneSide", "xsub > 1 && ysub > 0", nullptr},
        {"CapOneSide", "xsub > 1", nullptr},
        {"HugeTube", "vertices <= MESHGEN_MAX_VERTICES", nullptr},
        {"NoTarget", "SMesh::IsLive\\(GTMGMesh\\)", nullptr},
        {"EmptyPart", "Indices.Size\\(\\) > 0 && Vertices.Size\\(\\) > 0", [] { MeshGen_SetTarget(&target); }},
        {nullptr, "Indices.Size\\(\\) % 3 == 0", [] { GTMGParts[0]->Builder.Indices.Resize(4); }},
    };
    for (const SCase& c : cases)
    {
        auto run = [&]() {
            if (chdir(root.c_str()) != 0) // error.log goes there
                _exit(99);
            if (c.prepare)
                c.prepare();
            if (c.function)
                Run("meshgen_misuse.as", c.function);
            else
                TMG_Finalize(0, 0);
            _exit(0);
        };
        EXPECT_EXIT(run(), testing::ExitedWithCode(222), std::string("false:\n\n") + c.expression + "\n") << c.expression;
    }
    RemoveDeathDir(root);
}

namespace
{
class MeshGenGL : public MeshGen
{
protected:
    TShippedShaders shaders;
    void SetUp() override
    {
        ASSERT_TRUE(GLTest_Init());
        shaders.Begin();
        MeshGen::SetUp();
    }
    void TearDown() override
    {
        MeshGen::TearDown();
        shaders.End();
    }
};
} // namespace

TEST_F(MeshGenGL, PartsTakeTheBuiltMeshAndTheirShader)
{
    SMesh mesh;
    mesh.Parts.Resize(1);
    MeshGen_SetTarget(&mesh);
    Run("meshgen_rock.as", "Rock");
    ASSERT_EQ(mesh.Parts.Count(), 2u);
    const SMeshPart& part = mesh.Parts[1];
    const SMeshGen& g = Gen();
    ASSERT_EQ(part.Vertices.Count(), g.Vertices.Count());
    ASSERT_EQ(part.Indices.Count(), g.Indices.Count());
    EXPECT_EQ(memcmp(part.Vertices.begin(), g.Vertices.begin(), g.Vertices.Count() * sizeof(SMeshVtx)), 0);
    EXPECT_EQ(memcmp(part.Indices.begin(), g.Indices.begin(), g.Indices.Count() * sizeof(u32)), 0);
    EXPECT_TRUE(IsClosed(part.Vertices, part.Indices));
    EXPECT_EQ(WoundAgainstNormals(part.Vertices, part.Indices), 0u);
    EXPECT_TRUE(part.Material.Programs[0] && part.Material.Programs[0]->Program != 0);

    TMG_SetShader(1, TString("ColorOnly"), BLEND_AlphaGUI, RASTER_NoCull);
    const STMGPart& tree = *GTMGParts[1];
    EXPECT_TRUE(tree.Bm == BLEND_AlphaGUI && tree.Material.Blend == BLEND_AlphaGUI);
    EXPECT_TRUE(tree.Pm == RASTER_NoCull && tree.Material.RasterFlags == RASTER_NoCull);
    EXPECT_TRUE(tree.Material.Programs[0] && tree.Material.Programs[0]->Program != 0);
}

// A texture slot given no name is left empty, whether it held a texture or not, as the slots of a
// part emitted without names are.
TEST_F(MeshGenGL, ATreeTextureSlotGivenNoNameIsEmpty)
{
    const u32 PART = 1, SLOT = 3;
    const u8 texel[4] = {1, 2, 3, 4};
    for (bool held : {false, true})
    {
        TextureRef& slot = GTMGParts[PART]->Material.Textures[SLOT];
        slot.Release();
        if (held)
        {
            ASSERT_TRUE(TEX_Create(slot, 1, 1, 1, 1, TEXFMT_RGBA8, texel, 0));
        }
        TMG_SetTexture(PART, SLOT, TString(""), 0);
        EXPECT_TRUE(GTMGParts[PART]->Material.Textures[SLOT].IsNull()) << (held ? "held a texture" : "was empty");
    }
}
