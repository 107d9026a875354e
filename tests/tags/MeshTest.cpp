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
  std::vector<int> values;
  for (int i = 0; i < n; ++i) values.push_back(i);
  return values;
}

const std::string kVertex = "<input semantic='VERTEX' source='#v' offset='0'/>";

}  // namespace

TEST(Primitives, ReadTheIndexAmountTheirInputsAndCountsName) {
  std::string p = "<p>";
  for (int i = 0; i < 40; ++i) p += std::to_string(i) + " ";
  p += "</p>";
  const struct {
    std::string text;
    int amount;
  } cases[] = {
      {"<triangles count='2'>" + kVertex + "<input semantic='NORMAL' source='#n' offset='1'/>"
       "<input semantic='TEXCOORD' source='#t' offset='2'/>" + p + "</triangles>", 18},
      {"<triangles count='4'>" + kVertex + p + "</triangles>", 12},
      {"<triangles count='1'><input semantic='VERTEX' source='#v' offset='-4'/>" + p + "</triangles>", 3},
      {"<lines count='3'>" + kVertex + p + "</lines>", 6},
      {"<polylist count='2'>" + kVertex + "<input semantic='NORMAL' source='#n' offset='1'/>"
       "<vcount>3 4</vcount>" + p + "</polylist>", 14},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FragmentReader reader(c.text + "<lines/>");
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag && tag->AsPrimitiveTag());
    EXPECT_EQ(Ints(tag->AsPrimitiveTag()->indices), Sequence(c.amount));
    std::unique_ptr<Tag> next = reader.Next();
    EXPECT_TRUE(next && next->elementId == kLines);
  }
}

TEST(Primitives, ShortOrEmptyVcountReadsThePolygonsPresent) {
  // Three polygons announced, two sizes given: the two are kept and "p" is read whole.
  auto shortList = ParseAs<PolylistTag>("<polylist count='3'>" + kVertex +
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
    FragmentReader reader("<polylist count='2' material='#m'>" + kVertex + vcount + "<p>0 1 2</p></polylist><lines/>");
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag && tag->AsPrimitiveTag());
    EXPECT_EQ(tag->AsPrimitiveTag()->vcounts.count, 0);
    EXPECT_EQ(tag->AsPrimitiveTag()->indices.count, 0);
    EXPECT_EQ(tag->AsPrimitiveTag()->material, L"m");
    EXPECT_TRUE(reader.Next());
  }
}

TEST(Primitives, AbsurdCountsReadNoMoreThanTheInputHolds) {
  // A short list without trailing blank repeats its last number for every integer missing; the
  // repetition stops where the input could not have held more numbers.
  for (std::string text : {"<triangles count='400000000'>" + kVertex + "<p>1 2 3</p></triangles>",
                           "<polylist count='2'>" + kVertex + "<vcount>2000000000 2000000000</vcount><p>1 2 3</p></polylist>"}) {
    text += "<lines/>";
    FragmentReader reader(text);
    std::unique_ptr<Tag> tag = reader.Next();
    ASSERT_TRUE(tag && tag->AsPrimitiveTag());
    const BaseArray<int32_t>& indices = tag->AsPrimitiveTag()->indices;
    ASSERT_GE(indices.count, 3);
    EXPECT_LE(indices.count, static_cast<int>(text.size()));
    EXPECT_EQ(indices[indices.count - 1], 3);
    EXPECT_TRUE(reader.Next());
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

  SceneCollector collector;
  geometry->BindGeometry(collector);
  EXPECT_EQ(collector.meshSources.count, 3);
  EXPECT_EQ(collector.primitives.count, 2);
  EXPECT_EQ(collector.vertexInputs.count, 2);

  mesh.primitives[0]->BindPrimitive(collector);
  EXPECT_EQ(collector.primitiveCount, 2);
  EXPECT_EQ(collector.tupleSize, 2);
  EXPECT_EQ(collector.texcoordIndexOffset, 1);
  EXPECT_EQ(collector.positionCount, 3);
  EXPECT_EQ(collector.normals.count, 3);
  EXPECT_EQ(collector.texcoordStride, 2);
  EXPECT_EQ(collector.indices.data, mesh.primitives[0]->indices.data);

  // The lines' own NORMAL replaces the one of the vertices, the colour input widens the tuple and
  // a texture source that does not exist leaves the previous primitive's coordinates cleared.
  mesh.primitives[1]->BindPrimitive(collector);
  EXPECT_EQ(collector.primitiveCount, 1);
  EXPECT_EQ(collector.tupleSize, 4);
  EXPECT_EQ(collector.normalIndexOffset, 1);
  EXPECT_EQ(collector.texcoordIndexOffset, 2);
  EXPECT_EQ(collector.texcoords.count, 0);
  EXPECT_EQ(collector.texcoordStride, 0);
}
