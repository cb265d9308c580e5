#include "GameTexture.h"

#include <GL/glew.h>

#include "GArchive.h"
#include "GMath.h"
#include "GameFileIO.h"
#include "GameImage.h"

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
    if (unit == 0xFFFFFFFFu)
        return;
    if (GTexActiveUnit != unit)
    {
        glActiveTexture(GL_TEXTURE0 + unit);
        GTexActiveUnit = unit;
    }
}

void TEX_Bind(u32 unit, STexture* tex)
{
    if (unit != 0xFFFFFFFFu && BREAK_IF(unit >= TEX_MAX_UNITS))
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
    if (unit != 0xFFFFFFFFu && BREAK_IF(unit >= TEX_MAX_UNITS))
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
    if (unit != 0xFFFFFFFFu && BREAK_IF(unit >= TEX_MAX_UNITS))
        return;
    SelectUnit(unit);
    glBindTexture(target, 0);
    GTexBoundNames[GTexActiveUnit] = 0;
}

void TEX_GenerateMipmaps(STexture* tex)
{
    TEX_Bind(0xFFFFFFFFu, tex);
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
static void UnbindActive(STexture* tex)
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
        Lock.Lock();
        Running = 0;
        Lock.Unlock();
        if (Loader)
        {
            Loader->Wait(THREAD_INFINITE);
            delete Loader;
            Loader = nullptr;
        }
        IsShutDown = true;
    }
}

static u32 LoaderThreadMain(void* context);

void STextureManager::StartLoader()
{
    Lock.Lock();
    Running = 1;
    IsShutDown = false;
    Lock.Unlock();
    if (Loader)
        return; // already running
    Loader = new SThread;
    if (!Loader->Start(LoaderThreadMain, this))
    {
        delete Loader;
        Loader = nullptr;
    }
}

void STextureManager::Shutdown()
{
    Lock.Lock();
    Running = 0;
    Lock.Unlock();
    if (Loader)
    {
        Loader->Wait(THREAD_INFINITE);
        delete Loader;
        Loader = nullptr;
    }

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
}

u64 STextureManager::GetMemoryUsage()
{
    u64 total = 0;
    Lock.Lock();
    for (u32 i = 0; i < Textures.count; ++i)
    {
        const STexture* t = Textures.data[i];
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
        total += bytes;
    }
    Lock.Unlock();
    return total;
}

