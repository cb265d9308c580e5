// UDP datagram layer over BSD sockets.
#include "GameNet.h"

#include "GArchive.h"

#include <arpa/inet.h>
#include <climits>
#include <cmath>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
    // Intrusive doubly linked lists of the records, newest at the head.
    template <class T>
    void ListPushFront(T*& head, T* node)
    {
        node->Prev = nullptr;
        node->Next = head;
        if (head)
            head->Prev = node;
        head = node;
    }

    template <class T>
    void ListUnlink(T*& head, T* node)
    {
        if (node->Prev)
            node->Prev->Next = node->Next;
        else
            head = node->Next;
        if (node->Next)
            node->Next->Prev = node->Prev;
        node->Prev = node->Next = nullptr;
    }

    template <class T>
    void ListDeleteAll(T*& head)
    {
        while (head)
        {
            T* next = head->Next;
            delete head;
            head = next;
        }
    }

    const u8 V4_MAPPED_PREFIX[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

    // The address in the form a socket of the family takes; 0 when it cannot take it (an IPv6
    // address on an IPv4 socket). IPv4 addresses reach an IPv6 socket mapped.
    socklen_t FillSockAddr(sockaddr_storage& ss, int family, const NetAddr& a)
    {
        gMemSet(&ss, 0, sizeof(ss));
        if (family == AF_INET6)
        {
            sockaddr_in6& sa = (sockaddr_in6&)ss;
            sa.sin6_family = AF_INET6;
            sa.sin6_port = gSysHtons(a.Port);
            if (a.IsV6)
            {
                gMemCpy(sa.sin6_addr.s6_addr, a.Addr6, sizeof(a.Addr6));
                sa.sin6_scope_id = a.Scope6;
            }
            else
            {
                const u32 v4 = gSysHtonl(a.Addr);
                gMemCpy(sa.sin6_addr.s6_addr, V4_MAPPED_PREFIX, sizeof(V4_MAPPED_PREFIX));
                gMemCpy(sa.sin6_addr.s6_addr + sizeof(V4_MAPPED_PREFIX), &v4, sizeof(v4));
            }
            return sizeof(sa);
        }
        if (a.IsV6)
            return 0;
        sockaddr_in& sa = (sockaddr_in&)ss;
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = gSysHtonl(a.Addr);
        sa.sin_port = gSysHtons(a.Port);
        return sizeof(sa);
    }

    NetAddr FromSockAddr(const sockaddr_storage& ss)
    {
        NetAddr a;
        if (ss.ss_family == AF_INET)
        {
            const sockaddr_in& sa = (const sockaddr_in&)ss;
            a.Addr = gSysHtonl(sa.sin_addr.s_addr);
            a.Port = gSysHtons(sa.sin_port);
        }
        else if (ss.ss_family == AF_INET6)
        {
            const sockaddr_in6& sa = (const sockaddr_in6&)ss;
            a.Port = gSysHtons(sa.sin6_port);
            if (memcmp(sa.sin6_addr.s6_addr, V4_MAPPED_PREFIX, sizeof(V4_MAPPED_PREFIX)) == 0)
            {
                u32 v4 = 0;
                gMemCpy(&v4, sa.sin6_addr.s6_addr + sizeof(V4_MAPPED_PREFIX), sizeof(v4));
                a.Addr = gSysHtonl(v4);
            }
            else
            {
                a.IsV6 = 1;
                gMemCpy(a.Addr6, sa.sin6_addr.s6_addr, sizeof(a.Addr6));
                a.Scope6 = sa.sin6_scope_id;
            }
        }
        return a;
    }

    // Moves a sent record to the head of the finished records.
    void FinishRecord(SNetSocket& s, SNetSendRecord* r)
    {
        ListUnlink(s.SentRecords, r);
        ListPushFront(s.FinishedRecords, r);
    }
}

const char* const NET_LOOPBACK_HOST = "127.0.0.1";

int NetAddr::Compare(const NetAddr& o) const
{
    if (IsV6 != o.IsV6)
        return IsV6 < o.IsV6 ? -1 : 1;
    if (IsV6)
    {
        if (const int c = memcmp(Addr6, o.Addr6, sizeof(Addr6)))
            return c < 0 ? -1 : 1;
        if (Scope6 != o.Scope6)
            return Scope6 < o.Scope6 ? -1 : 1;
    }
    else if (Addr != o.Addr)
        return Addr < o.Addr ? -1 : 1;
    return Port == o.Port ? 0 : (Port < o.Port ? -1 : 1);
}

