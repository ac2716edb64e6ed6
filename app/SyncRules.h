// The rules of the synchronisation controller that need no window: when to run once and end,
// which minutes are held back, and how the received time becomes the local time to set.
#pragma once

#include <vector>

#include "app/SyncSettings.h"
#include "sntp/IpTime.h"
#include "toolkit/SysUtils.h"

// One-shot mode: an executable base name ending in "x1" (any case), or an argument whose
// first two characters are "/1" or "-1".
bool IsOneShotName(const String& exePath);
bool IsOneShotArgument(const String& arg);
bool IsOneShot(const String& exePath, const std::vector<String>& args);

// The minutes at which the minute guard holds a synchronisation back: 0, 27-30, 57-59.
bool IsGuardedMinute(int minute);

// Japan Standard Time plus the user's offset for a server time (UTC); offsets out of their
// ranges are brought into them first.
TDateTime AppliedLocalTime(TDateTime serverUtc, int offsetSec, int offsetMin);

// The local time to set now from a reply: the server's transmit time (UTC), plus half the
// round-trip delay (the reply's way back), plus the ticks elapsed on the 32-bit tick counter
// from `readTick`, when the reply was read, to `nowTick` (across its wrap), as Japan Standard
// Time plus the user's offset. A negative delay can only come from stamps that contradict each
// other and adds nothing.
TDateTime LocalTimeToSet(TDateTime transmitUtc, double roundTripMs, uint32_t readTick, uint32_t nowTick, int offsetSec,
                         int offsetMin);

// The same for a reply as the SNTP client hands it over: the one way that both a
// synchronisation and a query turn a reply into the time to set.
TDateTime LocalTimeToSet(const TIpSntpReply& reply, uint32_t nowTick, int offsetSec, int offsetMin);

constexpr double kJstHours = 9.0;
// How long a one-shot run waits for the reply after sending its request.
constexpr uint32_t kOneShotReplyWaitMs = 5000;
// How long a query (/q) waits for the reply.
constexpr uint32_t kQueryReplyWaitMs = 5000;
