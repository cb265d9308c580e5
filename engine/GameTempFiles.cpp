#include "GameTempFiles.h"

#include <atomic>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace
{
// More than the writes that can be under way at once: the main thread's and the loader's.
const int TEMP_SLOTS = 16;
// What ends a run from outside: kill, Ctrl+C, a closed terminal or ssh session, Ctrl+backslash.
const int ENDING_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

enum ESlotState
{
    SLOT_Free,
    SLOT_Filling,
    SLOT_Live,
};

// Read by the signal handler: plain characters and lock-free atomics only.
struct STempSlot
{
    std::atomic<int> State;
    int Folder;
    char Name[NAME_MAX + 1];
};
STempSlot GTempSlots[TEMP_SLOTS];

void RemoveTempFilesAndEnd(int sig)
{
    // The interrupted code's errno is its own, should the signal not end the process after all.
    const int interrupted = errno;
    for (STempSlot& slot : GTempSlots)
        if (slot.State.load() == SLOT_Live)
            unlinkat(slot.Folder, slot.Name, 0);
    struct sigaction fallback;
    memset(&fallback, 0, sizeof(fallback));
    fallback.sa_handler = SIG_DFL;
    sigaction(sig, &fallback, nullptr);
    // Delivered once the handler returns, with the signal's own default action.
    raise(sig);
    errno = interrupted;
}

// A handler or an ignored signal set up by someone else is left alone.
void SetWhereDefault(int sig, void (*handler)(int))
{
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL)
        return;
    struct sigaction ours;
    memset(&ours, 0, sizeof(ours));
    ours.sa_handler = handler;
    sigfillset(&ours.sa_mask);
    sigaction(sig, &ours, nullptr);
}

void InstallHandlers()
{
    static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");
    for (int sig : ENDING_SIGNALS)
        SetWhereDefault(sig, RemoveTempFilesAndEnd);
    // Past the file-size limit the write itself then fails, with its reason, and the run goes on.
    SetWhereDefault(SIGXFSZ, SIG_IGN);
}
} // namespace

int TempFileStarted(int folder, const char* name)
{
    InstallHandlers();
    if (strlen(name) > NAME_MAX)
        return -1;
    for (int i = 0; i < TEMP_SLOTS; ++i)
    {
        int expected = SLOT_Free;
        if (!GTempSlots[i].State.compare_exchange_strong(expected, SLOT_Filling))
            continue;
        GTempSlots[i].Folder = folder;
        strcpy(GTempSlots[i].Name, name);
        GTempSlots[i].State.store(SLOT_Live);
        return i;
    }
    return -1;
}

void TempFileDone(int slot)
{
    if (slot >= 0 && slot < TEMP_SLOTS)
        GTempSlots[slot].State.store(SLOT_Free);
}
