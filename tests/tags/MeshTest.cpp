#include <gtest/gtest.h>

#include <string>
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
  std::vector<int> values(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) values[static_cast<size_t>(i)] = i;
  return values;
}

// A list of 0, 1, 2, ... long enough that every primitive below reads fewer than it holds.
std::string Numbers(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += std::to_string(i) + " ";
  return text;
}

const char* kSources =
    "<source id='pos'><float_array count='9'>0 0 0 1 0 0 0 1 0</float_array>"
    "<technique_common><accessor count='3' stride='3'/></technique_common></source>"
    "<source id='nrm'><float_array count='3'>0 0 1</float_array>"
    "<technique_common><accessor count='1' stride='3'/></technique_common></source>"
    "<source id='uv'><float_array count='2'>0.5 0.5</float_array>"
    "<technique_common><accessor count='1' stride='2'/></technique_common></source>";

}  // namespace

TEST(Primitives, ReadTheIndexAmountTheirInputsAndCountsName) {
  const std::string p = "<p>" + Numbers(40) + "</p>";
  const struct {
    std::string text;
    int amount;
  } cases[] = {
      {"<triangles count='2'><input semantic='VERTEX' source='#v' offset='0'/>"
       "<input semantic='NORMAL' source='#n' offset='1'/><input semantic='TEXCOORD' source='#t' offset='2'/>" + p +
           "</triangles>",
       18},
      {"<triangles count='4'><input semantic='VERTEX' source='#v' offset='0'/>" + p + "</triangles>", 12},
      {"<triangles count='1'><input semantic='VERTEX' source='#v' offset='-4'/>" + p + "</triangles>", 3},
      {"<triangles count='2'>" + p + "</triangles>", 6},
      {"<lines count='3'><input semantic='VERTEX' source='#v' offset='0'/>" + p + "</lines>", 6},
      {"<polylist count='2'><input semantic='VERTEX' source='#v' offset='0'/>"
       "<input semantic='NORMAL' source='#n' offset='1'/><vcount>3 4</vcount>" + p + "</polylist>",
       14},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    FragmentReader reader(c.text + "<lines/>");
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag && tag->AsPrimitiveTag());
    EXPECT_EQ(Ints(tag->AsPrimitiveTag()->indices), Sequence(c.amount));
    std::unique_ptr<Tag> next = reader.Next();
    EXPECT_TRUE(next && next->elementId == kLines);
  }
}

TEST(Primitives, ShortOrEmptyVcountReadsThePolygonsPresent) {
  // count 3 but only two sizes: the sizes present are kept and "p" is read whole.
  auto shortList = ParseAs<PolylistTag>(
      "<polylist count='3'><input semantic='VERTEX' source='#v' offset='0'/>"
      "<vcount>3 4</vcount><p>0 1 2 3 4 5 6</p></polylist>");
  ASSERT_TRUE(shortList);
  EXPECT_EQ(Ints(shortList->vcounts), (std::vector<int>{3, 4}));
  EXPECT_EQ(Ints(shortList->indices), Sequence(7));
  SceneCollector collector;
  shortList->BindPrimitive(collector);
  EXPECT_EQ(collector.primitiveCount, 2);
  EXPECT_EQ(collector.polygonSizes.count, 2);

  // An empty vcount with a positive count: no polygons, nothing taken from "p".
  for (const char* vcount : {"<vcount></vcount>", "<vcount/>"}) {
    SCOPED_TRACE(vcount);
    FragmentReader reader(std::string("<polylist count='2' material='#m'>"
                                      "<input semantic='VERTEX' source='#v' offset='0'/>") +
                          vcount + "<p>0 1 2</p></polylist><lines/>");
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag && tag->AsPrimitiveTag());
    PrimitiveTag& polylist = *tag->AsPrimitiveTag();
    EXPECT_EQ(polylist.vcounts.count, 0);
    EXPECT_EQ(polylist.indices.count, 0);
    EXPECT_EQ(polylist.material, L"m");
    EXPECT_EQ(polylist.inputs.count, 1);
    EXPECT_TRUE(reader.Next());
  }
}

TEST(Mesh, KeepsOnlyTheUnderstoodPrimitiveKinds) {
  auto mesh = ParseAs<MeshTag>(
      "<mesh><source id='a'/><polygons count='1'><input semantic='VERTEX' source='#v' offset='0'/>"
      "<p>0 1 2</p></polygons><tristrips count='1'><p>0 1 2</p></tristrips>"
      "<trifans count='1'><p>0 1 2</p></trifans><linestrips count='1'><p>0 1</p></linestrips>"
      "<source id='b'/><extra><technique profile='x'><anything/></technique></extra></mesh>");
  ASSERT_TRUE(mesh);
  EXPECT_EQ(mesh->primitives.count, 0);
  ASSERT_EQ(mesh->sources.count, 2);
  EXPECT_EQ(mesh->sources[1]->GetId(), L"b");
}

