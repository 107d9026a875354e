#include <varnel/varnel.h>
#include <varnel/version.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  varnel::Varnel importer;
  varnel::IGeometry* geometry = nullptr;
  importer.CreateGeometryFromFile(varnel::String::FromUtf8(argv[1]), &geometry);
  if (!geometry) return 1;
  // The buffer read through the installed layout header holds the geometry's counts.
  int32_t size = 0;
  unsigned char* buffer = nullptr;
  importer.CreateDataBufferFromFile(varnel::String::FromUtf8(argv[1]), size, buffer);
  using namespace varnel::multipatch;
  const bool same = size >= kHeaderBytes &&
                    Load<int32_t>(buffer + kPartCountOffset) == geometry->GetPartCount() &&
                    Load<int32_t>(buffer + kPointCountOffset) == geometry->GetPointCount() &&
                    ComputeLayout(geometry->GetPartCount(), geometry->GetPointCount()).extension <= size;
  if (size > 0) ::operator delete(buffer);
  if (same)
    std::printf("varnel %s parts %d points %d\n", VARNEL_VERSION_STRING, geometry->GetPartCount(), geometry->GetPointCount());
  geometry->Release();
  return same ? 0 : 1;
}
