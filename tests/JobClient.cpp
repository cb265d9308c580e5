#include "JobClient.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <string.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
const size_t HEADER = 5; // sequence and flags, filled by the sender
const uint8_t FLAG_RELIABLE = 1;
const uint8_t TYPE_ACK = 1;
const uint8_t TYPE_BEGIN = 10;
const uint8_t TYPE_CHUNK = 11;
const size_t TYPE_AT = 5;
const size_t STATUS_AT = 6;
const size_t RECEIVE_SIZE = 2048;

void PutBE16(TJobClient::Bytes& b, uint32_t v)
{
    b.push_back((uint8_t)(v >> 8));
    b.push_back((uint8_t)v);
}

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A numeric address and port as a socket address; 0 when the text is no address.
socklen_t Numeric(const char* host, uint16_t port, sockaddr_storage& out)
{
    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* r = nullptr;
    if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &r) != 0 || !r)
        return 0;
    const socklen_t len = (socklen_t)r->ai_addrlen;
    memcpy(&out, r->ai_addr, len);
    freeaddrinfo(r);
    return len;
}

uint16_t PortOf(const sockaddr_storage& a)
{
    return ntohs(a.ss_family == AF_INET6 ? ((const sockaddr_in6&)a).sin6_port : ((const sockaddr_in&)a).sin_port);
}
} // namespace

TJobClient::TJobClient(const char* bindAddress, const char* serverAddress) : fd(-1), port(0), server(serverAddress)
{
    sockaddr_storage a = {};
    socklen_t len = Numeric(bindAddress, 0, a);
    if (!len || (fd = socket(a.ss_family, SOCK_DGRAM, 0)) < 0)
        return;
    if (bind(fd, (sockaddr*)&a, len) == 0 && getsockname(fd, (sockaddr*)&a, &len) == 0)
        port = PortOf(a);
}

TJobClient::~TJobClient()
{
    if (fd >= 0)
        close(fd);
}

bool TJobClient::Send(uint16_t to, const Bytes& datagram)
{
    sockaddr_storage a = {};
    const socklen_t len = Numeric(server.c_str(), to, a);
    return len && sendto(fd, datagram.data(), datagram.size(), 0, (const sockaddr*)&a, len) == (ssize_t)datagram.size();
}

TJobClient::Bytes TJobClient::Begin(uint32_t length)
{
    Bytes b(HEADER, 0);
    b.push_back(TYPE_BEGIN);
    PutBE16(b, length);
    PutBE16(b, 0);
    return b;
}

TJobClient::Bytes TJobClient::Chunk(const std::string& path, uint32_t first, uint32_t last)
{
    Bytes b(HEADER, 0);
    b.push_back(TYPE_CHUNK);
    PutBE16(b, first);
    PutBE16(b, last);
    for (uint32_t i = first; i <= last && i < path.size(); ++i)
        b.push_back((uint8_t)path[i]);
    return b;
}

TJobClient::Bytes TJobClient::Message(uint8_t type)
{
    Bytes b(HEADER, 0);
    b.push_back(type);
    return b;
}

bool TJobClient::SendPath(uint16_t to, const std::string& path, uint32_t chunk, const std::vector<uint32_t>& order)
{
    if (!Send(to, Begin((uint32_t)path.size())))
        return false;
    const uint32_t chunks = (uint32_t)((path.size() + chunk - 1) / chunk);
    std::vector<uint32_t> seq = order;
    if (seq.empty())
        for (uint32_t i = 0; i < chunks; ++i)
            seq.push_back(i);
    for (uint32_t c : seq)
    {
        const uint32_t first = c * chunk;
        uint32_t last = first + chunk - 1;
        if (last >= path.size())
            last = (uint32_t)path.size() - 1;
        if (!Send(to, Chunk(path, first, last)))
            return false;
    }
    return true;
}

bool TJobClient::WaitReply(int ms, int& status, Bytes* raw)
{
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    Bytes b(RECEIVE_SIZE);
    sockaddr_storage from = {};
    socklen_t len = sizeof(from);
    const ssize_t n = recvfrom(fd, b.data(), b.size(), 0, (sockaddr*)&from, &len);
    if (n <= (ssize_t)TYPE_AT)
        return false;
    b.resize((size_t)n);
    if (b[HEADER - 1] & FLAG_RELIABLE)
    {
        Bytes ack(HEADER, 0);
        ack.push_back(TYPE_ACK);
        ack.insert(ack.end(), b.begin(), b.begin() + 4);
        sendto(fd, ack.data(), ack.size(), 0, (const sockaddr*)&from, len);
    }
    status = b.size() > STATUS_AT ? b[STATUS_AT] : -1;
    if (raw)
        *raw = b;
    return true;
}

bool TJobClient::Pending(int ms)
{
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return false;
    uint8_t b[RECEIVE_SIZE];
    recv(fd, b, sizeof(b), 0);
    return true;
}

uint16_t FreeUdpPort()
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof(a);
    uint16_t port = 0;
    if (s >= 0 && bind(s, (sockaddr*)&a, sizeof(a)) == 0 && getsockname(s, (sockaddr*)&a, &len) == 0)
        port = ntohs(a.sin_port);
    if (s >= 0)
        close(s);
    return port;
}

std::string NonLoopbackAddress()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return "";
    std::string found;
    for (const ifaddrs* i = list; i && found.empty(); i = i->ifa_next)
    {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
            (i->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN] = "";
        if (inet_ntop(AF_INET, &((const sockaddr_in*)i->ifa_addr)->sin_addr, text, sizeof(text)))
            found = text;
    }
    freeifaddrs(list);
    return found;
}
