// The process's private temporary directory.
#pragma once

#include <varnel/String.h>

namespace varnel {

struct TavuOSDir {
  // The process's private temporary directory (created on first use), with a trailing "/".
  static String GetTempPathW();
};

}  // namespace varnel
