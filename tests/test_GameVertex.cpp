// Vertex declarations: offsets, strides and sizes against the C++ layout of the vertex structs.
#include "TestSupport.h"

#include <GL/glew.h>
#include <stddef.h>

#include "GameVertex.h"

TEST(GameVertex, EngineDeclarationsMatchTheirVertexStructs)
{
    struct SExpect
    {
        const char* name;
        u32 size;
        u32 elements;
    };
    const SExpect expect[] = {
        {"STexVtxDecl", sizeof(STexVtx), 2},
        {"SColVtxDecl", sizeof(SColVtx), 2},
        {"STCVtxDecl", sizeof(STCVtx), 3},
        {"STfCVtxDecl", sizeof(STfCVtx), 3},
    };
    for (const SExpect& e : expect)
    {
        SVertexDecl* d = FindVertexDecl(e.name);
        ASSERT_NE(d, nullptr) << e.name;
        EXPECT_EQ(d->VertexSize, e.size) << e.name;
        EXPECT_EQ(d->ElementCount, e.elements) << e.name;
        for (u32 i = 0; i < d->ElementCount; ++i)
            EXPECT_EQ(d->Elements[i].Stride, e.size) << e.name << " element " << i;
    }
    EXPECT_EQ(sizeof(STexVtx), 20u);
    EXPECT_EQ(sizeof(SColVtx), 16u);
    EXPECT_EQ(sizeof(STCVtx), 24u);
    EXPECT_EQ(sizeof(STfCVtx), 40u);

    // Offsets against the struct layout the drawing code fills in.
    EXPECT_EQ(GTCVtxDecl.Elements[0].Offset, offsetof(STCVtx, x));
    EXPECT_EQ(GTCVtxDecl.Elements[1].Offset, offsetof(STCVtx, u));
    EXPECT_EQ(GTCVtxDecl.Elements[2].Offset, offsetof(STCVtx, color));
    EXPECT_EQ(GTfCVtxDecl.Elements[1].Offset, offsetof(STfCVtx, u));
    EXPECT_EQ(GTfCVtxDecl.Elements[2].Offset, offsetof(STfCVtx, r));
    EXPECT_EQ(GColVtxDecl.Elements[1].Offset, offsetof(SColVtx, color));
    EXPECT_EQ(GTexVtxDecl.Elements[1].Offset, offsetof(STexVtx, u));

    // Locations as the shader loader binds them.
    EXPECT_EQ(GTfCVtxDecl.Elements[0].Type, 0);
    EXPECT_EQ(GTfCVtxDecl.Elements[1].Type, 6);
    EXPECT_EQ(GTfCVtxDecl.Elements[2].Type, 3);
    EXPECT_EQ(FindVertexDecl("NoSuchDecl"), nullptr);
}

TEST(GameVertex, StreamsGetTheirOwnOffsetsAndStrides)
{
    SVertexElement elements[] = {
        {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
        {GL_SHORT, 2, 0, VA_Normal, 0, 0},
        {GL_UNSIGNED_BYTE, 4, 1, VA_Color, 0, 0},
        {GL_FLOAT, 2, 1, VA_TexCoord0, 0, 0},
        {GL_INT, 1, 2, VA_TexCoord1, 0, 0},
        {0, 0, 0, 0, 0, 0},
    };
    SVertexDecl d(elements, "TestTwoStreams");
    EXPECT_EQ(d.ElementCount, 5);
    // Stream 0: 12 + 4 bytes; stream 1: 4 + 8 bytes; stream 2: 4 bytes.
    const u8 offsets[] = {0, 12, 0, 4, 0};
    const u8 strides[] = {16, 16, 12, 12, 4};
    for (u32 i = 0; i < 5; ++i)
    {
        EXPECT_EQ(elements[i].Offset, offsets[i]) << i;
        EXPECT_EQ(elements[i].Stride, strides[i]) << i;
    }
    EXPECT_EQ(d.VertexSize, 32);
    EXPECT_EQ(FindVertexDecl("TestTwoStreams"), &d);
}

TEST(GameVertex, DeclarationsUnregisterWhenDestroyed)
{
    {
        SVertexElement elements[] = {{GL_FLOAT, 3, 0, VA_Vertex, 0, 0}, {0, 0, 0, 0, 0, 0}};
        SVertexDecl d(elements, "TestShortLived");
        EXPECT_EQ(FindVertexDecl("TestShortLived"), &d);
    }
    EXPECT_EQ(FindVertexDecl("TestShortLived"), nullptr);
    EXPECT_NE(FindVertexDecl("STexVtxDecl"), nullptr);
}

TEST(GameVertex, ComponentSizes)
{
    EXPECT_EQ(VTX_ComponentSize(GL_BYTE), 1u);
    EXPECT_EQ(VTX_ComponentSize(GL_UNSIGNED_BYTE), 1u);
    EXPECT_EQ(VTX_ComponentSize(GL_SHORT), 2u);
    EXPECT_EQ(VTX_ComponentSize(GL_UNSIGNED_SHORT), 2u);
    EXPECT_EQ(VTX_ComponentSize(GL_INT), 4u);
    EXPECT_EQ(VTX_ComponentSize(GL_UNSIGNED_INT), 4u);
    EXPECT_EQ(VTX_ComponentSize(GL_FLOAT), 4u);
    TExpectBreak expected("Cannot get vertex data type");
    EXPECT_EQ(VTX_ComponentSize(GL_DOUBLE), 0u);
}
