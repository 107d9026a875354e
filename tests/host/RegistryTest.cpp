#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "host/Registry.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

// Sets or clears an environment variable for one scope.
struct ScopedEnv {
  ScopedEnv(const char* name, const char* value) : name_(name), had_(std::getenv(name) != nullptr) {
    if (had_) old_ = std::getenv(name);
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }
  const char* name_;
  bool had_;
  std::string old_;
};

int Read() { return GetRegInt(L"Software\\TAVU\\Settings", L"TAVUConversionType", -7, HKEY_CURRENT_USER); }

TEST(Registry, ReadsTheLastNameValueLineOfTheKeysFile) {
  const std::string config = testsupport::ScratchDir() + "/registry";
  ScopedEnv xdg("XDG_CONFIG_HOME", config.c_str());
  EXPECT_EQ(Read(), -7);  // no file
  const std::pair<std::string, int> cases[] = {
      {"# nothing here\nOtherValue = 3\n", -7},
      {"\xEF\xBB\xBF# by hand\r\n; comment\r\n\r\n  tavuconversiontype\t=  -2 \r\nTAVUConversionTypeX = 9\r\n", -2},
      {"TAVUConversionType=2\nTAVUConversionType=4\n", 4},
      {"TAVUConversionType=-2147483648\n", -2147483648},
  };
  for (const auto& [text, value] : cases) {
    testsupport::WriteFile("registry/TAVU/Settings.ini", text);
    EXPECT_EQ(Read(), value) << text;
  }
  // A malformed last value gives the default, not an earlier one.
  for (const char* bad : {"3x", "", "+", "0x3", "2 # two", "99999999999", "3.0"}) {
    testsupport::WriteFile("registry/TAVU/Settings.ini",
                           std::string("TAVUConversionType=2\nTAVUConversionType=") + bad + "\n");
    EXPECT_EQ(Read(), -7) << bad;
  }

  // Key paths map to folders, without climbing.
  testsupport::WriteFile("registry/Vendor/Tool/Options.ini", "Level=5\n");
  EXPECT_EQ(GetRegInt(L"Software\\Vendor\\Tool\\Options", L"Level", 0, HKEY_CURRENT_USER), 5);
  EXPECT_EQ(GetRegInt(L"Vendor/Tool/Options", L"Level", 0, HKEY_CURRENT_USER), 5);
  EXPECT_EQ(GetRegInt(L"Software\\Vendor\\..\\Vendor\\Tool\\Options", L"Level", 0, HKEY_CURRENT_USER), 0);
  EXPECT_EQ(GetRegInt(L"Software", L"Level", 0, HKEY_CURRENT_USER), 0);

  // Without an absolute XDG_CONFIG_HOME the file is looked for in ~/.config.
  testsupport::WriteFile("registry/home/.config/TAVU/Settings.ini", "TAVUConversionType=3\n");
  ScopedEnv home("HOME", (config + "/home").c_str());
  for (const char* xdg : {static_cast<const char*>(nullptr), "relative/ignored"}) {
    ScopedEnv other("XDG_CONFIG_HOME", xdg);
    EXPECT_EQ(Read(), 3);
  }
}

}  // namespace
}  // namespace varnel
