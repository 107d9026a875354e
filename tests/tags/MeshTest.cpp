#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "assembly/SceneCollector.h"
#include "tags/DataSources.h"
#include "tags/FragmentReader.h"
#include "tags/Mesh.h"
#include "xml/ElementNames.h"

using namespace varnel;
using tagtest::FragmentReader;
using tagtest::ParseAs;

namespace {

std::vector<int> Ints(const BaseArray<int32_t>& list) { return std::vector<int>(list.begin(), list.end()); }

std::vector<int> Sequence(int n) {
  std::vector<int> values;
  for (int i = 0; i < n; ++i) values.push_back(i);
  return values;
}

const std::string kVertex = "<input semantic='VERTEX' source='#v' offset='0'/>";
const std::string kNormal = "<input semantic='NORMAL' source='#n' offset='1'/>";

// The primitive written in `text`, checking that the element after it is still read.
std::unique_ptr<Tag> Primitive(const std::string& text) {
  FragmentReader reader(text + "<lines/>");
  std::unique_ptr<Tag> tag = reader.Next();
  std::unique_ptr<Tag> next = reader.Next();
  EXPECT_TRUE(next && next->elementId == kLines) << text;
  return tag && tag->AsPrimitiveTag() ? std::move(tag) : nullptr;
}

}  // namespace

TEST(Primitives, ReadTheIndexAmountTheirInputsAndCountsName) {
  std::string p = "<p>";
  for (int i = 0; i < 40; ++i) p += std::to_string(i) + " ";
  p += "</p>";
  const std::pair<std::string, int> cases[] = {
      {"<triangles count='2'>" + kVertex + kNormal + "<input semantic='TEXCOORD' source='#t' offset='2'/>" + p +
           "</triangles>", 18},
      {"<triangles count='4'>" + kVertex + p + "</triangles>", 12},
      {"<triangles count='1'><input semantic='VERTEX' source='#v' offset='-4'/>" + p + "</triangles>", 3},
      {"<lines count='3'>" + kVertex + p + "</lines>", 6},
      {"<polylist count='2'>" + kVertex + kNormal + "<vcount>3 4</vcount>" + p + "</polylist>", 14},
      // Three polygons announced, two sizes given: the two are kept.
      {"<polylist count='3'>" + kVertex + "<vcount>3 4</vcount>" + p + "</polylist>", 7},
      // An empty vcount with a positive count: no polygons, nothing taken from "p".
      {"<polylist count='2'>" + kVertex + "<vcount></vcount>" + p + "</polylist>", 0},
      {"<polylist count='2'>" + kVertex + "<vcount/>" + p + "</polylist>", 0},
  };
  for (const auto& [text, amount] : cases) {
    std::unique_ptr<Tag> tag = Primitive(text);
    ASSERT_TRUE(tag) << text;
    EXPECT_EQ(Ints(tag->AsPrimitiveTag()->indices), Sequence(amount)) << text;
  }

  auto shortList =
      ParseAs<PolylistTag>("<polylist count='3' material='#m'>" + kVertex + "<vcount>3 4</vcount>" + p + "</polylist>");
  ASSERT_TRUE(shortList);
  EXPECT_EQ(Ints(shortList->vcounts), (std::vector<int>{3, 4}));
  EXPECT_EQ(shortList->material, L"m");
  SceneCollector collector;
  shortList->BindPrimitive(collector);
  EXPECT_EQ(collector.primitiveCount, 2);
  EXPECT_EQ(collector.polygonSizes.count, 2);
}

TEST(Primitives, AbsurdCountsReadNoMoreThanTheInputHolds) {
  // A short list without trailing blank repeats its last number for every integer missing; the
  // repetition stops where the input could not have held more numbers.
  for (const std::string& text :
       {"<triangles count='400000000'>" + kVertex + "<p>1 2 3</p></triangles>",
        "<polylist count='2'>" + kVertex + "<vcount>2000000000 2000000000</vcount><p>1 2 3</p></polylist>"}) {
    std::unique_ptr<Tag> tag = Primitive(text);
    ASSERT_TRUE(tag) << text;
    const BaseArray<int32_t>& indices = tag->AsPrimitiveTag()->indices;
    ASSERT_GE(indices.count, 3);
    EXPECT_LE(indices.count, static_cast<int>(text.size() + 8));  // the whole input
    EXPECT_EQ(indices[indices.count - 1], 3);
  }
}

TEST(Mesh, BindPrimitiveResolvesInputsThroughVerticesAndSources) {
  auto geometry = ParseAs<GeometryTag>(
      "<geometry id='g'><mesh>"
      "<source id='pos'><float_array count='9'>0 0 0 1 0 0 0 1 0</float_array>"
      "<technique_common><accessor count='3' stride='3'/></technique_common></source>"
      "<source id='nrm'><float_array count='3'>0 0 1</float_array>"
      "<technique_common><accessor count='1' stride='3'/></technique_common></source>"
      "<source id='uv'><float_array count='2'>0.5 0.5</float_array>"
      "<technique_common><accessor count='1' stride='2'/></technique_common></source>"
      "<vertices id='verts'><input semantic='POSITION' source='#pos'/><input semantic='NORMAL' source='#nrm'/></vertices>"
      "<polygons count='1'><p>0 1 2</p></polygons><tristrips count='1'><p>0 1 2</p></tristrips>"
      "<triangles count='2' material='mat'><input semantic='VERTEX' source='#verts' offset='0'/>"
      "<input semantic='TEXCOORD' source='#uv' offset='1' set='0'/><p>0 0 1 0 2 0 2 0 1 0 0 0</p></triangles>"
      "<lines count='1'><input semantic='VERTEX' source='#verts' offset='0'/>"
      "<input semantic='NORMAL' source='#nrm' offset='1'/><input semantic='COLOR' source='#uv' offset='3'/>"
      "<input semantic='TEXCOORD' source='#missing' offset='2'/><p>0 0 0 0 1 0 0 0</p></lines>"
      "<extra><technique profile='x'><anything/></technique></extra></mesh></geometry>");
  ASSERT_TRUE(geometry && geometry->mesh);
  MeshTag& mesh = *geometry->mesh;
  ASSERT_EQ(mesh.primitives.count, 2);  // polygons and tristrips are not kept

  SceneCollector c;
  geometry->BindGeometry(c);
  EXPECT_EQ((std::vector<int>{c.meshSources.count, c.primitives.count, c.vertexInputs.count}), (std::vector<int>{3, 2, 2}));
  mesh.primitives[0]->BindPrimitive(c);
  EXPECT_EQ((std::vector<int>{c.primitiveCount, c.tupleSize, c.texcoordIndexOffset, c.positionCount, c.normals.count,
                              c.texcoordStride}),
            (std::vector<int>{2, 2, 1, 3, 3, 2}));
  EXPECT_EQ(c.indices.data, mesh.primitives[0]->indices.data);

  // The lines' own NORMAL replaces the one of the vertices, the colour input widens the tuple and
  // a texture source that does not exist leaves the previous primitive's coordinates cleared.
  mesh.primitives[1]->BindPrimitive(c);
  EXPECT_EQ((std::vector<int>{c.primitiveCount, c.tupleSize, c.normalIndexOffset, c.texcoordIndexOffset,
                              c.texcoords.count, c.texcoordStride}),
            (std::vector<int>{1, 4, 1, 2, 0, 0}));
}
