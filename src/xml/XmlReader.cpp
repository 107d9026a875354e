#include "xml/XmlReader.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "xml/ElementNames.h"

namespace varnel {
namespace {

constexpr int kInputBlockSize = 64 * 1024;

// Bytes a token run copies without a second look. Text stops at NUL, the line-break range
// 0x0A-0x0F, "<" and the 0xFF end marker; tags stop also at the bytes that move the angle or
// bracket depth.
// deliberate: 0x0B-0x0F count as line breaks, like 0x0A, see docs/behaviour.md
struct ByteTables {
  bool text[256];
  bool tag[256];
  constexpr ByteTables() : text(), tag() {
    for (int c = 0; c < 256; ++c) {
      bool plain = c != 0 && !(c >= 0x0A && c <= 0x0F) && c != 0xFF && c != '<';
      text[c] = plain;
      tag[c] = plain && c != '>' && c != '[' && c != ']';
    }
  }
};
constexpr ByteTables kBytes;

#if defined(__SSE2__)
// One bit for each byte of the block that ends a run: exactly the bytes the tables above mark
// as not plain.
inline unsigned RunEnds(__m128i block, bool tag) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i control = _mm_cmpeq_epi8(_mm_and_si128(block, _mm_set1_epi8(char(0xF0))), zero);
  const __m128i nulOrBreak = _mm_or_si128(_mm_cmpeq_epi8(block, zero),
                                          _mm_cmpgt_epi8(block, _mm_set1_epi8(0x09)));
  __m128i ends = _mm_or_si128(_mm_and_si128(control, nulOrBreak),
                              _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('<')),
                                           _mm_cmpeq_epi8(block, _mm_set1_epi8(char(0xFF)))));
  if (tag) {
    ends = _mm_or_si128(ends, _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('>')),
                                           _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('[')),
                                                        _mm_cmpeq_epi8(block, _mm_set1_epi8(']')))));
  }
  return static_cast<unsigned>(_mm_movemask_epi8(ends));
}

// Copies the plain bytes at the start of in[0, n) to `to`, sixteen at a time; returns how many.
inline int CopyRun(const unsigned char* in, char* to, int n, bool tag, const bool* plain) {
  int k = 0;
  for (; k + 16 <= n; k += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k));
    if (const unsigned ends = RunEnds(block, tag)) {
      const int run = std::countr_zero(ends);
      std::memcpy(to + k, in + k, static_cast<size_t>(run));
      return k + run;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k), block);
  }
  while (k < n && plain[in[k]]) {
    to[k] = static_cast<char>(in[k]);
    ++k;
  }
  return k;
}
#else
inline int CopyRun(const unsigned char* in, char* to, int n, bool, const bool* plain) {
  int k = 0;
  while (k < n && plain[in[k]]) {
    to[k] = static_cast<char>(in[k]);
    ++k;
  }
  return k;
}
#endif

}  // namespace

XmlReader::XmlReader() = default;

XmlReader::~XmlReader() {
  CloseStream();
  ReleaseBuffers();
}

void XmlReader::AllocateBuffers() {
  if (!tokenText) tokenText = new char[kTokenBufferSize];
  if (!spareTokenText_) spareTokenText_ = new char[kTokenBufferSize];
  tokenText[0] = '\0';
  attributeText = "";
  if (!inputBuffer_) inputBuffer_ = new unsigned char[kInputBlockSize];
}

void XmlReader::ReleaseBuffers() {
  delete[] tokenText;
  tokenText = nullptr;
  delete[] spareTokenText_;
  spareTokenText_ = nullptr;
  attributeText = "";
  delete[] wideBuffer;
  wideBuffer = nullptr;
  delete[] inputBuffer_;
  inputBuffer_ = nullptr;
  inputPosition_ = inputEnd_ = 0;
}

