#include "qautostarter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

} // namespace

class TestQAutoStarter : public QObject
{
    Q_OBJECT

    QTemporaryDir *m_home = nullptr;
    QString m_icon;

    QString home() const { return m_home->path(); }
    QString entry() const { return home() + QStringLiteral("/.config/autostart/Tessel-TSL-Gate.desktop"); }

private slots:
    void init()
    {
        m_home = new QTemporaryDir;
        QVERIFY(m_home->isValid());
        qputenv("HOME", QFile::encodeName(home()));
        qunsetenv("APPIMAGE");
        m_icon = home() + QStringLiteral("/res/cx-gate.png");
        QDir().mkpath(home() + QStringLiteral("/res"));
        writeFile(m_icon, "PNG");
    }
    void cleanup()
    {
        delete m_home;
        m_home = nullptr;
    }

    void writesTheEntry_data()
    {
        QTest::addColumn<QByteArray>("appimage");
        QTest::addColumn<bool>("icon");
        QTest::addColumn<QByteArray>("exec");
        const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
        QTest::newRow("own executable, icon") << QByteArray() << true << self;
        QTest::newRow("AppImage, no icon")
            << QByteArray("/opt/tsl-gate.AppImage") << false << QByteArray("/opt/tsl-gate.AppImage");
        QTest::newRow("space") << QByteArray("/home/u/My Apps/TSL Gate.AppImage") << false
                               << QByteArray("\"/home/u/My Apps/TSL Gate.AppImage\"");
        QTest::newRow("quote, dollar, backslash, percent")
            << QByteArray("/opt/a\"b$c\\d%e") << false << QByteArray("\"/opt/a\\\\\"b\\\\$c\\\\\\\\d%%e\"");
        QTest::newRow("percent alone") << QByteArray("/opt/100%") << false << QByteArray("/opt/100%%");
    }

    void writesTheEntry()
    {
        QFETCH(QByteArray, appimage);
        QFETCH(bool, icon);
        QFETCH(QByteArray, exec);
        if (!appimage.isEmpty())
            qputenv("APPIMAGE", appimage);
        QAutoStarter starter(QStringLiteral("Tessel-TSL-Gate"),
                             icon ? m_icon : home() + QStringLiteral("/none.png"));
        QVERIFY(!starter.autostartSet());
        starter.setAutostart(true);
        QVERIFY(starter.autostartSet());

        const QString iconCopy = home() + QStringLiteral("/.config/autostart/cx-gate.png");
        QByteArray expected = "[Desktop Entry]\nType=Application\nName=Gauvik\nExec=" + exec + "\n";
        if (icon)
            expected += "Icon=" + QFile::encodeName(iconCopy) + "\n";
        expected += "Categories=System;Monitor;\n";
        QCOMPARE(readFile(entry()), expected);
        QCOMPARE(QFile::exists(iconCopy), icon);

        // The entry it wrote is the one it checks: nothing to rewrite.
        const QDateTime old = QDateTime::currentDateTime().addDays(-1);
        QFile file(entry());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        file.close();
        starter.checkAutostart();
        QCOMPARE(QFileInfo(entry()).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());

        starter.setAutostart(false);
        QVERIFY(!starter.autostartSet());
        starter.setAutostart(false); // nothing there: nothing happens
        QVERIFY(!starter.autostartSet());
    }

    void checkRewritesOnlyExecLines()
    {
        QAutoStarter starter(QStringLiteral("Tessel-TSL-Gate"), m_icon);
        starter.checkAutostart(); // no entry: none is made
        QVERIFY(!starter.autostartSet());

        QDir().mkpath(home() + QStringLiteral("/.config/autostart"));
        const QByteArray edited =
            "[Desktop Entry]\nType=Application\nName=Gauvik\nExec=/old/tsl-gate.AppImage\n"
            "X-Note=kept as it is\n"
            "[Desktop Action Other]\nExec=/old/other --flag\nCategories=System;Monitor;\n";
        writeFile(entry(), edited);
        qputenv("APPIMAGE", "/new/place/tsl-gate\\1.AppImage");
        starter.checkAutostart();
        QByteArray expected = edited;
        const QByteArray exec = "Exec=\"/new/place/tsl-gate\\\\\\\\1.AppImage\"";
        expected.replace("Exec=/old/tsl-gate.AppImage", exec);
        expected.replace("Exec=/old/other --flag", exec);
        QCOMPARE(readFile(entry()), expected);
    }
};

QTEST_GUILESS_MAIN(TestQAutoStarter)
#include "test_qautostarter.moc"
