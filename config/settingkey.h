#pragma once

#include <QString>
#include <QVariant>

#include <climits>

class QSettings;

// One key of the settings store: its name, the type of its value and what a reader gets when the
// key is absent. It converts to the key's name, so it can be handed to QSettings as it is:
//   Key::CloudInterval.read(QSettings()).toInt()      the stored value or the default
//   QSettings().setValue(Key::CloudSerial, serial)
class SettingKey
{
public:
    enum Type { Text, Number, Flag, Bytes };
    // Where the default comes from: the table, nowhere (absent stays invalid), or the running system.
    enum Source { Fixed, None, SystemLocale, HomeDirectory };

    static constexpr SettingKey text(const char *name, const char *fallback)
    {
        return SettingKey(name, Text, Fixed, fallback, 0);
    }
    static constexpr SettingKey number(const char *name, int fallback, int minimum = INT_MIN,
                                       int maximum = INT_MAX)
    {
        return SettingKey(name, Number, Fixed, nullptr, fallback, minimum, maximum);
    }
    static constexpr SettingKey flag(const char *name, bool fallback)
    {
        return SettingKey(name, Flag, Fixed, nullptr, fallback ? 1 : 0);
    }
    // A byte array whose default is empty.
    static constexpr SettingKey bytes(const char *name) { return SettingKey(name, Bytes, Fixed, nullptr, 0); }
    // A key without a default, or with one that the running system decides.
    static constexpr SettingKey text(const char *name, Source source)
    {
        return SettingKey(name, Text, source, nullptr, 0);
    }

    constexpr const char *name() const { return m_name; }
    constexpr Type type() const { return m_type; }
    constexpr int minimum() const { return m_minimum; }
    constexpr int maximum() const { return m_maximum; }
    QString key() const { return QLatin1String(m_name); }
    operator QString() const { return key(); }

    // The value of an absent key: typed as the key's values, invalid for a key without a default.
    QVariant defaultValue() const;
    // The stored value, or the default when the key is absent. Numbers are kept within the key's
    // bounds: every reader of a key sees the same value.
    QVariant read(const QSettings &settings) const;

    // The default of any key of the store by name, plug-in keys included (see Key::plugin); an
    // invalid variant for unknown keys and keys without a default.
    static QVariant defaultOf(const QString &name);

private:
    constexpr SettingKey(const char *name, Type type, Source source, const char *text, int number,
                         int minimum = INT_MIN, int maximum = INT_MAX)
        : m_name(name), m_type(type), m_source(source), m_text(text), m_number(number), m_minimum(minimum),
          m_maximum(maximum)
    {
    }

    const char *m_name;
    Type m_type;
    Source m_source;
    const char *m_text;
    int m_number;
    int m_minimum;
    int m_maximum;
};
