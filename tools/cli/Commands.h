// The commands of the varnel tool. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>
#include <utility>

#include <varnel/ImportOptions.h>

#include "cli/Inputs.h"
#include "gis/Reason.h"

namespace varnel::cli {

// How a command reads its document and how much it says about it.
struct ReadOptions {
  bool extended = true;  // off with --strict: exactly the library's plain entry points
  bool verbose = false;
  bool confineTextures = false;  // textures only from the document's (or archive's) folder tree
  bool allowNetwork = false;     // fetch the models a local archive or KML names by address
};

// A file holding several models (an archive or KML) gives info one line per model and the
// others its first model, or the one `place.model` names.
int RunInfo(const std::string& file, const ReadOptions& options, const PlaceOptions& place);
int RunDump(const std::string& file, const ReadOptions& options, const PlaceOptions& place);
int RunBuffer(const std::string& file, const std::string& out, const ReadOptions& options,
              const PlaceOptions& place);
int RunObj(const std::string& file, const std::string& out, const ReadOptions& options,
           const PlaceOptions& place);

// Creates `dir` (and parents) when missing; false when it cannot be used.
bool EnsureDirectory(const std::string& dir);
// One line on standard error naming the file.
void Report(const std::string& file, const char* what);
// One line naming an output that cannot be written, with the system's reason for `error` when
// there is one; returns 2.
int CannotWrite(const std::string& out, int error = 0);
// Flushes standard output; 0, or 2 with the line for the first failure (`error`, else the
// flush's) when anything written there was lost.
int StandardOutputFailed(int error = 0);

// What the library says while reading one document: with -v every diagnostic goes to standard
// error as it comes; the first one beyond the file-level kinds is kept as the reason should
// nothing come out.
class Diagnostics : public DiagnosticReceiver {
 public:
  Diagnostics(std::string file, const ReadOptions& options)
      : file_(std::move(file)), read_(options), reason_(options.extended, "varnel reads it without --strict") {}
  // A limit that cut the model short is said even without -v, once the command is done with the
  // file, unless the file gave nothing (its reason then says why).
  ~Diagnostics() override;
  // The import options of the command; a model from an archive confines textures to it.
  ImportOptions Import(const gis::Model* model = nullptr) {
    ImportOptions options{read_.extended, this};
    options.confineTextures = read_.confineTextures;
    return model ? gis::ImportFor(*model, options) : options;
  }
  const ReadOptions& read() const { return read_; }
  void Report(const Diagnostic& diagnostic) override;
  // The line for a document that produced nothing, with its first reason; returns 1.
  int NoOutput();
  // That reason alone, for a file that gave nothing.
  std::string TakeReason();

 private:
  std::string file_;
  ReadOptions read_;
  gis::Reason reason_;
  std::vector<std::string> limits_;
};

}  // namespace varnel::cli
