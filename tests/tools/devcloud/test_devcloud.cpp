// tsl-devcloud end to end: the built program on free ports with a temporary data directory, talked
// to over plain HTTP (registrar and portal) and over MQTT/TLS with mosquitto_pub/mosquitto_sub.

#include "appidentity.h"
#include "calvexcloudclient.h"
#include "devcloudprocess.h"
#include "eventstream.h"
#include "eventwait.h"
#include "registrationcodec.h"

#include <QFile>
#include <QJsonArray>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <csignal>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QJsonArray sib(const QList<QPair<QString, QString>> &devices)
{
    QJsonArray out;
    for (const auto &d : devices)
        out.append(QJsonArray{d.first, d.second});
    return out;
}

// The devices of a fleet as "id=alias" strings, sorted.
QStringList fleetEntries(const QJsonArray &fleet)
{
    QStringList out;
    for (const QJsonValue &v : fleet)
        out << v[QLatin1String("id")].toString() + QLatin1Char('=') + v[QLatin1String("alias")].toString();
    out.sort();
    return out;
}

// mosquitto_sub in the background, collecting "topic payload" lines.
class Subscriber
{
public:
    Subscriber(const QStringList &connectArgs, const QString &filter)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead, [this] { read(); });
        // Line-buffered output; -d prints the protocol steps ("Client ..."), -v the topic.
        m_process.start(
            QStringLiteral("stdbuf"),
            QStringList{QStringLiteral("-oL"), QStringLiteral("mosquitto_sub")}
                << connectArgs
                << QStringList{QStringLiteral("-d"), QStringLiteral("-v"), QStringLiteral("-t"), filter});
    }
    ~Subscriber()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool waitForSubscribed()
    {
        return waitUntil([this] { return m_subscribed; }, 10000);
    }
    bool waitFor(const QString &line, int timeoutMs = 10000)
    {
        return waitUntil([&] { return m_lines.contains(line); }, timeoutMs);
    }
    QStringList lines() const { return m_lines; }
    QString transcript() const { return m_transcript; }

private:
    void read()
    {
        m_pending += m_process.readAll();
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end));
            m_pending.remove(0, end + 1);
            m_transcript += line + QLatin1Char('\n');
            if (line.startsWith(QLatin1String("Client "))) {
                if (line.contains(QLatin1String("received SUBACK")))
                    m_subscribed = true;
                continue;
            }
            m_lines << line;
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
    QString m_transcript;
    bool m_subscribed = false;
};

} // namespace

class TestDevCloud : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void undecodableDocumentsGetError400_data();
    void undecodableDocumentsGetError400();
    void anyReportedSerialIsAccepted();
    void malformedHttpIsRefusedAndSurvived();
    void newGatewayIsRegisteredAfterThePortalConfirms();
    void knownGatewayGetsItsFleetOnly();
    void brokerLetsEachGatewayUseItsOwnTopicsOnly();
    void unconfirmedCodeExpires();
    void faultSwitches_data();
    void faultSwitches();
    void restartKeepsCaAndRegistryAndTheBrokerDiesWithUs();
    void lostPartiesAreNoticed();

private:
    QUrl registerUrl(const DevCloudProcess &cloud, const QString &doc) const;
    // POST to the portal; returns the HTTP status, the body in *body.
    int postCode(const DevCloudProcess &cloud, const QString &code, bool asForm, QByteArray *body = nullptr);
    QStringList mqttArgs(const QString &cert, const QString &key) const;
    bool publish(const QString &cert, const QString &key, const QString &topic, const QByteArray &payload);
    QByteArray rawHttp(const QByteArray &request);
    QString tempPath(const QString &name) const { return m_tmp.filePath(name); }

    QTemporaryDir m_tmp;
    QString m_data;
    DevCloudProcess m_cloud;
    QNetworkAccessManager m_nam;

    // What the first registration handed out, for the tests after it.
    QString m_gatewayId;
    QString m_gatewayCert;
    QString m_gatewayKey;
    QJsonArray m_fleet;
};

