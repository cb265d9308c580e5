// The job server: paths assembled from chunks per sender with every malformed datagram ignored,
// replies that tell the outcome over a real loopback client, the documents a job may read, and
// the program itself taking jobs and writing their files.
#include "GLTestContext.h"
#include "JobClient.h"
#include "ProcessSupport.h"
#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <png.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GameConsole.h"
#include "GameCore.h"
#include "GameFileIO.h"
#include "GameText.h"
#include "GameTexture.h"
#include "Plumweave.h"
#include "TexDocPath.h"
#include "TexDocumentOutcome.h"
#include "TexDocumentRecovery.h"
#include "TexJobServer.h"
#include "TexProcessor.h"

namespace
{
typedef std::vector<uint8_t> Bytes;
const u32 LOOPBACK = 0x7F000001u;
const int REPLY_WAIT_MS = 2000;
const int QUIET_WAIT_MS = 100;
const int PROGRAM_WAIT_MS = 30000;
const double T0 = 1000.0;

// Feeds datagrams from senders to an assembler; the paths that complete, in order.
struct SFeed
{
    u16 sender;
    Bytes datagram;
};

std::vector<std::string> Assemble(SJobAssembler& a, const std::vector<SFeed>& feed, double now = T0)
{
    std::vector<std::string> done;
    for (const SFeed& f : feed)
    {
        TPodArray<u8> path;
        if (a.Take(NetAddr(LOOPBACK, f.sender), f.datagram.data(), (u32)f.datagram.size(), now, path))
            done.push_back(std::string((const char*)path.data, path.Count()));
    }
    return done;
}

Bytes Raw(std::initializer_list<int> v)
{
    Bytes b;
    for (int x : v)
        b.push_back((uint8_t)x);
    return b;
}

std::vector<std::string> GRunPaths;
EJobStatus GRunStatus = JOB_Done;
EJobStatus RecordingRunner(const char* path, TString&)
{
    GRunPaths.push_back(path);
    return GRunStatus;
}

// Polls the server until the client has its reply or the wait runs out.
bool PollForReply(SJobServer& s, TJobClient& c, double now, int& status)
{
    for (int i = 0; i < REPLY_WAIT_MS / 10; ++i)
    {
        PollJobServerAt(s, now);
        if (c.WaitReply(10, status))
            return true;
    }
    return false;
}

std::string ReadText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A document of count Processor nodes, each on the inner document.
std::string ProcessorsOn(const std::string& inner, u32 count)
{
    std::string text = "GKV_File_Version_2\n";
    for (u32 k = 0; k < count; ++k)
        text += "NODE STexNode_Proc KVFName=\"" + inner + "\"\n";
    return text;
}

const std::string PATH = "/data/jobs/brick.kvf";
} // namespace

// ---------------------------------------------------------------------------------------------
// Path assembly

TEST(JobAssembly, PathsCompleteWhenTheirLastMissingByteArrivesPerSender)
{
    const u32 n = (u32)PATH.size();
    const struct
    {
        const char* label;
        std::vector<SFeed> feed;
        std::vector<std::string> done;
    } cases[] = {
        {"in order", {{1, TJobClient::Begin(n)}, {1, TJobClient::Chunk(PATH, 0, 6)}, {1, TJobClient::Chunk(PATH, 7, n - 1)}},
         {PATH}},
        {"last chunk first",
         {{1, TJobClient::Begin(n)}, {1, TJobClient::Chunk(PATH, 12, n - 1)}, {1, TJobClient::Chunk(PATH, 0, 5)},
          {1, TJobClient::Chunk(PATH, 6, 11)}},
         {PATH}},
        {"repeats rewrite",
         {{1, TJobClient::Begin(n)}, {1, TJobClient::Chunk(PATH, 0, 9)}, {1, TJobClient::Chunk(PATH, 0, 9)},
          {1, TJobClient::Chunk(PATH, 5, n - 1)}},
         {PATH}},
        {"two senders interleaved",
         {{1, TJobClient::Begin(n)}, {2, TJobClient::Begin(3)}, {1, TJobClient::Chunk(PATH, 0, 4)},
          {2, TJobClient::Chunk("a.b", 0, 2)}, {1, TJobClient::Chunk(PATH, 5, n - 1)}},
         {"a.b", PATH}},
        {"a new begin restarts",
         {{1, TJobClient::Begin(n)}, {1, TJobClient::Chunk(PATH, 0, 4)}, {1, TJobClient::Begin(3)},
          {1, TJobClient::Chunk("xyz", 0, 2)}},
         {"xyz"}},
        {"another sender's chunk is not ours",
         {{1, TJobClient::Begin(3)}, {2, TJobClient::Chunk("xyz", 0, 2)}}, {}},
    };
    for (const auto& c : cases)
    {
        SJobAssembler a;
        EXPECT_EQ(Assemble(a, c.feed), c.done) << c.label;
    }
}

TEST(JobAssembly, MalformedDatagramsChangeNothing)
{
    // Each case follows a begin of "abcd" whose first two bytes arrived; after it, the last two
    // bytes must complete exactly "abcd" with nothing else completed.
    const std::string P = "abcd";
    Bytes shortChunk = TJobClient::Chunk(P, 2, 3);
    shortChunk.pop_back();
    const struct
    {
        const char* label;
        Bytes datagram;
    } cases[] = {
        {"1 byte", Raw({0})},
        {"5 bytes", Raw({0, 0, 0, 0, 0})},
        {"type alone, begin", Raw({0, 0, 0, 0, 0, JOB_MSG_BEGIN})},
        {"begin with one length byte", Raw({0, 0, 0, 0, 0, JOB_MSG_BEGIN, 0})},
        {"chunk without indices", Raw({0, 0, 0, 0, 0, JOB_MSG_CHUNK, 0, 2, 0})},
        {"first after last", TJobClient::Chunk("zzzz", 3, 2)},
        {"past the length", TJobClient::Chunk("zzzzz", 3, 4)},
        {"bytes missing", shortChunk},
        {"other type", Raw({0, 0, 0, 0, 0, 99, 0, 0, 0, 3, 'z', 'z', 'z', 'z'})},
    };
    for (const auto& c : cases)
    {
        SJobAssembler a;
        const std::vector<SFeed> feed = {{1, TJobClient::Begin(4)}, {1, TJobClient::Chunk(P, 0, 1)}, {1, c.datagram}};
        EXPECT_TRUE(Assemble(a, feed).empty()) << c.label;
        EXPECT_EQ(Assemble(a, {{1, TJobClient::Chunk(P, 2, 3)}}), std::vector<std::string>{P}) << c.label;
        EXPECT_EQ(a.SenderCount(), 0u) << c.label;
    }
    // A chunk without any begin starts nothing; a zero-length begin is an empty path, complete at
    // once, and a chunk after it starts nothing either.
    SJobAssembler a;
    EXPECT_EQ(Assemble(a, {{1, TJobClient::Chunk(P, 0, 3)}, {2, TJobClient::Begin(0)}, {2, TJobClient::Chunk(P, 0, 0)}}),
              std::vector<std::string>{""});
    EXPECT_EQ(a.SenderCount(), 0u);
}

