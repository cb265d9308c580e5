#include "GameThread.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <chrono>
#include <new>

// Shared by the SThread object and its thread; whichever lets go last frees it, so the object
// may be destroyed while the thread still runs.
struct SThreadState
{
    pthread_t handle;
    pthread_mutex_t mutex;
    pthread_cond_t ended; // waits on CLOCK_MONOTONIC
    bool finished;
    bool released; // joined or detached
    std::atomic<int> refs;
    TThreadRoutine routine;
    void* context;
    u32 result;
};

static std::atomic<u32> GNextThreadId(1);

static void ReleaseState(SThreadState* s)
{
    if (s->refs.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    pthread_cond_destroy(&s->ended);
    pthread_mutex_destroy(&s->mutex);
    s->~SThreadState();
    MemFree(s);
}

static void* ThreadEntry(void* arg)
{
    SThreadState* s = (SThreadState*)arg;
    u32 result = s->routine(s->context);
    pthread_mutex_lock(&s->mutex);
    s->result = result;
    s->finished = true;
    pthread_cond_broadcast(&s->ended);
    pthread_mutex_unlock(&s->mutex);
    ReleaseState(s);
    return nullptr;
}

bool SThread::Start(TThreadRoutine routine, void* context)
{
    // One thread per object: a second start would lose the first one's handle.
    if (BREAK_IF(Thread))
        return false;

    SThreadState* s = new (MemAlloc(sizeof(SThreadState))) SThreadState;
    pthread_mutex_init(&s->mutex, nullptr);
    pthread_condattr_t ca;
    pthread_condattr_init(&ca);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&s->ended, &ca);
    pthread_condattr_destroy(&ca);
    s->finished = false;
    s->released = false;
    s->refs.store(2);
    s->routine = routine;
    s->context = context;
    s->result = 0;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, THREAD_STACK_SIZE);
    int rc = pthread_create(&s->handle, &attr, ThreadEntry, s);
    pthread_attr_destroy(&attr);
    Thread = rc == 0 ? s : nullptr;
    if (BREAK_IF(Thread == NULL))
    {
        s->refs.store(1);
        ReleaseState(s);
        return false;
    }
    ThreadId = GNextThreadId.fetch_add(1);
    return true;
}

u32 SThread::Wait(u32 milliseconds)
{
    SThreadState* s = Thread;
    if (!s)
        return THREAD_WAIT_FAILED;

    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += (long)(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L)
    {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }

    pthread_mutex_lock(&s->mutex);
    while (!s->finished)
    {
        int rc = milliseconds == THREAD_INFINITE ? pthread_cond_wait(&s->ended, &s->mutex)
                                                 : pthread_cond_timedwait(&s->ended, &s->mutex, &deadline);
        if (rc == ETIMEDOUT && !s->finished)
        {
            pthread_mutex_unlock(&s->mutex);
            return THREAD_WAIT_TIMEOUT;
        }
    }
    bool join = !s->released;
    s->released = true;
    pthread_mutex_unlock(&s->mutex);
    // The routine has returned; joining only collects the thread's resources.
    if (join)
        pthread_join(s->handle, nullptr);
    return THREAD_WAIT_SIGNALED;
}

SThread::~SThread()
{
    SThreadState* s = Thread;
    if (!s)
        return;
    pthread_mutex_lock(&s->mutex);
    bool release = !s->released;
    bool finished = s->finished;
    s->released = true;
    pthread_mutex_unlock(&s->mutex);
    if (release)
    {
        if (finished)
            pthread_join(s->handle, nullptr);
        else
            pthread_detach(s->handle);
    }
    Thread = nullptr;
    ReleaseState(s);
}

static const pthread_t GMainThread = pthread_self();

bool ThreadIsMain()
{
    return pthread_equal(pthread_self(), GMainThread) != 0;
}

void ThreadSleep(u32 milliseconds)
{
    // Half a millisecond more, so that the engine sleep's truncation to whole milliseconds gives
    // back exactly the count asked for.
    gSysSleep(((double)milliseconds + 0.5) / 1000.0);
}

static inline void CpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

void SSpinLock::Lock()
{
    u32 spins = 0;
    for (;;)
    {
        u32 expected = 0;
        if (Word.compare_exchange_strong(expected, 1, std::memory_order_seq_cst))
            return;
        // Watch the word without writing to it until it looks free.
        while (Word.load(std::memory_order_relaxed) != 0)
        {
            if (++spins < 100)
                CpuRelax();
            else
                sched_yield();
        }
    }
}

void SSpinLock::Unlock()
{
    u32 expected = 1;
    Word.compare_exchange_strong(expected, 0, std::memory_order_seq_cst);
}

void SThreadSignal::Raise()
{
    std::lock_guard<std::mutex> hold(Mutex);
    Raised = true;
    Changed.notify_one();
}

bool SThreadSignal::Wait(u32 milliseconds)
{
    std::unique_lock<std::mutex> hold(Mutex);
    if (milliseconds == THREAD_INFINITE)
        Changed.wait(hold, [this] { return Raised; });
    else
        Changed.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return Raised; });
    const bool raised = Raised;
    Raised = false;
    return raised;
}
