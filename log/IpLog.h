// The debug log and the event log that every socket control owns. The program switches both
// off; they keep their settings (file name, buffer size, write mode, time-stamp pattern) so
// that a control can be configured as it would be from a form resource.
#pragma once

#include <cstdint>
#include <mutex>

#include "toolkit/Classes.h"
#include "toolkit/Platform.h"

class TIpSockControl;

class TIpBaseLog : public TPersistent {
 public:
  explicit TIpBaseLog(TIpSockControl* owner) : FOwner(owner) {}
  bool Enabled() const;
  virtual void SetEnabled(bool value);
  String FileName() const;
  virtual void SetFileName(const String& value);
  TIpSockControl* Owner() const { return FOwner; }

 protected:
  mutable std::recursive_mutex FLock;

 private:
  bool FEnabled = false;
  String FFileName;
  TIpSockControl* FOwner;
};

enum TIpWriteMode { wmOverwrite, wmAppend };

class TIpDebugLog : public TIpBaseLog {
 public:
  explicit TIpDebugLog(TIpSockControl* owner);
  uint32_t BufferSize() const { return FBufferSize; }
  void SetBufferSize(uint32_t value) { FBufferSize = value; }
  TIpWriteMode WriteMode() const { return FWriteMode; }
  void SetWriteMode(TIpWriteMode value) { FWriteMode = value; }
  // Whether entries are waiting to be written out.
  bool HasEntries() const { return false; }

 private:
  uint32_t FBufferSize = 65536;
  TIpWriteMode FWriteMode = wmOverwrite;
};

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
// other character are copied. An empty pattern is taken as "yyyy.mm.dd hh:nn:ss".
String FormatLogTime(const String& pattern, const TSystemTime& time);
