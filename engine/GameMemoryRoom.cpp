#include "GameMemoryRoom.h"

#include <malloc.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
// The statm fields the kernel holds against each limit: every mapping against the address-space
// limit, the private writable ones (and the stack) against the data-size limit.
enum EStatmField
{
    STATM_Size = 0,
    STATM_Data = 5,
    STATM_Fields = 7,
};

struct SLimitKind
{
    int Resource;
    const char* Kind;
    const char* Command;
    EStatmField Held;
    // What the GL driver takes beyond what the program holds before it starts, by the time a run
    // begins (its libraries and compiler mapped, a context made, the first target drawn; measured
    // without rasteriser threads at some 241 and 41 MiB).
    u64 DriverStart;
};
const SLimitKind LIMIT_KINDS[] = {
    {RLIMIT_AS, "address-space", "ulimit -v", STATM_Size, 256 * MEM_MIB},
    {RLIMIT_DATA, "data-size", "ulimit -d", STATM_Data, 48 * MEM_MIB},
};

// The stack a new thread gets: glibc takes the stack limit, or 32 MiB when there is none.
const u64 UNLIMITED_STACK_THREAD = 32 * MEM_MIB;
// The rasteriser starts a thread pool for compute work beside its drawing threads, as many each.
const u64 DRIVER_THREADS_PER_RASTERISER = 2;
const char* const RASTERISER_THREADS = "LP_NUM_THREADS";
const int TEXT_SIZE = 512;

u64 Limit(int resource)
{
    rlimit r;
    return getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY ? (u64)r.rlim_cur : ~0ull;
}

bool ReadStatm(u64 (&fields)[STATM_Fields])
{
    FILE* f = fopen("/proc/self/statm", "re");
    if (!f)
        return false;
    unsigned long long v[STATM_Fields] = {};
    const bool read = fscanf(f, "%llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                             &v[6]) == STATM_Fields;
    fclose(f);
    const long page = sysconf(_SC_PAGESIZE);
    for (int i = 0; i < STATM_Fields; ++i)
        fields[i] = (u64)v[i] * (u64)(page > 0 ? page : 4096);
    return read;
}

SMemoryRoom RoomOf(const SLimitKind& kind, const u64 (&statm)[STATM_Fields])
{
    SMemoryRoom room;
    room.Limit = Limit(kind.Resource);
    if (room.Limit == ~0ull)
        return room;
    room.Kind = kind.Kind;
    room.Command = kind.Command;
    room.Held = statm[kind.Held];
    return room;
}

} // namespace

u64 MEM_ThreadStack()
{
    const u64 stack = Limit(RLIMIT_STACK);
    return stack == ~0ull || stack == 0 ? UNLIMITED_STACK_THREAD : stack;
}

namespace
{
u64 Cores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    const int n = sched_getaffinity(0, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : 1;
    return n < 1 ? 1 : (u64)n;
}

// The stacks of the rasteriser's threads as the driver will start them.
u64 DriverThreadStacks()
{
    const char* set = getenv(RASTERISER_THREADS);
    const u64 threads = set && *set ? (u64)strtoull(set, nullptr, 10) : Cores();
    return threads * DRIVER_THREADS_PER_RASTERISER * MEM_ThreadStack();
}

TString Describe(const SMemoryRoom& room, u64 need)
{
    TString text;
    text.Format(TEXT_SIZE,
                "the %s limit (%s) of %llu MiB leaves too little memory: the program holds %llu MiB of it "
                "and would need %llu MiB more room",
                room.Kind, room.Command, (unsigned long long)(room.Limit / MEM_MIB),
                (unsigned long long)(room.Held / MEM_MIB), (unsigned long long)((need + MEM_MIB - 1) / MEM_MIB));
    return text;
}
} // namespace

SMemoryRoom MEM_Room()
{
    u64 statm[STATM_Fields] = {};
    SMemoryRoom least;
    bool limited = false;
    for (const SLimitKind& kind : LIMIT_KINDS)
        limited = limited || Limit(kind.Resource) != ~0ull;
    if (!limited || !ReadStatm(statm))
        return least;
    for (const SLimitKind& kind : LIMIT_KINDS)
    {
        const SMemoryRoom room = RoomOf(kind, statm);
        if (room.Kind && (!least.Kind || room.Left() < least.Left()))
            least = room;
    }
    return least;
}

void MEM_FitDriverToLimit()
{
    u64 limit = ~0ull;
    for (const SLimitKind& kind : LIMIT_KINDS)
        if (Limit(kind.Resource) < limit)
            limit = Limit(kind.Resource);
    if (limit == ~0ull)
        return;
    mallopt(M_ARENA_MAX, 1);
    if (getenv(RASTERISER_THREADS))
        return;
    u64 threads = limit / MEM_THREAD_STACK_SHARE / (DRIVER_THREADS_PER_RASTERISER * MEM_ThreadStack());
    if (threads > Cores())
        threads = Cores();
    char count[24];
    snprintf(count, sizeof(count), "%llu", (unsigned long long)threads);
    setenv(RASTERISER_THREADS, count, 0);
}

u32 MEM_ThreadsFitting(u64 bytes, u32 wanted)
{
    const SMemoryRoom room = MEM_Room();
    if (!room.Kind || !bytes)
        return wanted;
    const u64 fit = room.Left() > MEM_DRIVER_ROOM ? (room.Left() - MEM_DRIVER_ROOM) / bytes : 0;
    return fit < 1 ? 1 : fit < wanted ? (u32)fit : wanted;
}

TString MEM_Shortfall(u64 need)
{
    const SMemoryRoom room = MEM_Room();
    if (!room.Kind || room.Left() >= need + MEM_DRIVER_ROOM)
        return TString();
    return Describe(room, need + MEM_DRIVER_ROOM - room.Left());
}

TString MEM_StartShortfall()
{
    u64 statm[STATM_Fields] = {};
    if (!ReadStatm(statm))
        return TString();
    for (const SLimitKind& kind : LIMIT_KINDS)
    {
        const SMemoryRoom room = RoomOf(kind, statm);
        const u64 need = kind.DriverStart + DriverThreadStacks() + MEM_DRIVER_ROOM;
        if (room.Kind && room.Left() < need)
            return Describe(room, need - room.Left());
    }
    return TString();
}
