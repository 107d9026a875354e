#include "tags/Image.h"

#include <cwctype>

#include "host/SafeName.h"
#include "tags/TagParse.h"
#include "xml/ElementNames.h"
#include "host/TempDir.h"

namespace varnel {

namespace {
// Built when the library loads, like every constant string the readers compare with.
const String kDotSlash = L"./";
const String kDotDotSlash = L"../";
}  // namespace

namespace {

bool StartsWith(const String& text, const String& prefix) {
  return text.Left(prefix.GetLength()) == prefix;
}

// Only files count: a reference that names a folder (or nothing) never becomes a texture path.
bool IsExistingFile(const FileSystemPath& path) { return path.Exists() && path.IsFile(); }

bool IsAbsolute(const String& reference) {
  if (reference.GetLength() >= 1 && (reference[0] == L'/' || reference[0] == L'\\')) return true;
  return reference.GetLength() >= 3 && std::iswalpha(static_cast<wint_t>(reference[0])) &&
         reference[1] == L':' && (reference[2] == L'/' || reference[2] == L'\\');
}

// The reference beside the local document. An absolute reference is taken as it stands;
// any reference whose file is missing falls back to its file name in the document's folder.
String ResolveLocal(const String& documentPath, const String& reference) {
  String documentDir = FileSystemPath(documentPath).GetPath(false);
  FileSystemPath candidate;
  if (IsAbsolute(reference)) {
    candidate = FileSystemPath(reference);
  } else {
    String dir = documentDir;
    String relative = reference;
    if (StartsWith(relative, kDotSlash)) relative.Delete(0, 2);
    // Short "../" references (fewer than 6 characters) are kept whole.
    while (StartsWith(relative, kDotDotSlash) && relative.GetLength() >= 6) {
      relative.Delete(0, 3);
      dir = FileSystemPath(dir).GetPath(false);
    }
    candidate = FileSystemPath(dir);
    candidate.AppendFile(relative);
  }
  if (IsExistingFile(candidate)) return candidate;
  FileSystemPath beside(documentDir);
  beside.AppendFile(candidate.GetFile());
  return IsExistingFile(beside) ? beside.GetString() : String();
}

// Fetches the reference relative to the document's address into a private folder below the
// temporary directory and records it for deletion. The local name is reduced to one safe file
// name, so no reference can make the download land outside that folder.
String ResolveDownloaded(DaeDocument& document, String reference) {
  FileSystemPath temp(TavuOSDir::GetTempPathW());
  if (!temp.Exists() || !temp.IsDirectory()) return String();

  String base = document.sourceUrl;
  int slash = base.ReverseFind(L'/');
  if (slash > 5) base = base.Left(slash + 1);
  if (StartsWith(reference, kDotSlash)) reference.Delete(0, 2);

  String target = DownloadToTempFile(document.downloader, base + reference, reference);
  if (target.IsEmpty()) return String();
  document.tempFiles.Insert(target, -1);
  return target;
}

}  // namespace

bool ImageTag::Parse(DaeDocument& document) {
  return ParseLoop(document, [&](int id) {
    if (id != kInitFrom) return ParseChild(id, document);
    if (!document.ReadValue(filePath)) {
      filePath.Empty();
      return false;
    }
    filePath = document.isDownloaded ? ResolveDownloaded(document, filePath)
                                     : ResolveLocal(document.path, filePath);
    return true;
  });
}

}  // namespace varnel
