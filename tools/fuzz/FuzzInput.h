// Shared by the fuzz harnesses: one input as a file that lives in memory only, for the GIS layer,
// which opens paths (the core reads bytes itself), and a diagnostic receiver.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include <varnel/ImportOptions.h>

namespace fuzzing {

// A diagnostic receiver that reads every message, so that building them is exercised too.
struct Counter : varnel::DiagnosticReceiver {
  void Report(const varnel::Diagnostic& d) override { heard += d.message[0] != 0; }
  int heard = 0;
};

class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("varnel-fuzz", MFD_CLOEXEC)) {
    for (size_t done = 0; fd_ >= 0 && done < size;) {
      ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += size_t(n);
    }
  }
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  // A name any open() reaches the file by.
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// One reader (an XmlReader or a DaeDocument) for every input of a run: its buffers are large, and
// opening the next input resets every field that matters.
template <class Reader>
Reader& KeptReader() {
  static Reader* reader = [] {
    auto* made = new Reader();
    made->AllocateBuffers();
    return made;
  }();
  return *reader;
}

}  // namespace fuzzing
