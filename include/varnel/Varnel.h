// The library's entry points: a COLLADA document (path or http(s) address) in, one of three
// GIS outputs out. Failure shows only as absent output.
#pragma once

#include <cstdint>

#include <varnel/Export.h>
#include <varnel/ImportOptions.h>
#include <varnel/String.h>

namespace varnel {

class DaeDisplayList;
class DataBufferWriter;
struct IGeometry;

class VARNEL_API Varnel {
 public:
  Varnel();
  ~Varnel();
  Varnel& operator=(const Varnel&);

  // *geometry: null at entry, then the new multipatch geometry (one reference, the caller's).
  void CreateGeometryFromFile(String path, IGeometry** geometry);
  // size: 0 at entry, then the buffer's byte size; buffer: the multipatch buffer, released by
  // the caller with the global operator delete. Left unchanged when nothing was produced.
  void CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer);
  // The sink receives the materials, every part and line, and finally the extent.
  void CreateDisplayListFromFile(String path, DaeDisplayList* displayList);

  // The same three calls with import options; default options give exactly the results above.
  void CreateGeometryFromFile(String path, IGeometry** geometry, const ImportOptions& options);
  void CreateDataBufferFromFile(String path, int32_t& size, unsigned char*& buffer,
                                const ImportOptions& options);
  void CreateDisplayListFromFile(String path, DaeDisplayList* displayList,
                                 const ImportOptions& options);
  // The buffer of CreateDataBufferFromFile, handed to `writer` piece by piece as it is built;
  // Begin is not called when nothing was produced.
  void CreateDataBufferFromFile(String path, DataBufferWriter& writer,
                                const ImportOptions& options = {});
};

}  // namespace varnel
