// Paths inside an archive: '/'-separated, relative to its root, without "." or ".." components.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varnel::gis {

// An entry's name as it will be written, or none when it is absolute, names a drive, or holds a
// ".." component (backslashes count as separators). Empty for the root itself.
std::optional<std::string> EntryPath(std::string_view name);

// `relative` taken from the folder `base` (an entry path), ".." resolved; none when it is
// absolute or climbs above the root.
std::optional<std::string> JoinPath(std::string_view base, std::string_view relative);

// The folder part of an entry path ("" at the root) and its last component.
std::string_view FolderOf(std::string_view path);
std::string_view NameOf(std::string_view path);

// Whether the name ends with `extension` (".kml"), in any case.
bool HasExtension(std::string_view name, std::string_view extension);

// %XX escapes decoded; a '%' not followed by two hex digits is kept.
std::string PercentDecode(std::string_view text);

// Whether `text` is an http:// or https:// address.
bool IsAddress(std::string_view text);

}  // namespace varnel::gis
