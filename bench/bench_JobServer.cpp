// Jobs through a running job server (the path sent over UDP, the reply awaited), measured in the
// same run on a small document of one file node and one output node:
// - against a fresh batch process per document ("plumweave DOC -opc"). Reported as the counter
//   "ratio" (server time / batch time; the goal is 0.2 or less: a job at least 5x faster than a
//   fresh process).
// - under hostile load (70 senders each repeating 500 begins a second of paths they never send,
//   beside a flood of malformed datagrams) against the same jobs alone, each path sent in 6
//   chunks 20 ms apart.
//   Reported as "ratio" (median time from the last chunk to the reply under load / alone; the
//   goal is 2 or less), "answered" (the share of jobs answered under load within 5 attempts a
//   second apart; the goal is 1) and "resent" (the share of those that needed more than one).
// And the server's peak memory across jobs that bring in too much: a sub-graph of 1 GiB, 64 and
// 512 sub-graphs of one 16 MiB document, 512 sub-graphs each drawing a 16 MiB texture. Reported
// as "ratio" (peak / texture memory budget; the goal is below 1, with every job answered as it
// should be and the server serving the small document after them).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchPair.h"
#include "ProcessSupport.h"
#include "GameImage.h"
#include "GameTexture.h"
#include "TexJobServer.h"

namespace
{
const int REPLY_WAIT_MS = 5000;
const int START_WAIT_MS = 30000;
const size_t HEADER = 5;
const u32 PICTURE_SIZE = 64;
const char* const DOCUMENT = "GKV_File_Version_2\n"
                             "NODE STexNode_File _ID=\"0\" pos0=\"100;100\" TexName=\"in.png\" RelKVF=\"1\"\n"
                             "NODE STexNode_Extract _ID=\"1\" pos0=\"300;100\" TexName=\"out.png\" RelKVF=\"1\"\n"
                             "LINK 0 0 1 0\n";

std::string ProgramPath()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    std::string self(buf, n > 0 ? (size_t)n : 0);
    return self.substr(0, self.rfind('/') + 1) + "plumweave";
}

