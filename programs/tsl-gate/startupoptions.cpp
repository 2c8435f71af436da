#include "startupoptions.h"

#include "settingskeys.h"

#include <QCommandLineParser>
#include <QLocale>
#include <QSettings>

namespace {

const QString ForceDark = QStringLiteral("force-dark");
const QString Reset = QStringLiteral("reset");
const QString Language = QStringLiteral("lang");

} // namespace

void StartupOptions::addTo(QCommandLineParser &parser) const
{
    parser.addHelpOption();
    parser.addVersionOption();
    parser.setApplicationDescription(tr("Tessel Cloud Gateway Application"));
    parser.addOption({ForceDark, tr("Force the application to use the dark theme.")});
    parser.addOption({{QStringLiteral("r"), Reset}, tr("Reset all settings.")});
    parser.addOption(
        {{QStringLiteral("l"), Language}, tr("Set langugage to <lang>."), QStringLiteral("lang")});
}

void StartupOptions::read(const QCommandLineParser &parser)
{
    m_forceDark = parser.isSet(ForceDark);
    m_reset = parser.isSet(Reset);
    m_languageSet = parser.isSet(Language);
    m_language = parser.value(Language);
}

void StartupOptions::applyTo(QSettings &settings) const
{
    const QString key = Key::UiLanguage.key();
    if (m_reset) {
        settings.clear();
        settings.setValue(key, defaultLanguage());
    } else if (m_languageSet) {
        settings.setValue(key, m_language);
    } else if (!settings.contains(key)) {
        settings.setValue(key, defaultLanguage());
    }
}

QString StartupOptions::defaultLanguage()
{
    return QLocale::system().name();
}
