// The commands of the varnel tool. Each returns the process exit status.
#pragma once

#include <string>
#include <unordered_map>
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

// What the library says while reading a file: with -v its diagnostics go to standard error,
// one line per kind and message for each document, with a count; the first one beyond the
// file-level kinds is kept as the reason should nothing come out.
class Diagnostics : public DiagnosticReceiver {
 public:
  Diagnostics(std::string file, const ReadOptions& options);
  // A limit that cut the model short is said even without -v, once the command is done with the
  // file, unless the file gave nothing (its reason then says why).
  ~Diagnostics() override;
  // The import options for reading `model` (see Reading); a model from an archive confines
  // textures to it.
  ImportOptions Import(const gis::Model* model = nullptr) {
    ImportOptions options{read_.extended, this};
    options.confineTextures = read_.confineTextures;
    if (model) Reading(*model);
    return model ? gis::ImportFor(*model, options) : options;
  }
  // What comes next is about `model` of the file: -v names its document, a reason the model.
  void Reading(const gis::Model& model);
  const ReadOptions& read() const { return read_; }
  void Report(const Diagnostic& diagnostic) override;
  // The line for a file that produced nothing, with its first reason; returns 1.
  int NoOutput();
  // That reason alone (after the model's name when it is one of several), for a file that gave
  // nothing.
  std::string TakeReason();

 private:
  struct Folded {
    DiagnosticKind kind;
    int32_t line;  // the first one's
    std::string message;
    int64_t count;
  };
  void Flush();

  std::string file_, document_;
  std::string model_;  // "model 'NAME' (ENTRY): " while a model of the file is read, else ""
  ReadOptions read_;
  gis::Reason reason_;
  std::vector<std::string> limits_;
  std::vector<Folded> folded_;  // -v only, in the order first heard
  std::unordered_map<std::string, size_t> foldedAt_;  // kind and message -> index in folded_
  int64_t unfolded_ = 0;        // heard after kMaxFoldedDiagnostics kinds and messages
};

}  // namespace varnel::cli
