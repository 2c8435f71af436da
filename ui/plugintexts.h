#pragma once

#include <QtGlobal>

// The texts the bundled plug-ins' schemas (plugins/*/*.json) show on the device types page, here for
// lupdate, which reads no JSON. DeviceConfigPage translates them under the plug-in's name; a text added
// to a schema belongs here too.
namespace PluginTexts {

inline const char *const Thx9[] = {
    QT_TRANSLATE_NOOP("thx9", "Temperature Unit"),
    QT_TRANSLATE_NOOP("thx9", "Celsius"),
    QT_TRANSLATE_NOOP("thx9", "Fahrenheit"),
    QT_TRANSLATE_NOOP("thx9", "Kelvin"),
};

inline const char *const Watchdog[] = {
    QT_TRANSLATE_NOOP("watchdog", "Send periodic keep-alive messages to the device"),
    QT_TRANSLATE_NOOP("watchdog", "Allow to be reset remotely"),
    QT_TRANSLATE_NOOP("watchdog", "Allow to be hard reset remotely"),
};

} // namespace PluginTexts
