#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "xml/ElementNames.h"
#include "xml/ReaderHarness.h"

using readertest::OpenReader;
using varnel::String;
using varnel::XmlReader;

namespace {

// Reads the text of a "name" element with ReadValue (or ReadUrl) and checks that the reader then
// stands on the following "node".
std::wstring ValueOf(const std::string& text, bool url = false) {
  OpenReader open("<name>" + text + "</name><node/>");
  XmlReader& r = open.reader;
  EXPECT_TRUE(r.NextToken());
  EXPECT_EQ(r.IdentifyTag(), varnel::kName);
  String value = L"stale";
  EXPECT_TRUE(url ? r.ReadUrl(value) : r.ReadValue(value));
  if (r.isEndToken) r.IdentifyTag();  // no text token: the end tag is left to the caller
  EXPECT_STREQ(r.tokenText, "node");
  return value.wstr();
}

TEST(Values, NumericReferences) {
  EXPECT_EQ(ValueOf("plain text"), L"plain text");
  EXPECT_EQ(ValueOf("&#65;bcd"), L"Abcd");
  EXPECT_EQ(ValueOf("x&#65;&#66;yyy"), L"xAByyy");
  // The ";" must lie before the last three characters of the token.
  EXPECT_EQ(ValueOf("x&#65;"), L"x&#65;");
  EXPECT_EQ(ValueOf("&#65;ab"), L"&#65;ab");
  EXPECT_EQ(ValueOf("&#12345;abcd"), L"&#12345;abcd");
  EXPECT_EQ(ValueOf("&#x41;abcd"), L"&#x41;abcd");
  EXPECT_EQ(ValueOf("&#0;abcd"), L"&#0;abcd");
  EXPECT_EQ(ValueOf("&#9999;abcd"), std::wstring(1, wchar_t(9999)) + L"abcd");
}

TEST(Values, NamedEntitiesExceptTheAmpersand) {
  EXPECT_EQ(ValueOf("&lt;a&gt; &quot;q&quot; &apos;s&apos;"), L"<a> \"q\" 's'");
  EXPECT_EQ(ValueOf("&amp;lt; &amp;"), L"&amp;lt; &amp;");
  EXPECT_EQ(ValueOf("&lt;&lt;&lt;"), L"<<<");
}

TEST(Values, NonAsciiTextIsUtf8) {
  EXPECT_EQ(ValueOf("caf\xC3\xA9 \xE2\x82\xAC"), L"caf\u00E9 \u20AC");
  EXPECT_EQ(ValueOf("\xC3\xA9&lt;"), L"\u00E9<");
}

TEST(Values, EmptyAndBlankValuesAndUrls) {
  EXPECT_EQ(ValueOf("   "), L"");
  EXPECT_EQ(ValueOf("#", true), L"#");
  EXPECT_EQ(ValueOf("  #geom-1 ", true), L"geom-1");
  EXPECT_EQ(ValueOf("file.png", true), L"file.png");

  // An element without text reads as empty and leaves its end tag for the caller.
  OpenReader open("<name></name>");
  XmlReader& r = open.reader;
  r.NextToken();
  r.IdentifyTag();
  String value = L"x";
  EXPECT_TRUE(r.ReadValue(value));
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_TRUE(r.isEndToken);
  EXPECT_STREQ(r.tokenText, "name");

  // An attribute value of blanks keeps them.
  OpenReader attribute("<node name='  '/>");
  XmlReader& a = attribute.reader;
  a.NextToken();
  EXPECT_EQ(a.IdentifyTag(), varnel::kNode);
  EXPECT_EQ(a.IdentifyTag(), varnel::kName);
  EXPECT_TRUE(a.ReadValue(value));
  EXPECT_EQ(value.wstr(), L"  ");
  EXPECT_TRUE(a.isEndToken);
  EXPECT_STREQ(a.tokenText, "node");
}

std::vector<int> IntsOf(const std::string& doc, int count, bool* result = nullptr) {
  OpenReader open(doc);
  XmlReader& r = open.reader;
  r.NextToken();
  r.IdentifyTag();
  varnel::BaseArray<int32_t> values;
  bool ok = r.ReadIntList(count, values);
  if (result) *result = ok;
  return std::vector<int>(values.begin(), values.end());
}

TEST(Values, IntegerLists) {
  EXPECT_EQ(IntsOf("<p>1 2 3</p>", 3), (std::vector<int>{1, 2, 3}));
  // Missing numbers repeat the last one when the text does not end with a blank.
  EXPECT_EQ(IntsOf("<p>1 2 3</p>", 6), (std::vector<int>{1, 2, 3, 3, 3, 3}));
  // Ending with a blank, the scan reads on into the end tag, whose name converts to 0.
  EXPECT_EQ(IntsOf("<p> 1\n2 </p>", 4), (std::vector<int>{1, 2, 0, 0}));
  EXPECT_EQ(IntsOf("<p>-4 +5 x7 9</p>", 4), (std::vector<int>{-4, 5, 0, 9}));

  // Count 0 reads nothing but still passes the text and the end tag.
  OpenReader open("<p>1 2</p><node/>");
  XmlReader& r = open.reader;
  r.NextToken();
  r.IdentifyTag();
  varnel::BaseArray<int32_t> values;
  EXPECT_TRUE(r.ReadIntList(0, values));
  EXPECT_EQ(values.count, 0);
  EXPECT_STREQ(r.tokenText, "node");

  // An empty element reads nothing and consumes nothing.
  OpenReader empty("<p></p>");
  empty->NextToken();
  empty->IdentifyTag();
  EXPECT_TRUE(empty->ReadIntList(5, values));
  EXPECT_EQ(values.count, 0);
  EXPECT_TRUE(empty->isEndToken);

  // Running out of input while numbers are needed.
  bool ok = true;
  EXPECT_EQ(IntsOf("<p>1 ", 3, &ok), (std::vector<int>{1}));
  EXPECT_FALSE(ok);
}

TEST(Values, IntegerListsSpanTheReadersPieces) {
  std::string text;
  std::vector<int> expected;
  for (int i = 0; text.size() < 400000; ++i) {
    text += std::to_string(i * 7 % 100003) + (i % 5 ? " " : "\n");
    expected.push_back(i * 7 % 100003);
  }
  bool ok = false;
  EXPECT_EQ(IntsOf("<p>" + text + "</p>", static_cast<int>(expected.size()), &ok), expected);
  EXPECT_TRUE(ok);
}

// The integer scan step by step as documented, each number converted with strtol and cut to 32
// bits as atoi does: the reference the reader's one-pass conversion must match.
std::vector<int> ReferenceInts(XmlReader& r, int count) {
  std::vector<int> out;
  int p = 0;
  for (int n = 0; n < count; ++n) {
    int s = p;
    if (p >= r.tokenLength) {
      if (!r.NextToken()) break;
      p = 0;
    }
    int q = p;
    while (q < r.tokenLength && static_cast<unsigned char>(r.tokenText[q]) <= 0x20) ++q;
    if (q < r.tokenLength) {
      while (q < r.tokenLength && static_cast<unsigned char>(r.tokenText[q]) > 0x20) ++q;
      if (q < r.tokenLength) {
        r.tokenText[q] = '\0';
        p = q + 1;
      }
    }
    if (s > p) s = 0;
    out.push_back(static_cast<int>(static_cast<unsigned long>(std::strtol(r.tokenText + s, nullptr, 10))));
  }
  return out;
}

TEST(Values, IntegerListsOfEveryShapeMatchTheScan) {
  // Blanks of all kinds, runs of them (which also meet the cuts of the reader's pieces), control
  // bytes, signs, long digit runs and text that is not an integer.
  const char* separators[] = {" ", " ", " ", "\n", "\t", "  ", " \n", "\x01", "\x01 ", " \x02"};
  const char* odd[] = {"+", "-", "x7", "1.5", "-0", "0007", "+-3", "99999999999999999999",
                       "-9223372036854775809", "2147483648", "123456789012345678"};
  std::mt19937 rng(5);
  std::string text;
  int numbers = 0;
  while (text.size() < 300000) {
    if (rng() % 8 == 0) text += odd[rng() % (sizeof odd / sizeof *odd)];
    else text += std::to_string(static_cast<int>(rng() % 2000000) - 1000000);
    text += separators[rng() % (sizeof separators / sizeof *separators)];
    ++numbers;
  }
  const std::string doc = "<p>" + text + "</p><node/>";
  OpenReader reference(doc);
  reference->NextToken();
  reference->IdentifyTag();
  const std::vector<int> expected = ReferenceInts(reference.reader, numbers);
  EXPECT_EQ(IntsOf(doc, numbers), expected);
}

}  // namespace
