// The Select family: masks that mark the selected texels of an image (a rectangle, a per-channel
// comparison of two images, a distance range around a second image). Its menu class is
// STNSelectMenu.
#pragma once

#include "TexNodeClass.h"

// The comparison operators: what the type button shows and the define of the program variant.
static const u32 SEL_COMPARE_MODE_COUNT = 4;
extern const char* const SEL_COMPARE_CHOICES[SEL_COMPARE_MODE_COUNT];
extern const char* const SEL_COMPARE_DEFINES[SEL_COMPARE_MODE_COUNT];
// What the type button shows for a stored mode outside the list.
extern const char* const SEL_COMPARE_UNKNOWN;

// The choice text of a comparison mode, SEL_COMPARE_UNKNOWN outside the list.
const char* SelCompareChoice(s32 mode);
// The rectangle's lower and upper corners: per axis the smaller and the larger of Min and Max.
void SelRectCorners(const mVec2& min, const mVec2& max, mVec2& lo, mVec2& hi);
// The range the program receives: as given, or with Sharp a step of 2^-23 from the start in the
// direction of the given range (a zero difference counts as upwards).
mVec2 SelRangeSent(const mVec2& range, s32 sharp);

class STexNode_SelRect : public STexProcNode
{
public:
    enum
    {
        P_Min = 1,
        P_Max,
        P_SnapDiv,
    };
    mVec2 Min;
    mVec2 Max;
    float SnapDiv; // only the snap divisor of the corner fields in the panel

    explicit STexNode_SelRect(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_SelCompare : public STexProcNode
{
public:
    enum
    {
        P_Mode = 1,
    };
    s32 Mode; // kept as stored, even outside the operator list

    explicit STexNode_SelCompare(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_SelRange : public STexProcNode
{
public:
    enum
    {
        P_Range = 1,
        P_Sharp,
        P_Vector,
    };
    mVec2 Range;
    s32 Sharp;
    s32 Vector;

    explicit STexNode_SelRange(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};