void XmlReader::ResetReader() {
  lineCacheOffset_ = 0;
  lineCacheLine_ = 1;
  doctypeLine_ = 0;
  tokenLength = 0;
  if (tokenText) tokenText[0] = '\0';
  isTagToken = isEndToken = wasEndTag = false;
  attributeStart = 0;
  currentId = attributeOwnerId = 0;
  attributesPending = false;
  attributeText = "";
  attributeCursor = attributeNameStart = attributeNameLength = 0;
  attributeValueStart = attributeValueLength = 0;
  pendingOpen = false;
  wideInput = bigEndian = utf16 = false;
  readAheadValid = false;
  readAheadByte = 0;
  stopped = false;
  inputPosition_ = inputEnd_ = 0;
  inputSize_ = -1;
  struct stat info;
  if (memory_) inputSize_ = static_cast<int64_t>(memorySize_);
  else if (stream && fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode)) inputSize_ = info.st_size;
  listRoom = ListAllowance();
  listRoomReported = false;
}

int64_t XmlReader::ListAllowance() const {
  return inputSize_ >= 0 ? std::max(inputSize_ / 2 + 1, kListRoomFloor) : INT64_MAX;
}

int64_t XmlReader::InputBytesLeft() const {
  int64_t left = int64_t{tokenLength} + (inputEnd_ - inputPosition_) + (readAheadValid ? 1 : 0);
  if (!stream) return left;
  const long position = std::ftell(stream);
  if (inputSize_ < 0 || position < 0) return INT64_MAX;
  return left + (inputSize_ > position ? inputSize_ - position : 0);
}

void XmlReader::CloseStream() {
  if (stream) std::fclose(stream);
  stream = nullptr;
  memory_ = nullptr;
  memorySize_ = 0;
  inputPosition_ = inputEnd_ = 0;
  readAheadValid = false;
}

bool XmlReader::OpenFile(const char* path) {
  CloseStream();
  stream = std::fopen(path, "rb");
  ResetReader();
  return stream != nullptr;
}

bool XmlReader::OpenMemory(const unsigned char* data, size_t size) {
  CloseStream();
  // fmemopen refuses size 0: an empty buffer reads as the empty device does.
  static const unsigned char none = 0;
  stream = size ? fmemopen(const_cast<unsigned char*>(data), size, "rb") : std::fopen("/dev/null", "rb");
  if (stream) {
    memory_ = size ? data : &none;
    memorySize_ = size;
  }
  ResetReader();
  return stream != nullptr;
}

int64_t XmlReader::ReadAt(unsigned char* out, size_t size, int64_t offset) const {
  if (!memory_) {
    const ssize_t n = pread(fileno(stream), out, size, offset);
    return n < 0 ? 0 : n;
  }
  if (offset < 0 || static_cast<size_t>(offset) >= memorySize_) return 0;
  const size_t n = std::min(size, memorySize_ - static_cast<size_t>(offset));
  std::memcpy(out, memory_ + offset, n);
  return static_cast<int64_t>(n);
}

void XmlReader::DetectByteOrderMark() {
  if (!stream) return;
  std::fseek(stream, 0, SEEK_SET);
  int b0 = std::getc(stream), b1 = std::getc(stream), b2 = std::getc(stream), b3 = std::getc(stream);
  long position = 0;
  if (b0 < 0x80 || b1 < 0x80) {
    position = 0;
  } else if (b2 >= 0x80 && b3 < 0x80) {
    position = 3;
  } else if (b2 < 0x80 && b3 == 0) {
    position = 2;
    wideInput = true;
  } else if (b2 == 0 && b3 < 0x7F) {
    position = 2;
    wideInput = bigEndian = true;
  }
  std::fseek(stream, position, SEEK_SET);
  inputPosition_ = inputEnd_ = 0;
  readAheadValid = false;
  // A mark, or ASCII characters in 16-bit units: "<?" or blanks before the first tag.
  utf16 = (b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF) ||
          (b0 > 0 && b0 < 0x80 && b1 == 0 && b2 > 0 && b2 < 0x80 && b3 == 0) ||
          (b0 == 0 && b1 > 0 && b1 < 0x80 && b2 == 0 && b3 > 0 && b3 < 0x80);
}

