#include "tags/Asset.h"

#include "tags/TagParse.h"
#include "xml/ElementNames.h"

namespace varnel {

namespace {
// Built when the library loads, like every constant string the readers compare with.
const String kYUp = L"Y_UP";
const String kColladaMaya = L"ColladaMaya";
}  // namespace

bool AssetTag::Parse(ElementSource& document) {
  return ParseLoop(document, [&](int id) {
    switch (id) {
      case kContributor:
      case kUnit:
        // Entered: their children and attributes are read at this level.
        return true;
      case kAuthoringTool: {
        String tool;
        if (!document.ReadValue(tool)) return false;
        // deliberate: at position 0 the name does not count, see docs/behaviour.md
        if (tool.Find(kColladaMaya) > 0) backFaceCulling = false;
        return true;
      }
      case kMeter:
        meter = ReadDoubleValue(document);
        return true;
      case kUpAxis: {
        String axis;
        if (!document.ReadValue(axis)) return false;
        yUp = axis == kYUp;
        return true;
      }
      // Ids the extended reading alone hands out.
      case kCoverage:
      case kGeographicLocation:
        return true;
      case kLongitude:
        location.longitude = ReadDoubleValue(document);
        return location.found = true;
      case kLatitude:
        location.latitude = ReadDoubleValue(document);
        return location.found = true;
      case kAltitude:
        // Its mode is not read: the altitude is taken as given.
        if (!SkipAttributes(document)) return false;
        location.altitude = ReadDoubleValue(document);
        return true;
      default:
        return ParseChild(id, document);
    }
  });
}

}  // namespace varnel
