// How long an idle job server may wait on its socket before one of its timers is due.
#pragma once

#include "TexJobServer.h"

// While a path is being assembled its expiry is looked at this often.
static const double JOB_IDLE_EXPIRY_CHECK = 1.0;

// Seconds from now until the server's next timer: the resend of a kept reply, the end of a
// finished record's lifetime, the expiry check of unfinished paths, the summary of a flood. `longest` when none is due
// sooner; 0 when one is already due.
double JobServerNextTimer(const SJobServer& server, double now, double longest);
