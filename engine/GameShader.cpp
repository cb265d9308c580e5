// Shader programs: compiling and linking, the storage of variants, hot reload and the cached
// uniform setters. The source format itself is in GameShaderSource.cpp.
#include "GameShader.h"

#include <GL/glew.h>
#include <unistd.h>

#include "GameConsole.h"
#include "GameFileIO.h"
#include "GameParse.h"

SShaderStorage* GSM = nullptr;

SShader* GCurShader = nullptr;

mMat4 GViewMatrix;
mMat4 GProjectionMatrix;
mMat4 GWorldMatrix;
mVec3 GLightColor(1.0f, 1.0f, 1.0f);
mVec3 GAmbientColor(0.0f, 0.0f, 0.0f);

// Exit codes of a declined retry.
static const int SHADER_EXIT_COMPILE = -1001;
static const int SHADER_EXIT_LINK = -1002;
static const int SHADER_EXIT_FILE = -1003;

// ---------------------------------------------------------------------------------------------
// Variants and the storage

SShader::~SShader()
{
    ReleaseProgram();
    ClearUniforms();
}

void SShader::ReleaseProgram()
{
    if (Program)
    {
        if (VertexShader)
            glDetachShader(Program, VertexShader);
        if (FragmentShader)
            glDetachShader(Program, FragmentShader);
        glDeleteProgram(Program);
    }
    if (VertexShader)
        glDeleteShader(VertexShader);
    if (FragmentShader)
        glDeleteShader(FragmentShader);
    Program = VertexShader = FragmentShader = 0;
    // The program in use may be the one just deleted.
    if (GCurShader == this)
        GCurShader = nullptr;
}

void SShader::ClearUniforms()
{
    for (TMap<TString, SShaderUniform*>::Iterator it(Uniforms); it.IsValid(); it.Next())
        delete it.Value();
    Uniforms.Clear();
    BuiltIns.Clear();
}

SShaderStorage::~SShaderStorage()
{
    for (TMap<TString, SShader*>::Iterator it(Shaders); it.IsValid(); it.Next())
        delete it.Value();
    Shaders.Clear();
}

void CreateShaderStorage()
{
    if (GSM)
        return;
    GSM = new SShaderStorage;
}

void FreeShaderStorage()
{
    delete GSM;
    GSM = nullptr;
    GCurShader = nullptr;
}

SShader* GetShader(const char* name, const TArray<TString>& defines)
{
    if (!GSM)
        FatalError("ASSERT\n\nThis test expression is false:\n\n%s", "GSM");
    return LoadShader(GSM, name, defines, 0);
}

SShader* GetShader(const char* name)
{
    TArray<TString> none;
    return GetShader(name, none);
}

// Shows a loader failure and asks whether to try again; No ends the process with exitCode.
static void AskRetryOrExit(const char* text, int exitCode)
{
    if (!gSysQuestion(text, "Shader loading error"))
        gSysFatalExit((u32)exitCode);
}

// Prints a compiler or linker log and asks whether to try again.
static void ReportGLFailure(const char* name, const TString& log, int exitCode)
{
    LogPrintf("Shader: %s\n%s\n", name, log.Str());
    TString question;
    question.Format(16384, "Failed loading shader %s\n\n%s\n\nRetry?", name, log.Str());
    AskRetryOrExit(question.Str(), exitCode);
}

static void WriteFailedSource(const TString& source)
{
    // Into the working folder, where a developer looks after a failed run.
    char cwd[4096];
    TString path;
    if (getcwd(cwd, sizeof(cwd)))
    {
        path = cwd;
        path += "/";
    }
    path += "lastFailedShader.txt";
    if (!WriteTextFile(path.Str(), source))
        LogPrintf("Could not write %s\n", path.Str());
}

// The info log of a shader or a program through the matching pair of GL calls; a failure
// that left no log is fatal with the given text.
static TString ReadInfoLog(u32 object, PFNGLGETSHADERIVPROC getParameter, PFNGLGETSHADERINFOLOGPROC getLog,
                           const char* noLogText)
{
    GLint logLength = 0;
    getParameter(object, GL_INFO_LOG_LENGTH, &logLength);
    if (logLength < 1)
        FatalError("%s", noLogText);
    TString log;
    log.SetLength((u32)logLength);
    getLog(object, logLength, nullptr, log.At(0));
    log.SetLength((u32)gStrLen(log.Str()));
    return log;
}

