#include "tags/Transforms.h"

#include <cmath>

#include <varnel/Point.h>
#include "tags/TagParse.h"

namespace varnel {

namespace {
// deliberate: this near identity a transform is left out, see docs/behaviour.md
constexpr double kIdentityTolerance = 1e-5;
constexpr double kRadiansPerDegree = 0.017453292519943295;
}  // namespace

void PreMultiply(double* m, const double* x) {
  double product[16];
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      product[4 * r + c] = x[4 * r] * m[c] + x[4 * r + 1] * m[4 + c] + x[4 * r + 2] * m[8 + c] +
                           x[4 * r + 3] * m[12 + c];
    }
  }
  for (int i = 0; i < 16; ++i) m[i] = product[i];
}

// Attributes come first; the text is read once, as soon as they are through. Numbers missing from
// a short text read as 0, like text that is not a number, and the end tag stays in place.
bool TransformTag::ParseNumbers(ElementSource& document, double* numbers, int n) {
  bool textRead = false;
  for (;;) {
    if (!textRead && !document.attributesPending) {
      textRead = true;
      for (int i = 0; i < n; ++i) numbers[i] = 0;
      if (ReadNumberList<ListEnd::kStopAtTag>(document, n, [numbers](int64_t i, const char* text) {
            numbers[i] = ParseDouble(text);
          }) < 0)
        return false;
    }
    const int id = document.IdentifyTag();
    if (document.wasEndTag && id == static_cast<int>(elementId)) return true;
    if (!document.SkipElement(id)) return false;
  }
}

bool TranslateTag::Parse(ElementSource& document) {
  double v[3];
  if (!ParseNumbers(document, v, 3)) return false;
  for (int i = 0; i < 3; ++i) {
    translation[i] = v[i];
    if (std::fabs(v[i]) > kIdentityTolerance) isIdentity = false;
  }
  return true;
}

void TranslateTag::ApplyTo(double* m) {
  const double x = translation[0], y = translation[1], z = translation[2];
  for (int c = 0; c < 3; ++c) m[12 + c] += x * m[c] + y * m[4 + c] + z * m[8 + c];
}

bool RotateTag::Parse(ElementSource& document) {
  double v[4];
  if (!ParseNumbers(document, v, 4)) return false;
  axis[0] = v[0], axis[1] = v[1], axis[2] = v[2];
  angle = v[3];
  if (std::fabs(angle) > kIdentityTolerance) isIdentity = false;
  return true;
}

void RotateTag::ApplyTo(double* m) {
  const double theta = angle * kRadiansPerDegree;
  WKSPointZ direction;
  direction.X = axis[0], direction.Y = axis[1], direction.Z = axis[2];
  const WKSPointZ u = direction.Unit();
  const double c = std::cos(theta), s = std::sin(theta), t = 1 - c;
  const double x[16] = {
      t * u.X * u.X + c,       t * u.X * u.Y + s * u.Z, t * u.X * u.Z - s * u.Y, 0,
      t * u.X * u.Y - s * u.Z, t * u.Y * u.Y + c,       t * u.Y * u.Z + s * u.X, 0,
      t * u.X * u.Z + s * u.Y, t * u.Y * u.Z - s * u.X, t * u.Z * u.Z + c,       0,
      0,                       0,                       0,                       1};
  PreMultiply(m, x);
}

// Documents write matrices for column vectors; stored transposed for row vectors.
bool MatrixTag::Parse(ElementSource& document) {
  double v[16];
  if (!ParseNumbers(document, v, 16)) return false;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) matrix[4 * r + c] = v[4 * c + r];
  }
  isIdentity = false;  // deliberate: a matrix always applies, see docs/behaviour.md
  return true;
}

void MatrixTag::ApplyTo(double* m) { PreMultiply(m, matrix); }

bool ScaleTag::Parse(ElementSource& document) {
  double v[3];
  if (!ParseNumbers(document, v, 3)) return false;
  for (int i = 0; i < 3; ++i) {
    factors[i] = v[i];
    if (std::fabs(v[i] - 1) > kIdentityTolerance) isIdentity = false;
  }
  return true;
}

void ScaleTag::ApplyTo(double* m) {
  for (int row = 0; row < 3; ++row) {
    for (int c = 0; c < 4; ++c) m[4 * row + c] *= factors[row];
  }
}

}  // namespace varnel
