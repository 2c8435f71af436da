#include "qfonticonengine.h"
#include "qmaterialicon.h"

#include <QAction>
#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QTest>
#include <QToolButton>

namespace {

const QSize Size(24, 24);

// The glyph drawn straight into a pixmap the way an icon of Size should look.
QImage reference(QChar glyph, const QColor &color)
{
    QPixmap pixmap(Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont font(QStringLiteral("Material Icons"));
    font.setPixelSize(19); // 0.8 × 24
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(QPoint(0, 0), Size), Qt::AlignCenter, QString(glyph));
    painter.end();
    return pixmap.toImage();
}

bool hasInk(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return true;
    return false;
}

} // namespace

class TestQMaterialIcon : public QObject
{
    Q_OBJECT

private slots:
    void init() { QMaterialIcon::instance()->applyTheme(false); }

    void fontHoldsEveryGlyphTheWindowUses()
    {
        QMaterialIcon *icons = QMaterialIcon::instance();
        QVERIFY(icons->fontId() >= 0);
        QCOMPARE(icons->families().value(0), QStringLiteral("Material Icons"));
        QFont font(icons->families().value(0));
        font.setPixelSize(24);
        const QFontMetrics metrics(font);
        for (const char *name : {"dashboard", "cloud", "sync", "device_hub", "settings", "inventory",
                                 "gps_off", "gps_fixed", "gps_not_fixed", "info"}) {
            bool found = false;
            const QChar glyph = icons->codePoint(QLatin1String(name), &found);
            QVERIFY2(found, name);
            QVERIFY2(metrics.inFont(glyph), name);
        }
        QCOMPARE(icons->codePoint(QStringLiteral("dashboard")).unicode(), ushort(0xE871));
        bool found = true;
        QCOMPARE(icons->codePoint(QStringLiteral("no_such_glyph"), &found).unicode(), ushort(0));
        QVERIFY(!found);
    }

    void paintsGlyphs_data()
    {
        const QPalette palette = QApplication::palette("QWidget");
        QTest::addColumn<QString>("nameOn");
        QTest::addColumn<QString>("nameOff");
        QTest::addColumn<QColor>("builtWith");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("state");
        QTest::addColumn<ushort>("glyph");
        QTest::addColumn<QColor>("color");
        const QColor red(Qt::red);
        QTest::newRow("dashboard") << "dashboard"
                                   << "dashboard" << red << int(QIcon::Normal) << int(QIcon::Off)
                                   << ushort(0xE871) << red;
        QTest::newRow("unknown name")
            << "no_such_glyph"
            << "no_such_glyph" << red << int(QIcon::Normal) << int(QIcon::Off) << ushort(0) << red;
        QTest::newRow("base colour") << "cloud"
                                     << "cloud" << QColor() << int(QIcon::Active) << int(QIcon::Off)
                                     << ushort(0xE2BD) << QColor(Qt::black);
        QTest::newRow("disabled") << "cloud"
                                  << "cloud" << red << int(QIcon::Disabled) << int(QIcon::On)
                                  << ushort(0xE2BD)
                                  << palette.color(QPalette::Disabled, QPalette::ButtonText);
        QTest::newRow("selected") << "cloud"
                                  << "cloud" << red << int(QIcon::Selected) << int(QIcon::Off)
                                  << ushort(0xE2BD) << palette.color(QPalette::Active, QPalette::ButtonText);
        QTest::newRow("on") << "gps_fixed"
                            << "gps_off" << red << int(QIcon::Normal) << int(QIcon::On) << ushort(0xE1B3)
                            << QColor("#4CAF50");
        QTest::newRow("off") << "gps_fixed"
                             << "gps_off" << red << int(QIcon::Active) << int(QIcon::Off) << ushort(0xE1B5)
                             << red;
    }
    void paintsGlyphs()
    {
        QFETCH(QString, nameOn);
        QFETCH(QString, nameOff);
        QFETCH(QColor, builtWith);
        QFETCH(int, mode);
        QFETCH(int, state);
        QFETCH(ushort, glyph);
        QFETCH(QColor, color);
        const QIcon icon = QMaterialIcon::instance()->icon(nameOn, nameOff, builtWith);
        QVERIFY(!icon.isNull());
        // Icons keep the colours of the theme they were built in.
        QMaterialIcon::instance()->applyTheme(true);
        const QImage image = icon.pixmap(Size, QIcon::Mode(mode), QIcon::State(state)).toImage();
        QCOMPARE(image.size(), Size);
        QCOMPARE(image, reference(QChar(glyph), color));
        if (glyph)
            QVERIFY(hasInk(image));
        QCOMPARE(QIcon(icon).pixmap(Size, QIcon::Mode(mode), QIcon::State(state)).toImage(), image);
    }

