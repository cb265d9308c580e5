// Jobs through a running job server (the path sent over UDP, the reply awaited) against a fresh
// batch process per document ("plumweave DOC -opc"), measured in the same run on a small document
// of one file node and one output node. Reported as the counter "ratio" (server time / batch
// time; the goal is 0.2 or less: a job at least 5x faster than a fresh process).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "BenchPair.h"
#include "ProcessSupport.h"
#include "GameImage.h"
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

// Sends the path as one begin and one chunk and waits for the reply (acknowledged); its outcome
// byte, or -1 when none came within ms.
int Job(int fd, uint16_t port, const std::string& path, int ms)
{
    const sockaddr_in to = Loopback(port);
    std::vector<uint8_t> begin(HEADER, 0), chunk(HEADER, 0);
    const uint32_t n = (uint32_t)path.size();
    begin.insert(begin.end(), {JOB_MSG_BEGIN, (uint8_t)(n >> 8), (uint8_t)n, 0, 0});
    chunk.insert(chunk.end(), {JOB_MSG_CHUNK, 0, 0, (uint8_t)((n - 1) >> 8), (uint8_t)(n - 1)});
    chunk.insert(chunk.end(), path.begin(), path.end());
    sendto(fd, begin.data(), begin.size(), 0, (const sockaddr*)&to, sizeof(to));
    sendto(fd, chunk.data(), chunk.size(), 0, (const sockaddr*)&to, sizeof(to));
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return -1;
    uint8_t buf[NET_RECEIVE_BUFFER];
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

void BM_JobServerAgainstBatchProcess(benchmark::State& state)
{
    char tmpl[] = "/tmp/pwbenchjobXXXXXX";
    const std::string dir = mkdtemp(tmpl) ? tmpl : "";
    SImage2D picture;
    picture.Width = picture.Height = PICTURE_SIZE;
    picture.Pixels.Resize(PICTURE_SIZE * PICTURE_SIZE);
    for (u32 i = 0; i < picture.Pixels.Count(); ++i)
        picture.Pixels[i] = i * 2654435761u | 0xFF000000u;
    if (!SaveImage((dir + "/in.png").c_str(), picture))
        state.SkipWithError("the picture could not be written");
    std::ofstream(dir + "/doc.kvf") << DOCUMENT;
    const std::string doc = dir + "/doc.kvf";

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self = Loopback(0);
    socklen_t len = sizeof(self);
    bind(fd, (const sockaddr*)&self, sizeof(self));
    getsockname(fd, (sockaddr*)&self, &len);
    const uint16_t port = (uint16_t)(ntohs(self.sin_port) + 1);
    const pid_t server = Start({"-listen", std::to_string(port)}, dir);
    // The first job waits for the server to come up.
    int status = -1;
    for (int waited = 0; status < 0 && waited < START_WAIT_MS; waited += REPLY_WAIT_MS / 10)
        status = Job(fd, port, doc, REPLY_WAIT_MS / 10);
    if (status != JOB_Done)
        state.SkipWithError("the job server did not answer the first job with success");
    // Attempts that queued while the server came up are answered too: their replies go first.
    uint8_t stale[NET_RECEIVE_BUFFER];
    pollfd p = {fd, POLLIN, 0};
    while (poll(&p, 1, REPLY_WAIT_MS / 10) > 0)
        recv(fd, stale, sizeof(stale), 0);

    SPairTimer timer;
    bool ok = status == JOB_Done;
    for (auto _ : state)
    {
        if (!ok)
            continue;
        timer.Run([&] { ok = ok && Job(fd, port, doc, REPLY_WAIT_MS) == JOB_Done; },
                  [&] {
                      const pid_t pid = Start({doc, "-opc"}, dir);
                      int st = 0;
                      ok = ok && waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
                  });
    }
    if (!ok)
        state.SkipWithError("a job or a batch run failed");
    timer.Report(state, "server_ms", "batch_ms", 1e3);
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
} // namespace

BENCHMARK(BM_JobServerAgainstBatchProcess)->Unit(benchmark::kMillisecond)->Iterations(20);
