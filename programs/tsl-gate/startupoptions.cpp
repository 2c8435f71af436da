#include "startupoptions.h"

#include "settingskeys.h"

#include <QCommandLineParser>
#include <QLocale>
#include <QSettings>

namespace {

const QString ForceDark = QStringLiteral("force-dark");
const QString Reset = QStringLiteral("reset");
const QString Language = QStringLiteral("lang");

// Qt's own options of a widget program, as QGuiApplication, its X platform and QApplication read them.
const QStringList ToolkitValueOptions{"platform",
                                      "platformpluginpath",
                                      "platformtheme",
                                      "plugin",
                                      "qwindowgeometry",
                                      "qwindowicon",
                                      "qwindowtitle",
                                      "display",
                                      "geometry",
                                      "title",
                                      "name",
                                      "style",
                                      "stylesheet",
                                      "session",
                                      "visual",
                                      "im"};
const QStringList ToolkitFlags{"reverse", "nograb", "dograb", "sync", "widgetcount", "testability", "cmap"};

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

QStringList StartupOptions::withoutToolkitOptions(const QStringList &args)
{
    QStringList kept;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (i == 0 || !arg.startsWith(QLatin1Char('-'))) {
            kept.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            kept.append(args.mid(i));
            break;
        }
        const QString name =
            arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1).section(QLatin1Char('='), 0, 0);
        if (ToolkitFlags.contains(name) ||
            (ToolkitValueOptions.contains(name) && arg.contains(QLatin1Char('='))))
            continue;
        if (ToolkitValueOptions.contains(name)) {
            ++i; // its value
            continue;
        }
        kept.append(arg);
    }
    return kept;
}
