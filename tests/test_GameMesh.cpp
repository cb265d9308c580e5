// Mesh records: the vertex layouts, the script functions' checks and records (from C++ and from
// a script), deep copies with counted textures, imposter materials and hull rebuilding.
#include "TestSupport.h"

#include <gmock/gmock.h>

#include <angelscript.h>
#include <stddef.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "GLTestContext.h"
#include "GameMesh.h"
#include "GameScript.h"
#include "GameTexture.h"

namespace
{
// The mesh as text: parts with their LOD counts, imposters with their part counts, mesh LODs
// with their entry counts.
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
} // namespace

TEST(GameMesh, VertexDeclarationsMatchTheVertexLayout)
{
    EXPECT_EQ(sizeof(SMeshVtx), 60u);
    struct SElement
    {
        u32 location;
        size_t offset;
        u32 stride;
    };
    const SElement expected[] = {
        {VA_Vertex, offsetof(SMeshVtx, x), 60},      {VA_TexCoord0, offsetof(SMeshVtx, u0), 60},
        {VA_Normal, offsetof(SMeshVtx, nx), 60},     {VA_Tangent, offsetof(SMeshVtx, tx), 60},
        {VA_Color, offsetof(SMeshVtx, color), 60},   {VA_BlendWeights, 0, sizeof(SMeshBlendWeights)},
    };
    SVertexDecl* plain = FindVertexDecl("SMeshVtxDecl");
    SVertexDecl* anim = FindVertexDecl("SMeshAnimVtxDecl");
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(plain->ElementCount, 5u);
    EXPECT_EQ(plain->VertexSize, 60u);
    EXPECT_EQ(anim->ElementCount, 6u);
    EXPECT_EQ(anim->VertexSize, 60u + sizeof(SMeshBlendWeights));
    for (u32 i = 0; i < 6; ++i)
    {
        if (i < 5)
        {
            EXPECT_EQ(plain->Elements[i].Type, expected[i].location) << i;
            EXPECT_EQ(plain->Elements[i].Offset, expected[i].offset) << i;
            EXPECT_EQ(plain->Elements[i].Stride, expected[i].stride) << i;
        }
        EXPECT_EQ(anim->Elements[i].Type, expected[i].location) << i;
        EXPECT_EQ(anim->Elements[i].Offset, expected[i].offset) << i;
        EXPECT_EQ(anim->Elements[i].Stride, expected[i].stride) << i;
    }
    EXPECT_EQ(anim->Elements[5].Stream, 1u);
    EXPECT_STREQ(GModelFolder, "Data/Models/");
}

