#include "orv_reg/orv_reg.h"

#include "platform/registry_format.h"
#include "platform/registry_hive.h"

#include <optional>

namespace orv {

namespace {

const QString kNotFound = QStringLiteral("ERROR: The system was unable to find the specified registry key or value.");
const QString kDone = QStringLiteral("The operation completed successfully.");
const QString kSyntax = QStringLiteral("ERROR: Invalid syntax.\nType \"orv-reg /?\" for usage.");

// In the "Usage:"/"or:" form, which the manual page is made from.
const char kUsage[] =
    "Usage: orv-reg QUERY  KEY [/v NAME | /ve] [/s]\n"
    "   or: orv-reg ADD    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
    "   or: orv-reg DELETE KEY [/v NAME | /ve] [/f]\n"
    "   or: orv-reg EXPORT [KEY] FILE [/y]\n"
    "   or: orv-reg IMPORT FILE\n"
    "\n"
    "KEY is HKCU\\path or HKEY_CURRENT_USER\\path. The registry file is\n"
    "$ORV_REGISTRY_FILE, or orvsoftware/registry.reg in the configuration folder.\n";

// The command line after the command word. /f and /y are accepted for
// reg.exe compatibility; orv-reg never asks before overwriting.
struct Options {
  QStringList positional;
  std::optional<QString> valueName;  // /v NAME, or the empty name for /ve
  bool recursive = false;            // /s
  QString type = QStringLiteral("REG_SZ");
  QString data;
};

// Switches are the words below after '/'; anything else, such as an
// absolute file name, is an operand.
std::optional<Options> parseOptions(const QStringList& arguments) {
  Options options;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    const QString flag = argument.startsWith(QLatin1Char('/')) ? argument.mid(1).toLower() : QString();
    const bool takesOperand = flag == QLatin1String("v") || flag == QLatin1String("t") || flag == QLatin1String("d");
    if (takesOperand && i + 1 == arguments.size()) return std::nullopt;
    if (flag == QLatin1String("v") || flag == QLatin1String("ve")) {
      if (options.valueName) return std::nullopt;
      options.valueName = flag == QLatin1String("v") ? arguments[++i] : QString();
    } else if (flag == QLatin1String("t")) {
      options.type = arguments[++i].toUpper();
    } else if (flag == QLatin1String("d")) {
      options.data = arguments[++i];
    } else if (flag == QLatin1String("s")) {
      options.recursive = true;
    } else if (flag != QLatin1String("f") && flag != QLatin1String("y")) {
      options.positional.append(argument);
    }
  }
  return options;
}

// The path below HKEY_CURRENT_USER of "HKCU\..." or "HKEY_CURRENT_USER\...".
std::optional<QString> currentUserPath(const QString& key) {
  const qsizetype slash = key.indexOf(QLatin1Char('\\'));
  const QString root = key.left(slash < 0 ? key.size() : slash);
  if (root.compare(QLatin1String("HKCU"), Qt::CaseInsensitive) != 0 &&
      root.compare(QLatin1String("HKEY_CURRENT_USER"), Qt::CaseInsensitive) != 0)
    return std::nullopt;
  const QString path = slash < 0 ? QString() : key.mid(slash);
  if (!CurrentUserKeyPath(path)) return std::nullopt;
  return path;
}

QString typeName(quint32 type) {
  switch (type) {
    case kRegNone: return QStringLiteral("REG_NONE");
    case kRegSz: return QStringLiteral("REG_SZ");
    case kRegExpandSz: return QStringLiteral("REG_EXPAND_SZ");
    case kRegBinary: return QStringLiteral("REG_BINARY");
    case kRegDword: return QStringLiteral("REG_DWORD");
    case kRegMultiSz: return QStringLiteral("REG_MULTI_SZ");
    case kRegQword: return QStringLiteral("REG_QWORD");
    default: return QStringLiteral("REG_0x%1").arg(type, 0, 16);
  }
}

// The data as reg.exe shows it.
QString displayData(const RegistryValue& value) {
  if (value.type == kRegSz) return value.text;
  if (value.type == kRegDword) return QStringLiteral("0x%1").arg(value.number, 0, 16);
  const QByteArray bytes = RegistryHexBytes(value.raw).value_or(QByteArray());
  switch (value.type) {
    case kRegExpandSz: return RegistryUtf16Text(bytes);
    case kRegMultiSz: {
      QStringList parts;
      for (qsizetype at = 0; at + 1 < bytes.size();) {
        const QString part = RegistryUtf16Text(bytes.mid(at));
        if (part.isEmpty()) break;
        parts.append(part);
        at += (part.size() + 1) * 2;
      }
      return parts.join(QLatin1String("\\0"));
    }
    case kRegQword: {
      quint64 number = 0;
      for (qsizetype i = std::min<qsizetype>(bytes.size(), 8) - 1; i >= 0; --i) number = number << 8 | uchar(bytes[i]);
      return QStringLiteral("0x%1").arg(number, 0, 16);
    }
    default: return QString::fromLatin1(bytes.toHex().toUpper());
  }
}

class OrvReg {
public:
  OrvReg(const QString& hiveFile, std::FILE* out, std::FILE* err) : hive_(hiveFile), out_(out), err_(err) {}