TEST(JobAssembly, SendersAreCappedAndUnfinishedPathsExpire)
{
    SJobAssembler a;
    for (u16 s = 1; s <= JOB_MAX_SENDERS; ++s)
        Assemble(a, {{s, TJobClient::Begin(2)}}, T0 + s);
    EXPECT_EQ(a.SenderCount(), (u32)JOB_MAX_SENDERS);
    EXPECT_EQ(Assemble(a, {{1, TJobClient::Chunk("ab", 0, 1)}}), std::vector<std::string>{"ab"});
    // Paths begun more than the expiry ago go; the younger stay.
    a.Expire(T0 + 10 + JOB_SENDER_EXPIRY + 0.5);
    EXPECT_EQ(a.SenderCount(), (u32)JOB_MAX_SENDERS - 10);
    EXPECT_TRUE(Assemble(a, {{5, TJobClient::Chunk("ab", 0, 1)}}).empty());
}

// ---------------------------------------------------------------------------------------------
// Server over loopback

class JobServerTest : public ::testing::Test
{
protected:
    SJobServer server;
    TJobClient client;
    void SetUp() override
    {
        TString failure;
        ASSERT_EQ(StartJobServer(server, "0", failure), 1) << failure.Str();
        ASSERT_TRUE(client.IsOpen());
        server.Runner = &RecordingRunner;
        GRunPaths.clear();
        GRunStatus = JOB_Done;
        GQuitFlag = 0;
    }
    void TearDown() override
    {
        NetClose(server);
        GQuitFlag = 0;
    }
    u16 Port() const { return NetGetPort(server); }
    void ExpectNoRecords() const
    {
        EXPECT_EQ(server.SentRecords, nullptr);
        EXPECT_EQ(server.ResendRecords, nullptr);
        EXPECT_EQ(server.FinishedRecords, nullptr);
    }
};

TEST_F(JobServerTest, RepliesCarryTheOutcomeOfEachJob)
{
    const EJobStatus outcomes[] = {JOB_Done, JOB_LoadFailed, JOB_OutputFailed};
    for (EJobStatus outcome : outcomes)
    {
        GRunStatus = outcome;
        GRunPaths.clear();
        ASSERT_TRUE(client.SendPath(Port(), PATH, 4, {4, 1, 0, 3, 2}));
        int status = -1;
        ASSERT_TRUE(PollForReply(server, client, T0, status)) << outcome;
        EXPECT_EQ(status, (int)outcome);
        EXPECT_EQ(GRunPaths, std::vector<std::string>{PATH});
    }
    // A path holding a zero byte names no file: refused without running.
    GRunPaths.clear();
    const std::string withZero("a\0b", 3);
    ASSERT_TRUE(client.SendPath(Port(), withZero, 3));
    int status = -1;
    ASSERT_TRUE(PollForReply(server, client, T0, status));
    EXPECT_EQ(status, (int)JOB_LoadFailed);
    EXPECT_TRUE(GRunPaths.empty());
}

TEST_F(JobServerTest, UnacknowledgedRepliesStopAfterTheirSendsAndAcknowledgedOnesGo)
{
    ASSERT_TRUE(client.SendPath(Port(), PATH, 64));
    for (int i = 0; i < REPLY_WAIT_MS / 10 && !client.Pending(0); ++i)
        PollJobServerAt(server, T0);
    ASSERT_NE(server.SentRecords, nullptr);
    // Never acknowledged: resent once per interval until the sends are used up, then forgotten.
    for (u32 i = 1; i < JOB_REPLY_SENDS; ++i)
    {
        PollJobServerAt(server, T0 + server.ResendInterval * i);
        EXPECT_TRUE(client.Pending(REPLY_WAIT_MS)) << i;
    }
    PollJobServerAt(server, T0 + server.ResendInterval * JOB_REPLY_SENDS);
    ExpectNoRecords();
    EXPECT_FALSE(client.Pending(QUIET_WAIT_MS));

    // Acknowledged: nothing is kept after the next poll.
    ASSERT_TRUE(client.SendPath(Port(), PATH, 64));
    int status = -1;
    ASSERT_TRUE(PollForReply(server, client, T0, status));
    for (int i = 0; i < REPLY_WAIT_MS / 10 && server.SentRecords; ++i)
    {
        usleep(10000);
        PollJobServerAt(server, T0);
    }
    PollJobServerAt(server, T0);
    ExpectNoRecords();
}

TEST_F(JobServerTest, QuitEndsTheLoopAndAPollTakesAtMostItsShareOfDatagrams)
{
    const u32 share = 4;
    server.MaxDatagramsPerPoll = share;
    for (u32 i = 0; i < share; ++i)
        ASSERT_TRUE(client.Send(Port(), TJobClient::Message(JOB_MSG_TEST)));
    ASSERT_TRUE(client.Send(Port(), TJobClient::Message(JOB_MSG_QUIT)));
    usleep(QUIET_WAIT_MS * 1000);
    PollJobServerAt(server, T0);
    EXPECT_EQ(GQuitFlag, 0u);
    PollJobServerAt(server, T0);
    EXPECT_EQ(GQuitFlag, 1u);
}

TEST_F(JobServerTest, AFloodShowsTheFirstLinesOfEachKindAndThenASummaryASecond)
{
    const u32 FLOOD = 500, BATCH = 20;
    const double SECOND_OVER = 1.5;
    const struct
    {
        const char* label;
        Bytes datagram;
        const char* first; // in the first line
    } cases[] = {
        {"malformed", Raw({0, 0, 0, 0, 0, 99}), " >> 99"},
        {"oversized", Bytes(NET_RECEIVE_BUFFER + 1, 0), "2049 bytes"},
    };
    double now = T0;
    for (const auto& c : cases)
    {
        GConsole.Lines.Clear();
        for (u32 sent = 0; sent < FLOOD; sent += BATCH)
        {
            for (u32 i = 0; i < BATCH; ++i)
                ASSERT_TRUE(client.Send(Port(), c.datagram));
            usleep(10000);
            PollJobServerAt(server, now);
        }
        now += SECOND_OVER;
        PollJobServerAt(server, now);
        const TArray<SConsoleLine>& lines = GConsole.Lines;
        ASSERT_GE(lines.Count(), 2u) << c.label;
        EXPECT_LE(lines.Count(), JOB_LOG_LINES_PER_SECOND + 1) << c.label;
        EXPECT_NE(strstr(lines[0].Text.Str(), c.first), nullptr) << c.label << ": " << lines[0].Text.Str();
        const std::string summary = std::to_string(FLOOD - (lines.Count() - 1)) + " more datagrams from 127.0.0.1:" +
                                    std::to_string(client.Port());
        EXPECT_EQ(lines[lines.Count() - 1].Text.Str(), summary) << c.label;
        now += SECOND_OVER;
    }
}

namespace
{
// Outcomes by the document's name, each failure with a reason.
EJobStatus OutcomeByName(const char* path, TString& reason)
{
    reason = strstr(path, "refused") || strstr(path, "failed") ? "because" : "";
    return strstr(path, "refused") ? JOB_LoadFailed : strstr(path, "failed") ? JOB_OutputFailed : JOB_Done;
}
} // namespace

