// The host's code-page converter: turns a byte string of a known code page into wide characters.
#pragma once

namespace varnel {

class CodePage {
 public:
  enum tavuCodePageEnum {
    tavuCodePageAnsi = 0,
    tavuCodePageOem = 1,
    tavuCodePageMac = 2,
    tavuCodePageThread = 3,
    tavuCodePageUtf8 = 4,
  };

  explicit CodePage(tavuCodePageEnum codePage) : codePage_(codePage) {}
  CodePage(const CodePage&) = default;
  CodePage& operator=(const CodePage& other);

  tavuCodePageEnum GetCodePage() const { return codePage_; }

  // Converts `length` bytes of `source` into `target`, which must hold length + 1 characters, and
  // NUL-terminates it. Never reads past `length`. Returns the number of characters written.
  // UTF-8 replaces invalid sequences with U+FFFD; the other code pages map each byte to the
  // character of the same value.
  int Source2Native(const char* source, wchar_t* target, int length) const;

 private:
  tavuCodePageEnum codePage_;
};

// Decodes UTF-8 into `out`, replacing each invalid sequence with U+FFFD. Never reads past `length`.
// Returns the number of wide characters written (at most `length`); `out` is NUL-terminated.
int DecodeUtf8(const char* bytes, int length, wchar_t* out);

}  // namespace varnel
