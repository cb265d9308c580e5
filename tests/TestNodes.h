// Node classes of the tests only (registered in the test program, never in plumweave): nodes with
// any number of pins whose processing is recorded, and a GPU node with a known formula, so that
// graphs can be built, processed and checked before the node families exist.
#pragma once

#include <functional>
#include <vector>

#include "TexProcessor.h"

// Every Process call of a test node, in order.
std::vector<STexProcNode*>& TestProcessLog();
// Called by a pins node's Process when set (after it logged itself).
std::function<void(STexProcNode*)>& TestProcessHook();
// The number of live textures right after each affine node made its target, in order.
std::vector<u32>& TestLiveTextureLog();

// Pins from its "Ins" and "Outs" parameters (inputs named "In i", the ones from "Optional" on
// with the optional prefix); Process records itself and fails with "Test failure" when "Fail" is
// set or a required input is unlinked ("No input found"). It has an output texture only when
// "Size" is non-zero. Its other parameters (a float, a Vec2, a colour and a text) exist for the
// animation channels.
class STestNode_Pins : public STexProcNode
{
public:
    s32 Ins, Outs, Optional, Fail, Size;
    float Gain;
    mVec2 Shift;
    mVec4 Tint;
    TString Label;

    explicit STestNode_Pins(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo Info;
};

// One output: Bias + Scale * (input 0 + the optional input 1), per channel, through the shader
// "Tests/NodeAffine"; without inputs ("Ins" 0) a "Size" x "Size" target of Bias alone.
class STestNode_Affine : public STexProcNode
{
public:
    s32 Ins, Size;
    float Scale;
    mVec4 Bias;

    explicit STestNode_Affine(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo Info;
};

extern const char* const TEST_FAILURE_TEXT;
extern const char* const TEST_AFFINE_SHADER;

// A node of class T from its defaults changed by set, added to the processor without placement.
template <class T>
T* AddTestNode(STexProcessor& p, const std::function<void(TArray<SPropDesc>&)>& set = nullptr)
{
    TArray<SPropDesc> list;
    InstantiatePropTable(list, T::Props());
    if (set)
        set(list);
    T* node = static_cast<T*>(T::Info.Create(list));
    p.AddNode(node, 0);
    return node;
}

// A node of the class registered under cls from its defaults changed by set, added to the processor
// without placement; null when no class has that name.
STexProcNode* AddClassNode(STexProcessor& p, const char* cls,
                           const std::function<void(TArray<SPropDesc>&)>& set = nullptr);

inline void TestSetInt(TArray<SPropDesc>& list, const char* name, int value)
{
    FindPropDesc(list, name)->AsInt() = value;
}

// A pins node with ins inputs and outs outputs (all inputs required) and an output of size x size
// when size is non-zero.
STestNode_Pins* AddPinsNode(STexProcessor& p, int ins, int outs, int size = 0);

// Links output pin `out` of a to input pin `in` of b.
int TestLink(STexProcessor& p, STexProcNode* a, u32 out, STexProcNode* b, u32 in);
