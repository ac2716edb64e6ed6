// Log files through the Windows file API: shared for reading, closed to other writers.
#include "log/LogFile.h"
#include "toolkit/Platform.h"

#include <windows.h>

#include <algorithm>

namespace {

String Reason(DWORD err) { return SystemApi().SystemErrorText(err); }

}  // namespace

TLogFile::TLogFile(const String& path, TLogFileMode mode) : FPath(path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         mode == TLogFileMode::Replace ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw ELogFileError(
        Format(mode == TLogFileMode::Replace ? "Cannot create file \"%s\". %s" : "Cannot open file \"%s\". %s",
               {path, Reason(GetLastError())}));
  LARGE_INTEGER size{}, zero{};
  if (!GetFileSizeEx(h, &size) || !SetFilePointerEx(h, zero, nullptr, FILE_END)) {
    DWORD err = GetLastError();
    CloseHandle(h);
    throw ELogFileError(Format("Cannot open file \"%s\". %s", {path, Reason(err)}));
  }
  FHandle = reinterpret_cast<intptr_t>(h);
  FSize = static_cast<uint64_t>(size.QuadPart);
}

TLogFile::~TLogFile() { CloseHandle(reinterpret_cast<HANDLE>(FHandle)); }

void TLogFile::Truncate(uint64_t size) {
  if (size > FSize) return;
  const HANDLE h = reinterpret_cast<HANDLE>(FHandle);
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h))
    throw ELogFileError(Format("Cannot write file \"%s\". %s", {FPath, Reason(GetLastError())}));
  FSize = size;
}

void TLogFile::Write(const String& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20)), written = 0;
    BOOL ok = WriteFile(reinterpret_cast<HANDLE>(FHandle), bytes.data() + done, chunk, &written, nullptr);
    if (!ok || written == 0)
      throw ELogFileError(
          Format("Cannot write file \"%s\". %s", {FPath, Reason(ok ? ERROR_DISK_FULL : GetLastError())}));
    done += written;
    FSize += written;
  }
}