TEST_F(JobServerTest, EveryOutcomeOfAJobHasALineOfItsOwnOrACountInTheSecondsSummary)
{
    const std::string DONE = "/jobs/done.kvf", REFUSED = "/jobs/refused.kvf";
    // The processed line is the program's text, as the dictionary holds it.
    const std::string PROCESSED = "{A} " + std::string(TextWithArg("MSG_JobProcessed", DONE.c_str()).Str()), WAS_REFUSED = "{A} Job: \"/jobs/refused.kvf\" refused: because";
    const double SECOND_OVER = 1.5;
    const struct
    {
        const char* label;
        std::vector<std::pair<char, std::string>> jobs; // sender A or B, path
        std::vector<std::string> lines;
    } cases[] = {
        {"a dozen jobs in a second",
         {{'A', DONE}, {'A', REFUSED}, {'A', DONE}, {'A', REFUSED}, {'A', DONE}, {'A', REFUSED},
          {'A', DONE}, {'A', REFUSED}, {'A', DONE}, {'A', REFUSED}, {'A', DONE}, {'A', REFUSED}},
         {PROCESSED, WAS_REFUSED, PROCESSED, WAS_REFUSED, PROCESSED, "7 more jobs from {A}: 3 processed, 4 refused"}},
        {"another sender after a stream",
         {{'A', REFUSED}, {'A', REFUSED}, {'A', REFUSED}, {'A', REFUSED}, {'A', REFUSED}, {'A', REFUSED}, {'B', REFUSED}},
         {WAS_REFUSED, WAS_REFUSED, WAS_REFUSED, WAS_REFUSED, WAS_REFUSED, "{B} Job: \"/jobs/refused.kvf\" refused: because",
          "1 more jobs from {A}: 1 refused"}},
        {"an output failed", {{'A', "/jobs/failed.kvf"}}, {"{A} Job: \"/jobs/failed.kvf\" failed: because"}},
        {"a path forging a line and commanding the terminal",
         {{'A', "/jobs/refused\n{A} Job processed: /etc/shadow\x1B]0;t\x07\xC2\x9B\xFF\\"}},
         {"{A} Job: \"/jobs/refused\\n{A} Job processed: /etc/shadow\\x1B]0;t\\x07\\xC2\\x9B\\xFF\\\\\" refused: because"}},
        {"a path holding a zero byte", {{'A', std::string("/jobs/a\0b", 9)}},
         {"{A} Job: \"/jobs/a\\x00b\" refused: its path holds a zero byte"}},
    };
    server.Runner = &OutcomeByName;
    TJobClient other;
    // The senders' addresses for {A} and {B}.
    const auto named = [&](std::string text) {
        for (const auto& who : {std::make_pair(&client, "{A}"), std::make_pair(&other, "{B}")})
            for (size_t at; (at = text.find(who.second)) != std::string::npos;)
                text.replace(at, 3, "127.0.0.1:" + std::to_string(who.first->Port()));
        return text;
    };
    double now = T0;
    for (const auto& c : cases)
    {
        GConsole.Lines.Clear();
        for (const auto& job : c.jobs)
        {
            TJobClient& sender = job.first == 'A' ? client : other;
            ASSERT_TRUE(sender.SendPath(Port(), named(job.second), JOB_MAX_PATH)) << c.label;
            int status = -1;
            ASSERT_TRUE(PollForReply(server, sender, now, status)) << c.label;
        }
        now += SECOND_OVER;
        PollJobServerAt(server, now);
        std::vector<std::string> lines, expected; // the console's lines about jobs
        for (u32 i = 0; i < GConsole.Lines.Count(); ++i)
            if (!strstr(GConsole.Lines[i].Text.Str(), " >> ") && !strstr(GConsole.Lines[i].Text.Str(), "more datagrams"))
                lines.push_back(GConsole.Lines[i].Text.Str());
        for (const std::string& line : c.lines)
            expected.push_back(named(line));
        EXPECT_EQ(lines, expected) << c.label;
        now += SECOND_OVER;
    }
}

TEST_F(JobServerTest, ARefusedBeginLeavesTheSenderWithNoUnfinishedPath)
{
    const u32 n = (u32)PATH.size();
    const u32 head = n / 2;
    const struct
    {
        const char* label;
        Bytes begin;
        int reply; // -1: none
    } cases[] = {
        {"zero length", TJobClient::Begin(0), JOB_LoadFailed}, // an empty path is refused, not run
        {"over the limit", TJobClient::Begin(JOB_MAX_PATH + 1), -1},
    };
    for (const auto& c : cases)
    {
        GRunPaths.clear();
        ASSERT_TRUE(client.Send(Port(), TJobClient::Begin(n)));
        ASSERT_TRUE(client.Send(Port(), TJobClient::Chunk(PATH, 0, head - 1)));
        ASSERT_TRUE(client.Send(Port(), c.begin));
        ASSERT_TRUE(client.Send(Port(), TJobClient::Chunk(PATH, head, n - 1)));
        usleep(QUIET_WAIT_MS * 1000);
        PollJobServerAt(server, T0);
        int status = -1;
        EXPECT_EQ(client.WaitReply(QUIET_WAIT_MS, status), c.reply >= 0) << c.label;
        EXPECT_EQ(status, c.reply) << c.label;
        EXPECT_TRUE(GRunPaths.empty()) << c.label;
        EXPECT_EQ(server.Jobs.SenderCount(), 0u) << c.label;
    }
}

TEST_F(JobServerTest, ACrowdSendingOnlyBeginsGivesWayToAPathWhoseBytesAreArriving)
{
    // More senders than the table holds, each sending only begins of a path it never sends.
    const u32 CROWD = JOB_MAX_SENDERS + 6, CHUNK_BYTES = 4;
    const std::string other = "/data/jobs/other.kvf";
    const struct
    {
        const char* label;
        u32 roundsBefore;  // of begins from the whole crowd, before the client's begin
        u32 roundsBetween; // between two chunks of the client's path
    } cases[] = {
        {"begins once, then a new client", 1, 0},
        {"begins repeated while the path arrives in chunks", 0, 1},
    };
    for (const auto& c : cases)
    {
        GRunPaths.clear();
        server.Jobs.Clear();
        std::vector<TJobClient> crowd(CROWD);
        const auto settle = [&] {
            for (int i = 0; i < 10; ++i, usleep(1000))
                PollJobServerAt(server, T0);
        };
        const auto round = [&] {
            for (TJobClient& m : crowd)
                m.Send(Port(), TJobClient::Begin((u32)other.size()));
            settle();
        };
        for (u32 r = 0; r < c.roundsBefore; ++r)
            round();
        ASSERT_TRUE(client.Send(Port(), TJobClient::Begin((u32)PATH.size())));
        for (u32 first = 0; first < PATH.size(); first += CHUNK_BYTES)
        {
            for (u32 r = 0; first > 0 && r < c.roundsBetween; ++r)
                round();
            const u32 last = std::min(first + CHUNK_BYTES, (u32)PATH.size()) - 1;
            ASSERT_TRUE(client.Send(Port(), TJobClient::Chunk(PATH, first, last)));
            settle();
        }
        int status = -1;
        ASSERT_TRUE(PollForReply(server, client, T0, status)) << c.label;
        EXPECT_EQ(GRunPaths, std::vector<std::string>{PATH}) << c.label;
        // The crowd's first paths gave way to its later ones, which still complete.
        const u32 last = (u32)other.size() - 1;
        ASSERT_TRUE(crowd.front().Send(Port(), TJobClient::Chunk(other, 0, last)));
        ASSERT_TRUE(crowd.back().Send(Port(), TJobClient::Chunk(other, 0, last)));
        ASSERT_TRUE(PollForReply(server, crowd.back(), T0, status)) << c.label;
        EXPECT_FALSE(crowd.front().Pending(QUIET_WAIT_MS)) << c.label;
        EXPECT_EQ(GRunPaths, (std::vector<std::string>{PATH, other})) << c.label;
    }
}

