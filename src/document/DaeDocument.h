// One COLLADA document for the duration of one call: where it comes from, its element lists,
// the chosen visual scene, unit and up axis, and the temporary files a load created.
// It is also the reader every parse method drives.
#pragma once

#include <cstdint>

#include <varnel/ImportOptions.h>
#include "document/Linked.h"
#include "host/Downloader.h"
#include "host/Path.h"
#include <varnel/String.h>
#include "util/BaseArray.h"
#include "xml/XmlReader.h"

namespace varnel {

class Tag;
class VisualScene;

// Pixels the document's textures may take: each image is resampled to `perImage`, and the
// images together may take `left`, spent as the material builder decodes them.
struct TextureBudget {
  int64_t perImage = ImportOptions().maxTexturePixels;
  int64_t left = ImportOptions().maxDocumentTexturePixels;
  bool decode = true;
};

class DaeDocument : public XmlReader {
 public:
  DaeDocument();
  ~DaeDocument();

  BaseArray<Tag*> topLevelTags{NoStorage{}};
  BaseArray<Tag*> images;
  BaseArray<Tag*> effects;
  BaseArray<Tag*> materials;
  BaseArray<Tag*> geometries;
  BaseArray<Tag*> libraryNodes;
  BaseArray<Tag*> controllers;
  BaseArray<Tag*> visualScenes;
  String path;
  String sourceUrl;
  bool yUp = true;
  bool isDownloaded = false;
  double unitScale = 1.0;
  GeographicLocation location;  // from the asset, extended reading only
  SceneObserver* sceneObserver = nullptr;
  TextureObserver* textureObserver = nullptr;
  int64_t maxOutputBytes = kDefaultMaxOutputBytes;
  VisualScene* activeScene = nullptr;
  StringArray tempFiles;
  IDownloader* downloader = nullptr;
  // Textures come only from inside `textureRoot` ("" for the document's folder) when set.
  bool confineTextures = false;
  String textureRoot;
  TextureBudget textureBudget;
  // Said once: the call's time for downloads ran out, so no further texture is fetched.
  bool downloadTimeUpReported = false;
  // Nodes whose parse has begun, in document order.
  int32_t nodesRead = 0;
  // Filled by FollowLinkedDocuments.
  LinkFailures linkFailures;

  // Fetches (for an "http" address), parses and sorts the document. Never fails visibly.
  void Load(String path);
  // The same for a document held in memory: `size` bytes at `data`, lent for the call. Its
  // references lead where `resolver` says (nowhere when null).
  void LoadMemory(const unsigned char* data, size_t size);
  bool inMemory = false;
  ReferenceResolver* resolver = nullptr;
  // The local file an in-memory document's reference names, from the resolver; "" for none.
  String Resolve(const String& reference) const;
  void ParseDocument();
  void ClearTags();
  void DeleteTempFiles();

  // The download component, created on first use; null when it cannot be created.
  IDownloader* Downloader();

 private:
  // Diagnostics for a path that is no readable file, and for a root that is not COLLADA.
  void ReportMissing();
  void ReportRoot();
  const unsigned char* memoryData_ = nullptr;
  size_t memorySize_ = 0;
};

}  // namespace varnel
