// The program idle in its window must not spin: over 5 seconds it may use less than 10% of one
// core (the frame-rate cap sleeps). Runs plumweave on the current display (without one the
// benchmark skips itself and changes nothing for the others), and reports "cpu_fraction" = CPU seconds / wall seconds (goal < 0.10).
// Without a GPU, clearing and presenting a frame is itself CPU work; as a reference the same run
// measures that work in this process ("render_fraction": the CPU one capped frame's clear and swap
// take, per frame period). "overhead_ratio" = cpu_fraction / render_fraction: near 1 means the loop
// only renders and sleeps; a spinning loop would be many times higher.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <sys/resource.h>

#include <GL/glew.h>

#include "GameCore.h"
#include "GameWindow.h"

extern char** environ;

namespace
{
double WallSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// User + system CPU seconds of a live process, all threads included (or of its main thread only).
double ProcessCpuSeconds(pid_t pid, bool mainThreadOnly = false)
{
    char path[64];
    if (mainThreadOnly)
        snprintf(path, sizeof(path), "/proc/%d/task/%d/stat", (int)pid, (int)pid);
    else
        snprintf(path, sizeof(path), "/proc/%d/stat", (int)pid);
    FILE* f = fopen(path, "r");
    if (!f)
        return -1.0;
    char buf[1024] = {};
    const size_t n = fread(buf, 1, sizeof(buf) - 1, f);
    fclose(f);
    buf[n] = 0;
    // Fields after the command name (which may hold blanks) start past the last ')'.
    const char* p = strrchr(buf, ')');
    if (!p)
        return -1.0;
    unsigned long utime = 0, stime = 0;
    // state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime stime
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return -1.0;
    return (double)(utime + stime) / (double)sysconf(_SC_CLK_TCK);
}

std::string ProgramDir()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return ".";
    buf[n] = 0;
    std::string s(buf);
    return s.substr(0, s.rfind('/'));
}

pid_t Spawn(const char* const* argv, const char* display)
{
    std::string disp = std::string("DISPLAY=") + (display ? display : "");
    std::string env = "PLUMWEAVE_NONINTERACTIVE=1";
    const char* envp[64];
    int k = 0;
    for (char** e = environ; *e && k < 60; ++e)
        if (strncmp(*e, "DISPLAY=", 8) != 0 && strncmp(*e, "PLUMWEAVE_NONINTERACTIVE=", 25) != 0)
            envp[k++] = *e;
    if (display)
        envp[k++] = disp.c_str();
    envp[k++] = env.c_str();
    envp[k] = nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, (char* const*)argv, (char* const*)envp) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

double SelfCpuSeconds()
{
    rusage r;
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_utime.tv_usec * 1e-6 + r.ru_stime.tv_sec + r.ru_stime.tv_usec * 1e-6;
}

// CPU seconds per frame of what the idle program draws: a clear to the clear colour and a swap.
double RenderCpuPerFrame()
{
    SWindowSystem* system = new SWindowSystem();
    SWindow* window = new SWindow(system);
    SVideoMode mode = { GScreenWidth, GScreenHeight, 0, 60, 0, 1 };
    window->SetMode("reference", mode);
    glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    const int frames = 200;
    for (int i = 0; i < 10; ++i)
    {
        glClear(GL_COLOR_BUFFER_BIT);
        window->SwapBuffers();
    }
    glFinish();
    const double cpu0 = SelfCpuSeconds();
    for (int i = 0; i < frames; ++i)
    {
        glClear(GL_COLOR_BUFFER_BIT);
        window->SwapBuffers();
        glFinish();
    }
    const double cpu1 = SelfCpuSeconds();
    delete window;
    delete system;
    return (cpu1 - cpu0) / frames;
}

void BM_IdleWindowCpu(benchmark::State& state)
{
    const char* current = getenv("DISPLAY");
    const std::string display = current && current[0] ? current : "";
    if (display.empty())
    {
        state.SkipWithError("no display: the idle window needs one");
        return;
    }
    const std::string program = ProgramDir() + "/plumweave";
    double fraction = 0.0;
    double mainFraction = 0.0; // the loop's own thread, without the renderer's worker threads
    for (auto _ : state)
    {
        const char* argv[] = { program.c_str(), nullptr };
        const pid_t pid = Spawn(argv, display.c_str());
        if (pid <= 0)
        {
            state.SkipWithError("plumweave could not start");
            break;
        }
        // Start-up (context, driver) is not idling: measure from one second on, for five seconds.
        usleep(1000000);
        const double cpu0 = ProcessCpuSeconds(pid);
        const double main0 = ProcessCpuSeconds(pid, true);
        const double wall0 = WallSeconds();
        usleep(5000000);
        const double cpu1 = ProcessCpuSeconds(pid);
        const double main1 = ProcessCpuSeconds(pid, true);
        const double wall1 = WallSeconds();
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        if (cpu0 < 0 || cpu1 < 0)
        {
            state.SkipWithError("plumweave ended early");
            break;
        }
        fraction = (cpu1 - cpu0) / (wall1 - wall0);
        mainFraction = (main1 - main0) / (wall1 - wall0);
    }
    const double perFrame = RenderCpuPerFrame();
    // The program's frames come at most every GMinFrameTime seconds.
    const double period = perFrame > GMinFrameTime ? perFrame : GMinFrameTime;
    const double renderFraction = perFrame / period;
    state.counters["cpu_fraction"] = fraction;
    state.counters["goal"] = 0.10;
    state.counters["main_thread_fraction"] = mainFraction;
    state.counters["render_fraction"] = renderFraction;
    state.counters["overhead_ratio"] = renderFraction > 0 ? fraction / renderFraction : 0.0;
}
BENCHMARK(BM_IdleWindowCpu)->Iterations(1)->Unit(benchmark::kSecond);
} // namespace
