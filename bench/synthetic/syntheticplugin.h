#pragma once

#include "abstractthingtype.h"

#include <QObject>

// Thing type "synthetic": a configurable number of things without hardware, for load tests of the
// core. The scan finds TSL_BENCH_SYNTHETIC_THINGS of them (1000 when unset), serials S0000 onwards.
class SyntheticPlugin : public QObject, public AbstractThingType
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID AbstractThingType_iid FILE "synthetic.json")
    Q_INTERFACES(AbstractThingType)

public:
    static constexpr int DefaultCount = 1000;
    static QString serialOf(int index) { return QStringLiteral("S%1").arg(index, 4, 10, QLatin1Char('0')); }

    QHash<QString, QVariant> scan() override;
    QAbstractThing *create(const QString &serial, const QVariant &id,
                           const QHash<QString, QVariant> &settings, QObject **thui) override;
    bool equals(const QString &serial, const QAbstractThing *thing) override;
};
