// `varnel tiles`: every model of every file, placed on the earth, as one 3D Tiles 1.1 tileset
// (tileset.json and GLB content), with a CesiumJS viewer page when asked. It runs in the tool's
// module varnel-tiles.so (cli/Modules.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Staging.h"

namespace varnel::cli {

struct TilesCommand {
  std::vector<std::string> inputs;
  std::string output;  // the tileset's folder
  uint64_t maxTileBytes = uint64_t{1} << 20;
  int jobs = 1;
  int maxTexture = 0;  // 0: textures at their own size
  bool lod = false;  // parents hold a simplified copy of their children and replace them
  bool viewer = false;
  std::string imagery;  // the viewer's imagery: a URL template ({z}/{x}/{y}); none by default
  Interrupts* interrupts = &Interrupts::Process();
};

// Exit status: 0 written, 1 no tileset (a model not placed, nothing to tile; the reason said),
// 2 the output could not be written (then nothing of it is left).
int RunTiles(const TilesCommand& command, const ReadOptions& read, const PlaceOptions& place);

}  // namespace varnel::cli
