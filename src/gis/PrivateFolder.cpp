#include "gis/PrivateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <unistd.h>

namespace varnel::gis {
namespace {

// "$TMPDIR/varnel-gis-PID-": the pid lets an interrupted run find its folders whichever copy of
// this code (the tool's or a module's) made them.
std::string ProcessPrefix() {
  const char* base = std::getenv("TMPDIR");
  return std::string(base && *base ? base : "/tmp") + "/varnel-gis-" + std::to_string(getpid()) +
         "-";
}

struct ProcessFolder {
  std::mutex mutex;
  std::string path;
  pid_t owner = 0;  // a forked child makes its own and never removes its parent's

  ~ProcessFolder() {
    if (!path.empty() && owner == getpid()) RemoveFolder(path);
  }

  // The folder of this process, made when it is first asked for.
  std::string Get() {
    std::lock_guard<std::mutex> lock(mutex);
    if (path.empty() || owner != getpid()) {
      std::string pattern = ProcessPrefix() + "XXXXXX";
      path = mkdtemp(pattern.data()) ? pattern : std::string();  // mkdtemp makes it 0700
      owner = getpid();
    }
    return path;
  }
};

ProcessFolder& Process() {
  static ProcessFolder folder;
  return folder;
}

}  // namespace

std::string PrivateFolder() { return Process().Get(); }

std::string NewPrivateFolder(const char* prefix) {
  std::string parent = PrivateFolder();
  if (parent.empty()) return parent;
  std::string pattern = parent + "/" + prefix + "-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

void RemoveProcessFolders() {
  std::string prefix = ProcessPrefix();
  std::string parent = prefix.substr(0, prefix.rfind('/'));
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(parent, ignored)) {
    std::string path = entry.path().string();
    if (path.compare(0, prefix.size(), prefix) == 0) RemoveFolder(path);
  }
}

void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace varnel::gis
