// Running other programs from tests and benchmarks: their output, their exit status, their CPU time.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// Runs `cmd` through the shell and returns what it printed on standard output; `status`, when
// given, gets pclose's status (-1 when the command could not start).
std::string RunCapture(const std::string& cmd, int* status = nullptr);

// Where a started program's standard output and error go, besides a descriptor of the caller's.
const int OUTPUT_DROPPED = -1, OUTPUT_INHERITED = -2;

// Starts `program` with `args` in the folder `cwd` as a machine with nobody at it runs it: no
// display, no question asked. Its standard output and error go to `outputFd` (or as above).
// The child's pid, or -1.
pid_t StartHeadless(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                    int outputFd);

// A started program that is ended (SIGKILL) and waited for when the guard goes, unless it was
// waited for already: no path of a test, a failed assertion included, leaves it running.
// Longest a data generator of the build (fonts, GUI images) may take in a test.
const double GENERATOR_SECONDS = 120.0;

class TProgramGuard
{
public:
    explicit TProgramGuard(pid_t pid) : Pid(pid) {}
    ~TProgramGuard() { Stop(SIGKILL); }
    TProgramGuard(const TProgramGuard&) = delete;
    TProgramGuard& operator=(const TProgramGuard&) = delete;
    // Waits up to the seconds for the program to end by itself; true with its wait status.
    bool Wait(double seconds, int& status);
    // Sends the signal and waits for the end; the wait status (-1 when it was waited for already).
    int Stop(int signal);
    // The id of the program's mapped window titled "Plumweave - ...", waiting up to the seconds
    // while it starts (a loaded machine may need many); 0 when none shows or the program ended.
    unsigned long WaitForWindow(double seconds);

private:
    pid_t Pid; // -1 once waited for
};

// User + system CPU seconds of a live process, all threads included (or of its main thread only);
// -1 when it cannot be read.
double ProcessCpuSeconds(pid_t pid, bool mainThreadOnly = false);
// Times the threads of a live process were switched out (voluntary and involuntary context
// switches summed over every thread): each is one wake-up; -1 when they cannot be read.
long ProcessWakeups(pid_t pid);

// Runs body in a child process as "nobody" when the tests run as root, else as their user: its
// result (255: not become that user), or -1 past ORDINARY_USER_SECONDS or on another ending.
const unsigned ORDINARY_USER_SECONDS = 30;
// What such a user meets: a file none but root may open, in a folder everyone may pass through.
const mode_t NO_ACCESS_FILE = 0, SEARCHABLE_FOLDER = 0755;
int RunAsOrdinaryUser(const std::function<int()>& body);

// Copies the built program, its decoder and its data into `folder`, so that a user who may not
// enter the build tree can run it; the copy's path, or empty when it could not be made.
std::string CopyProgramInto(const std::string& folder);
