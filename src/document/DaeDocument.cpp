#include "document/DaeDocument.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>

#include <string>

#include "host/SafeName.h"
#include "tags/Asset.h"
#include "tags/Controller.h"
#include "tags/Effects.h"
#include "tags/Factory.h"
#include "tags/Image.h"
#include "tags/MaterialBinding.h"
#include "tags/Mesh.h"
#include "tags/SceneGraph.h"
#include "xml/ElementNames.h"
#include "host/TempDir.h"

namespace varnel {
namespace {

// Built when the library loads, like every constant string the readers compare with.
const String kHttp = L"http";

// Numbers are read in the "C" conventions for the duration of a load. The switch is made for the
// calling thread only (uselocale), so other threads of the host never see it, and it is undone
// on every way out, exceptions included.
class NumericLocaleScope {
 public:
  NumericLocaleScope() {
    locale_t current = uselocale(static_cast<locale_t>(0));
    locale_t base = current == LC_GLOBAL_LOCALE ? duplocale(LC_GLOBAL_LOCALE) : duplocale(current);
    if (base) cLocale_ = newlocale(LC_NUMERIC_MASK, "C", base);
    if (cLocale_) previous_ = uselocale(cLocale_);
    else if (base) freelocale(base);
  }
  ~NumericLocaleScope() {
    if (!cLocale_) return;
    uselocale(previous_);
    freelocale(cLocale_);
  }
  NumericLocaleScope(const NumericLocaleScope&) = delete;
  NumericLocaleScope& operator=(const NumericLocaleScope&) = delete;

