#include "TestNodes.h"

#include <GL/glew.h>

#include "GameShader.h"
#include "GameVertex.h"

const char* const TEST_FAILURE_TEXT = "Test failure";
const char* const TEST_AFFINE_SHADER = "Tests/NodeAffine";

namespace
{
const s32 MAX_TEST_PINS = 8;
const s32 MAX_TEST_SIZE = 4096;

template <class T> CEntity* CreateTestNode(TArray<SPropDesc>& list)
{
    T* node = new T(list);
    node->ClassInfo = &T::Info;
    return node;
}

SPropDesc& Param(TArray<SPropDesc>& list, const char* name)
{
    SPropDesc* e = FindPropDesc(list, name);
    FATAL_CHECK(e != nullptr);
    return *e;
}

// An integer parameter within its range: pin counts and sizes come from documents too.
s32 RangedInt(TArray<SPropDesc>& list, const char* name)
{
    SPropDesc& e = Param(list, name);
    const s32 v = e.AsInt();
    return v < e.Min.Int ? e.Min.Int : (v > e.Max.Int ? e.Max.Int : v);
}

void Connect(STexProcNode& node, s32 ins, s32 outs, s32 optionalFrom)
{
    for (s32 i = 0; i < ins; ++i)
    {
        TString name;
        name.Format(32, "%sIn %d", i >= optionalFrom ? NODE_OPTIONAL_PIN_PREFIX : "", (int)i);
        node.InParams.Add(new NodePin(name.Str(), &node, (u32)i));
    }
    for (s32 i = 0; i < outs; ++i)
    {
        TString name;
        name.Format(32, "Out %d", (int)i);
        node.OutParams.Add(new NodePin(name.Str(), &node, (u32)i));
    }
}
} // namespace

std::vector<STexProcNode*>& TestProcessLog()
{
    static std::vector<STexProcNode*> log;
    return log;
}

std::function<void(STexProcNode*)>& TestProcessHook()
{
    static std::function<void(STexProcNode*)> hook;
    return hook;
}

std::vector<u32>& TestLiveTextureLog()
{
    static std::vector<u32> log;
    return log;
}

// ---------------------------------------------------------------------------------------------

const SPropDesc* STestNode_Pins::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Ins", 1, 0, MAX_TEST_PINS),
        PropInt("Outs", 1, 0, MAX_TEST_PINS),
        PropInt("Optional", MAX_TEST_PINS, 0, MAX_TEST_PINS),
        PropInt("Fail", 0, 0, 1),
        PropInt("Size", 0, 0, MAX_TEST_SIZE),
        PropFloat("Gain", 0.5f, 0.0f, 2.0f),
        PropVec2("Shift", mVec2(1, 2), mVec2(-10, -20), mVec2(10, 20)),
        PropVec4(EVT_ColRGBA, "Tint", mVec4(0.1f, 0.2f, 0.3f, 0.4f), mVec4(0, 0, 0, 0), mVec4(1, 1, 1, 1)),
        PropString(EVT_String, "Label", "text"),
        PropNull(),
    };
    return table;
}

SClassInfo STestNode_Pins::Info("STestNode_Pins", &CreateTestNode<STestNode_Pins>, STestNode_Pins::Props());

STestNode_Pins::STestNode_Pins(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Test pins";
    Ins = RangedInt(list, "Ins");
    Outs = RangedInt(list, "Outs");
    Optional = RangedInt(list, "Optional");
    Fail = Param(list, "Fail").AsInt();
    Size = RangedInt(list, "Size");
    Gain = Param(list, "Gain").AsFloat();
    Shift = Param(list, "Shift").AsVec2();
    Tint = Param(list, "Tint").AsColRGBA();
    Label = Param(list, "Label").AsString();
    Connect(*this, Ins, Outs, Optional);
}

void STestNode_Pins::StoreParams(TArray<SPropDesc>& list)
{
    STexProcNode::StoreParams(list);
    Param(list, "Ins").AsInt() = Ins;
    Param(list, "Outs").AsInt() = Outs;
    Param(list, "Optional").AsInt() = Optional;
    Param(list, "Fail").AsInt() = Fail;
    Param(list, "Size").AsInt() = Size;
    Param(list, "Gain").AsFloat() = Gain;
    Param(list, "Shift").AsVec2() = Shift;
    Param(list, "Tint").AsColRGBA() = Tint;
    Param(list, "Label").AsString() = Label;
}

