#include "appidentity.h"
#include "apptheme.h"
#include "apptranslations.h"
#include "startupoptions.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QProcess>
#include <QSettings>
#include <QStyle>
#include <QTranslator>
#include <QtTest>

namespace {

bool isRussian(const QString &language)
{
    return language.startsWith(QLatin1String("ru"), Qt::CaseInsensitive);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void cleanup() { AppTranslations::unload(m_translators, qApp); }

    // The command line's effect on the stored language and the translations loaded from it.
    void language_data();
    void language();

    void darkRule_data();
    void darkRule();
    // The last theme test: it leaves the dark look on the application.
    void darkLook();

    // The built program itself.
    void commandLine_data();
    void commandLine();

private:
    QList<QTranslator *> m_translators;
};

void TestStartup::language_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected"); // empty: the system's language

    QTest::newRow("fresh profile") << QString() << QStringList{} << QString();
    QTest::newRow("--lang ru, fresh profile") << QString() << QStringList{"--lang", "ru"} << "ru";
    QTest::newRow("-l ru_RU") << "en" << QStringList{"-l", "ru_RU"} << "ru_RU";
    QTest::newRow("stored ru kept") << "ru" << QStringList{} << "ru";
    QTest::newRow("--lang en over ru") << "ru" << QStringList{"--lang", "en"} << "en";
    QTest::newRow("--reset wins over --lang") << "ru" << QStringList{"--reset", "--lang", "ru"} << QString();
    QTest::newRow("-r -l ru") << "de" << QStringList{"-l", "ru", "-r"} << QString();
    QTest::newRow("a part of ru is not ru") << QString() << QStringList{"--lang", "r"} << "r";
    QTest::newRow("empty first part") << QString() << QStringList{"--lang", "_RU"} << "_RU";
}

void TestStartup::language()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    if (expected.isEmpty())
        expected = StartupOptions::defaultLanguage();
    const bool reset = args.contains("--reset") || args.contains("-r");

    {
        QSettings settings;
        settings.clear();
        settings.setValue("Cloud/Interval", 600);
        if (!stored.isNull())
            settings.setValue("UI/Language", stored);
    }

    StartupOptions options;
    QCommandLineParser parser;
    options.addTo(parser);
    QVERIFY2(parser.parse(QStringList{"tsl-gate"} + args), qPrintable(parser.errorText()));
    options.read(parser);
    {
        QSettings settings;
        options.applyTo(settings);
    }

    QSettings settings;
    QCOMPARE(settings.value("UI/Language").toString(), expected);
    QCOMPARE(settings.contains("Cloud/Interval"), !reset);

    AppTranslations::load(m_translators, qApp, nullptr, "lang");
    const bool russian = isRussian(expected);
    const QString coreText = QCoreApplication::translate("RegistrarExchange", "Busy with another request");
    const QString qtText = QCoreApplication::translate("QPlatformTheme", "Cancel");
    QCOMPARE(coreText != "Busy with another request", russian);
    QCOMPARE(qtText, russian ? QString::fromUtf8("Отмена") : QString("Cancel"));
}

void TestStartup::darkRule_data()
{
    QTest::addColumn<QColor>("window");
    QTest::addColumn<bool>("dark");
    QTest::newRow("#353535") << QColor("#353535") << true;  // 1696
    QTest::newRow("#efefef") << QColor("#efefef") << false; // 7648
    QTest::newRow("sum 3189") << QColor(99, 100, 100) << true;
    QTest::newRow("sum 3200") << QColor(100, 100, 100) << false;
    QTest::newRow("bright red, dark by the rule") << QColor(255, 0, 0) << true; // 2805
}

void TestStartup::darkRule()
{
    QFETCH(QColor, window);
    QFETCH(bool, dark);
    const QPalette saved = QApplication::palette();
    QPalette palette = saved;
    palette.setColor(QPalette::Window, window);
    QApplication::setPalette(palette);
    QCOMPARE(AppTheme::systemIsDark(), dark);
    QApplication::setPalette(saved);
}

