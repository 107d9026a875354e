#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "host/Path.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

// Points $XDG_CONFIG_HOME at a fresh folder for one test and restores it afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    config_ = testsupport::ScratchDir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
  }
  void WriteSettings(const std::string& relative, const std::string& text) {
    std::string base = config_.substr(testsupport::ScratchDir().size() + 1);
    testsupport::WriteFile(base + "/" + relative, text);
  }
  static int Read(int fallback = -7) {
    return GetRegInt(L"Software\\TAVU\\Settings", L"TAVUConversionType", fallback, HKEY_CURRENT_USER);
  }

  std::string config_;
  std::string old_;
  bool hadOld_ = false;
};

TEST_F(RegistryTest, MissingFileOrValueGivesTheDefault) {
  EXPECT_EQ(Read(), -7);
  WriteSettings("TAVU/Settings.ini", "# nothing here\nOtherValue = 3\n");
  EXPECT_EQ(Read(), -7);
}

TEST_F(RegistryTest, ReadsNameValueLines) {
  WriteSettings("TAVU/Settings.ini",
                "\xEF\xBB\xBF# written by hand\r\n"
                "; another comment\r\n"
                "\r\n"
                "  tavuconversiontype\t=  -2 \r\n"
                "TAVUConversionTypeX = 9\r\n");
  EXPECT_EQ(Read(), -2);
}

TEST_F(RegistryTest, LastLineDecidesAndMalformedValuesGiveTheDefault) {
  WriteSettings("TAVU/Settings.ini", "TAVUConversionType=2\nTAVUConversionType=4\n");
  EXPECT_EQ(Read(), 4);
  for (const char* bad : {"3x", "", "+", "0x3", "2 # two", "99999999999", "3.0"}) {
    WriteSettings("TAVU/Settings.ini", std::string("TAVUConversionType=2\nTAVUConversionType=") + bad + "\n");
    EXPECT_EQ(Read(), -7) << bad;
  }
  WriteSettings("TAVU/Settings.ini", "TAVUConversionType=-2147483648\n");
  EXPECT_EQ(Read(), -2147483648);
}

TEST_F(RegistryTest, KeyPathMapsToFolders) {
  WriteSettings("Vendor/Tool/Options.ini", "Level=5\n");
  EXPECT_EQ(GetRegInt(L"Software\\Vendor\\Tool\\Options", L"Level", 0, HKEY_CURRENT_USER), 5);
  EXPECT_EQ(GetRegInt(L"Vendor/Tool/Options", L"Level", 0, HKEY_CURRENT_USER), 5);
  EXPECT_EQ(GetRegInt(L"Software\\Vendor\\..\\Vendor\\Tool\\Options", L"Level", 0, HKEY_CURRENT_USER), 0);
  EXPECT_EQ(GetRegInt(L"Software", L"Level", 0, HKEY_CURRENT_USER), 0);
}

TEST_F(RegistryTest, FallsBackToHomeConfig) {
  const char* home = std::getenv("HOME");
  std::string oldHome = home ? home : "";
  WriteSettings("home/.config/TAVU/Settings.ini", "TAVUConversionType=3\n");
  setenv("HOME", (config_ + "/home").c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(Read(), 3);
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(Read(), 3);
  if (home) setenv("HOME", oldHome.c_str(), 1);
  else unsetenv("HOME");
}

}  // namespace
}  // namespace varnel
