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

std::array<double, 3> Transform(const Matrix& m, double x, double y, double z) {
  return {x * m[0] + y * m[4] + z * m[8] + m[12], x * m[1] + y * m[5] + z * m[9] + m[13],
          x * m[2] + y * m[6] + z * m[10] + m[14]};
}

void ExpectPoint(const std::array<double, 3>& p, double x, double y, double z) {
  EXPECT_NEAR(p[0], x, 1e-12);
  EXPECT_NEAR(p[1], y, 1e-12);
  EXPECT_NEAR(p[2], z, 1e-12);
}

std::unique_ptr<TransformTag> ParseTransform(const std::string& xml) {
  return ParseAs<TransformTag>(xml);
}

}  // namespace

TEST(Transforms, IdentityTolerance) {
  const struct {
    const char* text;
    bool identity;
  } cases[] = {
      {"<translate>0 0 0.000001</translate>", true},
      {"<translate>0 0 0.0001</translate>", false},
      {"<translate>-0.0001 0 0</translate>", false},
      {"<scale>1 1 1</scale>", true},
      {"<scale>1 1 1.000001</scale>", true},
      {"<scale>1 1 1.0001</scale>", false},
      {"<scale>1 0.9999 1</scale>", false},
      {"<rotate>1 0 0 0</rotate>", true},
      {"<rotate>0 0 0 90</rotate>", false},
      {"<rotate>0 0 1 -0.0001</rotate>", false},
      {"<matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1</matrix>", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto transform = ParseTransform(c.text);
    ASSERT_TRUE(transform);
    EXPECT_EQ(transform->isIdentity, c.identity);
  }
}

TEST(Transforms, MatrixIsStoredTransposed) {
  auto transform = ParseTransform("<matrix sid='m'>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</matrix>");
  ASSERT_TRUE(transform);
  auto* matrix = dynamic_cast<MatrixTag*>(transform.get());
  ASSERT_TRUE(matrix);
  EXPECT_EQ(matrix->matrix[12], 5);
  EXPECT_EQ(matrix->matrix[13], 6);
  EXPECT_EQ(matrix->matrix[14], 7);
  EXPECT_EQ(matrix->matrix[3], 0);
  Matrix m = kIdentity;
  matrix->ApplyTo(m.data());
  ExpectPoint(Transform(m, 0, 0, 0), 5, 6, 7);
  ExpectPoint(Transform(m, 1, 2, 3), 6, 8, 10);
}

TEST(Transforms, NodeOrderAppliesTheInnermostFirst) {
  FragmentReader reader("<translate sid='t'>1 0 0</translate><rotate sid=\"r\">0 0 1 90</rotate>");
  std::unique_ptr<Tag> translate = reader.Next();
  std::unique_ptr<Tag> rotate = reader.Next();
  ASSERT_TRUE(translate && translate->AsTransformTag());
  ASSERT_TRUE(rotate && rotate->AsTransformTag());

  Matrix m = kIdentity;
  rotate->AsTransformTag()->ApplyTo(m.data());
  ExpectPoint(Transform(m, 1, 0, 0), 0, 1, 0);

  m = kIdentity;
  translate->AsTransformTag()->ApplyTo(m.data());
  rotate->AsTransformTag()->ApplyTo(m.data());
  ExpectPoint(Transform(m, 1, 0, 0), 1, 1, 0);
}

TEST(Transforms, ScaleAndTranslateComposeLikeFullProducts) {
  auto scale = ParseTransform("<scale>2 3 4</scale>");
  auto translate = ParseTransform("<translate>1 2 3</translate>");
  auto rotate = ParseTransform("<rotate>1 1 0 30</rotate>");
  ASSERT_TRUE(scale && translate && rotate);

  // Applied in this order, a point is rotated, then translated, then scaled.
  Matrix m = kIdentity;
  scale->ApplyTo(m.data());
  translate->ApplyTo(m.data());
  rotate->ApplyTo(m.data());

  Matrix expected = kIdentity;
  Matrix step = kIdentity;
  step[0] = 2, step[5] = 3, step[10] = 4;
  PreMultiply(expected.data(), step.data());
  step = kIdentity;
  step[12] = 1, step[13] = 2, step[14] = 3;
  PreMultiply(expected.data(), step.data());
  step = kIdentity;
  rotate->ApplyTo(step.data());
  PreMultiply(expected.data(), step.data());
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], expected[i], 1e-12) << i;

  auto p = Transform(m, 0, 0, 0);
  ExpectPoint(p, 2, 6, 12);
}

TEST(Transforms, ShortTextReadsMissingNumbersAsZero) {
  FragmentReader reader("<translate>4 5</translate><scale/><scale>2 2 2</scale>");
  std::unique_ptr<Tag> translate = reader.Next();
  std::unique_ptr<Tag> empty = reader.Next();
  std::unique_ptr<Tag> scale = reader.Next();
  ASSERT_TRUE(translate && empty && scale);
  auto* t = dynamic_cast<TranslateTag*>(translate.get());
  ASSERT_TRUE(t);
  EXPECT_EQ(t->translation[0], 4);
  EXPECT_EQ(t->translation[1], 5);
  EXPECT_EQ(t->translation[2], 0);
  auto* s = dynamic_cast<ScaleTag*>(empty.get());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->factors[0], 0);
  EXPECT_FALSE(s->isIdentity);
  EXPECT_EQ(dynamic_cast<ScaleTag*>(scale.get())->factors[2], 2);
  EXPECT_FALSE(reader.document.stopped);

  // Text that ends with the input fails the element and the document.
  FragmentReader truncated("<matrix>1 0 0 5 0 1");
  EXPECT_FALSE(truncated.Next());
  EXPECT_TRUE(truncated.document.stopped);
}
