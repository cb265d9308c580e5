// What an address-space or data-size limit (ulimit -v, ulimit -d) leaves the program once what it
// holds is taken off: its libraries, its GL driver's threads, their stacks and compiled programs.
// The GL driver does not survive a failed allocation (its shader compiler ends the process), so
// the program keeps room for it and refuses work, with the reason, where a limit leaves too little.
#pragma once

#include "GString.h"
#include "GameSys.h"

static const u64 MEM_MIB = 1ull << 20;
// What the driver may still take while it works, beyond what it holds: building a program and the
// working memory of the first draws into a target (measured at some 6 and 18 MiB).
static const u64 MEM_DRIVER_ROOM = 32 * MEM_MIB;
// At most this share (1/n) of a limit goes to the stacks of the rasteriser's threads.
static const u64 MEM_THREAD_STACK_SHARE = 16;

// The limit that leaves the least room: its kind, its size and what the process holds against it.
struct SMemoryRoom
{
    const char* Kind = nullptr; // "address-space" or "data-size"; null without a limit
    const char* Command = "";   // the shell's command that sets it
    u64 Limit = ~0ull;
    u64 Held = 0;
    u64 Left() const { return Held < Limit ? Limit - Held : 0; }
};
SMemoryRoom MEM_Room();

// Before the GL driver starts, under a limit: one allocator arena for every thread (each further
// one takes 64 MiB of address space) and no more rasteriser threads than MEM_THREAD_STACK_SHARE
// allows (LP_NUM_THREADS, when not set already). Without a limit nothing changes.
void MEM_FitDriverToLimit();

// The stack a new thread of the process gets.
u64 MEM_ThreadStack();
// How many of wanted threads (at least 1), each taking bytes, the room left holds besides the
// driver's; wanted without a limit.
u32 MEM_ThreadsFitting(u64 bytes, u32 wanted);

// Empty when the room left holds need more bytes besides the driver's; else why not, in words
// that name the limit, what the program holds and what it would need.
TString MEM_Shortfall(u64 need);
// The same before the GL driver starts: room for it to start as well.
TString MEM_StartShortfall();
