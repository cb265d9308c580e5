#include "GameFileAccess.h"

#include "GTemplate.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace
{
// The kernel gives up on a lookup after this many links.
const int MAX_LINK_HOPS = 40;
const u32 GUARD_REASON_SIZE = PATH_MAX + 128;
const mode_t OTHERS_WRITE = S_IWGRP | S_IWOTH;

// Not in the system's magic header.
const long CONFIGFS_MAGIC = 0x62656570;
const long FUSECTL_MAGIC = 0x65735543;

struct SKernelFileSystem
{
    long Magic;
    const char* Name;
};
const SKernelFileSystem KERNEL_FILE_SYSTEMS[] = {
    {PROC_SUPER_MAGIC, "proc"},         {SYSFS_MAGIC, "sysfs"},           {DEBUGFS_MAGIC, "debugfs"},
    {TRACEFS_MAGIC, "tracefs"},         {SECURITYFS_MAGIC, "securityfs"}, {CGROUP_SUPER_MAGIC, "cgroup"},
    {CGROUP2_SUPER_MAGIC, "cgroup2"},   {BPF_FS_MAGIC, "bpf"},            {PSTOREFS_MAGIC, "pstore"},
    {EFIVARFS_MAGIC, "efivarfs"},       {BINFMTFS_MAGIC, "binfmt_misc"},  {SELINUX_MAGIC, "selinuxfs"},
    {SMACK_MAGIC, "smackfs"},           {DEVPTS_SUPER_MAGIC, "devpts"},   {NSFS_MAGIC, "nsfs"},
    {CONFIGFS_MAGIC, "configfs"},       {FUSECTL_MAGIC, "fusectl"},
};

const char* KernelFileSystemNamed(const struct statfs& fs)
{
    for (const SKernelFileSystem& k : KERNEL_FILE_SYSTEMS)
        if ((unsigned long)fs.f_type == (unsigned long)k.Magic)
            return k.Name;
    return nullptr;
}

// The folder of path with its trailing '/' ("./" for a bare name).
TString FolderOf(const TString& path)
{
    u32 end = path.Length();
    while (end > 0 && path.Str()[end - 1] != '/')
        --end;
    return end > 0 ? TString(path.Str(), end) : TString("./");
}
} // namespace

const char* KernelFileSystemOf(int fd)
{
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 ? KernelFileSystemNamed(fs) : nullptr;
}

const char* KernelFileSystemAt(const char* path)
{
    struct statfs fs;
    return path && statfs(path, &fs) == 0 ? KernelFileSystemNamed(fs) : nullptr;
}

