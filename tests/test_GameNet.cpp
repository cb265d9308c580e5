// The datagram layer against real sockets on 127.0.0.1 (port 0 only, never anywhere else).
#include "TestSupport.h"

#include "GameNet.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
    const u32 LOOPBACK = 0x7F000001u;

    // A plain socket on 127.0.0.1, free of the layer under test: it sees the bytes on the wire.
    struct TRawSocket
    {
        int fd = -1;
        u16 port = 0;

        TRawSocket()
        {
            fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in sa = {};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = htonl(LOOPBACK);
            sa.sin_port = 0;
            if (bind(fd, (sockaddr*)&sa, sizeof(sa)) != 0)
                ADD_FAILURE() << "raw bind failed";
            socklen_t len = sizeof(sa);
            getsockname(fd, (sockaddr*)&sa, &len);
            port = ntohs(sa.sin_port);
        }
        ~TRawSocket() { close(fd); }

        NetAddr Addr() const { return NetAddr(LOOPBACK, port); }

        void SendTo(u16 toPort, const std::vector<u8>& bytes)
        {
            sockaddr_in sa = {};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = htonl(LOOPBACK);
            sa.sin_port = htons(toPort);
            ASSERT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, (sockaddr*)&sa, sizeof(sa)), (ssize_t)bytes.size());
        }

        // Waits (bounded) for one datagram; false when none came.
        bool Receive(std::vector<u8>& out, int timeoutMs = 2000)
        {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0)
                return false;
            out.resize(65536);
            ssize_t n = recv(fd, out.data(), out.size(), MSG_DONTWAIT);
            if (n < 0)
                return false;
            out.resize((size_t)n);
            return true;
        }

        // Whether a datagram arrives within a short bounded wait (loopback normally delivers
        // within the send call; the wait covers a loaded machine).
        bool Pending(int waitMs = 50)
        {
            pollfd p = {fd, POLLIN, 0};
            return poll(&p, 1, waitMs) > 0;
        }
    };

    TPodArray<u8> Packet(const std::vector<u8>& bytes)
    {
        TPodArray<u8> p;
        p.Append(bytes.data(), (u32)bytes.size());
        return p;
    }

    std::vector<u8> Bytes(const TPodArray<u8>& p) { return std::vector<u8>(p.data, p.data + p.count); }

    void OpenLoopback(SNetSocket& s)
    {
        ASSERT_EQ(NetOpen(s, "0", "127.0.0.1"), 1);
        ASSERT_NE(NetGetPort(s), 0);
    }

    NetAddr AddrOf(const SNetSocket& s) { return NetAddr(LOOPBACK, NetGetPort(s)); }

    // Polls with a bounded wait for the socket to become readable.
    bool PollWait(SNetSocket& s, NetAddr& from, TPodArray<u8>& packet)
    {
        pollfd p = {s.Socket, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0)
            return false;
        return NetPoll(s, from, packet) == 1;
    }

    int CountRecords(const SNetSendRecord* r)
    {
        int n = 0;
        for (; r; r = r->Next)
            ++n;
        return n;
    }

    int CountOpenFds()
    {
        int n = 0;
        DIR* d = opendir("/proc/self/fd");
        while (d && readdir(d))
            ++n;
        if (d)
            closedir(d);
        return n;
    }
}

TEST(NetAddress, TextForm)
{
    EXPECT_STREQ(NetAddrToString(NetAddr(0x0A000001u, 8377)).Str(), "10.0.0.1:8377");
    EXPECT_STREQ(NetAddrToString(NetAddr(0xFFFFFFFFu, 65535)).Str(), "255.255.255.255:65535");
    EXPECT_STREQ(NetAddrToString(NetAddr(0xC0A80102u, 0)).Str(), "192.168.1.2:0");
    EXPECT_STREQ(NetAddrToString(NetAddr()).Str(), "0.0.0.0:0");
}

