// Diagnostics of the GIS layer: without a receiver no message is built.
#pragma once

#include <string>
#include <string_view>

#include <varnel/ImportOptions.h>

namespace varnel::gis {

class Reporter {
 public:
  explicit Reporter(DiagnosticReceiver* receiver) : receiver_(receiver) {}
  bool active() const { return receiver_ != nullptr; }

  // The message is the pieces joined; `line` is 0 when there is none.
  template <class... Pieces>
  void operator()(DiagnosticKind kind, int line, const Pieces&... pieces) const {
    if (!receiver_) return;
    std::string message;
    (message.append(std::string_view(pieces)), ...);
    receiver_->Report({kind, line, message.c_str(), false});
  }

 private:
  DiagnosticReceiver* receiver_;
};

}  // namespace varnel::gis
