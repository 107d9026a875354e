// How the tool's outputs stay whole: files written under temporary names and renamed into place,
// and SIGINT/SIGTERM taken by one thread, which removes what a run leaves half done.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>

namespace varnel::cli {

class Interrupts {
 public:
  // The tool's own. A module has its own copy of this code, so it is handed the tool's object.
  static Interrupts& Process();

  // Blocks SIGINT and SIGTERM in the calling thread and every thread it starts after, and starts
  // the thread that takes them. Also ignores SIGPIPE and SIGXFSZ, so that a closed pipe or a
  // file size limit is a failed write with its reason.
  void Start();

  // Paths removed should the run be interrupted.
  void Track(const std::string& path);
  void Untrack(const std::string& path);
  // The destination the line of an interrupted run names (the first one given).
  void Name(const std::string& destination);
  // Held while a tracked path is renamed into place, so that an interruption sees it either
  // before or after.
  std::mutex& mutex() { return mutex_; }

  // The command looks at `signal()` between steps and ends the run with Exit itself (to roll a
  // transaction back first); a second signal still ends it at once.
  void Defer(const std::string& destination);
  int signal() const { return signal_.load(); }

  // Removes the tracked paths and the GIS layer's private folders, says what was interrupted
  // and ends the process with 128 + the signal.
  [[noreturn]] void Exit();

 private:
  friend class StagedFile;
  void Wait();

  std::mutex mutex_;
  std::set<std::string> tracked_;
  std::string destination_;
  bool deferred_ = false;
  std::atomic<int> signal_{0};
};

// A file written under a temporary name beside `destination`, renamed over it by Commit and
// removed otherwise. Standard output ("-"), devices, pipes and links are written in place.
class StagedFile {
 public:
  explicit StagedFile(std::string destination, Interrupts& interrupts = Interrupts::Process());
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  bool Open();
  int fd() const { return fd_; }
  // A stdio stream on the file, made on first use; Commit closes it.
  std::FILE* stream();
  bool inPlace() const { return inPlace_; }
  // Keeps the first failure; its errno is what the run reports.
  void Fail(int error) {
    if (!error_) error_ = error;
  }
  // Writes all of `data` at the current position; false (failure kept) when it cannot.
  bool Write(const void* data, size_t size);
  // Closes, checked; false when anything written was lost.
  bool Finish();
  // Finishes and renames into place.
  bool Commit();
  const std::string& destination() const { return destination_; }
  int error() const { return error_; }

 private:
  std::string destination_;
  std::string temporary_;
  Interrupts& interrupts_;
  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  bool inPlace_ = false;
  int error_ = 0;
};

}  // namespace varnel::cli
