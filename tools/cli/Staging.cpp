#include "cli/Staging.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include "gis/PrivateFolder.h"
#include "gis/Staging.h"

namespace varnel::cli {

namespace {

sigset_t Stopping() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

Interrupts& Interrupts::Process() {
  static Interrupts* process = new Interrupts;  // outlives every thread that may use it
  return *process;
}

void Interrupts::Start() {
  sigset_t set = Stopping();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  std::thread([this] { Wait(); }).detach();
}

void Interrupts::Wait() {
  sigset_t set = Stopping();
  for (;;) {
    int taken = 0;
    if (sigwait(&set, &taken) != 0) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bool first = signal_ == 0;
      signal_ = taken;
      if (first && deferred_) continue;
    }
    Exit();
  }
}

void Interrupts::Track(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  tracked_.insert(path);
}

void Interrupts::Untrack(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  tracked_.erase(path);
}

void Interrupts::Name(const std::string& destination) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (destination_.empty()) destination_ = destination;
}

void Interrupts::Defer(const std::string& destination) {
  std::lock_guard<std::mutex> lock(mutex_);
  destination_ = destination;
  deferred_ = true;
}

void Interrupts::Exit() {
  mutex_.lock();  // kept: nothing is renamed into place from here on
  // Workers still running may add a file while a folder goes: a few rounds.
  for (int round = 0; round < 3; ++round) {
    for (const std::string& path : tracked_) gis::RemoveFolder(path);
    gis::RemoveProcessFolders();
  }
  int taken = signal_.load() ? signal_.load() : SIGTERM;
  std::string line = "varnel: " + (destination_.empty() ? std::string()
                                                         : destination_ + ": left as it was, ") +
                     "interrupted by SIG" + sigabbrev_np(taken) + "\n";
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
  _exit(128 + taken);
}

StagedFile::StagedFile(std::string destination, Interrupts& interrupts)
    : destination_(std::move(destination)), interrupts_(interrupts) {}

StagedFile::~StagedFile() {
  if (stream_) std::fclose(stream_);
  else if (fd_ >= 0 && fd_ != STDOUT_FILENO) close(fd_);
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    interrupts_.Untrack(temporary_);
  }
}

bool StagedFile::Open() {
  interrupts_.Name(destination_);
  if (destination_ == "-") {
    inPlace_ = true;
    fd_ = STDOUT_FILENO;
    return true;
  }
  struct stat status;
  inPlace_ = lstat(destination_.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
  if (inPlace_) {
    fd_ = open(destination_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } else {
    std::string pattern = gis::StagingPatternBeside(destination_);
    std::lock_guard<std::mutex> lock(interrupts_.mutex_);
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) interrupts_.tracked_.insert(temporary_ = pattern);
  }
  if (fd_ < 0) {
    Fail(errno);
    return false;
  }
  if (!temporary_.empty()) {
    // The mode a file created by open(2) would get.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
  }
  return true;
}

std::FILE* StagedFile::stream() {
  if (!stream_ && fd_ >= 0) {
    stream_ = fd_ == STDOUT_FILENO ? stdout : fdopen(fd_, "wb");
    if (!stream_) Fail(errno);
  }
  return stream_;
}

bool StagedFile::Write(const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (!error_ && size > 0) {
    ssize_t n = write(fd_, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(n < 0 ? errno : EIO);
    else at += n, size -= static_cast<size_t>(n);
  }
  return !error_;
}

bool StagedFile::Finish() {
  if (stream_) {
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) Fail(errno ? errno : EIO);
    if (stream_ != stdout && std::fclose(stream_) != 0) Fail(errno);
    stream_ = nullptr;
    fd_ = -1;
  } else if (fd_ >= 0 && fd_ != STDOUT_FILENO) {
    if (close(fd_) != 0) Fail(errno);
    fd_ = -1;
  }
  return !error_;
}

bool StagedFile::Commit() {
  if (!Finish() || temporary_.empty()) return !error_;
  {
    std::lock_guard<std::mutex> lock(interrupts_.mutex());
    if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) Fail(errno);
  }
  if (error_) return false;
  interrupts_.Untrack(temporary_);
  temporary_.clear();
  return true;
}

}  // namespace varnel::cli
