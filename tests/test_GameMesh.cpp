// Mesh records: the vertex layout, the script functions' checks and records (from C++ and from a
// script), deep copies with counted textures and imposter materials.
#include "TestSupport.h"

#include <angelscript.h>
#include <stddef.h>

#include <functional>
#include <string>

#include "GLTestContext.h"
#include "GameMesh.h"
#include "GameScript.h"

namespace
{
// Parts with their level counts, imposters with their part counts, mesh LODs with their entries.
std::string Summary(const SMesh& m)
{
    std::string s = "P";
    for (const SMeshPart& p : m.Parts)
        s += " " + std::to_string(p.LODParts.Count());
    s += " I";
    for (const SMeshImposter& i : m.Imposters)
        s += " " + std::to_string(i.Parts.Count());
    s += " L";
    for (const SMeshLOD& l : m.LOD)
        s += " " + std::to_string(l.Entries.Count());
    return s;
}

// Two parts (the first with one level), one imposter without a material, one mesh LOD.
void Prepare(SMesh& m)
{
    m.Parts.Resize(2);
    m.Parts[0].LODParts.Resize(1);
    m.Imposters.Resize(1);
    m.LOD.Resize(1);
}
const char* const PREPARED = "P 1 0 I 0 L 0";
} // namespace

TEST(GameMesh, VertexDeclarationsMatchTheVertexLayout)
{
    const size_t offsets[] = {offsetof(SMeshVtx, x), offsetof(SMeshVtx, u0), offsetof(SMeshVtx, nx),
                              offsetof(SMeshVtx, tx), offsetof(SMeshVtx, color)};
    const u8 locations[] = {VA_Vertex, VA_TexCoord0, VA_Normal, VA_Tangent, VA_Color, VA_BlendWeights};
    SVertexDecl* plain = FindVertexDecl("SMeshVtxDecl");
    SVertexDecl* anim = FindVertexDecl("SMeshAnimVtxDecl");
    ASSERT_TRUE(plain && anim);
    EXPECT_EQ(sizeof(SMeshVtx), 60u);
    EXPECT_EQ(plain->VertexSize, 60u);
    EXPECT_EQ(anim->VertexSize, 60u + 16u); // four blend weights in the second stream
    ASSERT_EQ(plain->ElementCount, 5u);
    ASSERT_EQ(anim->ElementCount, 6u);
    for (u32 i = 0; i < 5; ++i)
        for (SVertexDecl* d : {plain, anim})
        {
            EXPECT_EQ(d->Elements[i].Offset, offsets[i]) << d->Name.Str() << " " << i;
            EXPECT_EQ(d->Elements[i].Type, locations[i]) << d->Name.Str() << " " << i;
        }
    EXPECT_EQ(anim->Elements[5].Type, locations[5]);
    EXPECT_EQ(anim->Elements[5].Stream, 1u);
}

