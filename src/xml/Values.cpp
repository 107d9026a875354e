// Reading the current text token as a String, a reference or a list of integers.
#include <cstdio>
#include <new>
#include <string>

#include "host/CodePage.h"
#include "xml/NumberList.h"
#include "xml/XmlReader.h"

namespace varnel {
namespace {

// Built when the library loads, like every constant string the readers compare with.
// deliberate: four entities; "&amp;" stays as written, see docs/behaviour.md
const String kEntities[4] = {L"&lt;", L"&gt;", L"&apos;", L"&quot;"};
const String kReplacements[4] = {L"<", L">", L"'", L"\""};

// An "&#" at a position below length - 3 whose ";" follows within the next six characters and
// before length - 3. Only a token with one is searched for references at all.
bool HasReferenceCandidate(const char* text, int length) {
  const int limit = length - 3;
  for (int i = 0; i < limit; ++i) {
    if (text[i] != '&' || text[i + 1] != '#') continue;
    for (int j = i + 1; j <= i + 6 && j < limit; ++j)
      if (text[j] == ';') return true;
  }
  return false;
}

// deliberate: decimal, at most four digits, at least three characters before the end, see docs/behaviour.md
// Decimal references of up to four characters become their character. The ";" must lie before
// rawLength - 3, counted in the String, so a reference ending a value stays as written.
void DecodeReferences(String& value, int rawLength) {
  for (int i = 0; i < value.GetLength() - 3; ++i) {
    if (value[i] != L'&' || value[i + 1] != L'#') continue;
    const int limit = value.GetLength() < rawLength - 3 ? value.GetLength() : rawLength - 3;
    char digits[5];
    int count = 0;
    int k = i + 2;
    for (; k < limit && value[k] != L';' && count < 4; ++k)
      digits[count++] = static_cast<char>(value[k] & 0xFF);
    if (k >= limit || value[k] != L';') continue;
    digits[count] = '\0';
    int code = 0;
    if (std::sscanf(digits, "%d", &code) != 1 || code <= 0) continue;
    value.SetAt(i, static_cast<wchar_t>(code));
    value.Delete(i + 1, k - i);
  }
}

// Each kind in turn, every occurrence from the start. No replacement character starts an entity,
// so one left-to-right pass per kind ends where repeated searches from the start would.
void ReplaceEntities(String& value) {
  for (int kind = 0; kind < 4; ++kind) {
    const String& entity = kEntities[kind];
    const String& replacement = kReplacements[kind];
    for (int at = value.Find(entity); at >= 0; at = value.Find(entity, at)) {
      value.Delete(at, entity.GetLength());
      value.Insert(at, replacement);
    }
  }
}

}  // namespace

bool XmlReader::ReadValue(String& value) {
  if (isTagToken) {
    value.Empty();
    return true;
  }
  const int length = tokenLength;
  const bool references = HasReferenceCandidate(tokenText, length);

  bool wide = false;
  for (int i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(tokenText[i]) > 0x7F) {
      wide = true;
      break;
    }
  }
  String text;
  if (wide && !wideBuffer) wideBuffer = new (std::nothrow) wchar_t[kTokenBufferSize];
  if (wide && wideBuffer) {
    CodePage(CodePage::tavuCodePageUtf8).Source2Native(tokenText, wideBuffer, length);
    text = static_cast<const wchar_t*>(wideBuffer);
  } else {
    text = static_cast<const char*>(tokenText);
  }
  if (references) DecodeReferences(text, length);
  ReplaceEntities(text);
  value = std::move(text);

  NextToken();
  if (isEndToken) IdentifyTag();
  return true;
}

bool XmlReader::ReadUrl(String& value) {
  bool result = ReadValue(value);
  value.TrimLeft();
  value.TrimRight();
  if (value.GetLength() >= 2 && value[0] == L'#') value.Delete(0, 1);
  return result;
}

bool XmlReader::ReadIntList(int count, BaseArray<int32_t>& values) {
  if (isTagToken && isEndToken) return true;
  if (count > listRoom) {
    if (!listRoomReported)
      report(DiagnosticKind::kLimitReached, CurrentLine(), false, [&] {
        return "an index list of " + std::to_string(count) + " integers passes the " +
               std::to_string(ListAllowance()) +
               " the input may spell out or repeat in all: the list is cut there";
      });
    listRoomReported = true;
    count = static_cast<int>(listRoom);
  }
  if (count > 0) listRoom -= count;
  // deliberate: a list short of its count repeats its last number, see docs/behaviour.md
  const int64_t read = ReadNumberList<ListEnd::kRepeatLast>(
      *this, count > 0 ? count : 0,
      [&values](int64_t, const char* text) {
        const char* stop;
        values.Append(ParseIntAt(text, &stop));
        return stop;
      },
      [&values](char* text, int& p, int length, int64_t most) {
        return RunOfPlainInts(text, p, length, most, values);
      });
  if (read < 0) NextToken();  // an input that ended early still leaves the reader advanced
  if (isEndToken) IdentifyTag();
  return read >= 0;
}

}  // namespace varnel
