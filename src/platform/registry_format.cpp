#include "platform/registry_format.h"

#include <QStringDecoder>

#include <array>

namespace orv {

namespace {

const QLatin1String kHeader("Windows Registry Editor Version 5.00");

constexpr std::array<QLatin1String, 5> kRoots{QLatin1String("HKEY_CLASSES_ROOT"), QLatin1String("HKEY_CURRENT_USER"),
                                              QLatin1String("HKEY_LOCAL_MACHINE"), QLatin1String("HKEY_USERS"),
                                              QLatin1String("HKEY_CURRENT_CONFIG")};

bool isBlank(QStringView text) { return text.trimmed().isEmpty(); }

QStringView trimmedRight(QStringView text) {
  qsizetype end = text.size();
  while (end > 0 && text[end - 1].isSpace()) --end;
  return text.first(end);
}

QStringView trimmedLeft(QStringView text) {
  qsizetype start = 0;
  while (start < text.size() && text[start].isSpace()) ++start;
  return text.sliced(start);
}

std::optional<quint32> parseHexNumber(QStringView digits) {
  if (digits.isEmpty() || digits.size() > 8) return std::nullopt;
  quint32 number = 0;
  for (const QChar c : digits) {
    const char16_t u = c.unicode();
    quint32 digit = 0;
    if (u >= u'0' && u <= u'9')
      digit = u - u'0';
    else if (u >= u'a' && u <= u'f')
      digit = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
      digit = u - u'A' + 10;
    else
      return std::nullopt;
    number = number * 16 + digit;
  }
  return number;
}

// UTF-16LE bytes as text unit by unit, and back; nothing is validated.
QString unitsFromBytes(const QByteArray& bytes) {
  QString text;
  for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
    text.append(QChar(char16_t(uchar(bytes[i]) | uchar(bytes[i + 1]) << 8)));
  return text;
}

QByteArray bytesFromUnits(const QString& text) {
  QByteArray bytes;
  for (const QChar c : text) {
    bytes.append(static_cast<char>(c.unicode() & 0xff));
    bytes.append(static_cast<char>(c.unicode() >> 8));
  }
  return bytes;
}

class Parser {
public:
  Parser(const QByteArray& bytes, const QString& source) : source_(source) { decode(bytes); }

  std::vector<RegistryFileSection> parse() {
    std::vector<RegistryFileSection> sections;
    size_t i = 0;
    while (i < lines_.size() && isBlank(lines_[i])) ++i;
    if (i == lines_.size()) return sections;
    if (trimmedRight(lines_[i]) != kHeader) fail(i, QStringLiteral("expected \"%1\"").arg(kHeader));
    for (++i; i < lines_.size(); ++i) {
      const QStringView line = trimmedLeft(lines_[i]);
      if (line.isEmpty() || line.startsWith(QLatin1Char(';'))) continue;
      if (line.startsWith(QLatin1Char('['))) {
        sections.push_back(parseSection(i, line));
      } else if (line.startsWith(QLatin1Char('@')) || line.startsWith(QLatin1Char('"'))) {
        if (sections.empty()) fail(i, QStringLiteral("value outside a key"));
        sections.back().entries.push_back(parseEntry(i, line));
      } else {
        fail(i, QStringLiteral("unexpected text"));
      }
    }
    return sections;
  }

private:
  [[noreturn]] void fail(size_t index, const QString& reason) const {
    throw ERegistryFormatError(
        QStringLiteral("Malformed registry file '%1', line %2: %3").arg(source_).arg(index + 1).arg(reason));
  }

  void decode(const QByteArray& bytes) {
    QString text;
    if (bytes.startsWith("\xFF\xFE")) {
      QStringDecoder decoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::ConvertInitialBom);
      text = decoder(QByteArrayView(bytes).sliced(2));
      splitLines(text);
      if (bytes.size() % 2 != 0 || decoder.hasError()) fail(lines_.size() - 1, QStringLiteral("invalid UTF-16 text"));
      // Unpaired surrogates would not survive the rewrite in UTF-8.
      for (size_t i = 0; i < lines_.size(); ++i) {
        if (!QStringView(lines_[i]).isValidUtf16()) fail(i, QStringLiteral("invalid UTF-16 text"));
      }
      return;
    }
    QByteArrayView body(bytes);
    if (body.startsWith("\xEF\xBB\xBF")) body = body.sliced(3);
    // Line by line, so that a wrong byte is reported with its line.
    qsizetype start = 0;
    while (start <= body.size()) {
      qsizetype end = body.indexOf('\n', start);
      if (end < 0) end = body.size();
      QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
      QString line = decoder(body.sliced(start, end - start));
      if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
      lines_.push_back(line);
      if (decoder.hasError()) fail(lines_.size() - 1, QStringLiteral("invalid UTF-8 text"));
      start = end + 1;
    }
  }