TEST(Mesh, BindPrimitiveResolvesInputsThroughVerticesAndSources) {
  const std::string text = std::string("<geometry id='g'><mesh>") + kSources +
                           "<vertices id='verts'><input semantic='POSITION' source='#pos'/>"
                           "<input semantic='NORMAL' source='#nrm'/></vertices>"
                           "<triangles count='2' material='mat'>"
                           "<input semantic='VERTEX' source='#verts' offset='0'/>"
                           "<input semantic='TEXCOORD' source='#uv' offset='1' set='0'/>"
                           "<p>0 0 1 0 2 0 2 0 1 0 0 0</p></triangles>"
                           "<lines count='1'><input semantic='VERTEX' source='#verts' offset='0'/>"
                           "<input semantic='NORMAL' source='#nrm' offset='3'/><p>0 0 0 0 1 0 0 0</p></lines>"
                           "</mesh></geometry>";
  auto geometry = ParseAs<GeometryTag>(text);
  ASSERT_TRUE(geometry && geometry->mesh);
  MeshTag& mesh = *geometry->mesh;
  ASSERT_EQ(mesh.primitives.count, 2);

  SceneCollector collector;
  geometry->BindGeometry(collector);
  EXPECT_EQ(collector.meshSources.count, 3);
  EXPECT_EQ(collector.primitives.count, 2);
  EXPECT_EQ(collector.vertices, mesh.vertices);
  EXPECT_EQ(collector.vertexInputs.count, 2);

  mesh.primitives[0]->BindPrimitive(collector);
  EXPECT_EQ(collector.primitiveCount, 2);
  EXPECT_EQ(collector.tupleSize, 2);
  EXPECT_EQ(collector.positionIndexOffset, 0);
  EXPECT_EQ(collector.normalIndexOffset, 0);
  EXPECT_EQ(collector.texcoordIndexOffset, 1);
  EXPECT_EQ(collector.positions.count, 9);
  EXPECT_EQ(collector.positionCount, 3);
  EXPECT_EQ(collector.normals.count, 3);
  EXPECT_EQ(collector.texcoords.count, 2);
  EXPECT_EQ(collector.texcoordStride, 2);
  EXPECT_EQ(collector.indices.count, 12);
  EXPECT_EQ(collector.indices.data, mesh.primitives[0]->indices.data);
  EXPECT_EQ(collector.polygonSizes.count, 0);

  // The lines' own NORMAL input replaces the one of the vertices and widens the tuple; the
  // texture coordinates of the previous primitive are gone.
  mesh.primitives[1]->BindPrimitive(collector);
  EXPECT_EQ(collector.primitiveCount, 1);
  EXPECT_EQ(collector.tupleSize, 4);
  EXPECT_EQ(collector.normalIndexOffset, 3);
  EXPECT_EQ(collector.normals.count, 3);
  EXPECT_EQ(collector.texcoords.count, 0);
  EXPECT_EQ(collector.texcoordStride, 0);
  EXPECT_EQ(collector.indices.count, 8);
}

TEST(Mesh, BindPrimitiveWithThreeOffsetsAndUnknownSources) {
  auto mesh = ParseAs<MeshTag>(std::string("<mesh>") + kSources +
                               "<triangles count='2'><input semantic='VERTEX' source='#pos' offset='0'/>"
                               "<input semantic='NORMAL' source='#nrm' offset='1'/>"
                               "<input semantic='TEXCOORD' source='#missing' offset='2'/>"
                               "<input semantic='COLOR' source='#uv' offset='3'/>"
                               "<p>" + Numbers(24) + "</p></triangles></mesh>");
  ASSERT_TRUE(mesh && mesh->primitives.count == 1);
  SceneCollector collector;
  mesh->BindGeometry(collector);
  mesh->primitives[0]->BindPrimitive(collector);
  EXPECT_EQ(collector.indices.count, 24);
  EXPECT_EQ(collector.tupleSize, 4);  // the colour input widens the tuple
  EXPECT_EQ(collector.positions.count, 9);
  EXPECT_EQ(collector.normals.count, 3);
  EXPECT_EQ(collector.texcoordIndexOffset, 2);
  EXPECT_EQ(collector.texcoords.count, 0);  // "missing" names no source
  // Normal index of the second vertex of the first triangle.
  EXPECT_EQ(collector.indices[collector.tupleSize + collector.normalIndexOffset], 5);
}

TEST(Primitives, AbsurdCountsReadNoMoreThanTheInputHolds) {
  // A short list without trailing blank repeats its last number for every integer missing; the
  // repetition stops where the input could not have held more numbers.
  for (const char* text :
       {"<triangles count='400000000'><input semantic='VERTEX' source='#v' offset='1'/><p>1 2 3</p></triangles>",
        "<polylist count='2'><input semantic='VERTEX' source='#v' offset='0'/>"
        "<vcount>2000000000 2000000000</vcount><p>1 2 3</p></polylist>"}) {
    SCOPED_TRACE(text);
    const std::string document = std::string(text) + "<lines/>";
    FragmentReader reader(document);
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag && tag->AsPrimitiveTag());
    const BaseArray<int32_t>& indices = tag->AsPrimitiveTag()->indices;
    ASSERT_GE(indices.count, 3);
    EXPECT_LE(indices.count, static_cast<int>(document.size()));
    EXPECT_EQ(indices[0], 1);
    EXPECT_EQ(indices[indices.count - 1], 3);
    EXPECT_TRUE(reader.Next());
  }
}
