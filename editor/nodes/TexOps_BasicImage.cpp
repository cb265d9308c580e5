// The Basic family's image operations: sprite sheet, blend, transform, resize and reshape.
#include "TexOps_BasicImage.h"

#include <cmath>

#include "GameShader.h"
#include "GameTexture.h"
#include "GameVertex.h"
#include "TexOps_Basic.h"

const char* const BLEND_MODE_TEXTS[BLEND_MODE_COUNT] = {
    "Normal",      "--Dark",      "Darken",     "Multiply",     "Color burn",    "Linear burn",       "Subtract",
    "--Light",     "Lighten",     "Screen",     "Color dodge",  "Linear dodge",  "Divide",            "--Lighting",
    "Overlay",     "Soft light",  "Hard light", "Vivid light",  "Linear light",  "Pin light",         "--Other",
    "Difference",  "Exclusion",   "--Alt.",     "[HSLi] Hue",   "[HSLi] Saturation", "[HSLi] Lightness",
};
const char* const BLEND_MODE_PROGRAMS[BLEND_MODE_COUNT] = {
    "Nodes/Blend/Normal",
    nullptr,
    "Nodes/Blend/Darken",
    "Nodes/Blend/Multiply",
    "Nodes/Blend/ColorBurn",
    "Nodes/Blend/LinearBurn",
    "Nodes/Blend/Subtract",
    nullptr,
    "Nodes/Blend/Lighten",
    "Nodes/Blend/Screen",
    "Nodes/Blend/ColorDodge",
    "Nodes/Blend/LinearDodge",
    "Nodes/Blend/Divide",
    nullptr,
    "Nodes/Blend/Overlay",
    "Nodes/Blend/SoftLight",
    "Nodes/Blend/HardLight",
    "Nodes/Blend/VividLight",
    "Nodes/Blend/LinearLight",
    "Nodes/Blend/PinLight",
    nullptr,
    "Nodes/Blend/Difference",
    "Nodes/Blend/Exclusion",
    nullptr,
    "Nodes/Blend/HSLiHue",
    "Nodes/Blend/HSLiSaturation",
    "Nodes/Blend/HSLiLightness",
};
const char* const BLEND_INVALID_MODE = "Invalid blend mode";
const char* const RESHAPE_MODE_TEXTS[RSM_Count] = {"Clear", "Clamp", "Repeat", "Mirror"};

