#include "TexJobServer.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "GameConsole.h"
#include "GameCore.h"
#include "GameFileAccess.h"
#include "GameFileIO.h"
#include "GameMemoryRoom.h"
#include "GameText.h"
#include "GameWindow.h"
#include "TexDocPath.h"
#include "TexDocumentOutcome.h"
#include "TexDocumentRecovery.h"
#include "TexProcessor.h"

SJobServer* GJobServer = nullptr;

namespace
{
const double JOB_LIFETIME = 5000.0;
const double JOB_RESEND_INTERVAL = 100.0;
const u32 JOB_FIRST_SEQUENCE = 0xFFFFFFFFu; // the first datagram sent carries 0

// The system would read a service name ("ntp") and wrap a number past 65535: a port to listen on
// is a plain number up to 65535 (0 takes any free port, which the start message then names).
const u32 JOB_PORT_MAX = 65535;
const u32 JOB_PORT_MAX_DIGITS = 5;

bool IsPortNumber(const TString& port)
{
    u32 value = 0;
    const char* text = port.Str();
    for (u32 i = 0; i < port.Length(); ++i)
    {
        if (!gIsDigit((u8)text[i]) || i >= JOB_PORT_MAX_DIGITS)
            return false;
        value = value * 10 + (u32)(text[i] - '0');
    }
    return !port.IsEmpty() && value <= JOB_PORT_MAX;
}

u32 ReadBE16(const u8* p)
{
    return (u32)p[0] << 8 | p[1];
}

u32 KeptReplies(const SNetSocket& s)
{
    u32 n = 0;
    for (const SNetResendRecord* r = s.ResendRecords; r; r = r->Next)
        ++n;
    return n;
}

void Reply(SJobServer& server, const NetAddr& to, EJobStatus status, double now)
{
    TPodArray<u8> packet;
    packet.Resize(JOB_REPLY_SIZE);
    for (u32 i = 0; i < JOB_REPLY_SIZE; ++i)
        packet[i] = 0;
    packet[NET_TYPE_OFFSET] = JOB_MSG_REPLY;
    packet[JOB_STATUS_OFFSET] = (u8)status;
    // Kept copies are bounded; clients that never acknowledge must not cost the others their
    // reliable replies, so the oldest copy gives way.
    while (KeptReplies(server) >= JOB_MAX_KEPT_REPLIES && NetDropOldestCopy(server))
    {
    }
    NetSend(server, to, packet, true, true, now);
}

void RunJob(SJobServer& server, const NetAddr& from, const TPodArray<u8>& bytes, double now)
{
    TString path;
    if (!bytes.IsEmpty())
        path.Assign((const char*)bytes.data, bytes.Count());
    // A path with a zero byte names no file; its text would name another one.
    const bool clean = strlen(path.Str()) == bytes.Count();
    TString reason;
    EJobStatus status = JOB_LoadFailed;
    if (!clean)
        reason = "its path holds a zero byte";
    else if (bytes.IsEmpty())
        // Taken from the working folder, it would name that folder.
        reason = "its path is empty";
    else
    {
        // Resolved once: the runner checks and loads exactly this path.
        path = PathInFolder(server.WorkFolder, path);
        if (server.Runner)
            status = server.Runner(path.Str(), reason);
    }
    const EJobLogOutcome outcome = status == JOB_Done       ? JOB_LOG_PROCESSED
                                   : status == JOB_LoadFailed ? JOB_LOG_REFUSED
                                                              : JOB_LOG_FAILED;
    if (outcome != JOB_LOG_PROCESSED && reason.IsEmpty())
        reason = outcome == JOB_LOG_REFUSED ? "the document did not load" : "an output failed";
    if (clean)
        server.Log.Outcome(outcome, from, now, path.Str(), path.Length(), reason.Str());
    else
        server.Log.Outcome(outcome, from, now, (const char*)bytes.data, bytes.Count(), reason.Str());
    Reply(server, from, status, now);
}

void HandleDatagram(SJobServer& server, const NetAddr& from, const TPodArray<u8>& packet, double now)
{
    if (packet.Count() < JOB_MIN_DATAGRAM)
        return;
    const u32 type = packet[NET_TYPE_OFFSET];
    const bool shown = server.Log.Admit(type, from, now, true);
    if (shown)
        ConsolePrintf("%s >> %u", NetAddrToString(from).Str(), type);
    switch (type)
    {
    case JOB_MSG_TEST:
        if (shown)
            ConsolePrintf("%s", GTextDict.Get("MSG_NetworkTest").Str());
        break;
    case JOB_MSG_BEGIN:
    case JOB_MSG_CHUNK:
    {
        TPodArray<u8> path;
        if (server.Jobs.Take(from, packet.data, packet.Count(), now, path))
            RunJob(server, from, path, now);
        break;
    }
    case JOB_MSG_QUIT:
        // A client ending the program must not take the editor's unsaved edits with it.
        if (KeepEditsUnasked("Quit"))
            GQuitFlag = 1;
        else
            ConsolePrintf("Quit: refused, so that the unsaved edits are not lost");
        break;
    default: break;
    }
}
} // namespace

