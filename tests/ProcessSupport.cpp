#include "ProcessSupport.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

std::string RunCapture(const std::string& cmd, int* status)
{
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
    {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    const int s = pclose(p);
    if (status)
        *status = s;
    return out;
}

double ProcessCpuSeconds(pid_t pid, bool mainThreadOnly)
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

long ProcessWakeups(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
    DIR* d = opendir(tasks.c_str());
    long total = d ? 0 : -1, n = 0;
    char line[256];
    for (const dirent* e; d && (e = readdir(d)) != nullptr;)
        if (FILE* f = e->d_name[0] != '.' ? fopen((tasks + e->d_name + "/status").c_str(), "r") : nullptr)
        {
            while (fgets(line, sizeof(line), f))
                if (sscanf(line, "voluntary_ctxt_switches: %ld", &n) == 1 ||
                    sscanf(line, "nonvoluntary_ctxt_switches: %ld", &n) == 1)
                    total += n;
            fclose(f);
        }
    if (d)
        closedir(d);
    return total;
}

pid_t StartHeadless(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                    int outputFd)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (outputFd >= 0)
    {
        dup2(outputFd, 1);
        dup2(outputFd, 2);
        close(outputFd);
    }
    else if (outputFd == OUTPUT_DROPPED &&
             (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)))
        _exit(127);
    if (chdir(cwd.c_str()) != 0)
        _exit(127);
    // As a shell starts it: the signals a write may raise at their default actions.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    unsetenv("DISPLAY");
    setenv("PLUMWEAVE_NONINTERACTIVE", "1", 1);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

bool TProgramGuard::Wait(double seconds, int& status)
{
    const useconds_t STEP_US = 10000;
    for (double waited = 0; Pid > 0; waited += STEP_US * 1e-6)
    {
        if (waitpid(Pid, &status, WNOHANG) == Pid)
        {
            Pid = -1;
            return true;
        }
        if (waited >= seconds)
            return false;
        usleep(STEP_US);
    }
    return false;
}

unsigned long TProgramGuard::WaitForWindow(double seconds)
{
    const useconds_t STEP_US = 50000;
    // Searched by process too: a window of a program that just ended may linger for a moment.
    const std::string search = "xdotool search --all --onlyvisible --pid " + std::to_string(Pid) +
                               " --name '^Plumweave - ' 2>/dev/null | head -n 1";
    int status = 0;
    for (double waited = 0; waited < seconds && !Wait(0, status); waited += STEP_US * 1e-6)
    {
        const std::string id = RunCapture(search);
        if (!id.empty())
            return strtoul(id.c_str(), nullptr, 10);
        usleep(STEP_US);
    }
    return 0;
}

int TProgramGuard::Stop(int signal)
{
    if (Pid <= 0)
        return -1;
    kill(Pid, signal);
    int status = -1;
    waitpid(Pid, &status, 0);
    Pid = -1;
    return status;
}

int RunAsOrdinaryUser(const std::function<int()>& body)
{
    const struct passwd* nobody = getpwnam("nobody");
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0)
    {
        alarm(ORDINARY_USER_SECONDS);
        if (geteuid() == 0 && (!nobody || setgroups(0, nullptr) != 0 || setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0 ||
                               setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0))
            _exit(255);
        _exit(body() & 0xFF);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string CopyProgramInto(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code failed;
    for (const char* part : {"plumweave", "plumweave_imgdec", "RERudu"})
        if (fs::copy(fs::path(PW_BIN_DIR) / part, fs::path(folder) / part, fs::copy_options::recursive, failed), failed)
            return "";
    return folder + "/plumweave";
}
