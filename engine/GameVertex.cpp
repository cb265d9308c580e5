// Vertex declarations and primitive drawing from client memory.
#include "GameVertex.h"

#include <GL/glew.h>

static SVertexDecl* GVertexDecls = nullptr;

SVertexDecl* GUsedDeclaration = nullptr;
int GStreamBits[VA_Count];
static bool GAttribWanted[VA_Count];
static bool GAttribEnabled[VA_Count];
static u32 GBoundArrayBuffer = 0;

u32 VTX_ComponentSize(u32 glType)
{
    switch (glType)
    {
    case GL_BYTE:
    case GL_UNSIGNED_BYTE:
        return 1;
    case GL_SHORT:
    case GL_UNSIGNED_SHORT:
        return 2;
    case GL_INT:
    case GL_UNSIGNED_INT:
    case GL_FLOAT:
        return 4;
    default:
        AssertBreak("\"Cannot get vertex data type because it does not exist or it is not supported.. or you have "
                    "invalid data there.\"",
                    gSysBaseName(__FILE__), __LINE__);
        return 0;
    }
}

SVertexDecl::SVertexDecl(SVertexElement* elements, const char* name)
    : Elements(elements), ElementCount(0), VertexSize(0), Name(name), Next(nullptr)
{
    u32 n = 0;
    while (elements[n].Count != 0)
        ++n;
    ElementCount = (u8)n;

    u32 streamStart = 0;
    for (u32 i = 0; i <= n; ++i)
    {
        const bool streamEnds = i == n || (i > streamStart && elements[i].Stream != elements[i - 1].Stream);
        if (streamEnds && i > streamStart)
        {
            const SVertexElement& last = elements[i - 1];
            const u32 stride = last.Offset + last.Count * VTX_ComponentSize(last.GLType);
            for (u32 k = streamStart; k < i; ++k)
                elements[k].Stride = (u8)stride;
            VertexSize = (u8)(VertexSize + stride);
            streamStart = i;
        }
        if (i == n)
            break;
        if (i == streamStart)
            elements[i].Offset = 0;
        else
            elements[i].Offset =
                (u8)(elements[i - 1].Offset + elements[i - 1].Count * VTX_ComponentSize(elements[i - 1].GLType));
    }

    Next = GVertexDecls;
    GVertexDecls = this;
}

SVertexDecl::~SVertexDecl()
{
    for (SVertexDecl** p = &GVertexDecls; *p; p = &(*p)->Next)
        if (*p == this)
        {
            *p = Next;
            break;
        }
    if (GUsedDeclaration == this)
        GUsedDeclaration = nullptr;
}

SVertexDecl* FindVertexDecl(const char* name)
{
    for (SVertexDecl* d = GVertexDecls; d; d = d->Next)
        if (d->Name == name)
            return d;
    return nullptr;
}

SVertexDecl* FirstVertexDecl()
{
    return GVertexDecls;
}