TEST(NetAddress, OrderedByAddressThenPort)
{
    EXPECT_TRUE(NetAddr(1, 9) < NetAddr(2, 1));
    EXPECT_TRUE(NetAddr(2, 1) < NetAddr(2, 9));
    EXPECT_FALSE(NetAddr(2, 9) < NetAddr(2, 9));
    EXPECT_FALSE(NetAddr(3, 0) < NetAddr(2, 9));
}

TEST(NetAddress, MapKeysIterateByAddressThenPort)
{
    // The job server keeps one buffer per sender in such a map.
    TMap<NetAddr, TString> senders;
    senders.Insert(NetAddr(LOOPBACK, 9000), "c");
    senders.Insert(NetAddr(LOOPBACK, 80), "b");
    senders.Insert(NetAddr(0x0A000001u, 65000), "a");
    senders.Insert(NetAddr(0xC0A80001u, 1), "d");
    EXPECT_EQ(senders.Insert(NetAddr(LOOPBACK, 80), "again"), nullptr);
    std::string order;
    for (TMap<NetAddr, TString>::Iterator it(senders); it.IsValid(); it.Next())
        order += it.Value().Str();
    EXPECT_EQ(order, "abcd");
    ASSERT_NE(senders.Find(NetAddr(LOOPBACK, 9000)), nullptr);
    EXPECT_EQ(senders.Find(NetAddr(LOOPBACK, 9001)), nullptr);
}

TEST(NetOpenClose, BoundPortAndUnbound)
{
    SNetSocket a;
    OpenLoopback(a);
    SNetSocket unbound;
    ASSERT_EQ(NetOpen(unbound, nullptr), 1);
    EXPECT_GE(unbound.Socket, 0);
    NetClose(unbound);
    EXPECT_EQ(unbound.Socket, -1);
    EXPECT_EQ(NetGetPort(unbound), 0);
}

TEST(NetOpenClose, TakenPortFailsWithoutReuse)
{
    SNetSocket a;
    OpenLoopback(a);
    char port[16];
    snprintf(port, sizeof(port), "%u", (unsigned)NetGetPort(a));
    SNetSocket b;
    EXPECT_EQ(NetOpen(b, port, "127.0.0.1"), 0);
    EXPECT_EQ(b.Socket, -1);
}

TEST(NetOpenClose, FailedResolutionLeaksNoSocket)
{
    const int before = CountOpenFds();
    for (int i = 0; i < 20; ++i)
    {
        SNetSocket s;
        EXPECT_EQ(NetOpen(s, "no-such-service-name", "127.0.0.1"), 0);
        EXPECT_EQ(s.Socket, -1);
    }
    EXPECT_EQ(CountOpenFds(), before);
}

