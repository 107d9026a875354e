#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/ElementNames.h"

namespace varnel {
namespace {

int Lookup(const std::string& name) { return LookupElement(name.data(), name.size()); }

// The table keeps its misspellings, compares case and length exactly and never matches entry 0.
TEST(ElementNames, NamedCases) {
  for (std::string name : {"COLLADA", "p", "param", "znear", "diretional", "arguement"})
    EXPECT_EQ(ElementName(Lookup(name)), name);
  for (std::string name : {"collada", "directional", "", "unknownTag",
                                  "library_physics_materials_and_then_some_more_text_x"})
    EXPECT_EQ(Lookup(name), 0) << name;
  EXPECT_EQ(LookupElement("geometry_and_more", 8), Lookup("geometry"));  // only the given length is read
  for (int outside : {0, -1, kElementCount}) EXPECT_STREQ(ElementName(outside), "unknownTag");
}

// The indexed lookup agrees with a linear scan of entries 1..217 for every name and for names
// a little off one.
TEST(ElementNames, LookupEqualsLinearScan) {
  auto linear = [](const std::string& name) {
    for (int id = 1; id < kElementCount; ++id)
      if (name == ElementName(id)) return id;
    return 0;
  };
  for (int id = 0; id < kElementCount; ++id) {
    const std::string name = ElementName(id);
    std::string flipped = name, last = name;
    flipped[0] = static_cast<char>(flipped[0] ^ 0x20);
    last.back() = static_cast<char>(last.back() + 1);
    std::vector<std::string> probes = {name, name + "s", name + '\0', "x" + name, flipped, last};
    for (size_t n = 0; n < name.size(); ++n) probes.push_back(name.substr(0, n));
    for (const std::string& probe : probes) EXPECT_EQ(Lookup(probe), linear(probe)) << probe;
  }
}

}  // namespace
}  // namespace varnel
