// The pull reader: cuts a COLLADA byte stream into tag and text tokens, names tags by the
// element-name table and delivers a start tag's attributes as pseudo-elements
// (start tag "name", text "value", end tag "name"). Element classes read it as an
// `ElementSource`, which the document is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include <varnel/String.h>
#include "util/BaseArray.h"
#include "util/ImportContext.h"
#include "util/Report.h"
#include "xml/Numbers.h"

namespace varnel {

constexpr int kTokenBufferSize = 131172;
constexpr int kTokenLimit = 131171;      // a raw token this long ends reading
constexpr int kListCutLength = 131072;   // list text is cut at the first blank from here on
constexpr int kAttributeBufferSize = 1024;

class XmlReader {
 public:
  XmlReader();
  ~XmlReader();
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // Token state, read directly by the parse methods.
  char* tokenText = nullptr;  // kTokenBufferSize bytes while a parse runs
  int tokenLength = 0;
  bool isTagToken = false;
  bool isEndToken = false;
  int attributeStart = 0;
  bool wasEndTag = false;
  int currentId = 0;
  int attributeOwnerId = 0;
  bool attributesPending = false;
  // The attribute text of the last start tag, from index 1 (index 0 is NUL): it stays in the
  // buffer the tag was read into while the other buffer takes the attribute tokens.
  const char* attributeText = "";
  int attributeCursor = 0;
  int attributeNameStart = 0;
  int attributeNameLength = 0;
  int attributeValueStart = 0;
  int attributeValueLength = 0;
  bool pendingOpen = false;
  bool wideInput = false;
  bool bigEndian = false;
  // The document is UTF-16 by its byte-order mark or by its first characters, whatever the
  // plain reading makes of it (set by DetectByteOrderMark).
  bool utf16 = false;
  bool readAheadValid = false;
  unsigned char readAheadByte = 0;
  std::FILE* stream = nullptr;
  bool stopped = false;
  wchar_t* wideBuffer = nullptr;  // kTokenBufferSize characters, allocated on first need

  // Reads the next raw token into tokenText. False when nothing was read.
  bool ReadRawToken();
  // Advances one token (a queued attribute token first). False at the end of the input.
  bool NextToken();
  // Names the current token, queues a start tag's attributes, advances. Returns the id.
  int IdentifyTag();
  // Skips past the tag token of element `id`. False when the input ended.
  bool SkipElement(int id);

  // Value readers.
  bool ReadValue(String& value);
  bool ReadUrl(String& value);
  bool ReadIntList(int count, BaseArray<int32_t>& values);

  // Bytes not yet consumed: the current token plus the unread rest of the input; INT64_MAX when
  // the stream is not a regular file. Half of it (plus one) bounds the numbers still to come.
  int64_t InputBytesLeft() const;
  // Integers that ReadIntList may still append for this input. A list shorter than its count is
  // filled up by repeating its last number; the allowance, half the input's bytes but never less
  // than kListRoomFloor, lets small documents have that fill while a few bytes of bogus counts
  // cannot fill gigabytes. A list it cuts short is reported.
  static constexpr int64_t kListRoomFloor = int64_t{1} << 22;
  int64_t listRoom = INT64_MAX;
  bool listRoomReported = false;  // once per document

  // The call's context: the extended reading, and where diagnostics go.
  const ImportContext* context = &ImportContext::Plain();
  bool extended() const { return context->extended(); }
  // Whether diagnostics are heard; `report` hands one on (see Reporter).
  bool reporting() const { return static_cast<bool>(context->report); }
  template <class Message>
  void report(DiagnosticKind kind, int line, bool extendedReads, Message&& message) const {
    context->report(kind, line, extendedReads, std::forward<Message>(message));
  }
  // The line of the document the reader stands on (from 1), found by counting line breaks up to
  // the reader's position; 0 without an open stream. Costly: for diagnostics only.
  int CurrentLine() const;
  // The line of the last start tag `name` before the reader's position, where the element just
  // identified begins (the reader itself may stand lines further on); CurrentLine when there is
  // none. Just as costly.
  int StartTagLine(const char* name) const;

  // Opens `stream` for reading from its current position: resets every reader field.
  void ResetReader();
  // Reads the first four bytes of `stream`, positions it behind a byte-order mark if there is
  // one and sets wideInput / bigEndian accordingly.
  void DetectByteOrderMark();
  // Whether the UTF-16 `stream` holds a character beyond ASCII (a byte-order mark aside); reads
  // the whole file.
  bool Utf16BeyondAscii() const;
  // Replaces a UTF-16 `stream` by its UTF-8 text, held in memory, and resets the reader to read
  // it; false when that fails (the stream is then closed).
  bool TranscodeUtf16();
  // Opens `path` (UTF-8 file name) as `stream` and resets the reader; false when it cannot be
  // opened. The document driver opens its own path; this serves tools and tests.
  bool OpenFile(const char* path);
  // Reads `size` bytes at `data` (lent until the stream is closed) as if a file held them;
  // false when no stream could be made over them.
  bool OpenMemory(const unsigned char* data, size_t size);
  // Closes and forgets the stream.
  void CloseStream();
  // Allocates or frees the token buffer and the wide buffer.
  void AllocateBuffers();
  void ReleaseBuffers();

 private:
  int FetchByte();
  int FetchSlow();
  // Up to `size` bytes of the input from `offset` on, without moving the reader; the count read.
  int64_t ReadAt(unsigned char* out, size_t size, int64_t offset) const;
  // The bytes the stream reads when it was opened over memory; null for a file.
  const unsigned char* memory_ = nullptr;
  size_t memorySize_ = 0;
  std::string transcoded_;  // the UTF-8 text of a UTF-16 input, which memory_ then shows
  int FillBuffer();
  bool NextAttributeToken();
  // Extended reading: passes over the element `name` (its start tag current when `atStart`,
  // else just behind), counting nested elements of the same name. False when the input ended.
  bool SkipNested(const std::string& name, bool atStart);
  bool SelfClosingStart() const;
  // CurrentLine, or StartTagLine when `name` is given.
  int LineOf(const char* name) const;
  mutable int64_t lineCacheOffset_ = 0;  // where LineOf last counted to, and the line there
  mutable int lineCacheLine_ = 1;
  // The line of a document type declaration, which the plain reading takes for text and then
  // stops at something after it: its diagnostic names the declaration instead. 0: none seen.
  int doctypeLine_ = 0;
  void NormaliseTagToken();

  // Buffered input: the token stream is the same as byte-by-byte getc.
  unsigned char* inputBuffer_ = nullptr;
  int inputPosition_ = 0;
  int inputEnd_ = 0;
  int64_t inputSize_ = -1;  // of a regular file, else -1
  // The integers all index lists of this input may take together (the start of listRoom).
  int64_t ListAllowance() const;
  // Extended reading: a token over the limit keeps its start and passes over the rest.
  void PassOverLongToken();
  char* spareTokenText_ = nullptr;  // the token buffer not in use, kTokenBufferSize bytes
};

}  // namespace varnel
