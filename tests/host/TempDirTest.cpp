#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "host/TempDir.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace varnel {
namespace {

// Runs in a fresh process (the death-test child re-executes the binary, so the folders are
// named in the environment): the first use from several threads at once must make one
// directory of this user's alone, and process exit must remove it with its contents but
// nothing a symbolic link inside points to.
TEST(TavuOSDirDeathTest, FirstUseIsSharedPrivateAndExitRemovesIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  if (!std::getenv("VARNEL_TEST_BASE")) {
    testsupport::WriteFile("tempdir/outside/keep.txt", "keep");
    fs::create_directories(testsupport::ScratchDir() + "/tempdir/tmp");
    setenv("VARNEL_TEST_BASE", (testsupport::ScratchDir() + "/tempdir").c_str(), 1);
  }
  const std::string base = std::getenv("VARNEL_TEST_BASE");
  const char* oldTmp = std::getenv("TMPDIR");
  std::string savedTmp = oldTmp ? oldTmp : "";
  setenv("TMPDIR", (base + "/tmp/").c_str(), 1);
  EXPECT_EXIT(
      {
        std::vector<std::string> seen(8);
        std::vector<std::thread> threads;
        for (auto& s : seen) threads.emplace_back([&s] { s = TavuOSDir::GetTempPathW().ToUtf8(); });
        for (auto& t : threads) t.join();
        for (const auto& s : seen)
          if (s != seen[0] || s.empty()) std::exit(1);
        struct stat info;
        if (stat(seen[0].c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            (info.st_mode & 07777) != 0700 || info.st_uid != getuid())
          std::exit(2);
        fs::create_directories(seen[0] + "sub");
        std::ofstream(seen[0] + "sub/x.bin") << "x";
        fs::create_directory_symlink(base + "/outside", seen[0] + "link");
        std::ofstream(base + "/report.txt") << seen[0];
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  if (oldTmp) setenv("TMPDIR", savedTmp.c_str(), 1);
  else unsetenv("TMPDIR");

  std::string dir = testsupport::ReadFile(base + "/report.txt");
  EXPECT_EQ(dir.rfind(base + "/tmp/varnel-", 0), 0u) << dir;  // a folder of its own
  EXPECT_FALSE(fs::exists(dir));
  EXPECT_TRUE(fs::exists(base + "/outside/keep.txt"));
  EXPECT_TRUE(fs::exists(base + "/tmp"));
}

}  // namespace
}  // namespace varnel
