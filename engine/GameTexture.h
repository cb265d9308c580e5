// OpenGL textures: the counted STexture record, the texture manager that shares file textures
// by name and flags, the per-unit bind cache, the ".mips" cache beside image files and the
// loader thread that reads further levels of streamed textures for the main thread to upload.
#pragma once

#include <atomic>

#include "GameFileIO.h"
#include "GameSys.h"
#include "GString.h"
#include "GTemplate.h"
#include "GameThread.h"

class SImage2D;
class FloatImage;

// Texture flags.
enum
{
    TEXF_RGBA8 = 1,          // loaded files: 8-bit RGBA instead of sRGB
    TEXF_NotStreamed = 2,    // created in memory, or loaded whole without a mip cache
    TEXF_WriteMipCache = 4,  // this load writes the mip cache
    TEXF_NoMipmaps = 8,
    TEXF_Clamp = 16,         // clamp to edge in S and T
    TEXF_Failed = 0x1000,    // set alone after a failed load
    TEXF_File = 0x2000,      // loaded from a file
};
// Node outputs and other in-memory textures: whole, without a mip chain.
static const u32 TEXF_NodeOutput = TEXF_NotStreamed | TEXF_NoMipmaps;

// Format codes of TEX_Create.
enum
{
    TEXFMT_RGBA8 = 1,
    TEXFMT_SRGB8_A8 = 2,
    TEXFMT_RGBA16F = 3,
    TEXFMT_RGBA32F = 4,
    TEXFMT_R32F = 11,
    TEXFMT_Depth16 = 21,
    TEXFMT_Depth16F = 22,
    TEXFMT_Depth32 = 23,
};

// Load states of streamed textures.
enum
{
    TEXLS_Idle = 0,
    TEXLS_Requested = 1, // the loader thread owns the level buffers
    TEXLS_Loaded = 2,    // the level buffers await upload on the main thread
};

static const u32 TEX_MAX_LEVELS = 16;
static const u32 TEX_MAX_UNITS = 16;
// Seconds between two level requests of one texture.
static const float TEX_LEVEL_INTERVAL = 240.0f;
// How often the loader looks again at requests queued before their level was asked for.
static const u32 TEX_LOADER_POLL_MS = 200;

struct STexLevel
{
    u32 Width;
    u32 Height;
    u32 Depth;
    u8* Data; // CPU pixels (RGBA8) while a loaded level awaits upload
    u32 Size;
};

class STexture
{
public:
    u32 GLName;
    u32 PixelType;
    u32 InternalFormat;
    u32 PixelFormat;
    std::atomic<u32> RefCount; // the loader thread's lists hold references too
    TString Name;
    u32 Width;
    u32 Height;
    u32 Depth;
    u32 Faces;
    u32 Format;
    u32 BytesPerTexel;
    u32 Flags;
    STexLevel Levels[TEX_MAX_LEVELS];
    u32 LevelCount;
    u32 MaxLevel;
    u32 MinLevel;
    u32 CurLevel;
    float LevelTimer;
    std::atomic<u32> LoadState;
    // The chain level that was in GL before the pending request: a failed request returns there.
    u32 PrevLevel;
    // Set by the loader thread when the requested level could not be read or decoded.
    bool LevelFailed;
    // The manager's key of a shared file texture (empty when not in the map).
    TString Key;
    // Counted against the texture memory budget while the texture lives.
    u64 BudgetBytes = 0;
    // The file as it was when loaded: the texture is shared only while the file is still that one.
    SFileStamp Source;
    // The file changed within the step of file times before its load, so the stamp alone does
    // not tell a later change in that step: its content is compared (by this hash) before it is
    // shared.
    bool SourceRacy = false;
    u64 SourceHash = 0;
    // Why the file did not load, in words; empty after a load that worked.
    TString LoadFailure;

    STexture();
    ~STexture();

    // GL_TEXTURE_CUBE_MAP for faces > 1, else GL_TEXTURE_3D for depth > 1, else GL_TEXTURE_2D.
    u32 GetTarget() const;
    void FreeLevelData();
};

// A counted reference to a texture. Copies add a reference; the last release destroys it.
class TextureRef
{
public:
    STexture* Obj;

    TextureRef() : Obj(nullptr) {}
    TextureRef(const TextureRef& other);
    ~TextureRef() { Release(); }
    TextureRef& operator=(const TextureRef& other);

    // Drops the reference (the texture is destroyed with its last one); the reference becomes null.
    void Release();
    // Takes over a reference that the caller already counted.
    void Adopt(STexture* tex);

    STexture* operator->() const { return Obj; }
    STexture* Get() const { return Obj; }
    bool IsNull() const { return Obj == nullptr; }
};

// Adds one reference.
void TEX_AddRef(STexture* tex);
// Drops one reference; destroys the texture with the last one. A count already at 0 is
// reported and left alone.
void TEX_ReleaseRef(STexture* tex);

// ---------------------------------------------------------------------------------------------
// Texture manager