bool XmlReader::Utf16BeyondAscii() const {
  unsigned char block[1 << 16];
  int64_t at = 0;
  for (int64_t n; (n = ReadAt(block, sizeof block, at)) > 1; at += n) {
    for (int64_t i = 0; i + 1 < n; i += 2) {
      const int low = block[i] == 0 ? block[i + 1] : block[i + 1] == 0 ? block[i] : 0x100;
      const bool mark = at + i == 0 && (low == 0x100 && (block[0] == 0xFF || block[0] == 0xFE));
      if (low >= 0x80 && !mark) return true;
    }
    n &= ~int64_t{1};  // a unit never straddles two blocks
  }
  return false;
}

bool XmlReader::TranscodeUtf16() {
  std::fseek(stream, 0, SEEK_SET);
  char in[2 * 4096];
  size_t have = std::fread(in, 1, 2, stream);
  const auto* mark = reinterpret_cast<const unsigned char*>(in);
  const bool markLittle = have == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
  const bool markBig = have == 2 && mark[0] == 0xFE && mark[1] == 0xFF;
  const bool big = markBig || (!markLittle && have == 2 && mark[0] == 0);
  if (markLittle || markBig) have = 0;
  iconv_t convert = iconv_open("UTF-8", big ? "UTF-16BE" : "UTF-16LE");
  if (convert == iconv_t(-1)) {
    CloseStream();
    return false;
  }
  // The text is held in memory and read like a file, so sizes, lines and list allowances come
  // out as for the UTF-8 document.
  std::string out;
  static const char kReplacement[] = "\xEF\xBF\xBD";  // for a lone surrogate half
  char text[2 * sizeof in];
  for (bool end = false; !end;) {
    const size_t got = std::fread(in + have, 1, sizeof in - have, stream);
    end = got == 0;
    have += got;
    char* from = in;
    size_t left = have;
    while (left >= 2) {
      char* to = text;
      size_t room = sizeof text;
      const int error = iconv(convert, &from, &left, &to, &room) == size_t(-1) ? errno : 0;
      out.append(text, sizeof text - room);
      if (!error || error == E2BIG) continue;
      // An incomplete unit or pair waits for more input; at the end, and for a bad unit, a
      // replacement stands in for it.
      if (error == EINVAL && (!end || left < 2)) break;
      out += kReplacement;
      from += 2, left -= 2;
    }
    if (end && left == 1) left = 0;  // an odd last byte is no character
    std::memmove(in, from, left);
    have = left;
  }
  iconv_close(convert);
  CloseStream();
  transcoded_ = std::move(out);
  return OpenMemory(reinterpret_cast<const unsigned char*>(transcoded_.data()), transcoded_.size());
}

int XmlReader::FillBuffer() {
  inputPosition_ = inputEnd_ = 0;
  if (!stream) return 0;
  if (!inputBuffer_) inputBuffer_ = new unsigned char[kInputBlockSize];
  inputEnd_ = static_cast<int>(std::fread(inputBuffer_, 1, kInputBlockSize, stream));
  return inputEnd_;
}

inline int XmlReader::FetchByte() {
  if (inputPosition_ < inputEnd_ && !bigEndian) return inputBuffer_[inputPosition_++];
  return FetchSlow();
}

