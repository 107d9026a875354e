#include "host/Path.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace varnel {

void StringArray::Insert(const String& text, int at) {
  if (at < 0 || at >= GetSize()) {
    items_.push_back(text);
  } else {
    items_.insert(items_.begin() + at, text);
  }
}

// File queries go through the system's form of the path; an empty path names nothing.
static bool StatPath(const String& path, struct stat* info) {
  if (path.IsEmpty()) return false;
  std::string native = path.ToNativePath();
  if (native.find('\0') != std::string::npos) return false;  // would name a different file
  return ::stat(native.c_str(), info) == 0;
}

bool FileSystemPath::Exists() const {
  struct stat info;
  return StatPath(path_, &info);
}

bool FileSystemPath::IsFile() const {
  struct stat info;
  return StatPath(path_, &info) && S_ISREG(info.st_mode);
}

bool FileSystemPath::IsDirectory() const {
  struct stat info;
  return StatPath(path_, &info) && S_ISDIR(info.st_mode);
}

String FileSystemPath::GetFile() const {
  return path_.Right(path_.GetLength() - path_.ReverseFind(L'/') - 1);
}

String FileSystemPath::GetPath(bool withSeparator) const {
  int slash = path_.ReverseFind(L'/');
  if (slash < 0) return String();
  // The root keeps its "/": "/a.dae" lies in "/", not in "".
  if (slash == 0) return path_.Left(1);
  return path_.Left(withSeparator ? slash + 1 : slash);
}

// A name that starts with "/" is still appended below the path (its leading separators
// dropped): appending never replaces the directory, so a hostile absolute name cannot
// point a target outside it. An empty name leaves the path unchanged.
void FileSystemPath::AppendFile(std::wstring_view name) {
  size_t first = name.find_first_not_of(L'/');
  if (first == std::wstring_view::npos) return;
  name.remove_prefix(first);
  String joined = path_;
  if (!joined.IsEmpty() && joined[joined.GetLength() - 1] != L'/') joined += L'/';
  joined += String(name);
  path_ = std::move(joined);
}

namespace {

// The canonical form of an existing path, or "" (also for text that cannot name one file).
std::string RealPath(const String& path) {
  std::string native = path.IsEmpty() ? std::string(".") : path.ToNativePath();
  if (native.find('\0') != std::string::npos) return std::string();
  char* real = ::realpath(native.c_str(), nullptr);
  if (!real) return std::string();
  std::string result(real);
  std::free(real);
  return result;
}

}  // namespace

bool FileSystemPath::LiesInside(const String& folder) const {
  if (path_.IsEmpty()) return false;
  const std::string root = RealPath(folder), path = RealPath(path_);
  if (root.empty() || path.empty()) return false;
  if (root == "/" || path == root) return true;
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
}

// Layout: a 32-bit character count, then the characters and a NUL. The handed-out pointer
// points at the first character, as component calls expect.
constexpr size_t kBStringHeader = std::max(sizeof(uint32_t), alignof(wchar_t));

BString::BString(const String& text) {
  uint32_t length = static_cast<uint32_t>(text.GetLength());
  constexpr size_t header = kBStringHeader;
  void* block = std::malloc(header + (static_cast<size_t>(length) + 1) * sizeof(wchar_t));
  if (!block) throw std::bad_alloc();
  char* bytes = static_cast<char*>(block);
  std::memcpy(bytes + header - sizeof(uint32_t), &length, sizeof length);
  text_ = reinterpret_cast<BSTR>(bytes + header);
  std::memcpy(text_, text.c_str(), (static_cast<size_t>(length) + 1) * sizeof(wchar_t));
}

BString::~BString() {
  if (text_) std::free(reinterpret_cast<char*>(text_) - kBStringHeader);
}

uint32_t BString::Length(BSTR text) {
  if (!text) return 0;
  uint32_t length;
  std::memcpy(&length, reinterpret_cast<const char*>(text) - sizeof(uint32_t), sizeof length);
  return length;
}

std::string String816Helper::convert(const wchar_t* text) { return String(text).ToUtf8(); }

}  // namespace varnel
