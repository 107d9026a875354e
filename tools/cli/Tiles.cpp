#include "cli/Tiles.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <meshoptimizer.h>

#include <varnel/Varnel.h>

#include "cli/Modules.h"
#include "gis/Placement.h"
#include "gis/PrivateFolder.h"
#include "gis/Utf8.h"
#include "gltf/Writer.h"
#include "tiles/Lod.h"
#include "tiles/Textures.h"
#include "tiles/Tileset.h"
#include "tiles/Viewer.h"

namespace varnel::cli {

namespace {

namespace fs = std::filesystem;

// f(0), ..., f(count - 1) on up to `jobs` threads.
void Parallel(size_t count, int jobs, const std::function<void(size_t)>& f) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < count;) f(i);
  };
  const size_t threads = std::min(static_cast<size_t>(std::max(jobs, 1)), count);
  std::vector<std::thread> workers;
  for (size_t t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& t : workers) t.join();
}

// The second reading of a document says nothing the first did not.
class Quiet : public DiagnosticReceiver {
 public:
  void Report(const Diagnostic&) override {}
};

// A document as the split needs it, read once however many placemarks show it.
struct Document {
  size_t file = 0;
  const gis::Model* first = nullptr;  // the first model showing it
  bool usable = false;
  double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
  uint64_t bytes = 0;
  std::vector<uint32_t> images;
  GeographicLocation own;
  gltf::Frame frame;  // placed by -a_srs: the east-north-up frame at its origin
  std::string reason;
  bool said = false;
};

struct Placed {
  size_t file = 0;
  const gis::Model* model = nullptr;
  uint32_t document = 0;
  gltf::Frame frame;
};

// Images by identity (their bytes' hash and size), each with its size.
struct ImageTable {
  std::mutex lock;
  std::map<std::pair<size_t, size_t>, uint32_t> ids;
  std::vector<uint64_t> bytes;

  uint32_t Id(std::string_view data) {
    std::lock_guard<std::mutex> guard(lock);
    auto [it, added] = ids.emplace(std::make_pair(std::hash<std::string_view>()(data), data.size()),
                                   uint32_t(bytes.size()));
    if (added) bytes.push_back(data.size());
    return it->second;
  }
};

// What a document's content costs in a tile: its vertices at their largest with an index each,
// its images, and the JSON of its nodes, mesh, accessors and material and its feature row (some
// 1,400 bytes).
constexpr uint64_t kPointBytes = 40, kModelBytes = 1536;

void Measure(const gltf::Model& m, ImageTable& images, Document& d) {
  std::copy(m.min, m.min + 3, d.min);
  std::copy(m.max, m.max + 3, d.max);
  d.bytes = m.positions.size() / 3 * kPointBytes + kModelBytes;
  for (size_t i = 0; i < m.materials.size(); ++i) {
    const gltf::Material& material = m.materials[i];
    if (!material.pixels) continue;
    auto file = m.files.find(int32_t(i));
    const size_t size = size_t(material.width) * size_t(material.height) * size_t(material.channels);
    d.images.push_back(file != m.files.end()
                           ? images.Id(file->second.first)
                           : images.Id(std::string_view(reinterpret_cast<const char*>(material.pixels), size)));
  }
}

