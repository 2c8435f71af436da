#pragma once

#include <QCoreApplication>
#include <QString>

namespace Ui {
class MainWindow;
}

class CXSettings;
class QAutoStarter;
class QWidget;

// The settings page of the main window: fills its controls from the settings store and writes them
// back. Works on the form's controls only; the window owns the page and the store.
class SettingsPage
{
    Q_DECLARE_TR_FUNCTIONS(SettingsPage)

public:
    explicit SettingsPage(Ui::MainWindow *ui) : ui(ui) {}

    // Every control from its key; the autostart box shows whether the autostart entry exists.
    void load(const CXSettings &store, QAutoStarter *autostarter) const;
    // Every control into its key, with the relaunch warnings for language and theme (boxes parented
    // to `parent`); the autostart entry is created or removed to match the box.
    void save(CXSettings &store, QAutoStarter *autostarter, QWidget *parent) const;

    // Index of the report-interval entry shown for a stored number of seconds: the first offered
    // interval not shorter than it, the longest one for anything above.
    static int intervalIndex(int seconds);
    static int intervalSeconds(int index);
    // Whether a stored language runs the program in Russian: "ru" and any "ru_..." locale name.
    static bool isRussian(const QString &language);
    // The backup file name for a chosen name: ".bak" appended unless it already ends so (any case).
    static QString backupFileName(const QString &chosen);

private:
    Ui::MainWindow *ui;
};
