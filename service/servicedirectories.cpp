#include "servicedirectories.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

// The manager passes one path per directory of the setting, separated by colons: the first is ours.
QString firstDirectory(const char *variable)
{
    return qEnvironmentVariable(variable).section(QLatin1Char(':'), 0, 0);
}

} // namespace

bool ServiceDirectories::apply()
{
    m_state = firstDirectory("STATE_DIRECTORY");
    m_configuration = firstDirectory("CONFIGURATION_DIRECTORY");
    if (!m_state.isEmpty()) {
        const QFileInfo info(m_state);
        if (!info.isDir() || !info.isWritable()) {
            m_error =
                QStringLiteral("the state directory %1 is not a directory this user may write").arg(m_state);
            return false;
        }
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_state);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_state);
        // QStandardPaths' data locations, where the credential store puts its directory.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_state));
    }
    if (!m_configuration.isEmpty()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_configuration);
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, m_configuration);
    }
    return true;
}
