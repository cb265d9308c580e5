// The job server's lines under a flood. Lines about datagrams: the first line of each kind always
// shows; after it at most JOB_LOG_LINES_PER_SECOND show in a second, and the datagrams whose lines
// were held back are told once the second is over, as "N more datagrams from ADDRESS". Lines
// about jobs' outcomes: each sender's first outcome in a second always shows, so that no sender's
// jobs hide another's, and at most JOB_LOG_LINES_PER_SECOND more; every outcome held back is
// counted by sender and outcome and told once the second is over, as
// "N more jobs from ADDRESS: A processed, B refused, C failed".
#pragma once

#include "GameNet.h"

enum
{
    JOB_LOG_LINES_PER_SECOND = 4, // of each class
    JOB_LOG_NAMED_SENDERS = 4,    // named in a second's datagram summary; the others are told together
    JOB_LOG_OUTCOME_SENDERS = 64, // with outcomes of their own in a second; the others are told together
};

// Kinds of datagram lines: a datagram's type (0 to 255), then these.
enum EJobLogKind
{
    JOB_LOG_OVERSIZED = 256, // a datagram too long to be received
    JOB_LOG_KINDS
};

// Outcomes of jobs, as their lines and summaries name them.
enum EJobLogOutcome
{
    JOB_LOG_PROCESSED, // done; reply 0
    JOB_LOG_REFUSED,   // the document was refused or did not load; reply 1
    JOB_LOG_FAILED,    // loaded, but an output or the texture budget failed; reply 2
    JOB_LOG_OUTCOMES
};

class SJobLog
{
public:
    // Whether a line of the kind about a datagram from sender may show at now (seconds). When
    // not, and counted is set, the datagram is counted for the sender's summary.
    bool Admit(u32 kind, const NetAddr& from, double now, bool counted);
    // The outcome of a job from sender: its line (path and reason are the client's bytes or
    // carry them, and are printed escaped), or a count in the second's summary.
    void Outcome(EJobLogOutcome outcome, const NetAddr& from, double now, const char* path, u32 pathLength,
                 const char* reason);
    // Prints the summaries of what was held back once their second is over.
    void Summarise(double now);
    // Prints them now (the server is closing).
    void Flush();
    // When the next summary is due; a negative time when nothing is held.
    double SummaryDue() const;

private:
    struct SHeld
    {
        NetAddr From;
        u64 Count = 0;
    };
    struct SSenderOutcomes
    {
        NetAddr From;
        u64 Held[JOB_LOG_OUTCOMES] = {};
    };
    double SecondStart = 0.0;
    bool Started = false;
    u32 Shown[2] = {}; // lines about datagrams, about jobs beyond each sender's first
    u8 Seen[JOB_LOG_KINDS] = {};
    SHeld Named[JOB_LOG_NAMED_SENDERS];
    u32 NamedCount = 0;
    u64 Others = 0;
    SSenderOutcomes Outcomes[JOB_LOG_OUTCOME_SENDERS]; // senders with an outcome this second
    u32 OutcomeSenders = 0;
    u64 OthersOutcomes[JOB_LOG_OUTCOMES] = {};
    bool OutcomesHeld = false;

    void StartSecond(double now);
    // Whether an outcome of sender may show now; else it is counted.
    bool AdmitOutcome(EJobLogOutcome outcome, const NetAddr& from);
};
