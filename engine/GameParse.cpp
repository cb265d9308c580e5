#include "GameParse.h"
#include "GameFileIO.h"

#include <float.h>
#include <stdlib.h>
#include <strings.h>

bool GParseError = false;

// ---------------------------------------------------------------------------------------------
// Text readers

bool IsWordChar(char c)
{
    return gIsAlnum((unsigned char)c) || c == '_';
}

bool IsTokenChar(char c)
{
    return c != ' ' && gIsPrint((unsigned char)c);
}

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsIntChar(char c)
{
    return gIsDigit((unsigned char)c) || c == '-';
}

static bool IsFloatBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool ParseFailed()
{
    return GParseError;
}

// A cursor outside its text is a caller's mistake; the readers then read nothing.
static bool CursorInText(const TString& text, s32 pos)
{
    return !BREAK_IF(pos < 0 || (u32)pos > text.Length());
}

static void SkipWhile(const TString& text, s32& pos, TCharPred pred)
{
    if (!pred)
        return;
    while ((u32)pos < text.Length() && pred(text.Str()[pos]))
        ++pos;
}

bool ParseToken(const TString& text, s32& pos, TString& out, TCharPred tokenPred, TCharPred skipPred)
{
    GParseError = false;
    out = "";
    if (!CursorInText(text, pos) || !tokenPred)
    {
        GParseError = true;
        return false;
    }
    SkipWhile(text, pos, skipPred);
    s32 start = pos;
    SkipWhile(text, pos, tokenPred);
    if (pos == start)
    {
        GParseError = true;
        return false;
    }
    out.Assign(text.Str() + start, (u32)(pos - start));
    return true;
}

static bool IsDigitAt(const TString& text, s32 i)
{
    return (u32)i < text.Length() && gIsDigit((unsigned char)text.Str()[i]);
}

s32 ParseInt(const TString& text, s32& pos)
{
    GParseError = false;
    if (!CursorInText(text, pos))
    {
        GParseError = true;
        return INT32_MAX;
    }
    SkipWhile(text, pos, IsBlank);
    s32 at = pos;
    if ((u32)at < text.Length() && text.Str()[at] == '-')
        ++at;
    if (!IsDigitAt(text, at))
    {
        GParseError = true;
        return INT32_MAX;
    }
    while (IsDigitAt(text, at))
        ++at;
    TString token(text.Str() + pos, (u32)(at - pos));
    pos = at;
    return StrToInt(token.Str());
}

float ParseFloat(const TString& text, s32& pos)
{
    const float failed = 3.4028235e38f;
    GParseError = false;
    if (!CursorInText(text, pos))
    {
        GParseError = true;
        return failed;
    }
    SkipWhile(text, pos, IsFloatBlank);
    s32 at = pos;
    if ((u32)at < text.Length() && text.Str()[at] == '-')
        ++at;
    // Older saves wrote overflowed components as "inf" and undefined ones as "nan": the number
    // reader makes the end of the range and 0 of them, so that the other components are kept.
    if (text.Length() - (u32)at >= 3 &&
        (strncasecmp(text.Str() + at, "inf", 3) == 0 || strncasecmp(text.Str() + at, "nan", 3) == 0))
    {
        const s32 word = at;
        pos = at + 3;
        return StrToFloat(text.Str() + (word > 0 && text.Str()[word - 1] == '-' ? word - 1 : word));
    }
    bool digits = false;
    while (IsDigitAt(text, at))
    {
        ++at;
        digits = true;
    }
    if ((u32)at < text.Length() && (text.Str()[at] == '.' || text.Str()[at] == ','))
    {
        ++at;
        while (IsDigitAt(text, at))
        {
            ++at;
            digits = true;
        }
    }
    if (!digits)
    {
        GParseError = true;
        return failed;
    }
    // An exponent only when digits follow ("1.5e+06" and "1.5e+006" alike).
    if ((u32)at < text.Length() && (text.Str()[at] == 'e' || text.Str()[at] == 'E'))
    {
        s32 e = at + 1;
        if ((u32)e < text.Length() && (text.Str()[e] == '+' || text.Str()[e] == '-'))
            ++e;
        if (IsDigitAt(text, e))
        {
            while (IsDigitAt(text, e))
                ++e;
            at = e;
        }
    }
    TString token(text.Str() + pos, (u32)(at - pos));
    pos = at;
    return StrToFloat(token.Str());
}

static bool ParseVecN(const TString& text, s32& pos, float* out, int n)
{
    for (int i = 0; i < n; ++i)
    {
        bool ok = i == 0 || ParseExpectChar(text, pos, ';');
        if (ok)
        {
            out[i] = ParseFloat(text, pos);
            ok = !GParseError;
        }
        if (!ok)
        {
            for (int k = 0; k < n; ++k)
                out[k] = 0.0f;
            GParseError = true;
            return false;
        }
    }
    return true;
}

bool ParseVec2(const TString& text, s32& pos, float* out)
{
    return ParseVecN(text, pos, out, 2);
}

bool ParseVec3(const TString& text, s32& pos, float* out)
{
    return ParseVecN(text, pos, out, 3);
}

bool ParseVec4(const TString& text, s32& pos, float* out)
{
    return ParseVecN(text, pos, out, 4);
}

bool ParseVec2(const TString& text, s32& pos, mVec2& out)
{
    float v[2];
    bool ok = ParseVecN(text, pos, v, 2);
    out.Set(v[0], v[1]);
    return ok;
}

bool ParseVec3(const TString& text, s32& pos, mVec3& out)
{
    float v[3];
    bool ok = ParseVecN(text, pos, v, 3);
    out.Set(v[0], v[1], v[2]);
    return ok;
}