int STestNode_Pins::Process()
{
    TestProcessLog().push_back(this);
    if (TestProcessHook())
        TestProcessHook()(this);
    for (u32 i = 0; i < InParams.Count(); ++i)
        if (!InParams[i]->IsOptional() && InParams[i]->Links.IsEmpty())
        {
            SetStatus(NS_NoInput);
            return 0;
        }
    if (Fail)
    {
        SetStatus(TEST_FAILURE_TEXT);
        return 0;
    }
    if (Size > 0 && !CreateOutputTarget((u32)Size, (u32)Size, TEXFMT_RGBA8))
        return 0;
    return 1;
}

// ---------------------------------------------------------------------------------------------

const SPropDesc* STestNode_Affine::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Ins", 1, 0, 2),
        PropInt("Size", 16, 0, MAX_TEST_SIZE),
        PropFloat("Scale", 1.0f, -10.0f, 10.0f),
        PropVec4(EVT_ColRGBA, "Bias", mVec4(0, 0, 0, 0), mVec4(-1, -1, -1, -1), mVec4(1, 1, 1, 1)),
        PropNull(),
    };
    return table;
}

SClassInfo STestNode_Affine::Info("STestNode_Affine", &CreateTestNode<STestNode_Affine>, STestNode_Affine::Props());

STestNode_Affine::STestNode_Affine(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Test affine";
    Ins = RangedInt(list, "Ins");
    Size = RangedInt(list, "Size");
    Scale = Param(list, "Scale").AsFloat();
    Bias = Param(list, "Bias").AsColRGBA();
    // The second input is optional.
    Connect(*this, Ins, 1, 1);
}

void STestNode_Affine::StoreParams(TArray<SPropDesc>& list)
{
    STexProcNode::StoreParams(list);
    Param(list, "Ins").AsInt() = Ins;
    Param(list, "Size").AsInt() = Size;
    Param(list, "Scale").AsFloat() = Scale;
    Param(list, "Bias").AsColRGBA() = Bias;
}

int STestNode_Affine::Process()
{
    TestProcessLog().push_back(this);
    u32 width = (u32)Size, height = (u32)Size, format = TEXFMT_RGBA8;
    int summed = 0;
    for (u32 i = 0; i < InParams.Count(); ++i)
    {
        if (InParams[i]->Links.IsEmpty())
        {
            if (InParams[i]->IsOptional())
                break;
            SetStatus(NS_NoInput);
            return 0;
        }
        TextureRef in = InputTexture(i);
        if (in.IsNull() || !in->GLName)
        {
            SetStatus(NS_NullTexture);
            return 0;
        }
        if (i == 0)
        {
            width = in->Width;
            height = in->Height;
            format = in->Format;
        }
        ++summed;
    }
    if (!CreateOutputTarget(width, height, format))
        return 0;
    TestLiveTextureLog().push_back(GTexManager.Textures.Count());
    FrameBufferRef fb;
    if (!BeginOutputPass(fb))
        return 0;
    TArray<TString> defines;
    BindInputTextures(TEST_AFFINE_SHADER, defines);
    if (SShader* sp = GCurShader)
    {
        SetUniformInt(sp, "InputCount", summed);
        SetUniformFloat(sp, "Scale", Scale);
        SetUniformVec4(sp, "Bias", &Bias.x);
    }
    DrawFullscreenQuad(-1, 1, 1, -1, 0);
    EndOutputPass(fb);
    return 1;
}

namespace
{
struct SRegisterTestNodes
{
    SRegisterTestNodes()
    {
        RegisterClassInfo(&STestNode_Pins::Info);
        RegisterClassInfo(&STestNode_Affine::Info);
    }
} GRegisterTestNodes;
} // namespace

STexProcNode* AddClassNode(STexProcessor& p, const char* cls, const std::function<void(TArray<SPropDesc>&)>& set)
{
    SClassInfo* info = FindClassInfo(cls);
    if (!info)
        return nullptr;
    TArray<SPropDesc> list;
    InstantiatePropTable(list, info->Props);
    if (set)
        set(list);
    STexProcNode* node = dynamic_cast<STexProcNode*>(info->Create(list));
    p.AddNode(node, 0);
    return node;
}

STestNode_Pins* AddPinsNode(STexProcessor& p, int ins, int outs, int size)
{
    return AddTestNode<STestNode_Pins>(p, [&](TArray<SPropDesc>& l) {
        TestSetInt(l, "Ins", ins);
        TestSetInt(l, "Outs", outs);
        TestSetInt(l, "Size", size);
    });
}

int TestLink(STexProcessor& p, STexProcNode* a, u32 out, STexProcNode* b, u32 in)
{
    return p.Link(a->OutParams[out], b->InParams[in]);
}
