#include "appidentity.h"
#include "cxsettings.h"
#include "devicepool.h"

#include <QBuffer>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QtEndian>
#include <QtTest>

namespace {
using Pairs = QList<QPair<QString, QVariant>>;

QByteArray stream(const Pairs &pairs)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const auto &pair : pairs)
        out << pair.first << pair.second;
    return bytes;
}

QByteArray u32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray variantHeader(quint32 type)
{
    return u32(type) + QByteArray(1, '\0');
}

QVariantMap snapshot()
{
    QSettings settings;
    QVariantMap all;
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys)
        all.insert(key, settings.value(key));
    return all;
}

bool restoreBytes(const QByteArray &section)
{
    QByteArray copy = section;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    CXSettings settings;
    return settings.restore(&buffer, copy.size());
}
} // namespace

class TestCXSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init()
    {
        QSettings settings;
        settings.clear();
        settings.sync();
    }

    void defaults_data();
    void defaults();
    void keyTable();
    void versionStamp();
    void poolDocument();
    void poolEntries();
    void resetRegistration();
    void compareVersions_data();
    void compareVersions();
    void restoreVersions_data();
    void restoreVersions();
    void restoreKeepsAbsentKeysAndTypes();
    void restoreReadsOnlyItsSection();
    void restoreRefusesMalformedSections_data();
    void restoreRefusesMalformedSections();
    void restoreNeverAcceptsTruncatedOrRandomData();
};

void TestCXSettings::defaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("host") << "Cloud/Host" << QVariant(QStringLiteral("api.calvex.cloud"));
    QTest::newRow("port") << "Cloud/Port" << QVariant(8883);
    QTest::newRow("interval") << "Cloud/Interval" << QVariant(300);
    QTest::newRow("keepalive") << "Cloud/KeepAlive" << QVariant(300);
    QTest::newRow("serial") << "Cloud/Serial" << QVariant(QString());
    QTest::newRow("in flight") << "Cloud/InFlight" << QVariant(20);
    QTest::newRow("autoscan") << "System/AutoScan" << QVariant(true);
    QTest::newRow("scan interval") << "System/ScanInterval" << QVariant(1);
    QTest::newRow("close to tray") << "System/CloseToTray" << QVariant(true);
    QTest::newRow("start hidden") << "System/StartHidden" << QVariant(false);
    QTest::newRow("autostart") << "System/Autostart" << QVariant(false);
    QTest::newRow("version") << "System/Version" << QVariant(QStringLiteral("0.2.0"));
    QTest::newRow("pool") << "Devices/Pool" << QVariant(QStringLiteral("{}"));
    QTest::newRow("portal") << "Web/Cloud" << QVariant(QStringLiteral("https://portal.calvex.cloud"));
    QTest::newRow("reg page") << "Web/RegPage" << QVariant(QStringLiteral("/things"));
    QTest::newRow("registrar") << "Web/RegEndpoint"
                               << QVariant(QStringLiteral("https://api.calvex.cloud/iot/register"));
    QTest::newRow("update feed")
        << "Web/UpdateURL"
        << QVariant(QStringLiteral("https://software.tessel.pro/software/tsl-gate/updates/lin/appcast.json"));
    QTest::newRow("update days") << "Updates/Interval" << QVariant(7);
    QTest::newRow("update auto") << "Updates/Auto" << QVariant(true);
    QTest::newRow("last check") << "Updates/LastCheck" << QVariant();
    QTest::newRow("plugin enabled") << "Plugins/thx9/enabled" << QVariant(true);
    QTest::newRow("plugin setting") << "Plugins/thx9/unit" << QVariant();
    QTest::newRow("unknown") << "Cloud/interval" << QVariant();
    QTest::newRow("language") << "UI/Language" << QVariant(QLocale::system().name());
    QTest::newRow("export dir") << "System/ExportDirectory" << QVariant(QDir::homePath());
}

