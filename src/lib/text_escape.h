#pragma once

#include <QString>

namespace orv {

// Escapes text for the inside of a JSON string (no surrounding quotes):
// quote, backslash and control characters; everything else stays as is.
QString JsonEscape(const QString& text);

// The text as a complete JSON string, with its quotes.
QString JsonQuote(const QString& text);

// The text as a complete single-quoted JavaScript string literal that is
// also safe inside an HTML script block (escapes '</' and the line
// separators U+2028/U+2029).
QString JsStringLiteral(const QString& text);

}  // namespace orv