bool NetAddr::IsZero() const
{
    if (!IsV6)
        return Addr == 0;
    for (u8 b : Addr6)
        if (b)
            return false;
    return true;
}

SNetSocket::~SNetSocket()
{
    NetClose(*this);
}

void SNetSocket::Dropped(const NetAddr&, u32 size)
{
    LogPrintf("Dropped a datagram of %u bytes (the limit is %d)\n", size, (int)NET_RECEIVE_BUFFER);
}

bool NetStartup()
{
    // BSD sockets need no start-up.
    return true;
}

void NetCleanup()
{
}

int NetOpen(SNetSocket& s, const char* port, const char* host)
{
    int family = AF_INET;
    addrinfo* result = nullptr;
    if (port)
    {
        addrinfo hints;
        gMemSet(&hints, 0, sizeof(hints));
        // Numeric addresses only: a name lookup could hold the caller.
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_DGRAM;
        if (getaddrinfo(host ? host : NET_LOOPBACK_HOST, port, &hints, &result) != 0 || !result)
        {
            if (result)
                freeaddrinfo(result);
            errno = EADDRNOTAVAIL;
            return 0;
        }
        family = result->ai_family;
    }

    int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        if (result)
            freeaddrinfo(result);
        return 0;
    }

    if (result)
    {
        if (family == AF_INET6)
        {
            // "::" means every interface, IPv4 included, whatever the system's default.
            const int v6only = 0;
            setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof(v6only));
        }
        // No SO_REUSEADDR: on Linux it would let a second server share the port and hear nothing.
        int bound = bind(fd, result->ai_addr, result->ai_addrlen);
        freeaddrinfo(result);
        if (bound != 0)
        {
            close(fd);
            return 0;
        }
    }

    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
    {
        close(fd);
        return 0;
    }

    if (s.Socket >= 0)
        close(s.Socket);
    s.Socket = fd;
    s.Family = family;
    return 1;
}

u32 NetSetReceiveBuffer(SNetSocket& s, u32 bytes)
{
    if (s.Socket < 0)
        return 0;
    const int want = bytes > (u32)INT_MAX / 2 ? INT_MAX / 2 : (int)bytes;
    // The forced size passes the system's cap (net.core.rmem_max) but needs the network
    // administration capability; without it the plain request is held to the cap.
    if (setsockopt(s.Socket, SOL_SOCKET, SO_RCVBUFFORCE, &want, sizeof(want)) != 0)
        setsockopt(s.Socket, SOL_SOCKET, SO_RCVBUF, &want, sizeof(want));
    int got = 0;
    socklen_t length = sizeof(got);
    if (getsockopt(s.Socket, SOL_SOCKET, SO_RCVBUF, &got, &length) != 0 || got < 0)
        return 0;
    return (u32)got;
}

int NetSplitHostPort(const char* text, TString& host, TString& port)
{
    host = "";
    port = "";
    if (!text)
        return 0;
    const char* colon = nullptr;
    if (text[0] == '[')
    {
        const char* close = strchr(text, ']');
        if (!close || close[1] != ':')
            return 0;
        host.Assign(text + 1, (u32)(close - text - 1));
        colon = close + 1;
    }
    else if ((colon = strrchr(text, ':')) != nullptr)
        host.Assign(text, (u32)(colon - text));
    port = colon ? colon + 1 : text;
    return !port.IsEmpty() && (!colon || !host.IsEmpty());
}

void NetClose(SNetSocket& s)
{
    if (s.Socket >= 0)
        close(s.Socket);
    s.Socket = -1;
    s.Family = 0;
    ListDeleteAll(s.SentRecords);
    ListDeleteAll(s.FinishedRecords);
    ListDeleteAll(s.ResendRecords);
}

u16 NetGetPort(const SNetSocket& s)
{
    return NetGetAddress(s).Port;
}

NetAddr NetGetAddress(const SNetSocket& s)
{
    sockaddr_storage ss;
    socklen_t len = sizeof(ss);
    if (s.Socket < 0 || getsockname(s.Socket, (sockaddr*)&ss, &len) != 0)
        return NetAddr();
    return FromSockAddr(ss);
}