TEST_F(JobServerTest, AFullReplyStoreGivesWaySoEveryClientGetsAReliableReply)
{
    // A client that never acknowledges fills the store of kept replies.
    TJobClient silent;
    const u32 batch = 32;
    for (u32 sent = 0; sent < JOB_MAX_KEPT_REPLIES;)
    {
        for (u32 i = 0; i < batch; ++i, ++sent)
            ASSERT_TRUE(silent.SendPath(Port(), PATH, 64));
        for (int i = 0; i < REPLY_WAIT_MS / 10 && GRunPaths.size() < sent; ++i)
        {
            usleep(10000);
            PollJobServerAt(server, T0);
        }
        ASSERT_EQ(GRunPaths.size(), (size_t)sent);
    }
    ASSERT_TRUE(client.SendPath(Port(), PATH, 64));
    Bytes reply;
    int status = -1;
    bool replied = false;
    for (int i = 0; i < REPLY_WAIT_MS / 10 && !replied; ++i)
    {
        PollJobServerAt(server, T0);
        replied = client.WaitReply(10, status, &reply);
    }
    ASSERT_TRUE(replied);
    EXPECT_EQ(reply[NET_FLAGS_OFFSET] & NET_FLAG_RELIABLE, NET_FLAG_RELIABLE);
    u32 kept = 0;
    for (const SNetResendRecord* r = server.ResendRecords; r; r = r->Next)
        ++kept;
    EXPECT_EQ(kept, (u32)JOB_MAX_KEPT_REPLIES);
}

namespace
{
// The numeric address a socket is bound to, as the system reports it.
std::string BoundAddress(int fd)
{
    sockaddr_storage a = {};
    socklen_t len = sizeof(a);
    char text[INET6_ADDRSTRLEN] = "";
    if (getsockname(fd, (sockaddr*)&a, &len) != 0)
        return "";
    const void* at = a.ss_family == AF_INET6 ? (const void*)&((const sockaddr_in6&)a).sin6_addr
                                             : (const void*)&((const sockaddr_in&)a).sin_addr;
    return inet_ntop(a.ss_family, at, text, sizeof(text)) ? text : "";
}
// Whether a socket's receive buffer is what the system grants any process asking for bytes: at
// most its cap, doubled for its bookkeeping.
bool ReceiveBufferGranted(int fd, int bytes)
{
    int size = 0, cap = bytes;
    socklen_t len = sizeof(size);
    std::ifstream("/proc/sys/net/core/rmem_max") >> cap;
    return getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &len) == 0 && size >= 2 * std::min(bytes, cap);
}
} // namespace

TEST(JobServerListen, APortAloneListensOnLoopbackAndAnAddressOptsIn)
{
    const struct
    {
        const char* listen; // the port is appended
        const char* bound;
        const char* client; // bound and sending to
        const char* server;
    } cases[] = {
        {"", "127.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"127.0.0.1:", "127.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"0.0.0.0:", "0.0.0.0", "127.0.0.1", "127.0.0.1"},
        {"[::1]:", "::1", "::1", "::1"},
        {"::1:", "::1", "::1", "::1"},
        {"[::]:", "::", "::1", "::1"},
        {":::", "::", "127.0.0.1", "127.0.0.1"},
    };
    GRunPaths.clear();
    GRunStatus = JOB_Done;
    for (const auto& c : cases)
    {
        SJobServer server;
        server.Runner = &RecordingRunner;
        TString failure;
        const std::string listen = std::string(c.listen) + "0";
        ASSERT_EQ(StartJobServer(server, listen.c_str(), failure), 1) << listen << ": " << failure.Str();
        EXPECT_EQ(BoundAddress(server.Socket), c.bound) << listen;
        EXPECT_TRUE(ReceiveBufferGranted(server.Socket, JOB_RECEIVE_BUFFER)) << listen;
        TJobClient client(c.client, c.server);
        ASSERT_TRUE(client.IsOpen()) << listen;
        ASSERT_TRUE(client.SendPath(NetGetPort(server), PATH, 8)) << listen;
        int status = -1;
        EXPECT_TRUE(PollForReply(server, client, T0, status)) << listen;
        EXPECT_EQ(status, (int)JOB_Done) << listen;
    }
    // Texts that name no address and port open nothing.
    for (const char* bad : {"", "[::1]0", "[::1:0", ":0", "127.0.0.1:", "localhost:0"})
    {
        SJobServer server;
        TString failure;
        EXPECT_EQ(StartJobServer(server, bad, failure), 0) << bad;
        EXPECT_EQ(server.Socket, -1) << bad;
    }
}

// ---------------------------------------------------------------------------------------------
// The documents a job reads

class JobDocumentTest : public GLTestFixture
{
protected:
    TTempDir dir;
    STexProcessor p;
    STexProcessor* savedProcessor = nullptr;
    TString savedDoc;
    void SetUp() override
    {
        GLTestFixture::SetUp();
        savedProcessor = GProcessor;
        savedDoc = CurrentDocumentPath();
        GProcessor = &p;
    }
    void TearDown() override
    {
        GProcessor = savedProcessor;
        SetCurrentDocumentPath(savedDoc);
    }
};

