// One COLLADA document for the duration of one call: where it comes from, its element lists,
// the chosen visual scene, unit and up axis, and the temporary files a load created.
// It is also the reader every parse method drives.
#pragma once

#include "host/Downloader.h"
#include "host/Path.h"
#include "host/String.h"
#include "util/BaseArray.h"
#include "xml/XmlReader.h"

namespace varnel {

class Tag;
class VisualScene;

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
  VisualScene* activeScene = nullptr;
  StringArray tempFiles;
  IDownloader* downloader = nullptr;
  // Private folder of this document's downloads (empty until the first one).
  String downloadDir;

  // Fetches (for an "http" address), parses and sorts the document. Never fails visibly.
  void Load(String path);
  void ParseDocument();
  void ClearTags();
  void DeleteTempFiles();

  // Asks the download component to copy `address` to `target`, creating the component on first
  // use. Success is judged by the caller from the target file's existence.
  void Download(const String& address, const String& target);
};

}  // namespace varnel
