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

TEST(Values, EntitiesUtf8AndUrls) {
  const struct {
    const char* text;
    std::wstring value;
    bool url = false;
  } cases[] = {
      {"x&#65;&#66;yyy", L"xAByyy"},
      {"&#9999;abcd", std::wstring(1, wchar_t(9999)) + L"abcd"},
      // The ";" must lie before the last three characters; hex and zero stay as written.
      {"x&#65;", L"x&#65;"},
      {"&#65;ab", L"&#65;ab"},
      {"&#12345;abcd", L"&#12345;abcd"},
      {"&#65;&#12345;abcd", L"A&#12345;abcd"},  // five digits are too many
      {"&#x41;abcd", L"&#x41;abcd"},
      {"&#0;abcd", L"&#0;abcd"},
      {"&lt;a&gt; &quot;q&quot; &apos;s&apos;", L"<a> \"q\" 's'"},
      {"&amp;lt; &amp;", L"&amp;lt; &amp;"},  // the ampersand entity is kept
      {"&lt;&lt;&lt;", L"<<<"},
      {"caf\xC3\xA9 \xE2\x82\xAC", L"caf\u00E9 \u20AC"},
      {"\xC3\xA9&lt;", L"\u00E9<"},
      {"   ", L""},
      {"#", L"#", true},
      {"  #geom-1 ", L"geom-1", true},
      {"file.png", L"file.png", true},
  };
  for (const auto& c : cases) EXPECT_EQ(ValueOf(c.text, c.url), c.value) << c.text;

  // An element without text reads as empty and leaves its end tag for the caller.
  OpenReader open("<name></name>");
  open->NextToken();
  open->IdentifyTag();
  String value = L"x";
  EXPECT_TRUE(open->ReadValue(value));
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_TRUE(open->isEndToken);

  // An attribute value of blanks keeps them.
  OpenReader attribute("<node name='  '/>");
  attribute->NextToken();
  attribute->IdentifyTag();
  EXPECT_EQ(attribute->IdentifyTag(), varnel::kName);
  EXPECT_TRUE(attribute->ReadValue(value));
  EXPECT_EQ(value.wstr(), L"  ");
}

// The numbers ReadIntList takes for `count` from the first element of `doc`, and what the reader
// stands on afterwards.
std::vector<int> IntsOf(const std::string& doc, int count, bool* result = nullptr,
                        std::string* next = nullptr) {
  OpenReader open(doc);
  XmlReader& r = open.reader;
  r.NextToken();
  r.IdentifyTag();
  varnel::BaseArray<int32_t> values;
  bool ok = r.ReadIntList(count, values);
  if (result) *result = ok;
  if (next) *next = std::string(r.isEndToken ? "/" : "") + r.tokenText;
  return std::vector<int>(values.begin(), values.end());
}

TEST(Values, IntegerLists) {
  using Ints = std::vector<int>;
  EXPECT_EQ(IntsOf("<p>1 2 3</p>", 3), (Ints{1, 2, 3}));
  // Missing numbers repeat the last one when the text does not end with a blank.
  EXPECT_EQ(IntsOf("<p>1 2 3</p>", 6), (Ints{1, 2, 3, 3, 3, 3}));
  // Ending with a blank, the scan reads on into the end tag, whose name converts to 0.
  EXPECT_EQ(IntsOf("<p> 1\n2 </p>", 4), (Ints{1, 2, 0, 0}));
  EXPECT_EQ(IntsOf("<p>-4 +5 x7 9</p>", 4), (Ints{-4, 5, 0, 9}));

  // Count 0 reads nothing but passes the text and the end tag; an empty element consumes nothing.
  std::string next;
  EXPECT_EQ(IntsOf("<p>1 2</p><node/>", 0, nullptr, &next), Ints{});
  EXPECT_EQ(next, "node");
  EXPECT_EQ(IntsOf("<p></p>", 5, nullptr, &next), Ints{});
  EXPECT_EQ(next, "/p");

  bool ok = true;
  EXPECT_EQ(IntsOf("<p>1 ", 3, &ok), Ints{1});  // the input ends while numbers are needed
  EXPECT_FALSE(ok);

  // Lists longer than one reader piece.
  std::string text;
  Ints expected;
  for (int i = 0; text.size() < 400000; ++i) {
    text += std::to_string(i * 7 % 100003) + (i % 5 ? " " : "\n");
    expected.push_back(i * 7 % 100003);
  }
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
