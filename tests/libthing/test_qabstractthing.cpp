#include "fakething.h"
#include "qabstractthing.h"

#include <QSignalSpy>
#include <QTest>

class TestQAbstractThing : public QObject
{
    Q_OBJECT

private slots:
    void identities_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("regid");
        QTest::addColumn<QString>("shortid");
        QTest::addColumn<QString>("cloudid");
        QTest::newRow("registered") << "A1B2"
                                    << "77"
                                    << "thx9_1_A1B2"
                                    << "thx9_1_A1B2_77";
        QTest::newRow("unregistered") << "A1B2"
                                      << ""
                                      << "thx9_1_A1B2"
                                      << "thx9_1_A1B2_";
        QTest::newRow("no serial") << ""
                                   << "77"
                                   << "thx9_1_?"
                                   << "thx9_1__77";
        QTest::newRow("serial with placeholders") << "%1%2"
                                                  << "9"
                                                  << "thx9_1_%1%2"
                                                  << "thx9_1_%1%2_9";
    }
    void identities()
    {
        QFETCH(QString, serial);
        QFETCH(QString, regid);
        QFETCH(QString, shortid);
        QFETCH(QString, cloudid);
        FakeThing thing(QStringLiteral("thx9"), QStringLiteral("1"), serial);
        thing.setRegid(regid);
        QCOMPARE(thing.shortid(), shortid);
        QCOMPARE(thing.cloudid(), cloudid);
    }

    void matchesIsACaseSensitivePrefixTest()
    {
        FakeThing thing(QStringLiteral("thx9"), QStringLiteral("1"), QStringLiteral("A1B2"));
        QVERIFY(thing.matches(QStringLiteral("thx9_1_A1B2")));
        QVERIFY(thing.matches(QStringLiteral("thx9_1_A1B2_77")));
        QVERIFY(thing.matches(QStringLiteral("thx9_1_A1B2X_5")));
        QVERIFY(!thing.matches(QStringLiteral("thx9_1_a1b2_77")));
        QVERIFY(!thing.matches(QStringLiteral("thx9_1_A1B")));
        QVERIFY(!thing.matches(QString()));
        QVERIFY(thing.matches(QStringLiteral("thx9"), QStringLiteral("1"), QStringLiteral("A1B2")));
        QVERIFY(!thing.matches(QStringLiteral("thx9"), QStringLiteral("2"), QStringLiteral("A1B2")));
        QVERIFY(!thing.matches(QStringLiteral("THX9"), QStringLiteral("1"), QStringLiteral("A1B2")));

        FakeThing anonymous(QStringLiteral("thx9"), QStringLiteral("1"), QString());
        QVERIFY(anonymous.matches(QStringLiteral("thx9_1_")));
        QVERIFY(anonymous.matches(QStringLiteral("thx9_1__77")));
        QVERIFY(!anonymous.matches(QStringLiteral("thx9_1")));
    }

    void setRegidFromCid()
    {
        FakeThing thing(QStringLiteral("thx9"), QStringLiteral("1"), QStringLiteral("A1B2"));
        QSignalSpy spy(&thing, &QAbstractThing::regidChanged);
        QVERIFY(thing.setRegidFromCid(QStringLiteral("thx9_1_A1B2_77")));
        QCOMPARE(thing.regid(), QStringLiteral("77"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("77"));

        QVERIFY(thing.setRegidFromCid(QStringLiteral("thx9_1_A1B2_77")));
        QCOMPARE(spy.count(), 1);

        QVERIFY(!thing.setRegidFromCid(QStringLiteral("watchdog_100_A1B2_5")));
        QCOMPARE(thing.regid(), QStringLiteral("77"));
        QCOMPARE(spy.count(), 1);

        // The bare match prefix has the serial as its last part.
        QVERIFY(thing.setRegidFromCid(QStringLiteral("thx9_1_A1B2")));
        QCOMPARE(thing.regid(), QStringLiteral("A1B2"));

        // Clearing a registration announces the empty id.
        thing.setRegid(QString());
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.last().at(0).toString(), QString());
    }

    void names()
    {
        FakeThing thing(QStringLiteral("thx9"), QStringLiteral("1"), QStringLiteral("A1B2"));
        QSignalSpy spy(&thing, &QAbstractThing::nameChanged);
        thing.setName(QStringLiteral("Boiler room"));
        thing.setName(QStringLiteral("Boiler room"));
        QCOMPARE(spy.count(), 1);
        thing.setNameNotEmpty(QString());
        QCOMPARE(thing.name(), QStringLiteral("Boiler room"));
        QCOMPARE(spy.count(), 1);
        thing.setName(QString());
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.last().at(0).toString(), QString());
        thing.setNameNotEmpty(QStringLiteral("Attic"));
        QCOMPARE(thing.name(), QStringLiteral("Attic"));
    }

    void propertiesAndReportFlag()
    {
        FakeThing thing(QStringLiteral("thx9"), QStringLiteral("1"), QStringLiteral("A1B2"));
        QVERIFY(!thing.reportChanges());
        QVERIFY(thing.setProperty("reportChanges", true));
        QVERIFY(thing.reportChanges());
        QVERIFY(thing.setProperty("regid", QStringLiteral("5")));
        QCOMPARE(thing.cloudid(), QStringLiteral("thx9_1_A1B2_5"));
        QCOMPARE(QMetaEnum::fromType<QAbstractThing::Class>().valueToKey(QAbstractThing::Gateway), "Gateway");
    }
};

QTEST_GUILESS_MAIN(TestQAbstractThing)
#include "test_qabstractthing.moc"