static void RegisterTexture(STexture* tex, const TString& key)
{
    GTexManager.Lock.Lock();
    if (!GTexManager.IsShutDown)
    {
        GTexManager.Textures.Add(tex);
        if (!key.IsEmpty() && GTexManager.Map.Insert(key, tex))
            tex->Key = key;
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
static void UploadLevel(const STexture* tex, u32 glLevel, u32 w, u32 h, u32 d, u32 type, const u8* data)
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

static u32 MaxSizeFor(u32 target)
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
    if (depth != faces || !fmt)
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
    u32 maxSize = MaxSizeFor(target);
    if (width == 0 || height == 0 || depth == 0 || width > maxSize || height > maxSize ||
        (target == GL_TEXTURE_3D && depth > maxSize))
        return 0;

    ClearGLErrors();
    GLuint name = 0;
    glGenTextures(1, &name);
    tex->GLName = name;
    TEX_Bind(0xFFFFFFFFu, tex);
    bool noMips = (flags & (TEXF_NotStreamed | TEXF_NoMipmaps)) != 0;
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, noMips ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR);
    if (flags & TEXF_Clamp)
    {
        glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    glTexParameteri(target, GL_TEXTURE_COMPARE_MODE, GL_NONE);
    UploadLevel(tex, 0, width, height, depth, fmt->Type, (const u8*)pixels);
    if (!noMips)
        glGenerateMipmap(target);
    UnbindActive(tex);
    if (glGetError() != GL_NO_ERROR)
    {
        // Out of memory or a size the driver refuses: no texture rather than a broken one.
        for (u32 u = 0; u < TEX_MAX_UNITS; ++u)
            if (GTexBoundNames[u] == name)
                GTexBoundNames[u] = 0;
        glDeleteTextures(1, &name);
        tex->GLName = 0;
        ClearGLErrors();
        return 0;
    }
    RegisterTexture(tex, TString());
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Mip cache

TString TEX_MipName(const char* file)
{
    TString s(file ? file : "");
    s += ".mips";
    return s;
}

// Number of chain levels of a size: halving (integer, at least 1) until 1 x 1 x 1.
static u32 ChainLength(u32 w, u32 h, u32 d)
{
    u32 n = 1;
    while (w > 1 || h > 1 || d >= 2)
    {
        w = w / 2 ? w / 2 : 1;
        h = h / 2 ? h / 2 : 1;
        d = d / 2 ? d / 2 : 1;
        ++n;
    }
    return n;
}

static void SetupChain(STexture* tex)
{
    u32 w = tex->Width, h = tex->Height, d = tex->Depth;
    tex->Levels[0].Width = w;
    tex->Levels[0].Height = h;
    tex->Levels[0].Depth = d;
    tex->LevelCount = 1;
    while ((w > 1 || h > 1 || d >= 2) && tex->LevelCount < TEX_MAX_LEVELS)
    {
        w = w / 2 ? w / 2 : 1;
        h = h / 2 ? h / 2 : 1;
        d = d / 2 ? d / 2 : 1;
        STexLevel& l = tex->Levels[tex->LevelCount++];
        l.Width = w;
        l.Height = h;
        l.Depth = d;
    }
}

static u32 ReadU32BE(const u8* p)
{
    return ((u32)p[0] << 24) | ((u32)p[1] << 16) | ((u32)p[2] << 8) | p[3];
}

int TEX_LoadMip(const char* file, u32& level, TPodArray<u8>& bytes, STexture& tex)
{
    if (!file || !*file)
        return 0;
    if (level == 0)
        return ReadArrayFromBinaryFile(file, bytes) ? 1 : 0;

    TPodArray<u8> cache;
    if (!ReadArrayFromBinaryFile(TEX_MipName(file).Str(), cache))
        return 0;
    // Header: version 1, width, height, depth, faces, level count; every value checked, since
    // the file may be truncated or written by anything.
    const u32 size = cache.count;
    if (size < 24)
        return 0;
    const u8* p = cache.data;
    u32 version = ReadU32BE(p), w = ReadU32BE(p + 4), h = ReadU32BE(p + 8), d = ReadU32BE(p + 12),
        faces = ReadU32BE(p + 16), count = ReadU32BE(p + 20);
    // Caches are written for 2D images only.
    if (version != 1 || w == 0 || h == 0 || w > IMG_MAX_DECODE_SIZE || h > IMG_MAX_DECODE_SIZE || d != 1 || faces != 1)
        return 0;
    if (count != ChainLength(w, h, d) || count > TEX_MAX_LEVELS)
        return 0;
    if (tex.LevelCount != 0 &&
        (tex.Width != w || tex.Height != h || tex.Depth != d || tex.Faces != faces || tex.LevelCount != count))
        return 0;

    // Walk every record: lengths must stay inside the file, and the last must end exactly at
    // its end.
    u32 want = level < count - 1 ? level : count - 1;
    if (want == 0)
    {
        // A 1 x 1 image has no cached level: its only level is the image file.
        if (size != 24)
            return 0;
        if (!ReadArrayFromBinaryFile(file, bytes))
            return 0;
    }
    else
    {
        u32 at = 24, found = 0, foundLen = 0;
        for (u32 rec = 1; rec < count; ++rec)
        {
            if (size - at < 4)
                return 0;
            u32 len = ReadU32BE(p + at);
            at += 4;
            if (len > size - at)
                return 0;
            if (rec == want)
            {
                found = at;
                foundLen = len;
            }
            at += len;
        }
        if (at != size || found == 0)
            return 0;
        bytes.Resize(0);
        if (!bytes.Append(p + found, foundLen))
            return 0;
    }
    if (tex.LevelCount == 0)
    {
        tex.Width = w;
        tex.Height = h;
        tex.Depth = d;
        tex.Faces = faces;
    }
    level = want;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Loading files

static void PutU32BE(TPodArray<u8>& arr, u32 v)
{
    u8 b[4] = {(u8)(v >> 24), (u8)(v >> 16), (u8)(v >> 8), (u8)v};
    arr.Append(b, 4);
}

static int FailLoad(STexture* tex, const char* file)
{
    printf("Failed loading texture \"%s\"..\n", file ? file : "");
    fflush(stdout);
    tex->Flags = TEXF_Failed;
    return 0;
}

int TEX_Load(STexture* tex, const char* file, u32 flags)
{
    if (!tex)
        return 0;
    if (!file || !*file || !FileExists(file))
        return FailLoad(tex, file);
    tex->Flags = flags;

    // A streamed texture starts from the smallest cached level; a missing or unusable cache
    // is rebuilt from the image.
    STexImage image;
    TPodArray<u8> bytes;
    bool fromCache = false;
    tex->LevelCount = 0;
    if (!(flags & TEXF_NotStreamed) && FileExists(TEX_MipName(file).Str()))
    {
        u32 level = 100;
        STexture probe;
        if (TEX_LoadMip(file, level, bytes, probe) && DecodePNG(bytes, image) > 0)
        {
            tex->Width = probe.Width;
            tex->Height = probe.Height;
            tex->Depth = probe.Depth;
            tex->Faces = probe.Faces;
            SetupChain(tex);
            const STexLevel& l = tex->Levels[level];
            if (level < tex->LevelCount && image.Width == l.Width && image.Height == l.Height)
            {
                fromCache = true;
                tex->CurLevel = level;
            }
            else
                printf("Mip cache of \"%s\" does not match the image: rebuilding it\n", file);
        }
        else
            printf("Mip cache of \"%s\" is unreadable: rebuilding it\n", file);
        if (!fromCache)
            tex->LevelCount = 0;
    }
    bool writeCache = !fromCache && !(flags & TEXF_NotStreamed);
    if (writeCache)
        tex->Flags |= TEXF_WriteMipCache;
    if (!fromCache)
    {
        tex->CurLevel = 0;
        if (!ReadArrayFromBinaryFile(file, bytes) || DecodePNG(bytes, image) <= 0)
            return FailLoad(tex, file);
        tex->Width = image.Width;
        tex->Height = image.Height;
        tex->Depth = 1;
        tex->Faces = 1;
        SetupChain(tex);
    }
    u32 maxSize = MaxSizeFor(GL_TEXTURE_2D);
    if (tex->Width > maxSize || tex->Height > maxSize)
        return FailLoad(tex, file);

    tex->Name = file;
    tex->Flags |= TEXF_File;
    tex->MinLevel = 0;
    tex->MaxLevel = (tex->Flags & TEXF_NotStreamed) ? 0 : tex->LevelCount - 1;
    tex->CurLevel = (tex->Flags & TEXF_WriteMipCache) ? 0 : tex->MaxLevel;
    tex->InternalFormat = (tex->Flags & TEXF_RGBA8) ? GL_RGBA8 : GL_SRGB8_ALPHA8;
    tex->PixelFormat = GL_RGBA;
    tex->PixelType = GL_UNSIGNED_BYTE;
    tex->BytesPerTexel = 4;
    tex->Format = TEXFMT_RGBA8;

    TPodArray<u8> cache;
    if (writeCache)
    {
        PutU32BE(cache, 1);
        PutU32BE(cache, tex->Width);
        PutU32BE(cache, tex->Height);
        PutU32BE(cache, tex->Depth);
        PutU32BE(cache, tex->Faces);
        PutU32BE(cache, tex->LevelCount);
    }

    GLuint name = 0;
    glGenTextures(1, &name);
    tex->GLName = name;
    TEX_Bind(0xFFFFFFFFu, tex);
    u32 target = tex->GetTarget();
    bool linearOnly = (tex->Flags & TEXF_NotStreamed) && (tex->Flags & TEXF_NoMipmaps);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, linearOnly ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR);
    if (tex->Flags & TEXF_Clamp)
    {
        glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    // Without mipmapping only level 0 is ever sampled, so the chain below it is not built.
    u32 last = linearOnly ? tex->CurLevel : tex->LevelCount - 1;
    for (u32 i = tex->CurLevel; i <= last; ++i)
    {
        const STexLevel& l = tex->Levels[i];
        if (!ResizeImage(image, l.Width, l.Height, l.Depth))
            break;
        if (writeCache && i > 0)
        {
            u32 at = cache.count;
            PutU32BE(cache, 0);
            FByteWriter writer(cache, cache.count);
            if (!EncodePNG(image, writer))
                writeCache = false;
            u32 len = cache.count - at - 4;
            cache.data[at] = (u8)(len >> 24);
            cache.data[at + 1] = (u8)(len >> 16);
            cache.data[at + 2] = (u8)(len >> 8);
            cache.data[at + 3] = (u8)len;
        }
        UploadLevel(tex, i - tex->CurLevel, l.Width, l.Height, l.Depth, GL_UNSIGNED_BYTE, image.Data.data);
    }
    UnbindActive(tex);
    TString key(file);
    TString flagText;
    flagText.Format(32, ":%u", (unsigned)(flags | TEXF_File));
    key += flagText;
    RegisterTexture(tex, key);
    if (writeCache && !WriteArrayToBinaryFile(TEX_MipName(file).Str(), cache))
        printf("Could not write the mip cache of \"%s\"\n", file);
    return 1;
}

int TEX_Get(TextureRef& ref, const char* name, u32 flags)
{
    if (!name)
        name = "";
    TString key(name);
    TString flagText;
    flagText.Format(32, ":%u", (unsigned)(flags | TEXF_File));
    key += flagText;
    if (ref.Obj && !ref.Obj->Key.IsEmpty() && ref.Obj->Key == key)
        return 1;
    ref.Release();
    GTexManager.Lock.Lock();
    STexture** found = GTexManager.IsShutDown ? nullptr : GTexManager.Map.FindValue(key);
    STexture* shared = found ? *found : nullptr;
    if (shared)
        TEX_AddRef(shared);
    GTexManager.Lock.Unlock();
    if (shared)
    {
        ref.Adopt(shared);
        return 1;
    }
    STexture* tex = new STexture;
    ref.Adopt(tex);
    return TEX_Load(tex, name, flags);
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
    TEX_Bind(0xFFFFFFFFu, tex);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.Pixels.data);
    return 1;
}

int TEX_ReadPixelsFloat(STexture* tex, FloatImage& image)
{
    if (!CanReadBack(tex) || !image.Resize(tex->Width, tex->Height, false) || image.Width != tex->Width ||
        image.Height != tex->Height)
        return 0;
    TEX_Bind(0xFFFFFFFFu, tex);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, image.Data.data);
    return 1;
}

int TEX_SaveToFile(STexture* tex, const char* name, bool flip)
{
    SImage2D image;
    if (!TEX_ReadPixels(tex, image))
        return 0;
    if (flip)
        FlipImageRows(image);
    return SaveImage(name, image);
}

// ---------------------------------------------------------------------------------------------
// Streaming

// Loader thread: reads and decodes the requested level and fills the CPU buffers of it and of
// every smaller level. Nothing here is fatal and nothing touches GL; a failure is left for the
// main thread, which returns the texture to the level it had.
static void LoadRequestedLevel(STexture* tex)
{
    tex->LevelFailed = true;
    u32 level = tex->CurLevel;
    TPodArray<u8> bytes;
    STexImage image;
    if (!TEX_LoadMip(tex->Name.Str(), level, bytes, *tex) || level != tex->CurLevel || DecodePNG(bytes, image) <= 0)
        return;
    const STexLevel& first = tex->Levels[level];
    if (image.Width != first.Width || image.Height != first.Height)
        return;
    for (u32 i = level; i < tex->LevelCount; ++i)
    {
        STexLevel& l = tex->Levels[i];
        if (!ResizeImage(image, l.Width, l.Height, l.Depth))
            return;
        MemFree(l.Data);
        l.Data = (u8*)MemAlloc(image.Data.count);
        gMemCpy(l.Data, image.Data.data, image.Data.count);
        l.Size = image.Data.count;
    }
    tex->LevelFailed = false;
}

static u32 LoaderThreadMain(void* context)
{
    STextureManager* m = (STextureManager*)context;
    for (;;)
    {
        m->Lock.Lock();
        if (!m->Running)
        {
            m->Lock.Unlock();
            return 0;
        }
        // Entries are only removed here, so indices stay valid while the lock is released.
        for (u32 i = 0; i < m->Pending.count && m->Running;)
        {
            STexture* tex = m->Pending.data[i];
            if (tex->LoadState != TEXLS_Requested)
            {
                ++i;
                continue;
            }
            m->Lock.Unlock();
            LoadRequestedLevel(tex);
            m->Lock.Lock();
            tex->LoadState = TEXLS_Loaded;
            // The pending entry's reference moves to the done list: this thread never
            // releases a reference, so it never destroys a texture.
            m->Done.Add(tex);
            m->Pending.Remove(i);
        }
        m->Lock.Unlock();
        // Poll every 200 ms, in short naps so that shutdown does not wait for a whole period.
        for (int nap = 0; nap < 20 && m->Running; ++nap)
            ThreadSleep(10);
    }
}

// Main thread: puts a loaded level and the smaller ones into GL, or returns the texture to its
// previous level when the load failed or left a level without data.
static void UploadLoadedLevel(STexture* tex)
{
    bool complete = !tex->LevelFailed && tex->CurLevel < tex->LevelCount;
    for (u32 i = tex->CurLevel; complete && i < tex->LevelCount; ++i)
        if (!tex->Levels[i].Data)
            complete = false;
    if (!complete)
    {
        tex->CurLevel = tex->PrevLevel;
        return;
    }
    TEX_Bind(0xFFFFFFFFu, tex);
    for (u32 i = tex->CurLevel; i < tex->LevelCount; ++i)
    {
        const STexLevel& l = tex->Levels[i];
        UploadLevel(tex, i - tex->CurLevel, l.Width, l.Height, l.Depth, GL_UNSIGNED_BYTE, l.Data);
    }
    u32 target = tex->GetTarget();
    bool linearOnly = (tex->Flags & (TEXF_NotStreamed | TEXF_NoMipmaps)) != 0;
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, linearOnly ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR);
    UnbindActive(tex);
}

