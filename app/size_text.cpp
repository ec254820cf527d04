#include "app/size_text.h"

namespace keltra {

QString SizeText(uint64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit + 1 < static_cast<int>(std::size(kUnits))) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 2).arg(QLatin1String(kUnits[unit]));
}

}  // namespace keltra
