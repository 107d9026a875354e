#include <varnel/varnel.h>
#include <varnel/version.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  varnel::Varnel importer;
  varnel::IGeometry* geometry = nullptr;
  importer.CreateGeometryFromFile(varnel::String::FromUtf8(argv[1]), &geometry);
  if (!geometry) return 1;
  std::printf("varnel %s parts %d points %d\n", VARNEL_VERSION_STRING, geometry->GetPartCount(), geometry->GetPointCount());
  geometry->Release();
  return 0;
}
