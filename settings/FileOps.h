// The few file operations the INI file needs from the platform: whole-file read, atomic
// replacement, an inter-process lock, and the executable's and the system's directories.
//
// A write never truncates the file in place: the new contents go to a temporary file beside
// it, which then replaces the file in one rename. A reader or a crash therefore sees either the
// old or the new file. Writers (and readers) in all processes serialise on a lock file beside
// the INI file (<path>.lock), so two programs saving different sections lose nothing.
#pragma once

#include <memory>

#include "toolkit/SysUtils.h"

// Held while it lives.
class TFileLock {
 public:
  virtual ~TFileLock() = default;
};

// Waits for the exclusive lock of `path` (through <path>.lock). Returns nullptr when no lock
// file can be made there (a read-only folder): reads still work, and writes fail on their own.
std::unique_ptr<TFileLock> LockFileExclusive(const String& path);

enum class TReadResult { Ok, Missing, Failed };
TReadResult ReadWholeFile(const String& path, String& bytes);

// Replaces the file with `bytes` as described above; false (and the old file as it was) when
// the file is read-only or any step fails.
bool ReplaceFileContents(const String& path, const String& bytes);

// Full path of the running executable and the system directory with a trailing separator,
// where profile files without a directory live. Tests may point them elsewhere.
String ExecutableFileName();
String WindowsDirectory();
struct TPathOverrides {
  String ExecutableFileName;  // empty = the platform's answer
  String WindowsDirectory;
};
TPathOverrides& PathOverrides();
