// Local homes for files fetched from untrusted addresses: a safe file name derived from an
// address or an image reference, a private folder per download, and their removal.
//
// Every fetched file lives alone in its own folder directly below the process's temporary
// directory, so two documents loading at the same time (on different threads) never share,
// overwrite or delete each other's files, while the file keeps the name taken from its address.
#pragma once

#include "host/Downloader.h"
#include <varnel/String.h>

namespace varnel {

// Reduces an address ("http://host/dir/model.dae?x=1") or a reference found inside a document
// ("../../textures/wall.png") to one file name that stays inside any folder it is appended to.
// Rules, in this order:
//   1. Everything from the first '?' or '#' on is cut: in an address or a relative reference
//      both start the query or fragment, which never name the file.
//   2. An address ("scheme://authority...") with no '/' after its authority has no file name.
//   3. Only the text after the last '/' or '\' is kept (backslashes come from Windows tools),
//      so "../", absolute paths and folder names all fall away.
//   4. NUL and control characters (below U+0020, U+007F to U+009F) and characters that are not
//      valid Unicode scalars are dropped.
//   5. "", "." and ".." are refused, as is a name longer than 200 bytes in UTF-8 (a file system
//      limit would make it fail later anyway).
// A refused reference gives an empty String; the caller then fetches nothing. No percent-decoding
// is done, so "%2F" stays three plain characters.
String SafeFileName(const String& reference);

// Creates a new, empty folder (mode 0700) for one download directly below
// TavuOSDir::GetTempPathW() and returns it with a trailing "/"; empty when the temporary
// directory is missing or the folder cannot be made.
String MakeDownloadDir();

// Removes `dir` when it is an empty folder made by MakeDownloadDir (with or without trailing
// "/"). Anything else, including a folder outside the temporary directory, is left alone.
void RemoveDownloadDir(const String& dir);

// Deletes `path` when it is a file (a link is removed, never followed), then its folder when that
// is a now empty download folder. Used for every temporary file a document records.
void DeleteDownloadedFile(const String& path);

// Fetches `source` with `downloader` into a new download folder, under SafeFileName(nameFrom).
// Returns the local file when it arrived; otherwise "" and no folder is left behind (also when
// the downloader is null, the name is refused or the temporary directory is missing). The caller
// records the result for deletion with DeleteDownloadedFile. `result`, when given, receives what
// the downloader answered (a failure when it was never asked).
String DownloadToTempFile(IDownloader* downloader, const String& source, const String& nameFrom,
                          HRESULT* result = nullptr);

}  // namespace varnel
