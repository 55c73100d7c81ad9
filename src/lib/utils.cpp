#include "lib/utils.h"

#include "platform/system_known_folders.h"

#include <QByteArray>
#include <QLocale>
#include <QLoggingCategory>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace orv {

namespace {

Q_LOGGING_CATEGORY(lcOrvDebug, "orv.debug", QtInfoMsg)

// Value of an upper-case hex digit, or -1. Lower-case digits are not
// escapes in the page's encoding.
int upperHexValue(QChar ch) {
  const char16_t c = ch.unicode();
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool isUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

QString trimmedBelow33(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin].unicode() < 33) ++begin;
  while (end > begin && text[end - 1].unicode() < 33) --end;
  return text.mid(begin, end - begin);
}

// Appends one piece of Split's input starting at pos and returns the
// position just after it (at a delimiter or the end).
qsizetype readPiece(QChar delimiter, const QString& input, qsizetype pos, QStringList& out) {
  const QChar quote = u'"';
  QString piece;
  if (input[pos] == quote) {
    ++pos;
    while (pos < input.size()) {
      if (input[pos] == quote) {
        if (pos + 1 < input.size() && input[pos + 1] == quote) {
          piece += quote;
          pos += 2;
          continue;
        }
        ++pos;  // closing quote; text after it starts the next piece
        break;
      }
      piece += input[pos++];
    }
  } else {
    const qsizetype start = pos;
    while (pos < input.size() && input[pos] != delimiter) ++pos;
    piece = input.mid(start, pos - start);
  }
  out.append(piece);
  return pos;
}

bool isJsonNumberChar(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The number tokens of a JSON text in document order. In valid JSON every
// token outside strings that starts with '-' or a digit is a number.
std::vector<std::string> jsonNumberTexts(const QByteArray& json) {
  std::vector<std::string> texts;
  for (qsizetype i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '"') {
      for (++i; i < json.size() && json[i] != '"'; ++i)
        if (json[i] == '\\') ++i;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      const qsizetype start = i;
      while (i + 1 < json.size() && isJsonNumberChar(json[i + 1])) ++i;
      texts.emplace_back(json.constData() + start, i + 1 - start);
    }
  }
  return texts;
}

}  // namespace

QString TORVZYNDashUtils::URLEncode(const QString& AURL) {
  static constexpr char hex[] = "0123456789ABCDEF";
  const QByteArray bytes = AURL.toUtf8();
  QString out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    if (isUnreserved(c)) {
      out += QLatin1Char(c);
    } else {
      const auto b = static_cast<unsigned char>(c);
      out += QLatin1Char('%');
      out += QLatin1Char(hex[b >> 4]);
      out += QLatin1Char(hex[b & 0xF]);
    }
  }
  return out;
}

QString TORVZYNDashUtils::URLDecode(const QString& AURL, bool ATrim) {
  if (AURL.isEmpty()) return {};
  QByteArray bytes;
  bytes.reserve(AURL.size());
  const qsizetype n = AURL.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar ch = AURL[i];
    if (ch == u'%' && i + 2 < n) {
      const int hi = upperHexValue(AURL[i + 1]);
      const int lo = upperHexValue(AURL[i + 2]);
      if (hi >= 0 && lo >= 0) bytes += static_cast<char>(hi * 16 + lo);
      i += 3;
    } else if (ch == u'%' && i + 2 >= n) {
      ++i;  // too short to be an escape: dropped, the rest is plain text
    } else if (ch.unicode() > 0xFF) {
      // Cutting such a character to its low byte would corrupt it; keep
      // it (with its partner when it is a surrogate pair) as UTF-8.
      const qsizetype len = (ch.isHighSurrogate() && i + 1 < n && AURL[i + 1].isLowSurrogate()) ? 2 : 1;
      bytes += AURL.mid(i, len).toUtf8();
      i += len;
    } else {
      bytes += static_cast<char>(ch.unicode());
      ++i;
    }
  }
  const QString text = QString::fromUtf8(bytes);
  return ATrim ? trimmedBelow33(text) : text;
}

int TORVZYNDashUtils::Message(Dialogs& ADialogs, const QString& AMessage) {
  return Message(ADialogs, AMessage, mtInformation, {mbOK}, 0);
}

int TORVZYNDashUtils::Message(Dialogs& ADialogs, const QString& AMessage, TMsgDlgType ADialogType,
                              TMsgDlgButtons AButtons, int AHelpContext) {
  return ADialogs.Message(AMessage, ADialogType, AButtons, AHelpContext);
}

