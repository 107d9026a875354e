#include "tiles/Tileset.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace varnel::tiles {

using gltf::operator*;

namespace {

double Diagonal(const double (&min)[3], const double (&max)[3]) {
  double sum = 0;
  for (int k = 0; k < 3; ++k) sum += (max[k] - min[k]) * (max[k] - min[k]);
  return std::sqrt(sum);
}

struct Splitter {
  const std::vector<Item>& items;
  const std::vector<uint64_t>& imageBytes;
  uint64_t maxBytes;
  std::vector<Tile> tiles;
  std::vector<uint32_t> order;
  // Per image, the last count it was taken into: each image counts once per tile.
  std::vector<uint64_t> counted;
  uint64_t count = 0;

  uint64_t Bytes(size_t begin, size_t end) {
    ++count;
    uint64_t total = 0;
    for (size_t k = begin; k < end; ++k) {
      const Item& item = items[order[k]];
      total += item.bytes;
      for (uint32_t image : item.images)
        if (counted[image] != count) counted[image] = count, total += imageBytes[image];
    }
    return total;
  }

  uint32_t Build(size_t begin, size_t end) {
    const uint32_t index = static_cast<uint32_t>(tiles.size());
    tiles.emplace_back();
    Tile tile;
    std::fill(tile.min, tile.min + 3, std::numeric_limits<double>::infinity());
    std::fill(tile.max, tile.max + 3, -std::numeric_limits<double>::infinity());
    double low[3], high[3];  // of the models' centres
    std::copy(tile.min, tile.min + 3, low);
    std::copy(tile.max, tile.max + 3, high);
    for (size_t k = begin; k < end; ++k) {
      const Item& item = items[order[k]];
      for (int a = 0; a < 3; ++a) {
        tile.min[a] = std::min(tile.min[a], item.min[a]);
        tile.max[a] = std::max(tile.max[a], item.max[a]);
        const double centre = (item.min[a] + item.max[a]) / 2;
        low[a] = std::min(low[a], centre), high[a] = std::max(high[a], centre);
      }
    }
    tile.bytes = Bytes(begin, end);
    if (end - begin == 1 || tile.bytes <= maxBytes) {
      tile.items.assign(order.begin() + long(begin), order.begin() + long(end));
      tiles[index] = std::move(tile);
      return index;
    }
    int axis = 0;
    for (int a = 1; a < 3; ++a)
      if (high[a] - low[a] > high[axis] - low[axis]) axis = a;
    const size_t middle = begin + (end - begin) / 2;
    std::nth_element(order.begin() + long(begin), order.begin() + long(middle),
                     order.begin() + long(end), [&](uint32_t a, uint32_t b) {
                       return items[a].min[axis] + items[a].max[axis] <
                              items[b].min[axis] + items[b].max[axis];
                     });
    tile.bytes = 0;
    tile.geometricError = Diagonal(tile.min, tile.max);
    tiles[index] = std::move(tile);
    const uint32_t first = Build(begin, middle), second = Build(middle, end);
    tiles[index].children = {first, second};
    return index;
  }
};

}  // namespace

std::vector<Tile> Split(const std::vector<Item>& items, const std::vector<uint64_t>& imageBytes,
                        uint64_t maxTileBytes) {
  Splitter s{items, imageBytes, maxTileBytes, {}, {}, std::vector<uint64_t>(imageBytes.size(), 0)};
  if (items.empty()) return {};
  s.order.resize(items.size());
  for (size_t i = 0; i < items.size(); ++i) s.order[i] = static_cast<uint32_t>(i);
  s.Build(0, items.size());
  return std::move(s.tiles);
}

gltf::Frame CentreFrame(const std::vector<gltf::Frame>& frames) {
  double west = 180, east = -180, south = 90, north = -90, low = INFINITY;
  for (const gltf::Frame& f : frames) {
    west = std::min(west, f.longitude), east = std::max(east, f.longitude);
    south = std::min(south, f.latitude), north = std::max(north, f.latitude);
    low = std::min(low, f.height);
  }
  gltf::Frame centre;
  centre.located = true;
  centre.longitude = (west + east) / 2, centre.latitude = (south + north) / 2;
  centre.height = std::isfinite(low) ? low : 0;
  return centre;
}

void PlacedBox(const gltf::Frame& frame, const double (&min)[3], const double (&max)[3],
               const gltf::Frame& root, double (&outMin)[3], double (&outMax)[3]) {
  // The placed box's corners hold every placed point: the placement is affine.
  const gltf::Matrix m = gltf::RigidInverse(gltf::EnuToEcef(root)) * gltf::EnuToEcef(frame) *
                         gltf::Turn(frame);
  std::fill(outMin, outMin + 3, INFINITY);
  std::fill(outMax, outMax + 3, -INFINITY);
  for (int corner = 0; corner < 8; ++corner) {
    const double p[3] = {corner & 1 ? max[0] : min[0], corner & 2 ? max[1] : min[1],
                         corner & 4 ? max[2] : min[2]};
    const std::array<double, 3> q = gltf::Apply(m, p);
    for (int k = 0; k < 3; ++k)
      outMin[k] = std::min(outMin[k], q[k]), outMax[k] = std::max(outMax[k], q[k]);
  }
}

std::string TilesetJson(const std::vector<Tile>& tiles, const gltf::Frame& root,
                        const std::vector<std::string>& uris, const std::string& schemaUri,
                        bool replace) {
  using nlohmann::json;
  // Children are written before their parent: a deep tree needs no recursion.
  std::vector<json> written(tiles.size());
  for (size_t i = tiles.size(); i-- > 0;) {
    const Tile& t = tiles[i];
    json box = json::array();
    for (int k = 0; k < 3; ++k) box.push_back((t.min[k] + t.max[k]) / 2);
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 3; ++c) box.push_back(c == k ? (t.max[k] - t.min[k]) / 2 + kBoxMargin : 0.0);
    json& tile = written[i];
    tile = {{"boundingVolume", {{"box", box}}}, {"geometricError", t.geometricError}};
    if (!uris[i].empty()) tile["content"] = {{"uri", uris[i]}};
    if (!t.children.empty()) {
      tile["refine"] = replace ? "REPLACE" : "ADD";
      json& children = tile["children"] = json::array();
      for (uint32_t c : t.children) children.push_back(std::move(written[c]));
    }
  }
  json set = {{"asset", {{"version", "1.1"}, {"generator", "varnel"}}}};
  if (tiles.empty()) return set.dump();
  const gltf::Matrix transform = gltf::EnuToEcef(root);
  written[0]["transform"] = std::vector<double>(transform.begin(), transform.end());
  if (written[0].find("refine") == written[0].end()) written[0]["refine"] = replace ? "REPLACE" : "ADD";
  set["geometricError"] = std::max({Diagonal(tiles[0].min, tiles[0].max), tiles[0].geometricError, 1.0});
  set["schemaUri"] = schemaUri;
  set["root"] = std::move(written[0]);
  return set.dump();
}

}  // namespace varnel::tiles