 private:
  locale_t cLocale_ = static_cast<locale_t>(0);
  locale_t previous_ = static_cast<locale_t>(0);
};

struct BufferScope {
  explicit BufferScope(XmlReader& reader) : reader_(reader) { reader_.AllocateBuffers(); }
  ~BufferScope() { reader_.ReleaseBuffers(); }
  XmlReader& reader_;
};

bool IsExistingFile(const String& path) {
  FileSystemPath file(path);
  return file.Exists() && file.IsFile();
}

bool IsLibraryOrScene(int id) {
  switch (id) {
    case kLibraryAnimations: case kLibraryCameras: case kLibraryControllers:
    case kLibraryEffects: case kLibraryGeometries: case kLibraryImages: case kLibraryLights:
    case kLibraryMaterials: case kLibraryNodes: case kLibraryVisualScenes: case kScene:
      return true;
    default:
      return false;
  }
}

// Keeps the element when `query` accepts it, deletes it otherwise.
template <class T>
void Keep(Tag* tag, T* (Tag::*query)(), BaseArray<Tag*>& list) {
  if (!tag) return;
  if ((tag->*query)()) list.Add(tag);
  else delete tag;
}

}  // namespace

DaeDocument::DaeDocument() = default;

DaeDocument::~DaeDocument() {
  try {
    DeleteTempFiles();
    ClearTags();
  } catch (...) {
  }
  if (downloader) {
    downloader->Release();
    downloader = nullptr;
  }
}

void DaeDocument::Load(String location) {
  DeleteTempFiles();
  inMemory = false;
  String working = location;
  working.TrimLeft();
  working.TrimRight();
  isDownloaded = false;
  sourceUrl.Empty();

  if (working.Left(4).CompareNoCase(kHttp) == 0) {
    isDownloaded = true;
    FileSystemPath tempDir(TavuOSDir::GetTempPathW());
    if (tempDir.Exists() && tempDir.IsDirectory()) {
      // The document and its textures share one allowance of time, started here.
      if (IDownloader* component = Downloader()) component->StartCall();
      // The copy lands in a private folder of its own under a name made safe from the address.
      HRESULT result;
      String target = DownloadToTempFile(Downloader(), working, working, &result);
      if (target.IsEmpty()) {
        const char* limit = DownloadLimitText(result);
        report(limit ? DiagnosticKind::kLimitReached : DiagnosticKind::kUnreadable, 0, false, [&] {
          return "the download of " + working.ToUtf8() + (limit ? std::string(" stopped: ") + limit : " failed");
        });
        return;
      }
      sourceUrl = working;
      working = target;
      tempFiles.Insert(working, -1);
    }
  }
  path = working;

  NumericLocaleScope numericLocale;
  BufferScope buffers(*this);
  ParseDocument();
}

void DaeDocument::LoadMemory(const unsigned char* data, size_t size) {
  DeleteTempFiles();
  isDownloaded = false;
  sourceUrl.Empty();
  path.Empty();
  inMemory = true;
  memoryData_ = data;
  memorySize_ = size;
  NumericLocaleScope numericLocale;
  BufferScope buffers(*this);
  ParseDocument();
  memoryData_ = nullptr;
}

String DaeDocument::Resolve(const String& reference) const {
  if (!resolver) return String();
  return String::FromUtf8(resolver->Resolve(reference.ToUtf8().c_str()));
}

IDownloader* DaeDocument::Downloader() {
  if (downloader) return downloader;
  IUnknown* unknown = nullptr;
  if (HalvexCreateInstance(CLSID_Downloader, nullptr, CLSCTX_ALL, IID_IUnknown,
                           reinterpret_cast<void**>(&unknown)) < 0 || !unknown)
    return nullptr;
  void* typed = nullptr;
  if (unknown->QueryInterface(IID_IDownloader, &typed) >= 0) downloader = static_cast<IDownloader*>(typed);
  unknown->Release();
  return downloader;
}

void DaeDocument::ParseDocument() {
  ClearTags();
  linkFailures.clear();
  nodesRead = 0;
  yUp = true;
  unitScale = 1.0;
  activeScene = nullptr;
  CloseStream();

  if (inMemory) {
    if (!OpenMemory(memoryData_, memorySize_)) {
      report(DiagnosticKind::kUnreadable, 0, false, [] { return std::string(std::strerror(errno)); });
      return;
    }
  } else {
    if (!IsExistingFile(path)) {
      if (report) ReportMissing();
      return;
    }
    stream = std::fopen(path.ToNativePath().c_str(), "rb");
    if (!stream) {
      report(DiagnosticKind::kUnreadable, 0, false, [] { return std::string(std::strerror(errno)); });
      return;
    }
    ResetReader();
  }
  DetectByteOrderMark();
  if (utf16 && extended && !TranscodeUtf16()) {
    report(DiagnosticKind::kUnreadable, 0, false, [] { return std::string("the UTF-16 text could not be converted"); });
    return;
  }

  if (!ReadRawToken()) {
    report(DiagnosticKind::kNotXml, 0, false, [] { return std::string("the document is empty"); });
    CloseStream();
    return;
  }
  if (report && !isTagToken)
    report(DiagnosticKind::kNotXml, 1, false, [] { return std::string("the document does not start with a tag"); });
  if (tokenLength >= 14 && std::memcmp(tokenText, "<?xml version=", 14) == 0) {
    bool more = NextToken();
    while (more && tokenText[0] == '?') more = NextToken();
    if (!more) {
      CloseStream();
      return;
    }
  }

  int libraryState = 0;
  stopped = false;
  UrlTag* sceneReference = nullptr;
  AssetTag* asset = nullptr;
  // The token skipped here is the root start tag, whose attributes are never read.
  if (report) ReportRoot();
  // The plain reading takes UTF-16 byte by byte, which keeps ASCII whole and nothing else.
  if (report && utf16 && !extended && Utf16BeyondAscii())
    report(DiagnosticKind::kEncoding, 0, true, [] {
      return std::string("a UTF-16 document: its characters beyond ASCII are not read");
    });
  if (!NextToken()) CloseStream();

  for (bool firstPass = true; stream && !stopped; firstPass = false) {
    int id = IdentifyTag();
    if (id == kCOLLADA) {
      if (firstPass) continue;
      if (wasEndTag) break;
    }
    if (libraryState != 0) {
      switch (id) {
        case kAsset: case kCamera: case kExtra: case kLight:
          if (!SkipElement(id)) {
            stopped = true;
            CloseStream();
          }
          continue;
        case kController: Keep(CreateTag(*this, id), &Tag::AsControllerTag, controllers); continue;
        case kEffect: Keep(CreateTag(*this, id), &Tag::AsEffectTag, effects); continue;
        case kGeometry: Keep(CreateTag(*this, id), &Tag::AsGeometryTag, geometries); continue;
        case kImage: Keep(CreateTag(*this, id), &Tag::AsImageTag, images); continue;
        case kMaterial: Keep(CreateTag(*this, id), &Tag::AsMaterialTag, materials); continue;
        case kNode: Keep(CreateTag(*this, id), &Tag::AsNodeTag, libraryNodes); continue;
        case kVisualScene: Keep(CreateTag(*this, id), &Tag::AsVisualScene, visualScenes); continue;
        case kInstanceVisualScene:
          if (Tag* tag = CreateTag(*this, id)) {
            topLevelTags.Add(tag);
            if (UrlTag* reference = tag->AsUrlTag()) sceneReference = reference;
          }
          continue;
        default:
          break;
      }
    }
    if (IsLibraryOrScene(id)) {
      libraryState = wasEndTag ? 0 : id;
      continue;
    }
    if (Tag* tag = CreateTag(*this, id)) {
      topLevelTags.Add(tag);
      if (!asset) asset = tag->AsAssetTag();
    }
  }
  CloseStream();

  if (sceneReference && !sceneReference->url.IsEmpty()) {
    for (int i = 0; i < visualScenes.count; ++i) {
      Tag* scene = visualScenes[i];
      if (i == 0 || scene->GetId() == sceneReference->url) activeScene = scene->AsVisualScene();
    }
  }
  if (!activeScene) {
    report(DiagnosticKind::kNoScene, 0, false, [&] {
      if (visualScenes.count == 0) return std::string("the document holds no visual scene that was read");
      return std::string("no <scene> names a visual scene");
    });
  }
  if (asset) {
    yUp = asset->yUp;
    unitScale = asset->meter;
    location = asset->location;
    if (!asset->backFaceCulling) {
      for (Tag* tag : effects)
        if (EffectTag* effect = tag ? tag->AsEffectTag() : nullptr) effect->cullBackFaces = false;
    }
  }
}

void DaeDocument::ReportMissing() {
  FileSystemPath file(path);
  if (file.Exists() && file.IsDirectory())
    report(DiagnosticKind::kFolder, 0, false, [] { return std::string("Is a directory"); });
  else if (file.Exists())
    report(DiagnosticKind::kUnreadable, 0, false, [] { return std::string("not a regular file"); });
  else
    report(DiagnosticKind::kFileMissing, 0, false, [] { return std::string("No such file or directory"); });
}

void DaeDocument::ReportRoot() {
  // Without a declaration first, the root is still the raw tag ("<COLLADA ...>"). A DOCTYPE or
  // comment standing first says nothing about the root.
  const char* text = tokenText;
  if (*text == '<') ++text;
  if (*text == '!' || *text == '?' || (!isTagToken && tokenText[0] != '<')) return;
  std::string name(text, std::strcspn(text, " \t\r\n/>"));
  const size_t colon = name.rfind(':');
  if (name.compare(colon == std::string::npos ? 0 : colon + 1, std::string::npos, "COLLADA") == 0) return;
  report(DiagnosticKind::kNotCollada, CurrentLine(), false,
         [&] { return "the root element is <" + name + ">, not <COLLADA>"; });
}

void DaeDocument::ClearTags() {
  BaseArray<Tag*>* lists[] = {&topLevelTags, &images, &effects, &materials,
                              &geometries, &libraryNodes, &controllers, &visualScenes};
  for (BaseArray<Tag*>* list : lists) {
    for (Tag* tag : *list) delete tag;
    list->Clear();
  }
  activeScene = nullptr;
}

void DaeDocument::DeleteTempFiles() {
  // Removes each file and, once empty, the private folder it was downloaded into.
  for (int i = 0; i < tempFiles.GetSize(); ++i) DeleteDownloadedFile(tempFiles[i]);
  tempFiles.RemoveAll();
}

}  // namespace varnel
