// The debug log and the event log that every socket control owns. The program switches both
// off; they keep their settings (file name, buffer size, write mode, time-stamp pattern) so
// that a control can be configured as it would be from a form resource.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/IpUtils.h"
#include "toolkit/Classes.h"
#include "toolkit/Platform.h"
#include "toolkit/SyncObjs.h"

// What a log asks of the socket control that owns it: the texts of WinSock start-up, which
// head the debug log's file. The control implements it; a log may also have no owner.
class TIpLogOwner {
 public:
  virtual ~TIpLogOwner() = default;
  virtual String WinSockDescription() const = 0;
  virtual String WinSockStatus() const = 0;
  virtual uint16_t WinSockVersion() const = 0;  // the version start-up agreed on, 0x0101 for 1.1
};

class TIpBaseLog : public TPersistent {
 public:
  explicit TIpBaseLog(TIpLogOwner* owner) : FOwner(owner) {}
  bool Enabled() const;
  virtual void SetEnabled(bool value);
  String FileName() const;
  virtual void SetFileName(const String& value);
  TIpLogOwner* Owner() const { return FOwner; }

 protected:
  mutable TCriticalSection FLock;

 private:
  bool FEnabled = false;
  String FFileName;
  TIpLogOwner* FOwner;
};

enum TIpWriteMode { wmOverwrite, wmAppend };

// Kinds of debug-log entries. With bit 31 set, Length data bytes follow the entry's header.
inline constexpr uint32_t deDataFollows = 0x80000000;
inline constexpr uint32_t deLogEnabled = 1;       // logging was switched on
inline constexpr uint32_t deLogDisabled = 2;      // logging was switched off
inline constexpr uint32_t deTelnet = 3;           // Data: 1 received, 2 sent; Length: command * 256 + option
inline constexpr uint32_t deString = 0x80000000;  // the data bytes are the text

// One entry as it is read back from the ring.
struct TIpLogEntry {
  TIpFormatDataEntry FormatterClass = nullptr;  // nullptr: the log renders the entry itself
  uint32_t Tick = 0;                            // the tick count when the entry was added
  int32_t Socket = 0;
  uint32_t Kind = 0;
  // Data entries: the copy of the bytes, valid until the next add or take. Other kinds: the
  // 32-bit parameter the entry was added with.
  const void* Data = nullptr;
  uint32_t Length = 0;
};

// A trace of socket traffic kept in memory as a ring of binary entries: adding one costs a
// 24-byte header and a copy of its data. When the ring is full the oldest entries go. Nothing
// is rendered until WriteDebugLog turns the buffered entries into text in a file.
//
// An entry's header is six 32-bit little-endian fields: formatter number (0 for none), tick,
// socket, kind, parameter (0 for data entries), length; a data entry's bytes follow it. An
// entry may wrap past the end of the ring at any byte, inside its header too.
class TIpDebugLog : public TIpBaseLog {
 public:
  static constexpr uint32_t HeaderSize = 24;

  explicit TIpDebugLog(TIpLogOwner* owner);

  // Switching on allocates the ring (and a 1024-byte scratch buffer) the first time and adds a
  // deLogEnabled entry every time; switching off adds a deLogDisabled entry if it was on.
  void SetEnabled(bool value) override;
  uint32_t BufferSize() const;
  // A new size reallocates the ring and discards its entries; the same size changes nothing.
  void SetBufferSize(uint32_t value);
  TIpWriteMode WriteMode() const;
  void SetWriteMode(TIpWriteMode value);

  // Adds an entry while the log is enabled, discarding the oldest entries until it fits. The
  // ring holds at most BufferSize - 1 bytes; a larger entry (24 + Length bytes) is dropped.
  void AddLogEntry(TIpFormatDataEntry FormatterClass, int32_t Socket, uint32_t Kind, const void* Data, uint32_t Length);
  // Takes the oldest entry out of the ring; false when the ring is empty.
  bool GetLogEntry(TIpLogEntry& entry);
  // Free bytes in the ring. One byte always stays free, so a full ring never looks empty.
  uint32_t BufferFree() const;
  bool BufferEmpty() const;
  // Whether entries are waiting to be written out.
  bool HasEntries() const { return !BufferEmpty(); }
  void ClearBuffer();
  // Writes every buffered entry to FileName as text and empties the ring. In wmAppend mode an
  // existing file is continued; otherwise the file is replaced. An empty file first gets the
  // header. The text is rendered and written in pieces of about 64 KiB, not as a whole. Raises
  // ELogFileError when the file cannot be opened or written; the entries then stay buffered,
  // and a write that failed part-way is cut off the file again.
  void WriteDebugLog();

