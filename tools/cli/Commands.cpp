#include "cli/Commands.h"
#include "cli/Modules.h"

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
#include "cli/Staging.h"
#include "gis/Utf8.h"
#include <varnel/DataBufferWriter.h>
#include <varnel/Varnel.h>

namespace varnel::cli {

// File names and messages reach a terminal: bytes that are not UTF-8 and control characters in
// them are shown escaped.
void Report(const std::string& file, const char* what) {
  std::fprintf(stderr, "varnel: %s: %s\n", gis::Printable(file).c_str(),
               gis::Printable(what).c_str());
}

namespace {

// Kinds and messages kept apart for -v in one document; a document naming a million unknown
// elements would otherwise hold them all.
constexpr size_t kMaxFoldedDiagnostics = 1000;
constexpr const char* kStrictHint = "varnel reads it without --strict";

}  // namespace

Diagnostics::Diagnostics(std::string file, const ReadOptions& options)
    : file_(file), document_(std::move(file)), read_(options), reason_(options.extended, kStrictHint) {}

void Diagnostics::Reading(const gis::Model& model) {
  Flush();
  document_ = model.source;
  model_ = gis::ModelPrefix(file_, model.name, model.source);
  // What the file said of its other placemarks is no reason for this model.
  reason_ = gis::Reason(read_.extended, kStrictHint);
}

void Diagnostics::Report(const Diagnostic& diagnostic) {
  if (read_.verbose) {
    std::string message = diagnostic.message ? diagnostic.message : "";
    std::string key = DiagnosticKindName(diagnostic.kind) + (":" + message);
    auto same = foldedAt_.find(key);
    if (same != foldedAt_.end()) {
      ++folded_[same->second].count;
    } else if (folded_.size() < kMaxFoldedDiagnostics) {
      foldedAt_.emplace(std::move(key), folded_.size());
      folded_.push_back({diagnostic.kind, diagnostic.line, std::move(message), 1});
    } else {
      ++unfolded_;
    }
  }
  reason_.Hear(diagnostic);
  if (!read_.verbose && diagnostic.kind == DiagnosticKind::kLimitReached && diagnostic.message)
    limits_.push_back(diagnostic.message);
}

void Diagnostics::Flush() {
  for (const Folded& f : folded_) {
    std::string where = f.line > 0 ? ":" + std::to_string(f.line) : "";
    std::string times = f.count > 1 ? " (" + std::to_string(f.count) + " times)" : "";
    std::fprintf(stderr, "varnel: %s%s: %s: %s%s\n", gis::Printable(document_).c_str(),
                 where.c_str(), DiagnosticKindName(f.kind), gis::Printable(f.message).c_str(),
                 times.c_str());
  }
  if (unfolded_ > 0)
    cli::Report(document_, ("limit-reached: " + std::to_string(unfolded_) +
                            " more diagnostics of further kinds not shown (" +
                            std::to_string(kMaxFoldedDiagnostics) + " shown)").c_str());
  folded_.clear();
  foldedAt_.clear();
  unfolded_ = 0;
}

Diagnostics::~Diagnostics() {
  Flush();
  for (const std::string& limit : limits_)
    cli::Report(file_, (model_ + limit).c_str());
}

std::string Diagnostics::TakeReason() {
  Flush();
  limits_.clear();
  return model_ + reason_.Text();
}

int Diagnostics::NoOutput() {
  cli::Report(file_, TakeReason().c_str());
  return 1;
}

int CannotWrite(const std::string& out, int error) {
  Report(out == "-" ? "standard output" : out,
         error ? std::strerror(error) : "cannot write the output");
  return 2;
}

int StandardOutputFailed(int error) {
  if (std::fflush(stdout) != 0 && !error) error = errno;
  if (!error && std::ferror(stdout)) error = EIO;
  return error ? CannotWrite("standard output", error) : 0;
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
  Varnel().CreateDisplayListFromFile(String::FromNativePath(inputs.chosen()[0]->document), &sink,
                                     diagnostics.Import(inputs.chosen()[0]));
  if (StandardOutputFailed(sink.error())) return 2;
  return sink.gotExtent ? 0 : diagnostics.NoOutput();
}

namespace {

// Puts each piece of the buffer in its place in the file as it comes. A pipe or a terminal takes
// bytes only in order: for them the buffer is kept whole and written at the end. The file is
// opened only once the library begins, so a document giving nothing leaves it alone.
class FileBufferWriter : public DataBufferWriter {
 public:
  explicit FileBufferWriter(const std::string& path) : file_(path) {}
  bool Begin(int32_t size) override {
    asked = true;
    if (!file_.Open()) return false;
    struct stat status;
    inOrder_ = file_.destination() == "-" ||
               (fstat(file_.fd(), &status) == 0 && !S_ISREG(status.st_mode));
    if (inOrder_) whole_.reset(new (std::nothrow) unsigned char[static_cast<size_t>(size)]);
    if (inOrder_ && !whole_) file_.Fail(ENOMEM);
    size_ = size;
    return begun = !inOrder_ || whole_;
  }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    if (inOrder_) std::memcpy(whole_.get() + offset, data, static_cast<size_t>(size));
    else Put(offset, data, size);
  }
  // Writes what was kept back and moves the file into place; false when any write failed.
  bool Finish() {
    if (inOrder_) file_.Write(whole_.get(), static_cast<size_t>(size_));
    return file_.Commit();
  }
  int error() const { return file_.error(); }
  bool asked = false;  // the library had something to write
  bool begun = false;