TEST_F(JobDocumentTest, OnlyRegularDocumentsAreReadAndUnsavedEditsAreKeptFirst)
{
    const std::string empty = "GKV_File_Version_2\n";
    WriteText(dir.File("job.kvf"), empty);
    WriteText(dir.File("huge.kvf"), empty);
    ASSERT_EQ(truncate(dir.File("huge.kvf").c_str(), (off_t)JOB_MAX_DOCUMENT_BYTES + 1), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.kvf").c_str(), 0600), 0);
    // Documents other users may change, themselves or through their folder (mode 0: made above).
    ASSERT_EQ(mkdir(dir.File("shared").c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.File("shared").c_str(), 0777), 0);
    // Sub-graphs are read under the same rule, at any depth, and not from the kernel's files.
    WriteText(dir.File("mid.kvf"), ProcessorsOn(dir.File("shared/job.kvf"), 1));
    WriteText(dir.File("deep.kvf"), ProcessorsOn(dir.File("mid.kvf"), 1));
    WriteText(dir.File("kernel.kvf"), ProcessorsOn("/proc/self/status", 1));
    // Links another user (nobody) put in a sticky folder, to the document and to its folder, and
    // the server's own links: only root can make them.
    const bool root = geteuid() == 0;
    if (root)
    {
        const passwd* other = getpwnam("nobody");
        ASSERT_NE(other, nullptr);
        ASSERT_EQ(mkdir(dir.File("sticky").c_str(), 0), 0);
        ASSERT_EQ(chmod(dir.File("sticky").c_str(), 01777), 0);
        const struct
        {
            const char* name;
            std::string to;
            uid_t owner;
        } links[] = {{"sticky/theirs.kvf", dir.File("job.kvf"), other->pw_uid},
                     {"sticky/dir", dir.Path(), other->pw_uid},
                     {"sticky/own.kvf", dir.File("job.kvf"), 0},
                     {"through.kvf", dir.File("sticky/theirs.kvf"), 0}};
        for (const auto& l : links)
        {
            ASSERT_EQ(symlink(l.to.c_str(), dir.File(l.name).c_str()), 0) << l.name;
            ASSERT_EQ(lchown(dir.File(l.name).c_str(), l.owner, (gid_t)-1), 0) << l.name;
        }
        WriteText(dir.File("inner-linked.kvf"), ProcessorsOn(dir.File("sticky/theirs.kvf"), 1));
    }
    const struct
    {
        std::string path;
        EJobStatus status;
        mode_t mode = 0;
        bool theirs = false; // made as another user
    } cases[] = {
        {dir.File("fifo.kvf"), JOB_LoadFailed},          {"/dev/zero", JOB_LoadFailed},
        {dir.Path(), JOB_LoadFailed},                    {dir.File("missing.kvf"), JOB_LoadFailed},
        {dir.File("huge.kvf"), JOB_LoadFailed},          {dir.File("job.kvf"), JOB_Done},
        {dir.File("group.kvf"), JOB_LoadFailed, 0664},   {dir.File("others.kvf"), JOB_LoadFailed, 0606},
        {dir.File("shared/job.kvf"), JOB_LoadFailed, 0644},
        {dir.File("deep.kvf"), JOB_LoadFailed},          {"/proc/self/status", JOB_LoadFailed},
        {dir.File("kernel.kvf"), JOB_LoadFailed},
        {dir.File("sticky/theirs.kvf"), JOB_LoadFailed, 0, true}, {dir.File("sticky/dir/job.kvf"), JOB_LoadFailed, 0, true},
        {dir.File("through.kvf"), JOB_LoadFailed, 0, true},       {dir.File("inner-linked.kvf"), JOB_LoadFailed, 0, true},
        {dir.File("sticky/own.kvf"), JOB_Done, 0, true},
    };
    for (const auto& c : cases)
    {
        if (c.theirs && !root)
            continue;
        if (c.mode)
        {
            WriteText(c.path, empty);
            ASSERT_EQ(chmod(c.path.c_str(), c.mode), 0);
        }
        TString reason;
        EXPECT_EQ(RunJobDocument(c.path.c_str(), reason), c.status) << c.path;
        EXPECT_EQ(reason.IsEmpty(), c.status == JOB_Done) << c.path << ": " << reason.Str();
    }

    // Unsaved edits of a saved document go beside it before the job replaces them.
    const std::string edited = dir.File("mine.kvf");
    ASSERT_EQ(p.SaveDocument(edited.c_str()), 1);
    p.Edited = 1;
    TString reason;
    EXPECT_EQ(RunJobDocument(dir.File("job.kvf").c_str(), reason), JOB_Done);
    EXPECT_EQ(ReadText(dir.File("mine.recovery.kvf")), ReadText(edited));
    EXPECT_STREQ(p.FileName.Str(), dir.File("job.kvf").c_str());
    // A job that does not load leaves the editor on its own document, still unsaved.
    p.FileName = edited.c_str();
    p.Edited = 1;
    EXPECT_EQ(RunJobDocument(dir.File("missing.kvf").c_str(), reason), JOB_LoadFailed);
    EXPECT_STREQ(p.FileName.Str(), edited.c_str());
    EXPECT_EQ(p.Edited, 1u);
    if (!root)
        GTEST_SKIP() << "the rows of another user's links need root to make them";
}

TEST_F(JobDocumentTest, AFailedJobNamesTheFileAndTheCauseAndHoldsNoMoreTextureMemoryThanTheBudget)
{
    // A source that is not there, its node's name forging a line; an output into a missing folder.
    WriteText(dir.File("source.kvf"), "GKV_File_Version_2\nNODE STexNode_File NName=\"In\\n127.0.0.1:9 Job processed: "
                                      "/etc/shadow\" TexName=\"gone.png\"\nNODE STexNode_Extract NName=\"Out\" "
                                      "TexName=\"out.png\"\nLINK 0 0 1 0\n");
    WriteText(dir.File("write.kvf"), "GKV_File_Version_2\nNODE STexNode_GPUNoise Width=\"4\" Height=\"4\"\n"
                                     "NODE STexNode_Extract NName=\"Out\" TexName=\"none/out.png\"\nLINK 0 0 1 0\n");
    // 256 KiB a texture; the budget leaves room for two and the node pictures of the panels.
    const std::string noise = "NODE STexNode_GPUNoise Width=\"256\" Height=\"256\"\n";
    const u64 TEXTURE = 256 * 256 * 4;
    WriteText(dir.File("inner.kvf"), "GKV_File_Version_2\n" + noise + "NODE STexNode_Output PName=\"out\"\nLINK 0 0 1 0\n");
    WriteText(dir.File("fan.kvf"), ProcessorsOn(dir.File("inner.kvf"), 8));
    WriteText(dir.File("wide.kvf"), "GKV_File_Version_2\n" + noise + noise + "NODE STexNode_Blend\nLINK 0 0 2 0\nLINK 1 0 2 1\n");
    const struct
    {
        const char* document;
        EJobStatus status;
        std::string reason;
    } cases[] = {
        {"fan.kvf", JOB_Done, ""}, // eight sub-graphs, each done with before the next
        {"wide.kvf", JOB_OutputFailed, "needed more texture memory at once than the budget of "}, // three textures at once
        {"source.kvf", JOB_OutputFailed, "node 0 (STexNode_File, \"In\n127.0.0.1:9 Job processed: /etc/shadow\") cannot "
                                         "read \"" + dir.File("gone.png") + "\": No such file or directory; node 1 (STexNode_Extract, "
                                         "\"Out\") failed: Null texture found"},
        {"write.kvf", JOB_OutputFailed, "node 1 (STexNode_Extract, \"Out\") failed: Failed to save texture: "
                                        "\"" + dir.File("none/out.png") + "\" not written: No such file or directory"},
    };
    TShippedShaders shaders;
    shaders.Begin();
    for (const auto& c : cases)
    {
        p.ClearNodes();
        TEX_SetMemoryBudget(GTexManager.BudgetUsed + TEXTURE * 5 / 2);
        TString reason;
        EXPECT_EQ(RunJobDocument(dir.File(c.document).c_str(), reason), c.status) << c.document;
        EXPECT_EQ(std::string(reason.Str()).substr(0, c.reason.size()), c.reason) << c.document;
        EXPECT_EQ(reason.IsEmpty(), c.status == JOB_Done) << c.document;
        TEX_SetMemoryBudget(0);
    }
    shaders.End();
}

TEST_F(JobDocumentTest, AQuitMessageKeepsUnsavedEditsFirstOrIsRefused)
{
    const std::string edited = dir.File("mine.kvf");
    ASSERT_EQ(p.SaveDocument(edited.c_str()), 1);
    const struct
    {
        std::string document;
        std::string recovery; // empty: cannot be written, so the program stays
    } cases[] = {
        {edited, dir.File("mine.recovery.kvf")},
        {dir.File("gone/mine.kvf"), ""},
    };
    for (const auto& c : cases)
    {
        SJobServer server;
        TString failure;
        ASSERT_EQ(StartJobServer(server, "0", failure), 1) << failure.Str();
        TJobClient client;
        p.FileName = c.document.c_str();
        p.Edited = 1;
        GQuitFlag = 0;
        ASSERT_TRUE(client.Send(NetGetPort(server), TJobClient::Message(JOB_MSG_QUIT)));
        usleep(QUIET_WAIT_MS * 1000);
        PollJobServerAt(server, T0);
        EXPECT_EQ(GQuitFlag, c.recovery.empty() ? 0u : 1u) << c.document;
        if (!c.recovery.empty())
        {
            EXPECT_EQ(ReadText(c.recovery), ReadText(edited)) << c.document;
        }
        EXPECT_EQ(p.Edited, 1u) << c.document;
        NetClose(server);
    }
    GQuitFlag = 0;
}

TEST(JobRecovery, RecoveryCopiesLieBesideTheEditedOrTheJobsDocument)
{
    const struct
    {
        const char* edited;
        const char* job;
        const char* expected;
    } cases[] = {
        {"/w/scene.kvf", "/jobs/a.kvf", "/w/scene.recovery.kvf"},
        {"/w/Scene.KVF", "/jobs/a.kvf", "/w/Scene.recovery.kvf"},
        {"/w/notes", "/jobs/a.kvf", "/w/notes.recovery.kvf"},
        {"", "/jobs/a.kvf", "/jobs/Untitled.recovery.kvf"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(RecoveryPath(c.edited, c.job).Str(), c.expected) << c.edited;
}

// ---------------------------------------------------------------------------------------------
// The program taking jobs and running documents

namespace
{
const u32 PIC_W = 5, PIC_H = 3;
const char* const CHAIN_DOCUMENT = "GKV_File_Version_2\n"
                                   "NODE STexNode_File _ID=\"0\" pos0=\"100;100\" TexName=\"in.png\" RelKVF=\"1\"\n"
                                   "NODE STexNode_Extract _ID=\"1\" pos0=\"300;100\" TexName=\"out.png\" RelKVF=\"1\"\n"
                                   "LINK 0 0 1 0\n";

// A shell's `ulimit -f 64` (KiB), and a document whose DDS file passes it.
const char* const FILE_SIZE_LIMIT = "65536";
const char* const DDS_DOCUMENT = "GKV_File_Version_2\nNODE STexNode_GPUNoise Width=\"512\" Height=\"512\"\n"
                                 "NODE STexNode_Extract TexName=\"out.dds\" RelKVF=\"1\"\nLINK 0 0 1 0\n";

bool WritePicture(const std::string& path, u32 variant = 0)
{
    std::vector<u32> px(PIC_W * PIC_H);
    for (u32 i = 0; i < px.size(); ++i)
        px[i] = (i * 17u + variant) | (i * 41u) << 8 | (255u - i * 9u) << 16 | 0xFFu << 24;
    png_image img = {};
    img.version = PNG_IMAGE_VERSION;
    img.width = PIC_W;
    img.height = PIC_H;
    img.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&img, path.c_str(), 0, px.data(), 0, nullptr) != 0;
}

// The pixels libpng reads, top row first, with the size in front; empty when the file does not read.
std::vector<u32> PngPixels(const std::string& path)
{
    png_image img = {};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return {};
    img.format = PNG_FORMAT_RGBA;
    std::vector<u32> px(2 + img.width * img.height);
    px[0] = img.width;
    px[1] = img.height;
    if (!png_image_finish_read(&img, nullptr, px.data() + 2, 0, nullptr))
        return {};
    return px;
}

// The program started in the background on the arguments, without a display.
pid_t StartProgram(const std::vector<std::string>& args, const std::string& cwd)
{
    return StartHeadless(std::string(PW_BIN_DIR) + "/plumweave", args, cwd, OUTPUT_INHERITED);
}

// The same with its output into a pipe whose reader has gone, under a file-size limit (a shell's
// `ulimit -f`) when one is given.
pid_t StartProgramClosedOutput(std::vector<std::string> args, const std::string& cwd, const char* fileSize = "unlimited")
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    args.insert(args.begin(), {std::string("--fsize=") + fileSize, std::string(PW_BIN_DIR) + "/plumweave"});
    const pid_t pid = StartHeadless("/usr/bin/prlimit", args, cwd, fds[1]);
    close(fds[0]);
    close(fds[1]);
    return pid;
}

// The exit status of the program, or -1 when it does not end within the wait (it is then killed).
int WaitProgram(pid_t pid, int ms)
{
    for (int waited = 0; waited < ms; waited += 10)
    {
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid)
            return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// Whether a UDP socket of the machine is bound to the port, as the system lists its sockets.
bool PortBound(u16 port)
{
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"})
    {
        std::ifstream f(table);
        std::string line, slot, local;
        std::getline(f, line);
        while (f >> slot >> local && std::getline(f, line))
            if (std::stoul(local.substr(local.find(':') + 1), nullptr, 16) == port)
                return true;
    }
    return false;
}

// Sends the path once the server listens and waits for the reply: its outcome, or -1. Sent once,
// so that no reply to an earlier attempt can stand for a later job's.
int RunJob(TJobClient& c, u16 port, const std::string& path)
{
    const std::vector<uint32_t> order = {2, 0, 3, 1};
    const uint32_t chunk = (uint32_t)(path.size() + order.size() - 1) / (uint32_t)order.size();
    for (int waited = 0; !PortBound(port); waited += QUIET_WAIT_MS)
    {
        if (waited >= PROGRAM_WAIT_MS)
            return -1;
        usleep(QUIET_WAIT_MS * 1000);
    }
    int status = -1;
    return c.SendPath(port, path, chunk, order) && c.WaitReply(PROGRAM_WAIT_MS, status) ? status : -1;
}
} // namespace

TEST(ProgramJobs, JobsOverUdpWriteTheirFilesAndQuitEndsTheProgram)
{
    TTempDir dir;
    ASSERT_TRUE(WritePicture(dir.File("in.png")));
    WriteText(dir.File("chain.kvf"), CHAIN_DOCUMENT);
    WriteText(dir.File("dds.kvf"), DDS_DOCUMENT);
    const u16 port = FreeUdpPort();
    ASSERT_NE(port, 0);
    // Its output read by nobody: every line it writes meets a closed pipe.
    const pid_t pid = StartProgramClosedOutput({"-listen", std::to_string(port)}, dir.Path(), FILE_SIZE_LIMIT);
    ASSERT_GT(pid, 0);
    TJobClient c;
    const struct
    {
        const char* label;
        std::string path;
        int status;
        bool written;
    } jobs[] = {
        {"first, a file past the file-size limit", dir.File("dds.kvf"), JOB_OutputFailed, false},
        {"good", dir.File("chain.kvf"), JOB_Done, true},
        {"missing document", dir.File("missing.kvf"), JOB_LoadFailed, false},
        {"a folder", dir.Path(), JOB_LoadFailed, false},
        {"good again", dir.File("chain.kvf"), JOB_Done, true},
    };
    u32 variant = 0; // the source changes between jobs: each reads it as it is now
    for (const auto& j : jobs)
    {
        ASSERT_TRUE(WritePicture(dir.File("in.png"), ++variant));
        unlink(dir.File("out.png").c_str());
        EXPECT_EQ(RunJob(c, port, j.path), j.status) << j.label;
        EXPECT_EQ(PngPixels(dir.File("out.png")), j.written ? PngPixels(dir.File("in.png")) : std::vector<u32>()) << j.label;
        // Garbage between jobs changes nothing.
        for (const Bytes& g : {Raw({1}), Raw({0, 0, 0, 0, 0, JOB_MSG_CHUNK, 0xFF}), TJobClient::Chunk("zz", 0, 1)})
            c.Send(port, g);
    }
    ASSERT_TRUE(c.Send(port, TJobClient::Message(JOB_MSG_QUIT)));
    EXPECT_EQ(WaitProgram(pid, PROGRAM_WAIT_MS), 0);
}

TEST(ProgramJobs, APortAloneIsNotReachableThroughAnotherAddressOfTheMachine)
{
    const std::string other = NonLoopbackAddress();
    if (other.empty())
        GTEST_SKIP() << "this machine has no address but loopback to try";
    TTempDir dir;
    WriteText(dir.File("empty.kvf"), "GKV_File_Version_2\n");
    const struct
    {
        const char* listen; // the port is appended
        bool reachable;
    } cases[] = {
        {"", false},
        {"0.0.0.0:", true},
    };
    for (const auto& c : cases)
    {
        const u16 port = FreeUdpPort();
        ASSERT_NE(port, 0);
        const pid_t pid = StartProgram({"-listen", c.listen + std::to_string(port)}, dir.Path());
        ASSERT_GT(pid, 0);
        // Up and answering on loopback first, so that silence below means unreachable.
        TJobClient local;
        EXPECT_EQ(RunJob(local, port, dir.File("empty.kvf")), JOB_Done) << c.listen;
        TJobClient remote("0.0.0.0", other.c_str());
        ASSERT_TRUE(remote.SendPath(port, dir.File("empty.kvf"), 8));
        int status = -1;
        EXPECT_EQ(remote.WaitReply(REPLY_WAIT_MS, status), c.reachable) << c.listen << " through " << other;
        ASSERT_TRUE(local.Send(port, TJobClient::Message(JOB_MSG_QUIT)));
        EXPECT_EQ(WaitProgram(pid, PROGRAM_WAIT_MS), 0);
    }
}

TEST(ProgramJobs, RelativeJobPathsAreTakenFromTheWorkingFolderAtStartUp)
{
    TTempDir dir;
    ASSERT_TRUE(WritePicture(dir.File("in.png")));
    WriteText(dir.File("chain.kvf"), CHAIN_DOCUMENT);
    ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0700), 0);
    const u16 port = FreeUdpPort();
    ASSERT_NE(port, 0);
    const pid_t pid = StartProgram({"-listen", std::to_string(port)}, dir.Path());
    ASSERT_GT(pid, 0);
    TJobClient c;
    const std::vector<u32> in = PngPixels(dir.File("in.png"));
    for (const char* path : {"chain.kvf", "./chain.kvf", "sub/../chain.kvf"})
    {
        unlink(dir.File("out.png").c_str());
        EXPECT_EQ(RunJob(c, port, path), JOB_Done) << path;
        EXPECT_EQ(PngPixels(dir.File("out.png")), in) << path;
    }
    ASSERT_TRUE(c.Send(port, TJobClient::Message(JOB_MSG_QUIT)));
    EXPECT_EQ(WaitProgram(pid, PROGRAM_WAIT_MS), 0);
}

