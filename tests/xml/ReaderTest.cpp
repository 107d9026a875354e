#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "xml/ElementNames.h"
#include "xml/ReaderHarness.h"

using readertest::OpenReader;
using readertest::Trace;
using varnel::XmlReader;

namespace {

TEST(Reader, AttributesReadLikeChildElements) {
  const char* expected = "<accessor><count>'3'</count><stride>'x'</stride></accessor>";
  EXPECT_EQ(Trace("<accessor count=\"3\" stride='x'/>"), expected);
  EXPECT_EQ(Trace("<accessor count = \"3\"\tstride='x' />"), expected);
  EXPECT_EQ(Trace("<accessor><count>3</count><stride>x</stride></accessor>"), expected);
  EXPECT_EQ(Trace("<accessor count=\"3\" stride='x'></accessor>"), expected);
}

TEST(Reader, EmptyElementFormsAllCloseThemselves) {
  EXPECT_EQ(Trace("<node/>"), "<node></node>");
  EXPECT_EQ(Trace("<node />"), "<node></node>");
  EXPECT_EQ(Trace("<node></node>"), "<node></node>");
  EXPECT_EQ(Trace("<node id=\"a\"/>"), "<node><id>'a'</id></node>");
  // A "/" inside an attribute value is no self-closing mark.
  EXPECT_EQ(Trace("<image name=\"a/b\"></image>"), "<image><name>'a/b'</name></image>");
}

TEST(Reader, AttributeValuesKeepTheOtherQuoteAndMayBeEmpty) {
  EXPECT_EQ(Trace("<node id=\"\" name='say \"hi\"' sid=\"it's\"/>"),
            "<node><id>''</id><name>'say \"hi\"'</name><sid>'it's'</sid></node>");
  // A value without its closing quote drops the rest of the list; the element stays.
  EXPECT_EQ(Trace("<node id=\"a\" name=\"b><p>1</p></node>"),
            "<node><id>'a'</id><name><p>'1'</p></node>");
  // A name without a value: the same.
  EXPECT_EQ(Trace("<node id><p>1</p></node>"), "<node><p>'1'</p></node>");
}

TEST(Reader, LineBreaksVanishOutsideListsAndAreBlanksInside) {
  EXPECT_EQ(Trace("<name>  ab\ncd  </name>"), "<name>'abcd  '</name>");
  EXPECT_EQ(Trace("<name>\r\n\tx</name>"), "<name>'x'</name>");
  EXPECT_EQ(Trace("<p>1\n2\r\n3</p>"), "<p>'1 2  3'</p>");
  // In a tag outside list mode the line break glues name and attribute into one unknown word.
  EXPECT_EQ(Trace("<node\nid=\"a\"/>"), "<nodeid=\"a\">");
  // After float_array with attributes the reader stays in list mode until another element's
  // attributes are queued, so the next tag reads its line break as a blank.
  EXPECT_EQ(Trace("<float_array id=\"f\">1\n2</float_array><node\nid=\"x\"/>"),
            "<float_array><id>'f'</id>'1 2'</float_array><node><id>'x'</id></node>");
}

TEST(Reader, CommentsAreInvisibleAndCdataIsText) {
  EXPECT_EQ(Trace("<node><!-- a > b --><p>1</p><!----></node>"), "<node><p>'1'</p></node>");
  // "<!-->" does not end the comment it opens.
  EXPECT_EQ(Trace("<!--> still comment --><node/>"), "<node></node>");
  EXPECT_EQ(Trace("<name><![CDATA[a<b>]c]]></name>"), "<name>'[CDATA[a<b>]c]]'</name>");
  // A declaration with an internal subset ends at its own final ">".
  EXPECT_EQ(Trace("<!DOCTYPE x [<!ENTITY y \"z\">]><node/>"), "'DOCTYPE x [<!ENTITY y \"z\">]'<node></node>");
  // A comment running into the end of the input leaves nothing.
  EXPECT_EQ(Trace("<node/><!-- open"), "<node></node>");
}

TEST(Reader, ControlBytesAndTheEndMarker) {
  std::string doc = "<name>a";
  doc += '\0';
  doc += "b\x01";
  doc += '\xFF';
  doc += "cd</name>";
  // NUL is dropped, 0x01 kept; 0xFF ends the token being read and reading goes on behind it.
  EXPECT_EQ(Trace(doc), "<name>'ab\x01''cd'</name>");
  OpenReader open(doc);
  XmlReader& r = open.reader;
  ASSERT_TRUE(r.NextToken());
  r.IdentifyTag();
  EXPECT_STREQ(r.tokenText, "ab\x01");
  ASSERT_TRUE(r.NextToken());
  EXPECT_STREQ(r.tokenText, "cd");
  ASSERT_TRUE(r.NextToken());
  EXPECT_TRUE(r.isEndToken);
  // An empty token before the marker reports the end of the input once.
  OpenReader marker("\xFF<node/>");
  EXPECT_FALSE(marker->NextToken());
  EXPECT_TRUE(marker->NextToken());
  EXPECT_STREQ(marker->tokenText, "node");
}

TEST(Reader, TagAfterTextStartsFromTheConsumedOpenBracket) {
  OpenReader open("x<a <b>>");
  XmlReader& r = open.reader;
  ASSERT_TRUE(r.ReadRawToken());
  EXPECT_STREQ(r.tokenText, "x");
  EXPECT_TRUE(r.pendingOpen);
  // The carried "<" does not count as an open bracket, so the tag ends at the first ">".
  ASSERT_TRUE(r.ReadRawToken());
  EXPECT_STREQ(r.tokenText, "<a <b>");
  EXPECT_FALSE(r.pendingOpen);
  OpenReader direct("<a <b>>");
  ASSERT_TRUE(direct->ReadRawToken());
  EXPECT_STREQ(direct->tokenText, "<a <b>>");
}

TEST(Reader, UnknownNamesAndSkipping) {
  OpenReader open("<node><extra><node/><technique/></extra><p>1</p></node>");
  XmlReader& r = open.reader;
  ASSERT_TRUE(r.NextToken());
  EXPECT_EQ(r.IdentifyTag(), varnel::kNode);
  EXPECT_EQ(r.IdentifyTag(), varnel::kExtra);
  // The skip stops at the first tag of that name, start or end.
  ASSERT_TRUE(r.SkipElement(varnel::kExtra));
  EXPECT_EQ(r.IdentifyTag(), varnel::kP);
  EXPECT_STREQ(r.tokenText, "1");

  OpenReader unknown("<node><mystery a='1'/><p>1</p></node>");
  XmlReader& u = unknown.reader;
  ASSERT_TRUE(u.NextToken());
  EXPECT_EQ(u.IdentifyTag(), varnel::kNode);
  EXPECT_EQ(u.IdentifyTag(), 0);
  EXPECT_EQ(u.currentId, 0);
  EXPECT_STREQ(u.tokenText, "mystery");  // not advanced
  EXPECT_FALSE(u.SkipElement(0));        // "unknownTag" never comes: runs to the end

  // Outside the table the skip takes the next end tag of any name.
  OpenReader fallback("<node><a><b>x</b></a></node>");
  XmlReader& f = fallback.reader;
  ASSERT_TRUE(f.NextToken());
  f.IdentifyTag();
  ASSERT_TRUE(f.SkipElement(500));
  EXPECT_STREQ(f.tokenText, "a");
  EXPECT_TRUE(f.isEndToken);
}

TEST(Reader, ByteOrderMarksReadTheSame) {
  const std::string doc = "<?xml version=\"1.0\"?>\n<COLLADA><asset><unit meter=\"0.01\"/></asset></COLLADA>\n";
  auto wide = [&](bool big) {
    std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : doc) {
      out += big ? '\0' : c;
      out += big ? c : '\0';
    }
    return out;
  };
  const std::string expected = Trace(doc);
  EXPECT_NE(expected.find("<unit><meter>'0.01'</meter></unit>"), std::string::npos);
  EXPECT_EQ(Trace("\xEF\xBB\xBF" + doc), expected);
  EXPECT_EQ(Trace(wide(false)), expected);
  EXPECT_EQ(Trace(wide(true)), expected);
  OpenReader big(wide(true));
  EXPECT_TRUE(big->wideInput);
  EXPECT_TRUE(big->bigEndian);
  // A lone trailing byte of big-endian input is delivered, and reading ends.
  EXPECT_EQ(Trace(wide(true) + "x"), expected + "'x'");
}

