// A point or vector of the host's geometry: three doubles.
#pragma once

#include <varnel/Export.h>

namespace varnel {

struct VARNEL_API WKSPointZ {
  double X = 0, Y = 0, Z = 0;
  // The vector scaled to length 1 (unchanged direction); a zero or non-finite vector gives zero.
  WKSPointZ Unit() const;
  // Norm of the given order (2: Euclidean length).
  double Norm(int order) const;
};

}  // namespace varnel
