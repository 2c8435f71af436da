#include "mainwindow.h"

#include "appupdater.h"
#include "cxgatewrunner.h"
#include "cxsettings.h"
#include "qautostarter.h"
#include "qledlabel.h"
#include "qmaterialicon.h"
#include "registrationwizard.h"
#include "regthingseditor.h"
#include "runnerhost.h"
#include "settingspage.h"
#include "thingsstatetablemodel.h"
#include "ui_mainwindow.h"

#include <QAbstractSpinBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QSequentialIterable>
#include <QSpinBox>
#include <QSplashScreen>
#include <QSslSocket>
#include <QStatusBar>
#include <QTimerEvent>

#include <algorithm>
#include <limits>

namespace {

MainWindow::Timings s_defaultTimings;

QColor roleColor(QMaterialIcon::Color role)
{
    return QMaterialIcon::instance()->color(role);
}

// A Lsthings result as a list, whether it arrives as the registered list type or as another
// sequence of ThingState values.
ThingStateList thingList(const QVariant &result)
{
    if (result.userType() == qMetaTypeId<ThingStateList>())
        return result.value<ThingStateList>();
    ThingStateList list;
    if (result.canConvert<QVariantList>()) {
        const QSequentialIterable items = result.value<QSequentialIterable>();
        for (const QVariant &item : items) {
            if (item.canConvert<ThingState>())
                list.append(item.value<ThingState>());
        }
    }
    return list;
}

} // namespace

