// The Generate family: nodes that make textures from their parameters alone (constant colours,
// noise, clouds, gradients, a grid and blur kernels). Its menu class is STNGenMenu.
#pragma once

#include "TexNodeClass.h"

// (h, s, v) to (r, g, b, 1). A hue below 0 wraps into [0, 1); a hue that is no finite number
// counts as 0.
void HsvToRgb(float out[4], const float hsv[3]);

// One uniform a generator pass sends, computed from the parameters alone so that it can be
// checked without GL.
enum EGenUniformKind
{
    GU_Int = 0,
    GU_Float,
    GU_Vec2,
};
struct SGenUniform
{
    const char* Name;
    u32 Kind;
    s32 I;
    float V[2];
};
typedef TPodArray<SGenUniform> TGenUniforms;

// The first octave the clouds send is at least 1, the last at most 64 (the panel's range): the
// program's loop has that bound.
static const s32 CLOUDS_MIN_OCTAVE = 1;
static const s32 CLOUDS_MAX_OCTAVE = 64;

// Width, height and seed: the CPU noise, the GPU noise and (width, height, type) the blur kernel.
class STexNode_GenSized : public STexProcNode
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_Third,
    };
    s32 Width, Height, Third;

    STexNode_GenSized(TArray<SPropDesc>& list, const char* title, const char* output);
    void StoreParams(TArray<SPropDesc>& list) override;
    // The panel of width, height and seed.
    float PropertyPanel(const mRect& r) override;
    // Whether the size is one a texture can have; else the status text says why.
    bool SizeUsable();
};

class STexNode_ColorRGBA : public STexProcNode
{
public:
    enum
    {
        P_Color = 1,
        P_SnapDiv,
    };
    mVec4 Color;
    float SnapDiv;

    explicit STexNode_ColorRGBA(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_ColorHSVA : public STexProcNode
{
public:
    enum
    {
        P_Color = 1,
        P_Alpha,
        P_SnapDiv,
    };
    mVec3 Color;
    float Alpha;
    float SnapDiv;

    explicit STexNode_ColorHSVA(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    // The output colour: the hue, saturation and value converted, with "Alpha".
    mVec4 Rgba() const;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_CPUNoise : public STexNode_GenSized
{
public:
    explicit STexNode_CPUNoise(TArray<SPropDesc>& list);
    int Process() override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_GPUNoise : public STexNode_GenSized
{
public:
    explicit STexNode_GPUNoise(TArray<SPropDesc>& list);
    int Process() override;
    void Uniforms(TGenUniforms& out) const;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_BlurKernel : public STexNode_GenSized
{
public:
    explicit STexNode_BlurKernel(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    // The choice text of "Type"; "?" when it indexes no kernel.
    const char* TypeText() const;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// The classes with the two optional inputs "[opt] T. 1" and "[opt] T. 2", which the pass
// receives on units 0 and 1, or in their place 1x1 substitutes of (0, 0, 0, 0) and
// (255, 255, 255, 255).
class STexNode_GenTwoInputs : public STexProcNode
{
public:
    s32 Width, Height;

    STexNode_GenTwoInputs(TArray<SPropDesc>& list, const char* title, const char* output);
    int Process() override;
    virtual const char* Program() const = 0;
    virtual void Uniforms(TGenUniforms& out) const = 0;
};

class STexNode_GPUClouds : public STexNode_GenTwoInputs
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_Seed,
        P_OctDataX,
        P_OctDataY,
        P_DetScaleX,
        P_DetScaleY,
        P_Uniform,
    };
    s32 Seed, OctDataX, OctDataY, DetScaleX, DetScaleY, Uniform;

    explicit STexNode_GPUClouds(TArray<SPropDesc>& list);
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    const char* Program() const override;
    void Uniforms(TGenUniforms& out) const override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_LinearGradient : public STexNode_GenTwoInputs
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_Pos0,
        P_Pos1,
        P_SnapDiv,
        P_Repeat,
        P_Mirror,
    };
    mVec2 Pos0, Pos1;
    float SnapDiv;
    s32 Repeat, Mirror;

    explicit STexNode_LinearGradient(TArray<SPropDesc>& list);
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    const char* Program() const override;
    void Uniforms(TGenUniforms& out) const override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// The radial and the box gradient share their table, fields and uniforms.
class STexNode_ShapeGradient : public STexNode_GenTwoInputs
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_Pos0,
        P_Radius0,
        P_Radius1,
        P_Uniform,
        P_SnapDiv,
        P_Repeat,
        P_Mirror,
    };
    mVec2 Pos0, Radius0, Radius1;
    s32 Uniform;
    float SnapDiv;
    s32 Repeat, Mirror;

    STexNode_ShapeGradient(TArray<SPropDesc>& list, const char* title);
    void StoreParams(TArray<SPropDesc>& list) override;
    void Uniforms(TGenUniforms& out) const override;
    static const SPropDesc* ShapeProps();
};

class STexNode_RadialGradient : public STexNode_ShapeGradient
{
public:
    explicit STexNode_RadialGradient(TArray<SPropDesc>& list);
    float PropertyPanel(const mRect& r) override;
    const char* Program() const override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_BoxGradient : public STexNode_ShapeGradient
{
public:
    explicit STexNode_BoxGradient(TArray<SPropDesc>& list);
    float PropertyPanel(const mRect& r) override;
    const char* Program() const override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Grid : public STexNode_GenTwoInputs
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_Off,
        P_Border,
        P_Hole,
        P_Uniform,
        P_Texels,
        P_SnapDiv,
    };
    mVec2 Off, Border, Hole;
    s32 Uniform, Texels;
    float SnapDiv;

    explicit STexNode_Grid(TArray<SPropDesc>& list);
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    const char* Program() const override;
    void Uniforms(TGenUniforms& out) const override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// The kernel table of the blur kernel: choice texts and programs, indexed by "Type".
static const u32 BLUR_KERNEL_COUNT = 2;
extern const char* const BLUR_KERNEL_TEXTS[BLUR_KERNEL_COUNT];
extern const char* const BLUR_KERNEL_PROGRAMS[BLUR_KERNEL_COUNT];
// The programs of the family, for checks that each builds.
static const u32 GEN_PROGRAM_COUNT = 8;
extern const char* const GEN_PROGRAMS[GEN_PROGRAM_COUNT];
