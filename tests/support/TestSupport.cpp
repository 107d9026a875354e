#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace fs = std::filesystem;

namespace testsupport {
namespace {

struct Scratch {
  fs::path dir;
  Scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/varnel-test-XXXXXX";
    dir = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::temp_directory_path();
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace

std::string ScratchDir() {
  static Scratch scratch;
  return scratch.dir.string();
}

std::string WriteFile(const std::string& name, const std::string& contents) {
  fs::path path = fs::path(ScratchDir()) / name;
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << contents;
  return path.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> DirectoryEntries(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    names.insert(entry.path().filename().string());
  return names;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CommandResult RunShell(const std::string& command) {
  std::string errFile = ScratchDir() + "/stderr.txt";
  CommandResult result;
  std::FILE* pipe = popen((command + " 2>" + Quote(errFile)).c_str(), "r");
  if (!pipe) return result;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.err = ReadFile(errFile);
  return result;
}

CommandResult RunTool(const std::string& args, const std::string& environment) {
  return RunShell(environment + "timeout 120 " + Quote(VARNEL_TOOL) + " " + args);
}

std::string CorpusDir() {
  const char* env = std::getenv("VARNEL_CORPUS");
  fs::path dir = env && *env ? fs::path(env) : fs::path(VARNEL_CORPUS);
  std::error_code ec;
  return fs::is_directory(dir, ec) ? fs::canonical(dir, ec).string() : std::string();
}

std::vector<std::string> CorpusDocuments() {
  std::vector<std::string> files;
  std::string dir = CorpusDir();
  if (dir.empty()) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".dae") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace testsupport
