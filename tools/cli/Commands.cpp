#include "cli/Commands.h"

#include <cstdio>
#include <filesystem>
#include <new>
#include <unistd.h>

#include "cli/DumpSink.h"
#include "cli/ObjWriter.h"
#include "cli/Probe.h"
#include <varnel/Varnel.h>

namespace varnel::cli {

void Report(const std::string& file, const char* what) {
  std::fprintf(stderr, "varnel: %s: %s\n", file.c_str(), what);
}

int NoOutput(const std::string& file) {
  std::string reason = ProbeInput(file);
  Report(file, reason.empty() ? "no output (no readable scene geometry)" : reason.c_str());
  return 1;
}

int CannotWrite(const std::string& out) {
  Report(out, "cannot write the output");
  return 2;
}

bool EnsureDirectory(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  return std::filesystem::is_directory(dir, ec) && access(dir.c_str(), W_OK) == 0;
}

int RunDump(const std::string& file) {
  DumpSink sink(stdout);
  Varnel().CreateDisplayListFromFile(String::FromUtf8(file), &sink);
  std::fflush(stdout);
  return sink.gotExtent ? 0 : NoOutput(file);
}

int RunBuffer(const std::string& file, const std::string& out) {
  std::FILE* target = std::fopen(out.c_str(), "wb");
  if (!target) return CannotWrite(out);
  int32_t size = 0;
  unsigned char* buffer = nullptr;
  Varnel().CreateDataBufferFromFile(String::FromUtf8(file), size, buffer);
  bool written = size > 0 && std::fwrite(buffer, 1, static_cast<size_t>(size), target) ==
                                 static_cast<size_t>(size);
  ::operator delete(buffer);
  bool closed = std::fclose(target) == 0;
  if (size <= 0) {
    std::remove(out.c_str());
    return NoOutput(file);
  }
  return written && closed ? 0 : CannotWrite(out);
}

int RunObj(const std::string& file, const std::string& out) {
  std::string objPath = out;
  if (objPath.size() < 4 || objPath.compare(objPath.size() - 4, 4, ".obj") != 0) objPath += ".obj";
  ObjWriter writer(objPath);
  if (!writer.Open()) return CannotWrite(objPath);
  Varnel().CreateDisplayListFromFile(String::FromUtf8(file), &writer);
  bool finished = writer.Finish();
  if (!writer.gotExtent) {
    std::remove(objPath.c_str());
    std::remove((objPath.substr(0, objPath.size() - 4) + ".mtl").c_str());
    return NoOutput(file);
  }
  return finished ? 0 : CannotWrite(objPath);
}

}  // namespace varnel::cli
