#include "cli/Batch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "cli/Commands.h"

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

// A worker's standard error goes to `log` (or nowhere): its diagnostic becomes the reason in the
// summary, and it would garble the progress line. Returns the pid, or -errno.
pid_t Spawn(const std::string& self, const std::vector<std::string>& args, std::FILE* log) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(self.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (log) posix_spawn_file_actions_adddup2(&actions, fileno(log), STDERR_FILENO);
  else posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  int error = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error ? -error : pid;
}

// A worker's standard error: with -v its diagnostics, and last the line saying why it failed.
std::string ReadLog(std::FILE* log) {
  std::string text;
  if (!log) return text;
  std::rewind(log);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, log)) > 0;) text.append(buffer, n);
  return text;
}

// Why a worker did not convert `input`: the last line of its log without the tool's name and the
// input's, taken off the log, or else how it ended.
std::string FailureReason(std::string& log, const std::string& input, int status) {
  if (WIFSIGNALED(status)) return std::string("worker stopped: ") + strsignal(WTERMSIG(status));
  std::string line = log.substr(0, log.find_last_not_of('\n') + 1);
  size_t start = line.rfind('\n') + 1;  // 0 for a single line
  line.erase(0, start);
  const std::string prefix = "varnel: ";
  if (line.rfind(prefix, 0) != 0) return "worker exit status " + std::to_string(WEXITSTATUS(status));
  log.resize(start);
  line.erase(0, prefix.size());
  if (line.rfind(input + ": ", 0) == 0) line.erase(0, input.size() + 2);
  return line;
}

struct Worker {
  size_t index;  // into the inputs
  std::FILE* log;
};

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

int RunBatch(const std::string& self, const BatchOptions& options, const ReadOptions& read) {
  const std::string ext = options.format == "buffer" ? "mpb"
                          : options.format == "gltf" ? "glb"
                                                     : options.format;
  const bool progress = isatty(STDERR_FILENO);
  const std::vector<std::string>& inputs = options.inputs;
  std::vector<std::string> taken, reasons(inputs.size()), logs(inputs.size());
  std::map<pid_t, Worker> running;
  size_t next = 0, done = 0;
  int converted = 0, empty = 0, failed = 0;

  while (done < inputs.size()) {
    while (next < inputs.size() && running.size() < static_cast<size_t>(options.jobs)) {
      size_t index = next++;
      std::string out = BatchOutputPath(options.outputDir, inputs[index], ext, taken);
      std::FILE* log = std::tmpfile();
      std::vector<std::string> args = {options.format, "-o", out};
      if (!read.extended) args.push_back("--strict");
      if (read.verbose) args.push_back("-v");
      if (read.allowNetwork) args.push_back("--allow-network");
      args.push_back(read.confineTextures ? "--confine-textures" : "--no-confine-textures");
      args.insert(args.end(), {"--", inputs[index]});
      pid_t pid = Spawn(self, args, log);
      if (pid < 0) {
        if (log) std::fclose(log);
        reasons[index] = std::string("cannot start a worker: ") + std::strerror(-pid);
        ++failed;
        ++done;
        continue;
      }
      running[pid] = Worker{index, log};
    }
    if (running.empty()) continue;
    int status = 0;
    pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) break;
    auto it = running.find(pid);
    if (it == running.end()) continue;
    const Worker& worker = it->second;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::string& log = logs[worker.index];
    log = ReadLog(worker.log);
    if (code == 0) {
      ++converted;
    } else {
      ++(code == 1 ? empty : failed);
      reasons[worker.index] = FailureReason(log, inputs[worker.index], status);
    }
    if (worker.log) std::fclose(worker.log);
    running.erase(it);
    ++done;
    if (progress) std::fprintf(stderr, "\rconverted %zu/%zu", done, inputs.size());
  }
  if (progress) std::fprintf(stderr, "\r\033[K");
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (read.verbose) std::fputs(logs[i].c_str(), stderr);
    if (!reasons[i].empty()) Report(inputs[i], reasons[i].c_str());
  }
  std::fprintf(stderr, "varnel batch: %d converted, %d without output, %d failed\n", converted,
               empty, failed);
  return converted == static_cast<int>(inputs.size()) ? 0 : 1;
}

}  // namespace varnel::cli
