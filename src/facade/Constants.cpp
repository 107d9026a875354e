#include "facade/Constants.h"

#include "tags/Tag.h"

namespace varnel::constants {

// Built in this order at load time and destroyed in reverse at unload.
const String kYUp = L"Y_UP";
const String kColladaMaya = L"ColladaMaya";
const String kDotSlash = L"./";
const String kDotDotSlash = L"../";
const String kHttp = L"http";
const String kEntities[4] = {L"&lt;", L"&gt;", L"&apos;", L"&quot;"};
const String kReplacements[4] = {L"<", L">", L"'", L"\""};
const String kPosition = L"POSITION";
const String kVertex = L"VERTEX";
const String kNormal = L"NORMAL";
const String kTexcoord = L"TEXCOORD";
const String kNoName = L"No Name";

}  // namespace varnel::constants

namespace varnel {
const String& NoNameString() { return constants::kNoName; }
}  // namespace varnel
