// The Basic family's image operations: the sprite sheet rendered from an animated graph, blending,
// transforming, resampling and reshaping. The formulas of the passes are stated in the headers of
// their programs under Data/Shaders/Nodes/Basic/ and Data/Shaders/Nodes/Blend/.
#pragma once

#include "TexNodeClass.h"

// The blend mode list: display text and program; section titles begin with "--" and name no
// program (null here, "NULL" as the menu's list shows it).
static const u32 BLEND_MODE_COUNT = 27;
extern const char* const BLEND_MODE_TEXTS[BLEND_MODE_COUNT];
extern const char* const BLEND_MODE_PROGRAMS[BLEND_MODE_COUNT];
// The program of a mode; null for a section title or a value outside the list.
const char* BlendModeProgram(s32 mode);
extern const char* const BLEND_INVALID_MODE;

// Out-of-range modes of the reshape node.
enum EReshapeMode
{
    RSM_Clear = 0,
    RSM_Clamp,
    RSM_Repeat,
    RSM_Mirror,
    RSM_Count,
};
extern const char* const RESHAPE_MODE_TEXTS[RSM_Count];

// The offset the reshape pass is given for an offset on one axis: the same placement, small
// enough for exact float arithmetic. Repeat and mirror reduce it modulo their period; clear and
// clamp hold it where every larger offset gives the same picture.
s32 ReshapeReducedOffset(s64 offset, s32 mode, u32 inputSize, u32 outputSize);

// Sheet layout: cells per side for a frame count, and the sheet size for an input size and the
// largest size (at least one pixel on each side).
u32 SpriteGridSide(s32 frameCount);
void SpriteSheetSize(u32 inWidth, u32 inHeight, s32 maxWidth, s32 maxHeight, u32& width, u32& height);
// The animation time of frame k.
float SpriteFrameTime(const mVec2& time, s32 frameCount, s32 k);

class STexNode_SpriteSheet : public STexProcNode
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_KeepAspect,
        P_FrameCount,
        P_Time,
        P_Play,
        P_Loop,
    };
    s32 Stale; // run-time: 1 while the sheet needs rendering
    s32 Width, Height, KeepAspect, FrameCount;
    mVec2 Time;
    s32 Play, Loop;
    float PlayPos; // run-time: preview position, 0..1

    explicit STexNode_SpriteSheet(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    // Renders every frame into its cell; 1 on success, else 0 with the status set.
    int RenderSpriteFrames();
    // Renders when out of date or absent, then writes the sheet; a failure is told in a box.
    int SaveSheet(const char* path);

    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Blend : public STexProcNode
{
public:
    enum
    {
        P_BlendMode = 1,
        P_BlendAmt,
        P_BClamp,
        P_OClamp,
    };
    s32 BlendMode;
    float BlendAmt;
    s32 BClamp, OClamp;

    explicit STexNode_Blend(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Transform : public STexProcNode
{
public:
    enum
    {
        P_Off = 1,
        P_Rot,
        P_Zoom,
        P_Uniform,
        P_FlipX,
        P_FlipY,
        P_SnapDiv,
    };
    mVec2 Off;
    float Rot; // degrees
    mVec2 Zoom;
    s32 Uniform, FlipX, FlipY;
    float SnapDiv;

    explicit STexNode_Transform(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Resize : public STexProcNode
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
    };
    s32 Width, Height;

    explicit STexNode_Resize(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Reshape : public STexProcNode
{
public:
    enum
    {
        P_Width = 1,
        P_Height,
        P_XOff,
        P_YOff,
        P_OffMode,
    };
    s32 Width, Height, XOff, YOff, OffMode;

    explicit STexNode_Reshape(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};