TEST(NetWire, HeaderBytesSeenByRawReceiver)
{
    SNetSocket a;
    OpenLoopback(a);
    TRawSocket raw;

    // The sequence wraps: the first datagram after 0xFFFFFFFF carries 0.
    a.Sequence = 0xFFFFFFFFu;
    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({9, 9, 9, 9, 9, 42, 'h', 'i'}), true, false, 0.0), 1);
    std::vector<u8> got;
    ASSERT_TRUE(raw.Receive(got));
    EXPECT_EQ(got, (std::vector<u8>{0, 0, 0, 0, 1, 42, 'h', 'i'}));

    a.Sequence = 0x01020303u;
    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 7}), false, false, 0.0), 1);
    ASSERT_TRUE(raw.Receive(got));
    EXPECT_EQ(got, (std::vector<u8>{1, 2, 3, 4, 0, 7}));

    // A packet shorter than the header grows to the header.
    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0xEE}), false, false, 0.0), 1);
    ASSERT_TRUE(raw.Receive(got));
    EXPECT_EQ(got, (std::vector<u8>{1, 2, 3, 5, 0}));

    // The caller's packet is left as it was.
    TPodArray<u8> mine = Packet({1, 2, 3, 4, 5, 6});
    ASSERT_EQ(NetSend(a, raw.Addr(), mine, true, true, 0.0), 1);
    EXPECT_EQ(Bytes(mine), (std::vector<u8>{1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(raw.Receive(got));
}

TEST(NetWire, RefusedSendsRecordNothing)
{
    SNetSocket a;
    OpenLoopback(a);
    TPodArray<u8> empty;
    EXPECT_EQ(NetSendTo(a, NetAddr(LOOPBACK, 5), empty), 0);
    EXPECT_EQ(NetSendTo(a, NetAddr(0, 5), Packet({1, 2, 3, 4, 5, 6})), 0);
    EXPECT_EQ(NetSendTo(a, NetAddr(LOOPBACK, 0), Packet({1, 2, 3, 4, 5, 6})), 0);
    EXPECT_EQ(NetSend(a, NetAddr(LOOPBACK, 0), Packet({0, 0, 0, 0, 0, 6}), true, true, 0.0), 0);
    EXPECT_EQ(a.SentRecords, nullptr);
    EXPECT_EQ(a.ResendRecords, nullptr);
    SNetSocket closed;
    EXPECT_EQ(NetSendTo(closed, NetAddr(LOOPBACK, 5), Packet({1, 2, 3, 4, 5, 6})), 0);
}

TEST(NetReliable, DeliveredOnceAndAcknowledged)
{
    SNetSocket a, b;
    OpenLoopback(a);
    OpenLoopback(b);
    a.ResendInterval = 1.0;
    a.RetryLimit = 10;
    a.Lifetime = 1000.0;

    ASSERT_EQ(NetSend(a, AddrOf(b), Packet({0, 0, 0, 0, 0, 20, 'x'}), true, true, 5.0), 1);
    EXPECT_EQ(CountRecords(a.SentRecords), 1);

    NetAddr from;
    TPodArray<u8> packet;
    ASSERT_TRUE(PollWait(b, from, packet));
    EXPECT_EQ(from, AddrOf(a));
    EXPECT_EQ(Bytes(packet), (std::vector<u8>{0, 0, 0, 1, 1, 20, 'x'}));

    // The acknowledgement: unreliable, type 1, the sequence number at offset 6, ten bytes in all.
    ASSERT_TRUE(PollWait(a, from, packet));
    EXPECT_EQ(from, AddrOf(b));
    EXPECT_EQ(Bytes(packet), (std::vector<u8>{0, 0, 0, 1, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(a.SentRecords, nullptr);
    EXPECT_EQ(CountRecords(a.FinishedRecords), 1);

    // Acknowledged: never sent again, however late it gets.
    NetResendPending(a, 500.0);
    EXPECT_EQ(NetPoll(b, from, packet), 0);

    SNetSendRecord out;
    ASSERT_EQ(NetPopSendResult(a, out, false), 1);
    EXPECT_EQ(out.Sequence, 1u);
    EXPECT_EQ(out.Attempts, 1u);
    EXPECT_EQ(out.Time, 5.0);
    EXPECT_EQ(out.Resend, nullptr);
    EXPECT_EQ(a.ResendRecords, nullptr);
    EXPECT_EQ(NetPopSendResult(a, out, false), 0);
    EXPECT_EQ(out.Sequence, 0u);
    EXPECT_EQ(out.Attempts, 0u);
}

TEST(NetReliable, ResentAtIntervalUntilRetryLimit)
{
    SNetSocket a;
    OpenLoopback(a);
    TRawSocket raw;
    a.ResendInterval = 10.0;
    a.RetryLimit = 3;

    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 30, 1, 2}), true, true, 100.0), 1);
    std::vector<u8> first, again;
    ASSERT_TRUE(raw.Receive(first));

    NetResendPending(a, 109.999);
    EXPECT_FALSE(raw.Pending());
    NetResendPending(a, 110.0);
    ASSERT_TRUE(raw.Receive(again));
    EXPECT_EQ(again, first);
    EXPECT_FALSE(raw.Pending());
    ASSERT_NE(a.SentRecords, nullptr);
    EXPECT_EQ(a.SentRecords->Attempts, 2u);

    NetResendPending(a, 120.0);
    ASSERT_TRUE(raw.Receive(again));
    EXPECT_EQ(again, first);
    // Third send reaches the limit: given up.
    EXPECT_EQ(a.SentRecords, nullptr);
    EXPECT_EQ(CountRecords(a.FinishedRecords), 1);

    NetResendPending(a, 1000.0);
    EXPECT_FALSE(raw.Pending());

    // Peeking leaves the record and shows its copy.
    SNetSendRecord out;
    ASSERT_EQ(NetPopSendResult(a, out, true), 1);
    EXPECT_EQ(out.Attempts, 3u);
    ASSERT_NE(out.Resend, nullptr);
    EXPECT_EQ(Bytes(out.Resend->Data), first);
    ASSERT_EQ(NetPopSendResult(a, out, false), 1);
    EXPECT_EQ(out.Attempts, 3u);
    EXPECT_EQ(out.Resend, nullptr);
    EXPECT_EQ(a.FinishedRecords, nullptr);
    EXPECT_EQ(a.ResendRecords, nullptr);
}

TEST(NetReliable, LongPauseCatchesUpOncePerMissedInterval)
{
    SNetSocket a;
    OpenLoopback(a);
    TRawSocket raw;
    a.ResendInterval = 10.0;
    a.RetryLimit = 100;

    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 30}), true, true, 0.0), 1);
    std::vector<u8> got;
    ASSERT_TRUE(raw.Receive(got));
    NetResendPending(a, 35.0);
    int copies = 0;
    while (copies < 10 && raw.Receive(got, copies < 3 ? 2000 : 50))
        ++copies;
    EXPECT_EQ(copies, 3);
    EXPECT_EQ(got, (std::vector<u8>{0, 0, 0, 1, 1, 30}));
    EXPECT_EQ(a.SentRecords->Attempts, 4u);
    // The next resend keeps the original rhythm (at 40, not 45).
    NetResendPending(a, 39.0);
    EXPECT_FALSE(raw.Pending());
    NetResendPending(a, 40.0);
    EXPECT_TRUE(raw.Pending(2000));

    // Far behind: a bounded burst, then the rhythm goes on from the present.
    while (raw.Receive(got, 50))
    {
    }
    NetResendPending(a, 40.0 + 10.0 * 1000 + 5.0);
    EXPECT_EQ(a.SentRecords->Attempts, 5u + NET_MAX_CATCHUP_SENDS);
    // Every counted attempt went out as a datagram.
    int burst = 0;
    while (burst < 2 * NET_MAX_CATCHUP_SENDS && raw.Receive(got, burst == 0 ? 2000 : 200))
        ++burst;
    EXPECT_EQ(burst, (int)NET_MAX_CATCHUP_SENDS);
    EXPECT_EQ(got, (std::vector<u8>{0, 0, 0, 1, 1, 30}));
    NetResendPending(a, 40.0 + 10.0 * 1000 + 9.0);
    EXPECT_EQ(a.SentRecords->Attempts, 5u + NET_MAX_CATCHUP_SENDS);
    NetResendPending(a, 40.0 + 10.0 * 1001);
    EXPECT_EQ(a.SentRecords->Attempts, 6u + NET_MAX_CATCHUP_SENDS);
}

