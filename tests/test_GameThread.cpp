#include "TestSupport.h"

#include "GameThread.h"

#include <pthread.h>
#include <time.h>

#include <atomic>

namespace
{
    // A routine that runs until it is released, so tests control when threads end.
    struct SGate
    {
        std::atomic<int> open{0};
        std::atomic<int> started{0};
        std::atomic<int> finished{0};
        size_t stackSize = 0;
    };

    u32 GatedRoutine(void* context)
    {
        SGate* g = (SGate*)context;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0)
        {
            pthread_attr_getstacksize(&attr, &g->stackSize);
            pthread_attr_destroy(&attr);
        }
        g->started.fetch_add(1);
        while (!g->open.load())
            ThreadSleep(1);
        g->finished.fetch_add(1);
        return 7;
    }

    // Waits (bounded) for a condition set by another thread.
    template <class F> bool Eventually(F condition)
    {
        for (int i = 0; i < 20000; ++i)
        {
            if (condition())
                return true;
            ThreadSleep(1);
        }
        return false;
    }

    double MonotonicMs()
    {
        timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
    }
} // namespace

TEST(SThread, RunsTheRoutineWithOneMegabyteStackAndWaitTimesOutThenSucceeds)
{
    SGate gate;
    SThread t;
    EXPECT_EQ(t.Wait(0), (u32)THREAD_WAIT_FAILED); // nothing started yet
    ASSERT_TRUE(t.Start(GatedRoutine, &gate));
    EXPECT_NE(t.Thread, nullptr);
    EXPECT_NE(t.ThreadId, 0u);
    ASSERT_TRUE(Eventually([&] { return gate.started.load() == 1; }));
    EXPECT_EQ(gate.stackSize, THREAD_STACK_SIZE);

    EXPECT_EQ(t.Wait(0), (u32)THREAD_WAIT_TIMEOUT);
    EXPECT_EQ(t.Wait(30), (u32)THREAD_WAIT_TIMEOUT);
    EXPECT_EQ(gate.finished.load(), 0);

    gate.open = 1;
    EXPECT_EQ(t.Wait(THREAD_INFINITE), (u32)THREAD_WAIT_SIGNALED);
    EXPECT_EQ(gate.finished.load(), 1);
    // An ended thread stays signalled.
    EXPECT_EQ(t.Wait(0), (u32)THREAD_WAIT_SIGNALED);
}

TEST(SThread, SecondStartIsRefusedAndStartsNoThread)
{
    SGate gate;
    SThread t;
    ASSERT_TRUE(t.Start(GatedRoutine, &gate));
    SThreadState* first = t.Thread;
    {
        TExpectBreak expect("Thread");
        EXPECT_FALSE(t.Start(GatedRoutine, &gate));
    }
    EXPECT_EQ(t.Thread, first);
    ASSERT_TRUE(Eventually([&] { return gate.started.load() >= 1; }));
    gate.open = 1;
    EXPECT_EQ(t.Wait(THREAD_INFINITE), (u32)THREAD_WAIT_SIGNALED);
    ThreadSleep(5);
    EXPECT_EQ(gate.started.load(), 1);
    EXPECT_EQ(gate.finished.load(), 1);
}

TEST(SThread, DestroyingTheObjectOfARunningThreadLetsItFinish)
{
    static SGate gate; // outlives the object: the thread still reads it
    {
        SThread t;
        ASSERT_TRUE(t.Start(GatedRoutine, &gate));
        ASSERT_TRUE(Eventually([&] { return gate.started.load() == 1; }));
    }
    gate.open = 1;
    EXPECT_TRUE(Eventually([&] { return gate.finished.load() == 1; }));
    ThreadSleep(10); // let it release its share of the state before the leak check
    // An object destroyed after its thread ended, without a Wait, collects it.
    SGate done;
    done.open = 1;
    {
        SThread t;
        ASSERT_TRUE(t.Start(GatedRoutine, &done));
        ASSERT_TRUE(Eventually([&] { return done.finished.load() == 1; }));
    }
}

TEST(SThread, ThreadSleepSleepsAtLeastTheTime)
{
    double t0 = MonotonicMs();
    ThreadSleep(25);
    EXPECT_GE(MonotonicMs() - t0, 25.0);
}

// ---------------------------------------------------------------------------------------------

TEST(SSpinLock, LockAndUnlockChangeTheWord)
{
    SSpinLock l;
    EXPECT_EQ(l.Word.load(), 0u);
    l.Lock();
    EXPECT_EQ(l.Word.load(), 1u);
    l.Unlock();
    EXPECT_EQ(l.Word.load(), 0u);
    l.Unlock(); // unlocking a free lock leaves it free
    EXPECT_EQ(l.Word.load(), 0u);
}

namespace
{
    struct SLockProbe
    {
        SSpinLock* lock;
        std::atomic<int> acquired{0};
    };
    u32 LockOnce(void* context)
    {
        SLockProbe* p = (SLockProbe*)context;
        p->lock->Lock();
        p->acquired = 1;
        p->lock->Unlock();
        return 0;
    }

    struct SCounterJob
    {
        SSpinLock* lock;
        long* counter;
        int increments;
    };
    u32 CountUnderLock(void* context)
    {
        SCounterJob* j = (SCounterJob*)context;
        for (int i = 0; i < j->increments; ++i)
        {
            j->lock->Lock();
            // A plain read-modify-write: only the lock keeps it exact.
            long v = *j->counter;
            *j->counter = v + 1;
            j->lock->Unlock();
        }
        return 0;
    }
} // namespace

TEST(SSpinLock, ASecondThreadWaitsUntilUnlock)
{
    SSpinLock l;
    SLockProbe probe;
    probe.lock = &l;
    l.Lock();
    SThread t;
    ASSERT_TRUE(t.Start(LockOnce, &probe));
    EXPECT_EQ(t.Wait(50), (u32)THREAD_WAIT_TIMEOUT);
    EXPECT_EQ(probe.acquired.load(), 0);
    l.Unlock();
    EXPECT_EQ(t.Wait(THREAD_INFINITE), (u32)THREAD_WAIT_SIGNALED);
    EXPECT_EQ(probe.acquired.load(), 1);
    EXPECT_EQ(l.Word.load(), 0u);
}

TEST(SSpinLock, EightThreadsCountExactly)
{
    SSpinLock l;
    long counter = 0;
    const int threads = 8, increments = 100000;
    SCounterJob job = {&l, &counter, increments};
    SThread t[threads];
    for (int i = 0; i < threads; ++i)
        ASSERT_TRUE(t[i].Start(CountUnderLock, &job));
    for (int i = 0; i < threads; ++i)
        EXPECT_EQ(t[i].Wait(THREAD_INFINITE), (u32)THREAD_WAIT_SIGNALED);
    EXPECT_EQ(counter, (long)threads * increments);
    EXPECT_EQ(l.Word.load(), 0u);
}
