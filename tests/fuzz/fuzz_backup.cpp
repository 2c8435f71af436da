// The backup file import: layout, section table and every section's content, read from a file as
// the runner does. An accepted file yields only known sections, each of which passes its check.

#include "configbackup.h"
#include "cxsettings.h"
#include "fuzzsupport.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_backup");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = FuzzSupport::scratchPath(QStringLiteral("input.bak"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            FuzzSupport::fail("cannot write the input file");
    }
    QList<ConfigBackup::Section> sections;
    const QString message = ConfigBackup::read(path, &sections);
    FuzzSupport::require(message.isEmpty() || sections.isEmpty(), "a refused file returned sections");
    for (const ConfigBackup::Section &section : qAsConst(sections)) {
        QHash<QString, QVariant> pairs;
        switch (section.tag) {
        case ConfigBackup::SettingsTag:
            FuzzSupport::require(CXSettings::readSection(section.data, &pairs), "accepted bad settings");
            break;
        case ConfigBackup::CertificateTag:
            FuzzSupport::require(!QSslCertificate(section.data, QSsl::Der).isNull(),
                                 "accepted a bad certificate");
            break;
        case ConfigBackup::KeyTag:
            FuzzSupport::require(!QSslKey(section.data, QSsl::Rsa, QSsl::Der, QSsl::PrivateKey).isNull(),
                                 "accepted a bad key");
            break;
        default:
            FuzzSupport::fail("an unknown section was returned");
        }
    }
    return 0;
}
