// Options of an import beyond what the three plain entry points do: reading what real exporters
// write past the core element set, and being told why a document gave less than it holds.
#pragma once

#include <cstdint>
#include <string>

#include <varnel/Export.h>

namespace varnel {

// What a diagnostic is about.
enum class DiagnosticKind : int32_t {
  kFileMissing = 1,     // no file at the path
  kUnreadable,          // the file exists but cannot be opened or read
  kFolder,              // the path names a folder
  kNotXml,              // the file does not start like an XML document
  kNotCollada,          // the root element is not COLLADA
  kUnknownName,         // an element or attribute outside the element table
  kTokenTooLong,        // a text or tag longer than the reader takes
  kNoScene,             // no visual scene to instantiate
  kUnresolvedReference, // a url or target that names nothing in the document
  kUnreadPrimitive,     // primitives of a kind that is not read
  kTextureMissing,      // an image file that was not found
  kTextureUndecodable,  // an image file that could not be decoded
  kLimitReached,        // a limit cut the model short
  // From the GIS layer (archives, KML, placement), never from the three entry points:
  kArchive,             // an archive that cannot be read, or an entry refused
  kKml,                 // a KML document, or a placemark in it, that places no model
  kPlacement,           // a placement taken with an assumption, or impossible
  // From the three entry points again:
  kTextureRefused,      // an image file outside the folder tree textures are confined to
  kEncoding,            // a character encoding the plain reading takes only partly (UTF-16)
  kEmptyScene,          // the scene places nothing that gives output, and nothing else said why
  kOutOfMemory,         // memory ran out: the call gave nothing
};

// A short stable name of the kind ("file-missing", "unknown-name", ...).
VARNEL_API const char* DiagnosticKindName(DiagnosticKind kind);

struct Diagnostic {
  DiagnosticKind kind;
  // The document line the reader stood on, from 1; 0 when the diagnostic is not tied to one.
  int32_t line;
  // UTF-8, valid during the call only.
  const char* message;
  // Whether the extended reading would have read what this diagnostic is about.
  bool extendedReads;
};

class VARNEL_API DiagnosticReceiver {
 public:
  virtual ~DiagnosticReceiver();
  virtual void Report(const Diagnostic& diagnostic) = 0;
};

// Where the document says its model stands on the earth (asset/coverage/geographic_location).
struct GeographicLocation {
  bool found = false;
  double longitude = 0;  // degrees, WGS 84
  double latitude = 0;   // degrees, WGS 84
  double altitude = 0;   // metres
};

// Told which scene node the parts of the geometry and buffer outputs come from, for callers that
// keep nodes apart (one feature per node instance).
class VARNEL_API SceneObserver {
 public:
  virtual ~SceneObserver();
  // From part `firstPart` on, until the next call, parts come from the node visit `instance`
  // (numbered from 1 in traversal order; 0 outside any node), whose node has `name` (its name,
  // else its id, UTF-8; "" when it has neither).
  virtual void NodeParts(int32_t firstPart, int32_t instance, const char* name) = 0;
  // Once the materials are built, for each material record `material` (from 0): the name of the
  // first COLLADA material that shows it (its name, else its id), else its effect's (UTF-8,
  // valid during the call). Not called for records made for primitives without a material.
  virtual void MaterialNamed(int32_t material, const char* name);
};

// Told which image file each material's pixels come from, for callers that keep a file's own bytes
// (a PNG or JPEG written out unchanged).
class VARNEL_API TextureObserver {
 public:
  virtual ~TextureObserver();
  // Material `material` holds the pixels of the file at `path` (the system's bytes of its name),
  // decoded at the file's own size. The path, and the file, are valid during the call only.
  virtual void TextureRead(int32_t material, const char* path) = 0;
};

// Finds the files a document read from memory refers to (its images, and with the extended
// reading its linked documents): such a document has no folder of its own to look in.
class VARNEL_API ReferenceResolver {
 public:
  virtual ~ReferenceResolver();
  // The local file (UTF-8 path) that `reference` stands for, as the document writes it (escapes
  // decoded, "file:" dropped; UTF-8, valid during the call); "" when it names none.
  virtual std::string Resolve(const char* reference) = 0;
};

inline constexpr int64_t kDefaultMaxOutputBytes = int64_t{1} << 31;

struct ImportOptions {
  // Reads what common exporters write beyond the core element set (see README); off, the
  // result is exactly that of the plain entry points.
  bool extended = false;
  // Receives every diagnostic of the call, in the order they arise; null costs nothing.
  DiagnosticReceiver* diagnostics = nullptr;
  // With the extended reading, filled in when the document gives its place on the earth.
  GeographicLocation* geographicLocation = nullptr;
  // Hears the node of every part; null costs nothing.
  SceneObserver* sceneObserver = nullptr;
  // A scene whose output would take more bytes than this (its points, normals, texture points
  // and parts as doubles) gives nothing and a limit-reached diagnostic: instancing multiplies a
  // small document far beyond its size. The plain entry points use the default.
  int64_t maxOutputBytes = kDefaultMaxOutputBytes;
  // Reads textures only from inside one folder tree, links resolved: `textureRoot` (UTF-8), or
  // the document's folder when that is null. An image file outside it is refused (a diagnostic
  // says so) and only the file of that name beside the document is looked for. Downloaded
  // documents are always confined to their address's folder.
  bool confineTextures = false;
  const char* textureRoot = nullptr;
  // Pixels one texture may have once decoded, after sides over 32,767 are brought to 32,767: a
  // larger image is resampled down to fit while it is decoded (with a diagnostic).
  int64_t maxTexturePixels = int64_t{1} << 28;
  // Pixels the document's textures may have together: an image that does not fit in what is
  // left is not read (with a diagnostic), nor is any after it.
  int64_t maxDocumentTexturePixels = int64_t{1} << 29;
  // Off, image files are not decoded at all (quietly): materials keep their colours and
  // settings but carry no pixels, for callers that never show textures.
  bool decodeTextures = true;
  // Hears the file of each texture read at its own size; null costs nothing.
  TextureObserver* textureObserver = nullptr;
  // For a document read from memory: where its references lead; null: nowhere, so it has no
  // textures and no linked documents. Not asked for documents read from a path. Its answers are
  // taken as they are: confineTextures does not apply to them, the resolver is the confinement.
  ReferenceResolver* resolver = nullptr;
};

}  // namespace varnel
