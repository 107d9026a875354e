#include <varnel/ImportOptions.h>

namespace varnel {

DiagnosticReceiver::~DiagnosticReceiver() = default;
SceneObserver::~SceneObserver() = default;
void SceneObserver::MaterialNamed(int32_t, const char*) {}
TextureObserver::~TextureObserver() = default;
ReferenceResolver::~ReferenceResolver() = default;

const char* DiagnosticKindName(DiagnosticKind kind) {
  switch (kind) {
    case DiagnosticKind::kFileMissing: return "file-missing";
    case DiagnosticKind::kUnreadable: return "unreadable";
    case DiagnosticKind::kFolder: return "folder";
    case DiagnosticKind::kNotXml: return "not-xml";
    case DiagnosticKind::kNotCollada: return "not-collada";
    case DiagnosticKind::kUnknownName: return "unknown-name";
    case DiagnosticKind::kTokenTooLong: return "token-too-long";
    case DiagnosticKind::kNoScene: return "no-scene";
    case DiagnosticKind::kUnresolvedReference: return "unresolved-reference";
    case DiagnosticKind::kUnreadPrimitive: return "unread-primitive";
    case DiagnosticKind::kTextureMissing: return "texture-missing";
    case DiagnosticKind::kTextureUndecodable: return "texture-undecodable";
    case DiagnosticKind::kLimitReached: return "limit-reached";
    case DiagnosticKind::kArchive: return "archive";
    case DiagnosticKind::kKml: return "kml";
    case DiagnosticKind::kPlacement: return "placement";
    case DiagnosticKind::kTextureRefused: return "texture-refused";
    case DiagnosticKind::kEncoding: return "encoding";
    case DiagnosticKind::kEmptyScene: return "empty-scene";
    case DiagnosticKind::kOutOfMemory: return "out-of-memory";
  }
  return "unknown";
}

}  // namespace varnel
