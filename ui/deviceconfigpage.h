#pragma once

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>

class CXSettings;
class QGroupBox;
class QObject;

// The device configuration page: generated from the plug-ins' settings schemas into a group box,
// one widget per setting, each bound to the key "Plugins/<plug-in>/<setting>" (Key::plugin). A plug-in
// without settings is a single check box, its on/off switch; any other gets a group box with "Enabled" and
// its settings two per row.
class DeviceConfigPage
{
    Q_DECLARE_TR_FUNCTIONS(DeviceConfigPage)

public:
    // wheelFilter is installed on every setting widget (the window, which keeps the mouse wheel from
    // changing values while the page scrolls); it may be null.
    DeviceConfigPage(QGroupBox *group, QObject *wheelFilter) : m_group(group), m_filter(wheelFilter) {}

    // Builds the page from a plug-in list (name -> metadata) the first time it gets a non-empty one;
    // once built, and for an empty list, it only reloads the values.
    void build(const CXSettings &store, const QJsonObject &plugins) const;
    // Every widget from its key, the schema default standing in for an absent key.
    void reload(const CXSettings &store) const;
    // Every widget into its key.
    void store(CXSettings &store) const;

    bool isBuilt() const;

    // A "list" setting offers at most this many choices; the rest of a longer list is left out.
    static constexpr int MaxListValues = 1000;

private:
    void addPlugin(const QString &name, const QJsonObject &metadata) const;

    QGroupBox *m_group;
    QObject *m_filter;
};
