// File textures: loading image files with the ".mips" cache beside them, and the loader thread
// that reads further levels of streamed textures for the main thread to upload.
#include "GameTexture.h"

#include <GL/glew.h>

#include "GArchive.h"
#include "GameFileIO.h"
#include "GameImage.h"
#include "GameRedraw.h"
#include "GameTextureInternal.h"

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

// The cache's header: six big-endian words.
struct SMipCacheHeader
{
    u32 Version;
    u32 Width;
    u32 Height;
    u32 Depth;
    u32 Faces;
    u32 LevelCount;
};
static const u32 MIP_CACHE_VERSION = 1;
static const u32 MIP_CACHE_HEADER_WORDS = sizeof(SMipCacheHeader) / sizeof(u32);
static_assert(sizeof(SMipCacheHeader) == MIP_CACHE_HEADER_WORDS * sizeof(u32), "header words are packed");

int TEX_LoadMip(const char* file, u32& level, TPodArray<u8>& bytes, STexture& tex)
{
    if (!file || !*file)
        return 0;
    if (level == 0)
        return ReadArrayFromBinaryFile(file, bytes) ? 1 : 0;

    TPodArray<u8> cache;
    if (!ReadArrayFromBinaryFile(TEX_MipName(file).Str(), cache))
        return 0;
    // Every value is checked, since the file may be truncated or written by anything; the
    // reader's failure flag catches every read past the end.
    FByteReader reader(cache, 0);
    SMipCacheHeader header;
    if (!reader.Serialize(&header, MIP_CACHE_HEADER_WORDS, sizeof(u32)))
        return 0;
    const u32 w = header.Width, h = header.Height, d = header.Depth, faces = header.Faces, count = header.LevelCount;
    // Caches are written for 2D images only.
    if (header.Version != MIP_CACHE_VERSION || w == 0 || h == 0 || w > IMG_MAX_DECODE_SIZE ||
        h > IMG_MAX_DECODE_SIZE || d != 1 || faces != 1)
        return 0;
    if (count != ChainLength(w, h, d) || count > TEX_MAX_LEVELS)
        return 0;
    if (tex.LevelCount != 0 &&
        (tex.Width != w || tex.Height != h || tex.Depth != d || tex.Faces != faces || tex.LevelCount != count))
        return 0;

    // One record (a length, then a PNG) per level below the image; the last must end exactly
    // at the end of the file.
    u32 want = level < count - 1 ? level : count - 1;
    TPodArray<u8> found;
    for (u32 rec = 1; rec < count; ++rec)
    {
        u32 len = 0;
        if (!reader.Serialize(&len, 1, sizeof(u32)) || len > reader.TotalSize() - reader.Tell())
            return 0;
        if (rec == want)
        {
            // An empty record holds no picture: the cache is damaged and the level unusable.
            if (len == 0 || !found.Resize(len) || !reader.Serialize(found.data, len, 1))
                return 0;
        }
        else
            reader.Seek(reader.Pos + len);
    }
    if (!reader.AtEnd())
        return 0;
    // A 1 x 1 image has no cached level: its only level is the image file.
    if (want == 0)
    {
        if (!ReadArrayFromBinaryFile(file, bytes))
            return 0;
    }
    else
        bytes = found;
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

TString TEX_FileKey(const char* name, u32 flags)
{
    TString key(name ? name : "");
    TString flagText;
    flagText.Format(32, ":%u", (unsigned)(flags | TEXF_File));
    key += flagText;
    return key;
}

// FNV-1a: tells a changed file from the one loaded, not a forged one.
static u64 HashBytes(const TPodArray<u8>& bytes)
{
    const u64 FNV_OFFSET = 14695981039346656037ull, FNV_PRIME = 1099511628211ull;
    u64 h = FNV_OFFSET;
    for (u32 i = 0; i < bytes.Count(); ++i)
        h = (h ^ bytes.data[i]) * FNV_PRIME;
    return h;
}

// Whether tex still stands for its file, whose stamp (taken in the file clock's second) is now.
static bool StillTheSource(STexture* tex, const SFileStamp& now, s64 second)
{
    if (!(tex->Source == now))
        return false;
    if (!tex->SourceRacy)
        return true;
    TPodArray<u8> bytes;
    if (!ReadArrayFromBinaryFile(tex->Name.Str(), bytes) || HashBytes(bytes) != tex->SourceHash)
        return false;
    // Found unchanged once the step of its last change was over: any later change moves the
    // stamp.
    if (!now.ChangedWithinStepOf(second))
        tex->SourceRacy = false;
    return true;
}

// A file name as a line of output shows it: it may come from a document.
static TString Shown(const char* file)
{
    return LogLineText(file ? file : "", file ? (u32)strlen(file) : 0);
}

static int FailLoad(STexture* tex, const char* file, const char* reason)
{
    printf("Failed loading texture \"%s\".. %s\n", Shown(file).Str(), reason);
    fflush(stdout);
    tex->Flags = TEXF_Failed;
    tex->LoadFailure = reason;
    return 0;
}

int TEX_Load(STexture* tex, const char* file, u32 flags)
{
    if (!tex)
        return 0;
    const s64 loadSecond = FileClockSecond();
    if (!file || !*file || !FileExists(file) || !ReadFileStamp(file, tex->Source))
        return FailLoad(tex, file, "the file does not exist or cannot be read");
    tex->SourceRacy = tex->Source.ChangedWithinStepOf(loadSecond);
    tex->Flags = flags;

    // A streamed texture starts from the smallest cached level; a missing or unusable cache
    // is rebuilt from the image, and so is one the caller asks to have written.
    STexImage image;
    TPodArray<u8> bytes;
    bool fromCache = false;
    tex->LevelCount = 0;
    SFileStamp cacheStamp;
    if (!(flags & (TEXF_NotStreamed | TEXF_WriteMipCache)) && ReadFileStamp(TEX_MipName(file).Str(), cacheStamp))
    {
        u32 level = 100;
        STexture probe;
        if (cacheStamp.WrittenBefore(tex->Source))
            printf("Mip cache of \"%s\" is older than the image: rebuilding it\n", Shown(file).Str());
        else if (TEX_LoadMip(file, level, bytes, probe) && DecodePNG(bytes, image) > 0)
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
                printf("Mip cache of \"%s\" does not match the image: rebuilding it\n", Shown(file).Str());
        }
        else
            printf("Mip cache of \"%s\" is unreadable: rebuilding it\n", Shown(file).Str());
        if (!fromCache)
            tex->LevelCount = 0;
    }
    bool writeCache = !fromCache && !(flags & TEXF_NotStreamed);
    if (writeCache)
        tex->Flags |= TEXF_WriteMipCache;
    if (!fromCache)
    {
        tex->CurLevel = 0;
        if (!ReadArrayFromBinaryFile(file, bytes))
            return FailLoad(tex, file, "the file cannot be read");
        TString reason;
        if (DecodePNG(bytes, image, &reason) <= 0)
            return FailLoad(tex, file, reason.Str());
        tex->Width = image.Width;
        tex->Height = image.Height;
        tex->Depth = 1;
        tex->Faces = 1;
        SetupChain(tex);
    }
    if (tex->SourceRacy)
    {
        TPodArray<u8> whole;
        if (fromCache && !ReadArrayFromBinaryFile(file, whole))
            whole.Clear();
        tex->SourceHash = HashBytes(fromCache ? whole : bytes);
    }
    u32 maxSize = TEX_MaxSize(GL_TEXTURE_2D);
    if (tex->Width > maxSize || tex->Height > maxSize)
    {
        TString reason;
        reason.Format(96, "too large: %ux%u, the GL limit is %u each way", tex->Width, tex->Height, maxSize);
        return FailLoad(tex, file, reason.Str());
    }

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
    FByteWriter cacheWriter(cache, 0);
    if (writeCache)
    {
        SMipCacheHeader header = {MIP_CACHE_VERSION, tex->Width, tex->Height, tex->Depth, tex->Faces, tex->LevelCount};
        cacheWriter.Serialize(&header, MIP_CACHE_HEADER_WORDS, sizeof(u32));
    }

    if (!TEX_FitsBudget(TEX_Bytes(tex)))
        return FailLoad(tex, file, TEX_RefusalReason().Str());

    GLuint name = 0;
    glGenTextures(1, &name);
    tex->GLName = name;
    TEX_Bind(TEX_ACTIVE_UNIT, tex);
    bool linearOnly = (tex->Flags & TEXF_NotStreamed) && (tex->Flags & TEXF_NoMipmaps);
    TEX_SetFilters(tex, !linearOnly);
    // Without mipmapping only level 0 is ever sampled, so the chain below it is not built.
    u32 last = linearOnly ? tex->CurLevel : tex->LevelCount - 1;
    for (u32 i = tex->CurLevel; i <= last; ++i)
    {
        const STexLevel& l = tex->Levels[i];
        if (!ResizeImage(image, l.Width, l.Height, l.Depth))
            break;
        if (writeCache && i > 0)
        {
            // The record's length goes in front once the PNG is written.
            const u32 at = cacheWriter.Pos;
            u32 len = 0;
            cacheWriter.Serialize(&len, 1, sizeof(u32));
            if (!EncodePNG(image, cacheWriter))
                writeCache = false;
            len = cacheWriter.Pos - at - sizeof(u32);
            cacheWriter.Seek(at);
            cacheWriter.Serialize(&len, 1, sizeof(u32));
            cacheWriter.Seek(cache.Count());
        }
        TEX_UploadLevel(tex, i - tex->CurLevel, l.Width, l.Height, l.Depth, GL_UNSIGNED_BYTE, image.Data.data);
    }
    TEX_UnbindActive(tex);
    TEX_Register(tex, TEX_FileKey(file, flags));
    if (writeCache && cacheWriter.HasFailed())
        writeCache = false;
    if (writeCache && !WriteArrayToBinaryFile(TEX_MipName(file).Str(), cache))
        printf("Could not write the mip cache of \"%s\"\n", Shown(file).Str());
    return 1;
}

