// COLLADA documents written inline by the tests: a library-ordered envelope and the small
// pieces (effects, materials, sources, meshes, primitives, nodes) most documents are made of.
#pragma once

#include <string>

#include "support/TestSupport.h"

namespace testdoc {

// A diffuse colour (or a texture when `image` is set), an optional transparency, and
// optionally double-sided.
inline std::string Effect(const std::string& id, const std::string& rgb, const std::string& image = "",
                   const std::string& transparency = "", bool doubleSided = false) {
  std::string diffuse = image.empty() ? "<color>" + rgb + " 1</color>"
                                      : "<texture texture=\"" + image + "\" texcoord=\"uv\"/>";
  std::string alpha = transparency.empty()
                          ? ""
                          : "<transparency><float>" + transparency + "</float></transparency>";
  return "<effect id=\"" + id + "\"><profile_COMMON><technique sid=\"c\"><lambert><diffuse>" +
         diffuse + "</diffuse>" + alpha + "</lambert></technique>" +
         (doubleSided ? "<extra><technique profile=\"MAX3D\"><double_sided>1</double_sided>"
                        "</technique></extra>"
                      : "") +
         "</profile_COMMON></effect>";
}

inline std::string Material(const std::string& id, const std::string& effect) {
  return "<material id=\"" + id + "\"><instance_effect url=\"#" + effect + "\"/></material>";
}

// The pieces of one document; Text() puts them in the usual library order.
struct Doc {
  std::string asset = "<asset><up_axis>Z_UP</up_axis></asset>";
  std::string images;
  // One red effect behind the material "m" unless a test says otherwise.
  std::string effects = Effect("red", "1 0 0");
  std::string materials = Material("m", "red");
  std::string geometries, nodes, controllers, scene;
  bool hasScene = true;

  std::string Text() const {
    std::string t = "<?xml version=\"1.0\"?>\n<COLLADA version=\"1.4.1\">" + asset;
    auto library = [&t](const char* name, const std::string& body) {
      if (!body.empty())
        t += std::string("<library_") + name + ">" + body + "</library_" + name + ">\n";
    };
    library("images", images);
    library("effects", effects);
    library("materials", materials);
    library("geometries", geometries);
    library("controllers", controllers);
    library("nodes", nodes);
    t += "<library_visual_scenes><visual_scene id=\"s\">" + scene + "</visual_scene>"
         "</library_visual_scenes>\n";
    if (hasScene) t += "<scene><instance_visual_scene url=\"#s\"/></scene>";
    return t + "</COLLADA>\n";
  }
  std::string Write(const std::string& name) const { return testsupport::WriteFile(name, Text()); }
};

inline std::string Source(const std::string& id, const std::string& values, int count, int stride) {
  return "<source id=\"" + id + "\"><float_array id=\"" + id + "-a\" count=\"" +
         std::to_string(count * stride) + "\">" + values +
         "</float_array><technique_common><accessor source=\"#" + id + "-a\" count=\"" +
         std::to_string(count) + "\" stride=\"" + std::to_string(stride) +
         "\"/></technique_common></source>";
}

// A mesh over `positions` (by default the triangle (0,0,0) (1,0,0) (0,1,0)) and `primitives`;
// `extra` adds sources (normals "n", texture coordinates "t").
inline std::string Mesh(const std::string& id, const std::string& primitives,
                 const std::string& extra = "",
                 const std::string& positions = "0 0 0 1 0 0 0 1 0") {
  int count = 0;
  for (size_t at = 0; (at = positions.find_first_not_of(' ', at)) != std::string::npos;
       at = positions.find(' ', at))
    ++count;
  std::string bound = primitives;  // primitives are written against the vertices "#g-v"
  for (size_t at = 0; (at = bound.find("#g-v", at)) != std::string::npos; at += id.size() + 3)
    bound.replace(at, 4, "#" + id + "-v");
  return "<geometry id=\"" + id + "\"><mesh>" + Source(id + "-p", positions, count / 3, 3) + extra +
         "<vertices id=\"" + id + "-v\"><input semantic=\"POSITION\" source=\"#" + id +
         "-p\"/></vertices>" + bound + "</mesh></geometry>";
}

// A primitive with a VERTEX input at offset 0 and `inputs` after it.
inline std::string Primitive(const std::string& kind, int count, const std::string& material,
                      const std::string& p, const std::string& inputs = "",
                      const std::string& vcount = "") {
  std::string v = "<input semantic=\"VERTEX\" source=\"#g-v\" offset=\"0\"/>";
  return "<" + kind + " count=\"" + std::to_string(count) + "\" material=\"" + material + "\">" +
         v + inputs + (vcount.empty() ? "" : "<vcount>" + vcount + "</vcount>") + "<p>" + p +
         "</p></" + kind + ">";
}

inline std::string Node(const std::string& transforms, const std::string& instances) {
  return "<node>" + transforms + instances + "</node>";
}

inline const std::string kTriangle = Primitive("triangles", 1, "m", "0 1 2");

// A document whose scene instances the geometry "g" of `geometries` once, under `transforms`.
inline Doc OneInstance(const std::string& geometries, const std::string& transforms = "") {
  Doc doc;
  doc.geometries = geometries;
  doc.scene = Node(transforms, "<instance_geometry url=\"#g\"/>");
  return doc;
}

// The triangle of Mesh() with `normal` at every vertex (from the source "<id>-n").
inline std::string MeshWithNormal(const std::string& id, const std::string& normal) {
  return Mesh(id,
              Primitive("triangles", 1, "m", "0 0 1 0 2 0",
                        "<input semantic=\"NORMAL\" source=\"#" + id + "-n\" offset=\"1\"/>"),
              Source(id + "-n", normal, 1, 3));
}

// A document of `n` triangles in a row: outputs of some size, and runs that last a while.
inline std::string Triangles(int n) {
  std::string positions, indices;
  for (int i = 0; i < n; ++i) {
    std::string x = std::to_string(i), next = std::to_string(i + 1);
    positions += x + " 0 0 " + next + " 0 0 " + x + " 1 0 ";
    for (int k = 0; k < 3; ++k) indices += std::to_string(3 * i + k) + " ";
  }
  return OneInstance(Mesh("g", Primitive("triangles", n, "m", indices), "", positions)).Text();
}

// A 2 x 2 RGB image whose first pixel is (10, 20, 30).
inline std::string Tga() {
  std::string header = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
  return header + std::string("\x1e\x14\x0a" "\x00\x00\x00" "\x00\x00\x00" "\x00\x00\x00", 12);
}

}  // namespace testdoc