// A model whose coordinates are in -a_srs (once --offset is added) rewritten into the
// east-north-up frame at its origin, which `frame` becomes: tiles place by such frames. Each
// point goes through PROJ, so a projection's curvature and scale hold to the last vertex; normals
// turn by its axes at the origin. False (said) when PROJ cannot place it.
bool Reproject(gltf::Model& m, const gis::PlaceRequest& request, gltf::Frame& frame,
               DiagnosticReceiver* diagnostics) {
  double offset[3] = {0, 0, 0};
  std::copy_n(request.offset.begin(), std::min<size_t>(request.offset.size(), 3), offset);
  std::unique_ptr<gis::Placer> toEarth =
      gis::Placer::ForProjected(request.sourceCrs, offset, "EPSG:4978", diagnostics);
  std::unique_ptr<gis::Placer> toDegrees =
      gis::Placer::ForProjected(request.sourceCrs, offset, "EPSG:4979", diagnostics);
  if (!toEarth || !toDegrees) return false;
  double at[3] = {0, 0, 0};
  const size_t count = m.positions.size() / 3;
  std::vector<double> points(count * 3);
  for (size_t i = 0; i < points.size(); ++i) points[i] = m.origin[i % 3] + m.positions[i];
  if (!toDegrees->PlacePoints(&at[0], &at[1], &at[2], 3, 1) ||
      (count && !toEarth->PlacePoints(points.data(), points.data() + 1, points.data() + 2, 3, count))) {
    const std::string text = "PROJ cannot place the model from " + request.sourceCrs;
    diagnostics->Report(Diagnostic{DiagnosticKind::kPlacement, 0, text.c_str(), false});
    return false;
  }
  frame = {};
  frame.located = true;
  frame.longitude = at[0], frame.latitude = at[1], frame.height = at[2];
  const gltf::Matrix toFrame = gltf::RigidInverse(gltf::EnuToEcef(frame));
  std::fill(m.min, m.min + 3, INFINITY);
  std::fill(m.max, m.max + 3, -INFINITY);
  for (size_t i = 0; i < count; ++i) {
    const double p[3] = {points[3 * i], points[3 * i + 1], points[3 * i + 2]};
    const std::array<double, 3> q = gltf::Apply(toFrame, p);
    if (i == 0) std::copy(q.begin(), q.end(), m.origin);
    for (size_t k = 0; k < 3; ++k) {
      m.positions[3 * i + k] = float(q[k] - m.origin[k]);
      m.min[k] = std::min(m.min[k], q[k]), m.max[k] = std::max(m.max[k], q[k]);
    }
  }
  for (size_t i = 0; i + 2 < m.normals.size(); i += 3) {
    double n[3] = {gltf::FromHalf(m.normals[i]), gltf::FromHalf(m.normals[i + 1]), gltf::FromHalf(m.normals[i + 2])};
    toEarth->PlaceNormal(n[0], n[1], n[2]);
    for (size_t k = 0; k < 3; ++k)  // the frame's turn alone
      m.normals[i + k] = meshopt_quantizeHalf(float(toFrame[k] * n[0] + toFrame[4 + k] * n[1] + toFrame[8 + k] * n[2]));
  }
  return true;
}

ImportOptions SilentImport(const gis::Model& model, const ReadOptions& read, Quiet& quiet) {
  ImportOptions options{read.extended, &quiet};
  options.confineTextures = read.confineTextures;
  return gis::ImportFor(model, options);
}

// Writes `path` whole; the first failure's errno is kept in `error`.
void WriteFile(const std::string& path, const std::string& bytes, int& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok && !error) error = errno ? errno : EIO;
}

// Where the build (or the installation) put Cesium's Build/Cesium; "" when it is not there.
std::string CesiumFolder() {
  const std::string tool = ToolPath();
  const std::string folder = tool.empty() ? "." : tool.substr(0, tool.rfind('/'));
  for (const std::string& candidate : {folder + "/cesium", folder + "/../share/varnel/cesium"})
    if (fs::exists(candidate + "/Cesium.js")) return candidate;
  return "";
}

// The tileset's folder under a temporary name beside the destination, renamed into place when
// complete and removed otherwise.
class StagedFolder {
 public:
  StagedFolder(std::string destination, Interrupts& interrupts)
      : destination_(std::move(destination)), interrupts_(interrupts) {}
  ~StagedFolder() {
    if (!path_.empty()) {
      gis::RemoveFolder(path_);
      interrupts_.Untrack(path_);
    }
  }
  // False (with the line said) when the destination is something else than a tileset, or no
  // folder can be made beside it.
  bool Open() {
    std::error_code e;
    if (fs::exists(destination_, e) &&
        (!fs::is_directory(destination_, e) ||
         (!fs::is_empty(destination_, e) && !fs::exists(destination_ + "/tileset.json", e)))) {
      Report(destination_, "exists and is not a tileset: not replaced");
      return false;
    }
    std::string pattern = (destination_.ends_with("/") ? destination_.substr(0, destination_.size() - 1)
                                                       : destination_) + ".partial-XXXXXX";
    fs::create_directories(fs::path(pattern).parent_path(), e);
    if (!mkdtemp(pattern.data())) {
      CannotWrite(destination_, errno);
      return false;
    }
    path_ = pattern;
    interrupts_.Track(path_);
    return true;
  }
  const std::string& path() const { return path_; }
  // Replaces an earlier tileset there; false (said) when it cannot.
  bool Commit() {
    std::error_code e;
    const std::string old = path_ + ".old";
    const bool replacing = fs::exists(destination_, e);
    {
      std::lock_guard<std::mutex> guard(interrupts_.mutex());
      if ((replacing && rename(destination_.c_str(), old.c_str()) != 0) ||
          rename(path_.c_str(), destination_.c_str()) != 0) {
        CannotWrite(destination_, errno);
        return false;
      }
    }
    interrupts_.Untrack(path_);
    path_.clear();
    if (replacing) gis::RemoveFolder(old);
    return true;
  }