TEST(Reader, LongListsArriveInPiecesCutAtBlanks) {
  std::string numbers;
  while (numbers.size() < 300000) numbers += "12345 ";
  OpenReader open("<float_array count=\"50000\">" + numbers + "</float_array>");
  XmlReader& r = open.reader;
  ASSERT_TRUE(r.NextToken());
  EXPECT_EQ(r.IdentifyTag(), varnel::kFloatArray);
  EXPECT_EQ(r.IdentifyTag(), varnel::kCount);
  ASSERT_TRUE(r.NextToken());
  r.IdentifyTag();  // the end of "count"; the text follows
  size_t total = 0;
  int pieces = 0;
  while (!r.isTagToken) {
    ASSERT_GE(r.tokenLength, 1);
    EXPECT_LE(r.tokenLength, varnel::kListCutLength + 5);
    EXPECT_EQ(r.tokenText[r.tokenLength - 1], ' ');
    total += static_cast<size_t>(r.tokenLength);
    ++pieces;
    ASSERT_TRUE(r.NextToken());
  }
  EXPECT_EQ(pieces, 3);
  EXPECT_EQ(total, numbers.size());
  EXPECT_STREQ(r.tokenText, "float_array");

  // Text of any other element is not cut: at the limit reading ends.
  OpenReader huge("<name>" + std::string(200000, 'a') + "</name><node/>");
  ASSERT_TRUE(huge->NextToken());
  huge->IdentifyTag();
  EXPECT_EQ(huge->tokenLength, varnel::kTokenLimit);
  EXPECT_EQ(huge->stream, nullptr);
  EXPECT_FALSE(huge->NextToken());
}

