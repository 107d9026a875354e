// What the extended reading resolves beyond the plain one, and the diagnostics of references
// that resolve to nothing.
#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

Output Read(const Doc& doc, bool extended = true, DiagnosticLog* log = nullptr) {
  static int serial = 0;
  return RunGeometry(doc.Write("ext/" + std::to_string(++serial) + ".dae"), ImportOptions{extended, log});
}

// A triangle textured by the image "img", through the sampler "samp" of `params` when given.
Doc Textured(const std::string& initFrom, const std::string& params = "") {
  Doc doc = OneInstance(Mesh("g", kTriangle));
  doc.images = "<image id=\"img\"><init_from>" + initFrom + "</init_from></image>";
  doc.effects = "<effect id=\"red\"><profile_COMMON>" + params + "<technique sid=\"c\"><lambert><diffuse><texture texture=\"" +
                (params.empty() ? "img" : "samp") + "\"/></diffuse></lambert></technique></profile_COMMON></effect>";
  return doc;
}

// File addresses, escapes (UTF-8 too), a COLLADA 1.5 ref and a sampler's instance_image after a
// value of another type.
TEST(ExtendedReferences, ImageAddressesAndSamplerImages) {
  const std::string path = "file://" + testsupport::WriteFile("ext/t/a \xc3\xa9.tga", Tga());
  for (const Doc& doc : {Textured(path), Textured("file:t/a%20%c3%a9.tga"), Textured("t/a%20%c3%a9.tg%61"), Textured("file://localhost" + path.substr(7)),
                         Textured("<ref>t/a%20%C3%A9.tga</ref>", "<newparam sid=\"f\"><float4>1 0 0 1</float4></newparam>"
                                  "<newparam sid=\"samp\"><sampler2D><instance_image url=\"#img\"/></sampler2D></newparam>")}) {
    EXPECT_EQ(Read(doc).materials.at(0).firstPixel, (std::vector<int>{10, 20, 30})) << doc.images;
    for (const MaterialRecord& plain : Read(doc, false).materials) EXPECT_TRUE(plain.firstPixel.empty()) << doc.images;
  }
}

// Scene and nested nodes, the first of one id (library nodes come first), a cycle that ends; a
// morph's base mesh, here wrapped by a skin that moves it, and a morph of itself.
TEST(ExtendedReferences, NodesAndMorphs) {
  Doc doc = OneInstance(Mesh("g", kTriangle));
  doc.nodes = "<node><node id=\"z\"><translate>0 0 5</translate><instance_geometry url=\"#g\"/></node><node id=\"z\"/></node>";
  doc.controllers = "<controller id=\"m\"><morph source=\"#g\"><targets/></morph></controller><controller id=\"o\"><morph "
                    "source=\"#o\"/></controller><controller id=\"s\"><skin source=\"#m\"><bind_shape_matrix>1 0 0 -5 "
                    "0 1 0 0 0 0 1 0 0 0 0 1</bind_shape_matrix></skin></controller>";
  doc.scene = "<node id=\"a\"><instance_geometry url=\"#g\"/><node><instance_node url=\"#a\"/></node></node><node id=\"z\"/>" +
              Node("<translate>10 10 0</translate>", "<instance_node url=\"#a\"/><instance_node url=\"#z\"/>") +
              Node("", "<instance_controller url=\"#s\"/><instance_controller url=\"#o\"/>");
  EXPECT_EQ(Read(doc).extent, (std::array<double, 6>{-5, 0, 0, 11, 11, 5}));
}

// Each reference once, however often it is used; image files missing (this one the extended
// reading would find) or undecodable.
TEST(ExtendedReferences, DiagnosticsNameEachReferenceOnce) {
  const std::string broken = testsupport::WriteFile("ext/broken.tga", "not an image");
  Doc doc = Textured("broken.tga");
  doc.images += "<image id=\"i\"><init_from>file:broken.tga</init_from></image>";
  doc.effects += Effect("e", "", "i");
  doc.scene += Node("", "<instance_geometry url=\"#no\"/><instance_geometry url=\"#no\"/>");
  DiagnosticLog log;
  Read(doc, false, &log);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"texture-missing: image \"i\": no file found for \"file:broken.tga\" (extended)",
      "unresolved-reference: instance_geometry \"#no\" names no geometry",
      "texture-undecodable: image \"img\": cannot decode \"" + broken + "\""}));
}

}  // namespace
}  // namespace pipelinetest