void TestCXSettings::defaults()
{
    QFETCH(QString, key);
    QFETCH(QVariant, expected);
    QCOMPARE(CXSettings::defaultValue(key), expected);
}

void TestCXSettings::keyTable()
{
    // Every key once, each default of the key's own type.
    QSet<QString> names;
    for (const SettingKey *key : Key::All) {
        QVERIFY2(!names.contains(key->key()), key->name());
        names.insert(key->key());
        const QVariant fallback = key->defaultValue();
        const int expected[] = {QMetaType::QString, QMetaType::Int, QMetaType::Bool, QMetaType::QByteArray};
        QVERIFY2(!fallback.isValid() || fallback.userType() == expected[key->type()], key->name());
    }
    // Reads give the stored value, else the default; plug-in keys follow the same table.
    QCOMPARE(Key::CloudInterval.read(QSettings()).toInt(), 300);
    QSettings().setValue(Key::CloudInterval, 600);
    QCOMPARE(CXSettings().value(Key::CloudInterval).toInt(), 600);
    QCOMPARE(Key::plugin("thx9", "unit"), QStringLiteral("Plugins/thx9/unit"));
    QCOMPARE(SettingKey::defaultOf(Key::plugin("watchdog", Key::PluginEnabled)), QVariant(true));
}

void TestCXSettings::versionStamp()
{
    QVERIFY(!QSettings().contains(QStringLiteral("System/Version")));
    {
        CXSettings settings;
    }
    QCOMPARE(QSettings().value(QStringLiteral("System/Version")).toString(), QStringLiteral("0.2.0"));

    // An older (or newer) stamp is replaced on every construction.
    QSettings().setValue(QStringLiteral("System/Version"), QStringLiteral("0.1.4"));
    {
        CXSettings settings;
    }
    QCOMPARE(QSettings().value(QStringLiteral("System/Version")).toString(), QStringLiteral("0.2.0"));
}

void TestCXSettings::poolDocument()
{
    CXSettings settings;
    QCOMPARE(DevicePool::read(), QJsonObject());

    for (const char *text : {"", "not json", "[1,2,3]", "{\"devices\":", "\"string\""}) {
        settings.setValue(QStringLiteral("Devices/Pool"), QString::fromLatin1(text));
        QVERIFY2(DevicePool::read().isEmpty(), text);
    }

    // Stored byte per character: non-ASCII aliases survive the round trip, also through the file.
    QJsonObject entry{{"type", "thx9"},
                      {"version", "1"},
                      {"serial", "A1"},
                      {"regid", "7"},
                      {"alias", QStringLiteral("Küche ✓")}};
    const QJsonObject doc{{"devices", QJsonArray{entry}}, {"updated", "2024.01.02 03:04:05"}};
    DevicePool::write(doc);
    settings.sync();
    const QString stored = QSettings().value(QStringLiteral("Devices/Pool")).toString();
    QCOMPARE(stored.toLatin1(), QJsonDocument(doc).toJson(QJsonDocument::Compact));
    QCOMPARE(DevicePool::read(), doc);
}

void TestCXSettings::poolEntries()
{
    // Keys as the runner compares them: "?" for an empty serial in the short key only; missing or
    // non-string members read as empty.
    const PoolEntry bare = PoolEntry::fromJson({{"type", "thx9"}, {"version", "100"}, {"regid", 5}});
    QCOMPARE(bare.key(), QStringLiteral("thx9_100_?"));
    QCOMPARE(bare.registeredKey(), QStringLiteral("thx9_100__"));
    const PoolEntry full{"watchdog", "100", "W1", QStringLiteral("Küche"), "42"};
    QCOMPARE(full.registeredKey(), QStringLiteral("watchdog_100_W1_42"));
    QCOMPARE(PoolEntry::fromJson(full.toJson()).toJson(), full.toJson());

    // store() replaces the pool; entries() reads it back in order.
    DevicePool::store({full, bare});
    const QList<PoolEntry> read = DevicePool::entries();
    QCOMPARE(read.size(), 2);
    QCOMPARE(read.at(0).toJson(), full.toJson());
    QCOMPARE(read.at(1).toJson(), bare.toJson());
}

