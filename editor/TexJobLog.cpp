#include "TexJobLog.h"

#include "GameConsole.h"
#include "GameText.h"

namespace
{
const double LOG_SECOND = 1.0;
const u32 LOG_REASON_MAX = 1024; // a reason's characters in its line; the rest is cut

const char* const OUTCOME_WORDS[JOB_LOG_OUTCOMES] = {"processed", "refused", "failed"};

// "N more jobs from WHO: A processed, B refused", naming only the outcomes there were.
void PrintHeldOutcomes(const char* who, const u64* held)
{
    u64 total = 0;
    TString parts;
    for (u32 o = 0; o < JOB_LOG_OUTCOMES; ++o)
    {
        if (!held[o])
            continue;
        total += held[o];
        TString part;
        part.Format(64, "%s%llu %s", parts.IsEmpty() ? "" : ", ", (unsigned long long)held[o], OUTCOME_WORDS[o]);
        parts += part;
    }
    if (total)
        ConsolePrintf("%llu more jobs from %s: %s", (unsigned long long)total, who, parts.Str());
}
} // namespace

void SJobLog::StartSecond(double now)
{
    Summarise(now);
    if (!Started)
    {
        Started = true;
        SecondStart = now;
    }
}

bool SJobLog::Admit(u32 kind, const NetAddr& from, double now, bool counted)
{
    StartSecond(now);
    if (kind < JOB_LOG_KINDS && !Seen[kind])
    {
        Seen[kind] = 1;
        ++Shown[0];
        return true;
    }
    if (Shown[0] < JOB_LOG_LINES_PER_SECOND)
    {
        ++Shown[0];
        return true;
    }
    if (!counted)
        return false;
    for (u32 i = 0; i < NamedCount; ++i)
        if (Named[i].From == from)
        {
            ++Named[i].Count;
            return false;
        }
    if (NamedCount < JOB_LOG_NAMED_SENDERS)
    {
        Named[NamedCount].From = from;
        Named[NamedCount++].Count = 1;
    }
    else
        ++Others;
    return false;
}

bool SJobLog::AdmitOutcome(EJobLogOutcome outcome, const NetAddr& from)
{
    SSenderOutcomes* sender = nullptr;
    for (u32 i = 0; i < OutcomeSenders && !sender; ++i)
        if (Outcomes[i].From == from)
            sender = &Outcomes[i];
    // A sender's first outcome in a second shows whatever the others sent.
    if (!sender && OutcomeSenders < JOB_LOG_OUTCOME_SENDERS)
    {
        sender = &Outcomes[OutcomeSenders++];
        sender->From = from;
        for (u64& held : sender->Held)
            held = 0;
        return true;
    }
    if (Shown[1] < JOB_LOG_LINES_PER_SECOND)
    {
        ++Shown[1];
        return true;
    }
    ++(sender ? sender->Held : OthersOutcomes)[outcome];
    OutcomesHeld = true;
    return false;
}

void SJobLog::Outcome(EJobLogOutcome outcome, const NetAddr& from, double now, const char* path, u32 pathLength,
                      const char* reason)
{
    StartSecond(now);
    if (!AdmitOutcome(outcome, from))
        return;
    const TString address = NetAddrToString(from);
    const TString shownPath = LogLineText(path, pathLength);
    if (outcome == JOB_LOG_PROCESSED)
    {
        ConsolePrintf("%s %s", address.Str(), TextWithArg("MSG_JobProcessed", shownPath.Str()).Str());
        return;
    }
    TString shownReason = LogLineText(reason ? reason : "", reason ? (u32)strlen(reason) : 0);
    if (shownReason.Length() > LOG_REASON_MAX)
        shownReason.SetLength(LOG_REASON_MAX);
    ConsolePrintf("%s Job: \"%s\" %s: %s", address.Str(), shownPath.Str(), OUTCOME_WORDS[outcome], shownReason.Str());
}

void SJobLog::Summarise(double now)
{
    if (Started && now - SecondStart >= LOG_SECOND)
        Flush();
}

void SJobLog::Flush()
{
    for (u32 i = 0; i < NamedCount; ++i)
        ConsolePrintf("%llu more datagrams from %s", (unsigned long long)Named[i].Count,
                      NetAddrToString(Named[i].From).Str());
    if (Others)
        ConsolePrintf("%llu more datagrams from other senders", (unsigned long long)Others);
    for (u32 i = 0; i < OutcomeSenders && OutcomesHeld; ++i)
        PrintHeldOutcomes(NetAddrToString(Outcomes[i].From).Str(), Outcomes[i].Held);
    PrintHeldOutcomes("other senders", OthersOutcomes);
    for (u64& held : OthersOutcomes)
        held = 0;
    NamedCount = 0;
    Others = 0;
    OutcomeSenders = 0;
    OutcomesHeld = false;
    Shown[0] = Shown[1] = 0;
    Started = false;
}

double SJobLog::SummaryDue() const
{
    return NamedCount || Others || OutcomesHeld ? SecondStart + LOG_SECOND : -1.0;
}
