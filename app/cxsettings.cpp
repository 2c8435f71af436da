#include "cxsettings.h"

#include "qsettingsstreamcheck.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QVersionNumber>

namespace {
constexpr qint64 ReadChunk = 64 * 1024;
// Far above any real settings file; a larger section is not ours.
constexpr qint64 MaxSectionSize = 64 * 1024 * 1024;

QString key(const char *name)
{
    return QLatin1String(name);
}
} // namespace

CXSettings::CXSettings(QObject *parent) : QObject(parent)
{
    const QString current = QLatin1String(Deployment::Version);
    if (m_settings.value(key(Key::SystemVersion)).toString() != current)
        m_settings.setValue(key(Key::SystemVersion), current);
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
    static const QHash<QString, QVariant> fixed = {
        {key(Key::CloudHost), QString::fromLatin1(Default::CloudHost)},
        {key(Key::CloudPort), Default::CloudPort},
        {key(Key::CloudInterval), Default::CloudInterval},
        {key(Key::CloudKeepAlive), Default::CloudKeepAlive},
        {key(Key::CloudSerial), QString::fromLatin1(Default::CloudSerial)},
        {key(Key::UiDark), Default::UiDarkPage},
        {key(Key::UiState), QByteArray()},
        {key(Key::UiGeom), QByteArray()},
        {key(Key::SystemWindow), QByteArray()},
        {key(Key::SystemState), QByteArray()},
        {key(Key::SystemAutoScan), Default::SystemAutoScan},
        {key(Key::SystemScanInterval), Default::SystemScanInterval},
        {key(Key::SystemCloseToTray), Default::SystemCloseToTray},
        {key(Key::SystemStartHidden), Default::SystemStartHidden},
        {key(Key::SystemAutostart), Default::SystemAutostart},
        {key(Key::SystemVersion), QString::fromLatin1(Default::SystemVersion)},
        {key(Key::DevicesPool), QString::fromLatin1(Default::DevicesPool)},
        {key(Key::WebCloud), QString::fromLatin1(Default::WebCloud)},
        {key(Key::WebRegPage), QString::fromLatin1(Default::WebRegPage)},
        {key(Key::WebRegEndpoint), QString::fromLatin1(Default::WebRegEndpoint)},
        {key(Key::WebUpdateUrl), QString::fromLatin1(Default::WebUpdateUrl)},
        {key(Key::UpdatesInterval), Default::UpdatesInterval},
        {key(Key::UpdatesAuto), Default::UpdatesAuto},
    };
    const auto it = fixed.constFind(name);
    if (it != fixed.constEnd())
        return it.value();
    if (name == key(Key::UiLanguage))
        return QLocale::system().name();
    if (name == key(Key::SystemExportDirectory))
        return QDir::homePath();
    const QStringList parts = name.split(QLatin1Char('/'));
    if (parts.size() == 3 && parts.at(0) == key(Key::PluginsGroup) && parts.at(2) == key(Key::PluginEnabled))
        return Default::PluginEnabled;
    return QVariant();
}

QJsonObject CXSettings::pool() const
{
    const QString text =
        m_settings.value(key(Key::DevicesPool), QString::fromLatin1(Default::DevicesPool)).toString();
    return QJsonDocument::fromJson(text.toLatin1()).object();
}

void CXSettings::setPool(const QJsonObject &doc)
{
    const QByteArray json = QJsonDocument(doc).toJson(QJsonDocument::Compact);
    m_settings.setValue(key(Key::DevicesPool), QString::fromLatin1(json));
}

void CXSettings::resetRegistration()
{
    QJsonObject doc = pool();
    QJsonArray devices = doc.value(QLatin1String("devices")).toArray();
    for (int i = 0; i < devices.size(); ++i) {
        if (!devices.at(i).isObject())
            continue;
        QJsonObject entry = devices.at(i).toObject();
        entry.insert(QLatin1String("regid"), QString());
        devices.replace(i, entry);
    }
    doc.insert(QLatin1String("devices"), devices);
    doc.insert(QLatin1String("updated"),
               QDateTime::currentDateTime().toString(QLatin1String(Default::PoolUpdatedFormat)));
    m_settings.setValue(key(Key::CloudSerial), QString());
    setPool(doc);
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
    const auto version = pairs->constFind(key(Key::SystemVersion));
    if (version == pairs->constEnd() || version.value().toString().trimmed().isEmpty())
        return false;
    // Only a newer version is refused; a version that is no number cannot be said to be newer.
    bool ok = false;
    const int order = compareVersions(version.value().toString(), QLatin1String(Deployment::Version), &ok);
    return !ok || order <= 0;
}
