#pragma once

#include <QString>
#include <QVariant>

namespace orv {

// A value the engine hands back from a script (null, boolean, number,
// string, binary, list or string-keyed map) as compact JSON text. Numbers
// that are whole and within 2^53 are written as integers, other finite
// numbers in their shortest exact form ("0.1", "1e-05", "1e+16"); NaN and
// the infinities, which JSON lacks, become null. Map members come in key
// order; binary data is read as UTF-8 text. Anything else is null.
QString VariantJson(const QVariant& AValue);

}  // namespace orv
