#include <varnel/String.h>

#include "host/CodePage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>

namespace varnel {

namespace {

struct EmptyBlock {
  int32_t length = 0;
  int32_t capacity = 0;
  wchar_t text[1] = {L'\0'};
};
EmptyBlock emptyBlock;

}  // namespace

wchar_t* String::EmptyText() { return emptyBlock.text; }

String::String(const wchar_t* text) : text_(EmptyText()) {
  if (text) Assign(text);
}

String::String(std::wstring_view text) : text_(EmptyText()) { Assign(text); }

String::~String() { Release(); }

void String::Release() {
  if (Header()[1] > 0) std::free(Header());
}

String& String::operator=(const String& other) {
  if (this != &other) Assign(other);
  return *this;
}

void String::Reserve(int length, int keep) {
  const int32_t capacity = Header()[1];
  if (length <= capacity) return;
  // Appending grows by half, so that text built a character at a time stays linear.
  int64_t room = capacity > 0 ? capacity + capacity / 2 : 0;
  if (room < length || room > INT32_MAX) room = length;
  auto* block = static_cast<int32_t*>(std::malloc(8 + sizeof(wchar_t) * static_cast<size_t>(room + 1)));
  if (!block) throw std::bad_alloc();
  block[0] = keep;
  block[1] = static_cast<int32_t>(room);
  wchar_t* text = reinterpret_cast<wchar_t*>(block + 2);
  std::wmemcpy(text, text_, static_cast<size_t>(keep));
  text[keep] = L'\0';
  Release();
  text_ = text;
}

void String::Assign(std::wstring_view text) {
  const int length = static_cast<int>(text.size());
  if (length == 0) return Empty();
  if (length > Header()[1]) {
    String fresh;
    fresh.Reserve(length, 0);
    std::swap(text_, fresh.text_);
  }
  std::wmemmove(text_, text.data(), text.size());
  text_[length] = L'\0';
  Header()[0] = length;
}

void String::Empty() {
  Release();
  text_ = EmptyText();
}

String& String::operator=(const wchar_t* text) {
  Assign(text ? std::wstring_view(text) : std::wstring_view());
  return *this;
}

String& String::operator=(const char* text) {
  std::wstring wide;
  if (text)
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
      wide.push_back(static_cast<wchar_t>(*p));
  Assign(wide);
  return *this;
}

String& String::operator+=(const String& other) {
  const int length = GetLength(), more = other.GetLength();
  if (more == 0) return *this;
  if (&other == this) return *this += String(other);
  Reserve(length + more, length);
  std::wmemcpy(text_ + length, other.text_, static_cast<size_t>(more));
  text_[length + more] = L'\0';
  Header()[0] = length + more;
  return *this;
}

String& String::operator+=(wchar_t ch) {
  const int length = GetLength();
  Reserve(length + 1, length);
  text_[length] = ch;
  text_[length + 1] = L'\0';
  Header()[0] = length + 1;
  return *this;
}

String String::Left(int n) const {
  if (n <= 0) return String();
  return String(std::wstring_view(*this).substr(0, static_cast<size_t>(n)));
}

String String::Right(int n) const {
  if (n <= 0) return String();
  size_t size = static_cast<size_t>(GetLength());
  size_t take = static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size;
  return String(std::wstring_view(*this).substr(size - take));
}

String String::Mid(int first, int n) const {
  if (first < 0) first = 0;
  if (n <= 0 || first >= GetLength()) return String();
  return String(std::wstring_view(*this).substr(static_cast<size_t>(first), static_cast<size_t>(n)));
}

int String::Find(const String& text, int start) const {
  if (start < 0) start = 0;
  size_t at = std::wstring_view(*this).find(std::wstring_view(text), static_cast<size_t>(start));
  return at == std::wstring_view::npos ? -1 : static_cast<int>(at);
}

int String::Find(wchar_t ch, int start) const {
  if (start < 0) start = 0;
  size_t at = std::wstring_view(*this).find(ch, static_cast<size_t>(start));
  return at == std::wstring_view::npos ? -1 : static_cast<int>(at);
}

int String::ReverseFind(wchar_t ch) const {
  size_t at = std::wstring_view(*this).rfind(ch);
  return at == std::wstring_view::npos ? -1 : static_cast<int>(at);
}

void String::SetAt(int i, wchar_t ch) {
  if (i >= 0 && i < GetLength()) text_[i] = ch;
}

void String::Delete(int first, int n) {
  if (first < 0 || n <= 0 || first >= GetLength()) return;
  std::wstring text(*this);
  Assign(text.erase(static_cast<size_t>(first), static_cast<size_t>(n)));
}

void String::Insert(int at, const String& text) {
  if (at < 0) at = 0;
  if (at > GetLength()) at = GetLength();
  std::wstring joined(*this);
  Assign(joined.insert(static_cast<size_t>(at), std::wstring_view(text)));
}

int String::CompareNoCase(const String& other) const {
  const int size = GetLength(), otherSize = other.GetLength();
  const int n = size < otherSize ? size : otherSize;
  for (int i = 0; i < n; ++i) {
    wint_t a = std::towlower(static_cast<wint_t>(text_[i]));
    wint_t b = std::towlower(static_cast<wint_t>(other.text_[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (size == otherSize) return 0;
  return size < otherSize ? -1 : 1;
}

// White space as the host trims it: blanks, tabs, line breaks and the other C-locale spaces.
static bool IsBlank(wchar_t ch) { return ch == L' ' || (ch >= L'\t' && ch <= L'\r'); }

void String::TrimLeft() {
  int first = 0;
  while (first < GetLength() && IsBlank(text_[first])) ++first;
  if (first > 0) Assign(std::wstring_view(*this).substr(static_cast<size_t>(first)));
}

void String::TrimRight() {
  int end = GetLength();
  while (end > 0 && IsBlank(text_[end - 1])) --end;
  if (end < GetLength()) Assign(std::wstring_view(*this).substr(0, static_cast<size_t>(end)));
}

std::string String::ToUtf8() const {
  std::string out;
  out.reserve(static_cast<size_t>(GetLength()));
  for (wchar_t wc : std::wstring_view(*this)) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

String String::FromNativePath(std::string_view bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  wchar_t one[5];  // an invalid sequence decodes to one U+FFFD a byte, then the terminator
  for (size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // A sequence is taken when it decodes to one character; U+FFFD written as such is one too.
    bool valid = length <= bytes.size() - i &&
                 DecodeUtf8(bytes.data() + i, static_cast<int>(length), one) == 1 &&
                 (one[0] != 0xFFFD || bytes.substr(i, length) == "\xEF\xBF\xBD");
    if (lead < 0x80 || valid) {
      wide.push_back(lead < 0x80 ? static_cast<wchar_t>(lead) : one[0]);
      i += length;
    } else {
      wide.push_back(static_cast<wchar_t>(0xDC00 + lead));
      ++i;
    }
  }
  return String(wide);
}

std::string String::ToNativePath() const {
  std::string out;
  std::wstring_view text(*this);
  for (size_t start = 0; start < text.size();) {
    size_t escaped = start;
    while (escaped < text.size() && !(text[escaped] >= 0xDC80 && text[escaped] <= 0xDCFF))
      ++escaped;
    out += String(text.substr(start, escaped - start)).ToUtf8();
    if (escaped < text.size()) out.push_back(static_cast<char>(text[escaped] - 0xDC00));
    start = escaped + 1;
  }
  return out;
}

String String::FromUtf8(std::string_view utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  int n = DecodeUtf8(utf8.data(), static_cast<int>(utf8.size()), wide.data());
  wide.resize(static_cast<size_t>(n));
  return String(wide);
}

}  // namespace varnel