  void splitLines(const QString& text) {
    for (QString line : text.split(QLatin1Char('\n'))) {
      if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
      lines_.push_back(line);
    }
  }

  RegistryFileSection parseSection(size_t index, QStringView line) const {
    line = trimmedRight(line);
    if (!line.endsWith(QLatin1Char(']'))) fail(index, QStringLiteral("missing ']'"));
    QStringView inner = line.sliced(1, line.size() - 2);
    RegistryFileSection section;
    if (inner.startsWith(QLatin1Char('-'))) {
      section.deleteKey = true;
      inner = inner.sliced(1);
    }
    for (const QStringView name : inner.split(QLatin1Char('\\'))) {
      if (name.isEmpty()) fail(index, QStringLiteral("empty key name"));
      section.path.append(name.toString());
    }
    const auto root = std::find_if(kRoots.begin(), kRoots.end(), [&](QLatin1String known) {
      return section.path.first().compare(known, Qt::CaseInsensitive) == 0;
    });
    if (root == kRoots.end()) fail(index, QStringLiteral("unknown root key '%1'").arg(section.path.first()));
    section.path.first() = *root;
    return section;
  }

  // A quoted string starting at text[pos] == '"'; pos ends after the
  // closing quote.
  QString parseQuoted(size_t index, QStringView text, qsizetype& pos) const {
    QString result;
    for (++pos; pos < text.size(); ++pos) {
      const QChar c = text[pos];
      if (c == QLatin1Char('"')) {
        ++pos;
        return result;
      }
      if (c == QLatin1Char('\\')) {
        ++pos;
        if (pos == text.size() || (text[pos] != QLatin1Char('\\') && text[pos] != QLatin1Char('"')))
          fail(index, QStringLiteral("invalid escape in quoted text (write \\\\ for a backslash)"));
      }
      result.append(text[pos]);
    }
    fail(index, QStringLiteral("missing closing quote"));
  }

  // A value line; a hex value continued over several lines advances index.
  RegistryFileSection::Entry parseEntry(size_t& index, QStringView line) {
    RegistryFileSection::Entry entry;
    qsizetype pos = 1;
    if (line.startsWith(QLatin1Char('"'))) {
      pos = 0;
      entry.name = parseQuoted(index, line, pos);
    }
    QStringView rest = trimmedLeft(line.sliced(pos));
    if (!rest.startsWith(QLatin1Char('='))) fail(index, QStringLiteral("expected '=' after the value name"));
    const QStringView data = trimmedRight(trimmedLeft(rest.sliced(1)));

    if (data == QLatin1String("-")) return entry;
    if (data.startsWith(QLatin1Char('"'))) {
      qsizetype end = 0;
      RegistryValue value = RegistryValue::String(entry.name, parseQuoted(index, data, end));
      if (end != data.size()) fail(index, QStringLiteral("unexpected text after the closing quote"));
      entry.value = std::move(value);
      return entry;
    }
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
      const auto number = parseHexNumber(data.sliced(6));
      if (!number) fail(index, QStringLiteral("a dword needs one to eight hex digits"));
      entry.value = RegistryValue::Dword(entry.name, *number);
      return entry;
    }
    if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
      entry.value = parseHex(index, entry.name, data);
      return entry;
    }
    fail(index, QStringLiteral("unknown value data"));
  }

  RegistryValue parseHex(size_t& index, const QString& name, QStringView data) {
    const size_t first = index;
    quint32 type = kRegBinary;
    const qsizetype colon = data.indexOf(QLatin1Char(':'));
    const QStringView prefix = data.first(colon < 0 ? 0 : colon);
    if (prefix.compare(QLatin1String("hex"), Qt::CaseInsensitive) != 0) {
      std::optional<quint32> number;
      if (prefix.size() > 5 && prefix[3] == QLatin1Char('(') && prefix.endsWith(QLatin1Char(')')))
        number = parseHexNumber(prefix.sliced(4, prefix.size() - 5));
      if (!number) fail(index, QStringLiteral("expected hex: or hex(type):"));
      type = *number;
    }
    QString raw = data.toString();
    while (raw.endsWith(QLatin1Char('\\'))) {
      if (++index == lines_.size()) fail(index - 1, QStringLiteral("continuation line missing"));
      raw += QLatin1Char('\n') + trimmedRight(lines_[index]);
    }
    const auto bytes = RegistryHexBytes(raw);
    if (!bytes) fail(first, QStringLiteral("invalid hex data"));
    if (type == kRegSz) {
      if (bytes->size() % 2 != 0) fail(first, QStringLiteral("odd number of bytes in a string"));
      // The text is kept whole, NULs inside included; only the terminator goes.
      QString text = unitsFromBytes(*bytes);
      if (text.endsWith(QChar(u'\0'))) text.chop(1);
      return RegistryValue::String(name, text);
    }
    if (type == kRegDword && bytes->size() == 4) {
      const auto* b = reinterpret_cast<const uchar*>(bytes->constData());
      return RegistryValue::Dword(name, quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24);
    }
    RegistryValue value;
    value.name = name;
    value.type = type;
    value.raw = raw;
    return value;
  }

  QString source_;
  std::vector<QString> lines_;
};

