#pragma once

#include "platform/exception.h"

#include <QString>
#include <QTextStream>

#include <vector>

namespace orv {

// Errors of the streaming JSON reader, one class per kind of fault.
ORV_DECLARE_EXCEPTION(EInvalidStateException, Exception);
ORV_DECLARE_EXCEPTION(EUnterminatedArray, Exception);
ORV_DECLARE_EXCEPTION(EUnterminatedObject, Exception);
ORV_DECLARE_EXCEPTION(ENameExpected, Exception);
ORV_DECLARE_EXCEPTION(EColonExpected, Exception);
ORV_DECLARE_EXCEPTION(EMultipleRootNotAllowed, Exception);
ORV_DECLARE_EXCEPTION(EExpectedValue, Exception);
ORV_DECLARE_EXCEPTION(EObjectOrArrayExpected, Exception);
ORV_DECLARE_EXCEPTION(ETooManyDepthLevels, Exception);
ORV_DECLARE_EXCEPTION(EEndOfInputReached, Exception);
// A malformed escape inside a string ("Invalid code at position %s",
// "Unexpected end of string").
ORV_DECLARE_EXCEPTION(EInvalidStringEscape, Exception);

// Token kinds; the ordinals appear in EInvalidStateException's message.
enum TORVZYNDashJSONState {
  jstNone,
  jstBeginObject,
  jstEndObject,
  jstBeginArray,
  jstEndArray,
  jstTrue,
  jstFalse,
  jstNull,
  jstDoubleQuoted,      // a string value taken from the input as it stands
  jstBuffered,          // a string value whose escapes were replaced
  jstDoubleQuotedName,  // a member name
  jstInt64,             // a number without fraction or exponent that fits in 64 bits
  jstNumber,            // any other number
  jstEOF
};

// The error for a token other than AExpected.
EInvalidStateException InvalidStateError(TORVZYNDashJSONState AExpected);

// Character source of the JSON reader: pulls the caller's stream in
// chunks, so input is read once and in order.
class TORVZYNDashJSONStreamReader {
public:
  explicit TORVZYNDashJSONStreamReader(QTextStream& AStream);

  bool AtEnd();
  // The next character without consuming it; only valid when !AtEnd().
  QChar Peek();
  QChar Next();

private:
  QTextStream& FStream;
  QString FBuffer;
  qsizetype FPos = 0;
};

// Streaming JSON tokenizer. Peek() classifies the next token without
// consuming it; the Read operations consume a token of the kind they name
// and raise EInvalidStateException for any other. Grammar errors raise as
// soon as they are seen. At most 256 levels of objects and arrays.
class TORVZYNDashJSONReader {
public:
  static constexpr int MaxDepth = 256;
  static constexpr int MaxNumberLength = 255;

  explicit TORVZYNDashJSONReader(QTextStream& AStream);

  TORVZYNDashJSONState Peek();

  void ReadBeginObject();
  void ReadEndObject();
  void ReadBeginArray();
  void ReadEndArray();
  QString ReadName();
  // A string value (jstDoubleQuoted or jstBuffered).
  QString ReadString();
  qint64 ReadInt64();
  // A number that is not jstInt64, as written in the input.
  QString ReadNumberText();
  double ReadNumber();
  bool ReadBoolean();
  void ReadNull();
  // Consumes the next value whole, nested objects and arrays included.
  void SkipValue();

private:
  enum class Scope { Object, Array };
  // What the grammar allows next.
  enum class Expect {
    RootValue,        // the first value of the text
    AfterRoot,        // only white space up to the end
    Value,            // a value after a colon or a comma in an array
    FirstArrayValue,  // a value or ']'
    FirstName,        // a name or '}'
    Name,             // a name after a comma
    Separator         // ',' or the closing bracket of the current scope
  };

  void Scan();
  void ScanValue(QChar ch);
  void ScanNumber();
  void ScanString(TORVZYNDashJSONState AKind);
  void ScanWord(const char* AWord, TORVZYNDashJSONState AKind);
  void SkipWhiteSpace();
  QChar NextOrEnd();
  void Push(Scope AScope);
  void Pop();
  void Consume();
  void Require(TORVZYNDashJSONState AState);
  [[noreturn]] void ThrowUnterminated() const;

  TORVZYNDashJSONStreamReader FInput;
  std::vector<Scope> FScopes;
  Expect FExpect = Expect::RootValue;
  TORVZYNDashJSONState FToken = jstNone;  // jstNone: nothing peeked yet
  QString FText;                          // string, name or number text
  qint64 FInt64 = 0;
};

}  // namespace orv
