// Vertex declarations describing client-side vertex arrays, the cached vertex-attribute state
// and the primitive drawing routines that everything else uses.
#pragma once

#include "GString.h"

// Fixed attribute locations, bound by the shader loader before linking.
enum EVertexAttrib
{
    VA_Vertex = 0,       // "GLVertex"
    VA_Normal = 1,       // "GLNormal"
    VA_Tangent = 2,      // "GLTangent"
    VA_Color = 3,        // "GLColor"
    VA_BlendIndices = 4, // "GLBlendIndices"
    VA_BlendWeights = 5, // "GLBlendWeights"
    VA_TexCoord0 = 6,    // "GLTexCoord0"
    VA_TexCoord1 = 7,    // "GLTexCoord1"
    VA_Count = 8,
};

// One attribute of a declaration. A Count of 0 ends the table. Offset and Stride are filled in
// when the declaration is built.
struct SVertexElement
{
    u32 GLType;
    u8 Count;
    u8 Stream;
    u8 Type; // attribute location
    u8 Offset;
    u8 Stride;
};

struct SVertexDecl
{
    SVertexElement* Elements;
    u8 ElementCount;
    u8 VertexSize; // sum of the streams' strides
    TString Name;
    SVertexDecl* Next; // registry link

    // Counts the elements and computes offsets and strides in place; registers the declaration.
    SVertexDecl(SVertexElement* elements, const char* name);
    ~SVertexDecl();
    SVertexDecl(const SVertexDecl&) = delete;
    SVertexDecl& operator=(const SVertexDecl&) = delete;
};

// Bytes of one component of a GL type; 0 (with an assertion) for types the engine does not use.
u32 VTX_ComponentSize(u32 glType);
// The registered declaration of that name, or null.
SVertexDecl* FindVertexDecl(const char* name);
// First registered declaration (follow Next for the others).
SVertexDecl* FirstVertexDecl();

// Vertex layouts of the engine's declarations.
struct STexVtx // "STexVtxDecl"
{
    float x, y, z;
    float u, v;
};
struct SColVtx // "SColVtxDecl"
{
    float x, y, z;
    u32 color; // RGBA8, red in the low byte
};
struct STCVtx // "STCVtxDecl"
{
    float x, y, z;
    float u, v;
    u32 color;
};
struct STfCVtx // "STfCVtxDecl"
{
    float x, y, z;
    float u, v, w;
    float r, g, b, a;
};

extern SVertexDecl GTexVtxDecl;
extern SVertexDecl GColVtxDecl;
extern SVertexDecl GTCVtxDecl;
extern SVertexDecl GTfCVtxDecl;

// Cached vertex-array state.
extern SVertexDecl* GUsedDeclaration;
extern int GStreamBits[VA_Count];

// Makes the declaration current; every element then waits for its stream.
void SetVertexDeclaration(SVertexDecl& decl);
// Points the attributes of one stream at a buffer object (0: client memory) plus base.
void SetVertexStream(u32 stream, u32 glBuffer, const void* base);
// Applies the attribute enables and draws count vertices from index 0.
void DrawVertices(u32 glPrimitive, u32 count);
// Forgets the cached GL-side vertex-array state (after a new GL context became current).
void ResetVertexState();

void DrawColoredPrimitives(const SColVtx* vertices, u32 count, u32 glPrimitive);
void DrawTexColoredPrimitives(const STfCVtx* vertices, u32 count, u32 glPrimitive);
// Four corners (x0,y0) (x1,y0) (x1,y1) (x0,y1) with texture coordinates (0,1) (1,1) (1,0) (0,0).
void DrawFullscreenQuad(float x0, float x1, float y0, float y1, float z);
void DrawColoredRect(float x0, float x1, float y0, float y1, float z, u32 color);
