#include "appidentity.h"
#include "calvexcloudclient.h"
#include "configbackup.h"
#include "devicepool.h"
#include "poolfixture.h"
#include "qcredentialstore.h"
#include "runnerharness.h"
#include "settingskeys.h"
#include "testpki.h"

#include <QBitArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineF>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QUuid>
#include <QtEndian>

#include <memory>

#include <sys/stat.h>

namespace {

using namespace PoolFixture;

using Pairs = QList<QPair<QString, QVariant>>;

const QString ReadFailed = QStringLiteral("Cannot read %1");
const QString ConfigRefused = QStringLiteral("Cannot restore config from %1");
const QString WrongVersion = QStringLiteral("Cannot restore config - wrong version");
const QString SettingsRefused = QStringLiteral("Cannot restore settings from %1 - invalid data");
const QString CredentialsRefused = QStringLiteral("Cannot restore credentials from %1 - invalid data");
const QString WriteFailed = QStringLiteral("Cannot write to %1");
const QString SettingsNotWritten =
    QStringLiteral("Cannot restore settings from %1 - the settings file cannot be written");

constexpr quint32 UnknownTag = 0x104204;

QByteArray le(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

quint32 leAt(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint32>(data.constData() + offset);
}

QByteArray settingsStream(const Pairs &pairs)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    for (const auto &pair : pairs)
        out << pair.first << pair.second;
    return bytes;
}

// A backup laid out by hand: the sections' data in the given order, the table listing them in
// `order` (indices into sections; all of them by default), followed by `tableSlack` extra bytes
// that belong to the declared table length but make no whole entry.
QByteArray makeBackup(const QList<ConfigBackup::Section> &sections, QList<int> order = {}, int tableSlack = 0)
{
    if (order.isEmpty()) {
        for (int i = 0; i < sections.size(); ++i)
            order.append(i);
    }
    const quint32 tableLength = quint32(12 * order.size() + tableSlack);
    QVector<quint32> offsets;
    quint32 position = 8 + tableLength;
    for (const ConfigBackup::Section &section : sections) {
        offsets.append(position);
        position += quint32(section.data.size());
    }
    QByteArray out = le(ConfigBackup::FormatVersion) + le(tableLength);
    for (int index : qAsConst(order))
        out +=
            le(sections.at(index).tag) + le(offsets.at(index)) + le(quint32(sections.at(index).data.size()));
    out += QByteArray(tableSlack, '\xee');
    for (const ConfigBackup::Section &section : sections)
        out += section.data;
    return out;
}

struct TableEntry
{
    quint32 tag, offset, length;
};

QList<TableEntry> tableOf(const QByteArray &backup)
{
    QList<TableEntry> entries;
    const quint32 length = leAt(backup, 4);
    for (quint32 at = 8; at + 12 <= 8 + length; at += 12)
        entries.append({leAt(backup, int(at)), leAt(backup, int(at + 4)), leAt(backup, int(at + 8))});
    return entries;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QString keyPath()
{
    return QCredentialStore::filePath(QLatin1String(QCredentialStore::KeyFile));
}

QString certPath()
{
    return QCredentialStore::filePath(QLatin1String(QCredentialStore::CertFile));
}

// The bytes of everything an import may touch: the settings file and both credential files.
struct Files
{
    QByteArray settings, key, cert;
    bool operator==(const Files &other) const
    {
        return settings == other.settings && key == other.key && cert == other.cert;
    }
};

Files files()
{
    QSettings settings;
    settings.sync();
    return {readAll(settings.fileName()), readAll(keyPath()), readAll(certPath())};
}

void wipeProfile()
{
    QSettings settings;
    settings.clear();
    settings.sync();
    QFile::remove(keyPath());
    QFile::remove(certPath());
}

} // namespace

class TestConfigBackup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_mountPoint;
    TestPki::Identity m_gateway; // the identity that goes into the backups
    TestPki::Identity m_other;   // the identity a gateway holds before a restore

    QString path(const QString &name) const { return m_dir.filePath(name); }

    static bool storeCredentials(const TestPki::Identity &id)
    {
        CalvexCloudClient client;
        return client.storeCredentials(id.certificate.toPem(), id.key.toPem());
    }

    static QVariant exportTo(RunnerHarness &h, const QString &file)
    {
        h.clearRecords();
        return h.request(&CxgatewRunner::exportSettings, CxgatewRunner::SExport, file);
    }

