// Pictures of the generated pages on a real X display, for the documentation:
//   uiscreenshots <source dir> <output dir>   (run under xvfb-run with QT_QPA_PLATFORM=xcb)
// writes devices.png (the device configuration page of the shipped plug-ins) and registry.png.
#include "appidentity.h"
#include "cxsettings.h"
#include "deviceconfigpage.h"
#include "qmaterialicon.h"
#include "regthingseditor.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScrollArea>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>

#include <cstdio>

namespace {

QString s_out;
bool s_ok = true;

void shoot(QWidget *widget, const QString &name)
{
    widget->show();
    QTest::qWait(300);
    const QString file = s_out + QLatin1Char('/') + name;
    if (!widget->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        s_ok = false;
    }
    widget->hide();
}

QJsonObject metadataOf(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: uiscreenshots <source dir> <output dir>\n");
        return 2;
    }
    setApplicationIdentity();
    QSettings().clear();
    QMaterialIcon::instance()->applyTheme(false);
    const QString source = QString::fromLocal8Bit(argv[1]);
    s_out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(s_out);

    {
        QScrollArea page;
        page.setWidgetResizable(true);
        page.resize(640, 360);
        auto *contents = new QWidget;
        auto *layout = new QVBoxLayout(contents);
        auto *group = new QGroupBox(QStringLiteral("Device types:"), contents);
        layout->addWidget(group);
        layout->addStretch();
        page.setWidget(contents);
        QSettings().setValue(QStringLiteral("Plugins/watchdog/rst"), true);
        DeviceConfigPage(group, nullptr)
            .build(CXSettings(),
                   QJsonObject{{QStringLiteral("thx9"),
                                metadataOf(source + QStringLiteral("/plugins/thx9/thx9.json"))},
                               {QStringLiteral("watchdog"),
                                metadataOf(source + QStringLiteral("/plugins/watchdog/watchdog.json"))}});
        shoot(&page, QStringLiteral("devices.png"));
    }

    {
        QJsonArray devices;
        const char *const rows[][4] = {{"gateway", "200", "1001", "Office"},
                                       {"thx9", "100", "S1", "Boiler room"},
                                       {"thx9", "100", "S2", "Server rack"},
                                       {"watchdog", "100", "W1", "Router watchdog"}};
        for (const auto &row : rows)
            devices.append(QJsonObject{{QStringLiteral("type"), QLatin1String(row[0])},
                                       {QStringLiteral("version"), QLatin1String(row[1])},
                                       {QStringLiteral("serial"), QLatin1String(row[2])},
                                       {QStringLiteral("alias"), QLatin1String(row[3])}});
        CXSettings().setPool(QJsonObject{{QStringLiteral("devices"), devices}});
        RegThingsEditor editor;
        editor.resize(640, 300);
        editor.sync();
        editor.view()->selectRow(2);
        shoot(&editor, QStringLiteral("registry.png"));
    }
    return s_ok ? 0 : 1;
}
