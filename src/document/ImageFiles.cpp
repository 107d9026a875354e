// Where an image's reference leads: a file beside a local document (optionally confined to one
// folder tree), a download beside a downloaded one, or what the caller's resolver says for a
// document held in memory. Runs as each image's reference is read.
#include <cctype>
#include <cwctype>
#include <string>

#include "document/DaeDocument.h"
#include "host/SafeName.h"
#include "host/TempDir.h"
#include "tags/Image.h"

namespace varnel {

namespace {
// Built when the library loads, like every constant string the readers compare with.
const String kDotSlash = L"./";
const String kDotDotSlash = L"../";
const String kDoubleSlash = L"//";
const String kFileScheme = L"file:";
const String kLocalhost = L"localhost";
}  // namespace

namespace {

bool StartsWith(const String& text, const String& prefix) {
  return text.Left(prefix.GetLength()) == prefix;
}

bool IsAbsolute(const String& reference) {
  if (reference.GetLength() >= 1 && (reference[0] == L'/' || reference[0] == L'\\')) return true;
  return reference.GetLength() >= 3 && std::iswalpha(static_cast<wint_t>(reference[0])) &&
         reference[1] == L':' && (reference[2] == L'/' || reference[2] == L'\\');
}

// Where a local document may take textures from: anywhere, or inside one folder tree. A file
// found outside is remembered for the diagnostic.
struct Confinement {
  bool on = false;
  String root;
  String refused;

