#include "appupdater.h"
#include "devcloudprocess.h"
#include "settingskeys.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeFile(const QString &path, const QByteArray &data, bool executable = false)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFile::ExeOwner | QFile::ExeUser);
}

QDateTime lastCheck()
{
    return QDateTime::fromString(QSettings().value(Key::UpdatesLastCheck).toString(),
                                 QLatin1String(Key::TimestampFormat));
}

// Answers every message box that opens (recording title and text) and records the values the
// progress dialog shows, as a person watching the screen would.
class ScreenWatcher : public QObject
{
public:
    QStringList boxes;
    QList<int> progress;

    ScreenWatcher() { m_timer = startTimer(20); }

protected:
    void timerEvent(QTimerEvent *) override
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                boxes << box->windowTitle() + QStringLiteral(" | ") + box->text();
                box->button(QMessageBox::Ok)->click();
            } else if (auto *dialog = qobject_cast<QProgressDialog *>(w); dialog && dialog->isVisible()) {
                if (progress.isEmpty() || progress.last() != dialog->value())
                    progress << dialog->value();
            }
        }
    }

private:
    int m_timer;
};

} // namespace

class TestAppUpdater : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    DevCloudProcess m_cloud;
    QString m_feedFile;

    // One check: the outcome as (can_update, version, changelog, url), or {"failed"}.
    QList<QVariant> check(AppUpdater &updater)
    {
        QSignalSpy outcome(&updater, &AppUpdater::updateInfoAvailable);
        QSignalSpy failed(&updater, &AppUpdater::checkFailed);
        updater.checkUpdates();
        if (!QTest::qWaitFor([&] { return !outcome.isEmpty() || !failed.isEmpty(); }, 20000))
            return {};
        return failed.isEmpty() ? outcome.takeFirst() : QList<QVariant>{QStringLiteral("failed")};
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("tessel.pro"));
        QCoreApplication::setApplicationName(QStringLiteral("TSL-Gate"));
        QCoreApplication::setApplicationVersion(QStringLiteral("0.2.0"));
        QVERIFY(m_dir.isValid());
        m_feedFile = m_dir.filePath(QStringLiteral("appcast.json"));
        writeFile(m_feedFile, "[]");
        QVERIFY2(m_cloud.start(m_dir.filePath(QStringLiteral("cloud")),
                               {QStringLiteral("--update-feed"), m_feedFile}),
                 qPrintable(m_cloud.diagnostics()));
    }

    void init()
    {
        QSettings settings;
        settings.clear();
        settings.setValue(Key::UpdatesAuto, false);
    }

    void evaluatesTheFeed_data()
    {
        QTest::addColumn<QByteArray>("feed");
        QTest::addColumn<QList<QVariant>>("outcome");
        const QList<QVariant> none{false, QString(), QString(), QString()};
        QTest::newRow("two newer releases, oldest first")
            << QByteArray(R"([{"version":"0.2.1","changelog":["P","Q"],"url86":"U1"},
                              {"version":"0.3.0","changelog":["R"],"url86":"U2"}])")
            << QList<QVariant>{true, "0.3.0", "\nR\nP\nQ", "U2"};
        QTest::newRow("nothing newer") << QByteArray(R"([{"version":"0.2.0","changelog":["A"],"url86":"U1"},
                                                         {"version":"0.1.9","changelog":["B"],"url86":"U2"}])")
                                       << none;
        QTest::newRow("equal newest: the first wins, both notes kept")
            << QByteArray(R"([{"version":"0.3.0","changelog":["A"],"url86":"U1"},
                              {"version":"0.3","changelog":["B"],"url86":"U2"}])")
            << QList<QVariant>{true, "0.3.0", "\nB\nA", "U1"};
        const QList<QVariant> failed{QStringLiteral("failed")};
        QTest::newRow("object instead of array")
            << QByteArray(R"({"version":"9.0.0","url86":"U"})") << failed;
        QTest::newRow("not JSON") << QByteArray("<html>") << failed;
    }

    void evaluatesTheFeed()
    {
        QFETCH(QByteArray, feed);
        QFETCH(QList<QVariant>, outcome);
        writeFile(m_feedFile, feed);
        AppUpdater updater(m_cloud.value(QStringLiteral("Web/UpdateURL")));
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QCOMPARE(check(updater), outcome);
        // Every check is stamped, automatic checks switched off or not.
        QVERIFY(lastCheck() >= before);
    }

    void silentServerTimesOutWithoutBlocking()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        AppUpdater updater(QStringLiteral("http://127.0.0.1:%1/appcast.json").arg(silent.serverPort()));
        QSignalSpy outcome(&updater, &AppUpdater::checkFailed);
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(100);
        QElapsedTimer elapsed;
        elapsed.start();

        updater.checkUpdates();
        QTRY_VERIFY(silent.hasPendingConnections());
        // A second request while one runs is ignored and leaves the stamp alone.
        QSettings().setValue(Key::UpdatesLastCheck, QStringLiteral("2001.01.01 00:00:00"));
        updater.checkUpdates();
        QCOMPARE(QSettings().value(Key::UpdatesLastCheck).toString(), QStringLiteral("2001.01.01 00:00:00"));

        QVERIFY(outcome.wait(30000));
        QVERIFY(elapsed.elapsed() >= 9000); // it was the time-out that ended it
        QVERIFY(ticks > 20);                // and the event loop ran all along
        QCOMPARE(outcome.size(), 1);
    }

    void invalidAddressFails()
    {
        AppUpdater updater(QStringLiteral("http://[::1"));
        QCOMPARE(check(updater), QList<QVariant>{QStringLiteral("failed")});
    }

    void checkDueAfterInterval_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<bool>("due");
        QTest::newRow("0 days: one day, exactly") << 0 << qint64(86400) << false;
        QTest::newRow("0 days: one day and a second") << 0 << qint64(86401) << true;
        QTest::newRow("1 day, exactly") << 1 << qint64(86400) << false;
        QTest::newRow("1 day and a second") << 1 << qint64(86401) << true;
        QTest::newRow("7 days, exactly") << 7 << qint64(604800) << false;
        QTest::newRow("7 days and a second") << 7 << qint64(604801) << true;
        QTest::newRow("7 days, two days ago") << 7 << qint64(2 * 86400) << false;
    }

    void checkDueAfterInterval()
    {
        QFETCH(int, interval);
        QFETCH(qint64, secondsAgo);
        QFETCH(bool, due);
        const QDateTime now = QDateTime::currentDateTime();
        QCOMPARE(AppUpdater::checkDue(now.addSecs(-secondsAgo), now, uint(interval)), due);
        QVERIFY(AppUpdater::checkDue(QDateTime(), now, uint(interval)));
    }

    // The constructor starts a check a second later when one is due, and only then.
    void automaticCheck()
    {
        writeFile(m_feedFile, R"([{"version":"0.2.5","changelog":["N"],"url86":"U"}])");
        const QString url = m_cloud.value(QStringLiteral("Web/UpdateURL"));
        QSettings settings;
        settings.setValue(Key::UpdatesAuto, true);
        settings.setValue(Key::UpdatesLastCheck,
                          QDateTime::currentDateTime().toString(QLatin1String(Key::TimestampFormat)));
        {
            AppUpdater updater(url);
            QSignalSpy outcome(&updater, &AppUpdater::updateInfoAvailable);
            QVERIFY(!outcome.wait(1500));
        }
        settings.setValue(Key::UpdatesLastCheck, QStringLiteral("not a time"));
        AppUpdater updater(url);
        QSignalSpy outcome(&updater, &AppUpdater::updateInfoAvailable);
        QVERIFY(outcome.wait(15000));
        QCOMPARE(outcome.first().value(1).toString(), QStringLiteral("0.2.5"));
        QVERIFY(lastCheck().isValid());
    }

    void installsThroughTheTool_data()
    {
        QTest::addColumn<QByteArray>("tools"); // which stand-ins exist: z (zsync_curl), a (appimageupdate)
        QTest::addColumn<QByteArray>("appimage");
        QTest::addColumn<QByteArray>("script"); // body of the appimageupdate stand-in
        QTest::addColumn<bool>("updated");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QList<int>>("progress");
        const QString title = QStringLiteral("TSL-Gate Update | ");
        const QByteArray image = "/opt/TSL Gate.AppImage";
        QTest::newRow("zsync_curl missing")
            << QByteArray("a") << image << QByteArray("exit 0") << false
            << QStringList{title + "AppImage is corrupted - zsync_curl is missing.\nAboriting update"}
            << QList<int>{};
        QTest::newRow("appimageupdate missing")
            << QByteArray("z") << image << QByteArray() << false
            << QStringList{title + "AppImage is corrupted - updater script is missing.\nAboriting update"}
            << QList<int>{};
        QTest::newRow("no APPIMAGE")
            << QByteArray("za") << QByteArray() << QByteArray("exit 0") << false
            << QStringList{title +
                           "AppImage is corrupted - root directory variable is not set.\nAboriting update"}
            << QList<int>{};
        QTest::newRow("progress, then success")
            << QByteArray("za") << image
            << QByteArray("printf '%s|%s\\n' \"$1\" \"${LD_LIBRARY_PATH-unset}\" > \"$TSL_TOOL_LOG\"\n"
                          "echo 'Fetching #####----- 42.7%'; sleep 1\n"
                          "echo '#####-- 60.0% ##########- 99.5% done'; sleep 1\nexit 0")
            << true << QStringList{title + "Application has been updated and will now be closed."}
            << QList<int>{0, 42, 99};
        QTest::newRow("error line, then failure")
            << QByteArray("za") << image
            << QByteArray(
                   "echo 'ERROR: disk full'; sleep 1\necho 'ERROR: no space left'; echo 'more text'; exit 1")
            << false << QStringList{title + "Error: no space left"} << QList<int>{0};
        QTest::newRow("silent failure") << QByteArray("za") << image << QByteArray("echo '#-- 5%'; exit 3")
                                        << false << QStringList{} << QList<int>{};
        QTest::newRow("crash is no success") << QByteArray("za") << image << QByteArray("kill -SEGV $$")
                                             << false << QStringList{} << QList<int>{};
    }

    void installsThroughTheTool()
    {
        QFETCH(QByteArray, tools);
        QFETCH(QByteArray, appimage);
        QFETCH(QByteArray, script);
        QFETCH(bool, updated);
        QFETCH(QStringList, boxes);
        QFETCH(QList<int>, progress);

        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        if (tools.contains('z'))
            writeFile(bin.filePath(QStringLiteral("zsync_curl")), "#!/bin/sh\nexit 0\n", true);
        if (tools.contains('a'))
            writeFile(bin.filePath(QStringLiteral("appimageupdate")), "#!/bin/sh\n" + script + "\n", true);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":/usr/bin:/bin");
        qputenv("LD_LIBRARY_PATH", "/somewhere");
        const QString log = bin.filePath(QStringLiteral("tool.log"));
        qputenv("TSL_TOOL_LOG", QFile::encodeName(log));
        if (appimage.isEmpty())
            qunsetenv("APPIMAGE");
        else
            qputenv("APPIMAGE", appimage);

        ScreenWatcher screen;
        const bool result = AppUpdater::installUpdate();
        qputenv("PATH", path);
        qunsetenv("LD_LIBRARY_PATH");

        QCOMPARE(result, updated);
        QCOMPARE(screen.boxes, boxes);
        if (!progress.isEmpty())
            QCOMPARE(screen.progress, progress);
        // The image is the one argument; the tool runs without the program's libraries.
        if (updated) {
            QFile file(log);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), appimage + "|\n");
        }
    }
};

QTEST_MAIN(TestAppUpdater)
#include "test_appupdater.moc"
