// Parsing element text and whole documents for the scene-graph and effect tests.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "assembly/SceneCollector.h"
#include "document/DaeDocument.h"
#include "output/CreationManager.h"
#include "support/TestSupport.h"
#include "tags/Factory.h"
#include "tags/SceneGraph.h"
#include "tags/Tag.h"

namespace scenetest {

using namespace varnel;

// A reader standing just after the start tag of the element written in `xml`, as a parent's
// parse loop leaves it. `documentPath` stands in for the document the element came from.
class ElementReader {
 public:
  explicit ElementReader(const std::string& xml, const std::string& documentPath = "") {
    static int serial = 0;
    std::string file = testsupport::WriteFile("fragments/" + std::to_string(++serial) + ".xml", xml);
    document.path = String::FromUtf8(documentPath.empty() ? file : documentPath);
    document.AllocateBuffers();
    document.stream = std::fopen(file.c_str(), "rb");
    document.ResetReader();
    document.NextToken();
    id = document.IdentifyTag();
  }
  ~ElementReader() { document.CloseStream(); }

  DaeDocument document;
  int id = 0;
};

// The element built by the factory.
class Fragment : public ElementReader {
 public:
  explicit Fragment(const std::string& xml, const std::string& documentPath = "")
      : ElementReader(xml, documentPath), tag(CreateTag(document, id)) {}
  ~Fragment() { delete tag; }

  template <class T>
  T* As(T* (Tag::*query)()) const { return tag ? (tag->*query)() : nullptr; }

  Tag* tag = nullptr;
};

// Records the points the creating traversal delivers, untouched by unit or axis conversion.
class PointRecorder : public CreationManager {
 public:
  bool StartCreation() override {
    pass = 2;
    return true;
  }
  void SetPoint(const double* p) override { points.push_back({p[0], p[1], p[2]}); }

  std::vector<std::array<double, 3>> points;
};

// A whole document loaded from `xml` and run through both traversals.
struct SceneRun {
  explicit SceneRun(const std::string& xml) {
    static int serial = 0;
    std::string file = testsupport::WriteFile("scenes/" + std::to_string(++serial) + ".dae", xml);
    document.Load(String::FromUtf8(file));
    collector.images.AttachTo(document.images);
    collector.effects.AttachTo(document.effects);
    collector.materials.AttachTo(document.materials);
    collector.geometries.AttachTo(document.geometries);
    collector.libraryNodes.AttachTo(document.libraryNodes);
    collector.controllers.AttachTo(document.controllers);
    collector.manager = &recorder;
    collector.Run(document.activeScene);
  }

  DaeDocument document;
  SceneCollector collector;
  PointRecorder recorder;
};

// A geometry "tri" with one triangle (0 0 0, 1 0 0, 0 1 0) and a material symbol "m".
inline std::string TriangleLibrary() {
  return R"(<library_geometries><geometry id="tri"><mesh>
<source id="p"><float_array id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>
<technique_common><accessor source="#pa" count="3" stride="3"/></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
<triangles count="1" material="m"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>
</mesh></geometry></library_geometries>)";
}

// A document around `libraries` whose scene is the visual scene "s" holding `nodes`.
inline std::string SceneDocument(const std::string& libraries, const std::string& nodes) {
  return "<?xml version=\"1.0\"?>\n<COLLADA><asset><up_axis>Z_UP</up_axis></asset>" + libraries +
         "<library_visual_scenes><visual_scene id=\"s\">" + nodes +
         "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#s\"/></scene>"
         "</COLLADA>";
}

}  // namespace scenetest
