#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host/TempDir.h"
#include "host/Path.h"
#include "host/SafeName.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

TEST(SafeFileName, KeepsOnlyTheLastComponentOfAddressesAndReferences) {
  struct Case {
    std::wstring reference;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"http://example.org/models/house.dae", L"house.dae"},
      {L"HTTPS://example.org/a/house.dae?rev=2&x=/y#top/z", L"house.dae"},
      {L"../../x.png", L"x.png"},
      {L"/etc/passwd", L"passwd"},
      {L"a/b\\c", L"c"},
      {std::wstring(L"ev\0il.png", 9), L"evil.png"},
      {L"tab\tnew\nline\x7f\x85.png", L"tabnewline.png"},
      {L"%2e%2e%2Fescape.png", L"%2e%2e%2Fescape.png"},
      // Refused: nothing that names a file is left.
      {L"", L""},
      {L".", L""},
      {L"..", L""},
      {L"a/..", L""},
      {L"http://example.org", L""},
      {L"http://example.org/dir/?file=x.dae", L""},
      {std::wstring(L"\0\x01", 2), L""},
      {std::wstring(201, L'n'), L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(String(c.reference).ToUtf8());
    String name = SafeFileName(String(c.reference));
    EXPECT_EQ(name, c.name);
  }
  EXPECT_EQ(SafeFileName(String(std::wstring(200, L'n'))).GetLength(), 200);
}

// Removal goes by name and place: only empty "dl-" folders directly below the temporary directory.
TEST(DownloadDir, OnlyEmptyDownloadFoldersAreRemoved) {
  String made = MakeDownloadDir();
  ASSERT_FALSE(made.IsEmpty());
  String file = made + L"model.dae";
  std::fclose(std::fopen(file.ToUtf8().c_str(), "w"));
  RemoveDownloadDir(made);
  EXPECT_TRUE(FileSystemPath(file).IsFile());

  String foreign = String::FromUtf8(testsupport::ScratchDir() + "/dl-abcdef");
  ASSERT_EQ(::mkdir(foreign.ToUtf8().c_str(), 0700), 0);
  RemoveDownloadDir(foreign);
  EXPECT_TRUE(FileSystemPath(foreign).IsDirectory());
  ::rmdir(foreign.ToUtf8().c_str());
  RemoveDownloadDir(TavuOSDir::GetTempPathW());
  EXPECT_TRUE(FileSystemPath(TavuOSDir::GetTempPathW()).IsDirectory());

  DeleteDownloadedFile(file);
  EXPECT_FALSE(FileSystemPath(made).Exists());
}

}  // namespace
}  // namespace varnel