void TestDevCloud::initTestCase()
{
    QVERIFY2(QFile::exists(DevCloudProcess::program()), qPrintable(DevCloudProcess::program()));
    for (const char *tool : {"mosquitto", "mosquitto_pub", "mosquitto_sub", "stdbuf"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty() &&
            QStandardPaths::findExecutable(QLatin1String(tool), {QStringLiteral("/usr/sbin")}).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    }
    QVERIFY(m_tmp.isValid());
    m_data = tempPath(QStringLiteral("cloud"));
    QVERIFY2(m_cloud.start(m_data, {QStringLiteral("--code-timeout"), QStringLiteral("60")}),
             qPrintable(m_cloud.diagnostics()));
    QVERIFY(m_cloud.registrar().startsWith(QLatin1String("http://127.0.0.1:")));
    QVERIFY(m_cloud.registrar().endsWith(QLatin1String("/iot/register")));
    QCOMPARE(m_cloud.value(QStringLiteral("Cloud/Host")), QStringLiteral("localhost"));
    QVERIFY(m_cloud.mqttPort() > 0);
    QCOMPARE(m_cloud.caPath(), m_data + QStringLiteral("/ca.crt"));
    QCOMPARE(m_cloud.value(QStringLiteral("CONSOLE_CERT")), m_data + QStringLiteral("/console.crt"));
    QCOMPARE(m_cloud.value(QStringLiteral("CONSOLE_KEY")), m_data + QStringLiteral("/console.key"));
    const QSslCertificate console(readFile(m_cloud.value(QStringLiteral("CONSOLE_CERT"))));
    QCOMPARE(console.subjectInfo(QSslCertificate::CommonName), QStringList{QStringLiteral("console")});
}

void TestDevCloud::cleanupTestCase()
{
    if (m_cloud.isRunning())
        QVERIFY2(m_cloud.stop(), qPrintable(m_cloud.diagnostics()));
}

QUrl TestDevCloud::registerUrl(const DevCloudProcess &cloud, const QString &doc) const
{
    QUrl url(cloud.registrar());
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("doc"), QString::fromLatin1(QUrl::toPercentEncoding(doc)));
    url.setQuery(query);
    return url;
}

int TestDevCloud::postCode(const DevCloudProcess &cloud, const QString &code, bool asForm, QByteArray *body)
{
    QUrl url(cloud.portal());
    QByteArray payload;
    if (asForm)
        payload = "code=" + code.toUtf8();
    else
        url.setQuery(QStringLiteral("code=") + code);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *reply = m_nam.post(request, payload);
    waitUntil([reply] { return reply->isFinished(); }, 10000);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (body)
        *body = reply->readAll();
    delete reply;
    return status;
}

QStringList TestDevCloud::mqttArgs(const QString &cert, const QString &key) const
{
    return {QStringLiteral("-h"),       QStringLiteral("localhost"),
            QStringLiteral("-p"),       QString::number(m_cloud.mqttPort()),
            QStringLiteral("--cafile"), m_cloud.caPath(),
            QStringLiteral("--cert"),   cert,
            QStringLiteral("--key"),    key};
}

bool TestDevCloud::publish(const QString &cert, const QString &key, const QString &topic,
                           const QByteArray &payload)
{
    QProcess pub;
    pub.start(QStringLiteral("mosquitto_pub"),
              mqttArgs(cert, key) << QStringList{QStringLiteral("-t"), topic, QStringLiteral("-m"),
                                                 QString::fromUtf8(payload)});
    return pub.waitForFinished(10000) && pub.exitStatus() == QProcess::NormalExit && pub.exitCode() == 0;
}

QByteArray TestDevCloud::rawHttp(const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, QUrl(m_cloud.registrar()).port());
    if (!socket.waitForConnected(5000))
        return "no connection";
    socket.write(request);
    QByteArray answer;
    waitUntil(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        10000);
    return answer + socket.readAll();
}