// The engine's declarations (one stream each). Offsets and strides are computed at start-up.
static SVertexElement GTexVtxElements[] = {
    {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
    {GL_FLOAT, 2, 0, VA_TexCoord0, 0, 0},
    {0, 0, 0, 0, 0, 0},
};
static SVertexElement GColVtxElements[] = {
    {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
    {GL_UNSIGNED_BYTE, 4, 0, VA_Color, 0, 0},
    {0, 0, 0, 0, 0, 0},
};
static SVertexElement GTCVtxElements[] = {
    {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
    {GL_FLOAT, 2, 0, VA_TexCoord0, 0, 0},
    {GL_UNSIGNED_BYTE, 4, 0, VA_Color, 0, 0},
    {0, 0, 0, 0, 0, 0},
};
static SVertexElement GTfCVtxElements[] = {
    {GL_FLOAT, 3, 0, VA_Vertex, 0, 0},
    {GL_FLOAT, 3, 0, VA_TexCoord0, 0, 0},
    {GL_FLOAT, 4, 0, VA_Color, 0, 0},
    {0, 0, 0, 0, 0, 0},
};

SVertexDecl GTexVtxDecl(GTexVtxElements, "STexVtxDecl");
SVertexDecl GColVtxDecl(GColVtxElements, "SColVtxDecl");
SVertexDecl GTCVtxDecl(GTCVtxElements, "STCVtxDecl");
SVertexDecl GTfCVtxDecl(GTfCVtxElements, "STfCVtxDecl");

void ResetVertexState()
{
    GUsedDeclaration = nullptr;
    for (u32 i = 0; i < VA_Count; ++i)
    {
        GStreamBits[i] = 0;
        GAttribWanted[i] = false;
        GAttribEnabled[i] = false;
    }
    GBoundArrayBuffer = 0;
}

void SetVertexDeclaration(SVertexDecl& decl)
{
    GUsedDeclaration = &decl;
    for (u32 i = 0; i < VA_Count; ++i)
    {
        GAttribWanted[i] = false;
        GStreamBits[i] = 0;
    }
    for (u32 i = 0; i < decl.ElementCount; ++i)
    {
        const u32 type = decl.Elements[i].Type;
        if (BREAK_IF(type >= VA_Count))
            continue;
        ++GStreamBits[type];
        if (GStreamBits[type] > 1)
            FatalError("ASSERT\n\nThis test expression is false:\n\n%s", "GStreamBits[ vd.Elements[ i ].Type ] <= 1");
    }
}

void SetVertexStream(u32 stream, u32 glBuffer, const void* base)
{
    if (BREAK_IF(!GUsedDeclaration))
        return;
    if (glBuffer != GBoundArrayBuffer)
    {
        glBindBuffer(GL_ARRAY_BUFFER, glBuffer);
        GBoundArrayBuffer = glBuffer;
    }
    const SVertexDecl& decl = *GUsedDeclaration;
    for (u32 i = 0; i < decl.ElementCount; ++i)
    {
        const SVertexElement& e = decl.Elements[i];
        if (e.Stream != stream || e.Type >= VA_Count)
            continue;
        const GLboolean normalised = (e.Type == VA_Color && e.GLType != GL_FLOAT) ? GL_TRUE : GL_FALSE;
        glVertexAttribPointer(e.Type, e.Count, e.GLType, normalised, e.Stride, (const u8*)base + e.Offset);
        GAttribWanted[e.Type] = true;
        // A stream given twice must not push the counter below zero.
        if (GStreamBits[e.Type] > 0)
            --GStreamBits[e.Type];
    }
}

void DrawVertices(u32 glPrimitive, u32 count)
{
    for (u32 i = 0; i < VA_Count; ++i)
    {
        if (GAttribWanted[i] != GAttribEnabled[i])
        {
            if (GAttribWanted[i])
                glEnableVertexAttribArray(i);
            else
                glDisableVertexAttribArray(i);
            GAttribEnabled[i] = GAttribWanted[i];
        }
        if (GStreamBits[i] > 0)
            FatalError("ASSERT\n\nThis test expression is false:\n\n%s", "GStreamBits[ i ] <= 0");
    }
    glDrawArrays(glPrimitive, 0, (GLsizei)count);
}

void DrawColoredPrimitives(const SColVtx* vertices, u32 count, u32 glPrimitive)
{
    SetVertexDeclaration(GColVtxDecl);
    SetVertexStream(0, 0, vertices);
    DrawVertices(glPrimitive, count);
}

void DrawTexColoredPrimitives(const STfCVtx* vertices, u32 count, u32 glPrimitive)
{
    SetVertexDeclaration(GTfCVtxDecl);
    SetVertexStream(0, 0, vertices);
    DrawVertices(glPrimitive, count);
}

void DrawFullscreenQuad(float x0, float x1, float y0, float y1, float z)
{
    const STexVtx v[4] = {
        {x0, y0, z, 0.0f, 1.0f},
        {x1, y0, z, 1.0f, 1.0f},
        {x1, y1, z, 1.0f, 0.0f},
        {x0, y1, z, 0.0f, 0.0f},
    };
    SetVertexDeclaration(GTexVtxDecl);
    SetVertexStream(0, 0, v);
    DrawVertices(GL_TRIANGLE_FAN, 4);
}

void DrawColoredRect(float x0, float x1, float y0, float y1, float z, u32 color)
{
    const SColVtx v[4] = {
        {x0, y0, z, color},
        {x1, y0, z, color},
        {x1, y1, z, color},
        {x0, y1, z, color},
    };
    DrawColoredPrimitives(v, 4, GL_TRIANGLE_FAN);
}