namespace
{
const float FULL_FLOAT = 3.4028235e38f;
const s32 FULL_INT_MIN = (s32)0x80000000u;
const s32 FULL_INT_MAX = 0x7FFFFFFF;
const s32 MAX_SIDE = 4096;
const s32 DEFAULT_SIDE = 512;
const s32 MAX_FRAMES = 256;
const s32 DEFAULT_FRAMES = 16;
const float DEGREES_TO_RADIANS = 3.1415927f / 180.0f;
const float ROTATION_FIELD_MAX = 360.0f;
const float SNAP_DIV_MAX = 1000.0f;
const float SNAP_DIV_SNAP = 1.0f;
const float NO_SNAP = 0.0f;
// Preview playback: the step per drawn panel and the factor that keeps position 1 in the last frame.
const float PLAY_STEP = 0.1f;
const float PLAY_LAST_FRAME = 0.999f;
const u32 RESHAPE_DATA_COUNT = 5;

const char* const PROG_FULL = "Nodes/Basic/Full";
const char* const PROG_TRANSFORM = "Nodes/Basic/Transform";
const char* const PROG_RESHAPE = "Nodes/Basic/Reshape";
const char* const DEF_BCLAMP_ON = "BSAT3( x ) SAT3( x )";
const char* const DEF_BCLAMP_OFF = "BSAT3( x ) (x)";
const char* const DEF_OCLAMP_ON = "OSAT4( x ) SAT4( x )";
const char* const DEF_OCLAMP_OFF = "OSAT4( x ) (x)";
const char* const SAVE_DIALOG_FOLDER = "";

const char* const PIN_INPUT = "Input";
const char* const PIN_INPUT1 = "Input 1";
const char* const PIN_INPUT2 = "Input 2";
const char* const PIN_OUTPUT = "Output";
const char* const PIN_TEXTURE = "Texture";
const char* const PIN_SIZE_SAMPLE = "Size sample";

// The output size of resize and reshape: the linked size sample's when it has a texture, else
// the node's own.
void SampledSize(STexProcNode& node, s32 width, s32 height, u32& w, u32& h)
{
    w = (u32)width;
    h = (u32)height;
    if (node.InParams.Count() > 1 && !node.InParams[1]->Links.IsEmpty())
    {
        TextureRef sample = node.InputTexture(1);
        if (NodeTextureUsable(sample))
        {
            w = sample->Width;
            h = sample->Height;
        }
    }
}

// Input 0 of a node whose other inputs are not required: the shared checks on it alone.
int RequiredFirstInput(STexProcNode& node, TextureRef& out)
{
    if (node.InParams.IsEmpty() || node.InParams[0]->Links.IsEmpty())
    {
        node.SetStatus(NS_NoInput);
        return 0;
    }
    out = node.InputTexture(0);
    if (!NodeTextureUsable(out))
    {
        node.SetStatus(NS_NullTexture);
        return 0;
    }
    return 1;
}

s64 PositiveMod(s64 v, s64 m)
{
    const s64 r = v % m;
    return r < 0 ? r + m : r;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Layout helpers

const char* BlendModeProgram(s32 mode)
{
    return mode >= 0 && (u32)mode < BLEND_MODE_COUNT ? BLEND_MODE_PROGRAMS[mode] : nullptr;
}

s32 ReshapeReducedOffset(s64 offset, s32 mode, u32 inputSize, u32 outputSize)
{
    if (BREAK_IF(inputSize == 0))
        return 0;
    switch (mode)
    {
    case RSM_Repeat: return (s32)PositiveMod(offset, inputSize);
    case RSM_Mirror: return (s32)PositiveMod(offset, 2 * (s64)inputSize);
    default:
        // From -inputSize down every output pixel reads past the input's end, from outputSize up
        // every one reads before its start.
        if (offset < -(s64)inputSize)
            return -(s32)inputSize;
        if (offset > (s64)outputSize)
            return (s32)outputSize;
        return (s32)offset;
    }
}

u32 SpriteGridSide(s32 frameCount)
{
    if (frameCount < 1)
        return 1;
    u32 n = (u32)std::ceil(std::sqrt((double)frameCount));
    // sqrt of a square may land a hair above its root.
    while (n > 1 && (n - 1) * (n - 1) >= (u32)frameCount)
        --n;
    return n;
}

void SpriteSheetSize(u32 inWidth, u32 inHeight, s32 maxWidth, s32 maxHeight, u32& width, u32& height)
{
    width = (u32)maxWidth;
    height = (u32)maxHeight;
    const float aspect = (float)inWidth / (float)inHeight;
    if (aspect <= 1.0f)
        width = (u32)((float)maxWidth * aspect);
    else
        height = (u32)((float)maxHeight / aspect);
    if (width < 1)
        width = 1;
    if (height < 1)
        height = 1;
}

float SpriteFrameTime(const mVec2& time, s32 frameCount, s32 k)
{
    if (frameCount <= 1)
        return time.x;
    return time.x + (time.y - time.x) * ((float)k / (float)(frameCount - 1));
}

// ---------------------------------------------------------------------------------------------
// Sprite sheet

namespace
{
const char* const SPRITE_TITLE = "Sprite sheet";
const char* const SPRITE_UPDATE = "Update the texture";
const char* const SPRITE_SAVE = "Save the texture";
enum
{
    SROW_Save = 0,
    SROW_Width,
    SROW_Height,
    SROW_Keep,
    SROW_Frames,
    SROW_Begin,
    SROW_End,
    SROW_Play,
    SROW_Count,
};
} // namespace

const SPropDesc* STexNode_SpriteSheet::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", DEFAULT_SIDE, 1, MAX_SIDE),
        PropInt("Height", DEFAULT_SIDE, 1, MAX_SIDE),
        PropInt("KeepAspect", 1, 0, 1),
        PropInt("FrameCount", DEFAULT_FRAMES, 1, MAX_FRAMES),
        PropVec2("Time", mVec2(0.0f, 1.0f), mVec2(0.0f, 0.0f), mVec2(1.0f, 1.0f)),
        PropInt("Play", 0, 0, 1),
        PropInt("Loop", 1, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_SpriteSheet)

STexNode_SpriteSheet::STexNode_SpriteSheet(TArray<SPropDesc>& list) : STexProcNode(list), Stale(1), PlayPos(0.0f)
{
    Title = SPRITE_TITLE;
    InParams.Add(new NodePin(PIN_INPUT, this, 0));
    FNodeParams params(list);
    Width = params.IntClamped(P_Width, DEFAULT_SIDE);
    Height = params.IntClamped(P_Height, DEFAULT_SIDE);
    KeepAspect = params.IntClamped(P_KeepAspect, 1);
    FrameCount = params.IntClamped(P_FrameCount, DEFAULT_FRAMES);
    Time = params.Vec2(P_Time);
    Play = params.IntClamped(P_Play, 0);
    Loop = params.IntClamped(P_Loop, 1);
}

void STexNode_SpriteSheet::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
    params.SetInt(P_KeepAspect, KeepAspect);
    params.SetInt(P_FrameCount, FrameCount);
    params.SetVec2(P_Time, Time);
    params.SetInt(P_Play, Play);
    params.SetInt(P_Loop, Loop);
}

int STexNode_SpriteSheet::Process()
{
    if (Stale)
        return 1;
    Stale = 1;
    WidgetStates.Clear();
    return 1;
}

int STexNode_SpriteSheet::RenderSpriteFrames()
{
    if (InParams.IsEmpty() || InParams[0]->Links.IsEmpty())
    {
        SetStatus(NS_NoInput);
        return 0;
    }
    // The feeders are re-created at each frame's time: only the link is held across frames, and
    // the first frame is processed before its texture gives the sheet's size.
    auto animate = [this](s32 k) {
        if (!Owner)
            return;
        Owner->AnimateAt(this, SpriteFrameTime(Time, FrameCount, k));
        Owner->ProcessUpdateList();
    };
    animate(0);
    TextureRef first = InputTexture(0);
    if (!NodeTextureUsable(first))
    {
        SetStatus(NS_NullTexture);
        return 0;
    }
    u32 w = 0, h = 0;
    SpriteSheetSize(first->Width, first->Height, Width, Height, w, h);
    first.Release();
    const u32 n = SpriteGridSide(FrameCount);
    if (!CreateOutputTarget(w, h, TEXFMT_RGBA8))
        return 0;
    FrameBufferRef fb;
    if (!BeginOutputPass(fb))
        return 0;
    PopFrameBuffer(fb);
    TArray<TString> none;
    const float cell = 2.0f / (float)n;
    s32 k = 0;
    for (u32 row = 0; row < n && k < FrameCount; ++row)
        for (u32 col = 0; col < n && k < FrameCount; ++col, ++k)
        {
            if (k > 0)
                animate(k);
            // A frame whose feeder failed leaves its cell clear.
            if (!NodeTextureUsable(InputTexture(0)))
                continue;
            PushFrameBuffer(fb);
            const bool scissor = R_GetScissorEnabled();
            R_SetScissorEnabled(false);
            BindInputTextures(PROG_FULL, none);
            // Row 0 is the first row of the image; the upper edge carries texture row 0 so that
            // each cell is an upright copy.
            const float x0 = (float)col * cell - 1.0f, y0 = (float)row * cell - 1.0f;
            DrawFullscreenQuad(x0, x0 + cell, y0 + cell, y0, 0);
            R_SetScissorEnabled(scissor);
            PopFrameBuffer(fb);
        }
    fb.Release();
    Stale = 0;
    return 1;
}

int STexNode_SpriteSheet::SaveSheet(const char* path)
{
    // An out-of-date or never rendered sheet is rendered first; when that fails the save reports
    // that nothing can be written.
    if (Stale || !NodeTextureUsable(Output))
        RenderSpriteFrames();
    return NodeSaveTextureReported(this, path);
}

float STexNode_SpriteSheet::PropertyPanel(const mRect& r)
{
    mRect rows = r;
    if (Stale)
    {
        const mRect update = NodeRow(r, 0);
        if (Button(NodeRowId(r, update), update, SPRITE_UPDATE))
        {
            RenderSpriteFrames();
            WidgetStates.Clear();
            return NODE_PANEL_ROW_HEIGHT;
        }
        rows.y0 += NODE_PANEL_ROW_HEIGHT;
    }
    const mRect save = NodeRow(rows, SROW_Save);
    if (Button(NodeRowId(r, save), save, SPRITE_SAVE))
    {
        TString chosen;
        if (GNodeFileDialog && GNodeFileDialog(SAVE_DIALOG_FOLDER, FILE_NODE_FILTER, chosen, 1))
            SaveSheet(chosen.Str());
    }
    NodeIntRow(*this, rows, SROW_Width, "Max. width", Width, 1, MAX_SIDE);
    NodeIntRow(*this, rows, SROW_Height, "Max. height", Height, 1, MAX_SIDE);
    NodeCheckRow(*this, rows, SROW_Keep, "Keep aspect", KeepAspect);
    NodeIntRow(*this, rows, SROW_Frames, "Frames", FrameCount, 1, MAX_FRAMES);
    NodeFloatRow(*this, rows, SROW_Begin, "Begin", Time.x, 0.0f, 1.0f, NO_SNAP);
    NodeFloatRow(*this, rows, SROW_End, "End", Time.y, 0.0f, 1.0f, NO_SNAP);
    if (NodeTogglePair(*this, rows, SROW_Play, "Play", Play, "Loop", Loop) == 1)
        PlayPos = 0.0f;

    // Playback preview: a square as wide as the panel under the rows.
    if (Loop)
        PlayPos = std::fmod(PlayPos, 1.0f);
    else
        PlayPos = PlayPos < 0.0f ? 0.0f : (PlayPos > 1.0f ? 1.0f : PlayPos);
    const s32 k = (s32)(PlayPos * (float)FrameCount * PLAY_LAST_FRAME);
    if (Play)
        PlayPos += PLAY_STEP;
    const u32 n = SpriteGridSide(FrameCount);
    const float side = r.x1 - r.x0;
    const float top = rows.y0 + NODE_PANEL_ROW_HEIGHT * SROW_Count;
    if (NodeTextureUsable(Output))
    {
        const float col = (float)((u32)k % n), row = (float)((u32)k / n), inv = 1.0f / (float)n;
        mRect s;
        TransformRect(s, mRect{r.x0, top, r.x1, top + side});
        DrawTexturedRect(s, mRect{col * inv, row * inv, (col + 1.0f) * inv, (row + 1.0f) * inv},
                         mVec4(1, 1, 1, 1), Output);
    }
    return NodeFinishPanel(*this, r, top + side - r.y0);
}

// ---------------------------------------------------------------------------------------------
// Blend

namespace
{
enum
{
    BROW_Mode = 0,
    BROW_Opacity,
    BROW_Clamps,
    BROW_Count,
};
} // namespace

const SPropDesc* STexNode_Blend::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("BlendMode", 0, 0, (s32)BLEND_MODE_COUNT - 1),
        PropFloat("BlendAmt", 1.0f, 0.0f, 1.0f),
        PropInt("BClamp", 1, 0, 1),
        PropInt("OClamp", 0, 0, 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Blend)

STexNode_Blend::STexNode_Blend(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Blend";
    InParams.Add(new NodePin(PIN_INPUT1, this, 0));
    InParams.Add(new NodePin(PIN_INPUT2, this, 1));
    OutParams.Add(new NodePin(PIN_OUTPUT, this, 0));
    FNodeParams params(list);
    // A mode past the list is kept as the document holds it: processing refuses it by name.
    BlendMode = params.Int(P_BlendMode, 0);
    BlendAmt = params.FloatClamped(P_BlendAmt, 1.0f);
    BClamp = params.IntClamped(P_BClamp, 1);
    OClamp = params.IntClamped(P_OClamp, 0);
}

void STexNode_Blend::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_BlendMode, BlendMode);
    params.SetFloat(P_BlendAmt, BlendAmt);
    params.SetInt(P_BClamp, BClamp);
    params.SetInt(P_OClamp, OClamp);
}

