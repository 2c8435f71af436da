#include "configbackup.h"

#include "cxsettings.h"
#include "gatewaything.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QtEndian>

namespace ConfigBackup {
namespace {

constexpr int HeaderSize = 8;
constexpr int EntrySize = 12;
// Far above any real configuration; keeps a hostile file from being read into memory whole.
constexpr qint64 MaxFileSize = 64 * 1024 * 1024;

QString message(const char *text, const QString &file = QString())
{
    const QString translated = QCoreApplication::translate("CxgatewRunner", text);
    return file.isNull() ? translated : translated.arg(QFileInfo(file).fileName());
}

void appendU32(QByteArray &out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char *>(&le), sizeof le);
}

quint32 u32At(const QByteArray &data, qint64 offset)
{
    return qFromLittleEndian<quint32>(data.constData() + offset);
}

bool settingsSectionValid(const QByteArray &data)
{
    QHash<QString, QVariant> pairs;
    return CXSettings::readSection(data, &pairs);
}

} // namespace

QString write(const QString &file, const GatewayThing *gateway)
{
    QByteArray cert, key;
    gateway->credentials(cert, key);

    QByteArray settingsStream;
    {
        QBuffer buffer(&settingsStream);
        buffer.open(QIODevice::WriteOnly);
        if (!CXSettings().writeTo(&buffer))
            return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot write to %1"), file);
    }

    QList<Section> sections{{SettingsTag, settingsStream}};
    if (!cert.isEmpty())
        sections.append({CertificateTag, cert});
    if (!key.isEmpty())
        sections.append({KeyTag, key});

    QByteArray out;
    appendU32(out, FormatVersion);
    appendU32(out, quint32(EntrySize * sections.size()));
    quint32 offset = quint32(HeaderSize + EntrySize * sections.size());
    for (const Section &section : qAsConst(sections)) {
        appendU32(out, section.tag);
        appendU32(out, offset);
        appendU32(out, quint32(section.data.size()));
        offset += quint32(section.data.size());
    }
    for (const Section &section : qAsConst(sections))
        out.append(section.data);

    // The file holds the private key in the clear: owner only, and never half written.
    QSaveFile saveFile(file);
    if (!saveFile.open(QIODevice::WriteOnly) ||
        !saveFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        saveFile.write(out) != out.size() || !saveFile.commit())
        return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot write to %1"), file);
    return QString();
}

QString read(const QString &file, QList<Section> *sections)
{
    sections->clear();
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot read %1"), file);
    const qint64 size = in.size();
    if (size <= 19 || size > MaxFileSize)
        return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot restore config from %1"), file);
    const QByteArray data = in.readAll();
    if (data.size() != size)
        return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot read %1"), file);

    if (u32At(data, 0) != FormatVersion)
        return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot restore config - wrong version"));
    const qint64 tableLength = u32At(data, 4);
    // A table without one whole entry names no section: there would be nothing to restore, and
    // calling that a success would hide a damaged file.
    if (tableLength < EntrySize || HeaderSize + tableLength >= size)
        return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot restore config from %1"), file);

    QList<Section> found;
    for (qint64 entry = HeaderSize; entry + EntrySize <= HeaderSize + tableLength; entry += EntrySize) {
        const quint32 tag = u32At(data, entry);
        const qint64 offset = u32At(data, entry + 4);
        const qint64 length = u32At(data, entry + 8);
        if (offset + length > size)
            return message(QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot read %1"), file);
        if (tag == SettingsTag || tag == CertificateTag || tag == KeyTag)
            found.append({tag, data.mid(int(offset), int(length))});
    }

    // Check every section before anything is applied.
    for (const Section &section : qAsConst(found)) {
        switch (section.tag) {
        case SettingsTag:
            if (!settingsSectionValid(section.data))
                return message(
                    QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot restore settings from %1 - invalid data"),
                    file);
            break;
        case CertificateTag:
            if (QSslCertificate(section.data, QSsl::Der).isNull())
                return message(
                    QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot restore credentials from %1 - invalid data"),
                    file);
            break;
        case KeyTag:
            if (QSslKey(section.data, QSsl::Rsa, QSsl::Der, QSsl::PrivateKey).isNull())
                return message(
                    QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot restore credentials from %1 - invalid data"),
                    file);
            break;
        }
    }
    *sections = found;
    return QString();
}

QString restore(const QString &file, GatewayThing *gateway, const std::function<void()> &beforeSettings)
{
    QList<Section> sections;
    QString error = read(file, &sections);
    // Every section was checked before this point; applying one can still fail on the disk.
    for (const Section &section : qAsConst(sections)) {
        if (!error.isEmpty())
            break;
        switch (section.tag) {
        case SettingsTag: {
            if (beforeSettings)
                beforeSettings();
            QBuffer buffer;
            buffer.setData(section.data);
            buffer.open(QIODevice::ReadOnly);
            bool writeFailed = false;
            if (!CXSettings().restore(&buffer, section.data.size(), &writeFailed))
                error =
                    writeFailed
                        ? message(
                              QT_TRANSLATE_NOOP(
                                  "CxgatewRunner",
                                  "Cannot restore settings from %1 - the settings file cannot be written"),
                              file)
                        : message(QT_TRANSLATE_NOOP("CxgatewRunner",
                                                    "Cannot restore settings from %1 - invalid data"),
                                  file);
            break;
        }
        case CertificateTag:
        case KeyTag: {
            const bool isCert = section.tag == CertificateTag;
            if (!gateway->setCredentials(isCert ? section.data : QByteArray(),
                                         isCert ? QByteArray() : section.data))
                error = message(
                    QT_TRANSLATE_NOOP("CxgatewRunner", "Cannot restore credentials from %1 - invalid data"),
                    file);
            break;
        }
        }
    }
    return error;
}

} // namespace ConfigBackup
