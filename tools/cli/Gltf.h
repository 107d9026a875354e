// `varnel gltf`: a model, or every model of an archive, as glTF 2.0 (.glb, or .gltf with its
// .bin and images beside it). It runs in the tool's module varnel-gltf.so (cli/Modules.h).
#pragma once

#include <string>

#include "cli/Commands.h"
#include "cli/Staging.h"

namespace varnel::cli {

struct GltfCommand {
  std::string input, output;
  std::string split = "model";  // model, node, material or part: what a feature is
  bool all = false;             // every model of the file, one node each
  bool unlit = false, ecef = false, meshopt = false, draco = false;
  Interrupts* interrupts = &Interrupts::Process();
};

// Exit status: 0 written, 1 the file gave nothing (the reason said), 2 the output could not be
// written (then nothing of it is left).
int RunGltf(const GltfCommand& command, const ReadOptions& read, const PlaceOptions& place);

}  // namespace varnel::cli
