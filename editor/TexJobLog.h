// The job server's lines under a flood. The first line of each kind always shows; after it at
// most JOB_LOG_LINES_PER_SECOND lines about datagrams, and as many about jobs' outcomes, show in a
// second, and the datagrams whose lines were held back are told once the second is over, as
// "N more datagrams from ADDRESS".
#pragma once

#include "GameNet.h"

enum
{
    JOB_LOG_LINES_PER_SECOND = 4, // of each class
    JOB_LOG_NAMED_SENDERS = 4,    // named in a second's summary; the others are told together
};

// Kinds of lines: a datagram's type (0 to 255), then these.
enum EJobLogKind
{
    JOB_LOG_OVERSIZED = 256, // a datagram too long to be received
    JOB_LOG_DONE,            // a job processed; from here on the class of jobs' outcomes
    JOB_LOG_REFUSED,         // a job refused, with the reason
    JOB_LOG_KINDS
};

class SJobLog
{
public:
    // Whether a line of the kind about a datagram from sender may show at now (seconds). When
    // not, and counted is set, the datagram is counted for the sender's summary.
    bool Admit(u32 kind, const NetAddr& from, double now, bool counted);
    // Prints the summary of the held datagrams once their second is over.
    void Summarise(double now);
    // Prints it now (the server is closing).
    void Flush();
    // When the next summary is due; a negative time when nothing is held.
    double SummaryDue() const;

private:
    struct SHeld
    {
        NetAddr From;
        u64 Count = 0;
    };
    double SecondStart = 0.0;
    bool Started = false;
    u32 Shown[2] = {}; // lines about datagrams, about jobs
    u8 Seen[JOB_LOG_KINDS] = {};
    SHeld Named[JOB_LOG_NAMED_SENDERS];
    u32 NamedCount = 0;
    u64 Others = 0;
};