TEST(GameMesh, ScriptFunctionsLogMisuseAndOtherwiseAppendTheirRecord)
{
    int notAMesh = 0;
    const mVec3 x(1, 0, 0);
    const TString mat("ColorOnly");
    enum { LIVE, NUL, BOGUS };
    struct SCase
    {
        std::function<void(SMesh*)> call;
        int mesh;
        const char* log; // empty on success
        const char* after;
    };
    const SCase cases[] = {
        {[](SMesh* m) { SMesh_AddPartLOD(m, 0, 0, 1, 0); }, NUL, "SMesh_AddPartLOD - invalid pointer\n", PREPARED},
        {[](SMesh* m) { SMesh_AddPartLOD(m, 0, 0, 1, 0); }, BOGUS, "SMesh_AddPartLOD - invalid pointer\n", PREPARED},
        {[](SMesh* m) { SMesh_AddPartLOD(m, 0, 2, 1, 0); }, LIVE, "SMesh_AddPartLOD - wrong algorithm\n", PREPARED},
        {[](SMesh* m) { SMesh_AddPartLOD(m, 2, 1, 1, 0); }, LIVE, "SMesh_AddPartLOD - invalid part ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddPartLOD(m, 1, 1, 1, 0); }, LIVE, "", "P 1 1 I 0 L 0"},
        {[&](SMesh* m) { SMesh_AddImposter(m, 0, mat, 64, x, x); }, BOGUS, "SMesh_AddImposter - invalid pointer\n", PREPARED},
        {[&](SMesh* m) { SMesh_AddImposter(m, 3, mat, 64, x, x); }, LIVE, "SMesh_AddImposter - wrong type\n", PREPARED},
        {[](SMesh* m) { SMesh_AddImposterPart(m, 0, 0, 0); }, NUL, "SMesh_AddImposterPart - invalid pointer\n", PREPARED},
        {[](SMesh* m) { SMesh_AddImposterPart(m, 1, 0, 0); }, LIVE, "SMesh_AddImposterPart - invalid imposter ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddImposterPart(m, 0, 2, 0); }, LIVE, "SMesh_AddImposterPart - invalid part ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddImposterPart(m, 0, 0, 1); }, LIVE, "SMesh_AddImposterPart - invalid part LOD ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddImposterPart(m, 0, 0, 0); }, LIVE, "", "P 1 0 I 1 L 0"},
        {[](SMesh* m) { SMesh_AddMeshLOD(m, 0, 1, 0); }, BOGUS, "SMesh_AddMeshLOD - invalid pointer\n", PREPARED},
        {[](SMesh* m) { SMesh_AddMeshLOD(m, 0, 1, 0); }, LIVE, "", "P 1 0 I 0 L 0 0"},
        {[](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 0, 0, 0); }, NUL, "SMesh_AddMeshLODPart - invalid pointer\n", PREPARED},
        {[](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 2, 0, 0); }, LIVE, "SMesh_AddMeshLODPart - invalid mesh LOD part type\n", PREPARED},
        {[](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 0, 2, 0); }, LIVE, "SMesh_AddMeshLODPart - invalid part ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 0, 0, 1); }, LIVE, "SMesh_AddMeshLODPart - invalid part LOD ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 1, 1, 0); }, LIVE, "SMesh_AddMeshLODPart - invalid imposter ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddMeshLODPart(m, 1, 0, 0, 0); }, LIVE, "SMesh_AddMeshLODPart - invalid mesh LOD ID\n", PREPARED},
        {[](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 1, 0, 7); }, LIVE, "", "P 1 0 I 0 L 1"},
    };
    for (const SCase& c : cases)
    {
        SMesh mesh;
        Prepare(mesh);
        testing::internal::CaptureStdout();
        c.call(c.mesh == LIVE ? &mesh : c.mesh == NUL ? nullptr : (SMesh*)&notAMesh);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(Summary(mesh), c.after) << c.log;
    }
    EXPECT_EQ(notAMesh, 0);
}

TEST(GameMesh, ScriptsFillAMeshThroughItsAddress)
{
    ScriptInit();
    SMesh mesh;
    Prepare(mesh);
    asIScriptModule* m = GScrEngine->GetModule("mesh", asGM_ALWAYS_CREATE);
    m->AddScriptSection("mesh", "void fill(pointer m) {\n"
                                "  Mesh_AddMeshLOD(m, 0, 50, 5); Mesh_AddPartLOD(m, 1, 1, 20, 3);\n"
                                "  Mesh_AddMeshLODPart(m, 1, 0, 1, 0); Mesh_AddImposterPart(m, 0, 1, 0);\n"
                                "  Mesh_AddPartLOD(m, 7, 0, 20, 0); Mesh_AddMeshLODPart(m, 5, 1, 0, 0);\n"
                                "  Mesh_AddMeshLOD(0, 1, 2, 3);\n"
                                "}\n");
    ASSERT_GE(m->Build(), 0);
    ASSERT_EQ(GScrContext->Prepare(m->GetFunctionByDecl("void fill(pointer)")), 0);
    GScrContext->SetArgQWord(0, (asQWORD)(uintptr_t)&mesh);
    testing::internal::CaptureStdout();
    ASSERT_EQ(GScrContext->Execute(), asEXECUTION_FINISHED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SMesh_AddPartLOD - invalid part ID\n"
                                                      "SMesh_AddMeshLODPart - invalid mesh LOD ID\n"
                                                      "SMesh_AddMeshLOD - invalid pointer\n");
    EXPECT_EQ(Summary(mesh), "P 1 1 I 1 L 0 1");
    const SMeshPartLOD& level = mesh.Parts[1].LODParts[0];
    EXPECT_TRUE(level.Algorithm == 1 && level.Source == 3 && level.Distance == 20.0f);
    const SMeshLOD& lod = mesh.LOD[1];
    EXPECT_TRUE(lod.MinDistance == 0 && lod.MaxDistance == 50 && lod.Fade == 5);
    EXPECT_TRUE(lod.Entries[0].Type == 0 && lod.Entries[0].Id == 1 && lod.Entries[0].Level == 0);
    EXPECT_TRUE(mesh.Imposters[0].Parts[0] == 1 && mesh.Imposters[0].PartLevels[0] == 0);
    ScriptShutdown();
}