 private:
  void Put(int32_t offset, const unsigned char* data, int32_t size) {
    while (!file_.error() && size > 0) {
      ssize_t n = pwrite(file_.fd(), data, static_cast<size_t>(size), offset);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) file_.Fail(n < 0 ? errno : EIO);
      else data += n, size -= static_cast<int32_t>(n), offset += static_cast<int32_t>(n);
    }
  }
  StagedFile file_;
  bool inOrder_ = false;
  std::unique_ptr<unsigned char[]> whole_;
  int32_t size_ = 0;
};

// Placing needs every point's coordinates together, so a placed buffer is built whole first.
int WritePlacedBuffer(const gis::Model& model, const std::string& out, const ImportOptions& import,
                      const GeographicLocation& own, const PlaceOptions& place,
                      Diagnostics& diagnostics) {
  int32_t size = 0;
  unsigned char* bytes = nullptr;
  Varnel().CreateDataBufferFromFile(String::FromNativePath(model.document), size, bytes, import);
  std::unique_ptr<unsigned char, void (*)(void*)> buffer(bytes, ::operator delete);
  if (size <= 0) return diagnostics.NoOutput();
  bool failed = false;
  auto placer = PlacerFromModule(model.placement, own, place.request, &diagnostics, failed);
  if (!placer && !failed)
    diagnostics.Report({DiagnosticKind::kPlacement, 0,
                        "--place: nothing places the model (give --origin or -a_srs)", false});
  if (!placer) return diagnostics.NoOutput();
  if (!gis::PlaceBuffer(buffer.get(), size, *placer)) {
    diagnostics.Report({DiagnosticKind::kPlacement, 0, "a point cannot be placed", false});
    return diagnostics.NoOutput();
  }
  StagedFile file(out);
  bool written =
      file.Open() && file.Write(buffer.get(), static_cast<size_t>(size)) && file.Commit();
  return written ? 0 : CannotWrite(out, file.error());
}

}  // namespace

int RunBuffer(const std::string& file, const std::string& out, const ReadOptions& options,
              const PlaceOptions& place) {
  Diagnostics diagnostics(file, options);
  Inputs inputs;
  if (!inputs.Open(file, place, diagnostics)) return diagnostics.NoOutput();
  const gis::Model& model = *inputs.chosen()[0];
  GeographicLocation own;
  ImportOptions import = diagnostics.Import(&model);
  import.geographicLocation = &own;
  if (place.place) return WritePlacedBuffer(model, out, import, own, place, diagnostics);
  FileBufferWriter writer(out);
  Varnel().CreateDataBufferFromFile(String::FromNativePath(model.document), writer, import);
  if (!writer.begun)
    return writer.asked ? CannotWrite(out, writer.error()) : diagnostics.NoOutput();
  return writer.Finish() ? 0 : CannotWrite(out, writer.error());
}

int RunObj(const std::string& file, const std::string& out, const ReadOptions& options,
           const PlaceOptions& place) {
  std::string objPath = out;
  if (objPath.size() < 4 || objPath.compare(objPath.size() - 4, 4, ".obj") != 0) objPath += ".obj";
  ObjWriter writer(objPath);
  if (!writer.Open()) return CannotWrite(objPath, writer.error());
  Diagnostics diagnostics(file, options);
  Inputs inputs;
  if (inputs.Open(file, place, diagnostics))
    Varnel().CreateDisplayListFromFile(String::FromNativePath(inputs.chosen()[0]->document), &writer,
                                       diagnostics.Import(inputs.chosen()[0]));
  if (!writer.gotExtent) return diagnostics.NoOutput();
  return writer.Finish() ? 0 : CannotWrite(objPath, writer.error());
}

}  // namespace varnel::cli