TEST(GameMesh, ScriptFunctionsLogMisuseAndOtherwiseAppendTheirRecord)
{
    int notAMesh = 0;
    SMesh* const bogus = (SMesh*)&notAMesh;
    const mVec3 x(1, 0, 0);
    const TString mat("ColorOnly");
    struct SCase
    {
        const char* name;
        std::function<void(SMesh*)> call;
        bool nullMesh, bogusMesh;
        const char* log;      // empty: success
        const char* summary;  // the mesh afterwards (before: "P 1 0 I 0 L 0")
    };
    const char* const before = "P 1 0 I 0 L 0";
    const SCase cases[] = {
        {"part LOD, null", [](SMesh* m) { SMesh_AddPartLOD(m, 0, 0, 1, 0); }, true, false,
         "SMesh_AddPartLOD - invalid pointer\n", before},
        {"part LOD, no mesh", [](SMesh* m) { SMesh_AddPartLOD(m, 0, 0, 1, 0); }, false, true,
         "SMesh_AddPartLOD - invalid pointer\n", before},
        {"part LOD, algorithm 2", [](SMesh* m) { SMesh_AddPartLOD(m, 0, 2, 1, 0); }, false, false,
         "SMesh_AddPartLOD - wrong algorithm\n", before},
        {"part LOD, part 2", [](SMesh* m) { SMesh_AddPartLOD(m, 2, 1, 1, 0); }, false, false,
         "SMesh_AddPartLOD - invalid part ID\n", before},
        {"part LOD", [](SMesh* m) { SMesh_AddPartLOD(m, 1, 1, 1, 0); }, false, false, "", "P 1 1 I 0 L 0"},
        {"imposter, null", [&](SMesh* m) { SMesh_AddImposter(m, 0, mat, 64, x, x); }, true, false,
         "SMesh_AddImposter - invalid pointer\n", before},
        {"imposter, type 3", [&](SMesh* m) { SMesh_AddImposter(m, 3, mat, 64, x, x); }, false, false,
         "SMesh_AddImposter - wrong type\n", before},
        {"imposter part, null", [](SMesh* m) { SMesh_AddImposterPart(m, 0, 0, 0); }, true, false,
         "SMesh_AddImposterPart - invalid pointer\n", before},
        {"imposter part, imposter 1", [](SMesh* m) { SMesh_AddImposterPart(m, 1, 0, 0); }, false, false,
         "SMesh_AddImposterPart - invalid imposter ID\n", before},
        {"imposter part, part 2", [](SMesh* m) { SMesh_AddImposterPart(m, 0, 2, 0); }, false, false,
         "SMesh_AddImposterPart - invalid part ID\n", before},
        {"imposter part, level 1", [](SMesh* m) { SMesh_AddImposterPart(m, 0, 0, 1); }, false, false,
         "SMesh_AddImposterPart - invalid part LOD ID\n", before},
        {"imposter part", [](SMesh* m) { SMesh_AddImposterPart(m, 0, 0, 0); }, false, false, "", "P 1 0 I 1 L 0"},
        {"mesh LOD, no mesh", [](SMesh* m) { SMesh_AddMeshLOD(m, 0, 1, 0); }, false, true,
         "SMesh_AddMeshLOD - invalid pointer\n", before},
        {"mesh LOD", [](SMesh* m) { SMesh_AddMeshLOD(m, 0, 1, 0); }, false, false, "", "P 1 0 I 0 L 0 0"},
        {"LOD entry, null", [](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 0, 0, 0); }, true, false,
         "SMesh_AddMeshLODPart - invalid pointer\n", before},
        {"LOD entry, type 2", [](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 2, 0, 0); }, false, false,
         "SMesh_AddMeshLODPart - invalid mesh LOD part type\n", before},
        {"LOD entry, part 2", [](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 0, 2, 0); }, false, false,
         "SMesh_AddMeshLODPart - invalid part ID\n", before},
        {"LOD entry, part level 1", [](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 0, 0, 1); }, false, false,
         "SMesh_AddMeshLODPart - invalid part LOD ID\n", before},
        {"LOD entry, imposter 1", [](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 1, 1, 0); }, false, false,
         "SMesh_AddMeshLODPart - invalid imposter ID\n", before},
        {"LOD entry, mesh LOD 1", [](SMesh* m) { SMesh_AddMeshLODPart(m, 1, 0, 0, 0); }, false, false,
         "SMesh_AddMeshLODPart - invalid mesh LOD ID\n", before},
        {"LOD entry, part", [](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 0, 0, 0); }, false, false, "",
         "P 1 0 I 0 L 1"},
        {"LOD entry, imposter", [](SMesh* m) { SMesh_AddMeshLODPart(m, 0, 1, 0, 7); }, false, false, "",
         "P 1 0 I 0 L 1"},
    };
    for (const SCase& c : cases)
    {
        SMesh mesh;
        Prepare(mesh);
        testing::internal::CaptureStdout();
        c.call(c.nullMesh ? nullptr : c.bogusMesh ? bogus : &mesh);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.log) << c.name;
        EXPECT_EQ(Summary(mesh), c.summary) << c.name;
    }
    EXPECT_EQ(notAMesh, 0);

    // The records carry what was passed.
    SMesh mesh;
    Prepare(mesh);
    SMesh_AddPartLOD(&mesh, 1, 1, 7.5f, 3);
    const SMeshPartLOD& level = mesh.Parts[1].LODParts[0];
    EXPECT_EQ(level.Algorithm, 1u);
    EXPECT_EQ(level.Source, 3u);
    EXPECT_EQ(level.Distance, 7.5f);
    for (const TPodArray<u32>& indices : level.Indices)
        EXPECT_EQ(indices.Count(), 0u);
    SMesh_AddMeshLOD(&mesh, 2, 9, 0.5f);
    SMesh_AddMeshLODPart(&mesh, 1, 1, 0, 4);
    EXPECT_EQ(mesh.LOD[1].MinDistance, 2.0f);
    EXPECT_EQ(mesh.LOD[1].MaxDistance, 9.0f);
    EXPECT_EQ(mesh.LOD[1].Fade, 0.5f);
    ASSERT_EQ(mesh.LOD[1].Entries.Count(), 1u);
    EXPECT_EQ(mesh.LOD[1].Entries[0].Type, 1u);
    EXPECT_EQ(mesh.LOD[1].Entries[0].Id, 0u);
    EXPECT_EQ(mesh.LOD[1].Entries[0].Level, 4u);
    SMesh_AddImposterPart(&mesh, 0, 1, 0);
    EXPECT_EQ(mesh.Imposters[0].Parts[0], 1u);
    EXPECT_EQ(mesh.Imposters[0].PartLevels[0], 0u);
}

