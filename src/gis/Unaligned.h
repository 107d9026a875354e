// Fields of the multipatch buffer are unaligned little-endian: each is copied out and back.
#pragma once

#include <cstring>

namespace varnel::gis {

template <typename T>
T Load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void Store(unsigned char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace varnel::gis
