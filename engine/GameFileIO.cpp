#include "GameFileIO.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

TString GBaseFolder;
bool GParseError = false;
bool GDialogRelativePaths = false;

// ---------------------------------------------------------------------------------------------
// Files

static bool IsSeparator(char c)
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
        if (errno == EPERM)
            gSysMessage(strerror(EPERM), name);
        return nullptr;
    }
    struct stat st;
    bool usable = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    // Reading takes regular files only: a directory or a device never ends.
    if (usable && !(flags & FILE_Write) && !S_ISREG(st.st_mode))
        usable = false;
    int fileFlags = usable ? fcntl(fd, F_GETFL) : -1;
    if (fileFlags < 0 || fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) != 0)
    {
        close(fd);
        return nullptr;
    }
    FILE* f = fdopen(fd, mode);
    if (!f)
        close(fd);
    return f;
}

// Reads a file whole into bytes. Fails on any read error; never leaves unread bytes behind.
static bool ReadWholeFile(const char* name, TPodArray<u8>& bytes)
{
    bytes.Resize(0);
    FILE* f = gSysFOpen(name, FILE_Read | FILE_Binary);
    if (!f)
        return false;
    struct stat st;
    u64 hint = 0;
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0)
        hint = (u64)st.st_size;
    bool ok = true;
    // The size is only a hint: the file may change while it is read, so read to the end.
    u64 want = hint + 1;
    for (;;)
    {
        if (want > TEMPLATE_MAX_COUNT || (u64)bytes.Count() + 1 > TEMPLATE_MAX_COUNT)
        {
            ok = false;
            break;
        }
        u32 have = bytes.Count();
        u32 room = (u32)(want > have ? want - have : 4096);
        if (!bytes.Reserve(have + room))
        {
            ok = false;
            break;
        }
        size_t got = fread(bytes.data + have, 1, room, f);
        bytes.count = have + (u32)got;
        if (got < room)
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
static bool WriteInPlace(const char* path, const void* data, size_t size)
{
    int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int fileFlags = fcntl(fd, F_GETFL);
    bool ok = fileFlags >= 0 && fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) == 0;
    ok = ok && WriteAllTo(fd, data, size);
    if (close(fd) != 0)
        ok = false;
    return ok;
}

