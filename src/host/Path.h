// Host core services: string lists, paths and component-call strings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <varnel/String.h>

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
  // Whether the path, links resolved, is `folder` or lies below it (links resolved too; "" is
  // the working folder). False when either does not exist.
  bool LiesInside(const String& folder) const;
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

}  // namespace varnel
