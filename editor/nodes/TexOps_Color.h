// The Color family: single-pass nodes that change an image's colours, mix the channels of two
// images, apply a per-pixel matrix given as images or look colours up in a table image. Its menu
// class is STNColorMenu.
#pragma once

#include "TexNodeClass.h"

// The conversions of the quick-convert node; the entries QUICK_CONVERT_SEPARATORS are menu
// separators, not conversions.
static const u32 QUICK_CONVERT_MODE_COUNT = 14;
extern const char* const QUICK_CONVERT_MODES[QUICK_CONVERT_MODE_COUNT];
// The channels a colour lookup reads its coordinates from.
static const u32 LUT_CHANNEL_COUNT = 4;
extern const char* const LUT_CHANNELS[LUT_CHANNEL_COUNT];
// What an enumeration button shows for a stored value outside its list.
extern const char* const COLOR_ENUM_UNKNOWN;

// Whether a quick-convert mode names a conversion (inside the list and not a separator).
bool QuickConvertModeValid(s32 mode);
// The text an enumeration button shows for value: its entry, or COLOR_ENUM_UNKNOWN outside the list.
const char* ColorEnumText(const char* const* texts, u32 count, s32 value);

// The four channel switches of Invert, BrCon and Posterize, in the order red, green, blue, alpha.
struct SColorMask
{
    s32 Red, Green, Blue, Alpha;
};

class STexNode_Invert : public STexProcNode
{
public:
    enum
    {
        P_Red = 1,
        P_Green,
        P_Blue,
        P_Alpha,
    };
    SColorMask Mask;

    explicit STexNode_Invert(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Desaturate : public STexProcNode
{
public:
    explicit STexNode_Desaturate(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_BrCon : public STexProcNode
{
public:
    enum
    {
        P_BrOff = 1,
        P_ConQ,
        P_Red,
        P_Green,
        P_Blue,
        P_Alpha,
    };
    // The switches come first in the object, the floats after them; table and document keep
    // the floats first.
    SColorMask Mask;
    float BrOff;
    float ConQ;

    explicit STexNode_BrCon(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_SoftContrast : public STexProcNode
{
public:
    enum
    {
        P_Center = 1,
        P_Range,
        P_Amount,
        P_SnapDiv,
    };
    float Center;
    float Range;
    float Amount;
    float SnapDiv; // only the snap divisor of the other three fields in the panel

    explicit STexNode_SoftContrast(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_Posterize : public STexProcNode
{
public:
    enum
    {
        P_RoundDiv = 1,
        P_Red,
        P_Green,
        P_Blue,
        P_Alpha,
    };
    float RoundDiv;
    SColorMask Mask;

    explicit STexNode_Posterize(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_QuickConvert : public STexProcNode
{
public:
    enum
    {
        P_Mode = 1,
    };
    s32 Mode; // kept as stored, even when it names no conversion

    explicit STexNode_QuickConvert(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_ChanBlend : public STexProcNode
{
public:
    enum
    {
        P_BlendAmt = 1,
    };
    mVec4 BlendAmt;

    explicit STexNode_ChanBlend(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_ColorMatrix : public STexProcNode
{
public:
    explicit STexNode_ColorMatrix(TArray<SPropDesc>& list);
    int Process() override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

class STexNode_ColorLUT2D : public STexProcNode
{
public:
    enum
    {
        P_XChan = 1,
        P_YChan,
    };
    s32 XChan; // kept as stored; outside the channel list it selects nothing
    s32 YChan;

    explicit STexNode_ColorLUT2D(TArray<SPropDesc>& list);
    int Process() override;
    float PropertyPanel(const mRect& r) override;
    void StoreParams(TArray<SPropDesc>& list) override;
    static const SPropDesc* Props();
    static SClassInfo* ClassRecord();
};

// The one-hot selector of a lookup channel: component `channel` is 1, the others 0; none outside
// the channel list.
mVec4 LUTChannelSelector(s32 channel);
