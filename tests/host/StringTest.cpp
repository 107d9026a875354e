#include <gtest/gtest.h>

#include <string>

#include <varnel/String.h>

#include "host/CodePage.h"

namespace varnel {
namespace {

TEST(String, SearchSlicesAndEditsStayInRange) {
  String s(L"http://host/a/b.dae");
  EXPECT_EQ(s.Find(L'/', 7), 11);
  EXPECT_EQ(s.Find(L'a', 100), -1);
  EXPECT_EQ(s.ReverseFind(L'/'), 13);
  for (int n : {0, -3}) EXPECT_EQ(s.Left(n) + s.Right(n), L"");
  EXPECT_EQ(s.Left(4) + s.Right(5), L"httpb.dae");
  EXPECT_EQ(s.Left(100), s);
  EXPECT_EQ(s.Right(100), s);
  EXPECT_EQ(s.Mid(7, 4), L"host");
  EXPECT_EQ(s.Mid(100, 4), L"");

  String t(L"#id");
  t.Delete(0);
  t.SetAt(0, L'I');
  t.SetAt(9, L'x');  // out of range: ignored
  t.Insert(99, L"!");
  EXPECT_EQ(t, L"Id!");

  String padded(L" \t\r\n model.dae \n"), blank(L"  \t ");
  padded.TrimLeft();
  EXPECT_EQ(padded, L"model.dae \n");
  padded.TrimRight();
  blank.TrimRight();
  EXPECT_EQ(padded, L"model.dae");
  EXPECT_TRUE(blank.IsEmpty());

  EXPECT_EQ(String(L"Http").CompareNoCase(L"https"), -1);
  EXPECT_EQ(String(L"https").CompareNoCase(L"HTTP"), 1);
}

TEST(String, NarrowAndUtf8Conversions) {
  String s;
  s = "\xE9t\xE9";  // narrow text keeps its byte values
  EXPECT_EQ(s, L"\u00E9t\u00E9");
  s = static_cast<const char*>(nullptr);
  EXPECT_TRUE(s.IsEmpty());

  String text(L"Gr\u00FC\u00DFe \u20AC \U0001F3E0 /tmp/\u00E4.dae");
  std::string utf8 = text.ToUtf8();
  EXPECT_EQ(utf8, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x8F\xA0 /tmp/\xC3\xA4.dae");
  EXPECT_EQ(String::FromUtf8(utf8), text);
  EXPECT_EQ(String(std::wstring(1, static_cast<wchar_t>(0xD800))).ToUtf8(), "\xEF\xBF\xBD");

  // Invalid UTF-8 becomes one U+FFFD per bad byte.
  const wchar_t r = 0xFFFD;
  const struct {
    std::string bytes;
    std::wstring wide;
  } cases[] = {
      {"a\x80" "b", {L'a', r, L'b'}},      // stray continuation byte
      {"\xC0\xAF", {r, r}},                // overlong "/"
      {"\xE0\x80\xAF", {r, r, r}},         // overlong three-byte form
      {"\xED\xA0\x80", {r, r, r}},         // surrogate
      {"\xF4\x90\x80\x80", {r, r, r, r}},  // above U+10FFFF
      {"x\xE2\x82", {L'x', r, r}},         // cut off by the end
      {"\xE2(\xA1", {r, L'(', r}},         // bad continuation
      {std::string("\0\xFF", 2), {L'\0', r}},
  };
  for (const auto& c : cases) EXPECT_EQ(String::FromUtf8(c.bytes).wstr(), c.wide) << testing::PrintToString(c.bytes);
  // The decoder never writes more than one character per byte, plus the terminator.
  const char bytes[] = {'\xF0', '\x9F', '\x8F'};
  wchar_t out[4] = {1, 1, 1, 1};
  EXPECT_EQ(DecodeUtf8(bytes, 3, out), 3);
  EXPECT_EQ(out[3], L'\0');
}

}  // namespace
}  // namespace varnel
