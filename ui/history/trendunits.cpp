#include "trendunits.h"

#include <QSettings>

namespace TrendUnits {

QString unitOf(const QString &thing, const QString &field)
{
    if (!thing.startsWith(QLatin1String("thx9_")) || field != QLatin1String("t"))
        return QString();
    const QString unit = QSettings()
                             .value(QStringLiteral("Plugins/thx9/unit"), QStringLiteral("Celsius"))
                             .toString()
                             .toLower();
    if (unit == QLatin1String("fahrenheit"))
        return QStringLiteral("°F");
    if (unit == QLatin1String("kelvin"))
        return QStringLiteral("K");
    return QStringLiteral("°C");
}

QString label(const QString &field, const QString &unit)
{
    return unit.isEmpty() ? field : field + QLatin1String(", ") + unit;
}

} // namespace TrendUnits