// Big-endian UTF-16 delivers the bytes of each 16-bit unit low byte first, the order of
// little-endian input: the high byte waits as the read-ahead byte and is delivered (once) by the
// next fetch. ASCII content therefore reads exactly like its UTF-8 form, and a lone last byte is
// delivered as it is.
int XmlReader::FetchSlow() {
  auto raw = [this]() -> int {
    if (inputPosition_ >= inputEnd_ && FillBuffer() <= 0) return -1;
    return inputBuffer_[inputPosition_++];
  };
  if (!bigEndian) return raw();
  if (readAheadValid) {
    readAheadValid = false;
    return readAheadByte;
  }
  int high = raw();
  if (high < 0) return -1;
  int low = raw();
  if (low < 0) return high;
  readAheadByte = static_cast<unsigned char>(high);
  readAheadValid = true;
  return low;
}

bool XmlReader::ReadRawToken() {
  if (!tokenText) return false;
  char* const out = tokenText;
  // List mode is decided by the ids, which nothing below changes: once per token is per byte.
  // A hole ("h", extended reading only) is an index list like "p".
  // The extended reading cuts long vertex counts as lists too, rather than passing over their rest.
  const bool listMode = currentId == kFloatArray || currentId == kP || attributeOwnerId == kFloatArray ||
                        currentId == kH || (currentId == kVcount && extended);
  int length, angle, bracket;
  bool comment, passedOver;

restart:
  isTagToken = isEndToken = false;
  attributeStart = 0;
  length = angle = bracket = 0;
  comment = passedOver = false;
  if (pendingOpen) {
    out[0] = '<';
    length = 1;
    isTagToken = true;
    pendingOpen = false;
  }

  for (;;) {
    // Run of ordinary bytes straight from the input block, bounded so that the limits, the list
    // cut and the comment check still see their byte one at a time below.
    if (length > 0 && !bigEndian && inputPosition_ < inputEnd_) {
      const bool* plain;
      int stop;
      if (isTagToken) {
        plain = kBytes.tag;
        stop = length >= 4 ? kTokenLimit - 1 : length;
      } else {
        plain = kBytes.text;
        stop = listMode ? kListCutLength - 1 : kTokenLimit - 1;
      }
      int n = stop - length;
      if (n > inputEnd_ - inputPosition_) n = inputEnd_ - inputPosition_;
      const int k = CopyRun(inputBuffer_ + inputPosition_, out + length, n, isTagToken, plain);
      length += k;
      inputPosition_ += k;
    }

    int c = FetchByte();
    if (c < 0 || c == 0xFF) {
      out[length] = '\0';
      if (comment) goto restart;
      tokenLength = length;
      return length > 0;
    }
    if (c == 0) continue;
    if (c >= 0x0A && c <= 0x0F) {  // deliberate: all six are line breaks, see docs/behaviour.md
      if (!listMode) continue;
      c = ' ';
    }
    if (length == 0) {
      if (c <= 0x20) continue;
      if (c == '<') isTagToken = true;
    }

    if (!isTagToken) {
      if (c == '<') {
        pendingOpen = true;
        out[length] = '\0';
        tokenLength = length;
        return true;
      }
      out[length++] = static_cast<char>(c);
      if (length == kTokenLimit) {
        if (!extended) break;
        if (!passedOver) PassOverLongToken();
        passedOver = true;
        --length;
      }
      if (c == ' ' && listMode && length >= kListCutLength) {
        out[length] = '\0';
        tokenLength = length;
        return true;
      }
      continue;
    }

    out[length++] = static_cast<char>(c);
    if (length == kTokenLimit) {
      if (!extended) break;
      if (!passedOver) PassOverLongToken();
      passedOver = true;
      out[length - 2] = out[length - 1];  // keeps the name and the closing byte, drops the middle
      --length;
    }
    if (length == 4 && out[1] == '!' && out[2] == '-' && out[3] == '-') comment = true;
    switch (c) {
      case '<':
        ++angle;
        break;
      case '>':
        --angle;
        if (angle > 0 || bracket > 0) break;
        if (!comment) {
          out[length] = '\0';
          tokenLength = length;
          return true;
        }
        if (length >= 7 && out[length - 3] == '-' && out[length - 2] == '-') goto restart;
        break;
      case '[':
        ++bracket;
        break;
      case ']':
        --bracket;
        if (bracket <= 0 && angle > 1) angle = 1;
        break;
      default:
        break;
    }
  }

  // A token of the limit's size ends reading: the stream is closed so later reads see the end.
  out[length] = '\0';
  tokenLength = length;
  report(DiagnosticKind::kTokenTooLong, CurrentLine(), true, [&] {
    return std::string(isTagToken ? "a tag" : "a text") + " longer than " +
           std::to_string(kTokenLimit - 1) + " bytes ends reading";
  });
  CloseStream();
  return false;
}

