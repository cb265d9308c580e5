#include "GameImageDecoder.h"

#include <IL/il.h>
#include <IL/ilu.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "GameArgs.h"
#include "GameFileIO.h"
#include "GameSignals.h"
#include "decoder/PictureDecode.h"

extern char** environ;

static TString GDecoderProgram;
static double GDecodeTimeout = 0.0; // 0: by the picture's size
static bool GDecodeInProcess = false;

static const int WAIT_POLL_MS = 1; // between checks when the kernel offers no process descriptor

static void StopSpare();

void SetImageDecoderProgram(const char* path)
{
    StopSpare();
    GDecoderProgram = path ? path : "";
}

TString ImageDecoderProgram()
{
    if (!GDecoderProgram.IsEmpty())
        return GDecoderProgram;
    return ExtractFilePath(gSysProgramPath()) + IMAGE_DECODER_PROGRAM;
}

void SetImageDecodeTimeout(double seconds)
{
    GDecodeTimeout = seconds > 0.0 ? seconds : 0.0;
}

void SetImageDecodeInProcess(bool inProcess)
{
    GDecodeInProcess = inProcess;
}

void StopImageDecoder()
{
    StopSpare();
}

static double NowSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static bool WriteAll(int fd, const u8* data, u64 size)
{
    while (size > 0)
    {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= (u64)n;
    }
    return true;
}

