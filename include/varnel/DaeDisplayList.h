// The display-list sink a host derives from. The library's own operations do nothing.
#pragma once

#include <varnel/Export.h>
#include <varnel/MaterialProperties.h>
#include <varnel/PatchType.h>

namespace varnel {

class VARNEL_API DaeDisplayList {
 public:
  DaeDisplayList();
  virtual ~DaeDisplayList();
  // `materials` (array-new of `count` records) belongs to the sink from this call on.
  virtual void SetMaterials(long count, MaterialProperties* materials);
  virtual void SetCurrentLine(long materialIndex, bool isStrip);
  virtual void SetCurrentPart(long materialIndex, tavuPatchType partType);
  virtual void SetLineData(long pointCount, float* data);
  virtual void SetPartData(long pointCount, bool hasNormals, bool hasTextures, float* data);
  virtual void SetExtent(double xMin, double yMin, double zMin, double xMax, double yMax,
                         double zMax);
};

}  // namespace varnel
