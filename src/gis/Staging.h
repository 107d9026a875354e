// Outputs that appear whole or not at all: each is written under a temporary name beside its
// destination (same file system, so the last step is a rename) and moved into place once
// complete; one run at a time writes a destination.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace varnel::gis {

// The system's words for errno `error`.
std::string SystemReason(int error);

// The folder holding a file system path ("." for a bare name) and its last component, trailing
// slashes dropped. (Paths.h's FolderOf and NameOf are for entries inside an archive.)
std::string ParentFolder(const std::string& path);
std::string BaseName(const std::string& path);

// The mkstemp/mkdtemp pattern ".NAME.varnel-XXXXXX" beside `destination`, so that the final
// rename stays on its file system.
std::string StagingPatternBeside(const std::string& destination);
// A new private folder of that pattern; "" (errno set) when it cannot be made.
std::string StagingFolderBeside(const std::string& destination);

// Renames `from` to `to`. Without `replace` an existing `to` is left alone and the call fails
// with EEXIST. A folder replaces a folder by exchanging the two, then removing the old one, so
// that the destination is never missing.
bool MoveInto(const std::string& from, const std::string& to, bool replace);

// Copies a file or a folder tree, links as links; false (errno set) on any failure.
bool CopyTree(const std::string& from, const std::string& to);

// Why writing `bytes` more into a file in `folder` fails at this moment (ENOSPC, EFBIG for a
// file size limit, EDQUOT, EROFS, ...), or 0. Libraries that drop a write's errno leave only
// this to name the cause.
int WriteFailureIn(const std::string& folder, int64_t bytes);

// An advisory lock (flock) on an existing file or folder while the object lives. Acquire waits
// for another holder, calling `waiting` first; it follows a destination that a finished writer
// replaced by rename.
class DestinationLock {
 public:
  DestinationLock() = default;
  ~DestinationLock();
  DestinationLock(const DestinationLock&) = delete;
  DestinationLock& operator=(const DestinationLock&) = delete;

  // False (errno set) when the destination cannot be opened or locked; true when it is missing.
  bool Acquire(const std::string& path, const std::function<void()>& waiting);
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace varnel::gis
