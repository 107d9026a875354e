// Extended reading: the other documents a document's instances name ("other.dae#id", or
// "other.dae" for its whole scene).
#pragma once

#include <string>
#include <unordered_map>

#include <varnel/ImportOptions.h>

namespace varnel {

class DaeDocument;

// Why an instance's url naming another document gave nothing, by the url as written.
struct LinkFailure {
  DiagnosticKind kind;
  std::string message;
};
using LinkFailures = std::unordered_map<std::wstring, LinkFailure>;

// Documents one import reads besides the one it was asked for.
constexpr int kMaxLinkedDocuments = 64;

// Reads every document the scene of `root` names, each once, and moves its tables into those of
// `root` under ids of their own ("<its canonical path>#<id>"); the urls that name them are
// rewritten to those ids. What cannot be followed is kept in `root.linkFailures` by url.
void FollowLinkedDocuments(DaeDocument& root);

}  // namespace varnel
