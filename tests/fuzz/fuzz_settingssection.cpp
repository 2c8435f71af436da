// A backup's settings section: what the pre-check accepts, QDataStream reads to the end with
// status Ok; what the settings store accepts is never from a newer version.

#include "cxsettings.h"
#include "deployment.h"
#include "fuzzsupport.h"
#include "qsettingsstreamcheck.h"
#include "settingskeys.h"

#include <QDataStream>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initApplication(argc, argv, "fuzz_settingssection");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray section = FuzzSupport::bytes(data, size);
    if (QSettingsStreamCheck::isWellFormed(section)) {
        QDataStream stream(section);
        while (!stream.atEnd()) {
            QString name;
            QVariant value;
            stream >> name >> value;
            FuzzSupport::require(stream.status() == QDataStream::Ok, "an accepted section does not read");
        }
    }
    QHash<QString, QVariant> pairs;
    if (CXSettings::readSection(section, &pairs)) {
        FuzzSupport::require(QSettingsStreamCheck::isWellFormed(section), "accepted without the check");
        bool ok = false;
        const int order = CXSettings::compareVersions(pairs.value(Key::SystemVersion.key()).toString(),
                                                      QLatin1String(Deployment::Version), &ok);
        FuzzSupport::require(!ok || order <= 0, "a newer version was accepted");
    }
    return 0;
}
