// Log files with POSIX calls, for the native build. An advisory lock stands in for the
// Windows sharing mode that keeps other writers out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log/LogFile.h"

namespace {

String Reason(int err) { return std::strerror(err); }

}  // namespace

TLogFile::TLogFile(const String& path, TLogFileMode mode) : FPath(path) {
  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (mode == TLogFileMode::Replace ? O_TRUNC : 0);
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0)
    throw ELogFileError(
        Format(mode == TLogFileMode::Replace ? "Cannot create file \"%s\". %s" : "Cannot open file \"%s\". %s",
               {path, Reason(errno)}));
  struct stat st {};
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || ::lseek(fd, 0, SEEK_END) < 0) {
    int err = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    throw ELogFileError(Format("Cannot open file \"%s\". %s", {path, Reason(err)}));
  }
  FHandle = fd;
  FSize = static_cast<uint64_t>(st.st_size);
}

TLogFile::~TLogFile() { ::close(static_cast<int>(FHandle)); }

void TLogFile::Truncate(uint64_t size) {
  if (size > FSize) return;
  const int fd = static_cast<int>(FHandle);
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::lseek(fd, 0, SEEK_END) < 0)
    throw ELogFileError(Format("Cannot write file \"%s\". %s", {FPath, Reason(errno)}));
  FSize = size;
}

void TLogFile::Write(const String& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(static_cast<int>(FHandle), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ELogFileError(Format("Cannot write file \"%s\". %s", {FPath, Reason(n < 0 ? errno : ENOSPC)}));
    done += static_cast<size_t>(n);
    FSize += static_cast<uint64_t>(n);
  }
}
