#include <varnel/String.h>

#include "host/CodePage.h"

#include <cstdint>
#include <cwctype>

namespace varnel {

String& String::operator=(const wchar_t* text) {
  text_.assign(text ? text : L"");
  return *this;
}

String& String::operator=(const char* text) {
  text_.clear();
  if (!text) return *this;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    text_.push_back(static_cast<wchar_t>(*p));
  return *this;
}

String& String::operator+=(const String& other) {
  text_ += other.text_;
  return *this;
}

String& String::operator+=(wchar_t ch) {
  text_.push_back(ch);
  return *this;
}

String String::Left(int n) const {
  if (n <= 0) return String();
  return String(std::wstring_view(text_).substr(0, static_cast<size_t>(n)));
}

String String::Right(int n) const {
  if (n <= 0) return String();
  size_t size = text_.size();
  size_t take = static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size;
  return String(std::wstring_view(text_).substr(size - take));
}

String String::Mid(int first, int n) const {
  if (first < 0) first = 0;
  if (n <= 0 || static_cast<size_t>(first) >= text_.size()) return String();
  return String(std::wstring_view(text_).substr(static_cast<size_t>(first), static_cast<size_t>(n)));
}

int String::Find(const String& text, int start) const {
  if (start < 0) start = 0;
  size_t at = text_.find(text.text_, static_cast<size_t>(start));
  return at == std::wstring::npos ? -1 : static_cast<int>(at);
}

int String::Find(wchar_t ch, int start) const {
  if (start < 0) start = 0;
  size_t at = text_.find(ch, static_cast<size_t>(start));
  return at == std::wstring::npos ? -1 : static_cast<int>(at);
}

int String::ReverseFind(wchar_t ch) const {
  size_t at = text_.rfind(ch);
  return at == std::wstring::npos ? -1 : static_cast<int>(at);
}

void String::SetAt(int i, wchar_t ch) {
  if (i >= 0 && static_cast<size_t>(i) < text_.size()) text_[static_cast<size_t>(i)] = ch;
}

void String::Delete(int first, int n) {
  if (first < 0 || n <= 0 || static_cast<size_t>(first) >= text_.size()) return;
  text_.erase(static_cast<size_t>(first), static_cast<size_t>(n));
}

void String::Insert(int at, const String& text) {
  if (at < 0) at = 0;
  if (static_cast<size_t>(at) > text_.size()) at = GetLength();
  text_.insert(static_cast<size_t>(at), text.text_);
}

int String::CompareNoCase(const String& other) const {
  size_t n = text_.size() < other.text_.size() ? text_.size() : other.text_.size();
  for (size_t i = 0; i < n; ++i) {
    wint_t a = std::towlower(static_cast<wint_t>(text_[i]));
    wint_t b = std::towlower(static_cast<wint_t>(other.text_[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (text_.size() == other.text_.size()) return 0;
  return text_.size() < other.text_.size() ? -1 : 1;
}

// White space as the host trims it: blanks, tabs, line breaks and the other C-locale spaces.
static bool IsBlank(wchar_t ch) { return ch == L' ' || (ch >= L'\t' && ch <= L'\r'); }

void String::TrimLeft() {
  size_t first = 0;
  while (first < text_.size() && IsBlank(text_[first])) ++first;
  text_.erase(0, first);
}

void String::TrimRight() {
  size_t end = text_.size();
  while (end > 0 && IsBlank(text_[end - 1])) --end;
  text_.erase(end);
}

std::string String::ToUtf8() const {
  std::string out;
  out.reserve(text_.size());
  for (wchar_t wc : text_) {
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

String String::FromUtf8(std::string_view utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  int n = DecodeUtf8(utf8.data(), static_cast<int>(utf8.size()), wide.data());
  wide.resize(static_cast<size_t>(n));
  return String(wide);
}

}  // namespace varnel
