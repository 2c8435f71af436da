#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class AppUpdater;
class QMessageBox;
class QStatusBar;
class QWidget;

// Update checks as the window offers them: a check asked for by the user answers in a message box,
// an automatic one in the status bar. A feed that has not answered within the time-out counts as
// "no updates"; when its answer comes after all, that answer stands and the earlier box goes.
class UpdateController : public QObject
{
    Q_OBJECT

public:
    UpdateController(const QString &feedUrl, int timeoutMs, QWidget *window, QStatusBar *bar,
                     QObject *parent = nullptr);
    // Waits for a running check, without letting its answer reach the window.
    ~UpdateController() override;

public slots:
    // A check the user asked for.
    void check();

private:
    void timedOut();
    void failed();
    void answered(bool canUpdate, const QString &latest, const QString &changelog, const QString &url);
    // Shows an information or warning box the user asked for, or a status-bar line otherwise.
    void tell(const QString &boxText, const QString &barText, bool warning = false);

    AppUpdater *m_updater;
    QTimer m_timeout;
    QWidget *m_window;
    QStatusBar *m_bar;
    bool m_manual = false;
    // The "no updates" box of a check that timed out, closed if the answer comes late.
    QPointer<QMessageBox> m_timeoutBox;
};