// The program's console lines would drown the report.
pid_t Start(const std::vector<std::string>& args, const std::string& cwd)
{
    return StartHeadless(ProgramPath(), args, cwd, OUTPUT_DROPPED);
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

std::vector<uint8_t> Begin(uint32_t length)
{
    std::vector<uint8_t> begin(HEADER, 0);
    begin.insert(begin.end(), {JOB_MSG_BEGIN, (uint8_t)(length >> 8), (uint8_t)length, 0, 0});
    return begin;
}

// Sends the path as one begin and chunks (gapMs apart) and waits for the reply (acknowledged);
// its outcome byte, or -1 when none came within ms. A client on a busy machine loses datagrams
// when the server's receive buffer is full, so the path goes again after each ms, up to attempts
// times. sinceLastChunk, when given, receives the seconds from the first attempt's last chunk to
// the reply.
int Job(int fd, uint16_t port, const std::string& path, int ms, uint32_t chunks = 1, int gapMs = 0,
        double* sinceLastChunk = nullptr, int attempts = 1)
{
    // Replies to an earlier job's attempts are not this job's.
    uint8_t buf[NET_RECEIVE_BUFFER];
    while (recv(fd, buf, sizeof(buf), MSG_DONTWAIT) > 0)
    {
    }
    const sockaddr_in to = Loopback(port);
    const std::vector<uint8_t> begin = Begin((uint32_t)path.size());
    const uint32_t n = (uint32_t)path.size(), per = (n + chunks - 1) / chunks;
    std::chrono::steady_clock::time_point sent;
    pollfd p = {fd, POLLIN, 0};
    int replied = 0;
    for (int attempt = 0; attempt < attempts && replied <= 0; ++attempt)
    {
        sendto(fd, begin.data(), begin.size(), 0, (const sockaddr*)&to, sizeof(to));
        for (uint32_t first = 0; first < n; first += per)
        {
            if (first > 0)
                usleep(gapMs * 1000);
            const uint32_t last = std::min(first + per, n) - 1;
            std::vector<uint8_t> chunk(HEADER, 0);
            chunk.insert(chunk.end(), {JOB_MSG_CHUNK, (uint8_t)(first >> 8), (uint8_t)first, (uint8_t)(last >> 8),
                                       (uint8_t)last});
            chunk.insert(chunk.end(), path.begin() + first, path.begin() + last + 1);
            sendto(fd, chunk.data(), chunk.size(), 0, (const sockaddr*)&to, sizeof(to));
        }
        if (attempt == 0)
            sent = std::chrono::steady_clock::now();
        replied = poll(&p, 1, ms);
    }
    if (replied <= 0)
        return -1;
    if (sinceLastChunk)
        *sinceLastChunk = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
    sockaddr_in from = {};
    socklen_t len = sizeof(from);
    const ssize_t got = recvfrom(fd, buf, sizeof(buf), 0, (sockaddr*)&from, &len);
    if (got <= JOB_STATUS_OFFSET)
        return -1;
    std::vector<uint8_t> ack(HEADER, 0);
    ack.push_back(NET_MSG_ACK);
    ack.insert(ack.end(), buf, buf + 4);
    sendto(fd, ack.data(), ack.size(), 0, (const sockaddr*)&from, len);
    return buf[JOB_STATUS_OFFSET];
}

// A job server in a folder of its own with the document and its picture, and a client socket;
// the first job has been answered with success when ok is set.
struct SServerRun
{
    std::string dir, doc;
    int fd = -1;
    uint16_t port = 0;
    pid_t server = -1;
    bool ok = false;

    explicit SServerRun(benchmark::State& state)
    {
        char tmpl[] = "/tmp/pwbenchjobXXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "";
        SImage2D picture;
        picture.Width = picture.Height = PICTURE_SIZE;
        picture.Pixels.Resize(PICTURE_SIZE * PICTURE_SIZE);
        for (u32 i = 0; i < picture.Pixels.Count(); ++i)
            picture.Pixels[i] = i * 2654435761u | 0xFF000000u;
        if (!SaveImage((dir + "/in.png").c_str(), picture))
            state.SkipWithError("the picture could not be written");
        std::ofstream(dir + "/doc.kvf") << DOCUMENT;
        doc = dir + "/doc.kvf";

        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in self = Loopback(0);
        socklen_t len = sizeof(self);
        bind(fd, (const sockaddr*)&self, sizeof(self));
        getsockname(fd, (sockaddr*)&self, &len);
        port = (uint16_t)(ntohs(self.sin_port) + 1);
        server = Start({"-listen", std::to_string(port)}, dir);
        // The first job waits for the server to come up.
        int status = -1;
        for (int waited = 0; status < 0 && waited < START_WAIT_MS; waited += REPLY_WAIT_MS / 10)
            status = Job(fd, port, doc, REPLY_WAIT_MS / 10);
        ok = status == JOB_Done;
        if (!ok)
            state.SkipWithError("the job server did not answer the first job with success");
        // Attempts that queued while the server came up are answered too: their replies go first.
        uint8_t stale[NET_RECEIVE_BUFFER];
        pollfd p = {fd, POLLIN, 0};
        while (poll(&p, 1, REPLY_WAIT_MS / 10) > 0)
            recv(fd, stale, sizeof(stale), 0);
    }

    void Stop(benchmark::State& state)
    {
        const std::vector<uint8_t> quit = {0, 0, 0, 0, 0, JOB_MSG_QUIT};
        const sockaddr_in to = Loopback(port);
        sendto(fd, quit.data(), quit.size(), 0, (const sockaddr*)&to, sizeof(to));
        int st = 0;
        for (int i = 0; i < START_WAIT_MS / 10 && waitpid(server, &st, WNOHANG) == 0; ++i)
            usleep(10000);
        kill(server, SIGKILL);
        waitpid(server, &st, 0);
        close(fd);
        const std::string clean = "rm -rf '" + dir + "'";
        if (system(clean.c_str()) != 0)
            state.SkipWithError("the temporary folder could not be removed");
    }
};

void BM_JobServerAgainstBatchProcess(benchmark::State& state)
{
    SServerRun run(state);
    SPairTimer timer;
    bool ok = run.ok;
    for (auto _ : state)
    {
        if (!ok)
            continue;
        timer.Run([&] { ok = ok && Job(run.fd, run.port, run.doc, REPLY_WAIT_MS) == JOB_Done; },
                  [&] {
                      const pid_t pid = Start({run.doc, "-opc"}, run.dir);
                      int st = 0;
                      ok = ok && waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
                  });
    }
    if (!ok)
        state.SkipWithError("a job or a batch run failed");
    timer.Report(state, "server_ms", "batch_ms", 1e3);
    run.Stop(state);
}

const uint32_t CHURN_SENDERS = 70, CHURN_BEGINS_PER_SECOND = 500 * CHURN_SENDERS;
const uint32_t FLOOD_SENDERS = 8, FLOOD_PER_SECOND = 100000;
const uint32_t JOB_CHUNKS = 6;
const int CHUNK_GAP_MS = 20, LOAD_SETTLE_MS = 100, RESEND_AFTER_MS = 1000, JOB_ATTEMPTS = 5;

// Senders on threads of their own while On is set: churners repeating begins round the crowd,
// and flooders sending malformed datagrams (of an unknown type, shorter than a header, chunks
// without a begin) at their rate.
struct SHostileLoad
{
    std::atomic<bool> On{false}, Quit{false};
    std::thread Churn, Flood;

    SHostileLoad(uint16_t port)
    {
        Churn = std::thread([this, port] {
            Senders(CHURN_SENDERS, CHURN_BEGINS_PER_SECOND, port, {Begin(64)});
        });
        std::vector<uint8_t> chunk(HEADER, 0);
        chunk.insert(chunk.end(), {JOB_MSG_CHUNK, 0, 0, 0, 3, 'j', 'u', 'n', 'k'});
        const std::vector<std::vector<uint8_t>> junk = {{0, 0, 0, 0, 0, 99, 1, 2, 3}, {1, 2, 3}, chunk};
        Flood = std::thread([this, port, junk] { Senders(FLOOD_SENDERS, FLOOD_PER_SECOND, port, junk); });
    }
    ~SHostileLoad()
    {
        Quit = true;
        Churn.join();
        Flood.join();
    }

    void Senders(uint32_t count, uint32_t perSecond, uint16_t port, const std::vector<std::vector<uint8_t>>& datagrams)
    {
        std::vector<int> fds(count);
        for (int& fd : fds)
            fd = socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in to = Loopback(port);
        const auto start = std::chrono::steady_clock::now();
        uint64_t sent = 0;
        while (!Quit)
        {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (!On || sent >= (uint64_t)(elapsed * perSecond))
            {
                if (!On)
                    sent = (uint64_t)(elapsed * perSecond);
                usleep(1000);
                continue;
            }
            const std::vector<uint8_t>& d = datagrams[sent % datagrams.size()];
            sendto(fds[sent % count], d.data(), d.size(), 0, (const sockaddr*)&to, sizeof(to));
            ++sent;
        }
        for (int fd : fds)
            close(fd);
    }
};

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void BM_JobServerUnderChurnAndFlood(benchmark::State& state)
{
    SServerRun run(state);
    SHostileLoad load(run.port);
    std::vector<double> alone, hostile;
    uint32_t jobs = 0;
    bool ok = run.ok;
    for (auto _ : state)
    {
        if (!ok)
            continue;
        for (int side = 0; side < 2; ++side)
        {
            // The sides take turns at going first.
            const bool loaded = (side == 0) == (jobs % 2 == 0);
            load.On = loaded;
            usleep(LOAD_SETTLE_MS * 1000);
            double t = 0.0;
            const int status =
                Job(run.fd, run.port, run.doc, RESEND_AFTER_MS, JOB_CHUNKS, CHUNK_GAP_MS, &t, JOB_ATTEMPTS);
            if (loaded && status == JOB_Done)
                hostile.push_back(t);
            else if (!loaded)
            {
                ok = ok && status == JOB_Done;
                alone.push_back(t);
            }
        }
        load.On = false;
        ++jobs;
    }
    if (!ok)
        state.SkipWithError("a job without load failed");
    if (hostile.empty())
        state.SkipWithError("no job was answered under load");
    const double a = Median(alone), h = Median(hostile);
    state.counters["ratio"] = a > 0 ? h / a : 0.0;
    state.counters["alone_ms"] = a * 1e3;
    state.counters["loaded_ms"] = h * 1e3;
    state.counters["answered"] = jobs ? (double)hostile.size() / jobs : 0.0;
    const double resent = (double)std::count_if(hostile.begin(), hostile.end(),
                                                [](double s) { return s * 1e3 >= RESEND_AFTER_MS; });
    state.counters["resent"] = hostile.empty() ? 0.0 : resent / hostile.size();
    run.Stop(state);
}

// A field of the process's status file ("VmHWM", "VmRSS") in MiB; -1 when it cannot be read.
double StatusMiB(pid_t pid, const char* field)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    const size_t n = strlen(field);
    for (std::string line; std::getline(f, line);)
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
        {
            std::istringstream kib(line.substr(n + 1));
            double value = -1;
            kib >> value;
            return value / 1024.0;
        }
    return -1;
}

