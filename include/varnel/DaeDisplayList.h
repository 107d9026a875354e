// The display-list sink a host derives from. The library's own operations do nothing.
//
// A call delivers, in this order: SetMaterials once (nothing follows when it brings no records),
// then for each part SetCurrentPart followed by SetPartData, and for each line SetCurrentLine
// followed by SetLineData, and finally SetExtent. Positions are in metres, Z up.
#pragma once

#include <varnel/Export.h>
#include <varnel/MaterialProperties.h>
#include <varnel/PatchType.h>

namespace varnel {

class VARNEL_API DaeDisplayList {
 public:
  DaeDisplayList();
  virtual ~DaeDisplayList();
  // materials: `count` records from array new, handed over: the sink owns them from this call
  // on and frees them with delete[] (each record frees its own pixels).
  virtual void SetMaterials(long count, MaterialProperties* materials);
  // materialIndex: a record of SetMaterials, or -1 for none. isStrip: a line strip, else
  // separate segments (pairs of points).
  virtual void SetCurrentLine(long materialIndex, bool isStrip);
  // materialIndex as above; partType: kPatchTriangles or kPatchOuterRing.
  virtual void SetCurrentPart(long materialIndex, tavuPatchType partType);
  // data: pointCount records of 3 floats, x y z; lent for the call only.
  virtual void SetLineData(long pointCount, float* data);
  // data: pointCount records, lent for the call only, each laid out as [s t][nx ny nz] x y z:
  // the texture point when hasTextures, the normal when hasNormals, then the position; a record
  // is 3, 5, 6 or 8 floats.
  virtual void SetPartData(long pointCount, bool hasNormals, bool hasTextures, float* data);
  // The box of every position delivered, in metres.
  virtual void SetExtent(double xMin, double yMin, double zMin, double xMax, double yMax,
                         double zMax);
};

}  // namespace varnel
