// The query switch "/q [server]": one exchange with a server, then the result is shown and
// nothing is set. Users check a server with it; tests use it end to end.
#pragma once

#include "toolkit/SysUtils.h"

// Asks `server` (the configured one when empty) and shows server, offset and delay in
// milliseconds, stratum and the local time that a synchronisation would set. Returns 0 for a
// valid reply, else the same statuses as a one-shot run.
int RunQuery(const String& server);
