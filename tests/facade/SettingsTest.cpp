#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "facade/Settings.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

// The conversion type read with the per-user settings file holding `text` (none when null).
int ConversionTypeWith(const char* text) {
  static int round = 0;
  std::string folder = "settings" + std::to_string(++round);
  if (text) testsupport::WriteFile(folder + "/TAVU/Settings.ini", text);
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", (testsupport::ScratchDir() + "/" + folder).c_str(), 1);
  int value = ReadConversionType();
  if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
  return value;
}

TEST(Settings, ConversionTypeAcceptsOneToFourAndOtherwiseIsOne) {
  const std::pair<const char*, int> cases[] = {
      {nullptr, 1},
      {"TAVUConversionType=2\n", 2}, {"TAVUConversionType=3\n", 3}, {"TAVUConversionType=4\n", 4},
      {"TAVUConversionType=0\n", 1}, {"TAVUConversionType=5\n", 1}, {"TAVUConversionType=-3\n", 1},
      {"TAVUConversionType=two\n", 1},
      // Written by hand: a byte-order mark, comments, blanks, another case, Windows line ends.
      {"\xEF\xBB\xBF# by hand\r\n; comment\r\n\r\n  tavuconversiontype\t=  3 \r\nTAVUConversionTypeX = 9\r\n", 3},
      // The last line counts, also when it is malformed.
      {"TAVUConversionType=2\nTAVUConversionType=4\n", 4},
      {"TAVUConversionType=2\nTAVUConversionType=3x\n", 1},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ConversionTypeWith(text), value) << (text ? text : "no file");
}

}  // namespace
}  // namespace varnel
