// A job client of the tests' own, on plain BSD sockets: it sends job datagrams to a server on
// loopback, waits for the reply and acknowledges it as a client program would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TJobClient
{
public:
    typedef std::vector<uint8_t> Bytes;

    // A client bound to the numeric address (IPv4 or IPv6) on a free port; it sends to server.
    explicit TJobClient(const char* bindAddress = "127.0.0.1", const char* server = "127.0.0.1");
    ~TJobClient();
    TJobClient(const TJobClient&) = delete;
    TJobClient& operator=(const TJobClient&) = delete;
    bool IsOpen() const { return fd >= 0; }
    uint16_t Port() const { return port; }

    // One datagram as it stands to the server's port.
    bool Send(uint16_t to, const Bytes& datagram);
    // A job begin for length bytes (header, type 10, the length, the unused word).
    static Bytes Begin(uint32_t length);
    // A chunk of path bytes first..last (header, type 11, first, last, the bytes).
    static Bytes Chunk(const std::string& path, uint32_t first, uint32_t last);
    // A message of the type alone (quit, network test).
    static Bytes Message(uint8_t type);
    // The begin, then the path in chunks of at most chunk bytes sent in the order given by
    // order (indices of chunks; empty sends them in turn).
    bool SendPath(uint16_t to, const std::string& path, uint32_t chunk, const std::vector<uint32_t>& order = {});
    // Waits up to ms for a reply; acknowledges it when it came reliable. status receives its outcome
    // byte (-1 when the reply has none). false when nothing came.
    bool WaitReply(int ms, int& status, Bytes* raw = nullptr);
    // Whether a datagram arrives within ms (it is read and dropped).
    bool Pending(int ms);

private:
    int fd;
    uint16_t port;
    std::string server;
};

// A UDP port that was free a moment ago on 127.0.0.1.
uint16_t FreeUdpPort();
// The first IPv4 address of an interface that is up and not loopback; empty when there is none.
std::string NonLoopbackAddress();
