// Converts many documents in worker processes; one bad file never stops the batch.
#pragma once

#include <string>
#include <vector>

#include "cli/Commands.h"

namespace varnel::cli {

struct BatchOptions {
  int jobs = 1;
  std::string outputDir;
  std::string format = "shp";  // shp, buffer, obj or gltf (written as .glb)
  std::vector<std::string> inputs;
};

// Runs `self format -o OUT [--strict] [-v] -- FILE` for every input, at most `jobs` at a time.
// Prints a progress line on standard error when it is a terminal and, at the end, for every file
// its diagnostics (with -v) and the reason it was not converted, then a summary line. Returns the
// exit status of the batch.
int RunBatch(const std::string& self, const BatchOptions& options, const ReadOptions& read);

// Output file for `input` inside `dir` with extension `ext`, unique among `taken`.
std::string BatchOutputPath(const std::string& dir, const std::string& input,
                            const std::string& ext, std::vector<std::string>& taken);

}  // namespace varnel::cli