void TestStartup::darkLook()
{
    QPalette light = QApplication::palette();
    light.setColor(QPalette::Window, QColor("#efefef"));
    QApplication::setPalette(light);
    QSettings().remove("UI/Dark");
    QApplication::setStyle("Windows");

    // A light desktop without a stored choice keeps its look.
    QCOMPARE(AppTheme::choose(false, "UI/Dark"), false);
    QCOMPARE(AppTheme::isDark(), false);
    QCOMPARE(QApplication::palette().color(QPalette::Window), QColor("#efefef"));
    QVERIFY(qApp->styleSheet().isEmpty());

    // --force-dark wins over a stored "false".
    QSettings().setValue("UI/Dark", false);
    QCOMPARE(AppTheme::choose(true, "UI/Dark"), true);
    QCOMPARE(AppTheme::isDark(), true);
    const QPalette dark = QApplication::palette();
    QCOMPARE(dark.color(QPalette::Active, QPalette::Window), QColor("#353535"));
    QCOMPARE(dark.color(QPalette::Active, QPalette::Button), QColor("#404040"));
    QCOMPARE(dark.color(QPalette::Inactive, QPalette::Button), QColor("#353535"));
    QCOMPARE(dark.color(QPalette::Disabled, QPalette::Text), QColor("#808080"));
    QCOMPARE(dark.color(QPalette::Active, QPalette::Text), QColor(Qt::white));
    QCOMPARE(dark.color(QPalette::Inactive, QPalette::HighlightedText), QColor(Qt::black));
    QVERIFY(qApp->styleSheet().startsWith("QToolTip { color: #ffffff; background-color: #2a82da;"));
    qApp->setStyleSheet(QString()); // uncovers the style beneath the style sheet
    QCOMPARE(QApplication::style()->metaObject()->className(), "QFusionStyle");
}

void TestStartup::commandLine_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("output");
    QTest::newRow("version") << "tsl-gate" << QStringList{"--version"} << 0 << QStringList{"0.2.0"};
    QTest::newRow("help") << "tsl-gate" << QStringList{"--help"} << 0
                          << QStringList{"Tessel Cloud Gateway Application",
                                         "--force-dark  Force the application to use the dark theme.",
                                         "-r, --reset   Reset all settings.",
                                         "-l, --lang <lang>  Set langugage to <lang>."};
    QTest::newRow("toolkit options pass")
        << "tsl-gate" << QStringList{"-platform", "xcb", "-style=fusion", "-v"} << 0 << QStringList{"0.2.0"};
    QTest::newRow("unknown option") << "tsl-gate" << QStringList{"--bogus"} << 2
                                    << QStringList{"tsl-gate: Unknown option 'bogus'.", "Usage:"};
    QTest::newRow("missing value") << "tsl-gate" << QStringList{"--lang"} << 2
                                   << QStringList{"Missing value after '--lang'.", "Usage:"};
    QTest::newRow("core help") << "tsl-gated" << QStringList{"--help"} << 0
                               << QStringList{"--register", "--rescan <seconds>"};
    QTest::newRow("core unknown option")
        << "tsl-gated" << QStringList{"-x"} << 2 << QStringList{"tsl-gated: Unknown option 'x'.", "Usage:"};
    QTest::newRow("core bad number") << "tsl-gated" << QStringList{"--rescan", "soon"} << 2
                                     << QStringList{"--rescan needs a whole number above 0."};
    QTest::newRow("core argument") << "tsl-gated" << QStringList{"now"} << 2
                                   << QStringList{"Unexpected argument 'now'."};
}

// Run without a display: none of these may need one.
void TestStartup::commandLine()
{
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, output);
    const QString path = qEnvironmentVariable("TSL_TEST_BUILD_DIR") + "/bin/" + program;
    if (!QFileInfo::exists(path))
        QSKIP("the program is not built");

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, args);
    QVERIFY(process.waitForFinished(60000));
    const QString text = QString::fromUtf8(process.readAll()).simplified();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    for (const QString &line : output)
        QVERIFY2(text.contains(line.simplified()), qPrintable(text));
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
