// The job server: other programs send the path of a document in numbered chunks over UDP; when a
// path is complete the document replaces the edited graph, is processed (its output nodes write
// their files) and the sender gets a reply that tells the outcome. At most one runs (GJobServer),
// opened from the command line or the File menu, polled once per tick on the main thread.
#pragma once

#include "GameNet.h"
#include "TexDocument.h"
#include "TexJobLog.h"

// Message types (byte NET_TYPE_OFFSET) and their fields; multi-byte values are big-endian.
enum
{
    JOB_MSG_BEGIN = 10, // total length (uint16) at JOB_LENGTH_OFFSET
    JOB_MSG_CHUNK = 11, // first and last index (uint16), then the bytes first..last
    JOB_MSG_REPLY = 12, // server to client, reliable; the outcome at JOB_STATUS_OFFSET
    JOB_MSG_QUIT = 50,
    JOB_MSG_TEST = 167,

    JOB_MIN_DATAGRAM = NET_TYPE_OFFSET + 1,
    JOB_LENGTH_OFFSET = 6,
    JOB_BEGIN_SIZE = JOB_LENGTH_OFFSET + 2,
    JOB_FIRST_OFFSET = 6,
    JOB_LAST_OFFSET = 8,
    JOB_CHUNK_DATA_OFFSET = 10,
    JOB_STATUS_OFFSET = 6,
    JOB_REPLY_SIZE = JOB_STATUS_OFFSET + 1,

    JOB_MAX_PATH = 4096,              // longer announced paths are refused
    JOB_MAX_SENDERS = 64,             // paths assembled at once; a further sender takes a place
    JOB_MAX_DATAGRAMS_PER_POLL = 256, // the rest waits for the next tick
    JOB_REPLY_SENDS = 30,             // sends of an unacknowledged reply before it is given up
    JOB_MAX_KEPT_REPLIES = 256,       // beyond it the oldest kept reply is given up
    // Datagrams the socket holds between polls, so that a flood does not make the system drop
    // real clients' datagrams while a job runs (the system's cap may hold it lower).
    JOB_RECEIVE_BUFFER = 4 << 20,
};

// The outcome a reply carries.
enum EJobStatus
{
    JOB_Done = 0,
    JOB_LoadFailed = 1,   // the path names no readable document, or it does not load
    JOB_OutputFailed = 2, // loaded and processed, but a file-writing node failed
};

// Seconds an unfinished path is kept after its job begin.
static const double JOB_SENDER_EXPIRY = 60.0;
// Documents larger than this are not read: what one load may read in all.
static const u64 JOB_MAX_DOCUMENT_BYTES = DOC_MAX_LOAD_BYTES;

// The paths being assembled, one per sender, from job-begin and chunk datagrams.
class SJobAssembler
{
public:
    struct SPending
    {
        TPodArray<u8> Bytes;
        TPodArray<u8> Have; // per byte: received
        u32 Missing = 0;
        double Started = 0.0;
        u64 LastHeard = 0; // the order of the sender's last datagram among all taken
    };

    // Takes a datagram of type JOB_MSG_BEGIN or JOB_MSG_CHUNK (others change nothing). Returns 1
    // with the path in path when the datagram completed one; the sender's entry is then gone.
    // A begin of zero length is a complete empty path. A begin of zero or oversized length
    // drops the sender's unfinished path. A new sender beyond
    // the cap takes the place of a path that has no byte yet, the one heard from longest ago;
    // only when every path has bytes does the one heard from longest ago go. Datagrams too short
    // for their fields, chunks outside the announced length or without a begin, and first > last
    // change nothing but the time the sender was last heard from.
    int Take(const NetAddr& from, const u8* data, u32 size, double now, TPodArray<u8>& path);
    // Drops the entries begun more than JOB_SENDER_EXPIRY seconds before now.
    void Expire(double now);
    u32 SenderCount() const { return Senders.Count(); }
    void Clear() { Senders.Clear(); }

private:
    TMap<NetAddr, SPending> Senders;
    u64 Heard = 0;

    void DropLeastAdvanced();
};

// Loads and processes the document of a job; the outcome for the reply, and in reason why a
// document was refused or what failed.
typedef EJobStatus (*TJobRunner)(const char* path, TString& reason);

class SJobServer : public SNetSocket
{
public:
    SJobAssembler Jobs;
    TJobRunner Runner;
    TString WorkFolder; // relative job paths are taken from here: the working folder at start
    u32 MaxDatagramsPerPoll;
    SJobLog Log;
    double PollTime = 0.0; // of the poll under way

    SJobServer();
    void Dropped(const NetAddr& from, u32 size) override;
};

extern SJobServer* GJobServer;

// The job settings on server and its socket opened where listen says: "PORT" on loopback,
// "ADDRESS:PORT" or "[IPV6]:PORT" on that address, PORT a number up to 65535 (0: any free one).
// 1, with the console opened and "MSG_ServerInitSuccess" printed with the address and port bound;
// else 0 with the text of "MSG_ServerInitFail" and the reason in failure.
int StartJobServer(SJobServer& server, const char* listen, TString& failure);
// A new server started as StartJobServer does; null (with failure) when it cannot listen.
SJobServer* OpenJobServer(const char* listen, TString& failure);
// Closes and deletes the current server, if any, and makes server (possibly null) current.
void SetJobServer(SJobServer* server);
// One tick: resends and finished replies, expired paths, then at most JOB_MAX_DATAGRAMS_PER_POLL
// datagrams. A completed path, taken from WorkFolder when relative, goes to the server's runner
// and the sender gets the reply.
void PollJobServer(SJobServer& server);
void PollJobServerAt(SJobServer& server, double now);

// The runner of the program: the path must name a regular file of at most JOB_MAX_DOCUMENT_BYTES
// that only the server's user may change (READ_OwnerOnly, GameFileAccess.h); unsaved edits are first
// written to RecoveryPath (the job is refused when that fails); then the document replaces the
// edited graph quietly and is processed. reason tells why a document was refused, or what failed
// (failed outputs, the texture budget) when the outcome is JOB_OutputFailed.
EJobStatus RunJobDocument(const char* path, TString& reason);
