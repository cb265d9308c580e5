#include "GameTexture.h"

#include <GL/glew.h>

#include "GMath.h"
#include "GameImage.h"
#include "GameMemoryRoom.h"
#include "GameTextureInternal.h"

STextureManager GTexManager;
u32 GTexActiveUnit = 0;
u32 GTexBoundNames[TEX_MAX_UNITS];

static void TEX_Destroy(STexture* tex);

// ---------------------------------------------------------------------------------------------
// Records and references

STexture::STexture()
    : GLName(0), PixelType(0), InternalFormat(0), PixelFormat(0), RefCount(1), Width(0), Height(0),
      Depth(0), Faces(0), Format(0), BytesPerTexel(0), Flags(0), LevelCount(0), MaxLevel(0),
      MinLevel(0), CurLevel(0), LevelTimer(0.0f), LoadState(TEXLS_Idle), PrevLevel(0), LevelFailed(false)
{
    gMemSet(Levels, 0, sizeof(Levels));
}

STexture::~STexture()
{
    FreeLevelData();
}

u32 STexture::GetTarget() const
{
    if (Faces > 1)
        return GL_TEXTURE_CUBE_MAP;
    if (Depth > 1)
        return GL_TEXTURE_3D;
    return GL_TEXTURE_2D;
}

void STexture::FreeLevelData()
{
    for (u32 i = 0; i < TEX_MAX_LEVELS; ++i)
    {
        MemFree(Levels[i].Data);
        Levels[i].Data = nullptr;
        Levels[i].Size = 0;
    }
}

void TEX_AddRef(STexture* tex)
{
    if (tex)
        tex->RefCount.fetch_add(1);
}

void TEX_ReleaseRef(STexture* tex)
{
    if (!tex)
        return;
    STexture* Obj = tex;
    if (BREAK_IF(Obj->RefCount == 0))
        return; // a count already at 0 stays there
    u32 count = Obj->RefCount.load();
    do
    {
        if (count == 0)
            return;
    } while (!Obj->RefCount.compare_exchange_weak(count, count - 1));
    if (count == 1)
        TEX_Destroy(tex);
}

TextureRef::TextureRef(const TextureRef& other) : Obj(other.Obj)
{
    TEX_AddRef(Obj);
}

TextureRef& TextureRef::operator=(const TextureRef& other)
{
    // Take the new reference first: assigning a reference to itself (or to one whose texture
    // only this reference keeps alive) must not destroy the texture in between.
    STexture* tex = other.Obj;
    TEX_AddRef(tex);
    STexture* old = Obj;
    Obj = tex;
    TEX_ReleaseRef(old);
    return *this;
}

void TextureRef::Release()
{
    STexture* old = Obj;
    Obj = nullptr;
    TEX_ReleaseRef(old);
}

void TextureRef::Adopt(STexture* tex)
{
    STexture* old = Obj;
    Obj = tex;
    TEX_ReleaseRef(old);
}

TString TEX_Describe(const STexture* tex)
{
    if (!tex)
        return TString("--null--");
    if (!tex->Name.IsEmpty())
        return tex->Name;
    TString s;
    s.Format(256, "W:%d H:%d D:%d S:%d Fmt:%d Flags:%d", (int)tex->Width, (int)tex->Height, (int)tex->Depth,
             (int)tex->Faces, (int)tex->PixelFormat, (int)tex->Flags);
    return s;
}

// ---------------------------------------------------------------------------------------------
// Bind cache

static void SelectUnit(u32 unit)
{
    if (unit == TEX_ACTIVE_UNIT)
        return;
    if (GTexActiveUnit != unit)
    {
        glActiveTexture(GL_TEXTURE0 + unit);
        GTexActiveUnit = unit;
    }
}

void TEX_Bind(u32 unit, STexture* tex)
{
    if (unit != TEX_ACTIVE_UNIT && BREAK_IF(unit >= TEX_MAX_UNITS))
        return;
    SelectUnit(unit);
    u32 name = tex ? tex->GLName : 0;
    if (GTexBoundNames[GTexActiveUnit] != name)
    {
        glBindTexture(tex && name ? tex->GetTarget() : GL_TEXTURE_2D, name);
        GTexBoundNames[GTexActiveUnit] = name;
    }
}

