// What the reader makes of the way a document is spelled, seen in the geometry it yields.
#include <gtest/gtest.h>
#include <iconv.h>

#include <fstream>
#include <iterator>
#include <vector>
#include <string>

#include "support/Documents.h"
#include "support/Outputs.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string Utf16(const std::string& text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return out;
}

TEST(Reader, SpellingsOfOneDocumentReadAlike) {
  const std::string plain = OneInstance(Mesh("g", kTriangle)).Text();
  const std::string scene = "<visual_scene id=\"s\">";
  const std::string instance = "<instance_geometry url=\"#g\"/>";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"attributes as child elements",
       Replaced(plain, "<accessor source=\"#g-p-a\" count=\"3\" stride=\"3\"/>",
                "<accessor><source>#g-p-a</source><count>3</count><stride>3</stride></accessor>")},
      {"single quotes, blanks around = and before />",
       Replaced(plain, instance, "<instance_geometry url = '#g' />")},
      {"an end tag of its own", Replaced(plain, instance, "<instance_geometry url=\"#g\"></instance_geometry>")},
      {"comments, with > and -> inside",
       Replaced(plain, scene, scene + "<!-- a > b --><!----><!--> still one --><!-- was: -> "
                                      "<node><instance_geometry url=\"#g\"/></node> -->")},
      {"a CDATA section as text",
       Replaced(plain, "<asset>", "<asset><contributor><authoring_tool><![CDATA[x<y>]z]]>"
                                  "</authoring_tool></contributor>")},
      {"line breaks between tags and numbers",
       Replaced(Replaced(plain, "<p>0 1 2</p>", "<p>0\n1\r\n2</p>"), "0 0 0 1 0 0 0 1 0",
                "0\n0\r\n0\t1\n0 0\n\n0 1 0\r\n")},
      {"a line break inside a tag", Replaced(plain, "url=\"#g\"", "url=\"#\ng\"")},
      {"bytes 0x0B to 0x0F as line breaks",
       Replaced(Replaced(plain, "<p>0 1 2</p>", "<p>0\v1\f\x0e" "2</p>"), "url=\"#g\"", "url=\"#\x0fg\"")},
      {"NUL bytes", Replaced(plain, "instance_geometry url", std::string("instance_geo\0metry u\0rl", 23))},
      {"no prolog", plain.substr(plain.find("<COLLADA"))},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + plain},
      {"UTF-16 little-endian", Utf16(plain, false)},
      {"UTF-16 big-endian", Utf16(plain, true)},
  };
  const Output expected = RunAgreeing(plain).geometry;
  ASSERT_EQ(expected.parts.size(), 1u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Output read = RunAgreeing(c.text).geometry;
    ExpectSameParts(read, expected, true);
    EXPECT_EQ(read.materials.size(), 1u);
  }
}

// `text` from UTF-8 into `to` by iconv.
std::string Recoded(std::string text, const char* to, const char* from = "UTF-8") {
  iconv_t cd = iconv_open(to, from);
  std::string out(4 * text.size(), '\0');
  char *in = text.data(), *at = out.data();
  size_t inLeft = text.size(), outLeft = out.size();
  iconv(cd, &in, &inLeft, &at, &outLeft);
  iconv_close(cd);
  return out.substr(0, out.size() - outLeft);
}

// The extended reading takes UTF-16 as the UTF-8 text it spells (names whose units hold the
// bytes of '"' and '<', one beyond 16 bits); the plain reading first says it met UTF-16.
TEST(Reader, Utf16ReadsAsItsUtf8TextInTheExtendedReading) {
  struct Names : varnel::SceneObserver {
    std::string heard;
    void NodeParts(int32_t, int32_t, const char* name) override { heard += name; }
  };
  std::vector<std::string> originals = {
      Replaced(OneInstance(Mesh("g", kTriangle)).Text(), "<node>", "<node name=\"\u6F22\u4E3C \U0001D11E\">")};
  if (std::ifstream file{testsupport::CorpusDir() + "/assimp/cube_UTF16LE.dae", std::ios::binary}; file)
    originals.push_back(Recoded({std::istreambuf_iterator<char>(file), {}}, "UTF-8", "UTF-16"));
  int serial = 0;
  for (const std::string& utf8 : originals) {
    Names expectedNames;
    const std::string expected = DataBuffer(testsupport::WriteFile("utf16/" + std::to_string(++serial) + ".dae", utf8),
                                            {true, nullptr, nullptr, &expectedNames});
    ASSERT_FALSE(expected.empty());
    for (const std::string& text : {"\xFF\xFE" + Recoded(utf8, "UTF-16LE"), "\xFE\xFF" + Recoded(utf8, "UTF-16BE"),
                                    Recoded(utf8, "UTF-16LE"), Recoded(utf8, "UTF-16BE"), "\xEF\xBB\xBF" + utf8}) {
      SCOPED_TRACE(serial);
      const std::string path = testsupport::WriteFile("utf16/" + std::to_string(++serial) + ".dae", text);
      Names names;
      EXPECT_TRUE(DataBuffer(path, {true, nullptr, nullptr, &names}) == expected);
      EXPECT_EQ(names.heard, expectedNames.heard);
      DiagnosticLog plain;
      DataBuffer(path, {false, &plain});
      const bool utf16 = text[0] != '\xEF';
      ASSERT_EQ(!plain.heard.empty() && plain.heard[0].kind == varnel::DiagnosticKind::kEncoding, utf16);
      EXPECT_TRUE(!utf16 || plain.heard[0].extendedReads);
    }
  }
}

// Lists longer than one piece of the reader's buffer are cut at blanks and read whole.
TEST(Reader, LongNumberListsReadWhole) {
  const int n = 30000;
  std::string positions, indices;
  for (int i = 0; i < n; ++i) {
    positions += std::to_string(i) + " 0.5 0 ";
    indices += std::to_string(i) + (i % 5 ? " " : "\n");
  }
  Output out = RunAgreeing(OneInstance(Mesh("g", Primitive("triangles", n / 3, "m", indices), "",
                                            positions)).Text())
                   .geometry;
  ASSERT_EQ(out.parts.size(), 1u);
  ASSERT_EQ(out.parts[0].points.size(), size_t(n));
  for (int i = 0; i < n; ++i) {
    const Vec3 expected{double(n - 1 - i), 0.5, 0};  // reversed
    ASSERT_EQ(out.parts[0].points[i], expected) << i;
  }
}

}  // namespace
}  // namespace pipelinetest
