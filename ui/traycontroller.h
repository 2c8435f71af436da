#pragma once

#include <QObject>
#include <QSystemTrayIcon>

class QWidget;

// The tray icon and its menu: "Show/Hide", "About", "Exit". A desktop whose tray is not up yet is
// asked again a few times, each time a step later.
class TrayController : public QObject
{
    Q_OBJECT

public:
    TrayController(QWidget *window, int retryStepMs, QObject *parent = nullptr);
    ~TrayController() override;

    // Null while no tray is available.
    QSystemTrayIcon *icon() const { return m_tray; }
    // Hides the window into the tray, or minimises it when there is no tray to come back from.
    void hideWindow();
    void toggleWindow();

signals:
    void aboutRequested();
    void exitRequested();

private:
    void setup(int attempt);
    void activated(QSystemTrayIcon::ActivationReason reason);

    QWidget *m_window;
    int m_retryStepMs;
    QSystemTrayIcon *m_tray = nullptr;
};
