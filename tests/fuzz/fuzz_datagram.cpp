// The datagram receive path over a loopback pair: the input is a run of datagrams (each a
// two-byte big-endian length and its bytes) sent from a plain UDP socket to the engine's socket,
// which has a reliable datagram of its own waiting for its acknowledgement. Everything is
// received without fault, and every reliable datagram received is acknowledged.
#include "FuzzSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "GameNet.h"

namespace
{
const int DELIVERY_WAIT_MS = 200;
const u32 MAX_DATAGRAMS = 8;
int GPeer = -1;
NetAddr GPeerAddr;

bool Readable(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, DELIVERY_WAIT_MS) > 0;
}

std::string Datagram(const std::string& bytes)
{
    return std::string(1, (char)(bytes.size() >> 8)) + std::string(1, (char)bytes.size()) + bytes;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Sequence 1 is the engine's own reliable datagram below.
    const std::string ack = FuzzBE32(0) + std::string(1, '\0') + std::string(1, (char)NET_MSG_ACK) + FuzzBE32(1);
    FuzzStart({
        Datagram(FuzzBE32(1) + std::string(1, (char)NET_FLAG_RELIABLE) + "job path"),
        Datagram(ack) + Datagram(ack),
        Datagram("ab") + Datagram(std::string(3000, 'x')) + Datagram(FuzzBE32(7) + std::string(1, '\0') + "x"),
    });
    if (!NetStartup())
        FuzzFail("NetStartup");
    GPeer = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (GPeer < 0 || bind(GPeer, (sockaddr*)&a, sizeof(a)) != 0 || getsockname(GPeer, (sockaddr*)&a, &len) != 0)
        FuzzFail("cannot open the peer socket");
    GPeerAddr = NetAddr(INADDR_LOOPBACK, ntohs(a.sin_port));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SNetSocket s;
    if (!NetOpen(s, "0", "127.0.0.1"))
        FuzzFail("NetOpen");
    s.Lifetime = 10.0;
    s.ResendInterval = 1.0;
    s.RetryLimit = 3;
    TPodArray<u8> mine;
    mine.Resize(NET_HEADER_SIZE + 4);
    for (u32 i = 0; i < mine.Count(); ++i)
        mine[i] = 0;
    NetSend(s, GPeerAddr, mine, true, true, 0.0);
    u8 drain[4096];
    if (Readable(GPeer))
        while (recv(GPeer, drain, sizeof(drain), MSG_DONTWAIT) > 0)
        {
        }

    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(NetGetPort(s));
    size_t at = 0;
    for (u32 n = 0; n < MAX_DATAGRAMS && at + 2 <= size; ++n)
    {
        size_t len = ((size_t)data[at] << 8) | data[at + 1];
        at += 2;
        if (len > size - at)
            len = size - at;
        const bool reliable = len >= NET_HEADER_SIZE && (data[at + NET_FLAGS_OFFSET] & NET_FLAG_RELIABLE);
        const ssize_t sent = sendto(GPeer, data + at, len, 0, (sockaddr*)&to, sizeof(to));
        at += len;
        if (sent < 0 || !Readable(s.Socket))
            continue;
        NetAddr from;
        TPodArray<u8> packet;
        while (NetPoll(s, from, packet))
        {
        }
        // A reliable datagram of a length the engine takes is answered with an acknowledgement.
        if (reliable && len <= NET_RECEIVE_BUFFER && !Readable(GPeer))
            FuzzFail("a reliable datagram was not acknowledged");
        while (recv(GPeer, drain, sizeof(drain), MSG_DONTWAIT) > 0)
        {
        }
    }
    NetResendPending(s, 2.0);
    SNetSendRecord record;
    while (NetPopSendResult(s, record, false))
    {
    }
    NetClose(s);
    while (recv(GPeer, drain, sizeof(drain), MSG_DONTWAIT) > 0)
    {
    }
    return 0;
}
