#include "cxsettings.h"

#include "devicepool.h"
#include "qsettingsstreamcheck.h"

#include <QDataStream>
#include <QHash>
#include <QIODevice>
#include <QJsonDocument>
#include <QVersionNumber>

namespace {
constexpr qint64 ReadChunk = 64 * 1024;
// Far above any real settings file; a larger section is not ours.
constexpr qint64 MaxSectionSize = 64 * 1024 * 1024;
} // namespace

CXSettings::CXSettings(QObject *parent) : QObject(parent)
{
    const QString current = QLatin1String(Deployment::Version);
    if (m_settings.value(Key::SystemVersion).toString() != current)
        m_settings.setValue(Key::SystemVersion, current);
}

CXSettings::~CXSettings() = default;

QVariant CXSettings::value(const QString &key, const QVariant &defaultValue) const
{
    return m_settings.value(key, defaultValue);
}

void CXSettings::setValue(const QString &key, const QVariant &value)
{
    m_settings.setValue(key, value);
}

bool CXSettings::contains(const QString &key) const
{
    return m_settings.contains(key);
}

void CXSettings::sync()
{
    m_settings.sync();
}

QVariant CXSettings::defaultValue(const QString &name)
{
    return SettingKey::defaultOf(name);
}

QVariant CXSettings::value(const SettingKey &key) const
{
    return key.read(m_settings);
}

void CXSettings::resetRegistration()
{
    m_settings.setValue(Key::CloudSerial, QString());
    DevicePool::clearRegistrations();
}

bool CXSettings::writeTo(QIODevice *out) const
{
    QDataStream stream(out);
    const QStringList keys = m_settings.allKeys();
    for (const QString &name : keys)
        stream << name << m_settings.value(name);
    return stream.status() == QDataStream::Ok;
}

int CXSettings::compareVersions(const QString &a, const QString &b, bool *ok)
{
    const QVersionNumber va = QVersionNumber::fromString(a.trimmed());
    const QVersionNumber vb = QVersionNumber::fromString(b.trimmed());
    if (ok)
        *ok = !va.isNull() && !vb.isNull();
    // Pad to the same length so that "0.2" and "0.2.0" compare equal.
    QVector<int> sa = va.segments();
    QVector<int> sb = vb.segments();
    const int length = qMax(sa.size(), sb.size());
    sa.resize(length);
    sb.resize(length);
    return QVersionNumber::compare(QVersionNumber(sa), QVersionNumber(sb));
}

bool CXSettings::restore(QIODevice *in, qint64 length, bool *writeFailed)
{
    if (writeFailed)
        *writeFailed = false;
    if (!in || !in->isReadable() || length < 0)
        return false;
    // Read what is really there, chunk by chunk: the declared length comes from the backup file and
    // must not decide how much memory is reserved.
    QByteArray section;
    while (section.size() < length) {
        const QByteArray chunk = in->read(qMin<qint64>(length - section.size(), ReadChunk));
        if (chunk.isEmpty())
            break;
        if (section.size() + chunk.size() > MaxSectionSize)
            return false;
        section += chunk;
    }
    QHash<QString, QVariant> pairs;
    if (!readSection(section, &pairs))
        return false;

    for (auto it = pairs.constBegin(); it != pairs.constEnd(); ++it) {
        if (!it.key().isEmpty())
            m_settings.setValue(it.key(), it.value());
    }
    m_settings.sync();
    if (m_settings.status() == QSettings::NoError)
        return true;
    if (writeFailed)
        *writeFailed = true;
    return false;
}

bool CXSettings::readSection(const QByteArray &section, QHash<QString, QVariant> *pairs)
{
    pairs->clear();
    if (!QSettingsStreamCheck::isWellFormed(section))
        return false;
    QDataStream stream(section);
    while (!stream.atEnd()) {
        QString name;
        QVariant value;
        stream >> name >> value;
        if (stream.status() != QDataStream::Ok)
            return false;
        pairs->insert(name, value);
    }
    const auto version = pairs->constFind(Key::SystemVersion);
    if (version == pairs->constEnd() || version.value().toString().trimmed().isEmpty())
        return false;
    // Only a newer version is refused; a version that is no number cannot be said to be newer.
    bool ok = false;
    const int order = compareVersions(version.value().toString(), QLatin1String(Deployment::Version), &ok);
    return !ok || order <= 0;
}
