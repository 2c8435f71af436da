#pragma once

#include "deviceconfigpage.h"
#include "outbox.h"
#include "thingstate.h"

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVariant>

namespace Ui {
class MainWindow;
}

class CXSettings;
class PMUpdater;
class QAutoStarter;
class QLedLabel;
class RegistrationWizard;
class RunnerHost;
class ThingsStateTableModel;

// The gateway's only top-level window: navigation, the five pages, the cloud indicator, the tray
// icon, the start-up splash and the About and update dialogs. It owns the runner (through its host,
// which owns the worker thread) and never does device or network work itself: every request is a
// queued invocation on the runner, every answer one finished(op, result).
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum Actions { A_RESCAN, A_EXIT, A_VSWITCH, A_ABOUT, A_HIDE, A_UPDCHK };
    Q_ENUM(Actions)
    enum Pages { P_STATE, P_SETTINGS, P_DEVICES, P_CLOUD, P_REGISTRY };
    Q_ENUM(Pages)
    enum RegSteps { R_SERIAL, R_CONN, R_CODE, R_FIN };
    Q_ENUM(RegSteps)

    // Intervals of the window's own timers, shortened by tests.
    struct Timings
    {
        int rescanDelayMs = 20000;
        int autoRescanFloorMs = 30000;
        int scanIntervalUnitMs = 60000; // System/ScanInterval counts minutes
        int updateTimeoutMs = 3000;
        int trayRetryStepMs = 5000;
    };

    // programDir: where the runner looks for ../plugins and ../lib; empty for the running program's.
    explicit MainWindow(QWidget *parent = nullptr, const QString &programDir = QString());
    ~MainWindow() override;

    // Geometry and tool bar state kept in System/Window and System/State; called by the entry point
    // before runInitSequence. The navigation bar is always made visible again.
    void restoreSystemLayout();

    // Timer intervals for windows constructed from now on (tests shorten them).
    static void setDefaultTimings(const Timings &timings);
    static Timings defaultTimings();
    RunnerHost *runnerHost() const { return m_host; }
    QSystemTrayIcon *trayIcon() const { return m_tray; }

signals:
    void loadProgress(int total, int completed, QString statusMsg);
    void loadFinished(bool res);

public slots:
    // Start-up with the splash: plug-ins, devices, dashboard, cloud, status. On failure the
    // application is asked to exit with code 1 and the window stays hidden.
    void runInitSequence();
    void checkUpdate();
    void prepareSleep();
    void postWake();
    void dockClicked();
    // A message from a second instance of the program: "show" shows and raises the window.
    void instanceMessage(const QString &msg);

private slots:
    void runner_finished(int op, const QVariant &result);
    void deviceCreated(QObject *thui);
    void thing_changed(const ThingState &thing);
    void thing_renamereq(const QString &tid, const QString &alias);
    void gw_connectivityChanged(bool on);
    void gw_cloudError(const QString &text);
    void gw_backlogChanged(const OutboxBacklog &backlog);
    void sidePane_clicked();
    void on_settingsApplyButton_clicked();
    void on_settingsRevertButton_clicked();
    void on_settingsRestoreButton_clicked();
    void on_settingsBackupButton_clicked();
    void on_settingsResetGWButton_clicked();
    void on_deviceConfigsReadButton_clicked();
    void on_deviceConfigsWriteButton_clicked();
    void on_cloudGetCodeButton_clicked();
    void on_cloudCodeCopyButton_clicked();
    void on_cloudOpenTSLButton_clicked();
    void on_cloudRestartRegButton_clicked();
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    void process_action(int act);
    void mhide();
    void updater_updatesAvailable(bool can_update, const QString &latest, const QString &changelog,
                                  const QString &url);
    void updater_checkFailed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupTray(int attempt);
    void armAutoRescan();
    void updateStatusPage(const QJsonObject &status);
    void setRegStep(RegSteps step);
    void refreshRegistrationState();
    void updateTimedOut();
    void showAbout();
    void reloadSettingsPage();
    void showSerial();
    void showCloudError();
    // The waiting reports in words; empty when none wait.
    QString backlogText() const;

    Ui::MainWindow *ui;
    QAutoStarter *m_autostarter;
    PMUpdater *m_updater = nullptr;
    QTimer m_updateTimeout;
    bool m_manualUpdateCheck = false;
    ThingsStateTableModel *m_stateModel;
    CXSettings *m_settings;
    RunnerHost *m_host;
    QSystemTrayIcon *m_tray = nullptr;
    QLedLabel *m_indicator = nullptr;
    QTimer m_rescanDelay;
    bool m_initInProgress = false;
    int m_autoRescanTimer = -1;
    const Timings m_timings;
    QString m_indicatorTip;
    RegistrationWizard *m_wizard = nullptr;
    DeviceConfigPage m_devicePage;
    QString m_cloudError;
    OutboxBacklog m_backlog;
    QTimer m_backlogRefresh; // the age of the oldest report moves on while reports wait
};
