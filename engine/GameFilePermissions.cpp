#include "GameFilePermissions.h"

#include "GameSys.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace
{
const char* const ACCESS_LIST_ATTRIBUTE = "system.posix_acl_access";
const u32 ACL_HEADER_SIZE = sizeof(posix_acl_xattr_header);
const u32 ACL_ENTRY_SIZE = sizeof(posix_acl_xattr_entry);
const u32 ACL_PERM_AT = 2; // within an entry: tag, permissions, id
const u16 ALL_PERMISSIONS = ACL_READ | ACL_WRITE | ACL_EXECUTE;
const int GROUP_SHIFT = 3;
const mode_t GROUP_AND_OTHERS = 077;
// The attribute may change size between asking for its size and reading it.
const int ACCESS_LIST_READS = 4;
const u32 SAY_PATH_SIZE = PATH_MAX * 4 + 1;
const u32 GROUP_NAME_SIZE = 256;

u16 Le16(const u8* p)
{
    return (u16)(p[0] | p[1] << 8);
}

// Each class's permission bits in an access list; Named holds what every named user and group
// is granted at most, each limited by the mask.
struct SAccessBits
{
    u16 Group = ALL_PERMISSIONS, Mask = ALL_PERMISSIONS, Other = ALL_PERMISSIONS, Named = ALL_PERMISSIONS;
};

bool ReadAccessBits(const TPodArray<u8>& list, SAccessBits& bits)
{
    if (list.Count() < ACL_HEADER_SIZE || (list.Count() - ACL_HEADER_SIZE) % ACL_ENTRY_SIZE != 0 ||
        (list.data[0] | list.data[1] << 8) != POSIX_ACL_XATTR_VERSION)
        return false;
    u16 named = ALL_PERMISSIONS;
    for (u32 at = ACL_HEADER_SIZE; at < list.Count(); at += ACL_ENTRY_SIZE)
    {
        const u16 tag = Le16(list.data + at), perm = Le16(list.data + at + ACL_PERM_AT) & ALL_PERMISSIONS;
        if (tag == ACL_GROUP_OBJ)
            bits.Group = perm;
        else if (tag == ACL_MASK)
            bits.Mask = perm;
        else if (tag == ACL_OTHER)
            bits.Other = perm;
        else if (tag == ACL_USER || tag == ACL_GROUP)
            named &= perm;
    }
    bits.Named = named & bits.Mask;
    return true;
}

void SetGroupEntry(TPodArray<u8>& list, u16 perm)
{
    for (u32 at = ACL_HEADER_SIZE; at + ACL_ENTRY_SIZE <= list.Count(); at += ACL_ENTRY_SIZE)
        if (Le16(list.data + at) == ACL_GROUP_OBJ)
        {
            list.data[at + ACL_PERM_AT] = (u8)perm;
            list.data[at + ACL_PERM_AT + 1] = 0;
        }
}

mode_t WithGroupAndOthers(mode_t mode, u16 group, u16 others)
{
    return (mode & ~GROUP_AND_OTHERS) | (mode_t)group << GROUP_SHIFT | others;
}

TString GroupName(gid_t gid)
{
    struct group entry, *found = nullptr;
    char buffer[4096];
    TString name;
    if (getgrgid_r(gid, &entry, buffer, sizeof(buffer), &found) == 0 && found)
        name.Format(GROUP_NAME_SIZE, "\"%s\" (%u)", found->gr_name, (unsigned)gid);
    else
        name.Format(GROUP_NAME_SIZE, "%u", (unsigned)gid);
    return name;
}

void Say(const char* path, const char* what)
{
    char shown[SAY_PATH_SIZE];
    gSysLogLineText(shown, sizeof(shown), path, strlen(path));
    fprintf(stderr, "WriteFile: \"%s\": %s\n", shown, what);
}
} // namespace

