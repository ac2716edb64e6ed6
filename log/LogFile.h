// The text file a log writes to, open while a TLogFile lives. Other programs may read the file
// meanwhile but not write it. Every failure raises ELogFileError naming the file and the
// system's reason, so that a full disk or a read-only folder never loses entries silently.
#pragma once

#include <cstdint>

#include "toolkit/SysUtils.h"

class ELogFileError : public Exception {
 public:
  using Exception::Exception;
};

enum class TLogFileMode {
  Replace,  // create the file, or empty it when it exists
  Append    // open an existing file at its end, or create it
};

class TLogFile {
 public:
  TLogFile(const String& path, TLogFileMode mode);
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Bytes in the file: its size when opened plus what has been written since.
  uint64_t Size() const { return FSize; }
  // Writes all of `bytes` at the end; raises when the system takes fewer.
  void Write(const String& bytes);
  // Cuts the file back to its first `size` bytes (no more than it has) and goes on writing
  // there; raises when the system refuses.
  void Truncate(uint64_t size);

 private:
  String FPath;
  intptr_t FHandle;
  uint64_t FSize = 0;
};
