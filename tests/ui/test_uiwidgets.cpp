#include "qautoclosemessagebox.h"
#include "qcolumnfitter.h"
#include "qcountdownlcd.h"
#include "qledlabel.h"
#include "qmaterialicon.h"
#include "qstatuslabel.h"
#include "qtooldock.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

QColor textColor(const QWidget &widget)
{
    return widget.palette().color(QPalette::Active, QPalette::WindowText);
}

// One second of the count-down, without waiting for it.
void tick(QCountDownLCD &lcd)
{
    const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&lcd);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.at(0).interval, 1000);
    QTimerEvent event(timers.at(0).timerId);
    QCoreApplication::sendEvent(&lcd, &event);
}

} // namespace

class TestUiWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QMaterialIcon::instance()->applyTheme(false); }

    // Rows that come widen the column in the next turn; a longer text only on the slow timer.
    void columnFitterWaitsForRowsOrTheSlowTimer()
    {
        QStandardItemModel model(0, 2);
        QTableView view;
        view.setModel(&model);
        view.resize(600, 300);
        view.show();
        QColumnFitter fitter(&view, {0}, 300);
        const int narrow = view.columnWidth(0);
        const int other = view.columnWidth(1);
        model.appendRow({new QStandardItem(QString(40, 'w')), new QStandardItem(QString(40, 'w'))});
        QCOMPARE(view.columnWidth(0), narrow);
        QTRY_VERIFY(view.columnWidth(0) > narrow);
        const int wide = view.columnWidth(0);
        QCOMPARE(view.columnWidth(1), other); // not one it fits

        QElapsedTimer since;
        since.start();
        model.item(0, 0)->setText(QString(60, 'w'));
        QTest::qWait(50);
        QCOMPARE(view.columnWidth(0), wide);
        QTRY_VERIFY(view.columnWidth(0) > wide);
        QVERIFY(since.elapsed() >= 250);
    }

    void statusLabelKeepsItsColour()
    {
        QStatusLabel label;
        label.setText(QStringLiteral("Missing"), Qt::red);
        label.setText(QStringLiteral("Ok"));
        QCOMPARE(label.text(), QStringLiteral("Ok"));
        QCOMPARE(textColor(label), QColor(Qt::red));
        label.setText(QStringLiteral("Ready"), QColor("#4CAF50"));
        QCOMPARE(textColor(label), QColor("#4CAF50"));
        QCOMPARE(label.palette().color(QPalette::Disabled, QPalette::WindowText), QColor("#4CAF50"));
    }

    void ledGlyphFollowsItsParent_data()
    {
        QTest::addColumn<int>("parentHeight");
        QTest::addColumn<int>("side");
        QTest::newRow("status bar of 30") << 30 << 24;
        QTest::newRow("status bar of 20") << 20 << 16;
        QTest::newRow("tall") << 100 << 24;
        QTest::newRow("low") << 8 << 16;
        QTest::newRow("no parent") << 0 << 16;
    }
    void ledGlyphFollowsItsParent()
    {
        QFETCH(int, parentHeight);
        QFETCH(int, side);
        QWidget bar;
        bar.resize(200, parentHeight);
        QLedLabel led(parentHeight ? &bar : nullptr);
        QCOMPARE(led.name(), QStringLiteral("info"));
        led.setName(QStringLiteral("gps_off"));
        led.update();
        QVERIFY(led.pixmap(Qt::ReturnByValue).isNull()); // no colour yet

        led.setColor(QColor("#4CAF50"));
        led.update();
        const QImage off = led.pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(off.size(), QSize(side, side));
        QCOMPARE(off,
                 QMaterialIcon::instance()->icon("gps_off", QColor("#4CAF50")).pixmap(side, side).toImage());
        led.setName(QStringLiteral("gps_fixed"));
        QVERIFY(led.pixmap(Qt::ReturnByValue).toImage() != off);
    }

    void countDownColoursAndEnd()
    {
        QMaterialIcon *icons = QMaterialIcon::instance();
        QCountDownLCD lcd;
        QSignalSpy timeout(&lcd, &QCountDownLCD::timeout);
        lcd.start(20);
        QCOMPARE(lcd.intValue(), 20);
        QCOMPARE(textColor(lcd), icons->color(QMaterialIcon::Success));
        for (int expected = 19; expected >= 16; --expected) {
            tick(lcd);
            QCOMPARE(lcd.intValue(), expected);
            QCOMPARE(textColor(lcd), icons->color(QMaterialIcon::Success));
        }
        tick(lcd);
        QCOMPARE(lcd.intValue(), 15);
        QCOMPARE(textColor(lcd), icons->color(QMaterialIcon::Warning));

        lcd.start(2);
        QCOMPARE(lcd.intValue(), 2);
        QCOMPARE(textColor(lcd), icons->color(QMaterialIcon::Success));
        tick(lcd);
        tick(lcd);
        QCOMPARE(lcd.intValue(), 0);
        QCOMPARE(timeout.count(), 1);
        // The count ends at 0: no timer left to count below it.
        QVERIFY(!lcd.isCounting());
        QVERIFY(QAbstractEventDispatcher::instance()->registeredTimers(&lcd).isEmpty());

        lcd.start(5);
        lcd.stop();
        QVERIFY(!lcd.isCounting());
        QCOMPARE(textColor(lcd), QApplication::palette().color(QPalette::Active, QPalette::WindowText));
        QCOMPARE(timeout.count(), 1);
    }

    void toolDockPlacement()
    {
        QWidget host;
        host.resize(640, 500);
        QToolDock dock(&host);
        QSignalSpy clicked(&dock, &QToolDock::clicked);
        for (int id : {3, 7})
            dock.addAction(id, QMaterialIcon::instance()->icon("sync"), QStringLiteral("Act"),
                           QStringLiteral("Tip"));
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QVERIFY(dock.isVisible());
        QCOMPARE(dock.iconSize(), 32);
        dock.buttons().at(1)->click();
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 7);
        QCOMPARE(dock.buttons().at(1)->property("iaction").toInt(), 7);

        for (QToolDock::Side side : {QToolDock::Left, QToolDock::Top, QToolDock::Right, QToolDock::Bottom}) {
            dock.setSide(side);
            const bool vertical = side == QToolDock::Left || side == QToolDock::Right;
            for (QEvent::Type type : {QEvent::Enter, QEvent::Leave}) {
                QEvent event(type);
                QCoreApplication::sendEvent(&dock, &event);
                const QRect g = dock.geometry();
                const QByteArray where =
                    QByteArray::number(side) + (type == QEvent::Enter ? " expanded" : " collapsed");
                // At its edge of the host, centred along it.
                if (side == QToolDock::Left)
                    QVERIFY2(g.left() == 0, where);
                if (side == QToolDock::Right)
                    QVERIFY2(g.right() == host.width() - 1, where);
                if (side == QToolDock::Top)
                    QVERIFY2(g.top() == 0, where);
                if (side == QToolDock::Bottom)
                    QVERIFY2(g.bottom() == host.height() - 1, where);
                const int offCentre =
                    vertical ? g.center().y() - host.height() / 2 : g.center().x() - host.width() / 2;
                QVERIFY2(qAbs(offCentre) <= 1, where);
                const int depth = vertical ? g.width() : g.height();
                if (type == QEvent::Leave) {
                    QVERIFY2(depth == QToolDock::CollapsedExtent, where);
                    QVERIFY2(dock.mask() == QRegion(dock.rect()), where);
                } else {
                    QVERIFY2(depth > 30, where);
                    // The corners facing away from the host edge are cut, the ones at the edge are not.
                    const QRect r = dock.rect();
                    const QPoint awayCorner = side == QToolDock::Left  ? r.topRight()
                                              : side == QToolDock::Top ? r.bottomLeft()
                                                                       : r.topLeft();
                    const QPoint edgeCorner = side == QToolDock::Right    ? r.topRight()
                                              : side == QToolDock::Bottom ? r.bottomLeft()
                                                                          : r.topLeft();
                    QVERIFY2(!dock.mask().contains(awayCorner), where);
                    QVERIFY2(dock.mask().contains(edgeCorner), where);
                }
            }
        }

        // The icon size switches below and above 400 pixels of host height; exactly 400 keeps it.
        for (const auto &step :
             {std::pair(400, 32), std::pair(399, 24), std::pair(400, 24), std::pair(401, 32)}) {
            host.resize(640, step.first);
            QCOMPARE(dock.iconSize(), step.second);
            QCOMPARE(dock.buttons().at(0)->iconSize(), QSize(step.second, step.second));
        }
        // The host's resize moves the dock along.
        host.resize(300, 700);
        QCOMPARE(dock.geometry().bottom(), 699);
    }

    void messageBoxCountsDown()
    {
        QAutoCloseMessageBox box(QMessageBox::Information, QStringLiteral("T"), QStringLiteral("Text"),
                                 QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        QSignalSpy changed(&box, &QAutoCloseMessageBox::timeoutChanged);
        box.setTimeout(3);
        QCOMPARE(changed.count(), 1);
        QSignalSpy finished(&box, &QDialog::finished);
        QPushButton *ok = box.defaultButton();
        const QString plain = ok->text();
        box.show();
        for (int left : {3, 2, 1}) {
            QCOMPARE(ok->text(), plain + QStringLiteral(" (%1)").arg(left));
            QMetaObject::invokeMethod(&box, "d_timeout");
        }
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(QMessageBox::Ok));
        QCOMPARE(ok->text(), plain);

        QAutoCloseMessageBox still(QMessageBox::Warning, QStringLiteral("T"), QStringLiteral("Text"),
                                   QMessageBox::Ok);
        still.setDefaultButton(QMessageBox::Ok);
        still.show();
        QMetaObject::invokeMethod(&still, "d_timeout");
        QCOMPARE(still.defaultButton()->text(), plain);
        QVERIFY(still.isVisible());
    }

    void staticBoxClosesByItself()
    {
        QWidget parent;
        parent.setWindowTitle(QStringLiteral("Parent title"));
        QString title;
        QString okText;
        // Looks at the running box, and ends it should it not close by itself.
        QTimer::singleShot(100, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                okText = box->defaultButton() ? box->defaultButton()->text() : QString();
            }
        });
        QTimer::singleShot(15000, this, [] {
            if (QWidget *box = QApplication::activeModalWidget())
                box->close();
        });
        const auto result = QAutoCloseMessageBox::information(1, &parent, QString(), QStringLiteral("Text"),
                                                              QMessageBox::Ok | QMessageBox::Help);
        QCOMPARE(result, QMessageBox::Ok);
        QCOMPARE(title, QStringLiteral("Parent title"));
        QVERIFY2(okText.endsWith(QStringLiteral(" (1)")), qPrintable(okText));
    }
};

QTEST_MAIN(TestUiWidgets)
#include "test_uiwidgets.moc"
