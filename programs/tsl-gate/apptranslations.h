#pragma once

#include <QList>
#include <QString>

class QCoreApplication;
class QSettings;
class QTranslator;

// Installs the translations of the language stored under UI/Language: Qt's own from the system's
// translation folder, and the program's from a resource folder (":/lang/" holds cx-gate_ru.qm).
// A translation that is missing or fails to load is skipped: the program then runs in English.
class AppTranslations
{
public:
    // Appends every installed translator to `list`, which owns them until unload(). Without a
    // settings object the program's default settings are read.
    static void load(QList<QTranslator *> &list, QCoreApplication *app, QSettings *settings,
                     const QString &folder);
    // Removes the translators of `list` from the application and deletes them.
    static void unload(QList<QTranslator *> &list, QCoreApplication *app);

    // The file of the resource folder that translates the language's first "_"-separated part
    // (case-insensitively: "ru", "ru_RU" and "RU" give cx-gate_ru.qm); empty when there is none.
    static QString programFile(const QString &folder, const QString &language);
};
