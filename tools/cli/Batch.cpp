#include "cli/Batch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

extern char** environ;

namespace varnel::cli {
namespace {

std::string Stem(const std::string& input) {
  std::string name = input;
  size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  size_t query = name.find_first_of("?#");
  if (query != std::string::npos) name.resize(query);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() ? "model" : name;
}

pid_t Spawn(const std::string& self, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(self.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Workers' own result lines would garble the progress line; the summary reports them.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

std::string BatchOutputPath(const std::string& dir, const std::string& input,
                            const std::string& ext, std::vector<std::string>& taken) {
  std::string stem = Stem(input);
  std::string candidate = stem;
  for (int n = 2; std::find(taken.begin(), taken.end(), candidate) != taken.end(); ++n)
    candidate = stem + "-" + std::to_string(n);
  taken.push_back(candidate);
  return dir + "/" + candidate + "." + ext;
}

int RunBatch(const std::string& self, const BatchOptions& options) {
  const std::string ext = options.format == "buffer" ? "mpb" : options.format;
  const bool progress = isatty(STDERR_FILENO);
  const size_t total = options.inputs.size();
  std::vector<std::string> taken;
  std::map<pid_t, std::string> running;
  size_t next = 0, done = 0;
  int converted = 0, empty = 0, failed = 0;

  while (done < total) {
    while (next < total && running.size() < static_cast<size_t>(std::max(1, options.jobs))) {
      const std::string& input = options.inputs[next++];
      std::string out = BatchOutputPath(options.outputDir, input, ext, taken);
      pid_t pid = Spawn(self, {options.format, input, "-o", out});
      if (pid < 0) {
        ++failed;
        ++done;
        continue;
      }
      running[pid] = input;
    }
    if (running.empty()) continue;
    int status = 0;
    pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) break;
    auto it = running.find(pid);
    if (it == running.end()) continue;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) ++converted;
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 1) ++empty;
    else ++failed;
    ++done;
    if (progress)
      std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done, total, it->second.c_str());
    running.erase(it);
  }
  if (progress) std::fprintf(stderr, "\r\033[K");
  std::fprintf(stderr, "varnel batch: %d converted, %d without output, %d failed\n", converted,
               empty, failed);
  return converted == static_cast<int>(total) ? 0 : 1;
}

}  // namespace varnel::cli