int STexNode_Blend::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    // A section title has no program, nor has a mode past the list: a document can name either,
    // the menu never offers one.
    const char* program = BlendModeProgram(BlendMode);
    if (!program)
    {
        SetStatus(BLEND_INVALID_MODE);
        return 0;
    }
    const u32 w = in[0]->Width > in[1]->Width ? in[0]->Width : in[1]->Width;
    const u32 h = in[0]->Height > in[1]->Height ? in[0]->Height : in[1]->Height;
    TArray<TString> defines;
    defines.Add(TString(BClamp ? DEF_BCLAMP_ON : DEF_BCLAMP_OFF));
    defines.Add(TString(OClamp ? DEF_OCLAMP_ON : DEF_OCLAMP_OFF));
    const float opacity = BlendAmt;
    return NodeSinglePass(*this, w, h, OClamp ? TEXFMT_RGBA8 : TEXFMT_RGBA32F, program, defines,
                          [opacity](SShader* sp) { SetUniformFloat(sp, "Opacity", opacity); });
}

float STexNode_Blend::PropertyPanel(const mRect& r)
{
    NodeEnumButton(*this, r, NodeRow(r, BROW_Mode), BlendMode, BLEND_MODE_TEXTS, BLEND_MODE_COUNT);
    NodeFloatRow(*this, r, BROW_Opacity, "Opacity", BlendAmt, 0.0f, 1.0f, NO_SNAP);
    NodeTogglePair(*this, r, BROW_Clamps, "Clamp val.", BClamp, "Clamp out.", OClamp);
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * BROW_Count);
}

