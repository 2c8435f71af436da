#include "blackhole.h"
#include "fakemqttbroker.h"
#include "mosquittobroker.h"
#include "mosquittosubscriber.h"
#include "qmqttconnection.h"
#include "testpki.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <sys/resource.h>

namespace {

constexpr int RetryMs = 1000;

std::unique_ptr<QMqttConnection> makeConnection(quint16 port,
                                                const QString &clientName = QStringLiteral("gw-test"),
                                                const QString &host = QStringLiteral("localhost"))
{
    auto c = std::make_unique<QMqttConnection>(host, port,
                                               TestPki::instance().clientConfiguration(clientName), false);
    c->setClientId(clientName.isEmpty() ? QStringLiteral("anonymous") : clientName);
    c->setUsername(c->clientId());
    c->setKeepAlive(30);
    c->setCleanSession(true);
    c->setAutoReconnect(true);
    c->setAutoReconnectInterval(RetryMs);
    return c;
}

MqttMessage message(const QString &topic, const QByteArray &payload)
{
    MqttMessage m;
    m.topic = topic;
    m.payload = payload;
    return m;
}

// CPU time (user + system) of this process so far, in seconds.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QList<int> errorCodes(const QSignalSpy &spy)
{
    QList<int> codes;
    for (const QList<QVariant> &args : spy)
        codes << args.at(0).toInt();
    return codes;
}

} // namespace