void TestDevCloud::undecodableDocumentsGetError400_data()
{
    QTest::addColumn<QString>("doc");
    QTest::addColumn<int>("code");
    const QJsonArray good = sib({{QStringLiteral("thx9_1_A1B2"), QStringLiteral("Boiler")}});
    QTest::newRow("empty") << QString() << 400;
    QTest::newRow("not base64") << QStringLiteral("%%%not*base64") << 400;
    QTest::newRow("base64, not zlib")
        << QString::fromLatin1(QByteArray("plain text, no zlib").toBase64(QByteArray::Base64UrlEncoding))
        << 400;
    QTest::newRow("zlib of a JSON array")
        << QString::fromLatin1(qCompress("[1,2,3]").mid(4).toBase64(QByteArray::Base64UrlEncoding)) << 400;
    QTest::newRow("no gateway named") << RegistrationCodec::encode({{QStringLiteral("sib"), good}}) << 400;
    QTest::newRow("sib not an array")
        << RegistrationCodec::encode(
               {{QStringLiteral("gw"), QStringLiteral("gateway_200_?")}, {QStringLiteral("sib"), 5}})
        << 400;
    // A device id is part of topics and ACL lines: nothing that could widen or break them.
    for (const char *bad : {"thx9_1_A/B", "thx9_1_#", "thx9_1_A+", "thx9_1_A B", "thx9_1_A\tB",
                            "thx9_1_A\x7f", "thx9_1_A\nuser console", "thx9_1", "thx9__A", "_1_A"}) {
        QTest::newRow(qPrintable(QStringLiteral("device id %1")
                                     .arg(QString::fromLatin1(bad).replace('\n', QStringLiteral("\\n")))))
            << RegistrationCodec::encode(
                   {{QStringLiteral("gw"), QStringLiteral("gateway_200_?")},
                    {QStringLiteral("alias"), QStringLiteral("G")},
                    {QStringLiteral("sib"), sib({{QString::fromLatin1(bad), QStringLiteral("x")}})}})
            << 400;
    }
    QTest::newRow("device entry not a pair")
        << RegistrationCodec::encode(
               {{QStringLiteral("gw"), QStringLiteral("gateway_200_?")},
                {QStringLiteral("sib"), QJsonArray{QJsonArray{QStringLiteral("thx9_1_A")}}}})
        << 400;
    QTest::newRow("unknown gateway") << RegistrationCodec::encode(
                                            {{QStringLiteral("app"), QStringLiteral("gateway_200_77_nope")},
                                             {QStringLiteral("sib"), good}})
                                     << 404;
}

void TestDevCloud::undecodableDocumentsGetError400()
{
    QFETCH(QString, doc);
    QFETCH(int, code);
    EventStream stream(&m_nam, registerUrl(m_cloud, doc));
    QVERIFY(stream.waitForEnd());
    QCOMPARE(stream.status(), 200);
    QVERIFY2(stream.contentType().startsWith(QLatin1String("text/event-stream")),
             qPrintable(stream.contentType()));
    QCOMPARE(stream.names(), QStringList{QStringLiteral("error")});
    QCOMPARE(stream.event(0).data.value(QLatin1String("code")).toInt(), code);
    QVERIFY(!stream.event(0).data.value(QLatin1String("error")).toString().isEmpty());
}

// Any serial a real device may report registers: "_", dots, non-ASCII letters.
void TestDevCloud::anyReportedSerialIsAccepted()
{
    const QJsonObject doc{{QStringLiteral("gw"), QStringLiteral("gateway_200_?")},
                          {QStringLiteral("sib"), sib({{QStringLiteral("thx9_1_A_B"), QStringLiteral("x")},
                                                       {QStringLiteral("thx9_1_Ä1.b-ß"), QStringLiteral("y")},
                                                       {QStringLiteral("vgl5_2_?"), QString()}})}};
    EventStream stream(&m_nam, registerUrl(m_cloud, RegistrationCodec::encode(doc)));
    QVERIFY(stream.waitForEvents(1));
    QCOMPARE(stream.event(0).name, QStringLiteral("code"));
}

void TestDevCloud::malformedHttpIsRefusedAndSurvived()
{
    QVERIFY(rawHttp("GARBAGE\r\n\r\n").startsWith("HTTP/1.1 400 "));
    QVERIFY(rawHttp(QByteArray(3000, '\x01') + "\r\n\r\n").startsWith("HTTP/1.1 400 "));
    QVERIFY(rawHttp("GET /things HTTP/1.1\r\nno colon here\r\n\r\n").startsWith("HTTP/1.1 400 "));
    QVERIFY(rawHttp("GET /things HTTP/1.1\r\nContent-Length: -5\r\n\r\n").startsWith("HTTP/1.1 400 "));
    // Too large: an endless header, and a body announced beyond the limit.
    QVERIFY(rawHttp("GET /things HTTP/1.1\r\nX-Big: " + QByteArray(100 * 1024, 'a') + "\r\n\r\n")
                .startsWith("HTTP/1.1 413 "));
    QVERIFY(
        rawHttp("POST /things HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n").startsWith("HTTP/1.1 413 "));
    QVERIFY(rawHttp("POST /things HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n")
                .startsWith("HTTP/1.1 413 "));
    QVERIFY(rawHttp("POST /things HTTP/1.1\r\nContent-Length: 70000\r\n\r\n" + QByteArray(70000, 'c'))
                .startsWith("HTTP/1.1 413 "));
    QVERIFY(rawHttp("POST /iot/register HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 405 "));
    QVERIFY(rawHttp("GET /nowhere HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404 "));
    // A client that connects and goes away, and one that sends half a request and goes away.
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, QUrl(m_cloud.registrar()).port());
        QVERIFY(s.waitForConnected(5000));
        s.write("GET /iot/register?doc=abc HTTP/1.1\r\nHost: x");
        QVERIFY(s.waitForBytesWritten(5000));
    }
    const QByteArray page = rawHttp("GET /things HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QVERIFY2(page.startsWith("HTTP/1.1 200 "), page.constData());
    QVERIFY(page.contains("<form"));
    QVERIFY(page.contains("name=\"code\""));
    QVERIFY(m_cloud.isRunning());
}

