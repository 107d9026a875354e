#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include <varnel/String.h>

namespace varnel {
namespace {

TEST(String, Utf8RoundTripsAndBadBytesBecomeReplacementCharacters) {
  String text(L"Gr\u00FC\u00DFe \u20AC \U0001F3E0 /tmp/\u00E4.dae");
  std::string utf8 = text.ToUtf8();
  EXPECT_EQ(utf8, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x8F\xA0 /tmp/\xC3\xA4.dae");
  EXPECT_EQ(String::FromUtf8(utf8), text);
  EXPECT_EQ(String(std::wstring(1, static_cast<wchar_t>(0xD800))).ToUtf8(), "\xEF\xBF\xBD");

  // One replacement for every byte that cannot be decoded: no overlong form sneaks in a "/".
  const wchar_t r = 0xFFFD;
  const std::pair<std::string, std::wstring> cases[] = {
      {"a\x80" "b", {L'a', r, L'b'}},      // stray continuation byte
      {"\xC0\xAF", {r, r}},                // overlong "/"
      {"\xE0\x80\xAF", {r, r, r}},         // overlong three-byte form
      {"\xED\xA0\x80", {r, r, r}},         // surrogate
      {"\xF4\x90\x80\x80", {r, r, r, r}},  // above U+10FFFF
      {"x\xE2\x82", {L'x', r, r}},         // cut off by the end
      {std::string("\0\xFF", 2), {L'\0', r}},
  };
  // A file name keeps its bytes, whatever they are, and shows them as the UTF-8 reading does.
  for (const auto& [bytes, wide] : cases) {
    EXPECT_EQ(String::FromUtf8(bytes).wstr(), wide) << testing::PrintToString(bytes);
    String name = String::FromNativePath(bytes);
    EXPECT_EQ(name.ToNativePath(), bytes) << testing::PrintToString(bytes);
    EXPECT_EQ(name.ToUtf8(), String::FromUtf8(bytes).ToUtf8()) << testing::PrintToString(bytes);
  }
  EXPECT_EQ(String::FromNativePath("\xEF\xBF\xBD").ToNativePath(), "\xEF\xBF\xBD");
  EXPECT_EQ(String::FromNativePath(utf8), text);
}

// The one-pointer layout: growth, self-reference, moves and the shared empty block.
TEST(String, EditsKeepLengthTerminatorAndOwnership) {
  String built;
  for (int i = 0; i < 100; ++i) built += wchar_t(L'a' + i % 26);
  EXPECT_EQ(built.GetLength(), 100);
  EXPECT_EQ(std::wcslen(built.c_str()), 100u);
  built += built;
  EXPECT_EQ(built.Mid(98, 4), String(L"uvab"));

  String padded(L"  x y \t");
  padded.TrimLeft();
  padded.TrimRight();
  padded.Insert(1, L"[]");
  padded.Delete(0);
  EXPECT_EQ(padded, L"[] y");

  String moved = std::move(padded), copy = moved;
  copy.SetAt(0, L'(');
  EXPECT_EQ(moved, L"[] y");
  EXPECT_TRUE(padded.IsEmpty());
  padded += L'z';  // a moved-from or emptied string must never write the shared empty text
  copy.Empty();
  EXPECT_EQ(String(), L"");
  EXPECT_EQ(padded, L"z");
  EXPECT_EQ(String(L"").c_str()[0], L'\0');
}

}  // namespace
}  // namespace varnel