// ReadRawToken as a byte-by-byte getc loop, for comparison with the buffered reader.
struct NaiveReader {
  std::FILE* file = nullptr;
  bool listMode = false;
  bool pendingOpen = false;
  bool closed = false;
  bool isTag = false;
  std::string text;

  bool Read() {
    if (closed) {
      text.clear();
      isTag = false;
      return false;
    }
  restart:
    isTag = false;
    text.clear();
    int angle = 0, bracket = 0;
    bool comment = false;
    if (pendingOpen) {
      text = "<";
      isTag = true;
      pendingOpen = false;
    }
    for (;;) {
      int c = std::getc(file);
      if (c == EOF || c > 254) {
        if (comment) goto restart;
        return !text.empty();
      }
      if (c == 0) continue;
      if (c >= 0x0A && c <= 0x0F) {
        if (!listMode) continue;
        c = ' ';
      }
      if (text.empty()) {
        if (c <= 0x20) continue;
        if (c == '<') isTag = true;
      }
      if (!isTag && c == '<') {
        pendingOpen = true;
        return true;
      }
      text += static_cast<char>(c);
      if (text.size() == static_cast<size_t>(varnel::kTokenLimit)) {
        closed = true;
        return false;
      }
      size_t n = text.size();
      if (!isTag) {
        if (listMode && c == ' ' && n >= static_cast<size_t>(varnel::kListCutLength)) return true;
        continue;
      }
      if (n == 4 && text.compare(1, 3, "!--") == 0) comment = true;
      if (c == '<') {
        ++angle;
      } else if (c == '>') {
        if (--angle > 0 || bracket > 0) continue;
        if (!comment) return true;
        if (n >= 7 && text[n - 3] == '-' && text[n - 2] == '-') goto restart;
      } else if (c == '[') {
        ++bracket;
      } else if (c == ']') {
        if (--bracket <= 0 && angle > 1) angle = 1;
      }
    }
  }
};

