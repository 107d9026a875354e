// The library's entry points: a COLLADA document (a path, an http(s) address, or bytes in
// memory) in, one of three GIS outputs out.
//
// The three plain calls show failure only as absent output. The calls taking ImportOptions also
// return an ImportResult that says whether output was produced and, if not, why. No call throws:
// memory running out gives no output (and an out-of-memory diagnostic).
//
// Counts and sizes are int32_t throughout, as in the buffer; a memory input's length is size_t.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <varnel/Export.h>
#include <varnel/ImportOptions.h>
#include <varnel/String.h>

namespace varnel {

class DaeDisplayList;
class DataBufferWriter;
struct IGeometry;

enum class ImportStatus : int32_t {
  kComplete = 0,  // output produced, and no diagnostic was reported
  kPartial,       // output produced; the diagnostic below is the first of what was left out
  kNoOutput,      // nothing produced; the diagnostic below says why, when one was reported
};

// What one call gave. The diagnostic is the first the call reported that the reading did not
// pass over (the extended reading passes over what it reads itself); with none, `kind` is 0,
// `line` 0 and `message` empty.
struct ImportResult {
  ImportStatus status = ImportStatus::kNoOutput;
  DiagnosticKind kind{};
  int32_t line = 0;        // from 1; 0 when the diagnostic is tied to no line
  std::string message;     // UTF-8, without the line
  bool extendedReads = false;

  bool produced() const { return status != ImportStatus::kNoOutput; }
};

class VARNEL_API Varnel {
 public:
  Varnel();
  ~Varnel();
  Varnel& operator=(const Varnel&);

  // path: a file path or an http(s) address (a copy is taken).
  // *geometry: set to null at entry, then to the new multipatch geometry, holding one reference
  // that belongs to the caller. geometry: null does nothing.
  void CreateGeometryFromFile(String path, IGeometry** geometry);
  // size: 0 at entry, then the buffer's byte size. buffer: left unchanged when nothing was
  // produced, else the multipatch buffer (layout in <varnel/MultipatchLayout.h>), `size` bytes
  // from the global operator new, which the caller frees with the global operator delete.
  void CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer);
  // displayList: the caller's sink, lent for the call (null does nothing); it receives the
  // materials, every part and line, and finally the extent (see <varnel/DaeDisplayList.h>).
  void CreateDisplayListFromFile(String path, DaeDisplayList* displayList);

  // The same three calls with import options (lent for the call); default options give exactly
  // the results above.
  ImportResult CreateGeometryFromFile(String path, IGeometry** geometry, const ImportOptions& options);
  ImportResult CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer,
                                        const ImportOptions& options);
  ImportResult CreateDisplayListFromFile(String path, DaeDisplayList* displayList,
                                         const ImportOptions& options);
  // The buffer of CreateDataBufferFromFile, handed to `writer` (lent for the call) piece by
  // piece as it is built; Begin is not called when nothing was produced.
  ImportResult CreateDataBufferFromFile(String path, DataBufferWriter& writer,
                                        const ImportOptions& options = {});

  // The document's bytes instead of a path: `data` holds `size` bytes, lent for the call (null
  // only with size 0). The document has no folder: the files it refers to are found through
  // options.resolver only. Otherwise each gives exactly what the file variant gives for a file
  // holding those bytes.
  ImportResult CreateGeometryFromMemory(const void* data, size_t size, IGeometry** geometry,
                                        const ImportOptions& options = {});
  ImportResult CreateDataBufferFromMemory(const void* data, size_t size, DataBufferWriter& writer,
                                          const ImportOptions& options = {});
  ImportResult CreateDisplayListFromMemory(const void* data, size_t size, DaeDisplayList* displayList,
                                           const ImportOptions& options = {});
};

}  // namespace varnel
