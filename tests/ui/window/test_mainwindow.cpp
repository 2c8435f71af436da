#include "appidentity.h"
#include "calvexcloudclient.h"
#include "cxgatewrunner.h"
#include "devcloudprocess.h"
#include "eventwait.h"
#include "gatewaything.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "mosquittosubscriber.h"
#include "qledlabel.h"
#include "runnerhost.h"
#include "settingskeys.h"
#include "simulatedhidbus.h"
#include "simulatedhiddevice.h"
#include "thingsstatetablemodel.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSplashScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <memory>

// The window over the real runner on its thread, with simulated devices and the dev cloud.
class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimulatedHidBus> m_bus;

    // The build tree's bin/, beside its plugins/ and lib/.
    static QString programDir()
    {
        return qEnvironmentVariable("TSL_TEST_BUILD_DIR") + QStringLiteral("/bin");
    }

    template <typename T> static T *child(QWidget &w, const char *name)
    {
        T *found = w.findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no %s in the window", name);
        return found;
    }
    static QString text(MainWindow &w, const char *label) { return child<QLabel>(w, label)->text(); }
    static QAbstractItemModel *dashboard(MainWindow &w)
    {
        return child<QTableView>(w, "deviceStateTable")->model();
    }
    static QStringList column(MainWindow &w, int col)
    {
        QStringList values;
        QAbstractItemModel *model = dashboard(w);
        for (int row = 0; row < model->rowCount(); ++row)
            values << model->index(row, col).data().toString();
        return values;
    }

    // Completions of the window's runner, in order, from now on.
    struct Completions : QObject
    {
        QList<QPair<int, QVariant>> list;
        explicit Completions(MainWindow &w)
        {
            connect(w.runnerHost(), &RunnerHost::finished, this, [this](int op, const QVariant &result) {
                list.append({op, result});
            });
        }
        int count(int op) const
        {
            return int(
                std::count_if(list.cbegin(), list.cend(), [op](const auto &c) { return c.first == op; }));
        }
        QVariant last(int op) const
        {
            for (auto it = list.crbegin(); it != list.crend(); ++it) {
                if (it->first == op)
                    return it->second;
            }
            return {};
        }
    };

    // Registers through the wizard as a user does: "Start", a name typed into each "Thing Name"
    // dialog, the code on the display confirmed at the portal. Leaves the wizard on its last page.
    static bool registerThroughWizard(MainWindow &w, const DevCloudProcess &cloud, ModalAnswers &modals,
                                      const QStringList &names)
    {
        auto *start = child<QAbstractButton>(w, "cloudGetCodeButton");
        auto *pages = child<QStackedWidget>(w, "regWizard");
        if (!waitUntil([&] { return start->isEnabled(); }, 15000))
            return false;
        for (const QString &name : names)
            modals.expect(ModalAnswers::enterText(name));
        start->click();
        if (!waitUntil([&] { return pages->currentIndex() == MainWindow::R_CODE; }, 15000))
            return false;
        const int code = child<QLCDNumber>(w, "cloudCodeDisplay")->intValue();
        return modals.pending() == 0 && cloud.confirm(QString::number(code)) &&
               waitUntil([&] { return pages->currentIndex() == MainWindow::R_FIN; }, 30000);
    }
    static QStringList resultLines(MainWindow &w)
    {
        QStringList lines;
        auto *list = child<QListWidget>(w, "cloudRegResultList");
        for (int row = 0; row < list->count(); ++row)
            lines << list->item(row)->text();
        return lines;
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        qApp->setQuitOnLastWindowClosed(false);
        m_bus = std::make_unique<SimulatedHidBus>();
        QVERIFY2(m_bus->isActive(), "the umockdev preload is not active");
        MainWindow::Timings timings;
        timings.rescanDelayMs = 3000;
        MainWindow::setDefaultTimings(timings);
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue(Key::UpdatesAuto, false);
        settings.setValue(Key::SystemAutoScan, false);
        CalvexCloudClient().removeCredentials();
    }

    void cleanup()
    {
        for (SimulatedHidDevice *device : m_bus->devices())
            m_bus->unplug(device->serial());
    }

    // The splash counts the steps of start-up, the dashboard fills from the devices, and three
    // devices leaving close together lead to one rescan after the last of them.
    void startupAndDashboard()
    {
        m_bus->plugSensor("S1")->injectTemperature(21.5);
        m_bus->plugSensor("S2");
        m_bus->plugWatchdog("W1");
        MainWindow w(nullptr, programDir());
        QStringList splash;
        connect(
            &w, &MainWindow::loadProgress, &w,
            [&splash] {
                for (QWidget *top : QApplication::topLevelWidgets()) {
                    if (auto *screen = qobject_cast<QSplashScreen *>(top))
                        splash << screen->message();
                }
            },
            Qt::QueuedConnection);
        w.runInitSequence();
        QCOMPARE(splash, QStringList({"0/4 Loading plugins", "1/4 Assembling plugins list",
                                      "2/4 Scanning for devices", "3/4 Assembling devices list",
                                      "4/4 Connecting to the cloud", "5/5 Requesting status"}));
        QVERIFY(w.isVisible());
        QCOMPARE(child<QStackedWidget>(w, "mainArea")->currentIndex(), int(MainWindow::P_STATE));
        QTRY_COMPARE(column(w, ThingsStateTableModel::ColType),
                     QStringList({"gateway", "thx9", "thx9", "watchdog"}));
        QCOMPARE(column(w, ThingsStateTableModel::ColSerial).mid(1), QStringList({"S1", "S2", "W1"}));
        QTRY_VERIFY(column(w, ThingsStateTableModel::ColState).value(1).contains("21.5"));
        QCOMPARE(text(w, "cloudGatewayStatus"), "Not registered");
        QCOMPARE(text(w, "cloudKeyStatus"), "Missing");
        QCOMPARE(text(w, "cloudCertificateStatus"), "Missing");
        QCOMPARE(text(w, "cloudConnectionStatus"), "---");
        QCOMPARE(w.statusBar()->findChild<QLedLabel *>()->toolTip(), "Cloud connection is not configured");

        Completions seen(w);
        for (const char *serial : {"S1", "S2", "W1"})
            m_bus->unplug(serial);
        QTRY_COMPARE_WITH_TIMEOUT(dashboard(w)->rowCount(), 1, 15000);
        QCOMPARE(seen.count(CxgatewRunner::Rescan), 0);
        QTRY_COMPARE_WITH_TIMEOUT(seen.count(CxgatewRunner::Rescan), 1, 15000);
        QTest::qWait(w.defaultTimings().rescanDelayMs + 500);
        QCOMPARE(seen.count(CxgatewRunner::Rescan), 1);

        // The navigation's rescan asks at once and stays on the page.
        w.findChild<QAction *>("actionRescan")->trigger();
        QTRY_COMPARE(seen.count(CxgatewRunner::Rescan), 2);
        QCOMPARE(child<QStackedWidget>(w, "mainArea")->currentIndex(), int(MainWindow::P_STATE));
    }

    // Every control of every page, the generated device types included, has a name of its own as
    // plain text (a combo box its label). Labels are named by what they show; the parts of a composite
    // control (the field of a spin box or combo box, an item view's viewport, headers and scroll bars) and
    // Qt's own helpers (named "qt_...", like the tool bar's extension button) are no controls of their own.
    void accessibleNames()
    {
        m_bus->plugSensor("S1");
        MainWindow w(nullptr, programDir());
        w.runInitSequence();
        auto *types = child<QGroupBox>(w, "deviceConfigsGroup");
        QTRY_VERIFY(types->findChild<QGroupBox *>("thx9") && types->findChild<QGroupBox *>("watchdog"));
        auto isPart = [&w](const QWidget *widget) {
            if (widget->objectName().startsWith("qt_") || qobject_cast<const QScrollBar *>(widget))
                return true;
            for (const QWidget *p = widget->parentWidget(); p && p != &w; p = p->parentWidget()) {
                if (qobject_cast<const QAbstractSpinBox *>(p) || qobject_cast<const QComboBox *>(p) ||
                    qobject_cast<const QAbstractItemView *>(p))
                    return true;
            }
            return false;
        };
        QHash<QString, QString> owner;
        QStringList faults;
        for (QWidget *widget : w.findChildren<QWidget *>()) {
            if ((widget->focusPolicy() == Qt::NoFocus && !qobject_cast<QGroupBox *>(widget)) ||
                qobject_cast<QLabel *>(widget) || isPart(widget))
                continue;
            QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
            QString name = control->text(QAccessible::Name);
            // On Linux a combo box is named by its choice; its label comes as a relation.
            if (qobject_cast<QComboBox *>(widget)) {
                const auto labels = control->relations(QAccessible::Label);
                name = labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
            }
            const QString what =
                QString("%1 %2 \"%3\"").arg(widget->metaObject()->className(), widget->objectName(), name);
            if (name.isEmpty() || name.contains('<'))
                faults << what;
            else if (owner.contains(name))
                faults << what + " like " + owner[name];
            owner.insert(name, widget->objectName());
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        QCOMPARE(owner.value("Temperature Unit:"), "unit");
        QCOMPARE(owner.value("thx9"), "thx9");
    }

    void startHidden()
    {
        QSettings().setValue(Key::SystemStartHidden, true);
        MainWindow w(nullptr, programDir());
        w.runInitSequence();
        QVERIFY(!w.isVisible());
        QCOMPARE(column(w, ThingsStateTableModel::ColType), QStringList({"gateway"}));
    }

    // A failed plug-in load ends start-up: no window, and the application ends with 1 once its
    // event loop runs.
    void failedStartExitsWithOne()
    {
        QTemporaryDir empty;
        QVERIFY(QDir(empty.path()).mkpath("bin"));
        MainWindow w(nullptr, empty.path() + "/bin");
        w.runnerHost()->post(
            [](CxgatewRunner *runner) { emit runner->finished(CxgatewRunner::Load, false); });
        w.runInitSequence();
        QVERIFY(!w.isVisible());
        for (QWidget *top : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<QSplashScreen *>(top));
        QTimer guard; // ends the event loop when nothing else does
        guard.callOnTimeout([] { QCoreApplication::exit(99); });
        guard.start(10000);
        QCOMPARE(qApp->exec(), 1);
    }

    // Status labels and the indicator before and after registration and while the broker is away;
    // the runner's errors as a box; backup and restore through the buttons; reset.
    void cloudPage()
    {
        QTemporaryDir data;
        DevCloudProcess cloud;
        QVERIFY2(cloud.start(data.path()), qPrintable(cloud.diagnostics()));
        cloud.pointGatewayHere();
        m_bus->plugSensor("S1")->injectTemperature(21.5);
        m_bus->plugWatchdog("W1");
        MainWindow w(nullptr, programDir());
        w.runInitSequence();
        QCOMPARE(text(w, "cloudGatewayStatus"), "Not registered");
        w.findChild<QAction *>("actionCloud")->trigger();
        QCOMPARE(child<QStackedWidget>(w, "mainArea")->currentIndex(), int(MainWindow::P_CLOUD));
        QCOMPARE(text(w, "clousSerialNumberStatus"), "Not registered");
        QCOMPARE(child<QLabel>(w, "regWizardHeader")->text(), "Step 1. Fill in the thing names");

        ModalAnswers modals;
        QVERIFY2(registerThroughWizard(w, cloud, modals, {"Gate0", "Thing0", "Thing1"}),
                 qPrintable(cloud.diagnostics()));
        QCOMPARE(modals.seen().size(), 3);
        QCOMPARE(modals.seen()[0].title, "Thing Name");
        const QString serial = QSettings().value(Key::CloudSerial).toString();
        QStringList lines = resultLines(w);
        lines.sort();
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith("Gate0 (gateway): gateway_"), qPrintable(lines[0]));
        QVERIFY(lines[1].startsWith("Thing0: ") && lines[2].startsWith("Thing1: "));
        QCOMPARE(child<QStackedWidget>(w, "mainArea")->currentIndex(), int(MainWindow::P_STATE));
        QTRY_COMPARE(text(w, "cloudGatewayStatus"), "Ready");
        QCOMPARE(text(w, "cloudKeyStatus"), "Ok");
        QCOMPARE(text(w, "cloudCertificateStatus"), "Ok");
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "cloudConnectionStatus"), "Connected", 30000);
        QCOMPARE(w.statusBar()->findChild<QLedLabel *>()->toolTip(), "Connected to the cloud");
        w.findChild<QAction *>("actionCloud")->trigger();
        QCOMPARE(text(w, "clousSerialNumberStatus"), serial);
        QTRY_COMPARE(child<QLabel>(w, "regWizardHeader")->text(), "Step 4. Finish");
        child<QAbstractButton>(w, "cloudRestartRegButton")->click();
        QTRY_COMPARE(child<QLabel>(w, "regWizardHeader")->text(), "Your registration process is complete");
        QVERIFY(!child<QAbstractButton>(w, "cloudGetCodeButton")->isEnabled());

        // The console sees the sensor's state.
        MosquittoSubscriber states(cloud.consoleArguments(), "things/+/state");
        QVERIFY2(states.waitForSubscribed(), qPrintable(states.transcript()));
        w.runnerHost()->post([](CxgatewRunner *runner) { runner->gateway()->reportStates(); });
        QVERIFY2(waitUntil([&] { return states.lines().filter("/state {\"t\":21.5}").size() == 1; }, 10000),
                 qPrintable(states.lines().join('\n')));

        // Device configuration: the wheel changes nothing; Apply hands "rst" to the watchdog at once,
        // so the cloud's reset goes through only while it is on; "Revert" shows what is stored.
        w.findChild<QAction *>("actionDevices")->trigger();
        auto *watchdogGroup = child<QGroupBox>(w, "watchdog");
        auto *rst = watchdogGroup->findChild<QCheckBox *>("rst");
        QVERIFY(rst && !rst->isChecked());
        auto *unit = child<QGroupBox>(w, "deviceConfigsGroup")->findChild<QComboBox *>("unit");
        QVERIFY(unit);
        const QString unitBefore = unit->currentText();
        QWheelEvent wheel(QPointF(5, 5), unit->mapToGlobal(QPoint(5, 5)), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(unit, &wheel);
        QCOMPARE(unit->currentText(), unitBefore);
        SimulatedHidDevice *watchdog = m_bus->device("W1");
        const QString watchdogId = lines.filter("_W1_").value(0).section(": ", 1);
        QVERIFY(!watchdogId.isEmpty());
        const auto resetReached = [&](bool allowed) {
            rst->setChecked(allowed);
            child<QPushButton>(w, "deviceConfigsWriteButton")->click();
            watchdog->takeOutputs();
            if (!cloud.publish(QStringLiteral("things/%1/update").arg(watchdogId), "{\"rst\":1}"))
                return false;
            const auto reset = [&] { return watchdog->takeOutputs().contains(QByteArray("\x01\x02", 2)); };
            return allowed ? waitUntil(reset, 10000) : !waitUntil(reset, 2000);
        };
        QVERIFY(resetReached(true));
        QVERIFY(resetReached(false));
        QCOMPARE(QSettings().value("Plugins/watchdog/rst").toBool(), false);
        rst->setChecked(true);
        child<QPushButton>(w, "deviceConfigsReadButton")->click();
        QVERIFY(!rst->isChecked());

        // The registry forgets a device; a second session registers it again.
        w.findChild<QAction *>("actionRegistry")->trigger();
        auto *registry = child<QTableView>(w, "thingsView");
        const int before = registry->model()->rowCount();
        int sensorRow = -1;
        for (int row = 0; row < before; ++row) {
            if (registry->model()->index(row, 2).data().toString() == "S1")
                sensorRow = row;
        }
        QVERIFY(sensorRow >= 0);
        registry->selectRow(sensorRow);
        child<QPushButton>(w, "forgetButton")->click();
        QTRY_COMPARE(registry->model()->rowCount(), before - 1); // the runner forgets it
        w.findChild<QAction *>("actionCloud")->trigger();
        QTRY_COMPARE(child<QLabel>(w, "regWizardHeader")->text(), "Step 1. Fill in the thing names");
        QVERIFY2(registerThroughWizard(w, cloud, modals, {"Thing2"}), qPrintable(cloud.diagnostics()));
        QVERIFY2(resultLines(w).filter(QRegularExpression("^Thing2: .*_S1_")).size() == 1,
                 qPrintable(resultLines(w).join('\n')));

        // A rename the runner refuses comes back as a warning box with its text.
        const int seenBefore = int(modals.seen().size());
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        QAbstractItemModel *model = dashboard(w);
        const QString taken = model->index(1, ThingsStateTableModel::ColAlias).data().toString();
        QVERIFY(model->setData(model->index(2, ThingsStateTableModel::ColAlias), taken));
        const auto seenAt = [&](int i) { return modals.seen().value(seenBefore + i); };
        QTRY_COMPARE(modals.seen().size(), seenBefore + 1);
        QCOMPARE(seenAt(0).title, "TSL-Gate");
        QVERIFY2(seenAt(0).text.contains("duplicate alias"), qPrintable(seenAt(0).text));

        // Export: the name gets its ".bak", the folder is remembered; a cancelled dialog asks nothing.
        Completions seen(w);
        QTemporaryDir backups;
        modals.expect(ModalAnswers::chooseFile(backups.filePath("conf")));
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        child<QPushButton>(w, "settingsBackupButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(modals.seen().size(), seenBefore + 3, 15000);
        QCOMPARE(seenAt(2).title, "Backup");
        QVERIFY(QFile::exists(backups.filePath("conf.bak")));
        QCOMPARE(QSettings().value(Key::SystemExportDirectory).toString(), backups.path());
        modals.expect(ModalAnswers::chooseFile(QString()));
        child<QPushButton>(w, "settingsBackupButton")->click();
        modals.expect(ModalAnswers::chooseFile(backups.filePath("conf.bak")));
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        child<QPushButton>(w, "settingsRestoreButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(modals.seen().size(), seenBefore + 6, 15000);
        QCOMPARE(seenAt(5).title, "Import");
        QCOMPARE(seen.count(CxgatewRunner::SExport), 1);

        QVERIFY(cloud.stop());
        QTRY_COMPARE_WITH_TIMEOUT(text(w, "cloudConnectionStatus"), "Disconnected", 30000);
        // The reason of the failed reconnection shows on the cloud page and in the indicator's tip.
        QTRY_VERIFY_WITH_TIMEOUT(!text(w, "cloudErrorLabel").isEmpty(), 30000);
        QCOMPARE(w.statusBar()->findChild<QLedLabel *>()->toolTip(),
                 "Disconnected from the cloud\n" + text(w, "cloudErrorLabel"));
        // Reports waiting for the cloud show in the tip and on the cloud page while any wait.
        auto *backlog = child<QLabel>(w, "cloudBacklogLabel");
        QVERIFY(backlog->isHidden());
        emit w.runnerHost()->backlogChanged({3, QDateTime::currentMSecsSinceEpoch() - 150000, 2, true});
        QTRY_VERIFY(!backlog->isHidden());
        QCOMPARE(backlog->text(),
                 "Reports waiting for the cloud: 3, the oldest for 2 min; dropped: 2; kept in "
                 "memory only: they are lost if the program ends");
        QVERIFY(w.statusBar()->findChild<QLedLabel *>()->toolTip().endsWith("\n" + backlog->text()));
        emit w.runnerHost()->backlogChanged(OutboxBacklog());
        QTRY_VERIFY(backlog->isHidden());

        modals.expect(ModalAnswers::press(QMessageBox::Yes));
        child<QAbstractButton>(w, "settingsResetGWButton")->click();
        QCOMPARE(modals.seen().last().title, "Gateway Registration");
        QCOMPARE(text(w, "clousSerialNumberStatus"), "Not registered");
        w.runnerHost()->call(&CxgatewRunner::cloudStatus);
        QTRY_COMPARE(text(w, "cloudGatewayStatus"), "Not registered");
    }

    // A registrar that refuses: the error box with the registrar's code, then step 1 again.
    void registrarRefuses()
    {
        QTemporaryDir data;
        DevCloudProcess cloud;
        QVERIFY2(cloud.start(data.path(), {"--fault", "error"}), qPrintable(cloud.diagnostics()));
        cloud.pointGatewayHere();
        m_bus->plugSensor("S1");
        MainWindow w(nullptr, programDir());
        w.runInitSequence();
        w.findChild<QAction *>("actionCloud")->trigger();
        auto *start = child<QAbstractButton>(w, "cloudGetCodeButton");
        QTRY_VERIFY(start->isEnabled());
        ModalAnswers modals;
        modals.expect(ModalAnswers::enterText("Gate0"));
        modals.expect(ModalAnswers::enterText("Thing0"));
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        start->click();
        QTRY_COMPARE_WITH_TIMEOUT(modals.seen().size(), 3, 15000);
        QCOMPARE(modals.seen()[2].title, "Registration Error");
        QVERIFY2(modals.seen()[2].text.startsWith("Registation has completed with an error.<br>") &&
                     modals.seen()[2].text.endsWith("(403)"),
                 qPrintable(modals.seen()[2].text));
        QTRY_COMPARE(child<QLabel>(w, "regWizardHeader")->text(), "Step 1. Fill in the thing names");
        QCOMPARE(child<QStackedWidget>(w, "regWizard")->currentIndex(), int(MainWindow::R_SERIAL));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