bool ParseVec4(const TString& text, s32& pos, mVec4& out)
{
    float v[4];
    bool ok = ParseVecN(text, pos, v, 4);
    out = mVec4(v[0], v[1], v[2], v[3]);
    return ok;
}

TString ParseQuotedString(const TString& text, s32& pos)
{
    GParseError = false;
    if (!CursorInText(text, pos))
    {
        GParseError = true;
        return TString();
    }
    u32 n = text.Length();
    u32 quote = (u32)pos;
    while (quote < n && text.Str()[quote] != '"')
        ++quote;
    // A backslash escapes the character after it, so a quote ends the text only after an
    // even number of backslashes.
    u32 i = quote + 1;
    while (i < n && text.Str()[i] != '"')
        i += text.Str()[i] == '\\' ? 2 : 1;
    if (quote >= n || i >= n)
    {
        pos = (s32)n;
        GParseError = true;
        return TString();
    }
    pos = (s32)(i + 1);
    return TString(text.Str() + quote + 1, i - quote - 1);
}

bool ParseExpectChar(const TString& text, s32& pos, char c)
{
    GParseError = false;
    if (!CursorInText(text, pos) || (u32)pos >= text.Length() || text.Str()[pos] != c)
    {
        GParseError = true;
        return false;
    }
    ++pos;
    return true;
}

bool ParseSkipLine(const TString& text, s32& pos)
{
    GParseError = false;
    if (!CursorInText(text, pos))
    {
        GParseError = true;
        return false;
    }
    while ((u32)pos < text.Length())
        if (text.Str()[pos++] == '\n')
            return true;
    GParseError = true;
    return false;
}

bool ParsePrevLine(const TString& text, s32& pos)
{
    GParseError = false;
    if (!CursorInText(text, pos))
    {
        GParseError = true;
        return false;
    }
    // The cursor ends on the previous line feed, that is just before it.
    while (pos > 0)
        if (text.Str()[--pos] == '\n')
            return true;
    GParseError = true;
    return false;
}

bool ParseSkipWhile(const TString& text, s32& pos, TCharPred pred)
{
    GParseError = false;
    if (!CursorInText(text, pos))
        return true;
    SkipWhile(text, pos, pred);
    return true;
}

// ---------------------------------------------------------------------------------------------
// "#include" expansion

// Deeper nesting than this is taken for a cycle that the name check could not see.
static const int MAX_INCLUDE_DEPTH = 32;
// Files that include each other many times over (a diamond repeated at each level) multiply
// without a cycle: the whole expansion stops at this many bytes of text read.
static const u64 MAX_INCLUDE_TOTAL_BYTES = 16u << 20;

// The name that identifies a file however it was reached.
static TString CanonicalName(const char* name)
{
    TString full = MakeFullPath(name);
    char* real = realpath(full.Str(), nullptr);
    if (!real)
        return full;
    TString r(real);
    free(real);
    return r;
}

static bool ExpandIncludes(const TString& name, TString& out, TArray<TString>& openFiles, int depth,
                           u64& totalBytes)
{
    TString canonical = CanonicalName(name.Str());
    for (u32 i = 0; i < openFiles.Count(); ++i)
    {
        if (openFiles[i] == canonical)
        {
            LogPrintf("#include: \"%s\" includes itself (directly or through other files)\n", name.Str());
            return false;
        }
    }
    if (depth > MAX_INCLUDE_DEPTH)
    {
        LogPrintf("#include: nested more than %d levels deep at \"%s\"\n", MAX_INCLUDE_DEPTH, name.Str());
        return false;
    }
    if (!ReadTextFile(name.Str(), out))
        return false;
    totalBytes += out.Length();
    if (totalBytes > MAX_INCLUDE_TOTAL_BYTES)
    {
        LogPrintf("#include: expansion grows beyond %u MB at \"%s\"\n", (unsigned)(MAX_INCLUDE_TOTAL_BYTES >> 20),
                  name.Str());
        out = "";
        return false;
    }
    TString folder = ExtractFilePath(name);

    openFiles.Add(canonical);
    bool ok = true;
    s32 pos = 0;
    while (ok && (u32)pos < out.Length())
    {
        s32 lineStart = pos;
        s32 lineEnd = lineStart;
        while ((u32)lineEnd < out.Length() && out.Str()[lineEnd] != '\n')
            ++lineEnd;

        TString token;
        s32 at = lineStart;
        if (!ParseToken(out, at, token, IsTokenChar, IsBlank) || at > lineEnd || token != "#include")
        {
            pos = lineEnd < (s32)out.Length() ? lineEnd + 1 : lineEnd;
            continue;
        }
        TString included = ParseQuotedString(out, at);
        if (GParseError || at > lineEnd)
        {
            LogPrintf("#include: no quoted file name in \"%s\"\n", name.Str());
            ok = false;
            break;
        }
        TString path = !included.IsEmpty() && IsPathSeparator(included.Str()[0]) ? included : folder + included;
        TString expanded;
        if (!ExpandIncludes(path, expanded, openFiles, depth + 1, totalBytes))
        {
            ok = false;
            break;
        }
        // The directive's characters go; its line feed stays after the inserted text, which
        // is not scanned again.
        if (lineEnd > lineStart)
            out.Remove((u32)lineStart, (u32)lineEnd - 1);
        out.Insert((u32)lineStart, expanded);
        pos = lineStart + (s32)expanded.Length();
        if ((u32)pos < out.Length())
            ++pos;
    }
    openFiles.Remove(openFiles.Count() - 1);
    if (!ok)
        out = "";
    return ok;
}

bool LoadTextWithIncludes(const char* name, TString& out)
{
    TArray<TString> openFiles;
    u64 totalBytes = 0;
    return ExpandIncludes(TString(name), out, openFiles, 0, totalBytes);
}