    // Imports and checks the completion protocol: SImport alone on success, Error then SImport on
    // failure. Returns the error text (empty on success).
    static QString importFrom(RunnerHarness &h, const QString &file)
    {
        h.clearRecords();
        const QVariant result = h.request(&CxgatewRunner::importSettings, CxgatewRunner::SImport, file);
        const QList<RunnerHarness::Completion> &done = h.completions();
        if (!result.isValid() || done.isEmpty())
            return QStringLiteral("<no completion>");
        if (result.toBool())
            return done.size() == 1 ? QString() : QStringLiteral("<success with extra completions>");
        if (done.size() != 2 || done.at(0).first != CxgatewRunner::Error)
            return QStringLiteral("<failure without a single Error first>");
        return done.at(0).second.toString();
    }

    // The sections of a valid backup made from the given settings pairs and m_gateway's credentials.
    QList<ConfigBackup::Section> sections(const Pairs &pairs) const
    {
        return {{ConfigBackup::SettingsTag, settingsStream(pairs)},
                {ConfigBackup::CertificateTag, m_gateway.certificate.toDer()},
                {ConfigBackup::KeyTag, m_gateway.key.toDer()}};
    }

    static Pairs backupPairs(const QString &version = QStringLiteral("0.2.0"))
    {
        return {{"Cloud/Serial", QStringLiteral("5521")},
                {"Cloud/Interval", 900},
                {"System/Version", version},
                {"Devices/Pool",
                 QString::fromLatin1(
                     QJsonDocument(
                         QJsonObject{{"devices", QJsonArray{entry("gateway", "200", "5521", "9", "Office")}}})
                         .toJson(QJsonDocument::Compact))}};
    }

