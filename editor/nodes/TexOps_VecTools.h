// The VecTools family: images as fields of four-component vectors, combined channel by channel
// (masked arithmetic of two images, absolute value, mix, clamp) and normal maps packed into the
// colour range, unpacked and normalised. Its menu class is STNVecToolsMenu.
#pragma once

#include "TexNodeClass.h"

// The channel mask of the two-input operations, in the order red, green, blue, alpha; each 0 or 1.
struct SVecMask
{
    s32 Red, Green, Blue, Alpha;
};

// A mask channel from a stored "RGBA" component: truncated and held in 0..1, so 1 and above
// select, anything below 1 (and a value that is no number) does not.
s32 VecMaskChannel(float stored);
SVecMask VecMaskFromVec4(const mVec4& stored);
// The mask as the four floats that are stored and sent to the programs.
mVec4 VecMaskToVec4(const SVecMask& m);
// The output format of the two-input operations: the larger code of the two, at least FP16.
u32 VecArithFormat(u32 format1, u32 format2);

// The eight masked two-input operations: "Input 1" and "Input 2" over the larger size of the
// two; masked-off channels take input 1.
class STexNode_VecArith : public STexProcNode
{
public:
    enum
    {
        P_RGBA = 1,
    };
    SVecMask Mask;

    STexNode_VecArith(TArray<SPropDesc>& list, const char* title, const char* program);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* ArithProps();

private:
    const char* Program;
};

// The one-input operations: the input's size in FP16, no uniforms.
class STexNode_VecUnary : public STexProcNode
{
public:
    STexNode_VecUnary(TArray<SPropDesc>& list, const char* title, const char* program);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;

private:
    const char* Program;
};

#define VEC_TOOLS_CLASS(T, Base)                                                                     \
    class T : public Base                                                                            \
    {                                                                                                \
    public:                                                                                          \
        explicit T(TArray<SPropDesc>& list);                                                         \
        static const SPropDesc* Props();                                                             \
        static SClassInfo* ClassRecord();                                                            \
    };

VEC_TOOLS_CLASS(STexNode_Add, STexNode_VecArith)
VEC_TOOLS_CLASS(STexNode_Sub, STexNode_VecArith)
VEC_TOOLS_CLASS(STexNode_Mul, STexNode_VecArith)
VEC_TOOLS_CLASS(STexNode_Div, STexNode_VecArith)
VEC_TOOLS_CLASS(STexNode_Mod, STexNode_VecArith)
VEC_TOOLS_CLASS(STexNode_Pow, STexNode_VecArith)
VEC_TOOLS_CLASS(STexNode_Min, STexNode_VecArith)
VEC_TOOLS_CLASS(STexNode_Max, STexNode_VecArith)
// Abs declares "RGBA" so that its documents carry it, but neither reads nor stores it.
VEC_TOOLS_CLASS(STexNode_Abs, STexNode_VecUnary)
VEC_TOOLS_CLASS(STexNode_PackNormal, STexNode_VecUnary)
VEC_TOOLS_CLASS(STexNode_UnpackNormal, STexNode_VecUnary)
VEC_TOOLS_CLASS(STexNode_NormalizeNormal, STexNode_VecUnary)

class STexNode_Mix : public STexProcNode
{
public:
    explicit STexNode_Mix(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// Clamps "Input" between "Min" and "Max"; an unusable bound is (0, 0, 0, 0) or (1, 1, 1, 1).
class STexNode_Clamp : public STexProcNode
{
public:
    explicit STexNode_Clamp(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};