// Writes the whole content to a temporary file beside the target and renames it over the
// target only when every byte reached the disk: a failed save never destroys the old file.
static bool SafeWriteFile(const char* name, const void* data, size_t size)
{
    TString target = MakeFullPath(name);
    struct stat st;
    // Keep a symbolic link: write where it points.
    if (lstat(target.Str(), &st) == 0 && S_ISLNK(st.st_mode))
    {
        char* real = realpath(target.Str(), nullptr);
        if (real)
        {
            target = real;
            free(real);
        }
    }
    bool exists = stat(target.Str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return false;
    if (exists && !S_ISREG(st.st_mode))
        return WriteInPlace(target.Str(), data, size);

    static std::atomic<u32> GTempCounter(0);
    TString temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt)
    {
        temp.Format(target.Length() + 64, "%s.tmp%d-%u", target.Str(), (int)getpid(), GTempCounter++);
        fd = open(temp.Str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = WriteAllTo(fd, data, size);
    if (ok && exists)
    {
        // The new file takes the old one's permissions and, where allowed, its owner.
        (void)!fchown(fd, st.st_uid, st.st_gid);
        ok = fchmod(fd, st.st_mode & 07777) == 0;
    }
    if (ok)
        ok = fsync(fd) == 0;
    if (close(fd) != 0)
        ok = false;
    if (ok)
        ok = rename(temp.Str(), target.Str()) == 0;
    if (!ok)
        unlink(temp.Str());
    return ok;
}

bool ReadTextFile(const char* name, TString& out)
{
    out = "";
    TPodArray<u8> bytes;
    if (!ReadWholeFile(name, bytes))
        return false;
    // Text mode: CR LF line ends become LF.
    u32 n = 0;
    for (u32 i = 0; i < bytes.Count(); ++i)
        if (!(bytes.data[i] == '\r' && i + 1 < bytes.Count() && bytes.data[i + 1] == '\n'))
            bytes.data[n++] = bytes.data[i];
    out.Assign((const char*)bytes.data, n);
    return true;
}

bool WriteTextFile(const char* name, const TString& text)
{
    return SafeWriteFile(name, text.Str(), text.Length());
}

bool ReadArrayFromBinaryFile(const char* name, TPodArray<u8>& bytes)
{
    return ReadWholeFile(name, bytes);
}

bool WriteArrayToBinaryFile(const char* name, const TPodArray<u8>& bytes)
{
    return SafeWriteFile(name, bytes.data, bytes.Count());
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

// ---------------------------------------------------------------------------------------------
// Paths

static TString ForwardSlashes(const TString& path)
{
    TString r(path);
    for (u32 i = 0; i < r.count; ++i)
        if (r.text[i] == '\\')
            r.text[i] = '/';
    return r;
}

TString MakeFullPath(const TString& name)
{
    TString n = ForwardSlashes(name);
    if (n.Length() > 0 && n.text[0] == '/')
        return n;
    return ForwardSlashes(GBaseFolder) + n;
}

TString AddTrailingSlash(const TString& folder)
{
    if (folder.IsEmpty() || IsSeparator(folder.text[folder.count - 1]))
        return folder;
    return folder + "/";
}

static s32 LastSeparator(const TString& path)
{
    for (s32 i = (s32)path.Length() - 1; i >= 0; --i)
        if (IsSeparator(path.text[i]))
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
    if (n >= 2 && text.text[0] == '"' && text.text[n - 1] == '"')
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
        while (i < path.Length() && path.text[i] == '/')
            ++i;
        u32 start = i;
        while (i < path.Length() && path.text[i] != '/')
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
    char last = file.text[file.Length() - 1];
    if (BREAK_IF(last == '/' || last == '\\'))
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
        while (skip < rel.Length() && IsSeparator(rel.text[skip]))
            ++skip;
        if (skip < rel.Length())
            out = TString(rel.Str() + skip, rel.Length() - skip);
    }
    return result;
}

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
    while ((u32)pos < text.Length() && pred(text.text[pos]))
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
    return (u32)i < text.Length() && gIsDigit((unsigned char)text.text[i]);
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
    if ((u32)at < text.Length() && text.text[at] == '-')
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
    if ((u32)at < text.Length() && text.text[at] == '-')
        ++at;
    bool digits = false;
    while (IsDigitAt(text, at))
    {
        ++at;
        digits = true;
    }
    if ((u32)at < text.Length() && (text.text[at] == '.' || text.text[at] == ','))
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
    if ((u32)at < text.Length() && (text.text[at] == 'e' || text.text[at] == 'E'))
    {
        s32 e = at + 1;
        if ((u32)e < text.Length() && (text.text[e] == '+' || text.text[e] == '-'))
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
    while (quote < n && text.text[quote] != '"')
        ++quote;
    // A backslash escapes the character after it, so a quote ends the text only after an
    // even number of backslashes.
    u32 i = quote + 1;
    while (i < n && text.text[i] != '"')
        i += text.text[i] == '\\' ? 2 : 1;
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
    if (!CursorInText(text, pos) || (u32)pos >= text.Length() || text.text[pos] != c)
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
        if (text.text[pos++] == '\n')
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
        if (text.text[--pos] == '\n')
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

static bool ExpandIncludes(const TString& name, TString& out, TArray<TString>& openFiles, int depth)
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
    TString folder = ExtractFilePath(name);

    openFiles.Add(canonical);
    bool ok = true;
    s32 pos = 0;
    while (ok && (u32)pos < out.Length())
    {
        s32 lineStart = pos;
        s32 lineEnd = lineStart;
        while ((u32)lineEnd < out.Length() && out.text[lineEnd] != '\n')
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
        TString path = !included.IsEmpty() && IsSeparator(included.text[0]) ? included : folder + included;
        TString expanded;
        if (!ExpandIncludes(path, expanded, openFiles, depth + 1))
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
    return ExpandIncludes(TString(name), out, openFiles, 0);
}