TEST(GameMesh, RebuildingTheHullReturnsWhetherThePartHasOne)
{
    SMeshPart cube, flat;
    SMeshVtx v = {};
    for (int i = 0; i < 8; ++i)
    {
        // Corners, each followed by a point inside next to it.
        v.x = i & 1 ? 1.0f : -1.0f, v.y = i & 2 ? 1.0f : -1.0f, v.z = i & 4 ? 1.0f : -1.0f;
        cube.Vertices.Add(v);
        v.x *= 0.5f, v.y *= 0.25f, v.z *= 0.75f;
        cube.Vertices.Add(v);
        v.z = 0;
        flat.Vertices.Add(v);
    }
    EXPECT_EQ(cube.RebuildHull(), 1);
    ASSERT_EQ(cube.Hull.Count(), 8u);
    for (const mVec3& p : cube.Hull)
        EXPECT_TRUE(gAbs(p.x) == 1 && gAbs(p.y) == 1 && gAbs(p.z) == 1) << p.x << " " << p.y << " " << p.z;
    // A flat part has no hull: its points stay as they are.
    EXPECT_EQ(flat.RebuildHull(), 0);
    EXPECT_EQ(flat.Hull.Count(), 8u);
}

namespace
{
class MeshGL : public testing::Test
{
protected:
    TShippedShaders shaders;
    void SetUp() override
    {
        ASSERT_TRUE(GLTest_Init());
        shaders.Begin();
    }
    void TearDown() override { shaders.End(); }
};
} // namespace

TEST_F(MeshGL, ImpostersTakeTheirShaderAndFallBackForShortDirections)
{
    struct SCase
    {
        mVec3 dir, up, expectedDir, expectedUp;
    };
    const SCase cases[] = {
        {mVec3(0, 0, 0), mVec3(0, 0, 0), mVec3(1, 0, 0), mVec3(0, 0, 1)},
        {mVec3(0.009f, 0, 0), mVec3(0, 0.005f, 0.005f), mVec3(1, 0, 0), mVec3(0, 0, 1)},
        {mVec3(0, 3, 0), mVec3(0.011f, 0, 0), mVec3(0, 3, 0), mVec3(0.011f, 0, 0)},
    };
    SMesh mesh;
    for (u32 i = 0; i < 3; ++i)
    {
        SMesh_AddImposter(&mesh, i, TString("ColorOnly"), 32u << i, cases[i].dir, cases[i].up);
        ASSERT_EQ(mesh.Imposters.Count(), i + 1);
        const SMeshImposter& imp = mesh.Imposters[i];
        EXPECT_TRUE(imp.Type == i && imp.Resolution == 32u << i && imp.Parts.Count() == 0) << i;
        const mVec3 d = imp.Direction - cases[i].expectedDir, u = imp.Up - cases[i].expectedUp;
        EXPECT_EQ(d.LengthSq() + u.LengthSq(), 0.0f) << i;
        // "ColorOnly" builds only its base pass of simple geometry; every other variant is one
        // of its "#fail" lines and has no program.
        for (u32 k = 0; k < GCPermutationCount; ++k)
            EXPECT_EQ(imp.Material.Programs[k] && imp.Material.Programs[k]->Program != 0, k == 0) << i << " " << k;
    }
}

TEST_F(MeshGL, CopiesAreDeepAndCountTheirTextures)
{
    SMesh* original = new SMesh;
    Prepare(*original);
    const u32 white = 0xFFFFFFFFu;
    SMeshPart& part0 = original->Parts[0];
    ASSERT_TRUE(TEX_Create(part0.Material.Textures[1], 1, 1, 1, 1, 1, &white, TEXF_NodeOutput));
    STexture* tex = part0.Material.Textures[1].Get();
    part0.Names.Add(TString("bark"));
    part0.NameMap.Insert(TString("bark"), 3);
    part0.Vertices.Add(SMeshVtx{4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    part0.LODParts[0].Indices[2].Add(9);
    original->LOD[0].Entries.Add(SMeshLODEntry{1, 0, 0});

    SMesh* copy = new SMesh(*original);
    EXPECT_TRUE(SMesh::IsLive(copy));
    EXPECT_EQ(tex->RefCount.load(), 2u);
    delete original;
    EXPECT_FALSE(SMesh::IsLive(original));
    EXPECT_EQ(tex->RefCount.load(), 1u);
    // What the copy holds is its own: it outlives the original.
    const SMeshPart& part = copy->Parts[0];
    EXPECT_STREQ(part.Names[0].Str(), "bark");
    EXPECT_EQ(*part.NameMap.FindValue(TString("bark")), 3u);
    EXPECT_EQ(part.Vertices[0].x, 4.0f);
    EXPECT_EQ(part.LODParts[0].Indices[2][0], 9u);
    EXPECT_EQ(copy->LOD[0].Entries[0].Type, 1u);
    // Removing the part frees its nested arrays and its texture reference.
    TextureRef held = part.Material.Textures[1];
    EXPECT_TRUE(copy->Parts.Remove(0));
    EXPECT_EQ(tex->RefCount.load(), 1u);
    delete copy;
}
