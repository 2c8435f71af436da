#include "qmaterialicon.h"
#include "thingsstatetablemodel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QJsonDocument>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTest>

namespace {

ThingState record(const QString &shortid, const QString &name = QString(), const QString &regid = QString(),
                  const QByteArray &state = "{}", bool gone = false)
{
    ThingState s;
    s.name = name;
    s.shortid = shortid;
    s.regid = regid;
    s.gone = gone;
    s.state = QJsonDocument::fromJson(state).object();
    return s;
}

QStringList column(const QAbstractItemModel &model, int col, int role = Qt::DisplayRole)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row, col).data(role).toString());
    return values;
}

} // namespace

class TestThingsStateTableModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QMaterialIcon::instance()->applyTheme(false); }

    void rowsFollowShortIdsThroughEveryChange()
    {
        ThingsStateTableModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

        model.update(record("vgl5_1_C", "dog"));
        model.update(record("thx9_1_b", "lower"));
        const QPersistentModelIndex lower = model.index(0, ThingsStateTableModel::ColAlias);
        model.update(record("thx9_1_B", "upper"));
        model.update(record("gw_2_A", "gate"));
        QCOMPARE(column(model, ThingsStateTableModel::ColType, Qt::ToolTipRole),
                 QStringList({"gw_2_A", "thx9_1_B", "thx9_1_b", "vgl5_1_C"}));
        QCOMPARE(column(model, ThingsStateTableModel::ColAlias),
                 QStringList({"gate", "upper", "lower", "dog"}));
        // Each new thing is announced at the row it takes, so held indexes stay with their things.
        QCOMPARE(inserted.at(2).at(1).toInt(), 0);
        QCOMPARE(inserted.at(3).at(1).toInt(), 0);
        QCOMPARE(lower.data().toString(), QStringLiteral("lower"));
        QCOMPARE(lower.row(), 2);

        // A change reads at once and is announced a moment later.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.update(record("thx9_1_B", "renamed", "7", R"({"t":1})"));
        QCOMPARE(model.index(1, ThingsStateTableModel::ColAlias).data().toString(),
                 QStringLiteral("renamed"));
        QCOMPARE(changed.count(), 0);
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 0));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, 4));
        QCOMPARE(model.rowCount(), 4);

        QSignalSpy removing(&model, &QAbstractItemModel::rowsAboutToBeRemoved);
        model.remove("thx9_1_X");
        model.remove("THX9_1_B");
        QCOMPARE(removing.count(), 0);
        QCOMPARE(changed.count(), 1);
        model.remove("thx9_1_B");
        QCOMPARE(removing.count(), 1);
        QCOMPARE(removing.at(0).at(1).toInt(), 1);
        QCOMPARE(column(model, ThingsStateTableModel::ColAlias), QStringList({"gate", "lower", "dog"}));

        // A later duplicate wins, and only distinct things become rows.
        model.reset({record("z_1_1", "z"), record("a_1_1", "first"), record("a_1_1", "second")});
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(column(model, ThingsStateTableModel::ColAlias), QStringList({"second", "z"}));
        model.reset({});
        QCOMPARE(model.rowCount(), 0);
        model.reset({});
        model.update(record("a_1_1"));
        QCOMPARE(model.rowCount(), 1);
        QVERIFY(!model.index(0, 0).parent().isValid());
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    }

    // Many rows arriving in no order: each lands at its sorted place, a change reaches its own row
    // only, and removals in the middle keep the rest in order.
    void manyRowsStaySortedAndAddressable()
    {
        ThingsStateTableModel model;
        QAbstractItemModelTester tester(&model);
        QStringList ids;
        for (int i = 0; i < 300; ++i)
            ids.append(QStringLiteral("thx9_100_%1").arg((i * 7919) % 300, 3, 10, QLatin1Char('0')));
        for (const QString &id : qAsConst(ids))
            model.update(record(id, id));
        ids.sort();
        QCOMPARE(column(model, ThingsStateTableModel::ColAlias), ids);

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.update(record(QStringLiteral("thx9_100_151"), QStringLiteral("renamed")));
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 151);
        QCOMPARE(model.index(151, ThingsStateTableModel::ColAlias).data().toString(),
                 QStringLiteral("renamed"));
        QCOMPARE(model.rowCount(), 300);

        for (int i = 0; i < 300; i += 3) {
            model.remove(QStringLiteral("thx9_100_%1").arg(i, 3, 10, QLatin1Char('0')));
            ids.removeOne(QStringLiteral("thx9_100_%1").arg(i, 3, 10, QLatin1Char('0')));
        }
        model.remove(QStringLiteral("thx9_100_000")); // already gone
        model.remove(QStringLiteral("thx9_100_999")); // sorts after every row
        ids.replaceInStrings(QStringLiteral("thx9_100_151"), QStringLiteral("renamed"));
        QCOMPARE(column(model, ThingsStateTableModel::ColAlias), ids);
    }

    // A flood of changes in one turn of the event loop: rows come and go at once, every row reads
    // its last state at once, and the views hear of the changes in one signal per run of rows.
    void floodIsAnnouncedInRuns()
    {
        ThingsStateTableModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        const auto id = [](int i) { return QStringLiteral("thx9_100_D%1").arg(i, 3, 10, QLatin1Char('0')); };
        const auto reading = [](int value) { return QStringLiteral(R"({"t":%1})").arg(value).toUtf8(); };
        ThingStateList rows;
        for (int i = 0; i < 200; ++i)
            rows.append(record(id(i), id(i)));
        model.reset(rows);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

        // D100 goes halfway through, then a new thing takes its place in the order as D100x.
        ThingStateList batch;
        QHash<QString, QString> last;
        for (int i = 0; i < 1000; ++i) {
            const QString tid = id((i * 7) % 200);
            if (i > 500 && tid == id(100))
                continue;
            batch.append(record(tid, tid, QString(), reading(i)));
            last.insert(tid, QStringLiteral("t:%1").arg(i));
            if (i == 500) {
                ThingState gone = record(id(100));
                gone.gone = true;
                batch.append(gone);
                batch.append(record(id(100) + 'x', "new", QString(), reading(-1)));
                last.remove(id(100));
                last.insert(id(100) + 'x', QStringLiteral("t:-1"));
            }
        }
        model.apply(batch);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(model.rowCount(), 200);
        for (int row = 0; row < model.rowCount(); ++row) {
            const QString tid = model.index(row, 0).data(Qt::ToolTipRole).toString();
            QCOMPARE(model.index(row, ThingsStateTableModel::ColState).data().toString(), last.value(tid));
        }

        // The new row was announced by its insertion: the changed ones around it make two runs.
        QTRY_COMPARE(changed.count(), 2);
        QTest::qWait(3 * ThingsStateTableModel::CoalesceMs);
        QCOMPARE(changed.count(), 2);
        const auto run = [&](int i) {
            return qMakePair(changed.at(i).at(0).toModelIndex(), changed.at(i).at(1).toModelIndex());
        };
        QCOMPARE(run(0), qMakePair(model.index(0, 0), model.index(99, 4)));
        QCOMPARE(run(1), qMakePair(model.index(101, 0), model.index(199, 4)));

        // Rows apart are announced apart; a record equal to the row's is no change.
        changed.clear();
        model.apply({record(id(3), id(3)), record(id(4), id(4)), record(id(5), "five"), record(id(4), "four"),
                     record(id(10), "ten"), record(id(3), "three"),
                     record(id(150), id(150), {}, reading(850))});
        QTRY_COMPARE(changed.count(), 2);
        QTest::qWait(3 * ThingsStateTableModel::CoalesceMs);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(run(0), qMakePair(model.index(3, 0), model.index(5, 4)));
        QCOMPARE(run(1), qMakePair(model.index(10, 0), model.index(10, 4)));
        QCOMPARE(column(model, ThingsStateTableModel::ColAlias).mid(3, 3),
                 QStringList({"three", "four", "five"}));
    }

    void columns_data()
    {
        QTest::addColumn<QString>("shortid");
        QTest::addColumn<QString>("regid");
        QTest::addColumn<bool>("gone");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("registered");
        QTest::addColumn<int>("color");
        QTest::newRow("registered") << "thx9_1_A1B2"
                                    << "77" << false << "thx9"
                                    << "A1B2"
                                    << "Yes" << int(QMaterialIcon::Success);
        QTest::newRow("unregistered") << "vgl5_100_Z"
                                      << "" << false << "vgl5"
                                      << "Z"
                                      << "No" << int(QMaterialIcon::Warning);
        QTest::newRow("gone though registered") << "thx9_1_A1B2"
                                                << "77" << true << "thx9"
                                                << "A1B2"
                                                << "Yes" << int(QMaterialIcon::Error);
        QTest::newRow("no serial") << "thx9_1_?"
                                   << "" << false << "thx9"
                                   << "?"
                                   << "No" << int(QMaterialIcon::Warning);
        QTest::newRow("serial holding _") << "thx9_1_AB_CD"
                                          << "" << false << "thx9"
                                          << "AB_CD"
                                          << "No" << int(QMaterialIcon::Warning);
    }
    void columns()
    {
        QFETCH(QString, shortid);
        QFETCH(QString, regid);
        QFETCH(bool, gone);
        QFETCH(QString, type);
        QFETCH(QString, serial);
        QFETCH(QString, registered);
        ThingsStateTableModel model;
        model.update(record(shortid, "alias", regid, R"({"temperature":21.5,"valid":true})", gone));
        const auto cell = [&](int col, int role = Qt::DisplayRole) { return model.index(0, col).data(role); };
        QCOMPARE(cell(ThingsStateTableModel::ColType).toString(), type);
        QCOMPARE(cell(ThingsStateTableModel::ColType, Qt::ToolTipRole).toString(), shortid);
        QCOMPARE(cell(ThingsStateTableModel::ColSerial).toString(), serial);
        QCOMPARE(cell(ThingsStateTableModel::ColAlias).toString(), QStringLiteral("alias"));
        QVERIFY(!cell(ThingsStateTableModel::ColAlias, Qt::EditRole).isValid());
        QCOMPARE(cell(ThingsStateTableModel::ColState).toString(),
                 QStringLiteral("temperature:21.5,valid:true"));
        QCOMPARE(cell(ThingsStateTableModel::ColCloud).toString(), registered);
        QFETCH(int, color);
        QCOMPARE(cell(ThingsStateTableModel::ColCloud, Qt::DecorationRole).value<QColor>(),
                 QMaterialIcon::instance()->color(QMaterialIcon::Color(color)));
        QVERIFY(!cell(ThingsStateTableModel::ColSerial, Qt::DecorationRole).isValid());
    }

    void stateText_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray("{}") << "";
        QTest::newRow("null") << QByteArray(R"({"n":null})") << "n:null";
        QTest::newRow("array") << QByteArray(R"({"list":[1,2]})") << "list:[1,2]";
        QTest::newRow("nested") << QByteArray(R"({"a":{"b":1}})") << "a:b:1";
        QTest::newRow("key order") << QByteArray(R"({"b":false,"B":2,"a":"x"})") << "B:2,a:x,b:false";
        QTest::newRow("%g") << QByteArray(R"({"a":3.0,"b":0.1,"c":1000000,"d":1234567,"e":-0.000012345})")
                            << "a:3,b:0.1,c:1e+06,d:1.23457e+06,e:-1.2345e-05";
        QTest::newRow("unescaped") << QByteArray(R"({"k:1":"a,b","x":[[],{},[{"y":"z"}]]})")
                                   << "k:1:a,b,x:[[],,[y:z]]";
    }
    void stateText()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, text);
        ThingsStateTableModel model;
        model.update(record("t_1_s", QString(), QString(), json));
        QCOMPARE(model.index(0, ThingsStateTableModel::ColState).data().toString(), text);
    }

    void aliasEditAsksForRename()
    {
        ThingsStateTableModel model;
        model.update(record("thx9_1_A", "same"));
        QSignalSpy rename(&model, &ThingsStateTableModel::renameRequested);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        const QModelIndex alias = model.index(0, ThingsStateTableModel::ColAlias);
        QVERIFY(model.flags(alias) & Qt::ItemIsEditable);
        QVERIFY(!(model.flags(model.index(0, ThingsStateTableModel::ColState)) & Qt::ItemIsEditable));

        QVERIFY(!model.setData(alias, "other", Qt::DisplayRole));
        QVERIFY(!model.setData(model.index(0, ThingsStateTableModel::ColType), "other"));
        QCOMPARE(rename.count(), 0);

        QVERIFY(model.setData(alias, "same"));
        QVERIFY(model.setData(alias, "new name"));
        QCOMPARE(rename.count(), 2);
        QCOMPARE(rename.at(0), QVariantList({"thx9_1_A", "same"}));
        QCOMPARE(rename.at(1), QVariantList({"thx9_1_A", "new name"}));
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toModelIndex(), alias);
        QCOMPARE(alias.data().toString(), QStringLiteral("new name"));

        QCOMPARE(model.headerData(ThingsStateTableModel::ColCloud, Qt::Horizontal).toString(),
                 QStringLiteral("Reg. ID"));
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
        QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
        QVERIFY(!model.headerData(5, Qt::Horizontal).isValid());
    }
};

QTEST_MAIN(TestThingsStateTableModel)
#include "test_thingsstatetablemodel.moc"
