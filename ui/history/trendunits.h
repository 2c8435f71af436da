#pragma once

#include <QString>

// The unit of a thing's field where the program knows it: the THX-9 sensor's "t" is in the unit its
// plug-in's setting "unit" chose (Plugins/thx9/unit: Celsius, Fahrenheit or Kelvin). Empty when
// unknown. The history keeps numbers without units: a value recorded before the setting changed is
// shown in the unit set now.
namespace TrendUnits {

QString unitOf(const QString &thing, const QString &field);
// "t, °C" or "t".
QString label(const QString &field, const QString &unit);

} // namespace TrendUnits
