// Numbers as text for PROJ, GDAL and messages: exact, and the same under any locale (printf
// follows the host's LC_NUMERIC, and PROJ reads "9,5" as 9).
#pragma once

#include <charconv>
#include <string>

namespace varnel::gis {

inline std::string Decimal(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace varnel::gis
