// Running other programs from tests and benchmarks: their output, their exit status, their CPU time.
#pragma once

#include <sys/types.h>

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

// User + system CPU seconds of a live process, all threads included (or of its main thread only);
// -1 when it cannot be read.
double ProcessCpuSeconds(pid_t pid, bool mainThreadOnly = false);
