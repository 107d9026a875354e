// Hands diagnostics to the caller's receiver. Every message is built by a callable that runs
// only when a receiver is attached, so a call without one pays a null test and nothing else.
#pragma once

#include <string>

#include <varnel/ImportOptions.h>

namespace varnel {

struct Reporter {
  DiagnosticReceiver* receiver = nullptr;

  explicit operator bool() const { return receiver != nullptr; }

  // `message()` returns the text (a std::string); `line` 0 when there is no place to name.
  template <class Message>
  void operator()(DiagnosticKind kind, int line, bool extendedReads, Message&& message) const {
    if (!receiver) return;
    const std::string text = message();
    receiver->Report(Diagnostic{kind, line, text.c_str(), extendedReads});
  }
};

}  // namespace varnel
