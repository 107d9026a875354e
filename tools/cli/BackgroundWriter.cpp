#include "cli/BackgroundWriter.h"

#include <cerrno>
#include <cstring>

namespace varnel::cli {

BackgroundWriter::BackgroundWriter(std::FILE* file)
    : file_(file), current_(new char[kChunk]), thread_([this] { Run(); }) {}

BackgroundWriter::~BackgroundWriter() { Finish(); }

char* BackgroundWriter::Room(size_t n) {
  if (kChunk - used_ < n) Hand();
  return current_.get() + used_;
}

void BackgroundWriter::Write(std::string_view text) {
  while (!text.empty()) {
    const size_t n = std::min(text.size(), kChunk);
    std::memcpy(Room(n), text.data(), n);
    used_ += n;
    text.remove_prefix(n);
  }
}

void BackgroundWriter::Hand() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kQueued; });
  queue_.push_back({std::move(current_), used_});
  if (!spare_.empty()) {
    current_ = std::move(spare_.back());
    spare_.pop_back();
  }
  lock.unlock();
  changed_.notify_all();
  if (!current_) current_.reset(new char[kChunk]);
  used_ = 0;
}

void BackgroundWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || finishing_; });
    if (queue_.empty()) return;
    Chunk chunk = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    errno = 0;
    const bool written =
        failed_ || std::fwrite(chunk.data.get(), 1, chunk.size, file_) == chunk.size;
    const int error = errno ? errno : EIO;
    lock.lock();
    if (!written && !failed_) error_ = error;
    failed_ = failed_ || !written;
    spare_.push_back(std::move(chunk.data));
    changed_.notify_all();
  }
}

bool BackgroundWriter::Finish() {
  if (!thread_.joinable()) return !failed_;
  if (used_ > 0) Hand();
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_all();
  thread_.join();
  return !failed_;
}

}  // namespace varnel::cli