// ---------------------------------------------------------------------------------------------
// Path assembly

int SJobAssembler::Take(const NetAddr& from, const u8* data, u32 size, double now, TPodArray<u8>& path)
{
    if (!data || size < JOB_MIN_DATAGRAM)
        return 0;
    const u32 type = data[NET_TYPE_OFFSET];
    if (TMap<NetAddr, SPending>::Node* known = Senders.Find(from))
        known->value.LastHeard = ++Heard;
    if (type == JOB_MSG_BEGIN)
    {
        if (size < JOB_BEGIN_SIZE)
            return 0;
        const u32 length = ReadBE16(data + JOB_LENGTH_OFFSET);
        // A refused begin still ends the sender's earlier path: a later chunk must not run it.
        if (length == 0 || length > JOB_MAX_PATH)
        {
            Senders.Remove(from);
            // An empty path lacks no byte: it is complete, and its job is refused with a reply.
            path.Resize(0);
            return length == 0;
        }
        TMap<NetAddr, SPending>::Node* node = Senders.Find(from);
        if (!node)
        {
            // Senders that never finish must not lock the others out: one path gives way.
            if (Senders.Count() >= JOB_MAX_SENDERS)
                DropLeastAdvanced();
            Senders.Insert(from, SPending());
            node = Senders.Find(from);
            node->value.LastHeard = ++Heard;
        }
        SPending& p = node->value;
        p.Bytes.Resize(length);
        p.Have.Resize(length);
        for (u32 i = 0; i < length; ++i)
            p.Bytes[i] = p.Have[i] = 0;
        p.Missing = length;
        p.Started = now;
        return 0;
    }
    if (type != JOB_MSG_CHUNK || size < JOB_CHUNK_DATA_OFFSET)
        return 0;
    TMap<NetAddr, SPending>::Node* node = Senders.Find(from);
    if (!node)
        return 0;
    SPending& p = node->value;
    const u32 first = ReadBE16(data + JOB_FIRST_OFFSET);
    const u32 last = ReadBE16(data + JOB_LAST_OFFSET);
    if (first > last || last >= p.Bytes.Count() || size - JOB_CHUNK_DATA_OFFSET < last - first + 1)
        return 0;
    for (u32 i = first; i <= last; ++i)
    {
        p.Bytes[i] = data[JOB_CHUNK_DATA_OFFSET + i - first];
        if (!p.Have[i])
        {
            p.Have[i] = 1;
            --p.Missing;
        }
    }
    if (p.Missing)
        return 0;
    path = p.Bytes;
    Senders.Remove(from);
    return 1;
}

void SJobAssembler::DropLeastAdvanced()
{
    // Senders that only repeat begins are always recent; a path whose bytes are arriving must
    // outlast them, so the paths without a byte go first, whatever their senders' recency.
    TMap<NetAddr, SPending>::Iterator it(Senders);
    TMap<NetAddr, SPending>::Node* victim = nullptr;
    bool victimStarted = true;
    for (TMap<NetAddr, SPending>::Node* n = it.current; n; n = it.Next())
    {
        const bool started = n->value.Missing < n->value.Bytes.Count();
        if (!victim || (victimStarted && !started) ||
            (started == victimStarted && n->value.LastHeard < victim->value.LastHeard))
        {
            victim = n;
            victimStarted = started;
        }
    }
    if (victim)
    {
        const NetAddr key = victim->key;
        Senders.Remove(key);
    }
}

void SJobAssembler::Expire(double now)
{
    TPodArray<NetAddr> old;
    TMap<NetAddr, SPending>::Iterator it(Senders);
    for (TMap<NetAddr, SPending>::Node* n = it.current; n; n = it.Next())
        if (now - n->value.Started > JOB_SENDER_EXPIRY)
            old.Add(n->key);
    for (u32 i = 0; i < old.Count(); ++i)
        Senders.Remove(old[i]);
}

// ---------------------------------------------------------------------------------------------
// Server

SJobServer::SJobServer() : Runner(&RunJobDocument), MaxDatagramsPerPoll(JOB_MAX_DATAGRAMS_PER_POLL) {}

void SJobServer::Dropped(const NetAddr& from, u32 size)
{
    if (Log.Admit(JOB_LOG_OVERSIZED, from, PollTime, true))
        ConsolePrintf("%s: dropped a datagram of %u bytes (the limit is %d)", NetAddrToString(from).Str(), size,
                      (int)NET_RECEIVE_BUFFER);
}