void TestDevCloud::newGatewayIsRegisteredAfterThePortalConfirms()
{
    const QJsonObject doc{
        {QStringLiteral("gw"), QStringLiteral("gateway_200_?")},
        {QStringLiteral("alias"), QStringLiteral("Office")},
        {QStringLiteral("sib"), sib({{QStringLiteral("thx9_1_A1B2"), QStringLiteral("Boiler")},
                                     {QStringLiteral("vgl5_2_77"), QStringLiteral("Watchdog")}})}};
    EventStream stream(&m_nam, registerUrl(m_cloud, RegistrationCodec::encode(doc)));
    QVERIFY(stream.waitForEvents(1));
    QCOMPARE(stream.event(0).name, QStringLiteral("code"));
    const int value = stream.event(0).data.value(QLatin1String("value")).toInt(-1);
    QVERIFY2(value >= 100000 && value <= 999999, qPrintable(QString::number(value)));
    QCOMPARE(stream.event(0).data.value(QLatin1String("timeout")).toInt(), 60);

    // Nothing more comes until the code is confirmed; a wrong code confirms nothing.
    QTest::qWait(300);
    QCOMPARE(stream.events().size(), 1);
    QVERIFY(!stream.ended());
    QByteArray page;
    QCOMPARE(postCode(m_cloud, QString::number(value == 999999 ? 100000 : value + 1), true, &page), 404);
    QVERIFY(page.contains("Unknown code"));
    QCOMPARE(postCode(m_cloud, QStringLiteral("<b>x</b>"), true, &page), 404);
    QVERIFY(!page.contains("<b>x</b>"));

    QCOMPARE(postCode(m_cloud, QString::number(value), true, &page), 200);
    QVERIFY(page.contains("confirmed"));
    QVERIFY(stream.waitForEnd());
    QCOMPARE(stream.names(), (QStringList{QStringLiteral("code"), QStringLiteral("result")}));
    // A code is good for one confirmation only.
    QCOMPARE(postCode(m_cloud, QString::number(value), false), 404);

    const QJsonObject result = stream.event(1).data;
    const QString id = result.value(QLatin1String("id")).toString();
    const QStringList parts = id.split(QLatin1Char('_'));
    QCOMPARE(parts.size(), 4);
    QCOMPARE(parts[0], QStringLiteral("gateway"));
    QCOMPARE(parts[1], QStringLiteral("200"));
    QVERIFY(!parts[2].isEmpty() && !parts[3].isEmpty());
    QCOMPARE(result.value(QLatin1String("alias")).toString(), QStringLiteral("Office"));
    QCOMPARE(result.value(QLatin1String("server")).toString(), QStringLiteral("localhost"));
    QCOMPARE(result.value(QLatin1String("port")).toInt(), int(m_cloud.mqttPort()));

    const QJsonArray fleet = result.value(QLatin1String("fleet")).toArray();
    QCOMPARE(fleet.size(), 2);
    QStringList aliases;
    for (const QJsonValue &v : fleet) {
        const QString devId = v[QLatin1String("id")].toString();
        const QStringList devParts = devId.split(QLatin1Char('_'));
        QCOMPARE(devParts.size(), 4);
        QVERIFY(devId.startsWith(QLatin1String("thx9_1_A1B2_")) ||
                devId.startsWith(QLatin1String("vgl5_2_77_")));
        aliases << v[QLatin1String("alias")].toString();
    }
    aliases.sort();
    QCOMPARE(aliases, (QStringList{QStringLiteral("Boiler"), QStringLiteral("Watchdog")}));

    const QJsonObject cred = result.value(QLatin1String("cred")).toObject();
    const QByteArray keyPem = cred.value(QLatin1String("priv")).toString().toLatin1();
    const QByteArray certPem = cred.value(QLatin1String("file")).toString().toLatin1();
    // Exactly how the gateway reads them.
    const QSslKey key(keyPem, QSsl::Rsa);
    QVERIFY(!key.isNull());
    QCOMPARE(key.length(), 2048);
    const QSslCertificate cert(certPem);
    QVERIFY(!cert.isNull());
    QCOMPARE(cert.subjectInfo(QSslCertificate::CommonName), QStringList{id});
    const QSslCertificate ca(readFile(m_cloud.caPath()));
    QVERIFY(!ca.isNull());
    QCOMPARE(cert.issuerDisplayName(), ca.subjectDisplayName());
    // The gateway's credential store takes them as they are.
    CalvexCloudClient client;
    QVERIFY2(client.storeCredentials(certPem, keyPem), qPrintable(client.lastError()));
    QCOMPARE(client.keyStatus(), CalvexCloudClient::Ok);
    QCOMPARE(client.certStatus(), CalvexCloudClient::Ok);

    m_gatewayId = id;
    m_fleet = fleet;
    m_gatewayCert = tempPath(QStringLiteral("gateway.crt"));
    m_gatewayKey = tempPath(QStringLiteral("gateway.key"));
    QVERIFY(writeFile(m_gatewayCert, certPem));
    QVERIFY(writeFile(m_gatewayKey, keyPem));
}

