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

// The existing file at path could be opened for writing in place now (no truncation, nothing
// created): EACCES for a read-only file, EPERM for an immutable one, EROFS on a read-only mount.
bool CanWriteInPlace(const char* path);

// The rule the kernel applies to links in sticky world-writable folders (/tmp): such a link is
// followed only by its owner or when the folder's owner owns it too. link is the link's own
// lstat. False with EACCES when the process may not follow it.
bool MayFollowLink(const char* linkPath, const struct stat& link);

// Follows the links at the end of path as opening it would, each under MayFollowLink: out is the
// first name that is not a link, whether or not it exists (a dangling link gives the name it
// points to). Links in the folders above are left for the system to follow. False with errno
// (EACCES for a protected link, ELOOP for too many).
bool ResolveFinalLinks(const TString& path, TString& out);

// Whether no user but this process's (and root) can change what name holds: a regular file of
// the effective user that neither its group nor others may write, in folders of that user or
// root that others may not change (a sticky folder such as /tmp they may only add to).
// resolved receives the name without links, which only those users can point elsewhere; reason
// says why not, in words (errno is not used).
bool FileGuardedFromOtherUsers(const char* name, TString& resolved, TString& reason);
