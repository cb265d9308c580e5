// The process's signal settings, made at start-up: a write past the file-size limit, or into a
// pipe whose reader has gone, fails with its reason (EFBIG, EPIPE) and the run goes on; the signals
// that end a run from outside (SIGTERM, SIGINT, SIGHUP, SIGQUIT) first remove the files still in
// the making (GameTempFiles.h). The programs the process starts get their default actions back.
#pragma once

#include <signal.h>

// Ignores SIGXFSZ and SIGPIPE and puts the removing handler on the ending signals where they have
// their default action (a signal ignored by whoever started the program stays ignored). The
// engine main calls it first; calling it again changes nothing.
void SysSignalsStartup();
// The signals this process ignores for itself, which a program it starts must not inherit ignored
// (ignored signals stay ignored through exec): for POSIX_SPAWN_SETSIGDEF.
void SysChildSignalDefaults(sigset_t& set);
// The same in a forked child before exec; safe between fork and exec.
void SysRestoreChildSignals();