// Compiles one stage; 0 after a failure whose retry was accepted.
static u32 CompileStage(u32 stageType, const char* name, const TString& body, const TArray<TString>& defines)
{
    const TString source =
        ShaderStageSource(defines, stageType == GL_VERTEX_SHADER ? GShaderVertexPrelude : GShaderFragmentPrelude, body);
    const u32 shader = glCreateShader(stageType);
    const GLchar* str = source.Str();
    glShaderSource(shader, 1, &str, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok)
        return shader;

    WriteFailedSource(source);
    const TString log = ReadInfoLog(shader, glGetShaderiv, glGetShaderInfoLog,
                                    "Double Error in printShaderInfoLog: can't get error description");
    glDeleteShader(shader);

    ReportGLFailure(name, log, SHADER_EXIT_COMPILE);
    return 0;
}

// Links the two stages; 0 after a failure whose retry was accepted.
static u32 LinkProgram(const char* name, u32 vs, u32 fs)
{
    const u32 program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    for (u32 i = 0; i < 8; ++i)
        glBindAttribLocation(program, i, GShaderAttribNames[i]);
    glLinkProgram(program);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok)
        return program;

    const TString log = ReadInfoLog(program, glGetProgramiv, glGetProgramInfoLog,
                                    "Double Error in printProgramInfoLog: can't get error description");
    glDetachShader(program, vs);
    glDetachShader(program, fs);
    glDeleteProgram(program);

    ReportGLFailure(name, log, SHADER_EXIT_LINK);
    return 0;
}

SShaderUniform* GetShaderUniform(SShader* sp, const char* name)
{
    TString key(name);
    SShaderUniform** found = sp->Uniforms.FindValue(key);
    if (found)
        return *found;
    SShaderUniform* u = new SShaderUniform;
    u->Location = sp->Program ? glGetUniformLocation(sp->Program, name) : -1;
    sp->Uniforms.Insert(key, u);
    return u;
}

SShader* LoadShader(SShaderStorage* storage, const char* name, const TArray<TString>& defines, int reload)
{
    const TString key = ShaderStorageKey(name, defines);
    SShader** stored = storage->Shaders.FindValue(key);
    if (stored && !reload)
        return *stored;

    ConsolePrintf("Shader \"%s\" not found in storage... loading now.", key.Str());

    SShader* sp;
    if (reload)
    {
        if (!stored)
            FatalError("ASSERT\n\nThis test expression is false:\n\n%s", "sp");
        sp = *stored;
        sp->ReleaseProgram();
        sp->ClearUniforms();
        sp->Settings.Clear();
    }
    else
    {
        sp = new SShader;
        sp->Defines = defines;
        sp->Name = name;
    }

    bool failedVariant = false;
    while (!sp->Program)
    {
        sp->ReleaseProgram();
        const TString path = ShaderFilePath(name);
        sp->FileTime = FileModifiedTime(path.Str());

        TString text;
        while (!LoadTextWithIncludes(path.Str(), text))
        {
            char question[512];
            gSNPrintf(question, sizeof(question), "Failed loading shader %s (file load error)\nRetry?", path.Str());
            AskRetryOrExit(question, SHADER_EXIT_FILE);
            sp->FileTime = FileModifiedTime(path.Str());
        }

        if (ShaderApplyFail(text, sp->Defines))
        {
            failedVariant = true;
            break;
        }
        sp->Settings.Clear();
        ShaderApplySet(text, sp->Settings);

        sp->VertexShader = CompileStage(GL_VERTEX_SHADER, name, text, sp->Defines);
        if (!sp->VertexShader)
            continue;
        sp->FragmentShader = CompileStage(GL_FRAGMENT_SHADER, name, text, sp->Defines);
        if (!sp->FragmentShader)
            continue;
        sp->Program = LinkProgram(name, sp->VertexShader, sp->FragmentShader);
    }

    if (!failedVariant)
    {
        for (u32 i = 0; i < SBI_Count; ++i)
        {
            SShaderBuiltIn b;
            b.Cached = GShaderBuiltInCached[i];
            b.Uniform = GetShaderUniform(sp, GShaderBuiltInNames[i]);
            sp->BuiltIns.Add(b);
        }
        // Samplers "TexN" read unit N.
        glUseProgram(sp->Program);
        for (u32 i = 0; i < 16; ++i)
        {
            SShaderUniform* u = sp->BuiltIns[SBI_Tex0 + i].Uniform;
            if (u->Location != -1 && u->Ints[0] != (s32)i)
            {
                glUniform1i(u->Location, (GLint)i);
                u->Ints[0] = (s32)i;
            }
        }
        glUseProgram(0);
    }
    // The loader changed the program in use behind the cache.
    GCurShader = nullptr;

    if (!stored)
        storage->Shaders.Insert(key, sp);
    return sp;
}

