// `varnel convert`: many files into one layer of any format GDAL writes. The command runs in a
// module of its own (varnel-convert.so), loaded when it is asked for: GDAL brings a hundred-odd
// libraries, which would cost every other command some 20 MB and 60 ms at start.
#pragma once

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "gis/ogr/Options.h"

namespace varnel::cli {

struct ConvertCommand {
  std::vector<std::string> inputs;
  gis::OutputOptions output;
  std::string split = "model";  // model, node, material or part
  int jobs = 1;
  std::string textureFolder;    // empty: beside the destination (none for a database)
};

// Exit status: 0 every file converted, 1 some gave nothing (each named with its reason at the
// end), 2 the output could not be written or the options do not fit the format.
int RunConvert(const ConvertCommand& command, const ReadOptions& read, const PlaceOptions& place);

// In the tool: RunConvert in the module, found beside the tool (the build tree) or in its
// installed folder; 2 with a line on standard error when it cannot be loaded.
int RunConvertModule(const ConvertCommand& command, const ReadOptions& read,
                     const PlaceOptions& place);

}  // namespace varnel::cli

// The module's one exported symbol, looked up by name.
extern "C" __attribute__((visibility("default"))) int varnel_run_convert(
    const varnel::cli::ConvertCommand* command, const varnel::cli::ReadOptions* read,
    const varnel::cli::PlaceOptions* place);

namespace varnel::cli {

}  // namespace varnel::cli
