#include "TexJobServerIdle.h"

double JobServerNextTimer(const SJobServer& server, double now, double longest)
{
    double due = now + longest;
    double net = 0.0;
    if (NetNextDeadline(server, net) && net < due)
        due = net;
    if (server.Jobs.SenderCount() > 0 && now + JOB_IDLE_EXPIRY_CHECK < due)
        due = now + JOB_IDLE_EXPIRY_CHECK;
    const double summary = server.Log.SummaryDue();
    if (summary >= 0.0 && summary < due)
        due = summary;
    return due > now ? due - now : 0.0;
}