TEST(NetReliable, JobServerSettingsResendUntilAcknowledged)
{
    SNetSocket server;
    OpenLoopback(server);
    TRawSocket client;
    server.Lifetime = 5000.0;
    server.ResendInterval = 100.0;
    server.RetryLimit = 0xFFFFFFFFu;
    server.Sequence = 0xFFFFFFFFu;

    ASSERT_EQ(NetSend(server, client.Addr(), Packet({0, 0, 0, 0, 0, 12}), true, true, 0.0), 1);
    std::vector<u8> got;
    ASSERT_TRUE(client.Receive(got));
    EXPECT_EQ(got, (std::vector<u8>{0, 0, 0, 0, 1, 12}));
    for (int i = 1; i <= 5; ++i)
    {
        NetResendPending(server, 100.0 * i - 0.5);
        EXPECT_FALSE(client.Pending());
        NetResendPending(server, 100.0 * i);
        ASSERT_TRUE(client.Receive(got));
        EXPECT_EQ(got, (std::vector<u8>{0, 0, 0, 0, 1, 12}));
    }

    // The client acknowledges sequence 0.
    client.SendTo(NetGetPort(server), {0, 0, 0, 9, 0, 1, 0, 0, 0, 0});
    NetAddr from;
    TPodArray<u8> packet;
    ASSERT_TRUE(PollWait(server, from, packet));
    EXPECT_EQ(from, client.Addr());
    EXPECT_EQ(server.SentRecords, nullptr);
    NetResendPending(server, 10000.0);
    EXPECT_FALSE(client.Pending());
    SNetSendRecord out;
    ASSERT_EQ(NetPopSendResult(server, out, false), 1);
    EXPECT_EQ(out.Sequence, 0u);
    EXPECT_EQ(out.Attempts, 6u);
}

