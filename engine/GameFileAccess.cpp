#include "GameFileAccess.h"

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

bool CanWriteInPlace(const char* path)
{
    const int fd = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        // A lease held by another process is only met after the permission checks passed.
        return errno == EWOULDBLOCK;
    close(fd);
    return true;
}

bool MayFollowLink(const char* linkPath, const struct stat& link)
{
    if (link.st_uid == geteuid())
        return true;
    struct stat folder;
    if (stat(FolderOf(TString(linkPath)).Str(), &folder) != 0)
        return false;
    const bool sharedSticky = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    if (!sharedSticky || folder.st_uid == link.st_uid)
        return true;
    errno = EACCES;
    return false;
}

bool ResolveFinalLinks(const TString& path, TString& out)
{
    TString current = path;
    for (int hop = 0; hop <= MAX_LINK_HOPS; ++hop)
    {
        struct stat st;
        if (lstat(current.Str(), &st) != 0 || !S_ISLNK(st.st_mode))
        {
            out = current;
            return true;
        }
        if (hop == MAX_LINK_HOPS)
            break;
        if (!MayFollowLink(current.Str(), st))
            return false;
        char to[PATH_MAX];
        const ssize_t n = readlink(current.Str(), to, sizeof(to));
        if (n < 0)
            return false;
        if ((size_t)n >= sizeof(to))
        {
            errno = ENAMETOOLONG;
            return false;
        }
        const TString dest(to, (u32)n);
        current = to[0] == '/' ? dest : FolderOf(current) + dest;
    }
    errno = ELOOP;
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
