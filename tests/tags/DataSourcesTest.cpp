#include <gtest/gtest.h>

#include <string>

#include "assembly/SceneCollector.h"
#include "tags/DataSources.h"
#include "tags/FragmentReader.h"

using namespace varnel;
using tagtest::FragmentReader;
using tagtest::ParseAs;

namespace {

std::vector<float> Values(const FloatArray& array) {
  return std::vector<float>(array.values.begin(), array.values.end());
}

}  // namespace

TEST(FloatArray, ReadsTheNumbersAfterTheLastAttribute) {
  auto array = ParseAs<FloatArray>("<float_array id=\"f\" count=\"4\" name='n'>1.5 -2\n3e2\t0.1</float_array>");
  ASSERT_TRUE(array);
  EXPECT_EQ(array->GetId(), L"f");
  EXPECT_EQ(array->GetName(), L"n");
  EXPECT_EQ(array->count, 4);
  EXPECT_EQ(Values(*array), (std::vector<float>{1.5f, -2.0f, 300.0f, 0.1f}));

  auto empty = ParseAs<FloatArray>("<float_array count='0'/>");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->values.count, 0);
}

TEST(FloatArray, WrongCountsNeverDisturbTheElementsThatFollow) {
  // More numbers than "count": the first ones count. Fewer: those present are kept. No "count":
  // every number is read. In each case the next sibling is still read intact.
  const struct {
    const char* text;
    std::vector<float> expected;
  } cases[] = {
      {"<float_array count='2'>1 2 3 4</float_array>", {1, 2}},
      {"<float_array count='5'>1 2</float_array>", {1, 2}},
      {"<float_array count='1000000000'>7</float_array>", {7}},
      {"<float_array>4 5 6</float_array>", {4, 5, 6}},
      {"<float_array count='0'>8 9</float_array>", {8, 9}},
      {"<float_array count='-3'>8</float_array>", {8}},
      {"<float_array count='3'></float_array>", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FragmentReader reader(std::string("<source id='a'>") + c.text + "</source><source id='b'/>");
    std::unique_ptr<Tag> first = reader.Next();
    std::unique_ptr<Tag> second = reader.Next();
    ASSERT_TRUE(first && first->AsSourceTag() && first->AsSourceTag()->floatArray);
    EXPECT_EQ(Values(*first->AsSourceTag()->floatArray), c.expected);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetId(), L"b");
    EXPECT_FALSE(reader.document.stopped);
  }
}

TEST(FloatArray, ReadsListsLongerThanOneToken) {
  // The reader delivers long lists in pieces of about 128 KB; numbers must not be lost or split.
  const int n = 60000;
  std::string text = "<float_array count='" + std::to_string(n) + "'>";
  for (int i = 0; i < n; ++i) text += std::to_string(i) + (i % 10 == 9 ? "\n" : " ");
  text += "</float_array>";
  auto array = ParseAs<FloatArray>(text);
  ASSERT_TRUE(array);
  ASSERT_EQ(array->values.count, n);
  for (int i = 0; i < n; ++i) ASSERT_EQ(array->values[i], static_cast<float>(i)) << i;
}

TEST(InputTag, ClassifiesTheSemanticAndTrimsTheSource) {
  const struct {
    const char* text;
    const wchar_t* source;
    bool position, normal, texcoord;
  } cases[] = {
      {"<input semantic='VERTEX' source='#pos'/>", L"pos", true, false, false},
      {"<input semantic='POSITION' source='  #pos '/>", L"pos", true, false, false},
      {"<input semantic='NORMAL' source='#'/>", L"#", false, true, false},
      {"<input semantic='TEXCOORD' source='uv'/>", L"uv", false, false, true},
      {"<input semantic='normal' source='##n'/>", L"#n", false, false, false},
      {"<input semantic='COLOR' source='c'/>", L"c", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto input = ParseAs<InputTag>(c.text);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->source, c.source);
    EXPECT_EQ(input->isPosition, c.position);
    EXPECT_EQ(input->isNormal, c.normal);
    EXPECT_EQ(input->isTexcoord, c.texcoord);
  }
  auto input = ParseAs<InputTag>("<input offset='2' set=\"1\" semantic='TEXCOORD' source='#t'/>");
  ASSERT_TRUE(input);
  EXPECT_EQ(input->offset, 2);
  EXPECT_EQ(input->set, 1);
  EXPECT_EQ(input->semantic, L"TEXCOORD");
}

TEST(SourceTag, LoadsIntoTheSlotTheCollectorSelects) {
  auto source = ParseAs<SourceTag>(
      "<source id='s'><float_array id='f' count='6'>1 2 3 4 5 6</float_array>"
      "<technique_common><accessor source='#f' count='2' stride='3' offset='0'>"
      "<param name='X' type='float'/></accessor></technique_common></source>");
  ASSERT_TRUE(source && source->techniqueCommon && source->techniqueCommon->accessor);

  SceneCollector collector;
  collector.loadAsNormal = true;
  collector.loadAsTexcoord = true;
  source->LoadInto(collector);
  EXPECT_EQ(collector.normals.data, source->floatArray->values.data);
  EXPECT_EQ(collector.normals.count, 6);
  EXPECT_FALSE(collector.normals.ownsBuffer);
  EXPECT_EQ(collector.normalCount, 2);
  EXPECT_EQ(collector.normalStride, 3);
  EXPECT_EQ(collector.texcoords.count, 0);

  collector.loadAsPosition = true;  // position wins over the others
  source->LoadInto(collector);
  EXPECT_EQ(collector.positions.count, 6);
  EXPECT_EQ(collector.positionCount, 2);
}

TEST(SourceTag, LoadsNothingWithoutTechniqueOrNumbers) {
  SceneCollector collector;
  collector.loadAsPosition = true;
  collector.positionCount = 9;

  auto bare = ParseAs<SourceTag>("<source><float_array count='3'>1 2 3</float_array></source>");
  ASSERT_TRUE(bare);
  bare->LoadInto(collector);
  auto empty = ParseAs<SourceTag>(
      "<source><float_array count='0'/><technique_common><accessor count='1'/></technique_common></source>");
  ASSERT_TRUE(empty);
  empty->LoadInto(collector);
  EXPECT_EQ(collector.positions.count, 0);
  EXPECT_EQ(collector.positionCount, 9);

  // A technique without accessor lends the numbers with an all-zero layout.
  auto noAccessor = ParseAs<SourceTag>(
      "<source><float_array count='3'>1 2 3</float_array><technique_common/></source>");
  ASSERT_TRUE(noAccessor);
  noAccessor->LoadInto(collector);
  EXPECT_EQ(collector.positions.count, 3);
  EXPECT_EQ(collector.positionCount, 0);
}

TEST(VerticesTag, LendsItsInputsToTheCollector) {
  auto vertices = ParseAs<VerticesTag>(
      "<vertices id='v'><input semantic='POSITION' source='#p'/><extra/><input semantic='NORMAL' source='#n'/></vertices>");
  ASSERT_TRUE(vertices);
  ASSERT_EQ(vertices->inputs.count, 2);
  SceneCollector collector;
  vertices->BindGeometry(collector);
  EXPECT_EQ(collector.vertices, vertices.get());
  EXPECT_EQ(collector.vertexInputs.data, vertices->inputs.data);
  EXPECT_EQ(collector.vertexInputs.count, 2);
  EXPECT_FALSE(collector.vertexInputs.ownsBuffer);
}