// ---------------------------------------------------------------------------------------------
// Transform

namespace
{
enum
{
    TROW_OffX = 0,
    TROW_OffY,
    TROW_Rot,
    TROW_ZoomX,
    TROW_ZoomY,
    TROW_Uniform,
    TROW_Flip,
    TROW_Snap,
    TROW_Count,
};
} // namespace

const SPropDesc* STexNode_Transform::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropVec2("Off", mVec2(0.0f, 0.0f), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropFloat("Rot", 0.0f, -FULL_FLOAT, FULL_FLOAT),
        PropVec2("Zoom", mVec2(1.0f, 1.0f), mVec2(-FULL_FLOAT, -FULL_FLOAT), mVec2(FULL_FLOAT, FULL_FLOAT)),
        PropInt("Uniform", 1, 0, 1),
        PropInt("FlipX", 0, 0, 1),
        PropInt("FlipY", 0, 0, 1),
        PropFloat("SnapDiv", 0.0f, -FULL_FLOAT, FULL_FLOAT),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Transform)

STexNode_Transform::STexNode_Transform(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Transform";
    InParams.Add(new NodePin(PIN_TEXTURE, this, 0));
    OutParams.Add(new NodePin(PIN_TEXTURE, this, 0));
    FNodeParams params(list);
    Off = params.Vec2(P_Off);
    Rot = params.FloatClamped(P_Rot, 0.0f);
    Zoom = params.Vec2(P_Zoom);
    Uniform = params.IntClamped(P_Uniform, 1);
    FlipX = params.IntClamped(P_FlipX, 0);
    FlipY = params.IntClamped(P_FlipY, 0);
    SnapDiv = params.FloatClamped(P_SnapDiv, 0.0f);
}

