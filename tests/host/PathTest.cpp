#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <varnel/Point.h>
#include "host/Path.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

TEST(FileSystemPath, ComponentsAndAppending) {
  const struct {
    const wchar_t* path;
    const wchar_t *file, *folder;
  } cases[] = {
      {L"/data/models/house.dae", L"house.dae", L"/data/models"},
      {L"http://example.org/m/tree.dae", L"tree.dae", L"http://example.org/m"},
      {L"house.dae", L"house.dae", L""},  // no separator: no folder
      {L"/house.dae", L"house.dae", L"/"},
      {L"/dir/", L"", L"/dir"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileSystemPath(c.path).GetFile(), c.file) << String(c.path).ToUtf8();
    EXPECT_EQ(FileSystemPath(c.path).GetPath(false), c.folder) << String(c.path).ToUtf8();
  }
  EXPECT_EQ(FileSystemPath(L"/data/models/house.dae").GetPath(true), L"/data/models/");

  // Exactly one separator; an absolute name never replaces the directory.
  const struct {
    const wchar_t *folder, *name, *result;
  } appends[] = {
      {L"/tmp/x", L"a.png", L"/tmp/x/a.png"}, {L"/tmp/x/", L"a.png", L"/tmp/x/a.png"},
      {L"/tmp/x/", L"//etc/passwd", L"/tmp/x/etc/passwd"}, {L"/tmp/x", L"", L"/tmp/x"},
      {L"/tmp/x", L"/", L"/tmp/x"}, {L"", L"a.dae", L"a.dae"},
  };
  for (const auto& a : appends) {
    FileSystemPath path(a.folder);
    path.AppendFile(a.name);
    EXPECT_EQ(path.GetString(), a.result);
  }
}

TEST(FileSystemPath, QueriesTheFileSystemThroughUtf8) {
  String file = String::FromUtf8(testsupport::WriteFile("päth/ß.dae", "<COLLADA/>"));
  FileSystemPath path(file), folder(FileSystemPath(file).GetPath(false)), missing(file + String(L".x"));
  EXPECT_TRUE(path.Exists() && path.IsFile() && !path.IsDirectory());
  EXPECT_TRUE(folder.IsDirectory() && !folder.IsFile());
  EXPECT_FALSE(missing.Exists() || missing.IsFile());
  EXPECT_FALSE(FileSystemPath(L"").Exists());
  // An embedded NUL must not silently name the prefix.
  EXPECT_FALSE(FileSystemPath(String(std::wstring(file.wstr() + L'\0' + L"x"))).Exists());
}

TEST(WKSPointZ, UnitAndNorm) {
  WKSPointZ u = WKSPointZ{3, 0, 4}.Unit();
  EXPECT_DOUBLE_EQ((WKSPointZ{3, 0, 4}).Norm(2), 5.0);
  EXPECT_TRUE(u.X == 0.6 && u.Y == 0 && u.Z == 0.8);
  // Lengths that would underflow or overflow when squared still give a unit vector.
  for (double scale : {1e-320, 1e300}) EXPECT_NEAR((WKSPointZ{scale, scale, 0}.Unit().Norm(2)), 1.0, 1e-15) << scale;
  EXPECT_DOUBLE_EQ((WKSPointZ{1e300, 1e300, 0}).Norm(2), std::sqrt(2.0) * 1e300);
  // No direction: zero, never NaN.
  double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (WKSPointZ bad : {WKSPointZ{0, 0, 0}, WKSPointZ{1, nan, 0}, WKSPointZ{inf, 0, 0}}) {
    WKSPointZ z = bad.Unit();
    EXPECT_TRUE(z.X == 0 && z.Y == 0 && z.Z == 0);
  }
}

}  // namespace
}  // namespace varnel
