// Attribute values, element text and index lists as the parse methods receive them.
#include <gtest/gtest.h>

#include <string>

#include "document/DaeDocument.h"
#include "support/Documents.h"
#include "support/Outputs.h"
#include "tags/Tag.h"

namespace pipelinetest {
namespace {

using namespace testdoc;

// The id of a document's one material, written as an attribute or as a child element's text.
std::wstring IdAsRead(const std::string& id, bool asChild = false) {
  static int serial = 0;
  Doc doc;
  doc.materials = asChild ? "<material><id>" + id + "</id></material>" : "<material id=\"" + id + "\"/>";
  DaeDocument document;
  document.Load(String::FromUtf8(doc.Write("values/" + std::to_string(++serial) + ".dae")));
  return document.materials.count == 1 ? document.materials[0]->GetId().wstr() : L"<none>";
}

TEST(Values, EntitiesReferencesAndUtf8) {
  const struct {
    const char* text;
    std::wstring value;
  } cases[] = {
      {"plain-id", L"plain-id"},
      {"x&#65;&#66;yyy", L"xAByyy"},
      {"&#9999;abcd", std::wstring(1, wchar_t(9999)) + L"abcd"},
      // The ";" must lie before the last three characters; hex, zero and five digits stay.
      {"x&#65;", L"x&#65;"},
      {"&#65;ab", L"&#65;ab"},
      {"&#65;&#12345;abcd", L"A&#12345;abcd"},
      {"&#x41;abcd", L"&#x41;abcd"},
      {"&#0;abcd", L"&#0;abcd"},
      {"&lt;a&gt; &quot;q&quot; &apos;s&apos; &lt;&lt;", L"<a> \"q\" 's' <<"},
      {"&amp;lt; &amp;", L"&amp;lt; &amp;"},  // the ampersand entity is not decoded
      {"caf\xC3\xA9 \xE2\x82\xAC&lt;", L"caf\u00E9 \u20AC<"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IdAsRead(c.text), c.value) << c.text;
    EXPECT_EQ(IdAsRead(c.text, true), c.value) << c.text << " as text";
  }
  // Blanks: an attribute keeps them, element text of blanks alone is no text at all.
  EXPECT_EQ(IdAsRead("  "), L"  ");
  EXPECT_EQ(IdAsRead("  ", true), L"");
}

// Index lists convert like atoi; a list shorter than its count repeats its last number.
TEST(Values, IndexLists) {
  const struct {
    std::string primitive;
    std::vector<Vec3> points;
  } cases[] = {
      {Primitive("triangles", 1, "m", "+1 x7 2"), {{0, 1, 0}, {0, 0, 0}, {1, 0, 0}}},
      {Primitive("triangles", 2, "m", "0 1 2"),
       {{0, 1, 0}, {0, 1, 0}, {0, 1, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 0}}},
  };
  for (const auto& c : cases) {
    Output out = RunAgreeing(OneInstance(Mesh("g", c.primitive)).Text()).geometry;
    ASSERT_EQ(out.parts.size(), 1u) << c.primitive;
    ExpectNear(out.parts[0].points, c.points, 0, c.primitive.c_str());
  }
}

}  // namespace
}  // namespace pipelinetest