void XmlReader::NormaliseTagToken() {
  char* t = tokenText;
  int drop = 1;
  if (t[1] == '/') {
    isEndToken = true;
    drop = 2;
  } else if (t[1] == '!') {
    isTagToken = false;  // declarations and CDATA sections read as text
    drop = 2;
    if (report && !doctypeLine_ && std::strncmp(t + 2, "DOCTYPE", 7) == 0)
      doctypeLine_ = CurrentLine();
  }
  int length = tokenLength - drop - 1;  // the leading characters and the closing ">"
  if (length < 0) length = 0;
  std::memmove(t, t + drop, static_cast<size_t>(length));
  t[length] = '\0';
  tokenLength = length;
  if (!isTagToken || isEndToken) return;

  // Split the name from the attribute text; "name/" gets the attribute text "/".
  bool blank = false;
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    if (c <= 0x20) {
      t[i] = '\0';
      attributeStart = i + 1;
      blank = true;
    } else if (blank) {
      break;
    } else if (c == '/') {
      t[i] = '\0';
      attributeStart = i + 1;
      t[i + 1] = '/';
      tokenLength = length + 1;
      t[length + 1] = '\0';
      break;
    }
  }
}

bool XmlReader::NextAttributeToken() {
  const char* a = attributeText;
  char* out = tokenText;

  if (attributeNameLength == 0) {
    int i = attributeCursor;
    int start = -1;
    for (;; ++i) {
      unsigned char c = static_cast<unsigned char>(a[i]);
      if (c == 0) break;  // the text ends before a separator: no usable name
      if (c == '/') {
        // The element closes itself: its end tag follows the attributes read so far.
        const char* name = AnyElementName(attributeOwnerId);
        size_t n = std::strlen(name);
        std::memcpy(out, name, n + 1);
        tokenLength = static_cast<int>(n);
        isTagToken = isEndToken = true;
        attributesPending = false;
        return true;
      }
      bool separator = c <= 0x20 || c >= 0x80;
      if (start < 0) {
        if (separator) continue;
        if (c == '=') break;
        start = i;
      } else if (separator || c == '=') {
        int n = i - start;
        std::memcpy(out, a + start, static_cast<size_t>(n));
        out[n] = '\0';
        tokenLength = n;
        isTagToken = true;
        attributeNameStart = start;
        attributeNameLength = n;
        attributeValueLength = 0;
        attributeCursor = i + 1;
        return true;
      }
    }
    attributesPending = false;
    return false;
  }

  if (attributeValueLength == 0) {
    int i = attributeCursor;
    while (a[i] != '\0' && a[i] != '"' && a[i] != '\'') ++i;
    if (a[i] != '\0') {
      char quote = a[i];
      int start = ++i;
      while (a[i] != '\0' && a[i] != quote) ++i;
      if (a[i] == quote) {
        int n = i - start;
        std::memcpy(out, a + start, static_cast<size_t>(n));
        out[n] = '\0';
        tokenLength = n;
        attributeValueStart = start;
        attributeValueLength = n > 0 ? n : 1;
        attributeCursor = i + 1;
        return true;
      }
    }
    attributesPending = false;
    return false;
  }

  int n = attributeNameLength;
  std::memcpy(out, a + attributeNameStart, static_cast<size_t>(n));
  out[n] = '\0';
  tokenLength = n;
  isTagToken = isEndToken = true;
  attributeNameStart = attributeNameLength = 0;
  attributeValueStart = attributeValueLength = 0;
  return true;
}