TEST(GameMesh, ScriptsFillAMeshThroughItsAddress)
{
    ScriptInit();
    SMesh mesh;
    Prepare(mesh);
    const char* code = "void fill(pointer m) {\n"
                       "  Mesh_AddMeshLOD(m, 0, 50, 5);\n"
                       "  Mesh_AddPartLOD(m, 1, 0, 20, 0);\n"
                       "  Mesh_AddMeshLODPart(m, 1, 0, 1, 0);\n"
                       "  Mesh_AddImposterPart(m, 0, 1, 0);\n"
                       "  Mesh_AddPartLOD(m, 7, 0, 20, 0);\n"
                       "  Mesh_AddMeshLODPart(m, 5, 1, 0, 0);\n"
                       "  Mesh_AddMeshLOD(0, 1, 2, 3);\n"
                       "}\n";
    asIScriptModule* m = GScrEngine->GetModule("mesh", asGM_ALWAYS_CREATE);
    m->AddScriptSection("mesh", code);
    ASSERT_GE(m->Build(), 0);
    ASSERT_EQ(GScrContext->Prepare(m->GetFunctionByDecl("void fill(pointer)")), 0);
    GScrContext->SetArgQWord(0, (asQWORD)(uintptr_t)&mesh);
    testing::internal::CaptureStdout();
    ASSERT_EQ(GScrContext->Execute(), asEXECUTION_FINISHED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SMesh_AddPartLOD - invalid part ID\n"
                                                      "SMesh_AddMeshLODPart - invalid mesh LOD ID\n"
                                                      "SMesh_AddMeshLOD - invalid pointer\n");
    EXPECT_EQ(Summary(mesh), "P 1 1 I 1 L 0 1");
    EXPECT_EQ(mesh.LOD[1].MaxDistance, 50.0f);
    EXPECT_EQ(mesh.Parts[1].LODParts[0].Distance, 20.0f);
    ScriptShutdown();
}

