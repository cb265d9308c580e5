#include "GameFileAccess.h"

#include "GTemplate.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
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

// The folder the walk holds, for messages: its path without the last name, if any, and without
// the trailing '/' (but "/").
TString HeldFolder(const SPathFolder& at)
{
    u32 n = at.Path.Length() - at.Name.Length();
    n -= n > 1 && at.Path.Str()[n - 1] == '/' ? 1 : 0;
    return TString(at.Path.Str(), n);
}

// Why the folder the walk holds is not one that only this user and root can change; empty when it is.
TString FolderRefusal(const SPathFolder& at)
{
    TString reason;
    struct stat st;
    const TString name = HeldFolder(at);
    if (fstat(at.Fd, &st) != 0)
        reason.Format(GUARD_REASON_SIZE, "the folder \"%s\": %s", name.Str(), strerror(errno));
    else if (st.st_uid != geteuid() && st.st_uid != 0)
        reason.Format(GUARD_REASON_SIZE, "the folder \"%s\" belongs to user %u", name.Str(), (unsigned)st.st_uid);
    else if ((st.st_mode & OTHERS_WRITE) && !(st.st_mode & S_ISVTX))
        reason.Format(GUARD_REASON_SIZE, "other users may change the folder \"%s\"", name.Str());
    return reason;
}

// Why the link name in the folder held may not be followed; empty when it may.
TString LinkRefusal(const SPathFolder& at, const TString& name, const struct stat& folder, const struct stat& link,
                    EPathTrust trust)
{
    const mode_t shared = trust == PATH_OwnerOnly ? OTHERS_WRITE : S_IWOTH;
    const bool followed = trust == PATH_OwnerOnly ? link.st_uid == geteuid() || link.st_uid == folder.st_uid ||
                                                        !(folder.st_mode & S_ISVTX) || !(folder.st_mode & shared)
                                                  : MayFollowLink(folder, link);
    TString reason;
    if (!followed)
        reason.Format(GUARD_REASON_SIZE,
                      "the link \"%s%s\" lies in a sticky folder others may write to and belongs to user %u, "
                      "neither to user %u nor to the folder's owner",
                      at.Path.Str(), name.Str(), (unsigned)link.st_uid, (unsigned)geteuid());
    return reason;
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
    // No name on the way is a link, so ".." is the folder before it.
    const u32 n = at.Path.Length();
    u32 cut = n > 0 ? n - 1 : 0;
    while (cut > 0 && at.Path.Str()[cut - 1] != '/')
        --cut;
    const bool up = name == ".." && n > 1 && !(n - cut == 3 && at.Path.Str()[cut] == '.' && at.Path.Str()[cut + 1] == '.');
    if (up)
        at.Path = TString(at.Path.Str(), cut);
    else if (!(name == ".." && at.Path == "/"))
    {
        at.Path += name;
        at.Path += "/";
    }
    return true;
}

// The walk's refusal, with EACCES.
bool Refuse(TString* refusal, const TString& reason)
{
    if (refusal)
        *refusal = reason;
    errno = EACCES;
    return false;
}
} // namespace

bool OpenPathFolder(const TString& path, SPathFolder& out, EPathTrust trust, TString* refusal)
{
    if (refusal)
        *refusal = "";
    if (out.Fd >= 0)
        close(out.Fd);
    out.Name = "";
    const bool absolute = path.Length() > 0 && path.Str()[0] == '/';
    out.Path = absolute ? "/" : "";
    out.Fd = open(absolute ? "/" : ".", PATH_FOLDER_FLAGS);
    if (out.Fd < 0)
        return false;
    const bool ownerOnly = trust == PATH_OwnerOnly;
    TString reason = ownerOnly ? FolderRefusal(out) : TString();
    if (!reason.IsEmpty())
        return Refuse(refusal, reason);
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
            if (name == ".." && ownerOnly && !(reason = FolderRefusal(out)).IsEmpty())
                return Refuse(refusal, reason);
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
            if (fstat(out.Fd, &folder) != 0)
                return false;
            if (!(reason = LinkRefusal(out, name, folder, st, trust)).IsEmpty())
                return Refuse(refusal, reason);
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
                if (ownerOnly && !(reason = FolderRefusal(out)).IsEmpty())
                    return Refuse(refusal, reason);
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
        if (ownerOnly && !(reason = FolderRefusal(out)).IsEmpty())
            return Refuse(refusal, reason);
    }
    errno = EISDIR;
    return false;
}

namespace
{
// Why the regular file file, lying in the folder held, may not be read under trust; empty when it may.
TString FileRefusal(const SPathFolder& at, const struct stat& file, EReadTrust trust)
{
    const uid_t self = geteuid();
    TString reason;
    struct stat folder;
    if (trust == READ_OwnerOnly)
    {
        if (file.st_uid != self)
            reason.Format(GUARD_REASON_SIZE, "it belongs to user %u, not to user %u", (unsigned)file.st_uid,
                          (unsigned)self);
        else if (file.st_mode & OTHERS_WRITE)
            reason = "other users may write to it";
    }
    else if (fstat(at.Fd, &folder) != 0)
        reason.Format(GUARD_REASON_SIZE, "the folder \"%s\": %s", HeldFolder(at).Str(), strerror(errno));
    else if ((folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) && file.st_uid != self &&
             file.st_uid != folder.st_uid)
        reason.Format(GUARD_REASON_SIZE,
                      "it lies in the sticky folder \"%s\" that everyone may write to and belongs to user %u, "
                      "neither to user %u nor to the folder's owner",
                      HeldFolder(at).Str(), (unsigned)file.st_uid, (unsigned)self);
    return reason;
}
} // namespace

int OpenFileToRead(const TString& path, EReadTrust trust, TString& walked, TString& reason, bool& refused)
{
    walked = "";
    reason = "";
    refused = false;
    SPathFolder at;
    if (!OpenPathFolder(path, at, trust == READ_OwnerOnly ? PATH_OwnerOnly : PATH_LinkRule, &reason))
    {
        const int err = errno;
        refused = !reason.IsEmpty();
        if (!refused)
            reason = strerror(err);
        errno = err;
        return -1;
    }
    walked = at.Path;
    // Opened where it was looked at: a link put in its place since fails, and so does waiting on
    // a FIFO that has no writer.
    const int fd = openat(at.Fd, at.Name.Str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
    {
        const int err = errno;
        reason = strerror(err);
        errno = err;
        return -1;
    }
    struct stat st;
    int err = 0;
    if (fstat(fd, &st) != 0)
        reason = strerror(err = errno);
    else if (!S_ISREG(st.st_mode))
    {
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        reason = S_ISDIR(st.st_mode) ? strerror(EISDIR) : "not a regular file";
    }
    else if (const char* system = KernelFileSystemOf(fd))
    {
        err = ENODATA;
        reason.Format(GUARD_REASON_SIZE, "it lies on the kernel's %s file system", system);
        refused = true;
    }
    else if (!(reason = FileRefusal(at, st, trust)).IsEmpty())
    {
        err = EACCES;
        refused = true;
    }
    if (err)
    {
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}
