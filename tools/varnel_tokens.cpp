// varnel_tokens FILE: opens a COLLADA document the way the loader does (byte-order mark, prolog,
// root start tag passed over) and summarises the token stream the parse methods would see.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "xml/XmlReader.h"

namespace {

struct Summary {
  long startTags = 0;
  long endTags = 0;
  long textTokens = 0;
  long textBytes = 0;
  long attributes = 0;
  long unknownNames = 0;
  std::map<std::string, long> elements;
};

// Walks the tokens after the root start tag. Tags are identified (which queues attributes);
// names outside the table are counted and stepped over instead of ending the walk.
void Walk(varnel::XmlReader& r, Summary& s) {
  bool more = r.NextToken();
  while (more) {
    // A token that arrives while attributes are queued is one of their pseudo-elements.
    bool attribute = r.attributesPending;
    if (!r.isTagToken) {
      if (!attribute) {
        ++s.textTokens;
        s.textBytes += r.tokenLength;
      }
      more = r.NextToken();
      continue;
    }
    if (r.isEndToken) {
      if (!attribute) ++s.endTags;
    } else if (attribute) {
      ++s.attributes;
    } else {
      ++s.startTags;
      ++s.elements[r.tokenText];
    }
    if (r.IdentifyTag() == 0) {
      ++s.unknownNames;
      if (std::getenv("VARNEL_TOKENS_UNKNOWN")) std::fprintf(stderr, "unknown: %s\n", r.tokenText);
      more = r.NextToken();
    } else {
      more = r.isTagToken || r.tokenLength > 0 || r.attributesPending;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: varnel_tokens FILE\n");
    return 2;
  }
  varnel::XmlReader reader;
  reader.AllocateBuffers();
  if (!reader.OpenFile(argv[1])) {
    std::fprintf(stderr, "varnel_tokens: cannot open %s\n", argv[1]);
    return 1;
  }
  std::fseek(reader.stream, 0, SEEK_END);
  long bytes = std::ftell(reader.stream);
  reader.DetectByteOrderMark();

  Summary s;
  std::string root;
  if (reader.ReadRawToken()) {
    bool more = true;
    if (std::strncmp(reader.tokenText, "<?xml version=", 14) == 0) {
      more = reader.NextToken();
      while (more && reader.tokenText[0] == '?') more = reader.NextToken();
    }
    if (more) {
      // Without a prolog this is still the raw "<COLLADA ...>" token: keep its name only.
      const char* name = reader.tokenText + (reader.tokenText[0] == '<');
      root.assign(name, std::strcspn(name, " \t\r\n/>"));
      Walk(reader, s);
    }
  }
  reader.CloseStream();

  std::printf("%s\n", argv[1]);
  std::printf("  bytes        %ld%s\n", bytes,
              reader.wideInput ? (reader.bigEndian ? "  (UTF-16 big-endian)" : "  (UTF-16 little-endian)") : "");
  std::printf("  root         %s (passed over unread)\n", root.empty() ? "-" : root.c_str());
  std::printf("  start tags   %ld\n", s.startTags);
  std::printf("  end tags     %ld\n", s.endTags);
  std::printf("  attributes   %ld\n", s.attributes);
  std::printf("  text tokens  %ld (%ld bytes)\n", s.textTokens, s.textBytes);
  std::printf("  unknown      %ld names outside the element table\n", s.unknownNames);

  std::vector<std::pair<std::string, long>> ranked(s.elements.begin(), s.elements.end());
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (ranked.size() > 10) ranked.resize(10);
  std::printf("  most frequent elements:\n");
  for (const auto& [name, count] : ranked) std::printf("    %-28s %ld\n", name.c_str(), count);
  return 0;
}
