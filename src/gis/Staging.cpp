#include "gis/Staging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace varnel::gis {

namespace fs = std::filesystem;

std::string SystemReason(int error) { return std::strerror(error); }

namespace {

std::string Trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool Exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

}  // namespace

std::string ParentFolder(const std::string& path) {
  std::string trimmed = Trimmed(path);
  size_t slash = trimmed.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : trimmed.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::string trimmed = Trimmed(path);
  size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string StagingPatternBeside(const std::string& destination) {
  return ParentFolder(destination) + "/." + BaseName(destination) + ".varnel-XXXXXX";
}

std::string StagingFolderBeside(const std::string& destination) {
  std::string pattern = StagingPatternBeside(destination);
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

bool MoveInto(const std::string& from, const std::string& to, bool replace) {
  if (!replace) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: the check and the rename are apart, which is the best
    // it allows.
    if (Exists(to)) {
      errno = EEXIST;
      return false;
    }
    return std::rename(from.c_str(), to.c_str()) == 0;
  }
  struct stat status;
  bool folder = lstat(to.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
  if (!folder) return std::rename(from.c_str(), to.c_str()) == 0;
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return false;
    std::string old = from + ".old";
    if (std::rename(to.c_str(), old.c_str()) != 0) return false;
    if (std::rename(from.c_str(), to.c_str()) != 0) {
      int error = errno;
      std::rename(old.c_str(), to.c_str());
      errno = error;
      return false;
    }
    std::error_code ignored;
    fs::remove_all(old, ignored);
    return true;
  }
  std::error_code ignored;
  fs::remove_all(from, ignored);  // the old folder, now under the temporary name
  return true;
}

bool CopyTree(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
  if (error) errno = error.value();
  return !error;
}

int WriteFailureIn(const std::string& folder, int64_t bytes) {
  std::string pattern = folder + "/.varnel-probe-XXXXXX";
  int fd = mkstemp(pattern.data());
  if (fd < 0) return errno;
  unlink(pattern.c_str());
  // One byte past the end of what was written: a size limit refuses it, a full disk has no
  // block for it.
  int error = pwrite(fd, "", 1, bytes) == 1 ? 0 : errno;
  if (!error && fsync(fd) != 0) error = errno;
  close(fd);
  return error;
}

DestinationLock::~DestinationLock() { Release(); }

void DestinationLock::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool DestinationLock::Acquire(const std::string& path, const std::function<void()>& waiting) {
  Release();
  bool told = false;
  for (;;) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT;
    int locked = flock(fd, LOCK_EX | LOCK_NB);
    if (locked != 0 && errno == EWOULDBLOCK) {
      if (!told && waiting) waiting();
      told = true;
      while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
      }
    }
    if (locked != 0) {
      int error = errno;
      close(fd);
      errno = error;
      return false;
    }
    // The writer before us may have renamed a new file over the one we waited on.
    struct stat held, now;
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
        held.st_ino == now.st_ino) {
      fd_ = fd;
      return true;
    }
    close(fd);
  }
}

}  // namespace varnel::gis
