// Parsing element text and whole documents for the scene-graph and effect tests.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "assembly/SceneCollector.h"
#include "document/DaeDocument.h"
#include "output/CreationManager.h"
#include "support/TestSupport.h"
#include "tags/FragmentReader.h"
#include "tags/SceneGraph.h"

namespace scenetest {

using namespace varnel;

// The element written in `xml`, built by the factory; `As` gives it as the queried class or
// null. `documentPath` stands in for the document the element came from.
struct Fragment : tagtest::FragmentReader {
  explicit Fragment(const std::string& xml, const std::string& documentPath = "")
      : FragmentReader(xml) {
    document.path = String::FromUtf8(documentPath);
    tag = Next().release();
  }
  ~Fragment() { delete tag; }
  template <class T>
  T* As(T* (Tag::*query)()) const { return tag ? (tag->*query)() : nullptr; }

  Tag* tag = nullptr;
};

// Keeps the points of the creating traversal as the instantiation delivers them.
struct PointRecorder : CreationManager {
  bool StartCreation() override {
    pass = TraversalPass::Creating;
    return true;
  }
  void SetPoint(const double* p) override { points.push_back({p[0], p[1], p[2]}); }
  std::vector<std::array<double, 3>> points;
};

// A whole document loaded from `xml` and run through both traversals.
struct SceneRun {
  explicit SceneRun(const std::string& xml) {
    static int serial = 0;
    document.Load(String::FromUtf8(
        testsupport::WriteFile("scenes/" + std::to_string(++serial) + ".dae", xml)));
    collector.effects.AttachTo(document.effects);
    collector.materials.AttachTo(document.materials);
    collector.geometries.AttachTo(document.geometries);
    collector.libraryNodes.AttachTo(document.libraryNodes);
    collector.controllers.AttachTo(document.controllers);
    collector.manager = &recorder;
    collector.Run(document.activeScene);
  }
  // Whether the triangle whose points start at `first` holds `point`.
  bool TriangleHas(size_t first, std::array<double, 3> point) const {
    for (size_t i = first; i < first + 3 && i < recorder.points.size(); ++i)
      if (recorder.points[i] == point) return true;
    return false;
  }

  DaeDocument document;
  SceneCollector collector;
  PointRecorder recorder;
};

// A document whose geometry "tri" is one triangle (0 0 0, 1 0 0, 0 1 0), with `libraries`
// and a visual scene holding `nodes`.
inline std::string SceneDocument(const std::string& libraries, const std::string& nodes) {
  return R"(<COLLADA><library_geometries><geometry id="tri"><mesh>
<source id="p"><float_array id="pa" count="9">0 0 0 1 0 0 0 1 0</float_array>
<technique_common><accessor source="#pa" count="3" stride="3"/></technique_common></source>
<vertices id="v"><input semantic="POSITION" source="#p"/></vertices>
<triangles count="1"><input semantic="VERTEX" source="#v" offset="0"/><p>0 1 2</p></triangles>
</mesh></geometry></library_geometries>)" +
         libraries + "<library_visual_scenes><visual_scene id=\"s\">" + nodes +
         "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#s\"/></scene>"
         "</COLLADA>";
}

}  // namespace scenetest