MainWindow::MainWindow(QWidget *parent, const QString &programDir)
    : QMainWindow(parent), ui(new Ui::MainWindow),
      m_autostarter(
          new QAutoStarter(QStringLiteral("Tessel-TSL-Gate"), QStringLiteral(":/images/cx-gate.png"), this)),
      m_stateModel(new ThingsStateTableModel(this)), m_settings(new CXSettings(this)),
      m_host(new RunnerHost(programDir, this)), m_timings(s_defaultTimings), m_devicePage(nullptr, this)
{
    ui->setupUi(this);
    m_devicePage = DeviceConfigPage(ui->deviceConfigsGroup, this);
    m_wizard =
        new RegistrationWizard({ui->regWizardHeader, ui->regWizard, ui->cloudGetCodeButton,
                                ui->cloudCodeDisplay, ui->cloudCountdownDisplay, ui->cloudRegResultList},
                               this);
    // The wizard's requests reach the runner in the order they are made: renames before generateDoc.
    connect(m_wizard, &RegistrationWizard::generateDocRequested, m_host, &RunnerHost::generateDoc);
    connect(m_wizard, &RegistrationWizard::registrationStateRequested, m_host,
            &RunnerHost::registrationState);
    connect(m_wizard, &RegistrationWizard::renameRequested, m_host, &RunnerHost::renameThing);
    connect(m_wizard, &RegistrationWizard::statusMessage, ui->statusBar, &QStatusBar::showMessage);
    connect(m_wizard, &RegistrationWizard::registered, this, [this] {
        ui->mainArea->setCurrentIndex(P_STATE);
        if (!m_initInProgress)
            m_host->cloudStatus();
    });
    connect(ui->regThingsEditor, &RegThingsEditor::modified, m_host, [this] {
        m_host->resetDevPool();
        m_host->updatePool();
        refreshRegistrationState();
    });
    m_updateTimeout.setSingleShot(true);
    m_updateTimeout.setInterval(m_timings.updateTimeoutMs);
    m_rescanDelay.setSingleShot(true);
    m_rescanDelay.setInterval(m_timings.rescanDelayMs);

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

    connect(m_host, &RunnerHost::finished, this, &MainWindow::runner_finished, Qt::QueuedConnection);
    connect(m_host, &RunnerHost::thingChanged, this, &MainWindow::thing_changed, Qt::QueuedConnection);
    connect(m_host, &RunnerHost::connectivityChanged, this, &MainWindow::gw_connectivityChanged,
            Qt::QueuedConnection);
    connect(m_host, &RunnerHost::deviceCreated, this, &MainWindow::deviceCreated, Qt::QueuedConnection);
    connect(m_host->runner(), &CxgatewRunner::cloudError, this, &MainWindow::gw_cloudError,
            Qt::QueuedConnection);
    connect(m_host, &RunnerHost::backlogChanged, this, &MainWindow::gw_backlogChanged, Qt::QueuedConnection);
    connect(
        m_settings, &CXSettings::unregDevices, m_host, [this] { m_host->resetGateway(); },
        Qt::QueuedConnection);

    connect(m_stateModel, &ThingsStateTableModel::renameRequested, this, &MainWindow::thing_renamereq);
    ui->deviceStateTable->setModel(m_stateModel);
    QHeaderView *header = ui->deviceStateTable->horizontalHeader();
    for (int column : {0, 1, 2, 4})
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(3, QHeaderView::Stretch);

    connect(&m_rescanDelay, &QTimer::timeout, m_host, [this] { m_host->rescan(); });
    m_backlogRefresh.setInterval(1000);
    connect(&m_backlogRefresh, &QTimer::timeout, this, &MainWindow::showCloudError);

    m_indicator = new QLedLabel(ui->statusBar);
    m_indicator->setName(QStringLiteral("gps_off"));
    ui->statusBar->addPermanentWidget(m_indicator);

    auto *updater = new AppUpdater(m_settings->value(Key::WebUpdateUrl).toString());
    m_updater = updater;
    connect(updater, &AppUpdater::updateInfoAvailable, this, &MainWindow::updater_updatesAvailable);
    connect(updater, &AppUpdater::checkFailed, this, &MainWindow::updater_checkFailed);
    connect(&m_updateTimeout, &QTimer::timeout, this, &MainWindow::updateTimedOut);

    ui->mainArea->setCurrentIndex(P_STATE);
    setupTray(0);

    connect(ui->actionExit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(ui->actionAbout, &QAction::triggered, this, [this] { process_action(A_ABOUT); });
    connect(ui->actionCheck_for_updates, &QAction::triggered, this, [this] { process_action(A_UPDCHK); });

    m_host->start();
    armAutoRescan();

    m_indicator->setColor(roleColor(QMaterialIcon::Warning));
    m_indicator->update();
    m_indicatorTip = tr("Cloud connection is not configured");
    showCloudError();

    reloadSettingsPage();
    setRegStep(R_SERIAL);
}

MainWindow::~MainWindow()
{
    if (m_autoRescanTimer >= 0)
        killTimer(m_autoRescanTimer);
    m_settings->setValue(Key::UiGeom, saveGeometry());
    m_settings->setValue(Key::UiState, saveState());
    m_settings->setValue(Key::SystemState, saveState());
    m_settings->setValue(Key::SystemWindow, saveGeometry());
    // The runner is deleted on its thread as the thread ends: pool saved, cloud client stopped.
    m_host->stop();
    delete m_tray;
    // The updater waits for a running check; its answer must not reach a window being destroyed.
    m_updateTimeout.stop();
    if (auto *updater = dynamic_cast<QObject *>(m_updater))
        updater->disconnect(this);
    delete m_updater;
    delete ui;
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

    // The splash processes events while it paints, so the outcome may arrive before the loop runs.
    QEventLoop loop;
    int code = -1;
    const QMetaObject::Connection done =
        connect(this, &MainWindow::loadFinished, &loop, [&loop, &code](bool ok) {
            code = ok ? 0 : 1;
            loop.exit(code);
        });

    m_initInProgress = true;
    emit loadProgress(4, 0, tr("Loading plugins"));
    m_host->loadPlugins();
    if (code < 0)
        loop.exec();
    disconnect(done);
    disconnect(shown);

    if (code < 0) {
        // The application was asked to quit while starting: nothing to show.
        m_initInProgress = false;
        return;
    }
    if (code != 0) {
        m_initInProgress = false;
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

// ---- runner completions ------------------------------------------------------------------------

void MainWindow::runner_finished(int op, const QVariant &result)
{
    switch (op) {
    case CxgatewRunner::Load:
        if (!result.toBool()) {
            m_initInProgress = false;
            emit loadFinished(false);
        } else if (m_initInProgress) {
            emit loadProgress(4, 1, tr("Assembling plugins list"));
            m_host->listPlugins();
        }
        break;
    case CxgatewRunner::Rescan:
        if (!m_initInProgress)
            break;
        if (result.toBool()) {
            emit loadProgress(4, 3, tr("Assembling devices list"));
            m_host->listThings();
        } else {
            m_initInProgress = false;
            emit loadFinished(false);
        }
        break;
    case CxgatewRunner::Lsmod:
        m_devicePage.build(*m_settings, result.toJsonObject());
        if (m_initInProgress) {
            emit loadProgress(4, 2, tr("Scanning for devices"));
            m_host->rescan();
        }
        break;
    case CxgatewRunner::Lsthings:
        m_stateModel->reset(thingList(result));
        if (m_initInProgress) {
            emit loadProgress(4, 4, tr("Connecting to the cloud"));
            m_host->connectToCloud(true);
        }
        break;
    case CxgatewRunner::CConnect:
        if (m_initInProgress) {
            emit loadProgress(5, 5, tr("Requesting status"));
            m_host->cloudStatus();
        }
        break;
    case CxgatewRunner::CStatus:
        updateStatusPage(result.toJsonObject());
        if (m_initInProgress) {
            m_initInProgress = false;
            emit loadFinished(true);
        }
        break;
    case CxgatewRunner::DUnreg:
        m_host->listThings();
        break;
    case CxgatewRunner::Error:
        QMessageBox::warning(this, QCoreApplication::applicationName(), result.toString(), QMessageBox::Ok);
        break;
    case CxgatewRunner::SExport:
        if (result.toBool()) {
            ui->statusBar->showMessage(tr("Configuration saved"), 2000);
            QMessageBox::information(this, tr("Backup"),
                                     tr("The configuration backup file has been generated. It contains "
                                        "sensitive information, so keep it safe!"));
        } else {
            ui->statusBar->showMessage(tr("Backup could not be saved"), 5000);
        }
        break;
    case CxgatewRunner::SImport:
        if (result.toBool())
            QMessageBox::information(this, tr("Import"),
                                     tr("Configuration has been restored from a backup. Restart the "
                                        "application as soon as possible."));
        else
            ui->statusBar->showMessage(tr("Configuration could not be restored."), 5000);
        break;
    case CxgatewRunner::SetUpdate:
        reloadSettingsPage();
        break;
    case CxgatewRunner::RegStatus:
        m_wizard->showRegistrationState(result.toInt());
        break;
    case CxgatewRunner::AliasFill:
        m_wizard->askNames(result.toStringList());
        break;
    case CxgatewRunner::RegCode:
        m_wizard->showCode(result.toJsonObject());
        break;
    case CxgatewRunner::ProcReg:
        m_wizard->showResult(result.toJsonObject());
        break;
    default: // renames and releases
        break;
    }
}

void MainWindow::updateStatusPage(const QJsonObject &status)
{
    if (status.value(QStringLiteral("gw")).toBool(false))
        ui->cloudGatewayStatus->setText(tr("Ready"), roleColor(QMaterialIcon::Success));
    else
        ui->cloudGatewayStatus->setText(tr("Not registered"), roleColor(QMaterialIcon::Warning));

    const auto showCredential = [this](QStatusLabel *label, int state) {
        switch (state) {
        case 0:
            label->setText(tr("Ok"), roleColor(QMaterialIcon::Success));
            break;
        case 2:
            label->setText(tr("Corrupt"), roleColor(QMaterialIcon::Warning));
            break;
        case 3:
            label->setText(tr("Cryptographic error"), QColor(QStringLiteral("#DA30AD")));
            break;
        default:
            label->setText(tr("Missing"), roleColor(QMaterialIcon::Error));
            break;
        }
    };
    showCredential(ui->cloudKeyStatus, status.value(QStringLiteral("key")).toInt(1));
    showCredential(ui->cloudCertificateStatus, status.value(QStringLiteral("cert")).toInt(1));
}

void MainWindow::deviceCreated(QObject *thui)
{
    if (auto *widget = qobject_cast<QWidget *>(thui)) {
        widget->show();
        widget->activateWindow();
    }
}

void MainWindow::thing_changed(const ThingState &thing)
{
    if (thing.gone) {
        m_stateModel->remove(thing.shortid);
        m_rescanDelay.start();
    } else {
        m_stateModel->update(thing);
    }
}

void MainWindow::thing_renamereq(const QString &tid, const QString &alias)
{
    m_host->renameThing(tid, alias);
}

// ---- cloud connection --------------------------------------------------------------------------

void MainWindow::showCloudError()
{
    const QString backlog = backlogText();
    QStringList tip{m_indicatorTip};
    for (const QString &line : {m_cloudError, backlog}) {
        if (!line.isEmpty())
            tip.append(line);
    }
    m_indicator->setToolTip(tip.join(QLatin1Char('\n')));
    ui->cloudConnectionStatus->setToolTip(m_cloudError);
    ui->cloudErrorLabel->setText(m_cloudError);
    ui->cloudErrorLabel->setVisible(!m_cloudError.isEmpty());
    ui->cloudBacklogLabel->setText(backlog);
    ui->cloudBacklogLabel->setVisible(!backlog.isEmpty());
}

QString MainWindow::backlogText() const
{
    if (m_backlog.isEmpty())
        return QString();
    const qint64 seconds =
        qMax<qint64>(0, (QDateTime::currentMSecsSinceEpoch() - m_backlog.oldestQueued) / 1000);
    QString age;
    if (seconds < 120)
        age = tr("%1 s").arg(seconds);
    else if (seconds < 2 * 3600)
        age = tr("%1 min").arg(seconds / 60);
    else if (seconds < 2 * 86400)
        age = tr("%1 h").arg(seconds / 3600);
    else
        age = tr("%1 d").arg(seconds / 86400);
    QString text = tr("Reports waiting for the cloud: %1, the oldest for %2").arg(m_backlog.waiting).arg(age);
    if (m_backlog.dropped > 0)
        text += QLatin1String("; ") + tr("dropped: %1").arg(m_backlog.dropped);
    if (m_backlog.memoryOnly)
        text += QLatin1String("; ") + tr("kept in memory only: they are lost if the program ends");
    return text;
}

void MainWindow::gw_backlogChanged(const OutboxBacklog &backlog)
{
    m_backlog = backlog;
    if (backlog.isEmpty())
        m_backlogRefresh.stop();
    else if (!m_backlogRefresh.isActive())
        m_backlogRefresh.start();
    showCloudError();
}

void MainWindow::gw_connectivityChanged(bool on)
{
    if (on) {
        m_cloudError.clear();
        m_indicator->setName(QStringLiteral("gps_fixed"));
        m_indicator->setColor(roleColor(QMaterialIcon::Success));
        m_indicatorTip = tr("Connected to the cloud");
        ui->cloudConnectionStatus->setText(tr("Connected"), roleColor(QMaterialIcon::Success));
    } else {
        m_indicator->setName(QStringLiteral("gps_not_fixed"));
        m_indicator->setColor(roleColor(QMaterialIcon::Error));
        m_indicatorTip = tr("Disconnected from the cloud");
        ui->cloudConnectionStatus->setText(tr("Disconnected"), roleColor(QMaterialIcon::Warning));
    }
    m_indicator->update();
    showCloudError();
}

void MainWindow::gw_cloudError(const QString &text)
{
    m_cloudError = text;
    showCloudError();
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
        showSerial();
        ui->mainArea->setCurrentIndex(P_CLOUD);
        break;
    case 2:
        m_rescanDelay.stop();
        m_host->rescan();
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

void MainWindow::showSerial()
{
    const QString serial = m_settings->value(Key::CloudSerial, QString()).toString();
    if (serial.isEmpty())
        ui->clousSerialNumberStatus->setText(tr("Not registered"), roleColor(QMaterialIcon::Warning));
    else
        ui->clousSerialNumberStatus->setText(serial, roleColor(QMaterialIcon::Success));
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
        m_rescanDelay.stop();
        m_host->rescan();
        return;
    }
    QMainWindow::timerEvent(event);
}

// ---- settings page -----------------------------------------------------------------------------

void MainWindow::reloadSettingsPage()
{
    SettingsPage(ui).load(*m_settings, m_autostarter);
}

void MainWindow::on_settingsApplyButton_clicked()
{
    SettingsPage(ui).save(*m_settings, m_autostarter, this);
    armAutoRescan();
}

void MainWindow::on_settingsRevertButton_clicked()
{
    reloadSettingsPage();
}

void MainWindow::on_settingsRestoreButton_clicked()
{
    const QString dir = m_settings->value(Key::SystemExportDirectory, QDir::homePath()).toString();
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Load Backup"), dir, tr("Backup files (*.bak)"));
    if (!file.isEmpty())
        m_host->importSettings(file);
}

void MainWindow::on_settingsBackupButton_clicked()
{
    const QString dir = m_settings->value(Key::SystemExportDirectory, QDir::homePath()).toString();
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Save As"), dir, tr("Backup files (*.bak)"));
    if (chosen.isEmpty())
        return;
    const QString file = SettingsPage::backupFileName(chosen);
    m_settings->setValue(Key::SystemExportDirectory, QFileInfo(file).absolutePath());
    m_host->exportSettings(file);
}

void MainWindow::on_settingsResetGWButton_clicked()
{
    const auto answer = QMessageBox::question(this, tr("Gateway Registration"),
                                              tr("The gateway registration will be voided. All the devices, "
                                                 "gateway included, will need to be reregistered. Proceed?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    ui->cloudRegResultList->clear();
    m_host->resetGateway();
    refreshRegistrationState();
    ui->clousSerialNumberStatus->setText(tr("Not registered"), roleColor(QMaterialIcon::Warning));
}

// ---- device configuration and registration pages -----------------------------------------------

void MainWindow::on_deviceConfigsReadButton_clicked()
{
    m_devicePage.reload(*m_settings);
}

void MainWindow::on_deviceConfigsWriteButton_clicked()
{
    m_devicePage.store(*m_settings);
    m_host->applyDeviceSettings();
}

void MainWindow::setRegStep(RegSteps step)
{
    m_wizard->setStep(RegistrationWizard::Step(step));
}

void MainWindow::refreshRegistrationState()
{
    // A forgotten device or a void gateway needs registering again: a wizard waiting on its first step
    // asks anew instead of still saying that the registration is complete.
    if (m_wizard->step() == RegistrationWizard::Serial)
        setRegStep(R_SERIAL);
}

void MainWindow::on_cloudGetCodeButton_clicked()
{
    m_wizard->start();
}

void MainWindow::on_cloudCodeCopyButton_clicked()
{
    m_wizard->copyCode();
}

void MainWindow::on_cloudOpenTSLButton_clicked()
{
    m_wizard->openPortal();
}

void MainWindow::on_cloudRestartRegButton_clicked()
{
    setRegStep(R_SERIAL);
}

// ---- tray, showing and hiding ------------------------------------------------------------------

void MainWindow::setupTray(int attempt)
{
    if (m_tray)
        return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        if (attempt > 3)
            return;
        QTimer::singleShot((attempt + 1) * m_timings.trayRetryStepMs, this,
                           [this, attempt] { setupTray(attempt + 1); });
        return;
    }
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/tsl-gate.ico")), this);
    m_tray->setToolTip(tr("TSL-Gate v") + QCoreApplication::applicationVersion());
    connect(m_tray, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    auto *menu = new QMenu(this);
    connect(menu->addAction(tr("Show/Hide")), &QAction::triggered, this,
            [this] { process_action(A_VSWITCH); });
    menu->addSeparator();
    connect(menu->addAction(tr("About")), &QAction::triggered, this, [this] { process_action(A_ABOUT); });
    connect(menu->addAction(tr("Exit")), &QAction::triggered, this, [this] { process_action(A_EXIT); });
    m_tray->setContextMenu(menu);
    m_tray->setVisible(true);
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    if (isVisible())
        hide();
    else
        show();
}

void MainWindow::process_action(int act)
{
    switch (act) {
    case A_EXIT:
        QCoreApplication::exit(0);
        break;
    case A_VSWITCH:
        if (isVisible())
            mhide();
        else
            show();
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
    if (m_tray)
        hide();
    else
        showMinimized();
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
    if (!m_updater)
        return;
    m_updateTimeout.stop();
    m_manualUpdateCheck = true;
    m_updater->checkUpdates();
    m_updateTimeout.start();
}

void MainWindow::updateTimedOut()
{
    if (m_manualUpdateCheck) {
        m_manualUpdateCheck = false;
        QMessageBox::information(this, tr("Check for Updates"), tr("No available updates."));
    } else {
        ui->statusBar->showMessage(tr("No available updates."), 5000);
    }
}

void MainWindow::updater_checkFailed()
{
    m_updateTimeout.stop();
    const QString text = tr("Could not check for updates: the update feed cannot be reached or read.");
    if (m_manualUpdateCheck) {
        m_manualUpdateCheck = false;
        QMessageBox::warning(this, tr("Check for Updates"), text);
    } else {
        ui->statusBar->showMessage(text, 5000);
    }
}

void MainWindow::updater_updatesAvailable(bool can_update, const QString &latest, const QString &changelog,
                                          const QString &url)
{
    m_updateTimeout.stop();
    if (!can_update) {
        if (m_manualUpdateCheck) {
            m_manualUpdateCheck = false;
            QMessageBox::information(this, tr("Check for Updates"), tr("You have the latest version."));
        } else {
            ui->statusBar->showMessage(tr("The latest app version is installed."), 5000);
        }
        return;
    }
    QMessageBox box(this);
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
