// Where a model stands on the earth, and the transforms between its frame, east-north-up frames
// and earth-centred coordinates that the glTF and 3D Tiles writers share.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace varnel::gltf {

// Where a model stands. A located model's local frame (Z-up metres) is turned by heading, tilt
// and roll and scaled, as gis::Placement has it, into the east-north-up frame at the location.
struct Frame {
  bool located = false;
  double longitude = 0, latitude = 0;  // degrees, WGS 84
  double height = 0;                   // metres above the WGS 84 ellipsoid
  double heading = 0, tilt = 0, roll = 0;
  double scale[3] = {1, 1, 1};
  // Of a model whose coordinates are in a CRS of their own (-a_srs) once `offset` is added.
  std::string crs;
  std::vector<double> offset;
};

using Matrix = std::array<double, 16>;  // column-major, as glTF stores it

Matrix Identity();
Matrix operator*(const Matrix& a, const Matrix& b);
// A 3 x 3 matrix given by rows, with translation t.
Matrix Affine(const double (&rows)[9], const double (&t)[3]);
Matrix Translation(double x, double y, double z);
// The model's frame into east-north-up at its location (scale, roll, tilt, heading).
Matrix Turn(const Frame& f);
// East-north-up at the frame's location into earth-centred, earth-fixed WGS 84 coordinates.
Matrix EnuToEcef(const Frame& f);
Matrix RigidInverse(const Matrix& m);
// A Z-up transform seen in glTF's Y-up axes: (x, y, z) Z-up is (x, z, -y) Y-up.
Matrix YUp(const Matrix& zUp);
bool IsIdentity(const Matrix& m);
// m applied to the point p.
std::array<double, 3> Apply(const Matrix& m, const double (&p)[3]);

}  // namespace varnel::gltf
