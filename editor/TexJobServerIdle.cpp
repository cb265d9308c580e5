#include "TexJobServerIdle.h"

double JobServerNextTimer(const SJobServer& server, double now, double longest)
{
    double due = now + longest;
    for (const SNetSendRecord* r = server.SentRecords; r; r = r->Next)
    {
        const double at = r->Resend ? r->Resend->Time + server.ResendInterval : r->Time + server.Lifetime;
        if (at < due)
            due = at;
    }
    if (server.Jobs.SenderCount() > 0 && now + JOB_IDLE_EXPIRY_CHECK < due)
        due = now + JOB_IDLE_EXPIRY_CHECK;
    return due > now ? due - now : 0.0;
}
