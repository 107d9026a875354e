#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/Path.h"
#include "support/TestSupport.h"

namespace varnel {
namespace {

TEST(FileSystemPath, ComponentsOfFilesAndAddresses) {
  FileSystemPath file(L"/data/models/house.dae");
  EXPECT_EQ(file.GetFile(), L"house.dae");
  EXPECT_EQ(file.GetPath(false), L"/data/models");
  EXPECT_EQ(file.GetPath(true), L"/data/models/");

  FileSystemPath address(L"http://example.org/m/tree.dae");
  EXPECT_EQ(address.GetFile(), L"tree.dae");
  EXPECT_EQ(address.GetPath(true), L"http://example.org/m/");

  // No separator: the whole text is the file and there is no folder.
  FileSystemPath bare(L"house.dae");
  EXPECT_EQ(bare.GetFile(), L"house.dae");
  EXPECT_EQ(bare.GetPath(false), L"");
  // A file in the root stays in the root.
  EXPECT_EQ(FileSystemPath(L"/house.dae").GetPath(false), L"/");
  EXPECT_EQ(FileSystemPath(L"/dir/").GetFile(), L"");
}

TEST(FileSystemPath, AppendFileAddsExactlyOneSeparator) {
  FileSystemPath dir(L"/tmp/x");
  dir.AppendFile(L"a.png");
  EXPECT_EQ(dir.GetString(), L"/tmp/x/a.png");

  FileSystemPath slashed(L"/tmp/x/");
  slashed.AppendFile(L"a.png");
  EXPECT_EQ(slashed.GetString(), L"/tmp/x/a.png");

  // An absolute name never replaces the directory.
  FileSystemPath absolute(L"/tmp/x/");
  absolute.AppendFile(L"//etc/passwd");
  EXPECT_EQ(absolute.GetString(), L"/tmp/x/etc/passwd");

  FileSystemPath unchanged(L"/tmp/x");
  unchanged.AppendFile(L"");
  unchanged.AppendFile(L"/");
  EXPECT_EQ(unchanged.GetString(), L"/tmp/x");

  FileSystemPath empty;
  empty.AppendFile(L"a.dae");
  EXPECT_EQ(empty.GetString(), L"a.dae");
}

TEST(FileSystemPath, QueriesTheFileSystemThroughUtf8) {
  std::string file = testsupport::WriteFile("päth/ß.dae", "<COLLADA/>");
  String wide = String::FromUtf8(file);
  FileSystemPath path(wide);
  EXPECT_TRUE(path.Exists());
  EXPECT_TRUE(path.IsFile());
  EXPECT_FALSE(path.IsDirectory());

  FileSystemPath folder(FileSystemPath(wide).GetPath(false));
  EXPECT_TRUE(folder.IsDirectory());
  EXPECT_FALSE(folder.IsFile());

  FileSystemPath missing(wide + String(L".missing"));
  EXPECT_FALSE(missing.Exists());
  EXPECT_FALSE(missing.IsFile());
  EXPECT_FALSE(FileSystemPath(L"").Exists());
  // An embedded NUL must not silently name the prefix.
  EXPECT_FALSE(FileSystemPath(String(std::wstring(wide.wstr() + L'\0' + L"x"))).Exists());
}

TEST(StringArray, InsertAppendsOrInserts) {
  StringArray list;
  list.Insert(L"b", -1);
  list.Insert(L"c", 7);
  list.Insert(L"a", 0);
  ASSERT_EQ(list.GetSize(), 3);
  EXPECT_EQ(list[0], L"a");
  EXPECT_EQ(list[1], L"b");
  EXPECT_EQ(list[2], L"c");
  list.RemoveAll();
  EXPECT_EQ(list.GetSize(), 0);
}

TEST(BString, CarriesLengthAndTerminator) {
  BString text(String(L"http://h/ä.dae"));
  BSTR raw = text;
  EXPECT_EQ(BString::Length(raw), 14u);
  EXPECT_EQ(std::wstring(raw), L"http://h/ä.dae");
  BString empty{String()};
  EXPECT_EQ(BString::Length(empty), 0u);
  EXPECT_EQ(static_cast<BSTR>(empty)[0], L'\0');
  EXPECT_EQ(BString::Length(nullptr), 0u);
}

TEST(String816Helper, ConvertsToUtf8) {
  EXPECT_EQ(String816Helper::convert(L"C"), "C");
  EXPECT_EQ(String816Helper::convert(L"ü"), "\xC3\xBC");
  EXPECT_EQ(String816Helper::convert(nullptr), "");
}

TEST(WKSPointZ, UnitAndNorm) {
  WKSPointZ p{3, 0, 4};
  EXPECT_DOUBLE_EQ(p.Norm(2), 5.0);
  WKSPointZ u = p.Unit();
  EXPECT_DOUBLE_EQ(u.X, 0.6);
  EXPECT_DOUBLE_EQ(u.Z, 0.8);

  // Lengths that would underflow or overflow when squared still give a unit vector.
  for (double scale : {1e-320, 1e300}) {
    WKSPointZ v = WKSPointZ{scale, scale, 0}.Unit();
    EXPECT_NEAR(v.Norm(2), 1.0, 1e-15) << scale;
  }
  EXPECT_DOUBLE_EQ((WKSPointZ{1e300, 1e300, 0}).Norm(2), std::sqrt(2.0) * 1e300);

  // No direction: zero, never NaN.
  double nan = std::numeric_limits<double>::quiet_NaN();
  double inf = std::numeric_limits<double>::infinity();
  for (WKSPointZ bad : {WKSPointZ{0, 0, 0}, WKSPointZ{1, nan, 0}, WKSPointZ{inf, 0, 0}}) {
    WKSPointZ z = bad.Unit();
    EXPECT_EQ(z.X, 0.0);
    EXPECT_EQ(z.Y, 0.0);
    EXPECT_EQ(z.Z, 0.0);
  }
}

}  // namespace
}  // namespace varnel