u32 ReloadChangedShaders(SShaderStorage* storage)
{
    if (!storage)
        return 0;
    u32 reloaded = 0;
    for (TMap<TString, SShader*>::Iterator it(storage->Shaders); it.IsValid(); it.Next())
    {
        SShader* sp = it.Value();
        const TString path = ShaderFilePath(sp->Name.Str());
        const u64 t = FileModifiedTime(path.Str());
        if (t > sp->FileTime)
        {
            LoadShader(storage, sp->Name.Str(), sp->Defines, 1);
            ++reloaded;
        }
    }
    return reloaded;
}

u32 ReloadChangedShadersGSM()
{
    return ReloadChangedShaders(GSM);
}

// ---------------------------------------------------------------------------------------------
// Matrix uploads and uniform setters

static void UploadBuiltInMatrix(SShader* sp, u32 row, const float* m)
{
    if (!sp || !sp->Program || sp->BuiltIns.Count() <= row)
        return;
    SShaderUniform* u = sp->BuiltIns[row].Uniform;
    if (u->Location == -1)
        return;
    bool same = true;
    for (u32 i = 0; i < 16; ++i)
        if (u->Floats[i] != m[i])
        {
            same = false;
            break;
        }
    if (same)
        return;
    glUniformMatrix4fv(u->Location, 1, GL_FALSE, m);
    gMemCpy(u->Floats, m, sizeof(float) * 16);
}

void R_UploadViewMatrix(SShader* sp)
{
    UploadBuiltInMatrix(sp, SBI_ViewMatrix, GViewMatrix.m);
}

void R_UploadProjectionMatrix(SShader* sp)
{
    UploadBuiltInMatrix(sp, SBI_ProjectionMatrix, GProjectionMatrix.m);
}

// The uniform to set, or null when the variant has no program to set it on.
static SShaderUniform* SetterUniform(SShader* sp, const char* name)
{
    if (!sp || !sp->Program || !name)
        return nullptr;
    return GetShaderUniform(sp, name);
}

static bool SameFloats(const float* cache, const float* v, u32 n)
{
    for (u32 i = 0; i < n; ++i)
        if (cache[i] != v[i])
            return false;
    return true;
}

void SetUniformInt(SShader* sp, const char* name, int v)
{
    SShaderUniform* u = SetterUniform(sp, name);
    if (!u || u->Ints[0] == v)
        return;
    glUniform1i(u->Location, v);
    u->Ints[0] = v;
}

void SetUniformIntArray(SShader* sp, const char* name, const int* v, int count)
{
    if (BREAK_IF(!v))
        return;
    SShaderUniform* u = SetterUniform(sp, name);
    if (!u || count <= 0)
        return;
    glUniform1iv(u->Location, count, v);
    u->Ints[0] = v[0];
}

void SetUniformFloat(SShader* sp, const char* name, float v)
{
    SShaderUniform* u = SetterUniform(sp, name);
    if (!u || u->Floats[0] == v)
        return;
    glUniform1f(u->Location, v);
    u->Floats[0] = v;
}

// Vector and matrix setters share the rule: skipped when one element equals the cache.
static SShaderUniform* VectorUniform(SShader* sp, const char* name, const float* v, int count, u32 n)
{
    if (BREAK_IF(!v))
        return nullptr;
    SShaderUniform* u = SetterUniform(sp, name);
    if (!u || count <= 0)
        return nullptr;
    if (count < 2 && SameFloats(u->Floats, v, n))
        return nullptr;
    gMemCpy(u->Floats, v, sizeof(float) * n);
    return u;
}

void SetUniformVec2(SShader* sp, const char* name, const float* v, int count)
{
    if (SShaderUniform* u = VectorUniform(sp, name, v, count, 2))
        glUniform2fv(u->Location, count, v);
}

void SetUniformVec3(SShader* sp, const char* name, const float* v, int count)
{
    if (SShaderUniform* u = VectorUniform(sp, name, v, count, 3))
        glUniform3fv(u->Location, count, v);
}

void SetUniformVec4(SShader* sp, const char* name, const float* v, int count)
{
    if (SShaderUniform* u = VectorUniform(sp, name, v, count, 4))
        glUniform4fv(u->Location, count, v);
}

void SetUniformMatrix4(SShader* sp, const char* name, int count, bool transpose, const float* v)
{
    if (SShaderUniform* u = VectorUniform(sp, name, v, count, 16))
        glUniformMatrix4fv(u->Location, count, transpose ? GL_TRUE : GL_FALSE, v);
}