    // A gateway that is not the one in the backups: other settings, other credentials.
    bool prepareOtherGateway()
    {
        QSettings settings;
        settings.setValue(Key::CloudSerial, QStringLiteral("7777"));
        settings.setValue(Key::CloudInterval, 600);
        settings.setValue(QStringLiteral("Local/Note"), QStringLiteral("kept"));
        settings.sync();
        return storeCredentials(m_other);
    }

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        ThingState::registerMetaTypes();
        QVERIFY(m_dir.isValid());
        TestPki &pki = TestPki::instance();
        QVERIFY2(pki.isValid(), qPrintable(pki.errorString()));
        m_gateway = pki.client(QStringLiteral("gateway_200_5521_9"));
        m_other = pki.client(QStringLiteral("gateway_200_7777_3"));
        QVERIFY2(!m_gateway.isNull() && !m_other.isNull(), qPrintable(pki.errorString()));
    }

    void init() { wipeProfile(); }

    void cleanup()
    {
        if (!m_mountPoint.isEmpty()) {
            QProcess::execute(QStringLiteral("umount"), {m_mountPoint});
            m_mountPoint.clear();
        }
    }

    void roundTripToAnEmptyProfile()
    {
        {
            QSettings settings;
            settings.setValue(Key::CloudSerial, QStringLiteral("5521"));
            settings.setValue(Key::CloudInterval, 600);
            settings.setValue(Key::CloudInFlight, 7);
            settings.setValue(Key::HistoryDays, 90);
            settings.setValue(Key::HistoryMB, 1024);
            settings.setValue(Key::UiLanguage, QStringLiteral("ru"));
            settings.setValue(Key::UiGeom, QByteArray("\x01\x00\xff\n=", 5));
            settings.setValue(QStringLiteral("Plugins/thx9/enabled"), false);
            settings.setValue(QStringLiteral("Plugins/watchdog/timeout"), 42);
        }
        storePool({entry("thx9", "100", "S1", "77", "Boiler"), entry("watchdog", "100", "W1", "78", "Pump"),
                   entry("gateway", "200", "5521", "9", "Office")});
        QVERIFY(storeCredentials(m_gateway));
        const QString file = path("gateway.bak");

        QVariantMap exported;
        {
            RunnerHarness h;
            QVERIFY(h.request(&CxgatewRunner::rescan, CxgatewRunner::Rescan).toBool());
            QSettings settings;
            for (const QString &key : settings.allKeys())
                exported.insert(key, settings.value(key));
            QCOMPARE(exportTo(h, file), QVariant(true));
            QVERIFY(h.resultsOf(CxgatewRunner::Error).isEmpty());
        }

        // Layout: three sections back to back after the table; the credentials as DER.
        const QByteArray backup = readAll(file);
        QCOMPARE(leAt(backup, 0), quint32(0x200));
        QCOMPARE(leAt(backup, 4), quint32(36));
        const QList<TableEntry> table = tableOf(backup);
        QCOMPARE(table.size(), 3);
        QCOMPARE(table.at(0).tag, quint32(ConfigBackup::SettingsTag));
        QCOMPARE(table.at(1).tag, quint32(ConfigBackup::CertificateTag));
        QCOMPARE(table.at(2).tag, quint32(ConfigBackup::KeyTag));
        QCOMPARE(table.at(0).offset, quint32(44));
        QCOMPARE(table.at(1).offset, table.at(0).offset + table.at(0).length);
        QCOMPARE(table.at(2).offset, table.at(1).offset + table.at(1).length);
        QCOMPARE(qint64(table.at(2).offset + table.at(2).length), qint64(backup.size()));
        QCOMPARE(backup.mid(int(table.at(1).offset), int(table.at(1).length)), m_gateway.certificate.toDer());
        QCOMPARE(backup.mid(int(table.at(2).offset), int(table.at(2).length)), m_gateway.key.toDer());

        // Another machine: an empty profile without credentials and with one setting of its own.
        wipeProfile();
        QSettings().setValue(QStringLiteral("Local/Note"), QStringLiteral("kept"));
        RunnerHarness h;
        QCOMPARE(find(h.things(), "gateway_").regid, QString());
        QCOMPARE(h.request(&CxgatewRunner::cloudStatus, CxgatewRunner::CStatus).toJsonObject(),
                 QJsonObject({{"gw", false}, {"key", 1}, {"cert", 1}}));

        QCOMPARE(importFrom(h, file), QString());
        // The gateway's row is announced before the settings are read, then updated from the pool.
        QVERIFY(!h.rows().isEmpty());
        QVERIFY(h.rows().first().shortid.startsWith("gateway_200_"));
        QVERIFY(!h.rows().first().gone);
        QVERIFY(h.rows().first().state.isEmpty());
        QCOMPARE(h.rows().last().name, QStringLiteral("Office"));

        const ThingState gateway = find(h.things(), "gateway_");
        QCOMPARE(gateway.shortid, QStringLiteral("gateway_200_5521"));
        QCOMPARE(gateway.name, QStringLiteral("Office"));
        QCOMPARE(gateway.regid, QStringLiteral("9"));
        QCOMPARE(h.request(&CxgatewRunner::cloudStatus, CxgatewRunner::CStatus).toJsonObject(),
                 QJsonObject({{"gw", true}, {"key", 0}, {"cert", 0}}));

        QSettings settings;
        for (auto it = exported.cbegin(); it != exported.cend(); ++it)
            QVERIFY2(settings.value(it.key()) == it.value(), qPrintable(it.key()));
        QCOMPARE(settings.value(Key::UiGeom).toByteArray(), QByteArray("\x01\x00\xff\n=", 5));
        QCOMPARE(settings.value(Key::CloudInFlight).toInt(), 7);
        QCOMPARE(settings.value(Key::HistoryDays).toInt(), 90);
        QCOMPARE(settings.value(Key::HistoryMB).toInt(), 1024);
        QCOMPARE(settings.value(QStringLiteral("Local/Note")).toString(), QStringLiteral("kept"));
        const QJsonArray devices = DevicePool::read().value("devices").toArray();
        QVERIFY(devices.contains(entry("thx9", "100", "S1", "77", "Boiler")));
        QVERIFY(devices.contains(entry("watchdog", "100", "W1", "78", "Pump")));

        CalvexCloudClient client;
        QCOMPARE(client.exportCertificate(), m_gateway.certificate.toDer());
        QCOMPARE(client.exportKey(), m_gateway.key.toDer());
    }

    void backupIsPrivateAndReplacesAnOldOne()
    {
        QVERIFY(storeCredentials(m_gateway));
        const QString file = path("private.bak");
        QVERIFY(writeAll(file, "an older backup"));
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther));
        RunnerHarness h;
        // Not the umask's doing: a permissive umask still gives an owner-only file.
        const mode_t previous = ::umask(0);
        const QVariant result = exportTo(h, file);
        ::umask(previous);
        QCOMPARE(result, QVariant(true));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));
        QCOMPARE(tableOf(readAll(file)).size(), 3);
        QCOMPARE(QDir(m_dir.path()).entryList({"private.bak*"}, QDir::Files | QDir::Hidden),
                 QStringList{"private.bak"});
    }

    void onlyExistingCredentialsAreSavedAndRestored_data()
    {
        QTest::addColumn<bool>("withCert");
        QTest::addColumn<bool>("withKey");
        QTest::newRow("none") << false << false;
        QTest::newRow("certificate only") << true << false;
        QTest::newRow("key only") << false << true;
    }
    void onlyExistingCredentialsAreSavedAndRestored()
    {
        QFETCH(bool, withCert);
        QFETCH(bool, withKey);
        QSettings().setValue(Key::CloudSerial, QStringLiteral("5521"));
        QVERIFY(storeCredentials(m_gateway));
        if (!withCert)
            QVERIFY(QFile::remove(certPath()));
        if (!withKey)
            QVERIFY(QFile::remove(keyPath()));
        const QString file = path("partial.bak");
        RunnerHarness h;
        QCOMPARE(exportTo(h, file), QVariant(true));

        const QByteArray backup = readAll(file);
        const QList<TableEntry> table = tableOf(backup);
        QCOMPARE(leAt(backup, 4), quint32(12 * (1 + int(withCert) + int(withKey))));
        QCOMPARE(table.first().tag, quint32(ConfigBackup::SettingsTag));
        QCOMPARE(qint64(table.last().offset + table.last().length), qint64(backup.size()));
        if (withCert || withKey) {
            // The credential entry follows the settings entry directly, at file offset 20.
            QCOMPARE(leAt(backup, 20),
                     quint32(withCert ? ConfigBackup::CertificateTag : ConfigBackup::KeyTag));
            QCOMPARE(table.at(1).offset, 32 + table.at(0).length);
        }

        // Restored over another gateway: what the backup lacks stays as it was.
        QVERIFY(prepareOtherGateway());
        const Files before = files();
        QCOMPARE(importFrom(h, file), QString());
        const Files after = files();
        QCOMPARE(QSettings().value(Key::CloudSerial).toString(), QStringLiteral("5521"));
        QCOMPARE(QSettings().value(QStringLiteral("Local/Note")).toString(), QStringLiteral("kept"));
        CalvexCloudClient client;
        if (withCert)
            QCOMPARE(client.exportCertificate(), m_gateway.certificate.toDer());
        else
            QCOMPARE(after.cert, before.cert);
        if (withKey)
            QCOMPARE(client.exportKey(), m_gateway.key.toDer());
        else
            QCOMPARE(after.key, before.key);
    }

    void acceptedLayoutsAndVersions_data()
    {
        QTest::addColumn<QByteArray>("backup");
        QTest::newRow("as written") << makeBackup(sections(backupPairs()));
        QTest::newRow("table reversed") << makeBackup(sections(backupPairs()), {2, 1, 0});
        const auto s = sections(backupPairs());
        QTest::newRow("certificate before settings") << makeBackup({s.at(1), s.at(0), s.at(2)});
        QTest::newRow("unknown fourth tag ignored") << makeBackup(
            sections(backupPairs()) + QList<ConfigBackup::Section>{{UnknownTag, "not a section"}});
        QTest::newRow("table remainder ignored") << makeBackup(sections(backupPairs()), {}, 5);
        QTest::newRow("version 0.1.9") << makeBackup(sections(backupPairs("0.1.9")));
        QTest::newRow("version 0.2") << makeBackup(sections(backupPairs("0.2")));
        QTest::newRow("version not a number") << makeBackup(sections(backupPairs("latest")));
    }
    void acceptedLayoutsAndVersions()
    {
        QFETCH(QByteArray, backup);
        QVERIFY(prepareOtherGateway());
        const QString file = path("layout.bak");
        QVERIFY(writeAll(file, backup));
        RunnerHarness h;
        QCOMPARE(importFrom(h, file), QString());
        QSettings settings;
        QCOMPARE(settings.value(Key::CloudSerial).toString(), QStringLiteral("5521"));
        QCOMPARE(settings.value(Key::CloudInterval).toInt(), 900);
        QCOMPARE(settings.value(QStringLiteral("Local/Note")).toString(), QStringLiteral("kept"));
        CalvexCloudClient client;
        QCOMPARE(client.exportCertificate(), m_gateway.certificate.toDer());
        QCOMPARE(client.exportKey(), m_gateway.key.toDer());
        QCOMPARE(find(h.things(), "gateway_").regid, QStringLiteral("9"));
    }

    // Every bad file is refused with its own message and leaves settings and credentials exactly
    // as they were; all of them go through one runner.
    void badFilesAreRefusedAndChangeNothing()
    {
        QVERIFY(prepareOtherGateway());
        const QList<ConfigBackup::Section> good = sections(backupPairs());
        const QByteArray valid = makeBackup(good);
        const int tableEnd = 8 + 36;
        const QByteArray garbageKey = QByteArray("\x30\x82\x01\x00", 4) + QByteArray(64, '\x5a');
        const QByteArray garbageCert = QByteArray("\x30\x82\x02\x00", 4) + QByteArray(64, '\x11');
        QByteArray noise(4096, '\0');
        QRandomGenerator rng(20260101);
        for (char &c : noise)
            c = char(rng.bounded(256));
        QVERIFY(leAt(noise, 0) != ConfigBackup::FormatVersion);

        struct Case
        {
            const char *name;
            QByteArray bytes;
            QString message;
        };
        auto withField = [](QByteArray bytes, int offset, quint32 value) {
            bytes.replace(offset, 4, le(value));
            return bytes;
        };
        const QList<Case> cases = {
            {"empty", {}, ConfigRefused},
            {"19 bytes", valid.left(19), ConfigRefused},
            {"20 bytes", valid.left(20), ConfigRefused},
            {"cut at the end of the table", valid.left(tableEnd), ConfigRefused},
            {"cut one byte into the sections", valid.left(tableEnd + 1), ReadFailed},
            {"last byte missing", valid.left(valid.size() - 1), ReadFailed},
            {"random bytes", noise, WrongVersion},
            {"format 0x201", withField(valid, 0, 0x201), WrongVersion},
            {"table length 0", withField(valid, 4, 0), ConfigRefused},
            {"table length 6", withField(valid, 4, 6), ConfigRefused},
            {"table reaching the end", withField(valid, 4, quint32(valid.size() - 8)), ConfigRefused},
            {"table length huge", withField(valid, 4, 0xfffffff0u), ConfigRefused},
            {"section past the end", withField(valid, 8 + 24 + 8, quint32(good.at(2).data.size() + 1)),
             ReadFailed},
            {"offset wrapping 32 bits", withField(withField(valid, 8 + 4, 0xfffffff0u), 8 + 8, 0x20),
             ReadFailed},
            {"unknown section past the end",
             makeBackup(good + QList<ConfigBackup::Section>{{UnknownTag, "x"}}).chopped(1), ReadFailed},
            {"settings garbage", makeBackup({{ConfigBackup::SettingsTag, QByteArray(300, '\x7f')}}),
             SettingsRefused},
            {"settings version 0.2.1", makeBackup(sections(backupPairs("0.2.1"))), SettingsRefused},
            {"settings version 1.0", makeBackup(sections(backupPairs("1.0"))), SettingsRefused},
            {"settings without version",
             makeBackup(
                 {{ConfigBackup::SettingsTag, settingsStream({{"Cloud/Serial", QStringLiteral("5521")}})},
                  good.at(1),
                  good.at(2)}),
             SettingsRefused},
            {"corrupt key after good settings",
             makeBackup({good.at(0), good.at(1), {ConfigBackup::KeyTag, garbageKey}}), CredentialsRefused},
            {"corrupt certificate after good settings and key",
             makeBackup({good.at(0), good.at(2), {ConfigBackup::CertificateTag, garbageCert}}),
             CredentialsRefused},
            {"certificate given as key", makeBackup({good.at(0), {ConfigBackup::KeyTag, good.at(1).data}}),
             CredentialsRefused},
        };

        RunnerHarness h;
        const Files before = files();
        const auto expectUnchanged = [&](const char *name) {
            QVERIFY2(h.rows().isEmpty(), name);
            QVERIFY2(files() == before, name);
        };

        QCOMPARE(importFrom(h, path("missing.bak")), ReadFailed.arg("missing.bak"));
        expectUnchanged("missing");
        QVERIFY(QDir(m_dir.path()).mkpath("folder.bak"));
        QCOMPARE(importFrom(h, path("folder.bak")), ReadFailed.arg("folder.bak"));
        expectUnchanged("folder");

        for (const Case &c : cases) {
            const QString name =
                QStringLiteral("bad-%1.bak").arg(QString::fromLatin1(c.name).replace(' ', '_'));
            QVERIFY(writeAll(path(name), c.bytes));
            const QString message = c.message.contains("%1") ? c.message.arg(name) : c.message;
            QCOMPARE(importFrom(h, path(name)), message);
            expectUnchanged(c.name);
        }

        // The runner is still sound: the valid file imports after all of that.
        QVERIFY(writeAll(path("valid.bak"), valid));
        QCOMPARE(importFrom(h, path("valid.bak")), QString());
        QCOMPARE(QSettings().value(Key::CloudSerial).toString(), QStringLiteral("5521"));
    }

    // The checks alone, on many more files than the runner should see: every truncation of a
    // complete backup, random files and random damage to a valid one.
    void checkRefusesTruncationsAndSurvivesNoise()
    {
        QSettings().setValue(Key::UiState, QByteArray(700, '\x42'));
        QVERIFY(storeCredentials(m_gateway));
        const QString file = path("source.bak");
        {
            RunnerHarness h;
            QCOMPARE(exportTo(h, file), QVariant(true));
        }
        const QByteArray valid = readAll(file);
        const quint32 tableEnd = 8 + leAt(valid, 4);
        QList<ConfigBackup::Section> sections;
        QCOMPARE(ConfigBackup::read(file, &sections), QString());
        QCOMPARE(sections.size(), 3);

        const QString probe = path("probe.bak");
        for (int length = 0; length < valid.size(); ++length) {
            QVERIFY(writeAll(probe, valid.left(length)));
            const QString expected =
                (length <= 19 || quint32(length) <= tableEnd ? ConfigRefused : ReadFailed).arg("probe.bak");
            const QString message = ConfigBackup::read(probe, &sections);
            QVERIFY2(message == expected, qPrintable(QStringLiteral("%1: %2").arg(length).arg(message)));
            QVERIFY(sections.isEmpty());
        }

        const QStringList known = {ReadFailed.arg("probe.bak"), ConfigRefused.arg("probe.bak"), WrongVersion,
                                   SettingsRefused.arg("probe.bak"), CredentialsRefused.arg("probe.bak")};
        QRandomGenerator rng(7);
        for (int round = 0; round < 1500; ++round) {
            QByteArray bytes;
            if (round % 3 == 0) {
                // Random content behind a correct format field.
                bytes = le(ConfigBackup::FormatVersion);
                const int length = int(rng.bounded(2048));
                for (int i = 0; i < length; ++i)
                    bytes.append(char(rng.bounded(256)));
                if (round % 2 == 0 && bytes.size() >= 8) // a plausible table length
                    bytes.replace(4, 4, le(12 * (1 + rng.bounded(4))));
            } else {
                // A valid backup with a few bytes changed anywhere.
                bytes = valid;
                const int changes = 1 + int(rng.bounded(4));
                for (int i = 0; i < changes; ++i)
                    bytes[int(rng.bounded(quint32(bytes.size())))] = char(rng.bounded(256));
            }
            QVERIFY(writeAll(probe, bytes));
            const QString message = ConfigBackup::read(probe, &sections);
            QVERIFY2(message.isEmpty() || known.contains(message), qPrintable(message));
            QVERIFY(message.isEmpty() || sections.isEmpty());
        }
    }

    // Whatever plain type a settings value may have, a plug-in's float setting included, comes back
    // as it was; only value types whose reading is more than copying data are refused.
    void everyPlainValueTypeRestores()
    {
        const QVariantMap nested{{"list", QVariantList{1, QStringLiteral("two"), 3.5}},
                                 {"bits", QBitArray(9, true)}};
        const Pairs plain = {
            {"Plugins/probe/float", 21.75},
            {"Plugins/probe/single", QVariant::fromValue(2.5f)},
            {"Plugins/probe/short", QVariant::fromValue(short(-7))},
            {"Plugins/probe/ushort", QVariant::fromValue(ushort(7))},
            {"Plugins/probe/long", QVariant::fromValue(-5L)},
            {"Plugins/probe/ulong", QVariant::fromValue(5UL)},
            {"Plugins/probe/char", QVariant::fromValue(char('c'))},
            {"Plugins/probe/schar", QVariant::fromValue((signed char)(-3))},
            {"Plugins/probe/uchar", QVariant::fromValue(uchar(250))},
            {"Plugins/probe/longlong", -(Q_INT64_C(1) << 40)},
            {"Plugins/probe/uuid",
             QUuid(0x67c8770b, 0x44f1, 0x410a, 0xab, 0x9a, 0xf9, 0xb5, 0x44, 0x6f, 0x13, 0xee)},
            {"Plugins/probe/line", QLineF(0.5, 1, 2, 3)},
            {"Plugins/probe/locale", QLocale(QLocale::Russian)},
            {"Plugins/probe/stamp", QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::OffsetFromUTC, 3600)},
            {"Plugins/probe/nested", nested}};
        const Pairs refused = {
            {"Plugins/probe/zone",
             QDateTime(QDate(2026, 3, 1), QTime(12, 0), QTimeZone(QByteArrayLiteral("Europe/Berlin")))}};
        RunnerHarness h;
        QVERIFY(writeAll(path("plain.bak"),
                         makeBackup({{ConfigBackup::SettingsTag, settingsStream(backupPairs() + plain)}})));
        QCOMPARE(importFrom(h, path("plain.bak")), QString());
        QSettings settings;
        for (const auto &pair : plain)
            QVERIFY2(settings.value(pair.first) == pair.second, qPrintable(pair.first));

        QVERIFY(writeAll(path("zone.bak"),
                         makeBackup({{ConfigBackup::SettingsTag, settingsStream(backupPairs() + refused)}})));
        QCOMPARE(importFrom(h, path("zone.bak")), SettingsRefused.arg("zone.bak"));
    }

    // A sound backup that cannot be stored says so, rather than blaming the file.
    void restoreIntoAnUnwritableSettingsFileSaysSo()
    {
        const QString settingsFile = QSettings().fileName();
        QFile::remove(settingsFile);
        QVERIFY(QDir().mkpath(settingsFile)); // a folder where the file should be: even root cannot write it
        RunnerHarness h;
        QVERIFY(writeAll(path("sound.bak"), makeBackup(sections(backupPairs()))));
        const QString message = importFrom(h, path("sound.bak"));
        QVERIFY(QDir(settingsFile).removeRecursively());
        QCOMPARE(message, SettingsNotWritten.arg("sound.bak"));
    }

    void exportToAMissingDirectoryFails()
    {
        const QString file = path("no/such/directory/lost.bak");
        RunnerHarness h;
        QCOMPARE(exportTo(h, file), QVariant(false));
        QCOMPARE(h.completions().size(), 2);
        QCOMPARE(h.completions().first(),
                 RunnerHarness::Completion(CxgatewRunner::Error, WriteFailed.arg("lost.bak")));
        QVERIFY(!QFileInfo::exists(file));
    }

    void exportToAFullFileSystemFailsAndKeepsTheOldFile()
    {
        const QString mountPoint = path("small");
        QVERIFY(QDir().mkpath(mountPoint));
        if (QProcess::execute(QStringLiteral("mount"),
                              {"-t", "tmpfs", "-o", "size=8k", "tmpfs", mountPoint}) != 0)
            QSKIP("cannot mount a small tmpfs here");
        m_mountPoint = mountPoint;

        // Far more than the file system holds.
        QByteArray blob(64 * 1024, '\0');
        QRandomGenerator rng(3);
        for (char &c : blob)
            c = char(rng.bounded(256));
        QSettings().setValue(Key::UiState, blob);
        QVERIFY(storeCredentials(m_gateway));

        const QString old = mountPoint + QStringLiteral("/full.bak");
        QVERIFY(writeAll(old, "the previous backup"));
        RunnerHarness h;
        QCOMPARE(exportTo(h, old), QVariant(false));
        QCOMPARE(h.resultsOf(CxgatewRunner::Error), QList<QVariant>{WriteFailed.arg("full.bak")});
        QCOMPARE(h.completions().first().first, int(CxgatewRunner::Error));
        QCOMPARE(readAll(old), QByteArray("the previous backup"));

        QCOMPARE(exportTo(h, mountPoint + QStringLiteral("/fresh.bak")), QVariant(false));
        QCOMPARE(h.resultsOf(CxgatewRunner::Error), QList<QVariant>{WriteFailed.arg("fresh.bak")});
        // Nothing half written is left behind, not even a temporary file.
        QCOMPARE(QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"full.bak"});
    }
};

QTEST_GUILESS_MAIN(TestConfigBackup)
#include "test_configbackup.moc"