    void engineWithoutColourUsesThePalette()
    {
        QFontIconEngine engine;
        engine.setFamily(QStringLiteral("Material Icons"));
        engine.setGlyph(QChar(0xE871), QIcon::Off);
        const QScopedPointer<QIconEngine> copy(engine.clone());
        const QColor text = QApplication::palette("QWidget").color(QPalette::Active, QPalette::ButtonText);
        QCOMPARE(copy->pixmap(Size, QIcon::Normal, QIcon::Off).toImage(), reference(QChar(0xE871), text));
        QVERIFY(engine.pixmap(QSize(0, 0), QIcon::Normal, QIcon::Off).isNull());
        QCOMPARE(QFontIconEngine::glyphPixelSize(30), 24);
        QCOMPARE(QFontIconEngine::glyphPixelSize(1), 1);
    }

    void setsIconsOfActionsAndButtons()
    {
        QAction action(nullptr);
        QToolButton button;
        QMaterialIcon::instance()->setIcon(&action, QStringLiteral("dashboard"), QColor(Qt::red));
        QMaterialIcon::instance()->setIcon(&button, QStringLiteral("gps_fixed"), QStringLiteral("gps_off"));
        QCOMPARE(action.icon().pixmap(Size).toImage(), reference(QChar(0xE871), Qt::red));
        QCOMPARE(button.icon().pixmap(Size, QIcon::Normal, QIcon::Off).toImage(),
                 reference(QChar(0xE1B5), Qt::black));
        // A disabled action draws in the palette's disabled colour whatever it was built with.
        action.setEnabled(false);
        QCOMPARE(action.icon().pixmap(Size, QIcon::Disabled).toImage(),
                 reference(QChar(0xE871),
                           QApplication::palette("QWidget").color(QPalette::Disabled, QPalette::ButtonText)));
    }

    void themes()
    {
        QMaterialIcon *icons = QMaterialIcon::instance();
        icons->applyTheme(true);
        QCOMPARE(icons->base(), QColor(Qt::white));
        QCOMPARE(icons->color(QMaterialIcon::Checked), QColor("#A5D6A7"));
        QCOMPARE(icons->color(QMaterialIcon::Warning), QColor("#FF9800"));
        QCOMPARE(icons->color(QMaterialIcon::Error), QColor("#F44336"));
        icons->applyTheme(false);
        QCOMPARE(icons->base(), QColor(Qt::black));
        QCOMPARE(icons->color(QMaterialIcon::Success), QColor("#4CAF50"));
        QCOMPARE(icons->color(QMaterialIcon::Warning), QColor("#FFCC80"));
        QCOMPARE(icons->color(QMaterialIcon::Error), QColor("#EF9A9A"));
        icons->setProperty("base", QColor(Qt::blue));
        QCOMPARE(icons->icon(QStringLiteral("info")).pixmap(Size).toImage(),
                 reference(QChar(0xE88E), Qt::blue));
    }
};

QTEST_MAIN(TestQMaterialIcon)
#include "test_qmaterialicon.moc"