void TestCXSettings::resetRegistration()
{
    CXSettings settings;
    settings.setValue(QStringLiteral("Cloud/Serial"), QStringLiteral("5521"));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    // Nothing stored: the document gains an empty device list and a fresh time stamp.
    settings.resetRegistration();
    QJsonObject doc = DevicePool::read();
    QVERIFY(doc.value("devices").isArray());
    QVERIFY(doc.value("devices").toArray().isEmpty());
    const QDateTime updated = QDateTime::fromString(doc.value("updated").toString(), "yyyy.MM.dd hh:mm:ss");
    QVERIFY(updated.isValid());
    QVERIFY(updated >= before && updated <= QDateTime::currentDateTime().addSecs(1));
    QCOMPARE(settings.value(QStringLiteral("Cloud/Serial"), QStringLiteral("x")).toString(), QString());

    // Registered entries lose their regid and nothing else.
    const QJsonObject sensor{{"type", "thx9"},
                             {"version", "1"},
                             {"serial", "A1"},
                             {"regid", "77"},
                             {"alias", QStringLiteral("Träger")}};
    const QJsonObject gateway{
        {"type", "gateway"}, {"version", "200"}, {"serial", "5521"}, {"regid", "9"}, {"alias", "gw"}};
    DevicePool::write(
        QJsonObject{{"devices", QJsonArray{sensor, gateway}}, {"updated", "2020.01.01 00:00:00"}});
    settings.resetRegistration();
    doc = DevicePool::read();
    const QJsonArray devices = doc.value("devices").toArray();
    QCOMPARE(devices.size(), 2);
    QJsonObject expectedSensor = sensor;
    expectedSensor.insert("regid", "");
    QJsonObject expectedGateway = gateway;
    expectedGateway.insert("regid", "");
    QCOMPARE(devices.at(0).toObject(), expectedSensor);
    QCOMPARE(devices.at(1).toObject(), expectedGateway);
    QVERIFY(doc.value("updated").toString() != QLatin1String("2020.01.01 00:00:00"));
}

void TestCXSettings::compareVersions_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::addColumn<bool>("valid");
    QTest::newRow("older patch") << "0.1.9"
                                 << "0.2.0" << -1 << true;
    QTest::newRow("short equal") << "0.2"
                                 << "0.2.0" << 0 << true;
    QTest::newRow("newer patch") << "0.2.1"
                                 << "0.2.0" << 1 << true;
    QTest::newRow("numeric not textual") << "0.10.0"
                                         << "0.9.9" << 1 << true;
    QTest::newRow("longer but zero") << "0.2.0.0"
                                     << "0.2" << 0 << true;
    QTest::newRow("longer and newer") << "0.2.0.1"
                                      << "0.2" << 1 << true;
    QTest::newRow("not a version") << "abc"
                                   << "0.2.0" << 0 << false;
}

void TestCXSettings::compareVersions()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QFETCH(bool, valid);
    bool ok = !valid;
    const int result = CXSettings::compareVersions(a, b, &ok);
    QCOMPARE(ok, valid);
    if (valid)
        QCOMPARE(result < 0 ? -1 : result > 0 ? 1 : 0, order);
}

void TestCXSettings::restoreVersions_data()
{
    QTest::addColumn<QVariant>("version");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("0.1.9") << QVariant("0.1.9") << true;
    QTest::newRow("0.2") << QVariant("0.2") << true;
    QTest::newRow("0.2.0") << QVariant("0.2.0") << true;
    QTest::newRow("0.2.1") << QVariant("0.2.1") << false;
    QTest::newRow("1.0") << QVariant("1.0") << false;
    QTest::newRow("0.10") << QVariant("0.10") << false;
    QTest::newRow("not a version") << QVariant("latest") << true;
    QTest::newRow("empty") << QVariant("") << false;
}

