// What the running process may do with a path, asked of the system as the process itself rather
// than worked out from mode bits, so that root, access lists, immutable files and read-only
// mounts all count as they do for a plain open. Paths are the system's ('/' separators, already
// made absolute where that matters). Each false result leaves the cause in errno.
#pragma once

#include "GString.h"

struct stat;

// The kernel's own file systems (proc, sysfs, debugfs, tracefs and the like) show the running
// system, not stored data, and reading some of their files never ends (/proc/kmsg waits for the
// kernel's next message). The name of the one that holds the open file fd, or null for any other
// (and when it cannot be told).
const char* KernelFileSystemOf(int fd);
// The same for the file a path names, links followed.
const char* KernelFileSystemAt(const char* path);

// The path names something, readable or not (a file of mode 000 exists); links are followed, so
// a dangling link names nothing.
bool PathExists(const char* path);

// The existing file name in folder (a descriptor, as OpenPathFolder gives) could be opened for
// writing in place now (no truncation, nothing created, no link followed): EACCES for a read-only
// file, EPERM for an immutable one, EROFS on a read-only mount.
bool CanWriteInPlace(int folder, const char* name);

// The rule the kernel applies to links in sticky world-writable folders (/tmp) where it is asked
// to: such a link is followed only by its owner or when the folder's owner owns it too. folder and
// link are the status of the folder holding the link and of the link itself. False with EACCES when the
// process may not follow it.
bool MayFollowLink(const struct stat& folder, const struct stat& link);

// The folder that a path's last name lies in, held open, so that what is done there stays there
// whatever another user does to the folders on the way afterwards.
struct SPathFolder
{
    int Fd = -1;  // the folder, opened as a path only (for the *at calls)
    TString Name; // the last name: no link, or nothing there yet
    TString Path; // the folder and the name as walked, for names made from it and for messages

    SPathFolder() = default;
    ~SPathFolder();
    SPathFolder(const SPathFolder&) = delete;
    SPathFolder& operator=(const SPathFolder&) = delete;
};

// Walks path as opening it would, folder by folder, following every link on the way (the last
// name's included) under MayFollowLink: out holds the folder of the first last name that is not a
// link, whether or not it exists (a dangling link gives the name it points to). False with errno
// (EACCES for a protected link, ELOOP for too many, ENOENT or ENOTDIR for a folder that is not one,
// EISDIR for a path that ends in a folder).
bool OpenPathFolder(const TString& path, SPathFolder& out);

// Whether no user but this process's (and root) can change what name holds: a regular file of
// the effective user that neither its group nor others may write, in folders of that user or
// root that others may not change (a sticky folder such as /tmp they may only add to).
// resolved receives the name without links, which only those users can point elsewhere; reason
// says why not, in words (errno is not used).
bool FileGuardedFromOtherUsers(const char* name, TString& resolved, TString& reason);
