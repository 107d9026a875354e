#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assembly/SceneCollector.h"
#include "tags/DataSources.h"
#include "tags/FragmentReader.h"

using namespace varnel;
using tagtest::FragmentReader;
using tagtest::ParseAs;

TEST(FloatArray, WrongCountsNeverDisturbTheElementsThatFollow) {
  // Numbers are read after the last attribute. More numbers than "count": the first ones count.
  // Fewer: those present are kept. No positive "count": every number is read.
  const struct {
    const char* text;
    std::vector<float> expected;
  } cases[] = {
      {"<float_array id='f' count='4' name='n'>1.5 -2\n3e2\t0.1</float_array>", {1.5f, -2, 300, 0.1f}},
      {"<float_array count='2'>1 2 3 4</float_array>", {1, 2}},
      {"<float_array count='1000000000'>7</float_array>", {7}},
      {"<float_array>4 5 6</float_array>", {4, 5, 6}},
      {"<float_array count='-3'>8</float_array>", {8}},
      {"<float_array count='3'></float_array>", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FragmentReader reader(std::string("<source>") + c.text + "</source><source id='b'/>");
    std::unique_ptr<Tag> first = reader.Next();
    ASSERT_TRUE(first && first->AsSourceTag()->floatArray);
    const BaseArray<float>& values = first->AsSourceTag()->floatArray->values;
    EXPECT_EQ(std::vector<float>(values.begin(), values.end()), c.expected);
    std::unique_ptr<Tag> second = reader.Next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetId(), L"b");
  }
}

TEST(FloatArray, ReadsListsLongerThanOneToken) {
  // The reader delivers long lists in pieces of about 128 KB; no number may be lost or split.
  const int n = 60000;
  std::string text = "<float_array count='" + std::to_string(n) + "'>";
  for (int i = 0; i < n; ++i) text += std::to_string(i) + (i % 10 == 9 ? "\n" : " ");
  auto array = ParseAs<FloatArray>(text + "</float_array>");
  ASSERT_TRUE(array);
  ASSERT_EQ(array->values.count, n);
  for (int i = 0; i < n; ++i) ASSERT_EQ(array->values[i], static_cast<float>(i)) << i;
}

TEST(InputTag, ClassifiesTheSemanticAndTrimsTheSource) {
  const struct {
    const char* text;
    const wchar_t* source;
    int flags;  // position 4, normal 2, texcoord 1
  } cases[] = {
      {"<input semantic='VERTEX' source='#pos'/>", L"pos", 4},
      {"<input semantic='POSITION' source='  #pos '/>", L"pos", 4},
      {"<input semantic='NORMAL' source='#'/>", L"#", 2},
      {"<input semantic='TEXCOORD' source='uv' offset='2' set='1'/>", L"uv", 1},
      {"<input semantic='normal' source='##n'/>", L"#n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto input = ParseAs<InputTag>(c.text);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->source, c.source);
    EXPECT_EQ(input->isPosition * 4 + input->isNormal * 2 + input->isTexcoord, c.flags);
  }
  auto input = ParseAs<InputTag>("<input offset='2' set='1' id='x'/>");
  ASSERT_TRUE(input);
  EXPECT_EQ(input->offset, 2);
  EXPECT_EQ(input->set, 1);
  EXPECT_EQ(input->GetId(), L"No Name");
}

TEST(SourceTag, LoadsIntoTheSelectedSlotOnlyWithTechniqueAndNumbers) {
  auto source = ParseAs<SourceTag>(
      "<source id='s'><float_array id='f' count='6'>1 2 3 4 5 6</float_array>"
      "<technique_common><accessor source='#f' count='2' stride='3'><param name='X'/></accessor>"
      "</technique_common></source>");
  auto bare = ParseAs<SourceTag>("<source><float_array count='3'>1 2 3</float_array></source>");
  auto empty = ParseAs<SourceTag>("<source><float_array count='0'/><technique_common/></source>");
  auto noAccessor = ParseAs<SourceTag>("<source><float_array count='1'>1</float_array><technique_common/></source>");
  ASSERT_TRUE(source && bare && empty && noAccessor);

  SceneCollector collector;
  collector.loadAsNormal = collector.loadAsTexcoord = true;  // normal is tested before texcoord
  source->LoadInto(collector);
  EXPECT_EQ(collector.normals.data, source->floatArray->values.data);
  EXPECT_EQ(collector.normals.count, 6);
  EXPECT_EQ(collector.normalCount, 2);
  EXPECT_EQ(collector.normalStride, 3);
  EXPECT_EQ(collector.texcoords.count, 0);

  bare->LoadInto(collector);
  empty->LoadInto(collector);
  EXPECT_EQ(collector.normals.count, 6);
  noAccessor->LoadInto(collector);
  EXPECT_EQ(collector.normals.count, 1);
  EXPECT_EQ(collector.normalCount, 0);
}