QString TORVZYNDashUtils::AddBackslash(const QString& AValue) {
  if (AValue.isEmpty() || AValue.endsWith(PathDelimiter)) return AValue;
  return AValue + PathDelimiter;
}

QString TORVZYNDashUtils::GetTempPath() { return AddBackslash(SystemKnownFolders().Temp()); }

QString TORVZYNDashUtils::GetDocumentsPath() { return SystemKnownFolders().Documents(); }

void TORVZYNDashUtils::OpenURL(Shell& AShell, const QString& AURL) { AShell.OpenURL(AURL); }

void TORVZYNDashUtils::OpenFile(Shell& AShell, const QString& AFile) { AShell.OpenFile(AFile); }

std::optional<nlohmann::ordered_json> TORVZYNDashUtils::ParseJSON(const QString& AJSON) {
  using Json = nlohmann::ordered_json;
  const QByteArray utf8 = AJSON.toUtf8();
  // The parser hands numbers over as values only, so their texts are taken
  // from the input beforehand; numbers come to the callback in the same
  // order. A malformed text can run out of texts before it fails.
  const std::vector<std::string> numbers = jsonNumberTexts(utf8);
  std::size_t next = 0;
  const Json::parser_callback_t keepNumberText = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::value && parsed.is_number() && next < numbers.size()) parsed = numbers[next++];
    return true;
  };
  auto value = Json::parse(utf8.cbegin(), utf8.cend(), keepNumberText, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

const nlohmann::ordered_json* TORVZYNDashUtils::GetJSONValue(const nlohmann::ordered_json* AJSONValue,
                                                             const QString& APropertyName) {
  if (!AJSONValue || !AJSONValue->is_object()) return nullptr;
  const auto it = AJSONValue->find(APropertyName.toStdString());
  return it == AJSONValue->end() ? nullptr : &*it;
}

QString TORVZYNDashUtils::GetJSONProp(const nlohmann::ordered_json* AJSONValue, const QString& APropertyName) {
  const nlohmann::ordered_json* member = GetJSONValue(AJSONValue, APropertyName);
  if (!member) return {};
  if (member->is_string()) return QString::fromStdString(member->get_ref<const std::string&>());
  if (member->is_boolean()) return member->get<bool>() ? QStringLiteral("true") : QStringLiteral("false");
  if (member->is_number()) return QString::fromStdString(member->dump());
  return {};
}

int TORVZYNDashUtils::GetJSONArraySize(const nlohmann::ordered_json* AJSONArray) {
  if (!AJSONArray || !AJSONArray->is_array()) return 0;
  return static_cast<int>(AJSONArray->size());
}

const nlohmann::ordered_json* TORVZYNDashUtils::GetJSONArrayItem(const nlohmann::ordered_json* AJSONArray, int AIndex) {
  if (AIndex < 0 || AIndex >= GetJSONArraySize(AJSONArray)) return nullptr;
  return &(*AJSONArray)[static_cast<std::size_t>(AIndex)];
}

void TORVZYNDashUtils::Split(QChar ADelimiter, const QString& AInput, QStringList& AStrings, bool AClearEmptyStrings) {
  AStrings.clear();
  qsizetype pos = 0;
  while (pos < AInput.size()) {
    pos = readPiece(ADelimiter, AInput, pos, AStrings);
    if (pos < AInput.size() && AInput[pos] == ADelimiter) {
      ++pos;
      if (pos == AInput.size()) AStrings.append(QString());
    }
  }
  if (AClearEmptyStrings) AStrings.removeAll(QString());
}

QString TORVZYNDashUtils::FormatBytesAsString(double ASize) {
  static const std::array<QString, 5> units = {QStringLiteral("Bytes"), QStringLiteral("KB"), QStringLiteral("MB"),
                                               QStringLiteral("GB"), QStringLiteral("TB")};
  if (!(ASize > -1) || !std::isfinite(ASize)) return {};
  std::size_t n = 0;
  while (ASize >= 1024 && n + 1 < units.size()) {
    ASize /= 1024;
    ++n;
  }
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  const QString number = n == 0 ? locale.toString(ASize, 'g', 15) : locale.toString(ASize, 'f', 2);
  return number + QLatin1Char(' ') + units[n];
}

void TORVZYNDashUtils::Log(const QString& AMessage) { qCDebug(lcOrvDebug).noquote() << AMessage; }

}  // namespace orv
