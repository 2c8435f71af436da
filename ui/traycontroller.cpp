#include "traycontroller.h"

#include <QCoreApplication>
#include <QIcon>
#include <QMenu>
#include <QTimer>
#include <QWidget>

TrayController::TrayController(QWidget *window, int retryStepMs, QObject *parent)
    : QObject(parent), m_window(window), m_retryStepMs(retryStepMs)
{
    setup(0);
}

TrayController::~TrayController()
{
    delete m_tray;
}

void TrayController::setup(int attempt)
{
    if (m_tray)
        return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (attempt > 3)
            return;
        QTimer::singleShot((attempt + 1) * m_retryStepMs, this, [this, attempt] { setup(attempt + 1); });
        return;
    }
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/tsl-gate.ico")));
    m_tray->setToolTip(tr("TSL-Gate v") + QCoreApplication::applicationVersion());
    connect(m_tray, &QSystemTrayIcon::activated, this, &TrayController::activated);
    auto *menu = new QMenu(m_window);
    connect(menu->addAction(tr("Show/Hide")), &QAction::triggered, this, &TrayController::toggleWindow);
    menu->addSeparator();
    connect(menu->addAction(tr("About")), &QAction::triggered, this, &TrayController::aboutRequested);
    connect(menu->addAction(tr("Exit")), &QAction::triggered, this, &TrayController::exitRequested);
    m_tray->setContextMenu(menu);
    m_tray->setVisible(true);
}

void TrayController::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    if (m_window->isVisible())
        m_window->hide();
    else
        m_window->show();
}

void TrayController::hideWindow()
{
    if (m_tray)
        m_window->hide();
    else
        m_window->showMinimized();
}

void TrayController::toggleWindow()
{
    if (m_window->isVisible())
        hideWindow();
    else
        m_window->show();
}
