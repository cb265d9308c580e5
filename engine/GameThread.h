// Threads and the spin lock. The only worker thread is the texture loader; its lists are guarded
// by one SSpinLock.
#pragma once

#include "GameSys.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

// A thread routine gets the context given to Start; its result is kept but not used.
typedef u32 (*TThreadRoutine)(void* context);

// Wait results (the classic values).
enum
{
    THREAD_WAIT_SIGNALED = 0,
    THREAD_WAIT_TIMEOUT = 0x102,
    THREAD_WAIT_FAILED = 0xFFFFFFFF,
};
// Wait for ever.
static const u32 THREAD_INFINITE = 0xFFFFFFFFu;
// Stack size of every engine thread.
static const size_t THREAD_STACK_SIZE = 0x100000;

struct SThreadState;

class SThread
{
  public:
    SThreadState* Thread; // null while not started
    u32 ThreadId;

    SThread() : Thread(nullptr), ThreadId(0) {}
    // A thread still running is let go (detached); it ends on its own.
    ~SThread();

    // Starts routine(context) on a new thread. Refused while this object holds a thread.
    bool Start(TThreadRoutine routine, void* context);
    // Waits at most the given time for the thread to end: THREAD_WAIT_SIGNALED once it has ended,
    // THREAD_WAIT_TIMEOUT while it runs, THREAD_WAIT_FAILED without a thread.
    u32 Wait(u32 milliseconds);

    SThread(const SThread&) = delete;
    SThread& operator=(const SThread&) = delete;
};

void ThreadSleep(u32 milliseconds);
// Whether the caller is the program's main thread (the one that ran static initialisation).
bool ThreadIsMain();

// A wake-up call that is never lost: Raise before Wait makes the next Wait return at once. One
// raise wakes one wait, however many raises came before it.
class SThreadSignal
{
  public:
    SThreadSignal() : Raised(false) {}
    void Raise();
    // Waits until raised or the milliseconds have passed (THREAD_INFINITE: no limit); true when
    // raised. Takes the raise.
    bool Wait(u32 milliseconds);

    SThreadSignal(const SThreadSignal&) = delete;
    SThreadSignal& operator=(const SThreadSignal&) = delete;

  private:
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Raised;
};

// One word, 0 free and 1 held, changed only by fully ordered compare-and-exchange. Not re-entrant.
// Waiting threads pause and, after a while, yield: the holder may need the same core.
class SSpinLock
{
  public:
    std::atomic<u32> Word;

    SSpinLock() : Word(0) {}
    void Lock();
    void Unlock();

    SSpinLock(const SSpinLock&) = delete;
    SSpinLock& operator=(const SSpinLock&) = delete;
};
