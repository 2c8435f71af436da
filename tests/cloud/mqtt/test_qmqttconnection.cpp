#include "blackhole.h"
#include "fakemqttbroker.h"
#include "mosquittobroker.h"
#include "mosquittosubscriber.h"
#include "qmqttconnection.h"
#include "testpki.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <sys/resource.h>

namespace {

constexpr int RetryMs = 1000;

std::unique_ptr<QMqttConnection> makeConnection(quint16 port, const QString &clientName = QStringLiteral("gw-test"),
                                                const QString &host = QStringLiteral("localhost"))
{
    auto c = std::make_unique<QMqttConnection>(host, port, TestPki::instance().clientConfiguration(clientName), false);
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
[[maybe_unused]] double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

[[maybe_unused]] QList<int> errorCodes(const QSignalSpy &spy)
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
        QVERIFY2(connected.wait(5000), qPrintable(broker.log()));
        QCOMPARE(connected.count(), 1);
        QVERIFY(c->isConnectedToHost());
        QCOMPARE(c->socketState(), QAbstractSocket::ConnectedState);
        QVERIFY(errors.isEmpty());

        // broker to client
        QSignalSpy subscribed(c.get(), &QMqttConnection::subscribed);
        QSignalSpy received(c.get(), &QMqttConnection::received);
        QVERIFY(c->subscribe(QStringLiteral("things/dev_1/update")) != 0);
        QVERIFY(subscribed.wait(3000));
        QCOMPARE(subscribed.at(0).at(0).toString(), QStringLiteral("things/dev_1/update"));
        QCOMPARE(subscribed.at(0).at(1).value<quint8>(), quint8(0));
        QVERIFY(broker.publish(QStringLiteral("things/dev_1/update"), R"({"reset":true})"));
        QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 3000);
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
        QTRY_COMPARE_WITH_TIMEOUT(published.count(), 3, 3000);
        for (int i = 0; i < 3; ++i) {
            const auto out = published.at(i).at(0).value<MqttMessage>();
            QCOMPARE(out.topic, QStringLiteral("things/dev_1/state"));
            QCOMPARE(out.payload, QByteArray::number(i + 1));
            QCOMPARE(published.at(i).at(1).value<quint16>(), ids.at(i));
        }
        QVERIFY2(sub.waitForLines(3), qPrintable(sub.transcript()));
        QCOMPARE(sub.lines(), QStringList({QStringLiteral("things/dev_1/state 1"), QStringLiteral("things/dev_1/state 2"),
                                           QStringLiteral("things/dev_1/state 3")}));

        // unsubscribed: nothing arrives any more
        QSignalSpy unsubscribed(c.get(), &QMqttConnection::unsubscribed);
        c->unsubscribe(QStringLiteral("things/dev_1/update"));
        QVERIFY(unsubscribed.wait(3000));
        QCOMPARE(unsubscribed.at(0).at(0).toString(), QStringLiteral("things/dev_1/update"));
        QVERIFY(broker.publish(QStringLiteral("things/dev_1/update"), "late"));
        QTest::qWait(200);
        QCOMPARE(received.count(), 1);
        QVERIFY(errors.isEmpty());
    }
};

QTEST_MAIN(TestQMqttConnection)
#include "test_qmqttconnection.moc"
