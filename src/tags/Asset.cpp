#include "tags/Asset.h"

#include "facade/Constants.h"
#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

bool AssetTag::Parse(DaeDocument& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kContributor:
      case kUnit:
        // Entered: their children and attributes are read at this level.
        return true;
      case kAuthoringTool: {
        String tool;
        if (!document.ReadValue(tool)) return false;
        // Position 0, a text that starts with the name, deliberately does not count.
        if (tool.Find(constants::kColladaMaya) > 0) backFaceCulling = false;
        return true;
      }
      case kMeter:
        meter = ReadDoubleValue(document);
        return true;
      case kUpAxis: {
        String axis;
        if (!document.ReadValue(axis)) return false;
        yUp = axis == constants::kYUp;
        return true;
      }
      default:
        return ParseChild(id, document);
    }
  });
}

}  // namespace varnel
