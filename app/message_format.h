// Filling a language text used as a format ("Processed %d of %d files").
#pragma once

#include <QString>
#include <QStringList>

namespace keltra {

// Replaces the conversions of `format` (%s, %d, %u, %c, %I64u, %I64d, %02d, ...) in order with
// `args`, already written as text; "%%" gives "%". A conversion without an argument gives an
// empty text and a "%" that starts no conversion stays as it is, so a language file's text can
// never make the program read what it was not given.
QString FormatMessage(const QString& format, const QStringList& args);

}  // namespace keltra
