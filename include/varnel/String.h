// The host's wide-character string. Every id, url, name and path of a document is one.
// Text crosses to the operating system as UTF-8 (ToUtf8 / FromUtf8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <varnel/Export.h>

namespace varnel {

class VARNEL_API String {
 public:
  String() noexcept : text_(EmptyText()) {}
  String(const wchar_t* text);
  String(std::wstring_view text);
  String(const String& other) : String(std::wstring_view(other)) {}
  String(String&& other) noexcept : text_(other.text_) { other.text_ = EmptyText(); }
  String& operator=(const String& other);
  String& operator=(String&& other) noexcept {
    std::swap(text_, other.text_);
    return *this;
  }
  ~String();
  String& operator=(const wchar_t* text);
  // Narrow assignment: every byte becomes the character of the same value (ASCII unchanged).
  String& operator=(const char* text);
  String& operator+=(const String& other);
  String& operator+=(wchar_t ch);

  int GetLength() const { return Header()[0]; }
  bool IsEmpty() const { return GetLength() == 0; }
  wchar_t operator[](int i) const { return text_[i]; }
  const wchar_t* c_str() const { return text_; }
  operator std::wstring_view() const { return {text_, static_cast<size_t>(GetLength())}; }
  std::wstring wstr() const { return std::wstring(std::wstring_view(*this)); }

  String Left(int n) const;
  String Right(int n) const;
  String Mid(int first, int n) const;
  // Position of the first occurrence, -1 when absent.
  int Find(const String& text, int start = 0) const;
  int Find(wchar_t ch, int start = 0) const;
  int ReverseFind(wchar_t ch) const;
  void SetAt(int i, wchar_t ch);
  void Delete(int first, int n = 1);
  void Insert(int at, const String& text);
  void Empty();
  // 0 when equal without regard to case.
  int CompareNoCase(const String& other) const;
  void TrimLeft();
  void TrimRight();

  std::string ToUtf8() const;
  static String FromUtf8(std::string_view utf8);
  // A file name as the system has it: bytes, not always UTF-8. Each byte of an invalid sequence
  // is kept as the lone surrogate U+DC80 + (byte - 0x80) and given back by ToNativePath, so any
  // name the system holds opens; ToUtf8 shows such a byte as U+FFFD.
  static String FromNativePath(std::string_view bytes);
  std::string ToNativePath() const;

  friend bool operator==(const String& a, const String& b) {
    return std::wstring_view(a) == std::wstring_view(b);
  }
  friend bool operator==(const String& a, const wchar_t* b) { return std::wstring_view(a) == b; }
  friend String operator+(String a, const String& b) { return a += b; }

 private:
  // One pointer, to characters that follow their length and capacity in one block (a
  // component-call string's layout): documents hold millions of ids, names and urls, most of
  // them short, and an inline buffer would cost every element several times over. Every empty
  // string points into one shared block of capacity 0, which is never written or freed.
  const int32_t* Header() const { return reinterpret_cast<const int32_t*>(text_) - 2; }
  int32_t* Header() { return reinterpret_cast<int32_t*>(text_) - 2; }
  static wchar_t* EmptyText();
  // Frees the block unless it is the shared empty one; `text_` is left dangling.
  void Release();
  // Room for `length` characters (and the terminator), keeping the first `keep`.
  void Reserve(int length, int keep);
  void Assign(std::wstring_view text);

  wchar_t* text_;
};

}  // namespace varnel
