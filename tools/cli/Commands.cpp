#include "cli/Commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>
#include <unistd.h>

#include "cli/DumpSink.h"
#include "cli/ObjWriter.h"
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

int RunBuffer(const std::string& file, const std::string& out, const ReadOptions& options) {
  std::FILE* target = std::fopen(out.c_str(), "wb");
  if (!target) return CannotWrite(out);
  int32_t size = 0;
  unsigned char* buffer = nullptr;
  Diagnostics diagnostics(file, options);
  Varnel().CreateDataBufferFromFile(String::FromUtf8(file), size, buffer, diagnostics.Import());
  bool written = size > 0 && std::fwrite(buffer, 1, static_cast<size_t>(size), target) ==
                                 static_cast<size_t>(size);
  ::operator delete(buffer);
  bool closed = std::fclose(target) == 0;
  if (size <= 0) {
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