bool XmlReader::NextToken() {
  if (attributesPending && tokenText) {
    isTagToken = isEndToken = false;
    attributeStart = 0;
    if (NextAttributeToken()) return true;
  }
  if (!ReadRawToken()) return false;
  if (isTagToken) NormaliseTagToken();
  return true;
}

int XmlReader::IdentifyTag() {
  wasEndTag = isEndToken;
  // No name in the table is longer than 40 bytes, so a longer token need not be measured.
  int id = tokenText ? LookupElement(tokenText, strnlen(tokenText, 64)) : 0;
  if (id == 0 && extended && isTagToken) id = LookupExtendedElement(tokenText, strnlen(tokenText, 64));
  if (id == 0) {
    currentId = 0;
    return 0;
  }
  currentId = id;
  if (isTagToken && !isEndToken && attributeStart >= 1 && attributeStart <= tokenLength - 1) {
    // Attribute text beyond the buffer is dropped; what fits is still delivered. The text stays
    // where the tag was read (the byte before it is the NUL that ended the name) and the
    // attribute tokens go to the other buffer.
    int n = tokenLength - attributeStart;
    if (n > kAttributeBufferSize - 2) {
      n = kAttributeBufferSize - 2;
      report(DiagnosticKind::kLimitReached, CurrentLine(), false, [&] {
        return "<" + std::string(tokenText) + ">: attributes past their first " +
               std::to_string(kAttributeBufferSize - 2) + " bytes are not read";
      });
    }
    tokenText[attributeStart + n] = '\0';
    attributeText = tokenText + attributeStart - 1;
    std::swap(tokenText, spareTokenText_);
    attributesPending = true;
    attributeCursor = 1;
    attributeNameStart = attributeNameLength = 0;
    attributeValueStart = attributeValueLength = 0;
    attributeOwnerId = id;
  }
  NextToken();
  return id;
}

bool XmlReader::SkipElement(int id) {
  if (id == 0 && tokenText && (extended || report) && (isTagToken || tokenLength > 0)) {
    // A name outside the table: the plain reading stops here (the search below runs to the
    // end), the extended one passes over the element with everything in it.
    const bool start = isTagToken && !isEndToken;
    // A prefixed root is passed over whole by the extended reading too: nothing to win there.
    const char* colon = std::strchr(tokenText, ':');
    const bool prefixedRoot = colon && std::strcmp(colon, ":COLLADA") == 0;
    // After a declaration the plain reading cannot take the root's attributes.
    const bool doctype = doctypeLine_ > 0 && !extended && attributesPending;
    const int line = doctype ? doctypeLine_ : CurrentLine();
    report(DiagnosticKind::kUnknownName, line, !prefixedRoot, [&] {
      const std::string what = doctype          ? std::string("<!DOCTYPE>")
                               : !isTagToken    ? "text \"" + std::string(tokenText).substr(0, 40) + "\""
                               : attributesPending ? "attribute \"" + std::string(tokenText) + "\""
                               : std::string(isEndToken ? "</" : "<") + tokenText + ">";
      return (extended ? what + " is skipped" : "parsing stopped: " + what + " is not read");
    });
    if (extended) {
      if (!start) return NextToken();  // stray text or end tag
      return SkipNested(std::string(tokenText), true);
    }
  } else if (extended && id > 0 && id < kExtendedElementEnd && tokenText) {
    if (isTagToken && isEndToken && std::strcmp(tokenText, AnyElementName(id)) == 0) {
      NextToken();
      return true;
    }
    return SkipNested(AnyElementName(id), false);
  }
  if (id >= 0 && id < kElementCount && tokenText) {
    const char* name = ElementName(id);
    if (isTagToken && isEndToken && std::strcmp(tokenText, name) == 0) {
      NextToken();
      return true;
    }
    while (NextToken()) {
      if (isTagToken && std::strcmp(tokenText, name) == 0) {
        NextToken();
        return true;
      }
    }
  }
  if (isTagToken && isEndToken) {
    NextToken();
    return true;
  }
  while (NextToken()) {
    if (isTagToken && isEndToken) {
      NextToken();
      return true;
    }
  }
  return false;
}