std::string Processors(const std::string& inner, int count)
{
    std::string text = "GKV_File_Version_2\n";
    for (int i = 0; i < count; ++i)
        text += "NODE STexNode_Proc KVFName=\"" + inner + "\"\n";
    return text;
}

void BM_JobServerPeakMemoryOnGreedyJobs(benchmark::State& state)
{
    const u64 MIB = 1u << 20;
    SServerRun run(state);
    const std::string& dir = run.dir;
    // Sparse documents: a version line, then zero bytes.
    const struct
    {
        const char* name;
        u64 bytes;
    } sparse[] = {{"huge.kvf", 1024 * MIB}, {"sixteen.kvf", 16 * MIB}};
    for (const auto& f : sparse)
    {
        std::ofstream(dir + "/" + f.name) << "GKV_File_Version_2\n";
        if (truncate((dir + "/" + f.name).c_str(), (off_t)f.bytes) != 0)
            state.SkipWithError("a sparse document could not be made");
    }
    std::ofstream(dir + "/noise.kvf") << "GKV_File_Version_2\n"
                                         "NODE STexNode_GPUNoise Width=\"2048\" Height=\"2048\"\n"
                                         "NODE STexNode_Output PName=\"out\"\n"
                                         "LINK 0 0 1 0\n";
    const struct
    {
        const char* name;
        std::string text;
        int status;
    } jobs[] = {
        {"big.kvf", Processors(dir + "/huge.kvf", 1), JOB_LoadFailed},
        {"fan64.kvf", Processors(dir + "/sixteen.kvf", 64), JOB_LoadFailed},
        {"fan512.kvf", Processors(dir + "/sixteen.kvf", 512), JOB_LoadFailed},
        {"textures512.kvf", Processors(dir + "/noise.kvf", 512), JOB_Done},
        {"doc.kvf", DOCUMENT, JOB_Done},
    };
    const double idle = StatusMiB(run.server, "VmRSS");
    bool ok = run.ok && idle > 0;
    for (auto _ : state)
        for (const auto& j : jobs)
        {
            std::ofstream(dir + "/" + j.name) << j.text;
            ok = ok && Job(run.fd, run.port, dir + "/" + j.name, START_WAIT_MS) == j.status;
        }
    if (!ok)
        state.SkipWithError("a job was not answered as it should be, or the server is gone");
    const double peak = StatusMiB(run.server, "VmHWM");
    const double budget = (double)TEX_MemoryBudget() / (double)MIB;
    state.counters["ratio"] = peak / budget;
    state.counters["peak_MiB"] = peak;
    state.counters["after_MiB"] = StatusMiB(run.server, "VmRSS");
    state.counters["idle_MiB"] = idle;
    state.counters["budget_MiB"] = budget;
    run.Stop(state);
}
} // namespace

BENCHMARK(BM_JobServerAgainstBatchProcess)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_JobServerUnderChurnAndFlood)->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_JobServerPeakMemoryOnGreedyJobs)->Unit(benchmark::kMillisecond)->Iterations(1);
