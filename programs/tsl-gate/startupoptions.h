#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

class QCommandLineParser;
class QSettings;

// The program's command line and what it does to the settings before anything else reads them:
// --force-dark, -r/--reset and -l/--lang <lang>, besides help and version.
class StartupOptions
{
    Q_DECLARE_TR_FUNCTIONS(StartupOptions)

public:
    // Registers help, version, the description and the program's options, in that order.
    void addTo(QCommandLineParser &parser) const;
    // Takes the options' values from a parser that has processed the arguments.
    void read(const QCommandLineParser &parser);

    bool forceDark() const { return m_forceDark; }
    bool reset() const { return m_reset; }
    bool languageSet() const { return m_languageSet; }
    QString language() const { return m_language; }

    // Reset clears the store and stores the default language (a language option is then ignored);
    // otherwise a language option is stored; otherwise a store without a language gets the default.
    void applyTo(QSettings &settings) const;

    // The arguments without the toolkit's own options (-platform, -style, -display...), which the
    // window's application object takes away once it exists.
    static QStringList withoutToolkitOptions(const QStringList &args);

    // The system locale's name, e.g. "ru_RU" on a Russian system.
    static QString defaultLanguage();

private:
    bool m_forceDark = false;
    bool m_reset = false;
    bool m_languageSet = false;
    QString m_language;
};
