#include "TexJobServer.h"

#include "GameConsole.h"
#include "GameText.h"
#include "TexMainWin.h"

SJobServer* GJobServer = nullptr;

namespace
{
const double JOB_LIFETIME = 5000.0;
const double JOB_RESEND_INTERVAL = 100.0;
const u32 JOB_RETRY_LIMIT = 0xFFFFFFFFu;
const u32 JOB_FIRST_SEQUENCE = 0xFFFFFFFFu; // the first datagram sent carries 0
} // namespace

SJobServer* OpenJobServer(const char* port, TString& failure)
{
    SJobServer* server = new SJobServer;
    server->Lifetime = JOB_LIFETIME;
    server->ResendInterval = JOB_RESEND_INTERVAL;
    server->RetryLimit = JOB_RETRY_LIMIT;
    server->Sequence = JOB_FIRST_SEQUENCE;
    if (!NetOpen(*server, port))
    {
        failure = TextWithArg("MSG_ServerInitFail", port);
        delete server;
        return nullptr;
    }
    ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    ConsolePrintf("%s", TextWithArg("MSG_ServerInitSuccess", port).Str());
    return server;
}

void SetJobServer(SJobServer* server)
{
    if (GJobServer && GJobServer != server)
    {
        NetClose(*GJobServer);
        delete GJobServer;
    }
    GJobServer = server;
}
