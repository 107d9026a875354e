#include <varnel/Varnel.h>

#include <memory>
#include <new>
#include <string>

#include "assembly/SceneCollector.h"
#include "document/DaeDocument.h"
#include "document/Linked.h"
#include "facade/Settings.h"
#include <varnel/Geometry.h>
#include <varnel/DaeDisplayList.h>
#include <varnel/DataBufferWriter.h>
#include "output/DisplayListManager.h"
#include "output/GeometryManager.h"
#include "tags/SceneGraph.h"

namespace varnel {
namespace {

// Where a call's document comes from: a path or address, or bytes lent for the call.
struct Source {
  String path;
  const unsigned char* data = nullptr;
  size_t size = 0;
  bool memory = false;
};

void Load(DaeDocument& document, const Source& source, const ImportOptions& options,
          DiagnosticReceiver* receiver) {
  document.extended = options.extended;
  document.report.receiver = receiver;
  document.sceneObserver = options.sceneObserver;
  document.textureObserver = options.textureObserver;
  document.maxOutputBytes = options.maxOutputBytes;
  document.confineTextures = options.confineTextures;
  document.resolver = options.resolver;
  if (options.textureRoot) document.textureRoot = String::FromNativePath(options.textureRoot);
  document.textureBudget = {options.maxTexturePixels, options.maxDocumentTexturePixels,
                            options.decodeTextures};
  if (source.memory) document.LoadMemory(source.data, source.size);
  else document.Load(source.path);
  if (options.extended) FollowLinkedDocuments(document);
  if (options.geographicLocation && document.location.found)
    *options.geographicLocation = document.location;
}

// Hands every diagnostic on to the caller's receiver and keeps the first that explains the
// call's result: under the extended reading, what that reading reads itself explains nothing.
class ResultKeeper : public DiagnosticReceiver {
 public:
  ResultKeeper(const ImportOptions& options, ImportResult& result)
      : forward_(options.diagnostics), extended_(options.extended), result_(result) {}
  void Report(const Diagnostic& diagnostic) override {
    if (!kept_ && !(extended_ && diagnostic.extendedReads)) {
      kept_ = true;
      result_.kind = diagnostic.kind;
      result_.line = diagnostic.line;
      result_.message = diagnostic.message ? diagnostic.message : "";
      result_.extendedReads = diagnostic.extendedReads;
    }
    if (forward_) forward_->Report(diagnostic);
  }
  bool kept() const { return kept_; }

 private:
  DiagnosticReceiver* forward_;
  bool extended_;
  bool kept_ = false;
  ImportResult& result_;
};

// Runs `import(document)` on a document of its own; whether output was produced. Memory running
// out ends the call without output, said through `report` with the line the reader stood on.
template <class Import>
bool Guarded(Reporter report, Import&& import) {
  int line = 0;
  try {
    DaeDocument document;
    try {
      return import(document);
    } catch (const std::bad_alloc&) {
      line = document.CurrentLine();
      throw;
    }
  } catch (const std::bad_alloc&) {
    report(DiagnosticKind::kOutOfMemory, line, false, [] { return std::string("memory ran out: no output"); });
  }
  return false;
}

// Counts whether Begin was called (and accepted), so that the call knows it produced output.
class BeginWatch : public DataBufferWriter {
 public:
  explicit BeginWatch(DataBufferWriter& writer) : writer_(writer) {}
  bool Begin(int32_t size) override { return begun = writer_.Begin(size); }
  void Write(int32_t offset, const unsigned char* data, int32_t size) override {
    writer_.Write(offset, data, size);
  }
  bool begun = false;