TEST(GameMesh, InnerOperationsEndTheProgramOnABrokenIndex)
{
    struct SCase
    {
        const char* text;
        std::function<void(SMesh&)> call;
    };
    const SCase cases[] = {
        {"part < Parts.Size()", [](SMesh& m) { m.AddPartLOD(2, 0, 0, 0); }},
        {"imp < Imposters.Size()", [](SMesh& m) { m.AddImposterPart(1, 0, 0); }},
        {"lod < Parts[ part ].LODParts.Size()", [](SMesh& m) { m.AddImposterPart(0, 1, 0); }},
        {"lod < LOD.Size()", [](SMesh& m) { m.AddMeshLODPart(1, 0, 0, 0); }},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TTempDir dir;
    for (const SCase& c : cases)
        EXPECT_EXIT(
            {
                if (chdir(dir.Path().c_str()) != 0)
                    _exit(1);
                SMesh mesh;
                Prepare(mesh);
                c.call(mesh);
            },
            ::testing::ExitedWithCode(222), testing::HasSubstr(c.text));
}

TEST(GameMesh, RebuildingTheHullKeepsTheCornersOfThePart)
{
    SMeshPart part;
    const float corners[8][3] = {{-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, -1},
                                 {-1, -1, 1},  {1, -1, 1},  {-1, 1, 1},  {1, 1, 1}};
    SMeshVtx v = {};
    for (const float* c : corners)
    {
        v.x = c[0], v.y = c[1], v.z = c[2];
        part.Vertices.Add(v);
        // Every corner twice and a point inside next to it, as a real mesh repeats them.
        part.Vertices.Add(v);
        v.x *= 0.5f, v.y *= 0.25f, v.z *= 0.5f;
        part.Vertices.Add(v);
    }
    EXPECT_EQ(part.RebuildHull(), 1);
    ASSERT_EQ(part.Hull.Count(), 8u);
    for (const mVec3& p : part.Hull)
        EXPECT_TRUE(gAbs(p.x) == 1 && gAbs(p.y) == 1 && gAbs(p.z) == 1) << p.x << " " << p.y << " " << p.z;

    // A flat part has no hull: the points stay as they were.
    SMeshPart flat;
    for (int i = 0; i < 6; ++i)
    {
        v.x = (float)(i % 3), v.y = (float)(i / 3), v.z = 0;
        flat.Vertices.Add(v);
    }
    EXPECT_EQ(flat.RebuildHull(), 0);
    EXPECT_EQ(flat.Hull.Count(), 6u);
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
        mVec3 dir, up;
        mVec3 expectedDir, expectedUp;
    };
    const SCase cases[] = {
        {mVec3(0, 0, 0), mVec3(0, 0, 0), mVec3(1, 0, 0), mVec3(0, 0, 1)},
        {mVec3(0.009f, 0, 0), mVec3(0, 0.005f, 0.005f), mVec3(1, 0, 0), mVec3(0, 0, 1)},
        {mVec3(0, 3, 0), mVec3(0.011f, 0, 0), mVec3(0, 3, 0), mVec3(0.011f, 0, 0)},
    };
    SMesh mesh;
    for (u32 i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    {
        SMesh_AddImposter(&mesh, i % MESH_IMPOSTER_Count, TString("ColorOnly"), 32u << i, cases[i].dir, cases[i].up);
        ASSERT_EQ(mesh.Imposters.Count(), i + 1);
        const SMeshImposter& imp = mesh.Imposters[i];
        EXPECT_EQ(imp.Type, i % MESH_IMPOSTER_Count);
        EXPECT_EQ(imp.Resolution, 32u << i);
        EXPECT_TRUE(imp.Direction.x == cases[i].expectedDir.x && imp.Direction.y == cases[i].expectedDir.y &&
                    imp.Direction.z == cases[i].expectedDir.z)
            << i;
        EXPECT_TRUE(imp.Up.x == cases[i].expectedUp.x && imp.Up.y == cases[i].expectedUp.y &&
                    imp.Up.z == cases[i].expectedUp.z)
            << i;
        EXPECT_EQ(imp.Parts.Count(), 0u);
        // "ColorOnly" builds only its base pass of simple geometry; every other variant is one
        // of its "#fail" lines and has no program.
        for (u32 k = 0; k < GCPermutationCount; ++k)
        {
            ASSERT_NE(imp.Material.Programs[k], nullptr) << i << " variant " << k;
            EXPECT_EQ(imp.Material.Programs[k]->Program != 0, k == 0) << i << " variant " << k;
        }
    }
}

TEST_F(MeshGL, CopiesAreDeepAndCountTheirTextures)
{
    SMesh* original = new SMesh;
    Prepare(*original);
    const u32 white = 0xFFFFFFFFu;
    ASSERT_TRUE(TEX_Create(original->Parts[0].Material.Textures[1], 1, 1, 1, 1, 1, &white, TEXF_NodeOutput));
    STexture* tex = original->Parts[0].Material.Textures[1].Get();
    original->Parts[0].Name = "trunk";
    original->Parts[0].Names.Add(TString("bark"));
    original->Parts[0].NameMap.Insert(TString("bark"), 3);
    SMeshVtx v = {};
    v.x = 4;
    original->Parts[0].Vertices.Add(v);
    original->Parts[0].LODParts[0].Indices[2].Add(9);
    original->Imposters[0].Parts.Add(1);
    original->LOD[0].Entries.Add(SMeshLODEntry{1, 0, 0});

    SMesh* copy = new SMesh(*original);
    EXPECT_TRUE(SMesh::IsLive(copy));
    EXPECT_EQ(tex->RefCount.load(), 2u);
    EXPECT_EQ(Summary(*copy), Summary(*original));
    delete original;
    EXPECT_EQ(tex->RefCount.load(), 1u);
    // Everything the copy holds is its own.
    const SMeshPart& part = copy->Parts[0];
    EXPECT_STREQ(part.Name.Str(), "trunk");
    ASSERT_EQ(part.Names.Count(), 1u);
    EXPECT_STREQ(part.Names[0].Str(), "bark");
    ASSERT_NE(part.NameMap.FindValue(TString("bark")), nullptr);
    EXPECT_EQ(*part.NameMap.FindValue(TString("bark")), 3u);
    EXPECT_EQ(part.Vertices[0].x, 4.0f);
    EXPECT_EQ(part.LODParts[0].Indices[2][0], 9u);
    EXPECT_EQ(copy->Imposters[0].Parts[0], 1u);
    EXPECT_EQ(copy->LOD[0].Entries[0].Type, 1u);
    EXPECT_EQ(part.Material.Textures[1].Get(), tex);

    // Removing a part frees its nested arrays and its texture reference.
    TextureRef held = part.Material.Textures[1];
    EXPECT_TRUE(copy->Parts.Remove(0));
    EXPECT_EQ(tex->RefCount.load(), 1u);
    delete copy;
}