class STextureManager
{
public:
    // name + ":" + flags (with TEXF_File) -> texture; not counted (the texture removes itself).
    TMap<TString, STexture*> Map;
    // Every live texture, created ones too; not counted.
    TPodArray<STexture*> Textures;
    SSpinLock Lock;
    SThread* Loader; // while started
    // Level requests and finished levels; each entry holds one counted reference.
    TPodArray<STexture*> Pending;
    TPodArray<STexture*> Done;
    std::atomic<u32> Running;
    // Raised when there is work for the loader (a request) or it is to stop.
    SThreadSignal Wake;
    // Set by Shutdown: textures released later skip GL and the (emptied) lists.
    bool IsShutDown;

    STextureManager();
    ~STextureManager();

    // Engine start: starts the loader thread.
    void StartLoader();
    // Tells the loader thread to stop and waits for it to end; the textures stay.
    void StopLoader();
    // Engine exit: stops and waits for the loader thread, frees the map, empties the array and
    // releases both lists.
    void Shutdown();
    // Appends a counted reference to the pending list.
    void QueueLoad(STexture* tex);
    // Bytes of texture memory in use.
    u64 GetMemoryUsage();
    // The texture memory budget (0: not set yet), the bytes counted against it (each texture
    // as it was registered), those of textures deleted while rendering that used them may still
    // be going on, and the textures refused for it so far.
    u64 Budget = 0;
    u64 BudgetUsed = 0;
    u64 BudgetPending = 0;
    u64 BudgetRefusals = 0;
    TString RefusalReason;
};

extern STextureManager GTexManager;

// ---------------------------------------------------------------------------------------------
// Bind cache.

// The unit argument that means whichever unit is active.
static const u32 TEX_ACTIVE_UNIT = 0xFFFFFFFFu;

extern u32 GTexActiveUnit;
extern u32 GTexBoundNames[TEX_MAX_UNITS];

void TEX_Bind(u32 unit, const TextureRef& tex);
void TEX_Bind(u32 unit, STexture* tex);
void TEX_Unbind(u32 unit, STexture* tex);
void TEX_UnbindTarget(u32 unit, u32 target);
void TEX_GenerateMipmaps(STexture* tex);
// Forgets the cache (after the GL context changed); every unit is taken as holding 0.
void TEX_ResetBindCache();

// ---------------------------------------------------------------------------------------------
// Creating and loading

// A new texture of the given size and format code in ref, level 0 from pixels (or undefined
// when null). 1 on success; 0 when refused (unknown format, depth differing from faces, faces other
// than 1 or 6, a zero size, a size above the GL limit, a GL error): ref then holds a record without
// a GL name.
int TEX_Create(TextureRef& ref, u32 width, u32 height, u32 depth, u32 faces, u32 format,
               const void* pixels, u32 flags);
// The texture of an image file, shared by name and flags while the file is the one loaded (a
// changed or replaced file is loaded afresh). 1 on success; 0 when the file is missing or does
// not decode (ref then holds a record flagged TEXF_Failed without a GL name).
int TEX_Get(TextureRef& ref, const char* name, u32 flags);
// Loads an image file into a new record.
int TEX_Load(STexture* tex, const char* file, u32 flags);

// The texture memory budget: a texture that would take the memory of the live ones past it is
// not made (TEX_Create and TEX_Get fail), so that no graph can exhaust the machine's memory. By
// default 1 / TEX_BUDGET_DIVISOR of the memory the process may use (gSysMemoryLimit), and under an
// address-space or data-size limit of what it leaves once the program and its GL driver are up
// (MEM_Room, less the driver's room); setting 0 goes back to that.
static const u32 TEX_BUDGET_DIVISOR = 2;
void TEX_SetMemoryBudget(u64 bytes);
u64 TEX_MemoryBudget();
// The textures refused for memory so far (past the budget, past the room a memory limit leaves
// beside the GL driver's, or refused by the driver): a run that compares it before and after
// knows whether it ran out; TEX_RefusalReason tells the latest refusal in words.
u64 TEX_BudgetRefusals();
TString TEX_RefusalReason();
// Waits until the rendering sent so far has finished. GL frees the memory of a deleted texture
// only then, so the budget counts deleted textures until this runs; it runs by itself before a
// texture would be refused for them.
void TEX_FinishRendering();

// Name of the mip cache of an image file.
TString TEX_MipName(const char* file);
// Reads the bytes of one chain level: level 0 is the image file itself, others come from the
// mip cache (a level past the cache's last gives the last). On success level holds the level
// read. The cache must match tex's chain when tex has one; else tex's size and chain are taken
// from the cache header. Corrupt, truncated or unreadable caches give 0.
int TEX_LoadMip(const char* file, u32& level, TPodArray<u8>& bytes, STexture& tex);

// Read-back of level 0 of textures created in memory (flag TEXF_NotStreamed, 2D).
int TEX_ReadPixels(STexture* tex, SImage2D& image);
int TEX_ReadPixelsFloat(STexture* tex, FloatImage& image);
// Reads RGBA bytes, flips the rows when asked and saves by the name's extension (SaveImage).
int TEX_SaveToFile(STexture* tex, const char* name, bool flip, EWriteTarget target = WRITE_Replace);

// Once per frame on the main thread: requests further levels, uploads finished ones.
void UpdateTextures(float dt);
// Levels requested from the loader thread or loaded and not yet uploaded: the picture will change
// once UpdateTextures has put them in.
bool TEX_LoadsInFlight();

// "--null--", the name, or "W:%d H:%d D:%d S:%d Fmt:%d Flags:%d".
TString TEX_Describe(const STexture* tex);
