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

// A command's exit status (or 128 + signal), standard output and standard error.
struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};
// `text` in single quotes for the shell.
std::string Quote(const std::string& text);
CommandResult RunShell(const std::string& command);
// The varnel tool with `args`, under a time limit so that a hang fails instead of stalling the
// suite; `environment` holds shell assignments ("NAME=value ") for its process.
CommandResult RunTool(const std::string& args, const std::string& environment = "");

// The shared corpus folder, or "" when it is absent (tests then skip).
std::string CorpusDir();
// Every .dae document below the corpus folder, sorted; empty when absent.
std::vector<std::string> CorpusDocuments();

}  // namespace testsupport