void TestCXSettings::restoreVersions()
{
    QFETCH(QVariant, version);
    QFETCH(bool, accepted);
    {
        CXSettings settings;
        settings.setValue(QStringLiteral("Cloud/Interval"), 600);
    }
    const QVariantMap before = snapshot();
    const QByteArray section = stream({{"Cloud/Interval", 1800},
                                       {"Devices/Pool", QStringLiteral("{\"devices\":[]}")},
                                       {"System/Version", version}});
    QCOMPARE(restoreBytes(section), accepted);
    if (accepted) {
        QCOMPARE(QSettings().value(QStringLiteral("Cloud/Interval")).toInt(), 1800);
        QCOMPARE(QSettings().value(QStringLiteral("System/Version")), version);
    } else {
        QCOMPARE(snapshot(), before);
    }
}

void TestCXSettings::restoreKeepsAbsentKeysAndTypes()
{
    {
        CXSettings settings;
        settings.setValue(QStringLiteral("Cloud/Host"), QStringLiteral("broker.local"));
        settings.setValue(QStringLiteral("Cloud/Serial"), QStringLiteral("old"));
    }
    // What one store writes, another reads back; later pairs win over earlier ones.
    QByteArray section;
    {
        QSettings source(QDir::temp().filePath(QStringLiteral("cxsettings-source.ini")),
                         QSettings::IniFormat);
        source.clear();
        source.setValue(QStringLiteral("Cloud/Serial"), QStringLiteral("5521"));
        source.setValue(QStringLiteral("UI/State"), QByteArray("\x00\x01\xff", 3));
        source.setValue(QStringLiteral("Plugins/thx9/units"), QStringList{"C", "F"});
        source.setValue(QStringLiteral("System/AutoScan"), false);
        source.setValue(QStringLiteral("System/Version"), QStringLiteral("0.2.0"));
        QDataStream out(&section, QIODevice::WriteOnly);
        for (const QString &key : source.allKeys())
            out << key << source.value(key);
        out << QStringLiteral("Cloud/Serial") << QVariant(QStringLiteral("5522"));
    }
    QVERIFY(restoreBytes(section));

    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("Cloud/Host")).toString(), QStringLiteral("broker.local"));
    QCOMPARE(settings.value(QStringLiteral("Cloud/Serial")).toString(), QStringLiteral("5522"));
    QCOMPARE(settings.value(QStringLiteral("UI/State")).toByteArray(), QByteArray("\x00\x01\xff", 3));
    QCOMPARE(settings.value(QStringLiteral("Plugins/thx9/units")).toStringList(), (QStringList{"C", "F"}));
    QCOMPARE(settings.value(QStringLiteral("System/AutoScan")).toBool(), false);

    // And the store's own writer produces a section it accepts again.
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    QVERIFY(CXSettings().writeTo(&buffer));
    QVERIFY(restoreBytes(buffer.data()));
}

void TestCXSettings::restoreReadsOnlyItsSection()
{
    // The settings section is followed by other sections of the backup; they are not settings.
    const QByteArray section =
        stream({{"Cloud/Serial", QStringLiteral("5521")}, {"System/Version", "0.2.0"}});
    QByteArray file = QByteArray("HEAD") + section + QByteArray("\x30\x82\x01\x0a certificate bytes");
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    buffer.seek(4);
    CXSettings settings;
    QVERIFY(settings.restore(&buffer, section.size()));
    QCOMPARE(buffer.pos(), qint64(4 + section.size()));
    QCOMPARE(QSettings().value(QStringLiteral("Cloud/Serial")).toString(), QStringLiteral("5521"));

    // A declared length beyond the data is bounded by what is there, not trusted for allocation.
    buffer.seek(4);
    QVERIFY(!settings.restore(&buffer, qint64(1) << 40));
}

