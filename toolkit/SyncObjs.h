// A re-entrant lock for the objects that may be shared between threads. It meets the standard
// Lockable requirements, so std::lock_guard and std::unique_lock take it.
//
// On Windows it is a critical section of the system's own: the program is built without the
// POSIX thread layer, which would add its weight to the exe for locks the system already has.
#pragma once

#ifdef _WIN32

class TCriticalSection {
 public:
  TCriticalSection();
  ~TCriticalSection();
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void lock();
  void unlock();
  bool try_lock();

 private:
  // Room for a CRITICAL_SECTION (six pointer-sized fields at most), kept opaque so that this
  // header does not bring in the system's headers.
  void* FSection[6];
};

#else

#include <mutex>

using TCriticalSection = std::recursive_mutex;

#endif
