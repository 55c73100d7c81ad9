#include "lib/json_reader.h"

namespace orv {

namespace {

constexpr qint64 ChunkSize = 4096;

bool isJsonWhiteSpace(QChar ch) { return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r'; }

bool isDigit(QChar ch) { return ch >= u'0' && ch <= u'9'; }

bool isNumberChar(QChar ch) {
  return isDigit(ch) || ch == u'-' || ch == u'+' || ch == u'.' || ch == u'e' || ch == u'E';
}

int hexValue(QChar ch) {
  const char16_t c = ch.unicode();
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Checks the JSON number grammar and tells whether the text has a fraction
// or an exponent.
bool isValidNumber(const QString& text, bool& isInteger) {
  qsizetype i = 0;
  const qsizetype n = text.size();
  auto digits = [&] {
    const qsizetype start = i;
    while (i < n && isDigit(text[i])) ++i;
    return i > start;
  };
  if (i < n && text[i] == u'-') ++i;
  if (i < n && text[i] == u'0')
    ++i;
  else if (!digits())
    return false;
  isInteger = true;
  if (i < n && text[i] == u'.') {
    ++i;
    isInteger = false;
    if (!digits()) return false;
  }
  if (i < n && (text[i] == u'e' || text[i] == u'E')) {
    ++i;
    isInteger = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) ++i;
    if (!digits()) return false;
  }
  return i == n;
}

[[noreturn]] void throwEndOfInput() { throw EEndOfInputReached(QStringLiteral("End of JSON input reached.")); }

}  // namespace

EInvalidStateException InvalidStateError(TORVZYNDashJSONState AExpected) {
  return EInvalidStateException(
      QStringLiteral("Invalid Json parser state. Expected state: %1").arg(static_cast<int>(AExpected)));
}

TORVZYNDashJSONStreamReader::TORVZYNDashJSONStreamReader(QTextStream& AStream) : FStream(AStream) {}

bool TORVZYNDashJSONStreamReader::AtEnd() {
  if (FPos < FBuffer.size()) return false;
  FBuffer = FStream.read(ChunkSize);
  FPos = 0;
  return FBuffer.isEmpty();
}

QChar TORVZYNDashJSONStreamReader::Peek() { return FBuffer[FPos]; }

QChar TORVZYNDashJSONStreamReader::Next() { return FBuffer[FPos++]; }

TORVZYNDashJSONReader::TORVZYNDashJSONReader(QTextStream& AStream) : FInput(AStream) {}

TORVZYNDashJSONState TORVZYNDashJSONReader::Peek() {
  if (FToken == jstNone) Scan();
  return FToken;
}

void TORVZYNDashJSONReader::SkipWhiteSpace() {
  while (!FInput.AtEnd() && isJsonWhiteSpace(FInput.Peek())) FInput.Next();
}

QChar TORVZYNDashJSONReader::NextOrEnd() {
  if (FInput.AtEnd()) throwEndOfInput();
  return FInput.Next();
}

void TORVZYNDashJSONReader::ThrowUnterminated() const {
  if (FScopes.back() == Scope::Object) throw EUnterminatedObject(QStringLiteral("Unterminated object"));
  throw EUnterminatedArray(QStringLiteral("Unterminated array"));
}

void TORVZYNDashJSONReader::Scan() {
  SkipWhiteSpace();
  switch (FExpect) {
    case Expect::AfterRoot:
      if (!FInput.AtEnd()) throw EMultipleRootNotAllowed(QStringLiteral("Multiple root values not allowed"));
      FToken = jstEOF;
      return;
    case Expect::RootValue: {
      if (FInput.AtEnd()) {
        FToken = jstEOF;
        return;
      }
      // A lone null stands for "no object"; anything else must be a
      // structure.
      const QChar ch = FInput.Peek();
      if (ch != u'{' && ch != u'[' && ch != u'n')
        throw EObjectOrArrayExpected(QStringLiteral("Object or array expected as top-level value"));
      ScanValue(ch);
      return;
    }
    case Expect::Separator: {
      if (FInput.AtEnd()) ThrowUnterminated();
      const QChar ch = FInput.Next();
      const bool inObject = FScopes.back() == Scope::Object;
      if (ch == (inObject ? u'}' : u']')) {
        FToken = inObject ? jstEndObject : jstEndArray;
        return;
      }
      if (ch != u',') ThrowUnterminated();
      FExpect = inObject ? Expect::Name : Expect::Value;
      Scan();
      return;
    }
    case Expect::FirstName:
    case Expect::Name: {
      const QChar ch = NextOrEnd();
      if (FExpect == Expect::FirstName && ch == u'}') {
        FToken = jstEndObject;
        return;
      }
      if (ch != u'"') throw ENameExpected(QStringLiteral("Name expected"));
      ScanString(jstDoubleQuotedName);
      SkipWhiteSpace();
      if (NextOrEnd() != u':') throw EColonExpected(QStringLiteral("Colon expected"));
      return;
    }
    case Expect::FirstArrayValue:
    case Expect::Value: {
      if (FInput.AtEnd()) throwEndOfInput();
      const QChar ch = FInput.Peek();
      if (FExpect == Expect::FirstArrayValue && ch == u']') {
        FInput.Next();
        FToken = jstEndArray;
        return;
      }
      ScanValue(ch);
      return;
    }
  }
}

void TORVZYNDashJSONReader::ScanValue(QChar ch) {
  switch (ch.unicode()) {
    case u'{':
      FInput.Next();
      FToken = jstBeginObject;
      return;
    case u'[':
      FInput.Next();
      FToken = jstBeginArray;
      return;
    case u'"':
      FInput.Next();
      ScanString(jstDoubleQuoted);
      return;
    case u't': ScanWord("true", jstTrue); return;
    case u'f': ScanWord("false", jstFalse); return;
    case u'n': ScanWord("null", jstNull); return;
    default:
      if (ch == u'-' || isDigit(ch)) {
        ScanNumber();
        return;
      }
      throw EExpectedValue(QStringLiteral("Value expected but invalid character found"));
  }
}

void TORVZYNDashJSONReader::ScanWord(const char* AWord, TORVZYNDashJSONState AKind) {
  for (const char* p = AWord; *p; ++p) {
    if (NextOrEnd() != QLatin1Char(*p))
      throw EExpectedValue(QStringLiteral("Value expected but invalid character found"));
  }
  FToken = AKind;
}

void TORVZYNDashJSONReader::ScanNumber() {
  // A longer number ends after MaxNumberLength characters; the rest then
  // fails as the next token.
  FText.clear();
  while (FText.size() < MaxNumberLength && !FInput.AtEnd() && isNumberChar(FInput.Peek())) FText += FInput.Next();
  bool isInteger = false;
  if (!isValidNumber(FText, isInteger))
    throw EExpectedValue(QStringLiteral("Value expected but invalid character found"));
  bool fits = false;
  if (isInteger) FInt64 = FText.toLongLong(&fits);
  FToken = fits ? jstInt64 : jstNumber;
}

// The opening quote is already consumed. Escape positions are one-based
// within the string's text.
void TORVZYNDashJSONReader::ScanString(TORVZYNDashJSONState AKind) {
  FText.clear();
  bool escaped = false;
  qsizetype position = 0;
  auto escapeChar = [&] {
    if (FInput.AtEnd()) throw EInvalidStringEscape(QStringLiteral("Unexpected end of string"));
    ++position;
    return FInput.Next();
  };
  for (;;) {
    const QChar ch = NextOrEnd();
    ++position;
    if (ch == u'"') break;
    if (ch != u'\\') {
      FText += ch;
      continue;
    }
    escaped = true;
    const qsizetype backslashAt = position;
    auto invalidCode = [backslashAt] {
      return EInvalidStringEscape(QStringLiteral("Invalid code at position %1").arg(backslashAt));
    };
    const QChar code = escapeChar();
    switch (code.unicode()) {
      case u'"':
      case u'\\':
      case u'/': FText += code; break;
      case u'b': FText += u'\b'; break;
      case u'f': FText += u'\f'; break;
      case u'n': FText += u'\n'; break;
      case u'r': FText += u'\r'; break;
      case u't': FText += u'\t'; break;
      case u'u': {
        char16_t unit = 0;
        for (int k = 0; k < 4; ++k) {
          const int digit = hexValue(escapeChar());
          if (digit < 0) throw invalidCode();
          unit = static_cast<char16_t>(unit * 16 + digit);
        }
        FText += QChar(unit);
        break;
      }
      default: throw invalidCode();
    }
  }
  FToken = (AKind == jstDoubleQuoted && escaped) ? jstBuffered : AKind;
}

void TORVZYNDashJSONReader::Push(Scope AScope) {
  if (FScopes.size() >= MaxDepth)
    throw ETooManyDepthLevels(QStringLiteral("Maximum level of nested structured reached."));
  FScopes.push_back(AScope);
}

void TORVZYNDashJSONReader::Pop() { FScopes.pop_back(); }

void TORVZYNDashJSONReader::Consume() {
  switch (FToken) {
    case jstBeginObject:
      Push(Scope::Object);
      FExpect = Expect::FirstName;
      break;
    case jstBeginArray:
      Push(Scope::Array);
      FExpect = Expect::FirstArrayValue;
      break;
    case jstDoubleQuotedName: FExpect = Expect::Value; break;
    case jstEOF: return;  // the end stays the end
    case jstEndObject:
    case jstEndArray: Pop(); [[fallthrough]];
    default: FExpect = FScopes.empty() ? Expect::AfterRoot : Expect::Separator; break;
  }
  FToken = jstNone;
}

void TORVZYNDashJSONReader::Require(TORVZYNDashJSONState AState) {
  if (Peek() != AState) throw InvalidStateError(AState);
}

void TORVZYNDashJSONReader::ReadBeginObject() {
  Require(jstBeginObject);
  Consume();
}

void TORVZYNDashJSONReader::ReadEndObject() {
  Require(jstEndObject);
  Consume();
}

void TORVZYNDashJSONReader::ReadBeginArray() {
  Require(jstBeginArray);
  Consume();
}

void TORVZYNDashJSONReader::ReadEndArray() {
  Require(jstEndArray);
  Consume();
}

QString TORVZYNDashJSONReader::ReadName() {
  Require(jstDoubleQuotedName);
  Consume();
  return FText;
}

QString TORVZYNDashJSONReader::ReadString() {
  if (Peek() != jstBuffered) Require(jstDoubleQuoted);
  Consume();
  return FText;
}

qint64 TORVZYNDashJSONReader::ReadInt64() {
  Require(jstInt64);
  Consume();
  return FInt64;
}

QString TORVZYNDashJSONReader::ReadNumberText() {
  Require(jstNumber);
  Consume();
  return FText;
}

double TORVZYNDashJSONReader::ReadNumber() { return ReadNumberText().toDouble(); }

bool TORVZYNDashJSONReader::ReadBoolean() {
  if (Peek() != jstFalse) Require(jstTrue);
  const bool value = FToken == jstTrue;
  Consume();
  return value;
}

void TORVZYNDashJSONReader::ReadNull() {
  Require(jstNull);
  Consume();
}

void TORVZYNDashJSONReader::SkipValue() {
  int depth = 0;
  do {
    const TORVZYNDashJSONState token = Peek();
    if (token == jstEOF) throwEndOfInput();
    if (token == jstBeginObject || token == jstBeginArray)
      ++depth;
    else if (token == jstEndObject || token == jstEndArray)
      --depth;
    if (depth < 0 || (depth == 0 && token == jstDoubleQuotedName))
      throw EExpectedValue(QStringLiteral("Value expected but invalid character found"));
    Consume();
  } while (depth > 0);
}

}  // namespace orv