int TEX_Get(TextureRef& ref, const char* name, u32 flags)
{
    if (!name)
        name = "";
    const TString key = TEX_FileKey(name, flags);
    // A texture stands for its file only while the file is the one it was loaded from.
    const s64 second = FileClockSecond();
    SFileStamp now;
    const bool stamped = ReadFileStamp(name, now);
    if (ref.Obj && !ref.Obj->Key.IsEmpty() && ref.Obj->Key == key && stamped && StillTheSource(ref.Obj, now, second))
        return 1;
    ref.Release();
    GTexManager.Lock.Lock();
    STexture** found = GTexManager.IsShutDown ? nullptr : GTexManager.Map.FindValue(key);
    STexture* shared = found && stamped && (*found)->Source == now ? *found : nullptr;
    if (shared)
        TEX_AddRef(shared);
    GTexManager.Lock.Unlock();
    if (shared)
    {
        ref.Adopt(shared);
        if (StillTheSource(shared, now, second))
            return 1;
        ref.Release();
    }
    STexture* tex = new STexture;
    ref.Adopt(tex);
    return TEX_Load(tex, name, flags);
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

u32 TEX_LoaderThreadMain(void* context)
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
        // What is left was queued before its level was asked for: look again now and then.
        // Otherwise sleep until a request or the stop comes, so that an idle program stays asleep.
        const bool waiting = m->Pending.count > 0;
        m->Lock.Unlock();
        m->Wake.Wait(waiting ? TEX_LOADER_POLL_MS : THREAD_INFINITE);
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
    TEX_Bind(TEX_ACTIVE_UNIT, tex);
    for (u32 i = tex->CurLevel; i < tex->LevelCount; ++i)
    {
        const STexLevel& l = tex->Levels[i];
        TEX_UploadLevel(tex, i - tex->CurLevel, l.Width, l.Height, l.Depth, GL_UNSIGNED_BYTE, l.Data);
    }
    bool linearOnly = (tex->Flags & (TEXF_NotStreamed | TEXF_NoMipmaps)) != 0;
    TEX_SetFilters(tex, !linearOnly);
    TEX_UnbindActive(tex);
}

bool TEX_LoadsInFlight()
{
    STextureManager& m = GTexManager;
    if (m.IsShutDown)
        return false;
    m.Lock.Lock();
    const bool busy = m.Pending.count > 0 || m.Done.count > 0;
    m.Lock.Unlock();
    return busy;
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
            // The finer level shows wherever the texture is drawn.
            R_RequestRedraw();
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
