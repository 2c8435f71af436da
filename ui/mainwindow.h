#pragma once

#include "thingstate.h"

#include <QMainWindow>
#include <QTimer>

namespace Ui {
class MainWindow;
}

class CloudStatusIndicator;
class CXSettings;
class GatewayStartup;
class QAutoStarter;
class QSystemTrayIcon;
class RunnerHost;
class ThingsStateTableModel;
class TrayController;
class UpdateController;

// The gateway's only top-level window: navigation between the pages (dashboard, settings, device
// types, cloud, registry), the start-up splash, About. The pages, the tray, the update checks and
// the cloud indicator are rooms of their own. It owns the runner (through its host, which owns the
// worker thread) and never does device or network work itself.
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
    QSystemTrayIcon *trayIcon() const;

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
    void deviceCreated(QObject *thui);
    void things_changed(const ThingStateList &batch);
    void thing_renamereq(const QString &tid, const QString &alias);
    void sidePane_clicked();
    void process_action(int act);
    void mhide();

protected:
    void closeEvent(QCloseEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectRunner();
    void armAutoRescan();
    void rescanNow();
    void listThings();
    void showError(const QString &text);
    void showAbout();
    void saveLayout();

    Ui::MainWindow *ui;
    QAutoStarter *m_autostarter;
    ThingsStateTableModel *m_stateModel;
    CXSettings *m_settings;
    RunnerHost *m_host;
    GatewayStartup *m_startup;
    const Timings m_timings;
    CloudStatusIndicator *m_indicator = nullptr;
    TrayController *m_tray = nullptr;
    UpdateController *m_updates = nullptr;
    QTimer m_rescanDelay;
    int m_autoRescanTimer = -1;
};
