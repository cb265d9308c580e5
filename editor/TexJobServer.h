// The job server's socket: at most one runs (GJobServer), opened from the command line or the
// File menu on a UDP port.
#pragma once

#include "GameNet.h"

class SJobServer : public SNetSocket
{
};

extern SJobServer* GJobServer;

// A server listening on the port, with the job settings; null when the port cannot be opened,
// with the text of "MSG_ServerInitFail" for the port in failure. On success the console opens
// and prints "MSG_ServerInitSuccess".
SJobServer* OpenJobServer(const char* port, TString& failure);
// Closes and deletes the current server, if any, and makes server (possibly null) current.
void SetJobServer(SJobServer* server);
