#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class MainWindow;
}

class CXSettings;
class QAutoStarter;
class RunnerHost;

// The settings page of the main window (its form's page "settingsPage"): fills its controls from the
// settings store and writes them back with "Apply", "Revert" reloads them; backup and restore go to
// the runner.
class SettingsPage : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsPage(QWidget *parent = nullptr);

    // Binds the page to the window's form (whose controls below this page it works on), the runner
    // and the store; connects its buttons.
    void attach(Ui::MainWindow *form, RunnerHost *host, CXSettings *store, QAutoStarter *autostarter);

    // Every control from its key; the autostart box shows whether the autostart entry exists.
    void load();
    // Every control into its key, with the relaunch warnings for language and theme; the autostart
    // entry is created or removed to match the box.
    void save();

    // Index of the report-interval entry shown for a stored number of seconds: the first offered
    // interval not shorter than it, the longest one for anything above.
    static int intervalIndex(int seconds);
    static int intervalSeconds(int index);
    // Whether a stored language runs the program in Russian: "ru" and any "ru_..." locale name.
    static bool isRussian(const QString &language);
    // The backup file name for a chosen name: ".bak" appended unless it already ends so (any case).
    static QString backupFileName(const QString &chosen);

signals:
    // The settings were stored: timers that depend on them start anew.
    void applied();
    void statusMessage(const QString &text, int timeoutMs);

private slots:
    void on_settingsApplyButton_clicked();
    void on_settingsRevertButton_clicked();
    void on_settingsRestoreButton_clicked();
    void on_settingsBackupButton_clicked();

private:
    Ui::MainWindow *ui = nullptr;
    RunnerHost *m_host = nullptr;
    CXSettings *m_store = nullptr;
    QAutoStarter *m_autostarter = nullptr;
};
