// A receiver that keeps every diagnostic of a call, and runs of the entry points with options.
#pragma once

#include <string>
#include <vector>

#include <varnel/varnel.h>

namespace testsupport {

struct Heard {
  varnel::DiagnosticKind kind;
  int line;
  std::string message;
  bool extendedReads;
};

struct Listener : varnel::DiagnosticReceiver {
  void Report(const varnel::Diagnostic& d) override {
    heard.push_back({d.kind, d.line, d.message, d.extendedReads});
  }
  // The first diagnostic of `kind`, or null.
  const Heard* First(varnel::DiagnosticKind kind) const {
    for (const Heard& h : heard)
      if (h.kind == kind) return &h;
    return nullptr;
  }
  std::vector<Heard> heard;
};

// The data buffer of `path` under `options`; empty when nothing was produced.
inline std::string BufferWith(const std::string& path, const varnel::ImportOptions& options) {
  int32_t size = 0;
  unsigned char* bytes = nullptr;
  varnel::Varnel().CreateDataBufferFromFile(varnel::String::FromUtf8(path), size, bytes, options);
  std::string copy(reinterpret_cast<char*>(bytes), static_cast<size_t>(size));
  ::operator delete(bytes);
  return copy;
}

}  // namespace testsupport
