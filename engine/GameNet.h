// UDP datagrams over IPv4 with a small header of our own (big-endian sequence number and a
// reliable flag), acknowledgements and resend of kept reliable datagrams. Main thread only.
#pragma once

#include "GameSys.h"
#include "GTemplate.h"
#include "GString.h"

// Every datagram starts with this header; callers leave its five bytes free at the start of a packet.
enum
{
    NET_HEADER_SIZE = 5,        // sequence (4) + flags (1)
    NET_SEQUENCE_OFFSET = 0,    // big-endian sequence number
    NET_FLAGS_OFFSET = 4,
    NET_TYPE_OFFSET = 5,        // message type, by convention of the users
    NET_ACK_SEQUENCE_OFFSET = 6, // in an acknowledgement: the sequence number it acknowledges
    NET_FLAG_RELIABLE = 1,
    NET_MSG_ACK = 1,
    NET_ACK_SIZE = 10,          // header, type, acknowledged sequence number
    NET_RECEIVE_BUFFER = 2048,  // longer datagrams are dropped
    NET_MAX_CATCHUP_SENDS = 64, // resends of one copy per NetResendPending call after a long pause
};

// An IPv4 address (host byte order) or an IPv6 address (network byte order, with its scope), and
// a port in host byte order. IPv4 peers of a dual-stack socket are kept as IPv4 addresses.
struct NetAddr
{
    u32 Addr = 0;
    u16 Port = 0;
    u8 IsV6 = 0;
    u8 Addr6[16] = {};
    u32 Scope6 = 0;

    NetAddr() {}
    NetAddr(u32 addr, u16 port) : Addr(addr), Port(port) {}
    bool operator==(const NetAddr& o) const { return Compare(o) == 0; }
    bool operator!=(const NetAddr& o) const { return Compare(o) != 0; }
    // Ordered by family (IPv4 first), address, then port.
    bool operator<(const NetAddr& o) const { return Compare(o) < 0; }
    int Compare(const NetAddr& o) const;
    bool IsZero() const;
};

struct SNetResendRecord;

// A reliable datagram awaiting its acknowledgement, or a finished one.
struct SNetSendRecord
{
    u32 Sequence = 0;
    NetAddr To;                     // only its acknowledgement from there finishes it
    double Time = 0.0;              // last send
    u32 Attempts = 0;               // 1 after the first send
    SNetResendRecord* Resend = nullptr;
    SNetSendRecord* Prev = nullptr;
    SNetSendRecord* Next = nullptr;
};

// The kept copy of a reliable datagram, resent until it is acknowledged or given up.
struct SNetResendRecord
{
    NetAddr To;
    double Time = 0.0;
    TPodArray<u8> Data;
    SNetSendRecord* Sent = nullptr;
    SNetResendRecord* Prev = nullptr;
    SNetResendRecord* Next = nullptr;
};

class SNetSocket
{
public:
    int Socket = -1;                // -1 while not open
    int Family = 0;                 // the socket's address family
    u32 Sequence = 0;               // last sequence number sent; incremented before each send
    double Lifetime = 0.0;          // age after which a record without a resend copy is finished
    double ResendInterval = 0.0;    // must be > 0 before NetResendPending
    u32 RetryLimit = 0;             // sends after which a kept datagram is given up
    SNetSendRecord* SentRecords = nullptr;      // newest first
    SNetSendRecord* FinishedRecords = nullptr;  // newest first
    SNetResendRecord* ResendRecords = nullptr;  // newest first

    SNetSocket() {}
    virtual ~SNetSocket();
    // A datagram longer than NET_RECEIVE_BUFFER was dropped; the log says so.
    virtual void Dropped(const NetAddr& from, u32 size);
    SNetSocket(const SNetSocket&) = delete;
    SNetSocket& operator=(const SNetSocket&) = delete;
};

bool NetStartup();
void NetCleanup();

// The address a bound socket takes when none is named: other hosts cannot reach it.
extern const char* const NET_LOOPBACK_HOST;

// Opens a non-blocking UDP socket. With a port (a number or a service name; "0" picks a free one)
// it is bound on host, a numeric IPv4 or IPv6 address ("0.0.0.0" and "::" are every interface,
// "::" IPv4 peers included), or on NET_LOOPBACK_HOST when host is null; null port leaves it
// unbound (IPv4). Address reuse stays off, so a port that is taken fails here.
int NetOpen(SNetSocket& s, const char* port, const char* host = nullptr);
// Splits "PORT", "ADDRESS:PORT" or "[IPV6]:PORT" into its host (empty for "PORT") and port; 0 when
// the text has an empty port or host, or an unclosed bracket.
int NetSplitHostPort(const char* text, TString& host, TString& port);
// Asks for a receive buffer of bytes for the socket, past the system's cap where the process is
// privileged to; the size the system then reports (which counts its own bookkeeping), 0 when the
// socket is not open.
u32 NetSetReceiveBuffer(SNetSocket& s, u32 bytes);
// Closes the socket and frees all of its records.
void NetClose(SNetSocket& s);
// The port the socket is bound to (host order), 0 when it is not bound.
u16 NetGetPort(const SNetSocket& s);
// The address and port the socket is bound to; a zero address when it is not bound.
NetAddr NetGetAddress(const SNetSocket& s);

int NetSendTo(SNetSocket& s, const NetAddr& to, const TPodArray<u8>& packet);
int NetSend(SNetSocket& s, const NetAddr& to, const TPodArray<u8>& packet, bool reliable, bool keep, double now);
int NetReceive(SNetSocket& s, NetAddr& from, TPodArray<u8>& packet);
int NetPoll(SNetSocket& s, NetAddr& from, TPodArray<u8>& packet);
void NetResendPending(SNetSocket& s, double now);
// When NetResendPending next has work: the earliest resend of a kept copy or end of a record's
// lifetime, in the clock NetSend was given. 0 when no record is pending.
int NetNextDeadline(const SNetSocket& s, double& at);
// The oldest finished record into out (zeros when there is none); without peek it is removed with
// its resend copy, and out's resend link is then null. Returns 1 when there was a record.
int NetPopSendResult(SNetSocket& s, SNetSendRecord& out, bool peek);

// Forgets the oldest kept copy and its record (pending or finished); 0 when none is kept.
int NetDropOldestCopy(SNetSocket& s);

TString NetAddrToString(const NetAddr& a);
