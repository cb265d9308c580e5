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

// What a walk of a path asks of the folders and links it passes, beyond MayFollowLink.
enum EPathTrust
{
    // Nothing more: the link rule alone, as the kernel applies it where it is asked to.
    PATH_LinkRule,
    // Only what no user but this process's (and root) can change: every folder passed belongs to
    // this user or root, and others may not change it unless it is sticky; a link in a sticky
    // folder that others may write to (group or everyone) belongs to this user or the folder's owner.
    PATH_OwnerOnly,
};

// Walks path as opening it would, folder by folder, following every link on the way (the last
// name's included) under MayFollowLink and trust: out holds the folder of the first last name that
// is not a link, whether or not it exists (a dangling link gives the name it points to). False
// with errno (EACCES for a protected link or folder, ELOOP for too many, ENOENT or ENOTDIR for a
// folder that is not one, EISDIR for a path that ends in a folder); refusal, when given, receives
// in words why a link or a folder was refused (empty when the system failed).
bool OpenPathFolder(const TString& path, SPathFolder& out, EPathTrust trust = PATH_LinkRule, TString* refusal = nullptr);

// How far a file read trusts the other users of the machine.
enum EReadTrust
{
    // Links under the link rule at every step, and no file that lies in a sticky folder everyone
    // may write to and belongs to neither this user nor that folder's owner: another user could
    // have put it there for this one to read, as the kernel refuses such files to writers.
    READ_NotPlanted,
    // A regular file of this user that neither its group nor others may write, reached through
    // PATH_OwnerOnly: nobody else can change what is read.
    READ_OwnerOnly,
};

// Opens the regular file that path names for reading, walked as OpenPathFolder walks it and held
// to trust at every step, and never from the kernel's own file systems; the file is opened where
// it was checked, without following a link that took its place meanwhile. The descriptor
// (non-blocking, close-on-exec), with walked set to the path as walked (no link left in it, ".."
// taken away); or -1 with errno, reason saying why in words, and refused telling a rule's refusal
// from the system's failure (missing, unreadable, not a regular file).
int OpenFileToRead(const TString& path, EReadTrust trust, TString& walked, TString& reason, bool& refused);