int NetSendTo(SNetSocket& s, const NetAddr& to, const TPodArray<u8>& packet)
{
    if (packet.Count() == 0 || to.IsZero() || to.Port == 0 || s.Socket < 0)
        return 0;
    sockaddr_storage sa;
    const socklen_t len = FillSockAddr(sa, s.Family ? s.Family : AF_INET, to);
    if (!len)
        return 0;
    ssize_t sent = sendto(s.Socket, packet.data, packet.Count(), MSG_NOSIGNAL, (const sockaddr*)&sa, len);
    return sent < 0 ? 0 : 1;
}

int NetSend(SNetSocket& s, const NetAddr& to, const TPodArray<u8>& packet, bool reliable, bool keep, double now)
{
    s.Sequence += 1;

    TPodArray<u8> copy(packet);
    if (copy.Count() < NET_HEADER_SIZE)
        copy.Resize(NET_HEADER_SIZE);
    FByteWriter header(copy, NET_SEQUENCE_OFFSET);
    u32 sequence = s.Sequence;
    u8 flags = reliable ? NET_FLAG_RELIABLE : 0;
    header.Serialize(&sequence, 1, sizeof(sequence));
    header.Serialize(&flags, 1, sizeof(flags));

    if (!NetSendTo(s, to, copy))
        return 0;

    if (reliable)
    {
        SNetSendRecord* r = new SNetSendRecord;
        r->Sequence = s.Sequence;
        r->To = to;
        r->Time = now;
        r->Attempts = 1;
        ListPushFront(s.SentRecords, r);
        if (keep)
        {
            SNetResendRecord* c = new SNetResendRecord;
            c->To = to;
            c->Time = now;
            c->Data = copy;
            c->Sent = r;
            r->Resend = c;
            ListPushFront(s.ResendRecords, c);
        }
    }
    return 1;
}

int NetReceive(SNetSocket& s, NetAddr& from, TPodArray<u8>& packet)
{
    if (s.Socket < 0)
        return 0;
    packet.Resize(NET_RECEIVE_BUFFER);

    // Empty and oversized datagrams are skipped; bounded, so a flood cannot hold the caller here.
    for (int attempt = 0; attempt < 64; ++attempt)
    {
        gMemSet(packet.data, 0, NET_RECEIVE_BUFFER);
        sockaddr_storage sa;
        socklen_t saLen = sizeof(sa);
        gMemSet(&sa, 0, sizeof(sa));
        // MSG_TRUNC makes the call report the datagram's real length, so a cut one is seen.
        ssize_t n = recvfrom(s.Socket, packet.data, NET_RECEIVE_BUFFER, MSG_TRUNC, (sockaddr*)&sa, &saLen);
        if (n < 0)
        {
            int err = errno;
            if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR)
                LogPrintf("NetReceive: recvfrom: %s\n", strerror(err));
            break;
        }
        if (n == 0)
            continue;
        if (n > NET_RECEIVE_BUFFER)
        {
            s.Dropped(FromSockAddr(sa), (u32)n);
            continue;
        }
        packet.Resize((u32)n);
        from = FromSockAddr(sa);
        return 1;
    }
    packet.Resize(0);
    return 0;
}

int NetPoll(SNetSocket& s, NetAddr& from, TPodArray<u8>& packet)
{
    if (!NetReceive(s, from, packet))
        return 0;

    // A datagram too short for the header is passed on as it is, never acknowledged.
    const u32 size = packet.Count();
    if (size < NET_HEADER_SIZE)
        return 1;

    FByteReader header(packet, NET_SEQUENCE_OFFSET);
    u32 sequence = 0;
    u8 flags = 0;
    header.Serialize(&sequence, 1, sizeof(sequence));
    header.Serialize(&flags, 1, sizeof(flags));
    if (flags & NET_FLAG_RELIABLE)
    {
        // The header's place is filled in by NetSend.
        TPodArray<u8> ack;
        ack.Resize(NET_ACK_SEQUENCE_OFFSET);
        gMemSet(ack.data, 0, NET_ACK_SEQUENCE_OFFSET);
        ack[NET_TYPE_OFFSET] = NET_MSG_ACK;
        FByteWriter body(ack, NET_ACK_SEQUENCE_OFFSET);
        body.Serialize(&sequence, 1, sizeof(sequence));
        NetSend(s, from, ack, false, false, 0.0);
    }
    else if (size >= NET_ACK_SIZE && packet[NET_TYPE_OFFSET] == NET_MSG_ACK)
    {
        FByteReader body(packet, NET_ACK_SEQUENCE_OFFSET);
        u32 seq = 0;
        body.Serialize(&seq, 1, sizeof(seq));
        // Sequences are ours alone, not the peer's: anyone can name them.
        for (SNetSendRecord* r = s.SentRecords; r; r = r->Next)
        {
            if (r->Sequence == seq && r->To == from)
            {
                FinishRecord(s, r);
                break;
            }
        }
    }
    return 1;
}

