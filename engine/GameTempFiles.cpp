#include "GameTempFiles.h"

#include <atomic>
#include <limits.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace
{
// More than the writes that can be under way at once: the main thread's and the loader's.
const int TEMP_SLOTS = 16;
const int ENDING_SIGNALS[] = {SIGTERM, SIGINT};

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
    char Path[PATH_MAX];
};
STempSlot GTempSlots[TEMP_SLOTS];

void RemoveTempFilesAndEnd(int sig)
{
    for (STempSlot& slot : GTempSlots)
        if (slot.State.load() == SLOT_Live)
            unlink(slot.Path);
    struct sigaction fallback;
    memset(&fallback, 0, sizeof(fallback));
    fallback.sa_handler = SIG_DFL;
    sigaction(sig, &fallback, nullptr);
    // Delivered once the handler returns, with the signal's own default action.
    raise(sig);
}

void InstallHandlers()
{
    static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");
    for (int sig : ENDING_SIGNALS)
    {
        struct sigaction current;
        // A handler or an ignored signal set up by someone else is left alone.
        if (sigaction(sig, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL)
            continue;
        struct sigaction ours;
        memset(&ours, 0, sizeof(ours));
        ours.sa_handler = RemoveTempFilesAndEnd;
        sigfillset(&ours.sa_mask);
        sigaction(sig, &ours, nullptr);
    }
}
} // namespace

int TempFileStarted(const char* path)
{
    InstallHandlers();
    if (strlen(path) >= PATH_MAX)
        return -1;
    for (int i = 0; i < TEMP_SLOTS; ++i)
    {
        int expected = SLOT_Free;
        if (!GTempSlots[i].State.compare_exchange_strong(expected, SLOT_Filling))
            continue;
        strcpy(GTempSlots[i].Path, path);
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