void TestDevCloud::knownGatewayGetsItsFleetOnly()
{
    QVERIFY(!m_gatewayId.isEmpty());
    const QJsonObject doc{
        {QStringLiteral("app"), m_gatewayId},
        {QStringLiteral("sib"), sib({{QStringLiteral("thx9_1_C3D4"), QStringLiteral("Cellar")}})}};
    EventStream stream(&m_nam, registerUrl(m_cloud, RegistrationCodec::encode(doc)));
    QVERIFY(stream.waitForEvents(1));
    QCOMPARE(stream.event(0).name, QStringLiteral("code"));
    // Scripts confirm with ?code=.
    QCOMPARE(
        postCode(m_cloud, QString::number(stream.event(0).data.value(QLatin1String("value")).toInt()), false),
        200);
    QVERIFY(stream.waitForEnd());
    QCOMPARE(stream.names(), (QStringList{QStringLiteral("code"), QStringLiteral("result")}));
    const QJsonObject result = stream.event(1).data;
    QVERIFY(!result.contains(QLatin1String("id")));
    QVERIFY(!result.contains(QLatin1String("cred")));
    QCOMPARE(result.value(QLatin1String("server")).toString(), QStringLiteral("localhost"));
    QCOMPARE(result.value(QLatin1String("port")).toInt(), int(m_cloud.mqttPort()));
    // The devices registered before, and the new one.
    const QJsonArray fleet = result.value(QLatin1String("fleet")).toArray();
    QCOMPARE(fleet.size(), 3);
    QStringList expected = fleetEntries(m_fleet);
    for (const QJsonValue &v : fleet) {
        if (v[QLatin1String("id")].toString().startsWith(QLatin1String("thx9_1_C3D4_"))) {
            QCOMPARE(v[QLatin1String("alias")].toString(), QStringLiteral("Cellar"));
            expected << v[QLatin1String("id")].toString() + QStringLiteral("=Cellar");
        }
    }
    expected.sort();
    QCOMPARE(fleetEntries(fleet), expected);

    // A device the gateway asks for again (it lost its id) gets a new id in place of the old one.
    const QString boiler =
        fleetEntries(m_fleet).filter(QStringLiteral("thx9_1_A1B2_")).value(0).section('=', 0, 0);
    QVERIFY(!boiler.isEmpty());
    const QJsonObject again{
        {QStringLiteral("app"), m_gatewayId},
        {QStringLiteral("sib"), sib({{QStringLiteral("thx9_1_A1B2"), QStringLiteral("Boiler 2")}})}};
    EventStream second(&m_nam, registerUrl(m_cloud, RegistrationCodec::encode(again)));
    QVERIFY(second.waitForEvents(1));
    QCOMPARE(
        postCode(m_cloud, QString::number(second.event(0).data.value(QLatin1String("value")).toInt()), true),
        200);
    QVERIFY(second.waitForEnd());
    const QStringList entries = fleetEntries(second.event(1).data.value(QLatin1String("fleet")).toArray());
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.filter(QStringLiteral("thx9_1_A1B2_")).size(), 1);
    QVERIFY(!entries.join(',').contains(boiler));
    QVERIFY(entries.filter(QStringLiteral("thx9_1_A1B2_")).value(0).endsWith(QLatin1String("=Boiler 2")));
    m_fleet = second.event(1).data.value(QLatin1String("fleet")).toArray();
}

