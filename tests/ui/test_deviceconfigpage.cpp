#include "appidentity.h"
#include "cxsettings.h"
#include "deviceconfigpage.h"
#include "settingskeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSpinBox>
#include <QTest>
#include <QTranslator>

#include <climits>

namespace {

QJsonObject metadataOf(const QString &relativePath)
{
    QFile file(qEnvironmentVariable("TSL_TEST_SOURCE_DIR") + '/' + relativePath);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing %s", qPrintable(file.fileName()));
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject schema(const QByteArray &settings)
{
    return QJsonObject{{"settings", QJsonDocument::fromJson(settings).array()}};
}

// The grid of a plug-in's group, row by row: object names, "label text" for labels, "" for empty cells.
QStringList grid(const QGroupBox *page, const QString &plugin)
{
    const auto *group = page->findChild<QGroupBox *>(plugin, Qt::FindDirectChildrenOnly);
    if (!group)
        return {"no group"};
    const auto *layout = qobject_cast<QGridLayout *>(group->layout());
    QStringList rows;
    for (int row = 0; row < layout->rowCount(); ++row) {
        QStringList cells;
        for (int col = 0; col < 4; ++col) {
            QLayoutItem *item = layout->itemAtPosition(row, col);
            const QWidget *widget = item ? item->widget() : nullptr;
            if (const auto *label = qobject_cast<const QLabel *>(widget))
                cells.append(label->text());
            else
                cells.append(widget ? widget->objectName() : QString());
        }
        rows.append(cells.join('|'));
    }
    return rows;
}

QStringList directChildren(const QGroupBox *page)
{
    QStringList names;
    for (int i = 0; i < page->layout()->count(); ++i) {
        const QWidget *widget = page->layout()->itemAt(i)->widget();
        names.append(QString(widget->metaObject()->className()) + ':' + widget->objectName());
    }
    return names;
}

class EventCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::User;
        return false;
    }
};

template <typename T> T *setting(const QGroupBox *page, const QString &plugin, const QString &name)
{
    auto *widget = page->findChild<QGroupBox *>(plugin)->findChild<T *>(name);
    if (!widget)
        qFatal("no setting %s/%s", qPrintable(plugin), qPrintable(name));
    return widget;
}

} // namespace

class TestDeviceConfigPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { QSettings().clear(); }

    void layoutFollowsTheSchemas()
    {
        QGroupBox page;
        EventCounter filter;
        DeviceConfigPage builder(&page, &filter);
        QVERIFY(!builder.isBuilt());
        builder.build(CXSettings(), QJsonObject());
        QVERIFY(!builder.isBuilt());

        const QJsonObject plugins{
            {"watchdog", metadataOf("plugins/watchdog/watchdog.json")},
            {"thx9", metadataOf("plugins/thx9/thx9.json")},
            {"plain", QJsonObject{{"name", "plain"}}},
            {"mixed", schema(R"([{"name": "b", "type": "bool"}, {"name": "odd", "type": "colour"},
                                 {"type": "spacer"}, {"name": "s", "type": "string", "descr": "Text"}])")}};
        builder.build(CXSettings(), plugins);
        QVERIFY(builder.isBuilt());
        QCOMPARE(directChildren(&page),
                 QStringList({"QGroupBox:mixed", "QCheckBox:plain", "QGroupBox:thx9", "QGroupBox:watchdog"}));
        QVERIFY(page.findChild<QCheckBox *>("plain")->isChecked());
        QCOMPARE(page.findChild<QCheckBox *>("plain")->text(), QStringLiteral("plain"));

        QCOMPARE(grid(&page, "watchdog"), QStringList({"enabled|enabled|ping|ping", "rst|rst|pwr|pwr"}));
        QCOMPARE(grid(&page, "mixed"), QStringList({"enabled|enabled|b|b", "||Text:|s"}));
        QCOMPARE(grid(&page, "thx9"), QStringList({"enabled|enabled|Temperature Unit:|unit"}));
        QCOMPARE(setting<QCheckBox>(&page, "mixed", "b")->text(), QStringLiteral("b"));
        QCOMPARE(setting<QCheckBox>(&page, "watchdog", "enabled")->text(), QStringLiteral("Enabled"));
        QCOMPARE(setting<QComboBox>(&page, "thx9", "unit")->currentText(), QStringLiteral("Celsius"));
        QCOMPARE(page.findChild<QLabel *>()->alignment(), Qt::AlignRight | Qt::AlignVCenter);

        // Schema defaults, typed, on every setting widget; each has strong focus and the filter.
        const QVariantList defaults = {
            setting<QCheckBox>(&page, "watchdog", "enabled")->property("default_value"),
            setting<QCheckBox>(&page, "watchdog", "ping")->property("default_value"),
            setting<QCheckBox>(&page, "watchdog", "rst")->property("default_value"),
            setting<QComboBox>(&page, "thx9", "unit")->property("default_value"),
            setting<QLineEdit>(&page, "mixed", "s")->property("default_value")};
        QCOMPARE(defaults, QVariantList({true, true, false, "Celsius", ""}));
        QCOMPARE(defaults.at(4).type(), QVariant::String);
        int widgets = 0;
        for (QWidget *widget : page.findChildren<QWidget *>()) {
            if (!widget->property("default_value").isValid())
                continue;
            ++widgets;
            QCOMPARE(widget->focusPolicy(), Qt::StrongFocus);
            QEvent probe(QEvent::User);
            QCoreApplication::sendEvent(widget, &probe);
        }
        QCOMPARE(widgets, 9);
        QCOMPARE(filter.count, widgets);

        // Built once: a later plug-in list only reloads.
        builder.build(CXSettings(), QJsonObject{{"later", QJsonObject()}});
        QVERIFY(!page.findChild<QCheckBox *>("later"));
    }

    void valuesTravelThroughTheStore()
    {
        // The page's double-slash key is the entry the runner reads with one slash.
        QCOMPARE(Key::plugin("tune", "gain"), QStringLiteral("Plugins/tune/gain"));
        QSettings().setValue(Key::plugin("tune", "gain"), 2.5);
        QCOMPARE(QSettings().value("Plugins/tune/gain").toDouble(), 2.5);
        QCOMPARE(QSettings().allKeys(), QStringList({"Plugins/tune/gain"}));
        QSettings().setValue("Plugins/tune/mode", "none of them");

        QGroupBox page;
        DeviceConfigPage builder(&page, nullptr);
        builder.build(CXSettings(), QJsonObject{{"tune", schema(R"([
            {"name": "count", "type": "int", "min": 1, "max": 10, "value": 5},
            {"name": "gain", "type": "float", "max": 10, "value": 1.5},
            {"name": "mode", "type": "list", "values": ["a", "b", "c"], "value": "b"},
            {"name": "label", "type": "string", "value": "x"},
            {"name": "flag", "type": "bool", "value": true}])")}});
        auto *enabled = setting<QCheckBox>(&page, "tune", "enabled");
        auto *count = setting<QSpinBox>(&page, "tune", "count");
        auto *gain = setting<QDoubleSpinBox>(&page, "tune", "gain");
        auto *mode = setting<QComboBox>(&page, "tune", "mode");
        auto *label = setting<QLineEdit>(&page, "tune", "label");
        auto *flag = setting<QCheckBox>(&page, "tune", "flag");
        auto shown = [&] {
            return QVariantList{enabled->isChecked(), count->value(), gain->value(),
                                mode->currentText(),  label->text(),  flag->isChecked()};
        };
        // A stored text that names no choice leaves the first one selected.
        QCOMPARE(shown(), QVariantList({true, 5, 2.5, "a", "x", true}));
        QCOMPARE(count->minimum(), 1);
        QCOMPARE(gain->maximum(), 10.0);

        enabled->setChecked(false);
        count->setValue(7);
        gain->setValue(3.25);
        mode->setCurrentIndex(2);
        label->setText("y");
        flag->setChecked(false);
        {
            CXSettings store;
            builder.store(store);
        }
        QSettings settings;
        settings.beginGroup("Plugins/tune");
        QCOMPARE(settings.allKeys().size(), 6); // nothing but the six widgets' keys
        QCOMPARE(settings.value("enabled").toBool(), false);
        QCOMPARE(settings.value("count").toInt(), 7);
        QCOMPARE(settings.value("gain").toDouble(), 3.25);
        QCOMPARE(settings.value("mode").toString(), QStringLiteral("c"));
        QCOMPARE(settings.value("label").toString(), QStringLiteral("y"));
        QCOMPARE(settings.value("flag").toBool(), false);

        // Revert shows what Apply stored.
        count->setValue(1);
        gain->setValue(9);
        mode->setCurrentIndex(0);
        label->clear();
        flag->setChecked(true);
        enabled->setChecked(true);
        builder.reload(CXSettings());
        QCOMPARE(shown(), QVariantList({false, 7, 3.25, "c", "y", false}));

        // A plug-in's own switch, stored false, unchecks its box.
        QSettings().setValue("Plugins/plain/enabled", false);
        QGroupBox other;
        DeviceConfigPage(&other, nullptr).build(CXSettings(), QJsonObject{{"plain", QJsonObject()}});
        QVERIFY(!other.findChild<QCheckBox *>("plain")->isChecked());
    }

    // In Russian the bundled plug-ins' texts, every one of them, show translated under the plug-in's
    // name; the values stored stay the schema's own.
    void pluginTextsInRussian()
    {
        QTranslator russian;
        QVERIFY(russian.load(":/lang/cx-gate_ru.qm"));
        QCoreApplication::installTranslator(&russian);
        const QJsonObject plugins{{"watchdog", metadataOf("plugins/watchdog/watchdog.json")},
                                  {"thx9", metadataOf("plugins/thx9/thx9.json")}};
        QStringList untranslated;
        for (auto it = plugins.constBegin(); it != plugins.constEnd(); ++it) {
            for (const QJsonValue setting : it.value().toObject().value("settings").toArray()) {
                QJsonArray texts = setting.toObject().value("values").toArray();
                texts.prepend(setting.toObject().value("descr"));
                for (const QJsonValue text : texts) {
                    const QByteArray source = text.toString().toUtf8();
                    if (QCoreApplication::translate(it.key().toUtf8().constData(), source.constData()) ==
                        text.toString())
                        untranslated << it.key() + ": " + text.toString();
                }
            }
        }
        QCOMPARE(untranslated, QStringList());

        QSettings().setValue("Plugins/thx9/unit", "Fahrenheit");
        QGroupBox page;
        DeviceConfigPage builder(&page, nullptr);
        builder.build(CXSettings(), plugins);
        auto *unit = setting<QComboBox>(&page, "thx9", "unit");
        QCOMPARE(grid(&page, "thx9"), QStringList({"enabled|enabled|Единица температуры:|unit"}));
        QCOMPARE(unit->currentText(), QStringLiteral("Фаренгейт"));
        QCOMPARE(setting<QCheckBox>(&page, "watchdog", "rst")->text(),
                 QStringLiteral("Разрешить удалённый сброс"));
        unit->setCurrentIndex(2);
        {
            CXSettings store;
            builder.store(store);
        }
        QCOMPARE(QSettings().value("Plugins/thx9/unit").toString(), QStringLiteral("Kelvin"));
        QCoreApplication::removeTranslator(&russian);
    }

    void badSchemasBuildWhatTheyCan()
    {
        QJsonArray manyValues;
        for (int i = 0; i < 100000; ++i)
            manyValues.append(QString::number(i));
        QJsonArray settings = QJsonDocument::fromJson(R"([
            7,
            {"name": "i", "type": "int", "min": "low", "max": 1e30, "value": 1e40},
            {"name": "f", "type": "float", "min": "x", "value": [1]},
            {"type": "bool", "descr": "nameless"},
            {"name": "s", "type": "string", "value": {"o": 1}}])")
                                  .array();
        settings.insert(2, QJsonObject{{"name", "l"}, {"type", "list"}, {"values", manyValues}});

        QGroupBox page;
        DeviceConfigPage builder(&page, nullptr);
        builder.build(CXSettings(), QJsonObject{{"a", QJsonObject{{"settings", "nope"}}},
                                                {"b", 5},
                                                {"c", QJsonObject{{"settings", settings}}}});
        QCOMPARE(directChildren(&page), QStringList({"QCheckBox:a", "QCheckBox:b", "QGroupBox:c"}));
        QCOMPARE(grid(&page, "c"), QStringList({"enabled|enabled|i:|i", "l:|l|f:|f", "s:|s||"}));
        auto *i = setting<QSpinBox>(&page, "c", "i");
        QCOMPARE(i->minimum(), 0);
        QCOMPARE(i->maximum(), INT_MAX);
        QCOMPARE(i->value(), INT_MAX);
        QCOMPARE(setting<QComboBox>(&page, "c", "l")->count(), DeviceConfigPage::MaxListValues);
        QCOMPARE(setting<QDoubleSpinBox>(&page, "c", "f")->value(), 0.0);
        QCOMPARE(setting<QLineEdit>(&page, "c", "s")->text(), QString());

        // Stored values that do not convert give the type's zero value.
        QSettings().setValue("Plugins/c/i", "many");
        builder.reload(CXSettings());
        QCOMPARE(i->value(), 0);
    }
};

QTEST_MAIN(TestDeviceConfigPage)
#include "test_deviceconfigpage.moc"
