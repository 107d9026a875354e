#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>

#include "xml/ElementNames.h"
#include "xml/ReaderHarness.h"

using readertest::OpenReader;
using readertest::Trace;
using varnel::XmlReader;

namespace {

TEST(Reader, TokenSequences) {
  const std::string accessor = "<accessor><count>'3'</count><stride>'x'</stride></accessor>";
  const std::pair<std::string, std::string> cases[] = {
      // Attributes arrive like child elements, however they are spelled.
      {"<accessor count=\"3\" stride='x'/>", accessor},
      {"<accessor count = \"3\"\tstride='x' />", accessor},
      {"<accessor><count>3</count><stride>x</stride></accessor>", accessor},
      {"<accessor count=\"3\" stride='x'></accessor>", accessor},
      {"<node />", "<node></node>"},
      {"<image name=\"a/b\"></image>", "<image><name>'a/b'</name></image>"},  // "/" in a value
      {"<node id=\"\" name='say \"hi\"' sid=\"it's\"/>",
       "<node><id>''</id><name>'say \"hi\"'</name><sid>'it's'</sid></node>"},
      // A value without its closing quote, or a name without a value, drops the rest of the list.
      {"<node id=\"a\" name=\"b><p>1</p></node>", "<node><id>'a'</id><name><p>'1'</p></node>"},
      {"<node id><p>1</p></node>", "<node><p>'1'</p></node>"},
      // Line breaks vanish outside number lists and are blanks inside.
      {"<name>  ab\ncd  </name>", "<name>'abcd  '</name>"},
      {"<name>\r\n\tx</name>", "<name>'x'</name>"},
      {"<p>1\n2\r\n3</p>", "<p>'1 2  3'</p>"},
      {"<node\nid=\"a\"/>", "<nodeid=\"a\">"},
      // After float_array's attributes the reader stays in list mode until others are queued.
      {"<float_array id=\"f\">1\n2</float_array><node\nid=\"x\"/>",
       "<float_array><id>'f'</id>'1 2'</float_array><node><id>'x'</id></node>"},
      {"<node><!-- a > b --><p>1</p><!----></node>", "<node><p>'1'</p></node>"},
      {"<!--> still comment --><node/>", "<node></node>"},  // "<!-->" ends no comment
      {"<node/><!-- open", "<node></node>"},
      {"<name><![CDATA[a<b>]c]]></name>", "<name>'[CDATA[a<b>]c]]'</name>"},
      {"<!DOCTYPE x [<!ENTITY y \"z\">]><node/>", "'DOCTYPE x [<!ENTITY y \"z\">]'<node></node>"},
      // NUL is dropped, 0x01 kept; 0xFF ends the token being read and reading goes on behind it.
      {std::string("<name>a") + '\0' + "b\x01\xFF" "cd</name>", "<name>'ab\x01''cd'</name>"},
  };
  for (const auto& [document, expected] : cases) EXPECT_EQ(Trace(document), expected) << document;

  // An empty token before the end marker reports the end of the input once.
  OpenReader marker("\xFF<node/>");
  EXPECT_FALSE(marker->NextToken());
  EXPECT_TRUE(marker->NextToken());
  EXPECT_STREQ(marker->tokenText, "node");
}

TEST(Reader, UnknownNamesAndSkipping) {
  OpenReader open("<node><extra><node/><technique/></extra><p>1</p></node>");
  ASSERT_TRUE(open->NextToken());
  EXPECT_EQ(open->IdentifyTag(), varnel::kNode);
  EXPECT_EQ(open->IdentifyTag(), varnel::kExtra);
  ASSERT_TRUE(open->SkipElement(varnel::kExtra));  // to the first tag of that name, start or end
  EXPECT_EQ(open->IdentifyTag(), varnel::kP);

  OpenReader unknown("<node><mystery a='1'/><p>1</p></node>");
  ASSERT_TRUE(unknown->NextToken());
  unknown->IdentifyTag();
  EXPECT_EQ(unknown->IdentifyTag(), 0);
  EXPECT_STREQ(unknown->tokenText, "mystery");  // not advanced
  EXPECT_FALSE(unknown->SkipElement(0));        // "unknownTag" never comes: runs to the end
}

TEST(Reader, ByteOrderMarksReadTheSame) {
  const std::string doc = "<?xml version=\"1.0\"?>\n<COLLADA><unit meter=\"0.01\"/></COLLADA>\n";
  auto wide = [&](bool big) {
    std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : doc) out += big ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  const std::string expected = Trace(doc);
  EXPECT_EQ(expected, "<?xml><COLLADA><unit><meter>'0.01'</meter></unit></COLLADA>");
  EXPECT_EQ(Trace("\xEF\xBB\xBF" + doc), expected);
  EXPECT_EQ(Trace(wide(false)), expected);
  EXPECT_EQ(Trace(wide(true)), expected);
  // A lone trailing byte of big-endian input is delivered, and reading ends.
  EXPECT_EQ(Trace(wide(true) + "x"), expected + "'x'");
}

TEST(Reader, LongListsArriveInPiecesCutAtBlanks) {
  std::string numbers;
  while (numbers.size() < 300000) numbers += "12345 ";
  OpenReader open("<float_array count=\"50000\">" + numbers + "</float_array>");
  XmlReader& r = open.reader;
  ASSERT_TRUE(r.NextToken());
  r.IdentifyTag();
  r.IdentifyTag();
  r.NextToken();
  r.IdentifyTag();  // the end of "count"; the text follows
  size_t total = 0;
  int pieces = 0;
  for (; !r.isTagToken; ++pieces, total += size_t(r.tokenLength), r.NextToken()) {
    ASSERT_GE(r.tokenLength, 1);
    ASSERT_LE(r.tokenLength, varnel::kListCutLength + 5);
    ASSERT_EQ(r.tokenText[r.tokenLength - 1], ' ');
  }
  EXPECT_EQ(pieces, 3);
  EXPECT_EQ(total, numbers.size());

  // Text of any other element is not cut: at the limit reading ends.
  OpenReader huge("<name>" + std::string(200000, 'a') + "</name><node/>");
  ASSERT_TRUE(huge->NextToken());
  huge->IdentifyTag();
  EXPECT_EQ(huge->tokenLength, varnel::kTokenLimit);
  EXPECT_FALSE(huge->NextToken());
}

// ReadRawToken as a byte-by-byte getc loop: the reference for the buffered reader's hot path.
struct NaiveReader {
  std::FILE* file = nullptr;
  bool listMode = false, pendingOpen = false, closed = false, isTag = false;
  std::string text;

