#include <varnel/DaeDisplayList.h>

namespace varnel {

// The host derives from this class; the library's own operations ignore every call.
DaeDisplayList::DaeDisplayList() = default;
DaeDisplayList::~DaeDisplayList() = default;
void DaeDisplayList::SetMaterials(long, MaterialProperties*) {}
void DaeDisplayList::SetCurrentLine(long, bool) {}
void DaeDisplayList::SetCurrentPart(long, tavuPatchType) {}
void DaeDisplayList::SetLineData(long, float*) {}
void DaeDisplayList::SetPartData(long, bool, bool, float*) {}
void DaeDisplayList::SetExtent(double, double, double, double, double, double) {}

}  // namespace varnel
