// The real program as a job server without a display: between jobs it sleeps on its socket
// (it draws nothing, so its CPU time stands still), and a job sent to it while it sleeps is
// answered at once.
#include "JobClient.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TexJobServer.h"

namespace
{
const int START_WAIT_MS = 30000;
const int START_ATTEMPT_MS = 500;
const int REPLY_WAIT_MS = 5000;
const useconds_t SETTLE_US = 500000;
const double IDLE_MEASURE_SECONDS = 1.0;
// A server drawing frames nobody sees used more than a whole core; sleeping, nothing measurable.
const double IDLE_CPU_LIMIT = 0.1;
const int JOBS = 5;
const double JOB_PROMPT_SECONDS = 0.1; // median time from the path's last byte to the reply

double Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

pid_t StartServer(uint16_t port)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    unsetenv("DISPLAY");
    setenv("PLUMWEAVE_NONINTERACTIVE", "1", 1);
    if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
        _exit(127);
    const std::string program = std::string(PW_BIN_DIR) + "/plumweave";
    const std::string portText = std::to_string(port);
    execl(program.c_str(), program.c_str(), "-listen", portText.c_str(), (char*)nullptr);
    _exit(127);
}

// Sends the document's path and waits for the reply; the seconds it took, or -1 without one.
double JobSeconds(TJobClient& client, uint16_t port, const std::string& doc, int waitMs, int& status)
{
    const double sent = Now();
    if (!client.SendPath(port, doc, (uint32_t)doc.size()))
        return -1.0;
    return client.WaitReply(waitMs, status) ? Now() - sent : -1.0;
}
} // namespace

TEST(ProgramIdleServer, SleepsBetweenJobsAndAnswersAJobAtOnce)
{
    TTempDir dir;
    const std::string doc = dir.File("job.kvf");
    FILE* f = fopen(doc.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("GKV_File_Version_2\n", f);
    fclose(f);
    TJobClient client;
    ASSERT_TRUE(client.IsOpen());
    const uint16_t port = FreeUdpPort();
    const pid_t server = StartServer(port);
    ASSERT_GT(server, 0);
    TProgramGuard program(server);

    // The first job also waits for the server to come up.
    int status = -1;
    bool up = false;
    for (int waited = 0; !up && waited < START_WAIT_MS; waited += START_ATTEMPT_MS)
        up = JobSeconds(client, port, doc, START_ATTEMPT_MS, status) >= 0.0;
    EXPECT_TRUE(up);
    // Replies to attempts made while it started.
    while (client.Pending(START_ATTEMPT_MS))
    {
    }

    if (up)
    {
        usleep(SETTLE_US);
        const double cpu0 = ProcessCpuSeconds(server), wall0 = Now();
        usleep((useconds_t)(IDLE_MEASURE_SECONDS * 1e6));
        const double cpu1 = ProcessCpuSeconds(server), wall1 = Now();
        ASSERT_GE(cpu0, 0.0);
        ASSERT_GE(cpu1, 0.0);
        EXPECT_LT((cpu1 - cpu0) / (wall1 - wall0), IDLE_CPU_LIMIT);

        std::vector<double> waits;
        for (int i = 0; i < JOBS; ++i)
        {
            usleep(SETTLE_US / JOBS);
            const double took = JobSeconds(client, port, doc, REPLY_WAIT_MS, status);
            ASSERT_GE(took, 0.0) << i;
            EXPECT_EQ(status, JOB_Done);
            waits.push_back(took);
        }
        std::sort(waits.begin(), waits.end());
        EXPECT_LT(waits[JOBS / 2], JOB_PROMPT_SECONDS);
    }

    client.Send(port, TJobClient::Message(JOB_MSG_QUIT));
    int st = 0;
    ASSERT_TRUE(program.Wait(REPLY_WAIT_MS / 1000.0, st)) << "the quit message ends the sleeping server";
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}
