#include "abstractthingtype.h"
#include "appidentity.h"
#include "pluginloader.h"

#include <QJsonArray>
#include <QLibrary>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString loaderTree()
{
    return qEnvironmentVariable("TSL_LOADER_TREE");
}

int counter(const QString &library, int version, const char *function)
{
    QLibrary lib(loaderTree() + QStringLiteral("/lib/") + library, version);
    auto fn = reinterpret_cast<int (*)()>(lib.resolve(function));
    return fn ? fn() : -1;
}

} // namespace

class TestPluginLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        QVERIFY2(!loaderTree().isEmpty(), "TSL_LOADER_TREE not set");
    }

    void init() { QSettings().clear(); }

    void skipsEveryUnusablePluginAndSharesDependencies()
    {
        {
            PluginLoader loader(nullptr, loaderTree() + QStringLiteral("/bin"));
            QCOMPARE(loader.pluginDirectory(), loaderTree() + QStringLiteral("/plugins"));
            loader.load();

            // alpha (or its duplicate, whichever the file system lists first) and beta load; the
            // plug-in with a missing library, the one whose library fails init, the wrong
            // interface, a plain library and a text file are skipped silently.
            QStringList types = loader.types().keys();
            types.sort();
            QCOMPARE(types, QStringList({"alpha", "beta"}));
            QCOMPARE(loader.metadata().keys().size(), 2);
            QVERIFY(loader.metadata().value("alpha").value("version").toString() == "1" ||
                    loader.metadata().value("alpha").value("version").toString() == "2");

            // tdep is shared by alpha and beta: loaded once, initialised once. tfail stays loaded
            // although its plug-in was skipped.
            QStringList keys = loader.libraryKeys();
            keys.sort();
            QCOMPARE(keys, QStringList({"tdep-1", "tfail-2"}));
            QCOMPARE(counter("tdep", 1, "init_calls"), 1);
            QCOMPARE(counter("tfail", 2, "init_calls"), 1);
            QCOMPARE(counter("tdep", 1, "deinit_calls"), 0);
        }
        // Every stored library is told to shut down when the loader goes.
        QCOMPARE(counter("tdep", 1, "deinit_calls"), 1);
        QCOMPARE(counter("tfail", 2, "deinit_calls"), 1);
    }

    void missingPluginDirectoryYieldsNothing()
    {
        QTemporaryDir empty;
        PluginLoader loader(nullptr, empty.path());
        loader.load();
        QVERIFY(loader.types().isEmpty());
        QVERIFY(loader.libraryKeys().isEmpty());
    }

    void pluginDirectoryFollowsTheImage()
    {
        QTemporaryDir image;
        QVERIFY(QDir(image.path()).mkpath("mnt/usr/bin"));
        const QString programDir = image.path() + "/mnt/usr/bin";

        qputenv("APPIMAGE", (image.path() + "/TSL-Gate.AppImage").toUtf8());
        // Nothing beside the image: the plug-ins inside the image, untested.
        QCOMPARE(PluginLoader(nullptr, programDir).pluginDirectory(), image.path() + "/mnt/usr/plugins");
        // A plugins folder beside the image wins.
        QVERIFY(QDir(image.path()).mkpath("plugins"));
        QCOMPARE(PluginLoader(nullptr, programDir).pluginDirectory(), image.path() + "/plugins");
        qunsetenv("APPIMAGE");

        // Without an image: <program>/plugins, then <program>/../plugins, else the program directory.
        QCOMPARE(PluginLoader(nullptr, programDir).pluginDirectory(), programDir);
        QVERIFY(QDir(image.path()).mkpath("mnt/usr/plugins"));
        QCOMPARE(PluginLoader(nullptr, programDir).pluginDirectory(), image.path() + "/mnt/usr/plugins");
        QCOMPARE(PluginLoader(nullptr, programDir).libraryDirectory(), image.path() + "/mnt/usr/lib");
    }

    void typeSettingsMergeSchemaAndStoredValues()
    {
        const QJsonObject meta{
            {"settings", QJsonArray{QJsonObject{{"name", "unit"}, {"type", "list"}, {"value", "Celsius"}},
                                    QJsonObject{{"name", "gap"}, {"type", "spacer"}},
                                    QJsonObject{{"name", "ping"}, {"type", "bool"}, {"value", true}}}}};
        QHash<QString, QVariant> settings = PluginLoader::typeSettings("thx9", meta);
        QCOMPARE(settings.size(), 2);
        QCOMPARE(settings.value("unit").toString(), QStringLiteral("Celsius"));
        QCOMPARE(settings.value("ping").toBool(), true);

        {
            QSettings store;
            store.setValue("Plugins/thx9/unit", "Kelvin");
            store.setValue("Plugins/thx9/enabled", false);
            store.setValue("Plugins/thx9x/unit", "Fahrenheit"); // another type sharing the prefix
            store.setValue("Plugins/THX9/unit", "Fahrenheit");  // keys are case-sensitive
        }
        settings = PluginLoader::typeSettings("thx9", meta);
        QCOMPARE(settings.value("unit").toString(), QStringLiteral("Kelvin"));
        QCOMPARE(settings.value("enabled").toBool(), false);
        QVERIFY(!settings.contains("gap"));

        const auto stored = PluginLoader::storedTypeSettings({"thx9", "watchdog"});
        QCOMPARE(stored.keys(), QList<QString>{"thx9"});
        QCOMPARE(stored.value("thx9").size(), 2);
    }

    // The real plug-ins and libhidlink as `cmake --install` lays them out.
    void installedLayout()
    {
        const QString build = qEnvironmentVariable("TSL_TEST_BUILD_DIR");
        QTemporaryDir prefix;
        QProcess install;
        install.start("cmake", {"--install", build, "--prefix", prefix.path()});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());

        for (const char *file : {"lib/libthing.so.1", "lib/libhidlink.so.1", "plugins/libthing_thx9.so",
                                 "plugins/libthing_vgl5.so"})
            QVERIFY2(QFile::exists(prefix.path() + "/" + file), file);
        for (const char *library : {"libthing.so.1", "libhidlink.so.1"}) {
            QProcess objdump;
            objdump.start("objdump", {"-p", prefix.path() + "/lib/" + library});
            QVERIFY(objdump.waitForFinished(30000));
            QVERIFY2(objdump.readAllStandardOutput().contains(QByteArray("SONAME               ") + library),
                     library);
        }

        QVERIFY(QDir(prefix.path()).mkpath("bin")); // where the program will lie
        PluginLoader loader(nullptr, prefix.path() + "/bin");
        loader.load();
        QStringList types = loader.types().keys();
        types.sort();
        QCOMPARE(types, QStringList({"thx9", "watchdog"}));
        QCOMPARE(loader.libraryKeys(), QStringList{"hidlink-1"});
        QCOMPARE(loader.metadata().value("thx9").value("description").toString(),
                 QStringLiteral("Pellmark THX-9 USB sensor (temperature)"));
        QCOMPARE(loader.metadata().value("watchdog").value("settings").toArray().size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestPluginLoader)
#include "test_pluginloader.moc"
