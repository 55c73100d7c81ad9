#pragma once

#include "platform/dialogs.h"
#include "platform/shell.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>

namespace orv {

// The component library's stateless helpers: URL encoding, message boxes,
// paths, read access to parsed JSON, splitting, byte-size text and
// diagnostic output.
class TORVZYNDashUtils {
public:
  TORVZYNDashUtils() = delete;

#ifdef Q_OS_WIN
  static constexpr QChar PathDelimiter = u'\\';
#else
  static constexpr QChar PathDelimiter = u'/';
#endif

  // Percent-encodes the UTF-8 bytes of AURL; only ASCII letters, digits,
  // '-', '.' and '_' stay as they are. Escapes use upper-case hex.
  static QString URLEncode(const QString& AURL);
  // Turns %XX escapes (upper-case hex only) into bytes and reads the bytes
  // as UTF-8. Malformed escapes are dropped, '+' stays '+', a character
  // above U+00FF that arrives unencoded keeps its UTF-8 bytes. With ATrim
  // every character below 33 is removed from both ends.
  static QString URLDecode(const QString& AURL, bool ATrim);

  // An information box with OK; returns the modal result (mrOk).
  static int Message(Dialogs& ADialogs, const QString& AMessage);
  // A box of the given kind and buttons; returns the pressed button's
  // modal result. The default button is mbYes; the Dialogs implementation
  // picks it, as the port carries no default-button argument.
  static int Message(Dialogs& ADialogs, const QString& AMessage, TMsgDlgType ADialogType, TMsgDlgButtons AButtons,
                     int AHelpContext);

  // AValue with PathDelimiter appended, unless it is empty or already ends
  // with one.
  static QString AddBackslash(const QString& AValue);
  // The temporary folder, ending with PathDelimiter; empty when unknown.
  static QString GetTempPath();
  // The documents folder, without a trailing delimiter; empty when unknown.
  static QString GetDocumentsPath();

  static void OpenURL(Shell& AShell, const QString& AURL);
  static void OpenFile(Shell& AShell, const QString& AFile);

  // The parsed tree, or none when AJSON is not valid JSON. Never raises.
  // Numbers are kept as the text they are written with, as string values:
  // the program reads them as text, and a number value would lose the
  // spelling (1.50, 1E3, -0, integers beyond 64 bits).
  static std::optional<nlohmann::ordered_json> ParseJSON(const QString& AJSON);
  // The member named exactly APropertyName of an object value; nullptr when
  // AJSONValue is null, not an object, or lacks the member. Points into the
  // caller's tree.
  static const nlohmann::ordered_json* GetJSONValue(const nlohmann::ordered_json* AJSONValue,
                                                    const QString& APropertyName);
  // The member's text: a string unquoted, "true"/"false", a number as
  // written in the parsed text (one built otherwise in the JSON library's
  // form); empty for objects, arrays, null and missing members.
  static QString GetJSONProp(const nlohmann::ordered_json* AJSONValue, const QString& APropertyName);
  // Number of elements of an array; 0 for anything else.
  static int GetJSONArraySize(const nlohmann::ordered_json* AJSONArray);
  // The element at the zero-based AIndex; nullptr when out of range or not
  // an array.
  static const nlohmann::ordered_json* GetJSONArrayItem(const nlohmann::ordered_json* AJSONArray, int AIndex);

  // Replaces AStrings with the pieces of AInput cut at every ADelimiter.
  // Empty pieces are kept (a trailing delimiter adds one) unless
  // AClearEmptyStrings; a piece starting with '"' is a quoted string in
  // which '""' stands for '"'.
  static void Split(QChar ADelimiter, const QString& AInput, QStringList& AStrings, bool AClearEmptyStrings);

  // "512 Bytes", "1.50 KB" ... "TB" with the locale's decimal separator;
  // empty for sizes not above -1 and for NaN or infinity. Sizes of 1024 TB
  // and more stay in TB.
  static QString FormatBytesAsString(double ASize);

  // Diagnostic output to the logging category "orv.debug" (debug level,
  // off unless enabled with QT_LOGGING_RULES="orv.debug.debug=true").
  static void Log(const QString& AMessage);
};

}  // namespace orv