void TEX_Bind(u32 unit, const TextureRef& tex)
{
    TEX_Bind(unit, tex.Obj);
}

void TEX_Unbind(u32 unit, STexture* tex)
{
    if (unit != TEX_ACTIVE_UNIT && BREAK_IF(unit >= TEX_MAX_UNITS))
        return;
    SelectUnit(unit);
    if (tex && tex->GLName && GTexBoundNames[GTexActiveUnit] == tex->GLName)
    {
        glBindTexture(tex->GetTarget(), 0);
        GTexBoundNames[GTexActiveUnit] = 0;
    }
}

void TEX_UnbindTarget(u32 unit, u32 target)
{
    if (unit != TEX_ACTIVE_UNIT && BREAK_IF(unit >= TEX_MAX_UNITS))
        return;
    SelectUnit(unit);
    glBindTexture(target, 0);
    GTexBoundNames[GTexActiveUnit] = 0;
}

void TEX_GenerateMipmaps(STexture* tex)
{
    TEX_Bind(TEX_ACTIVE_UNIT, tex);
    glEnable(GL_TEXTURE_2D);
    glGenerateMipmap(GL_TEXTURE_2D);
}

void TEX_ResetBindCache()
{
    GTexActiveUnit = 0;
    for (u32 i = 0; i < TEX_MAX_UNITS; ++i)
        GTexBoundNames[i] = 0;
}

