// The Utils family: colour-space conversion and back, alpha premultiplication and back, the
// repeated growth pass of Expand, and the particle nodes that make positions and scatter a sprite
// over an image. Its menu class is STNUtilsMenu. The CPU parts of the particles (positions, the
// weighted search, the quads of one particle) are plain functions so they can be checked alone.
#pragma once

#include "TexNodeClass.h"

// Colour spaces of the conversion pair, indexing their program tables.
enum EAltSpace
{
    ALT_HSLi = 0,
    ALT_HSV,
    ALT_SpaceCount,
};
// The captions of the conversion modes; the panel's choice list offers only the first.
extern const char* const ALT_SPACE_TEXTS[ALT_SpaceCount];
static const u32 ALT_CHOICE_COUNT = 1;

enum EPartPosMode
{
    PPM_Rectangle = 0,
    PPM_Ellipsoid,
    PPM_Line,
    PPM_Count,
};
extern const char* const PART_POS_MODE_TEXTS[PPM_Count];

enum EPartBlend
{
    PB_Normal = 0,
    PB_Add,
    PB_Min,
    PB_Max,
    PB_Count,
};
extern const char* const PART_BLEND_TEXTS[PB_Count];
// The render-state blend word of a blend mode; values outside the list blend as PB_Normal.
u32 ParticleBlendWord(s32 mode);

// Expand's passes: a stored count outside this fails.
static const s32 EXPAND_ITERATIONS_MIN = 1;
static const s32 EXPAND_ITERATIONS_MAX = 4096;
// The quads one particle render may draw; tiling beyond this fails instead of hanging.
static const u32 PARTICLE_QUADS_MAX = 1u << 20;

// Count positions drawn from the seeded generator, as (x, y) in out (emptied first): uniformly
// over the P1-P2 box, inside its inscribed ellipse (radius the raw draw), or along the segment.
// A mode outside the list draws nothing and leaves out empty.
void PartPositions(s32 count, s32 seed, s32 mode, const mVec2& p1, const mVec2& p2, TPodArray<mVec2>& out);

// Count positions at texels drawn with probability proportional to the weights' red channel,
// each at its texel's corner of smallest coordinates mapped into the P1-P2 box. A draw that the
// search runs past the last texel places nothing; an image without texels places nothing.
void PartWeightedPositions(const FloatImage& weights, s32 count, s32 seed, const mVec2& p1, const mVec2& p2,
                           TPodArray<mVec2>& out);

// One quad of a particle in clip space (left, top, right, bottom), offsets of tiling included.
struct SParticleQuad
{
    float L, T, R, B;
};

// Appends the quads of a particle at (px, py) in texture coordinates whose edge is size output
// texels on a width x height target: one, or with tiled also its copies shifted by whole images
// towards the target, so that a quad crossing an edge reappears across the opposite one (up to four
// copies at a corner). A particle whose position or size is no finite number appends nothing.
// False (nothing appended) when out would pass maxQuads.
bool ParticleQuads(float px, float py, float size, u32 width, u32 height, bool tiled, u32 maxQuads,
                   TPodArray<SParticleQuad>& out);

class STexNode_RGBtoALT : public STexProcNode
{
public:
    enum
    {
        P_Mode = 1,
    };
    s32 Mode;

    explicit STexNode_RGBtoALT(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_ALTtoRGB : public STexProcNode
{
public:
    enum
    {
        P_Mode = 1,
    };
    s32 Mode;

    explicit STexNode_ALTtoRGB(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_AlphaPremul : public STexProcNode
{
public:
    explicit STexNode_AlphaPremul(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_AlphaDePremul : public STexProcNode
{
public:
    explicit STexNode_AlphaDePremul(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Expand : public STexProcNode
{
public:
    enum
    {
        P_Iterations = 1,
        P_Range,
        P_Red,
        P_Green,
        P_Blue,
        P_Alpha,
    };
    s32 Iterations;
    float Range;
    s32 Red, Green, Blue, Alpha;

    explicit STexNode_Expand(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_PartPos : public STexProcNode
{
public:
    enum
    {
        P_Count = 1,
        P_Seed,
        P_Mode,
        P_P1,
        P_P2,
    };
    s32 Count, Seed, Mode;
    mVec2 P1, P2;
    TPodArray<mVec2> Points; // the last Process's positions, for the preview

    explicit STexNode_PartPos(TArray<SPropDesc>& list);
    ~STexNode_PartPos() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_PartPosTex : public STexProcNode
{
public:
    enum
    {
        P_Count = 1,
        P_Seed,
        P_P1,
        P_P2,
    };
    s32 Count, Seed;
    mVec2 P1, P2;
    TPodArray<mVec2> Points;

    explicit STexNode_PartPosTex(TArray<SPropDesc>& list);
    ~STexNode_PartPosTex() override;
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_PartRender : public STexProcNode
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_BlendMode,
        P_Size,
        P_SSWidth,
        P_SSHeight,
        P_SSCount,
        P_SSSeed,
        P_Tiled,
    };
    enum
    {
        IN_Texture = 0,
        IN_Position,
        IN_Size,
        IN_Color,
        IN_Angle,
        IN_Bgr,
    };
    // Size comes before BlendMode in the object; table and document keep BlendMode first.
    s32 Width, Height;
    float Size;
    s32 BlendMode, SSWidth, SSHeight, SSCount, SSSeed, Tiled;

    explicit STexNode_PartRender(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};
