// Bitmap fonts: descriptor loading, measuring, line breaking and batched drawing.
#include "GameFont.h"

#include <GL/glew.h>

#include "GameFileIO.h"
#include "GameMaterial.h"
#include "GUtf8.h"

SFont* GDebugFont = nullptr;

// Marks a line end in the work buffer.
static const u32 FONT_LINE_END = 0xFFFFFFFFu;
static const u32 FONT_FIRST_SHOWN = 0x20; // below: control characters, never drawn
static const u32 FONT_DELETE = 0x7F;
static const u32 FONT_PLACEHOLDER = '?'; // stands for characters the font lacks without U+FFFD

SFont::SFont() : Placeholder(nullptr)
{
    for (u32 i = 0; i < 128; ++i)
        Cache[i] = nullptr;
}

SFont::~SFont()
{
    Clear();
}

void SFont::Clear()
{
    BatchVertices.Clear();
    BatchTexture.Release();
    Pages.Clear();
    PageFiles.Clear();
    Glyphs.Clear();
    Work.Clear();
    RebuildCache();
}

void SFont::RebuildCache()
{
    for (int i = 0; i < 128; ++i)
        Cache[i] = Glyphs.FindValue(i);
    Placeholder = Glyphs.FindValue((int)UTF_REPLACEMENT);
    if (!Placeholder)
        Placeholder = Cache[FONT_PLACEHOLDER];
}

const SFontGlyph* SFont::FindGlyph(u32 codePoint) const
{
    if (codePoint < 128)
        return Cache[codePoint];
    return codePoint <= 0x7FFFFFFF ? Glyphs.FindValue((int)codePoint) : nullptr;
}

const SFontGlyph* SFont::ShownGlyph(u32 codePoint) const
{
    const SFontGlyph* g = FindGlyph(codePoint);
    if (g || codePoint < FONT_FIRST_SHOWN || codePoint == FONT_DELETE)
        return g;
    return Placeholder;
}

float SFont::GetCharWidth(float size, u32 codePoint) const
{
    const SFontGlyph* g = ShownGlyph(codePoint);
    return g ? g->XAdvance * size : 0.0f;
}

// The characters of text to lay out: at most length of them (stopping at a terminator), or
// the whole text when length is not positive.
static u32 TextLength(const char* text, int length)
{
    if (length <= 0)
        return (u32)gStrLen(text);
    u32 n = 0;
    while (n < (u32)length && text[n])
        ++n;
    return n;
}

float SFont::GetTextWidth(float size, const char* text, int beg, int count) const
{
    if (BREAK_IF(!text))
        return 0.0f;
    const int tlen = (int)gStrLen(text);
    if (BREAK_IF(beg > tlen) || beg < 0)
        return 0.0f;
    const u32 end = (u32)beg + (u32)(count < tlen - beg ? (count > 0 ? count : 0) : tlen - beg);
    float w = 0.0f;
    u32 cp;
    for (u32 i = (u32)beg; i < end;)
    {
        i += UTF_Decode(text, end, i, cp);
        const SFontGlyph* g = ShownGlyph(cp);
        if (g)
            w += g->XAdvance;
    }
    return w * size;
}

// ---------------------------------------------------------------------------------------------
// Descriptor

namespace
{
// Raw pixel values of one "char" line.
struct SRawGlyph
{
    int id, x, y, width, height, xoffset, yoffset, xadvance, page;
};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits one descriptor line into its keyword and key=value pairs (quoted values unquoted).
void SplitLine(const char* s, u32 n, TString& keyword, TArray<TString>& keys, TArray<TString>& values)
{
    u32 i = 0;
    keys.Clear();
    values.Clear();
    while (i < n && IsSpace(s[i]))
        ++i;
    u32 start = i;
    while (i < n && !IsSpace(s[i]))
        ++i;
    keyword.Assign(s + start, i - start);
    for (;;)
    {
        while (i < n && IsSpace(s[i]))
            ++i;
        if (i >= n)
            return;
        start = i;
        while (i < n && !IsSpace(s[i]) && s[i] != '=')
            ++i;
        TString key(s + start, i - start);
        TString value;
        if (i < n && s[i] == '=')
        {
            ++i;
            if (i < n && s[i] == '"')
            {
                ++i;
                start = i;
                while (i < n && s[i] != '"')
                    ++i;
                value.Assign(s + start, i - start);
                if (i < n)
                    ++i; // closing quote
            }
            else
            {
                start = i;
                while (i < n && !IsSpace(s[i]))
                    ++i;
                value.Assign(s + start, i - start);
            }
        }
        keys.Add(key);
        values.Add(value);
    }
}

int ValueOf(const TArray<TString>& keys, const TArray<TString>& values, const char* key, int fallback)
{
    for (u32 i = 0; i < keys.Count(); ++i)
        if (keys[i] == key)
            return StrToInt(values[i].Str());
    return fallback;
}

const TString* TextOf(const TArray<TString>& keys, const TArray<TString>& values, const char* key)
{
    for (u32 i = 0; i < keys.Count(); ++i)
        if (keys[i] == key)
            return &values[i];
    return nullptr;
}
} // namespace