 private:
  DataBufferWriter& writer_;
};

// Lends the document's tables to the collector as views; the document keeps the elements.
void LendTables(DaeDocument& document, SceneCollector& collector) {
  collector.report = document.report;
  collector.extended = document.extended;
  collector.linkFailures = &document.linkFailures;
  collector.sceneObserver = document.sceneObserver;
  collector.maxOutputBytes = document.maxOutputBytes;
  collector.unitScale = document.unitScale;
  collector.yUp = document.yUp;
  collector.images.AttachTo(document.images);
  collector.effects.AttachTo(document.effects);
  collector.materials.AttachTo(document.materials);
  collector.geometries.AttachTo(document.geometries);
  collector.libraryNodes.AttachTo(document.libraryNodes);
  collector.controllers.AttachTo(document.controllers);
}

// Runs the collector with `manager`; true when output was produced.
bool Produce(DaeDocument& document, SceneCollector& collector, CreationManager& manager,
             bool lines) {
  collector.linesEnabled = lines;
  manager.conversionType = conversionType;
  manager.report = collector.report;
  manager.textureObserver = document.textureObserver;
  collector.manager = &manager;
  collector.Run(document.activeScene);
  return collector.manager != nullptr;
}

template <class T>
T* Query(IUnknown* object, const Guid& iid) {
  void* typed = nullptr;
  if (!object || object->QueryInterface(iid, &typed) < 0) return nullptr;
  return static_cast<T*>(typed);
}

// Imports the filled buffer into a new host multipatch geometry; the result holds one reference.
IGeometry* ImportGeometry(GeometryManager& builder, MemoryBufferWriter& memory) {
  IUnknown* unknown = nullptr;
  if (HalvexCreateInstance(CLSID_MultipatchGeometry, nullptr, CLSCTX_ALL, IID_IUnknown,
                           reinterpret_cast<void**>(&unknown)) < 0 || !unknown)
    return nullptr;
  IGeometry* primary = Query<IGeometry>(unknown, IID_IGeometry);
  unknown->Release();
  if (!primary) return nullptr;

  const Extent& e = builder.extent;
  builder.multiPatch.SetXYExtents(e.xMin, e.yMin, e.xMax, e.yMax);
  builder.multiPatch.SetZExtents(e.zMin, e.zMax);
  if (IShapeImport* import = Query<IShapeImport>(primary, IID_IShapeImport)) {
    int bytesRead = 0;
    import->ImportFromShapeBuffer(1, memory.size, memory.buffer, &bytesRead);
    import->Release();
  }

  IGeometryState* state = Query<IGeometryState>(primary, IID_IGeometryState);
  if (state) state->SetKnownSimple(-1);
  IGeometry* result = Query<IGeometry>(primary, IID_IGeometry);
  if (state) state->Release();
  primary->Release();
  return result;
}

// The three imports into `document`, each saying whether output was produced.
bool GeometryFrom(DaeDocument& document, const Source& source, IGeometry** geometry,
                  const ImportOptions& options, DiagnosticReceiver* receiver) {
  Load(document, source, options, receiver);
  IGeometry* result = nullptr;
  {
    SceneCollector collector;
    LendTables(document, collector);
    if (document.activeScene) {
      MemoryBufferWriter memory;
      GeometryManager builder(memory);
      if (Produce(document, collector, builder, false)) result = ImportGeometry(builder, memory);
      collector.manager = nullptr;
    }
    document.DeleteTempFiles();
  }
  if (!result) return false;
  *geometry = Query<IGeometry>(result, IID_IGeometry);
  result->Release();
  return *geometry != nullptr;
}

bool BufferFrom(DaeDocument& document, const Source& source, DataBufferWriter& writer,
                const ImportOptions& options, DiagnosticReceiver* receiver) {
  Load(document, source, options, receiver);
  BeginWatch watch(writer);
  SceneCollector collector;
  LendTables(document, collector);
  if (document.activeScene) {
    GeometryManager builder(watch);
    Produce(document, collector, builder, false);
    collector.manager = nullptr;
  }
  document.DeleteTempFiles();
  return watch.begun;
}

bool DisplayListFrom(DaeDocument& document, const Source& source, DaeDisplayList* displayList,
                     const ImportOptions& options, DiagnosticReceiver* receiver) {
  Load(document, source, options, receiver);
  SceneCollector collector;
  LendTables(document, collector);
  bool produced = false;
  if (document.activeScene) {
    DisplayListManager builder(displayList);
    if (Produce(document, collector, builder, true)) {
      const Extent& e = builder.extent;
      displayList->SetExtent(e.xMin, e.yMin, e.zMin, e.xMax, e.yMax, e.zMax);
      produced = true;
    }
    collector.manager = nullptr;
  }
  document.DeleteTempFiles();
  return produced;
}

// A call with options: every diagnostic goes to the caller's receiver through the keeper.
template <class Import>
ImportResult WithResult(const ImportOptions& options, Import&& import) {
  ImportResult result;
  ResultKeeper keeper(options, result);
  const bool produced = Guarded(Reporter{&keeper}, [&](DaeDocument& document) { return import(document, &keeper); });
  result.status = !produced ? ImportStatus::kNoOutput
                  : keeper.kept() ? ImportStatus::kPartial : ImportStatus::kComplete;
  return result;
}

ImportResult Geometry(const Source& source, IGeometry** geometry, const ImportOptions& options) {
  if (!geometry) return {};
  *geometry = nullptr;
  return WithResult(options, [&](DaeDocument& document, DiagnosticReceiver* receiver) {
    return GeometryFrom(document, source, geometry, options, receiver);
  });
}

ImportResult Buffer(const Source& source, DataBufferWriter& writer, const ImportOptions& options) {
  return WithResult(options, [&](DaeDocument& document, DiagnosticReceiver* receiver) {
    return BufferFrom(document, source, writer, options, receiver);
  });
}

ImportResult DisplayList(const Source& source, DaeDisplayList* displayList, const ImportOptions& options) {
  if (!displayList) return {};
  return WithResult(options, [&](DaeDocument& document, DiagnosticReceiver* receiver) {
    return DisplayListFrom(document, source, displayList, options, receiver);
  });
}

Source Bytes(const void* data, size_t size) {
  Source source;
  source.data = static_cast<const unsigned char*>(data);
  source.size = data ? size : 0;
  source.memory = true;
  return source;
}

}  // namespace

Varnel::Varnel() = default;
Varnel::~Varnel() = default;
Varnel& Varnel::operator=(const Varnel&) = default;

void Varnel::CreateGeometryFromFile(String path, IGeometry** geometry) {
  if (!geometry) return;
  *geometry = nullptr;
  const Source source{std::move(path)};
  Guarded({}, [&](DaeDocument& document) { return GeometryFrom(document, source, geometry, {}, nullptr); });
}

void Varnel::CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer) {
  size = 0;  // a reference always names storage, so there is no null-buffer case here
  const Source source{std::move(path)};
  MemoryBufferWriter memory;
  Guarded({}, [&](DaeDocument& document) { return BufferFrom(document, source, memory, {}, nullptr); });
  if (memory.size > 0) {
    size = memory.size;
    buffer = memory.Release();
  }
}

