#include "abstractthingtype.h"

#include <QPluginLoader>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestSyntheticPlugin : public QObject
{
    Q_OBJECT

    AbstractThingType *m_type = nullptr;

private slots:
    void initTestCase()
    {
        QPluginLoader loader(QStringLiteral(TSL_BENCH_SYNTHETIC_PLUGIN));
        QVERIFY2(loader.load(), qPrintable(loader.errorString()));
        m_type = qobject_cast<AbstractThingType *>(loader.instance());
        QVERIFY(m_type);
        const QJsonObject meta = loader.metaData().value("MetaData").toObject();
        QCOMPARE(meta.value("name").toString(), QStringLiteral("synthetic"));
    }

    void scanFindsTheConfiguredNumber()
    {
        qunsetenv("TSL_BENCH_SYNTHETIC_THINGS");
        QCOMPARE(m_type->scan().size(), 1000);
        qputenv("TSL_BENCH_SYNTHETIC_THINGS", "3");
        const QHash<QString, QVariant> found = m_type->scan();
        QCOMPARE(QStringList(found.keys()).size(), 3);
        QVERIFY(found.contains("S0000") && found.contains("S0002"));
        qputenv("TSL_BENCH_SYNTHETIC_THINGS", "0");
        QVERIFY(m_type->scan().isEmpty());
        qputenv("TSL_BENCH_SYNTHETIC_THINGS", "many");
        QCOMPARE(m_type->scan().size(), 1000);
        qunsetenv("TSL_BENCH_SYNTHETIC_THINGS");
    }

    void thingsChangeOnTheirOwn()
    {
        QObject *ui = this;
        std::unique_ptr<QAbstractThing> thing(m_type->create("S0007", 7, {{"period", 20}}, &ui));
        QVERIFY(thing);
        QCOMPARE(ui, nullptr);
        QCOMPARE(thing->shortid(), QStringLiteral("synthetic_100_S0007"));
        QCOMPARE(thing->thingClass(), QAbstractThing::Sibling);
        QVERIFY(m_type->equals("S0007", thing.get()));
        QVERIFY(!m_type->equals("S0008", thing.get()));
        QVERIFY(!m_type->equals("S0007", nullptr));

        QSignalSpy changes(thing.get(), &QAbstractThing::stateChanged);
        QTRY_VERIFY_WITH_TIMEOUT(changes.count() >= 3, 2000);
        // Each change counts up by one and carries the state.
        const double first = changes.at(0).at(0).toJsonObject().value("v").toDouble();
        QCOMPARE(changes.at(2).at(0).toJsonObject().value("v").toDouble(), first + 2);

        QVERIFY(thing->setState({{"v", 100}}));
        QCOMPARE(thing->state().value("v").toDouble(), 100.0);
        QVERIFY(!thing->setState({{"v", "x"}}));
        QVERIFY(!m_type->create(QString(), 0, {}, nullptr));
    }

    void periodHasAFloor()
    {
        std::unique_ptr<QAbstractThing> thing(m_type->create("S0001", 1, {{"period", 0}}, nullptr));
        QSignalSpy changes(thing.get(), &QAbstractThing::stateChanged);
        // A zero period would be a busy loop; at most one change per 10 ms.
        QTest::qWait(100);
        QVERIFY(changes.count() <= 11);
        QVERIFY(changes.count() >= 1);
    }
};

QTEST_MAIN(TestSyntheticPlugin)
#include "test_syntheticplugin.moc"