void ExpectSameRawTokens(const std::string& doc, bool listMode) {
  std::string path = testsupport::WriteFile("naive.dae", doc);
  OpenReader open(doc);
  XmlReader& r = open.reader;
  if (listMode) r.currentId = varnel::kFloatArray;
  NaiveReader naive;
  naive.file = std::fopen(path.c_str(), "rb");
  naive.listMode = listMode;
  ASSERT_NE(naive.file, nullptr);
  // Both start behind a byte-order mark; byte order stays as in the file.
  std::fseek(naive.file, std::ftell(r.stream), SEEK_SET);
  r.bigEndian = false;
  int ends = 0;
  for (int i = 0; ends < 3; ++i) {
    bool expected = naive.Read();
    bool got = r.ReadRawToken();
    ASSERT_EQ(got, expected) << "token " << i;
    ASSERT_EQ(std::string(r.tokenText, static_cast<size_t>(r.tokenLength)), naive.text) << "token " << i;
    ASSERT_EQ(r.isTagToken, naive.isTag) << "token " << i;
    ASSERT_EQ(r.pendingOpen, naive.pendingOpen) << "token " << i;
    ends = expected || !(naive.closed || std::feof(naive.file)) ? 0 : ends + 1;
  }
  std::fclose(naive.file);
}

TEST(Reader, BufferedReadingMatchesByteByByteReading) {
  std::mt19937 rng(20240611);
  const std::string alphabet = "ab <<>>>!!--[] \n\t/=\"'\x0B";
  auto random = [&](size_t size) {
    std::string s;
    for (size_t i = 0; i < size; ++i) {
      unsigned pick = rng() % 100;
      if (pick == 0) s += '\0';
      else if (pick == 1) s += '\xFF';
      else if (pick == 2) s += '\xC3';
      else s += alphabet[rng() % alphabet.size()];
    }
    return s;
  };
  for (int round = 0; round < 400; ++round) ExpectSameRawTokens(random(20 + rng() % 400), round % 2 == 1);

  // Long runs across input blocks and up to the token limits, in both modes.
  std::string big;
  for (int piece = 0; piece < 12; ++piece) {
    big += random(50);
    size_t run = 131000 + rng() % 300;
    for (size_t i = 0; i < run; ++i) big += (rng() % 150 == 0) ? ' ' : (rng() % 40 == 0 ? '\n' : '7');
  }
  ExpectSameRawTokens(big, false);
  ExpectSameRawTokens(big, true);
  ExpectSameRawTokens("<a>" + std::string(131070, 'x') + "  y<b>", true);
  ExpectSameRawTokens("<" + std::string(131100, 'x') + ">", false);
}

}  // namespace

namespace {

TEST(ReaderCorpus, DemoHouseReadsWhole) {
  std::string trace = Trace(testsupport::ReadFile(VARNEL_TEST_DATA "/demo/house.dae"));
  const std::string chimney = "<instance_node><url>'#chimney'</url></instance_node>";
  size_t first = trace.find(chimney);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(trace.find(chimney, first + 1), std::string::npos);
  EXPECT_NE(trace.find("<vcount>'4 4 4 4'</vcount>"), std::string::npos);
  EXPECT_NE(trace.find("<init_from>'brick.png'</init_from>"), std::string::npos);
  EXPECT_EQ(trace.substr(trace.size() - 10), "</COLLADA>");
}

TEST(ReaderCorpus, EveryDocumentReadsToItsEnd) {
  std::vector<std::string> documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "corpus absent";
  for (const std::string& path : documents) {
    std::string contents = testsupport::ReadFile(path);
    SCOPED_TRACE(path);
    // Identified the way parse methods go, the stream always reaches its end.
    OpenReader open(contents);
    XmlReader& r = open.reader;
    long tags = 0;
    bool more = r.NextToken();
    for (long guard = 0; more && guard < 100000000; ++guard) {
      if (r.isTagToken) {
        ++tags;
        if (r.IdentifyTag() == 0) more = r.NextToken();
        else more = !readertest::AtEnd(r);
      } else {
        more = r.NextToken();
      }
    }
    EXPECT_FALSE(more);
    EXPECT_GT(tags, 0);
    ExpectSameRawTokens(contents, false);
    if (HasFailure()) return;
  }
}

}  // namespace
