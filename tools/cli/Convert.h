// `varnel convert`: many files into one layer of any format GDAL writes. It runs in the tool's
// module varnel-convert.so (cli/Modules.h).
#pragma once

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Staging.h"
#include "gis/ogr/Options.h"

namespace varnel::cli {

struct ConvertCommand {
  std::vector<std::string> inputs;
  gis::OutputOptions output;
  std::string split = "model";  // model, node, material or part
  int jobs = 1;
  std::string textureFolder;    // empty: beside the destination (none for a database)
  // Built in the tool, this is the tool's own object, which the module's code then uses.
  Interrupts* interrupts = &Interrupts::Process();
};

// Exit status: 0 every file converted, 1 some gave nothing (each named with its reason at the
// end), 2 the output could not be written or the options do not fit the format; then, or when
// interrupted, the destination is as it was.
int RunConvert(const ConvertCommand& command, const ReadOptions& read, const PlaceOptions& place);

}  // namespace varnel::cli