int StartJobServer(SJobServer& server, const char* listen, TString& failure)
{
    server.Lifetime = JOB_LIFETIME;
    server.ResendInterval = JOB_RESEND_INTERVAL;
    server.RetryLimit = JOB_REPLY_SENDS;
    server.Sequence = JOB_FIRST_SEQUENCE;
    server.Jobs.Clear();
    server.WorkFolder = AppWorkingFolder();
    TString host, port;
    const char* reason = nullptr;
    if (!NetSplitHostPort(listen, host, port))
        reason = "not PORT, ADDRESS:PORT or [ADDRESS]:PORT";
    else if (!IsPortNumber(port))
        reason = "the port is not a number from 0 (any free port) to 65535";
    // A port alone stays on loopback: a job names files to read and write on this machine.
    else if (!NetOpen(server, port.Str(), host.IsEmpty() ? nullptr : host.Str()))
        reason = strerror(errno);
    if (reason)
    {
        failure = TextWithArg("MSG_ServerInitFail", listen ? listen : "");
        failure += ": ";
        failure += reason;
        return 0;
    }
    NetSetReceiveBuffer(server, JOB_RECEIVE_BUFFER);
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    ConsolePrintf("%s", TextWithArg("MSG_ServerInitSuccess", NetAddrToString(NetGetAddress(server)).Str()).Str());
    return 1;
}

SJobServer* OpenJobServer(const char* listen, TString& failure)
{
    SJobServer* server = new SJobServer;
    if (!StartJobServer(*server, listen, failure))
    {
        delete server;
        return nullptr;
    }
    return server;
}

void SetJobServer(SJobServer* server)
{
    if (GJobServer && GJobServer != server)
    {
        GJobServer->Log.Flush();
        GJobServer->Jobs.Clear();
        NetClose(*GJobServer);
        delete GJobServer;
    }
    GJobServer = server;
}

void PollJobServerAt(SJobServer& server, double now)
{
    NetResendPending(server, now);
    // Every finished record goes, not one per tick, so that acknowledged replies never pile up.
    SNetSendRecord finished;
    while (NetPopSendResult(server, finished, false))
    {
    }
    server.Jobs.Expire(now);
    server.Log.Summarise(now);
    server.PollTime = now;
    NetAddr from;
    TPodArray<u8> packet;
    for (u32 n = 0; n < server.MaxDatagramsPerPoll && NetPoll(server, from, packet); ++n)
        HandleDatagram(server, from, packet, now);
}

void PollJobServer(SJobServer& server)
{
    PollJobServerAt(server, gSysGetTime());
}

// ---------------------------------------------------------------------------------------------
// Running a job

EJobStatus RunJobDocument(const char* path, TString& reason)
{
    if (!GProcessor)
        return JOB_LoadFailed;
    // Every user of the machine can reach the server, not only its own: a document that another
    // could have written would read and write files as the server's user, and so would one reached
    // through a link or a folder another user may change. Only a regular file is read, too: a FIFO
    // or a device would hold the tick forever. The name without links is what gets loaded, so that
    // nobody else can point it at another file in the meantime.
    TString document;
    bool refused;
    const int fd = OpenFileToRead(path, READ_OwnerOnly, document, reason, refused);
    if (fd < 0)
        return JOB_LoadFailed;
    struct stat st;
    if (fstat(fd, &st) != 0)
        reason = strerror(errno);
    else if ((u64)st.st_size > JOB_MAX_DOCUMENT_BYTES)
        reason.Format(64, "larger than %llu bytes", (unsigned long long)JOB_MAX_DOCUMENT_BYTES);
    close(fd);
    if (!reason.IsEmpty())
        return JOB_LoadFailed;
    path = document.Str();
    // The GL driver does not survive running out of memory: a job the room left cannot hold fails
    // before it begins, and the server goes on.
    reason = MEM_Shortfall(0);
    if (!reason.IsEmpty())
        return JOB_OutputFailed;
    if (GProcessor->Edited && !KeepUnsavedEdits("Job", path))
    {
        reason = "so that the unsaved edits are not lost";
        return JOB_LoadFailed;
    }
    // Without a window nobody looks at the job's previews: its spent outputs can go as it runs.
    const u32 lean = GProcessor->ReleaseSpentOutputs;
    if (!GWindow || (GWindowSystem && GWindowSystem->IsOffscreen()))
        GProcessor->ReleaseSpentOutputs = 1;
    int loaded;
    {
        // What the document brings in could have been written by anyone too.
        TDocOwnerRule ownersOnly;
        loaded = GProcessor->LoadDocument(path, 1, 1);
    }
    GProcessor->ReleaseSpentOutputs = lean;
    if (!loaded)
    {
        reason = DocumentBudgetText(DocumentBudgetSpent());
        return JOB_LoadFailed;
    }
    return BatchExitCode(loaded, *GProcessor, &reason) == BATCH_EXIT_OUTPUT_FAILED ? JOB_OutputFailed : JOB_Done;
}
