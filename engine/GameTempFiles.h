// Temporary files being written are removed when a signal that ends the process comes (SIGTERM,
// SIGINT, SIGHUP, SIGQUIT), so that a stopped run leaves only the files it completed; and a write
// past the file-size limit fails with EFBIG instead of ending the process.
#pragma once

// Records the file name in the folder descriptor folder as a temporary file in the making, first
// installing the handlers of those signals where they have their default action (and ignoring
// SIGXFSZ where it has its default action); a handler removes every recorded file, then lets the
// signal end the process as it would have. folder stays open until TempFileDone. The slot to give
// to TempFileDone, or -1 when too many writes are under way to record one more (it is written
// unrecorded).
int TempFileStarted(int folder, const char* name);
// The file of slot was renamed or removed.
void TempFileDone(int slot);
