// The user's synchronisation settings outside the dialog: the keys they are kept under in the
// INI file (the names of the dialog's controls, which the settings component stores them by),
// the ranges the dialog's numbers are brought into, a loader for runs that have no dialog (the
// query switch), and how a synchronisation run ends (its exit status).
#pragma once

#include "toolkit/SysUtils.h"

// An inclusive range of a spin edit's value.
struct TIntRange {
  int Min;
  int Max;
};

constexpr TIntRange kOffsetSecRange{0, 59};      // seconds added to the received time
constexpr TIntRange kOffsetMinRange{0, 1439};    // minutes added: with the seconds, below a day
constexpr TIntRange kUpdateTimeRange{10, 1440};  // minutes between two synchronisations

// The INI keys of the settings in the user's section.
namespace SyncKey {
constexpr char UseNTPServer[] = "UseNTPServer";
constexpr char OffsetSec[] = "OffsetSec";
constexpr char OffsetMin[] = "OffsetMin";
constexpr char UpdateTime[] = "UpdateTime";
constexpr char BootUpdateTime[] = "BootUpdateTime";
constexpr char CheckTiming[] = "CheckTiming";
}  // namespace SyncKey

// How a one-shot run or a query ended (the process's exit status).
enum TSyncOutcome {
  soClockSet = 0,      // the local clock was set from a valid reply
  soNoServer = 1,      // no server is configured
  soNoReply = 2,       // no reply came in time, or the request failed
  soInvalidReply = 3,  // the server's reply failed the checks; nothing was set
  soSetRefused = 4,    // the system refused to set the clock
  soNotSaved = 5,      // the clock was set, but the settings could not be saved
};

// The settings with their numbers in range; the defaults are the dialog's.
struct TSyncSettings {
  String Server;
  int OffsetSec = 0;
  int OffsetMin = 0;
  int UpdateTime = 30;
  bool BootUpdateTime = true;
  bool CheckTiming = false;
};

int ClampInt(long long value, int low, int high);
inline int ClampInt(long long value, TIntRange range) { return ClampInt(value, range.Min, range.Max); }

// A spin edit's text as the program uses it: a decimal number (the range's minimum when the text
// is none), brought into the range.
int RangedSpinText(const String& text, TIntRange range);

// The settings stored in `section` of the INI file `iniPath`. A key that is missing keeps the
// dialog's default; a number is read as the spin edit reads its text and brought into range.
TSyncSettings LoadSyncSettings(const String& iniPath, const String& section);
