#pragma once

#include "platform/registry.h"
#include "platform/registry_tree.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace orv {

// A registry export file that does not follow the export format; the
// message names the file and the line.
ORV_DECLARE_EXCEPTION(ERegistryFormatError, ERegistryException);

// One "[key]" section of an export file, in file order.
struct RegistryFileSection {
  struct Entry {
    QString name;
    std::optional<RegistryValue> value;  // nullopt for "name"=- (delete)
  };
  QStringList path;        // the root ("HKEY_CURRENT_USER", ...) first
  bool deleteKey = false;  // "[-key]"
  std::vector<Entry> entries;
};

// Reads the text of an export file ("Windows Registry Editor Version 5.00")
// in UTF-8, or in UTF-16LE with its byte-order mark. A text with nothing
// but blank lines holds nothing. Throws ERegistryFormatError naming source
// and the line at fault.
std::vector<RegistryFileSection> ParseRegistryFile(const QByteArray& bytes, const QString& source);

// Applies the sections in file order: keys are made, values set, and the
// "[-key]" and "name"=- forms delete.
void ApplyRegistryFile(const std::vector<RegistryFileSection>& sections, RegistryTree& tree);

// The tree as export-file text in UTF-8: one section for each key that has
// values or no subkeys, depth first in the tree's order.
QByteArray FormatRegistryFile(const RegistryTree& tree);

// The bytes of hex data as written after "hex:" or "hex(N):", continuation
// lines included; nullopt when the text is not such a byte list.
std::optional<QByteArray> RegistryHexBytes(const QString& raw);

// Text held as UTF-16LE bytes, up to the first NUL.
QString RegistryUtf16Text(const QByteArray& bytes);

}  // namespace orv