  // Where the oldest entry starts and the next one goes, and the scratch buffer's size.
  uint32_t Head() const;
  uint32_t Tail() const;
  uint32_t ScratchSize() const;

 private:
  // `count` bytes further on in the ring from `offset`.
  uint32_t Advance(uint32_t offset, uint32_t count) const;
  // Copy into the ring at Tail, or out of it at Head, continuing at offset 0 past the end, and
  // move that position on.
  void Store(const void* bytes, uint32_t count);
  void Fetch(void* bytes, uint32_t count);
  void GrowScratch(uint32_t size);
  // The number an entry's header stores for its formatter: 0 for none, else its place (from 1)
  // in FFormatters, where a formatter seen for the first time is added.
  uint32_t FormatterId(TIpFormatDataEntry formatter);
  String RenderEntry(const TIpLogEntry& entry) const;

  uint32_t FBufferSize = 65536;
  TIpWriteMode FWriteMode = wmOverwrite;
  std::unique_ptr<uint8_t[]> FBuffer;
  uint32_t FHead = 0;
  uint32_t FTail = 0;
  std::unique_ptr<uint8_t[]> FScratch;
  uint32_t FScratchSize = 0;
  uint32_t FStartTick;
  std::vector<TIpFormatDataEntry> FFormatters;
};

// The texts of the debug log's file.

// The name of this component set, which opens the file's first line.
inline constexpr const char SComponentSetName[] = "Kairotsu IP Components";
// The compiler that built the program, as the file's first line names it.
String CompilerName();

// The system's version record, as GetVersionExA fills it.
struct TOsVersionInfo {
  uint32_t PlatformId = 0;  // 0 Win32s, 1 Windows 9x, 2 Windows NT
  uint32_t MajorVersion = 0;
  uint32_t MinorVersion = 0;
  String CSDVersion;  // the service-pack text, possibly empty
};
// The running system's record. The native build has no Windows version: its stand-in gives an
// unknown platform, version 0.0.
TOsVersionInfo QueryOsVersion();
// "Windows NT 5.1 Service Pack 3": the platform, the major and minor version and the
// service-pack text; a platform id other than 0, 1 and 2 reads "Unknown".
String OperatingSystemText(const TOsVersionInfo& version);

// The header of a new file: the component set, its version and the compiler, the release of
// Kairotsu that the program belongs to (the project's version), the operating
// system, WinSock's description, negotiated version and status (empty texts and $0000 without
// an owner), then a rule of "=" and an empty line.
String DebugLogHeader(const TIpLogOwner* owner);
// "0012.345 : " for 12345 ms: the milliseconds since the log was created, at least seven
// digits, with a point after the fourth character.
String LogTimePrefix(int32_t elapsedMs);
// "[300] Telnet DO echo received." for a received DO of option 1 on socket 300. `direction` is
// 1 for received, 2 for sent; `commandAndOption` is the command times 256 plus the option code.
String TelnetLogText(int32_t socket, uint32_t direction, uint32_t commandAndOption);

// One time-stamped line per connection event, appended to FileName as it happens; the file is
// opened and closed for every line and never truncated.
class TIpEventLog : public TIpBaseLog {
 public:
  using TIpBaseLog::TIpBaseLog;
  String DateTimeFormat() const;
  void SetDateTimeFormat(const String& value);
  // Appends "<local date-time> <text>\r\n" when the log is enabled. Raises ELogFileError when
  // the file cannot be opened or written; the file is closed either way.
  void WriteEventString(const String& text);

 private:
  String FDateTimeFormat;
};

// Local time by a pattern: yyyy/yy year, mm/m month, dd/d day, hh/h hour (00-23), nn/n
// minutes, ss/s seconds, zzz milliseconds (letters in either case); text in quotes and every
// other character (a Shift-JIS character whole) are copied one for one. An empty pattern is
// taken as "yyyy.mm.dd hh:nn:ss".
String FormatLogTime(const String& pattern, const TSystemTime& time);
