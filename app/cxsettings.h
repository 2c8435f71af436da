#pragma once

#include "settingskeys.h"

#include <QJsonObject>
#include <QObject>
#include <QSettings>
#include <QVariant>

class QIODevice;

// The gateway's settings store: one settings object of the application's organisation and name,
// opened at construction, plus the operations that touch several keys at once. Short-lived: make
// one where it is needed and let it go; nothing is cached between objects.
class CXSettings : public QObject
{
    Q_OBJECT

public:
    explicit CXSettings(QObject *parent = nullptr);
    ~CXSettings() override;

    QVariant value(const QString &key, const QVariant &defaultValue = QVariant()) const;
    // The stored value, or the key's default from the table when it is absent.
    QVariant value(const SettingKey &key) const;
    void setValue(const QString &key, const QVariant &value);
    bool contains(const QString &key) const;
    void sync();

    // Default of a key when it is absent from the store (an invalid variant for unknown keys and
    // for keys without a default, such as Updates/LastCheck).
    static QVariant defaultValue(const QString &key);

    // Writes every stored key and value as QString/QVariant pairs (a backup's settings section).
    bool writeTo(QIODevice *out) const;
    // Reads at most `length` bytes of QString/QVariant pairs from the device's current position and
    // stores them. A malformed section, one without System/Version or one written by a newer
    // version is refused with false, and then nothing is written. A section that is sound but cannot
    // be stored because the settings file cannot be written also gives false, and sets *writeFailed.
    bool restore(QIODevice *in, qint64 length, bool *writeFailed = nullptr);
    // Parses a whole settings section into pairs and checks it as restore() does, writing nothing.
    static bool readSection(const QByteArray &section, QHash<QString, QVariant> *pairs);

    // Numeric comparison of dotted version numbers, missing segments counting as 0: <0, 0, >0.
    // Texts that are no version number give an empty optional-like result: ok is set to false.
    static int compareVersions(const QString &a, const QString &b, bool *ok = nullptr);

public slots:
    // Forgets the cloud registration in the stored data: the gateway serial and every regid of the
    // pool (through DevicePool, on the runner's thread).
    void resetRegistration();

private:
    QSettings m_settings;
};