TEST(NetReliable, RecordWithoutCopyExpiresByAge)
{
    SNetSocket a;
    OpenLoopback(a);
    TRawSocket raw;
    a.ResendInterval = 1.0;
    a.Lifetime = 50.0;
    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 3}), true, false, 10.0), 1);
    EXPECT_EQ(a.ResendRecords, nullptr);
    NetResendPending(a, 59.0);
    EXPECT_EQ(CountRecords(a.SentRecords), 1);
    NetResendPending(a, 60.0);
    EXPECT_EQ(a.SentRecords, nullptr);
    EXPECT_EQ(CountRecords(a.FinishedRecords), 1);
    std::vector<u8> got;
    ASSERT_TRUE(raw.Receive(got));
    EXPECT_FALSE(raw.Pending()); // expiring sends nothing
}

TEST(NetReliable, NonPositiveIntervalReportsAndReturns)
{
    SNetSocket a;
    OpenLoopback(a);
    TRawSocket raw;
    a.RetryLimit = 5;
    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 3}), true, true, 0.0), 1);
    std::vector<u8> got;
    ASSERT_TRUE(raw.Receive(got));
    for (double interval : {0.0, -1.0})
    {
        a.ResendInterval = interval;
        TExpectBreak expect("ResendInterval <= 0");
        NetResendPending(a, 1000.0);
    }
    EXPECT_FALSE(raw.Pending());
    EXPECT_EQ(a.SentRecords->Attempts, 1u);

    // An interval too small to move the clock on still ends, after a bounded burst.
    a.ResendInterval = 1e-300;
    a.RetryLimit = 0xFFFFFFFFu;
    NetResendPending(a, 1e6);
    EXPECT_EQ(a.SentRecords->Attempts, 1u + NET_MAX_CATCHUP_SENDS);
    NetResendPending(a, 1e6);
    EXPECT_EQ(a.SentRecords->Attempts, 1u + NET_MAX_CATCHUP_SENDS);
}

TEST(NetPollInput, AcknowledgementsOfUnknownSequencesOrFromOthersChangeNothing)
{
    const struct
    {
        const char* label;
        bool fromReceiver;
        std::vector<u8> ack;
    } cases[] = {
        {"unknown sequence", true, {0, 0, 0, 1, 0, 1, 0, 0, 0, 77}},
        {"the sequence, from another sender", false, {0, 0, 0, 1, 0, 1, 0, 0, 0, 1}},
    };
    for (const auto& c : cases)
    {
        SNetSocket a;
        OpenLoopback(a);
        TRawSocket receiver, other;
        ASSERT_EQ(NetSend(a, receiver.Addr(), Packet({0, 0, 0, 0, 0, 3}), true, false, 0.0), 1);
        (c.fromReceiver ? receiver : other).SendTo(NetGetPort(a), c.ack);
        NetAddr from;
        TPodArray<u8> packet;
        ASSERT_TRUE(PollWait(a, from, packet)) << c.label;
        EXPECT_EQ(Bytes(packet), c.ack) << c.label;
        EXPECT_EQ(CountRecords(a.SentRecords), 1) << c.label;
        EXPECT_EQ(a.FinishedRecords, nullptr) << c.label;
    }
}