  bool Allows(const FileSystemPath& file) {
    if (!on || file.LiesInside(root)) return true;
    if (refused.IsEmpty()) refused = file.GetString();
    return false;
  }
};

// The reference beside the local document. An absolute reference is taken as it stands;
// any reference that names nothing falls back to its file name in the document's folder.
// A folder counts as found: it then gives no texture rather than the file beside the document.
String ResolveLocal(const String& documentPath, const String& reference, Confinement& confinement) {
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
  if (candidate.Exists() && confinement.Allows(candidate)) return candidate;
  FileSystemPath beside(documentDir);
  beside.AppendFile(candidate.GetFile());
  return beside.Exists() && confinement.Allows(beside) ? beside.GetString() : String();
}

// Whether a reference, taken relative to a folder, stays inside it: not absolute, no scheme,
// and no ".." (also escaped) climbing above where it starts.
bool StaysInside(const String& reference) {
  std::wstring_view text = reference;
  text = text.substr(0, text.find_first_of(L"?#"));
  if (IsAbsolute(reference) || text.substr(0, text.find_first_of(L"/\\")).find(L':') != std::wstring_view::npos)
    return false;
  int depth = 0;
  while (true) {
    const size_t end = text.find_first_of(L"/\\");
    const std::wstring_view part = text.substr(0, end);
    std::wstring segment;
    for (size_t i = 0; i < part.size(); ++i) {
      const bool escapedDot = part.substr(i, 2) == L"%2" && i + 2 < part.size() &&
                              (part[i + 2] == L'e' || part[i + 2] == L'E');
      segment += escapedDot ? L'.' : part[i];
      if (escapedDot) i += 2;
    }
    if (segment == L"..") {
      if (--depth < 0) return false;
    } else if (!segment.empty() && segment != L".") {
      ++depth;
    }
    if (end == std::wstring_view::npos) return true;
    text.remove_prefix(end + 1);
  }
}

// Fetches the reference relative to the document's address into a private folder below the
// temporary directory and records it for deletion. The local name is reduced to one safe file
// name, so no reference can make the download land outside that folder; a reference that would
// leave the address's folder is not fetched at all.
String ResolveDownloaded(DaeDocument& document, const String& id, String reference) {
  FileSystemPath temp(TavuOSDir::GetTempPathW());
  if (!temp.Exists() || !temp.IsDirectory()) return String();

  String base = document.sourceUrl;
  int slash = base.ReverseFind(L'/');
  if (slash > 5) base = base.Left(slash + 1);
  if (StartsWith(reference, kDotSlash)) reference.Delete(0, 2);
  if (!StaysInside(reference)) {
    document.report(DiagnosticKind::kTextureRefused, document.CurrentLine(), false, [&] {
      return "image \"" + id.ToUtf8() + "\": \"" + reference.ToUtf8() +
             "\" leaves the folder of the document's address: not fetched";
    });
    return String();
  }
  if (document.downloadTimeUpReported) return String();

  HRESULT result;
  String target = DownloadToTempFile(document.downloader, base + reference, reference, &result);
  if (target.IsEmpty()) {
    const char* limit = DownloadLimitText(result);
    if (limit && !document.downloadTimeUpReported) {
      document.downloadTimeUpReported = result == kDownloadCallTimeUp;
      document.report(DiagnosticKind::kLimitReached, document.CurrentLine(), false, [&] {
        return "image \"" + id.ToUtf8() + "\": the download of " + (base + reference).ToUtf8() +
               " stopped: " + limit;
      });
    }
    return String();
  }
  document.tempFiles.Insert(target, -1);
  return target;
}

// Escapes stand for UTF-8 bytes; a "%" without two hex digits stays as written.
String PercentDecoded(const String& reference) {
  if (reference.Find(L'%') < 0) return reference;
  const std::string text = reference.ToUtf8();
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return String::FromUtf8(bytes);
}

// The local path a file address or an escaped reference stands for. Of "file://host/path" only
// this machine's host (empty or localhost) is dropped; another host stays as a network path.
}  // namespace

String LocalPath(String reference) {
  if (reference.Left(5).CompareNoCase(kFileScheme) == 0) {
    reference.Delete(0, 5);
    if (StartsWith(reference, kDoubleSlash)) {
      int slash = reference.Find(L'/', 2);
      if (slash < 0) slash = reference.GetLength();
      const String host = reference.Mid(2, slash - 2);
      if (host.IsEmpty() || host.CompareNoCase(kLocalhost) == 0) reference.Delete(0, slash);
    }
    // "/C:/models/a.png": the drive letter follows the slash of the address.
    if (reference.GetLength() >= 3 && reference[0] == L'/' &&
        std::iswalpha(static_cast<wint_t>(reference[1])) && reference[2] == L':')
      reference.Delete(0, 1);
  }
  return PercentDecoded(reference);
}

void DaeDocument::ResolveImage(ImageTag& image) {
  image.budget = &textureBudget;
  const String& reference = image.reference;
  if (isDownloaded) {
    image.filePath = ResolveDownloaded(*this, image.GetId(), reference);
    return;
  }
  if (inMemory) {
    // No folder to look in: the caller's resolver says where references lead.
    const String local = LocalPath(reference);
    image.filePath = Resolve(local);
    if (image.filePath.IsEmpty() && !(local == reference)) image.filePath = Resolve(reference);
    return;
  }
  Confinement confinement;
  confinement.on = context->options.confineTextures;
  confinement.root = context->textureRoot.IsEmpty() ? FileSystemPath(path).GetPath(false) : context->textureRoot;
  const String local = extended() || reporting() ? LocalPath(reference) : reference;
  if (extended()) {
    // The file the address names comes first; a file literally named as written still counts.
    image.filePath = ResolveLocal(path, local, confinement);
    if (image.filePath.IsEmpty() && !(local == reference))
      image.filePath = ResolveLocal(path, reference, confinement);
  } else {
    image.filePath = ResolveLocal(path, reference, confinement);
    Confinement probe = confinement;
    image.extendedFinds = image.filePath.IsEmpty() && !(local == reference) &&
                          !ResolveLocal(path, local, probe).IsEmpty();
  }
  if (!confinement.refused.IsEmpty()) {
    report(DiagnosticKind::kTextureRefused, CurrentLine(), false, [&] {
      return "image \"" + image.GetId().ToUtf8() + "\": \"" + confinement.refused.ToUtf8() +
             "\" lies outside the folder textures are confined to: not read";
    });
  }
}

}  // namespace varnel
