#include "updatecontroller.h"

#include "appupdater.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QStatusBar>

UpdateController::UpdateController(const QString &feedUrl, int timeoutMs, QWidget *window, QStatusBar *bar,
                                   QObject *parent)
    : QObject(parent), m_updater(new AppUpdater(feedUrl)), m_window(window), m_bar(bar)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &UpdateController::timedOut);
    connect(m_updater, &AppUpdater::updateInfoAvailable, this, &UpdateController::answered);
    connect(m_updater, &AppUpdater::checkFailed, this, &UpdateController::failed);
}

UpdateController::~UpdateController()
{
    m_timeout.stop();
    m_updater->disconnect(this);
    delete m_updater;
}

void UpdateController::check()
{
    m_timeout.stop();
    m_manual = true;
    m_updater->checkUpdates();
    m_timeout.start();
}

void UpdateController::tell(const QString &boxText, const QString &barText, bool warning)
{
    if (!m_manual) {
        m_bar->showMessage(barText, 5000);
        return;
    }
    m_manual = false;
    if (warning)
        QMessageBox::warning(m_window, tr("Check for Updates"), boxText);
    else
        QMessageBox::information(m_window, tr("Check for Updates"), boxText);
}

void UpdateController::timedOut()
{
    if (!m_manual) {
        m_bar->showMessage(tr("No available updates."), 5000);
        return;
    }
    m_manual = false;
    QMessageBox box(QMessageBox::Information, tr("Check for Updates"), tr("No available updates."),
                    QMessageBox::Ok, m_window);
    m_timeoutBox = &box;
    box.exec();
}

void UpdateController::failed()
{
    m_timeout.stop();
    if (m_timeoutBox)
        return; // the time-out has spoken already, and a failure is no better news
    const QString text = tr("Could not check for updates: the update feed cannot be reached or read.");
    tell(text, text, true);
}

void UpdateController::answered(bool canUpdate, const QString &latest, const QString &changelog,
                                const QString &url)
{
    m_timeout.stop();
    if (!canUpdate) {
        if (!m_timeoutBox)
            tell(tr("You have the latest version."), tr("The latest app version is installed."));
        return;
    }
    // An update found after the time-out: its prompt replaces the "no updates" box.
    if (m_timeoutBox)
        m_timeoutBox->reject();
    QMessageBox box(m_window);
    box.setIconPixmap(QPixmap(QStringLiteral(":/tsl-gate.ico")));
    box.setWindowTitle(tr("Check for Updates"));
    box.setTextFormat(Qt::RichText);
    box.setText(tr("An update to version <b>%1</b> is availale<br>Update now?<br>You can download the latest "
                   "version <a href=\"%2\">here</a>")
                    .arg(latest.toHtmlEscaped(), url.toHtmlEscaped()));
    box.setDetailedText(tr("Changelog:") + QLatin1Char('\n') + changelog);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() == QMessageBox::Yes && AppUpdater::installUpdate())
        QCoreApplication::exit(0);
}
