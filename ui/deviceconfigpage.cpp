#include "deviceconfigpage.h"

#include "settingskeys.h"

#include "cxsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include <climits>

namespace {

constexpr char DefaultProperty[] = "default_value";
constexpr int GridColumns = 4;

// A schema number as an int; anything that is no number gives the fallback, numbers beyond the
// range of int are clamped.
int intOf(const QJsonValue &value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    if (number <= double(INT_MIN))
        return INT_MIN;
    if (number >= double(INT_MAX))
        return INT_MAX;
    return int(number);
}

// A schema value as text: strings as they are, numbers and booleans written out, anything else empty.
QString textOf(const QJsonValue &value)
{
    if (value.isArray() || value.isObject())
        return QString();
    return value.toVariant().toString();
}

// Widgets made for settings carry their schema default; the parts of composite widgets (the text
// field inside a spin box) do not, and are never bound to a key.
bool isSettingWidget(const QObject *object)
{
    return object->property(DefaultProperty).isValid();
}

template <typename T> QList<T *> settingWidgets(const QGroupBox *group)
{
    QList<T *> widgets;
    const QList<T *> all = group->findChildren<T *>();
    for (T *widget : all) {
        if (isSettingWidget(widget))
            widgets.append(widget);
    }
    return widgets;
}

} // namespace

bool DeviceConfigPage::isBuilt() const
{
    return m_group->layout() != nullptr;
}

void DeviceConfigPage::build(const CXSettings &store, const QJsonObject &plugins) const
{
    if (!isBuilt() && !plugins.isEmpty()) {
        new QVBoxLayout(m_group);
        for (auto it = plugins.constBegin(); it != plugins.constEnd(); ++it)
            addPlugin(it.key(), it.value().toObject());
    }
    reload(store);
}

void DeviceConfigPage::addPlugin(const QString &name, const QJsonObject &metadata) const
{
    auto *column = static_cast<QVBoxLayout *>(m_group->layout());
    const QJsonArray settings = metadata.value(QLatin1String("settings")).toArray();
    if (settings.isEmpty()) {
        auto *box = new QCheckBox(name, m_group);
        box->setObjectName(name);
        column->addWidget(box);
        return;
    }

    // The plug-in's texts are translated under its name; the values stored stay as the schema has them.
    const QByteArray context = name.toUtf8();
    auto translated = [&context](const QString &text) {
        return QCoreApplication::translate(context.constData(), text.toUtf8().constData());
    };

    auto *group = new QGroupBox(name, m_group);
    group->setObjectName(name);
    // Named by its own title, not by the page's group around it.
    group->setAccessibleName(name);
    auto *grid = new QGridLayout(group);
    auto prepare = [this](QWidget *widget, const QString &objectName, const QVariant &fallback) {
        widget->setObjectName(objectName);
        widget->setProperty(DefaultProperty, fallback);
        widget->setFocusPolicy(Qt::StrongFocus);
        if (m_filter)
            widget->installEventFilter(m_filter);
    };
    auto *enabled = new QCheckBox(tr("Enabled"), group);
    // Every plug-in has one: the name tells them apart.
    enabled->setAccessibleName(tr("%1 enabled").arg(name));
    prepare(enabled, QLatin1String(Key::PluginEnabled), true);
    grid->addWidget(enabled, 0, 0, 1, 2);

    // Cells are counted four to a row; "Enabled" takes the first two.
    int n = 2;
    for (const QJsonValue &entry : settings) {
        const QJsonObject setting = entry.toObject();
        const QString type = setting.value(QLatin1String("type")).toString();
        const QString settingName = setting.value(QLatin1String("name")).toString();
        const QJsonValue descr = setting.value(QLatin1String("descr"));
        const QString label = descr.isString() ? translated(descr.toString()) : settingName;
        const QJsonValue value = setting.value(QLatin1String("value"));

        if (type == QLatin1String("spacer")) {
            n += 2;
            continue;
        }
        // Without a name a setting has no key to live in.
        if (settingName.isEmpty())
            continue;

        QWidget *widget = nullptr;
        if (type == QLatin1String("bool")) {
            auto *box = new QCheckBox(label, group);
            prepare(box, settingName, value.toBool(false));
            grid->addWidget(box, n / GridColumns, n % GridColumns, 1, 2);
            n += 2;
            continue;
        } else if (type == QLatin1String("int")) {
            auto *spin = new QSpinBox(group);
            spin->setRange(intOf(setting.value(QLatin1String("min")), 0),
                           intOf(setting.value(QLatin1String("max")), 100));
            prepare(spin, settingName, intOf(value, 0));
            widget = spin;
        } else if (type == QLatin1String("float")) {
            auto *spin = new QDoubleSpinBox(group);
            spin->setRange(setting.value(QLatin1String("min")).toDouble(0.0),
                           setting.value(QLatin1String("max")).toDouble(100.0));
            prepare(spin, settingName, value.toDouble(0.0));
            widget = spin;
        } else if (type == QLatin1String("list")) {
            auto *combo = new QComboBox(group);
            const QJsonArray values = setting.value(QLatin1String("values")).toArray();
            for (int i = 0; i < values.size() && i < MaxListValues; ++i) {
                const QString item = textOf(values.at(i));
                combo->addItem(translated(item), item);
            }
            prepare(combo, settingName, textOf(value));
            widget = combo;
        } else if (type == QLatin1String("string")) {
            auto *edit = new QLineEdit(group);
            prepare(edit, settingName, textOf(value));
            widget = edit;
        } else {
            continue;
        }
        auto *caption = new QLabel(label + QLatin1Char(':'), group);
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        caption->setBuddy(widget);
        grid->addWidget(caption, n / GridColumns, n % GridColumns);
        grid->addWidget(widget, (n + 1) / GridColumns, (n + 1) % GridColumns);
        n += 2;
    }
    column->addWidget(group);
}

