#include "settingkey.h"

#include "settingskeys.h"

#include <QDir>
#include <QLocale>
#include <QSettings>

QVariant SettingKey::defaultValue() const
{
    switch (m_source) {
    case None:
        return QVariant();
    case SystemLocale:
        return QLocale::system().name();
    case HomeDirectory:
        return QDir::homePath();
    case Fixed:
        break;
    }
    switch (m_type) {
    case Text:
        return QString::fromLatin1(m_text);
    case Number:
        return m_number;
    case Flag:
        return m_number != 0;
    case Bytes:
        return QByteArray();
    }
    return QVariant();
}

QVariant SettingKey::read(const QSettings &settings) const
{
    const QVariant value = settings.value(key(), defaultValue());
    if (m_type != Number || !value.isValid())
        return value;
    // A number outside the table's bounds reads as the nearest bound; one that is no number at all
    // reads as the default.
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok)
        return defaultValue();
    return int(qBound<qlonglong>(m_minimum, number, m_maximum));
}

QVariant SettingKey::defaultOf(const QString &name)
{
    for (const SettingKey *entry : Key::All) {
        if (name == QLatin1String(entry->name()))
            return entry->defaultValue();
    }
    const QStringList parts = name.split(QLatin1Char('/'));
    if (parts.size() == 3 && parts.at(0) == QLatin1String(Key::PluginsGroup) &&
        parts.at(2) == QLatin1String(Key::PluginEnabled))
        return Key::PluginEnabledByDefault;
    return QVariant();
}