void STexNode_Transform::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetVec2(P_Off, Off);
    params.SetFloat(P_Rot, Rot);
    params.SetVec2(P_Zoom, Zoom);
    params.SetInt(P_Uniform, Uniform);
    params.SetInt(P_FlipX, FlipX);
    params.SetInt(P_FlipY, FlipY);
    params.SetFloat(P_SnapDiv, SnapDiv);
}

int STexNode_Transform::Process()
{
    TArray<TextureRef> in;
    if (!NodeGatherInputs(*this, in))
        return 0;
    const float off[2] = {Off.x, Off.y};
    const float zoom[2] = {Zoom.x, Uniform ? Zoom.x : Zoom.y};
    const float rot = Rot * DEGREES_TO_RADIANS;
    const int flipX = FlipX, flipY = FlipY;
    TArray<TString> none;
    return NodeSinglePass(*this, in[0]->Width, in[0]->Height, in[0]->Format, PROG_TRANSFORM, none,
                          [&](SShader* sp) {
                              SetUniformVec2(sp, "Off", off);
                              SetUniformFloat(sp, "Rot", rot);
                              SetUniformVec2(sp, "Zoom", zoom);
                              SetUniformInt(sp, "FlipX", flipX);
                              SetUniformInt(sp, "FlipY", flipY);
                          });
}

