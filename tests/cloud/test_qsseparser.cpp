#include "qsseparser.h"

#include <QTest>

namespace {

// Events as "name|data|id" so whole sequences compare in one go.
QStringList render(const QVector<QSSEParser::Event> &events)
{
    QStringList out;
    for (const auto &e : events)
        out << e.event + QLatin1Char('|') + e.data + QLatin1Char('|') + e.id;
    return out;
}

QStringList feedAll(QSSEParser &parser, const QList<QByteArray> &blocks)
{
    QStringList out;
    for (const QByteArray &b : blocks)
        out += render(parser.feed(b));
    return out;
}

QStringList parseWhole(const QByteArray &stream)
{
    QSSEParser parser;
    return render(parser.feed(stream));
}

} // namespace

class TestQSSEParser : public QObject
{
    Q_OBJECT

private slots:
    void streams_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("events");

        const QStringList code{QStringLiteral("code|123|")};
        QTest::newRow("LF") << QByteArray("event: code\ndata: 123\n\n") << code;
        QTest::newRow("CRLF") << QByteArray("event: code\r\ndata: 123\r\n\r\n") << code;
        QTest::newRow("CR") << QByteArray("event: code\rdata: 123\r\r") << code;
        QTest::newRow("mixed endings") << QByteArray("event: code\r\ndata: 123\n\r\n") << code;
        QTest::newRow("comment between fields")
            << QByteArray(": keep-alive\nevent: code\n:data: 999\ndata: 123\n: x\n\n") << code;
        QTest::newRow("two data lines") << QByteArray("data: x\ndata: y\n\n") << QStringList{"|x\ny|"};
        QTest::newRow("no event field") << QByteArray("data: {\"a\":1}\n\n") << QStringList{"|{\"a\":1}|"};
        QTest::newRow("blank line clears the event name")
            << QByteArray("event: code\n\ndata: 1\n\n") << QStringList{"|1|"};
        QTest::newRow("whitespace-only line dispatches")
            << QByteArray("event: e\ndata: 1\n \t \ndata: 2\n\n") << QStringList{"e|1|", "|2|"};
        QTest::newRow("id kept, empty id keeps it")
            << QByteArray("id: 7\ndata: a\n\ndata: b\n\nid:\ndata: c\n\nid: 8\ndata: d\n\n")
            << QStringList{"|a|7", "|b|7", "|c|7", "|d|8"};
        QTest::newRow("values are trimmed on both sides")
            << QByteArray("event:   code  \ndata:    1 2  \n\n") << QStringList{"code|1 2|"};
        QTest::newRow("value keeps later colons")
            << QByteArray("data: a: b:c\n\n") << QStringList{"|a: b:c|"};
        QTest::newRow("field without colon") << QByteArray("data\ndata\n\n") << QStringList{"|\n|"};
        QTest::newRow("empty data still dispatches") << QByteArray("data:\n\n") << QStringList{"||"};
        QTest::newRow("names compare exactly")
            << QByteArray("Data: no\nevent : e\ndata : yes\nfoo: bar\n\n") << QStringList{"e|yes|"};
        QTest::newRow("no blank line, no event") << QByteArray("data: 1\n") << QStringList{};
        QTest::newRow("unended last line") << QByteArray("data: 1\n\ndata: 2") << QStringList{"|1|"};
        QTest::newRow("multi-byte text")
            << QByteArray("event: \xc3\xa9t\xc3\xa9\ndata: 20 \xe2\x82\xac \xf0\x9f\x98\x80\n\n")
            << QStringList{QStringLiteral("\u00e9t\u00e9|20 \u20ac \U0001F600|")};
        QTest::newRow("leading byte order mark dropped, inner kept")
            << QByteArray("\xef\xbb\xbf"
                          "data: a\xef\xbb\xbf\n\n")
            << QStringList{QStringLiteral("|a\ufeff|")};
        QTest::newRow("invalid UTF-8 does not disturb the lines after it")
            << QByteArray("data: \xff\xfe\ndata: ok\n\n")
            << QStringList{QStringLiteral("|\ufffd\ufffd\nok|")};
    }

    void streams()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, events);
        QCOMPARE(parseWhole(stream), events);
    }

    // Wherever the network cuts the stream, the same events come out.
    void splitAnywhere_data() { streams_data(); }
    void splitAnywhere()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, events);
        for (int i = 0; i <= stream.size(); ++i) {
            QSSEParser parser;
            const QStringList got = feedAll(parser, {stream.left(i), stream.mid(i)});
            if (got != events)
                QFAIL(qPrintable(QStringLiteral("split at %1: %2").arg(i).arg(got.join(QLatin1Char(',')))));
        }
        for (int i = 0; i <= stream.size(); ++i) {
            for (int j = i; j <= stream.size(); ++j) {
                QSSEParser parser;
                const QStringList got =
                    feedAll(parser, {stream.left(i), stream.mid(i, j - i), stream.mid(j)});
                if (got != events)
                    QFAIL(qPrintable(QStringLiteral("split at %1 and %2").arg(i).arg(j)));
            }
        }
        QSSEParser parser;
        QList<QByteArray> bytes;
        for (char c : stream)
            bytes << QByteArray(1, c);
        QCOMPARE(feedAll(parser, bytes), events);
    }

    void carriageReturnAndLineFeedInDifferentBlocks()
    {
        // Were the LF taken as a line of its own, "a" and "b" would go out as two events.
        QSSEParser parser;
        QCOMPARE(feedAll(parser, {"data: a\r", "\ndata: b\r", "\n", "\r", "\n"}), QStringList{"|a\nb|"});
        // An empty block between them changes nothing.
        QCOMPARE(feedAll(parser, {"data: c\r", "", "\ndata: d\r\n\r\n"}), QStringList{"|c\nd|"});
    }

    void retry()
    {
        QSSEParser parser;
        QCOMPARE(parser.retry(), 3000);
        parser.feed("retry: 5000\n");
        QCOMPARE(parser.retry(), 5000);
        for (const char *bad : {"retry: 1e3\n", "retry: -10\n", "retry: +10\n", "retry: 12 3\n", "retry:\n",
                                "retry: 99999999999\n", "retry: 0x10\n"}) {
            parser.feed(bad);
            QVERIFY2(parser.retry() == 5000, bad);
        }
        parser.feed("retry:0\n");
        QCOMPARE(parser.retry(), 0);
        // A retry line is no event.
        QVERIFY(parser.feed("retry: 10\n\n").isEmpty());
    }

    void resetForgetsTheStream()
    {
        QSSEParser parser;
        parser.feed("id: 4\nretry: 10\nevent: e\ndata: half\ndata: pa\r");
        parser.reset();
        QCOMPARE(parser.retry(), 3000);
        QCOMPARE(parser.lastEventId(), QString());
        QCOMPARE(parser.pendingLength(), 0);
        // Neither the old event nor the pending CR leaks into the new stream.
        QCOMPARE(render(parser.feed("\ndata: new\n\n")), QStringList{"|new|"});
    }

    void blockEndsAtFirstNul()
    {
        QSSEParser parser;
        QCOMPARE(feedAll(parser, {QByteArray("data: ab\0junk\n\n", 15), "c\n\n"}), QStringList{"|abc|"});
        // A sequence cut by the NUL is not completed by the next block.
        QCOMPARE(feedAll(parser, {QByteArray("data: \xc3\0", 8), "\xa9x\n\n"}),
                 QStringList{QStringLiteral("|\ufffdx|")});
    }

    void endlessLineIsDroppedWithBoundedBuffer()
    {
        QSSEParser parser;
        QCOMPARE(render(parser.feed("event: e\ndata: before\n")), QStringList{});
        const QByteArray chunk(64 * 1024, 'x');
        QVERIFY(parser.feed("data: ").isEmpty());
        for (int sent = 0; sent < 3 * 1024 * 1024; sent += chunk.size()) {
            QVERIFY(parser.feed(chunk).isEmpty());
            QVERIFY(parser.pendingLength() <= QSSEParser::MaxLineLength);
        }
        QCOMPARE(parser.pendingLength(), 0);
        // The rest of the long line up to its end is discarded; the event around it goes on.
        QCOMPARE(render(parser.feed(chunk + "tail\r")), QStringList{});
        QCOMPARE(render(parser.feed("\ndata: after\n\n")), QStringList{"e|before\nafter|"});
        QCOMPARE(render(parser.feed("data: next\n\n")), QStringList{"|next|"});
    }

    void oversizedEventIsDropped()
    {
        // Lines within the limit, but an event that never ends: its data must not grow without bound.
        QSSEParser parser;
        const QByteArray line = "data: " + QByteArray(QSSEParser::MaxLineLength / 2, 'y') + "\n";
        const int lines = QSSEParser::MaxDataLength / (QSSEParser::MaxLineLength / 2) + 2;
        QVERIFY(parser.feed("event: big\n").isEmpty());
        for (int i = 0; i < lines; ++i)
            QVERIFY(parser.feed(line).isEmpty());
        QCOMPARE(render(parser.feed("\ndata: small\n\n")), QStringList{"|small|"});
        // Just under the limit still goes out whole.
        for (int i = 0; i < lines - 3; ++i)
            parser.feed(line);
        const auto events = parser.feed("\n");
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().data.size(), (lines - 3) * (QSSEParser::MaxLineLength / 2 + 1) - 1);
    }

    void lineLengthLimit()
    {
        const int limit = QSSEParser::MaxLineLength;
        const QByteArray prefix("data:");
        // A line of exactly the limit is kept, whether it arrives at once or in pieces.
        const QByteArray longest = prefix + QByteArray(limit - prefix.size(), 'a');
        QSSEParser parser;
        auto events = parser.feed(longest + "\n\n");
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().data.size(), limit - prefix.size());
        events = parser.feed(longest.left(1000));
        events += parser.feed(longest.mid(1000) + "\n\n");
        QCOMPARE(events.size(), 1);
        // One character more and the line is gone, even when its end comes in the same block.
        QCOMPARE(render(parser.feed(longest + "a\n\ndata: ok\n\n")), QStringList{"|ok|"});
        QCOMPARE(parser.pendingLength(), 0);
        // Many short lines in one large block are no long line.
        QByteArray many;
        for (int i = 0; i < limit / 8; ++i)
            many += "data: 1\n";
        events = parser.feed(many + "\n");
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().data.size(), limit / 8 * 2 - 1);
    }

    void limitsOfItsOwn()
    {
        // A parser with smaller limits keeps them exactly as the default ones.
        QSSEParser parser(10, 12);
        QCOMPARE(render(parser.feed("data:12345\n\ndata:123456\n\n")), QStringList{"|12345|"});
        QCOMPARE(parser.pendingLength(), 0);
        QCOMPARE(render(parser.feed("data:abc\ndata:def\ndata:ghij\n\ndata:abc\ndata:def\n\n")),
                 QStringList{"|abc\ndef|"});
        QCOMPARE(parser.maxLineLength(), 10);
        QCOMPARE(parser.maxDataLength(), 12);
    }
};

QTEST_GUILESS_MAIN(TestQSSEParser)
#include "test_qsseparser.moc"