  int run(const QStringList& arguments) {
    if (arguments.isEmpty()) return fail(kSyntax);
    const QString command = arguments.first().toLower();
    if (command == QLatin1String("/?") || command == QLatin1String("-?") || command == QLatin1String("-h") ||
        command == QLatin1String("--help")) {
      std::fputs(kUsage, out_);
      return 0;
    }
    const auto options = parseOptions(arguments.mid(1));
    if (!options) return fail(kSyntax);
    try {
      if (command == QLatin1String("query")) return query(*options);
      if (command == QLatin1String("add")) return add(*options);
      if (command == QLatin1String("delete")) return remove(*options);
      if (command == QLatin1String("export")) return exportFile(*options);
      if (command == QLatin1String("import")) return importFile(*options);
      return fail(kSyntax);
    } catch (const ERegistryException& error) {
      return fail(QStringLiteral("ERROR: ") + error.message());
    }
  }

private:
  int fail(const QString& message) {
    std::fputs((message + QLatin1Char('\n')).toUtf8().constData(), err_);
    return 1;
  }

  int done() {
    print(kDone + QLatin1Char('\n'));
    return 0;
  }

  void print(const QString& text) { std::fputs(text.toUtf8().constData(), out_); }

  void printValue(const RegistryValue& value) {
    const QString name = value.name.isEmpty() ? QStringLiteral("(Default)") : value.name;
    print(QStringLiteral("    %1    %2    %3\n").arg(name, typeName(value.type), displayData(value)));
  }

  // The path of the key argument; on a wrong one the error is written and
  // the result is empty.
  std::optional<QString> keyArgument(const Options& options, qsizetype count) {
    if (options.positional.size() != count) {
      fail(kSyntax);
      return std::nullopt;
    }
    const auto path = currentUserPath(options.positional.first());
    if (!path) fail(QStringLiteral("ERROR: Invalid key name."));
    return path;
  }

  int query(const Options& options) {
    const auto path = keyArgument(options, 1);
    if (!path) return 1;
    const RegistryTree tree = hive_.Load();
    const QStringList treePath = *CurrentUserKeyPath(*path);
    const RegistryTreeKey* key = tree.find(treePath);
    if (!key) return fail(kNotFound);
    const QString name = keyName(tree, treePath);
    if (options.recursive) {
      int matches = 0;
      queryTree(*key, name, options.valueName, matches);
      if (options.valueName) {
        if (matches == 0) return fail(kNotFound);
        print(QStringLiteral("End of search: %1 match(es) found.\n").arg(matches));
      }
      return 0;
    }
    if (options.valueName) {
      const RegistryValue* value = key->value(*options.valueName);
      if (!value) return fail(kNotFound);
      print(QLatin1Char('\n') + name + QLatin1Char('\n'));
      printValue(*value);
      print(QStringLiteral("\n"));
      return 0;
    }
    print(QLatin1Char('\n') + name + QLatin1Char('\n'));
    for (const RegistryValue& value : key->values()) printValue(value);
    print(QStringLiteral("\n"));
    for (const auto& subkey : key->subkeys()) print(name + QLatin1Char('\\') + subkey->name() + QLatin1Char('\n'));
    return 0;
  }

