// Round trips of small reliable datagrams on 127.0.0.1 through the datagram layer, against bare
// sendto/recvfrom of the same sizes measured in the same run. Reported as the counter "ratio"
// (layer time / bare time; the goal is 1.5 or less).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "BenchPair.h"
#include "GameNet.h"

namespace
{
    const u32 LOOPBACK = 0x7F000001u;
    const long SPIN_LIMIT = 50000000; // a lost datagram ends the run instead of hanging it

    int BareSocket(u16& port)
    {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(LOOPBACK);
        bind(fd, (sockaddr*)&sa, sizeof(sa));
        socklen_t len = sizeof(sa);
        getsockname(fd, (sockaddr*)&sa, &len);
        port = ntohs(sa.sin_port);
        return fd;
    }

    sockaddr_in To(u16 port)
    {
        sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(LOOPBACK);
        sa.sin_port = htons(port);
        return sa;
    }

    // One bare round trip: the datagram out, a 10-byte answer back (the size of an acknowledgement).
    bool BareRoundTrip(int a, int b, const sockaddr_in& toB, const u8* payload, size_t size, u8* buf)
    {
        if (sendto(a, payload, size, 0, (const sockaddr*)&toB, sizeof(toB)) < 0)
            return false;
        sockaddr_in from;
        socklen_t fromLen = sizeof(from);
        long spins = 0;
        while (recvfrom(b, buf, 2048, MSG_TRUNC, (sockaddr*)&from, &fromLen) < 0)
            if (++spins > SPIN_LIMIT)
                return false;
        if (sendto(b, buf, 10, 0, (const sockaddr*)&from, fromLen) < 0)
            return false;
        spins = 0;
        while (recvfrom(a, buf, 2048, MSG_TRUNC, nullptr, nullptr) < 0)
            if (++spins > SPIN_LIMIT)
                return false;
        return true;
    }

    // One layer round trip: a reliable datagram out, its acknowledgement back, the record collected.
    bool NetRoundTrip(SNetSocket& a, SNetSocket& b, const NetAddr& toB, const TPodArray<u8>& packet,
                      TPodArray<u8>& buf)
    {
        if (!NetSend(a, toB, packet, true, false, 0.0))
            return false;
        NetAddr from;
        long spins = 0;
        while (!NetPoll(b, from, buf))
            if (++spins > SPIN_LIMIT)
                return false;
        spins = 0;
        while (!NetPoll(a, from, buf))
            if (++spins > SPIN_LIMIT)
                return false;
        SNetSendRecord done;
        return NetPopSendResult(a, done, false) == 1;
    }
}

static void BM_ReliableRoundTripVsBare(benchmark::State& state)
{
    const size_t size = (size_t)state.range(0);

    SNetSocket a, b;
    if (!NetOpen(a, "0", "127.0.0.1") || !NetOpen(b, "0", "127.0.0.1"))
    {
        state.SkipWithError("cannot open loopback sockets");
        return;
    }
    a.Lifetime = 1e9;
    a.ResendInterval = 1e9;
    a.RetryLimit = 1;
    const NetAddr toB(LOOPBACK, NetGetPort(b));
    TPodArray<u8> packet, buf;
    packet.Resize((u32)size);
    for (size_t i = 0; i < size; ++i)
        packet[(u32)i] = (u8)i;

    u16 portA = 0, portB = 0;
    int rawA = BareSocket(portA), rawB = BareSocket(portB);
    const sockaddr_in toRawB = To(portB);
    u8 rawBuf[2048];

    SPairTimer timer;
    bool ok = true;
    for (auto _ : state)
    {
        timer.Run([&] { ok = ok && NetRoundTrip(a, b, toB, packet, buf); },
                  [&] { ok = ok && BareRoundTrip(rawA, rawB, toRawB, packet.data, size, rawBuf); });
        if (!ok)
            break;
    }
    close(rawA);
    close(rawB);
    if (!ok)
    {
        state.SkipWithError("a datagram was lost on loopback");
        return;
    }
    timer.Report(state, "net_us", "bare_us", 1e6);
}
BENCHMARK(BM_ReliableRoundTripVsBare)->Arg(16)->Arg(256)->Arg(1024);
