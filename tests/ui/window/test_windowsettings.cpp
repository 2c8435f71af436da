#include "appidentity.h"
#include "cxgatewrunner.h"
#include "eventwait.h"
#include "httptestserver.h"
#include "mainwindow.h"
#include "modalanswers.h"
#include "runnerhost.h"
#include "settingskeys.h"
#include "settingspage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QSslSocket>
#include <QStackedWidget>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>

#include <memory>

// The window without devices: settings page, layout, showing and hiding, updates, About box.
class TestWindowSettings : public QObject
{
    Q_OBJECT

    template <typename T> static T *child(QWidget &w, const char *name)
    {
        T *found = w.findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no %s in the window", name);
        return found;
    }

    static int rescansWhile(MainWindow &w, int waitMs)
    {
        int rescans = 0;
        connect(w.runnerHost(), &RunnerHost::finished, &w, [&rescans](int op) {
            if (op == CxgatewRunner::Rescan)
                ++rescans;
        });
        QTest::qWait(waitMs);
        disconnect(w.runnerHost(), &RunnerHost::finished, &w, nullptr);
        return rescans;
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        qApp->setQuitOnLastWindowClosed(false);
        MainWindow::Timings timings;
        timings.scanIntervalUnitMs = 10;
        timings.autoRescanFloorMs = 1000;
        timings.updateTimeoutMs = 500;
        MainWindow::setDefaultTimings(timings);
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue(Key::UpdatesAuto, false);
        settings.setValue(Key::SystemAutoScan, false);
    }

