#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

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
      {L"HTTPS://example.org/a/b/house.dae?rev=2&x=/y#top", L"house.dae"},
      {L"http://example.org/house.dae#frag/ment", L"house.dae"},
      {L"./textures/wall.png", L"wall.png"},
      {L"../../x.png", L"x.png"},
      {L"/etc/passwd", L"passwd"},
      {L"a/b\\c", L"c"},
      {L"C:\\models\\tex\\brick.jpg", L"brick.jpg"},
      {std::wstring(L"ev\0il.png", 9), L"evil.png"},
      {L"tab\tnew\nline\x7f\x85.png", L"tabnewline.png"},
      {L"name with blanks.png", L"name with blanks.png"},
      {L"%2e%2e%2Fescape.png", L"%2e%2e%2Fescape.png"},
      {L"...", L"..."},
      {L"t\u00e9xture.png", L"t\u00e9xture.png"},
      // Refused: nothing that names a file is left.
      {L"", L""},
      {L".", L""},
      {L"..", L""},
      {L"a/..", L""},
      {L"textures/", L""},
      {L"http://example.org", L""},
      {L"http://example.org/", L""},
      {L"http://example.org/dir/?file=x.dae", L""},
      {std::wstring(L"\0\x01", 2), L""},
      {std::wstring(201, L'n'), L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(String(c.reference).ToUtf8());
    String name = SafeFileName(String(c.reference));
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(name.Find(L'/'), -1);
    EXPECT_EQ(name.Find(L'\\'), -1);
  }
  EXPECT_EQ(SafeFileName(String(std::wstring(200, L'n'))).GetLength(), 200);
}

TEST(DownloadDir, EachCallGetsItsOwnFolderAndOnlyThoseAreRemoved) {
  String temp = TavuOSDir::GetTempPathW();
  ASSERT_FALSE(temp.IsEmpty());
  String first = MakeDownloadDir();
  String second = MakeDownloadDir();
  ASSERT_FALSE(first.IsEmpty());
  ASSERT_FALSE(second.IsEmpty());
  EXPECT_FALSE(first == second);
  EXPECT_EQ(first.Left(temp.GetLength()), temp);
  EXPECT_TRUE(FileSystemPath(first).IsDirectory());

  // A folder with a file inside survives until the file is deleted through it.
  FileSystemPath file(first);
  file.AppendFile(L"model.dae");
  FILE* out = std::fopen(file.GetString().ToUtf8().c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fclose(out);
  RemoveDownloadDir(first);
  EXPECT_TRUE(FileSystemPath(first).IsDirectory());
  DeleteDownloadedFile(file);
  EXPECT_FALSE(file.Exists());
  EXPECT_FALSE(FileSystemPath(first).Exists());

  // Folders that were not made for a download are never removed, empty or not.
  String mine = String::FromUtf8(testsupport::ScratchDir() + "/dl-abcdef");
  ASSERT_EQ(::mkdir(mine.ToUtf8().c_str(), 0700), 0);
  RemoveDownloadDir(mine);
  EXPECT_TRUE(FileSystemPath(mine).IsDirectory());
  RemoveDownloadDir(temp);
  EXPECT_TRUE(FileSystemPath(temp).IsDirectory());

  RemoveDownloadDir(second);
  EXPECT_FALSE(FileSystemPath(second).Exists());
}

}  // namespace
}  // namespace varnel
