#include "cli/Commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

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

// Puts each piece of the buffer in its place in the file as it comes.
struct FileBufferWriter : DataBufferWriter {
  explicit FileBufferWriter(int fd) : fd(fd) {}
  bool Begin(int32_t) override { return begun = true; }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    while (written && size > 0) {
      ssize_t n = pwrite(fd, data, static_cast<size_t>(size), offset);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        written = false;
        break;
      }
      data += n, offset += static_cast<int32_t>(n), size -= static_cast<int32_t>(n);
    }
  }
  int fd;
  bool begun = false;
  bool written = true;
};

}  // namespace

int RunBuffer(const std::string& file, const std::string& out, const ReadOptions& options) {
  int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return CannotWrite(out);
  FileBufferWriter writer(fd);
  Diagnostics diagnostics(file, options);
  Varnel().CreateDataBufferFromFile(String::FromUtf8(file), writer, diagnostics.Import());
  bool closed = close(fd) == 0;
  if (!writer.begun) {
    std::remove(out.c_str());
    return diagnostics.NoOutput();
  }
  return writer.written && closed ? 0 : CannotWrite(out);
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
