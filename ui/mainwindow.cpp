#include "mainwindow.h"

#include "cloudpage.h"
#include "cloudstatusindicator.h"
#include "cxgatewrunner.h"
#include "cxsettings.h"
#include "dashboardhistory.h"
#include "devicespage.h"
#include "gatewaystartup.h"
#include "qautostarter.h"
#include "qcolumnfitter.h"
#include "qmaterialicon.h"
#include "registrationwizard.h"
#include "regthingseditor.h"
#include "runnerhost.h"
#include "settingspage.h"
#include "thingsstatetablemodel.h"
#include "traycontroller.h"
#include "trendpane.h"
#include "ui_mainwindow.h"
#include "updatecontroller.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QHeaderView>
#include <QMessageBox>
#include <QSpinBox>
#include <QSplashScreen>
#include <QSslSocket>
#include <QStatusBar>
#include <QTimerEvent>

#include <algorithm>
#include <limits>

namespace {

MainWindow::Timings s_defaultTimings;

} // namespace

MainWindow::MainWindow(QWidget *parent, const QString &programDir)
    : QMainWindow(parent), ui(new Ui::MainWindow),
      m_autostarter(
          new QAutoStarter(QStringLiteral("Tessel-TSL-Gate"), QStringLiteral(":/images/cx-gate.png"), this)),
      m_stateModel(new ThingsStateTableModel(this)), m_settings(new CXSettings(this)),
      m_host(new RunnerHost(programDir, this)), m_startup(new GatewayStartup(m_host, this)),
      m_timings(s_defaultTimings)
{
    ui->setupUi(this);
    ui->settingsPage->attach(ui, m_host, m_settings, m_autostarter);
    ui->devcfgPage->attach(ui->deviceConfigsGroup, this, m_host, m_settings);
    ui->regThingsEditor->attach(m_host);
    ui->regPage->attach(ui, m_host);
    m_indicator = new CloudStatusIndicator(
        ui->statusBar, {ui->cloudConnectionStatus, ui->cloudErrorLabel, ui->cloudBacklogLabel}, this);
    m_tray = new TrayController(this, m_timings.trayRetryStepMs, this);
    connect(m_tray, &TrayController::aboutRequested, this, [this] { process_action(A_ABOUT); });
    connect(m_tray, &TrayController::exitRequested, this, [this] { process_action(A_EXIT); });
    m_updates = new UpdateController(m_settings->value(Key::WebUpdateUrl).toString(),
                                     m_timings.updateTimeoutMs, this, ui->statusBar, this);

    m_rescanDelay.setSingleShot(true);
    m_rescanDelay.setInterval(m_timings.rescanDelayMs);
    connect(&m_rescanDelay, &QTimer::timeout, this, [this] { m_host->call(&CxgatewRunner::rescan); });

    if (m_settings->value(Key::SystemAutostart).toBool() && !m_autostarter->autostartSet())
        m_autostarter->setAutostart(true);
    m_autostarter->checkAutostart();

    const QList<QPair<QAction *, const char *>> navigation{
        {ui->actionStatus, "dashboard"},  {ui->actionCloud, "cloud"},
        {ui->actionRescan, "sync"},       {ui->actionDevices, "device_hub"},
        {ui->actionSettings, "settings"}, {ui->actionRegistry, "inventory"}};
    for (int entry = 0; entry < navigation.size(); ++entry) {
        QAction *action = navigation[entry].first;
        action->setIcon(QMaterialIcon::instance()->icon(QString::fromLatin1(navigation[entry].second)));
        action->setData(entry);
        connect(action, &QAction::triggered, this, &MainWindow::sidePane_clicked);
    }

    connectRunner();

    connect(m_stateModel, &ThingsStateTableModel::renameRequested, this, &MainWindow::thing_renamereq);
    ui->deviceStateTable->setModel(m_stateModel);
    // Columns sized to their contents when rows come or go, and now and then as states change: a
    // header sizing them itself would measure every row on each change.
    ui->deviceStateTable->horizontalHeader()->setSectionResizeMode(ThingsStateTableModel::ColState,
                                                                   QHeaderView::Stretch);
    new QColumnFitter(ui->deviceStateTable,
                      {ThingsStateTableModel::ColType, ThingsStateTableModel::ColSerial,
                       ThingsStateTableModel::ColAlias, ThingsStateTableModel::ColCloud});
    new DashboardHistory(ui->deviceStateTable, m_stateModel, ui->trendPane, ui->actionExportHistory);

    ui->mainArea->setCurrentIndex(P_STATE);

    connect(ui->actionExit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(ui->actionAbout, &QAction::triggered, this, [this] { process_action(A_ABOUT); });
    connect(ui->actionCheck_for_updates, &QAction::triggered, this, [this] { process_action(A_UPDCHK); });

    m_host->start();
    armAutoRescan();
    ui->settingsPage->load();
}

void MainWindow::connectRunner()
{
    connect(m_host, &RunnerHost::thingsChanged, this, &MainWindow::things_changed);
    connect(m_host, &RunnerHost::historyTrouble, ui->statusBar,
            [this](const QString &text) { ui->statusBar->showMessage(text); });
    connect(m_host, &RunnerHost::deviceCreated, this, &MainWindow::deviceCreated);
    connect(m_host, &RunnerHost::connectivityChanged, m_indicator, &CloudStatusIndicator::setConnected);
    connect(m_host, &RunnerHost::cloudError, m_indicator, &CloudStatusIndicator::setError);
    connect(m_host, &RunnerHost::backlogChanged, m_indicator, &CloudStatusIndicator::setBacklog);
    connect(m_host, &RunnerHost::failed, this, &MainWindow::showError);
    connect(m_host, &RunnerHost::settingsUpdated, ui->settingsPage, &SettingsPage::load);

    connect(m_startup, &GatewayStartup::pluginsListed, ui->devcfgPage, &DevicesPage::build);
    connect(m_startup, &GatewayStartup::thingsListed, m_stateModel, &ThingsStateTableModel::reset);
    connect(m_startup, &GatewayStartup::statusReady, ui->regPage, &CloudPage::showStatus);
    // The pool has been restored by the first scan: the registration state is known now.
    connect(m_startup, &GatewayStartup::finished, ui->regPage, [this](bool ok) {
        if (ok)
            ui->regPage->askRegistrationState();
    });

    connect(ui->regPage, &CloudPage::registered, this, [this] {
        ui->mainArea->setCurrentIndex(P_STATE);
        if (!m_startup->isRunning())
            ui->regPage->refreshStatus();
    });
    connect(ui->regPage, &CloudPage::thingsReset, this, &MainWindow::listThings);
    connect(ui->regPage, &CloudPage::statusMessage, ui->statusBar, &QStatusBar::showMessage);
    connect(ui->settingsPage, &SettingsPage::statusMessage, ui->statusBar, &QStatusBar::showMessage);
    connect(ui->settingsPage, &SettingsPage::applied, this, &MainWindow::armAutoRescan);
    connect(ui->regThingsEditor, &RegThingsEditor::modified, ui->regPage,
            &CloudPage::refreshRegistrationState);
}

MainWindow::~MainWindow()
{
    if (m_autoRescanTimer >= 0)
        killTimer(m_autoRescanTimer);
    saveLayout();
    // The runner is deleted on its thread as the thread ends: pool saved, cloud client stopped. What
    // it still announces on the way, and completions not yet delivered, never reach this window: the
    // update check below may spin the event loop while the window is half destroyed.
    m_host->stop();
    m_host->disconnect();
    delete m_updates;
    m_updates = nullptr;
    delete m_tray;
    m_tray = nullptr;
    delete ui;
}

QSystemTrayIcon *MainWindow::trayIcon() const
{
    return m_tray ? m_tray->icon() : nullptr;
}

void MainWindow::saveLayout()
{
    // Two copies, as the settings have always had them: UI/* restored after start-up, System/* by the
    // entry point before it.
    const QByteArray geometry = saveGeometry();
    const QByteArray state = saveState();
    m_settings->setValue(Key::UiGeom, geometry);
    m_settings->setValue(Key::UiState, state);
    m_settings->setValue(Key::SystemState, state);
    m_settings->setValue(Key::SystemWindow, geometry);
}

void MainWindow::restoreSystemLayout()
{
    restoreGeometry(m_settings->value(Key::SystemWindow).toByteArray());
    restoreState(m_settings->value(Key::SystemState).toByteArray());
    ui->navBar->setVisible(true);
}

void MainWindow::setDefaultTimings(const Timings &timings)
{
    s_defaultTimings = timings;
}

MainWindow::Timings MainWindow::defaultTimings()
{
    return s_defaultTimings;
}

// ---- start-up ----------------------------------------------------------------------------------

void MainWindow::runInitSequence()
{
    QSplashScreen splash(QPixmap(QStringLiteral(":/images/splash.png")));
    splash.show();
    const QMetaObject::Connection shown = connect(
        this, &MainWindow::loadProgress, &splash, [&splash](int total, int completed, const QString &msg) {
            splash.showMessage(QStringLiteral("%1/%2 %3").arg(completed).arg(total).arg(msg),
                               Qt::AlignBottom | Qt::AlignHCenter, Qt::white);
        });
    const QMetaObject::Connection steps =
        connect(m_startup, &GatewayStartup::stepStarted, this, [this](GatewayStartup::Step step) {
            switch (step) {
            case GatewayStartup::LoadingPlugins:
                emit loadProgress(4, 0, tr("Loading plugins"));
                break;
            case GatewayStartup::ListingPlugins:
                emit loadProgress(4, 1, tr("Assembling plugins list"));
                break;
            case GatewayStartup::Scanning:
                emit loadProgress(4, 2, tr("Scanning for devices"));
                break;
            case GatewayStartup::ListingThings:
                emit loadProgress(4, 3, tr("Assembling devices list"));
                break;
            case GatewayStartup::Connecting:
                emit loadProgress(4, 4, tr("Connecting to the cloud"));
                break;
            case GatewayStartup::RequestingStatus:
                emit loadProgress(5, 5, tr("Requesting status"));
                break;
            }
        });
    const QMetaObject::Connection ended =
        connect(m_startup, &GatewayStartup::finished, this, &MainWindow::loadFinished);

    // The splash processes events while it paints, so the outcome may arrive before the loop runs.
    QEventLoop loop;
    int code = -1;
    const QMetaObject::Connection done =
        connect(this, &MainWindow::loadFinished, &loop, [&loop, &code](bool ok) {
            code = ok ? 0 : 1;
            loop.exit(code);
        });

    m_startup->start();
    if (code < 0)
        loop.exec();
    for (const QMetaObject::Connection &connection : {done, shown, steps, ended})
        disconnect(connection);

    if (code < 0)
        return; // the application was asked to quit while starting: nothing to show
    if (code != 0) {
        // Queued: this runs before the application's event loop, where an exit request would be lost.
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
        return;
    }
    restoreState(m_settings->value(Key::UiState).toByteArray());
    restoreGeometry(m_settings->value(Key::UiGeom).toByteArray());
    if (!m_settings->value(Key::SystemStartHidden).toBool()) {
        show();
        splash.finish(this);
    }
}

// ---- the runner's news -------------------------------------------------------------------------

void MainWindow::showError(const QString &text)
{
    // Runner texts hold device aliases and file paths: plain text, never markup.
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void MainWindow::listThings()
{
    m_host->call(&CxgatewRunner::listThings).then(m_stateModel, [this](const ThingStateList &things) {
        m_stateModel->reset(things);
    });
}

void MainWindow::deviceCreated(QObject *thui)
{
    if (auto *widget = qobject_cast<QWidget *>(thui)) {
        widget->show();
        widget->activateWindow();
    }
}

void MainWindow::things_changed(const ThingStateList &batch)
{
    m_stateModel->apply(batch);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    bool gone = false;
    for (const ThingState &thing : batch) {
        ui->trendPane->append(now, thing.shortid, thing.gone ? QJsonObject() : thing.state);
        gone = gone || thing.gone;
    }
    if (gone)
        m_rescanDelay.start();
}

void MainWindow::thing_renamereq(const QString &tid, const QString &alias)
{
    m_host->call(&CxgatewRunner::renameThing, tid, alias);
}

// ---- navigation and rescans --------------------------------------------------------------------

void MainWindow::sidePane_clicked()
{
    const auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    switch (action->data().toInt()) {
    case 0:
        ui->mainArea->setCurrentIndex(P_STATE);
        break;
    case 1:
        ui->regPage->opened();
        ui->mainArea->setCurrentIndex(P_CLOUD);
        break;
    case 2:
        rescanNow();
        break;
    case 3:
        ui->mainArea->setCurrentIndex(P_DEVICES);
        break;
    case 4:
        ui->mainArea->setCurrentIndex(P_SETTINGS);
        break;
    case 5:
        ui->regThingsEditor->sync();
        ui->mainArea->setCurrentIndex(P_REGISTRY);
        break;
    default:
        break;
    }
}

void MainWindow::rescanNow()
{
    m_rescanDelay.stop();
    m_host->call(&CxgatewRunner::rescan);
}

void MainWindow::armAutoRescan()
{
    if (m_autoRescanTimer >= 0)
        killTimer(m_autoRescanTimer);
    m_autoRescanTimer = -1;
    if (!m_settings->value(Key::SystemAutoScan).toBool())
        return;
    const qint64 minutes = m_settings->value(Key::SystemScanInterval).toInt();
    const qint64 period =
        std::max<qint64>(minutes * m_timings.scanIntervalUnitMs, m_timings.autoRescanFloorMs);
    m_autoRescanTimer =
        startTimer(int(std::min<qint64>(period, std::numeric_limits<int>::max())), Qt::CoarseTimer);
}

void MainWindow::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_autoRescanTimer && m_autoRescanTimer >= 1) {
        rescanNow();
        return;
    }
    QMainWindow::timerEvent(event);
}

