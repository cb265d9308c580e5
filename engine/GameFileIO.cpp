#include "GameFileIO.h"

#include "GameFileAccess.h"
#include "GameFilePermissions.h"
#include "GameTempFiles.h"
#include "GameThread.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

TString GBaseFolder;
bool GDialogRelativePaths = false;

// ---------------------------------------------------------------------------------------------
// Files

bool IsPathSeparator(char c)
{
    return c == '/' || c == '\\';
}

FILE* gSysFOpen(const char* name, int flags)
{
    if (!(flags & (FILE_Read | FILE_Write)))
        return nullptr;
    TString full = MakeFullPath(name);

    int openFlags;
    const char* mode;
    if (flags & FILE_Write)
    {
        openFlags = ((flags & FILE_Read) ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
        mode = (flags & FILE_Read) ? "w+" : "w";
    }
    else
    {
        openFlags = O_RDONLY;
        mode = "r";
    }
    // Non-blocking for the open itself: a pipe with nobody on the other end fails instead of
    // waiting forever.
    int fd = open(full.Str(), openFlags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
    {
        // Only the main thread asks a person: a worker (the texture loader) must never wait on
        // a box, and leaves its failures for the main thread to report.
        if (errno == EPERM && ThreadIsMain())
            gSysMessage(strerror(EPERM), name);
        return nullptr;
    }
    const bool reading = !(flags & FILE_Write);
    struct stat st;
    int failure = 0;
    if (fstat(fd, &st) != 0)
        failure = errno;
    else if (S_ISDIR(st.st_mode))
        failure = EISDIR;
    // Reading takes regular files only: a device never ends, and neither do some of the files
    // the kernel shows of itself, regular as they look.
    else if (reading && !S_ISREG(st.st_mode))
        failure = EINVAL;
    else if (reading && KernelFileSystemOf(fd))
        failure = ENODATA;
    // A read stays non-blocking: for stored data that changes nothing, and whatever would still
    // wait fails instead.
    const int fileFlags = failure ? -1 : fcntl(fd, F_GETFL);
    if (!failure && (fileFlags < 0 || (!reading && fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) != 0)))
        failure = errno;
    if (failure)
    {
        close(fd);
        errno = failure;
        return nullptr;
    }
    FILE* f = fdopen(fd, mode);
    if (!f)
        close(fd);
    return f;
}

// Reads a file whole into bytes, unless it holds more than limit bytes: then nothing more is read
// once that is known (from its size, or while reading a file that grows). size receives the bytes
// read, or the size that made it too large. Fails on any read error; never leaves unread bytes behind.
static bool ReadWholeStream(FILE* f, TPodArray<u8>& bytes, u64 limit, u64& size)
{
    bytes.Resize(0);
    size = 0;
    if (!f)
        return false;
    if (limit > TEMPLATE_MAX_COUNT - 1)
        limit = TEMPLATE_MAX_COUNT - 1;
    struct stat st;
    u64 hint = 0;
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0)
        hint = (u64)st.st_size;
    bool ok = hint <= limit;
    if (!ok)
        size = hint;
    // The size is only a hint: the file may change while it is read, so read to the end, and one
    // byte past the limit tells a file that grew beyond it.
    u64 want = hint + 1;
    while (ok)
    {
        if (want > limit + 1)
            want = limit + 1;
        const u32 have = bytes.Count();
        u64 room = want > have ? want - have : 4096;
        if (have + room > limit + 1)
            room = limit + 1 - have;
        if (!bytes.Reserve(have + (u32)room))
        {
            ok = false;
            break;
        }
        const size_t got = fread(bytes.data + have, 1, (size_t)room, f);
        bytes.count = have + (u32)got;
        size = bytes.Count();
        if (size > limit)
            ok = false;
        else if (got < room)
        {
            if (ferror(f))
                ok = false;
            break;
        }
        want = (u64)bytes.Count() * 2;
    }
    if (fclose(f) != 0)
        ok = false;
    if (!ok)
        bytes.Clear();
    return ok;
}

static bool ReadWholeFile(const char* name, TPodArray<u8>& bytes, u64 limit, u64& size)
{
    bytes.Resize(0);
    size = 0;
    return ReadWholeStream(gSysFOpen(name, FILE_Read | FILE_Binary), bytes, limit, size);
}