void TestDevCloud::brokerLetsEachGatewayUseItsOwnTopicsOnly()
{
    QVERIFY(!m_gatewayId.isEmpty());
    const QString consoleCert = m_cloud.value(QStringLiteral("CONSOLE_CERT"));
    const QString consoleKey = m_cloud.value(QStringLiteral("CONSOLE_KEY"));
    const QString device = m_fleet.at(0)[QLatin1String("id")].toString();

    Subscriber states(mqttArgs(consoleCert, consoleKey), QStringLiteral("things/+/state"));
    QVERIFY2(states.waitForSubscribed(), qPrintable(states.transcript()));
    Subscriber updates(mqttArgs(m_gatewayCert, m_gatewayKey), QStringLiteral("things/%1/update").arg(device));
    QVERIFY2(updates.waitForSubscribed(), qPrintable(updates.transcript()));

    // Its own state and its device's state get through.
    QVERIFY(publish(m_gatewayCert, m_gatewayKey, QStringLiteral("things/%1/state").arg(m_gatewayId),
                    "{\"count\":3}"));
    QVERIFY2(states.waitFor(QStringLiteral("things/%1/state {\"count\":3}").arg(m_gatewayId)),
             qPrintable(states.transcript()));
    // A state for somebody else's id is dropped by the broker; the marker after it shows that
    // it had its chance to arrive.
    QVERIFY(publish(m_gatewayCert, m_gatewayKey, QStringLiteral("things/thx9_1_FFFF_other/state"),
                    "{\"forged\":1}"));
    QVERIFY(
        publish(m_gatewayCert, m_gatewayKey, QStringLiteral("things/%1/state").arg(device), "{\"t\":21.5}"));
    QVERIFY2(states.waitFor(QStringLiteral("things/%1/state {\"t\":21.5}").arg(device)),
             qPrintable(states.transcript()));
    QVERIFY2(states.lines().filter(QStringLiteral("forged")).isEmpty(), qPrintable(states.transcript()));

    // The console writes updates; the gateway reads those of its devices.
    QVERIFY(publish(consoleCert, consoleKey, QStringLiteral("things/%1/update").arg(device),
                    "{\"cmd\":\"reset\"}"));
    QVERIFY2(updates.waitFor(QStringLiteral("things/%1/update {\"cmd\":\"reset\"}").arg(device)),
             qPrintable(updates.transcript()));
    // The gateway does not write updates, not even for its own devices.
    QVERIFY(
        publish(m_gatewayCert, m_gatewayKey, QStringLiteral("things/%1/update").arg(device), "{\"self\":1}"));
    QVERIFY(
        publish(consoleCert, consoleKey, QStringLiteral("things/%1/update").arg(device), "{\"marker\":1}"));
    QVERIFY(updates.waitFor(QStringLiteral("things/%1/update {\"marker\":1}").arg(device)));
    QVERIFY2(updates.lines().filter(QStringLiteral("self")).isEmpty(), qPrintable(updates.transcript()));
}

void TestDevCloud::unconfirmedCodeExpires()
{
    DevCloudProcess cloud;
    QVERIFY2(cloud.start(tempPath(QStringLiteral("expiry")),
                         {QStringLiteral("--code-timeout"), QStringLiteral("1")}),
             qPrintable(cloud.diagnostics()));
    const QJsonObject doc{{QStringLiteral("gw"), QStringLiteral("gateway_200_?")},
                          {QStringLiteral("alias"), QStringLiteral("Late")},
                          {QStringLiteral("sib"), QJsonArray()}};
    EventStream stream(&m_nam, registerUrl(cloud, RegistrationCodec::encode(doc)));
    QVERIFY(stream.waitForEvents(1));
    QCOMPARE(stream.event(0).data.value(QLatin1String("timeout")).toInt(), 1);
    QVERIFY(stream.waitForEnd(5000));
    QCOMPARE(stream.names(), (QStringList{QStringLiteral("code"), QStringLiteral("error")}));
    QCOMPARE(stream.event(1).data.value(QLatin1String("code")).toInt(), 408);
    QCOMPARE(stream.event(1).data.value(QLatin1String("error")).toString(),
             QStringLiteral("The code has expired"));
    QCOMPARE(
        postCode(cloud, QString::number(stream.event(0).data.value(QLatin1String("value")).toInt()), true),
        404);
    QVERIFY2(cloud.stop(), qPrintable(cloud.diagnostics()));
}

