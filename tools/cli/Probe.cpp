#include "cli/Probe.h"

#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varnel::cli {
namespace {

// Room for a declaration, a licence comment and a DOCTYPE before the root element; a prolog
// longer than this is given the benefit of the doubt.
constexpr size_t kPeekBytes = 4096;

const char kNotXml[] = "not an XML document";
const char kNotCollada[] = "not a COLLADA document";

struct Peek {
  std::string text;  // 8-bit: UTF-16 keeps the low byte of each unit, which is all markup needs
  bool whole = false;  // the file ended within the peek
};

Peek ReadStart(std::FILE* file) {
  char bytes[kPeekBytes];
  size_t n = std::fread(bytes, 1, sizeof bytes, file);
  Peek peek{std::string(bytes, n), n < sizeof bytes};
  std::string& t = peek.text;
  if (t.rfind("\xEF\xBB\xBF", 0) == 0) {
    t.erase(0, 3);
  } else if (t.rfind("\xFF\xFE", 0) == 0 || t.rfind("\xFE\xFF", 0) == 0) {
    size_t big = t[0] == '\xFE';  // big-endian: the high byte comes first
    std::string narrow;
    for (size_t i = 2; i + 1 < t.size(); i += 2)
      narrow += t[i + 1 - big] == 0 ? t[i + big] : '?';
    t = narrow;
  }
  return peek;
}

// Where the markup before the root element (comments, processing instructions, DOCTYPE with its
// internal subset) that starts at `at` ends, or npos when the text ends first.
size_t PrologItemEnd(const std::string& t, size_t at) {
  if (t.compare(at, 4, "<!--") == 0) {
    size_t end = t.find("-->", at + 4);
    return end == std::string::npos ? end : end + 3;
  }
  if (t.compare(at, 2, "<?") == 0) {
    size_t end = t.find("?>", at + 2);
    return end == std::string::npos ? end : end + 2;
  }
  for (bool subset = false; ++at < t.size();) {
    if (t[at] == '[') subset = true;
    else if (t[at] == ']') subset = false;
    else if (t[at] == '>' && !subset) return at + 1;
  }
  return std::string::npos;
}

const char* Classify(const Peek& peek) {
  const std::string& t = peek.text;
  const char* cutShort = peek.whole ? kNotXml : "";
  size_t at = 0;
  while ((at = t.find_first_not_of(" \t\r\n", at)) != std::string::npos &&
         (t.compare(at, 2, "<?") == 0 || t.compare(at, 2, "<!") == 0)) {
    at = PrologItemEnd(t, at);
    if (at == std::string::npos) return cutShort;
  }
  if (at == std::string::npos) return cutShort;
  if (t[at] != '<') return kNotXml;
  if (at + 1 == t.size()) return cutShort;
  unsigned char first = t[at + 1];
  if (!(std::isalpha(first) || first == '_' || first == ':' || first >= 0x80)) return kNotXml;
  size_t end = t.find_first_of(" \t\r\n/>", at + 1);
  if (end == std::string::npos) return cutShort;
  std::string name = t.substr(at + 1, end - at - 1);
  size_t colon = name.rfind(':');
  if (colon != std::string::npos) name.erase(0, colon + 1);
  return name == "COLLADA" ? "" : kNotCollada;
}

}  // namespace

std::string ProbeInput(const std::string& file) {
  if (strncasecmp(file.c_str(), "http://", 7) == 0 || strncasecmp(file.c_str(), "https://", 8) == 0)
    return "";
  struct stat info;
  if (stat(file.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  // Reading a pipe or a device could block or never end.
  if (!S_ISREG(info.st_mode)) return "";
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (!stream) return std::strerror(errno);
  Peek peek = ReadStart(stream);
  std::fclose(stream);
  return Classify(peek);
}

}  // namespace varnel::cli