TEST(NetPollInput, MalformedDatagramsAreHarmless)
{
    SNetSocket a;
    OpenLoopback(a);
    a.ResendInterval = 1.0;
    a.RetryLimit = 10;
    TRawSocket raw;
    // A pending record with sequence 0: a cut acknowledgement read past its end (into the zeroed
    // receive buffer) would match it.
    a.Sequence = 0xFFFFFFFFu;
    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 3}), true, true, 0.0), 1);
    std::vector<u8> got;
    ASSERT_TRUE(raw.Receive(got));

    const std::vector<std::vector<u8>> inputs = {
        {},                              // empty: no datagram
        {1},                             // shorter than the header
        {0, 0, 0, 1},                    //
        {0, 0, 0, 1, 1},                 // reliable header only: acknowledged
        {0, 0, 0, 1, 0, 1, 0},           // acknowledgement cut short
        {0, 0, 0, 1, 0, 1, 0, 0, 0},     // one byte short of the sequence
        std::vector<u8>(3000, 0xFF),     // longer than the receive buffer: dropped
    };
    for (const auto& in : inputs)
        raw.SendTo(NetGetPort(a), in);

    std::vector<std::vector<u8>> seen;
    NetAddr from;
    TPodArray<u8> packet;
    for (int i = 0; i < 10 && PollWait(a, from, packet); ++i)
        seen.push_back(Bytes(packet));
    // The empty and the oversized ones never come out, and a poll afterwards finds nothing.
    EXPECT_EQ(seen, (std::vector<std::vector<u8>>{inputs[1], inputs[2], inputs[3], inputs[4], inputs[5]}));
    EXPECT_EQ(NetPoll(a, from, packet), 0);
    EXPECT_EQ(packet.Count(), 0u);

    // Only the reliable 5-byte header was acknowledged; the cut acknowledgements matched nothing.
    ASSERT_TRUE(raw.Receive(got));
    EXPECT_EQ(got.size(), (size_t)NET_ACK_SIZE);
    EXPECT_EQ(got[NET_TYPE_OFFSET], NET_MSG_ACK);
    EXPECT_EQ(std::vector<u8>(got.begin() + NET_ACK_SEQUENCE_OFFSET, got.end()), (std::vector<u8>{0, 0, 0, 1}));
    EXPECT_FALSE(raw.Pending());
    EXPECT_EQ(CountRecords(a.SentRecords), 1);
    EXPECT_EQ(a.FinishedRecords, nullptr);
    EXPECT_EQ(CountBreaks(""), 0);
}

TEST(NetPollInput, DatagramAtBufferLimitIsKept)
{
    SNetSocket a;
    OpenLoopback(a);
    TRawSocket raw;
    std::vector<u8> big(NET_RECEIVE_BUFFER, 0x5A);
    big[NET_FLAGS_OFFSET] = 0;
    raw.SendTo(NetGetPort(a), big);
    raw.SendTo(NetGetPort(a), std::vector<u8>(NET_RECEIVE_BUFFER + 1, 0x5A));
    NetAddr from;
    TPodArray<u8> packet;
    ASSERT_TRUE(PollWait(a, from, packet));
    EXPECT_EQ(Bytes(packet), big);
    EXPECT_EQ(NetPoll(a, from, packet), 0);
}

TEST(NetOpenClose, CloseFreesAllRecords)
{
    SNetSocket a;
    OpenLoopback(a);
    TRawSocket raw;
    a.ResendInterval = 1.0;
    a.RetryLimit = 2;
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 3}), true, true, 0.0), 1);
    NetResendPending(a, 1.0); // all four reach the limit
    ASSERT_EQ(NetSend(a, raw.Addr(), Packet({0, 0, 0, 0, 0, 3}), true, true, 0.0), 1);
    EXPECT_EQ(CountRecords(a.FinishedRecords), 4);
    EXPECT_EQ(CountRecords(a.SentRecords), 1);
    NetClose(a);
    EXPECT_EQ(a.SentRecords, nullptr);
    EXPECT_EQ(a.FinishedRecords, nullptr);
    EXPECT_EQ(a.ResendRecords, nullptr);
    // The leak checker of the sanitizer build catches anything left behind.
}
