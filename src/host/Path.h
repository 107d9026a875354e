// Host core services: string lists, paths, component-call strings, points, the per-user
// settings store, the temporary directory and the localized-resource module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/String.h"

namespace varnel {

class StringArray {
 public:
  // Appends when `at` is -1 (or beyond the end), else inserts before `at`.
  void Insert(const String& text, int at);
  int GetSize() const { return static_cast<int>(items_.size()); }
  const String& operator[](int i) const { return items_[static_cast<size_t>(i)]; }
  void RemoveAll() { items_.clear(); }

 private:
  std::vector<String> items_;
};

class FileSystemPath {
 public:
  FileSystemPath() = default;
  FileSystemPath(const String& path) : path_(path) {}
  FileSystemPath(const wchar_t* path) : path_(path) {}

  bool Exists() const;
  bool IsFile() const;
  bool IsDirectory() const;
  // Last component ("c.dae" of "/a/b/c.dae"; also the last part of an address).
  String GetFile() const;
  // The path without its last component; with `withSeparator` the trailing "/" stays.
  String GetPath(bool withSeparator) const;
  // Appends one component with a "/" separator (none added when the path already ends in "/").
  // A name starting with "/" is appended below the path all the same, never replacing it.
  void AppendFile(std::wstring_view name);
  const String& GetString() const { return path_; }
  operator const String&() const { return path_; }

 private:
  String path_;
};

// A component-call string (length-prefixed, NUL-terminated wide text), freed by its owner.
using BSTR = wchar_t*;
class BString {
 public:
  explicit BString(const String& text);
  ~BString();
  BString(const BString&) = delete;
  BString& operator=(const BString&) = delete;
  operator BSTR() const { return text_; }
  // Length stored in front of the text, in characters.
  static uint32_t Length(BSTR text);

 private:
  BSTR text_ = nullptr;
};

struct String816Helper {
  static std::string convert(const wchar_t* text);
};

struct WKSPointZ {
  double X = 0, Y = 0, Z = 0;
  // The vector scaled to length 1 (unchanged direction); a zero or non-finite vector gives zero.
  WKSPointZ Unit() const;
  // Norm of the given order (2: Euclidean length).
  double Norm(int order) const;
};

// Registry root keys; only the current user's store exists here.
enum class RegistryRoot { CurrentUser };
constexpr RegistryRoot HKEY_CURRENT_USER = RegistryRoot::CurrentUser;

// Integer stored under the per-user key path and value name, or `fallback` when missing or malformed.
int GetRegInt(const String& keyPath, const String& valueName, int fallback, RegistryRoot root);

struct TavuOSDir {
  // The process's private temporary directory (created on first use), with a trailing "/".
  static String GetTempPathW();
};

using ModuleHandle = void*;
struct TAVULocale {
  // The module of localized resources, or null when there is none.
  static ModuleHandle LoadLocalizedRes(ModuleHandle module);
};

}  // namespace varnel
