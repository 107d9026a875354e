// Helpers shared by the test executables: scratch files and the optional corpus.
#pragma once
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory for the running test, removed at process exit.
std::string ScratchDir();
// Writes `contents` to ScratchDir()/name (creating sub-folders) and returns the full path.
std::string WriteFile(const std::string& name, const std::string& contents);
std::string ReadFile(const std::string& path);
// The names in folder `dir` (empty when it is missing).
std::set<std::string> DirectoryEntries(const std::string& dir);

// The shared corpus folder, or "" when it is absent (tests then skip).
std::string CorpusDir();
// Every .dae document below the corpus folder, sorted; empty when absent.
std::vector<std::string> CorpusDocuments();

}  // namespace testsupport
