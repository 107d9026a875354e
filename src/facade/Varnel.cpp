#include <varnel/Varnel.h>

#include <memory>

#include "assembly/SceneCollector.h"
#include "document/DaeDocument.h"
#include "document/Linked.h"
#include "facade/Settings.h"
#include <varnel/Geometry.h>
#include <varnel/DaeDisplayList.h>
#include "output/DisplayListManager.h"
#include "output/GeometryManager.h"
#include "tags/SceneGraph.h"

namespace varnel {
namespace {

void Load(DaeDocument& document, String path, const ImportOptions& options) {
  document.extended = options.extended;
  document.report.receiver = options.diagnostics;
  document.sceneObserver = options.sceneObserver;
  document.textureObserver = options.textureObserver;
  document.maxOutputBytes = options.maxOutputBytes;
  document.confineTextures = options.confineTextures;
  if (options.textureRoot) document.textureRoot = String::FromNativePath(options.textureRoot);
  document.textureBudget = {options.maxTexturePixels, options.maxDocumentTexturePixels,
                            options.decodeTextures};
  document.Load(std::move(path));
  if (options.extended) FollowLinkedDocuments(document);
  if (options.geographicLocation && document.location.found)
    *options.geographicLocation = document.location;
}

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

}  // namespace

Varnel::Varnel() = default;
Varnel::~Varnel() = default;
Varnel& Varnel::operator=(const Varnel&) = default;

void Varnel::CreateGeometryFromFile(String path, IGeometry** geometry) {
  CreateGeometryFromFile(std::move(path), geometry, ImportOptions{});
}

void Varnel::CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer) {
  CreateDataBufferFromFile(std::move(path), size, buffer, ImportOptions{});
}

void Varnel::CreateDisplayListFromFile(String path, DaeDisplayList* displayList) {
  CreateDisplayListFromFile(std::move(path), displayList, ImportOptions{});
}

void Varnel::CreateGeometryFromFile(String path, IGeometry** geometry, const ImportOptions& options) {
  if (!geometry) return;
  *geometry = nullptr;
  DaeDocument document;
  Load(document, std::move(path), options);
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
  if (result) {
    *geometry = Query<IGeometry>(result, IID_IGeometry);
    result->Release();
  }
}

void Varnel::CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer,
                                      const ImportOptions& options) {
  size = 0;  // a reference always names storage, so there is no null-buffer case here
  MemoryBufferWriter memory;
  CreateDataBufferFromFile(std::move(path), memory, options);
  if (memory.size > 0) {
    size = memory.size;
    buffer = memory.Release();
  }
}

void Varnel::CreateDataBufferFromFile(String path, DataBufferWriter& writer,
                                      const ImportOptions& options) {
  DaeDocument document;
  Load(document, std::move(path), options);
  SceneCollector collector;
  LendTables(document, collector);
  if (document.activeScene) {
    GeometryManager builder(writer);
    Produce(document, collector, builder, false);
    collector.manager = nullptr;
  }
  document.DeleteTempFiles();
}

void Varnel::CreateDisplayListFromFile(String path, DaeDisplayList* displayList,
                                       const ImportOptions& options) {
  if (!displayList) return;
  DaeDocument document;
  Load(document, std::move(path), options);
  SceneCollector collector;
  LendTables(document, collector);
  if (document.activeScene) {
    DisplayListManager builder(displayList);
    if (Produce(document, collector, builder, true)) {
      const Extent& e = builder.extent;
      displayList->SetExtent(e.xMin, e.yMin, e.zMin, e.xMax, e.yMax, e.zMax);
    }
    collector.manager = nullptr;
  }
  document.DeleteTempFiles();
}

}  // namespace varnel
