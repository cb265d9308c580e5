// Files in the making are recorded so that a signal that ends the process (GameSignals.h) first
// removes them, and a stopped run leaves only the files it completed.
#pragma once

#include "GameSys.h"

// Records the file name in the folder descriptor folder as a temporary file in the making.
// folder stays open until TempFileDone. The slot to give to TempFileDone, or -1 when too many
// writes are under way to record one more (it is written unrecorded).
int TempFileStarted(int folder, const char* name);
// The same for a file made under a name others may hold too (created exclusively): it is removed
// only once TempFileCreated has said which file is the writer's, and only while the name still
// holds that file.
int SharedNameFileStarted(int folder, const char* name);
void TempFileCreated(int slot, u64 device, u64 inode);
// The file of slot was renamed or removed.
void TempFileDone(int slot);
// Removes every recorded file; safe in a signal handler.
void TempFilesRemoveAll();
