// The textured GUI element and its immediate-mode widgets: each frame the owner calls a widget
// with an id, a rectangle and the value it edits; the widget draws, handles the mouse and the
// keyboard and says whether the value changed. What survives between frames lives in the
// layer's widget states.
#pragma once

#include "GUILayer.h"

// The button images, loaded on first use.
extern const char* const GUI_BUTTON_IMAGES[3];
static const u32 GUI_BUTTON_IMAGE_FLAGS = TEXF_RGBA8 | TEXF_NotStreamed | TEXF_NoMipmaps;

// Characters of a number as the fields show it: "%f" of the largest float needs 47.
static const u32 GUI_NUMBER_TEXT_SIZE = 64;
// Characters of the number the editing starts with ("%g" or "%d").
static const u32 GUI_NUMBER_EDIT_LIMIT = 32;

class SInterface : public SGUILayer
{
public:
    enum
    {
        IMG_Normal = 0,
        IMG_Hovered = 1,
        IMG_Held = 2,
    };
    TextureRef ButtonImages[3];
    u32 ButtonImagesTried;

    SInterface();

    void DrawButton(const mRect& r, const char* text, u32 hovered, u32 held, TextureRef* tex, u32 fit) override;
    void DrawCheckBox(const mRect& r, u32 hovered, u32 held, u32 checked) override;

    // Widget rectangles are in the layer's units (canvas units for a node); text sizes follow
    // TransformScale.
    void GuiLabel(const char* text, u32 rgba, u32 flags, const mRect& r);
    int Button(u32 id, const mRect& r, const char* label, TextureRef* tex = nullptr, u32 fit = FIT_Stretch);
    int CheckBox(u32 id, const mRect& r, int* value);
    int GuiToggle(u32 id, const mRect& r, const char* label, int* value);
    int TextField(u32 id, const mRect& r, TString* text, u32 maxLength);
    int GuiFloatField(u32 id, const mRect& r, float* value, float minValue, float maxValue, float snap);
    int GuiIntField(u32 id, const mRect& r, int* value, int minValue, int maxValue);

private:
    // The look and input of both number fields; the drag value is written back through commit.
    int NumberField(u32 id, const mRect& r, double current, bool integer, float minValue, float maxValue,
                    double& result);
    void UseUIFont();
};

// Snaps to 1/snap steps (halves to even) when snap > 0, then clamps.
float GUI_SnapClamp(float value, float snap, float minValue, float maxValue);
// Rounds to an integer (halves to even), saturating at the int range, then clamps.
int GUI_RoundClampInt(double value, int minValue, int maxValue);