float STexNode_Transform::PropertyPanel(const mRect& r)
{
    const float snap = NodeSnapDivisor(SnapDiv);
    NodeFloatRow(*this, r, TROW_OffX, "Off. X", Off.x, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, TROW_OffY, "Off. Y", Off.y, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, TROW_Rot, "Rotation", Rot, 0.0f, ROTATION_FIELD_MAX, snap);
    NodeFloatRow(*this, r, TROW_ZoomX, "Zoom X", Zoom.x, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeFloatRow(*this, r, TROW_ZoomY, "Zoom Y", Zoom.y, -FULL_FLOAT, FULL_FLOAT, snap);
    NodeCheckRow(*this, r, TROW_Uniform, "Uniform zoom", Uniform);
    NodeTogglePair(*this, r, TROW_Flip, "Flip X", FlipX, "Flip Y", FlipY);
    NodeFloatRow(*this, r, TROW_Snap, "Snap div.", SnapDiv, 0.0f, SNAP_DIV_MAX, SNAP_DIV_SNAP);
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * TROW_Count);
}

// ---------------------------------------------------------------------------------------------
// Resize

const SPropDesc* STexNode_Resize::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", DEFAULT_SIDE, 1, MAX_SIDE),
        PropInt("Height", DEFAULT_SIDE, 1, MAX_SIDE),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Resize)

STexNode_Resize::STexNode_Resize(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Resize";
    InParams.Add(new NodePin(PIN_TEXTURE, this, 0));
    InParams.Add(new NodePin(PIN_SIZE_SAMPLE, this, 1));
    OutParams.Add(new NodePin(PIN_OUTPUT, this, 0));
    FNodeParams params(list);
    Width = params.IntClamped(P_Width, DEFAULT_SIDE);
    Height = params.IntClamped(P_Height, DEFAULT_SIDE);
}

void STexNode_Resize::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
}

int STexNode_Resize::Process()
{
    TextureRef in;
    if (!RequiredFirstInput(*this, in))
        return 0;
    u32 w = 0, h = 0;
    SampledSize(*this, Width, Height, w, h);
    TArray<TString> none;
    return NodeSinglePass(*this, w, h, in->Format, PROG_FULL, none, nullptr);
}

float STexNode_Resize::PropertyPanel(const mRect& r)
{
    NodeIntRow(*this, r, 0, "Width", Width, 1, MAX_SIDE);
    NodeIntRow(*this, r, 1, "Height", Height, 1, MAX_SIDE);
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * 2);
}

