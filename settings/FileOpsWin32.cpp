// File operations with Win32 calls: LockFileEx on the lock file, MoveFileExA for the replace.
#include "settings/FileOps.h"
#include "toolkit/Strings.h"

#include <windows.h>

namespace {

class Handle {
 public:
  explicit Handle(HANDLE h) : FHandle(h) {}
  ~Handle() {
    if (Valid()) CloseHandle(FHandle);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
  HANDLE Get() const { return FHandle; }
  bool Close() {
    HANDLE h = FHandle;
    FHandle = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE FHandle;
};

class Win32Lock final : public TFileLock {
 public:
  explicit Win32Lock(HANDLE h) : FFile(h) {}
  bool Acquire() {
    OVERLAPPED ov{};
    FLocked = LockFileEx(FFile.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov) != 0;
    return FLocked;
  }
  ~Win32Lock() override {
    if (!FLocked) return;
    OVERLAPPED ov{};
    UnlockFileEx(FFile.Get(), 0, 1, 0, &ov);
  }

 private:
  Handle FFile;
  bool FLocked = false;
};

}  // namespace

std::unique_ptr<TFileLock> LockFileExclusive(const String& path) {
  HANDLE h = CreateFileA((path + ".lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  auto lock = std::make_unique<Win32Lock>(h);
  if (!lock->Acquire()) return nullptr;
  return lock;
}

TReadResult ReadWholeFile(const String& path, String& bytes) {
  bytes.clear();
  Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? TReadResult::Missing : TReadResult::Failed;
  }
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) return TReadResult::Failed;
    if (got == 0) return TReadResult::Ok;
    bytes.append(buffer, got);
  }
}

bool ReplaceFileContents(const String& path, const String& bytes) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
    return false;
  const String temp = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  Handle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    DWORD put = 0;
    ok = WriteFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &put, nullptr) && put;
    done += put;
  }
  ok = ok && FlushFileBuffers(file.Get());
  ok = file.Close() && ok;
  // Another program that has the file open for a moment (a reader without the lock, a virus
  // scanner) makes the replace fail with a sharing error: try again for about a second.
  for (int attempt = 0; ok; ++attempt) {
    if (MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) break;
    DWORD error = GetLastError();
    if (attempt >= 50 || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
      ok = false;
    else
      Sleep(20);
  }
  if (!ok) {
    DWORD error = GetLastError();
    DeleteFileA(temp.c_str());
    SetLastError(error);
  }
  return ok;
}

String ExecutableFileName() {
  if (!PathOverrides().ExecutableFileName.empty()) return PathOverrides().ExecutableFileName;
  char buffer[MAX_PATH + 1];
  DWORD len = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  return String(buffer, len);
}

String WindowsDirectory() {
  if (!PathOverrides().WindowsDirectory.empty()) return PathOverrides().WindowsDirectory;
  char buffer[MAX_PATH + 1];
  UINT len = GetWindowsDirectoryA(buffer, sizeof buffer);
  String dir(buffer, len < sizeof buffer ? len : 0);
  if (SplitPath(dir).NameStart != dir.size()) dir += '\\';  // a last ソ (0x83 0x5C) is no separator
  return dir;
}
