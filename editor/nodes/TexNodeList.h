// The one ordered list of node classes and the family menus of the menu bar. Classes register in
// the order of the list (the registry, newest first, then holds them the other way round); a
// family lands as its source in this folder, its classes appended here in their place of the
// order and its menu added to the bar list.
#pragma once

#define TEX_NODE_CLASSES(X) \
    X(STexNode_File) \
    X(STexNode_Extract) \
    X(STexNode_SpriteSheet) \
    X(STexNode_Blend) \
    X(STexNode_Transform) \
    X(STexNode_Resize) \
    X(STexNode_Reshape) \
    X(STexNode_Invert) \
    X(STexNode_Desaturate) \
    X(STexNode_BrCon) \
    X(STexNode_SoftContrast) \
    X(STexNode_Posterize) \
    X(STexNode_QuickConvert) \
    X(STexNode_ChanBlend) \
    X(STexNode_ColorMatrix) \
    X(STexNode_ColorLUT2D) \
    X(STexNode_Input) \
    X(STexNode_Output) \
    X(STexNode_Param) \
    X(STexNode_Proc) \
    X(STexNode_Blur) \
    X(STexNode_VFBlur) \
    X(STexNode_AntiAlias) \
    X(STexNode_UnsharpMask) \
    X(STexNode_Distort) \
    X(STexNode_LensDistort) \
    X(STexNode_Sobel3x3) \
    X(STexNode_NSobel3x3) \
    X(STexNode_ColorRGBA) \
    X(STexNode_ColorHSVA) \
    X(STexNode_CPUNoise) \
    X(STexNode_GPUNoise) \
    X(STexNode_GPUClouds) \
    X(STexNode_LinearGradient) \
    X(STexNode_RadialGradient) \
    X(STexNode_BoxGradient) \
    X(STexNode_Grid) \
    X(STexNode_BlurKernel) \
    X(STexNode_SelRect) \
    X(STexNode_SelCompare) \
    X(STexNode_SelRange) \
    X(STexNode_RGBtoALT) \
    X(STexNode_ALTtoRGB) \
    X(STexNode_PartPos) \
    X(STexNode_PartPosTex) \
    X(STexNode_PartRender) \
    X(STexNode_AlphaPremul) \
    X(STexNode_AlphaDePremul) \
    X(STexNode_Expand) \
    X(STexNode_PackNormal) \
    X(STexNode_UnpackNormal) \
    X(STexNode_NormalizeNormal) \
    X(STexNode_Mix) \
    X(STexNode_Clamp) \
    X(STexNode_Add) \
    X(STexNode_Sub) \
    X(STexNode_Mul) \
    X(STexNode_Div) \
    X(STexNode_Mod) \
    X(STexNode_Pow) \
    X(STexNode_Min) \
    X(STexNode_Max) \
    X(STexNode_Abs)

// Family menus in menu-bar order: menu class and bar label.
#define TEX_NODE_FAMILY_MENUS(X) \
    X(STNBasicMenu, "$M_Basic$") \
    X(STNColorMenu, "$M_Color$") \
    X(STNVecToolsMenu, "$M_VecTools$") \
    X(STNSelectMenu, "$M_Selection$") \
    X(STNFilterMenu, "$M_Filters$") \
    X(STNGenMenu, "$M_Generators$") \
    X(STNUtilsMenu, "$M_Utilities$") \
    X(STNCustomMenu, "$M_Custom$")

// Classes whose processing writes image files: a batch run fails when one of them fails.
#define TEX_NODE_FILE_OUTPUT_CLASSES(X) \
    X(STexNode_Extract)