bool SFont::ParseDescriptor(const TString& text, const char* folder)
{
    Clear();
    int lineHeight = 0, scaleW = 0, scaleH = 0, pageCount = 0;
    TPodArray<SRawGlyph> raw;
    TString keyword;
    TArray<TString> keys, values;

    const char* s = text.Str();
    const u32 len = text.Length();
    u32 lineStart = 0;
    while (lineStart < len)
    {
        u32 lineEnd = lineStart;
        while (lineEnd < len && s[lineEnd] != '\n')
            ++lineEnd;
        SplitLine(s + lineStart, lineEnd - lineStart, keyword, keys, values);
        lineStart = lineEnd + 1;

        if (keyword == "common")
        {
            lineHeight = ValueOf(keys, values, "lineHeight", 0);
            ValueOf(keys, values, "base", 0); // read, not used for layout
            scaleW = ValueOf(keys, values, "scaleW", 0);
            scaleH = ValueOf(keys, values, "scaleH", 0);
            pageCount = ValueOf(keys, values, "pages", 0);
            if (pageCount < 0 || pageCount > 256)
                pageCount = 0;
            PageFiles.Resize((u32)pageCount);
        }
        else if (keyword == "page")
        {
            const int id = ValueOf(keys, values, "id", -1);
            const TString* file = TextOf(keys, values, "file");
            // A page outside the declared count is ignored, and so are its glyphs.
            if (id >= 0 && id < (int)PageFiles.Count() && file)
            {
                TString path(folder ? folder : "");
                path += *file;
                PageFiles[(u32)id] = path;
            }
        }
        else if (keyword == "char")
        {
            SRawGlyph g;
            g.id = ValueOf(keys, values, "id", 0);
            g.x = ValueOf(keys, values, "x", 0);
            g.y = ValueOf(keys, values, "y", 0);
            g.width = ValueOf(keys, values, "width", 0);
            g.height = ValueOf(keys, values, "height", 0);
            g.xoffset = ValueOf(keys, values, "xoffset", 0);
            g.yoffset = ValueOf(keys, values, "yoffset", 0);
            g.xadvance = ValueOf(keys, values, "xadvance", 0);
            g.page = ValueOf(keys, values, "page", 0);
            raw.Add(g);
        }
        // "info" and "chars" carry nothing the layout needs; "chnl" is ignored.
    }

    if (lineHeight <= 0 || scaleW <= 0 || scaleH <= 0)
    {
        PageFiles.Clear();
        return false;
    }
    const float invLine = 1.0f / (float)lineHeight;
    const float invW = 1.0f / (float)scaleW;
    const float invH = 1.0f / (float)scaleH;
    for (u32 i = 0; i < raw.Count(); ++i)
    {
        const SRawGlyph& r = raw[i];
        if (r.page < 0 || r.page >= (int)PageFiles.Count())
            continue;
        // The rectangle comes from the file: summed in 64 bits, since values near the int limits
        // would overflow, and a glyph reaching outside its page is left out rather than sampling
        // texels of nothing.
        const s64 right = (s64)r.x + r.width;
        const s64 bottom = (s64)r.y + r.height;
        if (r.x < 0 || r.y < 0 || r.width < 0 || r.height < 0 || right > scaleW || bottom > scaleH)
            continue;
        SFontGlyph g;
        g.S0 = (float)r.x * invW;
        g.T0 = (float)r.y * invH;
        g.S1 = (float)right * invW;
        g.T1 = (float)bottom * invH;
        g.XOffset = (float)r.xoffset * invLine;
        g.YOffset = (float)r.yoffset * invLine;
        g.Width = (float)r.width * invLine;
        g.Height = (float)r.height * invLine;
        g.XAdvance = (float)r.xadvance * invLine;
        g.Page = (u32)r.page;
        Glyphs.GetOrAdd(r.id) = g; // a repeated id replaces the earlier glyph
    }
    RebuildCache();
    return true;
}

