#include "host/CodePage.h"

#include <varnel/String.h>

#include <cstdint>

namespace varnel {

CodePage& CodePage::operator=(const CodePage& other) {
  codePage_ = other.codePage_;
  return *this;
}

int CodePage::Source2Native(const char* source, wchar_t* target, int length) const {
  if (length < 0) length = 0;
  if (codePage_ == tavuCodePageUtf8) return DecodeUtf8(source, length, target);
  for (int i = 0; i < length; ++i) target[i] = static_cast<unsigned char>(source[i]);
  target[length] = L'\0';
  return length;
}

int DecodeUtf8(const char* bytes, int length, wchar_t* out) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes);
  int i = 0, n = 0;
  while (i < length) {
    unsigned char b = s[i];
    uint32_t c;
    int extra;
    if (b < 0x80) { c = b; extra = 0; }
    else if (b >= 0xC2 && b <= 0xDF) { c = b & 0x1F; extra = 1; }
    else if (b >= 0xE0 && b <= 0xEF) { c = b & 0x0F; extra = 2; }
    else if (b >= 0xF0 && b <= 0xF4) { c = b & 0x07; extra = 3; }
    else { out[n++] = 0xFFFD; ++i; continue; }
    if (i + extra >= length) {  // sequence cut off by the end of the token
      out[n++] = 0xFFFD;
      ++i;
      continue;
    }
    int k = 1;
    for (; k <= extra; ++k) {
      unsigned char t = s[i + k];
      if ((t & 0xC0) != 0x80) break;
      c = (c << 6) | (t & 0x3F);
    }
    bool overlong = (extra == 2 && c < 0x800) || (extra == 3 && (c < 0x10000 || c > 0x10FFFF));
    bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    if (k <= extra || overlong || surrogate) {
      out[n++] = 0xFFFD;
      ++i;
      continue;
    }
    out[n++] = static_cast<wchar_t>(c);
    i += extra + 1;
  }
  out[n] = L'\0';
  return n;
}

}  // namespace varnel
