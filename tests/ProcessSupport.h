// Running other programs from tests and benchmarks: their output, their exit status, their CPU time.
#pragma once

#include <sys/types.h>

#include <string>

// Runs `cmd` through the shell and returns what it printed on standard output; `status`, when
// given, gets pclose's status (-1 when the command could not start).
std::string RunCapture(const std::string& cmd, int* status = nullptr);

// User + system CPU seconds of a live process, all threads included (or of its main thread only);
// -1 when it cannot be read.
double ProcessCpuSeconds(pid_t pid, bool mainThreadOnly = false);