void Varnel::CreateDisplayListFromFile(String path, DaeDisplayList* displayList) {
  if (!displayList) return;
  const Source source{std::move(path)};
  Guarded({}, [&](DaeDocument& document) { return DisplayListFrom(document, source, displayList, {}, nullptr); });
}

ImportResult Varnel::CreateGeometryFromFile(String path, IGeometry** geometry, const ImportOptions& options) {
  return Geometry(Source{std::move(path)}, geometry, options);
}

ImportResult Varnel::CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer,
                                              const ImportOptions& options) {
  size = 0;
  MemoryBufferWriter memory;
  ImportResult result = CreateDataBufferFromFile(std::move(path), memory, options);
  if (memory.size > 0) {
    size = memory.size;
    buffer = memory.Release();
  }
  return result;
}

ImportResult Varnel::CreateDataBufferFromFile(String path, DataBufferWriter& writer,
                                              const ImportOptions& options) {
  return Buffer(Source{std::move(path)}, writer, options);
}

ImportResult Varnel::CreateDisplayListFromFile(String path, DaeDisplayList* displayList,
                                               const ImportOptions& options) {
  return DisplayList(Source{std::move(path)}, displayList, options);
}

ImportResult Varnel::CreateGeometryFromMemory(const void* data, size_t size, IGeometry** geometry,
                                              const ImportOptions& options) {
  return Geometry(Bytes(data, size), geometry, options);
}

ImportResult Varnel::CreateDataBufferFromMemory(const void* data, size_t size, DataBufferWriter& writer,
                                                const ImportOptions& options) {
  return Buffer(Bytes(data, size), writer, options);
}

ImportResult Varnel::CreateDisplayListFromMemory(const void* data, size_t size,
                                                 DaeDisplayList* displayList, const ImportOptions& options) {
  return DisplayList(Bytes(data, size), displayList, options);
}

}  // namespace varnel
