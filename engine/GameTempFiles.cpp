#include "GameTempFiles.h"

#include <atomic>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// More than the writes that can be under way at once: the main thread's and the loader's.
const int TEMP_SLOTS = 16;
// A file under a shared name whose identity is not known yet.
const u64 NOT_CREATED = 0;

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
    bool SharedName;
    std::atomic<u64> Device;
    std::atomic<u64> Inode;
    char Name[NAME_MAX + 1];
};
STempSlot GTempSlots[TEMP_SLOTS];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<u64>::is_always_lock_free,
              "the signal handler reads the slots");

int Record(int folder, const char* name, bool sharedName)
{
    if (strlen(name) > NAME_MAX)
        return -1;
    for (int i = 0; i < TEMP_SLOTS; ++i)
    {
        int expected = SLOT_Free;
        if (!GTempSlots[i].State.compare_exchange_strong(expected, SLOT_Filling))
            continue;
        GTempSlots[i].Folder = folder;
        GTempSlots[i].SharedName = sharedName;
        GTempSlots[i].Device.store(0);
        GTempSlots[i].Inode.store(NOT_CREATED);
        strcpy(GTempSlots[i].Name, name);
        GTempSlots[i].State.store(SLOT_Live);
        return i;
    }
    return -1;
}
} // namespace

int TempFileStarted(int folder, const char* name)
{
    return Record(folder, name, false);
}

int SharedNameFileStarted(int folder, const char* name)
{
    return Record(folder, name, true);
}

void TempFileCreated(int slot, u64 device, u64 inode)
{
    if (slot < 0 || slot >= TEMP_SLOTS)
        return;
    GTempSlots[slot].Device.store(device);
    GTempSlots[slot].Inode.store(inode);
}

void TempFileDone(int slot)
{
    if (slot >= 0 && slot < TEMP_SLOTS)
        GTempSlots[slot].State.store(SLOT_Free);
}

void TempFilesRemoveAll()
{
    for (STempSlot& slot : GTempSlots)
    {
        if (slot.State.load() != SLOT_Live)
            continue;
        if (slot.SharedName)
        {
            // Another writer's file under the name is not ours to remove.
            struct stat st;
            const u64 inode = slot.Inode.load();
            if (inode == NOT_CREATED || fstatat(slot.Folder, slot.Name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                (u64)st.st_ino != inode || (u64)st.st_dev != slot.Device.load())
                continue;
        }
        unlinkat(slot.Folder, slot.Name, 0);
    }
}
