// The models a file holds: a COLLADA document is one model; a KMZ, a ZAE or a KML file beside
// its models may hold several, each with its placement on the earth.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <varnel/ImportOptions.h>

#include "gis/Placement.h"

namespace varnel::gis {

struct Model {
  std::string name;      // the placemark's name, else the document's file name
  std::string source;    // what the user named, with "!/entry" for a document inside an archive
  std::string document;  // the local path (or address) the library reads; valid while the set lives
  std::optional<Placement> placement;  // from KML; none for a bare document
  // The folder tree textures are confined to: the unpacked archive for a model inside one (its
  // documents reach shared folders with "../"), the KML's folder for a model beside a KML, ""
  // for a document the user named (or an address).
  std::string textureRoot;
  std::string description{};  // the placemark's, "" when it has none
  // A document opened from memory: its bytes, lent by whoever opened the set; `document` is "".
  std::string_view memory{};
};

// What a line about a model of the file `opened` says after naming that file: "model 'NAME'
// (ENTRY): ", the entry as the archive holds it or the document's path; "" for the file itself.
std::string ModelPrefix(const std::string& opened, const std::string& name,
                        const std::string& source);

// `import` for reading `model`: a model that an archive or a KML names takes textures only
// from its texture root, whatever `import` asked; what the user named keeps `import`'s choice.
ImportOptions ImportFor(const Model& model, ImportOptions import);

// Caps that stop archive bombs and runaway KML. Each refusal is reported.
struct ArchiveLimits {
  int64_t maxEntries = 10000;
  int64_t maxTotalBytes = int64_t{1} << 30;  // uncompressed, all entries together
  // Uncompressed to compressed size, for entries above `ratioFloorBytes`.
  double maxRatio = 200;
  int64_t ratioFloorBytes = int64_t{1} << 20;
  // A KML document or a ZAE manifest is read whole: it may be no larger.
  int64_t maxKmlBytes = int64_t{64} << 20;
  int64_t maxModels = 10000;  // placed by one KML document
};

struct OpenOptions {
  ImportOptions import;  // its receiver also hears the archive and KML diagnostics
  ArchiveLimits limits;
  bool terrain = false;  // ground heights will place the ground-relative altitude modes
  // Fetch a model that a local archive or KML names by an http(s) address. The file opened
  // itself may always be an address: the user asked for it.
  bool allowNetwork = false;
};

// Opens a file and lists its models. An archive is unpacked into its own folder inside the
// process's private temporary folder, removed when the set goes.
class ModelSet {
 public:
  ModelSet();
  ~ModelSet();
  ModelSet(const ModelSet&) = delete;
  ModelSet& operator=(const ModelSet&) = delete;

  // False (with a diagnostic) when the file cannot be read or holds no model. What is neither
  // an archive nor KML (a COLLADA document, an address) is one model without placement, left
  // for the library to read. The models of an earlier Open go.
  bool Open(const std::string& path, const OpenOptions& options);
  // The same for a file's bytes, lent while the set lives: an archive is unpacked from them, a
  // COLLADA document is one model read from them. `name` stands for the file in sources and
  // messages. A KML document is refused: it has no folder for the models it names.
  bool OpenMemory(std::string_view bytes, const std::string& name, const OpenOptions& options);
  const std::vector<Model>& models() const { return models_; }

 private:
  void Close();
  // `bytes`: the archive's, else it is read from `path`.
  bool OpenArchive(const std::string& path, const std::string_view* bytes,
                   const OpenOptions& options);
  bool OpenKml(const std::string& path, const OpenOptions& options);

  std::vector<Model> models_;
  std::string folder_;  // the unpacked archive, empty for none
};

}  // namespace varnel::gis
