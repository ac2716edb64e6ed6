// File operations with POSIX calls, for the native build.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "settings/FileOps.h"
#include "toolkit/SysUtils.h"

namespace {

class Fd {
 public:
  explicit Fd(int fd) : FFd(fd) {}
  ~Fd() {
    if (FFd >= 0) ::close(FFd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return FFd; }
  bool Close() {
    int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0;
  }

 private:
  int FFd;
};

class NativeLock final : public TFileLock {
 public:
  explicit NativeLock(int fd) : FFd(fd) {}
  ~NativeLock() override { ::flock(FFd.Get(), LOCK_UN); }

 private:
  Fd FFd;
};

}  // namespace

std::unique_ptr<TFileLock> LockFileExclusive(const String& path) {
  int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  auto lock = std::make_unique<NativeLock>(fd);
  while (::flock(fd, LOCK_EX) != 0)
    if (errno != EINTR) return nullptr;
  return lock;
}

TReadResult ReadWholeFile(const String& path, String& bytes) {
  bytes.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return errno == ENOENT || errno == ENOTDIR ? TReadResult::Missing : TReadResult::Failed;
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return TReadResult::Failed;
    if (got == 0) return TReadResult::Ok;
    bytes.append(buffer, static_cast<size_t>(got));
  }
}

bool ReplaceFileContents(const String& path, const String& bytes) {
  mode_t mode = 0644;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    // A file without write permission is read-only for its owner too (root would not be stopped).
    if ((st.st_mode & 0222) == 0 || !S_ISREG(st.st_mode)) return false;
    mode = st.st_mode & 07777;
  }
  const String temp = path + "." + std::to_string(::getpid()) + ".tmp";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.Get() < 0) return false;
  bool ok = ::fchmod(fd.Get(), mode) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t put = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0)
      ok = false;
    else
      done += static_cast<size_t>(put);
  }
  ok = ok && ::fsync(fd.Get()) == 0;
  ok = fd.Close() && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

String ExecutableFileName() {
  if (!PathOverrides().ExecutableFileName.empty()) return PathOverrides().ExecutableFileName;
  char buffer[4096];
  ssize_t len = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return len > 0 ? String(buffer, static_cast<size_t>(len)) : String();
}

String WindowsDirectory() {
  if (!PathOverrides().WindowsDirectory.empty()) return PathOverrides().WindowsDirectory;
  // No system directory here: the temporary directory stands in for it.
  const char* tmp = std::getenv("TMPDIR");
  String dir = tmp && *tmp ? tmp : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}
