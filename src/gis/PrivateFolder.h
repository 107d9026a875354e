// The GIS layer writes only inside one temporary folder of its own (mode 0700), made on first
// use and removed when the process ends; each archive gets a folder of its own inside it.
#pragma once

#include <string>

namespace varnel::gis {

// The process's private folder; "" when it cannot be made.
std::string PrivateFolder();

// A new empty folder inside the private folder; "" (errno set) when it cannot be made.
std::string NewPrivateFolder(const char* prefix);

// Removes the private folders of this process, whoever made them: for a run that is ending
// without its destructors.
void RemoveProcessFolders();

// Removes `folder` and everything below it; links are removed, never followed.
void RemoveFolder(const std::string& folder);

}  // namespace varnel::gis
