#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <utility>
#include <string>

#include "tags/FragmentReader.h"
#include "tags/Transforms.h"

using namespace varnel;
using tagtest::FragmentReader;
using tagtest::ParseAs;

namespace {

using Matrix = std::array<double, 16>;
constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// Where `m` takes the point p (a row vector, p' = p x m), to 1e-9.
std::array<double, 3> Map(const Matrix& m, std::array<double, 3> p) {
  std::array<double, 3> out;
  for (int k = 0; k < 3; ++k)
    out[k] = std::round((p[0] * m[k] + p[1] * m[4 + k] + p[2] * m[8 + k] + m[12 + k]) * 1e9) / 1e9;
  return out;
}

TEST(Transforms, IdentityTolerance) {
  const std::pair<const char*, bool> cases[] = {
      {"<translate>0 0 0.000001</translate>", true}, {"<translate>0 0 0.0001</translate>", false},
      {"<translate>-0.0001 0 0</translate>", false}, {"<scale>1 1 1.000001</scale>", true},
      {"<scale>1 1 1.0001</scale>", false},          {"<scale>1 0.9999 1</scale>", false},
      {"<rotate>1 0 0 0</rotate>", true},            {"<rotate>0 0 0 90</rotate>", false},
      {"<rotate>0 0 1 -0.0001</rotate>", false},
      {"<matrix>1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1</matrix>", false},
  };
  for (const auto& [text, identity] : cases) {
    auto transform = ParseAs<TransformTag>(text);
    ASSERT_TRUE(transform) << text;
    EXPECT_EQ(transform->isIdentity, identity) << text;
  }
}

TEST(Transforms, ApplyingPutsTheNewTransformFirstAndMatricesAreTransposed) {
  FragmentReader reader("<translate sid='t'>1 0 0</translate><rotate sid=\"r\">0 0 1 90</rotate><scale>2 3 4</scale>"
                        "<matrix sid='m'>1 0 0 5 0 1 0 6 0 0 1 7 0 0 0 1</matrix>");
  std::unique_ptr<Tag> translate = reader.Next(), rotate = reader.Next(), scale = reader.Next();
  std::unique_ptr<Tag> matrix = reader.Next();
  ASSERT_TRUE(translate && rotate && scale && matrix);
  Matrix m = kIdentity;
  for (Tag* t : {translate.get(), rotate.get(), scale.get()}) t->AsTransformTag()->ApplyTo(m.data());
  // Scaled to (2, 3, 4), turned to (-3, 2, 4), moved to (-2, 2, 4).
  EXPECT_EQ(Map(m, {1, 1, 1}), (std::array<double, 3>{-2, 2, 4}));

  // The matrix text is row-major with the translation in its last column.
  EXPECT_EQ(static_cast<MatrixTag&>(*matrix).matrix[12], 5);
  m = kIdentity;
  matrix->AsTransformTag()->ApplyTo(m.data());
  EXPECT_EQ(Map(m, {1, 2, 3}), (std::array<double, 3>{6, 8, 10}));
}

TEST(Transforms, ShortTextReadsMissingNumbersAsZero) {
  FragmentReader reader("<translate>4 5</translate><scale/><translate>2 2 2</translate>");
  auto translate = reader.Next(), empty = reader.Next(), last = reader.Next();
  ASSERT_TRUE(translate && empty && last);
  const double* t = static_cast<TranslateTag&>(*translate).translation;
  EXPECT_TRUE(t[1] == 5 && t[2] == 0);
  EXPECT_EQ(static_cast<ScaleTag&>(*empty).factors[0], 0);
  EXPECT_EQ(static_cast<TranslateTag&>(*last).translation[2], 2);

  // Text that ends with the input fails the element and the document.
  FragmentReader truncated("<matrix>1 0 0 5 0 1");
  EXPECT_FALSE(truncated.Next());
  EXPECT_TRUE(truncated.document.stopped);
}

}  // namespace
