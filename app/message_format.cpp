#include "app/message_format.h"

namespace keltra {

QString FormatMessage(const QString& format, const QStringList& args) {
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] != QLatin1Char('%') || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        if (format[i + 1] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        // Flags, width and the I64 size prefix, then the conversion letter.
        qsizetype j = i + 1;
        while (j < format.size() && QStringLiteral("-+ #0123456789.").contains(format[j])) ++j;
        if (format.mid(j, 3) == QLatin1String("I64")) j += 3;
        while (j < format.size() && QStringLiteral("hlqLjzt").contains(format[j])) ++j;
        if (j >= format.size() || !QStringLiteral("sSdiucxX").contains(format[j])) {
            out += format[i];
            continue;
        }
        QString arg = args.value(next++);
        // A zero-padded width ("%02d") pads numbers as the date wording needs.
        const QString sourceArg = format.mid(i + 1, j - i - 1);
        if (sourceArg.startsWith(QLatin1Char('0')) && sourceArg.size() > 1) {
            arg = arg.rightJustified(sourceArg.mid(1).toInt(), QLatin1Char('0'));
        }
        out += arg;
        i = j;
    }
    return out;
}

}  // namespace keltra
