// An idle program costs nothing: the editor with the sample document open in its window (also with
// its job server on), and a job server started without a display, are each left alone and their
// CPU time (all threads, from /proc) is read over IDLE_MEASURE_SECONDS. "cpu_fraction" = CPU
// seconds / wall seconds, against "goal" (0.05 of a core for the editor, 0.01 for the server);
// "main_thread_fraction" is the loop's own thread, "wakeups_per_second" the times any of its
// threads (the loop, the texture loader, the renderer's workers) was switched out and woke again
// (voluntary and involuntary context switches summed over all threads), against "wakeups_goal".
// The editor needs a display: tools/bench.sh runs the benchmarks under Xvfb as the tests do;
// without a display the editor case fails loudly instead of skipping.
// Without a GPU, clearing and presenting a frame is itself CPU work; as a reference the same run
// measures that work in this process ("render_fraction": the CPU one frame's clear and swap take,
// per frame period at the program's frame cap, that is what drawing every frame would cost).
// "ratio" = cpu_fraction / render_fraction: far below 1 when the idle program draws nothing.
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
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/resource.h>

#include <GL/glew.h>

#include "GameCore.h"
#include "GameWindow.h"
#include "ProcessSupport.h"

extern char** environ;

namespace
{
double WallSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
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

const double IDLE_WARMUP_SECONDS = 3.0;  // start-up, the document's processing, the first frames
const double IDLE_MEASURE_SECONDS = 5.0;
const double EDITOR_GOAL = 0.05;
const double SERVER_GOAL = 0.01;
const double WAKEUPS_GOAL = 8.0; // a second, over all threads
const double PROGRAM_MIN_FRAME_TIME = 1.0 / 120.0; // the program's frame cap

enum EIdleCase
{
    IDLE_Editor,
    IDLE_EditorWithServer,
    IDLE_HeadlessServer,
};

// A port nobody listens on at the moment (bound once on loopback, then let go).
int FreePort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = -1;
    if (fd >= 0 && bind(fd, (const sockaddr*)&a, sizeof(a)) == 0 && getsockname(fd, (sockaddr*)&a, &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

void BM_IdleWindowCpu(benchmark::State& state, EIdleCase which)
{
    const char* current = getenv("DISPLAY");
    const std::string display = current && current[0] ? current : "";
    const bool editor = which != IDLE_HeadlessServer;
    if (editor && display.empty())
    {
        state.SkipWithError("no display: the idle editor needs one; run the benchmarks through tools/bench.sh");
        return;
    }
    const std::string program = ProgramDir() + "/plumweave";
    // The sample document is processed at start and writes its images beside itself: a copy in a
    // folder of its own keeps the source tree clean.
    char tmpl[] = "/tmp/pwbenchidleXXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "";
    const std::string samples = PW_SAMPLES_DIR;
    RunCapture("cp '" + samples + "/Sample.kvf' '" + samples + "/Sample.png' '" + dir + "/'");
    const std::string document = dir + "/Sample.kvf";
    const std::string port = std::to_string(FreePort());
    double fraction = 0.0;
    double mainFraction = 0.0; // the loop's own thread, without the renderer's worker threads
    double wakeups = 0.0;
    for (auto _ : state)
    {
        const char* editorArgs[] = { program.c_str(), document.c_str(), nullptr };
        const char* editorServerArgs[] = { program.c_str(), document.c_str(), "-listen", port.c_str(), nullptr };
        const char* serverArgs[] = { program.c_str(), "-listen", port.c_str(), nullptr };
        const pid_t pid = which == IDLE_Editor             ? Spawn(editorArgs, display.c_str())
                          : which == IDLE_EditorWithServer ? Spawn(editorServerArgs, display.c_str())
                                                           : Spawn(serverArgs, nullptr);
        if (pid <= 0)
        {
            state.SkipWithError("plumweave could not start");
            break;
        }
        usleep((useconds_t)(IDLE_WARMUP_SECONDS * 1e6));
        const double cpu0 = ProcessCpuSeconds(pid);
        const double main0 = ProcessCpuSeconds(pid, true);
        const long wakes0 = ProcessWakeups(pid);
        const double wall0 = WallSeconds();
        usleep((useconds_t)(IDLE_MEASURE_SECONDS * 1e6));
        const double cpu1 = ProcessCpuSeconds(pid);
        const double main1 = ProcessCpuSeconds(pid, true);
        const long wakes1 = ProcessWakeups(pid);
        const double wall1 = WallSeconds();
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        if (cpu0 < 0 || cpu1 < 0 || wakes0 < 0 || wakes1 < 0)
        {
            state.SkipWithError("plumweave ended early");
            break;
        }
        fraction = (cpu1 - cpu0) / (wall1 - wall0);
        mainFraction = (main1 - main0) / (wall1 - wall0);
        wakeups = (double)(wakes1 - wakes0) / (wall1 - wall0);
    }
    RunCapture("rm -rf '" + dir + "'");
    const double perFrame = RenderCpuPerFrame();
    const double period = perFrame > PROGRAM_MIN_FRAME_TIME ? perFrame : PROGRAM_MIN_FRAME_TIME;
    const double renderFraction = perFrame / period;
    const double goal = editor ? EDITOR_GOAL : SERVER_GOAL;
    state.counters["cpu_fraction"] = fraction;
    state.counters["goal"] = goal;
    state.counters["met"] = fraction <= goal ? 1.0 : 0.0;
    state.counters["main_thread_fraction"] = mainFraction;
    state.counters["wakeups_per_second"] = wakeups;
    state.counters["wakeups_goal"] = WAKEUPS_GOAL;
    state.counters["wakeups_met"] = wakeups < WAKEUPS_GOAL ? 1.0 : 0.0;
    state.counters["render_fraction"] = renderFraction;
    state.counters["ratio"] = renderFraction > 0 ? fraction / renderFraction : 0.0;
}
BENCHMARK_CAPTURE(BM_IdleWindowCpu, editor, IDLE_Editor)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_IdleWindowCpu, editor_with_server, IDLE_EditorWithServer)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_IdleWindowCpu, headless_server, IDLE_HeadlessServer)->Iterations(1)->Unit(benchmark::kSecond);
} // namespace