class TestQMqttConnection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestPki &pki = TestPki::instance();
        QVERIFY2(pki.isValid(), qPrintable(pki.errorString()));
    }

    void connectsSubscribesAndExchangesMessages()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);

        QCOMPARE(c->socketState(), QAbstractSocket::UnconnectedState);
        c->connectToHost();
        QCOMPARE(c->socketState(), QAbstractSocket::HostLookupState);
        QVERIFY(!c->isConnectedToHost());
        QVERIFY2(connected.wait(15000), qPrintable(broker.log()));
        QCOMPARE(connected.count(), 1);
        QVERIFY(c->isConnectedToHost());
        QCOMPARE(c->socketState(), QAbstractSocket::ConnectedState);
        QVERIFY(errors.isEmpty());

        // broker to client
        QSignalSpy subscribed(c.get(), &QMqttConnection::subscribed);
        QSignalSpy received(c.get(), &QMqttConnection::received);
        QVERIFY(c->subscribe(QStringLiteral("things/dev_1/update")) != 0);
        QVERIFY(subscribed.wait(15000));
        QCOMPARE(subscribed.at(0).at(0).toString(), QStringLiteral("things/dev_1/update"));
        QCOMPARE(subscribed.at(0).at(1).value<quint8>(), quint8(0));
        QVERIFY(broker.publish(QStringLiteral("things/dev_1/update"), R"({"reset":true})"));
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 15000);
        const auto in = received.at(0).at(0).value<MqttMessage>();
        QCOMPARE(in.topic, QStringLiteral("things/dev_1/update"));
        QCOMPARE(in.payload, QByteArray(R"({"reset":true})"));

        // client to broker, in order
        MosquittoSubscriber sub(broker, QStringLiteral("things/+/state"));
        QVERIFY2(sub.waitForSubscribed(), qPrintable(sub.transcript()));
        QSignalSpy published(c.get(), &QMqttConnection::published);
        QList<quint16> ids;
        for (int i = 1; i <= 3; ++i) {
            ids << c->publish(message(QStringLiteral("things/dev_1/state"), QByteArray::number(i)));
            QVERIFY(ids.last() != 0);
            QVERIFY(published.isEmpty()); // only from the event loop
        }
        QTRY_COMPARE_WITH_TIMEOUT(published.count(), 3, 15000);
        for (int i = 0; i < 3; ++i) {
            const auto out = published.at(i).at(0).value<MqttMessage>();
            QCOMPARE(out.topic, QStringLiteral("things/dev_1/state"));
            QCOMPARE(out.payload, QByteArray::number(i + 1));
            QCOMPARE(published.at(i).at(1).value<quint16>(), ids.at(i));
        }
        QVERIFY2(sub.waitForLines(3), qPrintable(sub.transcript()));
        QCOMPARE(sub.lines(),
                 QStringList({QStringLiteral("things/dev_1/state 1"), QStringLiteral("things/dev_1/state 2"),
                              QStringLiteral("things/dev_1/state 3")}));

        // unsubscribed: nothing arrives any more
        QSignalSpy unsubscribed(c.get(), &QMqttConnection::unsubscribed);
        c->unsubscribe(QStringLiteral("things/dev_1/update"));
        QVERIFY(unsubscribed.wait(15000));
        QCOMPARE(unsubscribed.at(0).at(0).toString(), QStringLiteral("things/dev_1/update"));
        QVERIFY(broker.publish(QStringLiteral("things/dev_1/update"), "late"));
        QTest::qWait(200);
        QCOMPARE(received.count(), 1);
        QVERIFY(errors.isEmpty());
    }

    void reconnectsAfterBrokerCrash()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy disconnected(c.get(), &QMqttConnection::disconnected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);
        c->connectToHost();
        QVERIFY(connected.wait(15000));

        broker.kill();
        QVERIFY(disconnected.wait(15000));
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!c->isConnectedToHost());
        QVERIFY(errorCodes(errors).contains(QMqttConnection::SocketRemoteHostClosedError));
        // While the broker is away the retries fail without ever claiming a connection.
        QTRY_VERIFY_WITH_TIMEOUT(errors.count() >= 2, 15000);
        QCOMPARE(connected.count(), 1);

        QVERIFY2(broker.restart(), qPrintable(broker.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 15000);
        QVERIFY(c->isConnectedToHost());
        QCOMPARE(disconnected.count(), 1);

        // the new connection is fully usable
        QSignalSpy published(c.get(), &QMqttConnection::published);
        QVERIFY(c->publish(message(QStringLiteral("things/a/state"), "{}")) != 0);
        QVERIFY(published.wait(15000));
    }

    void brokerRefusals_data()
    {
        QTest::addColumn<int>("returnCode");
        QTest::addColumn<int>("expected");
        QTest::newRow("unacceptable protocol")
            << 1 << int(QMqttConnection::MqttUnacceptableProtocolVersionError);
        QTest::newRow("identifier rejected") << 2 << int(QMqttConnection::MqttIdentifierRejectedError);
        QTest::newRow("server unavailable") << 3 << int(QMqttConnection::MqttServerUnavailableError);
        QTest::newRow("bad user name or password")
            << 4 << int(QMqttConnection::MqttBadUserNameOrPasswordError);
        QTest::newRow("not authorized") << 5 << int(QMqttConnection::MqttNotAuthorizedError);
    }

    void brokerRefusals()
    {
        QFETCH(int, returnCode);
        QFETCH(int, expected);
        QCOMPARE(expected, 65535 + returnCode);
        FakeMqttBroker fake;
        fake.setReturnCode(returnCode);
        QVERIFY(fake.start());
        auto c = makeConnection(fake.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy disconnected(c.get(), &QMqttConnection::disconnected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);
        c->connectToHost();
        QVERIFY(errors.wait(15000));
        QCOMPARE(errorCodes(errors), QList<int>{expected});
        QCOMPARE(fake.connectPackets(), 1);
        QVERIFY(!c->isConnectedToHost());
        // a refusal is reported once (not again as a lost connection) and the retry follows
        QTRY_COMPARE_WITH_TIMEOUT(fake.connectPackets(), 2, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 2, 15000);
        QCOMPARE(errorCodes(errors), (QList<int>{expected, expected}));
        QVERIFY(connected.isEmpty());
        QVERIFY(disconnected.isEmpty());
    }

    void realBrokerRefusesUnknownUser()
    {
        MosquittoBroker::Options options;
        options.requirePassword = true;
        MosquittoBroker broker(options);
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port());
        c->setAutoReconnect(false);
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);
        c->connectToHost();
        QVERIFY2(errors.wait(15000), qPrintable(broker.log()));
        QCOMPARE(errorCodes(errors), QList<int>{QMqttConnection::MqttNotAuthorizedError});
        QTest::qWait(RetryMs + 300); // no retry without automatic reconnection
        QCOMPARE(errors.count(), 1);
        QVERIFY(connected.isEmpty());
        QCOMPARE(c->socketState(), QAbstractSocket::UnconnectedState);
    }

    void tlsRejections_data()
    {
        QTest::addColumn<int>("server");
        QTest::addColumn<QString>("clientName");
        QTest::addColumn<QString>("reason");
        QTest::newRow("broker from another CA")
            << int(TestPki::OtherCa) << QStringLiteral("gw-test") << "unable to get local issuer certificate";
        QTest::newRow("broker with a wrong name")
            << int(TestPki::WrongHost) << QStringLiteral("gw-test") << "hostname mismatch";
        QTest::newRow("expired broker certificate")
            << int(TestPki::Expired) << QStringLiteral("gw-test") << "certificate has expired";
        QTest::newRow("no client certificate")
            << int(TestPki::Localhost) << QString()
            << "tlsv13 alert certificate required \\(from the broker\\)|the broker closed the connection "
               "during the TLS handshake";
    }

    void tlsRejections()
    {
        QFETCH(int, server);
        QFETCH(QString, clientName);
        QFETCH(QString, reason);
        MosquittoBroker::Options options;
        options.certificate = TestPki::Server(server);
        MosquittoBroker broker(options);
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port(), clientName);
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);
        c->connectToHost();
        QVERIFY2(errors.wait(15000), qPrintable(broker.log()));
        QCOMPARE(errorCodes(errors), QList<int>{QMqttConnection::SocketSslHandshakeFailedError});
        // a reset may overtake the broker's alert: the last row names both outcomes
        QVERIFY2(QRegularExpression(QLatin1Char('^') + reason + QLatin1Char('$'))
                     .match(c->errorReason())
                     .hasMatch(),
                 qPrintable(c->errorReason()));
        // every retry is refused the same way; none gets through
        QTRY_VERIFY_WITH_TIMEOUT(errors.count() >= 2, 15000);
        for (int code : errorCodes(errors))
            QCOMPARE(code, int(QMqttConnection::SocketSslHandshakeFailedError));
        QVERIFY(connected.isEmpty());
        QVERIFY(!c->isConnectedToHost());
    }

    void unusableTlsConfiguration_data()
    {
        QTest::addColumn<QSslConfiguration>("tls");
        TestPki &pki = TestPki::instance();
        QSslConfiguration noTrust = pki.clientConfiguration(QStringLiteral("gw-test"));
        noTrust.setCaCertificates({});
        QTest::newRow("no trusted CA") << noTrust;
        QSslConfiguration mismatch = pki.clientConfiguration(QStringLiteral("gw-test"));
        mismatch.setPrivateKey(pki.client(QStringLiteral("someone-else")).key);
        QTest::newRow("key of another certificate") << mismatch;
        QSslConfiguration noKey = pki.clientConfiguration(QStringLiteral("gw-test"));
        noKey.setPrivateKey(QSslKey());
        QTest::newRow("certificate without key") << noKey;
    }

    void unusableTlsConfiguration()
    {
        QFETCH(QSslConfiguration, tls);
        FakeMqttBroker fake;
        QVERIFY(fake.start());
        QMqttConnection c(QStringLiteral("localhost"), fake.port(), tls, false);
        c.setClientId(QStringLiteral("gw-test"));
        QSignalSpy errors(&c, &QMqttConnection::error);
        c.connectToHost();
        QVERIFY(errors.isEmpty());
        QVERIFY(errors.wait(15000));
        QCOMPARE(errorCodes(errors), QList<int>{QMqttConnection::SocketSslInvalidUserDataError});
        QCOMPARE(fake.connectionCount(), 0);
        QCOMPARE(c.socketState(), QAbstractSocket::UnconnectedState);
    }

    void addressLiteralIsVerifiedAsAddress()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port(), QStringLiteral("gw-test"), QStringLiteral("127.0.0.1"));
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        c->connectToHost();
        QVERIFY2(connected.wait(15000), qPrintable(broker.log()));
    }

    void refusedPortIsRetried()
    {
        quint16 port;
        {
            FakeMqttBroker closed;
            QVERIFY(closed.start());
            port = closed.port();
        }
        auto c = makeConnection(port);
        QSignalSpy errors(c.get(), &QMqttConnection::error);
        const double cpuBefore = cpuSeconds();
        c->connectToHost();
        QVERIFY(errors.wait(15000));
        QCOMPARE(errorCodes(errors).first(), int(QMqttConnection::SocketConnectionRefusedError));
        QCOMPARE(c->socketState(), QAbstractSocket::UnconnectedState); // waiting for the retry
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 2, 15000);
        QVERIFY2(cpuSeconds() - cpuBefore < 0.3, "retrying a refused port must not spin");
    }

    // A broker that never answers (or answers nonsense) must cost next to nothing while we wait.
    void silentBrokerCostsNoCpu_data()
    {
        QTest::addColumn<int>("behaviour");
        QTest::newRow("unreachable") << -1;
        QTest::newRow("TCP accepted, silence") << int(FakeMqttBroker::SilentTcp);
        QTest::newRow("TCP closed at once") << int(FakeMqttBroker::CloseAtOnce);
        QTest::newRow("CONNECT never answered") << int(FakeMqttBroker::IgnoreConnect);
    }

    void silentBrokerCostsNoCpu()
    {
        QFETCH(int, behaviour);
        BlackHole hole;
        FakeMqttBroker fake;
        quint16 port;
        if (behaviour < 0) {
            QVERIFY(hole.isValid());
            port = hole.port();
        } else {
            fake.setBehaviour(FakeMqttBroker::Behaviour(behaviour));
            QVERIFY(fake.start());
            port = fake.port();
        }
        auto c = makeConnection(port);
        c->setKeepAlive(5);
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);
        const double cpuBefore = cpuSeconds();
        c->connectToHost();
        QTest::qWait(3000);
        const double used = cpuSeconds() - cpuBefore;
        QVERIFY2(used < 0.3, qPrintable(QStringLiteral("%1 s of CPU in 3 s").arg(used)));
        QVERIFY(connected.isEmpty());
        if (behaviour == FakeMqttBroker::CloseAtOnce) {
            QVERIFY(errors.count() >= 2); // each attempt fails at once and is retried
            QCOMPARE(errorCodes(errors).first(), int(QMqttConnection::SocketSslHandshakeFailedError));
        } else if (behaviour < 0 || behaviour == FakeMqttBroker::IgnoreConnect) {
            // no answer within the keep-alive period counts as a timeout
            QCOMPARE(c->socketState(), QAbstractSocket::ConnectingState);
            QVERIFY(errors.wait(15000));
            QCOMPARE(errorCodes(errors).first(), int(QMqttConnection::SocketTimeoutError));
        }
    }

    void disconnectAndAbortWhileConnected()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy disconnected(c.get(), &QMqttConnection::disconnected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);

        c->connectToHost();
        QVERIFY(connected.wait(15000));
        c->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(c->socketState(), QAbstractSocket::UnconnectedState, 15000);
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!c->isConnectedToHost());
        // an orderly goodbye: the broker saw DISCONNECT, not a dropped socket
        QTRY_VERIFY_WITH_TIMEOUT(broker.log().contains(QLatin1String("Client gw-test disconnected.")), 15000);

        c->connectToHost();
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 15000);
        c->abort();
        QCOMPARE(c->socketState(), QAbstractSocket::UnconnectedState);
        QCOMPARE(disconnected.count(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(
            broker.log().contains(QLatin1String("Client gw-test closed its connection.")), 2000);

        // neither is followed by a reconnection, nor reported as an error
        QTest::qWait(RetryMs + 500);
        QCOMPARE(connected.count(), 2);
        QCOMPARE(disconnected.count(), 2);
        QVERIFY(errors.isEmpty());
        QCOMPARE(c->publish(message(QStringLiteral("things/a/state"), "{}")), quint16(0));
        QCOMPARE(c->subscribe(QStringLiteral("things/a/update")), quint16(0));
    }

    void stopWhileConnecting_data()
    {
        QTest::addColumn<bool>("useAbort");
        QTest::newRow("abort") << true;
        QTest::newRow("disconnectFromHost") << false;
    }

    void stopWhileConnecting()
    {
        QFETCH(bool, useAbort);
        BlackHole hole;
        QVERIFY(hole.isValid());
        auto c = makeConnection(hole.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy disconnected(c.get(), &QMqttConnection::disconnected);
        QSignalSpy errors(c.get(), &QMqttConnection::error);

        // during the name lookup
        c->connectToHost();
        QCOMPARE(c->socketState(), QAbstractSocket::HostLookupState);
        useAbort ? c->abort() : c->disconnectFromHost();
        QCOMPARE(c->socketState(), QAbstractSocket::UnconnectedState);

        // during the TCP connect
        c->connectToHost();
        QTRY_COMPARE_WITH_TIMEOUT(c->socketState(), QAbstractSocket::ConnectingState, 15000);
        useAbort ? c->abort() : c->disconnectFromHost();
        QCOMPARE(c->socketState(), QAbstractSocket::UnconnectedState);

        QTest::qWait(RetryMs + 500);
        QCOMPARE(c->socketState(), QAbstractSocket::UnconnectedState);
        QVERIFY(connected.isEmpty());
        QVERIFY(disconnected.isEmpty()); // nothing was established
        QVERIFY(errors.isEmpty());
    }

    void eventsOfAnAbandonedConnectionAreDropped()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy published(c.get(), &QMqttConnection::published);
        QSignalSpy subscribed(c.get(), &QMqttConnection::subscribed);
        QSignalSpy disconnected(c.get(), &QMqttConnection::disconnected);
        c->connectToHost();
        QVERIFY(connected.wait(15000));

        QVERIFY(c->publish(message(QStringLiteral("things/a/state"), "{}")) != 0);
        QVERIFY(c->subscribe(QStringLiteral("things/a/update")) != 0);
        c->abort();
        c->connectToHost();
        QVERIFY(connected.wait(15000));
        QTest::qWait(200);
        QVERIFY(published.isEmpty());
        QVERIFY(subscribed.isEmpty());
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(c->isConnectedToHost());
    }

    void destructionNeverBlocks_data()
    {
        QTest::addColumn<int>("stage");
        QTest::newRow("looking up") << int(QAbstractSocket::HostLookupState);
        QTest::newRow("connecting") << int(QAbstractSocket::ConnectingState);
        QTest::newRow("handshaking") << -1;
        QTest::newRow("connected") << int(QAbstractSocket::ConnectedState);
    }

    void destructionNeverBlocks()
    {
        QFETCH(int, stage);
        BlackHole hole;
        FakeMqttBroker fake;
        fake.setBehaviour(FakeMqttBroker::SilentTcp);
        MosquittoBroker broker;
        quint16 port = hole.port();
        if (stage == -1) {
            QVERIFY(fake.start());
            port = fake.port();
        } else if (stage == QAbstractSocket::ConnectedState) {
            QVERIFY2(broker.start(), qPrintable(broker.errorString()));
            port = broker.port();
        }
        auto c = makeConnection(port);
        c->connectToHost();
        if (stage == -1)
            QTRY_COMPARE_WITH_TIMEOUT(fake.connectionCount(), 1, 15000);
        else
            QTRY_COMPARE_WITH_TIMEOUT(int(c->socketState()), stage, 15000);
        QVERIFY(c->publish(message(QStringLiteral("t"), "x")) == 0 ||
                stage == QAbstractSocket::ConnectedState);
        QElapsedTimer timer;
        timer.start();
        c.reset();
        // Never waits for the network (a blocking disconnect would take seconds); generous for
        // loaded machines.
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QStringLiteral("took %1 ms").arg(timer.elapsed())));
        QTest::qWait(100); // late events of the dead connection must find nothing to touch
    }

    // Several megabytes cannot leave in one write nor arrive in one read.
    void largeMessageRoundTrip()
    {
        MosquittoBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.errorString()));
        auto c = makeConnection(broker.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy subscribed(c.get(), &QMqttConnection::subscribed);
        QSignalSpy received(c.get(), &QMqttConnection::received);
        QSignalSpy published(c.get(), &QMqttConnection::published);
        c->connectToHost();
        QVERIFY(connected.wait(15000));
        c->subscribe(QStringLiteral("things/big/state"));
        QVERIFY(subscribed.wait(15000));

        QByteArray payload(4 * 1024 * 1024, Qt::Uninitialized);
        for (int i = 0; i < payload.size(); ++i)
            payload[i] = char('a' + i % 26);
        QVERIFY(c->publish(message(QStringLiteral("things/big/state"), payload)) != 0);
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 10000);
        QCOMPARE(received.at(0).at(0).value<MqttMessage>().payload, payload);
        QCOMPARE(published.count(), 1);
    }

    // A subscription the broker refuses must not be reported as made.
    void refusedSubscriptionIsNotReported()
    {
        FakeMqttBroker fake;
        QVERIFY(fake.start());
        auto c = makeConnection(fake.port());
        QSignalSpy connected(c.get(), &QMqttConnection::connected);
        QSignalSpy subscribed(c.get(), &QMqttConnection::subscribed);
        c->connectToHost();
        QVERIFY(connected.wait(15000));

        fake.setSubackCode(0x80);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused the subscription")));
        QVERIFY(c->subscribe(QStringLiteral("things/other/update")) != 0);
        QTest::qWait(300);
        fake.setSubackCode(0);
        QVERIFY(c->subscribe(QStringLiteral("things/gw-test/update")) != 0);
        QVERIFY(subscribed.wait(15000));
        QCOMPARE(subscribed.count(), 1);
        QCOMPARE(subscribed.at(0).at(0).toString(), QStringLiteral("things/gw-test/update"));
    }
};

QTEST_MAIN(TestQMqttConnection)
#include "test_qmqttconnection.moc"