 private:
  std::string destination_, path_;
  Interrupts& interrupts_;
};

}  // namespace

int RunTiles(const TilesCommand& command, const ReadOptions& read, const PlaceOptions& place) {
  Interrupts& interrupts = *command.interrupts;
  const std::string& out = command.output;
  std::string cesium;
  if (command.viewer && (cesium = CesiumFolder()).empty()) {
    Report(out, "--viewer: Cesium is not beside the tool (build with the npm packages: make deps)");
    return 2;
  }

  // The models of every file, and the documents they show.
  std::vector<std::unique_ptr<Inputs>> inputs;
  std::vector<Placed> placed;
  std::vector<Document> documents;
  std::map<std::pair<std::string, std::string>, uint32_t> documentOf;  // (path, texture root)
  for (size_t f = 0; f < command.inputs.size(); ++f) {
    Diagnostics diagnostics(command.inputs[f], read);
    inputs.push_back(std::make_unique<Inputs>());
    if (!inputs.back()->Open(command.inputs[f], place, diagnostics)) {
      diagnostics.NoOutput();
      continue;
    }
    for (const gis::Model* model : inputs.back()->chosen()) {
      auto [it, added] = documentOf.emplace(std::make_pair(model->document, model->textureRoot),
                                            uint32_t(documents.size()));
      if (added) {
        documents.emplace_back();
        documents.back().file = f, documents.back().first = model;
      }
      Placed p;
      p.file = f, p.model = model, p.document = it->second;
      placed.push_back(p);
    }
  }
  if (placed.empty()) return 1;

  // Each document read once for its extent, its cost and its images.
  ImageTable images;
  Parallel(documents.size(), command.jobs, [&](size_t i) {
    if (interrupts.signal()) return;
    Document& d = documents[i];
    Diagnostics diagnostics(command.inputs[d.file], read);
    gltf::Model staged;
    ImportOptions import = diagnostics.Import(d.first);
    import.geographicLocation = &d.own;
    import.textureObserver = &staged;
    Varnel().CreateDataBufferFromFile(String::FromNativePath(d.first->document), staged, import);
    d.usable = staged.Finish();
    if (d.usable && !place.request.sourceCrs.empty())
      d.usable = Reproject(staged, place.request, d.frame, &diagnostics);
    if (d.usable) Measure(staged, images, d);
    else d.reason = diagnostics.TakeReason();
  });
  if (interrupts.signal()) interrupts.Exit();

  // Where each model stands; a model nothing places refuses the whole set.
  std::vector<gltf::Frame> frames;
  std::vector<Placed> kept;
  for (Placed& p : placed) {
    Document& d = documents[p.document];
    const std::string& file = command.inputs[p.file];
    const std::string prefix = gis::ModelPrefix(file, p.model->name, p.model->source);
    if (!d.usable) {
      if (!d.said) Report(file, d.reason.c_str());  // once, however many placemarks show it
      d.said = true;
      continue;
    }
    if (!place.request.sourceCrs.empty()) {
      p.frame = d.frame;
      frames.push_back(p.frame);
      kept.push_back(p);
      continue;
    }
    std::optional<gis::Placement> placement = gis::PlacementOf(p.model->placement, d.own, place.request);
    if (!placement) {
      Report(file, (prefix + "not placed on the earth: give --origin, -a_srs, or a KML that places it").c_str());
      return 1;
    }
    Diagnostics diagnostics(file, read);
    std::optional<double> height =
        gis::EllipsoidalHeightOf(*placement, place.request.terrain.get(), &diagnostics);
    if (!height) return diagnostics.NoOutput();
    gltf::Frame& frame = p.frame;
    frame.located = true;
    frame.longitude = placement->location.longitude, frame.latitude = placement->location.latitude;
    frame.height = *height;
    frame.heading = placement->heading, frame.tilt = placement->tilt, frame.roll = placement->roll;
    std::copy(placement->scale, placement->scale + 3, frame.scale);
    frames.push_back(frame);
    kept.push_back(p);
  }
  placed = std::move(kept);
  if (placed.empty()) return 1;

  // The split, on the models' placed boxes in the set's frame.
  const gltf::Frame root = tiles::CentreFrame(frames);
  frames = {};
  std::vector<tiles::Item> items(placed.size());
  for (size_t i = 0; i < placed.size(); ++i) {
    const Document& d = documents[placed[i].document];
    tiles::PlacedBox(placed[i].frame, d.min, d.max, root, items[i].min, items[i].max);
    items[i].bytes = d.bytes;
    items[i].images = d.images;
  }
  std::vector<tiles::Tile> tiles = tiles::Split(items, images.bytes, command.maxTileBytes);
  items = {};
  std::vector<size_t> content;
  for (size_t i = 0; i < tiles.size(); ++i)
    if (!tiles[i].items.empty()) content.push_back(i);
  if (read.verbose)
    for (size_t i : content)
      if (tiles[i].bytes > command.maxTileBytes) {
        const Placed& p = placed[tiles[i].items[0]];
        Report(command.inputs[p.file],
               (gis::ModelPrefix(command.inputs[p.file], p.model->name, p.model->source) +
                "about " + std::to_string(tiles[i].bytes) +
                " bytes, over --max-tile-bytes: a tile of its own").c_str());
      }

  StagedFolder folder(out, interrupts);
  if (!folder.Open()) return 2;
  std::error_code e;
  fs::create_directories(folder.path() + "/tiles", e);

  // The tiles' content, tile by tile: only the tiles under way are held, and with --lod the
  // copies children hand up to parents not yet made. Tiles go from the last: a parent comes
  // after its subtree, which a task taken earlier holds, so its wait ends.
  std::vector<std::string> uris(tiles.size());
  std::vector<tiles::Copy> copies(command.lod ? tiles.size() : 0);
  std::vector<char> done(tiles.size(), 0);
  std::condition_variable finished;
  std::mutex lock;
  std::string failure;  // the first reason the set cannot be written
  int error = 0;
  std::vector<size_t> order;
  for (size_t i = tiles.size(); i-- > 0;)
    if (command.lod || !tiles[i].items.empty()) order.push_back(i);
  Parallel(order.size(), command.jobs, [&](size_t c) {
    const size_t index = order[c];
    tiles::Tile& tile = tiles[index];
    tiles::Copy copy;
    struct Done {  // told however the task ends: a parent waits for it
      std::function<void()> f;
      ~Done() { f(); }
    } told{[&] {
      std::lock_guard<std::mutex> guard(lock);
      if (command.lod) copies[index] = std::move(copy);
      done[index] = 1;
      finished.notify_all();
    }};
    if (command.lod && !tile.children.empty()) {
      std::unique_lock<std::mutex> guard(lock);
      finished.wait(guard, [&] {
        return std::all_of(tile.children.begin(), tile.children.end(), [&](uint32_t k) { return done[k]; });
      });
      for (uint32_t k : tile.children) tiles::Join(copy, std::move(copies[k]));
    }
    if (interrupts.signal()) return;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!failure.empty() || error) return;
    }
    gltf::SceneOptions options;
    options.tile = true;
    options.tileFrame = root;
    for (int k = 0; k < 3; ++k) options.tileCentre[k] = (tile.min[k] + tile.max[k]) / 2;
    options.schemaUri = "../schema.json";
    gltf::Scene scene(options);
    std::deque<std::string> resampled;
    Quiet quiet;
    size_t added = 0;
    if (!tile.children.empty()) {
      // The children's copies within this tile's share of error, less what they already carry.
      const double size = std::hypot(tile.max[0] - tile.min[0], tile.max[1] - tile.min[1],
                                     tile.max[2] - tile.min[2]);
      const double error = tiles::kLodErrorShare * size;
      tiles::Simplify(copy, std::max(error - copy.error, 0.0), command.maxTileBytes, kPointBytes, kModelBytes);
      tile.geometricError = std::max(error, copy.error);
      for (uint32_t k : tile.children) tile.geometricError = std::max(tile.geometricError, tiles[k].geometricError);
      tiles::AddTo(copy, root, scene);
      added = copy.features.size();
    }
    // Each document is read once a tile; the placemarks after the first share its reading.
    std::map<uint32_t, const gltf::Model*> readings;
    for (uint32_t i : tile.items) {
      const Placed& p = placed[i];
      std::unique_ptr<gltf::Model> staged;
      auto reading = readings.find(p.document);
      if (reading != readings.end()) {
        if (!reading->second) continue;  // changed since its first reading
        staged = reading->second->Share();
      } else {
        staged = std::make_unique<gltf::Model>();
        ImportOptions import = SilentImport(*p.model, read, quiet);
        import.textureObserver = staged.get();
        Varnel().CreateDataBufferFromFile(String::FromNativePath(p.model->document), *staged, import);
        gltf::Frame same;
        const bool usable = staged->Finish() && (place.request.sourceCrs.empty() ||
                                                 Reproject(*staged, place.request, same, &quiet));
        if (usable && command.maxTexture > 0) tiles::LimitTextures(*staged, command.maxTexture, resampled);
        readings.emplace(p.document, usable ? staged.get() : nullptr);
        if (!usable) continue;
      }
      scene.Add(std::move(staged), gis::Printable(p.model->name), gis::Printable(p.model->source),
                p.frame, p.model->description);
      ++added;
    }
    // A tile of models without surfaces has no content.
    if (!added || !scene.Build()) {
      if (added && !scene.why.ends_with("no polygons")) {
        std::lock_guard<std::mutex> guard(lock);
        if (failure.empty()) failure = "tile " + std::to_string(index) + ": " + scene.why;
      }
      return;
    }
    const std::string uri = "tiles/" + std::to_string(index) + ".glb";
    int written = 0;
    std::FILE* f = std::fopen((folder.path() + "/" + uri).c_str(), "wb");
    bool ok = f && scene.WriteGlb([f](const void* data, size_t size) {
      return std::fwrite(data, 1, size, f) == size;
    });
    if ((f && std::fclose(f) != 0) || !ok) written = errno ? errno : EIO;
    if (command.lod && index > 0) {
      // What the parent starts from: this tile's content as written.
      const double carried = copy.error;
      copy = {};
      scene.Export(copy.surfaces, copy.features);
      copy.error = carried;
    }
    std::lock_guard<std::mutex> guard(lock);
    if (written && !error) error = written;
    uris[index] = uri;
  });
  if (interrupts.signal()) interrupts.Exit();
  if (failure.empty() && std::all_of(uris.begin(), uris.end(), [](auto& u) { return u.empty(); }))
    failure = "no model has triangles or polygons: nothing to show";
  if (!failure.empty()) {
    Report(out, failure.c_str());
    return 1;
  }

  const std::string schema = gltf::FeatureSchema();
  const std::string tileset = tiles::TilesetJson(tiles, root, uris, "schema.json", command.lod);
  WriteFile(folder.path() + "/schema.json", schema, error);
  WriteFile(folder.path() + "/tileset.json", tileset, error);
  if (command.viewer) {
    WriteFile(folder.path() + "/index.html", tiles::ViewerPage(command.imagery), error);
    // Hard links where the build's copy is on the same file system; else a copy.
    fs::copy(cesium, folder.path() + "/cesium",
             fs::copy_options::recursive | fs::copy_options::create_hard_links, e);
    if (e) {
      fs::remove_all(folder.path() + "/cesium", e);
      fs::copy(cesium, folder.path() + "/cesium", fs::copy_options::recursive, e);
    }
    if (e && !error) error = e.value();
  }
  if (error) return CannotWrite(out, error);
  return folder.Commit() ? 0 : 2;
}

}  // namespace varnel::cli

VARNEL_MODULE_ENTRY int varnel_module_tiles(const varnel::cli::TilesCommand* command,
                                            const varnel::cli::ReadOptions* read,
                                            const varnel::cli::PlaceOptions* place) {
  return varnel::cli::RunTiles(*command, *read, *place);
}