QString quoted(const QString& text) {
  QString result = QStringLiteral("\"");
  for (const QChar c : text) {
    if (c == QLatin1Char('\\') || c == QLatin1Char('"')) result += QLatin1Char('\\');
    result += c;
  }
  return result + QLatin1Char('"');
}

QString hexList(const QByteArray& bytes) {
  QStringList parts;
  for (const char byte : bytes) parts.append(QStringLiteral("%1").arg(uchar(byte), 2, 16, QLatin1Char('0')));
  return parts.join(QLatin1Char(','));
}

QString formatData(const RegistryValue& value) {
  switch (value.type) {
    case kRegSz:
      // Text that cannot stand inside quotes goes as bytes.
      if (!IsStorableName(value.text)) {
        return QStringLiteral("hex(1):") + hexList(bytesFromUnits(value.text) + QByteArray(2, '\0'));
      }
      return quoted(value.text);
    case kRegDword: return QStringLiteral("dword:%1").arg(value.number, 8, 16, QLatin1Char('0'));
    default: return value.raw;
  }
}

void formatKey(const RegistryTreeKey& key, const QString& path, QString& out) {
  if (!key.values().empty() || key.subkeys().empty()) {
    out += QLatin1Char('[') + path + QLatin1String("]\n");
    for (const RegistryValue& value : key.values()) {
      out += (value.name.isEmpty() ? QStringLiteral("@") : quoted(value.name)) + QLatin1Char('=') + formatData(value) +
             QLatin1Char('\n');
    }
    out += QLatin1Char('\n');
  }
  for (const auto& subkey : key.subkeys()) formatKey(*subkey, path + QLatin1Char('\\') + subkey->name(), out);
}

}  // namespace

std::vector<RegistryFileSection> ParseRegistryFile(const QByteArray& bytes, const QString& source) {
  return Parser(bytes, source).parse();
}

void ApplyRegistryFile(const std::vector<RegistryFileSection>& sections, RegistryTree& tree) {
  for (const RegistryFileSection& section : sections) {
    if (section.deleteKey) {
      tree.remove(section.path);
      continue;
    }
    RegistryTreeKey& key = tree.make(section.path);
    for (const RegistryFileSection::Entry& entry : section.entries) {
      if (entry.value)
        key.setValue(*entry.value);
      else
        key.removeValue(entry.name);
    }
  }
}

QByteArray FormatRegistryFile(const RegistryTree& tree) {
  QString out = kHeader + QLatin1String("\n\n");
  for (const auto& root : tree.subkeys()) formatKey(*root, root->name(), out);
  return out.toUtf8();
}

std::optional<QByteArray> RegistryHexBytes(const QString& raw) {
  const qsizetype colon = raw.indexOf(QLatin1Char(':'));
  if (colon < 0) return std::nullopt;
  QString list;
  const QStringList lines = raw.sliced(colon + 1).split(QLatin1Char('\n'));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QString line = lines[i].trimmed();
    if (i + 1 < lines.size()) {
      if (!line.endsWith(QLatin1Char('\\'))) return std::nullopt;
      line.chop(1);
    }
    list += line;
  }
  list.remove(QLatin1Char(' '));
  list.remove(QLatin1Char('\t'));
  QByteArray bytes;
  if (list.isEmpty()) return bytes;
  for (const QStringView part : QStringView(list).split(QLatin1Char(','))) {
    const auto number = part.size() <= 2 ? parseHexNumber(part) : std::nullopt;
    if (!number) return std::nullopt;
    bytes.append(static_cast<char>(*number));
  }
  return bytes;
}

QString RegistryUtf16Text(const QByteArray& bytes) {
  const QString text = unitsFromBytes(bytes);
  return text.left(text.indexOf(QChar(u'\0')));
}

}  // namespace orv