    void settingsPageShowsStoredValues_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("intervalText");
        QTest::addColumn<QString>("languageText");
        QTest::addColumn<bool>("warns");
        QTest::newRow("between two") << 250 << "en"
                                     << "5 min"
                                     << "English" << false;
        QTest::newRow("above all") << 100000 << "ru"
                                   << "1 day"
                                   << "Russian" << false;
        QTest::newRow("below all") << 100 << "ru_RU"
                                   << "3 min"
                                   << "Russian" << false;
        QTest::newRow("exact") << 3600 << "en_US"
                               << "1 hour"
                               << "English" << false;
        // Both run in English, as the page shows: Apply changes nothing visible.
        QTest::newRow("other language") << 180 << "de_DE"
                                        << "3 min"
                                        << "English" << false;
        QTest::newRow("not a russian prefix") << 300 << "rus"
                                              << "5 min"
                                              << "English" << false;
        QTest::newRow("C locale") << 300 << "C"
                                  << "5 min"
                                  << "English" << false;
    }

    // Loading picks the interval entry and the language; Apply keeps the page as it was, warns
    // only when the language really changes, and stores "en" / "ru".
    void settingsPageShowsStoredValues()
    {
        QFETCH(int, interval);
        QFETCH(QString, language);
        QFETCH(QString, intervalText);
        QFETCH(QString, languageText);
        QSettings().setValue(Key::CloudInterval, interval);
        QSettings().setValue(Key::UiLanguage, language);
        MainWindow w;
        QCOMPARE(child<QComboBox>(w, "settingsCloudIntervalCombo")->currentText(), intervalText);
        QCOMPARE(child<QComboBox>(w, "settingsLangCombo")->currentText(), languageText);

        ModalAnswers modals;
        QFETCH(bool, warns);
        if (warns)
            modals.expect(ModalAnswers::press(QMessageBox::Ok));
        child<QPushButton>(w, "settingsApplyButton")->click();
        QCOMPARE(modals.seen().size(), warns ? 1 : 0);
        QCOMPARE(QSettings().value(Key::UiLanguage).toString(),
                 child<QComboBox>(w, "settingsLangCombo")->currentIndex() == 1 ? "ru" : "en");
        QCOMPARE(QSettings().value(Key::CloudInterval).toInt(),
                 SettingsPage::intervalSeconds(SettingsPage::intervalIndex(interval)));
    }

    // Every control goes to its key on Apply and comes back on Revert; changing language and
    // theme warns that they apply at the next start; Apply re-arms the automatic rescan.
    void applyThenRevert()
    {
        MainWindow w;
        child<QComboBox>(w, "settingsLangCombo")->setCurrentIndex(1);
        child<QCheckBox>(w, "settingsDarkCheck")->setChecked(true);
        child<QCheckBox>(w, "settingsSysAutostartCheck")->setChecked(true);
        child<QCheckBox>(w, "settingsSysCloseTrayCheck")->setChecked(false);
        child<QCheckBox>(w, "settingsSysHiddenCheck")->setChecked(true);
        child<QCheckBox>(w, "settingsSysAutoscanCheck")->setChecked(true);
        child<QSpinBox>(w, "settingsSysScanIntervalSpin")->setValue(1);
        child<QComboBox>(w, "settingsCloudIntervalCombo")->setCurrentIndex(7);
        child<QSpinBox>(w, "settingsCloudKeepAliveSpin")->setValue(45);
        child<QLineEdit>(w, "settingsCloudHostEdit")->setText("broker.example");
        child<QSpinBox>(w, "settingsCloudPortSpin")->setValue(1883);

        ModalAnswers modals;
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        child<QPushButton>(w, "settingsApplyButton")->click();
        QCOMPARE(modals.seen().size(), 2);
        QCOMPARE(modals.seen()[0].title, "Language");
        QCOMPARE(modals.seen()[0].text, "Language will be changed when the application is relaunched");
        QCOMPARE(modals.seen()[1].title, "Theme");
        QCOMPARE(modals.seen()[1].text,
                 "Application theme will be changed when the application is relaunched");

        const QSettings settings;
        QCOMPARE(settings.value(Key::UiLanguage).toString(), "ru");
        QCOMPARE(settings.value(Key::CloudInterval).toInt(), 7200);
        QCOMPARE(settings.value(Key::CloudHost).toString(), "broker.example");
        QVERIFY(QFile::exists(QDir::homePath() + "/.config/autostart/Tessel-TSL-Gate.desktop"));

        // The page now differs from the store; Revert brings back what Apply stored.
        child<QComboBox>(w, "settingsCloudIntervalCombo")->setCurrentIndex(0);
        child<QCheckBox>(w, "settingsSysHiddenCheck")->setChecked(false);
        child<QPushButton>(w, "settingsRevertButton")->click();
        QCOMPARE(child<QComboBox>(w, "settingsCloudIntervalCombo")->currentText(), "2 hours");
        QVERIFY(child<QCheckBox>(w, "settingsSysHiddenCheck")->isChecked());
        QCOMPARE(child<QSpinBox>(w, "settingsCloudKeepAliveSpin")->value(), 45);

        // Auto rescan is on now, at the 1 s floor of this test (1 "minute" is 10 ms here).
        QCOMPARE(rescansWhile(w, 600), 0);
        QVERIFY(waitUntil([&] { return rescansWhile(w, 200) > 0; }, 10000));

        child<QCheckBox>(w, "settingsSysAutostartCheck")->setChecked(false);
        child<QCheckBox>(w, "settingsSysAutoscanCheck")->setChecked(false);
        child<QPushButton>(w, "settingsApplyButton")->click();
        QVERIFY(!QFile::exists(QDir::homePath() + "/.config/autostart/Tessel-TSL-Gate.desktop"));
        QCOMPARE(modals.seen().size(), 2);
        QTest::qWait(100);
        QCOMPARE(rescansWhile(w, 1500), 0);
    }

    void backupFileNames()
    {
        QCOMPARE(SettingsPage::backupFileName("/tmp/conf"), "/tmp/conf.bak");
        QCOMPARE(SettingsPage::backupFileName("/tmp/conf.BAK"), "/tmp/conf.BAK");
    }

    // Geometry and tool bar state are stored on destruction in both copies; restoring shows the
    // navigation bar even when the saved state hid it.
    void layoutAndVisibility()
    {
        {
            MainWindow w;
            w.resize(700, 480);
            child<QToolBar>(w, "navBar")->setVisible(false);
        }
        const QSettings settings;
        for (const SettingKey &key : {Key::UiGeom, Key::UiState, Key::SystemWindow, Key::SystemState})
            QVERIFY2(!settings.value(key).toByteArray().isEmpty(), key.name());

        MainWindow w;
        w.restoreSystemLayout();
        QCOMPARE(w.size(), QSize(700, 480));
        QVERIFY(!child<QToolBar>(w, "navBar")->isHidden());

        // A second start asks the first to show itself.
        QVERIFY(!w.isVisible());
        w.instanceMessage("show");
        QVERIFY(w.isVisible());

        // Actions that change nothing, and the show/hide switch. Without a tray icon (none on this
        // platform) hiding minimises, so the window stays reachable.
        QVERIFY(!w.trayIcon());
        const int page = child<QStackedWidget>(w, "mainArea")->currentIndex();
        for (int act : {MainWindow::A_HIDE, MainWindow::A_RESCAN})
            QMetaObject::invokeMethod(&w, "process_action", Q_ARG(int, act));
        QVERIFY(w.isVisible() && !w.isMinimized());
        QCOMPARE(child<QStackedWidget>(w, "mainArea")->currentIndex(), page);
        QMetaObject::invokeMethod(&w, "process_action", Q_ARG(int, MainWindow::A_VSWITCH));
        QTRY_VERIFY(w.isMinimized());

        // Closing with close-to-tray on keeps the program running.
        w.instanceMessage("show");
        QTRY_VERIFY(!w.isMinimized());
        QTimer guard; // ends the event loop when nothing else does
        guard.callOnTimeout([] { QCoreApplication::exit(99); });
        guard.start(300);
        w.close();
        QCOMPARE(qApp->exec(), 99);
        QTRY_VERIFY(w.isMinimized());

        // With it off, closing quits.
        QSettings().setValue(Key::SystemCloseToTray, false);
        guard.start(5000);
        w.close();
        QCOMPARE(qApp->exec(), 0);
    }

    // Mouse wheel over a value widget of the window's pages is swallowed; other events pass.
    void wheelChangesNoValue()
    {
        MainWindow w;
        auto *spin = new QSpinBox(child<QWidget>(w, "deviceConfigsGroup"));
        spin->setRange(0, 100);
        spin->setValue(50);
        spin->installEventFilter(&w);
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(spin, &wheel);
        QCOMPARE(spin->value(), 50);
    }

    // A check offers the newer release and asks; no newer release, or no answer within the
    // time-out, say so.
    void updateChecks()
    {
        HttpTestServer feed;
        QVERIFY(feed.start());
        feed.setResponse(
            "/appcast.json",
            HttpScriptedResponse::text(
                200, "[{\"version\":\"0.3.0\",\"changelog\":[\"R\"],\"url86\":\"http://127.0.0.1/dl\"}]"));
        QSettings().setValue(Key::WebUpdateUrl, feed.url("/appcast.json").toString());
        auto w = std::make_unique<MainWindow>();
        QAction *check = w->findChild<QAction *>("actionCheck_for_updates");
        QVERIFY(check);

        ModalAnswers modals;
        modals.expect(ModalAnswers::press(QMessageBox::No));
        check->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(modals.seen().size(), 1, 10000);
        QCOMPARE(modals.seen()[0].title, "Check for Updates");
        QVERIFY2(modals.seen()[0].text.contains("<b>0.3.0</b>") &&
                     modals.seen()[0].text.contains("href=\"http://127.0.0.1/dl\""),
                 qPrintable(modals.seen()[0].text));

        feed.setResponse("/appcast.json", HttpScriptedResponse::text(200, "[]"));
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        check->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(modals.seen().size(), 2, 10000);
        QCOMPARE(modals.seen()[1].text, "You have the latest version.");

        // A feed that cannot be read is a failed check, not an all-clear.
        feed.setResponse("/appcast.json", HttpScriptedResponse::text(500, "<html>"));
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        check->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(modals.seen().size(), 3, 10000);
        QCOMPARE(modals.seen()[2].text,
                 "Could not check for updates: the update feed cannot be reached or read.");

        // A feed that never completes: the manual check gives up after the time-out.
        feed.setResponse("/appcast.json", HttpScriptedResponse::eventStream().keepingOpen());
        modals.expect(ModalAnswers::press(QMessageBox::Ok));
        check->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(modals.seen().size(), 4, 10000);
        QCOMPARE(modals.seen()[3].text, "No available updates.");

        // Quitting while that check still waits for its feed, with the start-up's runner completions
        // on their way: the window goes within the download's time-out, and nothing reaches it half
        // destroyed (the sanitizer build would say so).
        w->runInitSequence();
        QElapsedTimer closing;
        closing.start();
        w.reset();
        QVERIFY2(closing.elapsed() < 12000, qPrintable(QString::number(closing.elapsed())));
    }

    void aboutBox()
    {
        MainWindow w;
        ModalAnswers modals;
        modals.expect([](QWidget *box) {
            auto *dialog = qobject_cast<QDialog *>(box);
            if (dialog)
                dialog->accept();
            return dialog != nullptr;
        });
        w.findChild<QAction *>("actionAbout")->trigger();
        QCOMPARE(modals.seen().size(), 1);
        QCOMPARE(modals.seen()[0].title, "TSL-Gate");
        const QString text = modals.seen()[0].text;
        for (const char *part : {"Tessel Cloud Gateway Software.", "0.2.0 (", "hidapi", "libmosquitto",
                                 "EPL / EDL", "Material Icons", "Apache v2.0 License"})
            QVERIFY2(text.contains(QLatin1String(part)), part);
        QVERIFY(text.contains(QSslSocket::supportsSsl() ? QSslSocket::sslLibraryVersionString()
                                                        : QStringLiteral("OpenSSL: not loaded")));
    }
};

QTEST_MAIN(TestWindowSettings)
#include "test_windowsettings.moc"