static bool ReadAllAt(int fd, u8* data, u64 size)
{
    u64 at = 0;
    while (at < size)
    {
        ssize_t n = pread(fd, data + at, size - at, (off_t)at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += (u64)n;
    }
    return true;
}

// Waits for pid to end within timeout seconds, killing it when it does not. True when it ended
// by itself, with its wait status in status.
static bool WaitWithTimeout(pid_t pid, double timeout, int& status)
{
    const double deadline = NowSeconds() + timeout;
    bool ended = false;
    int pidfd = (int)syscall(SYS_pidfd_open, pid, 0);
    if (pidfd >= 0)
    {
        for (;;)
        {
            const double left = deadline - NowSeconds();
            if (left <= 0.0)
                break;
            pollfd p = {pidfd, POLLIN, 0};
            const int r = poll(&p, 1, (int)(left * 1000.0) + 1);
            if (r > 0)
            {
                ended = true;
                break;
            }
            if (r < 0 && errno != EINTR)
                break;
        }
        close(pidfd);
    }
    else
    {
        while (NowSeconds() < deadline)
        {
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
            const timespec pause = {0, WAIT_POLL_MS * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
    if (!ended)
        kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    return ended;
}

static bool GImageLibraryStarted = false;

void InitImageLibrary()
{
    if (GImageLibraryStarted)
        return;
    ilInit();
    iluInit();
    ilEnable(IL_FILE_OVERWRITE);
    GImageLibraryStarted = true;
}

int DecodeFailed(const char* name, TString* failure, bool refused, const char* format, ...)
{
    const u32 REASON_MAX = 1024;
    char reason[REASON_MAX];
    va_list args;
    va_start(args, format);
    vsnprintf(reason, sizeof(reason), format, args);
    va_end(args);
    if (failure)
        *failure = reason;
    else
        fprintf(stderr, "DecodeImageFile: \"%s\"%s%s\n", LogLineText(name, (u32)strlen(name)).Str(),
                refused ? " not loaded: " : ": ", reason);
    return -1;
}

static int DecodeInProcess(const u8* data, u64 size, const SImageProbe& probe, const char* name, SImage2D& image,
                           TString* failure)
{
    InitImageLibrary();
    char error[256];
    if (!image.Resize(probe.Width, probe.Height, false) ||
        !DecodePicture(data, size, probe.Type, probe.Width, probe.Height, (u8*)image.Pixels.data, error,
                                sizeof(error)))
    {
        return DecodeFailed(name, failure, true, "%s", error);
    }
    return 1;
}

// One decoder process with the memory files it reads from and writes to and the socket its job
// line arrives on.
struct SDecoderProcess
{
    pid_t Pid;
    int InFd, OutFd, JobFd;
    TString Program;

    SDecoderProcess() : Pid(0), InFd(-1), OutFd(-1), JobFd(-1) {}
};

// The process started ahead for the next picture, so that a decode does not wait for the
// program to start and load the library. It serves one picture, like any other.
static SDecoderProcess GSpare;
static pthread_mutex_t GDecoderLock = PTHREAD_MUTEX_INITIALIZER;

static void CloseFds(SDecoderProcess& p)
{
    for (int* fd : {&p.InFd, &p.OutFd, &p.JobFd})
    {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

static void Stop(SDecoderProcess& p)
{
    if (p.Pid > 0)
    {
        kill(p.Pid, SIGKILL);
        while (waitpid(p.Pid, nullptr, 0) < 0 && errno == EINTR)
        {
        }
    }
    p.Pid = 0;
    CloseFds(p);
}

// The environment of the decoder: the program's own, with glibc's allocator asked for huge pages
// (far fewer page faults on the picture's buffers) unless the environment says otherwise.
static char** DecoderEnvironment()
{
    static const char* const tunables = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
    static TArray<char*> env;
    env.Resize(0);
    bool hasTunables = false;
    for (char** e = environ; e && *e; ++e)
    {
        hasTunables = hasTunables || strncmp(*e, "GLIBC_TUNABLES=", 15) == 0;
        env.Add(*e);
    }
    if (!hasTunables)
        env.Add((char*)tunables);
    env.Add(nullptr);
    return env.data;
}

// Starts the decoder waiting for its job. 0 on success, else the error number.
static int Start(const TString& program, SDecoderProcess& p)
{
    p = SDecoderProcess();
    p.Program = program;
    p.InFd = memfd_create("plumweave-image", MFD_CLOEXEC);
    p.OutFd = memfd_create("plumweave-pixels", MFD_CLOEXEC);
    int sv[2] = {-1, -1};
    if (p.InFd < 0 || p.OutFd < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
    {
        const int err = errno;
        CloseFds(p);
        return err;
    }
    p.JobFd = sv[0];
    char wait[] = "--wait";
    char* argv[] = {(char*)program.Str(), wait, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, p.InFd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, p.OutFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, sv[1], IMAGE_DECODER_JOB_FD);
    // The decoder starts with the default signal actions, not with what this process ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    SysChildSignalDefaults(defaults);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int err = posix_spawn(&p.Pid, program.Str(), &actions, &attributes, argv, DecoderEnvironment());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(sv[1]);
    if (err != 0)
    {
        p.Pid = 0;
        CloseFds(p);
    }
    return err;
}

// Hands the picture to a started decoder and waits for it; the pixels land in its OutFd.
static bool RunJob(SDecoderProcess& p, const u8* data, u64 size, const SImageProbe& probe, const char* name,
                   TString* failure)
{
    if (!WriteAll(p.InFd, data, size))
    {
        DecodeFailed(name, failure, false, "cannot hand the file to the decoder: %s", strerror(errno));
        return false;
    }
    // One line: a line feed in the name would end it early.
    TString job;
    job.Format(IMAGE_DECODER_JOB_MAX, "%d %u %u %s", (int)probe.Type, probe.Width, probe.Height, name);
    for (u32 i = 0; i < job.Length(); ++i)
        if (job.text[i] == '\n')
            job.text[i] = '?';
    job += "\n";
    // A decoder that is gone already is reported by its end below.
    const char* at = job.Str();
    for (u32 left = job.Length(); left > 0;)
    {
        const ssize_t n = send(p.JobFd, at, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        at += n;
        left -= (u32)n;
    }
    int status = 0;
    const u32 cpuSeconds = DecodeCpuSeconds(probe.Width, probe.Height);
    const double timeout = GDecodeTimeout > 0.0 ? GDecodeTimeout : cpuSeconds * IMAGE_DECODE_CLOCK_PER_CPU_SECOND;
    const bool ended = WaitWithTimeout(p.Pid, timeout, status);
    p.Pid = 0;
    if (!ended)
    {
        DecodeFailed(name, failure, false, "the decoder did not finish within %g s and was stopped", timeout);
        return false;
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
    {
        DecodeFailed(name, failure, false, "the decode took longer than %u s of processor time and was stopped",
                     cpuSeconds);
        return false;
    }
    if (WIFSIGNALED(status))
    {
        DecodeFailed(name, failure, false, "the decoder ended with signal %d (%s)", WTERMSIG(status),
                     strsignal(WTERMSIG(status)));
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == IMAGE_DECODER_EXIT_REFUSED)
    {
        // The decoder handed back its reason in place of the pixels.
        char reason[IMAGE_DECODER_REASON_MAX + 1];
        const ssize_t n = pread(p.OutFd, reason, IMAGE_DECODER_REASON_MAX, 0);
        reason[n > 0 ? n : 0] = 0;
        DecodeFailed(name, failure, true, "%s", n > 0 ? reason : "the decoder gave no reason");
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    {
        DecodeFailed(name, failure, false, "the decoder failed with exit code %d",
                     WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return false;
    }
    return true;
}

static void StopSpare()
{
    pthread_mutex_lock(&GDecoderLock);
    Stop(GSpare);
    pthread_mutex_unlock(&GDecoderLock);
}

static int DecodeInChild(const u8* data, u64 size, const SImageProbe& probe, const char* name, SImage2D& image,
                         TString* failure)
{
    const TString program = ImageDecoderProgram();
    SDecoderProcess p;
    if (GSpare.Pid > 0 && GSpare.Program == program)
    {
        p = GSpare;
        GSpare = SDecoderProcess();
    }
    else
    {
        Stop(GSpare);
        const int err = Start(program, p);
        if (err != 0)
        {
            return DecodeFailed(name, failure, false, "cannot start the decoder \"%s\": %s", program.Str(),
                                strerror(err));
        }
    }
    // The next picture's decoder starts while this one works.
    if (Start(program, GSpare) != 0)
        GSpare = SDecoderProcess();

    int result = -1;
    if (RunJob(p, data, size, probe, name, failure))
    {
        const u64 bytes = (u64)probe.Width * probe.Height * 4;
        struct stat st = {};
        if (fstat(p.OutFd, &st) != 0 || (u64)st.st_size != bytes)
            DecodeFailed(name, failure, false, "the decoder handed back %lld bytes, not %llu", (long long)st.st_size,
                         (unsigned long long)bytes);
        else if (!image.Resize(probe.Width, probe.Height, false) || !ReadAllAt(p.OutFd, (u8*)image.Pixels.data, bytes))
            DecodeFailed(name, failure, false, "cannot take the decoded pixels");
        else
            result = 1;
    }
    Stop(p);
    return result;
}

int DecodeImageProtected(const u8* data, u64 size, const SImageProbe& probe, const char* name, SImage2D& image,
                         TString* failure)
{
    if (!name)
        name = "";
    if (probe.Type == IFT_Unknown || probe.Type == IFT_PNG || probe.Width == 0 || probe.Height == 0 || !data)
    {
        return DecodeFailed(name, failure, false, "not a type for the image library");
    }
    if (GDecodeInProcess)
        return DecodeInProcess(data, size, probe, name, image, failure);
    pthread_mutex_lock(&GDecoderLock);
    const int result = DecodeInChild(data, size, probe, name, image, failure);
    pthread_mutex_unlock(&GDecoderLock);
    return result;
}