// Unbinds from the active unit when it still caches the texture.
void TEX_UnbindActive(STexture* tex)
{
    if (tex->GLName && GTexBoundNames[GTexActiveUnit] == tex->GLName)
    {
        glBindTexture(tex->GetTarget(), 0);
        GTexBoundNames[GTexActiveUnit] = 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Manager

STextureManager::STextureManager() : Loader(nullptr), Running(1), IsShutDown(false)
{
}

STextureManager::~STextureManager()
{
    // Static destruction: stop the thread if the engine did not; textures that outlive this
    // object must find empty lists, so nothing is released here.
    if (!IsShutDown)
    {
        StopLoader();
        IsShutDown = true;
    }
}

void STextureManager::StopLoader()
{
    Lock.Lock();
    Running = 0;
    Lock.Unlock();
    Wake.Raise();
    if (Loader)
    {
        Loader->Wait(THREAD_INFINITE);
        delete Loader;
        Loader = nullptr;
    }
}


void STextureManager::StartLoader()
{
    Lock.Lock();
    Running = 1;
    IsShutDown = false;
    Lock.Unlock();
    if (Loader)
        return; // already running
    Loader = new SThread;
    if (!Loader->Start(TEX_LoaderThreadMain, this))
    {
        delete Loader;
        Loader = nullptr;
    }
}

void STextureManager::Shutdown()
{
    StopLoader();

    // The lists are moved out under the lock and released after it: releasing the last
    // reference destroys a texture, and destruction takes the (non-re-entrant) lock itself.
    TPodArray<STexture*> pending, done;
    Lock.Lock();
    pending = Pending;
    done = Done;
    Pending.Clear();
    Done.Clear();
    Lock.Unlock();
    for (u32 i = 0; i < pending.count; ++i)
    {
        pending.data[i]->LoadState = TEXLS_Idle;
        TEX_ReleaseRef(pending.data[i]);
    }
    for (u32 i = 0; i < done.count; ++i)
    {
        done.data[i]->LoadState = TEXLS_Idle;
        TEX_ReleaseRef(done.data[i]);
    }

    Lock.Lock();
    for (u32 i = 0; i < Textures.count; ++i)
        Textures.data[i]->Key = TString();
    Map.Clear();
    Textures.Clear();
    IsShutDown = true;
    Lock.Unlock();
}

void STextureManager::QueueLoad(STexture* tex)
{
    if (!tex)
        return;
    TEX_AddRef(tex);
    Lock.Lock();
    Pending.Add(tex);
    Lock.Unlock();
    Wake.Raise();
}

u64 TEX_Bytes(const STexture* t)
{
    u64 texels;
    if (t->Flags & TEXF_NotStreamed)
        texels = (u64)t->Width * t->Height * t->Depth;
    else
    {
        u32 lv = t->CurLevel < TEX_MAX_LEVELS ? t->CurLevel : TEX_MAX_LEVELS - 1;
        texels = (u64)t->Levels[lv].Width * t->Levels[lv].Height * t->Levels[lv].Depth;
    }
    u64 bytes = (u64)t->BytesPerTexel * t->Faces * texels;
    if (!(t->Flags & (TEXF_NotStreamed | TEXF_NoMipmaps)))
        bytes = bytes * 1333 / 1000;
    return bytes;
}

u64 STextureManager::GetMemoryUsage()
{
    u64 total = 0;
    Lock.Lock();
    for (u32 i = 0; i < Textures.count; ++i)
        total += TEX_Bytes(Textures.data[i]);
    Lock.Unlock();
    return total;
}

void TEX_SetMemoryBudget(u64 bytes)
{
    GTexManager.Budget = bytes;
}

u64 TEX_MemoryBudget()
{
    if (!GTexManager.Budget)
    {
        GTexManager.Budget = gSysMemoryLimit() / TEX_BUDGET_DIVISOR;
        // What the program and its driver hold of a limit is not the textures' to take.
        const SMemoryRoom room = MEM_Room();
        const u64 left = room.Left() > MEM_DRIVER_ROOM ? room.Left() - MEM_DRIVER_ROOM : 0;
        if (room.Kind && left / TEX_BUDGET_DIVISOR < GTexManager.Budget)
            GTexManager.Budget = left / TEX_BUDGET_DIVISOR;
        // A budget of 0 would mean none at all.
        if (!GTexManager.Budget)
            GTexManager.Budget = 1;
    }
    return GTexManager.Budget;
}

u64 TEX_BudgetRefusals()
{
    return GTexManager.BudgetRefusals;
}

TString TEX_RefusalReason()
{
    GTexManager.Lock.Lock();
    const TString reason = GTexManager.RefusalReason;
    GTexManager.Lock.Unlock();
    return reason;
}

static void CountRefusal(const TString& reason)
{
    GTexManager.Lock.Lock();
    ++GTexManager.BudgetRefusals;
    GTexManager.RefusalReason = reason;
    GTexManager.Lock.Unlock();
}

void TEX_FinishRendering()
{
    glFinish();
    GTexManager.Lock.Lock();
    GTexManager.BudgetPending = 0;
    GTexManager.Lock.Unlock();
}

static bool FitsBudget(u64 held, u64 bytes, u64 budget)
{
    return held <= budget && bytes <= budget - held;
}

bool TEX_FitsBudget(u64 bytes)
{
    const u64 budget = TEX_MemoryBudget();
    GTexManager.Lock.Lock();
    const bool finish = !FitsBudget(GTexManager.BudgetUsed + GTexManager.BudgetPending, bytes, budget) &&
                        GTexManager.BudgetPending > 0;
    GTexManager.Lock.Unlock();
    if (finish)
        TEX_FinishRendering();
    GTexManager.Lock.Lock();
    const bool fits = FitsBudget(GTexManager.BudgetUsed + GTexManager.BudgetPending, bytes, budget);
    GTexManager.Lock.Unlock();
    if (!fits)
    {
        TString reason;
        reason.Format(128, "needed more texture memory at once than the budget of %llu MiB",
                      (unsigned long long)(budget / MEM_MIB));
        CountRefusal(reason);
        return false;
    }
    // What the program holds grows as it runs (built programs, the driver's working memory): the
    // texture must leave the driver its room as things stand now.
    const TString shortfall = MEM_Shortfall(bytes);
    if (!shortfall.IsEmpty())
        CountRefusal(shortfall);
    return shortfall.IsEmpty();
}

void TEX_Register(STexture* tex, const TString& key)
{
    GTexManager.Lock.Lock();
    if (!GTexManager.IsShutDown)
    {
        GTexManager.Textures.Add(tex);
        if (!key.IsEmpty())
        {
            // A texture loaded afresh from a changed file takes the key over from the old one,
            // which stays with those who hold it.
            STexture** found = GTexManager.Map.FindValue(key);
            if (found)
                *found = tex;
            else
                GTexManager.Map.Insert(key, tex);
            tex->Key = key;
        }
        tex->BudgetBytes = TEX_Bytes(tex);
        GTexManager.BudgetUsed += tex->BudgetBytes;
    }
    GTexManager.Lock.Unlock();
}

// Destruction on the last release (main thread).
static void TEX_Destroy(STexture* tex)
{
    if (!GTexManager.IsShutDown)
    {
        GTexManager.Lock.Lock();
        for (u32 i = GTexManager.Textures.count; i-- > 0;)
            if (GTexManager.Textures.data[i] == tex)
                GTexManager.Textures.Remove(i);
        GTexManager.BudgetUsed -= tex->BudgetBytes;
        GTexManager.BudgetPending += tex->BudgetBytes;
        if (!tex->Key.IsEmpty())
        {
            STexture** found = GTexManager.Map.FindValue(tex->Key);
            if (found && *found == tex)
                GTexManager.Map.Remove(tex->Key);
        }
        GTexManager.Lock.Unlock();
        if (tex->GLName)
        {
            // Deleting a bound texture reverts those bindings to 0; the cache follows.
            for (u32 u = 0; u < TEX_MAX_UNITS; ++u)
                if (GTexBoundNames[u] == tex->GLName)
                    GTexBoundNames[u] = 0;
            GLuint name = tex->GLName;
            glDeleteTextures(1, &name);
        }
    }
    delete tex;
}

// ---------------------------------------------------------------------------------------------
// Uploads

struct STexFormatInfo
{
    u32 Code;
    u32 InternalFormat;
    u32 PixelFormat;
    u32 Type;
    u32 BytesPerTexel;
};

static const STexFormatInfo GTexFormats[] = {
    {TEXFMT_RGBA8, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4},
    {TEXFMT_SRGB8_A8, GL_SRGB8_ALPHA8, GL_RGBA, GL_UNSIGNED_BYTE, 4},
    {TEXFMT_RGBA16F, GL_RGBA16F, GL_RGBA, GL_FLOAT, 8},
    {TEXFMT_RGBA32F, GL_RGBA32F, GL_RGBA, GL_FLOAT, 16},
    {TEXFMT_R32F, GL_R32F, GL_RED, GL_FLOAT, 4},
    {TEXFMT_Depth16, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2},
    {TEXFMT_Depth16F, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_FLOAT, 2},
    {TEXFMT_Depth32, GL_DEPTH_COMPONENT32, GL_DEPTH_COMPONENT, GL_FLOAT, 4},
};

static const STexFormatInfo* FindFormat(u32 code)
{
    for (const STexFormatInfo& f : GTexFormats)
        if (f.Code == code)
            return &f;
    return nullptr;
}

// Uploads one GL level of the texture's target. Cube faces follow each other in data.
void TEX_UploadLevel(const STexture* tex, u32 glLevel, u32 w, u32 h, u32 d, u32 type, const u8* data)
{
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (tex->Faces > 1)
    {
        size_t faceBytes = (size_t)w * h * tex->BytesPerTexel;
        for (u32 f = 0; f < 6; ++f)
            glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + f, glLevel, tex->InternalFormat, w, h, 0, tex->PixelFormat,
                         type, data ? data + f * faceBytes : nullptr);
    }
    else if (d < 2 && tex->Depth < 2)
        glTexImage2D(GL_TEXTURE_2D, glLevel, tex->InternalFormat, w, h, 0, tex->PixelFormat, type, data);
    else
        glTexImage3D(GL_TEXTURE_3D, glLevel, tex->InternalFormat, w, h, d, 0, tex->PixelFormat, type, data);
}

void TEX_SetFilters(const STexture* tex, bool mipmapped)
{
    const u32 target = tex->GetTarget();
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, mipmapped ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    if (tex->Flags & TEXF_Clamp)
    {
        glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
}

u32 TEX_MaxSize(u32 target)
{
    GLint size = 0;
    glGetIntegerv(target == GL_TEXTURE_3D ? GL_MAX_3D_TEXTURE_SIZE
                  : target == GL_TEXTURE_CUBE_MAP ? GL_MAX_CUBE_MAP_TEXTURE_SIZE
                                                  : GL_MAX_TEXTURE_SIZE,
                  &size);
    return size > 0 ? (u32)size : 0;
}

static void ClearGLErrors()
{
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i)
    {
    }
}

int TEX_Create(TextureRef& ref, u32 width, u32 height, u32 depth, u32 faces, u32 format, const void* pixels,
               u32 flags)
{
    ref.Release();
    STexture* tex = new STexture;
    ref.Adopt(tex);
    tex->Width = width;
    tex->Height = height;
    tex->Depth = depth;
    tex->Faces = faces;
    tex->Format = format;
    tex->Flags = flags | TEXF_NotStreamed;
    const STexFormatInfo* fmt = FindFormat(format);
    // Several faces make a cube map, which has six: any other count would upload faces the
    // caller never gave.
    if (depth != faces || !fmt || (faces > 1 && faces != 6))
        return 0;
    tex->InternalFormat = fmt->InternalFormat;
    tex->PixelFormat = fmt->PixelFormat;
    tex->PixelType = fmt->Type;
    tex->BytesPerTexel = fmt->BytesPerTexel;
    tex->LevelCount = 1;
    tex->Levels[0].Width = width;
    tex->Levels[0].Height = height;
    tex->Levels[0].Depth = depth;
    u32 target = tex->GetTarget();
    u32 maxSize = TEX_MaxSize(target);
    if (width == 0 || height == 0 || depth == 0 || width > maxSize || height > maxSize ||
        (target == GL_TEXTURE_3D && depth > maxSize))
        return 0;
    if (!TEX_FitsBudget(TEX_Bytes(tex)))
        return 0;

    ClearGLErrors();
    GLuint name = 0;
    glGenTextures(1, &name);
    tex->GLName = name;
    TEX_Bind(TEX_ACTIVE_UNIT, tex);
    bool noMips = (flags & (TEXF_NotStreamed | TEXF_NoMipmaps)) != 0;
    TEX_SetFilters(tex, !noMips);
    glTexParameteri(target, GL_TEXTURE_COMPARE_MODE, GL_NONE);
    TEX_UploadLevel(tex, 0, width, height, depth, fmt->Type, (const u8*)pixels);
    if (!noMips)
        glGenerateMipmap(target);
    TEX_UnbindActive(tex);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
    {
        if (error == GL_OUT_OF_MEMORY)
        {
            TString reason;
            reason.Format(128, "the GL driver ran out of memory for a texture of %llu MiB",
                          (unsigned long long)((TEX_Bytes(tex) + MEM_MIB - 1) / MEM_MIB));
            CountRefusal(reason);
        }
        // Out of memory or a size the driver refuses: no texture rather than a broken one.
        for (u32 u = 0; u < TEX_MAX_UNITS; ++u)
            if (GTexBoundNames[u] == name)
                GTexBoundNames[u] = 0;
        glDeleteTextures(1, &name);
        tex->GLName = 0;
        ClearGLErrors();
        return 0;
    }
    TEX_Register(tex, TString());
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Read-back and saving

static bool CanReadBack(const STexture* tex)
{
    return tex && tex->GLName && (tex->Flags & TEXF_NotStreamed) && tex->Width && tex->Height && tex->Depth == 1 &&
           tex->Faces == 1;
}

int TEX_ReadPixels(STexture* tex, SImage2D& image)
{
    if (!CanReadBack(tex) || !image.Resize(tex->Width, tex->Height, false))
        return 0;
    TEX_Bind(TEX_ACTIVE_UNIT, tex);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.Pixels.data);
    return 1;
}

int TEX_ReadPixelsFloat(STexture* tex, FloatImage& image)
{
    if (!CanReadBack(tex) || !image.Resize(tex->Width, tex->Height, false) || image.Width != tex->Width ||
        image.Height != tex->Height)
        return 0;
    TEX_Bind(TEX_ACTIVE_UNIT, tex);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, image.Data.data);
    return 1;
}

int TEX_SaveToFile(STexture* tex, const char* name, bool flip, EWriteTarget target)
{
    SImage2D image;
    if (!TEX_ReadPixels(tex, image))
        return 0;
    if (flip)
        FlipImageRows(image);
    return SaveImage(name, image, target);
}
