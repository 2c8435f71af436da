#include "syntheticplugin.h"

#include "syntheticthing.h"

QHash<QString, QVariant> SyntheticPlugin::scan()
{
    bool ok = false;
    int count = qEnvironmentVariableIntValue("TSL_BENCH_SYNTHETIC_THINGS", &ok);
    if (!ok || count < 0)
        count = DefaultCount;
    QHash<QString, QVariant> found;
    found.reserve(count);
    for (int i = 0; i < count; ++i)
        found.insert(serialOf(i), i);
    return found;
}

QAbstractThing *SyntheticPlugin::create(const QString &serial, const QVariant &id,
                                        const QHash<QString, QVariant> &settings, QObject **thui)
{
    Q_UNUSED(id)
    if (thui)
        *thui = nullptr;
    if (serial.isEmpty())
        return nullptr;
    auto *thing = new SyntheticThing(serial);
    thing->applyTypeSettings(settings);
    return thing;
}

bool SyntheticPlugin::equals(const QString &serial, const QAbstractThing *thing)
{
    return thing && thing->type() == SyntheticThing::TypeName &&
           thing->version() == SyntheticThing::TypeVersion && thing->serial() == serial;
}
