#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tags/FragmentReader.h"
#include "tags/Transforms.h"

using namespace varnel;
using tagtest::FragmentReader;
using tagtest::ParseAs;

namespace {

using Matrix = std::array<double, 16>;
constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void ExpectMaps(const Matrix& m, std::array<double, 3> p, std::array<double, 3> expected) {
  const auto [x, y, z] = p;
  EXPECT_NEAR(x * m[0] + y * m[4] + z * m[8] + m[12], expected[0], 1e-12);
  EXPECT_NEAR(x * m[1] + y * m[5] + z * m[9] + m[13], expected[1], 1e-12);
  EXPECT_NEAR(x * m[2] + y * m[6] + z * m[10] + m[14], expected[2], 1e-12);
}

}  // namespace

TEST(Transforms, IdentityTolerance) {
  const struct {
    const char* text;
    bool identity;
  } cases[] = {
      {"<translate>0 0 0.000001</translate>", true},   {"<translate>0 0 0.0001</translate>", false},
      {"<translate>-0.0001 0 0</translate>", false},   {"<scale>1 1 1.000001</scale>", true},
      {"<scale>1 1 1.0001</scale>", false},            {"<scale>1 0.9999 1</scale>", false},
      {"<rotate>1 0 0 0</rotate>", true},              {"<rotate>0 0 0 90</rotate>", false},
      {"<rotate>0 0 1 -0.0001</rotate>", false},
      {"<matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1</matrix>", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto transform = ParseAs<TransformTag>(c.text);
    ASSERT_TRUE(transform);
    EXPECT_EQ(transform->isIdentity, c.identity);
  }
}

TEST(Transforms, MatrixIsStoredTransposed) {
  auto matrix = ParseAs<MatrixTag>("<matrix sid='m'>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</matrix>");
  ASSERT_TRUE(matrix);
  EXPECT_EQ(matrix->matrix[12], 5);
  EXPECT_EQ(matrix->matrix[3], 0);
  Matrix m = kIdentity;
  matrix->ApplyTo(m.data());
  ExpectMaps(m, {0, 0, 0}, {5, 6, 7});
  ExpectMaps(m, {1, 2, 3}, {6, 8, 10});
}

TEST(Transforms, NodeOrderAppliesTheInnermostFirst) {
  FragmentReader reader("<translate sid='t'>1 0 0</translate><rotate sid=\"r\">0 0 1 90</rotate><scale>2 3 4</scale>");
  std::unique_ptr<Tag> translate = reader.Next(), rotate = reader.Next(), scale = reader.Next();
  ASSERT_TRUE(translate && rotate && scale);

  Matrix m = kIdentity;
  rotate->AsTransformTag()->ApplyTo(m.data());
  ExpectMaps(m, {1, 0, 0}, {0, 1, 0});

  m = kIdentity;
  translate->AsTransformTag()->ApplyTo(m.data());
  rotate->AsTransformTag()->ApplyTo(m.data());
  ExpectMaps(m, {1, 0, 0}, {1, 1, 0});

  // Scaled first, then rotated, then translated.
  scale->AsTransformTag()->ApplyTo(m.data());
  ExpectMaps(m, {1, 1, 1}, {-2, 2, 4});
}

TEST(Transforms, ShortTextReadsMissingNumbersAsZero) {
  FragmentReader reader("<translate>4 5</translate><scale/><translate>2 2 2</translate>");
  auto translate = reader.Next(), empty = reader.Next(), last = reader.Next();
  ASSERT_TRUE(translate && empty && last);
  EXPECT_EQ(static_cast<TranslateTag&>(*translate).translation[2], 0);
  EXPECT_EQ(static_cast<TranslateTag&>(*translate).translation[1], 5);
  EXPECT_EQ(static_cast<ScaleTag&>(*empty).factors[0], 0);
  EXPECT_EQ(static_cast<TranslateTag&>(*last).translation[2], 2);

  // Text that ends with the input fails the element and the document.
  FragmentReader truncated("<matrix>1 0 0 5 0 1");
  EXPECT_FALSE(truncated.Next());
  EXPECT_TRUE(truncated.document.stopped);
}
