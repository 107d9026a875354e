#include "host/SafeName.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host/TempDir.h"
#include "host/Path.h"

namespace varnel {
namespace {

constexpr size_t kMaxNameBytes = 200;
constexpr std::wstring_view kDirPrefix = L"dl-";
constexpr size_t kDirNameLength = 9;  // "dl-" and the six characters mkdtemp fills in

bool IsSchemeChar(wchar_t c, bool first) {
  bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
  if (first) return letter;
  return letter || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

// Length of "scheme://" when `text` starts with one, else 0.
size_t SchemePrefixLength(std::wstring_view text) {
  size_t colon = text.find(L"://");
  if (colon == std::wstring_view::npos || colon == 0) return 0;
  for (size_t i = 0; i < colon; ++i)
    if (!IsSchemeChar(text[i], i == 0)) return 0;
  return colon + 3;
}

bool IsKeptChar(wchar_t ch) {
  uint32_t c = static_cast<uint32_t>(ch);
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  return c <= 0x10FFFF;
}

std::wstring_view WithoutTrailingSlashes(std::wstring_view path) {
  while (!path.empty() && path.back() == L'/') path.remove_suffix(1);
  return path;
}

String TempDirWithSlash() {
  String temp = TavuOSDir::GetTempPathW();
  if (!temp.IsEmpty() && temp[temp.GetLength() - 1] != L'/') temp += L'/';
  return temp;
}

// A folder MakeDownloadDir made: named "dl-" plus six characters, directly below the
// temporary directory. Checked by text alone, so nothing elsewhere is ever a candidate.
bool IsDownloadDir(std::wstring_view dir) {
  dir = WithoutTrailingSlashes(dir);
  size_t slash = dir.rfind(L'/');
  if (slash == std::wstring_view::npos) return false;
  std::wstring_view name = dir.substr(slash + 1);
  if (name.size() != kDirNameLength || !name.starts_with(kDirPrefix)) return false;
  String temp = TempDirWithSlash();
  return !temp.IsEmpty() && dir.substr(0, slash + 1) == std::wstring_view(temp);
}

// The operating system's form of a path; empty when the text could not name one file.
std::string NativePath(const String& path) {
  std::string native = path.ToUtf8();
  if (native.find('\0') != std::string::npos) native.clear();
  return native;
}

}  // namespace

String SafeFileName(const String& reference) {
  std::wstring_view text = reference;
  text = text.substr(0, text.find_first_of(L"?#"));
  size_t scheme = SchemePrefixLength(text);
  if (scheme != 0 && text.find(L'/', scheme) == std::wstring_view::npos) return String();
  size_t separator = text.find_last_of(L"/\\");
  if (separator != std::wstring_view::npos) text.remove_prefix(separator + 1);

  String name;
  for (wchar_t ch : text)
    if (IsKeptChar(ch)) name += ch;
  if (name.IsEmpty() || name == L"." || name == L"..") return String();
  if (name.ToUtf8().size() > kMaxNameBytes) return String();
  return name;
}

String MakeDownloadDir() {
  String temp = TempDirWithSlash();
  if (temp.IsEmpty() || !FileSystemPath(temp).IsDirectory()) return String();
  std::string pattern = NativePath(temp);
  if (pattern.empty()) return String();
  pattern += "dl-XXXXXX";
  if (!::mkdtemp(pattern.data())) return String();
  pattern += '/';
  return String::FromUtf8(pattern);
}

void RemoveDownloadDir(const String& dir) {
  if (!IsDownloadDir(dir)) return;
  std::string native = NativePath(dir);
  if (!native.empty()) ::rmdir(native.c_str());  // fails harmlessly while anything is inside
}

void DeleteDownloadedFile(const String& path) {
  std::string native = NativePath(path);
  if (native.empty()) return;
  struct stat info;
  if (::lstat(native.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)))
    ::unlink(native.c_str());
  RemoveDownloadDir(FileSystemPath(path).GetPath(false));
}

String DownloadToTempFile(IDownloader* downloader, const String& source, const String& nameFrom,
                          HRESULT* result) {
  HRESULT ignored;
  HRESULT& answer = result ? *result : ignored;
  answer = static_cast<HRESULT>(0x80004005u);
  if (!downloader) return String();
  String name = SafeFileName(nameFrom);
  if (name.IsEmpty()) return String();
  String dir = MakeDownloadDir();
  if (dir.IsEmpty()) return String();
  FileSystemPath target(dir);
  target.AppendFile(name);
  try {
    answer = downloader->CopyUrlToFile(BString(source), BString(target.GetString()));
  } catch (...) {
    DeleteDownloadedFile(target.GetString());
    throw;
  }
  if (target.IsFile()) return target.GetString();
  DeleteDownloadedFile(target.GetString());
  return String();
}

}  // namespace varnel