bool PathExists(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

bool CanWriteInPlace(int folder, const char* name)
{
    const int fd = openat(folder, name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        // A lease held by another process is only met after the permission checks passed.
        return errno == EWOULDBLOCK;
    close(fd);
    return true;
}

bool MayFollowLink(const struct stat& folder, const struct stat& link)
{
    if (link.st_uid == geteuid())
        return true;
    const bool sharedSticky = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    if (!sharedSticky || folder.st_uid == link.st_uid)
        return true;
    errno = EACCES;
    return false;
}

SPathFolder::~SPathFolder()
{
    if (Fd >= 0)
        close(Fd);
}

namespace
{
const int PATH_FOLDER_FLAGS = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Pushes the names of path so that the first comes off the end first.
void PushNames(TArray<TString>& pending, const TString& path)
{
    u32 end = path.Length();
    while (end > 0)
    {
        u32 start = end;
        while (start > 0 && path.Str()[start - 1] != '/')
            --start;
        if (start < end)
            pending.Add(TString(path.Str() + start, end - start));
        end = start > 0 ? start - 1 : 0;
    }
}

// Moves the walk on to the folder name in the folder held (".." included).
bool EnterFolder(SPathFolder& at, const TString& name)
{
    // No link is followed here: one put in place since it was looked at fails as not a folder.
    const int next = openat(at.Fd, name.Str(), PATH_FOLDER_FLAGS);
    if (next < 0)
        return false;
    close(at.Fd);
    at.Fd = next;
    at.Path += name;
    at.Path += "/";
    return true;
}
} // namespace

bool OpenPathFolder(const TString& path, SPathFolder& out)
{
    if (out.Fd >= 0)
        close(out.Fd);
    out.Name = "";
    const bool absolute = path.Length() > 0 && path.Str()[0] == '/';
    out.Path = absolute ? "/" : "";
    out.Fd = open(absolute ? "/" : ".", PATH_FOLDER_FLAGS);
    if (out.Fd < 0)
        return false;
    TArray<TString> pending;
    PushNames(pending, path);
    if (pending.IsEmpty())
    {
        errno = EISDIR;
        return false;
    }
    int hops = 0;
    while (!pending.IsEmpty())
    {
        const TString name = pending.Last();
        pending.Resize(pending.Count() - 1);
        const bool last = pending.IsEmpty();
        if (name == "." || name == "..")
        {
            if (last)
            {
                errno = EISDIR;
                return false;
            }
            if (name == ".." && !EnterFolder(out, name))
                return false;
            continue;
        }
        struct stat st;
        if (fstatat(out.Fd, name.Str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        {
            // A last name that is not there yet is where the file will go; a folder that is not
            // there, or may not be looked into, ends the walk with the system's reason.
            if (!last || errno != ENOENT)
                return false;
            out.Name = name;
            out.Path += name;
            return true;
        }
        if (S_ISLNK(st.st_mode))
        {
            struct stat folder;
            if (++hops > MAX_LINK_HOPS)
            {
                errno = ELOOP;
                return false;
            }
            if (fstat(out.Fd, &folder) != 0 || !MayFollowLink(folder, st))
                return false;
            char to[PATH_MAX];
            const ssize_t n = readlinkat(out.Fd, name.Str(), to, sizeof(to));
            if (n <= 0 || (size_t)n >= sizeof(to))
            {
                errno = n < 0 ? errno : (n == 0 ? ENOENT : ENAMETOOLONG);
                return false;
            }
            // A link at the end that names a folder ("/", "sub/") leaves no place for a file.
            if (last && to[n - 1] == '/')
            {
                errno = EISDIR;
                return false;
            }
            if (to[0] == '/')
            {
                const int root = open("/", PATH_FOLDER_FLAGS);
                if (root < 0)
                    return false;
                close(out.Fd);
                out.Fd = root;
                out.Path = "/";
            }
            PushNames(pending, TString(to, (u32)n));
            continue;
        }
        if (last)
        {
            out.Name = name;
            out.Path += name;
            return true;
        }
        if (!EnterFolder(out, name))
            return false;
    }
    errno = EISDIR;
    return false;
}

bool FileGuardedFromOtherUsers(const char* name, TString& resolved, TString& reason)
{
    resolved = "";
    reason = "";
    char* real = name ? realpath(name, nullptr) : nullptr;
    if (!real)
    {
        reason = strerror(name ? errno : EINVAL);
        return false;
    }
    resolved = real;
    free(real);
    const uid_t self = geteuid();
    struct stat st;
    if (stat(resolved.Str(), &st) != 0 || !S_ISREG(st.st_mode))
        reason = "not a regular file";
    else if (st.st_uid != self)
        reason.Format(GUARD_REASON_SIZE, "it belongs to user %u, not to user %u", (unsigned)st.st_uid, (unsigned)self);
    else if (st.st_mode & OTHERS_WRITE)
        reason = "other users may write to it";
    // Whoever may change a folder on the way may put another file under the name. The name is
    // absolute and without links, so the walk ends at "/".
    for (TString at = resolved; reason.IsEmpty() && at != "/";)
    {
        const TString folder = FolderOf(at);
        at = folder.Length() > 1 ? TString(folder.Str(), folder.Length() - 1) : folder;
        if (stat(at.Str(), &st) != 0)
            reason.Format(GUARD_REASON_SIZE, "the folder \"%s\": %s", at.Str(), strerror(errno));
        else if (st.st_uid != self && st.st_uid != 0)
            reason.Format(GUARD_REASON_SIZE, "the folder \"%s\" belongs to user %u", at.Str(), (unsigned)st.st_uid);
        else if ((st.st_mode & OTHERS_WRITE) && !(st.st_mode & S_ISVTX))
            reason.Format(GUARD_REASON_SIZE, "other users may change the folder \"%s\"", at.Str());
    }
    return reason.IsEmpty();
}
