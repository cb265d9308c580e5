// Who may do what with a file that a write replaces, carried over to the file that replaces it:
// the owner and group where the writer may give them, the mode, and the access list (the
// "system.posix_acl_access" attribute). What cannot be carried over never opens the new file to
// anyone the old one kept out, and the writer says so on standard error.
#pragma once

#include "GTemplate.h"

#include <sys/types.h>

struct stat;

struct SReplacedFile
{
    uid_t Uid = 0;
    gid_t Gid = 0;
    mode_t Mode = 0;
    TPodArray<u8> AccessList; // the attribute's bytes; empty when the file has none
    bool AccessListKnown = true; // false: it may have one that could not be read
};

// What the regular file name in folder, whose status is st, allows and to whom.
void ReadReplacedFile(int folder, const char* name, const struct stat& st, SReplacedFile& old);
// Gives fd, the writer's new file, what old allowed. When its group cannot be kept (the writer
// may give a file only to a group it belongs to; root to any), the group that the file gets is
// allowed no more than others were; when the access list cannot be read or copied, group and
// others get no more than the most restricted entry of the list allowed (the owner alone when it
// could not be read). path names the file in what is said about that. False with errno when the
// mode cannot be set.
bool GiveReplacedFilePermissions(int fd, const SReplacedFile& old, const char* path);
// Sets the mode of fd. A file system that holds no modes (FAT) is not a failure: the file keeps
// what that file system gives it.
bool SetFileMode(int fd, mode_t mode);
