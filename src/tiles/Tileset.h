// 3D Tiles 1.1 from placed models: the spatial split of the models into tiles under a size bound,
// and the tileset.json that ties the tiles' glTF content to the earth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gltf/Frame.h"

namespace varnel::tiles {

// The default bound on a tile's content (--max-tile-bytes).
inline constexpr uint64_t kDefaultMaxTileBytes = uint64_t{1} << 20;
// Bounding boxes are widened by this (metres) on every side, for the float rounding of content.
inline constexpr double kBoxMargin = 0.001;

// A model as the split sees it: the box of its placed points in the set's east-north-up frame,
// what its geometry costs and which images (by identity) it shows.
struct Item {
  double min[3], max[3];
  uint64_t bytes = 0;
  std::vector<uint32_t> images;
};

struct Tile {
  double min[3], max[3];  // holds every point of the tile's content and of its descendants'
  double geometricError = 0;
  std::vector<uint32_t> items;  // the models of its content, empty for a parent without one
  std::vector<uint32_t> children;
  uint64_t bytes = 0;  // the content's estimate
};

// Splits `items` in halves at the median of their centres along the longest side, as long as
// a half's content (geometry plus each of its images once, `imageBytes` by image) would exceed
// `maxTileBytes`. Tile 0 is the root; each parent comes before its children. A model larger than
// the bound alone gets a tile of its own.
std::vector<Tile> Split(const std::vector<Item>& items, const std::vector<uint64_t>& imageBytes,
                        uint64_t maxTileBytes);

// The frame at the centre of the models' locations, on the ellipsoid at their lowest height.
gltf::Frame CentreFrame(const std::vector<gltf::Frame>& frames);

// The box of the points of a model's local box (`min`, `max`) once placed by `frame` and seen
// in the east-north-up frame `root`.
void PlacedBox(const gltf::Frame& frame, const double (&min)[3], const double (&max)[3],
               const gltf::Frame& root, double (&outMin)[3], double (&outMax)[3]);

// tileset.json: `root` as the root transform; tile i's content at uris[i] unless that is empty.
// Parents refine by adding their children (ADD) or, `replace`, by showing them instead (REPLACE).
std::string TilesetJson(const std::vector<Tile>& tiles, const gltf::Frame& root,
                        const std::vector<std::string>& uris, const std::string& schemaUri,
                        bool replace = false);

}  // namespace varnel::tiles
