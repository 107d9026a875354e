// The host's wide-character string. Every id, url, name and path of a document is one.
// Text crosses to the operating system as UTF-8 (ToUtf8 / FromUtf8).
#pragma once

#include <string>
#include <string_view>

#include <varnel/Export.h>

namespace varnel {

class VARNEL_API String {
 public:
  String() = default;
  String(const wchar_t* text) : text_(text ? text : L"") {}
  String(std::wstring_view text) : text_(text) {}
  String(const String&) = default;
  String(String&&) noexcept = default;
  String& operator=(const String&) = default;
  String& operator=(String&&) noexcept = default;
  String& operator=(const wchar_t* text);
  // Narrow assignment: every byte becomes the character of the same value (ASCII unchanged).
  String& operator=(const char* text);
  String& operator+=(const String& other);
  String& operator+=(wchar_t ch);

  int GetLength() const { return static_cast<int>(text_.size()); }
  bool IsEmpty() const { return text_.empty(); }
  wchar_t operator[](int i) const { return text_[static_cast<size_t>(i)]; }
  const wchar_t* c_str() const { return text_.c_str(); }
  operator std::wstring_view() const { return text_; }
  const std::wstring& wstr() const { return text_; }

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
  void Empty() { text_.clear(); }
  // 0 when equal without regard to case.
  int CompareNoCase(const String& other) const;
  void TrimLeft();
  void TrimRight();

  std::string ToUtf8() const;
  static String FromUtf8(std::string_view utf8);

  friend bool operator==(const String& a, const String& b) { return a.text_ == b.text_; }
  friend bool operator==(const String& a, const wchar_t* b) { return a.text_ == b; }
  friend String operator+(String a, const String& b) { return a += b; }

 private:
  std::wstring text_;
};

}  // namespace varnel
