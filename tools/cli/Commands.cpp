#include "cli/Commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "cli/DumpSink.h"
#include "cli/ObjWriter.h"
#include <varnel/DataBufferWriter.h>
#include <varnel/Varnel.h>

namespace varnel::cli {

void Report(const std::string& file, const char* what) {
  std::fprintf(stderr, "varnel: %s: %s\n", file.c_str(), what);
}

namespace {

// The fixed texts of the reasons a file is no COLLADA document at all; null for other kinds.
const char* FileLevelText(DiagnosticKind kind) {
  switch (kind) {
    case DiagnosticKind::kFileMissing: return "No such file or directory";
    case DiagnosticKind::kFolder: return "Is a directory";
    case DiagnosticKind::kNotXml: return "not an XML document";
    case DiagnosticKind::kNotCollada: return "not a COLLADA document";
    default: return nullptr;
  }
}

}  // namespace

void Diagnostics::Report(const Diagnostic& diagnostic) {
  std::string message = diagnostic.message ? diagnostic.message : "";
  if (read_.verbose) {
    std::string where = diagnostic.line > 0 ? ":" + std::to_string(diagnostic.line) : "";
    std::fprintf(stderr, "varnel: %s%s: %s: %s\n", file_.c_str(), where.c_str(),
                 DiagnosticKindName(diagnostic.kind), message.c_str());
  }
  // What the extended reading passed over is no reason for it to have given nothing.
  bool handled = read_.extended && diagnostic.extendedReads;
  if (!reason_.empty() || handled) return;
  if (const char* text = FileLevelText(diagnostic.kind)) {
    reason_ = text;
  } else {
    reason_ = message;
    // "parsing stopped: <x> is not read" becomes "parsing stopped at line 12: <x> is not read".
    if (diagnostic.line > 0)
      reason_.insert(std::min(reason_.find(": "), reason_.size()),
                     " at line " + std::to_string(diagnostic.line));
    if (diagnostic.extendedReads && !read_.extended) reason_ += "; --extended reads it";
  }
}

int Diagnostics::NoOutput() const {
  cli::Report(file_, reason_.empty() ? "no output (no readable scene geometry)" : reason_.c_str());
  return 1;
}

int CannotWrite(const std::string& out) {
  Report(out, "cannot write the output");
  return 2;
}

bool EnsureDirectory(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return std::filesystem::is_directory(dir, ec) && access(dir.c_str(), W_OK) == 0;
}

int RunDump(const std::string& file, const ReadOptions& options) {
  DumpSink sink(stdout);
  Diagnostics diagnostics(file, options);
  Varnel().CreateDisplayListFromFile(String::FromUtf8(file), &sink, diagnostics.Import());
  std::fflush(stdout);
  return sink.gotExtent ? 0 : diagnostics.NoOutput();
}

namespace {

// Puts each piece of the buffer in its place in the file as it comes. A pipe or a terminal takes
// bytes only in order: for them the buffer is kept whole and written at the end.
class FileBufferWriter : public DataBufferWriter {
 public:
  explicit FileBufferWriter(int fd) : fd_(fd) {
    struct stat status;
    inOrder_ = fstat(fd, &status) == 0 && !S_ISREG(status.st_mode);
  }
  bool Begin(int32_t size) override {
    if (inOrder_) whole_.reset(new (std::nothrow) unsigned char[static_cast<size_t>(size)]);
    size_ = size;
    return begun = !inOrder_ || whole_;
  }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    if (inOrder_) std::memcpy(whole_.get() + offset, data, static_cast<size_t>(size));
    else Put(offset, data, size);
  }
  // Writes what was kept back; false when any write failed.
  bool Finish() {
    if (inOrder_ && whole_) Put(-1, whole_.get(), size_);
    return written_;
  }
  bool begun = false;

 private:
  // At `offset`, or where the file stands when it is negative.
  void Put(int32_t offset, const unsigned char* data, int32_t size) {
    while (written_ && size > 0) {
      ssize_t n = offset < 0 ? write(fd_, data, static_cast<size_t>(size))
                             : pwrite(fd_, data, static_cast<size_t>(size), offset);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        written_ = false;
        break;
      }
      data += n, size -= static_cast<int32_t>(n);
      if (offset >= 0) offset += static_cast<int32_t>(n);
    }
  }
  int fd_;
  bool inOrder_ = false;
  bool written_ = true;
  std::unique_ptr<unsigned char[]> whole_;
  int32_t size_ = 0;
};

}  // namespace

int RunBuffer(const std::string& file, const std::string& out, const ReadOptions& options) {
  int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return CannotWrite(out);
  FileBufferWriter writer(fd);
  Diagnostics diagnostics(file, options);
  Varnel().CreateDataBufferFromFile(String::FromUtf8(file), writer, diagnostics.Import());
  bool written = writer.Finish();
  bool closed = close(fd) == 0;
  if (!writer.begun) {
    std::remove(out.c_str());
    return diagnostics.NoOutput();
  }
  return written && closed ? 0 : CannotWrite(out);
}

int RunObj(const std::string& file, const std::string& out, const ReadOptions& options) {
  std::string objPath = out;
  if (objPath.size() < 4 || objPath.compare(objPath.size() - 4, 4, ".obj") != 0) objPath += ".obj";
  ObjWriter writer(objPath);
  if (!writer.Open()) return CannotWrite(objPath);
  Diagnostics diagnostics(file, options);
  Varnel().CreateDisplayListFromFile(String::FromUtf8(file), &writer, diagnostics.Import());
  bool finished = writer.Finish();
  if (!writer.gotExtent) {
    std::remove(objPath.c_str());
    std::remove((objPath.substr(0, objPath.size() - 4) + ".mtl").c_str());
    return diagnostics.NoOutput();
  }
  return finished ? 0 : CannotWrite(objPath);
}

}  // namespace varnel::cli
