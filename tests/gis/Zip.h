// Archives written by the tests with libzip: each entry its name and bytes.
#pragma once

#include <sys/stat.h>
#include <zip.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace ziptest {

struct Entry {
  std::string name;
  std::string bytes;
  bool link = false;    // stored as a Unix symbolic link to `bytes`
  bool stored = false;  // not compressed
};

// The archive written under the scratch folder; its path.
inline std::string Zip(const std::string& name, const std::vector<Entry>& entries) {
  std::string path = testsupport::WriteFile(name, "");
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_TRUNCATE, &error);
  for (const Entry& e : entries) {
    zip_source_t* source = zip_source_buffer(zip, e.bytes.data(), e.bytes.size(), 0);
    zip_int64_t index = zip_file_add(zip, e.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    zip_set_file_compression(zip, zip_uint64_t(index), e.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    if (e.link)
      zip_file_set_external_attributes(zip, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX,
                                       zip_uint32_t(S_IFLNK | 0777) << 16);
  }
  zip_close(zip);
  return path;
}

// A KML placing one model, which `href` names.
inline std::string PlacingKml(const std::string& href) {
  return "<kml><Placemark><Model><Link><href>" + href + "</href></Link></Model></Placemark></kml>";
}

}  // namespace ziptest