  // The key's full name as stored.
  static QString keyName(const RegistryTree& tree, const QStringList& treePath) {
    QStringList names;
    const RegistryTreeKey* key = &tree;
    for (const QString& name : treePath) {
      key = key->subkey(name);
      names.append(key->name());
    }
    return names.join(QLatin1Char('\\'));
  }

  void queryTree(const RegistryTreeKey& key, const QString& name, const std::optional<QString>& valueName,
                 int& matches) {
    if (valueName) {
      if (const RegistryValue* value = key.value(*valueName)) {
        print(name + QLatin1Char('\n'));
        printValue(*value);
        print(QStringLiteral("\n"));
        ++matches;
      }
    } else {
      print(name + QLatin1Char('\n'));
      for (const RegistryValue& value : key.values()) printValue(value);
      print(QStringLiteral("\n"));
    }
    for (const auto& subkey : key.subkeys())
      queryTree(*subkey, name + QLatin1Char('\\') + subkey->name(), valueName, matches);
  }

  int add(const Options& options) {
    const auto path = keyArgument(options, 1);
    if (!path) return 1;
    std::optional<quint32> number;
    if (options.type == QLatin1String("REG_DWORD")) {
      number = parseDword(options.data);
      if (!number) return fail(kSyntax);
    } else if (options.type != QLatin1String("REG_SZ")) {
      return fail(kSyntax);
    }
    const auto key = hive_.OpenKey(*path, true);
    if (!key) return fail(QStringLiteral("ERROR: Cannot write the registry file '%1'.").arg(hive_.FileName()));
    if (options.valueName) {
      if (number)
        key->WriteInteger(*options.valueName, static_cast<qint32>(*number));
      else
        key->WriteString(*options.valueName, options.data);
    }
    return done();
  }

  // Decimal, or hexadecimal after 0x; no data is 0.
  static std::optional<quint32> parseDword(const QString& data) {
    if (data.isEmpty()) return 0;
    bool ok = false;
    const qulonglong number = data.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                  ? data.mid(2).toULongLong(&ok, 16)
                                  : data.toULongLong(&ok, 10);
    if (!ok || number > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<quint32>(number);
  }

  int remove(const Options& options) {
    const auto path = keyArgument(options, 1);
    if (!path) return 1;
    if (!options.valueName) return hive_.DeleteKey(*path) ? done() : fail(kNotFound);
    const auto key = hive_.OpenKey(*path, false);
    return key && key->DeleteValue(*options.valueName) ? done() : fail(kNotFound);
  }

  int exportFile(const Options& options) {
    if (options.positional.size() == 1) {
      hive_.ExportTo(options.positional.first());
      return done();
    }
    const auto path = keyArgument(options, 2);
    if (!path) return 1;
    const QStringList treePath = *CurrentUserKeyPath(*path);
    if (!hive_.Load().find(treePath)) return fail(kNotFound);
    hive_.ExportTo(options.positional.last(), treePath);
    return done();
  }

  int importFile(const Options& options) {
    if (options.positional.size() != 1) return fail(kSyntax);
    hive_.ImportFrom(options.positional.first());
    return done();
  }

  RegistryHive hive_;
  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace

int RunOrvReg(const QStringList& arguments, const QString& hiveFile, std::FILE* out, std::FILE* err) {
  return OrvReg(hiveFile, out, err).run(arguments);
}

}  // namespace orv
