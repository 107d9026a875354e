// A file the caller fills in large chunks while a thread of its own writes the previous ones:
// formatting text and the kernel's copying of it overlap instead of taking turns (OBJ output is
// some 750 MB for two million triangles).
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace varnel::cli {

class BackgroundWriter {
 public:
  explicit BackgroundWriter(std::FILE* file);
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Room for at least `n` (at most kChunk) bytes from the returned position; Commit says where
  // the caller stopped.
  char* Room(size_t n);
  void Commit(char* end) { used_ = static_cast<size_t>(end - current_.get()); }
  void Write(std::string_view text);
  // Writes what is left and waits for the thread; false when a write failed.
  bool Finish();
  int error() const { return error_; }  // errno of the first failed write

 private:
  static constexpr size_t kChunk = 1 << 20;
  static constexpr size_t kQueued = 4;  // chunks waiting at most, so memory stays bounded
  struct Chunk {
    std::unique_ptr<char[]> data;
    size_t size;
  };
  void Hand();
  void Run();

  std::FILE* file_;
  std::unique_ptr<char[]> current_;
  size_t used_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> queue_;
  std::vector<std::unique_ptr<char[]>> spare_;
  bool finishing_ = false;
  bool failed_ = false;
  int error_ = 0;
  std::thread thread_;
};

}  // namespace varnel::cli
