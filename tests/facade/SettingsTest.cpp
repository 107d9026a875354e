#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "facade/Settings.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

// ReadConversionType with the settings file holding `line` (none when null).
int ConversionTypeWith(const char* line) {
  static int round = 0;
  std::string folder = "settings" + std::to_string(++round);
  if (line) testsupport::WriteFile(folder + "/TAVU/Settings.ini", std::string(line) + "\n");
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", (testsupport::ScratchDir() + "/" + folder).c_str(), 1);
  int value = ReadConversionType();
  if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  return value;
}

TEST(Settings, ConversionTypeAcceptsOneToFour) {
  EXPECT_EQ(ConversionTypeWith(nullptr), 1);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=0"), 1);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=5"), 1);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=-3"), 1);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=1"), 1);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=2"), 2);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=3"), 3);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=4"), 4);
  EXPECT_EQ(ConversionTypeWith("TAVUConversionType=two"), 1);
}

TEST(Settings, LoadTimeStateIsSetUp) {
  EXPECT_GE(conversionType, 1);
  EXPECT_LE(conversionType, 4);
  EXPECT_NE(LibraryModule(), nullptr);
  // No localized resource module exists, so the library's own serves.
  EXPECT_EQ(ResourceModule(), LibraryModule());
}

}  // namespace
}  // namespace varnel
