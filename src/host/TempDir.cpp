// The process's private temporary directory: made with mkdtemp (mode 0700) below $TMPDIR or
// /tmp on first use and removed with everything in it when the library unloads. The shared
// temporary folder itself is never handed out, so downloads of this process cannot meet or
// delete files of anyone else.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

#include "host/TempDir.h"

namespace varnel {
namespace {

class PrivateTempDir {
 public:
  // Empty when the directory cannot be made; the next call tries again.
  std::string Get() {
    std::lock_guard<std::mutex> hold(lock_);
    if (path_.empty()) {
      const char* base = std::getenv("TMPDIR");
      if (!(base && base[0] == '/' && Make(base))) Make("/tmp");
    }
    return path_;
  }

  ~PrivateTempDir() {
    // A forked child inherits this object but not the directory: only its creator removes it.
    if (path_.empty() || owner_ != getpid()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);  // does not follow symbolic links inside
  }

 private:
  bool Make(std::string base) {
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (base == "/") base.clear();
    base += "/varnel-XXXXXX";
    if (!mkdtemp(base.data())) return false;
    path_ = base;
    owner_ = getpid();
    return true;
  }

  std::mutex lock_;
  std::string path_;
  pid_t owner_ = 0;
};

// Constructed on first use; its destructor runs when the library unloads or the process exits.
PrivateTempDir& Instance() {
  static PrivateTempDir dir;
  return dir;
}

}  // namespace

String TavuOSDir::GetTempPathW() {
  std::string path = Instance().Get();
  if (path.empty()) return String();
  return String::FromUtf8(path + "/");
}

}  // namespace varnel
