// Shader programs built from ".mtl" sources, the shader storage that keeps every program variant
// for the life of the program, hot reload of changed sources and the cached uniform setters.
#pragma once

#include "GMath.h"
#include "GTemplate.h"

// One uniform of a program: its location and the last value sent (ints or floats).
struct SShaderUniform
{
    int Location;
    union
    {
        s32 Ints[16];
        float Floats[16];
    };
    SShaderUniform() : Location(-1) { gMemSet(Ints, 0, sizeof(Ints)); }
};

struct SShaderBuiltIn
{
    u32 Cached;
    SShaderUniform* Uniform;
};

// Rows of the built-in uniform table.
enum EShaderBuiltIn
{
    SBI_CameraPos = 0,
    SBI_WorldMatrix,
    SBI_ViewMatrix,
    SBI_ProjectionMatrix,
    SBI_ClipPlane,
    SBI_FogColor,
    SBI_FogData,
    SBI_LightPos,
    SBI_LightDir,
    SBI_AmbientColor,
    SBI_LightColor,
    SBI_LightTransDist,
    SBI_SMMatrix,
    SBI_SMData,
    SBI_Tex0,
    SBI_Count = SBI_Tex0 + 16,
};

// One program variant: a shader name plus a list of defines.
struct SShader
{
    u32 Program;
    u32 VertexShader;
    u32 FragmentShader;
    u64 FileTime;
    TArray<TString> Defines;
    TString Name;
    TMap<TString, SShaderUniform*> Uniforms;
    TPodArray<SShaderBuiltIn> BuiltIns;
    TMap<TString, TString> Settings;

    SShader() : Program(0), VertexShader(0), FragmentShader(0), FileTime(0) {}
    ~SShader();
    // Deletes the GL objects and forgets everything that belongs to the current program.
    void ReleaseProgram();
    void ClearUniforms();
    SShader(const SShader&) = delete;
    SShader& operator=(const SShader&) = delete;
};

// The storage: storage key -> variant.
struct SShaderStorage
{
    TMap<TString, SShader*> Shaders;
    ~SShaderStorage();
};

extern SShaderStorage* GSM;
// The variant whose program is in use (kept by the material layer; the loader resets it).
extern SShader* GCurShader;

// The engine's current view and projection matrices, uploaded by R_UploadViewMatrix and
// R_UploadProjectionMatrix; the application's camera sets them.
extern mMat4 GViewMatrix;
extern mMat4 GProjectionMatrix;
extern mMat4 GWorldMatrix;
// Scene light values the application sets for the built-in uniforms.
extern mVec3 GLightColor;
extern mVec3 GAmbientColor;

// Texts of the source format (no GL needed).
extern const char* const GShaderVertexPrelude;
extern const char* const GShaderFragmentPrelude;
extern const char* const GShaderAttribNames[8];
extern const char* const GShaderBuiltInNames[SBI_Count];
extern const u8 GShaderBuiltInCached[SBI_Count];

// "Blur" with the defines A and B -> "Blur#A#B".
TString ShaderStorageKey(const char* name, const TArray<TString>& defines);
// Processes every "#fail " directive: true when one names a define of the variant (the text is
// then left as it was at that point); otherwise every directive is removed and false returned.
bool ShaderApplyFail(TString& text, const TArray<TString>& defines);
// Removes every "#set NAME VALUE" directive, storing the pairs (a later name replaces the value).
void ShaderApplySet(TString& text, TMap<TString, TString>& settings);
// The text given to the compiler: the define lines, the stage prelude, then the body.
TString ShaderStageSource(const TArray<TString>& defines, const char* prelude, const TString& body);
// "Data/Shaders/" + name + ".mtl"
TString ShaderFilePath(const char* name);

// Storage lifecycle (engine start and exit).
void CreateShaderStorage();
void FreeShaderStorage();

SShader* GetShader(const char* name, const TArray<TString>& defines);
SShader* GetShader(const char* name);
SShader* LoadShader(SShaderStorage* storage, const char* name, const TArray<TString>& defines, int reload);
// Rebuilds every variant whose source changed on disk since it was built. Returns the count.
u32 ReloadChangedShaders(SShaderStorage* storage);
u32 ReloadChangedShadersGSM();

void R_UploadViewMatrix(SShader* sp);
void R_UploadProjectionMatrix(SShader* sp);

// Typed uniform setters; each skips the GL call when the value equals the cached one.
void SetUniformInt(SShader* sp, const char* name, int v);
void SetUniformIntArray(SShader* sp, const char* name, const int* v, int count);
void SetUniformFloat(SShader* sp, const char* name, float v);
void SetUniformVec2(SShader* sp, const char* name, const float* v, int count = 1);
void SetUniformVec3(SShader* sp, const char* name, const float* v, int count = 1);
void SetUniformVec4(SShader* sp, const char* name, const float* v, int count = 1);
void SetUniformMatrix4(SShader* sp, const char* name, int count, bool transpose, const float* v);
// Finds or creates the named uniform record (asking GL for its location on first use).
SShaderUniform* GetShaderUniform(SShader* sp, const char* name);