void NetResendPending(SNetSocket& s, double now)
{
    if (BREAK_IF(s.ResendInterval <= 0))
        return;
    // An infinite or undefined time would resend without end.
    if (!std::isfinite(now))
        return;

    SNetSendRecord* next = nullptr;
    for (SNetSendRecord* r = s.SentRecords; r; r = next)
    {
        next = r->Next;
        if (SNetResendRecord* c = r->Resend)
        {
            u32 sends = 0;
            while (now - c->Time >= s.ResendInterval)
            {
                if (r->Attempts >= s.RetryLimit)
                {
                    FinishRecord(s, r);
                    break;
                }
                if (sends == NET_MAX_CATCHUP_SENDS)
                {
                    // Far behind (or an interval below the clock's precision): skip the rest of
                    // the missed intervals, keeping the rhythm where the clock allows it.
                    const double behind = std::fmod(now - c->Time, s.ResendInterval);
                    c->Time = now - behind;
                    if (now - c->Time >= s.ResendInterval)
                        c->Time = now;
                    break;
                }
                NetSendTo(s, c->To, c->Data);
                ++sends;
                c->Time += s.ResendInterval;
                r->Time = now;
                r->Attempts += 1;
                if (r->Attempts >= s.RetryLimit)
                {
                    FinishRecord(s, r);
                    break;
                }
            }
        }
        else if (now - r->Time >= s.Lifetime)
        {
            FinishRecord(s, r);
        }
    }
}

int NetNextDeadline(const SNetSocket& s, double& at)
{
    int found = 0;
    for (const SNetSendRecord* r = s.SentRecords; r; r = r->Next)
    {
        // Without a valid interval NetResendPending does nothing, so kept copies are not due.
        if (r->Resend && !(s.ResendInterval > 0))
            continue;
        const double due = r->Resend ? r->Resend->Time + s.ResendInterval : r->Time + s.Lifetime;
        if (!found || due < at)
            at = due;
        found = 1;
    }
    return found;
}

int NetPopSendResult(SNetSocket& s, SNetSendRecord& out, bool peek)
{
    out.Sequence = 0;
    out.To = NetAddr();
    out.Time = 0.0;
    out.Attempts = 0;
    out.Resend = nullptr;
    out.Prev = out.Next = nullptr;

    SNetSendRecord* oldest = s.FinishedRecords;
    if (!oldest)
        return 0;
    while (oldest->Next)
        oldest = oldest->Next;

    out.Sequence = oldest->Sequence;
    out.To = oldest->To;
    out.Time = oldest->Time;
    out.Attempts = oldest->Attempts;
    if (peek)
    {
        out.Resend = oldest->Resend;
        return 1;
    }

    ListUnlink(s.FinishedRecords, oldest);
    if (SNetResendRecord* c = oldest->Resend)
    {
        ListUnlink(s.ResendRecords, c);
        delete c;
    }
    delete oldest;
    return 1;
}

int NetDropOldestCopy(SNetSocket& s)
{
    SNetResendRecord* c = s.ResendRecords;
    if (!c)
        return 0;
    while (c->Next)
        c = c->Next;
    ListUnlink(s.ResendRecords, c);
    if (SNetSendRecord* r = c->Sent)
    {
        bool finished = false;
        for (const SNetSendRecord* f = s.FinishedRecords; f && !finished; f = f->Next)
            finished = f == r;
        ListUnlink(finished ? s.FinishedRecords : s.SentRecords, r);
        delete r;
    }
    delete c;
    return 1;
}

TString NetAddrToString(const NetAddr& a)
{
    TString out;
    if (a.IsV6)
    {
        char text[INET6_ADDRSTRLEN] = "";
        inet_ntop(AF_INET6, a.Addr6, text, sizeof(text));
        out.Format(INET6_ADDRSTRLEN + 16, "[%s]:%u", text, (unsigned)a.Port);
        return out;
    }
    out.Format(64, "%u.%u.%u.%u:%u", (a.Addr >> 24) & 255u, (a.Addr >> 16) & 255u, (a.Addr >> 8) & 255u, a.Addr & 255u,
               (unsigned)a.Port);
    return out;
}
