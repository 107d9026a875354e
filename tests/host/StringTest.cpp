#include <gtest/gtest.h>

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
  for (const auto& [bytes, wide] : cases)
    EXPECT_EQ(String::FromUtf8(bytes).wstr(), wide) << testing::PrintToString(bytes);
}

}  // namespace
}  // namespace varnel