// ---------------------------------------------------------------------------------------------
// Reshape

namespace
{
enum
{
    RROW_Width = 0,
    RROW_Height,
    RROW_XOff,
    RROW_YOff,
    RROW_Mode,
    RROW_Count,
};
} // namespace

const SPropDesc* STexNode_Reshape::Props()
{
    static const SPropDesc table[] = {
        PropInherit("STexProcNode", STexProcNode::PropTable()),
        PropInt("Width", DEFAULT_SIDE, 1, MAX_SIDE),
        PropInt("Height", DEFAULT_SIDE, 1, MAX_SIDE),
        PropInt("XOff", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("YOff", 0, FULL_INT_MIN, FULL_INT_MAX),
        PropInt("OffMode", RSM_Clear, 0, RSM_Count - 1),
        PropNull(),
    };
    return table;
}

TEX_NODE_CLASS(STexNode_Reshape)

STexNode_Reshape::STexNode_Reshape(TArray<SPropDesc>& list) : STexProcNode(list)
{
    Title = "Reshape";
    InParams.Add(new NodePin(PIN_TEXTURE, this, 0));
    InParams.Add(new NodePin(PIN_SIZE_SAMPLE, this, 1));
    OutParams.Add(new NodePin(PIN_OUTPUT, this, 0));
    FNodeParams params(list);
    Width = params.IntClamped(P_Width, DEFAULT_SIDE);
    Height = params.IntClamped(P_Height, DEFAULT_SIDE);
    XOff = params.IntClamped(P_XOff, 0);
    YOff = params.IntClamped(P_YOff, 0);
    OffMode = params.IntClamped(P_OffMode, RSM_Clear);
}

void STexNode_Reshape::StoreParams(TArray<SPropDesc>& list)
{
    FNodeParams params(list);
    NodeStoreBase(*this, params);
    params.SetInt(P_Width, Width);
    params.SetInt(P_Height, Height);
    params.SetInt(P_XOff, XOff);
    params.SetInt(P_YOff, YOff);
    params.SetInt(P_OffMode, OffMode);
}

int STexNode_Reshape::Process()
{
    TextureRef in;
    if (!RequiredFirstInput(*this, in))
        return 0;
    if (!NodeEnumInRange(*this, "OffMode", OffMode, RSM_Count))
        return 0;
    u32 w = 0, h = 0;
    SampledSize(*this, Width, Height, w, h);
    const int data[RESHAPE_DATA_COUNT] = {(int)w, (int)h, ReshapeReducedOffset(XOff, OffMode, in->Width, w),
                                          ReshapeReducedOffset(YOff, OffMode, in->Height, h), OffMode};
    const float inSize[2] = {(float)in->Width, (float)in->Height};
    TArray<TString> none;
    return NodeSinglePass(*this, w, h, in->Format, PROG_RESHAPE, none, [&](SShader* sp) {
        SetUniformIntArray(sp, "Data", data, (int)RESHAPE_DATA_COUNT);
        SetUniformVec2(sp, "InputSize", inSize);
    });
}

float STexNode_Reshape::PropertyPanel(const mRect& r)
{
    NodeIntRow(*this, r, RROW_Width, "Width", Width, 1, MAX_SIDE);
    NodeIntRow(*this, r, RROW_Height, "Height", Height, 1, MAX_SIDE);
    NodeIntRow(*this, r, RROW_XOff, "XOff", XOff, FULL_INT_MIN, FULL_INT_MAX);
    NodeIntRow(*this, r, RROW_YOff, "YOff", YOff, FULL_INT_MIN, FULL_INT_MAX);
    GuiLabel("OOR mode", NODE_LABEL_COLOR, 0, NodeRowLabel(r, RROW_Mode));
    NodeEnumButton(*this, r, NodeRowField(r, RROW_Mode), OffMode, RESHAPE_MODE_TEXTS, RSM_Count);
    return NodeFinishPanel(*this, r, NODE_PANEL_ROW_HEIGHT * RROW_Count);
}