void UpdateTextures(float dt)
{
    STextureManager& m = GTexManager;
    if (m.IsShutDown)
        return;
    // Only this thread changes the array, so it is walked without the lock.
    for (u32 i = 0; i < m.Textures.count; ++i)
    {
        STexture* tex = m.Textures.data[i];
        if (tex->Flags & TEXF_NotStreamed)
            continue;
        tex->LevelTimer += dt;
        if (tex->LevelTimer > TEX_LEVEL_INTERVAL)
        {
            // One finer level per interval, down to the full-size level.
            if (tex->LoadState == TEXLS_Idle && tex->CurLevel > tex->MinLevel)
            {
                tex->PrevLevel = tex->CurLevel;
                tex->CurLevel = tex->CurLevel - 1;
                tex->LevelFailed = false;
                tex->LoadState = TEXLS_Requested;
                m.QueueLoad(tex);
            }
            tex->LevelTimer -= TEX_LEVEL_INTERVAL;
        }
        if (tex->LoadState == TEXLS_Loaded)
        {
            UploadLoadedLevel(tex);
            tex->FreeLevelData();
            tex->LoadState = TEXLS_Idle;
        }
    }
    TPodArray<STexture*> done;
    m.Lock.Lock();
    done = m.Done;
    m.Done.Clear();
    m.Lock.Unlock();
    for (u32 i = 0; i < done.count; ++i)
        TEX_ReleaseRef(done.data[i]);
}
