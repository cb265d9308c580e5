#include "GameSignals.h"

#include "GameTempFiles.h"

#include <errno.h>
#include <string.h>

namespace
{
// What ends a run from outside: kill, Ctrl+C, a closed terminal or ssh session, Ctrl+backslash.
const int ENDING_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
// What a write may raise: past the file-size limit, into a pipe nobody reads any more.
const int WRITE_SIGNALS[] = {SIGXFSZ, SIGPIPE};

void RemoveTempFilesAndEnd(int sig)
{
    // The interrupted code's errno is its own, should the signal not end the process after all.
    const int interrupted = errno;
    TempFilesRemoveAll();
    struct sigaction fallback;
    memset(&fallback, 0, sizeof(fallback));
    fallback.sa_handler = SIG_DFL;
    sigaction(sig, &fallback, nullptr);
    // Delivered once the handler returns, with the signal's own default action.
    raise(sig);
    errno = interrupted;
}

void SetAction(int sig, void (*handler)(int))
{
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

// A handler or an ignored signal set up by someone else is left alone.
void SetWhereDefault(int sig, void (*handler)(int))
{
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL)
        SetAction(sig, handler);
}
} // namespace

void SysSignalsStartup()
{
    for (int sig : ENDING_SIGNALS)
        SetWhereDefault(sig, RemoveTempFilesAndEnd);
    for (int sig : WRITE_SIGNALS)
        SetAction(sig, SIG_IGN);
}

void SysChildSignalDefaults(sigset_t& set)
{
    sigemptyset(&set);
    for (int sig : WRITE_SIGNALS)
        sigaddset(&set, sig);
}

void SysRestoreChildSignals()
{
    for (int sig : WRITE_SIGNALS)
        signal(sig, SIG_DFL);
}