bool SFont::Load(const char* path)
{
    TString text;
    if (!ReadTextFile(path, text))
        return false;
    const TString folder = ExtractFilePath(TString(path));
    if (!ParseDescriptor(text, folder.Str()))
        return false;
    Pages.Resize(PageFiles.Count());
    for (u32 i = 0; i < PageFiles.Count(); ++i)
        if (!PageFiles[i].IsEmpty())
            TEX_Get(Pages[i], PageFiles[i].Str(), TEXF_RGBA8 | TEXF_NotStreamed);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Layout

int SFont::BreakLines(const char* text, u32 n, u32 flags, float width, float size, int maxLines)
{
    Work.Clear();
    Work.Reserve(n + 16);
    int lines = 1;
    float lineW = 0.0f;
    bool afterBlank = true; // the first character starts a word

    // Ends the current line; false when the line limit drops the rest of the text.
    auto newLine = [&]() -> bool {
        if (lines >= maxLines)
            return false;
        Work.Add(FONT_LINE_END);
        ++lines;
        lineW = 0.0f;
        return true;
    };

    u32 c;
    for (u32 i = 0, next; i < n; i = next)
    {
        next = i + UTF_Decode(text, n, i, c);
        if (c == '\n')
        {
            if (!newLine())
                break;
            afterBlank = true;
            continue;
        }
        const bool blank = c == ' ' || c == '\t';
        const float adv = GetCharWidth(size, c);
        if (!blank && afterBlank && (flags & TEXT_WordWrap))
        {
            float wordW = 0.0f;
            for (u32 k = i, w; k < n;)
            {
                k += UTF_Decode(text, n, k, w);
                if (w == ' ' || w == '\t' || w == '\n')
                    break;
                wordW += GetCharWidth(size, w);
            }
            if (wordW <= width && lineW + wordW > width && lineW > 0.0f)
            {
                if (!newLine())
                    break;
            }
        }
        // A character alone on its line never breaks again (that would make empty lines forever).
        if ((flags & TEXT_BreakWords) && lineW + adv > width && lineW > 0.0f)
        {
            if (!newLine())
                break;
            if (blank)
            {
                afterBlank = true;
                continue;
            }
        }
        Work.Add(c);
        lineW += adv;
        afterBlank = blank;
    }
    return lines;
}

int SFont::LayoutText(const char* text, int length, u32 flags, float x0, float y0, float x1, float y1, float size,
                      TPodArray<SFontQuad>& quads)
{
    quads.Clear();
    if (Glyphs.IsEmpty())
        return -1;
    if (!text || !(size > 0.0f))
        return 0;
    const u32 n = TextLength(text, length);

    const float W = x1 - x0;
    const float H = y1 - y0;
    int maxLines = 1;
    if (!(flags & TEXT_SingleLine))
    {
        const float fit = gFloor(H / size);
        maxLines = fit > 0.0f ? (fit < 1e6f ? (int)fit : 1000000) : 0;
        if (maxLines == 0)
        {
            if (flags & TEXT_WordWrap)
                return 0;
            maxLines = 1;
        }
    }
    const int lines = BreakLines(text, n, flags, W, size, maxLines);

    float top = y0;
    if (flags & TEXT_AlignBottom)
        top += H - (float)lines * size;
    if (flags & TEXT_CenterV)
        top += (H - (float)lines * size) * 0.5f;

    u32 at = 0;
    for (int line = 0; line < lines; ++line)
    {
        u32 end = at;
        float w = 0.0f;
        while (end < Work.Count() && Work[end] != FONT_LINE_END)
            w += GetCharWidth(size, Work[end++]);
        float pen = x0;
        if (flags & TEXT_AlignRight)
            pen += W - w;
        if (flags & TEXT_CenterH)
            pen += (W - w) * 0.5f;
        const float lineTop = top + (float)line * size;
        for (u32 k = at; k < end; ++k)
        {
            const SFontGlyph* g = ShownGlyph(Work[k]);
            if (!g)
                continue;
            if (g->Width > 0.0f && g->Height > 0.0f)
            {
                SFontQuad q;
                q.X0 = pen + g->XOffset * size;
                q.X1 = pen + (g->XOffset + g->Width) * size;
                q.Y0 = lineTop + g->YOffset * size;
                q.Y1 = lineTop + (g->YOffset + g->Height) * size;
                q.S0 = g->S0;
                q.T0 = g->T0;
                q.S1 = g->S1;
                q.T1 = g->T1;
                q.Page = g->Page;
                quads.Add(q);
            }
            pen += g->XAdvance * size;
        }
        at = end + 1; // past the line end
    }
    return lines;
}

int SFont::GetLineCount(const char* text, int length, u32 flags, float width, float size)
{
    if (!text || !(size > 0.0f))
        return 0;
    const u32 n = TextLength(text, length);
    if (flags & TEXT_SingleLine)
        return 1;
    return BreakLines(text, n, flags, width, size, 0x7FFFFFFF);
}

// ---------------------------------------------------------------------------------------------
// Drawing

void SFont::FlushBatch()
{
    if (!BatchTexture.IsNull() && BatchTexture->GLName)
    {
        TEX_Bind(0, BatchTexture);
        if (BatchVertices.Count() > 3)
            DrawTexColoredPrimitives(BatchVertices.data, BatchVertices.Count(), GL_QUADS);
    }
    // A page without a texture skips its glyphs; they never reach the next page's draw.
    BatchVertices.Resize(0);
    BatchTexture.Release();
}

void SFont::AddToBatch(const SFontQuad& q, const mVec4& c)
{
    TextureRef* page = q.Page < Pages.Count() ? &Pages[q.Page] : nullptr;
    STexture* tex = page ? page->Get() : nullptr;
    if (tex != BatchTexture.Get() || BatchVertices.IsEmpty())
    {
        FlushBatch();
        if (page)
            BatchTexture = *page;
    }
    const STfCVtx v[4] = {
        {q.X0, q.Y0, 0.0f, q.S0, q.T0, 0.0f, c.x, c.y, c.z, c.w},
        {q.X1, q.Y0, 0.0f, q.S1, q.T0, 0.0f, c.x, c.y, c.z, c.w},
        {q.X1, q.Y1, 0.0f, q.S1, q.T1, 0.0f, c.x, c.y, c.z, c.w},
        {q.X0, q.Y1, 0.0f, q.S0, q.T1, 0.0f, c.x, c.y, c.z, c.w},
    };
    for (u32 i = 0; i < 4; ++i)
        BatchVertices.Add(v[i]);
}

int SFont::DrawText(const char* text, int length, const mVec4& color, u32 flags, float x0, float y0, float x1,
                    float y1, float size)
{
    TPodArray<SFontQuad> quads;
    const int lines = LayoutText(text, length, flags, x0, y0, x1, y1, size, quads);
    if (lines < 0)
        return -1;
    for (u32 i = 0; i < quads.Count(); ++i)
        AddToBatch(quads[i], color);
    FlushBatch();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Statistics overlay

void DrawStatsOverlay(SFont* font, int frame, int fps, double now, double frameTime, double swapTime, double drawDelta,
                      int screenWidth, int screenHeight)
{
    if (!font)
        return;
    char text[768];
    gSNPrintf(text, sizeof(text), "Frame %d\nAlt: %d\nFPS: %d\nTime: %g\nFrameTime: %g\nSwapTime: %g\nDrawDelta: %g",
              frame, frame % 2, fps, now, frameTime, swapTime, drawDelta);
    font->DrawText(text, 0, mVec4(0.0f, 0.0f, 0.0f, 1.0f), 0, 1.0f, 1.0f, (float)screenWidth, (float)screenHeight, 14.0f);
    font->DrawText(text, 0, mVec4(1.0f, 1.0f, 1.0f, 1.0f), 0, 0.0f, 0.0f, (float)screenWidth, (float)screenHeight, 14.0f);
}
