#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "xml/ElementNames.h"

namespace varnel {
namespace {

int Lookup(const std::string& name) { return LookupElement(name.data(), name.size()); }

// The reference behaviour: entries 1..217 compared whole, the first equal one wins.
int LinearLookup(const std::string& name) {
  for (int id = 1; id < kElementCount; ++id)
    if (name == ElementName(id)) return id;
  return 0;
}

TEST(ElementNames, NamedCases) {
  EXPECT_EQ(Lookup("COLLADA"), 25);
  EXPECT_EQ(Lookup("collada"), 0);
  EXPECT_EQ(Lookup("p"), 127);
  EXPECT_EQ(Lookup("param"), 128);
  EXPECT_EQ(Lookup("znear"), 217);
  EXPECT_EQ(Lookup("diretional"), 47);
  EXPECT_EQ(Lookup("directional"), 0);
  EXPECT_EQ(Lookup("arguement"), 9);
  EXPECT_EQ(Lookup("comon_float_or_param_type"), 31);
  EXPECT_EQ(Lookup(""), 0);
  EXPECT_EQ(Lookup("unknownTag"), 0);  // entry 0 is never compared
  EXPECT_EQ(Lookup("library_physics_materials_and_then_some_more_text_x"), 0);

  EXPECT_STREQ(ElementName(0), "unknownTag");
  EXPECT_STREQ(ElementName(211), "visual_scene");
  EXPECT_STREQ(ElementName(-1), "unknownTag");
  EXPECT_STREQ(ElementName(218), "unknownTag");
}

TEST(ElementNames, TableIsUniqueAndRoundTrips) {
  for (int id = 1; id < kElementCount; ++id) {
    EXPECT_EQ(Lookup(ElementName(id)), id) << ElementName(id);
    for (int other = id + 1; other < kElementCount; ++other)
      EXPECT_STRNE(ElementName(id), ElementName(other));
  }
}

// The indexed lookup must agree with the linear scan for every name and for names that differ
// from one by a little: prefixes, extensions, case changes and a changed last byte.
TEST(ElementNames, LookupEqualsLinearScan) {
  std::vector<std::string> probes;
  for (int id = 0; id < kElementCount; ++id) {
    std::string name = ElementName(id);
    probes.push_back(name);
    for (size_t n = 0; n < name.size(); ++n) probes.push_back(name.substr(0, n));
    probes.push_back(name + "s");
    probes.push_back(name + '\0');
    probes.push_back("x" + name);
    std::string flipped = name;
    flipped[0] = static_cast<char>(flipped[0] ^ 0x20);
    probes.push_back(flipped);
    std::string last = name;
    last.back() = static_cast<char>(last.back() + 1);
    probes.push_back(last);
    probes.push_back(std::string(name.size(), '\xFF'));
  }
  for (const std::string& probe : probes) EXPECT_EQ(Lookup(probe), LinearLookup(probe)) << probe;
}

// Only the given length is read: the same bytes followed by more text still identify.
TEST(ElementNames, ReadsOnlyTheGivenLength) {
  const char text[] = "geometry_and_more";
  EXPECT_EQ(LookupElement(text, 8), 58);
  EXPECT_EQ(LookupElement(text, std::strlen(text)), 0);
}

}  // namespace
}  // namespace varnel