void TestCXSettings::restoreRefusesMalformedSections_data()
{
    QTest::addColumn<QByteArray>("section");
    const QByteArray version = stream({{"System/Version", "0.2.0"}});
    const QByteArray key = stream({{"Cloud/Serial", 1}}).left(4 + 24); // "Cloud/Serial" as QString
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no version") << stream({{"Cloud/Serial", "5521"}});
    QTest::newRow("huge key length") << u32(0x7ffffffe) + QByteArray("Cl") + version;
    QTest::newRow("odd key length") << u32(3) + QByteArray("abc") + version;
    QTest::newRow("huge string value") << version + key + variantHeader(QMetaType::QString) + u32(0x7ffffff0);
    QTest::newRow("huge byte array") << version + key + variantHeader(QMetaType::QByteArray) +
                                            u32(0x7fffffff);
    QTest::newRow("huge list count") << version + key + variantHeader(QMetaType::QVariantList) +
                                            u32(0x7fffffff);
    QTest::newRow("huge string list")
        << version + key + variantHeader(QMetaType::QStringList) + u32(0x10000000);
    QTest::newRow("huge map") << version + key + variantHeader(QMetaType::QVariantMap) + u32(0x7fffffff);
    QByteArray nested = version + key;
    for (int i = 0; i < 10000; ++i)
        nested += variantHeader(QMetaType::QVariantList) + u32(1);
    nested += variantHeader(QMetaType::Int) + u32(1);
    QTest::newRow("deep nesting") << nested;
    QTest::newRow("unknown type") << version + key + variantHeader(0x7abc) + u32(1);
    QTest::newRow("user type") << version + key + variantHeader(QMetaType::User) + u32(6) +
                                      QByteArray("Thing", 6);
    QTest::newRow("truncated int") << version + key + variantHeader(QMetaType::Int) + QByteArray(2, '\0');
    QTest::newRow("key without value") << version + key;
}

void TestCXSettings::restoreRefusesMalformedSections()
{
    QFETCH(QByteArray, section);
    {
        CXSettings settings;
    }
    const QVariantMap before = snapshot();
    QVERIFY(!restoreBytes(section));
    QCOMPARE(snapshot(), before);
}

void TestCXSettings::restoreNeverAcceptsTruncatedOrRandomData()
{
    {
        CXSettings settings;
    }
    const QVariantMap before = snapshot();
    // The version comes last, so no shorter prefix is a complete, acceptable section.
    const QByteArray section = stream(
        {{"Cloud/Serial", "5521"},
         {"UI/Geom", QByteArray(40, 'g')},
         {"Plugins/watchdog/map", QVariantMap{{"a", QVariantList{1, "two", 3.5}}, {"b", QStringList{"x"}}}},
         {"Updates/LastCheck", QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9), Qt::UTC)},
         {"System/Version", "0.2.0"}});
    for (int length = 0; length < section.size(); ++length)
        QVERIFY2(!restoreBytes(section.left(length)), qPrintable(QString::number(length)));
    QCOMPARE(snapshot(), before);

    QRandomGenerator random(20240506);
    for (int round = 0; round < 300; ++round) {
        QByteArray noise(int(random.bounded(1, 200)), Qt::Uninitialized);
        for (char &c : noise)
            c = char(random.bounded(256));
        // Corrupt a valid section in a few places, or take pure noise.
        QByteArray candidate = section;
        if (round % 2)
            candidate = noise;
        else
            for (int i = 0; i < 3; ++i)
                candidate[int(random.bounded(candidate.size()))] = noise.at(i % noise.size());
        restoreBytes(candidate); // must neither crash nor hang; the outcome is whatever the bytes say
    }
    QVERIFY(restoreBytes(section));
}

QTEST_GUILESS_MAIN(TestCXSettings)
#include "test_cxsettings.moc"
