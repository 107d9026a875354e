// varnel: inspect, dump and convert COLLADA models from the command line.
// Exit status: 0 output produced, 1 the document yielded no output, 2 usage or write error.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/Batch.h"
#include "cli/Commands.h"

namespace {

const char kUsage[] =
    "usage: varnel COMMAND [options] FILE\n"
    "\n"
    "FILE is a local path or an http(s) address.\n"
    "\n"
    "commands:\n"
    "  info FILE                 geometry summary as one JSON line\n"
    "  dump FILE                 every display-list call as one JSON line each\n"
    "  buffer FILE -o OUT        the multipatch byte buffer\n"
    "  shp FILE -o OUT.shp       a MultiPatch shapefile (.shp, .shx, .dbf)\n"
    "  obj FILE -o OUT.obj       Wavefront OBJ with .mtl and PNG textures\n"
    "  batch [-j N] [--format shp|buffer|obj] -o DIR FILE...\n"
    "                            convert many files in N worker processes\n"
    "  --help, --version\n"
    "\n"
    "exit status: 0 output produced, 1 no output, 2 usage or write error\n";

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "varnel: %s\n", problem);
  std::fputs(kUsage, problem ? stderr : stdout);
  return problem ? 2 : 0;
}

std::string SelfPath(const char* argv0) {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) return std::string(buffer, static_cast<size_t>(n));
  return argv0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varnel::cli;
  if (argc < 2) return Usage("no command given");
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") return Usage(nullptr);
  if (command == "--version") {
    std::printf("varnel %s\n", kVersion);
    return 0;
  }

  std::string output;
  std::string format = "shp";
  int jobs = 1;
  std::vector<std::string> files;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "-o") {
      const char* v = value();
      if (!v) return Usage("-o needs a path");
      output = v;
    } else if (arg == "-j") {
      const char* v = value();
      if (!v || std::atoi(v) < 1) return Usage("-j needs a positive number");
      jobs = std::atoi(v);
    } else if (arg == "--format") {
      const char* v = value();
      if (!v) return Usage("--format needs shp, buffer or obj");
      format = v;
      if (format != "shp" && format != "buffer" && format != "obj")
        return Usage("--format must be shp, buffer or obj");
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return Usage(("unknown option " + arg).c_str());
    } else {
      files.push_back(arg);
    }
  }

  if (command == "batch") {
    if (output.empty()) return Usage("batch needs -o DIR");
    if (files.empty()) return Usage("batch needs at least one FILE");
    BatchOptions options{jobs, output, format, files};
    if (!EnsureDirectory(output)) {
      std::fprintf(stderr, "varnel: %s: cannot create the output folder\n", output.c_str());
      return 2;
    }
    return RunBatch(SelfPath(argv[0]), options);
  }

  if (files.size() != 1) return Usage("exactly one FILE is needed");
  const std::string& file = files[0];
  bool needsOutput = command == "buffer" || command == "shp" || command == "obj";
  if (needsOutput && output.empty()) return Usage((command + " needs -o OUT").c_str());

  if (command == "info") return RunInfo(file);
  if (command == "dump") return RunDump(file);
  if (command == "buffer") return RunBuffer(file, output);
  if (command == "shp") return RunShapefile(file, output);
  if (command == "obj") return RunObj(file, output);
  return Usage(("unknown command " + command).c_str());
}
