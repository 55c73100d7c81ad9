#pragma once

#include <QString>
#include <QStringList>

namespace orv {

// Splits a command line into program and arguments by the rules of the
// Windows C runtime, so that argument strings built for Windows reach the
// child unchanged:
// - arguments are separated by spaces and tabs outside double quotes;
// - a double quote starts or ends a quoted part and is removed; inside a
//   quoted part two double quotes stand for one literal double quote;
// - 2n backslashes before a double quote give n backslashes and the quote
//   acts as above; 2n+1 give n backslashes and a literal double quote;
//   backslashes anywhere else are literal;
// - the program name (first word) knows only quoted parts, no escapes, so
//   a quoted folder ending in a backslash keeps it.
QStringList SplitCommandLine(const QString& commandLine);

// The text as one quoted argument of such a command line: in double
// quotes, every double quote inside doubled. Backslashes that stand before
// a double quote (or before the closing one) are doubled as well, so that
// SplitCommandLine gives back exactly the text.
QString QuoteArgument(const QString& text);

}  // namespace orv
