#include "appidentity.h"
#include "cxsettings.h"
#include "devicepool.h"
#include "regthingseditor.h"
#include "runnerhost.h"
#include "thingsregtablemodel.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

QJsonObject entry(const QString &serial, const QString &alias)
{
    return QJsonObject{{"type", "thx9"}, {"version", "100"},      {"serial", serial},
                       {"alias", alias}, {"regid", "r" + serial}, {"extra", 7}};
}

void storePool(const QByteArray &json)
{
    QSettings().setValue("Devices/Pool", QString::fromLatin1(json));
}

QStringList column(const QAbstractItemModel &model, int col)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values.append(model.index(row, col).data().toString());
    return values;
}

// A registry editor whose runner has no plug-ins: the gateway thing alone.
struct EditorOnRunner
{
    QTemporaryDir noPlugins;
    RunnerHost host{noPlugins.path() + "/bin"};
    RegThingsEditor editor;
    EditorOnRunner()
    {
        host.start();
        editor.attach(&host);
    }
};

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { QSettings().clear(); }

    void modelShowsThePoolInPoolOrder()
    {
        ThingsRegTableModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.load(QJsonDocument::fromJson(R"({"devices": [
            {"type": "vgl5", "version": "100", "serial": "W1", "alias": "dog"},
            42,
            {"type": "thx9", "version": 100, "alias": ["x"]},
            {"type": "thx9", "version": "100", "serial": "S1", "alias": "probe"}]})")
                       .object());
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
        QCOMPARE(model.columnCount(model.index(0, 0)), 0);
        QCOMPARE(column(model, ThingsRegTableModel::ColType), QStringList({"vgl5", "thx9", "thx9"}));
        // Missing and non-string members are empty.
        QCOMPARE(column(model, ThingsRegTableModel::ColVersion), QStringList({"100", "", "100"}));
        QCOMPARE(column(model, ThingsRegTableModel::ColSerial), QStringList({"W1", "", "S1"}));
        QCOMPARE(column(model, ThingsRegTableModel::ColAlias), QStringList({"dog", "", "probe"}));
        QCOMPARE(model.index(0, 0).data(Qt::EditRole), QVariant());
        QStringList headers;
        for (int col = 0; col < 4; ++col)
            headers.append(model.headerData(col, Qt::Horizontal).toString());
        QCOMPARE(headers, QStringList({"Type", "Version", "Serial", "Alias"}));
        QCOMPARE(model.headerData(0, Qt::Vertical), QVariant());
        QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::ToolTipRole), QVariant());

        QVERIFY(!model.removeRows(0, 0));
        QVERIFY(!model.removeRows(3, 1));
        QVERIFY(!model.removeRows(-1, 1));
        QVERIFY(model.removeRows(1, 5));
        QCOMPARE(column(model, ThingsRegTableModel::ColSerial), QStringList({"W1"}));

        // Loading again replaces, and a pool without devices empties the table.
        model.load(QJsonObject{{"devices", QJsonArray{entry("A", "a")}}});
        QCOMPARE(column(model, ThingsRegTableModel::ColSerial), QStringList({"A"}));
        model.load(QJsonObject{{"devices", "not an array"}});
        QCOMPARE(model.rowCount(), 0);
    }

    void forgetRemovesTheSelectedRowsAndSavesOnce()
    {
        QJsonArray devices;
        for (int i = 0; i < 5; ++i)
            devices.append(entry(QString::number(i), QString("alias%1").arg(i)));
        storePool(QJsonDocument(QJsonObject{{"devices", devices}, {"updated", "old"}})
                      .toJson(QJsonDocument::Compact));

        // The runner alone writes the pool: the editor asks it to forget.
        EditorOnRunner fixture;
        RegThingsEditor &editor = fixture.editor;
        QSignalSpy modified(&editor, &RegThingsEditor::modified);
        auto *forget = editor.findChild<QPushButton *>("forgetButton");
        QVERIFY(forget);
        QCOMPARE(forget->text(), QStringLiteral("Forget Selected"));
        editor.sync();
        QCOMPARE(editor.model()->rowCount(), 5);

        // Nothing selected: nothing saved, nothing reported.
        forget->click();
        QCOMPARE(modified.count(), 0);
        QCOMPARE(DevicePool::read().value("updated").toString(), QStringLiteral("old"));

        QTableView *view = editor.findChild<QTableView *>("thingsView");
        QCOMPARE(view, editor.view());
        view->selectRow(3);
        view->selectionModel()->select(editor.model()->index(1, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QString before = QDateTime::currentDateTime().toString("yyyy.MM.dd hh:mm:ss");
        forget->click();
        QTRY_COMPARE(modified.count(), 1);

        const QJsonObject pool = DevicePool::read();
        const QJsonArray kept = pool.value("devices").toArray();
        QCOMPARE(kept, QJsonArray({entry("0", "alias0"), entry("2", "alias2"), entry("4", "alias4")}));
        QVERIFY(pool.value("updated").toString() >= before);
        QCOMPARE(column(*editor.model(), ThingsRegTableModel::ColSerial), QStringList({"0", "2", "4"}));
        // The pool is written as compact JSON text.
        QVERIFY(!QSettings().value("Devices/Pool").toString().contains('\n'));
    }

    // The runner saves the pool (a rename) while the registry forgets an entry, a hundred times:
    // neither change is lost, since both are the runner's, one after the other.
    void forgetWhileTheRunnerSavesLosesNothing()
    {
        QJsonArray devices;
        for (int i = 0; i < 100; ++i)
            devices.append(entry(QString::number(i), QString("alias%1").arg(i)));
        storePool(QJsonDocument(QJsonObject{{"devices", devices}}).toJson(QJsonDocument::Compact));
        EditorOnRunner fixture;
        RegThingsEditor &editor = fixture.editor;
        QSignalSpy modified(&editor, &RegThingsEditor::modified);
        auto *forget = editor.findChild<QPushButton *>("forgetButton");
        for (int round = 0; round < 100; ++round) {
            editor.sync();
            editor.view()->selectRow(0);
            fixture.host.call(&CxgatewRunner::renameThing, QStringLiteral("gateway_200_?"),
                              QString("Gate %1").arg(round));
            forget->click();
            QTRY_COMPARE(modified.count(), round + 1);
            const QList<PoolEntry> pool = DevicePool::entries();
            QCOMPARE(pool.size(), 100 - round); // the 99 - round devices left and the gateway
            QCOMPARE(pool.constLast().alias, QString("Gate %1").arg(round));
            if (round < 99)
                QCOMPARE(pool.constFirst().serial, QString::number(round + 1));
        }
    }

    void unparsablePoolShowsAnEmptyRegistry()
    {
        RegThingsEditor editor;
        storePool(R"({"devices": [{"type": "thx9"}]})");
        editor.sync();
        QCOMPARE(editor.model()->rowCount(), 1);
        storePool(R"({"devices": [{"type": "thx9"})");
        editor.sync();
        QCOMPARE(editor.model()->rowCount(), 0);
    }
};

QTEST_MAIN(TestRegistry)
#include "test_registry.moc"
