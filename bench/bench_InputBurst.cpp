// A burst of clicks made while the editor is busy costs one processing. The material sample, made
// slow (its generators at 2048 and its blur at radius 16), is opened in the real program under the
// display that tools/bench.sh starts; clicks on the blur's "Uniform" toggle go through XTest
// (xdotool) and every processing shows as its image autosave nodes rewriting their files.
// Reference: one processing, from a single click on the idle editor to its files. Then one click
// starts a processing and BURST_CLICKS more follow during its first BURST_SHARE; the time from the
// last of them to the last rewrite (the picture that shows them all) is reported:
//   "ratio"          = that time / one processing (the goal: at most GOAL processings);
//   "after_running"  = the time from the end of the processing that was running at the last click
//                      to the last rewrite / one processing (1 when the burst costs one processing);
//   "processings"    = rewrites after the last click (the one that was running, then the burst's).
// No display: the benchmark fails loudly instead of skipping.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "GameSys.h"
#include "ProcessSupport.h"

extern char** environ;

namespace
{
const double GOAL = 1.5;
const int BURST_CLICKS = 10;
const double BURST_SHARE = 0.25;    // of one processing, over which the burst's clicks are spread
const double WINDOW_WAIT = 60.0;    // seconds for the window and the first processing
const double QUIET_PROCESSINGS = 1.5; // no rewrite for this many processings: the editor is done
const double GIVE_UP_PROCESSINGS = BURST_CLICKS + 4.0;
const double POLL_SECONDS = 0.01;
const int TOGGLE_X = 422, TOGGLE_Y = 72; // the blur's "Uniform" toggle, where the sample places it
const char* const WATCHED = "Material-height.jpg";

// The sample with every size a power of two higher and a wider blur: seconds per processing.
std::string SlowMaterial()
{
    std::ifstream in(std::string(PW_SAMPLES_DIR) + "/Material.kvf");
    std::stringstream text;
    text << in.rdbuf();
    std::string doc = text.str();
    for (const auto& swap : {std::make_pair(std::string("\"1024\""), std::string("\"2048\"")),
                             std::make_pair(std::string("Radius=\"4;4\""), std::string("Radius=\"16;16\""))})
        for (size_t at = doc.find(swap.first); at != std::string::npos; at = doc.find(swap.first, at))
            doc.replace(at, swap.first.size(), swap.second);
    return doc;
}

// The watched file's modification time in nanoseconds; 0 while it is missing.
long long Stamp(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return 0;
    return (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
}

// Waits up to the seconds for the file to be rewritten after `since`; the time it was seen, or 0.
double WaitRewrite(const std::string& path, long long& since, double seconds)
{
    for (const double end = gSysGetTime() + seconds; gSysGetTime() < end; gSysSleep(POLL_SECONDS))
    {
        const long long now = Stamp(path);
        if (now != since)
        {
            since = now;
            return gSysGetTime();
        }
    }
    return 0.0;
}

bool Click(int x, int y)
{
    const std::string cmd = "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1";
    return system(cmd.c_str()) == 0;
}
} // namespace

static void BM_InputBurstDuringAProcessing(benchmark::State& state)
{
    if (!getenv("DISPLAY"))
    {
        state.SkipWithError("no display: the editor needs one; run the benchmarks through tools/bench.sh");
        return;
    }
    char folder[] = "/tmp/plumweave-burst-XXXXXX";
    if (!mkdtemp(folder))
    {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    const std::string doc = std::string(folder) + "/Material.kvf", watched = std::string(folder) + "/" + WATCHED;
    std::ofstream(doc) << SlowMaterial();
    for (auto _ : state)
    {
        const std::string program = std::string(PW_BIN_DIR) + "/plumweave";
        const char* argv[] = {program.c_str(), doc.c_str(), nullptr};
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, (char* const*)argv, environ) != 0)
        {
            state.SkipWithError("plumweave could not start");
            break;
        }
        TProgramGuard guard(pid);
        const unsigned long id = guard.WaitForWindow(WINDOW_WAIT);
        long long stamp = 0;
        if (!id || !WaitRewrite(watched, stamp, WINDOW_WAIT))
        {
            state.SkipWithError("no window, or the document was not processed");
            break;
        }
        const std::string where = RunCapture("xdotool getwindowgeometry " + std::to_string(id));
        int wx = 0, wy = 0;
        const size_t at = where.find("Position: ");
        if (at == std::string::npos || sscanf(where.c_str() + at, "Position: %d,%d", &wx, &wy) != 2)
        {
            state.SkipWithError("the window's position cannot be read");
            break;
        }
        const int x = wx + TOGGLE_X, y = wy + TOGGLE_Y;

        // One processing, from the idle editor.
        gSysSleep(1.0);
        double clicked = gSysGetTime();
        Click(x, y);
        const double done = WaitRewrite(watched, stamp, WINDOW_WAIT);
        const double one = done - clicked;
        if (!done || one <= 0)
        {
            state.SkipWithError("a click on the toggle processed nothing");
            break;
        }

        // The burst, during the processing the first click starts.
        gSysSleep(1.0);
        Click(x, y);
        const double start = gSysGetTime();
        for (int i = 0; i < BURST_CLICKS; ++i)
        {
            const double due = start + one * BURST_SHARE * (i + 1) / BURST_CLICKS;
            if (due > gSysGetTime())
                gSysSleep(due - gSysGetTime());
            Click(x, y);
        }
        const double last = gSysGetTime();
        double running = 0.0, final = 0.0;
        int processings = 0;
        for (const double end = last + one * GIVE_UP_PROCESSINGS; gSysGetTime() < end; ++processings)
        {
            const double seen = WaitRewrite(watched, stamp, one * QUIET_PROCESSINGS);
            if (!seen)
                break;
            final = seen;
            if (!running)
                running = seen;
        }
        state.counters["one_processing_s"] = one;
        state.counters["ratio"] = final > last ? (final - last) / one : 0.0;
        state.counters["after_running"] = final > running ? (final - running) / one : 0.0;
        state.counters["processings"] = processings;
        state.counters["goal"] = GOAL;
        state.counters["met"] = final > last && (final - last) / one <= GOAL ? 1.0 : 0.0;
        guard.Stop(SIGTERM);
    }
    const std::string clean = std::string("rm -rf '") + folder + "'";
    if (system(clean.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", folder);
}
BENCHMARK(BM_InputBurstDuringAProcessing)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
