// The debug log and the event log that every socket control owns. Both are switched off in
// this program; they keep their settings (file name, buffer size, write mode, time-stamp
// pattern) so that a control can be configured as it would be from a form resource.
#pragma once

#include <cstdint>
#include <mutex>

#include "toolkit/Classes.h"

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

class TIpEventLog : public TIpBaseLog {
 public:
  using TIpBaseLog::TIpBaseLog;
  String DateTimeFormat() const;
  void SetDateTimeFormat(const String& value);

 private:
  String FDateTimeFormat;
};
