// The re-entrant lock as a system critical section.
#include "toolkit/SyncObjs.h"

#include <windows.h>

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(void* [6]) && alignof(CRITICAL_SECTION) <= alignof(void*),
              "a CRITICAL_SECTION fits the lock's storage");

namespace {
CRITICAL_SECTION* Section(void** storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }
}  // namespace

TCriticalSection::TCriticalSection() { InitializeCriticalSection(Section(FSection)); }
TCriticalSection::~TCriticalSection() { DeleteCriticalSection(Section(FSection)); }
void TCriticalSection::lock() { EnterCriticalSection(Section(FSection)); }
void TCriticalSection::unlock() { LeaveCriticalSection(Section(FSection)); }
bool TCriticalSection::try_lock() { return TryEnterCriticalSection(Section(FSection)) != FALSE; }