TEST(ProgramJobs, AServerRunsOnlyDocumentsOfItsOwnUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can run the server as a second user (nobody) beside the documents' owner";
    const passwd* other = getpwnam("nobody");
    ASSERT_NE(other, nullptr);
    TTempDir dir;
    ASSERT_TRUE(WritePicture(dir.File("in.png")));
    WriteText(dir.File("chain.kvf"), CHAIN_DOCUMENT);
    WriteText(dir.File("theirs.kvf"), CHAIN_DOCUMENT);
    // The server's own document bringing in another user's as a sub-graph.
    WriteText(dir.File("wrapper.kvf"), ProcessorsOn(dir.File("theirs.kvf"), 1));
    for (const char* own : {"", "in.png", "chain.kvf", "wrapper.kvf"})
        ASSERT_EQ(chown(dir.File(own).c_str(), other->pw_uid, other->pw_gid), 0) << own;
    const std::string log = dir.File("server.log");
    const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(logFd, 0);
    // The build tree may lie where that user cannot enter (root's home).
    ASSERT_EQ(mkdir(dir.File("program").c_str(), 0755), 0);
    const std::string program = CopyProgramInto(dir.File("program"));
    ASSERT_FALSE(program.empty());
    const u16 port = FreeUdpPort();
    ASSERT_NE(port, 0);
    const pid_t pid =
        StartHeadless("/usr/bin/setpriv",
                      {"--reuid=" + std::to_string(other->pw_uid), "--regid=" + std::to_string(other->pw_gid),
                       "--clear-groups", program, "-listen", std::to_string(port)},
                      dir.Path(), logFd);
    close(logFd);
    ASSERT_GT(pid, 0);
    TJobClient c;
    EXPECT_EQ(RunJob(c, port, dir.File("chain.kvf")), JOB_Done);
    EXPECT_EQ(PngPixels(dir.File("out.png")), PngPixels(dir.File("in.png")));
    for (const char* theirs : {"theirs.kvf", "wrapper.kvf"})
    {
        unlink(dir.File("out.png").c_str());
        EXPECT_EQ(RunJob(c, port, dir.File(theirs)), JOB_LoadFailed) << theirs;
        EXPECT_EQ(PngPixels(dir.File("out.png")), std::vector<u32>()) << theirs;
    }
    ASSERT_TRUE(c.Send(port, TJobClient::Message(JOB_MSG_QUIT)));
    EXPECT_EQ(WaitProgram(pid, PROGRAM_WAIT_MS), 0);
    const std::string output = ReadText(log);
    EXPECT_NE(output.find(dir.File("theirs.kvf") + "\" refused: it belongs to user 0"), std::string::npos) << output;
    EXPECT_NE(output.find(dir.File("theirs.kvf") + "\" is not read: it belongs to user 0"), std::string::npos) << output;
}

