// The history of synchronisations: Kairotsu.log beside the executable, one line per attempt,
// so that a user whose recording started late can see when the clock was last set and by how
// much. Lines go through an event log (local date-time, a blank, the text); the file is kept
// below a size limit by dropping its oldest lines, and every write holds an inter-process lock
// so that copies of the program run by two users at once lose no line.
#pragma once

#include <cstddef>
#include <memory>

#include "log/IpLog.h"
#include "log/LogFile.h"

class TSyncHistory {
 public:
  // `owner` is the socket control whose attempts are recorded.
  TSyncHistory(TIpLogOwner* owner, const String& path, size_t maxBytes = 65536);
  ~TSyncHistory();

  const String& Path() const { return FPath; }
  // Appends one line; raises ELogFileError when the file cannot be written (the line is then
  // not recorded, and the file is as it was). A file that cannot be trimmed now (another
  // program holds it) still gets the line, and is trimmed by a later one.
  void Record(const String& text);

  // The texts of the lines, after the date-time.
  static String ClockSet(const String& server, long long changeMs, long long delayMs);
  static String Failed(const String& server, const String& result, const String& reason);

 private:
  // Makes room for `incoming` more bytes: when the file would pass the limit, only its newest
  // lines that fill three quarters of it are kept, so that trimming is rare. When the file
  // cannot be replaced it is left as it was.
  void MakeRoom(size_t incoming);

  String FPath;
  size_t FMaxBytes;
  std::unique_ptr<TIpEventLog> FLog;
};