  bool Read() {
    text.clear();
    isTag = false;
    if (closed) return false;
    for (;;) {  // a finished comment starts the token again
      bool comment = false;
      int angle = 0, bracket = 0;
      isTag = pendingOpen;
      text = pendingOpen ? "<" : "";
      pendingOpen = false;
      for (bool restart = false; !restart;) {
        int c = std::getc(file);
        if (c == EOF || c > 254) {
          if (!comment) return !text.empty();
          break;
        }
        if (c == 0 || (c >= 0x0A && c <= 0x0F && !listMode)) continue;
        if (c >= 0x0A && c <= 0x0F) c = ' ';
        if (text.empty() && c <= 0x20) continue;
        if (text.empty() && c == '<') isTag = true;
        if (!isTag && c == '<') return pendingOpen = true;
        text += static_cast<char>(c);
        size_t n = text.size();
        if (n == size_t(varnel::kTokenLimit)) {
          closed = true;
          return false;
        }
        if (!isTag) {
          if (listMode && c == ' ' && n >= size_t(varnel::kListCutLength)) return true;
          continue;
        }
        if (n == 4 && text.compare(1, 3, "!--") == 0) comment = true;
        if (c == '<') {
          ++angle;
        } else if (c == '>' && --angle <= 0 && bracket <= 0) {
          if (!comment) return true;
          restart = n >= 7 && text[n - 3] == '-' && text[n - 2] == '-';
        } else if (c == '[') {
          ++bracket;
        } else if (c == ']' && --bracket <= 0 && angle > 1) {
          angle = 1;
        }
      }
    }
  }
};

void ExpectSameRawTokens(const std::string& doc, bool listMode) {
  OpenReader open(doc);
  XmlReader& r = open.reader;
  if (listMode) r.currentId = varnel::kFloatArray;
  NaiveReader naive;
  naive.file = std::fopen(testsupport::WriteFile("naive.dae", doc).c_str(), "rb");
  naive.listMode = listMode;
  ASSERT_NE(naive.file, nullptr);
  // Both start behind a byte-order mark; byte order stays as in the file.
  std::fseek(naive.file, std::ftell(r.stream), SEEK_SET);
  r.bigEndian = false;
  for (int i = 0, ends = 0; ends < 3; ++i) {
    bool expected = naive.Read();
    ASSERT_EQ(r.ReadRawToken(), expected) << "token " << i;
    ASSERT_EQ(std::string(r.tokenText, size_t(r.tokenLength)), naive.text) << "token " << i;
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
      s += pick == 0 ? '\0' : pick == 1 ? '\xFF' : pick == 2 ? '\xC3' : alphabet[rng() % alphabet.size()];
    }
    return s;
  };
  for (int round = 0; round < 400; ++round) ExpectSameRawTokens(random(20 + rng() % 400), round % 2 == 1);

  // Long runs across input blocks and up to the token limits, in both modes.
  std::string big;
  for (int piece = 0; piece < 12; ++piece) {
    big += random(50);
    for (size_t i = 0, run = 131000 + rng() % 300; i < run; ++i)
      big += (rng() % 150 == 0) ? ' ' : (rng() % 40 == 0 ? '\n' : '7');
  }
  ExpectSameRawTokens(big, false);
  ExpectSameRawTokens(big, true);
  ExpectSameRawTokens("<a>" + std::string(131070, 'x') + "  y<b>", true);
  ExpectSameRawTokens("<" + std::string(131100, 'x') + ">", false);
}

TEST(ReaderCorpus, EveryDocumentReadsToItsEnd) {
  std::vector<std::string> documents = testsupport::CorpusDocuments();
  if (documents.empty()) GTEST_SKIP() << "corpus absent";
  for (const std::string& path : documents) {
    SCOPED_TRACE(path);
    std::string contents = testsupport::ReadFile(path);
    // Identified the way parse methods go, the stream always reaches its end.
    OpenReader open(contents);
    XmlReader& r = open.reader;
    long tags = 0;
    bool more = r.NextToken();
    for (long guard = 0; more && guard < 100000000; ++guard) {
      if (!r.isTagToken) {
        more = r.NextToken();
        continue;
      }
      ++tags;
      more = r.IdentifyTag() == 0 ? r.NextToken() : !readertest::AtEnd(r);
    }
    EXPECT_FALSE(more);
    EXPECT_GT(tags, 0);
    ExpectSameRawTokens(contents, false);
    if (HasFailure()) return;
  }
}

}  // namespace