TEST(ProgramJobs, ADocumentBringingInTooMuchFailsAndOtherClientsAreServed)
{
    // Seventeen documents, each but the last with four Processor nodes on the next: loaded in
    // full they would be 4^16 documents.
    const u32 LEVELS = 16, PER_LEVEL = 4;
    TTempDir dir;
    ASSERT_TRUE(WritePicture(dir.File("in.png")));
    WriteText(dir.File("chain.kvf"), CHAIN_DOCUMENT);
    for (u32 i = 0; i <= LEVELS; ++i)
        WriteText(dir.File(("fan" + std::to_string(i) + ".kvf").c_str()),
                  ProcessorsOn(dir.File(("fan" + std::to_string(i + 1) + ".kvf").c_str()), i < LEVELS ? PER_LEVEL : 0));
    // Inner documents of more bytes than one load reads, alone and together (sparse files).
    WriteText(dir.File("huge.kvf"), "GKV_File_Version_2\n");
    ASSERT_EQ(truncate(dir.File("huge.kvf").c_str(), (off_t)DOC_MAX_LOAD_BYTES + 1), 0);
    WriteText(dir.File("quarter.kvf"), "GKV_File_Version_2\n");
    ASSERT_EQ(truncate(dir.File("quarter.kvf").c_str(), (off_t)(DOC_MAX_LOAD_BYTES / 4)), 0);
    WriteText(dir.File("big.kvf"), ProcessorsOn(dir.File("huge.kvf"), 1));
    WriteText(dir.File("wide.kvf"), ProcessorsOn(dir.File("quarter.kvf"), 5));
    // More nodes than one load makes, but only together.
    std::string nodes = "GKV_File_Version_2\n";
    for (u32 i = 0; i <= DOC_MAX_LOAD_NODES / 2; ++i)
        nodes += "NODE STexNode_Output\n";
    WriteText(dir.File("nodes.kvf"), nodes);
    WriteText(dir.File("many.kvf"), ProcessorsOn(dir.File("nodes.kvf"), 2));
    const char* const greedy[] = {"fan0.kvf", "big.kvf", "wide.kvf", "many.kvf"};
    for (const char* doc : greedy)
    {
        const pid_t batch = StartProgram({doc, "-opc"}, dir.Path());
        ASSERT_GT(batch, 0);
        EXPECT_EQ(WaitProgram(batch, PROGRAM_WAIT_MS), BATCH_EXIT_LOAD_FAILED) << doc;
    }

    const u16 port = FreeUdpPort();
    ASSERT_NE(port, 0);
    const pid_t server = StartProgram({"-listen", std::to_string(port)}, dir.Path());
    ASSERT_GT(server, 0);
    TJobClient other;
    for (const char* doc : greedy)
    {
        TJobClient client;
        EXPECT_EQ(RunJob(client, port, dir.File(doc)), JOB_LoadFailed) << doc;
        unlink(dir.File("out.png").c_str());
        EXPECT_EQ(RunJob(other, port, dir.File("chain.kvf")), JOB_Done) << doc;
        EXPECT_EQ(PngPixels(dir.File("out.png")), PngPixels(dir.File("in.png"))) << doc;
    }
    ASSERT_TRUE(other.Send(port, TJobClient::Message(JOB_MSG_QUIT)));
    EXPECT_EQ(WaitProgram(server, PROGRAM_WAIT_MS), 0);
}

