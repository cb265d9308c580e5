// Bitmap fonts: a text descriptor naming page images and per-character metrics; measuring,
// line breaking, alignment and drawing of text in batches per page.
#pragma once

#include "GMath.h"
#include "GameTexture.h"
#include "GameVertex.h"

// Text flags of SFont::DrawText.
enum
{
    TEXT_SingleLine = 1,
    TEXT_AlignRight = 2,
    TEXT_AlignBottom = 4,
    TEXT_CenterH = 8,
    TEXT_CenterV = 16,
    TEXT_BreakWords = 32, // break inside a word at the right edge
    TEXT_WordWrap = 64,
};

// Metrics are normalised at load: texture rectangle by the page size, the rest by lineHeight,
// so that a font drawn at size S has lines S pixels apart.
struct SFontGlyph
{
    float S0, T0, S1, T1;
    float XOffset, YOffset, Width, Height, XAdvance;
    u32 Page;
};

// One laid-out glyph: screen rectangle, texture rectangle and page.
struct SFontQuad
{
    float X0, Y0, X1, Y1;
    float S0, T0, S1, T1;
    u32 Page;
};

class SFont
{
public:
    TArray<TextureRef> Pages;  // indexed by page id
    TArray<TString> PageFiles; // page image paths from the descriptor
    TMap<int, SFontGlyph> Glyphs;
    TPodArray<u32> Work;            // laid-out characters of the current call, line ends marked
    TextureRef BatchTexture;        // page of the quads collected so far
    TPodArray<STfCVtx> BatchVertices;

    SFont();
    ~SFont();
    SFont(const SFont&) = delete;
    SFont& operator=(const SFont&) = delete;

    // Reads the descriptor and loads its pages. False when the file cannot be read or is not a font.
    bool Load(const char* path);
    // Glyph table and page names from descriptor text; no page is loaded. folder prefixes page files.
    bool ParseDescriptor(const TString& text, const char* folder);
    // Releases pages, glyphs and the batch.
    void Clear();

    // Text is UTF-8; characters are looked up by code point.
    const SFontGlyph* FindGlyph(u32 codePoint) const;
    // What stands for the character when drawn: its glyph, or, for a character the font lacks
    // (other than a control character), the placeholder (the font's U+FFFD, else its '?'), so
    // that nothing typed or named goes unseen.
    const SFontGlyph* ShownGlyph(u32 codePoint) const;
    float GetCharWidth(float size, u32 codePoint) const;
    // Width of the characters in text[beg, beg + count) (bytes).
    float GetTextWidth(float size, const char* text, int beg, int count) const;
    // Lays out and draws; 0, or -1 when the font has no glyphs. The caller has bound a program
    // whose texture unit 0 samples the page (the "GUI" shader).
    int DrawText(const char* text, int length, const mVec4& color, u32 flags, float x0, float y0, float x1, float y1,
                 float size);
    // The layout of DrawText as quads, without drawing. Returns the number of lines made
    // (0 when nothing is laid out), or -1 when the font has no glyphs.
    int LayoutText(const char* text, int length, u32 flags, float x0, float y0, float x1, float y1, float size,
                   TPodArray<SFontQuad>& quads);
    // Lines the text breaks into at this width and size (no limit on their number).
    int GetLineCount(const char* text, int length, u32 flags, float width, float size);

private:
    const SFontGlyph* Cache[128]; // glyphs of ids 0-127, the ones most text reaches
    const SFontGlyph* Placeholder;
    void RebuildCache();
    // Fills Work with the text broken into lines; returns the number of lines made.
    int BreakLines(const char* text, u32 n, u32 flags, float width, float size, int maxLines);
    void AddToBatch(const SFontQuad& q, const mVec4& color);
    void FlushBatch();
};

// The engine's debug font ("Data/Engine/DebugFont.fnt"), owned by the engine main.
extern SFont* GDebugFont;

// The engine's statistics overlay text, drawn with the debug font in a shadow and a white pass.
void DrawStatsOverlay(SFont* font, int frame, int fps, double now, double frameTime, double swapTime, double drawDelta,
                      int screenWidth, int screenHeight);
