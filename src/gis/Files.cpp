#include "gis/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace varnel::gis {
namespace {

// Reads up to `bytes` into `text`; false on a read error.
bool ReadFd(int fd, size_t bytes, std::string& text) {
  text.resize(bytes);
  size_t got = 0;
  while (got < bytes) {
    ssize_t n = read(fd, text.data() + got, bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += size_t(n);
  }
  text.resize(got);
  return true;
}

// Opens a regular file only: a FIFO would block the open.
int OpenRegular(const std::string& path, struct stat& info) {
  if (stat(path.c_str(), &info) != 0) return -1;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

bool ReadHead(const std::string& path, size_t bytes, const Reporter& report, std::string& head) {
  struct stat info;
  int fd = OpenRegular(path, info);
  bool read = fd >= 0 && ReadFd(fd, bytes, head);
  if (fd >= 0) close(fd);
  if (read) return true;
  if (errno == ENOENT || errno == ENOTDIR)
    report(DiagnosticKind::kFileMissing, 0, "No such file or directory");
  else if (errno == EISDIR)
    report(DiagnosticKind::kFolder, 0, "Is a directory");
  else
    report(DiagnosticKind::kUnreadable, 0,
           errno == EINVAL ? "not a regular file" : std::strerror(errno));
  return false;
}

bool ReadWhole(const std::string& path, std::string_view shown, int64_t maxBytes,
               DiagnosticKind kind, const Reporter& report, std::string& text) {
  struct stat info;
  int fd = OpenRegular(path, info);
  if (fd >= 0 && info.st_size > maxBytes) {
    close(fd);
    report(kind, 0, "'", shown, "' is over the cap of ", std::to_string(maxBytes),
           " bytes read whole: not read");
    return false;
  }
  bool read = fd >= 0 && ReadFd(fd, size_t(info.st_size), text);
  if (fd >= 0) close(fd);
  if (!read) report(kind, 0, "'", shown, "' unreadable: ", std::strerror(errno));
  return read;
}

}  // namespace varnel::gis
