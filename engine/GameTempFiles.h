// Temporary files being written are removed when SIGTERM or SIGINT ends the process, so that a
// stopped run leaves only the files it completed.
#pragma once

// Records path as a temporary file in the making, first installing the handlers of SIGTERM and
// SIGINT where they have their default action; a handler removes every recorded file, then lets
// the signal end the process as it would have. The slot to give to TempFileDone, or -1
// when too many writes are under way to record one more (it is written unrecorded).
int TempFileStarted(const char* path);
// The file of slot was renamed or removed.
void TempFileDone(int slot);