void TestDevCloud::faultSwitches_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("close-after-code")
        << QStringLiteral("close-after-code") << QStringList{QStringLiteral("code")};
    QTest::newRow("error") << QStringLiteral("error") << QStringList{QStringLiteral("error")};
    QTest::newRow("bad-cred") << QStringLiteral("bad-cred")
                              << QStringList{QStringLiteral("code"), QStringLiteral("result")};
}

void TestDevCloud::faultSwitches()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, events);
    DevCloudProcess cloud;
    const QString data = tempPath(QStringLiteral("fault-") + fault);
    QVERIFY2(cloud.start(data, {QStringLiteral("--fault"), fault, QStringLiteral("--auto-confirm"),
                                QStringLiteral("0")}),
             qPrintable(cloud.diagnostics()));
    const QJsonObject doc{{QStringLiteral("gw"), QStringLiteral("gateway_200_?")},
                          {QStringLiteral("alias"), QStringLiteral("Faulty")},
                          {QStringLiteral("sib"), sib({{QStringLiteral("thx9_1_9"), QStringLiteral("T")}})}};
    EventStream stream(&m_nam, registerUrl(cloud, RegistrationCodec::encode(doc)));
    QVERIFY(stream.waitForEnd());
    QCOMPARE(stream.names(), events);
    if (fault == QLatin1String("error")) {
        QCOMPARE(stream.event(0).data.value(QLatin1String("code")).toInt(), 403);
        QCOMPARE(stream.event(0).data.value(QLatin1String("error")).toString(),
                 QStringLiteral("Registration refused"));
    } else if (fault == QLatin1String("bad-cred")) {
        const QJsonObject result = stream.event(1).data;
        QCOMPARE(result.value(QLatin1String("id")).toString().split(QLatin1Char('_')).size(), 4);
        const QJsonObject cred = result.value(QLatin1String("cred")).toObject();
        QVERIFY(cred.contains(QLatin1String("priv")) && cred.contains(QLatin1String("file")));
        QVERIFY(QSslKey(cred.value(QLatin1String("priv")).toString().toLatin1(), QSsl::Rsa).isNull());
        QVERIFY(QSslCertificate(cred.value(QLatin1String("file")).toString().toLatin1()).isNull());
        CalvexCloudClient client;
        QVERIFY(!client.storeCredentials(cred.value(QLatin1String("file")).toString().toLatin1(),
                                         cred.value(QLatin1String("priv")).toString().toLatin1()));
        // A gateway that got nothing usable is not kept.
        QVERIFY(!readFile(data + QStringLiteral("/registry.json")).contains("gateway_200_"));
    }
    QVERIFY2(cloud.stop(), qPrintable(cloud.diagnostics()));
}

