// One COLLADA document for the duration of one call: where it comes from, its element lists,
// the chosen visual scene, unit and up axis, and the temporary files a load created.
// It is also the element source every parse method reads from.
#pragma once

#include <cstdint>

#include <varnel/ImportOptions.h>
#include "document/Linked.h"
#include "host/Downloader.h"
#include "host/Path.h"
#include <varnel/String.h>
#include "util/BaseArray.h"
#include "tags/ElementSource.h"
#include "tags/Image.h"

namespace varnel {

class Tag;
class VisualScene;

// A reference as a local path: a "file:" address made a path, %-escapes decoded.
String LocalPath(String reference);

class DaeDocument : public ElementSource {
 public:
  DaeDocument();
  ~DaeDocument();

  // The call's context, which the loader sets before Load.
  using XmlReader::context;
  // Whether the parse stopped before the input's end.
  using XmlReader::stopped;
  // For runs that drive the element parse by hand, or keep one document's buffers across many
  // inputs (the fuzzers and benchmarks).
  using XmlReader::AllocateBuffers;
  using XmlReader::CloseStream;
  using XmlReader::OpenFile;
  using XmlReader::OpenMemory;
  using XmlReader::ReleaseBuffers;

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
  VisualScene* activeScene = nullptr;
  StringArray tempFiles;
  IDownloader* downloader = nullptr;
  TextureBudget textureBudget;
  // Said once: the call's time for downloads ran out, so no further texture is fetched.
  bool downloadTimeUpReported = false;
  // Filled by FollowLinkedDocuments.
  LinkFailures linkFailures;

  // Fetches (for an "http" address), parses and sorts the document. Never fails visibly.
  void Load(String path);
  // The same for a document held in memory: `size` bytes at `data`, lent for the call. Its
  // references lead where the options' resolver says (nowhere without one).
  void LoadMemory(const unsigned char* data, size_t size);
  bool inMemory = false;
  // The local file an in-memory document's reference names, from the resolver; "" for none.
  String Resolve(const String& reference) const;
  void ParseDocument();
  void ClearTags();
  void DeleteTempFiles();

  // The download component, created on first use; null when it cannot be created.
  IDownloader* Downloader();
  // Where an image's reference leads (ImageFiles.cpp).
  void ResolveImage(ImageTag& image) override;

 private:
  // Diagnostics for a path that is no readable file, and for a root that is not COLLADA.
  void ReportMissing();
  void ReportRoot();
  const unsigned char* memoryData_ = nullptr;
  size_t memorySize_ = 0;
};

}  // namespace varnel
