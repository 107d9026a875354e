#include "gltf/Frame.h"

#include <cmath>

namespace varnel::gltf {

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

Matrix Identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Matrix operator*(const Matrix& a, const Matrix& b) {
  Matrix m{};
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r)
      for (int k = 0; k < 4; ++k) m[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
  return m;
}

Matrix Affine(const double (&rows)[9], const double (&t)[3]) {
  Matrix m = Identity();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[c * 4 + r] = rows[r * 3 + c];
    m[12 + r] = t[r];
  }
  return m;
}

// The model's frame into east-north-up: scale, then roll about Y, tilt about X, heading about Z
// (clockwise seen from above), as the placement of the GIS outputs turns it.
Matrix Turn(const Frame& f) {
  double h = -f.heading * kPi / 180, t = f.tilt * kPi / 180, r = f.roll * kPi / 180;
  const double zero[3] = {0, 0, 0};
  const double heading[9] = {std::cos(h), -std::sin(h), 0, std::sin(h), std::cos(h), 0, 0, 0, 1};
  const double tilt[9] = {1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t)};
  const double roll[9] = {std::cos(r), 0, std::sin(r), 0, 1, 0, -std::sin(r), 0, std::cos(r)};
  const double scale[9] = {f.scale[0], 0, 0, 0, f.scale[1], 0, 0, 0, f.scale[2]};
  return Affine(heading, zero) * Affine(tilt, zero) * Affine(roll, zero) * Affine(scale, zero);
}

// East-north-up at the frame's location into earth-centred, earth-fixed WGS 84 coordinates.
Matrix EnuToEcef(const Frame& f) {
  const double a = 6378137.0, e2 = 6.69437999014e-3;
  double lon = f.longitude * kPi / 180, lat = f.latitude * kPi / 180;
  double sl = std::sin(lon), cl = std::cos(lon), sp = std::sin(lat), cp = std::cos(lat);
  double n = a / std::sqrt(1 - e2 * sp * sp);
  const double rows[9] = {-sl, -sp * cl, cp * cl, cl, -sp * sl, cp * sl, 0, cp, sp};
  const double at[3] = {(n + f.height) * cp * cl, (n + f.height) * cp * sl,
                        (n * (1 - e2) + f.height) * sp};
  return Affine(rows, at);
}

Matrix RigidInverse(const Matrix& m) {
  Matrix inverse = Identity();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) inverse[c * 4 + r] = m[r * 4 + c];
  for (int r = 0; r < 3; ++r)
    inverse[12 + r] = -(inverse[r] * m[12] + inverse[4 + r] * m[13] + inverse[8 + r] * m[14]);
  return inverse;
}

// A Z-up transform seen in glTF's Y-up axes: (x, y, z) Z-up is (x, z, -y) Y-up.
Matrix YUp(const Matrix& zUp) {
  const double zero[3] = {0, 0, 0};
  const double toZ[9] = {1, 0, 0, 0, 0, -1, 0, 1, 0}, toY[9] = {1, 0, 0, 0, 0, 1, 0, -1, 0};
  return Affine(toY, zero) * zUp * Affine(toZ, zero);
}

bool IsIdentity(const Matrix& m) {
  const Matrix i = Identity();
  for (int k = 0; k < 16; ++k)
    if (std::fabs(m[k] - i[k]) > 1e-12) return false;
  return true;
}

Matrix Translation(double x, double y, double z) {
  Matrix m = Identity();
  m[12] = x, m[13] = y, m[14] = z;
  return m;
}

std::array<double, 3> Apply(const Matrix& m, const double (&p)[3]) {
  std::array<double, 3> out;
  for (int r = 0; r < 3; ++r) out[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
  return out;
}

}  // namespace varnel::gltf
