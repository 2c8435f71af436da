// Renders a window with the dashboard model in a table, an LED in every role colour, the
// navigation icons and the small widgets on a real X display, and writes it as a PNG.
//   uisnapshot <file.png>   (run under xvfb-run with QT_QPA_PLATFORM=xcb)
#include "qcountdownlcd.h"
#include "qledlabel.h"
#include "qmaterialicon.h"
#include "qstatuslabel.h"
#include "thingsstatetablemodel.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>

namespace {

ThingState thing(const char *shortid, const char *name, const char *regid, const char *state)
{
    ThingState s;
    s.shortid = QString::fromLatin1(shortid);
    s.name = QString::fromLatin1(name);
    s.regid = QString::fromLatin1(regid);
    s.state = QJsonDocument::fromJson(state).object();
    return s;
}

QWidget *ledRow(QWidget *parent)
{
    auto *row = new QWidget(parent);
    row->setFixedHeight(30);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const QMetaEnum roles = QMetaEnum::fromType<QMaterialIcon::Color>();
    for (int i = 0; i < roles.keyCount(); ++i) {
        auto *led = new QLedLabel(row);
        led->setName(QStringLiteral("gps_fixed"));
        led->setColor(QMaterialIcon::instance()->color(QMaterialIcon::Color(roles.value(i))));
        led->setToolTip(QString::fromLatin1(roles.key(i)));
        led->update();
        layout->addWidget(led);
        layout->addWidget(new QLabel(QString::fromLatin1(roles.key(i)), row));
    }
    layout->addStretch();
    return row;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: uisnapshot <file.png>\n");
        return 2;
    }
    QMaterialIcon::instance()->applyTheme(false);

    QWidget window;
    window.setWindowTitle(QStringLiteral("TSL-Gate widgets"));
    auto *layout = new QVBoxLayout(&window);

    auto *icons = new QHBoxLayout;
    for (const char *name : {"dashboard", "cloud", "sync", "device_hub", "settings", "inventory"}) {
        auto *button = new QToolButton(&window);
        QMaterialIcon::instance()->setIcon(button, QString::fromLatin1(name));
        button->setIconSize(QSize(32, 32));
        button->setText(QString::fromLatin1(name));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        icons->addWidget(button);
    }
    icons->addStretch();
    layout->addLayout(icons);

    ThingsStateTableModel model;
    model.reset({thing("vgl5_100_WD0001", "watchdog", "", R"({"state":"armed","timeout":120})"),
                 thing("thx9_1_28FF6A", "porch", "41", R"({"temperature":21.5,"valid":true})")});
    model.update(thing("gateway_2_9C5A", "gateway", "12", R"({"uptime":1234567,"things":[1,2]})"));
    ThingState gone = thing("thx9_1_28AA01", "cellar", "42", R"({"temperature":-3.25,"valid":false})");
    gone.gone = true;
    model.update(gone);
    auto *table = new QTableView(&window);
    table->setModel(&model);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setSectionResizeMode(ThingsStateTableModel::ColState, QHeaderView::Stretch);
    layout->addWidget(table);

    layout->addWidget(ledRow(&window));

    auto *status = new QHBoxLayout;
    auto *label = new QStatusLabel(&window);
    label->setText(QStringLiteral("Connected"), QMaterialIcon::instance()->color(QMaterialIcon::Success));
    auto *lcd = new QCountDownLCD(&window);
    lcd->setDigitCount(3);
    lcd->setFixedSize(90, 40);
    lcd->start(14);
    status->addWidget(label);
    status->addStretch();
    status->addWidget(lcd);
    layout->addLayout(status);

    window.resize(760, 420);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "uisnapshot: window not exposed\n");
        return 1;
    }
    QTest::qWait(200);
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "uisnapshot: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("uisnapshot: %s (%dx%d, platform %s)\n", argv[1], shot.width(), shot.height(),
                qPrintable(QGuiApplication::platformName()));
    return 0;
}
