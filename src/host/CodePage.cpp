#include "host/CodePage.h"

#include "host/String.h"

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

}  // namespace varnel