void ReadReplacedFile(int folder, const char* name, const struct stat& st, SReplacedFile& old)
{
    old.Uid = st.st_uid;
    old.Gid = st.st_gid;
    old.Mode = st.st_mode & 07777;
    old.AccessList.Resize(0);
    old.AccessListKnown = false;
    // Opened only to read the attribute: for reading where the writer may, else for writing, which
    // the writer may, or the file would not be replaced.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = openat(folder, name, O_RDONLY | flags);
    if (fd < 0)
        fd = openat(folder, name, O_WRONLY | flags);
    struct stat same;
    if (fd < 0)
        return;
    if (fstat(fd, &same) == 0 && same.st_ino == st.st_ino && same.st_dev == st.st_dev)
        for (int i = 0; i < ACCESS_LIST_READS; ++i)
        {
            const ssize_t size = fgetxattr(fd, ACCESS_LIST_ATTRIBUTE, nullptr, 0);
            if (size < 0)
            {
                // None, or a file system without access lists.
                old.AccessListKnown = errno == ENODATA || errno == EOPNOTSUPP;
                break;
            }
            if (!old.AccessList.Resize((u32)size))
                break;
            const ssize_t got = fgetxattr(fd, ACCESS_LIST_ATTRIBUTE, old.AccessList.data, (size_t)size);
            if (got >= 0)
            {
                old.AccessList.Resize((u32)got);
                old.AccessListKnown = true;
                break;
            }
            old.AccessList.Resize(0);
            if (errno != ERANGE)
                break;
        }
    close(fd);
}

bool SetFileMode(int fd, mode_t mode)
{
    if (fchmod(fd, mode) == 0)
        return true;
    return errno == ENOSYS || errno == EPERM || errno == EOPNOTSUPP;
}

bool GiveReplacedFilePermissions(int fd, const SReplacedFile& old, const char* path)
{
    int groupRefusal = 0;
    if (fchown(fd, old.Uid, old.Gid) != 0 && fchown(fd, (uid_t)-1, old.Gid) != 0)
        groupRefusal = errno;
    struct stat now;
    if (fstat(fd, &now) != 0)
        return false;
    mode_t mode = old.Mode;
    TPodArray<u8> list(old.AccessList);
    SAccessBits bits;
    const bool hasList = !list.IsEmpty() && ReadAccessBits(list, bits);
    const bool groupLost = now.st_gid != old.Gid;
    char said[1024];
    if (groupLost)
    {
        // Its members may have been others to the old file: they get no more than others had.
        const u16 group = hasList ? bits.Group : (u16)(mode >> GROUP_SHIFT & ALL_PERMISSIONS);
        const u16 others = hasList ? bits.Other : (u16)(mode & ALL_PERMISSIONS);
        if (hasList)
            SetGroupEntry(list, group & others);
        else
            mode = WithGroupAndOthers(mode, group & others, others);
        snprintf(said, sizeof(said), "the group %s cannot be kept (%s): the new file's group %s gets no more access than others had",
                 GroupName(old.Gid).Str(), strerror(groupRefusal ? groupRefusal : EPERM), GroupName(now.st_gid).Str());
        Say(path, said);
    }
    const bool listUnreadable = !old.AccessListKnown || (!list.IsEmpty() && !hasList);
    if (listUnreadable)
        mode &= ~GROUP_AND_OTHERS;
    if (!SetFileMode(fd, mode))
        return false;
    if (listUnreadable)
        Say(path, "its access list cannot be read: the new file is its owner's alone");
    if (!hasList || fsetxattr(fd, ACCESS_LIST_ATTRIBUTE, list.data, list.Count(), 0) == 0)
        return true;
    // Whoever the list named falls to the group or the others class without it.
    const int refusal = errno;
    const u16 group = (groupLost ? bits.Group & bits.Other : bits.Group) & bits.Named;
    if (!SetFileMode(fd, WithGroupAndOthers(mode, group, bits.Other & bits.Named)))
        return false;
    snprintf(said, sizeof(said), "its access list cannot be copied (%s): its group and others get no more access than its most restricted entry allowed",
             strerror(refusal));
    Say(path, said);
    return true;
}
