// The engine's file layer: opening by engine mode flags with relative names resolved against
// the data root, whole-file reads and safe whole-file writes, existence and modification
// times, path functions, a sorted directory listing and the file dialog. The text readers and
// the "#include" expansion live in GameParse.h.
#pragma once

#include "GameSys.h"
#include "GString.h"
#include "GTemplate.h"

// The data root that relative names are resolved against (ends with '/'); the engine main
// sets it at start-up.
extern TString GBaseFolder;
// When set, FileOpenDialog returns paths relative to GBaseFolder where it can.
extern bool GDialogRelativePaths;

// Engine file mode flags.
enum
{
    FILE_Read = 1,
    FILE_Write = 2,
    FILE_Binary = 4,
};

// ---------------------------------------------------------------------------------------------
// Files

// Opens by engine mode flags (null for flags with neither read nor write). Only regular files
// are opened, and never by waiting (a pipe without a writer, say, fails at once); reading takes
// none of the kernel's own file systems (proc, sysfs: ENODATA, GameFileAccess.h) and never waits
// either. errno tells a failure.
FILE* gSysFOpen(const char* name, int flags);
// Why name cannot be read as a file, in words (the system's reason, or what it is when it is not
// a regular file); empty when it can. Nothing is opened that is not a regular file, so asking
// never waits on a pipe nor touches a device. Every rule that keeps a source from being read
// belongs here, so that all of them are reported the same way.
TString FileReadRefusal(const char* name);
// Whole text file, with CR LF line ends turned into LF. false when it cannot be read whole.
bool ReadTextFile(const char* name, TString& out);
// The same for a file of at most limit bytes; a larger one is not read: false, with the size that
// told so in size (on success, the bytes read).
bool ReadTextFile(const char* name, TString& out, u64 limit, u64& size);
// The same for a file opened for reading already (OpenFileToRead, GameFileAccess.h); the
// descriptor is closed in every case.
bool ReadTextFileFrom(int fd, TString& out, u64 limit, u64& size);
// Writes through a temporary file renamed over the target only when every byte got there. The
// temporary file is its owner's alone until it takes the old file's permissions (GameFilePermissions.h;
// a new file's: 0666 less the umask) just before the rename. An existing file is replaced only where
// it could be written in place, and every link on the path is followed as GameFileAccess.h says;
// false with the cause in errno.
bool WriteTextFile(const char* name, const TString& text);
// A name beside target ("<target>.tmp<pid>-<n>") that no other writer in this process is
// given, for content that is renamed over the target once complete. It stays within the
// folder's name limit: a long target name is cut before the suffix.
TString MakeTempName(const TString& target);
bool ReadArrayFromBinaryFile(const char* name, TPodArray<u8>& bytes);
// Whether a finished write may take a name that something has.
enum EWriteTarget
{
    WRITE_Replace, // whatever has the name is replaced (where it could be written in place)
    WRITE_NewOnly, // the name is taken in one step only where nothing has it: false with EEXIST (on
                   // a file system that can neither rename without replacing nor link, the file is
                   // made under the name exclusively, and removed on failure)
};
// As WriteTextFile.
bool WriteArrayToBinaryFile(const char* name, const TPodArray<u8>& bytes, EWriteTarget target = WRITE_Replace);
// A readable regular file.
bool FileExists(const char* name);
// Last-write time in seconds since 1970-01-01 UTC; 0 when unknown.
u64 FileModifiedTime(const char* name);

// The step of the coarsest file times a file may come with: FAT keeps last-write times in steps of
// two seconds and no status-change time, so a rewrite within the step leaves the whole stamp as it
// was.
const s64 FILE_TIME_STEP_SECONDS = 2;

// What tells one version of a file from the next: its identity (device and inode), its size, its
// last-write time and its status-change time to the nanosecond. The last-write time can be put
// back by anyone who may write the file; the status-change time cannot, it moves with every write.
struct SFileStamp
{
    u64 Device = 0;
    u64 Inode = 0;
    u64 Size = 0;
    s64 Seconds = 0;
    s64 Nanoseconds = 0;
    s64 ChangeSeconds = 0;
    s64 ChangeNanoseconds = 0;

    bool operator==(const SFileStamp& o) const
    {
        return Device == o.Device && Inode == o.Inode && Size == o.Size && Seconds == o.Seconds &&
               Nanoseconds == o.Nanoseconds && ChangeSeconds == o.ChangeSeconds &&
               ChangeNanoseconds == o.ChangeNanoseconds;
    }
    // Last written before the other was last written or changed.
    bool WrittenBefore(const SFileStamp& o) const
    {
        return Before(Seconds, Nanoseconds, o.Seconds, o.Nanoseconds) ||
               Before(Seconds, Nanoseconds, o.ChangeSeconds, o.ChangeNanoseconds);
    }
    // Written or changed so shortly before the given second of the file clock (or later) that
    // another change since may have left the stamp as it is: within the step of the coarsest file
    // times, or between two ticks of the clock.
    bool ChangedWithinStepOf(s64 second) const
    {
        return Seconds > second - FILE_TIME_STEP_SECONDS || ChangeSeconds > second - FILE_TIME_STEP_SECONDS;
    }

private:
    static bool Before(s64 s, s64 ns, s64 os, s64 ons) { return s < os || (s == os && ns < ons); }
};
// The second the clock that stamps files is in now.
s64 FileClockSecond();
// The stamp of a regular file; false when there is none.
bool ReadFileStamp(const char* name, SFileStamp& stamp);
// How ReadFileStamp reads a file's status: stat(2), unless a test stands a file system with
// coarser times in.
struct stat;
typedef int (*TFileStatus)(const char* path, struct stat* st);
extern TFileStatus GFileStatus;

// ---------------------------------------------------------------------------------------------
// Paths. Names may use '\' as well as '/'; what reaches the system uses '/'.

// A path separator: '/' or '\'.
bool IsPathSeparator(char c);
// Absolute names (a leading separator) are kept; others are prefixed with GBaseFolder.
TString MakeFullPath(const TString& name);
TString AddTrailingSlash(const TString& folder);
TString ExtractFileName(const TString& path);
TString ExtractFilePath(const TString& path);
TString QuoteString(const TString& text);
TString StripQuotes(const TString& text);
// file relative to folder, by whole path components ("../textures/a.png"); empty when file is
// empty or names no file.
TString MakeRelativePath(const TString& file, const TString& folder);

// ---------------------------------------------------------------------------------------------
// Directory listing: every entry of a folder (including "." and ".."), sorted by name so that
// results do not depend on the file system's order.
class SFileFind
{
public:
    explicit SFileFind(const char* folder);
    ~SFileFind();

    bool IsValid() const { return Valid; }
    // The current entry's name; empty when not valid.
    TString GetName() const;
    // Steps to the next entry; false at the end.
    bool Next();

private:
    SFileFind(const SFileFind&) = delete;
    SFileFind& operator=(const SFileFind&) = delete;

    bool Valid;
    TArray<TString> Names;
    u32 Current;
};

// ---------------------------------------------------------------------------------------------
// File dialog: non-zero when a file was chosen (out receives it; relative to GBaseFolder when
// GDialogRelativePaths is set and that is possible), 0 when cancelled.
int FileOpenDialog(const char* initialFolder, const char* filter, TString& out, int save);
