#include <varnel/Point.h>

#include <algorithm>
#include <cmath>

namespace varnel {

// Scaled by the largest component first, so tiny or huge vectors neither underflow to a
// zero length nor overflow to infinity. A zero or non-finite vector has no direction and
// yields the zero vector, never NaN.
WKSPointZ WKSPointZ::Unit() const {
  if (!std::isfinite(X) || !std::isfinite(Y) || !std::isfinite(Z)) return WKSPointZ{};
  double largest = std::max({std::fabs(X), std::fabs(Y), std::fabs(Z)});
  if (largest == 0) return WKSPointZ{};
  double x = X / largest, y = Y / largest, z = Z / largest;
  double length = std::sqrt(x * x + y * y + z * z);
  return WKSPointZ{x / length, y / length, z / length};
}

// Orders 1 and 2 are the sum of magnitudes and the Euclidean length; any other order gives
// the largest magnitude.
double WKSPointZ::Norm(int order) const {
  if (order == 1) return std::fabs(X) + std::fabs(Y) + std::fabs(Z);
  if (order == 2) return std::hypot(X, Y, Z);
  return std::max({std::fabs(X), std::fabs(Y), std::fabs(Z)});
}

}  // namespace varnel