void TestDevCloud::restartKeepsCaAndRegistryAndTheBrokerDiesWithUs()
{
    QVERIFY(!m_gatewayId.isEmpty());
    const QByteArray ca = readFile(m_cloud.caPath());
    const QByteArray console = readFile(m_cloud.value(QStringLiteral("CONSOLE_CERT")));
    QVERIFY(!ca.isEmpty() && !console.isEmpty());
    const quint16 oldMqtt = m_cloud.mqttPort();

    // Killed outright: the broker must not outlive it.
    m_cloud.kill();
    const bool brokerGone = waitUntil(
        [&] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, oldMqtt);
            return !probe.waitForConnected(500);
        },
        10000);
    QVERIFY2(brokerGone, "mosquitto still listens after tsl-devcloud was killed");

    QVERIFY2(m_cloud.start(m_data, {QStringLiteral("--configure-gateway"), QStringLiteral("--auto-confirm"),
                                    QStringLiteral("50")}),
             qPrintable(m_cloud.diagnostics()));
    QCOMPARE(readFile(m_cloud.caPath()), ca);
    QCOMPARE(readFile(m_cloud.value(QStringLiteral("CONSOLE_CERT"))), console);

    // The gateway's own settings now point here.
    setApplicationIdentity();
    {
        const QSettings gateway;
        QCOMPARE(gateway.value(QStringLiteral("Web/RegEndpoint")).toString(), m_cloud.registrar());
        QCOMPARE(gateway.value(QStringLiteral("Web/Cloud")).toString(),
                 m_cloud.value(QStringLiteral("Web/Cloud")));
        QCOMPARE(gateway.value(QStringLiteral("Cloud/Host")).toString(), QStringLiteral("localhost"));
        QCOMPARE(gateway.value(QStringLiteral("Cloud/Port")).toInt(), int(m_cloud.mqttPort()));
        QCOMPARE(gateway.value(QStringLiteral("Web/UpdateURL")).toString(),
                 m_cloud.value(QStringLiteral("Web/Cloud")) + "/software/tsl-gate/updates/lin/appcast.json");
    }

    // The registry survived: the gateway is known, with all its devices.
    const QJsonObject doc{
        {QStringLiteral("app"), m_gatewayId},
        {QStringLiteral("sib"), sib({{QStringLiteral("vgl5_2_88"), QStringLiteral("Second")}})}};
    EventStream stream(&m_nam, registerUrl(m_cloud, RegistrationCodec::encode(doc)));
    QVERIFY(stream.waitForEnd());
    QCOMPARE(stream.names(), (QStringList{QStringLiteral("code"), QStringLiteral("result")}));
    const QStringList fleet = fleetEntries(stream.event(1).data.value(QLatin1String("fleet")).toArray());
    QCOMPARE(fleet.size(), m_fleet.size() + 1);
    for (const QString &entry : fleetEntries(m_fleet))
        QVERIFY2(fleet.contains(entry), qPrintable(entry));

    // And the broker still knows the gateway's certificate and rights.
    Subscriber states(
        mqttArgs(m_cloud.value(QStringLiteral("CONSOLE_CERT")), m_cloud.value(QStringLiteral("CONSOLE_KEY"))),
        QStringLiteral("things/+/state"));
    QVERIFY2(states.waitForSubscribed(), qPrintable(states.transcript()));
    QVERIFY(publish(m_gatewayCert, m_gatewayKey, QStringLiteral("things/%1/state").arg(m_gatewayId),
                    "{\"count\":4}"));
    QVERIFY2(states.waitFor(QStringLiteral("things/%1/state {\"count\":4}").arg(m_gatewayId)),
             qPrintable(states.transcript()));

    // A clean stop takes the broker down too.
    const quint16 mqtt = m_cloud.mqttPort();
    QVERIFY2(m_cloud.stop(), qPrintable(m_cloud.diagnostics()));
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, mqtt);
    QVERIFY(!probe.waitForConnected(1000));
}

void TestDevCloud::lostPartiesAreNoticed()
{
    DevCloudProcess cloud;
    QVERIFY2(cloud.start(tempPath(QStringLiteral("lost"))), qPrintable(cloud.diagnostics()));

    // A gateway that hangs up takes its code with it.
    const QJsonObject doc{{QStringLiteral("gw"), QStringLiteral("gateway_200_?")},
                          {QStringLiteral("alias"), QStringLiteral("Impatient")},
                          {QStringLiteral("sib"), QJsonArray()}};
    QString code;
    {
        // A socket of our own, so that the hang-up happens right here and not some time later.
        QTcpSocket gateway;
        gateway.connectToHost(QHostAddress::LocalHost, QUrl(cloud.registrar()).port());
        QVERIFY(gateway.waitForConnected(5000));
        gateway.write("GET " +
                      registerUrl(cloud, RegistrationCodec::encode(doc))
                          .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray answer;
        QVERIFY(waitUntil(
            [&] {
                answer += gateway.readAll();
                return answer.contains("}\n\n");
            },
            10000));
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("\"value\":(\\d+)")).match(QString::fromUtf8(answer));
        QVERIFY2(m.hasMatch(), answer.constData());
        code = m.captured(1);
        gateway.close();
    }
    QCOMPARE(postCode(cloud, code, true), 404);
    QVERIFY(!readFile(tempPath(QStringLiteral("lost/registry.json"))).contains("Impatient"));

    // Without its broker the cloud is of no use: it says so and ends with an error.
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(cloud.pid()));
    QVERIFY(children.open(QIODevice::ReadOnly));
    const QList<QByteArray> pids = children.readAll().trimmed().split(' ');
    QCOMPARE(pids.size(), 1);
    QVERIFY(::kill(pid_t(pids[0].toLongLong()), SIGKILL) == 0);
    QCOMPARE(cloud.waitForExit(10000), 1);
    QVERIFY2(cloud.diagnostics().contains(QLatin1String("mosquitto")), qPrintable(cloud.diagnostics()));
}

QTEST_GUILESS_MAIN(TestDevCloud)
#include "test_devcloud.moc"
