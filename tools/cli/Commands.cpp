#include "cli/Commands.h"

#include <algorithm>
#include <memory>
#include <cstdio>
#include <filesystem>
#include <new>
#include <sys/stat.h>
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

std::string Diagnostics::Reason() const {
  return reason_.empty() ? "no output (no readable scene geometry)" : reason_;
}

int Diagnostics::NoOutput() const {
  cli::Report(file_, Reason().c_str());
  return 1;
}

NewOutput::NewOutput(std::string path) : path_(std::move(path)) {
  struct stat status;
  existed_ = lstat(path_.c_str(), &status) == 0;
}

void NewOutput::Discard() const {
  struct stat status;
  if (!existed_ && lstat(path_.c_str(), &status) == 0 && S_ISREG(status.st_mode))
    std::remove(path_.c_str());
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

int RunDump(const std::string& file, const ReadOptions& options, const PlaceOptions& place) {
  DumpSink sink(stdout);
  Diagnostics diagnostics(file, options);
  Inputs inputs;
  if (!inputs.Open(file, place, diagnostics)) return diagnostics.NoOutput();
  Varnel().CreateDisplayListFromFile(String::FromUtf8(inputs.chosen()[0]->document), &sink,
                                     diagnostics.Import(inputs.chosen()[0]));
  std::fflush(stdout);
  return sink.gotExtent ? 0 : diagnostics.NoOutput();
}

int RunBuffer(const std::string& file, const std::string& out, const ReadOptions& options,
              const PlaceOptions& place) {
  Diagnostics diagnostics(file, options);
  Inputs inputs;
  if (!inputs.Open(file, place, diagnostics)) return diagnostics.NoOutput();
  const gis::Model& model = *inputs.chosen()[0];
  GeographicLocation own;
  ImportOptions import = diagnostics.Import(&model);
  import.geographicLocation = &own;
  int32_t size = 0;
  unsigned char* bytes = nullptr;
  Varnel().CreateDataBufferFromFile(String::FromUtf8(model.document), size, bytes, import);
  std::unique_ptr<unsigned char, void (*)(void*)> buffer(bytes, ::operator delete);
  if (size <= 0) return diagnostics.NoOutput();
  if (place.place) {
    bool failed = false;
    auto placer = gis::PlacerFor(model.placement, own, place.request, &diagnostics, failed);
    if (!placer && !failed)
      diagnostics.Report({DiagnosticKind::kPlacement, 0,
                          "--place: nothing places the model (give --origin or -a_srs)", false});
    if (!placer) return diagnostics.NoOutput();
    if (!gis::PlaceBuffer(buffer.get(), size, *placer)) {
      diagnostics.Report({DiagnosticKind::kPlacement, 0, "a point cannot be placed", false});
      return diagnostics.NoOutput();
    }
  }
  // Opened only now, so that a document giving nothing leaves an existing file alone.
  std::FILE* target = std::fopen(out.c_str(), "wb");
  if (!target) return CannotWrite(out);
  bool written = std::fwrite(buffer.get(), 1, static_cast<size_t>(size), target) ==
                 static_cast<size_t>(size);
  bool closed = std::fclose(target) == 0;
  return written && closed ? 0 : CannotWrite(out);
}

int RunObj(const std::string& file, const std::string& out, const ReadOptions& options,
           const PlaceOptions& place) {
  std::string objPath = out;
  if (objPath.size() < 4 || objPath.compare(objPath.size() - 4, 4, ".obj") != 0) objPath += ".obj";
  ObjWriter writer(objPath);
  if (!writer.Open()) return CannotWrite(objPath);
  Diagnostics diagnostics(file, options);
  Inputs inputs;
  if (inputs.Open(file, place, diagnostics))
    Varnel().CreateDisplayListFromFile(String::FromUtf8(inputs.chosen()[0]->document), &writer,
                                       diagnostics.Import(inputs.chosen()[0]));
  if (!writer.gotExtent) return diagnostics.NoOutput();
  return writer.Finish() ? 0 : CannotWrite(objPath);
}

}  // namespace varnel::cli