// ---- showing and hiding ------------------------------------------------------------------------

void MainWindow::process_action(int act)
{
    switch (act) {
    case A_EXIT:
        QCoreApplication::exit(0);
        break;
    case A_VSWITCH:
        m_tray->toggleWindow();
        break;
    case A_ABOUT:
        showAbout();
        break;
    case A_UPDCHK:
        checkUpdate();
        break;
    default: // A_RESCAN, A_HIDE
        break;
    }
}

void MainWindow::mhide()
{
    m_tray->hideWindow();
}

void MainWindow::dockClicked()
{
    if (!isVisible())
        show();
}

void MainWindow::instanceMessage(const QString &msg)
{
    if (msg != QLatin1String("show"))
        return;
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::prepareSleep() {}

void MainWindow::postWake() {}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_settings->value(Key::SystemCloseToTray).toBool()) {
        mhide();
        event->ignore();
        return;
    }
    event->accept();
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel &&
        (qobject_cast<QComboBox *>(watched) || qobject_cast<QSpinBox *>(watched) ||
         qobject_cast<QDoubleSpinBox *>(watched))) {
        event->ignore();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- updates and About -------------------------------------------------------------------------

void MainWindow::checkUpdate()
{
    m_updates->check();
}

void MainWindow::showAbout()
{
    const QString tls = QSslSocket::supportsSsl()
                            ? QSslSocket::sslLibraryVersionString().toHtmlEscaped()
                            : QStringLiteral("<font color=\"red\">%1</font>").arg(tr("OpenSSL: not loaded"));
    const QString row = QStringLiteral("<tr><td>%1</td><td>%2</td></tr>");
    const QString link = QStringLiteral("<a href=\"%1\">%2</a>");
    const QString portal = QString::fromLatin1(Deployment::PortalUrl);
    const QString text =
        QStringLiteral("<table width=\"100%\"><tr><th colspan=\"2\">%1</th></tr>")
            .arg(tr("Tessel Cloud Gateway Software.")) +
        row.arg(tr("Version"), QStringLiteral("%1 (%2)").arg(QCoreApplication::applicationVersion(),
                                                             QStringLiteral(__DATE__))) +
        row.arg(tr("Developed by"),
                tr("Tessel, %1")
                    .arg(link.arg(QStringLiteral("https://tessel.pro"), QStringLiteral("tessel.pro")))) +
        row.arg(tr("Tessel Cloud"), link.arg(portal, portal)) +
        row.arg(tr("Support"), link.arg(QStringLiteral("https://tessel.pro/support"),
                                        QStringLiteral("tessel.pro/support"))) +
        QStringLiteral("</table><p>%1</p><ul>").arg(tr("Uses:")) + QStringLiteral("<li>%1</li>").arg(tls) +
        QStringLiteral("<li>%1 (%2)</li>")
            .arg(link.arg(QStringLiteral("https://github.com/libusb/hidapi"), QStringLiteral("hidapi")),
                 tr("BSD-style license")) +
        QStringLiteral("<li>%1 (%2, %3)</li>")
            .arg(link.arg(QStringLiteral("https://mosquitto.org/"), QStringLiteral("libmosquitto")),
                 tr("EPL / EDL licenses"),
                 link.arg(QStringLiteral("https://mosquitto.org/download/"), tr("details"))) +
        QStringLiteral("<li>%1 (%2)</li></ul>")
            .arg(link.arg(QStringLiteral("https://github.com/google/material-design-icons"),
                          QStringLiteral("Material Icons")),
                 tr("Apache v2.0 License"));
    QMessageBox::about(this, tr("TSL-Gate"), text);
}
