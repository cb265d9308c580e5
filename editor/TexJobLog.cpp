#include "TexJobLog.h"

#include "GameConsole.h"

namespace
{
const double LOG_SECOND = 1.0;
}

bool SJobLog::Admit(u32 kind, const NetAddr& from, double now, bool counted)
{
    Summarise(now);
    if (!Started)
    {
        Started = true;
        SecondStart = now;
    }
    // A client's jobs must not go untold for the datagrams that carried them.
    u32& shown = Shown[kind >= JOB_LOG_DONE ? 1 : 0];
    if (kind < JOB_LOG_KINDS && !Seen[kind])
    {
        Seen[kind] = 1;
        ++shown;
        return true;
    }
    if (shown < JOB_LOG_LINES_PER_SECOND)
    {
        ++shown;
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
    NamedCount = 0;
    Others = 0;
    Shown[0] = Shown[1] = 0;
    Started = false;
}

double SJobLog::SummaryDue() const
{
    return NamedCount || Others ? SecondStart + LOG_SECOND : -1.0;
}
