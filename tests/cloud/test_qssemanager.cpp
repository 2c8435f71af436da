#include "httptestserver.h"
#include "qssemanager.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

// dataReady arguments of every event so far as "name|data|id".
QStringList received(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString() + QLatin1Char('|') + args.at(1).toString() + QLatin1Char('|') +
                   args.at(2).toString();
    return out;
}

// Records the reader's own signals in the order they come.
struct SignalLog
{
    explicit SignalLog(QSSEManager &reader)
    {
        QObject::connect(&reader, &QSSEManager::closed, [this] { names << QStringLiteral("closed"); });
        QObject::connect(&reader, &QSSEManager::disconnected,
                         [this] { names << QStringLiteral("disconnected"); });
        QObject::connect(&reader, &QSSEManager::finished, [this] { names << QStringLiteral("finished"); });
    }
    QStringList names;
};

} // namespace

class TestQSSEManager : public QObject
{
    Q_OBJECT

private slots:
    void eventsArriveAsTheirBlankLinesDo()
    {
        HttpTestServer server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        server.setResponse(QStringLiteral("/events"), HttpScriptedResponse::eventStream()
                                                          .send(": hello\nid: 7\nevent: code\ndata: 123\n\n")
                                                          .send("data: {\"a\":1}\n", 30)
                                                          .send("\n", 30)
                                                          .keepingOpen());
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        QVERIFY(!reader.isOpen());
        QVERIFY(reader.openStream(server.url(QStringLiteral("/events"))));
        QVERIFY(reader.isOpen());
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(received(events), QStringList{"code|123|7"});
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(received(events).last(), QStringLiteral("|{\"a\":1}|7"));
        QVERIFY(reader.isOpen());

        const HttpRecordedRequest request = server.requests().value(0);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.path, QStringLiteral("/events"));
        QVERIFY(!request.hasHeader("Last-Event-ID"));
    }

    // The network cuts the stream in odd places: in the middle of a line, between CR and LF,
    // inside a multi-byte character.
    void blocksSplitAnywhere_data()
    {
        QTest::addColumn<QList<QByteArray>>("blocks");
        QTest::addColumn<QStringList>("events");
        const QStringList code{QStringLiteral("code|123|")};
        QTest::newRow("mid-line") << QList<QByteArray>{"event: co", "de\ndata: 1", "23\n", "\n"} << code;
        QTest::newRow("CR | LF") << QList<QByteArray>{"event: code\r", "\ndata: 123\r", "\n\r", "\n"} << code;
        QTest::newRow("CR endings") << QList<QByteArray>{"event: code\r", "data: 123\r", "\r"} << code;
        QTest::newRow("inside a character") << QList<QByteArray>{"data: h\xc3", "\xa9 \xe2\x82", "\xac\n\n"}
                                            << QStringList{QStringLiteral("|h\u00e9 \u20ac|")};
    }
    void blocksSplitAnywhere()
    {
        QFETCH(QList<QByteArray>, blocks);
        QFETCH(QStringList, events);
        HttpTestServer server;
        QVERIFY(server.start());
        HttpScriptedResponse response = HttpScriptedResponse::eventStream().usingChunks().keepingOpen();
        for (const QByteArray &b : blocks)
            response.send(b, 25);
        server.setResponse(QStringLiteral("/"), response);
        QSSEManager reader;
        QSignalSpy spy(&reader, &QSSEManager::dataReady);
        QSignalSpy done(&server, &HttpTestServer::responseDone);
        QVERIFY(reader.openStream(server.url()));
        QVERIFY(done.wait());
        QTRY_COMPARE(received(spy), events);
    }

    // The same stream cut into two blocks at every point gives the same events.
    void everySplitPoint()
    {
        const QByteArray stream("id: 1\r\nevent: x\r\ndata: \xc3\xa9\r\n\r\n:c\rdata: y\n\n");
        const QStringList expected{QStringLiteral("x|\u00e9|1"), QStringLiteral("|y|1")};
        HttpTestServer server;
        QVERIFY(server.start());
        for (int i = 1; i < stream.size(); ++i) {
            server.setResponse(
                QStringLiteral("/"),
                HttpScriptedResponse::eventStream().send(stream.left(i)).send(stream.mid(i), 5));
            QSSEManager reader;
            QSignalSpy spy(&reader, &QSSEManager::dataReady);
            QSignalSpy finished(&reader, &QSSEManager::finished);
            QVERIFY(reader.openStream(server.url()));
            QVERIFY(finished.wait());
            if (received(spy) != expected)
                QFAIL(qPrintable(QStringLiteral("split at %1: %2").arg(i).arg(received(spy).join(','))));
        }
    }

    void serverEndingMidEventFinishesWithoutDispatch()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        server.setResponse(
            QStringLiteral("/"),
            HttpScriptedResponse::eventStream().send("data: whole\n\n").send("event: code\ndata: 12", 20));
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        SignalLog log(reader);
        QVERIFY(reader.openStream(server.url()));
        QTRY_COMPARE(log.names, QStringList{"finished"});
        QCOMPARE(received(events), QStringList{"|whole|"});
        QVERIFY(!reader.isOpen());

        // An ended stream does not block the next one, and nothing of it is carried over. This
        // time the connection drops in the middle of a chunked body.
        server.setResponse(QStringLiteral("/"),
                           HttpScriptedResponse::eventStream().usingChunks().send("3\n\n").keepingOpen());
        QVERIFY(reader.openStream(server.url()));
        QTest::qWait(50);
        QCOMPARE(events.size(), 1);
        server.closeConnections();
        QTRY_COMPARE(log.names.size(), 2);
        QCOMPARE(events.size(), 1);

        // Closing after the end only reports closed: there was no running stream to disconnect.
        reader.close();
        QCOMPARE(log.names, (QStringList{"finished", "finished", "closed"}));
    }

    void errorsEndTheStream()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        const QUrl nowhere = server.url(QStringLiteral("/missing"));
        server.close(); // nobody listens any more
        QSSEManager reader;
        QSignalSpy finished(&reader, &QSSEManager::finished);
        QVERIFY(reader.openStream(nowhere));
        QVERIFY(finished.wait());
        QVERIFY(!reader.isOpen());

        // An HTTP error status ends it as well; its body is still read as a stream.
        QVERIFY(server.start());
        server.setFallback(HttpScriptedResponse::text(404, "data: gone\n\n", "text/event-stream"));
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        QVERIFY(reader.openStream(server.url(QStringLiteral("/missing"))));
        QVERIFY(finished.wait());
        QCOMPARE(received(events), QStringList{"|gone|"});
    }

    void redirectIsFollowed()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        server.setResponse(QStringLiteral("/old"), HttpScriptedResponse::redirect("/new?x=1"));
        server.setResponse(
            QStringLiteral("/new"),
            HttpScriptedResponse::eventStream().send("event: code\ndata: 5\n\n").keepingOpen());
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        QVERIFY(reader.openStream(server.url(QStringLiteral("/old"))));
        QTRY_COMPARE(received(events), QStringList{"code|5|"});
        QCOMPARE(server.requests().size(), 2);
        QCOMPARE(server.requests().at(1).path, QStringLiteral("/new"));
        QCOMPARE(server.requests().at(1).query.queryItemValue(QStringLiteral("x")), QStringLiteral("1"));
        QVERIFY(reader.isOpen());
    }

    void https()
    {
        HttpTestServer server;
        QVERIFY2(server.startTls(), qPrintable(server.errorText()));
        HttpTestServer::trustCertificate(server.certificate());
        server.setResponse(
            QStringLiteral("/events"),
            HttpScriptedResponse::eventStream().send("event: result\ndata: {}\n\n").keepingOpen());
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        QVERIFY(reader.openStream(server.url(QStringLiteral("/events"))));
        QTRY_COMPARE(received(events), QStringList{"result|{}|"});
    }

    void untrustedHttpsGivesNoEvents()
    {
        // A fresh configuration without the server's certificate: the handshake must fail.
        const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
        QSslConfiguration strict = saved;
        strict.setCaCertificates({});
        QSslConfiguration::setDefaultConfiguration(strict);
        HttpTestServer server;
        QVERIFY(server.startTls());
        server.setFallback(HttpScriptedResponse::eventStream().send("data: secret\n\n"));
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        QSignalSpy finished(&reader, &QSSEManager::finished);
        QVERIFY(reader.openStream(server.url()));
        QVERIFY(finished.wait());
        QSslConfiguration::setDefaultConfiguration(saved);
        QCOMPARE(events.size(), 0);
        QVERIFY(server.requests().isEmpty());
    }

    void secondOpenIsRefusedWhileStreaming()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        server.setResponse(
            QStringLiteral("/"),
            HttpScriptedResponse::eventStream().send("data: 1\n\n").send("data: 2\n\n", 80).keepingOpen());
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        QVERIFY(reader.openStream(server.url()));
        QTRY_COMPARE(events.size(), 1);
        QVERIFY(!reader.openStream(server.url(QStringLiteral("/other"))));
        QVERIFY(!reader.openStream(server.url().toString(), QJsonObject{{"doc", "x"}}));
        QVERIFY(reader.isOpen());
        // The first stream goes on, with its parser state intact.
        QTRY_COMPARE(received(events), (QStringList{"|1|", "|2|"}));
        QCOMPARE(server.requests().size(), 1);
    }

    void closeDisconnectsWithoutFinished()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        server.setResponse(QStringLiteral("/"),
                           HttpScriptedResponse::eventStream().send("data: 1\n\n").send("data: 2\n\n", 100));
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        SignalLog log(reader);
        reader.close(); // nothing open: nothing happens
        QVERIFY(log.names.isEmpty());

        QVERIFY(reader.openStream(server.url()));
        QTRY_COMPARE(events.size(), 1);
        reader.close();
        QCOMPARE(log.names, (QStringList{"disconnected", "closed"}));
        QVERIFY(!reader.isOpen());
        // The connection really goes away and nothing of the old stream comes through.
        QTRY_COMPARE(server.openConnections(), 0);
        QTest::qWait(150);
        QCOMPARE(events.size(), 1);
        QCOMPARE(log.names.size(), 2);

        reader.close();
        QCOMPARE(log.names.size(), 2);
        QVERIFY(reader.openStream(server.url()));
        QTRY_COMPARE(events.size(), 3);
    }

    void closeFromAnEventHandlerStopsTheBlock()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        server.setResponse(
            QStringLiteral("/"),
            HttpScriptedResponse::eventStream().send("event: error\ndata: 1\n\ndata: 2\n\n").keepingOpen());
        QSSEManager reader;
        QStringList seen;
        connect(&reader, &QSSEManager::dataReady, this, [&](const QString &event, const QString &data) {
            seen << data;
            if (event == QLatin1String("error"))
                reader.close();
        });
        QSignalSpy closed(&reader, &QSSEManager::closed);
        QVERIFY(reader.openStream(server.url()));
        QVERIFY(closed.wait());
        QTest::qWait(20);
        QCOMPARE(seen, QStringList{"1"});
    }

    void queryItemsReplaceTheQuery()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        server.setFallback(HttpScriptedResponse::eventStream());
        // URL-safe Base64 with padding, the form the registration document takes.
        const QString doc = QStringLiteral("eJyrVkrOz0nVtVIqSk1RqgUAJf8FWw-_==");
        const QJsonObject query{{"doc", doc}, {"n", 5}, {"a", QStringLiteral("x+y z&w=v")}};
        QSSEManager reader;
        QSignalSpy finished(&reader, &QSSEManager::finished);
        QVERIFY(reader.openStream(server.url(QStringLiteral("/reg?old=1")).toString(), query));
        QVERIFY(finished.wait());
        QVERIFY(!server.requests().isEmpty());
        const HttpRecordedRequest request = server.requests().first();
        QCOMPARE(request.path, QStringLiteral("/reg"));
        const auto items = request.query.queryItems(QUrl::FullyDecoded);
        QCOMPARE(items, (QList<QPair<QString, QString>>{{"a", "x+y z&w=v"}, {"doc", doc}, {"n", ""}}));
        // A '+' travels escaped so that form decoding on the server keeps it.
        QVERIFY2(!request.target.contains('+'), request.target.constData());
        QVERIFY(request.target.contains("doc=" + doc.toLatin1().replace("=", "%3D")));

        // An empty object keeps the URL's own query.
        QVERIFY(reader.openStream(server.url(QStringLiteral("/reg?old=1")).toString(), QJsonObject()));
        QVERIFY(finished.wait());
        QCOMPARE(server.requests().last().target, QByteArray("/reg?old=1"));
    }

    void endlessLineIsDropped()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        const QByteArray mib(1024 * 1024, 'x');
        server.setResponse(QStringLiteral("/"), HttpScriptedResponse::eventStream()
                                                    .send("data: ")
                                                    .send(mib, 5)
                                                    .send(mib, 5)
                                                    .send(mib, 5)
                                                    .send("\n\nevent: code\ndata: next\n\n", 5)
                                                    .keepingOpen());
        QSSEManager reader;
        QSignalSpy events(&reader, &QSSEManager::dataReady);
        QVERIFY(reader.openStream(server.url()));
        QVERIFY(events.wait());
        QCOMPARE(received(events), QStringList{"code|next|"});
    }

    void destroyedWhileStreaming()
    {
        HttpTestServer server;
        QVERIFY(server.start());
        server.setFallback(HttpScriptedResponse::eventStream().send("data: 1\n\n").keepingOpen());
        auto *reader = new QSSEManager;
        QSignalSpy events(reader, &QSSEManager::dataReady);
        QVERIFY(reader->openStream(server.url()));
        QVERIFY(events.wait());
        delete reader;
        QTRY_COMPARE(server.openConnections(), 0);
    }
};

QTEST_GUILESS_MAIN(TestQSSEManager)
#include "test_qssemanager.moc"
