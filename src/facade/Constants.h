// Process-wide constant strings shared by the readers, built when the library is loaded.
#pragma once

#include <varnel/String.h>

namespace varnel::constants {

extern const String kYUp;          // "Y_UP"
extern const String kColladaMaya;  // "ColladaMaya"
extern const String kDotSlash;     // "./"
extern const String kDotDotSlash;  // "../"
extern const String kHttp;         // "http"
extern const String kEntities[4];      // "&lt;", "&gt;", "&apos;", "&quot;"
extern const String kReplacements[4];  // "<", ">", "'", "\""
extern const String kPosition;     // "POSITION"
extern const String kVertex;       // "VERTEX"
extern const String kNormal;       // "NORMAL"
extern const String kTexcoord;     // "TEXCOORD"
extern const String kNoName;       // "No Name"

}  // namespace varnel::constants