TEST(ProgramBatch, BatchRunWritesTheOutputNodesFiles)
{
    TTempDir dir;
    ASSERT_TRUE(WritePicture(dir.File("in.png")));
    WriteText(dir.File("chain.kvf"), CHAIN_DOCUMENT);
    std::string missingFolder = CHAIN_DOCUMENT;
    missingFolder.replace(missingFolder.find("out.png"), 7, "none/out.png");
    WriteText(dir.File("bad.kvf"), missingFolder);
    WriteText(dir.File("kernel.kvf"), CHAIN_DOCUMENT + std::string("NODE STexNode_Proc KVFName=\"/proc/self/status\"\n"));
    // Sub-graphs of another user (nobody): planted in a sticky folder, reached through their link
    // there, or in a team's shared folder. Only root can make them.
    const bool root = geteuid() == 0;
    if (root)
    {
        const passwd* other = getpwnam("nobody");
        ASSERT_NE(other, nullptr);
        for (const char* folder : {"sticky", "team"})
        {
            ASSERT_EQ(mkdir(dir.File(folder).c_str(), 0), 0);
            ASSERT_EQ(chmod(dir.File(folder).c_str(), *folder == 's' ? 01777 : 0777), 0);
        }
        WriteText(dir.File("mine.kvf"), "GKV_File_Version_2\n");
        ASSERT_EQ(symlink(dir.File("mine.kvf").c_str(), dir.File("sticky/link.kvf").c_str()), 0);
        for (const char* inner : {"sticky/effect.kvf", "team/effect.kvf", "sticky/link.kvf"})
        {
            const std::string outer = std::string(inner).replace(std::string(inner).find('/'), 1, "-");
            WriteText(dir.File(outer.c_str()), CHAIN_DOCUMENT + ("NODE STexNode_Proc KVFName=\"" + dir.File(inner) + "\"\n"));
            if (outer != "sticky-link.kvf")
                WriteText(dir.File(inner), "GKV_File_Version_2\n");
            ASSERT_EQ(lchown(dir.File(inner).c_str(), other->pw_uid, other->pw_gid), 0) << inner;
        }
    }
    const struct
    {
        const char* doc;
        int status;
        bool written;
        bool closedOutput = false; // into a pipe whose reader has gone
        bool theirs = false;       // made as another user
    } cases[] = {
        {"chain.kvf", 0, true},
        {"bad.kvf", BATCH_EXIT_OUTPUT_FAILED, false},
        {"kernel.kvf", BATCH_EXIT_LOAD_FAILED, false}, // a chain and a sub-graph that is no document
        {"chain.kvf", 0, true, true},
        {"bad.kvf", BATCH_EXIT_OUTPUT_FAILED, false, true},
        {"sticky-effect.kvf", BATCH_EXIT_LOAD_FAILED, false, false, true},
        {"sticky-link.kvf", BATCH_EXIT_LOAD_FAILED, false, false, true},
        {"team-effect.kvf", 0, true, false, true},
    };
    for (const auto& c : cases)
    {
        if (c.theirs && !root)
            continue;
        unlink(dir.File("out.png").c_str());
        const pid_t pid = c.closedOutput ? StartProgramClosedOutput({c.doc, "-opc"}, dir.Path()) : StartProgram({c.doc, "-opc"}, dir.Path());
        ASSERT_GT(pid, 0);
        EXPECT_EQ(WaitProgram(pid, PROGRAM_WAIT_MS), c.status) << c.doc << (c.closedOutput ? ", output closed" : "");
        EXPECT_EQ(PngPixels(dir.File("out.png")), c.written ? PngPixels(dir.File("in.png")) : std::vector<u32>()) << c.doc;
    }
    if (!root)
        GTEST_SKIP() << "the rows of another user's documents need root to make them";
}
