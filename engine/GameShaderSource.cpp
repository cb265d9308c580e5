// Shader source format: the stage preludes, the built-in tables, storage keys and the
// "#fail" and "#set" directives. Pure text: nothing here needs GL.
#include "GameShader.h"

const char* const GShaderVertexPrelude = "#define VSHADER\n"
                                         "#define MAX_INSTANCE_COUNT 16\n"
                                         "#define MAX_BONE_COUNT 64\n"
                                         "uniform mat4 ViewMatrix;\n"
                                         "uniform mat4 ProjectionMatrix;\n"
                                         "attribute vec4 GLVertex;\n"
                                         "attribute vec3 GLNormal;\n"
                                         "attribute vec4 GLTangent;\n"
                                         "attribute vec4 GLColor;\n"
                                         "attribute vec4 GLBlendIndices;\n"
                                         "attribute vec4 GLBlendWeights;\n"
                                         "attribute vec4 GLTexCoord0;\n"
                                         "attribute vec4 GLTexCoord1;\n"
                                         "\n";
const char* const GShaderFragmentPrelude = "#define PSHADER\n\n";

const char* const GShaderAttribNames[8] = {"GLVertex",       "GLNormal",       "GLTangent",   "GLColor",
                                           "GLBlendIndices", "GLBlendWeights", "GLTexCoord0", "GLTexCoord1"};

const char* const GShaderBuiltInNames[SBI_Count] = {
    "CameraPos", "WorldMatrix", "ViewMatrix", "ProjectionMatrix", "ClipPlane", "FogColor", "FogData",
    "LightPos",  "LightDir",    "AmbientColor", "LightColor",     "LightTransDist", "SMMatrix", "SMData",
    "Tex0",      "Tex1",        "Tex2",       "Tex3",             "Tex4",      "Tex5",     "Tex6",
    "Tex7",      "Tex8",        "Tex9",       "Tex10",            "Tex11",     "Tex12",    "Tex13",
    "Tex14",     "Tex15"};
const u8 GShaderBuiltInCached[SBI_Count] = {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                            1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// ---------------------------------------------------------------------------------------------
// Source directives

static bool IsDirectiveWordChar(char c)
{
    return gIsAlnum((unsigned char)c) || c == '_';
}

// Skips blanks and tabs from 'at', then takes a word of letters, digits and '_'.
// Returns the index just after the word (never beyond the text's end).
static u32 ReadDirectiveWord(const TString& text, u32 at, TString& word)
{
    const u32 n = text.Length();
    const char* s = text.Str();
    while (at < n && (s[at] == ' ' || s[at] == '\t'))
        ++at;
    const u32 start = at;
    while (at < n && IsDirectiveWordChar(s[at]))
        ++at;
    word.Assign(s + start, at - start);
    return at;
}

// Removes the directive from its '#' through the character after 'end' (the line break), or to
// the end of the text when the directive is the last thing in it.
static void RemoveDirective(TString& text, u32 start, u32 end)
{
    u32 last = end < text.Length() ? end : text.Length() - 1;
    text.Remove(start, last);
}

static int FindFrom(const TString& text, u32 from, const char* what)
{
    if (from > text.Length())
        return -1;
    const char* hit = gStrStr(text.Str() + from, what);
    return hit ? (int)(hit - text.Str()) : -1;
}

TString ShaderStorageKey(const char* name, const TArray<TString>& defines)
{
    TString key(name);
    for (u32 i = 0; i < defines.Count(); ++i)
    {
        key += '#';
        key += defines[i];
    }
    return key;
}

bool ShaderApplyFail(TString& text, const TArray<TString>& defines)
{
    u32 pos = 0;
    for (;;)
    {
        const int at = FindFrom(text, pos, "#fail ");
        if (at < 0)
            return false;
        TString word;
        const u32 end = ReadDirectiveWord(text, (u32)at + 6, word);
        for (u32 i = 0; i < defines.Count(); ++i)
            if (defines[i] == word)
                return true;
        RemoveDirective(text, (u32)at, end);
        pos = (u32)at;
    }
}

void ShaderApplySet(TString& text, TMap<TString, TString>& settings)
{
    u32 pos = 0;
    for (;;)
    {
        const int at = FindFrom(text, pos, "#set ");
        if (at < 0)
            return;
        TString name, value;
        u32 end = ReadDirectiveWord(text, (u32)at + 5, name);
        end = ReadDirectiveWord(text, end, value);
        settings.GetOrAdd(name) = value;
        RemoveDirective(text, (u32)at, end);
        pos = (u32)at;
    }
}

TString ShaderStageSource(const TArray<TString>& defines, const char* prelude, const TString& body)
{
    TString src;
    for (u32 i = 0; i < defines.Count(); ++i)
    {
        // One line of at most 512 bytes, line break included.
        char line[512];
        gSNPrintf(line, sizeof(line) - 1, "#define %s", defines[i].Str());
        gStrCat(line, "\n");
        src += line;
    }
    src += prelude;
    src += body;
    return src;
}

TString ShaderFilePath(const char* name)
{
    TString path("Data/Shaders/");
    path += name;
    path += ".mtl";
    return path;
}