bool XmlReader::SelfClosingStart() const {
  return isTagToken && !isEndToken && attributeStart >= 1 && tokenLength > 0 &&
         tokenText[tokenLength - 1] == '/';
}

void XmlReader::PassOverLongToken() {
  report(DiagnosticKind::kTokenTooLong, CurrentLine(), false, [] {
    return "a text or tag longer than " + std::to_string(kTokenLimit - 1) +
           " bytes: the rest of it is passed over";
  });
}

bool XmlReader::SkipNested(const std::string& name, bool atStart) {
  if (atStart && SelfClosingStart()) {
    NextToken();
    return true;
  }
  int depth = 1;
  for (bool more = atStart ? NextToken() : tokenText != nullptr; more; more = NextToken()) {
    if (!isTagToken || name != tokenText) continue;
    if (!isEndToken) {
      if (!SelfClosingStart()) ++depth;
    } else if (--depth == 0) {
      NextToken();
      return true;
    }
  }
  return false;
}

int XmlReader::CurrentLine() const { return LineOf(nullptr); }

int XmlReader::StartTagLine(const char* name) const { return LineOf(name); }

int XmlReader::LineOf(const char* name) const {
  if (!stream) return 0;
  const long end = std::ftell(stream);
  if (end < 0) return 0;
  const int64_t offset = end - (inputEnd_ - inputPosition_);
  const size_t nameLength = name ? std::strlen(name) : 0;
  // Diagnostics come in reading order: counting goes on from where the last one stopped, so many
  // diagnostics cost one pass over the file, not one each. A start tag before that point (or
  // a reader that went back) is searched from the start.
  const bool resume = lineCacheOffset_ <= offset;
  int64_t from = resume ? lineCacheOffset_ : 0;
  int line = resume ? lineCacheLine_ : 1, tagLine = 0;
  size_t matched = 0;  // characters of "<name" seen last
  auto see = [&](unsigned c) {
    if (name) {
      if (matched == nameLength + 1) {
        if (c <= 0x20 || c == '>' || c == '/') tagLine = line;
        matched = 0;
      }
      if (c == '<') matched = 1;
      else if (matched > 0 && c == static_cast<unsigned char>(name[matched - 1])) ++matched;
      else matched = 0;
    }
    line += c == '\n';
  };
  unsigned char block[1 << 16];
  for (int64_t at = from; at < offset;) {
    const int64_t n = ReadAt(block, static_cast<size_t>(std::min<int64_t>(sizeof block, offset - at)), at);
    if (n <= 0) break;
    if (!wideInput) {
      for (int64_t i = 0; i < n; ++i) see(block[i]);
    } else {
      // Units of two bytes; the block size is even, so a unit never straddles two blocks.
      const int low = bigEndian ? 1 : 0;
      for (int64_t i = 0; i + 1 < n; i += 2) see(block[i + low] | unsigned{block[i + 1 - low]} << 8);
    }
    at += n;
  }
  lineCacheOffset_ = offset;
  lineCacheLine_ = line;
  if (name && tagLine == 0 && from > 0) {
    lineCacheOffset_ = 0;  // the tag lies before the resumed range
    lineCacheLine_ = 1;
    const int found = LineOf(name);
    lineCacheOffset_ = offset;
    lineCacheLine_ = line;
    return found;
  }
  return name && tagLine > 0 ? tagLine : line;
}

}  // namespace varnel