void DeviceConfigPage::reload(const CXSettings &store) const
{
    const auto switches = m_group->findChildren<QCheckBox *>(QString(), Qt::FindDirectChildrenOnly);
    for (QCheckBox *box : switches)
        box->setChecked(store
                            .value(Key::plugin(box->objectName(), QLatin1String(Key::PluginEnabled)),
                                   Key::PluginEnabledByDefault)
                            .toBool());

    const auto groups = m_group->findChildren<QGroupBox *>(QString(), Qt::FindDirectChildrenOnly);
    for (const QGroupBox *group : groups) {
        auto stored = [&](const QWidget *widget) {
            return store.value(Key::plugin(group->objectName(), widget->objectName()),
                               widget->property(DefaultProperty));
        };
        for (QCheckBox *box : settingWidgets<QCheckBox>(group))
            box->setChecked(stored(box).toBool());
        for (QSpinBox *spin : settingWidgets<QSpinBox>(group))
            spin->setValue(stored(spin).toInt());
        for (QDoubleSpinBox *spin : settingWidgets<QDoubleSpinBox>(group))
            spin->setValue(stored(spin).toDouble());
        for (QComboBox *combo : settingWidgets<QComboBox>(group)) {
            // A value that matches no choice leaves the selection as it is.
            const int index = combo->findData(stored(combo).toString());
            if (index >= 0)
                combo->setCurrentIndex(index);
        }
        for (QLineEdit *edit : settingWidgets<QLineEdit>(group))
            edit->setText(stored(edit).toString());
    }
}

void DeviceConfigPage::store(CXSettings &store) const
{
    const auto switches = m_group->findChildren<QCheckBox *>(QString(), Qt::FindDirectChildrenOnly);
    for (const QCheckBox *box : switches)
        store.setValue(Key::plugin(box->objectName(), QLatin1String(Key::PluginEnabled)), box->isChecked());

    const auto groups = m_group->findChildren<QGroupBox *>(QString(), Qt::FindDirectChildrenOnly);
    for (const QGroupBox *group : groups) {
        auto put = [&](const QWidget *widget, const QVariant &value) {
            store.setValue(Key::plugin(group->objectName(), widget->objectName()), value);
        };
        for (const QCheckBox *box : settingWidgets<QCheckBox>(group))
            put(box, box->isChecked());
        for (const QSpinBox *spin : settingWidgets<QSpinBox>(group))
            put(spin, spin->value());
        for (const QDoubleSpinBox *spin : settingWidgets<QDoubleSpinBox>(group))
            put(spin, spin->value());
        for (const QComboBox *combo : settingWidgets<QComboBox>(group))
            put(combo, combo->currentData().toString());
        for (const QLineEdit *edit : settingWidgets<QLineEdit>(group))
            put(edit, edit->text());
    }
}