static bool WriteAllTo(int fd, const void* data, size_t size)
{
    const u8* p = (const u8*)data;
    while (size > 0)
    {
        ssize_t n = write(fd, p, size);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

// Writes straight into something that is not a regular file (a device or a pipe): there is no
// previous content to keep and nothing to rename.
static bool WriteInPlace(int folder, const char* name, const void* data, size_t size)
{
    int fd = openat(folder, name, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    int fileFlags = fcntl(fd, F_GETFL);
    bool ok = fileFlags >= 0 && fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) == 0;
    ok = ok && WriteAllTo(fd, data, size);
    if (close(fd) != 0)
        ok = false;
    return ok;
}

// The mode a plain create gives a new file: 0666 less the umask. The umask is read where the
// system shows it, since setting it to read it back would change it for the other threads.
static mode_t NewFileMode()
{
    const mode_t created = 0666;
    mode_t mask = 0;
    bool known = false;
    if (FILE* f = fopen("/proc/self/status", "re"))
    {
        char line[256];
        unsigned value = 0;
        while (!known && fgets(line, sizeof(line), f))
            known = sscanf(line, "Umask: %o", &value) == 1;
        fclose(f);
        mask = (mode_t)value;
    }
    if (!known)
    {
        mask = umask(0);
        umask(mask);
    }
    return created & ~mask;
}

// Gives the finished file its name: over whatever has it, or only where nothing has it yet. A file
// system that cannot rename without replacing gets a hard link, which never replaces either; the
// temporary name is then removed by the caller. linked tells that; unsupported tells a file system
// that has neither (FAT), with errno as the link left it.
static bool TakeName(int folder, const char* temp, const char* name, EWriteTarget target, bool& linked,
                     bool& unsupported)
{
    linked = false;
    unsupported = false;
    if (target == WRITE_Replace)
        return renameat(folder, temp, folder, name) == 0;
    if (renameat2(folder, temp, folder, name, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    linked = linkat(folder, temp, folder, name, 0) == 0;
    unsupported = !linked && (errno == EPERM || errno == ENOSYS || errno == EOPNOTSUPP);
    return linked;
}

// Where a file system can neither rename without replacing nor link, the file is made under its
// own name, exclusively, so that it never replaces one; it is removed again on any failure and by
// a signal that ends the run, as long as the name still holds it.
static bool WriteExclusively(int folder, const char* name, const void* data, size_t size, mode_t mode)
{
    const int slot = SharedNameFileStarted(folder, name);
    const int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    struct stat mine = {};
    bool ok = fd >= 0 && fstat(fd, &mine) == 0;
    if (ok)
        TempFileCreated(slot, (u64)mine.st_dev, (u64)mine.st_ino);
    ok = ok && WriteAllTo(fd, data, size) && fsync(fd) == 0 && SetFileMode(fd, mode);
    if (fd >= 0 && close(fd) != 0)
        ok = false;
    if (!ok && fd >= 0)
    {
        const int err = errno;
        struct stat now;
        if (fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == mine.st_ino && now.st_dev == mine.st_dev)
            unlinkat(folder, name, 0);
        errno = err;
    }
    TempFileDone(slot);
    return ok;
}

// The longest file name a folder takes; NAME_MAX when the system does not say.
static u32 NameLimit(const TString& folder)
{
    const long limit = pathconf(folder.IsEmpty() ? "." : folder.Str(), _PC_NAME_MAX);
    return limit > 0 ? (u32)limit : (u32)NAME_MAX;
}

TString MakeTempName(const TString& target)
{
    static std::atomic<u32> GTempCounter(0);
    char suffix[48];
    snprintf(suffix, sizeof(suffix), ".tmp%d-%u", (int)getpid(), (unsigned)GTempCounter++);
    const u32 suffixLength = (u32)strlen(suffix);
    // A target whose name is already near the folder's limit gets a shortened temporary name:
    // the name is cut (never inside a UTF-8 character) so that the suffix still fits.
    u32 nameStart = target.Length();
    while (nameStart > 0 && target.Str()[nameStart - 1] != '/')
        --nameStart;
    TString folder;
    folder.Assign(target.Str(), nameStart);
    const u32 limit = NameLimit(folder);
    u32 keep = target.Length() - nameStart;
    if (keep + suffixLength > limit)
    {
        keep = limit > suffixLength ? limit - suffixLength : 0;
        while (keep > 0 && ((u8)target.Str()[nameStart + keep] & 0xC0) == 0x80)
            --keep;
    }
    TString temp;
    temp.Assign(target.Str(), nameStart + keep);
    temp += suffix;
    return temp;
}

// Writes the whole content to a temporary file beside the target and renames it over the
// target only when every byte reached the disk: a failed save never destroys the old file.
static bool SafeWriteFile(const char* name, const void* data, size_t size, EWriteTarget target)
{
    // A link is written where it points, dangling or not, as a plain write through it would be;
    // the link itself stays. Everything from here on happens in the folder held open.
    SPathFolder at;
    if (!OpenPathFolder(MakeFullPath(name), at))
        return false;
    struct stat st;
    bool exists = fstatat(at.Fd, at.Name.Str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(st.st_mode))
    {
        errno = EISDIR;
        return false;
    }
    if (exists && target == WRITE_NewOnly)
    {
        errno = EEXIST;
        return false;
    }
    if (exists && !S_ISREG(st.st_mode))
        return WriteInPlace(at.Fd, at.Name.Str(), data, size);
    // Renaming needs only the folder's permission: a file that may not be written in place (read
    // only, another user's) is not replaced either.
    if (exists && !CanWriteInPlace(at.Fd, at.Name.Str()))
        return false;

    // The name part of the temporary name, by length: a name may hold a backslash.
    const u32 folderLength = at.Path.Length() - at.Name.Length();
    TString temp;
    int fd = -1;
    int slot = -1;
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const TString tempPath = MakeTempName(at.Path);
        temp.Assign(tempPath.Str() + folderLength, tempPath.Length() - folderLength);
        // Recorded before it exists, so that no signal finds it unrecorded.
        slot = TempFileStarted(at.Fd, temp.Str());
        // Nobody else may open what is being written: a private file's new content is no one
        // else's while it is written either.
        fd = openat(at.Fd, temp.Str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd >= 0)
            break;
        const int err = errno;
        TempFileDone(slot);
        errno = err;
        if (err != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = WriteAllTo(fd, data, size);
    if (ok)
        ok = fsync(fd) == 0;
    // The new file allows what the old one did, and is given its owner and group where allowed.
    if (ok && exists)
    {
        SReplacedFile old;
        ReadReplacedFile(at.Fd, at.Name.Str(), st, old);
        ok = GiveReplacedFilePermissions(fd, old, at.Path.Str());
    }
    else if (ok)
        ok = SetFileMode(fd, NewFileMode());
    if (close(fd) != 0)
        ok = false;
    bool linked = false, unsupported = false;
    if (ok)
        ok = TakeName(at.Fd, temp.Str(), at.Name.Str(), target, linked, unsupported);
    if (!ok && unsupported)
        ok = WriteExclusively(at.Fd, at.Name.Str(), data, size, NewFileMode());
    if (!ok || linked || unsupported)
    {
        // The caller reports the cause of the failure, not of the clean-up.
        const int err = errno;
        unlinkat(at.Fd, temp.Str(), 0);
        errno = err;
    }
    TempFileDone(slot);
    return ok;
}

bool ReadTextFile(const char* name, TString& out)
{
    u64 size;
    return ReadTextFile(name, out, TEMPLATE_MAX_COUNT, size);
}

// CR LF line ends become LF, as text mode reads them.
static void TextFromBytes(TPodArray<u8>& bytes, TString& out)
{
    u32 n = 0;
    for (u32 i = 0; i < bytes.Count(); ++i)
        if (!(bytes.data[i] == '\r' && i + 1 < bytes.Count() && bytes.data[i + 1] == '\n'))
            bytes.data[n++] = bytes.data[i];
    out.Assign((const char*)bytes.data, n);
}

bool ReadTextFile(const char* name, TString& out, u64 limit, u64& size)
{
    out = "";
    TPodArray<u8> bytes;
    if (!ReadWholeFile(name, bytes, limit, size))
        return false;
    TextFromBytes(bytes, out);
    return true;
}

bool ReadTextFileFrom(int fd, TString& out, u64 limit, u64& size)
{
    out = "";
    size = 0;
    FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!f && fd >= 0)
        close(fd);
    TPodArray<u8> bytes;
    if (!ReadWholeStream(f, bytes, limit, size))
        return false;
    TextFromBytes(bytes, out);
    return true;
}

bool WriteTextFile(const char* name, const TString& text)
{
    return SafeWriteFile(name, text.Str(), text.Length(), WRITE_Replace);
}

bool ReadArrayFromBinaryFile(const char* name, TPodArray<u8>& bytes)
{
    u64 size;
    return ReadWholeFile(name, bytes, TEMPLATE_MAX_COUNT, size);
}

bool WriteArrayToBinaryFile(const char* name, const TPodArray<u8>& bytes, EWriteTarget target)
{
    return SafeWriteFile(name, bytes.data, bytes.Count(), target);
}

static const u32 FILE_REFUSAL_SIZE = 128;

static const char* FileKindName(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a file";
}

TString FileReadRefusal(const char* name)
{
    if (!name || !*name)
        return TString("no file named");
    const TString full = MakeFullPath(name);
    struct stat st;
    if (stat(full.Str(), &st) != 0)
        return TString(strerror(errno));
    if (S_ISDIR(st.st_mode))
        return TString(strerror(EISDIR));
    if (!S_ISREG(st.st_mode))
    {
        TString why("not a regular file but ");
        why += FileKindName(st.st_mode);
        return why;
    }
    if (const char* system = KernelFileSystemAt(full.Str()))
    {
        TString why;
        why.Format(FILE_REFUSAL_SIZE, "it lies on the kernel's %s file system, which holds no stored data", system);
        return why;
    }
    const int fd = open(full.Str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return TString(strerror(errno));
    close(fd);
    return TString();
}

bool FileExists(const char* name)
{
    FILE* f = gSysFOpen(name, FILE_Read | FILE_Binary);
    if (!f)
        return false;
    fclose(f);
    return true;
}

u64 FileModifiedTime(const char* name)
{
    FILE* f = gSysFOpen(name, FILE_Read | FILE_Binary);
    if (!f)
        return 0;
    struct stat st;
    u64 result = 0;
    if (fstat(fileno(f), &st) == 0 && st.st_mtime > 0)
        result = (u64)st.st_mtime;
    fclose(f);
    return result;
}

TFileStatus GFileStatus = &stat;

bool ReadFileStamp(const char* name, SFileStamp& stamp)
{
    struct stat st;
    if (!name || GFileStatus(MakeFullPath(name).Str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    stamp.Device = (u64)st.st_dev;
    stamp.Inode = (u64)st.st_ino;
    stamp.Size = (u64)st.st_size;
    stamp.Seconds = (s64)st.st_mtim.tv_sec;
    stamp.Nanoseconds = (s64)st.st_mtim.tv_nsec;
    stamp.ChangeSeconds = (s64)st.st_ctim.tv_sec;
    stamp.ChangeNanoseconds = (s64)st.st_ctim.tv_nsec;
    return true;
}

s64 FileClockSecond()
{
    // File times come from the coarse clock, which may lag the precise one by a tick.
    timespec now;
    if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0 && clock_gettime(CLOCK_REALTIME, &now) != 0)
        return 0;
    return (s64)now.tv_sec;
}

// ---------------------------------------------------------------------------------------------
// Paths

static TString ForwardSlashes(const TString& path)
{
    TString r(path);
    for (u32 i = 0; i < r.Length(); ++i)
        if (r.Str()[i] == '\\')
            *r.At(i) = '/';
    return r;
}

TString MakeFullPath(const TString& name)
{
    TString n = ForwardSlashes(name);
    if (n.Length() > 0 && n.Str()[0] == '/')
        return n;
    return ForwardSlashes(GBaseFolder) + n;
}

TString AddTrailingSlash(const TString& folder)
{
    if (folder.IsEmpty() || IsPathSeparator(folder.Str()[folder.Length() - 1]))
        return folder;
    return folder + "/";
}

static s32 LastSeparator(const TString& path)
{
    for (s32 i = (s32)path.Length() - 1; i >= 0; --i)
        if (IsPathSeparator(path.Str()[i]))
            return i;
    return -1;
}

TString ExtractFileName(const TString& path)
{
    s32 at = LastSeparator(path);
    return TString(path.Str() + at + 1, path.Length() - (u32)(at + 1));
}

TString ExtractFilePath(const TString& path)
{
    s32 at = LastSeparator(path);
    return TString(path.Str(), (u32)(at + 1));
}

TString QuoteString(const TString& text)
{
    TString r("\"");
    r += text;
    r += '"';
    return r;
}

TString StripQuotes(const TString& text)
{
    u32 n = text.Length();
    if (n >= 2 && text.Str()[0] == '"' && text.Str()[n - 1] == '"')
        return TString(text.Str() + 1, n - 2);
    return text;
}

// Splits an absolute path into its components, resolving "." and ".." as the system would
// for a path without links.
static void SplitComponents(const TString& path, TArray<TString>& parts)
{
    parts.Clear();
    u32 i = 0;
    while (i < path.Length())
    {
        while (i < path.Length() && path.Str()[i] == '/')
            ++i;
        u32 start = i;
        while (i < path.Length() && path.Str()[i] != '/')
            ++i;
        if (i == start)
            break;
        TString part(path.Str() + start, i - start);
        if (part == ".")
            continue;
        if (part == "..")
        {
            if (parts.Count() > 0)
                parts.Remove(parts.Count() - 1);
            continue;
        }
        parts.Add(part);
    }
}

TString MakeRelativePath(const TString& file, const TString& folder)
{
    if (file.IsEmpty())
        return TString();
    if (folder.IsEmpty())
        return file;
    char last = file.Str()[file.Length() - 1];
    if (BREAK_IF_TEXT(last == '/' || last == '\\',
                      "file[ file.Size() - 1 ] == _T('/') || file[ file.Size() - 1 ] == _T('\\\\')"))
        return TString();

    TArray<TString> fileParts;
    TArray<TString> folderParts;
    SplitComponents(MakeFullPath(file), fileParts);
    SplitComponents(MakeFullPath(folder), folderParts);

    u32 common = 0;
    while (common < fileParts.Count() && common < folderParts.Count() &&
           fileParts[common] == folderParts[common])
        ++common;
    // The file is the folder itself: it has no name of its own below the folder.
    if (common == fileParts.Count())
        return TString();

    TString r;
    for (u32 i = common; i < folderParts.Count(); ++i)
        r += "../";
    for (u32 i = common; i < fileParts.Count(); ++i)
    {
        if (i > common)
            r += '/';
        r += fileParts[i];
    }
    return r;
}

// ---------------------------------------------------------------------------------------------
// Directory listing

SFileFind::SFileFind(const char* folder) : Valid(false), Current(0)
{
    TString path = MakeFullPath(folder);
    DIR* dir = opendir(path.IsEmpty() ? "." : path.Str());
    if (!dir)
        return;
    while (struct dirent* entry = readdir(dir))
        Names.Add(TString(entry->d_name));
    closedir(dir);
    std::sort(Names.begin(), Names.end(),
              [](const TString& a, const TString& b) { return gStrCmp(a.Str(), b.Str()) < 0; });
    Valid = Names.Count() > 0;
}

SFileFind::~SFileFind()
{
}

TString SFileFind::GetName() const
{
    if (!Valid)
        return TString();
    return Names[Current];
}

bool SFileFind::Next()
{
    if (Valid && ++Current >= Names.Count())
        Valid = false;
    return Valid;
}

// ---------------------------------------------------------------------------------------------
// File dialog

int FileOpenDialog(const char* initialFolder, const char* filter, TString& out, int save)
{
    TString start;
    if (initialFolder && initialFolder[0])
        start = MakeFullPath(initialFolder);
    // As large as any path the system accepts, so that no chosen path is cut.
    char buffer[PATH_MAX + 1];
    buffer[0] = 0;
    int result = gSysFileOpen(start.Str(), filter, buffer, sizeof(buffer), save);
    if (!result)
        return 0;
    out = buffer;
    if (GDialogRelativePaths)
    {
        TString rel = MakeRelativePath(out, GBaseFolder);
        u32 skip = 0;
        while (skip < rel.Length() && IsPathSeparator(rel.Str()[skip]))
            ++skip;
        if (skip < rel.Length())
            out = TString(rel.Str() + skip, rel.Length() - skip);
    }
    return result;
}
