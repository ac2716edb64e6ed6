// Foundation of the socket component set: base classes with a lock, the component base with
// its version text and debug-log formatter, the exception root, the line-terminator kind and
// small byte and string helpers.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "toolkit/Classes.h"
#include "toolkit/SyncObjs.h"

// The component set's version text ("v1.15").
inline constexpr const char SVersionFormat[] = "v%.2f";

// Root of every exception of the socket component set.
class EIpBaseException : public Exception {
 public:
  using Exception::Exception;
};

// An entry point of a library loaded at run time could not be obtained.
class EIpAccessException : public EIpBaseException {
 public:
  using EIpBaseException::EIpBaseException;
};

enum TIpLineTerminator { ltNone, ltCR, ltLF, ltCRLF, ltOther };

// An object with a library handle and a re-entrant lock. The lock is always taken: it costs
// little on one thread and keeps the object safe when a caller adds threads.
class TIpBaseAccess : public TObject {
 public:
  TIpBaseAccess() = default;
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

 protected:
  uintptr_t LibraryHandle = 0;

 private:
  TCriticalSection FLock;
};

// A persistent object with a re-entrant lock.
class TIpBasePersistent : public TPersistent {
 public:
  TIpBasePersistent() = default;
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

 private:
  TCriticalSection FLock;
};

// Renders one debug-log entry of the given kind as text (a class-level operation).
using TIpFormatDataEntry = void (*)(int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length, String& Text);

// The component base of the socket set: the published Version and the debug-log formatter.
class TIpBaseComponent : public TComponent {
 public:
  using TComponent::TComponent;

  // "v1.15"; writing is accepted and ignored (never stored).
  String Version() const;
  void SetVersion(const String&) {}

  // The base formatter: "!!!! Unhandled log entry\n\r" (line feed before carriage return).
  static void FormatDataEntry(int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length, String& Text);
  // The formatter of this object's class; the debug log stores it with each entry.
  virtual TIpFormatDataEntry FormatterClass() const { return &TIpBaseComponent::FormatDataEntry; }
};

String GetVersionText();                                          // "v%.2f" with 1.15
String TrimBlanks(const String& s);                               // only 0x20 counts as a blank
int CharPos(char c, const String& s);                             // 1-based, 0 when absent
int CompareBytes(const void* a, const void* b, uint32_t length);  // 0, 1 or -1, unsigned bytes
int CountChar(const void* block, uint32_t length, uint8_t value);
int MinInt(int a, int b);

// Takes the object out of the variable, clears the variable, then frees the object.
template <class T>
void SafeFree(std::unique_ptr<T>& variable) {
  std::unique_ptr<T> taken = std::move(variable);
  variable = nullptr;
  taken.reset();
}
